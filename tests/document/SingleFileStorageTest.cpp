#include "document/SingleFileStorage.h"
#include "platform/TextCodec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <linux/capability.h>
#include <malloc.h>
#include <map>
#include <random>
#include <tuple>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/Dialogs.h"
#include "platform/Exceptions.h"
#include "platform/SysUtils.h"
#include "tests/common/TestSupport.h"
#include "tools/ArchiveCheck.h"

using namespace document;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes Pattern(size_t n, uint32_t seed) {
  Bytes v(n);
  std::mt19937 rng(seed);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

std::string Str(const Bytes& b) { return std::string(b.begin(), b.end()); }

int64_t Le(const Bytes& b, size_t at, int width) {
  uint64_t v = 0;
  for (int i = width - 1; i >= 0; --i) v = (v << 8) | b.at(at + i);
  return width == 4 ? static_cast<int32_t>(v) : static_cast<int64_t>(v);
}

void PutLe(Bytes& b, size_t at, int64_t v, int width) {
  for (int i = 0; i < width; ++i) b.at(at + i) = static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * i));
}

int32_t Write(TSingleStorage& s, const std::string& name, const Bytes& data) {
  platform::TStringStream src(Str(data));
  return s.WriteStream(&src, name);
}

Bytes Read(TSingleStorage& s, const std::string& name) {
  platform::TStringStream dst;
  s.ReadStream(name, &dst);
  return Bytes(dst.DataString().begin(), dst.DataString().end());
}

template <typename Fn>
void ExpectMessage(Fn fn, const std::string& message) {
  try {
    fn();
    ADD_FAILURE() << "no exception, expected \"" << message << "\"";
  } catch (const platform::Exception& e) {
    EXPECT_EQ(e.Message, message);
  }
}

// Checks an open archive against the expected streams, in order.
void ExpectStreams(TSingleStorage& s, const std::vector<std::pair<std::string, Bytes>>& expected) {
  ASSERT_EQ(s.Count(), static_cast<int32_t>(expected.size()));
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(s.Items(static_cast<int32_t>(i))->Name(), expected[i].first);
    EXPECT_EQ(Read(s, expected[i].first), expected[i].second) << expected[i].first;
  }
}

// Root ignores file permissions; without CAP_DAC_OVERRIDE in this thread's effective set a
// mode 0444 file is really read-only to it.
class DacOverrideDropped {
 public:
  DacOverrideDropped() {
    FHeader.version = _LINUX_CAPABILITY_VERSION_3;
    FHeader.pid = 0;
    FHave = syscall(SYS_capget, &FHeader, FSaved) == 0;
    if (!FHave) return;
    __user_cap_data_struct dropped[2] = {FSaved[0], FSaved[1]};
    dropped[0].effective &= ~(1u << CAP_DAC_OVERRIDE);
    FHave = syscall(SYS_capset, &FHeader, dropped) == 0;
  }
  ~DacOverrideDropped() {
    if (FHave) syscall(SYS_capset, &FHeader, FSaved);
  }

 private:
  __user_cap_header_struct FHeader{};
  __user_cap_data_struct FSaved[2]{};
  bool FHave = false;
};

struct FileState {
  Bytes bytes;
  timespec mtime;
};

FileState State(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0);
  return {kdtest::ReadFileBytes(path), st.st_mtim};
}

// Moves the modification time into the past so that any write would show.
void AgeFile(const std::string& path) {
  timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

void ExpectUnchanged(const FileState& before, const std::string& path) {
  const FileState after = State(path);
  EXPECT_EQ(after.bytes, before.bytes);
  EXPECT_EQ(after.mtime.tv_sec, before.mtime.tv_sec);
  EXPECT_EQ(after.mtime.tv_nsec, before.mtime.tv_nsec);
}

std::unique_ptr<TMemoryStream64> MemoryFile(const Bytes& bytes) {
  auto m = std::make_unique<TMemoryStream64>();
  if (!bytes.empty()) m->WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  return m;
}

// Has the independent Python reader check the archive file against the expected streams.
void PythonVerify(const std::string& path, const std::vector<std::pair<std::string, Bytes>>& expected) {
  static const bool havePython = std::system("python3 -c pass >/dev/null 2>&1") == 0;
  if (!havePython) return;
  const std::string dir = kdtest::TempDir();
  std::string manifest;
  for (size_t i = 0; i < expected.size(); ++i) {
    const std::string file = dir + "/" + std::to_string(i) + ".bin";
    kdtest::WriteFileBytes(file, expected[i].second);
    static const char* hex = "0123456789abcdef";
    for (unsigned char c : expected[i].first) manifest += {hex[c >> 4], hex[c & 15]};
    manifest += "\t" + file + "\n";
  }
  const Bytes text(manifest.begin(), manifest.end());
  kdtest::WriteFileBytes(dir + "/manifest.txt", text);
  const std::string cmd = "python3 " + kdtest::SourcePath("tests/document/archive_reader.py") + " verify " + path +
                          " " + dir + "/manifest.txt";
  EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
}

}  // namespace

TEST(SingleFileStorage, EmptyFileAndFirstStreamLayout) {
  const std::string path = kdtest::TempDir() + "/doc.hsf";
  kdtest::WriteFileBytes(path, {});
  const Bytes data = Pattern(300, 1);
  {
    TSingleStorage s;
    s.SetFileName(path);
    EXPECT_EQ(s.FileName(), path);
    EXPECT_EQ(s.Count(), 0);
    EXPECT_FALSE(s.ReadOnly());
    EXPECT_EQ(kdtest::ReadFileBytes(path), (Bytes{'S', 'T', 'O', 'R', 1, 0}));
    EXPECT_EQ(Write(s, "Index.xml", data), 0);
  }
  const Bytes file = kdtest::ReadFileBytes(path);
  ASSERT_EQ(file.size(), 1038u + data.size());
  EXPECT_EQ(Str(Bytes(file.begin(), file.begin() + 6)), std::string("STOR\1\0", 6));
  EXPECT_EQ(Le(file, 6, 8), 14);
  EXPECT_EQ(Le(file, 14, 4), 1);
  EXPECT_EQ(Le(file, 18, 8), 1038);
  EXPECT_EQ(Le(file, 26, 8), 300);
  EXPECT_EQ(Le(file, 34, 4), 9);
  EXPECT_EQ(Str(Bytes(file.begin() + 38, file.begin() + 47)), "Index.xml");
  for (size_t i = 47; i < 1038; ++i) ASSERT_EQ(file[i], 0) << i;
  EXPECT_EQ(Bytes(file.begin() + 1038, file.end()), data);

  // A missing file is created; a zero-size stream takes no extent.
  TSingleStorage s;
  s.SetFileName(path);
  EXPECT_EQ(s.DirectoryOffset(), 14);
  EXPECT_EQ(s.DirectoryCapacity(), 1024);
  EXPECT_EQ(Read(s, "Index.xml"), data);
  EXPECT_EQ(Write(s, "Empty", {}), 1);
  EXPECT_EQ(s.Items(1)->Offset(), 0);
  EXPECT_EQ(s.Items(1)->StoredSize(), 0);
  EXPECT_TRUE(Read(s, "Empty").empty());
  EXPECT_EQ(s.FreeSpace(), 0);
  const std::string fresh = kdtest::TempDir() + "/new.hsf";
  TSingleStorage n;
  n.SetFileName(fresh);
  EXPECT_EQ(kdtest::ReadFileBytes(fresh), (Bytes{'S', 'T', 'O', 'R', 1, 0}));
}

TEST(SingleFileStorage, ReadStreamKeepsDestinationPosition) {
  TSingleStorage s;
  s.SetStream(MemoryFile({}));
  Write(s, "a", Pattern(10, 2));
  platform::TStringStream dst("xyz");
  dst.SetPosition(2);
  s.ReadStream("a", &dst);
  EXPECT_EQ(dst.GetPosition(), 2);
  EXPECT_EQ(dst.DataString(), "xy" + Str(Pattern(10, 2)));
  s.ReadStream("missing", &dst);
  EXPECT_EQ(dst.DataString().size(), 12u);
  EXPECT_EQ(dst.GetPosition(), 2);
}

TEST(SingleFileStorage, OverwriteModes) {
  TSingleStorage s;
  s.SetStream(MemoryFile({}));
  const Bytes oldData = Pattern(100, 3), newData = Pattern(100, 4);
  ASSERT_EQ(Write(s, "A", oldData), 0);
  Write(s, "B", Pattern(10, 5));

  // Mode 0 writes the new bytes to free space while the old stream still holds its extent,
  // then drops the old entry: its extent becomes free space.
  s.SetOverwriteMode(0);
  EXPECT_EQ(Write(s, "A", newData), 1);
  EXPECT_EQ(s.Items(1)->Offset(), 1148);
  EXPECT_EQ(s.FreeSpace(), 100);
  ExpectStreams(s, {{"B", Pattern(10, 5)}, {"A", newData}});

  // Mode 1 asks; No keeps the old stream, Yes replaces it.
  s.SetOverwriteMode(1);
  std::string asked;
  bool answer = false;
  s.AskOverwrite = [&](const std::string& text) {
    asked = text;
    return answer;
  };
  EXPECT_EQ(Write(s, "A", oldData), -1);
  EXPECT_EQ(asked, "Warning: stream \"A\" is about to be overwritten.\rProceed?");
  EXPECT_EQ(Read(s, "A"), newData);
  answer = true;
  EXPECT_EQ(Write(s, "A", oldData), 1);
  EXPECT_EQ(Read(s, "A"), oldData);
  // By default a warning box asks, with No as its default button: headless, that is the
  // answer and nothing is lost.
  TSingleStorage d;
  d.SetStream(MemoryFile({}));
  Write(d, "A", oldData);
  EXPECT_EQ(Write(d, "A", newData), -1);
  EXPECT_EQ(Read(d, "A"), oldData);
  platform::TMessageRequest request;
  platform::TMessageHandler previous = platform::SetMessageHandler([&](const platform::TMessageRequest& r) {
    request = r;
    return platform::mrYes;
  });
  EXPECT_EQ(Write(d, "A", newData), 0);
  platform::SetMessageHandler(previous);
  EXPECT_EQ(request.Text, "Warning: stream \"A\" is about to be overwritten.\rProceed?");
  EXPECT_EQ(request.DlgType, platform::mtWarning);
  EXPECT_EQ(request.Buttons.Bits(), (platform::TMsgDlgButtons{platform::mbYes, platform::mbNo}).Bits());
  EXPECT_EQ(request.DefaultButton, platform::mbNo);
  EXPECT_EQ(Read(d, "A"), newData);

  // Mode 2 asks the event; unassigned means no.
  s.SetOverwriteMode(2);
  EXPECT_EQ(Write(s, "A", newData), -1);
  std::string eventName;
  s.OnOverwrite = [&](platform::TObject* sender, const std::string& name, bool& overwrite) {
    EXPECT_EQ(sender, &s);
    EXPECT_FALSE(overwrite);
    eventName = name;
    overwrite = true;
  };
  EXPECT_EQ(Write(s, "A", newData), 1);
  EXPECT_EQ(eventName, "A");
  EXPECT_EQ(Read(s, "A"), newData);

  // Mode 3 refuses; nameless streams are refused in every mode.
  s.SetOverwriteMode(3);
  ExpectMessage([&] { Write(s, "A", oldData); }, "Cannot overwrite stream \"A\"");
  EXPECT_EQ(Read(s, "A"), newData);
  ExpectMessage([&] { Write(s, "", oldData); }, "Stream Add Error: stream must have a name");
  EXPECT_EQ(s.Count(), 2);
}

TEST(SingleFileStorage, NamesAreCaseSensitiveAndRename) {
  TSingleStorage s;
  s.SetStream(MemoryFile({}));
  s.SetOverwriteMode(3);
  Write(s, "Page0001.xml", Pattern(5, 1));
  Write(s, "page0001.xml", Pattern(6, 2));
  Write(s, "PAGE0001.XML", Pattern(7, 3));
  EXPECT_EQ(s.Count(), 3);
  EXPECT_EQ(Read(s, "page0001.xml"), Pattern(6, 2));
  EXPECT_FALSE(s.StreamExists("Page0001.XML"));
  int changes = 0;
  s.OnChange = [&](platform::TObject*) { ++changes; };
  s.RenameStream("page0001.xml", "Page0002.xml");
  EXPECT_EQ(changes, 1);
  ExpectMessage([&] { s.RenameStream("Page0002.xml", "Page0001.xml"); }, "Cannot overwrite stream \"Page0001.xml\"");
  s.RenameStream("nothing", "other");
  s.DeleteStream("PAGE0001.XML");
  s.DeleteStream("nothing");
  ExpectStreams(s, {{"Page0001.xml", Pattern(5, 1)}, {"Page0002.xml", Pattern(6, 2)}});
  // Names outside ASCII are stored in windows-1252 and come back unchanged.
  const std::string name = "caf\xC3\xA9 \xE2\x82\xAC";
  Write(s, name, Pattern(3, 4));
  auto copy = std::make_unique<TMemoryStream64>();
  copy->CopyFrom64(s.Stream(), 0);
  const std::string raw(static_cast<const char*>(copy->Memory()), static_cast<size_t>(copy->DataSize()));
  EXPECT_NE(raw.find(std::string("\x06\0\0\0caf\xE9 \x80", 10)), std::string::npos);
  TSingleStorage r;
  r.SetStream(std::move(copy));
  EXPECT_EQ(Read(r, name), Pattern(3, 4));
}

TEST(SingleFileStorage, FlushRelocatesAndGapsAreReused) {
  const std::string path = kdtest::TempDir() + "/r.hsf";
  const Bytes a = Pattern(100, 1), b = Pattern(100, 2), grown = Pattern(300, 3), c = Pattern(50, 4);
  {
    TSingleStorage s;
    s.SetFileName(path);
    Write(s, "A", a);
    Write(s, "B", b);
    TStoreStream* e = s.Find("A");
    // Seeking to the end without a cache gives the stored size and loads nothing.
    EXPECT_EQ(e->Seek(0, platform::soFromEnd), 100);
    EXPECT_FALSE(e->Cached());
    e->SetPosition(0);
    e->WriteBuffer(grown.data(), 300);
    EXPECT_TRUE(e->Modified());
    EXPECT_EQ(s.TotalSize(), 400);
    s.Flush();
    EXPECT_FALSE(e->Cached());
    // No gap holds 300 bytes: the new extent goes to the end, the old one is free.
    EXPECT_EQ(e->Offset(), 1238);
    EXPECT_EQ(s.FreeSpace(), 100);
    Write(s, "C", c);
    EXPECT_EQ(s.Find("C")->Offset(), 1038);
    EXPECT_EQ(s.FreeSpace(), 50);
  }
  TSingleStorage s;
  s.SetFileName(path);
  ExpectStreams(s, {{"A", grown}, {"B", b}, {"C", c}});
  EXPECT_EQ(kdtest::ReadFileBytes(path).size(), 1538u);
}

TEST(SingleFileStorage, DirectoryGrowsAndMoves) {
  TSingleStorage s;
  s.SetStream(MemoryFile({}));
  std::vector<std::pair<std::string, Bytes>> expected;
  // 60 entries of 40-byte names need more than 1024 bytes of directory.
  for (int i = 0; i < 60; ++i) {
    std::string name = "Stream-with-a-rather-long-name-number-" + std::to_string(100 + i);
    expected.emplace_back(name, Pattern(static_cast<size_t>(i * 7), static_cast<uint32_t>(i)));
    Write(s, name, expected.back().second);
  }
  EXPECT_EQ(s.DirectoryCapacity(), 4096);
  EXPECT_GT(s.DirectoryOffset(), 14);
  // The first directory area at 14 became free space.
  EXPECT_GE(s.FreeSpace(), 1024);
  s.Compact();
  EXPECT_EQ(s.FreeSpace(), 0);
  auto file = std::make_unique<TMemoryStream64>();
  s.Stream()->SetPosition(0);
  file->CopyFrom64(s.Stream(), 0);
  TSingleStorage r;
  r.SetStream(std::move(file));
  ExpectStreams(r, expected);
  EXPECT_EQ(r.DirectoryCapacity(), 4096);
}

TEST(SingleFileStorage, CompactClosesGapsAndTruncates) {
  const std::string path = kdtest::TempDir() + "/c.hsf";
  std::vector<std::pair<std::string, Bytes>> kept;
  {
    TSingleStorage s;
    s.SetFileName(path);
    for (int i = 0; i < 12; ++i) Write(s, "S" + std::to_string(i), Pattern(1000 + 97 * i, i));
    for (int i = 0; i < 12; i += 2) s.DeleteStream("S" + std::to_string(i));
    for (int i = 1; i < 12; i += 2) kept.emplace_back("S" + std::to_string(i), Pattern(1000 + 97 * i, i));
    const int64_t total = s.TotalSize();
    EXPECT_GT(s.FreeSpace(), 0);
    std::vector<float> percents;
    s.OnProgress = [&](platform::TObject*, int32_t kind, const std::string&, float p) {
      EXPECT_EQ(kind, opCompact);
      percents.push_back(p);
    };
    s.Compact();
    EXPECT_FALSE(percents.empty());
    for (size_t i = 1; i < percents.size(); ++i) EXPECT_GE(percents[i], percents[i - 1]);
    EXPECT_LE(percents.back(), 100.0f);
    EXPECT_EQ(s.FreeSpace(), 0);
    EXPECT_EQ(s.Stream()->GetSize(), 14 + 1024 + total);
  }
  {
    // Already compact: nothing moves, bytes after the last extent are cut off.
    auto bytes = kdtest::ReadFileBytes(path);
    const Bytes compact = bytes;
    bytes.insert(bytes.end(), 500, 0xEE);
    kdtest::WriteFileBytes(path, bytes);
    TSingleStorage s;
    s.SetFileName(path);
    ExpectStreams(s, kept);
    s.Compact();
    s.SetFileName("");
    EXPECT_EQ(kdtest::ReadFileBytes(path), compact);
  }
}

TEST(SingleFileStorage, AbortedCompactLeavesValidArchive) {
  const std::string path = kdtest::TempDir() + "/a.hsf";
  std::vector<std::pair<std::string, Bytes>> kept;
  int64_t sizeBefore = 0;
  {
    TSingleStorage s;
    s.SetFileName(path);
    for (int i = 0; i < 10; ++i) Write(s, "S" + std::to_string(i), Pattern(20000 + i, i));
    for (int i = 0; i < 10; i += 3) s.DeleteStream("S" + std::to_string(i));
    for (int i = 0; i < 10; ++i)
      if (i % 3) kept.emplace_back("S" + std::to_string(i), Pattern(20000 + i, i));
    sizeBefore = s.Stream()->GetSize();
    int moved = 0;
    s.OnProgress = [&](platform::TObject* sender, int32_t, const std::string& name, float) {
      if (name == "S2" && ++moved == 1) static_cast<TSingleStorage*>(sender)->Abort();
    };
    s.Compact();
    EXPECT_GT(s.FreeSpace(), 0);
    // S1 stays, S2 moved down over S0's old place, and nothing after it moved.
    EXPECT_EQ(s.Find("S2")->Offset(), 1038 + 20001);
    EXPECT_EQ(s.Stream()->GetSize(), sizeBefore);
  }
  {
    TSingleStorage s;
    s.SetFileName(path);
    ExpectStreams(s, kept);
    EXPECT_EQ(s.Find("S2")->Offset(), 1038 + 20001);
    s.Compact();
    EXPECT_EQ(s.FreeSpace(), 0);
  }
  TSingleStorage s;
  s.SetFileName(path);
  ExpectStreams(s, kept);
  EXPECT_LT(s.Stream()->GetSize(), sizeBefore);
}

TEST(SingleFileStorage, CacheTrimming) {
  TSingleStorage s;
  s.SetStream(MemoryFile({}));
  const size_t mb4 = 4 << 20;
  for (int i = 0; i < 3; ++i) Write(s, "S" + std::to_string(i), Pattern(mb4, i));
  uint8_t b;
  s.Find("S0")->ReadBuffer(&b, 1);
  s.Find("S1")->ReadBuffer(&b, 1);
  EXPECT_TRUE(s.Find("S0")->Cached());
  // Change S0 in its cache: the eviction must write it back, not lose it.
  s.Find("S0")->SetPosition(0);
  const uint8_t marker[4] = {1, 2, 3, 4};
  s.Find("S0")->WriteBuffer(marker, 4);
  s.Find("S1")->ReadBuffer(&b, 1);
  // 12 MB cached passes 10 MB: the least recently stamped (S0) goes.
  s.Find("S2")->ReadBuffer(&b, 1);
  EXPECT_FALSE(s.Find("S0")->Cached());
  EXPECT_TRUE(s.Find("S1")->Cached());
  EXPECT_TRUE(s.Find("S2")->Cached());
  Bytes expected0 = Pattern(mb4, 0);
  std::copy(marker, marker + 4, expected0.begin());
  EXPECT_EQ(Read(s, "S0"), expected0);

  // At least one cache always stays, however small the limit.
  s.Flush();
  s.SetCacheLimit(10);
  s.Find("S1")->ReadBuffer(&b, 1);
  EXPECT_TRUE(s.Find("S1")->Cached());
  s.Find("S2")->ReadBuffer(&b, 1);
  EXPECT_FALSE(s.Find("S1")->Cached());
  EXPECT_TRUE(s.Find("S2")->Cached());
  // Adding a stream trims too.
  s.SetCacheLimit(0xA00000);
  s.Find("S1")->ReadBuffer(&b, 1);
  EXPECT_TRUE(s.Find("S1")->Cached());
  EXPECT_TRUE(s.Find("S2")->Cached());
  s.SetCacheLimit(5 << 20);
  Write(s, "S3", Pattern(10, 9));
  EXPECT_FALSE(s.Find("S2")->Cached());
  EXPECT_TRUE(s.Find("S1")->Cached());

  // The position holds across loading and dropping the cache: seeking to the end and writing on append.
  const std::string path = kdtest::TempDir() + "/position.hsf";
  const Bytes first = Pattern(800, 21), second = Pattern(100, 22), other = Pattern(900, 23);
  {
    auto a = std::make_unique<TSingleStorage>();
    a->SetFileName(path);
    Write(*a, "abc", {'a', 'b', 'c'});
    Write(*a, "W", {});
    Write(*a, "R", other);
  }
  {
    auto a = std::make_unique<TSingleStorage>();
    a->SetFileName(path);
    a->SetCacheLimit(1000);
    TStoreStream* abc = a->Find("abc");
    ASSERT_FALSE(abc->Cached());
    EXPECT_EQ(abc->Seek(0, platform::soFromEnd), 3);
    abc->WriteBuffer("XYZ", 3);
    TStoreStream* w = a->Find("W");
    w->WriteBuffer(first.data(), 800);
    a->Find("R")->ReadBuffer(&b, 1);  // 800 + 900 cached: the writer is flushed and dropped
    EXPECT_FALSE(w->Cached());
    EXPECT_EQ(w->GetPosition(), 800);
    w->WriteBuffer(second.data(), 100);
  }
  TSingleStorage back;
  back.SetFileName(path);
  Bytes whole = first;
  whole.insert(whole.end(), second.begin(), second.end());
  ExpectStreams(back, {{"abc", {'a', 'b', 'c', 'X', 'Y', 'Z'}}, {"W", whole}, {"R", other}});
}

// A random sequence of operations, reopening the archive from its file after every one and
// comparing it with a model.
TEST(SingleFileStorage, ReopenAfterEveryOperation) {
  const std::string path = kdtest::TempDir() + "/model.hsf";
  std::vector<std::pair<std::string, Bytes>> model;
  auto find = [&](const std::string& name) {
    for (size_t i = 0; i < model.size(); ++i)
      if (model[i].first == name) return static_cast<int>(i);
    return -1;
  };
  std::mt19937 rng(1234);
  auto storage = std::make_unique<TSingleStorage>();
  storage->SetOverwriteMode(0);
  storage->SetFileName(path);
  for (int step = 0; step < 300; ++step) {
    const std::string name = "N" + std::to_string(rng() % 12);
    const int op = static_cast<int>(rng() % 7);
    const size_t size = rng() % 3 == 0 ? 0 : rng() % 5000;
    const Bytes data = Pattern(size, rng());
    switch (op) {
      case 0:
      case 1: {
        Write(*storage, name, data);
        const int i = find(name);
        if (i >= 0) model.erase(model.begin() + i);
        model.emplace_back(name, data);
        break;
      }
      case 2:
        storage->DeleteStream(name);
        if (find(name) >= 0) model.erase(model.begin() + find(name));
        break;
      case 3: {
        const std::string other = "N" + std::to_string(rng() % 12);
        if (find(name) >= 0 && find(other) < 0) {
          storage->RenameStream(name, other);
          model[static_cast<size_t>(find(name))].first = other;
        }
        break;
      }
      case 4:
        if (TStoreStream* e = storage->Find(name)) {
          // Rewrite part of the stream through its cache; flushed by closing the archive.
          const int64_t at = e->GetSize() ? static_cast<int64_t>(rng() % e->GetSize()) : 0;
          e->SetPosition(at);
          e->WriteBuffer(data.data(), static_cast<int32_t>(data.size()));
          Bytes& m = model[static_cast<size_t>(find(name))].second;
          if (m.size() < at + data.size()) m.resize(at + data.size());
          std::copy(data.begin(), data.end(), m.begin() + at);
        }
        break;
      case 5:
        storage->Compact();
        break;
      case 6:
        if (TStoreStream* e = storage->Find(name)) {
          const int64_t newSize = static_cast<int64_t>(rng() % 3000);
          e->SetSize(newSize);
          model[static_cast<size_t>(find(name))].second.resize(static_cast<size_t>(newSize));
        }
        break;
    }
    storage.reset();
    storage = std::make_unique<TSingleStorage>();
    storage->SetOverwriteMode(0);
    storage->SetFileName(path);
    ExpectStreams(*storage, model);
    if (step % 50 == 49) PythonVerify(path, model);
    if (HasFailure()) FAIL() << "step " << step << " op " << op;
  }
}

TEST(SingleFileStorage, AssignAndSaveToStream) {
  TSingleStorage s;
  s.SetStream(MemoryFile({}));
  std::vector<std::pair<std::string, Bytes>> expected;
  for (int i = 0; i < 5; ++i) {
    expected.emplace_back("X" + std::to_string(i), Pattern(static_cast<size_t>(i * 500), i));
    Write(s, expected.back().first, expected.back().second);
  }
  s.DeleteStream("X2");
  expected.erase(expected.begin() + 2);
  // A modified cache is copied as it stands.
  s.Find("X1")->SetSize(3);
  expected[1].second.resize(3);
  const std::string path = kdtest::TempDir() + "/copy.hsf";
  kdtest::WriteFileBytes(path, Bytes(100, 'x'));  // replaced whatever it held
  s.SaveToStream(std::make_unique<TFileStream64>(path, platform::fmOpenReadWrite));
  TSingleStorage r;
  r.SetFileName(path);
  ExpectStreams(r, expected);
  EXPECT_EQ(r.FreeSpace(), 0);

  TSingleStorage t;
  t.SetStream(MemoryFile({}));
  Write(t, "old", Pattern(10, 1));
  t.Assign(&r);
  ExpectStreams(t, expected);
}

TEST(SingleFileStorage, ProgressReports) {
  TSingleStorage s;
  s.SetStream(MemoryFile({}));
  std::vector<std::tuple<int32_t, std::string, float>> reports;
  s.OnProgress = [&](platform::TObject*, int32_t kind, const std::string& name, float p) {
    reports.emplace_back(kind, name, p);
  };
  Write(s, "big", Pattern(0x80000 + 10, 1));
  ASSERT_EQ(reports.size(), 3u);
  EXPECT_EQ(reports[0], std::make_tuple(opWriteStream, std::string("big"), 0.0f));
  EXPECT_EQ(std::get<0>(reports[2]), opWriteStream);
  EXPECT_FLOAT_EQ(std::get<2>(reports[2]), 100.0f);
  reports.clear();
  uint8_t b;
  s.Find("big")->ReadBuffer(&b, 1);
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(std::get<0>(reports.front()), opLoadCache);
  const std::string out = kdtest::TempDir() + "/big.bin";
  reports.clear();
  s.Find("big")->SaveToFile(out);
  EXPECT_EQ(std::get<0>(reports.back()), opSaveToFile);
  EXPECT_EQ(kdtest::ReadFileBytes(out), Pattern(0x80000 + 10, 1));
  s.Find("big")->WriteBuffer(&b, 1);
  reports.clear();
  s.Flush();
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(std::get<0>(reports.front()), opFlushStream);
}

TEST(SingleFileStorage, ReadOnlyAndUnchangedArchivesAreNeverWritten) {
  const std::string path = kdtest::TempDir() + "/ro.hsf";
  {
    TSingleStorage s;
    s.SetFileName(path);
    Write(s, "Index.xml", Pattern(5000, 1));
    Write(s, "Page0001.xml", Pattern(7000, 2));
    Write(s, "Empty", {});
  }
  AgeFile(path);
  const FileState before = State(path);
  {
    // Reading everything from a writable file changes nothing, not even the time stamp.
    TSingleStorage s;
    s.SetFileName(path);
    EXPECT_FALSE(s.ReadOnly());
    EXPECT_EQ(Read(s, "Index.xml"), Pattern(5000, 1));
    uint8_t b;
    s.Find("Page0001.xml")->ReadBuffer(&b, 1);
    s.Flush();
    s.Compact();  // already compact
  }
  ExpectUnchanged(before, path);

  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  {
    DacOverrideDropped dropped;
    TSingleStorage s;
    s.SetFileName(path);
    EXPECT_TRUE(s.ReadOnly());
    EXPECT_EQ(Read(s, "Page0001.xml"), Pattern(7000, 2));
    // Every way to change an archive is refused before anything changes, in memory or file.
    const std::pair<const char*, std::function<void()>> writes[] = {
        {"WriteStream", [&] { Write(s, "new", Pattern(3, 3)); }},
        {"AddStream", [&] { s.AddStream(std::make_unique<TStoreStream>("new")); }},
        {"DeleteStream", [&] { s.DeleteStream("Index.xml"); }},
        {"RenameStream", [&] { s.RenameStream("Index.xml", "x"); }},
        {"entry SetName", [&] { s.Find("Index.xml")->SetName("x"); }},
        {"entry Write", [&] { s.Find("Index.xml")->WriteBuffer("x", 1); }},
        {"entry SetSize", [&] { s.Find("Index.xml")->SetSize(1); }},
        {"entry Clear", [&] { s.Find("Index.xml")->Clear(); }},
        {"entry LoadFromStream", [&] {
           platform::TStringStream src("abc");
           s.Find("Index.xml")->LoadFromStream(&src);
         }},
        {"entry Assign", [&] { s.Find("Empty")->Assign(s.Find("Index.xml")); }},
        {"BeginTransaction", [&] { s.BeginTransaction(); }},
        {"Compact", [&] { s.Compact(); }},
        {"CompactByCopy", [&] { s.CompactByCopy(); }},
        {"Assign", [&] {
           TSingleStorage other;
           other.SetStream(MemoryFile({}));
           s.Assign(&other);
         }},
        {"ReplaceFile", [&] { s.ReplaceFile(path + ".moved"); }},
        {"Allocate", [&] { s.Allocate(10); }},
        {"WriteDirectory", [&] { s.WriteDirectory(); }},
    };
    for (const auto& [road, write] : writes) {
      SCOPED_TRACE(road);
      ExpectMessage(write, "Stream write error");
      s.Flush();
      ExpectStreams(s, {{"Index.xml", Pattern(5000, 1)}, {"Page0001.xml", Pattern(7000, 2)}, {"Empty", {}}});
    }
  }
  ExpectUnchanged(before, path);
  ::chmod(path.c_str(), 0644);
}

// Opened for reading alone, as the program opens its content files: an empty, short or
// truncated file is refused with the archive's own error, a sound one reads, and none of them
// is written to, not by opening, reading, flushing or closing.
TEST(SingleFileStorage, OpenedForReadingAloneNothingIsWritten) {
  const std::string dir = kdtest::TempDir();
  const std::string good = dir + "/good-view.hsf";
  {
    TSingleStorage s;
    s.SetFileName(good);
    Write(s, "Index.xml", Pattern(300, 1));
    Write(s, "Page0001.xml", Pattern(700, 2));
  }
  const Bytes whole = kdtest::ReadFileBytes(good);
  const struct {
    const char* Name;
    size_t Length;
    const char* Error;
  } cases[] = {
      {"empty", 0, "Not a valid storage"},
      {"short", 4, "Not a valid storage"},
      {"directory cut", 20, "Corrupted archive"},
      {"streams cut", whole.size() - 100, "Corrupted archive"},
      {"sound", whole.size(), ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string path = dir + "/view-" + c.Name + ".hsf";
    kdtest::WriteFileBytes(path, Bytes(whole.begin(), whole.begin() + static_cast<long>(c.Length)));
    AgeFile(path);
    const FileState before = State(path);
    if (*c.Error) {
      TSingleStorage s;
      s.SetOpenReadOnly(true);
      ExpectMessage([&] { s.SetFileName(path); }, c.Error);
      EXPECT_EQ(s.Stream(), nullptr);
    } else {
      TSingleStorage s;
      s.SetOpenReadOnly(true);
      s.SetFileName(path);
      EXPECT_TRUE(s.ReadOnly());
      ExpectStreams(s, {{"Index.xml", Pattern(300, 1)}, {"Page0001.xml", Pattern(700, 2)}});
      uint8_t b;
      s.Find("Page0001.xml")->ReadBuffer(&b, 1);
      s.Flush();
      ExpectMessage([&] { s.Find("Index.xml")->WriteBuffer("x", 1); }, "Stream write error");
      ExpectMessage([&] { s.BeginTransaction(); }, "Stream write error");
      ExpectMessage([&] { s.CompactByCopy(); }, "Stream write error");
      ExpectMessage([&] { s.ReplaceFile(dir + "/elsewhere.hsf"); }, "Stream write error");
    }
    ExpectUnchanged(before, path);
  }
  // A missing file is not created.
  TSingleStorage s;
  s.SetOpenReadOnly(true);
  EXPECT_THROW(s.SetFileName(dir + "/missing.hsf"), platform::EFOpenError);
  EXPECT_FALSE(platform::FileExists(dir + "/missing.hsf"));
}

TEST(SingleFileStorage, HeaderValidation) {
  auto open = [](const Bytes& bytes) {
    TSingleStorage s;
    s.SetStream(MemoryFile(bytes));
    return s.Count();
  };
  const Bytes head{'S', 'T', 'O', 'R', 1};
  for (size_t n = 1; n <= 5; ++n)
    ExpectMessage([&] { open(Bytes(head.begin(), head.begin() + static_cast<long>(n))); }, "Not a valid storage");
  ExpectMessage([&] { open(Bytes{'S', 'T', 'O', 'X', 1, 0}); }, "Not a valid storage");
  ExpectMessage([&] { open(Bytes{'S', 'T', 'O', 'R', 0, 7}); }, "Not a valid storage");
  ExpectMessage([&] { open(Bytes(2000, 'A')); }, "Not a valid storage");
  // 6 to 13 bytes with a sound header: an empty archive; a later major version is accepted.
  for (size_t n = 6; n <= 13; ++n) {
    Bytes b{'S', 'T', 'O', 'R', 2, 5};
    b.resize(n, 0xAA);
    TSingleStorage s;
    s.SetStream(MemoryFile(b));
    EXPECT_EQ(s.Count(), 0);
    EXPECT_EQ(s.MajorVersion(), 2);
    EXPECT_EQ(s.MinorVersion(), 5);
  }

  // A failed open lets go of the file: nothing is ever written into it.
  const std::string path = kdtest::TempDir() + "/bad.hsf";
  kdtest::WriteFileBytes(path, Bytes{'n', 'o', 't', ' ', 'a', 'n', ' ', 'a', 'r', 'c', 'h', 'i', 'v', 'e'});
  TSingleStorage s;
  ExpectMessage([&] { s.SetFileName(path); }, "Not a valid storage");
  EXPECT_EQ(s.FileName(), "");
  EXPECT_EQ(s.Stream(), nullptr);
  Write(s, "kept", Pattern(4, 1));
  EXPECT_EQ(Read(s, "kept"), Pattern(4, 1));
  EXPECT_EQ(Str(kdtest::ReadFileBytes(path)), "not an archive");
}

TEST(SingleFileStorage, DirectoryValidation) {
  TSingleStorage w;
  w.SetStream(MemoryFile({}));
  Write(w, "one", Pattern(100, 1));
  Write(w, "two", Pattern(50, 2));
  Bytes good(static_cast<size_t>(w.Stream()->GetSize()));
  w.Stream()->SetPosition(0);
  w.Stream()->ReadBuffer(good.data(), static_cast<int32_t>(good.size()));
  // Directory at 14: count, "one" at 18..40, "two" at 41..63; data at 1038 and 1138.
  auto corrupt = [&](auto edit) {
    Bytes b = good;
    edit(b);
    ExpectMessage(
        [&] {
          TSingleStorage s;
          s.SetStream(MemoryFile(b));
        },
        "Corrupted archive");
  };
  corrupt([](Bytes& b) { PutLe(b, 6, 0, 8); });
  corrupt([](Bytes& b) { PutLe(b, 6, 13, 8); });
  corrupt([&](Bytes& b) { PutLe(b, 6, static_cast<int64_t>(b.size()) - 3, 8); });
  corrupt([](Bytes& b) { PutLe(b, 6, -1, 8); });
  corrupt([](Bytes& b) { PutLe(b, 14, -1, 4); });
  corrupt([](Bytes& b) { PutLe(b, 14, 1000, 4); });
  corrupt([](Bytes& b) { PutLe(b, 18, 3, 8); });                 // offset inside the header
  corrupt([](Bytes& b) { PutLe(b, 18, 1100, 8); });              // reaches past the end
  corrupt([](Bytes& b) { PutLe(b, 26, -5, 8); });                // negative size
  corrupt([](Bytes& b) { PutLe(b, 26, INT64_MAX, 8); });         // offset + size overflows
  corrupt([](Bytes& b) { PutLe(b, 18, INT64_MAX - 10, 8); });
  corrupt([](Bytes& b) { PutLe(b, 34, 0x7FFFFFFF, 4); });        // name longer than the file
  corrupt([](Bytes& b) { PutLe(b, 34, -1, 4); });
  // An empty stream's offset is not an extent and is not checked.
  Bytes b = good;
  PutLe(b, 41 + 8, 0, 8);
  PutLe(b, 41, 999999, 8);
  TSingleStorage s;
  s.SetStream(MemoryFile(b));
  EXPECT_TRUE(Read(s, "two").empty());
  // Overlapping extents are found before anything is written over them.
  Bytes o = good;
  PutLe(o, 26, 110, 8);
  TSingleStorage ov;
  ov.SetStream(MemoryFile(o));
  ExpectMessage([&] { ov.Compact(); }, "Corrupted archive");
  ExpectMessage([&] { Write(ov, "three", Pattern(10, 3)); }, "Corrupted archive");
}

// Every truncation and many random byte flips of a valid archive: the archive opens or
// raises one of its two messages, and what opens can be read and written.
TEST(SingleFileStorage, TruncatedAndDamagedArchives) {
  TSingleStorage w;
  w.SetStream(MemoryFile({}));
  Write(w, "Index.xml", Pattern(300, 1));
  Write(w, "Thumb0001.bmp", Pattern(200, 2));
  Write(w, "e", {});
  Bytes good(static_cast<size_t>(w.Stream()->GetSize()));
  w.Stream()->SetPosition(0);
  w.Stream()->ReadBuffer(good.data(), static_cast<int32_t>(good.size()));
  const int64_t dirEnd = 14 + w.DirectorySize();
  ASSERT_LT(dirEnd, 1038);
  const int64_t dataEnd = static_cast<int64_t>(good.size());

  auto tryOpen = [](const Bytes& b, std::string& error) {
    error.clear();
    try {
      TSingleStorage s;
      s.SetStream(MemoryFile(b));
      for (int i = 0; i < s.Count(); ++i) {
        platform::TStringStream out;
        s.ReadStream(s.Items(i)->Name(), &out);
        EXPECT_EQ(static_cast<int64_t>(out.DataString().size()), s.Items(i)->StoredSize());
      }
      Write(s, "added", Pattern(700, 5));
      if (s.Count() > 1) s.Items(0)->WriteBuffer("z", 1);
      s.Flush();
      s.Compact();
      return true;
    } catch (const platform::Exception& e) {
      error = e.Message;
      return false;
    }
  };
  std::string error;
  for (int64_t n = 0; n < dataEnd; ++n) {
    const bool ok = tryOpen(Bytes(good.begin(), good.begin() + n), error);
    if (n >= 1 && n <= 5) {
      EXPECT_EQ(error, "Not a valid storage") << n;
    } else if (n < 14) {
      EXPECT_TRUE(ok) << n << ": " << error;
    } else {
      // Short of the directory's end or of the last stream's end.
      EXPECT_EQ(error, "Corrupted archive") << n;
    }
  }
  EXPECT_TRUE(tryOpen(good, error)) << error;

  std::mt19937 rng(99);
  int opened = 0;
  for (int round = 0; round < 3000; ++round) {
    Bytes b = good;
    const int flips = 1 + static_cast<int>(rng() % 3);
    for (int f = 0; f < flips; ++f) {
      // Most flips aim at the header and the directory, where the parsing happens.
      const size_t at = rng() % 4 ? rng() % static_cast<size_t>(dirEnd) : rng() % b.size();
      b[at] ^= static_cast<uint8_t>(1u << (rng() % 8));
    }
    if (tryOpen(b, error))
      ++opened;
    else
      EXPECT_TRUE(error == "Corrupted archive" || error == "Not a valid storage") << error;
  }
  EXPECT_GT(opened, 0);
}

TEST(SingleFileStorage, EntriesMadeOutsideAndCopiedBetweenArchives) {
  TSingleStorage s;
  s.SetStream(MemoryFile({}));
  // A stream filled before it belongs to an archive keeps its bytes in its cache until flushed.
  auto loose = std::make_unique<TStoreStream>("Loose");
  const Bytes data = Pattern(2000, 1);
  loose->WriteBuffer(data.data(), 2000);
  EXPECT_EQ(loose->GetSize(), 2000);
  TStoreStream* added = loose.get();
  EXPECT_EQ(s.AddStream(std::move(loose)), 0);
  EXPECT_EQ(added->StoredSize(), 0);
  s.Flush();
  EXPECT_EQ(added->StoredSize(), 2000);
  EXPECT_EQ(added->Offset(), 1038);
  EXPECT_EQ(Read(s, "Loose"), data);

  // Assign copies name and bytes into a fresh extent; Clear frees the extent.
  TSingleStorage t;
  t.SetStream(MemoryFile({}));
  Write(t, "Other", Pattern(10, 2));
  t.Find("Other")->Assign(s.Find("Loose"));
  EXPECT_EQ(t.Find("Other"), nullptr);
  ExpectStreams(t, {{"Loose", data}});
  t.Find("Loose")->Clear();
  ExpectStreams(t, {{"Loose", {}}});
  EXPECT_EQ(t.FreeSpace(), 2000);  // the cleared 10 bytes were reused
  t.Compact();
  EXPECT_EQ(t.Stream()->GetSize(), 1038);

  // LoadFromStream64 replaces the bytes; SaveToStream64 copies them out at Dest's position.
  TMemoryStream64 src;
  src.WriteBuffer("hello", 5);
  s.Find("Loose")->LoadFromStream64(&src);
  TMemoryStream64 out;
  out.WriteBuffer("ab", 2);
  s.Find("Loose")->SaveToStream64(&out);
  EXPECT_EQ(std::string(static_cast<const char*>(out.Memory()), 7), "abhello");
  // The old extent was let go before allocating, so the new bytes took its place.
  EXPECT_EQ(s.Find("Loose")->Offset(), 1038);
  EXPECT_EQ(s.FreeSpace(), 1995);
}

TEST(SingleFileStorage, SwitchingFilesWritesPendingChanges) {
  const std::string dir = kdtest::TempDir();
  TSingleStorage s;
  s.SetFileName(dir + "/one.hsf");
  Write(s, "Index.xml", Pattern(100, 1));
  s.Find("Index.xml")->SetSize(40);
  s.SetFileName(dir + "/two.hsf");
  EXPECT_EQ(s.Count(), 0);
  s.SetFileName("");
  EXPECT_EQ(s.Stream(), nullptr);
  EXPECT_EQ(s.FileName(), "");
  s.SetFileName(dir + "/one.hsf");
  Bytes cut = Pattern(100, 1);
  cut.resize(40);
  ExpectStreams(s, {{"Index.xml", cut}});
  // CreateNew truncates an existing file into a new archive.
  s.SetFileName("");
  s.SetCreateNew(true);
  s.SetFileName(dir + "/one.hsf");
  EXPECT_EQ(s.Count(), 0);
  EXPECT_EQ(kdtest::ReadFileBytes(dir + "/one.hsf").size(), 6u);
}

// A copy that fails part-way (the disk fills up) leaves no entry over bytes never written, and
// a stream being replaced keeps its old bytes: later directory writes keep the file sound.
TEST(SingleFileStorage, FailedWritesLeaveTheArchiveSound) {
  const std::string path = kdtest::TempDir() + "/full.hsf";
  const Bytes a = Pattern(100, 7), b = Pattern(5000, 8), c = Pattern(10, 9), a2 = Pattern(3000, 10);
  {
    TSingleStorage s;
    s.SetFileName(path);
    s.SetOverwriteMode(0);
    Write(s, "A", a);
    const struct {
      const char* Name;
      const Bytes* Data;
    } failing[] = {{"B", &b}, {"A", &a2}};
    for (const auto& f : failing) {
      document::FileFaults().Reset();
      document::FileFaults().FailAfterBytes = 50;
      try {
        Write(s, f.Name, *f.Data);
        ADD_FAILURE() << "no write error for " << f.Name;
      } catch (const platform::EWriteError& e) {
        EXPECT_EQ(e.Message, "Stream write error");
      }
      document::FileFaults().Reset();
    }
    Write(s, "C", c);  // rewrites the directory
  }
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_TRUE(kdcheck::CheckArchiveBytes(bytes).empty());
  TSingleStorage s;
  s.SetFileName(path);
  EXPECT_FALSE(s.StreamExists("B"));
  EXPECT_EQ(Read(s, "A"), a);
  EXPECT_EQ(Read(s, "C"), c);
}

// The fast allocation (kept-up-to-date free space), name index, cache total and in-place
// directory patches while compacting must write exactly the bytes that the plain algorithms
// write: the same random operations run on two archives, one with the slow reference paths,
// and the files are compared after every step.
TEST(SingleFileStorage, FastPathsWriteTheSameBytesAsTheReference) {
  struct TSlow {
    explicit TSlow(bool on) : FOld(TSingleStorage::SlowReference) { TSingleStorage::SlowReference = on; }
    ~TSlow() { TSingleStorage::SlowReference = FOld; }
    bool FOld;
  };
  auto fileBytes = [](TSingleStorage& s) {
    auto* m = dynamic_cast<TMemoryStream64*>(s.Stream());
    if (!m) return Bytes();
    const auto* p = static_cast<const uint8_t*>(m->Memory());
    return Bytes(p, p + m->DataSize());
  };
  for (uint32_t seed : {1u, 2u, 3u, 4u}) {
    TSingleStorage fast, slow;
    TSingleStorage* both[2] = {&fast, &slow};
    for (TSingleStorage* s : both) {
      s->SetOverwriteMode(0);
      s->SetCacheLimit(8000);
      s->SetStream(MemoryFile(Bytes()));
    }
    std::mt19937 rng(seed);
    for (int step = 0; step < 700; ++step) {
      const std::string name = "S" + std::to_string(rng() % 40);
      const std::string other = "S" + std::to_string(rng() % 40);
      const int op = static_cast<int>(rng() % 15);
      const size_t size = rng() % 4 == 0 ? 0 : rng() % 6000;
      const Bytes data = Pattern(size, rng());
      const uint32_t pick = rng();
      for (int k = 0; k < 2; ++k) {
        TSlow mode(k == 1);
        TSingleStorage& s = *both[k];
        switch (op) {
          case 0:
          case 1:
          case 2:
            Write(s, name, data);
            break;
          case 3:
            s.DeleteStream(name);
            break;
          case 4:
            if (!s.StreamExists(other)) s.RenameStream(name, other);
            break;
          case 5:
          case 6:
            if (TStoreStream* e = s.Find(name)) {
              e->SetPosition(e->GetSize() ? static_cast<int64_t>(pick % e->GetSize()) : 0);
              e->WriteBuffer(data.data(), static_cast<int32_t>(data.size()));
            }
            break;
          case 7:
            if (TStoreStream* e = s.Find(name)) e->SetSize(pick % 5000);
            break;
          case 8:
            if (TStoreStream* e = s.Find(name)) {
              Bytes back(static_cast<size_t>(e->GetSize()));
              e->SetPosition(0);
              if (!back.empty()) e->ReadBuffer(back.data(), static_cast<int32_t>(back.size()));
            }
            break;
          case 9:
            s.Flush();
            break;
          case 10:
            if (s.InTransaction())
              s.CommitTransaction();
            else
              s.BeginTransaction();
            break;
          case 11:
            if (pick % 4 == 0) s.RollbackTransaction();
            if (pick % 4 == 1) s.Compact();
            break;
          case 12:
            if (TStoreStream* e = s.Find(name)) e->Clear();
            break;
          case 13: {
            if (TStoreStream* from = s.Find(other); from && other != name && pick % 2 == 0) {
              // Loading the source may push older caches out to the file meanwhile.
              s.WriteStream(from, name);
              break;
            }
            auto entry = std::make_unique<TStoreStream>(name);
            platform::TStringStream src(Str(data));
            entry->LoadFromStream(&src);
            s.AddStream(std::move(entry));
            break;
          }
          case 14:
            if (pick % 8 == 0) {
              // Reopen from the bytes: the indexes start over from the directory.
              s.Flush();
              s.SetStream(MemoryFile(fileBytes(s)));
            }
            break;
        }
      }
      ASSERT_EQ(fileBytes(fast), fileBytes(slow)) << "seed " << seed << " step " << step << " op " << op;
      ASSERT_EQ(fast.Count(), slow.Count());
      for (int32_t i = 0; i < fast.Count(); ++i) ASSERT_EQ(fast.Items(i)->Name(), slow.Items(i)->Name());
    }
    for (TSingleStorage* s : both) {
      if (s->InTransaction()) s->CommitTransaction();
      s->Flush();
    }
    ASSERT_EQ(fileBytes(fast), fileBytes(slow));
    // Reloaded, the fast archive holds what the reference holds.
    TSingleStorage back;
    back.SetStream(MemoryFile(fileBytes(fast)));
    ASSERT_EQ(back.Count(), slow.Count());
    for (int32_t i = 0; i < back.Count(); ++i)
      EXPECT_EQ(Read(back, back.Items(i)->Name()), Read(slow, slow.Items(i)->Name()));
  }
}

// Reading into a memory stream grows it once and reads straight into it: the result must be
// what chunked writes give, wherever the destination stands (inside, at the end, past it).
TEST(SingleFileStorage, ReadIntoMemoryStreamAtAnyPosition) {
  TSingleStorage s;
  s.SetStream(MemoryFile(Bytes()));
  const Bytes big = Pattern(1300000, 5);  // more than two copy buffers
  const Bytes small = Pattern(700, 6);
  Write(s, "big", big);
  Write(s, "small", small);
  struct TCase {
    const char* name;
    size_t before;    // bytes already in the destination
    int64_t at;       // its position when the read starts
  };
  const TCase cases[] = {{"big", 0, 0}, {"big", 100, 100}, {"big", 5000, 10}, {"big", 10, 50},
                         {"small", 2000, 0}, {"small", 2000, 1500}, {"small", 0, 30}};
  for (const TCase& c : cases) {
    const Bytes& data = std::string(c.name) == "big" ? big : small;
    const Bytes prefix = Pattern(c.before, 9);
    // Expected: what writing the bytes at that position gives.
    Bytes expected = prefix;
    const size_t end = static_cast<size_t>(c.at) + data.size();
    if (expected.size() < end) expected.resize(end, 0);
    std::copy(data.begin(), data.end(), expected.begin() + c.at);
    for (bool plain : {true, false}) {
      std::unique_ptr<platform::TStream> dst;
      if (plain)
        dst = MemoryFile(prefix);
      else
        dst = std::make_unique<platform::TStringStream>(Str(prefix));
      dst->SetPosition(c.at);
      s.ReadStream(c.name, dst.get());
      EXPECT_EQ(dst->GetPosition(), c.at) << c.name << " " << c.before << " " << c.at;
      dst->SetPosition(0);
      Bytes got(static_cast<size_t>(dst->GetSize()));
      if (!got.empty()) dst->ReadBuffer(got.data(), static_cast<int32_t>(got.size()));
      EXPECT_EQ(got, expected) << c.name << " " << c.before << " " << c.at << (plain ? " memory" : " string");
    }
  }
}

// A stream whose bytes cannot be read fails every time it is read: the failed load leaves no
// cache behind whose zeros a later read would hand out as the stream's content.
TEST(SingleFileStorage, FailedCacheLoadIsNotKept) {
  TSingleStorage s;
  s.SetStream(MemoryFile({}));
  const Bytes data = Pattern(5000, 7);
  Write(s, "A", data);
  Write(s, "B", Pattern(100, 8));
  TStoreStream* a = s.Items(0);
  const int64_t end = a->Offset() + a->StoredSize();
  const int64_t full = s.Stream()->GetSize();
  // The file loses its tail after it was opened, as a failing disk or another program may do.
  Bytes whole(static_cast<size_t>(full));
  s.Stream()->SetPosition(0);
  s.Stream()->ReadBuffer(whole.data(), static_cast<int32_t>(full));
  s.Stream()->SetSize(end - 1000);
  for (int attempt = 0; attempt < 2; ++attempt) {
    SCOPED_TRACE(attempt);
    a->SetPosition(0);
    Bytes got(data.size());
    ExpectMessage([&] { a->ReadBuffer(got.data(), static_cast<int32_t>(got.size())); }, "Stream read error");
  }
  EXPECT_FALSE(a->Cached());
  // Once the bytes are there again the stream reads them.
  s.Stream()->SetPosition(0);
  s.Stream()->WriteBuffer(whole.data(), static_cast<int32_t>(full));
  a->SetPosition(0);
  Bytes got(data.size());
  a->ReadBuffer(got.data(), static_cast<int32_t>(got.size()));
  EXPECT_EQ(got, data);
}

// Renaming an entry itself is refused like renaming it through the archive when another entry
// has the name: two entries of one name would hide one of them.
TEST(SingleFileStorage, EntryRenamedOntoAnotherNameIsRefused) {
  TSingleStorage s;
  s.SetStream(MemoryFile({}));
  Write(s, "A", Pattern(5, 1));
  Write(s, "B", Pattern(6, 2));
  ExpectMessage([&] { s.Items(1)->SetName("A"); }, "Cannot overwrite stream \"A\"");
  EXPECT_EQ(s.Items(1)->Name(), "B");
  // Assigning takes the other's name too, which another entry of this archive holds.
  ExpectMessage([&] { s.Items(1)->Assign(s.Items(0)); }, "Cannot overwrite stream \"A\"");
  EXPECT_EQ(s.Items(1)->Name(), "B");
  s.Items(1)->SetName("C");
  s.Items(0)->SetName("A");  // its own name: nothing changes
  auto copy = std::make_unique<TMemoryStream64>();
  copy->CopyFrom64(s.Stream(), 0);
  TSingleStorage r;
  r.SetStream(std::move(copy));
  ExpectStreams(r, {{"A", Pattern(5, 1)}, {"C", Pattern(6, 2)}});
}

// Names are stored in windows-1252: every character it holds comes back, and a name with any
// other character is refused wherever a name is given, before anything changes.
TEST(SingleFileStorage, NamesOutsideTheStoredCharacterSetAreRefused) {
  TSingleStorage s;
  s.SetStream(MemoryFile({}));
  std::string every;
  for (int c = 1; c < 256; ++c) every += static_cast<char>(c);
  const std::string wide = platform::Cp1252ToUtf8(every);
  Write(s, wide, Pattern(3, 1));
  Write(s, "\xe2\x82\xac uro \xc3\xa9", Pattern(4, 2));  // euro sign and e acute are stored
  const std::string refused = "Stream name \"\xce\xa9\" holds characters that cannot be stored";
  ExpectMessage([&] { Write(s, "\xce\xa9", Pattern(5, 3)); }, refused);
  ExpectMessage([&] { s.AddStream(std::make_unique<TStoreStream>("\xce\xa9")); }, refused);
  ExpectMessage([&] { s.RenameStream(wide, "\xce\xa9"); }, refused);
  ExpectMessage([&] { s.Items(1)->SetName("\xce\xa9"); }, refused);
  ExpectMessage([&] { Write(s, "\xf0\x9f\x98\x80", Pattern(5, 3)); },
                "Stream name \"\xf0\x9f\x98\x80\" holds characters that cannot be stored");
  ASSERT_EQ(s.Count(), 2);
  auto copy = std::make_unique<TMemoryStream64>();
  copy->CopyFrom64(s.Stream(), 0);
  TSingleStorage r;
  r.SetStream(std::move(copy));
  ExpectStreams(r, {{wide, Pattern(3, 1)}, {"\xe2\x82\xac uro \xc3\xa9", Pattern(4, 2)}});
  // A name read back is storable again: renaming to it and back works.
  r.RenameStream(wide, "x");
  r.RenameStream("x", wide);
  EXPECT_TRUE(r.StreamExists(wide));
}

// Writing a cache back, by any road, leaves the stream's position where it was: the next
// write goes on from there instead of being appended.
TEST(SingleFileStorage, WritingBackACacheKeepsThePosition) {
  const std::pair<const char*, std::function<void(TSingleStorage&)>> roads[] = {
      {"entry Flush", [](TSingleStorage& s) { s.Find("A")->Flush(); }},
      {"archive Flush", [](TSingleStorage& s) { s.Flush(); }},
      {"cache trimmed", [](TSingleStorage& s) {
         s.SetCacheLimit(150);
         uint8_t b;
         s.Find("B")->ReadBuffer(&b, 1);
       }},
      {"transaction begun", [](TSingleStorage& s) { s.BeginTransaction(); }},
      {"transaction committed", [](TSingleStorage& s) {
         s.BeginTransaction();
         s.Find("A")->WriteBuffer("", 0);
         s.CommitTransaction();
       }},
      {"Compact", [](TSingleStorage& s) { s.Compact(); }},
      {"CompactByCopy", [](TSingleStorage& s) { s.CompactByCopy(); }},
      {"SaveToStream", [](TSingleStorage& s) { s.SaveToStream(std::make_unique<TMemoryStream64>()); }},
  };
  int n = 0;
  for (const auto& [road, writeBack] : roads) {
    SCOPED_TRACE(road);
    const std::string path = kdtest::TempDir() + "/position-" + std::to_string(n++) + ".hsf";
    TSingleStorage s;
    s.SetFileName(path);
    Write(s, "A", Bytes(100, 'a'));
    Write(s, "B", Bytes(100, 'b'));
    TStoreStream* a = s.Find("A");
    a->Seek(10, platform::soFromBeginning);
    a->WriteBuffer("XXXXX", 5);
    writeBack(s);
    a = s.Find("A");
    EXPECT_EQ(a->GetPosition(), 15);
    a->WriteBuffer("YYYYY", 5);
    EXPECT_EQ(a->GetPosition(), 20);
    EXPECT_EQ(a->GetSize(), 100);
    Bytes expected(100, 'a');
    std::copy_n("XXXXXYYYYY", 10, expected.begin() + 10);
    EXPECT_EQ(Read(s, "A"), expected);
  }
}

// A rollback returns to the archive as it was when the transaction began, including what was
// written before it and still sat in a cache, and in a file that had no directory yet.
TEST(SingleFileStorage, RollbackKeepsWhatWasWrittenBeforeTheTransaction) {
  TSingleStorage s;
  s.SetStream(MemoryFile({}));
  s.SetOverwriteMode(0);
  Write(s, "A", Bytes(100, 'a'));
  TStoreStream* a = s.Find("A");
  a->Seek(0, platform::soFromBeginning);
  a->WriteBuffer("XXXXX", 5);
  s.BeginTransaction();
  Write(s, "B", Bytes(10, 'b'));
  s.Find("A")->WriteBuffer("ZZ", 2);
  s.RollbackTransaction();
  Bytes expected(100, 'a');
  std::copy_n("XXXXX", 5, expected.begin());
  ExpectStreams(s, {{"A", expected}});

  // A new file has no directory before the transaction: after the rollback it still opens.
  TSingleStorage fresh;
  fresh.SetStream(MemoryFile({}));
  fresh.BeginTransaction();
  Write(fresh, "late", Bytes(50, 'l'));
  fresh.Flush();
  fresh.RollbackTransaction();
  EXPECT_EQ(fresh.Count(), 0);
  auto copy = std::make_unique<TMemoryStream64>();
  copy->CopyFrom64(fresh.Stream(), 0);
  TSingleStorage back;
  ASSERT_NO_THROW(back.SetStream(std::move(copy)));
  EXPECT_EQ(back.Count(), 0);

  // A commit that fails half way through writing the caches back leaves the file's directory
  // alone, so the rollback it ends in returns to the archive as it began.
  {
    TSingleStorage d;
    d.SetFileName(kdtest::TempDir() + "/failed-commit.hsf");
    Write(d, "A", Bytes(100, 'a'));
    Write(d, "B", Bytes(300, 'b'));
    d.BeginTransaction();
    d.Find("A")->WriteBuffer("XX", 2);
    d.Find("B")->WriteBuffer("YY", 2);
    document::FileFaults().Reset();
    document::FileFaults().FailAfterBytes = 150;  // room for A's new bytes, not for B's
    EXPECT_THROW(d.CommitTransaction(), platform::EWriteError);
    document::FileFaults().Reset();
    ExpectStreams(d, {{"A", Bytes(100, 'a')}, {"B", Bytes(300, 'b')}});
  }

  // Replacing the whole archive by a copy of another ends the transaction first, as the file
  // is rewritten from its start: the copy stays, in memory and in the file.
  TSingleStorage other;
  other.SetStream(MemoryFile({}));
  Write(other, "O", Bytes(30, 'o'));
  s.BeginTransaction();
  Write(s, "C", Bytes(20, 'c'));
  s.Assign(&other);
  s.RollbackTransaction();
  ExpectStreams(s, {{"O", Bytes(30, 'o')}});
  auto file = std::make_unique<TMemoryStream64>();
  file->CopyFrom64(s.Stream(), 0);
  TSingleStorage reread;
  reread.SetStream(std::move(file));
  ExpectStreams(reread, {{"O", Bytes(30, 'o')}});
}

// Resizing a stream to the size it has still brings a position past the end back to the
// end, as a memory stream does.
TEST(SingleFileStorage, ResizingBringsAPositionPastTheEndBack) {
  TSingleStorage s;
  s.SetStream(MemoryFile({}));
  for (const int64_t size : {0, 10}) {
    Write(s, "A" + std::to_string(size), Bytes(static_cast<size_t>(size), 'a'));
    TStoreStream* a = s.Find("A" + std::to_string(size));
    a->Seek(50, platform::soFromBeginning);
    a->SetSize(size);
    EXPECT_EQ(a->GetPosition(), size);
    EXPECT_FALSE(a->Modified());
  }
}

// A stream object held across every way a stream can leave the archive or be read again: one
// that stays is the same object with the archive's bytes; one that left raises the archive's
// error instead of touching freed memory.
TEST(SingleFileStorage, HeldStreamsStaySafeAcrossEveryWayOut) {
  const struct {
    const char* Road;
    std::function<void(TSingleStorage&)> Run;
    bool AStays, BStays;
    Bytes A;  // A's bytes after the road
  } roads[] = {
      {"RollbackTransaction", [](TSingleStorage& s) {
         s.BeginTransaction();
         s.Find("A")->WriteBuffer("ZZ", 2);
         Write(s, "B", Bytes(9, 'n'));
         s.RollbackTransaction();
       }, true, true, Bytes(100, 'a')},
      {"rollback of a new stream", [](TSingleStorage& s) {
         s.DeleteStream("B");
         s.BeginTransaction();
         s.AddStream(std::make_unique<TStoreStream>("B"));
         s.RollbackTransaction();
       }, true, false, Bytes(100, 'a')},
      {"Compact", [](TSingleStorage& s) { s.Compact(); }, true, true, Bytes(100, 'a')},
      {"CompactByCopy", [](TSingleStorage& s) { s.CompactByCopy(); }, true, true, Bytes(100, 'a')},
      {"RenameStream", [](TSingleStorage& s) { s.RenameStream("B", "C"); }, true, true, Bytes(100, 'a')},
      {"DeleteStream", [](TSingleStorage& s) { s.DeleteStream("B"); }, true, false, Bytes(100, 'a')},
      {"WriteStream over it", [](TSingleStorage& s) { Write(s, "B", Bytes(5, 'w')); }, true, false, Bytes(100, 'a')},
      {"AddStream over it", [](TSingleStorage& s) { s.AddStream(std::make_unique<TStoreStream>("B")); }, true, false,
       Bytes(100, 'a')},
      {"Clear", [](TSingleStorage& s) { s.Clear(); }, false, false, {}},
      {"Assign", [](TSingleStorage& s) {
         TSingleStorage other;
         other.SetStream(MemoryFile({}));
         Write(other, "A", Bytes(3, 'o'));
         s.Assign(&other);
       }, false, false, {}},
      {"reopened", [](TSingleStorage& s) {
         const std::string name = s.FileName();
         s.SetFileName("");
         s.SetFileName(name);
       }, false, false, {}},
      {"another file", [](TSingleStorage& s) { s.SetStream(MemoryFile({})); }, false, false, {}},
  };
  int n = 0;
  for (const auto& road : roads) {
    SCOPED_TRACE(road.Road);
    TSingleStorage s;
    s.SetOverwriteMode(0);
    s.SetFileName(kdtest::TempDir() + "/held-" + std::to_string(n++) + ".hsf");
    Write(s, "A", Bytes(100, 'a'));
    Write(s, "B", Bytes(50, 'b'));
    TStoreStream* a = s.Find("A");
    TStoreStream* b = s.Find("B");
    a->Seek(10, platform::soFromBeginning);
    b->Seek(20, platform::soFromBeginning);
    road.Run(s);
    const std::string gone = " is no longer in the archive";
    for (const auto& [held, name, stays] : {std::tuple{a, "A", road.AStays}, std::tuple{b, "B", road.BStays}}) {
      if (!stays) {
        const std::string message = std::string("Stream \"") + name + "\"" + gone;
        ExpectMessage([&] { held->GetPosition(); }, message);
        ExpectMessage([&] { held->WriteBuffer("x", 1); }, message);
        ExpectMessage([&] { held->SetSize(0); }, message);
        ExpectMessage([&] { held->Flush(); }, message);
        continue;
      }
      EXPECT_NE(s.IndexOf(held->Name()), -1) << name;
      EXPECT_EQ(s.Find(held->Name()), held) << name;
    }
    if (road.AStays) {
      Bytes got(road.A.size());
      a->SetPosition(0);
      a->ReadBuffer(got.data(), static_cast<int32_t>(got.size()));
      EXPECT_EQ(got, road.A);
    }
  }
}

// A stream that left the archive and that no caller was ever handed (by Find, Items or
// AddStream) cannot be held by anyone: it is freed, so that rewriting a stream many times
// costs no memory per rewrite.
TEST(SingleFileStorage, StreamsNobodyHeldAreFreedWhenTheyLeave) {
  const std::pair<const char*, std::function<void(TSingleStorage&)>> rewrites[] = {
      {"WriteStream over it", [](TSingleStorage& s) { Write(s, "A", Bytes(3, 'w')); }},
      {"DeleteStream", [](TSingleStorage& s) {
         Write(s, "B", Bytes(3, 'w'));
         s.DeleteStream("B");
       }},
      {"rolled back", [](TSingleStorage& s) {
         s.BeginTransaction();
         Write(s, "A", Bytes(3, 'w'));
         Write(s, "B", Bytes(3, 'w'));
         s.RollbackTransaction();
       }},
  };
  for (const auto& [road, rewrite] : rewrites) {
    SCOPED_TRACE(road);
    TSingleStorage s;
    s.SetStream(MemoryFile({}));
    s.SetOverwriteMode(0);
    Write(s, "A", Bytes(3, 'a'));
    for (int i = 0; i < 100; ++i) rewrite(s);
    const size_t before = mallinfo2().uordblks;
    for (int i = 0; i < 20000; ++i) rewrite(s);
    // (Zero under the address sanitizer, which keeps its own books.)
    EXPECT_LT(mallinfo2().uordblks, before + 500000);
  }
}

// OnChange and OnProgress run in the middle of the archive's work (a stream being copied,
// flushed or loaded): anything but looking from them raises instead of pulling caches,
// entries or the file from under that work, and the archive stays sound.
TEST(SingleFileStorage, ChangesFromTheArchivesOwnEventsAreRefused) {
  const std::pair<const char*, std::function<void(TSingleStorage&)>> changes[] = {
      {"DeleteStream", [](TSingleStorage& s) { s.DeleteStream("A"); }},
      {"WriteStream", [](TSingleStorage& s) { Write(s, "A", Bytes(3, 'x')); }},
      {"Clear", [](TSingleStorage& s) { s.Clear(); }},
      {"Flush", [](TSingleStorage& s) { s.Flush(); }},
      {"Compact", [](TSingleStorage& s) { s.Compact(); }},
      {"another file", [](TSingleStorage& s) { s.SetStream(MemoryFile({})); }},
      {"RollbackTransaction", [](TSingleStorage& s) { s.RollbackTransaction(); }},
      {"entry Write", [](TSingleStorage& s) { s.Find("A")->WriteBuffer("x", 1); }},
      {"entry Read", [](TSingleStorage& s) {
         uint8_t b;
         s.Find("B")->ReadBuffer(&b, 1);
       }},
      {"entry Flush", [](TSingleStorage& s) { s.Find("A")->Flush(); }},
  };
  for (const bool progress : {true, false})
    for (const auto& [road, change] : changes) {
      SCOPED_TRACE(std::string(progress ? "OnProgress: " : "OnChange: ") + road);
      TSingleStorage s;
      s.SetStream(MemoryFile({}));
      s.SetOverwriteMode(0);
      Write(s, "A", Bytes(100, 'a'));
      Write(s, "B", Bytes(50, 'b'));
      s.Find("A")->Seek(0, platform::soFromEnd);
      s.Find("A")->WriteBuffer("zz", 2);
      std::string error;
      auto handler = [&, &change = change] {
        if (!error.empty()) return;
        try {
          change(s);
          error = "none";
        } catch (const platform::Exception& e) {
          error = e.Message;
        }
      };
      if (progress)
        s.OnProgress = [&](platform::TObject*, int32_t, const std::string&, float) { handler(); };
      else
        s.OnChange = [&](platform::TObject*) { handler(); };
      s.Flush();  // writes A's cache back, reporting as it goes
      EXPECT_EQ(error, "Archive is busy");
      s.OnProgress = nullptr;
      s.OnChange = nullptr;
      Bytes a(100, 'a');
      a.insert(a.end(), {'z', 'z'});
      ExpectStreams(s, {{"A", a}, {"B", Bytes(50, 'b')}});
    }
}

// The archive's own file copied into one of its streams, in memory or on disk, small or
// longer than one copy buffer: the stream holds the file as it was before the copy.
TEST(SingleFileStorage, TheArchivesOwnFileCopiedIntoAStream) {
  int n = 0;
  for (const bool disk : {false, true})
    for (const size_t size : {size_t{300}, size_t{1300000}})
      for (const bool entry : {false, true}) {
        SCOPED_TRACE(std::string(disk ? "disk " : "memory ") + std::to_string(size) + (entry ? " entry" : ""));
        TSingleStorage s;
        s.SetOverwriteMode(0);
        if (disk)
          s.SetFileName(kdtest::TempDir() + "/self-" + std::to_string(n++) + ".hsf");
        else
          s.SetStream(MemoryFile({}));
        Write(s, "A", Pattern(size, 7));
        Write(s, "self", {});
        platform::TStringStream before;
        before.CopyFrom(s.Stream(), 0);
        const Bytes file(before.DataString().begin(), before.DataString().end());
        if (entry)
          s.Find("self")->LoadFromStream(s.Stream());
        else
          s.WriteStream(s.Stream(), "self");
        const Bytes got = Read(s, "self");
        EXPECT_TRUE(got == file) << got.size() << " of " << file.size() << " bytes";
        EXPECT_EQ(Read(s, "A"), Pattern(size, 7));
      }
}

// Every way the stream API can be driven, in a seeded random order, against plain memory
// streams as the model: seeks, writes, reads and resizes through the entries; flushes of one
// entry and of the archive; cache trimming by a small CacheLimit; transactions committed and
// rolled back; compacting; closing and reopening the file. Contents, sizes and positions must
// agree after every step. Rolling back or reopening starts the streams at position 0.
TEST(SingleFileStorage, StreamsFollowAMemoryModel) {
  const std::string path = kdtest::TempDir() + "/memory-model.hsf";
  struct TModelStream {
    std::string Name;
    std::unique_ptr<TMemoryStream64> Bytes;
  };
  using TModel = std::vector<TModelStream>;
  auto copyOf = [](const TModel& from, bool rewind) {
    TModel to;
    for (const auto& m : from) {
      auto bytes = std::make_unique<TMemoryStream64>();
      if (m.Bytes->DataSize() > 0)
        bytes->WriteBuffer(m.Bytes->Memory(), static_cast<int32_t>(m.Bytes->DataSize()));
      bytes->SetPosition(rewind ? 0 : m.Bytes->DataPosition());
      to.push_back({m.Name, std::move(bytes)});
    }
    return to;
  };
  auto bytesOf = [](const TMemoryStream64& m) {
    const auto* p = static_cast<const uint8_t*>(m.Memory());
    return Bytes(p, p + m.DataSize());
  };
  TModel model, begun;
  bool inTransaction = false;
  auto find = [&](const std::string& name) -> TModelStream* {
    for (auto& m : model)
      if (m.Name == name) return &m;
    return nullptr;
  };
  auto storage = std::make_unique<TSingleStorage>();
  storage->SetOverwriteMode(0);
  storage->SetFileName(path);
  std::mt19937 rng(20261207);
  auto pick = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
  std::string last;
  // Stream objects handed out in recent steps, used again after whatever came since: each is
  // still one of the archive's entries or raises, never freed memory.
  std::vector<TStoreStream*> held;
  std::map<std::string, TStoreStream*> atBegin;
  for (int step = 0; step < 4000; ++step) {
    const std::string name = "S" + std::to_string(pick(5));
    TStoreStream* entry = storage->Find(name);
    if (entry && std::find(held.begin(), held.end(), entry) == held.end()) held.push_back(entry);
    if (held.size() > 12) held.erase(held.begin());
    TModelStream* m = find(name);
    ASSERT_EQ(entry != nullptr, m != nullptr) << name;
    const uint32_t op = pick(23);
    last = "nothing";
    switch (op) {
      case 0: {  // a whole new stream, replacing one of that name
        const Bytes data = Pattern(pick(4) == 0 ? 0 : pick(3000), rng());
        Write(*storage, name, data);
        if (m) model.erase(model.begin() + (m - model.data()));
        auto bytes = MemoryFile(data);
        bytes->SetPosition(0);
        model.push_back({name, std::move(bytes)});
        last = "WriteStream";
        break;
      }
      case 1:
      case 2: {  // seek by any origin, also past the end
        if (!entry) break;
        const int64_t size = m->Bytes->DataSize();
        const int64_t target = pick(8) == 0 ? size + pick(40) : (size ? pick(static_cast<uint32_t>(size) + 1) : 0);
        const auto origin = static_cast<uint16_t>(pick(3));
        const int64_t offset = origin == platform::soFromBeginning ? target
                               : origin == platform::soFromCurrent ? target - m->Bytes->DataPosition()
                                                                    : target - size;
        EXPECT_EQ(entry->Seek(offset, origin), m->Bytes->Seek(offset, origin));
        last = "Seek";
        break;
      }
      case 3:
      case 4:
      case 5: {  // write at the position
        if (!entry) break;
        const Bytes data = Pattern(1 + pick(300), rng());
        entry->WriteBuffer(data.data(), static_cast<int32_t>(data.size()));
        m->Bytes->WriteBuffer(data.data(), static_cast<int32_t>(data.size()));
        last = "Write";
        break;
      }
      case 6:
      case 7: {  // read at the position
        if (!entry) break;
        const int32_t n = static_cast<int32_t>(pick(400));
        Bytes got(static_cast<size_t>(n)), want(static_cast<size_t>(n));
        const int32_t gotN = entry->Read(got.data(), n);
        EXPECT_EQ(gotN, m->Bytes->Read(want.data(), n));
        EXPECT_EQ(got, want);
        last = "Read";
        break;
      }
      case 8: {
        if (!entry) break;
        const int64_t newSize = pick(3000);
        entry->SetSize(newSize);
        m->Bytes->SetSize(newSize);
        last = "SetSize";
        break;
      }
      case 9:
        if (entry) entry->Flush();
        last = "entry Flush";
        break;
      case 10:
        storage->Flush();
        last = "Flush";
        break;
      case 11: {
        static const int64_t limits[] = {1, 500, 2500, 6000, 0xA00000};
        storage->SetCacheLimit(limits[pick(5)]);
        last = "CacheLimit";
        break;
      }
      case 12:
        if (!inTransaction) {
          storage->BeginTransaction();
          begun = copyOf(model, false);
          atBegin.clear();
          for (int32_t i = 0; i < storage->Count(); ++i) atBegin[storage->Items(i)->Name()] = storage->Items(i);
          inTransaction = true;
          last = "BeginTransaction";
        } else if (pick(2) == 0) {
          storage->CommitTransaction();
          inTransaction = false;
          last = "CommitTransaction";
        } else {
          storage->RollbackTransaction();
          model = copyOf(begun, true);
          inTransaction = false;
          // The streams come back as the objects they were.
          for (const auto& [was, object] : atBegin) EXPECT_EQ(storage->Find(was), object) << was;
          last = "RollbackTransaction";
        }
        break;
      case 13: {  // close and reopen; an open transaction is given up
        storage->SetFileName("");
        if (inTransaction) model = copyOf(begun, true);
        inTransaction = false;
        model = copyOf(model, true);
        storage->SetFileName(path);
        last = "reopen";
        break;
      }
      case 14:
        if (pick(2) == 0)
          storage->Compact();
        else
          storage->CompactByCopy();
        inTransaction = false;
        last = "Compact";
        break;
      case 15:
        if (!entry) break;
        storage->DeleteStream(name);
        model.erase(model.begin() + (m - model.data()));
        last = "DeleteStream";
        break;
      case 16: {
        const std::string other = "S" + std::to_string(pick(5));
        if (!entry || find(other)) break;
        storage->RenameStream(name, other);
        m->Name = other;
        last = "RenameStream";
        break;
      }
      case 17: {  // an entry's own replacing and emptying
        if (!entry) break;
        const uint32_t how = pick(3);
        if (how == 0) {
          entry->Clear();
          m->Bytes->SetSize(0);
          last = "entry Clear";
        } else {
          const std::string from = "S" + std::to_string(pick(5));
          TModelStream* source = find(from);
          Bytes data = Pattern(pick(2000), rng());
          if (how == 1 || !source || from == name) {
            platform::TStringStream src(Str(data));
            entry->LoadFromStream(&src);
            last = "entry LoadFromStream";
          } else {
            // Copying from another stream of the archive leaves that stream where it was.
            data = bytesOf(*source->Bytes);
            entry->LoadFromStream(storage->Find(from));
            last = "entry LoadFromStream of a stream";
          }
          m->Bytes = MemoryFile(data);
        }
        m->Bytes->SetPosition(0);
        break;
      }
      case 18: {  // a stream written before it joins the archive
        if (entry) break;
        const Bytes data = Pattern(pick(1500), rng());
        auto added = std::make_unique<TStoreStream>(name);
        added->WriteBuffer(data.data(), static_cast<int32_t>(data.size()));
        storage->AddStream(std::move(added));
        model.push_back({name, MemoryFile(data)});
        last = "AddStream";
        break;
      }
      case 19: {  // a copy of the whole archive, which leaves every stream where it was
        if (pick(2) == 0) {
          storage->SaveToStream(std::make_unique<TMemoryStream64>());
          last = "SaveToStream";
          break;
        }
        TSingleStorage copy;
        copy.SetStream(MemoryFile({}));
        copy.Assign(storage.get());
        std::vector<std::pair<std::string, Bytes>> expected;
        for (const auto& x : model) expected.emplace_back(x.Name, bytesOf(*x.Bytes));
        ExpectStreams(copy, expected);
        last = "Assign";
        break;
      }
      default: {  // read a copy of the stream, which leaves its position alone
        if (!entry) break;
        EXPECT_EQ(Read(*storage, name), bytesOf(*m->Bytes));
        last = "ReadStream";
        break;
      }
    }
    ASSERT_EQ(storage->Count(), static_cast<int32_t>(model.size())) << "step " << step << " " << last;
    for (size_t i = 0; i < model.size(); ++i) {
      TStoreStream* e = storage->Items(static_cast<int32_t>(i));
      ASSERT_EQ(e->Name(), model[i].Name) << "step " << step << " " << last;
      EXPECT_EQ(e->GetPosition(), model[i].Bytes->DataPosition()) << "step " << step << " " << last << " " << e->Name();
      EXPECT_EQ(e->GetSize(), model[i].Bytes->DataSize()) << "step " << step << " " << last << " " << e->Name();
      EXPECT_EQ(Read(*storage, e->Name()), bytesOf(*model[i].Bytes)) << "step " << step << " " << last << " " << e->Name();
    }
    for (TStoreStream* h : held) {
      bool listed = false;
      for (int32_t i = 0; i < storage->Count() && !listed; ++i) listed = storage->Items(i) == h;
      if (!listed) {
        EXPECT_THROW(h->GetPosition(), platform::Exception) << "step " << step << " " << last;
      }
    }
    if (HasFailure()) FAIL() << "step " << step << " " << last;
  }
  storage->SetFileName("");
  if (inTransaction) model = copyOf(begun, true);
  storage->SetFileName(path);
  ASSERT_EQ(storage->Count(), static_cast<int32_t>(model.size()));
  for (size_t i = 0; i < model.size(); ++i)
    EXPECT_EQ(Read(*storage, model[i].Name), bytesOf(*model[i].Bytes));
  EXPECT_TRUE(kdcheck::CheckArchiveBytes(Str(kdtest::ReadFileBytes(path))).empty());
}

#include "document/HugeStreams.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <numeric>
#include <random>
#include <sys/stat.h>
#include <vector>

#include "platform/Exceptions.h"
#include "tests/common/TestSupport.h"

using namespace document;

namespace {

std::vector<uint8_t> Pattern(size_t n, uint32_t seed) {
  std::vector<uint8_t> v(n);
  std::mt19937 rng(seed);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

std::vector<uint8_t> Contents(TStream64& s) {
  std::vector<uint8_t> v(static_cast<size_t>(s.GetSize()));
  s.SetPosition(0);
  if (!v.empty()) s.ReadBuffer(v.data(), static_cast<int32_t>(v.size()));
  return v;
}

void Fill(TStream64& s, const std::vector<uint8_t>& bytes) {
  s.SetPosition(0);
  s.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
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

}  // namespace

TEST(HugeStreams, MemoryStreamGrowthAndLimits) {
  TMemoryStream64 m;
  const uint8_t one = 7;
  m.WriteBuffer(&one, 1);
  EXPECT_EQ(m.Capacity(), 8192);
  std::vector<uint8_t> block(8192, 1);
  m.WriteBuffer(block.data(), static_cast<int32_t>(block.size()));
  EXPECT_EQ(m.Capacity(), 16384);
  EXPECT_EQ(m.GetSize(), 8193);

  // A gap left by seeking past the end reads as zeros, also over bytes once written there.
  m.SetSize(4);
  m.Seek(100, platform::soFromBeginning);
  m.WriteBuffer(&one, 1);
  auto bytes = Contents(m);
  ASSERT_EQ(bytes.size(), 101u);
  for (size_t i = 4; i < 100; ++i) ASSERT_EQ(bytes[i], 0) << i;
  EXPECT_EQ(bytes[100], 7);

  // A zero-count write does not grow the stream over a gap.
  m.Seek(500, platform::soFromBeginning);
  EXPECT_EQ(m.Write(&one, 0), 0);
  EXPECT_EQ(m.GetSize(), 101);

  // Shrinking below the position moves it to the end.
  m.Seek(90, platform::soFromBeginning);
  m.SetSize(50);
  EXPECT_EQ(m.GetPosition(), 50);
  // Reads at a negative position or past the end give nothing.
  uint8_t b;
  m.Seek(-5, platform::soFromBeginning);
  EXPECT_EQ(m.Read(&b, 1), 0);
  EXPECT_EQ(m.Write(&one, 1), 0);
  m.Seek(60, platform::soFromBeginning);
  EXPECT_EQ(m.Read(&b, 1), 0);

  ExpectMessage([&] { m.SetSize(int64_t(1) << 31); }, "Out of memory while expanding memory stream");
  m.Seek(std::numeric_limits<int32_t>::max(), platform::soFromBeginning);
  ExpectMessage([&] { m.Write(&one, 1); }, "Out of memory while expanding memory stream");
  EXPECT_EQ(m.GetSize(), 50);
  m.Clear();
  EXPECT_EQ(m.Capacity(), 0);
  EXPECT_EQ(m.GetSize(), 0);
  EXPECT_EQ(m.Memory(), nullptr);
}

TEST(HugeStreams, GetSizeKeepsPositionAndBufferErrors) {
  TMemoryStream64 m;
  Fill(m, Pattern(1000, 1));
  m.SetPosition(123);
  EXPECT_EQ(m.GetSize(), 1000);
  EXPECT_EQ(m.GetPosition(), 123);

  std::vector<uint8_t> buf(2000);
  m.SetPosition(900);
  ExpectMessage([&] { m.ReadBuffer(buf.data(), 200); }, "Stream read error");
  m.ReadBuffer(buf.data(), 0);  // a zero count never fails

  TCustomMemoryStream64 view;
  view.SetPointer(buf.data(), 10);
  ExpectMessage([&] { view.WriteBuffer(buf.data(), 1); }, "Stream write error");
  EXPECT_EQ(view.GetSize(), 10);
}

TEST(HugeStreams, CopyFrom64CountsAndProgress) {
  TMemoryStream64 src, dst;
  const auto data = Pattern(0x80000 * 2 + 5, 2);
  Fill(src, data);
  src.SetPosition(77);
  std::vector<std::pair<int64_t, int64_t>> calls;
  dst.OnProgress = [&](platform::TObject* sender, int64_t done, int64_t total) {
    EXPECT_EQ(sender, &dst);
    calls.emplace_back(done, total);
  };
  // Count 0 copies the whole source from its start, whatever its position.
  EXPECT_EQ(dst.CopyFrom64(&src, 0), static_cast<int64_t>(data.size()));
  EXPECT_EQ(Contents(dst), data);
  const std::vector<std::pair<int64_t, int64_t>> expected = {
      {0, 1048581}, {524288, 1048581}, {1048576, 1048581}, {1048581, 1048581}};
  EXPECT_EQ(calls, expected);

  // A positive count copies from the current position; a negative one copies nothing.
  TMemoryStream64 part;
  src.SetPosition(10);
  EXPECT_EQ(part.CopyFrom64(&src, 20), 20);
  EXPECT_EQ(Contents(part), std::vector<uint8_t>(data.begin() + 10, data.begin() + 30));
  EXPECT_EQ(part.CopyFrom64(&src, -4), 0);
  EXPECT_EQ(part.GetSize(), 20);

  // An empty source writes nothing and returns 0.
  TMemoryStream64 empty, out;
  EXPECT_EQ(out.CopyFrom64(&empty, 0), 0);
  EXPECT_EQ(out.GetSize(), 0);
  EXPECT_EQ(out.Capacity(), 0);

  // Asking for more than the source holds is a read error.
  src.SetPosition(data.size() - 3);
  ExpectMessage([&] { out.CopyFrom64(&src, 10); }, "Stream read error");
}

TEST(HugeStreams, CopyToAndFromClassLibraryStreams) {
  const auto data = Pattern(0xF000 + 100, 3);
  platform::TMemoryStream plain;
  plain.WriteBuffer(data.data(), static_cast<int32_t>(data.size()));
  TMemoryStream64 m;
  std::vector<int64_t> done;
  m.OnProgress = [&](platform::TObject*, int64_t d, int64_t) { done.push_back(d); };
  EXPECT_EQ(m.CopyFromStream(&plain, 0), static_cast<int64_t>(data.size()));
  EXPECT_EQ(Contents(m), data);
  EXPECT_EQ(done, (std::vector<int64_t>{0, 0xF000, 0xF000 + 100}));

  platform::TStringStream text;
  m.SetPosition(5);
  EXPECT_EQ(m.CopyToStream(&text, 0), static_cast<int64_t>(data.size()));
  EXPECT_EQ(text.DataString(), std::string(data.begin(), data.end()));
  m.SetPosition(4);
  platform::TStringStream some;
  EXPECT_EQ(m.CopyToStream(&some, 3), 3);
  EXPECT_EQ(some.DataString(), std::string(data.begin() + 4, data.begin() + 7));
  EXPECT_EQ(m.CopyToStream(&some, -1), 0);
}

// MoveData against memmove, over both directions, overlapping and not, across buffer steps.
TEST(HugeStreams, MoveDataMatchesMemmove) {
  struct Case {
    int64_t from, to, count;
  };
  const int64_t big = 0x80000;
  const Case cases[] = {{0, 10, 100},        {10, 0, 100},          {0, 50, 100},    {50, 0, 100},
                        {100, 100, 50},      {5, 9, 0},             {5, 9, -3},      {0, big / 2, big + 7},
                        {big / 2, 0, big + 7}, {3, 3 + 2 * big + 1, 11}, {0, 1, 2 * big + 3}};
  for (const Case& c : cases) {
    const size_t total = static_cast<size_t>(3 * big + 64);
    auto ref = Pattern(total, static_cast<uint32_t>(c.from * 31 + c.to));
    TMemoryStream64 m;
    Fill(m, ref);
    int calls = 0;
    m.OnProgress = [&](platform::TObject*, int64_t, int64_t t) {
      ++calls;
      EXPECT_EQ(t, c.count);
    };
    m.MoveData(c.from, c.to, c.count);
    if (c.count > 0 && c.from != c.to)
      std::memmove(ref.data() + c.to, ref.data() + c.from, static_cast<size_t>(c.count));
    else
      EXPECT_EQ(calls, 0);
    EXPECT_EQ(Contents(m), ref) << c.from << " -> " << c.to << " x " << c.count;
  }
}

TEST(HugeStreams, FileStreams) {
  const std::string dir = kdtest::TempDir();
  const std::string path = dir + "/data.bin";
  ExpectMessage([&] { TFileStream64 f(dir + "/missing.bin", platform::fmOpenRead); },
                "Cannot open file " + dir + "/missing.bin");
  ExpectMessage([&] { TFileStream64 f(dir + "/no/such/folder.bin", platform::fmCreate); },
                "Cannot create file " + dir + "/no/such/folder.bin");
  ExpectMessage([&] { TFileStream64 f(dir, platform::fmOpenRead); }, "Cannot open file " + dir);
  const auto data = Pattern(70000, 4);
  {
    TFileStream64 f(path, platform::fmCreate);
    Fill(f, data);
    f.SetPosition(10);
    EXPECT_EQ(f.GetSize(), 70000);
    EXPECT_EQ(f.GetPosition(), 10);
    f.MoveData(0, 30000, 40000);
    f.SetSize(69000);
    EXPECT_EQ(f.GetSize(), 69000);
    EXPECT_THROW(f.SetSize(-1), platform::EOSError);
  }
  auto expected = data;
  std::memmove(expected.data() + 30000, expected.data(), 40000);
  expected.resize(69000);
  EXPECT_EQ(kdtest::ReadFileBytes(path), expected);
  {
    // fmCreate truncates an existing file; a read-only handle cannot write.
    TFileStream64 r(path, platform::fmOpenRead | platform::fmShareDenyNone);
    EXPECT_EQ(r.GetSize(), 69000);
    uint8_t b = 1;
    EXPECT_EQ(r.Write(&b, 1), 0);
    EXPECT_EQ(r.Seek(0, 9), -1);
    TFileStream64 c(path, platform::fmCreate);
    EXPECT_EQ(c.GetSize(), 0);
  }
  // A stream over a borrowed handle leaves it open.
  {
    TFileStream64 f(path, platform::fmOpenReadWrite);
    THandleStream64 h(f.Handle());
    const uint8_t x[3] = {1, 2, 3};
    h.WriteBuffer(x, 3);
    EXPECT_EQ(f.GetSize(), 3);
  }
}

// A capacity below the size would leave reads copying past the block: it is held at the size.
TEST(HugeStreams, CapacityNeverFallsBelowTheSize) {
  TMemoryStream64 m;
  std::vector<uint8_t> data(20000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 31 + 5);
  m.WriteBuffer(data.data(), int32_t(data.size()));
  for (int64_t asked : {int64_t(1), int64_t(0), int64_t(-5), int64_t(19999), int64_t(8192)}) {
    m.SetCapacity(asked);
    EXPECT_GE(m.Capacity(), m.GetSize()) << asked;
    EXPECT_EQ(m.Capacity(), 24576) << asked;  // 20000 rounded up to the 8192-byte step
  }
  EXPECT_EQ(m.GetSize(), 20000);
  std::vector<uint8_t> back(20000);
  m.SetPosition(0);
  m.ReadBuffer(back.data(), 20000);
  EXPECT_EQ(back, data);
  // Above the size it grows as asked; shrinking the size first lets the capacity follow.
  m.SetCapacity(40000);
  EXPECT_EQ(m.Capacity(), 40960);
  m.SetSize(100);
  EXPECT_EQ(m.Capacity(), 8192);
  m.SetCapacity(1);
  EXPECT_EQ(m.Capacity(), 8192);
  EXPECT_EQ(m.GetSize(), 100);
  m.Clear();
  EXPECT_EQ(m.Capacity(), 0);
  m.SetCapacity(0);
  EXPECT_EQ(m.Capacity(), 0);
}

TEST(HugeStreams, AWriteFarPastTheLimitRaisesAndLeavesTheStreamAsItWas) {
  TMemoryStream64 m;
  const auto data = Pattern(100, 9);
  Fill(m, data);
  const uint8_t bytes[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  for (int64_t pos : {std::numeric_limits<int64_t>::max() - 4, std::numeric_limits<int64_t>::max(),
                      std::numeric_limits<int64_t>::max() - 16, int64_t(1) << 40,
                      int64_t(std::numeric_limits<int32_t>::max()) - 15}) {
    m.Seek(pos, platform::soFromBeginning);
    ExpectMessage([&] { m.Write(bytes, 16); }, "Out of memory while expanding memory stream");
    EXPECT_EQ(m.GetSize(), 100) << pos;
  }
  // Nothing was written anywhere: the stream holds what it held.
  EXPECT_EQ(Contents(m), data);
}

TEST(HugeStreams, SeeksFromTheCurrentPositionOrTheEndSaturateInsteadOfWrapping) {
  TMemoryStream64 m;
  Fill(m, Pattern(10, 3));
  const int64_t max = std::numeric_limits<int64_t>::max(), min = std::numeric_limits<int64_t>::min();
  m.Seek(max - 5, platform::soFromBeginning);
  EXPECT_EQ(m.Seek(100, platform::soFromCurrent), max);
  EXPECT_EQ(m.Seek(max, platform::soFromCurrent), max);
  const uint8_t one = 1;
  ExpectMessage([&] { m.Write(&one, 1); }, "Out of memory while expanding memory stream");
  EXPECT_EQ(m.Seek(max, platform::soFromEnd), max);
  m.Seek(-5, platform::soFromBeginning);
  EXPECT_EQ(m.Seek(min, platform::soFromCurrent), min);
  EXPECT_EQ(m.Seek(min, platform::soFromEnd), min + 10);
  uint8_t b = 0;
  EXPECT_EQ(m.Read(&b, 1), 0);
  EXPECT_EQ(m.Write(&one, 1), 0);
  EXPECT_EQ(m.Seek(-10, platform::soFromEnd), 0);
  EXPECT_EQ(Contents(m), Pattern(10, 3));
}

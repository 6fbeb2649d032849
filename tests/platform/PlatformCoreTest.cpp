// Exact-value tests of the platform core: rounding, integer and float text conversion,
// windows-1252 text, and the class library's streams.
#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <filesystem>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/Classes.h"
#include "platform/Exceptions.h"
#include "platform/Rounding.h"
#include "platform/SysUtils.h"
#include "platform/TextCodec.h"
#include "tests/common/TestSupport.h"

using namespace platform;

namespace {

constexpr int64_t kI64Max = std::numeric_limits<int64_t>::max();
constexpr int64_t kI64Min = std::numeric_limits<int64_t>::min();
constexpr int32_t kI32Max = std::numeric_limits<int32_t>::max();
constexpr int32_t kI32Min = std::numeric_limits<int32_t>::min();

template <typename Fn>
void ExpectMessage(Fn fn, const std::string& message) {
  try {
    fn();
    ADD_FAILURE() << "no exception, expected \"" << message << "\"";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, message);
  }
}

}  // namespace

TEST(PlatformRounding, RoundHalvesToEven) {
  const std::pair<double, int64_t> cases[] = {
      {0.5, 0},   {1.5, 2},   {2.5, 2},    {3.5, 4},   {-0.5, 0},         {-1.5, -2}, {-2.5, -2},
      {-3.5, -4}, {2.4999, 2}, {2.5001, 3}, {-2.5001, -3}, {0.49999999999999994, 0}, {1e15 + 0.5, 1000000000000000}};
  for (const auto& [x, want] : cases) {
    EXPECT_EQ(Round(x), want) << x;
    EXPECT_EQ(Round(static_cast<long double>(x)), want) << x;
  }
  EXPECT_EQ(Round(1e300), kI64Max);
  EXPECT_EQ(Round(-1e300), kI64Min);
  EXPECT_EQ(Round(std::numeric_limits<double>::infinity()), kI64Max);
  EXPECT_EQ(Round(std::nan("")), 0);
}

TEST(PlatformRounding, TruncFloorCeilSaturate) {
  EXPECT_EQ(Trunc(2.7), 2);
  EXPECT_EQ(Trunc(-2.7), -2);
  EXPECT_EQ(Trunc(1e30), kI64Max);
  EXPECT_EQ(Trunc(-1e30), kI64Min);
  EXPECT_EQ(Trunc(std::nan("")), 0);
  EXPECT_EQ(Trunc(9007199254740993.0L), 9007199254740993);
  EXPECT_EQ(Floor(-0.5L), -1);
  EXPECT_EQ(Floor(2.999L), 2);
  EXPECT_EQ(Ceil(-0.5L), 0);
  EXPECT_EQ(Ceil(2.001L), 3);
  EXPECT_EQ(Floor(3e9L), kI32Max);
  EXPECT_EQ(Floor(-3e9L), kI32Min);
  EXPECT_EQ(Ceil(3e9L), kI32Max);
  EXPECT_EQ(Ceil(-3e9L), kI32Min);
  EXPECT_EQ(Floor(static_cast<long double>(kI32Max)), kI32Max);
  EXPECT_EQ(Ceil(static_cast<long double>(kI32Min)), kI32Min);
  EXPECT_EQ(Floor(std::nanl("")), 0);
  EXPECT_EQ(Ceil(std::nanl("")), 0);
}

TEST(PlatformRounding, MulDivRoundsHalfAwayFromZero) {
  struct Case {
    int32_t a, b, c, want;
  };
  const Case cases[] = {{5, 1, 2, 3},         {-5, 1, 2, -3},    {5, -1, 2, -3},    {-5, -1, 2, 3},
                        {7, 1, -2, -4},       {3, 1, 2, 2},      {1, 1, 3, 0},      {2, 1, 3, 1},
                        {-2, 1, 3, -1},       {100, 3, 7, 43},   {kI32Max, kI32Max, kI32Max, kI32Max},
                        {kI32Min, 1, 1, kI32Min}, {65536, 65536, 65536, 65536}, {0, 5, 3, 0}};
  for (const Case& c : cases) EXPECT_EQ(MulDiv(c.a, c.b, c.c), c.want) << c.a << "*" << c.b << "/" << c.c;
  // A zero divisor and an overflowing result both give -1.
  EXPECT_EQ(MulDiv(5, 5, 0), -1);
  EXPECT_EQ(MulDiv(kI32Max, 2, 1), -1);
  EXPECT_EQ(MulDiv(kI32Min, -1, 1), -1);
  EXPECT_EQ(MulDiv(kI32Min, 2, 1), -1);
}

TEST(PlatformSysUtils, IntToHex) {
  EXPECT_EQ(IntToHex(255, 2), "FF");
  EXPECT_EQ(IntToHex(255, 4), "00FF");
  EXPECT_EQ(IntToHex(0xABC, 1), "ABC");
  EXPECT_EQ(IntToHex(0, 0), "0");
  EXPECT_EQ(IntToHex(-1, 2), "FFFFFFFF");
  EXPECT_EQ(IntToHex(-2, 8), "FFFFFFFE");
  EXPECT_EQ(IntToHex(0x123456789A, 4), "123456789A");
  EXPECT_EQ(IntToHex(-0x100000000LL, 1), "FFFFFFFF00000000");
}

TEST(PlatformSysUtils, StrToIntFormsAndMessage) {
  const std::pair<const char*, int32_t> good[] = {
      {"123", 123},        {"-123", -123},   {"+5", 5},     {"$FF", 255},    {"$ff", 255},
      {"0x1A", 26},        {"0X1a", 26},     {"-$10", -16}, {"$FFFFFFFF", -1}, {"$80000000", kI32Min},
      {"2147483647", kI32Max}, {"-2147483648", kI32Min}, {"  42", 42}, {"007", 7}};
  for (const auto& [text, want] : good) EXPECT_EQ(StrToInt(text), want) << text;
  for (const char* bad : {"", " ", "12a", "2147483648", "-2147483649", "$", "0x", "1.0", "$1G", "--1", "$100000000"}) {
    ExpectMessage([&] { StrToInt(bad); }, std::string("'") + bad + "' is not a valid integer value");
    int32_t v = 77;
    EXPECT_FALSE(TryStrToInt(bad, v)) << bad;
    EXPECT_EQ(StrToIntDef(bad, -9), -9);
  }
  int64_t big = 0;
  EXPECT_TRUE(TryStrToInt64("-9223372036854775808", big));
  EXPECT_EQ(big, kI64Min);
  EXPECT_FALSE(TryStrToInt64("9223372036854775808", big));
}

TEST(PlatformSysUtils, FloatToStrGeneralFormat) {
  const std::pair<long double, const char*> cases[] = {
      {12.5L, "12.5"},
      {static_cast<double>(0.1f), "0.100000001490116"},
      {0.1, "0.1"},
      {1E-5L, "1E-5"},
      {0.0001L, "0.0001"},
      {0.001234L, "0.001234"},
      {1E20L, "1E20"},
      {1E15L, "1E15"},
      {999999999999999.0L, "999999999999999"},
      {123456789012345678.0L, "1.23456789012346E17"},
      {1.5E-7L, "1.5E-7"},
      {-2.5L, "-2.5"},
      {100.0L, "100"},
      {0.0L, "0"},
      {1.0L / 3.0L, "0.333333333333333"},
      {2.0L / 3.0L, "0.666666666666667"},
      {-1E-10L, "-1E-10"},
      {5.905512L, "5.905512"},
  };
  for (const auto& [value, want] : cases) EXPECT_EQ(FloatToStr(value), want);
}

TEST(PlatformSysUtils, TryStrToFloatGrammar) {
  const std::pair<const char*, long double> good[] = {
      {"1.5", 1.5L}, {"-1.5", -1.5L}, {"+2", 2.0L}, {"1e5", 1e5L}, {"1E+05", 1e5L}, {"2.5e-3", 2.5e-3L},
      {".5", 0.5L},  {"5.", 5.0L},    {" 7 ", 7.0L}, {"-.25", -0.25L}, {"0", 0.0L}};
  for (const auto& [text, want] : good) {
    long double v = -1;
    ASSERT_TRUE(TryStrToFloat(text, v)) << text;
    EXPECT_EQ(v, want) << text;
  }
  for (const char* bad : {"", ".", "e5", "1e", "1e+", "1.2.3", "1,5", "0x10", "inf", "nan", "1 2", "--1", "1e5000"}) {
    long double v = 42;
    EXPECT_FALSE(TryStrToFloat(bad, v)) << bad;
    EXPECT_EQ(v, 42) << bad;
  }
  ExpectMessage([] { StrToFloat("abc"); }, "'abc' is not a valid floating point value");
}

TEST(PlatformTextCodec, Windows1252AndUtf8) {
  EXPECT_EQ(Cp1252ToUtf8("\x80"), "\xE2\x82\xAC");
  EXPECT_EQ(Cp1252ToUtf8("\x81"), "\xC2\x81");
  EXPECT_EQ(Cp1252ToUtf8("\x8A\x9F"), "\xC5\xA0\xC5\xB8");
  EXPECT_EQ(Cp1252ToUtf8("\x93hi\x94"), "\xE2\x80\x9Chi\xE2\x80\x9D");
  EXPECT_EQ(Cp1252ToUtf8("caf\xE9\xA0"), "caf\xC3\xA9\xC2\xA0");
  // Every byte maps to a code point and back, the 0x80-0x9F block included.
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  bool lossy = true;
  EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(all), &lossy), all);
  EXPECT_FALSE(lossy);
  for (int b = 0x80; b < 0xA0; ++b) EXPECT_EQ(CodePointToCp1252(Cp1252ToCodePoint(static_cast<uint8_t>(b))), b);
  // Characters without a windows-1252 byte, and malformed UTF-8, become '?'.
  EXPECT_EQ(Utf8ToCp1252("\xE6\x97\xA5x", &lossy), "?x");
  EXPECT_TRUE(lossy);
  EXPECT_EQ(Utf8ToCp1252("\xC2\x80"), "?");         // U+0080 is not the euro sign's byte
  EXPECT_EQ(Utf8ToCp1252("a\xC3"), "a?");           // cut short
  EXPECT_EQ(Utf8ToCp1252("\xC0\x80"), "??");        // overlong
  EXPECT_EQ(Utf8ToCp1252("\xED\xA0\x80"), "???");   // a surrogate
  EXPECT_EQ(Utf8ToCp1252("\xEF\xBF\xBD", &lossy), "?");
  EXPECT_TRUE(lossy);
  EXPECT_EQ(Utf8ToCp1252("\xE2\x82\xAC 5"), "\x80 5");
  EXPECT_EQ(CodePointToCp1252(0x2603), -1);
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16("\xF0\x9F\x98\x80\xC3\xA9")), "\xF0\x9F\x98\x80\xC3\xA9");
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

// A stream written piece by piece (an archive stream read in chunks) must not be reallocated
// once per piece: 16 MB in 4 KB pieces took 2048 reallocations, each copying everything so far.
TEST(PlatformClasses, MemoryStreamGrowsGeometrically) {
  TMemoryStream m;
  std::vector<uint8_t> piece(4096, 7);
  int growths = 0;
  int64_t cap = m.Capacity();
  for (int i = 0; i < 4096; ++i) {
    m.WriteBuffer(piece.data(), int32_t(piece.size()));
    if (m.Capacity() != cap) ++growths, cap = m.Capacity();
  }
  EXPECT_EQ(m.GetSize(), int64_t(4096) * 4096);
  EXPECT_LE(growths, 40);
  EXPECT_LE(m.Capacity(), m.GetSize() * 2);
  const auto* p = static_cast<const uint8_t*>(m.Memory());
  EXPECT_EQ(p[0], 7);
  EXPECT_EQ(p[m.GetSize() - 1], 7);
}

TEST(PlatformClasses, MemoryStreamGrowthGapAndLimit) {
  TMemoryStream m;
  const uint8_t one = 9;
  m.WriteBuffer(&one, 1);
  EXPECT_EQ(m.Capacity(), 8192);
  std::vector<uint8_t> block(8192, 3);
  m.WriteBuffer(block.data(), 8192);
  EXPECT_EQ(m.Capacity(), 16384);
  // Bytes once written and then cut off must read as zeros when a gap covers them again.
  m.SetSize(2);
  m.Seek(50, soFromBeginning);
  m.WriteBuffer(&one, 1);
  std::vector<uint8_t> back(51);
  m.SetPosition(0);
  m.ReadBuffer(back.data(), 51);
  for (int i = 2; i < 50; ++i) ASSERT_EQ(back[i], 0) << i;
  m.SetSize(60);
  m.Seek(51, soFromBeginning);
  uint8_t z = 1;
  m.ReadBuffer(&z, 1);
  EXPECT_EQ(z, 0);
  ExpectMessage([&] { m.SetSize(int64_t(1) << 31); }, "Out of memory while expanding memory stream");
  m.Seek(kI32Max, soFromBeginning);
  ExpectMessage([&] { m.Write(&one, 1); }, "Out of memory while expanding memory stream");
  EXPECT_EQ(m.GetSize(), 60);
  m.SetPosition(-1);
  EXPECT_EQ(m.Read(&z, 1), 0);
  EXPECT_EQ(m.Write(&one, 1), 0);
  ExpectMessage([&] { m.ReadBuffer(&z, 1); }, "Stream read error");
  m.Clear();
  EXPECT_EQ(m.Capacity(), 0);
  EXPECT_EQ(m.GetSize(), 0);

  // A string stream has the same limit, for writes as for SetSize.
  TStringStream t("ab");
  t.Seek(int64_t(1) << 40, soFromBeginning);
  ExpectMessage([&] { t.Write(&one, 1); }, "Out of memory while expanding memory stream");
  t.Seek(4, soFromBeginning);
  t.WriteBuffer(&one, 1);
  EXPECT_EQ(t.DataString(), std::string("ab\0\0\x09", 5));
}

TEST(PlatformClasses, FileStreamErrorsAndCopyFrom) {
  const std::string dir = kdtest::TempDir();
  ExpectMessage([&] { TFileStream f(dir + "/none.bin", fmOpenRead); }, "Cannot open file " + dir + "/none.bin");
  ExpectMessage([&] { TFileStream f(dir + "/x/y.bin", fmCreate); }, "Cannot create file " + dir + "/x/y.bin");
  ExpectMessage([&] { TFileStream f(dir, fmOpenReadWrite); }, "Cannot open file " + dir);
  try {
    TFileStream f(dir + "/none.bin", fmOpenRead);
  } catch (const EFOpenError&) {
  } catch (...) {
    ADD_FAILURE() << "not EFOpenError";
  }

  TStringStream src("0123456789");
  src.SetPosition(7);
  {
    TFileStream f(dir + "/copy.bin", fmCreate);
    // Count 0 copies the whole source from its start.
    EXPECT_EQ(f.CopyFrom(&src, 0), 10);
    src.SetPosition(2);
    EXPECT_EQ(f.CopyFrom(&src, 3), 3);
    EXPECT_EQ(f.CopyFrom(&src, -1), 0);
    src.SetPosition(9);
    ExpectMessage([&] { f.CopyFrom(&src, 5); }, "Stream read error");
    EXPECT_EQ(f.GetSize(), 13);
  }
  const auto bytes = kdtest::ReadFileBytes(dir + "/copy.bin");
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "0123456789234");
  TFileStream r(dir + "/copy.bin", fmOpenRead);
  uint8_t b = 0;
  ExpectMessage([&] { r.WriteBuffer(&b, 1); }, "Stream write error");
  r.SetPosition(3);
  EXPECT_EQ(r.GetSize(), 13);
  EXPECT_EQ(r.GetPosition(), 3);
  EXPECT_THROW(r.SetSize(2), EOSError);
}

namespace {

// Runs F in a child process whose files may not grow beyond Limit bytes (as on a full disk: a
// write past it fails) and hands back what F returned or the message it raised.
std::string WithFileSizeLimit(rlim_t Limit, const std::function<std::string()>& F) {
  int fds[2];
  if (::pipe(fds) != 0) return "no pipe";
  pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    std::string out;
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit lim{Limit, Limit};
    if (::setrlimit(RLIMIT_FSIZE, &lim) != 0) {
      out = "no limit";
    } else {
      try {
        out = F();
      } catch (const Exception& e) {
        out = e.Message;
      }
    }
    [[maybe_unused]] ssize_t n = ::write(fds[1], out.data(), out.size());
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string out;
  char buf[256];
  for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return out;
}

}  // namespace

// Saving a memory stream to a file replaces the file only once the whole stream is written: a
// write that fails halfway leaves the file that was there byte for byte.
TEST(PlatformClasses, MemoryStreamSaveToFileKeepsTheOldFileWhenWritingFails) {
  const std::string folder = kdtest::TempDir() + "/memsave";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder + "/real");
  const std::string keep = folder + "/keep.dat";
  std::vector<uint8_t> old(300), fresh(5000);
  for (size_t i = 0; i < old.size(); ++i) old[i] = static_cast<uint8_t>(i * 7);
  for (size_t i = 0; i < fresh.size(); ++i) fresh[i] = static_cast<uint8_t>(i * 13 + 1);
  kdtest::WriteFileBytes(keep, old);
  ::chmod(keep.c_str(), 0640);
  TMemoryStream s;
  s.WriteBuffer(fresh.data(), static_cast<int32_t>(fresh.size()));
  s.SetPosition(123);  // the whole stream is saved, wherever its position is
  auto save = [&](const std::string& Name) {
    return [&s, Name] {
      s.SaveToFile(Name);
      return std::string("saved");
    };
  };
  // The disk fills after 1000 bytes.
  EXPECT_EQ(WithFileSizeLimit(1000, save(keep)), "Stream write error");
  EXPECT_EQ(kdtest::ReadFileBytes(keep), old);
  EXPECT_EQ(kdtest::FileMode(keep), 0640u);
  EXPECT_EQ(kdtest::DotFileCount(folder), 0);
  // Room enough: the file is replaced and keeps its permissions.
  EXPECT_EQ(WithFileSizeLimit(8000, save(keep)), "saved");
  EXPECT_EQ(kdtest::ReadFileBytes(keep), fresh);
  EXPECT_EQ(kdtest::FileMode(keep), 0640u);
  EXPECT_EQ(s.GetPosition(), 123);
  // A symbolic link is followed: it stays a link, and a failed save leaves the file it names.
  const std::string link = folder + "/link.dat", real = folder + "/real/target.dat";
  std::filesystem::create_symlink("real/target.dat", link);
  kdtest::WriteFileBytes(real, old);
  EXPECT_EQ(WithFileSizeLimit(1000, save(link)), "Stream write error");
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(kdtest::ReadFileBytes(real), old);
  s.SaveToFile(link);
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(kdtest::ReadFileBytes(real), fresh);
  EXPECT_EQ(kdtest::DotFileCount(folder) + kdtest::DotFileCount(folder + "/real"), 0);
  // A new file, and an empty stream.
  TMemoryStream empty;
  empty.SaveToFile(folder + "/new.dat");
  EXPECT_TRUE(kdtest::ReadFileBytes(folder + "/new.dat").empty());
  ExpectMessage([&] { s.SaveToFile(folder + "/missing/x.dat"); }, "Cannot create file " + folder + "/missing/x.dat");
  EXPECT_THROW(s.SaveToFile(folder + "/missing/x.dat"), EFCreateError);
}

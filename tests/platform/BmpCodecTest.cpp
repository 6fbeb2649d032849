// BMP reader and writer: every variant ImageMagick writes decodes to the pixels ImageMagick
// reads back; hand-made files cover what it does not write (RLE4, top-down, zero alpha);
// damaged headers fail cleanly with their message.
#include "platform/BmpCodec.h"
#include "platform/Graphics.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>

#include "tests/common/TestSupport.h"

using namespace platform;

namespace {

bool HaveConvert() { return std::system("command -v convert >/dev/null 2>&1") == 0; }

std::string FixtureDir() {
  static std::string dir = [] {
    std::string d = kdtest::TempDir() + "/bmp";
    std::string cmd = "sh '" + kdtest::SourcePath("tools/make-bmp-fixtures.sh") + "' '" + d + "' >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0) return std::string();
    return d;
  }();
  return dir;
}

TBmpImage DecodeBytes(const std::vector<uint8_t>& b, const TBmpLimits& limits = {}) {
  return DecodeBmp(b.data(), b.size(), limits);
}

// ImageMagick's raw RGBA as 0xAARRGGBB words.
std::vector<uint32_t> ReadRgba(const std::string& path) {
  std::vector<uint8_t> raw = kdtest::ReadFileBytes(path);
  std::vector<uint32_t> out(raw.size() / 4);
  for (size_t i = 0; i < out.size(); ++i)
    out[i] = (uint32_t{raw[4 * i + 3]} << 24) | (uint32_t{raw[4 * i]} << 16) | (uint32_t{raw[4 * i + 1]} << 8) |
             raw[4 * i + 2];
  return out;
}

// A little-endian BMP assembled field by field.
struct BmpBuilder {
  std::vector<uint8_t> b;
  void u8(uint8_t v) { b.push_back(v); }
  void u16(uint32_t v) {
    u8(v & 0xFF);
    u8((v >> 8) & 0xFF);
  }
  void u32(uint32_t v) {
    u16(v & 0xFFFF);
    u16(v >> 16);
  }
  // File header and a 40-byte info header; the offset is patched by Finish.
  void Info(int32_t w, int32_t h, int bpp, uint32_t comp, uint32_t clrUsed = 0) {
    u8('B');
    u8('M');
    u32(0);
    u32(0);
    u32(0);
    u32(40);
    u32(static_cast<uint32_t>(w));
    u32(static_cast<uint32_t>(h));
    u16(1);
    u16(static_cast<uint32_t>(bpp));
    u32(comp);
    u32(0);
    u32(0);
    u32(0);
    u32(clrUsed);
    u32(0);
  }
  void StartPixels() {
    uint32_t off = static_cast<uint32_t>(b.size());
    std::memcpy(&b[10], &off, 4);
  }
  std::vector<uint8_t> Finish() {
    uint32_t size = static_cast<uint32_t>(b.size());
    std::memcpy(&b[2], &size, 4);
    return b;
  }
};

std::string ErrorOf(const std::vector<uint8_t>& bytes) {
  try {
    DecodeBytes(bytes);
  } catch (const EBmpError& e) {
    return e.Message;
  }
  return "no error";
}

}  // namespace

TEST(BmpCodec, EveryImageMagickVariantMatchesPixelByPixel) {
  if (!HaveConvert()) GTEST_SKIP() << "ImageMagick is not installed";
  std::string dir = FixtureDir();
  ASSERT_FALSE(dir.empty()) << "tools/make-bmp-fixtures.sh failed";
  struct Case {
    const char* name;
    int bpp;
    bool alpha;
  };
  const Case cases[] = {{"b1", 1, false},      {"b4", 4, false},      {"b8", 8, false},
                        {"rle8", 8, false},    {"b24", 24, false},    {"os2_24", 24, false},
                        {"os2_8", 8, false},   {"b16_565", 16, false}, {"b16_555", 16, false},
                        {"b16_4444", 16, true}, {"b32_v5", 32, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> file = kdtest::ReadFileBytes(dir + "/" + c.name + ".bmp");
    TBmpImage img = DecodeBytes(file);
    EXPECT_EQ(img.Width, 23);
    EXPECT_EQ(img.Height, 9);
    EXPECT_EQ(img.BitCount, c.bpp);
    EXPECT_EQ(img.HasAlpha, c.alpha);
    std::vector<uint32_t> expected = ReadRgba(dir + "/" + c.name + ".rgba");
    if (std::string(c.name) == "b16_4444") {
      // ImageMagick widens 4-bit channels by a shift (15 -> 240); bits are replicated here, so
      // that 15 is 255 and an opaque pixel stays opaque.
      for (uint32_t& v : expected) {
        ASSERT_EQ(v & 0x0F0F0F0F, 0u);
        v |= v >> 4;
      }
    }
    ASSERT_EQ(img.Pixels.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
      ASSERT_EQ(img.Pixels[i], expected[i]) << "pixel " << i % 23 << "," << i / 23;
  }
}

TEST(BmpCodec, WrittenFilesRoundTripAndImageMagickReadsThem) {
  std::vector<uint32_t> px(7 * 3);
  for (size_t i = 0; i < px.size(); ++i) px[i] = static_cast<uint32_t>(0x10203040u * (i + 1) + i);
  for (int bpp : {32, 24}) {
    SCOPED_TRACE(bpp);
    std::vector<uint8_t> file = EncodeBmp(7, 3, px.data(), bpp);
    EXPECT_EQ(file.size(), 54u + (bpp == 32 ? 7 * 4 : 24) * 3u);  // 21 bytes padded to 24
    TBmpImage img = DecodeBytes(file);
    ASSERT_EQ(img.Width, 7);
    ASSERT_EQ(img.Height, 3);
    for (size_t i = 0; i < px.size(); ++i)
      ASSERT_EQ(img.Pixels[i], bpp == 32 ? px[i] : (px[i] | 0xFF000000u)) << i;
    if (HaveConvert()) {
      std::string path = kdtest::TempDir() + "/ours" + std::to_string(bpp) + ".bmp";
      kdtest::WriteFileBytes(path, file);
      std::string cmd = "convert '" + path + "' -depth 8 'rgba:" + path + ".rgba'";
      ASSERT_EQ(std::system(cmd.c_str()), 0);
      std::vector<uint32_t> im = ReadRgba(path + ".rgba");
      ASSERT_EQ(im.size(), px.size());
      for (size_t i = 0; i < px.size(); ++i) {
        // ImageMagick keeps the colour of a fully transparent pixel as written.
        EXPECT_EQ(im[i], bpp == 32 ? px[i] : (px[i] | 0xFF000000u)) << i;
      }
    }
  }
}

TEST(BmpCodec, StreamReadsOneFileAndStopsAtItsEnd) {
  uint32_t px[4] = {0xFF112233, 0x80445566, 0x00778899, 0xFFAABBCC};
  std::vector<uint8_t> file = EncodeBmp(2, 2, px, 32);
  TMemoryStream s;
  s.WriteBuffer(file.data(), static_cast<int32_t>(file.size()));
  s.WriteBuffer("tail", 4);
  s.SetPosition(0);
  TBmpImage img = ReadBmp(&s);
  EXPECT_EQ(s.GetPosition(), static_cast<int64_t>(file.size()));
  EXPECT_EQ(img.Pixels, std::vector<uint32_t>(px, px + 4));
  EXPECT_TRUE(img.HasAlpha);
}

// A stated file size too small for the file is read as 0: the rest of the stream is the file.
TEST(BmpCodec, StatedSizeTooSmallTakesTheRestOfTheStream) {
  std::vector<uint8_t> rows(16 * 7);
  for (size_t i = 0; i < rows.size(); ++i) rows[i] = static_cast<uint8_t>(i * 7 % 256);
  std::vector<uint32_t> pal(256);
  for (uint32_t i = 0; i < 256; ++i) pal[i] = i * 0x010203u & 0xFFFFFFu;
  const std::vector<uint8_t> file = EncodeBmpIndexed(13, 7, rows.data(), 16, 8, pal);
  const TBmpImage want = DecodeBytes(file);
  ASSERT_EQ(want.Width, 13);
  for (uint32_t stated : {54u, 14u + 40u + 1024u, uint32_t(file.size()) - 1, uint32_t(file.size())}) {
    std::vector<uint8_t> bad = file;
    std::memcpy(&bad[2], &stated, 4);
    const bool whole = stated == file.size();  // a true size still ends the file before what follows
    if (whole) bad.insert(bad.end(), {'t', 'a', 'i', 'l'});
    TMemoryStream s;
    s.WriteBuffer(bad.data(), static_cast<int32_t>(bad.size()));
    s.SetPosition(0);
    EXPECT_EQ(ReadBmp(&s).Pixels, want.Pixels) << stated;
    EXPECT_EQ(s.GetPosition(), static_cast<int64_t>(whole ? file.size() : bad.size())) << stated;
    // The picture class reads it too, and writes it back whole.
    s.SetPosition(0);
    TBitmap b;
    b.LoadFromStream(&s);
    TMemoryStream out;
    b.SaveToStream(&out);
    out.SetPosition(0);
    EXPECT_EQ(ReadBmp(&out).Pixels, want.Pixels) << stated;
  }
  // Run-length data ends where its codes end the picture: a stated size equal to the pixel
  // offset, or one that cuts the runs, is too small as well; an exact one still ends the file.
  for (uint32_t comp : {1u, 2u}) {
    BmpBuilder b;
    b.Info(8, 4, comp == 1 ? 8 : 4, comp, 4);
    for (uint32_t c : {0x000000u, 0x0000FFu, 0x00FF00u, 0xFF0000u}) b.u32(c);
    b.StartPixels();
    const uint32_t offBits = static_cast<uint32_t>(b.b.size());
    const std::vector<uint8_t> runs =
        comp == 1 ? std::vector<uint8_t>{8, 1, 0, 0, 0, 8, 1, 2, 3, 1, 2, 3, 1, 2, 0, 0, 4, 3, 4, 2, 0, 0, 8, 1, 0, 1}
                  : std::vector<uint8_t>{8, 0x12, 0, 0, 0, 8, 0x12, 0x31, 0x23, 0x12, 0, 0, 4, 0x33, 4, 0x22, 0, 0,
                                         8, 0x11, 0, 1};
    for (uint8_t v : runs) b.u8(v);
    const std::vector<uint8_t> file = b.Finish();
    const TBmpImage want = DecodeBytes(file);
    ASSERT_EQ(want.Pixels.size(), 32u);
    for (uint32_t stated : {uint32_t(file.size()), offBits, offBits + uint32_t(runs.size()) / 2, 0u}) {
      SCOPED_TRACE("RLE" + std::to_string(comp == 1 ? 8 : 4) + " stated " + std::to_string(stated));
      std::vector<uint8_t> bad = file;
      std::memcpy(&bad[2], &stated, 4);
      const bool whole = stated == file.size();
      if (whole) bad.insert(bad.end(), {'t', 'a', 'i', 'l'});
      TMemoryStream s;
      s.WriteBuffer(bad.data(), static_cast<int32_t>(bad.size()));
      s.SetPosition(0);
      TBmpImage got;
      EXPECT_NO_THROW(got = ReadBmp(&s));
      EXPECT_EQ(got.Pixels, want.Pixels);
      EXPECT_EQ(s.GetPosition(), static_cast<int64_t>(whole ? file.size() : bad.size()));
    }
  }
  // Codes that stop between two codes before the picture ends, without an end-of-bitmap code,
  // leave the rest at colour 0: the stated size that ends there is the file's, whatever follows.
  for (const auto& [comp, runs] : {std::pair{1u, std::vector<uint8_t>{8, 1, 0, 0}}, {1u, {8, 1, 0, 2, 1, 1}},
                                   {2u, {0, 4, 0x12, 0x31, 3, 0x22}}}) {
    BmpBuilder b;
    b.Info(8, 4, comp == 1 ? 8 : 4, comp, 4);
    for (uint32_t c : {0x000000u, 0x0000FFu, 0x00FF00u, 0xFF0000u}) b.u32(c);
    b.StartPixels();
    for (uint8_t v : runs) b.u8(v);
    std::vector<uint8_t> file = b.Finish();
    const TBmpImage want = DecodeBytes(file);
    const size_t size = file.size();
    file.insert(file.end(), {'t', 'a', 'i', 'l'});
    TMemoryStream s;
    s.WriteBuffer(file.data(), static_cast<int32_t>(file.size()));
    s.SetPosition(0);
    EXPECT_EQ(ReadBmp(&s).Pixels, want.Pixels) << runs.size();
    EXPECT_EQ(s.GetPosition(), static_cast<int64_t>(size)) << runs.size();
  }
}

TEST(BmpCodec, ThirtyTwoBitFileWithAllAlphaZeroLoadsOpaque) {
  uint32_t px[3] = {0x00112233, 0x00445566, 0x00778899};
  TBmpImage img = DecodeBytes(EncodeBmp(3, 1, px, 32));
  EXPECT_FALSE(img.HasAlpha);
  EXPECT_EQ(img.Pixels, (std::vector<uint32_t>{0xFF112233, 0xFF445566, 0xFF778899}));
}

TEST(BmpCodec, TopDownRowsAndBitFieldsAfterAnInfoHeader) {
  BmpBuilder b;
  b.Info(2, -2, 16, 3);
  b.u32(0xF800);  // 5-6-5
  b.u32(0x07E0);
  b.u32(0x001F);
  b.StartPixels();
  b.u16(0xF800);  // top row: red, green
  b.u16(0x07E0);
  b.u16(0x001F);  // bottom row: blue, white
  b.u16(0xFFFF);
  TBmpImage img = DecodeBytes(b.Finish());
  EXPECT_EQ(img.Pixels, (std::vector<uint32_t>{0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF}));
}

TEST(BmpCodec, RunLengthEncodingWithDeltasAndAbsoluteRuns) {
  const uint32_t pal[4] = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF};
  auto palette = [&](BmpBuilder& b) {
    for (uint32_t c : pal) {
      b.u8(c & 0xFF);
      b.u8((c >> 8) & 0xFF);
      b.u8((c >> 16) & 0xFF);
      b.u8(0);
    }
  };
  auto P = [&](int i) { return 0xFF000000u | pal[i]; };
  {
    SCOPED_TRACE("RLE4");
    BmpBuilder b;
    b.Info(5, 2, 4, 2, 4);
    palette(b);
    b.StartPixels();
    // Bottom row: a run of 3 alternating 1,2 then an absolute run 3,1 (odd count padded).
    for (uint8_t v : {3, 0x12, 0, 3, 0x31, 0x00, 0, 0}) b.u8(v);
    // Top row: skip 2 right with a delta, then two pixels of 3, end of bitmap.
    for (uint8_t v : {0, 2, 2, 0, 2, 0x33, 0, 1}) b.u8(v);
    TBmpImage img = DecodeBytes(b.Finish());
    std::vector<uint32_t> want = {P(0), P(0), P(3), P(3), P(0), P(1), P(2), P(1), P(3), P(1)};
    EXPECT_EQ(img.Pixels, want);
  }
  {
    SCOPED_TRACE("RLE8");
    BmpBuilder b;
    b.Info(4, 2, 8, 1, 4);
    palette(b);
    b.StartPixels();
    for (uint8_t v : {2, 1, 0, 0, 0, 3, 2, 3, 2, 0, 0, 1}) b.u8(v);
    TBmpImage img = DecodeBytes(b.Finish());
    std::vector<uint32_t> want = {P(2), P(3), P(2), P(0), P(1), P(1), P(0), P(0)};
    EXPECT_EQ(img.Pixels, want);
  }
}

TEST(BmpCodec, DamagedHeadersRaiseClearErrors) {
  auto good = [] {
    uint32_t px[6] = {1, 2, 3, 4, 5, 6};
    return EncodeBmp(3, 2, px, 24);
  };
  auto with = [&](size_t at, std::vector<uint8_t> bytes) {
    std::vector<uint8_t> f = good();
    std::copy(bytes.begin(), bytes.end(), f.begin() + static_cast<std::ptrdiff_t>(at));
    return f;
  };
  const std::string p = "Bitmap image is not valid: ";
  std::vector<uint8_t> shortFile(20, 0);
  shortFile[0] = 'B';
  shortFile[1] = 'M';
  EXPECT_EQ(ErrorOf(shortFile), p + "the file is too short");
  EXPECT_EQ(ErrorOf(with(0, {'P', 'K'})), p + "the file does not start with \"BM\"");
  EXPECT_EQ(ErrorOf(with(14, {41})), p + "unsupported header size 41");
  EXPECT_EQ(ErrorOf(with(26, {2})), p + "the plane count is 2, not 1");
  EXPECT_EQ(ErrorOf(with(18, {0xFF, 0xFF, 0xFF, 0xFF})), p + "the image width is negative");
  EXPECT_EQ(ErrorOf(with(28, {7})), p + "unsupported bit count 7");
  EXPECT_EQ(ErrorOf(with(30, {9})), p + "unsupported compression 9");
  EXPECT_EQ(ErrorOf(with(30, {1})), p + "RLE8 compression needs 8 bits per pixel");
  EXPECT_EQ(ErrorOf(with(30, {3})), p + "bit fields need 16 or 32 bits per pixel");
  EXPECT_EQ(ErrorOf(with(10, {0xFF, 0, 0, 0})), p + "the pixel data offset is out of range");
  EXPECT_EQ(ErrorOf(with(22, {3})), p + "the pixel data is truncated");
  // Sizes are checked before anything is allocated: 60000 x 60000 in a 66-byte file.
  EXPECT_EQ(ErrorOf(with(18, {0x60, 0xEA, 0, 0, 0x60, 0xEA, 0, 0})),
            "Image of 60000 x 60000 pixels is larger than the limit of 268435456 pixels");
  EXPECT_EQ(ErrorOf(with(22, {0, 0, 0, 0x80})), "Image of 3 x 2147483648 pixels is larger than the limit of 268435456 pixels");
  {
    std::vector<uint8_t> f = with(22, {0xFE, 0xFF, 0xFF, 0xFF});  // top-down RLE
    f[28] = 8;
    f[30] = 1;
    EXPECT_EQ(ErrorOf(f), p + "compressed images cannot be top-down");
  }
  {
    BmpBuilder b;
    b.Info(1, 1, 32, 3);
    b.u32(0x00FF00FF);  // red mask with a gap
    b.u32(0x0000FF00);
    b.u32(0x000000FF);
    b.StartPixels();
    b.u32(0);
    EXPECT_EQ(ErrorOf(b.Finish()), p + "the red bit mask is not contiguous");
  }
  {
    BmpBuilder b;
    b.Info(1, 1, 8, 0, 200);
    std::vector<uint8_t> f = b.Finish();
    f.resize(f.size() + 40);
    EXPECT_EQ(ErrorOf(f), p + "the colour table is truncated");
  }
  TBmpLimits small;
  small.MaxPixels = 5;
  EXPECT_THROW(DecodeBytes(good(), small), EBmpError);
  EXPECT_THROW(EncodeBmp(1, 1, nullptr, 8), EBmpError);
}

TEST(BmpCodec, SizesAgainstTheLimitAndTheDataBehindThem) {
  // A 10000 x 7000 photograph is inside the limit (1 bit a pixel keeps the file small).
  BmpBuilder big;
  big.Info(10000, 7000, 1, 0, 2);
  big.u32(0);
  big.u32(0xFFFFFF);
  big.StartPixels();
  std::vector<uint8_t> f = big.Finish();
  f.resize(f.size() + size_t{1252} * 7000, 0xFF);
  TBmpImage img = DecodeBytes(f);
  EXPECT_EQ(img.Width, 10000);
  EXPECT_EQ(img.Height, 7000);
  EXPECT_EQ(img.Pixels[123456], 0xFFFFFFFFu);
  // A run-length file of a few bytes cannot stand for 16000 x 16000 pixels.
  BmpBuilder rle;
  rle.Info(16000, 16000, 8, 1, 2);
  rle.u32(0);
  rle.u32(0);
  rle.StartPixels();
  for (uint8_t v : {0, 0, 0, 1}) rle.u8(v);
  EXPECT_EQ(ErrorOf(rle.Finish()), "Image of 16000 x 16000 pixels cannot be held in the 4 bytes of data that follow its header");
  // Within the cap, a short run-length file still loads (the rest is palette entry 0).
  BmpBuilder ok;
  ok.Info(100, 40, 8, 1, 2);
  ok.u32(0x112233);
  ok.u32(0);
  ok.StartPixels();
  for (uint8_t v : {0, 0, 0, 1}) ok.u8(v);
  EXPECT_EQ(DecodeBytes(ok.Finish()).Pixels[5], 0xFF112233u);
}

TEST(BmpCodec, RandomDamageNeverCrashes) {
  std::vector<std::vector<uint8_t>> seeds;
  uint32_t px[12] = {};
  seeds.push_back(EncodeBmp(4, 3, px, 32));
  seeds.push_back(EncodeBmp(4, 3, px, 24));
  if (HaveConvert() && !FixtureDir().empty())
    for (const char* n : {"b1", "b4", "rle8", "os2_8", "b16_4444", "b32_v5"})
      seeds.push_back(kdtest::ReadFileBytes(FixtureDir() + "/" + n + ".bmp"));
  std::mt19937 rng(1234);
  int ok = 0, failed = 0;
  for (int round = 0; round < 4000; ++round) {
    std::vector<uint8_t> f = seeds[round % seeds.size()];
    int edits = 1 + static_cast<int>(rng() % 4);
    for (int e = 0; e < edits; ++e) f[rng() % f.size()] = static_cast<uint8_t>(rng());
    if (rng() % 5 == 0) f.resize(rng() % f.size());
    try {
      TBmpImage img = DecodeBytes(f);
      EXPECT_EQ(img.Pixels.size(), static_cast<size_t>(img.Width) * img.Height);
      ++ok;
    } catch (const EBmpError&) {
      ++failed;
    }
  }
  EXPECT_GT(ok, 0);
  EXPECT_GT(failed, 0);
}

TEST(BmpCodec, KeptFuzzRegressionsFailCleanly) {
  std::filesystem::path dir = kdtest::SourcePath("fuzz/regressions/fuzz_bmp");
  if (!std::filesystem::exists(dir)) GTEST_SKIP() << "no kept inputs";
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    std::vector<uint8_t> f = kdtest::ReadFileBytes(e.path().string());
    try {
      DecodeBytes(f);
    } catch (const EBmpError&) {
    }
  }
}

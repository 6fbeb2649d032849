// PNG codec: every colour type, bit depth and interlace method against ImageMagick's decoding,
// the chunk rules and error messages, and round trips of written files.
#include <gtest/gtest.h>
#include <zlib.h>

#include <QImage>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "platform/Classes.h"
#include "platform/SysUtils.h"
#include "raster/PngGraphic.h"
#include "raster/dtpRasterPNG.h"
#include "tests/common/TestSupport.h"

using namespace raster;
using Bytes = std::vector<uint8_t>;

namespace {

std::string Tmp(const std::string& name) { return kdtest::TempDir() + "/png_" + name; }

bool Shell(const std::string& cmd) { return std::system(cmd.c_str()) == 0; }

void PutBE(Bytes& b, uint32_t v) {
  for (int i = 3; i >= 0; --i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// A chunk framed with zlib's CRC-32, independent of the codec's own table.
void AddChunk(Bytes& f, const std::string& name, const Bytes& data) {
  PutBE(f, static_cast<uint32_t>(data.size()));
  f.insert(f.end(), name.begin(), name.end());
  f.insert(f.end(), data.begin(), data.end());
  uLong crc = crc32(0, reinterpret_cast<const Bytef*>(name.data()), 4);
  if (!data.empty()) crc = crc32(crc, data.data(), static_cast<uInt>(data.size()));
  PutBE(f, static_cast<uint32_t>(crc));
}

Bytes Signature() { return {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}; }

Bytes Ihdr(uint32_t w, uint32_t h, uint8_t bd, uint8_t ct, uint8_t interlace = 0) {
  Bytes d;
  PutBE(d, w);
  PutBE(d, h);
  d.insert(d.end(), {bd, ct, 0, 0, interlace});
  return d;
}

Bytes Deflate(const Bytes& raw) {
  uLongf n = compressBound(static_cast<uLong>(raw.size()));
  Bytes out(n);
  compress2(out.data(), &n, raw.data(), static_cast<uLong>(raw.size()), 9);
  out.resize(n);
  return out;
}

// An 8-bit RGB image of w x h with the given filtered rows, its data cut into pieces of Split bytes.
Bytes RgbFile(uint32_t w, uint32_t h, const Bytes& rawRows, size_t split = 0, const std::vector<std::pair<std::string, Bytes>>& extra = {}) {
  Bytes f = Signature();
  AddChunk(f, "IHDR", Ihdr(w, h, 8, 2));
  for (auto& [n, d] : extra) AddChunk(f, n, d);
  Bytes z = Deflate(rawRows);
  if (split == 0) split = z.size();
  for (size_t i = 0; i < z.size(); i += split)
    AddChunk(f, "IDAT", Bytes(z.begin() + i, z.begin() + std::min(z.size(), i + split)));
  AddChunk(f, "IEND", {});
  return f;
}

Bytes SimpleRaw(uint32_t w, uint32_t h) {
  Bytes raw;
  for (uint32_t y = 0; y < h; ++y) {
    raw.push_back(0);
    for (uint32_t x = 0; x < w; ++x) raw.insert(raw.end(), {uint8_t(x * 20), uint8_t(y * 30), uint8_t(x + y)});
  }
  return raw;
}

void LoadPng(TPngGraphic& png, const Bytes& f) {
  platform::TMemoryStream s;
  if (!f.empty()) s.WriteBuffer(f.data(), static_cast<int32_t>(f.size()));
  s.SetPosition(0);
  png.LoadFromStream(&s);
}

Bytes SavePng(TPngGraphic& png) {
  platform::TMemoryStream s;
  png.SaveToStream(&s);
  Bytes b(static_cast<size_t>(s.GetSize()));
  s.SetPosition(0);
  s.ReadBuffer(b.data(), static_cast<int32_t>(b.size()));
  return b;
}

std::vector<uint32_t> ReadThroughFormat(const Bytes& f, int32_t& w, int32_t& h) {
  platform::TMemoryStream s;
  s.WriteBuffer(f.data(), static_cast<int32_t>(f.size()));
  s.SetPosition(0);
  TdtpPngFormat fmt;
  TBitmap32 bmp;
  fmt.LoadFromStream(&s, &bmp, {0, 0}, 0);
  w = bmp.Width();
  h = bmp.Height();
  return std::vector<uint32_t>(bmp.Bits(), bmp.Bits() + static_cast<size_t>(w) * h);
}

template <class E>
std::string MessageOf(const Bytes& f) {
  TPngGraphic png;
  try {
    LoadPng(png, f);
  } catch (const E& e) {
    return e.Message;
  } catch (const std::exception& e) {
    return std::string("other: ") + e.what();
  }
  return "no error";
}

// The names of the chunks of a file, in order.
std::vector<std::string> ChunkNames(const Bytes& f) {
  std::vector<std::string> names;
  size_t p = 8;
  while (p + 8 <= f.size()) {
    uint32_t len = (uint32_t(f[p]) << 24) | (uint32_t(f[p + 1]) << 16) | (uint32_t(f[p + 2]) << 8) | f[p + 3];
    names.emplace_back(reinterpret_cast<const char*>(&f[p + 4]), 4);
    p += 12 + len;
  }
  return names;
}

struct TVariant {
  int ct, bd;
};

// A PNG of the given form written by ImageMagick from random samples the form holds exactly,
// and ImageMagick's own 8-bit RGBA reading of it.
struct TOracleFile {
  Bytes Png;
  Bytes Rgba;
};

TOracleFile MakeOracleFile(TVariant v, int interlace, int w, int h) {
  bool grey = v.ct == 0 || v.ct == 4, alpha = v.ct == 4 || v.ct == 6, wide = v.bd == 16;
  int channels = (grey ? 1 : 3) + (alpha ? 1 : 0);
  std::mt19937 rng(v.ct * 100 + v.bd + interlace * 7 + w);
  // Levels the bit depth can hold exactly; 16-bit samples repeat their byte so that the
  // oracle's 8-bit reduction is exact.
  int levels = v.ct == 3 ? (1 << std::min(v.bd, 8)) : (grey && v.bd < 8 ? (1 << v.bd) : 256);
  std::vector<std::array<int, 3>> pal(static_cast<size_t>(levels));
  for (int i = 0; i < levels; ++i) pal[static_cast<size_t>(i)] = {int(rng() % 256), int(rng() % 256), i};
  std::string pam = "P7\nWIDTH " + std::to_string(w) + "\nHEIGHT " + std::to_string(h) + "\nDEPTH " +
                    std::to_string(channels) + "\nMAXVAL " + (wide ? "65535" : "255") + "\nTUPLTYPE " +
                    (grey ? (alpha ? "GRAYSCALE_ALPHA" : "GRAYSCALE") : (alpha ? "RGB_ALPHA" : "RGB")) + "\nENDHDR\n";
  Bytes file(pam.begin(), pam.end());
  auto put = [&](int x) {
    if (wide) file.push_back(uint8_t(x));
    file.push_back(uint8_t(x));
  };
  for (int i = 0; i < w * h; ++i) {
    if (grey) {
      int k = int(rng() % levels);
      put(levels == 256 ? k : k * 255 / (levels - 1));
    } else if (v.ct == 3) {
      auto& c = pal[rng() % levels];
      put(c[0]), put(c[1]), put(c[2]);
    } else {
      put(int(rng() % 256)), put(int(rng() % 256)), put(int(rng() % 256));
    }
    if (alpha) put(int(rng() % 256));
  }
  std::string base = Tmp("o" + std::to_string(v.ct) + "_" + std::to_string(v.bd) + "_" + std::to_string(interlace) + "_" + std::to_string(w));
  kdtest::WriteFileBytes(base + ".pam", file);
  std::string cmd = "convert " + base + ".pam -define png:exclude-chunk=all -define png:color-type=" + std::to_string(v.ct) +
                    " -define png:bit-depth=" + std::to_string(v.bd) + (wide ? " -depth 16" : "") +
                    " -interlace " + (interlace ? "PNG " : "none ") + base + ".png && convert " + base +
                    ".png -depth 8 rgba:" + base + ".rgba";
  EXPECT_TRUE(Shell(cmd)) << cmd;
  return {kdtest::ReadFileBytes(base + ".png"), kdtest::ReadFileBytes(base + ".rgba")};
}

}  // namespace

// ---- decoding against ImageMagick

class PngOracle : public ::testing::TestWithParam<std::tuple<TVariant, int, int>> {};

TEST_P(PngOracle, DecodesPixelExactly) {
  auto [v, interlace, width] = GetParam();
  const int w = width, h = 11;
  bool alpha = v.ct == 4 || v.ct == 6;
  TOracleFile o = MakeOracleFile(v, interlace, w, h);
  const Bytes& png = o.Png;
  ASSERT_GT(png.size(), 30u);
  ASSERT_EQ(png[24], v.bd) << "oracle wrote another bit depth";
  ASSERT_EQ(png[25], v.ct) << "oracle wrote another colour type";
  ASSERT_EQ(png[28], interlace);
  const Bytes& rgba = o.Rgba;
  int32_t ow, oh;
  std::vector<uint32_t> got = ReadThroughFormat(png, ow, oh);
  ASSERT_EQ(ow, w);
  ASSERT_EQ(oh, h);
  for (int i = 0; i < w * h; ++i) {
    uint32_t r = rgba[4 * i], g = rgba[4 * i + 1], b = rgba[4 * i + 2], a = rgba[4 * i + 3];
    // Straight colour: the alpha is not applied to the components.
    const uint32_t want = ((alpha ? a : 255) << 24) | (r << 16) | (g << 8) | b;
    ASSERT_EQ(got[static_cast<size_t>(i)], want) << "pixel " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(AllFormats, PngOracle,
                         ::testing::Combine(::testing::Values(TVariant{0, 1}, TVariant{0, 2}, TVariant{0, 4}, TVariant{0, 8},
                                                              TVariant{0, 16}, TVariant{2, 8}, TVariant{2, 16}, TVariant{3, 1},
                                                              TVariant{3, 2}, TVariant{3, 4}, TVariant{3, 8}, TVariant{4, 8},
                                                              TVariant{4, 16}, TVariant{6, 8}, TVariant{6, 16}),
                                            ::testing::Values(0, 1), ::testing::Values(1, 13)));

// ---- writing every form the writer supports, read back by our reader and by ImageMagick

class PngWriteOracle : public ::testing::TestWithParam<std::tuple<TVariant, int, int>> {};

TEST_P(PngWriteOracle, WrittenFileReadsBackTheSamePixels) {
  auto [v, interlace, width] = GetParam();
  const int w = width, h = 11;
  const bool alpha = v.ct == 4 || v.ct == 6;
  TOracleFile o = MakeOracleFile(v, 0, w, h);
  TPngGraphic png;
  LoadPng(png, o.Png);
  png.InterlaceMethod = static_cast<uint8_t>(interlace);
  png.Filters = 0x1F;  // every filter competes, Paeth and Average included
  Bytes out = SavePng(png);
  ASSERT_GT(out.size(), 33u);
  EXPECT_EQ(out[24], v.bd == 2 ? 4 : v.bd);  // 2-bit images are written at 4 bits
  EXPECT_EQ(out[25], v.ct);
  EXPECT_EQ(out[28], interlace);
  // Our reader: the same image as before writing.
  TPngGraphic back;
  LoadPng(back, out);
  std::vector<uint32_t> before(static_cast<size_t>(w) * h), after(before.size());
  png.RenderARGB(before.data());
  back.RenderARGB(after.data());
  EXPECT_EQ(after, before);
  // ImageMagick (libpng) at 16 bits: every sample is the source's, 16-bit samples carrying the
  // held byte in both bytes (its value widened: 255 stays full intensity and opacity).
  std::string path = Tmp("w" + std::to_string(v.ct) + "_" + std::to_string(v.bd) + "_" + std::to_string(interlace) + "_" +
                         std::to_string(w) + ".png");
  kdtest::WriteFileBytes(path, out);
  ASSERT_TRUE(Shell("convert " + path + " -endian MSB -depth 16 rgba:" + path + ".rgba"));
  Bytes got = kdtest::ReadFileBytes(path + ".rgba");
  ASSERT_EQ(got.size(), size_t(w * h * 8));
  for (int i = 0; i < w * h; ++i)
    for (int c = 0; c < 4; ++c) {
      uint32_t held = o.Rgba[size_t(4 * i + c)];
      uint32_t want = c == 3 && !alpha ? 65535 : held * 257;
      uint32_t sample = (uint32_t(got[size_t(8 * i + 2 * c)]) << 8) | got[size_t(8 * i + 2 * c + 1)];
      ASSERT_EQ(sample, want) << "pixel " << i << " channel " << c;
    }
}

INSTANTIATE_TEST_SUITE_P(AllFormats, PngWriteOracle,
                         ::testing::Combine(::testing::Values(TVariant{0, 1}, TVariant{0, 2}, TVariant{0, 4}, TVariant{0, 8},
                                                              TVariant{0, 16}, TVariant{2, 8}, TVariant{2, 16}, TVariant{3, 1},
                                                              TVariant{3, 2}, TVariant{3, 4}, TVariant{3, 8}, TVariant{4, 8},
                                                              TVariant{4, 16}, TVariant{6, 8}, TVariant{6, 16}),
                                            ::testing::Values(0, 1), ::testing::Values(1, 13)));

// ---- chunk framing and errors

TEST(PngErrors, HeaderAndChunkMessages) {
  Bytes good = RgbFile(3, 2, SimpleRaw(3, 2));
  Bytes bad = good;
  bad[1] = 'Q';
  EXPECT_EQ(MessageOf<EPNGInvalidFileHeader>(bad), PngErrorText(65151));

  Bytes gammaFirst = Signature();
  AddChunk(gammaFirst, "gAMA", {0, 0, 0xB1, 0x8F});
  EXPECT_EQ(MessageOf<EPNGIHDRNotFirst>(gammaFirst), PngErrorText(65120));

  Bytes crc = good;
  crc[29] ^= 1;  // the IHDR's CRC
  EXPECT_EQ(MessageOf<EPngInvalidCRC>(crc),
            "This \"Portable Network Graphics\" image is not valid because it contains invalid pieces of data (crc error)");

  Bytes tooWide = Signature();
  AddChunk(tooWide, "IHDR", Ihdr(65536, 1, 8, 2));
  EXPECT_EQ(MessageOf<EPNGSizeExceeds>(tooWide), PngErrorText(65121));
  Bytes maxWide = Signature();
  AddChunk(maxWide, "IHDR", Ihdr(65535, 1, 8, 2));
  AddChunk(maxWide, "IDAT", Deflate(Bytes(1 + 65535 * 3, 0)));
  AddChunk(maxWide, "IEND", {});
  TPngGraphic ok;
  LoadPng(ok, maxWide);
  EXPECT_EQ(ok.Width(), 65535);

  Bytes shortIhdr = Signature();
  AddChunk(shortIhdr, "IHDR", Bytes(12, 0));
  EXPECT_EQ(MessageOf<EPngInvalidIHDR>(shortIhdr), PngErrorText(65147));
  Bytes comp = Signature();
  Bytes ih = Ihdr(1, 1, 8, 2);
  ih[10] = 1;
  AddChunk(comp, "IHDR", ih);
  EXPECT_EQ(MessageOf<EPNGUnknownCompression>(comp), PngErrorText(65124));
  Bytes inter = Signature();
  AddChunk(inter, "IHDR", Ihdr(1, 1, 8, 2, 2));
  EXPECT_EQ(MessageOf<EPNGUnknownInterlace>(inter), PngErrorText(65125));

  Bytes truncated(good.begin(), good.begin() + 35);
  EXPECT_EQ(MessageOf<EPngUnexpectedEnd>(truncated), PngErrorText(65127));

  Bytes noData = Signature();
  AddChunk(noData, "IHDR", Ihdr(1, 1, 8, 2));
  AddChunk(noData, "IEND", {});
  EXPECT_EQ(MessageOf<EPNGNoImageData>(noData), "This \"Portable Network Graphics\" image contains no data.");

  Bytes critical = Signature();
  AddChunk(critical, "IHDR", Ihdr(1, 1, 8, 2));
  AddChunk(critical, "QQQQ", {1});
  EXPECT_EQ(MessageOf<EPNGUnknownCriticalChunk>(critical), PngErrorText(65123));

  Bytes zerr = Signature();
  AddChunk(zerr, "IHDR", Ihdr(2, 2, 8, 2));
  AddChunk(zerr, "IDAT", {0x78, 0x9C, 0xFF, 0xFF, 0xFF, 0xFF});
  AddChunk(zerr, "IEND", {});
  EXPECT_EQ(MessageOf<EPNGZLIBError>(zerr),
            "Could not decompress the image because it contains invalid compressed data.\r\n Description: data error (-3)");
}

TEST(PngErrors, PaletteSizes) {
  for (size_t n : {size_t{771}, size_t{10}}) {
    Bytes f = Signature();
    AddChunk(f, "IHDR", Ihdr(1, 1, 8, 3));
    AddChunk(f, "PLTE", Bytes(n, 1));
    EXPECT_EQ(MessageOf<EPNGInvalidPalette>(f), PngErrorText(65150)) << n;
  }
  Bytes f = Signature();
  AddChunk(f, "IHDR", Ihdr(1, 1, 8, 3));
  AddChunk(f, "PLTE", Bytes(768, 1));
  AddChunk(f, "tRNS", Bytes(257, 1));
  EXPECT_EQ(MessageOf<EPNGInvalidPalette>(f), PngErrorText(65150));
}

TEST(PngChunks, SplitIdatAndMissingParts) {
  const uint32_t w = 7, h = 5;
  Bytes raw;
  for (uint32_t y = 0; y < h; ++y) {
    raw.push_back(static_cast<uint8_t>(y % 5));  // every filter, the first row against zeros
    for (uint32_t x = 0; x < w * 3; ++x) raw.push_back(static_cast<uint8_t>(x * 7 + y * 13));
  }
  TPngGraphic one, split;
  LoadPng(one, RgbFile(w, h, raw));
  LoadPng(split, RgbFile(w, h, raw, 3));
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) EXPECT_EQ(one.Pixel(int(x), int(y)), split.Pixel(int(x), int(y)));
  EXPECT_NE(one.Pixel(3, 2), 0u);

  Bytes full = RgbFile(w, h, raw, 3);
  // Drop the later IDAT chunks: the chain ends at IEND while rows still need data.
  Bytes cut = Signature();
  AddChunk(cut, "IHDR", Ihdr(w, h, 8, 2));
  Bytes z = Deflate(raw);
  AddChunk(cut, "IDAT", Bytes(z.begin(), z.begin() + 6));
  AddChunk(cut, "IEND", {});
  EXPECT_EQ(MessageOf<EPNGMissingMultipleIDAT>(cut), PngErrorText(65148));
}

TEST(PngChunks, UnknownAncillaryKeptAndChrmDropped) {
  Bytes f = RgbFile(2, 2, SimpleRaw(2, 2), 0, {{"cHRM", Bytes(32, 0)}, {"abCd", {1, 2, 3}}});
  TPngGraphic png;
  LoadPng(png, f);
  Bytes out = SavePng(png);
  std::vector<std::string> names = ChunkNames(out);
  EXPECT_EQ(names, (std::vector<std::string>{"IHDR", "abCd", "IDAT", "IEND"}));
  TPngGraphic again;
  LoadPng(again, out);
  EXPECT_EQ(again.Chunk(1)->DataSize, 3u);
  EXPECT_EQ(again.Chunk(1)->Data[2], 3);
}

TEST(PngChunks, TimeTextAndAddChunkOrder) {
  Bytes f = RgbFile(2, 2, SimpleRaw(2, 2), 0, {{"tIME", {0x07, 0xEA, 12, 6, 22, 41, 5}}});
  TPngGraphic png;
  LoadPng(png, f);
  auto* t = png.FindChunk<TChunktIME>();
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->Year, 2026);
  TPngGraphic copy;
  copy.Assign(&png);
  EXPECT_EQ(copy.FindChunk<TChunktIME>()->Year, 2026);
  Bytes out = SavePng(copy);
  size_t at = std::string(out.begin(), out.end()).find("tIME");
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(out[at + 4], 0x07);
  EXPECT_EQ(out[at + 5], 0xEA);

  auto* z = png.AddChunk<TChunkzTXt>();
  z->Keyword = "Comment";
  png.AddChunk<TChunktRNS>();
  png.AddChunk<TChunkgAMA>();
  EXPECT_THROW(png.AddChunk<TChunkgAMA>(), EPngError);
  EXPECT_THROW(png.AddChunk<TChunkIDAT>(), EPngError);
  Bytes saved = SavePng(png);
  EXPECT_EQ(ChunkNames(saved), (std::vector<std::string>{"IHDR", "gAMA", "tIME", "tRNS", "IDAT", "zTXt", "IEND"}));
  TPngGraphic back;
  LoadPng(back, saved);
  auto* zt = back.FindChunk<TChunkzTXt>();
  ASSERT_NE(zt, nullptr);
  EXPECT_EQ(zt->Keyword, "Comment");
  EXPECT_EQ(zt->Text, " ");

  TPngGraphic empty;
  EXPECT_THROW(empty.AddChunk<TChunktEXt>(), EPngError);
  try {
    empty.AddChunk<TChunktEXt>();
  } catch (const EPngError& e) {
    EXPECT_EQ(e.Message, "It's not allowed to add a new chunk because the current image is invalid.");
  }
}

TEST(PngChunks, TrnsGoesAfterPlte) {
  Bytes f = Signature();
  AddChunk(f, "IHDR", Ihdr(2, 1, 8, 3));
  AddChunk(f, "PLTE", {10, 20, 30, 40, 50, 60});
  AddChunk(f, "IDAT", Deflate({0, 0, 1}));
  AddChunk(f, "IEND", {});
  TPngGraphic png;
  LoadPng(png, f);
  png.AddChunk<TChunktRNS>();
  EXPECT_EQ(png.Chunk(2)->GetName(), "tRNS");
  EXPECT_EQ(png.Pixel(1, 0), platform::RGB(40, 50, 60));
  EXPECT_THROW(png.FindChunk<TChunkPLTE>()->Item(2), EPngError);
}

// ---- writing

TEST(PngWrite, FiltersIdatSizesAndBitDepth) {
  // A noisy image compresses badly: several full IDAT chunks and a short last one.
  const uint32_t w = 300, h = 250;
  Bytes raw;
  std::mt19937 rng(5);
  for (uint32_t y = 0; y < h; ++y) {
    raw.push_back(0);
    for (uint32_t x = 0; x < w * 3; ++x) raw.push_back(uint8_t(rng()));
  }
  TPngGraphic png;
  LoadPng(png, RgbFile(w, h, raw));
  png.SetMaxIdatSize(1000);
  EXPECT_EQ(png.MaxIdatSize(), 65535u);
  Bytes out = SavePng(png);
  std::vector<uint32_t> sizes;
  for (size_t p = 8; p + 8 <= out.size();) {
    uint32_t len = (uint32_t(out[p]) << 24) | (uint32_t(out[p + 1]) << 16) | (uint32_t(out[p + 2]) << 8) | out[p + 3];
    if (std::string(out.begin() + p + 4, out.begin() + p + 8) == "IDAT") sizes.push_back(len);
    p += 12 + len;
  }
  ASSERT_GE(sizes.size(), 4u);
  for (size_t i = 0; i + 1 < sizes.size(); ++i) EXPECT_EQ(sizes[i], 65535u);
  EXPECT_LT(sizes.back(), 65535u);
  // Default filters: every row is written with Sub.
  Bytes data;
  for (size_t p = 8; p + 8 <= out.size();) {
    uint32_t len = (uint32_t(out[p]) << 24) | (uint32_t(out[p + 1]) << 16) | (uint32_t(out[p + 2]) << 8) | out[p + 3];
    if (std::string(out.begin() + p + 4, out.begin() + p + 8) == "IDAT") data.insert(data.end(), out.begin() + p + 8, out.begin() + p + 8 + len);
    p += 12 + len;
  }
  Bytes inflated(raw.size());
  uLongf n = static_cast<uLongf>(inflated.size());
  ASSERT_EQ(uncompress(inflated.data(), &n, data.data(), static_cast<uLong>(data.size())), Z_OK);
  for (uint32_t y = 0; y < h; ++y) EXPECT_EQ(inflated[y * (w * 3 + 1)], 1) << y;

  TPngGraphic back;
  LoadPng(back, out);
  for (int y = 0; y < int(h); y += 37)
    for (int x = 0; x < int(w); x += 29) EXPECT_EQ(back.Pixel(x, y), png.Pixel(x, y));
  EXPECT_EQ(back.Pixel(299, 0), png.Pixel(299, 0));
  EXPECT_EQ(back.Pixel(300, 0), 0u);
  EXPECT_EQ(back.Pixel(0, -1), 0u);

  // Filters {Sub, Up} on a row where neither scores: None.
  TPngGraphic two;
  LoadPng(two, RgbFile(2, 1, {0, 0, 100, 17, 200, 35, 150}));
  two.Filters = FilterBit(pfSub) | FilterBit(pfUp);
  Bytes o2 = SavePng(two);
  size_t at = std::string(o2.begin(), o2.end()).find("IDAT");
  uint32_t len = (uint32_t(o2[at - 4]) << 24) | (uint32_t(o2[at - 3]) << 16) | (uint32_t(o2[at - 2]) << 8) | o2[at - 1];
  Bytes row(7);
  uLongf rn = 7;
  ASSERT_EQ(uncompress(row.data(), &rn, o2.data() + at + 4, len), Z_OK);
  EXPECT_EQ(row[0], 0);

  // A 2-bit greyscale image is written at 4 bits and reads back the same levels.
  Bytes g = Signature();
  AddChunk(g, "IHDR", Ihdr(4, 1, 2, 0));
  AddChunk(g, "IDAT", Deflate({0, 0x1B}));  // samples 0, 1, 2, 3
  AddChunk(g, "IEND", {});
  TPngGraphic grey;
  LoadPng(grey, g);
  EXPECT_EQ(grey.Pixel(3, 0), platform::RGB(255, 255, 255));
  EXPECT_EQ(grey.Pixel(1, 0), platform::RGB(85, 85, 85));
  Bytes go = SavePng(grey);
  EXPECT_EQ(go[24], 4);
  TPngGraphic grey2;
  LoadPng(grey2, go);
  for (int x = 0; x < 4; ++x) EXPECT_EQ(grey2.Pixel(x, 0), grey.Pixel(x, 0));
}

TEST(PngWrite, InterlacedRoundTripReadByImageMagick) {
  for (int width : {1, 9}) {
    const int h = 6;
    Bytes raw;
    for (int y = 0; y < h; ++y) {
      raw.push_back(0);
      for (int x = 0; x < width * 3; ++x) raw.push_back(uint8_t(x * 11 + y * 40));
    }
    TPngGraphic png;
    LoadPng(png, RgbFile(uint32_t(width), h, raw));
    png.InterlaceMethod = 1;
    png.Filters = 0x1F;
    Bytes out = SavePng(png);
    std::string path = Tmp("adam7_" + std::to_string(width) + ".png");
    kdtest::WriteFileBytes(path, out);
    ASSERT_TRUE(Shell("convert " + path + " -depth 8 rgb:" + path + ".rgb"));
    Bytes rgb = kdtest::ReadFileBytes(path + ".rgb");
    ASSERT_EQ(rgb.size(), size_t(width * h * 3));
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < width; ++x) {
        const uint8_t* p = &rgb[size_t(3 * (y * width + x))];
        EXPECT_EQ(png.Pixel(x, y), platform::RGB(p[0], p[1], p[2])) << x << "," << y;
      }
  }
}

TEST(PngWrite, FormatRoundTripKeepsAlpha) {
  TBitmap32 src;
  src.SetSize(17, 9);
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 17; ++x) src.SetPixel(x, y, (uint32_t(x * 15) << 24) | uint32_t(y * 0x1F0F03 + x));
  src.SetPixel(0, 0, 0x80102030);
  platform::TMemoryStream s;
  TdtpPngFormat().SaveToStream(&s, &src);
  Bytes out(static_cast<size_t>(s.GetSize()));
  s.SetPosition(0);
  s.ReadBuffer(out.data(), static_cast<int32_t>(out.size()));
  std::string path = Tmp("alpha.png");
  kdtest::WriteFileBytes(path, out);
  ASSERT_TRUE(Shell("convert " + path + " -depth 8 rgba:" + path + ".rgba"));
  Bytes rgba = kdtest::ReadFileBytes(path + ".rgba");
  ASSERT_EQ(rgba.size(), size_t(17 * 9 * 4));
  for (int i = 0; i < 17 * 9; ++i) {
    uint32_t p = src.Bits()[i];
    uint32_t want = (uint32_t(rgba[4 * i + 3]) << 24) | (uint32_t(rgba[4 * i]) << 16) | (uint32_t(rgba[4 * i + 1]) << 8) | rgba[4 * i + 2];
    EXPECT_EQ(p, want) << i;
  }
  int32_t w, h;
  std::vector<uint32_t> back = ReadThroughFormat(out, w, h);
  // Read back as written: the half-transparent pixel keeps its colour (not darkened).
  for (int i = 0; i < 17 * 9; ++i) EXPECT_EQ(back[static_cast<size_t>(i)], src.Bits()[i]) << i;
  EXPECT_EQ(back[0], 0x80102030u);
}

TEST(PngMisc, EmptyObjectAndPageIndex) {
  TPngGraphic png;
  EXPECT_TRUE(png.Empty());
  EXPECT_EQ(png.Width(), 0);
  try {
    png.GetTransparent();
    ADD_FAILURE();
  } catch (const EPNGHeaderNotPresent& e) {
    EXPECT_EQ(e.Message, "This operation is not valid because the current image contains no valid header.");
  }
  EXPECT_THROW(png.SetWidth(3), EPngError);
  platform::TMemoryStream s;
  TBitmap32 b;
  try {
    TdtpPngFormat().LoadFromStream(&s, &b, {0, 0}, 1);
    ADD_FAILURE();
  } catch (const ERasterError& e) {
    EXPECT_EQ(e.Message, "Requested non-existing page");
  }
}

TEST(PngMisc, GreyTransparencyAndGammaCopy) {
  Bytes f = Signature();
  AddChunk(f, "IHDR", Ihdr(2, 1, 8, 0));
  AddChunk(f, "gAMA", {0, 1, 0x86, 0xA0});  // 1.0: a table of its own, not the identity
  AddChunk(f, "tRNS", {0, 128});
  AddChunk(f, "IDAT", Deflate({0, 128, 127}));
  AddChunk(f, "IEND", {});
  int32_t w, h;
  std::vector<uint32_t> px = ReadThroughFormat(f, w, h);
  TPngGraphic png;
  LoadPng(png, f);
  EXPECT_NE(png.GammaTable[128], 128);
  TPngGraphic copy;
  copy.Assign(&png);
  // The copy holds the gamma-corrected pixels, so it takes both tables with the gAMA chunk.
  EXPECT_EQ(copy.GammaTable, png.GammaTable);
  EXPECT_EQ(copy.InverseTable, png.InverseTable);
  EXPECT_EQ(copy.FindChunk<TChunkgAMA>()->Gamma(), 100000u);
  // The identity-table copy leaves out grey 128.
  TPngGraphic plain;
  Bytes g = Signature();
  AddChunk(g, "IHDR", Ihdr(2, 1, 8, 0));
  AddChunk(g, "tRNS", {0, 128});
  AddChunk(g, "IDAT", Deflate({0, 128, 127}));
  AddChunk(g, "IEND", {});
  px = ReadThroughFormat(g, w, h);
  EXPECT_EQ(px[0], 0u);
  EXPECT_EQ(px[1], 0xFF7F7F7Fu);
}

TEST(PngWrite, SixteenBitSamplesThroughInverseGamma) {
  for (int interlace : {0, 1}) {
    Bytes f = Signature();
    AddChunk(f, "IHDR", Ihdr(2, 1, 16, 6, uint8_t(interlace)));
    AddChunk(f, "gAMA", {0, 0, 0x5A, 0x00});  // 0.2304: far from the identity
    Bytes raw = {0, 0x80, 0x11, 0x40, 0x22, 0x20, 0x33, 0x99, 0x44, 0x10, 0, 0x20, 0, 0x30, 0, 0x40, 0};
    if (interlace) raw = {0, 0x80, 0x11, 0x40, 0x22, 0x20, 0x33, 0x99, 0x44, 0, 0x10, 0, 0x20, 0, 0x30, 0, 0x40, 0};
    AddChunk(f, "IDAT", Deflate(raw));
    AddChunk(f, "IEND", {});
    TPngGraphic png;
    LoadPng(png, f);
    Bytes out = SavePng(png);
    size_t at = std::string(out.begin(), out.end()).find("IDAT");
    uint32_t len = (uint32_t(out[at - 4]) << 24) | (uint32_t(out[at - 3]) << 16) | (uint32_t(out[at - 2]) << 8) | out[at - 1];
    Bytes rows(64);
    uLongf n = 64;
    ASSERT_EQ(uncompress(rows.data(), &n, out.data() + at + 4, len), Z_OK);
    // First pixel, filter Sub leaves it as it is: the held bytes through the inverse table, in
    // both bytes of the sample.
    EXPECT_EQ(rows[1], png.InverseTable[png.GammaTable[0x80]]);
    EXPECT_EQ(rows[2], rows[1]);
    EXPECT_EQ(rows[3], png.InverseTable[png.GammaTable[0x40]]);
    EXPECT_EQ(rows[7], 0x99);  // alpha untouched
    EXPECT_EQ(rows[8], 0x99);
  }
}

TEST(PngMisc, DrawBlendsAlphaOverTheCanvas) {
  Bytes f = Signature();
  AddChunk(f, "IHDR", Ihdr(2, 1, 8, 6));
  AddChunk(f, "IDAT", Deflate({0, 200, 100, 0, 128, 10, 20, 30, 255}));
  AddChunk(f, "IEND", {});
  TPngGraphic png;
  LoadPng(png, f);
  platform::TBitmap target;
  target.SetPixelFormat(platform::pf24bit);
  target.SetSize(2, 1);  // white
  png.Draw(target.Canvas(), platform::Rect(0, 0, 2, 1));
  const uint8_t* p = static_cast<const uint8_t*>(target.ScanLine(0));
  // d = (s * a + 255 + (255 - a) * d) shr 8, blue first.
  EXPECT_EQ(p[2], (200 * 128 + 255 + 127 * 255) >> 8);
  EXPECT_EQ(p[1], (100 * 128 + 255 + 127 * 255) >> 8);
  EXPECT_EQ(p[0], (0 * 128 + 255 + 127 * 255) >> 8);
  EXPECT_EQ(p[5], 10);
  EXPECT_EQ(p[3], 30);
}

// ---- size limits and empty images

TEST(PngLimits, OnePixelLimitAndDataThatCannotHoldTheImage) {
  struct Case {
    uint32_t w, h;
    uint8_t bd, ct;
    bool realData;  // a complete IDAT of zero rows, else 20 bytes of one
    std::string message;  // empty: loads
  };
  const Case cases[] = {
      // A 10000 x 7000 photograph's size is inside the bitmap's limit (1-bit grey keeps it light).
      {10000, 7000, 1, 0, true, ""},
      {17000, 17000, 8, 2, false, "Image of 17000 x 17000 pixels is larger than the limit of 268435456 pixels"},
      {16000, 16000, 8, 2, false,
       "Image of 16000 x 16000 pixels cannot be held in the 44 bytes of data that follow its header"},
      {16000, 16000, 8, 6, false,
       "Image of 16000 x 16000 pixels cannot be held in the 44 bytes of data that follow its header"},
  };
  for (const Case& c : cases) {
    Bytes f = Signature();
    AddChunk(f, "IHDR", Ihdr(c.w, c.h, c.bd, c.ct));
    if (c.realData) {
      uint32_t row = (c.w * c.bd + 7) / 8 + 1;
      AddChunk(f, "IDAT", Deflate(Bytes(static_cast<size_t>(row) * c.h, 0)));
    } else {
      AddChunk(f, "IDAT", Bytes(20, 0));
    }
    AddChunk(f, "IEND", {});
    if (c.message.empty()) {
      TPngGraphic png;
      LoadPng(png, f);
      EXPECT_EQ(png.Width(), static_cast<int32_t>(c.w));
      EXPECT_EQ(png.Height(), static_cast<int32_t>(c.h));
    } else {
      EXPECT_EQ(MessageOf<EPNGSizeExceeds>(f), c.message) << c.w;
    }
  }
}

TEST(PngLimits, EmptyImagesAreRefusedWhenSaving) {
  TBitmap32 empty;
  platform::TMemoryStream s;
  try {
    TdtpPngFormat().SaveToStream(&s, &empty);
    ADD_FAILURE();
  } catch (const ERasterError& e) {
    EXPECT_EQ(e.Message, "Bitmap is empty");
  }
  EXPECT_EQ(s.GetSize(), 0);
  TPngGraphic png;
  platform::TBitmap none;
  png.Assign(&none);
  try {
    png.SaveToStream(&s);
    ADD_FAILURE();
  } catch (const EPngError& e) {
    EXPECT_EQ(e.Message, "The \"Portable Network Graphics\" image has no pixels and can not be saved.");
  }
  EXPECT_EQ(s.GetSize(), 0);
  // An interlace method the writer has no order for would leave the image data out.
  TPngGraphic odd;
  LoadPng(odd, RgbFile(3, 2, SimpleRaw(3, 2)));
  odd.InterlaceMethod = 2;
  EXPECT_THROW(odd.SaveToStream(&s), EPNGUnknownInterlace);
  EXPECT_EQ(s.GetSize(), 0);
  // Through the filer to a file: the error comes through and no unreadable file is left.
  InitializeDtpRasterFormats();
  InitializeDtpRasterPNG();
  std::string path = Tmp("empty.png");
  TdtpImageFiler w;
  w.FileName = path;
  EXPECT_THROW(w.Save(&empty), ERasterError);
  EXPECT_FALSE(platform::FileExists(path));
}

namespace {

Bytes PaletteFile(uint32_t w, uint32_t h, uint8_t bd, const Bytes& plte, const Bytes& raw) {
  Bytes f = Signature();
  AddChunk(f, "IHDR", Ihdr(w, h, bd, 3));
  AddChunk(f, "PLTE", plte);
  AddChunk(f, "IDAT", Deflate(raw));
  AddChunk(f, "IEND", {});
  return f;
}

// The palette indices of a saved file as libpng reads them (through Qt), and its colour table.
std::vector<int> IndicesByQt(const Bytes& f, QVector<QRgb>& table) {
  QImage img = QImage::fromData(f.data(), static_cast<int>(f.size()), "PNG");
  std::vector<int> out;
  EXPECT_FALSE(img.isNull());
  EXPECT_TRUE(img.format() == QImage::Format_Indexed8 || img.format() == QImage::Format_Mono ||
              img.format() == QImage::Format_MonoLSB);
  table = img.colorTable();
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x) out.push_back(img.pixelIndex(x, y));
  return out;
}

}  // namespace

TEST(PngPixels, WritingChoosesAmongTheRealPaletteEntries) {
  // 1 bit, [white, red]: black is nearer red than white.
  TPngGraphic one;
  LoadPng(one, PaletteFile(3, 1, 1, {255, 255, 255, 255, 0, 0}, {0, 0x00}));
  one.SetPixel(1, 0, platform::clBlack);
  EXPECT_EQ(one.Pixel(1, 0), static_cast<platform::TColor>(platform::clRed));
  EXPECT_EQ(one.Pixel(0, 0), static_cast<platform::TColor>(platform::clWhite));
  one.SetPixel(2, 0, platform::RGB(250, 240, 240));
  EXPECT_EQ(one.Pixel(2, 0), static_cast<platform::TColor>(platform::clWhite));
  // 8 bits, [red, lime, blue]: black is as far from all three and takes the first.
  TPngGraphic eight;
  LoadPng(eight, PaletteFile(2, 2, 8, {255, 0, 0, 0, 255, 0, 0, 0, 255}, {0, 1, 2, 0, 2, 1}));
  eight.SetPixel(1, 1, platform::clBlack);
  EXPECT_EQ(eight.Pixel(1, 1), static_cast<platform::TColor>(platform::clRed));
  eight.SetPixel(0, 0, platform::RGB(10, 200, 30));
  EXPECT_EQ(eight.Pixel(0, 0), static_cast<platform::TColor>(platform::clLime));
  // Saved, every index lies inside the palette, as libpng reads the file.
  for (TPngGraphic* p : {&one, &eight}) {
    Bytes saved = SavePng(*p);
    QVector<QRgb> table;
    std::vector<int> idx = IndicesByQt(saved, table);
    ASSERT_FALSE(idx.empty());
    for (int i : idx) EXPECT_LT(i, table.size());
    TPngGraphic back;
    LoadPng(back, saved);
    for (int y = 0; y < back.Height(); ++y)
      for (int x = 0; x < back.Width(); ++x) EXPECT_EQ(back.Pixel(x, y), p->Pixel(x, y)) << x << "," << y;
  }
  QVector<QRgb> table;
  EXPECT_EQ(IndicesByQt(SavePng(eight), table), (std::vector<int>{1, 2, 2, 0}));
  EXPECT_EQ(IndicesByQt(SavePng(one), table), (std::vector<int>{0, 1, 0}));
  // Greyscale images choose among the levels of their bit depth: 1 bit is black or white.
  Bytes g = Signature();
  AddChunk(g, "IHDR", Ihdr(2, 1, 1, 0));
  AddChunk(g, "IDAT", Deflate({0, 0x00}));
  AddChunk(g, "IEND", {});
  TPngGraphic grey;
  LoadPng(grey, g);
  grey.SetPixel(1, 0, platform::RGB(200, 200, 200));
  EXPECT_EQ(grey.Pixel(1, 0), static_cast<platform::TColor>(platform::clWhite));
  grey.SetPixel(1, 0, platform::RGB(100, 100, 100));
  EXPECT_EQ(grey.Pixel(1, 0), static_cast<platform::TColor>(platform::clBlack));
}

TEST(PngPixels, WritingAColourNeverPicksAnEntryThatIsSeenThrough) {
  // [black seen through, red, black]: black goes to the opaque black, not the hole.
  Bytes f = Signature();
  AddChunk(f, "IHDR", Ihdr(3, 1, 8, 3));
  AddChunk(f, "PLTE", {0, 0, 0, 255, 0, 0, 0, 0, 0});
  AddChunk(f, "tRNS", {0});
  AddChunk(f, "IDAT", Deflate({0, 1, 1, 1}));
  AddChunk(f, "IEND", {});
  TPngGraphic p;
  LoadPng(p, f);
  p.SetPixel(1, 0, platform::clBlack);
  p.SetPixel(2, 0, platform::RGB(20, 0, 0));
  QVector<QRgb> table;
  const Bytes saved = SavePng(p);
  EXPECT_EQ(IndicesByQt(saved, table), (std::vector<int>{1, 2, 2}));
  // Where every entry is seen through, the nearest is taken all the same.
  Bytes all = Signature();
  AddChunk(all, "IHDR", Ihdr(1, 1, 8, 3));
  AddChunk(all, "PLTE", {0, 0, 0, 255, 0, 0});
  AddChunk(all, "tRNS", {0, 0});
  AddChunk(all, "IDAT", Deflate({0, 0}));
  AddChunk(all, "IEND", {});
  TPngGraphic q;
  LoadPng(q, all);
  q.SetPixel(0, 0, platform::clRed);
  EXPECT_EQ(IndicesByQt(SavePng(q), table), (std::vector<int>{1}));
}

TEST(PngMisc, CopyWithGammaSavesLikeTheOriginal) {
  for (uint32_t gamma : {45455u, 100000u, 220000u}) {
    for (uint8_t ct : {uint8_t(2), uint8_t(3), uint8_t(6)}) {
      SCOPED_TRACE(std::to_string(gamma) + " type " + std::to_string(ct));
      Bytes f = Signature();
      AddChunk(f, "IHDR", Ihdr(3, 2, 8, ct));
      AddChunk(f, "gAMA", {uint8_t(gamma >> 24), uint8_t(gamma >> 16), uint8_t(gamma >> 8), uint8_t(gamma)});
      Bytes raw;
      if (ct == 3) {
        AddChunk(f, "PLTE", {128, 10, 240, 60, 200, 90, 255, 255, 255});
        raw = {0, 0, 1, 2, 0, 2, 1, 0};
      } else {
        int n = ct == 2 ? 3 : 4;
        for (int y = 0; y < 2; ++y) {
          raw.push_back(0);
          for (int x = 0; x < 3 * n; ++x) raw.push_back(uint8_t(40 * x + 70 * y + 3));
        }
      }
      AddChunk(f, "IDAT", Deflate(raw));
      AddChunk(f, "IEND", {});
      TPngGraphic png;
      LoadPng(png, f);
      TPngGraphic orig;
      LoadPng(orig, SavePng(png));
      TPngGraphic copy;
      copy.Assign(&png);
      Bytes copied = SavePng(copy);
      EXPECT_EQ(copied, SavePng(png));
      TPngGraphic back;
      LoadPng(back, copied);
      for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) {
          EXPECT_EQ(back.Pixel(x, y), orig.Pixel(x, y)) << x << "," << y;
          EXPECT_EQ(copy.Pixel(x, y), png.Pixel(x, y)) << x << "," << y;
        }
      // Through the other direction of the copy as well.
      TPngGraphic to;
      png.AssignTo(&to);
      EXPECT_EQ(SavePng(to), SavePng(png));
    }
  }
}

namespace {

struct TChunkBytes {
  std::string Name;
  Bytes Data;
};

std::vector<TChunkBytes> SplitChunks(const Bytes& f) {
  std::vector<TChunkBytes> out;
  for (size_t at = 8; at + 12 <= f.size();) {
    uint32_t len = uint32_t(f[at]) << 24 | uint32_t(f[at + 1]) << 16 | uint32_t(f[at + 2]) << 8 | f[at + 3];
    out.push_back({std::string(f.begin() + at + 4, f.begin() + at + 8), Bytes(f.begin() + at + 8, f.begin() + at + 8 + len)});
    at += 12 + len;
  }
  return out;
}

// The file again with its image data (all IDAT chunks joined) cut into the given pieces.
Bytes Resplit(const Bytes& f, const std::vector<size_t>& Pieces) {
  Bytes z;
  for (auto& c : SplitChunks(f))
    if (c.Name == "IDAT") z.insert(z.end(), c.Data.begin(), c.Data.end());
  Bytes out = Signature();
  bool done = false;
  for (auto& c : SplitChunks(f)) {
    if (c.Name != "IDAT") {
      AddChunk(out, c.Name, c.Data);
      continue;
    }
    if (done) continue;
    done = true;
    size_t at = 0;
    for (size_t n : Pieces) {
      n = std::min(n, z.size() - at);
      AddChunk(out, "IDAT", Bytes(z.begin() + at, z.begin() + at + n));
      at += n;
    }
    if (at < z.size()) AddChunk(out, "IDAT", Bytes(z.begin() + at, z.end()));
  }
  return out;
}

std::vector<uint32_t> Rendered(const Bytes& f) {
  TPngGraphic p;
  LoadPng(p, f);
  std::vector<uint32_t> px(static_cast<size_t>(p.Width()) * p.Height());
  p.RenderARGB(px.data());
  return px;
}

// libpng's reading of a file (through Qt) as 0xAARRGGBB.
std::vector<uint32_t> RenderedByQt(const Bytes& f) {
  QImage img = QImage::fromData(f.data(), static_cast<int>(f.size()), "PNG").convertToFormat(QImage::Format_ARGB32);
  std::vector<uint32_t> px;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x) px.push_back(img.pixel(x, y));
  return px;
}

}  // namespace

TEST(PngChunks, EmptyIdatChunksAnywhereInTheChain) {
  std::mt19937 rng(7);
  for (uint8_t interlace : {uint8_t(0), uint8_t(1)}) {
    // An RGB image whose compressed data is long enough to cut in many places.
    const uint32_t w = 23, h = 17;
    Bytes raw;
    for (uint32_t y = 0; y < h; ++y) {
      raw.push_back(0);
      for (uint32_t x = 0; x < w * 3; ++x) raw.push_back(static_cast<uint8_t>(rng()));
    }
    TPngGraphic src;
    LoadPng(src, RgbFile(w, h, raw));
    src.InterlaceMethod = interlace;
    const Bytes whole = SavePng(src);
    const std::vector<uint32_t> expected = Rendered(whole);
    ASSERT_EQ(RenderedByQt(whole), expected);
    size_t zsize = 0;
    for (auto& c : SplitChunks(whole))
      if (c.Name == "IDAT") zsize += c.Data.size();
    ASSERT_GT(zsize, 100u);
    for (size_t k = 1; k < zsize; k += zsize / 40 + 1) {
      SCOPED_TRACE(std::to_string(interlace) + " cut at " + std::to_string(k));
      const Bytes f = Resplit(whole, {k, 0});
      ASSERT_EQ(RenderedByQt(f), expected);  // libpng reads the same image
      EXPECT_EQ(Rendered(f), expected);
    }
    // Several empty chunks in a row, one first, one after all the data.
    EXPECT_EQ(Rendered(Resplit(whole, {0, 5, 0, 0, 9})), expected);
    EXPECT_EQ(Rendered(Resplit(whole, {zsize, 0})), expected);
  }
}

TEST(PngChunks, CompressedStreamEndingBeforeTheLastRowIsMissingData) {
  // A 6 x 6 grey image whose whole zlib stream holds three rows.
  Bytes raw;
  for (int y = 0; y < 3; ++y) {
    raw.push_back(0);
    for (int x = 0; x < 6; ++x) raw.push_back(static_cast<uint8_t>(40 * y + x + 1));
  }
  for (int rows : {0, 3}) {
    Bytes f = Signature();
    AddChunk(f, "IHDR", Ihdr(6, 6, 8, 0));
    AddChunk(f, "IDAT", Deflate(Bytes(raw.begin(), raw.begin() + 7 * rows)));
    AddChunk(f, "IEND", {});
    EXPECT_EQ(MessageOf<EPNGMissingMultipleIDAT>(f), PngErrorText(65148)) << rows;
  }
  // A stream that ends inside a row, and an interlaced one that ends after three passes.
  Bytes half = Signature();
  AddChunk(half, "IHDR", Ihdr(6, 6, 8, 0));
  AddChunk(half, "IDAT", Deflate(Bytes(raw.begin(), raw.begin() + 10)));
  AddChunk(half, "IEND", {});
  EXPECT_EQ(MessageOf<EPNGMissingMultipleIDAT>(half), PngErrorText(65148));
  Bytes adam = Signature();
  AddChunk(adam, "IHDR", Ihdr(6, 6, 8, 0, 1));
  // Passes 0, 1 and 2 of a 6 x 6 image: one row of one pixel each, then one row of two.
  AddChunk(adam, "IDAT", Deflate({0, 9, 0, 7, 0, 8, 8}));
  AddChunk(adam, "IEND", {});
  EXPECT_EQ(MessageOf<EPNGMissingMultipleIDAT>(adam), PngErrorText(65148));
  // The whole image decodes; the stream ending exactly at the last row is complete.
  for (int y = 3; y < 6; ++y) {
    raw.push_back(0);
    for (int x = 0; x < 6; ++x) raw.push_back(static_cast<uint8_t>(40 * y + x + 1));
  }
  Bytes full = Signature();
  AddChunk(full, "IHDR", Ihdr(6, 6, 8, 0));
  AddChunk(full, "IDAT", Deflate(raw));
  AddChunk(full, "IEND", {});
  TPngGraphic ok;
  LoadPng(ok, full);
  EXPECT_EQ(ok.Pixel(5, 5), static_cast<platform::TColor>(platform::RGB(206, 206, 206)));
}

TEST(PngChunks, RegressionFilesOfTheImageDataChain) {
  // Kept with the fuzz target's regressions: a valid file with an empty IDAT between two
  // others, and one whose compressed stream ends three rows short.
  Bytes split = kdtest::ReadFileBytes(kdtest::SourcePath("fuzz/regressions/fuzz_png/empty-idat-between-data"));
  ASSERT_FALSE(split.empty());
  EXPECT_EQ(Rendered(split), RenderedByQt(split));
  Bytes shortStream = kdtest::ReadFileBytes(kdtest::SourcePath("fuzz/regressions/fuzz_png/stream-ends-three-rows-short"));
  ASSERT_FALSE(shortStream.empty());
  EXPECT_EQ(MessageOf<EPNGMissingMultipleIDAT>(shortStream), PngErrorText(65148));
}

// A palette whose tRNS has see-through values but no entry of value 0 has no colour to leave
// out: its pixels are blended with their entries' values, and no opaque pixel of colour 0
// (black) disappears.
TEST(PngMisc, PaletteTransparencyWithoutAZeroEntryLeavesNoColourOut) {
  Bytes f = Signature();
  AddChunk(f, "IHDR", Ihdr(3, 1, 8, 3));
  AddChunk(f, "PLTE", {255, 0, 0, 0, 0, 0, 0, 255, 0});  // red, black, green
  AddChunk(f, "tRNS", {128});                            // red half see-through
  AddChunk(f, "IDAT", Deflate({0, 0, 1, 2}));
  AddChunk(f, "IEND", {});
  int32_t w, h;
  std::vector<uint32_t> px = ReadThroughFormat(f, w, h);
  ASSERT_EQ(px.size(), 3u);
  // As an alpha channel reads: the entry's value as alpha, the colour straight.
  EXPECT_EQ(px[0], 0x80FF0000u);
  EXPECT_EQ(px[1], 0xFF000000u);
  EXPECT_EQ(px[2], 0xFF00FF00u);
  TPngGraphic png;
  LoadPng(png, f);
  EXPECT_TRUE(png.GetTransparent());
  platform::TBitmap target;
  target.SetPixelFormat(platform::pf24bit);
  target.SetSize(3, 1);  // white
  png.Draw(target.Canvas(), platform::Rect(0, 0, 3, 1));
  const uint8_t* p = static_cast<const uint8_t*>(target.ScanLine(0));
  EXPECT_EQ(p[2], (255 * 128 + 255 + 127 * 255) >> 8);
  EXPECT_EQ(p[1], (0 * 128 + 255 + 127 * 255) >> 8);
  EXPECT_EQ(p[3] | p[4] | p[5], 0);  // black stays
  EXPECT_EQ(p[7], 255);
  // A tRNS with an entry of value 0 still leaves that entry's colour out.
  Bytes g = Signature();
  AddChunk(g, "IHDR", Ihdr(3, 1, 8, 3));
  AddChunk(g, "PLTE", {255, 0, 0, 0, 0, 0, 0, 255, 0});
  AddChunk(g, "tRNS", {255, 0});
  AddChunk(g, "IDAT", Deflate({0, 0, 1, 2}));
  AddChunk(g, "IEND", {});
  px = ReadThroughFormat(g, w, h);
  EXPECT_EQ(px, (std::vector<uint32_t>{0xFFFF0000u, 0u, 0xFF00FF00u}));
  // ImageMagick's PNG8: only entry 0 is left out, an entry of 128 stays half transparent; Qt agrees.
  for (const Bytes& trns : {Bytes{0}, Bytes{0, 128}}) {
    Bytes k = Signature();
    AddChunk(k, "IHDR", Ihdr(4, 2, 8, 3));
    AddChunk(k, "PLTE", {0, 0, 0, 0, 0, 0, 255, 0, 0});
    AddChunk(k, "tRNS", trns);
    AddChunk(k, "IDAT", Deflate({0, 0, 1, 1, 2, 0, 0, 1, 1, 0}));
    AddChunk(k, "IEND", {});
    const uint32_t half = trns.size() > 1 ? 0x80000000u : 0xFF000000u;
    px = ReadThroughFormat(k, w, h);
    EXPECT_EQ(px, (std::vector<uint32_t>{0u, half, half, 0xFFFF0000u, 0u, half, half, 0u}));
    const QImage q = QImage::fromData(k.data(), static_cast<int>(k.size()), "PNG").convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(q.width(), 4);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(px[size_t(i)], uint32_t(q.pixel(i % 4, i / 4))) << i;
    TPngGraphic k8;
    LoadPng(k8, k);
    platform::TBitmap white;
    white.SetPixelFormat(platform::pf24bit);
    white.SetSize(4, 2);
    k8.Draw(white.Canvas(), platform::Rect(0, 0, 4, 2));
    const uint8_t shade = trns.size() > 1 ? (255 + 127 * 255) >> 8 : 0;  // black drawn over white
    EXPECT_EQ(white.Canvas()->Pixel(0, 0), platform::RGB(255, 255, 255));  // left out
    EXPECT_EQ(white.Canvas()->Pixel(1, 0), platform::RGB(shade, shade, shade));
    EXPECT_EQ(white.Canvas()->Pixel(3, 0), platform::RGB(255, 0, 0));
  }
}

// The transparent colour taken from a bitmap is the one the image leaves out at once, not
// only after a save has written the chunk's data.
TEST(PngMisc, TransparentColourFromABitmapHoldsBeforeSaving) {
  for (auto pf : {platform::pf24bit, platform::pf8bit}) {
    platform::TBitmap b;
    b.SetPixelFormat(pf);
    b.SetSize(3, 1);
    if (pf == platform::pf8bit)
      b.SetPalette({platform::RGB(255, 0, 0), platform::RGB(0, 255, 0), platform::RGB(0, 0, 255)});
    b.Canvas()->SetPixel(0, 0, platform::RGB(255, 0, 0));
    b.Canvas()->SetPixel(1, 0, platform::RGB(0, 255, 0));
    b.Canvas()->SetPixel(2, 0, platform::RGB(0, 0, 255));
    b.SetTransparentMode(platform::tmFixed);
    b.SetTransparentColor(platform::RGB(0, 255, 0));
    b.SetTransparent(true);
    TPngGraphic png;
    png.Assign(&b);
    EXPECT_EQ(png.TransparentColor(), platform::RGB(0, 255, 0)) << int(pf);
    // A palette entry of value 0 keeps its colour straight under alpha 0.
    const std::vector<uint32_t> want = {0xFFFF0000u, pf == platform::pf8bit ? 0x0000FF00u : 0u, 0xFF0000FFu};
    std::vector<uint32_t> px(3);
    png.RenderARGB(px.data());
    EXPECT_EQ(px, want) << int(pf);
    platform::TBitmap out;
    png.AssignTo(&out);
    EXPECT_TRUE(out.Transparent());
    EXPECT_EQ(out.TransparentColor(), platform::RGB(0, 255, 0));
    // Written and read back: the same.
    int32_t w, h;
    EXPECT_EQ(ReadThroughFormat(SavePng(png), w, h), want) << int(pf);
  }
}

// Giving a greyscale image an alpha channel keeps its samples as the file holds them, so the
// gAMA chunk it keeps applies once: pixels, drawing and a saved copy stay as they were.
TEST(PngMisc, AlphaForGreyWithGammaKeepsTheLevels) {
  for (int bd : {2, 4, 8, 16}) {
    Bytes f = Signature();
    AddChunk(f, "IHDR", Ihdr(3, 1, uint8_t(bd), 0));
    AddChunk(f, "gAMA", {0, 0, 0x5A, 0x00});  // 0.2304: far from the identity
    Bytes raw = bd == 2 ? Bytes{0, 0x64} : bd == 4 ? Bytes{0, 0x3A, 0xF0} : bd == 8 ? Bytes{0, 0x40, 0xA0, 0xFF}
                                                                              : Bytes{0, 0x40, 0, 0xA0, 0, 0xFF, 0};
    AddChunk(f, "IDAT", Deflate(raw));
    AddChunk(f, "IEND", {});
    TPngGraphic png;
    LoadPng(png, f);
    std::vector<uint32_t> before(3), after(3), back(3);
    std::vector<platform::TColor> pixels;
    png.RenderARGB(before.data());
    for (int x = 0; x < 3; ++x) pixels.push_back(png.Pixel(x, 0));
    png.CreateAlpha();
    EXPECT_EQ(png.Header()->ColorType, 4);
    png.RenderARGB(after.data());
    EXPECT_EQ(after, before) << bd;
    for (int x = 0; x < 3; ++x) EXPECT_EQ(png.Pixel(x, 0), pixels[size_t(x)]) << bd << " " << x;
    TPngGraphic re;
    LoadPng(re, SavePng(png));
    re.RenderARGB(back.data());
    EXPECT_EQ(back, before) << bd;
  }
  // A grey or RGB key goes with the alpha channel: the saved file holds no tRNS, which no
  // alpha colour type may hold, and reads back as the opaque picture.
  for (uint8_t ct : {0, 2}) {
    Bytes f = Signature();
    AddChunk(f, "IHDR", Ihdr(2, 1, 8, ct));
    AddChunk(f, "tRNS", ct == 0 ? Bytes{0, 9} : Bytes{0, 9, 0, 9, 0, 9});
    AddChunk(f, "IDAT", Deflate(ct == 0 ? Bytes{0, 9, 7} : Bytes{0, 9, 9, 9, 7, 7, 7}));
    AddChunk(f, "IEND", {});
    TPngGraphic png;
    LoadPng(png, f);
    png.CreateAlpha();
    const Bytes saved = SavePng(png);
    EXPECT_EQ(std::search(saved.begin(), saved.end(), std::begin("tRNS"), std::end("tRNS") - 1), saved.end()) << int(ct);
    EXPECT_EQ(RenderedByQt(saved), (std::vector<uint32_t>{0xFF090909u, 0xFF070707u})) << int(ct);
  }
}

// A palette image given an alpha channel holds the value 255 for every entry, in the chunk's
// data as well: no entry is left out any more, before or after a save.
TEST(PngMisc, AlphaForPaletteMakesEveryEntryOpaque) {
  Bytes f = Signature();
  AddChunk(f, "IHDR", Ihdr(3, 1, 8, 3));
  AddChunk(f, "PLTE", {255, 0, 0, 0, 0, 0, 0, 255, 0});
  AddChunk(f, "tRNS", {255, 0});
  AddChunk(f, "IDAT", Deflate({0, 0, 1, 2}));
  AddChunk(f, "IEND", {});
  TPngGraphic png;
  LoadPng(png, f);
  EXPECT_TRUE(png.GetTransparent());
  png.CreateAlpha();
  auto* t = png.FindChunk<TChunktRNS>();
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->DataSize, 256u);
  EXPECT_EQ(png.TransparentColor(), platform::TColor(0));  // no entry of value 0: none
  EXPECT_EQ(t->Data[0], 255);
  const std::vector<uint32_t> want = {0xFFFF0000u, 0xFF000000u, 0xFF00FF00u};
  std::vector<uint32_t> px(3);
  png.RenderARGB(px.data());
  EXPECT_EQ(px, want);
  int32_t w, h;
  EXPECT_EQ(ReadThroughFormat(SavePng(png), w, h), want);
}

// Greyscale and RGB images of bit depths other than 8: the tRNS sample leaves out the pixels
// that hold that sample, by the level the image shows for it (the ramp level below 8 bits,
// the high byte at 16 bits), and no others.
TEST(PngMisc, TransparentSampleAtOtherBitDepths) {
  struct TCase {
    uint8_t ct, bd;
    Bytes trns, raw;
    std::vector<uint32_t> want;
  };
  const std::vector<TCase> cases = {
      {0, 1, {0, 1}, {0, 0x40}, {0xFF000000u, 0}},                              // white
      {0, 2, {0, 2}, {0, 0x24}, {0xFF000000u, 0, 0xFF555555u, 0xFF000000u}},    // level 170
      {0, 4, {0, 7}, {0, 0x7A}, {0, 0xFFAAAAAAu}},                              // level 119
      {0, 16, {0x12, 0x34}, {0, 0x12, 0x34, 0x34, 0x12}, {0, 0xFF343434u}},
      {2, 16, {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC},
       {0, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0x34, 0x12, 0x78, 0x56, 0xBC, 0x9A}, {0, 0xFF3478BCu}},
      // Samples that differ from the key in the low byte only stay.
      {0, 16, {0x12, 0x34}, {0, 0x12, 0x35, 0x12, 0x34}, {0xFF121212u, 0}},
      {2, 16, {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC},
       {0, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBD, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC}, {0xFF12569Au, 0}},
  };
  for (const TCase& c : cases) {
    Bytes f = Signature();
    AddChunk(f, "IHDR", Ihdr(uint32_t(c.want.size()), 1, c.bd, c.ct));
    AddChunk(f, "tRNS", c.trns);
    AddChunk(f, "IDAT", Deflate(c.raw));
    AddChunk(f, "IEND", {});
    int32_t w, h;
    EXPECT_EQ(ReadThroughFormat(f, w, h), c.want) << int(c.ct) << "/" << int(c.bd);
  }
  // With a gAMA chunk the level is the one shown through the gamma table.
  Bytes g = Signature();
  AddChunk(g, "IHDR", Ihdr(2, 1, 16, 0));
  AddChunk(g, "gAMA", {0, 0, 0x5A, 0x00});
  AddChunk(g, "tRNS", {0x80, 0});
  AddChunk(g, "IDAT", Deflate({0, 0x80, 0x00, 0x40, 0}));
  AddChunk(g, "IEND", {});
  TPngGraphic png;
  LoadPng(png, g);
  const uint8_t level = png.GammaTable[0x80];
  EXPECT_EQ(png.TransparentColor(), platform::RGB(level, level, level));
  int32_t w, h;
  std::vector<uint32_t> px = ReadThroughFormat(g, w, h);
  EXPECT_EQ(px[0], 0u);
  EXPECT_EQ(px[1], 0xFF000000u | png.GammaTable[0x40] * 0x010101u);
  // Drawn, the key holds at full precision too; so does a copy.
  Bytes k16 = Signature();
  AddChunk(k16, "IHDR", Ihdr(2, 1, 16, 2));
  AddChunk(k16, "tRNS", {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC});
  AddChunk(k16, "IDAT", Deflate({0, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBD, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC}));
  AddChunk(k16, "IEND", {});
  TPngGraphic loaded, drawn;
  LoadPng(loaded, k16);
  drawn.Assign(&loaded);
  platform::TBitmap target;
  target.SetPixelFormat(platform::pf24bit);
  target.SetSize(2, 1);  // white
  drawn.Draw(target.Canvas(), platform::Rect(0, 0, 2, 1));
  const uint8_t* d = static_cast<const uint8_t*>(target.ScanLine(0));
  EXPECT_EQ((Bytes{d, d + 6}), (Bytes{0x9A, 0x56, 0x12, 255, 255, 255}));
  // Saved at 16 bits, the same pixels are left out, also when the key's low bytes are 0.
  EXPECT_EQ(ReadThroughFormat(SavePng(drawn), w, h), (std::vector<uint32_t>{0xFF12569Au, 0}));
  Bytes k0 = Signature();
  AddChunk(k0, "IHDR", Ihdr(2, 1, 16, 2));
  AddChunk(k0, "tRNS", {0x12, 0, 0x56, 0, 0x9A, 0});
  AddChunk(k0, "IDAT", Deflate({0, 0x12, 0, 0x56, 0, 0x9A, 0, 0x12, 1, 0x56, 0, 0x9A, 0}));
  AddChunk(k0, "IEND", {});
  TPngGraphic low;
  LoadPng(low, k0);
  EXPECT_EQ(ReadThroughFormat(SavePng(low), w, h), (std::vector<uint32_t>{0, 0xFF12569Au}));
  // Gamma that merges the levels 1 and 2 leaves out only the pixel holding the key's sample.
  Bytes m = Signature();
  AddChunk(m, "IHDR", Ihdr(2, 1, 8, 0));
  AddChunk(m, "gAMA", {0, 0, 0x5A, 0x00});
  AddChunk(m, "tRNS", {0, 1});
  AddChunk(m, "IDAT", Deflate({0, 2, 1}));
  AddChunk(m, "IEND", {});
  TPngGraphic merged;
  LoadPng(merged, m);
  ASSERT_EQ(merged.GammaTable[1], merged.GammaTable[2]);
  EXPECT_EQ(ReadThroughFormat(m, w, h), (std::vector<uint32_t>{0xFF000000u | merged.GammaTable[2] * 0x010101u, 0}));
  // Setting a level's colour reads back as that colour, at every depth.
  for (uint8_t bd : {1, 2, 4, 16}) {
    Bytes k = Signature();
    AddChunk(k, "IHDR", Ihdr(1, 1, bd, 0));
    AddChunk(k, "IDAT", Deflate({0, 0, 0}));
    AddChunk(k, "IEND", {});
    TPngGraphic one;
    LoadPng(one, k);
    one.AddChunk<TChunktRNS>()->SetTransparentColor(platform::RGB(255, 255, 255));
    EXPECT_EQ(one.TransparentColor(), platform::RGB(255, 255, 255)) << int(bd);
  }
}

// A key with bits set above the bit depth is read with them masked off, as the low byte is
// at 8 bits: with or without a gAMA chunk, on reading and after a save, the pixels left out
// are those holding the masked sample. (libpng leaves out none for such a key.)
TEST(PngMisc, KeyBitsAboveTheDepthAreMaskedOff) {
  const struct {
    uint8_t ct, bd;
    Bytes trns;
    uint32_t masked;  // the sample left out
  } cases[] = {
      {0, 1, {0, 2}, 0},         {0, 1, {0x12, 3}, 1},       {0, 2, {0, 5}, 1},  {0, 2, {1, 0x0E}, 2},
      {0, 4, {0, 0x11}, 1},      {0, 4, {0, 0x23}, 3},       {0, 8, {1, 5}, 5},  {0, 8, {0xFF, 0x80}, 0x80},
      {2, 8, {1, 6, 1, 6, 1, 6}, 6},
  };
  for (const auto& c : cases)
    for (const bool gamma : {false, true}) {
      SCOPED_TRACE(std::to_string(c.ct) + "/" + std::to_string(c.bd) + " masked " + std::to_string(c.masked) +
                   (gamma ? " gAMA" : ""));
      const uint32_t top = (1u << c.bd) - 1, n = 8;
      Bytes raw(1 + (n * c.bd * (c.ct == 2 ? 3 : 1) + 7) / 8, 0);
      for (uint32_t i = 0; i < n; ++i) {
        const uint32_t v = (i + c.masked) & top;  // pixel 0 holds the masked sample
        if (c.ct == 2)
          for (int k = 0; k < 3; ++k) raw[1 + 3 * i + k] = static_cast<uint8_t>(v);
        else
          raw[1 + i * c.bd / 8] |= static_cast<uint8_t>(v << (8 - c.bd - i * c.bd % 8));
      }
      Bytes f = Signature();
      AddChunk(f, "IHDR", Ihdr(n, 1, c.bd, c.ct));
      if (gamma) AddChunk(f, "gAMA", {0, 0, 0x5A, 0x00});
      AddChunk(f, "tRNS", c.trns);
      AddChunk(f, "IDAT", Deflate(raw));
      AddChunk(f, "IEND", {});
      int32_t w, h;
      std::vector<uint32_t> want;
      for (uint32_t i = 0; i < n; ++i) want.push_back(((i + c.masked) & top) == c.masked ? 0u : 255u);
      auto alphas = [](const std::vector<uint32_t>& v) {
        std::vector<uint32_t> a;
        for (uint32_t p : v) a.push_back(p >> 24);
        return a;
      };
      const std::vector<uint32_t> read = ReadThroughFormat(f, w, h);
      EXPECT_EQ(alphas(read), want) << "read";
      TPngGraphic png;
      LoadPng(png, f);
      EXPECT_EQ(ReadThroughFormat(SavePng(png), w, h), read) << "saved";
    }
}

// At 8 bits too the tRNS sample is compared by the level shown: with a gAMA chunk the pixels
// holding the sample are left out, not those whose corrected level happens to equal it.
TEST(PngMisc, TransparentSampleThroughGammaAtEightBits) {
  for (uint8_t ct : {0, 2}) {
    Bytes f = Signature();
    AddChunk(f, "IHDR", Ihdr(2, 1, 8, ct));
    AddChunk(f, "gAMA", {0, 0, 0x5A, 0x00});  // 0.2304: far from the identity
    if (ct == 0) {
      AddChunk(f, "tRNS", {0, 0x80});
      AddChunk(f, "IDAT", Deflate({0, 0x80, 0x40}));
    } else {
      AddChunk(f, "tRNS", {0, 0x80, 0, 0x40, 0, 0x20});
      AddChunk(f, "IDAT", Deflate({0, 0x80, 0x40, 0x20, 0x20, 0x40, 0x80}));
    }
    AddChunk(f, "IEND", {});
    TPngGraphic png;
    LoadPng(png, f);
    const auto& g = png.GammaTable;
    int32_t w, h;
    std::vector<uint32_t> px = ReadThroughFormat(f, w, h);
    ASSERT_EQ(px.size(), 2u);
    EXPECT_EQ(px[0], 0u) << int(ct);
    if (ct == 0)
      EXPECT_EQ(px[1], 0xFF000000u | g[0x40] * 0x010101u);
    else
      EXPECT_EQ(px[1], 0xFF000000u | uint32_t(g[0x20]) << 16 | uint32_t(g[0x40]) << 8 | g[0x80]);
  }
}

// A palette holds at most 256 entries: a larger Count set on the chunk writes 256, which reads
// back, instead of colours from beyond the table.
TEST(PngWrite, PaletteCountBeyondTheTableWritesTheWholeTable) {
  Bytes f = Signature();
  AddChunk(f, "IHDR", Ihdr(2, 1, 8, 3));
  AddChunk(f, "PLTE", {255, 0, 0, 0, 0, 255});
  AddChunk(f, "IDAT", Deflate({0, 0, 1}));
  AddChunk(f, "IEND", {});
  TPngGraphic png;
  LoadPng(png, f);
  png.FindChunk<TChunkPLTE>()->Count = 300;
  Bytes out = SavePng(png);
  const size_t at = std::string(out.begin(), out.end()).find("PLTE");
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ((uint32_t(out[at - 2]) << 8) | out[at - 1], 768u);
  TPngGraphic back;
  LoadPng(back, out);
  EXPECT_EQ(back.FindChunk<TChunkPLTE>()->Count, 256u);
  EXPECT_EQ(back.Pixel(1, 0), platform::RGB(0, 0, 255));
}

// A palette image whose transparent colour is none of its entries has nothing to leave out:
// entry 0 stays visible, before and after a save.
TEST(PngMisc, TransparentColourOutsideThePaletteLeavesNothingOut) {
  platform::TBitmap b;
  b.SetPixelFormat(platform::pf8bit);
  b.SetSize(3, 1);
  b.SetPalette({platform::RGB(255, 0, 0), platform::RGB(0, 255, 0), platform::RGB(0, 0, 255)});
  b.Canvas()->SetPixel(0, 0, platform::RGB(255, 0, 0));
  b.Canvas()->SetPixel(1, 0, platform::RGB(0, 255, 0));
  b.Canvas()->SetPixel(2, 0, platform::RGB(0, 0, 255));
  b.SetTransparentMode(platform::tmFixed);
  b.SetTransparentColor(platform::RGB(255, 0, 255));
  b.SetTransparent(true);
  TPngGraphic png;
  png.Assign(&b);
  const std::vector<uint32_t> want = {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu};
  std::vector<uint32_t> px(3);
  png.RenderARGB(px.data());
  EXPECT_EQ(px, want);
  int32_t w, h;
  EXPECT_EQ(ReadThroughFormat(SavePng(png), w, h), want);
  // Black, which only the unused places beyond the palette hold.
  b.SetTransparentColor(platform::RGB(0, 0, 0));
  TPngGraphic black;
  black.Assign(&b);
  black.RenderARGB(px.data());
  EXPECT_EQ(px, want);
  EXPECT_EQ(ReadThroughFormat(SavePng(black), w, h), want);
}

// A greyscale or RGB tRNS too short to hold its sample names no colour: nothing is left out
// (not black).
TEST(PngMisc, ShortTransparentSampleLeavesNothingOut) {
  for (uint8_t ct : {0, 2}) {
    Bytes f = Signature();
    AddChunk(f, "IHDR", Ihdr(2, 1, 8, ct));
    AddChunk(f, "tRNS", ct == 0 ? Bytes{0} : Bytes{0, 0, 0, 0});
    AddChunk(f, "IDAT", Deflate(ct == 0 ? Bytes{0, 0, 200} : Bytes{0, 0, 0, 0, 200, 100, 50}));
    AddChunk(f, "IEND", {});
    int32_t w, h;
    std::vector<uint32_t> px = ReadThroughFormat(f, w, h);
    ASSERT_EQ(px.size(), 2u);
    EXPECT_EQ(px[0], 0xFF000000u) << int(ct);
    TPngGraphic png;
    LoadPng(png, f);
    EXPECT_FALSE(png.GetTransparent()) << int(ct);
  }
}

// A tRNS of another length than its colour type's is read from its start; the saved file
// holds that reading in a tRNS that other readers take too (libpng drops the whole chunk
// otherwise): a key cut to its sample, palette values past the table with the entries they
// reach. Written, libpng and this reader agree.
TEST(PngMisc, TransparencyOfTheWrongLengthIsSavedAsRead) {
  const struct {
    uint8_t ct, bd;
    Bytes plte, trns, raw;
    std::vector<uint32_t> want;
  } cases[] = {
      {0, 8, {}, {0, 5, 9}, {0, 5, 6}, {0, 0xFF060606u}},
      {0, 16, {}, {0, 5, 0, 6, 0, 7}, {0, 0, 5, 0, 6}, {0, 0xFF000000u}},
      {2, 8, {}, {0, 5, 0, 5, 0, 5, 0, 0}, {0, 5, 5, 5, 0, 5, 0}, {0, 0xFF000500u}},
      {3, 1, {10, 20, 30, 40, 50, 60}, {0, 128, 7, 9}, {0, 0x40}, {0, 0x8028323Cu}},
      {3, 2, {10, 20, 30, 40, 50, 60, 70, 80, 90}, {0, 128, 200, 7, 9}, {0, 0x1B},
       {0, 0x8028323Cu, 0xC846505Au, 0x07000000u}},
      {3, 4, {10, 20, 30}, Bytes(20, 100), {0, 0x01}, {0x640A141Eu, 0x64000000u}},
      {3, 8, {10, 20, 30, 40, 50, 60}, {0, 50, 100}, {0, 0, 1, 2}, {0, 0x3228323Cu, 0x64000000u}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.ct) + "/" + std::to_string(c.bd) + " tRNS of " + std::to_string(c.trns.size()));
    Bytes f = Signature();
    AddChunk(f, "IHDR", Ihdr(uint32_t(c.want.size()), 1, c.bd, c.ct));
    if (!c.plte.empty()) AddChunk(f, "PLTE", c.plte);
    AddChunk(f, "tRNS", c.trns);
    AddChunk(f, "IDAT", Deflate(c.raw));
    AddChunk(f, "IEND", {});
    auto seen = [](std::vector<uint32_t> px) {
      for (uint32_t& p : px)
        if (p >> 24 == 0) p = 0;
      return px;
    };
    int32_t w, h;
    EXPECT_EQ(seen(ReadThroughFormat(f, w, h)), c.want);
    TPngGraphic png;
    LoadPng(png, f);
    const Bytes saved = SavePng(png);
    EXPECT_EQ(seen(ReadThroughFormat(saved, w, h)), c.want);
    EXPECT_EQ(seen(RenderedByQt(saved)), c.want);
  }
}

// A colour written into an RGB image with gAMA is saved as the sample that shows nearest to
// it, so the copy read back shows that colour (within the gamma's step), not the colour put
// through the gamma once more.
TEST(PngPixels, WrittenColourSurvivesASaveUnderGamma) {
  for (uint8_t ct : {2, 6}) {
    Bytes f = Signature();
    AddChunk(f, "IHDR", Ihdr(2, 1, 8, ct));
    AddChunk(f, "gAMA", {0, 0, 0x5A, 0x00});  // 0.2304: far from the identity
    AddChunk(f, "IDAT", Deflate(ct == 2 ? Bytes{0, 10, 20, 30, 40, 50, 60} : Bytes{0, 10, 20, 30, 255, 40, 50, 60, 255}));
    AddChunk(f, "IEND", {});
    TPngGraphic png;
    LoadPng(png, f);
    const platform::TColor c = platform::RGB(240, 222, 205);  // levels the gamma table does not reach
    png.SetPixel(0, 0, c);
    ASSERT_EQ(png.Pixel(0, 0), c);
    TPngGraphic back;
    LoadPng(back, SavePng(png));
    const platform::TColor got = back.Pixel(0, 0);
    for (int shift : {0, 8, 16})
      EXPECT_NEAR(int((got >> shift) & 0xFF), int((c >> shift) & 0xFF), 3) << int(ct) << " " << shift;
    EXPECT_EQ(back.Pixel(1, 0), png.Pixel(1, 0));  // the pixel read from the file is kept
  }
}

namespace {

// ImageMagick's reading of a file as 0xAARRGGBB.
std::vector<uint32_t> RenderedByMagick(const Bytes& f) {
  const std::string path = Tmp("magick.png");
  kdtest::WriteFileBytes(path, f);
  EXPECT_TRUE(Shell("convert " + path + " -depth 8 rgba:" + path + ".rgba"));
  const Bytes raw = kdtest::ReadFileBytes(path + ".rgba");
  std::vector<uint32_t> px;
  for (size_t i = 0; i + 3 < raw.size(); i += 4)
    px.push_back(uint32_t(raw[i + 3]) << 24 | uint32_t(raw[i]) << 16 | uint32_t(raw[i + 1]) << 8 | raw[i + 2]);
  return px;
}

// A sweep file: W x H pixels of the given form, each pixel its channel samples at the bit depth
// (a palette index for colour type 3), the rows packed in the interlace method's order.
Bytes SweepFile(uint8_t ct, uint8_t bd, uint8_t interlace, uint32_t w, uint32_t h,
                const std::vector<std::vector<uint32_t>>& px, const std::vector<std::pair<std::string, Bytes>>& extra) {
  auto packRow = [&](uint32_t y, uint32_t x0, uint32_t step, Bytes& raw) {
    raw.push_back(0);
    uint32_t acc = 0, bits = 0;
    for (uint32_t x = x0; x < w; x += step)
      for (uint32_t v : px[y * w + x]) {
        if (bd == 16) {
          raw.insert(raw.end(), {uint8_t(v >> 8), uint8_t(v)});
          continue;
        }
        acc = (acc << bd) | v;
        bits += bd;
        if (bits == 8) raw.push_back(uint8_t(acc)), acc = bits = 0;
      }
    if (bits > 0) raw.push_back(uint8_t(acc << (8 - bits)));
  };
  Bytes raw;
  if (interlace == 0) {
    for (uint32_t y = 0; y < h; ++y) packRow(y, 0, 1, raw);
  } else {
    const uint32_t r0[7] = {0, 0, 4, 0, 2, 0, 1}, c0[7] = {0, 4, 0, 2, 0, 1, 0};
    const uint32_t rs[7] = {8, 8, 8, 4, 4, 2, 2}, cs[7] = {8, 8, 4, 4, 2, 2, 1};
    for (int p = 0; p < 7; ++p)
      if (c0[p] < w)
        for (uint32_t y = r0[p]; y < h; y += rs[p]) packRow(y, c0[p], cs[p], raw);
  }
  Bytes f = Signature();
  AddChunk(f, "IHDR", Ihdr(w, h, bd, ct, interlace));
  for (auto& [n, d] : extra) AddChunk(f, n, d);
  AddChunk(f, "IDAT", Deflate(raw));
  AddChunk(f, "IEND", {});
  return f;
}

}  // namespace

// What a picture holds when loaded comes back when it is saved: every colour type, bit depth,
// kind of tRNS, gAMA value and interlace method, loaded, saved and loaded again by the codec
// and by the raster format, leaves out the same pixels as libpng (through Qt) reads in the
// original and shows the same colours.
TEST(PngWrite, EveryFormKeepsItsPixelsThroughASave) {
  struct TForm {
    uint8_t ct, bd;
  };
  const std::vector<TForm> forms = {{0, 1}, {0, 2}, {0, 4}, {0, 8}, {0, 16}, {2, 8}, {2, 16}, {3, 1},
                                    {3, 2}, {3, 4}, {3, 8}, {4, 8}, {4, 16}, {6, 8}, {6, 16}};
  // gAMA values: none, 1/2.2, 1.0, 0.8, 0.22, and far from the identity both ways.
  const std::vector<uint32_t> gammas = {0, 45455, 100000, 80000, 22000, 10000, 250000};
  const uint32_t w = 9, h = 5;
  for (const TForm& form : forms)
    for (int trns = 0; trns < (form.ct == 4 || form.ct == 6 ? 1 : 2); ++trns)
      for (uint32_t gamma : gammas)
        for (uint8_t interlace : {0, 1}) {
          const uint8_t ct = form.ct, bd = form.bd;
          SCOPED_TRACE("colour type " + std::to_string(ct) + " depth " + std::to_string(bd) + " tRNS " +
                       std::to_string(trns) + " gAMA " + std::to_string(gamma) + " interlace " + std::to_string(interlace));
          const uint32_t top = (1u << bd) - 1, channels = ct == 2 ? 3 : ct == 4 ? 2 : ct == 6 ? 4 : 1;
          std::mt19937 rng(ct * 1000u + bd * 10u + gamma);
          // The key and, around it, samples that differ in one channel only, by one step of the
          // held 8 bits or of the low byte: the neighbours a gamma table or a 16-bit sample can
          // merge with it.
          std::vector<uint32_t> key(ct == 2 ? 3 : 1);
          if (ct == 0) key = {bd == 16 ? 0xF712u : bd == 8 ? 247u : top - 1};
          if (ct == 2) key = bd == 16 ? std::vector<uint32_t>{0xF712, 0xD700, 0x7556} : std::vector<uint32_t>{247, 215, 117};
          std::vector<std::vector<uint32_t>> px;
          for (uint32_t i = 0; i < w * h; ++i) {
            std::vector<uint32_t> p(channels);
            // 16-bit samples repeat their byte, so that libpng's 8-bit reduction is the high byte.
            for (uint32_t& v : p) v = bd == 16 ? (rng() & 255) * 257 : rng() & top;
            if (ct == 3) p[0] = i % (1u << std::min<uint32_t>(bd, 4));
            if (trns && (ct == 0 || ct == 2)) {
              const uint32_t k = i % 8, c = k % key.size();
              if (k < 3) p = key;  // the key itself
              if (k >= 3 && k < 7) {
                p = key;
                const uint32_t step = bd == 16 ? (k < 5 ? 1 : 256) : 1;
                p[c] = (k & 1) ? (p[c] + step) & top : (p[c] - step) & top;
              }
            }
            px.push_back(p);
          }
          std::vector<std::pair<std::string, Bytes>> extra;
          if (gamma) extra.push_back({"gAMA", {uint8_t(gamma >> 24), uint8_t(gamma >> 16), uint8_t(gamma >> 8), uint8_t(gamma)}});
          if (ct == 3) {
            const uint32_t entries = 1u << std::min<uint32_t>(bd, 4);
            Bytes plte, alpha = {0, 128, 255, 7};
            for (uint32_t i = 0; i < entries; ++i)
              plte.insert(plte.end(), {uint8_t(i * 37 + 250), uint8_t(i * 91), uint8_t(255 - i * 5)});
            extra.push_back({"PLTE", plte});
            alpha.resize(std::min<size_t>(alpha.size(), entries));
            if (trns) extra.push_back({"tRNS", alpha});
          } else if (trns) {
            Bytes t;
            for (uint32_t v : key) t.insert(t.end(), {uint8_t(v >> 8), uint8_t(v)});
            extra.push_back({"tRNS", t});
          }
          const Bytes file = SweepFile(ct, bd, interlace, w, h, px, extra);
          auto alphas = [](const std::vector<uint32_t>& v) {
            std::vector<uint32_t> a;
            for (uint32_t p : v) a.push_back(p >> 24);
            return a;
          };
          // Colours of the pixels not left out: ours are libpng's samples through the gamma table.
          auto colours = [](const std::vector<uint32_t>& v, const std::vector<uint32_t>& lib, const uint8_t* g) {
            std::vector<uint32_t> a, b;
            for (size_t i = 0; i < v.size() && i < lib.size(); ++i)
              if (v[i] >> 24) {
                a.push_back(v[i] & 0xFFFFFF);
                b.push_back(uint32_t(g[(lib[i] >> 16) & 0xFF]) << 16 | uint32_t(g[(lib[i] >> 8) & 0xFF]) << 8 | g[lib[i] & 0xFF]);
              }
            return std::make_pair(a, b);
          };
          // Qt reads 16-bit RGB with a colour key as if it had an alpha channel: ImageMagick there,
          // whose colours come through the gamma and are not compared.
          const bool magick = ct == 2 && bd == 16 && trns;
          auto oracle = magick ? RenderedByMagick : RenderedByQt;
          const std::vector<uint32_t> byQt = oracle(file);
          EXPECT_EQ(byQt.size(), size_t{w * h});
          TPngGraphic png;
          LoadPng(png, file);
          std::vector<uint32_t> ours(w * h);
          png.RenderARGB(ours.data());
          EXPECT_EQ(alphas(ours), alphas(byQt)) << "read";
          if (bd <= 8) {
            const auto [mine, theirs] = colours(ours, byQt, png.GammaTable.data());
            EXPECT_EQ(mine, theirs) << "read";
          }
          // Saved by the codec: the same pixels left out and the same colours.
          const Bytes saved = SavePng(png);
          const std::vector<uint32_t> savedByQt = oracle(saved);
          EXPECT_EQ(alphas(savedByQt), alphas(byQt)) << "saved, read by libpng";
          TPngGraphic back;
          LoadPng(back, saved);
          std::vector<uint32_t> again(w * h);
          back.RenderARGB(again.data());
          EXPECT_EQ(again, ours) << "saved, read back";
          // Saved again, from the picture, its copy or the file read back: the same bytes.
          TPngGraphic copy;
          copy.Assign(&png);
          EXPECT_EQ(SavePng(png), saved) << "saved again";
          EXPECT_EQ(SavePng(copy), saved) << "copy saved";
          EXPECT_EQ(SavePng(back), saved) << "read back and saved";
          copy.InterlaceMethod = static_cast<uint8_t>(1 - interlace);
          EXPECT_EQ(Rendered(SavePng(copy)), ours) << "saved in the other order";
          const auto [mine, theirs] = colours(again, savedByQt, back.GammaTable.data());
          if (!magick) {
            EXPECT_EQ(mine, theirs) << "saved, read by libpng";
          }
          // Saved through the raster format, which writes 8-bit RGBA.
          int32_t fw, fh;
          const std::vector<uint32_t> read = ReadThroughFormat(file, fw, fh);
          EXPECT_EQ(read, ours);
          TBitmap32 bmp;
          bmp.SetSize(fw, fh);
          std::copy(read.begin(), read.end(), bmp.Bits());
          platform::TMemoryStream s;
          TdtpPngFormat().SaveToStream(&s, &bmp);
          Bytes viaFormat(static_cast<size_t>(s.GetSize()));
          s.SetPosition(0);
          s.ReadBuffer(viaFormat.data(), static_cast<int32_t>(viaFormat.size()));
          EXPECT_EQ(ReadThroughFormat(viaFormat, fw, fh), read) << "raster format";
          const std::vector<uint32_t> viaFormatByQt = RenderedByQt(viaFormat);
          EXPECT_EQ(alphas(viaFormatByQt), alphas(byQt)) << "raster format, read by libpng";
          const auto [fmine, ftheirs] = colours(read, viaFormatByQt, TPngGraphic().GammaTable.data());
          EXPECT_EQ(fmine, ftheirs) << "raster format, read by libpng";
        }
}


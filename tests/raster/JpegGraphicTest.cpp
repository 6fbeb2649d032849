// JPEG wrapper: decoding against ImageMagick's decoder (same libjpeg, tolerance 2 levels for
// differences in upsampling), scaled sizes, CMYK conversion, grey files, errors and encoding.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <tuple>

#include <csetjmp>
#include <cstdio>

extern "C" {
#include <jpeglib.h>
#include <jerror.h>
}

#include "platform/Classes.h"
#include "raster/dtpRasterFormats.h"
#include "raster/JpegGraphic.h"
#include "raster/Raster32.h"
#include "tests/common/TestSupport.h"

using namespace raster;
using Bytes = std::vector<uint8_t>;

namespace {

std::string Tmp(const std::string& name) { return kdtest::TempDir() + "/jpeg_" + name; }

void Load(TJPEGImage& j, const std::string& path) {
  platform::TFileStream fs(path, platform::fmOpenRead);
  j.LoadFromStream(&fs);
}

}  // namespace

TEST(JpegGraphic, DecodesLikeImageMagick) {
  std::string src = Tmp("src.jpg");
  ASSERT_EQ(std::system(("convert -size 37x23 plasma:fractal -seed 3 -quality 85 " + src + " && convert " + src +
                         " -depth 8 rgb:" + src + ".rgb").c_str()),
            0);
  Bytes rgb = kdtest::ReadFileBytes(src + ".rgb");
  TJPEGImage j;
  Load(j, src);
  EXPECT_EQ(j.Width(), 37);
  EXPECT_EQ(j.Height(), 23);
  TBitmap32 b;
  j.DecodeTo32(&b);
  ASSERT_EQ(rgb.size(), size_t(37 * 23 * 3));
  for (int i = 0; i < 37 * 23; ++i) {
    uint32_t p = b.Bits()[i];
    EXPECT_NEAR(int((p >> 16) & 0xFF), rgb[3 * i], 2) << i;
    EXPECT_NEAR(int((p >> 8) & 0xFF), rgb[3 * i + 1], 2) << i;
    EXPECT_NEAR(int(p & 0xFF), rgb[3 * i + 2], 2) << i;
    EXPECT_EQ(p >> 24, 0xFFu);
  }
}

TEST(JpegGraphic, ScaledSizeBeforeDecoding) {
  std::string src = Tmp("big.jpg");
  ASSERT_EQ(std::system(("convert -size 1000x750 xc:gray " + src).c_str()), 0);
  TJPEGImage j;
  Load(j, src);
  j.SetScale(jsHalf);
  EXPECT_EQ(j.Width(), 500);
  EXPECT_EQ(j.Height(), 375);
  j.SetScale(jsEighth);
  EXPECT_EQ(j.Width(), 125);
  EXPECT_EQ(j.Bitmap()->Width(), 125);
  try {
    j.SetWidth(3);
    ADD_FAILURE();
  } catch (const platform::EInvalidGraphicOperation& e) {
    EXPECT_EQ(e.Message, "Cannot change the size of a JPEG image");
  }
}

TEST(JpegGraphic, CmykGreyEmptyAndErrors) {
  uint8_t px[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  ConvertCMYKRows(px, 1, true);
  EXPECT_EQ(px[0] | px[1] | px[2], 0);
  ConvertCMYKRows(px + 4, 1, false);
  EXPECT_EQ(px[4] & px[5] & px[6], 255);
  uint8_t mid[4] = {200, 100, 255, 200};  // C M Y K
  ConvertCMYKRows(mid, 1, true);
  EXPECT_EQ(mid[2], 145);  // red = K + C - 255
  EXPECT_EQ(mid[1], 45);
  EXPECT_EQ(mid[0], 200);
  EXPECT_EQ(mid[3], 200);

  std::string cmyk = Tmp("cmyk.jpg");
  ASSERT_EQ(std::system(("convert -size 8x8 xc:orange -colorspace CMYK " + cmyk).c_str()), 0);
  TJPEGImage c;
  Load(c, cmyk);
  EXPECT_TRUE(c.Data().CMYK);
  EXPECT_EQ(c.Bitmap()->PixelFormat(), platform::pf32bit);
  // Decoding straight into a 32-bit surface gives the pixels of the decoded bitmap.
  TJPEGImage direct;
  Load(direct, cmyk);
  TBitmap32 viaDirect, viaBitmap;
  direct.DecodeTo32(&viaDirect);
  c.DecodeTo32(&viaBitmap);
  ASSERT_EQ(viaDirect.Width(), 8);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(viaDirect.Bits()[i], viaBitmap.Bits()[i]);
  EXPECT_NEAR(int((viaDirect.Pixel(4, 4) >> 16) & 0xFF), 255, 3);  // orange: red high, blue low
  EXPECT_NEAR(int(viaDirect.Pixel(4, 4) & 0xFF), 0, 3);

  std::string grey = Tmp("grey.jpg");
  ASSERT_EQ(std::system(("convert -size 8x8 xc:gray50 -colorspace Gray " + grey).c_str()), 0);
  TJPEGImage g;
  Load(g, grey);
  EXPECT_TRUE(g.Data().Grayscale);
  TBitmap32 gb;
  g.DecodeTo32(&gb);
  uint32_t p = gb.Pixel(3, 3);
  EXPECT_EQ((p >> 16) & 0xFF, p & 0xFF);
  EXPECT_NEAR(int(p & 0xFF), 128, 2);

  platform::TMemoryStream empty;
  TJPEGImage e;
  e.LoadFromStream(&empty);
  EXPECT_TRUE(e.Empty());

  Bytes bad = {0xFF, 0xD8, 0xFF, 0xE0, 0, 3, 1};
  platform::TMemoryStream bs;
  bs.WriteBuffer(bad.data(), int32_t(bad.size()));
  bs.SetPosition(0);
  TJPEGImage b;
  try {
    b.LoadFromStream(&bs);
    ADD_FAILURE();
  } catch (const EJPEG& ex) {
    EXPECT_EQ(ex.Message.rfind("JPEG error #", 0), 0u) << ex.Message;
  }
}

TEST(JpegGraphic, EncodesFromBitmapAndReadsBack) {
  platform::TBitmap bmp;
  bmp.SetPixelFormat(platform::pf24bit);
  bmp.SetSize(16, 16);
  for (int y = 0; y < 16; ++y) {
    uint8_t* r = static_cast<uint8_t*>(bmp.ScanLine(y));
    for (int x = 0; x < 16; ++x) r[3 * x] = 200, r[3 * x + 1] = 100, r[3 * x + 2] = 50;  // B G R
  }
  TJPEGImage j;
  j.Assign(&bmp);
  platform::TMemoryStream s;
  j.SaveToStream(&s);
  ASSERT_GT(s.GetSize(), 100);
  std::string path = Tmp("enc.jpg");
  Bytes out(size_t(s.GetSize()));
  s.SetPosition(0);
  s.ReadBuffer(out.data(), int32_t(out.size()));
  kdtest::WriteFileBytes(path, out);
  ASSERT_EQ(std::system(("convert " + path + " -depth 8 rgb:" + path + ".rgb").c_str()), 0);
  Bytes rgb = kdtest::ReadFileBytes(path + ".rgb");
  EXPECT_NEAR(rgb[0], 50, 3);
  EXPECT_NEAR(rgb[1], 100, 3);
  EXPECT_NEAR(rgb[2], 200, 3);
  TJPEGImage back;
  back.LoadFromStream(&s);  // at the end: empty
  EXPECT_TRUE(back.Empty());
  s.SetPosition(0);
  back.LoadFromStream(&s);
  EXPECT_EQ(back.Width(), 16);
  TJPEGImage shared;
  shared.Assign(&back);
  EXPECT_TRUE(shared.Equals(&back));
}

namespace {

// A baseline greyscale JPEG of one level, written with libjpeg itself (row by row, so large
// sizes cost little memory).
Bytes GreyJpeg(uint32_t w, uint32_t h, uint8_t level, bool arithmetic = false) {
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* mem = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &mem, &size);
  c.image_width = w;
  c.image_height = h;
  c.input_components = 1;
  c.in_color_space = JCS_GRAYSCALE;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 50, TRUE);
  c.arith_code = arithmetic;
  jpeg_start_compress(&c, TRUE);
  std::vector<uint8_t> row(w, level);
  JSAMPROW r = row.data();
  while (c.next_scanline < c.image_height) jpeg_write_scanlines(&c, &r, 1);
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  Bytes out(mem, mem + size);
  free(mem);
  return out;
}

size_t FindMarker(const Bytes& b, uint8_t m) {
  for (size_t i = 2; i + 1 < b.size(); ++i)
    if (b[i] == 0xFF && b[i + 1] == m) return i;
  return 0;
}

std::string DecodeMessage(const Bytes& f, TBitmap32* Into = nullptr) {
  platform::TMemoryStream s;
  s.WriteBuffer(f.data(), int32_t(f.size()));
  s.SetPosition(0);
  TJPEGImage j;
  j.LoadFromStream(&s);
  TBitmap32 b;
  try {
    j.DecodeTo32(Into ? Into : &b);
  } catch (const EJPEG& e) {
    return e.Message;
  }
  return "";
}

}  // namespace

TEST(JpegGraphic, OnePixelLimitAndDataThatCannotHoldTheImage) {
  Bytes small = GreyJpeg(16, 16, 90);
  size_t sof = FindMarker(small, 0xC0), sos = FindMarker(small, 0xDA);
  ASSERT_GT(sof, 0u);
  ASSERT_GT(sos, 0u);
  const int64_t scanBytes = int64_t(small.size()) - int64_t(sos + 2 + (small[sos + 2] << 8 | small[sos + 3]));
  struct Case {
    uint16_t w, h;
    std::string message;
  } cases[] = {
      {17000, 17000, "Image of 17000 x 17000 pixels is larger than the limit of 268435456 pixels"},
      {16000, 16000, "Image of 16000 x 16000 pixels cannot be held in the " + std::to_string(scanBytes) +
                         " bytes of data that follow its header"},
      {400, 300, "Image of 400 x 300 pixels cannot be held in the " + std::to_string(scanBytes) +
                     " bytes of data that follow its header"},
  };
  for (const Case& c : cases) {
    Bytes f = small;
    f[sof + 5] = uint8_t(c.h >> 8), f[sof + 6] = uint8_t(c.h);
    f[sof + 7] = uint8_t(c.w >> 8), f[sof + 8] = uint8_t(c.w);
    EXPECT_EQ(DecodeMessage(f), c.message);
  }
  // A 10000 x 7000 photograph is inside the bitmap's limit and loads at full size through the
  // raster format (the default request of 4000 x 4000 does not reduce it).
  Bytes big = GreyJpeg(10000, 7000, 77);
  platform::TMemoryStream s;
  s.WriteBuffer(big.data(), int32_t(big.size()));
  s.SetPosition(0);
  TBitmap32 b;
  TdtpJpgFormat fmt;
  fmt.LoadFromStream(&s, &b, {4000, 4000}, 0);
  ASSERT_EQ(b.Width(), 10000);
  ASSERT_EQ(b.Height(), 7000);
  EXPECT_NEAR(int(b.Pixel(9999, 6999) & 0xFF), 77, 1);
  EXPECT_EQ(b.Pixel(5000, 3500) >> 24, 0xFFu);
}

TEST(JpegGraphic, ReducedDecodingAndArithmeticCodingAreBounded) {
  // A progressive file keeps every coefficient of the full image even when decoded at an eighth:
  // its full size is held to the limit (a 290-byte file found by fuzzing asked for 591 MB).
  Bytes found = kdtest::ReadFileBytes(kdtest::SourcePath("fuzz/regressions/fuzz_jpeg/progressive-arithmetic-oversized"));
  platform::TMemoryStream s;
  s.WriteBuffer(found.data(), int32_t(found.size()));
  s.SetPosition(0);
  TJPEGImage j;
  j.LoadFromStream(&s);
  j.SetScale(jsEighth);
  TBitmap32 b;
  try {
    j.DecodeTo32(&b);
    ADD_FAILURE();
  } catch (const EJPEG& e) {
    EXPECT_EQ(e.Message, "Image of 16720 x 17676 pixels is larger than the limit of 268435456 pixels");
  }
  // Arithmetic coding has no floor on bits per block: a flat image of any size codes in a few
  // hundred bytes, such as a blank A4 page at 300 dpi. Such files are held to the pixel limit.
  for (auto [w, h, level] : {std::tuple{800u, 600u, 200}, {2480u, 3508u, 255}}) {
    Bytes f = GreyJpeg(w, h, uint8_t(level), true);
    ASSERT_GT(FindMarker(f, 0xC9), 0u);  // arithmetic coding
    TBitmap32 px;
    EXPECT_EQ(DecodeMessage(f, &px), "");
    ASSERT_EQ(px.Width(), int32_t(w));
    ASSERT_EQ(px.Height(), int32_t(h));
    EXPECT_EQ(px.Pixel(0, 0), 0xFF000000u | uint32_t(level) * 0x010101u) << w;
    EXPECT_EQ(px.Pixel(int32_t(w) - 1, int32_t(h) - 1), 0xFF000000u | uint32_t(level) * 0x010101u) << w;
  }
  Bytes huge = GreyJpeg(16, 16, 255, true);
  const size_t sof = FindMarker(huge, 0xC9);
  huge[sof + 5] = huge[sof + 7] = uint8_t(17000 >> 8);
  huge[sof + 6] = huge[sof + 8] = uint8_t(17000 & 0xFF);
  EXPECT_EQ(DecodeMessage(huge), "Image of 17000 x 17000 pixels is larger than the limit of 268435456 pixels");
}

TEST(JpegGraphic, ProgressWhileEncoding) {
  platform::TBitmap bmp;
  bmp.SetPixelFormat(platform::pf24bit);
  bmp.SetSize(64, 300);
  for (int y = 0; y < 300; ++y) {
    uint8_t* r = static_cast<uint8_t*>(bmp.ScanLine(y));
    for (int x = 0; x < 64; ++x) r[3 * x] = uint8_t(x * 4), r[3 * x + 1] = uint8_t(y), r[3 * x + 2] = uint8_t(x ^ y);
  }
  for (bool progressive : {false, true}) {
    SCOPED_TRACE(progressive);
    TJPEGImage j;
    j.Assign(&bmp);
    j.SetProgressiveEncoding(progressive);
    j.ProgressInterval = 0;
    struct Ev {
      platform::TProgressStage Stage;
      int Percent;
    };
    std::vector<Ev> ev;
    j.OnProgress = [&](platform::TObject* Sender, platform::TProgressStage S, uint8_t P, bool, const platform::TRect&,
                       const std::string&) {
      EXPECT_EQ(Sender, &j);
      ev.push_back({S, P});
    };
    platform::TMemoryStream s;
    j.SaveToStream(&s);
    ASSERT_GT(s.GetSize(), 100);
    ASSERT_GE(ev.size(), 4u);
    EXPECT_EQ(ev.front().Stage, platform::psStarting);
    EXPECT_EQ(ev.front().Percent, 0);
    EXPECT_EQ(ev.back().Stage, platform::psEnding);
    EXPECT_EQ(ev.back().Percent, 100);
    int running = 0;
    for (size_t i = 1; i + 1 < ev.size(); ++i) {
      EXPECT_EQ(ev[i].Stage, platform::psRunning);
      EXPECT_GT(ev[i].Percent, ev[i - 1].Percent) << i;  // only when the figure moved
      ++running;
    }
    EXPECT_GE(running, 3);
    // The bytes are kept: a second save encodes nothing and reports nothing.
    ev.clear();
    j.SaveToStream(&s);
    EXPECT_TRUE(ev.empty());
  }
  // Throttled: within one interval of the start no running figure gets through.
  TJPEGImage slow;
  slow.Assign(&bmp);
  slow.ProgressInterval = 3600 * 1000;
  std::vector<platform::TProgressStage> stages;
  slow.OnProgress = [&](platform::TObject*, platform::TProgressStage S, uint8_t, bool, const platform::TRect&,
                        const std::string&) { stages.push_back(S); };
  slow.Compress();
  EXPECT_EQ(stages, (std::vector<platform::TProgressStage>{platform::psStarting, platform::psEnding}));
  // A listener that throws stops the encoding; nothing is kept and a later save works.
  TJPEGImage failing;
  failing.Assign(&bmp);
  failing.ProgressInterval = 0;
  int endings = 0;
  failing.OnProgress = [&](platform::TObject*, platform::TProgressStage S, uint8_t P, bool, const platform::TRect&,
                           const std::string&) {
    if (S == platform::psEnding) {
      ++endings;
      EXPECT_EQ(P, 0);
    }
    if (S == platform::psRunning) throw platform::Exception("stop");
  };
  platform::TMemoryStream f;
  EXPECT_THROW(failing.SaveToStream(&f), platform::Exception);
  EXPECT_EQ(endings, 1);
  EXPECT_EQ(f.GetSize(), 0);
  failing.OnProgress = nullptr;
  failing.SaveToStream(&f);
  EXPECT_GT(f.GetSize(), 100);
}

// An image made from a bitmap has no bytes to decode again: changing an option keeps its
// pixels, and the save that follows encodes them with the options set (grey when asked).
TEST(JpegGraphic, OptionsSetOnABitmapKeepItsPixels) {
  platform::TBitmap bmp;
  bmp.SetPixelFormat(platform::pf24bit);
  bmp.SetSize(9, 7);
  for (int y = 0; y < 7; ++y) {
    uint8_t* r = static_cast<uint8_t*>(bmp.ScanLine(y));
    for (int x = 0; x < 9; ++x) r[3 * x] = 40, r[3 * x + 1] = 160, r[3 * x + 2] = 220;  // B G R
  }
  const std::vector<std::function<void(TJPEGImage&)>> options = {
      [](TJPEGImage& j) { j.SetGrayscale(true); },          [](TJPEGImage& j) { j.SetScale(jsHalf); },
      [](TJPEGImage& j) { j.SetPerformance(jpBestSpeed); }, [](TJPEGImage& j) { j.SetSmoothing(false); },
      [](TJPEGImage& j) { j.SetPixelFormat(jf8Bit); },      [](TJPEGImage& j) { j.SetProgressiveDisplay(true); },
      [](TJPEGImage& j) { j.SetInvertedCMYK(false); }};
  for (size_t i = 0; i < options.size(); ++i) {
    TJPEGImage j;
    j.Assign(&bmp);
    options[i](j);
    EXPECT_FALSE(j.Empty()) << i;
    EXPECT_EQ(j.Width(), 9) << i;
    EXPECT_EQ(j.Height(), 7) << i;
    platform::TMemoryStream s;
    j.SaveToStream(&s);
    ASSERT_GT(s.GetSize(), 100) << i;
    s.SetPosition(0);
    TJPEGImage back;
    back.LoadFromStream(&s);
    EXPECT_EQ(back.Width(), 9) << i;
    EXPECT_EQ(back.Data().Grayscale, i == 0) << i;
    TBitmap32 b;
    back.DecodeTo32(&b);
    const uint32_t p = b.Pixel(4, 3);
    if (i == 0) {
      const int level = (220 * 299 + 160 * 587 + 40 * 114) / 1000;  // the encoder's luminance
      EXPECT_NEAR(int((p >> 16) & 0xFF), level, 3);
      EXPECT_NEAR(int(p & 0xFF), level, 3);
    } else {
      EXPECT_NEAR(int((p >> 16) & 0xFF), 220, 3) << i;
      EXPECT_NEAR(int((p >> 8) & 0xFF), 160, 3) << i;
      EXPECT_NEAR(int(p & 0xFF), 40, 3) << i;
    }
  }
}

namespace {

// A JPEG of Components planes in no known colour space, written with libjpeg itself.
Bytes UnknownSpaceJpeg(int Components, uint32_t w, uint32_t h) {
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* mem = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &mem, &size);
  c.image_width = w;
  c.image_height = h;
  c.input_components = Components;
  c.in_color_space = JCS_UNKNOWN;
  jpeg_set_defaults(&c);
  jpeg_start_compress(&c, TRUE);
  std::vector<uint8_t> row(w * Components);
  for (size_t i = 0; i < row.size(); ++i) row[i] = uint8_t(i * 37);
  JSAMPROW r = row.data();
  while (c.next_scanline < c.image_height) jpeg_write_scanlines(&c, &r, 1);
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  Bytes out(mem, mem + size);
  free(mem);
  return out;
}

}  // namespace

// Only grey, colour and CMYK files make pixels: a file of two planes in no known colour space
// is refused with libjpeg's code for an impossible conversion, on every path, instead of being
// read as three bytes a pixel.
TEST(JpegGraphic, PlanesOfNoKnownColourSpaceAreRefused) {
  InitializeDtpRasterFormats();
  {
    const int n = 2;
    const Bytes f = UnknownSpaceJpeg(n, 13, 9);
    const std::string want = "JPEG error #" + std::to_string(JERR_CONVERSION_NOTIMPL);
    auto load = [&f](TJPEGImage& j) {
      platform::TMemoryStream s;
      s.WriteBuffer(f.data(), int32_t(f.size()));
      s.SetPosition(0);
      j.LoadFromStream(&s);
    };
    for (int path = 0; path < 3; ++path) {
      TJPEGImage j;
      load(j);
      EXPECT_EQ(j.Width(), 13);
      if (path == 1) j.SetPixelFormat(jf8Bit);
      try {
        if (path == 2) {
          TBitmap32 b;
          j.DecodeTo32(&b);
        } else {
          j.Bitmap();
        }
        ADD_FAILURE() << n << " planes, path " << path;
      } catch (const EJPEG& e) {
        EXPECT_EQ(e.Message, want) << n << " planes, path " << path;
      }
    }
    platform::TMemoryStream s;
    s.WriteBuffer(f.data(), int32_t(f.size()));
    s.SetPosition(0);
    TBitmap32 b;
    EXPECT_THROW(LoadRasterFromStream(&s, ".jpg", &b, {0, 0}, 0), EJPEG) << n;
  }
}

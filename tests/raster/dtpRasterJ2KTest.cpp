// JPEG 2000: the record conversion with a stand-in codec (planar planes, extra planes, two-plane
// images), absence of the library, and a file round trip through OpenJPEG when it is installed.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <string>

#include <openjpeg-2.5/openjpeg.h>

#include "platform/DynLib.h"
#include "platform/Graphics.h"
#include "raster/GifGraphic.h"
#include "raster/PngGraphic.h"
#include "raster/dtpRasterJ2K.h"
#include "raster/dtpRasterPNG.h"
#include "tests/common/TestSupport.h"

using namespace raster;

namespace {

int32_t gFormat = 3;
int32_t gFreed = 0;
uint8_t gData[2 * 2 * 5];

int32_t FakeLoad(const char*, const char* Ext, TImageContainer* R) {
  if (std::strcmp(Ext, "missing") == 0) return 2;
  if (std::strcmp(Ext, "odd") == 0) return 9;
  R->Width = 2;
  R->Height = 2;
  R->Format = gFormat;
  int n = gFormat & 0x0F;
  for (int i = 0; i < 4 * n; ++i) gData[i] = static_cast<uint8_t>(i);
  R->Data = gData;
  return 0;
}
int32_t FakeFree(TImageContainer*) { return ++gFreed; }

struct Restore {
  ~Restore() { BindJasperLibrary(); }
};

}  // namespace

TEST(J2K, RecordConversion) {
  Restore restore;
  SetJasperEntryPoints(FakeLoad, nullptr, FakeFree);
  platform::TBitmap b;
  std::string msg;
  gFormat = 0x03;
  LoadJ2KBitmap("a.jp2", msg, &b);
  EXPECT_EQ(msg, "");
  EXPECT_EQ(static_cast<uint8_t*>(b.ScanLine(0))[3], 3);  // interleaved: copied unchanged
  gFormat = 0x13;
  LoadJ2KBitmap("a.jp2", msg, &b);
  // Planar: byte k of plane p goes to p + 3k; pixel 1's first byte is plane 0's second byte.
  EXPECT_EQ(static_cast<uint8_t*>(b.ScanLine(0))[3], 1);
  EXPECT_EQ(static_cast<uint8_t*>(b.ScanLine(0))[1], 4);
  gFormat = 4;
  LoadJ2KBitmap("a.jp2", msg, &b);
  EXPECT_EQ(msg, "The image contains 4 color planes, only 3 were loaded");
  EXPECT_EQ(b.Width(), 2);
  // Four interleaved planes: each pixel is 4 bytes apart; its first three land in the row.
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 2; ++x)
      for (int c = 0; c < 3; ++c)
        EXPECT_EQ(static_cast<uint8_t*>(b.ScanLine(y))[3 * x + c], 4 * (2 * y + x) + c) << x << "," << y << "," << c;
  gFormat = 0x14;
  LoadJ2KBitmap("a.jp2", msg, &b);
  // Four planar planes of 4 bytes each: pixel k's plane p is byte 4p + k.
  for (int k = 0; k < 4; ++k)
    for (int c = 0; c < 3; ++c) EXPECT_EQ(static_cast<uint8_t*>(b.ScanLine(k / 2))[3 * (k % 2) + c], 4 * c + k);
  gFormat = 2;
  LoadJ2KBitmap("a.jp2", msg, &b);
  EXPECT_EQ(msg, "Unsupported pixel Format");
  EXPECT_EQ(b.Width(), 0);
  gFormat = 0;
  LoadJ2KBitmap("a.jp2", msg, &b);
  EXPECT_EQ(msg, "Unsupported bitmap Format");
  gFreed = 0;
  LoadJ2KBitmap("a.missing", msg, &b);
  EXPECT_EQ(msg, "Unable to open file");
  LoadJ2KBitmap("a.odd", msg, &b);
  EXPECT_EQ(msg, "Error in bitmap data: 9");
  EXPECT_EQ(gFreed, 0);
  gFormat = 1;
  LoadJ2KBitmap("a.jp2", msg, &b);
  EXPECT_EQ(gFreed, 1);
  // One plane: an 8-bit bitmap of indices over the grey ramp.
  ASSERT_EQ(b.PixelFormat(), platform::pf8bit);
  EXPECT_EQ(static_cast<uint8_t*>(b.ScanLine(1))[1], 3);
  EXPECT_EQ(b.Palette()[3], static_cast<platform::TColor>(platform::RGB(3, 3, 3)));
}

TEST(J2K, AbsenceTolerated) {
  Restore restore;
  InitializeDtpRasterFormats();
  InitializeDtpRasterPNG();
  InitializeDtpRasterJ2K();
  BindJasperLibrary("/nonexistent/libopenjp2.so.7");
  EXPECT_FALSE(JasperLibraryBound());
  EXPECT_EQ(FindRasterClass("a.jp2"), TJ2KImage::Class());
  std::string path = kdtest::TempDir() + "/a.jp2";
  kdtest::WriteFileBytes(path, {1, 2, 3});
  TdtpImageFiler f;
  f.FileName = path;
  TBitmap32 b;
  try {
    f.Load(&b);
    ADD_FAILURE();
  } catch (const ERasterError& e) {
    EXPECT_EQ(e.Message, "Library for image format not loaded");
  }
  TJ2KGraphic g;
  g.LoadFromFile(path);  // silently nothing
  EXPECT_TRUE(g.Empty());
  // A save cannot pass for done: it says why and writes nothing.
  g.SetPixelFormat(platform::pf24bit);
  g.SetSize(2, 2);
  try {
    g.SaveToFile(path + ".saved.jp2");
    ADD_FAILURE();
  } catch (const platform::EInvalidGraphic& e) {
    EXPECT_EQ(e.Message, "Library for image format not loaded");
  }
  EXPECT_FALSE(std::filesystem::exists(path + ".saved.jp2"));
}

TEST(J2K, RoundTripThroughOpenJpeg) {
  InitializeDtpRasterFormats();
  InitializeDtpRasterPNG();
  InitializeDtpRasterJ2K();
  if (!JasperLibraryBound()) GTEST_SKIP() << "libopenjp2 not installed";
  TBitmap32 src;
  src.SetSize(21, 13);
  for (int y = 0; y < 13; ++y)
    for (int x = 0; x < 21; ++x) src.SetPixel(x, y, 0x40000000u | uint32_t(x * 12) << 16 | uint32_t(y * 19) << 8 | uint32_t(x ^ y));
  std::string path = kdtest::TempDir() + "/round.jp2";
  TdtpImageFiler w;
  w.FileName = path;
  w.Save(&src);  // 32 bits converted to 24 first
  EXPECT_GT(w.ByteCount, 0);
  TdtpImageFiler r;
  r.FileName = path;
  TBitmap32 back;
  r.Load(&back);
  ASSERT_EQ(back.Width(), 21);
  ASSERT_EQ(back.Height(), 13);
  for (int y = 0; y < 13; ++y)
    for (int x = 0; x < 21; ++x) EXPECT_EQ(back.Pixel(x, y) & 0xFFFFFF, src.Pixel(x, y) & 0xFFFFFF) << x << "," << y;
  std::string bad = kdtest::TempDir() + "/bad.jp2";
  kdtest::WriteFileBytes(bad, {0, 0, 0, 12, 'j', 'P', ' ', ' '});
  std::string msg;
  platform::TBitmap bm;
  LoadJ2KBitmap(bad, msg, &bm);
  EXPECT_EQ(msg, "Error in bitmap data");
}

namespace {

// Writes a four-plane (RGBA) JPEG 2000 file with OpenJPEG itself, through the same run-time
// library the program binds, so that the test needs no outside file.
bool WriteRgbaJp2(const std::string& Path, int W, int H, uint32_t (*Pixel)(int, int)) {
  platform::TDynLib lib;
  if (!lib.Load("libopenjp2.so.7")) return false;
  auto image_create = reinterpret_cast<decltype(&opj_image_create)>(lib.Proc("opj_image_create"));
  auto image_destroy = reinterpret_cast<decltype(&opj_image_destroy)>(lib.Proc("opj_image_destroy"));
  auto default_encoder = reinterpret_cast<decltype(&opj_set_default_encoder_parameters)>(lib.Proc("opj_set_default_encoder_parameters"));
  auto create_compress = reinterpret_cast<decltype(&opj_create_compress)>(lib.Proc("opj_create_compress"));
  auto setup_encoder = reinterpret_cast<decltype(&opj_setup_encoder)>(lib.Proc("opj_setup_encoder"));
  auto file_stream = reinterpret_cast<decltype(&opj_stream_create_default_file_stream)>(lib.Proc("opj_stream_create_default_file_stream"));
  auto start_compress = reinterpret_cast<decltype(&opj_start_compress)>(lib.Proc("opj_start_compress"));
  auto encode = reinterpret_cast<decltype(&opj_encode)>(lib.Proc("opj_encode"));
  auto end_compress = reinterpret_cast<decltype(&opj_end_compress)>(lib.Proc("opj_end_compress"));
  auto stream_destroy = reinterpret_cast<decltype(&opj_stream_destroy)>(lib.Proc("opj_stream_destroy"));
  auto destroy_codec = reinterpret_cast<decltype(&opj_destroy_codec)>(lib.Proc("opj_destroy_codec"));
  if (!image_create || !encode || !file_stream) return false;
  opj_image_cmptparm_t cp[4];
  std::memset(cp, 0, sizeof cp);
  for (auto& c : cp) {
    c.dx = c.dy = 1;
    c.w = static_cast<OPJ_UINT32>(W);
    c.h = static_cast<OPJ_UINT32>(H);
    c.prec = 8;
  }
  opj_image_t* img = image_create(4, cp, OPJ_CLRSPC_SRGB);
  img->x1 = static_cast<OPJ_UINT32>(W);
  img->y1 = static_cast<OPJ_UINT32>(H);
  img->comps[3].alpha = 1;
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      uint32_t argb = Pixel(x, y);
      img->comps[0].data[y * W + x] = (argb >> 16) & 0xFF;
      img->comps[1].data[y * W + x] = (argb >> 8) & 0xFF;
      img->comps[2].data[y * W + x] = argb & 0xFF;
      img->comps[3].data[y * W + x] = argb >> 24;
    }
  opj_cparameters_t params;
  default_encoder(&params);
  params.tcp_numlayers = 1;
  params.tcp_rates[0] = 0;
  params.cp_disto_alloc = 1;
  params.numresolution = 2;
  opj_codec_t* codec = create_compress(OPJ_CODEC_JP2);
  opj_stream_t* stream = file_stream(Path.c_str(), OPJ_FALSE);
  bool ok = setup_encoder(codec, &params, img) && start_compress(codec, img, stream) && encode(codec, stream) &&
            end_compress(codec, stream);
  stream_destroy(stream);
  destroy_codec(codec);
  image_destroy(img);
  return ok;
}

uint32_t RgbaPixel(int x, int y) {
  return uint32_t((x * 40 + y) & 0xFF) << 24 | uint32_t(x * 30) << 16 | uint32_t(y * 50) << 8 | uint32_t((x * 7 + y * 11) & 0xFF);
}

}  // namespace

TEST(J2K, FourPlaneFileLoadsItsColours) {
  InitializeDtpRasterFormats();
  InitializeDtpRasterPNG();
  InitializeDtpRasterJ2K();
  if (!JasperLibraryBound()) GTEST_SKIP() << "libopenjp2 not installed";
  std::string path = kdtest::TempDir() + "/rgba.jp2";
  ASSERT_TRUE(WriteRgbaJp2(path, 7, 5, RgbaPixel));
  std::string msg;
  platform::TBitmap bm;
  LoadJ2KBitmap(path, msg, &bm);
  EXPECT_EQ(msg, "The image contains 4 color planes, only 3 were loaded");
  TdtpImageFiler r;
  r.FileName = path;
  TBitmap32 back;
  r.Load(&back);
  ASSERT_EQ(back.Width(), 7);
  ASSERT_EQ(back.Height(), 5);
  // The raster format reads into 32 bits: the fourth plane is the alpha.
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) EXPECT_EQ(back.Pixel(x, y), RgbaPixel(x, y)) << x << "," << y;
  // The picture class tells a caller whose bitmap is not 32 bits what was left out ...
  TJ2KGraphic g24;
  g24.SetPixelFormat(platform::pf24bit);
  try {
    g24.LoadFromFile(path);
    ADD_FAILURE();
  } catch (const platform::EInvalidGraphic& e) {
    EXPECT_EQ(e.Message, "The image contains 4 color planes, only 3 were loaded");
  }
  EXPECT_EQ(g24.Width(), 7);  // the colours are loaded all the same
  // ... and a picture loaded by extension keeps the transparency.
  platform::TPicture pic;
  pic.LoadFromFile(path);
  auto* g = dynamic_cast<TJ2KGraphic*>(pic.Graphic());
  ASSERT_NE(g, nullptr);
  ASSERT_EQ(g->PixelFormat(), platform::pf32bit);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) {
      uint32_t p;
      std::memcpy(&p, static_cast<uint8_t*>(g->ScanLine(y)) + 4 * x, 4);
      EXPECT_EQ(p, RgbaPixel(x, y)) << x << "," << y;
    }
  // Saved from 32 bits, the alpha goes out as the fourth plane and comes back.
  std::string again = kdtest::TempDir() + "/rgba-again.jp2";
  g->SaveToFile(again);
  TBitmap32 back2;
  TdtpImageFiler r2;
  r2.FileName = again;
  r2.Load(&back2);
  ASSERT_EQ(back2.Width(), 7);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) EXPECT_EQ(back2.Pixel(x, y), RgbaPixel(x, y)) << x << "," << y;
}

namespace {

uint8_t gPalette[256 * 3];
TImageContainer gSaved;
std::vector<uint8_t> gSavedData, gSavedPalette;

int32_t PaletteLoad(const char*, const char*, TImageContainer* R) {
  R->Width = 2;
  R->Height = 2;
  R->Format = gFormat;
  int n = gFormat & 0x0F;
  for (int i = 0; i < 4 * n; ++i) gData[i] = static_cast<uint8_t>(10 * i + 1);
  R->Data = gData;
  R->Palette = gPalette;
  return 0;
}

int32_t CaptureSave(const char*, const char*, TImageContainer* R) {
  gSaved = *R;
  int n = R->Format & 0x0F;
  gSavedData.assign(R->Data, R->Data + static_cast<size_t>(n) * R->Width * R->Height);
  gSavedPalette.clear();
  if (R->Palette) gSavedPalette.assign(R->Palette, R->Palette + 768);
  return 0;
}

}  // namespace

TEST(J2K, OnePlaneIsAPaletteBitmapBothWays) {
  Restore restore;
  for (int i = 0; i < 256; ++i) {
    gPalette[3 * i] = static_cast<uint8_t>(i);        // blue
    gPalette[3 * i + 1] = static_cast<uint8_t>(255 - i);  // green
    gPalette[3 * i + 2] = static_cast<uint8_t>(i / 2);    // red
  }
  SetJasperEntryPoints(PaletteLoad, CaptureSave, FakeFree);
  gFormat = 1;
  platform::TBitmap b;
  std::string msg;
  LoadJ2KBitmap("p.jp2", msg, &b);
  EXPECT_EQ(msg, "");
  ASSERT_EQ(b.PixelFormat(), platform::pf8bit);
  ASSERT_EQ(b.Palette().size(), 256u);
  for (int i = 0; i < 256; ++i)
    ASSERT_EQ(b.Palette()[i], static_cast<platform::TColor>(platform::RGB(i / 2, 255 - i, i))) << i;
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 2; ++x) EXPECT_EQ(b.PixelIndex(x, y), 10 * (2 * y + x) + 1);
  // Through the raster format the indices become their colours.
  TJ2KImage j;
  TBitmap32 b32;
  j.LoadFromFile("p.jp2", &b32, {0, 0}, 0);
  EXPECT_EQ(b32.Pixel(1, 1), 0xFF000000u | uint32_t(31 / 2) << 16 | uint32_t(255 - 31) << 8 | 31u);
  // Saving an 8-bit bitmap hands over its indices and its table (blue, green, red); places
  // beyond a short palette are grey, a black entry stays black.
  platform::TBitmap small;
  small.SetPixelFormat(platform::pf8bit);
  small.SetPalette({platform::RGB(0, 0, 0), platform::RGB(255, 0, 0), platform::RGB(1, 2, 3)});
  small.SetSize(3, 1);
  for (int x = 0; x < 3; ++x) static_cast<uint8_t*>(small.ScanLine(0))[x] = static_cast<uint8_t>(2 - x);
  SaveJ2KBitmap("s.jp2", msg, &small);
  EXPECT_EQ(msg, "");
  EXPECT_EQ(gSaved.Format, 1);
  EXPECT_EQ(gSaved.Width, 3);
  EXPECT_EQ(gSavedData, (std::vector<uint8_t>{2, 1, 0}));
  ASSERT_EQ(gSavedPalette.size(), 768u);
  EXPECT_EQ(std::vector<uint8_t>(gSavedPalette.begin(), gSavedPalette.begin() + 12),
            (std::vector<uint8_t>{0, 0, 0, 0, 0, 255, 3, 2, 1, 3, 3, 3}));
  EXPECT_EQ(gSavedPalette[3 * 255], 255);
  // A 32-bit bitmap goes out with four planes; other formats are refused.
  platform::TBitmap b4;
  b4.SetPixelFormat(platform::pf32bit);
  b4.SetSize(1, 1);
  std::memcpy(b4.ScanLine(0), "\x01\x02\x03\x80", 4);
  SaveJ2KBitmap("s.jp2", msg, &b4);
  EXPECT_EQ(gSaved.Format, 4);
  EXPECT_EQ(gSavedData, (std::vector<uint8_t>{1, 2, 3, 0x80}));
  EXPECT_TRUE(gSavedPalette.empty());
  platform::TBitmap b1;
  b1.SetPixelFormat(platform::pf1bit);
  b1.SetSize(1, 1);
  SaveJ2KBitmap("s.jp2", msg, &b1);
  EXPECT_EQ(msg, "Unsupported bitmap format");
}

TEST(J2K, FourthPlaneIsAlphaForA32BitTarget) {
  Restore restore;
  SetJasperEntryPoints(FakeLoad, nullptr, FakeFree);
  for (int32_t format : {4, 0x14}) {
    gFormat = format;
    platform::TBitmap b;
    b.SetPixelFormat(platform::pf32bit);
    std::string msg;
    LoadJ2KBitmap("a.jp2", msg, &b);
    EXPECT_EQ(msg, "");
    ASSERT_EQ(b.PixelFormat(), platform::pf32bit);
    for (int k = 0; k < 4; ++k)
      for (int c = 0; c < 4; ++c) {
        int expected = format == 4 ? 4 * k + c : 4 * c + k;
        EXPECT_EQ(static_cast<uint8_t*>(b.ScanLine(k / 2))[4 * (k % 2) + c], expected) << format << " " << k << " " << c;
      }
  }
  // Planes beyond the fourth are still reported.
  gFormat = 5;
  platform::TBitmap b;
  b.SetPixelFormat(platform::pf32bit);
  std::string msg;
  LoadJ2KBitmap("a.jp2", msg, &b);
  EXPECT_EQ(msg, "The image contains 5 color planes, only 4 were loaded");
  EXPECT_EQ(static_cast<uint8_t*>(b.ScanLine(0))[7], 8);  // pixel 1's fourth plane
  // The raster format keeps it as the alpha of the 32-bit surface.
  gFormat = 4;
  TJ2KImage j;
  TBitmap32 b32;
  j.LoadFromFile("a.jp2", &b32, {0, 0}, 0);
  EXPECT_EQ(b32.Pixel(1, 0), 0x07060504u);
  // A three-plane image into a 32-bit bitmap is 24 bits as before.
  gFormat = 3;
  platform::TBitmap b3;
  b3.SetPixelFormat(platform::pf32bit);
  LoadJ2KBitmap("a.jp2", msg, &b3);
  EXPECT_EQ(msg, "");
  EXPECT_EQ(b3.PixelFormat(), platform::pf24bit);
}

TEST(J2K, PaletteBitmapsThroughOpenJpeg) {
  InitializeDtpRasterFormats();
  InitializeDtpRasterJ2K();
  if (!JasperLibraryBound()) GTEST_SKIP() << "libopenjp2 not installed";
  // A grey-ramp bitmap is written as one grey plane and reads back as the same indices.
  platform::TBitmap grey;
  grey.SetPixelFormat(platform::pf8bit);
  platform::TPaletteEntries ramp;
  for (int i = 0; i < 256; ++i) ramp.push_back(platform::RGB(i, i, i));
  grey.SetPalette(ramp);
  grey.SetSize(9, 7);
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 9; ++x) static_cast<uint8_t*>(grey.ScanLine(y))[x] = static_cast<uint8_t>(x * 28 + y);
  std::string path = kdtest::TempDir() + "/grey8.jp2";
  std::string msg;
  SaveJ2KBitmap(path, msg, &grey);
  ASSERT_EQ(msg, "");
  platform::TBitmap back;
  LoadJ2KBitmap(path, msg, &back);
  ASSERT_EQ(msg, "");
  ASSERT_EQ(back.PixelFormat(), platform::pf8bit);
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 9; ++x) EXPECT_EQ(back.PixelIndex(x, y), x * 28 + y);
  // A colour table is kept in the colours the indices stand for.
  platform::TBitmap colours;
  colours.SetPixelFormat(platform::pf8bit);
  colours.SetPalette({platform::RGB(255, 0, 0), platform::RGB(0, 128, 0), platform::RGB(10, 20, 30)});
  colours.SetSize(3, 2);
  for (int x = 0; x < 3; ++x) static_cast<uint8_t*>(colours.ScanLine(1))[x] = static_cast<uint8_t>(x);
  std::string cpath = kdtest::TempDir() + "/colours8.jp2";
  SaveJ2KBitmap(cpath, msg, &colours);
  ASSERT_EQ(msg, "");
  TBitmap32 c32;
  TJ2KImage j;
  j.LoadFromFile(cpath, &c32, {0, 0}, 0);
  ASSERT_EQ(c32.Width(), 3);
  EXPECT_EQ(c32.Pixel(0, 1), 0xFFFF0000u);
  EXPECT_EQ(c32.Pixel(1, 1), 0xFF008000u);
  EXPECT_EQ(c32.Pixel(2, 1), 0xFF0A141Eu);
  EXPECT_EQ(c32.Pixel(2, 0), 0xFFFF0000u);  // index 0
}

namespace {

int32_t HugeLoad(const char*, const char*, TImageContainer* R) {
  R->Width = 20000;
  R->Height = 20000;
  R->Format = 3;
  R->Data = gData;
  return 0;
}

}  // namespace

TEST(J2K, FailuresAreReported) {
  Restore restore;
  InitializeDtpRasterFormats();
  InitializeDtpRasterPNG();
  InitializeDtpRasterJ2K();
  const std::string tooLarge = "Image of 20000 x 20000 pixels is larger than the limit of 268435456 pixels";
  SetJasperEntryPoints(HugeLoad, nullptr, FakeFree);
  platform::TBitmap bm;
  std::string msg;
  LoadJ2KBitmap("a.jp2", msg, &bm);
  EXPECT_EQ(msg, tooLarge);
  EXPECT_TRUE(bm.Empty());
  // Through the raster format a failed read raises its reason instead of giving an empty bitmap.
  SetJasperEntryPoints(FakeLoad, nullptr, FakeFree);
  TJ2KImage j;
  TBitmap32 b;
  try {
    j.LoadFromFile("a.missing", &b, {0, 0}, 0);
    ADD_FAILURE();
  } catch (const ERasterError& e) {
    EXPECT_EQ(e.Message, "Unable to open file");
  }
  BindJasperLibrary();
  if (!JasperLibraryBound()) return;
  // A real code stream whose header declares 20000 x 20000 is refused before decoding.
  std::string path = kdtest::TempDir() + "/small.j2k";
  platform::TBitmap small;
  small.SetPixelFormat(platform::pf24bit);
  small.SetSize(4, 4);
  SaveJ2KBitmap(path, msg, &small);
  ASSERT_EQ(msg, "");
  std::vector<uint8_t> bytes = kdtest::ReadFileBytes(path);
  ASSERT_GT(bytes.size(), 40u);
  ASSERT_EQ(bytes[2], 0xFF);
  ASSERT_EQ(bytes[3], 0x51);  // SIZ right after SOC
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
  };
  put32(8, 20000);   // Xsiz
  put32(12, 20000);  // Ysiz
  put32(24, 20000);  // XTsiz
  put32(28, 20000);  // YTsiz
  kdtest::WriteFileBytes(path, bytes);
  LoadJ2KBitmap(path, msg, &bm);
  EXPECT_EQ(msg, tooLarge);
  // 4000 x 4000 is inside the limit, but not in a file of a hundred-odd bytes.
  for (size_t at : {8, 12, 24, 28}) put32(at, 4000);
  kdtest::WriteFileBytes(path, bytes);
  LoadJ2KBitmap(path, msg, &bm);
  EXPECT_EQ(msg, "Image of 4000 x 4000 pixels cannot be held in the " + std::to_string(bytes.size()) +
                     " bytes of data that follow its header");
  // Our own writer's most compact output, a flat picture, loads again.
  TBitmap32 flat;
  flat.SetSize(2000, 2000);
  flat.Clear(0xFFFFFFFF);
  std::string flatPath = kdtest::TempDir() + "/flat.jp2";
  j.SaveToFile(flatPath, &flat);
  TBitmap32 flatBack;
  j.LoadFromFile(flatPath, &flatBack, {0, 0}, 0);
  ASSERT_EQ(flatBack.Width(), 2000);
  EXPECT_EQ(flatBack.Pixel(1999, 1999), 0xFFFFFFFFu);
  // A file that cannot be made raises the platform's error (the image is written to a
  // temporary file beside the target first).
  TBitmap32 one;
  one.SetSize(2, 2);
  try {
    j.SaveToFile("/nonexistent-folder/a.jp2", &one);
    ADD_FAILURE();
  } catch (const platform::EFCreateError& e) {
    EXPECT_EQ(e.Message, "Cannot create file /nonexistent-folder/a.jp2");
  }
  // Saving an empty bitmap raises instead of writing nothing silently.
  TBitmap32 empty;
  try {
    j.SaveToFile(kdtest::TempDir() + "/empty.jp2", &empty);
    ADD_FAILURE();
  } catch (const ERasterError& e) {
    EXPECT_EQ(e.Message, "Bitmap is empty");
  }
}

namespace {

int32_t RefusingSave(const char* FileName, const char*, TImageContainer*) {
  // Leaves a partly written file behind, as a failing codec may.
  kdtest::WriteFileBytes(FileName, {1, 2, 3});
  return 7;
}

}  // namespace

TEST(J2K, AFailedSaveKeepsTheFileThatWasThere) {
  Restore restore;
  SetJasperEntryPoints(FakeLoad, RefusingSave, FakeFree);
  std::string path = kdtest::TempDir() + "/keep.jp2";
  kdtest::WriteFileBytes(path, {9, 9, 9, 9});
  TJ2KImage j;
  TBitmap32 one;
  one.SetSize(2, 2);
  try {
    j.SaveToFile(path, &one);
    ADD_FAILURE();
  } catch (const ERasterError& e) {
    EXPECT_EQ(e.Message, "Error in bitmap data: 7");
  }
  EXPECT_EQ(kdtest::ReadFileBytes(path), (std::vector<uint8_t>{9, 9, 9, 9}));
  TJ2KGraphic g;
  g.SetPixelFormat(platform::pf24bit);
  g.SetSize(2, 2);
  EXPECT_THROW(g.SaveToFile(path), platform::EInvalidGraphic);
  EXPECT_EQ(kdtest::ReadFileBytes(path), (std::vector<uint8_t>{9, 9, 9, 9}));
  // Nothing else is left in the folder.
  int others = 0;
  for (auto& e : std::filesystem::directory_iterator(kdtest::TempDir()))
    others += e.path().filename().string().find(".keep.") == 0;
  EXPECT_EQ(others, 0);
}

namespace {

// Pixel bytes (blue, green, red, alpha) of a 32-bit test bitmap; RealAlpha gives some pixels a
// non-zero alpha, otherwise every alpha byte is 0.
std::array<uint8_t, 4> TestPixel(int x, int y, bool RealAlpha) {
  return {static_cast<uint8_t>(x * 20), static_cast<uint8_t>(y * 30 + 5), static_cast<uint8_t>((x ^ y) * 7),
          static_cast<uint8_t>(RealAlpha && (x + y) % 3 ? 40 * x + y : 0)};
}

uint32_t ArgbOf(const std::array<uint8_t, 4>& p) {
  return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

// The colours a graphic shows when drawn on white.
std::vector<platform::TColor> Drawn(platform::TGraphic* G) {
  platform::TBitmap t;
  t.SetPixelFormat(platform::pf24bit);
  t.SetSize(G->Width(), G->Height());
  t.Canvas()->Brush()->SetColor(platform::clWhite);
  t.Canvas()->FillRect({0, 0, G->Width(), G->Height()});
  t.Canvas()->Draw(0, 0, G);
  std::vector<platform::TColor> out;
  for (int y = 0; y < G->Height(); ++y)
    for (int x = 0; x < G->Width(); ++x) out.push_back(t.Canvas()->Pixel(x, y));
  return out;
}

}  // namespace

// A 32-bit bitmap whose alpha bytes are all 0 has no alpha (it is drawn opaque): it is written
// as three planes and reads back opaque; a bitmap with alpha keeps its fourth plane.
TEST(J2K, ThirtyTwoBitsWithoutAlphaAreSavedOpaque) {
  {
    Restore restore;
    SetJasperEntryPoints(FakeLoad, CaptureSave, FakeFree);
    platform::TBitmap b;
    b.SetPixelFormat(platform::pf32bit);
    b.SetSize(2, 2);
    for (int k = -1; k < 4; ++k) {
      // k: the one pixel with a non-zero alpha byte, -1 none.
      for (int y = 0; y < 2; ++y) std::memcpy(b.ScanLine(y), y ? "\x07\x08\x09\x00\x0A\x0B\x0C\x00" : "\x01\x02\x03\x00\x04\x05\x06\x00", 8);
      if (k >= 0) static_cast<uint8_t*>(b.ScanLine(k / 2))[4 * (k % 2) + 3] = 1;
      std::string msg;
      SaveJ2KBitmap("s.jp2", msg, &b);
      EXPECT_EQ(msg, "");
      if (k < 0) {
        EXPECT_EQ(gSaved.Format, 3);
        EXPECT_EQ(gSavedData, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
      } else {
        EXPECT_EQ(gSaved.Format, 4) << k;
        std::vector<uint8_t> want{1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0, 10, 11, 12, 0};
        want[4 * k + 3] = 1;
        EXPECT_EQ(gSavedData, want) << k;
      }
    }
  }
  InitializeDtpRasterFormats();
  InitializeDtpRasterPNG();
  InitializeDtpRasterJ2K();
  if (!JasperLibraryBound()) GTEST_SKIP() << "libopenjp2 not installed";
  const int w = 9, h = 6;
  for (bool realAlpha : {false, true}) {
    SCOPED_TRACE(realAlpha ? "with alpha" : "alpha all 0");
    TJ2KGraphic g;
    g.SetPixelFormat(platform::pf32bit);
    g.SetSize(w, h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) std::memcpy(static_cast<uint8_t*>(g.ScanLine(y)) + 4 * x, TestPixel(x, y, realAlpha).data(), 4);
    const std::string path = kdtest::TempDir() + (realAlpha ? "/alpha.jp2" : "/noalpha.jp2");
    g.SaveToFile(path);
    // Through the raster format: without alpha every pixel is opaque, with alpha every byte
    // comes back.
    TdtpImageFiler r;
    r.FileName = path;
    TBitmap32 back;
    r.Load(&back);
    ASSERT_EQ(back.Width(), w);
    ASSERT_EQ(back.Height(), h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const uint32_t p = ArgbOf(TestPixel(x, y, realAlpha));
        ASSERT_EQ(back.Pixel(x, y), realAlpha ? p : (p | 0xFF000000u)) << x << "," << y;
      }
    // As a picture: the bytes of every pixel, and the same colours when drawn.
    platform::TPicture pic;
    pic.LoadFromFile(path);
    auto* g2 = dynamic_cast<TJ2KGraphic*>(pic.Graphic());
    ASSERT_NE(g2, nullptr);
    ASSERT_EQ(g2->PixelFormat(), realAlpha ? platform::pf32bit : platform::pf24bit);
    const int bytes = realAlpha ? 4 : 3;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        ASSERT_EQ(std::memcmp(static_cast<uint8_t*>(g2->ScanLine(y)) + bytes * x, TestPixel(x, y, realAlpha).data(), bytes), 0)
            << x << "," << y;
    EXPECT_EQ(Drawn(g2), Drawn(&g));
  }
}

// The other writers treat a 32-bit bitmap whose alpha bytes are all 0 as the drawing does:
// opaque.
TEST(ZeroAlpha, OtherWritersKeepABitmapWithoutAlphaOpaque) {
  InitializeDtpRasterFormats();
  InitializeDtpRasterPNG();
  const int w = 6, h = 4;
  platform::TBitmap src;
  src.SetPixelFormat(platform::pf32bit);
  src.SetSize(w, h);
  // Four colours of the GIF's default colour cube (levels of 51), so that they stay exact.
  auto pixel = [](int x, int y) {
    static const std::array<uint8_t, 4> kColours[4] = {{51, 102, 255, 0}, {255, 0, 153, 0}, {0, 204, 51, 0}, {255, 255, 255, 0}};
    return kColours[(x + 2 * y) % 4];
  };
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) std::memcpy(static_cast<uint8_t*>(src.ScanLine(y)) + 4 * x, pixel(x, y).data(), 4);
  const std::vector<platform::TColor> shown = Drawn(&src);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const auto p = pixel(x, y);
      ASSERT_EQ(shown[y * w + x], static_cast<platform::TColor>(platform::RGB(p[2], p[1], p[0])));
    }
  auto bytesOf = [](platform::TMemoryStream& s) {
    auto* p = static_cast<const uint8_t*>(s.Memory());
    return std::vector<uint8_t>(p, p + s.Size());
  };
  auto rasterLoad = [](const std::vector<uint8_t>& file, const std::string& name) {
    const std::string path = kdtest::TempDir() + "/" + name;
    kdtest::WriteFileBytes(path, file);
    TdtpImageFiler r;
    r.FileName = path;
    TBitmap32 b;
    r.Load(&b);
    return b.Bits() ? std::vector<uint32_t>(b.Bits(), b.Bits() + w * h) : std::vector<uint32_t>();
  };
  std::vector<uint32_t> opaque;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) opaque.push_back(ArgbOf(pixel(x, y)) | 0xFF000000u);
  // BMP: written with its alpha bytes; a file whose alpha bytes are all 0 loads opaque.
  platform::TMemoryStream bmp;
  src.SaveToStream(&bmp);
  bmp.SetPosition(0);
  platform::TBitmap fromBmp;
  fromBmp.LoadFromStream(&bmp);
  EXPECT_EQ(Drawn(&fromBmp), shown);
  EXPECT_EQ(rasterLoad(bytesOf(bmp), "zero.bmp"), opaque);
  // PNG: the bitmap's alpha is not carried over; the image is RGB without transparency.
  TPngGraphic png;
  png.Assign(&src);
  platform::TMemoryStream pngBytes;
  png.SaveToStream(&pngBytes);
  pngBytes.SetPosition(0);
  TPngGraphic pngBack;
  pngBack.LoadFromStream(&pngBytes);
  EXPECT_EQ(pngBack.Header()->ColorType, 2);
  EXPECT_FALSE(pngBack.GetTransparent());
  EXPECT_EQ(Drawn(&pngBack), shown);
  EXPECT_EQ(rasterLoad(bytesOf(pngBytes), "zero.png"), opaque);
  // GIF: the colours become a frame without a transparent index.
  TGifGraphic gif;
  gif.Assign(&src);
  platform::TMemoryStream gifBytes;
  gif.SaveToStream(&gifBytes);
  gifBytes.SetPosition(0);
  TGifGraphic gifBack;
  gifBack.LoadFromStream(&gifBytes);
  ASSERT_EQ(gifBack.Count(), 1);
  EXPECT_FALSE(gifBack.Images(0)->Transparent());
  EXPECT_EQ(Drawn(&gifBack), shown);
  EXPECT_EQ(gifBack.Images(0)->Pixels32(), opaque);
}

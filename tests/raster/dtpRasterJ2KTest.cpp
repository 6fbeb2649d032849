// JPEG 2000: the record conversion with a stand-in codec (planar planes, extra planes, two-plane
// images), absence of the library, and a file round trip through OpenJPEG when it is installed.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "raster/dtpRasterJ2K.h"
#include "raster/dtpRasterPNG.h"
#include "tests/common/TestSupport.h"

using namespace raster;

namespace {

int32_t gFormat = 3;
int32_t gFreed = 0;
uint8_t gData[2 * 2 * 4];

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
  EXPECT_EQ(static_cast<uint8_t*>(b.ScanLine(1))[3], 3);  // grey ramp entry 3
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

// TBitmap32 with the clipboard and with palette bitmaps, and BitmapsEqual against its rule
// (identical BMP serialisations).
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "platform/Clipboard.h"
#include "platform/Graphics.h"
#include "raster/Raster32.h"

using namespace raster;

namespace {

void Fill(TBitmap32& b, int w, int h, uint32_t seed) {
  std::mt19937 rng(seed);
  b.SetSize(w, h);
  for (int i = 0; i < w * h; ++i) b.Bits()[i] = rng() | 0x01000000u;  // some alpha in every pixel
}

std::vector<uint8_t> Bmp(const TBitmap32& b) {
  platform::TMemoryStream s;
  b.SaveToStream(&s);
  auto* p = static_cast<const uint8_t*>(s.Memory());
  return {p, p + s.Size()};
}

class TOther32 : public TBitmap32 {};

}  // namespace

TEST(Bitmap32Clipboard, RoundTripKeepsEveryByte) {
  for (auto [w, h] : {std::pair{1, 1}, std::pair{7, 3}, std::pair{64, 33}}) {
    TBitmap32 a, b;
    Fill(a, w, h, static_cast<uint32_t>(w * 100 + h));
    platform::Clipboard()->Assign(&a);
    EXPECT_TRUE(platform::Clipboard()->HasFormat(platform::CF_BITMAP));
    b.Assign(platform::Clipboard());
    EXPECT_TRUE(BitmapsEqual(&a, &b)) << w << "x" << h;
  }
  // An empty clipboard gives the picture error, and the bitmap keeps its size.
  platform::Clipboard()->Clear();
  TBitmap32 c;
  c.SetSize(2, 2);
  EXPECT_THROW(c.Assign(platform::Clipboard()), platform::EInvalidGraphic);
}

TEST(Bitmap32Clipboard, BitmapsEqualFollowsTheSerialisations) {
  TBitmap32 e1, e2, z;
  z.SetSize(0, 5);
  EXPECT_TRUE(BitmapsEqual(&e1, &e2));
  EXPECT_TRUE(BitmapsEqual(&e1, &z));
  TBitmap32 a, b;
  Fill(a, 5, 4, 1);
  EXPECT_FALSE(BitmapsEqual(&a, &e1));
  TOther32 o;
  Fill(o, 5, 4, 1);
  EXPECT_FALSE(BitmapsEqual(&a, &o));  // another class
  // Random pairs: equal exactly when the BMP files are.
  std::mt19937 rng(7);
  for (int i = 0; i < 200; ++i) {
    int w = 1 + rng() % 4, h = 1 + rng() % 4;
    Fill(a, w, h, 11);
    b.Assign(&a);
    switch (rng() % 4) {
      case 0: break;
      case 1: b.Bits()[rng() % (w * h)] ^= 1u << (rng() % 32); break;  // alpha bits too
      case 2: b.SetSize(h, w); Fill(b, h, w, 11); break;
      case 3: Fill(b, w, h, 12); break;
    }
    ASSERT_EQ(BitmapsEqual(&a, &b), Bmp(a) == Bmp(b)) << i;
  }
}

// Whatever pixel format a bitmap came from, its BMP serialisation is 32 bits with all four
// bytes of every pixel: no bit of a pixel is dropped, so every bit that differs makes both the
// serialisations and the comparison differ, and equal pixels make both equal.
TEST(Bitmap32Clipboard, BitmapsEqualSeesEveryBitTheSerialisationKeeps) {
  for (platform::TPixelFormat pf : {platform::pf1bit, platform::pf4bit, platform::pf8bit, platform::pf24bit, platform::pf32bit}) {
    SCOPED_TRACE(static_cast<int>(pf));
    platform::TBitmap src;
    src.SetPixelFormat(pf);
    src.SetSize(3, 2);
    if (pf <= platform::pf8bit) src.SetPalette({platform::clRed, platform::clBlue});
    src.Canvas()->SetPixel(1, 1, platform::clBlue);
    if (pf == platform::pf32bit) static_cast<uint8_t*>(src.ScanLine(0))[3] = 0x80;  // some alpha
    TBitmap32 a;
    a.Assign(&src);
    ASSERT_EQ(a.Width(), 3);
    const std::vector<uint8_t> bmp = Bmp(a);
    ASSERT_EQ(bmp.size(), 54u + 3 * 2 * 4);
    EXPECT_EQ(bmp[28], 32);  // bits per pixel
    TBitmap32 b;
    b.Assign(&a);
    EXPECT_TRUE(BitmapsEqual(&a, &b));
    EXPECT_EQ(Bmp(b), bmp);
    for (int p = 0; p < 6; ++p)
      for (int bit = 0; bit < 32; ++bit) {
        b.Bits()[p] ^= 1u << bit;
        ASSERT_NE(Bmp(b), bmp) << p << " " << bit;
        ASSERT_FALSE(BitmapsEqual(&a, &b)) << p << " " << bit;
        b.Bits()[p] ^= 1u << bit;
      }
    EXPECT_TRUE(BitmapsEqual(&a, &b));
  }
}

TEST(Bitmap32Clipboard, PaletteBitmapsAssignTheirColours) {
  for (platform::TPixelFormat pf : {platform::pf1bit, platform::pf4bit, platform::pf8bit}) {
    platform::TBitmap p;
    p.SetPixelFormat(pf);
    p.SetSize(9, 2);
    p.SetPalette({platform::clRed, platform::clBlue});
    for (int y = 0; y < 2; ++y) {
      auto* row = static_cast<uint8_t*>(p.ScanLine(y));
      std::memset(row, 0, static_cast<size_t>(p.RowBytes()));
    }
    p.Canvas()->SetPixel(4, 1, platform::clBlue);
    TBitmap32 b;
    b.Assign(&p);
    ASSERT_EQ(b.Width(), 9);
    EXPECT_EQ(b.Pixel(0, 0), 0xFFFF0000u);
    EXPECT_EQ(b.Pixel(4, 1), 0xFF0000FFu);
    EXPECT_EQ(b.Pixel(8, 1), 0xFFFF0000u);
  }
}

TEST(Bitmap32Clipboard, PaletteBmpFilesLoadAsOpaqueColours) {
  for (platform::TPixelFormat pf : {platform::pf1bit, platform::pf4bit, platform::pf8bit}) {
    platform::TBitmap p;
    p.SetPixelFormat(pf);
    p.SetSize(6, 3);
    p.SetPalette({static_cast<platform::TColor>(platform::RGB(1, 2, 3)), static_cast<platform::TColor>(platform::RGB(200, 100, 50))});
    for (int y = 0; y < 3; ++y) std::memset(p.ScanLine(y), 0, static_cast<size_t>(p.RowBytes()));
    p.Canvas()->SetPixel(5, 2, static_cast<platform::TColor>(platform::RGB(200, 100, 50)));
    platform::TMemoryStream s;
    p.SaveToStream(&s);
    s.SetPosition(0);
    TBitmap32 b;
    b.LoadFromStream(&s);
    ASSERT_EQ(b.Width(), 6);
    EXPECT_EQ(b.Pixel(0, 0), 0xFF010203u);
    EXPECT_EQ(b.Pixel(5, 2), 0xFFC86432u);
    EXPECT_EQ(s.GetPosition(), s.GetSize());
  }
}

// Text on a 32-bit bitmap (touched pixels take the font colour by coverage and alpha 0) and
// the bitmap's BMP stream.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>

#include "platform/BmpCodec.h"
#include "platform/Font.h"
#include "raster/Raster32.h"

using namespace raster;
using platform::Bounds;
using platform::Rect;
using platform::DT_CENTER;
using platform::DT_LEFT;
using platform::DT_RIGHT;
using platform::DT_SINGLELINE;
using platform::DT_VCENTER;

TEST(Raster32Text, TouchedPixelsTakeTheColourWithAlphaZero) {
  platform::TFakeTextMeasurer fake;
  platform::TScopedTextMeasurer use(&fake);
  TBitmap32 b;
  b.SetSize(30, 12);
  b.Clear(0xFF808080);
  b.Font().SetHeight(-10);  // fake: advance 5, ink rows 1..7, 4 columns per character
  b.Font().SetColor(platform::clRed);
  int changes = 0;
  b.OnChange = [&](platform::TObject*) { ++changes; };
  b.Textout(Rect(0, 0, 30, 12), DT_CENTER, "ab");
  EXPECT_EQ(changes, 1);
  // Centred: left = (30 - 10) / 2 = 10.
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 30; ++x) {
      bool ink = y >= 1 && y <= 7 && ((x >= 10 && x <= 13) || (x >= 15 && x <= 18));
      ASSERT_EQ(b.Pixel(x, y), ink ? 0x00FF0000u : 0xFF808080u) << x << "," << y;
    }
  EXPECT_EQ(b.TextExtent("ab"), (TSize{10, 10}));

  // Right-aligned, vertically centred; clipped to the rectangle.
  b.Clear(0xFF808080);
  b.Textout(Rect(0, 0, 12, 12), DT_RIGHT | DT_VCENTER | DT_SINGLELINE, "abc");
  EXPECT_EQ(b.Pixel(11, 2), 0xFF808080u);  // "c" ends at column 10
  EXPECT_EQ(b.Pixel(10, 2), 0x00FF0000u);
  EXPECT_EQ(b.Pixel(0, 2), 0x00FF0000u);   // "a" starts at -3, clipped at 0
  EXPECT_EQ(b.Pixel(12, 2), 0xFF808080u);
  EXPECT_EQ(b.Pixel(5, 1), 0xFF808080u);   // cell top at 1, ink from row 2

  // Rectangles at the ends of the coordinate range do not overflow: centred in the whole
  // range, the text sits around the origin; at either end it is far off the bitmap.
  b.Clear(0xFF808080);
  b.Textout(Rect(INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX), DT_CENTER | DT_VCENTER | DT_SINGLELINE, "abc");
  EXPECT_EQ(b.Pixel(0, 0), 0x00FF0000u);
  b.Clear(0xFF808080);
  b.Textout(Rect(INT32_MAX - 5, 0, INT32_MAX, 10), DT_RIGHT, "abc");
  b.Textout(Rect(INT32_MIN, 0, INT32_MIN + 5, 10), platform::DT_NOCLIP, "abc");
  EXPECT_EQ(std::count(b.Bits(), b.Bits() + 30 * 12, 0xFF808080u), 30 * 12);
}

TEST(Raster32Text, AntialiasedTextBlendsByCoverage) {
  TBitmap32 b;
  b.SetSize(80, 30);
  b.Clear(0xFF0000FF);
  b.Font().SetName("Arial");
  b.Font().SetHeight(-22);
  b.Font().SetColor(platform::clWhite);
  b.Textout(Rect(2, 2, 80, 30), DT_LEFT, "Kadrilo&");
  int touched = 0, partial = 0;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 80; ++x) {
      TColor32 p = b.Pixel(x, y);
      if (p == 0xFF0000FF) continue;
      ++touched;
      ASSERT_EQ(AlphaComponent(p), 0) << x << "," << y;
      // White over blue: red and green rise together, blue stays full.
      EXPECT_EQ(RedComponent(p), GreenComponent(p));
      EXPECT_EQ(BlueComponent(p), 255);
      partial += RedComponent(p) > 0 && RedComponent(p) < 255;
    }
  EXPECT_GT(touched, 50);
  EXPECT_GT(partial, 10);
  // Outside the rectangle nothing changes.
  for (int x = 0; x < 80; ++x) EXPECT_EQ(b.Pixel(x, 0), 0xFF0000FFu);
}

TEST(Raster32Text, FontAssignmentAndEmptyBitmaps) {
  platform::TFakeTextMeasurer fake;
  platform::TScopedTextMeasurer use(&fake);
  // A shape's font at 14400 pixels per inch, 25 points, becomes 33 pixels at 96.
  platform::TFont shape;
  shape.SetPixelsPerInch(14400);
  shape.SetHeight(5000);
  TBitmap32 b;
  b.SetFont(&shape);
  EXPECT_EQ(b.Font().PixelsPerInch(), 96);
  EXPECT_EQ(b.Font().Height(), 33);
  // An empty bitmap still measures, and draws nothing.
  EXPECT_EQ(b.TextExtent("abcd"), (TSize{64, 33}));
  b.Textout(Rect(0, 0, 10, 10), DT_LEFT, "abcd");
  EXPECT_TRUE(b.Empty());
}

// On a display at another resolution the bitmap's font is still at 96 pixels per inch from
// construction: sizes set before any text give the same pixels as on a 96 display.
TEST(Raster32Text, FontIsAt96PixelsPerInchFromConstruction) {
  platform::TFakeTextMeasurer fake;
  platform::TScopedTextMeasurer use(&fake);
  const int32_t screen = platform::ScreenPixelsPerInch();
  platform::SetScreenPixelsPerInch(120);
  struct Restore {
    int32_t v;
    ~Restore() { platform::SetScreenPixelsPerInch(v); }
  } restore{screen};
  TBitmap32 b;
  EXPECT_EQ(b.Font().PixelsPerInch(), 96);
  EXPECT_EQ(b.Font().Size(), 8);
  EXPECT_EQ(b.Font().Height(), -11);
  int changes = 0;
  b.OnChange = [&](platform::TObject*) { ++changes; };
  b.Font().SetSize(24);
  EXPECT_EQ(b.Font().Height(), -32);
  const TSize before = b.TextExtent("ab");
  EXPECT_EQ(b.Font().Height(), -32);  // measuring keeps it
  EXPECT_EQ(b.TextExtent("ab"), before);
  EXPECT_EQ(b.Font().Size(), 24);
  EXPECT_EQ(changes, 0);  // a font change is not a pixel change
}

TEST(Raster32Bmp, StreamRoundTripsAndLoadsOtherDepthsOpaque) {
  TBitmap32 b;
  b.SetSize(3, 2);
  const TColor32 px[6] = {0xFF102030, 0x80405060, 0x00708090, 0x12345678, 0xFFFFFFFF, 0x01000000};
  std::copy(px, px + 6, b.Bits());
  platform::TMemoryStream s;
  b.SaveToStream(&s);
  EXPECT_EQ(s.GetSize(), 54 + 24);
  s.SetPosition(0);
  TBitmap32 c;
  int changes = 0;
  c.OnChange = [&](platform::TObject*) { ++changes; };
  c.LoadFromStream(&s);
  EXPECT_EQ(changes, 1);
  ASSERT_EQ(c.Width(), 3);
  ASSERT_EQ(c.Height(), 2);
  EXPECT_TRUE(std::equal(px, px + 6, c.Bits()));

  // A 24-bit file loads with alpha 255.
  std::vector<uint8_t> file = platform::EncodeBmp(3, 2, px, 24);
  platform::TMemoryStream s24;
  s24.WriteBuffer(file.data(), static_cast<int32_t>(file.size()));
  s24.SetPosition(0);
  c.LoadFromStream(&s24);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(c.Bits()[i], px[i] | 0xFF000000u);

  // A 16-bit file with an alpha mask loads opaque as well (only 32-bit files keep alpha).
  {
    std::vector<uint8_t> f = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 70, 0, 0, 0, 40, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0,
                              1, 0, 16, 0, 6, 0, 0, 0};
    f.resize(54, 0);
    for (uint32_t m : {0x0F00u, 0x00F0u, 0x000Fu, 0xF000u})
      for (int k = 0; k < 4; ++k) f.push_back(static_cast<uint8_t>(m >> (8 * k)));
    for (uint8_t v : {0x21, 0x43, 0, 0}) f.push_back(v);  // a = 4, r = 3, g = 2, b = 1
    EXPECT_EQ(platform::DecodeBmp(f.data(), f.size()).Pixels[0], 0x44332211u);
    platform::TMemoryStream s16;
    s16.WriteBuffer(f.data(), static_cast<int32_t>(f.size()));
    s16.SetPosition(0);
    c.LoadFromStream(&s16);
    EXPECT_EQ(c.Bits()[0], 0xFF332211u);
  }

  // A damaged file raises and leaves the bitmap as it was.
  s24.SetPosition(0);
  c.LoadFromStream(&s24);
  file[28] = 5;
  platform::TMemoryStream bad;
  bad.WriteBuffer(file.data(), static_cast<int32_t>(file.size()));
  bad.SetPosition(0);
  EXPECT_THROW(c.LoadFromStream(&bad), platform::EBmpError);
  EXPECT_EQ(c.Width(), 3);
  EXPECT_EQ(c.Bits()[0], px[0] | 0xFF000000u);

  // An empty bitmap writes an empty BMP that loads back empty.
  TBitmap32 e;
  platform::TMemoryStream es;
  e.SaveToStream(&es);
  es.SetPosition(0);
  c.LoadFromStream(&es);
  EXPECT_TRUE(c.Empty());
}

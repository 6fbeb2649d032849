// Colour helpers, fixed point, geometry and the TBitmap32 surface: size and change protocol,
// pixels, lines, stipple, rectangles and the "Data" stream.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "platform/Classes.h"
#include "platform/Colors.h"
#include "platform/Graphics.h"
#include "raster/Raster32.h"

using namespace raster;

// ---- Colours ----

TEST(ColorTest, ConstructionAndComponents) {
  EXPECT_EQ(Color32(0x12, 0x34, 0x56, 0x78), 0x78123456u);
  EXPECT_EQ(Color32(0x112, 0x134, 0x156), 0xFF123456u);  // channels keep their low byte
  EXPECT_EQ(ColorSwap(0x00112233), 0xFF332211u);
  EXPECT_EQ(ColorSwap(0x7F112233), 0xFF332211u);  // top byte ignored
  EXPECT_EQ(Color32(platform::clRed), 0xFFFF0000u);
  uint32_t face = platform::GetSysColor(15);
  EXPECT_EQ(Color32(platform::clBtnFace), ColorSwap(static_cast<platform::TColor>(face)));
  EXPECT_EQ(RedComponent(0x80FF4020), 0xFF);
  EXPECT_EQ(GreenComponent(0x80FF4020), 0x40);
  EXPECT_EQ(BlueComponent(0x80FF4020), 0x20);
  EXPECT_EQ(AlphaComponent(0x80FF4020), 0x80);
  EXPECT_EQ(SetAlpha(0x12345678, 300), 0xFF345678u);
  EXPECT_EQ(SetAlpha(0x12345678, -4), 0x00345678u);
  EXPECT_EQ(SetAlpha(0x12345678, 0x9A), 0x9A345678u);
}

TEST(ColorTest, HSLtoRGBVectors) {
  // Expected values from Python's colorsys, channels rounded half to even.
  struct V {
    float h, s, l;
    uint32_t rgb;
  } vectors[] = {{0, 0, 0.5f, 0xFF808080}, {0, 1, 0.5f, 0xFFFF0000},       {0.5f, 0.5f, 0.25f, 0xFF206060},
                 {0.75f, 0.3f, 0.8f, 0xFFCCBDDB}, {0.1f, 0.9f, 0.6f, 0xFFF5AB3D}, {0.9f, 0.6f, 0.4f, 0xFFA32972},
                 {1.0f / 3, 1, 0.5f, 0xFF00FF00}, {0.05f, 0.2f, 0.7f, 0xFFC2ACA3}};
  for (const V& v : vectors) EXPECT_EQ(HSLtoRGB(v.h, v.s, v.l), v.rgb) << v.h << " " << v.s << " " << v.l;
  // Out-of-range lightness clamps instead of wrapping in the low byte.
  EXPECT_EQ(HSLtoRGB(0, 0, 1.5f), 0xFFFFFFFFu);
  EXPECT_EQ(HSLtoRGB(0, 0, -0.5f), 0xFF000000u);
  EXPECT_EQ(HSLtoRGB(0.2f, 1, 1.4f), 0xFFFFFFFFu);
}

TEST(ColorTest, RGBtoHSLVectors) {
  struct V {
    uint32_t c;
    double h, s, l;
  } vectors[] = {{0x808080, 0.0, 0.0, 0.5019607843137255},
                 {0xFF0000, 0.0, 1.0, 0.5},
                 {0x00FF00, 0.3333333333333333, 1.0, 0.5},
                 {0x123456, 0.5833333333333334, 0.653846153846154, 0.20392156862745098},
                 {0xFEDCBA, 0.08333333333333337, 0.9714285714285715, 0.8627450980392157},
                 {0x0000FF, 0.6666666666666666, 1.0, 0.5},
                 {0x7F3F1F, 0.05555555555555556, 0.6075949367088608, 0.30980392156862746}};
  for (const V& v : vectors) {
    float h, s, l;
    RGBtoHSL(0xFF000000u | v.c, h, s, l);
    EXPECT_NEAR(h, v.h, 1e-6) << std::hex << v.c;
    EXPECT_NEAR(s, v.s, 1e-6) << std::hex << v.c;
    EXPECT_NEAR(l, v.l, 1e-6) << std::hex << v.c;
  }
}

TEST(ColorTest, GammaTableAfterStartUp) {
  InitializeRaster32();
  InitializeRaster32();  // idempotent
  for (int i = 0; i < 256; ++i)
    EXPECT_EQ(GAMMA_TABLE[i], static_cast<uint8_t>(std::nearbyint(255 * std::pow(i / 255.0, 0.7)))) << i;
  EXPECT_EQ(GAMMA_TABLE[1], 5);
  EXPECT_EQ(GAMMA_TABLE[255], 255);
  SetGamma(1.0f);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(GAMMA_TABLE[i], i);
  SetGamma(0.7f);
}

// ---- Fixed point and geometry ----

TEST(FixedTest, ConversionAndRounding) {
  EXPECT_EQ(Fixed(1.5f), 0x18000);
  EXPECT_EQ(Fixed(-0.25f), -0x4000);
  EXPECT_EQ(Fixed(1e10f), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(Fixed(-1e10f), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(FixedRound(0x8000), 0);
  EXPECT_EQ(FixedRound(0x18000), 1);
  EXPECT_EQ(FixedRound(0x8001), 1);
  EXPECT_EQ(FixedRound(-0x8000), -1);
  EXPECT_EQ(FixedRound(-0x8001), -1);
  EXPECT_EQ(FixedRound(std::numeric_limits<int32_t>::max()), 0x8000);
  EXPECT_EQ(FixedPoint(2.0f, -1.0f), (TFixedPoint{0x20000, -0x10000}));
  EXPECT_EQ(RoundPoint(FloatPoint(2.5f, -1.5f)), (TPoint{2, -2}));
}

TEST(FixedTest, IntegerHelpers) {
  EXPECT_EQ(MulDiv(7, 1, 2), 4);
  EXPECT_EQ(MulDiv(-7, 1, 2), -4);
  EXPECT_EQ(MulDiv(1, 1, 0), -1);
  EXPECT_EQ(MulDiv(0x40000000, 4, 1), -1);
  EXPECT_EQ(SAR_4(-17), -2);
  EXPECT_EQ(SAR_8(-1), -1);
  EXPECT_EQ(SAR_9(1024), 2);
  EXPECT_EQ(SAR_12(-4097), -2);
  EXPECT_EQ(SAR_13(8192), 1);
  EXPECT_EQ(SAR_16(-65536), -1);
  EXPECT_EQ(Constrain(5, 0, 3), 3);
  EXPECT_EQ(Constrain(-5, 0, 3), 0);
  int32_t a = 9, b = -2;
  EXPECT_TRUE(TestClip(a, b, 5));
  EXPECT_EQ(a, 0);
  EXPECT_EQ(b, 4);
  a = 7;
  b = 9;
  EXPECT_FALSE(TestClip(a, b, 5));
}

TEST(FixedTest, LongwordRoutines) {
  std::vector<uint32_t> v = {1, 2, 3, 4, 5, 6};
  MoveLongword(v.data(), v.data() + 1, 4);  // overlapping upward move keeps the data
  EXPECT_EQ(v, (std::vector<uint32_t>{1, 1, 2, 3, 4, 6}));
  MoveLongword(v.data() + 2, v.data(), 3);
  EXPECT_EQ(v, (std::vector<uint32_t>{2, 3, 4, 3, 4, 6}));
  MoveLongword(v.data(), v.data() + 1, -3);
  MoveLongword(v.data(), v.data() + 1, 0);
  EXPECT_EQ(v, (std::vector<uint32_t>{2, 3, 4, 3, 4, 6}));
  FillLongword(v.data(), 0, 9);
  FillLongword(v.data(), -1, 9);
  EXPECT_EQ(v[0], 2u);
  FillLongword(v.data() + 1, 3, 9);
  EXPECT_EQ(v, (std::vector<uint32_t>{2, 9, 9, 9, 4, 6}));
}

TEST(GeometryTest, Rectangles) {
  TRect r;
  EXPECT_TRUE(raster::IntersectRect(r, MakeRect(0, 0, 10, 10), MakeRect(10, 2, 20, 8)));
  EXPECT_EQ(r, MakeRect(10, 2, 10, 8));
  EXPECT_FALSE(raster::IntersectRect(r, MakeRect(0, 0, 10, 10), MakeRect(11, 2, 20, 8)));
  EXPECT_EQ(r, MakeRect(0, 0, 0, 0));
  EXPECT_EQ(MakeRectRounded(FloatRect(0.5f, 1.5f, 2.5f, 3.4f), 0), MakeRect(0, 2, 2, 3));
  EXPECT_EQ(MakeRectRounded(FloatRect(0.5f, 1.5f, 2.5f, 3.4f), 1), MakeRect(0, 1, 3, 4));
  EXPECT_EQ(MakeRectRounded(FloatRect(0.5f, 1.5f, 2.5f, 3.4f), 2), MakeRect(1, 2, 2, 3));
  EXPECT_EQ(MakeRectRounded(FloatRect(0.2f, 0.2f, 0.8f, 0.8f), 2), MakeRect(1, 1, 1, 1));
  TdtpFloatRect f = FloatRect(1, 2, 3, 4);
  OffsetFloatRect(f, 1, -1);
  EXPECT_EQ(f, FloatRect(2, 1, 4, 3));
  InflateFloatRect(f, 1, 2);
  EXPECT_EQ(f, FloatRect(1, -1, 5, 5));
}

TEST(GeometryTest, ClipLineOutcodes) {
  int32_t x1 = 2, y1 = 3, x2 = 5, y2 = 6;
  EXPECT_TRUE(ClipLine(x1, y1, x2, y2, 0, 0, 9, 9));
  EXPECT_EQ((std::vector<int>{x1, y1, x2, y2}), (std::vector<int>{2, 3, 5, 6}));
  x1 = -5, y1 = -1, x2 = -1, y2 = 20;  // both left
  EXPECT_FALSE(ClipLine(x1, y1, x2, y2, 0, 0, 9, 9));
  x1 = -10, y1 = 5, x2 = 20, y2 = 5;  // through left and right
  EXPECT_TRUE(ClipLine(x1, y1, x2, y2, 0, 0, 9, 9));
  EXPECT_EQ((std::vector<int>{x1, y1, x2, y2}), (std::vector<int>{0, 5, 9, 5}));
  x1 = 4, y1 = -4, x2 = 4, y2 = 40;  // through top and bottom
  EXPECT_TRUE(ClipLine(x1, y1, x2, y2, 0, 0, 9, 9));
  EXPECT_EQ((std::vector<int>{x1, y1, x2, y2}), (std::vector<int>{4, 0, 4, 9}));
  x1 = -2, y1 = -2, x2 = 12, y2 = 12;  // diagonal through two corners
  EXPECT_TRUE(ClipLine(x1, y1, x2, y2, 0, 0, 9, 9));
  EXPECT_EQ((std::vector<int>{x1, y1, x2, y2}), (std::vector<int>{0, 0, 9, 9}));
  x1 = -4, y1 = 8, x2 = 2, y2 = 14;  // misses the corner after the vertical step
  EXPECT_FALSE(ClipLine(x1, y1, x2, y2, 0, 0, 9, 9));
  // Coordinates whose products overflow 32 bits clip without wrapping.
  x1 = -2000000000, y1 = -2000000000, x2 = 2000000000, y2 = 2000000000;
  EXPECT_TRUE(ClipLine(x1, y1, x2, y2, -65536, -65536, 655360, 655360));
  EXPECT_EQ((std::vector<int>{x1, y1, x2, y2}), (std::vector<int>{-65536, -65536, 655360, 655360}));
}

// ---- Bitmap: size and change protocol ----

namespace {

struct EventLog {
  int changes = 0, resizes = 0, handles = 0;
  void Attach(TBitmap32& b) {
    b.OnChange = [this](platform::TObject*) { ++changes; };
    b.OnResize = [this](platform::TObject*) { ++resizes; };
    b.OnHandleChanged = [this](platform::TObject*) { ++handles; };
  }
};

std::vector<uint32_t> Row(const TBitmap32& b, int y) {
  return std::vector<uint32_t>(b.ScanLine(y), b.ScanLine(y) + b.Width());
}

}  // namespace

TEST(BitmapTest, SetSizeAndEvents) {
  TBitmap32 b;
  EventLog log;
  log.Attach(b);
  EXPECT_TRUE(b.Empty());
  EXPECT_TRUE(b.SetSize(0, 5));
  EXPECT_TRUE(b.Empty());
  EXPECT_EQ(b.Width(), 0);
  EXPECT_EQ(b.Height(), 5);
  EXPECT_EQ(log.resizes, 1);
  EXPECT_TRUE(b.SetSize(4, 3));
  EXPECT_FALSE(b.Empty());
  EXPECT_NE(b.Bits(), nullptr);
  EXPECT_FALSE(b.SetSize(4, 3));
  EXPECT_EQ(log.resizes, 2);
  EXPECT_EQ(log.handles, 2);
  EXPECT_EQ(log.changes, 2);
  EXPECT_TRUE(b.SetSize(-3, 7));
  EXPECT_EQ(b.Width(), 0);
  b.Delete();
  EXPECT_EQ(b.Height(), 0);
  EXPECT_EQ(b.Bits(), nullptr);
}

TEST(BitmapTest, AbsurdSizeRaisesAndLeavesEmpty) {
  TBitmap32 b;
  b.SetSize(10, 10);
  try {
    b.SetSize(100000, 100000);
    FAIL() << "no exception";
  } catch (const platform::Exception& e) {
    EXPECT_EQ(e.Message, "Can't allocate the DIB handle");
  }
  EXPECT_TRUE(b.Empty());
  EXPECT_EQ(b.Width(), 0);
  EXPECT_EQ(b.Height(), 0);
  b.SetSize(2, 2);  // usable afterwards
  EXPECT_FALSE(b.Empty());
}

TEST(BitmapTest, UpdateProtocol) {
  TBitmap32 b;
  EventLog log;
  log.Attach(b);
  b.SetSize(3, 3);
  log.changes = 0;
  b.BeginUpdate();
  b.Clear(0xFF00FF00);
  b.SetDrawMode(dmBlend);
  EXPECT_EQ(log.changes, 0);
  b.EndUpdate();
  EXPECT_EQ(log.changes, 0);  // EndUpdate does not announce
  b.SetDrawMode(dmBlend);     // unchanged value: silent
  b.SetMasterAlpha(255);
  b.SetStretchFilter(sfNearest);
  EXPECT_EQ(log.changes, 0);
  b.SetMasterAlpha(100);
  b.SetStretchFilter(sfSpline);
  EXPECT_EQ(log.changes, 2);
  try {
    b.EndUpdate();
    FAIL() << "no exception";
  } catch (const platform::Exception& e) {
    EXPECT_EQ(e.Message, "Unpaired TThreadPersistent.EndUpdate");
  }
  EXPECT_EQ(b.UpdateCount(), 0);
  b.Lock();
  b.Lock();
  EXPECT_EQ(b.LockCount(), 2);
  b.Unlock();
  b.Unlock();
  EXPECT_EQ(b.LockCount(), 0);
}

TEST(BitmapTest, DestroyedBitmapFiresNoEvents) {
  int events = 0;
  {
    TBitmap32 b;
    b.SetSize(5, 5);
    b.OnChange = [&](platform::TObject*) { ++events; };
    b.OnResize = [&](platform::TObject*) { ++events; };
    b.OnHandleChanged = [&](platform::TObject*) { ++events; };
  }
  EXPECT_EQ(events, 0);
}

// ---- Pixels ----

TEST(BitmapTest, PixelAccess) {
  TBitmap32 b;
  b.SetSize(3, 2);
  b.Clear(0xFF000000);
  b.SetOuterColor(0x12345678);
  EXPECT_EQ(b.GetPixelS(-1, 0), 0x12345678u);
  EXPECT_EQ(b.GetPixelS(3, 0), 0x12345678u);
  EXPECT_EQ(b.GetPixelS(2, 1), 0xFF000000u);
  b.SetPixelClipped(5, 5, 1);
  b.SetPixelClipped(1, 1, 0xFFFFFFFF);
  EXPECT_EQ(b.Pixel(1, 1), 0xFFFFFFFFu);
  b.SetPixelTS(0, 0, 0x80FFFFFF);
  EXPECT_EQ(b.Pixel(0, 0), BlendPixel(0x80FFFFFF, 0xFF000000));
  b.SetPixelTS(-1, 0, 0xFFFFFFFF);  // outside: nothing
  b.SetPixel(2, 0, 0x10203040);
  b.ResetAlpha();
  EXPECT_EQ(b.Pixel(2, 0), 0xFF203040u);
  TBitmap32 empty;
  empty.SetPixelTS(0, 0, 0xFFFFFFFF);
  EXPECT_EQ(empty.GetPixelS(0, 0), 0u);
}

TEST(BitmapTest, AntialiasedPointWeights) {
  TBitmap32 b;
  b.SetSize(4, 4);
  b.Clear(0xFF000000);
  const TColor32 c = 0xC0FFFFFF;
  b.SetPixelT24(1 * 256 + 64, 2 * 256 + 192, c);
  const uint8_t* G = GAMMA_TABLE;
  auto expect = [&](uint32_t w) {
    TColor32 p = 0xFF000000;
    CombinePixelInPlace(c, p, w);
    return p;
  };
  EXPECT_EQ(b.Pixel(1, 2), expect((0xC0 * G[191]) * G[63] >> 16));
  EXPECT_EQ(b.Pixel(2, 2), expect((0xC0 * G[64]) * G[63] >> 16));
  EXPECT_EQ(b.Pixel(2, 3), expect((0xC0 * G[64]) * G[192] >> 16));
  EXPECT_EQ(b.Pixel(1, 3), expect((0xC0 * G[191]) * G[192] >> 16));
  EXPECT_EQ(b.Pixel(0, 0), 0xFF000000u);
  // Clipped form at the corner writes only the pixel inside.
  b.Clear(0xFF000000);
  b.SetPixelTS24(-128, -128, 0xFFFFFFFF);
  EXPECT_NE(b.Pixel(0, 0), 0xFF000000u);
  b.SetPixelTS24(-300, 0, 0xFFFFFFFF);
  b.SetPixelTS24(4 * 256, 0, 0xFFFFFFFF);
  // 16.16 entry point: (v + 127) shr 8.
  TBitmap32 b2;
  b2.SetSize(4, 4);
  b2.Clear(0xFF000000);
  b2.SetPixelX(0x18000, 0x10000, c);
  b.Clear(0xFF000000);
  b.SetPixelTS24((0x18000 + 127) >> 8, (0x10000 + 127) >> 8, c);
  for (int y = 0; y < 4; ++y) EXPECT_EQ(Row(b2, y), Row(b, y));
}

// ---- Lines ----

TEST(BitmapTest, BresenhamLines) {
  TBitmap32 b;
  b.SetSize(6, 4);
  const TColor32 k = 0xFF000000, w = 0xFFFFFFFF;
  b.Clear(k);
  b.Line(0, 0, 4, 2, w);
  EXPECT_EQ(Row(b, 0), (std::vector<uint32_t>{w, w, k, k, k, k}));
  EXPECT_EQ(Row(b, 1), (std::vector<uint32_t>{k, k, w, w, k, k}));
  EXPECT_EQ(Row(b, 2), (std::vector<uint32_t>{k, k, k, k, k, k}));
  b.Clear(k);
  b.Line(1, 0, 1, 3, w, true);  // vertical, end drawn
  EXPECT_EQ(b.Pixel(1, 3), w);
  EXPECT_EQ(b.Pixel(1, 0), w);
  b.Clear(k);
  b.Line(4, 1, 0, 1, w);  // horizontal, leftwards, end excluded
  EXPECT_EQ(Row(b, 1), (std::vector<uint32_t>{k, w, w, w, w, k}));
  b.Clear(k);
  b.Line(0, 0, 3, 3, w);
  EXPECT_EQ(b.Pixel(2, 2), w);
  EXPECT_EQ(b.Pixel(3, 3), k);
}

TEST(BitmapTest, ClippedLines) {
  TBitmap32 b;
  b.SetSize(5, 3);
  const TColor32 k = 0xFF000000, w = 0xFFFFFFFF;
  b.Clear(k);
  b.LineS(-5, 1, 10, 1, w);  // clipped to 0..4; end excluded
  EXPECT_EQ(Row(b, 1), (std::vector<uint32_t>{w, w, w, w, k}));
  b.Clear(k);
  b.LineTS(-5, 1, 10, 1, w);  // clipping moved the ends: the end point is drawn
  EXPECT_EQ(Row(b, 1), (std::vector<uint32_t>{w, w, w, w, w}));
  b.Clear(k);
  b.LineS(-5, -5, -1, -1, w);
  b.LineXS(-0x80000, -0x80000, -0x20000, -0x20000, w);
  for (int y = 0; y < 3; ++y) EXPECT_EQ(Row(b, y), std::vector<uint32_t>(5, k));
}

TEST(BitmapTest, AntialiasedLineMatchesItsSteps) {
  TBitmap32 a, b;
  a.SetSize(12, 6);
  b.SetSize(12, 6);
  a.Clear(0xFF000000);
  b.Clear(0xFF000000);
  const TColor32 c = 0xFFFFFFFF;
  // Horizontal line of 4.5 pixels from (1, 2): four whole steps and a partial end point.
  a.LineX(0x10000, 0x20000, 0x58000, 0x20000, c);
  int64_t n = 0x48000;
  int32_t x = 0x10000 + 127, y = 0x20000 + 127;
  for (int k = 0; k < 4; ++k, x += 0x10000) b.SetPixelT24(x >> 8, y >> 8, c);
  b.SetPixelT24((0x58000 + 127 + x - 0x10000) >> 9, (0x20000 + 127 + y) >> 9,
                (c & 0xFFFFFF) | static_cast<uint32_t>(((255 * (n & 0xFFFF)) >> 16) << 24));
  for (int r = 0; r < 6; ++r) EXPECT_EQ(Row(a, r), Row(b, r)) << r;
  // The clipped form gives the same pixels for a line inside the bitmap.
  TBitmap32 s;
  s.SetSize(12, 6);
  s.Clear(0xFF000000);
  s.LineXS(0x10000, 0x20000, 0x58000, 0x20000, c);
  for (int r = 0; r < 6; ++r) EXPECT_EQ(Row(s, r), Row(a, r)) << r;
  // Shorter than 1/256 pixel: nothing.
  s.Clear(0xFF000000);
  s.LineX(0x10000, 0x10000, 0x10080, 0x10000, c);
  for (int r = 0; r < 6; ++r) EXPECT_EQ(Row(s, r), std::vector<uint32_t>(12, 0xFF000000u));
  // Crossing the border is clipped without touching memory outside.
  s.LineXS(-0x100000, -0x30000, 0x200000, 0x90000, c);
  s.LineXSP(-0x100000, 0x90000, 0x200000, -0x30000);
}

TEST(BitmapTest, PenMovesAlongLines) {
  TBitmap32 b;
  b.SetSize(5, 5);
  b.Clear(0xFF000000);
  b.SetPenColor(0xFFFF0000);
  b.MoveTo(0, 0);
  b.LineToS(4, 0);
  b.LineToTS(4, 4);
  EXPECT_EQ(b.PenPos(), (TPoint{4, 4}));
  EXPECT_EQ(b.Pixel(3, 0), 0xFFFF0000u);
  EXPECT_EQ(b.Pixel(4, 3), 0xFFFF0000u);
  EXPECT_EQ(b.Pixel(4, 4), 0xFF000000u);
  b.MoveToX(0x10000, 0x10000);
  b.LineToXS(0x30000, 0x10000);
  EXPECT_EQ(b.PenPosX(), (TFixedPoint{0x30000, 0x10000}));
  EXPECT_NE(b.Pixel(2, 1), 0xFF000000u);
}

// ---- Stipple ----

TEST(StippleTest, ColourSequence) {
  SelectBlendSet(TBlendSet::MMX);
  TBitmap32 b;
  const TColor32 A = 0xFF000000, B = 0xFFFFFFFF;
  EXPECT_EQ(b.GetStippleColor(), 0xFF000000u);  // no pattern
  b.SetStipple({A, B});
  EXPECT_EQ(b.GetStippleColor(), A);
  EXPECT_EQ(b.GetStippleColor(), B);  // counter 1: weight 0 selects the next colour
  EXPECT_EQ(b.GetStippleColor(), A);  // counter 2 wraps to 0
  b.SetStipple({A, B});
  b.SetStippleStep(0.5f);
  EXPECT_EQ(b.GetStippleColor(), A);
  EXPECT_EQ(b.GetStippleColor(), CombinePixel(A, B, 127));  // 255 - Round(127.5)
  EXPECT_EQ(b.GetStippleColor(), B);
  EXPECT_EQ(b.GetStippleColor(), CombinePixel(B, A, 127));
  EXPECT_FLOAT_EQ(b.StippleCounter(), 2.0f);
}

TEST(StippleTest, CounterReductionAndAdvance) {
  TBitmap32 b;
  b.SetStipple({1, 2, 3});
  b.AdvanceStippleCounter(10);
  EXPECT_FLOAT_EQ(b.StippleCounter(), 1.0f);
  b.AdvanceStippleCounter(-2.5f);
  EXPECT_FLOAT_EQ(b.StippleCounter(), 1.5f);
  // Huge and non-finite counters neither hang nor index outside the pattern.
  b.SetStippleCounter(3e30f);
  b.GetStippleColor();
  EXPECT_LT(b.StippleCounter(), 4.0f);
  b.SetStippleCounter(std::numeric_limits<float>::infinity());
  EXPECT_EQ(b.GetStippleColor(), 1u);
  b.SetStippleCounter(std::nanf(""));
  EXPECT_EQ(b.GetStippleColor(), 1u);
  b.SetStippleCounter(-0.0000001f);
  b.GetStippleColor();
  EXPECT_GE(b.StippleCounter(), 0.0f);
}

TEST(StippleTest, StippledLinesAdvanceOverClippedParts) {
  TBitmap32 b;
  b.SetSize(4, 2);
  b.Clear(0xFF000000);
  std::vector<TColor32> pat = {0xFF000001, 0xFF000002, 0xFF000003, 0xFF000004, 0xFF000005, 0xFF000006,
                               0xFF000007};
  b.SetStipple(pat);
  b.HorzLineTSP(-10, 0, -3);  // off the left side: only the counter moves, by 8
  EXPECT_FLOAT_EQ(b.StippleCounter(), 1.0f);
  b.SetStipple(pat);
  b.HorzLineTSP(-2, 1, 5);  // two cut before, four drawn, two cut after
  EXPECT_EQ(Row(b, 1), (std::vector<uint32_t>{pat[2], pat[3], pat[4], pat[5]}));
  EXPECT_FLOAT_EQ(b.StippleCounter(), 1.0f);  // 2 + 4 + 2 = 8 = 1 mod 7
  b.SetStipple(pat);
  b.HorzLineTSP(5, 0, -1);  // right to left
  EXPECT_EQ(Row(b, 0), (std::vector<uint32_t>{pat[5], pat[4], pat[3], pat[2]}));
  b.SetStipple(pat);
  b.VertLineTSP(3, 3, -1);
  EXPECT_EQ(b.Pixel(3, 1), pat[2]);
  EXPECT_EQ(b.Pixel(3, 0), pat[3]);
  // A line rejected entirely only advances the counter by its length.
  b.SetStipple(pat);
  b.LineXSP(-0x50000, -0x50000, -0x20000, -0x10000);
  EXPECT_FLOAT_EQ(b.StippleCounter(), 5.0f);
}

// ---- Rectangles ----

TEST(RectTest, FillAndFrame) {
  TBitmap32 b;
  b.SetSize(5, 4);
  const TColor32 k = 0xFF000000, w = 0xFFFFFFFF;
  b.Clear(k);
  b.FrameRectClipped(0, 0, 1, 1, w);
  EXPECT_EQ(Row(b, 0), (std::vector<uint32_t>{w, k, k, k, k}));
  EXPECT_EQ(Row(b, 1), std::vector<uint32_t>(5, k));
  b.Clear(k);
  b.FrameRectClipped(1, 1, 4, 2, w);  // one row high: never touches the row above
  EXPECT_EQ(Row(b, 0), std::vector<uint32_t>(5, k));
  EXPECT_EQ(Row(b, 1), (std::vector<uint32_t>{k, w, w, w, k}));
  EXPECT_EQ(Row(b, 2), std::vector<uint32_t>(5, k));
  b.Clear(k);
  b.FrameRectClipped(-1, 1, 3, 10, w);
  EXPECT_EQ(Row(b, 1), (std::vector<uint32_t>{w, w, w, k, k}));
  EXPECT_EQ(Row(b, 3), (std::vector<uint32_t>{k, k, w, k, k}));
  b.Clear(k);
  b.FillRectClipped(3, -2, 9, 2, w);
  EXPECT_EQ(Row(b, 0), (std::vector<uint32_t>{k, k, k, w, w}));
  EXPECT_EQ(Row(b, 2), std::vector<uint32_t>(5, k));
  b.Clear(k);
  for (auto r : std::vector<std::vector<int>>{{2, 0, 2, 3}, {0, 3, 4, 3}, {5, 0, 9, 9}, {0, 4, 3, 9}, {-3, 0, 0, 2}}) {
    b.FillRectClipped(r[0], r[1], r[2], r[3], w);
    b.FrameRectClipped(r[0], r[1], r[2], r[3], w);
    b.FrameRectStippled(r[0], r[1], r[2], r[3]);
  }
  for (int y = 0; y < 4; ++y) EXPECT_EQ(Row(b, y), std::vector<uint32_t>(5, k));
}

TEST(RectTest, BlendedFrameBlendsEachPixelOnce) {
  TBitmap32 b;
  b.SetSize(5, 4);
  b.Clear(0xFF000000);
  const TColor32 c = 0x80FFFFFF;
  b.FrameRectBlended(0, 0, 4, 3, c);
  TColor32 once = BlendPixel(c, 0xFF000000);
  EXPECT_EQ(Row(b, 0), (std::vector<uint32_t>{once, once, once, once, 0xFF000000}));
  EXPECT_EQ(Row(b, 1), (std::vector<uint32_t>{once, 0xFF000000, 0xFF000000, once, 0xFF000000}));
  EXPECT_EQ(Row(b, 2), (std::vector<uint32_t>{once, once, once, once, 0xFF000000}));
}

TEST(RectTest, StippledFrameRunsClockwise) {
  TBitmap32 b;
  b.SetSize(3, 3);
  b.Clear(0xFF000000);
  std::vector<TColor32> pat;
  for (uint32_t i = 0; i < 8; ++i) pat.push_back(0xFF000010 + i);
  b.SetStipple(pat);
  b.FrameRectStippled(0, 0, 3, 3);
  EXPECT_EQ(Row(b, 0), (std::vector<uint32_t>{pat[0], pat[1], pat[2]}));
  EXPECT_EQ(Row(b, 1), (std::vector<uint32_t>{pat[7], 0xFF000000, pat[3]}));
  EXPECT_EQ(Row(b, 2), (std::vector<uint32_t>{pat[6], pat[5], pat[4]}));
  b.Clear(0xFF000000);
  b.SetStipple(pat);
  b.FrameRectStippled(1, 1, 2, 2);
  EXPECT_EQ(b.Pixel(1, 1), pat[0]);
  EXPECT_FLOAT_EQ(b.StippleCounter(), 1.0f);
}

// ---- Persistence ----

TEST(DataTest, RoundTripKeepsEveryByte) {
  TBitmap32 a;
  a.SetSize(7, 5);
  for (int i = 0; i < 35; ++i) a.Bits()[i] = 0x01020304u * static_cast<uint32_t>(i + 1) ^ (i << 27);
  platform::TMemoryStream s;
  a.WriteData(&s);
  EXPECT_EQ(s.Size(), 8 + 35 * 4);
  s.SetPosition(0);
  TBitmap32 b;
  int changes = 0;
  b.OnChange = [&](platform::TObject*) { ++changes; };
  b.ReadData(&s);
  EXPECT_EQ(b.Width(), 7);
  EXPECT_EQ(b.Height(), 5);
  EXPECT_EQ(std::vector<uint32_t>(b.Bits(), b.Bits() + 35), std::vector<uint32_t>(a.Bits(), a.Bits() + 35));
  EXPECT_GE(changes, 1);
  // An empty bitmap round-trips to empty.
  TBitmap32 e;
  platform::TMemoryStream s2;
  e.WriteData(&s2);
  s2.SetPosition(0);
  b.ReadData(&s2);
  EXPECT_TRUE(b.Empty());
}

TEST(DataTest, HostileSizesRaiseBeforeAllocating) {
  auto read = [](int32_t w, int32_t h, int extraBytes) {
    platform::TMemoryStream s;
    int32_t hdr[2] = {w, h};
    s.WriteBuffer(hdr, 8);
    std::vector<uint8_t> pad(extraBytes, 0xAB);
    if (extraBytes) s.WriteBuffer(pad.data(), extraBytes);
    s.SetPosition(0);
    TBitmap32 b;
    b.ReadData(&s);
    return b.Width() * b.Height();
  };
  EXPECT_EQ(read(2, 2, 16), 4);
  for (auto wh : std::vector<std::pair<int32_t, int32_t>>{{2, 2}, {0x7FFFFFFF, 0x7FFFFFFF}, {65536, 65536}, {100000, 3}}) {
    try {
      read(wh.first, wh.second, 15);
      FAIL() << wh.first << "x" << wh.second;
    } catch (const platform::Exception& e) {
      EXPECT_EQ(e.Message, "Can't allocate the DIB handle");
    }
  }
  EXPECT_EQ(read(-5, 3, 0), 0);
  platform::TMemoryStream shortStream;
  shortStream.WriteBuffer("abc", 3);
  shortStream.SetPosition(0);
  TBitmap32 b;
  EXPECT_THROW(b.ReadData(&shortStream), platform::EReadError);
}

TEST(DataTest, AssignCopiesPixelsAndProperties) {
  TBitmap32 a, b;
  a.SetSize(3, 2);
  a.Clear(0x11223344);
  a.SetDrawMode(dmBlend);
  a.SetMasterAlpha(77);
  a.SetOuterColor(5);
  a.SetStretchFilter(sfSpline);
  int changes = 0;
  b.OnChange = [&](platform::TObject*) { ++changes; };
  b.Assign(&a);
  EXPECT_EQ(changes, 1);  // one announcement for the whole assignment
  EXPECT_EQ(b.Width(), 3);
  EXPECT_EQ(b.Pixel(2, 1), 0x11223344u);
  EXPECT_EQ(b.DrawMode(), dmBlend);
  EXPECT_EQ(b.MasterAlpha(), 77u);
  EXPECT_EQ(b.OuterColor(), 5u);
  EXPECT_EQ(b.StretchFilter(), sfSpline);
  b.Assign(nullptr);
  EXPECT_TRUE(b.Empty());
}

TEST(DataTest, ExchangeWithTheClassLibraryBitmap) {
  TBitmap32 a;
  a.SetSize(3, 2);
  for (int i = 0; i < 6; ++i) a.Bits()[i] = 0x10203040u * static_cast<uint32_t>(i + 1);
  // Into a 32-bit class-library bitmap and back: every byte, alpha included.
  platform::TBitmap bmp;
  bmp.Assign(&a);
  EXPECT_EQ(bmp.PixelFormat(), platform::pf32bit);
  TBitmap32 b;
  b.Assign(&bmp);
  EXPECT_EQ(std::vector<uint32_t>(b.Bits(), b.Bits() + 6), std::vector<uint32_t>(a.Bits(), a.Bits() + 6));
  // A 24-bit bitmap comes in opaque.
  platform::TBitmap rgb;
  rgb.SetPixelFormat(platform::pf24bit);
  rgb.SetSize(2, 2);
  uint8_t* row = static_cast<uint8_t*>(rgb.ScanLine(1));
  row[3] = 0x11;
  row[4] = 0x22;
  row[5] = 0x33;
  b.Assign(&rgb);
  EXPECT_EQ(b.Width(), 2);
  EXPECT_EQ(b.Pixel(1, 1), 0xFF332211u);
  EXPECT_EQ(b.Pixel(0, 0) >> 24, 0xFFu);
  // Through a picture.
  platform::TPicture pic;
  pic.Bitmap()->Assign(&a);
  TBitmap32 c;
  c.Assign(&pic);
  EXPECT_EQ(c.Pixel(2, 1), a.Pixel(2, 1));
}

TEST(DataTest, DrawToDCCopiesOpaquePixels) {
  TBitmap32 a;
  a.SetSize(2, 2);
  a.Clear(0x00336699);  // alpha ignored on the canvas
  platform::TBitmap target;
  target.SetPixelFormat(platform::pf32bit);
  target.SetSize(4, 4);
  a.DrawToDC(target.Canvas(), 1, 1);
  EXPECT_EQ(target.Canvas()->Pixel(1, 1), static_cast<platform::TColor>(0x996633));
  EXPECT_EQ(target.Canvas()->Pixel(2, 2), static_cast<platform::TColor>(0x996633));
  EXPECT_EQ(target.Canvas()->Pixel(0, 0), static_cast<platform::TColor>(0xFFFFFF));
  TBitmap32 empty;
  empty.DrawToDC(target.Canvas(), 0, 0);
}

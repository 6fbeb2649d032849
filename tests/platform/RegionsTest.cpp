// Pixel regions: shapes, set operations, tests and their use as fills and clips.
#include <gtest/gtest.h>

#include "platform/Graphics.h"
#include "platform/Regions.h"

using namespace platform;

namespace {
int PixelCount(const TRegion& r) {
  int n = 0;
  for (const TRect& x : r.Rects()) n += x.Width() * x.Height();
  return n;
}
}  // namespace

TEST(Regions, RectanglesAreHalfOpen) {
  TRegion r = TRegion::Rect(8, 6, 2, 1);  // corners put in order
  EXPECT_EQ(r.Kind(), SIMPLEREGION);
  EXPECT_EQ(r.Box(), Rect(2, 1, 8, 6));
  EXPECT_TRUE(PtInRegion(r, 2, 1));
  EXPECT_TRUE(PtInRegion(r, 7, 5));
  EXPECT_FALSE(PtInRegion(r, 8, 5));
  EXPECT_FALSE(PtInRegion(r, 7, 6));
  EXPECT_TRUE(RectInRegion(r, Rect(7, 5, 20, 20)));
  EXPECT_FALSE(RectInRegion(r, Rect(8, 0, 20, 20)));
  EXPECT_EQ(TRegion::Rect(3, 3, 3, 9).Kind(), NULLREGION);
  TRect box;
  EXPECT_EQ(GetRgnBox(TRegion(), box), NULLREGION);
  EXPECT_EQ(box, Rect(0, 0, 0, 0));
}

TEST(Regions, CombineModes) {
  TRegion a = TRegion::Rect(0, 0, 10, 10), b = TRegion::Rect(5, 5, 15, 15), d;
  EXPECT_EQ(CombineRgn(d, a, b, RGN_OR), COMPLEXREGION);
  EXPECT_EQ(PixelCount(d), 175);
  EXPECT_EQ(d.Box(), Rect(0, 0, 15, 15));
  EXPECT_EQ(CombineRgn(d, a, b, RGN_AND), SIMPLEREGION);
  EXPECT_EQ(d.Box(), Rect(5, 5, 10, 10));
  EXPECT_EQ(CombineRgn(d, a, b, RGN_XOR), COMPLEXREGION);
  EXPECT_EQ(PixelCount(d), 150);
  EXPECT_FALSE(d.Contains(7, 7));
  EXPECT_EQ(CombineRgn(d, a, b, RGN_DIFF), COMPLEXREGION);
  EXPECT_EQ(PixelCount(d), 75);
  EXPECT_EQ(CombineRgn(d, b, a, RGN_COPY), SIMPLEREGION);
  EXPECT_TRUE(EqualRgn(d, b));
  EXPECT_EQ(CombineRgn(d, a, a, RGN_DIFF), NULLREGION);
  // An unknown mode is an error and leaves the destination alone.
  TRegion keep = TRegion::Rect(1, 1, 2, 2);
  EXPECT_EQ(CombineRgn(keep, a, b, 99), RGN_ERROR);
  EXPECT_EQ(keep.Box(), Rect(1, 1, 2, 2));
  // The destination may be an operand.
  EXPECT_EQ(CombineRgn(a, a, b, RGN_AND), SIMPLEREGION);
  EXPECT_EQ(a.Box(), Rect(5, 5, 10, 10));
}

TEST(Regions, EqualPixelSetsAreEqualRegions) {
  // Union built from pieces equals the whole.
  TRegion a = TRegion::Rect(0, 0, 10, 5), b = TRegion::Rect(0, 5, 10, 10), u;
  CombineRgn(u, a, b, RGN_OR);
  EXPECT_EQ(u.Kind(), SIMPLEREGION);
  EXPECT_TRUE(EqualRgn(u, TRegion::Rect(0, 0, 10, 10)));
  // A square polygon covers the same pixels as the rectangle.
  EXPECT_TRUE(EqualRgn(TRegion::Polygon({{0, 0}, {10, 0}, {10, 10}, {0, 10}}, ALTERNATE), TRegion::Rect(0, 0, 10, 10)));
  // A round rectangle with corners below 2 pixels is a rectangle.
  EXPECT_TRUE(EqualRgn(TRegion::RoundRect(0, 0, 10, 10, 1, 1), TRegion::Rect(0, 0, 10, 10)));
}

TEST(Regions, EllipsesAndRoundRectangles) {
  TRegion e = TRegion::Ellipse(0, 0, 10, 6);
  EXPECT_EQ(e.Box(), Rect(0, 0, 10, 6));
  EXPECT_FALSE(e.Contains(0, 0));
  EXPECT_FALSE(e.Contains(9, 5));
  EXPECT_TRUE(e.Contains(0, 3));
  EXPECT_TRUE(e.Contains(5, 0));
  // Symmetric about both axes.
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 10; ++x) {
      EXPECT_EQ(e.Contains(x, y), e.Contains(9 - x, y));
      EXPECT_EQ(e.Contains(x, y), e.Contains(x, 5 - y));
    }
  // Area close to pi a b.
  TRegion big = TRegion::Ellipse(0, 0, 200, 100);
  EXPECT_NEAR(PixelCount(big), 3.14159265 * 100 * 50, 200);
  EXPECT_EQ(TRegion::Ellipse(0, 0, 0, 10).Kind(), NULLREGION);

  TRegion rr = TRegion::RoundRect(0, 0, 20, 10, 8, 6);
  EXPECT_FALSE(rr.Contains(0, 0));
  EXPECT_FALSE(rr.Contains(19, 9));
  EXPECT_TRUE(rr.Contains(10, 0));
  EXPECT_TRUE(rr.Contains(0, 5));
  EXPECT_TRUE(rr.Contains(19, 5));
  EXPECT_EQ(rr.Box(), Rect(0, 0, 20, 10));
  // Corners larger than the rectangle are cut to it: the result is the ellipse.
  EXPECT_TRUE(EqualRgn(TRegion::RoundRect(0, 0, 20, 10, 400, 400), TRegion::Ellipse(0, 0, 20, 10)));
}

TEST(Regions, PolygonFillModes) {
  // A pentagram: its centre is inside under WINDING and outside under ALTERNATE.
  std::vector<TPoint> star{{50, 0}, {79, 90}, {2, 35}, {97, 35}, {21, 90}};
  TRegion alt = TRegion::Polygon(star, ALTERNATE), win = TRegion::Polygon(star, WINDING);
  EXPECT_FALSE(alt.Contains(50, 50));
  EXPECT_TRUE(win.Contains(50, 50));
  EXPECT_TRUE(alt.Contains(50, 20));
  EXPECT_TRUE(win.Contains(50, 20));
  EXPECT_GT(PixelCount(win), PixelCount(alt));
  EXPECT_EQ(TRegion::Polygon({{0, 0}, {5, 5}}, WINDING).Kind(), NULLREGION);
}

TEST(Regions, OffsetAndCopies) {
  TRegion r = TRegion::Ellipse(0, 0, 10, 10);
  TRegion c = r;
  EXPECT_EQ(OffsetRgn(r, 5, -2), COMPLEXREGION);
  EXPECT_EQ(r.Box(), Rect(5, -2, 15, 8));
  EXPECT_EQ(c.Box(), Rect(0, 0, 10, 10));  // copies are independent
  TRegion m = std::move(r);
  EXPECT_EQ(m.Box(), Rect(5, -2, 15, 8));
}

TEST(Regions, FillAndClipOnACanvas) {
  TBitmap b;
  b.SetSize(20, 20);
  TCanvas* c = b.Canvas();
  c->Brush()->SetColor(clRed);
  TRegion tri = TRegion::Polygon({{0, 0}, {20, 0}, {0, 20}}, ALTERNATE);
  c->FillRgn(tri);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 20; ++x) ASSERT_EQ(c->Pixel(x, y) == clRed, tri.Contains(x, y)) << x << "," << y;
  TRegion two;
  CombineRgn(two, TRegion::Rect(0, 0, 5, 5), TRegion::Rect(15, 15, 20, 20), RGN_OR);
  c->SelectClipRgn(&two);
  c->Brush()->SetColor(clBlue);
  c->FillRect(Rect(0, 0, 20, 20));
  EXPECT_EQ(c->Pixel(2, 2), clBlue);
  EXPECT_EQ(c->Pixel(17, 17), clBlue);
  EXPECT_EQ(c->Pixel(10, 2), clRed);
  EXPECT_EQ(c->Pixel(10, 17), clWhite);
  EXPECT_EQ(c->ClipRect(), Rect(0, 0, 20, 20));
}

TEST(Regions, ExtremeCoordinatesStayBounded) {
  const int32_t lo = INT32_MIN, hi = INT32_MAX;
  TRegion r = TRegion::Rect(lo, lo, hi, hi);
  EXPECT_TRUE(r.Contains(0, 0));
  const int32_t k = (1 << 30) - 1;
  EXPECT_EQ(r.Box(), Rect(-k, -k, k, k));
  TRegion e = TRegion::Ellipse(lo, lo, hi, hi);
  EXPECT_TRUE(e.Contains(0, 0));
  EXPECT_LE(e.Box().Bottom, 1 << 18);
  TRegion rr = TRegion::RoundRect(lo, lo, hi, hi, hi, 100);
  EXPECT_TRUE(rr.Contains(5, 5));
  TRegion p = TRegion::Polygon({{lo, lo}, {hi, lo}, {hi, hi}, {lo, hi}}, WINDING);
  EXPECT_TRUE(p.Contains(1000, -1000));
  EXPECT_EQ(p.Box(), Rect(-(1 << 18), -(1 << 18), 1 << 18, 1 << 18));
  // A triangle whose tip lies far outside keeps its winding inside the window.
  TRegion t = TRegion::Polygon({{0, 0}, {100, 0}, {50, hi}}, ALTERNATE);
  EXPECT_TRUE(t.Contains(50, 10));
  EXPECT_FALSE(t.Contains(-1, 10));
  TRegion off = TRegion::Rect(0, 0, 10, 10);
  OffsetRgn(off, 5, 5);
  EXPECT_EQ(off.Box(), Rect(5, 5, 15, 15));
}

// Polygon rasteriser: exact coverage values, both fill rules, aliased spans, polylines, Grow
// and Outline; the fast antialiased fill against a plain reference on random polygons.
#include "raster/Raster32Polygons.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

using namespace raster;

namespace {

TFixedPoint FP(double x, double y) { return {Fixed(static_cast<float>(x)), Fixed(static_cast<float>(y))}; }

TPolygon32 Poly(std::initializer_list<std::pair<double, double>> pts, bool aa = true,
                TPolyFillMode mode = pfAlternate) {
  TPolygon32 p;
  p.SetAntialiased(aa);
  p.SetFillMode(mode);
  for (auto [x, y] : pts) p.Add(FP(x, y));
  return p;
}

struct Canvas {
  TBitmap32 b;
  Canvas(int w, int h, TColor32 fill = 0) {
    b.SetSize(w, h);
    b.Clear(fill);
  }
  uint32_t A(int x, int y) const { return AlphaComponent(b.Pixel(x, y)); }
};

// The antialiased fill done the plain way: per sub-scanline lists, literal edge walking, every
// cell merged. Independent of the flat crossing table and the opaque fast path.
void ReferenceFill(const TArrayOfArrayOfFixedPoint& pts, TPolyFillMode mode, TBitmap32& bmp, TColor32 color) {
  const int W = bmp.Width(), H = bmp.Height();
  std::vector<std::vector<std::pair<int64_t, int>>> rows(static_cast<size_t>(H) * 8);
  for (const auto& c : pts) {
    if (c.size() < 3) continue;
    std::vector<std::pair<int64_t, int64_t>> g;
    for (const auto& p : c) g.push_back({(int64_t{p.X} + 2047) >> 13, (int64_t{p.Y} + 2047) >> 13});
    for (size_t i = 0; i < g.size(); ++i) {
      auto a = g[(i + g.size() - 1) % g.size()], b = g[i];
      if (a.second == b.second) continue;
      int dir = b.second > a.second ? 1 : -1;
      if (dir < 0) std::swap(a, b);
      int64_t dy = b.second - a.second, dx = std::llabs(b.first - a.first), sx = (b.first > a.first) - (b.first < a.first);
      int64_t err = (dx % dy) / 2, x = a.first;
      for (int64_t y = a.second; y < b.second; ++y) {
        if (y >= 0 && y < H * 8) rows[y].push_back({std::clamp<int64_t>(x, 0, W * 8 - 1), dir});
        err += dx;
        for (int k = 0; k < 2 && err > dy; ++k) {
          x += sx;
          err -= dy;
        }
        if (err > dy) {
          int64_t n = (err + dy - 1) / dy;
          x += sx * n;
          err -= dy * n;
        }
      }
    }
  }
  for (auto& r : rows) std::sort(r.begin(), r.end(), [](auto p, auto q) { return p.first != q.first ? p.first < q.first : p.second > q.second; });
  for (int py = 0; py < H; ++py) {
    std::vector<int> cell(static_cast<size_t>(W) + 2, 0);
    auto add = [&](int64_t x, bool enter) {
      int f = static_cast<int>(x & 7);
      if (enter) {
        cell[x >> 3] += f ^ 7;
        cell[(x >> 3) + 1] += f;
      } else {
        cell[x >> 3] += f - 7;
        cell[(x >> 3) + 1] -= f;
      }
    };
    for (int s = py * 8; s < py * 8 + 8; ++s) {
      const auto& r = rows[s];
      if (mode == pfAlternate) {
        for (size_t i = 0; i + 1 < r.size(); i += 2) {
          add(r[i].first, true);
          add(r[i + 1].first, false);
        }
      } else {
        int sum = 0;
        for (auto [x, d] : r) {
          int dd = -d;  // an up edge counts +1
          if (sum == 0) add(x, true);
          sum += dd;
          if (sum == 0) add(x, false);
        }
      }
    }
    int c = 0;
    for (int x = 0; x < W; ++x) {
      c += cell[x];
      TColor32 a = static_cast<TColor32>(((c * 1167) & 0xFF00) >> 8);
      bmp.SetPixel(x, py, MergePixel((color & 0xFFFFFF) | (a << 24), bmp.Pixel(x, py), color >> 24));
    }
  }
}

}  // namespace

TEST(Polygon32, UnitSquareCoversItsPixelFully) {
  Canvas c(5, 5);
  TPolygon32 p = Poly({{2, 2}, {3, 2}, {3, 3}, {2, 3}});
  p.DrawFill(&c.b, 0xFF336699);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(c.b.Pixel(x, y), (x == 2 && y == 2) ? 0xFF336699u : 0u) << x << "," << y;
  // Counter-clockwise gives the same.
  Canvas d(5, 5);
  Poly({{2, 2}, {2, 3}, {3, 3}, {3, 2}}).DrawFill(&d.b, 0xFF336699);
  EXPECT_EQ(d.b.Pixel(2, 2), 0xFF336699u);
  EXPECT_EQ(d.A(1, 2) + d.A(3, 2) + d.A(2, 1) + d.A(2, 3), 0u);
}

TEST(Polygon32, CoverageOfAnEdgeInsideAPixel) {
  // Left edge at x = 2.5 (sub-position 4): 3 of 7 per sub-scanline, 24 of 56 -> alpha 109.
  Canvas c(6, 4);
  Poly({{2.5, 1}, {5, 1}, {5, 2}, {2.5, 2}}).DrawFill(&c.b, 0xFF000000);
  EXPECT_EQ(c.A(2, 1), 109u);
  EXPECT_EQ(c.A(3, 1), 255u);
  EXPECT_EQ(c.A(4, 1), 255u);
  EXPECT_EQ(c.A(5, 1), 0u);
  EXPECT_EQ(c.A(1, 1), 0u);
  // Half a pixel row: top edge at y = 1.5 covers 4 of 8 sub-scanlines, 28 -> alpha 127.
  Canvas d(4, 4);
  Poly({{1, 1.5}, {2, 1.5}, {2, 2}, {1, 2}}).DrawFill(&d.b, 0xFF000000);
  EXPECT_EQ(d.A(1, 1), ((28u * 1167) & 0xFF00) >> 8);
  // A translucent fill scales the coverage by its alpha over a transparent background.
  Canvas e(4, 4);
  Poly({{1, 1}, {2, 1}, {2, 2}, {1, 2}}).DrawFill(&e.b, 0x80FF0000);
  EXPECT_EQ(e.b.Pixel(1, 1), MergePixel(0xFFFF0000, 0, 0x80));
}

TEST(Polygon32, FillRulesOnBowTieNestedSquaresAndStar) {
  for (bool aa : {true, false}) {
    SCOPED_TRACE(aa ? "antialiased" : "aliased");
    // A bow tie is filled in both halves by both rules.
    for (TPolyFillMode mode : {pfAlternate, pfWinding}) {
      Canvas c(12, 12);
      Poly({{0, 0}, {10, 10}, {10, 0}, {0, 10}}, aa, mode).DrawFill(&c.b, 0xFF000000);
      EXPECT_EQ(c.A(1, 5), 255u);
      EXPECT_EQ(c.A(8, 5), 255u);
      EXPECT_EQ(c.A(5, 1), 0u);
      EXPECT_EQ(c.A(5, 8), 0u);
    }
    // Two nested squares running the same way: the hole is filled only by the winding rule.
    auto nested = [&](TPolyFillMode mode) {
      TPolygon32 p = Poly({{0, 0}, {10, 0}, {10, 10}, {0, 10}}, aa, mode);
      p.NewLine();
      for (auto [x, y] : {std::pair{3, 3}, {7, 3}, {7, 7}, {3, 7}}) p.Add(FP(x, y));
      Canvas c(12, 12);
      p.DrawFill(&c.b, 0xFF000000);
      return std::pair{c.A(5, 5), c.A(1, 1)};
    };
    EXPECT_EQ(nested(pfWinding), (std::pair<uint32_t, uint32_t>{255, 255}));
    EXPECT_EQ(nested(pfAlternate), (std::pair<uint32_t, uint32_t>{0, 255}));
    // A five-pointed star drawn in one stroke overlaps itself in the middle.
    auto star = [&](TPolyFillMode mode) {
      TPolygon32 p;
      p.SetAntialiased(aa);
      p.SetFillMode(mode);
      for (int i = 0; i < 5; ++i) {
        double a = -M_PI / 2 + i * 4 * M_PI / 5;
        p.Add(FP(20 + 18 * std::cos(a), 20 + 18 * std::sin(a)));
      }
      Canvas c(40, 40);
      p.DrawFill(&c.b, 0xFF000000);
      return std::pair{c.A(20, 20), c.A(20, 6)};  // centre, top point
    };
    EXPECT_EQ(star(pfWinding), (std::pair<uint32_t, uint32_t>{255, 255}));
    EXPECT_EQ(star(pfAlternate), (std::pair<uint32_t, uint32_t>{0, 255}));
  }
}

TEST(Polygon32, AliasedSpansAndEdges) {
  // Rows are half-open; a span runs from round(a) to round(b - 1) in 24.8, so the right
  // end pixel is included.
  Canvas c(8, 6);
  Poly({{2, 2}, {5, 2}, {5, 4}, {2, 4}}, false).DrawFill(&c.b, 0xFF00FF00);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 8; ++x)
      EXPECT_EQ(c.b.Pixel(x, y), (y >= 2 && y <= 3 && x >= 2 && x <= 5) ? 0xFF00FF00u : 0u) << x << "," << y;
  // Translucent aliased fills blend, and no pixel is blended twice.
  Canvas t(8, 6, 0xFF000000);
  Poly({{0, 0}, {6, 0}, {6, 3}, {0, 3}}, false).DrawFill(&t.b, 0x80FFFFFF);
  TColor32 once = BlendPixel(0x80FFFFFF, 0xFF000000);
  for (int x = 0; x <= 6; ++x) EXPECT_EQ(t.b.Pixel(x, 1), once) << x;
  // Antialiased edges have intermediate alphas, aliased ones none.
  auto alphas = [](bool aa) {
    Canvas e(30, 30);
    TPolygon32 p;
    p.SetAntialiased(aa);
    for (int i = 0; i < 40; ++i) p.Add(FP(15 + 12 * std::cos(i * M_PI / 20), 15 + 12 * std::sin(i * M_PI / 20)));
    p.DrawFill(&e.b, 0xFF000000);
    int partial = 0;
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x < 30; ++x) partial += e.A(x, y) != 0 && e.A(x, y) != 255;
    return partial;
  };
  EXPECT_GT(alphas(true), 40);
  EXPECT_EQ(alphas(false), 0);
}

TEST(Polygon32, FastFillMatchesTheReference) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> near(-6, 46), far(-900, 940);
  for (int round = 0; round < 300; ++round) {
    // Some polygons reach far beyond the bitmap, so edges are walked a long way before it.
    auto coord = [&](std::mt19937& g) { return round % 3 == 2 ? far(g) : near(g); };
    TPolygon32 p;
    p.SetAntialiased(true);
    p.SetFillMode(round % 2 ? pfWinding : pfAlternate);
    int contours = 1 + round % 3;
    for (int k = 0; k < contours; ++k) {
      if (k) p.NewLine();
      int n = 3 + static_cast<int>(rng() % 9);
      for (int i = 0; i < n; ++i) p.Add(FP(coord(rng), coord(rng)));
    }
    TColor32 color = (round % 3 == 0) ? 0xFF204080 : (0x30000000u * (1 + round % 5)) | 0x00C08040;
    Canvas fast(40, 40, 0x80102030), slow(40, 40, 0x80102030);
    if (round % 4 == 1) {  // a varied background: stripes of a few colours
      for (int i = 0; i < 1600; ++i) {
        TColor32 bg = (i / 7) % 3 ? 0xFF808080 : 0x40FF00FFu * (1 + (i / 5) % 2);
        fast.b.Bits()[i] = slow.b.Bits()[i] = bg;
      }
    }
    p.DrawFill(&fast.b, color);
    ReferenceFill(p.Points(), p.FillMode(), slow.b, color);
    for (int y = 0; y < 40; ++y)
      for (int x = 0; x < 40; ++x)
        ASSERT_EQ(fast.b.Pixel(x, y), slow.b.Pixel(x, y)) << "round " << round << " at " << x << "," << y;
  }
}

// Shapes with many vertices on larger bitmaps: rows where the same edges cross every
// sub-scanline in the same order, rows where edges begin, end or cross each other, crossings
// sharing a cell, runs over several mark words, and a bitmap wider than 4096 pixels.
TEST(Polygon32, LargeShapesMatchTheReference) {
  std::mt19937 rng(2026);
  std::uniform_real_distribution<double> u(0, 1);
  for (int round = 0; round < 120; ++round) {
    const int W = round == 0 ? 4700 : 1 + static_cast<int>(rng() % 260);
    const int H = round == 0 ? 6 : 1 + static_cast<int>(rng() % 200);
    TPolygon32 p;
    p.SetAntialiased(true);
    p.SetFillMode(round % 2 ? pfWinding : pfAlternate);
    const double cx = W * (u(rng) * 1.2 - 0.1), cy = H * (u(rng) * 1.2 - 0.1);
    const double rx = W * (0.05 + u(rng)), ry = H * (0.05 + u(rng));
    const int n = 3 + static_cast<int>(rng() % 700);
    switch (round % 5) {
      case 0:  // an ellipse, and for the winding rule a second one the same way round
      case 1:
        for (int i = 0; i < n; ++i) p.Add(FP(cx + rx * std::cos(i * 2 * M_PI / n), cy + ry * std::sin(i * 2 * M_PI / n)));
        p.NewLine();
        for (int i = 0; i < n; ++i) {
          double a = (round % 2 ? 1 : -1) * i * 2 * M_PI / n;
          p.Add(FP(cx + rx * 0.4 * std::cos(a) + 3.3, cy + ry * 0.6 * std::sin(a)));
        }
        break;
      case 2:  // a star crossing itself
        for (int i = 0; i < n; ++i) {
          double a = i * 2 * M_PI * (n / 2 - 1) / n;
          p.Add(FP(cx + rx * std::cos(a), cy + ry * std::sin(a)));
        }
        break;
      case 3:  // triangles, some sharing corners on whole and eighth pixels
        for (int t = 0; t < 1 + n / 20; ++t) {
          if (t) p.NewLine();
          for (int k = 0; k < 3; ++k) {
            double x = std::round((u(rng) * 1.4 - 0.2) * W * 8) / 8, y = std::round((u(rng) * 1.4 - 0.2) * H * 8) / 8;
            p.Add(FP(x, y));
            if (t % 4 == 1 && k == 0) p.Add(FP(x + 0.125, y + H / 2.0));
          }
        }
        break;
      default:  // thin slivers and wide flat bands
        for (int t = 0; t < 1 + n / 100; ++t) {
          if (t) p.NewLine();
          double x = u(rng) * W, y = u(rng) * H, w = t % 2 ? W * u(rng) * 2 : 0.125 * (rng() % 9);
          double h = t % 2 ? 0.125 * (rng() % 30) : H * u(rng);
          p.Add(FP(x, y));
          p.Add(FP(x + w, y + h * 0.1));
          p.Add(FP(x + w * 1.1, y + h));
          p.Add(FP(x - 0.3, y + h * 0.9));
        }
    }
    const TColor32 color = (round % 3 == 0) ? 0xFF204080 : (0x28000000u * (1 + round % 6)) | 0x00C08040;
    Canvas fast(W, H, 0xFFFFFFFF), slow(W, H, 0xFFFFFFFF);
    if (round % 4 == 3) {
      for (int i = 0; i < W * H; ++i) {
        TColor32 bg = (i / 11) % 3 ? 0xFF808080 : 0x40FF00FFu * (1 + (i / 5) % 2);
        fast.b.Bits()[i] = slow.b.Bits()[i] = bg;
      }
    }
    p.DrawFill(&fast.b, color);
    p.DrawFill(&fast.b, color);  // again over its own result, reusing the converter's buffers
    ReferenceFill(p.Points(), p.FillMode(), slow.b, color);
    ReferenceFill(p.Points(), p.FillMode(), slow.b, color);
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x)
        ASSERT_EQ(fast.b.Pixel(x, y), slow.b.Pixel(x, y)) << "round " << round << " at " << x << "," << y;
  }
}

TEST(Polygon32, EdgesAndDegenerateInput) {
  // A closed single point blends one pixel.
  Canvas c(5, 5, 0xFF000000);
  TPolygon32 one = Poly({{2, 3}}, false);
  one.DrawEdge(&c.b, 0x80FFFFFF);
  EXPECT_EQ(c.b.Pixel(2, 3), BlendPixel(0x80FFFFFF, 0xFF000000));
  EXPECT_EQ(c.b.Pixel(2, 2), 0xFF000000u);
  // An aliased closed triangle: lines exclude their end points, the last one closes.
  Canvas t(8, 8);
  Poly({{1, 1}, {6, 1}, {1, 6}}, false).DrawEdge(&t.b, 0xFFFFFFFF);
  for (int x = 1; x <= 5; ++x) EXPECT_EQ(t.b.Pixel(x, 1), 0xFFFFFFFFu) << x;
  for (int y = 2; y <= 5; ++y) EXPECT_EQ(t.b.Pixel(1, y), 0xFFFFFFFFu) << y;
  EXPECT_EQ(t.b.Pixel(3, 4), 0xFFFFFFFFu);
  EXPECT_EQ(t.b.Pixel(3, 3), 0u);
  // Fills ignore contours of fewer than 3 points and empty bitmaps.
  Canvas z(5, 5);
  Poly({{0, 0}, {4, 4}}).DrawFill(&z.b, 0xFF000000);
  EXPECT_EQ(std::count(z.b.Bits(), z.b.Bits() + 25, 0u), 25);
  TBitmap32 empty;
  Poly({{0, 0}, {4, 0}, {4, 4}}).DrawFill(&empty, 0xFF000000);
  // Far outside the bitmap: nothing drawn, nothing read out of bounds.
  Poly({{-30000, -30000}, {30000, -30000}, {30000, -29000}}).DrawFill(&z.b, 0xFF000000);
  EXPECT_EQ(std::count(z.b.Bits(), z.b.Bits() + 25, 0u), 25);
  // Covering everything, partly off the bitmap.
  Poly({{-300, -300}, {300, -300}, {300, 300}, {-300, 300}}).DrawFill(&z.b, 0xFF0000FF);
  EXPECT_EQ(std::count(z.b.Bits(), z.b.Bits() + 25, 0xFF0000FFu), 25);
  int changes = 0;
  z.b.OnChange = [&](platform::TObject*) { ++changes; };
  Poly({{0, 0}, {4, 0}, {4, 4}}).DrawFill(&z.b, 0xFF000000);
  EXPECT_EQ(changes, 1);
}

TEST(Polygon32, ExtremeCoordinatesAreHarmless) {
  const TFixed lo = INT32_MIN, hi = INT32_MAX;
  for (bool aa : {true, false})
    for (TPolyFillMode mode : {pfAlternate, pfWinding}) {
      TPolygon32 p;
      p.SetAntialiased(aa);
      p.SetFillMode(mode);
      for (TFixedPoint q : {TFixedPoint{lo, lo}, {hi, lo}, {hi, hi}, {lo, hi}, {0, 0}, {hi, 0}}) p.Add(q);
      Canvas c(9, 7);
      p.DrawFill(&c.b, 0x80FF00FF);
      auto grown = p.Grow(hi, 0.5f);
      grown->DrawFill(&c.b, 0xFF00FF00);
      p.Outline()->Grow(lo)->DrawFill(&c.b, 0xFF0000FF);
      p.DrawEdge(&c.b, 0x80FFFFFF);
    }
}

TEST(Polygon32, NormalsGrowAndOutline) {
  TPolygon32 sq = Poly({{0, 0}, {10, 0}, {10, 10}, {0, 10}}, true, pfWinding);
  const auto& n = sq.Normals();
  ASSERT_EQ(n.size(), 1u);
  EXPECT_EQ(n[0], (TArrayOfFixedPoint{{0, -65536}, {65536, 0}, {0, 65536}, {-65536, 0}}));

  // A right angle: R equals Delta, so sharpness 0 (limit Delta) bevels and 0.5 mitres.
  auto g0 = sq.Grow(Fixed(1), 0);
  EXPECT_EQ(g0->Points()[0], (TArrayOfFixedPoint{FP(-1, 0), FP(0, -1), FP(10, -1), FP(11, 0), FP(11, 10),
                                                   FP(10, 11), FP(0, 11), FP(-1, 10)}));
  auto g5 = sq.Grow(Fixed(1), 0.5f);
  EXPECT_EQ(g5->Points()[0], (TArrayOfFixedPoint{FP(-1, -1), FP(11, -1), FP(11, 11), FP(-1, 11)}));
  EXPECT_TRUE(g5->Antialiased());
  EXPECT_EQ(g5->FillMode(), pfWinding);
  // Sharpness above 0.99 acts as 0.99; Delta 0 copies.
  EXPECT_EQ(sq.Grow(Fixed(1), 2)->Points(), sq.Grow(Fixed(1), 0.99f)->Points());
  EXPECT_EQ(sq.Grow(0, 0.3f)->Points(), sq.Points());

  // Open contours: the ends move along their own segment's normal.
  TPolygon32 line = Poly({{0, 0}, {10, 0}});
  line.SetClosed(false);
  EXPECT_EQ(line.Normals()[0], (TArrayOfFixedPoint{{0, -65536}, {0, -65536}}));
  EXPECT_EQ(line.Grow(Fixed(2))->Points()[0], (TArrayOfFixedPoint{FP(0, -2), FP(10, -2)}));
  EXPECT_EQ(line.Outline()->Points(), (TArrayOfArrayOfFixedPoint{{FP(0, 0), FP(10, 0), FP(10, 0), FP(0, 0)}}));
  // A closed contour outlines as two: forward, then backward; short contours are dropped.
  TPolygon32 tri = Poly({{0, 0}, {4, 0}, {0, 3}});
  tri.NewLine();
  tri.Add(FP(9, 9));
  auto o = tri.Outline();
  ASSERT_EQ(o->Points().size(), 2u);
  EXPECT_EQ(o->Points()[1], (TArrayOfFixedPoint{FP(0, 3), FP(4, 0), FP(0, 0)}));
  EXPECT_EQ(tri.Grow(Fixed(1))->Points().size(), 1u);

  // Changing the points drops the normals.
  tri.Add(FP(10, 9));
  EXPECT_EQ(tri.Normals()[1].size(), 2u);
  tri.Clear();
  EXPECT_EQ(tri.Points(), (TArrayOfArrayOfFixedPoint{{}}));
}

// The last point's normal depends on Closed: turning the flag either way must not leave the
// normals of the other kind behind for Grow.
TEST(Polygon32, NormalsFollowTheClosedFlag) {
  for (bool closedFirst : {false, true}) {
    TPolygon32 p = Poly({{0, 0}, {10, 0}, {10, 10}});
    p.SetClosed(closedFirst);
    auto before = p.Grow(Fixed(1), 0.5f);  // builds the normals for the first setting
    p.SetClosed(!closedFirst);
    TPolygon32 fresh = Poly({{0, 0}, {10, 0}, {10, 10}});
    fresh.SetClosed(!closedFirst);
    EXPECT_EQ(p.Normals(), fresh.Normals()) << closedFirst;
    EXPECT_EQ(p.Grow(Fixed(1), 0.5f)->Points(), fresh.Grow(Fixed(1), 0.5f)->Points()) << closedFirst;
  }
  // Closed: the last point's normal comes from the closing segment (10,10) -> (0,0).
  TPolygon32 q = Poly({{0, 0}, {10, 0}, {10, 10}});
  q.SetClosed(false);
  EXPECT_EQ(q.Normals()[0][2], (TFixedPoint{65536, 0}));
  q.SetClosed(true);
  EXPECT_EQ(q.Normals()[0][2], (TFixedPoint{Fixed(-std::sqrt(0.5f)), Fixed(std::sqrt(0.5f))}));
}

// Aliased non-zero fills: where an inner edge crosses a filled row, the spans on its two sides
// meet at one pixel, which is still blended only once.
TEST(Polygon32, AliasedWindingBlendsEachPixelOnce) {
  const TColor32 once = BlendPixel(0x80FFFFFF, 0xFF000000);
  // Two squares the same way round: the inner one's edges lie inside the filled area.
  Canvas c(13, 10, 0xFF000000);
  TPolygon32 p = Poly({{1, 1}, {11, 1}, {11, 8}, {1, 8}}, false, pfWinding);
  p.NewLine();
  for (auto [x, y] : {std::pair{4, 3}, {8, 3}, {8, 6}, {4, 6}}) p.Add(FP(x, y));
  p.DrawFill(&c.b, 0x80FFFFFF);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 13; ++x)
      EXPECT_EQ(c.b.Pixel(x, y), (y >= 1 && y < 8 && x >= 1 && x <= 11) ? once : 0xFF000000u) << x << "," << y;
  // A five-pointed star crosses itself; every covered pixel is blended once, and the opaque
  // fill covers the same pixels.
  Canvas s(40, 40, 0xFF000000), o(40, 40, 0xFF000000);
  TPolygon32 star;
  star.SetFillMode(pfWinding);
  for (int i = 0; i < 5; ++i)
    star.Add(FP(20 + 18 * std::sin(i * 4 * M_PI / 5), 20 - 18 * std::cos(i * 4 * M_PI / 5)));
  star.DrawFill(&s.b, 0x80FFFFFF);
  star.DrawFill(&o.b, 0xFFFFFFFF);
  int covered = 0;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x) {
      const bool in = o.b.Pixel(x, y) == 0xFFFFFFFFu;
      covered += in;
      EXPECT_EQ(s.b.Pixel(x, y), in ? once : 0xFF000000u) << x << "," << y;
    }
  EXPECT_GT(covered, 300);
}

// The left edge of the bitmap cuts a fill without changing it: a polygon moved left by whole
// pixels shows the same pixels, moved, and one wholly to the left of the bitmap shows none.
TEST(Polygon32, FillsCutByTheLeftEdgeKeepTheirPixels) {
  for (bool aa : {false, true})
    for (TPolyFillMode mode : {pfAlternate, pfWinding}) {
      SCOPED_TRACE(testing::Message() << "antialiased " << aa << " mode " << mode);
      Canvas left(6, 6);
      Poly({{-5, 1}, {-2, 1}, {-2, 4}, {-5, 4}}, aa, mode).DrawFill(&left.b, 0xFFFFFFFF);
      Poly({{-5, 1}, {-0.3, 1}, {-0.3, 4}, {-5, 4}}, aa, mode).DrawFill(&left.b, 0xFF0000FF);
      Canvas ref(12, 6);
      Poly({{1, 1}, {4, 1}, {4, 4}, {1, 4}}, aa, mode).DrawFill(&ref.b, 0xFFFFFFFF);
      Poly({{1, 1}, {5.7, 1}, {5.7, 4}, {1, 4}}, aa, mode).DrawFill(&ref.b, 0xFF0000FF);
      for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x) EXPECT_EQ(left.b.Pixel(x, y), ref.b.Pixel(x + 6, y)) << x << "," << y;
    }
  std::mt19937 rng(31);
  for (int round = 0; round < 400; ++round) {
    const bool aa = round % 2;
    const TPolyFillMode mode = (round / 2) % 2 ? pfWinding : pfAlternate;
    const int ox = 1 + static_cast<int>(rng() % 40), oy = static_cast<int>(rng() % 20);
    TPolygon32 whole, cut;
    whole.SetAntialiased(aa), cut.SetAntialiased(aa);
    whole.SetFillMode(mode), cut.SetFillMode(mode);
    for (int k = 0; k < 2; ++k) {
      if (k) whole.NewLine(), cut.NewLine();
      for (int i = 3 + static_cast<int>(rng() % 6); i > 0; --i) {
        const TFixed x = static_cast<TFixed>(rng() % (56 << 16)) - (4 << 16), y = static_cast<TFixed>(rng() % (40 << 16));
        whole.Add({x, y});
        cut.Add({x - (ox << 16), y - (oy << 16)});
      }
    }
    Canvas a(50, 40, 0xFF000000), b(50 - ox, 40 - oy, 0xFF000000);
    whole.DrawFill(&a.b, 0x80FF8040);
    cut.DrawFill(&b.b, 0x80FF8040);
    for (int y = 0; y < 40 - oy; ++y)
      for (int x = 0; x < 50 - ox; ++x)
        ASSERT_EQ(b.b.Pixel(x, y), a.b.Pixel(x + ox, y + oy)) << "round " << round << " at " << x << "," << y;
  }
}

// Bitmap utilities: quarter turns and flips, the shadow pipeline (scale, shift, blur,
// colourise), merging and squared distances.
#include "raster/dtpUtil.h"

#include <gtest/gtest.h>

#include <random>

using namespace raster;

namespace {

TBitmap32* Make(TBitmap32& b, int w, int h, std::vector<TColor32> px) {
  b.SetSize(w, h);
  std::copy(px.begin(), px.end(), b.Bits());
  return &b;
}

std::vector<TColor32> Pixels(const TBitmap32& b) {
  return std::vector<TColor32>(b.Bits(), b.Bits() + static_cast<size_t>(b.Width()) * b.Height());
}

// The blur as written down: every output value summed from scratch.
void SlowBlurLine(const std::vector<uint32_t>& src, std::vector<uint32_t>& dst, int offset, int size) {
  const int64_t n = static_cast<int64_t>(src.size());
  if (n < size) return;
  for (int64_t j = 0; j < n; ++j) {
    uint64_t s = 0;
    for (int64_t k = j + offset - size + 1; k <= j + offset; ++k)
      if (k >= 0 && k < n) s += src[k];
    dst[j] = static_cast<uint32_t>(s / size);
  }
}

std::vector<uint32_t> SlowBoxBlur(std::vector<uint32_t> b, int w, int h, int r) {
  int hh = r / 2, h2 = (r & 1) ? hh : std::max(1, hh - 1);
  std::vector<uint32_t> t(b.size(), 0);
  for (int k = 0; k < 2; ++k) {
    SlowBlurLine(b, t, hh, r);
    SlowBlurLine(t, b, h2, r);
  }
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) t[x * h + y] = b[y * w + x];
  for (int k = 0; k < 2; ++k) {
    SlowBlurLine(t, b, h2, r);
    SlowBlurLine(b, t, hh, r);
  }
  for (int x = 0; x < w; ++x)
    for (int y = 0; y < h; ++y) b[y * w + x] = t[x * h + y];
  return b;
}

}  // namespace

TEST(dtpUtil, QuarterTurnsAndFlips) {
  TBitmap32 b;
  Make(b, 2, 1, {0xA, 0xB});
  Rotate90(&b);
  EXPECT_EQ(b.Width(), 1);
  EXPECT_EQ(b.Height(), 2);
  EXPECT_EQ(Pixels(b), (std::vector<TColor32>{0xA, 0xB}));  // A on top

  // 3 x 2:  1 2 3 / 4 5 6
  Make(b, 3, 2, {1, 2, 3, 4, 5, 6});
  b.SetDrawMode(dmBlend);
  b.SetMasterAlpha(77);
  b.SetOuterColor(0x12345678);
  b.SetStretchFilter(sfSpline);
  int changes = 0;
  b.OnChange = [&](platform::TObject*) { ++changes; };
  Rotate90(&b);  // clockwise: 4 1 / 5 2 / 6 3
  EXPECT_EQ(Pixels(b), (std::vector<TColor32>{4, 1, 5, 2, 6, 3}));
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(b.DrawMode(), dmBlend);
  EXPECT_EQ(b.MasterAlpha(), 77u);
  EXPECT_EQ(b.OuterColor(), 0x12345678u);
  EXPECT_EQ(b.StretchFilter(), sfSpline);
  Rotate270(&b);
  EXPECT_EQ(Pixels(b), (std::vector<TColor32>{1, 2, 3, 4, 5, 6}));
  Rotate270(&b);  // counter-clockwise: 3 6 / 2 5 / 1 4
  EXPECT_EQ(Pixels(b), (std::vector<TColor32>{3, 6, 2, 5, 1, 4}));
  EXPECT_EQ(b.DrawMode(), dmBlend);

  Make(b, 3, 2, {1, 2, 3, 4, 5, 6});
  changes = 0;
  FlipHorizontal(&b);
  EXPECT_EQ(Pixels(b), (std::vector<TColor32>{3, 2, 1, 6, 5, 4}));
  FlipVertical(&b);
  EXPECT_EQ(Pixels(b), (std::vector<TColor32>{6, 5, 4, 3, 2, 1}));
  Make(b, 3, 3, {1, 2, 3, 4, 5, 6, 7, 8, 9});
  EXPECT_EQ(changes, 1);  // the resize
  changes = 0;
  Rotate180(&b);
  EXPECT_EQ(Pixels(b), (std::vector<TColor32>{9, 8, 7, 6, 5, 4, 3, 2, 1}));
  EXPECT_EQ(changes, 0);  // flips change no notification

  TBitmap32 empty;
  Rotate90(&empty);
  Rotate180(&empty);
  EXPECT_TRUE(empty.Empty());
}

TEST(dtpUtil, ShadowPipelineValues) {
  TBitmap32 b;
  Make(b, 4, 1, {0xFF000000, 0x80FFFFFF, 0x01000000, 0x00FFFFFF});
  ScaleAlpha(&b, 0.5f);
  EXPECT_EQ(Pixels(b), (std::vector<TColor32>{32640, 16384, 128, 0}));
  Make(b, 2, 1, {0xFF000000, 0x10000000});
  ScaleAlpha(&b, -1.0f);
  EXPECT_EQ(Pixels(b), (std::vector<TColor32>{0, 0}));
  Make(b, 1, 1, {0xFF000000});
  ScaleAlpha(&b, 1e30f);
  EXPECT_EQ(Pixels(b), (std::vector<TColor32>{0x7FFFFFFF}));

  // Colourise: values up to 255 stay; 256 -> alpha 1; $FFFF -> 255.
  Make(b, 4, 1, {255, 256, 0xFFFF, 0x8000});
  ColorizeBitmap(&b, 0x00336699);
  EXPECT_EQ(Pixels(b), (std::vector<TColor32>{255, 0x01336699, 0xFF336699, 0x80336699}));

  Make(b, 2, 1, {0xFF123456, 0x00ABCDEF});
  InvertAlpha(&b);
  EXPECT_EQ(Pixels(b), (std::vector<TColor32>{0x00123456, 0xFFABCDEF}));
}

TEST(dtpUtil, ShiftMovesTheBufferAsOneSequence) {
  TBitmap32 b;
  Make(b, 3, 2, {1, 2, 3, 4, 5, 6});
  ShiftBitmap(&b, 1, 0);  // the last pixel of a row moves to the next row
  EXPECT_EQ(Pixels(b), (std::vector<TColor32>{0, 1, 2, 3, 4, 5}));
  Make(b, 3, 2, {1, 2, 3, 4, 5, 6});
  ShiftBitmap(&b, 0, -1);
  EXPECT_EQ(Pixels(b), (std::vector<TColor32>{4, 5, 6, 0, 0, 0}));
  Make(b, 3, 2, {1, 2, 3, 4, 5, 6});
  ShiftBitmap(&b, -2, 1);  // d = 1
  EXPECT_EQ(Pixels(b), (std::vector<TColor32>{0, 1, 2, 3, 4, 5}));
  ShiftBitmap(&b, 0, 0);
  EXPECT_EQ(Pixels(b), (std::vector<TColor32>{0, 1, 2, 3, 4, 5}));
  // As long as the buffer or longer: everything is vacated.
  for (auto [dx, dy] : {std::pair{6, 0}, {0, 2}, {-7, 0}, {0, -100000}, {INT32_MAX, INT32_MAX}}) {
    Make(b, 3, 2, {1, 2, 3, 4, 5, 6});
    ShiftBitmap(&b, dx, dy);
    EXPECT_EQ(Pixels(b), (std::vector<TColor32>(6, 0))) << dx << "," << dy;
  }
}

TEST(dtpUtil, BoxBlurRadiiAgainstTheSlowForm) {
  std::mt19937 rng(3);
  const int w = 13, h = 7;
  std::vector<uint32_t> src(w * h);
  for (uint32_t& v : src) v = rng() % 0xFF01;
  TBitmap32 b;
  // Radius 1.4 does nothing.
  Make(b, w, h, src);
  BoxBlur(&b, 1.4f);
  EXPECT_EQ(Pixels(b), src);
  // 1.5 and 2.5 both use r = 3 (2.5 rounds to 2, which becomes 3); 3.5 uses r = 4.
  for (auto [radius, r] : {std::pair{1.5f, 3}, {2.5f, 3}, {3.5f, 4}, {5.0f, 5}, {8.0f, 8}}) {
    SCOPED_TRACE(radius);
    Make(b, w, h, src);
    BoxBlur(&b, radius);
    EXPECT_EQ(Pixels(b), SlowBoxBlur(src, w, h, r));
  }
  // Larger than the transpose tiles, with ragged edges.
  {
    std::vector<uint32_t> wide(70 * 45);
    for (uint32_t& v : wide) v = rng() % 0xFF01;
    Make(b, 70, 45, wide);
    BoxBlur(&b, 6);
    EXPECT_EQ(Pixels(b), SlowBoxBlur(wide, 70, 45, 6));
  }
  // Large values do not overflow the sums.
  std::vector<uint32_t> big(w * h, 0x7FFFFFFF);
  Make(b, w, h, big);
  BoxBlur(&b, 3);
  EXPECT_EQ(Pixels(b), SlowBoxBlur(big, w, h, 3));
  // A box longer than the buffer leaves it alone.
  Make(b, 2, 2, {1, 2, 3, 4});
  BoxBlur(&b, 50);
  EXPECT_EQ(Pixels(b), (std::vector<TColor32>{1, 2, 3, 4}));
}

TEST(dtpUtil, MergingAndDistances) {
  TBitmap32 fore, back;
  Make(fore, 2, 1, {0x80FF0000, 0xFF00FF00});
  Make(back, 1, 2, {0xFF0000FF, 0x00000000});
  MergeBitmaps(&fore, &back, 200);
  EXPECT_EQ(Pixels(fore), (std::vector<TColor32>{MergePixel(0x80FF0000, 0xFF0000FF, 200), MergePixel(0xFF00FF00, 0, 200)}));
  Make(back, 3, 1, {1, 2, 3});
  MergeBitmaps(&fore, &back, 255);  // different pixel counts: nothing
  EXPECT_EQ(fore.Pixel(1, 0), MergePixel(0xFF00FF00, 0, 200));

  TBitmap32 src, dst;
  Make(src, 2, 2, {0xFF111111, 0xFF222222, 0xFF333333, 0xFF444444});
  dst.SetSize(3, 3);
  dst.Clear(0xFF000000);
  MergeBitmapAt(&src, &dst, 2, -1, 255);  // only source (0, 1) lands, at (2, 0)
  EXPECT_EQ(dst.Pixel(2, 0), 0xFF333333u);
  EXPECT_EQ(std::count(dst.Bits(), dst.Bits() + 9, 0xFF000000u), 8);

  EXPECT_EQ(SqrDistance({1, 2}, {4, 6}), 25);
  EXPECT_EQ(SqrDistance({-40000, 0}, {40000, 0}), int64_t{6400000000});
  EXPECT_EQ(SqrDistanceToSegment({5, 5}, {0, 0}, {10, 0}), 25.0);
  EXPECT_EQ(SqrDistanceToSegment({-3, 4}, {0, 0}, {10, 0}), 25.0);  // before A
  EXPECT_EQ(SqrDistanceToSegment({13, 4}, {0, 0}, {10, 0}), 25.0);  // past B
  EXPECT_EQ(SqrDistanceToSegment({2, 2}, {1, 1}, {1, 1}), 2.0);
  // The nearest point is rounded to whole pixels first, halves to even: (1.5, 0.5) -> (2, 0).
  EXPECT_EQ(SqrDistanceToSegment({2, -1}, {0, 0}, {3, 1}), 1.0);
  EXPECT_EQ(SqrDistanceToSegment({2, 5}, {0, 0}, {5, 0}), 25.0);  // 2 on the segment

  TBitmap32 keep;
  Make(keep, 2, 1, {0x80123456, 0xFFABCDEF});
  ApplyPixelFunction(&keep, 0x80FFFFFF);
  EXPECT_EQ(Pixels(keep), (std::vector<TColor32>{0x80123456, 0xFFABCDEF}));
}

// Points anywhere in the 32-bit range: the squares and the dot product need more than 64 bits,
// and a wrapped product must not move the nearest point.
TEST(dtpUtil, DistancesOverTheWholeCoordinateRange) {
  const int32_t lo = INT32_MIN, hi = INT32_MAX;
  // On the segment, and beside its middle.
  EXPECT_EQ(SqrDistanceToSegment({0, 0}, {lo, 0}, {hi, 0}), 0.0);
  EXPECT_EQ(SqrDistanceToSegment({7, 3}, {lo, 0}, {hi, 0}), 9.0);
  EXPECT_EQ(SqrDistanceToSegment({0, 5}, {0, lo}, {0, hi}), 0.0);
  EXPECT_EQ(SqrDistanceToSegment({4, -2}, {lo, lo}, {hi, hi}), 18.0);  // nearest (1, 1)
  // Far apart: the exact square, as near as a double holds it.
  const double span = static_cast<double>(hi) - lo;
  EXPECT_EQ(SqrDistanceToSegment({hi, hi}, {lo, lo}, {lo, lo}), 2 * span * span);
  EXPECT_EQ(SqrDistanceToSegment({hi, 0}, {lo, 0}, {lo, 1}), span * span);
  // SqrDistance stays exact where the sum fits and saturates where it does not.
  EXPECT_EQ(SqrDistance({0, 0}, {hi, hi}), int64_t{hi} * hi * 2);
  EXPECT_EQ(SqrDistance({lo, 0}, {hi, 0}), INT64_MAX);
  EXPECT_EQ(SqrDistance({lo, lo}, {hi, hi}), INT64_MAX);
}

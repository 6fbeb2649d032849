// Area averaging and the choice between it and the transfer routines.
#include "raster/dtpStretch.h"

#include <gtest/gtest.h>

#include <random>

using namespace raster;
using platform::Bounds;
using platform::Rect;

namespace {

void Fill(TBitmap32& b, int w, int h, uint32_t seed) {
  b.SetSize(w, h);
  std::mt19937 rng(seed);
  for (int i = 0; i < w * h; ++i) b.Bits()[i] = rng();
}

std::vector<TColor32> Pixels(const TBitmap32& b) {
  return std::vector<TColor32>(b.Bits(), b.Bits() + static_cast<size_t>(b.Width()) * b.Height());
}

// Block boundaries as written down: q = Total div Count, the remainder spread by an error
// accumulator; then plain per-byte means, truncated.
std::vector<int> Starts(int total, int count) {
  std::vector<int> s(count + 1);
  int q = total / count, e = 0, pos = 0;
  for (int i = 0; i < count; ++i) {
    s[i] = pos;
    int len = q;
    e += total - q * count;
    if (e >= count) {
      ++len;
      e -= count;
    }
    pos += len;
  }
  s[count] = pos;
  return s;
}

void SlowAreaAverage(TBitmap32& dst, TRect dr, const TBitmap32& src, TRect sr) {
  auto xs = Starts(sr.Width(), dr.Width()), ys = Starts(sr.Height(), dr.Height());
  for (int j = 0; j < dr.Height(); ++j)
    for (int i = 0; i < dr.Width(); ++i) {
      uint64_t sum[4] = {0, 0, 0, 0}, n = 0;
      for (int y = ys[j]; y < ys[j + 1]; ++y)
        for (int x = xs[i]; x < xs[i + 1]; ++x) {
          TColor32 p = src.Pixel(sr.Left + x, sr.Top + y);
          for (int c = 0; c < 4; ++c) sum[c] += (p >> (8 * c)) & 255;
          ++n;
        }
      TColor32 out = 0;
      for (int c = 0; c < 4; ++c) out |= static_cast<TColor32>(sum[c] / n) << (8 * c);
      dst.SetPixel(dr.Left + i, dr.Top + j, out);
    }
}

}  // namespace

TEST(dtpStretch, AreaAverageExactCases) {
  TBitmap32 src, dst;
  src.SetSize(4, 1);
  for (int i = 0; i < 4; ++i) src.Bits()[i] = 0x01010101u * (10 * i);  // 0, 10, 20, 30
  dst.SetSize(1, 1);
  dst.Clear(0);
  StretchAreaAverage(&dst, Rect(0, 0, 1, 1), &src, Rect(0, 0, 4, 1));
  EXPECT_EQ(dst.Pixel(0, 0), 0x0F0F0F0Fu);  // 15

  // Truncated means: 1 and 2 average to 1.
  src.Bits()[0] = 0x01010101;
  src.Bits()[1] = 0x02020202;
  StretchAreaAverage(&dst, Rect(0, 0, 1, 1), &src, Rect(0, 0, 2, 1));
  EXPECT_EQ(dst.Pixel(0, 0), 0x01010101u);

  // 5 columns into 3: blocks 1, 2, 2 (the error accumulator places the longer ones).
  EXPECT_EQ(Starts(5, 3), (std::vector<int>{0, 1, 3, 5}));
  for (auto [sw, sh, dw, dh] : {std::array{5, 3, 3, 2}, {17, 9, 4, 9}, {40, 31, 7, 5}, {8, 8, 8, 8}, {1000, 3, 1, 1}}) {
    SCOPED_TRACE(std::to_string(sw) + "x" + std::to_string(sh) + " -> " + std::to_string(dw) + "x" + std::to_string(dh));
    TBitmap32 s, fast, slow;
    Fill(s, sw + 3, sh + 2, sw * 31 + dh);
    fast.SetSize(dw + 4, dh + 1);
    fast.Clear(0x11223344);
    slow.SetSize(dw + 4, dh + 1);
    slow.Clear(0x11223344);
    TRect sr = Bounds(2, 1, sw, sh), dr = Bounds(3, 1, dw, dh);
    StretchAreaAverage(&fast, dr, &s, sr);
    SlowAreaAverage(slow, dr, s, sr);
    EXPECT_EQ(Pixels(fast), Pixels(slow));
  }
}

TEST(dtpStretch, AreaAverageValidatesAndClips) {
  TBitmap32 src, dst;
  Fill(src, 6, 6, 1);
  dst.SetSize(4, 4);
  dst.Clear(0xAAAAAAAA);
  // Empty rectangles and missing bitmaps draw nothing.
  StretchAreaAverage(&dst, Rect(0, 0, 0, 4), &src, Rect(0, 0, 6, 6));
  StretchAreaAverage(&dst, Rect(0, 0, 4, 4), &src, Rect(3, 3, 3, 6));
  StretchAreaAverage(nullptr, Rect(0, 0, 4, 4), &src, Rect(0, 0, 6, 6));
  TBitmap32 empty;
  StretchAreaAverage(&dst, Rect(0, 0, 4, 4), &empty, Rect(0, 0, 6, 6));
  EXPECT_EQ(Pixels(dst), std::vector<TColor32>(16, 0xAAAAAAAA));

  // A source rectangle beyond the source is clipped to it.
  TBitmap32 ref;
  ref.SetSize(4, 4);
  ref.Clear(0xAAAAAAAA);
  StretchAreaAverage(&dst, Rect(0, 0, 2, 2), &src, Rect(-5, -5, 60, 60));
  StretchAreaAverage(&ref, Rect(0, 0, 2, 2), &src, Rect(0, 0, 6, 6));
  EXPECT_EQ(Pixels(dst), Pixels(ref));

  // A destination rectangle partly outside: the inside pixels are those of the full mapping.
  TBitmap32 big;
  big.SetSize(6, 6);
  big.Clear(0);
  StretchAreaAverage(&big, Rect(0, 0, 3, 3), &src, Rect(0, 0, 6, 6));
  dst.Clear(0xAAAAAAAA);
  StretchAreaAverage(&dst, Rect(2, 2, 5, 5), &src, Rect(0, 0, 6, 6));
  EXPECT_EQ(dst.Pixel(3, 3), big.Pixel(1, 1));
  EXPECT_EQ(dst.Pixel(2, 2), big.Pixel(0, 0));
  EXPECT_EQ(dst.Pixel(1, 1), 0xAAAAAAAAu);
  dst.Clear(0xAAAAAAAA);
  StretchAreaAverage(&dst, Rect(-1, -1, 2, 2), &src, Rect(0, 0, 6, 6));
  EXPECT_EQ(dst.Pixel(0, 0), big.Pixel(1, 1));

  // A destination rectangle of a billion pixels, nearly all off the bitmap: only the inside
  // is computed.
  dst.Clear(0xAAAAAAAA);
  StretchAreaAverage(&dst, Rect(-1000000000, 0, 1000000000, 4), &src, Rect(0, 0, 6, 6));
  EXPECT_NE(dst.Pixel(0, 0), 0xAAAAAAAAu);

  // Enlarging repeats source pixels instead of dividing by an empty block.
  TBitmap32 one;
  one.SetSize(2, 1);
  one.Bits()[0] = 0x01020304;
  one.Bits()[1] = 0x05060708;
  dst.Clear(0);
  StretchAreaAverage(&dst, Rect(0, 0, 4, 2), &one, Rect(0, 0, 2, 1));
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) {
      TColor32 p = dst.Pixel(x, y);
      EXPECT_TRUE(p == 0x01020304u || p == 0x05060708u) << x << "," << y;
    }
}

TEST(dtpStretch, AutoChoosesAreaAveragingOnlyForOpaqueLinearShrinks) {
  TBitmap32 src;
  Fill(src, 12, 10, 9);
  src.SetMasterAlpha(200);
  auto run = [&](TRect dr, TStretchFilter f, TDrawMode m, bool viaAuto) {
    TBitmap32 d;
    d.SetSize(14, 12);
    d.Clear(0xFF808080);
    if (viaAuto)
      StretchTransferAuto(&d, dr, &src, Rect(0, 0, 12, 10), f, m);
    else if (dr.Width() <= 12 && dr.Height() <= 10 && f == sfLinear && m == dmOpaque)
      StretchAreaAverage(&d, dr, &src, Rect(0, 0, 12, 10));
    else
      StretchTransfer(&d, dr, &src, Rect(0, 0, 12, 10), f, m);
    return Pixels(d);
  };
  struct Case {
    TRect dr;
    TStretchFilter f;
    TDrawMode m;
  };
  for (Case c : {Case{Rect(0, 0, 6, 5), sfLinear, dmOpaque}, Case{Rect(0, 0, 12, 10), sfLinear, dmOpaque},
                 Case{Rect(0, 0, 13, 5), sfLinear, dmOpaque}, Case{Rect(0, 0, 6, 5), sfLinear, dmBlend},
                 Case{Rect(0, 0, 6, 5), sfNearest, dmOpaque}, Case{Rect(0, 0, 6, 5), sfSpline, dmOpaque}})
    EXPECT_EQ(run(c.dr, c.f, c.m, true), run(c.dr, c.f, c.m, false));
  // The two paths really differ on a shrink.
  EXPECT_NE(run(Rect(0, 0, 5, 4), sfLinear, dmOpaque, false), [&] {
    TBitmap32 d;
    d.SetSize(14, 12);
    d.Clear(0xFF808080);
    StretchTransfer(&d, Rect(0, 0, 5, 4), &src, Rect(0, 0, 12, 10), sfLinear, dmOpaque);
    return Pixels(d);
  }());
}

// Block copies, the four stretch filters on small exact cases, matrices and TransformBitmap.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "raster/Raster32.h"
#include "raster/Raster32Transforms.h"

using namespace raster;

namespace {

std::vector<uint32_t> Pixels(const TBitmap32& b) {
  return std::vector<uint32_t>(b.Bits(), b.Bits() + b.Width() * b.Height());
}

void Fill(TBitmap32& b, int w, int h, std::vector<uint32_t> px) {
  b.SetSize(w, h);
  std::copy(px.begin(), px.end(), b.Bits());
}

void FillRandom(TBitmap32& b, int w, int h, uint32_t seed) {
  std::mt19937 rng(seed);
  b.SetSize(w, h);
  for (int i = 0; i < w * h; ++i) b.Bits()[i] = rng();
}

std::string Message(const std::function<void()>& f) {
  try {
    f();
  } catch (const ETransformError& e) {
    return e.Message;
  }
  return "";
}

}  // namespace

// ---- Checks ----

TEST(TransferTest, CheckMessages) {
  TBitmap32 a, empty;
  a.SetSize(4, 4);
  EXPECT_EQ(Message([&] { CheckBitmaps(nullptr, &a); }), "Destination bitmap is nil or empty");
  EXPECT_EQ(Message([&] { CheckBitmaps(&empty, nullptr); }), "Destination bitmap is nil or empty");
  EXPECT_EQ(Message([&] { CheckBitmaps(&a, &empty); }), "Source bitmap is nil or empty");
  EXPECT_EQ(Message([&] { CheckSrcRect(&a, MakeRect(-1, 0, 2, 2)); }), "Source rectangle is invalid");
  EXPECT_EQ(Message([&] { CheckSrcRect(&a, MakeRect(0, 0, 5, 2)); }), "Source rectangle is invalid");
  EXPECT_FALSE(CheckSrcRect(&a, MakeRect(9, 9, 9, 20)));  // empty: nothing to do, no error
  EXPECT_TRUE(CheckSrcRect(&a, MakeRect(0, 0, 4, 4)));
  EXPECT_EQ(Message([&] { BlockTransfer(&empty, 0, 0, &a, MakeRect(0, 0, 1, 1), dmOpaque); }),
            "Destination bitmap is nil or empty");
  EXPECT_EQ(Message([&] { StretchTransfer(&a, MakeRect(0, 0, 2, 2), &a, MakeRect(0, 0, 9, 2), sfLinear, dmOpaque); }),
            "Source rectangle is invalid");
}

// ---- BlockTransfer ----

TEST(TransferTest, BlockTransferClipsAndModes) {
  TBitmap32 src, dst;
  Fill(src, 3, 2, {1, 2, 3, 4, 5, 6});
  dst.SetSize(4, 3);
  dst.Clear(0);
  BlockTransfer(&dst, -1, 2, &src, MakeRect(-5, 0, 3, 2), dmOpaque);  // clipped to the source, then to dst
  EXPECT_EQ(Pixels(dst), (std::vector<uint32_t>{0, 0, 0, 0, 0, 0, 0, 0, 2, 3, 0, 0}));
  // Blend with master alpha 0 draws nothing; blend at 255 uses BlendSpan.
  TBitmap32 fg;
  Fill(fg, 2, 1, {0x80FFFFFF, 0x00FFFFFF});
  dst.Clear(0xFF000000);
  fg.SetMasterAlpha(0);
  BlockTransfer(&dst, 0, 0, &fg, MakeRect(0, 0, 2, 1), dmBlend);
  EXPECT_EQ(dst.Pixel(0, 0), 0xFF000000u);
  fg.SetMasterAlpha(255);
  BlockTransfer(&dst, 0, 0, &fg, MakeRect(0, 0, 2, 1), dmBlend);
  EXPECT_EQ(dst.Pixel(0, 0), BlendPixel(0x80FFFFFF, 0xFF000000));
  EXPECT_EQ(dst.Pixel(1, 0), 0xFF000000u);
  fg.SetMasterAlpha(100);
  dst.Clear(0xFF000000);
  BlockTransfer(&dst, 0, 0, &fg, MakeRect(0, 0, 2, 1), dmBlend);
  EXPECT_EQ(dst.Pixel(0, 0), BlendPixelMaster(0x80FFFFFF, 0xFF000000, 100));
  // Custom mode calls back with the master alpha; without a callback it copies.
  std::vector<uint32_t> seen;
  BlockTransfer(&dst, 1, 1, &fg, MakeRect(0, 0, 2, 1), dmCustom, [&](TColor32 F, TColor32& B, TColor32 M) {
    seen.push_back(F);
    B = M;
  });
  EXPECT_EQ(seen, (std::vector<uint32_t>{0x80FFFFFF, 0x00FFFFFF}));
  EXPECT_EQ(dst.Pixel(1, 1), 100u);
  BlockTransfer(&dst, 0, 2, &fg, MakeRect(0, 0, 2, 1), dmCustom);
  EXPECT_EQ(dst.Pixel(1, 2), 0x00FFFFFFu);
  // Far outside: nothing and no overflow.
  BlockTransfer(&dst, 0x7FFFFFF0, 0, &fg, MakeRect(0, 0, 2, 1), dmOpaque);
  BlockTransfer(&dst, -0x7FFFFFF0, 0, &fg, MakeRect(0, 0, 2, 1), dmOpaque);
}

TEST(TransferTest, BlockTransferOntoItselfOverlapping) {
  TBitmap32 b;
  Fill(b, 3, 3, {1, 2, 3, 4, 5, 6, 7, 8, 9});
  BlockTransfer(&b, 0, 1, &b, MakeRect(0, 0, 3, 2), dmOpaque);
  EXPECT_EQ(Pixels(b), (std::vector<uint32_t>{1, 2, 3, 1, 2, 3, 4, 5, 6}));
  BlockTransfer(&b, 1, 0, &b, MakeRect(0, 0, 2, 3), dmOpaque);
  EXPECT_EQ(Pixels(b), (std::vector<uint32_t>{1, 1, 2, 1, 1, 2, 4, 4, 5}));
}

// Blending a bitmap onto itself, moved along its own rows: every destination pixel takes the
// source pixel as it was before the transfer, whatever the span width of the blend routines.
TEST(TransferTest, BlockTransferOntoItselfAlongARowBlendsTheOriginalPixels) {
  TPixelCombineEvent add = [](TColor32 F, TColor32& B, TColor32) { B = (B + F) | 0xFF; };
  for (int shift = 1; shift <= 10; ++shift)
    for (int variant = 0; variant < 3; ++variant) {
      SCOPED_TRACE(testing::Message() << "shift " << shift << " variant " << variant);
      TBitmap32 self, copy, dst;
      FillRandom(self, 40, 3, 21);
      for (int i = 0; i < 40 * 3; i += 3) self.Bits()[i] |= 0xFF000000u;  // some opaque ones
      self.SetMasterAlpha(variant == 1 ? 128 : 255);
      FillRandom(copy, 40, 3, 21);
      for (int i = 0; i < 40 * 3; i += 3) copy.Bits()[i] |= 0xFF000000u;
      copy.SetMasterAlpha(self.MasterAlpha());
      FillRandom(dst, 40, 3, 21);
      for (int i = 0; i < 40 * 3; i += 3) dst.Bits()[i] |= 0xFF000000u;
      const TDrawMode mode = variant == 2 ? dmCustom : dmBlend;
      BlockTransfer(&self, shift, 0, &self, MakeRect(0, 0, 40 - shift, 3), mode, add);
      BlockTransfer(&dst, shift, 0, &copy, MakeRect(0, 0, 40 - shift, 3), mode, add);
      ASSERT_EQ(Pixels(self), Pixels(dst));
    }
}

// ---- StretchTransfer ----

TEST(StretchTest, EqualSizesCopyExactlyWithEveryFilter) {
  TBitmap32 src;
  FillRandom(src, 9, 7, 3);
  for (TStretchFilter f : {sfNearest, sfLinear, sfLinear2, sfSpline}) {
    TBitmap32 dst;
    dst.SetSize(12, 10);
    dst.Clear(0);
    StretchTransfer(&dst, MakeRect(2, 3, 8, 8), &src, MakeRect(1, 1, 7, 6), f, dmOpaque);
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 6; ++x) ASSERT_EQ(dst.Pixel(2 + x, 3 + y), src.Pixel(1 + x, 1 + y)) << f;
    EXPECT_EQ(dst.Pixel(1, 3), 0u);
    EXPECT_EQ(dst.Pixel(8, 3), 0u);
  }
}

TEST(StretchTest, NearestEnlargeAndShrink) {
  TBitmap32 src, dst;
  Fill(src, 2, 2, {1, 2, 3, 4});
  dst.SetSize(4, 4);
  StretchTransfer(&dst, MakeRect(0, 0, 4, 4), &src, MakeRect(0, 0, 2, 2), sfNearest, dmOpaque);
  EXPECT_EQ(Pixels(dst), (std::vector<uint32_t>{1, 1, 2, 2, 1, 1, 2, 2, 3, 3, 4, 4, 3, 3, 4, 4}));
  // Tall enlargement copies repeated rows; the result is the same mapping.
  TBitmap32 tall;
  tall.SetSize(2, 7);
  StretchTransfer(&tall, MakeRect(0, 0, 2, 7), &src, MakeRect(0, 0, 2, 2), sfNearest, dmOpaque);
  EXPECT_EQ(Pixels(tall), (std::vector<uint32_t>{1, 2, 1, 2, 1, 2, 1, 2, 3, 4, 3, 4, 3, 4}));
  TBitmap32 big, small;
  Fill(big, 4, 1, {10, 11, 12, 13});
  small.SetSize(2, 1);
  StretchTransfer(&small, MakeRect(0, 0, 2, 1), &big, MakeRect(0, 0, 4, 1), sfNearest, dmOpaque);
  EXPECT_EQ(Pixels(small), (std::vector<uint32_t>{10, 12}));
  // Clipped on the left: the visible pixel is the one the whole drawing shows there (source 2).
  small.Clear(0);
  StretchTransfer(&small, MakeRect(-1, 0, 1, 1), &big, MakeRect(0, 0, 4, 1), sfNearest, dmOpaque);
  EXPECT_EQ(Pixels(small), (std::vector<uint32_t>{12, 0}));
  // Blend mode goes through BlendPixelInPlace.
  TBitmap32 fg;
  Fill(fg, 1, 1, {0x80FFFFFF});
  small.Clear(0xFF000000);
  StretchTransfer(&small, MakeRect(0, 0, 2, 1), &fg, MakeRect(0, 0, 1, 1), sfNearest, dmBlend);
  EXPECT_EQ(small.Pixel(1, 0), BlendPixel(0x80FFFFFF, 0xFF000000));
}

TEST(StretchTest, LinearExactSmallCase) {
  SelectBlendSet(TBlendSet::MMX);
  TBitmap32 src, dst;
  Fill(src, 2, 1, {0xFF000000, 0xFFFFFFFF});
  dst.SetSize(4, 1);
  StretchTransfer(&dst, MakeRect(0, 0, 4, 1), &src, MakeRect(0, 0, 2, 1), sfLinear, dmOpaque);
  // Weights of the left pixel 255, 191, 127, 63: channel (255 * (256 - w) + 128) div 256.
  EXPECT_EQ(Pixels(dst), (std::vector<uint32_t>{0xFF010101, 0xFF414141, 0xFF808080, 0xFFC0C0C0}));
}

TEST(StretchTest, LinearNeverReadsPastTheSourceRectangle) {
  TBitmap32 src, dst;
  Fill(src, 3, 2, {0xFF000000, 0xFF000000, 0xFFFF0000, 0xFF000000, 0xFF000000, 0xFFFF0000});
  dst.SetSize(3, 3);
  dst.Clear(0);
  for (int left = -2; left <= 0; ++left) {
    StretchTransfer(&dst, MakeRect(left, 0, left + 3, 3), &src, MakeRect(0, 0, 2, 2), sfLinear, dmOpaque);
    for (uint32_t p : Pixels(dst)) EXPECT_EQ(p & 0x00FF0000, 0u) << left;
  }
}

// A picture partly outside the destination shows, in the part that is inside, exactly the
// pixels it shows when drawn whole: the first visible column and row sit where the steps of
// the whole drawing put them, for every filter and draw mode.
TEST(StretchTest, ClippedStretchShowsThePixelsOfTheWholeOne) {
  TBitmap32 src;
  FillRandom(src, 5, 4, 11);
  const int DW = 37, DH = 29;
  for (TStretchFilter f : {sfNearest, sfLinear, sfLinear2, sfSpline})
    for (TDrawMode mode : {dmOpaque, dmBlend}) {
      src.SetMasterAlpha(mode == dmBlend ? 200 : 255);
      TBitmap32 whole;
      FillRandom(whole, DW, DH, 12);
      StretchTransfer(&whole, MakeRect(0, 0, DW, DH), &src, MakeRect(0, 0, 5, 4), f, mode);
      for (int ox = 0; ox < DW; ox += 5)
        for (int oy = 0; oy < DH; oy += 4) {
          // The destination is the lower right part of the whole one, with its old pixels.
          TBitmap32 back, part;
          FillRandom(back, DW, DH, 12);
          part.SetSize(DW - ox, DH - oy);
          for (int y = 0; y < DH - oy; ++y)
            for (int x = 0; x < DW - ox; ++x) part.SetPixel(x, y, back.Pixel(x + ox, y + oy));
          StretchTransfer(&part, MakeRect(-ox, -oy, DW - ox, DH - oy), &src, MakeRect(0, 0, 5, 4), f, mode);
          for (int y = 0; y < DH - oy; ++y)
            for (int x = 0; x < DW - ox; ++x)
              ASSERT_EQ(part.Pixel(x, y), whole.Pixel(x + ox, y + oy))
                  << "filter " << f << " mode " << mode << " clipped by " << ox << "," << oy << " at " << x << "," << y;
        }
    }
}

// Doubling two pixels and showing the right half: an exact source boundary at the clip edge
// gives the right-hand pixel, as in the whole drawing.
TEST(StretchTest, ClippedAtASourceBoundaryStartsWithTheNextPixel) {
  TBitmap32 src;
  Fill(src, 2, 2, {1, 2, 3, 4});
  for (TStretchFilter f : {sfNearest, sfLinear}) {
    TBitmap32 whole, part;
    whole.SetSize(4, 4);
    StretchTransfer(&whole, MakeRect(0, 0, 4, 4), &src, MakeRect(0, 0, 2, 2), f, dmOpaque);
    part.SetSize(2, 2);
    StretchTransfer(&part, MakeRect(-2, -2, 2, 2), &src, MakeRect(0, 0, 2, 2), f, dmOpaque);
    EXPECT_EQ(Pixels(part), (std::vector<uint32_t>{whole.Pixel(2, 2), whole.Pixel(3, 2), whole.Pixel(2, 3),
                                                   whole.Pixel(3, 3)}))
        << f;
  }
  TBitmap32 part;
  part.SetSize(2, 2);
  StretchTransfer(&part, MakeRect(-2, -2, 2, 2), &src, MakeRect(0, 0, 2, 2), sfNearest, dmOpaque);
  EXPECT_EQ(Pixels(part), (std::vector<uint32_t>{4, 4, 4, 4}));
}

TEST(StretchTest, KernelExactSmallCases) {
  SelectBlendSet(TBlendSet::MMX);
  // Enlarging 2 -> 3 with sfLinear2: weights {256}, {128, 128}, {256}.
  TBitmap32 src, dst;
  Fill(src, 2, 1, {0xFF102030, 0xFF305071});
  dst.SetSize(3, 1);
  StretchTransfer(&dst, MakeRect(0, 0, 3, 1), &src, MakeRect(0, 0, 2, 1), sfLinear2, dmOpaque);
  EXPECT_EQ(Pixels(dst), (std::vector<uint32_t>{0xFF102030, 0xFF203850, 0xFF305071}));
  // Shrinking 4 -> 2: raw weights 28, 57, 85, 57, 28 on columns -2..2 (clamped to 0), sum 255,
  // spread to a total of 256 (the largest remainder goes to 85): column 0 gets 171, 1 gets 57,
  // 2 gets 28; a channel is (171 a0 + 57 a1 + 28 a2) shr 8.
  Fill(src, 4, 1, {0xFF000000, 0xFF000064, 0xFF0000C8, 0xFF0000FF});
  dst.SetSize(2, 1);
  StretchTransfer(&dst, MakeRect(0, 0, 2, 1), &src, MakeRect(0, 0, 4, 1), sfLinear2, dmOpaque);
  EXPECT_EQ(dst.Pixel(0, 0), 0xFF000000u | ((57 * 100 + 28 * 200) >> 8));
  // Enlarging 2 -> 3 with sfSpline: the ends take B-spline weights 43, 171, 43 (sum 257,
  // spread back to 43, 170, 43), the middle 5, 123, 123, 5; columns clamp to the bitmap.
  Fill(src, 2, 1, {0xFF000000, 0xFF0000FF});
  dst.SetSize(3, 1);
  StretchTransfer(&dst, MakeRect(0, 0, 3, 1), &src, MakeRect(0, 0, 2, 1), sfSpline, dmOpaque);
  EXPECT_EQ(Pixels(dst), (std::vector<uint32_t>{0xFF000000u | ((43 * 255) >> 8), 0xFF000000u | ((128 * 255) >> 8),
                                                0xFF000000u | ((213 * 255) >> 8)}));
}

TEST(StretchTest, UniformPicturesStayUniform) {
  const uint32_t c = 0xFF7F3F1F;
  TBitmap32 src;
  src.SetSize(37, 23);
  src.Clear(c);
  for (TStretchFilter f : {sfLinear, sfLinear2, sfSpline}) {
    for (auto size : std::vector<std::pair<int, int>>{{1, 1}, {5, 3}, {18, 11}, {36, 22}, {38, 24}, {80, 61}, {1, 40}}) {
      TBitmap32 dst;
      dst.SetSize(size.first, size.second);
      dst.Clear(0);
      StretchTransfer(&dst, MakeRect(0, 0, size.first, size.second), &src, MakeRect(0, 0, 37, 23), f, dmOpaque);
      for (uint32_t p : Pixels(dst)) ASSERT_EQ(p, c) << f << " " << size.first << "x" << size.second;
    }
  }
}

TEST(StretchTest, DegenerateSizesGiveRealSamples) {
  // A one-pixel source inside a wider bitmap repeats that pixel.
  TBitmap32 src;
  Fill(src, 4, 3, {1, 2, 3, 4, 5, 0xFF446688, 7, 8, 9, 10, 11, 12});
  for (TStretchFilter f : {sfLinear2, sfSpline}) {
    TBitmap32 dst;
    dst.SetSize(5, 4);
    StretchTransfer(&dst, MakeRect(0, 0, 5, 4), &src, MakeRect(1, 1, 2, 2), f, dmOpaque);
    for (uint32_t p : Pixels(dst)) ASSERT_EQ(p, 0xFF446688u);
  }
  // Extreme shrinking (2000:1) still samples.
  TBitmap32 wide, one;
  wide.SetSize(2000, 1);
  wide.Clear(0xFF808080);
  one.SetSize(1, 1);
  one.Clear(0);
  StretchTransfer(&one, MakeRect(0, 0, 1, 1), &wide, MakeRect(0, 0, 2000, 1), sfLinear2, dmOpaque);
  EXPECT_EQ(one.Pixel(0, 0), 0xFF808080u);
  TBitmap32 two;
  two.SetSize(2, 1);
  StretchTransfer(&two, MakeRect(0, 0, 2, 1), &wide, MakeRect(0, 0, 2000, 1), sfSpline, dmOpaque);
  EXPECT_EQ(Pixels(two), (std::vector<uint32_t>{0xFF808080, 0xFF808080}));
  // A huge destination rectangle clipped to a small bitmap only maps the visible part.
  TBitmap32 dst;
  dst.SetSize(3, 3);
  StretchTransfer(&dst, MakeRect(-1000000000, -1000000000, 1000000000, 1000000000), &wide, MakeRect(0, 0, 2000, 1),
                  sfLinear2, dmOpaque);
  for (uint32_t p : Pixels(dst)) ASSERT_EQ(p, 0xFF808080u);
}

TEST(StretchTest, ModesOfTheKernelResampler) {
  TBitmap32 src, dst;
  src.SetSize(4, 4);
  src.Clear(0x80FFFFFF);
  dst.SetSize(2, 2);
  dst.Clear(0xFF000000);
  src.SetMasterAlpha(200);
  StretchTransfer(&dst, MakeRect(0, 0, 2, 2), &src, MakeRect(0, 0, 4, 4), sfSpline, dmBlend);
  EXPECT_EQ(dst.Pixel(1, 1), BlendPixelMaster(0x80FFFFFF, 0xFF000000, 200));
  int calls = 0;
  StretchTransfer(&dst, MakeRect(0, 0, 2, 2), &src, MakeRect(0, 0, 4, 4), sfLinear2, dmCustom,
                  [&](TColor32 F, TColor32& B, TColor32 M) {
                    ++calls;
                    EXPECT_EQ(F, 0x80FFFFFFu);
                    EXPECT_EQ(M, 200u);
                    B = 7;
                  });
  EXPECT_EQ(calls, 4);
  EXPECT_EQ(dst.Pixel(0, 0), 7u);
  src.SetMasterAlpha(0);
  StretchTransfer(&dst, MakeRect(0, 0, 2, 2), &src, MakeRect(0, 0, 4, 4), sfLinear2, dmBlend);
  EXPECT_EQ(dst.Pixel(0, 0), 7u);
}

TEST(StretchTest, DrawToBitmapUsesTheSourceSettings) {
  TBitmap32 src, dst;
  Fill(src, 2, 2, {1, 2, 3, 4});
  dst.SetSize(4, 4);
  int changes = 0;
  dst.OnChange = [&](platform::TObject*) { ++changes; };
  src.DrawToBitmap(&dst, MakeRect(0, 0, 4, 4));
  EXPECT_EQ(dst.Pixel(3, 3), 4u);
  EXPECT_EQ(changes, 1);
  src.DrawToRect(&dst, MakeRect(0, 0, 1, 1), MakeRect(1, 1, 2, 2));
  EXPECT_EQ(dst.Pixel(0, 0), 4u);
  TBitmap32 empty;
  empty.DrawToBitmap(&dst, MakeRect(0, 0, 4, 4));
  EXPECT_EQ(changes, 2);
}

// ---- Matrices ----

TEST(MatrixTest, InverseAndDeterminant) {
  TFloatMatrix m = IdentityMatrix;
  m[0][0] = 2;
  m[1][0] = 1;
  m[2][0] = 5;
  m[0][1] = -1;
  m[1][1] = 3;
  m[2][1] = -2;
  EXPECT_FLOAT_EQ(Determinant(m), 7.0f);
  TFloatMatrix inv = m;
  InvertMatrix(inv);
  TFloatMatrix p = MultiplyMatrix(m, inv);
  for (int c = 0; c < 3; ++c)
    for (int r = 0; r < 3; ++r) EXPECT_NEAR(p[c][r], c == r ? 1 : 0, 1e-6);
  TFloatMatrix s = IdentityMatrix;
  s[0][0] = 1e-3f;
  s[1][1] = 1e-3f;  // determinant 1e-6: treated as singular
  InvertMatrix(s);
  EXPECT_EQ(s, IdentityMatrix);
  TVector3f v = VectorTransform(m, {1, 1, 1});
  EXPECT_FLOAT_EQ(v[0], 8);
  EXPECT_FLOAT_EQ(v[1], 0);
  ScaleMatrix(m, 2);
  EXPECT_FLOAT_EQ(m[2][0], 10);
}

TEST(MatrixTest, CompositionOrderAndRotation) {
  TAffineTransformation t;
  t.Scale(2, 3);
  t.Translate(10, 20);  // applied after the scale
  TVector3f v = VectorTransform(t.Matrix, {1, 1, 1});
  EXPECT_FLOAT_EQ(v[0], 12);
  EXPECT_FLOAT_EQ(v[1], 23);
  t.Clear();
  t.Rotate(0, 0, 90);
  v = VectorTransform(t.Matrix, {1, 0, 1});
  EXPECT_NEAR(v[0], 0, 1e-6);
  EXPECT_NEAR(v[1], -1, 1e-6);
  t.Clear();
  t.Rotate(5, 5, 180);  // about a centre
  v = VectorTransform(t.Matrix, {6, 5, 1});
  EXPECT_NEAR(v[0], 4, 1e-5);
  EXPECT_NEAR(v[1], 5, 1e-5);
  EXPECT_FALSE(t.TransformValid);
}

TEST(MatrixTest, FixedPointInverse) {
  TAffineTransformation t;
  int32_t sx, sy;
  t.PrepareTransform();
  EXPECT_TRUE(t.TransformValid);
  EXPECT_EQ(t.A, 4096);
  EXPECT_EQ(t.E, 4096);
  for (int x : {-5, 0, 3, 1000})
    for (int y : {-7, 0, 9}) {
      t.ReverseTransformInt(x, y, sx, sy);
      EXPECT_EQ(sx, x);
      EXPECT_EQ(sy, y);
      t.ReverseTransform256(x, y, sx, sy);
      EXPECT_EQ(sx, x * 256);
      EXPECT_EQ(sy, y * 256);
    }
  t.Scale(2, 2);
  t.Translate(3, 0);
  t.PrepareTransform();
  EXPECT_EQ(t.A, 2048);
  EXPECT_EQ(t.C, -6144);
  t.ReverseTransformInt(7, 4, sx, sy);  // (7 - 3) / 2 = 2, 4 / 2 = 2
  EXPECT_EQ(sx, 2);
  EXPECT_EQ(sy, 2);
  t.ReverseTransformInt(0, 1, sx, sy);  // (-6144 + 2047) shr 12 = -2; (2048 + 2047) shr 12 = 0
  EXPECT_EQ(sx, -2);
  EXPECT_EQ(sy, 0);
  // A large scale-down does not overflow 32-bit products.
  t.Clear();
  t.Scale(1.0f / 100, 1.0f / 100);
  t.PrepareTransform();
  EXPECT_EQ(t.A, 409600);
  t.ReverseTransformInt(10000000, 0, sx, sy);
  EXPECT_EQ(sx, 1000000000);
  // Below the determinant threshold the matrix counts as singular and maps as identity.
  t.Clear();
  t.Scale(1.0f / 1000, 1.0f / 1000);
  t.PrepareTransform();
  t.ReverseTransformInt(123, 45, sx, sy);
  EXPECT_EQ(sx, 123);
  EXPECT_EQ(sy, 45);
}

TEST(MatrixTest, TransformedBounds) {
  TAffineTransformation t;
  t.SetSrcRect(FloatRect(0, 0, 4, 2));
  EXPECT_EQ(t.GetTransformedBounds(), MakeRect(0, 0, 4, 2));  // Round(-0.5) = 0, Round(4.5) = 4
  t.Translate(1, 0);
  EXPECT_EQ(t.GetTransformedBounds(), MakeRect(0, 0, 6, 2));  // Round(0.5) = 0, Round(5.5) = 6
}

// ---- TransformBitmap ----

TEST(TransformBitmapTest, IdentityCopiesWithNearest) {
  TBitmap32 src, dst;
  FillRandom(src, 5, 4, 11);
  dst.SetSize(5, 4);
  dst.Clear(0);
  TAffineTransformation t;
  t.SetSrcRect(FloatRect(0, 0, 5, 4));
  TransformBitmap(&dst, &src, &t);
  EXPECT_EQ(Pixels(dst), Pixels(src));
}

TEST(TransformBitmapTest, QuarterTurnOfASmallBitmap) {
  TBitmap32 src, dst;
  Fill(src, 3, 2, {1, 2, 3, 4, 5, 6});
  dst.SetSize(2, 3);
  dst.Clear(0);
  TAffineTransformation t;
  t.SetSrcRect(FloatRect(0, 0, 3, 2));
  t.Rotate(0, 0, 90);  // (x, y) -> (y, -x)
  t.Translate(0, 2);
  TransformBitmap(&dst, &src, &t);
  EXPECT_EQ(Pixels(dst), (std::vector<uint32_t>{3, 6, 2, 5, 1, 4}));
}

TEST(TransformBitmapTest, ClippingAndModes) {
  TBitmap32 src, dst;
  src.SetSize(4, 4);
  src.Clear(0x80FFFFFF);
  dst.SetSize(6, 6);
  dst.Clear(0xFF000000);
  TAffineTransformation t;
  t.SetSrcRect(FloatRect(0, 0, 4, 4));
  t.Translate(4, -2);  // partly outside the destination
  src.SetDrawMode(dmBlend);
  src.SetMasterAlpha(255);
  TransformBitmap(&dst, &src, &t);
  TColor32 blended = BlendPixelMaster(0x80FFFFFF, 0xFF000000, 255);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 6; ++x)
      EXPECT_EQ(dst.Pixel(x, y), (x >= 4 && y <= 1) ? blended : 0xFF000000u) << x << "," << y;
  // Far away: nothing drawn, no overflow.
  t.Translate(1e9f, 1e9f);
  TransformBitmap(&dst, &src, &t);
  // Empty bitmaps: nothing.
  TBitmap32 empty;
  TransformBitmap(&empty, &src, &t);
  TransformBitmap(&dst, &empty, &t);
}

TEST(TransformBitmapTest, BilinearUsesOuterColourAroundTheEdge) {
  SelectBlendSet(TBlendSet::MMX);
  TBitmap32 src, dst;
  src.SetSize(2, 2);
  src.Clear(0xFFFFFFFF);
  src.SetOuterColor(0x00000000);
  src.SetStretchFilter(sfLinear);
  dst.SetSize(4, 4);
  dst.Clear(0x12345678);
  TAffineTransformation t;
  t.SetSrcRect(FloatRect(0, 0, 2, 2));
  t.Translate(1, 1);
  TransformBitmap(&dst, &src, &t);
  // Inside: CombinePixel with weight 255 of equal colours keeps them.
  EXPECT_EQ(dst.Pixel(1, 1), 0xFFFFFFFFu);
  // Right edge: neighbours beyond the bitmap come from OuterColor.
  TColor32 edge = CombinePixel(CombinePixel(0xFFFFFFFF, 0, 255), CombinePixel(0xFFFFFFFF, 0, 255), 255);
  EXPECT_EQ(dst.Pixel(2, 1), edge);
  // Outside the transformed bounds the destination is untouched.
  EXPECT_EQ(dst.Pixel(0, 3), 0x12345678u);
}

namespace {

// A transformation that is not a TAffineTransformation: TransformBitmap must go through the
// virtual mapping, and give the same pixels as the row-stepping path of the affine class.
class TForwarding : public TTransformation {
 public:
  explicit TForwarding(TAffineTransformation* Inner) : FInner(Inner) { SetSrcRect(Inner->SrcRect()); }
  void ReverseTransformInt(int32_t X, int32_t Y, int32_t& SX, int32_t& SY) override {
    FInner->ReverseTransformInt(X, Y, SX, SY);
  }
  void ReverseTransform256(int32_t X, int32_t Y, int32_t& SX, int32_t& SY) override {
    FInner->ReverseTransform256(X, Y, SX, SY);
  }
  void PrepareTransform() override {
    FInner->PrepareTransform();
    TransformValid = true;
  }
  TRect GetTransformedBounds() override { return FInner->GetTransformedBounds(); }

 private:
  TAffineTransformation* FInner;
};

}  // namespace

TEST(TransformBitmapTest, RowSteppingMatchesPerPixelMapping) {
  TBitmap32 src;
  FillRandom(src, 23, 17, 5);
  for (TStretchFilter f : {sfNearest, sfLinear}) {
    src.SetStretchFilter(f);
    for (float angle : {0.0f, 17.0f, 90.0f, 133.5f, -60.0f}) {
      TAffineTransformation t;
      t.SetSrcRect(FloatRect(0, 0, 23, 17));
      t.Scale(1.3f, 0.8f);
      t.Rotate(10, 8, angle);
      t.Translate(6, 9);
      TForwarding fwd(&t);
      TBitmap32 a, b;
      a.SetSize(40, 40);
      b.SetSize(40, 40);
      a.Clear(0);
      b.Clear(0);
      TransformBitmap(&a, &src, &t);
      TransformBitmap(&b, &src, &fwd);
      ASSERT_EQ(Pixels(a), Pixels(b)) << f << " " << angle;
      std::vector<uint32_t> pa = Pixels(a);
      EXPECT_GT(std::count_if(pa.begin(), pa.end(), [](uint32_t p) { return p != 0; }), 200);
    }
  }
}

// Random and extreme geometry through every clipped entry point: under the sanitizers this
// proves no read or write leaves the bitmaps; in any build it must not crash or hang.
TEST(RobustnessTest, RandomGeometryStaysInsideTheBitmaps) {
  std::mt19937 rng(2024);
  auto coord = [&]() -> int32_t {
    switch (rng() % 5) {
      case 0: return static_cast<int32_t>(rng());  // anywhere in 32 bits
      case 1: return static_cast<int32_t>(rng() % 2000) - 1000;
      default: return static_cast<int32_t>(rng() % 40) - 10;
    }
  };
  auto fixedc = [&]() -> int32_t {
    int64_t v = static_cast<int64_t>(coord()) * 4096;
    return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
  };
  TBitmap32 src, dst;
  FillRandom(src, 17, 13, 1);
  dst.SetSize(23, 19);
  dst.SetStipple({0xFF0000FF, 0x8000FF00});
  for (int i = 0; i < 3000; ++i) {
    TRect dr = MakeRect(coord(), coord(), coord(), coord());
    TRect sr = MakeRect(rng() % 18, rng() % 14, rng() % 18, rng() % 14);
    TStretchFilter f = static_cast<TStretchFilter>(rng() % 4);
    TDrawMode m = static_cast<TDrawMode>(rng() % 3);
    src.SetMasterAlpha(rng() % 2 ? 255 : rng() & 255);
    auto cb = [](TColor32 F, TColor32& B, TColor32) { B ^= F; };
    if (sr.Right - sr.Left > 0 && sr.Bottom - sr.Top > 0 &&
        static_cast<int64_t>(dr.Right) - dr.Left < 5000 && static_cast<int64_t>(dr.Bottom) - dr.Top < 5000)
      StretchTransfer(&dst, dr, &src, sr, f, m, cb);
    BlockTransfer(&dst, coord(), coord(), &src, MakeRect(coord(), coord(), coord(), coord()), m, cb);
    dst.LineS(coord(), coord(), coord(), coord(), 0xFFFFFFFF, rng() % 2);
    dst.LineTS(coord(), coord(), coord(), coord(), 0x80FFFFFF, rng() % 2);
    dst.LineXS(fixedc(), fixedc(), fixedc(), fixedc(), 0xC0FF0000, rng() % 2);
    dst.LineXSP(fixedc(), fixedc(), fixedc(), fixedc(), rng() % 2);
    dst.HorzLineTSP(coord(), coord(), coord());
    dst.VertLineTSP(coord(), coord(), coord());
    dst.FillRectClipped(coord(), coord(), coord(), coord(), 0xFF123456);
    dst.FrameRectClipped(coord(), coord(), coord(), coord(), 0xFF654321);
    dst.FrameRectBlended(coord(), coord(), coord(), coord(), 0x40654321);
    dst.FrameRectStippled(coord(), coord(), coord(), coord());
    dst.SetPixelX(fixedc(), fixedc(), 0xFFFFFFFF);
    TAffineTransformation t;
    t.SetSrcRect(FloatRect(static_cast<float>(coord()), static_cast<float>(coord()), static_cast<float>(coord()),
                           static_cast<float>(coord())));
    t.Rotate(static_cast<float>(rng() % 50), static_cast<float>(rng() % 50), static_cast<float>(rng() % 360));
    t.Scale(static_cast<float>(rng() % 300) / 100.0f + 0.01f, static_cast<float>(rng() % 300) / 100.0f + 0.01f);
    t.Translate(static_cast<float>(rng() % 60) - 30, static_cast<float>(rng() % 60) - 30);
    src.SetStretchFilter(f);
    src.SetDrawMode(m);
    TransformBitmap(&dst, &src, &t);
  }
  SUCCEED();
}

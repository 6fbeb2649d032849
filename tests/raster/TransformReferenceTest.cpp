// The row-wise TransformBitmap (wide and scalar loops) against the per-pixel reference, bit for
// bit, over random geometry, sources, filters, draw modes, master alphas and clip rectangles.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <sstream>
#include <vector>

#include "raster/Raster32.h"
#include "raster/Raster32Blend.h"
#include "raster/Raster32Transforms.h"

using namespace raster;

namespace {

std::vector<uint32_t> Pixels(const TBitmap32& b) {
  return std::vector<uint32_t>(b.Bits(), b.Bits() + static_cast<size_t>(b.Width()) * b.Height());
}

// A source of random pixels, with runs of fully opaque and fully clear ones so the blend
// shortcuts are taken too.
void FillRandom(TBitmap32& b, int w, int h, std::mt19937& rng) {
  b.SetSize(w, h);
  for (int i = 0; i < w * h; ++i) {
    uint32_t p = rng();
    switch (rng() % 4) {
      case 0: p |= 0xFF000000u; break;
      case 1: p &= 0x00FFFFFFu; break;
      default: break;
    }
    b.Bits()[i] = p;
  }
}

void CopyPixels(TBitmap32& Dst, const TBitmap32& Src) {
  Dst.SetSize(Src.Width(), Src.Height());
  std::copy(Src.Bits(), Src.Bits() + static_cast<size_t>(Src.Width()) * Src.Height(), Dst.Bits());
}

float Uniform(std::mt19937& rng, float lo, float hi) {
  return lo + (hi - lo) * static_cast<float>(rng() % 1000001) / 1000000.0f;
}

// Random geometry: rotations, scales, shears, fractional translations, and now and then a
// degenerate (singular) or a huge matrix.
void RandomMatrix(TAffineTransformation& t, std::mt19937& rng, int SrcW, int SrcH, std::string& what) {
  std::ostringstream os;
  switch (rng() % 8) {
    case 0: {
      if (rng() % 2) {  // singular: transforms as the identity
        t.Scale(Uniform(rng, -1e-4f, 1e-4f), Uniform(rng, 0.5f, 2));
        os << "singular ";
      } else {  // invertible, but the fixed-point inverse saturates 32 bits
        t.Scale(Uniform(rng, 1e-6f, 2e-6f) * (rng() % 2 ? 1 : -1), Uniform(rng, 50, 200));
        t.Translate(Uniform(rng, -10, 40), Uniform(rng, -40, 40));
        os << "saturating ";
      }
      break;
    }
    case 1: {  // huge scales and translations
      t.Scale(Uniform(rng, -5000, 5000), Uniform(rng, -5000, 5000));
      t.Translate(Uniform(rng, -1e7f, 1e7f), Uniform(rng, -1e7f, 1e7f));
      os << "huge ";
      break;
    }
    case 2: {  // shear written straight into the matrix
      t.Matrix[1][0] = Uniform(rng, -2, 2);
      t.Matrix[0][1] = Uniform(rng, -2, 2);
      t.Matrix[0][0] = Uniform(rng, -3, 3);
      t.Matrix[1][1] = Uniform(rng, -3, 3);
      t.Matrix[2][0] = Uniform(rng, -20, 40);
      t.Matrix[2][1] = Uniform(rng, -20, 40);
      os << "shear ";
      break;
    }
    case 3: {  // tiny: many destination pixels per source pixel shrink to few
      t.Scale(Uniform(rng, 0.001f, 0.2f), Uniform(rng, 0.001f, 0.2f));
      t.Rotate(0, 0, Uniform(rng, -360, 360));
      t.Translate(Uniform(rng, -5, 30), Uniform(rng, -5, 30));
      os << "tiny ";
      break;
    }
    default: {
      t.Scale(Uniform(rng, 0.3f, 4), Uniform(rng, 0.3f, 4));
      t.Rotate(Uniform(rng, -5, static_cast<float>(SrcW) + 5), Uniform(rng, -5, static_cast<float>(SrcH) + 5),
               rng() % 5 == 0 ? static_cast<float>(90 * (rng() % 4)) : Uniform(rng, -360, 360));
      t.Translate(Uniform(rng, -30, 60), Uniform(rng, -30, 60));
      os << "general ";
      break;
    }
  }
  for (auto& c : t.Matrix) os << c[0] << "," << c[1] << "," << c[2] << " ";
  what = os.str();
}

struct TCase {
  TBitmap32 Src, Before, DstRef, DstRows, DstSSE2, DstScalar;
  TAffineTransformation T;
  std::string What;
};

// Runs one random case through the reference and both row loops; an order-sensitive callback
// checks that dmCustom sees the same pixels in the same order.
void RunRandomCase(std::mt19937& rng, TCase& c) {
  int sw = rng() % 6 == 0 ? 1 : 1 + static_cast<int>(rng() % 37);
  int sh = rng() % 6 == 0 ? 1 : 1 + static_cast<int>(rng() % 29);
  FillRandom(c.Src, sw, sh, rng);
  c.Src.SetOuterColor(rng());
  c.Src.SetStretchFilter(static_cast<TStretchFilter>(rng() % 4));
  c.Src.SetDrawMode(static_cast<TDrawMode>(rng() % 3));
  c.Src.SetMasterAlpha(rng() % 3 == 0 ? 255 : rng() % 256);
  // Clip rectangles: inside, partly outside, fractional, empty or inverted.
  float l = Uniform(rng, -4, static_cast<float>(sw));
  float t = Uniform(rng, -4, static_cast<float>(sh));
  float r = rng() % 3 == 0 ? static_cast<float>(sw) : Uniform(rng, l - 2, static_cast<float>(sw) + 4);
  float b = rng() % 3 == 0 ? static_cast<float>(sh) : Uniform(rng, t - 2, static_cast<float>(sh) + 4);
  if (rng() % 3 == 0) {
    l = 0;
    t = 0;
  }
  c.T.SetSrcRect(FloatRect(l, t, r, b));
  RandomMatrix(c.T, rng, sw, sh, c.What);
  int dw = 1 + static_cast<int>(rng() % 70), dh = 1 + static_cast<int>(rng() % 70);
  FillRandom(c.DstRef, dw, dh, rng);
  CopyPixels(c.Before, c.DstRef);
  CopyPixels(c.DstRows, c.DstRef);
  CopyPixels(c.DstSSE2, c.DstRef);
  CopyPixels(c.DstScalar, c.DstRef);
  uint32_t counter = 0;
  c.Src.OnPixelCombine = [&counter](TColor32 F, TColor32& B, TColor32 M) {
    B = (F ^ (B >> 1)) + counter * 2654435761u + M;
    ++counter;
  };
  counter = 0;
  TransformBitmapReference(&c.DstRef, &c.Src, &c.T);
  uint32_t refCount = counter;
  counter = 0;
  TransformBitmapRows(&c.DstRows, &c.Src, &c.T, TRowLoop::AVX2);
  EXPECT_EQ(counter, refCount);
  counter = 0;
  TransformBitmapRows(&c.DstSSE2, &c.Src, &c.T, TRowLoop::SSE2);
  EXPECT_EQ(counter, refCount);
  counter = 0;
  TransformBitmapRows(&c.DstScalar, &c.Src, &c.T, TRowLoop::Scalar);
  EXPECT_EQ(counter, refCount);
  c.Src.OnPixelCombine = nullptr;
}

}  // namespace

TEST(TransformReferenceTest, RowsMatchThePerPixelReference) {
  InitBlendRoutines();
  std::mt19937 rng(1701);
  int drawn = 0;
  for (int i = 0; i < 6000; ++i) {
    TCase c;
    RunRandomCase(rng, c);
    std::vector<uint32_t> ref = Pixels(c.DstRef);
    ASSERT_EQ(Pixels(c.DstRows), ref) << "case " << i << " " << c.What << " filter " << c.Src.StretchFilter()
                                      << " mode " << c.Src.DrawMode() << " master " << c.Src.MasterAlpha() << " "
                                      << TransformSimdLevel();
    ASSERT_EQ(Pixels(c.DstSSE2), ref) << "case " << i << " " << c.What;
    ASSERT_EQ(Pixels(c.DstScalar), ref) << "case " << i << " " << c.What;
    drawn += Pixels(c.Before) != ref ? 1 : 0;
  }
  // Most cases must draw something, or the comparison proves little.
  EXPECT_GT(drawn, 1000);
}

// Every blend set and span level: the row form keeps whatever arithmetic the live table has.
TEST(TransformReferenceTest, EveryBlendSetGivesTheReferencePixels) {
  std::mt19937 rng(99);
  for (TBlendSet set : {TBlendSet::MMX, TBlendSet::Portable})
    for (bool accelerated : {true, false}) {
      SelectBlendSet(set, accelerated);
      for (int i = 0; i < 800; ++i) {
        TCase c;
        RunRandomCase(rng, c);
        ASSERT_EQ(Pixels(c.DstRows), Pixels(c.DstRef)) << static_cast<int>(set) << " " << accelerated << " " << i;
        ASSERT_EQ(Pixels(c.DstSSE2), Pixels(c.DstRef)) << static_cast<int>(set) << " " << accelerated << " " << i;
        ASSERT_EQ(Pixels(c.DstScalar), Pixels(c.DstRef)) << static_cast<int>(set) << " " << accelerated << " " << i;
      }
    }
  SelectBlendSet(TBlendSet::MMX, true);
}

// A page-sized case: long rows run through the wide loop and its tail, for each filter and mode.
TEST(TransformReferenceTest, LargeRotatedPictures) {
  InitBlendRoutines();
  std::mt19937 rng(7);
  TBitmap32 src;
  FillRandom(src, 211, 97, rng);
  for (TStretchFilter f : {sfNearest, sfLinear, sfSpline})
    for (TDrawMode m : {dmOpaque, dmBlend})
      for (float angle : {0.0f, 0.5f, 30.0f, 90.0f, 181.0f, -47.25f}) {
        src.SetStretchFilter(f);
        src.SetDrawMode(m);
        src.SetMasterAlpha(m == dmBlend ? 200 : 255);
        TAffineTransformation t;
        t.SetSrcRect(FloatRect(0, 0, 211, 97));
        t.Scale(1.7f, 2.3f);
        t.Rotate(100, 60, angle);
        t.Translate(150.25f, 120.75f);
        TBitmap32 a;
        FillRandom(a, 400, 380, rng);
        TBitmap32 rows[3];
        for (TBitmap32& r : rows) CopyPixels(r, a);
        TransformBitmapReference(&a, &src, &t);
        for (TRowLoop loop : {TRowLoop::Scalar, TRowLoop::SSE2, TRowLoop::AVX2}) {
          TBitmap32& r = rows[static_cast<int>(loop)];
          TransformBitmapRows(&r, &src, &t, loop);
          ASSERT_EQ(Pixels(r), Pixels(a)) << f << " " << m << " " << angle << " loop " << static_cast<int>(loop);
        }
      }
}

// Drawing a bitmap onto itself reads pixels the same call has written; the result must be
// the per-pixel one.
TEST(TransformReferenceTest, OntoItselfKeepsThePixelOrder) {
  InitBlendRoutines();
  std::mt19937 rng(3);
  for (TStretchFilter f : {sfNearest, sfLinear}) {
    TBitmap32 a, b;
    FillRandom(a, 31, 27, rng);
    a.SetStretchFilter(f);
    CopyPixels(b, a);
    b.SetStretchFilter(f);
    TAffineTransformation t;
    t.SetSrcRect(FloatRect(0, 0, 31, 27));
    t.Rotate(15, 13, 33);
    t.Translate(0.5f, 1.25f);
    TransformBitmapReference(&a, &a, &t);
    TransformBitmapRows(&b, &b, &t, TRowLoop::AVX2);
    ASSERT_EQ(Pixels(b), Pixels(a)) << f;
  }
}

// Both blend sets against their per-channel formulas, the SIMD spans against the scalar
// routines, and MergePixel against its definition.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "raster/Raster32.h"
#include "raster/Raster32Blend.h"
#include "raster/Raster32System.h"

using namespace raster;

namespace {

uint32_t Ch(uint32_t c, int i) { return (c >> (8 * i)) & 255; }

// Per-channel references written from the definitions, one channel at a time.
uint32_t RefPortable(uint32_t x, uint32_t y, uint32_t w) {
  uint32_t r = 0;
  for (int i = 0; i < 4; ++i) r |= ((Ch(x, i) * w + 128) / 256 + (Ch(y, i) * (255 - w) + 128) / 256) << (8 * i);
  return r;
}
uint32_t RefMMX(uint32_t x, uint32_t y, uint32_t w) {
  uint32_t r = 0;
  for (int i = 0; i < 4; ++i) r |= ((Ch(x, i) * w + Ch(y, i) * (256 - w) + 128) / 256) << (8 * i);
  return r;
}

// Colours whose four channels differ, so a carry between lanes shows.
uint32_t Spread(uint32_t v, uint32_t alpha) {
  return (alpha << 24) | (((v * 7 + 3) & 255) << 16) | ((255 - v) << 8) | v;
}

class BlendSetTest : public ::testing::Test {
 protected:
  void TearDown() override { SelectBlendSet(TBlendSet::MMX, true); }
};

}  // namespace

TEST_F(BlendSetTest, ProductionSetIsMMXWithAccelerationWhereAvailable) {
  InitializeRaster32();
  EXPECT_TRUE(HasMMX());
  EXPECT_EQ(ActiveBlendSet(), TBlendSet::MMX);
  EXPECT_TRUE(MMX_ACTIVE);
  if (HasAVX2()) {
    EXPECT_STREQ(BlendSimdLevel(), "avx2");
  }
}

TEST_F(BlendSetTest, PortableCombineSweep) {
  SelectBlendSet(TBlendSet::Portable);
  for (uint32_t w = 0; w < 256; ++w)
    for (uint32_t a = 0; a < 256; ++a)
      for (uint32_t b = 0; b < 256; b += 3) {
        uint32_t x = Spread(a, a ^ 0x5A), y = Spread(b, 255 - b);
        uint32_t expect = w == 0 ? y : (w == 255 ? x : RefPortable(x, y, w));
        ASSERT_EQ(CombinePixel(x, y, w), expect) << w << " " << a << " " << b;
        uint32_t inPlace = y;
        CombinePixelInPlace(x, inPlace, w);
        uint32_t expectIn = w == 0 ? y : (w == 255 ? x : RefPortable(x, y, w) & 0xFFFFFF);
        ASSERT_EQ(inPlace, expectIn);
      }
}

TEST_F(BlendSetTest, MMXCombineSweep) {
  SelectBlendSet(TBlendSet::MMX);
  for (uint32_t w = 0; w < 256; ++w)
    for (uint32_t a = 0; a < 256; ++a)
      for (uint32_t b = 0; b < 256; b += 3) {
        uint32_t x = Spread(a, a ^ 0x5A), y = Spread(b, 255 - b);
        ASSERT_EQ(CombinePixel(x, y, w), RefMMX(x, y, w));
        uint32_t inPlace = y;
        CombinePixelInPlace(x, inPlace, w);
        ASSERT_EQ(inPlace, w == 0 ? y : (w == 255 ? x : RefMMX(x, y, w)));
      }
  // W = 255 without shortcut: (X * 255 + Y + 128) div 256.
  EXPECT_EQ(CombinePixel(0xFFFFFFFF, 0x00000000, 255), 0xFEFEFEFEu);
}

TEST_F(BlendSetTest, BlendPixelSweepBothSets) {
  for (TBlendSet set : {TBlendSet::Portable, TBlendSet::MMX}) {
    SelectBlendSet(set);
    bool mmx = set == TBlendSet::MMX;
    for (uint32_t fa = 0; fa < 256; ++fa)
      for (uint32_t f = 0; f < 256; f += 5)
        for (uint32_t b = 0; b < 256; b += 2) {
          uint32_t F = Spread(f, fa), B = Spread(b, (b * 13) & 255);
          uint32_t expect = fa == 255 ? F : (fa == 0 ? B : (mmx ? RefMMX(F, B, fa) : RefPortable(F, B, fa)));
          ASSERT_EQ(BlendPixel(F, B), expect);
          uint32_t inPlace = B;
          BlendPixelInPlace(F, inPlace);
          ASSERT_EQ(inPlace, expect);
        }
  }
}

TEST_F(BlendSetTest, BlendPixelMasterSweepBothSets) {
  for (TBlendSet set : {TBlendSet::Portable, TBlendSet::MMX}) {
    SelectBlendSet(set);
    bool mmx = set == TBlendSet::MMX;
    for (uint32_t m = 0; m < 256; m += 1)
      for (uint32_t fa = 0; fa < 256; ++fa)
        for (uint32_t f = 0; f < 256; f += 37) {
          uint32_t F = Spread(f, fa), B = Spread(255 - f, (f * 5) & 255);
          uint32_t w = ((m + 1) * fa) >> 8;
          uint32_t expect = (fa == 0 || w == 0) ? B : (mmx ? RefMMX(F, B, w) : RefPortable(F, B, w) & 0xFFFFFF);
          ASSERT_EQ(BlendPixelMaster(F, B, m), expect) << m << " " << fa << " " << f;
          uint32_t inPlace = B;
          BlendPixelMasterInPlace(F, inPlace, m);
          ASSERT_EQ(inPlace, expect);
        }
  }
}

TEST_F(BlendSetTest, SetsDifferWhereDocumented) {
  SelectBlendSet(TBlendSet::Portable);
  EXPECT_EQ(CombinePixel(0x11223344, 0x55667788, 0), 0x55667788u);
  EXPECT_EQ(CombinePixel(0x11223344, 0x55667788, 255), 0x11223344u);
  uint32_t b = 0xFF0000FF;
  BlendPixelMasterInPlace(0xFFFF0000, b, 128);
  EXPECT_EQ(b >> 24, 0u);  // portable master variants leave alpha 0
  SelectBlendSet(TBlendSet::MMX);
  b = 0x800000FF;
  BlendPixelMasterInPlace(0xFFFF0000, b, 128);
  EXPECT_EQ(b >> 24, (255u * 128 + 128 * 128 + 128) / 256);  // alpha blended too
  EXPECT_EQ(BlendPixel(0xFF123456, 0x80ABCDEF), 0xFF123456u);
  EXPECT_EQ(BlendPixel(0x00123456, 0x80ABCDEF), 0x80ABCDEFu);
}

TEST_F(BlendSetTest, SpansMatchScalarReferenceAndStayInBounds) {
  std::mt19937 rng(7);
  const TBlendRoutines scalar = BlendRoutinesOf(TBlendSet::MMX, false);
  const TBlendRoutines fast = BlendRoutinesOf(TBlendSet::MMX, true);
  const TBlendRoutines portable = BlendRoutinesOf(TBlendSet::Portable, true);
  const uint32_t guard = 0xDEADBEEF;
  for (int width = 0; width <= 70; ++width)
    for (int offset = 0; offset < 4; ++offset)
      for (uint32_t m : {0u, 1u, 77u, 128u, 254u, 255u}) {
        std::vector<uint32_t> src(width + 8), dst(width + 8 + 4, guard);
        for (int i = 0; i < width + 8; ++i) {
          uint32_t alpha;
          switch (rng() % 4) {
            case 0: alpha = 0; break;
            case 1: alpha = 255; break;
            default: alpha = rng() & 255;
          }
          src[i] = (alpha << 24) | (rng() & 0xFFFFFF);
        }
        // Runs of only opaque or only clear pixels take the fast exits.
        if (width > 16 && (width & 1)) std::fill(src.begin() + offset, src.begin() + offset + 8, 0xFF102030u);
        if (width > 16 && (width & 2)) std::fill(src.begin() + offset + 8, src.begin() + offset + 16, 0x00102030u);
        for (int i = 0; i < width; ++i) dst[offset + i] = rng();
        std::vector<uint32_t> d1 = dst, d2 = dst, d3 = dst, d4 = dst, d5 = dst, d6 = dst;
        scalar.BlendSpan(src.data() + offset, d1.data() + offset, width);
        fast.BlendSpan(src.data() + offset, d2.data() + offset, width);
        ASSERT_EQ(d1, d2) << "width " << width << " offset " << offset;
        scalar.BlendSpanMaster(src.data() + offset, d3.data() + offset, width, m);
        fast.BlendSpanMaster(src.data() + offset, d4.data() + offset, width, m);
        ASSERT_EQ(d3, d4) << "width " << width << " offset " << offset << " master " << m;
        for (int i = 0; i < width; ++i) {
          uint32_t e = dst[offset + i];
          scalar.BlendPixelInPlace(src[offset + i], e);
          ASSERT_EQ(d1[offset + i], e);
        }
        portable.BlendSpan(src.data() + offset, d5.data() + offset, width);
        portable.BlendSpanMaster(src.data() + offset, d6.data() + offset, width, m);
        for (int i = 0; i < width; ++i) {
          uint32_t e = dst[offset + i], e2 = dst[offset + i];
          portable.BlendPixelInPlace(src[offset + i], e);
          portable.BlendPixelMasterInPlace(src[offset + i], e2, m);
          ASSERT_EQ(d5[offset + i], e);
          ASSERT_EQ(d6[offset + i], e2);
        }
        for (int i = 0; i < offset; ++i) ASSERT_EQ(d2[i], guard);
        for (size_t i = offset + width; i < dst.size(); ++i) {
          ASSERT_EQ(d2[i], guard);
          ASSERT_EQ(d4[i], guard);
        }
      }
  // Count <= 0 does nothing.
  uint32_t s = 0x80FFFFFF, d = 0x12345678;
  fast.BlendSpan(&s, &d, 0);
  fast.BlendSpan(&s, &d, -5);
  fast.BlendSpanMaster(&s, &d, -1, 255);
  EXPECT_EQ(d, 0x12345678u);
}

TEST_F(BlendSetTest, SpanExhaustiveAlphaAndChannelPairs) {
  // Every (alpha, source channel, destination channel) triple through the SIMD span.
  const TBlendRoutines scalar = BlendRoutinesOf(TBlendSet::MMX, false);
  const TBlendRoutines fast = BlendRoutinesOf(TBlendSet::MMX, true);
  std::vector<uint32_t> src(256), dst(256), ref(256);
  for (uint32_t a = 0; a < 256; ++a)
    for (uint32_t f = 0; f < 256; ++f) {
      for (uint32_t b = 0; b < 256; ++b) {
        src[b] = (a << 24) | (f << 16) | (b << 8) | (255 - f);
        dst[b] = ((255 - b) << 24) | (b << 16) | (f << 8) | b;
      }
      ref = dst;
      scalar.BlendSpanMaster(src.data(), ref.data(), 256, a ^ 0x33);
      std::vector<uint32_t> out = dst;
      fast.BlendSpanMaster(src.data(), out.data(), 256, a ^ 0x33);
      ASSERT_EQ(out, ref);
      ref = dst;
      out = dst;
      scalar.BlendSpan(src.data(), ref.data(), 256);
      fast.BlendSpan(src.data(), out.data(), 256);
      ASSERT_EQ(out, ref);
    }
}

namespace {

// MergePixel written out from its definition, with explicit floor division.
uint32_t RefMerge(uint32_t F, uint32_t B, uint32_t M) {
  int64_t fa = F >> 24;
  if (fa == 255 && M == 255) return F;
  if (fa == 255 && M == 0) return B;
  if (fa == 0) return B;
  int64_t a = fa * M / 255;
  uint32_t fp = (F & 0xFFFFFF) | static_cast<uint32_t>(a << 24);
  if (a == 255) return fp;
  int64_t ba = B >> 24;
  if (ba == 0) return fp;
  int64_t ra = ba + a - a * ba / 255;
  int64_t scale = 65536 / ra;
  uint32_t r = static_cast<uint32_t>(ra << 24);
  for (int i = 0; i < 3; ++i) {
    int64_t f = Ch(F, i), b = Ch(B, i);
    int64_t bp = b * ba / 256;
    int64_t num = (f - bp) * a;
    int64_t fl = num >= 0 ? num / 256 : -((-num + 255) / 256);
    int64_t v = fl + bp;
    r |= static_cast<uint32_t>((v * scale) / 256) << (8 * i);
  }
  return r;
}

}  // namespace

TEST(MergePixelTest, DenseSweepAgainstDefinition) {
  for (uint32_t fa = 0; fa < 256; ++fa)
    for (uint32_t m = 0; m < 256; m += 3)
      for (uint32_t ba = 0; ba < 256; ba += 5)
        for (uint32_t c = 0; c < 256; c += 51) {
          uint32_t F = (fa << 24) | Spread(c, 0);
          uint32_t B = (ba << 24) | Spread(255 - c, 0);
          ASSERT_EQ(MergePixel(F, B, m), RefMerge(F, B, m)) << fa << " " << m << " " << ba << " " << c;
        }
}

TEST(MergePixelTest, RandomColoursAgainstDefinition) {
  std::mt19937 rng(99);
  for (int i = 0; i < 4000000; ++i) {
    uint32_t F = rng(), B = rng(), M = rng() & 255;
    if (i & 1) M = 255;
    ASSERT_EQ(MergePixel(F, B, M), RefMerge(F, B, M)) << std::hex << F << " " << B << " " << M;
  }
}

TEST(MergePixelTest, EdgeCases) {
  // Over a clear background: the foreground with alpha (Fa * M) div 255, RGB untouched.
  EXPECT_EQ(MergePixel(0xC0123456, 0x00FFFFFF, 200), ((0xC0u * 200 / 255) << 24) | 0x123456u);
  EXPECT_EQ(MergePixel(0xFF123456, 0x80FFFFFF, 255), 0xFF123456u);
  EXPECT_EQ(MergePixel(0xFF123456, 0x80FFFFFF, 0), 0x80FFFFFFu);
  EXPECT_EQ(MergePixel(0x00123456, 0x80FFFFFF, 255), 0x80FFFFFFu);
  // Channels never exceed 255, even white over white.
  for (uint32_t a = 1; a < 255; ++a) {
    uint32_t r = MergePixel((a << 24) | 0xFFFFFF, 0x80FFFFFF, 255);
    EXPECT_LE(r & 0xFF, 255u);
  }
}

// The eight-wide merge against the one-pixel routine: every foreground alpha, background
// alpha and master, with random channels, plus every tail length and both in-place forms.
TEST(MergeSpanTest, EveryAlphaPairAndMasterMatchesMergePixel) {
  std::mt19937 rng(7);
  std::vector<uint32_t> f(65536), b(65536), fast(65536), slow(65536);
  for (uint32_t m = 0; m < 258; ++m) {
    for (uint32_t k = 0; k < 65536; ++k) {
      f[k] = ((k & 255) << 24) | (rng() & 0xFFFFFF);
      b[k] = ((k >> 8) << 24) | (rng() & 0xFFFFFF);
    }
    MergeSpan(f.data(), b.data(), fast.data(), 65536, m);
    MergeSpanScalar(f.data(), b.data(), slow.data(), 65536, m);
    for (uint32_t k = 0; k < 65536; ++k)
      ASSERT_EQ(fast[k], slow[k]) << std::hex << f[k] << " " << b[k] << " " << std::dec << m;
  }
}

TEST(MergeSpanTest, TailsAndInPlaceMatchMergePixel) {
  std::mt19937 rng(11);
  for (int n = 0; n < 40; ++n) {
    std::vector<uint32_t> f(n), b(n), ref(n);
    for (int k = 0; k < n; ++k) f[k] = rng(), b[k] = rng();
    const uint32_t m = (n % 3 == 0) ? 255 : rng() & 255;
    for (int k = 0; k < n; ++k) ref[k] = MergePixel(f[k], b[k], m);
    std::vector<uint32_t> intoF = f, intoB = b;
    MergeSpan(intoF.data(), b.data(), intoF.data(), n, m);
    MergeSpan(f.data(), intoB.data(), intoB.data(), n, m);
    ASSERT_EQ(intoF, ref) << n;
    ASSERT_EQ(intoB, ref) << n;
  }
}

// Runs of opaque and of clear foregrounds (whole groups take the shortcuts) mixed with
// translucent ones, at full and partial master, into a separate destination and in place.
TEST(MergeSpanTest, OpaqueAndClearRunsMatchMergePixel) {
  std::mt19937 rng(23);
  for (int trial = 0; trial < 400; ++trial) {
    const int n = 1 + static_cast<int>(rng() % 200);
    std::vector<uint32_t> f(n), b(n), ref(n), out(n);
    uint32_t kind = 0;
    for (int k = 0; k < n; ++k) {
      if (rng() % 6 == 0) kind = rng() % 3;
      const uint32_t a = kind == 0 ? 255u : kind == 1 ? 0u : rng() & 255;
      f[k] = (a << 24) | (rng() & 0xFFFFFF);
      b[k] = rng();
    }
    const uint32_t m = trial % 3 == 0 ? rng() & 255 : 255;
    for (int k = 0; k < n; ++k) ref[k] = MergePixel(f[k], b[k], m);
    MergeSpan(f.data(), b.data(), out.data(), n, m);
    ASSERT_EQ(out, ref) << trial;
    MergeSpan(f.data(), b.data(), b.data(), n, m);
    ASSERT_EQ(b, ref) << trial;
  }
}

// SIMD spans of the MMX arithmetic: ((x - y) * w + y * 256 + 128) shr 8 in 16-bit lanes,
// exactly the scalar result. Compiled for SSE2 and AVX2 with target attributes; the table
// picks one at start-up.
#include <cstdint>

#include "raster/Raster32Blend.h"
#include "raster/Raster32BlendPriv.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KD_BLEND_X86 1
#endif

namespace raster::blend_simd {

using namespace blend_detail;

#if KD_BLEND_X86

bool Available() { return true; }

namespace {

// Blends four pixels whose per-channel 16-bit weights are given for the low and high pairs.
inline __m128i Mix4(__m128i s, __m128i d, __m128i wlo, __m128i whi) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i bias = _mm_set1_epi16(128);
  __m128i slo = _mm_unpacklo_epi8(s, zero), shi = _mm_unpackhi_epi8(s, zero);
  __m128i dlo = _mm_unpacklo_epi8(d, zero), dhi = _mm_unpackhi_epi8(d, zero);
  __m128i rlo = _mm_add_epi16(_mm_mullo_epi16(_mm_sub_epi16(slo, dlo), wlo), _mm_slli_epi16(dlo, 8));
  __m128i rhi = _mm_add_epi16(_mm_mullo_epi16(_mm_sub_epi16(shi, dhi), whi), _mm_slli_epi16(dhi, 8));
  rlo = _mm_srli_epi16(_mm_add_epi16(rlo, bias), 8);
  rhi = _mm_srli_epi16(_mm_add_epi16(rhi, bias), 8);
  return _mm_packus_epi16(rlo, rhi);
}

// Alpha word of each pixel spread over its four channel words.
inline __m128i SpreadAlphaLo(__m128i s) {
  __m128i lo = _mm_unpacklo_epi8(s, _mm_setzero_si128());
  return _mm_shufflehi_epi16(_mm_shufflelo_epi16(lo, 0xFF), 0xFF);
}
inline __m128i SpreadAlphaHi(__m128i s) {
  __m128i hi = _mm_unpackhi_epi8(s, _mm_setzero_si128());
  return _mm_shufflehi_epi16(_mm_shufflelo_epi16(hi, 0xFF), 0xFF);
}

}  // namespace

void BlendSpanMMX_SSE2(const TColor32* Src, TColor32* Dst, int32_t Count) {
  const __m128i amask = _mm_set1_epi32(static_cast<int32_t>(0xFF000000u));
  int32_t i = 0;
  for (; i + 4 <= Count; i += 4) {
    __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Src + i));
    __m128i a = _mm_and_si128(s, amask);
    __m128i opaque = _mm_cmpeq_epi32(a, amask);
    int om = _mm_movemask_epi8(opaque);
    if (om == 0xFFFF) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(Dst + i), s);
      continue;
    }
    if (_mm_movemask_epi8(_mm_cmpeq_epi32(a, _mm_setzero_si128())) == 0xFFFF) continue;
    __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Dst + i));
    __m128i r = Mix4(s, d, SpreadAlphaLo(s), SpreadAlphaHi(s));
    r = _mm_or_si128(_mm_and_si128(opaque, s), _mm_andnot_si128(opaque, r));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(Dst + i), r);
  }
  for (; i < Count; ++i) M_BlendPixelInPlace(Src[i], Dst[i]);
}

void BlendSpanMasterMMX_SSE2(const TColor32* Src, TColor32* Dst, int32_t Count, TColor32 M) {
  if (M > 255u) M = 255u;
  const __m128i m1 = _mm_set1_epi16(static_cast<int16_t>(M + 1));
  const __m128i amask = _mm_set1_epi32(static_cast<int32_t>(0xFF000000u));
  int32_t i = 0;
  for (; i + 4 <= Count; i += 4) {
    __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Src + i));
    if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(s, amask), _mm_setzero_si128())) == 0xFFFF) continue;
    __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Dst + i));
    // (M + 1) * alpha fits in an unsigned 16-bit word; w = 0 leaves the background.
    __m128i wlo = _mm_srli_epi16(_mm_mullo_epi16(SpreadAlphaLo(s), m1), 8);
    __m128i whi = _mm_srli_epi16(_mm_mullo_epi16(SpreadAlphaHi(s), m1), 8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(Dst + i), Mix4(s, d, wlo, whi));
  }
  for (; i < Count; ++i) M_BlendPixelMasterInPlace(Src[i], Dst[i], M);
}

namespace {

__attribute__((target("avx2"))) inline __m256i Mix8(__m256i s, __m256i d, __m256i wlo, __m256i whi) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i bias = _mm256_set1_epi16(128);
  __m256i slo = _mm256_unpacklo_epi8(s, zero), shi = _mm256_unpackhi_epi8(s, zero);
  __m256i dlo = _mm256_unpacklo_epi8(d, zero), dhi = _mm256_unpackhi_epi8(d, zero);
  __m256i rlo = _mm256_add_epi16(_mm256_mullo_epi16(_mm256_sub_epi16(slo, dlo), wlo), _mm256_slli_epi16(dlo, 8));
  __m256i rhi = _mm256_add_epi16(_mm256_mullo_epi16(_mm256_sub_epi16(shi, dhi), whi), _mm256_slli_epi16(dhi, 8));
  rlo = _mm256_srli_epi16(_mm256_add_epi16(rlo, bias), 8);
  rhi = _mm256_srli_epi16(_mm256_add_epi16(rhi, bias), 8);
  return _mm256_packus_epi16(rlo, rhi);
}

__attribute__((target("avx2"))) inline __m256i SpreadAlpha8(__m256i halfUnpacked) {
  return _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(halfUnpacked, 0xFF), 0xFF);
}

}  // namespace

__attribute__((target("avx2"))) void BlendSpanMMX_AVX2(const TColor32* Src, TColor32* Dst, int32_t Count) {
  const __m256i amask = _mm256_set1_epi32(static_cast<int32_t>(0xFF000000u));
  const __m256i zero = _mm256_setzero_si256();
  int32_t i = 0;
  for (; i + 8 <= Count; i += 8) {
    __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(Src + i));
    __m256i a = _mm256_and_si256(s, amask);
    __m256i opaque = _mm256_cmpeq_epi32(a, amask);
    if (_mm256_movemask_epi8(opaque) == -1) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(Dst + i), s);
      continue;
    }
    if (_mm256_movemask_epi8(_mm256_cmpeq_epi32(a, zero)) == -1) continue;
    __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(Dst + i));
    __m256i wlo = SpreadAlpha8(_mm256_unpacklo_epi8(s, zero));
    __m256i whi = SpreadAlpha8(_mm256_unpackhi_epi8(s, zero));
    __m256i r = _mm256_blendv_epi8(Mix8(s, d, wlo, whi), s, opaque);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(Dst + i), r);
  }
  for (; i < Count; ++i) M_BlendPixelInPlace(Src[i], Dst[i]);
}

__attribute__((target("avx2"))) void BlendSpanMasterMMX_AVX2(const TColor32* Src, TColor32* Dst, int32_t Count,
                                                             TColor32 M) {
  if (M > 255u) M = 255u;
  const __m256i m1 = _mm256_set1_epi16(static_cast<int16_t>(M + 1));
  const __m256i amask = _mm256_set1_epi32(static_cast<int32_t>(0xFF000000u));
  const __m256i zero = _mm256_setzero_si256();
  int32_t i = 0;
  for (; i + 8 <= Count; i += 8) {
    __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(Src + i));
    if (_mm256_movemask_epi8(_mm256_cmpeq_epi32(_mm256_and_si256(s, amask), zero)) == -1) continue;
    __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(Dst + i));
    __m256i wlo = _mm256_srli_epi16(_mm256_mullo_epi16(SpreadAlpha8(_mm256_unpacklo_epi8(s, zero)), m1), 8);
    __m256i whi = _mm256_srli_epi16(_mm256_mullo_epi16(SpreadAlpha8(_mm256_unpackhi_epi8(s, zero)), m1), 8);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(Dst + i), Mix8(s, d, wlo, whi));
  }
  for (; i < Count; ++i) M_BlendPixelMasterInPlace(Src[i], Dst[i], M);
}

namespace {

// x div 255 for 0 <= x < 65536 held in the low word of each 32-bit lane (high word 0).
__attribute__((target("avx2"))) inline __m256i Div255(__m256i x) {
  return _mm256_srli_epi16(_mm256_mulhi_epu16(x, _mm256_set1_epi16(static_cast<int16_t>(0x8081))), 7);
}

// One half (four pixels as 16-bit channel words) of the colour step of MergePixel:
// b' = (b * Ba) shr 8; v = (f * a + b' * (256 - a)) shr 8; channel = (v * scale) shr 8.
// The scale is kept below 65536 (only Ra = 1 reaches it, and then v is 0).
__attribute__((target("avx2"))) inline __m256i MergeHalf(__m256i fw, __m256i bw, __m256i aw, __m256i baw,
                                                         __m256i scw) {
  const __m256i naw = _mm256_sub_epi16(_mm256_set1_epi16(256), aw);
  __m256i bp = _mm256_srli_epi16(_mm256_mullo_epi16(bw, baw), 8);
  __m256i v = _mm256_srli_epi16(_mm256_add_epi16(_mm256_mullo_epi16(fw, aw), _mm256_mullo_epi16(bp, naw)), 8);
  return _mm256_and_si256(_mm256_mulhi_epu16(_mm256_slli_epi16(v, 8), scw), _mm256_set1_epi16(0xFF));
}

// The low word of each pixel's 32-bit lane copied to the four words of that pixel's channels,
// for the pixels unpacked by unpacklo_epi8 (Lo) and unpackhi_epi8 (Hi).
__attribute__((target("avx2"))) inline __m256i SpreadLo(__m256i v) {
  const __m256i k = _mm256_setr_epi8(0, 1, 0, 1, 0, 1, 0, 1, 4, 5, 4, 5, 4, 5, 4, 5, 0, 1, 0, 1, 0, 1, 0, 1, 4, 5, 4,
                                     5, 4, 5, 4, 5);
  return _mm256_shuffle_epi8(v, k);
}
__attribute__((target("avx2"))) inline __m256i SpreadHi(__m256i v) {
  const __m256i k = _mm256_setr_epi8(8, 9, 8, 9, 8, 9, 8, 9, 12, 13, 12, 13, 12, 13, 12, 13, 8, 9, 8, 9, 8, 9, 8, 9,
                                     12, 13, 12, 13, 12, 13, 12, 13);
  return _mm256_shuffle_epi8(v, k);
}

__attribute__((target("avx2"))) inline __m256i Load8(const TColor32* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
__attribute__((target("avx2"))) inline void Store8(TColor32* p, __m256i v) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

// MergePixel of eight pixels.
template <bool FullMaster>
__attribute__((target("avx2"))) inline __m256i Merge8(__m256i f, __m256i b, TColor32 M) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i c255 = _mm256_set1_epi32(255);
  const __m256i rgbMask = _mm256_set1_epi32(0x00FFFFFF);
  const __m256i fa = _mm256_srli_epi32(f, 24), ba = _mm256_srli_epi32(b, 24);
  // a = (Fa * M) div 255, which is Fa itself when M = 255.
  const __m256i a = FullMaster ? fa : Div255(_mm256_mullo_epi16(fa, _mm256_set1_epi32(static_cast<int32_t>(M))));
  const __m256i ra = _mm256_sub_epi32(_mm256_add_epi32(ba, a), Div255(_mm256_mullo_epi16(a, ba)));
  // 65536 div Ra: the single-precision quotient is never within rounding of the next
  // integer for Ra <= 255, so truncation gives the integer quotient. Ra = 0 (only with
  // Ba = 0, whose result is the foreground) saturates and is clamped like Ra = 1.
  __m256i sc = _mm256_cvttps_epi32(_mm256_div_ps(_mm256_set1_ps(65536.0f), _mm256_cvtepi32_ps(ra)));
  sc = _mm256_min_epu32(sc, _mm256_set1_epi32(65535));
  const __m256i lo = MergeHalf(_mm256_unpacklo_epi8(f, zero), _mm256_unpacklo_epi8(b, zero), SpreadLo(a),
                               SpreadLo(ba), SpreadLo(sc));
  const __m256i hi = MergeHalf(_mm256_unpackhi_epi8(f, zero), _mm256_unpackhi_epi8(b, zero), SpreadHi(a),
                               SpreadHi(ba), SpreadHi(sc));
  const __m256i merged =
      _mm256_or_si256(_mm256_and_si256(_mm256_packus_epi16(lo, hi), rgbMask), _mm256_slli_epi32(ra, 24));
  const __m256i fp = _mm256_or_si256(_mm256_and_si256(f, rgbMask), _mm256_slli_epi32(a, 24));
  __m256i r =
      _mm256_blendv_epi8(merged, fp, _mm256_or_si256(_mm256_cmpeq_epi32(a, c255), _mm256_cmpeq_epi32(ba, zero)));
  __m256i keepB = _mm256_cmpeq_epi32(fa, zero);
  // Fa = 255 with M = 255 gives a = 255, the foreground itself; with M = 0 the background.
  if (!FullMaster && M == 0) keepB = _mm256_or_si256(keepB, _mm256_cmpeq_epi32(fa, c255));
  return _mm256_blendv_epi8(r, b, keepB);
}

template <bool FullMaster>
__attribute__((target("avx2"))) inline void MergeSpanAVX2Body(const TColor32* F, const TColor32* B, TColor32* Dst,
                                                              int32_t Count, TColor32 M) {
  const __m256i alphaBits = _mm256_set1_epi32(int32_t(0xFF000000u));
  int32_t i = 0;
  // Whole blocks of opaque (at full master) or clear foregrounds are the common case in a page
  // of cached shapes: the result is then the foreground or the background itself. The test is
  // made per 32 pixels so that mixed alphas pay little for it.
  for (; i + 32 <= Count; i += 32) {
    const __m256i f0 = Load8(F + i), f1 = Load8(F + i + 8), f2 = Load8(F + i + 16), f3 = Load8(F + i + 24);
    if (FullMaster &&
        _mm256_testc_si256(_mm256_and_si256(_mm256_and_si256(f0, f1), _mm256_and_si256(f2, f3)), alphaBits)) {
      Store8(Dst + i, f0), Store8(Dst + i + 8, f1), Store8(Dst + i + 16, f2), Store8(Dst + i + 24, f3);
      continue;
    }
    if (_mm256_testz_si256(_mm256_or_si256(_mm256_or_si256(f0, f1), _mm256_or_si256(f2, f3)), alphaBits)) {
      if (Dst != B)
        for (int k = 0; k < 32; k += 8) Store8(Dst + i + k, Load8(B + i + k));
      continue;
    }
    Store8(Dst + i, Merge8<FullMaster>(f0, Load8(B + i), M));
    Store8(Dst + i + 8, Merge8<FullMaster>(f1, Load8(B + i + 8), M));
    Store8(Dst + i + 16, Merge8<FullMaster>(f2, Load8(B + i + 16), M));
    Store8(Dst + i + 24, Merge8<FullMaster>(f3, Load8(B + i + 24), M));
  }
  for (; i + 8 <= Count; i += 8) Store8(Dst + i, Merge8<FullMaster>(Load8(F + i), Load8(B + i), M));
  for (; i < Count; ++i) Dst[i] = MergePixel(F[i], B[i], M);
}

}  // namespace

__attribute__((target("avx2"))) void MergeSpanAVX2(const TColor32* F, const TColor32* B, TColor32* Dst,
                                                   int32_t Count, TColor32 M) {
  if (M > 255u) M = 255u;
  if (M == 255u)
    MergeSpanAVX2Body<true>(F, B, Dst, Count, M);
  else
    MergeSpanAVX2Body<false>(F, B, Dst, Count, M);
}

#else

bool Available() { return false; }
void MergeSpanAVX2(const TColor32* F, const TColor32* B, TColor32* Dst, int32_t Count, TColor32 M) {
  for (int32_t i = 0; i < Count; ++i) Dst[i] = MergePixel(F[i], B[i], M);
}
void BlendSpanMMX_SSE2(const TColor32*, TColor32*, int32_t) {}
void BlendSpanMasterMMX_SSE2(const TColor32*, TColor32*, int32_t, TColor32) {}
void BlendSpanMMX_AVX2(const TColor32*, TColor32*, int32_t) {}
void BlendSpanMasterMMX_AVX2(const TColor32*, TColor32*, int32_t, TColor32) {}

#endif

}  // namespace raster::blend_simd

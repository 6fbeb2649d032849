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

#else

bool Available() { return false; }
void BlendSpanMMX_SSE2(const TColor32*, TColor32*, int32_t) {}
void BlendSpanMasterMMX_SSE2(const TColor32*, TColor32*, int32_t, TColor32) {}
void BlendSpanMMX_AVX2(const TColor32*, TColor32*, int32_t) {}
void BlendSpanMasterMMX_AVX2(const TColor32*, TColor32*, int32_t, TColor32) {}

#endif

}  // namespace raster::blend_simd

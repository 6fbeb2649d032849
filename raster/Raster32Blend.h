// The 32-bit colour type and the per-pixel blending routines every drawing goes through.
//
// Callers use the free functions CombinePixel ... BlendSpanMaster; each forwards through one
// routine table. Two sets of routines exist and differ in rounding and in the alpha three of
// them produce: the portable set (background weight 255 - w, alpha 0 from the in-place and
// master variants) and the MMX set (background weight 256 - w, all four channels blended).
// The MMX set is the production set; InitBlendRoutines() also installs SIMD spans where the
// processor has them. The table starts out holding the scalar MMX set, so it is usable before
// any set-up runs. After a run of table calls callers call EMMS() (a no-op kept for symmetry).
#pragma once

#include <cstdint>
#include <vector>

namespace raster {

// Straight (not premultiplied) ARGB: alpha 24-31, red 16-23, green 8-15, blue 0-7.
using TColor32 = uint32_t;
using PColor32 = TColor32*;
using TArrayOfColor32 = std::vector<TColor32>;

using TCombinePixel = TColor32 (*)(TColor32 X, TColor32 Y, TColor32 W);
using TCombinePixelInPlace = void (*)(TColor32 X, TColor32& Y, TColor32 W);
using TBlendPixel = TColor32 (*)(TColor32 F, TColor32 B);
using TBlendPixelInPlace = void (*)(TColor32 F, TColor32& B);
using TBlendPixelMaster = TColor32 (*)(TColor32 F, TColor32 B, TColor32 M);
using TBlendPixelMasterInPlace = void (*)(TColor32 F, TColor32& B, TColor32 M);
using TBlendSpan = void (*)(const TColor32* Src, TColor32* Dst, int32_t Count);
using TBlendSpanMaster = void (*)(const TColor32* Src, TColor32* Dst, int32_t Count, TColor32 M);

// The dispatch table, in its fixed slot order.
struct TBlendRoutines {
  TCombinePixel CombinePixel;
  TCombinePixelInPlace CombinePixelInPlace;
  TBlendPixel BlendPixel;
  TBlendPixelInPlace BlendPixelInPlace;
  TBlendPixelMaster BlendPixelMaster;
  TBlendPixelMasterInPlace BlendPixelMasterInPlace;
  TBlendSpan BlendSpan;
  TBlendSpanMaster BlendSpanMaster;
};

enum class TBlendSet { Portable, MMX };

// The live table. Written only by InitBlendRoutines / SelectBlendSet.
extern TBlendRoutines BlendRoutines;
// True when the MMX set was chosen at set-up.
extern bool MMX_ACTIVE;

// Fills the table by HasMMX; idempotent.
void InitBlendRoutines();
void FinalizeBlendRoutines();
// Switches the live table to one set (tests); Accelerated installs the SIMD spans when the
// processor has them, otherwise the scalar reference routines of that set.
void SelectBlendSet(TBlendSet Set, bool Accelerated = true);
TBlendSet ActiveBlendSet();
// A set's routines without touching the live table (tests compare SIMD against scalar).
TBlendRoutines BlendRoutinesOf(TBlendSet Set, bool Accelerated);
// Name of the SIMD level in use for the spans ("avx2", "sse2" or "scalar").
const char* BlendSimdLevel();

inline TColor32 CombinePixel(TColor32 X, TColor32 Y, TColor32 W) { return BlendRoutines.CombinePixel(X, Y, W); }
inline void CombinePixelInPlace(TColor32 X, TColor32& Y, TColor32 W) { BlendRoutines.CombinePixelInPlace(X, Y, W); }
inline TColor32 BlendPixel(TColor32 F, TColor32 B) { return BlendRoutines.BlendPixel(F, B); }
inline void BlendPixelInPlace(TColor32 F, TColor32& B) { BlendRoutines.BlendPixelInPlace(F, B); }
inline TColor32 BlendPixelMaster(TColor32 F, TColor32 B, TColor32 M) { return BlendRoutines.BlendPixelMaster(F, B, M); }
inline void BlendPixelMasterInPlace(TColor32 F, TColor32& B, TColor32 M) {
  BlendRoutines.BlendPixelMasterInPlace(F, B, M);
}
inline void BlendSpan(const TColor32* Src, TColor32* Dst, int32_t Count) { BlendRoutines.BlendSpan(Src, Dst, Count); }
inline void BlendSpanMaster(const TColor32* Src, TColor32* Dst, int32_t Count, TColor32 M) {
  BlendRoutines.BlendSpanMaster(Src, Dst, Count, M);
}

// Would clear the processor's MMX state after MMX code; nothing to clear with SSE/AVX code.
inline void EMMS() {}

namespace blend_detail {
// 65536 div Ra for MergePixel; entry 0 unused.
struct TMergeScaleTable {
  uint32_t v[256];
  constexpr TMergeScaleTable() : v() {
    for (int i = 1; i < 256; ++i) v[i] = 65536u / static_cast<uint32_t>(i);
  }
};
inline constexpr TMergeScaleTable kMergeScale;
}  // namespace blend_detail

// Foreground over a translucent background; the result's alpha is the combined coverage.
// Inline: it runs once per pixel in the merge loops.
inline TColor32 MergePixel(TColor32 F, TColor32 B, TColor32 M) {
  // Computed without branches and then selected: with mixed alphas the shortcuts are
  // unpredictable. Two channels share a multiply where the products fit a 16-bit lane.
  if (M > 255u) M = 255u;
  uint32_t fa = F >> 24, ba = B >> 24;
  uint32_t a = (fa * M) / 255u;
  uint32_t ra = ba + a - (a * ba) / 255u;
  uint64_t scale = blend_detail::kMergeScale.v[ra & 255u];
  // b' = (b * Ba) shr 8 for red/blue and green.
  uint32_t bRB = (((B & 0x00FF00FFu) * ba) >> 8) & 0x00FF00FFu;
  uint32_t bG = (((B >> 8) & 0xFFu) * ba) >> 8;
  // Floor((f - b') * a / 256) + b' = (f * a + b' * (256 - a)) shr 8, all terms non-negative.
  uint32_t na = 256u - a;
  uint32_t vRB = ((((F & 0x00FF00FFu) * a) + bRB * na) >> 8) & 0x00FF00FFu;
  uint32_t vG = (((F >> 8) & 0xFFu) * a + bG * na) >> 8;
  // (v * scale) shr 8 needs 24 bits a channel: red and blue in two 32-bit lanes.
  uint64_t rb = ((static_cast<uint64_t>(vRB >> 16) << 32) | (vRB & 0xFFu)) * scale;
  uint32_t r8 = static_cast<uint32_t>(rb >> 40) & 0xFFu, b8 = static_cast<uint32_t>(rb >> 8) & 0xFFu;
  uint32_t g8 = static_cast<uint32_t>((vG * scale) >> 8) & 0xFFu;
  TColor32 merged = (ra << 24) | (r8 << 16) | (g8 << 8) | b8;
  TColor32 fp = (F & 0x00FFFFFFu) | (a << 24);
  TColor32 r = (a == 255u || ba == 0) ? fp : merged;
  r = fa == 0 ? B : r;
  r = (fa == 255u && M == 255u) ? F : r;
  r = (fa == 255u && M == 0) ? B : r;
  return r;
}

// Dst[i] := MergePixel(F[i], B[i], M) for i = 0..Count-1, eight pixels at a time where the
// processor allows; Dst may be F or B. Count <= 0 does nothing.
void MergeSpan(const TColor32* F, const TColor32* B, TColor32* Dst, int32_t Count, TColor32 M);
// The same, one pixel at a time (the reference the wide path is tested against).
void MergeSpanScalar(const TColor32* F, const TColor32* B, TColor32* Dst, int32_t Count, TColor32 M);

}  // namespace raster

#include "raster/Raster32Blend.h"

#include <algorithm>

#include "raster/Raster32BlendPriv.h"
#include "raster/Raster32System.h"

namespace raster {

using namespace blend_detail;

namespace blend_simd {
// Raster32Blend_Simd.cpp
void BlendSpanMMX_SSE2(const TColor32* Src, TColor32* Dst, int32_t Count);
void BlendSpanMasterMMX_SSE2(const TColor32* Src, TColor32* Dst, int32_t Count, TColor32 M);
void BlendSpanMMX_AVX2(const TColor32* Src, TColor32* Dst, int32_t Count);
void BlendSpanMasterMMX_AVX2(const TColor32* Src, TColor32* Dst, int32_t Count, TColor32 M);
void MergeSpanAVX2(const TColor32* F, const TColor32* B, TColor32* Dst, int32_t Count, TColor32 M);
bool Available();
}  // namespace blend_simd

namespace {

// ---- Portable set ----
TColor32 P_CombinePixel(TColor32 X, TColor32 Y, TColor32 W) {
  if ((W & 0xFFFFu) == 0) return Y;
  if (W == 255u) return X;
  return MixPortable(X, Y, W);
}
void P_CombinePixelInPlace(TColor32 X, TColor32& Y, TColor32 W) {
  if ((W & 0xFFFFu) == 0) return;
  if (W == 255u) {
    Y = X;
    return;
  }
  Y = MixPortable(X, Y, W) & 0x00FFFFFFu;
}
TColor32 P_BlendPixel(TColor32 F, TColor32 B) {
  if (F >= 0xFF000000u) return F;
  uint32_t a = F >> 24;
  if (a == 0) return B;
  return MixPortable(F, B, a);
}
void P_BlendPixelInPlace(TColor32 F, TColor32& B) {
  uint32_t a = F >> 24;
  if (a == 0) return;
  if (a == 255u) {
    B = F;
    return;
  }
  B = MixPortable(F, B, a);
}
TColor32 P_BlendPixelMaster(TColor32 F, TColor32 B, TColor32 M) {
  uint32_t a = F >> 24;
  uint32_t w = MasterWeight(a, M);
  if (a == 0 || w == 0) return B;
  return MixPortable(F, B, w) & 0x00FFFFFFu;
}
void P_BlendPixelMasterInPlace(TColor32 F, TColor32& B, TColor32 M) { B = P_BlendPixelMaster(F, B, M); }
void P_BlendSpan(const TColor32* Src, TColor32* Dst, int32_t Count) {
  for (int32_t i = 0; i < Count; ++i) P_BlendPixelInPlace(Src[i], Dst[i]);
}
void P_BlendSpanMaster(const TColor32* Src, TColor32* Dst, int32_t Count, TColor32 M) {
  for (int32_t i = 0; i < Count; ++i) P_BlendPixelMasterInPlace(Src[i], Dst[i], M);
}

// ---- MMX set, scalar ----
TColor32 MS_CombinePixel(TColor32 X, TColor32 Y, TColor32 W) { return M_CombinePixel(X, Y, W); }
void MS_CombinePixelInPlace(TColor32 X, TColor32& Y, TColor32 W) { M_CombinePixelInPlace(X, Y, W); }
TColor32 MS_BlendPixel(TColor32 F, TColor32 B) { return M_BlendPixel(F, B); }
void MS_BlendPixelInPlace(TColor32 F, TColor32& B) { M_BlendPixelInPlace(F, B); }
TColor32 MS_BlendPixelMaster(TColor32 F, TColor32 B, TColor32 M) { return M_BlendPixelMaster(F, B, M); }
void MS_BlendPixelMasterInPlace(TColor32 F, TColor32& B, TColor32 M) { M_BlendPixelMasterInPlace(F, B, M); }
void MS_BlendSpan(const TColor32* Src, TColor32* Dst, int32_t Count) {
  for (int32_t i = 0; i < Count; ++i) M_BlendPixelInPlace(Src[i], Dst[i]);
}
void MS_BlendSpanMaster(const TColor32* Src, TColor32* Dst, int32_t Count, TColor32 M) {
  for (int32_t i = 0; i < Count; ++i) M_BlendPixelMasterInPlace(Src[i], Dst[i], M);
}

constexpr TBlendRoutines kPortable = {P_CombinePixel,     P_CombinePixelInPlace,     P_BlendPixel, P_BlendPixelInPlace,
                                      P_BlendPixelMaster, P_BlendPixelMasterInPlace, P_BlendSpan,  P_BlendSpanMaster};
constexpr TBlendRoutines kMMXScalar = {MS_CombinePixel,     MS_CombinePixelInPlace,     MS_BlendPixel,
                                       MS_BlendPixelInPlace, MS_BlendPixelMaster,        MS_BlendPixelMasterInPlace,
                                       MS_BlendSpan,         MS_BlendSpanMaster};

TBlendSet gActiveSet = TBlendSet::MMX;
bool gInitialized = false;


}  // namespace

// Usable before set-up: the scalar MMX set is the production arithmetic.
TBlendRoutines BlendRoutines = kMMXScalar;
bool MMX_ACTIVE = true;

TBlendRoutines BlendRoutinesOf(TBlendSet Set, bool Accelerated) {
  if (Set == TBlendSet::Portable) return kPortable;
  TBlendRoutines r = kMMXScalar;
  if (Accelerated && blend_simd::Available()) {
    if (HasAVX2()) {
      r.BlendSpan = blend_simd::BlendSpanMMX_AVX2;
      r.BlendSpanMaster = blend_simd::BlendSpanMasterMMX_AVX2;
    } else if (HasSSE2()) {
      r.BlendSpan = blend_simd::BlendSpanMMX_SSE2;
      r.BlendSpanMaster = blend_simd::BlendSpanMasterMMX_SSE2;
    }
  }
  return r;
}

const char* BlendSimdLevel() {
  if (BlendRoutines.BlendSpan == blend_simd::BlendSpanMMX_AVX2) return "avx2";
  if (BlendRoutines.BlendSpan == blend_simd::BlendSpanMMX_SSE2) return "sse2";
  return "scalar";
}

void SelectBlendSet(TBlendSet Set, bool Accelerated) {
  BlendRoutines = BlendRoutinesOf(Set, Accelerated);
  gActiveSet = Set;
  MMX_ACTIVE = Set == TBlendSet::MMX;
}

TBlendSet ActiveBlendSet() { return gActiveSet; }

void InitBlendRoutines() {
  if (gInitialized) return;
  gInitialized = true;
  SelectBlendSet(HasMMX() ? TBlendSet::MMX : TBlendSet::Portable, true);
}

void FinalizeBlendRoutines() { gInitialized = false; }

void MergeSpanScalar(const TColor32* F, const TColor32* B, TColor32* Dst, int32_t Count, TColor32 M) {
  for (int32_t i = 0; i < Count; ++i) Dst[i] = MergePixel(F[i], B[i], M);
}

void MergeSpan(const TColor32* F, const TColor32* B, TColor32* Dst, int32_t Count, TColor32 M) {
  static const bool wide = blend_simd::Available() && HasAVX2();
  if (wide)
    blend_simd::MergeSpanAVX2(F, B, Dst, Count, M);
  else
    MergeSpanScalar(F, B, Dst, Count, M);
}

}  // namespace raster

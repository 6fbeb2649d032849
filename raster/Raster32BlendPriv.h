// Scalar blend arithmetic shared by the routine sets and their SIMD spans.
#pragma once

#include <cstdint>

#include "raster/Raster32Blend.h"

namespace raster::blend_detail {

// Portable arithmetic: each channel (c * w + 128) div 256, two channels per multiply.
inline uint32_t WeightPortable(uint32_t C, uint32_t W) {
  uint32_t p1 = ((((C & 0x00FF00FFu) * W) + 0x00800080u) & 0xFF00FF00u) >> 8;
  uint32_t p2 = ((((C & 0xFF00FF00u) >> 8) * W) + 0x00800080u) & 0xFF00FF00u;
  return p1 | p2;
}
inline uint32_t MixPortable(uint32_t X, uint32_t Y, uint32_t W) {
  return WeightPortable(X, W) + WeightPortable(Y, W ^ 255u);
}

// MMX arithmetic: each channel (x * w + y * (256 - w) + 128) div 256, w in 0..256.
inline uint32_t MixMMX(uint32_t X, uint32_t Y, uint32_t W) {
  uint32_t iw = 256u - W;
  uint32_t rb = ((((X & 0x00FF00FFu) * W) + ((Y & 0x00FF00FFu) * iw) + 0x00800080u) >> 8) & 0x00FF00FFu;
  uint32_t ag = ((((X >> 8) & 0x00FF00FFu) * W) + (((Y >> 8) & 0x00FF00FFu) * iw) + 0x00800080u) & 0xFF00FF00u;
  return rb | ag;
}

inline uint32_t MasterWeight(uint32_t Fa, uint32_t M) {
  if (M > 255u) M = 255u;
  return ((M + 1u) * Fa) >> 8;
}

// ---- MMX set, scalar reference ----
inline TColor32 M_CombinePixel(TColor32 X, TColor32 Y, TColor32 W) { return MixMMX(X, Y, W); }
inline void M_CombinePixelInPlace(TColor32 X, TColor32& Y, TColor32 W) {
  if ((W & 0xFFFFu) == 0) return;
  if (W == 255u) {
    Y = X;
    return;
  }
  Y = MixMMX(X, Y, W);
}
inline TColor32 M_BlendPixel(TColor32 F, TColor32 B) {
  if (F >= 0xFF000000u) return F;
  uint32_t a = F >> 24;
  if (a == 0) return B;
  return MixMMX(F, B, a);
}
inline void M_BlendPixelInPlace(TColor32 F, TColor32& B) { B = M_BlendPixel(F, B); }
inline TColor32 M_BlendPixelMaster(TColor32 F, TColor32 B, TColor32 M) {
  uint32_t w = MasterWeight(F >> 24, M);
  if (w == 0) return B;
  return MixMMX(F, B, w);
}
inline void M_BlendPixelMasterInPlace(TColor32 F, TColor32& B, TColor32 M) { B = M_BlendPixelMaster(F, B, M); }

}  // namespace raster::blend_detail

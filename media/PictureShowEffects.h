#pragma once
// Transition effects of the picture-show control: one procedure per row, each drawing one frame.

#include <cstdint>
#include <string>

#include "platform/Graphics.h"
#include "platform/Types.h"

namespace media {

using TEffectProc = void (*)(platform::TBitmap* Display, platform::TBitmap* Picture,
                             const platform::TRect& R, uint16_t Step, uint8_t Progress);

struct TEffect {
  const char* Name;
  TEffectProc Proc;  // nullptr: the effect is not available in this build
};

constexpr int32_t EffectCount = 150;

// Row i is Style i + 1.
const TEffect& Effects(int32_t Index);

// Seed of the random generator the shred and speckle effects share (the runtime's RandSeed).
void SetEffectRandSeed(uint32_t Seed);

// Uncovered sizes shared by the effects.
struct TEffectSizes {
  int32_t W, H, w, h, extra;
};
TEffectSizes EffectSizes(const platform::TRect& R, uint16_t Step, uint8_t Progress);

}  // namespace media

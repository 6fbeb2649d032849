// Word-array, clamping and shift routines shared by the raster code.
#pragma once

#include <cstdint>

#include "platform/Rounding.h"
#include "raster/Raster32Blend.h"

namespace raster {

// Count 32-bit words set to Value; Count < 1 does nothing.
void FillLongword(void* X, int32_t Count, uint32_t Value);
// Copies Count 32-bit words; overlapping ranges are handled (memmove); Count <= 0 does nothing.
void MoveLongword(const void* Source, void* Dest, int32_t Count);

template <typename T>
inline void Swap(T& A, T& B) {
  T t = A;
  A = B;
  B = t;
}
// Exchanges A and B when A > B.
inline void TestSwap(int32_t& A, int32_t& B) {
  if (A > B) Swap(A, B);
}
// Orders A <= B, then clamps them to 0 .. Size - 1; true when something is left (B >= A).
bool TestClip(int32_t& A, int32_t& B, int32_t Size);

inline int32_t Constrain(int32_t Value, int32_t Lo, int32_t Hi) {
  if (Lo > Value) return Lo;
  if (Hi < Value) return Hi;
  return Value;
}

// Arithmetic right shifts (floor division by a power of two, also for negative values).
inline int32_t SAR_4(int32_t Value) { return Value >> 4; }
inline int32_t SAR_8(int32_t Value) { return Value >> 8; }
inline int32_t SAR_9(int32_t Value) { return Value >> 9; }
inline int32_t SAR_12(int32_t Value) { return Value >> 12; }
inline int32_t SAR_13(int32_t Value) { return Value >> 13; }
inline int32_t SAR_16(int32_t Value) { return Value >> 16; }

// A * B / C with a 64-bit product, halves away from zero, -1 on overflow or C = 0.
using platform::MulDiv;

}  // namespace raster

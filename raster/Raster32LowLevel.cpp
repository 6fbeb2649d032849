#include "raster/Raster32LowLevel.h"

#include <cstring>
#include <cwchar>

namespace raster {

void FillLongword(void* X, int32_t Count, uint32_t Value) {
  if (Count < 1) return;
  uint32_t* p = static_cast<uint32_t*>(X);
  // Short runs in a loop; longer ones through the C library's wide fill (its widest stores,
  // string stores for large blocks), which the optimiser does not reach from a plain loop.
  if (Count < 16) {
    for (int32_t i = 0; i < Count; ++i) p[i] = Value;
    return;
  }
  static_assert(sizeof(wchar_t) == sizeof(uint32_t));
  std::wmemset(static_cast<wchar_t*>(X), static_cast<wchar_t>(Value), static_cast<size_t>(Count));
}

void MoveLongword(const void* Source, void* Dest, int32_t Count) {
  if (Count <= 0 || Source == Dest) return;
  std::memmove(Dest, Source, static_cast<size_t>(Count) * 4);
}

bool TestClip(int32_t& A, int32_t& B, int32_t Size) {
  TestSwap(A, B);
  if (A < 0) A = 0;
  if (B >= Size) B = Size - 1;
  return B >= A;
}

}  // namespace raster

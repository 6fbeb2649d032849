#include "raster/Raster32System.h"

namespace raster {

// CPUID is always present on x86-64 and MMX is part of its baseline; the check stays so a
// 32-bit build still follows the processor.
bool HasMMX() {
#if defined(__x86_64__) || defined(__i386__)
  return __builtin_cpu_supports("mmx");
#else
  return true;
#endif
}

bool HasSSE2() {
#if defined(__x86_64__) || defined(__i386__)
  return __builtin_cpu_supports("sse2");
#else
  return false;
#endif
}

bool HasAVX2() {
#if defined(__x86_64__) || defined(__i386__)
  return __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}

}  // namespace raster

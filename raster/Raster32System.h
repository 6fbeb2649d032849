// What the processor offers the blend routines. This is the only place that asks the CPU.
#pragma once

namespace raster {

// True when the processor runs the MMX-style 64-bit word arithmetic (always on x86-64; the
// same arithmetic is computed portably elsewhere, so it is true there as well).
bool HasMMX();
// SIMD levels the span fast paths may use.
bool HasSSE2();
bool HasAVX2();

}  // namespace raster

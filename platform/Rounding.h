// Rounding helpers with the rules stored and drawn values depend on. Never replace Round with a
// bare cast: many stored and drawn values depend on halves going to the even neighbour.
#pragma once

#include <cstdint>

namespace platform {

// Nearest integer, exact halves to the even neighbour; saturates outside int64.
int64_t Round(double x);
int64_t Round(long double x);
// Toward zero; saturates outside int64; NaN gives 0.
int64_t Trunc(double x);
int64_t Trunc(long double x);
// Toward minus / plus infinity, as 32-bit results; saturate outside int32; NaN gives 0.
int32_t Floor(long double x);
int32_t Ceil(long double x);
// a * b / c in 64 bits, rounded half away from zero; -1 when c is 0 or the result overflows.
int32_t MulDiv(int32_t a, int32_t b, int32_t c);

}  // namespace platform

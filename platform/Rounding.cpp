#include "platform/Rounding.h"

#include <cfenv>
#include <cmath>
#include <limits>

namespace platform {

namespace {

template <typename To, typename From>
To Saturate(From v) {
  if (std::isnan(v)) return 0;
  if (v >= static_cast<From>(std::numeric_limits<To>::max())) return std::numeric_limits<To>::max();
  if (v <= static_cast<From>(std::numeric_limits<To>::min())) return std::numeric_limits<To>::min();
  return static_cast<To>(v);
}

}  // namespace

int64_t Round(double x) { return Saturate<int64_t>(std::nearbyint(x)); }
int64_t Round(long double x) { return Saturate<int64_t>(std::nearbyintl(x)); }
int64_t Trunc(double x) { return Saturate<int64_t>(std::trunc(x)); }
int64_t Trunc(long double x) { return Saturate<int64_t>(std::truncl(x)); }
int32_t Floor(long double x) { return Saturate<int32_t>(std::floor(x)); }
int32_t Ceil(long double x) { return Saturate<int32_t>(std::ceil(x)); }

int32_t MulDiv(int32_t a, int32_t b, int32_t c) {
  if (c == 0) return -1;
  int64_t num = static_cast<int64_t>(a) * b;
  int64_t q = num / c;
  int64_t r = num % c;
  // Half away from zero: compare twice the remainder with the divisor.
  if (2 * (r < 0 ? -r : r) >= (c < 0 ? -static_cast<int64_t>(c) : c)) q += ((num < 0) != (c < 0)) ? -1 : 1;
  if (q > std::numeric_limits<int32_t>::max() || q < std::numeric_limits<int32_t>::min()) return -1;
  return static_cast<int32_t>(q);
}

}  // namespace platform

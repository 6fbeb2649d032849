// Helpers shared by the benchmark programs.
#pragma once

#include <algorithm>
#include <chrono>

namespace kdbench {

// The best of Reps wall-clock runs of F, in milliseconds: the figure least disturbed by load.
template <typename F>
double BestMs(F f, int Reps) {
  double best = 1e30;
  for (int rep = 0; rep < Reps; ++rep) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    const auto t1 = std::chrono::steady_clock::now();
    best = std::min(best, std::chrono::duration<double, std::milli>(t1 - t0).count());
  }
  return best;
}

}  // namespace kdbench

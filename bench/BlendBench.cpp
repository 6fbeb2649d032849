// BlendSpan and MergePixel over one 4K-wide row, against memcpy of the same bytes.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "raster/Raster32.h"
#include "raster/Raster32Blend.h"

using namespace raster;

namespace {

constexpr int kWidth = 4096;

struct Row {
  std::vector<TColor32> src, dst;
  explicit Row(int opaquePercent) : src(kWidth), dst(kWidth) {
    std::mt19937 rng(42);
    for (int i = 0; i < kWidth; ++i) {
      uint32_t a = static_cast<int>(rng() % 100) < opaquePercent ? 255 : rng() & 255;
      src[i] = (a << 24) | (rng() & 0xFFFFFF);
      dst[i] = rng();
    }
  }
};

void BM_Memcpy(benchmark::State& state) {
  Row r(0);
  for (auto _ : state) {
    std::memcpy(r.dst.data(), r.src.data(), kWidth * 4);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kWidth * 4);
}

void BM_BlendSpan(benchmark::State& state) {
  InitializeRaster32();
  Row r(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    BlendSpan(r.src.data(), r.dst.data(), kWidth);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kWidth * 4);
}

void BM_BlendSpanMaster(benchmark::State& state) {
  InitializeRaster32();
  Row r(0);
  for (auto _ : state) {
    BlendSpanMaster(r.src.data(), r.dst.data(), kWidth, 200);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kWidth * 4);
}

void BM_MergePixel(benchmark::State& state) {
  InitializeRaster32();
  Row r(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    TColor32* d = r.dst.data();
    const TColor32* s = r.src.data();
    for (int i = 0; i < kWidth; ++i) d[i] = MergePixel(s[i], d[i], 255);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kWidth * 4);
}

BENCHMARK(BM_Memcpy);
BENCHMARK(BM_BlendSpan)->Arg(0)->Arg(90);
BENCHMARK(BM_BlendSpanMaster);
BENCHMARK(BM_MergePixel)->Arg(0)->Arg(90);

// Best-of timing of one row operation, in nanoseconds.
template <typename F>
double BestNs(F f) {
  double best = 1e30;
  for (int rep = 0; rep < 200; ++rep) {
    auto t0 = std::chrono::steady_clock::now();
    for (int k = 0; k < 20; ++k) f();
    auto t1 = std::chrono::steady_clock::now();
    best = std::min(best, std::chrono::duration<double, std::nano>(t1 - t0).count() / 20);
  }
  return best;
}

void PrintRatios() {
  InitializeRaster32();
  Row random(0), mostlyOpaque(90);
  double mem = BestNs([&] {
    std::memcpy(random.dst.data(), random.src.data(), kWidth * 4);
    benchmark::ClobberMemory();
  });
  double span = BestNs([&] {
    BlendSpan(random.src.data(), random.dst.data(), kWidth);
    benchmark::ClobberMemory();
  });
  double span90 = BestNs([&] {
    BlendSpan(mostlyOpaque.src.data(), mostlyOpaque.dst.data(), kWidth);
    benchmark::ClobberMemory();
  });
  double merge = BestNs([&] {
    for (int i = 0; i < kWidth; ++i) random.dst[i] = MergePixel(random.src[i], random.dst[i], 255);
    benchmark::ClobberMemory();
  });
  std::printf("\nblend level: %s\n", BlendSimdLevel());
  std::printf("memcpy 4096 px:              %8.0f ns\n", mem);
  std::printf("BlendSpan random alpha:      %8.0f ns  ratio %.2f\n", span, span / mem);
  std::printf("BlendSpan 90%% opaque:        %8.0f ns  ratio %.2f\n", span90, span90 / mem);
  std::printf("MergePixel random alpha:     %8.0f ns  ratio %.2f\n", merge, merge / mem);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  PrintRatios();
  return 0;
}

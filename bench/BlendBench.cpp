// BlendSpan and MergePixel over one 4K-wide row, against memcpy of the same bytes; then
// MergeSpan against memcpy at L1, L2 and beyond-cache sizes.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "raster/Raster32.h"
#include "raster/Raster32Blend.h"

using namespace raster;

namespace {

constexpr int kWidth = 4096;

// Pixels on a 64-byte boundary. On this kind of processor memcpy runs about thirty times slower
// when the destination lies a few bytes past the source modulo 4 KB (the string-move path the
// library picks stalls on it); 16-byte aligned vectors can land there, and that is not memcpy's
// speed, so the buffers are placed on 64-byte boundaries.
template <typename T>
struct AlignedAlloc {
  using value_type = T;
  AlignedAlloc() = default;
  template <typename U>
  AlignedAlloc(const AlignedAlloc<U>&) {}
  T* allocate(size_t n) { return static_cast<T*>(std::aligned_alloc(64, (n * sizeof(T) + 63) / 64 * 64)); }
  void deallocate(T* p, size_t) { std::free(p); }
  bool operator==(const AlignedAlloc&) const { return true; }
};
using Pixels = std::vector<TColor32, AlignedAlloc<TColor32>>;

struct Row {
  Pixels src, dst;
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

void BM_MergeSpan(benchmark::State& state) {
  InitializeRaster32();
  Row r(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    MergeSpan(r.src.data(), r.dst.data(), r.dst.data(), kWidth, 255);
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
BENCHMARK(BM_MergeSpan)->Arg(0)->Arg(90);

// Best-of timing of one operation, in nanoseconds, over Reps runs of Inner calls each.
template <typename F>
double BestNs(F f, int Reps = 200, int Inner = 20) {
  double best = 1e30;
  for (int rep = 0; rep < Reps; ++rep) {
    auto t0 = std::chrono::steady_clock::now();
    for (int k = 0; k < Inner; ++k) f();
    auto t1 = std::chrono::steady_clock::now();
    best = std::min(best, std::chrono::duration<double, std::nano>(t1 - t0).count() / Inner);
  }
  return best;
}

// memcpy and the merges over buffers of one size: 16 KB sits in L1, 256 KB in L2, 64 MB is
// twice the last-level cache, so there memcpy shows the memory bandwidth. The cases are timed
// in alternation (best of many rounds), so load from other processes hits both alike.
void PrintMergeAgainstMemcpy(size_t Bytes) {
  const size_t n = Bytes / 4;
  Pixels src(n), dst(n), fore(n), back(n);
  std::mt19937 rng(5);
  for (size_t i = 0; i < n; ++i) {
    src[i] = rng();
    dst[i] = rng();
    fore[i] = rng();  // random alpha
    back[i] = rng();
  }
  const int inner = Bytes <= (1u << 20) ? 20 : 1;
  const int rounds = Bytes <= (1u << 20) ? 60 : 8;
  double mem = 1e30, span = 1e30, pixel = 1e30;
  for (int round = 0; round < rounds; ++round) {
    mem = std::min(mem, BestNs([&] {
                     std::memcpy(dst.data(), src.data(), Bytes);
                     benchmark::ClobberMemory();
                   }, 3, inner));
    span = std::min(span, BestNs([&] {
                      MergeSpan(fore.data(), back.data(), back.data(), static_cast<int32_t>(n), 255);
                      benchmark::ClobberMemory();
                    }, 3, inner));
    if (round % 4 == 0)
      pixel = std::min(pixel, BestNs([&] {
                         TColor32* d = back.data();
                         const TColor32* f = fore.data();
                         for (size_t i = 0; i < n; ++i) d[i] = MergePixel(f[i], d[i], 255);
                         benchmark::ClobberMemory();
                       }, 1, inner));
  }
  std::printf("%7zu KB  memcpy %10.0f ns (%5.1f GB/s)  MergeSpan %10.0f ns  ratio %5.2f   "
              "MergePixel loop %10.0f ns  ratio %5.2f\n",
              Bytes / 1024, mem, Bytes / mem, span, span / mem, pixel, pixel / mem);
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
  std::printf("\nblend level: %s\n", BlendSimdLevel());
  std::printf("memcpy 4096 px (16 KB, L1):  %8.0f ns\n", mem);
  std::printf("BlendSpan random alpha:      %8.0f ns  ratio %.2f\n", span, span / mem);
  std::printf("BlendSpan 90%% opaque:        %8.0f ns  ratio %.2f\n", span90, span90 / mem);
  {
    Pixels a(kWidth * 3);
    char* pa = reinterpret_cast<char*>(a.data());
    char* pb = pa + kWidth * 4 + 4096 + 16;
    double off = BestNs([&] {
      std::memcpy(pb, pa, kWidth * 4);
      benchmark::ClobberMemory();
    });
    std::printf("memcpy 16 KB, destination 16 bytes past the source modulo 4 KB (the old figure): %8.0f ns\n", off);
  }
  std::printf("\nMergePixel, random alpha, master 255, against memcpy of as many bytes:\n");
  for (size_t bytes : {size_t{16} << 10, size_t{256} << 10, size_t{64} << 20}) PrintMergeAgainstMemcpy(bytes);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  PrintRatios();
  return 0;
}

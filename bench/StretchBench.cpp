// Shrinking an A4 page rendered at 300 DPI (2480 x 3508) to screen size with sfLinear2,
// against Qt's smooth QImage::scaled of the same pixels.
#include <benchmark/benchmark.h>

#include "bench/BenchSupport.h"

#include <QImage>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>

#include "raster/Raster32.h"
#include "raster/Raster32Transforms.h"

using namespace raster;

namespace {

constexpr int kSrcW = 2480, kSrcH = 3508;
constexpr int kDstW = 794, kDstH = 1123;  // A4 at 96 DPI

void FillPage(TColor32* p) {
  std::mt19937 rng(1);
  for (int y = 0; y < kSrcH; ++y)
    for (int x = 0; x < kSrcW; ++x) p[y * kSrcW + x] = 0xFF000000u | ((x * 7 + y) & 0xFF) << 16 | (rng() & 0xFFFF);
}

struct Page {
  TBitmap32 src, dst;
  QImage image;
  Page() : image(kSrcW, kSrcH, QImage::Format_ARGB32) {
    src.SetSize(kSrcW, kSrcH);
    FillPage(src.Bits());
    dst.SetSize(kDstW, kDstH);
    for (int y = 0; y < kSrcH; ++y) std::memcpy(image.scanLine(y), src.ScanLine(y), kSrcW * 4);
  }
  void Ours(TStretchFilter f) {
    StretchTransfer(&dst, MakeRect(0, 0, kDstW, kDstH), &src, MakeRect(0, 0, kSrcW, kSrcH), f, dmOpaque);
  }
  QImage Qt() { return image.scaled(kDstW, kDstH, Qt::IgnoreAspectRatio, Qt::SmoothTransformation); }
};

Page& ThePage() {
  static Page p;
  return p;
}

void BM_StretchLinear2(benchmark::State& state) {
  Page& p = ThePage();
  for (auto _ : state) p.Ours(sfLinear2);
}
void BM_StretchSpline(benchmark::State& state) {
  Page& p = ThePage();
  for (auto _ : state) p.Ours(sfSpline);
}
void BM_StretchLinear(benchmark::State& state) {
  Page& p = ThePage();
  for (auto _ : state) p.Ours(sfLinear);
}
void BM_QtSmoothScaled(benchmark::State& state) {
  Page& p = ThePage();
  for (auto _ : state) benchmark::DoNotOptimize(p.Qt());
}

BENCHMARK(BM_StretchLinear2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StretchSpline)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StretchLinear)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QtSmoothScaled)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  Page& p = ThePage();
  double ours = kdbench::BestMs([&] { p.Ours(sfLinear2); }, 8);
  double qt = kdbench::BestMs([&] { benchmark::DoNotOptimize(p.Qt()); }, 8);
  std::printf("\nsfLinear2 %dx%d -> %dx%d: %.1f ms, Qt smooth: %.1f ms, ratio %.2f\n", kSrcW, kSrcH, kDstW, kDstH,
              ours, qt, ours / qt);
  return 0;
}

// Shape rendering and compressor throughput.
//  - An A4 page at 300 DPI with 500 shapes (some rotated, some half transparent, some with
//    children): a cold render, and a render after one shape changed (cached buffers reused),
//    beside cairo drawing the same shapes onto one A4 300 DPI surface; then the three at 50,
//    500 and 5,000 shapes. Peak resident memory is reported as a counter.
//  - The engine's compressor against zlib level 6 on the same bitmap bytes: time and size.
//  KD_BENCH_NO_RATIOS=1 leaves out the ratio rounds; KD_PROFILE_COLD=N does nothing but N cold
//  renders of the 500-shape page (for perf or callgrind).
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <zlib.h>

#include <cairo.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "document/Compressors.h"
#include "document/dtpPage.h"
#include "raster/Raster32Transforms.h"

using namespace document;

namespace {

class TBenchHost : public IdtpDocumentHost {
 public:
  float RenderDpm() const override { return 300 / 25.4f; }
  TdtpViewStyleType ViewStyle() const override { return vsPrintLayout; }
};

class TBenchShape : public TdtpShape {
 public:
  void PaintShape(TBitmap32* B) override {
    B->FillRectClipped(ScreenLeft(), ScreenTop(), ScreenRight(), ScreenBottom(), Fill);
    const int m = LocalXToScreen(DocWidth() / 2);
    B->FillRectClipped(ScreenLeft(), ScreenTop(), m, LocalYToScreen(DocHeight() / 3), 0xFF202020u);
  }
  TColor32 Fill = 0xFF3070C0u;
};

double PeakMiB() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss / 1024.0;
}

// Shape I of a page of N: a 14 x 9 mm tile on a grid of 20 by 25 (later hundreds shifted a
// little so they stay on the page), every third rotated, every fourth at alpha 160, every
// tenth with two 5 mm children.
struct TileSpec {
  float left, top, angle;
  int alpha;
  bool children;
  TColor32 fill;
};
TileSpec Tile(int i) {
  TileSpec t;
  t.fill = raster::Color32((i * 37) & 255, (i * 91) & 255, (i * 53) & 255);
  t.left = 5 + float(i % 20) * 10 + float(i / 500) * 0.37f;
  t.top = 5 + float((i / 20) % 25) * 11.5f + float(i / 500) * 0.29f;
  t.angle = i % 3 == 0 ? float(i * 7 % 360) : 0;
  t.alpha = i % 4 == 0 ? 160 : 255;
  t.children = i % 10 == 0;
  return t;
}

struct BenchPage {
  TBenchHost host;
  std::unique_ptr<TdtpPage> page;
  TdtpShape* first = nullptr;
  explicit BenchPage(int n = 500) {
    InitializeDtpShape();
    page = NewShape<TdtpPage>();
    page->SetDocument(&host);
    for (int i = 0; i < n; ++i) {
      const TileSpec t = Tile(i);
      auto s = NewShape<TBenchShape>();
      TBenchShape* raw = s.get();
      raw->Fill = t.fill;
      page->AddShape(std::move(s));
      if (!first) first = raw;
      raw->SetDocBounds(t.left, t.top, 14, 9);
      if (t.angle != 0) raw->SetDocAngle(t.angle);
      if (t.alpha != 255) raw->SetMasterAlpha(t.alpha);
      if (t.children) {
        for (int k = 0; k < 2; ++k) {
          auto c = NewShape<TBenchShape>();
          TBenchShape* cr = c.get();
          raw->AddShape(std::move(c));
          cr->SetDocBounds(1 + k * 6.0f, 1, 5, 5);
        }
      }
    }
  }
};

// The same tiles drawn by cairo onto one A4 surface at 300 DPI: a white page, each tile's fill
// and dark corner (rotated about its centre), translucent tiles composed in a group first.
struct CairoPage {
  static constexpr double kDpm = 300 / 25.4;
  cairo_surface_t* surface;
  cairo_t* cr;
  int n;
  explicit CairoPage(int N) : n(N) {
    surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, int(210 * kDpm + 0.5), int(297 * kDpm + 0.5));
    cr = cairo_create(surface);
  }
  ~CairoPage() {
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
  }
  static void SetColor(cairo_t* cr, TColor32 c) {
    cairo_set_source_rgb(cr, raster::RedComponent(c) / 255.0, raster::GreenComponent(c) / 255.0,
                         raster::BlueComponent(c) / 255.0);
  }
  static void Box(cairo_t* cr, double x, double y, double w, double h, TColor32 fill) {
    SetColor(cr, fill);
    cairo_rectangle(cr, x, y, w, h);
    cairo_fill(cr);
    SetColor(cr, 0xFF202020u);
    cairo_rectangle(cr, x, y, w / 2, h / 3);
    cairo_fill(cr);
  }
  void Render() {
    cairo_identity_matrix(cr);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_scale(cr, kDpm, kDpm);
    for (int i = 0; i < n; ++i) {
      const TileSpec t = Tile(i);
      cairo_save(cr);
      cairo_translate(cr, t.left + 7, t.top + 4.5);
      cairo_rotate(cr, t.angle * M_PI / 180);
      cairo_translate(cr, -7, -4.5);
      if (t.alpha != 255) {
        // The group covers only the tile (unclipped, cairo would compose a whole page each time).
        cairo_rectangle(cr, 0, 0, 14, 9);
        cairo_clip(cr);
        cairo_push_group(cr);
      }
      Box(cr, 0, 0, 14, 9, t.fill);
      if (t.children)
        for (int k = 0; k < 2; ++k) Box(cr, 1 + k * 6.0, 1, 5, 5, 0xFF3070C0u);
      if (t.alpha != 255) {
        cairo_pop_group_to_source(cr);
        cairo_paint_with_alpha(cr, t.alpha / 255.0);
      }
      cairo_restore(cr);
    }
    cairo_surface_flush(surface);
  }
};

void BM_RenderA4Cold(benchmark::State& state) {
  BenchPage b(int(state.range(0)));
  for (auto _ : state) {
    b.page->FreeBuffersAll();
    b.page->UpdateBuffer();
    benchmark::DoNotOptimize(b.page->Buffer()->Bits());
  }
  state.counters["pixels"] = double(b.page->Buffer()->Width()) * b.page->Buffer()->Height();
  state.counters["peak_MiB"] = PeakMiB();
}
BENCHMARK(BM_RenderA4Cold)->Unit(benchmark::kMillisecond)->Iterations(3)->Arg(500);

void BM_RenderA4OneShapeChanged(benchmark::State& state) {
  BenchPage b(int(state.range(0)));
  b.page->UpdateBuffer();
  float left = b.first->DocLeft();
  for (auto _ : state) {
    left = left == 5 ? 6 : 5;
    b.first->SetDocLeft(left);
    b.page->UpdateBuffer();
    benchmark::DoNotOptimize(b.page->Buffer()->Bits());
  }
  state.counters["peak_MiB"] = PeakMiB();
}
BENCHMARK(BM_RenderA4OneShapeChanged)->Unit(benchmark::kMillisecond)->Iterations(5)->Arg(500);

void BM_RenderA4Cairo(benchmark::State& state) {
  CairoPage c(int(state.range(0)));
  for (auto _ : state) {
    c.Render();
    benchmark::DoNotOptimize(cairo_image_surface_get_data(c.surface));
  }
}
BENCHMARK(BM_RenderA4Cairo)->Unit(benchmark::kMillisecond)->Iterations(3)->Arg(500);

// Ours cold, ours with one shape changed, and cairo, for N shapes, timed in alternating rounds
// (best of each) so that load from other processes falls on all alike.
void PrintPageRatios(int n, int rounds) {
  BenchPage b(n);
  CairoPage c(n);
  auto ms = [](auto f) {
    auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  };
  double cold = 1e30, changed = 1e30, cairo = 1e30;
  float left = b.first->DocLeft();
  for (int r = 0; r < rounds; ++r) {
    cold = std::min(cold, ms([&] {
                      b.page->FreeBuffersAll();
                      b.page->UpdateBuffer();
                    }));
    changed = std::min(changed, ms([&] {
                         left = left == 5 ? 6 : 5;
                         b.first->SetDocLeft(left);
                         b.page->UpdateBuffer();
                       }));
    cairo = std::min(cairo, ms([&] { c.Render(); }));
  }
  std::printf("%5d shapes: cold %7.1f ms  one changed %6.1f ms (%.2f of cold)  cairo %7.1f ms  cold / cairo %.2f\n",
              n, cold, changed, changed / cold, cairo, cold / cairo);
}
// The bytes of a rendered page, as stored pages hold background bitmaps.
const std::vector<uint8_t>& PageBytes() {
  static const std::vector<uint8_t> bytes = [] {
    BenchPage b;
    b.page->UpdateBuffer();
    const TBitmap32* buf = b.page->Buffer();
    const auto* p = reinterpret_cast<const uint8_t*>(buf->Bits());
    const size_t n = size_t(buf->Width()) * buf->Height() * 4;
    std::vector<uint8_t> v(p, p + n);
    SplitPlanes(v.data(), v.data(), int32_t(v.size()), 4);
    return v;
  }();
  return bytes;
}

void BM_CompressorVsZlib6(benchmark::State& state) {
  const auto& src = PageBytes();
  double ours = 0, zlib = 0;
  size_t ourSize = 0, zSize = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    const auto packed = CompressChain(src.data(), int32_t(src.size()));
    auto t1 = std::chrono::steady_clock::now();
    uLongf zlen = compressBound(uLong(src.size()));
    std::vector<uint8_t> z(zlen);
    compress2(z.data(), &zlen, src.data(), uLong(src.size()), 6);
    auto t2 = std::chrono::steady_clock::now();
    ours += std::chrono::duration<double>(t1 - t0).count();
    zlib += std::chrono::duration<double>(t2 - t1).count();
    ourSize = packed.size();
    zSize = zlen;
  }
  state.counters["bytes"] = double(src.size());
  state.counters["ours_MBps"] = src.size() * state.iterations() / ours / 1e6;
  state.counters["zlib6_MBps"] = src.size() * state.iterations() / zlib / 1e6;
  state.counters["time_ratio"] = ours / zlib;
  state.counters["size_ratio"] = double(ourSize) / double(zSize);
}
BENCHMARK(BM_CompressorVsZlib6)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_DecompressChain(benchmark::State& state) {
  const auto& src = PageBytes();
  const auto packed = CompressChain(src.data(), int32_t(src.size()));
  std::vector<uint8_t> out(src.size());
  for (auto _ : state) {
    DecompressChain(packed.data(), int32_t(packed.size()), out.data(), int32_t(out.size()));
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(int64_t(src.size()) * state.iterations());
}
BENCHMARK(BM_DecompressChain)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  // KD_PROFILE_COLD=N: only N cold renders of the 500-shape page, for a profiler.
  if (const char* n = std::getenv("KD_PROFILE_COLD")) {
    BenchPage b;
    for (int i = std::atoi(n); i > 0; --i) {
      b.page->FreeBuffersAll();
      b.page->UpdateBuffer();
    }
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (std::getenv("KD_BENCH_NO_RATIOS")) return 0;  // profiling one case alone
  std::printf("\nA4 page at 300 DPI (best of alternating rounds; transform rows: %s):\n", raster::TransformSimdLevel());
  PrintPageRatios(50, 8);
  PrintPageRatios(500, 6);
  PrintPageRatios(5000, 3);
  return 0;
}

// Shape rendering and compressor throughput.
//  - An A4 page at 300 DPI with 500 shapes (some rotated, some half transparent, some with
//    children): a cold render, and a render after one shape changed (cached buffers reused).
//    Peak resident memory is reported as a counter.
//  - The engine's compressor against zlib level 6 on the same bitmap bytes: time and size.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <zlib.h>

#include <chrono>
#include <vector>

#include "document/Compressors.h"
#include "document/dtpPage.h"

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

struct BenchPage {
  TBenchHost host;
  std::unique_ptr<TdtpPage> page;
  TdtpShape* first = nullptr;
  BenchPage() {
    InitializeDtpShape();
    page = NewShape<TdtpPage>();
    page->SetDocument(&host);
    for (int i = 0; i < 500; ++i) {
      auto s = NewShape<TBenchShape>();
      TBenchShape* raw = s.get();
      raw->Fill = raster::Color32((i * 37) & 255, (i * 91) & 255, (i * 53) & 255);
      page->AddShape(std::move(s));
      if (!first) first = raw;
      raw->SetDocBounds(5 + float(i % 20) * 10, 5 + float(i / 20) * 11.5f, 14, 9);
      if (i % 3 == 0) raw->SetDocAngle(float(i * 7 % 360));
      if (i % 4 == 0) raw->SetMasterAlpha(160);
      if (i % 10 == 0) {
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

void BM_RenderA4Cold(benchmark::State& state) {
  BenchPage b;
  for (auto _ : state) {
    b.page->FreeBuffersAll();
    b.page->UpdateBuffer();
    benchmark::DoNotOptimize(b.page->Buffer()->Bits());
  }
  state.counters["pixels"] = double(b.page->Buffer()->Width()) * b.page->Buffer()->Height();
  state.counters["peak_MiB"] = PeakMiB();
}
BENCHMARK(BM_RenderA4Cold)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_RenderA4OneShapeChanged(benchmark::State& state) {
  BenchPage b;
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
BENCHMARK(BM_RenderA4OneShapeChanged)->Unit(benchmark::kMillisecond)->Iterations(5);

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

BENCHMARK_MAIN();

// PNG decoding and encoding of a 1024 x 768 RGBA image: our codec beside Qt's (libpng) on the
// same bytes.
#include <benchmark/benchmark.h>

#include <QByteArray>
#include <QImage>
#include <random>
#include <vector>

#include "platform/Classes.h"
#include "raster/PngGraphic.h"
#include "raster/Raster32.h"
#include "raster/dtpRasterPNG.h"

namespace {

const std::vector<uint8_t>& Sample() {
  static const std::vector<uint8_t> bytes = [] {
    raster::TBitmap32 b;
    b.SetSize(1024, 768);
    std::mt19937 rng(1);
    for (int y = 0; y < 768; ++y)
      for (int x = 0; x < 1024; ++x)
        b.SetPixel(x, y, (uint32_t(200 + rng() % 56) << 24) | uint32_t(x * 255 / 1023) << 16 | uint32_t(y / 3) << 8 | (rng() % 16));
    platform::TMemoryStream s;
    raster::TdtpPngFormat().SaveToStream(&s, &b);
    std::vector<uint8_t> v(static_cast<size_t>(s.GetSize()));
    s.SetPosition(0);
    s.ReadBuffer(v.data(), static_cast<int32_t>(v.size()));
    return v;
  }();
  return bytes;
}

void BM_DecodeOurs(benchmark::State& state) {
  const auto& bytes = Sample();
  for (auto _ : state) {
    platform::TMemoryStream s;
    s.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
    s.SetPosition(0);
    raster::TPngGraphic png;
    png.LoadFromStream(&s);
    benchmark::DoNotOptimize(png.Scanline(0));
  }
  state.SetItemsProcessed(state.iterations() * 1024 * 768);
}

void BM_DecodeQt(benchmark::State& state) {
  const auto& bytes = Sample();
  QByteArray data(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
  for (auto _ : state) {
    QImage img = QImage::fromData(data, "PNG");
    benchmark::DoNotOptimize(img.constBits());
  }
  state.SetItemsProcessed(state.iterations() * 1024 * 768);
}

void BM_EncodeOurs(benchmark::State& state) {
  const auto& bytes = Sample();
  platform::TMemoryStream in;
  in.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  in.SetPosition(0);
  raster::TPngGraphic png;
  png.LoadFromStream(&in);
  png.CompressionLevel = static_cast<int32_t>(state.range(0));
  for (auto _ : state) {
    platform::TMemoryStream out;
    png.SaveToStream(&out);
    benchmark::DoNotOptimize(out.GetSize());
  }
  state.SetItemsProcessed(state.iterations() * 1024 * 768);
}

}  // namespace

BENCHMARK(BM_DecodeOurs);
BENCHMARK(BM_DecodeQt);
BENCHMARK(BM_EncodeOurs)->Arg(6)->Arg(9);
BENCHMARK_MAIN();

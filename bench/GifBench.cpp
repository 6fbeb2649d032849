// GIF decoding and encoding of an 8-frame 1024 x 768 animation of 256 colours: our coder
// beside giflib on the same bytes and the same pixel indices.
#include <benchmark/benchmark.h>
#include <gif_lib.h>

#include <cstring>
#include <random>
#include <vector>

#include "platform/Classes.h"
#include "raster/GifGraphic.h"

namespace {

constexpr int W = 1024, H = 768, Frames = 8;

// Gradients with noisy patches that move from frame to frame: long runs and short ones.
const std::vector<std::vector<uint8_t>>& Indices() {
  static const std::vector<std::vector<uint8_t>> frames = [] {
    std::vector<std::vector<uint8_t>> v(Frames, std::vector<uint8_t>(size_t(W) * H));
    std::mt19937 rng(3);
    for (int f = 0; f < Frames; ++f)
      for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
          const bool noisy = ((x + f * 40) / 128 + y / 96) % 3 == 0;
          v[f][size_t(y) * W + x] = static_cast<uint8_t>(noisy ? rng() % 256 : (x / 4 + y / 8 + f) % 256);
        }
    return v;
  }();
  return frames;
}

void Fill(raster::TGifGraphic& g) {
  for (int c = 0; c < 256; ++c) g.GlobalColorMap().Add(platform::RGB(c, 255 - c, (c * 5) & 0xFF));
  for (int f = 0; f < Frames; ++f) {
    raster::TGIFSubImage* s = g.Add();
    s->SetBounds(0, 0, W, H);
    s->Data = Indices()[f];
    auto gce = std::make_unique<raster::TGIFGraphicControlExtension>(s);
    gce->SetDelay(10);
    s->AddExtension(std::move(gce));
  }
}

std::vector<uint8_t> OursEncoded(raster::TGIFCompression c = raster::gcLZW) {
  raster::TGifGraphic g;
  g.Compression = c;
  Fill(g);
  platform::TMemoryStream s;
  g.SaveToStream(&s);
  std::vector<uint8_t> b(static_cast<size_t>(s.GetSize()));
  s.SetPosition(0);
  s.ReadBuffer(b.data(), static_cast<int32_t>(b.size()));
  return b;
}

const std::vector<uint8_t>& Sample() {
  static const std::vector<uint8_t> b = OursEncoded();
  return b;
}

struct Reader {
  const std::vector<uint8_t>* Bytes;
  size_t Pos = 0;
};

int ReadMem(GifFileType* g, GifByteType* buf, int n) {
  auto* r = static_cast<Reader*>(g->UserData);
  const size_t k = std::min<size_t>(n, r->Bytes->size() - r->Pos);
  std::memcpy(buf, r->Bytes->data() + r->Pos, k);
  r->Pos += k;
  return static_cast<int>(k);
}

int WriteMem(GifFileType* g, const GifByteType* buf, int n) {
  static_cast<std::vector<uint8_t>*>(g->UserData)->insert(static_cast<std::vector<uint8_t>*>(g->UserData)->end(), buf,
                                                          buf + n);
  return n;
}

void BM_DecodeOurs(benchmark::State& state) {
  const auto& bytes = Sample();
  for (auto _ : state) {
    platform::TMemoryStream s;
    s.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
    s.SetPosition(0);
    raster::TGifGraphic g;
    g.LoadFromStream(&s);
    if (g.Images(Frames - 1)->Data != Indices()[Frames - 1]) state.SkipWithError("decoded pixels differ");
    benchmark::DoNotOptimize(g.Count());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * W * H * Frames);
}

void BM_DecodeGiflib(benchmark::State& state) {
  const auto& bytes = Sample();
  for (auto _ : state) {
    Reader r{&bytes};
    int err = 0;
    GifFileType* g = DGifOpen(&r, ReadMem, &err);
    if (!g || DGifSlurp(g) != GIF_OK) {
      state.SkipWithError("giflib failed");
      break;
    }
    if (std::memcmp(g->SavedImages[Frames - 1].RasterBits, Indices()[Frames - 1].data(), size_t(W) * H) != 0)
      state.SkipWithError("giflib pixels differ");
    DGifCloseFile(g, &err);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * W * H * Frames);
}

void BM_EncodeOurs(benchmark::State& state) {
  const auto c = static_cast<raster::TGIFCompression>(state.range(0));
  raster::TGifGraphic g;
  g.Compression = c;
  Fill(g);
  size_t size = 0;
  for (auto _ : state) {
    platform::TMemoryStream s;
    g.SaveToStream(&s);
    size = static_cast<size_t>(s.GetSize());
  }
  state.counters["bytes"] = static_cast<double>(size);
  state.SetBytesProcessed(int64_t(state.iterations()) * W * H * Frames);
}

void BM_EncodeGiflib(benchmark::State& state) {
  std::vector<GifColorType> colors(256);
  for (int c = 0; c < 256; ++c) colors[c] = {static_cast<GifByteType>(c), static_cast<GifByteType>(255 - c),
                                             static_cast<GifByteType>((c * 5) & 0xFF)};
  size_t size = 0;
  for (auto _ : state) {
    std::vector<uint8_t> out;
    int err = 0;
    GifFileType* g = EGifOpen(&out, WriteMem, &err);
    ColorMapObject* map = GifMakeMapObject(256, colors.data());
    EGifSetGifVersion(g, true);
    EGifPutScreenDesc(g, W, H, 8, 0, map);
    for (int f = 0; f < Frames; ++f) {
      GraphicsControlBlock gcb{};
      gcb.DelayTime = 10;
      gcb.TransparentColor = NO_TRANSPARENT_COLOR;
      GifByteType ext[4];
      const size_t n = EGifGCBToExtension(&gcb, ext);
      EGifPutExtension(g, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(n), ext);
      EGifPutImageDesc(g, 0, 0, W, H, false, nullptr);
      for (int y = 0; y < H; ++y)
        EGifPutLine(g, const_cast<GifPixelType*>(Indices()[f].data() + size_t(y) * W), W);
    }
    EGifCloseFile(g, &err);
    GifFreeMapObject(map);
    size = out.size();
  }
  state.counters["bytes"] = static_cast<double>(size);
  state.SetBytesProcessed(int64_t(state.iterations()) * W * H * Frames);
}

// One frame of a 1280 x 1024 animation composed and painted by the painter (full-screen
// transparent frames over a frame buffer, restore-to-background disposal).
struct TManualClock : raster::TGIFClock {
  int64_t Now() override { return 0; }
  void Sleep(int32_t) override {}
  void Schedule(raster::TGIFPainter*, int32_t) override {}
  void Cancel(raster::TGIFPainter*) override {}
};

void BM_PaintFrame(benchmark::State& state) {
  TManualClock clock;
  raster::SetGIFClock(&clock);
  raster::TGifGraphic g;
  for (int c = 0; c < 256; ++c) g.GlobalColorMap().Add(platform::RGB(c, 255 - c, (c * 5) & 0xFF));
  std::mt19937 rng(9);
  for (int f = 0; f < 2; ++f) {
    raster::TGIFSubImage* s = g.Add();
    s->SetBounds(0, 0, 1280, 1024);
    for (uint8_t& p : s->Data) p = static_cast<uint8_t>(rng() % 4 == 0 ? 0 : rng() % 256);
    auto gce = std::make_unique<raster::TGIFGraphicControlExtension>(s);
    gce->SetDelay(10);
    gce->SetDisposal(2);
    gce->SetTransparentColorIndex(0);
    gce->SetTransparent(true);
    s->AddExtension(std::move(gce));
  }
  g.Images(0)->AddExtension(std::make_unique<raster::TGIFAppExtNSLoop>(g.Images(0)));
  g.DrawOptions |= raster::goDirectDraw;
  platform::TBitmap canvas;
  canvas.SetPixelFormat(platform::pf24bit);
  canvas.SetSize(1280, 1024);
  g.Draw(canvas.Canvas(), platform::Rect(0, 0, 1280, 1024));
  raster::TGIFPainter* p = g.Painter();
  for (auto _ : state) {
    if (!p) {
      state.SkipWithError("no painter");
      break;
    }
    p->Tick();
  }
  g.StopDraw();
  raster::SetGIFClock(nullptr);
}

}  // namespace

BENCHMARK(BM_PaintFrame)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeOurs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeGiflib)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeOurs)->Arg(raster::gcLZW)->Arg(raster::gcRLE)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeGiflib)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();

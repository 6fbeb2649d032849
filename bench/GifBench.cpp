// GIF decoding and encoding of an 8-frame 1024 x 768 animation of 256 colours: our coder
// beside giflib on the same bytes and the same pixel indices; colour reduction beside
// libimagequant and ImageMagick; one animation frame painted.
#include <benchmark/benchmark.h>
#include <gif_lib.h>
#include <libimagequant.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>

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

// Colour reduction of a photograph-like 1024 x 768 picture (gradients, soft shapes, noise) to
// 256 colours: time, and PSNR of the result against the picture.
constexpr int PW = 1024, PH = 768;

const std::vector<uint32_t>& Photo() {
  static const std::vector<uint32_t> px = [] {
    std::vector<uint32_t> v(size_t(PW) * PH);
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0, 6);
    for (int y = 0; y < PH; ++y)
      for (int x = 0; x < PW; ++x) {
        const double dx = x - 600.0, dy = y - 300.0;
        const double blob = std::exp(-(dx * dx + dy * dy) / 40000.0);
        auto ch = [&](double v) { return static_cast<uint32_t>(std::clamp(v + noise(rng), 0.0, 255.0)); };
        const uint32_t r = ch(40 + 180.0 * x / PW + 30 * blob), g = ch(90 + 120.0 * y / PH + 100 * blob),
                       b = ch(200 - 150.0 * x / PW * y / PH);
        v[size_t(y) * PW + x] = 0xFF000000u | r << 16 | g << 8 | b;
      }
    return v;
  }();
  return px;
}

double Psnr(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  double se = 0;
  for (size_t i = 0; i < a.size(); ++i)
    for (int s = 0; s < 24; s += 8) {
      const double d = double((a[i] >> s) & 0xFF) - double((b[i] >> s) & 0xFF);
      se += d * d;
    }
  const double mse = se / (a.size() * 3.0);
  return 10 * std::log10(255.0 * 255.0 / mse);
}

void BM_ReduceOurs(benchmark::State& state) {
  const auto& px = Photo();
  const auto method = static_cast<raster::TColorReduction>(state.range(0));
  const auto dither = static_cast<raster::TDitherMode>(state.range(1));
  raster::TGIFReduced r;
  for (auto _ : state) r = raster::ReduceColors(px.data(), PW, PH, method, dither, 8);
  std::vector<uint32_t> out(px.size());
  for (size_t i = 0; i < px.size(); ++i) {
    const platform::TColor c = r.Palette[r.Indices[i]];
    out[i] = (c & 0xFF) << 16 | (c & 0xFF00) | (c >> 16 & 0xFF);
  }
  state.counters["psnr_dB"] = Psnr(px, out);
  state.counters["colours"] = static_cast<double>(r.Palette.size());
}

void BM_ReduceLibimagequant(benchmark::State& state) {
  const auto& px = Photo();
  std::vector<uint8_t> rgba(px.size() * 4);
  for (size_t i = 0; i < px.size(); ++i) {
    rgba[i * 4] = (px[i] >> 16) & 0xFF;
    rgba[i * 4 + 1] = (px[i] >> 8) & 0xFF;
    rgba[i * 4 + 2] = px[i] & 0xFF;
    rgba[i * 4 + 3] = 255;
  }
  std::vector<uint8_t> idx(px.size());
  std::vector<uint32_t> out(px.size());
  for (auto _ : state) {
    liq_attr* attr = liq_attr_create();
    liq_image* img = liq_image_create_rgba(attr, rgba.data(), PW, PH, 0);
    liq_result* res = nullptr;
    if (liq_image_quantize(img, attr, &res) != LIQ_OK) {
      state.SkipWithError("libimagequant failed");
      break;
    }
    liq_set_dithering_level(res, static_cast<float>(state.range(0)));
    liq_write_remapped_image(res, img, idx.data(), idx.size());
    const liq_palette* pal = liq_get_palette(res);
    for (size_t i = 0; i < px.size(); ++i) {
      const liq_color& c = pal->entries[idx[i]];
      out[i] = uint32_t(c.r) << 16 | uint32_t(c.g) << 8 | c.b;
    }
    liq_result_destroy(res);
    liq_image_destroy(img);
    liq_attr_destroy(attr);
  }
  state.counters["psnr_dB"] = Psnr(px, out);
}

// ImageMagick's -colors 256 (with its default dithering), run once through its command line.
void BM_ReduceImageMagick(benchmark::State& state) {
  const auto& px = Photo();
  const std::string in = "/tmp/gifbench_photo.rgb", out = "/tmp/gifbench_photo_256.rgb";
  {
    std::ofstream f(in, std::ios::binary);
    for (uint32_t p : px) {
      const char c[3] = {static_cast<char>(p >> 16), static_cast<char>(p >> 8), static_cast<char>(p)};
      f.write(c, 3);
    }
  }
  for (auto _ : state) {
    const std::string cmd = "convert -size 1024x768 -depth 8 rgb:" + in + " -colors 256 -depth 8 rgb:" + out;
    if (std::system(cmd.c_str()) != 0) state.SkipWithError("convert failed");
  }
  std::ifstream f(out, std::ios::binary);
  std::vector<char> b((std::istreambuf_iterator<char>(f)), {});
  if (b.size() != px.size() * 3) return;
  std::vector<uint32_t> o(px.size());
  for (size_t i = 0; i < px.size(); ++i)
    o[i] = uint32_t(uint8_t(b[i * 3])) << 16 | uint32_t(uint8_t(b[i * 3 + 1])) << 8 | uint8_t(b[i * 3 + 2]);
  state.counters["psnr_dB"] = Psnr(px, o);
}

}  // namespace

BENCHMARK(BM_ReduceOurs)
    ->Args({raster::rmQuantize, raster::dmNearest})
    ->Args({raster::rmQuantize, raster::dmFloydSteinberg})
    ->Args({raster::rmQuantize, raster::dmStucki})
    ->Args({raster::rmQuantizeSystem, raster::dmFloydSteinberg})
    ->Args({raster::rmCube216, raster::dmNearest})
    ->Args({raster::rmCube216, raster::dmFloydSteinberg})
    ->Args({raster::rmGrayScale, raster::dmNearest})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReduceLibimagequant)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReduceImageMagick)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PaintFrame)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeOurs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeGiflib)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeOurs)->Arg(raster::gcLZW)->Arg(raster::gcRLE)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeGiflib)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();

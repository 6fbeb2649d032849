// PNG encoding and decoding of a photograph-like RGBA image: our codec beside libpng, libspng
// and Qt (libpng underneath) on the same pixels, the same compression level and the same bytes.
// After the table a summary gives the ratios (our time / the peer's) and the file sizes, and a
// scale table shows the cost per pixel from 256 x 192 to 2048 x 1536.
#include <benchmark/benchmark.h>
#include <png.h>
#include <spng.h>
#include <zlib.h>

#include <QByteArray>
#include <QImage>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Classes.h"
#include "raster/PngGraphic.h"

namespace {

using Bytes = std::vector<uint8_t>;

// ---- the image

uint32_t Hash(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7feb352dU;
  x ^= x >> 15;
  x *= 0x846ca68bU;
  x ^= x >> 16;
  return x;
}

uint8_t Clamp(double v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : std::lround(v)); }

// RGBA rows of a generated scene: a sky gradient, shaded hills with sensor noise and texture,
// a flat panel of one colour, a fully transparent corner and a soft alpha vignette. Drawn in
// relative coordinates, so every size shows the same picture.
Bytes SceneRgba(int w, int h) {
  Bytes px(static_cast<size_t>(w) * h * 4);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      double u = (x + 0.5) / w, v = (y + 0.5) / h;
      uint32_t k = Hash(static_cast<uint32_t>(y) * 0x9E3779B1u + static_cast<uint32_t>(x));
      // Roughly Gaussian noise of a few levels, as a camera sensor gives.
      double n = ((k & 255) + ((k >> 8) & 255) + ((k >> 16) & 255)) / 3.0 - 127.5;
      double r, g, b, a = 255;
      double horizon = 0.45 + 0.08 * std::sin(u * 9.0) + 0.04 * std::sin(u * 23.0 + 1.0);
      if (v < horizon) {  // sky: smooth, faint noise
        r = 90 + 80 * v;
        g = 140 + 70 * v;
        b = 230 - 30 * v;
        n *= 0.03;
      } else {  // hills: shading, texture and stronger noise
        double shade = 0.6 + 0.4 * std::sin(u * 14.0 + v * 6.0) * std::cos(v * 11.0);
        double tex = 12 * std::sin(u * 180.0 + 7 * std::sin(v * 40.0));
        r = (70 + 40 * shade) + tex;
        g = (110 + 60 * shade) + tex;
        b = (40 + 25 * shade) + tex * 0.5;
        n *= 0.12;
      }
      r += n, g += n * 0.9, b += n * 1.1;
      if (u > 0.62 && u < 0.92 && v > 0.08 && v < 0.30) {  // a flat panel
        r = 240, g = 236, b = 224;
      }
      if (u < 0.18 && v > 0.82) {  // a transparent corner
        r = g = b = a = 0;
      } else if (u > 0.7 && v > 0.6) {  // a soft vignette
        double d = std::hypot((u - 0.7) / 0.3, (v - 0.6) / 0.4);
        a = 255 * std::max(0.0, 1.0 - 0.6 * d);
      }
      uint8_t* p = &px[(static_cast<size_t>(y) * w + x) * 4];
      p[0] = Clamp(r), p[1] = Clamp(g), p[2] = Clamp(b), p[3] = Clamp(a);
    }
  return px;
}

void PutBE(Bytes& b, uint32_t v) {
  for (int i = 3; i >= 0; --i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void PutChunk(Bytes& f, const char* name, const Bytes& data) {
  PutBE(f, static_cast<uint32_t>(data.size()));
  f.insert(f.end(), name, name + 4);
  f.insert(f.end(), data.begin(), data.end());
  uLong crc = crc32(0, reinterpret_cast<const Bytef*>(name), 4);
  if (!data.empty()) crc = crc32(crc, data.data(), static_cast<uInt>(data.size()));
  PutBE(f, static_cast<uint32_t>(crc));
}

// A quick unfiltered PNG of the pixels, only to hand them to our codec.
Bytes QuickPng(const Bytes& rgba, int w, int h) {
  Bytes raw;
  for (int y = 0; y < h; ++y) {
    raw.push_back(0);
    raw.insert(raw.end(), rgba.begin() + static_cast<ptrdiff_t>(y) * w * 4, rgba.begin() + static_cast<ptrdiff_t>(y + 1) * w * 4);
  }
  uLongf n = compressBound(static_cast<uLong>(raw.size()));
  Bytes z(n);
  compress2(z.data(), &n, raw.data(), static_cast<uLong>(raw.size()), 1);
  z.resize(n);
  Bytes f = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}, ihdr;
  PutBE(ihdr, static_cast<uint32_t>(w));
  PutBE(ihdr, static_cast<uint32_t>(h));
  ihdr.insert(ihdr.end(), {8, 6, 0, 0, 0});
  PutChunk(f, "IHDR", ihdr);
  PutChunk(f, "IDAT", z);
  PutChunk(f, "IEND", {});
  return f;
}

void LoadOurs(raster::TPngGraphic& png, const Bytes& f) {
  platform::TMemoryStream s;
  s.WriteBuffer(f.data(), static_cast<int32_t>(f.size()));
  s.SetPosition(0);
  png.LoadFromStream(&s);
}

Bytes EncodeOurs(raster::TPngGraphic& png, int level) {
  png.CompressionLevel = level;
  platform::TMemoryStream out;
  png.SaveToStream(&out);
  Bytes b(static_cast<size_t>(out.GetSize()));
  std::memcpy(b.data(), out.Memory(), b.size());
  return b;
}

// libpng: its defaults (every filter, heuristic choice, Z_FILTERED) or our settings (Sub only,
// the default strategy), at the given level.
Bytes EncodeLibpng(const Bytes& rgba, int w, int h, int level, bool oursSettings) {
  Bytes out;
  png_structp p = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(p);
  if (setjmp(png_jmpbuf(p))) {
    png_destroy_write_struct(&p, &info);
    return {};
  }
  png_set_write_fn(
      p, &out,
      [](png_structp pp, png_bytep d, size_t n) {
        auto* o = static_cast<Bytes*>(png_get_io_ptr(pp));
        o->insert(o->end(), d, d + n);
      },
      nullptr);
  png_set_IHDR(p, info, static_cast<png_uint_32>(w), static_cast<png_uint_32>(h), 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(p, level);
  if (oursSettings) {
    png_set_filter(p, 0, PNG_FILTER_SUB);
    png_set_compression_strategy(p, Z_DEFAULT_STRATEGY);
  }
  png_write_info(p, info);
  for (int y = 0; y < h; ++y) png_write_row(p, rgba.data() + static_cast<size_t>(y) * w * 4);
  png_write_end(p, info);
  png_destroy_write_struct(&p, &info);
  return out;
}

Bytes EncodeSpng(const Bytes& rgba, int w, int h, int level) {
  spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
  spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
  spng_set_option(ctx, SPNG_IMG_COMPRESSION_LEVEL, level);
  spng_ihdr ihdr{};
  ihdr.width = static_cast<uint32_t>(w);
  ihdr.height = static_cast<uint32_t>(h);
  ihdr.bit_depth = 8;
  ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
  spng_set_ihdr(ctx, &ihdr);
  Bytes out;
  if (spng_encode_image(ctx, rgba.data(), rgba.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE) == 0) {
    size_t n = 0;
    int err = 0;
    void* buf = spng_get_png_buffer(ctx, &n, &err);
    if (buf) {
      out.assign(static_cast<uint8_t*>(buf), static_cast<uint8_t*>(buf) + n);
      free(buf);
    }
  }
  spng_ctx_free(ctx);
  return out;
}

bool DecodeSpng(const Bytes& f, Bytes& rgba) {
  spng_ctx* ctx = spng_ctx_new(0);
  spng_set_png_buffer(ctx, f.data(), f.size());
  size_t n = 0;
  bool ok = spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &n) == 0;
  if (ok) {
    rgba.resize(n);
    ok = spng_decode_image(ctx, rgba.data(), n, SPNG_FMT_RGBA8, 0) == 0;
  }
  spng_ctx_free(ctx);
  return ok;
}

bool DecodeLibpng(const Bytes& f, Bytes& rgba) {
  png_structp p = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(p);
  struct TIn {
    const Bytes* f;
    size_t pos;
  } in{&f, 0};
  if (setjmp(png_jmpbuf(p))) {
    png_destroy_read_struct(&p, &info, nullptr);
    return false;
  }
  png_set_read_fn(p, &in, [](png_structp pp, png_bytep d, size_t n) {
    auto* i = static_cast<TIn*>(png_get_io_ptr(pp));
    if (i->pos + n > i->f->size()) png_error(pp, "short");
    std::memcpy(d, i->f->data() + i->pos, n);
    i->pos += n;
  });
  png_read_info(p, info);
  png_uint_32 w = png_get_image_width(p, info), h = png_get_image_height(p, info);
  rgba.resize(static_cast<size_t>(w) * h * 4);
  std::vector<png_bytep> rows(h);
  for (png_uint_32 y = 0; y < h; ++y) rows[y] = rgba.data() + static_cast<size_t>(y) * w * 4;
  png_read_image(p, rows.data());
  png_read_end(p, nullptr);
  png_destroy_read_struct(&p, &info, nullptr);
  return true;
}

// One size of the test image and its files.
struct TSample {
  int W, H;
  Bytes Rgba;
  std::unique_ptr<raster::TPngGraphic> Png;  // holding the pixels, ready to encode
  Bytes OursFile;                            // our encoding at level 6
  Bytes LibpngFile;                          // libpng's default encoding at level 6
};

const TSample& Sample(int w) {
  static std::map<int, std::unique_ptr<TSample>> cache;
  auto& s = cache[w];
  if (!s) {
    s = std::make_unique<TSample>();
    s->W = w;
    s->H = w * 3 / 4;
    s->Rgba = SceneRgba(s->W, s->H);
    s->Png = std::make_unique<raster::TPngGraphic>();
    LoadOurs(*s->Png, QuickPng(s->Rgba, s->W, s->H));
    s->OursFile = EncodeOurs(*s->Png, 6);
    s->LibpngFile = EncodeLibpng(s->Rgba, s->W, s->H, 6, false);
  }
  return *s;
}

std::map<std::string, double> gSizes;

// ---- encoding; Arg: level; scale benchmarks take the width as a second argument

int WidthOf(const benchmark::State& state) { return state.range(1) ? static_cast<int>(state.range(1)) : 1024; }

void BM_EncodeOurs(benchmark::State& state) {
  const TSample& s = Sample(WidthOf(state));
  size_t n = 0;
  for (auto _ : state) n = EncodeOurs(*s.Png, static_cast<int>(state.range(0))).size();
  state.counters["bytes"] = static_cast<double>(n);
  state.SetItemsProcessed(state.iterations() * s.W * s.H);
}

void BM_EncodeLibpng(benchmark::State& state) {
  const TSample& s = Sample(WidthOf(state));
  size_t n = 0;
  for (auto _ : state) n = EncodeLibpng(s.Rgba, s.W, s.H, static_cast<int>(state.range(0)), false).size();
  state.counters["bytes"] = static_cast<double>(n);
  state.SetItemsProcessed(state.iterations() * s.W * s.H);
}

void BM_EncodeLibpngSub(benchmark::State& state) {
  const TSample& s = Sample(WidthOf(state));
  size_t n = 0;
  for (auto _ : state) n = EncodeLibpng(s.Rgba, s.W, s.H, static_cast<int>(state.range(0)), true).size();
  state.counters["bytes"] = static_cast<double>(n);
  state.SetItemsProcessed(state.iterations() * s.W * s.H);
}

void BM_EncodeSpng(benchmark::State& state) {
  const TSample& s = Sample(WidthOf(state));
  size_t n = 0;
  for (auto _ : state) n = EncodeSpng(s.Rgba, s.W, s.H, static_cast<int>(state.range(0))).size();
  state.counters["bytes"] = static_cast<double>(n);
  state.SetItemsProcessed(state.iterations() * s.W * s.H);
}

// ---- decoding; Arg 0: our level-6 file (Sub rows), 1: libpng's (every filter); then the width

const Bytes& FileOf(const benchmark::State& state) {
  const TSample& s = Sample(WidthOf(state));
  return state.range(0) ? s.LibpngFile : s.OursFile;
}

void BM_DecodeOurs(benchmark::State& state) {
  const Bytes& f = FileOf(state);
  platform::TMemoryStream in;
  in.WriteBuffer(f.data(), static_cast<int32_t>(f.size()));
  for (auto _ : state) {
    in.SetPosition(0);
    raster::TPngGraphic png;
    png.LoadFromStream(&in);
    benchmark::DoNotOptimize(png.Scanline(0));
  }
  const TSample& s = Sample(WidthOf(state));
  state.SetItemsProcessed(state.iterations() * s.W * s.H);
}

void BM_DecodeSpng(benchmark::State& state) {
  const Bytes& f = FileOf(state);
  for (auto _ : state) {
    Bytes rgba;  // a new image each time, as ours and Qt's make
    if (!DecodeSpng(f, rgba)) state.SkipWithError("spng failed");
    benchmark::DoNotOptimize(rgba.data());
  }
  const TSample& s = Sample(WidthOf(state));
  state.SetItemsProcessed(state.iterations() * s.W * s.H);
}

void BM_DecodeLibpng(benchmark::State& state) {
  const Bytes& f = FileOf(state);
  for (auto _ : state) {
    Bytes rgba;  // a new image each time, as ours and Qt's make
    if (!DecodeLibpng(f, rgba)) state.SkipWithError("libpng failed");
    benchmark::DoNotOptimize(rgba.data());
  }
  const TSample& s = Sample(WidthOf(state));
  state.SetItemsProcessed(state.iterations() * s.W * s.H);
}

void BM_DecodeQt(benchmark::State& state) {
  const Bytes& f = FileOf(state);
  QByteArray data(reinterpret_cast<const char*>(f.data()), static_cast<qsizetype>(f.size()));
  for (auto _ : state) {
    QImage img = QImage::fromData(data, "PNG");
    benchmark::DoNotOptimize(img.constBits());
  }
  const TSample& s = Sample(WidthOf(state));
  state.SetItemsProcessed(state.iterations() * s.W * s.H);
}

}  // namespace

BENCHMARK(BM_EncodeOurs)->Args({6, 0})->Args({9, 0})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeLibpng)->Args({6, 0})->Args({9, 0})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeLibpngSub)->Args({6, 0})->Args({9, 0})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeSpng)->Args({6, 0})->Args({9, 0})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeOurs)->Args({0, 0})->Args({1, 0})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeSpng)->Args({0, 0})->Args({1, 0})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeLibpng)->Args({0, 0})->Args({1, 0})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeQt)->Args({0, 0})->Args({1, 0})->Unit(benchmark::kMillisecond);
// Scale: level 6 at four sizes, our codec and the peer of each aim.
#define KD_SCALE(B, A) BENCHMARK(B)->Args({A, 256})->Args({A, 512})->Args({A, 2048})->Unit(benchmark::kMillisecond)
KD_SCALE(BM_EncodeOurs, 6);
KD_SCALE(BM_EncodeLibpng, 6);
KD_SCALE(BM_DecodeOurs, 0);
KD_SCALE(BM_DecodeSpng, 0);
#undef KD_SCALE

namespace {

// Keeps each benchmark's time per iteration and its byte counter for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      if (!r.error_occurred && (r.run_type == Run::RT_Iteration || r.aggregate_name == "median")) {
        std::string name = r.run_name.str();
        times[name] = r.GetAdjustedCPUTime();
        auto c = r.counters.find("bytes");
        if (c != r.counters.end()) bytes[name] = c->second.value;
      }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times, bytes;
};

void Ratio(const SummaryReporter& rep, const std::string& ours, const std::string& peer) {
  auto a = rep.times.find(ours), b = rep.times.find(peer);
  if (a == rep.times.end() || b == rep.times.end()) return;
  std::printf("  %-26s / %-28s time %.2f", ours.c_str(), peer.c_str(), a->second / b->second);
  auto sa = rep.bytes.find(ours), sb = rep.bytes.find(peer);
  if (sa != rep.bytes.end() && sb != rep.bytes.end())
    std::printf("   size %.0f / %.0f = %.3f", sa->second, sb->second, sa->second / sb->second);
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("summary, 1024 x 768 RGBA (ratio = our time / the peer's, below 1 is faster):\n");
  for (const char* l : {"6", "9"})
    for (const char* peer : {"BM_EncodeLibpng", "BM_EncodeLibpngSub", "BM_EncodeSpng"})
      Ratio(reporter, std::string("BM_EncodeOurs/") + l + "/0", std::string(peer) + "/" + l + "/0");
  for (const char* f : {"0", "1"})
    for (const char* peer : {"BM_DecodeSpng", "BM_DecodeLibpng", "BM_DecodeQt"})
      Ratio(reporter, std::string("BM_DecodeOurs/") + f + "/0", std::string(peer) + "/" + f + "/0");
  std::printf("scale, ns per pixel at 256, 512, 1024 and 2048 pixels wide (4:3):\n");
  for (const char* b : {"BM_EncodeOurs/6", "BM_EncodeLibpng/6", "BM_DecodeOurs/0", "BM_DecodeSpng/0"}) {
    std::printf("  %-20s", b);
    for (int w : {256, 512, 1024, 2048}) {
      auto t = reporter.times.find(std::string(b) + "/" + std::to_string(w == 1024 ? 0 : w));
      // Times are kept in the benchmark's unit, milliseconds.
      if (t != reporter.times.end()) std::printf(" %8.2f", t->second * 1e6 / (w * (w * 3 / 4)));
    }
    std::printf("\n");
  }
  benchmark::Shutdown();
  return 0;
}

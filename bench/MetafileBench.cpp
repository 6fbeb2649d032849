// Playing a clip-art metafile of about 10,000 records onto an A4 page at 300 DPI (2480 x 3508)
// with our player, against the same picture converted once to SVG (Debian's emf2svg-conv) and
// drawn by librsvg into a cairo surface of the same size.
// librsvg's headers first: Qt's keyword macros would clash with GLib's field names.
#ifdef KD_HAVE_RSVG
#include <cairo.h>
#include <librsvg/rsvg.h>
#endif

#include <benchmark/benchmark.h>

#include "bench/BenchSupport.h"

#include <QImage>
#include <algorithm>
#include <cmath>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "platform/Graphics.h"
#include "platform/Metafile.h"

using namespace platform;

namespace {

constexpr int kW = 2480, kH = 3508;

// Clip art: overlapping filled and outlined figures (polygons, Bézier paths, ellipses,
// rectangles) with their own pens and brushes, created, selected and deleted as drawing
// programs write them.
class TClipArt {
 public:
  TClipArt() {
    Rec(EMR_HEADER, {0, 0, kW - 1, kH - 1, 0, 0, 21000, 29700, 0x464D4520, 0x10000, 0, 0, 8, 0, 0, 0, kW, kH, 210, 297});
    std::mt19937 rng(7);
    auto r = [&](int lo, int hi) { return lo + int(rng() % uint32_t(hi - lo + 1)); };
    while (Count < 9990) {
      const uint32_t color = uint32_t(rng()) & 0xFFFFFF;
      Rec(EMR_CREATEBRUSHINDIRECT, {1, 0, color, 0});
      Rec(EMR_SELECTOBJECT, {1});
      Rec(EMR_EXTCREATEPEN, {2, 0, 0, 0, 0, 0x10000, uint32_t(r(1, 8)), 0, uint32_t(rng()) & 0xFFFFFF, 0, 0});
      Rec(EMR_SELECTOBJECT, {2});
      const int cx = r(0, kW), cy = r(0, kH), s = r(20, 300);
      switch (r(0, 3)) {
        case 0: {  // a star-like polygon of 16-bit points
          const int n = r(6, 24);
          std::vector<uint32_t> w = {0, 0, 0, 0, uint32_t(n)};
          for (int i = 0; i < n; ++i) {
            const double a = 6.283185 * i / n, rad = (i % 2 ? 0.5 : 1.0) * s;
            const int x = cx + int(rad * std::cos(a)), y = cy + int(rad * std::sin(a));
            w.push_back((uint32_t(uint16_t(x))) | (uint32_t(uint16_t(y)) << 16));
          }
          Rec(EMR_POLYGON16, w);
          break;
        }
        case 1: {  // a closed Bézier path, stroked and filled
          Rec(EMR_BEGINPATH, {});
          Rec(EMR_MOVETOEX, {uint32_t(cx - s), uint32_t(cy)});
          std::vector<uint32_t> w = {0, 0, 0, 0, 6};
          const int pts[6][2] = {{cx - s, cy - s}, {cx + s, cy - s}, {cx + s, cy},
                                 {cx + s, cy + s}, {cx - s, cy + s}, {cx - s, cy}};
          for (auto& p : pts) w.push_back(uint32_t(uint16_t(p[0])) | (uint32_t(uint16_t(p[1])) << 16));
          Rec(EMR_POLYBEZIERTO16, w);
          Rec(EMR_CLOSEFIGURE, {});
          Rec(EMR_ENDPATH, {});
          Rec(EMR_STROKEANDFILLPATH, {0, 0, 0, 0});
          break;
        }
        case 2:
          Rec(EMR_ELLIPSE, {uint32_t(cx - s), uint32_t(cy - s / 2), uint32_t(cx + s), uint32_t(cy + s / 2)});
          break;
        default:
          Rec(EMR_RECTANGLE, {uint32_t(cx - s / 2), uint32_t(cy - s), uint32_t(cx + s / 2), uint32_t(cy + s)});
          break;
      }
      Rec(EMR_SELECTOBJECT, {0x80000007});
      Rec(EMR_SELECTOBJECT, {0x80000000});
      Rec(EMR_DELETEOBJECT, {1});
      Rec(EMR_DELETEOBJECT, {2});
    }
    Rec(EMR_EOF, {0, 16, 20});
    const uint32_t size = uint32_t(Bytes.size());
    std::memcpy(Bytes.data() + 48, &size, 4);
    std::memcpy(Bytes.data() + 52, &Count, 4);
  }
  void Rec(uint32_t Type, const std::vector<uint32_t>& Words) {
    Put(Type);
    Put(uint32_t(8 + 4 * Words.size()));
    for (uint32_t w : Words) Put(w);
    ++Count;
  }
  void Put(uint32_t V) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(&V);
    Bytes.insert(Bytes.end(), p, p + 4);
  }
  std::vector<uint8_t> Bytes;
  uint32_t Count = 0;
};

struct TFixture {
  TClipArt Art;
  TMetafile Picture;
  TBitmap Page;
  std::string Svg;
#ifdef KD_HAVE_RSVG
  RsvgHandle* Handle = nullptr;
  cairo_surface_t* Surface = nullptr;
#endif
  TFixture() {
    Picture.LoadFromBytes(Art.Bytes.data(), Art.Bytes.size());
    Page.SetPixelFormat(pf32bit);
    Page.SetSize(kW, kH);
    // The peer's picture: converted once by the converter program.
    const std::string dir = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp";
    const std::string emf = dir + "/kd-metafile-bench.emf", svg = dir + "/kd-metafile-bench.svg";
    std::ofstream(emf, std::ios::binary).write(reinterpret_cast<const char*>(Art.Bytes.data()),
                                               std::streamsize(Art.Bytes.size()));
    if (std::system(("emf2svg-conv -i " + emf + " -o " + svg + " >/dev/null 2>&1").c_str()) == 0) {
      std::ifstream in(svg, std::ios::binary);
      std::stringstream ss;
      ss << in.rdbuf();
      Svg = ss.str();
    }
#ifdef KD_HAVE_RSVG
    if (!Svg.empty()) {
      GError* err = nullptr;
      Handle = rsvg_handle_new_from_data(reinterpret_cast<const guint8*>(Svg.data()), gsize(Svg.size()), &err);
      if (err) g_error_free(err);
      Surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kW, kH);
    }
#endif
  }
  void Ours() {
    TCanvas* c = Page.Canvas();
    c->Brush()->SetColor(clWhite);
    c->FillRect(TRect{0, 0, kW, kH});
    PlayEnhMetaFile(c, Picture, TRect{0, 0, kW, kH});
  }
  bool HasPeer() const {
#ifdef KD_HAVE_RSVG
    return Handle != nullptr;
#else
    return false;
#endif
  }
  void Peer() {
#ifdef KD_HAVE_RSVG
    cairo_t* cr = cairo_create(Surface);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    RsvgRectangle vp = {0, 0, double(kW), double(kH)};
    GError* err = nullptr;
    rsvg_handle_render_document(Handle, cr, &vp, &err);
    if (err) g_error_free(err);
    cairo_destroy(cr);
    cairo_surface_flush(Surface);
#endif
  }
};

TFixture& Fixture() {
  static TFixture f;
  return f;
}

void BM_MetafilePlayer(benchmark::State& state) {
  TFixture& f = Fixture();
  for (auto _ : state) f.Ours();
  state.counters["records"] = double(f.Picture.Records().size());
}
void BM_RsvgOfTheConvertedPicture(benchmark::State& state) {
  TFixture& f = Fixture();
  if (!f.HasPeer()) {
    state.SkipWithError("emf2svg-conv or librsvg not available");
    return;
  }
  for (auto _ : state) f.Peer();
}

BENCHMARK(BM_MetafilePlayer)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RsvgOfTheConvertedPicture)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  TFixture& f = Fixture();
  const double ours = kdbench::BestMs([&] { f.Ours(); }, 5);
  if (!f.HasPeer()) {
    std::printf("\nmetafile of %zu records on %dx%d: %.1f ms (no peer)\n", f.Picture.Records().size(), kW, kH, ours);
    return 0;
  }
  const double peer = kdbench::BestMs([&] { f.Peer(); }, 5);
  f.Page.Image().save("/tmp/kd-metafile-bench-ours.png");
#ifdef KD_HAVE_RSVG
  cairo_surface_write_to_png(f.Surface, "/tmp/kd-metafile-bench-rsvg.png");
#endif
  std::printf("\nmetafile of %zu records on %dx%d: player %.1f ms, librsvg of the converted SVG %.1f ms, ratio %.2f\n",
              f.Picture.Records().size(), kW, kH, ours, peer, ours / peer);
  return 0;
}

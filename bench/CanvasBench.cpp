// Canvas drawing into a 512 x 512 bitmap, beside cairo doing the same fills (aliased) on an
// image surface of the same size.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "platform/Graphics.h"

#ifdef KD_HAVE_CAIRO
#include <cairo.h>
#endif

using namespace platform;

namespace {

std::unique_ptr<TBitmap> Surface() {
  auto b = std::make_unique<TBitmap>();
  b->SetPixelFormat(pf32bit);
  b->SetSize(512, 512);
  return b;
}

void BM_CanvasRectangles(benchmark::State& state) {
  auto b = Surface();
  TCanvas* c = b->Canvas();
  c->Brush()->SetColor(clYellow);
  for (auto _ : state) {
    for (int i = 0; i < 100; ++i) c->Rectangle(i * 3, i * 2, i * 3 + 200, i * 2 + 150);
  }
  state.SetItemsProcessed(state.iterations() * 100);
}
BENCHMARK(BM_CanvasRectangles);

void BM_CanvasEllipses(benchmark::State& state) {
  auto b = Surface();
  TCanvas* c = b->Canvas();
  c->Brush()->SetColor(clYellow);
  for (auto _ : state) {
    for (int i = 0; i < 100; ++i) c->Ellipse(i * 3, i * 2, i * 3 + 200, i * 2 + 150);
  }
  state.SetItemsProcessed(state.iterations() * 100);
}
BENCHMARK(BM_CanvasEllipses);

void BM_CanvasXorRectangles(benchmark::State& state) {
  auto b = Surface();
  TCanvas* c = b->Canvas();
  c->Pen()->SetMode(pmXor);
  c->Brush()->SetColor(clYellow);
  for (auto _ : state) {
    for (int i = 0; i < 100; ++i) c->Rectangle(i * 3, i * 2, i * 3 + 200, i * 2 + 150);
  }
  state.SetItemsProcessed(state.iterations() * 100);
}
BENCHMARK(BM_CanvasXorRectangles);

void BM_CanvasDrawText(benchmark::State& state) {
  auto b = Surface();
  TCanvas* c = b->Canvas();
  c->Font()->SetName("Arial");
  c->Font()->SetSize(9);
  c->Brush()->SetStyle(bsClear);
  for (auto _ : state) {
    // One tree item's run: measured, then drawn, as the mini-HTML renderer does.
    TRect r = Rect(10, 10, 300, 26);
    TRect calc = r;
    c->DrawText("Loopoefeningen (36) &Gemakkelijk", calc, DT_BOTTOM | DT_SINGLELINE | DT_EXPANDTABS | DT_CALCRECT);
    c->DrawText("Loopoefeningen (36) &Gemakkelijk", r, DT_BOTTOM | DT_SINGLELINE | DT_EXPANDTABS);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CanvasDrawText);

#ifdef KD_HAVE_CAIRO
void CairoShapes(benchmark::State& state, bool ellipse) {
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 512, 512);
  cairo_t* cr = cairo_create(s);
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
  cairo_set_line_width(cr, 1);
  for (auto _ : state) {
    for (int i = 0; i < 100; ++i) {
      double x = i * 3, y = i * 2, w = 199, h = 149;
      if (ellipse) {
        cairo_save(cr);
        cairo_translate(cr, x + w / 2 + 0.5, y + h / 2 + 0.5);
        cairo_scale(cr, w / 2, h / 2);
        cairo_arc(cr, 0, 0, 1, 0, 6.2831853);
        cairo_restore(cr);
      } else {
        cairo_rectangle(cr, x + 0.5, y + 0.5, w, h);
      }
      cairo_set_source_rgb(cr, 1, 1, 0);
      cairo_fill_preserve(cr);
      cairo_set_source_rgb(cr, 0, 0, 0);
      cairo_stroke(cr);
    }
    cairo_surface_flush(s);
  }
  state.SetItemsProcessed(state.iterations() * 100);
  cairo_destroy(cr);
  cairo_surface_destroy(s);
}
void BM_CairoRectangles(benchmark::State& state) { CairoShapes(state, false); }
void BM_CairoEllipses(benchmark::State& state) { CairoShapes(state, true); }
BENCHMARK(BM_CairoRectangles);
BENCHMARK(BM_CairoEllipses);
#endif

#ifdef KD_HAVE_CAIRO
// One pass of 100 shapes on our canvas and on cairo, timed in alternating rounds (best of
// each), so that load from other processes falls on both alike.
void PrintAlternating(bool ellipse) {
  auto b = Surface();
  TCanvas* c = b->Canvas();
  c->Brush()->SetColor(clYellow);
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 512, 512);
  cairo_t* cr = cairo_create(s);
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
  cairo_set_line_width(cr, 1);
  auto ns = [](auto f) {
    auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - t0).count();
  };
  double ours = 1e30, theirs = 1e30;
  for (int round = 0; round < 300; ++round) {
    ours = std::min(ours, ns([&] {
                      for (int i = 0; i < 100; ++i) {
                        if (ellipse)
                          c->Ellipse(i * 3, i * 2, i * 3 + 200, i * 2 + 150);
                        else
                          c->Rectangle(i * 3, i * 2, i * 3 + 200, i * 2 + 150);
                      }
                    }));
    theirs = std::min(theirs, ns([&] {
                        for (int i = 0; i < 100; ++i) {
                          double x = i * 3, y = i * 2, w = 199, h = 149;
                          if (ellipse) {
                            cairo_save(cr);
                            cairo_translate(cr, x + w / 2 + 0.5, y + h / 2 + 0.5);
                            cairo_scale(cr, w / 2, h / 2);
                            cairo_arc(cr, 0, 0, 1, 0, 6.2831853);
                            cairo_restore(cr);
                          } else {
                            cairo_rectangle(cr, x + 0.5, y + 0.5, w, h);
                          }
                          cairo_set_source_rgb(cr, 1, 1, 0);
                          cairo_fill_preserve(cr);
                          cairo_set_source_rgb(cr, 0, 0, 0);
                          cairo_stroke(cr);
                        }
                        cairo_surface_flush(s);
                      }));
  }
  cairo_destroy(cr);
  cairo_surface_destroy(s);
  std::printf("Canvas %-11s alternating, best of 300: ours %.0f us, cairo %.0f us, ours / cairo = %.2f\n",
              ellipse ? "Ellipses" : "Rectangles", ours / 1e3, theirs / 1e3, ours / theirs);
}
#endif

// Keeps each run's time per iteration for the ratios (the median with --benchmark_repetitions).
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.run_type == Run::RT_Iteration && !times.count(r.run_name.function_name + "/median"))
        times[r.run_name.function_name] = r.GetAdjustedRealTime();
      if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median") {
        times[r.run_name.function_name] = r.GetAdjustedRealTime();
        times[r.run_name.function_name + "/median"] = 1;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QGuiApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (const char* name : {"Rectangles", "Ellipses"}) {
    auto ours = reporter.times.find(std::string("BM_Canvas") + name);
    auto cairo = reporter.times.find(std::string("BM_Cairo") + name);
    if (ours != reporter.times.end() && cairo != reporter.times.end() && cairo->second > 0)
      std::printf("Canvas %-11s ours / cairo = %.2f\n", name, ours->second / cairo->second);
  }
#ifdef KD_HAVE_CAIRO
  PrintAlternating(false);
  PrintAlternating(true);
#endif
  benchmark::Shutdown();
  return 0;
}

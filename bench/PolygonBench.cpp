// Antialiased polygon filling on an A4 page at 300 DPI (2480 x 3508): a 1,000-vertex ellipse
// and 200 random triangles, against cairo filling the same paths on a surface of the same
// size. Prints our time over cairo's for each case at the end (the medians when run with
// --benchmark_repetitions).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "raster/Raster32Polygons.h"

#ifdef KD_HAVE_CAIRO
#include <cairo.h>
#endif

using namespace raster;

namespace {

constexpr int kW = 2480, kH = 3508;

using Path = std::vector<std::vector<std::pair<double, double>>>;

Path Ellipse() {
  Path p(1);
  for (int i = 0; i < 1000; ++i) {
    double a = i * 2 * M_PI / 1000;
    p[0].push_back({kW / 2.0 + 1100 * std::cos(a), kH / 2.0 + 1600 * std::sin(a)});
  }
  return p;
}

Path Triangles() {
  std::mt19937 rng(2024);
  std::uniform_real_distribution<double> x(0, kW), y(0, kH), d(-300, 300);
  Path p;
  for (int i = 0; i < 200; ++i) {
    double cx = x(rng), cy = y(rng);
    p.push_back({{cx, cy}, {cx + d(rng), cy + d(rng)}, {cx + d(rng), cy + d(rng)}});
  }
  return p;
}

void FillOurs(benchmark::State& state, const Path& path, TColor32 color) {
  TBitmap32 page;
  page.SetSize(kW, kH);
  page.Clear(0xFFFFFFFF);
  TPolygon32 poly;
  poly.SetAntialiased(true);
  for (size_t c = 0; c < path.size(); ++c) {
    if (c) poly.NewLine();
    for (auto [px, py] : path[c]) poly.Add({Fixed(static_cast<float>(px)), Fixed(static_cast<float>(py))});
  }
  for (auto _ : state) {
    poly.DrawFill(&page, color);
    benchmark::DoNotOptimize(page.Bits());
  }
}

#ifdef KD_HAVE_CAIRO
void FillCairo(benchmark::State& state, const Path& path, TColor32 color) {
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kW, kH);
  cairo_t* cr = cairo_create(s);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_DEFAULT);
  cairo_set_source_rgba(cr, RedComponent(color) / 255.0, GreenComponent(color) / 255.0, BlueComponent(color) / 255.0,
                        AlphaComponent(color) / 255.0);
  for (auto _ : state) {
    for (const auto& c : path) {
      cairo_move_to(cr, c[0].first, c[0].second);
      for (size_t i = 1; i < c.size(); ++i) cairo_line_to(cr, c[i].first, c[i].second);
      cairo_close_path(cr);
    }
    cairo_fill(cr);
    cairo_surface_flush(s);
    benchmark::DoNotOptimize(cairo_image_surface_get_data(s));
  }
  cairo_destroy(cr);
  cairo_surface_destroy(s);
}
#endif

const Path& EllipsePath() {
  static Path p = Ellipse();
  return p;
}
const Path& TrianglePath() {
  static Path p = Triangles();
  return p;
}

void BM_Ellipse_Ours(benchmark::State& s) { FillOurs(s, EllipsePath(), 0xFF2060A0); }
void BM_Triangles_Ours(benchmark::State& s) { FillOurs(s, TrianglePath(), 0xFF2060A0); }
void BM_EllipseTranslucent_Ours(benchmark::State& s) { FillOurs(s, EllipsePath(), 0x802060A0); }
BENCHMARK(BM_Ellipse_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Triangles_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EllipseTranslucent_Ours)->Unit(benchmark::kMillisecond);
#ifdef KD_HAVE_CAIRO
void BM_Ellipse_Cairo(benchmark::State& s) { FillCairo(s, EllipsePath(), 0xFF2060A0); }
void BM_Triangles_Cairo(benchmark::State& s) { FillCairo(s, TrianglePath(), 0xFF2060A0); }
void BM_EllipseTranslucent_Cairo(benchmark::State& s) { FillCairo(s, EllipsePath(), 0x802060A0); }
BENCHMARK(BM_Ellipse_Cairo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Triangles_Cairo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EllipseTranslucent_Cairo)->Unit(benchmark::kMillisecond);
#endif

#ifdef KD_HAVE_CAIRO
// Ours and cairo filling the same path, timed in alternation (best of many rounds), so that
// load from other processes falls on both alike; the ratio printed is ours over cairo.
double AlternatingRatio(const Path& path, TColor32 color, int rounds) {
  TBitmap32 page;
  page.SetSize(kW, kH);
  page.Clear(0xFFFFFFFF);
  TPolygon32 poly;
  poly.SetAntialiased(true);
  for (size_t c = 0; c < path.size(); ++c) {
    if (c) poly.NewLine();
    for (auto [px, py] : path[c]) poly.Add({Fixed(static_cast<float>(px)), Fixed(static_cast<float>(py))});
  }
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kW, kH);
  cairo_t* cr = cairo_create(s);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
  cairo_set_source_rgba(cr, RedComponent(color) / 255.0, GreenComponent(color) / 255.0, BlueComponent(color) / 255.0,
                        AlphaComponent(color) / 255.0);
  auto seconds = [](auto f) {
    auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  };
  double ours = 1e30, theirs = 1e30;
  for (int r = 0; r < rounds; ++r) {
    ours = std::min(ours, seconds([&] {
                      poly.DrawFill(&page, color);
                      benchmark::DoNotOptimize(page.Bits());
                    }));
    theirs = std::min(theirs, seconds([&] {
                        for (const auto& c : path) {
                          cairo_move_to(cr, c[0].first, c[0].second);
                          for (size_t i = 1; i < c.size(); ++i) cairo_line_to(cr, c[i].first, c[i].second);
                          cairo_close_path(cr);
                        }
                        cairo_fill(cr);
                        cairo_surface_flush(s);
                        benchmark::DoNotOptimize(cairo_image_surface_get_data(s));
                      }));
  }
  cairo_destroy(cr);
  cairo_surface_destroy(s);
  std::printf("  best of %d: ours %.2f ms, cairo %.2f ms", rounds, ours * 1e3, theirs * 1e3);
  return ours / theirs;
}
#endif

// Keeps each run's time per iteration for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    // With repetitions the median stands for the case; otherwise the single run.
    for (const Run& r : runs) {
      if (r.run_type == Run::RT_Iteration && !medians.count(r.run_name.function_name))
        times[r.run_name.function_name] = r.GetAdjustedRealTime();
      if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median") {
        times[r.run_name.function_name] = r.GetAdjustedRealTime();
        medians.insert(r.run_name.function_name);
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;
  std::set<std::string> medians;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (const char* name : {"Ellipse", "Triangles", "EllipseTranslucent"}) {
    auto ours = reporter.times.find(std::string("BM_") + name + "_Ours");
    auto cairo = reporter.times.find(std::string("BM_") + name + "_Cairo");
    if (ours != reporter.times.end() && cairo != reporter.times.end() && cairo->second > 0)
      std::printf("%-20s ours / cairo = %.2f\n", name, ours->second / cairo->second);
  }
#ifdef KD_HAVE_CAIRO
  std::printf("\nAlternating rounds:\n");
  const std::pair<const char*, std::pair<const Path*, TColor32>> cases[] = {
      {"Ellipse", {&EllipsePath(), 0xFF2060A0}},
      {"Triangles", {&TrianglePath(), 0xFF2060A0}},
      {"EllipseTranslucent", {&EllipsePath(), 0x802060A0}}};
  for (const auto& [name, c] : cases) {
    std::printf("%-20s", name);
    const double ratio = AlternatingRatio(*c.first, c.second, 60);
    std::printf("  ours / cairo = %.2f\n", ratio);
  }
#endif
  benchmark::Shutdown();
  return 0;
}

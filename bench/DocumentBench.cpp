// The document view on a generated 10-page document of 500 shapes a page, fitted to a
// 1600 x 1000 view:
//  - open and first paint (load "Index.xml", thumbnails and page 1, fit the page, paint), with
//    peak resident memory as a counter;
//  - repaint of the whole view after a scroll step and after a zoom step;
//  - save in place after one shape of the current page moved (the page, its thumbnail and
//    "Index.xml" are rewritten; now and then the archive is compacted), and save of the whole
//    document under another name;
//  - peak memory of opening and paging through 10, 20 and 40 pages, each in a fresh process.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "document/dtpDocument.h"
#include "platform/Graphics.h"
#include "tools/DocumentFixtures.h"

using namespace document;

namespace {

double PeakMiB() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss / 1024.0;
}

const std::string& SampleFile() {
  static const std::string file = [] {
    const std::string f = (std::filesystem::temp_directory_path() / "kd_document_bench.hsf").string();
    TdtpComponent doc(nullptr);
    kdfixture::MakeSampleDocument(doc, f, 10, 500);
    return f;
  }();
  return file;
}

std::unique_ptr<TdtpComponent> OpenView() {
  auto doc = std::make_unique<TdtpComponent>(nullptr);
  doc->SetBounds(0, 0, 1600, 1000);
  doc->HandleNeeded();
  doc->LoadFromFile(SampleFile());
  doc->ZoomFitPage();
  return doc;
}

void PaintView(TdtpComponent& Doc, platform::TBitmap& Bmp) {
  Doc.PaintDocument(Bmp.Canvas());
  Bmp.Canvas()->Release();
}

void BM_OpenAndFirstPaint(benchmark::State& state) {
  SampleFile();
  platform::TBitmap bmp;
  bmp.SetPixelFormat(platform::pf32bit);
  bmp.SetSize(1600, 1000);
  for (auto _ : state) {
    auto doc = OpenView();
    PaintView(*doc, bmp);
    benchmark::DoNotOptimize(bmp.Image().constBits());
  }
  state.counters["peak_MiB"] = PeakMiB();
}
BENCHMARK(BM_OpenAndFirstPaint)->Unit(benchmark::kMillisecond);

void BM_RepaintAfterScroll(benchmark::State& state) {
  auto doc = OpenView();
  doc->ZoomPageWidth();  // taller than the view, so there is room to scroll
  platform::TBitmap bmp;
  bmp.SetPixelFormat(platform::pf32bit);
  bmp.SetSize(doc->ClientWidth(), doc->ClientHeight());
  PaintView(*doc, bmp);
  int32_t step = 40;
  for (auto _ : state) {
    int32_t dx = 0, dy = step;
    doc->ScrollBy(dx, dy);
    if (dy == 0) {
      step = -step;
      dy = step;
      doc->ScrollBy(dx, dy);
    }
    PaintView(*doc, bmp);
  }
  state.counters["peak_MiB"] = PeakMiB();
}
BENCHMARK(BM_RepaintAfterScroll)->Unit(benchmark::kMillisecond);

void BM_RepaintAfterZoom(benchmark::State& state) {
  auto doc = OpenView();
  platform::TBitmap bmp;
  bmp.SetPixelFormat(platform::pf32bit);
  bmp.SetSize(doc->ClientWidth(), doc->ClientHeight());
  PaintView(*doc, bmp);
  bool in = true;
  for (auto _ : state) {
    if (in)
      doc->ZoomIn();
    else
      doc->ZoomOut();
    in = !in;
    PaintView(*doc, bmp);
  }
  state.counters["peak_MiB"] = PeakMiB();
}
BENCHMARK(BM_RepaintAfterZoom)->Unit(benchmark::kMillisecond);

std::string CopyOfSample(const char* Name) {
  const std::string f = (std::filesystem::temp_directory_path() / Name).string();
  std::filesystem::copy_file(SampleFile(), f, std::filesystem::copy_options::overwrite_existing);
  return f;
}

void BM_SaveInPlace(benchmark::State& state) {
  const std::string file = CopyOfSample("kd_document_bench_inplace.hsf");
  TdtpComponent doc(nullptr);
  doc.LoadFromFile(file);
  float x = 20;
  for (auto _ : state) {
    x = x == 20 ? 21 : 20;
    doc.GetPage(0)->GetShape(0)->SetDocLeft(x);
    doc.SaveToFile(file);
  }
  state.counters["file_KiB"] = double(std::filesystem::file_size(file)) / 1024.0;
  std::filesystem::remove(file);
}
BENCHMARK(BM_SaveInPlace)->Unit(benchmark::kMillisecond);

void BM_SaveUnderAnotherName(benchmark::State& state) {
  const std::string file = CopyOfSample("kd_document_bench_from.hsf");
  const std::string a = (std::filesystem::temp_directory_path() / "kd_document_bench_a.hsf").string();
  const std::string b = (std::filesystem::temp_directory_path() / "kd_document_bench_b.hsf").string();
  TdtpComponent doc(nullptr);
  doc.LoadFromFile(file);
  bool first = true;
  for (auto _ : state) {
    doc.SaveToFile(first ? a : b);
    first = !first;
  }
  for (const auto& f : {file, a, b}) std::filesystem::remove(f);
}
BENCHMARK(BM_SaveUnderAnotherName)->Unit(benchmark::kMillisecond);
// Child mode: opens File in a 1600 x 1000 view, shows every page in turn (each painted once)
// and prints the resident memory before opening and the peak after the last page, in MiB.
int PageThrough(const std::string& File) {
  const double before = PeakMiB();
  auto doc = std::make_unique<TdtpComponent>(nullptr);
  doc->SetBounds(0, 0, 1600, 1000);
  doc->HandleNeeded();
  doc->LoadFromFile(File);
  doc->ZoomFitPage();
  platform::TBitmap bmp;
  bmp.SetPixelFormat(platform::pf32bit);
  bmp.SetSize(1600, 1000);
  for (int32_t i = 0; i < doc->PageCount(); ++i) {
    doc->SetCurrentPageIndex(i);
    PaintView(*doc, bmp);
  }
  std::printf("%.1f %.1f %d\n", before, PeakMiB(), doc->PageCount());
  return 0;
}

// Peak memory of opening and paging through documents of 10, 20 and 40 pages of 500 shapes,
// each in a fresh process (peak resident memory only ever grows within one).
void PrintPagingMemory(const char* Self) {
  std::printf("\nOpen and page through (500 shapes a page, fresh process each):\n");
  double first = 0;
  int firstPages = 0;
  for (int pages : {10, 20, 40}) {
    const std::string f =
        (std::filesystem::temp_directory_path() / ("kd_paging_" + std::to_string(pages) + ".hsf")).string();
    {
      TdtpComponent doc(nullptr);
      kdfixture::MakeSampleDocument(doc, f, pages, 500);
    }
    const std::string cmd = std::string("'") + Self + "' --page-through='" + f + "'";
    FILE* p = popen(cmd.c_str(), "r");
    double before = 0, peak = 0;
    int count = 0;
    if (p) {
      if (std::fscanf(p, "%lf %lf %d", &before, &peak, &count) != 3) count = 0;
      pclose(p);
    }
    std::filesystem::remove(f);
    if (count != pages) {
      std::printf("%3d pages: child failed\n", pages);
      continue;
    }
    const double grown = peak - before;
    if (!firstPages) first = grown, firstPages = pages;
    std::printf("%3d pages: peak %7.1f MiB (%.1f at start, %.1f grown; %.2f x the %d-page growth for %.1f x the pages)\n",
                pages, peak, before, grown, first > 0 ? grown / first : 0.0, firstPages, double(pages) / firstPages);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  kdfixture::InitializeFixtures();
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.rfind("--page-through=", 0) == 0) return PageThrough(a.substr(15));
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  PrintPagingMemory(std::filesystem::read_symlink("/proc/self/exe").c_str());
  return 0;
}

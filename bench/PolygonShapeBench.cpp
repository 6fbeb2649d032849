// Rendering of the polygon and line shapes at 300 DPI.
//  - Per class: one 16 x 12 mm shape (a 40 x 20 mm line) rendered into its buffer, cold (a new
//    shape: outline, fixed-point polygons, stroke, fill) and cached (the outline is reused;
//    polygons and pixels are redone, as after a property change).
//  - The gallery page with one of each of the 43 classes printed at 300 DPI, cold and cached.
#include <benchmark/benchmark.h>

#include "document/dtpLineShape.h"
#include "document/dtpPage.h"
#include "document/dtpShapeRenderPriv.h"

using namespace document;

namespace {

constexpr float cDpm300 = 300 / 25.4f;

class TBenchHost : public IdtpDocumentHost {
 public:
  float RenderDpm() const override { return cDpm300; }
  float ScreenDpm() const override { return cDpm300; }
};

TBenchHost& Host() {
  static TBenchHost host;
  return host;
}

void Init() {
  static bool done = false;
  if (done) return;
  done = true;
  InitializeDtpShape();
  InitializeDtpEffectShape();
  InitializeDtpPage();
  InitializeDtpPolygonShape();
  InitializeDtpLineShape();
}

std::vector<const TShapeClass*> Classes() {
  std::vector<const TShapeClass*> list = PolygonShapeClasses();
  list.push_back(&TdtpLineShape::StaticClass());
  list.push_back(&TdtpLineShape2::StaticClass());
  return list;
}

std::unique_ptr<TdtpShape> MakeShape(const TShapeClass& Cls, int Index, float X, float Y) {
  auto s = CreateShape(Cls);
  s->SetDocument(&Host());
  s->SetForceBuffer(true);
  if (auto* l = dynamic_cast<TdtpLineShape*>(s.get())) {
    l->Arrow0()->SetStyle(asOval);
    l->Arrow1()->SetStyle(Index % 2 ? asStealthArrow : asArrow);
    l->SetLinePoint(0, {X, Y + 14});
    l->SetLinePoint(1, {X + 17, Y});
    return s;
  }
  auto* p = static_cast<TdtpPolygonShape*>(s.get());
  p->SetDocBounds(X, Y, 16, 12);
  if (Index % 5 == 1) p->SetOutlineWidth(1);
  if (Index % 5 == 3) p->SetUseStipple(true);
  if (Index % 5 == 4) p->SetDocAngle(25);
  return s;
}

void BM_ShapeCold(benchmark::State& state) {
  Init();
  const auto classes = Classes();
  const TShapeClass& cls = *classes[size_t(state.range(0))];
  state.SetLabel(cls.Name);
  for (auto _ : state) {
    auto s = MakeShape(cls, int(state.range(0)), 0, 0);
    s->UpdateBuffer();
    benchmark::DoNotOptimize(s->Buffer());
  }
}

void BM_ShapeCached(benchmark::State& state) {
  Init();
  const auto classes = Classes();
  const TShapeClass& cls = *classes[size_t(state.range(0))];
  state.SetLabel(cls.Name);
  auto s = MakeShape(cls, int(state.range(0)), 0, 0);
  s->UpdateBuffer();
  for (auto _ : state) {
    s->ClearBuffer();  // repaint: matrix set again, polygons rebuilt from the cached outline
    s->UpdateBuffer();
    benchmark::DoNotOptimize(s->Buffer());
  }
}

struct TGallery {
  std::unique_ptr<TdtpPage> Page;
  raster::TBitmap32 Out;
  TGallery() {
    Init();
    Page = NewShape<TdtpPage>();
    Page->SetDocument(&Host());
    Page->SetDocBounds(0, 0, 200, 150);
    const auto classes = Classes();
    for (size_t i = 0; i < classes.size(); ++i) {
      Page->AddShape(MakeShape(*classes[i], int(i), float(i % 8) * 25 + 4, float(i / 8) * 25 + 5));
    }
    Out.SetSize(int(200 * cDpm300), int(150 * cDpm300));
  }
  void Paint() {
    detail::TBitmap32Canvas canvas(&Out);
    Page->PaintTo(canvas.Canvas(), {0, 0, Out.Width(), Out.Height()}, cDpm300, 0, false, false);
    canvas.Release();
  }
};

void BM_GalleryCold(benchmark::State& state) {
  TGallery g;
  float step = 0.001f;
  for (auto _ : state) {
    // A size change drops every cached outline.
    g.Page->FreeBuffersAll();
    for (int32_t i = 0; i < g.Page->GetShapeCount(); ++i) {
      TdtpShape* s = g.Page->GetShape(i);
      s->SetDocWidth(s->DocWidth() + step);
    }
    step = -step;
    g.Paint();
    benchmark::DoNotOptimize(g.Out.Bits());
  }
  state.counters["shapes"] = g.Page->GetShapeCount();
}

void BM_GalleryCached(benchmark::State& state) {
  TGallery g;
  g.Paint();
  for (auto _ : state) {
    g.Page->FreeBuffersAll();
    g.Paint();
    benchmark::DoNotOptimize(g.Out.Bits());
  }
  state.counters["shapes"] = g.Page->GetShapeCount();
}

}  // namespace

BENCHMARK(BM_ShapeCold)->DenseRange(0, 42)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ShapeCached)->DenseRange(0, 42)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GalleryCold)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GalleryCached)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();

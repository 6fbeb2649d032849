// Rendering of shapes into their buffers and onto canvases, checked pixel by pixel, and a page
// of test shapes written as a PNG for a person to look at.
#include <QImage>
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "DocumentTestSupport.h"
#include "tests/common/TestSupport.h"
#include "document/dtpPage.h"
#include "document/dtpShape.h"
#include "document/dtpShapeRenderPriv.h"
#include "platform/Exceptions.h"

using namespace document;
using kdtest::TTestDocumentHost;

namespace {

constexpr TColor32 cRed = 0xFFFF0000u, cBlue = 0xFF0000FFu;

// Left half red, right half blue; optionally a red top half over blue instead.
class TdtpTwoTone : public TdtpShape {
 public:
  static const TShapeClass& StaticClass() {
    static const TShapeClass cls = MakeShapeClass<TdtpTwoTone>("TdtpTwoTone", &TdtpShape::StaticClass());
    return cls;
  }
  const TShapeClass& Class() const override { return StaticClass(); }
  void PaintShape(TBitmap32* B) override {
    const int l = ScreenLeft(), t = ScreenTop(), r = ScreenRight(), b = ScreenBottom();
    if (Vertical) {
      const int m = LocalYToScreen(DocHeight() / 2);
      B->FillRectClipped(l, t, r, m, cRed);
      B->FillRectClipped(l, m, r, b, cBlue);
    } else {
      const int m = LocalXToScreen(DocWidth() / 2);
      B->FillRectClipped(l, t, m, b, cRed);
      B->FillRectClipped(m, t, r, b, cBlue);
    }
  }
  bool Vertical = false;
};

class RenderTest : public ::testing::Test {
 protected:
  void SetUp() override { InitializeDtpShape(); }
  TdtpTwoTone* Make(float w, float h) {
    shape = NewShape<TdtpTwoTone>();
    shape->SetDocument(&doc);
    shape->SetDocBounds(0, 0, w, h);
    return shape.get();
  }
  TTestDocumentHost doc;
  std::unique_ptr<TdtpTwoTone> shape;
};

bool Near(TColor32 a, TColor32 b, int tol = 2) {
  for (int s = 0; s < 32; s += 8)
    if (std::abs(int((a >> s) & 255) - int((b >> s) & 255)) > tol) return false;
  return true;
}

}  // namespace

TEST_F(RenderTest, RotatedBufferSizeAndMatrix) {
  TdtpTwoTone* s = Make(10, 10);
  s->SetDocAngle(45);
  s->UpdateBuffer();
  ASSERT_NE(s->Buffer(), nullptr);
  EXPECT_EQ(s->Buffer()->Width(), 84);
  EXPECT_EQ(s->Buffer()->Height(), 84);
  const TdtpFloatPoint c = MapPoint(s->BufferMatrix(), 5, 5);
  EXPECT_NEAR(c.X, 41.76f, 0.05);
  EXPECT_NEAR(c.Y, 41.76f, 0.05);
  EXPECT_FALSE(s->RepaintFlag());
}

TEST_F(RenderTest, QuarterTurnPutsTheHalvesInPlace) {
  doc.Render = 2;
  TdtpTwoTone* s = Make(20, 10);
  s->SetDocAngle(90);
  s->UpdateBuffer();
  const TBitmap32* b = s->Buffer();
  ASSERT_EQ(b->Width(), 20);
  // The model gives 40; the affine rotation's cos 90 (about 6e-17, not 0) can add a row.
  ASSERT_GE(b->Height(), 40);
  ASSERT_LE(b->Height(), 41);
  // Local (5, 5) maps to (10, 30), local (15, 5) to (10, 10): the left half ends at the bottom.
  EXPECT_TRUE(Near(b->Pixel(10, 30), cRed));
  EXPECT_TRUE(Near(b->Pixel(10, 10), cBlue));
  const TdtpFloatPoint p = MapPoint(s->BufferMatrix(), 5, 5);
  EXPECT_NEAR(p.X, 10, 1e-4);
  EXPECT_NEAR(p.Y, 30, 1e-4);
}

TEST_F(RenderTest, MirrorAndFlip) {
  doc.Render = 2;
  TdtpTwoTone* s = Make(20, 10);
  s->SetMirrored(true);
  s->UpdateBuffer();
  EXPECT_EQ(s->Buffer()->Pixel(5, 10), cBlue);
  EXPECT_EQ(s->Buffer()->Pixel(35, 10), cRed);
  s->SetMirrored(false);
  s->Vertical = true;
  s->SetFlipped(true);
  s->UpdateBuffer();
  EXPECT_EQ(s->Buffer()->Pixel(20, 2), cBlue);
  EXPECT_EQ(s->Buffer()->Pixel(20, 17), cRed);
}

TEST_F(RenderTest, HalfAlphaChildIsMergedAtHalfOpacity) {
  doc.Render = 2;
  auto parent = NewShape<TdtpShape>();
  parent->SetDocument(&doc);
  parent->SetDocBounds(0, 0, 20, 20);
  parent->SetColor(platform::clWhite);
  auto child = NewShape<TdtpTwoTone>();
  TdtpTwoTone* c = child.get();
  parent->AddShape(std::move(child));
  c->SetDocBounds(5, 5, 10, 10);
  c->SetMasterAlpha(128);
  parent->UpdateBuffer();
  const TBitmap32* pb = parent->Buffer();
  ASSERT_EQ(pb->Width(), 40);
  // The parent's own pixels are transparent document colour; the child blends into them.
  const TColor32 merged = pb->Pixel(12, 20);
  EXPECT_EQ(raster::RedComponent(merged), 255);
  EXPECT_NEAR(raster::AlphaComponent(merged), 128, 2);
  EXPECT_EQ(pb->Pixel(2, 2) & 0xFF000000u, 0u);
  // The child's own buffer is unchanged.
  EXPECT_EQ(c->Buffer()->Pixel(2, 2), cRed);
  EXPECT_EQ(c->Buffer()->MasterAlpha(), 128u);
  EXPECT_EQ(c->Buffer()->DrawMode(), raster::dmBlend);
  // A change of the child flags the parent for a new render.
  EXPECT_FALSE(parent->RepaintFlag());
  c->SetDocLeft(6);
  EXPECT_TRUE(parent->RepaintFlag());
}

TEST_F(RenderTest, DirectPaintingWithoutBuffers) {
  doc.Screen = 2;
  auto page = NewShape<TdtpPage>();
  page->SetDocument(&doc);
  page->SetDocBounds(0, 0, 50, 40);
  page->SetSmartHitTest(false);
  auto child = NewShape<TdtpTwoTone>();
  TdtpTwoTone* c = child.get();
  c->SetSmartHitTest(false);
  page->AddShape(std::move(child));
  c->SetDocBounds(10, 10, 20, 10);
  EXPECT_FALSE(page->NeedsBuffer());
  EXPECT_FALSE(c->NeedsBuffer());
  TBitmap32 target;
  target.SetSize(120, 100);
  target.Clear(0xFF00FF00u);
  detail::TBitmap32Canvas canvas(&target);
  EXPECT_TRUE(page->PaintToCanvas(canvas.Canvas()));
  canvas.Release();
  EXPECT_EQ(page->Buffer(), nullptr);
  EXPECT_EQ(c->Buffer(), nullptr);
  EXPECT_EQ(target.Pixel(25, 25) & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(target.Pixel(55, 25) & 0xFFFFFF, 0x0000FFu);
  EXPECT_EQ(target.Pixel(5, 5) & 0xFFFFFF, 0xFFFFFFu);
  EXPECT_EQ(target.Pixel(115, 95) & 0xFFFFFF, 0x00FF00u);  // outside the page and its shadow
  // While the document paints for output, painting reports nothing painted.
  doc.Output = true;
  detail::TBitmap32Canvas canvas2(&target);
  EXPECT_FALSE(page->PaintToCanvas(canvas2.Canvas()));
}

TEST_F(RenderTest, PageOfShapesToPng) {
  doc.Render = 300 / 25.4f;
  doc.Helper = hmGrid;
  auto page = NewShape<TdtpPage>();
  page->SetDocument(&doc);
  page->SetDocBounds(0, 0, 100, 70);
  const float angles[] = {0, 30, 90, 200};
  for (int i = 0; i < 4; ++i) {
    auto s = NewShape<TdtpTwoTone>();
    TdtpTwoTone* raw = s.get();
    page->AddShape(std::move(s));
    raw->SetDocBounds(10 + i * 22, 15, 16, 10);
    raw->SetDocAngle(angles[i]);
    raw->SetMasterAlpha(i == 3 ? 128 : 255);
    raw->SetMirrored(i == 2);
  }
  auto g = NewShape<TdtpShape>();
  TdtpShape* group = g.get();
  page->AddShape(std::move(g));
  group->SetDocBounds(30, 40, 40, 20);
  group->SetDocAngle(15);
  auto inner = NewShape<TdtpTwoTone>();
  inner->Vertical = true;
  TdtpTwoTone* in = inner.get();
  group->AddShape(std::move(inner));
  in->SetDocBounds(5, 5, 30, 10);

  TBitmap32 out;
  out.SetSize(1000, 700);
  out.Clear(0xFF808080u);
  detail::TBitmap32Canvas canvas(&out);
  page->PaintTo(canvas.Canvas(), {0, 0, 1000, 700}, 0, 0, false, false);
  canvas.Release();
  QImage img(reinterpret_cast<const uchar*>(out.Bits()), 1000, 700, 4000, QImage::Format_RGB32);
  const std::string path = kdtest::OutputDir() + "/shape_render_page.png";
  ASSERT_TRUE(img.save(QString::fromStdString(path)));
  // The upright shape: red left half at (10..18, 15..25) mm, blue right half.
  EXPECT_EQ(out.Pixel(140, 200) & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(out.Pixel(220, 200) & 0xFFFFFF, 0x0000FFu);
  // The half-transparent one over white paper: a light blend.
  int light = 0;
  for (int x = 580; x < 760; ++x) {
    const TColor32 p = out.Pixel(x, 120);
    light += raster::RedComponent(p) > 200 && raster::GreenComponent(p) > 100 && raster::GreenComponent(p) < 160;
  }
  EXPECT_GT(light, 10);
}

TEST_F(RenderTest, ScreenPaintingThroughTheBuffer) {
  doc.Screen = 2;
  doc.ControlColor = 0x808080;
  for (float render : {2.0f, 4.0f}) {
    SCOPED_TRACE(render);
    doc.Render = render;
    auto page = NewShape<TdtpPage>();
    page->SetDocument(&doc);
    page->SetDocBounds(0, 0, 50, 40);
    auto child = NewShape<TdtpTwoTone>();
    TdtpTwoTone* c = child.get();
    page->AddShape(std::move(child));
    c->SetDocBounds(10, 10, 20, 10);
    ASSERT_TRUE(page->NeedsBuffer());
    TBitmap32 target;
    target.SetSize(120, 100);
    target.Clear(0xFF00FF00u);
    detail::TBitmap32Canvas canvas(&target);
    EXPECT_TRUE(page->PaintToCanvas(canvas.Canvas()));
    canvas.Release();
    ASSERT_NE(page->Buffer(), nullptr);
    EXPECT_EQ(page->Buffer()->Width(), int(51 * render + 0.5f));
    EXPECT_EQ(target.Pixel(25, 25) & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(target.Pixel(55, 25) & 0xFFFFFF, 0x0000FFu);
    EXPECT_EQ(target.Pixel(5, 5) & 0xFFFFFF, 0xFFFFFFu);
    EXPECT_EQ(target.Pixel(101, 1) & 0xFFFFFF, 0x808080u);  // the outset above the shadow: control colour
    EXPECT_EQ(target.Pixel(101, 5) & 0xFFFFFF, 0u);         // the shadow
    EXPECT_EQ(target.Pixel(115, 95) & 0xFFFFFF, 0x00FF00u);  // outside the page's screen rectangle
    // The screen rectangle: the bounds grown by the outsets, widened by half a pixel and rounded.
    platform::TRect r;
    page->GetScreenRect(r);
    EXPECT_EQ(r, (platform::TRect{0, 0, 102, 82}));
  }
}

// A shape reaching far beyond the view (a hostile file, a high zoom) still covers it: its
// screen positions do not wrap round in 32 bits. Painted directly, no buffer involved.
TEST_F(RenderTest, AShapeFarLargerThanTheViewIsDrawnWhereItIs) {
  for (float dpm : {cDefaultDpm, 60.0f}) {
    SCOPED_TRACE(dpm);
    doc.Screen = dpm;
    auto root = NewShape<TdtpShape>();
    root->SetDocument(&doc);
    root->SetDocBounds(0, 0, 100, 100);
    root->SetSmartHitTest(false);
    auto child = NewShape<TdtpTwoTone>();
    TdtpTwoTone* c = child.get();
    c->SetSmartHitTest(false);
    root->AddShape(std::move(child));
    // From 2 mm into the view to far right of it: the left half (red) fills the view from there.
    c->SetDocBounds(2, 0, 2e9f, 2e9f);
    const int edge = int(2 * dpm);
    platform::TRect r;
    c->GetScreenRect(r);
    EXPECT_LE(r.Left, edge);
    EXPECT_GT(r.Right, 1000);
    EXPECT_GT(r.Bottom, 1000);
    EXPECT_GT(r.Width(), 0);
    TBitmap32 target;
    target.SetSize(edge + 40, 30);
    target.Clear(0xFF00FF00u);
    {
      detail::TBitmap32Canvas canvas(&target);
      EXPECT_TRUE(root->PaintToCanvas(canvas.Canvas()));
    }
    EXPECT_EQ(target.Pixel(edge + 20, 15) & 0xFFFFFF, 0xFF0000u);
    EXPECT_NE(target.Pixel(edge - 3, 15) & 0xFFFFFF, 0xFF0000u);
    // Centred on the view: the right half (blue) covers all of it.
    c->SetDocBounds(-1e9f, -1e9f, 2e9f, 2e9f);
    c->GetScreenRect(r);
    EXPECT_LT(r.Left, 0);
    EXPECT_GT(r.Right, 1000);
    target.Clear(0xFF00FF00u);
    {
      detail::TBitmap32Canvas canvas(&target);
      EXPECT_TRUE(root->PaintToCanvas(canvas.Canvas()));
    }
    EXPECT_EQ(target.Pixel(1, 1) & 0xFFFFFF, 0x0000FFu);
    EXPECT_EQ(target.Pixel(edge + 39, 29) & 0xFFFFFF, 0x0000FFu);
  }
}

#if !defined(KD_SANITIZED)
// The address space limited to what is in use plus Spare bytes, until the end of the scope.
class TAddressSpaceLimit {
 public:
  explicit TAddressSpaceLimit(rlim_t Spare) {
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    if (pages <= 0 || getrlimit(RLIMIT_AS, &FOld) != 0) return;
    rlimit low = FOld;
    low.rlim_cur = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + Spare;
    Ok = setrlimit(RLIMIT_AS, &low) == 0;
  }
  ~TAddressSpaceLimit() {
    if (Ok) setrlimit(RLIMIT_AS, &FOld);
  }
  TAddressSpaceLimit(const TAddressSpaceLimit&) = delete;
  TAddressSpaceLimit& operator=(const TAddressSpaceLimit&) = delete;
  bool Ok = false;

 private:
  rlimit FOld{};
};

#endif

// A buffer the system cannot give memory for leaves the shape without one, and the view draws
// it directly, instead of the error ending the paint. (Memory is limited for the process, which
// the sanitizers' own allocator does not allow.)
TEST_F(RenderTest, ABufferThatCannotBeAllocatedLeavesTheShapeToDirectPainting) {
#if defined(KD_SANITIZED)
  GTEST_SKIP() << "address space limits do not work with the sanitizers";
#else
  doc.Render = 7.5f;  // 800 mm square: 6000 x 6000 pixels (144 MB), within the buffer limit
  TdtpTwoTone* s = Make(800, 800);
  ASSERT_TRUE(s->NeedsBuffer());
  TBitmap32 target;
  target.SetSize(40, 30);
  target.Clear(0xFF00FF00u);
  bool painted = false;
  std::string error;
  {
    TAddressSpaceLimit limit(rlim_t(96) << 20);
    ASSERT_TRUE(limit.Ok);
    try {
      detail::TBitmap32Canvas canvas(&target);
      painted = s->PaintToCanvas(canvas.Canvas());
    } catch (const std::exception& e) {
      error = e.what();
    }
  }
  EXPECT_EQ(error, "");
  EXPECT_TRUE(painted);
  ASSERT_NE(s->Buffer(), nullptr);
  EXPECT_TRUE(s->Buffer()->Empty());
  EXPECT_TRUE(s->RepaintFlag());  // tried again at the next paint
  EXPECT_EQ(target.Pixel(20, 15) & 0xFFFFFF, 0xFF0000u);
  // With memory to spare the next paint builds the buffer.
  EXPECT_TRUE(s->PaintToCanvas(detail::TBitmap32Canvas(&target).Canvas()));
  EXPECT_EQ(s->Buffer()->Width(), 6000);
  EXPECT_FALSE(s->RepaintFlag());
#endif
}

// A turned shape without memory for its upright drawing is drawn directly, not left out.
TEST_F(RenderTest, ATurnedShapeWithoutMemoryForItsUprightDrawingIsDrawnDirectly) {
#if defined(KD_SANITIZED)
  GTEST_SKIP() << "address space limits do not work with the sanitizers";
#else
  doc.Screen = 0.1f;
  doc.Render = 300 / 25.4f;  // upright 10630 x 4724 pixels (200 MB), turned 11000 x 5632 (248 MB)
  auto root = NewShape<TdtpShape>();
  root->SetDocument(&doc);
  root->SetSmartHitTest(false);
  root->SetDocBounds(0, 0, 1000, 600);
  auto child = NewShape<TdtpTwoTone>();
  TdtpTwoTone* s = child.get();
  root->AddShape(std::move(child));
  s->SetDocBoundsAngle(50, 100, 900, 400, 5);
  TBitmap32 target;
  target.SetSize(100, 60);
  {
    // Bitmaps keep the last large block let go; one of a small size gives back a larger one.
    TBitmap32 small;
    small.SetSize(1024, 1025);
  }
  std::vector<TColor32> seen;  // painted, then left, right and outside of the shape, at every paint
  seen.reserve(8);
  std::string error;
  {
    TAddressSpaceLimit limit(rlim_t(340) << 20);
    ASSERT_TRUE(limit.Ok);
    try {
      for (int i = 0; i < 2; ++i) {
        target.Clear(0xFF00FF00u);
        seen.push_back(root->PaintToCanvas(detail::TBitmap32Canvas(&target).Canvas()));
        for (const auto& [x, y] : {std::pair{20, 30}, {80, 30}, {50, 5}}) seen.push_back(target.Pixel(x, y) & 0xFFFFFF);
      }
    } catch (const std::exception& e) {
      error = e.what();
    }
  }
  EXPECT_EQ(error, "");
  EXPECT_EQ(seen, (std::vector<TColor32>{1, 0xFF0000, 0x0000FF, 0xFFFFFF, 1, 0xFF0000, 0x0000FF, 0xFFFFFF}));
  ASSERT_NE(s->Buffer(), nullptr);
  EXPECT_TRUE(s->Buffer()->Empty());
  EXPECT_TRUE(s->RepaintFlag());
#endif
}

// A child too large for a buffer of its own at the render resolution still shows on its page
// (which renders through its buffer): it is drawn straight into the page's pixels, also when
// the page later recomposes only what changed, at its master alpha, mirrored and turned.
TEST_F(RenderTest, AChildTooLargeForABufferIsDrawnIntoItsBufferedParent) {
  doc.Screen = 2;
  doc.Render = 300 / 25.4f;  // 3000 mm: more than 35000 pixels, no buffer
  auto page = NewShape<TdtpPage>();
  page->SetDocument(&doc);
  page->SetDocBounds(0, 0, 50, 40);
  auto big = NewShape<TdtpTwoTone>();
  TdtpTwoTone* b = big.get();
  page->AddShape(std::move(big));
  b->SetDocBounds(5, 20, 3000, 10);
  auto small = NewShape<TdtpTwoTone>();
  TdtpTwoTone* s = small.get();
  page->AddShape(std::move(small));
  s->SetDocBounds(30, 5, 10, 5);
  TBitmap32 target;
  target.SetSize(120, 100);
  auto paint = [&] {
    target.Clear(0xFF00FF00u);
    detail::TBitmap32Canvas canvas(&target);
    EXPECT_TRUE(page->PaintToCanvas(canvas.Canvas()));
  };
  paint();
  ASSERT_NE(page->Buffer(), nullptr);
  EXPECT_FALSE(page->Buffer()->Empty());
  ASSERT_NE(b->Buffer(), nullptr);
  EXPECT_TRUE(b->Buffer()->Empty());
  EXPECT_EQ(target.Pixel(50, 50) & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(target.Pixel(5, 50) & 0xFFFFFF, 0xFFFFFFu);  // left of it: the page
  EXPECT_EQ(target.Pixel(50, 65) & 0xFFFFFF, 0xFFFFFFu);  // below it
  EXPECT_EQ(target.Pixel(65, 12) & 0xFFFFFF, 0xFF0000u);  // the small one
  // Drawn, it is up to date: the next paint without a change renders nothing again.
  EXPECT_FALSE(b->RepaintFlag());
  const TBitmap32* built = page->Buffer();
  paint();
  EXPECT_EQ(page->Buffer(), built);
  EXPECT_EQ(target.Pixel(50, 50) & 0xFFFFFF, 0xFF0000u);
  // Moved, it is drawn where it is now.
  b->SetDocBounds(5, 25, 3000, 10);
  paint();
  EXPECT_EQ(target.Pixel(50, 68) & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(target.Pixel(50, 45) & 0xFFFFFF, 0xFFFFFFu);
  b->SetDocBounds(5, 20, 3000, 10);
  // A sibling moves over the big one: both show where they are now.
  s->SetDocBounds(20, 22, 10, 5);
  paint();
  EXPECT_EQ(target.Pixel(50, 50) & 0xFFFFFF, 0x0000FFu);  // the small one's right half on top
  EXPECT_EQ(target.Pixel(30, 50) & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(target.Pixel(90, 42) & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(target.Pixel(65, 12) & 0xFFFFFF, 0xFFFFFFu);  // where the small one was
  // At half opacity over the white page.
  s->SetVisible(false);
  b->SetMasterAlpha(128);
  paint();
  EXPECT_TRUE(Near(target.Pixel(50, 50), 0xFFFF7F7Fu, 3)) << std::hex << target.Pixel(50, 50);
  // Mirrored, or turned half round about its far end so that it covers the same place: drawn
  // upright at a resolution that fits, then turned into the page; its right half shows.
  b->SetMasterAlpha(255);
  b->SetMirrored(true);
  paint();
  EXPECT_EQ(target.Pixel(50, 50) & 0xFFFFFF, 0x0000FFu);
  EXPECT_EQ(target.Pixel(50, 65) & 0xFFFFFF, 0xFFFFFFu);
  b->SetMirrored(false);
  b->SetDocBoundsAngle(3005, 30, 3000, 10, 180);
  paint();
  EXPECT_EQ(target.Pixel(50, 50) & 0xFFFFFF, 0x0000FFu);
  EXPECT_EQ(target.Pixel(30, 45) & 0xFFFFFF, 0x0000FFu);
  EXPECT_EQ(target.Pixel(5, 50) & 0xFFFFFF, 0xFFFFFFu);
  EXPECT_EQ(target.Pixel(50, 65) & 0xFFFFFF, 0xFFFFFFu);
}

// A long, thin shape turned a little: its turned buffer fits one bitmap but the upright drawing
// it is turned from does not. It is drawn at a resolution that fits and turned into its buffer.
TEST_F(RenderTest, ALongThinTurnedShapeIsTurnedIntoItsBufferAtAResolutionThatFits) {
  doc.Screen = 2;
  doc.Render = 300 / 25.4f;
  auto page = NewShape<TdtpShape>();
  page->SetDocument(&doc);
  page->SetDocBounds(0, 0, 50, 40);
  auto line = NewShape<TdtpTwoTone>();
  TdtpTwoTone* c = line.get();
  page->AddShape(std::move(line));
  c->SetDocBoundsAngle(0, 0, 1397, 4, 350);  // 16500 pixels long upright; turned 16257 x 2911
  TBitmap32 target;
  target.SetSize(100, 80);
  target.Clear(0xFF00FF00u);
  {
    detail::TBitmap32Canvas canvas(&target);
    EXPECT_TRUE(page->PaintToCanvas(canvas.Canvas()));
  }
  ASSERT_NE(c->Buffer(), nullptr);
  EXPECT_GT(c->Buffer()->Width(), 16000);
  EXPECT_FALSE(c->RepaintFlag());
  // At 25 mm along, the band lies from 4.4 to 8.5 mm down.
  EXPECT_EQ(target.Pixel(50, 13) & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(target.Pixel(50, 5) & 0xFFFFFF, 0xFFFFFFu);
  EXPECT_EQ(target.Pixel(50, 20) & 0xFFFFFF, 0xFFFFFFu);
  EXPECT_EQ(target.Pixel(90, 22) & 0xFFFFFF, 0xFF0000u);
}

namespace {
// A drawing that fails: from its shape painting, with an engine error or a library one.
class TdtpFailing : public TdtpShape {
 public:
  static const TShapeClass& StaticClass() {
    static const TShapeClass cls = MakeShapeClass<TdtpFailing>("TdtpFailing", &TdtpShape::StaticClass());
    return cls;
  }
  const TShapeClass& Class() const override { return StaticClass(); }
  void PaintShape(TBitmap32* B) override {
    ++Calls;
    B->FillRectClipped(ScreenLeft(), ScreenTop(), ScreenRight(), ScreenBottom(), 0xFF00FF00u);  // half drawn
    if (Engine) throw platform::EInvalidOperation("bad drawing");
    throw std::runtime_error("bad drawing");
  }
  bool Engine = true;
  int Calls = 0;
};
}  // namespace

// A shape that throws while painting is left out of that paint; its siblings and the page
// still show, on every path (direct, through the buffers, page output), paint after paint, and
// the result is the page as it would be without the failing shapes.
TEST_F(RenderTest, AShapeThatFailsToPaintIsSkipped) {
  for (int path = 0; path < 3; ++path) {
    SCOPED_TRACE(path);
    doc.Screen = 2;
    doc.Render = path == 1 ? 4 : cDefaultDpm;
    doc.Output = false;
    std::vector<TdtpFailing*> failing;
    auto makePage = [&](bool withFailing) {
      auto page = NewShape<TdtpPage>();
      page->SetDocument(&doc);
      page->SetDocBounds(0, 0, 50, 40);
      page->SetSmartHitTest(path == 1);  // the buffered path renders children into buffers too
      auto add = [&](auto shape, float l, float t) {
        auto* raw = shape.get();
        raw->SetSmartHitTest(path == 1);
        page->AddShape(std::move(shape));
        raw->SetDocBounds(l, t, 10, 10);
        return raw;
      };
      add(NewShape<TdtpTwoTone>(), 5, 5);
      if (withFailing) {
        failing = {add(NewShape<TdtpFailing>(), 20, 5), add(NewShape<TdtpFailing>(), 5, 20)};
        failing[1]->Engine = false;
      }
      add(NewShape<TdtpTwoTone>(), 35, 20);
      return page;
    };
    auto paint = [&](TdtpPage* page) {
      auto target = std::make_unique<TBitmap32>();
      target->SetSize(120, 100);
      target->Clear(0xFF808080u);
      detail::TBitmap32Canvas canvas(target.get());
      bool painted = true;
      if (path == 2)
        EXPECT_NO_THROW(page->PaintTo(canvas.Canvas(), {0, 0, 100, 80}, 0, 0, false, false));
      else
        EXPECT_NO_THROW(painted = page->PaintToCanvas(canvas.Canvas()));
      EXPECT_TRUE(painted);
      canvas.Release();
      return target;
    };
    auto good = makePage(false);
    const auto want = paint(good.get());
    auto bad = makePage(true);
    ASSERT_EQ(bad->NeedsBuffer(), path == 1);
    for (int n = 1; n <= 2; ++n) {
      const auto got = paint(bad.get());
      EXPECT_EQ(got->Pixel(15, 12) & 0xFFFFFF, 0xFF0000u);
      EXPECT_EQ(got->Pixel(25, 12) & 0xFFFFFF, 0x0000FFu);
      EXPECT_EQ(got->Pixel(75, 50) & 0xFFFFFF, 0xFF0000u);
      EXPECT_EQ(got->Pixel(85, 50) & 0xFFFFFF, 0x0000FFu);
      int differ = 0;
      for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 120; ++x) differ += got->Pixel(x, y) != want->Pixel(x, y);
      EXPECT_EQ(differ, 0);
      EXPECT_EQ(failing[0]->Calls, n);
      EXPECT_EQ(failing[1]->Calls, n);
    }
  }
}

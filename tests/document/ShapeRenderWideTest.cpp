// The wide paths of shape rendering against their one-pixel references: children merged a
// row at a time versus pixel by pixel, the alpha fix-up after GDI drawing, and a page kept up to
// date through random edits (recomposing only the changed pixels) versus one rendered afresh.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

#include "DocumentTestSupport.h"
#include "document/dtpPage.h"
#include "document/dtpShape.h"
#include "document/dtpShapeRenderPriv.h"
#include "tests/common/TestSupport.h"

using namespace document;
using kdtest::TTestDocumentHost;

namespace {

// Random pixels of random alpha over the whole buffer, the same for the same seed.
class TNoiseShape : public TdtpShape {
 public:
  void PaintShape(TBitmap32* B) override {
    std::mt19937 rng(Seed);
    for (int32_t y = 0; y < B->Height(); ++y)
      for (int32_t x = 0; x < B->Width(); ++x) {
        const uint32_t v = rng();
        B->SetPixel(x, y, (v & 7) == 0 ? (v & 0x00FFFFFFu) : v);
      }
  }
  uint32_t Seed = 0;
};

std::vector<TColor32> Pixels(const TBitmap32* B) { return {B->Bits(), B->Bits() + size_t(B->Width()) * B->Height()}; }

// A 60 x 40 mm page with children at random places (some partly off the page), sizes, angles
// and master alphas, some with children of their own.
struct NoisePage {
  TTestDocumentHost host;
  std::unique_ptr<TdtpPage> page;
  std::vector<TNoiseShape*> shapes;
  explicit NoisePage(uint32_t Seed) {
    InitializeDtpShape();
    host.Render = 3;
    page = NewShape<TdtpPage>();
    page->SetDocument(&host);
    page->SetDocBounds(0, 0, 60, 40);
    std::mt19937 rng(Seed);
    auto uni = [&](float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(rng); };
    for (int i = 0; i < 24; ++i) {
      auto s = NewShape<TNoiseShape>();
      TNoiseShape* raw = s.get();
      raw->Seed = rng();
      page->AddShape(std::move(s));
      raw->SetDocBounds(uni(-10, 60), uni(-10, 40), uni(0.5f, 20), uni(0.5f, 15));
      if (rng() % 3 == 0) raw->SetDocAngle(uni(0, 360));
      if (rng() % 2 == 0) raw->SetMasterAlpha(int32_t(rng() % 256));
      if (rng() % 4 == 0) {
        auto c = NewShape<TNoiseShape>();
        c->Seed = rng();
        TNoiseShape* cr = c.get();
        raw->AddShape(std::move(c));
        cr->SetDocBounds(uni(-2, 5), uni(-2, 5), uni(1, 6), uni(1, 6));
        cr->SetMasterAlpha(int32_t(rng() % 256));
      }
      shapes.push_back(raw);
    }
  }
};

}  // namespace

TEST(ShapeRenderWide, RowMergeGivesThePixelMergesResult) {
  for (uint32_t seed = 1; seed <= 12; ++seed) {
    NoisePage a(seed), b(seed);
    detail::SetWideMerge(true);
    a.page->UpdateBuffer();
    detail::SetWideMerge(false);
    b.page->UpdateBuffer();
    ASSERT_TRUE(a.page->Buffer() && !a.page->Buffer()->Empty());
    ASSERT_EQ(Pixels(a.page->Buffer()), Pixels(b.page->Buffer())) << "seed " << seed;
    // One shape moved: the cached children are merged again.
    a.shapes[seed % 24]->SetDocLeft(a.shapes[seed % 24]->DocLeft() + 1.3f);
    b.shapes[seed % 24]->SetDocLeft(b.shapes[seed % 24]->DocLeft() + 1.3f);
    detail::SetWideMerge(true);
    a.page->UpdateBuffer();
    detail::SetWideMerge(false);
    b.page->UpdateBuffer();
    detail::SetWideMerge(true);
    ASSERT_EQ(Pixels(a.page->Buffer()), Pixels(b.page->Buffer())) << "seed " << seed << " after a move";
  }
}

TEST(ShapeRenderWide, FixGdiAlphaMatchesThePixelRule) {
  InitializeDtpShape();
  auto shape = NewShape<TNoiseShape>();
  std::mt19937 rng(3);
  for (int w = 1; w <= 13; ++w)
    for (int h = 1; h <= 3; ++h) {
      TBitmap32 bmp;
      bmp.SetSize(w, h);
      std::vector<TColor32> ref(size_t(w) * h);
      for (size_t i = 0; i < ref.size(); ++i) {
        const uint32_t v = rng();
        bmp.Bits()[i] = (v & 3) == 0 ? (v & 0x00FFFFFFu) : v;
      }
      const TColor32 color = rng();
      for (size_t i = 0; i < ref.size(); ++i) {
        const TColor32 p = bmp.Bits()[i];
        ref[i] = (p >> 24) ? (color & 0x00FFFFFFu) : (p | 0xFF000000u);
      }
      shape->FixGdiAlpha(&bmp, color);
      ASSERT_EQ(Pixels(&bmp), ref) << w << "x" << h;
    }
}

namespace {

// One random edit, the same on every page given the same draw: move, resize, rotate, mirror,
// hide, recolour, transparency, delete, add, z-order, paint outsets (drawing beyond the bounds,
// as shadows do), a grandchild moved, the page resized or repainted, the document switched
// between screen and output painting along with a child's move.
void RandomEdit(TdtpPage* Page, uint32_t Draw) {
  std::mt19937 rng(Draw);
  auto uni = [&](float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(rng); };
  const int32_t n = Page->GetShapeCount();
  auto* s = n > 0 ? static_cast<TNoiseShape*>(Page->GetShape(int32_t(rng() % uint32_t(n)))) : nullptr;
  const uint32_t kind = rng() % 15;
  if (!s || kind == 8) {
    auto c = NewShape<TNoiseShape>();
    c->Seed = rng();
    TNoiseShape* raw = c.get();
    Page->AddShape(std::move(c));
    raw->SetDocBounds(uni(-5, 55), uni(-5, 35), uni(1, 15), uni(1, 12));
    return;
  }
  switch (kind) {
    case 0: s->SetDocLeft(s->DocLeft() + uni(-4, 4)); break;
    case 1: s->SetDocWidth(uni(0.5f, 18)); break;
    case 2: s->SetDocAngle(uni(0, 360)); break;
    case 3: s->SetMirrored(!s->Mirrored()); break;
    case 4: s->SetVisible(!s->Visible()); break;
    case 5:
      s->Seed = rng();
      s->Refresh();
      break;
    case 6: s->SetMasterAlpha(int32_t(rng() % 256)); break;
    case 7: Page->DeleteShape(Page->IndexOfShape(s)); break;
    case 9: s->SetPaintOutsets(uni(0, 3), uni(0, 3), uni(0, 3), uni(0, 3)); break;
    case 10:
      if (s->GetShapeCount() > 0) s->GetShape(0)->SetDocTop(s->GetShape(0)->DocTop() + uni(-2, 2));
      else s->SetDocTop(s->DocTop() + uni(-3, 3));
      break;
    case 11: Page->SetDocWidth(uni(50, 70)); break;
    case 12: Page->ClearBuffer(); break;
    case 13:
      // (A change the page is not told of shows once a child's change recomposes the page.)
      Page->Document()->SetOutputRendering(!Page->Document()->OutputRendering());
      s->SetDocLeft(s->DocLeft() + uni(-4, 4));
      break;
    default: Page->MoveShapeIndex(Page->IndexOfShape(s), int32_t(rng() % uint32_t(n))); break;
  }
}

}  // namespace

// A page brought up to date after each edit (cached children, the page's single clear pass)
// shows what a page rendered from nothing, pass by pass, shows.
TEST(ShapeRenderWide, EditedPageMatchesAFullRender) {
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    NoisePage fast(seed), ref(seed);
    fast.page->UpdateBuffer();
    std::mt19937 draws(seed * 7919);
    for (int step = 0; step < 40; ++step) {
      if (step > 0) {
        const uint32_t draw = draws();
        RandomEdit(fast.page.get(), draw);
        RandomEdit(ref.page.get(), draw);
        fast.page->UpdateBuffer();
      }
      detail::SetPlainGdiShortcut(false);
      ref.page->FreeBuffersAll();
      ref.page->UpdateBuffer();
      detail::SetPlainGdiShortcut(true);
      ASSERT_TRUE(fast.page->Buffer() && ref.page->Buffer());
      ASSERT_EQ(Pixels(fast.page->Buffer()), Pixels(ref.page->Buffer())) << "seed " << seed << " step " << step;
    }
  }
}

namespace {

// The paper of a test page: its own settings, the document's helper and view.
struct TPaper {
  TdtpHelperMethodtype Helper;
  bool Output, Image, Tiled, Margins;
  TdtpViewStyleType Style;
  platform::TColor Color;
};

void UsePaper(NoisePage& P, const TPaper& Paper) {
  P.host.Helper = Paper.Helper;
  P.host.Output = Paper.Output;
  P.host.Margins = Paper.Margins;
  P.host.Style = Paper.Style;
  TdtpPage* page = P.page.get();
  page->SetIsDefaultPage(false);
  page->SetPageColor(Paper.Color);
  page->SetGridSize(4);
  page->SetGridColor(0x3050A0);
  page->SetMargins(6, 5.5f, 7, 4);
  if (Paper.Image) {
    auto img = std::make_unique<TBitmap32>();
    img->SetSize(37, 23);
    std::mt19937 rng(11);
    for (int32_t i = 0; i < 37 * 23; ++i) img->Bits()[i] = rng() | 0x80000000u;
    page->SetBackgroundImage(std::move(img));
    page->SetBackgroundTiled(Paper.Tiled);
  }
}

}  // namespace

// The page's own painting skips the clear where its paper covers, and its kept layer shares
// equal rows: on every kind of paper, fresh and after edits, the page shows what the pass by
// pass render shows.
TEST(ShapeRenderWide, EveryPaperMatchesThePassByPassRender) {
  const TPaper papers[] = {
      {hmNone, false, false, false, true, vsPrintLayout, 0xFFFFFF},
      {hmNone, false, false, false, false, vsNormal, 0x2080E0},
      {hmGrid, false, false, false, true, vsPrintLayout, 0xC0FFC0},
      {hmDots, false, false, false, true, vsPrintLayout, 0xFFFFFF},
      {hmPattern, false, false, false, true, vsPrintLayout, 0xFFFFFF},
      {hmPattern, false, true, true, false, vsPrintLayout, 0xFFFFFF},  // the pattern hides the image
      {hmPattern, true, false, false, true, vsPrintLayout, 0x808080},  // output: no pattern
      {hmNone, false, true, false, true, vsPrintLayout, 0xFFFFFF},
      {hmGrid, false, true, true, true, vsNormal, 0xFFFFFF},
      {hmNone, true, true, true, false, vsPrintLayout, 0xFFFFFF},
  };
  uint32_t seed = 0;
  for (const TPaper& paper : papers) {
    ++seed;
    NoisePage fast(seed), ref(seed);
    UsePaper(fast, paper);
    UsePaper(ref, paper);
    fast.page->UpdateBuffer();
    std::mt19937 draws(seed * 104729);
    for (int step = 0; step < 12; ++step) {
      if (step > 0) {
        const uint32_t draw = draws();
        RandomEdit(fast.page.get(), draw);
        RandomEdit(ref.page.get(), draw);
        fast.page->UpdateBuffer();
      }
      detail::SetPlainGdiShortcut(false);
      ref.page->FreeBuffersAll();
      ref.page->UpdateBuffer();
      detail::SetPlainGdiShortcut(true);
      ASSERT_TRUE(fast.page->Buffer() && ref.page->Buffer());
      ASSERT_EQ(Pixels(fast.page->Buffer()), Pixels(ref.page->Buffer())) << "paper " << seed << " step " << step;
    }
  }
}

// What the page's background covers with opaque pixels: the page rectangle within the bitmap
// for its colour or checker pattern, nothing when an image is drawn.
TEST(ShapeRenderWide, PageBackgroundCoverIsThePaperItPaints) {
  NoisePage p(5);
  UsePaper(p, {hmNone, false, false, false, true, vsPrintLayout, 0xFFFFFF});
  p.page->UpdateBuffer();
  const TBitmap32* buf = p.page->Buffer();
  ASSERT_TRUE(buf && !buf->Empty());
  // 60 x 40 mm at 3 dots per mm, 1 mm of shadow right and below (61 x 41 mm, rounded up).
  EXPECT_EQ(buf->Width(), 184);
  EXPECT_EQ(buf->Height(), 124);
  EXPECT_EQ(detail::PageBackgroundCover(p.page.get(), buf), (platform::TRect{0, 0, 180, 120}));
  TBitmap32 small;
  small.SetSize(100, 50);
  EXPECT_EQ(detail::PageBackgroundCover(p.page.get(), &small), (platform::TRect{0, 0, 100, 50}));
  EXPECT_TRUE(platform::IsRectEmpty(detail::PageBackgroundCover(p.page.get(), nullptr)));
  auto img = std::make_unique<TBitmap32>();
  img->SetSize(4, 4);
  img->Clear(0xFF000000u);
  p.page->SetBackgroundImage(std::move(img));
  EXPECT_TRUE(platform::IsRectEmpty(detail::PageBackgroundCover(p.page.get(), buf)));
  p.host.Helper = hmPattern;
  EXPECT_EQ(detail::PageBackgroundCover(p.page.get(), buf), (platform::TRect{0, 0, 180, 120}));
  p.host.Output = true;
  EXPECT_TRUE(platform::IsRectEmpty(detail::PageBackgroundCover(p.page.get(), buf)));
}

#include "document/dtpPage.h"

#include <gtest/gtest.h>

#include "DocumentTestSupport.h"
#include "document/XmlDocuments.h"
#include "document/dtpShapeRenderPriv.h"

using namespace document;
using kdtest::TTestDocumentHost;

namespace {

// Fills its device rectangle with red.
class TdtpRedShape : public TdtpShape {
 public:
  static const TShapeClass& StaticClass() {
    static const TShapeClass cls = MakeShapeClass<TdtpRedShape>("TdtpRedShape", &TdtpShape::StaticClass());
    return cls;
  }
  const TShapeClass& Class() const override { return StaticClass(); }
  void PaintShape(TBitmap32* B) override {
    B->FillRectClipped(ScreenLeft(), ScreenTop(), ScreenRight(), ScreenBottom(), 0xFFFF0000u);
  }
};

class PageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitializeDtpShape();
    InitializeDtpPage();
    RegisterShapeClass(TdtpRedShape::StaticClass());
    page = NewShape<TdtpPage>();
    page->SetDocument(&doc);
  }
  TTestDocumentHost doc;
  std::unique_ptr<TdtpPage> page;
};

constexpr TColor32 cGrid = 0xFFC0FFFFu;  // $FFFFC0 as a pixel

}  // namespace

TEST_F(PageTest, Defaults) {
  EXPECT_EQ(page->DocWidth(), 210.0f);
  EXPECT_EQ(page->DocHeight(), 297.0f);
  EXPECT_TRUE(page->IsDefaultPage());
  EXPECT_TRUE(page->Loaded());
  EXPECT_EQ(page->GridSize(), 5.0f);
  EXPECT_EQ(page->GridColor(), 0xFFFFC0);
  EXPECT_EQ(page->CurbRight(), 1.0f);
  EXPECT_EQ(page->CurbBottom(), 1.0f);
  EXPECT_EQ(page->CurbLeft(), 0.0f);
  EXPECT_EQ(&FindShapeClass("TdtpPage"), &TdtpPage::StaticClass());
  EXPECT_STREQ(PaperSizes[3].Name, "Letter");
  EXPECT_EQ(PaperSizes[4].Height, 431.7f);
  EXPECT_EQ(page->GetName(), "Page 0");
  doc.PageIndex = 2;
  EXPECT_EQ(page->GetName(), "Page 3");
  page->SetName("Cover");
  EXPECT_EQ(page->GetName(), "Cover");
}

TEST_F(PageTest, SnapsToTheEffectiveGrid) {
  doc.GridSize = 10;
  TdtpFloatPoint p{12.4f, 15};
  page->SnapPoint(p);
  EXPECT_EQ(p, (TdtpFloatPoint{10, 20}));
  p = {25, 5};
  page->SnapPoint(p);
  EXPECT_EQ(p, (TdtpFloatPoint{20, 0}));
  // A shape on the page snaps through it.
  auto s = NewShape<TdtpShape>();
  TdtpShape* raw = s.get();
  page->AddShape(std::move(s));
  raw->SetDocBounds(3, 3, 5, 5);
  p = {4, 4};
  raw->SnapPoint(p);
  EXPECT_EQ(p, (TdtpFloatPoint{7, 7}));
  doc.GridSize = 0;
  p = {12.4f, 15};
  page->SnapPoint(p);
  EXPECT_EQ(p, (TdtpFloatPoint{12.4f, 15}));
  // Its own grid when it is not a default page.
  page->SetIsDefaultPage(false);
  page->SetGridSize(4);
  p = {6, 9};
  page->SnapPoint(p);
  EXPECT_EQ(p, (TdtpFloatPoint{8, 8}));
}

TEST_F(PageTest, GridLinesAndDots) {
  doc.Render = 2;
  doc.Style = vsNormal;
  doc.Margins = false;
  doc.Helper = hmGrid;
  page->UpdateBuffer();
  const TBitmap32* b = page->Buffer();
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->Width(), 422);
  int lines = 0;
  for (int x = 0; x < b->Width(); ++x) lines += b->Pixel(x, 5) == cGrid;
  EXPECT_EQ(lines, 41);
  EXPECT_EQ(b->Pixel(10, 1), cGrid);     // from one pixel below the top
  EXPECT_NE(b->Pixel(10, 0), cGrid);
  EXPECT_EQ(b->Pixel(10, 592), cGrid);   // to two pixels above the bottom
  EXPECT_NE(b->Pixel(10, 593), cGrid);
  doc.Helper = hmDots;
  page->RefreshAll();
  page->UpdateBuffer();
  b = page->Buffer();
  int dots = 0;
  for (int x = 0; x < b->Width(); ++x) dots += b->Pixel(x, 10) == cGrid;
  EXPECT_EQ(dots, 42);
  EXPECT_NE(b->Pixel(10, 5), cGrid);
  // A pitch under two device pixels is not drawn.
  doc.Render = 0.3f;
  doc.Helper = hmGrid;
  page->FreeBuffersAll();
  page->UpdateBuffer();
  b = page->Buffer();
  int any = 0;
  for (int x = 0; x < b->Width(); ++x)
    for (int y = 0; y < b->Height(); ++y) any += b->Pixel(x, y) == cGrid;
  EXPECT_EQ(any, 0);
}

TEST_F(PageTest, PatternFrameAndShadow) {
  doc.Render = 1;
  doc.Helper = hmPattern;
  doc.Margins = false;
  page->UpdateBuffer();
  const TBitmap32* b = page->Buffer();
  EXPECT_EQ(b->Pixel(1, 1), 0xFFB0B0B0u);
  EXPECT_EQ(b->Pixel(9, 1), 0xFFFFFFFFu);
  EXPECT_EQ(b->Pixel(9, 9), 0xFFB0B0B0u);
  EXPECT_EQ(b->Pixel(0, 0), 0xFF000000u);      // page frame
  EXPECT_EQ(b->Pixel(210, 100), 0xFF000000u);  // shadow right of the page
  EXPECT_EQ(b->Pixel(100, 297), 0xFF000000u);  // and below it
  EXPECT_EQ(b->Pixel(210, 0), raster::SetAlpha(page->GetFillColor32(), 0));  // above the shadow: empty
}

TEST_F(PageTest, TiledBackground) {
  page->SetIsDefaultPage(false);
  auto img = std::make_unique<TBitmap32>();
  img->SetSize(150, 150);
  for (int y = 0; y < 150; ++y)
    for (int x = 0; x < 150; ++x) img->SetPixel(x, y, raster::Color32(y, 255 - y, 7));
  page->SetBackgroundImage(std::move(img));
  page->SetBackgroundTiled(true);
  doc.Style = vsNormal;
  doc.Margins = false;
  page->UpdateBuffer();
  const TBitmap32* b = page->Buffer();
  ASSERT_EQ(b->Height(), 1754 + 6);
  // Tiles of 25.4 mm are 150 pixels at 150 DPI; the last row (from 1650) is cut at 1754.
  for (int k : {0, 40, 100, 103}) {
    const TColor32 c = b->Pixel(75, 1650 + k);
    EXPECT_NEAR(raster::RedComponent(c), k, 1) << k;
  }
  EXPECT_NEAR(raster::RedComponent(b->Pixel(75, 160)), 10, 1);
  EXPECT_NE(raster::BlueComponent(b->Pixel(75, 1755)), 7);  // below the page
}

// Tiles smaller than a pixel still cover the page: each pixel shows a whole tile.
TEST_F(PageTest, TilesSmallerThanAPixelStillCoverThePage) {
  page->SetIsDefaultPage(false);
  page->SetPageColor(0x00FF00);
  doc.Style = vsNormal;
  doc.Margins = false;
  page->SetBackgroundTiled(true);
  // One colour: a 1 x 1 image, and a 4 x 4 one whose tiles are under a pixel only at 1 dpm.
  for (const int side : {1, 4}) {
    auto img = std::make_unique<TBitmap32>();
    img->SetSize(side, side);
    img->Clear(0xFFFF0000u);
    page->SetBackgroundImage(std::move(img));
    for (const float render : {5.905512f, 4.0f, 2.0f, 1.0f}) {
      SCOPED_TRACE(testing::Message() << side << " " << render);
      doc.Render = render;
      page->FreeBuffersAll();
      page->UpdateBuffer();
      const TBitmap32* b = page->Buffer();
      ASSERT_NE(b, nullptr);
      const int right = int(210 * render) - 1, bottom = int(297 * render) - 1;  // inside the page
      for (const int y : {0, 37, bottom})
        for (const int x : {0, 50, right}) EXPECT_EQ(b->Pixel(x, y), 0xFFFF0000u) << x << " " << y;
    }
  }
  // A tall image is squeezed across but still tiles down the page: 1 x 60 pixels are tiles of
  // 0.34 x 20.3 pixels at 2 dpm, red at their top and blue below.
  auto img = std::make_unique<TBitmap32>();
  img->SetSize(1, 60);
  img->FillRect(0, 0, 1, 30, 0xFFFF0000u);
  img->FillRect(0, 30, 1, 60, 0xFF0000FFu);
  page->SetBackgroundImage(std::move(img));
  doc.Render = 2;
  page->FreeBuffersAll();
  page->UpdateBuffer();
  const TBitmap32* b = page->Buffer();
  for (const int x : {0, 100, 300}) {
    EXPECT_EQ(b->Pixel(x, 2), 0xFFFF0000u) << x;
    EXPECT_EQ(b->Pixel(x, 18), 0xFF0000FFu) << x;
    EXPECT_EQ(b->Pixel(x, 22), 0xFFFF0000u) << x;  // the second row of tiles starts at 20
  }
}

TEST_F(PageTest, XmlOfDefaultAndOwnPages) {
  TXmlDocument xml("Page");
  page->SaveToXml(xml.Root());
  EXPECT_EQ(xml.Root()->GetNode(0)->Name(), "IsDefaultPage");
  EXPECT_EQ(xml.Root()->GetNode(1)->Name(), "ClassName");
  EXPECT_EQ(xml.Root()->NodeByName("MarginLeft"), nullptr);
  EXPECT_EQ(xml.Root()->NodeByName("PageColor"), nullptr);

  page->SetIsDefaultPage(false);
  page->SetMargins(1, 2, 3, 4);
  page->SetPageColor(0);  // black must survive
  page->SetGridSize(7.5f);
  page->SetDocBounds(0, 0, 100, 50);
  auto img = std::make_unique<TBitmap32>();
  img->SetSize(3, 2);
  img->Clear(0xFF112233u);
  page->SetBackgroundImage(std::move(img));
  page->AddShape(NewShape<TdtpRedShape>());
  TXmlDocument own("Page");
  own.SetWriteOnDefault(0);
  page->SaveToXml(own.Root());
  const char* order[] = {"IsDefaultPage", "MarginLeft", "MarginTop", "MarginRight", "MarginBottom", "GridSize",
                         "GridColor", "PageColor", "PageWidth", "PageHeight", "BackgroundImage"};
  for (int i = 0; i < 11; ++i) EXPECT_EQ(own.Root()->GetNode(i)->Name(), order[i]) << i;
  EXPECT_EQ(own.Root()->ReadString("PageColor"), "$00000000");
  EXPECT_EQ(own.Root()->ReadString("GridColor"), "$00FFFFC0");

  TXmlDocument back;
  back.ReadFromString(own.WriteToString());
  TTestDocumentHost doc2;
  auto p2 = NewShape<TdtpPage>();
  p2->SetDocument(&doc2);
  p2->SetModified(true);
  EXPECT_TRUE(p2->ThumbnailStale());
  p2->LoadFromXml(back.Root());
  EXPECT_FALSE(p2->ThumbnailStale());
  EXPECT_FALSE(p2->IsDefaultPage());
  EXPECT_EQ(p2->PageColor(), 0);
  EXPECT_EQ(p2->MarginRight(), 3.0f);
  EXPECT_EQ(p2->GridSize(), 7.5f);
  EXPECT_EQ(p2->DocWidth(), 100.0f);
  ASSERT_NE(p2->BackgroundImage(), nullptr);
  EXPECT_EQ(p2->BackgroundImage()->Pixel(2, 1), 0xFF112233u);
  EXPECT_FALSE(p2->BackgroundTiled());
  ASSERT_EQ(p2->GetShapeCount(), 1);
  EXPECT_EQ(p2->GetShape(0)->ClassName(), "TdtpRedShape");
  EXPECT_TRUE(doc2.Commands.empty());
  // A missing "PageColor" reads white.
  back.Root()->NodeDelete(back.Root()->NodeIndexByName("PageColor"));
  p2->LoadFromXml(back.Root());
  EXPECT_EQ(p2->PageColor(), 0xFFFFFF);
}

namespace {

// Paints a 20 x 10 mm page with a red 5 x 5 mm square at its top-left into a target.
struct Printed {
  TBitmap32 target;
  bool RedAt(int x, int y) const { return (target.Pixel(x, y) & 0xFFFFFF) == 0xFF0000; }
};

}  // namespace

TEST_F(PageTest, PaintToTurnsMirrorsAndFlips) {
  page->SetDocBounds(0, 0, 20, 10);
  auto red = NewShape<TdtpRedShape>();
  red->SetDocBounds(0, 0, 5, 5);
  page->AddShape(std::move(red));
  page->SetViewPosition(3, 4);
  doc.Helper = hmPattern;
  doc.Origin = {1, 2};
  doc.Screen = 3;
  doc.Render = 4;
  doc.ProgTotal = 2;
  doc.ProgCount = 1;
  doc.Commands.clear();
  struct Case {
    int rot;
    bool mirror, flip;
    int w, h;
    int rx, ry;  // a point that must be red
    int wx, wy;  // a point that must be page white
  } cases[] = {
      {0, false, false, 200, 100, 25, 25, 175, 75},
      {1, false, false, 100, 200, 25, 175, 75, 25},
      {2, false, false, 200, 100, 175, 75, 25, 25},
      {3, false, false, 100, 200, 75, 25, 25, 175},
      {0, true, false, 200, 100, 175, 25, 25, 25},
      {0, false, true, 200, 100, 25, 75, 25, 25},
      {1, true, true, 100, 200, 75, 25, 25, 175},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.rot << c.mirror << c.flip);
    Printed p;
    p.target.SetSize(c.w, c.h);
    p.target.Clear(0xFF00FF00u);
    detail::TBitmap32Canvas canvas(&p.target);
    page->PaintTo(canvas.Canvas(), {0, 0, c.w, c.h}, 0, c.rot, c.mirror, c.flip);
    canvas.Release();
    EXPECT_TRUE(p.RedAt(c.rx, c.ry));
    EXPECT_EQ(p.target.Pixel(c.wx, c.wy) & 0xFFFFFF, 0xFFFFFFu);  // no checker in output
    // Everything changed for the print is back.
    EXPECT_EQ(doc.Origin, (TdtpFloatPoint{1, 2}));
    EXPECT_EQ(doc.Screen, 3.0f);
    EXPECT_EQ(doc.Render, 4.0f);
    EXPECT_EQ(doc.Printing, 0);
    EXPECT_TRUE(doc.Output);  // until the next screen paint
  }
  EXPECT_EQ(doc.ProgressTypes.back(), 2);
  EXPECT_FLOAT_EQ(doc.Progress.back(), 0.5f);
  EXPECT_TRUE(doc.Commands.empty());  // printing records no undo steps
}

TEST_F(PageTest, PaintToCentresAndSplitsLargeRenders) {
  page->SetDocBounds(0, 0, 20, 10);
  page->SetDocAngle(30);
  auto red = NewShape<TdtpRedShape>();
  red->SetDocBounds(0, 0, 5, 5);
  page->AddShape(std::move(red));
  doc.Commands.clear();
  // 2000 x 1000 render pixels: over the band limit, drawn in two halves.
  TBitmap32 target;
  target.SetSize(2000, 1200);
  target.Clear(0xFF00FF00u);
  detail::TBitmap32Canvas canvas(&target);
  page->PaintTo(canvas.Canvas(), {0, 0, 2000, 1200}, 0, 0, false, false);
  canvas.Release();
  EXPECT_EQ(target.Pixel(10, 50) & 0xFFFFFF, 0x00FF00u);  // above the centred page
  EXPECT_EQ(target.Pixel(10, 150) & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(target.Pixel(499, 599) & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(target.Pixel(1000, 600) & 0xFFFFFF, 0xFFFFFFu);
  EXPECT_EQ(target.Pixel(1999, 1099) & 0xFFFFFF, 0xFFFFFFu);
  EXPECT_EQ(page->DocAngle(), 30.0f);
  EXPECT_TRUE(doc.Commands.empty());
}

// Rendering finer than the target is bounded: a kilometre-wide page printed or shrunk to a
// thumbnail at 150 DPI is drawn at a resolution it can be drawn at, not in millions of bands.
TEST_F(PageTest, PaintToOfAHugePageFinishesAndShowsIt) {
  for (const float side : {1e6f, 1e9f}) {
    SCOPED_TRACE(side);
    page->SetDocBounds(0, 0, side, side);
    page->ClearShapes();
    auto red = NewShape<TdtpRedShape>();
    red->SetDocBounds(0, 0, side / 2, side);
    page->AddShape(std::move(red));
    doc.ProgCount = 1;
    doc.ProgTotal = 1;
    doc.Progress.clear();
    TBitmap32 target;
    target.SetSize(200, 100);
    target.Clear(0xFF00FF00u);
    detail::TBitmap32Canvas canvas(&target);
    page->PaintToRect(canvas.Canvas(), {0, 0, 200, 100}, 0, false, false);
    canvas.Release();
    EXPECT_EQ(target.Pixel(20, 50) & 0xFFFFFF, 0x00FF00u);   // beside the centred square page
    EXPECT_EQ(target.Pixel(60, 50) & 0xFFFFFF, 0xFF0000u);   // its left half
    EXPECT_EQ(target.Pixel(140, 50) & 0xFFFFFF, 0xFFFFFFu);  // its right half
    EXPECT_EQ(target.Pixel(180, 50) & 0xFFFFFF, 0x00FF00u);
    ASSERT_FALSE(doc.Progress.empty());
    EXPECT_FLOAT_EQ(doc.Progress.back(), 1.0f);
    EXPECT_EQ(doc.Printing, 0);
    EXPECT_EQ(doc.Render, cDefaultDpm);
  }
  // The thumbnail of a page far longer than wide.
  page->SetDocBounds(0, 0, 100, 1e9f);
  page->ClearShapes();
  EXPECT_NE(page->GetThumbnail(), nullptr);
  EXPECT_FALSE(page->ThumbnailStale());
}

TEST_F(PageTest, Thumbnail) {
  page->SetDocBounds(0, 0, 40, 30);
  platform::TBitmap* t = page->GetThumbnail();
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->Width(), 80);
  EXPECT_EQ(t->Height(), 60);
  EXPECT_FALSE(page->ThumbnailStale());
  EXPECT_EQ(page->GetThumbnail(), t);
  page->SetModified(true);
  EXPECT_TRUE(page->ThumbnailStale());
}

namespace {

class TPaintingHost : public TTestDocumentHost {
 public:
  bool HasPaintBackground() const override { return true; }
  bool HasPaintForeground() const override { return true; }
  void PaintBackground(platform::TCanvas* C, const platform::TRect& R) override {
    Background = R;
    C->Brush()->SetColor(platform::clRed);
    C->FillRect({R.Left + 2, R.Top + 2, R.Left + 6, R.Top + 6});
  }
  void PaintForeground(platform::TCanvas* C, const platform::TRect&) override {
    C->Brush()->SetColor(platform::clBlue);
    C->FillRect({10, 10, 14, 14});
  }
  platform::TRect Background;
};

}  // namespace

TEST_F(PageTest, PaintHandlersDrawOpaque) {
  TPaintingHost host;
  host.Render = 1;
  host.Margins = false;
  page->SetDocument(&host);
  page->SetDocBounds(0, 0, 30, 20);
  page->UpdateBuffer();
  const TBitmap32* b = page->Buffer();
  EXPECT_EQ(host.Background, (platform::TRect{0, 0, 30, 20}));
  EXPECT_EQ(b->Pixel(3, 3), 0xFFFF0000u);
  EXPECT_EQ(b->Pixel(11, 11), 0xFF0000FFu);  // over the shapes
  EXPECT_EQ(b->Pixel(20, 15), 0xFFFFFFFFu);  // paper untouched
}

// The document view: layout, zoom formulas, painting offscreen, the idle refresh, hints, cursors.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

#include <QImage>

#include "../common/TestSupport.h"
#include "document/dtpDocument.h"
#include "platform/ExtCtrls.h"
#include "platform/Forms.h"
#include "platform/Graphics.h"
#include "tools/DocumentFixtures.h"

using namespace document;
using kdfixture::TdtpFixtureRect;

namespace {

class ViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kdfixture::InitializeFixtures();
    doc = std::make_unique<TdtpComponent>(nullptr);
    doc->SetBounds(0, 0, 800, 600);
    doc->HandleNeeded();
  }
  float DrawnWidth() const {
    TdtpPage* p = doc->CurrentPage();
    return p->DocWidth() + p->OutsetLeft() + p->OutsetRight();
  }
  std::unique_ptr<TdtpComponent> doc;
};

TEST_F(ViewTest, FitWidthInBothStyles) {
  // The first size of the window fits the page width at 100 %.
  EXPECT_FLOAT_EQ(doc->ZoomPercent(), 100);
  EXPECT_FLOAT_EQ(doc->ScreenDpm(), (float(doc->ClientWidth()) - 22) / DrawnWidth());
  // 10 pixels of border on every side of the laid-out page.
  const TdtpFloatRect r = doc->CurrentPage()->GetParentPaintBounds();
  EXPECT_FLOAT_EQ(doc->VirtualWidth(), (r.Right - r.Left) * doc->ScreenDpm() + 20);
  EXPECT_FLOAT_EQ(doc->CurrentPage()->ViewPosition().X, 10 / doc->ScreenDpm());

  doc->SetViewStyle(vsNormal);
  doc->ZoomFitWidth();
  EXPECT_FLOAT_EQ(doc->ScreenDpm(), (float(doc->ClientWidth()) - 2) / 210.0f);
  EXPECT_FLOAT_EQ(doc->VirtualWidth(), 210 * doc->ScreenDpm());
  EXPECT_FLOAT_EQ(doc->CurrentPage()->ViewPosition().X, 0);
}

TEST_F(ViewTest, PlacedOnAFormFitsThePageWidth) {
  platform::TForm form(nullptr);
  form.SetBounds(0, 0, 640, 480);
  TdtpComponent view(nullptr);
  view.SetBounds(0, 0, 500, 400);
  view.SetZoomPercent(150);
  std::vector<TdtpPage*> changed;
  view.OnPageChanged = [&](platform::TObject*, TdtpPage* p) { changed.push_back(p); };
  view.SetParent(&form);
  EXPECT_FLOAT_EQ(view.ZoomPercent(), 100);
  TdtpPage* p = view.CurrentPage();
  EXPECT_FLOAT_EQ(view.ScreenDpm(), (float(view.ClientWidth()) - 22) / (210.0f + p->OutsetLeft() + p->OutsetRight()));
  EXPECT_EQ(view.UndoCount(), 0);
  ASSERT_FALSE(changed.empty());
  EXPECT_EQ(changed.back(), view.CurrentPage());
  view.SetParent(nullptr);
}

TEST_F(ViewTest, FitPageInBothStyles) {
  for (TdtpViewStyleType style : {vsPrintLayout, vsNormal}) {
    doc->SetViewStyle(style);
    doc->ZoomFitPage();
    const float border = style == vsPrintLayout ? 23.0f : 1.0f;
    const float w = float(doc->ClientWidth()) - border, h = float(doc->ClientHeight()) - border;
    EXPECT_FLOAT_EQ(doc->ScreenDpm(), std::min(w / 210.0f, h / 297.0f));
    EXPECT_NEAR(doc->ZoomPercent(), 210.0f * doc->ScreenDpm() / w * 100.0f, 1e-3);
    EXPECT_LT(doc->ZoomPercent(), 100.0f);
  }
  // Without a current page nothing happens.
  doc->SetCurrentPageIndex(-1);
  const float dpm = doc->ScreenDpm();
  doc->ZoomFitPage();
  doc->ZoomFitWidth();
  EXPECT_FLOAT_EQ(doc->ScreenDpm(), dpm);
}

TEST_F(ViewTest, ZoomInOutKeepsCentre) {
  int32_t dx = 0, dy = 400;
  doc->ScrollBy(dx, dy);
  ASSERT_GT(dy, 0);
  const platform::TPoint centre{doc->ClientWidth() / 2, doc->ClientHeight() / 2};
  const TdtpFloatPoint before = doc->ScreenToDoc(centre);
  const float dpm = doc->ScreenDpm();
  doc->ZoomIn();
  EXPECT_NEAR(doc->ZoomPercent(), 110.0f, 1e-4);
  EXPECT_NEAR(doc->ScreenDpm(), dpm * 1.1f, 1e-5);
  const TdtpFloatPoint mid = doc->ScreenToDoc(centre);
  EXPECT_NEAR(mid.Y, before.Y, 1.0 / doc->ScreenDpm());
  doc->ZoomOut();
  EXPECT_NEAR(doc->ZoomPercent(), 100.0f, 1e-4);
  EXPECT_NEAR(doc->ScreenDpm(), dpm, 1e-5);
  EXPECT_NEAR(doc->ScreenToDoc(centre).Y, before.Y, 1.0 / doc->ScreenDpm());

  // A view at the origin stays there.
  doc->SetViewStyle(vsNormal);
  EXPECT_FLOAT_EQ(doc->ScrollX(), 0);
  EXPECT_FLOAT_EQ(doc->ScrollY(), 0);
  doc->ZoomIn();
  EXPECT_FLOAT_EQ(doc->ScrollX(), 0);
  EXPECT_FLOAT_EQ(doc->ScrollY(), 0);
  // 200 % is twice the fitted width.
  doc->SetZoomPercent(200);
  EXPECT_NEAR(doc->ScreenDpm(), 2 * (float(doc->ClientWidth()) - 2) / 210.0f, 1e-4);
}

TEST_F(ViewTest, ZoomStaysSane) {
  // Zooming in past the limit stops there, and the percentage tells the truth.
  for (int i = 0; i < 200; ++i) doc->ZoomIn();
  EXPECT_FLOAT_EQ(doc->ScreenDpm(), cMaxScreenDpm);
  EXPECT_NEAR(doc->ZoomPercent() / 100.0f, cMaxScreenDpm / ((float(doc->ClientWidth()) - 22) / DrawnWidth()), 0.01f);
  doc->ZoomBy(1e9f);
  EXPECT_LE(doc->ScreenDpm(), cMaxScreenDpm);
  doc->ZoomBy(1e-12f);
  EXPECT_GE(doc->ScreenDpm(), cMinScreenDpm);
  const float dpm = doc->ScreenDpm();
  doc->ZoomBy(0);
  doc->ZoomBy(-2);
  doc->ZoomBy(std::nanf(""));
  doc->SetScreenDpm(std::nanf(""));
  EXPECT_FLOAT_EQ(doc->ScreenDpm(), dpm);
  // A control without room ignores fitting.
  TdtpComponent tiny(nullptr);
  tiny.SetBounds(0, 0, 10, 10);
  tiny.HandleNeeded();
  const float before = tiny.ScreenDpm();
  tiny.ZoomFitWidth();
  tiny.ZoomFitPage();
  EXPECT_FLOAT_EQ(tiny.ScreenDpm(), before);
  EXPECT_GT(tiny.ScreenDpm(), 0);
}

// Without a current page every zoom operation leaves the scale, the percentage and the area.
TEST_F(ViewTest, ZoomWithoutAPageDoesNothing) {
  for (int way = 0; way < 2; ++way) {
    doc->SetZoomPercent(150);
    if (way == 0)
      doc->Clear();
    else
      doc->SetCurrentPageIndex(3);  // an index without a page
    ASSERT_EQ(doc->CurrentPage(), nullptr);
    const float dpm = doc->ScreenDpm(), pct = doc->ZoomPercent();
    const double vw = doc->VirtualWidth(), vh = doc->VirtualHeight();
    doc->ZoomIn();
    doc->ZoomOut();
    doc->ZoomOut();
    doc->ZoomBy(2);
    doc->ZoomBy(0.25f);
    doc->ZoomFitPage();
    doc->ZoomFitWidth();
    doc->ZoomPageWidth();
    for (float p : {10.0f, 100.0f, 250.0f, 1000.0f}) doc->SetZoomPercent(p);
    EXPECT_FLOAT_EQ(doc->ScreenDpm(), dpm) << way;
    EXPECT_FLOAT_EQ(doc->ZoomPercent(), pct) << way;
    EXPECT_EQ(doc->VirtualWidth(), vw) << way;
    EXPECT_EQ(doc->VirtualHeight(), vh) << way;
    // With a page again, zoom works.
    if (way == 0) doc->AddPage(nullptr);
    else doc->SetCurrentPageIndex(0);
    ASSERT_NE(doc->CurrentPage(), nullptr);
    doc->ZoomIn();
    EXPECT_FLOAT_EQ(doc->ScreenDpm(), dpm * 1.1f) << way;
    EXPECT_NEAR(doc->ZoomPercent(), pct * 1.1f, 1e-3) << way;
    doc->ZoomOut();
  }
}

TEST_F(ViewTest, ResizeRefitsOnlyAtHundredPercent) {
  const float dpm = doc->ScreenDpm();
  doc->SetBounds(0, 0, 1000, 600);
  EXPECT_FLOAT_EQ(doc->ScreenDpm(), (float(doc->ClientWidth()) - 22) / DrawnWidth());
  EXPECT_GT(doc->ScreenDpm(), dpm);
  doc->SetZoomPercent(110);
  const float zoomed = doc->ScreenDpm();
  doc->SetBounds(0, 0, 700, 600);
  EXPECT_FLOAT_EQ(doc->ScreenDpm(), zoomed);
  // A height change alone does not refit.
  doc->SetZoomPercent(100);
  const float fitted = doc->ScreenDpm();
  doc->SetBounds(0, 0, 700, 500);
  EXPECT_FLOAT_EQ(doc->ScreenDpm(), fitted);
}

TEST_F(ViewTest, ViewStyleResetsScrollAndCoordinatesFollow) {
  int32_t dx = 0, dy = 250;
  doc->ScrollBy(dx, dy);
  EXPECT_FLOAT_EQ(doc->OriginY(), doc->ScrollY() / doc->ScreenDpm());
  int scrolls = 0;
  doc->OnScroll = [&](platform::TObject*) { ++scrolls; };
  doc->SetViewStyle(vsNormal);
  EXPECT_FLOAT_EQ(doc->ScrollY(), 0);
  EXPECT_FLOAT_EQ(doc->OriginY(), 0);
  EXPECT_EQ(scrolls, 1);
  const TdtpFloatPoint p = doc->DocToScreen({10, 20});
  EXPECT_FLOAT_EQ(p.X, 10 * doc->ScreenDpm());
  const TdtpFloatPoint back = doc->ScreenToDoc({100, 50});
  EXPECT_FLOAT_EQ(back.X, 100 / doc->ScreenDpm());
  EXPECT_FLOAT_EQ(back.Y, 50 / doc->ScreenDpm());
}

TEST_F(ViewTest, RenderResolution) {
  doc->SetRenderDPI(300);
  EXPECT_FLOAT_EQ(doc->RenderDpm(), 300 / 25.4f);
  doc->SetRenderDpm(1e6f);
  EXPECT_FLOAT_EQ(doc->RenderDpm(), cMaxRenderDpm);
  doc->SetRenderAtScreenRes(true);
  EXPECT_FLOAT_EQ(doc->RenderDpm(), doc->ScreenDpm());
  doc->ZoomIn();
  EXPECT_FLOAT_EQ(doc->RenderDpm(), doc->ScreenDpm());
}

TEST_F(ViewTest, RendersFittedPageOffscreen) {
  const std::string file = kdtest::TempDir() + "/view.hsf";
  kdfixture::MakeSampleDocument(*doc, file, 2, 30);
  doc->LoadFromFile(file);
  doc->ZoomPageWidth();
  const float dpm = doc->ScreenDpm();
  EXPECT_FLOAT_EQ(dpm, (float(doc->ClientWidth()) - 22) / DrawnWidth());
  doc->SetOutputRendering(true);
  platform::TBitmap bmp;
  bmp.SetPixelFormat(platform::pf32bit);
  bmp.SetSize(doc->ClientWidth(), doc->ClientHeight());
  doc->PaintDocument(bmp.Canvas());
  bmp.Canvas()->Release();
  EXPECT_FALSE(doc->OutputRendering());
  const QImage& img = bmp.Image();
  ASSERT_TRUE(img.save(QString::fromStdString(kdtest::OutputDir() + "/document_view_fit_width.png")));
  // Page 1's red block spans 20..100 mm across and 20..120 mm down; the page sits 10 pixels in.
  const auto at = [&](float X, float Y) {
    return img.pixel(int(std::lround(X * dpm + 10)), int(std::lround(Y * dpm + 10))) & 0xFFFFFFu;
  };
  EXPECT_EQ(at(25, 110), 0xFF0000u);
  EXPECT_EQ(at(95, 25), 0xFF0000u);
  EXPECT_EQ(at(105, 125), 0xFFFFFFu);  // paper
  // Beside the page: the control's colour.
  const uint32_t work = uint32_t(platform::ColorToRGB(doc->Color()));
  const uint32_t rgb = (work & 0xFF) << 16 | (work & 0xFF00) | (work >> 16 & 0xFF);
  EXPECT_EQ(img.pixel(3, 300) & 0xFFFFFFu, rgb);

  // Without a page the whole view is the control's colour.
  doc->SetCurrentPageIndex(7);
  platform::TBitmap empty;
  empty.SetSize(50, 50);
  doc->PaintDocument(empty.Canvas());
  empty.Canvas()->Release();
  EXPECT_EQ(empty.Image().pixel(25, 25) & 0xFFFFFFu, rgb);
}

// A repaint of part of the view gives there the pixels a paint of the whole view gives: the
// page's buffer is stretched as a whole and only the part asked for is computed.
TEST_F(ViewTest, PartialRepaintsEqualAFullPaint) {
  const std::string file = kdtest::TempDir() + "/view_partial.hsf";
  kdfixture::MakeSampleDocument(*doc, file, 1, 30);
  doc->LoadFromFile(file);
  for (const raster::TStretchFilter filter : {raster::sfLinear, raster::sfNearest, raster::sfSpline})
    for (const float zoom : {1.0f, 1.37f, 0.61f}) {
      SCOPED_TRACE(testing::Message() << "filter " << int(filter) << ", zoom " << zoom);
      doc->SetQuality(filter);
      doc->ZoomPageWidth();
      doc->ZoomBy(zoom);
      auto paint = [&](const platform::TRect* Clip) {
        platform::TBitmap bmp;
        bmp.SetPixelFormat(platform::pf32bit);
        bmp.SetSize(doc->ClientWidth(), doc->ClientHeight());
        if (Clip) bmp.Canvas()->IntersectClipRect(*Clip);
        doc->PaintDocument(bmp.Canvas());
        bmp.Canvas()->Release();
        return bmp.Image().convertToFormat(QImage::Format_RGB32);
      };
      const QImage full = paint(nullptr);
      for (const platform::TRect& r : {platform::TRect{77, 77, 243, 203}, platform::TRect{13, 151, 418, 152},
                                       platform::TRect{301, 9, 302, 590}}) {
        const QImage part = paint(&r);
        int differing = 0;
        for (int y = r.Top; y < r.Bottom; ++y)
          for (int x = r.Left; x < r.Right; ++x) differing += part.pixel(x, y) != full.pixel(x, y);
        EXPECT_EQ(differing, 0) << r.Left << ", " << r.Top;
      }
    }
}

// A page too large for one bitmap at the render resolution still shows in the view, drawn for
// the visible part, at every zoom and scroll position: no pixel keeps what was there before.
TEST_F(ViewTest, LargePagesShowAtEveryRenderResolution) {
  struct TCase {
    float W, H, Dpi;
  };
  // A4 from 150 up to the largest render resolution, A3 at 600 and 1000.
  const TCase cases[] = {{210, 297, 150},  {210, 297, 300},  {210, 297, 900},  {210, 297, 1200},
                         {210, 297, 2540}, {297, 420, 600},  {297, 420, 1000}, {420, 297, 600}};
  const uint32_t stale = 0xFF00FF;
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::to_string(int(c.W)) + "x" + std::to_string(int(c.H)) + " at " + std::to_string(int(c.Dpi)));
    doc = std::make_unique<TdtpComponent>(nullptr);
    doc->SetBounds(0, 0, 800, 600);
    doc->HandleNeeded();
    TdtpPage* page = doc->CurrentPage();
    page->SetIsDefaultPage(false);
    page->SetDocBounds(0, 0, c.W, c.H);
    auto s = NewShape<TdtpFixtureRect>();
    s->SetDocBounds(20, 20, 80, 100);
    s->SetColor(0x0000FF);
    page->AddShape(std::move(s));
    // A half-transparent strip from 3 to 13 mm across, 270 mm tall.
    auto strip = NewShape<TdtpFixtureRect>();
    strip->SetDocBounds(3, 20, 10, 270);  // too tall for one bitmap at 2540 dots per inch
    strip->SetColor(0x0000FF);
    strip->SetMasterAlpha(128);
    page->AddShape(std::move(strip));
    doc->SetRenderDPI(c.Dpi);
    ASSERT_FLOAT_EQ(doc->RenderDPI(), c.Dpi);
    for (float zoom : {100.0f, 400.0f}) {
      doc->SetZoomPercent(zoom);
      for (int scroll : {0, 1}) {
        if (scroll) {
          int32_t dx = 0, dy = int32_t(60 * doc->ScreenDpm());
          doc->ScrollBy(dx, dy);
        }
        platform::TBitmap bmp;
        bmp.SetPixelFormat(platform::pf32bit);
        bmp.SetSize(doc->ClientWidth(), doc->ClientHeight());
        bmp.Canvas()->Brush()->SetColor(platform::TColor(0xFF00FF));
        bmp.Canvas()->FillRect({0, 0, bmp.Width(), bmp.Height()});
        doc->PaintDocument(bmp.Canvas());
        bmp.Canvas()->Release();
        const QImage& img = bmp.Image();
        int left = 0;
        for (int y = 0; y < img.height(); ++y)
          for (int x = 0; x < img.width(); ++x)
            if ((img.pixel(x, y) & 0xFFFFFFu) == stale) ++left;
        EXPECT_EQ(left, 0) << zoom << " " << scroll;
        // The red block spans 20..100 mm across and 20..120 mm down, the paper is white.
        const auto at = [&](float X, float Y) {
          const TdtpFloatPoint p = doc->DocToScreen({X + page->ViewPosition().X, Y + page->ViewPosition().Y});
          const int x = int(std::lround(p.X)), y = int(std::lround(p.Y));
          EXPECT_TRUE(x >= 0 && y >= 0 && x < img.width() && y < img.height()) << X << "," << Y;
          return img.valid(x, y) ? img.pixel(x, y) & 0xFFFFFFu : 0u;
        };
        // (A block drawn from a buffer at another resolution is resampled: a step of rounding.)
        const auto near = [](uint32_t P, uint32_t Want) {
          for (int sh : {0, 8, 16})
            if (std::abs(int(P >> sh & 0xFF) - int(Want >> sh & 0xFF)) > 3) return false;
          return true;
        };
        const float y = scroll ? 80 : 25;
        EXPECT_PRED2(near, at(25, y), 0xFF0000u) << zoom << " " << scroll;
        EXPECT_PRED2(near, at(45, y + 5), 0xFF0000u) << zoom << " " << scroll;
        EXPECT_EQ(at(16, y), 0xFFFFFFu) << zoom << " " << scroll;
        EXPECT_PRED2(near, at(8, y), 0xFF7F7Fu) << zoom << " " << scroll;  // red at half over white
      }
    }
  }
}

// A turned, mirrored or flipped shape too large for one buffer at the render resolution is
// drawn at a resolution that fits: the view shows it where a buffered render does.
TEST_F(ViewTest, TurnedShapesTooLargeForOneBufferStillShow) {
  struct TCase {
    float Angle;
    bool Mirrored, Flipped;
  };
  for (const TCase c : {TCase{30, false, false}, TCase{90, false, false}, TCase{0, true, false},
                        TCase{-45, false, true}}) {
    SCOPED_TRACE(std::to_string(int(c.Angle)) + (c.Mirrored ? " mirrored" : "") + (c.Flipped ? " flipped" : ""));
    std::vector<uint32_t> shots[2];
    for (int k = 0; k < 2; ++k) {
      doc = std::make_unique<TdtpComponent>(nullptr);
      doc->SetBounds(0, 0, 800, 900);
      doc->HandleNeeded();
      TdtpPage* page = doc->CurrentPage();
      auto s = NewShape<TdtpFixtureRect>();
      TdtpShape* shape = s.get();
      page->AddShape(std::move(s));
      shape->SetDocBounds(40, 60, 120, 160);  // 80 x 100 mm: 86 megapixels at 2540 DPI
      shape->SetColor(0x0000FF);
      shape->SetMasterAlpha(200);
      shape->SetDocAngle(c.Angle);
      shape->SetMirrored(c.Mirrored);
      shape->SetFlipped(c.Flipped);
      doc->SetRenderDPI(k == 0 ? 100 : 2540);
      doc->SetZoomPercent(50);
      platform::TBitmap bmp;
      bmp.SetPixelFormat(platform::pf32bit);
      bmp.SetSize(doc->ClientWidth(), doc->ClientHeight());
      doc->PaintDocument(bmp.Canvas());
      bmp.Canvas()->Release();
      const QImage& img = bmp.Image();
      for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) shots[k].push_back(img.pixel(x, y) & 0xFFFFFFu);
    }
    ASSERT_EQ(shots[0].size(), shots[1].size());
    // Pixels of the shape (reddish), and pixels that are the shape's in one shot only. (The
    // page itself, too large for one buffer as well, is drawn directly: its frame may differ.)
    const auto reddish = [](uint32_t P) { return (P >> 16 & 0xFF) > 200 && (P & 0xFF) < 100; };
    int red[2] = {0, 0}, differ = 0;
    for (size_t i = 0; i < shots[0].size(); ++i) {
      for (int k = 0; k < 2; ++k) red[k] += reddish(shots[k][i]);
      differ += reddish(shots[0][i]) != reddish(shots[1][i]);
    }
    EXPECT_GT(red[0], 10000);
    EXPECT_NEAR(red[1], red[0], red[0] / 50);
    EXPECT_LT(differ, red[0] / 20);  // along the edges: a buffer is placed at whole pixels
  }
}

TEST_F(ViewTest, IdleRefreshRebuildsOneThumbnailPerTick) {
  doc->AddPage(nullptr);
  doc->AddPage(nullptr);
  for (int i = 0; i < 3; ++i) doc->GetPage(i)->SetModified(true);
  doc->SetModified(true);
  EXPECT_FALSE(doc->DoAutoPageUpdate());  // off
  doc->SetAutoPageUpdate(true);
  EXPECT_FALSE(doc->DoAutoPageUpdate());  // changed just now
  std::this_thread::sleep_for(std::chrono::milliseconds(2050));
  EXPECT_TRUE(doc->DoAutoPageUpdate());
  EXPECT_FALSE(doc->GetPage(0)->ThumbnailStale());
  EXPECT_TRUE(doc->GetPage(1)->ThumbnailStale());
  EXPECT_TRUE(doc->DoAutoPageUpdate());
  EXPECT_TRUE(doc->DoAutoPageUpdate());
  EXPECT_FALSE(doc->DoAutoPageUpdate());
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(doc->GetPage(i)->ThumbnailStale());
}

TEST_F(ViewTest, TimerTicksShapesAndAnimates) {
  struct TTicker : TdtpFixtureRect {
    int Ticks = 0;
    void Tick() override { ++Ticks; }
  };
  auto s = std::make_unique<TTicker>();
  s->Initialize();
  TTicker* t = s.get();
  doc->CurrentPage()->AddShape(std::move(s));
  int animate = 0;
  doc->OnAnimate = [&](platform::TObject*) { ++animate; };
  doc->TimerTick(doc.get());
  EXPECT_EQ(t->Ticks, 1);
  EXPECT_EQ(animate, 1);
  EXPECT_EQ(doc->DocumentTimer()->Interval(), 50u);
  EXPECT_TRUE(doc->DocumentTimer()->Enabled());
}

TEST_F(ViewTest, ShapeHints) {
  auto s = NewShape<TdtpFixtureRect>();
  TdtpShape* shape = s.get();
  doc->CurrentPage()->AddShape(std::move(s));
  shape->SetShowHint(true);
  shape->SetParentShowHint(false);
  doc->StartShapeHint({5, 5}, shape, 10);
  EXPECT_EQ(doc->HintShape(), nullptr);  // no hint text: never a window
  shape->SetHint("Box");
  doc->StartShapeHint({5, 5}, shape, 10);
  EXPECT_EQ(doc->HintShape(), shape);
  EXPECT_EQ(doc->HintWindow(), nullptr);
  doc->ShowShapeHint();
  ASSERT_NE(doc->HintWindow(), nullptr);
  EXPECT_EQ(doc->HintWindow()->Color(), platform::TColor(0xE0FFFF));
  doc->StopShapeHint();
  EXPECT_EQ(doc->HintWindow(), nullptr);
  // A shape that goes away takes its hint with it.
  doc->StartShapeHint({5, 5}, shape, 10);
  doc->CurrentPage()->ClearShapes();
  EXPECT_EQ(doc->HintShape(), nullptr);
}

TEST_F(ViewTest, EditorCursorsRegistered) {
  for (platform::TCursor id = -38; id <= -30; ++id) EXPECT_TRUE(platform::Screen()->HasCursor(id)) << id;
  // The busy cursor shows while loading and goes when it ends.
  EXPECT_FALSE(doc->IsBusy());
  doc->BeginBusy(platform::crHourGlass);
  EXPECT_EQ(doc->ViewCursor(), platform::crHourGlass);
  EXPECT_EQ(platform::Screen()->Cursor(), platform::crHourGlass);
  doc->EndBusy();
  EXPECT_EQ(platform::Screen()->Cursor(), platform::crDefault);
}

}  // namespace

// The virtual scroll box: clamping, the scroll-bar scale, the scroll-message table.
#include "document/VirtualScrollbox.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPixmap>
#include <QCoreApplication>
#include <QThread>
#include <QWidget>
#include <QWindow>
#include <cmath>
#include <vector>

#include "platform/Forms.h"
#include "platform/Graphics.h"
#include "tests/platform/GuiTestEvents.h"

using namespace document;
using namespace platform;

namespace {

class TTestBox : public TVirtScrollBox {
 public:
  using TVirtScrollBox::TVirtScrollBox;
  using TVirtScrollBox::Paint;
  void H(int32_t Code, int32_t Pos = 0) { WMHScroll(Code, Pos); }
  void V(int32_t Code, int32_t Pos = 0) { WMVScroll(Code, Pos); }
  TScrollInfo Info(int32_t Bar) {
    TScrollInfo si;
    si.fMask = SIF_ALL;
    GetScrollInfo(Bar, si);
    return si;
  }
  int Changes = 0;
  std::vector<TRect> Painted;
  TCreateParams Params() {
    TCreateParams p;
    CreateParams(p);
    return p;
  }

 protected:
  void ScrollChanged() override { ++Changes; }
  void Paint() override {
    Painted.push_back(Canvas()->ClipRect());
    TVirtScrollBox::Paint();
  }
};

class ScrollBoxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitializeForms();
    box = std::make_unique<TTestBox>(nullptr);
    box->SetBounds(0, 0, 400, 300);
    box->HandleNeeded();
  }
  std::unique_ptr<TTestBox> box;
};

TEST_F(ScrollBoxTest, Defaults) {
  TTestBox b(nullptr);
  EXPECT_TRUE(b.AutoScroll());
  EXPECT_EQ(b.BorderStyle(), bsSingle);
  EXPECT_EQ(b.Color(), clAppWorkSpace);
  EXPECT_EQ(b.Width(), 150);
  EXPECT_EQ(b.Height(), 250);
  EXPECT_EQ(b.LineStep(), 9);
  EXPECT_FLOAT_EQ(b.Scale(), 1.0f);
  EXPECT_TRUE(b.Tracking());
  // Before the handle exists only the fields change.
  b.SetVirtualArea(5, 6, 1000, 1000);
  EXPECT_FLOAT_EQ(b.ScrollX(), 5);
  EXPECT_EQ(b.Changes, 1);
  EXPECT_FALSE(b.HandleAllocated());
}

TEST_F(ScrollBoxTest, WindowStyle) {
  // No redraw-on-resize bits; a sunken client edge, or a flat border without Ctl3D.
  TCreateParams p = box->Params();
  EXPECT_EQ(p.WindowClassStyle & (CS_HREDRAW | CS_VREDRAW), 0u);
  EXPECT_NE(p.ExStyle & WS_EX_CLIENTEDGE, 0u);
  box->SetCtl3D(false);
  p = box->Params();
  EXPECT_NE(p.Style & WS_BORDER, 0u);
  EXPECT_EQ(p.ExStyle & WS_EX_CLIENTEDGE, 0u);
  box->SetBorderStyle(bsNone);
  p = box->Params();
  EXPECT_EQ(p.Style & WS_BORDER, 0u);
  EXPECT_TRUE(box->HandleAllocated());
  EXPECT_NE(box->ControlStyle() & csOpaque, 0u);
}

TEST_F(ScrollBoxTest, SmallAreaCannotScroll) {
  box->SetVirtualArea(0, 0, 50, 40);
  int32_t dx = 30, dy = -5;
  box->ScrollBy(dx, dy);
  EXPECT_EQ(dx, 0);
  EXPECT_EQ(dy, 0);
  EXPECT_EQ(box->Changes, 0);
  // Both bars stay, disabled, once set up: the client size does not jump.
  EXPECT_LT(box->ClientWidth(), 396);
  EXPECT_LT(box->ClientHeight(), 296);
  // Nothing to scroll: the wheel goes on to the parent.
  EXPECT_FALSE(guitest::Wheel(box.get(), 10, 10, -120));
}

TEST_F(ScrollBoxTest, ScrollByClampsAndRounds) {
  box->SetVirtualArea(0, 0, 1000.5f, 800);
  const float maxX = 1000.5f - float(box->ClientWidth());
  int32_t dx = 1000, dy = 0;
  box->ScrollBy(dx, dy);
  EXPECT_FLOAT_EQ(box->ScrollX(), maxX);
  EXPECT_EQ(dx, int32_t(std::nearbyint(maxX)));
  EXPECT_EQ(box->Changes, 1);
  EXPECT_EQ(box->Info(SB_HORZ).nPos, int32_t(std::nearbyint(maxX)));
  // At the right end nothing more happens.
  dx = 1000;
  box->ScrollBy(dx, dy);
  EXPECT_EQ(dx, 0);
  EXPECT_EQ(box->Changes, 1);
  dx = -100000;
  dy = 20;
  box->ScrollBy(dx, dy);
  EXPECT_FLOAT_EQ(box->ScrollX(), 0);
  EXPECT_FLOAT_EQ(box->ScrollY(), 20);
  EXPECT_EQ(dy, 20);
}

TEST_F(ScrollBoxTest, LargeAreaIsScaled) {
  box->SetVirtualArea(0, 0, 60000, 500);
  EXPECT_FLOAT_EQ(box->Scale(), 0.5f);
  TScrollInfo si = box->Info(SB_HORZ);
  EXPECT_EQ(si.nMin, 0);
  EXPECT_EQ(si.nMax, 30000);
  EXPECT_EQ(si.nPage, uint32_t(std::nearbyint(box->ClientWidth() * 0.5)));
  int32_t dx = 5000, dy = 0;
  box->ScrollBy(dx, dy);
  EXPECT_EQ(box->Info(SB_HORZ).nPos, 2500);
  box->H(SB_THUMBPOSITION, 10000);
  EXPECT_FLOAT_EQ(box->ScrollX(), 20000);
  EXPECT_EQ(box->Info(SB_HORZ).nPos, 10000);
  // Small areas go back to scale 1.
  box->SetVirtualArea(0, 0, 2000, 500);
  EXPECT_FLOAT_EQ(box->Scale(), 1.0f);
}

TEST_F(ScrollBoxTest, ScrollMessageTable) {
  box->SetVirtualArea(0, 0, 1000, 2000);
  const float page = float(box->ClientHeight());
  struct Case {
    int32_t Code, Thumb;
    float Start, Expected;
  };
  const Case cases[] = {
      {SB_LINEDOWN, 0, 0, 9},
      {SB_LINEUP, 0, 100, 91},
      {SB_LINEUP, 0, 5, 0},
      {SB_PAGEDOWN, 0, 10, 10 + page},
      {SB_PAGEUP, 0, 500, 500 - page},
      {SB_THUMBPOSITION, 321, 0, 321},
      {SB_THUMBTRACK, 123, 0, 123},
      {SB_TOP, 0, 700, 0},
      {SB_BOTTOM, 0, 0, 2000 - page},
      {SB_ENDSCROLL, 0, 40, 40},
      {SB_THUMBPOSITION, 100000, 0, 2000 - page},
  };
  for (const Case& c : cases) {
    box->SetVirtualArea(0, c.Start, 1000, 2000);
    const int before = box->Changes;
    box->V(c.Code, c.Thumb);
    EXPECT_FLOAT_EQ(box->ScrollY(), c.Expected) << "code " << c.Code << " from " << c.Start;
    EXPECT_EQ(box->Changes - before, c.Expected != c.Start ? 1 : 0) << "code " << c.Code;
  }
  // Thumb tracking only while the track flag is set; the final position always scrolls.
  box->SetVirtualArea(0, 0, 1000, 2000);
  box->SetTracking(false);
  box->V(SB_THUMBTRACK, 50);
  EXPECT_FLOAT_EQ(box->ScrollY(), 0);
  box->V(SB_THUMBPOSITION, 50);
  EXPECT_FLOAT_EQ(box->ScrollY(), 50);
  // The horizontal bar uses the client width as its page.
  box->H(SB_PAGEDOWN);
  EXPECT_FLOAT_EQ(box->ScrollX(), float(box->ClientWidth()));
  // A notch of the wheel is three lines, down and back up.
  box->SetVirtualArea(0, 0, 1000, 2000);
  EXPECT_TRUE(guitest::Wheel(box.get(), 10, 10, -120));
  EXPECT_FLOAT_EQ(box->ScrollY(), 27);
  guitest::Wheel(box.get(), 10, 10, 120);
  EXPECT_FLOAT_EQ(box->ScrollY(), 0);
}

TEST_F(ScrollBoxTest, ShrinkingAreaMovesPositionBack) {
  box->SetVirtualArea(0, 0, 3000, 3000);
  int32_t dx = 2000, dy = 2000;
  box->ScrollBy(dx, dy);
  const int before = box->Changes;
  box->SetVirtualArea(box->ScrollX(), box->ScrollY(), 1000, 500);
  EXPECT_FLOAT_EQ(box->ScrollX(), 1000.0f - float(box->ClientWidth()));
  EXPECT_FLOAT_EQ(box->ScrollY(), 500.0f - float(box->ClientHeight()));
  EXPECT_EQ(box->Changes, before + 1);
}

TEST_F(ScrollBoxTest, AutoScrollOff) {
  box->SetVirtualArea(0, 0, 3000, 3000);
  int32_t dx = 200, dy = 300;
  box->ScrollBy(dx, dy);
  const int before = box->Changes;
  box->SetAutoScroll(false);
  EXPECT_FLOAT_EQ(box->ScrollX(), 0);
  EXPECT_FLOAT_EQ(box->ScrollY(), 0);
  EXPECT_EQ(box->Changes, before);  // no notification
  const TScrollInfo si = box->Info(SB_VERT);
  EXPECT_EQ(si.nMax, 0);
  EXPECT_EQ(si.nPos, 0);
  box->V(SB_LINEDOWN);
  EXPECT_FLOAT_EQ(box->ScrollY(), 0);
  box->SetAutoScroll(true);
  EXPECT_EQ(box->Info(SB_VERT).nMax, 3000);
}

TEST_F(ScrollBoxTest, PaintFillsOnlyUncoveredClip) {
  // Paint leaves a covered client alone (the descendant paints the area) and fills the clip
  // with the control's colour when the area does not cover it.
  auto* w = static_cast<QWidget*>(box->WidgetHandle());
  const QRgb colour = 0xFF000000u | QRgb(ColorToRGB(clAppWorkSpace) & 0xFF) << 16 |
                      QRgb(ColorToRGB(clAppWorkSpace) & 0xFF00) | QRgb((ColorToRGB(clAppWorkSpace) >> 16) & 0xFF);
  box->SetVirtualArea(0, 0, 60, 40);
  QImage small = w->grab().toImage();
  EXPECT_EQ(small.pixel(100, 100), colour);
  box->SetColor(clRed);
  box->SetVirtualArea(0, 0, 5000, 5000);
  QImage big = w->grab().toImage();
  EXPECT_NE(big.pixel(100, 100), 0xFFFF0000u);
}

TEST_F(ScrollBoxTest, ScrollingRepaintsOnlyTheExposedStrip) {
  TForm form(nullptr);
  form.SetBounds(0, 0, 500, 400);
  form.Show();
  box->SetParent(&form);
  QWidget* top = static_cast<QWidget*>(form.WidgetHandle());
  for (int i = 0; i < 200 && !(top->windowHandle() && top->windowHandle()->isExposed()); ++i) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(5);
  }
  box->SetVirtualArea(0, 0, 3000, 3000);
  box->Invalidate();
  box->Update();
  ASSERT_FALSE(box->Painted.empty());
  box->Painted.clear();
  int32_t dx = 0, dy = 12;
  box->ScrollBy(dx, dy);
  box->Update();
  ASSERT_FALSE(box->Painted.empty());
  for (const TRect& r : box->Painted) {
    EXPECT_EQ(r.Height(), 12);
    EXPECT_EQ(r.Bottom, box->ClientHeight());
    EXPECT_EQ(r.Width(), box->ClientWidth());
  }
  box->SetParent(nullptr);
}

}  // namespace

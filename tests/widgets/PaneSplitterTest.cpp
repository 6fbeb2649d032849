#include "widgets/PaneSplitter.h"

#include <gtest/gtest.h>

#include <QImage>
#include <cmath>
#include <memory>

#include "platform/Graphics.h"
#include "tests/platform/GuiTestEvents.h"

namespace {

using namespace widgets;
using namespace platform;

TRect Bounds(const TControl* c) { return c->BoundsRect(); }

// The main form's splitter: vertical, thickness 1, lowered panes with MinSize 10.
std::unique_ptr<TPaneSplitter> AppSplitter(int32_t Width, int32_t Height = 300) {
  auto s = std::make_unique<TPaneSplitter>(nullptr);
  s->SetThickness(1);
  s->SetBounds(0, 0, Width, Height);
  s->HandleNeeded();
  return s;
}

TEST(PaneSplitter, Defaults) {
  TPaneSplitter s(nullptr);
  EXPECT_EQ(s.Width(), 100);
  EXPECT_EQ(s.Height(), 100);
  EXPECT_EQ(s.Position(), 50);
  EXPECT_EQ(s.Thickness(), 2);
  EXPECT_EQ(s.Orientation(), soVertical);
  EXPECT_EQ(s.SplitterStyle(), ssCheckered);
  EXPECT_EQ(s.SplitterColor(), clBtnFace);
  EXPECT_TRUE(s.AllowResize());
  EXPECT_FALSE(s.AutoUpdate());
  EXPECT_FALSE(s.ProportionalResize());
  EXPECT_TRUE(s.Ctl3D());
  EXPECT_EQ(s.BorderStyle(), bsNone);
  EXPECT_EQ(s.LastDragPos().X, -1);
  EXPECT_EQ(s.LastDragPos().Y, -1);
  for (TSplitterPane* p : {s.Pane1(), s.Pane2()}) {
    EXPECT_EQ(p->Parent(), &s);
    EXPECT_EQ(p->FrameStyle(), ftLowered);
    EXPECT_EQ(p->BevelInner(), bvLowered);
    EXPECT_EQ(p->BevelOuter(), bvLowered);
    EXPECT_EQ(p->BevelWidth(), 1);
    EXPECT_EQ(p->MinSize(), 10);
    EXPECT_EQ(p->Color(), clBtnFace);
    EXPECT_EQ(p->FrameSize(), 4);
  }
  EXPECT_EQ(s.Pane1()->Tag(), 1);
  EXPECT_EQ(s.Pane2()->Tag(), 2);
}

TEST(PaneSplitter, FrameStylesSetBothBevels) {
  TSplitterPane p(nullptr);
  const struct { TPaneFrameStyle f; TBevelCut inner, outer; } cases[] = {
      {ftNone, bvNone, bvNone}, {ftRaised, bvRaised, bvRaised}, {ftLowered, bvLowered, bvLowered},
      {ftCarved, bvRaised, bvLowered}, {ftBump, bvLowered, bvRaised}};
  for (const auto& c : cases) {
    p.SetFrameStyle(c.f);
    EXPECT_EQ(p.BevelInner(), c.inner) << int(c.f);
    EXPECT_EQ(p.BevelOuter(), c.outer) << int(c.f);
    EXPECT_EQ(p.FrameSize(), c.f == ftNone ? 0 : 4);
  }
}

TEST(PaneSplitter, ClampsToTheApplicationsBoundsAtWidth1000) {
  auto s = AppSplitter(1000);
  EXPECT_EQ(s->LowLimit(), 14);
  EXPECT_EQ(s->HighLimit(), 985);
  const struct { int32_t in, out; } cases[] = {{0, 14}, {13, 14}, {14, 14}, {392, 392}, {985, 985}, {986, 985}, {5000, 985}, {-7, 14}};
  for (const auto& c : cases) {
    s->SetPosition(c.in);
    EXPECT_EQ(s->Position(), c.out) << c.in;
  }
}

TEST(PaneSplitter, LimitsFollowFramesAndMinimumSizes) {
  auto s = AppSplitter(1000);
  s->Pane2Setting()->SetFrameStyle(ftNone);
  EXPECT_EQ(s->HighLimit(), 1000 - 1 - 10 - 1);
  s->Pane1Setting()->SetFrameWidth(3);
  EXPECT_EQ(s->LowLimit(), 10 + 12);
  s->SetPosition(500);
  s->Pane1Setting()->SetMinSize(600);
  EXPECT_EQ(s->Position(), 612);  // re-clamped at once
  EXPECT_EQ(Bounds(s->Pane1()).Width(), 612);
}

TEST(PaneSplitter, TooSmallForBothMinimaTakesTheUpperLimit) {
  auto s = AppSplitter(20);
  s->SetPosition(10);
  EXPECT_EQ(s->Position(), 20 - 1 - 10 - 4);
  s->LayoutPanes();
  EXPECT_GE(s->Pane1()->Width(), 0);
  EXPECT_GE(s->Pane2()->Width(), 0);
  s->SetBounds(0, 0, 3, 300);  // upper limit below zero: no negative pane sizes
  EXPECT_LT(s->Position(), 0);
  EXPECT_EQ(s->Pane1()->Width(), 0);
  EXPECT_EQ(Bounds(s->Pane2()), (TRect{1, 0, 3, 300}));
}

// Absurd sizes from a careless caller: the limits are worked out without overflowing and the
// panes stay inside the client area.
TEST(PaneSplitter, ExtremeThicknessAndMinimumSizesStayInRange) {
  for (TSplitterOrientation o : {soVertical, soHorizontal}) {
    auto s = AppSplitter(1000, 600);
    s->SetOrientation(o);
    s->Pane1Setting()->SetMinSize(65535);
    s->Pane2Setting()->SetMinSize(65535);
    s->Pane2Setting()->SetFrameWidth(1000000);
    s->SetThickness(INT32_MAX);
    s->SetPosition(INT32_MAX);
    s->LayoutPanes();
    (void)static_cast<QWidget*>(s->WidgetHandle())->grab();
    EXPECT_LE(s->HighLimit(), 0) << o;
    EXPECT_EQ(s->Position(), s->HighLimit()) << o;
    for (TControl* p : {static_cast<TControl*>(s->Pane1()), static_cast<TControl*>(s->Pane2())}) {
      EXPECT_GE(p->Left(), 0);
      EXPECT_GE(p->Width(), 0);
      EXPECT_LE(p->Left() + p->Width(), 1000);
      EXPECT_LE(p->Top() + p->Height(), 600);
    }
    s->SetPosition(INT32_MIN);
    s->LayoutPanes();
    EXPECT_EQ(s->Position(), s->HighLimit()) << o;
  }
}

TEST(PaneSplitter, PositionBeforeTheWindowIsKeptAndAppliedAtFirstLayout) {
  TPaneSplitter s(nullptr);
  s.SetThickness(1);
  s.SetPosition(392);  // the main form does this in its create handler, at the default size
  EXPECT_EQ(s.Position(), 392);
  s.HandleNeeded();  // still 100 x 100: clamped for now, but the asked value waits
  EXPECT_EQ(s.Position(), 100 - 1 - 10 - 4);
  s.SetBounds(0, 0, 1000, 700);
  EXPECT_EQ(s.Position(), 392);
  EXPECT_EQ(Bounds(s.Pane1()), (TRect{0, 0, 392, 700}));
  EXPECT_EQ(Bounds(s.Pane2()), (TRect{393, 0, 1000, 700}));
  s.SetBounds(0, 0, 300, 700);  // once applied, a later shrink clamps as usual
  s.SetBounds(0, 0, 1000, 700);
  EXPECT_EQ(s.Position(), 300 - 1 - 14);
}

TEST(PaneSplitter, LayoutBothOrientations) {
  auto s = AppSplitter(400, 300);
  s->SetThickness(4);
  s->SetPosition(100);
  s->LayoutPanes();
  EXPECT_EQ(Bounds(s->Pane1()), (TRect{0, 0, 100, 300}));
  EXPECT_EQ(Bounds(s->Pane2()), (TRect{104, 0, 400, 300}));
  EXPECT_DOUBLE_EQ(s->PositionRatio(), 100.0 / 400);
  s->SetOrientation(soHorizontal);
  EXPECT_EQ(Bounds(s->Pane1()), (TRect{0, 0, 400, 100}));
  EXPECT_EQ(Bounds(s->Pane2()), (TRect{0, 104, 400, 300}));
  EXPECT_DOUBLE_EQ(s->PositionRatio(), 100.0 / 300);
}

TEST(PaneSplitter, HiddenPanes) {
  auto s = AppSplitter(400, 300);
  s->SetPosition(100);
  s->Pane1()->Hide();
  s->LayoutPanes();
  EXPECT_EQ(Bounds(s->Pane2()), (TRect{0, 0, 400, 300}));
  TPaneSplitter* raw = s.get();
  guitest::Move(raw, 100, 50);
  EXPECT_FALSE(s->OverBar());  // no dragging with one pane
  s->Pane1()->Show();
  s->Pane2()->Hide();
  s->LayoutPanes();
  EXPECT_EQ(Bounds(s->Pane1()), (TRect{0, 0, 400, 300}));
  s->Pane1()->Hide();
  s->SetColor(clRed);
  const QImage img = static_cast<QWidget*>(s->WidgetHandle())->grab().toImage();
  EXPECT_EQ(img.pixel(200, 150) & 0xFFFFFF, 0xFF0000u);  // a plain Color area
}

TEST(PaneSplitter, PaintDrawsTheBarAndMovesThePanes) {
  auto s = AppSplitter(400, 300);
  s->SetThickness(3);
  s->SetSplitterColor(clBlue);
  s->SetPosition(150);
  const QImage img = static_cast<QWidget*>(s->WidgetHandle())->grab().toImage();
  for (int x = 150; x < 153; ++x) EXPECT_EQ(img.pixel(x, 100) & 0xFFFFFF, 0x0000FFu) << x;
  EXPECT_EQ(Bounds(s->Pane1()), (TRect{0, 0, 150, 300}));  // moved by the paint
  EXPECT_EQ(Bounds(s->Pane2()), (TRect{153, 0, 400, 300}));
}

TEST(PaneSplitter, ProportionalResizeKeepsTheShare) {
  auto s = AppSplitter(1000);
  s->SetProportionalResize(true);
  s->SetPosition(300);
  s->LayoutPanes();
  s->SetBounds(0, 0, 2000, 300);
  EXPECT_EQ(s->Position(), 600);
  s->SetBounds(0, 0, 500, 300);
  EXPECT_EQ(s->Position(), 150);

  auto t = AppSplitter(1000);
  t->SetPosition(300);
  t->LayoutPanes();
  t->SetBounds(0, 0, 2000, 300);
  EXPECT_EQ(t->Position(), 300);  // without it pane 1 keeps its pixels
}

TEST(PaneSplitter, ProportionalResizeRoundsHalfToEven) {
  auto s = AppSplitter(100);
  s->SetThickness(2);
  for (auto* set : {s->Pane1Setting(), s->Pane2Setting()}) {
    set->SetFrameStyle(ftNone);
    set->SetMinSize(0);
  }
  s->SetProportionalResize(true);
  s->SetPosition(25);
  s->LayoutPanes();
  s->SetBounds(0, 0, 10, 300);
  EXPECT_EQ(s->Position(), 2);  // 2.5 -> 2
  s->SetPosition(3);
  s->LayoutPanes();
  EXPECT_DOUBLE_EQ(s->PositionRatio(), 0.3);
  s->SetBounds(0, 0, 5, 300);
  EXPECT_EQ(s->Position(), 2);  // 1.5 -> 2
}

TEST(PaneSplitter, ZeroExtentKeepsTheRatio) {
  auto s = AppSplitter(1000);
  s->SetProportionalResize(true);
  s->SetPosition(250);
  s->LayoutPanes();
  s->SetBounds(0, 0, 0, 300);
  EXPECT_TRUE(std::isfinite(s->PositionRatio()));
  EXPECT_DOUBLE_EQ(s->PositionRatio(), 0.25);
  EXPECT_EQ(s->Pane1()->Width(), 0);
  EXPECT_EQ(s->Pane2()->Width(), 0);
  TPaneSplitter fresh(nullptr);
  fresh.SetBounds(0, 0, 0, 0);
  fresh.SetPosition(10);
  EXPECT_TRUE(std::isfinite(fresh.PositionRatio()));
}

TEST(PaneSplitter, OnPaneResizeFollowsEveryLayout) {
  auto s = AppSplitter(400);
  int count = 0;
  s->OnPaneResize = [&](TObject*) { ++count; };
  s->LayoutPanes();
  EXPECT_GE(count, 1);
  count = 0;
  s->Pane1()->SetBounds(0, 0, 20, 20);  // a pane resized on its own reports too
  EXPECT_EQ(count, 1);
  int resized = 0;
  s->OnResize = [&](TObject*) { ++resized; };
  s->SetBounds(0, 0, 500, 300);
  EXPECT_EQ(resized, 1);
}

TEST(PaneSplitter, DragMovesTheBarWithinTheLimits) {
  auto s = AppSplitter(1000);
  s->SetPosition(392);
  s->LayoutPanes();
  TPaneSplitter* c = s.get();
  guitest::Move(c, 392, 100);
  EXPECT_TRUE(s->OverBar());
  guitest::Press(c, 392, 100);
  ASSERT_EQ(s->XorOverlay().Count(), 1);
  EXPECT_EQ(s->XorOverlay().Figures()[0].Kind, TXorFigure::xfPatternRect);
  EXPECT_EQ(s->XorOverlay().Figures()[0].R, (TRect{392, 0, 393, 300}));
  guitest::Move(c, 500, 100, Qt::LeftButton);
  EXPECT_EQ(s->Position(), 500);
  ASSERT_EQ(s->XorOverlay().Count(), 1);  // the old bar was erased
  EXPECT_EQ(s->XorOverlay().Figures()[0].R, (TRect{500, 0, 501, 300}));
  EXPECT_EQ(s->Pane1()->Width(), 392);  // panes wait for the release
  // A quick drag past either end puts the bar at the limit, not where the last move was.
  guitest::Move(c, 5000, 100, Qt::LeftButton);
  EXPECT_EQ(s->Position(), 1000 - 1 - 10 - 4);
  guitest::Move(c, -300, 100, Qt::LeftButton);
  EXPECT_EQ(s->Position(), 14);
  EXPECT_EQ(s->XorOverlay().Figures()[0].R, (TRect{14, 0, 15, 300}));
  guitest::Move(c, 12, 100, Qt::LeftButton);  // inside the mouse range, clamped to the limit
  EXPECT_EQ(s->Position(), 14);
  guitest::Release(c, 12, 100);
  EXPECT_FALSE(s->OverBar());
  EXPECT_EQ(s->XorOverlay().Count(), 0);
  EXPECT_EQ(s->Position(), 14);
  EXPECT_EQ(s->LastDragPos().X, -1);
  s->LayoutPanes();
  EXPECT_EQ(s->Pane1()->Width(), 14);
}

// Without AutoUpdate only the inverted bar follows the mouse: a paint while dragging (the
// inverted bar's own, or any other) leaves the panes where they were until the release.
TEST(PaneSplitter, PanesStayPutWhileDraggingUntilTheRelease) {
  for (TSplitterOrientation o : {soVertical, soHorizontal}) {
    auto s = AppSplitter(1000, 600);
    s->SetOrientation(o);
    s->SetPosition(392);
    s->LayoutPanes();
    TPaneSplitter* c = s.get();
    auto at = [o](int32_t v) { return o == soVertical ? TPoint{v, 100} : TPoint{100, v}; };
    auto extent1 = [&] { return o == soVertical ? s->Pane1()->Width() : s->Pane1()->Height(); };
    auto paint = [&] { (void)static_cast<QWidget*>(c->WidgetHandle())->grab(); };
    guitest::Move(c, at(392).X, at(392).Y);
    guitest::Press(c, at(392).X, at(392).Y);
    guitest::Move(c, at(500).X, at(500).Y, Qt::LeftButton);
    paint();
    EXPECT_EQ(extent1(), 392) << o;
    // The inverted bar shows over pane 2, checkered: neighbouring pixels differ, and the pane
    // is plain beside it.
    {
      const QImage img = static_cast<QWidget*>(c->WidgetHandle())->grab().toImage();
      const TPoint p0 = at(500), p1 = o == soVertical ? TPoint{500, 101} : TPoint{101, 500};
      const TPoint beside = o == soVertical ? TPoint{520, 100} : TPoint{100, 520};
      const QRgb face = img.pixel(beside.X, beside.Y) & 0xFFFFFF;
      const QRgb a = img.pixel(p0.X, p0.Y) & 0xFFFFFF, b = img.pixel(p1.X, p1.Y) & 0xFFFFFF;
      EXPECT_NE(a, b) << o;
      EXPECT_TRUE(a == (face ^ 0xFFFFFFu) || b == (face ^ 0xFFFFFFu)) << o;
    }
    guitest::Move(c, at(450).X, at(450).Y, Qt::LeftButton);
    paint();
    EXPECT_EQ(extent1(), 392) << o;
    EXPECT_EQ(s->Position(), 450) << o;
    guitest::Release(c, at(450).X, at(450).Y);
    paint();
    EXPECT_EQ(extent1(), 450) << o;
    EXPECT_EQ(s->XorOverlay().Count(), 0) << o;
    // Nothing inverted stays behind on the panes.
    const QImage after = static_cast<QWidget*>(c->WidgetHandle())->grab().toImage();
    const TPoint q0 = at(500), q1 = o == soVertical ? TPoint{500, 101} : TPoint{101, 500};
    EXPECT_EQ(after.pixel(q0.X, q0.Y), after.pixel(q1.X, q1.Y)) << o;
  }
}

// The pointer is checked against the bar at a press too (the system asks for the cursor with
// every mouse message): a second drag started without moving the mouse in between works.
TEST(PaneSplitter, SecondDragWithoutAMoveBetween) {
  auto s = AppSplitter(1000);
  s->SetPosition(392);
  s->LayoutPanes();
  TPaneSplitter* c = s.get();
  guitest::Move(c, 392, 100);
  guitest::Press(c, 392, 100);
  guitest::Move(c, 500, 100, Qt::LeftButton);
  guitest::Release(c, 500, 100);
  ASSERT_EQ(s->Position(), 500);
  guitest::Press(c, 500, 100);
  EXPECT_TRUE(s->OverBar());
  guitest::Move(c, 600, 100, Qt::LeftButton);
  guitest::Release(c, 600, 100);
  EXPECT_EQ(s->Position(), 600);
  // A press away from the bar starts nothing.
  guitest::Press(c, 700, 100);
  EXPECT_FALSE(s->OverBar());
  guitest::Move(c, 650, 100, Qt::LeftButton);
  guitest::Release(c, 650, 100);
  EXPECT_EQ(s->Position(), 600);
}

TEST(PaneSplitter, AutoUpdateMovesWithoutInverting) {
  auto s = AppSplitter(1000, 300);
  s->SetAutoUpdate(true);
  s->SetPosition(392);
  s->LayoutPanes();
  TPaneSplitter* c = s.get();
  guitest::Move(c, 392, 10);
  guitest::Press(c, 392, 10);
  guitest::Move(c, 450, 10, Qt::LeftButton);
  EXPECT_EQ(s->Position(), 450);
  EXPECT_EQ(s->XorOverlay().Count(), 0);
  guitest::Release(c, 450, 10);
}

TEST(PaneSplitter, NoDragWithoutAllowResize) {
  auto s = AppSplitter(1000);
  s->SetAllowResize(false);
  s->SetPosition(392);
  TPaneSplitter* c = s.get();
  guitest::Move(c, 392, 100);
  EXPECT_FALSE(s->OverBar());
  guitest::Press(c, 392, 100);
  EXPECT_EQ(s->XorOverlay().Count(), 0);
  guitest::Release(c, 392, 100);
}

TEST(PaneSplitter, BarNearnessUsesTheThickness) {
  auto s = AppSplitter(1000);
  s->SetThickness(3);
  s->SetPosition(392);
  TPaneSplitter* c = s.get();
  guitest::Move(c, 395, 100);
  EXPECT_TRUE(s->OverBar());
  guitest::Move(c, 396, 100);
  EXPECT_FALSE(s->OverBar());
  guitest::Move(c, 389, 100);
  EXPECT_TRUE(s->OverBar());
}

TEST(PaneSplitter, DragBarInversionStyle) {
  const struct { TSplitterStyle style; TColor color; TXorFigure::TKind kind; } cases[] = {
      {ssCheckered, clBtnFace, TXorFigure::xfPatternRect},
      {ssCheckered, clBlack, TXorFigure::xfInvertRect},
      {ssSolid, clBtnFace, TXorFigure::xfInvertRect}};
  for (const auto& k : cases) {
    auto s = AppSplitter(600, 200);
    s->SetOrientation(soHorizontal);
    s->SetSplitterStyle(k.style);
    s->SetSplitterColor(k.color);
    s->SetPosition(100);
    TPaneSplitter* c = s.get();
    guitest::Move(c, 50, 100);
    guitest::Press(c, 50, 100);
    ASSERT_EQ(s->XorOverlay().Count(), 1);
    EXPECT_EQ(s->XorOverlay().Figures()[0].Kind, k.kind);
    EXPECT_EQ(s->XorOverlay().Figures()[0].R, (TRect{0, 100, 600, 101}));
    guitest::Release(c, 50, 100);
  }
}

TEST(PaneSplitter, BorderStyleSingleTakesTheClientEdge) {
  auto s = AppSplitter(1000);
  s->SetBorderStyle(bsSingle);
  EXPECT_EQ(s->ClientWidth(), 996);  // client edge with Ctl3D
  s->SetCtl3D(false);
  EXPECT_EQ(s->ClientWidth(), 998);  // plain border
  EXPECT_EQ(s->HighLimit(), 998 - 1 - 10 - 4);
}

}  // namespace

#include "platform/Forms.h"

namespace {

TEST(PaneSplitterOnAForm, TheMainFormsSetUp) {
  TForm form(nullptr);
  form.SetClientWidth(1000);
  form.SetClientHeight(600);
  auto* s = new TPaneSplitter(&form);
  s->SetParent(&form);
  s->SetAlign(alClient);
  s->SetThickness(1);
  s->SetSplitterStyle(ssCheckered);
  s->SetPosition(341);
  s->SetPosition(392);  // the create handler
  form.Show();
  EXPECT_EQ(s->ClientWidth(), 1000);
  EXPECT_EQ(s->Position(), 392);
  EXPECT_EQ(s->LowLimit(), 14);
  EXPECT_EQ(s->HighLimit(), 985);
  EXPECT_EQ(s->Pane1()->BoundsRect(), (TRect{0, 0, 392, 600}));
  EXPECT_EQ(s->Pane2()->BoundsRect(), (TRect{393, 0, 1000, 600}));
  s->SetPosition(0);  // the video page on a 1024-pixel screen
  EXPECT_EQ(s->Position(), 14);
  form.SetClientWidth(800);
  EXPECT_EQ(s->Position(), 14);
  s->SetPosition(2000);
  EXPECT_EQ(s->Position(), 785);
  form.Hide();
}

}  // namespace

// The document view under a real X server (its own Xvfb; skips without one), driven by real
// clicks and keys: after each editing step the window's pixels, as the server holds them,
// equal a fresh paint of the view. A step that repaints too small an area leaves handles,
// outlines or shapes behind, or misses a shape's new place.
#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QThread>
#include <QWidget>
#include <QWindow>
#include <cmath>
#include <memory>

#include "../common/TestSupport.h"
#include "../common/XServer.h"
#include "document/dtpDocument.h"
#include "document/dtpLineShape.h"
#include "document/dtpPolygonShape.h"
#include "document/dtpShadowEffects.h"
#include "document/dtpTextShape.h"
#include "platform/Forms.h"
#include "platform/KeyState.h"
#include "tools/DocumentFixtures.h"

using namespace document;
using platform::TPoint;

namespace {

const bool gHaveX = kdtest::StartPrivateXServer();

constexpr unsigned long XK_Control_L = 0xFFE3, XK_Delete = 0xFFFF, XK_F2 = 0xFFBF;

class RepaintX : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!gHaveX) GTEST_SKIP() << "Xvfb is not installed";
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    ASSERT_TRUE(In.Ok()) << "no XTest";
    kdfixture::InitializeFixtures();
    InitializeDtpEffectShape();
    InitializeDtpPolygonShape();
    InitializeDtpShadowEffects();
    InitializeDtpLineShape();
    InitializeDtpTextShape();
    platform::KeyStateReset();
    Form = std::make_unique<platform::TForm>(nullptr);
    Form->SetBounds(0, 0, 720, 520);
    Doc = new TdtpComponent(Form.get());
    Doc->SetParent(Form.get());
    Doc->SetBounds(0, 0, 700, 500);
    Doc->SetUseSystemClipboard(false);
    Form->Show();
    QWidget* F = static_cast<QWidget*>(Form->WidgetHandle());
    F->activateWindow();
    ASSERT_TRUE(kdtest::WaitFor([&] { return F->windowHandle() && F->windowHandle()->isExposed() && F->isActiveWindow(); }));
    Doc->SetViewStyle(vsNormal);
    Doc->SetScreenDpm(4);  // 4 pixels per millimetre, the page's corner at the client's
    Doc->SetOriginX(0);
    Doc->SetOriginY(0);
    kdtest::Settle();
  }
  void TearDown() override {
    if (!gHaveX) return;
    In.Key(XK_Control_L, false);
    In.Button(1, false);
    Form.reset();
    platform::KeyStateReset();
  }

  template <class T>
  TdtpShape* Add(float L, float T_, float W, float H, platform::TColor C) {
    auto S = NewShape<T>();
    S->SetDocBounds(L, T_, W, H);
    S->SetColor(C);
    TdtpShape* Raw = S.get();
    Doc->CurrentPage()->AddShape(std::move(S));
    return Raw;
  }
  void MoveTo(TPoint P) {
    const TPoint G = Doc->ClientToScreen(P);
    In.MoveTo(G.X, G.Y);
    kdtest::Settle();
  }
  void Click(TPoint P) {
    MoveTo(P);
    In.Button(1, true);
    In.Button(1, false);
    kdtest::Settle();
    // The next press is no double click.
    QThread::msleep(QApplication::doubleClickInterval() + 50);
  }
  // A press at From and moves in steps of 6 pixels to To; the button stays down.
  void HoldAndMove(TPoint From, TPoint To) {
    MoveTo(From);
    In.Button(1, true);
    kdtest::Settle();
    const int N = std::max(1, std::max(std::abs(To.X - From.X), std::abs(To.Y - From.Y)) / 6);
    for (int I = 1; I <= N; ++I) MoveTo({From.X + (To.X - From.X) * I / N, From.Y + (To.Y - From.Y) * I / N});
  }
  void Release() {
    In.Button(1, false);
    kdtest::Settle();
  }
  // The middle of the first handle of Shape with hit code Code, in client pixels.
  static TPoint HandleAt(TdtpShape* Shape, int32_t Code) {
    Shape->CreateHandles();
    for (int32_t I = 0; I < Shape->HandleCount(); ++I)
      if (Shape->Handles[size_t(I)].Code == Code) {
        platform::TRect R{0, 0, 0, 0};
        Shape->GetHandleRect(I, R);
        return {(R.Left + R.Right) / 2, (R.Top + R.Bottom) / 2};
      }
    ADD_FAILURE() << "no handle " << Code;
    return {0, 0};
  }
  // A local point of Shape in client pixels.
  static TPoint LocalAt(TdtpShape* Shape, float X, float Y) {
    raster::TdtpFloatPoint P;
    Shape->LocalToScreen({X, Y}, P);
    return {int32_t(std::lround(P.X)), int32_t(std::lround(P.Y))};
  }
  // A drag from From to To with the button released at the end.
  void Drag(TPoint From, TPoint To) {
    HoldAndMove(From, To);
    Release();
  }
  void Stroke(unsigned long Keysym, bool Ctrl = false) {
    if (Ctrl) In.Key(XK_Control_L, true);
    In.Key(Keysym, true);
    In.Key(Keysym, false);
    if (Ctrl) In.Key(XK_Control_L, false);
    kdtest::Settle();
  }
  // The view's client area as the server shows it, and as a fresh paint draws it.
  QRect ClientInWindow() {
    QWidget* F = static_cast<QWidget*>(Form->WidgetHandle());
    const TPoint G = Doc->ClientToScreen({0, 0});
    const QPoint O = F->mapFromGlobal(QPoint(G.X, G.Y));
    return QRect(O.x(), O.y(), Doc->ClientWidth(), Doc->ClientHeight());
  }
  QImage Shown() {
    QWidget* F = static_cast<QWidget*>(Form->WidgetHandle());
    const QRect R = ClientInWindow();
    return F->screen()->grabWindow(F->winId(), R.x(), R.y(), R.width(), R.height()).toImage().convertToFormat(QImage::Format_RGB32);
  }
  QImage Fresh() {
    QWidget* V = static_cast<QWidget*>(Doc->WidgetHandle());
    const TPoint G = Doc->ClientToScreen({0, 0});
    const QPoint O = V->mapFromGlobal(QPoint(G.X, G.Y));
    return V->grab(QRect(O, QSize(Doc->ClientWidth(), Doc->ClientHeight()))).toImage().convertToFormat(QImage::Format_RGB32);
  }
  static int Differing(const QImage& A, const QImage& B) {
    if (A.size() != B.size()) return A.width() * A.height();
    int N = 0;
    for (int Y = 0; Y < A.height(); ++Y)
      for (int X = 0; X < A.width(); ++X) N += A.pixel(X, Y) != B.pixel(X, Y);
    return N;
  }
  // Pixels that differ once every paint the step asked for has reached the screen; the
  // pictures of a failing step are kept.
  int StaleAfter(const char* Step) {
    int N = Differing(Shown(), Fresh());
    for (int Round = 0; Round < 40 && N; ++Round) {
      kdtest::Settle();
      N = Differing(Shown(), Fresh());
    }
    if (N) {
      // Where they differ, in magenta over the fresh paint.
      const QImage A = Shown(), B = Fresh();
      QImage D = B.copy();
      QRect Box;
      for (int Y = 0; Y < A.height(); ++Y)
        for (int X = 0; X < A.width(); ++X)
          if (A.pixel(X, Y) != B.pixel(X, Y)) Box |= QRect(X, Y, 1, 1), D.setPixel(X, Y, 0xFFFF00FF);
      ADD_FAILURE() << Step << ": stale pixels in (" << Box.left() << ", " << Box.top() << ") to (" << Box.right() << ", "
                    << Box.bottom() << ")";
      D.save(QString::fromStdString(kdtest::OutputDir() + "/repaint-" + Step + "-diff.png"));
      A.save(QString::fromStdString(kdtest::OutputDir() + "/repaint-" + Step + "-shown.png"));
    }
    return N;
  }

  kdtest::TXInput In;
  std::unique_ptr<platform::TForm> Form;
  TdtpComponent* Doc = nullptr;
};

}  // namespace

// Select, move, copy and paste, cut, undo, undo of everything during a move, Escape: after
// each, the screen is what a fresh paint shows.
TEST_F(RepaintX, EveryEditingStepLeavesTheScreenAsAFreshPaint) {
  TdtpShape* Rect = Add<TdtpRectangleShape>(20, 20, 40, 30, 0x0000FF);  // (80, 80) to (240, 200)
  TdtpShape* Ellipse = Add<TdtpEllipseShape>(80, 40, 30, 30, 0x00C000);  // (320, 160) to (440, 280)
  Doc->ClearUndo();
  Doc->Invalidate();  // the origin was set without a repaint
  ASSERT_EQ(StaleAfter("start"), 0);

  Click({160, 140});
  ASSERT_TRUE(Rect->Selected());
  EXPECT_EQ(StaleAfter("select"), 0);
  Click({380, 220});
  ASSERT_TRUE(Ellipse->Selected());
  EXPECT_EQ(StaleAfter("select-other"), 0);
  Click({160, 140});
  ASSERT_TRUE(Rect->Selected());
  EXPECT_EQ(StaleAfter("select-back"), 0);

  Stroke('c', true);
  Stroke('v', true);
  ASSERT_EQ(Doc->CurrentPage()->GetShapeCount(), 3);
  EXPECT_EQ(StaleAfter("paste"), 0);

  // The ellipse is dragged 120 pixels down: the pasted copy loses its handles.
  HoldAndMove({380, 220}, {380, 340});
  ASSERT_EQ(Doc->DragState(), 1);
  Release();
  EXPECT_FLOAT_EQ(Ellipse->DocTop(), 70);
  EXPECT_EQ(StaleAfter("move"), 0);

  Click({160, 140});
  Stroke('x', true);
  ASSERT_EQ(Doc->CurrentPage()->GetShapeCount(), 2);
  EXPECT_EQ(StaleAfter("cut"), 0);

  Click({380, 340});
  Stroke(XK_Delete);
  ASSERT_EQ(Doc->CurrentPage()->GetShapeCount(), 1);
  EXPECT_EQ(StaleAfter("delete"), 0);

  // Undo of the deletion brings the ellipse back.
  ASSERT_GT(Doc->UndoCount(), 0);
  EXPECT_TRUE(Doc->Undo(Doc->UndoItem(Doc->UndoCount() - 1)));
  EXPECT_EQ(StaleAfter("undo"), 0);

  // Everything undone while a shape is being moved: shapes come and go under the outline.
  Click({380, 340});
  HoldAndMove({380, 340}, {440, 380});
  ASSERT_EQ(Doc->DragState(), 1);
  for (int32_t I = Doc->UndoCount() - 1; I >= 0; --I) Doc->Undo(Doc->UndoItem(I));
  MoveTo({450, 390});
  Release();
  EXPECT_EQ(StaleAfter("undo-all"), 0);

  // Escape with the button held cancels the move and takes its outline away.
  const TdtpShape* Shown0 = Doc->CurrentPage()->GetShape(0);
  const TPoint At{int32_t(Shown0->DocLeft() * 4) + 20, int32_t(Shown0->DocTop() * 4) + 20};
  Click(At);
  HoldAndMove(At, {At.X + 100, At.Y + 75});
  ASSERT_EQ(Doc->DragState(), 1);
  Stroke(kdtest::TXInput::XK_Escape);
  Release();
  EXPECT_EQ(Doc->DragState(), 0);
  EXPECT_EQ(StaleAfter("escape"), 0);
}

// Resizing by a corner and a side, turning, moving shapes whose paint reaches beyond their
// bounds (a drop shadow, arrow heads, a turned shape), a move partly off the page, a rubber
// band, a Ctrl+drag copy, typing into a growing text, deleting and zooming: after each, the
// screen is what a fresh paint shows.
TEST_F(RepaintX, HandlesShadowsAndArrowHeadsLeaveTheScreenAsAFreshPaint) {
  Doc->SetScreenDpm(3);  // the page is 630 pixels wide: its right edge lies in the view
  auto* Shadowed = static_cast<TdtpEffectShape*>(Add<TdtpRectangleShape>(20, 20, 40, 30, 0x0000FF));
  auto Shadow = std::make_unique<TdtpShadowEffect>();
  Shadow->DeltaX = 4;
  Shadow->DeltaY = 3;
  Shadowed->AddEffect(std::move(Shadow));  // (60, 60) to (180, 150), its shadow 12 and 9 further
  auto Line = NewShape<TdtpLineShape>();
  Line->SetLinePoint(0, {20, 90});
  Line->SetLinePoint(1, {80, 90});  // (60, 270) to (240, 270)
  Line->SetLineWidth(1);
  Line->Arrow0()->SetStyle(asArrow);
  Line->Arrow1()->SetStyle(asOval);
  Line->Arrow1()->Width = 9;
  TdtpShape* Arrows = Line.get();
  Doc->CurrentPage()->AddShape(std::move(Line));
  TdtpShape* Turned = Add<TdtpRectangleShape>(100, 30, 40, 20, 0x00C000);
  Turned->SetDocAngle(30);
  auto Text = NewShape<TdtpTextShape>();
  Text->SetDocBounds(100, 100, 20, 8);  // it fits its text: from (300, 300)
  Text->SetText("ab");
  Text->SetSmartHitTest(false);
  TdtpShape* Typed = Text.get();
  Doc->CurrentPage()->AddShape(std::move(Text));
  Doc->ClearUndo();
  Doc->Invalidate();
  ASSERT_EQ(StaleAfter("effects-start"), 0);

  Click({120, 105});
  ASSERT_TRUE(Shadowed->Selected());
  EXPECT_EQ(StaleAfter("shadow-select"), 0);
  const TPoint Corner = HandleAt(Shadowed, 6);
  Drag(Corner, {Corner.X + 36, Corner.Y + 30});
  EXPECT_GT(Shadowed->DocWidth(), 45);
  EXPECT_EQ(StaleAfter("resize-corner"), 0);
  const TPoint Side = LocalAt(Shadowed, Shadowed->DocWidth(), Shadowed->DocHeight() / 3);
  Drag(Side, {Side.X - 60, Side.Y});
  EXPECT_LT(Shadowed->DocWidth(), 45);
  EXPECT_EQ(StaleAfter("resize-side"), 0);
  const TPoint Turn = HandleAt(Shadowed, 10);
  Drag(Turn, {Turn.X + 60, Turn.Y + 30});
  EXPECT_NE(Shadowed->DocAngle(), 0);
  EXPECT_EQ(StaleAfter("rotate"), 0);
  const TPoint Middle = LocalAt(Shadowed, Shadowed->DocWidth() / 2, Shadowed->DocHeight() / 2);
  Drag(Middle, {Middle.X + 60, Middle.Y + 30});
  EXPECT_EQ(StaleAfter("shadow-move"), 0);

  Click({150, 270});
  ASSERT_TRUE(Arrows->Selected());
  EXPECT_EQ(StaleAfter("arrows-select"), 0);
  Drag({150, 270}, {150, 330});
  EXPECT_EQ(StaleAfter("arrows-move"), 0);

  Click({360, 120});
  ASSERT_TRUE(Turned->Selected());
  Drag({360, 120}, {420, 180});
  EXPECT_EQ(StaleAfter("turned-move"), 0);
  // Partly beyond the page's right edge.
  Drag({420, 180}, {600, 180});
  EXPECT_GT(Turned->DocLeft() + Turned->DocWidth(), 210);
  EXPECT_EQ(StaleAfter("off-page"), 0);

  // A rubber band over the line and the shadowed shape, then a Ctrl+drag copies both.
  Drag({20, 20}, {300, 400});
  EXPECT_GE(Doc->SelectionCount(), 2);
  EXPECT_EQ(StaleAfter("rubber-band"), 0);
  const TPoint OnLine = {int32_t((Arrows->DocLeft() + Arrows->DocWidth() / 2) * 3), int32_t((Arrows->DocTop() + Arrows->DocHeight() / 2) * 3)};
  In.Key(XK_Control_L, true);
  HoldAndMove(OnLine, {OnLine.X + 30, OnLine.Y + 45});
  Release();
  In.Key(XK_Control_L, false);
  kdtest::Settle();
  EXPECT_EQ(Doc->CurrentPage()->GetShapeCount(), 6);
  EXPECT_EQ(StaleAfter("copy-drag"), 0);
  Stroke(XK_Delete);
  EXPECT_EQ(Doc->CurrentPage()->GetShapeCount(), 4);
  EXPECT_EQ(StaleAfter("delete-copies"), 0);

  // Typing into a text shape that grows with its text.
  Click({308, 308});
  ASSERT_TRUE(Typed->Selected());
  Stroke(XK_F2);
  ASSERT_EQ(Doc->EditedShape(), Typed);
  const float Before = Typed->DocWidth();
  for (unsigned long C : {'W', 'W', 'W', 'W', 'W', 'W'}) Stroke(C);
  EXPECT_GT(Typed->DocWidth(), Before);
  EXPECT_EQ(StaleAfter("typing"), 0);
  Stroke(kdtest::TXInput::XK_Return);
  EXPECT_EQ(StaleAfter("typing-done"), 0);

  Doc->ZoomBy(1.25f);
  EXPECT_EQ(StaleAfter("zoom"), 0);

  // Zoomed in beyond the render resolution with the widest filter: the line moved again.
  Arrows->SetDocBounds(10, 10, Arrows->DocWidth(), Arrows->DocHeight());
  Doc->SetQuality(raster::sfSpline);
  Doc->SetScreenDpm(9);
  Doc->SetOriginX(0);
  Doc->SetOriginY(0);
  Doc->Invalidate();
  const TPoint Head = LocalAt(Arrows, Arrows->DocWidth() * 0.3f, Arrows->DocHeight() / 2);
  Click(Head);
  ASSERT_TRUE(Arrows->Selected());
  Drag(Head, {Head.X + 24, Head.Y - 30});
  EXPECT_EQ(StaleAfter("zoomed-move"), 0);

  // Changes by code that shrink what a shape paints: the old extent goes too.
  Doc->ClearSelection();
  kdtest::Settle();
  Shadowed->GetEffect(0)->Enabled = false;
  EXPECT_EQ(StaleAfter("shadow-off"), 0);
  static_cast<TdtpLineShape*>(Arrows)->SetLineWidth(0.2f);
  EXPECT_EQ(StaleAfter("line-thinner"), 0);
  static_cast<TdtpLineShape*>(Arrows)->Arrow1()->Width = 3;
  EXPECT_EQ(StaleAfter("arrow-smaller"), 0);
}

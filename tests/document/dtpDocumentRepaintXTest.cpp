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
#include <memory>

#include "../common/TestSupport.h"
#include "../common/XServer.h"
#include "document/dtpDocument.h"
#include "document/dtpPolygonShape.h"
#include "platform/Forms.h"
#include "platform/KeyState.h"
#include "tools/DocumentFixtures.h"

using namespace document;
using platform::TPoint;

namespace {

const bool gHaveX = kdtest::StartPrivateXServer();

constexpr unsigned long XK_Control_L = 0xFFE3, XK_Delete = 0xFFFF;

class RepaintX : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!gHaveX) GTEST_SKIP() << "Xvfb is not installed";
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    ASSERT_TRUE(In.Ok()) << "no XTest";
    kdfixture::InitializeFixtures();
    InitializeDtpEffectShape();
    InitializeDtpPolygonShape();
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

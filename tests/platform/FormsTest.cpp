#include "platform/Forms.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "platform/AppHooks.h"
#include "platform/Clipboard.h"
#include "platform/Dialogs.h"
#include "platform/ExtCtrls.h"
#include "platform/SysUtils.h"
#include "tests/platform/GuiTestEvents.h"

using namespace platform;
using namespace guitest;

namespace {

class TTestForm : public TForm {
 public:
  explicit TTestForm(TComponent* AOwner) : TForm(AOwner) {
    OnCreate = [this](TObject*) { Created = true; };
  }
  bool Created = false;
};

class FormsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FinalizeForms();
    InitializeForms();
  }
  void TearDown() override { FinalizeForms(); }
};

}  // namespace

TEST_F(FormsTest, ApplicationTitleExeNameAndMainForm) {
  TApplication* app = Application();
  app->Initialize();
  app->SetTitle("De kadrilo");
  EXPECT_EQ(app->Title(), "De kadrilo");
  // Message boxes carry the title; the forms' title bars show their own caption only.
  EXPECT_EQ(DialogCaption(mtCustom), "De kadrilo");
  EXPECT_NE(QGuiApplication::applicationDisplayName().toStdString(), "De kadrilo");
  EXPECT_EQ(ExtractFileName(app->ExeName()), "test_platform_FormsTest");
  EXPECT_TRUE(FileExists(app->ExeName()));

  TTestForm* first = nullptr;
  TTestForm* second = nullptr;
  app->CreateForm(first);
  app->CreateForm(second);
  EXPECT_TRUE(first->Created);
  EXPECT_TRUE(second->Created);
  EXPECT_EQ(app->MainForm(), first);
  EXPECT_EQ(first->Owner(), app);
  EXPECT_EQ(Screen()->FormCount(), 2);
  EXPECT_FALSE(first->Visible());
}

TEST_F(FormsTest, RunEndsWhenTheMainFormCloses) {
  TTestForm* main = nullptr;
  Application()->CreateForm(main);
  bool destroyed = false;
  main->OnDestroy = [&](TObject*) { destroyed = true; };
  int idle = 0;
  Application()->OnIdle = [&](TObject*, bool& Done) {
    ++idle;
    Done = true;
  };
  QTimer::singleShot(30, [&] {
    EXPECT_TRUE(main->Visible());
    main->Close();
  });
  Application()->Run();
  EXPECT_TRUE(Application()->Terminated());
  EXPECT_GT(idle, 0);
  EXPECT_FALSE(destroyed);  // the forms live until the application goes
  FinalizeForms();
  EXPECT_TRUE(destroyed);
}

TEST_F(FormsTest, CloseActions) {
  TTestForm* main = nullptr;
  TTestForm* other = nullptr;
  Application()->CreateForm(main);
  Application()->CreateForm(other);
  other->Show();
  EXPECT_TRUE(other->Visible());

  // Refused by OnCloseQuery.
  other->OnCloseQuery = [](TObject*, bool& can) { can = false; };
  other->Close();
  EXPECT_TRUE(other->Visible());
  other->OnCloseQuery = nullptr;

  other->OnClose = [](TObject*, TCloseAction& a) { a = caNone; };
  other->Close();
  EXPECT_TRUE(other->Visible());

  other->OnClose = nullptr;  // default: hide
  other->Close();
  EXPECT_FALSE(other->Visible());
  EXPECT_FALSE(Application()->Terminated());

  // caFree frees the form from the message loop.
  other->Show();
  bool freed = false;
  other->OnDestroy = [&](TObject*) { freed = true; };
  other->OnClose = [](TObject*, TCloseAction& a) { a = caFree; };
  other->Close();
  EXPECT_FALSE(freed);
  EXPECT_TRUE(WaitFor([&] { return freed; }));
  EXPECT_EQ(Screen()->FormCount(), 1);
  EXPECT_EQ(Application()->ComponentCount(), 1);
}

TEST_F(FormsTest, ShowModalReturnsTheModalResult) {
  TForm dlg(nullptr);
  QTimer::singleShot(20, [&] { dlg.SetModalResult(mrOk); });
  EXPECT_EQ(dlg.ShowModal(), mrOk);
  EXPECT_FALSE(dlg.Visible());
  // Close while modal answers mrCancel.
  QTimer::singleShot(20, [&] { dlg.Close(); });
  EXPECT_EQ(dlg.ShowModal(), mrCancel);
}

TEST_F(FormsTest, WindowStateCaptionAndResize) {
  TForm f(nullptr);
  int resized = 0;
  f.OnResize = [&](TObject*) { ++resized; };
  f.SetCaption("Catalogus");
  EXPECT_EQ(W(&f)->windowTitle().toStdString(), "Catalogus");
  f.SetWindowState(wsMaximized);
  f.Show();
  // The window system gives the maximised form the screen; the form follows.
  EXPECT_TRUE(WaitFor([&] { return f.Width() == Screen()->Width() || W(&f)->isMaximized(); }));
  EXPECT_GT(resized, 0);
  EXPECT_EQ(f.Width(), W(&f)->width());
  f.Hide();
}

TEST_F(FormsTest, ActivationAndLayoutBeforeTheWindowExists) {
  TForm f(nullptr);
  std::vector<std::string> log;
  f.OnActivate = [&](TObject*) { log.push_back("activate"); };
  f.OnDeactivate = [&](TObject*) { log.push_back("deactivate"); };
  QEvent on(QEvent::WindowActivate), off(QEvent::WindowDeactivate);
  QApplication::sendEvent(W(&f), &on);
  QApplication::sendEvent(W(&f), &off);
  EXPECT_EQ(log, (std::vector<std::string>{"activate", "deactivate"}));

  auto* client = new TPanel(&f);
  client->SetAlign(alClient);
  client->SetParent(&f);
  EXPECT_FALSE(f.HandleAllocated());
  f.SetBounds(0, 0, 300, 200);
  EXPECT_EQ(client->BoundsRect(), (TRect{0, 0, 300, 200}));
}

TEST_F(FormsTest, ScreenCursorRegistry) {
  TScreen* s = Screen();
  EXPECT_GT(s->Width(), 0);
  EXPECT_GT(s->Height(), 0);
  struct Case {
    TCursor Id;
    Qt::CursorShape Shape;
  };
  const Case cases[] = {
      {crArrow, Qt::ArrowCursor},        {crCross, Qt::CrossCursor},        {crIBeam, Qt::IBeamCursor},
      {crSizeNESW, Qt::SizeBDiagCursor}, {crSizeNS, Qt::SizeVerCursor},     {crSizeNWSE, Qt::SizeFDiagCursor},
      {crSizeWE, Qt::SizeHorCursor},     {crHourGlass, Qt::WaitCursor},     {crHSplit, Qt::SplitHCursor},
      {crVSplit, Qt::SplitVCursor},      {crNo, Qt::ForbiddenCursor},       {crAppStart, Qt::BusyCursor},
      {crHandPoint, Qt::PointingHandCursor}, {crSizeAll, Qt::SizeAllCursor}, {crHelp, Qt::WhatsThisCursor},
  };
  for (const Case& c : cases) EXPECT_EQ(s->CursorShape(c.Id), c.Shape) << c.Id;
  EXPECT_EQ(crArrow, -2);
  EXPECT_EQ(crSizeAll, -22);
  EXPECT_EQ(s->CursorShape(-30), -1);

  std::vector<uint32_t> pixels(32 * 32, 0xFF000000u);
  s->RegisterCursor(-30, 32, 32, pixels.data(), 16, 16);
  EXPECT_TRUE(s->HasCursor(-30));
  EXPECT_EQ(s->CursorShape(-30), Qt::BitmapCursor);
  EXPECT_THROW(s->RegisterCursor(-31, 0, 32, pixels.data(), 0, 0), EInvalidArgument);
  EXPECT_TRUE(s->CopyCursor(-32, crCross));
  EXPECT_EQ(s->CursorShape(-32), Qt::CrossCursor);

  // A control shows the registered cursor.
  TForm f(nullptr);
  auto* c = new TCustomControl(&f);
  c->SetParent(&f);
  c->SetCursor(-30);
  EXPECT_EQ(W(c)->cursor().shape(), Qt::BitmapCursor);
  c->SetCursor(crDefault);
  EXPECT_FALSE(W(c)->testAttribute(Qt::WA_SetCursor));

  // The screen cursor overrides every window (the hourglass while busy).
  s->SetCursor(crHourGlass);
  ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
  s->SetCursor(crAppStart);
  EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::BusyCursor);
  s->SetCursor(crDefault);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(FormsTest, HintWindowMeasuresWrapsAndStaysOnScreen) {
  THintWindow hint(nullptr);
  EXPECT_EQ(hint.Color(), clInfoBk);
  const TRect one = hint.CalcHintRect(1000, "Pagina groter maken");
  EXPECT_EQ(one.Left, 0);
  EXPECT_GT(one.Right, 6);
  const TRect wrapped = hint.CalcHintRect(60, "Pagina groter maken en nog veel meer woorden");
  EXPECT_LE(wrapped.Right, 60 + 6 + 40);  // a single long word may stick out
  EXPECT_GT(wrapped.Bottom, one.Bottom);

  hint.SetColor(static_cast<TColor>(0xE0FFFF));
  TRect r = one;
  OffsetRect(r, Screen()->Width() - 5, 10);
  hint.ActivateHint(r, "Pagina groter maken");
  EXPECT_TRUE(hint.Active());
  EXPECT_TRUE(W(&hint)->isVisible());
  EXPECT_EQ(hint.Left() + hint.Width(), Screen()->Width());
  EXPECT_EQ(hint.Caption(), "Pagina groter maken");
  QImage img = W(&hint)->grab().toImage();
  EXPECT_EQ(img.pixel(img.width() - 3, 2) & 0xFFFFFF, 0xFFFFE0u);  // $E0FFFF is BGR
  hint.ReleaseHandle();
  EXPECT_FALSE(W(&hint)->isVisible());
}

TEST_F(FormsTest, TimerFiresAndStops) {
  TTimer t(nullptr);
  int ticks = 0;
  t.SetInterval(20);
  t.OnTimer = [&](TObject* s) {
    EXPECT_EQ(s, &t);
    ++ticks;
  };
  EXPECT_TRUE(WaitFor([&] { return ticks >= 3; }, 5000));
  t.SetEnabled(false);
  const int seen = ticks;
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < 100) QApplication::processEvents(QEventLoop::AllEvents, 10);
  EXPECT_EQ(ticks, seen);

  // Interval 0 never fires; an exception goes to the application.
  t.SetInterval(0);
  t.SetEnabled(true);
  clock.restart();
  while (clock.elapsed() < 60) QApplication::processEvents(QEventLoop::AllEvents, 10);
  EXPECT_EQ(ticks, seen);
  std::string caught;
  Application()->OnException = [&](TObject*, const std::exception& e) { caught = e.what(); };
  t.OnTimer = [](TObject*) { throw EInvalidOperation("tick failed"); };
  t.SetInterval(10);
  EXPECT_TRUE(WaitFor([&] { return !caught.empty(); }));
  EXPECT_EQ(caught, "tick failed");
  t.SetEnabled(false);
}

TEST_F(FormsTest, PanelPaintsBevelsAndCaption) {
  TForm f(nullptr);
  f.SetBounds(0, 0, 200, 100);
  auto* p = new TPanel(&f);
  p->SetParent(&f);
  p->SetBounds(0, 0, 120, 40);
  p->SetBevelOuter(bvRaised);
  p->SetBevelInner(bvLowered);
  p->SetBevelWidth(2);
  p->SetCaption("Paneel");
  f.Show();
  QImage img = W(p)->grab().toImage().convertToFormat(QImage::Format_RGB32);
  const uint32_t highlight = GetSysColor(20), shadow = GetSysColor(16), face = GetSysColor(15);
  auto rgb = [](uint32_t bgr) { return ((bgr & 0xFF) << 16) | (bgr & 0xFF00) | ((bgr >> 16) & 0xFF); };
  EXPECT_EQ(img.pixel(0, 10) & 0xFFFFFF, rgb(highlight));   // outer raised: light left edge
  EXPECT_EQ(img.pixel(119, 10) & 0xFFFFFF, rgb(shadow));    // dark right edge
  EXPECT_EQ(img.pixel(2, 10) & 0xFFFFFF, rgb(shadow));      // inner lowered: dark left edge
  EXPECT_EQ(img.pixel(8, 8) & 0xFFFFFF, rgb(face));
  // Some caption ink near the centre.
  bool ink = false;
  for (int x = 30; x < 90; ++x)
    for (int y = 12; y < 28; ++y)
      if ((img.pixel(x, y) & 0xFFFFFF) != rgb(face)) ink = true;
  EXPECT_TRUE(ink);
}

TEST_F(FormsTest, ClipboardText) {
  TClipboard* c = Clipboard();
  c->SetAsText("<?xml version=\"1.0\"?><Selection/>");
  EXPECT_TRUE(c->HasFormat(CF_TEXT));
  EXPECT_EQ(c->AsText(), "<?xml version=\"1.0\"?><Selection/>");
  c->SetAsText("Ünïcode ✓");
  EXPECT_EQ(c->AsText(), "Ünïcode ✓");
  c->Clear();
  EXPECT_FALSE(c->HasFormat(CF_TEXT));
  EXPECT_EQ(c->AsText(), "");
  EXPECT_FALSE(c->HasFormat(999));
}

TEST_F(FormsTest, AppHooksSeeMovesActivationResizesAndDestruction) {
  std::vector<THookMessage> calls, moves, destroys;
  const THookHandle h1 = SetAppHook(hkCallWndProc, [&](const THookMessage& m) { calls.push_back(m); });
  const THookHandle h2 = SetAppHook(hkGetMessage, [&](const THookMessage& m) { moves.push_back(m); });
  const THookHandle h3 = SetAppHook(hkCBT, [&](const THookMessage& m) { destroys.push_back(m); });
  // A failing listener does not keep the next one from running.
  const THookHandle bad = SetAppHook(hkGetMessage, [](const THookMessage&) { throw EInvalidOperation("x"); });
  int after = 0;
  const THookHandle h4 = SetAppHook(hkGetMessage, [&](const THookMessage&) { ++after; });
  EXPECT_EQ(AppHookCount(hkGetMessage), 3);

  auto form = std::make_unique<TForm>(nullptr);
  form->SetBounds(0, 0, 200, 100);
  auto* child = new TCustomControl(form.get());
  child->SetParent(form.get());
  child->SetBounds(10, 10, 50, 50);
  form->Show();
  calls.clear();

  Move(child, 3, 4, Qt::LeftButton, Qt::ShiftModifier);
  ASSERT_EQ(moves.size(), 1u);  // not once more for the parent
  EXPECT_EQ(moves[0].Msg, WM_MOUSEMOVE);
  EXPECT_EQ(moves[0].Control, child);
  EXPECT_EQ(moves[0].WParam, 1 | 4);  // MK_LBUTTON | MK_SHIFT
  EXPECT_EQ(moves[0].LParam, (4 << 16) | 3);
  EXPECT_EQ(after, 1);

  child->SetBounds(10, 10, 60, 50);
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back().Msg, WM_WINDOWPOSCHANGED);
  EXPECT_EQ(calls.back().Control, child);

  calls.clear();
  QEvent deact(QEvent::ApplicationDeactivate);
  QApplication::sendEvent(qApp, &deact);
  QEvent act(QEvent::ApplicationActivate);
  QApplication::sendEvent(qApp, &act);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].Msg, WM_ACTIVATEAPP);
  EXPECT_EQ(calls[0].WParam, 0);
  EXPECT_EQ(calls[1].WParam, 1);

  HWND formWindow = form->Handle();
  form.reset();
  // The form first, then its child, as a parent window is destroyed before its children.
  ASSERT_EQ(destroys.size(), 2u);
  EXPECT_EQ(destroys[0].Msg, WM_DESTROY);
  EXPECT_EQ(destroys[0].Window, formWindow);
  EXPECT_EQ(destroys[1].Msg, WM_DESTROY);

  EXPECT_TRUE(UnhookAppHook(h1));
  EXPECT_FALSE(UnhookAppHook(h1));
  UnhookAppHook(h2);
  UnhookAppHook(h3);
  UnhookAppHook(h4);
  UnhookAppHook(bad);
  EXPECT_EQ(AppHookCount(hkGetMessage), 0);
}

// The main window's lock-key panels and dead keys under a real X server (its own Xvfb; skips without one).
#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QImage>
#include <QThread>
#include <QWidget>
#include <memory>
#include <tuple>
#include <vector>

#include "app/Unit1.h"
#include "document/dtpDocument.h"
#include "document/dtpTextShape.h"
#include "platform/AppHooks.h"
#include "platform/KeyState.h"
#include "tests/app/AppSupport.h"
#include "tests/common/TestSupport.h"
#include "tests/common/XServer.h"
#include "tools/SwfWriter.h"

using namespace app;
using namespace platform;

namespace {

const bool gHaveX = kdtest::StartPrivateXServer();
// Dead keys are composed by Qt's own input method, from the compose table of a UTF-8 locale.
const bool gCompose = setenv("QT_IM_MODULE", "compose", 1) == 0 && setenv("LC_ALL", "C.UTF-8", 1) == 0;

// Sets the server's keyboard layout; false when that cannot be done.
bool SetLayout(const char* Layout, const char* Variant) {
  const std::string cmd = std::string("setxkbmap -display \"") + getenv("DISPLAY") + "\" " + Layout +
                          (Variant ? std::string(" -variant ") + Variant : std::string()) + " 2>/dev/null";
  return std::system(cmd.c_str()) == 0;
}

class MainFormLockKeys : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!gHaveX) GTEST_SKIP() << "Xvfb is not installed";
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    ASSERT_TRUE(In.Ok()) << "no XTest";
    apptest::StartUnits();
    KeyStateReset();
    KeyStateAllowXkb(true);
    ASSERT_TRUE(KeyStateUsesXkb());
    Form = std::make_unique<TForm1>(nullptr);
    Form->DoCreate();
    Form->SetWindowState(wsNormal);
    Form->SetBounds(0, 0, 1280, 800);
    Heard = SetAppHook(hkKeyboard, [this](const THookMessage& M) { Keys.push_back({M.Msg, M.WParam}); });
    Form->Show();
    QWidget* W = static_cast<QWidget*>(Form->WidgetHandle());
    W->activateWindow();
    ASSERT_TRUE(kdtest::WaitFor([&] { return W->isActiveWindow(); }));
    Form->HtmlTreeView1->SetFocus();
    const QPoint C = W->mapToGlobal(QPoint(200, 200));
    In.MoveTo(C.x(), C.y());
    kdtest::Settle();
  }
  void TearDown() override {
    if (!gHaveX) return;
    UnhookAppHook(Heard);
    Form.reset();
    KeyStateReset();
  }
  // The press is seen by the program before the release reaches the server, as a person types.
  void Stroke(unsigned long Keysym, uint32_t VirtualKey) {
    for (bool Down : {true, false}) {
      const size_t Before = Keys.size();
      In.Key(Keysym, Down);
      const uint32_t Msg = Down ? WM_KEYDOWN : WM_KEYUP;
      ASSERT_TRUE(kdtest::WaitFor([&] {
        for (size_t I = Before; I < Keys.size(); ++I)
          if (Keys[I].first == Msg && Keys[I].second == static_cast<intptr_t>(VirtualKey)) return true;
        return false;
      })) << VirtualKey << (Down ? " press" : " release");
    }
    kdtest::Settle();
  }
  // Dark pixels of a panel as the bar's window shows it: its caption is lit.
  int32_t LitPixels(int32_t Index) {
    widgets::TExStatusBar* Bar = Form->ExStatusBar1;
    const TRect R = Bar->GetPanelRect(Index);
    const QImage Shot = static_cast<QWidget*>(Bar->WidgetHandle())->grab().toImage();
    int32_t N = 0;
    for (int32_t Y = R.Top + 1; Y < R.Bottom - 1; ++Y)
      for (int32_t X = R.Left + 1; X < R.Right - 1; ++X) N += qGray(Shot.pixel(X, Y)) < 60;
    return N;
  }

  kdtest::TXInput In;
  std::unique_ptr<TForm1> Form;
  THookHandle Heard = 0;
  std::vector<std::pair<uint32_t, intptr_t>> Keys;
};

}  // namespace

TEST_F(MainFormLockKeys, CapsAndNumPanelsFollowTheKeyboardBothWays) {
  constexpr int32_t CapsPanel = 1, ScrollPanel = 2, NumPanel = 3;
  for (auto [Name, Sym, Vk] : {std::tuple{"Caps Lock", kdtest::TXInput::XK_Caps_Lock, 20u},
                               std::tuple{"Num Lock", kdtest::TXInput::XK_Num_Lock, 144u}})
    if (In.Indicator(Name)) Stroke(Sym, Vk);
  ASSERT_FALSE(In.Indicator("Caps Lock"));
  ASSERT_FALSE(In.Indicator("Num Lock"));
  Form->ExStatusBar1->Invalidate();
  kdtest::Settle();
  for (int32_t P : {CapsPanel, ScrollPanel, NumPanel}) EXPECT_EQ(LitPixels(P), 0) << P;

  struct TStep {
    int32_t Panel, Other;
    unsigned long Keysym;
    uint32_t Key;
    const char* Indicator;
    const char* Shot;
  };
  for (const TStep& S : {TStep{CapsPanel, NumPanel, kdtest::TXInput::XK_Caps_Lock, 20, "Caps Lock", "caps"},
                         TStep{NumPanel, CapsPanel, kdtest::TXInput::XK_Num_Lock, 144, "Num Lock", "num"}}) {
    SCOPED_TRACE(S.Indicator);
    Stroke(S.Keysym, S.Key);
    ASSERT_TRUE(In.Indicator(S.Indicator));
    EXPECT_GT(LitPixels(S.Panel), 20);
    EXPECT_EQ(LitPixels(S.Other), 0);
    EXPECT_EQ(LitPixels(ScrollPanel), 0);
    static_cast<QWidget*>(Form->WidgetHandle())
        ->grab()
        .save(QString::fromStdString(kdtest::OutputDir() + "/app-xvfb-" + S.Shot + "-on.png"));
    Stroke(S.Keysym, S.Key);
    ASSERT_FALSE(In.Indicator(S.Indicator));
    EXPECT_EQ(LitPixels(S.Panel), 0);
    EXPECT_EQ(LitPixels(S.Other), 0);
  }
}

// Dead keys of the US international and Dutch layouts compose accented letters in an edited text.
TEST_F(MainFormLockKeys, DeadKeysComposeInTheEditedText) {
  ASSERT_TRUE(gCompose);
  struct TRestore {
    ~TRestore() { SetLayout("us", nullptr); }
  } restore;
  document::TdtpComponent* Doc = Form->dtpComponent1;
  QWidget* View = static_cast<QWidget*>(Doc->WidgetHandle());
  for (auto [Layout, Variant] : {std::pair<const char*, const char*>{"us", "intl"}, {"nl", nullptr}}) {
    SCOPED_TRACE(Layout);
    if (!SetLayout(Layout, Variant)) GTEST_SKIP() << "setxkbmap is not installed";
    kdtest::Settle();
    kdtest::TXInput Keyboard;  // reads the new layout
    ASSERT_TRUE(Keyboard.Ok());
    Doc->CurrentPage()->AddShape(document::NewShape<document::TdtpTextShape>());
    auto* T = static_cast<document::TdtpTextShape*>(Doc->CurrentPage()->GetShape(Doc->CurrentPage()->GetShapeCount() - 1));
    T->SetText("x");
    T->SetDocPosition(20, 20);
    Doc->SetFocus();
    ASSERT_TRUE(kdtest::WaitFor([&] { return View->hasFocus(); }));
    Doc->EditShape(T);
    ASSERT_EQ(Doc->EditedShape(), T);
    // Dead diaeresis, e, dead acute, e, dead grave, a, a, b; each with Shift where the layout has it.
    for (unsigned long Sym : {0xFE57ul, 'e' + 0ul, 0xFE51ul, 'e' + 0ul, 0xFE50ul, 'a' + 0ul, 'a' + 0ul, 'b' + 0ul}) {
      const bool Shifted = Keyboard.Shifted(Sym);
      if (Shifted) Keyboard.Key(0xFFE1, true);
      Keyboard.Key(Sym, true);
      Keyboard.Key(Sym, false);
      if (Shifted) Keyboard.Key(0xFFE1, false);
      kdtest::Settle();
    }
    const std::string Want = "x\xC3\xAB\xC3\xA9\xC3\xA0" "ab";  // xëéàab
    EXPECT_TRUE(kdtest::WaitFor([&] { return T->Text() == Want; })) << T->Text();
    Doc->EndShapeEdit(true);
    EXPECT_EQ(T->Text(), Want);
  }
}

// A press on the drawing takes the keyboard from the catalogue tree: Escape with the button
// held cancels a move of the title of "Inleiding", and a typed "v" no longer jumps the tree.
TEST_F(MainFormLockKeys, APressOnTheDrawingTakesTheKeyboard) {
  Form->BaseFolder = apptest::SampleFolder();
  document::TdtpComponent* Doc = Form->dtpComponent1;
  platform::TTreeNode* First = Form->HtmlTreeView1->Items()->Item(0);
  const TRect NodeRect = First->DisplayRect(true);
  const TPoint NodeAt = Form->HtmlTreeView1->ClientToScreen({(NodeRect.Left + NodeRect.Right) / 2, (NodeRect.Top + NodeRect.Bottom) / 2});
  In.MoveTo(NodeAt.X, NodeAt.Y);
  In.Button(1, true);
  In.Button(1, false);
  ASSERT_TRUE(kdtest::WaitFor([&] { return Doc->CurrentPage() && Doc->CurrentPage()->GetShapeCount() > 0; }));
  kdtest::Settle();
  ASSERT_EQ(Form->HtmlTreeView1->Selected(), First);
  document::TdtpTextShape* Title = nullptr;
  for (int32_t I = 0; I < Doc->CurrentPage()->GetShapeCount() && !Title; ++I)
    if (auto* T = dynamic_cast<document::TdtpTextShape*>(Doc->CurrentPage()->GetShape(I)); T && T->Text() == "Inleiding")
      Title = T;
  ASSERT_NE(Title, nullptr);
  TRect R;
  Title->GetScreenRect(R);
  const TPoint At = Doc->ClientToScreen({R.Left + 4, (R.Top + R.Bottom) / 2});
  const float Left = Title->DocLeft(), Top = Title->DocTop();
  In.MoveTo(At.X, At.Y);
  kdtest::Settle();
  In.Button(1, true);
  In.Button(1, false);
  ASSERT_TRUE(kdtest::WaitFor([&] { return Title->Selected(); }));
  EXPECT_TRUE(static_cast<QWidget*>(Doc->WidgetHandle())->hasFocus());
  // A pause, so that the next press is no double click.
  QThread::msleep(QApplication::doubleClickInterval() + 100);
  kdtest::Settle();
  In.Button(1, true);
  for (int32_t Step = 1; Step <= 25; ++Step) {
    In.MoveTo(At.X + Step * 4, At.Y + Step * 3);
    kdtest::Settle();
  }
  ASSERT_TRUE(kdtest::WaitFor([&] { return Doc->DragState() == 1; }));
  In.Key(kdtest::TXInput::XK_Escape, true);
  In.Key(kdtest::TXInput::XK_Escape, false);
  kdtest::Settle();
  In.Button(1, false);
  kdtest::Settle();
  EXPECT_EQ(Doc->DragState(), 0);
  EXPECT_EQ(Title->DocLeft(), Left);
  EXPECT_EQ(Title->DocTop(), Top);
  In.Key('v', true);
  In.Key('v', false);
  kdtest::Settle();
  EXPECT_EQ(Form->HtmlTreeView1->Selected(), First);
  EXPECT_EQ(Form->ItemIndex, 0);
}

// This server has no OpenGL (the tests run Qt without GLX): "Video" must still play the movie,
// not take the program down.
TEST_F(MainFormLockKeys, VideoPlaysOnADisplayWithoutOpenGL) {
  if (!Form->Flash1->PlayerAvailable()) GTEST_SKIP() << "Ruffle or WebEngine's helper process is not installed";
  Form->BaseFolder = kdtest::TempDir() + "/";
  kdtest::WriteFileBytes(Form->BaseFolder + "oefening1.swf", tools::SwfDemoMovie(tools::sdLadder, true));
  Form->ItemIndex = 5;
  Form->BitBtn_VideoClick(nullptr);
  EXPECT_EQ(Form->Notebook1->ActivePage(), "Video");
  const auto Playing = [&] { return Form->Flash1->PlayerStatus() == "playing"; };
  for (int Tries = 0; Tries < 6 && !kdtest::WaitFor(Playing); ++Tries) {
  }
  EXPECT_TRUE(Playing()) << Form->Flash1->PlayerStatus();
}

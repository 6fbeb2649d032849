#include "widgets/ExStatusBar.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QHelpEvent>
#include <QImage>
#include <QToolTip>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWidget>
#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <thread>

#include "platform/AppHooks.h"
#include "platform/DirectShow.h"
#include "platform/Exceptions.h"
#include "platform/KeyState.h"
#include "tests/common/TestSupport.h"
#include "tests/platform/GuiTestEvents.h"
#include "widgets/KbMonitor.h"

using namespace widgets;
using namespace platform;

namespace {

TDateTime FakeNow = 0;

class ExStatusBarTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitializeExStatusBar();
    ExStatusBarReports().clear();
    FakeNow = EncodeDate(2026, 12, 6) + EncodeTime(9, 5, 3, 0);
    SetExStatusBarClock([] { return FakeNow; });
    Bar = std::make_unique<TExStatusBar>(nullptr);
    Bar->SetBounds(0, 0, 600, 22);
    Bar->Font()->SetName("Liberation Sans");
    Bar->Font()->SetSize(8);
    Bar->HandleNeeded();
  }
  void TearDown() override {
    Bar.reset();
    FinalizeExStatusBar();
    EXPECT_TRUE(ExStatusBarReports().empty());
    SetExStatusBarClock(nullptr);
  }
  TExStatusPanel* Add(TExStatusPanelType T, int32_t W = 60) {
    TExStatusPanel* P = Bar->Panels()->Add();
    P->SetWidth(W);
    P->SetPanelType(T);
    return P;
  }
  TColor Px(int32_t X, int32_t Y) { return Bar->Surface()->Canvas()->Pixel(X, Y); }
  int32_t CountIn(const TRect& R, TColor C) {
    int32_t N = 0;
    for (int32_t Y = R.Top; Y < R.Bottom; ++Y)
      for (int32_t X = R.Left; X < R.Right; ++X) N += Px(X, Y) == ColorToRGB(C);
    return N;
  }
  // Text is antialiased: count pixels close to a colour.
  int32_t CountNear(const TRect& R, TColor C) {
    const TColor W = ColorToRGB(C);
    int32_t N = 0;
    for (int32_t Y = R.Top; Y < R.Bottom; ++Y)
      for (int32_t X = R.Left; X < R.Right; ++X) {
        const TColor P = Px(X, Y);
        bool Near = true;
        for (int K = 0; K < 24; K += 8)
          Near = Near && std::abs(static_cast<int>((P >> K) & 0xFF) - static_cast<int>((W >> K) & 0xFF)) < 70;
        N += Near;
      }
    return N;
  }
  std::unique_ptr<TExStatusBar> Bar;
};

}  // namespace

TEST(ExStatusFormat, DutchDateAndTimeFormats) {
  const TDateTime T = EncodeDate(2026, 3, 7) + EncodeTime(14, 5, 9, 42);
  EXPECT_EQ(FormatStatusDateTime(ShortDateFormat, T), "7-3-2026");
  EXPECT_EQ(FormatStatusDateTime(LongTimeFormat, T), "14:05:09");
  EXPECT_EQ(FormatStatusDateTime("dd/mm/yy", T), "07-03-26");
  EXPECT_EQ(FormatStatusDateTime("hh:mm", T), "14:05");  // m after an hour is minutes
  EXPECT_EQ(FormatStatusDateTime("dddd d mmmm yyyy", T), "zaterdag 7 maart 2026");
  EXPECT_EQ(FormatStatusDateTime("ddd d mmm", T), "za 7 mrt");
  EXPECT_EQ(FormatStatusDateTime("h:nn:ss.zzz 'uur'", T), "14:05:09.042 uur");
  EXPECT_EQ(FormatStatusDateTime("c", EncodeDate(2000, 1, 1)), "1-1-2000 0:00:00");
}

TEST_F(ExStatusBarTest, PanelNeedsTheTypedCollection) {
  TObject NotACollection;
  try {
    TExStatusPanel P(&NotACollection);
    FAIL();
  } catch (const Exception& E) {
    EXPECT_EQ(E.Message, "TExStatusPanel owner must be TExStatusPanesls");
  }
  EXPECT_EQ(Bar->Version(), "TExStatusBar v1.23");
}

TEST_F(ExStatusBarTest, LayoutAndRedrawBounds) {
  Add(sptNormal, 100)->SetText("Klaar");
  Add(sptNormal, 50);
  EXPECT_EQ(Bar->GetPanelRect(0), (TRect{0, 2, 100, 22}));
  EXPECT_EQ(Bar->GetPanelRect(1), (TRect{102, 2, 600, 22}));  // the last one fills the bar
  EXPECT_EQ(Bar->GetPanelRect(2), TRect{});
  try {
    Bar->RedrawPanel(5);
    FAIL();
  } catch (const EListError& E) {
    EXPECT_EQ(E.Message, "List index out of bounds (5)");
  }
  EXPECT_THROW(Bar->RedrawPanel(-1), EListError);
  EXPECT_EQ(Bar->Panels()->Items(0)->DisplayName(), "Klaar");
  EXPECT_EQ(Bar->Panels()->Items(1)->DisplayName(), "TExStatusPanel");
}

TEST_F(ExStatusBarTest, LockKeyPanelsUseTheOwnHook) {
  TExStatusPanel* Caps = Add(sptCapsLock);
  TExStatusPanel* Num = Add(sptNumLock);
  EXPECT_EQ(Caps->Text(), " CAPS ");
  EXPECT_EQ(Num->Text(), " NUM ");
  EXPECT_EQ(Caps->DisplayName(), "sptCapsLock");
  EXPECT_TRUE(Caps->AutoFit());
  EXPECT_EQ(Caps->Width(), Bar->TextExtent(" CAPS ").cx + 6);
  EXPECT_TRUE(KeyboardHookInstalled());
  EXPECT_EQ(KeyboardHookPanelCount(), 2);
  EXPECT_EQ(Bar->MainWinHookCount(), 2);

  // Deactivation marks the panels for a refresh at the next key event.
  THookMessage M;
  M.Msg = WM_ACTIVATEAPP;
  M.WParam = 0;
  AppHooksDispatch(hkCallWndProc, M);
  EXPECT_TRUE(RefreshLockPanels());
  KeyboardHookProc(0, 'A', 0);
  EXPECT_FALSE(RefreshLockPanels());
  KeyboardHookProc(0, 20, 0);
  KeyboardHookProc(0, 20, 0x40000000u);  // auto-repeat: ignored

  // Disabling the bar leaves the hook; the last panel out unhooks.
  Bar->SetEnabled(false);
  EXPECT_FALSE(KeyboardHookInstalled());
  EXPECT_EQ(Bar->MainWinHookCount(), 0);
  Bar->SetEnabled(true);
  EXPECT_EQ(KeyboardHookPanelCount(), 2);
  Caps->SetPanelType(sptNormal);
  EXPECT_EQ(KeyboardHookPanelCount(), 1);
}

TEST_F(ExStatusBarTest, MissingMonitorLibraryFallsBack) {
  TExStatusPanel* Caps = Add(sptCapsLock);
  Bar->SetUseMonitorDLL(true);
  EXPECT_FALSE(Bar->UseMonitorDLL());
  EXPECT_FALSE(KbMonitorLoaded());
  EXPECT_EQ(Bar->MonitorUsers(), 0);
  EXPECT_EQ(KeyboardHookPanelCount(), 1);
  EXPECT_FALSE(Bar->MonitorNotify(0, 20, 1));  // no message number was handed out
  EXPECT_FALSE(Caps->LockOn());
  Bar->SetDesigning(true);
  try {
    Bar->SetUseMonitorDLL(true);
    FAIL();
  } catch (const Exception& E) {
    EXPECT_EQ(E.Message, "Could not load KbMonitor.dll");
  }
  EXPECT_FALSE(Bar->UseMonitorDLL());
}

TEST_F(ExStatusBarTest, SharedTimerIntervals) {
  TExStatusPanel* D = Add(sptDate);
  ASSERT_NE(Bar->Panels()->Timer(), nullptr);
  EXPECT_EQ(Bar->Panels()->Timer()->Interval(), 60000u);
  TExStatusPanel* T = Add(sptTime);
  EXPECT_EQ(Bar->Panels()->Timer()->Interval(), 1000u);
  TExStatusPanel* G = Add(sptGauge, 120);
  G->GaugeAttrs()->SetStyle(gsIndeterminate);  // an enabled gauge turning indeterminate runs
  EXPECT_EQ(Bar->Panels()->Timer()->Interval(), 50u);
  G->SetPanelType(sptNormal);
  EXPECT_EQ(Bar->Panels()->Timer()->Interval(), 1000u);
  G->SetPanelType(sptGauge);  // indeterminate: comes back disabled and still
  EXPECT_FALSE(G->OwnEnabled());
  EXPECT_EQ(Bar->Panels()->TimerPanelCount(), 2);
  G->SetEnabled(true);
  EXPECT_EQ(Bar->Panels()->Timer()->Interval(), 50u);
  G->SetEnabled(false);
  EXPECT_EQ(Bar->Panels()->Timer()->Interval(), 1000u);
  T->SetPanelType(sptNormal);
  EXPECT_EQ(Bar->Panels()->Timer()->Interval(), 60000u);
  D->SetEnabled(false);
  EXPECT_EQ(Bar->Panels()->Timer(), nullptr);
}

TEST_F(ExStatusBarTest, ClockPanelsFollowTheFakeClock) {
  TExStatusPanel* D = Add(sptDate, 80);
  TExStatusPanel* T = Add(sptTime, 80);
  TExStatusPanel* DT = Add(sptDateTime, 140);
  TExStatusPanel* TD = Add(sptTimeDate, 140);
  EXPECT_EQ(D->Text(), "6-12-2026");
  EXPECT_EQ(T->Text(), "9:05:03");
  EXPECT_EQ(DT->Text(), "6-12-2026 9:05:03");
  EXPECT_EQ(TD->Text(), "9:05:03 6-12-2026");
  EXPECT_FALSE(D->TextStored());
  D->SetDateFormat("d mmm");
  EXPECT_EQ(D->Text(), "6 dec");

  // A date panel updates only when the date changes; time panels every tick.
  FakeNow = EncodeDate(2026, 12, 6) + EncodeTime(23, 59, 59, 0);
  Bar->Panels()->TimerTick(nullptr);
  EXPECT_EQ(T->Text(), "23:59:59");
  FakeNow = EncodeDate(2026, 12, 7) + EncodeTime(0, 0, 1, 0);
  D->SetDateFormat("d mmm");  // unchanged: no update
  EXPECT_EQ(D->Text(), "6 dec");
  Bar->Panels()->TimerTick(nullptr);
  EXPECT_EQ(D->Text(), "7 dec");
  EXPECT_EQ(T->Text(), "0:00:01");
}

TEST_F(ExStatusBarTest, PercentGaugeColours) {
  TExStatusPanel* G = Add(sptGauge, 200);
  Add(sptNormal, 50);
  G->GaugeAttrs()->SetColor(clNavy);
  G->GaugeAttrs()->SetTextColor(clYellow);
  Bar->Font()->SetColor(clBlack);
  EXPECT_EQ(G->Alignment(), taCenter);
  Bar->RenderAll();
  const TRect R = Bar->GetPanelRect(0);
  const TRect In{R.Left + 1, R.Top + 1, R.Right - 1, R.Bottom - 1};
  EXPECT_EQ(CountIn(In, clNavy), 0);
  EXPECT_EQ(CountNear(In, clYellow), 0);
  EXPECT_GT(CountNear(In, clBlack), 0);  // "0%" in the bar font colour
  G->GaugeAttrs()->SetPosition(100);
  EXPECT_EQ(CountNear(In, clBlack), 0);
  EXPECT_GT(CountNear(In, clYellow), 0);
  G->GaugeAttrs()->SetPosition(50);
  // Filled part: R.Left + MulDiv(width, 50, 100).
  EXPECT_EQ(Px(In.Left + 2, In.Top + 1), ColorToRGB(clNavy));
  EXPECT_EQ(Px(In.Left + In.Width() / 2 + 2, In.Top + 1), ColorToRGB(clBtnFace));
}

TEST_F(ExStatusBarTest, IndeterminateGaugesReverse) {
  TExStatusPanel* G = Add(sptGauge, 60);
  Add(sptNormal, 50);
  G->GaugeAttrs()->SetStyle(gsIndeterminate);
  G->GaugeAttrs()->SetSpeed(4);
  G->SetPanelType(sptNormal);
  G->SetPanelType(sptGauge);
  G->SetEnabled(true);
  Bar->RenderAll();
  // Inner rect 58 x 18: F is 58 wide and 6 high; the figure turns when pos + 7 >= 58.
  std::vector<int32_t> Pos;
  for (int I = 0; I < 20; ++I) {
    Bar->Panels()->TimerTick(nullptr);
    Pos.push_back(G->GaugePos());
  }
  const int32_t Max = *std::max_element(Pos.begin(), Pos.end());
  EXPECT_EQ(Max, 52);  // 4, 8, ... 52: 52 + 7 >= 58 turns
  EXPECT_LT(G->GaugeStep(), 0);

  TExStatusPanel* H = Add(sptGauge, 30);
  H->GaugeAttrs()->SetStyle(gsIndeterminate2);
  H->SetPanelType(sptNormal);
  H->SetPanelType(sptGauge);
  H->SetEnabled(true);
  G->SetEnabled(false);
  int32_t Low = 0, High = 0;
  for (int I = 0; I < 400; ++I) {
    Bar->Panels()->TimerTick(nullptr);
    Low = std::min(Low, H->GaugePos());
    High = std::max(High, H->GaugePos());
  }
  // Runs until its left edge reaches the right edge, back until the gradient has left.
  EXPECT_GE(High + 1, Bar->GetPanelRect(2).Width() - 2);
  EXPECT_LE(Low, -100);
  EXPECT_GT(Low, -100 - 8);
}

// Panel widths, border widths and gauge speeds over their whole range: panels that start past
// the bar's right edge have no area, an auto-fit width never turns negative, a border wider than
// the panel leaves only the background, and a gauge faster than its panel is wide turns at every
// frame.
TEST_F(ExStatusBarTest, ExtremeWidthsBordersAndSpeedsStayInRange) {
  TExStatusPanel* Wide = Add(sptNormal, INT32_MAX);
  Add(sptNormal, INT32_MAX);
  Add(sptNormal, 50);
  EXPECT_EQ(Bar->GetPanelRect(0), (TRect{0, 2, 600, 22}));
  EXPECT_LE(Bar->GetPanelRect(1).Width(), 0);
  EXPECT_LE(Bar->GetPanelRect(2).Width(), 0);
  Bar->RenderAll();
  Wide->SetWidth(100);
  TExStatusPanel* Caps = Bar->Panels()->Items(1);
  Caps->SetPanelType(sptCapsLock);
  const int32_t Fit = Caps->Width();
  Caps->SetBorderWidth(INT32_MAX);
  EXPECT_GE(Caps->Width(), Fit);
  Caps->SetBorderWidth(0);
  EXPECT_EQ(Caps->Width(), Fit);
  // Content drawn in every panel kind with a border too wide for it: the background only.
  TExStatusPanel* P = Bar->Panels()->Items(2);
  P->SetWidth(200);
  P->SetText("text");
  for (const TExStatusPanelType T : {sptNormal, sptEllipsisPath, sptGlyph, sptGauge, sptCapsLock}) {
    for (const int32_t Border : {12, 1000, INT32_MAX}) {
      P->SetPanelType(T);
      P->SetBorderWidth(Border);
      P->SetEnabled(true);
      Bar->RenderAll();
      const TRect R = Bar->GetPanelRect(2);
      const TRect In{R.Left + 1, R.Top + 1, R.Right - 1, R.Bottom - 1};
      EXPECT_EQ(CountIn(In, clBtnFace), In.Width() * In.Height()) << T << " " << Border;
    }
    P->SetBorderWidth(0);
  }
  // An owner-draw panel still leaves its area as it is at run time.
  P->SetPanelType(sptOwnerDraw);
  Bar->RenderAll();
  const TRect OD = Bar->GetPanelRect(2);
  Bar->Surface()->Canvas()->Brush()->SetColor(clRed);
  Bar->Surface()->Canvas()->FillRect(OD);
  P->SetBorderWidth(INT32_MAX);
  EXPECT_EQ(Px(OD.Left + 3, OD.Top + 3), ColorToRGB(clRed));
  P->SetBorderWidth(0);
  for (const TExGaugeStyle S : {gsIndeterminate, gsIndeterminate2}) {
    P->SetPanelType(sptNormal);
    P->GaugeAttrs()->SetStyle(S);
    P->GaugeAttrs()->SetSpeed(INT32_MAX);
    P->SetPanelType(sptGauge);
    P->SetEnabled(true);
    int32_t Last = P->GaugeStep();
    for (int I = 0; I < 8; ++I) {
      Bar->Panels()->TimerTick(nullptr);
      EXPECT_EQ(P->GaugeStep(), -Last) << S << " " << I;
      Last = P->GaugeStep();
    }
    P->SetEnabled(false);
  }
}

TEST_F(ExStatusBarTest, GaugeGradientIsTruncatedPerChannel) {
  Bar->SetColor(RGB(0, 0, 0));
  TExStatusPanel* G = Add(sptGauge, 100);
  G->GaugeAttrs()->SetColor(RGB(200, 100, 255));
  G->GaugeAttrs()->SetStyle(gsIndeterminate2);
  G->SetPanelType(sptNormal);
  G->SetPanelType(sptGauge);
  G->SetEnabled(true);
  Bar->RenderAll();
  Bar->Panels()->TimerTick(nullptr);
  TBitmap* B = G->GaugeBitmap();
  ASSERT_NE(B, nullptr);
  EXPECT_EQ(B->Width(), 100);
  EXPECT_EQ(B->Height(), 22);
  for (int X : {0, 1, 50, 98, 99}) {
    const TColor C = B->Canvas()->Pixel(X, 5);
    EXPECT_EQ(C & 0xFF, static_cast<TColor>(200 * X / 99)) << X;
    EXPECT_EQ((C >> 8) & 0xFF, static_cast<TColor>(100 * X / 99)) << X;
    EXPECT_EQ((C >> 16) & 0xFF, static_cast<TColor>(255 * X / 99)) << X;
  }
  const TBitmap* Old = G->GaugeBitmap();
  (void)Old;
  G->GaugeAttrs()->SetColor(clRed);  // a new colour rebuilds the gradient (the repaint is immediate)
  ASSERT_NE(G->GaugeBitmap(), nullptr);
  EXPECT_EQ(G->GaugeBitmap()->Canvas()->Pixel(99, 5), ColorToRGB(clRed));
}

TEST_F(ExStatusBarTest, HintsOwnerDrawAndClicks) {
  TExStatusPanel* E = Add(sptEllipsisPath, 80);
  E->SetText("/home/gebruiker/documenten/kadrilo.dtp");
  EXPECT_EQ(E->StoredHint(), "...");
  EXPECT_EQ(E->Hint(), E->Text());
  E->OnHintText = [](TExStatusBar*, TExStatusPanel*, std::string& H) { H = "[" + H + "]"; };
  EXPECT_EQ(E->Hint(), "[" + E->Text() + "]");
  // A tooltip event over the cut panel shows its whole text; the bar has no Hint of its own.
  Bar->SetShowHint(true);
  ASSERT_TRUE(Bar->Hint().empty());
  QWidget* W = static_cast<QWidget*>(Bar->WidgetHandle());
  const QPoint At(Bar->GetPanelRect(0).Left + 5, 5);
  QHelpEvent Over(QEvent::ToolTip, At, W->mapToGlobal(At));
  QApplication::sendEvent(W, &Over);
  EXPECT_TRUE(QToolTip::isVisible());
  EXPECT_EQ(QToolTip::text().toStdString(), "[" + E->Text() + "]");
  QToolTip::hideText();
  ASSERT_TRUE(guitest::WaitFor([] { return !QToolTip::isVisible(); }, 2000));

  TExStatusPanel* O = Add(sptOwnerDraw, 80);
  Bar->SetColor(clWhite);
  Bar->RenderAll();
  const TRect R = Bar->GetPanelRect(1);
  // Paint something, then a repaint without a handler leaves it alone.
  Bar->Surface()->Canvas()->Brush()->SetColor(clLime);
  Bar->Surface()->Canvas()->FillRect({R.Left + 1, R.Top + 1, R.Right - 1, R.Bottom - 1});
  O->Invalidate();
  EXPECT_EQ(Px(R.Left + 5, R.Top + 5), ColorToRGB(clLime));
  int Drawn = 0;
  O->OnDrawPanel = [&](TExStatusBar*, TExStatusPanel* P, const TRect&) { Drawn += P == O; };
  Bar->RenderAll();
  EXPECT_EQ(Drawn, 1);

  int Clicked = 0;
  O->OnClick = [&](TObject* S) { Clicked += S == O; };
  Bar->ClickAt({R.Left + 3, R.Top + 3});
  Bar->ClickAt({1, 1});
  EXPECT_EQ(Clicked, 1);
}

TEST_F(ExStatusBarTest, AssignCopiesTheTypeLast) {
  TExStatusPanel* A = Add(sptNormal, 70);
  A->SetText("Bron");
  A->SetAlignment(taRightJustify);
  A->SetBorderWidth(2);
  A->GaugeAttrs()->SetPosition(30);
  TExStatusPanel* B = Add(sptNormal, 10);
  A->SetPanelType(sptDate);
  B->Assign(A);
  EXPECT_EQ(B->PanelType(), sptDate);
  EXPECT_EQ(B->Width(), 70);
  EXPECT_EQ(B->Alignment(), taRightJustify);
  EXPECT_EQ(B->GaugeAttrs()->Position(), 30);
  EXPECT_EQ(B->BorderWidth(), 0);  // not copied
  EXPECT_EQ(Bar->Panels()->TimerPanelCount(), 2);
  B->SetIndex(0);
  EXPECT_EQ(Bar->Panels()->Items(0), B);
}

TEST_F(ExStatusBarTest, ShutDownReports) {
  Add(sptCapsLock);
  Add(sptTime);
  FinalizeExStatusBar();
  ASSERT_EQ(ExStatusBarReports().size(), 2u);
  EXPECT_EQ(ExStatusBarReports()[0], "TExStatusBar: Keyboard hook still installed");
  EXPECT_EQ(ExStatusBarReports()[1], "TExStatusBar: Unbalanced timer registrations");
  Bar.reset();
  InitializeExStatusBar();
  ExStatusBarReports().clear();
}

TEST_F(ExStatusBarTest, PictureOfTheMainFormBar) {
  Bar->SetBounds(0, 0, 1060, 22);
  Bar->SetColor(clBtnFace);
  Bar->Font()->SetColor(clBlack);
  Add(sptNormal, 420)->SetText("Klaar - kadrilo.dtp geopend");
  Add(sptCapsLock);
  Add(sptScrollLock);
  Add(sptNumLock);
  TExStatusPanel* G = Add(sptGauge, 250);
  G->GaugeAttrs()->SetPosition(62);
  Add(sptDateTime, 130);
  TExStatusPanel* E = Add(sptEllipsisPath, 120);
  E->SetText("/home/gebruiker/documenten/catalogus/kadrilo.dtp");
  Add(sptNormal, 50)->SetText("NL");
  Bar->RenderAll();
  const std::string Path = kdtest::OutputDir() + "/ex_status_bar.png";
  ASSERT_TRUE(Bar->Surface()->Image().save(QString::fromStdString(Path)));
  EXPECT_EQ(Bar->Surface()->Width(), 1060);
}

namespace {
struct THintBar : TExStatusBar {
  using TExStatusBar::TExStatusBar;
  using TExStatusBar::HintShow;
};
}  // namespace

TEST_F(ExStatusBarTest, HintAreaStopsAtPanelsWithHints) {
  THintBar B(nullptr);
  B.SetBounds(0, 0, 400, 22);
  B.HandleNeeded();
  for (int I = 0; I < 4; ++I) B.Panels()->Add()->SetWidth(50);
  B.Panels()->Items(0)->SetHint("links");
  B.Panels()->Items(3)->SetHint("rechts");
  THintInfo Info;
  Info.CursorPos = {10, 5};
  Info.CursorRect = {0, 0, 400, 22};
  B.HintShow(Info);
  EXPECT_EQ(Info.HintStr, "links");
  EXPECT_EQ(Info.CursorRect, B.GetPanelRect(0));
  Info = THintInfo{};
  Info.CursorPos = {80, 5};
  Info.CursorRect = {0, 0, 400, 22};
  B.HintShow(Info);
  EXPECT_EQ(Info.CursorRect.Left, 50);
  EXPECT_EQ(Info.CursorRect.Right, 156);
}

namespace {
int FakeLib = 0;
uint32_t FakeReg(KbHWND) { return 50000; }
uint32_t FakeDereg(KbHWND) { return 1; }
}  // namespace

TEST_F(ExStatusBarTest, MonitorLibraryDrivesLockOn) {
  SetKbMonitorLoader({[](const std::string&) -> void* { return &FakeLib; },
                      [](void*, const std::string& N) -> void* {
                        return N == "RegisterKeyboardHook" ? reinterpret_cast<void*>(&FakeReg)
                                                           : reinterpret_cast<void*>(&FakeDereg);
                      },
                      [](void*) { return true; }});
  TExStatusPanel* Caps = Add(sptCapsLock);
  TExStatusPanel* Num = Add(sptNumLock);
  Bar->SetUseMonitorDLL(true);
  EXPECT_TRUE(Bar->UseMonitorDLL());
  EXPECT_TRUE(KbMonitorLoaded());
  EXPECT_EQ(Bar->MonitorUsers(), 2);
  EXPECT_EQ(Bar->MonitorMessage(), 50000u);
  EXPECT_FALSE(KeyboardHookInstalled());
  EXPECT_EQ(Bar->MainWinHookCount(), 0);
  EXPECT_TRUE(Bar->MonitorNotify(50000, 0x190, 1));  // low byte 0x90: Num Lock
  EXPECT_TRUE(Num->LockOn());
  EXPECT_FALSE(Caps->LockOn());
  EXPECT_TRUE(Bar->MonitorNotify(50000, 0x41, 1));  // anything else reads as Caps Lock
  EXPECT_TRUE(Caps->LockOn());
  EXPECT_FALSE(Bar->MonitorNotify(50001, 0x14, 0));
  Bar->SetUseMonitorDLL(false);
  EXPECT_EQ(Bar->MonitorUsers(), 0);
  EXPECT_FALSE(KbMonitorLoaded());
  EXPECT_EQ(KeyboardHookPanelCount(), 2);
  SetKbMonitorLoader({});
}

namespace {
// The pixels of a panel's inside on the bar's surface.
QImage PanelPixels(TExStatusBar& B, int32_t Index) {
  const TRect R = B.GetPanelRect(Index);
  return B.Surface()->Image().copy(R.Left + 1, R.Top + 1, R.Width() - 2, R.Height() - 2);
}
void SendKey(QWidget* To, QEvent::Type Type, int Key, bool AutoRepeat = false) {
  QKeyEvent E(Type, Key, Qt::NoModifier, QString(), AutoRepeat);
  QApplication::sendEvent(To, &E);
}
}  // namespace

TEST_F(ExStatusBarTest, LockKeysPressedAnywhereRepaintTheirPanels) {
  KeyStateAllowXkb(false);
  KeyStateReset();
  Bar->Font()->SetColor(clBlack);
  Add(sptCapsLock);
  Add(sptNumLock);
  Add(sptScrollLock);
  Add(sptNormal, 50);
  Bar->RenderAll();
  int32_t Seen = 0;
  std::vector<std::array<intptr_t, 3>> Heard;
  const THookHandle Count = SetAppHook(hkKeyboard, [&](const THookMessage& M) {
    ++Seen;
    Heard.push_back({static_cast<intptr_t>(M.Msg), M.WParam, M.LParam});
  });
  // A widget that is not the bar's, with a child the events are sent to and bubble up from.
  QWidget Outer;
  QWidget* Inner = new QWidget(&Outer);
  const QImage Caps0 = PanelPixels(*Bar, 0), Num0 = PanelPixels(*Bar, 1), Scroll0 = PanelPixels(*Bar, 2);

  SendKey(Inner, QEvent::KeyPress, Qt::Key_CapsLock);
  SendKey(Inner, QEvent::KeyRelease, Qt::Key_CapsLock);
  EXPECT_EQ(Seen, 2);  // once per event, not once per widget it passes
  EXPECT_EQ(GetKeyState(VK_CAPITAL) & 1, 1);
  const QImage Caps1 = PanelPixels(*Bar, 0);
  EXPECT_NE(Caps1, Caps0);  // repainted at once, in the bar font colour
  EXPECT_EQ(PanelPixels(*Bar, 1), Num0);
  EXPECT_EQ(PanelPixels(*Bar, 2), Scroll0);

  // Auto-repeat and other keys change nothing; a second press turns it off again.
  SendKey(Inner, QEvent::KeyPress, Qt::Key_CapsLock);
  SendKey(Inner, QEvent::KeyRelease, Qt::Key_CapsLock, true);
  SendKey(Inner, QEvent::KeyPress, Qt::Key_CapsLock, true);
  // The messages: the key, bit 31 for a release, bit 30 when the key was down before.
  const std::vector<std::array<intptr_t, 3>> Expected = {{WM_KEYDOWN, 20, 0x00000001},
                                                         {WM_KEYUP, 20, 0xC0000001},
                                                         {WM_KEYDOWN, 20, 0x00000001},
                                                         {WM_KEYUP, 20, 0xC0000001},
                                                         {WM_KEYDOWN, 20, 0x40000001}};
  EXPECT_EQ(Heard, Expected);
  EXPECT_EQ(GetKeyState(VK_CAPITAL) & 1, 0);
  EXPECT_EQ(PanelPixels(*Bar, 0), Caps0);
  SendKey(Inner, QEvent::KeyRelease, Qt::Key_CapsLock);
  SendKey(&Outer, QEvent::KeyPress, Qt::Key_A);
  SendKey(&Outer, QEvent::KeyRelease, Qt::Key_A);
  EXPECT_EQ(PanelPixels(*Bar, 0), Caps0);

  SendKey(&Outer, QEvent::KeyPress, Qt::Key_NumLock);
  SendKey(&Outer, QEvent::KeyRelease, Qt::Key_NumLock);
  SendKey(&Outer, QEvent::KeyPress, Qt::Key_ScrollLock);
  SendKey(&Outer, QEvent::KeyRelease, Qt::Key_ScrollLock);
  EXPECT_NE(PanelPixels(*Bar, 1), Num0);
  EXPECT_NE(PanelPixels(*Bar, 2), Scroll0);
  EXPECT_EQ(PanelPixels(*Bar, 0), Caps0);
  // The same pictures as a full repaint gives.
  const QImage Num1 = PanelPixels(*Bar, 1);
  Bar->RenderAll();
  EXPECT_EQ(PanelPixels(*Bar, 1), Num1);

  // Once the last lock-key panel goes, no listener is left behind.
  Bar->Panels()->Clear();
  EXPECT_EQ(AppHookCount(hkKeyboard), 1);
  UnhookAppHook(Count);
  KeyStateReset();
  KeyStateAllowXkb(true);
}

TEST_F(ExStatusBarTest, OwnerDrawHandlerPaintsOnTheBarCanvas) {
  Bar->SetColor(clWhite);
  Add(sptNormal, 60)->SetText("Klaar");
  TExStatusPanel* O = Add(sptOwnerDraw, 80);
  Add(sptNormal, 50);
  TRect Given{};
  O->OnDrawPanel = [&](TExStatusBar* B, TExStatusPanel*, const TRect& R) {
    Given = R;
    B->Canvas()->Brush()->SetColor(clLime);
    B->Canvas()->FillRect({R.Left + 1, R.Top + 1, R.Right - 1, R.Bottom - 1});
  };
  // What the window shows: its own paint, grabbed.
  QWidget* W = static_cast<QWidget*>(Bar->WidgetHandle());
  const QImage Shot = W->grab().toImage();
  const TRect R = Bar->GetPanelRect(1);
  EXPECT_EQ(Given, R);
  EXPECT_EQ(Shot.pixel(R.Left + 5, R.Top + 5) & 0xFFFFFF, 0x00FF00u);
  EXPECT_EQ(Shot.pixel(R.Right + 8, R.Top + 5) & 0xFFFFFF, 0xFFFFFFu);  // the next panel is untouched
  EXPECT_EQ(Px(R.Left + 5, R.Top + 5), ColorToRGB(clLime));
}

namespace {
// A monitor library that remembers the windows it was given and tells them from its own thread.
std::vector<KbHWND> LibWindows;
uint32_t LibReg(KbHWND W) {
  LibWindows.push_back(W);
  return 50123;
}
uint32_t LibDereg(KbHWND W) {
  LibWindows.erase(std::remove(LibWindows.begin(), LibWindows.end(), W), LibWindows.end());
  return 1;
}
void LibTells(uint32_t Key, bool On) {
  std::thread watcher([&] {
    for (KbHWND W : LibWindows) platform::PostMessage(W, 50123, Key, On ? 1 : 0);
  });
  watcher.join();
  for (int I = 0; I < 5; ++I) QApplication::processEvents();
}
}  // namespace

TEST_F(ExStatusBarTest, MonitorLibraryMessagesReachTheBar) {
  SetKbMonitorLoader({[](const std::string&) -> void* { return &FakeLib; },
                      [](void*, const std::string& N) -> void* {
                        return N == "RegisterKeyboardHook" ? reinterpret_cast<void*>(&LibReg)
                                                           : reinterpret_cast<void*>(&LibDereg);
                      },
                      [](void*) { return true; }});
  LibWindows.clear();
  Bar->Font()->SetColor(clBlack);
  TExStatusPanel* Caps = Add(sptCapsLock);
  TExStatusPanel* Scroll = Add(sptScrollLock);
  Add(sptNormal, 50);
  Bar->SetUseMonitorDLL(true);
  ASSERT_EQ(LibWindows.size(), 1u);
  EXPECT_EQ(LibWindows[0], Bar->MonitorWindow());
  Bar->RenderAll();
  const QImage Off = PanelPixels(*Bar, 0);
  LibTells(0x14, true);
  EXPECT_TRUE(Caps->LockOn());
  EXPECT_FALSE(Scroll->LockOn());
  EXPECT_NE(PanelPixels(*Bar, 0), Off);
  LibTells(0x91, true);
  EXPECT_TRUE(Scroll->LockOn());
  LibTells(0x14, false);
  EXPECT_FALSE(Caps->LockOn());
  EXPECT_EQ(PanelPixels(*Bar, 0), Off);
  // The last user gone: the window is deregistered and messages no longer arrive.
  Bar->SetUseMonitorDLL(false);
  EXPECT_TRUE(LibWindows.empty());
  SetKbMonitorLoader({});
}

TEST_F(ExStatusBarTest, ARecreatedWindowIsRegisteredOnce) {
  SetKbMonitorLoader({[](const std::string&) -> void* { return &FakeLib; },
                      [](void*, const std::string& N) -> void* {
                        return N == "RegisterKeyboardHook" ? reinterpret_cast<void*>(&LibReg)
                                                           : reinterpret_cast<void*>(&LibDereg);
                      },
                      [](void*) { return true; }});
  LibWindows.clear();
  Add(sptCapsLock);
  Add(sptNumLock);
  Bar->SetUseMonitorDLL(true);
  ASSERT_EQ(LibWindows.size(), 1u);
  for (int I = 0; I < 2; ++I) {
    Bar->RecreateWnd();
    EXPECT_EQ(LibWindows.size(), 1u);
    EXPECT_EQ(KbMonitorWindows().size(), 1u);
    EXPECT_EQ(Bar->MonitorMessage(), 50123u);
  }
  // Messages still arrive at the new window.
  LibTells(0x90, true);
  EXPECT_TRUE(Bar->Panels()->Items(1)->LockOn());
  Bar->SetUseMonitorDLL(false);
  EXPECT_TRUE(LibWindows.empty());
  EXPECT_TRUE(KbMonitorWindows().empty());
  SetKbMonitorLoader({});
}

TEST_F(ExStatusBarTest, DisablingTheBarAsAControlReachesItsPanels) {
  TExStatusPanel* Clock = Add(sptTime);
  TExStatusPanel* Caps = Add(sptCapsLock);
  TExStatusPanel* Gauge = Add(sptGauge, 80);
  Gauge->GaugeAttrs()->SetStyle(gsIndeterminate);
  Gauge->SetEnabled(true);
  ASSERT_EQ(Bar->Panels()->TimerPanelCount(), 2);
  ASSERT_TRUE(KeyboardHookInstalled());
  Bar->Font()->SetColor(clBlack);
  Bar->RenderAll();
  const QImage CapsOn = PanelPixels(*Bar, 1);
  // Through the control's own setter, as a parent or the form disables it.
  TControl* AsControl = Bar.get();
  AsControl->SetEnabled(false);
  EXPECT_FALSE(Clock->Enabled());
  EXPECT_FALSE(Caps->Enabled());
  EXPECT_TRUE(Clock->OwnEnabled());
  EXPECT_EQ(Bar->Panels()->TimerPanelCount(), 0);
  EXPECT_EQ(Bar->Panels()->Timer(), nullptr);
  EXPECT_FALSE(KeyboardHookInstalled());
  EXPECT_EQ(KeyboardHookPanelCount(), 0);
  EXPECT_EQ(Bar->MainWinHookCount(), 0);
  // A disabled panel shows only its background.
  Bar->RenderAll();
  EXPECT_EQ(CountIn(Bar->GetPanelRect(1), clBlack), 0);
  EXPECT_NE(PanelPixels(*Bar, 1), CapsOn);

  AsControl->SetEnabled(true);
  EXPECT_EQ(Bar->Panels()->TimerPanelCount(), 2);
  ASSERT_NE(Bar->Panels()->Timer(), nullptr);
  EXPECT_EQ(Bar->Panels()->Timer()->Interval(), 50u);
  EXPECT_TRUE(KeyboardHookInstalled());
  EXPECT_EQ(KeyboardHookPanelCount(), 1);
  EXPECT_EQ(Bar->MainWinHookCount(), 1);
  Bar->RenderAll();
  EXPECT_EQ(PanelPixels(*Bar, 1), CapsOn);
}

namespace {
// A left press and release at a client point of the bar's window, as the user gives them.
void ClickWindow(TExStatusBar& B, TPoint At) {
  QWidget* W = static_cast<QWidget*>(B.WidgetHandle());
  const QPointF P(At.X, At.Y);
  QMouseEvent Press(QEvent::MouseButtonPress, P, W->mapToGlobal(P), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QMouseEvent Release(QEvent::MouseButtonRelease, P, W->mapToGlobal(P), Qt::LeftButton, Qt::NoButton,
                      Qt::NoModifier);
  QApplication::sendEvent(W, &Press);
  QApplication::sendEvent(W, &Release);
}
}  // namespace

TEST_F(ExStatusBarTest, AClickOnTheWindowReachesThePanelUnderIt) {
  std::vector<std::string> Order;
  for (int32_t I = 0; I < 3; ++I) {
    TExStatusPanel* P = Add(sptNormal, 100);
    P->OnClick = [&Order, I, P](TObject* S) {
      if (S == P) Order.push_back("panel " + std::to_string(I));
    };
  }
  Bar->OnClick = [&](TObject* S) {
    if (S == Bar.get()) Order.push_back("bar");
  };
  const TRect R0 = Bar->GetPanelRect(0), R2 = Bar->GetPanelRect(2);
  ClickWindow(*Bar, {R0.Left + 2, R0.Top + 2});
  ClickWindow(*Bar, {R2.Right - 2, R2.Bottom - 2});
  ClickWindow(*Bar, {R0.Right, R0.Top + 2});  // the gap between two panels
  const std::vector<std::string> Expected = {"panel 0", "bar", "panel 2", "bar", "bar"};
  EXPECT_EQ(Order, Expected);
}

// Every right-to-left mode reads right to left: the panel shows exactly what a left-to-right
// panel shows for the text in the order it is seen; only bdRightToLeft also moves it right.
TEST_F(ExStatusBarTest, RightToLeftPanelsReadRightToLeft) {
  Bar->SetColor(clWhite);
  Bar->Font()->SetColor(clBlack);
  TExStatusPanel* P = Add(sptNormal, 200);
  Add(sptNormal, 50);
  const TRect R = Bar->GetPanelRect(0);
  auto Pixels = [&] {
    Bar->RenderAll();
    std::vector<TColor> out;
    for (int32_t y = R.Top; y < R.Bottom; ++y)
      for (int32_t x = R.Left; x < R.Right; ++x) out.push_back(Px(x, y));
    return out;
  };
  P->SetText(".Klaar (1)");
  P->SetBiDiMode(bdLeftToRight);
  const std::vector<TColor> seenLeft = Pixels();
  P->SetAlignment(taRightJustify);
  const std::vector<TColor> seenRight = Pixels();
  P->SetText("Klaar (1).");
  const std::vector<TColor> readLeft = Pixels();
  EXPECT_NE(readLeft, seenRight);
  P->SetAlignment(taLeftJustify);
  for (TBiDiMode mode : {bdRightToLeftNoAlign, bdRightToLeftReadingOnly}) {
    P->SetBiDiMode(mode);
    EXPECT_EQ(Pixels(), seenLeft) << int(mode);
  }
  P->SetBiDiMode(bdRightToLeft);  // left alignment drawn at the right
  EXPECT_EQ(Pixels(), seenRight);
  P->SetBiDiMode(bdLeftToRight);  // and back
  EXPECT_NE(Pixels(), seenLeft);
  P->SetText(".Klaar (1)");
  EXPECT_EQ(Pixels(), seenLeft);
}

TEST_F(ExStatusBarTest, RightToLeftPanelsMirrorTheirText) {
  Bar->SetColor(clWhite);
  Bar->Font()->SetColor(clBlack);
  TExStatusPanel* P = Add(sptNormal, 200);
  P->SetText("Klaar");
  Add(sptNormal, 50);
  const TRect R = Bar->GetPanelRect(0);
  const TRect LeftHalf{R.Left, R.Top, R.Left + R.Width() / 2, R.Bottom};
  const TRect RightHalf{LeftHalf.Right, R.Top, R.Right, R.Bottom};
  auto Ink = [&](const TRect& Part) {
    Bar->RenderAll();
    return CountNear(Part, clBlack);
  };
  EXPECT_TRUE(P->ParentBiDiMode());
  EXPECT_FALSE(P->BiDiModeStored());
  EXPECT_GT(Ink(LeftHalf), 10);
  EXPECT_EQ(Ink(RightHalf), 0);
  // Its own mode: the text moves to the right edge; the bar's mode no longer reaches it.
  P->SetBiDiMode(bdRightToLeft);
  EXPECT_FALSE(P->ParentBiDiMode());
  EXPECT_TRUE(P->BiDiModeStored());
  EXPECT_EQ(P->DrawAlignment(), taRightJustify);
  EXPECT_EQ(Ink(LeftHalf), 0);
  EXPECT_GT(Ink(RightHalf), 10);
  Bar->SetBiDiMode(bdLeftToRight);
  EXPECT_EQ(P->BiDiMode(), bdRightToLeft);
  // Right-aligned text goes left; centred text stays; the other modes keep the alignment.
  P->SetAlignment(taRightJustify);
  EXPECT_EQ(P->DrawAlignment(), taLeftJustify);
  EXPECT_GT(Ink(LeftHalf), 10);
  EXPECT_EQ(Ink(RightHalf), 0);
  P->SetAlignment(taCenter);
  EXPECT_EQ(P->DrawAlignment(), taCenter);
  P->SetAlignment(taLeftJustify);
  P->SetBiDiMode(bdRightToLeftNoAlign);
  EXPECT_EQ(P->DrawAlignment(), taLeftJustify);
  // Following the bar again takes the bar's mode, and the bar's changes reach it.
  P->SetParentBiDiMode(true);
  EXPECT_EQ(P->BiDiMode(), bdLeftToRight);
  Bar->SetBiDiMode(bdRightToLeft);
  EXPECT_EQ(P->BiDiMode(), bdRightToLeft);
  EXPECT_GT(Ink(RightHalf), 10);
  EXPECT_EQ(Bar->Panels()->Add()->BiDiMode(), bdRightToLeft);  // new panels start with the bar's

  // A glyph panel puts its glyph at the right edge and the text to its left.
  TExStatusPanel* G = Bar->Panels()->Items(1);
  G->SetParentBiDiMode(false);
  G->SetBiDiMode(bdLeftToRight);
  G->SetWidth(120);
  TBitmap Glyph;
  Glyph.SetSize(10, 10);
  Glyph.Canvas()->Brush()->SetColor(clRed);
  Glyph.Canvas()->FillRect({0, 0, 10, 10});
  Glyph.Canvas()->SetPixel(0, 9, clWhite);  // the transparent colour
  G->Glyph()->SetGraphic(&Glyph);
  G->SetPanelType(sptGlyph);
  G->SetAutoFit(false);
  G->SetWidth(120);
  auto RedX = [&] {
    Bar->RenderAll();
    const TRect GR = Bar->GetPanelRect(1);
    for (int32_t X = GR.Left; X < GR.Right; ++X)
      if (Px(X, (GR.Top + GR.Bottom) / 2) == ColorToRGB(clRed)) return X - GR.Left;
    return -1;
  };
  const int32_t LeftToRight = RedX();
  G->SetBiDiMode(bdRightToLeft);
  const int32_t RightToLeft = RedX();
  EXPECT_GE(LeftToRight, 0);
  EXPECT_LT(LeftToRight, 5);
  EXPECT_GT(RightToLeft, 100);

  // Assign copies both; a panel that follows its bar takes the receiving bar's mode.
  TExStatusBar Other(nullptr);
  Other.SetBiDiMode(bdRightToLeftReadingOnly);
  TExStatusPanel* Q = Other.Panels()->Add();
  Q->Assign(G);
  EXPECT_EQ(Q->BiDiMode(), bdRightToLeft);
  EXPECT_FALSE(Q->ParentBiDiMode());
  Q->Assign(P);
  EXPECT_TRUE(Q->ParentBiDiMode());
  EXPECT_EQ(Q->BiDiMode(), bdRightToLeftReadingOnly);
}

#include "platform/Controls.h"

#include <gtest/gtest.h>

#include <QHelpEvent>
#include <QImage>
#include <QScrollBar>
#include <QWindow>
#include <memory>
#include <string>
#include <vector>

#include "platform/ExtCtrls.h"
#include "platform/Forms.h"
#include "platform/Graphics.h"
#include "platform/Menus.h"
#include "tests/platform/GuiTestEvents.h"

using namespace platform;
using namespace guitest;

namespace {

// Records what reaches the class library's virtual methods.
class TProbe : public TCustomControl {
 public:
  explicit TProbe(TComponent* AOwner) : TCustomControl(AOwner) {}
  std::vector<std::string> Log;
  std::vector<TShiftState> Shifts;
  std::vector<TPoint> Points;
  std::vector<Word> Keys;
  std::vector<TKeyChar> Chars;
  std::vector<TRect> Clips;
  bool Border = false;
  bool WantAll = false;
  int CreateWndCount = 0;
  int SizeCount = 0;
  std::vector<std::pair<int, int>> Scrolls;
  TColor Fill = clWhite;
  bool LastHintCalled = false;
  std::string LastHint;

  using TWinControl::ClientOffset;

 protected:
  void MouseDown(TMouseButton B, TShiftState S, int32_t X, int32_t Y) override {
    Log.push_back(std::string("down") + static_cast<char>('0' + B));
    Shifts.push_back(S);
    Points.push_back({X, Y});
    TCustomControl::MouseDown(B, S, X, Y);
  }
  void MouseUp(TMouseButton B, TShiftState S, int32_t X, int32_t Y) override {
    Log.push_back(std::string("up") + static_cast<char>('0' + B));
    Shifts.push_back(S);
    Points.push_back({X, Y});
  }
  void MouseMove(TShiftState S, int32_t X, int32_t Y) override {
    Log.push_back("move");
    Shifts.push_back(S);
    Points.push_back({X, Y});
  }
  void Click() override {
    Log.push_back("click");
    TCustomControl::Click();
  }
  void DblClick() override { Log.push_back("dblclick"); }
  void MouseEnter() override {
    Log.push_back("enter");
    TCustomControl::MouseEnter();
  }
  void MouseLeave() override { Log.push_back("leave"); }
  void KeyDown(Word& Key, TShiftState Shift) override {
    Log.push_back("keydown");
    Keys.push_back(Key);
    Shifts.push_back(Shift);
  }
  void KeyUp(Word& Key, TShiftState) override {
    Log.push_back("keyup");
    Keys.push_back(Key);
  }
  void KeyPress(TKeyChar& Key) override {
    Log.push_back("char");
    Chars.push_back(Key);
  }
  bool WantSpecialKey(Word Key, TShiftState Shift) override {
    return WantAll || TCustomControl::WantSpecialKey(Key, Shift);
  }
  void CreateParams(TCreateParams& P) override {
    TCustomControl::CreateParams(P);
    if (Border) P.Style |= WS_BORDER;
  }
  void CreateWnd() override {
    ++CreateWndCount;
    TCustomControl::CreateWnd();
  }
  void WMSize() override {
    ++SizeCount;
    TCustomControl::WMSize();
  }
  void WMVScroll(int32_t Code, int32_t Pos) override { Scrolls.push_back({Code, Pos}); }
  void Paint() override {
    Clips.push_back(Canvas()->ClipRect());
    Canvas()->Brush()->SetColor(Fill);
    Canvas()->FillRect(ClientRect());
  }
  bool HintShow(THintInfo& Info) override {
    LastHintCalled = true;
    LastHint = Info.HintStr;
    return false;  // no real tooltip in tests
  }
};

class ControlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Form = std::make_unique<TForm>(nullptr);
    Form->SetBounds(10, 10, 400, 300);
    Probe = new TProbe(Form.get());
    Probe->SetParent(Form.get());
    Probe->SetBounds(20, 30, 200, 100);
    Form->Show();
    WaitFor([&] {
      QWindow* h = W(Form.get())->windowHandle();
      return h && h->isExposed();
    });
    KeyStateReset();
  }
  void TearDown() override {
    Form.reset();
    KeyStateReset();
  }
  std::unique_ptr<TForm> Form;
  TProbe* Probe = nullptr;
};

QImage Grab(TControl* c) { return W(c)->grab().toImage().convertToFormat(QImage::Format_RGB32); }

}  // namespace

TEST_F(ControlsTest, MouseButtonsShiftStatesAndClickOrder) {
  Press(Probe, 5, 6, Qt::LeftButton, Qt::ShiftModifier);
  Release(Probe, 5, 6, Qt::LeftButton, Qt::ShiftModifier);
  ASSERT_EQ(Probe->Log, (std::vector<std::string>{"down0", "click", "up0"}));
  EXPECT_EQ(Probe->Shifts[0], ssShift | ssLeft);
  EXPECT_EQ(Probe->Shifts[1], ssShift);  // the button is up by then
  EXPECT_EQ(Probe->Points[0], (TPoint{5, 6}));

  Probe->Log.clear();
  Probe->Shifts.clear();
  Press(Probe, 1, 1, Qt::RightButton, Qt::ControlModifier | Qt::AltModifier);
  Release(Probe, 1, 1, Qt::RightButton);
  Press(Probe, 1, 1, Qt::MiddleButton);
  Release(Probe, 1, 1, Qt::MiddleButton);
  EXPECT_EQ(Probe->Log, (std::vector<std::string>{"down1", "up1", "down2", "up2"}));
  EXPECT_EQ(Probe->Shifts[0], ssCtrl | ssAlt | ssRight);
  EXPECT_EQ(Probe->Shifts[2], ssMiddle);
}

TEST_F(ControlsTest, ReleaseOutsideTheControlIsNoClick) {
  Press(Probe, 5, 5);
  Release(Probe, 500, 5);
  EXPECT_EQ(Probe->Log, (std::vector<std::string>{"down0", "up0"}));
}

TEST_F(ControlsTest, DoubleClickSequence) {
  Press(Probe, 3, 3);
  Release(Probe, 3, 3);
  DoubleClick(Probe, 3, 3);
  Release(Probe, 3, 3);
  EXPECT_EQ(Probe->Log, (std::vector<std::string>{"down0", "click", "up0", "dblclick", "down0", "up0"}));
  EXPECT_EQ(Probe->Shifts[2], ssLeft | ssDouble);

  // Without csDoubleClicks the second press is a plain press and clicks again.
  Probe->Log.clear();
  Probe->SetControlStyle(Probe->ControlStyle() & ~csDoubleClicks);
  DoubleClick(Probe, 3, 3);
  Release(Probe, 3, 3);
  EXPECT_EQ(Probe->Log, (std::vector<std::string>{"down0", "click", "up0"}));
}

TEST_F(ControlsTest, MoveEnterLeaveAndBorderOffsets) {
  Move(Probe, 7, 8, Qt::LeftButton);
  ASSERT_EQ(Probe->Log.back(), "move");
  EXPECT_EQ(Probe->Shifts.back(), ssLeft);
  Enter(Probe);
  Enter(Probe);  // a second enter without a leave is not reported
  Leave(Probe);
  EXPECT_EQ(Probe->Log, (std::vector<std::string>{"move", "enter", "leave"}));

  // A bordered control reports client coordinates, inside its one-pixel border.
  auto* b = new TProbe(Form.get());
  b->Border = true;
  b->SetBounds(0, 150, 50, 40);
  b->SetParent(Form.get());
  EXPECT_TRUE(b->HandleAllocated());
  EXPECT_EQ(b->ClientRect(), (TRect{0, 0, 48, 38}));
  Press(b, 10, 10);
  EXPECT_EQ(b->Points.back(), (TPoint{9, 9}));
}

TEST_F(ControlsTest, KeysCharactersAndControlCodes) {
  Key(Probe, Qt::Key_A, Qt::NoModifier, "a");
  EXPECT_EQ(Probe->Keys, (std::vector<Word>{'A', 'A'}));
  EXPECT_EQ(Probe->Chars, (std::vector<TKeyChar>{U'a'}));

  struct Case {
    int QtKey;
    Qt::KeyboardModifiers Mods;
    QString Text;
    Word Vk;
    TKeyChar Char;
  };
  const Case cases[] = {
      {Qt::Key_C, Qt::ControlModifier, "\x03", 'C', 3},
      {Qt::Key_V, Qt::ControlModifier, "", 'V', 22},
      {Qt::Key_X, Qt::ControlModifier, "x", 'X', 24},
      {Qt::Key_Backspace, Qt::NoModifier, "\b", VK_BACK, 8},
      {Qt::Key_Return, Qt::NoModifier, "\r", VK_RETURN, 13},
      {Qt::Key_Escape, Qt::NoModifier, "\x1b", VK_ESCAPE, 27},
      {Qt::Key_F2, Qt::NoModifier, "", VK_F2, 0},
      {Qt::Key_Delete, Qt::NoModifier, "", VK_DELETE, 0},
      {Qt::Key_E, Qt::NoModifier, QString::fromUtf8("é"), 'E', 0xE9},
      {Qt::Key_5, Qt::KeypadModifier, "5", VK_NUMPAD0 + 5, U'5'},
  };
  for (const Case& c : cases) {
    Probe->Keys.clear();
    Probe->Chars.clear();
    Probe->Shifts.clear();
    Key(Probe, c.QtKey, c.Mods, c.Text);
    ASSERT_EQ(Probe->Keys.size(), 2u) << c.Vk;
    EXPECT_EQ(Probe->Keys[0], c.Vk);
    EXPECT_EQ(Probe->Keys[1], c.Vk);
    if (c.Char)
      EXPECT_EQ(Probe->Chars, (std::vector<TKeyChar>{c.Char})) << c.Vk;
    else
      EXPECT_TRUE(Probe->Chars.empty()) << c.Vk;
    EXPECT_EQ(Probe->Shifts[0], (c.Mods & Qt::ControlModifier) ? ssCtrl : 0);
  }
}

TEST_F(ControlsTest, KeyEventsCanBeHandledBySetters) {
  Word seen = 0;
  Probe->OnKeyDown = [&](TObject* s, Word& k, TShiftState) {
    EXPECT_EQ(s, Probe);
    seen = k;
  };
  // The probe overrides KeyDown without calling the inherited one; a plain control fires events.
  auto* plain = new TCustomControl(Form.get());
  plain->SetParent(Form.get());
  std::vector<TKeyChar> chars;
  plain->OnKeyDown = [&](TObject*, Word& k, TShiftState) { seen = k; };
  plain->OnKeyPress = [&](TObject*, TKeyChar& c) { chars.push_back(c); };
  Key(plain, Qt::Key_Z, Qt::ShiftModifier, "Z");
  EXPECT_EQ(seen, 'Z');
  EXPECT_EQ(chars, (std::vector<TKeyChar>{U'Z'}));
}

TEST_F(ControlsTest, TabAndArrowsReachOnlyControlsThatWantThem) {
  Key(Probe, Qt::Key_Left);
  Key(Probe, Qt::Key_Tab, Qt::NoModifier, "\t");
  // Key-ups still arrive (the form consumed only the presses).
  EXPECT_EQ(std::count(Probe->Log.begin(), Probe->Log.end(), "keydown"), 0);

  Probe->Log.clear();
  Probe->Keys.clear();
  Probe->WantAll = true;
  Key(Probe, Qt::Key_Left);
  Key(Probe, Qt::Key_Down);
  Key(Probe, Qt::Key_Tab, Qt::NoModifier, "\t");
  EXPECT_EQ(Probe->Keys, (std::vector<Word>{VK_LEFT, VK_LEFT, VK_DOWN, VK_DOWN, VK_TAB, VK_TAB}));
  EXPECT_EQ(Probe->Chars, (std::vector<TKeyChar>{9}));

  Probe->WantAll = false;
  Probe->Keys.clear();
  Probe->SetWantArrows(true);
  Key(Probe, Qt::Key_Right);
  EXPECT_EQ(Probe->Keys, (std::vector<Word>{VK_RIGHT, VK_RIGHT}));
}

namespace {
class TDefaultButton : public TCustomControl {
 public:
  using TCustomControl::TCustomControl;
  int Pressed = 0;

 protected:
  bool DialogKey(Word Key, TShiftState) override {
    if (Key != VK_RETURN) return false;
    ++Pressed;
    return true;
  }
};
}  // namespace

TEST_F(ControlsTest, ReturnGoesToTheFormsDefaultControlFirst) {
  auto* def = new TDefaultButton(Form.get());
  def->SetParent(Form.get());
  Key(Probe, Qt::Key_Return, Qt::NoModifier, "\r");
  EXPECT_EQ(def->Pressed, 1);
  EXPECT_TRUE(Probe->Chars.empty());
  // A control that wants Return gets it first.
  Probe->WantAll = true;
  Key(Probe, Qt::Key_Return, Qt::NoModifier, "\r");
  EXPECT_EQ(def->Pressed, 1);
  EXPECT_EQ(Probe->Chars, (std::vector<TKeyChar>{13}));
}

TEST_F(ControlsTest, GetKeyStateFollowsTheKeys) {
  Word ctrlInside = 0;
  Probe->OnKeyDown = nullptr;
  auto* plain = new TCustomControl(Form.get());
  plain->SetParent(Form.get());
  plain->OnKeyDown = [&](TObject*, Word&, TShiftState) { ctrlInside = GetKeyState(VK_CONTROL) < 0 ? 1 : 2; };
  QKeyEvent down(QEvent::KeyPress, Qt::Key_Control, Qt::ControlModifier);
  QApplication::sendEvent(W(plain), &down);
  EXPECT_EQ(ctrlInside, 1);
  EXPECT_LT(GetKeyState(VK_CONTROL), 0);
  QKeyEvent up(QEvent::KeyRelease, Qt::Key_Control, Qt::NoModifier);
  QApplication::sendEvent(W(plain), &up);
  EXPECT_GE(GetKeyState(VK_CONTROL), 0);
}

TEST_F(ControlsTest, AlignmentFollowsTheClassLibraryOrder) {
  auto* host = new TPanel(Form.get());
  host->SetParent(Form.get());
  host->SetBevelOuter(bvNone);
  host->SetBounds(0, 0, 300, 200);
  auto make = [&](TAlign a, int32_t w, int32_t h, int32_t top = 0) {
    auto* c = new TPanel(Form.get());
    c->SetBounds(0, top, w, h);
    c->SetAlign(a);
    c->SetParent(host);
    return c;
  };
  TPanel* client = make(alClient, 10, 10);
  TPanel* right = make(alRight, 50, 10);
  TPanel* left = make(alLeft, 40, 10);
  TPanel* bottom = make(alBottom, 10, 30);
  TPanel* top2 = make(alTop, 10, 15, 100);
  TPanel* top1 = make(alTop, 10, 20, 0);
  EXPECT_EQ(top1->BoundsRect(), (TRect{0, 0, 300, 20}));
  EXPECT_EQ(top2->BoundsRect(), (TRect{0, 20, 300, 35}));
  EXPECT_EQ(bottom->BoundsRect(), (TRect{0, 170, 300, 200}));
  EXPECT_EQ(left->BoundsRect(), (TRect{0, 35, 40, 170}));
  EXPECT_EQ(right->BoundsRect(), (TRect{250, 35, 300, 170}));
  EXPECT_EQ(client->BoundsRect(), (TRect{40, 35, 250, 170}));

  // The parent's new size lays them out again; hidden ones take no room.
  host->SetBounds(0, 0, 400, 250);
  EXPECT_EQ(client->BoundsRect(), (TRect{40, 35, 350, 220}));
  top2->SetVisible(false);
  EXPECT_EQ(client->BoundsRect(), (TRect{40, 20, 350, 220}));

  // Bevels and the border width keep aligned children off the edge.
  host->SetBevelOuter(bvRaised);
  host->SetBorderWidth(2);
  EXPECT_EQ(top1->BoundsRect(), (TRect{3, 3, 397, 23}));
  // An area used up gives empty, not negative, sizes.
  host->SetBounds(0, 0, 60, 30);
  EXPECT_EQ(client->Width(), 0);
  EXPECT_GE(client->Height(), 0);
}

TEST_F(ControlsTest, PaintGetsTheUpdateRectangleAsClipRect) {
  WaitFor([&] { return !Probe->Clips.empty(); });
  Probe->Update();
  Probe->Clips.clear();
  Probe->InvalidateRect({10, 20, 30, 50});
  Probe->Update();
  ASSERT_FALSE(Probe->Clips.empty());
  EXPECT_EQ(Probe->Clips.back(), (TRect{10, 20, 30, 50}));

  // A non-opaque control has its background filled with Color before Paint.
  QImage img = Grab(Probe);
  EXPECT_EQ(img.pixel(50, 50) & 0xFFFFFF, 0xFFFFFFu);
}

// A rectangle whose width does not fit in 32 bits (a shape of absurd size) still repaints the
// control; its width used to overflow into a negative size that repainted nothing.
TEST_F(ControlsTest, HugeInvalidRectangleRepaintsTheControl) {
  WaitFor([&] { return !Probe->Clips.empty(); });
  Probe->Update();
  Probe->Clips.clear();
  Probe->InvalidateRect({-1610544640, -1610544640, 1610545152, 1610545152});
  Probe->Update();
  ASSERT_FALSE(Probe->Clips.empty());
  EXPECT_EQ(Probe->Clips.back(), (TRect{0, 0, Probe->Width(), Probe->Height()}));
}

TEST_F(ControlsTest, XorOverlayErasesOnTheSecondDraw) {
  Probe->Fill = clBlack;
  Probe->Invalidate();
  QImage before = Grab(Probe);
  ASSERT_EQ(before.pixel(10, 10) & 0xFFFFFF, 0u);

  TXorOverlay& ov = Probe->XorOverlay();
  ov.ToggleFrame({10, 10, 60, 40}, clWhite);
  ov.ToggleInvert({100, 10, 120, 30});
  ov.ToggleLine(0, 90, 50, 90, clRed);
  EXPECT_EQ(ov.Count(), 3);
  QImage shown = Grab(Probe);
  EXPECT_EQ(shown.pixel(10, 10) & 0xFFFFFF, 0xFFFFFFu);   // frame corner
  EXPECT_EQ(shown.pixel(59, 39) & 0xFFFFFF, 0xFFFFFFu);   // last pixel inside the frame
  EXPECT_EQ(shown.pixel(60, 40) & 0xFFFFFF, 0u);          // right/bottom edges excluded
  EXPECT_EQ(shown.pixel(30, 25) & 0xFFFFFF, 0u);          // inside is untouched
  EXPECT_EQ(shown.pixel(110, 20) & 0xFFFFFF, 0xFFFFFFu);  // inverted
  EXPECT_EQ(shown.pixel(20, 90) & 0xFFFFFF, 0xFF0000u);   // red xor black

  ov.ToggleFrame({10, 10, 60, 40}, clWhite);
  ov.ToggleInvert({100, 10, 120, 30});
  ov.ToggleLine(0, 90, 50, 90, clRed);
  EXPECT_EQ(ov.Count(), 0);
  EXPECT_EQ(Grab(Probe), before);

  // Not-xor with a black pen inverts too.
  Probe->Fill = clWhite;
  Probe->Invalidate();
  ov.ToggleLine(0, 5, 100, 5, clBlack, false, true);
  EXPECT_EQ(Grab(Probe).pixel(50, 5) & 0xFFFFFF, 0u);
  ov.Clear();
  EXPECT_EQ(Grab(Probe).pixel(50, 5) & 0xFFFFFF, 0xFFFFFFu);
}

TEST_F(ControlsTest, BoundsConversionAndHitTesting) {
  Probe->SetBounds(5, 6, -3, 20);
  EXPECT_EQ(Probe->Width(), 0);
  Probe->SetBounds(20, 30, 200, 100);
  const TPoint s = Probe->ClientToScreen({3, 4});
  EXPECT_EQ(Probe->ScreenToClient(s), (TPoint{3, 4}));
  EXPECT_EQ(s.X - Form->ClientToScreen({0, 0}).X, 23);
  EXPECT_EQ(s.Y - Form->ClientToScreen({0, 0}).Y, 34);

  auto* over = new TProbe(Form.get());
  over->SetParent(Form.get());
  over->SetBounds(100, 50, 50, 50);
  EXPECT_EQ(Form->ControlAtPos({120, 60}, false), over);
  EXPECT_EQ(Form->ControlAtPos({30, 40}, false), Probe);
  EXPECT_EQ(Form->ControlAtPos({390, 290}, false), nullptr);
  Probe->BringToFront();
  EXPECT_EQ(Form->ControlAtPos({120, 60}, false), Probe);
  Probe->SetEnabled(false);
  EXPECT_EQ(Form->ControlAtPos({120, 60}, false), over);
  EXPECT_EQ(Form->ControlAtPos({120, 60}, true), Probe);
  // A disabled control gets no mouse input.
  Probe->Log.clear();
  Press(Probe, 1, 1);
  EXPECT_TRUE(Probe->Log.empty());
}

TEST_F(ControlsTest, HandleIsCreatedOnDemandWithAFirstSize) {
  TForm hidden(nullptr);
  auto* c = new TProbe(&hidden);
  c->SetParent(&hidden);
  c->SetBounds(0, 0, 30, 30);
  EXPECT_FALSE(c->HandleAllocated());
  EXPECT_EQ(c->CreateWndCount, 0);
  EXPECT_EQ(c->SizeCount, 0);
  hidden.HandleNeeded();
  EXPECT_TRUE(c->HandleAllocated());
  EXPECT_EQ(c->CreateWndCount, 1);
  EXPECT_EQ(c->SizeCount, 1);
  c->SetBounds(0, 0, 40, 30);
  EXPECT_EQ(c->SizeCount, 2);
  c->SetBounds(5, 0, 40, 30);  // a move is no size change
  EXPECT_EQ(c->SizeCount, 2);
  c->Border = true;
  c->RecreateWnd();
  EXPECT_EQ(c->CreateWndCount, 2);
  EXPECT_EQ(c->ClientWidth(), 38);
}

TEST_F(ControlsTest, ScrollBarsTakeRoomAndReportActions) {
  TScrollInfo si;
  si.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
  si.nMin = 0;
  si.nMax = 99;
  si.nPage = 10;
  si.nPos = 95;
  const int32_t fullWidth = Probe->ClientWidth();
  const int32_t sizes = Probe->SizeCount;
  EXPECT_EQ(Probe->SetScrollInfo(SB_VERT, si, true), 90);  // the last full page
  EXPECT_EQ(Probe->GetScrollPos(SB_VERT), 90);
  EXPECT_LT(Probe->ClientWidth(), fullWidth);
  EXPECT_GT(Probe->SizeCount, sizes);  // the client area changed size
  EXPECT_EQ(Probe->SetScrollPos(SB_VERT, 20, true), 90);
  EXPECT_EQ(Probe->GetScrollPos(SB_VERT), 20);

  // The bar reports a line step and waits for the owner to move the thumb.
  QScrollBar* bar = nullptr;
  for (QObject* o : W(Probe)->children())
    if (auto* b = qobject_cast<QScrollBar*>(o))
      if (b->orientation() == Qt::Vertical) bar = b;
  ASSERT_NE(bar, nullptr);
  EXPECT_TRUE(bar->isVisible());
  bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  ASSERT_GE(Probe->Scrolls.size(), 2u);
  EXPECT_EQ(Probe->Scrolls[0].first, SB_LINEDOWN);
  EXPECT_EQ(Probe->Scrolls[1].first, SB_ENDSCROLL);
  EXPECT_EQ(Probe->GetScrollPos(SB_VERT), 20);

  // Nothing to scroll: the bar stays, disabled, with SIF_DISABLENOSCROLL ...
  si.fMask = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_DISABLENOSCROLL;
  si.nMax = 0;
  si.nPage = 0;
  si.nPos = 0;
  Probe->SetScrollInfo(SB_VERT, si, true);
  EXPECT_TRUE(bar->isVisible());
  EXPECT_FALSE(bar->isEnabled());
  // ... and goes away without it.
  si.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
  Probe->SetScrollInfo(SB_VERT, si, true);
  EXPECT_FALSE(bar->isVisible());
  EXPECT_EQ(Probe->ClientWidth(), fullWidth);
}

TEST_F(ControlsTest, RightClickPopsUpTheMenuAtTheScreenPoint) {
  auto* menu = new TPopupMenu(Form.get());
  auto* item = new TMenuItem(Form.get());
  item->SetCaption("Copy");
  menu->Items()->Add(item);
  int clicks = 0;
  item->OnClick = [&](TObject*) { ++clicks; };
  Probe->SetPopupMenu(menu);
  TPoint at;
  SetPopupHandler([&](TPopupMenu* m, int32_t X, int32_t Y) {
    EXPECT_EQ(m, menu);
    at = {X, Y};
    return m->Items()->Items(0);
  });
  Press(Probe, 12, 13, Qt::RightButton);
  EXPECT_EQ(clicks, 0);
  Release(Probe, 12, 13, Qt::RightButton);
  SetPopupHandler(nullptr);
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(at, Probe->ClientToScreen({12, 13}));
  EXPECT_EQ(menu->PopupComponent(), Probe);
  // Freeing either one clears the other's reference.
  auto* other = new TProbe(Form.get());
  menu->SetPopupComponent(other);
  delete other;
  EXPECT_EQ(menu->PopupComponent(), nullptr);
  delete menu;
  EXPECT_EQ(Probe->PopupMenu(), nullptr);
}

TEST_F(ControlsTest, HintsAskTheControlAndSetTheApplicationHint) {
  Probe->SetHint("Afdrukken|Print the current page");
  Probe->SetShowHint(true);
  Enter(Probe);
  EXPECT_EQ(Application()->Hint(), "Print the current page");
  QHelpEvent he(QEvent::ToolTip, QPoint(5, 5), W(Probe)->mapToGlobal(QPoint(5, 5)));
  QApplication::sendEvent(W(Probe), &he);
  EXPECT_TRUE(Probe->LastHintCalled);
  EXPECT_EQ(Probe->LastHint, "Afdrukken");
  // Without a Hint the control is still asked (it may have one at the point); without ShowHint not.
  Probe->SetHint("");
  Probe->LastHintCalled = false;
  QApplication::sendEvent(W(Probe), &he);
  EXPECT_TRUE(Probe->LastHintCalled);
  EXPECT_EQ(Probe->LastHint, "");
  Probe->SetShowHint(false);
  Probe->LastHintCalled = false;
  QApplication::sendEvent(W(Probe), &he);
  EXPECT_FALSE(Probe->LastHintCalled);
  Probe->SetShowHint(true);

  // ShowHint follows the parent until set.
  auto* child = new TProbe(Form.get());
  child->SetParent(Form.get());
  EXPECT_FALSE(child->ShowHint());
  Form->SetShowHint(true);
  EXPECT_TRUE(child->ShowHint());
}

TEST_F(ControlsTest, MouseCaptureFollowsThePress) {
  Press(Probe, 1, 1);
  EXPECT_EQ(GetCaptureControl(), Probe);
  Release(Probe, 1, 1);
  EXPECT_EQ(GetCaptureControl(), nullptr);
  Probe->SetMouseCapture(true);
  EXPECT_TRUE(Probe->MouseCapture());
  ReleaseCapture();
  EXPECT_FALSE(Probe->MouseCapture());
}

TEST_F(ControlsTest, FocusEnterAndExit) {
  auto* other = new TProbe(Form.get());
  other->SetParent(Form.get());
  other->SetBounds(250, 10, 50, 50);
  std::vector<std::string> log;
  Probe->OnEnter = [&](TObject*) { log.push_back("enter1"); };
  Probe->OnExit = [&](TObject*) { log.push_back("exit1"); };
  other->OnEnter = [&](TObject*) { log.push_back("enter2"); };
  ASSERT_TRUE(Probe->CanFocus());
  Probe->SetFocus();
  WaitFor([&] { return Probe->Focused(); }, 2000);
  EXPECT_TRUE(Probe->Focused());
  other->SetFocus();
  WaitFor([&] { return other->Focused(); }, 2000);
  EXPECT_EQ(log, (std::vector<std::string>{"enter1", "exit1", "enter2"}));

  other->SetVisible(false);
  EXPECT_FALSE(other->CanFocus());
  try {
    other->SetFocus();
    FAIL() << "no exception";
  } catch (const EInvalidOperation& e) {
    EXPECT_EQ(e.Message, "Cannot focus a disabled or invisible window");
  }
}

TEST_F(ControlsTest, ParentFontAndColorPropagate) {
  auto* panel = new TPanel(Form.get());
  panel->SetParent(Form.get());
  auto* child = new TProbe(Form.get());
  child->SetParent(panel);
  child->SetParentColor(true);
  panel->SetColor(clYellow);
  EXPECT_EQ(child->Color(), clYellow);
  panel->Font()->SetSize(14);
  EXPECT_EQ(child->Font()->Size(), 14);
  EXPECT_TRUE(child->ParentFont());
  child->Font()->SetSize(9);  // its own font from now on
  EXPECT_FALSE(child->ParentFont());
  panel->Font()->SetSize(20);
  EXPECT_EQ(child->Font()->Size(), 9);
}

TEST_F(ControlsTest, ExceptionsInHandlersReachTheApplication) {
  std::string caught;
  Application()->OnException = [&](TObject*, const std::exception& e) { caught = e.what(); };
  Probe->OnClick = [](TObject*) { throw EInvalidOperation("boom"); };
  Press(Probe, 1, 1);
  Release(Probe, 1, 1);
  Application()->OnException = nullptr;
  EXPECT_EQ(caught, "boom");
}

TEST_F(ControlsTest, FindControlAndDragTarget) {
  EXPECT_EQ(ControlOfWidget(W(Probe)), Probe);
  EXPECT_EQ(FindControl(W(Probe)), Probe);
  EXPECT_EQ(FindControl(nullptr), nullptr);
  EXPECT_EQ(GetShortHint("a|b"), "a");
  EXPECT_EQ(GetLongHint("a|b"), "b");
  EXPECT_EQ(GetLongHint("ab"), "ab");
}

namespace {
class TGlyph : public TGraphicControl {
 public:
  using TGraphicControl::TGraphicControl;
  int Paints = 0;
  int Resizes = 0;
  std::vector<std::string> Log;

 protected:
  void Paint() override {
    ++Paints;
    Canvas()->Brush()->SetColor(clRed);
    Canvas()->FillRect(ClientRect());
  }
  void Resize() override { ++Resizes; }
  void MouseDown(TMouseButton, TShiftState, int32_t X, int32_t Y) override {
    Log.push_back("down " + std::to_string(X) + "," + std::to_string(Y));
  }
};
}  // namespace

TEST_F(ControlsTest, GraphicControlsPaintAndTakeTheMouse) {
  auto* g = new TGlyph(Form.get());
  g->SetBounds(300, 200, 23, 22);
  g->SetParent(Form.get());
  EXPECT_TRUE(W(g)->isVisible());
  QImage img = Grab(g);
  EXPECT_GT(g->Paints, 0);
  EXPECT_EQ(img.pixel(11, 11) & 0xFFFFFF, 0xFF0000u);
  g->SetBounds(300, 200, 30, 22);
  EXPECT_EQ(g->Resizes, 2);  // from 0 x 0, then wider
  Press(g, 4, 5);
  EXPECT_EQ(g->Log, (std::vector<std::string>{"down 4,5"}));
  EXPECT_EQ(Form->ControlAtPos({310, 210}, false), g);
  EXPECT_EQ(Form->ControlAtPos({310, 210}, false, false), g);

  // Taken off the form it disappears; put on a panel it follows the panel.
  g->SetParent(nullptr);
  EXPECT_FALSE(W(g)->isVisible());
  EXPECT_EQ(Form->ControlAtPos({310, 210}, false), nullptr);
  auto* panel = new TPanel(Form.get());
  panel->SetBounds(0, 0, 100, 100);
  panel->SetParent(Form.get());
  g->SetBounds(5, 5, 23, 22);
  g->SetParent(panel);
  EXPECT_TRUE(W(g)->isVisible());
  EXPECT_EQ(g->ClientToScreen({0, 0}), panel->ClientToScreen({5, 5}));
  delete panel;  // the glyph is detached, not freed: its owner frees it
  EXPECT_EQ(g->Parent(), nullptr);
}

TEST_F(ControlsTest, DragAndDropBetweenControls) {
  auto* target = new TProbe(Form.get());
  target->SetParent(Form.get());
  target->SetBounds(250, 30, 100, 100);
  std::vector<std::string> log;
  target->OnDragOver = [&](TObject*, TObject* src, int32_t X, int32_t Y, TDragState st, bool& accept) {
    EXPECT_EQ(src, Probe);
    log.push_back("over" + std::to_string(st) + " " + std::to_string(X) + "," + std::to_string(Y));
    accept = X < 50;
  };
  target->OnDragDrop = [&](TObject*, TObject*, int32_t X, int32_t Y) {
    log.push_back("drop " + std::to_string(X) + "," + std::to_string(Y));
  };
  TObject* endTarget = reinterpret_cast<TObject*>(1);
  Probe->OnEndDrag = [&](TObject*, TObject* t, int32_t, int32_t) { endTarget = t; };
  Probe->OnStartDrag = [&](TObject*) { log.push_back("start"); };

  Press(Probe, 10, 10);
  Probe->BeginDrag(true);
  EXPECT_TRUE(Probe->Dragging());
  // Probe spans x 20..220 of the form; the target starts at 250.
  Move(Probe, 240, 20, Qt::LeftButton);  // over the target at (10, 20)
  Move(Probe, 300, 20, Qt::LeftButton);  // (70, 20): refused
  Move(Probe, 250, 25, Qt::LeftButton);  // (20, 25): accepted again
  EXPECT_EQ(W(Probe)->cursor().shape(), Qt::DragMoveCursor);
  Release(Probe, 250, 25);
  EXPECT_FALSE(Probe->Dragging());
  EXPECT_EQ(log, (std::vector<std::string>{"start", "over0 10,20", "over2 70,20", "over2 20,25", "drop 20,25"}));
  EXPECT_EQ(endTarget, target);
  // The drag ate the moves and the release: the probe saw only its press.
  EXPECT_EQ(Probe->Log, (std::vector<std::string>{"down0"}));

  // Dropped where nobody accepts: EndDrag without a target.
  log.clear();
  Press(Probe, 10, 10);
  Probe->BeginDrag(false, 5);
  Move(Probe, 12, 11, Qt::LeftButton);  // under the threshold: an ordinary move
  EXPECT_FALSE(Probe->Dragging());
  Move(Probe, 300, 20, Qt::LeftButton);
  EXPECT_TRUE(Probe->Dragging());
  Release(Probe, 300, 20);
  EXPECT_EQ(endTarget, nullptr);
  EXPECT_EQ(log.back(), "over1 70,20");  // the refusing target is left
}

namespace {
class TBar : public TCustomControl {
 public:
  using TCustomControl::TCustomControl;
  int Cancelled = 0;

 protected:
  bool CursorQuery(TPoint P, TCursor& Cursor) override {
    if (P.X < 10) return false;
    Cursor = crHSplit;
    return true;
  }
  void CancelMode() override { ++Cancelled; }
};
}  // namespace

TEST_F(ControlsTest, CursorQueryCancelModeAndRedraw) {
  auto* bar = new TBar(Form.get());
  bar->SetParent(Form.get());
  bar->SetBounds(0, 200, 100, 50);
  bar->SetCursor(crCross);
  Move(bar, 50, 5);
  EXPECT_EQ(W(bar)->cursor().shape(), Qt::SplitHCursor);
  Move(bar, 5, 5);
  EXPECT_EQ(W(bar)->cursor().shape(), Qt::CrossCursor);

  // A menu opening takes the mouse from whoever holds it.
  auto* menu = new TPopupMenu(Form.get());
  menu->Items()->Add(new TMenuItem(Form.get()));
  SetPopupHandler([](TPopupMenu*, int32_t, int32_t) { return nullptr; });
  Press(bar, 5, 5);
  EXPECT_EQ(GetCaptureControl(), bar);
  menu->Popup(0, 0);
  SetPopupHandler(nullptr);
  EXPECT_EQ(bar->Cancelled, 1);
  EXPECT_EQ(GetCaptureControl(), nullptr);

  bar->SetRedraw(false);
  EXPECT_FALSE(W(bar)->updatesEnabled());
  bar->SetRedraw(true);
  EXPECT_TRUE(W(bar)->updatesEnabled());
}

namespace {
// Paints horizontal stripes that belong to the content, offset by the scroll position.
class TStripes : public TCustomControl {
 public:
  explicit TStripes(TComponent* AOwner) : TCustomControl(AOwner) { SetControlStyle(ControlStyle() | csOpaque); }
  int32_t Offset = 0;
  std::vector<TRect> Clips;
  static TColor ColorOf(int32_t ContentY) { return ((ContentY / 5) % 2) ? clBlack : clWhite; }

 protected:
  void Paint() override {
    const TRect clip = Canvas()->ClipRect();
    Clips.push_back(clip);
    for (int32_t y = clip.Top; y < clip.Bottom; ++y) {
      Canvas()->Brush()->SetColor(ColorOf(y + Offset));
      Canvas()->FillRect({clip.Left, y, clip.Right, y + 1});
    }
  }
};
}  // namespace

TEST_F(ControlsTest, ScrollWindowMovesPixelsAndPaintsTheUncoveredStrip) {
  auto* s = new TStripes(Form.get());
  s->SetParent(Form.get());
  s->SetBounds(0, 140, 60, 100);
  s->Invalidate();
  s->Update();
  ASSERT_FALSE(s->Clips.empty());
  s->Clips.clear();
  s->Offset = 13;
  s->ScrollWindow(0, -13);
  s->Update();
  ASSERT_FALSE(s->Clips.empty());
  EXPECT_EQ(s->Clips.back(), (TRect{0, 87, 60, 100}));
  const QImage img = Grab(s);
  for (int y = 0; y < 100; ++y) {
    const uint32_t want = TStripes::ColorOf(y + 13) == clBlack ? 0u : 0xFFFFFFu;
    ASSERT_EQ(img.pixel(30, y) & 0xFFFFFF, want) << y;
  }
}

namespace {
// Fills itself with one colour; windowless.
class TSwatch : public TGraphicControl {
 public:
  TSwatch(TComponent* AOwner, TColor C) : TGraphicControl(AOwner), Fill(C) {}
  TColor Fill;

 protected:
  void Paint() override {
    Canvas()->Brush()->SetColor(Fill);
    Canvas()->FillRect(ClientRect());
  }
};
}  // namespace

// Grabbing a parent renders each child at its offset in the grab; every child must still see its
// own area as drawable, not only the one at the parent's origin.
TEST_F(ControlsTest, GrabOfAPanelShowsEveryChild) {
  auto* panel = new TPanel(Form.get());
  panel->SetParent(Form.get());
  panel->SetBounds(10, 150, 120, 40);
  const TColor colours[] = {clRed, clLime, clBlue};
  for (int i = 0; i < 3; ++i) {
    auto* s = new TSwatch(Form.get(), colours[i]);
    s->SetParent(panel);
    s->SetBounds(5 + 38 * i, 5, 30, 30);
  }
  auto* win = new TProbe(Form.get());  // a windowed child beside them
  win->Fill = clYellow;
  win->SetParent(panel);
  win->SetBounds(5, 36, 110, 3);
  const QImage img = Grab(panel);
  const uint32_t want[] = {0xFF0000u, 0x00FF00u, 0x0000FFu};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(img.pixel(5 + 38 * i, 5) & 0xFFFFFF, want[i]) << i;
    EXPECT_EQ(img.pixel(5 + 38 * i + 29, 34) & 0xFFFFFF, want[i]) << i;
  }
  EXPECT_EQ(img.pixel(60, 37) & 0xFFFFFF, 0xFFFF00u);
  // A painted window shows the same.
  panel->Invalidate();
  panel->Update();
  const QImage all = Grab(Form.get());
  for (int i = 0; i < 3; ++i) EXPECT_EQ(all.pixel(10 + 5 + 38 * i + 15, 150 + 20) & 0xFFFFFF, want[i]) << i;
}

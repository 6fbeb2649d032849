// The tree's floating editors under a real X server, with clicks and keys sent through XTest:
// the window system activates a clicked window only after the click was handled, so an editor
// the click opened must not take that late activation for a loss of focus. The test starts its
// own Xvfb and skips only when Xvfb is not installed.
#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QWidget>
#include <QScreen>
#include <QWindow>
#include <chrono>
#include <cstdio>
#include <thread>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/Forms.h"
#include "platform/StdCtrls.h"
#include "tests/common/XServer.h"
#include "widgets/HtmlTreeView.h"

using namespace widgets;
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

using kdtest::Settle;
using kdtest::WaitFor;

QWidget* Wd(const TControl* C) { return static_cast<QWidget*>(C->WidgetHandle()); }

std::string Value(TTreeNode* N, const std::string& Href) {
  std::string V;
  GetAnchorValue(N->Text(), Href, V);
  return V;
}

class TreeEditorsUnderX : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!gHaveX) GTEST_SKIP() << "Xvfb is not installed";
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    ASSERT_TRUE(In.Ok()) << "no XTest";
    Form = std::make_unique<TForm>(nullptr);
    Form->SetBorderStyle(bsNone);
    Form->SetBounds(100, 100, 400, 200);
    Tree = new THtmlTreeView(Form.get());
    Tree->SetParent(Form.get());
    Tree->SetBounds(0, 0, 400, 170);
    Other = new TEdit(Form.get());
    Other->SetParent(Form.get());
    Other->SetBounds(0, 172, 100, 24);
    Tree->Items()->Add(nullptr, "row");
    Node = Tree->Items()->Add(nullptr, "ab <A href=\"l\" class=\"LIST\" props=\"a|b|c|d\">c</A> "
                                       "<A href=\"f\" class=\"EDIT\">two</A> <A href=\"e\" class=\"EDIT\">one</A>");
    Form->Show();
    ASSERT_TRUE(WaitFor([&] { return Wd(Form.get())->windowHandle() && Wd(Form.get())->windowHandle()->isExposed(); }));
    Settle();
  }
  void TearDown() override {
    if (!gHaveX) return;
    Form.reset();
    Settle();
  }
  // The tree's x of the anchor Href in the node, found by hit testing.
  int AnchorX(const std::string& Href) {
    const TRect Row = Tree->RowRect(Node);
    for (int X = 0; X < Tree->Width(); ++X)
      if (Tree->HitTest(Node, X, Row.Top + Row.Height() / 2).Href == Href) return X + 2;
    ADD_FAILURE() << "no anchor " << Href;
    return 0;
  }
  // A click as a person makes it: each half reaches the program before the next is sent.
  void Click(const TControl* C, int X, int Y) {
    const QPoint P = Wd(C)->mapToGlobal(QPoint(X, Y));
    In.MoveTo(P.x(), P.y());
    Settle();
    In.Button(1, true);
    Settle();
    In.Button(1, false);
    Settle();
  }
  void ClickAnchor(const std::string& Href) {
    const TRect Row = Tree->RowRect(Node);
    Click(Tree, AnchorX(Href), Row.Top + Row.Height() / 2);
  }
  void Stroke(unsigned long Keysym) {
    In.Key(Keysym, true);
    Settle();
    In.Key(Keysym, false);
    Settle();
  }

  kdtest::TXInput In;
  std::unique_ptr<TForm> Form;
  THtmlTreeView* Tree = nullptr;
  TEdit* Other = nullptr;
  TTreeNode* Node = nullptr;
};

}  // namespace

// The first click into a window that is not active lands on a choice parameter: the list opens
// and stays open with the focus, so the keyboard chooses in it.
TEST_F(TreeEditorsUnderX, AListOpenedByTheFirstClickKeepsTheFocus) {
  ASSERT_FALSE(Wd(Form.get())->isActiveWindow());
  ClickAnchor("l");
  TPopupListBox* List = Tree->ListControl();
  EXPECT_TRUE(List->Visible());
  EXPECT_TRUE(List->Focused());
  EXPECT_TRUE(Tree->Editing());
  Stroke(0xFF54);  // Down: from "c" to "d"
  Stroke(kdtest::TXInput::XK_Return);
  EXPECT_FALSE(List->Visible());
  EXPECT_EQ(Value(Node, "l"), "d");
  // The same list opened again by a second click (a double click, as it comes quickly).
  ClickAnchor("l");
  ClickAnchor("l");
  EXPECT_TRUE(List->Visible());
  EXPECT_TRUE(List->Focused());
  // A click elsewhere in the tree is a real loss of focus: the list closes and writes its item.
  Click(Tree, 10, Tree->RowRect(Tree->Items()->Item(0)).Top + 4);
  EXPECT_FALSE(List->Visible());
  EXPECT_FALSE(Tree->Editing());
  EXPECT_EQ(Value(Node, "l"), "d");
}

// Text typed into one editor is written when a click on another parameter moves on, and the
// editor the click opened stays open for it. (The second parameter comes first in the row, so
// the first one's longer value does not move it.)
TEST_F(TreeEditorsUnderX, AClickOnAnotherParameterWritesTheFirstAndOpensTheSecond) {
  ClickAnchor("e");
  TPopupEdit* Edit = Tree->EditControl();
  ASSERT_TRUE(WaitFor([&] { return Edit->Focused(); }));
  Stroke(0x78);  // x, over the whole value, which opening selected
  const int F = AnchorX("f");
  const TRect Row = Tree->RowRect(Node);
  Click(Tree, F, Row.Top + Row.Height() / 2);
  EXPECT_EQ(Value(Node, "e"), "x");
  EXPECT_TRUE(Edit->Visible());
  EXPECT_TRUE(Edit->Focused());
  EXPECT_EQ(Edit->Text(), "two");
  Stroke(0x79);  // y
  Click(Other, 5, 5);
  EXPECT_FALSE(Edit->Visible());
  EXPECT_FALSE(Tree->Editing());
  EXPECT_EQ(Value(Node, "f"), "y");
  EXPECT_EQ(Value(Node, "e"), "x");
}

// Keys and clicks from the window system edit at the caret; the edited text is written back.
TEST_F(TreeEditorsUnderX, KeysAndClicksEditAtTheCaret) {
  Tree->SetEditAutoSize(true);  // the whole text stays in view
  ClickAnchor("e");
  TPopupEdit* Edit = Tree->EditControl();
  ASSERT_TRUE(WaitFor([&] { return Edit->Focused(); }));
  for (unsigned long K : {0xFF57ul, 0xFF51ul, 0xFF51ul, 0x78ul}) Stroke(K);  // End, Left, Left, x
  EXPECT_EQ(Edit->Text(), "oxne");
  for (unsigned long K : {0xFF50ul, 0xFFFFul, 0x79ul}) Stroke(K);  // Home, Delete, y
  EXPECT_EQ(Edit->Text(), "yxne");
  Stroke(0xFF57);                      // End
  Click(Edit, 2, Edit->Height() / 2);  // the caret goes back to the start
  Stroke(0x7A);                        // z
  EXPECT_EQ(Edit->Text(), "zyxne");
  EXPECT_TRUE(Edit->Visible());
  Stroke(kdtest::TXInput::XK_Return);
  EXPECT_FALSE(Edit->Visible());
  EXPECT_EQ(Value(Node, "e"), "zyxne");
}

// Return in an editor with AdvanceOnReturn: the tree takes the focus back and the next
// parameter's editor opens and keeps the focus, though the tree's window activation comes late.
TEST_F(TreeEditorsUnderX, ReturnAdvancesToAnEditorThatStaysOpen) {
  Tree->SetAdvanceOnReturn(true);
  ClickAnchor("f");
  TPopupEdit* Edit = Tree->EditControl();
  ASSERT_TRUE(WaitFor([&] { return Edit->Focused(); }));
  Stroke(0x78);  // x, over the whole value
  Stroke(kdtest::TXInput::XK_Return);
  EXPECT_EQ(Value(Node, "f"), "x");
  EXPECT_TRUE(Edit->Visible());
  EXPECT_TRUE(Edit->Focused());
  EXPECT_EQ(Edit->Text(), "one");
  Stroke(0x79);  // y
  Stroke(kdtest::TXInput::XK_Escape);
  EXPECT_FALSE(Edit->Visible());
  EXPECT_FALSE(Tree->Editing());
  EXPECT_EQ(Value(Node, "e"), "one");
}

// A click on an item of the floating list chooses it; the tree is idle again afterwards.
TEST_F(TreeEditorsUnderX, AClickInTheListChoosesTheItem) {
  ClickAnchor("l");
  TPopupListBox* List = Tree->ListControl();
  ASSERT_TRUE(List->Visible());
  Click(List, 5, List->ItemHeight() / 2 + 2);  // "a"
  EXPECT_FALSE(List->Visible());
  EXPECT_FALSE(Tree->Editing());
  EXPECT_EQ(Value(Node, "l"), "a");
  std::vector<std::string> Entered;
  Tree->OnParamEnter = [&](TObject*, TTreeNode*, const std::string& H, const std::string&) { Entered.push_back(H); };
  const TRect Row = Tree->RowRect(Node);
  const QPoint P = Wd(Tree)->mapToGlobal(QPoint(AnchorX("e"), Row.Top + Row.Height() / 2));
  In.MoveTo(P.x(), P.y());
  Settle();
  EXPECT_EQ(Entered, std::vector<std::string>{"e"});
}

// The list of a choice parameter opened at anchors near every edge of the 1280 x 1024 screen
// stays whole on the screen: above its anchor when below would cross the bottom, moved left
// when it would cross the right edge; it never covers the anchor.
TEST_F(TreeEditorsUnderX, AListNearAScreenEdgeStaysOnTheScreen) {
  QScreen* Scr = QGuiApplication::primaryScreen();
  ASSERT_NE(Scr, nullptr);
  ASSERT_EQ(Scr->availableGeometry(), QRect(0, 0, 1280, 1024));
  // Ten long choices: eight rows and a list wider than the space right of a far-right anchor.
  Node->SetText("<A href=\"l\" class=\"LIST\" props=\"first choice of ten|2|3|4|5|6|7|8|9|10\">first choice of ten</A>");
  Settle();
  struct TCase {
    const char* Name;
    int FormX, RowY;  // the form's left and the anchor row's top on the screen
    int Into;         // the click's distance from the anchor's left end
  };
  const TCase Cases[] = {
      {"top left", 0, 0, 0},
      {"top right", 1280 - 40, 0, 0},
      {"bottom left", 0, 1024 - 20, 0},
      {"bottom right", 1280 - 40, 1024 - 20, 0},
      {"middle of the bottom", 500, 1024 - 40, 0},
      {"middle of the right", 1280 - 40, 500, 0},
      {"anchor partly left of the screen", -60, 300, 60},
      {"middle", 500, 400, 0},
  };
  TPopupListBox* List = Tree->ListControl();
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    Form->SetBounds(C.FormX, C.RowY - Tree->RowRect(Node).Top, 400, 200);
    Settle();
    const TRect Row = Tree->RowRect(Node);
    const int X = AnchorX("l") + C.Into;
    ASSERT_EQ(Tree->HitTest(Node, X, Row.Top + Row.Height() / 2).Href, "l");
    const QPoint At = Wd(Tree)->mapToGlobal(QPoint(X, Row.Top + Row.Height() / 2));
    ASSERT_TRUE(QRect(0, 0, 1280, 1024).contains(At));
    Click(Tree, X, Row.Top + Row.Height() / 2);
    ASSERT_TRUE(WaitFor([&] { return List->Visible() && Wd(List)->isVisible(); }));
    Settle();
    EXPECT_EQ(List->Items().size(), 10u);
    EXPECT_GE(List->Height(), 8 * List->ItemHeight());
    const QRect L = Wd(List)->frameGeometry();
    EXPECT_TRUE(QRect(0, 0, 1280, 1024).contains(L)) << L.x() << "," << L.y() << " " << L.width() << "x" << L.height();
    EXPECT_TRUE(L.top() > At.y() || L.bottom() < At.y()) << L.y() << " " << At.y();
    Stroke(kdtest::TXInput::XK_Escape);
    ASSERT_TRUE(WaitFor([&] { return !List->Visible(); }));
  }
}

// Editors opened by the screen's right edge stay whole on it, also while the text editor widens.
TEST_F(TreeEditorsUnderX, TextEditorsAtTheRightEdgeStayOnTheScreen) {
  ASSERT_EQ(QGuiApplication::primaryScreen()->availableGeometry(), QRect(0, 0, 1280, 1024));
  const QRect ScreenRect(0, 0, 1280, 1024);
  Tree->SetEditAutoSize(true);
  struct {
    const char *Href, *Text;
    TWinControl* Editor;
  } const Cases[] = {{"d", "<A href=\"d\" class=\"DATE\">7-3-2026</A>", Tree->DateControl()},
                     {"s", "<A href=\"s\" class=\"SPIN\">5</A>", Tree->SpinEditControl()},
                     {"m", "<A href=\"m\" class=\"MASK\" props=\"00-00\">12-34</A>", Tree->MaskEditControl()},
                     {"e", "<A href=\"e\" class=\"EDIT\">x</A>", Tree->EditControl()}};
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Href);
    Node->SetText(C.Text);
    Settle();
    const int X = AnchorX(C.Href);
    Form->SetBounds(1276 - (X - 2), 300, 400, 200);  // the anchor starts 4 pixels left of the screen's edge
    Settle();
    Click(Tree, X, Tree->RowRect(Node).Top + Tree->RowRect(Node).Height() / 2);
    ASSERT_TRUE(WaitFor([&] { return C.Editor->Visible() && Wd(C.Editor)->isVisible(); }));
    Settle();
    const QRect G = Wd(C.Editor)->frameGeometry();
    EXPECT_TRUE(ScreenRect.contains(G)) << G.left() << "-" << G.right();
    EXPECT_EQ(G.right(), 1279);  // moved left just enough
    for (int I = 0; C.Editor == Tree->EditControl() && I < 20; ++I) Stroke(0x77);  // w: the text editor widens
    EXPECT_GE(Wd(C.Editor)->frameGeometry().width(), G.width() + (C.Editor == Tree->EditControl()));
    EXPECT_TRUE(ScreenRect.contains(Wd(C.Editor)->frameGeometry()));
    Stroke(kdtest::TXInput::XK_Escape);
    ASSERT_TRUE(WaitFor([&] { return !C.Editor->Visible(); }));
  }
}

// A letter composed with a dead key searches the tree as that letter, under each layout's own
// dead key; an editor opened meanwhile composes too, and the tree searches on after it.
TEST_F(TreeEditorsUnderX, DeadKeysSearchTheTreeForTheComposedLetter) {
  ASSERT_TRUE(gCompose);
  struct TRestore {
    ~TRestore() { SetLayout("us", nullptr); }
  } Restore;
  TTreeNode* Banana = Tree->Items()->Item(0);
  Banana->SetText("Banana");
  Tree->Items()->Add(nullptr, "Apple");
  TTreeNode* Eclair = Tree->Items()->Add(nullptr, "\xC3\xA9" "clair");
  Tree->Items()->Add(nullptr, "egg");
  Node->SetText("<A href=\"e\" class=\"EDIT\">x</A>");
  Settle();
  for (auto [Layout, Variant] : {std::pair<const char*, const char*>{"us", "intl"}, {"nl", nullptr}, {"de", nullptr}}) {
    SCOPED_TRACE(Layout);
    if (!SetLayout(Layout, Variant)) GTEST_SKIP() << "setxkbmap is not installed";
    Settle();
    kdtest::TXInput Keyboard;  // reads the new layout
    ASSERT_TRUE(Keyboard.Ok());
    const auto Type = [&](std::initializer_list<unsigned long> Syms) {
      for (unsigned long Sym : Syms) {
        const bool Shifted = Keyboard.Shifted(Sym);
        if (Shifted) Keyboard.Key(0xFFE1, true);
        Keyboard.Key(Sym, true);
        Keyboard.Key(Sym, false);
        if (Shifted) Keyboard.Key(0xFFE1, false);
        Settle();
      }
    };
    ClickAnchor("e");
    TPopupEdit* Edit = Tree->EditControl();
    ASSERT_TRUE(WaitFor([&] { return Edit->Focused(); }));
    Type({0xFF57, 0xFE51, 'e'});  // End, dead acute, e
    Type({kdtest::TXInput::XK_Return});
    EXPECT_EQ(Value(Node, "e"), "x\xC3\xA9");
    Node->SetText("<A href=\"e\" class=\"EDIT\">x</A>");
    Click(Tree, 10, Tree->RowRect(Banana).Top + Tree->RowRect(Banana).Height() / 2);
    ASSERT_EQ(Tree->Selected(), Banana);
    ASSERT_TRUE(Tree->Focused());
    Type({0xFE51, 'e'});  // dead acute, e
    EXPECT_EQ(Tree->Selected(), Eclair);
  }
}

// Every editor kind opened twice at every corner of the screen: whole on the screen, in the
// same place and of the same width the second time as the first; an auto-sizing text editor
// wider than its anchor, for the text it holds. The screen is what the server has: 1280 x 1024,
// or 1024 x 768 when the test below runs the program again.
TEST_F(TreeEditorsUnderX, EveryEditorOpenedTwiceAtEveryCornerStaysWholeOnTheScreen) {
  const QRect Scr = QGuiApplication::primaryScreen()->availableGeometry();
  std::printf("screen %d x %d\n", Scr.width(), Scr.height());
  const std::string Long(60, 'w');
  const std::string LongChoice = "a very long choice " + std::string(200, 'm');
  struct TKind {
    const char* Name;
    std::string Text;
    TWinControl* Editor;
    bool AutoSize;
  } const Kinds[] = {
      {"long text", "<A href=\"p\" class=\"EDIT\">" + Long + "</A>", Tree->EditControl(), true},
      {"short text", "<A href=\"p\" class=\"EDIT\">ab</A>", Tree->EditControl(), true},
      {"fixed text", "<A href=\"p\" class=\"EDIT\">ab</A>", Tree->EditControl(), false},
      {"mask", "<A href=\"p\" class=\"MASK\" props=\"00-00\">12-34</A>", Tree->MaskEditControl(), false},
      {"spin", "<A href=\"p\" class=\"SPIN\">5</A>", Tree->SpinEditControl(), false},
      {"date", "<A href=\"p\" class=\"DATE\">7-3-2026</A>", Tree->DateControl(), false},
      {"time", "<A href=\"p\" class=\"TIME\">12:30:00</A>", Tree->DateControl(), false},
      {"list", "<A href=\"p\" class=\"LIST\" props=\"a|b|c\">b</A>", Tree->ListControl(), false},
      {"long list", "<A href=\"p\" class=\"LIST\" props=\"" + LongChoice + "|b|c\">b</A>", Tree->ListControl(), false},
  };
  for (const TKind& K : Kinds) {
    SCOPED_TRACE(K.Name);
    Tree->SetEditAutoSize(K.AutoSize);
    Node->SetText(K.Text);
    Settle();
    const int X = AnchorX("p");
    const TRect Row = Tree->RowRect(Node);
    const int AnchorWidth = Tree->HitTest(Node, X, Row.Top + Row.Height() / 2).HoverRect.Width();
    struct TCorner {
      const char* Name;
      int AnchorLeft, RowTop;  // on the screen
    } const Corners[] = {{"top left", Scr.left(), Scr.top()},
                         {"top right", Scr.right() - 3, Scr.top()},
                         {"bottom left", Scr.left(), Scr.bottom() + 1 - Row.Height()},
                         {"bottom right", Scr.right() - 3, Scr.bottom() + 1 - Row.Height()}};
    for (const TCorner& C : Corners) {
      SCOPED_TRACE(C.Name);
      Form->SetBounds(C.AnchorLeft - (X - 2), C.RowTop - Row.Top, 400, 200);
      Settle();
      QRect First;
      for (int Opening = 0; Opening < 2; ++Opening) {
        Click(Tree, X, Row.Top + Row.Height() / 2);
        ASSERT_TRUE(WaitFor([&] { return K.Editor->Visible() && Wd(K.Editor)->isVisible(); }));
        Settle();
        const QRect G = Wd(K.Editor)->frameGeometry();
        EXPECT_TRUE(Scr.contains(G)) << G.x() << "," << G.y() << " " << G.width() << "x" << G.height();
        if (Opening == 0) {
          First = G;
        } else {
          EXPECT_EQ(G, First) << G.x() << "," << G.y() << " " << G.width() << "x" << G.height();
        }
        if (K.AutoSize) {
          EXPECT_GT(G.width(), AnchorWidth);
        }
        Stroke(kdtest::TXInput::XK_Escape);
        ASSERT_TRUE(WaitFor([&] { return !K.Editor->Visible(); }));
      }
    }
  }
}

// The same on a 1024 x 768 screen: the program runs that test again on a server of that size.
TEST(TreeEditorsOnASmallScreen, EveryEditorOpenedTwiceAtEveryCornerStaysWholeOnTheScreen) {
  if (!gHaveX) GTEST_SKIP() << "Xvfb is not installed";
  if (std::getenv("KD_XVFB_SCREEN")) GTEST_SKIP() << "the program runs again only once";
  const std::string cmd = "KD_XVFB_SCREEN=1024x768x24 /proc/" + std::to_string(getpid()) +
                          "/exe --gtest_filter=TreeEditorsUnderX.EveryEditorOpenedTwiceAtEveryCornerStaysWholeOnTheScreen 2>&1";
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr) << cmd;
  char buf[512];
  while (fgets(buf, sizeof buf, p)) out += buf;
  EXPECT_EQ(pclose(p), 0) << out;
  EXPECT_NE(out.find("screen 1024 x 768"), std::string::npos) << out;
  EXPECT_NE(out.find("[  PASSED  ] 1 test"), std::string::npos) << out;
}

// Each step by real mouse and keys leaves the tree's window as a fresh paint of it draws it:
// hover in and out, every editor opened and committed or cancelled, a value that changes the
// row's width, selection by keys and clicks, collapse and expand, a click on a plain parameter.
TEST_F(TreeEditorsUnderX, EveryStepLeavesTheWindowAsAFreshPaint) {
  Tree->SetShowSelection(true);
  Tree->SetHover(true);
  Tree->OnParamClick = [](TObject*, TTreeNode*, const std::string&, std::string&) {};
  Node->SetText(Node->Text() + " <A href=\"p\">plain</A> <BLINK>new</BLINK>");
  Tree->Items()->AddChild(Tree->Items()->GetFirstNode(), "child");
  Tree->Items()->GetFirstNode()->Expand(false);
  Tree->SetSelected(Node);
  Settle();
  auto Stale = [&](const char* Step) {
    QWidget* F = Wd(Form.get());
    const QPoint O = Wd(Tree)->mapTo(F, QPoint(0, 0));
    auto Shown = [&] { return F->screen()->grabWindow(F->winId(), O.x(), O.y(), Tree->ClientWidth(), Tree->ClientHeight()).toImage().convertToFormat(QImage::Format_RGB32); };
    auto Fresh = [&] { return Wd(Tree)->grab(QRect(0, 0, Tree->ClientWidth(), Tree->ClientHeight())).toImage().convertToFormat(QImage::Format_RGB32); };
    // An open editor floats over the tree in a window of its own: the tree below it is not seen.
    QRect Editor;
    for (const TControl* E : std::initializer_list<const TControl*>{Tree->EditControl(), Tree->ListControl()})
      if (E->Visible()) Editor = QRect(Wd(Tree)->mapFromGlobal(Wd(E)->mapToGlobal(QPoint(0, 0))), Wd(E)->size());
    int N = 1;
    for (int Round = 0; Round < 20 && N; ++Round) {
      Settle();
      const QImage A = Shown(), B = Fresh();
      N = 0;
      for (int Y = 0; Y < A.height(); ++Y)
        for (int X = 0; X < A.width(); ++X) N += A.pixel(X, Y) != B.pixel(X, Y) && !Editor.contains(X, Y);
    }
    EXPECT_EQ(N, 0) << Step;
  };
  const TRect Row = Tree->RowRect(Node);
  const int Mid = Row.Top + Row.Height() / 2;
  auto Move = [&](int X, int Y) {
    const QPoint P = Wd(Tree)->mapToGlobal(QPoint(X, Y));
    In.MoveTo(P.x(), P.y());
    Settle();
  };
  Move(AnchorX("f"), Mid), Stale("hover in");
  Move(AnchorX("f"), 150), Stale("hover out");
  ClickAnchor("e"), Stale("edit opened");
  Stroke(kdtest::TXInput::XK_Escape), Stale("edit cancelled");
  ClickAnchor("f"), Stale("edit reopened");
  for (unsigned long K : {0xFF57ul, 0x78ul, 0x78ul, 0x78ul, 0x78ul}) Stroke(K);  // End, x x x x
  Stroke(kdtest::TXInput::XK_Return), Stale("wider value written");
  ClickAnchor("l"), Stale("list opened");
  Stroke(kdtest::TXInput::XK_Return), Stale("list chosen");
  ClickAnchor("p"), Stale("plain parameter");
  Click(Other, 5, 5), Stale("focus left");
  Click(Tree, Tree->RowRect(Node).Left + 5, Tree->RowRect(Node).Top + 4), Stale("focus back");
  Stroke(0xFF52), Stale("key up");      // Up, to the child
  Stroke(0xFF52), Stale("key up again");  // to its parent
  Stroke(0xFF51), Stale("collapsed");   // Left
  Stroke(0xFF53), Stale("expanded");    // Right
}

// Letters typed with Ctrl, Alt or the system key held are no search; typed alone they are.
TEST_F(TreeEditorsUnderX, LettersWithAModifierDoNotSearch) {
  Tree->Items()->Add(nullptr, "zebra");
  Click(Tree, 5, Tree->RowRect(Node).Top + 4);
  ASSERT_TRUE(Tree->Focused());
  for (unsigned long M : {0xFFE3ul, 0xFFE9ul, 0xFFEBul, 0x72ul}) {  // Control_L, Alt_L, Super_L, none
    std::this_thread::sleep_for(std::chrono::milliseconds(TreeSearchPause + 100));  // a new search
    if (M != 0x72) In.Key(M, true);
    Stroke(0x7A);  // z
    if (M != 0x72) In.Key(M, false);
    Settle();
    EXPECT_EQ(Tree->Selected() == Node, M != 0x72) << std::hex << M;
  }
}

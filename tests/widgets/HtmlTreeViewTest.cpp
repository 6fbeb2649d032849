// Parameter editing in the HTML tree view, class by class, driven through the real popup
// editors with synthetic keys, the menu and folder-dialog hooks, and the fake text measurer
// (8 x 16 pixel characters) for mouse positions.
#include "widgets/HtmlTreeView.h"

#include <gtest/gtest.h>

#include <QHelpEvent>
#include <QToolTip>
#include <functional>
#include <stdexcept>

#include "platform/Dialogs.h"
#include "platform/Graphics.h"
#include "tests/platform/GuiTestEvents.h"

using namespace platform;
using namespace widgets;

namespace {

class HtmlTree : public ::testing::Test {
 protected:
  void SetUp() override {
    tree = std::make_unique<THtmlTreeView>(nullptr);
    TFont f;
    f.SetHeight(-16);
    tree->SetFont(&f);
    tree->SetBounds(0, 0, 400, 200);
    tree->OnParamChanged = [this](TObject*, TTreeNode*, const std::string& href, const std::string& o,
                                  const std::string& n) { changes.push_back(href + ":" + o + "->" + n); };
  }
  void TearDown() override {
    SetPopupHandler(nullptr);
    SetFolderDialogHandler(nullptr);
  }
  TTreeNode* Add(const std::string& text) { return tree->Items()->Add(nullptr, text); }
  void Open(TTreeNode* n, const std::string& href) {
    tree->SetSelected(n);
    tree->ParamClick(n, href, {20, 0, 60, 16});
  }
  std::string Value(TTreeNode* n, const std::string& href) {
    std::string v;
    GetAnchorValue(n->Text(), href, v);
    return v;
  }
  TFakeTextMeasurer fake;
  TScopedTextMeasurer scope{&fake};
  std::unique_ptr<THtmlTreeView> tree;
  std::vector<std::string> changes;
};

TEST_F(HtmlTree, Defaults) {
  EXPECT_FALSE(tree->AdvanceOnReturn());
  EXPECT_EQ(tree->EmptyParam(), "?");
  EXPECT_TRUE(tree->Hover());
  EXPECT_EQ(tree->HoverColor(), clGreen);
  EXPECT_EQ(tree->HoverFontColor(), clWhite);
  EXPECT_EQ(tree->ItemHeight(), 16);
  EXPECT_EQ(tree->SelectionColor(), clHighlight);
  EXPECT_EQ(tree->SelectionFontColor(), clHighlightText);
  EXPECT_FALSE(tree->ShowSelection());
  EXPECT_EQ(tree->ParamColor(), clGreen);
  EXPECT_EQ(tree->ShadowColor(), clGray);
  EXPECT_EQ(tree->ShadowOffset(), 1);
  EXPECT_TRUE(tree->ShowFocusBorder());
  EXPECT_TRUE(tree->WordWrap());
  EXPECT_FALSE(tree->ToolTips());
  EXPECT_TRUE(tree->ReadOnly());
}

TEST_F(HtmlTree, EditEscapesOnceAndReadsBackUnescaped) {
  TTreeNode* n = Add("Name <A href=\"name\" class=\"EDIT\">Bob</A>");
  Open(n, "name");
  EXPECT_TRUE(tree->Editing());
  ASSERT_TRUE(tree->EditControl()->Visible());
  EXPECT_EQ(tree->EditControl()->Text(), "Bob");
  tree->EditControl()->SetText("A<b>&\"c\"");
  guitest::Key(tree->EditControl(), Qt::Key_Return);
  EXPECT_FALSE(tree->Editing());
  EXPECT_FALSE(tree->EditControl()->Visible());
  EXPECT_EQ(Value(n, "name"), "A&lt;b&gt;&amp;&quot;c&quot;");
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0], "name:Bob->A<b>&\"c\"");
  // The second edit starts from the plain value and writes nothing new.
  Open(n, "name");
  EXPECT_EQ(tree->EditControl()->Text(), "A<b>&\"c\"");
  guitest::Key(tree->EditControl(), Qt::Key_Return);
  EXPECT_EQ(Value(n, "name"), "A&lt;b&gt;&amp;&quot;c&quot;");
  EXPECT_EQ(changes.size(), 1u);
}

// Editors write back the value as edited at the caret; an untouched mask stores the empty text.
TEST_F(HtmlTree, EditorsWriteBackTextEditedAtTheCaret) {
  TTreeNode* n = Add("<A href=\"e\" class=\"EDIT\">abcdef</A> <A href=\"m\" class=\"MASK\" props=\"00-00\">?</A>");
  Open(n, "e");
  guitest::Keys(tree->EditControl(), {Qt::Key_End, Qt::Key_Left, Qt::Key_Left, Qt::Key_X, Qt::Key_Home,
                                      Qt::Key_Delete, Qt::Key_Y, Qt::Key_Return});
  EXPECT_EQ(Value(n, "e"), "ybcdxef");
  for (const char* typed : {"1234", ""}) {
    n->SetText("<A href=\"m\" class=\"MASK\" props=\"00-00\">?</A>");
    Open(n, "m");
    guitest::Type(tree->MaskEditControl(), typed);
    guitest::Keys(tree->MaskEditControl(), {Qt::Key_Return});
    EXPECT_EQ(Value(n, "m"), *typed ? "12-34" : "?");
  }
  EXPECT_EQ(changes, (std::vector<std::string>{"e:abcdef->ybcdxef", "m:?->12-34"}));
}

TEST_F(HtmlTree, EmptyValueStoresEmptyParam) {
  TTreeNode* n = Add("<A href=\"e\" class=\"EDIT\">x</A>");
  Open(n, "e");
  tree->EditControl()->SetText("");
  guitest::Key(tree->EditControl(), Qt::Key_Return);
  EXPECT_EQ(Value(n, "e"), "?");
  std::string prepared = "unset";
  tree->OnParamPrepare = [&](TObject*, TTreeNode*, const std::string&, std::string& v) { prepared = v; };
  Open(n, "e");
  EXPECT_EQ(prepared, "");
  EXPECT_EQ(tree->EditControl()->Text(), "");
}

TEST_F(HtmlTree, EscapeLeavesTheValueAndEndsEditing) {
  TTreeNode* n = Add("<A href=\"e\" class=\"EDIT\">keep</A>");
  Open(n, "e");
  tree->EditControl()->SetText("changed");
  guitest::Key(tree->EditControl(), Qt::Key_Escape);
  EXPECT_FALSE(tree->Editing());
  EXPECT_FALSE(tree->EditControl()->Visible());
  EXPECT_TRUE(tree->EditControl()->Cancelled);  // a later focus loss reports nothing
  EXPECT_EQ(Value(n, "e"), "keep");
  // Reopened on the same value, an auto-sizing editor is as wide as the first time.
  tree->SetEditAutoSize(true);
  for (int i = 0; i < 2; ++i) {
    Open(n, "e");
    EXPECT_EQ(tree->EditControl()->Width(), 4 * 8 + 16) << i;
    guitest::Key(tree->EditControl(), Qt::Key_Escape);
  }
}

TEST_F(HtmlTree, Toggle) {
  TTreeNode* n = Add("<A href=\"t\" class=\"toggle\" props=\"S|L\">S</A> <A href=\"one\" class=\"TOGGLE\" props=\"A\">A</A>");
  Open(n, "t");
  EXPECT_EQ(Value(n, "t"), "L");
  Open(n, "t");
  EXPECT_EQ(Value(n, "t"), "S");
  std::string text = n->Text();
  SetAnchorValue(text, "t", "X");
  n->SetText(text);
  Open(n, "t");
  EXPECT_EQ(Value(n, "t"), "S");
  Open(n, "one");  // fewer than two choices: nothing
  EXPECT_EQ(Value(n, "one"), "A");
  EXPECT_FALSE(tree->Editing());
}

TEST_F(HtmlTree, MenuWritesTheChoiceEscaped) {
  TTreeNode* n = Add("<A href=\"m\" class=\"MENU\" props=\"one|two &amp; three|b\">one</A>");
  std::vector<std::string> captions;
  SetPopupHandler([&](TPopupMenu* menu, int32_t, int32_t) -> TMenuItem* {
    captions.clear();
    for (int i = 0; i < menu->Items()->Count(); ++i) captions.push_back(menu->Items()->Items(i)->Caption());
    EXPECT_TRUE(tree->Editing());
    return menu->Items()->Items(1);
  });
  Open(n, "m");
  EXPECT_EQ(captions.size(), 3u);
  EXPECT_EQ(Value(n, "m"), "two &amp; three");
  EXPECT_FALSE(tree->Editing());
  // Sorted choices; a cancelled menu changes nothing and ends editing.
  tree->SetParamListSorted(true);
  SetPopupHandler([&](TPopupMenu* menu, int32_t, int32_t) -> TMenuItem* {
    EXPECT_EQ(StripHotkey(menu->Items()->Items(0)->Caption()), "b");
    return nullptr;
  });
  Open(n, "m");
  EXPECT_EQ(Value(n, "m"), "two &amp; three");
  EXPECT_FALSE(tree->Editing());
  // OnParamPopup may cancel before anything shows.
  bool shown = false;
  SetPopupHandler([&](TPopupMenu*, int32_t, int32_t) -> TMenuItem* {
    shown = true;
    return nullptr;
  });
  tree->OnParamPopup = [](TObject*, TTreeNode*, const std::string&, std::vector<std::string>&, bool& doPopup) {
    doPopup = false;
  };
  Open(n, "m");
  EXPECT_FALSE(shown);
  EXPECT_FALSE(tree->Editing());
}

TEST_F(HtmlTree, SpinDateAndTimeNeverRaise) {
  TTreeNode* n = Add("<A href=\"n\" class=\"SPIN\"> 12 </A><A href=\"bad\" class=\"SPIN\">abc</A>"
                     "<A href=\"d\" class=\"DATE\">6-12-2026</A><A href=\"t\" class=\"TIME\">9:05:00</A>"
                     "<A href=\"nd\" class=\"DATE\">soon</A><A href=\"nt\" class=\"TIME\"></A>");
  Open(n, "n");
  EXPECT_EQ(tree->SpinEditControl()->Value(), 12);
  guitest::Key(tree->SpinEditControl(), Qt::Key_Up);
  guitest::Key(tree->SpinEditControl(), Qt::Key_Return);
  EXPECT_EQ(Value(n, "n"), "13");
  EXPECT_NO_THROW(Open(n, "bad"));
  EXPECT_EQ(tree->SpinEditControl()->Value(), 0);
  guitest::Key(tree->SpinEditControl(), Qt::Key_Escape);
  Open(n, "d");
  EXPECT_EQ(tree->DateControl()->Kind(), dtkDate);
  EXPECT_EQ(tree->DateControl()->DateTime(), EncodeDate(2026, 12, 6));
  guitest::Key(tree->DateControl(), Qt::Key_Return);
  EXPECT_EQ(Value(n, "d"), "6-12-2026");
  Open(n, "t");
  EXPECT_EQ(tree->DateControl()->Kind(), dtkTime);
  guitest::Key(tree->DateControl(), Qt::Key_Return);
  EXPECT_EQ(Value(n, "t"), "9:05:00");
  EXPECT_NO_THROW(Open(n, "nd"));
  EXPECT_EQ(tree->DateControl()->Text(), DateToStr(Date()));
  guitest::Key(tree->DateControl(), Qt::Key_Escape);
  EXPECT_NO_THROW(Open(n, "nt"));
  guitest::Key(tree->DateControl(), Qt::Key_Escape);
  EXPECT_FALSE(tree->Editing());
}

TEST_F(HtmlTree, ListMaskQueryCustomDirAndPlain) {
  TTreeNode* n = Add("<A href=\"l\" class=\"LIST\" props=\"x|y|z\">y</A><A href=\"mask\" class=\"MASK\" props=\"000\">123</A>"
                     "<A href=\"q\" class=\"QUERY\">?</A><A href=\"c\" class=\"CUSTOM\" props=\"pp\">v</A>"
                     "<A href=\"dir\" class=\"DIR\">/tmp</A><A href=\"p\">plain</A>");
  Open(n, "l");
  TPopupListBox* list = tree->ListControl();
  ASSERT_TRUE(list->Visible());
  EXPECT_EQ(list->Count(), 3);
  EXPECT_EQ(list->ItemIndex(), 1);
  guitest::Key(list, Qt::Key_Down);
  guitest::Key(list, Qt::Key_Return);
  EXPECT_EQ(Value(n, "l"), "z");
  EXPECT_FALSE(list->Visible());

  Open(n, "mask");
  EXPECT_EQ(tree->MaskEditControl()->EditMask(), "000");
  guitest::Key(tree->MaskEditControl(), Qt::Key_Return);
  EXPECT_EQ(Value(n, "mask"), "123");

  tree->OnParamQuery = [](TObject*, TTreeNode*, const std::string&, std::string& v) { v = "answer"; };
  Open(n, "q");
  EXPECT_EQ(Value(n, "q"), "answer");

  std::string got;
  tree->OnParamCustomEdit = [&](TObject*, TTreeNode*, const std::string& href, const std::string& value,
                                const std::string& props, const TRect& r) {
    got = href + "|" + value + "|" + props + "|" + std::to_string(r.Left) + "," + std::to_string(r.Top);
  };
  Open(n, "c");
  EXPECT_EQ(got, "c|v|pp|22,-2");

  std::string start;
  SetFolderDialogHandler([&](const std::string& caption, std::string& dir) {
    EXPECT_EQ(caption, "Select directory");
    start = dir;
    dir = "/home";
    return true;
  });
  Open(n, "dir");
  EXPECT_EQ(start, "/tmp");
  EXPECT_EQ(Value(n, "dir"), "/home");
  SetFolderDialogHandler([](const std::string&, std::string&) { return false; });
  Open(n, "dir");
  EXPECT_EQ(Value(n, "dir"), "/home");
  EXPECT_FALSE(tree->Editing());

  Open(n, "p");  // no class and no OnParamClick: nothing
  EXPECT_FALSE(tree->Editing());
  tree->OnParamClick = [](TObject*, TTreeNode*, const std::string&, std::string& v) { v += "!"; };
  Open(n, "p");
  EXPECT_EQ(Value(n, "p"), "plain!");
}

TEST_F(HtmlTree, ListReturnWithoutSelectionWritesNothing) {
  TTreeNode* n = Add("<A href=\"l\" class=\"LIST\" props=\"x|y\">none</A>");
  Open(n, "l");
  EXPECT_EQ(tree->ListControl()->ItemIndex(), -1);
  guitest::Key(tree->ListControl(), Qt::Key_Return);
  EXPECT_EQ(Value(n, "l"), "none");
  EXPECT_FALSE(tree->ListControl()->Visible());
}

TEST_F(HtmlTree, EditingEndsWhenAHandlerRaises) {
  TTreeNode* n = Add("<A href=\"e\" class=\"EDIT\">x</A>");
  tree->OnParamEditStart = [](TObject*, TTreeNode*, const std::string&, std::string&) {
    throw std::runtime_error("no");
  };
  EXPECT_THROW(Open(n, "e"), std::runtime_error);
  EXPECT_FALSE(tree->Editing());
}

TEST_F(HtmlTree, AdvanceOnReturnWalksAllParameters) {
  TTreeNode* a = Add("<A href=\"a1\" class=\"EDIT\">1</A> <A href=\"a2\" class=\"EDIT\">2</A>");
  Add("no parameters");
  TTreeNode* c = Add("<A href=\"c1\" class=\"EDIT\">3</A>");
  tree->SetAdvanceOnReturn(true);
  EXPECT_EQ(tree->TotalParamCount(), 3);
  Open(a, "a1");
  guitest::Key(tree->EditControl(), Qt::Key_Return);
  EXPECT_EQ(tree->Selected(), a);
  EXPECT_EQ(tree->FocusedParam(), 1);
  EXPECT_EQ(tree->EditControl()->Param, "a2");
  guitest::Key(tree->EditControl(), Qt::Key_Return);
  EXPECT_EQ(tree->Selected(), c);
  EXPECT_EQ(tree->EditControl()->Param, "c1");
  guitest::Key(tree->EditControl(), Qt::Key_Return);  // after the last: the first
  EXPECT_EQ(tree->Selected(), a);
  EXPECT_EQ(tree->EditControl()->Param, "a1");
  guitest::Key(tree->EditControl(), Qt::Key_Escape);
  EXPECT_FALSE(tree->Editing());
}

TEST_F(HtmlTree, LookUps) {
  Add("<A href=\"x\">1</A><a HREF=\"Y\">2</a>");
  TTreeNode* b = Add("<A href=\"z\">3</A>");
  EXPECT_EQ(tree->FindParamNode("Z"), b);
  EXPECT_EQ(tree->ParamIndex(tree->Items()->Item(0), "y"), 1);
  EXPECT_EQ(tree->ParamIndex(b, "x"), -1);
  EXPECT_EQ(tree->ParamHref(tree->Items()->Item(0), 5), "x");  // wraps to the first
  TTreeNode* node = nullptr;
  EXPECT_EQ(tree->ParamHrefOverall(2, &node), "z");
  EXPECT_EQ(node, b);
  EXPECT_EQ(tree->ParamHrefOverall(3), "");
  EXPECT_EQ(tree->GetParam("y"), "2");
}

TEST_F(HtmlTree, KeyboardMovesTheFocusedParameter) {
  TTreeNode* n = Add("<A href=\"a\" class=\"EDIT\">1</A> <A href=\"b\" class=\"EDIT\">2</A>");
  Add("plain");
  tree->SetSelected(n);
  guitest::Key(tree.get(), Qt::Key_Right);
  EXPECT_EQ(tree->FocusedParam(), 1);
  EXPECT_EQ(tree->Selected(), n);
  guitest::Key(tree.get(), Qt::Key_Right);
  EXPECT_EQ(tree->FocusedParam(), 1);
  guitest::Key(tree.get(), Qt::Key_Return, Qt::NoModifier, "\r");
  EXPECT_TRUE(tree->EditControl()->Visible());
  EXPECT_EQ(tree->EditControl()->Param, "b");
  EXPECT_EQ(tree->EditControl()->Text(), "2");
  guitest::Key(tree->EditControl(), Qt::Key_Escape);
  guitest::Key(tree.get(), Qt::Key_Left);
  EXPECT_EQ(tree->FocusedParam(), 0);
  // A node with fewer anchors resets the index; arrows then navigate the tree.
  guitest::Key(tree.get(), Qt::Key_Right);
  guitest::Key(tree.get(), Qt::Key_Down);
  EXPECT_EQ(tree->FocusedParam(), 0);
  guitest::Key(tree.get(), Qt::Key_Return, Qt::NoModifier, "\r");  // no anchors: nothing
  EXPECT_FALSE(tree->Editing());
}

TEST_F(HtmlTree, MouseClickOpensTheAnchorUnderIt) {
  // Level 0 with root buttons: the HTML starts at 19 + 2 (one pixel each for the draw and the renderer).
  TTreeNode* n = Add("ab <A href=\"e\" class=\"EDIT\" hint=\"tip\">val</A>");
  guitest::Press(tree.get(), 21 + 3 * 8 + 4, 8);
  guitest::Release(tree.get(), 21 + 3 * 8 + 4, 8);
  EXPECT_EQ(tree->Selected(), n);
  EXPECT_TRUE(tree->EditControl()->Visible());
  EXPECT_EQ(tree->EditControl()->Left(), tree->ClientToScreen({21 + 24 + 2, 0}).X);  // a floating window
  guitest::Key(tree->EditControl(), Qt::Key_Escape);
  // A click beside the anchor opens nothing.
  guitest::Press(tree.get(), 22, 8);
  guitest::Release(tree.get(), 22, 8);
  EXPECT_FALSE(tree->Editing());
}

TEST_F(HtmlTree, HoverEnterExitAndDeletedNodes) {
  TTreeNode* n = Add("ab <A href=\"e\">val</A>");
  Add("other");
  std::vector<std::string> log;
  tree->OnParamEnter = [&](TObject*, TTreeNode*, const std::string& h, const std::string& v) { log.push_back("enter " + h + "=" + v); };
  tree->OnParamExit = [&](TObject*, TTreeNode*, const std::string& h, const std::string&) { log.push_back("exit " + h); };
  guitest::Move(tree.get(), 50, 8);
  EXPECT_EQ(tree->Cursor(), crHandPoint);
  EXPECT_EQ(tree->HoverNode(), n);
  guitest::Move(tree.get(), 52, 8);  // same anchor: no second enter
  guitest::Move(tree.get(), 22, 8);
  EXPECT_EQ(tree->Cursor(), crDefault);
  EXPECT_EQ(log, (std::vector<std::string>{"enter e=val", "exit e"}));
  guitest::Move(tree.get(), 50, 8);
  n->Delete();
  EXPECT_EQ(tree->HoverNode(), nullptr);
  guitest::Move(tree.get(), 50, 100);  // nothing under the mouse; the deleted node is not touched
  EXPECT_EQ(tree->Cursor(), crDefault);

  // Two nodes share an href: entering and leaving report the hovered node and its own value.
  tree->Items()->Clear();
  log.clear();
  TTreeNode* a = Add("ab <A href=\"v\">one</A>");
  TTreeNode* b = Add("ab <A href=\"v\">two</A>");
  auto report = [&](std::string What) {
    return [&log, a, b, What](TObject*, TTreeNode* nd, const std::string& h, const std::string& v) {
      log.push_back(What + (nd == a ? " a:" : nd == b ? " b:" : " ?:") + h + "=" + v);
    };
  };
  tree->OnParamEnter = report("enter");
  tree->OnParamExit = report("exit");
  guitest::Move(tree.get(), 50, 16 + 8);  // b's anchor
  guitest::Move(tree.get(), 50, 8);       // straight onto a's
  guitest::Move(tree.get(), 50, 100);
  EXPECT_EQ(log, (std::vector<std::string>{"enter b:v=two", "exit b:v=two", "enter a:v=one", "exit a:v=one"}));
}

// Rows moved under a resting pointer, by every way the tree moves them: the hovered parameter
// is the one now under the pointer, or none.
TEST_F(HtmlTree, HoverFollowsRowsMovedUnderARestingPointer) {
  TTreeNode* top = Add("<A href=\"a0\">aaaa</A>");
  tree->Items()->AddChild(top, "<A href=\"c\">cccc</A>");
  std::vector<TTreeNode*> rows{top};
  for (int i = 1; i <= 20; ++i) rows.push_back(Add("<A href=\"a" + std::to_string(i) + "\">aaaa</A>"));
  tree->HandleNeeded();  // scroll bars
  struct TCase {
    const char* Name;
    int Y;
    bool Collapsed;
    std::function<void()> Move;
    bool OnAnchor;
  };
  const TCase cases[] = {
      {"top item", 8, false, [&] { tree->SetTopItem(rows[2]); }, true},
      {"wheel", 8, false, [&] { guitest::Wheel(tree.get(), 45, 8, -120); }, true},
      {"selection far below", 8, false, [&] { tree->SetSelected(rows[20]); }, true},
      {"collapse", 24, false, [&] { top->Collapse(false); }, true},
      {"expand", 24, true, [&] { top->Expand(false); }, true},
      {"row removed above", 40, false, [&] { top->GetFirstChild()->Delete(); }, true},
      {"scrolled left", 8, false, [&] { tree->SetScrollLeft(30); }, false},
  };
  for (const TCase& C : cases) {
    SCOPED_TRACE(C.Name);
    tree->SetScrollLeft(0);
    tree->SetSelected(nullptr);
    if (C.Collapsed) top->Collapse(false);
    else top->Expand(false);
    tree->SetTopItem(tree->Items()->GetFirstNode());
    guitest::Move(tree.get(), 45, C.Y);
    TTreeNode* before = tree->HoverNode();
    ASSERT_NE(before, nullptr);
    C.Move();
    TTreeNode* now = tree->GetNodeAt(45, C.Y);
    if (C.OnAnchor) {
      ASSERT_NE(now, before);  // else the row stays and its anchor moves away
    }
    EXPECT_EQ(tree->HoverNode(), C.OnAnchor ? now : nullptr);
  }
}

TEST_F(HtmlTree, CheckControlsToggleOnRelease) {
  TTreeNode* n = Add("<CONTROL TYPE=\"CHECK\" ID=\"c\" VALUE=\"TRUE\" WIDTH=\"20\"> x");
  tree->SetItemHeight(24);
  guitest::Press(tree.get(), 25, 12);
  guitest::Release(tree.get(), 25, 12);
  EXPECT_EQ(n->Text(), "<CONTROL ID=\"c\" VALUE=\"FALSE\" WIDTH=\"20\" TYPE=\"CHECK\"> x");
  guitest::Press(tree.get(), 25, 12);
  guitest::Release(tree.get(), 25, 12);
  EXPECT_NE(n->Text().find("VALUE=\"TRUE\""), std::string::npos);
}

// An ID written with an entity is kept as written, however often the box is clicked: the tag
// keeps answering to the same ID.
TEST_F(HtmlTree, CheckControlsKeepTheirIdAsWritten) {
  TTreeNode* n = Add("<CONTROL TYPE=\"CHECK\" ID=\"k&amp;1\" VALUE=\"TRUE\" WIDTH=\"20\"> x");
  tree->SetItemHeight(24);
  for (const char* value : {"FALSE", "TRUE", "FALSE"}) {
    guitest::Press(tree.get(), 25, 12);
    guitest::Release(tree.get(), 25, 12);
    EXPECT_EQ(n->Text(), std::string("<CONTROL ID=\"k&amp;1\" VALUE=\"") + value + "\" WIDTH=\"20\" TYPE=\"CHECK\"> x");
  }
  std::string s = "<control id=\"a&quot;b&lt;\" type=\"check\" value=\"TRUE\" width=\"9\">";
  ASSERT_TRUE(BuildControlTag(s, ParseControlTag(s).Id, "FALSE"));
  EXPECT_EQ(s, "<CONTROL ID=\"a&quot;b&lt;\" VALUE=\"FALSE\" WIDTH=\"9\" TYPE=\"CHECK\">");
}

class THintTree : public THtmlTreeView {
 public:
  using THtmlTreeView::THtmlTreeView;
  using THtmlTreeView::HintShow;
};

TEST(HtmlTreeHint, ParameterHints) {
  TFakeTextMeasurer fake;
  TScopedTextMeasurer scope(&fake);
  THintTree tree(nullptr);
  TFont f;
  f.SetHeight(-16);
  tree.SetFont(&f);
  tree.SetBounds(0, 0, 300, 100);
  TTreeNode* n = tree.Items()->Add(nullptr, "ab <A href=\"e\" hint=\"the &amp; hint\">val</A>");
  tree.SetParamHint(true);
  THintInfo info;
  info.CursorPos = {50, 8};
  info.HintStr = "control hint";
  std::string seen;
  tree.OnParamHint = [&](TObject*, TTreeNode* node, const std::string& href, std::string& hint, bool& show) {
    EXPECT_EQ(node, n);
    seen = href + ":" + hint;
    show = true;
  };
  EXPECT_TRUE(tree.HintShow(info));
  EXPECT_EQ(seen, "e:the & hint");
  EXPECT_EQ(info.HintStr, "the & hint");
  const TPoint screen = tree.ClientToScreen({50, 8});
  EXPECT_EQ(info.HintPos, (TPoint{screen.X + 10, screen.Y - 10}));
  tree.OnParamHint = [](TObject*, TTreeNode*, const std::string&, std::string&, bool& show) { show = false; };
  EXPECT_FALSE(tree.HintShow(info));

  // A parameter's hint shows without a tree Hint; none beside it, none without ShowHint.
  tree.OnParamHint = nullptr;
  n->SetText("ab <A href=\"e\" hint=\"Kies een kleur\">val</A>");
  ASSERT_TRUE(tree.Hint().empty());
  for (const auto& [x, show, shown] : {std::tuple{50, true, true}, {22, true, false}, {50, false, false}}) {
    tree.SetShowHint(show);
    QHelpEvent over(QEvent::ToolTip, QPoint(x, 8), guitest::W(&tree)->mapToGlobal(QPoint(x, 8)));
    QApplication::sendEvent(guitest::W(&tree), &over);
    EXPECT_EQ(QToolTip::isVisible(), shown) << x;
    if (shown) { EXPECT_EQ(QToolTip::text().toStdString(), "Kies een kleur"); }
    QToolTip::hideText();
    ASSERT_TRUE(guitest::WaitFor([] { return !QToolTip::isVisible(); }, 2000));
  }
}

TEST_F(HtmlTree, DisplayTextIsTheStrippedCaption) {
  TTreeNode* n = Add("<B>word</B>");
  tree->SetBounds(0, 0, 200, 40);
  const TRect r = n->DisplayRect(true);
  EXPECT_EQ(r.Right - r.Left, 4 * 8 + 4);
  // At most 255 characters, also where a character takes more than one byte.
  std::string accents;
  for (int i = 0; i < 300; ++i) accents += "\xC3\xA9";  // e acute
  const TRect longRect = Add("<B>" + accents + "</B>")->DisplayRect(true);
  EXPECT_EQ(longRect.Right - longRect.Left, 255 * 8 + 4);
  const TRect shortRect = Add(accents.substr(0, 400))->DisplayRect(true);
  EXPECT_EQ(shortRect.Right - shortRect.Left, 200 * 8 + 4);
}

// Typed letters find a row by the characters it shows, as the renderer reads its markup: not
// by hidden or unseen blinking text, not across a line end a tag makes, and with malformed tags
// read as drawn.
TEST(HtmlTreeSearch, TypedLettersMatchTheRowAsDrawn) {
  TFakeTextMeasurer fake;
  TScopedTextMeasurer scope(&fake);
  struct TCase {
    std::vector<std::string> Rows;  // row 0 starts selected
    std::vector<const char*> Typed;  // in quick succession
    int Want;
  };
  const std::string eclair = "\xC3\xA9" "clair";
  const TCase Cases[] = {
      {{"Banana", "<Z>zz</Z>Apple", "Cherry", eclair, "Banana"}, {"a"}, 1},  // hidden text left out
      {{"Banana", "<Z>zz</Z>Apple", "Cherry", eclair, "Banana"}, {"z"}, 0},
      {{"Banana", "<BLINK>New</BLINK>Apple"}, {"a"}, 1},  // blinking text unseen when not selected
      {{"Banana", "<BLINK>New</BLINK>Apple"}, {"n"}, 0},
      {{"Banana", "a<HR>b", "ab"}, {"a", "b"}, 2},       // a rule ends the line
      {{"Banana", "a<BR>b", "ab"}, {"a", "b"}, 2},
      {{"Banana", "<P>a</P>b", "ab"}, {"a", "b"}, 2},
      {{"Banana", "<UL><LI>a<LI>b</UL>", "ab"}, {"a", "b"}, 2},  // a second list item starts a line
      {{"Banana", "<#ab> x"}, {"#"}, 1},                   // a hash tag is shown unwrapped
      {{"Banana", "x", "x<B y"}, {"x", "<"}, 1},           // an unterminated tag drops the rest
      {{"Banana", "&lt;b&gt; x"}, {"<", "b"}, 1},          // entities as the characters they show
      {{"Banana", "<A href=\"p\" class=\"EDIT\">Apple</A>"}, {"a"}, 1},
      {{"Banana", "<BLINK><HI>New</HI></BLINK>"}, {"n"}, 1},  // highlighted, so seen
      {{"Banana", "<BLINK>x</FONT>New</BLINK>"}, {"n"}, 1},   // the font's own colour again
      {{"Banana", "  Apple"}, {"a"}, 1},                     // blanks before the first letter
      {{"Banana", " <BR>ab", "&nbsp;Apple"}, {"a"}, 2},      // not across a line end
      {{"Banana", "  Apple", "Apple"}, {" "}, 1},            // typed, a blank is matched
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Rows[1] + " typed " + C.Typed[0]);
    THtmlTreeView tree(nullptr);
    tree.SetBounds(0, 0, 300, 200);
    std::vector<TTreeNode*> rows;
    for (const std::string& r : C.Rows) rows.push_back(tree.Items()->Add(nullptr, r));
    tree.SetSelected(rows[0]);
    for (const char* t : C.Typed) guitest::Key(&tree, Qt::Key_unknown, Qt::NoModifier, QString::fromUtf8(t));
    EXPECT_EQ(tree.Selected(), rows[static_cast<size_t>(C.Want)]);
  }
}

}  // namespace

// The choice list's place for an anchor near each edge of a 1280 x 1024 screen (and of one
// that does not start at 0): below when it fits, above when below would cross the bottom,
// pushed up when neither fits, left by its overflow at the right edge, never off the left or
// top edge, and cut to the screen's size. A list exactly touching an edge stays where it is.
TEST(ListEditorPlace, StaysOnTheScreen) {
  struct TCase {
    TRect Anchor;
    int32_t W, H;
    TRect Screen, Want;
  };
  const TRect S{0, 0, 1280, 1024};
  const TRect S2{1280, 100, 2560, 1124};  // a second screen to the right, 100 lower
  const TRect S768{0, 0, 1024, 768};
  const TCase Cases[] = {
      {{100, 100, 160, 116}, 120, 108, S, {100, 116, 220, 224}},           // room below
      {{100, 900, 160, 916}, 120, 108, S, {100, 916, 220, 1024}},          // just fits below
      {{100, 901, 160, 917}, 120, 108, S, {100, 793, 220, 901}},           // one pixel over: above
      {{100, 1000, 160, 1016}, 120, 108, S, {100, 892, 220, 1000}},        // at the bottom
      {{1160, 100, 1200, 116}, 120, 108, S, {1160, 116, 1280, 224}},       // just fits left of the edge
      {{1161, 100, 1200, 116}, 120, 108, S, {1160, 116, 1280, 224}},       // one pixel over: left by 1
      {{1270, 1010, 1290, 1026}, 120, 108, S, {1160, 902, 1280, 1010}},    // bottom-right corner
      {{-30, 300, 40, 316}, 120, 108, S, {0, 316, 120, 424}},              // anchor partly off the left
      {{100, -10, 160, 6}, 120, 108, S, {100, 6, 220, 114}},               // anchor partly off the top
      {{100, 50, 160, 66}, 120, 1000, S, {100, 24, 220, 1024}},            // fits neither below nor above
      {{100, 50, 160, 66}, 1400, 2000, S, {0, 0, 1280, 1024}},             // larger than the screen: cut to it
      // A very long choice on a 1024 x 768 screen, at each corner: no wider than the screen.
      {{0, 0, 10, 16}, 1266, 42, S768, {0, 16, 1024, 58}},
      {{1014, 0, 1024, 16}, 1266, 42, S768, {0, 16, 1024, 58}},
      {{0, 752, 10, 768}, 1266, 42, S768, {0, 710, 1024, 752}},
      {{1014, 752, 1024, 768}, 1266, 42, S768, {0, 710, 1024, 752}},
      {{2500, 1100, 2540, 1116}, 120, 108, S2, {2440, 992, 2560, 1100}},   // second screen
      {{1300, 110, 1340, 126}, 120, 108, S2, {1300, 126, 1420, 234}},
      {{100, 1000, 160, 1016}, 120, 108, TRect{0, 0, 0, 0}, {100, 1016, 220, 1124}},  // no screen known
  };
  for (const TCase& C : Cases) {
    const TRect R = ListEditorBounds(C.Anchor, C.W, C.H, C.Screen);
    EXPECT_EQ(R.Left, C.Want.Left) << C.Anchor.Left << "," << C.Anchor.Top;
    EXPECT_EQ(R.Top, C.Want.Top) << C.Anchor.Left << "," << C.Anchor.Top;
    EXPECT_EQ(R.Right, C.Want.Right) << C.Anchor.Left << "," << C.Anchor.Top;
    EXPECT_EQ(R.Bottom, C.Want.Bottom) << C.Anchor.Left << "," << C.Anchor.Top;
  }
}

// A floating text editor is moved onto the screen and kept no wider than it.
TEST(ListEditorPlace, TextEditorsStayOnTheScreen) {
  const TRect S{0, 0, 1280, 1024};
  EXPECT_EQ(EditorBoundsOnScreen({100, 100, 164, 121}, S), (TRect{100, 100, 164, 121}));
  EXPECT_EQ(EditorBoundsOnScreen({1216, 100, 1280, 121}, S), (TRect{1216, 100, 1280, 121}));  // touches the edge
  EXPECT_EQ(EditorBoundsOnScreen({1275, 100, 1339, 121}, S), (TRect{1216, 100, 1280, 121}));
  EXPECT_EQ(EditorBoundsOnScreen({1276, 1010, 1480, 1031}, S), (TRect{1076, 1003, 1280, 1024}));
  EXPECT_EQ(EditorBoundsOnScreen({-5, -2, 59, 19}, S), (TRect{0, 0, 64, 21}));
  EXPECT_EQ(EditorBoundsOnScreen({10, 10, 1500, 31}, S), (TRect{0, 10, 1280, 31}));
  EXPECT_EQ(EditorBoundsOnScreen({1275, 100, 1339, 121}, {1280, 0, 2560, 1024}), (TRect{1280, 100, 1344, 121}));
  EXPECT_EQ(EditorBoundsOnScreen({1275, 100, 1339, 121}, {0, 0, 0, 0}), (TRect{1275, 100, 1339, 121}));
}

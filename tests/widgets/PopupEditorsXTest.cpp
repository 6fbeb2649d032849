// The tree's popup editors under a real X server, driven by keys and clicks sent through XTest,
// next to Qt's own controls given the same keys: the masked editor types as a Qt line editor
// with the same mask, the choice list moves as a Qt list, and the number editor's buttons step
// and repeat. The test starts its own Xvfb and skips only when Xvfb is not installed.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QDateEdit>
#include <QGuiApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QWidget>
#include <QWindow>
#include <memory>
#include <string>
#include <vector>

#include "platform/Forms.h"
#include "tests/common/XServer.h"
#include "widgets/HtmlTreeView.h"

using namespace widgets;
using namespace platform;

namespace {

const bool gHaveX = kdtest::StartPrivateXServer();

using kdtest::Settle;
using kdtest::WaitFor;

QWidget* Wd(const TControl* C) { return static_cast<QWidget*>(C->WidgetHandle()); }

constexpr unsigned long XK_Shift_L = 0xFFE1;
constexpr unsigned long XK_Home = 0xFF50, XK_Up = 0xFF52, XK_Down = 0xFF54, XK_Page_Down = 0xFF56, XK_End = 0xFF57;

class EditorsUnderX : public ::testing::Test {
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
    Tree->SetBounds(0, 0, 400, 200);
    Node = Tree->Items()->Add(nullptr, "row");
    Form->Show();
    ASSERT_TRUE(WaitFor([&] { return Wd(Form.get())->windowHandle() && Wd(Form.get())->windowHandle()->isExposed(); }));
    Settle();
  }
  void TearDown() override {
    if (!gHaveX) return;
    Form.reset();
    Settle();
  }
  std::string Value(const std::string& Href) {
    std::string V;
    GetAnchorValue(Node->Text(), Href, V);
    return V;
  }
  // Opens the editor of the node's only parameter by a click on it.
  void Open(const std::string& AnchorText, TWinControl* Editor) {
    Node->SetText("p " + AnchorText);
    Settle();
    const TRect Row = Tree->RowRect(Node);
    for (int X = 0; X < Tree->Width(); ++X)
      if (!Tree->HitTest(Node, X, Row.Top + Row.Height() / 2).Href.empty()) {
        Click(Wd(Tree), X + 2, Row.Top + Row.Height() / 2);
        ASSERT_TRUE(WaitFor([&] { return Editor->Visible() && Editor->Focused(); }));
        return;
      }
    FAIL() << "no anchor in " << AnchorText;
  }
  void Click(QWidget* W, int X, int Y) {
    Press(W, X, Y);
    In.Button(1, false);
    Settle();
  }
  void Press(QWidget* W, int X, int Y) {
    const QPoint P = W->mapToGlobal(QPoint(X, Y));
    In.MoveTo(P.x(), P.y());
    Settle();
    In.Button(1, true);
    Settle();
  }
  void Stroke(unsigned long Keysym) {
    const bool Shift = Keysym < 0x100 && In.Shifted(Keysym);
    if (Shift) In.Key(XK_Shift_L, true);
    In.Key(Keysym, true);
    In.Key(Keysym, false);
    if (Shift) In.Key(XK_Shift_L, false);
    Settle();
  }
  // Each character by the key the layout has for it (Latin-1 keysyms are the characters);
  // control characters stand for Home (^A), Left (^B), End (^E), Right (^F), Backspace and
  // Delete.
  void Type(const char* Text) {
    for (; *Text; ++Text) {
      switch (*Text) {
        case '\x01': Stroke(XK_Home); break;
        case '\x02': Stroke(0xFF51); break;
        case '\x05': Stroke(XK_End); break;
        case '\x06': Stroke(0xFF53); break;
        case '\b': Stroke(0xFF08); break;
        case '\x7f': Stroke(0xFFFF); break;
        default: Stroke(static_cast<unsigned char>(*Text)); break;
      }
    }
  }

  kdtest::TXInput In;
  std::unique_ptr<TForm> Form;
  THtmlTreeView* Tree = nullptr;
  TTreeNode* Node = nullptr;
};

}  // namespace

// The masked editor keeps what a Qt line editor with the same mask keeps, given the same keys
// (Qt's mask writes our optional digit "9" as "0" and our required "0" as "9"), and a ";"
// literal, which Qt's masks cannot hold, types as any other literal.
TEST_F(EditorsUnderX, TheMaskedEditorTypesAsQtsOwn) {
  struct {
    const char *Mask, *QtMask, *Keys, *Want;
  } const Cases[] = {{"999-000", "000-999;_", "12-345", "12-345"}, {"!99:00", "00:99;_", "5:30", "5:30"},
                     {"99.99.99", "00.00.00;_", "1..2", "1.2."},    {"000-000", "999-999;_", "12-345", "12-345"},
                     {"00-00:00", "99-99:99;_", "1:2", "1-:2"},    {"00-00:00", "99-99:99;_", "1234", "12-34:"},
                     {"&gt;ll-00", ">aa-99;_", "ab12", "AB-12"},        {"00\\;00", nullptr, "1234", "12;34"},
                     {"99\\;99", nullptr, "1;2", "1;2"},
                     // Keys that move and delete (Home, Right, End, Left, Backspace, Delete).
                     {"00-00", "99-99;_", "1234\x01\x06" "9", "19-34"},  {"00-00", "99-99;_", "1234\b\b", "12-"},
                     {"00-00", "99-99;_", "1234\x01\x7f\x7f", "2-34"},     {"00-00", "99-99;_", "1234\x01" "56", "56-34"},
                     {"00-00", "99-99;_", "12\x05\x02\b" "7", "12-7"}};
  TPopupMaskEdit* Edit = Tree->MaskEditControl();
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Mask);
    if (C.QtMask) {
      QLineEdit Qt;
      Qt.setInputMask(C.QtMask);
      Qt.setGeometry(600, 600, 120, 24);
      Qt.show();
      ASSERT_TRUE(WaitFor([&] { return Qt.windowHandle() && Qt.windowHandle()->isExposed(); }));
      Click(&Qt, 5, 5);
      ASSERT_TRUE(WaitFor([&] { return Qt.hasFocus(); }));
      Qt.setCursorPosition(0);
      Type(C.Keys);
      EXPECT_EQ(Qt.text().toStdString(), C.Want);
    }
    Open(std::string("<A href=\"m\" class=\"MASK\" props=\"") + C.Mask + "\">?</A>", Edit);
    Type(C.Keys);
    Stroke(kdtest::TXInput::XK_Return);
    EXPECT_FALSE(Edit->Visible());
    EXPECT_EQ(Value("m"), C.Want);
  }
}

// The choice list moves on the keys as a Qt list of the same items does, from the same item.
// (A letter typed again goes on to the next item beginning with it, which Qt's list, searching
// for the letters typed together, does not do.)
TEST_F(EditorsUnderX, TheChoiceListAnswersTheKeysAQtListDoes) {
  const std::vector<std::vector<unsigned long>> Cases = {
      {'c'}, {XK_End}, {XK_End, XK_Home}, {'b', XK_Down}, {XK_End, XK_Up}, {'d'}, {XK_Page_Down}, {'z'}};
  TPopupListBox* List = Tree->ListControl();
  for (const auto& Keys : Cases) {
    SCOPED_TRACE(Keys.front());
    QListWidget Qt;
    Qt.addItems({"appel", "banaan", "citroen", "druif", "druif 2"});
    Qt.setGeometry(600, 600, 120, 5 * Qt.sizeHintForRow(0) + 2 * Qt.frameWidth());
    Qt.show();
    ASSERT_TRUE(WaitFor([&] { return Qt.windowHandle() && Qt.windowHandle()->isExposed(); }));
    Click(Qt.viewport(), 5, 5);
    ASSERT_TRUE(WaitFor([&] { return Qt.hasFocus(); }));
    Qt.setCurrentRow(0);
    for (unsigned long K : Keys) Stroke(K);
    const std::string Want = Qt.currentItem()->text().toStdString();
    Open("<A href=\"l\" class=\"LIST\" props=\"appel|banaan|citroen|druif|druif 2\">appel</A>", List);
    for (unsigned long K : Keys) Stroke(K);
    Stroke(kdtest::TXInput::XK_Return);
    EXPECT_FALSE(List->Visible());
    EXPECT_EQ(Value("l"), Want);
  }
  // Escape leaves the parameter as it was, whatever the keys chose.
  Open("<A href=\"l\" class=\"LIST\" props=\"appel|banaan|citroen\">appel</A>", List);
  Stroke(XK_End);
  Stroke(kdtest::TXInput::XK_Escape);
  EXPECT_FALSE(List->Visible());
  EXPECT_EQ(Value("l"), "appel");
}

// Clicks on the number editor's buttons step its value; a held button repeats until released.
TEST_F(EditorsUnderX, TheNumberEditorsButtonsStepAndRepeat) {
  TPopupSpinEdit* Spin = Tree->SpinEditControl();
  Open("<A href=\"s\" class=\"SPIN\">7</A>", Spin);
  QWidget* W = Wd(Spin);
  const int X = Spin->Width() - 5;
  Click(W, X, 3);
  EXPECT_EQ(Spin->Text(), "8");
  Click(W, X, Spin->Height() - 3);
  Click(W, X, Spin->Height() - 3);
  EXPECT_EQ(Spin->Text(), "6");
  EXPECT_TRUE(Spin->Visible());
  EXPECT_TRUE(Spin->Focused());
  Press(W, X, 3);
  EXPECT_TRUE(WaitFor([&] { return Spin->Value() >= 10; }));
  In.Button(1, false);
  Settle();
  const std::string Held = Spin->Text();
  Stroke(kdtest::TXInput::XK_Return);
  EXPECT_EQ(Value("s"), Held);
}

// A list of more choices than it shows scrolls under the wheel and by its scroll bar, which
// leaves it open; a click on an item then chooses that item.
TEST_F(EditorsUnderX, ALongChoiceListScrollsAndStaysOpen) {
  TPopupListBox* List = Tree->ListControl();
  Open("<A href=\"l\" class=\"LIST\" props=\"1|2|3|4|5|6|7|8|9|10|11|12\">1</A>", List);
  ASSERT_TRUE(List->HasVerticalScrollBar());
  EXPECT_EQ(List->TopIndex(), 0);
  const QPoint Mid = Wd(List)->mapToGlobal(QPoint(5, List->Height() / 2));
  In.MoveTo(Mid.x(), Mid.y());
  Settle();
  In.Button(5, true);  // the wheel turned towards the user
  In.Button(5, false);
  EXPECT_TRUE(WaitFor([&] { return List->TopIndex() == 3; }));
  EXPECT_TRUE(List->Visible());
  // The bar's lower arrow, then its upper one.
  Click(Wd(List), List->Width() - 4, List->Height() - 4);
  EXPECT_EQ(List->TopIndex(), 4);
  EXPECT_TRUE(List->Visible());
  Click(Wd(List), List->Width() - 4, 4);
  EXPECT_EQ(List->TopIndex(), 3);
  EXPECT_TRUE(List->Visible());
  Click(Wd(List), 5, List->ItemHeight() / 2 + 2);  // the first row in sight: "4"
  EXPECT_FALSE(List->Visible());
  EXPECT_EQ(Value("l"), "4");
}

// The date picker changes its fields on the keys as a Qt date edit of the same format does
// (with wrapping on, as the platform's picker goes round within a field), from the same value
// and the day selected. (Left and Right go to the next field, as the platform's picker does;
// Qt's move the caret by a character; a separator typed after a field that went on by itself
// is the one passed, where Qt goes on once more and loses what is typed next.) A click on the
// year selects it.
TEST_F(EditorsUnderX, TheDatePickerAnswersTheKeysAQtDateEditDoes) {
  constexpr unsigned long XK_Page_Up = 0xFF55;
  const std::vector<std::vector<unsigned long>> Cases = {{XK_Up},          {XK_Down},
                                                         {XK_Page_Up},     {XK_Page_Down},
                                                         {'1', '5', '4'},  {'2', '9', XK_Up},
                                                         {'3', '-', XK_Down, XK_Down},
                                                         {'3', '5'},       {'3', '-', '1', '3'}};
  TPopupDatePicker* Picker = Tree->DateControl();
  for (const auto& Keys : Cases) {
    SCOPED_TRACE(Keys.front());
    QDateEdit Qt(QDate(2026, 1, 31));
    Qt.setDisplayFormat("d-M-yyyy");
    Qt.setWrapping(true);
    Qt.setGeometry(600, 600, 120, 24);
    Qt.show();
    ASSERT_TRUE(WaitFor([&] { return Qt.windowHandle() && Qt.windowHandle()->isExposed(); }));
    Click(&Qt, 5, 5);
    ASSERT_TRUE(WaitFor([&] { return Qt.hasFocus(); }));
    Qt.setSelectedSection(QDateTimeEdit::DaySection);
    for (unsigned long K : Keys) Stroke(K);
    const std::string Want = Qt.date().toString("d-M-yyyy").toStdString();
    Open("<A href=\"d\" class=\"DATE\">31-1-2026</A>", Picker);
    for (unsigned long K : Keys) Stroke(K);
    Stroke(kdtest::TXInput::XK_Return);
    EXPECT_FALSE(Picker->Visible());
    EXPECT_EQ(Value("d"), Want);
  }
  Open("<A href=\"d\" class=\"DATE\">31-1-2026</A>", Picker);
  Click(Wd(Picker), Picker->ButtonRect().Left - 3, Picker->Height() / 2);
  EXPECT_EQ(Picker->Field(), 2);
  Stroke(XK_Up);
  Stroke(kdtest::TXInput::XK_Return);
  EXPECT_EQ(Value("d"), "31-1-2027");
}

// The masked editor's right-click menu opens over it and leaves it open; its Paste takes a ";"
// literal as typing does.
TEST_F(EditorsUnderX, TheMaskedEditorsMenuPastesAndKeepsItOpen) {
  TPopupMaskEdit* Edit = Tree->MaskEditControl();
  Open("<A href=\"m\" class=\"MASK\" props=\"99\\;99\">?</A>", Edit);
  QGuiApplication::clipboard()->setText("1;2");
  const QPoint P = Wd(Edit)->mapToGlobal(QPoint(5, Edit->Height() / 2));
  In.MoveTo(P.x(), P.y());
  Settle();
  In.Button(3, true);
  In.Button(3, false);
  ASSERT_TRUE(WaitFor([&] { return QApplication::activePopupWidget() != nullptr; }));
  EXPECT_TRUE(Edit->Visible());
  Stroke('p');  // the menu's Paste
  ASSERT_TRUE(WaitFor([&] { return QApplication::activePopupWidget() == nullptr; }));
  EXPECT_TRUE(Edit->Visible());
  EXPECT_TRUE(Edit->Focused());
  Stroke(kdtest::TXInput::XK_Return);
  EXPECT_EQ(Value("m"), "1;2");
}

// Opening a text, masked or number editor selects its whole value, as the platform's edits do
// when they take the focus: typing replaces it, while a key that moves the caret keeps it.
TEST_F(EditorsUnderX, OpeningSelectsTheValueSoTypingReplacesIt) {
  struct {
    const char *Anchor, *Keys, *Want;
    TWinControl* Editor;
  } const Cases[] = {{"<A href=\"v\" class=\"EDIT\">abc</A>", "xy", "xy", Tree->EditControl()},
                     {"<A href=\"v\" class=\"EDIT\">abc</A>", "\x05x", "abcx", Tree->EditControl()},
                     {"<A href=\"v\" class=\"SPIN\">42</A>", "7", "7", Tree->SpinEditControl()},
                     {"<A href=\"v\" class=\"MASK\" props=\"00-00\">12-34</A>", "56", "56-", Tree->MaskEditControl()},
                     {"<A href=\"v\" class=\"MASK\" props=\"00-00\">12-34</A>", "\x05\b9", "12-39", Tree->MaskEditControl()}};
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Anchor);
    Open(C.Anchor, C.Editor);
    Type(C.Keys);
    Stroke(kdtest::TXInput::XK_Return);
    EXPECT_EQ(Value("v"), C.Want);
  }
}

// The date picker's button drops a month calendar whose keys choose a day; Escape there closes
// only the calendar, and the picker stays open with the focus.
TEST_F(EditorsUnderX, TheDatePickersCalendarChoosesADay) {
  TPopupDatePicker* Picker = Tree->DateControl();
  Open("<A href=\"d\" class=\"DATE\">31-1-2026</A>", Picker);
  const TRect B = Picker->ButtonRect();
  Click(Wd(Picker), (B.Left + B.Right) / 2, (B.Top + B.Bottom) / 2);
  ASSERT_TRUE(WaitFor([&] { return Picker->DroppedDown(); }));
  EXPECT_TRUE(Picker->Visible());
  Stroke(0xFF53);  // Right: the next day
  Stroke(kdtest::TXInput::XK_Return);
  ASSERT_TRUE(WaitFor([&] { return !Picker->DroppedDown(); }));
  EXPECT_TRUE(Picker->Visible());
  EXPECT_EQ(Picker->Text(), "1-2-2026");
  In.Key(kdtest::TXInput::XK_Alt_L, true);
  Stroke(XK_Down);
  In.Key(kdtest::TXInput::XK_Alt_L, false);
  ASSERT_TRUE(WaitFor([&] { return Picker->DroppedDown(); }));
  Stroke(XK_Down);  // a week later, left by Escape
  Stroke(kdtest::TXInput::XK_Escape);
  ASSERT_TRUE(WaitFor([&] { return !Picker->DroppedDown(); }));
  EXPECT_TRUE(Picker->Visible());
  EXPECT_TRUE(WaitFor([&] { return Picker->Focused(); }));
  Stroke(kdtest::TXInput::XK_Return);
  EXPECT_FALSE(Picker->Visible());
  EXPECT_EQ(Value("d"), "1-2-2026");
}

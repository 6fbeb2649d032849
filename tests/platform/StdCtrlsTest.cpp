// The input controls and the date helpers behind the popup editors.
#include "platform/StdCtrls.h"

#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QInputMethodEvent>

#include "platform/Exceptions.h"
#include "tests/platform/GuiTestEvents.h"

using namespace platform;

namespace {

TEST(DateUtils, DutchShortFormatsRoundTrip) {
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
  EXPECT_EQ(EncodeDate(2026, 12, 6), 46362.0);
  EXPECT_EQ(DateToStr(EncodeDate(2026, 3, 7)), "7-3-2026");
  EXPECT_EQ(TimeToStr(EncodeTime(9, 5, 0, 0)), "9:05:00");
  EXPECT_EQ(TimeToStr(EncodeTime(23, 59, 59, 999)), "23:59:59");
  TDateTime v = 0;
  EXPECT_TRUE(TryStrToDate("29-2-2024", v));
  EXPECT_EQ(DateToStr(v), "29-2-2024");
  EXPECT_TRUE(TryStrToDate("1/1/99", v));
  EXPECT_EQ(DateToStr(v), "1-1-1999");
  for (const char* bad : {"", "29-2-2023", "1-13-2020", "a-b-c", "1--2020", "1-2", "99999999-1-1"})
    EXPECT_FALSE(TryStrToDate(bad, v)) << bad;
  EXPECT_TRUE(TryStrToTime("7:30", v));
  EXPECT_EQ(TimeToStr(v), "7:30:00");
  for (const char* bad : {"", "24:00", "1:60", "x", "1:2:3:4"}) EXPECT_FALSE(TryStrToTime(bad, v)) << bad;
  try {
    StrToDate("soon");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message, "'soon' is not a valid date");
  }
  EXPECT_THROW(StrToTime("later"), EConvertError);
  int32_t y, m, d;
  DecodeDate(EncodeDate(1600, 1, 1), y, m, d);
  EXPECT_EQ(y * 10000 + m * 100 + d, 16000101);
}

TEST(Edits, TypingBackspaceAndSelectAll) {
  TEdit e(nullptr);
  std::vector<std::string> changes;
  e.OnChange = [&](TObject*) { changes.push_back(e.Text()); };
  guitest::Key(&e, Qt::Key_unknown, Qt::NoModifier, "a");
  guitest::Key(&e, Qt::Key_unknown, Qt::NoModifier, QString::fromUtf8("\xC3\xA9"));
  EXPECT_EQ(e.Text(), "a\xC3\xA9");
  guitest::Key(&e, Qt::Key_Backspace, Qt::NoModifier, "\b");
  EXPECT_EQ(e.Text(), "a");
  e.SelectAll();
  guitest::Key(&e, Qt::Key_unknown, Qt::NoModifier, "z");
  EXPECT_EQ(e.Text(), "z");
  EXPECT_EQ(changes, (std::vector<std::string>{"a", "a\xC3\xA9", "a", "z"}));

  // Keys edit at the caret.
  e.SetText("abcdef");
  guitest::Key(&e, Qt::Key_End);
  guitest::Key(&e, Qt::Key_Left);
  guitest::Key(&e, Qt::Key_Left);
  guitest::Key(&e, Qt::Key_X, Qt::NoModifier, "x");
  EXPECT_EQ(e.Text(), "abcdxef");
  guitest::Key(&e, Qt::Key_Home);
  guitest::Key(&e, Qt::Key_Delete);
  guitest::Key(&e, Qt::Key_Y, Qt::NoModifier, "y");
  EXPECT_EQ(e.Text(), "ybcdxef");
  guitest::Key(&e, Qt::Key_Backspace, Qt::NoModifier, "\b");
  EXPECT_EQ(e.Text(), "bcdxef");
  // Shift selects; a typed character replaces the selection.
  guitest::Key(&e, Qt::Key_Right);
  guitest::Key(&e, Qt::Key_End, Qt::ShiftModifier);
  guitest::Key(&e, Qt::Key_Z, Qt::NoModifier, "z");
  EXPECT_EQ(e.Text(), "bz");
  // Ctrl+A, C, V and X through the clipboard.
  guitest::Key(&e, Qt::Key_A, Qt::ControlModifier, "\x01");
  EXPECT_TRUE(e.AllSelected());
  guitest::Key(&e, Qt::Key_C, Qt::ControlModifier, "\x03");
  guitest::Key(&e, Qt::Key_End);
  guitest::Key(&e, Qt::Key_V, Qt::ControlModifier, "\x16");
  EXPECT_EQ(e.Text(), "bzbz");
  guitest::Key(&e, Qt::Key_A, Qt::ControlModifier, "\x01");
  guitest::Key(&e, Qt::Key_X, Qt::ControlModifier, "\x18");
  EXPECT_EQ(e.Text(), "");
  EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), "bzbz");
  // Handlers come first: a key taken in KeyDown never moves the caret, a character changed in
  // KeyPress is typed as changed, and composed characters reach KeyPress too.
  e.SetText("ab");
  std::vector<TKeyChar> pressed;
  e.OnKeyDown = [](TObject*, Word& k, TShiftState) {
    if (k == VK_HOME) k = 0;
  };
  e.OnKeyPress = [&](TObject*, TKeyChar& k) {
    pressed.push_back(k);
    if (k == 'q') k = 'Q';
  };
  guitest::Key(&e, Qt::Key_Home);
  guitest::Key(&e, Qt::Key_Q, Qt::NoModifier, "q");
  QInputMethodEvent composed;
  composed.setCommitString(QString::fromUtf8("\xC3\xAB"));  // e with diaeresis, from a dead key
  QApplication::sendEvent(guitest::W(&e)->focusProxy(), &composed);
  EXPECT_EQ(e.Text(), "abQ\xC3\xAB");
  EXPECT_EQ(pressed, (std::vector<TKeyChar>{'q', 0xEB}));
  // Long texts are kept whole; pasting keeps only characters the edit takes, as typing does.
  e.SetText(std::string(40000, 'w'));
  EXPECT_EQ(e.Text().size(), 40000u);
  e.SetText("a");
  QGuiApplication::clipboard()->setText("b\nc\td");
  guitest::Key(&e, Qt::Key_End);
  guitest::Key(&e, Qt::Key_V, Qt::ControlModifier, "\x16");
  EXPECT_EQ(e.Text(), "abcd");
  TSpinEdit s(nullptr);
  QGuiApplication::clipboard()->setText("x-1y2");
  guitest::Key(&s, Qt::Key_A, Qt::ControlModifier, "\x01");
  guitest::Key(&s, Qt::Key_V, Qt::ControlModifier, "\x16");
  EXPECT_EQ(s.Text(), "-12");
  s.SetText(" 7 ");  // what the program set stays, around what is pasted
  guitest::Key(&s, Qt::Key_Home);
  guitest::Key(&s, Qt::Key_Right);
  guitest::Key(&s, Qt::Key_V, Qt::ControlModifier, "\x16");
  EXPECT_EQ(s.Text(), " -127 ");
}

TEST(MaskEdit, MaskCharactersCaseLiteralsAndBadMasks) {
  TMaskEdit m(nullptr);
  auto type = [&](const char* text) {
    for (const char* c = text; *c; ++c) guitest::Key(&m, Qt::Key_unknown, Qt::NoModifier, QString(QChar(*c)));
  };
  // Capitals from ">", the caret past the literal, "*" as the blank.
  m.SetEditMask("!>LL-00;1;*");
  m.SetText("");
  type("a");
  EXPECT_EQ(m.Text(), "A-");
  type("1b2x3");  // a digit where a letter belongs and a letter where a digit does are refused
  EXPECT_EQ(m.Text(), "AB-23");
  // Literals that mean something in Qt's masks stay literals; "\\" escapes a mask character.
  m.SetEditMask("D\\0#a");
  m.SetText("");
  type("7-q");
  EXPECT_EQ(m.Text(), "D07q");  // "-" fits neither "#" (taken by 7) nor "a"
  // "9" and "c" may stay blank.
  m.SetEditMask("99c");
  m.SetText("");
  type("5");
  EXPECT_EQ(m.Text(), "5");
  // Malformed masks neither crash nor hang; what cannot be a mask takes any text.
  for (const char* bad : {"\\", "0\\", ";;;;", "\\;", ">", "<>", "\xFF\xFE" "0", ";1;"}) {
    m.SetEditMask(bad);
    m.SetText("");
    type("1a");
    EXPECT_EQ(m.Text().find('_'), std::string::npos) << bad;  // never a blank in the text
  }
  m.SetEditMask("");
  m.SetText("");
  type("1a");
  EXPECT_EQ(m.Text(), "1a");
  // Typing goes on at the first blank input position, past a literal that looks like a blank.
  m.SetEditMask("00_00");
  m.SetText("12_3");
  type("4");
  EXPECT_EQ(m.Text(), "12_34");
  // A mask given up keeps the text, and the text may then be long again.
  m.SetEditMask("");
  EXPECT_EQ(m.Text(), "12_34");
  m.SetText(std::string(40000, '5'));
  EXPECT_EQ(m.Text().size(), 40000u);
}

TEST(SpinEdit, ValueNeverRaises) {
  TSpinEdit s(nullptr);
  EXPECT_EQ(s.Value(), 0);
  for (const char* t : {"", "abc", "12x", "99999999999", "-"}) {
    s.SetText(t);
    EXPECT_EQ(s.Value(), 0) << t;
  }
  s.SetText(" -42 ");
  EXPECT_EQ(s.Value(), -42);
  s.SetMinValue(0);
  s.SetMaxValue(10);
  s.SetValue(50);
  EXPECT_EQ(s.Text(), "10");
  s.SetText("2147483647");
  s.SetMaxValue(0);
  s.SetMinValue(0);
  guitest::Key(&s, Qt::Key_Up);
  EXPECT_EQ(s.Value(), 2147483647);  // no overflow
}

TEST(ListBox, ItemsSelectionAndSorting) {
  TListBox l(nullptr);
  l.SetItems({"b", "C", "a"});
  EXPECT_EQ(l.IndexOf("c"), 1);
  l.SetItemIndex(7);
  EXPECT_EQ(l.ItemIndex(), -1);
  l.SetSorted(true);
  EXPECT_EQ(l.Items(), (std::vector<std::string>{"a", "b", "C"}));
  guitest::Key(&l, Qt::Key_Down);
  EXPECT_EQ(l.ItemIndex(), 0);
}

}  // namespace

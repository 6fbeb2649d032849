// Line edit: keys, selection with Shift, clipboard commands, limits and case conversion.
#include <gtest/gtest.h>

#include "document/dtpLineEdit.h"
#include "platform/Clipboard.h"

using document::TdtpLineEdit;
using platform::ssShift;

namespace {

struct Edit {
  TdtpLineEdit e;
  int changes = 0;
  explicit Edit(const std::string& Text = "") {
    e.OnChange = [this](platform::TObject*) { ++changes; };
    e.SetText(Text);
    changes = 0;
  }
  void Down(uint16_t Key, platform::TShiftState Shift = 0) { e.KeyDown(Key, Shift); }
  void Press(char C) { e.KeyPress(C); }
  void Type(const std::string& S) {
    for (char c : S) Press(c);
  }
};

TEST(LineEditTest, SetTextPutsCaretAtEndAndAlwaysNotifies) {
  Edit t("abc");
  EXPECT_EQ(t.e.CaretPos(), 3);
  t.e.SetCaretPos(1);
  t.e.SetText("abc");  // unchanged: positions stay, handler still runs
  EXPECT_EQ(t.e.CaretPos(), 1);
  EXPECT_EQ(t.changes, 1);
  t.e.SelectAll();
  EXPECT_EQ(t.e.SelStart(), 0);
  EXPECT_EQ(t.e.SelLength(), 3);
  EXPECT_EQ(t.e.CaretPos(), 3);
  EXPECT_EQ(t.e.SelText(), "abc");
}

TEST(LineEditTest, ShiftHomeSelectsAndTypingReplaces) {
  Edit t("abc");
  t.Down(36, ssShift);
  EXPECT_EQ(t.e.SelStart(), 0);
  EXPECT_EQ(t.e.SelLength(), 3);
  EXPECT_EQ(t.e.CaretPos(), 0);
  t.Press('x');
  EXPECT_EQ(t.e.Text(), "x");
  EXPECT_EQ(t.e.CaretPos(), 1);
  EXPECT_EQ(t.e.SelLength(), 0);
}

TEST(LineEditTest, ShiftArrowsGrowShrinkAndReverseSelection) {
  Edit t("abcdef");
  t.Down(36);  // Home
  t.Down(39, ssShift);
  t.Down(39, ssShift);
  EXPECT_EQ(t.e.SelStart(), 0);
  EXPECT_EQ(t.e.SelLength(), 2);
  EXPECT_EQ(t.e.CaretPos(), 2);
  t.Down(37, ssShift);
  EXPECT_EQ(t.e.SelLength(), 1);
  t.Down(37, ssShift);
  EXPECT_EQ(t.e.CaretPos(), 0);
  EXPECT_EQ(t.e.SelLength(), 0);
  t.e.SetCaretPos(3);
  t.Down(37, ssShift);
  t.Down(37, ssShift);
  EXPECT_EQ(t.e.SelStart(), 1);
  EXPECT_EQ(t.e.SelLength(), 2);
  // Past the anchor the selection turns round.
  t.Down(39, ssShift);
  t.Down(39, ssShift);
  t.Down(39, ssShift);
  EXPECT_EQ(t.e.SelStart(), 3);
  EXPECT_EQ(t.e.SelLength(), 1);
  EXPECT_EQ(t.e.CaretPos(), 4);
  t.Down(37);
  t.Down(37);  // without Shift the selection goes
  EXPECT_EQ(t.e.SelLength(), 0);
  EXPECT_EQ(t.e.CaretPos(), 2);
  t.Down(35);
  EXPECT_EQ(t.e.CaretPos(), 6);
  t.Down(39);  // clamped at the end
  EXPECT_EQ(t.e.CaretPos(), 6);
  t.Down(38);  // Up without a handler is Left
  EXPECT_EQ(t.e.CaretPos(), 5);
  t.Down(40);
  EXPECT_EQ(t.e.CaretPos(), 6);
}

TEST(LineEditTest, BackspaceAndDelete) {
  Edit t("abc");
  t.e.SetCaretPos(0);
  t.Down(8);
  EXPECT_EQ(t.e.Text(), "abc");
  EXPECT_EQ(t.e.CaretPos(), 0);
  EXPECT_EQ(t.changes, 1);  // nothing changed, still reported
  t.Down(46);
  EXPECT_EQ(t.e.Text(), "bc");
  t.Down(35);
  t.Down(46);
  EXPECT_EQ(t.e.Text(), "bc");
  t.Down(8);
  EXPECT_EQ(t.e.Text(), "b");
  EXPECT_EQ(t.e.CaretPos(), 1);
  Edit s("hello");
  s.e.SetSelStart(1);
  s.e.SetSelLength(3);
  s.Down(46);
  EXPECT_EQ(s.e.Text(), "ho");
  EXPECT_EQ(s.e.CaretPos(), 1);
  EXPECT_EQ(s.e.SelLength(), 0);
}

TEST(LineEditTest, UnhandledKeysDoNothing) {
  Edit t("abc");
  t.Down(65);
  t.Down(112);
  EXPECT_EQ(t.changes, 0);
  t.Press(char(1));  // other control characters: nothing but a report
  EXPECT_EQ(t.e.Text(), "abc");
  EXPECT_EQ(t.changes, 1);
}

TEST(LineEditTest, EnterInsertsCarriageReturn) {
  Edit t("ab");
  t.e.SetCaretPos(1);
  t.Down(13);
  EXPECT_EQ(t.e.Text(), "a\rb");
  EXPECT_EQ(t.e.CaretPos(), 2);
}

TEST(LineEditTest, MaxLengthAndCaseMode) {
  Edit t;
  t.e.SetMaxLength(5);
  platform::Clipboard()->SetAsText("abcdefgh");
  t.Press(22);
  EXPECT_EQ(t.e.Text(), "abcde");
  EXPECT_EQ(t.e.CaretPos(), 5);
  t.Press('z');
  EXPECT_EQ(t.e.Text(), "abcde");
  Edit u;
  u.e.SetCaseMode(1);
  u.Type("ab");
  EXPECT_EQ(u.e.Text(), "AB");
  u.e.SetCaseMode(2);
  u.Type("CD");
  EXPECT_EQ(u.e.Text(), "ABcd");
}

TEST(LineEditTest, ClipboardCopyCutPaste) {
  Edit t("hello");
  t.e.SetSelStart(1);
  t.e.SetSelLength(2);
  t.Press(3);
  EXPECT_EQ(platform::Clipboard()->AsText(), "el");
  EXPECT_EQ(t.e.Text(), "hello");
  // Ctrl+X: the caret goes back by the selection length, the selection is removed.
  t.e.SetCaretPos(3);
  t.Press(24);
  EXPECT_EQ(t.e.Text(), "hlo");
  EXPECT_EQ(t.e.CaretPos(), 1);
  EXPECT_EQ(platform::Clipboard()->AsText(), "el");
  t.e.SetCaretPos(3);
  t.Press(22);
  EXPECT_EQ(t.e.Text(), "hloel");
  EXPECT_EQ(t.e.CaretPos(), 5);
}

TEST(LineEditTest, CaretHandlerAndHostileValuesAreClamped) {
  Edit t("abc");
  t.e.OnCaretKey = [](platform::TObject*, int32_t, uint16_t Key) { return Key == 40 ? INT32_MAX : INT32_MIN; };
  t.Down(40, ssShift);
  EXPECT_EQ(t.e.CaretPos(), 3);
  EXPECT_EQ(t.e.SelStart(), 3);
  EXPECT_EQ(t.e.SelLength(), 0);
  t.Down(38, ssShift);
  EXPECT_EQ(t.e.CaretPos(), 0);
  EXPECT_EQ(t.e.SelStart(), 0);
  EXPECT_EQ(t.e.SelLength(), 3);
  // Stale positions set from outside are clamped before inserting.
  t.e.SetCaretPos(100);
  t.e.SetSelStart(50);
  t.e.SetSelLength(-4);
  t.Press('d');
  EXPECT_EQ(t.e.Text(), "abcd");
  EXPECT_EQ(t.e.CaretPos(), 4);
  t.e.SetSelStart(-3);
  t.e.SetSelLength(99);
  EXPECT_EQ(t.e.SelText(), "");
  t.e.Normalize();
  EXPECT_EQ(t.e.SelStart(), 0);
  EXPECT_EQ(t.e.SelLength(), 4);
}

}  // namespace

// Line edit: keys, selection with Shift, clipboard commands, limits and case conversion.
#include <gtest/gtest.h>

#include <algorithm>

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
  void Press(char32_t C) {
    platform::TKeyChar k = C;
    e.KeyPress(k);
  }
  void Type(const std::string& S) {
    for (char32_t c : document::Utf8ToChars(S)) Press(c);
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
  // What does not fit is cut off what goes in, not off the text after the caret.
  t.Down(36);
  t.Press('z');
  EXPECT_EQ(t.e.Text(), "abcde");
  t.e.SetSelStart(1);
  t.e.SetSelLength(2);
  platform::Clipboard()->SetAsText("XYZ");
  t.Press(22);
  EXPECT_EQ(t.e.Text(), "aXYde");
  EXPECT_EQ(t.e.CaretPos(), 3);
  // The cut never parts a letter from its accent, nor an emoji from its skin tone.
  for (const auto& [text, kept] : {std::pair{"cafe\xCC\x81", "caf"}, {"abc\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD", "abc"}}) {
    Edit v;
    v.e.SetMaxLength(4);
    v.e.InsertText(text);
    EXPECT_EQ(v.e.Text(), kept);
  }
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

// A caret key that cannot move the caret (Left or Up at the start, Right or Down at the end)
// leaves the selection as it was.
TEST(LineEditTest, CaretKeysAtTheEndsSelectNothing) {
  for (uint16_t key : {37, 38}) {
    Edit t("abc");
    t.Down(36);
    t.Down(key, ssShift);
    EXPECT_EQ(t.e.CaretPos(), 0) << key;
    EXPECT_EQ(t.e.SelLength(), 0) << key;
    t.Press('x');
    EXPECT_EQ(t.e.Text(), "xabc") << key;
    // A selection made with Shift+Home keeps its size.
    Edit u("abc");
    u.Down(37);
    u.Down(37);
    u.Down(36, ssShift);
    ASSERT_EQ(u.e.SelLength(), 1);
    u.Down(key, ssShift);
    EXPECT_EQ(u.e.SelStart(), 0) << key;
    EXPECT_EQ(u.e.SelLength(), 1) << key;
    EXPECT_EQ(u.e.CaretPos(), 0) << key;
    u.Press('x');
    EXPECT_EQ(u.e.Text(), "xbc") << key;
  }
  for (uint16_t key : {39, 40}) {
    Edit t("abc");
    t.Down(key, ssShift);
    EXPECT_EQ(t.e.CaretPos(), 3) << key;
    EXPECT_EQ(t.e.SelLength(), 0) << key;
    t.Down(37);
    t.Down(35, ssShift);
    t.Down(key, ssShift);
    EXPECT_EQ(t.e.SelStart(), 2) << key;
    EXPECT_EQ(t.e.SelLength(), 1) << key;
    t.Press('x');
    EXPECT_EQ(t.e.Text(), "abx") << key;
  }
  // A caret handler answering -1 at the start (as the memo's does) is clamped the same way.
  Edit h("abc");
  h.e.OnCaretKey = [](platform::TObject*, int32_t Pos, uint16_t) { return Pos - 1; };
  h.e.SetCaretPos(0);
  h.Down(38, ssShift);
  EXPECT_EQ(h.e.SelLength(), 0);
  h.Press('x');
  EXPECT_EQ(h.e.Text(), "xabc");
}

// Ctrl+X leaves the caret where the cut text began, for a selection made either way.
TEST(LineEditTest, CutPutsTheCaretAtTheSelectionStart) {
  for (bool leftwards : {true, false}) {
    Edit t("abcdef");
    t.e.SetCaretPos(leftwards ? 4 : 2);
    t.Down(leftwards ? 37 : 39, ssShift);
    t.Down(leftwards ? 37 : 39, ssShift);
    ASSERT_EQ(t.e.SelText(), "cd");
    t.Press(24);
    EXPECT_EQ(platform::Clipboard()->AsText(), "cd");
    EXPECT_EQ(t.e.Text(), "abef");
    EXPECT_EQ(t.e.CaretPos(), 2) << leftwards;
    t.Press('Y');
    EXPECT_EQ(t.e.Text(), "abYef") << leftwards;
  }
  // Without a selection the caret stays.
  Edit t("abc");
  t.e.SetCaretPos(1);
  t.Press(24);
  EXPECT_EQ(t.e.Text(), "abc");
  EXPECT_EQ(t.e.CaretPos(), 1);
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

// Typed characters are whole code points: "é" and "€" arrive as one key each and count,
// move, select and delete as one character.
TEST(LineEditTest, MultiByteCharactersCountAsOne) {
  Edit t("caf");
  t.Type("é€");
  EXPECT_EQ(t.e.Text(), "caf\xC3\xA9\xE2\x82\xAC");
  EXPECT_EQ(t.e.Length(), 5);
  EXPECT_EQ(t.e.CaretPos(), 5);
  t.Down(8);  // backspace removes the whole "€"
  EXPECT_EQ(t.e.Text(), "caf\xC3\xA9");
  t.Down(37, ssShift);  // Shift+Left selects "é"
  EXPECT_EQ(t.e.SelStart(), 3);
  EXPECT_EQ(t.e.SelLength(), 1);
  EXPECT_EQ(t.e.SelText(), "\xC3\xA9");
  t.Type("ë");
  EXPECT_EQ(t.e.Text(), "caf\xC3\xAB");
  t.Down(36);
  t.Down(46);
  EXPECT_EQ(t.e.Text(), "af\xC3\xAB");
  // A length limit counts characters too.
  Edit m;
  m.e.SetMaxLength(3);
  m.Type("€€€€");
  EXPECT_EQ(m.e.Text(), "\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC");
  EXPECT_EQ(m.e.CaretPos(), 3);
}

// Every character a stored document holds enters the text, also those windows-1252 lacks
// (the page is then stored in UTF-16); the Dutch ij digraph is spelt out; control characters
// other than tab and line breaks never enter it.
TEST(LineEditTest, OnlyStorableCharactersAreInserted) {
  const struct {
    const char* typed;
    const char* expected;
  } cases[] = {
      {"\xC4\xB3s", "ijs"},                               // "ĳs"
      {"\xC4\xB2sselmeer", "IJsselmeer"},                 // "Ĳsselmeer"
      {"a\xCE\xA9" "b", "a\xCE\xA9" "b"},                  // Greek capital omega
      {"\xC5\x91\xCE\xB1\xD0\xB6\xE2\x82\xAC", "\xC5\x91\xCE\xB1\xD0\xB6\xE2\x82\xAC"},  // "őαж€"
      {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},           // an emoji
      {"\xE2\x80\x94\xE2\x82\xAC\xC3\xA9\xC3\xAB\xE2\x80\x9C", "\xE2\x80\x94\xE2\x82\xAC\xC3\xA9\xC3\xAB\xE2\x80\x9C"},
      {"a\x01\x1B\x7F\xC2\x85\xEF\xBF\xBE" "b", "ab"},     // controls and U+FFFE
  };
  for (const auto& c : cases) {
    Edit t;
    t.Type(c.typed);
    EXPECT_EQ(t.e.Text(), c.expected) << c.typed;
    EXPECT_EQ(t.e.CaretPos(), t.e.Length()) << c.typed;
    Edit p;
    p.e.InsertText(c.typed);  // pasting follows the same rule
    EXPECT_EQ(p.e.Text(), c.expected) << c.typed;
  }
  // Pasted tabs and line breaks stay; bytes that are no UTF-8 are left out.
  Edit p;
  p.e.InsertText("a\r\n\tb\xFF\xC3" "c");
  EXPECT_EQ(p.e.Text(), "a\r\n\tbc");
  // A surrogate or an out-of-range value as a key is no character.
  Edit bad;
  bad.Press(0xD800);
  bad.Press(0x110000);
  EXPECT_EQ(bad.e.Text(), "");
}

// Random keys against a model that keeps the text as code points: after every step the
// text, caret and selection agree and the text is valid UTF-8 of those characters.
TEST(LineEditTest, RandomEditingMatchesACodePointModel) {
  const char32_t alphabet[] = {U'a', U'b', U' ', U'\u00E9', U'\u00EB', U'\u20AC', U'\u2014', U'\u00C9'};
  uint32_t seed = 2024;
  auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
  for (int round = 0; round < 40; ++round) {
    Edit t;
    std::u32string model;
    int32_t caret = 0, selStart = 0, selLen = 0;
    std::string log;
    for (int step = 0; step < 60; ++step) {
      const uint32_t op = next() % 6;
      if (op <= 2) {
        const char32_t ch = alphabet[next() % 8];
        t.Press(ch);
        log += "type ";
        if (selLen > 0) {
          model.replace(size_t(selStart), size_t(selLen), 1, ch);
          caret = selStart + 1;
          selLen = 0;
        } else {
          model.insert(size_t(caret), 1, ch);
          ++caret;
        }
      } else if (op == 3) {
        t.Down(8);
        log += "bs ";
        if (selLen > 0) {
          model.erase(size_t(selStart), size_t(selLen));
          caret = selStart;
          selLen = 0;
        } else if (caret > 0) {
          model.erase(size_t(--caret), 1);
        }
      } else {
        const bool left = op == 4;
        t.Down(left ? 37 : 39, ssShift);
        log += left ? "sleft " : "sright ";
        const int32_t n = int32_t(model.size());
        const int32_t pos = std::clamp(caret + (left ? -1 : 1), 0, n);
        const int32_t d = pos - caret;
        int32_t start = selStart, len = selLen;
        if (len == 0) start = caret;
        if (caret == start) {
          start += d;
          len -= d;
        } else if (caret == start + len) {
          len += d;
        }
        if (len < 0) {
          start += len;
          len = -len;
        }
        caret = pos;
        selStart = std::clamp(start, 0, n);
        selLen = std::clamp(len, 0, n - selStart);
      }
      ASSERT_EQ(document::Utf8ToChars(t.e.Text()), model) << log;
      ASSERT_EQ(document::CharsToUtf8(model), t.e.Text()) << log;
      ASSERT_EQ(t.e.CaretPos(), caret) << log;
      ASSERT_EQ(t.e.SelStart(), selStart) << log;
      ASSERT_EQ(t.e.SelLength(), selLen) << log;
    }
  }
}

}  // namespace

// The input controls and the date helpers behind the popup editors.
#include "platform/StdCtrls.h"

#include <gtest/gtest.h>

#include <tuple>

#include <QClipboard>
#include <QGuiApplication>
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <functional>

#include "platform/Exceptions.h"
#include "platform/Graphics.h"
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

  // Keys edit at the caret, Shift selects, Ctrl+A, C, V and X use the clipboard.
  e.SetText("abcdef");
  guitest::Keys(&e, {Qt::Key_End, Qt::Key_Left, Qt::Key_Left, Qt::Key_X});
  EXPECT_EQ(e.Text(), "abcdxef");
  guitest::Keys(&e, {Qt::Key_Home, Qt::Key_Delete, Qt::Key_Y});
  EXPECT_EQ(e.Text(), "ybcdxef");
  guitest::Keys(&e, {Qt::Key_Backspace});
  EXPECT_EQ(e.Text(), "bcdxef");
  guitest::Keys(&e, {Qt::Key_Right});
  guitest::Keys(&e, {Qt::Key_End}, Qt::ShiftModifier);
  guitest::Keys(&e, {Qt::Key_Z});
  EXPECT_EQ(e.Text(), "bz");
  guitest::Key(&e, Qt::Key_A, Qt::ControlModifier, "\x01");
  EXPECT_TRUE(e.AllSelected());
  guitest::Key(&e, Qt::Key_C, Qt::ControlModifier, "\x03");
  guitest::Keys(&e, {Qt::Key_End});
  guitest::Key(&e, Qt::Key_V, Qt::ControlModifier, "\x16");
  EXPECT_EQ(e.Text(), "bzbz");
  guitest::Key(&e, Qt::Key_A, Qt::ControlModifier, "\x01");
  guitest::Key(&e, Qt::Key_X, Qt::ControlModifier, "\x18");
  EXPECT_EQ(e.Text(), "");
  EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), "bzbz");
  // Handlers come first: a key taken in KeyDown does nothing, KeyPress changes and sees composed text.
  e.SetText("ab");
  std::vector<TKeyChar> pressed;
  e.OnKeyDown = [](TObject*, Word& k, TShiftState) {
    if (k == VK_HOME) k = 0;
  };
  e.OnKeyPress = [&](TObject*, TKeyChar& k) {
    pressed.push_back(k);
    if (k == 'q') k = 'Q';
  };
  guitest::Keys(&e, {Qt::Key_Home, Qt::Key_Q});
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
  // Case, literals (also Qt's own), escapes, optional places, blanks; no mask takes any text.
  // A typed literal moves on to that literal, leaving the places before it blank (as Qt's own
  // masks do); an escaped ";" is a literal like any other.
  for (auto [mask, typed, want] : {std::tuple{"!>LL-00;1;*", "a", "A-"}, {"!>LL-00;1;*", "a1b2x3", "AB-23"},
                                   {"D\\0#a", "7-q", "D07q"}, {"99c", "5", "5"}, {"", "1a", "1a"},
                                   {"999-000", "12-345", "12-345"}, {"!99:00", "5:30", "5:30"},
                                   {"99-99:99", "1:2", "1-:2"}, {"99.99.99", "1..2", "1.2."},
                                   {"000-000", "12-345", "12-345"}, {"99-00:99", "1:2", "1-:2"},
                                   {"cc-00", "-1", "-1-"}, {"00\\;00", "1234", "12;34"},
                                   {"00\\;00;1;_", "12;34", "12;34"}, {"99\\;99", "1;2", "1;2"},
                                   {"cc\\;00", ";;12", ";;;12"}}) {
    m.SetEditMask(mask);
    m.SetText("");
    guitest::Type(&m, typed);
    EXPECT_EQ(m.Text(), want) << mask;
    // The same text set by the program, and pasted over everything, reads back unchanged.
    m.SetText("");
    m.SetText(want);
    EXPECT_EQ(m.Text(), want) << mask;
    QGuiApplication::clipboard()->setText(want);
    guitest::Key(&m, Qt::Key_A, Qt::ControlModifier, "\x01");
    guitest::Key(&m, Qt::Key_V, Qt::ControlModifier, "\x16");
    EXPECT_EQ(m.Text(), want) << mask;
  }
  // Malformed masks neither crash nor hang, and never leave a blank in the text.
  for (const char* bad : {"\\", "0\\", ";;;;", "\\;", ">", "<>", "\xFF\xFE" "0", ";1;"}) {
    m.SetEditMask(bad);
    m.SetText("");
    guitest::Type(&m, "1a");
    EXPECT_EQ(m.Text().find('_'), std::string::npos) << bad;
  }
  // Typing goes on at the first blank input position, past a literal that looks like a blank.
  m.SetEditMask("00_00");
  m.SetText("12_3");
  guitest::Type(&m, "4");
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

// The buttons at the right step the value as Up and Down do, within the limits; held down,
// the step repeats while the mouse stays on the button.
TEST(SpinEdit, ButtonsStepAndRepeat) {
  TSpinEdit s(nullptr);
  s.SetBounds(0, 0, 60, 22);
  s.Show();
  const TRect up = s.UpButtonRect(), down = s.DownButtonRect();
  EXPECT_EQ(up, (TRect{44, 1, 59, 11}));
  EXPECT_EQ(down, (TRect{44, 11, 59, 21}));
  struct TCase {
    const char* Text;
    int32_t Min, Max, Increment;
    int X, Y;
    const char* Want;
  };
  for (const TCase& c : {TCase{"7", 0, 0, 1, 50, 3, "8"}, {"7", 0, 0, 1, 50, 18, "6"}, {"7", 0, 0, 1, 44, 10, "8"},
                         {"7", 0, 0, 1, 44, 11, "6"}, {"7", 0, 0, 5, 58, 1, "12"}, {"7", 0, 8, 5, 50, 3, "8"},
                         {"7", 5, 9, 5, 50, 18, "5"}, {"7", 0, 0, 1, 40, 3, "7"}, {"x", 0, 0, 1, 50, 3, "1"},
                         {"2147483647", 0, 0, 1, 50, 3, "2147483647"}, {"-2147483648", 0, 0, 1, 50, 18, "-2147483648"}}) {
    s.SetMinValue(c.Min);
    s.SetMaxValue(c.Max);
    s.SetIncrement(c.Increment);
    s.SetText(c.Text);
    guitest::Press(&s, c.X, c.Y);
    guitest::Release(&s, c.X, c.Y);
    EXPECT_EQ(s.Text(), c.Want) << c.Text << " at " << c.X << "," << c.Y;
  }
  s.SetIncrement(1);
  s.SetText("7");
  guitest::Press(&s, 50, 3);
  EXPECT_TRUE(guitest::WaitFor([&] { return s.Value() >= 10; }));
  guitest::Move(&s, 50, 40, Qt::LeftButton);  // off the button: the steps pause
  const int32_t paused = s.Value();
  guitest::WaitFor([] { return false; }, 600);
  EXPECT_EQ(s.Value(), paused);
  guitest::Move(&s, 50, 3, Qt::LeftButton);
  EXPECT_TRUE(guitest::WaitFor([&] { return s.Value() > paused; }));
  guitest::Release(&s, 50, 3);
  const int32_t released = s.Value();
  guitest::WaitFor([] { return false; }, 600);
  EXPECT_EQ(s.Value(), released);
}

template <typename T>
struct TLeaving : T {
  using T::T;
  using T::DoExit;
};

// A button held while its edit is hidden, disabled or left gets no release: it lets go, rather
// than step the value the edit shows next (a popup editor reopened on the next value).
TEST(SpinEdit, AHeldButtonLetsGoWhenTheEditGoes) {
  TLeaving<TSpinEdit> s(nullptr);
  TLeaving<TDateTimePicker> p(nullptr);
  s.SetBounds(0, 0, 60, 22);
  p.SetBounds(0, 70, 100, 22);
  p.SetKind(dtkTime);
  const std::pair<TControl*, std::function<void()>> Ways[] = {
      {&s, [&] { s.Hide(); s.Show(); }}, {&s, [&] { s.SetEnabled(false); s.SetEnabled(true); }}, {&s, [&] { s.DoExit(); }},
      {&p, [&] { p.Hide(); p.Show(); }}, {&p, [&] { p.SetEnabled(false); p.SetEnabled(true); }}, {&p, [&] { p.DoExit(); }}};
  for (size_t i = 0; i < std::size(Ways); ++i) {
    const auto& [c, Go] = Ways[i];
    s.SetText("7");
    p.SetDateTime(EncodeTime(14, 5, 9, 0));
    c->Show();
    const std::string before = c->Text();
    guitest::Press(c, c->Width() - 5, 3);
    EXPECT_TRUE(guitest::WaitFor([&] { return c->Text() != before; }));
    Go();
    const std::string left = c->Text();
    guitest::WaitFor([] { return false; }, 600);
    EXPECT_EQ(c->Text(), left) << i;
    guitest::Release(c, c->Width() - 5, 3);
  }
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

// The keys a list box answers: the arrows, Home, End, a page up or down (a page less one row,
// so the last row seen stays in sight), and a typed character selects the next item beginning
// with it, in either case, round from the end.
TEST(ListBox, KeysMoveTheSelection) {
  TFakeTextMeasurer fake;
  TScopedTextMeasurer scope(&fake);
  TListBox l(nullptr);
  l.HandleNeeded();
  TFont f;
  f.SetHeight(-16);
  l.SetFont(&f);
  l.SetItems({"appel", "banaan", "citroen", "Cranberry", "druif", "\xC3\xA9\xC3\xA9n", "kers", "peer", "pruim", "zes"});
  l.SetHeight(4 * l.ItemHeight());  // four rows in sight
  struct TStep {
    int Start;
    int Key;
    const char* Text;
    int Want;
  };
  for (const TStep& t : {TStep{0, Qt::Key_C, "c", 2}, {2, Qt::Key_C, "c", 3}, {3, Qt::Key_C, "C", 2},
                         {9, Qt::Key_A, "a", 0}, {0, Qt::Key_unknown, "\xC3\x89", 5}, {0, Qt::Key_Q, "q", 0},
                         {-1, Qt::Key_B, "b", 1}, {0, Qt::Key_End, "", 9}, {9, Qt::Key_Home, "", 0},
                         {0, Qt::Key_PageDown, "", 3}, {8, Qt::Key_PageDown, "", 9}, {5, Qt::Key_PageUp, "", 2},
                         {1, Qt::Key_PageUp, "", 0}, {-1, Qt::Key_PageDown, "", 3}, {-1, Qt::Key_End, "", 9},
                         {4, Qt::Key_Up, "", 3}, {4, Qt::Key_Down, "", 5}}) {
    l.SetItemIndex(t.Start);
    guitest::Key(&l, t.Key, Qt::NoModifier, QString::fromUtf8(t.Text));
    EXPECT_EQ(l.ItemIndex(), t.Want) << t.Start << " " << t.Key << " " << t.Text;
  }
  // The selected row is kept in sight.
  guitest::Key(&l, Qt::Key_End);
  EXPECT_EQ(l.TopIndex(), 6);
  guitest::Key(&l, Qt::Key_Home);
  EXPECT_EQ(l.TopIndex(), 0);
  // The mouse: the wheel scrolls three rows a notch and the scroll bar follows; with the left
  // button held the selection follows the mouse.
  l.SetTopIndex(0);
  TScrollInfo info;
  info.fMask = SIF_ALL;
  ASSERT_TRUE(l.GetScrollInfo(SB_VERT, info));
  EXPECT_EQ(info.nMax, 9);
  EXPECT_EQ(info.nPage, 4u);
  EXPECT_TRUE(guitest::Wheel(&l, 5, 5, -120));
  EXPECT_EQ(l.TopIndex(), 3);
  guitest::Wheel(&l, 5, 5, -240);
  EXPECT_EQ(l.TopIndex(), 6);  // the last rows fill the list
  l.GetScrollInfo(SB_VERT, info);
  EXPECT_EQ(info.nPos, 6);
  guitest::Wheel(&l, 5, 5, 120);
  EXPECT_EQ(l.TopIndex(), 3);
  guitest::Press(&l, 5, 1);
  EXPECT_EQ(l.ItemIndex(), 3);
  guitest::Move(&l, 5, 2 * l.ItemHeight() + 1, Qt::LeftButton);
  EXPECT_EQ(l.ItemIndex(), 5);
  guitest::Release(&l, 5, 2 * l.ItemHeight() + 1);
  guitest::Move(&l, 5, 1);  // without the button nothing follows
  EXPECT_EQ(l.ItemIndex(), 5);
  // Dragged past the bottom or the top, the list scrolls a row a move.
  l.SetTopIndex(0);
  guitest::Press(&l, 5, 1);
  for (auto [y, index, top] : {std::tuple{l.ClientHeight() + 5, 4, 1}, {l.ClientHeight() + 5, 5, 2}, {-5, 1, 1}, {1, 1, 1}}) {
    guitest::Move(&l, 5, y, Qt::LeftButton);
    EXPECT_EQ(l.ItemIndex(), index) << y;
    EXPECT_EQ(l.TopIndex(), top) << y;
  }
  guitest::Release(&l, 5, 1);
  l.SetHeight(20 * l.ItemHeight());  // all in sight: no bar, nothing to scroll
  EXPECT_EQ(l.TopIndex(), 0);
  EXPECT_FALSE(guitest::Wheel(&l, 5, 5, -120));
  TListBox empty(nullptr);
  for (int k : {Qt::Key_End, Qt::Key_Home, Qt::Key_PageDown, Qt::Key_PageUp, Qt::Key_A}) {
    guitest::Key(&empty, k, Qt::NoModifier, k == Qt::Key_A ? "a" : "");
    EXPECT_EQ(empty.ItemIndex(), -1);
  }
}

// The line editor's own right-click menu, its action of that caption triggered.
void MenuAction(const TControl* c, const char* Caption) {
  QWidget* line = guitest::W(c)->focusProxy();
  QContextMenuEvent e(QContextMenuEvent::Mouse, QPoint(2, 2), line->mapToGlobal(QPoint(2, 2)));
  QApplication::sendEvent(line, &e);
  QMenu* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
  ASSERT_NE(menu, nullptr);
  for (QAction* a : menu->actions())
    if (a->text().startsWith(Caption)) a->trigger();
  menu->close();
}
void Drop(const TControl* c, const QString& Text) {
  QWidget* line = guitest::W(c)->focusProxy();
  QMimeData data;
  data.setText(Text);
  QDragEnterEvent enter(QPoint(2, 2), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(line, &enter);
  QDropEvent drop(QPoint(2, 2), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(line, &drop);
}

// Every way text comes in (Ctrl+V, Shift+Insert, the menu's Paste, a drop) and goes out (Ctrl+C,
// Ctrl+Insert, Ctrl+X, Shift+Delete, the menu's Copy and Cut) holds a ";" literal as ";", and
// undoing goes back to what was typed.
TEST(MaskEdit, EveryWayInAndOutKeepsTheSemicolon) {
  TMaskEdit m(nullptr);
  m.SetEditMask("99\\;99");
  QClipboard* cb = QGuiApplication::clipboard();
  auto key = [&m](int k, Qt::KeyboardModifiers mods, const char* text = "") {
    return [&m, k, mods, text] { guitest::Key(&m, k, mods, text); };
  };
  struct TWay {
    const char* Name;
    std::function<void()> Do;
    const char *Start, *Want, *Clipboard;
  };
  for (const TWay& w : {TWay{"ctrl+v", key(Qt::Key_V, Qt::ControlModifier, "\x16"), "", "1;2", "1;2"},
                        {"shift+insert", key(Qt::Key_Insert, Qt::ShiftModifier), "", "1;2", "1;2"},
                        {"menu paste", [&] { MenuAction(&m, "&Paste"); }, "", "1;2", "1;2"},
                        {"drop", [&] { Drop(&m, "1;2"); }, "", "1;2", "1;2"},
                        {"ctrl+c", key(Qt::Key_C, Qt::ControlModifier, "\x03"), "12;34", "12;34", "12;34"},
                        {"ctrl+insert", key(Qt::Key_Insert, Qt::ControlModifier), "12;34", "12;34", "12;34"},
                        {"menu copy", [&] { MenuAction(&m, "&Copy"); }, "12;34", "12;34", "12;34"},
                        {"ctrl+x", key(Qt::Key_X, Qt::ControlModifier, "\x18"), "12;34", "", "12;34"},
                        {"shift+delete", key(Qt::Key_Delete, Qt::ShiftModifier), "12;34", "", "12;34"},
                        {"menu cut", [&] { MenuAction(&m, "Cu&t"); }, "12;34", "", "12;34"}}) {
    m.SetText(w.Start);
    cb->setText("1;2");
    m.SelectAll();
    w.Do();
    EXPECT_EQ(m.Text(), w.Want) << w.Name;
    EXPECT_EQ(cb->text().toStdString(), w.Clipboard) << w.Name;
  }
  m.SetText("");
  guitest::Type(&m, "12;3");
  guitest::Key(&m, Qt::Key_Z, Qt::ControlModifier, "\x1a");
  EXPECT_EQ(m.Text(), "12;");
  // A mask holding U+037E itself beside a ";": each literal comes out as the mask has it, a
  // whole text or a part copied from its middle.
  m.SetEditMask("99\\;99\xCD\xBE" "99");
  for (const char* set : {"12;34;56", "12;34\xCD\xBE" "56"}) {
    m.SetText(set);
    EXPECT_EQ(m.Text(), "12;34\xCD\xBE" "56") << set;
    static_cast<QLineEdit*>(guitest::W(&m)->focusProxy())->setSelection(1, 6);
    guitest::Key(&m, Qt::Key_C, Qt::ControlModifier, "\x03");
    EXPECT_EQ(cb->text().toStdString(), "2;34\xCD\xBE" "5") << set;
  }
}

}  // namespace

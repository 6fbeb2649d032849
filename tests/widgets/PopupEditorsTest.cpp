// Key and focus semantics of the popup editors: Return reports and advances, Escape closes
// silently, and a focus loss reports once unless the editor was already closed.
#include "widgets/PopupEditors.h"

#include <gtest/gtest.h>

#include <QCalendarWidget>
#include <QGuiApplication>
#include <QImage>
#include <QLineEdit>
#include <QScreen>
#include <functional>
#include <tuple>

#include "platform/Graphics.h"
#include "tests/platform/GuiTestEvents.h"

using namespace platform;
using namespace widgets;

namespace {

template <typename T>
struct TProbe : T {
  using T::T;
  using T::DoExit;
};

template <typename T>
std::vector<std::string>& Wire(T& e, std::vector<std::string>& log) {
  e.Param = "p";
  e.Cancelled = false;
  e.OnValue = [&log](TObject*, const std::string& param, const std::string& v) { log.push_back(param + "=" + v); };
  e.OnAdvance = [&log](TObject*) { log.push_back("advance"); };
  e.OnCancel = [&log](TObject*) { log.push_back("cancel"); };
  e.Show();
  return log;
}

using V = std::vector<std::string>;

TEST(PopupEdit, ReturnReportsHidesThenAdvances) {
  TProbe<TPopupEdit> e(nullptr);
  EXPECT_FALSE(e.Visible());  // created hidden
  V log;
  Wire(e, log);
  e.SetText("abc");
  guitest::Key(&e, Qt::Key_Return, Qt::NoModifier, "\r");
  EXPECT_EQ(log, (V{"p=abc", "advance"}));
  EXPECT_FALSE(e.Visible());
  EXPECT_EQ(e.Text(), "abc");  // the Return character is not typed
  e.DoExit();                  // the focus loss after Return reports nothing more
  EXPECT_EQ(log.size(), 2u);
}

TEST(PopupEdit, EscapeThenFocusLossWritesNothing) {
  TProbe<TPopupEdit> e(nullptr);
  V log;
  Wire(e, log);
  e.SetText("typed");
  guitest::Key(&e, Qt::Key_Escape);
  e.DoExit();
  EXPECT_EQ(log, (V{"cancel"}));
  EXPECT_FALSE(e.Visible());
}

TEST(PopupEdit, FocusLossCommitsOnce) {
  TProbe<TPopupEdit> e(nullptr);
  V log;
  Wire(e, log);
  guitest::Key(&e, Qt::Key_X, Qt::NoModifier, "x");
  e.DoExit();
  e.DoExit();
  EXPECT_EQ(log, (V{"p=x"}));
}

TEST(PopupEdit, AutoSizeWidensToTheText) {
  TFakeTextMeasurer fake;
  TScopedTextMeasurer scope(&fake);
  TPopupEdit e(nullptr);
  TFont f;
  f.SetHeight(-16);
  e.SetFont(&f);
  e.SetWidth(40);
  e.SetText("abcdefgh");  // 64 pixels + 16, but auto size is off
  EXPECT_EQ(e.Width(), 40);
  e.SetAutoSize(true);
  e.SetText("abcdefghi");
  EXPECT_EQ(e.Width(), 9 * 8 + 16);
  e.SetText("a");  // never shrinks
  EXPECT_EQ(e.Width(), 9 * 8 + 16);
}

TEST(PopupSpinAndMask, KeysAndCharacters) {
  TProbe<TPopupSpinEdit> s(nullptr);
  V log;
  Wire(s, log);
  s.SetText("");
  guitest::Key(&s, Qt::Key_A, Qt::NoModifier, "a");  // not a digit
  guitest::Key(&s, Qt::Key_4, Qt::NoModifier, "4");
  guitest::Key(&s, Qt::Key_Up);
  guitest::Key(&s, Qt::Key_Return, Qt::NoModifier, "\r");
  EXPECT_EQ(log, (V{"p=5", "advance"}));

  TProbe<TPopupMaskEdit> m(nullptr);
  V mlog;
  Wire(m, mlog);
  m.SetEditMask("00-L;1;_");
  m.SetText("");
  for (const char* c : {"1", "x", "2", "-", "q", "9"}) guitest::Key(&m, Qt::Key_unknown, Qt::NoModifier, c);
  EXPECT_EQ(m.Text(), "12-q");
  guitest::Key(&m, Qt::Key_Escape);
  EXPECT_EQ(mlog, (V{"cancel"}));

  // The caret skips literals while typing; keys edit at the caret, over the blanks.
  m.Show();
  m.Cancelled = false;
  m.SetEditMask("00-00");
  m.SetText("");
  EXPECT_EQ(m.Text(), "");  // nothing typed: no literals either
  guitest::Type(&m, "1234");
  EXPECT_EQ(m.Text(), "12-34");
  guitest::Keys(&m, {Qt::Key_Home, Qt::Key_Right, Qt::Key_9, Qt::Key_Return});
  EXPECT_EQ(mlog, (V{"cancel", "p=19-34", "advance"}));
  // The number editor edits at the caret too.
  s.Show();
  s.Cancelled = false;
  s.SetText("120");
  guitest::Keys(&s, {Qt::Key_Home, Qt::Key_Minus, Qt::Key_End, Qt::Key_Left, Qt::Key_Backspace, Qt::Key_Return});
  EXPECT_EQ(log, (V{"p=5", "advance", "p=-10", "advance"}));

  // Its buttons, in the room the tree leaves at its right, step the value and leave it open.
  s.Show();
  s.Cancelled = false;
  s.SetBounds(0, 0, 16 + 16, 20);
  s.SetText("7");
  guitest::Press(&s, 32 - 4, 3);
  guitest::Release(&s, 32 - 4, 3);
  EXPECT_EQ(s.Text(), "8");
  guitest::Press(&s, 32 - 4, 20 - 3);
  guitest::Release(&s, 32 - 4, 20 - 3);
  EXPECT_EQ(s.Text(), "7");
  EXPECT_TRUE(s.Visible());
  guitest::Key(&s, Qt::Key_Return, Qt::NoModifier, "\r");
  EXPECT_EQ(log.back(), "advance");
  EXPECT_EQ(log[log.size() - 2], "p=7");
  // Both buttons show an arrow, dark on the button's face.
  s.Show();
  const QImage shot = guitest::W(&s)->grab().toImage();
  for (const TRect& b : {s.UpButtonRect(), s.DownButtonRect()}) {
    int dark = 0;
    for (int y = b.Top; y < b.Bottom; ++y)
      for (int x = b.Left; x < b.Right; ++x) dark += qGray(shot.pixel(x, y)) < 100;
    EXPECT_GT(dark, 3) << b.Top;
  }
}

// What the number editor reports, by Return or by leaving, is a number within its limits:
// typing keeps it one, and what is still no number or out of range is made one.
TEST(PopupSpinAndMask, TheNumberReportedIsANumber) {
  TProbe<TPopupSpinEdit> s(nullptr);
  V log;
  Wire(s, log);
  struct TCase {
    const char* Typed;
    int32_t Min, Max;
    bool Leave;
    int Wheel;  // eighths of a degree turned first
    const char* Want;
  };
  for (const TCase& c : {TCase{"-", 0, 0, false, 0, "0"}, {"-", 0, 0, true, 0, "0"}, {"1-2", 0, 0, false, 0, "12"},
                         {"--5", 0, 0, false, 0, "-5"}, {"99999999999", 0, 0, false, 0, "999999999"},
                         {"-3", 0, 10, false, 0, "3"}, {"50", 0, 10, false, 0, "10"}, {"50", 0, 10, true, 0, "10"},
                         {"7", 0, 0, false, 240, "9"}, {"7", 0, 0, false, -120, "6"}, {"7", 0, 8, false, 360, "8"}}) {
    s.SetMinValue(c.Min);
    s.SetMaxValue(c.Max);
    s.SetText("");
    s.Cancelled = false;
    s.Show();
    log.clear();
    guitest::Type(&s, c.Typed);
    if (c.Wheel) {
      EXPECT_TRUE(guitest::Wheel(&s, 3, 3, c.Wheel)) << c.Typed;
    }
    if (c.Leave) s.DoExit();
    else guitest::Key(&s, Qt::Key_Return, Qt::NoModifier, "\r");
    EXPECT_EQ(log.front(), std::string("p=") + c.Want) << c.Typed << " " << c.Wheel;
  }
}

TEST(PopupListBox, ReturnEscapeAndRelease) {
  TFakeTextMeasurer fake;
  TScopedTextMeasurer scope(&fake);
  TPopupListBox l(nullptr);
  TFont f;
  f.SetHeight(-16);
  l.SetFont(&f);
  V log;
  Wire(l, log);
  l.SetItems({"a", "bbbb", "cc"});
  l.SetHeight(100);
  l.SizeToContent();
  EXPECT_EQ(l.Width(), 32 + 10);
  l.SetHeight(20);  // needs a scroll bar now
  l.SizeToContent();
  EXPECT_EQ(l.Width(), 32 + 10 + VScrollBarWidth);
  l.SetHeight(100);

  guitest::Key(&l, Qt::Key_Return);  // nothing selected: no report, still advances
  EXPECT_EQ(log, (V{"advance"}));
  EXPECT_FALSE(l.Visible());
  l.Show();
  l.Cancelled = false;
  l.SetItemIndex(2);
  guitest::Key(&l, Qt::Key_Escape);
  EXPECT_EQ(log, (V{"advance", "cancel"}));
  l.Show();
  guitest::Press(&l, 5, 4);  // pressed on "a", released on "bbbb"
  guitest::Move(&l, 5, 16 + 4, Qt::LeftButton);
  guitest::Release(&l, 5, 16 + 4);
  EXPECT_EQ(log, (V{"advance", "cancel", "p=bbbb"}));
  EXPECT_FALSE(l.Visible());

  // The list answers a list box's keys; Return reports what they chose, Escape nothing.
  l.SetItems({"appel", "banaan", "citroen", "druif"});
  l.SetHeight(2 * l.ItemHeight());
  struct TCase {
    std::vector<std::pair<int, const char*>> Keys;
    V Want;
  };
  for (const TCase& c : {TCase{{{Qt::Key_C, "c"}, {Qt::Key_Return, "\r"}}, {"p=citroen", "advance"}},
                         {{{Qt::Key_End, ""}, {Qt::Key_Return, "\r"}}, {"p=druif", "advance"}},
                         {{{Qt::Key_PageDown, ""}, {Qt::Key_Return, "\r"}}, {"p=banaan", "advance"}},
                         {{{Qt::Key_End, ""}, {Qt::Key_Home, ""}, {Qt::Key_Return, "\r"}}, {"p=appel", "advance"}},
                         {{{Qt::Key_D, "D"}, {Qt::Key_Escape, ""}}, {"cancel"}}}) {
    log.clear();
    l.Cancelled = false;
    l.Show();
    l.SetItemIndex(0);  // opened on "appel"
    for (auto [key, text] : c.Keys) guitest::Key(&l, key, Qt::NoModifier, text);
    EXPECT_EQ(log, c.Want) << c.Want.front();
    EXPECT_FALSE(l.Visible());
  }
}

TEST(PopupDatePicker, ReportsInTheShortFormats) {
  TProbe<TPopupDatePicker> d(nullptr);
  V log;
  Wire(d, log);
  d.SetKind(dtkDate);
  d.SetDateTime(EncodeDate(2026, 3, 7) + EncodeTime(14, 5, 9, 0));
  guitest::Key(&d, Qt::Key_Return, Qt::NoModifier, "\r");
  d.SetKind(dtkTime);
  d.Cancelled = false;
  d.Show();
  guitest::Key(&d, Qt::Key_Return, Qt::NoModifier, "\r");
  EXPECT_EQ(log, (V{"p=7-3-2026", "advance", "p=14:05:09", "advance"}));
  // The year typed over at the end of the date.
  d.SetKind(dtkDate);
  d.Cancelled = false;
  d.Show();
  guitest::Keys(&d, {Qt::Key_End, Qt::Key_Backspace, Qt::Key_Backspace, Qt::Key_Backspace, Qt::Key_Backspace,
                     Qt::Key_Home, Qt::Key_Delete, Qt::Key_8, Qt::Key_End});
  guitest::Type(&d, "2027");
  guitest::Keys(&d, {Qt::Key_Return});
  EXPECT_EQ(std::vector<std::string>(log.begin() + 4, log.end()), (V{"p=8-3-2027", "advance"}));
  log.resize(4);
  // A text set by the program that is no date reports the value.
  d.SetKind(dtkDate);
  d.Cancelled = false;
  d.SetText("31-2-2026");
  EXPECT_EQ(d.Text(), "8-3-2027");
  d.DoExit();
  EXPECT_EQ(log.back(), "p=8-3-2027");
}

// The picker's keys change the selected field, round within its range; digits type it; the
// text is never typed freely. A time's buttons step the field; a date's drops a calendar.
TEST(PopupDatePicker, KeysChangeTheSelectedField) {
  TProbe<TPopupDatePicker> d(nullptr);
  V log;
  Wire(d, log);
  d.SetBounds(0, 0, 100, 20);
  struct TCase {
    TDateTimeKind Kind;
    std::vector<std::pair<int, const char*>> Keys;
    const char* Want;
  };
  const int Up = Qt::Key_Up, Down = Qt::Key_Down, Left = Qt::Key_Left, Right = Qt::Key_Right, End = Qt::Key_End;
  for (const TCase& c :
       {TCase{dtkDate, {{Up, ""}}, "1-1-2026"}, {dtkDate, {{Down, ""}}, "30-1-2026"},
        {dtkDate, {{Right, ""}, {Up, ""}}, "28-2-2026"}, {dtkDate, {{End, ""}, {Left, ""}, {Down, ""}}, "31-12-2026"},
        {dtkDate, {{End, ""}, {Qt::Key_PageUp, ""}}, "31-1-2036"}, {dtkDate, {{Qt::Key_PageDown, ""}}, "21-1-2026"},
        {dtkDate, {{0, "1"}, {0, "5"}, {0, "4"}}, "15-4-2026"}, {dtkDate, {{0, "4"}, {0, "-"}, {0, "2"}}, "4-2-2026"},
        {dtkDate, {{0, "2"}, {0, "-"}, {0, "3"}, {0, "-"}, {0, "1999"}}, "2-3-1999"},
        {dtkDate, {{End, ""}, {0, "27"}}, "31-1-2027"}, {dtkDate, {{End, ""}, {0, "9"}}, "31-1-2009"},
        {dtkDate, {{0, "x"}, {Qt::Key_Delete, ""}, {Qt::Key_Backspace, ""}, {Qt::Key_V, ""}}, "31-1-2026"},
        {dtkTime, {{Up, ""}}, "15:05:09"}, {dtkTime, {{Right, ""}, {Down, ""}}, "14:04:09"},
        {dtkTime, {{End, ""}, {Qt::Key_PageUp, ""}}, "14:05:19"}, {dtkTime, {{0, "9"}, {0, "30"}}, "9:30:09"}}) {
    d.SetKind(c.Kind);
    d.SetDateTime(EncodeDate(2026, 1, 31) + EncodeTime(14, 5, 9, 0));
    d.Cancelled = false;
    d.Show();
    log.clear();
    for (auto [key, text] : c.Keys)
      for (const char* t = text; key ? t == text : *t; ++t)
        guitest::Key(&d, key ? key : Qt::Key_unknown, Qt::NoModifier, key ? QString(text) : QString(QChar(*t)));
    EXPECT_EQ(d.Text(), c.Want);  // what is shown is what is reported
    guitest::Key(&d, Qt::Key_Return, Qt::NoModifier, "\r");
    EXPECT_EQ(log, (V{std::string("p=") + c.Want, "advance"})) << c.Want;
  }
  // A leap day stays while its year is typed through shorter years; a year below 100 and a
  // text set that is no date report what is shown. ("\x05" is End.)
  d.SetKind(dtkDate);
  for (const auto& [start, text, keys, want] :
       {std::tuple{EncodeDate(2024, 2, 29), "", "\x05" "2028", "29-2-2028"}, {EncodeDate(2024, 2, 29), "", "\x05" "24", "29-2-2024"},
        {EncodeDate(50, 1, 1), "", "", "1-1-0050"}, {EncodeDate(2024, 2, 29), "31-2-2024", "", "29-2-2024"},
        {EncodeDate(2024, 2, 29), "0-0-0", "", "29-2-2024"}}) {
    d.SetDateTime(start);
    if (*text) d.SetText(text);
    d.Cancelled = false;
    d.Show();
    log.clear();
    for (const char* k = keys; *k; ++k)
      guitest::Key(&d, *k == '\x05' ? Qt::Key_End : Qt::Key_unknown, Qt::NoModifier, *k == '\x05' ? QString() : QString(QChar(*k)));
    EXPECT_EQ(d.Text(), want);
    guitest::Key(&d, Qt::Key_Return, Qt::NoModifier, "\r");
    EXPECT_EQ(log, (V{std::string("p=") + want, "advance"})) << want;
  }
  // Shown narrower than its value and button, it widens to show the whole value.
  for (TDateTimeKind k : {dtkDate, dtkTime}) {
    d.Hide();
    d.SetKind(k);
    d.SetWidth(40);
    d.SetDateTime(EncodeDate(2026, 12, 28) + EncodeTime(23, 58, 59, 0));
    d.Show();
    const QLineEdit* line = guitest::W(&d)->findChild<QLineEdit*>();
    // Room for the text within the border, the button and the line editor's margins.
    EXPECT_GE(d.Width() - 2 - d.ButtonWidth - 4, line->fontMetrics().horizontalAdvance(line->text())) << d.Text();
  }
  // The wheel steps the selected field a notch at a time.
  d.SetKind(dtkDate);
  d.SetDateTime(EncodeDate(2026, 1, 31));
  guitest::Wheel(&d, 3, 3, 60);
  guitest::Wheel(&d, 3, 3, 60);
  EXPECT_EQ(d.Text(), "1-1-2026");
  // A time's buttons step the selected field, and repeat while held.
  d.SetKind(dtkTime);
  d.SetDateTime(EncodeTime(14, 5, 9, 0));
  d.Show();
  const TRect b = d.ButtonRect();
  guitest::Keys(&d, {Qt::Key_Right});
  guitest::Press(&d, b.Left + 3, b.Top + 2);
  guitest::Release(&d, b.Left + 3, b.Top + 2);
  EXPECT_EQ(d.Text(), "14:06:09");
  guitest::Press(&d, b.Left + 3, b.Top + 2);  // held, it repeats
  EXPECT_TRUE(guitest::WaitFor([&] { return d.Text() >= "14:09:09"; }));
  guitest::Release(&d, b.Left + 3, b.Top + 2);
  // A date's button drops the calendar: a day chosen there is the value.
  d.SetKind(dtkDate);
  d.SetDateTime(EncodeDate(2026, 1, 31));
  d.Cancelled = false;
  d.Show();
  guitest::Press(&d, b.Left + 3, b.Top + 2);
  guitest::Release(&d, b.Left + 3, b.Top + 2);
  ASSERT_TRUE(d.DroppedDown());
  auto* cal = guitest::W(&d)->findChild<QCalendarWidget*>();
  ASSERT_NE(cal, nullptr);
  EXPECT_EQ(cal->selectedDate(), QDate(2026, 1, 31));
  Q_EMIT cal->clicked(QDate(2026, 5, 4));
  EXPECT_FALSE(d.DroppedDown());
  EXPECT_EQ(d.Text(), "4-5-2026");
  // By the screen's lower right corner it opens above the picker, whole on the screen.
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  d.SetBounds(screen.right() - 40, screen.bottom() - 30, 100, 20);
  guitest::Key(&d, Qt::Key_Down, Qt::AltModifier);
  ASSERT_TRUE(d.DroppedDown());
  const QRect c = cal->window()->frameGeometry();
  EXPECT_TRUE(screen.contains(c)) << c.x() << "," << c.y();
  EXPECT_LE(c.bottom(), screen.bottom() - 30);
  // The picker hidden or turned to a time takes its calendar with it.
  const std::function<void()> Ways[] = {[&] { d.Hide(); }, [&] { d.SetEnabled(false); }};
  for (const auto& Go : Ways) {
    d.SetEnabled(true);
    d.Show();
    d.DropDown();
    ASSERT_TRUE(d.DroppedDown());
    Go();
    EXPECT_FALSE(d.DroppedDown());
  }
}

}  // namespace

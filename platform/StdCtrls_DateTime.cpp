// The date/time picker of the standard controls: a value in fields, edited by keys, the wheel,
// its buttons and a month calendar.
#include <QCalendarWidget>
#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "platform/ExtCtrls.h"
#include "platform/StdCtrls.h"
#include "platform/StyleDraw.h"

namespace platform {

namespace detail {

// The month calendar a date picker drops down: a click or Return on a day takes it, Escape or a
// click elsewhere closes it.
class TCalendarPopup : public QWidget {
 public:
  TCalendarPopup(TDateTimePicker* Picker, QWidget* Parent) : QWidget(Parent, Qt::Popup), FPicker(Picker) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    FCalendar = new QCalendarWidget(this);
    FCalendar->setVerticalHeaderFormat(QCalendarWidget::NoVerticalHeader);
    layout->addWidget(FCalendar);
    connect(FCalendar, &QCalendarWidget::clicked, this, [this](QDate D) { Take(D); });
    connect(FCalendar, &QCalendarWidget::activated, this, [this](QDate D) { Take(D); });
  }
  // Below the picker (Under, its rectangle on the screen's work Area), or above it where the
  // screen ends first; never past the screen's sides.
  void Open(QDate D, const QRect& Under, const QRect& Area) {
    FCalendar->setSelectedDate(D);
    adjustSize();
    QPoint at = Under.bottomLeft() + QPoint(0, 1);
    if (at.y() + height() > Area.bottom() + 1 && Under.top() - height() >= Area.top()) at.setY(Under.top() - height());
    at.setX(std::max(Area.left(), std::min(at.x(), Area.right() + 1 - width())));
    move(at);
    show();
    FCalendar->setFocus(Qt::PopupFocusReason);
  }
  QCalendarWidget* Calendar() const { return FCalendar; }

 private:
  void hideEvent(QHideEvent* Event) override {
    QWidget::hideEvent(Event);
    FPicker->Invalidate();  // the button comes up
  }
  void Take(QDate D) {
    hide();
    int32_t f[3] = {D.day(), D.month(), D.year()};
    FPicker->SetFields(f);
  }
  TDateTimePicker* FPicker;
  QCalendarWidget* FCalendar;
};

}  // namespace detail

namespace {
int32_t DaysInMonth(int32_t Year, int32_t Month) {
  static constexpr int32_t days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (Year % 4 == 0 && Year % 100 != 0) || Year % 400 == 0;
  return Month == 2 && leap ? 29 : days[std::clamp(Month, 1, 12) - 1];
}
}  // namespace

TDateTimePicker::TDateTimePicker(TComponent* AOwner)
    : TCustomEdit(AOwner), FHold(this, [this](int32_t Sign) { StepField(Sign); }) {
  // Only the fields change the text, and one of them is selected.
  LineEditor()->setReadOnly(true);
  SetAutoSelect(false);
  PlaceEditor();  // beside the buttons
  SetDateTime(Now());
}

TDateTimePicker::~TDateTimePicker() { delete FCalendar; }

void TDateTimePicker::SetKind(TDateTimeKind Value) {
  if (Value == FKind) return;
  FKind = Value;
  if (FCalendar) FCalendar->hide();
  SetDateTime(FValue);
  Invalidate();
}

TDateTime TDateTimePicker::DateTime() const {
  // The value's own text stands for the value (a year below 100 reads back as a two-digit one).
  const double day = std::trunc(FValue);
  if (Text() == (FKind == dtkDate ? DateToStr(FValue) : TimeToStr(FValue)))
    return FKind == dtkDate ? day : std::fabs(FValue - day);
  TDateTime v = 0;
  if (FKind == dtkDate ? TryStrToDate(Text(), v) : TryStrToTime(Text(), v)) return v;
  return FValue;
}

void TDateTimePicker::SetDateTime(TDateTime Value) {
  FValue = Value;
  FField = 0;
  FTyped = 0;
  FMovedOn = false;
  SetText(FKind == dtkDate ? DateToStr(Value) : TimeToStr(Value));
}

void TDateTimePicker::TextChanged() {
  // A text set by the program that reads as a value becomes the value (the fields' own text,
  // a year still being typed, is not read again).
  TDateTime v = 0;
  if (Text() != (FKind == dtkDate ? DateToStr(FValue) : TimeToStr(FValue)) &&
      (FKind == dtkDate ? TryStrToDate(Text(), v) : TryStrToTime(Text(), v))) {
    const double day = std::trunc(FValue), time = std::fabs(FValue - day);
    if (FKind == dtkDate) FValue = v < 0 ? v - time : v + time;
    else FValue = day < 0 ? day - v : day + v;
  } else if (Text() != (FKind == dtkDate ? DateToStr(FValue) : TimeToStr(FValue))) {
    // No value: the value's text again, so what is shown is what is reported.
    SetText(FKind == dtkDate ? DateToStr(FValue) : TimeToStr(FValue));
    return;
  }
  TCustomEdit::TextChanged();
  ShowField();
}

void TDateTimePicker::Fields(int32_t (&F)[3]) const {
  // Before 1900 the day counts down while the time of day still counts up.
  const double day = std::trunc(FValue);
  if (FKind == dtkDate) {
    DecodeDate(day, F[2], F[1], F[0]);
  } else {
    int32_t ms = 0;
    DecodeTime(std::fabs(FValue - day), F[0], F[1], F[2], ms);
  }
}

// Years below 100 would read back from the text as two-digit years.
int32_t TDateTimePicker::FieldMin(int32_t I) const { return FKind == dtkTime ? 0 : I == 2 ? 100 : 1; }

int32_t TDateTimePicker::FieldMax(int32_t I, const int32_t (&F)[3]) const {
  if (FKind == dtkTime) return I == 0 ? 23 : 59;
  return I == 0 ? DaysInMonth(F[2], F[1]) : I == 1 ? 12 : 9999;
}

void TDateTimePicker::SetFields(int32_t (&F)[3]) {
  const double day = std::trunc(FValue), time = std::fabs(FValue - day);
  if (FKind == dtkDate) {
    F[2] = std::clamp(F[2], 100, 9999);
    F[1] = std::clamp(F[1], 1, 12);
    F[0] = std::clamp(F[0], 1, DaysInMonth(F[2], F[1]));
    const TDateTime d = EncodeDate(F[2], F[1], F[0]);
    FValue = d < 0 ? d - time : d + time;
    SetText(DateToStr(FValue));
  } else {
    int32_t h, n, sec, ms;
    DecodeTime(time, h, n, sec, ms);
    const TDateTime t = EncodeTime(std::clamp(F[0], 0, 23), std::clamp(F[1], 0, 59), std::clamp(F[2], 0, 59), ms);
    FValue = day < 0 ? day - t : day + t;
    SetText(TimeToStr(FValue));
  }
}

void TDateTimePicker::StepField(int32_t By) {
  int32_t f[3];
  Fields(f);
  const int32_t lo = FieldMin(FField), range = FieldMax(FField, f) - lo + 1;
  f[FField] = lo + ((f[FField] - lo + By) % range + range) % range;
  FTyped = 0;
  SetFields(f);
}

void TDateTimePicker::TypeDigit(int32_t Digit) {
  int32_t f[3];
  Fields(f);
  // A month or year passes through shorter months while it is typed ("2028" through 2002 and
  // 202): the day it started from comes back once the month or year has room for it.
  if (FKind == dtkDate && FField > 0) {
    if (FTyped == 0) FDayKept = f[0];
    f[0] = FDayKept;
  }
  const bool year = FKind == dtkDate && FField == 2;
  // While typing, a day may go up to the longest month's.
  const int32_t hi = FKind == dtkDate && FField == 0 ? 31 : FieldMax(FField, f);
  // A digit that would take the field past its largest value is refused ("35" stays 3), not
  // cut to that value.
  if (!year && FTyped > 0 && FTypedValue * 10 + Digit > hi) return;
  FTypedValue = FTyped == 0 ? Digit : FTypedValue * 10 + Digit;
  ++FTyped;
  // A year of one or two digits is read as the text's two-digit years are.
  int32_t v = FTypedValue;
  if (year && v < 100) v += v < 50 ? 2000 : 1900;
  f[FField] = std::clamp(v, FieldMin(FField), hi);
  const int32_t typed = FTyped, typedValue = FTypedValue;
  SetFields(f);
  FTyped = typed;
  FTypedValue = typedValue;
  // On once no further digit could follow.
  if (FTyped >= (year ? 4 : 2) || (!year && FTypedValue * 10 > hi)) {
    SelectField(FField + 1);
    FMovedOn = true;
  }
}

void TDateTimePicker::SelectField(int32_t I) {
  FMovedOn = false;
  FField = std::clamp(I, 0, 2);
  FTyped = 0;
  ShowField();
}

void TDateTimePicker::ShowField() {
  const QString t = LineEditor()->text();
  int32_t run = -1;
  for (qsizetype i = 0; i < t.size(); ++i) {
    if (!t[i].isDigit() || (i > 0 && t[i - 1].isDigit())) continue;
    if (++run != FField) continue;
    qsizetype e = i;
    while (e < t.size() && t[e].isDigit()) ++e;
    LineEditor()->setSelection(static_cast<int>(e), static_cast<int>(i - e));
    return;
  }
}

bool TDateTimePicker::WantSpecialKey(Word Key, TShiftState Shift) {
  if (Key == VK_PRIOR || Key == VK_NEXT || Key == VK_HOME || Key == VK_END) return true;
  return TCustomEdit::WantSpecialKey(Key, Shift);
}

void TDateTimePicker::KeyDown(Word& Key, TShiftState Shift) {
  // The line editor gets none of the keys: they change the fields.
  TCustomControl::KeyDown(Key, Shift);
  switch (Key) {
    case VK_UP: StepField(1); break;
    case VK_DOWN:
      if (Shift & ssAlt) DropDown();
      else StepField(-1);
      break;
    case VK_F4: DropDown(); break;
    case VK_PRIOR: StepField(10); break;
    case VK_NEXT: StepField(-10); break;
    case VK_LEFT: SelectField(FField - 1); break;
    case VK_RIGHT: SelectField(FField + 1); break;
    case VK_HOME: SelectField(0); break;
    case VK_END: SelectField(2); break;
    default: return;
  }
  Key = 0;
}

void TDateTimePicker::KeyPress(TKeyChar& Key) {
  TCustomControl::KeyPress(Key);
  const bool movedOn = FMovedOn;
  FMovedOn = false;
  if (Key >= '0' && Key <= '9') {
    TypeDigit(static_cast<int32_t>(Key - '0'));
  } else if (Key == '-' || Key == '/' || Key == '.' || Key == ':' || Key == ' ' || Key == ',') {
    // The separator after a field that went on by itself is the one already passed.
    if (!movedOn) SelectField(FField + 1);
  } else if (Key == 3) {
    LineEditor()->copy();  // Ctrl+C
  }
}

TRect TDateTimePicker::ButtonRect() const {
  const TRect c = ClientRect();
  return {std::max(c.Left + 1, c.Right - 1 - ButtonWidth), c.Top + 1, c.Right - 1, c.Bottom - 1};
}

void TDateTimePicker::Paint() {
  TCustomEdit::Paint();
  TStyledState st;
  st.Disabled = !Enabled();
  const TRect b = ButtonRect();
  if (FKind == dtkDate) {
    st.Pressed = DroppedDown();
    DrawStyledPart(Canvas(), spComboDropDown, b, st);
  } else {
    const int32_t mid = b.Top + b.Height() / 2;
    st.Pressed = FHold.Pressed(1);
    DrawStyledPart(Canvas(), spSpinUp, {b.Left, b.Top, b.Right, mid}, st);
    st.Pressed = FHold.Pressed(-1);
    DrawStyledPart(Canvas(), spSpinDown, {b.Left, mid, b.Right, b.Bottom}, st);
  }
}

void TDateTimePicker::MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
  TCustomEdit::MouseDown(Button, Shift, X, Y);
  const TRect b = ButtonRect();
  if (Button != mbLeft || !PtInRect(b, {X, Y})) return;
  if (!Focused() && CanFocus()) SetFocus();
  if (FKind == dtkDate) {
    DropDown();
    return;
  }
  FHold.Press(Y < b.Top + b.Height() / 2 ? 1 : -1);
}

TRect TDateTimePicker::HeldButton() const {
  const TRect b = ButtonRect();
  const int32_t mid = b.Top + b.Height() / 2;
  return FHold.Held() > 0 ? TRect{b.Left, b.Top, b.Right, mid} : TRect{b.Left, mid, b.Right, b.Bottom};
}

void TDateTimePicker::MouseMove(TShiftState Shift, int32_t X, int32_t Y) {
  TCustomEdit::MouseMove(Shift, X, Y);
  FHold.SetOver(PtInRect(HeldButton(), {X, Y}));
}

// Hidden, disabled or left, the picker gets no release: a held button lets go. Hidden or
// disabled, it takes its calendar with it (a window of its own, which stays otherwise).
void TDateTimePicker::VisibleChanged() {
  TCustomEdit::VisibleChanged();
  if (Visible()) return;
  FHold.LetGo();
  if (FCalendar) FCalendar->hide();
}

void TDateTimePicker::EnabledChanged() {
  TCustomEdit::EnabledChanged();
  if (Enabled()) return;
  FHold.LetGo();
  if (FCalendar) FCalendar->hide();
}

void TDateTimePicker::DoExit() {
  FHold.LetGo();
  TCustomEdit::DoExit();
}

void TDateTimePicker::MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
  TCustomEdit::MouseUp(Button, Shift, X, Y);
  if (Button == mbLeft && FHold.Held() != 0) {
    FHold.LetGo();
    return;
  }
  if (Button != mbLeft || X >= ButtonRect().Left) return;
  // The field under the click, or the last one before it.
  const QString t = LineEditor()->text();
  const int pos = LineEditor()->cursorPositionAt(QPoint(X - 1, Y - 1));
  int32_t run = -1;
  for (qsizetype i = 0; i < t.size() && i <= pos; ++i)
    if (t[i].isDigit() && (i == 0 || !t[i - 1].isDigit())) ++run;
  SelectField(std::max(0, run));
}

bool TDateTimePicker::CursorQuery(TPoint P, TCursor& Cursor) {
  if (P.X < ButtonRect().Left) return TCustomEdit::CursorQuery(P, Cursor);
  Cursor = crArrow;
  return true;
}

bool TDateTimePicker::WheelTurned(int32_t Eighths) {
  FWheelRest += Eighths;
  const int32_t notches = FWheelRest / 120;
  FWheelRest -= notches * 120;
  if (notches != 0) StepField(notches);
  return true;
}

bool TDateTimePicker::DroppedDown() const { return FCalendar && FCalendar->isVisible(); }

void TDateTimePicker::DropDown() {
  if (FKind != dtkDate || DroppedDown()) return;
  if (!FCalendar) FCalendar = new detail::TCalendarPopup(this, static_cast<QWidget*>(WidgetHandle()));
  int32_t f[3];
  Fields(f);
  const QWidget* w = static_cast<QWidget*>(WidgetHandle());
  const QScreen* screen = w->screen() ? w->screen() : QGuiApplication::primaryScreen();
  FCalendar->Open(QDate(f[2], f[1], f[0]), QRect(w->mapToGlobal(QPoint(0, 0)), w->size()),
                  screen ? screen->availableGeometry() : QRect(-100000, -100000, 200000, 200000));
  Invalidate();
}

}  // namespace platform

// Standard input controls of the class library: a one-line edit, the masked edit, the spin
// edit, the list box and the date/time picker. The edits are Qt line editors under the class
// library's edit: caret, selection, clipboard, undo and input methods come from Qt, while keys
// pass the control's KeyDown and KeyPress (and their events) first, so components built on
// them see Return, Escape and the typed characters as they expect.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Controls.h"
#include "platform/DateUtils.h"

class QLineEdit;

namespace platform {

class TTimer;

namespace detail {
class TEditLine;

// An up/down button pair held down with the mouse: it steps at once, again after a pause and
// then quickly while the mouse stays on the held button, and lets go on release or when its
// control hides, is disabled or is left.
class THeldSpin {
 public:
  THeldSpin(TControl* Owner, std::function<void(int32_t)> Step);
  ~THeldSpin();
  int32_t Held() const { return FHeld; }  // +1 up, -1 down, 0 none
  bool Pressed(int32_t Sign) const { return FHeld == Sign && FOver; }
  void Press(int32_t Sign);
  void SetOver(bool Value);  // the mouse is on the held button
  void LetGo();

 private:
  void Repeat();
  TControl* FOwner;
  std::function<void(int32_t)> FStep;
  std::unique_ptr<TTimer> FRepeat;
  int32_t FHeld = 0;
  bool FOver = false;
};
}  // namespace detail

class TCustomEdit : public TCustomControl {
 public:
  explicit TCustomEdit(TComponent* AOwner);
  ~TCustomEdit() override;
  std::string ClassName() const override { return "TCustomEdit"; }
  // Selects the whole text; the next typed character replaces it.
  void SelectAll();
  bool AllSelected() const;
  bool AutoSize() const { return FAutoSize; }
  void SetAutoSize(bool Value) { FAutoSize = Value; }
  // The whole text is selected when the focus comes to the edit (not by a click into it, nor
  // back with its window), so typing replaces it.
  bool AutoSelect() const { return FAutoSelect; }
  void SetAutoSelect(bool Value) { FAutoSelect = Value; }
  TNotifyEvent OnChange;

 protected:
  void Paint() override;
  // Keys a KeyDown handler leaves (Key not 0) that move the caret or delete (Home, End, the
  // arrows, Delete, Insert) go to the line editor, with Shift selecting.
  void KeyDown(Word& Key, TShiftState Shift) override;
  // Characters a KeyPress handler leaves are typed at the caret when AcceptChar takes them;
  // Backspace and the Ctrl letters (select all, copy, cut, paste, undo) edit.
  void KeyPress(TKeyChar& Key) override;
  bool WantSpecialKey(Word Key, TShiftState Shift) override;
  void TextChanged() override;
  void FontChanged() override;
  void ColorChanged() override;
  virtual void Change();
  // A character the edit may take (a spin edit refuses some).
  virtual bool AcceptChar(TKeyChar Key) { return Key >= 32; }
  // The control's text as the line editor holds it.
  virtual std::string EditorText() const;
  // Where typing goes on after the program set the text (in UTF-16 units of the shown text).
  virtual int32_t TypingPosition() const;
  // Room at the right that the line editor leaves to the control (a spin edit's buttons).
  virtual int32_t ButtonsWidth() const { return 0; }
  // Places the line editor again (after ButtonsWidth changed).
  void PlaceEditor();
  // The width that shows the whole text in the line editor's font, with the border and the
  // buttons.
  int32_t FullTextWidth() const;
  // A character or text as the line editor is to hold it (a mask stands in for what Qt cannot
  // hold).
  virtual TKeyChar EditorChar(TKeyChar Key) const { return Key; }
  // The wheel turned over the edit (eighths of a degree, away from the user positive); true
  // when the edit used it, else it goes to the parent.
  virtual bool WheelTurned(int32_t Eighths) { (void)Eighths; return false; }
  virtual std::string EditorInput(const std::string& Value) const { return Value; }
  // Text of the line editor as the edit holds it (the way back of EditorInput).
  // From is where Value starts in the line editor's text.
  virtual std::string EditorOutput(const std::string& Value, int32_t From) const {
    (void)From;
    return Value;
  }
  detail::TEditLine* Line() const { return FLine; }
  // The line editor as Qt's (for parts of the platform that see only its declaration).
  QLineEdit* LineEditor() const;
  bool FSyncing = false;  // the program is setting the editor's text
  bool FFiltering = false;  // AcceptChar is asked about pasted or dropped text, not a typed key

 private:
  friend class detail::TEditLine;
  void LineChanged();
  void UpdatePalette();
  detail::TEditLine* FLine;  // a child of the control's widget, freed with it
  bool FAutoSize = false;
  bool FAutoSelect = true;
};

class TEdit : public TCustomEdit {
 public:
  using TCustomEdit::TCustomEdit;
  std::string ClassName() const override { return "TEdit"; }
};

// Mask characters that take input: 0 (digit), 9 (digit or blank), # (digit, sign or blank),
// L l (letter), A a (letter or digit), C c (any character), the capitals required and the
// small ones optional; ">" turns what follows to capitals, "<" to small letters, "<>" stops
// that; "\" makes the next character a literal; other characters are literals, which the caret
// skips as the user types; a typed literal moves on to the next such literal, leaving the
// places before it blank. After ";" come the save-literals flag (ignored: Text keeps the
// literals) and, after a second ";", the blank character ("_" by default). Text holds what was
// typed with the literals and without blanks, and is empty while nothing is typed.
class TMaskEdit : public TCustomEdit {
 public:
  using TCustomEdit::TCustomEdit;
  std::string ClassName() const override { return "TMaskEdit"; }
  const std::string& EditMask() const { return FEditMask; }
  void SetEditMask(const std::string& Value);

 protected:
  std::string EditorText() const override;
  int32_t TypingPosition() const override;
  // The character fits the first input position from the caret on, past literals, or it is a
  // literal ahead.
  bool AcceptChar(TKeyChar Key) override;
  TKeyChar EditorChar(TKeyChar Key) const override;
  std::string EditorInput(const std::string& Value) const override;
  std::string EditorOutput(const std::string& Value, int32_t From) const override;

 private:
  std::string FEditMask;
  std::u32string FSlots;  // per position of the shown text: its mask character, 0 for a literal
  char32_t FBlank = U'_';
  bool FSemicolon = false;  // the mask has a ";" literal, held by a stand-in in the line editor
  std::vector<bool> FLiteralStandIns;  // per position: a literal that is the stand-in in the mask itself
};

class TTimer;

// A number edit with up and down buttons in a column at its right: a click steps the value by
// Increment, holding a button repeats the step (after a first delay) while the mouse stays on
// it, and Up and Down do the same from the keyboard, as does a notch of the wheel. Steps stay
// within MinValue and MaxValue unless both are 0.
class TSpinEdit : public TCustomEdit {
 public:
  explicit TSpinEdit(TComponent* AOwner);
  ~TSpinEdit() override;
  std::string ClassName() const override { return "TSpinEdit"; }
  static constexpr int32_t ButtonWidth = 15;
  // The buttons' rectangles (client coordinates): the upper and the lower half of the column.
  TRect UpButtonRect() const;
  TRect DownButtonRect() const;
  // The text as an integer; 0 when it is not one.
  int32_t Value() const;
  void SetValue(int32_t Value);
  int32_t MinValue() const { return FMinValue; }
  void SetMinValue(int32_t Value) { FMinValue = Value; }
  int32_t MaxValue() const { return FMaxValue; }
  void SetMaxValue(int32_t Value) { FMaxValue = Value; }
  int32_t Increment() const { return FIncrement; }
  void SetIncrement(int32_t Value) { FIncrement = Value; }

 protected:
  void KeyDown(Word& Key, TShiftState Shift) override;
  // A digit or a minus sign that leaves a number of 32 bits, or a lone minus sign when the
  // limits allow negatives.
  bool AcceptChar(TKeyChar Key) override;
  // Leaving the edit turns its text into the value it stands for, within the limits.
  void DoExit() override;
  void VisibleChanged() override;
  void EnabledChanged() override;
  bool WheelTurned(int32_t Eighths) override;
  bool WantSpecialKey(Word Key, TShiftState Shift) override;
  int32_t ButtonsWidth() const override { return ButtonWidth; }
  void Paint() override;
  void MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
  void MouseMove(TShiftState Shift, int32_t X, int32_t Y) override;
  void MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
  bool CursorQuery(TPoint P, TCursor& Cursor) override;

 private:
  int32_t Clamp(int32_t V) const;
  // Value plus Sign times Increment, kept within the limits (and within 32 bits).
  void Step(int32_t Sign);
  int32_t FMinValue = 0;
  int32_t FMaxValue = 0;
  int32_t FIncrement = 1;
  int32_t FWheelRest = 0;  // eighths of a degree not yet stepped
  detail::THeldSpin FHold;
};

class TListBox : public TCustomControl {
 public:
  explicit TListBox(TComponent* AOwner);
  std::string ClassName() const override { return "TListBox"; }
  std::vector<std::string>& Items() { return FItems; }
  const std::vector<std::string>& Items() const { return FItems; }
  void SetItems(const std::vector<std::string>& Value);
  int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
  // -1 for none.
  int32_t ItemIndex() const { return FItemIndex; }
  void SetItemIndex(int32_t Value);
  int32_t IndexOf(const std::string& S) const;
  bool Sorted() const { return FSorted; }
  void SetSorted(bool Value);
  int32_t ItemHeight() const;
  // The first row in sight; kept where the rows below it fill the list.
  int32_t TopIndex() const { return FTopIndex; }
  void SetTopIndex(int32_t Value);
  // The items need more rows than fit: a vertical scroll bar is shown, which the mouse and its
  // wheel scroll.
  bool HasVerticalScrollBar() const;
  int32_t ItemAtPos(const TPoint& P) const;
  TNotifyEvent OnChange;

 protected:
  void Paint() override;
  void MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
  // With the left button held the selection follows the mouse.
  void MouseMove(TShiftState Shift, int32_t X, int32_t Y) override;
  void WMVScroll(int32_t Code, int32_t Pos) override;
  void Resize() override;
  void FontChanged() override;
  // The arrows, Home, End, Page Up and Page Down move the selection.
  void KeyDown(Word& Key, TShiftState Shift) override;
  // A character selects the next item beginning with it (in either case), round from the end.
  void KeyPress(TKeyChar& Key) override;
  bool WantSpecialKey(Word Key, TShiftState Shift) override;
  void Ctl3DChanged() override { Invalidate(); }

 private:
  int32_t RowsInSight() const;
  void UpdateScrollBar();
  std::vector<std::string> FItems;
  int32_t FItemIndex = -1;
  int32_t FTopIndex = 0;
  bool FSorted = false;
};

enum TDateTimeKind : uint8_t { dtkDate, dtkTime };

namespace detail {
class TCalendarPopup;
}

// A date or a time in fields (day, month, year; hours, minutes, seconds), one of them selected:
// Up and Down step it by one, Page Up and Page Down by ten, each round within its range (a day
// within its month); Left and Right, Home and End select another field, a separator goes on to
// the next; digits type the field and go on once no further digit could follow; a click selects
// the field under it. A date has a button at its right that drops down a month calendar (also
// Alt+Down and F4), a time up and down buttons that step the selected field (held down, they
// repeat, as the number edit's do); the wheel steps it too. The text is never typed freely.
class TDateTimePicker : public TCustomEdit {
 public:
  explicit TDateTimePicker(TComponent* AOwner);
  ~TDateTimePicker() override;
  std::string ClassName() const override { return "TDateTimePicker"; }
  TDateTimeKind Kind() const { return FKind; }
  void SetKind(TDateTimeKind Value);
  // The text when the program set one that reads as a date (time), else the value.
  TDateTime DateTime() const;
  void SetDateTime(TDateTime Value);
  // The selected field, 0 for the first; setting the value selects the first.
  int32_t Field() const { return FField; }
  // The calendar is dropped down.
  bool DroppedDown() const;
  void DropDown();
  static constexpr int32_t ButtonWidth = 15;
  // The buttons' column at the right (client coordinates).
  TRect ButtonRect() const;

 protected:
  void KeyDown(Word& Key, TShiftState Shift) override;
  void KeyPress(TKeyChar& Key) override;
  bool WantSpecialKey(Word Key, TShiftState Shift) override;
  void MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
  void MouseMove(TShiftState Shift, int32_t X, int32_t Y) override;
  void MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
  bool CursorQuery(TPoint P, TCursor& Cursor) override;
  int32_t ButtonsWidth() const override { return ButtonWidth; }
  void Paint() override;
  void TextChanged() override;
  bool WheelTurned(int32_t Eighths) override;
  void DoExit() override;
  void VisibleChanged() override;
  void EnabledChanged() override;

 private:
  friend class detail::TCalendarPopup;
  // The fields' values, their ranges, and the value made of them.
  void Fields(int32_t (&F)[3]) const;
  int32_t FieldMin(int32_t I) const;
  int32_t FieldMax(int32_t I, const int32_t (&F)[3]) const;
  void SetFields(int32_t (&F)[3]);
  void StepField(int32_t By);
  void TypeDigit(int32_t Digit);
  void SelectField(int32_t I);
  void ShowField();
  TDateTimeKind FKind = dtkDate;
  TDateTime FValue = 0;
  int32_t FField = 0;
  int32_t FTyped = 0;       // how many digits were typed into the selected field
  int32_t FTypedValue = 0;  // and the number they make
  bool FMovedOn = false;    // the last digit completed a field and selected the next
  int32_t FDayKept = 0;     // the day when typing into the month or year began
  int32_t FWheelRest = 0;
  // A time's button held down (+1 up, -1 down) repeats its step while the mouse is on it.
  TRect HeldButton() const;
  detail::THeldSpin FHold;
  detail::TCalendarPopup* FCalendar = nullptr;  // made on the first drop-down, freed with the control
};

// Width of a vertical scroll bar (SM_CXVSCROLL).
constexpr int32_t VScrollBarWidth = 16;

}  // namespace platform

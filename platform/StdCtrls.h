// Standard input controls of the class library, painted by the controls themselves: a one-line
// edit, the masked edit, the spin edit, the list box and the date/time picker. They keep the
// behaviour the components built on them rely on (text, typed characters, Return and Escape
// reaching KeyDown, focus events, item selection); they are not full text editors.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Controls.h"
#include "platform/DateUtils.h"

namespace platform {

class TCustomEdit : public TCustomControl {
 public:
  explicit TCustomEdit(TComponent* AOwner);
  std::string ClassName() const override { return "TCustomEdit"; }
  // Select all puts the caret after the text; the next typed character replaces it.
  void SelectAll();
  bool AllSelected() const { return FAllSelected; }
  bool AutoSize() const { return FAutoSize; }
  void SetAutoSize(bool Value) { FAutoSize = Value; }
  TNotifyEvent OnChange;

 protected:
  void Paint() override;
  void KeyPress(TKeyChar& Key) override;
  void TextChanged() override;
  virtual void Change();
  // A character the edit may take (a mask edit refuses some).
  virtual bool AcceptChar(TKeyChar Key) { return Key >= 32; }
  bool FAllSelected = false;

 private:
  bool FAutoSize = false;
};

class TEdit : public TCustomEdit {
 public:
  using TCustomEdit::TCustomEdit;
  std::string ClassName() const override { return "TEdit"; }
};

// Mask characters that take input: 0 9 # (digits), L l (letters), A a (letters or digits),
// C c (any); others are literals. "!", ">" and "<" and the part after ";" are ignored.
class TMaskEdit : public TCustomEdit {
 public:
  using TCustomEdit::TCustomEdit;
  std::string ClassName() const override { return "TMaskEdit"; }
  const std::string& EditMask() const { return FEditMask; }
  void SetEditMask(const std::string& Value) { FEditMask = Value; }

 protected:
  bool AcceptChar(TKeyChar Key) override;

 private:
  std::string FEditMask;
};

class TSpinEdit : public TCustomEdit {
 public:
  explicit TSpinEdit(TComponent* AOwner);
  std::string ClassName() const override { return "TSpinEdit"; }
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
  bool AcceptChar(TKeyChar Key) override { return (Key >= '0' && Key <= '9') || Key == '-'; }
  bool WantSpecialKey(Word Key, TShiftState Shift) override;

 private:
  int32_t Clamp(int32_t V) const;
  int32_t FMinValue = 0;
  int32_t FMaxValue = 0;
  int32_t FIncrement = 1;
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
  int32_t TopIndex() const { return FTopIndex; }
  // The items need more rows than fit: a vertical scroll bar is shown.
  bool HasVerticalScrollBar() const;
  int32_t ItemAtPos(const TPoint& P) const;
  TNotifyEvent OnChange;

 protected:
  void Paint() override;
  void MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
  void KeyDown(Word& Key, TShiftState Shift) override;
  bool WantSpecialKey(Word Key, TShiftState Shift) override;
  void Ctl3DChanged() override { Invalidate(); }

 private:
  std::vector<std::string> FItems;
  int32_t FItemIndex = -1;
  int32_t FTopIndex = 0;
  bool FSorted = false;
};

enum TDateTimeKind : uint8_t { dtkDate, dtkTime };

class TDateTimePicker : public TCustomEdit {
 public:
  explicit TDateTimePicker(TComponent* AOwner);
  std::string ClassName() const override { return "TDateTimePicker"; }
  TDateTimeKind Kind() const { return FKind; }
  void SetKind(TDateTimeKind Value);
  // The typed text when it reads as a date (time), else the last value set.
  TDateTime DateTime() const;
  void SetDateTime(TDateTime Value);
  bool DroppedDown() const { return false; }

 private:
  TDateTimeKind FKind = dtkDate;
  TDateTime FValue = 0;
};

// Width of a vertical scroll bar (SM_CXVSCROLL).
constexpr int32_t VScrollBarWidth = 16;

}  // namespace platform

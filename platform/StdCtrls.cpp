#include "platform/StdCtrls.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "platform/Graphics.h"
#include "platform/KeyState.h"
#include "platform/SysUtils.h"

namespace platform {
namespace {

void AppendUtf8(std::string& s, char32_t c) {
  if (c < 0x80) {
    s += static_cast<char>(c);
  } else if (c < 0x800) {
    s += static_cast<char>(0xC0 | (c >> 6));
    s += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    s += static_cast<char>(0xE0 | (c >> 12));
    s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    s += static_cast<char>(0xF0 | (c >> 18));
    s += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void DropLastCodePoint(std::string& s) {
  if (s.empty()) return;
  size_t i = s.size() - 1;
  while (i > 0 && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) --i;
  s.erase(i);
}

}  // namespace

// ---------------------------------------------------------------------------------------------

TCustomEdit::TCustomEdit(TComponent* AOwner) : TCustomControl(AOwner) {
  SetBounds(0, 0, 121, 21);
  SetTabStop(true);
  SetColor(clWindow);
  SetCursor(crIBeam);
}

void TCustomEdit::SelectAll() {
  FAllSelected = true;
  Invalidate();
}

void TCustomEdit::Paint() {
  TCanvas* c = Canvas();
  TRect r = ClientRect();
  c->Brush()->SetStyle(bsSolid);
  c->Brush()->SetColor(Color());
  c->Pen()->SetColor(clGray);
  c->Rectangle(r);
  c->Font()->Assign(Font());
  TRect t{r.Left + 3, r.Top, r.Right - 2, r.Bottom};
  if (FAllSelected && !Text().empty()) {
    TRect sel{t.Left, t.Top + 2, t.Left + c->TextWidth(Text()), t.Bottom - 2};
    c->Brush()->SetColor(clHighlight);
    c->FillRect(sel);
    c->Font()->SetColor(clHighlightText);
  }
  c->SetBkMode(TRANSPARENT);
  c->DrawText(Text(), t, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
}

void TCustomEdit::KeyPress(TKeyChar& Key) {
  TCustomControl::KeyPress(Key);
  if (Key == 0) return;
  std::string s = FAllSelected ? std::string() : Text();
  if (Key == 8) {
    if (!FAllSelected) DropLastCodePoint(s);
  } else if (AcceptChar(Key)) {
    AppendUtf8(s, Key);
  } else {
    return;
  }
  FAllSelected = false;
  SetText(s);
}

void TCustomEdit::TextChanged() {
  TCustomControl::TextChanged();
  Invalidate();
  Change();
}

void TCustomEdit::Change() {
  if (OnChange) OnChange(this);
}

// ---------------------------------------------------------------------------------------------

bool TMaskEdit::AcceptChar(TKeyChar Key) {
  if (Key < 32) return false;
  std::string mask = FEditMask.substr(0, FEditMask.find(';'));
  if (mask.empty()) return true;
  std::string slots;
  for (char m : mask)
    if (m != '!' && m != '>' && m != '<') slots += m;
  const size_t pos = FAllSelected ? 0 : Utf8Length(Text());
  if (pos >= slots.size()) return false;
  const char m = slots[pos];
  const bool digit = Key >= '0' && Key <= '9';
  const bool letter = (Key >= 'a' && Key <= 'z') || (Key >= 'A' && Key <= 'Z') || Key >= 0x80;
  switch (m) {
    case '0': case '9': case '#': return digit || (m != '0' && Key == ' ') || (m == '#' && (Key == '+' || Key == '-'));
    case 'L': case 'l': return letter;
    case 'A': case 'a': return letter || digit;
    case 'C': case 'c': return true;
    default: return static_cast<TKeyChar>(static_cast<unsigned char>(m)) == Key;
  }
}

// ---------------------------------------------------------------------------------------------

TSpinEdit::TSpinEdit(TComponent* AOwner) : TCustomEdit(AOwner) { SetText("0"); }

int32_t TSpinEdit::Value() const {
  const std::string s = Trim(Text());
  if (s.empty()) return 0;
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(s.c_str(), &end, 10);
  if (end == s.c_str() || *end != 0 || errno != 0 || v < INT32_MIN || v > INT32_MAX) return 0;
  return static_cast<int32_t>(v);
}

int32_t TSpinEdit::Clamp(int32_t V) const {
  if (FMaxValue != 0 || FMinValue != 0) return std::max(FMinValue, std::min(FMaxValue, V));
  return V;
}

void TSpinEdit::SetValue(int32_t Value) { SetText(std::to_string(Clamp(Value))); }

bool TSpinEdit::WantSpecialKey(Word Key, TShiftState Shift) {
  if (Key == VK_UP || Key == VK_DOWN) return true;
  return TCustomEdit::WantSpecialKey(Key, Shift);
}

void TSpinEdit::KeyDown(Word& Key, TShiftState Shift) {
  TCustomEdit::KeyDown(Key, Shift);
  const int64_t step = Key == VK_UP ? FIncrement : Key == VK_DOWN ? -int64_t{FIncrement} : 0;
  if (step == 0) return;
  const int64_t v = std::clamp<int64_t>(int64_t{Value()} + step, INT32_MIN, INT32_MAX);
  SetValue(static_cast<int32_t>(v));
  Key = 0;
}

// ---------------------------------------------------------------------------------------------

TListBox::TListBox(TComponent* AOwner) : TCustomControl(AOwner) {
  SetBounds(0, 0, 121, 97);
  SetTabStop(true);
  SetColor(clWindow);
}

void TListBox::SetItems(const std::vector<std::string>& Value) {
  FItems = Value;
  if (FSorted) std::stable_sort(FItems.begin(), FItems.end(), [](const auto& a, const auto& b) { return UpperCase(a) < UpperCase(b); });
  FItemIndex = -1;
  FTopIndex = 0;
  Invalidate();
}

void TListBox::SetSorted(bool Value) {
  if (Value == FSorted) return;
  FSorted = Value;
  if (FSorted) SetItems(FItems);
}

void TListBox::SetItemIndex(int32_t Value) {
  if (Value < -1 || Value >= Count()) Value = -1;
  if (Value == FItemIndex) return;
  FItemIndex = Value;
  if (Value >= 0) {
    const int32_t rows = std::max(1, ClientHeight() / ItemHeight());
    if (Value < FTopIndex) FTopIndex = Value;
    else if (Value >= FTopIndex + rows) FTopIndex = Value - rows + 1;
  }
  Invalidate();
  if (OnChange) OnChange(this);
}

int32_t TListBox::IndexOf(const std::string& S) const {
  for (size_t i = 0; i < FItems.size(); ++i)
    if (SameText(FItems[i], S)) return static_cast<int32_t>(i);
  return -1;
}

int32_t TListBox::ItemHeight() const {
  TCanvas* c = const_cast<TListBox*>(this)->Canvas();
  c->Font()->Assign(Font());
  return std::max(1, c->TextHeight("Wg"));
}

bool TListBox::HasVerticalScrollBar() const { return Count() * ItemHeight() > ClientHeight(); }

int32_t TListBox::ItemAtPos(const TPoint& P) const {
  if (P.X < 0 || P.Y < 0 || P.X >= ClientWidth() || P.Y >= ClientHeight()) return -1;
  const int32_t i = FTopIndex + P.Y / ItemHeight();
  return i < Count() ? i : -1;
}

void TListBox::Paint() {
  TCanvas* c = Canvas();
  const TRect r = ClientRect();
  c->Brush()->SetStyle(bsSolid);
  c->Brush()->SetColor(Color());
  c->FillRect(r);
  c->Font()->Assign(Font());
  const int32_t h = ItemHeight();
  for (int32_t i = FTopIndex, y = 0; i < Count() && y < r.Bottom; ++i, y += h) {
    TRect row{0, y, r.Right, y + h};
    const bool sel = i == FItemIndex;
    c->Brush()->SetColor(sel ? clHighlight : Color());
    c->FillRect(row);
    c->Font()->SetColor(sel ? clHighlightText : Font()->Color());
    c->SetBkMode(TRANSPARENT);
    row.Left += 2;
    c->DrawText(FItems[static_cast<size_t>(i)], row, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
  }
  c->Brush()->SetStyle(bsClear);
  c->Pen()->SetColor(Ctl3D() ? clGray : clBlack);
  c->Rectangle(r);
}

void TListBox::MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
  if (Button == mbLeft) {
    const int32_t i = ItemAtPos({X, Y});
    if (i >= 0) SetItemIndex(i);
  }
  TCustomControl::MouseDown(Button, Shift, X, Y);
}

bool TListBox::WantSpecialKey(Word Key, TShiftState Shift) {
  if (Key == VK_UP || Key == VK_DOWN) return true;
  return TCustomControl::WantSpecialKey(Key, Shift);
}

void TListBox::KeyDown(Word& Key, TShiftState Shift) {
  TCustomControl::KeyDown(Key, Shift);
  if (Key == VK_UP && Count() > 0) {
    SetItemIndex(std::max(0, FItemIndex - 1));
    Key = 0;
  } else if (Key == VK_DOWN && Count() > 0) {
    SetItemIndex(std::min(Count() - 1, FItemIndex + 1));
    Key = 0;
  }
}

// ---------------------------------------------------------------------------------------------

TDateTimePicker::TDateTimePicker(TComponent* AOwner) : TCustomEdit(AOwner) { SetDateTime(Now()); }

void TDateTimePicker::SetKind(TDateTimeKind Value) {
  if (Value == FKind) return;
  FKind = Value;
  SetDateTime(FValue);
}

TDateTime TDateTimePicker::DateTime() const {
  TDateTime v = 0;
  if (FKind == dtkDate ? TryStrToDate(Text(), v) : TryStrToTime(Text(), v)) return v;
  return FValue;
}

void TDateTimePicker::SetDateTime(TDateTime Value) {
  FValue = Value;
  SetText(FKind == dtkDate ? DateToStr(Value) : TimeToStr(Value));
}

}  // namespace platform

#include "widgets/PopupEditors.h"

#include <algorithm>

#include "platform/Forms.h"
#include "platform/Graphics.h"
#include "platform/KeyState.h"

namespace widgets {

using namespace platform;

namespace {

// The parent takes the focus back and the editor hides.
void Close(TWinControl* Editor) {
  if (TWinControl* parent = Editor->Parent())
    if (parent->CanFocus()) parent->SetFocus();
  Editor->Hide();
}

// Return and Escape of the edit-like editors; true when the key was one of them.
bool EditorKey(TWinControl* Editor, TPopupEditorLink& Link, Word& Key, const std::string& Value) {
  if (Key == VK_RETURN) {
    Link.Cancelled = true;
    if (Link.OnValue) Link.OnValue(Editor, Link.Param, Value);
    Close(Editor);
    Key = 0;
    if (Link.OnAdvance) Link.OnAdvance(Editor);
    return true;
  }
  if (Key == VK_ESCAPE) {
    Link.Cancelled = true;
    Close(Editor);
    Key = 0;
    if (Link.OnCancel) Link.OnCancel(Editor);
    return true;
  }
  return false;
}

void ReportOnExit(TWinControl* Editor, TPopupEditorLink& Link, const std::string& Value) {
  if (Link.Cancelled) return;
  Link.Cancelled = true;  // one report per opening
  if (Link.OnValue) Link.OnValue(Editor, Link.Param, Value);
  Editor->Hide();
}

// Not a child of the parent's window, but a window of its own above it.
void Float(TCreateParams& Params) { Params.Style = (Params.Style & ~WS_CHILD) | WS_POPUP; }

void Popup(TWinControl* Editor) {
  Editor->SetVisible(false);
  Editor->SetTabStop(true);
}

}  // namespace

TRect EditorBoundsOnScreen(const TRect& Bounds, const TRect& Screen) {
  if (Screen.Right <= Screen.Left || Screen.Bottom <= Screen.Top) return Bounds;
  const int32_t w = std::min(Bounds.Width(), Screen.Width());
  const int32_t h = std::min(Bounds.Height(), Screen.Height());
  const int32_t x = std::max(Screen.Left, std::min(Bounds.Left, Screen.Right - w));
  const int32_t y = std::max(Screen.Top, std::min(Bounds.Top, Screen.Bottom - h));
  return {x, y, x + w, y + h};
}

void KeepOnScreen(TWinControl* Editor) {
  const TRect b = Editor->BoundsRect();
  const TRect r = EditorBoundsOnScreen(b, Screen()->WorkAreaAt({b.Left, b.Top}));
  if (r != b) Editor->SetBoundsRect(r);
}

// ---------------------------------------------------------------------------------------------

TPopupEdit::TPopupEdit(TComponent* AOwner) : TEdit(AOwner) { Popup(this); }

void TPopupEdit::CreateParams(TCreateParams& Params) {
  TEdit::CreateParams(Params);
  Float(Params);
}

void TPopupEdit::KeyDown(Word& Key, TShiftState Shift) {
  if (EditorKey(this, *this, Key, Text())) return;
  TEdit::KeyDown(Key, Shift);
}

void TPopupEdit::KeyPress(TKeyChar& Key) {
  if (Key == 13) {
    Key = 0;
    return;
  }
  TEdit::KeyPress(Key);
}

bool TPopupEdit::WantSpecialKey(Word Key, TShiftState Shift) {
  return Key == VK_RETURN || Key == VK_ESCAPE || TEdit::WantSpecialKey(Key, Shift);
}

void TPopupEdit::DoExit() {
  TEdit::DoExit();
  ReportOnExit(this, *this, Text());
}

void TPopupEdit::Change() {
  TEdit::Change();
  if (!AutoSize()) return;
  TCanvas* c = Canvas();
  c->Font()->Assign(Font());
  const int32_t wanted = c->TextWidth(Text()) + 16;
  if (wanted <= Width()) return;
  SetWidth(wanted);
  // Growing never takes it past the screen's edge.
  if (IsPopupWindow()) KeepOnScreen(this);
}

// ---------------------------------------------------------------------------------------------

TPopupMaskEdit::TPopupMaskEdit(TComponent* AOwner) : TMaskEdit(AOwner) { Popup(this); }

void TPopupMaskEdit::CreateParams(TCreateParams& Params) {
  TMaskEdit::CreateParams(Params);
  Float(Params);
}

void TPopupMaskEdit::KeyDown(Word& Key, TShiftState Shift) {
  if (EditorKey(this, *this, Key, Text())) return;
  TMaskEdit::KeyDown(Key, Shift);
}

void TPopupMaskEdit::KeyPress(TKeyChar& Key) {
  if (Key == 13) {
    Key = 0;
    return;
  }
  TMaskEdit::KeyPress(Key);
}

bool TPopupMaskEdit::WantSpecialKey(Word Key, TShiftState Shift) {
  return Key == VK_RETURN || Key == VK_ESCAPE || TMaskEdit::WantSpecialKey(Key, Shift);
}

void TPopupMaskEdit::DoExit() {
  TMaskEdit::DoExit();
  ReportOnExit(this, *this, Text());
}

// ---------------------------------------------------------------------------------------------

TPopupSpinEdit::TPopupSpinEdit(TComponent* AOwner) : TSpinEdit(AOwner) { Popup(this); }

void TPopupSpinEdit::CreateParams(TCreateParams& Params) {
  TSpinEdit::CreateParams(Params);
  Float(Params);
}

void TPopupSpinEdit::KeyDown(Word& Key, TShiftState Shift) {
  // What Return reports is a number, within the limits, as what leaving reports.
  if (Key == VK_RETURN) SetValue(Value());
  if (EditorKey(this, *this, Key, Text())) return;
  TSpinEdit::KeyDown(Key, Shift);
}

void TPopupSpinEdit::KeyPress(TKeyChar& Key) {
  if (Key == 13) {
    Key = 0;
    return;
  }
  TSpinEdit::KeyPress(Key);
}

bool TPopupSpinEdit::WantSpecialKey(Word Key, TShiftState Shift) {
  return Key == VK_RETURN || Key == VK_ESCAPE || TSpinEdit::WantSpecialKey(Key, Shift);
}

void TPopupSpinEdit::DoExit() {
  TSpinEdit::DoExit();
  ReportOnExit(this, *this, Text());
}

// ---------------------------------------------------------------------------------------------

TPopupListBox::TPopupListBox(TComponent* AOwner) : TListBox(AOwner) { Popup(this); }

void TPopupListBox::CreateParams(TCreateParams& Params) {
  TListBox::CreateParams(Params);
  Float(Params);
}

void TPopupListBox::SizeToContent() {
  TCanvas* c = Canvas();
  c->Font()->Assign(Font());
  int32_t widest = 0;
  for (const std::string& s : Items()) widest = std::max(widest, c->TextWidth(s));
  int32_t w = widest + 10;
  if (HasVerticalScrollBar()) w += VScrollBarWidth;
  SetWidth(w);
}

void TPopupListBox::KeyDown(Word& Key, TShiftState Shift) {
  if (Key == VK_RETURN) {
    Cancelled = true;
    if (ItemIndex() >= 0 && OnValue) OnValue(this, Param, Items()[static_cast<size_t>(ItemIndex())]);
    Close(this);
    Key = 0;
    if (OnAdvance) OnAdvance(this);
    return;
  }
  if (Key == VK_ESCAPE) {
    Cancelled = true;
    Close(this);
    Key = 0;
    if (OnCancel) OnCancel(this);
    return;
  }
  TListBox::KeyDown(Key, Shift);
}

bool TPopupListBox::WantSpecialKey(Word Key, TShiftState Shift) {
  return Key == VK_RETURN || Key == VK_ESCAPE || TListBox::WantSpecialKey(Key, Shift);
}

void TPopupListBox::DoExit() {
  TListBox::DoExit();
  // Losing the focus closes the list like the other editors: the selected item is reported,
  // and without one the owner hears that editing ended.
  if (Cancelled) return;
  Cancelled = true;
  Hide();
  if (ItemIndex() >= 0) {
    if (OnValue) OnValue(this, Param, Items()[static_cast<size_t>(ItemIndex())]);
  } else if (OnCancel) {
    OnCancel(this);
  }
}

void TPopupListBox::MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
  TListBox::MouseUp(Button, Shift, X, Y);
  if (Button != mbLeft || !Visible()) return;
  Cancelled = true;
  Close(this);
  if (ItemIndex() >= 0) {
    if (OnValue) OnValue(this, Param, Items()[static_cast<size_t>(ItemIndex())]);
  } else if (OnCancel) {
    OnCancel(this);
  }
}

// ---------------------------------------------------------------------------------------------

TPopupDatePicker::TPopupDatePicker(TComponent* AOwner) : TDateTimePicker(AOwner) { Popup(this); }

void TPopupDatePicker::CreateParams(TCreateParams& Params) {
  TDateTimePicker::CreateParams(Params);
  Float(Params);
}

std::string TPopupDatePicker::ValueText() const {
  return Kind() == dtkTime ? TimeToStr(DateTime()) : DateToStr(DateTime());
}

void TPopupDatePicker::KeyDown(Word& Key, TShiftState Shift) {
  if (EditorKey(this, *this, Key, ValueText())) return;
  TDateTimePicker::KeyDown(Key, Shift);
}

void TPopupDatePicker::KeyPress(TKeyChar& Key) {
  if (Key == 0 && !DroppedDown()) {
    Hide();
    return;
  }
  if (Key == 13) {
    Key = 0;
    return;
  }
  TDateTimePicker::KeyPress(Key);
}

bool TPopupDatePicker::WantSpecialKey(Word Key, TShiftState Shift) {
  return Key == VK_RETURN || Key == VK_ESCAPE || TDateTimePicker::WantSpecialKey(Key, Shift);
}

void TPopupDatePicker::Change() {
  TDateTimePicker::Change();
  Fit();
}

void TPopupDatePicker::VisibleChanged() {
  TDateTimePicker::VisibleChanged();
  if (Visible()) Fit();
}

void TPopupDatePicker::Fit() {
  const int32_t wanted = FullTextWidth();
  if (wanted <= Width()) return;
  SetWidth(wanted);
  if (IsPopupWindow()) KeepOnScreen(this);
}

void TPopupDatePicker::DoExit() {
  TDateTimePicker::DoExit();
  ReportOnExit(this, *this, ValueText());
}

}  // namespace widgets

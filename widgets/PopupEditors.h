// The popup parameter editors the HTML tree view places over a clicked parameter: text, masked
// text, integer, choice list and date/time. Each reports its value through OnValue and hides
// itself: Return reports and asks to advance, Escape closes without a report (OnCancel lets
// the owner end its editing state), and losing the focus reports unless already closed. They
// float above their parent in frameless windows of their own (Left and Top in screen
// coordinates), so an editor near the parent's edge is not cut off.
#pragma once

#include <functional>
#include <string>

#include "platform/StdCtrls.h"

namespace widgets {

using TPopupValueEvent = std::function<void(platform::TObject* Sender, const std::string& Param, const std::string& Value)>;

// What the five editors share.
struct TPopupEditorLink {
  std::string Param;       // href of the parameter being edited
  bool Cancelled = false;  // closed by Return or Escape: a later focus loss reports nothing
  TPopupValueEvent OnValue;
  platform::TNotifyEvent OnAdvance;
  platform::TNotifyEvent OnCancel;
};

class TPopupEdit : public platform::TEdit, public TPopupEditorLink {
 public:
  explicit TPopupEdit(platform::TComponent* AOwner);
  std::string ClassName() const override { return "TPopupEdit"; }

 protected:
  void CreateParams(platform::TCreateParams& Params) override;
  void KeyDown(platform::Word& Key, platform::TShiftState Shift) override;
  void KeyPress(platform::TKeyChar& Key) override;
  bool WantSpecialKey(platform::Word Key, platform::TShiftState Shift) override;
  void DoExit() override;
  void Change() override;
};

class TPopupMaskEdit : public platform::TMaskEdit, public TPopupEditorLink {
 public:
  explicit TPopupMaskEdit(platform::TComponent* AOwner);
  std::string ClassName() const override { return "TPopupMaskEdit"; }

 protected:
  void CreateParams(platform::TCreateParams& Params) override;
  void KeyDown(platform::Word& Key, platform::TShiftState Shift) override;
  void KeyPress(platform::TKeyChar& Key) override;
  bool WantSpecialKey(platform::Word Key, platform::TShiftState Shift) override;
  void DoExit() override;
};

class TPopupSpinEdit : public platform::TSpinEdit, public TPopupEditorLink {
 public:
  explicit TPopupSpinEdit(platform::TComponent* AOwner);
  std::string ClassName() const override { return "TPopupSpinEdit"; }

 protected:
  void CreateParams(platform::TCreateParams& Params) override;
  void KeyDown(platform::Word& Key, platform::TShiftState Shift) override;
  void KeyPress(platform::TKeyChar& Key) override;
  bool WantSpecialKey(platform::Word Key, platform::TShiftState Shift) override;
  void DoExit() override;
};

class TPopupListBox : public platform::TListBox, public TPopupEditorLink {
 public:
  explicit TPopupListBox(platform::TComponent* AOwner);
  std::string ClassName() const override { return "TPopupListBox"; }
  // Width: the widest item + 10, plus a scroll bar's width when the items need one.
  void SizeToContent();

 protected:
  void CreateParams(platform::TCreateParams& Params) override;
  void KeyDown(platform::Word& Key, platform::TShiftState Shift) override;
  bool WantSpecialKey(platform::Word Key, platform::TShiftState Shift) override;
  void MouseUp(platform::TMouseButton Button, platform::TShiftState Shift, int32_t X, int32_t Y) override;
  void DoExit() override;
};

class TPopupDatePicker : public platform::TDateTimePicker, public TPopupEditorLink {
 public:
  explicit TPopupDatePicker(platform::TComponent* AOwner);
  std::string ClassName() const override { return "TPopupDatePicker"; }
  // The value as text: the date in the short date format, or the time in the time format.
  std::string ValueText() const;

 protected:
  void CreateParams(platform::TCreateParams& Params) override;
  void KeyDown(platform::Word& Key, platform::TShiftState Shift) override;
  void KeyPress(platform::TKeyChar& Key) override;
  bool WantSpecialKey(platform::Word Key, platform::TShiftState Shift) override;
  void DoExit() override;
  // Shown or changed, it widens to show the whole value beside its button (an anchor's width
  // leaves too little room for both).
  void Change() override;
  void VisibleChanged() override;

 private:
  void Fit();
};

// Where a floating editor of Bounds goes on Screen (screen rectangles): moved left by its
// overflow at the right edge and up by its overflow at the bottom, never left of or above the
// screen, and no wider than the screen. Bounds as they are when no screen is known.
platform::TRect EditorBoundsOnScreen(const platform::TRect& Bounds, const platform::TRect& Screen);
// Moves a floating editor onto the work area of the screen at its top-left corner.
void KeepOnScreen(platform::TWinControl* Editor);

}  // namespace widgets

// Menus of the class library: menu items in a tree, popup menus shown at a screen point, and
// shortcut values encoded as the class library does (scShift $2000, scCtrl $4000, scAlt $8000
// plus the virtual-key code). Captions use "&" before the accelerator letter ("&&" for a literal
// ampersand); a caption of "-" is a separator.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Component.h"
#include "platform/Controls.h"

namespace platform {

using TShortCut = uint16_t;
constexpr TShortCut scNone = 0;
constexpr TShortCut scShift = 0x2000;
constexpr TShortCut scCtrl = 0x4000;
constexpr TShortCut scAlt = 0x8000;

TShortCut ShortCut(Word Key, TShiftState Shift);
void ShortCutToKey(TShortCut ShortCut, Word& Key, TShiftState& Shift);
// "Ctrl+X", "Shift+Del", "F2"; "" for scNone or a key without a name.
std::string ShortCutToText(TShortCut ShortCut);
// The inverse of ShortCutToText (case-insensitive); scNone when the text is not a shortcut.
TShortCut TextToShortCut(const std::string& Text);
// The caption without accelerator markers ("&&" becomes "&").
std::string StripHotkey(const std::string& Caption);

enum TMenuAutoFlag : uint8_t { maAutomatic, maManual, maParent };

class TMenuItem : public TComponent {
 public:
  explicit TMenuItem(TComponent* AOwner);
  // Frees the sub-items too.
  ~TMenuItem() override;
  std::string ClassName() const override { return "TMenuItem"; }

  const std::string& Caption() const { return FCaption; }
  void SetCaption(const std::string& Value) { FCaption = Value; }
  TShortCut ShortCut() const { return FShortCut; }
  void SetShortCut(TShortCut Value) { FShortCut = Value; }
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool Value) { FEnabled = Value; }
  bool Visible() const { return FVisible; }
  void SetVisible(bool Value) { FVisible = Value; }
  bool Checked() const { return FChecked; }
  void SetChecked(bool Value);
  // Checking a radio item unchecks the other radio items of its GroupIndex under the same parent.
  bool RadioItem() const { return FRadioItem; }
  void SetRadioItem(bool Value) { FRadioItem = Value; }
  uint8_t GroupIndex() const { return FGroupIndex; }
  void SetGroupIndex(uint8_t Value) { FGroupIndex = Value; }
  const std::string& Hint() const { return FHint; }
  void SetHint(const std::string& Value) { FHint = Value; }
  int32_t Tag() const { return FTag; }
  void SetTag(int32_t Value) { FTag = Value; }
  bool IsLine() const { return FCaption == "-"; }

  int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
  // Raises EListError "List index out of bounds (%d)" outside 0..Count-1.
  TMenuItem* Items(int32_t Index) const;
  TMenuItem* Parent() const { return FParent; }
  int32_t IndexOf(const TMenuItem* Item) const;
  // The item joins this one's list (leaving any other first); the list frees it later.
  void Add(TMenuItem* Item);
  void Insert(int32_t Index, TMenuItem* Item);
  // Takes the item out of the list without freeing it.
  void Remove(TMenuItem* Item);
  void Delete(int32_t Index);
  // Frees every sub-item.
  void Clear();

  // Runs OnClick (nothing for a disabled item).
  virtual void Click();

  TNotifyEvent OnClick;

 private:
  friend class TMenu;
  std::string FCaption;
  TShortCut FShortCut = scNone;
  bool FEnabled = true;
  bool FVisible = true;
  bool FChecked = false;
  bool FRadioItem = false;
  uint8_t FGroupIndex = 0;
  std::string FHint;
  int32_t FTag = 0;
  TMenuItem* FParent = nullptr;
  std::vector<TMenuItem*> FItems;
};

class TMenu : public TComponent {
 public:
  explicit TMenu(TComponent* AOwner);
  ~TMenu() override;
  std::string ClassName() const override { return "TMenu"; }
  // The invisible root item whose sub-items are the menu.
  TMenuItem* Items() const { return FItems.get(); }
  // With maAutomatic, items without an accelerator get one ("&" before the first letter not
  // taken by a sibling) when the menu is shown.
  TMenuAutoFlag AutoHotkeys() const { return FAutoHotkeys; }
  void SetAutoHotkeys(TMenuAutoFlag Value) { FAutoHotkeys = Value; }
  // Adds accelerators to Item's sub-items that lack one (recursively).
  static void AssignHotkeys(TMenuItem* Item);

 private:
  std::unique_ptr<TMenuItem> FItems;
  TMenuAutoFlag FAutoHotkeys = maAutomatic;
};

class TPopupMenu : public TMenu {
 public:
  explicit TPopupMenu(TComponent* AOwner);
  std::string ClassName() const override { return "TPopupMenu"; }

  // OnPopup, then shows the menu at the screen point and waits until it closes; the chosen
  // item's Click runs after the menu has closed.
  virtual void Popup(int32_t X, int32_t Y);
  bool AutoPopup() const { return FAutoPopup; }
  void SetAutoPopup(bool Value) { FAutoPopup = Value; }
  // The control whose right click showed the menu.
  TControl* PopupComponent() const { return FPopupComponent; }
  // Cleared when that control is freed.
  void SetPopupComponent(TControl* Value);
  TPoint PopupPoint() const { return FPopupPoint; }

  TNotifyEvent OnPopup;

 protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;

 private:
  bool FAutoPopup = true;
  TControl* FPopupComponent = nullptr;
  TPoint FPopupPoint{-1, -1};
};

// Replaces the on-screen menu loop (tests, headless runs): the handler gets the menu and the
// point and returns the chosen item or nullptr. An empty handler restores the real menu.
using TPopupHandler = std::function<TMenuItem*(TPopupMenu* Menu, int32_t X, int32_t Y)>;
TPopupHandler SetPopupHandler(TPopupHandler Handler);

}  // namespace platform

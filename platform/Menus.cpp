#include "platform/Menus.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QKeySequence>
#include <QMenu>
#include <QPointer>
#include <algorithm>
#include <cctype>
#include <map>
#include <set>

#include "platform/SysUtils.h"

namespace platform {

namespace {

TPopupHandler& PopupHandler() {
  static TPopupHandler handler;
  return handler;
}

struct TKeyName {
  Word Key;
  const char* Name;
};

constexpr TKeyName kKeyNames[] = {
    {VK_BACK, "BkSp"}, {VK_TAB, "Tab"},   {VK_ESCAPE, "Esc"},  {VK_RETURN, "Enter"}, {VK_SPACE, "Space"},
    {VK_PRIOR, "PgUp"}, {VK_NEXT, "PgDn"}, {VK_END, "End"},     {VK_HOME, "Home"},     {VK_LEFT, "Left"},
    {VK_UP, "Up"},      {VK_RIGHT, "Right"}, {VK_DOWN, "Down"}, {VK_INSERT, "Ins"},    {VK_DELETE, "Del"},
};

std::string KeyName(Word Key) {
  if ((Key >= 'A' && Key <= 'Z') || (Key >= '0' && Key <= '9')) return std::string(1, static_cast<char>(Key));
  if (Key >= VK_F1 && Key <= VK_F12) return "F" + std::to_string(Key - VK_F1 + 1);
  for (const TKeyName& k : kKeyNames)
    if (k.Key == Key) return k.Name;
  return std::string();
}

// The accelerator letter of a caption (upper case), or 0.
char HotkeyOf(const std::string& Caption) {
  for (size_t i = 0; i + 1 < Caption.size(); ++i) {
    if (Caption[i] != '&') continue;
    if (Caption[i + 1] == '&') {
      ++i;
      continue;
    }
    return static_cast<char>(std::toupper(static_cast<unsigned char>(Caption[i + 1])));
  }
  return 0;
}

}  // namespace

TShortCut ShortCut(Word Key, TShiftState Shift) {
  if (Key & 0xFF00) return scNone;
  TShortCut r = Key;
  if (Shift & ssShift) r |= scShift;
  if (Shift & ssCtrl) r |= scCtrl;
  if (Shift & ssAlt) r |= scAlt;
  return r;
}

void ShortCutToKey(TShortCut ShortCut, Word& Key, TShiftState& Shift) {
  Key = ShortCut & 0x00FF;
  Shift = 0;
  if (ShortCut & scShift) Shift |= ssShift;
  if (ShortCut & scCtrl) Shift |= ssCtrl;
  if (ShortCut & scAlt) Shift |= ssAlt;
}

std::string ShortCutToText(TShortCut ShortCut) {
  const std::string name = KeyName(ShortCut & 0xFF);
  if (name.empty()) return std::string();
  std::string r;
  if (ShortCut & scShift) r += "Shift+";
  if (ShortCut & scCtrl) r += "Ctrl+";
  if (ShortCut & scAlt) r += "Alt+";
  return r + name;
}

TShortCut TextToShortCut(const std::string& Text) {
  std::string rest = Text;
  TShortCut mods = 0;
  for (;;) {
    if (rest.size() > 6 && SameText(rest.substr(0, 6), "Shift+")) {
      mods |= scShift;
      rest = rest.substr(6);
    } else if (rest.size() > 5 && SameText(rest.substr(0, 5), "Ctrl+")) {
      mods |= scCtrl;
      rest = rest.substr(5);
    } else if (rest.size() > 4 && SameText(rest.substr(0, 4), "Alt+")) {
      mods |= scAlt;
      rest = rest.substr(4);
    } else {
      break;
    }
  }
  for (int k = 1; k < 256; ++k) {
    const std::string name = KeyName(static_cast<Word>(k));
    if (!name.empty() && SameText(name, rest)) return static_cast<TShortCut>(k | mods);
  }
  return scNone;
}

std::string StripHotkey(const std::string& Caption) {
  std::string r;
  r.reserve(Caption.size());
  for (size_t i = 0; i < Caption.size(); ++i) {
    if (Caption[i] == '&') {
      if (i + 1 < Caption.size() && Caption[i + 1] == '&') {
        r += '&';
        ++i;
      }
      continue;
    }
    r += Caption[i];
  }
  return r;
}

// ---------------------------------------------------------------------------------------------
// TMenuItem

TMenuItem::TMenuItem(TComponent* AOwner) : TComponent(AOwner) {}

TMenuItem::~TMenuItem() {
  if (FParent) FParent->Remove(this);
  Clear();
}

TMenuItem* TMenuItem::Items(int32_t Index) const {
  if (Index < 0 || Index >= Count()) throw EListError("List index out of bounds (" + std::to_string(Index) + ")");
  return FItems[static_cast<size_t>(Index)];
}

int32_t TMenuItem::IndexOf(const TMenuItem* Item) const {
  auto it = std::find(FItems.begin(), FItems.end(), Item);
  return it == FItems.end() ? -1 : static_cast<int32_t>(it - FItems.begin());
}

void TMenuItem::Add(TMenuItem* Item) { Insert(Count(), Item); }

void TMenuItem::Insert(int32_t Index, TMenuItem* Item) {
  if (!Item) return;
  if (Item == this) throw EInvalidOperation("Menu inserted twice");
  for (TMenuItem* p = FParent; p; p = p->FParent)
    if (p == Item) throw EInvalidOperation("Menu inserted twice");
  if (Item->FParent) Item->FParent->Remove(Item);
  if (Index < 0 || Index > Count()) throw EListError("List index out of bounds (" + std::to_string(Index) + ")");
  FItems.insert(FItems.begin() + Index, Item);
  Item->FParent = this;
}

void TMenuItem::Remove(TMenuItem* Item) {
  auto it = std::find(FItems.begin(), FItems.end(), Item);
  if (it == FItems.end()) return;
  FItems.erase(it);
  Item->FParent = nullptr;
}

void TMenuItem::Delete(int32_t Index) { Remove(Items(Index)); }

void TMenuItem::Clear() {
  while (!FItems.empty()) delete FItems.back();  // each removes itself
}

void TMenuItem::SetChecked(bool Value) {
  if (Value == FChecked) return;
  FChecked = Value;
  if (Value && FRadioItem && FParent)
    for (TMenuItem* s : FParent->FItems)
      if (s != this && s->FRadioItem && s->FGroupIndex == FGroupIndex) s->FChecked = false;
}

void TMenuItem::Click() {
  if (!FEnabled) return;
  if (OnClick) OnClick(this);
}

// ---------------------------------------------------------------------------------------------
// TMenu, TPopupMenu

TMenu::TMenu(TComponent* AOwner) : TComponent(AOwner), FItems(std::make_unique<TMenuItem>(nullptr)) {}

TMenu::~TMenu() = default;

void TMenu::AssignHotkeys(TMenuItem* Item) {
  std::set<char> used;
  for (int32_t i = 0; i < Item->Count(); ++i)
    if (char h = HotkeyOf(Item->Items(i)->Caption())) used.insert(h);
  for (int32_t i = 0; i < Item->Count(); ++i) {
    TMenuItem* c = Item->Items(i);
    if (!c->IsLine() && !HotkeyOf(c->Caption())) {
      const std::string& cap = c->Caption();
      for (size_t k = 0; k < cap.size(); ++k) {
        const unsigned char ch = static_cast<unsigned char>(cap[k]);
        if (!std::isalnum(ch) || cap[k] == '&') continue;
        const char up = static_cast<char>(std::toupper(ch));
        if (used.count(up)) continue;
        used.insert(up);
        c->SetCaption(cap.substr(0, k) + "&" + cap.substr(k));
        break;
      }
    }
    AssignHotkeys(c);
  }
}

TPopupMenu::TPopupMenu(TComponent* AOwner) : TMenu(AOwner) {}

void TPopupMenu::SetPopupComponent(TControl* Value) {
  if (Value == FPopupComponent) return;
  if (FPopupComponent) RemoveFreeNotification(FPopupComponent);
  FPopupComponent = Value;
  if (Value) FreeNotification(Value);
}

void TPopupMenu::Notification(TComponent* AComponent, TOperation Operation) {
  TMenu::Notification(AComponent, Operation);
  if (Operation == TOperation::opRemove && AComponent == FPopupComponent) FPopupComponent = nullptr;
}

namespace {

void FillQMenu(QMenu* Menu, TMenuItem* Item, std::map<QAction*, TMenuItem*>& Map, TMenuItem*& Chosen) {
  std::map<int, QActionGroup*> groups;
  for (int32_t i = 0; i < Item->Count(); ++i) {
    TMenuItem* c = Item->Items(i);
    if (!c->Visible()) continue;
    if (c->IsLine()) {
      Menu->addSeparator();
      continue;
    }
    const QString text = QString::fromStdString(c->Caption());
    if (c->Count() > 0) {
      QMenu* sub = Menu->addMenu(text);
      sub->setEnabled(c->Enabled());
      FillQMenu(sub, c, Map, Chosen);
      continue;
    }
    QAction* a = Menu->addAction(text);
    a->setEnabled(c->Enabled());
    if (c->Checked() || c->RadioItem()) {
      a->setCheckable(true);
      a->setChecked(c->Checked());
    }
    if (c->ShortCut() != scNone) {
      Word key;
      TShiftState shift;
      ShortCutToKey(c->ShortCut(), key, shift);
      int qt = VirtualKeyToQtKey(key);
      if (qt) {
        int mods = 0;
        if (shift & ssShift) mods |= Qt::SHIFT;
        if (shift & ssCtrl) mods |= Qt::CTRL;
        if (shift & ssAlt) mods |= Qt::ALT;
        a->setShortcut(QKeySequence(qt | mods));
        // Shown beside the caption only; the owner handles the keys itself.
        a->setShortcutContext(Qt::WidgetShortcut);
      }
    }
    Map[a] = c;
    // However the action fires (mouse, keyboard, accelerator), remember the choice.
    QObject::connect(a, &QAction::triggered, [&Chosen, c] { Chosen = c; });
  }
}

}  // namespace

void TPopupMenu::Popup(int32_t X, int32_t Y) {
  FPopupPoint = {X, Y};
  // The menu takes the mouse: whoever held it is told, as the menu loop cancels mouse modes.
  CancelModeOfCapture();
  if (OnPopup) OnPopup(this);
  if (AutoHotkeys() == maAutomatic) AssignHotkeys(Items());
  TMenuItem* chosen = nullptr;
  if (PopupHandler()) {
    chosen = PopupHandler()(this, X, Y);
  } else {
    if (!qApp) return;
    QMenu menu;
    std::map<QAction*, TMenuItem*> map;
    FillQMenu(&menu, Items(), map, chosen);
    if (menu.isEmpty()) return;
    QAction* a = menu.exec(QPoint(X, Y));
    auto it = map.find(a);
    if (!chosen && it != map.end()) chosen = it->second;
  }
  if (chosen) chosen->Click();
}

TPopupHandler SetPopupHandler(TPopupHandler Handler) {
  TPopupHandler old = std::move(PopupHandler());
  PopupHandler() = std::move(Handler);
  return old;
}

}  // namespace platform

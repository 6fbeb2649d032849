#include "platform/KeyState.h"

#include <QGuiApplication>
#include <array>
#include <cstdlib>
#include <cstring>

#include "platform/DynLib.h"

namespace platform {
namespace {

// The X keyboard extension, reached through libX11 at run time so nothing links against X.
class TXkbLocks {
 public:
  TXkbLocks() {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) return;
    if (!FLib.Load("libX11.so.6")) return;
    auto openDisplay = FLib.Proc<void* (*)(const char*)>("XOpenDisplay");
    FInternAtom = FLib.Proc<unsigned long (*)(void*, const char*, int)>("XInternAtom");
    FGetNamed = FLib.Proc<int (*)(void*, unsigned long, int*, int*, void*, int*)>("XkbGetNamedIndicator");
    FCloseDisplay = FLib.Proc<int (*)(void*)>("XCloseDisplay");
    if (!openDisplay || !FInternAtom || !FGetNamed || !FCloseDisplay) return;
    FDisplay = openDisplay(nullptr);
    if (!FDisplay) return;
    FAtoms[0] = FInternAtom(FDisplay, "Caps Lock", 0);
    FAtoms[1] = FInternAtom(FDisplay, "Num Lock", 0);
    FAtoms[2] = FInternAtom(FDisplay, "Scroll Lock", 0);
  }
  ~TXkbLocks() {
    if (FDisplay) FCloseDisplay(FDisplay);
  }
  bool Available() const { return FDisplay != nullptr; }
  // 0 Caps, 1 Num, 2 Scroll; false when the indicator is unknown.
  bool Query(int Index, bool& On) const {
    if (!FDisplay || !FAtoms[Index]) return false;
    int ndx = 0, state = 0, real = 0;
    if (!FGetNamed(FDisplay, FAtoms[Index], &ndx, &state, nullptr, &real)) return false;
    On = state != 0;
    return true;
  }

 private:
  TDynLib FLib;
  void* FDisplay = nullptr;
  unsigned long (*FInternAtom)(void*, const char*, int) = nullptr;
  int (*FGetNamed)(void*, unsigned long, int*, int*, void*, int*) = nullptr;
  int (*FCloseDisplay)(void*) = nullptr;
  std::array<unsigned long, 3> FAtoms{};
};

TXkbLocks& Xkb() {
  static TXkbLocks locks;
  return locks;
}

bool& XkbAllowed() {
  static bool allowed = true;
  return allowed;
}

struct TTracked {
  std::array<bool, 256> Down{};
  bool Caps = false, Num = false, Scroll = false;
  uint32_t Modifiers = 0;
  uint32_t Buttons = 0;
};

TTracked& Tracked() {
  static TTracked t;
  return t;
}

bool ModifierDown(int vk) {
  const TTracked& t = Tracked();
  const uint32_t mods = t.Modifiers;
  switch (vk) {
    case VK_SHIFT: case VK_LSHIFT: case VK_RSHIFT:
      return (mods & Qt::ShiftModifier) || t.Down[VK_SHIFT];
    case VK_CONTROL: case VK_LCONTROL: case VK_RCONTROL:
      return (mods & Qt::ControlModifier) || t.Down[VK_CONTROL];
    case VK_MENU: case VK_LMENU: case VK_RMENU:
      return (mods & Qt::AltModifier) || t.Down[VK_MENU];
    default:
      return false;
  }
}

bool ButtonDown(int vk) {
  const uint32_t buttons = Tracked().Buttons;
  switch (vk) {
    case VK_LBUTTON: return buttons & Qt::LeftButton;
    case VK_RBUTTON: return buttons & Qt::RightButton;
    case VK_MBUTTON: return buttons & Qt::MiddleButton;
    default: return false;
  }
}

}  // namespace

bool KeyStateUsesXkb() { return XkbAllowed() && Xkb().Available(); }

void KeyStateAllowXkb(bool Allowed) { XkbAllowed() = Allowed; }

int16_t GetKeyState(int VirtualKey) {
  if (VirtualKey < 0 || VirtualKey > 255) return 0;
  const TTracked& t = Tracked();
  bool down = false, toggled = false;
  switch (VirtualKey) {
    case VK_LBUTTON: case VK_RBUTTON: case VK_MBUTTON:
      down = ButtonDown(VirtualKey);
      break;
    case VK_SHIFT: case VK_LSHIFT: case VK_RSHIFT:
    case VK_CONTROL: case VK_LCONTROL: case VK_RCONTROL:
    case VK_MENU: case VK_LMENU: case VK_RMENU:
      down = ModifierDown(VirtualKey);
      break;
    case VK_CAPITAL: case VK_NUMLOCK: case VK_SCROLL: {
      down = t.Down[VirtualKey];
      int index = VirtualKey == VK_CAPITAL ? 0 : VirtualKey == VK_NUMLOCK ? 1 : 2;
      bool on = false;
      if (XkbAllowed() && Xkb().Query(index, on))
        toggled = on;
      else
        toggled = index == 0 ? t.Caps : index == 1 ? t.Num : t.Scroll;
      break;
    }
    default:
      down = t.Down[VirtualKey];
  }
  uint16_t r = (down ? 0x8000u : 0u) | (toggled ? 1u : 0u);
  return static_cast<int16_t>(r);
}

void KeyStateNoteKey(Word VirtualKey, bool Down, uint32_t QtModifiers) {
  TTracked& t = Tracked();
  // A key event carries the modifiers as they were before it; the key itself changes them.
  uint32_t mods = QtModifiers & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
  uint32_t own = VirtualKey == VK_SHIFT ? Qt::ShiftModifier
                 : VirtualKey == VK_CONTROL ? Qt::ControlModifier
                 : VirtualKey == VK_MENU ? Qt::AltModifier
                                         : 0u;
  t.Modifiers = Down ? (mods | own) : (mods & ~own);
  if (VirtualKey == 0 || VirtualKey > 255) return;
  // A lock key toggles on its press (not on auto-repeat, which arrives while it is down).
  if (Down && !t.Down[VirtualKey]) {
    if (VirtualKey == VK_CAPITAL) t.Caps = !t.Caps;
    if (VirtualKey == VK_NUMLOCK) t.Num = !t.Num;
    if (VirtualKey == VK_SCROLL) t.Scroll = !t.Scroll;
  }
  t.Down[VirtualKey] = Down;
}

void KeyStateNoteInput(uint32_t QtModifiers, uint32_t QtButtons) {
  TTracked& t = Tracked();
  t.Modifiers = QtModifiers;
  t.Buttons = QtButtons;
}

void KeyStateReset() { Tracked() = TTracked{}; }

Word QtKeyToVirtualKey(int QtKey, uint32_t QtModifiers) {
  const bool keypad = QtModifiers & Qt::KeypadModifier;
  if (keypad) {
    if (QtKey >= Qt::Key_0 && QtKey <= Qt::Key_9) return static_cast<Word>(VK_NUMPAD0 + (QtKey - Qt::Key_0));
    switch (QtKey) {
      case Qt::Key_Asterisk: return VK_MULTIPLY;
      case Qt::Key_Plus: return VK_ADD;
      case Qt::Key_Minus: return VK_SUBTRACT;
      case Qt::Key_Period: case Qt::Key_Comma: return VK_DECIMAL;
      case Qt::Key_Slash: return VK_DIVIDE;
      default: break;
    }
  }
  if (QtKey >= Qt::Key_A && QtKey <= Qt::Key_Z) return static_cast<Word>('A' + (QtKey - Qt::Key_A));
  if (QtKey >= Qt::Key_0 && QtKey <= Qt::Key_9) return static_cast<Word>('0' + (QtKey - Qt::Key_0));
  if (QtKey >= Qt::Key_F1 && QtKey <= Qt::Key_F24) return static_cast<Word>(VK_F1 + (QtKey - Qt::Key_F1));
  switch (QtKey) {
    case Qt::Key_Backspace: return VK_BACK;
    case Qt::Key_Tab: case Qt::Key_Backtab: return VK_TAB;
    case Qt::Key_Clear: return VK_CLEAR;
    case Qt::Key_Return: case Qt::Key_Enter: return VK_RETURN;
    case Qt::Key_Shift: return VK_SHIFT;
    case Qt::Key_Control: return VK_CONTROL;
    case Qt::Key_Alt: case Qt::Key_AltGr: return VK_MENU;
    case Qt::Key_Pause: return VK_PAUSE;
    case Qt::Key_CapsLock: return VK_CAPITAL;
    case Qt::Key_Escape: return VK_ESCAPE;
    case Qt::Key_Space: return VK_SPACE;
    case Qt::Key_PageUp: return VK_PRIOR;
    case Qt::Key_PageDown: return VK_NEXT;
    case Qt::Key_End: return VK_END;
    case Qt::Key_Home: return VK_HOME;
    case Qt::Key_Left: return VK_LEFT;
    case Qt::Key_Up: return VK_UP;
    case Qt::Key_Right: return VK_RIGHT;
    case Qt::Key_Down: return VK_DOWN;
    case Qt::Key_Select: return VK_SELECT;
    case Qt::Key_Print: return VK_SNAPSHOT;
    case Qt::Key_Execute: return VK_EXECUTE;
    case Qt::Key_Insert: return VK_INSERT;
    case Qt::Key_Delete: return VK_DELETE;
    case Qt::Key_Help: return VK_HELP;
    case Qt::Key_Meta: return VK_LWIN;
    case Qt::Key_Menu: return VK_APPS;
    case Qt::Key_NumLock: return VK_NUMLOCK;
    case Qt::Key_ScrollLock: return VK_SCROLL;
    case Qt::Key_Semicolon: case Qt::Key_Colon: return VK_OEM_1;
    case Qt::Key_Plus: case Qt::Key_Equal: return VK_OEM_PLUS;
    case Qt::Key_Comma: case Qt::Key_Less: return VK_OEM_COMMA;
    case Qt::Key_Minus: case Qt::Key_Underscore: return VK_OEM_MINUS;
    case Qt::Key_Period: case Qt::Key_Greater: return VK_OEM_PERIOD;
    case Qt::Key_Slash: case Qt::Key_Question: return VK_OEM_2;
    case Qt::Key_QuoteLeft: case Qt::Key_AsciiTilde: return VK_OEM_3;
    case Qt::Key_BracketLeft: case Qt::Key_BraceLeft: return VK_OEM_4;
    case Qt::Key_Backslash: case Qt::Key_Bar: return VK_OEM_5;
    case Qt::Key_BracketRight: case Qt::Key_BraceRight: return VK_OEM_6;
    case Qt::Key_Apostrophe: case Qt::Key_QuoteDbl: return VK_OEM_7;
    case Qt::Key_Asterisk: return VK_MULTIPLY;
    default: return 0;
  }
}

int VirtualKeyToQtKey(Word VirtualKey) {
  if (VirtualKey >= 'A' && VirtualKey <= 'Z') return Qt::Key_A + (VirtualKey - 'A');
  if (VirtualKey >= '0' && VirtualKey <= '9') return Qt::Key_0 + (VirtualKey - '0');
  if (VirtualKey >= VK_F1 && VirtualKey <= VK_F24) return Qt::Key_F1 + (VirtualKey - VK_F1);
  if (VirtualKey >= VK_NUMPAD0 && VirtualKey <= VK_NUMPAD9) return Qt::Key_0 + (VirtualKey - VK_NUMPAD0);
  switch (VirtualKey) {
    case VK_BACK: return Qt::Key_Backspace;
    case VK_TAB: return Qt::Key_Tab;
    case VK_CLEAR: return Qt::Key_Clear;
    case VK_RETURN: return Qt::Key_Return;
    case VK_SHIFT: return Qt::Key_Shift;
    case VK_CONTROL: return Qt::Key_Control;
    case VK_MENU: return Qt::Key_Alt;
    case VK_PAUSE: return Qt::Key_Pause;
    case VK_CAPITAL: return Qt::Key_CapsLock;
    case VK_ESCAPE: return Qt::Key_Escape;
    case VK_SPACE: return Qt::Key_Space;
    case VK_PRIOR: return Qt::Key_PageUp;
    case VK_NEXT: return Qt::Key_PageDown;
    case VK_END: return Qt::Key_End;
    case VK_HOME: return Qt::Key_Home;
    case VK_LEFT: return Qt::Key_Left;
    case VK_UP: return Qt::Key_Up;
    case VK_RIGHT: return Qt::Key_Right;
    case VK_DOWN: return Qt::Key_Down;
    case VK_INSERT: return Qt::Key_Insert;
    case VK_DELETE: return Qt::Key_Delete;
    case VK_HELP: return Qt::Key_Help;
    case VK_NUMLOCK: return Qt::Key_NumLock;
    case VK_SCROLL: return Qt::Key_ScrollLock;
    case VK_MULTIPLY: return Qt::Key_Asterisk;
    case VK_ADD: case VK_OEM_PLUS: return Qt::Key_Plus;
    case VK_SUBTRACT: case VK_OEM_MINUS: return Qt::Key_Minus;
    case VK_DECIMAL: case VK_OEM_PERIOD: return Qt::Key_Period;
    case VK_DIVIDE: case VK_OEM_2: return Qt::Key_Slash;
    case VK_OEM_COMMA: return Qt::Key_Comma;
    case VK_OEM_1: return Qt::Key_Semicolon;
    case VK_OEM_3: return Qt::Key_QuoteLeft;
    case VK_OEM_4: return Qt::Key_BracketLeft;
    case VK_OEM_5: return Qt::Key_Backslash;
    case VK_OEM_6: return Qt::Key_BracketRight;
    case VK_OEM_7: return Qt::Key_Apostrophe;
    default: return 0;
  }
}

}  // namespace platform

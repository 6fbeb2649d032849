// Virtual-key codes with their documented values and a GetKeyState-like query of the keyboard.
//
// Modifier and mouse-button state is tracked from the input events our controls receive (and
// from Qt's own view of the modifiers); the lock keys (Caps, Num, Scroll) are read from the X
// server's keyboard extension when an X display is reachable, otherwise they are toggled by the
// key presses we see.
#pragma once

#include <cstdint>

namespace platform {

using Word = uint16_t;

// Virtual-key codes, with their documented values.
constexpr Word VK_LBUTTON = 0x01;
constexpr Word VK_RBUTTON = 0x02;
constexpr Word VK_CANCEL = 0x03;
constexpr Word VK_MBUTTON = 0x04;
constexpr Word VK_BACK = 0x08;
constexpr Word VK_TAB = 0x09;
constexpr Word VK_CLEAR = 0x0C;
constexpr Word VK_RETURN = 0x0D;
constexpr Word VK_SHIFT = 0x10;
constexpr Word VK_CONTROL = 0x11;
constexpr Word VK_MENU = 0x12;
constexpr Word VK_PAUSE = 0x13;
constexpr Word VK_CAPITAL = 0x14;
constexpr Word VK_ESCAPE = 0x1B;
constexpr Word VK_SPACE = 0x20;
constexpr Word VK_PRIOR = 0x21;
constexpr Word VK_NEXT = 0x22;
constexpr Word VK_END = 0x23;
constexpr Word VK_HOME = 0x24;
constexpr Word VK_LEFT = 0x25;
constexpr Word VK_UP = 0x26;
constexpr Word VK_RIGHT = 0x27;
constexpr Word VK_DOWN = 0x28;
constexpr Word VK_SELECT = 0x29;
constexpr Word VK_PRINT = 0x2A;
constexpr Word VK_EXECUTE = 0x2B;
constexpr Word VK_SNAPSHOT = 0x2C;
constexpr Word VK_INSERT = 0x2D;
constexpr Word VK_DELETE = 0x2E;
constexpr Word VK_HELP = 0x2F;
// '0'..'9' are 0x30..0x39 and 'A'..'Z' are 0x41..0x5A.
constexpr Word VK_LWIN = 0x5B;
constexpr Word VK_RWIN = 0x5C;
constexpr Word VK_APPS = 0x5D;
constexpr Word VK_NUMPAD0 = 0x60;
constexpr Word VK_NUMPAD9 = 0x69;
constexpr Word VK_MULTIPLY = 0x6A;
constexpr Word VK_ADD = 0x6B;
constexpr Word VK_SEPARATOR = 0x6C;
constexpr Word VK_SUBTRACT = 0x6D;
constexpr Word VK_DECIMAL = 0x6E;
constexpr Word VK_DIVIDE = 0x6F;
constexpr Word VK_F1 = 0x70;
constexpr Word VK_F2 = 0x71;
constexpr Word VK_F3 = 0x72;
constexpr Word VK_F4 = 0x73;
constexpr Word VK_F5 = 0x74;
constexpr Word VK_F6 = 0x75;
constexpr Word VK_F7 = 0x76;
constexpr Word VK_F8 = 0x77;
constexpr Word VK_F9 = 0x78;
constexpr Word VK_F10 = 0x79;
constexpr Word VK_F11 = 0x7A;
constexpr Word VK_F12 = 0x7B;
constexpr Word VK_F24 = 0x87;
constexpr Word VK_NUMLOCK = 0x90;
constexpr Word VK_SCROLL = 0x91;
constexpr Word VK_LSHIFT = 0xA0;
constexpr Word VK_RSHIFT = 0xA1;
constexpr Word VK_LCONTROL = 0xA2;
constexpr Word VK_RCONTROL = 0xA3;
constexpr Word VK_LMENU = 0xA4;
constexpr Word VK_RMENU = 0xA5;
constexpr Word VK_OEM_1 = 0xBA;  // ;:
constexpr Word VK_OEM_PLUS = 0xBB;
constexpr Word VK_OEM_COMMA = 0xBC;
constexpr Word VK_OEM_MINUS = 0xBD;
constexpr Word VK_OEM_PERIOD = 0xBE;
constexpr Word VK_OEM_2 = 0xBF;  // /?
constexpr Word VK_OEM_3 = 0xC0;  // `~
constexpr Word VK_OEM_4 = 0xDB;  // [{
constexpr Word VK_OEM_5 = 0xDC;  // \|
constexpr Word VK_OEM_6 = 0xDD;  // ]}
constexpr Word VK_OEM_7 = 0xDE;  // '"

// State of a key in the documented form: the high bit (the value is negative) while the
// key is down, bit 0 while a lock key is toggled on. Works for VK_SHIFT, VK_CONTROL, VK_MENU
// (and their left/right forms), the mouse buttons and the lock keys; any other key reads as
// down while a press of it is being tracked.
int16_t GetKeyState(int VirtualKey);

// Input bookkeeping, fed by the controls' event dispatch: a key event with its Qt modifiers
// (Qt::KeyboardModifiers as a plain integer, so this header stays free of Qt) ...
void KeyStateNoteKey(Word VirtualKey, bool Down, uint32_t QtModifiers);
// ... and the modifiers and buttons of a mouse event (Qt::MouseButtons as an integer).
void KeyStateNoteInput(uint32_t QtModifiers, uint32_t QtButtons);
// Forgets everything tracked (tests).
void KeyStateReset();

// True when the lock-key state comes from the X keyboard extension rather than from tracking.
bool KeyStateUsesXkb();
// Tests: with false the lock keys follow the key events seen even when an X display answers.
void KeyStateAllowXkb(bool Allowed);

// Maps a Qt key code (Qt::Key) to a virtual-key code; 0 when there is none. Keypad keys are
// told apart by KeypadModifier in QtModifiers.
Word QtKeyToVirtualKey(int QtKey, uint32_t QtModifiers);
// The Qt key code for a virtual-key code; 0 when there is none.
int VirtualKeyToQtKey(Word VirtualKey);

}  // namespace platform

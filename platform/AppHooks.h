// Application-wide hooks: listeners that watch a few window events of the GUI thread, the way
// thread hooks let a component see messages of windows it does not own. One Qt event filter on
// the application object serves every listener; it is installed with the first listener and
// removed with the last.
#pragma once

#include <cstdint>
#include <functional>

namespace platform {

class TWinControl;

// Opaque window handle: the native widget of a control (or any other widget of the program).
using HWND = void*;

// Window messages the hooks report, with their documented numbers.
constexpr uint32_t WM_DESTROY = 0x0002;
constexpr uint32_t WM_ACTIVATEAPP = 0x001C;
constexpr uint32_t WM_WINDOWPOSCHANGED = 0x0047;
constexpr uint32_t WM_KEYDOWN = 0x0100;
constexpr uint32_t WM_KEYUP = 0x0101;
constexpr uint32_t WM_MOUSEMOVE = 0x0200;

// What a listener is told.
struct THookMessage {
  uint32_t Msg = 0;
  HWND Window = nullptr;          // the window concerned
  TWinControl* Control = nullptr; // the control owning that window, when it is one of ours
  intptr_t WParam = 0;            // WM_ACTIVATEAPP: 1 activated, 0 deactivated; WM_MOUSEMOVE: key flags;
                                  // WM_KEYDOWN/UP: the virtual key
  intptr_t LParam = 0;            // WM_MOUSEMOVE: client x in the low word, y in the high word;
                                  // WM_KEYDOWN/UP: bit 31 released, bit 30 was down before
};

// The hook kinds, each seeing its own messages:
//   hkCallWndProc: WM_ACTIVATEAPP and WM_WINDOWPOSCHANGED (move or resize of any window);
//   hkCBT: WM_DESTROY (a window of ours is being destroyed);
//   hkGetMessage: WM_MOUSEMOVE over any window of the program;
//   hkKeyboard: WM_KEYDOWN and WM_KEYUP of every key event any window of the program receives,
//   once per event, after the key state (GetKeyState) has taken it in.
enum THookKind { hkCallWndProc, hkCBT, hkGetMessage, hkKeyboard };

using THookProc = std::function<void(const THookMessage&)>;
using THookHandle = int32_t;

// Adds a listener; returns its handle (never 0).
THookHandle SetAppHook(THookKind Kind, THookProc Proc);
// Removes a listener; unknown handles are ignored. Returns whether one was removed.
bool UnhookAppHook(THookHandle Handle);
int AppHookCount(THookKind Kind);

// True while a window of the program is the active one.
bool ApplicationIsActive();
// The window of ours that is active, or nullptr.
HWND GetActiveWindow();

// Called by the controls when a window goes away (there is no Qt event for it that a filter sees
// in time).
void AppHooksWindowDestroyed(HWND Window, TWinControl* Control);
// Runs every listener of Kind with Msg. Listener exceptions are discarded; the next one runs.
void AppHooksDispatch(THookKind Kind, const THookMessage& Msg);

}  // namespace platform

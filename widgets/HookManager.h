// Window-hook manager: lets any number of controls watch a few window events of the GUI thread
// through one shared set of thread hooks. A listener registers a procedure with the events it
// wants; the hooks those events need are installed for the first listener and removed with the
// last. The toolbar buttons use it to drop their hot look when the application is deactivated
// or the mouse moves elsewhere.
#pragma once

#include <cstdint>

#include "platform/AppHooks.h"

namespace widgets {

using platform::HWND;

enum THookEventCode : uint8_t { hcActivateApp, hcWindowPosChanged, hcWindowDestroy, hcMouseMove };
// A set of THookEventCode values, one bit per code.
using THookEventCodes = uint8_t;
constexpr THookEventCodes HookCodes(THookEventCode Code) { return static_cast<THookEventCodes>(1u << Code); }

// The three thread-hook kinds, with their documented numbers.
constexpr int32_t WH_GETMESSAGE = 3;
constexpr int32_t WH_CALLWNDPROC = 4;
constexpr int32_t WH_CBT = 5;
enum THookKindIndex : uint8_t { hkiCallWndProc, hkiCBT, hkiGetMessage };
// A set of THookKindIndex values, one bit per kind.
using THookKinds = uint8_t;
constexpr THookKinds HookKinds(THookKindIndex Kind) { return static_cast<THookKinds>(1u << Kind); }
constexpr THookKinds AllHookKinds = 7;
// The hook kind that serves each event code.
constexpr THookKindIndex HookCodesToKinds[4] = {hkiCallWndProc, hkiCallWndProc, hkiCBT, hkiGetMessage};
THookKinds KindsOfCodes(THookEventCodes Codes);

// A listener: the event code, the window concerned and the message's parameters.
using THookEventProc = void (*)(THookEventCode Code, HWND Wnd, intptr_t WParam, intptr_t LParam);

// Registers Proc for Codes (a second registration of the same procedure raises its count);
// unless OnlyIncrementCount, the hooks of these codes get one more user.
void InstallHookProc(THookEventProc Proc, THookEventCodes Codes, bool OnlyIncrementCount);
// Takes one registration of Proc away and one user from the hooks of its stored codes.
void RemoveHookProc(THookEventProc Proc);
void InstallHooks(THookKinds Kinds);
// One user less per kind (never below 0); the hook goes when unused or with Force.
void RemoveHooks(THookKinds Kinds, bool Force);
// True while a window of the program is the active one.
bool ApplicationIsActive();
// Removes every hook and forgets all listeners.
void FinalizeHookManager();

// State, for tests and consistency checks.
int32_t HookUserCount(THookKindIndex Kind);
bool HookInstalled(THookKindIndex Kind);
// Number of listener records; -1 while the list does not exist.
int32_t HookListenerCount();
// Reference count of Proc's record, 0 when not listed.
int32_t HookProcRefCount(THookEventProc Proc);

}  // namespace widgets

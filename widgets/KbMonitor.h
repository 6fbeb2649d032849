// Binding of the optional keyboard-monitor library, which tells registered windows about lock-key
// changes by message. The library does not exist on Linux, so loading normally fails and the
// status bar keeps watching the lock keys itself; any library honouring the two exports below
// can stand in.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace widgets {

using KbHWND = void*;
// RegisterKeyboardHook(Window) -> message number; DeregisterKeyboardHook(Window).
using TRegisterKeyboardHook = uint32_t (*)(KbHWND Window);
using TDeregisterKeyboardHook = uint32_t (*)(KbHWND Window);

std::string& KbMonitorLibName();
bool KbMonitorLoaded();

// Frees a library still held, then loads KbMonitorLibName and looks up both exports.
bool LoadMonitorLibrary();
void LoadKeyboardMonitor();
// Deregisters every registered window, newest first, then frees the library.
void UnloadKeyboardMonitor();
inline void UnloadMonitorLibrary() { UnloadKeyboardMonitor(); }
// 0 and nothing registered when the export is missing.
uint32_t RegisterKeyboardWindow(KbHWND Window);
void DeregisterKeyboardWindow(KbHWND Window);
// The registered windows in registration order.
const std::vector<KbHWND>& KbMonitorWindows();

void InitializeKbMonitor();
void FinalizeKbMonitor();

// Test seam: replaces the loader (load by name, look up, free) so the contract can be exercised
// without a real library. Passing empty functions restores the system loader.
struct TKbMonitorLoader {
  void* (*Load)(const std::string& FileName) = nullptr;
  void* (*Proc)(void* Module, const std::string& Name) = nullptr;
  bool (*Free)(void* Module) = nullptr;
};
void SetKbMonitorLoader(const TKbMonitorLoader& Loader);

}  // namespace widgets

#include "widgets/KbMonitor.h"

#include <algorithm>

#include "platform/DynLib.h"

namespace widgets {

namespace {

struct TState {
  std::string LibName = "KbMonitor.dll";
  bool Loaded = false;
  void* Module = nullptr;
  TRegisterKeyboardHook Register = nullptr;
  TDeregisterKeyboardHook Deregister = nullptr;
  std::vector<KbHWND> Windows;
  int32_t InitCount = 0;
  TKbMonitorLoader Loader;
};

TState& S() {
  static TState St;
  return St;
}

void* DoLoad(const std::string& N) {
  return S().Loader.Load ? S().Loader.Load(N) : platform::LoadLibrary(N);
}
void* DoProc(void* M, const std::string& N) {
  return S().Loader.Proc ? S().Loader.Proc(M, N) : platform::GetProcAddress(M, N);
}
bool DoFree(void* M) { return S().Loader.Free ? S().Loader.Free(M) : platform::FreeLibrary(M); }

}  // namespace

std::string& KbMonitorLibName() { return S().LibName; }
bool KbMonitorLoaded() { return S().Loaded; }
const std::vector<KbHWND>& KbMonitorWindows() { return S().Windows; }
void SetKbMonitorLoader(const TKbMonitorLoader& Loader) { S().Loader = Loader; }

bool LoadMonitorLibrary() {
  TState& St = S();
  if (St.Module) {
    DoFree(St.Module);
    St.Module = nullptr;
  }
  // dlopen shows no error box, so there is no error mode to switch around the call.
  St.Module = DoLoad(St.LibName);
  St.Register = nullptr;
  St.Deregister = nullptr;
  if (St.Module) {
    St.Register = reinterpret_cast<TRegisterKeyboardHook>(DoProc(St.Module, "RegisterKeyboardHook"));
    St.Deregister =
        reinterpret_cast<TDeregisterKeyboardHook>(DoProc(St.Module, "DeregisterKeyboardHook"));
  }
  return St.Module != nullptr;
}

void LoadKeyboardMonitor() { S().Loaded = LoadMonitorLibrary(); }

void UnloadKeyboardMonitor() {
  TState& St = S();
  if (!St.Module) return;
  for (size_t I = St.Windows.size(); I-- > 0;) DeregisterKeyboardWindow(St.Windows[I]);
  if (DoFree(St.Module)) {
    St.Module = nullptr;
    St.Loaded = false;
    St.Register = nullptr;
    St.Deregister = nullptr;
  }
}

uint32_t RegisterKeyboardWindow(KbHWND Window) {
  TState& St = S();
  if (!St.Register) return 0;
  St.Windows.push_back(Window);
  return St.Register(Window);
}

void DeregisterKeyboardWindow(KbHWND Window) {
  TState& St = S();
  if (!St.Deregister) return;
  auto It = std::find(St.Windows.begin(), St.Windows.end(), Window);
  if (It != St.Windows.end()) St.Windows.erase(It);
  St.Deregister(Window);
}

void InitializeKbMonitor() {
  if (S().InitCount++ > 0) return;
  S().Windows.clear();
  S().LibName = "KbMonitor.dll";
  S().Module = nullptr;
}

void FinalizeKbMonitor() {
  if (S().InitCount <= 0 || --S().InitCount > 0) return;
  UnloadMonitorLibrary();
  S().Windows.clear();
}

}  // namespace widgets

#include "widgets/HookManager.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace widgets {
namespace {

struct THookRecord {
  THookEventProc Proc;
  int32_t RefCount;
  THookEventCodes Codes;
};

struct THookState {
  // Exists only while at least one listener is registered.
  std::unique_ptr<std::vector<THookRecord>> List;
  platform::THookHandle Handles[3] = {0, 0, 0};
  int32_t UserCounts[3] = {0, 0, 0};
};

THookState& State() {
  static THookState state;
  return state;
}

// Calls every listener of Code; the list is copied first so listeners may register or leave
// while the dispatch runs. A listener that left meanwhile is not called.
void Dispatch(THookEventCode Code, HWND Wnd, intptr_t WParam, intptr_t LParam) {
  THookState& s = State();
  if (!s.List) return;
  const std::vector<THookRecord> snapshot = *s.List;
  for (const THookRecord& r : snapshot) {
    if (!(r.Codes & HookCodes(Code))) continue;
    if (HookProcRefCount(r.Proc) == 0) continue;
    try {
      r.Proc(Code, Wnd, WParam, LParam);
    } catch (...) {
      // A failing listener must not stop the others or the hook chain.
    }
  }
}

void CallWndProcHook(const platform::THookMessage& M) {
  if (!State().List) return;
  if (M.Msg == platform::WM_ACTIVATEAPP)
    Dispatch(hcActivateApp, M.Window, M.WParam, M.LParam);
  else if (M.Msg == platform::WM_WINDOWPOSCHANGED)
    Dispatch(hcWindowPosChanged, M.Window, M.WParam, M.LParam);
}

void CBTHook(const platform::THookMessage& M) {
  if (!State().List || M.Msg != platform::WM_DESTROY) return;
  Dispatch(hcWindowDestroy, M.Window, 0, 0);
}

void GetMessageHook(const platform::THookMessage& M) {
  if (!State().List || M.Msg != platform::WM_MOUSEMOVE) return;
  Dispatch(hcMouseMove, M.Window, M.WParam, M.LParam);
}

platform::THookHandle SetHook(THookKindIndex Kind) {
  switch (Kind) {
    case hkiCallWndProc: return platform::SetAppHook(platform::hkCallWndProc, CallWndProcHook);
    case hkiCBT: return platform::SetAppHook(platform::hkCBT, CBTHook);
    case hkiGetMessage: return platform::SetAppHook(platform::hkGetMessage, GetMessageHook);
  }
  return 0;
}

std::vector<THookRecord>::iterator FindRecord(THookEventProc Proc) {
  auto& list = *State().List;
  return std::find_if(list.begin(), list.end(), [Proc](const THookRecord& r) { return r.Proc == Proc; });
}

}  // namespace

THookKinds KindsOfCodes(THookEventCodes Codes) {
  THookKinds kinds = 0;
  for (int c = 0; c < 4; ++c)
    if (Codes & (1u << c)) kinds |= HookKinds(HookCodesToKinds[c]);
  return kinds;
}

void InstallHookProc(THookEventProc Proc, THookEventCodes Codes, bool OnlyIncrementCount) {
  if (!Proc) return;
  THookState& s = State();
  if (!s.List) s.List = std::make_unique<std::vector<THookRecord>>();
  auto it = FindRecord(Proc);
  if (it != s.List->end())
    ++it->RefCount;
  else
    s.List->push_back({Proc, 1, Codes});
  if (!OnlyIncrementCount) InstallHooks(KindsOfCodes(Codes));
}

void RemoveHookProc(THookEventProc Proc) {
  THookState& s = State();
  if (!s.List) return;
  auto it = FindRecord(Proc);
  if (it != s.List->end()) {
    const THookKinds kinds = KindsOfCodes(it->Codes);
    if (--it->RefCount <= 0) s.List->erase(it);
    RemoveHooks(kinds, false);
  }
  if (s.List->empty()) s.List.reset();
}

void InstallHooks(THookKinds Kinds) {
  THookState& s = State();
  for (int k = 0; k < 3; ++k) {
    if (!(Kinds & (1u << k))) continue;
    ++s.UserCounts[k];
    if (s.Handles[k] == 0) s.Handles[k] = SetHook(static_cast<THookKindIndex>(k));
  }
}

void RemoveHooks(THookKinds Kinds, bool Force) {
  THookState& s = State();
  for (int k = 0; k < 3; ++k) {
    if (!(Kinds & (1u << k))) continue;
    if (s.UserCounts[k] > 0) --s.UserCounts[k];
    if ((Force || s.UserCounts[k] == 0) && s.Handles[k] != 0) {
      platform::UnhookAppHook(s.Handles[k]);
      s.Handles[k] = 0;
    }
  }
}

bool ApplicationIsActive() { return platform::GetActiveWindow() != nullptr; }

void FinalizeHookManager() {
  RemoveHooks(AllHookKinds, true);
  State().List.reset();
  for (int32_t& c : State().UserCounts) c = 0;
}

int32_t HookUserCount(THookKindIndex Kind) { return State().UserCounts[Kind]; }
bool HookInstalled(THookKindIndex Kind) { return State().Handles[Kind] != 0; }

int32_t HookListenerCount() {
  const THookState& s = State();
  return s.List ? static_cast<int32_t>(s.List->size()) : -1;
}

int32_t HookProcRefCount(THookEventProc Proc) {
  THookState& s = State();
  if (!s.List) return 0;
  auto it = FindRecord(Proc);
  return it == s.List->end() ? 0 : it->RefCount;
}

}  // namespace widgets

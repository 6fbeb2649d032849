#include "widgets/HookManager.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace {

using namespace widgets;

struct TCall {
  int Listener;
  THookEventCode Code;
  HWND Wnd;
  intptr_t WParam;
  intptr_t LParam;
};
std::vector<TCall> gCalls;

void ListenerA(THookEventCode c, HWND w, intptr_t wp, intptr_t lp) { gCalls.push_back({1, c, w, wp, lp}); }
void ListenerB(THookEventCode c, HWND w, intptr_t wp, intptr_t lp) { gCalls.push_back({2, c, w, wp, lp}); }
void Throwing(THookEventCode c, HWND w, intptr_t wp, intptr_t lp) {
  gCalls.push_back({3, c, w, wp, lp});
  throw std::runtime_error("listener failed");
}
void RemovesB(THookEventCode c, HWND w, intptr_t wp, intptr_t lp) {
  gCalls.push_back({4, c, w, wp, lp});
  RemoveHookProc(ListenerB);
}

class HookManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FinalizeHookManager();
    gCalls.clear();
  }
  void TearDown() override { FinalizeHookManager(); }
  static void Send(platform::THookKind Kind, uint32_t Msg, intptr_t WParam = 0, intptr_t LParam = 0) {
    platform::THookMessage m;
    m.Msg = Msg;
    m.Window = reinterpret_cast<HWND>(0x1234);
    m.WParam = WParam;
    m.LParam = LParam;
    platform::AppHooksDispatch(Kind, m);
  }
};

TEST_F(HookManagerTest, CodesMapToTheirHookKinds) {
  EXPECT_EQ(KindsOfCodes(HookCodes(hcActivateApp) | HookCodes(hcWindowPosChanged)), HookKinds(hkiCallWndProc));
  EXPECT_EQ(KindsOfCodes(HookCodes(hcWindowDestroy)), HookKinds(hkiCBT));
  EXPECT_EQ(KindsOfCodes(HookCodes(hcMouseMove)), HookKinds(hkiGetMessage));
  EXPECT_EQ(KindsOfCodes(0), 0);
}

TEST_F(HookManagerTest, HooksFollowTheirUsers) {
  EXPECT_EQ(HookListenerCount(), -1);
  const int before = platform::AppHookCount(platform::hkGetMessage);
  InstallHookProc(ListenerA, HookCodes(hcActivateApp) | HookCodes(hcMouseMove), false);
  EXPECT_EQ(HookListenerCount(), 1);
  EXPECT_TRUE(HookInstalled(hkiCallWndProc));
  EXPECT_TRUE(HookInstalled(hkiGetMessage));
  EXPECT_FALSE(HookInstalled(hkiCBT));
  EXPECT_EQ(platform::AppHookCount(platform::hkGetMessage), before + 1);
  RemoveHookProc(ListenerA);
  EXPECT_EQ(HookListenerCount(), -1);
  EXPECT_FALSE(HookInstalled(hkiCallWndProc));
  EXPECT_FALSE(HookInstalled(hkiGetMessage));
  EXPECT_EQ(platform::AppHookCount(platform::hkGetMessage), before);
}

TEST_F(HookManagerTest, SecondRegistrationSharesTheRecordAndCountsUsers) {
  const THookEventCodes codes = HookCodes(hcActivateApp) | HookCodes(hcMouseMove);
  InstallHookProc(ListenerA, codes, false);
  InstallHookProc(ListenerA, codes, false);
  EXPECT_EQ(HookListenerCount(), 1);
  EXPECT_EQ(HookProcRefCount(ListenerA), 2);
  EXPECT_EQ(HookUserCount(hkiCallWndProc), 2);
  EXPECT_EQ(HookUserCount(hkiGetMessage), 2);
  RemoveHookProc(ListenerA);
  EXPECT_EQ(HookProcRefCount(ListenerA), 1);
  EXPECT_EQ(HookUserCount(hkiCallWndProc), 1);
  EXPECT_TRUE(HookInstalled(hkiCallWndProc));
  RemoveHookProc(ListenerA);
  EXPECT_EQ(HookUserCount(hkiCallWndProc), 0);
  EXPECT_FALSE(HookInstalled(hkiCallWndProc));
}

TEST_F(HookManagerTest, OnlyIncrementCountInstallsNothingAndRemovalStaysAtZero) {
  InstallHookProc(ListenerA, HookCodes(hcActivateApp) | HookCodes(hcMouseMove), true);
  EXPECT_EQ(HookProcRefCount(ListenerA), 1);
  EXPECT_FALSE(HookInstalled(hkiCallWndProc));
  EXPECT_EQ(HookUserCount(hkiCallWndProc), 0);
  RemoveHookProc(ListenerA);
  EXPECT_EQ(HookUserCount(hkiCallWndProc), 0);
  EXPECT_EQ(HookUserCount(hkiGetMessage), 0);
  EXPECT_EQ(HookListenerCount(), -1);
}

TEST_F(HookManagerTest, RemovingAnUnknownProcedureChangesNothing) {
  InstallHookProc(ListenerA, HookCodes(hcMouseMove), false);
  RemoveHookProc(ListenerB);
  EXPECT_EQ(HookProcRefCount(ListenerA), 1);
  EXPECT_EQ(HookUserCount(hkiGetMessage), 1);
  RemoveHookProc(ListenerB);  // without a list at all
  RemoveHookProc(ListenerA);
  RemoveHookProc(ListenerA);
  EXPECT_EQ(HookListenerCount(), -1);
}

TEST_F(HookManagerTest, RemoveHooksNeverGoesBelowZeroAndForceUnhooks) {
  InstallHooks(HookKinds(hkiCBT));
  InstallHooks(HookKinds(hkiCBT));
  RemoveHooks(HookKinds(hkiCBT), true);
  EXPECT_EQ(HookUserCount(hkiCBT), 1);
  EXPECT_FALSE(HookInstalled(hkiCBT));
  RemoveHooks(HookKinds(hkiCBT), false);
  RemoveHooks(HookKinds(hkiCBT), false);
  EXPECT_EQ(HookUserCount(hkiCBT), 0);
}

TEST_F(HookManagerTest, DispatchReachesListenersOfTheCodeInOrder) {
  InstallHookProc(ListenerA, HookCodes(hcActivateApp) | HookCodes(hcMouseMove), false);
  InstallHookProc(ListenerB, HookCodes(hcActivateApp) | HookCodes(hcWindowPosChanged) | HookCodes(hcWindowDestroy), false);

  Send(platform::hkCallWndProc, platform::WM_ACTIVATEAPP, 0, 7);
  ASSERT_EQ(gCalls.size(), 2u);
  EXPECT_EQ(gCalls[0].Listener, 1);
  EXPECT_EQ(gCalls[1].Listener, 2);
  EXPECT_EQ(gCalls[0].Code, hcActivateApp);
  EXPECT_EQ(gCalls[0].WParam, 0);
  EXPECT_EQ(gCalls[0].LParam, 7);
  EXPECT_EQ(gCalls[0].Wnd, reinterpret_cast<HWND>(0x1234));

  gCalls.clear();
  Send(platform::hkCallWndProc, platform::WM_WINDOWPOSCHANGED);
  ASSERT_EQ(gCalls.size(), 1u);
  EXPECT_EQ(gCalls[0].Listener, 2);
  EXPECT_EQ(gCalls[0].Code, hcWindowPosChanged);

  gCalls.clear();
  Send(platform::hkCBT, platform::WM_DESTROY, 5, 6);
  ASSERT_EQ(gCalls.size(), 1u);
  EXPECT_EQ(gCalls[0].Code, hcWindowDestroy);
  EXPECT_EQ(gCalls[0].WParam, 0);  // the destroy notice carries only the window
  EXPECT_EQ(gCalls[0].LParam, 0);

  gCalls.clear();
  Send(platform::hkGetMessage, platform::WM_MOUSEMOVE, 1, (20 << 16) | 10);
  ASSERT_EQ(gCalls.size(), 1u);
  EXPECT_EQ(gCalls[0].Listener, 1);
  EXPECT_EQ(gCalls[0].Code, hcMouseMove);
  EXPECT_EQ(gCalls[0].LParam, (20 << 16) | 10);
}

TEST_F(HookManagerTest, OtherMessagesReachNoListener) {
  InstallHookProc(ListenerA, 0x0F, false);
  Send(platform::hkCallWndProc, platform::WM_MOUSEMOVE);
  Send(platform::hkGetMessage, platform::WM_ACTIVATEAPP);
  Send(platform::hkCBT, platform::WM_MOUSEMOVE);
  EXPECT_TRUE(gCalls.empty());
}

TEST_F(HookManagerTest, AFailingListenerDoesNotStopTheOthers) {
  InstallHookProc(Throwing, HookCodes(hcMouseMove), false);
  InstallHookProc(ListenerA, HookCodes(hcMouseMove), false);
  Send(platform::hkGetMessage, platform::WM_MOUSEMOVE);
  ASSERT_EQ(gCalls.size(), 2u);
  EXPECT_EQ(gCalls[0].Listener, 3);
  EXPECT_EQ(gCalls[1].Listener, 1);
}

TEST_F(HookManagerTest, AListenerMayRemoveAnotherDuringDispatch) {
  InstallHookProc(RemovesB, HookCodes(hcMouseMove), false);
  InstallHookProc(ListenerB, HookCodes(hcMouseMove), false);
  InstallHookProc(ListenerA, HookCodes(hcMouseMove), false);
  Send(platform::hkGetMessage, platform::WM_MOUSEMOVE);
  ASSERT_EQ(gCalls.size(), 2u);
  EXPECT_EQ(gCalls[0].Listener, 4);
  EXPECT_EQ(gCalls[1].Listener, 1);  // B left before its turn
  EXPECT_EQ(HookListenerCount(), 2);
}

TEST_F(HookManagerTest, FinalizeRemovesEverything) {
  InstallHookProc(ListenerA, 0x0F, false);
  InstallHookProc(ListenerA, 0x0F, false);
  FinalizeHookManager();
  EXPECT_EQ(HookListenerCount(), -1);
  for (auto k : {hkiCallWndProc, hkiCBT, hkiGetMessage}) EXPECT_FALSE(HookInstalled(k));
  Send(platform::hkGetMessage, platform::WM_MOUSEMOVE);
  EXPECT_TRUE(gCalls.empty());
}

}  // namespace

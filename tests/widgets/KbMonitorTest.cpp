#include "widgets/KbMonitor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace widgets;

namespace {

// A stand-in library honouring the contract, with a log of what happened to it.
std::vector<std::string> Log;
bool FreeFails = false;
bool HasExports = true;
int Handle = 0;

uint32_t FakeRegister(KbHWND W) {
  Log.push_back("reg " + std::to_string(reinterpret_cast<uintptr_t>(W)));
  return 49152;
}
uint32_t FakeDeregister(KbHWND W) {
  Log.push_back("dereg " + std::to_string(reinterpret_cast<uintptr_t>(W)));
  return 1;
}

class KbMonitorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Log.clear();
    FreeFails = false;
    HasExports = true;
    SetKbMonitorLoader({[](const std::string& N) -> void* {
                          Log.push_back("load " + N);
                          return &Handle;
                        },
                        [](void*, const std::string& N) -> void* {
                          if (!HasExports) return nullptr;
                          if (N == "RegisterKeyboardHook") return reinterpret_cast<void*>(&FakeRegister);
                          if (N == "DeregisterKeyboardHook") return reinterpret_cast<void*>(&FakeDeregister);
                          return nullptr;
                        },
                        [](void*) {
                          Log.push_back("free");
                          return !FreeFails;
                        }});
  }
  void TearDown() override {
    FreeFails = false;
    UnloadKeyboardMonitor();
    SetKbMonitorLoader({});
  }
};

KbHWND W(uintptr_t N) { return reinterpret_cast<KbHWND>(N); }

}  // namespace

TEST(KbMonitorAbsent, TheLibraryDoesNotExistOnLinux) {
  EXPECT_EQ(KbMonitorLibName(), "KbMonitor.dll");
  LoadKeyboardMonitor();
  EXPECT_FALSE(KbMonitorLoaded());
  // Without the export registration is a no-op returning 0.
  EXPECT_EQ(RegisterKeyboardWindow(W(1)), 0u);
  EXPECT_TRUE(KbMonitorWindows().empty());
  DeregisterKeyboardWindow(W(1));
  UnloadKeyboardMonitor();
  EXPECT_FALSE(KbMonitorLoaded());
}

TEST_F(KbMonitorTest, LoadingTwiceFreesTheFirstHandle) {
  LoadKeyboardMonitor();
  LoadKeyboardMonitor();
  EXPECT_TRUE(KbMonitorLoaded());
  EXPECT_EQ(Log, (std::vector<std::string>{"load KbMonitor.dll", "free", "load KbMonitor.dll"}));
}

TEST_F(KbMonitorTest, UnloadDeregistersNewestFirst) {
  LoadKeyboardMonitor();
  EXPECT_EQ(RegisterKeyboardWindow(W(1)), 49152u);
  EXPECT_EQ(RegisterKeyboardWindow(W(2)), 49152u);
  EXPECT_EQ(KbMonitorWindows().size(), 2u);
  Log.clear();
  UnloadKeyboardMonitor();
  EXPECT_EQ(Log, (std::vector<std::string>{"dereg 2", "dereg 1", "free"}));
  EXPECT_FALSE(KbMonitorLoaded());
  EXPECT_TRUE(KbMonitorWindows().empty());
}

TEST_F(KbMonitorTest, FailedFreeKeepsTheLibrary) {
  LoadKeyboardMonitor();
  FreeFails = true;
  UnloadKeyboardMonitor();
  EXPECT_TRUE(KbMonitorLoaded());
}

TEST_F(KbMonitorTest, MissingExportsMakeRegistrationANoOp) {
  HasExports = false;
  LoadKeyboardMonitor();
  EXPECT_TRUE(KbMonitorLoaded());
  EXPECT_EQ(RegisterKeyboardWindow(W(7)), 0u);
  EXPECT_TRUE(KbMonitorWindows().empty());
  DeregisterKeyboardWindow(W(7));
  EXPECT_EQ(Log, (std::vector<std::string>{"load KbMonitor.dll"}));
}

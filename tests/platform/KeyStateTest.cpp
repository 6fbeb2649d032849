#include "platform/KeyState.h"

#include <gtest/gtest.h>

#include <Qt>

using namespace platform;

TEST(KeyStateTest, DocumentedKeyCodes) {
  EXPECT_EQ(VK_BACK, 8);
  EXPECT_EQ(VK_TAB, 9);
  EXPECT_EQ(VK_RETURN, 13);
  EXPECT_EQ(VK_SHIFT, 16);
  EXPECT_EQ(VK_CONTROL, 17);
  EXPECT_EQ(VK_MENU, 18);
  EXPECT_EQ(VK_CAPITAL, 20);
  EXPECT_EQ(VK_ESCAPE, 27);
  EXPECT_EQ(VK_LEFT, 37);
  EXPECT_EQ(VK_RIGHT, 39);
  EXPECT_EQ(VK_DELETE, 46);
  EXPECT_EQ(VK_F2, 113);
  EXPECT_EQ(VK_F5, 116);
  EXPECT_EQ(VK_NUMLOCK, 0x90);
  EXPECT_EQ(VK_SCROLL, 0x91);
}

TEST(KeyStateTest, QtKeysMapBothWays) {
  for (int k = 'A'; k <= 'Z'; ++k) {
    EXPECT_EQ(QtKeyToVirtualKey(Qt::Key_A + (k - 'A'), 0), k);
    EXPECT_EQ(VirtualKeyToQtKey(static_cast<Word>(k)), Qt::Key_A + (k - 'A'));
  }
  for (int k = 0; k < 24; ++k) {
    EXPECT_EQ(QtKeyToVirtualKey(Qt::Key_F1 + k, 0), VK_F1 + k);
    EXPECT_EQ(VirtualKeyToQtKey(static_cast<Word>(VK_F1 + k)), Qt::Key_F1 + k);
  }
  const Word named[] = {VK_BACK,  VK_TAB,   VK_RETURN, VK_ESCAPE, VK_SPACE, VK_PRIOR,   VK_NEXT,
                        VK_END,   VK_HOME,  VK_LEFT,   VK_UP,     VK_RIGHT, VK_DOWN,    VK_INSERT,
                        VK_DELETE, VK_SHIFT, VK_CONTROL, VK_MENU,  VK_CAPITAL, VK_NUMLOCK, VK_SCROLL,
                        '0',      '9',      VK_OEM_COMMA, VK_OEM_PERIOD, VK_OEM_MINUS, VK_OEM_2};
  for (Word vk : named) {
    const int qt = VirtualKeyToQtKey(vk);
    ASSERT_NE(qt, 0) << vk;
    EXPECT_EQ(QtKeyToVirtualKey(qt, 0), vk) << vk;
  }
  EXPECT_EQ(QtKeyToVirtualKey(Qt::Key_Enter, Qt::KeypadModifier), VK_RETURN);
  EXPECT_EQ(QtKeyToVirtualKey(Qt::Key_7, Qt::KeypadModifier), VK_NUMPAD0 + 7);
  EXPECT_EQ(QtKeyToVirtualKey(Qt::Key_Plus, Qt::KeypadModifier), VK_ADD);
  EXPECT_EQ(QtKeyToVirtualKey(Qt::Key_Backtab, 0), VK_TAB);
  EXPECT_EQ(QtKeyToVirtualKey(Qt::Key_unknown, 0), 0);
  EXPECT_EQ(VirtualKeyToQtKey(0xFF), 0);
}

TEST(KeyStateTest, TrackedKeysModifiersAndButtons) {
  KeyStateReset();
  EXPECT_EQ(GetKeyState(VK_SHIFT), 0);
  KeyStateNoteKey(VK_SHIFT, true, 0);
  EXPECT_LT(GetKeyState(VK_SHIFT), 0);
  EXPECT_LT(GetKeyState(VK_LSHIFT), 0);
  // A release event still carries the modifier it releases.
  KeyStateNoteKey(VK_SHIFT, false, Qt::ShiftModifier);
  EXPECT_EQ(GetKeyState(VK_SHIFT), 0);

  KeyStateNoteKey('Q', true, 0);
  EXPECT_LT(GetKeyState('Q'), 0);
  KeyStateNoteKey('Q', false, 0);
  EXPECT_EQ(GetKeyState('Q'), 0);

  // A mouse event tells the modifiers and buttons held.
  KeyStateNoteInput(Qt::ControlModifier | Qt::AltModifier, Qt::LeftButton | Qt::MiddleButton);
  EXPECT_LT(GetKeyState(VK_CONTROL), 0);
  EXPECT_LT(GetKeyState(VK_MENU), 0);
  EXPECT_LT(GetKeyState(VK_LBUTTON), 0);
  EXPECT_LT(GetKeyState(VK_MBUTTON), 0);
  EXPECT_EQ(GetKeyState(VK_RBUTTON), 0);
  KeyStateNoteInput(0, 0);
  EXPECT_EQ(GetKeyState(VK_CONTROL), 0);
  EXPECT_EQ(GetKeyState(-1), 0);
  EXPECT_EQ(GetKeyState(300), 0);
}

TEST(KeyStateTest, LockKeysToggleOnPressOnly) {
  if (KeyStateUsesXkb()) GTEST_SKIP() << "lock keys come from the X server here";
  KeyStateReset();
  EXPECT_EQ(GetKeyState(VK_CAPITAL) & 1, 0);
  KeyStateNoteKey(VK_CAPITAL, true, 0);
  EXPECT_EQ(GetKeyState(VK_CAPITAL) & 1, 1);
  EXPECT_LT(GetKeyState(VK_CAPITAL), 0);
  KeyStateNoteKey(VK_CAPITAL, true, 0);  // auto-repeat
  EXPECT_EQ(GetKeyState(VK_CAPITAL) & 1, 1);
  KeyStateNoteKey(VK_CAPITAL, false, 0);
  EXPECT_EQ(static_cast<uint16_t>(GetKeyState(VK_CAPITAL)), 1u);
  KeyStateNoteKey(VK_CAPITAL, true, 0);
  KeyStateNoteKey(VK_CAPITAL, false, 0);
  EXPECT_EQ(GetKeyState(VK_CAPITAL), 0);

  KeyStateNoteKey(VK_NUMLOCK, true, 0);
  KeyStateNoteKey(VK_NUMLOCK, false, 0);
  KeyStateNoteKey(VK_SCROLL, true, 0);
  KeyStateNoteKey(VK_SCROLL, false, 0);
  EXPECT_EQ(GetKeyState(VK_NUMLOCK), 1);
  EXPECT_EQ(GetKeyState(VK_SCROLL), 1);
  KeyStateReset();
}

TEST(KeyStateTest, LockKeysFromTheXServerIgnoreTrackedPresses) {
  if (!KeyStateUsesXkb()) GTEST_SKIP() << "no X display";
  KeyStateReset();
  const int16_t before = GetKeyState(VK_CAPITAL) & 1;
  // Events the program merely saw do not toggle the server's lock state.
  KeyStateNoteKey(VK_CAPITAL, true, 0);
  KeyStateNoteKey(VK_CAPITAL, false, 0);
  EXPECT_EQ(GetKeyState(VK_CAPITAL) & 1, before);
  EXPECT_EQ(GetKeyState(VK_NUMLOCK) & ~1, 0);
  KeyStateReset();
}

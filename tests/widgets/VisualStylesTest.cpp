// The styles binding: bound once a GUI application exists, with the two classes the renderer
// opens, and control pictures that change pixels.
#include "widgets/VisualStyles.h"

#include <gtest/gtest.h>

#include "platform/Graphics.h"

using namespace platform;
using namespace widgets;

namespace {

int Changed(TBitmap& bmp) {
  int n = 0;
  for (int y = 0; y < bmp.Height(); ++y)
    for (int x = 0; x < bmp.Width(); ++x) n += bmp.Canvas()->Pixel(x, y) != clWhite;
  return n;
}

TEST(VisualStyles, BindingAndClasses) {
  InitializeVisualStyles();
  EXPECT_TRUE(ThemeLibraryBound());
  EXPECT_TRUE(IsThemedOS());
  EXPECT_TRUE(IsThemeActive());
  HTHEME button = OpenThemeData(nullptr, "BUTTON");
  HTHEME combo = OpenThemeData(nullptr, "combobox");
  EXPECT_NE(button, nullptr);
  EXPECT_NE(combo, nullptr);
  EXPECT_EQ(OpenThemeData(nullptr, "scrollbar"), nullptr);

  TBitmap bmp;
  bmp.SetSize(40, 24);
  EXPECT_TRUE(DrawThemeBackground(button, bmp.Canvas(), BP_CHECKBOX, CBS_CHECKEDHOT, {2, 2, 15, 15}));
  const int check = Changed(bmp);
  EXPECT_GT(check, 0);
  EXPECT_TRUE(DrawThemeBackground(button, bmp.Canvas(), BP_PUSHBUTTON, PBS_PRESSED, {0, 0, 40, 24}));
  EXPECT_GT(Changed(bmp), check);
  EXPECT_FALSE(DrawThemeBackground(combo, bmp.Canvas(), 9, 1, {0, 0, 10, 10}));
  EXPECT_FALSE(DrawThemeBackground(nullptr, bmp.Canvas(), BP_PUSHBUTTON, PBS_NORMAL, {0, 0, 10, 10}));
  CloseThemeData(button);
  CloseThemeData(combo);
  CloseThemeData(nullptr);

  FinalizeVisualStyles();
  EXPECT_FALSE(IsThemeActive());
  EXPECT_EQ(OpenThemeData(nullptr, "button"), nullptr);
  InitializeVisualStyles();
}

}  // namespace

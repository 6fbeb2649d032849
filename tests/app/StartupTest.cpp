// The ordered start-up: after it every shape class the content uses is found by name, the
// editor's cursors and the visual-styles binding are in place, and a second call changes nothing.
#include <gtest/gtest.h>
#include <unistd.h>

#include "app/Startup.h"
#include "document/dtpShape.h"
#include "platform/Forms.h"
#include "raster/dtpRasterFormats.h"
#include "widgets/SystemInfo.h"
#include "widgets/VisualStyles.h"

TEST(Startup, RegistersWhatTheContentNeeds) {
  app::InitializeUnits();
  app::InitializeUnits();  // idempotent
  for (const char* name : {"TdtpShape", "TdtpEffectShape", "TdtpPage", "TdtpRectangleShape", "TdtpEllipseShape",
                           "TdtpHcirkel1ShapeV", "TdtpLineShape", "TdtpLineShape2", "TdtpTextShape",
                           "TdtpMemoShape", "TdtpBitmapShape", "TdtpGroupShape", "TdtpExposedMetafile",
                           "TdtpFreehandShape", "TdtpFreehandShape2"})
    EXPECT_EQ(document::FindShapeClass(name).Name, name);
  // An unknown name falls back to the plain base class.
  EXPECT_EQ(document::FindShapeClass("TdtpNoSuchShape").Name, "TdtpShape");
  for (int32_t id = -38; id <= -30; ++id) EXPECT_TRUE(platform::Screen()->HasCursor(id)) << id;
  EXPECT_TRUE(widgets::ThemeLibraryBound());
  // The system information and the hand and drag cursors.
  char host[256] = {};
  ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
  EXPECT_EQ(widgets::SystemInfo().ComputerName, host);
  EXPECT_EQ(widgets::SystemInfo().DeviceClassKey, "SYSTEM\\CurrentControlSet\\Services\\Class");
  EXPECT_TRUE(platform::Screen()->HasCursor(widgets::crHandCursor));
  EXPECT_TRUE(platform::Screen()->HasCursor(widgets::crDragCursor));
  // BMP, JPEG, PNG and JPEG 2000 are found by extension.
  for (const char* name : {"a.bmp", "a.jpg", "a.gif", "a.png", "a.jp2"})
    EXPECT_NE(raster::FindRasterClass(name), nullptr) << name;
}

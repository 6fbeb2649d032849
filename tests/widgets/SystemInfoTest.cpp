#include "widgets/SystemInfo.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/Forms.h"

using namespace widgets;

namespace {
TOsVersionInfo V(uint32_t Major, uint32_t Minor, uint32_t Platform, const char* Csd = "") {
  return {Major, Minor, Platform, Csd};
}
}  // namespace

TEST(SystemInfo, VersionFamilies) {
  const TSystemInfo W2k = ComputeSystemInfo(V(5, 0, 2), "u", "c", "");
  EXPECT_TRUE(W2k.OsIsNT);
  EXPECT_TRUE(W2k.OsIsWin2000);
  EXPECT_FALSE(W2k.OsIsNT4);
  EXPECT_EQ(W2k.OsKind, 2);
  EXPECT_EQ(W2k.DeviceClassKey, "SYSTEM\\CurrentControlSet\\Control\\Class");

  const TSystemInfo Nt4 = ComputeSystemInfo(V(4, 0, 2), "u", "c", "");
  EXPECT_TRUE(Nt4.OsIsNT4);
  EXPECT_FALSE(Nt4.OsIsWin95);  // platform 2 is not the Windows family
  EXPECT_EQ(Nt4.OsKind, 1);
  EXPECT_TRUE(ComputeSystemInfo(V(3, 51, 2), "", "", "").OsIsNT3);

  const TSystemInfo Se = ComputeSystemInfo(V(4, 10, 1, " A "), "u", "c", "");
  EXPECT_TRUE(Se.OsIsWin98);
  EXPECT_TRUE(Se.OsIsWin98SE);
  EXPECT_FALSE(Se.OsIsNT);
  EXPECT_EQ(Se.OsKind, 0);
  EXPECT_EQ(Se.DeviceClassKey, "SYSTEM\\CurrentControlSet\\Services\\Class");
  EXPECT_FALSE(ComputeSystemInfo(V(4, 10, 1, "B"), "", "", "").OsIsWin98SE);

  const TSystemInfo Osr2 = ComputeSystemInfo(V(4, 0, 1, "B"), "", "", "");
  EXPECT_TRUE(Osr2.OsIsWin95);
  EXPECT_TRUE(Osr2.OsIsWin95OSR2);
  EXPECT_FALSE(ComputeSystemInfo(V(4, 0, 1, ""), "", "", "").OsIsWin95OSR2);
}

TEST(SystemInfo, StoredComputerNameWinsAndNamesAreCut) {
  EXPECT_EQ(ComputeSystemInfo({}, "u", "api", "stored").ComputerName, "stored");
  EXPECT_EQ(ComputeSystemInfo({}, "u", "api", "").ComputerName, "api");
  EXPECT_EQ(ComputeSystemInfo({}, std::string(300, 'x'), "", "").UserName.size(), 255u);
}

TEST(SystemInfo, LinuxValuesComeFromTheHost) {
  FinalizeSystemInfo();
  InitializeSystemInfo();
  char Host[256] = {};
  ASSERT_EQ(gethostname(Host, sizeof Host - 1), 0);
  EXPECT_EQ(SystemInfo().ComputerName, Host);
  EXPECT_FALSE(SystemInfo().OsIsNT);
  EXPECT_EQ(SystemInfo().OsKind, 0);
  FinalizeSystemInfo();
  EXPECT_TRUE(SystemInfo().ComputerName.empty());
}

TEST(SystemInfo, VendorTablesAndCursors) {
  EXPECT_STREQ(CpuVendorIds[2], "AuthenticAMD");
  EXPECT_STREQ(CpuVendorNames[2], "AMD");
  EXPECT_STREQ(CpuVendorIds[5], CpuVendorNames[5]);
  InitializeCursors();
  EXPECT_TRUE(platform::Screen()->HasCursor(crHandCursor));
  EXPECT_TRUE(platform::Screen()->HasCursor(crDragCursor));
}

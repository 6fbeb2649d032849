// What the program runs on and who runs it, worked out once at start-up, and the two extra
// screen cursors. The Windows family flags describe a Windows version record; on Linux no such
// record exists, so InitializeSystemInfo fills them from an empty record (every flag False,
// OsKind 0). The computer name is the host name: the Windows registry key for it does not
// exist here.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace widgets {

// The fields of the version record the flags are computed from.
struct TOsVersionInfo {
  uint32_t MajorVersion = 0;
  uint32_t MinorVersion = 0;
  uint32_t PlatformId = 0;  // 1 VER_PLATFORM_WIN32_WINDOWS, 2 VER_PLATFORM_WIN32_NT
  std::string CSDVersion;   // service-pack text
};

constexpr uint32_t VER_PLATFORM_WIN32_WINDOWS = 1;
constexpr uint32_t VER_PLATFORM_WIN32_NT = 2;

// Version tests over one record; each reads the record afresh.
bool OsIsNTOf(const TOsVersionInfo& V);
bool OsIsNT3Of(const TOsVersionInfo& V);
bool OsIsNT4Of(const TOsVersionInfo& V);
bool OsIsWin95Of(const TOsVersionInfo& V);
bool OsIsWin98Of(const TOsVersionInfo& V);
bool OsIsWin95OSR2Of(const TOsVersionInfo& V);
bool OsIsWin98SEOf(const TOsVersionInfo& V);
bool OsIsWin2000Of(const TOsVersionInfo& V);
int32_t OsKindOf(const TOsVersionInfo& V);

struct TSystemInfo {
  bool OsIsNT = false, OsIsNT3 = false, OsIsNT4 = false, OsIsWin95 = false, OsIsWin98 = false,
       OsIsWin95OSR2 = false, OsIsWin98SE = false, OsIsWin2000 = false;
  int32_t OsKind = 0;
  std::string UserName;
  std::string ComputerName;
  std::string DeviceClassKey;
};

// Fills every value from a version record, the names the system reports and an optional
// override of the computer name (the registry value on Windows; empty: none).
TSystemInfo ComputeSystemInfo(const TOsVersionInfo& V, const std::string& ApiUserName,
                              const std::string& ApiComputerName,
                              const std::string& StoredComputerName);

// The program's values; filled by InitializeSystemInfo (only the first call acts).
const TSystemInfo& SystemInfo();
void InitializeSystemInfo();
void FinalizeSystemInfo();

// The login name (getlogin_r, else $USER) and the host name (gethostname), cut to 255
// characters like every name; empty on failure.
std::string QueryUserName();
std::string QueryComputerName();

inline constexpr std::array<const char*, 6> CpuVendorIds = {
    "GenuineIntel", "UMC UMC UMC", "AuthenticAMD", "CyrixInstead", "NexGenDriven", "CentaurHauls"};
inline constexpr std::array<const char*, 6> CpuVendorNames = {"Intel",  "UMC",    "AMD",
                                                              "Cyrix",  "NexGen", "CentaurHauls"};

// Screen cursor numbers of the cursors "HAND_CURSOR" and "DRAG_CURSOR".
constexpr int32_t crHandCursor = 14000;
constexpr int32_t crDragCursor = 14001;
// Registers the two cursors with the screen (first call only).
void InitializeCursors();

}  // namespace widgets

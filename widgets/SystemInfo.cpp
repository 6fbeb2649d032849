#include "widgets/SystemInfo.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "platform/Controls.h"
#include "platform/Forms.h"

namespace widgets {

namespace {

std::string Trimmed(const std::string& S) {
  size_t B = 0, E = S.size();
  while (B < E && static_cast<unsigned char>(S[B]) <= ' ') ++B;
  while (E > B && static_cast<unsigned char>(S[E - 1]) <= ' ') --E;
  return S.substr(B, E - B);
}

// Names are kept to 255 characters, the size of the name buffers.
std::string Cut255(std::string S) {
  if (S.size() > 255) S.resize(255);
  return S;
}

TSystemInfo& Info() {
  static TSystemInfo I;
  return I;
}
bool& InfoDone() {
  static bool Done = false;
  return Done;
}

}  // namespace

bool OsIsNTOf(const TOsVersionInfo& V) { return V.PlatformId == VER_PLATFORM_WIN32_NT; }
bool OsIsNT3Of(const TOsVersionInfo& V) { return OsIsNTOf(V) && V.MajorVersion == 3; }
bool OsIsNT4Of(const TOsVersionInfo& V) { return OsIsNTOf(V) && V.MajorVersion == 4; }
bool OsIsWin95Of(const TOsVersionInfo& V) {
  return V.MajorVersion == 4 && V.MinorVersion == 0 && V.PlatformId == VER_PLATFORM_WIN32_WINDOWS;
}
bool OsIsWin98Of(const TOsVersionInfo& V) {
  return V.MajorVersion == 4 && V.MinorVersion == 10 && V.PlatformId == VER_PLATFORM_WIN32_WINDOWS;
}
bool OsIsWin95OSR2Of(const TOsVersionInfo& V) { return OsIsWin95Of(V) && Trimmed(V.CSDVersion) == "B"; }
bool OsIsWin98SEOf(const TOsVersionInfo& V) { return OsIsWin98Of(V) && Trimmed(V.CSDVersion) == "A"; }
bool OsIsWin2000Of(const TOsVersionInfo& V) { return V.MajorVersion == 5 && OsIsNTOf(V); }
int32_t OsKindOf(const TOsVersionInfo& V) {
  if (!OsIsNTOf(V)) return 0;
  return V.MajorVersion == 5 ? 2 : 1;
}

TSystemInfo ComputeSystemInfo(const TOsVersionInfo& V, const std::string& ApiUserName,
                              const std::string& ApiComputerName,
                              const std::string& StoredComputerName) {
  TSystemInfo I;
  I.OsIsNT = OsIsNTOf(V);
  I.OsIsNT3 = OsIsNT3Of(V);
  I.OsIsNT4 = OsIsNT4Of(V);
  I.OsIsWin95 = OsIsWin95Of(V);
  I.OsIsWin98 = OsIsWin98Of(V);
  I.OsIsWin95OSR2 = OsIsWin95OSR2Of(V);
  I.OsIsWin98SE = OsIsWin98SEOf(V);
  I.OsIsWin2000 = OsIsWin2000Of(V);
  I.OsKind = OsKindOf(V);
  I.UserName = Cut255(ApiUserName);
  I.ComputerName = Cut255(StoredComputerName.empty() ? ApiComputerName : StoredComputerName);
  I.DeviceClassKey = I.OsIsNT ? "SYSTEM\\CurrentControlSet\\Control\\Class"
                              : "SYSTEM\\CurrentControlSet\\Services\\Class";
  return I;
}

std::string QueryUserName() {
  char Buf[LOGIN_NAME_MAX + 1] = {};
  if (getlogin_r(Buf, sizeof Buf - 1) == 0 && Buf[0]) return Cut255(Buf);
  const char* U = std::getenv("USER");
  return U ? Cut255(U) : std::string();
}

std::string QueryComputerName() {
  char Buf[256] = {};
  if (gethostname(Buf, sizeof Buf - 1) != 0) return {};
  return Cut255(Buf);
}

const TSystemInfo& SystemInfo() { return Info(); }

void InitializeSystemInfo() {
  if (InfoDone()) return;
  InfoDone() = true;
  // No Windows version record on Linux, and no registry override of the host name.
  Info() = ComputeSystemInfo(TOsVersionInfo{}, QueryUserName(), QueryComputerName(), "");
}

void FinalizeSystemInfo() {
  Info() = TSystemInfo{};
  InfoDone() = false;
}

void InitializeCursors() {
  static bool Done = false;
  if (Done) return;
  Done = true;
  // The program carries no cursor resources here ("HAND_CURSOR", "DRAG_CURSOR"); the screen's
  // own hand and drag cursors stand in.
  platform::Screen()->CopyCursor(crHandCursor, platform::crHandPoint);
  platform::Screen()->CopyCursor(crDragCursor, platform::crDrag);
}

}  // namespace widgets

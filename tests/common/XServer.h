// A private X server for tests whose input must come from a real X server: the lock keys, whose
// state the server keeps, and mouse clicks as the server delivers them.
//
// StartPrivateXServer runs from a static initialiser of the test file, before the application
// object exists: it starts Xvfb on a free display and points Qt's xcb platform at it. Without
// Xvfb it leaves everything as it was and the tests skip. TXInput sends keys and mouse events
// through the XTest extension (libXtst, loaded at run time like libX11, so nothing links
// against X).
#pragma once

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QThread>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

namespace kdtest {

inline pid_t& XServerPid() {
  static pid_t pid = 0;
  return pid;
}

inline std::string FindXvfb() {
  for (const char* p : {"/usr/bin/Xvfb", "/usr/local/bin/Xvfb"})
    if (access(p, X_OK) == 0) return p;
  return {};
}

inline void StopPrivateXServer() {
  const pid_t pid = XServerPid();
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  int status = 0;
  waitpid(pid, &status, 0);
  XServerPid() = 0;
}

// True when a private Xvfb runs and DISPLAY and QT_QPA_PLATFORM point at it.
inline bool StartPrivateXServer() {
  if (XServerPid() > 0) return true;
  const std::string xvfb = FindXvfb();
  if (xvfb.empty()) return false;
  int fds[2];
  if (pipe(fds) != 0) return false;
  const pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    return false;
  }
  if (pid == 0) {
    close(fds[0]);
    const int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
      dup2(null, 1);
      dup2(null, 2);
    }
    const std::string fd = std::to_string(fds[1]);
    // A test may run itself again on a screen of another size.
    const char* screen = getenv("KD_XVFB_SCREEN");
    execl(xvfb.c_str(), "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen ? screen : "1280x1024x24", "-nolisten",
          "tcp", "-noreset", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  // The server writes its display number once it accepts connections.
  std::string number;
  char c;
  while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
  close(fds[0]);
  if (number.empty()) {
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    return false;
  }
  XServerPid() = pid;
  atexit(StopPrivateXServer);
  setenv("DISPLAY", (":" + number).c_str(), 1);
  setenv("QT_QPA_PLATFORM", "xcb", 1);
  return true;
}

// Runs the event loop until Done holds; false when it never does (a safety bound, not a timing).
inline bool WaitFor(const std::function<bool()>& Done) {
  for (int I = 0; I < 2000; ++I) {
    QApplication::processEvents(QEventLoop::AllEvents, 5);
    if (Done()) return true;
    QThread::msleep(2);
  }
  return Done();
}

// Lets pending events through.
inline void Settle() {
  for (int I = 0; I < 20; ++I) {
    QApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::msleep(2);
  }
}

// Keys and mouse events through XTest, on a connection of its own.
class TXInput {
 public:
  TXInput() {
    FX11 = dlopen("libX11.so.6", RTLD_NOW | RTLD_GLOBAL);
    FXtst = dlopen("libXtst.so.6", RTLD_NOW);
    if (!FX11 || !FXtst) return;
    auto open = reinterpret_cast<void* (*)(const char*)>(dlsym(FX11, "XOpenDisplay"));
    FClose = reinterpret_cast<int (*)(void*)>(dlsym(FX11, "XCloseDisplay"));
    FSync = reinterpret_cast<int (*)(void*, int)>(dlsym(FX11, "XSync"));
    FKeysymToKeycode = reinterpret_cast<unsigned char (*)(void*, unsigned long)>(dlsym(FX11, "XKeysymToKeycode"));
    FKeycodeToKeysym =
        reinterpret_cast<unsigned long (*)(void*, unsigned char, int, int)>(dlsym(FX11, "XkbKeycodeToKeysym"));
    FInternAtom = reinterpret_cast<unsigned long (*)(void*, const char*, int)>(dlsym(FX11, "XInternAtom"));
    FGetNamed = reinterpret_cast<int (*)(void*, unsigned long, int*, int*, void*, int*)>(
        dlsym(FX11, "XkbGetNamedIndicator"));
    FKey = reinterpret_cast<int (*)(void*, unsigned, int, unsigned long)>(dlsym(FXtst, "XTestFakeKeyEvent"));
    FButton = reinterpret_cast<int (*)(void*, unsigned, int, unsigned long)>(dlsym(FXtst, "XTestFakeButtonEvent"));
    FMotion = reinterpret_cast<int (*)(void*, int, int, int, unsigned long)>(dlsym(FXtst, "XTestFakeMotionEvent"));
    if (!open || !FClose || !FSync || !FKeysymToKeycode || !FKeycodeToKeysym || !FInternAtom || !FGetNamed || !FKey || !FButton ||
        !FMotion)
      return;
    FChangeProperty = reinterpret_cast<int (*)(void*, unsigned long, unsigned long, unsigned long, int, int,
                                                const unsigned char*, int)>(dlsym(FX11, "XChangeProperty"));
    auto root = reinterpret_cast<unsigned long (*)(void*)>(dlsym(FX11, "XDefaultRootWindow"));
    FDisplay = open(nullptr);
    if (FDisplay && FChangeProperty && root && qApp) {
      FRoot = root(FDisplay);
      // A marker of this object's own, so two of them never count each other's changes.
      const std::string name = "_KD_TEST_INPUT_BARRIER_" + std::to_string(reinterpret_cast<uintptr_t>(this));
      FMarker = FInternAtom(FDisplay, name.c_str(), 0);
      FBarrier.Atom = FMarker;
      qApp->installNativeEventFilter(&FBarrier);
      // Where the application does not hear of the root window's properties, fall back to a sync.
      Delivered();
      if (FBarrier.Seen == 0) {
        qApp->removeNativeEventFilter(&FBarrier);
        FMarker = 0;
      }
    }
  }
  ~TXInput() {
    if (FMarker && qApp) qApp->removeNativeEventFilter(&FBarrier);
    if (FDisplay) FClose(FDisplay);
    if (FXtst) dlclose(FXtst);
    // libX11 stays: Qt's xcb platform may share it.
  }
  TXInput(const TXInput&) = delete;
  TXInput& operator=(const TXInput&) = delete;

  bool Ok() const { return FDisplay != nullptr; }
  // A key by its keysym (0xFFE5 Caps_Lock, 0xFF7F Num_Lock, 0xFF0D Return, ...), pressed or
  // released; returns once the server has it.
  void Key(unsigned long Keysym, bool Down) {
    FKey(FDisplay, FKeysymToKeycode(FDisplay, Keysym), Down ? 1 : 0, 0);
    Delivered();
  }
  // True when the layout puts Keysym on the shifted level of its key.
  bool Shifted(unsigned long Keysym) {
    const unsigned char code = FKeysymToKeycode(FDisplay, Keysym);
    return code != 0 && FKeycodeToKeysym(FDisplay, code, 0, 0) != Keysym;
  }
  void MoveTo(int X, int Y) {
    FMotion(FDisplay, -1, X, Y, 0);
    Delivered();
  }
  // Button 1 is the left one.
  void Button(unsigned Number, bool Down) {
    FButton(FDisplay, Number, Down ? 1 : 0, 0);
    Delivered();
  }
  // Resizes a window through the server, as a user's tool does where no window manager runs.
  void ResizeWindow(unsigned long Window, unsigned Width, unsigned Height) {
    auto resize = reinterpret_cast<int (*)(void*, unsigned long, unsigned, unsigned)>(dlsym(FX11, "XResizeWindow"));
    if (!resize) return;
    resize(FDisplay, Window, Width, Height);
    FSync(FDisplay, 0);
  }
  // The server's own indicator ("Caps Lock", "Num Lock", "Scroll Lock").
  bool Indicator(const char* Name) {
    int index = 0, state = 0, real = 0;
    if (!FGetNamed(FDisplay, FInternAtom(FDisplay, Name, 0), &index, &state, nullptr, &real)) return false;
    return state != 0;
  }

  static constexpr unsigned long XK_Caps_Lock = 0xFFE5;
  static constexpr unsigned long XK_Num_Lock = 0xFF7F;
  static constexpr unsigned long XK_Return = 0xFF0D;
  static constexpr unsigned long XK_Escape = 0xFF1B;
  static constexpr unsigned long XK_Alt_L = 0xFFE9;

 private:
  // Counts the property changes of the marker on the root window that reach the application.
  struct TBarrier : QAbstractNativeEventFilter {
    unsigned long Atom = 0;
    unsigned Seen = 0;
    bool nativeEventFilter(const QByteArray& Type, void* Message, qintptr*) override {
      if (Type != "xcb_generic_event_t") return false;
      const auto* e = static_cast<const unsigned char*>(Message);
      uint32_t atom = 0;
      std::memcpy(&atom, e + 8, 4);  // xcb_property_notify_event_t: type, pad, sequence, window, atom
      if ((e[0] & 0x7F) == 28 && atom == Atom) ++Seen;
      return false;
    }
  };
  // Returns once the application has read the events the server made of what was just sent:
  // the server handles this connection's requests in order, and the marker's change reaches the
  // application after them, so a loaded machine cannot leave input unread behind a fixed pause.
  void Delivered() {
    if (!FMarker) {
      FSync(FDisplay, 0);
      return;
    }
    const unsigned char value = 0;
    FChangeProperty(FDisplay, FRoot, FMarker, 19 /* INTEGER */, 8, 0 /* replace */, &value, 1);
    FSync(FDisplay, 0);
    const unsigned want = ++FSent;
    WaitFor([&] { return FBarrier.Seen >= want; });
  }

  void* FX11 = nullptr;
  void* FXtst = nullptr;
  void* FDisplay = nullptr;
  int (*FClose)(void*) = nullptr;
  int (*FSync)(void*, int) = nullptr;
  unsigned char (*FKeysymToKeycode)(void*, unsigned long) = nullptr;
  unsigned long (*FKeycodeToKeysym)(void*, unsigned char, int, int) = nullptr;
  unsigned long (*FInternAtom)(void*, const char*, int) = nullptr;
  int (*FGetNamed)(void*, unsigned long, int*, int*, void*, int*) = nullptr;
  int (*FKey)(void*, unsigned, int, unsigned long) = nullptr;
  int (*FButton)(void*, unsigned, int, unsigned long) = nullptr;
  int (*FMotion)(void*, int, int, int, unsigned long) = nullptr;
  int (*FChangeProperty)(void*, unsigned long, unsigned long, unsigned long, int, int, const unsigned char*, int) = nullptr;
  unsigned long FRoot = 0, FMarker = 0;
  unsigned FSent = 0;
  TBarrier FBarrier;
};

}  // namespace kdtest

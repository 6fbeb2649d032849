#include "platform/AppHooks.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWidget>
#include <memory>
#include <vector>

#include "platform/Controls.h"
#include "platform/KeyState.h"

namespace platform {
namespace {

struct TListener {
  THookHandle Handle;
  THookKind Kind;
  THookProc Proc;
};

class THookFilter : public QObject {
 public:
  bool eventFilter(QObject* Watched, QEvent* Event) override;

 private:
  // Mouse moves that Qt propagates to parents pass the filter once per widget; a hook sees
  // each message once.
  uint64_t FLastMoveStamp = ~0ull;
  QPointF FLastMovePos;
  // A key event Qt propagates to the parents passes the filter once per widget; the hook
  // reports it once.
  const QEvent* FLastKeyEvent = nullptr;
  const QObject* FLastKeyReceiver = nullptr;
  int FLastKey = 0;
  int FLastKeyType = 0;
  uint64_t FLastKeyStamp = 0;
  bool FActiveKnown = false;
  bool FActive = false;
};

struct THooks {
  std::vector<TListener> Listeners;
  THookHandle NextHandle = 1;
  std::unique_ptr<THookFilter> Filter;
};

THooks& Hooks() {
  static THooks hooks;
  return hooks;
}

intptr_t MouseKeyFlags(const QMouseEvent* e) {
  // MK_LBUTTON 1, MK_RBUTTON 2, MK_SHIFT 4, MK_CONTROL 8, MK_MBUTTON 16.
  intptr_t f = 0;
  if (e->buttons() & Qt::LeftButton) f |= 1;
  if (e->buttons() & Qt::RightButton) f |= 2;
  if (e->modifiers() & Qt::ShiftModifier) f |= 4;
  if (e->modifiers() & Qt::ControlModifier) f |= 8;
  if (e->buttons() & Qt::MiddleButton) f |= 16;
  return f;
}

bool THookFilter::eventFilter(QObject* Watched, QEvent* Event) {
  switch (Event->type()) {
    case QEvent::ApplicationActivate:
    case QEvent::ApplicationDeactivate:
    case QEvent::ApplicationStateChange: {
      bool active = Event->type() == QEvent::ApplicationStateChange
                        ? QGuiApplication::applicationState() == Qt::ApplicationActive
                        : Event->type() == QEvent::ApplicationActivate;
      if (FActiveKnown && active == FActive) break;
      FActiveKnown = true;
      FActive = active;
      THookMessage m;
      m.Msg = WM_ACTIVATEAPP;
      m.WParam = active ? 1 : 0;
      AppHooksDispatch(hkCallWndProc, m);
      break;
    }
    case QEvent::Move:
    case QEvent::Resize: {
      auto* w = qobject_cast<QWidget*>(Watched);
      if (!w) break;
      THookMessage m;
      m.Msg = WM_WINDOWPOSCHANGED;
      m.Window = w;
      m.Control = FindControl(w);
      AppHooksDispatch(hkCallWndProc, m);
      break;
    }
    case QEvent::MouseMove: {
      auto* w = qobject_cast<QWidget*>(Watched);
      if (!w) break;
      auto* me = static_cast<QMouseEvent*>(Event);
      const uint64_t stamp = me->timestamp();
      if (stamp == FLastMoveStamp && me->globalPosition() == FLastMovePos) break;
      FLastMoveStamp = stamp;
      FLastMovePos = me->globalPosition();
      THookMessage m;
      m.Msg = WM_MOUSEMOVE;
      m.Window = w;
      m.Control = FindControl(w);
      m.WParam = MouseKeyFlags(me);
      const QPoint p = me->position().toPoint();
      m.LParam = static_cast<intptr_t>((static_cast<uint32_t>(p.y() & 0xFFFF) << 16) | static_cast<uint32_t>(p.x() & 0xFFFF));
      AppHooksDispatch(hkGetMessage, m);
      break;
    }
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
      if (AppHookCount(hkKeyboard) == 0) break;
      auto* w = qobject_cast<QWidget*>(Watched);
      if (!w) break;
      auto* ke = static_cast<QKeyEvent*>(Event);
      const bool propagated = Event == FLastKeyEvent && FLastKeyReceiver && ke->key() == FLastKey &&
                              int(Event->type()) == FLastKeyType && ke->timestamp() == FLastKeyStamp &&
                              w == static_cast<const QWidget*>(FLastKeyReceiver)->parentWidget();
      FLastKeyEvent = Event;
      FLastKeyReceiver = w;
      FLastKey = ke->key();
      FLastKeyType = int(Event->type());
      FLastKeyStamp = ke->timestamp();
      if (propagated) break;
      const uint32_t mods = static_cast<uint32_t>(ke->modifiers().toInt());
      const Word vk = QtKeyToVirtualKey(ke->key(), mods);
      if (!vk) break;
      const bool down = Event->type() == QEvent::KeyPress;
      // The key state learns of the key first, so a listener reading GetKeyState sees it.
      if (!ke->isAutoRepeat()) KeyStateNoteKey(vk, down, mods);
      THookMessage m;
      m.Msg = down ? WM_KEYDOWN : WM_KEYUP;
      m.Window = w;
      m.Control = FindControl(w);
      m.WParam = vk;
      uint32_t flags = 1;  // repeat count
      if (!down) flags |= 0xC0000000u;
      else if (ke->isAutoRepeat()) flags |= 0x40000000u;
      m.LParam = static_cast<intptr_t>(flags);
      AppHooksDispatch(hkKeyboard, m);
      break;
    }
    default:
      break;
  }
  return false;
}

void UpdateFilter() {
  THooks& h = Hooks();
  if (!h.Listeners.empty() && !h.Filter && qApp) {
    h.Filter = std::make_unique<THookFilter>();
    qApp->installEventFilter(h.Filter.get());
  } else if (h.Listeners.empty() && h.Filter) {
    if (qApp) qApp->removeEventFilter(h.Filter.get());
    h.Filter.reset();
  }
}

}  // namespace

THookHandle SetAppHook(THookKind Kind, THookProc Proc) {
  THooks& h = Hooks();
  THookHandle id = h.NextHandle++;
  if (h.NextHandle <= 0) h.NextHandle = 1;
  h.Listeners.push_back({id, Kind, std::move(Proc)});
  UpdateFilter();
  return id;
}

bool UnhookAppHook(THookHandle Handle) {
  THooks& h = Hooks();
  for (auto it = h.Listeners.begin(); it != h.Listeners.end(); ++it) {
    if (it->Handle == Handle) {
      h.Listeners.erase(it);
      UpdateFilter();
      return true;
    }
  }
  return false;
}

int AppHookCount(THookKind Kind) {
  int n = 0;
  for (const TListener& l : Hooks().Listeners)
    if (l.Kind == Kind) ++n;
  return n;
}

void AppHooksDispatch(THookKind Kind, const THookMessage& Msg) {
  // A listener may add or remove listeners: walk a snapshot of the handles.
  std::vector<THookHandle> handles;
  for (const TListener& l : Hooks().Listeners)
    if (l.Kind == Kind) handles.push_back(l.Handle);
  for (THookHandle id : handles) {
    THookProc proc;
    for (const TListener& l : Hooks().Listeners)
      if (l.Handle == id) proc = l.Proc;
    if (!proc) continue;
    try {
      proc(Msg);
    } catch (...) {
      // A failing listener must not stop the others or the event.
    }
  }
}

void AppHooksWindowDestroyed(HWND Window, TWinControl* Control) {
  if (AppHookCount(hkCBT) == 0) return;
  THookMessage m;
  m.Msg = WM_DESTROY;
  m.Window = Window;
  m.Control = Control;
  AppHooksDispatch(hkCBT, m);
}

bool ApplicationIsActive() { return GetActiveWindow() != nullptr; }

HWND GetActiveWindow() { return qApp ? QApplication::activeWindow() : nullptr; }

}  // namespace platform

// Synthetic input for control tests: Qt events sent straight to a control's widget.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QEnterEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QWidget>
#include <functional>
#include <initializer_list>

#include "platform/Controls.h"

namespace guitest {

inline QWidget* W(const platform::TControl* c) { return static_cast<QWidget*>(c->WidgetHandle()); }

inline void Mouse(const platform::TControl* c, QEvent::Type type, int x, int y, Qt::MouseButton button,
                  Qt::MouseButtons buttons, Qt::KeyboardModifiers mods = Qt::NoModifier) {
  QWidget* w = W(c);
  const QPointF local(x, y);
  QMouseEvent e(type, local, w->mapToGlobal(local), button, buttons, mods);
  QApplication::sendEvent(w, &e);
}

inline void Press(const platform::TControl* c, int x, int y, Qt::MouseButton b = Qt::LeftButton,
                  Qt::KeyboardModifiers mods = Qt::NoModifier) {
  Mouse(c, QEvent::MouseButtonPress, x, y, b, b, mods);
}
inline void Release(const platform::TControl* c, int x, int y, Qt::MouseButton b = Qt::LeftButton,
                    Qt::KeyboardModifiers mods = Qt::NoModifier) {
  Mouse(c, QEvent::MouseButtonRelease, x, y, b, Qt::NoButton, mods);
}
inline void DoubleClick(const platform::TControl* c, int x, int y) {
  Mouse(c, QEvent::MouseButtonDblClick, x, y, Qt::LeftButton, Qt::LeftButton);
}
inline void Move(const platform::TControl* c, int x, int y, Qt::MouseButtons held = Qt::NoButton,
                 Qt::KeyboardModifiers mods = Qt::NoModifier) {
  Mouse(c, QEvent::MouseMove, x, y, Qt::NoButton, held, mods);
}

// A turn of the wheel by Eighths of a degree (120 a notch; away from the user is positive).
inline bool Wheel(const platform::TControl* c, int x, int y, int Eighths) {
  const QPointF p(x, y);
  QWheelEvent e(p, W(c)->mapToGlobal(p), QPoint(), QPoint(0, Eighths), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                false);
  QApplication::sendEvent(W(c), &e);
  return e.isAccepted();
}
inline void Key(const platform::TControl* c, int key, Qt::KeyboardModifiers mods = Qt::NoModifier,
                const QString& text = QString()) {
  QKeyEvent down(QEvent::KeyPress, key, mods, text);
  QApplication::sendEvent(W(c), &down);
  QKeyEvent up(QEvent::KeyRelease, key, mods, text);
  QApplication::sendEvent(W(c), &up);
}

// Each key in turn: a letter, digit or sign types its character, Backspace and Return theirs.
inline void Keys(const platform::TControl* c, std::initializer_list<int> keys, Qt::KeyboardModifiers mods = Qt::NoModifier) {
  for (int k : keys)
    Key(c, k, mods, k == Qt::Key_Backspace ? "\b" : k == Qt::Key_Return ? "\r" : k < 0x100 ? QString(QChar(k)).toLower() : "");
}
// Each character of Text typed by a key the layout has no code for.
inline void Type(const platform::TControl* c, const char* text) {
  for (; *text; ++text) Key(c, Qt::Key_unknown, Qt::NoModifier, QString(QChar(*text)));
}

inline void Enter(const platform::TControl* c) {
  QEnterEvent e(QPointF(1, 1), QPointF(1, 1), W(c)->mapToGlobal(QPointF(1, 1)));
  QApplication::sendEvent(W(c), &e);
}
inline void Leave(const platform::TControl* c) {
  QEvent e(QEvent::Leave);
  QApplication::sendEvent(W(c), &e);
}

// Processes events until Done() or the deadline (milliseconds); returns Done().
inline bool WaitFor(const std::function<bool()>& Done, int DeadlineMs = 5000) {
  QElapsedTimer t;
  t.start();
  while (!Done() && t.elapsed() < DeadlineMs) QApplication::processEvents(QEventLoop::AllEvents, 20);
  return Done();
}

}  // namespace guitest

// Qt side of the controls, for platform code only.
#pragma once

#include <QColor>
#include <QCursor>
#include <QPoint>
#include <QRect>
#include <QWidget>

#include "platform/Colors.h"
#include "platform/Controls.h"

namespace platform {

inline QWidget* WidgetOf(const TControl* Control) {
  return Control ? static_cast<QWidget*>(Control->WidgetHandle()) : nullptr;
}
inline QColor ToQColor(TColor Color) {
  const uint32_t c = static_cast<uint32_t>(ColorToRGB(Color));
  return QColor(GetRValue(c), GetGValue(c), GetBValue(c));
}
inline QRect ToQRect(const TRect& R) { return QRect(R.Left, R.Top, R.Width(), R.Height()); }
inline TRect FromQRect(const QRect& R) { return {R.left(), R.top(), R.left() + R.width(), R.top() + R.height()}; }
inline QPoint ToQPoint(const TPoint& P) { return QPoint(P.X, P.Y); }
inline TPoint FromQPoint(const QPoint& P) { return {P.x(), P.y()}; }

// The Qt cursor for a cursor id of the screen's registry; false for crDefault or unknown ids.
bool LookupCursor(TCursor Id, QCursor& Cursor);
// TShiftState from Qt modifiers and buttons (Alt also from the tracked key state).
TShiftState ShiftFromQt(uint32_t QtModifiers, uint32_t QtButtons);

}  // namespace platform

// The private widget behind every control: it forwards Qt's events to the control.
#pragma once

#include <QInputMethodEvent>
#include <QRegion>
#include <QWidget>

#include "platform/Controls.h"

class QKeyEvent;
class QScrollBar;

namespace platform {
namespace detail {

class TControlWidget : public QWidget {
 public:
  explicit TControlWidget(TControl* Owner);
  TControl* Control() const { return FOwner; }
  // The control is going away: stop forwarding.
  void Detach() { FOwner = nullptr; }
  // Moves the widget to the control's bounds (inside the parent's client area).
  void PlaceFromControl();
  // Parts marked invalid and not yet painted (widget coordinates), so Update can paint them now.
  void AddPending(const QRect& R) { FPending += R; }
  void FlushPending();
  // Moves the focus to the next (or previous) widget in the window's tab order.
  bool MoveFocus(bool Next);
  // The key press being handled (nullptr between key presses): a control whose editing a Qt
  // widget does (the edit's line editor) passes it the keys the control leaves alone.
  QKeyEvent* CurrentKey() const { return FCurrentKey; }
  // An event of a Qt widget inside this one (the edit's line editor) handled as this widget's
  // own: keys, mouse events in this widget's coordinates, focus changes.
  bool ForwardEvent(QEvent* Event) { return event(Event); }

 protected:
  bool event(QEvent* Event) override;
  void paintEvent(QPaintEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;
  void mouseDoubleClickEvent(QMouseEvent* Event) override;
  void mouseMoveEvent(QMouseEvent* Event) override;
  void wheelEvent(QWheelEvent* Event) override;
  void enterEvent(QEnterEvent* Event) override;
  void leaveEvent(QEvent* Event) override;
  void keyPressEvent(QKeyEvent* Event) override;
  void keyReleaseEvent(QKeyEvent* Event) override;
  void inputMethodEvent(QInputMethodEvent* Event) override;
  QVariant inputMethodQuery(Qt::InputMethodQuery Query) const override;
  void focusInEvent(QFocusEvent* Event) override;
  void focusOutEvent(QFocusEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;
  void moveEvent(QMoveEvent* Event) override;
  void contextMenuEvent(QContextMenuEvent* Event) override;
  void closeEvent(QCloseEvent* Event) override;
  bool focusNextPrevChild(bool Next) override;

 private:
  TControl* FOwner;
  bool FSyncing = false;
  QRegion FPending;
  QKeyEvent* FCurrentKey = nullptr;
  int FWheelRest = 0;  // eighths of a degree not yet scrolled
};

// The two window scroll bars of a windowed control.
class TScrollBarSet {
 public:
  explicit TScrollBarSet(TWinControl* Owner);
  ~TScrollBarSet();
  int32_t Set(int32_t Bar, const TScrollInfo& Info, bool Redraw);
  bool Get(int32_t Bar, TScrollInfo& Info) const;
  bool Shown(int32_t Bar) const { return FShown[Bar]; }
  bool Scrollable(int32_t Bar) const { return FShown[Bar] && FEnabled[Bar]; }
  int32_t Extent() const;  // width of the vertical bar / height of the horizontal one
  // Places the bars around the client rectangle (widget coordinates).
  void Layout(const QRect& Client);

 private:
  void Apply(int32_t Bar);
  void Action(int32_t Bar, int Action);
  TWinControl* FOwner;
  QScrollBar* FBars[2] = {nullptr, nullptr};
  TScrollInfo FInfo[2];
  bool FShown[2] = {false, false};
  bool FEnabled[2] = {true, true};
  bool FUpdating = false;
};

// The window system activates a window some time after it was asked to (by a press on the
// window, or when a control in it is given the focus). A floating popup focused in between (an
// editor over the window) must not take that late activation for a loss of focus.
// NoteActivationRequested is called when a window's activation is asked for, NotePopupFocused
// when a popup window takes the focus.
void NoteActivationRequested(QWidget* Window);
void NotePopupFocused(QWidget* Popup);

}  // namespace detail
}  // namespace platform

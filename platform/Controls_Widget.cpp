#include "platform/Controls_Widget.h"

#include <QApplication>
#include <QGuiApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QWheelEvent>
#include <cstdlib>
#include <QPalette>
#include <QPointer>
#include <QScrollBar>
#include <QStyle>
#include <QToolTip>
#include <QWindow>

#include "platform/Forms.h"
#include "platform/QtBridge.h"

namespace platform {
namespace detail {

namespace {
// Exceptions must not unwind through Qt's event loop: they go to the application's handler,
// as an exception raised while handling a window message does.
template <typename F>
void Guarded(TControl* Sender, F&& Fn) {
  try {
    Fn();
  } catch (const std::exception& e) {
    Application()->HandleException(Sender, e);
  }
}
// A window whose activation was asked of the window system (by a press on it, or by giving
// the focus to a control in it) while the activation is on its way, and a popup that took the
// focus after the request.
struct TPendingActivation {
  QPointer<QWidget> Window;  // either may be freed while the activation is on its way
  QPointer<QWidget> Popup;
};

TPendingActivation& PendingActivation() {
  static TPendingActivation a;
  return a;
}

bool IsPopupWindow(const QWidget* W) {
  auto* cw = dynamic_cast<const TControlWidget*>(W);
  auto* wc = cw ? dynamic_cast<const TWinControl*>(cw->Control()) : nullptr;
  return wc && wc->IsPopupWindow();
}

// The late activation of the window, taking the focus from a popup focused after the request.
bool LateActivationOf(QWidget* Popup) {
  TPendingActivation& a = PendingActivation();
  if (!a.Window || a.Popup != Popup || QApplication::activeWindow() != a.Window) return false;
  a = {};
  return true;
}

// Called before a press is handled: the window under it is activated first, as Windows does
// before the click, so a popup that has the focus loses it (and reports its value) before the
// press can open another one.
void NotePress(QWidget* W) {
  QWidget* win = W->window();
  if (!win->windowHandle() || QGuiApplication::focusWindow() == win->windowHandle()) return;
  NoteActivationRequested(win);
  QWidget* focused = QApplication::focusWidget();
  if (focused && focused->window() != win && IsPopupWindow(focused->window())) QApplication::setActiveWindow(win);
}

}  // namespace

void NoteActivationRequested(QWidget* Window) {
  if (IsPopupWindow(Window)) return;
  PendingActivation() = {Window, nullptr};
  // Once the window system has activated it, nothing is on its way any more.
  static QCoreApplication* connected = nullptr;
  if (qApp && connected != qApp) {
    connected = qApp;
    QObject::connect(qApp, &QGuiApplication::focusWindowChanged, qApp, [](QWindow* Now) {
      TPendingActivation& a = PendingActivation();
      if (a.Window && Now && a.Window->windowHandle() == Now) a = {};
    });
  }
}

void NotePopupFocused(QWidget* Popup) {
  TPendingActivation& a = PendingActivation();
  if (a.Window && Popup->window() != a.Window) a.Popup = Popup->window();
}

TControlWidget::TControlWidget(TControl* Owner) : QWidget(nullptr), FOwner(Owner) {
  setMouseTracking(true);
  setFocusPolicy(Qt::NoFocus);
  setAutoFillBackground(false);
  setAttribute(Qt::WA_NoSystemBackground, true);
}

void TControlWidget::PlaceFromControl() {
  if (!FOwner) return;
  FSyncing = true;
  QPoint origin(FOwner->Left(), FOwner->Top());
  // A window (a popup editor) is placed in screen coordinates.
  if (TWinControl* p = FOwner->Parent(); p && !isWindow()) {
    const TPoint off = p->ClientOffset();
    origin += QPoint(off.X, off.Y);
  }
  setGeometry(QRect(origin, QSize(FOwner->Width(), FOwner->Height())));
  FSyncing = false;
}

bool TControlWidget::event(QEvent* Event) {
  if (!FOwner) return QWidget::event(Event);
  switch (Event->type()) {
    case QEvent::ToolTip: {
      auto* he = static_cast<QHelpEvent*>(Event);
      // The control may find a hint of its own at the point (a parameter, a status panel)
      // though its Hint is empty.
      if (!FOwner->ShowHint()) {
        QToolTip::hideText();
        Event->ignore();
        return true;
      }
      THintInfo info;
      info.HintControl = FOwner;
      const TPoint off = FOwner->ClientOffset();
      info.CursorPos = {he->pos().x() - off.X, he->pos().y() - off.Y};
      info.HintPos = {he->globalPos().x(), he->globalPos().y() + 20};
      info.HintStr = GetShortHint(FOwner->Hint());
      info.CursorRect = FOwner->ClientRect();
      info.HintColor = Application()->HintColor();
      info.HideTimeout = Application()->HintHidePause();
      if (FOwner->HintShow(info) && !info.HintStr.empty()) {
        QPalette pal = QToolTip::palette();
        pal.setColor(QPalette::ToolTipBase, ToQColor(info.HintColor));
        QToolTip::setPalette(pal);
        QToolTip::showText(QPoint(info.HintPos.X, info.HintPos.Y), QString::fromStdString(info.HintStr), this,
                           QRect(), info.HideTimeout);
      } else {
        QToolTip::hideText();
      }
      return true;
    }
    case QEvent::WindowActivate:
    case QEvent::WindowDeactivate:
      if (auto* form = dynamic_cast<TCustomForm*>(FOwner)) {
        const bool on = Event->type() == QEvent::WindowActivate;
        Guarded(FOwner, [&] {
          if (on && form->OnActivate) form->OnActivate(form);
          if (!on && form->OnDeactivate) form->OnDeactivate(form);
        });
      }
      break;
    case QEvent::KeyPress: {
      // Tab normally moves the focus before keyPressEvent is reached; a control that wants it
      // gets it as a key.
      auto* ke = static_cast<QKeyEvent*>(Event);
      if ((ke->key() == Qt::Key_Tab || ke->key() == Qt::Key_Backtab) && !(ke->modifiers() & Qt::ControlModifier)) {
        if (auto* w = dynamic_cast<TWinControl*>(FOwner)) {
          TShiftState shift = ShiftFromQt(static_cast<uint32_t>(ke->modifiers().toInt()), 0);
          if (w->WantTabs() || w->WantSpecialKey(VK_TAB, shift)) {
            keyPressEvent(ke);
            return true;
          }
        }
      }
      break;
    }
    default:
      break;
  }
  return QWidget::event(Event);
}

void TControlWidget::FlushPending() {
  if (FPending.isEmpty() || !isVisible()) return;
  const QRegion r = FPending;
  FPending = QRegion();
  repaint(r);
}

void TControlWidget::paintEvent(QPaintEvent* Event) {
  FPending -= Event->region();
  if (!FOwner) return;
  QPainter painter(this);
  Guarded(FOwner, [&] { FOwner->WidgetPaint(painter, Event->rect()); });
}

void TControlWidget::wheelEvent(QWheelEvent* Event) {
  // A window with a vertical scroll bar scrolls three lines a notch, as a list or a document
  // does under the wheel; any other hands the wheel on to its parent.
  auto* win = dynamic_cast<TWinControl*>(FOwner);
  if (!win || !win->Enabled() || !win->FScrollBars || !win->FScrollBars->Scrollable(SB_VERT)) {
    Event->ignore();
    return;
  }
  FWheelRest += Event->angleDelta().y();
  const int notches = FWheelRest / 120;
  FWheelRest -= notches * 120;
  for (int i = 0; i < std::abs(notches) * 3; ++i)
    Guarded(win, [&] { win->ScrollBarAction(SB_VERT, notches > 0 ? SB_LINEUP : SB_LINEDOWN, 0); });
  Event->accept();
}

void TControlWidget::mousePressEvent(QMouseEvent* Event) {
  if (!FOwner || !FOwner->Enabled()) return;
  NotePress(this);
  const QPoint p = Event->position().toPoint();
  Guarded(FOwner, [&] { FOwner->WidgetMouse(0, Event->button(), p.x(), p.y(), static_cast<uint32_t>(Event->buttons().toInt()),
                      static_cast<uint32_t>(Event->modifiers().toInt())); });
  Event->accept();
}

void TControlWidget::mouseReleaseEvent(QMouseEvent* Event) {
  if (!FOwner || !FOwner->Enabled()) return;
  const QPoint p = Event->position().toPoint();
  Guarded(FOwner, [&] { FOwner->WidgetMouse(1, Event->button(), p.x(), p.y(), static_cast<uint32_t>(Event->buttons().toInt()),
                      static_cast<uint32_t>(Event->modifiers().toInt())); });
  Event->accept();
}

void TControlWidget::mouseDoubleClickEvent(QMouseEvent* Event) {
  if (!FOwner || !FOwner->Enabled()) return;
  NotePress(this);
  const QPoint p = Event->position().toPoint();
  // Without csDoubleClicks the second press is an ordinary press, as for a window class
  // without double clicks.
  const int kind = (FOwner->ControlStyle() & csDoubleClicks) ? 2 : 0;
  Guarded(FOwner, [&] { FOwner->WidgetMouse(kind, Event->button(), p.x(), p.y(), static_cast<uint32_t>(Event->buttons().toInt()),
                      static_cast<uint32_t>(Event->modifiers().toInt())); });
  Event->accept();
}

void TControlWidget::mouseMoveEvent(QMouseEvent* Event) {
  if (!FOwner || !FOwner->Enabled()) return;
  const QPoint p = Event->position().toPoint();
  Guarded(FOwner, [&] { FOwner->WidgetMouse(3, Qt::NoButton, p.x(), p.y(), static_cast<uint32_t>(Event->buttons().toInt()),
                      static_cast<uint32_t>(Event->modifiers().toInt())); });
  Event->accept();
}

void TControlWidget::enterEvent(QEnterEvent* Event) {
  QWidget::enterEvent(Event);
  if (!FOwner || FOwner->FMouseInside) return;
  FOwner->FMouseInside = true;
  if (Application()) Application()->SetHint(GetLongHint(FOwner->Hint()));
  Guarded(FOwner, [&] { FOwner->MouseEnter(); });
}

void TControlWidget::leaveEvent(QEvent* Event) {
  QWidget::leaveEvent(Event);
  if (!FOwner || !FOwner->FMouseInside) return;
  FOwner->FMouseInside = false;
  Guarded(FOwner, [&] { FOwner->MouseLeave(); });
}

void TControlWidget::keyPressEvent(QKeyEvent* Event) {
  auto* w = dynamic_cast<TWinControl*>(FOwner);
  if (!w || !w->Enabled()) {
    Event->ignore();
    return;
  }
  bool handled = true;
  QKeyEvent* outer = FCurrentKey;
  FCurrentKey = Event;
  const QPointer<TControlWidget> alive(this);  // a handler may free the control
  Guarded(FOwner, [&] {
    handled = w->DispatchKey(Event->key(), static_cast<uint32_t>(Event->modifiers().toInt()),
                             Event->text().toStdString(), true, Event->isAutoRepeat());
  });
  if (alive) FCurrentKey = outer;
  if (handled)
    Event->accept();
  else
    Event->ignore();
}

void TControlWidget::keyReleaseEvent(QKeyEvent* Event) {
  auto* w = dynamic_cast<TWinControl*>(FOwner);
  if (!w || !w->Enabled()) {
    Event->ignore();
    return;
  }
  Guarded(FOwner, [&] {
    w->DispatchKey(Event->key(), static_cast<uint32_t>(Event->modifiers().toInt()), std::string(), false,
                   Event->isAutoRepeat());
  });
  Event->accept();
}

// A dead key or compose sequence ends in text the input method commits; the control takes it
// as typed characters. Nothing is shown while a sequence is still being composed.
void TControlWidget::inputMethodEvent(QInputMethodEvent* Event) {
  auto* w = dynamic_cast<TWinControl*>(FOwner);
  if (!w || !w->Enabled() || !testAttribute(Qt::WA_InputMethodEnabled)) {
    Event->ignore();
    return;
  }
  const std::string text = Event->commitString().toStdString();
  if (!text.empty()) Guarded(FOwner, [&] { w->DispatchCommittedText(text); });
  Event->accept();
}

QVariant TControlWidget::inputMethodQuery(Qt::InputMethodQuery Query) const {
  switch (Query) {
    case Qt::ImEnabled: return testAttribute(Qt::WA_InputMethodEnabled);
    // The control keeps its text to itself: the input method composes without it.
    case Qt::ImSurroundingText:
    case Qt::ImCurrentSelection:
    case Qt::ImTextBeforeCursor:
    case Qt::ImTextAfterCursor: return QString();
    case Qt::ImCursorPosition:
    case Qt::ImAnchorPosition: return 0;
    case Qt::ImHints: return int(Qt::ImhNoPredictiveText);
    default: return QWidget::inputMethodQuery(Query);
  }
}

void TControlWidget::focusInEvent(QFocusEvent* Event) {
  QWidget::focusInEvent(Event);
  if (Event->reason() == Qt::PopupFocusReason) return;  // back from a menu or drop-down: never left
  if (auto* w = dynamic_cast<TWinControl*>(FOwner)) Guarded(FOwner, [&] { w->DoEnter(); });
}

void TControlWidget::focusOutEvent(QFocusEvent* Event) {
  QWidget::focusOutEvent(Event);
  // The focus comes back with the popup's own activation, which the window system sends next.
  if (Event->reason() == Qt::ActiveWindowFocusReason && LateActivationOf(window())) return;
  // A menu or a drop-down over the control keeps it focused, as the window system's menus do.
  if (Event->reason() == Qt::PopupFocusReason) return;
  if (auto* w = dynamic_cast<TWinControl*>(FOwner)) Guarded(FOwner, [&] { w->DoExit(); });
}

void TControlWidget::resizeEvent(QResizeEvent* Event) {
  QWidget::resizeEvent(Event);
  if (FOwner && !FSyncing) Guarded(FOwner, [&] { FOwner->SyncGeometryFromWidget(); });
  if (auto* w = dynamic_cast<TWinControl*>(FOwner)) w->UpdateNonClient();
}

void TControlWidget::moveEvent(QMoveEvent* Event) {
  QWidget::moveEvent(Event);
  if (FOwner && !FSyncing) Guarded(FOwner, [&] { FOwner->SyncGeometryFromWidget(); });
}

void TControlWidget::contextMenuEvent(QContextMenuEvent* Event) {
  // Mouse-driven popups are raised on the right button's release, as Windows users expect.
  Event->accept();
}

void TControlWidget::closeEvent(QCloseEvent* Event) {
  auto* form = dynamic_cast<TCustomForm*>(FOwner);
  if (!form) {
    QWidget::closeEvent(Event);
    return;
  }
  bool accept = false;
  Guarded(FOwner, [&] { accept = form->CloseFromWindow(); });
  if (accept)
    Event->accept();
  else
    Event->ignore();
}

bool TControlWidget::focusNextPrevChild(bool Next) { return QWidget::focusNextPrevChild(Next); }

bool TControlWidget::MoveFocus(bool Next) { return focusNextPrevChild(Next); }

// ---------------------------------------------------------------------------------------------
// TScrollBarSet

TScrollBarSet::TScrollBarSet(TWinControl* Owner) : FOwner(Owner) {
  auto* host = static_cast<QWidget*>(Owner->WidgetHandle());
  for (int bar = 0; bar < 2; ++bar) {
    FBars[bar] = new QScrollBar(bar == SB_HORZ ? Qt::Horizontal : Qt::Vertical, host);
    FBars[bar]->hide();
    FBars[bar]->setFocusPolicy(Qt::NoFocus);
    QObject::connect(FBars[bar], &QAbstractSlider::actionTriggered, [this, bar](int a) { Action(bar, a); });
    QObject::connect(FBars[bar], &QAbstractSlider::sliderReleased, [this, bar]() {
      if (FUpdating) return;
      const int pos = FBars[bar]->sliderPosition();
      Guarded(FOwner, [&] {
        FOwner->ScrollBarAction(bar, SB_THUMBPOSITION, pos);
        FOwner->ScrollBarAction(bar, SB_ENDSCROLL, 0);
      });
    });
  }
}

TScrollBarSet::~TScrollBarSet() {
  // The bars are children of the control's widget, which may already be gone.
  for (QScrollBar*& b : FBars) b = nullptr;
}

int32_t TScrollBarSet::Extent() const {
  return QApplication::style() ? QApplication::style()->pixelMetric(QStyle::PM_ScrollBarExtent) : 16;
}

int32_t TScrollBarSet::Set(int32_t Bar, const TScrollInfo& Info, bool Redraw) {
  (void)Redraw;
  TScrollInfo& s = FInfo[Bar];
  if (Info.fMask & SIF_RANGE) {
    s.nMin = Info.nMin;
    s.nMax = Info.nMax;
  }
  if (Info.fMask & SIF_PAGE) s.nPage = Info.nPage;
  if (Info.fMask & SIF_POS) s.nPos = Info.nPos;
  if (Info.fMask & SIF_TRACKPOS) s.nTrackPos = Info.nTrackPos;
  // The page never exceeds the range, and the position stays where a full page still fits.
  const int64_t span = static_cast<int64_t>(s.nMax) - s.nMin + 1;
  if (span > 0 && s.nPage > static_cast<uint64_t>(span)) s.nPage = static_cast<uint32_t>(span);
  const int64_t maxPos = std::max<int64_t>(s.nMin, static_cast<int64_t>(s.nMax) - std::max<int64_t>(s.nPage, 1) + 1);
  s.nPos = static_cast<int32_t>(std::clamp<int64_t>(s.nPos, s.nMin, maxPos));
  const bool scrollable = span > 0 && (s.nPage == 0 || static_cast<int64_t>(s.nPage) < span) && s.nMax > s.nMin;
  // Without SIF_DISABLENOSCROLL a bar with nothing to scroll disappears; with it, it stays disabled.
  const bool shown = scrollable || (Info.fMask & SIF_DISABLENOSCROLL);
  FEnabled[Bar] = scrollable;
  const bool changed = shown != FShown[Bar];
  FShown[Bar] = shown;
  Apply(Bar);
  if (changed) FOwner->UpdateNonClient();
  return s.nPos;
}

bool TScrollBarSet::Get(int32_t Bar, TScrollInfo& Info) const {
  const TScrollInfo& s = FInfo[Bar];
  const uint32_t mask = Info.fMask;
  if (mask & SIF_RANGE) {
    Info.nMin = s.nMin;
    Info.nMax = s.nMax;
  }
  if (mask & SIF_PAGE) Info.nPage = s.nPage;
  if (mask & SIF_POS) Info.nPos = s.nPos;
  if (mask & SIF_TRACKPOS) Info.nTrackPos = FBars[Bar] ? FBars[Bar]->sliderPosition() : s.nPos;
  return true;
}

void TScrollBarSet::Apply(int32_t Bar) {
  QScrollBar* b = FBars[Bar];
  if (!b) return;
  const TScrollInfo& s = FInfo[Bar];
  FUpdating = true;
  const int64_t maxPos = std::max<int64_t>(s.nMin, static_cast<int64_t>(s.nMax) - std::max<int64_t>(s.nPage, 1) + 1);
  b->setRange(s.nMin, static_cast<int>(maxPos));
  b->setPageStep(std::max<int>(static_cast<int>(s.nPage), 1));
  b->setSingleStep(1);
  b->setValue(s.nPos);
  b->setEnabled(FEnabled[Bar]);
  b->setVisible(FShown[Bar]);
  FUpdating = false;
}

void TScrollBarSet::Layout(const QRect& Client) {
  const int e = Extent();
  if (FBars[SB_VERT]) FBars[SB_VERT]->setGeometry(Client.right() + 1, Client.top(), e, Client.height());
  if (FBars[SB_HORZ]) FBars[SB_HORZ]->setGeometry(Client.left(), Client.bottom() + 1, Client.width(), e);
}

void TScrollBarSet::Action(int32_t Bar, int Action) {
  if (FUpdating) return;
  QScrollBar* b = FBars[Bar];
  int code = -1;
  switch (Action) {
    case QAbstractSlider::SliderSingleStepAdd: code = SB_LINEDOWN; break;
    case QAbstractSlider::SliderSingleStepSub: code = SB_LINEUP; break;
    case QAbstractSlider::SliderPageStepAdd: code = SB_PAGEDOWN; break;
    case QAbstractSlider::SliderPageStepSub: code = SB_PAGEUP; break;
    case QAbstractSlider::SliderToMinimum: code = SB_TOP; break;
    case QAbstractSlider::SliderToMaximum: code = SB_BOTTOM; break;
    case QAbstractSlider::SliderMove: code = SB_THUMBTRACK; break;
    default: return;
  }
  const int track = b->sliderPosition();
  if (code != SB_THUMBTRACK) {
    // The window's owner moves the thumb (SetScrollPos), not the bar itself.
    FUpdating = true;
    b->setSliderPosition(FInfo[Bar].nPos);
    FUpdating = false;
  }
  Guarded(FOwner, [&] {
    FOwner->ScrollBarAction(Bar, code, track);
    if (code != SB_THUMBTRACK) FOwner->ScrollBarAction(Bar, SB_ENDSCROLL, 0);
  });
}

}  // namespace detail
}  // namespace platform

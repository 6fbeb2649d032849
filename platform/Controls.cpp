#include "platform/Controls.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QCursor>
#include <QEnterEvent>
#include <QFocusEvent>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QToolTip>
#include <QWidget>
#include <algorithm>
#include <cstdlib>

#include "platform/Controls_Widget.h"
#include "platform/Font.h"
#include "platform/FontQt.h"
#include "platform/Forms.h"
#include "platform/Graphics.h"
#include "platform/Menus.h"
#include "platform/QtBridge.h"

namespace platform {

namespace {
TControl* gCapture = nullptr;

struct TDragInfo {
  TControl* Source = nullptr;
  bool Active = false;  // false while waiting for the threshold
  TPoint Start;         // screen
  int32_t Threshold = 5;
  TControl* Target = nullptr;
  bool Accepted = false;
};
TDragInfo gDrag;
// Screen position of the latest mouse event (the message position), valid once one arrived.
TPoint gLastMouse;
bool gHaveMouse = false;
TPoint MessagePos() { return gHaveMouse ? gLastMouse : GetCursorPos(); }
}  // namespace

std::string GetShortHint(const std::string& Hint) {
  const size_t bar = Hint.find('|');
  return bar == std::string::npos ? Hint : Hint.substr(0, bar);
}

std::string GetLongHint(const std::string& Hint) {
  const size_t bar = Hint.find('|');
  return bar == std::string::npos ? Hint : Hint.substr(bar + 1);
}

TShiftState ShiftFromQt(uint32_t QtModifiers, uint32_t QtButtons) {
  TShiftState s = 0;
  if (QtModifiers & Qt::ShiftModifier) s |= ssShift;
  if (QtModifiers & Qt::ControlModifier) s |= ssCtrl;
  if (QtModifiers & Qt::AltModifier) s |= ssAlt;
  if (QtButtons & Qt::LeftButton) s |= ssLeft;
  if (QtButtons & Qt::RightButton) s |= ssRight;
  if (QtButtons & Qt::MiddleButton) s |= ssMiddle;
  return s;
}

// ---------------------------------------------------------------------------------------------
// TControl

// ---------------------------------------------------------------------------------------------
// TSizeConstraints

void TSizeConstraints::SetMaxHeight(int32_t Value) {
  Value = std::max(Value, 0);
  if (Value == FMaxHeight) return;
  FMaxHeight = Value;
  if (Value > 0 && Value < FMinHeight) FMinHeight = Value;
  Change();
}

void TSizeConstraints::SetMaxWidth(int32_t Value) {
  Value = std::max(Value, 0);
  if (Value == FMaxWidth) return;
  FMaxWidth = Value;
  if (Value > 0 && Value < FMinWidth) FMinWidth = Value;
  Change();
}

void TSizeConstraints::SetMinHeight(int32_t Value) {
  Value = std::max(Value, 0);
  if (Value == FMinHeight) return;
  FMinHeight = Value;
  if (FMaxHeight > 0 && Value > FMaxHeight) FMaxHeight = Value;
  Change();
}

void TSizeConstraints::SetMinWidth(int32_t Value) {
  Value = std::max(Value, 0);
  if (Value == FMinWidth) return;
  FMinWidth = Value;
  if (FMaxWidth > 0 && Value > FMaxWidth) FMaxWidth = Value;
  Change();
}

void TSizeConstraints::Constrain(int32_t& Width, int32_t& Height) const {
  if (FMaxWidth > 0) Width = std::min(Width, FMaxWidth);
  if (FMinWidth > 0) Width = std::max(Width, FMinWidth);
  if (FMaxHeight > 0) Height = std::min(Height, FMaxHeight);
  if (FMinHeight > 0) Height = std::max(Height, FMinHeight);
}

void TSizeConstraints::Change() {
  if (OnChange) OnChange(this);
}

// ---------------------------------------------------------------------------------------------

TControl::TControl(TComponent* AOwner)
    : TComponent(AOwner), FConstraints(std::make_unique<TSizeConstraints>()), FFont(std::make_unique<TFont>()) {
  FWidget = new detail::TControlWidget(this);
  // New limits apply to the current size at once.
  FConstraints->OnChange = [this](TObject*) {
    // A window's limits are the window system's too, so that resizing it by hand meets them.
    if (FWidget->isWindow()) {
      FWidget->setMinimumSize(FConstraints->MinWidth(), FConstraints->MinHeight());
      FWidget->setMaximumSize(FConstraints->MaxWidth() > 0 ? FConstraints->MaxWidth() : QWIDGETSIZE_MAX,
                              FConstraints->MaxHeight() > 0 ? FConstraints->MaxHeight() : QWIDGETSIZE_MAX);
    }
    SetBounds(FLeft, FTop, FWidth, FHeight);
  };
  FFont->OnChange = [this](TObject*) {
    FParentFont = false;
    FontChanged();
  };
}

TControl::~TControl() {
  if (gCapture == this) gCapture = nullptr;
  if (gDrag.Source == this) gDrag = TDragInfo{};
  if (gDrag.Target == this) gDrag.Target = nullptr;
  if (FParent) FParent->RemoveControl(this);
  FParent = nullptr;
  if (FWidget) {
    FWidget->Detach();
    delete FWidget;
    FWidget = nullptr;
  }
}

HWND TControl::WidgetHandle() const { return static_cast<QWidget*>(FWidget); }

void TControl::SetParent(TWinControl* AParent) {
  if (AParent == FParent) return;
  if (AParent == this) throw EInvalidOperation("A control cannot have itself as its parent");
  if (FParent) FParent->RemoveControl(this);
  if (AParent) AParent->InsertControl(this);
}

TCustomForm* TControl::ParentForm() const {
  const TControl* c = this;
  while (c) {
    if (auto* f = dynamic_cast<const TCustomForm*>(c)) return const_cast<TCustomForm*>(f);
    c = c->FParent;
  }
  return nullptr;
}

void TControl::SetBounds(int32_t ALeft, int32_t ATop, int32_t AWidth, int32_t AHeight) {
  AWidth = std::max(AWidth, 0);
  AHeight = std::max(AHeight, 0);
  FConstraints->Constrain(AWidth, AHeight);
  const bool moved = ALeft != FLeft || ATop != FTop;
  const bool sized = AWidth != FWidth || AHeight != FHeight;
  if (!moved && !sized) return;
  FLeft = ALeft;
  FTop = ATop;
  FWidth = AWidth;
  FHeight = AHeight;
  FWidget->PlaceFromControl();
  if (sized) {
    if (auto* w = dynamic_cast<TWinControl*>(this)) {
      // Without a window there is no WM_SIZE, but the children still follow the new size.
      if (w->HandleAllocated())
        w->WMSize();
      else
        w->Realign();
    } else {
      Resize();
    }
  }
  if (FParent && FAlign != alNone) FParent->AlignControl(this);
}

void TControl::SyncGeometryFromWidget() {
  const QRect g = FWidget->geometry();
  int32_t l = g.x(), t = g.y();
  // A window sized past its limits from outside (by the X server where no window manager
  // keeps the limits) is put back within them.
  if (FWidget->isWindow()) {
    int32_t w = g.width(), h = g.height();
    FConstraints->Constrain(w, h);
    if (w != g.width() || h != g.height()) {
      FWidget->resize(w, h);
      return;
    }
  }
  if (FParent && !FWidget->isWindow()) {
    const TPoint off = FParent->ClientOffset();
    l -= off.X;
    t -= off.Y;
  }
  const bool sized = g.width() != FWidth || g.height() != FHeight;
  if (l == FLeft && t == FTop && !sized) return;
  FLeft = l;
  FTop = t;
  FWidth = g.width();
  FHeight = g.height();
  if (!sized) return;
  if (auto* w = dynamic_cast<TWinControl*>(this)) {
    if (w->HandleAllocated()) w->WMSize();
  } else {
    Resize();
  }
}

TRect TControl::ClientRect() const { return {0, 0, FWidth, FHeight}; }

void TControl::SetClientWidth(int32_t Value) { SetWidth(Value + (FWidth - ClientWidth())); }
void TControl::SetClientHeight(int32_t Value) { SetHeight(Value + (FHeight - ClientHeight())); }

TPoint TControl::ClientOrigin() const {
  const TPoint off = ClientOffset();
  const QPoint p = FWidget->mapToGlobal(QPoint(off.X, off.Y));
  return {p.x(), p.y()};
}

TPoint TControl::ClientToScreen(const TPoint& P) const {
  const TPoint o = ClientOrigin();
  return {P.X + o.X, P.Y + o.Y};
}

TPoint TControl::ScreenToClient(const TPoint& P) const {
  const TPoint o = ClientOrigin();
  return {P.X - o.X, P.Y - o.Y};
}

void TControl::SetAlign(TAlign Value) {
  if (Value == FAlign) return;
  FAlign = Value;
  if (FParent) FParent->AlignControl(this);
}

void TControl::SetVisible(bool Value) {
  if (Value == FVisible) return;
  FVisible = Value;
  UpdateWidgetVisibility();
  VisibleChanged();
  if (FParent && FAlign != alNone) FParent->AlignControl(this);
}

bool TControl::Showing() const { return FWidget->isVisible(); }

void TControl::UpdateWidgetVisibility() {
  // Windows (forms, hint windows) show themselves; a parentless child widget would become a
  // window of its own, so it stays hidden. A popup shows while it has a parent.
  if (auto* wc = dynamic_cast<TWinControl*>(this); wc && wc->IsPopupWindow()) {
    FWidget->setVisible(FVisible && FParent != nullptr);
    return;
  }
  if (FWidget->windowType() != Qt::Widget) return;
  FWidget->setVisible(FVisible && FParent != nullptr);
}

void TControl::SetEnabled(bool Value) {
  if (Value == FEnabled) return;
  FEnabled = Value;
  FWidget->setEnabled(Value);
  EnabledChanged();
}

void TControl::EnabledChanged() { Invalidate(); }

bool TControl::DialogKey(Word, TShiftState) { return false; }
bool TControl::DialogChar(TKeyChar) { return false; }

void TControl::SetColor(TColor Value) {
  if (Value == FColor) {
    FParentColor = false;
    return;
  }
  FColor = Value;
  FParentColor = false;
  ColorChanged();
}

void TControl::ColorChanged() {
  if (auto* w = dynamic_cast<TWinControl*>(this))
    for (TControl* c : w->FControls) c->ParentColorChanged();
  Invalidate();
}

void TControl::ParentColorChanged() {
  if (!FParentColor || !FParent) return;
  if (FColor != FParent->FColor) {
    FColor = FParent->FColor;
    ColorChanged();
  }
}

void TControl::SetParentColor(bool Value) {
  if (Value == FParentColor) return;
  FParentColor = Value;
  if (Value) ParentColorChanged();
}

void TControl::SetFont(const TFont* Value) {
  if (Value) FFont->Assign(Value);
}

void TControl::FontChanged() {
  FWidget->setFont(MakeQFont(*FFont));
  if (auto* w = dynamic_cast<TWinControl*>(this))
    for (TControl* c : w->FControls) c->ParentFontChanged();
  Invalidate();
}

void TControl::ParentFontChanged() {
  if (!FParentFont || !FParent) return;
  FFont->Assign(FParent->FFont.get());  // OnChange clears the flag: keep it
  FParentFont = true;
}

void TControl::SetParentFont(bool Value) {
  if (Value == FParentFont) return;
  FParentFont = Value;
  if (Value) ParentFontChanged();
}

void TControl::SetText(const std::string& Value) {
  if (Value == FText) return;
  FText = Value;
  TextChanged();
}

void TControl::TextChanged() { Invalidate(); }

void TControl::SetHint(const std::string& Value) {
  if (Value == FHint) return;
  FHint = Value;
}

bool TControl::ShowHint() const {
  if (FParentShowHint && FParent) return FParent->ShowHint();
  return FShowHint;
}

void TControl::SetShowHint(bool Value) {
  FParentShowHint = false;
  FShowHint = Value;
}

void TControl::SetParentShowHint(bool Value) { FParentShowHint = Value; }

void TControl::SetCursor(TCursor Value) {
  if (Value == FCursor) return;
  FCursor = Value;
  UpdateWidgetCursor();
}

void TControl::ShowCursor(TCursor Value) {
  if (Dragging()) return;  // the drag shows its own cursor
  QCursor c;
  if (Value != crDefault && Value != FCursor && LookupCursor(Value, c))
    FWidget->setCursor(c);
  else
    UpdateWidgetCursor();
}

void TControl::UpdateWidgetCursor() {
  QCursor c;
  if (FCursor != crDefault && LookupCursor(FCursor, c))
    FWidget->setCursor(c);
  else
    FWidget->unsetCursor();
}

void TControl::SetPopupMenu(TPopupMenu* Value) {
  if (Value == FPopupMenu) return;
  if (FPopupMenu) FPopupMenu->RemoveFreeNotification(this);
  FPopupMenu = Value;
  if (Value) Value->FreeNotification(this);
}

void TControl::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation == TOperation::opRemove && AComponent == FPopupMenu) FPopupMenu = nullptr;
}

void TControl::SetControlStyle(TControlStyle Value) {
  if (Value == FControlStyle) return;
  FControlStyle = Value;
  FWidget->setAttribute(Qt::WA_OpaquePaintEvent, (Value & csOpaque) != 0);
}

bool TControl::MouseCapture() const { return gCapture == this; }

void TControl::SetMouseCapture(bool Value) {
  if (Value == MouseCapture()) return;
  if (Value) {
    if (gCapture) gCapture->SetMouseCapture(false);
    gCapture = this;
    // Qt grabs the mouse by itself between press and release; an explicit grab is only needed
    // (and only possible) on a real display.
    if (FWidget->isVisible() && QGuiApplication::platformName() != "offscreen" && !QGuiApplication::mouseButtons())
      FWidget->grabMouse();
  } else {
    gCapture = nullptr;
    if (QWidget::mouseGrabber() == FWidget) FWidget->releaseMouse();
  }
}

TControl* GetCaptureControl() { return gCapture; }

void ReleaseCapture() {
  if (gCapture) gCapture->SetMouseCapture(false);
}

void CancelModeOfCapture() {
  TControl* c = gCapture;
  if (!c) return;
  c->CancelMode();
  if (gCapture == c) c->SetMouseCapture(false);
  c->FPressed = false;
}

TPoint GetCursorPos() { return FromQPoint(QCursor::pos()); }

TPoint GetMessagePos() { return MessagePos(); }

void TControl::Invalidate() {
  FWidget->update();
  FWidget->AddPending(FWidget->rect());
}

void TControl::InvalidateRect(const TRect& R) {
  const TPoint off = ClientOffset();
  // A rectangle far outside the control (a shape drawn with absurd sizes) is cut down first:
  // its width would not fit in 32 bits and nothing would be repainted.
  auto cut = [](int64_t V) { return int32_t(std::clamp<int64_t>(V, -(int64_t(1) << 29), int64_t(1) << 29)); };
  const int32_t l = cut(int64_t(R.Left) + off.X), t = cut(int64_t(R.Top) + off.Y);
  const int32_t rr = cut(int64_t(R.Right) + off.X), b = cut(int64_t(R.Bottom) + off.Y);
  const QRect r(l, t, rr - l, b - t);
  FWidget->update(r);
  FWidget->AddPending(r);
}

void TControl::Update() { FWidget->FlushPending(); }

void TControl::Repaint() {
  if (FWidget->isVisible())
    FWidget->repaint();
  else
    FWidget->update();
}

void TControl::BringToFront() {
  FWidget->raise();
  if (FParent) {
    auto& v = FParent->FControls;
    v.erase(std::remove(v.begin(), v.end(), this), v.end());
    v.push_back(this);
  }
}

void TControl::SendToBack() {
  FWidget->lower();
  if (FParent) {
    auto& v = FParent->FControls;
    v.erase(std::remove(v.begin(), v.end(), this), v.end());
    v.insert(v.begin(), this);
  }
}

void TControl::Click() {
  if (OnClick) OnClick(this);
}

void TControl::DblClick() {
  if (OnDblClick) OnDblClick(this);
}

void TControl::MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
  if (OnMouseDown) OnMouseDown(this, Button, Shift, X, Y);
}

void TControl::MouseMove(TShiftState Shift, int32_t X, int32_t Y) {
  if (OnMouseMove) OnMouseMove(this, Shift, X, Y);
}

void TControl::MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
  if (OnMouseUp) OnMouseUp(this, Button, Shift, X, Y);
}

void TControl::MouseEnter() {
  if (OnMouseEnter) OnMouseEnter(this);
}

void TControl::MouseLeave() {
  if (OnMouseLeave) OnMouseLeave(this);
}

void TControl::Resize() {
  if (OnResize) OnResize(this);
}

TCanvas* TControl::PaintCanvas() const { return FPaintCanvas; }

bool TControl::HintShow(THintInfo&) { return true; }

bool TControl::CursorQuery(TPoint, TCursor&) { return false; }

// Drag and drop -------------------------------------------------------------------------------

void TControl::BeginDrag(bool Immediate, int32_t Threshold) {
  if (gDrag.Source) return;
  gDrag = TDragInfo{};
  gDrag.Source = this;
  gDrag.Start = MessagePos();
  gDrag.Threshold = Threshold < 0 ? 5 : Threshold;
  SetMouseCapture(true);
  if (Immediate) {
    gDrag.Active = true;
    DoStartDrag();
    QCursor c;
    if (LookupCursor(crNoDrop, c)) FWidget->setCursor(c);
  }
}

bool TControl::Dragging() const { return gDrag.Source == this && gDrag.Active; }

void TControl::EndDrag(bool Drop) {
  if (gDrag.Source != this) return;
  const TDragInfo d = gDrag;
  gDrag = TDragInfo{};
  SetMouseCapture(false);
  UpdateWidgetCursor();
  if (!d.Active) return;
  const TPoint screen = MessagePos();
  TControl* target = (Drop && d.Accepted) ? d.Target : nullptr;
  if (d.Target && !target) {
    bool accept = false;
    const TPoint p = d.Target->ScreenToClient(screen);
    d.Target->DragOver(this, p.X, p.Y, dsDragLeave, accept);
  }
  if (target) {
    const TPoint p = target->ScreenToClient(screen);
    target->DragDrop(this, p.X, p.Y);
  }
  const TPoint p = target ? target->ScreenToClient(screen) : ScreenToClient(screen);
  DoEndDrag(target, p.X, p.Y);
}

void TControl::DoStartDrag() {
  if (OnStartDrag) OnStartDrag(this);
}

void TControl::DragOver(TObject* Source, int32_t X, int32_t Y, TDragState State, bool& Accept) {
  Accept = static_cast<bool>(OnDragOver);
  if (OnDragOver) OnDragOver(this, Source, X, Y, State, Accept);
}

void TControl::DragDrop(TObject* Source, int32_t X, int32_t Y) {
  if (OnDragDrop) OnDragDrop(this, Source, X, Y);
}

void TControl::DoEndDrag(TObject* Target, int32_t X, int32_t Y) {
  if (OnEndDrag) OnEndDrag(this, Target, X, Y);
}

// The drag loop's share of the source's mouse input; true when the event is used up.
bool TControl::DragMouse(int Kind, const TPoint& Client) {
  if (gDrag.Source != this) return false;
  const TPoint screen = ClientToScreen(Client);
  if (Kind == 1) {
    EndDrag(true);
    return true;
  }
  if (Kind != 3) return true;
  if (!gDrag.Active) {
    const int32_t dx = screen.X - gDrag.Start.X, dy = screen.Y - gDrag.Start.Y;
    if (std::abs(dx) < gDrag.Threshold && std::abs(dy) < gDrag.Threshold) return false;
    gDrag.Active = true;
    DoStartDrag();
  }
  TControl* target = FindDragTarget(screen, false);
  bool accept = false;
  if (target != gDrag.Target) {
    if (gDrag.Target) {
      const TPoint p = gDrag.Target->ScreenToClient(screen);
      bool ignored = false;
      gDrag.Target->DragOver(this, p.X, p.Y, dsDragLeave, ignored);
    }
    gDrag.Target = target;
    if (target) {
      const TPoint p = target->ScreenToClient(screen);
      target->DragOver(this, p.X, p.Y, dsDragEnter, accept);
    }
  } else if (target) {
    const TPoint p = target->ScreenToClient(screen);
    target->DragOver(this, p.X, p.Y, dsDragMove, accept);
  }
  if (gDrag.Source != this) return true;  // a handler ended the drag
  gDrag.Accepted = target && accept;
  QCursor c;
  if (LookupCursor(gDrag.Accepted ? FDragCursor : crNoDrop, c)) FWidget->setCursor(c);
  return true;
}

void TControl::DoContextPopup(TPoint MousePos, bool& Handled) {
  if (OnContextPopup) OnContextPopup(this, MousePos, Handled);
}

// Widget callbacks ------------------------------------------------------------------------------

void TControl::WidgetPaint(QPainter& Painter, const QRect& Update) {
  auto* win = dynamic_cast<TWinControl*>(this);
  if (win) win->PaintBorder(Painter);
  const TPoint off = ClientOffset();
  const TRect cr = ClientRect();
  QRect clip = Update.translated(-off.X, -off.Y).intersected(QRect(0, 0, cr.Width(), cr.Height()));
  if (clip.isEmpty()) return;
  Painter.save();
  Painter.translate(off.X, off.Y);
  Painter.setClipRect(clip);
  if (!(FControlStyle & (csOpaque | csParentBackground))) Painter.fillRect(clip, ToQColor(FColor));
  TCanvas canvas;
  canvas.SetPainter(&Painter);
  canvas.IntersectClipRect(FromQRect(clip));  // ClipRect is the update rectangle
  canvas.SetFont(FFont.get());
  TCanvas* previous = FPaintCanvas;
  FPaintCanvas = &canvas;
  FInPaint = true;
  try {
    Paint();
  } catch (...) {
    FPaintCanvas = previous;
    FInPaint = false;
    canvas.SetPainter(nullptr);
    Painter.restore();
    throw;
  }
  FPaintCanvas = previous;
  FInPaint = false;
  canvas.SetPainter(nullptr);
  Painter.restore();
  if (win && win->FXorOverlay.Count() > 0 && !win->FXorOverlay.AboveChildren()) {
    Painter.save();
    Painter.translate(off.X, off.Y);
    Painter.setClipRect(QRect(0, 0, cr.Width(), cr.Height()));
    win->FXorOverlay.PaintOn(Painter);
    Painter.restore();
  }
}

// Kind: 0 press, 1 release, 2 double click, 3 move.
void TControl::WidgetMouse(int Kind, int Button, int X, int Y, uint32_t QtButtons, uint32_t QtModifiers) {
  KeyStateNoteInput(QtModifiers, QtButtons);
  const TPoint off = ClientOffset();
  X -= off.X;
  Y -= off.Y;
  TShiftState shift = ShiftFromQt(QtModifiers, QtButtons);
  TMouseButton button = Button == Qt::RightButton ? mbRight : Button == Qt::MiddleButton ? mbMiddle : mbLeft;
  gLastMouse = ClientToScreen({X, Y});
  gHaveMouse = true;
  if (DragMouse(Kind, {X, Y})) return;
  if (Kind == 3) {
    // WM_SETCURSOR comes before the move.
    TCursor cursor = FCursor;
    if (CursorQuery({X, Y}, cursor)) {
      QCursor c;
      if (cursor != crDefault && LookupCursor(cursor, c))
        FWidget->setCursor(c);
      else
        FWidget->unsetCursor();
      FQueriedCursor = true;
    } else if (FQueriedCursor) {
      FQueriedCursor = false;
      UpdateWidgetCursor();
    }
  }
  switch (Kind) {
    case 0:
      if (FControlStyle & csCaptureMouse) SetMouseCapture(true);
      if (button == mbLeft && (FControlStyle & csClickEvents)) FPressed = true;
      if (button == mbLeft && FDragMode == dmAutomatic) {
        FPressed = false;
        BeginDrag(true);
      }
      MouseDown(button, shift, X, Y);
      break;
    case 2:
      if (FControlStyle & csCaptureMouse) SetMouseCapture(true);
      if (button == mbLeft && (FControlStyle & csClickEvents)) DblClick();
      MouseDown(button, shift | ssDouble, X, Y);
      break;
    case 1: {
      if (FControlStyle & csCaptureMouse) SetMouseCapture(false);
      if (button == mbLeft && FPressed) {
        FPressed = false;
        if (PtInRect(ClientRect(), {X, Y})) Click();
      }
      MouseUp(button, shift, X, Y);
      if (button == mbRight) {
        bool handled = false;
        DoContextPopup({X, Y}, handled);
        if (!handled) {
          for (TControl* c = this; c; c = c->FParent) {
            TPopupMenu* menu = c->GetPopupMenu();
            if (menu && menu->AutoPopup()) {
              const TPoint p = ClientToScreen({X, Y});
              menu->SetPopupComponent(this);
              menu->Popup(p.X, p.Y);
              break;
            }
          }
        }
      }
      break;
    }
    case 3:
      MouseMove(shift, X, Y);
      break;
    default:
      break;
  }
}

// ---------------------------------------------------------------------------------------------
// TXorOverlay

namespace {
// The layer of an overlay drawn above the window's children: a widget over the client area,
// raised above the children, that the mouse passes through and that paints the figures onto
// what lies below it.
class TXorLayer : public QWidget {
 public:
  TXorLayer(QWidget* Parent, const TXorOverlay* Overlay) : QWidget(Parent), FOverlay(Overlay) {
    setAttribute(Qt::WA_TransparentForMouseEvents, true);
    setAttribute(Qt::WA_NoSystemBackground, true);
    setAutoFillBackground(false);
    setFocusPolicy(Qt::NoFocus);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    FOverlay->PaintOn(painter);
  }

 private:
  const TXorOverlay* FOverlay;
};

std::vector<std::pair<const TXorOverlay*, QPointer<QWidget>>>& XorLayers() {
  static std::vector<std::pair<const TXorOverlay*, QPointer<QWidget>>> layers;
  return layers;
}

QPointer<QWidget>* XorLayerOf(const TXorOverlay* Overlay) {
  for (auto& l : XorLayers())
    if (l.first == Overlay) return &l.second;
  return nullptr;
}
}  // namespace

TXorOverlay::~TXorOverlay() {
  if (QPointer<QWidget>* layer = XorLayerOf(this); layer && *layer) delete layer->data();
  auto& layers = XorLayers();
  layers.erase(std::remove_if(layers.begin(), layers.end(), [this](const auto& l) { return l.first == this; }),
               layers.end());
}

void TXorOverlay::SetAboveChildren(bool Value) {
  if (Value == FAboveChildren) return;
  FAboveChildren = Value;
  if (!Value)
    if (QPointer<QWidget>* layer = XorLayerOf(this); layer && *layer) (*layer)->hide();
  UpdateLayer();
  if (!FFigures.empty()) FOwner->Invalidate();
}

void TXorOverlay::UpdateLayer() {
  if (!FAboveChildren) return;
  auto* parent = static_cast<QWidget*>(FOwner->WidgetHandle());
  QPointer<QWidget>* layer = XorLayerOf(this);
  if (FFigures.empty()) {
    if (layer && *layer) (*layer)->hide();
    return;
  }
  if (!parent) return;
  if (!layer) {
    XorLayers().emplace_back(this, nullptr);
    layer = &XorLayers().back().second;
  }
  if (!*layer || (*layer)->parentWidget() != parent) *layer = new TXorLayer(parent, this);
  const TPoint off = FOwner->ClientOffset();
  (*layer)->setGeometry(off.X, off.Y, FOwner->ClientWidth(), FOwner->ClientHeight());
  (*layer)->raise();
  (*layer)->show();
}

void TXorOverlay::Toggle(const TXorFigure& Figure) {
  auto it = std::find(FFigures.begin(), FFigures.end(), Figure);
  if (it != FFigures.end())
    FFigures.erase(it);
  else
    FFigures.push_back(Figure);
  UpdateLayer();
  InvalidateFigure(Figure);
}

void TXorOverlay::ToggleLine(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, TColor Color, bool Dotted,
                             bool NotXor) {
  TXorFigure f;
  f.NotXor = NotXor;
  f.Kind = TXorFigure::xfLine;
  f.R = {X1, Y1, X2, Y2};
  f.Color = Color;
  f.Dotted = Dotted;
  Toggle(f);
}

void TXorOverlay::ToggleFrame(const TRect& R, TColor Color, bool Dotted, bool NotXor) {
  TXorFigure f;
  f.NotXor = NotXor;
  f.Kind = TXorFigure::xfFrame;
  f.R = R;
  f.Color = Color;
  f.Dotted = Dotted;
  Toggle(f);
}

void TXorOverlay::ToggleInvert(const TRect& R) {
  TXorFigure f;
  f.Kind = TXorFigure::xfInvertRect;
  f.R = R;
  Toggle(f);
}

void TXorOverlay::TogglePattern(const TRect& R) {
  TXorFigure f;
  f.Kind = TXorFigure::xfPatternRect;
  f.R = R;
  Toggle(f);
}

void TXorOverlay::Clear() {
  for (const TXorFigure& f : FFigures) InvalidateFigure(f);
  FFigures.clear();
  UpdateLayer();
}

void TXorOverlay::InvalidateFigure(const TXorFigure& Figure) {
  TRect r = Figure.R;
  if (r.Left > r.Right) std::swap(r.Left, r.Right);
  if (r.Top > r.Bottom) std::swap(r.Top, r.Bottom);
  const int32_t grow = Figure.PenWidth + 1;
  InflateRect(r, grow, grow);
  FOwner->InvalidateRect(r);
}

void TXorOverlay::PaintOn(QPainter& Painter) const {
  Painter.save();
  Painter.setRenderHint(QPainter::Antialiasing, false);
  for (const TXorFigure& f : FFigures) {
    switch (f.Kind) {
      case TXorFigure::xfLine:
      case TXorFigure::xfFrame: {
        Painter.setCompositionMode(f.NotXor ? QPainter::RasterOp_NotSourceXorDestination
                                            : QPainter::RasterOp_SourceXorDestination);
        QPen pen(ToQColor(f.Color));
        pen.setWidth(std::max(f.PenWidth, 1));
        pen.setCosmetic(true);
        if (f.Dotted) pen.setStyle(Qt::DotLine);
        pen.setCapStyle(Qt::FlatCap);
        Painter.setPen(pen);
        Painter.setBrush(Qt::NoBrush);
        if (f.Kind == TXorFigure::xfLine) {
          Painter.drawLine(f.R.Left, f.R.Top, f.R.Right, f.R.Bottom);
        } else {
          TRect r = f.R;
          if (r.Width() > 0 && r.Height() > 0) Painter.drawRect(QRect(r.Left, r.Top, r.Width() - 1, r.Height() - 1));
        }
        break;
      }
      case TXorFigure::xfInvertRect:
        Painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        Painter.fillRect(ToQRect(f.R), Qt::white);
        break;
      case TXorFigure::xfPatternRect: {
        Painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        QImage pattern(8, 8, QImage::Format_RGB32);
        for (int y = 0; y < 8; ++y)
          for (int x = 0; x < 8; ++x) pattern.setPixel(x, y, ((x + y) & 1) ? 0xFFFFFFFF : 0xFF000000);
        QBrush brush(pattern);
        Painter.fillRect(ToQRect(f.R), brush);
        break;
      }
    }
  }
  Painter.restore();
}

// ---------------------------------------------------------------------------------------------
// TCustomControl, TGraphicControl

namespace {
TCanvas* IdleCanvas(std::unique_ptr<TCanvas>& Holder, TBitmap*& Scratch, const TFont* Font) {
  (void)Scratch;
  if (!Holder) Holder = std::make_unique<TCanvas>();
  Holder->SetFont(Font);
  return Holder.get();
}
}  // namespace

TCustomControl::TCustomControl(TComponent* AOwner) : TWinControl(AOwner) {}
TCustomControl::~TCustomControl() = default;

TCanvas* TCustomControl::Canvas() {
  if (TCanvas* c = PaintCanvas()) return c;
  TBitmap* none = nullptr;
  return IdleCanvas(FIdleCanvas, none, Font());
}

TGraphicControl::TGraphicControl(TComponent* AOwner) : TControl(AOwner) {
  SetControlStyle(ControlStyle());
}
TGraphicControl::~TGraphicControl() = default;

TCanvas* TGraphicControl::Canvas() {
  if (TCanvas* c = PaintCanvas()) return c;
  TBitmap* none = nullptr;
  return IdleCanvas(FIdleCanvas, none, Font());
}

// ---------------------------------------------------------------------------------------------
// Look-ups

TControl* ControlOfWidget(HWND Window) {
  auto* w = static_cast<QWidget*>(Window);
  while (w) {
    if (auto* cw = dynamic_cast<detail::TControlWidget*>(w)) return cw->Control();
    w = w->parentWidget();
  }
  return nullptr;
}

TWinControl* FindControl(HWND Window) {
  for (TControl* c = ControlOfWidget(Window); c; c = c->Parent())
    if (auto* w = dynamic_cast<TWinControl*>(c)) return w;
  return nullptr;
}

TControl* FindDragTarget(const TPoint& ScreenPos, bool AllowDisabled) {
  QWidget* w = QApplication::widgetAt(ScreenPos.X, ScreenPos.Y);
  TControl* c = ControlOfWidget(w);
  if (!c) return nullptr;
  // Disabled widgets hide nothing from Qt's look-up, but a caller may not want them.
  while (c && !AllowDisabled && !c->Enabled()) c = c->Parent();
  return c;
}

}  // namespace platform

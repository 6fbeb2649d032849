#include "platform/ExtCtrls.h"

#include <QTimer>
#include <algorithm>

#include "platform/Forms.h"
#include "platform/Graphics.h"

namespace platform {

// ---------------------------------------------------------------------------------------------
// TCustomPanel

TCustomPanel::TCustomPanel(TComponent* AOwner) : TCustomControl(AOwner) {
  SetControlStyle(csAcceptsControls | csCaptureMouse | csClickEvents | csSetCaption | csOpaque | csDoubleClicks);
  SetBounds(0, 0, 185, 41);
  SetColor(clBtnFace);
}

void TCustomPanel::Changed() {
  Realign();
  Invalidate();
}

void TCustomPanel::SetBevelInner(TBevelCut Value) {
  if (Value == FBevelInner) return;
  FBevelInner = Value;
  Changed();
}

void TCustomPanel::SetBevelOuter(TBevelCut Value) {
  if (Value == FBevelOuter) return;
  FBevelOuter = Value;
  Changed();
}

void TCustomPanel::SetBevelWidth(int32_t Value) {
  Value = std::max(Value, 1);
  if (Value == FBevelWidth) return;
  FBevelWidth = Value;
  Changed();
}

void TCustomPanel::SetBorderWidth(int32_t Value) {
  Value = std::max(Value, 0);
  if (Value == FBorderWidth) return;
  FBorderWidth = Value;
  Changed();
}

void TCustomPanel::SetBorderStyle(TBorderStyle Value) {
  if (Value == FBorderStyle) return;
  FBorderStyle = Value;
  RecreateWnd();
  Changed();
}

void TCustomPanel::SetAlignment(TAlignment Value) {
  if (Value == FAlignment) return;
  FAlignment = Value;
  Invalidate();
}

void TCustomPanel::CreateParams(TCreateParams& Params) {
  TCustomControl::CreateParams(Params);
  if (FBorderStyle == bsSingle) Params.Style |= WS_BORDER;
}

void TCustomPanel::AdjustClientRect(TRect& Rect) {
  if (FBevelOuter != bvNone) InflateRect(Rect, -FBevelWidth, -FBevelWidth);
  InflateRect(Rect, -FBorderWidth, -FBorderWidth);
  if (FBevelInner != bvNone) InflateRect(Rect, -FBevelWidth, -FBevelWidth);
}

void TCustomPanel::Paint() {
  TCanvas* c = Canvas();
  TRect r = ClientRect();
  auto bevel = [&](TBevelCut cut) {
    TColor top = clBtnHighlight, bottom = clBtnShadow;
    if (cut == bvLowered) std::swap(top, bottom);
    if (cut == bvSpace) top = bottom = Color();
    Frame3D(c, r, top, bottom, FBevelWidth);
  };
  if (FBevelOuter != bvNone) bevel(FBevelOuter);
  if (FBorderWidth > 0) Frame3D(c, r, Color(), Color(), FBorderWidth);
  if (FBevelInner != bvNone) bevel(FBevelInner);
  c->Brush()->SetColor(Color());
  c->FillRect(r);
  if (Caption().empty()) return;
  c->Brush()->SetStyle(bsClear);
  c->SetFont(Font());
  const int32_t h = c->TextHeight("W");
  r.Top = (r.Bottom + r.Top - h) / 2;
  r.Bottom = r.Top + h;
  uint32_t flags = DT_EXPANDTABS | DT_VCENTER;
  if (FAlignment == taCenter) flags |= DT_CENTER;
  if (FAlignment == taRightJustify) flags |= DT_RIGHT;
  c->DrawText(Caption(), r, flags);
}

// ---------------------------------------------------------------------------------------------
// TTimer

TTimer::TTimer(TComponent* AOwner) : TComponent(AOwner) { UpdateTimer(); }

TTimer::~TTimer() {
  if (FTimer) FTimer->stop();
}

void TTimer::SetInterval(uint32_t Value) {
  if (Value == FInterval) return;
  FInterval = Value;
  UpdateTimer();
}

void TTimer::SetEnabled(bool Value) {
  if (Value == FEnabled) return;
  FEnabled = Value;
  UpdateTimer();
}

void TTimer::UpdateTimer() {
  if (FTimer) FTimer->stop();
  if (!FEnabled || FInterval == 0) return;
  if (!FTimer) {
    FTimer = std::make_unique<QTimer>();
    FTimer->setTimerType(Qt::PreciseTimer);
    QObject::connect(FTimer.get(), &QTimer::timeout, [this] {
      try {
        Timer();
      } catch (const std::exception& e) {
        Application()->HandleException(this, e);
      }
    });
  }
  // Qt takes a signed interval; longer ones are capped at about 24 days.
  FTimer->start(static_cast<int>(std::min<uint32_t>(FInterval, 0x7FFFFFFF)));
}

void TTimer::Timer() {
  if (OnTimer) OnTimer(this);
}

}  // namespace platform

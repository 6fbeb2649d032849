#include "widgets/PaneSplitter.h"

#include <algorithm>
#include <cstdlib>

#include "platform/Graphics.h"
#include "platform/Rounding.h"

namespace widgets {

using namespace platform;

// TSplitterPane ---------------------------------------------------------------------------------

TSplitterPane::TSplitterPane(TComponent* AOwner) : TCustomPanel(AOwner) {
  SetBorderStyle(bsNone);
  SetColor(clBtnFace);
  SetFrameStyle(ftLowered);
}

void TSplitterPane::SetFrameStyle(TPaneFrameStyle Value) {
  if (Value == FFrameStyle) return;
  FFrameStyle = Value;
  TBevelCut inner = bvNone, outer = bvNone;
  switch (Value) {
    case ftNone: break;
    case ftRaised: inner = outer = bvRaised; break;
    case ftLowered: inner = outer = bvLowered; break;
    case ftCarved: inner = bvRaised; outer = bvLowered; break;
    case ftBump: inner = bvLowered; outer = bvRaised; break;
  }
  SetBevelInner(inner);
  SetBevelOuter(outer);
}

// TSplitterPaneSetting --------------------------------------------------------------------------

TSplitterPane* TSplitterPaneSetting::Pane() const { return FIndex == 0 ? FSplitter->Pane1() : FSplitter->Pane2(); }

void TSplitterPaneSetting::Relayout() {
  FSplitter->ClampPosition(FSplitter->Position());
  FSplitter->LayoutPanes();
}

TColor TSplitterPaneSetting::Color() const { return Pane()->Color(); }
void TSplitterPaneSetting::SetColor(TColor Value) { Pane()->SetColor(Value); }
TPaneFrameStyle TSplitterPaneSetting::FrameStyle() const { return Pane()->FrameStyle(); }
int32_t TSplitterPaneSetting::FrameWidth() const { return Pane()->BevelWidth(); }
uint16_t TSplitterPaneSetting::MinSize() const { return Pane()->MinSize(); }

void TSplitterPaneSetting::SetFrameStyle(TPaneFrameStyle Value) {
  Pane()->SetFrameStyle(Value);
  Relayout();
}

void TSplitterPaneSetting::SetFrameWidth(int32_t Value) {
  Pane()->SetBevelWidth(Value);
  Relayout();
}

void TSplitterPaneSetting::SetMinSize(uint16_t Value) {
  Pane()->SetMinSize(Value);
  Relayout();
}

// TPaneSplitter ---------------------------------------------------------------------------------

TPaneSplitter::TPaneSplitter(TComponent* AOwner) : TCustomControl(AOwner) {
  SetControlStyle(ControlStyle() | csOpaque);
  SetBounds(0, 0, 100, 100);
  auto makePane = [this](int32_t Tag) {
    auto* pane = new TSplitterPane(this);
    pane->SetTag(Tag);
    pane->SetParent(this);
    pane->OnResize = [this](TObject* Sender) { DoPaneResize(Sender); };
    return pane;
  };
  FPane1 = makePane(1);
  FPane2 = makePane(2);
  // The dragged bar is inverted over the panes, not only in the gap between them.
  XorOverlay().SetAboveChildren(true);
  FPane1Setting = std::make_unique<TSplitterPaneSetting>(this, 0);
  FPane2Setting = std::make_unique<TSplitterPaneSetting>(this, 1);
}

TPaneSplitter::~TPaneSplitter() = default;

int32_t TPaneSplitter::Extent() const { return FOrientation == soHorizontal ? ClientHeight() : ClientWidth(); }

void TPaneSplitter::UpdateRatio(int32_t AExtent) {
  // A window without extent keeps the last share instead of dividing by zero.
  if (AExtent > 0) FPositionRatio = static_cast<double>(FPosition) / AExtent;
}

void TPaneSplitter::SetPosition(int32_t Value) {
  if (!HandleAllocated()) {
    FPosition = Value;
    FRequestedPosition = Value;
    FPositionPending = true;
    UpdateRatio(FOrientation == soHorizontal ? Height() : Width());
    return;
  }
  FPositionPending = false;
  ClampPosition(Value);
  Invalidate();
}

void TPaneSplitter::SetOrientation(TSplitterOrientation Value) {
  if (Value == FOrientation) return;
  FOrientation = Value;
  if (HandleAllocated()) LayoutPanes();
}

void TPaneSplitter::SetThickness(int32_t Value) {
  Value = std::max(Value, 0);
  if (Value == FThickness) return;
  FThickness = Value;
  if (HandleAllocated()) LayoutPanes();
}

void TPaneSplitter::SetSplitterColor(TColor Value) {
  if (Value == FSplitterColor) return;
  FSplitterColor = Value;
  Repaint();
}

void TPaneSplitter::SetBorderStyle(TBorderStyle Value) {
  if (Value == FBorderStyle) return;
  FBorderStyle = Value;
  RecreateWnd();
}

void TPaneSplitter::Ctl3DChanged() {
  if (FBorderStyle == bsSingle && HandleAllocated()) {
    RecreateWnd();
    LayoutPanes();
  } else {
    Invalidate();
  }
}

void TPaneSplitter::CreateParams(TCreateParams& Params) {
  TCustomControl::CreateParams(Params);
  Params.WindowClassStyle &= ~(CS_HREDRAW | CS_VREDRAW);
  if (FBorderStyle == bsSingle) {
    if (Ctl3D())
      Params.ExStyle |= WS_EX_CLIENTEDGE;
    else
      Params.Style |= WS_BORDER;
  }
}

void TPaneSplitter::CreateWnd() {
  TCustomControl::CreateWnd();
  LayoutPanes();
}

namespace {
// Limits are worked out in 64 bits and kept well inside 32 bits, so that absurd thicknesses,
// frames or minimum sizes cannot overflow the bar's coordinates.
int32_t KeepInRange(int64_t Value) {
  constexpr int64_t kLimit = int64_t{1} << 30;
  return static_cast<int32_t>(std::clamp(Value, -kLimit, kLimit));
}
}  // namespace

int32_t TPaneSplitter::LowLimit() const { return KeepInRange(int64_t{FPane1->MinSize()} + FPane1->FrameSize()); }

int32_t TPaneSplitter::HighLimit() const {
  const int64_t reserve = FPane2->FrameStyle() == ftNone ? 1 : FPane2->FrameSize();
  return KeepInRange(int64_t{Extent()} - FThickness - FPane2->MinSize() - reserve);
}

void TPaneSplitter::ClampPosition(int32_t Value) {
  // When the two minimum sizes do not fit, the upper limit wins.
  FPosition = std::min(HighLimit(), std::max(LowLimit(), Value));
}

void TPaneSplitter::LayoutPanes() {
  if (!HandleAllocated()) return;
  if (FPositionPending) {
    ClampPosition(FRequestedPosition);
    // Kept until a size is reached that holds it (the first layouts may come before the
    // control has its final size).
    if (FPosition == FRequestedPosition) FPositionPending = false;
  } else {
    ClampPosition(FPosition);
  }
  const int32_t t = FThickness, w = ClientWidth(), h = ClientHeight();
  const bool v1 = FPane1->Visible(), v2 = FPane2->Visible();
  if (v1 && v2) {
    // The upper limit may lie outside the client area when the minimum sizes do not fit; the
    // panes then stay inside it with sizes of at least 0.
    if (FOrientation == soHorizontal) {
      const int32_t p = std::clamp(FPosition, 0, h);
      FPane1->SetBounds(0, 0, w, p);
      FPane2->SetBounds(0, std::min(p + t, h), w, std::max(h - p - t, 0));
    } else {
      const int32_t p = std::clamp(FPosition, 0, w);
      FPane1->SetBounds(0, 0, p, h);
      FPane2->SetBounds(std::min(p + t, w), 0, std::max(w - p - t, 0), h);
    }
  } else if (v1 || v2) {
    (v1 ? FPane1 : FPane2)->SetBounds(0, 0, w, h);
  }
  FPane1->Invalidate();
  FPane2->Invalidate();
  DoPaneResize(this);
  UpdateRatio(FOrientation == soHorizontal ? h : w);
}

void TPaneSplitter::DoPaneResize(TObject* Sender) {
  if (OnPaneResize) OnPaneResize(Sender);
}

void TPaneSplitter::WMSize() {
  if (FProportionalResize && !FPositionPending && HandleAllocated())
    SetPosition(static_cast<int32_t>(Round(static_cast<double>(Extent()) * FPositionRatio)));
  LayoutPanes();
  TCustomControl::WMSize();  // realigns, then OnResize
}

void TPaneSplitter::Paint() {
  // While the inverted bar is being dragged the panes wait for the release (a paint comes with
  // every move of the inverted bar); the bar is painted where the panes still leave it.
  const bool dragging = FLastDragPos.X > -1 || FLastDragPos.Y >= 0;
  if (!dragging) LayoutPanes();
  TCanvas* c = Canvas();
  const int32_t t = FThickness, w = ClientWidth(), h = ClientHeight();
  const int32_t p = !dragging ? FPosition : FOrientation == soHorizontal ? FPane1->Height() : FPane1->Width();
  if (!FPane1->Visible() && !FPane2->Visible()) {
    c->Brush()->SetColor(Color());
    c->FillRect(ClientRect());
    return;
  }
  if (!Ctl3D() || BothPanesVisible()) {
    const TRect bar = FOrientation == soHorizontal ? TRect{0, p, w, p + t} : TRect{p, 0, p + t, h};
    c->Pen()->SetColor(FSplitterColor);
    c->Brush()->SetColor(FSplitterColor);
    c->Rectangle(bar);
  }
}

bool TPaneSplitter::CursorQuery(TPoint P, TCursor& Cursor) {
  // While a drag holds the capture the bar may lag the pointer (limits); the drag goes on.
  if (FOverBar && MouseCapture()) {
    Cursor = FOrientation == soHorizontal ? crVSplit : crHSplit;
    return true;
  }
  const bool found = PointOnBar(P);
  if (found) Cursor = FOrientation == soHorizontal ? crVSplit : crHSplit;
  FOverBar = found && FAllowResize;
  return FOverBar;
}

bool TPaneSplitter::PointOnBar(TPoint P) const {
  if (!BothPanesVisible()) return false;
  const int64_t along = FOrientation == soHorizontal ? P.Y : P.X;
  return std::abs(int64_t{FPosition} - along) <= FThickness;
}

void TPaneSplitter::MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
  TCustomControl::MouseDown(Button, Shift, X, Y);
  // The pointer is checked against the bar with the press as well, as with every mouse message
  // (a press straight after a drag comes without a move).
  if (Button == mbLeft) FOverBar = PointOnBar({X, Y}) && FAllowResize;
  if (FOverBar && Button == mbLeft) {
    FPositionPending = false;
    SetMouseCapture(true);
    DrawDragBar(X, Y);
  }
}

void TPaneSplitter::MouseMove(TShiftState Shift, int32_t X, int32_t Y) {
  TCustomControl::MouseMove(Shift, X, Y);
  if (!MouseCapture() || !FOverBar) return;
  const bool horz = FOrientation == soHorizontal;
  int32_t v = horz ? Y : X;
  // Past either end the bar goes to the limit: a quick drag to the edge of the window skips
  // the positions in between, and would otherwise leave the bar wherever the last one was.
  if (v < FPane1->MinSize()) v = LowLimit();
  else if (v > Extent() - FPane2->MinSize()) v = HighLimit();
  if (v < 0 || v == FPosition) return;
  DrawDragBar(horz ? X : v, horz ? v : Y);
  if (FAutoUpdate) Repaint();
}

void TPaneSplitter::MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
  if (FOverBar) {
    SetMouseCapture(false);
    FOverBar = false;
    DrawDragBar(-1, -1);
    Repaint();
  }
  TCustomControl::MouseUp(Button, Shift, X, Y);
}

void TPaneSplitter::DrawDragBar(int32_t X, int32_t Y) {
  if (!BothPanesVisible()) return;
  const int32_t w = ClientWidth(), h = ClientHeight(), t = FThickness;
  const bool horz = FOrientation == soHorizontal;
  if (FAutoUpdate && X >= 0 && Y >= 0) {
    InvalidateBar();
    ClampPosition(horz ? Y : X);
    InvalidateBar();
    return;
  }
  if (FLastDragPos.X > -1 || FLastDragPos.Y >= 0)
    XorBar(horz ? TRect{0, FLastDragPos.Y, w, FLastDragPos.Y + t} : TRect{FLastDragPos.X, 0, FLastDragPos.X + t, h});
  FLastDragPos = {X, Y};
  if (FOverBar) {
    ClampPosition(horz ? Y : X);
    if (horz)
      FLastDragPos.Y = FPosition;
    else
      FLastDragPos.X = FPosition;
    XorBar(horz ? TRect{0, FPosition, w, FPosition + t} : TRect{FPosition, 0, FPosition + t, h});
  }
}

void TPaneSplitter::XorBar(const TRect& R) {
  if (FSplitterStyle == ssSolid || FSplitterColor == 0)
    XorOverlay().ToggleInvert(R);
  else
    XorOverlay().TogglePattern(R);
}

void TPaneSplitter::InvalidateBar() {
  const int32_t p = FPosition, t = FThickness;
  if (FOrientation == soHorizontal)
    InvalidateRect({0, p - 2, ClientWidth(), p + t + 2});
  else
    InvalidateRect({p - 2, 0, p + t + 2, ClientHeight()});
}

}  // namespace widgets

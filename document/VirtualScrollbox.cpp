#include "document/VirtualScrollbox.h"

#include <algorithm>

#include "platform/Graphics.h"
#include "platform/Rounding.h"

namespace document {

using namespace platform;

namespace {
// Halves to even, as the processor's default rounding mode does.
int32_t Nearest(float V) { return static_cast<int32_t>(Round(static_cast<double>(V))); }
}  // namespace

TVirtScrollBox::TVirtScrollBox(TComponent* AOwner) : TCustomControl(AOwner) {
  // Nothing is erased before Paint: descendants paint the whole client area.
  SetControlStyle(ControlStyle() | csOpaque);
  SetColor(clAppWorkSpace);
  SetBounds(Left(), Top(), 150, 250);
}

void TVirtScrollBox::CreateParams(TCreateParams& Params) {
  TCustomControl::CreateParams(Params);
  Params.WindowClassStyle &= ~(CS_HREDRAW | CS_VREDRAW);
  if (FBorderStyle == bsSingle) {
    if (Ctl3D())
      Params.ExStyle |= WS_EX_CLIENTEDGE;
    else
      Params.Style |= WS_BORDER;
  }
}

void TVirtScrollBox::SetAutoScroll(bool Value) {
  if (Value == FAutoScroll) return;
  FAutoScroll = Value;
  if (!Value) {
    ResetScrollBars();
    FScrollX = 0;
    FScrollY = 0;
  } else {
    UpdateScrollRanges();
  }
}

void TVirtScrollBox::SetBorderStyle(TBorderStyle Value) {
  if (Value == FBorderStyle) return;
  FBorderStyle = Value;
  if (HandleAllocated()) RecreateWnd();
}

void TVirtScrollBox::Ctl3DChanged() {
  if (HandleAllocated()) RecreateWnd();
}

void TVirtScrollBox::SetThumb(int32_t Bar, float Value) {
  const int32_t pos = Nearest(Value * FScale);
  if (GetScrollPos(Bar) != pos) SetScrollPos(Bar, pos, true);
}

void TVirtScrollBox::ScrollBy(int32_t& DX, int32_t& DY) {
  const float newX = std::min(std::max(FScrollX + float(DX), 0.0f), std::max(FVirtualWidth - float(ClientWidth()), 0.0f));
  const float newY =
      std::min(std::max(FScrollY + float(DY), 0.0f), std::max(FVirtualHeight - float(ClientHeight()), 0.0f));
  DX = Nearest(newX - FScrollX);
  DY = Nearest(newY - FScrollY);
  if (DX == 0 && DY == 0) return;
  FScrollX = newX;
  FScrollY = newY;
  ScrollChanged();
  if (!HandleAllocated()) return;
  ScrollWindow(-DX, -DY);
  SetThumb(SB_HORZ, newX);
  SetThumb(SB_VERT, newY);
}

void TVirtScrollBox::SetVirtualArea(float X, float Y, float Width, float Height) {
  if (X == FScrollX && Y == FScrollY && Width == FVirtualWidth && Height == FVirtualHeight) return;
  if (X != FScrollX || Y != FScrollY) {
    FScrollX = X;
    FScrollY = Y;
    ScrollChanged();
  }
  FVirtualWidth = Width;
  FVirtualHeight = Height;
  UpdateScrollRanges();
}

void TVirtScrollBox::UpdateScrollRanges() {
  if (!HandleAllocated() || !FAutoScroll) return;
  const float m = std::max(FVirtualWidth, FVirtualHeight);
  FScale = m > 30000.0f ? 30000.0f / m : 1.0f;
  const float newX = std::max(std::min(FScrollX, FVirtualWidth - float(ClientWidth())), 0.0f);
  const float newY = std::max(std::min(FScrollY, FVirtualHeight - float(ClientHeight())), 0.0f);
  if (newX != FScrollX || newY != FScrollY) {
    FScrollX = newX;
    FScrollY = newY;
    ScrollChanged();
    Invalidate();
  }
  // Setting one bar may show it and shrink the client, which re-enters through WMSize; each
  // bar therefore reads the sizes as they are when it is set.
  for (int32_t bar : {SB_HORZ, SB_VERT}) {
    const bool h = bar == SB_HORZ;
    TScrollInfo si;
    si.fMask = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_DISABLENOSCROLL;
    si.nMin = 0;
    si.nMax = Nearest((h ? FVirtualWidth : FVirtualHeight) * FScale);
    si.nPage = uint32_t(std::max(0, Nearest(float(h ? ClientWidth() : ClientHeight()) * FScale)));
    si.nPos = Nearest((h ? FScrollX : FScrollY) * FScale);
    si.nTrackPos = si.nPos;
    SetScrollInfo(bar, si, true);
  }
}

void TVirtScrollBox::ResetScrollBars() {
  if (!HandleAllocated()) return;
  TScrollInfo si;
  si.fMask = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_DISABLENOSCROLL;
  SetScrollInfo(SB_HORZ, si, true);
  SetScrollInfo(SB_VERT, si, true);
}

void TVirtScrollBox::Paint() {
  TCanvas* c = Canvas();
  const TRect clip = c->ClipRect();
  TRect area{0, 0, Nearest(FVirtualWidth), Nearest(FVirtualHeight)};
  OffsetRect(area, -Nearest(FScrollX), -Nearest(FScrollY));
  TRect inter;
  const bool any = IntersectRect(inter, clip, area);
  const int64_t covered = any ? int64_t(inter.Width()) * inter.Height() : 0;
  if (covered < int64_t(clip.Width()) * clip.Height()) {
    c->Brush()->SetColor(Color());
    c->Brush()->SetStyle(bsSolid);
    c->FillRect(clip);
  }
}

void TVirtScrollBox::WMSize() {
  UpdateScrollRanges();
  TCustomControl::WMSize();
}

void TVirtScrollBox::WMHScroll(int32_t Code, int32_t Pos) {
  float x = FScrollX;
  ScrollMessage(SB_HORZ, Code, Pos, ClientWidth(), FVirtualWidth, x);
}

void TVirtScrollBox::WMVScroll(int32_t Code, int32_t Pos) {
  float y = FScrollY;
  ScrollMessage(SB_VERT, Code, Pos, ClientHeight(), FVirtualHeight, y);
}

void TVirtScrollBox::ScrollMessage(int32_t Bar, int32_t Code, int32_t ThumbPos, int32_t PageSize, float MaxValue,
                                   float& Pos) {
  if (!FAutoScroll) return;
  float req;
  switch (Code) {
    case SB_LINEUP: req = Pos - float(FLineStep); break;
    case SB_LINEDOWN: req = Pos + float(FLineStep); break;
    case SB_PAGEUP: req = Pos - float(PageSize); break;
    case SB_PAGEDOWN: req = Pos + float(PageSize); break;
    case SB_THUMBPOSITION: req = float(ThumbPos) / FScale; break;
    case SB_THUMBTRACK:
      if (!FTrack) return;
      req = float(ThumbPos) / FScale;
      break;
    case SB_TOP: req = 0; break;
    case SB_BOTTOM: req = MaxValue - float(PageSize); break;
    default: return;
  }
  const float newPos = std::min(std::max(req, 0.0f), std::max(MaxValue - float(PageSize), 0.0f));
  const int32_t delta = Nearest(newPos - Pos);
  if (delta == 0) return;
  Pos = newPos;
  if (Bar == SB_HORZ)
    FScrollX = newPos;
  else
    FScrollY = newPos;
  ScrollChanged();
  if (Bar == SB_HORZ)
    ScrollWindow(-delta, 0);
  else
    ScrollWindow(0, -delta);
  const int32_t thumb = Nearest(req * FScale);
  if (GetScrollPos(Bar) != thumb) SetScrollPos(Bar, thumb, true);
}

}  // namespace document

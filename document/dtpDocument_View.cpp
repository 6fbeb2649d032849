// The document view: coordinates, layout of the current page, zoom, painting, the 50 ms
// timer with its idle thumbnail refresh, and shape hints.
#include <algorithm>
#include <cmath>

#include "document/dtpDocument.h"
#include "platform/ExtCtrls.h"
#include "platform/Forms.h"
#include "platform/Graphics.h"
#include "platform/Rounding.h"
#include "platform/SysUtils.h"

namespace document {

using namespace platform;

namespace {
float ClampDpm(float V) { return std::min(std::max(V, cMinScreenDpm), cMaxScreenDpm); }
}  // namespace

// --- coordinates ---------------------------------------------------------------------

raster::TdtpFloatPoint TdtpDocument::DocToScreen(const raster::TdtpFloatPoint& P) const {
  return {(P.X - FOriginX) * FScreenDpm, (P.Y - FOriginY) * FScreenDpm};
}

raster::TdtpFloatPoint TdtpDocument::ScreenToDoc(const TPoint& P) const {
  return {float(P.X) / FScreenDpm + FOriginX, float(P.Y) / FScreenDpm + FOriginY};
}

void TdtpDocument::ScrollChanged() {
  FOriginX = ScrollX() / FScreenDpm;
  FOriginY = ScrollY() / FScreenDpm;
  if (OnScroll) OnScroll(this);
}

// --- layout and zoom -----------------------------------------------------------------

void TdtpDocument::UpdateLayout() {
  TdtpPage* page = CurrentPage();
  if (FInLayout || !page) return;
  FInLayout = true;
  try {
    if (FViewStyle == vsPrintLayout) {
      const TdtpFloatRect r = page->GetParentPaintBounds();
      SetVirtualArea(0, 0, (r.Right - r.Left) * FScreenDpm + 20, (r.Bottom - r.Top) * FScreenDpm + 20);
      page->SetViewPosition(10 / FScreenDpm, 10 / FScreenDpm);
    } else {
      SetVirtualArea(0, 0, page->DocWidth() * FScreenDpm, page->DocHeight() * FScreenDpm);
      page->SetViewPosition(0, 0);
    }
  } catch (...) {
    FInLayout = false;
    throw;
  }
  FInLayout = false;
}

void TdtpDocument::SetScreenDpm(float V) {
  if (!std::isfinite(V)) return;
  // Output painting picks its own scale; the view keeps to a sane zoom.
  if (!IsPrinting()) V = ClampDpm(V);
  if (V == FScreenDpm) return;
  FScreenDpm = V;
  if (FRenderAtScreenRes) SetRenderDpm(V);
  if (IsPrinting()) return;
  // The origin follows the scroll position at the new scale.
  FOriginX = ScrollX() / FScreenDpm;
  FOriginY = ScrollY() / FScreenDpm;
  Invalidate();
}

void TdtpDocument::SetRenderDpm(float V) {
  if (!std::isfinite(V) || V == FRenderDpm) return;
  // While a page paints itself for output it chooses the resolution and manages its buffers.
  if (IsPrinting()) {
    FRenderDpm = V;
    return;
  }
  V = std::min(std::max(V, cMinScreenDpm), cMaxRenderDpm);
  if (V == FRenderDpm) return;
  FRenderDpm = V;
  if (TdtpPage* page = CurrentPage()) {
    page->FreeBuffersAll();
    page->RefreshAll();
  }
}

void TdtpDocument::SetRenderAtScreenRes(bool V) {
  if (V == FRenderAtScreenRes) return;
  FRenderAtScreenRes = V;
  SetRenderDpm(FScreenDpm);
}

void TdtpDocument::SetViewStyle(TdtpViewStyleType V) {
  if (V == FViewStyle) return;
  FViewStyle = V;
  UpdateLayout();
  Invalidate();
}

// Zooming needs a page: without one the view and the percentage stay as they are.
void TdtpDocument::SetZoomPercent(float V) {
  if (!CurrentPage()) return;
  FZoomPercent = V;
  ZoomFitWidth();
  ZoomBy(V / 100.0f);
}

void TdtpDocument::ZoomBy(float Factor) {
  if (!std::isfinite(Factor) || !(Factor > 0) || !CurrentPage()) return;
  const float old = FScreenDpm;
  SetScreenDpm(FScreenDpm * Factor);
  // At the limits of the zoom the area follows the factor really applied.
  const float f = FScreenDpm / old;
  const float cw = float(ClientWidth()), ch = float(ClientHeight());
  float x = (cw * 0.5f + ScrollX()) * f - cw * 0.5f;
  float y = (ch * 0.5f + ScrollY()) * f - ch * 0.5f;
  const float w = VirtualWidth() * f, h = VirtualHeight() * f;
  if (ScrollX() == 0 && ScrollY() == 0) x = y = 0;
  SetVirtualArea(x, y, w, h);
  Invalidate();
}

void TdtpDocument::ZoomIn() {
  if (!CurrentPage()) return;
  const float old = FScreenDpm;
  ZoomBy(1.1f);
  // At a limit of the zoom the percentage follows the step really taken.
  FZoomPercent = FScreenDpm == cMaxScreenDpm ? FZoomPercent * (FScreenDpm / old) : FZoomPercent * 1.1f;
}

void TdtpDocument::ZoomOut() {
  if (!CurrentPage()) return;
  const float old = FScreenDpm;
  ZoomBy(0.90909094f);
  FZoomPercent = FScreenDpm == cMinScreenDpm ? FZoomPercent * (FScreenDpm / old) : FZoomPercent / 1.1f;
}

void TdtpDocument::ZoomFitPage() {
  TdtpPage* page = CurrentPage();
  if (!page) return;
  float w = 0;
  for (int pass = 0; pass < 2; ++pass) {
    ResetScrollBars();
    float h;
    if (FViewStyle == vsPrintLayout) {
      w = float(ClientWidth() - 23);
      h = float(ClientHeight() - 23);
    } else {
      w = float(ClientWidth() - 1);
      h = float(ClientHeight() - 1);
    }
    if (!(w > 0) || !(h > 0) || !(page->DocWidth() > 0) || !(page->DocHeight() > 0)) return;
    SetScreenDpm(std::min(w / page->DocWidth(), h / page->DocHeight()));
    UpdateLayout();
  }
  if (page->DocWidth() > 0) FZoomPercent = page->DocWidth() * FScreenDpm / w * 100.0f;
}

void TdtpDocument::ZoomFitWidth() {
  TdtpPage* page = CurrentPage();
  if (!page) return;
  const bool print = FViewStyle == vsPrintLayout;
  const float border = print ? 22.0f : 2.0f;
  const float drawn = print ? page->DocWidth() + page->OutsetLeft() + page->OutsetRight() : page->DocWidth();
  if (!(drawn > 0)) return;
  if (print) ResetScrollBars();
  const int32_t w = ClientWidth();
  if (float(w) - border <= 0) return;
  SetScreenDpm((float(w) - border) / drawn);
  UpdateLayout();
  if (ClientWidth() < w && float(ClientWidth()) - border > 0) {
    SetScreenDpm((float(ClientWidth()) - border) / drawn);
    UpdateLayout();
  }
}

void TdtpDocument::ZoomPageWidth() {
  if (!CurrentPage()) return;
  FZoomPercent = 100;
  ZoomFitWidth();
}

void TdtpDocument::WMSize() {
  if (Width() != FLastWidth) {
    FLastWidth = Width();
    if (FAutoWidth && FZoomPercent == 100.0f) SetZoomPercent(FZoomPercent);
  }
  TVirtScrollBox::WMSize();
}

void TdtpDocument::SetParent(TWinControl* AParent) {
  TVirtScrollBox::SetParent(AParent);
  LockUndo();
  try {
    ZoomPageWidth();
  } catch (...) {
    UnlockUndo();
    throw;
  }
  UnlockUndo();
  if (AParent) PageChanged(CurrentPage());
}

// --- painting ------------------------------------------------------------------------

void TdtpDocument::Paint() {
  if (IsPrinting()) return;
  TCanvas* c = Canvas();
  PaintDocument(c);
  PaintSelection(c);
}

void TdtpDocument::PaintDocument(TCanvas* Canvas) {
  FOutputRendering = false;
  TdtpPage* page = CurrentPage();
  bool painted = false;
  if (page && page->Visible()) {
    // The part of the view beside the page is the control's colour.
    TRect pr;
    page->GetScreenRect(pr);
    const TRect clip = Canvas->ClipRect();
    Canvas->Brush()->SetColor(Color());
    Canvas->Brush()->SetStyle(bsSolid);
    if (clip.Top < pr.Top) Canvas->FillRect({clip.Left, clip.Top, clip.Right, std::min(pr.Top, clip.Bottom)});
    if (pr.Bottom < clip.Bottom) Canvas->FillRect({clip.Left, std::max(pr.Bottom, clip.Top), clip.Right, clip.Bottom});
    const int32_t t = std::max(clip.Top, pr.Top), b = std::min(clip.Bottom, pr.Bottom);
    if (t < b) {
      if (clip.Left < pr.Left) Canvas->FillRect({clip.Left, t, std::min(pr.Left, clip.Right), b});
      if (pr.Right < clip.Right) Canvas->FillRect({std::max(pr.Right, clip.Left), t, clip.Right, b});
    }
    try {
      painted = page->PaintToCanvas(Canvas);
    } catch (const std::exception&) {
      // A drawing that fails must not raise from every paint; the page area stays empty.
      painted = false;
    }
  }
  if (!painted) PaintEmpty(Canvas);
  if (FViewCursor == crAppStart) SetViewCursor(Cursor());
}

void TdtpDocument::PaintEmpty(TCanvas* Canvas) {
  Canvas->Brush()->SetColor(Color());
  Canvas->Brush()->SetStyle(bsSolid);
  Canvas->FillRect(Canvas->ClipRect());
}

void TdtpDocument::InvalidateScreenRect(const TRect& R) {
  if (IsPrinting()) return;
  if (platform::IsRectEmpty(R)) {
    InvalidateRect(R);
    return;
  }
  // The page reaches the screen as its buffer stretched with the view's filter, whose samples
  // reach beyond a shape's own pixels (further when zoomed in beyond the render resolution,
  // and one more for the rounding of the whole-buffer mapping): those pixels change with it.
  const double support = FQuality == raster::sfSpline ? 2 : 1;
  const double perSample = FRenderDpm > 0 ? std::max(1.0, double(FScreenDpm) / FRenderDpm) : 1.0;
  const int32_t m = int32_t(std::min(64.0, std::ceil(support * perSample))) + 1;
  InvalidateRect({R.Left - m, R.Top - m, R.Right + m, R.Bottom + m});
}

// --- timer ---------------------------------------------------------------------------

void TdtpDocument::TimerTick(TObject* Sender) {
  if (FInTimer) return;
  FInTimer = true;
  try {
    DoAutoPageUpdate();
    if (OnAnimate) OnAnimate(Sender);
    if (TdtpPage* page = CurrentPage())
      for (int32_t i = 0; i < page->GetShapeCount(); ++i) page->GetShape(i)->Tick();
  } catch (...) {
    FInTimer = false;
    throw;
  }
  FInTimer = false;
}

bool TdtpDocument::DoAutoPageUpdate() {
  if (!FAutoPageUpdate || FCurrentPageIndex < 0 || FCurrentPageIndex >= GetPageCount()) return false;
  const uint32_t now = GetTickCount();
  if (FDragState != 0) FLastChange = now;
  const int32_t diff = int32_t(now - FLastChange);
  if (std::abs(int64_t(diff)) < FIdleInterval) return false;
  // One thumbnail per tick keeps the interface responsive without a nested message loop.
  for (auto& p : FPages)
    if (p->ThumbnailStale()) {
      p->UpdateThumbnail();
      return true;
    }
  return false;
}

// --- hints ---------------------------------------------------------------------------

void TdtpDocument::StartShapeHint(const TPoint& P, TdtpShape* Shape, int32_t Delay) {
  StopShapeHint();
  if (!Shape || !Shape->EffectiveShowHint() || Shape->Hint().empty()) return;
  FHintShape = Shape;
  FHintPoint = P;
  if (!FHintTimer) FHintTimer = std::make_unique<TTimer>(nullptr);
  FHintTimer->SetEnabled(false);
  FHintTimer->SetInterval(uint32_t(std::max(Delay, 1)));
  // The timer outlives its own ticks: stopping only disables it.
  FHintTimer->OnTimer = [this](TObject*) {
    if (FHintWindow)
      StopShapeHint();
    else
      ShowShapeHint();
  };
  FHintTimer->SetEnabled(true);
}

void TdtpDocument::ShowShapeHint() {
  if (!FHintShape || !FHintTimer) return;
  FHintWindow = std::make_unique<THintWindow>(nullptr);
  FHintWindow->SetColor(TColor(0xE0FFFF));
  const std::string text = FHintShape->Hint();
  TRect r = FHintWindow->CalcHintRect(Screen()->Width() / 2, text);
  const TPoint o = ClientToScreen({0, 0});
  OffsetRect(r, o.X + FHintPoint.X, o.Y + FHintPoint.Y + 24);
  FHintWindow->ActivateHint(r, text);
  FHintTimer->SetEnabled(false);
  FHintTimer->SetInterval(uint32_t(std::max(FHintHidePause, 1)));
  FHintTimer->SetEnabled(true);
}

void TdtpDocument::StopShapeHint() {
  FHintWindow.reset();
  if (FHintTimer) FHintTimer->SetEnabled(false);
}

}  // namespace document

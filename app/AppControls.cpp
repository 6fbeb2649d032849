#include "app/AppControls.h"

#include <algorithm>

#include "platform/Graphics.h"
#include "platform/SysUtils.h"

namespace app {

using namespace platform;

TLabel::TLabel(TComponent* AOwner) : TCustomPanel(AOwner) {
  SetBevelOuter(bvNone);
  SetAlignment(taLeftJustify);
  SetParentColor(true);
}

TBitBtn::TBitBtn(TComponent* AOwner) : TCustomPanel(AOwner) {
  SetBevelOuter(bvRaised);
  SetBevelWidth(2);
  SetBounds(0, 0, 75, 25);
}

void TBitBtn::SetFlat(bool Value) {
  if (FFlat == Value) return;
  FFlat = Value;
  SetBevelOuter(Value ? bvNone : bvRaised);
}

TNotebookPage::TNotebookPage(TComponent* AOwner) : TCustomPanel(AOwner) {
  SetBevelOuter(bvNone);
  SetCaption("");
}

TNotebook::TNotebook(TComponent* AOwner) : TCustomPanel(AOwner) {
  SetBevelOuter(bvNone);
  SetCaption("");
}

TNotebookPage* TNotebook::AddPage(const std::string& Caption) {
  auto* page = new TNotebookPage(this);
  page->SetName("");
  page->SetParent(this);
  page->SetAlign(alClient);
  // The page's caption names it; the panel must not paint it.
  page->SetCaption("");
  FPages.push_back(page);
  FCaptions.push_back(Caption);
  page->SetVisible(FPages.size() == 1);
  if (FPages.size() == 1) FPageIndex = 0;
  return page;
}

void TNotebook::SetPageIndex(int32_t Value) {
  if (Value < 0 || Value >= PageCount() || Value == FPageIndex) return;
  // Show the new page before hiding the old one, so the notebook is never blank.
  FPages[size_t(Value)]->SetVisible(true);
  if (FPageIndex >= 0) FPages[size_t(FPageIndex)]->SetVisible(false);
  FPageIndex = Value;
  if (OnPageChanged) OnPageChanged(this);
}

std::string TNotebook::ActivePage() const {
  return FPageIndex >= 0 ? FCaptions[size_t(FPageIndex)] : std::string();
}

void TNotebook::SetActivePage(const std::string& Value) {
  for (size_t i = 0; i < FCaptions.size(); ++i)
    if (SameText(FCaptions[i], Value)) {
      SetPageIndex(int32_t(i));
      return;
    }
}

TTrackBar::TTrackBar(TComponent* AOwner) : TCustomControl(AOwner) { SetBounds(0, 0, 150, 45); }

void TTrackBar::SetRange(int32_t AMin, int32_t AMax) {
  if (AMax < AMin) AMax = AMin;
  FMin = AMin;
  FMax = AMax;
  FPosition = std::clamp(FPosition, FMin, FMax);
  Invalidate();
}

void TTrackBar::SetFrequency(int32_t Value) {
  if (FFrequency == Value) return;
  FFrequency = Value;
  Invalidate();
}

void TTrackBar::SetPosition(int32_t Value) {
  Value = std::clamp(Value, FMin, FMax);
  if (FPosition == Value) return;
  FPosition = Value;
  Invalidate();
}

void TTrackBar::SetThumbLength(int32_t Value) {
  if (FThumbLength == Value) return;
  FThumbLength = Value;
  Invalidate();
}

void TTrackBar::Paint() {
  TCanvas* c = Canvas();
  const int32_t w = Width(), margin = 8, y = 4 + FThumbLength / 2;
  c->Brush()->SetColor(Color());
  c->FillRect(TRect{0, 0, w, Height()});
  c->Pen()->SetColor(clBtnShadow);
  c->MoveTo(margin, y);
  c->LineTo(w - margin, y);
  const int64_t span = int64_t(FMax) - FMin;
  auto xOf = [&](int64_t v) { return span ? int32_t(margin + (v - FMin) * (w - 2 * margin) / span) : margin; };
  if (FTickStyle == tsAuto && FFrequency > 0 && span / FFrequency <= 1000) {
    c->Pen()->SetColor(clBlack);
    for (int64_t v = FMin; v <= FMax; v += FFrequency) {
      c->MoveTo(xOf(v), y + FThumbLength / 2 + 3);
      c->LineTo(xOf(v), y + FThumbLength / 2 + 7);
    }
  }
  const int32_t x = xOf(FPosition);
  c->Brush()->SetColor(clBtnFace);
  c->Rectangle(x - 4, y - FThumbLength / 2, x + 5, y + FThumbLength / 2 + 1);
}

TCheckBox::TCheckBox(TComponent* AOwner) : TCustomControl(AOwner) { SetBounds(0, 0, 97, 17); }

void TCheckBox::SetChecked(bool Value) {
  if (FChecked == Value) return;
  FChecked = Value;
  Invalidate();
}

void TCheckBox::Click() {
  SetChecked(!FChecked);
  TCustomControl::Click();
}

void TCheckBox::Paint() {
  TCanvas* c = Canvas();
  c->Brush()->SetColor(Color());
  c->FillRect(TRect{0, 0, Width(), Height()});
  const int32_t top = (Height() - 13) / 2;
  c->Brush()->SetColor(clWindow);
  c->Pen()->SetColor(clBtnShadow);
  c->Rectangle(0, top, 13, top + 13);
  if (FChecked) {
    c->Pen()->SetColor(clWindowText);
    c->Pen()->SetWidth(2);
    c->MoveTo(3, top + 6);
    c->LineTo(5, top + 9);
    c->LineTo(10, top + 3);
    c->Pen()->SetWidth(1);
  }
  c->Brush()->SetStyle(bsClear);
  c->TextOut(18, (Height() - c->TextHeight("Wg")) / 2, Caption());
}

TShape::TShape(TComponent* AOwner) : TGraphicControl(AOwner) { SetBounds(0, 0, 65, 65); }

void TShape::SetShape(TShapeType Value) {
  if (FShape == Value) return;
  FShape = Value;
  Invalidate();
}

void TShape::SetPen(TColor Color, int32_t Width) {
  FPenColor = Color;
  FPenWidth = Width;
  Invalidate();
}

void TShape::SetBrushColor(TColor Value) {
  if (FBrushColor == Value) return;
  FBrushColor = Value;
  Invalidate();
}

void TShape::Paint() {
  TCanvas* c = Canvas();
  c->Pen()->SetColor(FPenColor);
  c->Pen()->SetWidth(FPenWidth);
  c->Brush()->SetColor(FBrushColor);
  // The pen is centred on the outline, so keep it inside the control.
  const int32_t inset = FPenWidth / 2, x1 = inset, y1 = inset;
  const int32_t x2 = Width() - inset + (FPenWidth == 0 ? 0 : 1) - 1, y2 = Height() - inset + (FPenWidth == 0 ? 0 : 1) - 1;
  const int32_t r = std::min(Width(), Height()) / 4;
  switch (FShape) {
    case stRoundRect:
    case stRoundSquare: c->RoundRect(x1, y1, x2, y2, r, r); break;
    case stEllipse:
    case stCircle: c->Ellipse(x1, y1, x2, y2); break;
    default: c->Rectangle(x1, y1, x2, y2); break;
  }
}

}  // namespace app

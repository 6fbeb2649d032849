#include "widgets/ToolbarButtons.h"

#include <algorithm>

#include "platform/Forms.h"
#include "platform/SysUtils.h"
#include "platform/TextCodec.h"

namespace widgets {

using namespace platform;

namespace {
// Sizes that enter the layout sums are held to a range in which no sum can overflow; a caller's
// absurd arrow width, margin or spacing then only pushes things out of sight.
constexpr int64_t kLayoutLimit = int64_t{1} << 24;
int32_t Sane(int64_t Value) { return static_cast<int32_t>(std::clamp(Value, -kLayoutLimit, kLayoutLimit)); }
}  // namespace

// Layout ----------------------------------------------------------------------------------------

int32_t GlyphCountOfStrip(int32_t Width, int32_t Height) {
  if (Width <= 0 || Height <= 0 || Width % Height != 0) return 1;
  const int32_t n = Width / Height;
  return n > 5 ? 1 : n;
}

TButtonLayoutResult CalcButtonLayout(const TButtonLayoutInput& In, const TCaptionMeasure& Measure) {
  const int32_t W = Sane(int64_t{In.Client.Right} - In.Client.Left), H = Sane(int64_t{In.Client.Bottom} - In.Client.Top);
  const int32_t arrowW = Sane(In.ArrowWidth), arrowH = Sane(In.ArrowHeight);
  const int32_t gw = Sane(In.Glyph.cx), gh = Sane(In.Glyph.cy);
  const bool hasGlyph = gw > 0 && gh > 0;
  TButtonLayout layout = In.Layout;
  if (!hasGlyph && (layout == blGlyphTop || layout == blGlyphBottom)) layout = blGlyphLeft;
  const bool horizontal = layout == blGlyphLeft || layout == blGlyphRight;
  int32_t margin = Sane(In.Margin), spacing = Sane(In.Spacing);

  int32_t tw = 0, th = 0;
  if (In.ShowCaption && Measure) {
    int32_t maxW = W;
    if (horizontal) maxW -= arrowW;
    if (In.WordWrap) {
      const int32_t sp = spacing == -1 ? 4 : spacing;
      int32_t m = 4;
      if (horizontal && hasGlyph) m = margin != -1 ? margin : spacing != -1 ? spacing : 4;
      maxW -= 2 * m;
      if (horizontal && hasGlyph) maxW -= gw + sp;
    }
    const TSize t = Measure(maxW, In.WordWrap);
    tw = Sane(t.cx);
    th = Sane(t.cy);
  }
  const bool hasCaption = tw > 0 || th > 0;

  TPoint glyphPos{0, 0}, textPos{0, 0}, arrowPos{0, 0};
  if (horizontal) {
    glyphPos.Y = (H - gh + 1) / 2;
    textPos.Y = (H - th + 1) / 2;
  } else {
    glyphPos.X = (W - gw - arrowW + 1) / 2;
    textPos.X = (W - tw + 1) / 2;
    arrowPos.X = hasGlyph ? glyphPos.X + gw : textPos.X + tw;
  }

  if (!(hasGlyph && hasCaption)) spacing = 0;
  if (margin == -1) {
    if (spacing != -1) {
      const int32_t free = horizontal ? W - (gw + spacing + tw + arrowW) : H - (gh + spacing + th);
      margin = (free + 1) / 2;
    } else {
      margin = horizontal ? (W - (gw + tw + arrowW)) / 3 : (H - (gh + th)) / 3;
      spacing = margin;
    }
  } else if (spacing == -1) {
    spacing = horizontal ? (W - (margin + gw + arrowW) - tw) / 2 : (H - (margin + gh) - th) / 2;
  }

  switch (layout) {
    case blGlyphLeft:
      glyphPos.X = margin;
      textPos.X = margin + gw + spacing;
      arrowPos.X = textPos.X + tw;
      break;
    case blGlyphRight:
      arrowPos.X = W - margin - arrowW;
      glyphPos.X = arrowPos.X - gw;
      textPos.X = glyphPos.X - spacing - tw;
      break;
    case blGlyphTop:
      glyphPos.Y = margin;
      textPos.Y = margin + gh + spacing;
      break;
    case blGlyphBottom:
      glyphPos.Y = H - margin - gh;
      textPos.Y = glyphPos.Y - spacing - th;
      break;
  }
  arrowPos.X += 1;
  arrowPos.Y = hasGlyph ? glyphPos.Y + (gh - arrowH) / 2 : textPos.Y + (th - arrowH) / 2;

  const int32_t dx = Sane(int64_t{In.Client.Left} + In.Offset.X), dy = Sane(int64_t{In.Client.Top} + In.Offset.Y);
  TButtonLayoutResult r;
  r.GlyphPos = {glyphPos.X + dx, glyphPos.Y + dy};
  r.TextBounds = {textPos.X + dx, textPos.Y + dy, textPos.X + dx + tw, textPos.Y + dy + th};
  r.ArrowPos = {arrowPos.X + dx, arrowPos.Y + dy};
  return r;
}

// Glyph lists -----------------------------------------------------------------------------------

int32_t TGlyphList::AllocateIndex() {
  auto it = std::find(FUsed.begin(), FUsed.end(), false);
  int32_t index;
  if (it != FUsed.end()) {
    index = static_cast<int32_t>(it - FUsed.begin());
    *it = true;
  } else {
    index = static_cast<int32_t>(FUsed.size());
    FUsed.push_back(true);
    FCells.emplace_back();
  }
  ++FCount;
  return index;
}

void TGlyphList::Replace(int32_t Index, TBitmap* Image) {
  if (Index < 0 || Index >= Capacity() || !Image) return;
  auto cell = std::make_unique<TBitmap>();
  cell->Assign(Image);
  cell->SetTransparent(true);
  FCells[static_cast<size_t>(Index)] = std::move(cell);
}

void TGlyphList::Delete(int32_t Index) {
  if (Index < 0 || Index >= Capacity() || !FUsed[static_cast<size_t>(Index)]) return;
  FUsed[static_cast<size_t>(Index)] = false;
  FCells[static_cast<size_t>(Index)].reset();
  --FCount;
}

void TGlyphList::Draw(TCanvas* Canvas, int32_t X, int32_t Y, int32_t Index) const {
  if (Index < 0 || Index >= Capacity() || !FCells[static_cast<size_t>(Index)]) return;
  Canvas->Draw(X, Y, FCells[static_cast<size_t>(Index)].get());
}

TGlyphList* TGlyphCache::GetList(int32_t AWidth, int32_t AHeight) {
  for (auto& l : FLists)
    if (l->Width() == AWidth && l->Height() == AHeight) return l.get();
  FLists.push_back(std::make_unique<TGlyphList>(AWidth, AHeight));
  return FLists.back().get();
}

void TGlyphCache::ReturnList(TGlyphList* List) {
  if (!List || List->Count() != 0) return;
  FLists.erase(std::remove_if(FLists.begin(), FLists.end(), [List](const auto& l) { return l.get() == List; }),
               FLists.end());
}

TGlyphCache& GlyphCache() {
  static TGlyphCache cache;
  return cache;
}

// Button glyph ----------------------------------------------------------------------------------

TButtonGlyph::TButtonGlyph() : FGlyph(std::make_unique<TBitmap>()), FGlyphMask(std::make_unique<TBitmap>()) {
  FGlyph->OnChange = [this](TObject* s) { GlyphChanged(s); };
  FGlyphMask->OnChange = [this](TObject* s) { GlyphChanged(s); };
}

TButtonGlyph::~TButtonGlyph() { Invalidate(); }

void TButtonGlyph::GlyphChanged(TObject* Sender) {
  if (Sender == FGlyph.get() && !FGlyph->Empty())
    FTransparentColor = ColorToRGB(FGlyph->Canvas()->Pixel(0, FGlyph->Height() - 1));
  Invalidate();
  if (OnChange) OnChange(nullptr);
}

void TButtonGlyph::SetImages(TImageList* Value) {
  if (Value == FImages) return;
  FImages = Value;
  if (FImages) FNumGlyphs = 1;
  Invalidate();
}

void TButtonGlyph::SetImageIndex(int32_t Value) {
  if (Value == FImageIndex) return;
  FImageIndex = Value;
  Invalidate();
}

void TButtonGlyph::SetNumGlyphs(int32_t Value) {
  if (FImages) Value = 1;
  if (Value < 1 || Value > 5 || Value == FNumGlyphs) return;
  FNumGlyphs = Value;
  Invalidate();
}

void TButtonGlyph::SetOldDisabledStyle(bool Value) {
  if (Value == FOldDisabledStyle) return;
  FOldDisabledStyle = Value;
  Invalidate();
}

bool TButtonGlyph::UsesImageList() const {
  return FImages && FImageIndex >= 0 && FImageIndex < FImages->Count();
}

bool TButtonGlyph::HasGlyph() const { return UsesImageList() || (!FImages && !FGlyph->Empty()); }

int32_t TButtonGlyph::StripCells() const {
  // A strip narrower than its glyph count gives one cell instead of cells of no width.
  return FGlyph->Width() / FNumGlyphs > 0 ? FNumGlyphs : 1;
}

TSize TButtonGlyph::GlyphSize() const {
  if (FImages) return UsesImageList() ? TSize{FImages->Width(), FImages->Height()} : TSize{0, 0};
  if (FGlyph->Empty()) return {0, 0};
  return {FGlyph->Width() / StripCells(), FGlyph->Height()};
}

void TButtonGlyph::Invalidate() {
  if (!FList) return;
  for (int32_t& i : FIndexes) {
    if (i >= 0) FList->Delete(i);
    i = -1;
  }
  GlyphCache().ReturnList(FList);
  FList = nullptr;
}

namespace {
// Cells keep this colour where they are transparent, unless the glyph's own is used.
constexpr TColor kKeyColor = 0x00FF00FF;

std::unique_ptr<TBitmap> NewCell(int32_t W, int32_t H, TColor Key) {
  auto b = std::make_unique<TBitmap>();
  b->SetPixelFormat(pf24bit);
  b->SetSize(W, H);
  b->Canvas()->Brush()->SetColor(Key);
  b->Canvas()->FillRect({0, 0, W, H});
  b->SetTransparentColor(Key);
  return b;
}
}  // namespace

std::unique_ptr<TBitmap> TButtonGlyph::SourceCell(int32_t Cell) {
  const TSize sz = GlyphSize();
  if (UsesImageList()) {
    auto b = NewCell(sz.cx, sz.cy, kKeyColor);
    FImages->Draw(b->Canvas(), 0, 0, FImageIndex, true);
    return b;
  }
  const TColor key = FTransparentColor;
  auto b = NewCell(sz.cx, sz.cy, key);
  TCanvas* c = b->Canvas();
  c->SetCopyMode(cmSrcCopy);
  c->CopyRect({0, 0, sz.cx, sz.cy}, FGlyph->Canvas(), {Cell * sz.cx, 0, (Cell + 1) * sz.cx, sz.cy});
  // With a mask, its white pixels are the transparent ones.
  if (!FGlyphMask->Empty()) {
    TCanvas* m = FGlyphMask->Canvas();
    for (int32_t y = 0; y < std::min(sz.cy, FGlyphMask->Height()); ++y)
      for (int32_t x = 0; x < sz.cx && Cell * sz.cx + x < FGlyphMask->Width(); ++x)
        if (ColorToRGB(m->Pixel(Cell * sz.cx + x, y)) == clWhite) c->SetPixel(x, y, key);
  }
  return b;
}

std::unique_ptr<TBitmap> TButtonGlyph::DisabledCell(TBitmap* Up) {
  const int32_t w = Up->Width(), h = Up->Height();
  const TColor key = Up->TransparentColor();
  // The monochrome mask: ink is every pixel that is neither transparent nor white; the older
  // style also leaves out the button face colour.
  std::vector<uint8_t> ink(static_cast<size_t>(w) * h);
  const TColor face = ColorToRGB(clBtnFace);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const TColor p = ColorToRGB(Up->Canvas()->Pixel(x, y));
      bool on = p != key && p != clWhite;
      if (FOldDisabledStyle && p == face) on = false;
      ink[static_cast<size_t>(y) * w + x] = on;
    }
  auto b = NewCell(w, h, key == ColorToRGB(clBtnHighlight) || key == ColorToRGB(clBtnShadow) ? kKeyColor : key);
  TCanvas* c = b->Canvas();
  const TColor hi = ColorToRGB(clBtnHighlight), sh = ColorToRGB(clBtnShadow);
  if (!FOldDisabledStyle)
    for (int32_t y = 0; y + 1 < h; ++y)
      for (int32_t x = 0; x + 1 < w; ++x)
        if (ink[static_cast<size_t>(y) * w + x]) c->SetPixel(x + 1, y + 1, hi);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x)
      if (ink[static_cast<size_t>(y) * w + x]) c->SetPixel(x, y, sh);
  return b;
}

std::unique_ptr<TBitmap> TButtonGlyph::MakeCell(TButtonState State) {
  const int32_t cells = UsesImageList() ? 1 : StripCells();
  if (State < cells) return SourceCell(State);
  switch (State) {
    case bsDisabled: {
      auto up = SourceCell(0);
      return DisabledCell(up.get());
    }
    case bsExclusive:
      return SourceCell(cells > bsDown ? bsDown : 0);
    default:
      return SourceCell(0);
  }
}

int32_t TButtonGlyph::CreateButtonGlyph(TButtonState State) {
  if (!HasGlyph()) return -1;
  const TSize sz = GlyphSize();
  if (sz.cx <= 0 || sz.cy <= 0) return -1;
  if (!FList) FList = GlyphCache().GetList(sz.cx, sz.cy);
  int32_t& index = FIndexes[State];
  if (index >= 0) return index;
  auto cell = MakeCell(State);
  index = FList->AllocateIndex();
  FList->Replace(index, cell.get());
  return index;
}

void TButtonGlyph::Draw(TCanvas* Canvas, int32_t X, int32_t Y, TButtonState State) {
  const int32_t index = CreateButtonGlyph(State);
  if (index >= 0) FList->Draw(Canvas, X, Y, index);
}

// Shared state ----------------------------------------------------------------------------------

namespace {

struct TShared {
  std::unique_ptr<TTimer> HotTimer;
  TToolbarButton* HotButton = nullptr;
  int32_t ButtonCount = 0;
  std::unique_ptr<TBitmap> Pattern;
  TColor PatternFace = clNone, PatternHighlight = clNone;
};

TShared& Shared() {
  static TShared shared;
  return shared;
}

// Repeat timers of buttons freed from inside their own tick: the timer is still running its
// handler, so it is let go at the next safe moment instead.
std::vector<std::unique_ptr<TTimer>>& RetiredTimers() {
  static std::vector<std::unique_ptr<TTimer>> timers;
  return timers;
}

void StopHotTracking() {
  TShared& s = Shared();
  s.HotButton = nullptr;
  if (s.HotTimer) s.HotTimer->SetEnabled(false);
}

TBitmap* PatternBitmap() {
  TShared& s = Shared();
  const TColor face = ColorToRGB(clBtnFace), hi = ColorToRGB(clBtnHighlight);
  if (s.Pattern && s.PatternFace == face && s.PatternHighlight == hi) return s.Pattern.get();
  s.Pattern = std::make_unique<TBitmap>();
  s.Pattern->SetPixelFormat(pf24bit);
  s.Pattern->SetSize(8, 8);
  for (int32_t y = 0; y < 8; ++y)
    for (int32_t x = 0; x < 8; ++x) s.Pattern->Canvas()->SetPixel(x, y, (x % 2) == (y % 2) ? hi : face);
  s.PatternFace = face;
  s.PatternHighlight = hi;
  return s.Pattern.get();
}

}  // namespace

TToolbarButton* ToolbarHotButton() { return Shared().HotButton; }
TTimer* ToolbarHotTimer() { return Shared().HotTimer.get(); }
int32_t ToolbarButtonCount() { return Shared().ButtonCount; }
TBitmap* ToolbarPatternBitmap() { return Shared().Pattern.get(); }

namespace {
void SetDefaultEnvironment(TToolbarButtonEnvironment& env) {
  env.ControlAtCursor = [] { return FindDragTarget(GetCursorPos(), true); };
  env.CursorPos = [] { return GetCursorPos(); };
  env.ApplicationActive = [] { return ApplicationIsActive(); };
}
}  // namespace

TToolbarButtonEnvironment& ToolbarButtonEnvironment() {
  static TToolbarButtonEnvironment env = [] {
    TToolbarButtonEnvironment e;
    SetDefaultEnvironment(e);
    return e;
  }();
  return env;
}

void ResetToolbarButtonEnvironment() { SetDefaultEnvironment(ToolbarButtonEnvironment()); }

void ToolbarButtonHookProc(THookEventCode Code, HWND, intptr_t WParam, intptr_t) {
  TToolbarButton* hot = Shared().HotButton;
  if (!hot) return;
  if (Code == hcActivateApp) {
    if (WParam == 0 && !hot->ShowBorderWhenInactive()) hot->MouseLeft();
  } else if (Code == hcMouseMove) {
    if (ToolbarButtonEnvironment().ControlAtCursor() != hot) hot->MouseLeft();
  }
}

// Action link -----------------------------------------------------------------------------------

TToolbarButtonActionLink::TToolbarButtonActionLink(TToolbarButton* AClient) : TControlActionLink(AClient) {}

TToolbarButton* TToolbarButtonActionLink::Button() const { return static_cast<TToolbarButton*>(FClient); }

bool TToolbarButtonActionLink::IsCheckedLinked() const {
  auto* a = dynamic_cast<TCustomAction*>(FAction);
  return a && Button()->Down() == a->Checked();
}
bool TToolbarButtonActionLink::IsHelpContextLinked() const {
  auto* a = dynamic_cast<TCustomAction*>(FAction);
  return a && Button()->HelpContext() == a->HelpContext();
}
bool TToolbarButtonActionLink::IsImageIndexLinked() const {
  auto* a = dynamic_cast<TCustomAction*>(FAction);
  return a && Button()->ImageIndex() == a->ImageIndex();
}
void TToolbarButtonActionLink::SetChecked(bool Value) { Button()->SetDown(Value); }
void TToolbarButtonActionLink::SetHelpContext(int32_t Value) { Button()->SetHelpContext(Value); }
void TToolbarButtonActionLink::SetImageIndex(int32_t Value) { Button()->SetImageIndex(Value); }

// Button ----------------------------------------------------------------------------------------

TToolbarButton::TToolbarButton(TComponent* AOwner)
    : TGraphicControl(AOwner), FAlive(std::make_shared<bool>(true)), FButtonGlyph(std::make_unique<TButtonGlyph>()) {
  TShared& s = Shared();
  if (!s.HotTimer) {
    s.HotTimer = std::make_unique<TTimer>(nullptr);
    s.HotTimer->SetInterval(125);
    s.HotTimer->SetEnabled(false);
    s.HotTimer->OnTimer = [](TObject*) {
      TToolbarButton* hot = Shared().HotButton;
      if (hot && ToolbarButtonEnvironment().ControlAtCursor() != hot) hot->MouseLeft();
    };
  }
  ++s.ButtonCount;
  InstallHookProc(ToolbarButtonHookProc, HookCodes(hcActivateApp) | HookCodes(hcMouseMove), false);
  FButtonGlyph->OnChange = [this](TObject*) { Redraw(); };
  SetBounds(Left(), Top(), 23, 22);
  // Clicks are the button's own (release inside, repeat, dropdown), not the platform's.
  SetControlStyle((ControlStyle() | csCaptureMouse | csDoubleClicks) & ~csClickEvents);
  SetColor(clBtnFace);
  UpdateOpaque();
}

TToolbarButton::~TToolbarButton() {
  *FAlive = false;
  TShared& s = Shared();
  if (s.HotButton == this) StopHotTracking();
  if (FInRepeatTick && FRepeatTimer) {
    FRepeatTimer->SetEnabled(false);
    RetiredTimers().push_back(std::move(FRepeatTimer));
  }
  FRepeatTimer.reset();
  FActionLink.reset();
  FButtonGlyph.reset();
  RemoveHookProc(ToolbarButtonHookProc);
  if (--s.ButtonCount == 0) {
    s.Pattern.reset();
    s.HotTimer.reset();
  }
}

void TToolbarButton::Loaded() {
  TGraphicControl::Loaded();
  if (!Enabled()) FState = bsDisabled;
  FButtonGlyph->CreateButtonGlyph(FState);
}

void TToolbarButton::Redraw() { Invalidate(); }

void TToolbarButton::UpdateOpaque() {
  // A transparent flat button is drawn over its parent's background.
  const TControlStyle st = ControlStyle() & ~(csOpaque | csParentBackground);
  SetControlStyle(FOpaque || !FFlat ? st | csOpaque : st | csParentBackground);
}

TButtonState TToolbarButton::RestingState() const {
  return FDown && FGroupIndex != 0 ? bsExclusive : bsUp;
}

// Setters ---------------------------------------------------------------------------------------

#define KD_SETTER(Name, Type, Field) \
  void TToolbarButton::Set##Name(Type Value) { \
    if (Value == Field) return; \
    Field = Value; \
    Redraw(); \
  }
KD_SETTER(Alignment, TAlignment, FAlignment)
KD_SETTER(DisplayMode, TButtonDisplayMode, FDisplayMode)
KD_SETTER(DropdownAlways, bool, FDropdownAlways)
KD_SETTER(DropdownArrow, bool, FDropdownArrow)
KD_SETTER(DropdownArrowWidth, int32_t, FDropdownArrowWidth)
KD_SETTER(DropdownCombo, bool, FDropdownCombo)
KD_SETTER(HighlightWhenDown, bool, FHighlightWhenDown)
KD_SETTER(Layout, TButtonLayout, FLayout)
KD_SETTER(Margin, int32_t, FMargin)
KD_SETTER(NoBorder, bool, FNoBorder)
KD_SETTER(ShowBorderWhenInactive, bool, FShowBorderWhenInactive)
KD_SETTER(Spacing, int32_t, FSpacing)
KD_SETTER(WordWrap, bool, FWordWrap)
#undef KD_SETTER

void TToolbarButton::SetAllowAllUp(bool Value) {
  if (Value == FAllowAllUp) return;
  FAllowAllUp = Value;
  UpdateExclusive();
}

void TToolbarButton::SetFlat(bool Value) {
  if (Value == FFlat) return;
  FFlat = Value;
  UpdateOpaque();
  Redraw();
}

void TToolbarButton::SetOpaque(bool Value) {
  if (Value == FOpaque) return;
  FOpaque = Value;
  UpdateOpaque();
  Redraw();
}

void TToolbarButton::SetGroupIndex(int32_t Value) {
  if (Value == FGroupIndex) return;
  FGroupIndex = Value;
  UpdateExclusive();
}

void TToolbarButton::SetDown(bool Value) {
  if (FGroupIndex == 0) Value = false;
  if (Value == FDown) return;
  // A latched button is released only when all may be up.
  if (FDown && !FAllowAllUp) return;
  FDown = Value;
  // A disabled button keeps its disabled look; enabling it shows the latched state.
  if (!Enabled()) {
    FState = bsDisabled;
  } else if (Value) {
    FState = bsExclusive;
  } else {
    FState = FMouseInControl ? bsHot : bsUp;
  }
  Redraw();
  if (Value) UpdateExclusive();
}

void TToolbarButton::UpdateExclusive() {
  if (FGroupIndex == 0 || !Parent()) return;
  for (int32_t i = 0; i < Parent()->ControlCount(); ++i) {
    auto* b = dynamic_cast<TToolbarButton*>(Parent()->Controls(i));
    if (!b || b == this || b->FGroupIndex != FGroupIndex) continue;
    if (FDown && b->FDown) {
      b->FDown = false;
      if (b->FState != bsDisabled) b->FState = b->FMouseInControl ? bsHot : bsUp;
      b->Redraw();
    }
    b->FAllowAllUp = FAllowAllUp;
  }
}

void TToolbarButton::SetGlyph(const TBitmap* Value) {
  FButtonGlyph->Glyph()->Assign(Value);
  // Only a strip whose width is a multiple of its height tells its glyph count; any other keeps
  // the count set before.
  const int32_t w = FButtonGlyph->Glyph()->Width(), h = FButtonGlyph->Glyph()->Height();
  if (!FButtonGlyph->Images() && h > 0 && w % h == 0) FButtonGlyph->SetNumGlyphs(GlyphCountOfStrip(w, h));
  FButtonGlyph->Invalidate();
  Redraw();
}

void TToolbarButton::SetGlyphMask(const TBitmap* Value) {
  FButtonGlyph->GlyphMask()->Assign(Value);
  FButtonGlyph->Invalidate();
  Redraw();
}

void TToolbarButton::SetImageIndex(int32_t Value) {
  if (Value == FButtonGlyph->ImageIndex()) return;
  FButtonGlyph->SetImageIndex(Value);
  Redraw();
}

void TToolbarButton::SetImages(TImageList* Value) {
  if (Value == FButtonGlyph->Images()) return;
  if (FButtonGlyph->Images()) FButtonGlyph->Images()->RemoveFreeNotification(this);
  FButtonGlyph->SetImages(Value);
  if (Value) Value->FreeNotification(this);
  Redraw();
}

void TToolbarButton::SetNumGlyphs(TButtonNumGlyphs Value) {
  FButtonGlyph->SetNumGlyphs(Value);
  Redraw();
}

void TToolbarButton::SetOldDisabledStyle(bool Value) {
  FButtonGlyph->SetOldDisabledStyle(Value);
  Redraw();
}

void TToolbarButton::SetDropdownMenu(TPopupMenu* Value) {
  if (Value == FDropdownMenu) return;
  if (FDropdownMenu) FDropdownMenu->RemoveFreeNotification(this);
  FDropdownMenu = Value;
  if (Value) Value->FreeNotification(this);
  Redraw();
}

void TToolbarButton::Notification(TComponent* AComponent, TOperation Operation) {
  TGraphicControl::Notification(AComponent, Operation);
  if (Operation != TOperation::opRemove) return;
  if (AComponent == FDropdownMenu) FDropdownMenu = nullptr;
  if (FButtonGlyph && AComponent == FButtonGlyph->Images()) {
    FButtonGlyph->SetImages(nullptr);
    Redraw();
  }
  if (FActionLink && AComponent == FActionLink->Action()) FActionLink.reset();
}

TBasicAction* TToolbarButton::Action() const { return FActionLink ? FActionLink->Action() : nullptr; }

void TToolbarButton::SetAction(TBasicAction* Value) {
  if (Value == Action()) return;
  if (Action()) Action()->RemoveFreeNotification(this);
  if (!Value) {
    FActionLink.reset();
    return;
  }
  if (!FActionLink) FActionLink = std::make_unique<TToolbarButtonActionLink>(this);
  FActionLink->SetAction(Value);
  Value->FreeNotification(this);
  ActionChange(Value, true);
}

void TToolbarButton::ActionChange(TObject* Sender, bool CheckDefaults) {
  auto* a = dynamic_cast<TCustomAction*>(Sender);
  if (!a) return;
  // With CheckDefaults only what the button still has at its default is taken over.
  if (!CheckDefaults || Caption().empty()) SetCaption(a->Caption());
  if (!CheckDefaults || Enabled()) SetEnabled(a->Enabled());
  if (!CheckDefaults || Hint().empty()) SetHint(a->Hint());
  if (!CheckDefaults || Visible()) SetVisible(a->Visible());
  if (!CheckDefaults || !FDown) SetDown(a->Checked());
  if (!CheckDefaults || FHelpContext == 0) SetHelpContext(a->HelpContext());
  if (!CheckDefaults || ImageIndex() == -1) SetImageIndex(a->ImageIndex());
}

void TToolbarButton::EnabledChanged() {
  if (!Enabled()) {
    FState = bsDisabled;
    FMouseInControl = false;
    FMouseIsDown = false;
    FreeRepeatTimer();
    if (Shared().HotButton == this) StopHotTracking();
    if (MouseCapture()) SetMouseCapture(false);
  } else if (FState == bsDisabled) {
    FState = RestingState();
  }
  Redraw();
}

void TToolbarButton::FontChanged() { Redraw(); }
void TToolbarButton::TextChanged() { Redraw(); }

// Hot tracking ----------------------------------------------------------------------------------

void TToolbarButton::MouseEntered() {
  if (!Enabled() || FMouseInControl) return;
  FMouseInControl = true;
  if (FState == bsUp) FState = bsHot;
  if (FFlat || NumGlyphs() >= 5) Redraw();
  if (OnMouseEnter) OnMouseEnter(this);
}

void TToolbarButton::MouseLeft() {
  if (!Enabled() || !FMouseInControl || FMouseIsDown) return;
  FMouseInControl = false;
  if (Shared().HotButton == this) StopHotTracking();
  if (FState == bsHot || (FState == bsDown && !FMenuIsDown)) FState = RestingState();
  if (FFlat || NumGlyphs() >= 5) Redraw();
  if (OnMouseExit) OnMouseExit(this);
}

// Mouse -----------------------------------------------------------------------------------------

bool TToolbarButton::PointInButtonPart(int32_t X, int32_t Y) const {
  const int32_t right = ClientWidth() - (FDropdownCombo && UsesDropdown() ? Sane(FDropdownArrowWidth) + 2 : 0);
  return X >= 0 && X < right && Y >= 0 && Y < ClientHeight();
}

void TToolbarButton::MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
  if (!Enabled()) {
    TGraphicControl::MouseDown(Button, Shift, X, Y);
    return;
  }
  // The press that closed this button's own menu does not open it again.
  if (FClicksBlocked) {
    FClicksBlocked = false;
    if (GetTickCount() - FClicksBlockedSince < 500) return;
  }
  auto alive = FAlive;
  // A press enters the button even when no move made it hot (the press that activated the
  // program); it is tracked like the hot button so that it leaves again.
  TShared& s = Shared();
  if (s.HotButton != this) {
    if (s.HotButton) s.HotButton->MouseLeft();
    if (!*alive) return;
    s.HotButton = this;
    if (s.HotTimer) s.HotTimer->SetEnabled(true);
  }
  MouseEntered();
  if (Button == mbLeft) {
    if ((Shift & ssDouble) && FState == bsExclusive) {
      DblClick();
      if (!*alive) return;
    }
    FMenuIsDown = UsesDropdown() && (!FDropdownCombo || X >= Width() - (Sane(FDropdownArrowWidth) + 2));
    if (FState == bsUp || FState == bsHot) {
      FState = bsDown;
      Redraw();
    } else if (FState == bsExclusive && FAllowAllUp) {
      Redraw();
    }
    if (!FMenuIsDown) FMouseIsDown = true;
  }
  TGraphicControl::MouseDown(Button, Shift, X, Y);
  if (!*alive || Button != mbLeft) return;
  if (FMenuIsDown) {
    Click();
  } else if (FRepeating) {
    Click();
    if (!*alive) return;
    RetiredTimers().clear();
    if (!FRepeatTimer) {
      FRepeatTimer = std::make_unique<TTimer>(nullptr);
      FRepeatTimer->OnTimer = [this](TObject*) { RepeatTimerTick(); };
    }
    FRepeatTimer->SetInterval(static_cast<uint32_t>(std::max(FRepeatDelay, 1)));
    FRepeatTimer->SetEnabled(true);
  }
}

void TToolbarButton::RepeatTimerTick() {
  if (!FRepeatTimer) return;
  FRepeatTimer->SetInterval(static_cast<uint32_t>(std::max(FRepeatInterval, 1)));
  const TPoint p = ScreenToClient(ToolbarButtonEnvironment().CursorPos());
  if (FRepeating && FMouseIsDown && MouseCapture() && PointInButtonPart(p.X, p.Y)) {
    auto alive = FAlive;
    FInRepeatTick = true;
    Click();
    if (*alive) FInRepeatTick = false;
  } else
    FRepeatTimer->SetEnabled(false);
}

void TToolbarButton::FreeRepeatTimer() { FRepeatTimer.reset(); }

void TToolbarButton::MouseMove(TShiftState Shift, int32_t X, int32_t Y) {
  TGraphicControl::MouseMove(Shift, X, Y);
  TShared& s = Shared();
  TToolbarButtonEnvironment& env = ToolbarButtonEnvironment();
  if (s.HotButton != this && env.ControlAtCursor() == this) {
    if (s.HotButton) s.HotButton->MouseLeft();
    if (env.ApplicationActive() || FShowBorderWhenInactive) {
      s.HotButton = this;
      s.HotTimer->SetEnabled(true);
      MouseEntered();
    }
  }
  if (!FMouseIsDown) return;
  const bool inside = PointInButtonPart(X, Y);
  if (inside && FRepeatTimer) FRepeatTimer->SetEnabled(true);
  const TButtonState next = FDown ? bsExclusive : inside ? bsDown : bsUp;
  if (next != FState) {
    FState = next;
    Redraw();
  }
}

void TToolbarButton::MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
  FreeRepeatTimer();
  auto alive = FAlive;
  if (Button == mbRight) MouseLeft();
  if (Button == mbLeft && FMouseIsDown) {
    FMouseIsDown = false;
    if (PointInButtonPart(X, Y) && !FRepeating) {
      Click();
      if (!*alive) return;
    } else {
      if (FState == bsDown) FState = RestingState();
      Redraw();
      MouseLeft();
    }
  }
  TGraphicControl::MouseUp(Button, Shift, X, Y);
}

void TToolbarButton::CancelMode() {
  FreeRepeatTimer();
  if (FMouseIsDown) {
    FMouseIsDown = false;
    if (FState == bsDown) FState = RestingState();
    Redraw();
  }
}

void TToolbarButton::InheritedClick() {
  if (OnClick)
    OnClick(this);
  else if (FActionLink)
    FActionLink->Execute();
}

void TToolbarButton::Click() {
  if (FInClick) {
    InheritedClick();
    return;
  }
  auto alive = FAlive;
  FInClick = true;
  // A handler that raises must not leave the button believing it is still inside its click.
  struct TClickGuard {
    const std::shared_ptr<bool>& Alive;
    bool& InClick;
    ~TClickGuard() {
      if (*Alive) InClick = false;
    }
  } guard{alive, FInClick};
  if (FGroupIndex != 0 && !FMenuIsDown) SetDown(!FDown);
  const bool showDropdown = UsesDropdown() && (!FDropdownCombo || FMenuIsDown);
  if (!showDropdown) {
    if (FState == bsDown) {
      FState = RestingState();
      Redraw();
    }
  } else {
    FState = bsDown;
    Redraw();
    bool showMenu = FDropdownMenu != nullptr, removeClicks = true;
    if (OnDropdown) OnDropdown(this, showMenu, removeClicks);
    if (!*alive) return;
    if (showMenu && FDropdownMenu) {
      const TPoint p = ClientToScreen({0, Height()});
      FDropdownMenu->SetPopupComponent(this);
      FDropdownMenu->Popup(p.X, p.Y);
      if (!*alive) return;
      if (removeClicks) {
        FClicksBlocked = true;
        FClicksBlockedSince = GetTickCount();
      }
    }
    FState = RestingState();
    FMenuIsDown = false;
    FMouseIsDown = false;
    Redraw();
    MouseLeft();
  }
  if (FModalResult != 0)
    if (TCustomForm* f = ParentForm()) f->SetModalResult(FModalResult);
  InheritedClick();
}

namespace {
// The character after a single "&" in a caption, case-folded; 0 when there is none.
char32_t Accelerator(const std::string& Caption) {
  for (size_t i = 0; i + 1 < Caption.size(); ++i) {
    if (Caption[i] != '&') continue;
    if (Caption[i + 1] == '&') {
      ++i;
      continue;
    }
    size_t pos = i + 1;
    const char32_t c = DecodeUtf8(Caption, pos);
    return c == 0xFFFD ? 0 : FoldCase(c);
  }
  return 0;
}
}  // namespace

bool TToolbarButton::DialogKey(Word Key, TShiftState Shift) {
  constexpr Word VK_RETURN = 13, VK_ESCAPE = 27;
  if (Shift & (ssShift | ssAlt | ssCtrl)) return false;
  if (!((Key == VK_RETURN && FDefault) || (Key == VK_ESCAPE && FCancel))) return false;
  if (!Parent() || !Parent()->Showing() || !Enabled() || !Visible()) return false;
  Click();
  return true;
}

bool TToolbarButton::DialogChar(TKeyChar Key) {
  const char32_t accel = Accelerator(Caption());
  if (accel == 0 || FoldCase(Key) != accel) return false;
  if (!Parent() || !Parent()->Showing() || !Enabled() || !Visible()) return false;
  Click();
  return true;
}

// Painting --------------------------------------------------------------------------------------

TButtonLayoutResult TToolbarButton::CurrentLayout(TCanvas* C) {
  const bool combo = FDropdownCombo && UsesDropdown();
  bool pushed = FState == bsDown || FState == bsExclusive;
  if (combo && FMenuIsDown) pushed = false;
  TRect r{0, 0, Width(), Height()};
  if (combo) r.Right -= Sane(FDropdownArrowWidth) + 2;
  if (!FNoBorder) {
    const int32_t d = FFlat ? 1 : 2;
    r = {r.Left + d, r.Top + d, r.Right - d, r.Bottom - d};
  }
  TButtonLayoutInput in;
  in.Client = r;
  in.Offset = pushed ? TPoint{1, 1} : TPoint{0, 0};
  in.Glyph = FDisplayMode == dmTextOnly ? TSize{0, 0} : FButtonGlyph->GlyphSize();
  in.ShowCaption = FDisplayMode != dmGlyphOnly && !Caption().empty();
  in.Layout = FLayout;
  in.Margin = FMargin;
  in.Spacing = FSpacing;
  in.WordWrap = FWordWrap;
  if (FDropdownArrow && UsesDropdown() && !FDropdownCombo) {
    in.ArrowWidth = FDropdownArrowWidth;
    in.ArrowHeight = 3;
  }
  C->SetFont(Font());
  const std::string caption = Caption();
  return CalcButtonLayout(in, [C, &caption](int32_t MaxWidth, bool Wrap) {
    TRect t{0, 0, MaxWidth, 0};
    C->DrawText(caption, t, DT_CALCRECT | (Wrap ? DT_WORDBREAK : DT_SINGLELINE));
    return TSize{t.Width(), t.Height()};
  });
}

void TToolbarButton::DrawArrow(TCanvas* C, int32_t X, int32_t Y) {
  // A triangle 5 wide and 3 high centred on a column DropdownArrowWidth wide.
  const int32_t left = X + (Sane(FDropdownArrowWidth) - 5) / 2;
  auto tri = [&](int32_t dx, int32_t dy, TColor color) {
    C->Pen()->SetColor(color);
    for (int32_t i = 0; i < 3; ++i) {
      C->MoveTo(left + dx + i, Y + dy + i);
      C->LineTo(left + dx + 5 - i, Y + dy + i);
    }
  };
  if (!Enabled()) {
    tri(1, 1, clBtnHighlight);
    tri(0, 0, clBtnShadow);
  } else {
    tri(0, 0, Font()->Color());
  }
}

void TToolbarButton::PaintButton(TCanvas* C) {
  const int32_t W = Width(), H = Height();
  const bool combo = FDropdownCombo && UsesDropdown();
  const bool statePushed = FState == bsDown || FState == bsExclusive;
  const bool pushed = statePushed && !(combo && FMenuIsDown);
  const bool hot = FMouseInControl && Enabled();
  const bool border = !FNoBorder && (!FFlat || pushed || hot || (combo && FMenuIsDown));

  TRect main{0, 0, W, H};
  if (combo) main.Right -= Sane(FDropdownArrowWidth) + 2;
  auto edge = [&](TRect r, bool down) {
    if (!FFlat)
      DrawEdge(C, r, down ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT | BF_MIDDLE | BF_SOFT);
    else
      DrawEdge(C, r, down ? BDR_SUNKENOUTER : BDR_RAISEDINNER, BF_RECT);
  };
  if (border) {
    edge(main, pushed);
    if (combo) edge({main.Right, 0, W, H}, FMenuIsDown && statePushed);
  }
  TRect content = main;
  if (!FNoBorder) {
    const int32_t d = FFlat ? 1 : 2;
    content = {content.Left + d, content.Top + d, content.Right - d, content.Bottom - d};
  }
  if (FState == bsExclusive && !(FFlat && hot) && FHighlightWhenDown) {
    C->Brush()->SetBitmap(PatternBitmap());
    C->FillRect(content);
    C->Brush()->SetBitmap(nullptr);
  }

  const TButtonLayoutResult lay = CurrentLayout(C);
  if (FDisplayMode != dmTextOnly) FButtonGlyph->Draw(C, lay.GlyphPos.X, lay.GlyphPos.Y, FState);
  if (FDisplayMode != dmGlyphOnly && !Caption().empty()) {
    uint32_t flags = DT_VCENTER | (FWordWrap ? DT_WORDBREAK : DT_SINGLELINE);
    flags |= FAlignment == taLeftJustify ? DT_LEFT : FAlignment == taRightJustify ? DT_RIGHT : DT_CENTER;
    C->Brush()->SetStyle(bsClear);
    TRect t = lay.TextBounds;
    if (!Enabled()) {
      TRect t1{t.Left + 1, t.Top + 1, t.Right + 1, t.Bottom + 1};
      C->Font()->SetColor(clBtnHighlight);
      C->DrawText(Caption(), t1, flags);
      C->Font()->SetColor(clBtnShadow);
    }
    C->DrawText(Caption(), t, flags);
    C->Brush()->SetStyle(bsSolid);
  }
  if (FDropdownArrow && UsesDropdown()) {
    if (combo)
      DrawArrow(C, W - Sane(FDropdownArrowWidth) - 2, H / 2 - 1);
    else
      DrawArrow(C, lay.ArrowPos.X, lay.ArrowPos.Y);
  }
}

void TToolbarButton::Paint() {
  TCanvas* c = Canvas();
  if (FOpaque || !FFlat) {
    // Off screen first, so the face and its content appear at once.
    TBitmap off;
    off.SetPixelFormat(pf24bit);
    off.SetSize(std::max(Width(), 1), std::max(Height(), 1));
    off.Canvas()->Brush()->SetColor(Color());
    off.Canvas()->FillRect({0, 0, Width(), Height()});
    PaintButton(off.Canvas());
    c->SetCopyMode(cmSrcCopy);
    c->CopyRect({0, 0, Width(), Height()}, off.Canvas(), {0, 0, Width(), Height()});
  } else {
    PaintButton(c);
  }
}

}  // namespace widgets

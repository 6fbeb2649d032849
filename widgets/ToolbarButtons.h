// Toolbar button: a windowless button, flat by default and raised while the mouse is over it
// (hot), with a glyph from a bitmap strip or an image list, an optional caption, an optional
// dropdown menu and arrow, grouping with mutually exclusive latched buttons, and auto-repeat
// while held. All buttons share one 125 ms hot-tracking timer and one registration per button
// with the window-hook manager, which drops the hot look when the application is deactivated
// or the mouse moves elsewhere. Glyph images are made once per state and size and kept in
// shared lists.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ActnList.h"
#include "platform/Controls.h"
#include "platform/ExtCtrls.h"
#include "platform/Graphics.h"
#include "platform/ImgList.h"
#include "platform/Menus.h"
#include "widgets/HookManager.h"

namespace widgets {

using platform::TBitmap;
using platform::TCanvas;
using platform::TColor;
using platform::TComponent;
using platform::TObject;
using platform::TPoint;
using platform::TRect;
using platform::TSize;

enum TButtonDisplayMode : uint8_t { dmBoth, dmGlyphOnly, dmTextOnly };
enum TButtonLayout : uint8_t { blGlyphLeft, blGlyphRight, blGlyphTop, blGlyphBottom };
using TButtonNumGlyphs = int32_t;  // 1..5
// The order of the cells in a glyph strip.
enum TButtonState : uint8_t { bsUp, bsDisabled, bsDown, bsExclusive, bsHot };
using TButtonDropdownEvent = std::function<void(TObject* Sender, bool& ShowMenu, bool& RemoveClicks)>;

constexpr const char* ToolbarButtonVersion = "Toolbar button version 1.76a";

// Where glyph, caption and plain dropdown arrow go inside the content rectangle.
struct TButtonLayoutInput {
  TRect Client;             // the content rectangle (inside the border)
  TPoint Offset;            // (1, 1) while pushed
  TSize Glyph;              // (0, 0) when no glyph is shown
  bool ShowCaption = false;
  TButtonLayout Layout = blGlyphLeft;
  int32_t Margin = -1;
  int32_t Spacing = 4;
  bool WordWrap = false;
  int32_t ArrowWidth = 0;   // the plain dropdown arrow's room, 0 without one
  int32_t ArrowHeight = 0;
};
struct TButtonLayoutResult {
  TPoint GlyphPos;
  TRect TextBounds;
  TPoint ArrowPos;
};
// Measures the caption as DrawText with DT_CALCRECT in a rectangle MaxWidth wide.
using TCaptionMeasure = std::function<TSize(int32_t MaxWidth, bool WordWrap)>;
TButtonLayoutResult CalcButtonLayout(const TButtonLayoutInput& In, const TCaptionMeasure& Measure);

// The number of glyphs a strip holds: width div height when the width is a multiple of the
// height, 1 when that exceeds 5 or the strip has no size.
int32_t GlyphCountOfStrip(int32_t Width, int32_t Height);

// An image list of glyph cells of one size; cells are handed out through an allocation bit set.
class TGlyphList {
 public:
  TGlyphList(int32_t AWidth, int32_t AHeight) : FWidth(AWidth), FHeight(AHeight) {}
  int32_t Width() const { return FWidth; }
  int32_t Height() const { return FHeight; }
  // A free cell (the lowest), else a new one at the end.
  int32_t AllocateIndex();
  // Stores a copy of Image (drawn transparent in Image's transparent colour) in cell Index.
  void Replace(int32_t Index, TBitmap* Image);
  void Delete(int32_t Index);
  void Draw(TCanvas* Canvas, int32_t X, int32_t Y, int32_t Index) const;
  // Cells in use.
  int32_t Count() const { return FCount; }
  // Cells ever made (used or free).
  int32_t Capacity() const { return static_cast<int32_t>(FUsed.size()); }

 private:
  int32_t FWidth, FHeight;
  std::vector<bool> FUsed;
  std::vector<std::unique_ptr<TBitmap>> FCells;
  int32_t FCount = 0;
};

// The shared glyph lists, one per size; a list goes when its last cell is freed.
class TGlyphCache {
 public:
  TGlyphList* GetList(int32_t AWidth, int32_t AHeight);
  void ReturnList(TGlyphList* List);
  int32_t ListCount() const { return static_cast<int32_t>(FLists.size()); }

 private:
  std::vector<std::unique_ptr<TGlyphList>> FLists;
};
TGlyphCache& GlyphCache();

// The glyph of one button: the strip and its mask, or an image list entry, and the cells made
// from them for each state.
class TButtonGlyph {
 public:
  TButtonGlyph();
  ~TButtonGlyph();
  TBitmap* Glyph() const { return FGlyph.get(); }
  TBitmap* GlyphMask() const { return FGlyphMask.get(); }
  platform::TImageList* Images() const { return FImages; }
  void SetImages(platform::TImageList* Value);
  int32_t ImageIndex() const { return FImageIndex; }
  void SetImageIndex(int32_t Value);
  int32_t NumGlyphs() const { return FNumGlyphs; }
  void SetNumGlyphs(int32_t Value);
  bool OldDisabledStyle() const { return FOldDisabledStyle; }
  void SetOldDisabledStyle(bool Value);
  // The glyph's bottom-left pixel.
  TColor TransparentColor() const { return FTransparentColor; }

  bool UsesImageList() const;
  bool HasGlyph() const;
  // The cell size: the image list's, else the strip width div NumGlyphs by its height.
  TSize GlyphSize() const;
  // The cell of State, made on first use; -1 when there is no glyph.
  int32_t CreateButtonGlyph(TButtonState State);
  void Draw(TCanvas* Canvas, int32_t X, int32_t Y, TButtonState State);
  // Frees every cell (the glyph, mask, images or system colours changed).
  void Invalidate();
  TGlyphList* List() const { return FList; }

  platform::TNotifyEvent OnChange;

 private:
  void GlyphChanged(TObject* Sender);
  // The strip cells in use: NumGlyphs, or 1 when the strip is too narrow for them.
  int32_t StripCells() const;
  std::unique_ptr<TBitmap> MakeCell(TButtonState State);
  std::unique_ptr<TBitmap> SourceCell(int32_t Cell);
  std::unique_ptr<TBitmap> DisabledCell(TBitmap* Up);

  std::unique_ptr<TBitmap> FGlyph;
  std::unique_ptr<TBitmap> FGlyphMask;
  platform::TImageList* FImages = nullptr;
  int32_t FImageIndex = -1;
  int32_t FNumGlyphs = 1;
  bool FOldDisabledStyle = false;
  TColor FTransparentColor = platform::clOlive;
  TGlyphList* FList = nullptr;
  int32_t FIndexes[5] = {-1, -1, -1, -1, -1};
};

class TToolbarButton;

class TToolbarButtonActionLink : public platform::TControlActionLink {
 public:
  explicit TToolbarButtonActionLink(TToolbarButton* AClient);
  bool IsCheckedLinked() const override;
  bool IsHelpContextLinked() const override;
  bool IsImageIndexLinked() const override;

 protected:
  void SetChecked(bool Value) override;
  void SetHelpContext(int32_t Value) override;
  void SetImageIndex(int32_t Value) override;

 private:
  TToolbarButton* Button() const;
};

// What the buttons ask of their surroundings; tests replace it.
struct TToolbarButtonEnvironment {
  std::function<platform::TControl*()> ControlAtCursor;  // FindDragTarget at the cursor, disabled included
  std::function<TPoint()> CursorPos;                      // screen coordinates
  std::function<bool()> ApplicationActive;
};
TToolbarButtonEnvironment& ToolbarButtonEnvironment();
void ResetToolbarButtonEnvironment();

class TToolbarButton : public platform::TGraphicControl {
 public:
  explicit TToolbarButton(TComponent* AOwner);
  ~TToolbarButton() override;
  std::string ClassName() const override { return "TToolbarButton"; }
  void Loaded() override;

  platform::TBasicAction* Action() const;
  void SetAction(platform::TBasicAction* Value);
  platform::TAlignment Alignment() const { return FAlignment; }
  void SetAlignment(platform::TAlignment Value);
  bool AllowAllUp() const { return FAllowAllUp; }
  void SetAllowAllUp(bool Value);
  bool Cancel() const { return FCancel; }
  void SetCancel(bool Value) { FCancel = Value; }
  bool Default() const { return FDefault; }
  void SetDefault(bool Value) { FDefault = Value; }
  TButtonDisplayMode DisplayMode() const { return FDisplayMode; }
  void SetDisplayMode(TButtonDisplayMode Value);
  bool Down() const { return FDown; }
  void SetDown(bool Value);
  bool DropdownAlways() const { return FDropdownAlways; }
  void SetDropdownAlways(bool Value);
  bool DropdownArrow() const { return FDropdownArrow; }
  void SetDropdownArrow(bool Value);
  int32_t DropdownArrowWidth() const { return FDropdownArrowWidth; }
  void SetDropdownArrowWidth(int32_t Value);
  bool DropdownCombo() const { return FDropdownCombo; }
  void SetDropdownCombo(bool Value);
  platform::TPopupMenu* DropdownMenu() const { return FDropdownMenu; }
  void SetDropdownMenu(platform::TPopupMenu* Value);
  bool Flat() const { return FFlat; }
  void SetFlat(bool Value);
  TBitmap* Glyph() const { return FButtonGlyph->Glyph(); }
  // Copies Value and derives NumGlyphs from its shape.
  void SetGlyph(const TBitmap* Value);
  TBitmap* GlyphMask() const { return FButtonGlyph->GlyphMask(); }
  void SetGlyphMask(const TBitmap* Value);
  int32_t GroupIndex() const { return FGroupIndex; }
  void SetGroupIndex(int32_t Value);
  int32_t HelpContext() const { return FHelpContext; }
  void SetHelpContext(int32_t Value) { FHelpContext = Value; }
  bool HighlightWhenDown() const { return FHighlightWhenDown; }
  void SetHighlightWhenDown(bool Value);
  int32_t ImageIndex() const { return FButtonGlyph->ImageIndex(); }
  void SetImageIndex(int32_t Value);
  platform::TImageList* Images() const { return FButtonGlyph->Images(); }
  void SetImages(platform::TImageList* Value);
  TButtonLayout Layout() const { return FLayout; }
  void SetLayout(TButtonLayout Value);
  int32_t Margin() const { return FMargin; }
  void SetMargin(int32_t Value);
  int32_t ModalResult() const { return FModalResult; }
  void SetModalResult(int32_t Value) { FModalResult = Value; }
  bool NoBorder() const { return FNoBorder; }
  void SetNoBorder(bool Value);
  TButtonNumGlyphs NumGlyphs() const { return FButtonGlyph->NumGlyphs(); }
  void SetNumGlyphs(TButtonNumGlyphs Value);
  bool OldDisabledStyle() const { return FButtonGlyph->OldDisabledStyle(); }
  void SetOldDisabledStyle(bool Value);
  bool Opaque() const { return FOpaque; }
  void SetOpaque(bool Value);
  bool Repeating() const { return FRepeating; }
  void SetRepeating(bool Value) { FRepeating = Value; }
  int32_t RepeatDelay() const { return FRepeatDelay; }
  void SetRepeatDelay(int32_t Value) { FRepeatDelay = Value; }
  int32_t RepeatInterval() const { return FRepeatInterval; }
  void SetRepeatInterval(int32_t Value) { FRepeatInterval = Value; }
  bool ShowBorderWhenInactive() const { return FShowBorderWhenInactive; }
  void SetShowBorderWhenInactive(bool Value);
  int32_t Spacing() const { return FSpacing; }
  void SetSpacing(int32_t Value);
  std::string Version() const { return ToolbarButtonVersion; }
  void SetVersion(const std::string&) {}
  bool WordWrap() const { return FWordWrap; }
  void SetWordWrap(bool Value);

  TButtonDropdownEvent OnDropdown;
  platform::TNotifyEvent OnMouseExit;

  // State, for tests and the form.
  TButtonState State() const { return FState; }
  bool MouseInControl() const { return FMouseInControl; }
  bool MouseIsDown() const { return FMouseIsDown; }
  bool MenuIsDown() const { return FMenuIsDown; }
  bool UsesDropdown() const { return FDropdownMenu != nullptr || FDropdownAlways; }
  platform::TTimer* RepeatTimer() const { return FRepeatTimer.get(); }
  TButtonGlyph* ButtonGlyph() const { return FButtonGlyph.get(); }
  // The layout Paint uses, for the content rectangle of the current state.
  TButtonLayoutResult CurrentLayout(TCanvas* Canvas);
  // Paints the button onto Canvas at (0, 0), as on the screen.
  void PaintButton(TCanvas* Canvas);
  void Click() override;
  // CM_DIALOGKEY: Return clicks a Default button, Escape a Cancel one (no shift keys).
  // CM_DIALOGCHAR: the caption's accelerator clicks it. Both need the parent showing and the
  // button enabled and visible; true when the button clicked.
  bool DialogKey(platform::Word Key, platform::TShiftState Shift) override;
  bool DialogChar(platform::TKeyChar Key) override;

  // Hot tracking, also run by the shared timer and the hook procedure.
  void MouseEntered();
  void MouseLeft();

 protected:
  void MouseDown(platform::TMouseButton Button, platform::TShiftState Shift, int32_t X, int32_t Y) override;
  void MouseMove(platform::TShiftState Shift, int32_t X, int32_t Y) override;
  void MouseUp(platform::TMouseButton Button, platform::TShiftState Shift, int32_t X, int32_t Y) override;
  // The button tracks hot itself; the platform's enter and leave notices are not used.
  void MouseEnter() override {}
  void MouseLeave() override {}
  void CancelMode() override;
  void EnabledChanged() override;
  void FontChanged() override;
  void TextChanged() override;
  void Paint() override;
  void Notification(TComponent* AComponent, platform::TOperation Operation) override;
  virtual void ActionChange(TObject* Sender, bool CheckDefaults);

 private:
  friend class TToolbarButtonActionLink;
  void Redraw();
  void UpdateOpaque();
  void UpdateExclusive();
  void RepeatTimerTick();
  void FreeRepeatTimer();
  bool PointInButtonPart(int32_t X, int32_t Y) const;
  TButtonState RestingState() const;
  void InheritedClick();
  void DrawArrow(TCanvas* C, int32_t X, int32_t Y);

  std::shared_ptr<bool> FAlive;
  std::unique_ptr<TToolbarButtonActionLink> FActionLink;
  std::unique_ptr<TButtonGlyph> FButtonGlyph;
  std::unique_ptr<platform::TTimer> FRepeatTimer;
  platform::TAlignment FAlignment = platform::taCenter;
  bool FAllowAllUp = false;
  bool FCancel = false;
  bool FDefault = false;
  TButtonDisplayMode FDisplayMode = dmBoth;
  bool FDown = false;
  bool FDropdownAlways = false;
  bool FDropdownArrow = true;
  int32_t FDropdownArrowWidth = 9;
  bool FDropdownCombo = false;
  platform::TPopupMenu* FDropdownMenu = nullptr;
  bool FFlat = true;
  int32_t FGroupIndex = 0;
  int32_t FHelpContext = 0;
  bool FHighlightWhenDown = true;
  TButtonLayout FLayout = blGlyphLeft;
  int32_t FMargin = -1;
  int32_t FModalResult = 0;
  bool FNoBorder = false;
  bool FOpaque = true;
  bool FRepeating = false;
  int32_t FRepeatDelay = 400;
  int32_t FRepeatInterval = 100;
  bool FShowBorderWhenInactive = false;
  int32_t FSpacing = 4;
  bool FWordWrap = false;

  bool FMouseInControl = false;
  bool FMouseIsDown = false;
  bool FMenuIsDown = false;
  bool FInClick = false;
  TButtonState FState = bsUp;
  uint32_t FClicksBlockedSince = 0;
  bool FClicksBlocked = false;
  bool FInRepeatTick = false;
};

// The shared hot-tracking state.
TToolbarButton* ToolbarHotButton();
platform::TTimer* ToolbarHotTimer();
int32_t ToolbarButtonCount();
// The 8 x 8 pattern of latched buttons; nullptr until first used.
TBitmap* ToolbarPatternBitmap();
// The hook procedure the buttons register.
void ToolbarButtonHookProc(THookEventCode Code, platform::HWND Wnd, intptr_t WParam, intptr_t LParam);

}  // namespace widgets

// THtmlTreeView: a tree whose node texts are mini-HTML. The tree control keeps nodes, buttons,
// lines, scrolling and keyboard navigation; this class hides the control's own text, paints each
// node's HTML over it, tracks the anchor under the mouse, and turns every anchor into an editable
// parameter: clicking it (or Return on the focused one) opens the popup editor its class names,
// and the edited value is written back into the node text, escaped.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ComCtrls.h"
#include "platform/ImgList.h"
#include "platform/Menus.h"
#include "widgets/MiniHtml.h"
#include "widgets/PictureContainer.h"
#include "widgets/PopupEditors.h"

namespace widgets {

class THtmlTreeView;

using THtmlTreeViewClickEvent =
    std::function<void(platform::TObject* Sender, platform::TTreeNode* Node, const std::string& Href, std::string& Value)>;
using THtmlTreeViewPopupEvent = std::function<void(platform::TObject* Sender, platform::TTreeNode* Node,
                                                   const std::string& Href, std::vector<std::string>& Values, bool& DoPopup)>;
using THtmlTreeViewSelectEvent = std::function<void(platform::TObject* Sender, platform::TTreeNode* Node,
                                                    const std::string& Href, const std::string& Value)>;
using THtmlTreeViewChangedEvent =
    std::function<void(platform::TObject* Sender, platform::TTreeNode* Node, const std::string& Href,
                       const std::string& OldValue, const std::string& NewValue)>;
using THtmlTreeViewHintEvent = std::function<void(platform::TObject* Sender, platform::TTreeNode* Node,
                                                  const std::string& Href, std::string& HintValue, bool& ShowHint)>;
using THtmlTreeViewEditEvent = THtmlTreeViewClickEvent;
using TParamCustomEditEvent =
    std::function<void(platform::TObject* Sender, platform::TTreeNode* Node, const std::string& Href,
                       const std::string& Value, const std::string& Props, const platform::TRect& EditRect)>;

// What lies under a point of a node.
struct THtmlHit {
  std::string Href;  // "" none, "ctrl" for a control
  int32_t Anchor = -1;  // 1-based anchor number
  platform::TRect HoverRect{-1, -1, -1, -1};
  platform::TRect ControlRect{-1, -1, -1, -1};
  std::string ControlId, ControlValue, ControlType;
};

class THtmlTreeView : public platform::TCustomTreeView {
 public:
  explicit THtmlTreeView(platform::TComponent* AOwner);
  ~THtmlTreeView() override;
  std::string ClassName() const override { return "THtmlTreeView"; }

  bool AdvanceOnReturn() const { return FAdvanceOnReturn; }
  void SetAdvanceOnReturn(bool Value) { FAdvanceOnReturn = Value; }
  bool EditAutoSize() const { return FEditAutoSize; }
  void SetEditAutoSize(bool Value) { FEditAutoSize = Value; }
  const std::string& EmptyParam() const { return FEmptyParam; }
  void SetEmptyParam(const std::string& Value) { FEmptyParam = Value; }
  platform::TImageList* HTMLImages() const { return FHTMLImages; }
  void SetHTMLImages(platform::TImageList* Value);
  bool Hover() const { return FHover; }
  void SetHover(bool Value) { SetAndRepaint(FHover, Value); }
  platform::TColor HoverColor() const { return FHoverColor; }
  void SetHoverColor(platform::TColor Value) { SetAndRepaint(FHoverColor, Value); }
  platform::TColor HoverFontColor() const { return FHoverFontColor; }
  void SetHoverFontColor(platform::TColor Value) { SetAndRepaint(FHoverFontColor, Value); }
  int32_t ItemHeight() const { return RowHeight(); }
  void SetItemHeight(int32_t Value);
  int32_t LineSpacing() const { return FLineSpacing; }
  void SetLineSpacing(int32_t Value) { SetAndRepaint(FLineSpacing, Value); }
  platform::TColor SelectionColor() const { return FSelectionColor; }
  void SetSelectionColor(platform::TColor Value) { SetAndRepaint(FSelectionColor, Value); }
  platform::TColor SelectionFontColor() const { return FSelectionFontColor; }
  void SetSelectionFontColor(platform::TColor Value) { SetAndRepaint(FSelectionFontColor, Value); }
  bool ShowSelection() const { return FShowSelection; }
  void SetShowSelection(bool Value) { SetAndRepaint(FShowSelection, Value); }
  platform::TColor ParamColor() const { return FParamColor; }
  void SetParamColor(platform::TColor Value) { SetAndRepaint(FParamColor, Value); }
  bool ParamHint() const { return FParamHint; }
  void SetParamHint(bool Value) { FParamHint = Value; }
  platform::TColor ShadowColor() const { return FShadowColor; }
  void SetShadowColor(platform::TColor Value) { SetAndRepaint(FShadowColor, Value); }
  int32_t ShadowOffset() const { return FShadowOffset; }
  void SetShadowOffset(int32_t Value) { SetAndRepaint(FShadowOffset, Value); }
  bool ShowFocusBorder() const { return FShowFocusBorder; }
  void SetShowFocusBorder(bool Value) { SetAndRepaint(FShowFocusBorder, Value); }
  bool WordWrap() const { return FWordWrap; }
  void SetWordWrap(bool Value) { SetAndRepaint(FWordWrap, Value); }
  bool ParamListSorted() const { return FParamListSorted; }
  void SetParamListSorted(bool Value) { FParamListSorted = Value; }

  virtual void BeginUpdate();
  virtual void EndUpdate();

  // Parameter look-ups by href over the whole tree.
  platform::TTreeNode* FindParamNode(const std::string& Href) const;
  // The anchor's 0-based index within the node (case-insensitive), -1 when absent.
  int32_t ParamIndex(platform::TTreeNode* Node, const std::string& Href) const;
  // The Index-th href of the node, wrapping to the first past the end.
  std::string ParamHref(platform::TTreeNode* Node, int32_t Index) const;
  int32_t TotalParamCount() const;
  // The Index-th href over all nodes in node order; Node receives its node.
  std::string ParamHrefOverall(int32_t Index, platform::TTreeNode** Node = nullptr) const;
  // The unescaped value of a parameter ("" when absent).
  std::string GetParam(const std::string& Href) const;

  // The focused parameter of the selected node.
  int32_t FocusedParam() const { return FFocusIndex; }
  bool Editing() const { return FEditing; }
  platform::TTreeNode* HoverNode() const { return FHoverNode; }
  // The node's HTML rectangle (client coordinates) as it is painted.
  platform::TRect NodeHtmlRect(platform::TTreeNode* Node);
  // What lies under client point (X, Y) of a node.
  THtmlHit HitTest(platform::TTreeNode* Node, int32_t X, int32_t Y, int32_t FocusAnchor = -1,
                   bool FocusRectAsHover = false);
  // Opens the editor of a parameter (as a click on it does).
  void ParamClick(platform::TTreeNode* Node, const std::string& Href, platform::TRect AnchorRect);

  TPopupEdit* EditControl() const { return FEdit; }
  TPopupMaskEdit* MaskEditControl() const { return FMaskEdit; }
  TPopupSpinEdit* SpinEditControl() const { return FSpin; }
  TPopupListBox* ListControl() const { return FList; }
  TPopupDatePicker* DateControl() const { return FDate; }
  platform::TPopupMenu* ParamMenu() const { return FMenu; }
  THTMLPictureCache* PictureCache() const { return FCache.get(); }

  THtmlTreeViewClickEvent OnParamPrepare;
  THtmlTreeViewClickEvent OnParamClick;
  THtmlTreeViewPopupEvent OnParamPopup;
  THtmlTreeViewPopupEvent OnParamList;
  THtmlTreeViewSelectEvent OnParamSelect;
  THtmlTreeViewChangedEvent OnParamChanged;
  THtmlTreeViewHintEvent OnParamHint;
  THtmlTreeViewSelectEvent OnParamEnter;
  THtmlTreeViewSelectEvent OnParamExit;
  THtmlTreeViewEditEvent OnParamEditStart;
  THtmlTreeViewEditEvent OnParamEditDone;
  THtmlTreeViewEditEvent OnParamQuery;
  TParamCustomEditEvent OnParamCustomEdit;

 protected:
  std::string GetDisplayText(platform::TTreeNode* Node) override;
  bool ItemPrePaint(platform::TCanvas* Canvas, platform::TTreeNode* Node, platform::TCustomDrawState State) override;
  void ItemPostPaint(platform::TCanvas* Canvas, platform::TTreeNode* Node, platform::TCustomDrawState State,
                     const platform::TRect& Row) override;
  void MouseDown(platform::TMouseButton Button, platform::TShiftState Shift, int32_t X, int32_t Y) override;
  void MouseUp(platform::TMouseButton Button, platform::TShiftState Shift, int32_t X, int32_t Y) override;
  void MouseMove(platform::TShiftState Shift, int32_t X, int32_t Y) override;
  void MouseLeave() override;
  bool HintShow(platform::THintInfo& Info) override;
  void KeyDown(platform::Word& Key, platform::TShiftState Shift) override;
  void KeyPress(platform::TKeyChar& Key) override;
  bool WantSpecialKey(platform::Word Key, platform::TShiftState Shift) override;
  void Change(platform::TTreeNode* Node) override;
  void Delete(platform::TTreeNode* Node) override;
  void WMHScroll(int32_t Code, int32_t Pos) override;
  void Notification(platform::TComponent* AComponent, platform::TOperation Operation) override;
  void CreateWnd() override;
  void Loaded() override;

 private:
  template <typename T>
  void SetAndRepaint(T& Field, const T& Value) {
    if (Field == Value) return;
    Field = Value;
    Invalidate();
  }
  // The unescaped value of the parameter Href in Node ("" when absent): hrefs may repeat
  // across nodes.
  static std::string NodeParam(platform::TTreeNode* Node, const std::string& Href);
  void Prepare(platform::TTreeNode* Node, const std::string& Href, std::string& Value);
  void WriteBack(const std::string& Href, const std::string& Value, bool Escape);
  void EndEditing() { FEditing = false; }
  void SetFocusIndex(platform::TTreeNode* Node, int32_t Index);
  void TrackHover(int32_t X, int32_t Y);
  void ViewMoved() override;
  bool FTracking = false;
  void Advance();
  void PlaceEditor(platform::TWinControl* Editor, TPopupEditorLink& Link, const std::string& Href, int32_t Left,
                   int32_t Top, int32_t Width);
  void LeaveParam();

  bool FAdvanceOnReturn = false;
  bool FEditAutoSize = false;
  std::string FEmptyParam = "?";
  platform::TImageList* FHTMLImages = nullptr;
  bool FHover = true;
  platform::TColor FHoverColor = platform::clGreen;
  platform::TColor FHoverFontColor = platform::clWhite;
  int32_t FItemHeight = 16;
  int32_t FLineSpacing = 0;
  platform::TColor FSelectionColor = platform::clHighlight;
  platform::TColor FSelectionFontColor = platform::clHighlightText;
  bool FShowSelection = false;
  platform::TColor FParamColor = platform::clGreen;
  bool FParamHint = false;
  platform::TColor FShadowColor = platform::clGray;
  int32_t FShadowOffset = 1;
  bool FShowFocusBorder = true;
  bool FWordWrap = true;
  bool FParamListSorted = false;

  platform::TPopupMenu* FMenu;
  TPopupListBox* FList;
  TPopupDatePicker* FDate;
  TPopupSpinEdit* FSpin;
  TPopupEdit* FEdit;
  TPopupMaskEdit* FMaskEdit;
  std::unique_ptr<THTMLPictureCache> FCache;

  platform::TTreeNode* FHoverNode = nullptr;
  int32_t FHoverAnchor = -1;
  platform::TRect FHoverRect{-1, -1, -1, -1};
  platform::TTreeNode* FEnteredNode = nullptr;
  int32_t FEnteredAnchor = -1;
  std::string FEnteredHref;
  platform::TRect FControlRect{-1, -1, -1, -1};
  platform::TTreeNode* FEditNode = nullptr;
  int32_t FFocusIndex = 0;
  std::string FMenuHref;
  bool FEditing = false;
  bool FLeftDown = false;
  int32_t FUpdateCount = 0;
  platform::TCursor FOldCursor = platform::crDefault;
  platform::TPoint FMouse{-1, -1};
};

// Where the choice list of Width x Height goes for an anchor (screen rectangles): below the
// anchor from its left; above it when below would cross the bottom of Screen (pushed up when
// neither fits); moved left when it would cross the right edge; never left of or above Screen,
// and no wider or taller than it.
platform::TRect ListEditorBounds(const platform::TRect& Anchor, int32_t Width, int32_t Height,
                                 const platform::TRect& Screen);

}  // namespace widgets

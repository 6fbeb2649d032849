#include "widgets/HtmlTreeView.h"

#include <algorithm>
#include <filesystem>

#include "platform/Dialogs.h"
#include "platform/Forms.h"
#include "platform/Graphics.h"
#include "platform/KeyState.h"
#include "platform/SysUtils.h"
#include "platform/TextCodec.h"

namespace widgets {

using namespace platform;

THtmlTreeView::THtmlTreeView(TComponent* AOwner)
    : TCustomTreeView(AOwner),
      FMenu(new TPopupMenu(this)),
      FList(new TPopupListBox(this)),
      FDate(new TPopupDatePicker(this)),
      FSpin(new TPopupSpinEdit(this)),
      FEdit(new TPopupEdit(this)),
      FMaskEdit(new TPopupMaskEdit(this)),
      FCache(std::make_unique<THTMLPictureCache>()) {
  SetToolTips(false);
  SetReadOnly(true);
  SetRowHeight(FItemHeight);
  FMenu->SetAutoHotkeys(maAutomatic);
  for (TPopupEditorLink* link : std::initializer_list<TPopupEditorLink*>{FList, FDate, FSpin, FEdit, FMaskEdit}) {
    link->OnValue = [this](TObject*, const std::string& Param, const std::string& Value) { WriteBack(Param, Value, true); };
    link->OnAdvance = [this](TObject*) { Advance(); };
    link->OnCancel = [this](TObject*) { EndEditing(); };
  }
}

THtmlTreeView::~THtmlTreeView() {
  FHoverNode = FEnteredNode = FEditNode = nullptr;
  for (TPopupEditorLink* link : std::initializer_list<TPopupEditorLink*>{FList, FDate, FSpin, FEdit, FMaskEdit}) {
    link->OnValue = nullptr;
    link->OnAdvance = nullptr;
    link->OnCancel = nullptr;
  }
}

void THtmlTreeView::SetHTMLImages(TImageList* Value) {
  if (Value == FHTMLImages) return;
  if (FHTMLImages) FHTMLImages->RemoveFreeNotification(this);
  FHTMLImages = Value;
  if (Value) Value->FreeNotification(this);
  Invalidate();
}

void THtmlTreeView::Notification(TComponent* AComponent, TOperation Operation) {
  TCustomTreeView::Notification(AComponent, Operation);
  if (Operation == TOperation::opRemove && AComponent == FHTMLImages) FHTMLImages = nullptr;
}

void THtmlTreeView::SetItemHeight(int32_t Value) {
  if (Value == FItemHeight) return;
  FItemHeight = Value;
  SetRowHeight(Value);
}

void THtmlTreeView::CreateWnd() {
  TCustomTreeView::CreateWnd();
  SetRowHeight(FItemHeight);
}

void THtmlTreeView::Loaded() {
  TCustomTreeView::Loaded();
  FOldCursor = Cursor();
}

void THtmlTreeView::BeginUpdate() {
  if (FUpdateCount++ == 0) SetRedraw(false);
}

void THtmlTreeView::EndUpdate() {
  if (FUpdateCount == 0) return;
  if (--FUpdateCount == 0) {
    SetRedraw(true);
    Invalidate();
  }
}

// ---------------------------------------------------------------------------------------------
// Look-ups

TTreeNode* THtmlTreeView::FindParamNode(const std::string& Href) const {
  for (TTreeNode* n = Items()->GetFirstNode(); n; n = n->GetNext())
    if (ParamIndex(n, Href) >= 0) return n;
  return nullptr;
}

int32_t THtmlTreeView::ParamIndex(TTreeNode* Node, const std::string& Href) const {
  if (!Node) return -1;
  const int32_t count = CountAnchors(Node->Text());
  for (int32_t i = 0; i < count; ++i)
    if (SameText(AnchorHrefAt(Node->Text(), i), Href)) return i;
  return -1;
}

std::string THtmlTreeView::ParamHref(TTreeNode* Node, int32_t Index) const {
  if (!Node) return {};
  const int32_t count = CountAnchors(Node->Text());
  if (count == 0) return {};
  if (Index >= count || Index < 0) Index = 0;
  return AnchorHrefAt(Node->Text(), Index);
}

int32_t THtmlTreeView::TotalParamCount() const {
  int32_t total = 0;
  for (TTreeNode* n = Items()->GetFirstNode(); n; n = n->GetNext()) total += CountAnchors(n->Text());
  return total;
}

std::string THtmlTreeView::ParamHrefOverall(int32_t Index, TTreeNode** Node) const {
  if (Node) *Node = nullptr;
  for (TTreeNode* n = Items()->GetFirstNode(); n && Index >= 0; n = n->GetNext()) {
    const int32_t count = CountAnchors(n->Text());
    if (Index < count) {
      if (Node) *Node = n;
      return AnchorHrefAt(n->Text(), Index);
    }
    Index -= count;
  }
  return {};
}

std::string THtmlTreeView::GetParam(const std::string& Href) const { return NodeParam(FindParamNode(Href), Href); }

std::string THtmlTreeView::NodeParam(TTreeNode* Node, const std::string& Href) {
  std::string value, props, cls, hint;
  if (!Node || !GetAnchorAttributes(Node->Text(), Href, value, props, cls, hint)) return {};
  return DecodeEntities(value);
}

// ---------------------------------------------------------------------------------------------
// Painting and hit testing

std::string THtmlTreeView::GetDisplayText(TTreeNode* Node) {
  // The characters the row shows, as the renderer reads the markup when it paints the row: a
  // second reading would keep text it never draws (hidden, blinking unseen) or lose what it
  // makes of malformed tags.
  TCanvas* c = Canvas();
  c->Font()->Assign(Font());
  TMiniHtmlParams p;
  p.Images = FHTMLImages;
  p.MeasureOnly = true;
  p.WordWrap = true;  // as painted
  p.ShowBlinkText = Node == Selected() && FShowSelection;
  p.PictureCache = FCache.get();
  TMiniHtmlResult res;
  TRect r{0, 0, std::max(1, ClientWidth()), RowHeight()};
  RenderMiniHtml(c, Node->Text(), r, p, res);
  std::string s = std::move(res.ShownText);
  // 255 characters, not bytes, and never half a character.
  size_t pos = 0;
  for (int32_t n = 0; n < 255 && pos < s.size(); ++n) DecodeUtf8(s, pos);
  s.resize(pos);
  return s;
}

bool THtmlTreeView::ItemPrePaint(TCanvas* Canvas, TTreeNode* Node, TCustomDrawState State) {
  TCustomTreeView::ItemPrePaint(Canvas, Node, State);
  return false;  // the HTML is painted over the row instead
}

TRect THtmlTreeView::NodeHtmlRect(TTreeNode* Node) {
  TRect row = RowRect(Node);
  TRect r = row;
  r.Left = (ShowRoot() ? Node->Level() + 1 : Node->Level()) * Indent() - ScrollLeft();
  TCanvas* c = Canvas();
  c->Font()->Assign(Font());
  TMiniHtmlParams p;
  p.MeasureOnly = true;
  p.WordWrap = FWordWrap;
  p.ShadowOffset = 2;
  p.ShadowColor = 0x808080;
  p.AnchorColor = 0x008000;
  TMiniHtmlResult res;
  TRect m = r;
  RenderMiniHtml(c, Node->Text(), m, p, res);
  if (row.Height() > res.Height) r.Top += (row.Height() - res.Height) / 2;
  return r;
}

void THtmlTreeView::ItemPostPaint(TCanvas* C, TTreeNode* Node, TCustomDrawState State, const TRect& Row) {
  C->Font()->Assign(Font());
  TRect r = Row;
  r.Left = (ShowRoot() ? Node->Level() + 1 : Node->Level()) * Indent() - ScrollLeft();
  {
    TMiniHtmlParams p;
    p.MeasureOnly = true;
    p.WordWrap = FWordWrap;
    p.ShadowOffset = 2;
    p.ShadowColor = 0x808080;
    p.AnchorColor = 0x008000;
    TMiniHtmlResult res;
    TRect m = r;
    RenderMiniHtml(C, Node->Text(), m, p, res);
    if (Row.Height() > res.Height) r.Top += (Row.Height() - res.Height) / 2;
  }
  const bool selected = (State & cdsSelected) != 0;
  const bool focused = (State & cdsFocused) != 0;
  if (selected && FShowSelection) {
    C->Brush()->SetStyle(bsSolid);
    C->Brush()->SetColor(FSelectionColor);
    C->Pen()->SetColor(FSelectionColor);
    C->Font()->SetColor(FSelectionFontColor);
    const TRect sel{r.Left, Row.Top, ClientWidth() - 4, Row.Bottom};
    C->Rectangle(sel);
    C->DrawFocusRect(sel);
    if (focused) {
      C->Pen()->SetColor(clBlack);
      C->Brush()->SetColor(clBlack);
    }
  } else {
    C->Brush()->SetStyle(bsSolid);
    C->Brush()->SetColor(Color());
    C->Pen()->SetColor(Color());
    C->Rectangle({r.Left, Row.Top, ClientWidth(), Row.Bottom});
  }
  TMiniHtmlParams p;
  p.Images = FHTMLImages;
  p.MouseX = FMouse.X;
  p.MouseY = FMouse.Y;
  p.FocusAnchor = (focused || selected) && FShowFocusBorder && Focused() ? FFocusIndex : -1;
  p.HoverAnchor = Node == FHoverNode ? FHoverAnchor : -1;
  p.ShadowOffset = FShadowOffset;
  p.ShowBlinkText = selected && FShowSelection;
  p.HoverStyle = FHover;
  p.WordWrap = true;
  p.MouseDown = FLeftDown;
  p.AnchorColor = selected && FShowSelection ? FSelectionFontColor : FParamColor;
  p.HoverColor = FHover ? FHoverColor : clNone;
  p.HoverFontColor = FHover ? FHoverFontColor : clNone;
  p.ShadowColor = FShadowColor;
  p.PictureCache = FCache.get();
  p.WindowHandle = WidgetHandle();
  p.LineSpacing = 0;
  TMiniHtmlResult res;
  TRect dr{r.Left + 1, r.Top, r.Right, Row.Bottom};
  C->Font()->Assign(Font());
  if (selected && FShowSelection) C->Font()->SetColor(FSelectionFontColor);
  RenderMiniHtml(C, Node->Text(), dr, p, res);
}

THtmlHit THtmlTreeView::HitTest(TTreeNode* Node, int32_t X, int32_t Y, int32_t FocusAnchor, bool FocusRectAsHover) {
  THtmlHit hit;
  if (!Node) return hit;
  TRect r = NodeHtmlRect(Node);
  r.Bottom = RowRect(Node).Bottom;
  TCanvas* c = Canvas();
  c->Font()->Assign(Font());
  TMiniHtmlParams p;
  p.Images = FHTMLImages;
  p.MouseX = X;
  p.MouseY = Y;
  p.FocusAnchor = FocusAnchor;
  p.HitTestOnly = true;
  p.WordWrap = FWordWrap;
  p.MouseDown = FLeftDown;
  p.FocusRectAsHover = FocusRectAsHover;
  p.AnchorColor = 0xFF0000;
  p.ShadowColor = 0x808080;
  p.PictureCache = FCache.get();
  p.LineSpacing = FLineSpacing;
  TMiniHtmlResult res;
  res.HoverRect = hit.HoverRect;
  TRect dr{r.Left + 1, r.Top, r.Right, r.Bottom};
  const bool on = RenderMiniHtml(c, Node->Text(), dr, p, res);
  if (on || (FocusRectAsHover && res.MouseAnchor > 0)) {
    hit.Href = res.AnchorValue;
    hit.Anchor = res.MouseAnchor;
    hit.HoverRect = res.HoverRect;
  }
  if (!res.ControlType.empty()) {
    hit.ControlRect = res.ControlRect;
    hit.ControlId = res.ControlId;
    hit.ControlValue = res.ControlValue;
    hit.ControlType = res.ControlType;
  }
  return hit;
}

// ---------------------------------------------------------------------------------------------
// Mouse and keyboard

void THtmlTreeView::MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
  FMouse = {X, Y};
  TCustomTreeView::MouseDown(Button, Shift, X, Y);
  if (Button != mbLeft) return;
  FLeftDown = true;
  TTreeNode* node = GetNodeAt(X, Y);
  if (!node) return;
  if (Selected() != node) return;  // the selection change was refused
  const THtmlHit hit = HitTest(node, X, Y);
  FControlRect = hit.ControlRect;
  if (hit.ControlRect.Right >= 0) InvalidateRect(hit.ControlRect);
  if (!hit.Href.empty() && hit.Href != "ctrl") ParamClick(node, hit.Href, hit.HoverRect);
}

void THtmlTreeView::MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
  TCustomTreeView::MouseUp(Button, Shift, X, Y);
  if (Button != mbLeft) return;
  FLeftDown = false;
  if (TTreeNode* node = GetNodeAt(X, Y)) {
    const THtmlHit hit = HitTest(node, X, Y);
    if (hit.ControlType == "CHECK") {
      BeginUpdate();
      std::string text = node->Text();
      BuildControlTag(text, hit.ControlId, UpperCase(hit.ControlValue) == "TRUE" ? "FALSE" : "TRUE");
      node->SetText(text);
      EndUpdate();
    }
  }
  if (FControlRect.Right >= 0) InvalidateRect(FControlRect);
  FControlRect = {-1, -1, -1, -1};
}

void THtmlTreeView::LeaveParam() {
  if (FEnteredNode) {
    TTreeNode* node = FEnteredNode;
    const std::string href = FEnteredHref;
    FEnteredNode = nullptr;
    FEnteredAnchor = -1;
    FEnteredHref.clear();
    if (OnParamExit) OnParamExit(this, node, href, NodeParam(node, href));
  }
  if (Cursor() == crHandPoint) SetCursor(FOldCursor);
  if (FHover && FHoverRect.Right >= 0) InvalidateRect(FHoverRect);
  FHoverNode = nullptr;
  FHoverAnchor = -1;
  FHoverRect = {-1, -1, -1, -1};
}

void THtmlTreeView::MouseMove(TShiftState Shift, int32_t X, int32_t Y) {
  FMouse = {X, Y};
  if (!FEditing) TrackHover(X, Y);
  TCustomTreeView::MouseMove(Shift, X, Y);
}

void THtmlTreeView::ViewMoved() {
  // The pointer rests while the rows move under it: the hovered anchor is the one now there.
  if (FEditing || FTracking || FMouse.X < 0 || !(FHoverNode || FEnteredNode)) return;
  FTracking = true;
  try {
    TrackHover(FMouse.X, FMouse.Y);
  } catch (...) {
    FTracking = false;
    throw;
  }
  FTracking = false;
}

void THtmlTreeView::TrackHover(int32_t X, int32_t Y) {
  TTreeNode* node = GetNodeAt(X, Y);
  if (!node) {
    if (Cursor() == crHandPoint || FEnteredNode) LeaveParam();
  } else {
    const THtmlHit hit = HitTest(node, X, Y);
    if (hit.ControlRect != FControlRect) {
      if (FControlRect.Right >= 0) InvalidateRect(FControlRect);
      if (hit.ControlRect.Right >= 0) InvalidateRect(hit.ControlRect);
    }
    if (!hit.Href.empty() && hit.Anchor > 0) {
      if (FHover && (node != FHoverNode || hit.HoverRect != FHoverRect) && FHoverRect.Right >= 0)
        InvalidateRect(FHoverRect);
      FHoverNode = node;
      FHoverAnchor = hit.Anchor;
      if (Cursor() != crHandPoint) {
        FOldCursor = Cursor();
        SetCursor(crHandPoint);
      }
      FHoverRect = hit.HoverRect;
      if (FHover) InvalidateRect(FHoverRect);
      if (node != FEnteredNode || hit.Anchor != FEnteredAnchor) {
        if (FEnteredNode && OnParamExit) OnParamExit(this, FEnteredNode, FEnteredHref, NodeParam(FEnteredNode, FEnteredHref));
        FEnteredNode = node;
        FEnteredAnchor = hit.Anchor;
        FEnteredHref = hit.Href;
        if (OnParamEnter) OnParamEnter(this, node, hit.Href, NodeParam(node, hit.Href));
      }
    } else if (FHoverNode || FEnteredNode || Cursor() == crHandPoint) {
      LeaveParam();
    }
  }
}

void THtmlTreeView::MouseLeave() {
  FMouse = {-1, -1};
  if (!FEditing && (FHoverNode || FEnteredNode)) LeaveParam();
  TCustomTreeView::MouseLeave();
}

bool THtmlTreeView::HintShow(THintInfo& Info) {
  if (!FParamHint || FEditing) return TCustomTreeView::HintShow(Info);
  TTreeNode* node = GetNodeAt(Info.CursorPos.X, Info.CursorPos.Y);
  const THtmlHit hit = HitTest(node, Info.CursorPos.X, Info.CursorPos.Y);
  if (!node || hit.Href.empty() || hit.Anchor <= 0) return TCustomTreeView::HintShow(Info);
  std::string value, props, cls, hint;
  GetAnchorAttributes(node->Text(), hit.Href, value, props, cls, hint);
  const TPoint screen = ClientToScreen(Info.CursorPos);
  Info.HintPos = {screen.X + 10, screen.Y - 10};
  bool show = true;
  if (OnParamHint) OnParamHint(this, node, hit.Href, hint, show);
  Info.HintStr = hint;
  return show;
}

bool THtmlTreeView::WantSpecialKey(Word Key, TShiftState Shift) {
  return Key == VK_RETURN || TCustomTreeView::WantSpecialKey(Key, Shift);
}

void THtmlTreeView::KeyDown(Word& Key, TShiftState Shift) {
  TTreeNode* sel = Selected();
  if ((Key == VK_LEFT || Key == VK_RIGHT) && sel) {
    const int32_t count = CountAnchors(sel->Text());
    if (count > 1) {
      if (Key == VK_LEFT && FFocusIndex >= 1) --FFocusIndex;
      else if (Key == VK_RIGHT && FFocusIndex < count - 1) ++FFocusIndex;
      Key = 0;
      InvalidateRect(RowRect(sel));
      return;
    }
  }
  TCustomTreeView::KeyDown(Key, Shift);
}

void THtmlTreeView::KeyPress(TKeyChar& Key) {
  TTreeNode* sel = Selected();
  if (Key == 13 && sel && CountAnchors(sel->Text()) > 0) {
    Key = 0;
    const std::string href = ParamHref(sel, FFocusIndex);
    const TRect row = RowRect(sel);
    const THtmlHit hit = HitTest(sel, -1, row.Top, FFocusIndex + 1, true);
    ParamClick(sel, href, hit.HoverRect);
    return;
  }
  TCustomTreeView::KeyPress(Key);
}

void THtmlTreeView::Change(TTreeNode* Node) {
  TCustomTreeView::Change(Node);
  if (Node && CountAnchors(Node->Text()) <= FFocusIndex) FFocusIndex = 0;
}

void THtmlTreeView::SetFocusIndex(TTreeNode* Node, int32_t Index) {
  if (Index == FFocusIndex) return;
  FFocusIndex = Index;
  // The focus frame moves to the parameter now focused.
  if (Node && Node->IsVisible()) InvalidateRect(RowRect(Node));
}

void THtmlTreeView::Delete(TTreeNode* Node) {
  TCustomTreeView::Delete(Node);
  if (Node == FHoverNode) {
    FHoverNode = nullptr;
    FHoverAnchor = -1;
  }
  if (Node == FEnteredNode) {
    FEnteredNode = nullptr;
    FEnteredAnchor = -1;
    FEnteredHref.clear();
  }
  if (Node == FEditNode) FEditNode = nullptr;
}

void THtmlTreeView::WMHScroll(int32_t Code, int32_t Pos) {
  const int32_t before = ScrollLeft();
  TCustomTreeView::WMHScroll(Code, Pos);
  if (ScrollLeft() != before) Invalidate();
}

// ---------------------------------------------------------------------------------------------
// Editing

void THtmlTreeView::Prepare(TTreeNode* Node, const std::string& Href, std::string& Value) {
  if (Value == FEmptyParam) Value.clear();
  if (OnParamPrepare) OnParamPrepare(this, Node, Href, Value);
  if (OnParamEditStart) OnParamEditStart(this, Node, Href, Value);
}

TRect ListEditorBounds(const TRect& Anchor, int32_t Width, int32_t Height, const TRect& Screen) {
  int32_t x = Anchor.Left, y = Anchor.Bottom;
  if (Screen.Right > Screen.Left && Screen.Bottom > Screen.Top) {
    // A list wider or taller than the screen is cut to it, as the text editors are.
    Width = std::min(Width, Screen.Width());
    Height = std::min(Height, Screen.Height());
    if (x + Width > Screen.Right) x = Screen.Right - Width;
    if (x < Screen.Left) x = Screen.Left;
    if (y + Height > Screen.Bottom) {
      y = Anchor.Top - Height;
      if (y < Screen.Top) y = Screen.Bottom - Height;
    }
    if (y < Screen.Top) y = Screen.Top;
  }
  return {x, y, x + Width, y + Height};
}

void THtmlTreeView::PlaceEditor(TWinControl* Editor, TPopupEditorLink& Link, const std::string& Href, int32_t Left,
                                int32_t Top, int32_t Width) {
  Link.Cancelled = false;
  Link.Param = Href;
  Editor->SetParent(this);
  Editor->HandleNeeded();  // the editor's window floats from here on
  Editor->SetBounds(Left, Top, Width, Editor->Height());
  KeepOnScreen(Editor);
}

void THtmlTreeView::ParamClick(TTreeNode* Node, const std::string& Href, TRect AnchorRect) {
  if (!Node || Href.empty()) return;
  std::string raw, props, cls, hint;
  if (!GetAnchorAttributes(Node->Text(), Href, raw, props, cls, hint)) return;
  std::string value = DecodeEntities(raw);
  SetFocusIndex(Node, std::max(0, ParamIndex(Node, Href)));
  FEditNode = Node;
  // Editors float in windows of their own: they are placed in screen coordinates.
  const TPoint origin = ClientToScreen({0, 0});
  TRect a = AnchorRect;
  OffsetRect(a, origin.X, origin.Y);
  const int32_t aw = std::max(0, a.Width());
  try {
    if (cls.empty()) {
      if (!OnParamClick) return;
      FEditing = true;
      Prepare(Node, Href, value);
      const std::string before = value;
      OnParamClick(this, Node, Href, value);
      if (value != before) WriteBack(Href, value, true);
      FEditing = false;
    } else if (cls == "TOGGLE") {
      const std::vector<std::string> choices = SplitBarList(props);
      if (choices.size() < 2) return;
      WriteBack(Href, value == choices[0] ? choices[1] : choices[0], true);
    } else if (cls == "MENU" || cls == "LIST") {
      std::vector<std::string> choices = SplitBarList(props);
      if (FParamListSorted)
        std::stable_sort(choices.begin(), choices.end(),
                         [](const std::string& x, const std::string& y) { return UpperCase(x) < UpperCase(y); });
      bool doPopup = true;
      if (cls == "MENU" && OnParamPopup) OnParamPopup(this, Node, Href, choices, doPopup);
      if (cls == "LIST" && OnParamList) OnParamList(this, Node, Href, choices, doPopup);
      if (!doPopup) return;
      Prepare(Node, Href, value);
      FEditing = true;
      if (cls == "MENU") {
        FMenu->Items()->Clear();
        for (size_t i = 0; i < choices.size(); ++i) {
          auto* item = new TMenuItem(FMenu);
          std::string caption;
          for (char ch : choices[i]) caption += ch == '&' ? std::string("&&") : std::string(1, ch);
          item->SetCaption(caption);
          const std::string choice = choices[i];
          item->OnClick = [this, choice](TObject*) { WriteBack(FMenuHref, choice, true); };
          FMenu->Items()->Add(item);
        }
        FMenuHref = Href;
        FMenu->Popup(a.Left, a.Bottom + 2);
        FEditing = false;  // chosen or cancelled, the menu is closed now
      } else {
        PlaceEditor(FList, *FList, Href, a.Left, a.Bottom, 64);
        FList->SetCtl3D(false);
        FList->SetFont(Font());
        FList->SetItems(choices);
        FList->SetHeight(std::min<int32_t>(8, std::max<int32_t>(1, static_cast<int32_t>(choices.size()))) * FList->ItemHeight() + 4);
        FList->SizeToContent();
        const TRect lb = ListEditorBounds(a, FList->Width(), FList->Height(),
                                          Screen()->WorkAreaAt({a.Left, a.Bottom}));
        FList->SetBounds(lb.Left, lb.Top, lb.Width(), lb.Height());
        FList->SetItemIndex(FList->IndexOf(value));
        FList->Show();
        if (FList->CanFocus()) FList->SetFocus();
      }
    } else if (cls == "DATE" || cls == "TIME") {
      Prepare(Node, Href, value);
      FEditing = true;
      PlaceEditor(FDate, *FDate, Href, a.Left + 2, a.Top - 2, std::max(64, aw));
      FDate->SetKind(cls == "DATE" ? dtkDate : dtkTime);
      // The value goes in before the picker shows: showing widens it for the text it holds, so
      // the text of an earlier opening must not size this one.
      TDateTime v = 0;
      if (cls == "DATE") FDate->SetDateTime(TryStrToDate(Trim(value), v) ? v : Date());
      else FDate->SetDateTime(TryStrToTime(Trim(value), v) ? v : Time());
      FDate->Show();
      if (FDate->CanFocus()) FDate->SetFocus();
    } else if (cls == "SPIN") {
      Prepare(Node, Href, value);
      FEditing = true;
      PlaceEditor(FSpin, *FSpin, Href, a.Left + 2, a.Top - 2, std::max(16, aw) + 16);
      FSpin->SetText(value);
      FSpin->SetValue(FSpin->Value());  // invalid text reads as 0
      FSpin->Show();
      if (FSpin->CanFocus()) FSpin->SetFocus();
    } else if (cls == "EDIT") {
      Prepare(Node, Href, value);
      FEditing = true;
      // Placing resets the width, and only a change of text widens an auto-sizing editor: the
      // value is set afresh, also when it is the one the editor last held.
      FEdit->SetText({});
      PlaceEditor(FEdit, *FEdit, Href, a.Left + 2, a.Top - 2, std::max(16, aw));
      FEdit->SetAutoSize(FEditAutoSize);
      FEdit->SetText(value);
      FEdit->Show();
      if (FEdit->CanFocus()) FEdit->SetFocus();
    } else if (cls == "MASK") {
      Prepare(Node, Href, value);
      FEditing = true;
      PlaceEditor(FMaskEdit, *FMaskEdit, Href, a.Left, a.Top - 2, std::max(16, aw) + 16);
      FMaskEdit->SetEditMask(props);
      FMaskEdit->SetText(value);
      FMaskEdit->Show();
      if (FMaskEdit->CanFocus()) FMaskEdit->SetFocus();
    } else if (cls == "DIR") {
      Prepare(Node, Href, value);
      FEditing = true;
      std::string dir = value.empty() ? std::filesystem::current_path().string() : value;
      const bool chosen = SelectDirectoryAt("Select directory", "", dir, a);
      FEditing = false;
      if (chosen) WriteBack(Href, dir, true);
    } else if (cls == "QUERY") {
      Prepare(Node, Href, value);
      FEditing = true;
      if (OnParamQuery) OnParamQuery(this, Node, Href, value);
      WriteBack(Href, value, true);
    } else if (cls == "CUSTOM") {
      Prepare(Node, Href, value);
      if (OnParamCustomEdit) OnParamCustomEdit(this, Node, Href, value, props, {a.Left + 2, a.Top - 2, a.Right, a.Bottom});
    }
  } catch (...) {
    FEditing = false;
    throw;
  }
}

void THtmlTreeView::WriteBack(const std::string& Href, const std::string& Value, bool Escape) {
  FEditing = false;
  TTreeNode* node = FEditNode ? FEditNode : FindParamNode(Href);
  if (!node || ParamIndex(node, Href) < 0) return;
  std::string value = Value.empty() ? FEmptyParam : Value;
  if (OnParamEditDone) OnParamEditDone(this, node, Href, value);
  const std::string stored = Escape ? EscapeParamValue(value) : value;
  if (OnParamSelect) OnParamSelect(this, node, Href, value);
  std::string old;
  GetAnchorValue(node->Text(), Href, old);
  std::string text = node->Text();
  SetAnchorValue(text, Href, stored);
  node->SetText(text);
  if (old != stored && OnParamChanged) OnParamChanged(this, node, Href, DecodeEntities(old), value);
}

void THtmlTreeView::Advance() {
  if (!FAdvanceOnReturn) return;
  TTreeNode* sel = Selected();
  const int32_t total = TotalParamCount();
  if (!sel || total == 0 || CountAnchors(sel->Text()) == 0) return;
  int32_t current = FFocusIndex;
  for (TTreeNode* n = Items()->GetFirstNode(); n && n != sel; n = n->GetNext()) current += CountAnchors(n->Text());
  TTreeNode* node = nullptr;
  const std::string href = ParamHrefOverall((current + 1) % total, &node);
  if (!node) return;
  SetSelected(node);
  if (Selected() != node) return;
  SetFocusIndex(node, std::max(0, ParamIndex(node, href)));
  std::string value, props, cls, hint;
  GetAnchorAttributes(node->Text(), href, value, props, cls, hint);
  if (cls.empty()) return;
  const THtmlHit hit = HitTest(node, -1, RowRect(node).Top, FFocusIndex + 1, true);
  ParamClick(node, href, hit.HoverRect);
}

}  // namespace widgets

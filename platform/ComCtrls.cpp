#include "platform/ComCtrls.h"

#include <QString>
#include <algorithm>
#include <chrono>

#include "platform/Exceptions.h"
#include "platform/Font.h"
#include "platform/Graphics.h"
#include "platform/ImgList.h"
#include "platform/KeyState.h"

namespace platform {

// ---------------------------------------------------------------------------------------------
// TTreeNode

TTreeNode::TTreeNode(TTreeNodes* AOwner, TTreeNode* AParent) : FOwner(AOwner), FParent(AParent) {}
TTreeNode::~TTreeNode() = default;

TCustomTreeView* TTreeNode::TreeView() const { return FOwner ? FOwner->Owner() : nullptr; }

void TTreeNode::SetText(const std::string& Value) {
  if (Value == FText) return;
  FText = Value;
  if (FOwner) FOwner->Changed();
}

void TTreeNode::SetImageIndex(int32_t Value) {
  if (Value == FImageIndex) return;
  FImageIndex = Value;
  if (FOwner) FOwner->Changed();
}

int32_t TTreeNode::Level() const {
  int32_t level = 0;
  for (const TTreeNode* p = FParent; p; p = p->FParent) ++level;
  return level;
}

int32_t TTreeNode::Index() const {
  const auto& list = FParent ? FParent->FChildren : FOwner->FRoots;
  for (size_t i = 0; i < list.size(); ++i)
    if (list[i].get() == this) return static_cast<int32_t>(i);
  return -1;
}

int32_t TTreeNode::AbsoluteIndex() const {
  int32_t index = 0;
  for (const TTreeNode* n = FOwner->GetFirstNode(); n; n = n->GetNext()) {
    if (n == this) return index;
    ++index;
  }
  return -1;
}

TTreeNode* TTreeNode::Item(int32_t Index) const {
  if (Index < 0 || Index >= Count()) throw EListError("Tree view index out of bounds (" + std::to_string(Index) + ")");
  return FChildren[static_cast<size_t>(Index)].get();
}

TTreeNode* TTreeNode::GetNextSibling() const {
  const auto& list = FParent ? FParent->FChildren : FOwner->FRoots;
  const int32_t i = Index();
  return (i >= 0 && static_cast<size_t>(i) + 1 < list.size()) ? list[static_cast<size_t>(i) + 1].get() : nullptr;
}

TTreeNode* TTreeNode::GetPrevSibling() const {
  const auto& list = FParent ? FParent->FChildren : FOwner->FRoots;
  const int32_t i = Index();
  return i > 0 ? list[static_cast<size_t>(i) - 1].get() : nullptr;
}

TTreeNode* TTreeNode::GetNext() const {
  if (!FChildren.empty()) return FChildren.front().get();
  for (const TTreeNode* n = this; n; n = n->FParent)
    if (TTreeNode* s = n->GetNextSibling()) return s;
  return nullptr;
}

TTreeNode* TTreeNode::GetPrev() const {
  TTreeNode* p = GetPrevSibling();
  if (!p) return FParent;
  while (!p->FChildren.empty()) p = p->FChildren.back().get();
  return p;
}

bool TTreeNode::IsVisible() const {
  for (const TTreeNode* p = FParent; p; p = p->FParent)
    if (!p->FExpanded) return false;
  return true;
}

TTreeNode* TTreeNode::GetNextVisible() const {
  if (FExpanded && !FChildren.empty()) return FChildren.front().get();
  for (const TTreeNode* n = this; n; n = n->FParent)
    if (TTreeNode* s = n->GetNextSibling()) return s;
  return nullptr;
}

TTreeNode* TTreeNode::GetPrevVisible() const {
  TTreeNode* p = GetPrevSibling();
  if (!p) return FParent;
  while (p->FExpanded && !p->FChildren.empty()) p = p->FChildren.back().get();
  return p;
}

void TTreeNode::SetExpanded(bool Value) {
  if (Value == FExpanded) return;
  TCustomTreeView* tv = TreeView();
  if (tv && !(Value ? tv->CanExpand(this) : tv->CanCollapse(this))) return;
  FExpanded = Value;
  if (tv) {
    if (!Value && tv->FSelected && tv->FSelected != this) {
      // A selection hidden by the collapse moves to the collapsed node.
      for (TTreeNode* p = tv->FSelected->FParent; p; p = p->FParent)
        if (p == this) {
          tv->SetSelected(this);
          break;
        }
    }
    tv->NodesChanged();
    if (Value && tv->OnExpanded) tv->OnExpanded(tv, this);
    if (!Value && tv->OnCollapsed) tv->OnCollapsed(tv, this);
  }
}

void TTreeNode::Expand(bool Recurse) {
  SetExpanded(true);
  if (Recurse)
    for (auto& c : FChildren) c->Expand(true);
}

void TTreeNode::Collapse(bool Recurse) {
  SetExpanded(false);
  if (Recurse)
    for (auto& c : FChildren) c->Collapse(true);
}

bool TTreeNode::Selected() const {
  const TCustomTreeView* tv = TreeView();
  return tv && tv->Selected() == this;
}

void TTreeNode::SetSelected(bool Value) {
  TCustomTreeView* tv = TreeView();
  if (!tv) return;
  if (Value) tv->SetSelected(this);
  else if (tv->Selected() == this) tv->SetSelected(nullptr);
}

TRect TTreeNode::DisplayRect(bool TextOnly) const {
  const TCustomTreeView* tv = TreeView();
  if (!tv) return {};
  TRect r = tv->RowRect(this);
  if (r.Width() == 0 && r.Height() == 0) return r;
  if (TextOnly) {
    r.Left = tv->TextLeft(this);
    TCanvas* canvas = const_cast<TCustomTreeView*>(tv)->Canvas();
    canvas->Font()->Assign(tv->Font());
    r.Right = r.Left + canvas->TextWidth(const_cast<TCustomTreeView*>(tv)->GetDisplayText(const_cast<TTreeNode*>(this))) + 4;
  }
  return r;
}

void TTreeNode::Delete() { FOwner->Delete(this); }

// ---------------------------------------------------------------------------------------------
// TTreeNodes

TTreeNodes::~TTreeNodes() {
  FUpdateCount = 1;  // no notifications while the tree goes away
  FRoots.clear();
}

std::vector<std::unique_ptr<TTreeNode>>& TTreeNodes::SiblingsOf(TTreeNode* Parent) {
  return Parent ? Parent->FChildren : FRoots;
}

TTreeNode* TTreeNodes::Insert(TTreeNode* Parent, size_t Position, const std::string& S) {
  auto& list = SiblingsOf(Parent);
  auto node = std::make_unique<TTreeNode>(this, Parent);
  node->FText = S;
  TTreeNode* result = node.get();
  list.insert(list.begin() + static_cast<ptrdiff_t>(std::min(Position, list.size())), std::move(node));
  Changed();
  return result;
}

TTreeNode* TTreeNodes::Add(TTreeNode* Sibling, const std::string& S) {
  TTreeNode* parent = Sibling ? Sibling->Parent() : nullptr;
  return Insert(parent, SiblingsOf(parent).size(), S);
}

TTreeNode* TTreeNodes::AddFirst(TTreeNode* Sibling, const std::string& S) {
  return Insert(Sibling ? Sibling->Parent() : nullptr, 0, S);
}

TTreeNode* TTreeNodes::AddChild(TTreeNode* Parent, const std::string& S) {
  return Insert(Parent, SiblingsOf(Parent).size(), S);
}

TTreeNode* TTreeNodes::AddChildFirst(TTreeNode* Parent, const std::string& S) { return Insert(Parent, 0, S); }

int32_t TTreeNodes::Count() const {
  int32_t n = 0;
  for (TTreeNode* p = GetFirstNode(); p; p = p->GetNext()) ++n;
  return n;
}

TTreeNode* TTreeNodes::Item(int32_t Index) const {
  int32_t i = 0;
  if (Index >= 0)
    for (TTreeNode* p = GetFirstNode(); p; p = p->GetNext(), ++i)
      if (i == Index) return p;
  throw EListError("Tree view index out of bounds (" + std::to_string(Index) + ")");
}

void TTreeNodes::Delete(TTreeNode* Node) {
  if (!Node || Node->FOwner != this) return;
  if (FOwner) {
    // Children first, so every node is reported once before it goes.
    for (TTreeNode* n = Node->GetFirstChild(); n;) {
      TTreeNode* next = n->GetNextSibling();
      Delete(n);
      n = next;
    }
    FOwner->NodeRemoved(Node);
  }
  auto& list = SiblingsOf(Node->FParent);
  auto it = std::find_if(list.begin(), list.end(), [&](const auto& p) { return p.get() == Node; });
  if (it == list.end()) return;
  std::unique_ptr<TTreeNode> keep = std::move(*it);
  list.erase(it);
  Changed();
}

void TTreeNodes::Clear() {
  while (!FRoots.empty()) Delete(FRoots.back().get());
}

void TTreeNodes::BeginUpdate() {
  if (FUpdateCount++ == 0 && FOwner) FOwner->SetRedraw(false);
}

void TTreeNodes::EndUpdate() {
  if (FUpdateCount == 0) return;
  if (--FUpdateCount == 0) Changed();
  if (FUpdateCount == 0 && FOwner) FOwner->SetRedraw(true);
}

void TTreeNodes::Changed() {
  if (FUpdateCount == 0 && FOwner) FOwner->NodesChanged();
}

// ---------------------------------------------------------------------------------------------
// TCustomTreeView

TCustomTreeView::TCustomTreeView(TComponent* AOwner)
    : TCustomControl(AOwner), FItems(std::make_unique<TTreeNodes>(this)) {
  SetBounds(0, 0, 121, 97);
  SetTabStop(true);
  SetColor(clWindow);
  SetWantArrows(true);
  // Letters typed with dead keys or compose sequences arrive as input-method text; the
  // keyboard search takes them as typed characters.
  SetInputMethodEnabled(true);
}

TCustomTreeView::~TCustomTreeView() {
  FSelected = nullptr;
  OnChanging = nullptr;
  OnChange = nullptr;
  OnDeletion = nullptr;
  FItems.reset();
}

void TCustomTreeView::NodeRemoved(TTreeNode* Node) {
  if (OnDeletion) OnDeletion(this, Node);
  Delete(Node);
  if (FSelected == Node) {
    FSelected = nullptr;
    Change(nullptr);
  }
}

void TCustomTreeView::Delete(TTreeNode* Node) { (void)Node; }

bool TCustomTreeView::CanChange(TTreeNode* Node) {
  bool allow = true;
  if (OnChanging) OnChanging(this, Node, allow);
  return allow;
}

void TCustomTreeView::Change(TTreeNode* Node) {
  if (OnChange) OnChange(this, Node);
}

bool TCustomTreeView::CanExpand(TTreeNode* Node) {
  bool allow = true;
  if (OnExpanding) OnExpanding(this, Node, allow);
  return allow;
}

bool TCustomTreeView::CanCollapse(TTreeNode* Node) {
  bool allow = true;
  if (OnCollapsing) OnCollapsing(this, Node, allow);
  return allow;
}

void TCustomTreeView::SetSelected(TTreeNode* Value) {
  if (Value == FSelected) return;
  if (Value && !CanChange(Value)) return;
  TTreeNode* old = FSelected;
  FSelected = Value;
  if (Value) {
    for (TTreeNode* p = Value->Parent(); p; p = p->Parent()) p->FExpanded = true;
    MakeVisible(Value);
  }
  if (old) InvalidateRect(RowRect(old));
  NodesChanged();
  Change(Value);
}

int32_t TCustomTreeView::RowHeight() const {
  if (FRowHeight > 0) return FRowHeight;
  TCanvas* c = const_cast<TCustomTreeView*>(this)->Canvas();
  c->Font()->Assign(Font());
  return c->TextHeight("Wg") + 2;
}

void TCustomTreeView::SetRowHeight(int32_t Value) {
  if (Value == FRowHeight) return;
  FRowHeight = Value;
  NodesChanged();
}

void TCustomTreeView::SetIndent(int32_t Value) {
  if (Value == FIndent || Value < 0) return;
  FIndent = Value;
  Invalidate();
}

void TCustomTreeView::SetShowButtons(bool Value) {
  if (Value == FShowButtons) return;
  FShowButtons = Value;
  Invalidate();
}

void TCustomTreeView::SetShowLines(bool Value) {
  if (Value == FShowLines) return;
  FShowLines = Value;
  Invalidate();
}

void TCustomTreeView::SetShowRoot(bool Value) {
  if (Value == FShowRoot) return;
  FShowRoot = Value;
  Invalidate();
}

void TCustomTreeView::SetHideSelection(bool Value) {
  if (Value == FHideSelection) return;
  FHideSelection = Value;
  Invalidate();
}

void TCustomTreeView::SetImages(TImageList* Value) {
  if (Value == FImages) return;
  FImages = Value;
  Invalidate();
}

void TCustomTreeView::SetStateImages(TImageList* Value) {
  if (Value == FStateImages) return;
  FStateImages = Value;
  Invalidate();
}

void TCustomTreeView::SetScrollLeft(int32_t Value) {
  Value = std::max(0, Value);
  if (Value == FScrollLeft) return;
  FScrollLeft = Value;
  UpdateScrollBars();
  Invalidate();
  ViewMoved();
}

int32_t TCustomTreeView::VisibleRowCount() const {
  int32_t n = 0;
  for (TTreeNode* p = FItems->GetFirstNode(); p; p = p->GetNextVisible()) ++n;
  return n;
}

int32_t TCustomTreeView::RowOf(const TTreeNode* Node) const {
  int32_t row = 0;
  for (TTreeNode* p = FItems->GetFirstNode(); p; p = p->GetNextVisible(), ++row)
    if (p == Node) return row;
  return -1;
}

TTreeNode* TCustomTreeView::NodeAtRow(int32_t Row) const {
  if (Row < 0) return nullptr;
  int32_t row = 0;
  for (TTreeNode* p = FItems->GetFirstNode(); p; p = p->GetNextVisible(), ++row)
    if (row == Row) return p;
  return nullptr;
}

TTreeNode* TCustomTreeView::TopItem() const { return NodeAtRow(FTopRow); }

void TCustomTreeView::SetTopItem(TTreeNode* Value) {
  const int32_t row = RowOf(Value);
  if (row < 0 || row == FTopRow) return;
  FTopRow = row;
  UpdateScrollBars();
  Invalidate();
  ViewMoved();
}

TRect TCustomTreeView::RowRect(const TTreeNode* Node) const {
  const int32_t row = RowOf(Node);
  if (row < 0) return {};
  const int32_t h = RowHeight();
  const int32_t top = (row - FTopRow) * h;
  return {0, top, ClientWidth(), top + h};
}

int32_t TCustomTreeView::TextLeft(const TTreeNode* Node) const {
  int32_t left = (Node->Level() + (FShowRoot ? 1 : 0)) * FIndent - FScrollLeft;
  if (FStateImages && Node->StateIndex() >= 0) left += FStateImages->Width();
  if (FImages) left += FImages->Width() + 2;
  return left + 2;
}

TTreeNode* TCustomTreeView::GetNodeAt(int32_t X, int32_t Y) const {
  if (X < 0 || Y < 0 || X >= ClientWidth() || Y >= ClientHeight()) return nullptr;
  return NodeAtRow(FTopRow + Y / RowHeight());
}

void TCustomTreeView::FullExpand() {
  for (TTreeNode* p = FItems->GetFirstNode(); p; p = p->GetNext()) p->FExpanded = p->HasChildren();
  NodesChanged();
}

void TCustomTreeView::FullCollapse() {
  for (TTreeNode* p = FItems->GetFirstNode(); p; p = p->GetNext()) p->FExpanded = false;
  if (FSelected) {
    TTreeNode* top = FSelected;
    while (top->Parent()) top = top->Parent();
    if (top != FSelected) SetSelected(top);
  }
  NodesChanged();
}

void TCustomTreeView::MakeVisible(TTreeNode* Node) {
  const int32_t row = RowOf(Node);
  if (row < 0) return;
  const int32_t rows = std::max(1, ClientHeight() / RowHeight());
  if (row < FTopRow) FTopRow = row;
  else if (row >= FTopRow + rows) FTopRow = row - rows + 1;
}

void TCustomTreeView::NodesChanged() {
  const int32_t rows = std::max(1, ClientHeight() / std::max(1, RowHeight()));
  FTopRow = std::max(0, std::min(FTopRow, VisibleRowCount() - rows));
  UpdateScrollBars();
  Invalidate();
  ViewMoved();
}

void TCustomTreeView::UpdateScrollBars() {
  if (!HandleAllocated()) return;
  TScrollInfo info;
  info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
  info.nMin = 0;
  info.nMax = VisibleRowCount() - 1;
  info.nPage = static_cast<uint32_t>(std::max(1, ClientHeight() / RowHeight()));
  info.nPos = FTopRow;
  SetScrollInfo(SB_VERT, info, true);
}

void TCustomTreeView::Resize() {
  NodesChanged();
  TCustomControl::Resize();
}

void TCustomTreeView::WMVScroll(int32_t Code, int32_t Pos) {
  const int32_t rows = std::max(1, ClientHeight() / RowHeight());
  int32_t top = FTopRow;
  switch (Code) {
    case SB_LINEUP: --top; break;
    case SB_LINEDOWN: ++top; break;
    case SB_PAGEUP: top -= rows; break;
    case SB_PAGEDOWN: top += rows; break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: top = Pos; break;
    case SB_TOP: top = 0; break;
    case SB_BOTTOM: top = VisibleRowCount(); break;
    default: return;
  }
  top = std::max(0, std::min(top, VisibleRowCount() - rows));
  if (top == FTopRow) return;
  FTopRow = top;
  UpdateScrollBars();
  Invalidate();
  ViewMoved();
}

void TCustomTreeView::WMHScroll(int32_t Code, int32_t Pos) {
  switch (Code) {
    case SB_LINEUP: SetScrollLeft(FScrollLeft - 8); break;
    case SB_LINEDOWN: SetScrollLeft(FScrollLeft + 8); break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: SetScrollLeft(Pos); break;
    default: break;
  }
}

bool TCustomTreeView::ItemPrePaint(TCanvas* Canvas, TTreeNode* Node, TCustomDrawState State) {
  (void)Canvas;
  bool defaultDraw = true;
  if (OnCustomDrawItem) OnCustomDrawItem(this, Node, State, defaultDraw);
  return defaultDraw;
}

void TCustomTreeView::PaintRows(TCanvas* C, int32_t FirstRow, int32_t Origin, int32_t Bottom) {
  const int32_t h = RowHeight();
  const int32_t width = ClientWidth();
  int32_t row = 0;
  for (TTreeNode* node = FItems->GetFirstNode(); node; node = node->GetNextVisible(), ++row) {
    if (row < FirstRow) continue;
    const int32_t top = Origin + (row - FirstRow) * h;
    if (top >= Bottom) break;
    const TRect rowRect{0, top, width, top + h};
    TCustomDrawState state = 0;
    if (node == FSelected) state |= cdsSelected | (Focused() ? cdsFocused : 0);
    C->Font()->Assign(Font());
    C->Brush()->SetStyle(bsSolid);
    C->Brush()->SetColor(Color());
    C->FillRect(rowRect);
    const int32_t level = node->Level();
    const int32_t mid = top + h / 2;
    const int32_t buttonX = (level + (FShowRoot ? 0 : -1)) * FIndent + FIndent / 2 - FScrollLeft;
    if (FShowLines && (FShowRoot || level > 0)) {
      C->Pen()->SetColor(clGray);
      C->Pen()->SetStyle(psDot);
      C->MoveTo(buttonX, mid);
      C->LineTo(buttonX + FIndent / 2, mid);
      C->MoveTo(buttonX, top);
      C->LineTo(buttonX, node->GetNextSibling() ? top + h : mid);
      int32_t x = buttonX - FIndent;
      for (TTreeNode* p = node->Parent(); p && (FShowRoot || p->Parent()); p = p->Parent(), x -= FIndent)
        if (p->GetNextSibling()) {
          C->MoveTo(x, top);
          C->LineTo(x, top + h);
        }
      C->Pen()->SetStyle(psSolid);
    }
    if (FShowButtons && node->HasChildren() && (FShowRoot || level > 0)) {
      const TRect box{buttonX - 4, mid - 4, buttonX + 5, mid + 5};
      C->Brush()->SetColor(Color());
      C->Pen()->SetColor(clGray);
      C->Rectangle(box);
      C->Pen()->SetColor(clBlack);
      C->MoveTo(buttonX - 2, mid);
      C->LineTo(buttonX + 3, mid);
      if (!node->Expanded()) {
        C->MoveTo(buttonX, mid - 2);
        C->LineTo(buttonX, mid + 3);
      }
    }
    int32_t x = (level + (FShowRoot ? 1 : 0)) * FIndent - FScrollLeft;
    if (FStateImages && node->StateIndex() >= 0) {
      FStateImages->Draw(C, x, top + (h - FStateImages->Height()) / 2, node->StateIndex());
      x += FStateImages->Width();
    }
    if (FImages) {
      FImages->Draw(C, x, top + (h - FImages->Height()) / 2,
                    node == FSelected ? node->SelectedIndex() : node->ImageIndex());
    }
    if (ItemPrePaint(C, node, state)) {
      const std::string text = GetDisplayText(node);
      TRect tr{TextLeft(node), top, width, top + h};
      tr.Right = tr.Left + C->TextWidth(text) + 4;
      const bool showSel = (state & cdsSelected) && (Focused() || !FHideSelection);
      C->Brush()->SetColor(showSel ? clHighlight : Color());
      C->FillRect(tr);
      C->Font()->SetColor(showSel ? clHighlightText : Font()->Color());
      C->SetBkMode(TRANSPARENT);
      TRect t2{tr.Left + 2, tr.Top, tr.Right, tr.Bottom};
      C->DrawText(text, t2, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_LEFT);
      if (state & cdsFocused) C->DrawFocusRect(tr);
    }
    ItemPostPaint(C, node, state, rowRect);
  }
  const int32_t used = Origin + std::max(0, row - FirstRow) * h;
  if (used < Bottom) {
    C->Brush()->SetStyle(bsSolid);
    C->Brush()->SetColor(Color());
    C->FillRect({0, used, width, Bottom});
  }
}

void TCustomTreeView::Paint() { PaintRows(Canvas(), FTopRow, 0, ClientHeight()); }

void TCustomTreeView::PaintTo(TCanvas* C) { PaintRows(C, FTopRow, 0, ClientHeight()); }

void TCustomTreeView::MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
  if (CanFocus() && !Focused()) SetFocus();
  if (Button == mbLeft) {
    if (TTreeNode* node = GetNodeAt(X, Y)) {
      const int32_t level = node->Level();
      const int32_t buttonX = (level + (FShowRoot ? 0 : -1)) * FIndent - FScrollLeft;
      if (node->HasChildren() && X >= buttonX && X < buttonX + FIndent && (FShowRoot || level > 0)) {
        node->SetExpanded(!node->Expanded());
      } else {
        SetSelected(node);
      }
      if (Shift & ssDouble) node->SetExpanded(!node->Expanded());
    }
  }
  TCustomControl::MouseDown(Button, Shift, X, Y);
}

void TCustomTreeView::KeyPress(TKeyChar& Key) {
  TCustomControl::KeyPress(Key);
  if (Key < 32 || Key == 127 || !FItems->GetFirstNode()) return;
  const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now().time_since_epoch()).count();
  if (now - FSearchTime > TreeSearchPause) FSearch.clear();
  FSearchTime = now;
  FSearch += Key;
  const bool same = std::all_of(FSearch.begin(), FSearch.end(), [&](char32_t c) { return c == FSearch[0]; });
  // A new prefix, or one letter repeated, looks past the selected node; a longer prefix may
  // keep it.
  const bool next = FSearch.size() == 1 || same;
  // Both sides composed alike: an accent stored as a combining mark matches the accented
  // letter typed.
  const QString prefix = (same ? QString::fromUcs4(FSearch.data(), 1)
                               : QString::fromUcs4(FSearch.data(), static_cast<qsizetype>(FSearch.size())))
                             .normalized(QString::NormalizationForm_C);
  TTreeNode* n = FItems->GetFirstNode();
  if (FSelected && FSelected->IsVisible()) n = next ? FSelected->GetNextVisible() : FSelected;
  // Every shown row once, wrapping at the end.
  for (int32_t rows = VisibleRowCount(); rows > 0; --rows) {
    if (!n) n = FItems->GetFirstNode();
    QString text = QString::fromStdString(GetDisplayText(n)).normalized(QString::NormalizationForm_C);
    // Blanks before a row's first letter are not seen: the search starts at what is. A line
    // end is kept: what follows it is on a line of its own.
    if (!prefix.front().isSpace()) {
      qsizetype lead = 0;
      while (lead < text.size() && text[lead].isSpace() && text[lead] != u'\r' && text[lead] != u'\n') ++lead;
      text.remove(0, lead);
    }
    if (text.startsWith(prefix, Qt::CaseInsensitive)) {
      SetSelected(n);
      return;
    }
    n = n->GetNextVisible();
  }
}

bool TCustomTreeView::WantSpecialKey(Word Key, TShiftState Shift) {
  if (Key == VK_UP || Key == VK_DOWN || Key == VK_LEFT || Key == VK_RIGHT) return true;
  return TCustomControl::WantSpecialKey(Key, Shift);
}

void TCustomTreeView::KeyDown(Word& Key, TShiftState Shift) {
  TCustomControl::KeyDown(Key, Shift);
  if (Key == 0) return;
  TTreeNode* sel = FSelected;
  const int32_t rows = std::max(1, ClientHeight() / RowHeight());
  switch (Key) {
    case VK_UP:
      if (!sel) SetSelected(FItems->GetFirstNode());
      else if (TTreeNode* p = sel->GetPrevVisible()) SetSelected(p);
      break;
    case VK_DOWN:
      if (!sel) SetSelected(FItems->GetFirstNode());
      else if (TTreeNode* n = sel->GetNextVisible()) SetSelected(n);
      break;
    case VK_HOME: SetSelected(FItems->GetFirstNode()); break;
    case VK_END: SetSelected(NodeAtRow(VisibleRowCount() - 1)); break;
    case VK_PRIOR:
      if (sel) SetSelected(NodeAtRow(std::max(0, RowOf(sel) - rows + 1)));
      break;
    case VK_NEXT:
      if (sel) SetSelected(NodeAtRow(std::min(VisibleRowCount() - 1, RowOf(sel) + rows - 1)));
      break;
    case VK_LEFT:
      if (sel) {
        if (sel->Expanded() && sel->HasChildren()) sel->SetExpanded(false);
        else if (sel->Parent()) SetSelected(sel->Parent());
      }
      break;
    case VK_RIGHT:
      if (sel && sel->HasChildren()) {
        if (!sel->Expanded()) sel->SetExpanded(true);
        else SetSelected(sel->GetFirstChild());
      }
      break;
    case VK_BACK:
      // To the parent, as the tree controls of the desktop do; the typed prefix starts anew.
      FSearch.clear();
      if (sel && sel->Parent()) SetSelected(sel->Parent());
      break;
    case VK_ADD:
      if (sel) sel->SetExpanded(true);
      break;
    case VK_SUBTRACT:
      if (sel) sel->SetExpanded(false);
      break;
    default: return;
  }
  Key = 0;
}

}  // namespace platform

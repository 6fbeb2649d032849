// The class library's tree view: nodes kept in a tree with the class library's semantics
// (AbsoluteIndex counts depth first, OnChanging is asked before the selection moves, OnClick
// fires for a click anywhere on the control), drawn by the control itself on its canvas with
// hooks for owner drawing: the text the control shows for a node, an item pre-paint stage that
// may hide that text, and an item post-paint stage that paints over it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Controls.h"

namespace platform {

class TCanvas;
class TCustomTreeView;
class TImageList;
class TTreeNodes;

class TTreeNode : public TObject {
 public:
  TTreeNode(TTreeNodes* AOwner, TTreeNode* AParent);
  ~TTreeNode() override;
  std::string ClassName() const override { return "TTreeNode"; }

  const std::string& Text() const { return FText; }
  void SetText(const std::string& Value);
  void* Data() const { return FData; }
  void SetData(void* Value) { FData = Value; }
  int32_t ImageIndex() const { return FImageIndex; }
  void SetImageIndex(int32_t Value);
  int32_t SelectedIndex() const { return FSelectedIndex; }
  void SetSelectedIndex(int32_t Value) { FSelectedIndex = Value; }
  int32_t StateIndex() const { return FStateIndex; }
  void SetStateIndex(int32_t Value) { FStateIndex = Value; }

  TTreeNode* Parent() const { return FParent; }
  TTreeNodes* Owner() const { return FOwner; }
  TCustomTreeView* TreeView() const;
  // 0 for a top-level node.
  int32_t Level() const;
  // Position among its siblings.
  int32_t Index() const;
  // Position in the depth-first order of the whole tree.
  int32_t AbsoluteIndex() const;
  int32_t Count() const { return static_cast<int32_t>(FChildren.size()); }
  bool HasChildren() const { return !FChildren.empty(); }
  TTreeNode* Item(int32_t Index) const;
  TTreeNode* GetFirstChild() const { return FChildren.empty() ? nullptr : FChildren.front().get(); }
  TTreeNode* GetLastChild() const { return FChildren.empty() ? nullptr : FChildren.back().get(); }
  // The next node depth first (children, then siblings, then the parents' siblings).
  TTreeNode* GetNext() const;
  TTreeNode* GetPrev() const;
  TTreeNode* GetNextSibling() const;
  TTreeNode* GetPrevSibling() const;
  // The next node a user can see (all parents expanded).
  TTreeNode* GetNextVisible() const;
  TTreeNode* GetPrevVisible() const;
  bool IsVisible() const;

  bool Expanded() const { return FExpanded; }
  void SetExpanded(bool Value);
  void Expand(bool Recurse);
  void Collapse(bool Recurse);
  bool Selected() const;
  void SetSelected(bool Value);
  bool Focused() const { return Selected(); }
  // Text only: the rectangle of the caption; else the whole row. Empty when not visible.
  TRect DisplayRect(bool TextOnly) const;
  // Removes the node (and its children) from the tree and frees it.
  void Delete();

 private:
  friend class TTreeNodes;
  friend class TCustomTreeView;
  TTreeNodes* FOwner;
  TTreeNode* FParent;
  std::string FText;
  void* FData = nullptr;
  int32_t FImageIndex = 0;
  int32_t FSelectedIndex = 0;
  int32_t FStateIndex = -1;
  bool FExpanded = false;
  std::vector<std::unique_ptr<TTreeNode>> FChildren;
};

class TTreeNodes : public TObject {
 public:
  explicit TTreeNodes(TCustomTreeView* AOwner) : FOwner(AOwner) {}
  ~TTreeNodes() override;
  std::string ClassName() const override { return "TTreeNodes"; }
  TCustomTreeView* Owner() const { return FOwner; }
  // A new last sibling of Sibling (top level when Sibling is nullptr).
  TTreeNode* Add(TTreeNode* Sibling, const std::string& S);
  TTreeNode* AddFirst(TTreeNode* Sibling, const std::string& S);
  // A new last child of Parent (top level when Parent is nullptr).
  TTreeNode* AddChild(TTreeNode* Parent, const std::string& S);
  TTreeNode* AddChildFirst(TTreeNode* Parent, const std::string& S);
  // Node Index in depth-first order; raises EListError "Tree view index out of bounds (%d)".
  TTreeNode* Item(int32_t Index) const;
  int32_t Count() const;
  TTreeNode* GetFirstNode() const { return FRoots.empty() ? nullptr : FRoots.front().get(); }
  void Delete(TTreeNode* Node);
  void Clear();
  void BeginUpdate();
  void EndUpdate();
  const std::vector<std::unique_ptr<TTreeNode>>& Roots() const { return FRoots; }

 private:
  friend class TTreeNode;
  TTreeNode* Insert(TTreeNode* Parent, size_t Position, const std::string& S);
  std::vector<std::unique_ptr<TTreeNode>>& SiblingsOf(TTreeNode* Parent);
  void Changed();
  TCustomTreeView* FOwner;
  std::vector<std::unique_ptr<TTreeNode>> FRoots;
  int32_t FUpdateCount = 0;
};

// Item states of the custom-draw stages.
using TCustomDrawState = uint32_t;
constexpr TCustomDrawState cdsSelected = 0x0001;
constexpr TCustomDrawState cdsFocused = 0x0010;
constexpr TCustomDrawState cdsHot = 0x0040;

using TTVChangingEvent = std::function<void(TObject* Sender, TTreeNode* Node, bool& AllowChange)>;
using TTVChangedEvent = std::function<void(TObject* Sender, TTreeNode* Node)>;
using TTVExpandingEvent = std::function<void(TObject* Sender, TTreeNode* Node, bool& AllowExpansion)>;
using TTVExpandedEvent = std::function<void(TObject* Sender, TTreeNode* Node)>;
using TTVCustomDrawItemEvent =
    std::function<void(TObject* Sender, TTreeNode* Node, TCustomDrawState State, bool& DefaultDraw)>;

class TCustomTreeView : public TCustomControl {
 public:
  explicit TCustomTreeView(TComponent* AOwner);
  ~TCustomTreeView() override;
  std::string ClassName() const override { return "TCustomTreeView"; }

  TTreeNodes* Items() const { return FItems.get(); }
  TTreeNode* Selected() const { return FSelected; }
  // Asks OnChanging first; a refused change keeps the old selection.
  void SetSelected(TTreeNode* Value);
  TTreeNode* TopItem() const;
  void SetTopItem(TTreeNode* Value);
  // The node on the row at client point (X, Y), nullptr for none.
  TTreeNode* GetNodeAt(int32_t X, int32_t Y) const;
  void FullExpand();
  void FullCollapse();

  int32_t Indent() const { return FIndent; }
  void SetIndent(int32_t Value);
  // Row height in pixels (TVM_SETITEMHEIGHT); values below 1 choose the font's height + 2.
  int32_t RowHeight() const;
  void SetRowHeight(int32_t Value);
  bool ShowButtons() const { return FShowButtons; }
  void SetShowButtons(bool Value);
  bool ShowLines() const { return FShowLines; }
  void SetShowLines(bool Value);
  bool ShowRoot() const { return FShowRoot; }
  void SetShowRoot(bool Value);
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool Value) { FReadOnly = Value; }
  bool ToolTips() const { return FToolTips; }
  void SetToolTips(bool Value) { FToolTips = Value; }
  bool HideSelection() const { return FHideSelection; }
  void SetHideSelection(bool Value);
  TImageList* Images() const { return FImages; }
  void SetImages(TImageList* Value);
  TImageList* StateImages() const { return FStateImages; }
  void SetStateImages(TImageList* Value);
  // Horizontal scroll position in pixels.
  int32_t ScrollLeft() const { return FScrollLeft; }
  void SetScrollLeft(int32_t Value);
  // Number of rows of expanded nodes.
  int32_t VisibleRowCount() const;
  // Client-area rectangle of a node's row (left edge at the client's left), empty if hidden.
  TRect RowRect(const TTreeNode* Node) const;
  // Left edge of a node's caption in client coordinates.
  int32_t TextLeft(const TTreeNode* Node) const;
  // Paints the whole tree on Canvas with its top-left at the client's origin (offscreen use).
  void PaintTo(TCanvas* Canvas);

  TTVChangingEvent OnChanging;
  TTVChangedEvent OnChange;
  TTVExpandingEvent OnExpanding;
  TTVExpandedEvent OnExpanded;
  TTVExpandingEvent OnCollapsing;
  TTVExpandedEvent OnCollapsed;
  TTVCustomDrawItemEvent OnCustomDrawItem;
  TTVChangedEvent OnDeletion;

 protected:
  friend class TTreeNode;
  friend class TTreeNodes;
  virtual bool CanChange(TTreeNode* Node);
  virtual void Change(TTreeNode* Node);
  virtual bool CanExpand(TTreeNode* Node);
  virtual bool CanCollapse(TTreeNode* Node);
  virtual void Delete(TTreeNode* Node);
  // The text the control paints and searches for a node (TVN_GETDISPINFO).
  virtual std::string GetDisplayText(TTreeNode* Node) { return Node->Text(); }
  // Item pre-paint: false hides the control's own text for the item.
  virtual bool ItemPrePaint(TCanvas* Canvas, TTreeNode* Node, TCustomDrawState State);
  // Item post-paint: the row is painted; owners draw over it.
  virtual void ItemPostPaint(TCanvas* Canvas, TTreeNode* Node, TCustomDrawState State, const TRect& Row) {
    (void)Canvas, (void)Node, (void)State, (void)Row;
  }
  void Paint() override;
  void MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
  void KeyDown(Word& Key, TShiftState Shift) override;
  // Typed letters select the next shown node whose text begins with them: letters typed in
  // quick succession extend the prefix, a pause starts a new one, and one letter typed again
  // and again steps through the nodes beginning with it.
  void KeyPress(TKeyChar& Key) override;
  bool WantSpecialKey(Word Key, TShiftState Shift) override;
  void WMVScroll(int32_t Code, int32_t Pos) override;
  void WMHScroll(int32_t Code, int32_t Pos) override;
  void Resize() override;
  void NodesChanged();
  // Rows may have moved under a resting pointer: scrolled, expanded, collapsed, added or removed.
  virtual void ViewMoved() {}
  void UpdateScrollBars();

 private:
  void PaintRows(TCanvas* Canvas, int32_t FirstRow, int32_t Origin, int32_t Bottom);
  int32_t RowOf(const TTreeNode* Node) const;
  TTreeNode* NodeAtRow(int32_t Row) const;
  void MakeVisible(TTreeNode* Node);
  void NodeRemoved(TTreeNode* Node);

  std::unique_ptr<TTreeNodes> FItems;
  TTreeNode* FSelected = nullptr;
  int32_t FTopRow = 0;
  int32_t FScrollLeft = 0;
  int32_t FIndent = 19;
  int32_t FRowHeight = 0;
  bool FShowButtons = true;
  bool FShowLines = true;
  bool FShowRoot = true;
  bool FReadOnly = false;
  bool FToolTips = true;
  bool FHideSelection = true;
  TImageList* FImages = nullptr;
  TImageList* FStateImages = nullptr;
  std::u32string FSearch;
  int64_t FSearchTime = 0;  // milliseconds of a steady clock, at the last typed letter
};

// Longest pause between letters of one keyboard search, in milliseconds.
constexpr int64_t TreeSearchPause = 1000;

class TTreeView : public TCustomTreeView {
 public:
  using TCustomTreeView::TCustomTreeView;
  std::string ClassName() const override { return "TTreeView"; }
};

}  // namespace platform

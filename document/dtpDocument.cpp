// The document's pages, notifications, brackets, undo recording and property setters.
#include "document/dtpDocument.h"
#include "platform/Menus.h"

#include <algorithm>
#include <set>
#include <cstdio>

#include "document/SingleFileStorage.h"
#include "platform/ExtCtrls.h"
#include "platform/Forms.h"
#include "platform/SysUtils.h"

namespace document {

using namespace platform;

namespace {
constexpr int32_t cUndoLimit = 0xA00001;  // the oldest records go while the total reaches it
}

TdtpDocument::TdtpDocument(TComponent* AOwner) : TVirtScrollBox(AOwner) {
  FTimer = std::make_unique<TTimer>(nullptr);
  FTimer->SetInterval(50);
  FTimer->OnTimer = [this](TObject* Sender) { TimerTick(Sender); };
  FTimer->SetEnabled(true);
  // Text shapes and memos being edited take composed text (dead keys) as typed characters.
  SetInputMethodEnabled(true);
  SetDefaults();
  LockUndo();
  try {
    AddPage(nullptr);
  } catch (...) {
    UnlockUndo();
    throw;
  }
  UnlockUndo();
  SetModified(false);
}

TdtpDocument::~TdtpDocument() {
  FTimer.reset();
  FHintTimer.reset();
  FHintWindow.reset();
  FArchive.reset();
  FUndoList.clear();
  FSecondList.clear();
  // Pages go before the control so that their last notifications find a whole document.
  FFocusShape = FEditedShape = FHotShape = FHintShape = nullptr;
  OnShapeDestroy = nullptr;
  OnPageChanged = nullptr;
  OnShapeChanged = nullptr;
  FPages.clear();
  FDefaultBgrImage.reset();
}

void TdtpDocument::SetDefaults() {
  FAllowKeyInput = true;
  FArchiveDirect = false;
  FAutoPageUpdate = false;
  FAutoWidth = true;
  FDefaultGridColor = 0xFFFFC0;
  FDefaultGridSize = 5;
  FDefaultMarginBottom = FDefaultMarginLeft = FDefaultMarginRight = FDefaultMarginTop = 10;
  FDefaultPageColor = 0xFFFFFF;
  FDefaultPageHeight = 297;
  FDefaultPageWidth = 210;
  FHandleColor = 0xFFFFFF;
  FHandleEdgeColor = 0;
  FNudgeScale = 1.0f;
  FNudgeOffsets = MakeNudgeOffsets(FNudgeScale);
  FUseSystemClipboard = true;
  FHelperMethod = hmNone;
  FHintHidePause = 2500;
  FHintPause = 500;
  FHintShortPause = 50;
  FHotZoneScrolling = hzsNoScroll;
  FMode = vmEdit;
  FMultiSelectMethod = msmSimple;
  FPrintQuality = pqLow;
  FQuality = raster::sfLinear2;
  FReadOnly = false;
  FRenderAtScreenRes = false;
  FShowMargins = true;
  FSnapToGrid = false;
  FStepAngle = 0;
  FStoreThumbnails = true;
  FThumbnailHeight = 60;
  FThumbnailWidth = 80;
  FUndoEnabled = true;
  FUndoPastSave = false;
  FViewStyle = vsPrintLayout;
  FZoomPercent = 100;
  FRenderDpm = cDefaultDpm;
  FScreenDpm = cDefaultDpm;
  FDefaultBgrImage.reset();
  FDefaultBgrTiled = false;
  FModified = true;
  FIdleInterval = 2000;
}

// --- pages ---------------------------------------------------------------------------

TdtpPage* TdtpDocument::GetPage(int32_t Index) const {
  if (Index < 0 || Index >= GetPageCount()) return nullptr;
  return FPages[size_t(Index)].get();
}

int32_t TdtpDocument::IndexOfPage(const TdtpPage* Page) const {
  for (size_t i = 0; i < FPages.size(); ++i)
    if (FPages[i].get() == Page) return int32_t(i);
  return -1;
}

int32_t TdtpDocument::AddPage(std::unique_ptr<TdtpPage> Page) {
  // A page held by a shape leaves it first, as any child moved elsewhere does.
  if (TdtpShape* parent = Page ? Page->ParentShape() : nullptr; parent && parent->IndexOfShape(Page.get()) >= 0) {
    std::unique_ptr<TdtpShape> taken = parent->ExtractShape(Page.release());
    if (!taken) return -1;
    Page.reset(static_cast<TdtpPage*>(taken.release()));
  }
  // A page still listed by a document leaves it first; that document owns it meanwhile.
  if (auto* old = Page ? dynamic_cast<TdtpDocument*>(Page->Document()) : nullptr; old && old->IndexOfPage(Page.get()) >= 0) {
    TdtpPage* raw = Page.release();
    Page = old->TakePage(raw);
    if (!Page) return -1;
  }
  if (!Page) {
    Page = NewShape<TdtpPage>();
    Page->SetDocBounds(0, 0, FDefaultPageWidth, FDefaultPageHeight);
  }
  TdtpPage* p = Page.get();
  FPages.push_back(std::move(Page));
  p->SetDocument(this);
  if (!CurrentPage()) SetCurrentPageIndex(GetPageCount() - 1);
  ShapeChanged(p);
  PageChanged(p);
  return IndexOfPage(p);
}

void TdtpDocument::SetPageCount(int32_t N) {
  if (N < 0 || N > 25) throw Exception("Invalid page count");
  while (GetPageCount() < N) AddPage(nullptr);
  while (GetPageCount() > N) DeletePage(GetPageCount() - 1);
}

void TdtpDocument::SetCurrentPageIndex(int32_t Index) {
  TdtpPage* page = GetPage(Index);
  if (Index != FCurrentPageIndex) {
    // An edit or drag belongs to the page shown: turning to another page keeps what was typed
    // and ends it, so keys and the mouse no longer reach a shape out of view.
    if (FDragState == 5 && FEditedShape) {
      TdtpShape* root = FEditedShape;
      while (root->ParentShape()) root = root->ParentShape();
      if (root != page) EndShapeEdit(true);
    }
    if (FDragState == 1 || FDragState == 2) SetDragState(0);
  }
  if (page && !page->Loaded()) LoadPage(Index);
  TdtpPage* old = CurrentPage();
  PageChanged(old);
  if (Index == FCurrentPageIndex) return;
  if (old) old->FreeBuffersAll();
  FCurrentPageIndex = Index;
  UpdateLayout();
  Invalidate();
  SetFocusShape(nullptr);
  PageChanged(CurrentPage());
}

// --- modified state and notifications -----------------------------------------------

void TdtpDocument::SetModified(bool Value) {
  FLastChange = GetTickCount();
  if (Value == FModified) return;
  FModified = Value;
  if (!Value)
    for (auto& p : FPages) p->SetModified(false);
}

void TdtpDocument::DocumentChanged() {
  SetModified(true);
  if (OnDocumentChanged) OnDocumentChanged(this);
}

void TdtpDocument::ShapeChanged(TdtpShape* Shape) {
  SetModified(true);
  if (FUpdateCount > 0) {
    FPendingShape = true;
    return;
  }
  FPendingShape = false;
  if (OnShapeChanged) OnShapeChanged(this, Shape);
}

void TdtpDocument::SelectionChanged() {
  if (FUpdateCount > 0) {
    FPendingSelection = true;
    return;
  }
  FPendingSelection = false;
  if (OnSelectionChanged) OnSelectionChanged(this);
}

void TdtpDocument::SetFocusShape(TdtpShape* Shape) {
  if (Shape == FFocusShape) return;
  FFocusShape = Shape;
  if (FUpdateCount > 0) {
    FPendingFocus = true;
    return;
  }
  FPendingFocus = false;
  if (OnFocusShape) OnFocusShape(this, Shape);
}

void TdtpDocument::ShapeDestroyed(TdtpShape* Shape) {
  if (Shape == FFocusShape) SetFocusShape(nullptr);
  if (Shape == FEditedShape) {
    FEditedShape = nullptr;
    if (FDragState == 5) FDragState = 0;
  }
  if (Shape == FInsertedShape) FInsertedShape = nullptr;
  if (Shape == FHotShape) FHotShape = nullptr;
  if (FCopiedFrom && Shape == static_cast<TdtpShape*>(FCopiedFrom)) FCopiedFrom = nullptr;
  if (Shape == FHintShape) StopShapeHint(), FHintShape = nullptr;
  if (OnShapeDestroy) OnShapeDestroy(this, Shape);
}

void TdtpDocument::PageChanged(TdtpPage* Page) {
  if (OnPageChanged) OnPageChanged(this, Page);
}
void TdtpDocument::ShapeEditClosed(TdtpShape* Shape) {
  if (OnShapeEditClosed) OnShapeEditClosed(this, Shape);
}
void TdtpDocument::ShapeInsertClosed(TdtpShape* Shape) {
  if (OnShapeInsertClosed) OnShapeInsertClosed(this, Shape);
}
void TdtpDocument::ShapeLoadAdditionalInfo(TdtpShape* Shape, TXmlNode* Node) {
  if (OnShapeLoadAdditionalInfo) OnShapeLoadAdditionalInfo(this, Shape, Node);
}
void TdtpDocument::ShapeSaveAdditionalInfo(TdtpShape* Shape, TXmlNode* Node) {
  if (OnShapeSaveAdditionalInfo) OnShapeSaveAdditionalInfo(this, Shape, Node);
}
void TdtpDocument::PaintBackground(TCanvas* Canvas, const TRect& R) {
  if (OnPaintBackground) OnPaintBackground(this, Canvas, R);
}
void TdtpDocument::PaintForeground(TCanvas* Canvas, const TRect& R) {
  if (OnPaintForeground) OnPaintForeground(this, Canvas, R);
}

void TdtpDocument::BeginUpdate() { ++FUpdateCount; }

void TdtpDocument::EndUpdate() {
  --FUpdateCount;
  if (FUpdateCount < 0) {
    FUpdateCount = 0;
    throw Exception("dtpDocument: EndUpdate called too many times");
  }
  if (FUpdateCount > 0) return;
  if (FPendingShape) ShapeChanged(nullptr);
  if (FPendingSelection) SelectionChanged();
  if (FPendingFocus) {
    FPendingFocus = false;
    if (OnFocusShape) OnFocusShape(this, FFocusShape);
  }
}

// --- undo recording ------------------------------------------------------------------

void TdtpDocument::SetUndoEnabled(bool Value) {
  if (Value == FUndoEnabled) return;
  FUndoEnabled = Value;
  if (!Value) ClearUndo();
}

void TdtpDocument::BeginUndo() {
  ++FUndoBracket;
  BeginUpdate();
}

void TdtpDocument::EndUndo() {
  --FUndoBracket;
  if (FUndoBracket == 0) FBracketHasCommand = false;
  if (FUndoBracket >= 0) {
    EndUpdate();
    return;
  }
  FUndoBracket = 0;
  throw Exception("dtpDocument: EndUndo called more often than BeginUndo");
}

void TdtpDocument::AddUndo(std::unique_ptr<TdtpCommand> Command) {
  if (!Command || !UndoEnabled()) return;
  if (FUndoBracket > 0) {
    if (FBracketHasCommand) Command->Grouped = true;
    FBracketHasCommand = true;
  }
  if (Command->Kind == 0 && !FUndoList.empty()) {
    const TdtpCommand* last = FUndoList.back().get();
    if (last->Kind == 0 && last->Target == Command->Target && last->Name == Command->Name) return;
  }
  FUndoBytes += Command->GetSize();
  FUndoList.push_back(std::move(Command));
  while (FUndoBytes >= cUndoLimit && !FUndoList.empty()) {
    FUndoBytes -= FUndoList.front()->GetSize();
    FUndoList.erase(FUndoList.begin());
    ++FUndoDropped;
  }
}

// Putting a rejected edit back went through the change notifications, which marked the shape,
// its parents and the document modified. A flag that was clear is cleared again, outermost
// first: clearing a shape clears what it contains, and nothing in it was modified before.
void TdtpDocument::RestoreEditModified(TdtpShape* Shape) {
  std::vector<std::pair<TdtpShape*, bool>> before = std::move(FEditShapesModified);
  FEditShapesModified.clear();
  size_t i = 0;
  for (TdtpShape* s = Shape; s; s = s->ParentShape(), ++i)
    if (i >= before.size() || before[i].first != s) return;  // moved meanwhile: leave the flags
  if (i != before.size()) return;
  if (!FEditDocModified) SetModified(false);
  for (auto it = before.rbegin(); it != before.rend(); ++it)
    if (!it->second) {
      it->first->SetModified(false);
      return;
    }
}

size_t TdtpDocument::UndoPosition(const TUndoMark& Mark) const {
  const uint64_t dropped = FUndoDropped - Mark.Dropped;
  return std::min(dropped >= Mark.Count ? 0 : size_t(Mark.Count - dropped), FUndoList.size());
}

void TdtpDocument::TrimUndo(const TUndoMark& From, const TUndoMark* To,
                            const std::function<bool(const TdtpCommand&)>& Take) {
  const size_t first = UndoPosition(From), last = To ? std::max(first, UndoPosition(*To)) : FUndoList.size();
  std::vector<std::unique_ptr<TdtpCommand>> kept;
  // A kept command stays grouped with the one before the commands taken in front of it only
  // when all of them were grouped: otherwise its group began among them and now begins with it.
  bool takenBefore = false, takenAllGrouped = true;
  for (size_t i = first; i < last; ++i) {
    std::unique_ptr<TdtpCommand>& c = FUndoList[i];
    if (!Take || Take(*c)) {
      takenAllGrouped = (takenBefore ? takenAllGrouped : true) && c->Grouped;
      takenBefore = true;
      FUndoBytes -= c->GetSize();
      if (FReplaying > 0) FTrimmedWhileReplaying.push_back(std::move(c));
      continue;
    }
    if (takenBefore) c->Grouped = c->Grouped && takenAllGrouped;
    takenBefore = false;
    kept.push_back(std::move(c));
  }
  FUndoList.erase(FUndoList.begin() + std::ptrdiff_t(first), FUndoList.begin() + std::ptrdiff_t(last));
  FUndoList.insert(FUndoList.begin() + std::ptrdiff_t(first), std::make_move_iterator(kept.begin()),
                   std::make_move_iterator(kept.end()));
}

void TdtpDocument::AddSecondCommand(std::unique_ptr<TdtpCommand> Command) {
  if (Command) FSecondList.push_back(std::move(Command));
}

void TdtpDocument::ClearUndo() {
  FUndoDropped += FUndoList.size();
  FUndoList.clear();
  FSecondList.clear();
  FUndoBytes = 0;
}

// --- busy state, progress, printing bracket -----------------------------------------

void TdtpDocument::CheckNotBusy() const {
  if (IsBusy()) throw Exception("Working already");
}

void TdtpDocument::BeginBusy(TCursor Cursor) {
  SetViewCursor(Cursor);
  ++FBusy;
  ShowBusyCursor();
}

void TdtpDocument::EndBusy() {
  if (FBusy > 0) --FBusy;
  if (FBusy == 0) SetViewCursor(Cursor());
}

// The view's cursors show over the view alone: one left set for the whole program would stay
// when the mouse moves on. Only the busy cursor shows everywhere, while the work lasts.
void TdtpDocument::SetViewCursor(int32_t Id) {
  if (IsBusy() && Cursor() != crDefault && !(Id == crHourGlass && Cursor() == crAppStart)) return;
  FViewCursor = TCursor(Id);
  ShowCursor(FViewCursor);
  ShowBusyCursor();
}

void TdtpDocument::ShowBusyCursor() {
  const bool show = IsBusy() && FViewCursor != Cursor();
  if (!show && !FBusyCursorShown) return;
  Screen()->SetCursor(show ? FViewCursor : crDefault);
  FBusyCursorShown = show;
}

void TdtpDocument::DoProgress(int32_t AType, int32_t ACount, int32_t ATotal, float APercent) {
  FProgressCount = ACount;
  FProgressTotal = ATotal;
  if (OnProgress) OnProgress(this, AType, ACount, ATotal, APercent);
}

void TdtpDocument::EndPrinting() {
  --FPrinting;
  if (FPrinting < 0) {
    FPrinting = 0;
    throw Exception("dtpDocument: EndPrinting called more often than BeginPrinting");
  }
}

// --- editing hooks -------------------------------------------------------------------

void TdtpDocument::EndShapeEdit(bool Accept) { FinishShapeEdit(Accept); }

bool TdtpDocument::EndEditBeforeRemoval(TdtpShape* Shape, bool Accept) {
  TdtpShape* s = FEditedShape;
  // A shape ending its edit may remove itself: that removal goes ahead as it is.
  if (!s || !Shape || FEndingEdit) return false;
  bool inside = false;
  for (TdtpShape* p = s; p && !inside; p = p->ParentShape()) inside = p == Shape;
  if (!inside) return false;
  return FinishShapeEdit(Accept) && s == Shape;
}

bool TdtpDocument::FinishShapeEdit(bool Accept) {
  TdtpShape* s = FEditedShape;
  if (FDragState == 5) FDragState = 0;
  if (!s) return false;
  const bool inserted = s == FInsertedShape;
  FInsertedShape = nullptr;
  TdtpShape* parent = s->ParentShape();
  const bool savedDuringEdit = FSavedDuringEdit;
  FSavedDuringEdit = false;
  ShapeEditClosed(s);
  // The edit's own records: those of the shape and what it holds, and whatever ending it records.
  std::set<int32_t> ids;
  std::vector<TdtpShape*> todo{s};
  while (!todo.empty()) {
    TdtpShape* t = todo.back();
    todo.pop_back();
    ids.insert(t->ShapeId());
    for (int32_t i = 0; i < t->GetShapeCount(); ++i) todo.push_back(t->GetShape(i));
  }
  const TUndoMark endMark = UndoMark();
  {
    struct TEnding {
      bool& Flag;
      bool Saved;
      ~TEnding() { Flag = Saved; }
    } ending{FEndingEdit, FEndingEdit};
    FEndingEdit = true;
    s->EndEdit(Accept);
  }
  // A rejected edit put its shape back as it was; what it recorded meanwhile must not stay
  // undoable. A new shape that its first edit removed (rejected, or left empty) takes its
  // placing and the modified state it caused along; any other shape removed keeps its
  // records, the removal included.
  // Commands other shapes recorded while the edit ran (a host changing them meanwhile) stay.
  const bool removed = FEditedShape != s;
  auto own = [&ids](const TdtpCommand& C) { return ids.count(C.Target) > 0; };
  if (!Accept && !removed) {
    TrimUndo(endMark);
    TrimUndo(FEditUndoMark, &endMark, own);
    RestoreEditModified(s);
  } else if (removed && inserted) {
    // The placing and the removal go together, unless other shapes changed meanwhile: their
    // records may address children by an index that counted the new shape, so then the
    // placing, those records and the removal all stay and undo in order.
    bool others = false;
    for (size_t i = UndoPosition(FEditUndoMark); i < UndoPosition(endMark) && !others; ++i) others = !own(*FUndoList[i]);
    if (!others) {
      TrimUndo(FInsertUndoMark);
      // Nothing else changed while the shape was in the document.
      if (!FInsertDocModified) SetModified(false);
    }
  }
  if (savedDuringEdit && (!Accept || removed)) {
    // The file holds what is now taken back: the next save must write it.
    if (!removed)
      s->SetModified(true);
    else if (parent)
      parent->SetModified(true);
    else
      SetModified(true);
  }
  FEditedShape = nullptr;
  return removed;
}

void TdtpDocument::ClearSelection() {
  TdtpPage* page = CurrentPage();
  BeginUpdate();
  try {
    if (page)
      for (int32_t i = 0; i < page->GetShapeCount(); ++i) page->GetShape(i)->SetSelected(false);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

// --- property setters ----------------------------------------------------------------

void TdtpDocument::DefaultsChanged() {
  DocumentChanged();
  Invalidate();
}

void TdtpDocument::SetPageDefaultSize(bool Width, float V) {
  if (Width)
    FDefaultPageWidth = V;
  else
    FDefaultPageHeight = V;
  for (auto& p : FPages) {
    // Whether a page takes the defaults is known once it is read.
    p->EnsureLoaded();
    if (p->IsDefaultPage()) {
      if (Width)
        p->SetPageWidth(V);
      else
        p->SetPageHeight(V);
    }
  }
  DefaultsChanged();
}

void TdtpDocument::SetDefaultPageWidth(float V) {
  if (V != FDefaultPageWidth) SetPageDefaultSize(true, V);
}
void TdtpDocument::SetDefaultPageHeight(float V) {
  if (V != FDefaultPageHeight) SetPageDefaultSize(false, V);
}

#define KD_DOC_SETTER(Name, Type, Field) \
  void TdtpDocument::Set##Name(Type V) { \
    if (V == Field) return;              \
    Field = V;                           \
    DefaultsChanged();                   \
  }
KD_DOC_SETTER(DefaultMarginLeft, float, FDefaultMarginLeft)
KD_DOC_SETTER(DefaultMarginTop, float, FDefaultMarginTop)
KD_DOC_SETTER(DefaultMarginRight, float, FDefaultMarginRight)
KD_DOC_SETTER(DefaultMarginBottom, float, FDefaultMarginBottom)
KD_DOC_SETTER(DefaultGridSize, float, FDefaultGridSize)
KD_DOC_SETTER(DefaultGridColor, TColor, FDefaultGridColor)
KD_DOC_SETTER(ShowMargins, bool, FShowMargins)
// Stored in "Index.xml" too: a change is one to save.
KD_DOC_SETTER(SnapToGrid, bool, FSnapToGrid)
KD_DOC_SETTER(StepAngle, float, FStepAngle)
KD_DOC_SETTER(HandleColor, TColor, FHandleColor)
KD_DOC_SETTER(HandleEdgeColor, TColor, FHandleEdgeColor)
KD_DOC_SETTER(StoreThumbnails, bool, FStoreThumbnails)
#undef KD_DOC_SETTER

void TdtpDocument::SetDefaultPageColor(TColor V) {
  if (V == FDefaultPageColor) return;
  FDefaultPageColor = V;
  for (auto& p : FPages) {
    p->EnsureLoaded();
    if (p->IsDefaultPage()) p->SetModified(true);
  }
  DefaultsChanged();
}

void TdtpDocument::SetHelperMethod(TdtpHelperMethodtype V) {
  if (V == FHelperMethod) return;
  FHelperMethod = V;
  Invalidate();
}

void TdtpDocument::SetQuality(raster::TStretchFilter V) {
  if (V == FQuality) return;
  FQuality = V;
  if (!IsPrinting()) Invalidate();
}

void TdtpDocument::SetThumbnailWidth(int32_t V) {
  if (V == FThumbnailWidth) return;
  FThumbnailWidth = V;
  for (auto& p : FPages) p->SetModified(true);
}

void TdtpDocument::SetThumbnailHeight(int32_t V) {
  if (V == FThumbnailHeight) return;
  FThumbnailHeight = V;
  for (auto& p : FPages) p->SetModified(true);
}

void TdtpDocument::SetMode(TdtpViewerModeType V) {
  // The drag ends first: its outline is drawn for the shapes still selected.
  if (FDragState == 5) EndShapeEdit(false);
  SetDragState(0);
  ClearSelection();
  if (V == vmEdit && FReadOnly) return;
  FMode = V;
}

void TdtpDocument::SetReadOnly(bool V) {
  if (V == FReadOnly) return;
  FReadOnly = V;
  DocumentChanged();
  if (V) {
    if (FDragState == 5) EndShapeEdit(false);
    SetDragState(0);
    ClearSelection();
    if (FMode == vmEdit) FMode = vmBrowse;
  }
}

std::string PageStreamName(int32_t N) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "Page%.4d.xml", N);
  return buf;
}

std::string ThumbStreamName(int32_t N) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "Thumb%.4d.bmp", N);
  return buf;
}

int32_t ViewStyleOrdinal(TdtpViewStyleType V) { return V == vsPrintLayout ? 0 : 1; }
int32_t ViewStyleFromOrdinal(int32_t Ordinal) {
  if (Ordinal == 0) return vsPrintLayout;
  if (Ordinal == 1) return vsNormal;
  return -1;
}

}  // namespace document

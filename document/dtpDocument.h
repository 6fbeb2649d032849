// The document: an ordered list of pages backed by a single-file archive (".hsf"), and at the
// same time the scrolling control that shows the current page. Pages other than the first are
// read from the archive only when they first become current; until then they show their
// stored thumbnail. Saving rewrites only modified pages.
//
//   TdtpComponent doc(owner);
//   doc.LoadFromFile("a.hsf");   // "Index.xml", thumbnails, page 1
//   doc.SetCurrentPageIndex(2);  // reads "Page0003.xml" now
//   doc.ZoomFitPage();
//   doc.PrintPage(0);
//
// Coordinates follow dtpDocumentHost.h: screen pixel = (document mm - origin) * ScreenDpm,
// where the origin is the scroll position divided by ScreenDpm.
//
// "Index.xml" stores enumerations as ordinals in the order their values are listed:
// view style print layout 0 / normal 1, hot-zone scrolling none 0 / while the mouse is down 1 /
// always 2, the stretch filter's ordinal. Every value read is validated; an invalid value falls
// back to its reset value.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "document/VirtualScrollbox.h"
#include "document/dtpCommand.h"
#include "document/dtpDocumentHost.h"
#include "document/dtpPage.h"
#include "platform/Exceptions.h"

namespace platform {
class TPopupMenu;
class TTimer;
class THintWindow;
}  // namespace platform

namespace document {

class TSingleStorage;
class TXmlNode;

enum TdtpViewerModeType : uint8_t { vmEdit, vmBrowse };
enum TMultiSelectMethodType : uint8_t { msmCtrl, msmSimple };
enum TdtpHZScrollingType : uint8_t { hzsNoScroll, hzsWhenMouseDown, hzsAlways };
enum TPrintQualityType : uint8_t { pqLow, pqMedium, pqHigh, pqDevice };

// Progress types passed to OnProgress.
constexpr int32_t ptLoading = 0;
constexpr int32_t ptSaving = 1;
constexpr int32_t ptPrinting = 2;

// Editor cursors registered by InitializeDtpDocument.
constexpr platform::TCursor crRotation = -30;
constexpr platform::TCursor crSizeCopy = -31;
constexpr platform::TCursor crDtpCross = -32;
constexpr platform::TCursor crDtpCrossLine = -33;
constexpr platform::TCursor crDtpCrossArrow = -34;
constexpr platform::TCursor crDtpCrossRectangle = -35;
constexpr platform::TCursor crDtpCrossEllipse = -36;
constexpr platform::TCursor crDtpCrossText = -37;
constexpr platform::TCursor crDtpCrossImage = -38;

// Screen zoom is kept within these dots per millimetre (about 0.25 to 25000 DPI).
constexpr float cMinScreenDpm = 0.01f;
constexpr float cMaxScreenDpm = 1000.0f;
// Shapes render at most at 100 dots per millimetre (2540 DPI): beyond that one page's
// buffers would not fit in memory.
constexpr float cMaxRenderDpm = 100.0f;

using TNotifyShapeEvent = std::function<void(platform::TObject* Sender, TdtpShape* Shape)>;
using TNotifyPageEvent = std::function<void(platform::TObject* Sender, TdtpPage* Page)>;
using TdtpProgressEvent =
    std::function<void(platform::TObject* Sender, int32_t AType, int32_t ACount, int32_t ATotal, float APercent)>;
using TdtpPaintEvent = std::function<void(platform::TObject* Sender, platform::TCanvas* Canvas, const platform::TRect& R)>;
using TdtpFilingEvent = std::function<void(platform::TObject* Sender, TXmlNode* Node)>;
using TdtpShapeFilingEvent = std::function<void(platform::TObject* Sender, TdtpShape* Shape, TXmlNode* Node)>;

class TdtpDocument : public TVirtScrollBox, public IdtpDocumentHost {
 public:
  explicit TdtpDocument(platform::TComponent* AOwner);
  ~TdtpDocument() override;
  std::string ClassName() const override { return "TdtpDocument"; }

  // --- pages ---
  int32_t GetPageCount() const { return int32_t(FPages.size()); }
  int32_t PageCount() const { return GetPageCount(); }
  // Raises "Invalid page count" unless 0 <= N <= 25.
  void SetPageCount(int32_t N);
  TdtpPage* GetPage(int32_t Index) const;
  int32_t IndexOfPage(const TdtpPage* Page) const override;
  TdtpPage* CurrentPage() const override { return GetPage(FCurrentPageIndex); }
  int32_t CurrentPageIndex() const { return FCurrentPageIndex; }
  void SetCurrentPageIndex(int32_t Index);
  // Takes the page (a default page when null); returns its index.
  int32_t AddPage(std::unique_ptr<TdtpPage> Page);
  void DeletePage(int32_t Index);
  void LoadPage(int32_t Index) override;
  TSingleStorage* Archive() const { return FArchive.get(); }
  // When set, LoadFromFile opens the file for reading alone (a viewer's files never change);
  // the document can then not be saved into it. Not a document property: Clear keeps it.
  bool OpenReadOnly() const { return FOpenReadOnly; }
  void SetOpenReadOnly(bool Value) { FOpenReadOnly = Value; }

  // --- files ---
  virtual void SetDefaults();
  virtual void Clear();
  virtual void LoadFromFile(const std::string& FileName);
  virtual void SaveToArchive();
  virtual void SaveToFile(const std::string& FileName);
  void WriteIndex();
  virtual void LoadPropertiesFromXml(TXmlNode* Node);
  virtual void SavePropertiesToXml(TXmlNode* Node);

  // --- modified state and notifications ---
  bool Modified() const override { return FModified; }
  void SetModified(bool Value) override;
  uint32_t LastChangeTick() const { return FLastChange; }
  void DocumentChanged();
  void ShapeChanged(TdtpShape* Shape) override;
  void SelectionChanged() override;
  TdtpShape* FocusShape() const { return FFocusShape; }
  void SetFocusShape(TdtpShape* Shape);
  void ShapeDestroyed(TdtpShape* Shape) override;
  void PageChanged(TdtpPage* Page) override;
  void ShapeEditClosed(TdtpShape* Shape);
  void ShapeInsertClosed(TdtpShape* Shape);
  void ShapeLoadAdditionalInfo(TdtpShape* Shape, TXmlNode* Node) override;
  void ShapeSaveAdditionalInfo(TdtpShape* Shape, TXmlNode* Node) override;
  bool HasPaintBackground() const override { return bool(OnPaintBackground); }
  bool HasPaintForeground() const override { return bool(OnPaintForeground); }
  void PaintBackground(platform::TCanvas* Canvas, const platform::TRect& R) override;
  void PaintForeground(platform::TCanvas* Canvas, const platform::TRect& R) override;
  virtual void BeginUpdate();
  virtual void EndUpdate();
  int32_t UpdateCount() const { return FUpdateCount; }

  // --- undo (recording only; the editor replays) ---
  bool UndoEnabled() const override { return FUndoEnabled && FUndoLock == 0; }
  void SetUndoEnabled(bool Value);
  void LockUndo() override { ++FUndoLock; }
  void UnlockUndo() override { --FUndoLock; }
  void BeginUndo() override;
  void EndUndo() override;
  void AddUndo(std::unique_ptr<TdtpCommand> Command) override;
  void AddSecondCommand(std::unique_ptr<TdtpCommand> Command) override;
  virtual void ClearUndo();
  int32_t UndoCount() const { return int32_t(FUndoList.size()); }
  TdtpCommand* UndoItem(int32_t Index) const { return FUndoList.at(size_t(Index)).get(); }
  int32_t UndoBytes() const { return FUndoBytes; }
  int32_t NextShapeNumber() override { return ++FShapeNumber; }

  // --- busy state, progress, printing bracket ---
  void BeginBusy(platform::TCursor Cursor);
  void EndBusy();
  bool IsBusy() const { return FBusy > 0; }
  void SetViewCursor(int32_t Id) override;
  platform::TCursor ViewCursor() const { return FViewCursor; }
  void DoProgress(int32_t AType, int32_t ACount, int32_t ATotal, float APercent) override;
  int32_t ProgressCount() const override { return FProgressCount; }
  int32_t ProgressTotal() const override { return FProgressTotal; }
  void BeginPrinting() override { ++FPrinting; }
  void EndPrinting() override;
  bool IsPrinting() const override { return FPrinting > 0; }
  bool OutputRendering() const override { return FOutputRendering; }
  void SetOutputRendering(bool Value) override { FOutputRendering = Value; }

  // --- view: coordinates, layout, zoom ---
  raster::TdtpFloatPoint DocToScreen(const raster::TdtpFloatPoint& P) const override;
  raster::TdtpFloatPoint ScreenToDoc(const platform::TPoint& P) const override;
  float OriginX() const { return FOriginX; }
  float OriginY() const { return FOriginY; }
  void SetOriginX(float V) { FOriginX = V; }
  void SetOriginY(float V) { FOriginY = V; }
  raster::TdtpFloatPoint ViewOrigin() const override { return {FOriginX, FOriginY}; }
  void SetViewOrigin(const raster::TdtpFloatPoint& P) override {
    FOriginX = P.X;
    FOriginY = P.Y;
  }
  void UpdateLayout() override;
  float ZoomPercent() const { return FZoomPercent; }
  void SetZoomPercent(float V);
  void ZoomBy(float Factor);
  void ZoomIn();
  void ZoomOut();
  void ZoomFitPage();
  void ZoomFitWidth();
  void ZoomPageWidth();
  float ScreenDpm() const override { return FScreenDpm; }
  void SetScreenDpm(float V) override;
  float RenderDpm() const override { return FRenderDpm; }
  void SetRenderDpm(float V) override;
  float RenderDPI() const { return FRenderDpm * 25.4f; }
  void SetRenderDPI(float V) { SetRenderDpm(V / 25.4f); }
  bool RenderAtScreenRes() const { return FRenderAtScreenRes; }
  void SetRenderAtScreenRes(bool V);
  TdtpViewStyleType ViewStyle() const override { return FViewStyle; }
  void SetViewStyle(TdtpViewStyleType V);
  bool AutoWidth() const { return FAutoWidth; }
  void SetAutoWidth(bool V) { FAutoWidth = V; }

  // --- painting, timer, hints ---
  virtual void PaintDocument(platform::TCanvas* Canvas);
  void PaintEmpty(platform::TCanvas* Canvas);
  void PaintSelection(platform::TCanvas* Canvas);
  void InvalidateScreenRect(const platform::TRect& R) override;
  void TimerTick(platform::TObject* Sender);
  // One idle step: rebuilds at most one stale thumbnail; true when it rebuilt one.
  bool DoAutoPageUpdate();
  virtual void StartShapeHint(const platform::TPoint& P, TdtpShape* Shape, int32_t Delay);
  void ShowShapeHint();
  virtual void StopShapeHint();
  TdtpShape* HintShape() const { return FHintShape; }
  platform::TTimer* DocumentTimer() const { return FTimer.get(); }
  platform::THintWindow* HintWindow() const { return FHintWindow.get(); }

  // --- editing hooks (the editor fills them in) ---
  TdtpShape* EditedShape() const override { return FEditedShape; }
  void EndShapeEdit(bool Accept) override;
  bool EndEditBeforeRemoval(TdtpShape* Shape, bool Accept = false) override;
  uint8_t DragState() const { return FDragState; }
  void ClearSelection();

  // --- editing (dtpDocument_Edit.cpp) ---
  int32_t SelectionCount() const;
  TdtpShape* SelectedShape(int32_t N) const;
  virtual bool HasSelection() const;
  void ToggleSelection(TdtpShape* Shape);
  // The handle code and shape at a client point: handles of selected shapes first, then
  // selectable shapes, topmost first. Code 0 and no shape while read-only.
  uint8_t HitTest(const platform::TPoint& P, TdtpShape*& Shape);
  platform::TCursor HandleCursor(TdtpShape* Shape, uint8_t Code) const;
  void EditShape(TdtpShape* Shape);
  void SetDragState(uint8_t S);
  // Insertion by drawing, armed by a host: Kind 0 places Shape where the left button goes
  // down, Kind 1 lets it be dragged out. Drag state 3 until the press, 4 while dragging.
  void BeginInsert(std::unique_ptr<TdtpShape> Shape, uint8_t Kind);
  void EndInsert(bool Place);
  TdtpShape* InsertingShape() const { return FInsertShape.get(); }
  virtual std::string SelectionToXml();
  // 0 for text that is not a selection (also text that does not parse); a shape that fails to
  // load raises, and the page is then unchanged.
  virtual int32_t XmlToSelection(const std::string& Text);
  virtual void CopyToClipboard();
  virtual void CutToClipboard();
  void DeleteSelection();
  virtual void PasteFromClipboard();
  virtual bool CanPaste();
  // Replays one recorded command on the current page or a page; False when none accepts it.
  virtual bool Undo(TdtpCommand* Command);
  bool UseSystemClipboard() const { return FUseSystemClipboard; }
  void SetUseSystemClipboard(bool V) { FUseSystemClipboard = V; }
  const std::string& InternalClipboard() const { return FClipboardText; }
  float NudgeScale() const { return FNudgeScale; }
  const std::vector<platform::TPoint>& NudgeOffsets() const override { return FNudgeOffsets; }
  uint8_t HotHandleCode() const { return FHotCode; }
  TdtpShape* HotShape() const { return FHotShape; }
  bool OutlinesShown() const { return FOutlineShown; }
  platform::TPoint DragDelta() const { return FDragDelta; }
  platform::TPoint MouseDownPoint() const { return FMouseDownPt; }
  // The drag-point rule: snapped to the grid when SnapToGrid differs from Alt.
  raster::TdtpFloatPoint DragPoint(const platform::TPoint& P, bool Alt) const;
  platform::TColor HandleColor() const override { return FHandleColor; }
  platform::TColor HandleEdgeColor() const override { return FHandleEdgeColor; }
  float StepAngle() const override { return FStepAngle; }

  // --- printing ---
  void PrintPage(int32_t Index);
  void PrintRange(int32_t First, int32_t Count);
  virtual void Print(const std::vector<int32_t>& Pages);
  float PrintQualityDpm() const;

  // --- properties ---
  bool AllowKeyInput() const { return FAllowKeyInput; }
  void SetAllowKeyInput(bool V) { FAllowKeyInput = V; }
  bool ArchiveDirect() const { return FArchiveDirect; }
  void SetArchiveDirect(bool V) { FArchiveDirect = V; }
  bool AutoPageUpdate() const { return FAutoPageUpdate; }
  void SetAutoPageUpdate(bool V) { FAutoPageUpdate = V; }
  platform::TColor DefaultGridColor() const override { return FDefaultGridColor; }
  void SetDefaultGridColor(platform::TColor V);
  float DefaultGridSize() const override { return FDefaultGridSize; }
  void SetDefaultGridSize(float V);
  float DefaultMarginBottom() const override { return FDefaultMarginBottom; }
  float DefaultMarginLeft() const override { return FDefaultMarginLeft; }
  float DefaultMarginRight() const override { return FDefaultMarginRight; }
  float DefaultMarginTop() const override { return FDefaultMarginTop; }
  void SetDefaultMarginBottom(float V);
  void SetDefaultMarginLeft(float V);
  void SetDefaultMarginRight(float V);
  void SetDefaultMarginTop(float V);
  platform::TColor DefaultPageColor() const override { return FDefaultPageColor; }
  void SetDefaultPageColor(platform::TColor V);
  float DefaultPageHeight() const { return FDefaultPageHeight; }
  void SetDefaultPageHeight(float V);
  float DefaultPageWidth() const { return FDefaultPageWidth; }
  void SetDefaultPageWidth(float V);
  raster::TBitmap32* DefaultBackgroundImage() const override { return FDefaultBgrImage.get(); }
  bool DefaultBgrTiled() const override { return FDefaultBgrTiled; }
  void SetHandleColor(platform::TColor V);
  void SetHandleEdgeColor(platform::TColor V);
  TdtpHelperMethodtype HelperMethod() const override { return FHelperMethod; }
  void SetHelperMethod(TdtpHelperMethodtype V);
  int32_t HintHidePause() const { return FHintHidePause; }
  void SetHintHidePause(int32_t V) { FHintHidePause = V; }
  int32_t HintPause() const { return FHintPause; }
  void SetHintPause(int32_t V) { FHintPause = V; }
  int32_t HintShortPause() const { return FHintShortPause; }
  void SetHintShortPause(int32_t V) { FHintShortPause = V; }
  TdtpHZScrollingType HotZoneScrolling() const { return FHotZoneScrolling; }
  // The hot-zone timer exists while scrolling is not hzsNoScroll.
  void SetHotZoneScrolling(TdtpHZScrollingType V);
  platform::TTimer* HotZoneTimer() const { return FHotZoneTimer.get(); }
  bool HotZoneActive() const { return FHotZoneActive; }
  // One hot-zone step with the cursor at P (client pixels) at tick Now; returns the scroll
  // asked for in pixels.
  platform::TPoint HotZoneStepAt(const platform::TPoint& P, uint32_t Now);
  void HotZoneStep();
  TdtpViewerModeType Mode() const { return FMode; }
  void SetMode(TdtpViewerModeType V);
  TMultiSelectMethodType MultiSelectMethod() const { return FMultiSelectMethod; }
  void SetMultiSelectMethod(TMultiSelectMethodType V) { FMultiSelectMethod = V; }
  TPrintQualityType PrintQuality() const { return FPrintQuality; }
  void SetPrintQuality(TPrintQualityType V) { FPrintQuality = V; }
  raster::TStretchFilter Quality() const override { return FQuality; }
  void SetQuality(raster::TStretchFilter V) override;
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool V);
  bool ShowMargins() const override { return FShowMargins; }
  void SetShowMargins(bool V);
  bool SnapToGrid() const { return FSnapToGrid; }
  void SetSnapToGrid(bool V);
  void SetStepAngle(float V);
  bool StoreThumbnails() const { return FStoreThumbnails; }
  void SetStoreThumbnails(bool V);
  int32_t ThumbnailHeight() const override { return FThumbnailHeight; }
  void SetThumbnailHeight(int32_t V);
  int32_t ThumbnailWidth() const override { return FThumbnailWidth; }
  void SetThumbnailWidth(int32_t V);
  bool UndoPastSave() const { return FUndoPastSave; }
  void SetUndoPastSave(bool V) { FUndoPastSave = V; }

  // The control's colour and hint switch, answered to the pages and shapes as well.
  platform::TColor Color() const override { return TVirtScrollBox::Color(); }
  bool ShowHint() const override { return TVirtScrollBox::ShowHint(); }

  // --- events ---
  platform::TNotifyEvent OnDocumentChanged;
  TNotifyShapeEvent OnFocusShape;
  TNotifyShapeEvent OnShapeChanged;
  TNotifyShapeEvent OnShapeDestroy;
  TNotifyShapeEvent OnShapeEditClosed;
  TNotifyShapeEvent OnShapeInsertClosed;
  TNotifyPageEvent OnPageChanged;
  TdtpProgressEvent OnProgress;
  platform::TNotifyEvent OnSelectionChanged;
  platform::TNotifyEvent OnAnimate;
  TdtpPaintEvent OnPaintBackground;
  TdtpPaintEvent OnPaintForeground;
  TdtpFilingEvent OnLoadAdditionalInfo;
  TdtpFilingEvent OnSaveAdditionalInfo;
  TdtpShapeFilingEvent OnShapeLoadAdditionalInfo;
  TdtpShapeFilingEvent OnShapeSaveAdditionalInfo;
  platform::TNotifyEvent OnScroll;

  void SetParent(platform::TWinControl* AParent) override;

 protected:
  void ScrollChanged() override;
  void Paint() override;
  void WMSize() override;
  void MouseDown(platform::TMouseButton Button, platform::TShiftState Shift, int32_t X, int32_t Y) override;
  void MouseMove(platform::TShiftState Shift, int32_t X, int32_t Y) override;
  void MouseUp(platform::TMouseButton Button, platform::TShiftState Shift, int32_t X, int32_t Y) override;
  void DblClick() override;
  void KeyDown(platform::Word& Key, platform::TShiftState Shift) override;
  void KeyPress(platform::TKeyChar& Key) override;
  void KeyUp(platform::Word& Key, platform::TShiftState Shift) override;
  bool WantSpecialKey(platform::Word Key, platform::TShiftState Shift) override;
 public:
  platform::TPopupMenu* GetPopupMenu() override;
 protected:

 private:
  void CheckNotBusy() const;
  // Pages, undo and editing state go; the archive and the properties stay.
  void ClearContent();
  // Writes "Index.xml" and every page that must be written into Archive as one transaction:
  // the archive holds the old document or the new one, never a mix. All writes every page.
  void WriteArchive(TSingleStorage* Archive, bool All);
  // After a save has reached the disk: stream numbers, modified flags, undo, compaction.
  void FinishSave();
  void WriteIndexTo(TSingleStorage* Archive);
  void DeletePageDirect(int32_t Index);
  // What follows a page leaving the list at Index: later pages, the current page, the view.
  void PageRemovedAt(int32_t Index);
  // A page of this document handed to a document (this one or another) leaves as a deletion
  // does, but whole: its shapes are read first and it is not freed. Null when not listed.
  std::unique_ptr<TdtpPage> TakePage(TdtpPage* Page);
  void DefaultsChanged();
  void SetPageDefaultSize(bool Width, float V);
  void PrintJob(const std::vector<int32_t>& Pages);
  // Editing helpers.
  void ToggleDragOutlines();
  void ShowDragOutlines(const platform::TPoint& Delta);
  void EndMove(bool Apply);
  void ToggleRubberBand();
  void FinishRubberBand();
  void ToggleInsertOutline();
  // A move, rubber band or drawn insertion whose left button is no longer down (another button
  // came first, or the release went to a popup) ends as Escape would end it.
  void CancelButtonDrag();

  std::vector<std::unique_ptr<TdtpPage>> FPages;
  std::unique_ptr<TSingleStorage> FArchive;
  bool FOpenReadOnly = false;
  std::vector<std::unique_ptr<TdtpCommand>> FUndoList;
  std::vector<std::unique_ptr<TdtpCommand>> FSecondList;
  std::unique_ptr<platform::TTimer> FTimer;
  std::unique_ptr<platform::TTimer> FHintTimer;
  std::unique_ptr<platform::THintWindow> FHintWindow;
  std::unique_ptr<raster::TBitmap32> FDefaultBgrImage;

  bool FAllowKeyInput = true;
  bool FArchiveDirect = false;
  bool FAutoPageUpdate = false;
  bool FAutoWidth = true;
  int32_t FCurrentPageIndex = -1;
  platform::TColor FDefaultGridColor = 0xFFFFC0;
  float FDefaultGridSize = 5;
  float FDefaultMarginBottom = 10, FDefaultMarginLeft = 10, FDefaultMarginRight = 10, FDefaultMarginTop = 10;
  platform::TColor FDefaultPageColor = 0xFFFFFF;
  float FDefaultPageHeight = 297, FDefaultPageWidth = 210;
  bool FDefaultBgrTiled = false;
  platform::TColor FHandleColor = 0xFFFFFF;
  platform::TColor FHandleEdgeColor = 0;
  TdtpHelperMethodtype FHelperMethod = hmNone;
  int32_t FHintHidePause = 2500, FHintPause = 500, FHintShortPause = 50;
  TdtpHZScrollingType FHotZoneScrolling = hzsNoScroll;
  TdtpViewerModeType FMode = vmEdit;
  TMultiSelectMethodType FMultiSelectMethod = msmSimple;
  TPrintQualityType FPrintQuality = pqLow;
  raster::TStretchFilter FQuality = raster::sfLinear2;
  bool FReadOnly = false;
  bool FRenderAtScreenRes = false;
  bool FShowMargins = true;
  bool FSnapToGrid = false;
  float FStepAngle = 0;
  bool FStoreThumbnails = true;
  int32_t FThumbnailHeight = 60, FThumbnailWidth = 80;
  bool FUndoEnabled = true;
  bool FUndoPastSave = false;
  TdtpViewStyleType FViewStyle = vsPrintLayout;
  float FZoomPercent = 100;

  float FRenderDpm = cDefaultDpm, FScreenDpm = cDefaultDpm;
  bool FModified = true;
  uint32_t FLastChange = 0;
  int32_t FBusy = 0;
  platform::TCursor FViewCursor = platform::crDefault;
  // While busy, the view's cursor also shows over the whole program; afterwards no longer.
  bool FBusyCursorShown = false;
  void ShowBusyCursor();
  int32_t FPrinting = 0;
  bool FOutputRendering = false;
  int32_t FUpdateCount = 0;
  bool FPendingShape = false, FPendingSelection = false, FPendingFocus = false;
  int32_t FUndoLock = 0;
  int32_t FUndoBracket = 0;
  bool FBracketHasCommand = false;
  int32_t FUndoBytes = 0;
  // Commands ever dropped from the front of the undo list (evicted or cleared), and the list
  // as it stood when the current shape edit began, and before the shape being edited was
  // placed when the edit follows its insertion, so that a rejected edit can take back what
  // it recorded.
  struct TUndoMark {
    size_t Count = 0;
    uint64_t Dropped = 0;
  };
  uint64_t FUndoDropped = 0;
  TUndoMark FEditUndoMark, FInsertUndoMark;
  TdtpShape* FInsertedShape = nullptr;
  bool FInsertDocModified = false;
  // The modified flags of the document and of the edited shape and its parents when the edit
  // began, put back when it is rejected.
  bool FEditDocModified = false;
  std::vector<std::pair<TdtpShape*, bool>> FEditShapesModified;
  // A save wrote the document while the current edit was under way: the file then holds the
  // edited shape, so putting the shape back is a change to save.
  bool FSavedDuringEdit = false;
  TUndoMark UndoMark() const { return {FUndoList.size(), FUndoDropped}; }
  // The list position a mark stands for now that commands may have been dropped from its front.
  size_t UndoPosition(const TUndoMark& Mark) const;
  // Takes back the commands from mark From up to mark To (the end when null) that Take picks;
  // the others stay, grouped as they were.
  void TrimUndo(const TUndoMark& From, const TUndoMark* To = nullptr,
                const std::function<bool(const TdtpCommand&)>& Take = nullptr);
  // EndShapeEdit; true when the edit's end took the edited shape out of the document.
  bool FinishShapeEdit(bool Accept);
  // Set while a shape ends its edit (which may remove the shape).
  bool FEndingEdit = false;
  // While Undo replays a command, commands a rejected edit takes back are kept alive here: the
  // command being replayed may be one of them.
  int32_t FReplaying = 0;
  std::vector<std::unique_ptr<TdtpCommand>> FTrimmedWhileReplaying;
  void RestoreEditModified(TdtpShape* Shape);
  int32_t FIdleInterval = 2000;
  int32_t FProgressCount = 0, FProgressTotal = 0;
  int32_t FShapeNumber = 0;

  uint8_t FDragState = 0;
  uint8_t FHotCode = 0;
  bool FOutlineShown = false;
  // The drag outline's segments as drawn: they are taken off as they were drawn, even when the
  // zoom, the scroll position or the selection changed meanwhile.
  std::vector<platform::TRect> FDragLines;
  bool FDragLinesShown = false;
  bool FBandShown = false;
  bool FAltLatch = false;
  platform::TPoint FMouseDownPt{0, 0};
  platform::TPoint FDragDelta{0, 0};
  raster::TdtpFloatPoint FMouseDownMm{0, 0};
  raster::TdtpFloatPoint FDragDeltaMm{0, 0};
  bool FUseSystemClipboard = true;
  std::string FClipboardText;
  TdtpPage* FCopiedFrom = nullptr;
  float FNudgeScale = 1.0f;
  std::vector<platform::TPoint> FNudgeOffsets;
  std::unique_ptr<platform::TTimer> FHotZoneTimer;
  bool FHotZoneActive = false;
  uint32_t FHotZoneTick = 0;
  int32_t FHotZoneRamp = 0;
  platform::TPoint FHotZoneLast{0, 0};
  std::unique_ptr<platform::TPopupMenu> FEditMenu;
  TdtpShape* FFocusShape = nullptr;
  TdtpShape* FEditedShape = nullptr;
  TdtpShape* FHotShape = nullptr;
  TdtpShape* FHintShape = nullptr;
  platform::TPoint FHintPoint{0, 0};
  std::unique_ptr<TdtpShape> FInsertShape;
  uint8_t FInsertKind = 0;
  bool FInsertOutlineShown = false;

  float FOriginX = 0, FOriginY = 0;
  int32_t FLastWidth = -1;
  bool FInLayout = false;
  bool FInTimer = false;
};

// The class placed on forms; adds nothing.
class TdtpComponent : public TdtpDocument {
 public:
  explicit TdtpComponent(platform::TComponent* AOwner) : TdtpDocument(AOwner) {}
  std::string ClassName() const override { return "TdtpComponent"; }
};

// Stream names of page N (from 1).
std::string PageStreamName(int32_t N);
std::string ThumbStreamName(int32_t N);
// The stored ordinal of a view style and back (-1 for an ordinal out of range).
int32_t ViewStyleOrdinal(TdtpViewStyleType V);
int32_t ViewStyleFromOrdinal(int32_t Ordinal);

// Registers the editor cursors (ids -30 to -38) with the screen.
void InitializeDtpDocument();
void FinalizeDtpDocument();

}  // namespace document

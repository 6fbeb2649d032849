// The base class of every drawable object of a document (pages, groups, polygons, lines,
// text, bitmaps) and the registry through which documents create shapes by class name.
//
// A shape holds a rectangle in millimetres with a rotation in degrees, an ordered list of
// owned child shapes, editing permissions, anchors for laying out children, size
// constraints, a master alpha, flip and mirror flags and an off-screen TBitmap32 buffer at
// the document's render resolution. Every property change is recorded as an undo command for
// the owning document (IdtpDocumentHost); stored shapes are XML elements.
//
// Local coordinates: millimetres from the shape's unrotated top-left corner, x right, y down.
// A local point maps to the parent as (c*x + s*y + DocLeft, -s*x + c*y + DocTop) with c, s the
// cosine and sine of DocAngle. A page is the root; a document point is the page's local
// point plus the page's view offset (see dtpDocumentHost.h).
//
// Shapes are created in two phases: the C++ constructor, then Initialize(), which runs the
// virtual InitDefaults of the most derived class. Always create shapes through
// NewShape<T>() or CreateShape(Class).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "document/dtpCommand.h"
#include "document/dtpDocumentHost.h"
#include "document/dtpStoredSetting.h"
#include "platform/Classes.h"
#include "platform/Colors.h"
#include "platform/Controls.h"
#include "platform/Types.h"
#include "raster/Raster32.h"
#include "raster/Raster32Transforms.h"

namespace platform {
class TCanvas;
class TPopupMenu;
}  // namespace platform

namespace document {

class TXmlNode;
class TdtpShape;

using raster::TBitmap32;
using raster::TColor32;
using raster::TdtpFloatPoint;
using raster::TdtpFloatRect;

// Rows of three; x' = m[0][0]x + m[0][1]y + m[0][2], y' = m[1][0]x + m[1][1]y + m[1][2].
using TdtpMatrix = std::array<std::array<float, 3>, 3>;
// The transposed matrix of an affine transformation (which is stored column by column).
TdtpMatrix MatrixFromAffine(const raster::TFloatMatrix& M);
TdtpMatrix IdentityDtpMatrix();
TdtpFloatPoint MapPoint(const TdtpMatrix& M, float X, float Y);

// Anchor bits: how children follow a resize of their parent.
enum : uint16_t {
  anDefault = 1 << 0,
  anPosXProp = 1 << 1,
  anPosYProp = 1 << 2,
  anSizeXProp = 1 << 3,
  anSizeYProp = 1 << 4,
  anLeftLock = 1 << 5,
  anTopLock = 1 << 6,
  anRightLock = 1 << 7,
  anBottomLock = 1 << 8,
};
using TdtpAnchors = uint16_t;
constexpr TdtpAnchors cDefaultAnchors = anDefault | anLeftLock | anTopLock;  // 97

// Size limits in millimetres; 0 means no limit.
class TFloatSizeConstraint {
 public:
  explicit TFloatSizeConstraint(TdtpShape* Owner = nullptr) : FOwner(Owner) {}
  TFloatSizeConstraint(const TFloatSizeConstraint&) = delete;
  // Takes the other's limits; they stay this owner's limits.
  TFloatSizeConstraint& operator=(const TFloatSizeConstraint& Other) {
    MinHeight = Other.MinHeight;
    MinWidth = Other.MinWidth;
    MaxHeight = Other.MaxHeight;
    MaxWidth = Other.MaxWidth;
    return *this;
  }
  TStoredSetting<float, TFloatSizeConstraint> MinHeight{this, 0}, MinWidth{this, 0}, MaxHeight{this, 0},
      MaxWidth{this, 0};
  // A limit changed: the owner is changed.
  void SettingChanged();

 private:
  TdtpShape* FOwner;
};

// A selection handle in local millimetres and a pair of handles drawn as an edge.
// Hit codes: 0 nothing, 1 move, 2 top-left, 3 left, 4 bottom-left, 5 bottom, 6 bottom-right,
// 7 right, 8 top-right, 9 top, 10 rotate, 11 move one point; others are the shape's own.
struct TdtpHandle {
  float X = 0, Y = 0;
  int32_t Code = 0;
  // The position during a drag; equal to X, Y outside one.
  float DragX = 0, DragY = 0;
};
struct TdtpHandleEdge {
  int32_t A = 0, B = 0;
  uint8_t Code = 0;
  bool Drawn = true;  // drawn by PaintOutline
};

// A class of the shape registry: its name and how to make one (phase one of creation).
struct TShapeClass {
  std::string Name;
  std::function<std::unique_ptr<TdtpShape>()> Construct;
  const TShapeClass* Parent = nullptr;
};

class EShapeError : public platform::Exception {
 public:
  explicit EShapeError(std::string message) : Exception(std::move(message)) {}
};

class TdtpShape : public platform::TPersistent {
 public:
  TdtpShape();
  ~TdtpShape() override;
  TdtpShape(const TdtpShape&) = delete;
  TdtpShape& operator=(const TdtpShape&) = delete;

  static const TShapeClass& StaticClass();
  virtual const TShapeClass& Class() const { return StaticClass(); }
  std::string ClassName() const override { return Class().Name; }
  // True when this shape's class is Cls or derives from it.
  bool InheritsFrom(const TShapeClass& Cls) const;
  // Phase two of creation: the most derived InitDefaults and class set-up.
  virtual void Initialize();

  // --- persistent and geometric properties ---
  void Assign(const platform::TPersistent* Source) override;
  int32_t GetClassLevel() const { return 3; }
  virtual int32_t GetShapeCount() const { return int32_t(FShapes.size()); }
  virtual TdtpShape* GetShape(int32_t Index) const;
  float DocLeft() const { return FDocLeft; }
  float DocTop() const { return FDocTop; }
  float DocWidth() const { return FDocWidth; }
  float DocHeight() const { return FDocHeight; }
  float DocAngle() const { return FDocAngle; }
  float Cosine() const { return FCos; }
  float Sine() const { return FSin; }
  virtual void SetDocLeft(float Value);
  virtual void SetDocTop(float Value);
  virtual void SetDocWidth(float Value);
  virtual void SetDocHeight(float Value);
  virtual void SetDocAngle(float Value);
  int32_t MasterAlpha() const { return FMasterAlpha; }
  virtual void SetMasterAlpha(int32_t Value);
  bool AllowResize() const { return FAllowResize; }
  void SetAllowResize(bool V) { StoreProperty(FAllowResize, V); }
  bool AllowRotate() const { return FAllowRotate; }
  void SetAllowRotate(bool V) { StoreProperty(FAllowRotate, V); }
  bool AllowSelect() const { return FAllowSelect; }
  void SetAllowSelect(bool V) { StoreProperty(FAllowSelect, V); }
  TdtpAnchors Anchors() const { return FAnchors; }
  void SetAnchors(TdtpAnchors V) { StoreProperty(FAnchors, V); }
  float AspectRatio() const { return FAspectRatio; }
  void SetAspectRatio(float V) { StoreProperty(FAspectRatio, V); }
  bool PreserveAspect() const { return FPreserveAspect; }
  void SetPreserveAspect(bool V) { StoreProperty(FPreserveAspect, V); }
  TFloatSizeConstraint& Constraints() { return *FConstraints; }
  bool Flipped() const { return FFlipped; }
  void SetFlipped(bool V);
  bool Mirrored() const { return FMirrored; }
  void SetMirrored(bool V);
  bool Grouped() const { return FGrouped; }
  void SetGrouped(bool V) { StoreProperty(FGrouped, V); }
  bool SmartHitTest() const { return FSmartHitTest; }
  void SetSmartHitTest(bool V);
  bool Visible() const { return FVisible; }
  void SetVisible(bool V);
  bool HitTestEnabled() const { return FHitTestEnabled; }
  void SetHitTestEnabled(bool V) { FHitTestEnabled = V; }
  platform::TColor Color() const { return FColor; }
  void SetColor(platform::TColor Value);
  const std::string& Name() const { return FName; }
  virtual void SetName(const std::string& Value);
  virtual std::string GetName() const { return FName; }
  const std::string& Hint() const { return FHint; }
  void SetHint(const std::string& V) { FHint = V; }
  std::string DisplayedHint() const { return FHint.empty() ? GetName() : FHint; }
  bool ShowHint() const { return FShowHint; }
  void SetShowHint(bool V) { FShowHint = V; }
  bool ParentShowHint() const { return FParentShowHint; }
  void SetParentShowHint(bool V) { FParentShowHint = V; }
  bool EffectiveShowHint() const;
  int16_t Cursor() const { return FCursor; }
  platform::TPopupMenu* PopupMenu() const { return FPopupMenu; }
  void SetPopupMenu(platform::TPopupMenu* V) { FPopupMenu = V; }
  float CurbLeft() const { return FCurbLeft; }
  float CurbTop() const { return FCurbTop; }
  float CurbRight() const { return FCurbRight; }
  float CurbBottom() const { return FCurbBottom; }
  // The paint outsets: the curbs enlarged by AdjustPaintRect.
  float OutsetLeft() const { return FOutsetLeft; }
  float OutsetTop() const { return FOutsetTop; }
  float OutsetRight() const { return FOutsetRight; }
  float OutsetBottom() const { return FOutsetBottom; }
  bool Modified() const { return FModified; }
  bool Selected() const { return FSelected; }
  int32_t ShapeId() const { return FShapeId; }
  void SetShapeId(int32_t V) { FShapeId = V; }
  TdtpShape* ParentShape() const { return FParent; }
  IdtpDocumentHost* Document() const { return FDocument; }
  int32_t UpdateCount() const { return FUpdateCount; }
  bool RepaintFlag() const { return FRepaint; }
  TBitmap32* Buffer() const { return FBuffer.get(); }
  const platform::TRect& BufferRect() const { return FBufferRect; }
  const TdtpMatrix& BufferMatrix() const { return FBufferMatrix; }
  const TdtpMatrix& DeviceMatrix() const { return FDeviceMatrix; }
  bool ForceBuffer() const { return FForceBuffer; }
  void SetForceBuffer(bool V) { FForceBuffer = V; }
  // Where pasted copies go relative to the copied shape, in millimetres.
  virtual TdtpFloatPoint PasteOffset() const { return {10, 10}; }

  // --- undo recording ---
  virtual void RecordFontStyleChange(const std::string& Name, uint8_t OldStyle);
  virtual void RecordFloatChange(const std::string& Name, float OldValue);
  virtual void RecordIntegerChange(uint8_t Kind, const std::string& Name, int32_t OldValue);
  virtual void RecordChange(uint8_t Kind, const std::string& Name, const std::string& OldValue);
  virtual void RecordBoolChange(const std::string& Name, bool OldValue);
  virtual void RecordShapeChange(uint8_t Kind, TdtpShape* Shape);
  bool IsUndoEnabled() const;

  virtual void SnapPoint(TdtpFloatPoint& P);
  virtual void ClearBuffer();
  virtual void BuildBuffer(TdtpMatrix& Matrix);
  virtual void FreeBuffer();
  virtual bool ConstrainSize(float& Width, float& Height);
  virtual void FixGdiAlpha(TBitmap32* Bitmap, TColor32 Color);
  virtual void DragCustomHandle(const platform::TPoint& /*Delta*/, bool /*Free*/, TdtpMatrix& /*Matrix*/,
                                uint8_t /*Code*/) {}
  virtual void Changed();
  virtual void Tick() {}
  virtual void EndEdit(bool /*Accept*/) {}
  virtual TColor32 GetFillColor32() const;
  virtual TColor32 GetDocColor32() const;
  virtual platform::TPopupMenu* GetEditPopupMenu() { return nullptr; }
  virtual bool IsFlippedOrMirrored() const { return FMirrored || FFlipped; }
  virtual bool NeedsBuffer() const;
  virtual void GetDefaultSize(TdtpFloatPoint& Size) const { Size = {10, 10}; }
  virtual void GetChildrenBounds(TdtpFloatRect& Rect) const;
  virtual void PaintGdi(platform::TCanvas* /*Canvas*/) {}
  virtual void PaintShape(TBitmap32* /*Bitmap*/) {}
  virtual void ApplyFlipMirror(TBitmap32* Bitmap);
  virtual void PaintOverlay(TBitmap32* /*Bitmap*/) {}
  virtual void InitDefaults();
  virtual void SetDocPosition(float Left, float Top);
  virtual void SetDocSize(float Width, float Height);
  virtual void SetDocument(IdtpDocumentHost* Doc);
  virtual void SetModified(bool Value);
  virtual void SetRepaintFlag(bool Value);
  virtual void SetParentShape(TdtpShape* Parent);
  virtual void SetPropertyByName(const std::string& Name, const std::string& Value);
  virtual void SetDeviceMatrix(const TdtpMatrix& Matrix) { FDeviceMatrix = Matrix; }
  // Screen corners of the bounds in ring order (0,0), (W,0), (W,H), (0,H).
  virtual std::vector<platform::TPoint> CreateRegion() const;
  // Every ring of the hit region, combined by the even-odd rule; the base gives CreateRegion.
  virtual std::vector<std::vector<platform::TPoint>> CreateRegionContours() const;
  virtual std::vector<platform::TPoint> CreatePaintRegion() const;
  virtual void AdjustPaintRect(float& Left, float& Top, float& Right, float& Bottom);
  virtual void SaveToStream(platform::TStream* Stream);
  virtual void SetDocBoundsConstrained(float Left, float Top, float Width, float Height);
  virtual void SetBoundsFromRect(const TdtpFloatRect& Rect);
  // Commits the dragged left, top, width and height, then turns to the dragged angle about
  // the centre.
  virtual void ApplyDragBounds();
  virtual void ApplyConstraints();
  virtual void GetScreenRect(platform::TRect& Rect) const;
  virtual void FreeBuffersAll();
  virtual void Clear();
  virtual void StartEdit();
  virtual void StoreAspectRatio();
  virtual void InflateBy(float DX, float DY);
  virtual void InvalidateViaDocument();
  // Input forwarded by the document while it edits this shape; nothing in the base.
  virtual void KeyDownHook(uint16_t& /*Key*/, platform::TShiftState /*Shift*/) {}
  virtual void KeyPressHook(platform::TKeyChar& /*Key*/) {}
  virtual void KeyUpHook(uint16_t /*Key*/, platform::TShiftState /*Shift*/) {}
  virtual void DblClickHook() {}
  virtual void MouseDownHook(platform::TMouseButton, platform::TShiftState, int32_t /*X*/, int32_t /*Y*/) {}
  virtual void MouseMoveHook(platform::TShiftState, int32_t /*X*/, int32_t /*Y*/) {}
  virtual void MouseUpHook(platform::TMouseButton, platform::TShiftState, int32_t /*X*/, int32_t /*Y*/) {}
  virtual void LoadFromXml(TXmlNode* Node);
  virtual void SaveToXml(TXmlNode* Node);
  virtual bool PaintToCanvas(platform::TCanvas* Canvas);
  virtual bool ExecuteCommand(TdtpCommand* Command);
  virtual void SetPaintOutset(float Value);
  virtual void SetPaintOutsets(float Left, float Top, float Right, float Bottom);
  virtual void SetDocBounds(float Left, float Top, float Width, float Height);
  virtual void SetDocBoundsAngle(float Left, float Top, float Width, float Height, float Angle);
  virtual void CenterAt(float X, float Y);

  // --- children ---
  virtual int32_t AddShape(std::unique_ptr<TdtpShape> Shape);
  virtual void ClearShapes();
  virtual void DeleteShape(int32_t Index);
  virtual void MoveShapeIndex(int32_t A, int32_t B);
  virtual std::unique_ptr<TdtpShape> ExtractShape(TdtpShape* Shape);
  virtual int32_t IndexOfShape(const TdtpShape* Shape) const;
  virtual void InsertShape(int32_t Index, std::unique_ptr<TdtpShape> Shape);
  virtual int32_t RemoveShape(TdtpShape* Shape);

  // --- coordinates ---
  float GetRenderDpm() const;
  TdtpFloatPoint LocalToParent(const TdtpFloatPoint& P) const;
  TdtpFloatPoint ParentToLocal(const TdtpFloatPoint& P) const;
  TdtpFloatPoint DocToLocal(const TdtpFloatPoint& P) const;
  TdtpFloatPoint LocalToDocument(const TdtpFloatPoint& P) const;
  // False without a document.
  bool LocalToScreen(const TdtpFloatPoint& P, TdtpFloatPoint& Out) const;
  bool ScreenToLocal(const platform::TPoint& P, TdtpFloatPoint& Out) const;
  int32_t LocalXToScreen(float X) const;
  int32_t LocalYToScreen(float Y) const;
  int32_t ScreenLeft() const;
  int32_t ScreenTop() const;
  int32_t ScreenRight() const;
  int32_t ScreenBottom() const;
  TdtpFloatRect GetParentBounds() const;
  float GetParentLeft() const { return GetParentBounds().Left; }
  float GetParentTop() const { return GetParentBounds().Top; }
  float GetParentRight() const { return GetParentBounds().Right; }
  float GetParentBottom() const { return GetParentBounds().Bottom; }
  void SetParentLeft(float X);
  void SetParentTop(float Y);
  // The paint rectangle (bounds grown by the paint outsets) in the parent's millimetres.
  TdtpFloatRect GetParentPaintBounds() const;
  // The offset the root adds to its local points to make document points (a page's view
  // position); (0, 0) for other shapes.
  virtual TdtpFloatPoint RootViewOffset() const { return {0, 0}; }

  // --- brackets, invalidation, rendering ---
  void Invalidate();
  void Refresh();
  void RefreshAll();
  void UpdateBuffer();
  void UpdatePaintRect();
  void BeginUpdate();
  void EndUpdate();
  void BeginDocChange();
  void EndDocChange();
  void LockDocument();
  void UnlockDocument();
  bool CanSelect() const { return FAllowSelect && FVisible; }
  // True while the document edits this shape.
  bool IsEditing() const { return FDocument && FDocument->EditedShape() == this; }
  void SetSelected(bool Value);
  void RotateAboutCentre(float Angle);
  // Paints the screen rectangle R of this shape without a buffer: into Canvas at R's
  // top-left, or (Canvas null) merged into Target at (OffsetX, OffsetY).
  void PaintDirect(const platform::TRect& R, platform::TCanvas* Canvas, TBitmap32* Target,
                   int32_t OffsetX, int32_t OffsetY);
  void PaintOutput(platform::TCanvas* Canvas);
  // A turned, mirrored or flipped shape without a usable buffer: drawn upright at the largest
  // resolution up to the screen's that fits one bitmap, then turned into the screen rectangle
  // Meet and merged into Target at (X, Y) with the master alpha.
  void PaintTurnedDirect(const platform::TRect& Meet, TBitmap32* Target, int32_t X, int32_t Y);
  // The same into any target: Map takes local millimetres to Target's pixels (Meet's frame),
  // MaxDpm is the finest resolution used, Alpha the master alpha of the merge. False when
  // nothing could be drawn.
  bool PaintTurnedInto(const platform::TRect& Meet, TBitmap32* Target, int32_t X, int32_t Y, float MaxDpm,
                       uint32_t Alpha, const std::function<bool(const TdtpFloatPoint&, TdtpFloatPoint&)>& Map);
  TdtpMatrix PaintOwnScreenContent(const platform::TRect& R, TBitmap32& bmp);

  // --- resources (owned by their holders; the list does not own them) ---
  int32_t IndexOfResource(platform::TObject* Resource) const;
  void AddResource(platform::TObject* Resource);
  // A resource leaving (destroyed) takes itself off the list.
  void RemoveResource(platform::TObject* Resource);
  const std::vector<platform::TObject*>& Resources() const { return FResources; }

  // --- handles, hit testing and dragging (dtpShape_Handles.cpp) ---
  // Rebuilds Handles and HandleEdges; called before every use of them.
  virtual void CreateHandles();
  void SetHandleCount(int32_t N);
  void SetHandleEdgeCount(int32_t N);
  int32_t HandleCount() const { return int32_t(Handles.size()); }
  int32_t HandleEdgeCount() const { return int32_t(HandleEdges.size()); }
  // An index out of range leaves Out untouched.
  void GetHandle(int32_t I, TdtpHandle& Out) const;
  void GetHandleEdge(int32_t I, TdtpHandleEdge& Out) const;
  // The 7 x 7 pixel square around handle I on screen.
  void GetHandleRect(int32_t I, platform::TRect& Rect) const;
  // The hit code of the handle or edge at screen point P; records the handle as DragHandle.
  virtual uint8_t HandleAtPoint(const platform::TPoint& P);
  virtual bool HitTest(const platform::TPoint& P);
  virtual bool FindShapeAt(const platform::TPoint& P, TdtpShape*& Shape);
  virtual bool HitTestPixels(const platform::TPoint& P);
  virtual bool IntersectsRect(const platform::TRect& R);
  // The screen rectangle plus, for a selectable shape, its handles.
  void GetScreenBounds(platform::TRect& Rect);
  void PaintHandle(platform::TCanvas* Canvas, int32_t I);
  void PaintHandleEdges(platform::TCanvas* Canvas);
  // The editing outline: handle edges and handles; shapes being edited draw their own.
  virtual void PaintOutline(platform::TCanvas* Canvas);
  virtual void PaintFocusRect(platform::TCanvas* Canvas, const platform::TRect& Rect, platform::TColor Color);
  // The drag arithmetic for a mouse movement Delta (screen pixels since the drag began):
  // fills DragLeft/Top/Width/Height/Angle and the handles' dragged positions; Matrix maps
  // local millimetres to their dragged place. (Named apart from the DragHandle index field.)
  virtual void DragHandleBy(const platform::TPoint& Delta, bool Free, TdtpMatrix& Matrix, uint8_t Code);
  void ScreenDeltaToLocal(const platform::TPoint& Delta, TdtpFloatPoint& D) const;
  // (-1, -1) without a buffer.
  void ScreenToBufferPixel(const platform::TPoint& P, platform::TPoint& Pixel) const;

  // --- events ---
  platform::TNotifyEvent OnChange;
  platform::TNotifyEvent OnBoundsChange;
  platform::TNotifyEvent OnEdit;

  // Hit-test and handle data used by the editing code.
  std::vector<TdtpHandle> Handles;
  std::vector<TdtpHandleEdge> HandleEdges;
  // Drag state (the editing code fills it).
  float DragAngle = 0, DragHeight = 0, DragLeft = 0, DragTop = 0, DragWidth = 0;
  int32_t DragHandle = -1;
  TdtpMatrix ScreenMatrix{};

 protected:
  // How a stored property takes a new value: an unchanged value does nothing (false); a new one
  // is stored and the shape redrawn and changed, which marks it, its parents and its document
  // modified, so that a save in place writes it. Setters with more to do (undo records,
  // rebuilt outlines) end with Changed in the same way.
  template <typename T>
  bool StoreProperty(T& Field, const T& Value) {
    if (Field == Value) return false;
    Field = Value;
    Invalidate();
    Changed();
    return true;
  }
  // True while this shape or an ancestor loads from XML: nothing is recorded or reported.
  bool IsLoading() const;
  // The document told about this shape's stored elements: its own, an ancestor's, or the one
  // a shape built by CreateFromXml is loaded for.
  IdtpDocumentHost* FilingHost() const;
  void SetCursorId(int16_t Id) { FCursor = Id; }
  // Builds the buffer for this shape's rendering; false when the size is refused.
  bool RenderInto(TBitmap32* Target);
  void PaintChildWithoutBufferInto(TdtpShape* C, TBitmap32* Target);

  bool FHitTestEnabled = true;
  bool FAllowResize = true;
  bool FAllowRotate = true;
  bool FAllowSelect = true;
  TdtpAnchors FAnchors = cDefaultAnchors;
  float FAspectRatio = 0;
  std::unique_ptr<TBitmap32> FBuffer;
  // The page's last composition (its own layer and where each child went), so that a change of
  // some children recomposes only the pixels they covered and cover.
  struct TComposeCache;
  struct TComposeCacheDeleter {
    void operator()(TComposeCache* Cache) const;
  };
  std::unique_ptr<TComposeCache, TComposeCacheDeleter> FCompose;
  uint64_t FBufferSerial = 0;  // new for every buffer built
  bool ComposeQualifies() const;
  bool RecomposeChanged();
  platform::TRect FBufferRect;
  TdtpMatrix FBufferMatrix{};
  float FOutsetLeft = 0, FOutsetTop = 0, FOutsetRight = 0, FOutsetBottom = 0;
  std::unique_ptr<TFloatSizeConstraint> FConstraints;
  float FDocAngle = 0;
  float FCos = 1, FSin = 0;
  float FDocHeight = 0;
  IdtpDocumentHost* FDocument = nullptr;
  float FDocWidth = 0;
  bool FFlipped = false;
  bool FGrouped = false;
  std::string FHint;
  int16_t FCursor = -3;
  TdtpMatrix FDeviceMatrix{};
  int32_t FMasterAlpha = 255;
  bool FMirrored = false;
  bool FModified = false;
  bool FForceBuffer = false;
  bool FChangePending = false;
  bool FRepaint = true;
  TdtpShape* FParent = nullptr;
  bool FParentShowHint = false;
  platform::TPopupMenu* FPopupMenu = nullptr;
  bool FPreserveAspect = false;
  std::vector<platform::TObject*> FResources;
  bool FSelected = false;
  int32_t FShapeId = 0;
  std::vector<std::unique_ptr<TdtpShape>> FShapes;
  bool FShowHint = false;
  bool FSmartHitTest = true;
  float FCurbLeft = 0, FCurbTop = 0, FCurbRight = 0, FCurbBottom = 0;
  int32_t FUpdateCount = 0;
  bool FVisible = true;
  platform::TColor FColor = 0xFFFFFF;
  float FDocLeft = 0, FDocTop = 0;
  std::string FName;
  int32_t FLoading = 0;
  IdtpDocumentHost* FLoadHost = nullptr;

 private:
  void LayoutChildren(float OldWidth, float OldHeight, float NewWidth, float NewHeight);
  void NotifyDestroyed(TdtpShape* Shape);
  static std::unique_ptr<TdtpShape> TakeFromParent(std::unique_ptr<TdtpShape> Shape, const TdtpShape* NewParent);
  friend std::unique_ptr<TdtpShape> CreateFromXml(const TShapeClass& Cls, TXmlNode* Node, IdtpDocumentHost* Host);
};

// Creates a shape of a registered class in both phases.
std::unique_ptr<TdtpShape> CreateShape(const TShapeClass& Cls);
// Creates a shape of a registered class and loads it from Node. Host is the document the
// shape is loaded for (it reads its own elements of the shape) when the shape is attached to
// it only afterwards; it may be null.
std::unique_ptr<TdtpShape> CreateFromXml(const TShapeClass& Cls, TXmlNode* Node, IdtpDocumentHost* Host = nullptr);
template <typename T>
std::unique_ptr<T> NewShape() {
  auto s = std::make_unique<T>();
  s->Initialize();
  return s;
}
// Helper for a class's StaticClass(): a descriptor that constructs T.
template <typename T>
TShapeClass MakeShapeClass(const std::string& Name, const TShapeClass* Parent) {
  return TShapeClass{Name, [] { return std::unique_ptr<TdtpShape>(std::make_unique<T>()); }, Parent};
}

// The registry of shape classes by name.
void RegisterShapeClass(const TShapeClass& Cls);
// The first class registered under exactly Name (case-sensitive); TdtpShape when none.
const TShapeClass& FindShapeClass(const std::string& Name);
int32_t ShapeClassCount();
void InitializeDtpShape();
void FinalizeDtpShape();

// Conversions used by undo values and the shape units.
float DtpStrToFloat(const std::string& S);
bool DtpStrToBool(const std::string& S);
uint8_t StrToFontStyles(const std::string& S);  // bit 0 bold, 1 italic, 2 underline, 3 strikeout
int32_t SignInt(int32_t V);
int32_t SignFloat(float V);
TdtpFloatRect UnionFloatRect(const TdtpFloatRect& A, const TdtpFloatRect& B);
platform::TRect MapRect(const platform::TRect& R, const platform::TRect& From, const platform::TRect& To);
TdtpFloatRect ScaleFloatRect(const TdtpFloatRect& R, float Factor);

}  // namespace document

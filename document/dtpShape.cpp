#include "document/dtpShape.h"

#include <algorithm>
#include <cmath>
#include <functional>

#include "document/XmlDocuments.h"
#include "document/dtpPage.h"
#include "document/dtpResource.h"
#include "document/dtpShapeRenderPriv.h"
#include "platform/Rounding.h"
#include "platform/SysUtils.h"

namespace document {

using platform::TRect;

namespace {

constexpr long double cPi = 3.14159265358979323846264338327950288L;

float Finite(float v) { return std::isfinite(v) ? v : 0.0f; }

// A screen or device position in whole pixels, held within 2^29 pixels of the origin: far
// outside any view, it neither wraps round into it nor overflows a rectangle's width.
int32_t ScreenPixel(long double V) {
  constexpr int64_t kFar = int64_t(1) << 29;
  return int32_t(std::clamp<int64_t>(platform::Round(V), -kFar, kFar));
}

// The shape registry; a function-local static so nothing runs before InitializeDtpShape.
std::vector<const TShapeClass*>& Registry() {
  static std::vector<const TShapeClass*> list;
  return list;
}

// Ends the descendants' ids in the stream of a deletion's undo command ("KIDS").
constexpr int32_t cDescendantIdsMark = 0x5344494B;

const char* const cAnchorNames[9] = {"default", "PosXProp", "PosYProp", "SizeXProp", "SizeYProp",
                                     "LeftLock", "TopLock", "RightLock", "BottomLock"};

// New position and size of a child along one axis when its parent goes from OldSize to
// NewSize. A non-positive old size gives no ratio: the child stays as it is.
void LayoutChildAxis(float& Pos, float& Size, float OldSize, float NewSize, bool PropPos,
                     bool PropSize, bool LowLock) {
  if (!(OldSize > 0)) return;
  const long double ratio = (long double)NewSize / OldSize;
  const float childPos = Pos, childSize = Size;
  float size = childSize;
  if (PropPos) {
    if (PropSize) size = float(childSize * ratio);
    Pos = float((childPos + childSize / 2.0L) * ratio - size / 2.0L);
  } else if (LowLock) {
    Pos = childPos;
    if (PropSize) size = float(childSize * ratio);
  } else {
    if (PropSize) size = float(childSize * ratio);
    Pos = float((long double)childPos + childSize - size);
  }
  Size = size;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Matrices, conversions and small helpers

TdtpMatrix MatrixFromAffine(const raster::TFloatMatrix& M) {
  TdtpMatrix r{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r[i][j] = M[j][i];
  return r;
}

TdtpMatrix IdentityDtpMatrix() {
  TdtpMatrix r{};
  r[0][0] = r[1][1] = r[2][2] = 1;
  return r;
}

TdtpFloatPoint MapPoint(const TdtpMatrix& M, float X, float Y) {
  return {float((long double)M[0][0] * X + (long double)M[0][1] * Y + M[0][2]),
          float((long double)M[1][0] * X + (long double)M[1][1] * Y + M[1][2])};
}

float DtpStrToFloat(const std::string& S) { return float(platform::StrToFloat(S)); }

bool DtpStrToBool(const std::string& S) {
  if (S.empty()) return false;
  const char c = char(std::toupper((unsigned char)S[0]));
  return c == 'T' || c == 'Y';
}

uint8_t StrToFontStyles(const std::string& S) {
  uint8_t r = 0;
  if (S.find('B') != std::string::npos) r |= 1;
  if (S.find('I') != std::string::npos) r |= 2;
  if (S.find('U') != std::string::npos) r |= 4;
  if (S.find('S') != std::string::npos) r |= 8;
  return r;
}

int32_t SignInt(int32_t V) { return V > 0 ? 1 : V < 0 ? -1 : 0; }
int32_t SignFloat(float V) { return V > 0 ? 1 : V < 0 ? -1 : 0; }

TdtpFloatRect UnionFloatRect(const TdtpFloatRect& A, const TdtpFloatRect& B) {
  return {std::min(A.Left, B.Left), std::min(A.Top, B.Top), std::max(A.Right, B.Right),
          std::max(A.Bottom, B.Bottom)};
}

TRect MapRect(const TRect& R, const TRect& From, const TRect& To) {
  auto mapX = [&](int32_t x) -> int32_t {
    if (From.Width() == 0) return To.Left;
    return int32_t(platform::Round((long double)(x - From.Left) * To.Width() / From.Width() + To.Left));
  };
  auto mapY = [&](int32_t y) -> int32_t {
    if (From.Height() == 0) return To.Top;
    return int32_t(platform::Round((long double)(y - From.Top) * To.Height() / From.Height() + To.Top));
  };
  return {mapX(R.Left), mapY(R.Top), mapX(R.Right), mapY(R.Bottom)};
}

TdtpFloatRect ScaleFloatRect(const TdtpFloatRect& R, float Factor) {
  return {R.Left * Factor, R.Top * Factor, R.Right * Factor, R.Bottom * Factor};
}

void IdtpDocumentHost::AddUndo(std::unique_ptr<TdtpCommand>) {}
void IdtpDocumentHost::AddSecondCommand(std::unique_ptr<TdtpCommand>) {}

TdtpFloatPoint IdtpDocumentHost::DocToScreen(const TdtpFloatPoint& P) const {
  const TdtpFloatPoint o = ViewOrigin();
  const float dpm = ScreenDpm();
  return {float(((long double)P.X - o.X) * dpm), float(((long double)P.Y - o.Y) * dpm)};
}

TdtpFloatPoint IdtpDocumentHost::ScreenToDoc(const platform::TPoint& P) const {
  const TdtpFloatPoint o = ViewOrigin();
  const float dpm = ScreenDpm();
  return {float((long double)P.X / dpm + o.X), float((long double)P.Y / dpm + o.Y)};
}

// ---------------------------------------------------------------------------------------
// Registry

const TShapeClass& TdtpShape::StaticClass() {
  static const TShapeClass cls = MakeShapeClass<TdtpShape>("TdtpShape", nullptr);
  return cls;
}

bool TdtpShape::InheritsFrom(const TShapeClass& Cls) const {
  for (const TShapeClass* c = &Class(); c; c = c->Parent)
    if (c == &Cls) return true;
  return false;
}

std::unique_ptr<TdtpShape> CreateShape(const TShapeClass& Cls) {
  auto s = Cls.Construct();
  s->Initialize();
  return s;
}

std::unique_ptr<TdtpShape> CreateFromXml(const TShapeClass& Cls, TXmlNode* Node, IdtpDocumentHost* Host) {
  auto s = CreateShape(Cls);
  s->FLoadHost = Host;
  s->LoadFromXml(Node);
  s->FLoadHost = nullptr;
  return s;
}

void RegisterShapeClass(const TShapeClass& Cls) {
  auto& reg = Registry();
  if (std::find(reg.begin(), reg.end(), &Cls) == reg.end()) reg.push_back(&Cls);
}

const TShapeClass& FindShapeClass(const std::string& Name) {
  for (const TShapeClass* c : Registry())
    if (c->Name == Name) return *c;
  return TdtpShape::StaticClass();
}

int32_t ShapeClassCount() { return int32_t(Registry().size()); }

void InitializeDtpShape() { RegisterShapeClass(TdtpShape::StaticClass()); }
void FinalizeDtpShape() { Registry().clear(); }

// ---------------------------------------------------------------------------------------
// Life

void TFloatSizeConstraint::SettingChanged() {
  if (FOwner) FOwner->Changed();
}

TdtpShape::TdtpShape() : FConstraints(std::make_unique<TFloatSizeConstraint>(this)) {
  FBufferMatrix = IdentityDtpMatrix();
  FDeviceMatrix = IdentityDtpMatrix();
  ScreenMatrix = IdentityDtpMatrix();
}

TdtpShape::~TdtpShape() {
  // Children go before the parent; they must not reach back into it.
  for (auto& c : FShapes) c->FParent = nullptr;
  FShapes.clear();
  // Resources outliving their owner must not tell it they leave.
  for (platform::TObject* r : FResources)
    if (auto* res = dynamic_cast<TdtpResource*>(r)) res->DetachOwner();
}

void TdtpShape::Initialize() { InitDefaults(); }

void TdtpShape::InitDefaults() {
  FHitTestEnabled = true;
  FAllowResize = FAllowRotate = FAllowSelect = true;
  FAnchors = cDefaultAnchors;
  FAspectRatio = 0;
  FColor = 0xFFFFFF;
  FOutsetLeft = FOutsetTop = FOutsetRight = FOutsetBottom = 0;
  FDocAngle = 0;
  FCos = 1;
  FSin = 0;
  FDocHeight = FDocLeft = FDocTop = FDocWidth = 0;
  FFlipped = FMirrored = FForceBuffer = FPreserveAspect = false;
  FMasterAlpha = 255;
  FSmartHitTest = FVisible = true;
}

void TdtpShape::Assign(const platform::TPersistent* Source) {
  if (auto* src = dynamic_cast<const TdtpShape*>(Source)) {
    if (src == this) return;
    // Copied before the clear: the source may be one of the children the clear frees.
    TXmlDocument xml;
    const_cast<TdtpShape*>(src)->SaveToXml(xml.Root());
    // Loading stores fields without telling anyone: the new content is shown and changed
    // here, once, so that a save in place writes it.
    Invalidate();
    BeginUpdate();
    try {
      Clear();
      LoadFromXml(xml.Root());
      FreeBuffersAll();
      RefreshAll();
      Changed();
    } catch (...) {
      EndUpdate();
      throw;
    }
    EndUpdate();
    return;
  }
  TPersistent::Assign(Source);
}

TdtpShape* TdtpShape::GetShape(int32_t Index) const {
  if (Index < 0 || Index >= int32_t(FShapes.size())) return nullptr;
  return FShapes[size_t(Index)].get();
}

IdtpDocumentHost* TdtpShape::FilingHost() const {
  for (const TdtpShape* s = this; s; s = s->FParent) {
    if (s->FDocument) return s->FDocument;
    if (s->FLoadHost) return s->FLoadHost;
  }
  return nullptr;
}

bool TdtpShape::IsLoading() const {
  for (const TdtpShape* s = this; s; s = s->FParent)
    if (s->FLoading > 0) return true;
  return false;
}

// ---------------------------------------------------------------------------------------
// Properties

void TdtpShape::SetDocLeft(float Value) {
  if (Value != FDocLeft) SetDocBounds(Value, FDocTop, FDocWidth, FDocHeight);
}
void TdtpShape::SetDocTop(float Value) {
  if (Value != FDocTop) SetDocBounds(FDocLeft, Value, FDocWidth, FDocHeight);
}
void TdtpShape::SetDocWidth(float Value) {
  if (Value != FDocWidth) SetDocBounds(FDocLeft, FDocTop, Value, FDocHeight);
}
void TdtpShape::SetDocHeight(float Value) {
  if (Value != FDocHeight) SetDocBounds(FDocLeft, FDocTop, FDocWidth, Value);
}

void TdtpShape::SetDocAngle(float Value) {
  Value = Finite(Value);
  if (Value == FDocAngle) return;
  RecordFloatChange("DocAngle", FDocAngle);
  Invalidate();
  float a = float(Value - (long double)platform::Floor((long double)Value / 360) * 360);
  // A tiny negative angle comes out as 360 once stored as a Single.
  if (a >= 360.0f || a < 0.0f) a = 0;
  FDocAngle = a;
  FCos = float(std::cos((long double)a * cPi / 180));
  FSin = float(std::sin((long double)a * cPi / 180));
  FreeBuffer();
  Invalidate();
  Changed();
}

void TdtpShape::SetMasterAlpha(int32_t Value) {
  Value = std::clamp(Value, 0, 255);
  if (Value == FMasterAlpha) return;
  RecordFloatChange("MasterAlpha", float(FMasterAlpha));
  FMasterAlpha = Value;
  Invalidate();
  Changed();
}

void TdtpShape::SetFlipped(bool V) {
  if (V == FFlipped) return;
  FFlipped = V;
  UpdatePaintRect();
  FreeBuffer();
  Invalidate();
  Changed();
}

void TdtpShape::SetMirrored(bool V) {
  if (V == FMirrored) return;
  FMirrored = V;
  UpdatePaintRect();
  FreeBuffer();
  Invalidate();
  Changed();
}

void TdtpShape::SetSmartHitTest(bool V) { StoreProperty(FSmartHitTest, V); }

void TdtpShape::SetVisible(bool V) { StoreProperty(FVisible, V); }

void TdtpShape::SetColor(platform::TColor Value) {
  if (Value == FColor) return;
  FColor = Value;
  RefreshAll();
  Changed();
}

void TdtpShape::SetName(const std::string& Value) {
  if (Value == FName) return;
  FName = Value;
  Changed();
}

bool TdtpShape::EffectiveShowHint() const {
  return (FParentShowHint && FDocument) ? FDocument->ShowHint() : FShowHint;
}

TColor32 TdtpShape::GetFillColor32() const { return raster::Color32(FColor); }

TColor32 TdtpShape::GetDocColor32() const {
  return FDocument ? raster::Color32(FDocument->Color()) : 0xFF000000u;
}

bool TdtpShape::NeedsBuffer() const {
  if (FForceBuffer || FDocAngle != 0 || FMasterAlpha != 255 || FSmartHitTest) return true;
  return IsFlippedOrMirrored();
}

void TdtpShape::GetChildrenBounds(TdtpFloatRect& Rect) const {
  Rect = {0, 0, 0, 0};
  bool first = true;
  for (const auto& c : FShapes) {
    const TdtpFloatRect r = c->GetParentPaintBounds();
    Rect = first ? r : UnionFloatRect(Rect, r);
    first = false;
  }
}

// ---------------------------------------------------------------------------------------
// Undo recording

bool TdtpShape::IsUndoEnabled() const { return FDocument && FDocument->UndoEnabled(); }

void TdtpShape::RecordChange(uint8_t Kind, const std::string& Name, const std::string& OldValue) {
  if (!FDocument || IsLoading()) return;
  if (FDocument->UndoEnabled())
    FDocument->AddUndo(std::make_unique<TdtpCommand>(Kind, FShapeId, Name, OldValue));
  else if (FDocument->SecondRecording())
    FDocument->AddSecondCommand(std::make_unique<TdtpCommand>(Kind, FShapeId, Name, OldValue));
}

void TdtpShape::RecordFloatChange(const std::string& Name, float OldValue) {
  RecordChange(ckPropertyChange, Name, platform::FloatToStr(OldValue));
}

void TdtpShape::RecordIntegerChange(uint8_t Kind, const std::string& Name, int32_t OldValue) {
  RecordChange(Kind, Name, platform::IntToStr(OldValue));
}

void TdtpShape::RecordBoolChange(const std::string& Name, bool OldValue) {
  RecordChange(ckPropertyChange, Name, OldValue ? "True" : "False");
}

void TdtpShape::RecordFontStyleChange(const std::string& Name, uint8_t OldStyle) {
  std::string s;
  if (OldStyle & 1) s += 'B';
  if (OldStyle & 2) s += 'I';
  if (OldStyle & 4) s += 'U';
  if (OldStyle & 8) s += 'S';
  RecordChange(ckPropertyChange, Name, s);
}

void TdtpShape::RecordShapeChange(uint8_t Kind, TdtpShape* Shape) {
  if (Kind != ckShapeRemoved || !Shape || !FDocument || IsLoading()) return;
  const bool undo = FDocument->UndoEnabled();
  if (!undo && !FDocument->SecondRecording()) return;
  auto stream = std::make_unique<platform::TMemoryStream>();
  const int32_t index = Shape->FParent ? Shape->FParent->IndexOfShape(Shape) : -1;
  const int32_t id = Shape->FShapeId;
  stream->WriteBuffer(&index, 4);
  stream->WriteBuffer(&id, 4);
  Shape->SaveToStream(stream.get());
  // The ids of the shape's descendants follow, so that commands addressed to them still find
  // them once the deletion is undone: the ids in tree order, their count and a mark.
  std::vector<int32_t> ids;
  std::function<void(const TdtpShape*)> collect = [&](const TdtpShape* S) {
    for (const auto& c : S->FShapes) {
      ids.push_back(c->FShapeId);
      collect(c.get());
    }
  };
  collect(Shape);
  const int32_t count = int32_t(ids.size());
  if (count > 0) stream->WriteBuffer(ids.data(), count * 4);
  stream->WriteBuffer(&count, 4);
  stream->WriteBuffer(&cDescendantIdsMark, 4);
  auto cmd = std::make_unique<TdtpCommand>(Kind, FShapeId, "ClassName", Shape->ClassName(), std::move(stream));
  if (undo)
    FDocument->AddUndo(std::move(cmd));
  else
    FDocument->AddSecondCommand(std::move(cmd));
}

bool TdtpShape::ExecuteCommand(TdtpCommand* Command) {
  if (!Command) return false;
  if (Command->Target != FShapeId) {
    for (auto& c : FShapes)
      if (c->ExecuteCommand(Command)) return true;
    return false;
  }
  switch (Command->Kind) {
    case ckPropertyChange:
      SetPropertyByName(Command->Name, Command->Value);
      break;
    case ckShapeAdded:
      DeleteShape(platform::StrToInt(Command->Value));
      break;
    case ckShapesExchanged: {
      // Exchanging the same two again puts them back.
      const size_t space = Command->Value.find(' ');
      int32_t a = -1, b = -1;
      if (space != std::string::npos && platform::TryStrToInt(Command->Value.substr(0, space), a) &&
          platform::TryStrToInt(Command->Value.substr(space + 1), b))
        MoveShapeIndex(a, b);
      break;
    }
    case ckShapeRemoved: {
      if (!Command->Stream) break;
      platform::TStream* st = Command->Stream.get();
      int32_t index = 0, id = 0;
      st->SetPosition(0);
      st->ReadBuffer(&index, 4);
      st->ReadBuffer(&id, 4);
      // The descendants' ids after the shape's XML, when the stream ends with their mark.
      const int64_t size = st->GetSize();
      int64_t xmlEnd = size;
      std::vector<int32_t> ids;
      if (size >= 16) {
        int32_t tail[2] = {0, 0};
        st->SetPosition(size - 8);
        st->ReadBuffer(tail, 8);
        if (tail[1] == cDescendantIdsMark && tail[0] >= 0 && tail[0] <= (size - 16) / 4) {
          xmlEnd = size - 8 - int64_t(tail[0]) * 4;
          ids.resize(size_t(tail[0]));
          st->SetPosition(xmlEnd);
          if (!ids.empty()) st->ReadBuffer(ids.data(), tail[0] * 4);
        }
      }
      platform::TMemoryStream text;
      st->SetPosition(8);
      if (xmlEnd > 8) text.CopyFrom(st, xmlEnd - 8);
      text.SetPosition(0);
      TXmlDocument xml;
      xml.LoadFromStream(&text);
      auto shape = CreateFromXml(FindShapeClass(Command->Value), xml.Root(), FilingHost());
      TdtpShape* raw = shape.get();
      InsertShape(index, std::move(shape));
      raw->FShapeId = id;
      std::vector<TdtpShape*> order;
      std::function<void(TdtpShape*)> collect = [&](TdtpShape* S) {
        for (auto& c : S->FShapes) {
          order.push_back(c.get());
          collect(c.get());
        }
      };
      collect(raw);
      if (order.size() == ids.size())
        for (size_t i = 0; i < ids.size(); ++i) order[i]->FShapeId = ids[i];
      break;
    }
    default:
      break;
  }
  return true;
}

void TdtpShape::SetPropertyByName(const std::string& Name, const std::string& Value) {
  using platform::SameText;
  if (SameText(Name, "DocLeft"))
    SetDocLeft(DtpStrToFloat(Value));
  else if (SameText(Name, "DocTop"))
    SetDocTop(DtpStrToFloat(Value));
  else if (SameText(Name, "DocWidth"))
    SetDocWidth(DtpStrToFloat(Value));
  else if (SameText(Name, "DocHeight"))
    SetDocHeight(DtpStrToFloat(Value));
  else if (SameText(Name, "DocAngle"))
    SetDocAngle(DtpStrToFloat(Value));
  else if (SameText(Name, "MasterAlpha"))
    SetMasterAlpha(platform::StrToInt(Value));
}

// ---------------------------------------------------------------------------------------
// Geometry

bool TdtpShape::ConstrainSize(float& Width, float& Height) {
  if (!FAllowResize) {
    Width = FDocWidth;
    Height = FDocHeight;
    return false;
  }
  const float minWidth = FConstraints->MinWidth, maxWidth = FConstraints->MaxWidth;
  const float minHeight = FConstraints->MinHeight, maxHeight = FConstraints->MaxHeight;
  Width = Finite(Width);
  Height = Finite(Height);
  if (minWidth > 0) Width = std::max(Width, minWidth);
  if (maxWidth > 0) Width = std::min(Width, maxWidth);
  if (minHeight > 0) Height = std::max(Height, minHeight);
  if (maxHeight > 0) Height = std::min(Height, maxHeight);
  Width = std::max(0.1f, Width);
  Height = std::max(0.1f, Height);
  const float ar = FAspectRatio;
  // A ratio that is not a positive finite number cannot be kept.
  if (FPreserveAspect && ar > 0 && std::isfinite(ar)) {
    if ((long double)Width / Height <= ar)
      Height = float((long double)Width / ar);
    else
      Width = float((long double)Height * ar);
    if (Width < minWidth) {
      Width = minWidth;
      Height = float((long double)Width / ar);
    }
    if (Height < minHeight) {
      Height = minHeight;
      Width = float((long double)Height * ar);
    }
  }
  return true;
}

void TdtpShape::StoreAspectRatio() {
  float ratio = FDocHeight != 0 ? float((long double)FDocWidth / FDocHeight) : 0.0f;
  if (!std::isfinite(ratio)) ratio = 0;
  if (FPreserveAspect && ratio == FAspectRatio) return;
  FPreserveAspect = true;
  FAspectRatio = ratio;
  Changed();
}

// The stored geometry changes here: the shape is modified, so that a save writes it, also
// when code calls these directly rather than through SetDocBounds.
void TdtpShape::SetDocPosition(float Left, float Top) {
  const bool moved = Left != FDocLeft || Top != FDocTop;
  BeginDocChange();
  try {
    if (Left != FDocLeft) RecordFloatChange("DocLeft", FDocLeft);
    if (Top != FDocTop) RecordFloatChange("DocTop", FDocTop);
    FDocLeft = Left;
    FDocTop = Top;
  } catch (...) {
    EndDocChange();
    throw;
  }
  EndDocChange();
  if (moved && !IsLoading()) SetModified(true);
}

void TdtpShape::SetDocSize(float Width, float Height) {
  const bool sized = Width != FDocWidth || Height != FDocHeight;
  BeginDocChange();
  try {
    if (Width != FDocWidth) RecordFloatChange("DocWidth", FDocWidth);
    if (Height != FDocHeight) RecordFloatChange("DocHeight", FDocHeight);
    if (sized) {
      FDocWidth = Width;
      FDocHeight = Height;
      FreeBuffer();
    }
  } catch (...) {
    EndDocChange();
    throw;
  }
  EndDocChange();
  if (sized && !IsLoading()) SetModified(true);
}

void TdtpShape::LayoutChildren(float OldWidth, float OldHeight, float NewWidth, float NewHeight) {
  const TdtpAnchors a = FAnchors;
  bool pxp, pyp, sxp, syp, ll, tl;
  if (a & anDefault) {
    pxp = pyp = true;
    sxp = syp = FAllowResize;
    ll = tl = false;
  } else {
    pxp = a & anPosXProp;
    pyp = a & anPosYProp;
    sxp = a & anSizeXProp;
    syp = a & anSizeYProp;
    ll = a & anLeftLock;
    tl = a & anTopLock;
  }
  for (auto& c : FShapes) {
    float x = c->FDocLeft, w = c->FDocWidth, y = c->FDocTop, h = c->FDocHeight;
    LayoutChildAxis(x, w, OldWidth, NewWidth, pxp, sxp, ll);
    LayoutChildAxis(y, h, OldHeight, NewHeight, pyp, syp, tl);
    c->SetDocBounds(x, y, w, h);
  }
}

void TdtpShape::SetDocBoundsAngle(float Left, float Top, float Width, float Height, float Angle) {
  Left = Finite(Left);
  Top = Finite(Top);
  Width = Finite(Width);
  Height = Finite(Height);
  Angle = Finite(Angle);
  if (Left == FDocLeft && Top == FDocTop && Width == FDocWidth && Height == FDocHeight &&
      Angle == FDocAngle)
    return;
  Invalidate();
  const bool sizeChanges = Width != FDocWidth || Height != FDocHeight;
  if (FGrouped && sizeChanges) LayoutChildren(FDocWidth, FDocHeight, Width, Height);
  BeginDocChange();
  try {
    if (Left != FDocLeft || Top != FDocTop) SetDocPosition(Left, Top);
    if (sizeChanges) SetDocSize(Width, Height);
    if (Angle != FDocAngle) SetDocAngle(Angle);
  } catch (...) {
    EndDocChange();
    throw;
  }
  EndDocChange();
  Invalidate();
  Changed();
  if (OnBoundsChange) OnBoundsChange(this);
}

void TdtpShape::SetDocBounds(float Left, float Top, float Width, float Height) {
  SetDocBoundsAngle(Left, Top, Width, Height, FDocAngle);
}

void TdtpShape::SetDocBoundsConstrained(float Left, float Top, float Width, float Height) {
  ConstrainSize(Width, Height);
  SetDocBounds(Left, Top, Width, Height);
}

void TdtpShape::SetBoundsFromRect(const TdtpFloatRect& R) {
  SetDocBoundsConstrained(std::min(R.Left, R.Right), std::min(R.Top, R.Bottom),
                          std::fabs(R.Right - R.Left), std::fabs(R.Bottom - R.Top));
}

void TdtpShape::ApplyDragBounds() {
  SetDocBoundsConstrained(DragLeft, DragTop, DragWidth, DragHeight);
  RotateAboutCentre(DragAngle);
}

void TdtpShape::ApplyConstraints() {
  float w = FDocWidth, h = FDocHeight;
  ConstrainSize(w, h);
  SetDocBounds(FDocLeft, FDocTop, w, h);
}

void TdtpShape::InflateBy(float DX, float DY) {
  SetDocBounds(FDocLeft - DX, FDocTop - DY, FDocWidth + 2 * DX, FDocHeight + 2 * DY);
}

void TdtpShape::RotateAboutCentre(float Angle) {
  if (Angle == FDocAngle) return;
  const long double c = FCos, s = FSin;
  const long double c2 = std::cos((long double)Angle * cPi / 180);
  const long double s2 = std::sin((long double)Angle * cPi / 180);
  const long double w = FDocWidth / 2.0L, h = FDocHeight / 2.0L;
  const float left = float(FDocLeft + (w * c + h * s) - (w * c2 + h * s2));
  const float top = float(FDocTop + (-w * s + h * c) - (-w * s2 + h * c2));
  SetDocBoundsAngle(left, top, FDocWidth, FDocHeight, Angle);
}

TdtpFloatRect TdtpShape::GetParentPaintBounds() const {
  const float xs[2] = {-FOutsetLeft, FDocWidth + FOutsetRight};
  const float ys[2] = {-FOutsetTop, FDocHeight + FOutsetBottom};
  TdtpFloatRect r{};
  bool first = true;
  for (float x : xs)
    for (float y : ys) {
      const TdtpFloatPoint p = LocalToParent({x, y});
      if (first) {
        r = {p.X, p.Y, p.X, p.Y};
        first = false;
      } else {
        r = {std::min(r.Left, p.X), std::min(r.Top, p.Y), std::max(r.Right, p.X), std::max(r.Bottom, p.Y)};
      }
    }
  return r;
}

TdtpFloatRect TdtpShape::GetParentBounds() const {
  TdtpFloatRect r{};
  bool first = true;
  for (float x : {0.0f, FDocWidth})
    for (float y : {0.0f, FDocHeight}) {
      const TdtpFloatPoint p = LocalToParent({x, y});
      if (first) {
        r = {p.X, p.Y, p.X, p.Y};
        first = false;
      } else {
        r = {std::min(r.Left, p.X), std::min(r.Top, p.Y), std::max(r.Right, p.X), std::max(r.Bottom, p.Y)};
      }
    }
  return r;
}

void TdtpShape::SetParentLeft(float X) {
  const float dx = X - GetParentBounds().Left;
  SetDocBounds(FDocLeft + dx, FDocTop, FDocWidth, FDocHeight);
}

void TdtpShape::SetParentTop(float Y) {
  const float dy = Y - GetParentBounds().Top;
  SetDocBounds(FDocLeft, FDocTop + dy, FDocWidth, FDocHeight);
}

void TdtpShape::CenterAt(float X, float Y) {
  TdtpFloatRect b = GetParentBounds();
  SetParentLeft(X - (b.Right - b.Left) / 2);
  b = GetParentBounds();
  SetParentTop(Y - (b.Bottom - b.Top) / 2);
}

TdtpFloatPoint TdtpShape::LocalToParent(const TdtpFloatPoint& P) const {
  return {float((long double)FCos * P.X + (long double)FSin * P.Y + FDocLeft),
          float(-(long double)FSin * P.X + (long double)FCos * P.Y + FDocTop)};
}

TdtpFloatPoint TdtpShape::ParentToLocal(const TdtpFloatPoint& P) const {
  const long double x = (long double)P.X - FDocLeft, y = (long double)P.Y - FDocTop;
  return {float(FCos * x - FSin * y), float(FSin * x + FCos * y)};
}

// The root's local points become document points by its view offset; every other shape maps
// through its parents first.
TdtpFloatPoint TdtpShape::LocalToDocument(const TdtpFloatPoint& P) const {
  TdtpFloatPoint p = P;
  const TdtpShape* s = this;
  for (; s->FParent; s = s->FParent) p = s->LocalToParent(p);
  const TdtpFloatPoint o = s->RootViewOffset();
  return {p.X + o.X, p.Y + o.Y};
}

TdtpFloatPoint TdtpShape::DocToLocal(const TdtpFloatPoint& P) const {
  if (!FParent) {
    const TdtpFloatPoint o = RootViewOffset();
    return {P.X - o.X, P.Y - o.Y};
  }
  return ParentToLocal(FParent->DocToLocal(P));
}

bool TdtpShape::LocalToScreen(const TdtpFloatPoint& P, TdtpFloatPoint& Out) const {
  if (!FDocument) return false;
  Out = FDocument->DocToScreen(LocalToDocument(P));
  return true;
}

bool TdtpShape::ScreenToLocal(const platform::TPoint& P, TdtpFloatPoint& Out) const {
  if (!FDocument) return false;
  Out = DocToLocal(FDocument->ScreenToDoc(P));
  return true;
}

int32_t TdtpShape::LocalXToScreen(float X) const {
  return ScreenPixel((long double)MapPoint(FDeviceMatrix, X, 0).X);
}
int32_t TdtpShape::LocalYToScreen(float Y) const {
  return ScreenPixel((long double)MapPoint(FDeviceMatrix, 0, Y).Y);
}
int32_t TdtpShape::ScreenLeft() const { return LocalXToScreen(0); }
int32_t TdtpShape::ScreenTop() const { return LocalYToScreen(0); }
int32_t TdtpShape::ScreenRight() const { return LocalXToScreen(FDocWidth); }
int32_t TdtpShape::ScreenBottom() const { return LocalYToScreen(FDocHeight); }

std::vector<platform::TPoint> TdtpShape::CreateRegion() const {
  std::vector<platform::TPoint> pts;
  const TdtpFloatPoint corners[4] = {{0, 0}, {FDocWidth, 0}, {FDocWidth, FDocHeight}, {0, FDocHeight}};
  for (const auto& c : corners) {
    TdtpFloatPoint s;
    if (!LocalToScreen(c, s)) return {};
    pts.push_back({ScreenPixel((long double)s.X), ScreenPixel((long double)s.Y)});
  }
  return pts;
}

std::vector<platform::TPoint> TdtpShape::CreatePaintRegion() const {
  std::vector<platform::TPoint> pts;
  const float l = -FOutsetLeft, t = -FOutsetTop, r = FDocWidth + FOutsetRight, b = FDocHeight + FOutsetBottom;
  const TdtpFloatPoint corners[4] = {{l, t}, {r, t}, {r, b}, {l, b}};
  for (const auto& c : corners) {
    TdtpFloatPoint s;
    if (!LocalToScreen(c, s)) return {};
    pts.push_back({ScreenPixel((long double)s.X), ScreenPixel((long double)s.Y)});
  }
  return pts;
}

void TdtpShape::GetScreenRect(TRect& Rect) const {
  Rect = {0, 0, 0, 0};
  if (!FDocument) return;
  const float l = -FOutsetLeft, t = -FOutsetTop, r = FDocWidth + FOutsetRight, b = FDocHeight + FOutsetBottom;
  const TdtpFloatPoint corners[4] = {{l, t}, {r, t}, {l, b}, {r, b}};
  float minX = 0, minY = 0, maxX = 0, maxY = 0;
  for (int i = 0; i < 4; ++i) {
    TdtpFloatPoint s;
    LocalToScreen(corners[i], s);
    if (i == 0) {
      minX = maxX = s.X;
      minY = maxY = s.Y;
    } else {
      minX = std::min(minX, s.X);
      maxX = std::max(maxX, s.X);
      minY = std::min(minY, s.Y);
      maxY = std::max(maxY, s.Y);
    }
  }
  Rect = {ScreenPixel((long double)minX - 0.5L), ScreenPixel((long double)minY - 0.5L),
          ScreenPixel((long double)maxX + 0.5L), ScreenPixel((long double)maxY + 0.5L)};
}

void TdtpShape::SnapPoint(TdtpFloatPoint& P) {
  if (!FParent) return;
  TdtpFloatPoint p = LocalToParent(P);
  FParent->SnapPoint(p);
  P = ParentToLocal(p);
}

void TdtpShape::AdjustPaintRect(float& Left, float& Top, float& Right, float& Bottom) {
  if (FMirrored) Left = Right = std::max(Left, Right);
  if (FFlipped) Top = Bottom = std::max(Top, Bottom);
}

void TdtpShape::UpdatePaintRect() {
  float l = FCurbLeft, t = FCurbTop, r = FCurbRight, b = FCurbBottom;
  AdjustPaintRect(l, t, r, b);
  FOutsetLeft = l;
  FOutsetTop = t;
  FOutsetRight = r;
  FOutsetBottom = b;
}

void TdtpShape::SetPaintOutset(float Value) { SetPaintOutsets(Value, Value, Value, Value); }

void TdtpShape::SetPaintOutsets(float Left, float Top, float Right, float Bottom) {
  if (Left == FCurbLeft && Top == FCurbTop && Right == FCurbRight && Bottom == FCurbBottom) return;
  FCurbLeft = Left;
  FCurbTop = Top;
  FCurbRight = Right;
  FCurbBottom = Bottom;
  Invalidate();
  UpdatePaintRect();
  FreeBuffer();
  // The curbs are stored.
  Changed();
}

// ---------------------------------------------------------------------------------------
// Brackets and notification

void TdtpShape::Changed() {
  if (IsLoading()) return;
  SetModified(true);
  if (FUpdateCount > 0) {
    FChangePending = true;
    return;
  }
  if (OnChange) OnChange(this);
  if (FDocument) FDocument->ShapeChanged(this);
  FChangePending = false;
}

void TdtpShape::BeginUpdate() { ++FUpdateCount; }

void TdtpShape::EndUpdate() {
  --FUpdateCount;
  if (FUpdateCount < 0) {
    FUpdateCount = 0;
    throw EShapeError("dtpShape: EndUpdate called more often than BeginUpdate");
  }
  if (FUpdateCount == 0 && FChangePending) Changed();
}

void TdtpShape::BeginDocChange() {
  if (FDocument) FDocument->BeginUndo();
}
void TdtpShape::EndDocChange() {
  if (FDocument) FDocument->EndUndo();
}
void TdtpShape::LockDocument() {
  if (FDocument) FDocument->LockUndo();
}
void TdtpShape::UnlockDocument() {
  if (FDocument) FDocument->UnlockUndo();
}

void TdtpShape::SetModified(bool Value) {
  FModified = Value;
  if (!Value) {
    for (auto& c : FShapes) c->SetModified(false);
  } else {
    if (FParent) FParent->SetModified(true);
    if (FDocument) FDocument->SetModified(true);
  }
}

void TdtpShape::SetDocument(IdtpDocumentHost* Doc) {
  if (Doc != FDocument) {
    FDocument = Doc;
    if (Doc) FShapeId = Doc->NextShapeNumber();
    Invalidate();
  }
  for (auto& c : FShapes) c->SetDocument(Doc);
}

void TdtpShape::SetParentShape(TdtpShape* Parent) {
  if (Parent == FParent) return;
  FParent = Parent;
  Invalidate();
}

void TdtpShape::SetSelected(bool Value) {
  if (Value && !CanSelect()) return;
  if (Value == FSelected) return;
  FSelected = Value;
  if (FDocument) FDocument->SelectionChanged();
  InvalidateViaDocument();
}

void TdtpShape::InvalidateViaDocument() {
  if (!FDocument) return;
  TRect r;
  // With the handles: a selection shows them, also where they stand out of the shape.
  GetScreenBounds(r);
  FDocument->InvalidateScreenRect(r);
}

void TdtpShape::Invalidate() {
  InvalidateViaDocument();
  detail::ClearParentForRebuild(FParent);
}

void TdtpShape::Refresh() {
  ClearBuffer();
  UpdatePaintRect();
  Invalidate();
}

void TdtpShape::RefreshAll() {
  SetRepaintFlag(true);
  for (auto& c : FShapes) c->RefreshAll();
  UpdatePaintRect();
  Invalidate();
}

void TdtpShape::StartEdit() {
  if (OnEdit) OnEdit(this);
  if (FDocument) FDocument->EndShapeEdit(false);
}

void TdtpShape::Clear() {
  // An edit in a child ends before the children go (it may remove its own shape).
  if (FDocument)
    for (size_t i = 0; i < FShapes.size(); ++i) FDocument->EndEditBeforeRemoval(FShapes[i].get());
  BeginUpdate();
  // The freed children must not stay the document's focus, hot or edited shape.
  for (auto& c : FShapes) NotifyDestroyed(c.get());
  FShapes.clear();
  // The resources belong to this shape's own members and stay alive, so they stay listed.
  Invalidate();
  InitDefaults();
  FreeBuffer();
  UpdatePaintRect();
  Changed();
  EndUpdate();
}

void TdtpShape::FreeBuffersAll() {
  FreeBuffer();
  for (auto& c : FShapes) c->FreeBuffersAll();
  // Decoded objects go; the stored bytes stay (a locked resource keeps its object).
  for (platform::TObject* r : FResources)
    if (auto* res = dynamic_cast<TdtpResource*>(r)) res->ReleaseObject();
}

int32_t TdtpShape::IndexOfResource(platform::TObject* Resource) const {
  auto it = std::find(FResources.begin(), FResources.end(), Resource);
  return it == FResources.end() ? -1 : int32_t(it - FResources.begin());
}

void TdtpShape::AddResource(platform::TObject* Resource) {
  if (Resource && IndexOfResource(Resource) < 0) FResources.push_back(Resource);
}

void TdtpShape::RemoveResource(platform::TObject* Resource) {
  std::erase(FResources, Resource);
}

// ---------------------------------------------------------------------------------------
// Children

void TdtpShape::NotifyDestroyed(TdtpShape* Shape) {
  if (!FDocument) return;
  for (auto& c : Shape->FShapes) NotifyDestroyed(c.get());
  FDocument->ShapeDestroyed(Shape);
}

int32_t TdtpShape::IndexOfShape(const TdtpShape* Shape) const {
  for (size_t i = 0; i < FShapes.size(); ++i)
    if (FShapes[i].get() == Shape) return int32_t(i);
  return -1;
}

// A shape still listed by another parent leaves it as an extraction does (its edit ends, no
// reference of its old document stays, the removal is undoable there). The old parent's
// ownership is the one kept meanwhile: ending the edit may free the shape.
std::unique_ptr<TdtpShape> TdtpShape::TakeFromParent(std::unique_ptr<TdtpShape> Shape, const TdtpShape* NewParent) {
  // A shape cannot hold itself: it stays with its parent. One without a parent holds the new
  // parent, which the caller still uses, so it is not freed here either.
  for (const TdtpShape* p = NewParent; p; p = p->FParent)
    if (p == Shape.get()) {
      (void)Shape.release();
      return nullptr;
    }
  // A page its document lists is that document's: it stays there.
  if (const auto* page = dynamic_cast<const TdtpPage*>(Shape.get());
      page && page->Document() && page->Document()->IndexOfPage(page) >= 0) {
    (void)Shape.release();
    return nullptr;
  }
  if (!Shape || !Shape->FParent) return Shape;
  TdtpShape* old = Shape->FParent;
  if (old->IndexOfShape(Shape.get()) < 0) {
    Shape->FParent = nullptr;
    return Shape;
  }
  TdtpShape* raw = Shape.release();
  return old->ExtractShape(raw);
}

namespace {

// A move from one parent to another of the same document is one step to undo: the removal and
// the addition it records are grouped.
struct TMoveBracket {
  IdtpDocumentHost* Doc;
  TMoveBracket(const TdtpShape* Shape, const TdtpShape* NewParent)
      : Doc(Shape && Shape->ParentShape() && NewParent->Document() && Shape->Document() == NewParent->Document()
                ? NewParent->Document()
                : nullptr) {
    if (Doc) Doc->BeginUndo();
  }
  ~TMoveBracket() {
    // A document cleared meanwhile has closed every bracket already.
    try {
      if (Doc) Doc->EndUndo();
    } catch (const platform::Exception&) {
    }
  }
  TMoveBracket(const TMoveBracket&) = delete;
  TMoveBracket& operator=(const TMoveBracket&) = delete;
};

}  // namespace

int32_t TdtpShape::AddShape(std::unique_ptr<TdtpShape> Shape) {
  const TMoveBracket bracket(Shape.get(), this);
  Shape = TakeFromParent(std::move(Shape), this);
  if (!Shape) return -1;
  const int32_t index = int32_t(FShapes.size());
  RecordIntegerChange(ckShapeAdded, "", index);
  TdtpShape* raw = Shape.get();
  FShapes.push_back(std::move(Shape));
  raw->SetDocument(FDocument);
  raw->SetParentShape(this);
  raw->Invalidate();
  Changed();
  return index;
}

void TdtpShape::InsertShape(int32_t Index, std::unique_ptr<TdtpShape> Shape) {
  const TMoveBracket bracket(Shape.get(), this);
  Shape = TakeFromParent(std::move(Shape), this);
  if (!Shape) return;
  // An index from a stored undo stream may be anything.
  Index = std::clamp(Index, 0, int32_t(FShapes.size()));
  RecordIntegerChange(ckShapeAdded, "", Index);
  TdtpShape* raw = Shape.get();
  FShapes.insert(FShapes.begin() + Index, std::move(Shape));
  raw->SetParentShape(this);
  raw->SetDocument(FDocument);
  raw->Invalidate();
  Changed();
}

void TdtpShape::DeleteShape(int32_t Index) {
  if (Index < 0 || Index >= int32_t(FShapes.size())) return;
  TdtpShape* child = FShapes[size_t(Index)].get();
  // An edit in the child ends before the child goes; ending it may remove the child already.
  if (FDocument && FDocument->EndEditBeforeRemoval(child)) return;
  RecordShapeChange(ckShapeRemoved, child);
  child->Invalidate();
  child->SetSelected(false);
  NotifyDestroyed(child);
  child->FParent = nullptr;
  child->SetDocument(nullptr);
  FShapes.erase(FShapes.begin() + Index);
  ClearBuffer();
  Changed();
}

std::unique_ptr<TdtpShape> TdtpShape::ExtractShape(TdtpShape* Shape) {
  if (!Shape || IndexOfShape(Shape) < 0) return nullptr;
  // Leaving the document like a deletion: an edit in it ends (and may remove it), and no
  // edited, focus, hot or hint reference outlives it. What was typed goes along.
  if (FDocument && FDocument->EndEditBeforeRemoval(Shape, true)) return nullptr;
  const int32_t i = IndexOfShape(Shape);
  if (i < 0) return nullptr;
  RecordShapeChange(ckShapeRemoved, Shape);
  Shape->Invalidate();
  Shape->SetSelected(false);
  NotifyDestroyed(Shape);
  Shape->FParent = nullptr;
  Shape->SetDocument(nullptr);
  std::unique_ptr<TdtpShape> out = std::move(FShapes[size_t(i)]);
  FShapes.erase(FShapes.begin() + i);
  ClearBuffer();
  Changed();
  return out;
}

int32_t TdtpShape::RemoveShape(TdtpShape* Shape) {
  const int32_t i = Shape ? IndexOfShape(Shape) : -1;
  if (i >= 0) DeleteShape(i);
  return i;
}

void TdtpShape::ClearShapes() {
  while (!FShapes.empty()) DeleteShape(0);
}

void TdtpShape::MoveShapeIndex(int32_t A, int32_t B) {
  const int32_t n = int32_t(FShapes.size());
  if (A < 0 || B < 0 || A >= n || B >= n || A == B) return;
  // Recorded, so that undoing what came before (an addition, a deletion) finds its indices.
  RecordChange(ckShapesExchanged, "", platform::IntToStr(A) + " " + platform::IntToStr(B));
  std::swap(FShapes[size_t(A)], FShapes[size_t(B)]);
  FShapes[size_t(A)]->Invalidate();
  FShapes[size_t(B)]->Invalidate();
  Changed();
}

// ---------------------------------------------------------------------------------------
// XML

void TdtpShape::SaveToXml(TXmlNode* Node) {
  if (!Node) return;
  Node->WriteString("ClassName", ClassName());
  Node->WriteBool("AllowResize", FAllowResize);
  Node->WriteBool("AllowRotate", FAllowRotate);
  Node->WriteBool("AllowSelect", FAllowSelect);
  TXmlNode* anchors = Node->NodeFindOrCreate("Anchors");
  for (int i = 0; i < 9; ++i) anchors->WriteBool(cAnchorNames[i], (FAnchors >> i) & 1);
  Node->WriteFloat("AspectRatio", FAspectRatio);
  Node->WriteFloat("CurbLeft", FCurbLeft);
  Node->WriteFloat("CurbTop", FCurbTop);
  Node->WriteFloat("CurbRight", FCurbRight);
  Node->WriteFloat("CurbBottom", FCurbBottom);
  Node->WriteFloat("ConstraintMinHeight", FConstraints->MinHeight);
  Node->WriteFloat("ConstraintMinWidth", FConstraints->MinWidth);
  Node->WriteFloat("ConstraintMaxHeight", FConstraints->MaxHeight);
  Node->WriteFloat("ConstraintMaxWidth", FConstraints->MaxWidth);
  Node->WriteFloat("DocAngle", FDocAngle);
  Node->WriteFloat("DocLeft", FDocLeft);
  Node->WriteFloat("DocTop", FDocTop);
  Node->WriteFloat("DocHeight", FDocHeight);
  Node->WriteFloat("DocWidth", FDocWidth);
  Node->WriteBool("Flipped", FFlipped);
  Node->WriteBool("Mirrored", FMirrored);
  Node->WriteString("Name", FName);
  Node->WriteBool("Grouped", FGrouped);
  Node->WriteBool("PreserveAspect", FPreserveAspect);
  Node->WriteBool("SmartHitTest", FSmartHitTest);
  Node->WriteBool("Visible", FVisible);
  Node->WriteHex("MasterAlpha", FMasterAlpha, 2, 0);
  for (size_t i = 0; i < FShapes.size(); ++i) {
    TXmlNode* child = Node->NodeNew("Shape");
    child->WriteAttributeInteger("Index", int32_t(i) + 1);
    FShapes[i]->SaveToXml(child);
  }
  if (FDocument) FDocument->ShapeSaveAdditionalInfo(this, Node);
}

void TdtpShape::LoadFromXml(TXmlNode* Node) {
  if (!Node) return;
  // Loading stores fields directly: no undo, no modified flag, no change events.
  ++FLoading;
  LockDocument();
  try {
    auto rf = [&](const char* name) { return Finite(float(Node->ReadFloat(name, 0))); };
    FAllowResize = Node->ReadBool("AllowResize", false);
    FAllowRotate = Node->ReadBool("AllowRotate", false);
    FAllowSelect = Node->ReadBool("AllowSelect", false);
    FAspectRatio = rf("AspectRatio");
    FCurbLeft = rf("CurbLeft");
    FCurbTop = rf("CurbTop");
    FCurbRight = rf("CurbRight");
    FCurbBottom = rf("CurbBottom");
    if (TXmlNode* anchors = Node->NodeByName("Anchors")) {
      FAnchors = 0;
      for (int i = 0; i < 9; ++i)
        if (anchors->ReadBool(cAnchorNames[i], false)) FAnchors |= TdtpAnchors(1u << i);
    }
    FConstraints->MinHeight = rf("ConstraintMinHeight");
    FConstraints->MinWidth = rf("ConstraintMinWidth");
    FConstraints->MaxHeight = rf("ConstraintMaxHeight");
    FConstraints->MaxWidth = rf("ConstraintMaxWidth");
    FDocAngle = rf("DocAngle");
    FCos = float(std::cos((long double)FDocAngle * cPi / 180));
    FSin = float(std::sin((long double)FDocAngle * cPi / 180));
    FDocLeft = rf("DocLeft");
    FDocTop = rf("DocTop");
    FDocHeight = rf("DocHeight");
    FDocWidth = rf("DocWidth");
    FFlipped = Node->ReadBool("Flipped", false);
    FMirrored = Node->ReadBool("Mirrored", false);
    FName = Node->ReadString("Name", "");
    FGrouped = Node->ReadBool("Grouped", false);
    FPreserveAspect = Node->ReadBool("PreserveAspect", false);
    FSmartHitTest = Node->ReadBool("SmartHitTest", false);
    FVisible = Node->ReadBool("Visible", false);
    FMasterAlpha = std::clamp(Node->ReadInteger("MasterAlpha", 0), 0, 255);
    UpdatePaintRect();
    for (const auto& child : Node->Nodes()) {
      if (!platform::SameText(child->Name(), "Shape")) continue;
      auto shape = CreateShape(FindShapeClass(child->ReadString("ClassName", "")));
      TdtpShape* raw = shape.get();
      AddShape(std::move(shape));
      raw->LoadFromXml(child.get());
    }
    if (IdtpDocumentHost* host = FilingHost()) host->ShapeLoadAdditionalInfo(this, Node);
  } catch (...) {
    UnlockDocument();
    --FLoading;
    throw;
  }
  UnlockDocument();
  --FLoading;
  FRepaint = true;
}

void TdtpShape::SaveToStream(platform::TStream* Stream) {
  TXmlDocument xml("Shape");
  SaveToXml(xml.Root());
  xml.SaveToStream(Stream);
}

}  // namespace document

#include "document/dtpPolygonShape.h"

#include <algorithm>
#include <cmath>

#include "document/XmlDocuments.h"
#include "platform/Rounding.h"
#include "platform/SysUtils.h"

namespace document {

namespace {

constexpr double cHalfPi = 1.57079632679489661923;
// Buffers are at most 16384 pixels wide; a wider half stroke covers them anyway, and points
// plus offset must stay inside the 16.16 range.
constexpr double cMaxGrowPixels = 8192;

// Widths read from files or set by name: anything but a finite, non-negative number is 0.
float SaneWidth(double V) { return std::isfinite(V) && V > 0 ? float(V) : 0.0f; }
float Finite(double V) { return std::isfinite(V) ? float(V) : 0.0f; }

}  // namespace

int32_t ArcSegmentCount(double Length) {
  const double v = cHalfPi * Length;
  if (!(v > 0.5)) return 1;  // also a length that is not a number
  if (v < 3) return 2;
  if (v < 7) return 3;
  const double n = v < 100 ? std::ceil(v / 5) : std::ceil(v / 10);
  return n >= cMaxArcSegments ? cMaxArcSegments : int32_t(n);
}

void BuildArcPoints(double Length, TArcPoints& Arc) {
  const int32_t n = ArcSegmentCount(Length);
  Arc.C.resize(size_t(n) + 1);
  Arc.S.resize(size_t(n) + 1);
  for (int32_t i = 0; i <= n; ++i) {
    const double t = double(i) / n * cHalfPi;
    Arc.C[size_t(i)] = float(std::cos(t));
    Arc.S[size_t(i)] = float(std::sin(t));
  }
  Arc.C[0] = 1;
  Arc.S[0] = 0;
  Arc.C[size_t(n)] = 0;
  Arc.S[size_t(n)] = 1;
}

// ---------------------------------------------------------------------------------------

const TShapeClass& TdtpPolygonShape::StaticClass() {
  static const TShapeClass cls = MakeShapeClass<TdtpPolygonShape>("TdtpPolygonShape", &TdtpEffectShape::StaticClass());
  return cls;
}

TdtpPolygonShape::TdtpPolygonShape() {
  ClearPoints();
  FFillPolygon = std::make_unique<raster::TPolygon32>();
  FFillPolygon->SetAntialiased(true);
  FFillPolygon->SetFillMode(raster::pfAlternate);
  FOutlinePolygon = std::make_unique<raster::TPolygon32>();
}

TdtpPolygonShape::~TdtpPolygonShape() = default;

void TdtpPolygonShape::InitDefaults() {
  TdtpEffectShape::InitDefaults();
  FSmartHitTest = false;
  FIsClosed = true;
  FOutlineWidth = 0.5f;
  FRebuild = true;
  FFillAlpha = 255;
  FFillColor = 0xFF0000;
  FOutlineColor = 0;
  FStipplePhase = 0;
  FStippleScale = 2.0f;
  FUseFill = FUseOutline = true;
  FUseStipple = FUseArrow1 = FUseArrow2 = false;
  if (FFillPolygon) FFillPolygon->SetClosed(true);
  SetDocHeight(30);
  SetDocWidth(40);
  SetPaintOutset(std::max(FOutlineWidth * 0.5f, 0.1f));
  // The outsets also follow the outline's bounds, which need the size set above.
  UpdatePaintRect();
}

// --- points ---

// The points are derived from the size, or (point-based) the shape's own stored data: a change
// of those is a change to save.
void TdtpPolygonShape::PointsChanged() {
  FOutlineValid = false;
  if (FPointBased) {
    FRebuild = true;
    Changed();
  }
}

void TdtpPolygonShape::ClearPoints() {
  FPoints.assign(1, TArrayOfFPoint());
  PointsChanged();
}

void TdtpPolygonShape::NewContour() {
  FPoints.emplace_back();
  PointsChanged();
}

void TdtpPolygonShape::AddPoint(const TdtpFloatPoint& P) { AddPointXY(P.X, P.Y); }

void TdtpPolygonShape::AddPointXY(float X, float Y) {
  if (FPoints.empty()) FPoints.emplace_back();
  FPoints.back().push_back({X, Y});
  PointsChanged();
}

void TdtpPolygonShape::GetPointsBounds(TdtpFloatRect& Rect) const {
  Rect = {0, 0, 0, 0};
  bool first = true;
  for (const auto& c : FPoints)
    for (const auto& p : c) {
      if (first) {
        Rect = {p.X, p.Y, p.X, p.Y};
        first = false;
        continue;
      }
      Rect.Left = std::min(Rect.Left, p.X);
      Rect.Top = std::min(Rect.Top, p.Y);
      Rect.Right = std::max(Rect.Right, p.X);
      Rect.Bottom = std::max(Rect.Bottom, p.Y);
    }
}

void TdtpPolygonShape::OffsetPoints(float DX, float DY) {
  if (DX == 0 && DY == 0) return;
  for (auto& c : FPoints)
    for (auto& p : c) {
      p.X += DX;
      p.Y += DY;
    }
  PointsChanged();
}

void TdtpPolygonShape::ScalePoints(float SX, float SY) {
  for (auto& c : FPoints)
    for (auto& p : c) {
      p.X *= SX;
      p.Y *= SY;
    }
  PointsChanged();
}

void TdtpPolygonShape::FitPoints(const TdtpFloatRect& Rect) {
  TdtpFloatRect box;
  GetPointsBounds(box);
  OffsetPoints(-box.Left, -box.Top);
  const float bw = box.Right - box.Left, bh = box.Bottom - box.Top;
  const float rw = Rect.Right - Rect.Left, rh = Rect.Bottom - Rect.Top;
  if (bw > 0 && bh > 0 && rw > 0 && rh > 0) ScalePoints(rw / bw, rh / bh);
  OffsetPoints(Rect.Left, Rect.Top);
}

bool TdtpPolygonShape::IsEmpty() const { return FPoints.empty() || (FPoints.size() == 1 && FPoints[0].empty()); }

float TdtpPolygonShape::DevScale() const {
  const float s = FDeviceMatrix[0][0];
  return s > 0 && std::isfinite(s) ? s : 1.0f;
}

bool TdtpPolygonShape::OutlineCached() const {
  return FOutlineValid && FKeyWidth == FDocWidth && FKeyHeight == FDocHeight && FKeyScale == DevScale();
}

void TdtpPolygonShape::StoreOutlineKey() {
  FKeyWidth = FDocWidth;
  FKeyHeight = FDocHeight;
  FKeyScale = DevScale();
  FOutlineValid = true;
}

void TdtpPolygonShape::BuildOutline() {
  if (OutlineCached()) return;
  ClearPoints();
  static const TdtpFloatPoint outer[5] = {{0, 0}, {0, 30}, {20, 30}, {30, 15}, {30, 0}};
  static const TdtpFloatPoint hole[4] = {{10, 14}, {14, 14}, {14, 10}, {10, 10}};
  for (const auto& p : outer) AddPoint(p);
  NewContour();
  for (const auto& p : hole) AddPoint(p);
  FitPoints({0, 0, FDocWidth, FDocHeight});
  StoreOutlineKey();
}

// --- polygons and painting ---

void TdtpPolygonShape::UpdatePolygons() {
  if (!FPointBased) BuildOutline();
  FFillPolygon = std::make_unique<raster::TPolygon32>();
  FOutlinePolygon.reset();
  FFillPolygon->SetAntialiased(true);
  FFillPolygon->SetFillMode(raster::pfAlternate);
  FFillPolygon->SetClosed(FIsClosed);
  const TdtpMatrix& m = FDeviceMatrix;
  std::vector<raster::TFixedPoint> line;
  for (size_t c = 0; c < FPoints.size(); ++c) {
    const TArrayOfFPoint& src = FPoints[c];
    line.resize(src.size());
    for (size_t i = 0; i < src.size(); ++i) {
      const TdtpFloatPoint p = MapPoint(m, src[i].X, src[i].Y);
      line[i] = raster::FixedPoint(p.X, p.Y);
    }
    FFillPolygon->AddPoints(line.data(), int32_t(line.size()));
    FFillPolygon->NewLine();
  }
  if (FUseOutline && FOutlineWidth > 0) {
    double half = double(FOutlineWidth) * m[0][0] * 0.5;
    if (std::isfinite(half)) {
      half = std::clamp(half, -cMaxGrowPixels, cMaxGrowPixels);
      std::unique_ptr<raster::TPolygon32> path = FFillPolygon->Outline();
      path->SetAntialiased(true);
      path->SetFillMode(raster::pfWinding);
      path->SetClosed(FIsClosed);
      FOutlinePolygon = path->Grow(raster::TFixed(platform::Round(half * 65536)), 0.5f);
    }
  }
  FRebuild = false;
}

void TdtpPolygonShape::PaintShape(TBitmap32* Bitmap) {
  if (!Bitmap) return;
  if (FRebuild || !FFillPolygon) UpdatePolygons();
  Bitmap->Clear(0);
  if (FUseFill) FFillPolygon->DrawFill(Bitmap, raster::SetAlpha(raster::Color32(FFillColor), FFillAlpha));
  if (FUseOutline) {
    if (FOutlineWidth > 0) {
      if (FOutlinePolygon) FOutlinePolygon->DrawFill(Bitmap, raster::Color32(FOutlineColor));
    } else if (!FUseStipple) {
      FFillPolygon->DrawEdge(Bitmap, raster::Color32(FOutlineColor));
    }
  }
  if (FUseStipple) DrawStipple(Bitmap);
}

void TdtpPolygonShape::DrawStipple(TBitmap32* Bitmap) {
  TColor32 pattern[16];
  for (int i = 0; i < 16; ++i) pattern[i] = i < 10 ? 0xFFFFFFFFu : 0xFF000000u;
  Bitmap->SetStipple(pattern, 16);
  const float scale = DevScale();
  const float step = 16.0f / (scale * FStippleScale);
  Bitmap->SetStippleStep(step);
  Bitmap->SetStippleCounter(scale * (float(FStipplePhase) * step) / 18.0f);
  const TColor32 color = raster::Color32(FOutlineColor);
  Bitmap->SetPenColor(color);
  const bool closed = FFillPolygon->Closed();
  Bitmap->BeginUpdate();
  try {
    for (const auto& c : FFillPolygon->Points()) {
      if (c.size() == 1 && closed) {
        Bitmap->SetPixelX(c[0].X, c[0].Y, color);
        continue;
      }
      if (c.size() < 2) continue;
      Bitmap->MoveToX(c[0].X, c[0].Y);
      for (size_t i = 1; i < c.size(); ++i) Bitmap->LineToXSP(c[i].X, c[i].Y);
      if (closed) Bitmap->LineToXSP(c[0].X, c[0].Y);
    }
  } catch (...) {
    Bitmap->EndUpdate();
    throw;
  }
  Bitmap->EndUpdate();
}

// --- properties ---

void TdtpPolygonShape::SetIsClosed(bool Value) {
  if (Value == FIsClosed) return;
  RecordBoolChange("IsClosed", FIsClosed);
  FIsClosed = Value;
  if (FFillPolygon) FFillPolygon->SetClosed(Value);
  FRebuild = true;
  Refresh();
  Changed();
}

void TdtpPolygonShape::SetOutlineWidth(float Value) {
  Value = Finite(Value);
  if (Value == FOutlineWidth) return;
  RecordFloatChange("OutlineWidth", FOutlineWidth);
  Invalidate();
  FOutlineWidth = Value;
  SetPaintOutset(std::max(FOutlineWidth * 0.5f, 0.1f));
  FRebuild = true;
  Refresh();
  Changed();
}

void TdtpPolygonShape::SetFillAlpha(int32_t Value) {
  Value = std::clamp(Value, 0, 255);
  if (Value == FFillAlpha) return;
  RecordFloatChange("FillAlpha", float(FFillAlpha));
  FFillAlpha = Value;
  Refresh();
  Changed();
}

void TdtpPolygonShape::SetFillColor(platform::TColor Value) {
  if (Value == FFillColor) return;
  RecordIntegerChange(ckPropertyChange, "FillColor", int32_t(FFillColor));
  FFillColor = Value;
  Refresh();
  Changed();
}

void TdtpPolygonShape::SetOutlineColor(platform::TColor Value) {
  if (Value == FOutlineColor) return;
  RecordIntegerChange(ckPropertyChange, "OutlineColor", int32_t(FOutlineColor));
  FOutlineColor = Value;
  Refresh();
  Changed();
}

void TdtpPolygonShape::SetUseFill(bool Value) {
  if (Value == FUseFill) return;
  RecordBoolChange("UseFill", FUseFill);
  FUseFill = Value;
  Refresh();
  Changed();
}

void TdtpPolygonShape::SetUseOutline(bool Value) {
  if (Value == FUseOutline) return;
  RecordBoolChange("UseOutline", FUseOutline);
  FUseOutline = Value;
  FRebuild = true;
  Refresh();
  Changed();
}

void TdtpPolygonShape::SetUseStipple(bool Value) {
  if (Value == FUseStipple) return;
  RecordBoolChange("UseStipple", FUseStipple);
  FUseStipple = Value;
  FRebuild = true;
  Refresh();
  Changed();
}

// The arrow flags record and refresh even when unchanged.
void TdtpPolygonShape::SetUseArrow1(bool Value) {
  RecordBoolChange("UseArrow1", FUseArrow1);
  FUseArrow1 = Value;
  FRebuild = true;
  Refresh();
  Changed();
}

void TdtpPolygonShape::SetUseArrow2(bool Value) {
  RecordBoolChange("UseArrow2", FUseArrow2);
  FUseArrow2 = Value;
  FRebuild = true;
  Refresh();
  Changed();
}

void TdtpPolygonShape::SetPropertyByName(const std::string& Name, const std::string& Value) {
  using platform::SameText;
  TdtpEffectShape::SetPropertyByName(Name, Value);
  if (SameText(Name, "IsClosed"))
    SetIsClosed(DtpStrToBool(Value));
  else if (SameText(Name, "UseFill"))
    SetUseFill(DtpStrToBool(Value));
  else if (SameText(Name, "UseOutline"))
    SetUseOutline(DtpStrToBool(Value));
  else if (SameText(Name, "UseStipple"))
    SetUseStipple(DtpStrToBool(Value));
  else if (SameText(Name, "UseArrow2"))
    SetUseArrow2(DtpStrToBool(Value));
  else if (SameText(Name, "UseArrow1"))
    SetUseArrow1(DtpStrToBool(Value));
  else if (SameText(Name, "OutlineWidth"))
    SetOutlineWidth(DtpStrToFloat(Value));
  else if (SameText(Name, "FillAlpha"))
    SetFillAlpha(platform::StrToInt(Value));
  else if (SameText(Name, "FillColor"))
    SetFillColor(platform::StrToInt(Value));
  else if (SameText(Name, "OutlineColor"))
    SetOutlineColor(platform::StrToInt(Value));
}

void TdtpPolygonShape::SetDeviceMatrix(const TdtpMatrix& Matrix) {
  TdtpEffectShape::SetDeviceMatrix(Matrix);
  FRebuild = true;
}

void TdtpPolygonShape::SetDocSize(float Width, float Height) {
  const float oldW = FDocWidth, oldH = FDocHeight;
  TdtpEffectShape::SetDocSize(Width, Height);
  if (!(FDocWidth > 0 && FDocHeight > 0 && oldW > 0 && oldH > 0)) return;
  if (!FPointBased)
    BuildOutline();
  else if (!IsEditing())
    ScalePoints(FDocWidth / oldW, FDocHeight / oldH);
  FRebuild = true;
}

// --- hit region and paint rectangle ---

bool TdtpPolygonShape::DrawnToScreen(const TdtpFloatPoint& P, TdtpFloatPoint& Screen) const {
  const TdtpFloatPoint d{FMirrored ? FDocWidth - P.X : P.X, FFlipped ? FDocHeight - P.Y : P.Y};
  return LocalToScreen(d, Screen);
}

std::vector<std::vector<platform::TPoint>> TdtpPolygonShape::CreateRegionContours() const {
  std::vector<std::vector<platform::TPoint>> out;
  for (const auto& c : FPoints) {
    std::vector<platform::TPoint> ring;
    ring.reserve(c.size());
    for (const auto& p : c) {
      TdtpFloatPoint s;
      if (!DrawnToScreen(p, s)) return {};
      ring.push_back({int32_t(platform::Round((long double)s.X)), int32_t(platform::Round((long double)s.Y))});
    }
    out.push_back(std::move(ring));
  }
  return out;
}

namespace {

// Squared distance from (X, Y) to the segment A-B; a segment of no length is its point.
double SqrDistanceToSegmentF(double X, double Y, const TdtpFloatPoint& A, const TdtpFloatPoint& B) {
  const double ax = A.X, ay = A.Y, dx = double(B.X) - ax, dy = double(B.Y) - ay;
  const double len2 = dx * dx + dy * dy;
  double t = len2 > 0 ? ((X - ax) * dx + (Y - ay) * dy) / len2 : 0;
  t = std::clamp(t, 0.0, 1.0);
  const double ex = X - (ax + t * dx), ey = Y - (ay + t * dy);
  return ex * ex + ey * ey;
}

}  // namespace

bool TdtpPolygonShape::HitTest(const platform::TPoint& P) {
  if (FIsClosed || FSmartHitTest) return TdtpEffectShape::HitTest(P);
  if (!FDocument) return false;
  // A filled open contour is also hit inside its area.
  if (FUseFill && TdtpEffectShape::HitTest(P)) return true;
  // The stroke reaches half the pen width from its line; the handle tolerance (a squared
  // distance below 10 pixels) is added, so a hairline stays easy to pick. A stroke without
  // any area (two points, or points on one line) is hit like any other.
  const double half = FUseOutline && FOutlineWidth > 0 ? 0.5 * double(FOutlineWidth) * FDocument->ScreenDpm() : 0;
  const double reach = half + std::sqrt(10.0);
  const double reach2 = reach * reach;
  for (const auto& c : FPoints) {
    if (c.empty()) continue;
    TdtpFloatPoint prev;
    if (!DrawnToScreen(c[0], prev)) return false;
    if (c.size() == 1 && SqrDistanceToSegmentF(P.X, P.Y, prev, prev) < reach2) return true;
    for (size_t i = 1; i < c.size(); ++i) {
      TdtpFloatPoint next;
      if (!DrawnToScreen(c[i], next)) return false;
      if (SqrDistanceToSegmentF(P.X, P.Y, prev, next) < reach2) return true;
      prev = next;
    }
  }
  return false;
}

std::vector<platform::TPoint> TdtpPolygonShape::CreateRegion() const {
  auto all = CreateRegionContours();
  return all.empty() ? std::vector<platform::TPoint>() : std::move(all.front());
}

void TdtpPolygonShape::AdjustPaintRect(float& Left, float& Top, float& Right, float& Bottom) {
  if (!FPointBased) BuildOutline();
  TdtpFloatRect box;
  GetPointsBounds(box);
  if (FUseOutline) raster::InflateFloatRect(box, FOutlineWidth, FOutlineWidth);
  Left = std::max(-box.Left, Left);
  Top = std::max(-box.Top, Top);
  Right = std::max(box.Right - FDocWidth, Right);
  Bottom = std::max(box.Bottom - FDocHeight, Bottom);
  TdtpEffectShape::AdjustPaintRect(Left, Top, Right, Bottom);
}

// --- XML ---

void TdtpPolygonShape::SaveToXml(TXmlNode* Node) {
  if (!Node) return;
  TdtpEffectShape::SaveToXml(Node);
  Node->WriteFloat("OutlineWidth", FOutlineWidth, 0);
  Node->WriteInteger("FillAlpha", FFillAlpha, 0);
  Node->WriteColor("FillColor", FFillColor);
  Node->WriteColor("OutlineColor", FOutlineColor);
  Node->WriteBool("UseFill", FUseFill, false);
  Node->WriteBool("UseOutline", FUseOutline, false);
  Node->WriteBool("IsClosed", FIsClosed, true);
  Node->WriteBool("UseStipple", FUseStipple, false);
  if (!FPointBased) return;
  TXmlNode* poly = Node->NodeNew("Polygon");
  for (const auto& c : FPoints) {
    TXmlNode* line = poly->NodeNew("Line");
    for (const auto& p : c) {
      TXmlNode* pt = line->NodeNew("Point");
      pt->WriteFloat("X", p.X);
      pt->WriteFloat("Y", p.Y);
    }
  }
}

void TdtpPolygonShape::LoadFromXml(TXmlNode* Node) {
  if (!Node) return;
  ++FLoading;
  try {
    TdtpEffectShape::LoadFromXml(Node);
    SetOutlineWidth(SaneWidth(Node->ReadFloat("OutlineWidth", 0)));
    FFillAlpha = std::clamp(Node->ReadInteger("FillAlpha", 0), 0, 255);
    FFillColor = Node->ReadInteger("FillColor", 0);
    FOutlineColor = Node->ReadInteger("OutlineColor", 0);
    FUseFill = Node->ReadBool("UseFill", false);
    FUseOutline = Node->ReadBool("UseOutline", false);
    FIsClosed = Node->ReadBool("IsClosed", true);
    FUseStipple = Node->ReadBool("UseStipple", false);
    if (FFillPolygon) FFillPolygon->SetClosed(FIsClosed);
    if (FPointBased) {
      ClearPoints();
      if (TXmlNode* poly = Node->NodeByName("Polygon")) {
        bool first = true;
        for (const auto& line : poly->Nodes()) {
          if (!platform::SameText(line->Name(), "Line")) continue;
          if (!first) NewContour();
          first = false;
          for (const auto& pt : line->Nodes()) {
            if (!platform::SameText(pt->Name(), "Point")) continue;
            AddPointXY(Finite(pt->ReadFloat("X", 0)), Finite(pt->ReadFloat("Y", 0)));
          }
        }
      }
    } else {
      BuildOutline();
    }
    FRebuild = true;
    UpdatePaintRect();
  } catch (...) {
    --FLoading;
    throw;
  }
  --FLoading;
}

}  // namespace document

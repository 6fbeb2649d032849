#include "document/dtpLineShape.h"

#include <algorithm>
#include <cmath>

#include "document/XmlDocuments.h"
#include "platform/Graphics.h"
#include "platform/SysUtils.h"

namespace document {

namespace {

const char* const cArrowStyleNames[6] = {"NoArrow", "Arrow", "OpenArrow", "StealthArrow", "Diamond", "Oval"};

float SaneWidth(double V) { return std::isfinite(V) && V > 0 ? float(V) : 0.0f; }
float Finite(double V) { return std::isfinite(V) ? float(V) : 0.0f; }

// Cosine and sine of an angle in degrees, exact at multiples of 90 so that a quarter turn
// leaves a vertical line exactly vertical.
void DegreeSinCos(double Degrees, double& C, double& S) {
  const double r = std::fmod(Degrees, 360.0);
  const double a = r < 0 ? r + 360 : r;
  if (a == 0) {
    C = 1, S = 0;
  } else if (a == 90) {
    C = 0, S = 1;
  } else if (a == 180) {
    C = -1, S = 0;
  } else if (a == 270) {
    C = 0, S = -1;
  } else {
    const double t = Degrees * 3.14159265358979323846 / 180;
    C = std::cos(t);
    S = std::sin(t);
  }
}

struct TVec {
  double X, Y;
};
TVec operator+(TVec A, TVec B) { return {A.X + B.X, A.Y + B.Y}; }
TVec operator-(TVec A, TVec B) { return {A.X - B.X, A.Y - B.Y}; }
TVec operator*(TVec A, double K) { return {A.X * K, A.Y * K}; }

}  // namespace

std::string ArrowStyleName(TdtpArrowStyle Style) {
  return Style <= asOval ? cArrowStyleNames[Style] : std::string();
}

bool ArrowStyleFromName(const std::string& Name, TdtpArrowStyle& Style) {
  for (int i = 0; i < 6; ++i)
    if (Name == cArrowStyleNames[i]) {
      Style = TdtpArrowStyle(i);
      return true;
    }
  return false;
}

// ---------------------------------------------------------------------------------------
// Arrow

TdtpArrow::TdtpArrow(TdtpLineShape* Owner) : FOwner(Owner) {}

void TdtpArrow::SetStyle(TdtpArrowStyle Value) {
  if (Value == FStyle) return;
  if (FOwner) FOwner->Invalidate();
  FStyle = Value;
  SettingChanged();
}

void TdtpArrow::SettingChanged() {
  if (!FOwner) return;
  FOwner->Invalidate();
  FOwner->FRebuild = true;
  FOwner->RefreshAll();
  FOwner->Changed();
}

void TdtpArrow::LoadFromXml(TXmlNode* Node) {
  if (!Node) return;
  TdtpArrowStyle s;
  if (ArrowStyleFromName(Node->ReadString("Style", ""), s)) SetStyle(s);
  Width = SaneWidth(Node->ReadFloat("Width", 0));
  Length = SaneWidth(Node->ReadFloat("Length", 0));
}

void TdtpArrow::SaveToXml(TXmlNode* Node) const {
  if (!Node) return;
  Node->WriteString("Style", ArrowStyleName(FStyle));
  Node->WriteFloat("Width", Width);
  Node->WriteFloat("Length", Length);
}

// ---------------------------------------------------------------------------------------
// Line

const TShapeClass& TdtpLineShape::StaticClass() {
  static const TShapeClass cls = MakeShapeClass<TdtpLineShape>("TdtpLineShape", &TdtpPolygonShape::StaticClass());
  return cls;
}

const TShapeClass& TdtpLineShape2::StaticClass() {
  static const TShapeClass cls = MakeShapeClass<TdtpLineShape2>("TdtpLineShape2", &TdtpLineShape::StaticClass());
  return cls;
}

TdtpLineShape::TdtpLineShape()
    : FArrow0(std::make_unique<TdtpArrow>(this)), FArrow1(std::make_unique<TdtpArrow>(this)) {
  FLinePoints = {{0, 0}, {1, 1}};
  SetCursorId(-33);
}

TdtpLineShape::~TdtpLineShape() = default;

void TdtpLineShape::InitDefaults() {
  TdtpPolygonShape::InitDefaults();
  SetFillColor(0);
  SetIsClosed(true);
  FPointBased = false;
  SetUseOutline(false);
  SetUseFill(true);
  FLineWidth = 1.0f;
}

TdtpArrow* TdtpLineShape::GetArrow(int32_t Index) const {
  return Index == 0 ? FArrow0.get() : Index == 1 ? FArrow1.get() : nullptr;
}

void TdtpLineShape::GetPoint(int32_t Index, TdtpFloatPoint& P) const {
  if (Index < 0 || Index >= int32_t(FLinePoints.size())) {
    P = {0, 0};
    return;
  }
  const TdtpFloatPoint& f = FLinePoints[size_t(Index)];
  P = {float((double)FDocLeft + (double)f.X * FDocWidth), float((double)FDocTop + (double)f.Y * FDocHeight)};
}

void TdtpLineShape::RecordLinePoints() {
  if (!FDocument || IsLoading() || !(FDocument->UndoEnabled() || FDocument->SecondRecording())) return;
  std::string s;
  for (const TdtpFloatPoint& p : FLinePoints) {
    if (!s.empty()) s += ' ';
    s += platform::FloatToStr(p.X) + ' ' + platform::FloatToStr(p.Y);
  }
  RecordChange(ckPropertyChange, "LinePoints", s);
}

void TdtpLineShape::SetPropertyByName(const std::string& Name, const std::string& Value) {
  TdtpPolygonShape::SetPropertyByName(Name, Value);
  if (!platform::SameText(Name, "LinePoints")) return;
  std::vector<float> v;
  size_t i = 0;
  while (i < Value.size()) {
    const size_t j = std::min(Value.find(' ', i), Value.size());
    long double f = 0;
    if (j > i) {
      if (!platform::TryStrToFloat(std::string_view(Value).substr(i, j - i), f) || !std::isfinite(f)) return;
      v.push_back(float(f));
    }
    i = j + 1;
  }
  if (v.size() % 2 != 0) return;
  std::vector<TdtpFloatPoint> pts(v.size() / 2);
  for (size_t k = 0; k < pts.size(); ++k) pts[k] = {v[2 * k], v[2 * k + 1]};
  if (pts == FLinePoints) return;
  RecordLinePoints();
  Invalidate();
  FLinePoints = std::move(pts);
  FRebuild = true;
  RefreshAll();
  Changed();
}

void TdtpLineShape::SetLinePoint(int32_t Index, const TdtpFloatPoint& P) {
  if (Index != 0 && Index != 1) return;
  if (Index >= int32_t(FLinePoints.size())) return;
  RecordLinePoints();
  if (FDocWidth > 0 && FDocHeight > 0) {
    TdtpFloatPoint& f = FLinePoints[size_t(Index)];
    f.X = float(((double)P.X - FDocLeft) / FDocWidth);
    f.Y = float(((double)P.Y - FDocTop) / FDocHeight);
    FitBoundsToPoints();
  } else {
    // Bounds without extent (as stored) hold no fraction for the new end: fit them to the
    // points as they lie, with this end where it is put.
    std::vector<TdtpFloatPoint> abs(FLinePoints.size());
    for (size_t i = 0; i < abs.size(); ++i) GetPoint(int32_t(i), abs[i]);
    abs[size_t(Index)] = P;
    FitBoundsTo(abs);
  }
  RefreshAll();
  Changed();
}

void TdtpLineShape::AddLinePoint(const TdtpFloatPoint& P) {
  const int32_t index = int32_t(FLinePoints.size());
  if (index <= 1) {
    FLinePoints.push_back({0, 0});
    SetLinePoint(index, P);
    return;
  }
  // Only the two ends are placed (the line runs between them); a further point stays at the
  // corner, where loading puts it too. The list grew, which is stored.
  RecordLinePoints();
  FLinePoints.push_back({0, 0});
  FRebuild = true;
  RefreshAll();
  Changed();
}

void TdtpLineShape::SetLineWidth(float Value) {
  Value = SaneWidth(Value);
  if (Value == FLineWidth) return;
  FLineWidth = Value;
  FRebuild = true;
  RefreshAll();
  Changed();
}

void TdtpLineShape::FitBoundsToPoints() {
  std::vector<TdtpFloatPoint> abs(FLinePoints.size());
  for (size_t i = 0; i < abs.size(); ++i) GetPoint(int32_t(i), abs[i]);
  FitBoundsTo(abs);
}

void TdtpLineShape::FitBoundsTo(const std::vector<TdtpFloatPoint>& Absolute) {
  if (Absolute.empty()) return;
  float minX = Absolute[0].X, maxX = minX, minY = Absolute[0].Y, maxY = minY;
  for (const auto& p : Absolute) {
    minX = std::min(minX, p.X);
    maxX = std::max(maxX, p.X);
    minY = std::min(minY, p.Y);
    maxY = std::max(maxY, p.Y);
  }
  if (maxX == minX) maxX = minX + 1;
  if (maxY == minY) maxY = minY + 1;
  const float w = maxX - minX, h = maxY - minY;
  for (size_t i = 0; i < Absolute.size(); ++i) {
    FLinePoints[i].X = w > 0 ? float(((double)Absolute[i].X - minX) / w) : 0.0f;
    FLinePoints[i].Y = h > 0 ? float(((double)Absolute[i].Y - minY) / h) : 0.0f;
  }
  FRebuild = true;
  SetDocBounds(minX, minY, w, h);
}

// A line turns its points instead of storing an angle: about the top-left corner of its
// bounds, by the full value each time.
void TdtpLineShape::SetDocAngle(float Value) {
  if (!std::isfinite(Value)) return;
  double c, s;
  DegreeSinCos(Value, c, s);
  if (c != 1) RecordLinePoints();
  const double W = FDocWidth, H = FDocHeight;
  if (W > 0 && H > 0) {
    for (auto& p : FLinePoints) {
      const double u = p.X, v = p.Y;
      p.X = float((c * u * W + s * v * H) / W);
      p.Y = float((-s * u * W + c * v * H) / H);
    }
    FitBoundsToPoints();
  } else {
    // Without an extent the fractions carry no position: turn the absolute points.
    std::vector<TdtpFloatPoint> abs(FLinePoints.size());
    for (size_t i = 0; i < abs.size(); ++i) {
      TdtpFloatPoint a;
      GetPoint(int32_t(i), a);
      const double x = (double)a.X - FDocLeft, y = (double)a.Y - FDocTop;
      abs[i] = {float(FDocLeft + c * x + s * y), float(FDocTop - s * x + c * y)};
    }
    FitBoundsTo(abs);
  }
  RefreshAll();
  Changed();
}

void TdtpLineShape::SetBoundsFromRect(const TdtpFloatRect& Rect) {
  if (FLinePoints.size() >= 2) {
    if (Rect.Right < Rect.Left || Rect.Bottom < Rect.Top) RecordLinePoints();
    if (Rect.Right < Rect.Left) {
      FLinePoints[0].X = 1;
      FLinePoints[1].X = 0;
    }
    if (Rect.Bottom < Rect.Top) {
      FLinePoints[0].Y = 1;
      FLinePoints[1].Y = 0;
    }
    FRebuild = true;
  }
  TdtpPolygonShape::SetBoundsFromRect(Rect);
  // The constrained size (at least 0.1 mm) of a drag straight across or down would move the
  // second end off the drag: the ends go where the drag began and ended.
  if (FLinePoints.size() < 2 || (Rect.Left == Rect.Right && Rect.Top == Rect.Bottom)) return;
  std::vector<TdtpFloatPoint> abs(FLinePoints.size());
  for (size_t i = 0; i < abs.size(); ++i) GetPoint(int32_t(i), abs[i]);
  const TdtpFloatPoint want0{Rect.Left, Rect.Top}, want1{Rect.Right, Rect.Bottom};
  if (abs[0] == want0 && abs[1] == want1) return;
  abs[0] = want0;
  abs[1] = want1;
  FitBoundsTo(abs);
}

void TdtpLineShape::ApplyDragBounds() {
  if (DragHandle >= 0 && DragHandle < int32_t(FLinePoints.size()) && DragHandle < int32_t(Handles.size()) &&
      Handles[size_t(DragHandle)].Code == 11) {
    const TdtpHandle& h = Handles[size_t(DragHandle)];
    SetLinePoint(DragHandle, {h.DragX + FDocLeft, h.DragY + FDocTop});
    return;
  }
  SetDocBoundsAngle(DragLeft, DragTop, DragWidth, DragHeight, FDocAngle);
}

void TdtpLineShape::CreateHandles() {
  Handles.clear();
  HandleEdges.clear();
  for (int32_t i = 0; i < int32_t(FLinePoints.size()); ++i) {
    TdtpFloatPoint p;
    GetPoint(i, p);
    Handles.push_back({p.X - FDocLeft, p.Y - FDocTop, 11, p.X - FDocLeft, p.Y - FDocTop});
    // Dragging a segment moves the whole line.
    if (i > 0) HandleEdges.push_back({i - 1, i, 1, true});
  }
}

void TdtpLineShape::PaintFocusRect(platform::TCanvas* Canvas, const platform::TRect& Rect, platform::TColor Color) {
  if (!Canvas) return;
  Canvas->Pen()->SetMode(platform::pmXor);
  Canvas->Pen()->SetStyle(platform::psDot);
  Canvas->Pen()->SetColor(Color);
  Canvas->Brush()->SetStyle(platform::bsClear);
  Canvas->MoveTo(Rect.Left, Rect.Top);
  Canvas->LineTo(Rect.Right, Rect.Bottom);
}

// ---------------------------------------------------------------------------------------
// Outline

void TdtpLineShape::BuildLinePolygon(const TdtpArrow& Arrow, const TdtpFloatPoint& EndF, const TdtpFloatPoint& OtherF) {
  const TVec End{EndF.X, EndF.Y}, Other{OtherF.X, OtherF.Y};
  const double d = std::hypot(End.X - Other.X, End.Y - Other.Y);
  if (!(d > 0) || !std::isfinite(d)) return;
  const TVec u = (End - Other) * (1 / d);
  const TVec n{-u.Y, u.X};
  const double LW = FLineWidth, AW = Arrow.Width;
  const TVec h = n * (LW / 2);
  TdtpArrowStyle style = Arrow.Style();
  if (AW <= LW) style = asNoArrow;
  double len = 0;
  TVec B = End;
  if (style != asNoArrow) {
    // Never longer than 70 % of the segment, never inverted.
    len = std::max(0.0, std::min(0.7 * d, double(Arrow.Length)));
    B = End - u * len;
  }
  const TVec Am = B - h, Ap = B + h;
  const TVec w = n * (AW / 2);
  auto add = [&](TVec P) { AddPointXY(float(P.X), float(P.Y)); };
  switch (style) {
    case asNoArrow:
      add(Am);
      add(Ap);
      break;
    case asArrow:
      add(Am);
      add(B - w);
      add(End);
      add(B + w);
      add(Ap);
      break;
    case asDiamond: {
      const TVec M = B + u * (len / 2);
      add(Am);
      add(M - w);
      add(End);
      add(M + w);
      add(Ap);
      break;
    }
    case asOpenArrow:
    case asStealthArrow: {
      const double t = 2 * len / AW;
      const double k = std::max(0.0, len - (t / 2 + std::sqrt(t * t + 1)) * LW);
      add(Am);
      TArcPoints arc;
      double r = 0;
      if (k > 0 && style == asStealthArrow) {
        r = AW / 2 - 0.75 * LW - k / t;
        BuildArcPoints(k * DevScale(), arc);
      }
      if (k > 0) {
        if (style == asOpenArrow) {
          add(Am + u * k);
          add(Am - n * (k / t));
        } else {
          for (int32_t i = 0; i <= arc.N(); ++i) {
            const double c = arc.C[size_t(i)], s = arc.S[size_t(i)];
            add(Am + u * (k * c) - n * (s * r) - n * ((1 - c) * k / t));
          }
        }
      }
      add(B - w);
      add(End);
      add(B + w);
      if (k > 0) {
        if (style == asOpenArrow) {
          add(Ap + n * (k / t));
          add(Ap + u * k);
        } else {
          for (int32_t i = arc.N(); i >= 0; --i) {
            const double c = arc.C[size_t(i)], s = arc.S[size_t(i)];
            add(Ap + u * (k * c) + n * (s * r) + n * ((1 - c) * k / t));
          }
        }
      }
      add(Ap);
      break;
    }
    case asOval: {
      const double k = len / 2, a = AW / 2;
      TArcPoints arc;
      BuildArcPoints(std::max(a, k) * DevScale(), arc);
      const int32_t N = arc.N();
      auto C = [&](int32_t i) { return double(arc.C[size_t(i)]); };
      auto S = [&](int32_t i) { return double(arc.S[size_t(i)]); };
      add(Am);
      for (int32_t i = 1; i <= N - 1; ++i) {
        const TVec P = B + u * (k * (1 - C(i))) - n * (a * S(i));
        if ((P.X - Am.X) * u.Y - (P.Y - Am.Y) * u.X > 0) add(P);
      }
      for (int32_t i = N; i >= 1; --i) add(B + u * (k * (1 + C(i))) - n * (a * S(i)));
      for (int32_t i = 0; i <= N - 1; ++i) add(B + u * (k * (1 + C(i))) + n * (a * S(i)));
      for (int32_t i = N; i >= 1; --i) {
        const TVec P = B + u * (k * (1 - C(i))) + n * (a * S(i));
        if ((P.X - Ap.X) * u.Y - (P.Y - Ap.Y) * u.X < 0) add(P);
      }
      add(Ap);
      break;
    }
  }
}

void TdtpLineShape::BuildOutline() {
  if (FLinePoints.size() < 2) return;
  TdtpFloatPoint p0, p1;
  GetPoint(0, p0);
  GetPoint(1, p1);
  if (p0 == p1) return;  // the previous outline stays
  ClearPoints();
  BuildLinePolygon(*FArrow0, p0, p1);
  BuildLinePolygon(*FArrow1, p1, p0);
  OffsetPoints(-FDocLeft, -FDocTop);
}

void TdtpLineShape2::BuildOutline() {
  // Stored directly: this runs while painting, where no undo or change may be recorded.
  if (!FUseStipple) {
    FUseStipple = true;
    FRebuild = true;
  }
  TdtpLineShape::BuildOutline();
}

// ---------------------------------------------------------------------------------------
// XML

void TdtpLineShape::SaveToXml(TXmlNode* Node) {
  if (!Node) return;
  FArrow0->SaveToXml(Node->NodeNew("Arrow0"));
  FArrow1->SaveToXml(Node->NodeNew("Arrow1"));
  TXmlNode* pts = Node->NodeNew("Points");
  for (int32_t i = 0; i < int32_t(FLinePoints.size()); ++i) {
    TdtpFloatPoint p;
    GetPoint(i, p);
    TXmlNode* pt = pts->NodeNew("Point");
    pt->WriteFloat("X", p.X);
    pt->WriteFloat("Y", p.Y);
  }
  Node->WriteFloat("LineWidth", FLineWidth);
  TdtpPolygonShape::SaveToXml(Node);
}

void TdtpLineShape::LoadFromXml(TXmlNode* Node) {
  if (!Node) return;
  // Points and bounds are restored without undo records, change events or modified flags.
  ++FLoading;
  try {
    if (TXmlNode* a = Node->NodeByName("Arrow0")) FArrow0->LoadFromXml(a);
    if (TXmlNode* a = Node->NodeByName("Arrow1")) FArrow1->LoadFromXml(a);
    std::vector<TdtpFloatPoint> abs;
    TXmlNode* pts = Node->NodeByName("Points");
    if (pts)
      for (const auto& pt : pts->Nodes())
        if (platform::SameText(pt->Name(), "Point")) abs.push_back({Finite(pt->ReadFloat("X", 0)), Finite(pt->ReadFloat("Y", 0))});
    FLineWidth = SaneWidth(Node->ReadFloat("LineWidth", 0));
    TdtpPolygonShape::LoadFromXml(Node);
    if (pts) {
      // The points become fractions of the stored bounds in one step: fitting them one by one
      // to bounds that are then replaced would move an end of a straight or vertical line.
      // Only the two ends are placed; further points stay at the corner.
      FLinePoints.assign(abs.size(), {0, 0});
      abs.resize(std::min<size_t>(abs.size(), 2));
      // A side stored without extent keeps it: the ends then lie on that side.
      for (size_t i = 0; i < abs.size(); ++i)
        FLinePoints[i] = {FDocWidth > 0 ? float(((double)abs[i].X - FDocLeft) / FDocWidth) : 0.0f,
                          FDocHeight > 0 ? float(((double)abs[i].Y - FDocTop) / FDocHeight) : 0.0f};
      FRebuild = true;
      RefreshAll();
    }
  } catch (...) {
    --FLoading;
    throw;
  }
  --FLoading;
}

void InitializeDtpLineShape() {
  RegisterShapeClass(TdtpLineShape::StaticClass());
  RegisterShapeClass(TdtpLineShape2::StaticClass());
}

}  // namespace document

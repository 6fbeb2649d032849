// Outlines of the polygon family: straight-edged shapes, the ellipse, the round rectangle and
// the half and quarter ellipses with their small arrowheads; and the class registration.
#include <algorithm>
#include <cmath>

#include "document/XmlDocuments.h"
#include "document/dtpPolygonShape.h"
#include "platform/SysUtils.h"

namespace document {

namespace {

constexpr double cTwoPi = 6.28318530717958647692;

// A head point at (wx * W + dx, hy * H + dy).
struct THeadPoint {
  float wx, dx, hy, dy;
};
struct THead {
  const THeadPoint* P;
  int32_t Count;
};

constexpr THeadPoint cH1Start[] = {{0, 0, 1, 0}, {0, -1, 1, -2}, {0, 1, 1, -2}, {0, 0, 1, 0}};
constexpr THeadPoint cH1End[] = {{1, 0, 1, 0}, {1, -1, 1, -2}, {1, 1, 1, -2}, {1, 0, 1, 0}};
constexpr THeadPoint cH2Start[] = {{0, 0, 0, 0}, {0, 2, 0, -1}, {0, 2, 0, 1}, {0, 0, 0, 0}};
constexpr THeadPoint cH2End[] = {{0, 0, 1, 0}, {0, 2, 1, -1}, {0, 2, 1, 1}, {0, 0, 1, 0}};
constexpr THeadPoint cH3Start[] = {{1, 0, 0, 0}, {1, 1, 0, 2}, {1, -1, 0, 2}, {1, 0, 0, 0}};
constexpr THeadPoint cH3End[] = {{0, 0, 0, 0}, {0, 1, 0, 2}, {0, -1, 0, 2}, {0, 0, 0, 0}};
constexpr THeadPoint cH4Start[] = {{1, 0, 1, 0}, {1, -2, 1, 1}, {1, -2, 1, -1}, {1, 0, 1, 0}};
constexpr THeadPoint cH4End[] = {{1, 0, 0, 0}, {1, -2, 0, 1}, {1, -2, 0, -1}, {1, 0, 0, 0}};
constexpr THeadPoint cK1Start[] = {{0, 0, 0, 0}, {0, 2, 0, -1}, {0, 2, 0, 1}, {0, 0, 0, 0}};
// Three points only: stored drawings were made with this head.
constexpr THeadPoint cK1End[] = {{1, 1, 1, -2}, {1, -1, 1, -2}, {1, 0, 1, 0}};
constexpr THeadPoint cK2Start[] = {{1, 0, 0, 0}, {1, 1, 0, 2}, {1, -1, 0, 2}, {1, 0, 0, 0}};
constexpr THeadPoint cK2End[] = {{0, 0, 1, 0}, {0, 2, 1, -1}, {0, 2, 1, 1}, {0, 0, 1, 0}};
constexpr THeadPoint cK3Start[] = {{1, 0, 1, 0}, {1, -2, 1, -1}, {1, -2, 1, 1}, {1, 0, 1, 0}};
constexpr THeadPoint cK3End[] = {{0, 0, 0, 0}, {0, 1, 0, 2}, {0, -1, 0, 2}, {0, 0, 0, 0}};
constexpr THeadPoint cK4Start[] = {{0, 0, 1, 0}, {0, 1, 1, -2}, {0, -1, 1, -2}, {0, 0, 1, 0}};
constexpr THeadPoint cK4End[] = {{1, 0, 0, 0}, {1, -2, 0, -1}, {1, -2, 0, 1}, {1, 0, 0, 0}};

template <size_t N>
constexpr THead Head(const THeadPoint (&P)[N]) {
  return {P, int32_t(N)};
}

// [half 0 / quarter 1][number - 1][start 0 / end 1]
constexpr THead cHeads[2][4][2] = {
    {{Head(cH1Start), Head(cH1End)},
     {Head(cH2Start), Head(cH2End)},
     {Head(cH3Start), Head(cH3End)},
     {Head(cH4Start), Head(cH4End)}},
    {{Head(cK1Start), Head(cK1End)},
     {Head(cK2Start), Head(cK2End)},
     {Head(cK3Start), Head(cK3End)},
     {Head(cK4Start), Head(cK4End)}},
};

enum THeads { hdBoth, hdNone, hdStart, hdEnd };

// Shared outline of the half (Quarter false) and quarter ellipses numbered 1..4.
struct TArcBuilder {
  TdtpPolygonShape* S;
  double W, H;
  void Add(double X, double Y) { S->AddPointXY(float(X), float(Y)); }
  void AddHead(const THead& Hd) {
    for (int32_t i = 0; i < Hd.Count; ++i) {
      const THeadPoint& p = Hd.P[i];
      Add(double(p.wx) * W + p.dx, double(p.hy) * H + p.dy);
    }
  }
  void Half(int32_t Number, const TArcPoints& A) {
    const int32_t n = A.N();
    const double w2 = W / 2, h2 = H / 2;
    auto c = [&](int32_t i) { return double(A.C[size_t(i)]); };
    auto s = [&](int32_t i) { return double(A.S[size_t(i)]); };
    switch (Number) {
      case 1:
        for (int32_t i = 0; i < n; ++i) Add(w2 - w2 * c(i), H - H * s(i));
        for (int32_t i = n; i >= 1; --i) Add(w2 + w2 * c(i), H - H * s(i));
        break;
      case 2:
        for (int32_t i = n; i >= 1; --i) Add(W * c(i), h2 - h2 * s(i));
        for (int32_t i = 0; i < n; ++i) Add(W * c(i), h2 + h2 * s(i));
        break;
      case 3:
        for (int32_t i = 0; i < n; ++i) Add(w2 + w2 * c(i), H * s(i));
        for (int32_t i = n; i >= 1; --i) Add(w2 - w2 * c(i), H * s(i));
        break;
      default:
        for (int32_t i = n; i >= 1; --i) Add(W - W * c(i), h2 + h2 * s(i));
        for (int32_t i = 0; i < n; ++i) Add(W - W * c(i), h2 - h2 * s(i));
        break;
    }
  }
  void Quarter(int32_t Number, const TArcPoints& A) {
    const int32_t n = A.N();
    auto c = [&](int32_t i) { return double(A.C[size_t(i)]); };
    auto s = [&](int32_t i) { return double(A.S[size_t(i)]); };
    switch (Number) {
      case 1:
        for (int32_t i = n; i >= 1; --i) Add(W * c(i), H - H * s(i));
        break;
      case 2:
        for (int32_t i = 0; i < n; ++i) Add(W * c(i), H * s(i));
        break;
      case 3:
        for (int32_t i = n; i >= 1; --i) Add(W - W * c(i), H * s(i));
        break;
      default:
        for (int32_t i = 0; i < n; ++i) Add(W - W * c(i), H - H * s(i));
        break;
    }
  }
};

void BuildArcShape(TdtpPolygonShape* S, bool Quarter, int32_t Number, THeads Heads) {
  S->ClearPoints();
  TArcBuilder b{S, S->DocWidth(), S->DocHeight()};
  TArcPoints arc;
  BuildArcPoints(cTwoPi * b.W * S->DevScale(), arc);
  const THead* heads = cHeads[Quarter ? 1 : 0][Number - 1];
  if (Heads == hdBoth || Heads == hdStart) b.AddHead(heads[0]);
  if (Quarter)
    b.Quarter(Number, arc);
  else
    b.Half(Number, arc);
  if (Heads == hdBoth || Heads == hdEnd) b.AddHead(heads[1]);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Straight-edged shapes

TdtpRectangleShape::TdtpRectangleShape() { SetCursorId(-35); }
void TdtpRectangleShape::BuildOutline() {
  if (OutlineCached()) return;
  ClearPoints();
  const float W = FDocWidth, H = FDocHeight;
  AddPointXY(0, 0);
  AddPointXY(0, H);
  AddPointXY(W, H);
  AddPointXY(W, 0);
  StoreOutlineKey();
}

TdtpDrieHShape::TdtpDrieHShape() = default;
void TdtpDrieHShape::BuildOutline() {
  if (OutlineCached()) return;
  ClearPoints();
  const double W = FDocWidth, H = FDocHeight;
  AddPointXY(0, float(H));
  AddPointXY(float(W / 2), 0);
  AddPointXY(float(W), float(H));
  StoreOutlineKey();
}

TdtpAchtHShape::TdtpAchtHShape() { SetCursorId(-35); }
void TdtpAchtHShape::BuildOutline() {
  if (OutlineCached()) return;
  ClearPoints();
  const double W = FDocWidth, H = FDocHeight;
  const float a = float(5 * W / 16), b = float(11 * W / 16), c = float(5 * H / 16), d = float(11 * H / 16);
  AddPointXY(0, c);
  AddPointXY(a, 0);
  AddPointXY(b, 0);
  AddPointXY(float(W), c);
  AddPointXY(float(W), d);
  AddPointXY(b, float(H));
  AddPointXY(a, float(H));
  AddPointXY(0, d);
  AddPointXY(0, c);
  StoreOutlineKey();
}

// The lower corners at 10/12 and 1/5 of the width are not symmetric; stored drawings rely on it.
TdtpVijfHShape::TdtpVijfHShape() = default;
void TdtpVijfHShape::BuildOutline() {
  if (OutlineCached()) return;
  ClearPoints();
  const double W = FDocWidth, H = FDocHeight;
  const float y = float(3 * H / 8);
  AddPointXY(0, y);
  AddPointXY(float(W / 2), 0);
  AddPointXY(float(W), y);
  AddPointXY(float(10 * W / 12), float(H));
  AddPointXY(float(W / 5), float(H));
  AddPointXY(0, y);
  StoreOutlineKey();
}

TdtpZesHShape::TdtpZesHShape() = default;
void TdtpZesHShape::BuildOutline() {
  if (OutlineCached()) return;
  ClearPoints();
  const double W = FDocWidth, H = FDocHeight;
  const float h2 = float(H / 2), a = float(W / 4), b = float(3 * W / 4);
  AddPointXY(0, h2);
  AddPointXY(a, 0);
  AddPointXY(b, 0);
  AddPointXY(float(W), h2);
  AddPointXY(b, float(H));
  AddPointXY(a, float(H));
  AddPointXY(0, h2);
  StoreOutlineKey();
}

// ---------------------------------------------------------------------------------------
// Ellipse and round rectangle

TdtpEllipseShape::TdtpEllipseShape() { SetCursorId(-36); }
void TdtpEllipseShape::BuildOutline() {
  if (OutlineCached()) return;
  ClearPoints();
  const double W = FDocWidth, H = FDocHeight;
  TArcPoints arc;
  BuildArcPoints(cTwoPi * std::max(W, H) * DevScale(), arc);
  const int32_t n = arc.N();
  const double cx = W / 2, cy = H / 2, a = W / 2, b = H / 2;
  for (auto& c : FPoints) c.reserve(size_t(4 * n));
  auto add = [&](double x, double y) { AddPointXY(float(x), float(y)); };
  for (int32_t i = 0; i < n; ++i) add(cx + a * arc.C[size_t(i)], cy + b * arc.S[size_t(i)]);
  for (int32_t i = n; i >= 1; --i) add(cx - a * arc.C[size_t(i)], cy + b * arc.S[size_t(i)]);
  for (int32_t i = 0; i < n; ++i) add(cx - a * arc.C[size_t(i)], cy - b * arc.S[size_t(i)]);
  for (int32_t i = n; i >= 1; --i) add(cx + a * arc.C[size_t(i)], cy - b * arc.S[size_t(i)]);
  StoreOutlineKey();
}

TdtpRoundRectShape::TdtpRoundRectShape() { SetCursorId(-35); }

void TdtpRoundRectShape::InitDefaults() {
  TdtpPolygonShape::InitDefaults();
  FCornerWidth = 0.25f * FDocWidth;
  FCornerHeight = 0.25f * FDocHeight;
  InvalidateOutline();
  BuildOutline();
}

void TdtpRoundRectShape::BuildOutline() {
  if (OutlineCached()) return;
  ClearPoints();
  const double W = FDocWidth, H = FDocHeight;
  const double rx = std::min(W / 2, double(FCornerWidth)), ry = std::min(H / 2, double(FCornerHeight));
  TArcPoints arc;
  BuildArcPoints(std::max(rx, ry) * DevScale(), arc);
  const int32_t n = arc.N();
  auto u = [&](int32_t i) { return (1 - double(arc.C[size_t(i)])) * rx; };
  auto w = [&](int32_t i) { return (1 - double(arc.S[size_t(i)])) * ry; };
  auto add = [&](double x, double y) { AddPointXY(float(x), float(y)); };
  for (int32_t i = 0; i <= n; ++i) add(u(i), w(i));
  for (int32_t i = n; i >= 0; --i) add(W - u(i), w(i));
  for (int32_t i = 0; i <= n; ++i) add(W - u(i), H - w(i));
  for (int32_t i = n; i >= 0; --i) add(u(i), H - w(i));
  StoreOutlineKey();
}

void TdtpRoundRectShape::SetCornerWidth(float Value) {
  if (Value == FCornerWidth) return;
  RecordFloatChange("CornerWidth", FCornerWidth);
  FCornerWidth = Value;
  InvalidateOutline();
  FRebuild = true;
  Refresh();
  Changed();
}

void TdtpRoundRectShape::SetCornerHeight(float Value) {
  if (Value == FCornerHeight) return;
  RecordFloatChange("CornerHeight", FCornerHeight);
  FCornerHeight = Value;
  InvalidateOutline();
  FRebuild = true;
  Refresh();
  Changed();
}

void TdtpRoundRectShape::SetPropertyByName(const std::string& Name, const std::string& Value) {
  TdtpPolygonShape::SetPropertyByName(Name, Value);
  if (platform::SameText(Name, "CornerWidth"))
    SetCornerWidth(DtpStrToFloat(Value));
  else if (platform::SameText(Name, "CornerHeight"))
    SetCornerHeight(DtpStrToFloat(Value));
}

void TdtpRoundRectShape::SaveToXml(TXmlNode* Node) {
  if (!Node) return;
  TdtpPolygonShape::SaveToXml(Node);
  Node->WriteFloat("CornerWidth", FCornerWidth);
  Node->WriteFloat("CornerHeight", FCornerHeight);
}

void TdtpRoundRectShape::LoadFromXml(TXmlNode* Node) {
  if (!Node) return;
  ++FLoading;
  try {
    TdtpPolygonShape::LoadFromXml(Node);
    // A corner that is not a finite number would poison every point of the outline.
    const double cw = Node->ReadFloat("CornerWidth", 0), ch = Node->ReadFloat("CornerHeight", 0);
    FCornerWidth = std::isfinite(cw) ? float(cw) : 0.0f;
    FCornerHeight = std::isfinite(ch) ? float(ch) : 0.0f;
    InvalidateOutline();
    BuildOutline();
    FRebuild = true;
    UpdatePaintRect();
  } catch (...) {
    --FLoading;
    throw;
  }
  --FLoading;
}

// ---------------------------------------------------------------------------------------
// Half and quarter ellipses

#define KD_ARC_CLASS(Name, Quarter, Number, Heads)  \
  Name::Name() = default;                          \
  void Name::BuildOutline() {                      \
    if (OutlineCached()) return;                   \
    BuildArcShape(this, Quarter, Number, Heads);   \
    StoreOutlineKey();                             \
  }

KD_ARC_CLASS(TdtpHcirkel1ShapeA, false, 1, hdBoth)
KD_ARC_CLASS(TdtpHcirkel2ShapeA, false, 2, hdBoth)
KD_ARC_CLASS(TdtpHcirkel3ShapeA, false, 3, hdBoth)
KD_ARC_CLASS(TdtpHcirkel4ShapeA, false, 4, hdBoth)
KD_ARC_CLASS(TdtpKcirkel1ShapeA, true, 1, hdBoth)
KD_ARC_CLASS(TdtpKcirkel2ShapeA, true, 2, hdBoth)
KD_ARC_CLASS(TdtpKcirkel3ShapeA, true, 3, hdBoth)
KD_ARC_CLASS(TdtpKcirkel4ShapeA, true, 4, hdBoth)
KD_ARC_CLASS(TdtpHcirkel1ShapeB, false, 1, hdNone)
KD_ARC_CLASS(TdtpHcirkel2ShapeB, false, 2, hdNone)
KD_ARC_CLASS(TdtpHcirkel3ShapeB, false, 3, hdNone)
KD_ARC_CLASS(TdtpHcirkel4ShapeB, false, 4, hdNone)
KD_ARC_CLASS(TdtpKcirkel1ShapeB, true, 1, hdNone)
KD_ARC_CLASS(TdtpKcirkel2ShapeB, true, 2, hdNone)
KD_ARC_CLASS(TdtpKcirkel3ShapeB, true, 3, hdNone)
KD_ARC_CLASS(TdtpKcirkel4ShapeB, true, 4, hdNone)
KD_ARC_CLASS(TdtpHcirkel1ShapeC, false, 1, hdStart)
KD_ARC_CLASS(TdtpHcirkel2ShapeC, false, 2, hdStart)
KD_ARC_CLASS(TdtpHcirkel3ShapeC, false, 3, hdStart)
KD_ARC_CLASS(TdtpHcirkel4ShapeC, false, 4, hdStart)
KD_ARC_CLASS(TdtpKcirkel1ShapeC, true, 1, hdStart)
KD_ARC_CLASS(TdtpKcirkel2ShapeC, true, 2, hdStart)
KD_ARC_CLASS(TdtpKcirkel3ShapeC, true, 3, hdStart)
KD_ARC_CLASS(TdtpKcirkel4ShapeC, true, 4, hdStart)
KD_ARC_CLASS(TdtpHcirkel1ShapeD, false, 1, hdEnd)
KD_ARC_CLASS(TdtpHcirkel2ShapeD, false, 2, hdEnd)
KD_ARC_CLASS(TdtpHcirkel3ShapeD, false, 3, hdEnd)
KD_ARC_CLASS(TdtpHcirkel4ShapeD, false, 4, hdEnd)
KD_ARC_CLASS(TdtpKcirkel1ShapeD, true, 1, hdEnd)
KD_ARC_CLASS(TdtpKcirkel2ShapeD, true, 2, hdEnd)
KD_ARC_CLASS(TdtpKcirkel3ShapeD, true, 3, hdEnd)
KD_ARC_CLASS(TdtpKcirkel4ShapeD, true, 4, hdEnd)
KD_ARC_CLASS(TdtpHcirkel1ShapeV, false, 1, hdNone)

#undef KD_ARC_CLASS

// ---------------------------------------------------------------------------------------
// Registry

#define KD_STATIC_CLASS(Name)                                                                        \
  const TShapeClass& Name::StaticClass() {                                                           \
    static const TShapeClass cls = MakeShapeClass<Name>(#Name, &TdtpPolygonShape::StaticClass()); \
    return cls;                                                                                      \
  }

KD_STATIC_CLASS(TdtpEllipseShape)
KD_STATIC_CLASS(TdtpRectangleShape)
KD_STATIC_CLASS(TdtpRoundRectShape)
KD_STATIC_CLASS(TdtpAchtHShape)
KD_STATIC_CLASS(TdtpDrieHShape)
KD_STATIC_CLASS(TdtpVijfHShape)
KD_STATIC_CLASS(TdtpZesHShape)
KD_STATIC_CLASS(TdtpHcirkel1ShapeA)
KD_STATIC_CLASS(TdtpHcirkel2ShapeA)
KD_STATIC_CLASS(TdtpHcirkel3ShapeA)
KD_STATIC_CLASS(TdtpHcirkel4ShapeA)
KD_STATIC_CLASS(TdtpKcirkel1ShapeA)
KD_STATIC_CLASS(TdtpKcirkel2ShapeA)
KD_STATIC_CLASS(TdtpKcirkel3ShapeA)
KD_STATIC_CLASS(TdtpKcirkel4ShapeA)
KD_STATIC_CLASS(TdtpHcirkel1ShapeB)
KD_STATIC_CLASS(TdtpHcirkel2ShapeB)
KD_STATIC_CLASS(TdtpHcirkel3ShapeB)
KD_STATIC_CLASS(TdtpHcirkel4ShapeB)
KD_STATIC_CLASS(TdtpKcirkel1ShapeB)
KD_STATIC_CLASS(TdtpKcirkel2ShapeB)
KD_STATIC_CLASS(TdtpKcirkel3ShapeB)
KD_STATIC_CLASS(TdtpKcirkel4ShapeB)
KD_STATIC_CLASS(TdtpHcirkel1ShapeC)
KD_STATIC_CLASS(TdtpHcirkel2ShapeC)
KD_STATIC_CLASS(TdtpHcirkel3ShapeC)
KD_STATIC_CLASS(TdtpHcirkel4ShapeC)
KD_STATIC_CLASS(TdtpKcirkel1ShapeC)
KD_STATIC_CLASS(TdtpKcirkel2ShapeC)
KD_STATIC_CLASS(TdtpKcirkel3ShapeC)
KD_STATIC_CLASS(TdtpKcirkel4ShapeC)
KD_STATIC_CLASS(TdtpHcirkel1ShapeD)
KD_STATIC_CLASS(TdtpHcirkel2ShapeD)
KD_STATIC_CLASS(TdtpHcirkel3ShapeD)
KD_STATIC_CLASS(TdtpHcirkel4ShapeD)
KD_STATIC_CLASS(TdtpKcirkel1ShapeD)
KD_STATIC_CLASS(TdtpKcirkel2ShapeD)
KD_STATIC_CLASS(TdtpKcirkel3ShapeD)
KD_STATIC_CLASS(TdtpKcirkel4ShapeD)
KD_STATIC_CLASS(TdtpHcirkel1ShapeV)

#undef KD_STATIC_CLASS

const std::vector<const TShapeClass*>& PolygonShapeClasses() {
  static const std::vector<const TShapeClass*> list = {
      &TdtpPolygonShape::StaticClass(),   &TdtpEllipseShape::StaticClass(),   &TdtpRectangleShape::StaticClass(),
      &TdtpRoundRectShape::StaticClass(), &TdtpAchtHShape::StaticClass(),     &TdtpDrieHShape::StaticClass(),
      &TdtpVijfHShape::StaticClass(),     &TdtpZesHShape::StaticClass(),      &TdtpHcirkel1ShapeA::StaticClass(),
      &TdtpHcirkel2ShapeA::StaticClass(), &TdtpHcirkel3ShapeA::StaticClass(), &TdtpHcirkel4ShapeA::StaticClass(),
      &TdtpKcirkel1ShapeA::StaticClass(), &TdtpKcirkel2ShapeA::StaticClass(), &TdtpKcirkel3ShapeA::StaticClass(),
      &TdtpKcirkel4ShapeA::StaticClass(), &TdtpHcirkel1ShapeB::StaticClass(), &TdtpHcirkel2ShapeB::StaticClass(),
      &TdtpHcirkel3ShapeB::StaticClass(), &TdtpHcirkel4ShapeB::StaticClass(), &TdtpKcirkel1ShapeB::StaticClass(),
      &TdtpKcirkel2ShapeB::StaticClass(), &TdtpKcirkel3ShapeB::StaticClass(), &TdtpKcirkel4ShapeB::StaticClass(),
      &TdtpHcirkel1ShapeC::StaticClass(), &TdtpHcirkel2ShapeC::StaticClass(), &TdtpHcirkel3ShapeC::StaticClass(),
      &TdtpHcirkel4ShapeC::StaticClass(), &TdtpKcirkel1ShapeC::StaticClass(), &TdtpKcirkel2ShapeC::StaticClass(),
      &TdtpKcirkel3ShapeC::StaticClass(), &TdtpKcirkel4ShapeC::StaticClass(), &TdtpHcirkel1ShapeD::StaticClass(),
      &TdtpHcirkel2ShapeD::StaticClass(), &TdtpHcirkel3ShapeD::StaticClass(), &TdtpHcirkel4ShapeD::StaticClass(),
      &TdtpKcirkel1ShapeD::StaticClass(), &TdtpKcirkel2ShapeD::StaticClass(), &TdtpKcirkel3ShapeD::StaticClass(),
      &TdtpKcirkel4ShapeD::StaticClass(), &TdtpHcirkel1ShapeV::StaticClass(),
  };
  return list;
}

void InitializeDtpPolygonShape() {
  for (const TShapeClass* c : PolygonShapeClasses()) RegisterShapeClass(*c);
}

}  // namespace document

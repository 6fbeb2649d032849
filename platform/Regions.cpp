#include "platform/Regions.h"

#include <QPolygon>
#include <QRegion>
#include <algorithm>
#include <cmath>

namespace platform {

namespace {

QRect ToQRect(int32_t l, int32_t t, int32_t r, int32_t b) {
  if (l > r) std::swap(l, r);
  if (t > b) std::swap(t, b);
  return QRect(l, t, r - l, b - t);
}

// One horizontal span per pixel row, merged into bands of equal rows so that equal pixel sets
// give equal regions.
QRegion FromRowSpans(int32_t top, const std::vector<std::pair<int32_t, int32_t>>& spans) {
  std::vector<QRect> rects;
  size_t i = 0;
  while (i < spans.size()) {
    size_t j = i + 1;
    while (j < spans.size() && spans[j] == spans[i]) ++j;
    if (spans[i].second > spans[i].first)
      rects.emplace_back(spans[i].first, top + static_cast<int32_t>(i),
                         spans[i].second - spans[i].first, static_cast<int32_t>(j - i));
    i = j;
  }
  QRegion r;
  r.setRects(rects.data(), static_cast<int>(rects.size()));
  return r;
}

// Pixels of one row whose centres lie within half of the ellipse's chord around cx.
std::pair<int32_t, int32_t> EllipseSpan(double cx, double cy, double a, double b, int32_t y) {
  double dy = (y + 0.5 - cy) / b;
  if (dy <= -1.0 || dy >= 1.0) return {0, 0};
  double half = a * std::sqrt(1.0 - dy * dy);
  auto from = static_cast<int32_t>(std::ceil(cx - half - 0.5));
  auto to = static_cast<int32_t>(std::ceil(cx + half - 0.5));
  return {from, to};
}

}  // namespace

TRegion::TRegion() : FRegion(std::make_unique<QRegion>()) {}
TRegion::TRegion(const TRegion& Other) : FRegion(std::make_unique<QRegion>(*Other.FRegion)) {}
TRegion::TRegion(TRegion&& Other) noexcept : FRegion(std::make_unique<QRegion>()) {
  FRegion.swap(Other.FRegion);
}
TRegion& TRegion::operator=(const TRegion& Other) {
  *FRegion = *Other.FRegion;
  return *this;
}
TRegion& TRegion::operator=(TRegion&& Other) noexcept {
  FRegion.swap(Other.FRegion);
  return *this;
}
TRegion::~TRegion() = default;
TRegion::TRegion(const QRegion& Region) : FRegion(std::make_unique<QRegion>(Region)) {}

TRegion TRegion::Rect(int32_t Left, int32_t Top, int32_t Right, int32_t Bottom) {
  return TRegion(QRegion(ToQRect(Left, Top, Right, Bottom)));
}

TRegion TRegion::Ellipse(int32_t Left, int32_t Top, int32_t Right, int32_t Bottom) {
  QRect q = ToQRect(Left, Top, Right, Bottom);
  if (q.isEmpty()) return TRegion();
  double a = q.width() / 2.0, b = q.height() / 2.0;
  double cx = q.x() + a, cy = q.y() + b;
  std::vector<std::pair<int32_t, int32_t>> spans;
  spans.reserve(static_cast<size_t>(q.height()));
  for (int32_t y = q.y(); y < q.y() + q.height(); ++y) spans.push_back(EllipseSpan(cx, cy, a, b, y));
  return TRegion(FromRowSpans(q.y(), spans));
}

TRegion TRegion::RoundRect(int32_t Left, int32_t Top, int32_t Right, int32_t Bottom,
                           int32_t CornerWidth, int32_t CornerHeight) {
  QRect q = ToQRect(Left, Top, Right, Bottom);
  if (q.isEmpty()) return TRegion();
  // Corners larger than the rectangle are cut to it.
  int32_t cw = std::clamp(std::abs(CornerWidth), 0, q.width());
  int32_t ch = std::clamp(std::abs(CornerHeight), 0, q.height());
  if (cw < 2 || ch < 2) return TRegion(QRegion(q));
  double a = cw / 2.0, b = ch / 2.0;
  int32_t l = q.x(), t = q.y(), r = q.x() + q.width(), bt = q.y() + q.height();
  std::vector<std::pair<int32_t, int32_t>> spans;
  spans.reserve(static_cast<size_t>(q.height()));
  for (int32_t y = t; y < bt; ++y) {
    double cy;
    if (y + 0.5 < t + b) cy = t + b;
    else if (y + 0.5 > bt - b) cy = bt - b;
    else { spans.emplace_back(l, r); continue; }
    auto [from, to] = EllipseSpan(l + a, cy, a, b, y);
    int32_t inset = from - l;
    (void)to;
    spans.emplace_back(l + inset, r - inset);
  }
  return TRegion(FromRowSpans(t, spans));
}

TRegion TRegion::Polygon(const std::vector<TPoint>& Points, int32_t FillMode) {
  if (Points.size() < 3) return TRegion();
  QPolygon poly;
  poly.reserve(static_cast<qsizetype>(Points.size()));
  for (const TPoint& p : Points) poly.append(QPoint(p.X, p.Y));
  return TRegion(QRegion(poly, FillMode == WINDING ? Qt::WindingFill : Qt::OddEvenFill));
}

int32_t TRegion::Kind() const {
  if (FRegion->isEmpty()) return NULLREGION;
  return FRegion->rectCount() == 1 ? SIMPLEREGION : COMPLEXREGION;
}

bool TRegion::Empty() const { return FRegion->isEmpty(); }

TRect TRegion::Box() const {
  QRect b = FRegion->boundingRect();
  if (b.isEmpty()) return {};
  return {b.x(), b.y(), b.x() + b.width(), b.y() + b.height()};
}

bool TRegion::Contains(int32_t X, int32_t Y) const { return FRegion->contains(QPoint(X, Y)); }

bool TRegion::Intersects(const TRect& R) const {
  QRect q = ToQRect(R.Left, R.Top, R.Right, R.Bottom);
  return !q.isEmpty() && FRegion->intersects(q);
}

void TRegion::Offset(int32_t DX, int32_t DY) { FRegion->translate(DX, DY); }

std::vector<TRect> TRegion::Rects() const {
  std::vector<TRect> out;
  for (const QRect& q : *FRegion) out.push_back({q.x(), q.y(), q.x() + q.width(), q.y() + q.height()});
  return out;
}

bool TRegion::operator==(const TRegion& Other) const { return *FRegion == *Other.FRegion; }

int32_t CombineRgn(TRegion& Dest, const TRegion& Src1, const TRegion& Src2, int32_t Mode) {
  const QRegion& a = Src1.Qt();
  const QRegion& b = Src2.Qt();
  QRegion r;
  switch (Mode) {
    case RGN_AND: r = a.intersected(b); break;
    case RGN_OR: r = a.united(b); break;
    case RGN_XOR: r = a.xored(b); break;
    case RGN_DIFF: r = a.subtracted(b); break;
    case RGN_COPY: r = a; break;
    default: return RGN_ERROR;
  }
  Dest = TRegion(r);
  return Dest.Kind();
}

bool PtInRegion(const TRegion& Rgn, int32_t X, int32_t Y) { return Rgn.Contains(X, Y); }
bool RectInRegion(const TRegion& Rgn, const TRect& R) { return Rgn.Intersects(R); }

int32_t OffsetRgn(TRegion& Rgn, int32_t DX, int32_t DY) {
  Rgn.Offset(DX, DY);
  return Rgn.Kind();
}

int32_t GetRgnBox(const TRegion& Rgn, TRect& Box) {
  Box = Rgn.Box();
  return Rgn.Kind();
}

bool EqualRgn(const TRegion& A, const TRegion& B) { return A == B; }

}  // namespace platform

#include "platform/Regions.h"

#include <QPolygon>
#include <QRegion>
#include <algorithm>
#include <cmath>

namespace platform {

namespace {

// Coordinates are kept within +-(2^30 - 1) so that sizes fit in 32 bits.
constexpr int32_t kLimit = (1 << 30) - 1;
int32_t Clamp(int32_t v) { return std::clamp(v, -kLimit, kLimit); }

QRect ToQRect(int32_t l, int32_t t, int32_t r, int32_t b) {
  l = Clamp(l), t = Clamp(t), r = Clamp(r), b = Clamp(b);
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
// Regions hold the pixels within +-2^18 of the origin; shapes reaching beyond are cut there
// (row by row work stays bounded whatever coordinates arrive).
constexpr int32_t kWindow = 1 << 18;

std::pair<int32_t, int32_t> EllipseSpan(double cx, double cy, double a, double b, int32_t y) {
  double dy = (y + 0.5 - cy) / b;
  if (dy <= -1.0 || dy >= 1.0) return {0, 0};
  double half = a * std::sqrt(1.0 - dy * dy);
  double from = std::clamp(std::ceil(cx - half - 0.5), double(-kWindow), double(kWindow));
  double to = std::clamp(std::ceil(cx + half - 0.5), double(-kWindow), double(kWindow));
  return {static_cast<int32_t>(from), static_cast<int32_t>(to)};
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
  const int32_t top = std::max(q.y(), -kWindow), bottom = std::min(q.y() + q.height(), kWindow);
  std::vector<std::pair<int32_t, int32_t>> spans;
  for (int32_t y = top; y < bottom; ++y) spans.push_back(EllipseSpan(cx, cy, a, b, y));
  return TRegion(FromRowSpans(top, spans));
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
  const int32_t top = std::max(t, -kWindow), bottom = std::min(bt, kWindow);
  std::vector<std::pair<int32_t, int32_t>> spans;
  for (int32_t y = top; y < bottom; ++y) {
    double cy;
    if (y + 0.5 < t + b) cy = t + b;
    else if (y + 0.5 > bt - b) cy = bt - b;
    else { spans.emplace_back(std::max(l, -kWindow), std::min(r, kWindow)); continue; }
    // The corner's inset from the left edge, mirrored on the right.
    double dy = (y + 0.5 - cy) / b;
    int32_t inset = 0;
    if (dy > -1.0 && dy < 1.0) inset = static_cast<int32_t>(std::ceil(a - a * std::sqrt(1.0 - dy * dy) - 0.5));
    else inset = static_cast<int32_t>(a);
    spans.emplace_back(std::max(l + inset, -kWindow), std::min(r - inset, kWindow));
  }
  return TRegion(FromRowSpans(top, spans));
}

TRegion TRegion::Polygon(const std::vector<TPoint>& Points, int32_t FillMode) {
  if (Points.size() < 3) return TRegion();
  // Cut to the window first (clipping against a convex box keeps every winding number inside it).
  std::vector<std::pair<double, double>> pts;
  pts.reserve(Points.size());
  for (const TPoint& p : Points) pts.emplace_back(p.X, p.Y);
  const double lim = kWindow;
  auto clipEdge = [&](auto inside, auto cross) {
    std::vector<std::pair<double, double>> out;
    for (size_t i = 0; i < pts.size(); ++i) {
      auto cur = pts[i], prev = pts[(i + pts.size() - 1) % pts.size()];
      bool ci = inside(cur), pi = inside(prev);
      if (ci != pi) out.push_back(cross(prev, cur));
      if (ci) out.push_back(cur);
    }
    pts.swap(out);
  };
  using P = std::pair<double, double>;
  auto atX = [](P a, P b, double x) { return P{x, a.second + (b.second - a.second) * (x - a.first) / (b.first - a.first)}; };
  auto atY = [](P a, P b, double y) { return P{a.first + (b.first - a.first) * (y - a.second) / (b.second - a.second), y}; };
  clipEdge([&](P p) { return p.first >= -lim; }, [&](P a, P b) { return atX(a, b, -lim); });
  clipEdge([&](P p) { return p.first <= lim; }, [&](P a, P b) { return atX(a, b, lim); });
  clipEdge([&](P p) { return p.second >= -lim; }, [&](P a, P b) { return atY(a, b, -lim); });
  clipEdge([&](P p) { return p.second <= lim; }, [&](P a, P b) { return atY(a, b, lim); });
  if (pts.size() < 3) return TRegion();
  QPolygon poly;
  poly.reserve(static_cast<qsizetype>(pts.size()));
  for (const P& p : pts) poly.append(QPoint(static_cast<int>(std::lround(p.first)), static_cast<int>(std::lround(p.second))));
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

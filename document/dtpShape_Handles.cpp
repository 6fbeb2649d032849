// The shape's side of interactive editing: selection handles, hit tests against screen
// points, and the arithmetic that turns a mouse movement on a handle into new geometry.
#include <algorithm>
#include <cmath>

#include "document/dtpShape.h"
#include "platform/Graphics.h"
#include "platform/Rounding.h"
#include "raster/dtpUtil.h"

namespace document {

using platform::TPoint;
using platform::TRect;

namespace {

// Screen positions are held within 2^29 pixels of the origin: far outside any view, they
// neither wrap round into it nor overflow the 64-bit squared distances of the edge test.
int32_t RoundI(double V) {
  constexpr int64_t kFar = int64_t(1) << 29;
  return int32_t(std::clamp<int64_t>(platform::Round((long double)V), -kFar, kFar));
}

// Even-odd crossing test of a screen polygon (GDI's default fill rule for regions).
bool PointInPolygon(const std::vector<TPoint>& Poly, const TPoint& P) {
  if (Poly.size() < 3) return false;
  bool inside = false;
  const double px = P.X + 0.5, py = P.Y + 0.5;  // pixel centre
  for (size_t i = 0, j = Poly.size() - 1; i < Poly.size(); j = i++) {
    const double xi = Poly[i].X, yi = Poly[i].Y, xj = Poly[j].X, yj = Poly[j].Y;
    if ((yi > py) != (yj > py) && px < (xj - xi) * (py - yi) / (yj - yi) + xi) inside = !inside;
  }
  return inside;
}

// Even-odd over several rings: a point inside an odd number of them is inside the region.
bool PointInRings(const std::vector<std::vector<TPoint>>& Rings, const TPoint& P) {
  bool inside = false;
  for (const auto& ring : Rings) inside ^= PointInPolygon(ring, P);
  return inside;
}

bool SegmentsCross(TPoint a, TPoint b, TPoint c, TPoint d) {
  // Differences of 32-bit coordinates need 33 bits and their products 66: exact in 128.
  auto cross = [](TPoint o, TPoint p, TPoint q) {
    return __int128(int64_t(p.X) - o.X) * (int64_t(q.Y) - o.Y) - __int128(int64_t(p.Y) - o.Y) * (int64_t(q.X) - o.X);
  };
  const __int128 d1 = cross(c, d, a), d2 = cross(c, d, b), d3 = cross(a, b, c), d4 = cross(a, b, d);
  return ((d1 > 0) != (d2 > 0)) && ((d3 > 0) != (d4 > 0)) && d1 != 0 && d2 != 0 && d3 != 0 && d4 != 0;
}

// True when the rectangle (right and bottom exclusive) meets the polygon's area.
bool RectMeetsPolygon(const std::vector<TPoint>& Poly, const TRect& R) {
  if (Poly.size() < 3 || R.Right <= R.Left || R.Bottom <= R.Top) return false;
  for (const TPoint& p : Poly)
    if (platform::PtInRect(R, p)) return true;
  const TPoint corners[4] = {{R.Left, R.Top}, {R.Right - 1, R.Top}, {R.Right - 1, R.Bottom - 1}, {R.Left, R.Bottom - 1}};
  for (const TPoint& c : corners)
    if (PointInPolygon(Poly, c)) return true;
  for (size_t i = 0, j = Poly.size() - 1; i < Poly.size(); j = i++)
    for (int k = 0; k < 4; ++k)
      if (SegmentsCross(Poly[j], Poly[i], corners[k], corners[(k + 1) % 4])) return true;
  return false;
}

}  // namespace

std::vector<TPoint> MakeNudgeOffsets(float Scale) {
  std::vector<TPoint> t{{0, 0}};
  for (int k = 4; k >= 1; --k) {
    const int32_t n = RoundI(double(k * Scale));
    t.push_back({n, 0});
    t.push_back({-n, 0});
    t.push_back({0, n});
    t.push_back({0, -n});
  }
  const int32_t d = RoundI(double(2.84f * Scale));
  t.push_back({d, d});
  t.push_back({-d, d});
  t.push_back({d, -d});
  t.push_back({-d, -d});
  return t;
}

const std::vector<TPoint>& IdtpDocumentHost::NudgeOffsets() const {
  static const std::vector<TPoint> table = MakeNudgeOffsets(1.0f);
  return table;
}

void TdtpShape::CreateHandles() {
  const float w = FDocWidth, h = FDocHeight;
  SetHandleCount(5);
  Handles[0] = {0, 0, 2, 0, 0};
  Handles[1] = {0, h, 4, 0, h};
  Handles[2] = {w, h, 6, w, h};
  Handles[3] = {w, 0, 8, w, 0};
  Handles[4] = {1.03f * w, h / 2, 10, 1.03f * w, h / 2};
  SetHandleEdgeCount(4);
  HandleEdges[0] = {0, 1, 3, true};
  HandleEdges[1] = {1, 2, 5, true};
  HandleEdges[2] = {2, 3, 7, true};
  HandleEdges[3] = {3, 0, 9, true};
}

void TdtpShape::SetHandleCount(int32_t N) {
  if (N >= 0 && size_t(N) != Handles.size()) Handles.resize(size_t(N));
}

void TdtpShape::SetHandleEdgeCount(int32_t N) {
  if (N >= 0 && size_t(N) != HandleEdges.size()) HandleEdges.resize(size_t(N));
}

void TdtpShape::GetHandle(int32_t I, TdtpHandle& Out) const {
  if (I >= 0 && I < HandleCount()) Out = Handles[size_t(I)];
}

void TdtpShape::GetHandleEdge(int32_t I, TdtpHandleEdge& Out) const {
  if (I >= 0 && I < HandleEdgeCount()) Out = HandleEdges[size_t(I)];
}

void TdtpShape::GetHandleRect(int32_t I, TRect& Rect) const {
  if (I < 0 || I >= HandleCount()) return;
  TdtpFloatPoint s;
  if (!LocalToScreen({Handles[size_t(I)].X, Handles[size_t(I)].Y}, s)) return;
  Rect = {RoundI(s.X - 3.0), RoundI(s.Y - 3.0), RoundI(s.X + 3.0) + 1, RoundI(s.Y + 4.0)};
}

uint8_t TdtpShape::HandleAtPoint(const TPoint& P) {
  if (!FSelected) return 0;
  TRect bounds;
  GetScreenBounds(bounds);
  if (!platform::PtInRect(bounds, P)) return 0;
  DragHandle = -1;
  uint8_t code = 0;
  for (int32_t i = 0; i < HandleCount() && code == 0; ++i) {
    TRect r{0, 0, 0, 0};
    GetHandleRect(i, r);
    if (platform::PtInRect(r, P)) {
      code = uint8_t(Handles[size_t(i)].Code);
      DragHandle = i;
    }
  }
  if (code == 0) {
    auto screen = [&](int32_t i) {
      TdtpFloatPoint s{0, 0};
      if (i >= 0 && i < HandleCount()) LocalToScreen({Handles[size_t(i)].X, Handles[size_t(i)].Y}, s);
      return TPoint{RoundI(s.X), RoundI(s.Y)};
    };
    for (const TdtpHandleEdge& e : HandleEdges)
      if (raster::SqrDistanceToSegment(P, screen(e.A), screen(e.B)) < 10) {
        code = e.Code;
        break;
      }
  }
  if (code == 10 && !FAllowRotate) {
    code = 0;
    DragHandle = -1;
  }
  return code;
}

bool TdtpShape::HitTest(const TPoint& P) {
  if (!PointInPolygon(CreatePaintRegion(), P)) return false;
  if (FSmartHitTest) return HitTestPixels(P);
  if (!FDocument) return false;
  const std::vector<std::vector<TPoint>> region = CreateRegionContours();
  for (const TPoint& o : FDocument->NudgeOffsets())
    if (PointInRings(region, {P.X + o.X, P.Y + o.Y})) return true;
  return false;
}

std::vector<std::vector<TPoint>> TdtpShape::CreateRegionContours() const { return {CreateRegion()}; }

bool TdtpShape::HitTestPixels(const TPoint& P) {
  const int32_t threshold = FMasterAlpha * 50 / 255;
  TPoint px;
  ScreenToBufferPixel(P, px);
  TBitmap32* b = FBuffer.get();
  if (!b || b->Width() <= 0 || b->Height() <= 0 || !platform::PtInRect(FBufferRect, px)) return true;
  static const std::vector<TPoint> kNone{{0, 0}};
  const std::vector<TPoint>& offsets = FDocument ? FDocument->NudgeOffsets() : kNone;
  for (const TPoint& o : offsets) {
    const int32_t x = px.X + o.X, y = px.Y + o.Y;
    if (x < 0 || y < 0 || x >= b->Width() || y >= b->Height()) continue;
    if (int32_t(b->Pixel(x, y) >> 24) > threshold) return true;
  }
  return false;
}

bool TdtpShape::FindShapeAt(const TPoint& P, TdtpShape*& Shape) {
  Shape = nullptr;
  if (!FHitTestEnabled) return false;
  if (!PointInPolygon(CreatePaintRegion(), P)) return false;
  Shape = this;
  // The children are drawn unflipped and the whole picture flipped or mirrored after: they are
  // asked at the point of their own that is drawn at P.
  TPoint childP = P;
  TdtpFloatPoint l, s;
  if ((FMirrored || FFlipped) && ScreenToLocal(P, l)) {
    if (FMirrored) l.X = FDocWidth - l.X;
    if (FFlipped) l.Y = FDocHeight - l.Y;
    if (LocalToScreen(l, s) && std::isfinite(s.X) && std::isfinite(s.Y) && std::fabs(s.X) < 1e9f &&
        std::fabs(s.Y) < 1e9f)
      childP = {RoundI(s.X), RoundI(s.Y)};
  }
  bool asked = false;
  for (int32_t i = GetShapeCount() - 1; i >= 0; --i) {
    TdtpShape* child = GetShape(i);
    if (!child || !child->HitTestEnabled()) continue;
    asked = true;
    TdtpShape* found = nullptr;
    if (child->FindShapeAt(childP, found)) {
      Shape = found;
      return true;
    }
    Shape = nullptr;
  }
  if (asked) return false;
  // The test a click in the view makes: the pixels, or the exact outline (a polygon's region,
  // not its paint rectangle).
  const bool hit = HitTest(P);
  if (!hit) Shape = nullptr;
  return hit;
}

bool TdtpShape::IntersectsRect(const TRect& R) { return RectMeetsPolygon(CreatePaintRegion(), R); }

void TdtpShape::GetScreenBounds(TRect& Rect) {
  CreateHandles();
  GetScreenRect(Rect);
  if (!CanSelect()) return;
  for (int32_t i = 0; i < HandleCount(); ++i) {
    TRect r{0, 0, 0, 0};
    GetHandleRect(i, r);
    TRect u;
    platform::UnionRect(u, Rect, r);
    Rect = u;
  }
}

void TdtpShape::PaintHandle(platform::TCanvas* Canvas, int32_t I) {
  if (!FDocument || !Canvas || I < 0 || I >= HandleCount()) return;
  const bool rotation = Handles[size_t(I)].Code == 10;
  if (rotation && !FAllowRotate) return;
  Canvas->Pen()->SetColor(FDocument->HandleEdgeColor());
  Canvas->Pen()->SetStyle(platform::psSolid);
  Canvas->Pen()->SetMode(platform::pmCopy);
  Canvas->Pen()->SetWidth(1);
  Canvas->Brush()->SetColor(FDocument->HandleColor());
  Canvas->Brush()->SetStyle(platform::bsSolid);
  TRect r{0, 0, 0, 0};
  GetHandleRect(I, r);
  if (rotation)
    Canvas->Ellipse(r);
  else
    Canvas->Rectangle(r);
}

void TdtpShape::PaintHandleEdges(platform::TCanvas* Canvas) {
  CreateHandles();
  if (!FDocument || !Canvas || HandleEdges.empty()) return;
  // A drag outline takes the handle colour: xor with the edge colour (black by default) would
  // change no pixel.
  Canvas->Pen()->SetColor(FDocument->HandleColor());
  Canvas->Pen()->SetStyle(platform::psDot);
  Canvas->Pen()->SetMode(platform::pmXor);
  Canvas->Pen()->SetWidth(1);
  // The dragged positions: during a drag they show where the handles go.
  for (const TdtpHandleEdge& e : HandleEdges) {
    if (e.A < 0 || e.B < 0 || e.A >= HandleCount() || e.B >= HandleCount()) continue;
    TdtpFloatPoint a, b;
    LocalToScreen({Handles[size_t(e.A)].DragX, Handles[size_t(e.A)].DragY}, a);
    LocalToScreen({Handles[size_t(e.B)].DragX, Handles[size_t(e.B)].DragY}, b);
    Canvas->MoveTo(RoundI(a.X), RoundI(a.Y));
    Canvas->LineTo(RoundI(b.X), RoundI(b.Y));
  }
}

void TdtpShape::PaintOutline(platform::TCanvas* Canvas) {
  CreateHandles();
  if (!FDocument || !Canvas) return;
  auto edges = [&] {
    for (const TdtpHandleEdge& e : HandleEdges) {
      if (!e.Drawn || e.A < 0 || e.B < 0 || e.A >= HandleCount() || e.B >= HandleCount()) continue;
      TdtpFloatPoint a, b;
      LocalToScreen({Handles[size_t(e.A)].X, Handles[size_t(e.A)].Y}, a);
      LocalToScreen({Handles[size_t(e.B)].X, Handles[size_t(e.B)].Y}, b);
      Canvas->MoveTo(RoundI(a.X), RoundI(a.Y));
      Canvas->LineTo(RoundI(b.X), RoundI(b.Y));
    }
  };
  Canvas->Pen()->SetColor(0xFFFFFF);
  Canvas->Pen()->SetStyle(platform::psSolid);
  Canvas->Pen()->SetMode(platform::pmCopy);
  Canvas->Pen()->SetWidth(3);
  Canvas->Brush()->SetStyle(platform::bsClear);
  edges();
  Canvas->Pen()->SetColor(FDocument->HandleEdgeColor());
  Canvas->Pen()->SetStyle(platform::psDot);
  Canvas->Pen()->SetWidth(1);
  edges();
  for (int32_t i = 0; i < HandleCount(); ++i) PaintHandle(Canvas, i);
}

void TdtpShape::PaintFocusRect(platform::TCanvas* Canvas, const TRect& Rect, platform::TColor Color) {
  if (!Canvas) return;
  Canvas->Pen()->SetMode(platform::pmXor);
  Canvas->Pen()->SetStyle(platform::psDot);
  Canvas->Pen()->SetColor(Color);
  Canvas->Pen()->SetWidth(1);
  Canvas->Brush()->SetStyle(platform::bsClear);
  Canvas->Rectangle(Rect);
}

void TdtpShape::ScreenDeltaToLocal(const TPoint& Delta, TdtpFloatPoint& D) const {
  const float dpm = FDocument ? FDocument->ScreenDpm() : cDefaultDpm;
  std::vector<const TdtpShape*> chain;
  for (const TdtpShape* s = this; s->FParent; s = s->FParent) chain.push_back(s);
  float x = float(Delta.X) / dpm, y = float(Delta.Y) / dpm;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    const float c = (*it)->FCos, s = (*it)->FSin;
    const float nx = c * x - s * y, ny = s * x + c * y;
    x = nx;
    y = ny;
  }
  D = {x, y};
}

void TdtpShape::ScreenToBufferPixel(const TPoint& P, TPoint& Pixel) const {
  TdtpFloatPoint l;
  if (!FBuffer || !ScreenToLocal(P, l)) {
    Pixel = {-1, -1};
    return;
  }
  const TdtpFloatPoint b = MapPoint(FBufferMatrix, l.X, l.Y);
  if (!std::isfinite(b.X) || !std::isfinite(b.Y) || std::fabs(b.X) > 1e9f || std::fabs(b.Y) > 1e9f) {
    Pixel = {-1, -1};
    return;
  }
  Pixel = {RoundI(b.X), RoundI(b.Y)};
}

void TdtpShape::DragHandleBy(const TPoint& Delta, bool Free, TdtpMatrix& Matrix, uint8_t Code) {
  for (TdtpHandle& h : Handles) {
    h.DragX = h.X;
    h.DragY = h.Y;
  }
  TdtpFloatPoint d;
  ScreenDeltaToLocal(Delta, d);
  const float w = FDocWidth, h = FDocHeight;
  float ox = 0, oy = 0, sx = 1, sy = 1, a = 0;
  float dw = w, dh = h;
  Matrix = IdentityDtpMatrix();
  // A move, resize or turn drags no single handle: a handle index left from an earlier press
  // must not make ApplyDragBounds commit that handle instead.
  if (Code >= 1 && Code <= 10) DragHandle = -1;
  if (Code == 1) {
    ox = d.X;
    oy = d.Y;
  } else if (Code >= 2 && Code <= 9) {
    const bool left = Code >= 2 && Code <= 4, right = Code >= 6 && Code <= 8;
    const bool top = Code == 2 || Code == 8 || Code == 9, bottom = Code >= 4 && Code <= 6;
    // A zero size cannot scale; it stays as it is on that axis.
    if (w != 0) sx = left ? (w - d.X) / w : right ? (w + d.X) / w : 1;
    if (h != 0) sy = top ? (h - d.Y) / h : bottom ? (h + d.Y) / h : 1;
    if (FPreserveAspect) {
      if (Code == 3 || Code == 7) sy = sx;
      if (Code == 5 || Code == 9) sx = sy;
    }
    dw = std::max(1.0f, sx * w);
    dh = std::max(1.0f, sy * h);
    ConstrainSize(dw, dh);
    if (w != 0) sx = dw / w;
    if (h != 0) sy = dh / h;
    if (left) ox = w - dw;
    if (top) oy = h - dh;
    if (Code == 3 || Code == 7) oy = (h - dh) / 2;
    if (Code == 5 || Code == 9) ox = (w - dw) / 2;
  } else if (Code == 10) {
    a = float(-std::atan2(double(d.Y), double(w / 2 + d.X)) * 180.0 / M_PI);
    if (FDocument) {
      const float stepAngle = FDocument->StepAngle();
      if ((stepAngle > 0) != Free) {
        const float step = stepAngle > 0 ? stepAngle : 5;
        const float snapped = float(platform::Round((long double)((FDocAngle + a) / step))) * step;
        a = snapped - FDocAngle;
      }
    }
  } else if (Code == 11) {
    if (DragHandle >= 0 && DragHandle < HandleCount()) {
      TdtpHandle& hd = Handles[size_t(DragHandle)];
      hd.DragX = hd.X + d.X;
      hd.DragY = hd.Y + d.Y;
    }
  } else {
    DragCustomHandle(Delta, Free, Matrix, Code);
  }
  DragLeft = FDocLeft + FCos * ox + FSin * oy;
  DragTop = FDocTop - FSin * ox + FCos * oy;
  DragWidth = sx * w;
  DragHeight = sy * h;
  DragAngle = FDocAngle + a;
  if (Code < 1 || Code > 11) return;
  raster::TAffineTransformation t;
  t.Scale(sx, sy);
  if (a != 0) t.Rotate(DragWidth / 2, DragHeight / 2, a);
  t.Translate(ox, oy);
  Matrix = MatrixFromAffine(t.Matrix);
  if (Code <= 10)
    for (TdtpHandle& hd : Handles) {
      const TdtpFloatPoint p = MapPoint(Matrix, hd.X, hd.Y);
      hd.DragX = p.X;
      hd.DragY = p.Y;
    }
}

}  // namespace document

// Pens, brushes and the canvas's shapes, lines, fills and copies.
#include "platform/Graphics.h"

#include <QPainterPath>
#include <QPixmap>
#include <QPolygon>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/GraphicsPriv.h"
#include "platform/Regions.h"

namespace platform {

namespace {

// 0xRRGGBB (Qt order) of a class-library colour.
uint32_t QtRgb(TColor c) { return ToQRgb(c) & 0xFFFFFFu; }

uint32_t Rop2(TPenMode mode, uint32_t p, uint32_t d) {
  switch (mode) {
    case pmBlack: return 0;
    case pmWhite: return 0xFFFFFF;
    case pmNop: return d;
    case pmNot: return ~d;
    case pmCopy: return p;
    case pmNotCopy: return ~p;
    case pmMergePenNot: return p | ~d;
    case pmMaskPenNot: return p & ~d;
    case pmMergeNotPen: return ~p | d;
    case pmMaskNotPen: return ~p & d;
    case pmMerge: return p | d;
    case pmNotMerge: return ~(p | d);
    case pmMask: return p & d;
    case pmNotMask: return ~(p & d);
    case pmXor: return p ^ d;
    case pmNotXor: return ~(p ^ d);
  }
  return p;
}

bool IsHatch(TBrushStyle s) { return s >= bsHorizontal; }

TRect PointsBounds(const std::vector<TPoint>& pts) {
  TRect r{pts[0].X, pts[0].Y, pts[0].X, pts[0].Y};
  for (const TPoint& p : pts) {
    r.Left = std::min(r.Left, p.X);
    r.Top = std::min(r.Top, p.Y);
    r.Right = std::max(r.Right, ClampCoord(int64_t{p.X} + 1));
    r.Bottom = std::max(r.Bottom, ClampCoord(int64_t{p.Y} + 1));
  }
  return r;
}

Qt::BrushStyle HatchStyle(TBrushStyle s) {
  switch (s) {
    case bsHorizontal: return Qt::HorPattern;
    case bsVertical: return Qt::VerPattern;
    case bsFDiagonal: return Qt::FDiagPattern;
    case bsBDiagonal: return Qt::BDiagPattern;
    case bsCross: return Qt::CrossPattern;
    case bsDiagCross: return Qt::DiagCrossPattern;
    default: return Qt::SolidPattern;
  }
}

}  // namespace

QImage OpaqueCopy(const QImage& src, const QRect& part) {
  QImage out = src.copy(part).convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < out.height(); ++y) {
    auto* line = reinterpret_cast<uint32_t*>(out.scanLine(y));
    for (int x = 0; x < out.width(); ++x) line[x] |= 0xFF000000u;
  }
  return out;
}

// --- TGraphicsObject, TPen, TBrush -------------------------------------------------------

void TGraphicsObject::Changed() {
  if (OnChange) OnChange(this);
}

void TPen::Assign(const TPersistent* Source) {
  if (auto* p = dynamic_cast<const TPen*>(Source)) {
    FColor = p->FColor;
    FWidth = p->FWidth;
    FStyle = p->FStyle;
    FMode = p->FMode;
    Changed();
    return;
  }
  TPersistent::Assign(Source);
}

void TPen::SetColor(TColor Value) {
  if (FColor == Value) return;
  FColor = Value;
  Changed();
}
void TPen::SetWidth(int32_t Value) {
  if (Value < 0) Value = 0;
  if (FWidth == Value) return;
  FWidth = Value;
  Changed();
}
void TPen::SetStyle(TPenStyle Value) {
  if (FStyle == Value) return;
  FStyle = Value;
  Changed();
}
void TPen::SetMode(TPenMode Value) {
  if (FMode == Value) return;
  FMode = Value;
  Changed();
}

TBrush::TBrush() = default;
TBrush::~TBrush() = default;

void TBrush::Assign(const TPersistent* Source) {
  if (auto* b = dynamic_cast<const TBrush*>(Source)) {
    FColor = b->FColor;
    FStyle = b->FStyle;
    if (b->FBitmap) {
      FBitmap = std::make_unique<TBitmap>();
      FBitmap->Assign(b->FBitmap.get());
    } else {
      FBitmap.reset();
    }
    Changed();
    return;
  }
  TPersistent::Assign(Source);
}

void TBrush::SetColor(TColor Value) {
  if (FColor == Value && FStyle != bsClear) return;
  FColor = Value;
  if (FStyle == bsClear) FStyle = bsSolid;
  Changed();
}
void TBrush::SetStyle(TBrushStyle Value) {
  if (FStyle == Value) return;
  FStyle = Value;
  Changed();
}
void TBrush::SetBitmap(const TBitmap* Value) {
  if (!Value) {
    if (!FBitmap) return;
    FBitmap.reset();
  } else {
    FBitmap = std::make_unique<TBitmap>();
    FBitmap->Assign(Value);
  }
  Changed();
}

// --- TCanvas: binding --------------------------------------------------------------------

TCanvas::TCanvas()
    : FPen(std::make_unique<TPen>()),
      FBrush(std::make_unique<TBrush>()),
      FFont(std::make_unique<TFont>()),
      FState(std::make_unique<TCanvasState>()) {
  FBrush->OnChange = [this](TObject*) {
    FState->BkColor = FBrush->Color();
    FState->BkMode = FBrush->Style() == bsSolid ? OPAQUE : TRANSPARENT;
  };
}

TCanvas::~TCanvas() { Release(); }

void TCanvas::SetDevice(QPaintDevice* Device) {
  Release();
  FState->External = nullptr;
  FState->Device = Device;
}

void TCanvas::SetPainter(QPainter* Painter) {
  Release();
  FState->External = Painter;
  FState->Device = Painter ? Painter->device() : nullptr;
  FState->HasClip = false;
  FState->Clip = QRegion();
  if (Painter) {
    // The platform draws aliased whatever the lender had set.
    Painter->setRenderHint(QPainter::Antialiasing, false);
    Painter->setRenderHint(QPainter::SmoothPixmapTransform, false);
  }
}

QPaintDevice* TCanvas::Device() const { return FState->Device; }

bool TCanvas::HandleAllocated() const { return FState->External || FState->Own; }

void TCanvas::Release() {
  if (FState->Own) {
    FState->Own->end();
    FState->Own.reset();
  }
}

QPainter* TCanvas::Painter() {
  if (FState->External) return FState->External;
  if (FState->Own) return FState->Own.get();
  if (!FState->Device) return nullptr;
  QPaintDevice* d = FState->Device;
  if (d->width() <= 0 || d->height() <= 0) return nullptr;
  FState->Own = std::make_unique<QPainter>();
  if (!FState->Own->begin(d)) {
    FState->Own.reset();
    return nullptr;
  }
  PreparePainter();
  return FState->Own.get();
}

void TCanvas::PreparePainter() {
  QPainter* p = FState->Own ? FState->Own.get() : FState->External;
  if (!p) return;
  // The platform draws shapes aliased; text antialiasing comes from the measurer's masks.
  p->setRenderHint(QPainter::Antialiasing, false);
  p->setRenderHint(QPainter::SmoothPixmapTransform, false);
  if (FState->HasClip) p->setClipRegion(FState->Clip);
  else p->setClipping(false);
}

QImage* TCanvas::DeviceImage() const {
  QPaintDevice* d = FState->Device;
  if (!d || d->devType() != QInternal::Image) return nullptr;
  return static_cast<QImage*>(d);
}

void TCanvas::Lock() {
  FState->LockMutex.lock();
  FState->Owner = std::this_thread::get_id();
  ++FState->Locks;
}
// Only the holding thread can release; an unbalanced Unlock is ignored.
void TCanvas::Unlock() {
  if (FState->Owner.load() != std::this_thread::get_id() || FState->Locks.load() <= 0) return;
  if (--FState->Locks == 0) FState->Owner = std::thread::id();
  FState->LockMutex.unlock();
}
bool TCanvas::TryLock() {
  if (!FState->LockMutex.try_lock()) return false;
  FState->Owner = std::this_thread::get_id();
  ++FState->Locks;
  return true;
}
int32_t TCanvas::LockCount() const { return FState->Locks.load(); }

int32_t TCanvas::BkMode() const { return FState->BkMode; }
int32_t TCanvas::SetBkMode(int32_t Mode) {
  int32_t old = FState->BkMode;
  if (Mode == OPAQUE || Mode == TRANSPARENT) FState->BkMode = Mode;
  return old;
}
TColor TCanvas::BkColor() const { return FState->BkColor; }
TColor TCanvas::SetBkColor(TColor Color) {
  TColor old = FState->BkColor;
  FState->BkColor = Color;
  return old;
}

void TCanvas::SetPhysicalPage(int32_t Width, int32_t Height, int32_t OffsetX, int32_t OffsetY) {
  FState->PhysWidth = Width;
  FState->PhysHeight = Height;
  FState->PhysOffsetX = OffsetX;
  FState->PhysOffsetY = OffsetY;
}

int32_t TCanvas::GetDeviceCaps(int32_t Index) {
  QPaintDevice* d = FState->Device;
  if (!d) return 0;
  switch (Index) {
    case HORZRES: return d->width();
    case VERTRES: return d->height();
    case LOGPIXELSX: return d->logicalDpiX();
    case LOGPIXELSY: return d->logicalDpiY();
    case PHYSICALWIDTH: return FState->PhysWidth;
    case PHYSICALHEIGHT: return FState->PhysHeight;
    case PHYSICALOFFSETX: return FState->PhysOffsetX;
    case PHYSICALOFFSETY: return FState->PhysOffsetY;
    default: return 0;
  }
}

// --- clipping ----------------------------------------------------------------------------

QRect LogicalDeviceRect(const TCanvasState& s) {
  QPaintDevice* d = s.Device;
  if (!d) return QRect();
  QRect dev(0, 0, d->width(), d->height());
  // A lent painter may be moved (a control inside its window's border). Only the lender's own
  // transform counts: a widget painter redirected into a backing store or a grab also carries
  // the widget's offset in that target, while its device is still the widget.
  if (s.External) {
    const QTransform t = s.External->combinedTransform();
    if (t.isTranslating() && t.isInvertible()) return t.inverted().mapRect(dev);
  }
  return dev;
}

TRect TCanvas::ClipRect() {
  QRect dev = LogicalDeviceRect(*FState);
  if (!FState->HasClip) return FromQRect(dev);
  QRect box = FState->Clip.boundingRect() & dev;
  return box.isEmpty() ? TRect{} : FromQRect(box);
}

static void ApplyClip(TCanvasState& s) {
  QPainter* p = s.Own ? s.Own.get() : s.External;
  if (!p) return;
  if (s.HasClip) p->setClipRegion(s.Clip);
  else p->setClipping(false);
}

void TCanvas::IntersectClipRect(const TRect& R) {
  QRegion base = FState->HasClip ? FState->Clip : QRegion(LogicalDeviceRect(*FState));
  FState->Clip = base.intersected(ToQRect(R).normalized());
  FState->HasClip = true;
  ApplyClip(*FState);
}

void TCanvas::ExcludeClipRect(const TRect& R) {
  QRegion base = FState->HasClip ? FState->Clip : QRegion(LogicalDeviceRect(*FState));
  FState->Clip = base.subtracted(ToQRect(R).normalized());
  FState->HasClip = true;
  ApplyClip(*FState);
}

void TCanvas::SelectClipRgn(const TRegion* Rgn) {
  FState->HasClip = Rgn != nullptr;
  FState->Clip = Rgn ? Rgn->Qt() : QRegion();
  ApplyClip(*FState);
}

bool TCanvas::GetClipRgn(TRegion& Rgn) const {
  if (!FState->HasClip) return false;
  Rgn = TRegion(FState->Clip);
  return true;
}

// --- pens and brushes on the painter -----------------------------------------------------

namespace {

QPen MakePen(const TPen& pen, TColor color) {
  if (pen.Style() == psClear) return QPen(Qt::NoPen);
  int w = std::max(1, pen.Width());
  QPen q(ToQColor(color));
  if (w == 1) {
    // Cosmetic one-pixel lines with flat caps leave out their last point, as the platform's do.
    q.setWidth(0);
    q.setCapStyle(Qt::FlatCap);
    q.setJoinStyle(Qt::MiterJoin);
    switch (pen.Style()) {
      case psDash: q.setDashPattern({18, 6}); break;
      case psDot: q.setDashPattern({3, 3}); break;
      case psDashDot: q.setDashPattern({9, 6, 3, 6}); break;
      case psDashDotDot: q.setDashPattern({9, 3, 3, 3, 3, 3}); break;
      default: break;
    }
  } else {
    // Wide pens are always solid, with round ends and joins.
    q.setWidth(w);
    q.setCapStyle(Qt::RoundCap);
    q.setJoinStyle(Qt::RoundJoin);
  }
  return q;
}

bool Styled(const TPen& pen) {
  return pen.Width() <= 1 && pen.Style() >= psDash && pen.Style() <= psDashDotDot;
}

}  // namespace

// Draws one shape: the fill (hatch gaps in the background colour when opaque) and then the
// outline (dash gaps likewise). Pen modes other than copy draw the shape into a layer first and
// combine its pixels with the device's, so every pixel is combined exactly once.
template <typename Fn>
void TCanvas::Shape(const TRect& Bounds, Fn&& draw) {
  QPainter* p = Painter();
  if (!p) return;
  TPenMode mode = FPen->Mode();
  if (mode == pmNop) return;
  const bool opaque = FState->BkMode == OPAQUE;
  TColor penColor = FPen->Color();
  TColor brushColor = FBrush->Color();

  auto passes = [&](QPainter& q, bool fill, bool outline) {
    if (fill && (FBrush->Style() != bsClear || FBrush->Bitmap())) {
      q.setPen(Qt::NoPen);
      if (FBrush->Bitmap() && !FBrush->Bitmap()->Empty()) {
        q.setBrush(QBrush(OpaqueCopy(FBrush->Bitmap()->Image(), FBrush->Bitmap()->Image().rect())));
        draw(q);
      } else if (IsHatch(FBrush->Style())) {
        if (opaque) {
          q.setBrush(ToQColor(FState->BkColor));
          draw(q);
        }
        q.setBrush(QBrush(ToQColor(brushColor), HatchStyle(FBrush->Style())));
        draw(q);
      } else {
        q.setBrush(ToQColor(brushColor));
        draw(q);
      }
    }
    if (outline && FPen->Style() != psClear) {
      q.setBrush(Qt::NoBrush);
      if (Styled(*FPen) && opaque) {
        QPen solid = MakePen(*FPen, FState->BkColor);
        solid.setStyle(Qt::SolidLine);
        q.setPen(solid);
        draw(q);
      }
      q.setPen(MakePen(*FPen, penColor));
      draw(q);
    }
  };

  if (mode == pmCopy) {
    p->setCompositionMode(QPainter::CompositionMode_SourceOver);
    passes(*p, true, true);
    return;
  }
  // Layer: what the shape covers, with its pen and brush colours, then combined per pixel.
  const int grow = std::max(1, FPen->Width()) + 2;
  QRect area = LogicalDeviceRect(*FState) & ToQRect(Bounds).normalized().adjusted(-grow, -grow, grow, grow);
  if (FState->HasClip) area &= FState->Clip.boundingRect();
  if (area.isEmpty()) return;
  QImage layer(area.size(), QImage::Format_ARGB32);
  std::memset(layer.bits(), 0, static_cast<size_t>(layer.sizeInBytes()));
  {
    QPainter lp(&layer);
    lp.translate(-area.x(), -area.y());
    if (FState->HasClip) lp.setClipRegion(FState->Clip);  // the layer stays empty outside
    passes(lp, true, true);
  }
  if (QImage* img = WritableImage()) {
    const bool is24 = Is24(*img);
    const int w = layer.width(), h = layer.height();
    for (int y = 0; y < h; ++y) {
      const auto* src = reinterpret_cast<const uint32_t*>(layer.constScanLine(y));
      uchar* line = const_cast<uchar*>(img->constScanLine(y + area.y()));
      if (is24) {
        uchar* d = line + 3 * area.x();
        for (int x = 0; x < w; ++x, d += 3) {
          if ((src[x] >> 24) == 0) continue;
          uint32_t r = Rop2(mode, src[x] & 0xFFFFFF, d[0] | (d[1] << 8) | (d[2] << 16));
          d[0] = r & 0xFF;
          d[1] = (r >> 8) & 0xFF;
          d[2] = (r >> 16) & 0xFF;
        }
      } else {
        uint32_t* d = reinterpret_cast<uint32_t*>(line) + area.x();
        for (int x = 0; x < w; ++x) {
          if ((src[x] >> 24) == 0) continue;
          d[x] = (d[x] & 0xFF000000u) | (Rop2(mode, src[x] & 0xFFFFFF, d[x] & 0xFFFFFF) & 0xFFFFFF);
        }
      }
    }
    return;
  }
  // Other devices: Qt's raster operations, which only some devices support (XOR on a widget).
  QPainter::CompositionMode cm = QPainter::CompositionMode_SourceOver;
  switch (mode) {
    case pmXor: cm = QPainter::RasterOp_SourceXorDestination; break;
    case pmNotXor: cm = QPainter::RasterOp_NotSourceXorDestination; break;
    case pmNot: cm = QPainter::RasterOp_NotDestination; break;
    case pmMerge: cm = QPainter::RasterOp_SourceOrDestination; break;
    case pmMask: cm = QPainter::RasterOp_SourceAndDestination; break;
    default: break;
  }
  p->setCompositionMode(cm);
  p->drawImage(area.topLeft(), layer);
  p->setCompositionMode(QPainter::CompositionMode_SourceOver);
}

// --- shapes ------------------------------------------------------------------------------

void TCanvas::MoveTo(int32_t X, int32_t Y) { FPenPos = {X, Y}; }

void TCanvas::LineTo(int32_t X, int32_t Y) {
  TPoint from = FPenPos;
  Polyline({from, {X, Y}});
}

void TCanvas::Polyline(const std::vector<TPoint>& Points) {
  if (Points.size() < 2) return;
  if (FPen->Width() <= 1) {
    ThinLine(Points);
  } else {
    Shape(PointsBounds(Points), [&](QPainter& q) {
      if (q.pen().style() == Qt::NoPen) return;
      QPolygon poly;
      for (const TPoint& pt : Points) poly << QPoint(pt.X, pt.Y);
      q.drawPolyline(poly);
    });
  }
  FPenPos = Points.back();
}

// One-pixel lines are stepped here rather than by Qt, whose lines keep or drop an end point
// by their slope: each segment covers its start and leaves out its end, and the dash pattern
// runs on along the whole polyline.
void TCanvas::ThinLine(const std::vector<TPoint>& Points) {
  if (FPen->Style() == psClear || FPen->Mode() == pmNop) return;
  static const std::vector<int> kSolid{1}, kDash{18, 6}, kDot{3, 3}, kDashDot{9, 6, 3, 6},
      kDashDotDot{9, 3, 3, 3, 3, 3};
  const std::vector<int>* pattern = &kSolid;
  switch (FPen->Style()) {
    case psDash: pattern = &kDash; break;
    case psDot: pattern = &kDot; break;
    case psDashDot: pattern = &kDashDot; break;
    case psDashDotDot: pattern = &kDashDotDot; break;
    default: break;
  }
  size_t part = 0;
  int left = (*pattern)[0];
  int64_t period = 0;
  for (int n : *pattern) period += n;
  auto stepPattern = [&] {
    if (pattern->size() > 1 && --left == 0) {
      part = (part + 1) % pattern->size();
      left = (*pattern)[part];
    }
  };
  // Only the visible stretch of a segment is stepped (the dash pattern runs on over the rest),
  // so far-away end points cost nothing.
  QRect vis = LogicalDeviceRect(*FState);
  if (FState->HasClip) vis &= FState->Clip.boundingRect();
  vis.adjust(-2, -2, 2, 2);
  QPolygon on, off;
  for (size_t i = 1; i < Points.size(); ++i) {
    const int64_t ax = Points[i - 1].X, ay = Points[i - 1].Y, bx = Points[i].X, by = Points[i].Y;
    const int64_t steps = std::max(std::llabs(bx - ax), std::llabs(by - ay));
    int x, y, x1, y1;
    if (vis.contains(int(ax), int(ay)) && vis.contains(int(bx), int(by))) {
      x = int(ax), y = int(ay), x1 = int(bx), y1 = int(by);
    } else {
      double t0 = 0, t1 = 1;
      const double dxd = double(bx - ax), dyd = double(by - ay);
      auto edge = [&](double p, double q) {
        if (p == 0) return q >= 0;
        double r = q / p;
        if (p < 0) t0 = std::max(t0, r);
        else t1 = std::min(t1, r);
        return t0 <= t1;
      };
      bool seen = !vis.isEmpty() && edge(-dxd, double(ax - vis.left())) && edge(dxd, double(vis.right() - ax)) &&
                  edge(-dyd, double(ay - vis.top())) && edge(dyd, double(vis.bottom() - ay));
      if (!seen) {
        for (int64_t k = steps % std::max<int64_t>(period, 1); k > 0; --k) stepPattern();
        continue;
      }
      for (int64_t k = std::llround(t0 * double(steps)) % std::max<int64_t>(period, 1); k > 0; --k) stepPattern();
      x = int(std::llround(double(ax) + t0 * dxd)), y = int(std::llround(double(ay) + t0 * dyd));
      x1 = int(std::llround(double(ax) + t1 * dxd)), y1 = int(std::llround(double(ay) + t1 * dyd));
    }
    const int dx = std::abs(x1 - x), dy = -std::abs(y1 - y);
    const int sx = x < x1 ? 1 : -1, sy = y < y1 ? 1 : -1;
    int err = dx + dy;
    while (x != x1 || y != y1) {
      (part % 2 == 0 ? on : off) << QPoint(x, y);
      stepPattern();
      int e2 = 2 * err;
      if (e2 >= dy) {
        err += dy;
        x += sx;
      }
      if (e2 <= dx) {
        err += dx;
        y += sy;
      }
    }
  }
  if (FState->BkMode != OPAQUE) off.clear();
  QPainter* p = Painter();
  if (!p) return;
  const TPenMode mode = FPen->Mode();
  const uint32_t penRgb = QtRgb(FPen->Color()), bkRgb = QtRgb(FState->BkColor);
  QImage* img = DeviceImage();
  if (mode != pmCopy && img && !FState->External) {
    if (!img->isDetached()) {
      Release();
      img->bits();
    }
    auto apply = [&](const QPolygon& pts, uint32_t rgb) {
      for (const QPoint& pt : pts) {
        if (!img->rect().contains(pt)) continue;
        if (FState->HasClip && !FState->Clip.contains(pt)) continue;
        WriteRgb(*img, pt.x(), pt.y(), Rop2(mode, rgb, ReadRgb(*img, pt.x(), pt.y())) & 0xFFFFFF);
      }
    };
    apply(off, bkRgb);
    apply(on, penRgb);
    return;
  }
  p->save();
  QPainter::CompositionMode cm = QPainter::CompositionMode_SourceOver;
  switch (mode) {
    case pmXor: cm = QPainter::RasterOp_SourceXorDestination; break;
    case pmNotXor: cm = QPainter::RasterOp_NotSourceXorDestination; break;
    case pmNot: cm = QPainter::RasterOp_NotDestination; break;
    case pmMerge: cm = QPainter::RasterOp_SourceOrDestination; break;
    case pmMask: cm = QPainter::RasterOp_SourceAndDestination; break;
    default: break;
  }
  p->setCompositionMode(cm);
  // Runs of neighbouring pixels go out as one rectangle each (a printer gets a few shapes
  // rather than a point per device pixel).
  auto fillRuns = [&](const QPolygon& pts, const QColor& color) {
    QRect run;
    for (const QPoint& pt : pts) {
      bool extends = !run.isEmpty() &&
                     ((run.height() == 1 && pt.y() == run.y() && (pt.x() == run.right() + 1 || pt.x() == run.left() - 1)) ||
                      (run.width() == 1 && pt.x() == run.x() && (pt.y() == run.bottom() + 1 || pt.y() == run.top() - 1)));
      if (extends) {
        run |= QRect(pt, QSize(1, 1));
        continue;
      }
      if (!run.isEmpty()) p->fillRect(run, color);
      run = QRect(pt, QSize(1, 1));
    }
    if (!run.isEmpty()) p->fillRect(run, color);
  };
  fillRuns(off, ToQColor(FState->BkColor));
  fillRuns(on, mode == pmBlack ? QColor(Qt::black) : mode == pmWhite ? QColor(Qt::white) : ToQColor(FPen->Color()));
  p->restore();
}

void TCanvas::Polygon(const std::vector<TPoint>& Points) {
  if (Points.size() < 2) return;
  QPolygon poly;
  for (const TPoint& pt : Points) poly << QPoint(pt.X, pt.Y);
  Shape(PointsBounds(Points), [&](QPainter& q) { q.drawPolygon(poly, Qt::OddEvenFill); });
}

namespace {
// The outline box of a shape drawn in (X1, Y1)-(X2, Y2): the right and bottom edges are outside
// it, and an inside-frame pen keeps its whole width within.
QRectF OutlineBox(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, const TPen& pen, bool curved) {
  X1 = ClampCoord(X1), Y1 = ClampCoord(Y1), X2 = ClampCoord(X2), Y2 = ClampCoord(Y2);
  if (X1 > X2) std::swap(X1, X2);
  if (Y1 > Y2) std::swap(Y1, Y2);
  QRectF r(X1, Y1, X2 - X1 - 1, Y2 - Y1 - 1);
  if (curved) r.translate(0.5, 0.5);  // curves are placed on pixel centres
  if (pen.Style() == psInsideFrame && pen.Width() > 1) {
    double h = pen.Width() / 2.0;
    r.adjust(h, h, -h, -h);
  }
  return r;
}
}  // namespace

namespace {
bool gDirectRectangles = true;

// Count words of Value from P on, sixteen bytes per store.
void FillWords(uint32_t* P, int Count, uint32_t Value) {
#if defined(__SSE2__)
  const __m128i v = _mm_set1_epi32(static_cast<int>(Value));
  for (; Count >= 16; Count -= 16, P += 16) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(P), v);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(P + 4), v);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(P + 8), v);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(P + 12), v);
  }
  for (; Count >= 4; Count -= 4, P += 4) _mm_storeu_si128(reinterpret_cast<__m128i*>(P), v);
#endif
  for (; Count > 0; --Count) *P++ = Value;
}

// Fills R (device pixels) with Argb where it meets the device.
void FillDeviceRect(QImage& img, QRect R, uint32_t Argb) {
  R &= img.rect();
  if (R.isEmpty()) return;
  const qsizetype stride = img.bytesPerLine();
  uchar* line = const_cast<uchar*>(img.constScanLine(R.top())) + 4 * qsizetype{R.left()};
  for (int y = R.top(); y <= R.bottom(); ++y, line += stride) FillWords(reinterpret_cast<uint32_t*>(line), R.width(), Argb);
}
}  // namespace

void SetDirectRectangles(bool On) { gDirectRectangles = On; }

void TCanvas::Rectangle(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2) {
  // A solid rectangle with at most a one-pixel solid pen, copied onto a 32-bit image of our own,
  // is written straight into the pixels: the same pixels the painter gives, without its span
  // machinery per scanline.
  auto direct = [&]() -> bool {
    if (!gDirectRectangles || FPen->Mode() != pmCopy || FState->External || FState->HasClip) return false;
    QImage* img = DeviceImage();
    if (!img) return false;
    const QImage::Format f = img->format();
    if (f != QImage::Format_RGB32 && f != QImage::Format_ARGB32 && f != QImage::Format_ARGB32_Premultiplied)
      return false;
    const TBrushStyle bs = FBrush->Style();
    if ((bs != bsSolid && bs != bsClear) || FBrush->Bitmap()) return false;
    const TPenStyle ps = FPen->Style();
    const bool pen = ps != psClear;
    if (pen && ((ps != psSolid && ps != psInsideFrame) || FPen->Width() > 1)) return false;
    int32_t l = ClampCoord(X1), t = ClampCoord(Y1), r = ClampCoord(X2), b = ClampCoord(Y2);
    if (l > r) std::swap(l, r);
    if (t > b) std::swap(t, b);
    if (r - l < 3 || b - t < 3) return false;
    QPainter* p = Painter();
    if (!p) return true;
    if (p->worldTransform().type() != QTransform::TxNone || p->opacity() != 1.0) return false;
    // The painter's one-pixel frame ends differently where it is cut at the device's edge.
    if (pen && (l < 0 || t < 0 || r > img->width() || b > img->height())) return false;
    if (!(img = WritableImage())) return false;
    // The fill leaves out the right and bottom edges; the pen draws the frame within the box.
    if (bs == bsSolid) FillDeviceRect(*img, QRect(QPoint(l, t), QPoint(r - 2, b - 2)), ToQRgb(FBrush->Color()));
    if (pen) {
      const uint32_t c = ToQRgb(FPen->Color());
      FillDeviceRect(*img, QRect(QPoint(l, t), QPoint(r - 1, t)), c);
      FillDeviceRect(*img, QRect(QPoint(l, b - 1), QPoint(r - 1, b - 1)), c);
      FillDeviceRect(*img, QRect(QPoint(l, t + 1), QPoint(l, b - 2)), c);
      FillDeviceRect(*img, QRect(QPoint(r - 1, t + 1), QPoint(r - 1, b - 2)), c);
    }
    return true;
  };
  if (direct()) return;
  QRectF box = OutlineBox(X1, Y1, X2, Y2, *FPen, false);
  Shape(Rect(X1, Y1, X2, Y2), [&](QPainter& q) {
    if (q.pen().style() == Qt::NoPen) {
      // A fill without a pen covers the box less its right and bottom edges.
      q.fillRect(box.toRect(), q.brush());
      return;
    }
    if (q.pen().widthF() <= 1) {
      q.drawRect(box.toRect());
    } else {
      q.drawRect(box);
    }
  });
}

void TCanvas::Ellipse(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2) {
  QRectF box = OutlineBox(X1, Y1, X2, Y2, *FPen, true);
  Shape(Rect(X1, Y1, X2, Y2), [&](QPainter& q) { q.drawEllipse(box); });
}

void TCanvas::RoundRect(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, int32_t X3, int32_t Y3) {
  QRectF box = OutlineBox(X1, Y1, X2, Y2, *FPen, true);
  double rx = std::min(std::abs(X3) / 2.0, box.width() / 2.0);
  double ry = std::min(std::abs(Y3) / 2.0, box.height() / 2.0);
  Shape(Rect(X1, Y1, X2, Y2), [&](QPainter& q) { q.drawRoundedRect(box, rx, ry, Qt::AbsoluteSize); });
}

// FillRect, FrameRect and FillRgn paint with the brush only and ignore the pen mode.
static void BrushFill(QPainter* p, TCanvasState& s, TBrush& brush, const QRegion& rgn) {
  if (!p || rgn.isEmpty()) return;
  p->setCompositionMode(QPainter::CompositionMode_SourceOver);
  p->save();
  if (s.HasClip) p->setClipRegion(rgn.intersected(s.Clip));
  else p->setClipRegion(rgn);
  QRect box = rgn.boundingRect();
  if (brush.Bitmap() && !brush.Bitmap()->Empty()) {
    p->fillRect(box, QBrush(OpaqueCopy(brush.Bitmap()->Image(), brush.Bitmap()->Image().rect())));
  } else if (brush.Style() == bsClear) {
  } else if (IsHatch(brush.Style())) {
    if (s.BkMode == OPAQUE) p->fillRect(box, ToQColor(s.BkColor));
    p->fillRect(box, QBrush(ToQColor(brush.Color()), HatchStyle(brush.Style())));
  } else {
    p->fillRect(box, ToQColor(brush.Color()));
  }
  p->restore();
}

void TCanvas::FillRect(const TRect& R) {
  QRect q = ToQRect(R);
  if (q.width() <= 0 || q.height() <= 0) return;
  BrushFill(Painter(), *FState, *FBrush, QRegion(q));
}

void TCanvas::FrameRect(const TRect& R) {
  QRect q = ToQRect(R);
  if (q.width() <= 0 || q.height() <= 0) return;
  QRegion frame = QRegion(q).subtracted(QRegion(q.adjusted(1, 1, -1, -1)));
  BrushFill(Painter(), *FState, *FBrush, frame);
}

void TCanvas::FillRgn(const TRegion& Rgn) { BrushFill(Painter(), *FState, *FBrush, Rgn.Qt()); }

void TCanvas::DrawFocusRect(const TRect& R) {
  QRect q = ToQRect(R).normalized();
  if (q.width() <= 0 || q.height() <= 0) return;
  QPainter* p = Painter();
  if (!p) return;
  // Every other pixel of the border, each exactly once, so a second call undoes the first.
  QPolygon dots;
  int l = q.x(), t = q.y(), r = q.x() + q.width() - 1, b = q.y() + q.height() - 1;
  auto add = [&](int x, int y) {
    if (((x + y) & 1) == 0) dots << QPoint(x, y);
  };
  // Only the stretch of each edge that can be seen is walked.
  const QRect vis = LogicalDeviceRect(*FState).adjusted(-1, -1, 1, 1);
  const int x0 = std::max(l, vis.left()), x1 = std::min(r, vis.right());
  const int y0 = std::max(t + 1, vis.top()), y1 = std::min(b - 1, vis.bottom());
  for (int x = x0; x <= x1; ++x) add(x, t);
  if (b > t)
    for (int x = x0; x <= x1; ++x) add(x, b);
  for (int y = y0; y <= y1; ++y) {
    add(l, y);
    if (r > l) add(r, y);
  }
  QImage* img = DeviceImage();
  if (img && !FState->External) {
    if (!img->isDetached()) {
      Release();
      img->bits();
    }
    QRect dev = img->rect();
    for (const QPoint& d : dots) {
      if (!dev.contains(d)) continue;
      if (FState->HasClip && !FState->Clip.contains(d)) continue;
      WriteRgb(*img, d.x(), d.y(), ~ReadRgb(*img, d.x(), d.y()) & 0xFFFFFF);
    }
    return;
  }
  p->save();
  p->setCompositionMode(QPainter::RasterOp_SourceXorDestination);
  p->setPen(QPen(Qt::white, 0, Qt::SolidLine, Qt::SquareCap));
  p->drawPoints(dots);
  p->restore();
}

// --- pixels and copies -------------------------------------------------------------------

TColor TCanvas::Pixel(int32_t X, int32_t Y) {
  QImage* img = DeviceImage();
  if (!img || !img->rect().contains(X, Y)) return -1;
  uint32_t rgb = ReadRgb(*img, X, Y);
  return static_cast<TColor>(RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF));
}

void TCanvas::SetPixel(int32_t X, int32_t Y, TColor Color) {
  QImage* img = DeviceImage();
  if (img && !FState->External) {
    if (!img->rect().contains(X, Y)) return;
    if (FState->HasClip && !FState->Clip.contains(QPoint(X, Y))) return;
    if (!img->isDetached()) {
      Release();
      img->bits();
    }
    WriteRgb(*img, X, Y, QtRgb(Color));
    return;
  }
  if (QPainter* p = Painter()) p->fillRect(QRect(X, Y, 1, 1), ToQColor(Color));
}

namespace {

QImage SourceImage(TCanvas* Source) {
  QPaintDevice* d = Source ? Source->Device() : nullptr;
  if (!d) return {};
  QImage img;
  switch (d->devType()) {
    case QInternal::Image: img = *static_cast<QImage*>(d); break;
    case QInternal::Pixmap: img = static_cast<QPixmap*>(d)->toImage(); break;
    case QInternal::Widget: img = static_cast<QWidget*>(d)->grab().toImage(); break;
    default: return {};
  }
  // The pixel helpers read 32-bit words and BGR bytes.
  switch (img.format()) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
    case QImage::Format_BGR888: return img;
    default: return img.convertToFormat(QImage::Format_RGB32);
  }
}

}  // namespace

void TCanvas::CopyRect(const TRect& Dest, TCanvas* Source, const TRect& SrcRect) {
  QPainter* p = Painter();
  if (!p) return;
  QRect dq = ToQRect(Dest), sq = ToQRect(SrcRect);
  bool flipX = (int64_t{Dest.Right} < Dest.Left) != (int64_t{SrcRect.Right} < SrcRect.Left);
  bool flipY = (int64_t{Dest.Bottom} < Dest.Top) != (int64_t{SrcRect.Bottom} < SrcRect.Top);
  // A backwards rectangle (Right < Left) names the pixels from Right + 1 to Left.
  auto norm = [](const TRect& r) {
    int l = ClampCoord(r.Left), t = ClampCoord(r.Top), w = ClampCoord(r.Right) - l, h = ClampCoord(r.Bottom) - t;
    if (w < 0) { l += w + 1; w = -w; }
    if (h < 0) { t += h + 1; h = -h; }
    return QRect(l, t, w, h);
  };
  dq = norm(Dest);
  sq = norm(SrcRect);
  if (dq.isEmpty()) return;

  switch (FCopyMode) {
    case cmBlackness: p->fillRect(dq, Qt::black); return;
    case cmWhiteness: p->fillRect(dq, Qt::white); return;
    case cmDstInvert:
    case cmPatCopy:
    case cmPatInvert: PatBlt(FromQRect(dq), FCopyMode); return;
    default: break;
  }
  if (sq.isEmpty()) return;
  QImage src = SourceImage(Source);
  if (src.isNull()) return;
  if (!src.rect().contains(sq)) {
    // Only the part of the source that exists is copied, to the matching part of Dest.
    QRect cut = sq & src.rect();
    if (cut.isEmpty()) return;
    auto map = [](int64_t v, int64_t from, int64_t fromLen, int64_t to, int64_t toLen) {
      return static_cast<int>(to + (v - from) * toLen / fromLen);
    };
    int dl, dr, dt, db;
    if (!flipX) {
      dl = map(cut.left(), sq.left(), sq.width(), dq.left(), dq.width());
      dr = map(cut.right() + 1, sq.left(), sq.width(), dq.left(), dq.width());
    } else {
      dl = map(sq.right() + 1 - (cut.right() + 1), 0, sq.width(), dq.left(), dq.width());
      dr = map(sq.right() + 1 - cut.left(), 0, sq.width(), dq.left(), dq.width());
    }
    if (!flipY) {
      dt = map(cut.top(), sq.top(), sq.height(), dq.top(), dq.height());
      db = map(cut.bottom() + 1, sq.top(), sq.height(), dq.top(), dq.height());
    } else {
      dt = map(sq.bottom() + 1 - (cut.bottom() + 1), 0, sq.height(), dq.top(), dq.height());
      db = map(sq.bottom() + 1 - cut.top(), 0, sq.height(), dq.top(), dq.height());
    }
    sq = cut;
    dq = QRect(dl, dt, dr - dl, db - dt);
    if (dq.isEmpty()) return;
  }
  // A copy within one image reads from a snapshot; sharing the buffer instead would make the
  // image detach from memory that may belong to someone else.
  if (Source->Device() == FState->Device) src = src.copy(src.rect());

  if (FCopyMode == DSPDxax) {
    // The visible part of Dest only, each pixel sampled from its source pixel.
    const QRect target = dq & LogicalDeviceRect(*FState);
    if (target.isEmpty()) return;
    QImage mask(target.size(), QImage::Format_RGB32);
    for (int y = 0; y < target.height(); ++y) {
      int64_t fy = (int64_t{y + target.y() - dq.y()} * sq.height()) / dq.height();
      int sy = flipY ? sq.bottom() - int(fy) : sq.top() + int(fy);
      for (int x = 0; x < target.width(); ++x) {
        int64_t fx = (int64_t{x + target.x() - dq.x()} * sq.width()) / dq.width();
        int sx = flipX ? sq.right() - int(fx) : sq.left() + int(fx);
        mask.setPixel(x, y, 0xFF000000u | ReadRgb(src, sx, sy));
      }
    }
    dq = target;
    QImage pat = BrushLayer(FromQRect(dq));
    if (QImage* img = WritableImage()) {
      QRect target = dq & img->rect();
      for (int y = target.top(); y <= target.bottom(); ++y)
        for (int x = target.left(); x <= target.right(); ++x) {
          if (FState->HasClip && !FState->Clip.contains(QPoint(x, y))) continue;
          uint32_t sp = mask.pixel(x - dq.x(), y - dq.y()) & 0xFFFFFF;
          uint32_t pp = pat.pixel(x - dq.x(), y - dq.y());
          if ((pp >> 24) == 0) continue;
          uint32_t d = ReadRgb(*img, x, y);
          WriteRgb(*img, x, y, (d ^ (sp & ((pp & 0xFFFFFF) ^ d))) & 0xFFFFFF);
        }
      return;
    }
    // Other devices: the brush where the mask is white (masks are black and white).
    for (int y = 0; y < pat.height(); ++y)
      for (int x = 0; x < pat.width(); ++x)
        if ((mask.pixel(x, y) & 0xFFFFFF) != 0xFFFFFF) pat.setPixel(x, y, 0);
    p->save();
    p->setCompositionMode(QPainter::CompositionMode_SourceOver);
    p->drawImage(dq.topLeft(), pat);
    p->restore();
    return;
  }

  QImage* img = DeviceImage();
  bool sameSize = dq.size() == sq.size() && !flipX && !flipY;
  if (FCopyMode == cmSrcCopy && sameSize && img && !FState->External && !FState->HasClip &&
      src.rect().contains(sq)) {
    // Straight copies keep every byte, the fourth byte of 32-bit pixels included.
    if (!img->isDetached()) {
      Release();
      img->bits();
    }
    QRect target = dq & img->rect();
    int ox = sq.x() - dq.x(), oy = sq.y() - dq.y();
    bool src24 = Is24(src), dst24 = Is24(*img);
    for (int y = target.top(); y <= target.bottom(); ++y) {
      const uchar* s = src.constScanLine(y + oy);
      uchar* d = const_cast<uchar*>(img->constScanLine(y));
      if (src24 == dst24) {
        int bpp = src24 ? 3 : 4;
        std::memmove(d + bpp * target.x(), s + bpp * (target.x() + ox), size_t(bpp) * target.width());
      } else {
        for (int x = target.left(); x <= target.right(); ++x) WriteRgb(*img, x, y, ReadRgb(src, x + ox, y + oy));
      }
    }
    return;
  }
  QImage part = OpaqueCopy(src, sq);
  if (flipX || flipY) part = part.mirrored(flipX, flipY);
  QPainter::CompositionMode cm = QPainter::CompositionMode_SourceOver;
  switch (FCopyMode) {
    case cmSrcInvert: cm = QPainter::RasterOp_SourceXorDestination; break;
    case cmSrcAnd: cm = QPainter::RasterOp_SourceAndDestination; break;
    case cmSrcPaint: cm = QPainter::RasterOp_SourceOrDestination; break;
    case cmNotSrcCopy: cm = QPainter::RasterOp_NotSource; break;
    case cmSrcErase: cm = QPainter::RasterOp_SourceAndNotDestination; break;
    case cmNotSrcErase: cm = QPainter::RasterOp_NotSourceAndNotDestination; break;
    case cmMergePaint: cm = QPainter::RasterOp_NotSourceOrDestination; break;
    default: break;
  }
  p->save();
  p->setCompositionMode(cm);
  p->drawImage(dq, part);
  p->restore();
}

QImage* TCanvas::WritableImage() {
  QImage* img = DeviceImage();
  if (!img || FState->External) return nullptr;
  if (!img->isDetached()) {
    Release();
    img->bits();
  }
  return img;
}

QImage TCanvas::BrushLayer(const TRect& Area) {
  QRect a = ToQRect(Area).normalized();
  QImage layer(a.size(), QImage::Format_ARGB32);
  layer.fill(0);
  if (a.isEmpty()) return layer;
  QPainter lp(&layer);
  lp.translate(-a.x(), -a.y());
  TCanvasState plain = {};
  plain.BkMode = FState->BkMode;
  plain.BkColor = FState->BkColor;
  BrushFill(&lp, plain, *FBrush, QRegion(a));
  return layer;
}

void TCanvas::PatBlt(const TRect& R, TCopyMode Rop) {
  QRect q = ToQRect(R).normalized();
  if (q.isEmpty()) return;
  QPainter* p = Painter();
  if (!p) return;
  switch (Rop) {
    case cmBlackness:
    case cmWhiteness:
      p->save();
      p->setCompositionMode(QPainter::CompositionMode_SourceOver);
      p->fillRect(q, Rop == cmBlackness ? Qt::black : Qt::white);
      p->restore();
      return;
    case cmPatCopy: BrushFill(p, *FState, *FBrush, QRegion(q)); return;
    case cmDstInvert:
    case cmPatInvert: break;
    default: return;
  }
  QImage pat = Rop == cmPatInvert ? BrushLayer(FromQRect(q)) : QImage();
  if (QImage* img = WritableImage()) {
    QRect target = q & img->rect();
    for (int y = target.top(); y <= target.bottom(); ++y)
      for (int x = target.left(); x <= target.right(); ++x) {
        if (FState->HasClip && !FState->Clip.contains(QPoint(x, y))) continue;
        uint32_t d = ReadRgb(*img, x, y);
        if (Rop == cmDstInvert) {
          WriteRgb(*img, x, y, ~d & 0xFFFFFF);
        } else {
          uint32_t pp = pat.pixel(x - q.x(), y - q.y());
          if ((pp >> 24) != 0) WriteRgb(*img, x, y, (d ^ pp) & 0xFFFFFF);
        }
      }
    return;
  }
  p->save();
  if (Rop == cmDstInvert) {
    p->setCompositionMode(QPainter::RasterOp_NotDestination);
    p->fillRect(q, Qt::black);
  } else {
    p->setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    p->drawImage(q.topLeft(), pat);
  }
  p->restore();
}

void TCanvas::BrushCopy(const TRect& Dest, TBitmap* Bitmap, const TRect& Source, TColor Color) {
  if (!Bitmap || Bitmap->Empty()) return;
  QPainter* p = Painter();
  if (!p) return;
  QRect sq = ToQRect(Source).normalized() & Bitmap->Image().rect();
  if (sq.isEmpty()) return;
  QImage part = OpaqueCopy(Bitmap->Image(), sq);
  uint32_t key = ToQRgb(Color), fill = ToQRgb(FBrush->Color());
  for (int y = 0; y < part.height(); ++y) {
    auto* line = reinterpret_cast<uint32_t*>(part.scanLine(y));
    for (int x = 0; x < part.width(); ++x) {
      if (line[x] == key) {
        line[x] = FBrush->Style() == bsClear ? 0 : fill;
      }
    }
  }
  p->save();
  p->setCompositionMode(QPainter::CompositionMode_SourceOver);
  p->drawImage(ToQRect(Dest), part);
  p->restore();
}

void TCanvas::Draw(int32_t X, int32_t Y, TGraphic* Graphic) {
  if (!Graphic || Graphic->Empty()) return;
  Graphic->Draw(this, Bounds(X, Y, Graphic->Width(), Graphic->Height()));
}

void TCanvas::StretchDraw(const TRect& R, TGraphic* Graphic) {
  if (!Graphic || Graphic->Empty()) return;
  Graphic->Draw(this, R);
}

// --- 3D frames and edges -----------------------------------------------------------------

void Frame3D(TCanvas* Canvas, TRect& R, TColor TopColor, TColor BottomColor, int32_t Width) {
  TPen* pen = Canvas->Pen();
  TColor oldColor = pen->Color();
  int32_t oldWidth = pen->Width();
  TPenStyle oldStyle = pen->Style();
  TPenMode oldMode = pen->Mode();
  pen->SetWidth(1);
  pen->SetStyle(psSolid);
  pen->SetMode(pmCopy);
  TPoint oldPos = Canvas->PenPos();
  R.Bottom -= 1;
  R.Right -= 1;
  for (int32_t i = 0; i < Width; ++i) {
    pen->SetColor(TopColor);
    Canvas->Polyline({{R.Left, R.Bottom}, {R.Left, R.Top}, {R.Right, R.Top}});
    pen->SetColor(BottomColor);
    Canvas->Polyline({{R.Right, R.Top}, {R.Right, R.Bottom}, {R.Left - 1, R.Bottom}});
    InflateRect(R, -1, -1);
  }
  R.Bottom += 1;
  R.Right += 1;
  pen->SetColor(oldColor);
  pen->SetWidth(oldWidth);
  pen->SetStyle(oldStyle);
  pen->SetMode(oldMode);
  Canvas->SetPenPos(oldPos);
}

bool DrawEdge(TCanvas* Canvas, TRect& R, uint32_t Edge, uint32_t Flags) {
  TBrush* brush = Canvas->Brush();
  TColor oldColor = brush->Color();
  TBrushStyle oldStyle = brush->Style();
  int32_t oldBkMode = Canvas->BkMode();
  TColor oldBkColor = Canvas->BkColor();
  TRect r = R;
  const bool soft = (Flags & BF_SOFT) != 0;
  auto line = [&](TColor c, const TRect& part) {
    if (IsRectEmpty(part)) return;
    brush->SetStyle(bsSolid);
    brush->SetColor(c);
    Canvas->FillRect(part);
  };
  // One ring of the edge: top and left in lt, then bottom and right in rb over the corners.
  auto ring = [&](TColor lt, TColor rb) {
    if (Flags & BF_TOP) line(lt, {r.Left, r.Top, r.Right - 1, r.Top + 1});
    if (Flags & BF_LEFT) line(lt, {r.Left, r.Top, r.Left + 1, r.Bottom - 1});
    if (Flags & BF_BOTTOM) line(rb, {r.Left, r.Bottom - 1, r.Right, r.Bottom});
    if (Flags & BF_RIGHT) line(rb, {r.Right - 1, r.Top, r.Right, r.Bottom});
    if (Flags & BF_LEFT) r.Left++;
    if (Flags & BF_TOP) r.Top++;
    if (Flags & BF_RIGHT) r.Right--;
    if (Flags & BF_BOTTOM) r.Bottom--;
  };
  uint32_t outer = Edge & BDR_OUTER, inner = Edge & BDR_INNER;
  if (Flags & BF_MONO) {
    if (outer) ring(clWindowFrame, clWindowFrame);
    if (inner) ring(clWindow, clWindow);
  } else if (Flags & BF_FLAT) {
    if (outer) ring(clBtnShadow, clBtnShadow);
    if (inner) ring(clBtnFace, clBtnFace);
  } else {
    if (outer == BDR_RAISEDOUTER) ring(soft ? clBtnHighlight : cl3DLight, cl3DDkShadow);
    else if (outer == BDR_SUNKENOUTER) ring(soft ? cl3DDkShadow : clBtnShadow, clBtnHighlight);
    if (inner == BDR_RAISEDINNER) ring(soft ? cl3DLight : clBtnHighlight, clBtnShadow);
    else if (inner == BDR_SUNKENINNER) ring(soft ? clBtnShadow : cl3DDkShadow, cl3DLight);
  }
  if ((Flags & BF_MIDDLE) && !IsRectEmpty(r)) line((Flags & BF_MONO) ? clWindow : clBtnFace, r);
  if (Flags & BF_ADJUST) R = r;
  brush->SetColor(oldColor);
  brush->SetStyle(oldStyle);
  Canvas->SetBkMode(oldBkMode);
  Canvas->SetBkColor(oldBkColor);
  return true;
}

}  // namespace platform

// The metafile player: device context state, transformations, objects, lines, shapes, paths
// and clipping. Text and bitmaps are in MetafilePlayer_Text.cpp.
#include <QPainterPathStroker>
#include <QPolygonF>
#include <algorithm>
#include <cmath>

#include "platform/GraphicsPriv.h"
#include "platform/MetafilePriv.h"

namespace platform {

namespace {

[[noreturn]] void Fail(const char* Msg) { throw EMetafileError(Msg); }

constexpr double cPi = 3.14159265358979323846;
// Coordinates beyond this (canvas pixels) are not drawn: far outside any device.
constexpr double cFar = 1e8;

bool Finite(const QTransform& T) {
  return std::isfinite(T.m11()) && std::isfinite(T.m12()) && std::isfinite(T.m21()) && std::isfinite(T.m22()) &&
         std::isfinite(T.dx()) && std::isfinite(T.dy());
}

bool Sane(const QRectF& R) {
  return std::isfinite(R.left()) && std::isfinite(R.top()) && std::isfinite(R.right()) && std::isfinite(R.bottom()) &&
         std::abs(R.left()) < cFar && std::abs(R.right()) < cFar && std::abs(R.top()) < cFar &&
         std::abs(R.bottom()) < cFar;
}

// The part of a closed polygon inside R (Sutherland-Hodgman against each edge of R). Inside R
// every point keeps its winding number, so either fill rule fills the same pixels there; a
// region is then built over the area that can be seen, not over the polygon's whole extent.
QPolygonF ClipToRect(const QPolygonF& In, const QRectF& R) {
  QPolygonF poly = In;
  for (int edge = 0; edge < 4 && !poly.isEmpty(); ++edge) {
    auto inside = [&](const QPointF& P) {
      switch (edge) {
        case 0: return P.x() >= R.left();
        case 1: return P.x() <= R.right();
        case 2: return P.y() >= R.top();
        default: return P.y() <= R.bottom();
      }
    };
    auto cross = [&](const QPointF& A, const QPointF& B) {
      const double t = edge == 0   ? (R.left() - A.x()) / (B.x() - A.x())
                       : edge == 1 ? (R.right() - A.x()) / (B.x() - A.x())
                       : edge == 2 ? (R.top() - A.y()) / (B.y() - A.y())
                                   : (R.bottom() - A.y()) / (B.y() - A.y());
      return A + (B - A) * t;
    };
    QPolygonF out;
    out.reserve(poly.size() + 4);
    for (qsizetype i = 0; i < poly.size(); ++i) {
      const QPointF& cur = poly[i];
      const QPointF& prev = poly[(i + poly.size() - 1) % poly.size()];
      if (inside(cur)) {
        if (!inside(prev)) out << cross(prev, cur);
        out << cur;
      } else if (inside(prev)) {
        out << cross(prev, cur);
      }
    }
    poly = std::move(out);
  }
  return poly;
}

Qt::BrushStyle HatchPattern(uint32_t Hatch) {
  switch (Hatch) {
    case 0: return Qt::HorPattern;
    case 1: return Qt::VerPattern;
    case 2: return Qt::FDiagPattern;
    case 3: return Qt::BDiagPattern;
    case 4: return Qt::CrossPattern;
    case 5: return Qt::DiagCrossPattern;
    default: return Qt::SolidPattern;
  }
}

QTransform ToQt(const XFORM& X) { return QTransform(X.eM11, X.eM12, X.eM21, X.eM22, X.eDx, X.eDy); }

}  // namespace

void TMetafileDC::TReader::Need(uint64_t End) const {
  if (End > Size) Fail("Metafile record is too short");
}

QRectF TMetafileDC::TReader::Box(uint32_t At) const {
  const double l = I32(At), t = I32(At + 4), r = I32(At + 8), b = I32(At + 12);
  return QRectF(QPointF(l, t), QPointF(r, b));
}

// --- set-up ------------------------------------------------------------------------------

TMetafileDC::TMetafileDC(TCanvas* Canvas, QPainter* Painter, const TMetafile& Metafile, const TMetafileTarget& Target)
    : FCanvas(Canvas), FPainter(Painter), FMetafile(Metafile) {
  const TEnhMetaHeader& h = Metafile.Header();
  const double bw = double(h.Bounds.Right) - h.Bounds.Left + 1, bh = double(h.Bounds.Bottom) - h.Bounds.Top + 1;
  const double fw = double(h.Frame.Right) - h.Frame.Left, fh = double(h.Frame.Bottom) - h.Frame.Top;
  const bool device = h.DeviceCx > 0 && h.DeviceCy > 0 && h.MillimetersCx > 0 && h.MillimetersCy > 0;
  if (device) {
    FPxPerMmX = double(h.DeviceCx) / h.MillimetersCx;
    FPxPerMmY = double(h.DeviceCy) / h.MillimetersCy;
  } else if (fw > 0 && fh > 0) {
    FPxPerMmX = bw * 100 / fw;
    FPxPerMmY = bh * 100 / fh;
  } else {
    FPxPerMmX = FPxPerMmY = 96 / 25.4;
  }
  // The frame (0.01 mm) in the picture's pixels lands on the target; without a reference device
  // the bounds stand for it.
  double fl, ft, fr, fb;
  if (device && fw > 0 && fh > 0) {
    fl = h.Frame.Left * FPxPerMmX / 100;
    ft = h.Frame.Top * FPxPerMmY / 100;
    fr = h.Frame.Right * FPxPerMmX / 100;
    fb = h.Frame.Bottom * FPxPerMmY / 100;
  } else {
    fl = h.Bounds.Left;
    ft = h.Bounds.Top;
    fr = fl + bw;
    fb = ft + bh;
  }
  const double sx = (Target.Right - Target.Left) / (fr - fl), sy = (Target.Bottom - Target.Top) / (fb - ft);
  FPlayback = QTransform(sx, 0, 0, sy, Target.Left - fl * sx, Target.Top - ft * sy) * ToQt(Target.Transform);
  if (!Finite(FPlayback)) FPlayback = QTransform(0, 0, 0, 0, 0, 0);
  if (Painter->hasClipping()) FBaseClip = Painter->clipRegion();
  FClip = FBaseClip;
  Painter->setRenderHint(QPainter::Antialiasing, false);
  Painter->setRenderHint(QPainter::SmoothPixmapTransform, false);
  Painter->setCompositionMode(QPainter::CompositionMode_SourceOver);
  S.Pen = Stock(0x80000007);
  S.Brush = Stock(0x80000000);
  S.Font = Stock(0x8000000D);
}

TMetafileDC::~TMetafileDC() = default;

HGDIOBJ TMetafileDC::Stock(uint32_t Index) {
  const uint32_t i = Index & 0x7FFFFFFF;
  if (i >= 20) return nullptr;
  if (FStock[i]) return FStock[i];
  auto o = std::make_shared<TGdiObject>();
  static const uint32_t cBrushes[] = {0xFFFFFF, 0xC0C0C0, 0x808080, 0x404040, 0, 0};
  if (i <= 5) {
    o->Kind = TGdiKind::Brush;
    o->Color = cBrushes[i];
    o->BrushStyle = i == 5 ? BS_NULL : BS_SOLID;
  } else if (i <= 8) {
    o->Kind = TGdiKind::Pen;
    o->Color = i == 6 ? 0xFFFFFF : 0;
    o->PenStyle = i == 8 ? PS_NULL : PS_SOLID;
  } else if (i >= 10 && i <= 17 && i != 15) {
    o->Kind = TGdiKind::Font;
    o->Height = 16;
    o->Weight = i == 13 ? 700 : 400;
    o->Face = (i == 10 || i == 11 || i == 16) ? "Courier New" : "Arial";
  } else if (i == 18) {
    o->Kind = TGdiKind::Brush;  // DC_BRUSH
    o->Color = 0xFFFFFF;
  } else if (i == 19) {
    o->Kind = TGdiKind::Pen;  // DC_PEN
  } else {
    return nullptr;
  }
  FStock[i] = o;
  return o;
}

HGDIOBJ TMetafileDC::Select(const HGDIOBJ& Object) {
  HGDIOBJ old;
  switch (Object->Kind) {
    case TGdiKind::Pen: old = S.Pen; S.Pen = Object; break;
    case TGdiKind::Brush: old = S.Brush; S.Brush = Object; break;
    case TGdiKind::Font: old = S.Font; S.Font = Object; break;
  }
  return old;
}

// --- transformations ---------------------------------------------------------------------

const QTransform& TMetafileDC::Full() {
  if (!FFullValid) {
    const double sx = S.VpExtX / S.WinExtX, sy = S.VpExtY / S.WinExtY;
    const QTransform page(sx, 0, 0, sy, S.VpOrgX - S.WinOrgX * sx, S.VpOrgY - S.WinOrgY * sy);
    FFull = S.World * page * FPlayback;
    if (!Finite(FFull)) FFull = QTransform(0, 0, 0, 0, 0, 0);
    FFullValid = true;
  }
  return FFull;
}

double TMetafileDC::DevScale() {
  const QTransform& t = Full();
  return std::sqrt(std::abs(t.m11() * t.m22() - t.m12() * t.m21()));
}

bool TMetafileDC::AxisAligned() {
  const QTransform& t = Full();
  return t.m12() == 0 && t.m21() == 0;
}

void TMetafileDC::SetMapMode(int32_t Mode) {
  // Logical units per millimetre of each fixed mode; the extents are those the platform sets.
  double perMm = 0;
  switch (Mode) {
    case MM_TEXT:
      S.WinExtX = S.WinExtY = S.VpExtX = S.VpExtY = 1;
      break;
    case MM_LOMETRIC: case MM_ISOTROPIC: perMm = 10; break;
    case MM_HIMETRIC: perMm = 100; break;
    case MM_LOENGLISH: perMm = 100 / 25.4; break;
    case MM_HIENGLISH: perMm = 1000 / 25.4; break;
    case MM_TWIPS: perMm = 1440 / 25.4; break;
    case MM_ANISOTROPIC: break;
    default: return;
  }
  if (perMm > 0) {
    S.WinExtX = S.WinExtY = perMm;
    S.VpExtX = FPxPerMmX;
    S.VpExtY = -FPxPerMmY;
  }
  S.MapMode = Mode;
  Changed();
}

// Isotropic: the viewport extent of the larger scale shrinks so that a logical unit is as long
// on both axes (in millimetres of the reference device).
void TMetafileDC::FixIsotropic() {
  if (S.MapMode != MM_ISOTROPIC) return;
  const double xdim = std::abs(S.VpExtX / (FPxPerMmX * S.WinExtX));
  const double ydim = std::abs(S.VpExtY / (FPxPerMmY * S.WinExtY));
  if (!(xdim > 0) || !(ydim > 0)) return;
  if (xdim > ydim) S.VpExtX *= ydim / xdim;
  else S.VpExtY *= xdim / ydim;
  Changed();
}

// --- objects -----------------------------------------------------------------------------

HGDIOBJ& TMetafileDC::Slot(THandleTable* Table, uint32_t Index) {
  if (Index == 0 || Index >= FMetafile.Header().Handles) Fail("Metafile object index out of range");
  return Table->Objects[Index];
}

HGDIOBJ TMetafileDC::Lookup(THandleTable* Table, uint32_t Index) {
  if (Index & 0x80000000u) return Stock(Index);
  if (Index == 0 || Index >= FMetafile.Header().Handles) Fail("Metafile object index out of range");
  auto it = Table->Objects.find(Index);
  return it == Table->Objects.end() ? nullptr : it->second;
}

void TMetafileDC::CreatePen(THandleTable* Table, const TReader& R, bool Extended) {
  HGDIOBJ& slot = Slot(Table, R.U32(8));
  auto o = std::make_shared<TGdiObject>();
  o->Kind = TGdiKind::Pen;
  if (!Extended) {
    R.Need(28);
    o->PenStyle = R.U32(12) & PS_STYLE_MASK;
    o->PenWidth = R.I32(16);
    o->Color = R.U32(24) & 0xFFFFFF;
    // Wide pens of this kind are solid, with round ends and joins.
    o->Cosmetic = o->PenWidth <= 0;
    if (o->PenWidth > 1 && o->PenStyle >= PS_DASH && o->PenStyle <= PS_DASHDOTDOT) o->PenStyle = PS_SOLID;
  } else {
    R.Need(52);
    o->PenStyle = R.U32(28);
    o->PenWidth = R.U32(32);
    o->Color = R.U32(40) & 0xFFFFFF;
    o->Cosmetic = (o->PenStyle & PS_GEOMETRIC) == 0;
    const uint32_t brushStyle = R.U32(36);
    if (brushStyle == BS_NULL) o->PenStyle = (o->PenStyle & ~PS_STYLE_MASK) | PS_NULL;
    const uint32_t n = R.U32(48);
    if ((o->PenStyle & PS_STYLE_MASK) == PS_USERSTYLE) {
      if (n > 16) Fail("Metafile pen style count exceeds its record");
      R.Need(52 + uint64_t(n) * 4);
      double sum = 0;
      for (uint32_t i = 0; i < n; ++i) {
        o->Dashes.push_back(R.U32(52 + 4 * i));
        sum += o->Dashes.back();
      }
      if (!(sum > 0)) o->Dashes.clear();
    }
  }
  slot = o;
}

void TMetafileDC::CreateBrush(THandleTable* Table, const TReader& R) {
  HGDIOBJ& slot = Slot(Table, R.U32(8));
  R.Need(24);
  auto o = std::make_shared<TGdiObject>();
  o->Kind = TGdiKind::Brush;
  const uint32_t style = R.U32(12);
  o->Color = R.U32(16) & 0xFFFFFF;
  o->Hatch = R.U32(20);
  o->BrushStyle = style == BS_NULL || style == BS_HATCHED ? style : BS_SOLID;
  if (o->BrushStyle == BS_HATCHED && o->Hatch > 5) o->BrushStyle = BS_SOLID;
  slot = o;
}

void TMetafileDC::CreateFont(THandleTable* Table, const TReader& R) {
  HGDIOBJ& slot = Slot(Table, R.U32(8));
  R.Need(12 + 92);
  auto o = std::make_shared<TGdiObject>();
  o->Kind = TGdiKind::Font;
  o->Height = R.I32(12);
  o->Width = R.I32(16);
  o->Escapement = R.I32(20);
  o->Orientation = R.I32(24);
  o->Weight = R.I32(28);
  const uint32_t flags = R.U32(32);
  o->Italic = (flags & 0xFF) != 0;
  o->Underline = ((flags >> 8) & 0xFF) != 0;
  o->StrikeOut = ((flags >> 16) & 0xFF) != 0;
  o->Charset = uint8_t(flags >> 24);
  std::u16string face;
  for (uint32_t i = 0; i < 32; ++i) {
    uint16_t c;
    std::memcpy(&c, R.P + 40 + 2 * i, 2);
    if (!c) break;
    face.push_back(char16_t(c));
  }
  o->Face = QString::fromUtf16(face.data(), qsizetype(face.size())).toStdString();
  slot = o;
}

// --- figures -----------------------------------------------------------------------------

std::vector<QPointF> TMetafileDC::ReadPoints(const TReader& R, uint32_t PointsAt, bool Short, uint32_t Count) {
  const uint64_t each = Short ? 4 : 8;
  if (uint64_t(Count) * each > uint64_t(R.Size) - std::min<uint64_t>(R.Size, PointsAt))
    Fail("Metafile point count exceeds its record");
  std::vector<QPointF> pts;
  pts.reserve(Count);
  const QTransform& t = Full();
  for (uint32_t i = 0; i < Count; ++i) {
    const QPointF p = Short ? QPointF(R.I16(PointsAt + 4 * i), R.I16(PointsAt + 4 * i + 2))
                            : QPointF(R.I32(PointsAt + 8 * i), R.I32(PointsAt + 8 * i + 4));
    pts.push_back(t.map(p));
  }
  return pts;
}

void TMetafileDC::Poly(const TReader& R, uint32_t Type) {
  const bool shortPts = Type >= EMR_POLYBEZIER16;
  const uint32_t base = shortPts ? Type - EMR_POLYBEZIER16 + EMR_POLYBEZIER : Type;
  const uint32_t n = R.U32(24);
  std::vector<QPointF> pts = ReadPoints(R, 28, shortPts, n);
  const bool to = base == EMR_POLYBEZIERTO || base == EMR_POLYLINETO;
  if (to) {
    if (pts.empty()) return;
    pts.insert(pts.begin(), Dev(S.Pos));
  }
  const bool bezier = base == EMR_POLYBEZIER || base == EMR_POLYBEZIERTO;
  if (pts.size() < 2 || (bezier && (pts.size() - 1) % 3 != 0)) return;
  QPainterPath path(pts[0]);
  if (bezier) {
    for (size_t i = 1; i + 2 < pts.size(); i += 3) path.cubicTo(pts[i], pts[i + 1], pts[i + 2]);
  } else {
    for (size_t i = 1; i < pts.size(); ++i) path.lineTo(pts[i]);
  }
  if (to) {
    // The last point becomes the current position (in logical units).
    const uint32_t at = 28 + (n - 1) * (shortPts ? 4 : 8);
    S.Pos = shortPts ? QPointF(R.I16(at), R.I16(at + 2)) : R.Point(at);
  }
  if (base == EMR_POLYGON) {
    path.closeSubpath();
    if (S.InPath) AppendToPath(path, false);
    else Draw(path, path, true, true);
    return;
  }
  if (S.InPath) AppendToPath(path, to);
  else Draw(path, path, false, true);
}

void TMetafileDC::PolyPoly(const TReader& R, bool Short, bool Closed) {
  const uint32_t polys = R.U32(24), total = R.U32(28);
  const uint64_t countsEnd = 32 + uint64_t(polys) * 4;
  R.Need(countsEnd);
  const std::vector<QPointF> pts = ReadPoints(R, uint32_t(countsEnd), Short, total);
  QPainterPath path;
  uint64_t at = 0;
  for (uint32_t i = 0; i < polys; ++i) {
    const uint32_t n = R.U32(32 + 4 * i);
    if (n > total - at) Fail("Metafile point count exceeds its record");
    if (n >= 2) {
      path.moveTo(pts[at]);
      for (uint32_t k = 1; k < n; ++k) path.lineTo(pts[at + k]);
      if (Closed) path.closeSubpath();
    }
    at += n;
  }
  if (S.InPath) AppendToPath(path, false);
  else Draw(path, path, Closed, true);
}

// Rectangles, ellipses and rounded rectangles: the box's right and bottom edges are outside,
// as on the platform; thin outlines run on the last pixels inside.
void TMetafileDC::BoxFigure(const TReader& R, uint32_t Type) {
  QRectF box = R.Box(8).normalized();
  QSizeF corner;
  if (Type == EMR_ROUNDRECT) corner = QSizeF(std::abs(R.I32(24)), std::abs(R.I32(28)));
  const TGdiObject* pen = S.Pen.get();
  if (pen && (pen->PenStyle & PS_STYLE_MASK) == PS_INSIDEFRAME && !pen->Cosmetic && pen->PenWidth > 1) {
    const double d = pen->PenWidth / 2;
    box.adjust(d, d, -d, -d);
  }
  auto figure = [&](const QRectF& B, const QSizeF& C) {
    QPainterPath p;
    if (Type == EMR_RECTANGLE) p.addRect(B);
    else if (Type == EMR_ELLIPSE) p.addEllipse(B);
    else p.addRoundedRect(B, C.width() / 2, C.height() / 2);
    return p;
  };
  if (AxisAligned()) {
    const QTransform& t = Full();
    const QRectF d = t.mapRect(box);
    if (!Sane(d)) return;
    const QSizeF c(corner.width() * std::abs(t.m11()), corner.height() * std::abs(t.m22()));
    const QPainterPath fill = figure(d, c);
    if (S.InPath) {
      AppendToPath(fill, false);
      return;
    }
    const bool thin = !pen || pen->Cosmetic || pen->PenWidth * DevScale() < 1.5;
    const QPainterPath stroke = thin ? figure(d.adjusted(0, 0, -1, -1), c) : fill;
    Draw(fill, stroke, true, true);
    return;
  }
  const QPainterPath p = Full().map(figure(box, corner));
  if (S.InPath) AppendToPath(p, false);
  else Draw(p, p, true, true);
}

// Arcs, chords and pies: from the ray through the start point to the ray through the end point,
// in the device context's arc direction as seen on the device. On an upright device the figure
// is built in device pixels, so a thin outline keeps to the box as rectangles do.
void TMetafileDC::ArcFigure(const TReader& R, uint32_t Type) {
  R.Need(40);
  QRectF box = R.Box(8).normalized();
  QPointF start = R.Point(24), end = R.Point(32);
  if (box.width() <= 0 || box.height() <= 0) return;
  const QTransform& t = Full();
  const bool aligned = AxisAligned();
  bool ccw = S.ArcDirection == AD_COUNTERCLOCKWISE;
  if (aligned) {
    box = t.mapRect(box);
    start = t.map(start);
    end = t.map(end);
    if (!Sane(box) || box.width() <= 0 || box.height() <= 0) return;
  } else if (t.m11() * t.m22() - t.m12() * t.m21() < 0) {
    ccw = !ccw;  // a mirrored mapping turns the direction seen on the device
  }
  auto figure = [&](const QRectF& B) {
    const QPointF c = B.center();
    const double a = B.width() / 2, b = B.height() / 2;
    auto angle = [&](const QPointF& P) { return std::atan2(-(P.y() - c.y()) / b, (P.x() - c.x()) / a) * 180 / cPi; };
    const double t0 = angle(start), t1 = angle(end);
    double sweep = t1 - t0;
    if (ccw) {
      while (sweep <= 0) sweep += 360;
    } else {
      while (sweep >= 0) sweep -= 360;
    }
    QPainterPath p;
    if (Type == EMR_PIE) {
      p.moveTo(c);
      p.arcTo(B, t0, sweep);
      p.closeSubpath();
    } else {
      p.arcMoveTo(B, t0);
      p.arcTo(B, t0, sweep);
      if (Type == EMR_CHORD) p.closeSubpath();
    }
    return aligned ? p : t.map(p);
  };
  QPainterPath d = figure(box);
  if (!Sane(d.boundingRect())) return;
  const TGdiObject* pen = S.Pen.get();
  const bool thin = !pen || pen->Cosmetic || pen->PenWidth * DevScale() < 1.5;
  QPainterPath stroke = aligned && thin && !S.InPath ? figure(box.adjusted(0, 0, -1, -1)) : d;
  if (Type == EMR_ARCTO) {
    // A line from the current position to the arc's start; the arc's end becomes the position.
    auto withLine = [&](const QPainterPath& Arc) {
      QPainterPath line(Dev(S.Pos));
      line.lineTo(Arc.elementAt(0));
      line.connectPath(Arc);
      return line;
    };
    d = withLine(d);
    stroke = withLine(stroke);
    S.Pos = Full().inverted().map(d.currentPosition());
  }
  const bool closed = Type == EMR_CHORD || Type == EMR_PIE;
  if (S.InPath) AppendToPath(d, Type == EMR_ARCTO);
  else Draw(d, stroke, closed, true);
}

void TMetafileDC::AngleArc(const TReader& R) {
  R.Need(28);
  const QPointF c = R.Point(8);
  const double r = R.U32(16);
  const double start = R.F32(20), sweep = R.F32(24);
  if (!std::isfinite(start) || !std::isfinite(sweep) || r > 1e9) return;
  const QRectF box(c.x() - r, c.y() - r, 2 * r, 2 * r);
  QPainterPath p(S.Pos);
  QPainterPath arc;
  arc.arcMoveTo(box, start);
  p.lineTo(arc.currentPosition());
  p.arcTo(box, start, std::clamp(sweep, -3600.0, 3600.0));
  S.Pos = p.currentPosition();
  const QPainterPath d = Full().map(p);
  if (!Sane(d.boundingRect())) return;
  if (S.InPath) AppendToPath(d, true);
  else Draw(d, d, false, true);
}

// --- drawing -----------------------------------------------------------------------------

QPen TMetafileDC::MakePen(const TGdiObject& Pen) {
  const uint32_t style = Pen.PenStyle & PS_STYLE_MASK;
  QPen q(GdiColor(Pen.Color));
  const double w = Pen.Cosmetic ? 0 : Pen.PenWidth * DevScale();
  if (w < 1.5) {
    // One pixel, leaving out the last point as the platform's lines do.
    q.setWidth(0);
    q.setCapStyle(Qt::FlatCap);
    q.setJoinStyle(Qt::MiterJoin);
    switch (style) {
      case PS_DASH: q.setDashPattern({18, 6}); break;
      case PS_DOT: q.setDashPattern({3, 3}); break;
      case PS_DASHDOT: q.setDashPattern({9, 6, 3, 6}); break;
      case PS_DASHDOTDOT: q.setDashPattern({9, 3, 3, 3, 3, 3}); break;
      case PS_ALTERNATE: q.setDashPattern({1, 1}); break;
      case PS_USERSTYLE:
        if (!Pen.Dashes.empty()) {
          QList<qreal> d;
          for (double v : Pen.Dashes) d.push_back(std::max(v, 0.01));
          if (d.size() % 2) d.push_back(d.back());
          q.setDashPattern(d);
        }
        break;
      default: break;
    }
    return q;
  }
  q.setWidthF(std::min(w, 1e6));  // wider than any device
  const uint32_t cap = Pen.PenStyle & PS_ENDCAP_MASK, join = Pen.PenStyle & PS_JOIN_MASK;
  q.setCapStyle(cap == PS_ENDCAP_FLAT ? Qt::FlatCap : cap == PS_ENDCAP_SQUARE ? Qt::SquareCap : Qt::RoundCap);
  q.setJoinStyle(join == PS_JOIN_MITER ? Qt::SvgMiterJoin : join == PS_JOIN_BEVEL ? Qt::BevelJoin : Qt::RoundJoin);
  q.setMiterLimit(std::max(1.0, S.MiterLimit));
  switch (style) {
    case PS_DASH: q.setDashPattern({3, 1}); break;
    case PS_DOT: q.setDashPattern({1, 1}); break;
    case PS_DASHDOT: q.setDashPattern({3, 1, 1, 1}); break;
    case PS_DASHDOTDOT: q.setDashPattern({3, 1, 1, 1, 1, 1}); break;
    case PS_USERSTYLE:
      if (!Pen.Dashes.empty() && Pen.PenWidth > 0) {
        QList<qreal> d;
        for (double v : Pen.Dashes) d.push_back(std::max(v / Pen.PenWidth, 0.01));
        if (d.size() % 2) d.push_back(d.back());
        q.setDashPattern(d);
      }
      break;
    default: break;
  }
  return q;
}

void TMetafileDC::StrokeWithPen(const QPainterPath& Path, const TGdiObject* Pen) {
  if (!Pen || (Pen->PenStyle & PS_STYLE_MASK) == PS_NULL || Path.isEmpty()) return;
  QPen q = MakePen(*Pen);
  const QRectF b = Path.boundingRect();
  if (!Sane(b)) return;
  const bool dashed = q.style() != Qt::SolidLine;
  // Dashes along a line that runs far beyond any device would take forever: drawn solid.
  if (dashed && b.width() + b.height() > 1e6) q.setStyle(Qt::SolidLine);
  FPainter->setBrush(Qt::NoBrush);
  if (dashed && q.style() != Qt::SolidLine && S.BkMode == OPAQUE) {
    QPen gaps = q;
    gaps.setStyle(Qt::SolidLine);
    gaps.setColor(GdiColor(S.BkColor));
    FPainter->strokePath(Path, gaps);
  }
  FPainter->strokePath(Path, q);
}

void TMetafileDC::FillWithBrush(const QPainterPath& Path, const TGdiObject* Brush) {
  if (!Brush || Brush->BrushStyle == BS_NULL || Path.isEmpty()) return;
  if (!Sane(Path.boundingRect())) return;
  switch (Brush->BrushStyle) {
    case BS_HATCHED:
      if (S.BkMode == OPAQUE) FPainter->fillPath(Path, GdiColor(S.BkColor));
      FPainter->fillPath(Path, QBrush(GdiColor(Brush->Color), HatchPattern(Brush->Hatch)));
      break;
    case BS_PATTERN:
    case BS_DIBPATTERN:
    case BS_DIBPATTERNPT:
      if (Brush->Pattern.isNull()) {
        FPainter->fillPath(Path, GdiColor(Brush->Color));
      } else if (Brush->MonoPattern) {
        QImage img = Brush->Pattern.copy();
        img.setColor(0, GdiColor(S.TextColor).rgb());
        img.setColor(1, GdiColor(S.BkColor).rgb());
        FPainter->fillPath(Path, QBrush(img));
      } else {
        FPainter->fillPath(Path, QBrush(Brush->Pattern));
      }
      break;
    default:
      FPainter->fillPath(Path, GdiColor(Brush->Color));
      break;
  }
}

void TMetafileDC::Draw(const QPainterPath& Fill, const QPainterPath& Stroke, bool DoFill, bool DoStroke) {
  if (DoFill) {
    QPainterPath f = Fill;
    f.setFillRule(S.FillMode == WINDING ? Qt::WindingFill : Qt::OddEvenFill);
    FillWithBrush(f, S.Brush.get());
  }
  if (DoStroke) StrokeWithPen(Stroke, S.Pen.get());
}

// --- paths -------------------------------------------------------------------------------

void TMetafileDC::AppendToPath(const QPainterPath& DevicePath, bool Connect) {
  if (DevicePath.isEmpty()) return;
  if (Connect && S.FigureOpen && S.Path.elementCount() > 0 &&
      QLineF(S.Path.currentPosition(), DevicePath.elementAt(0)).length() < 1e-6) {
    S.Path.connectPath(DevicePath);
  } else {
    S.Path.addPath(DevicePath);
  }
  // An open figure goes on; a closed one ends its figure.
  const QPainterPath::Element last = DevicePath.elementAt(DevicePath.elementCount() - 1);
  const QPointF first = DevicePath.elementAt(0);
  S.FigureOpen = Connect || !(DevicePath.elementCount() > 2 && QPointF(last) == first);
}

void TMetafileDC::PathRecord(uint32_t Type, const TReader& R) {
  switch (Type) {
    case EMR_BEGINPATH:
      S.Path = QPainterPath();
      S.InPath = true;
      S.FigureOpen = false;
      break;
    case EMR_ENDPATH:
      S.InPath = false;
      break;
    case EMR_ABORTPATH:
      S.Path = QPainterPath();
      S.InPath = false;
      break;
    case EMR_CLOSEFIGURE:
      if (S.InPath && S.FigureOpen) {
        S.Path.closeSubpath();
        S.FigureOpen = false;
      }
      break;
    case EMR_FILLPATH:
    case EMR_STROKEPATH:
    case EMR_STROKEANDFILLPATH: {
      if (S.InPath) break;
      const QPainterPath p = S.Path;
      S.Path = QPainterPath();
      Draw(p, p, Type != EMR_STROKEPATH, Type != EMR_FILLPATH);
      break;
    }
    case EMR_FLATTENPATH: {
      if (S.InPath) break;
      QPainterPath flat;
      for (const QPolygonF& poly : S.Path.toSubpathPolygons()) flat.addPolygon(poly);
      S.Path = flat;
      break;
    }
    case EMR_WIDENPATH: {
      if (S.InPath || !S.Pen) break;
      QPainterPathStroker st(MakePen(*S.Pen));
      if (st.width() < 1) st.setWidth(1);
      QPainterPath w = st.createStroke(S.Path);
      w.setFillRule(Qt::WindingFill);
      S.Path = w;
      S.FillMode = WINDING;
      break;
    }
    case EMR_SELECTCLIPPATH: {
      if (S.InPath) break;
      const int32_t mode = R.I32(8);
      QPainterPath p = S.Path;
      S.Path = QPainterPath();
      p.setFillRule(S.FillMode == WINDING ? Qt::WindingFill : Qt::OddEvenFill);
      if (!Sane(p.boundingRect())) break;
      QRegion rgn;
      if (!p.isEmpty())
        rgn = QRegion(ClipToRect(p.toFillPolygon(), QRectF(DeviceArea().adjusted(-2, -2, 2, 2))).toPolygon(),
                      S.FillMode == WINDING ? Qt::WindingFill : Qt::OddEvenFill);
      CombineClip(rgn, mode);
      break;
    }
    default:
      break;
  }
}

// --- clipping ----------------------------------------------------------------------------

void TMetafileDC::ApplyClip() {
  std::optional<QRegion> c = S.Clip;
  if (FBaseClip) c = c ? c->intersected(*FBaseClip) : *FBaseClip;
  FClip = c;
  // Turning the painter's clipping off would stop a later region from taking effect; the
  // device's whole area stands for no clip.
  FPainter->setClipRegion(c ? *c : QRegion(DeviceArea()));
}

QRect TMetafileDC::DeviceArea() {
  QPaintDevice* dev = FPainter->device();
  const QRect r(0, 0, dev->width(), dev->height());
  const QTransform t = FPainter->worldTransform();
  return t.isIdentity() || !t.isInvertible() ? r : t.inverted().mapRect(r);
}

void TMetafileDC::CombineClip(const QRegion& Region, int32_t Mode) {
  // Everything the device shows (a region far larger than the device upsets the painter's clip).
  const QRegion all(DeviceArea().adjusted(-1, -1, 1, 1));
  const QRegion cur = S.Clip ? *S.Clip : all;
  switch (Mode) {
    case RGN_AND: S.Clip = cur.intersected(Region); break;
    case RGN_OR: if (S.Clip) S.Clip = cur.united(Region); break;
    case RGN_XOR: S.Clip = cur.xored(Region); break;
    case RGN_DIFF: S.Clip = cur.subtracted(Region); break;
    case RGN_COPY: S.Clip = Region; break;
    default: return;
  }
  ApplyClip();
}

// Region data: a 32-byte header (size, type, count, bytes, bounds) and the rectangles, in the
// picture's device pixels.
QRegion TMetafileDC::ReadRegion(const TReader& R, uint32_t At, uint32_t Bytes) {
  R.Need(uint64_t(At) + Bytes);
  if (Bytes < 32) Fail("Metafile region is damaged");
  const uint32_t n = R.U32(At + 8);
  if (uint64_t(n) * 16 > Bytes - 32) Fail("Metafile region is damaged");
  QRegion rgn;
  std::vector<QRect> rects;
  rects.reserve(n);
  const bool aligned = FPlayback.m12() == 0 && FPlayback.m21() == 0;
  for (uint32_t i = 0; i < n; ++i) {
    const QRectF r = FPlayback.mapRect(R.Box(At + 32 + 16 * i));
    if (!Sane(r)) continue;
    if (aligned) {
      const QRect q(QPoint(int(std::lround(r.left())), int(std::lround(r.top()))),
                    QPoint(int(std::lround(r.right())) - 1, int(std::lround(r.bottom())) - 1));
      if (q.isValid()) rects.push_back(q);
    } else {
      rgn += QRegion(FPlayback.mapToPolygon(R.Box(At + 32 + 16 * i).toRect()));
    }
  }
  if (!rects.empty()) {
    QRegion r;
    r.setRects(rects.data(), int(rects.size()));
    rgn += r;
  }
  return rgn;
}

// --- the records -------------------------------------------------------------------------

void TMetafileDC::Play(THandleTable* Table, const TEnhMetaRecord& Record) {
  const TReader R{Record.Data, Record.nSize};
  const uint32_t type = Record.iType;
  switch (type) {
    case EMR_HEADER:
    case EMR_EOF:
    case EMR_GDICOMMENT:
      break;
    // State.
    case EMR_SETMAPMODE: SetMapMode(R.I32(8)); FixIsotropic(); break;
    case EMR_SETWINDOWEXTEX:
    case EMR_SETVIEWPORTEXTEX: {
      const double x = R.I32(8), y = R.I32(12);
      if (S.MapMode != MM_ISOTROPIC && S.MapMode != MM_ANISOTROPIC) break;
      if (x == 0 || y == 0) break;
      if (type == EMR_SETWINDOWEXTEX) {
        S.WinExtX = x;
        S.WinExtY = y;
      } else {
        S.VpExtX = x;
        S.VpExtY = y;
      }
      Changed();
      FixIsotropic();
      break;
    }
    case EMR_SCALEVIEWPORTEXTEX:
    case EMR_SCALEWINDOWEXTEX: {
      R.Need(24);
      const double xn = R.I32(8), xd = R.I32(12), yn = R.I32(16), yd = R.I32(20);
      if (S.MapMode != MM_ISOTROPIC && S.MapMode != MM_ANISOTROPIC) break;
      if (xn == 0 || xd == 0 || yn == 0 || yd == 0) break;
      double& ex = type == EMR_SCALEWINDOWEXTEX ? S.WinExtX : S.VpExtX;
      double& ey = type == EMR_SCALEWINDOWEXTEX ? S.WinExtY : S.VpExtY;
      ex = ex * xn / xd;
      ey = ey * yn / yd;
      Changed();
      FixIsotropic();
      break;
    }
    case EMR_SETWINDOWORGEX: S.WinOrgX = R.I32(8); S.WinOrgY = R.I32(12); Changed(); break;
    case EMR_SETVIEWPORTORGEX: S.VpOrgX = R.I32(8); S.VpOrgY = R.I32(12); Changed(); break;
    case EMR_SETWORLDTRANSFORM:
    case EMR_MODIFYWORLDTRANSFORM: {
      R.Need(32);
      const QTransform x(R.F32(8), R.F32(12), R.F32(16), R.F32(20), R.F32(24), R.F32(28));
      const uint32_t mode = type == EMR_SETWORLDTRANSFORM ? 4 : R.U32(32);
      if (mode == 1) {
        S.World = QTransform();
      } else {
        if (!Finite(x) || x.determinant() == 0) break;
        if (mode == 2) S.World = x * S.World;
        else if (mode == 3) S.World = S.World * x;
        else if (mode == 4) S.World = x;
        else break;
      }
      Changed();
      break;
    }
    case EMR_SAVEDC:
      if (FSaved.size() < 4096) FSaved.push_back(S);
      break;
    case EMR_RESTOREDC: {
      const int32_t n = R.I32(8);
      const int64_t depth = int64_t(FSaved.size());
      const int64_t level = n < 0 ? depth + n : int64_t(n) - 1;  // index of the state to restore
      if (n == 0 || level < 0 || level >= depth) break;
      S = FSaved[size_t(level)];
      FSaved.resize(size_t(level));
      Changed();
      ApplyClip();
      break;
    }
    case EMR_MOVETOEX:
      S.Pos = R.Point(8);
      S.FigureOpen = false;
      break;
    case EMR_SETPOLYFILLMODE: { const int32_t m = R.I32(8); if (m == ALTERNATE || m == WINDING) S.FillMode = m; break; }
    case EMR_SETBKMODE: { const int32_t m = R.I32(8); if (m == TRANSPARENT || m == OPAQUE) S.BkMode = m; break; }
    case EMR_SETBKCOLOR: S.BkColor = R.U32(8) & 0xFFFFFF; break;
    case EMR_SETTEXTCOLOR: S.TextColor = R.U32(8) & 0xFFFFFF; break;
    case EMR_SETTEXTALIGN: S.TextAlign = R.U32(8); break;
    case EMR_SETARCDIRECTION: { const int32_t d = R.I32(8); if (d == AD_COUNTERCLOCKWISE || d == AD_CLOCKWISE) S.ArcDirection = d; break; }
    case EMR_SETMITERLIMIT: {
      // Stored as an integer by the platform; some writers store a float.
      const uint32_t u = R.U32(8);
      double v = u;
      if (u > 0xFFFF) v = R.F32(8);
      if (std::isfinite(v) && v >= 1 && v < 1e6) S.MiterLimit = v;
      break;
    }
    // Objects.
    case EMR_CREATEPEN: CreatePen(Table, R, false); break;
    case EMR_EXTCREATEPEN: CreatePen(Table, R, true); break;
    case EMR_CREATEBRUSHINDIRECT: CreateBrush(Table, R); break;
    case EMR_CREATEMONOBRUSH: CreatePatternBrush(Table, R, true); break;
    case EMR_CREATEDIBPATTERNBRUSHPT: CreatePatternBrush(Table, R, false); break;
    case EMR_EXTCREATEFONTINDIRECTW: CreateFont(Table, R); break;
    case EMR_SELECTOBJECT: {
      if (HGDIOBJ o = Lookup(Table, R.U32(8))) Select(o);
      break;
    }
    case EMR_DELETEOBJECT: {
      const uint32_t i = R.U32(8);
      if (!(i & 0x80000000u)) {
        Lookup(Table, i);  // the index must be in range
        Table->Objects.erase(i);
      }
      break;
    }
    // Lines and shapes.
    case EMR_LINETO: {
      const QPointF to = R.Point(8);
      QPainterPath p(Dev(S.Pos));
      p.lineTo(Dev(to));
      S.Pos = to;
      if (S.InPath) AppendToPath(p, true);
      else if (Sane(p.boundingRect())) Draw(p, p, false, true);
      break;
    }
    case EMR_POLYBEZIER: case EMR_POLYGON: case EMR_POLYLINE: case EMR_POLYBEZIERTO: case EMR_POLYLINETO:
    case EMR_POLYBEZIER16: case EMR_POLYGON16: case EMR_POLYLINE16: case EMR_POLYBEZIERTO16:
    case EMR_POLYLINETO16:
      Poly(R, type);
      break;
    case EMR_POLYPOLYLINE: PolyPoly(R, false, false); break;
    case EMR_POLYPOLYGON: PolyPoly(R, false, true); break;
    case EMR_POLYPOLYLINE16: PolyPoly(R, true, false); break;
    case EMR_POLYPOLYGON16: PolyPoly(R, true, true); break;
    case EMR_RECTANGLE: case EMR_ELLIPSE: R.Need(24); BoxFigure(R, type); break;
    case EMR_ROUNDRECT: R.Need(32); BoxFigure(R, type); break;
    case EMR_ARC: case EMR_ARCTO: case EMR_CHORD: case EMR_PIE: ArcFigure(R, type); break;
    case EMR_ANGLEARC: AngleArc(R); break;
    case EMR_SETPIXELV: {
      R.Need(20);
      const QPointF d = Dev(R.Point(8));
      if (std::abs(d.x()) < cFar && std::abs(d.y()) < cFar)
        FPainter->fillRect(QRectF(std::floor(d.x()), std::floor(d.y()), 1, 1), GdiColor(R.U32(16)));
      break;
    }
    // Paths.
    case EMR_BEGINPATH: case EMR_ENDPATH: case EMR_CLOSEFIGURE: case EMR_FILLPATH: case EMR_STROKEANDFILLPATH:
    case EMR_STROKEPATH: case EMR_FLATTENPATH: case EMR_WIDENPATH: case EMR_SELECTCLIPPATH: case EMR_ABORTPATH:
      PathRecord(type, R);
      break;
    // Clipping.
    case EMR_INTERSECTCLIPRECT:
    case EMR_EXCLUDECLIPRECT: {
      R.Need(24);
      const QRectF box = R.Box(8).normalized();
      QRegion rgn;
      if (AxisAligned()) {
        const QRectF d = Full().mapRect(box);
        if (Sane(d)) {
          const QRect q(QPoint(int(std::lround(d.left())), int(std::lround(d.top()))),
                        QPoint(int(std::lround(d.right())) - 1, int(std::lround(d.bottom())) - 1));
          if (q.isValid()) rgn = QRegion(q);
        }
      } else if (Sane(Full().mapRect(box))) {
        rgn = QRegion(Full().map(QPolygonF(box)).toPolygon());
      }
      CombineClip(rgn, type == EMR_INTERSECTCLIPRECT ? RGN_AND : RGN_DIFF);
      break;
    }
    case EMR_EXTSELECTCLIPRGN: {
      const uint32_t bytes = R.U32(8);
      const int32_t mode = R.I32(12);
      if (bytes == 0) {
        if (mode == RGN_COPY) {
          S.Clip.reset();
          ApplyClip();
        }
        break;
      }
      CombineClip(ReadRegion(R, 16, bytes), mode);
      break;
    }
    case EMR_OFFSETCLIPRGN: {
      if (!S.Clip) break;
      const QPointF v = Dev(R.Point(8)) - Dev(QPointF(0, 0));
      if (std::abs(v.x()) > cFar || std::abs(v.y()) > cFar) break;
      S.Clip->translate(int(std::lround(v.x())), int(std::lround(v.y())));
      ApplyClip();
      break;
    }
    case EMR_SETMETARGN: {
      // The clip region becomes part of the base every later clip is combined with.
      if (S.Clip) FBaseClip = FBaseClip ? FBaseClip->intersected(*S.Clip) : *S.Clip;
      S.Clip.reset();
      ApplyClip();
      break;
    }
    // Text and bitmaps.
    case EMR_EXTTEXTOUTA: Text(R, false); break;
    case EMR_EXTTEXTOUTW: Text(R, true); break;
    case EMR_BITBLT: case EMR_STRETCHBLT: case EMR_STRETCHDIBITS: case EMR_SETDIBITSTODEVICE: case EMR_ALPHABLEND:
      Bitmap(R, type);
      break;
    case EMR_FILLRGN: {
      R.Need(32);
      const uint32_t bytes = R.U32(24);
      const HGDIOBJ brush = Lookup(Table, R.U32(28));
      const QRegion rgn = ReadRegion(R, 32, bytes);
      if (brush && brush->Kind == TGdiKind::Brush) {
        QPainterPath p;
        p.addRegion(rgn);
        FillWithBrush(p, brush.get());
      }
      break;
    }
    default:
      break;  // not drawn
  }
}

}  // namespace platform

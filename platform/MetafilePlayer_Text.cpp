// The metafile player's text and bitmap records, and the pixel work they share: blending by
// coverage (text, as the platform draws text into 32-bit surfaces) and raster operations.
#include <QFontMetricsF>
#include <QString>
#include <algorithm>
#include <cmath>

#include "platform/BmpCodec.h"
#include "platform/FontQt.h"
#include "platform/GraphicsPriv.h"
#include "platform/MetafilePriv.h"
#include "platform/TextCodec.h"

namespace platform {

namespace {

[[noreturn]] void Fail(const char* Msg) { throw EMetafileError(Msg); }

constexpr double cFar = 1e8;

// Raster operations of the bitmap records (the documented ROP codes).
constexpr uint32_t SRCCOPY = 0x00CC0020, SRCPAINT = 0x00EE0086, SRCAND = 0x008800C6, SRCINVERT = 0x00660046,
                   SRCERASE = 0x00440328, NOTSRCCOPY = 0x00330008, DSTINVERT = 0x00550009, PATCOPY = 0x00F00021,
                   BLACKNESS = 0x00000042, WHITENESS = 0x00FF0062;
constexpr uint32_t cAlphaBlend = 0xFFFFFFFF;  // stands for the alpha blend record's own rule

bool NeedsSource(uint32_t Rop) {
  return Rop != DSTINVERT && Rop != PATCOPY && Rop != BLACKNESS && Rop != WHITENESS;
}

uint32_t Combine(uint32_t Rop, uint32_t S, uint32_t D) {
  switch (Rop) {
    case SRCPAINT: return S | D;
    case SRCAND: return S & D;
    case SRCINVERT: return S ^ D;
    case SRCERASE: return S & ~D;
    case NOTSRCCOPY: return ~S;
    case DSTINVERT: return ~D;
    case BLACKNESS: return 0;
    case WHITENESS: return 0xFFFFFF;
    default: return S;  // SRCCOPY, PATCOPY (the layer holds the brush)
  }
}

}  // namespace

// --- pixels ------------------------------------------------------------------------------

QImage* TMetafileDC::Pixels() {
  QPaintDevice* d = FPainter->device();
  if (!d || d->devType() != QInternal::Image || !FPainter->worldTransform().isIdentity()) return nullptr;
  auto* img = static_cast<QImage*>(d);
  const QImage::Format f = img->format();
  if (f != QImage::Format_ARGB32 && f != QImage::Format_RGB32 && f != QImage::Format_ARGB32_Premultiplied)
    return nullptr;
  return img;
}

// The pixels of the device the play may touch within Bounds (device, clip).
static QRect Reach(const QRectF& Bounds, const QImage& Img, const std::optional<QRegion>& Clip) {
  QRect r = Bounds.toAlignedRect() & Img.rect();
  if (Clip) r &= Clip->boundingRect();
  return r;
}

void TMetafileDC::FillCoverage(const QPainterPath& Path, const QColor& Color) {
  if (Path.isEmpty()) return;
  const QRectF b = Path.boundingRect();
  if (!(std::abs(b.left()) < cFar && std::abs(b.right()) < cFar && std::abs(b.top()) < cFar &&
        std::abs(b.bottom()) < cFar))
    return;
  QImage* img = Pixels();
  if (!img) {
    FPainter->setRenderHint(QPainter::Antialiasing, true);
    FPainter->fillPath(Path, Color);
    FPainter->setRenderHint(QPainter::Antialiasing, false);
    return;
  }
  const QRect area = Reach(b.adjusted(-1, -1, 1, 1), *img, FClip);
  if (area.isEmpty()) return;
  QImage mask(area.size(), QImage::Format_Alpha8);
  mask.fill(0);
  {
    QPainter mp(&mask);
    mp.setRenderHint(QPainter::Antialiasing, true);
    mp.translate(-area.x(), -area.y());
    if (FClip) mp.setClipRegion(*FClip);
    mp.fillPath(Path, QColor(0, 0, 0, 255));
  }
  // Coverage blends the colour into the pixels, which count as drawn (opaque to the canvas).
  const uint32_t cr = uint32_t(Color.red()), cg = uint32_t(Color.green()), cb = uint32_t(Color.blue());
  for (int y = 0; y < area.height(); ++y) {
    const uchar* m = mask.constScanLine(y);
    auto* d = reinterpret_cast<uint32_t*>(img->scanLine(area.y() + y)) + area.x();
    for (int x = 0; x < area.width(); ++x) {
      const uint32_t a = m[x];
      if (!a) continue;
      const uint32_t p = d[x];
      const uint32_t r = (((p >> 16) & 0xFF) * (255 - a) + cr * a + 127) / 255;
      const uint32_t g = (((p >> 8) & 0xFF) * (255 - a) + cg * a + 127) / 255;
      const uint32_t bl = ((p & 0xFF) * (255 - a) + cb * a + 127) / 255;
      d[x] = 0xFF000000u | (r << 16) | (g << 8) | bl;
    }
  }
}

void TMetafileDC::CombineLayer(const QImage& Layer, const QPoint& Origin, uint32_t Rop, int32_t ConstAlpha,
                               bool SrcAlpha) {
  QImage* img = Pixels();
  // A bitmap of another format (24 bits): its pixels under the layer are combined as 32-bit ones
  // and put back.
  QImage part;
  QPoint at;  // where img's first pixel is on the device
  if (!img) {
    QPaintDevice* dev = FPainter->device();
    if (dev && dev->devType() == QInternal::Image && FPainter->worldTransform().isIdentity()) {
      auto* other = static_cast<QImage*>(dev);
      const QRect r = QRect(Origin, Layer.size()) & other->rect();
      if (r.isEmpty()) return;
      part = other->copy(r).convertToFormat(QImage::Format_RGB32);
      at = r.topLeft();
      img = &part;
    }
  }
  if (!img) {
    // Other devices (a printer): the layer is painted over, its colours premultiplied by the
    // alpha they are blended with; only copying and blending keep their meaning.
    if (Rop == SRCCOPY || Rop == PATCOPY || Rop == NOTSRCCOPY || Rop == cAlphaBlend) {
      QImage l = Layer.convertToFormat(QImage::Format_ARGB32);
      const uint32_t ca = Rop == cAlphaBlend ? uint32_t(ConstAlpha) : 255;
      for (int y = 0; y < l.height(); ++y) {
        auto* p = reinterpret_cast<uint32_t*>(l.scanLine(y));
        for (int x = 0; x < l.width(); ++x) {
          if (!(p[x] >> 24)) continue;
          const uint32_t c = Rop == NOTSRCCOPY ? ~p[x] : p[x];
          const uint32_t a = Rop == cAlphaBlend && SrcAlpha ? ((p[x] >> 24) * ca + 127) / 255 : ca;
          uint32_t out = a << 24;
          for (int sh = 0; sh <= 16; sh += 8)
            out |= std::min((((c >> sh) & 0xFF) * ca + 127) / 255, a) << sh;
          p[x] = out;
        }
      }
      l.reinterpretAsFormat(QImage::Format_ARGB32_Premultiplied);
      FPainter->drawImage(Origin, l);
    }
    return;
  }
  const QRect area = QRect(Origin, Layer.size()) & img->rect().translated(at);
  const bool anyClip = FClip.has_value();
  const bool simpleClip = !anyClip || FClip->rectCount() <= 1;
  const QRect clipBox = anyClip ? FClip->boundingRect() : img->rect().translated(at);
  for (int y = area.top(); y <= area.bottom(); ++y) {
    const auto* s = reinterpret_cast<const uint32_t*>(Layer.constScanLine(y - Origin.y()));
    auto* d = reinterpret_cast<uint32_t*>(img->scanLine(y - at.y()));
    for (int x = area.left(); x <= area.right(); ++x) {
      // The layer's alpha byte marks what the source covers; its colour bytes are the source.
      const uint32_t sp = s[x - Origin.x()];
      if (!(sp >> 24)) continue;
      if (!clipBox.contains(x, y) || (!simpleClip && !FClip->contains(QPoint(x, y)))) continue;
      const uint32_t dp = d[x - at.x()];
      uint32_t out;
      if (Rop == cAlphaBlend) {
        // Source alpha (premultiplied colours) or the constant alpha alone.
        const uint32_t ca = uint32_t(ConstAlpha);
        const uint32_t srcA = sp >> 24;
        out = 0;
        for (int sh = 0; sh <= 16; sh += 8) {
          const uint32_t sc = (sp >> sh) & 0xFF, dc = (dp >> sh) & 0xFF;
          uint32_t v;
          if (SrcAlpha) {
            const uint32_t a = (srcA * ca + 127) / 255;
            v = (sc * ca + 127) / 255 + (dc * (255 - a) + 127) / 255;
          } else {
            v = (sc * ca + dc * (255 - ca) + 127) / 255;
          }
          out |= std::min<uint32_t>(v, 255) << sh;
        }
      } else {
        out = Combine(Rop, sp, dp) & 0xFFFFFF;
      }
      d[x - at.x()] = 0xFF000000u | out;
    }
  }
  if (!part.isNull()) {
    FPainter->setCompositionMode(QPainter::CompositionMode_Source);
    FPainter->drawImage(at, part);
    FPainter->setCompositionMode(QPainter::CompositionMode_SourceOver);
  }
}

// --- text --------------------------------------------------------------------------------

void TMetafileDC::Text(const TReader& R, bool Wide) {
  R.Need(76);
  const int32_t graphicsMode = R.I32(24);
  QPointF ref = R.Point(36);
  const uint32_t n = R.U32(44), offString = R.U32(48), options = R.U32(52);
  const QRectF rcl = R.Box(56).normalized();
  const uint32_t offDx = R.U32(72);
  const uint64_t bytes = uint64_t(n) * (Wide ? 2 : 1);
  if (n > 0 && (offString < 76 || uint64_t(offString) + bytes > R.Size)) Fail("Metafile text exceeds its record");
  const bool pdy = (options & ETO_PDY) != 0;
  std::vector<double> dx, dy;  // with ETO_PDY the array holds pairs: across and up
  if (offDx != 0 && n > 0) {
    const uint64_t entries = uint64_t(n) * (pdy ? 2 : 1);
    if (offDx < 76 || uint64_t(offDx) + entries * 4 > R.Size) Fail("Metafile text exceeds its record");
    dx.reserve(n);
    for (uint32_t i = 0; i < n; ++i) dx.push_back(R.I32(offDx + 4 * uint32_t(i * (pdy ? 2 : 1))));
    if (pdy)
      for (uint32_t i = 0; i < n; ++i) dy.push_back(R.I32(offDx + 8 * i + 4));
  }
  const QTransform& full = Full();
  if ((options & ETO_OPAQUE) && !rcl.isEmpty()) {
    QPainterPath p;
    p.addPolygon(full.map(QPolygonF(rcl)));
    p.closeSubpath();
    if (std::abs(p.boundingRect().left()) < cFar && std::abs(p.boundingRect().right()) < cFar &&
        std::abs(p.boundingRect().top()) < cFar && std::abs(p.boundingRect().bottom()) < cFar)
      FPainter->fillPath(p, GdiColor(S.BkColor));
  }
  if (n == 0 || (options & ETO_GLYPH_INDEX)) return;  // glyph indices name no characters to draw
  QString text;
  if (Wide) {
    std::u16string u(n, u'\0');
    std::memcpy(u.data(), R.P + offString, size_t(n) * 2);
    text = QString::fromUtf16(u.data(), qsizetype(n));
  } else {
    text = QString::fromStdString(Cp1252ToUtf8(std::string_view(reinterpret_cast<const char*>(R.P + offString), n)));
  }
  const TGdiObject* font = S.Font.get();
  if (!font) return;
  if (!font->Drawn) {
    TFont tf;
    tf.SetName(font->Face.empty() ? std::string("Arial") : font->Face);
    tf.SetHeight(font->Height > 0 ? cFontPixels : -cFontPixels);
    TFontStyles st;
    if (font->Weight >= 600) st.Include(fsBold);
    if (font->Italic) st.Include(fsItalic);
    if (font->Underline) st.Include(fsUnderline);
    if (font->StrikeOut) st.Include(fsStrikeOut);
    tf.SetStyle(st);
    QFont f = MakeQFont(tf);
    f.setHintingPreference(QFont::PreferNoHinting);
    font->Drawn = f;
  }
  const QFont& qf = *font->Drawn;
  const QFontMetricsF fm(qf);
  // Glyphs are drawn at cFontPixels and scaled: font pixels per logical unit of height.
  const double height = font->Height == 0 ? 12 : std::abs(double(font->Height));
  const double k = height / cFontPixels;  // logical units per font pixel
  // Advances: the spacing array (logical units) or the font's own.
  std::vector<double> at(size_t(text.size()) + 1, 0.0), up(size_t(text.size()) + 1, 0.0);
  if (!dx.empty() && size_t(text.size()) == dx.size()) {
    for (qsizetype i = 0; i < text.size(); ++i) at[size_t(i) + 1] = at[size_t(i)] + dx[size_t(i)] / k;
    if (!dy.empty())
      for (qsizetype i = 0; i < text.size(); ++i) up[size_t(i) + 1] = up[size_t(i)] + dy[size_t(i)] / k;
  } else {
    for (qsizetype i = 0; i < text.size(); ++i)
      at[size_t(i) + 1] = at[size_t(i)] + fm.horizontalAdvance(text.at(i));
  }
  const double width = at.back();
  const bool updateCp = (S.TextAlign & TA_UPDATECP) != 0;
  if (updateCp) ref = S.Pos;
  double ox = 0, oy = 0;
  switch (S.TextAlign & TA_HMASK) {
    case TA_RIGHT: ox = -width; break;
    case TA_CENTER: ox = -width / 2; break;
    default: break;
  }
  switch (S.TextAlign & TA_VMASK) {
    case TA_BASELINE: break;
    case TA_BOTTOM: oy = -fm.descent(); break;
    default: oy = fm.ascent(); break;
  }
  // Font pixels to the canvas: turned by the escapement, upright on the device unless the
  // device context draws in the advanced mode, where the world transformation applies in full.
  const double esc = font->Escapement / 10.0;
  QTransform toCanvas;
  double stretch = 1;  // glyph positions only: the spacing array in device units
  if (graphicsMode == 2) {
    QTransform local;
    local.translate(ref.x(), ref.y());
    local.rotate(-esc);
    local.scale(k, k);
    toCanvas = local * full;
  } else {
    // Heights scale with the vertical unit; with a spacing array, advances with the horizontal.
    const QPointF o = full.map(QPointF(0, 0));
    const double vy = QLineF(o, full.map(QPointF(0, 1))).length();
    const double vx = QLineF(o, full.map(QPointF(1, 0))).length();
    const QPointF p = full.map(ref);
    toCanvas.translate(p.x(), p.y());
    toCanvas.rotate(-esc);
    toCanvas.scale(k * vy, k * vy);
    if (!dx.empty() && vy > 0) stretch = vx / vy;
  }
  if (!std::isfinite(toCanvas.m11()) || !std::isfinite(toCanvas.m12()) || !std::isfinite(toCanvas.dx()) ||
      !std::isfinite(toCanvas.dy()) || !std::isfinite(stretch))
    return;
  QPainterPath glyphs;
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text.at(i);
    if (c.isSpace() || c.isLowSurrogate()) continue;
    QString g(c);
    if (c.isHighSurrogate() && i + 1 < text.size()) g += text.at(i + 1);
    glyphs.addText(QPointF((at[size_t(i)] + ox) * stretch, oy - up[size_t(i)]), qf, g);
  }
  const double left = ox * stretch, advance = width * stretch;
  const double line = std::max(1.0, fm.lineWidth());
  if (font->Underline) glyphs.addRect(QRectF(left, oy + fm.underlinePos(), advance, line));
  if (font->StrikeOut) glyphs.addRect(QRectF(left, oy - fm.strikeOutPos() - line / 2, advance, line));
  auto onDevice = [](const QRectF& B) {
    return std::abs(B.left()) < cFar && std::abs(B.right()) < cFar && std::abs(B.top()) < cFar &&
           std::abs(B.bottom()) < cFar;
  };
  // The rectangle clips the character cells too.
  const std::optional<QRegion> saved = FClip;
  if ((options & ETO_CLIPPED) && !rcl.isEmpty()) {
    const QRectF d = full.mapRect(rcl);
    if (onDevice(d)) {
      const QRegion r(d.toAlignedRect());
      FClip = FClip ? FClip->intersected(r) : r;
      FPainter->setClipRegion(*FClip);
    }
  }
  if (S.BkMode == OPAQUE) {
    // The character cells take the background colour.
    QPainterPath cell;
    cell.addRect(QRectF(left, oy - fm.ascent(), advance, fm.ascent() + fm.descent()));
    const QPainterPath c = toCanvas.map(cell);
    if (onDevice(c.boundingRect())) FPainter->fillPath(c, GdiColor(S.BkColor));
  }
  const QPainterPath ink = toCanvas.map(glyphs);
  if (onDevice(ink.boundingRect())) FillCoverage(ink, GdiColor(S.TextColor));
  if (FClip != saved) ApplyClip();
  if (updateCp) {
    // The current position moves on by the text's advance.
    const QTransform inv = full.inverted();
    S.Pos += inv.map(toCanvas.map(QPointF(advance, -up.back()))) - inv.map(toCanvas.map(QPointF(0, 0)));
  }
}

// --- bitmaps -----------------------------------------------------------------------------

// A device-independent bitmap of a record (header and bits at their offsets) as 32-bit pixels;
// a null image when the record holds none or one this player does not read.
QImage TMetafileDC::ReadDib(const TReader& R, uint32_t OffBmi, uint32_t CbBmi, uint32_t OffBits, uint32_t CbBits,
                            uint32_t Usage, bool KeepAlpha, int32_t Scans) {
  if (CbBmi == 0) return QImage();
  if (uint64_t(OffBmi) + CbBmi > R.Size || uint64_t(OffBits) + CbBits > R.Size || CbBmi < 12)
    Fail("Metafile bitmap exceeds its record");
  if (Usage != 0) return QImage();  // colours as palette indices: no palette to take them from
  // A BMP file around the record's bitmap, for the platform's checked reader.
  std::vector<uint8_t> file(14 + size_t(CbBmi) + CbBits);
  const uint32_t size = uint32_t(file.size()), off = 14 + CbBmi;
  file[0] = 'B';
  file[1] = 'M';
  std::memcpy(file.data() + 2, &size, 4);
  std::memcpy(file.data() + 10, &off, 4);
  std::memcpy(file.data() + 14, R.P + OffBmi, CbBmi);
  if (CbBits) std::memcpy(file.data() + off, R.P + OffBits, CbBits);
  if (Scans > 0 && CbBmi >= 40) {
    // The bits hold only Scans rows of the bitmap.
    int32_t h;
    std::memcpy(&h, file.data() + 14 + 8, 4);
    if (int64_t(Scans) < std::abs(int64_t(h))) {
      h = h < 0 ? -Scans : Scans;
      std::memcpy(file.data() + 14 + 8, &h, 4);
    }
  }
  TBmpLimits limits;
  limits.MaxPixels = int64_t(1) << 26;
  TBmpImage bmp;
  try {
    bmp = DecodeBmp(file.data(), file.size(), limits);
  } catch (const EBmpError&) {
    Fail("Metafile bitmap is damaged");
  }
  if (bmp.Width <= 0 || bmp.Height <= 0) return QImage();
  QImage img(bmp.Width, bmp.Height, QImage::Format_ARGB32);
  for (int y = 0; y < bmp.Height; ++y) {
    auto* line = reinterpret_cast<uint32_t*>(img.scanLine(y));
    const uint32_t* src = bmp.Pixels.data() + size_t(y) * size_t(bmp.Width);
    for (int x = 0; x < bmp.Width; ++x) line[x] = KeepAlpha && bmp.HasAlpha ? src[x] : (src[x] | 0xFF000000u);
  }
  return img;
}

void TMetafileDC::CreatePatternBrush(THandleTable* Table, const TReader& R, bool Mono) {
  HGDIOBJ& slot = Slot(Table, R.U32(8));
  R.Need(32);
  auto o = std::make_shared<TGdiObject>();
  o->Kind = TGdiKind::Brush;
  o->BrushStyle = BS_DIBPATTERNPT;
  const uint32_t usage = R.U32(12);
  QImage img = ReadDib(R, R.U32(16), R.U32(20), R.U32(24), R.U32(28), Mono ? 0 : usage, false);
  if (!img.isNull()) {
    if (Mono) {
      // Bits of 0 take the text colour and bits of 1 the background colour where it is drawn.
      QImage m(img.size(), QImage::Format_Indexed8);
      m.setColorCount(2);
      for (int y = 0; y < img.height(); ++y) {
        const auto* s = reinterpret_cast<const uint32_t*>(img.constScanLine(y));
        uchar* d = m.scanLine(y);
        for (int x = 0; x < img.width(); ++x) d[x] = (s[x] & 0xFFFFFF) ? 1 : 0;
      }
      o->Pattern = m;
      o->MonoPattern = true;
    } else {
      o->Pattern = img;
    }
  }
  slot = o;
}

void TMetafileDC::Bitmap(const TReader& R, uint32_t Type) {
  // Destination (logical), source rectangle (bitmap pixels, from the top-left unless the
  // record counts from the bottom), raster operation and the bitmap.
  double xd, yd, cxd, cyd;
  int32_t xs, ys, cxs, cys;
  uint32_t rop, usage, offBmi, cbBmi, offBits, cbBits;
  int32_t constAlpha = 255;
  bool srcAlpha = false;
  bool fromBottom = false;
  uint32_t startScan = 0, scans = 0;  // the rows the bits hold (SETDIBITSTODEVICE)
  switch (Type) {
    case EMR_STRETCHDIBITS:
      R.Need(80);
      xd = R.I32(24), yd = R.I32(28), xs = R.I32(32), ys = R.I32(36), cxs = R.I32(40), cys = R.I32(44);
      offBmi = R.U32(48), cbBmi = R.U32(52), offBits = R.U32(56), cbBits = R.U32(60), usage = R.U32(64);
      rop = R.U32(68), cxd = R.I32(72), cyd = R.I32(76);
      fromBottom = true;
      break;
    case EMR_SETDIBITSTODEVICE:
      R.Need(76);
      xd = R.I32(24), yd = R.I32(28), xs = R.I32(32), ys = R.I32(36), cxs = R.I32(40), cys = R.I32(44);
      offBmi = R.U32(48), cbBmi = R.U32(52), offBits = R.U32(56), cbBits = R.U32(60), usage = R.U32(64);
      startScan = R.U32(68), scans = R.U32(72);
      rop = SRCCOPY, cxd = cxs, cyd = cys;
      fromBottom = true;
      break;
    default: {  // BITBLT, STRETCHBLT, ALPHABLEND
      R.Need(Type == EMR_BITBLT ? 100 : 108);
      xd = R.I32(24), yd = R.I32(28), cxd = R.I32(32), cyd = R.I32(36), rop = R.U32(40);
      xs = R.I32(44), ys = R.I32(48);
      usage = R.U32(80), offBmi = R.U32(84), cbBmi = R.U32(88), offBits = R.U32(92), cbBits = R.U32(96);
      cxs = Type == EMR_BITBLT ? int32_t(cxd) : R.I32(100);
      cys = Type == EMR_BITBLT ? int32_t(cyd) : R.I32(104);
      if (Type == EMR_ALPHABLEND) {
        constAlpha = int32_t((rop >> 16) & 0xFF);
        srcAlpha = ((rop >> 24) & 0xFF) == 1;
        rop = cAlphaBlend;
      }
      break;
    }
  }
  if (cxd == 0 || cyd == 0) return;
  QImage src;
  if (rop == cAlphaBlend || NeedsSource(rop)) {
    if (scans > uint32_t(1) << 24) return;
    src = ReadDib(R, offBmi, cbBmi, offBits, cbBits, usage, rop == cAlphaBlend, int32_t(scans));
    if (src.isNull()) return;
    // Stretching records mirror by a negative source extent as by a negative destination one.
    const bool stretch = Type == EMR_STRETCHBLT || Type == EMR_STRETCHDIBITS;
    if (cxs == 0 || cys == 0 || (!stretch && (cxs < 0 || cys < 0))) return;
    // Bottom-up bitmaps (a positive height) count these records' source rows from the bottom;
    // bits of part of the rows start at scan line startScan.
    const bool topDown = cbBmi >= 40 && R.I32(offBmi + 8) < 0;
    const bool part = scans > 0 && int64_t(scans) == src.height();
    if (fromBottom && !topDown) ys = int32_t((part ? int64_t(startScan) + scans : src.height()) - ys - cys);
    else if (part) ys = int32_t(int64_t(ys) - startScan);
  }
  // Source pixels to the canvas.
  const QRectF dest(xd, yd, cxd, cyd);
  QTransform srcToLogical;
  if (!src.isNull()) {
    srcToLogical = QTransform(cxd / cxs, 0, 0, cyd / cys, xd - xs * (cxd / cxs), yd - ys * (cyd / cys));
  }
  const QTransform& full = Full();
  const QRectF devBox = full.mapRect(dest.normalized());
  if (!(std::abs(devBox.left()) < cFar && std::abs(devBox.right()) < cFar && std::abs(devBox.top()) < cFar &&
        std::abs(devBox.bottom()) < cFar))
    return;
  QRect area = devBox.toAlignedRect();
  if (QImage* img = Pixels()) area &= img->rect();
  else area &= QRect(0, 0, FPainter->device()->width(), FPainter->device()->height());
  if (FClip) area &= FClip->boundingRect();
  if (area.isEmpty()) return;
  // The layer: what each covered canvas pixel receives (nearest source pixel, or the brush).
  QImage layer(area.size(), QImage::Format_ARGB32);
  layer.fill(0);
  const QTransform toLogical = full.inverted();
  const QTransform toSrc = src.isNull() ? QTransform() : srcToLogical.inverted();
  uint32_t fill = 0;
  if (rop == PATCOPY) {
    const TGdiObject* b = S.Brush.get();
    if (!b || b->BrushStyle == BS_NULL) return;
    fill = b->Color & 0xFFFFFF;
    fill = ((fill & 0xFF) << 16) | (fill & 0xFF00) | ((fill >> 16) & 0xFF);
  }
  const QRectF d = dest.normalized();
  // The source pixels the bitmap has, from the named corner towards the extent's sign.
  QRect srcRect;
  if (!src.isNull()) {
    const int64_t x0 = xs, x1 = int64_t(xs) + cxs, y0 = ys, y1 = int64_t(ys) + cys;
    const int64_t l = std::max<int64_t>(0, std::min(x0, x1)), r = std::min<int64_t>(src.width(), std::max(x0, x1));
    const int64_t t = std::max<int64_t>(0, std::min(y0, y1)), b = std::min<int64_t>(src.height(), std::max(y0, y1));
    if (r <= l || b <= t) return;
    srcRect = QRect(int(l), int(t), int(r - l), int(b - t));
  }
  for (int y = 0; y < area.height(); ++y) {
    auto* line = reinterpret_cast<uint32_t*>(layer.scanLine(y));
    for (int x = 0; x < area.width(); ++x) {
      const QPointF l = toLogical.map(QPointF(area.x() + x + 0.5, area.y() + y + 0.5));
      if (l.x() < d.left() || l.x() >= d.right() || l.y() < d.top() || l.y() >= d.bottom()) continue;
      if (src.isNull()) {
        line[x] = 0xFF000000u | fill;
        continue;
      }
      const QPointF sp = toSrc.map(l);
      const int sx = int(std::floor(sp.x())), sy = int(std::floor(sp.y()));
      if (!srcRect.contains(sx, sy)) continue;
      uint32_t v = reinterpret_cast<const uint32_t*>(src.constScanLine(sy))[sx];
      if (rop == cAlphaBlend && srcAlpha) {
        // The alpha byte also marks coverage. A transparent pixel without colour leaves the
        // destination alone; one with colour (which adds it) is marked by a source alpha of 1.
        line[x] = v >> 24 ? v : (v & 0xFFFFFF ? v | 0x01000000u : 0);
        continue;
      }
      line[x] = v | 0xFF000000u;
    }
  }
  CombineLayer(layer, area.topLeft(), rop, constAlpha, srcAlpha);
}

}  // namespace platform

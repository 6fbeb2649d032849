// Internals of the metafile player shared by Metafile.cpp and the MetafilePlayer*.cpp files:
// GDI objects, the device context's state and the player itself.
#pragma once

#include <QBrush>
#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QRegion>
#include <QTransform>
#include <cstring>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/Metafile.h"

namespace platform {

// Mapping modes, background modes, fill modes and other GDI values the records carry.
enum : int32_t {
  MM_TEXT = 1, MM_LOMETRIC = 2, MM_HIMETRIC = 3, MM_LOENGLISH = 4, MM_HIENGLISH = 5, MM_TWIPS = 6,
  MM_ISOTROPIC = 7, MM_ANISOTROPIC = 8,
};
enum : int32_t { ALTERNATE = 1, WINDING = 2 };
enum : int32_t { AD_COUNTERCLOCKWISE = 1, AD_CLOCKWISE = 2 };
enum : int32_t { RGN_AND = 1, RGN_OR = 2, RGN_XOR = 3, RGN_DIFF = 4, RGN_COPY = 5 };
enum : uint32_t {
  PS_SOLID = 0, PS_DASH = 1, PS_DOT = 2, PS_DASHDOT = 3, PS_DASHDOTDOT = 4, PS_NULL = 5, PS_INSIDEFRAME = 6,
  PS_USERSTYLE = 7, PS_ALTERNATE = 8, PS_STYLE_MASK = 0xF, PS_ENDCAP_ROUND = 0, PS_ENDCAP_SQUARE = 0x100,
  PS_ENDCAP_FLAT = 0x200, PS_ENDCAP_MASK = 0xF00, PS_JOIN_ROUND = 0, PS_JOIN_BEVEL = 0x1000,
  PS_JOIN_MITER = 0x2000, PS_JOIN_MASK = 0xF000, PS_GEOMETRIC = 0x10000,
};
enum : uint32_t {
  BS_SOLID = 0, BS_NULL = 1, BS_HATCHED = 2, BS_PATTERN = 3, BS_DIBPATTERN = 5, BS_DIBPATTERNPT = 6,
};
enum : uint32_t {
  TA_UPDATECP = 1, TA_RIGHT = 2, TA_CENTER = 6, TA_BOTTOM = 8, TA_BASELINE = 24, TA_HMASK = 6, TA_VMASK = 24,
};
enum : uint32_t { ETO_OPAQUE = 2, ETO_CLIPPED = 4, ETO_GLYPH_INDEX = 0x10, ETO_PDY = 0x2000 };

enum class TGdiKind : uint8_t { Pen, Brush, Font };

class TGdiObject {
 public:
  TGdiKind Kind = TGdiKind::Pen;
  // Pen: style bits (PS_), width in logical units, cosmetic (one device pixel), user dashes in
  // logical units.
  uint32_t PenStyle = PS_SOLID;
  double PenWidth = 0;
  bool Cosmetic = true;
  std::vector<double> Dashes;
  // Pen and brush colour, 0x00BBGGRR.
  uint32_t Color = 0;
  // Brush: style (BS_), hatch index, pattern; a monochrome pattern takes the text and
  // background colours where it is drawn.
  uint32_t BrushStyle = BS_SOLID;
  uint32_t Hatch = 0;
  QImage Pattern;
  bool MonoPattern = false;
  // Font: the logical font.
  int32_t Height = 0, Width = 0, Escapement = 0, Orientation = 0, Weight = 400;
  bool Italic = false, Underline = false, StrikeOut = false;
  uint8_t Charset = 0;
  std::string Face;
  // The font drawn at cFontPixels pixels (made on first use).
  mutable std::optional<QFont> Drawn;
};

inline QColor GdiColor(uint32_t c) { return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF)); }

// Glyph outlines are taken at this size and scaled to the text's size.
constexpr int32_t cFontPixels = 256;

// Entry 0 stands for the picture itself; only created entries take memory.
struct THandleTable {
  std::unordered_map<uint32_t, HGDIOBJ> Objects;
};

struct TDCState {
  int32_t MapMode = MM_TEXT;
  double WinOrgX = 0, WinOrgY = 0, WinExtX = 1, WinExtY = 1;
  double VpOrgX = 0, VpOrgY = 0, VpExtX = 1, VpExtY = 1;
  QTransform World;
  QPointF Pos;  // current position, logical units
  int32_t FillMode = ALTERNATE;
  int32_t BkMode = OPAQUE;
  uint32_t BkColor = 0xFFFFFF;
  uint32_t TextColor = 0;
  uint32_t TextAlign = 0;
  double MiterLimit = 10;
  int32_t ArcDirection = AD_COUNTERCLOCKWISE;
  HGDIOBJ Pen, Brush, Font;
  std::optional<QRegion> Clip;  // canvas pixels; none: unclipped
  // The path, in canvas units.
  QPainterPath Path;
  bool InPath = false;
  bool FigureOpen = false;
};

class TMetafileDC {
 public:
  TMetafileDC(TCanvas* Canvas, QPainter* Painter, const TMetafile& Metafile, const TMetafileTarget& Target);
  ~TMetafileDC();
  HGDIOBJ Select(const HGDIOBJ& Object);
  void Play(THandleTable* Table, const TEnhMetaRecord& Record);

 private:
  // Record access: every read is checked against the record's size.
  struct TReader {
    const uint8_t* P;
    uint32_t Size;
    void Need(uint64_t End) const;
    uint32_t U32(uint32_t At) const {
      Need(uint64_t(At) + 4);
      uint32_t v;
      std::memcpy(&v, P + At, 4);
      return v;
    }
    int32_t I32(uint32_t At) const { return int32_t(U32(At)); }
    int16_t I16(uint32_t At) const {
      Need(uint64_t(At) + 2);
      int16_t v;
      std::memcpy(&v, P + At, 2);
      return v;
    }
    float F32(uint32_t At) const {
      const uint32_t u = U32(At);
      float f;
      std::memcpy(&f, &u, 4);
      return f;
    }
    QPointF Point(uint32_t At) const { return QPointF(I32(At), I32(At + 4)); }
    QRectF Box(uint32_t At) const;  // an inclusive-exclusive box from four integers
  };

  // Transformations.
  const QTransform& Full();
  void Changed() { FFullValid = false; }
  void SetMapMode(int32_t Mode);
  void FixIsotropic();
  QPointF Dev(const QPointF& P) { return Full().map(P); }
  double DevScale();  // length of one logical unit on the canvas (mean of both axes)
  bool AxisAligned();

  // Objects.
  HGDIOBJ& Slot(THandleTable* Table, uint32_t Index);  // for a new object
  HGDIOBJ Lookup(THandleTable* Table, uint32_t Index);  // nullptr for an empty entry
  HGDIOBJ Stock(uint32_t Index);
  void CreatePen(THandleTable* Table, const TReader& R, bool Extended);
  void CreateBrush(THandleTable* Table, const TReader& R);
  void CreatePatternBrush(THandleTable* Table, const TReader& R, bool Mono);
  void CreateFont(THandleTable* Table, const TReader& R);

  // Drawing.
  std::vector<QPointF> ReadPoints(const TReader& R, uint32_t PointsAt, bool Short, uint32_t Count);
  void Poly(const TReader& R, uint32_t Type);
  void PolyPoly(const TReader& R, bool Short, bool Closed);
  void BoxFigure(const TReader& R, uint32_t Type);
  void ArcFigure(const TReader& R, uint32_t Type);
  void AngleArc(const TReader& R);
  void Draw(const QPainterPath& Fill, const QPainterPath& Stroke, bool DoFill, bool DoStroke);
  void FillWithBrush(const QPainterPath& Path, const TGdiObject* Brush);
  void StrokeWithPen(const QPainterPath& Path, const TGdiObject* Pen);
  QPen MakePen(const TGdiObject& Pen);
  void AppendToPath(const QPainterPath& DevicePath, bool Connect);
  void PathRecord(uint32_t Type, const TReader& R);
  void ApplyClip();
  QRect DeviceArea();  // the device in the painter's coordinates
  void CombineClip(const QRegion& Region, int32_t Mode);
  QRegion ReadRegion(const TReader& R, uint32_t At, uint32_t Bytes);
  void Text(const TReader& R, bool Wide);
  void Bitmap(const TReader& R, uint32_t Type);
  // Scans (when not 0) is the number of rows the bits hold.
  QImage ReadDib(const TReader& R, uint32_t OffBmi, uint32_t CbBmi, uint32_t OffBits, uint32_t CbBits,
                 uint32_t Usage, bool KeepAlpha, int32_t Scans = 0);
  // Pixels of the canvas for blending by coverage (nullptr when the device is not a plain
  // 32-bit image painted without a transformation).
  QImage* Pixels();
  // Blends Color into the canvas by the coverage of Path (antialiased), marking the pixels drawn.
  void FillCoverage(const QPainterPath& Path, const QColor& Color);
  // Combines Layer (canvas pixels from Origin; alpha marks what it covers) by a raster operation.
  void CombineLayer(const QImage& Layer, const QPoint& Origin, uint32_t Rop, int32_t ConstAlpha, bool SrcAlpha);

  TCanvas* FCanvas;
  QPainter* FPainter;
  const TMetafile& FMetafile;
  QTransform FPlayback;  // the picture's device pixels to the canvas
  double FPxPerMmX = 1, FPxPerMmY = 1;  // reference device
  std::optional<QRegion> FBaseClip;  // the canvas's clip when the play began (and the meta region)
  std::optional<QRegion> FClip;      // in force: the base and the device context's clip
  TDCState S;
  std::vector<TDCState> FSaved;
  QTransform FFull;
  bool FFullValid = false;
  HGDIOBJ FStock[20];
};

}  // namespace platform

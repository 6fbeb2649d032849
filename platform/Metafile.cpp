// The metafile picture: loading and checking its structure, the GDI objects of pens and
// brushes, and the enumeration that plays a picture record by record.
#include "platform/Metafile.h"

#include <algorithm>
#include <cmath>

#include "platform/GraphicsPriv.h"
#include "platform/MetafilePriv.h"

namespace platform {

namespace {

constexpr uint32_t cEmfSignature = 0x464D4520;  // " EMF"
constexpr uint32_t cHeaderSize = 88;
constexpr int64_t cMaxExtent = int64_t(1) << 24;
constexpr int64_t cMaxFileSize = int64_t(1) << 30;

uint32_t U32(const uint8_t* P) {
  uint32_t v;
  std::memcpy(&v, P, 4);
  return v;
}
int32_t I32(const uint8_t* P) { return int32_t(U32(P)); }

[[noreturn]] void Fail(const std::string& Msg) { throw EMetafileError(Msg); }

// The fixed part of each record the player reads; a shorter record is damaged.
uint32_t MinSize(uint32_t Type) {
  switch (Type) {
    case EMR_POLYBEZIER: case EMR_POLYGON: case EMR_POLYLINE: case EMR_POLYBEZIERTO: case EMR_POLYLINETO:
    case EMR_POLYBEZIER16: case EMR_POLYGON16: case EMR_POLYLINE16: case EMR_POLYBEZIERTO16:
    case EMR_POLYLINETO16:
      return 28;
    case EMR_POLYPOLYLINE: case EMR_POLYPOLYGON: case EMR_POLYPOLYLINE16: case EMR_POLYPOLYGON16:
    case EMR_ROUNDRECT: case EMR_SETWORLDTRANSFORM: case EMR_CREATEMONOBRUSH: case EMR_CREATEDIBPATTERNBRUSHPT:
    case EMR_FILLRGN:
      return 32;
    case EMR_SETWINDOWEXTEX: case EMR_SETWINDOWORGEX: case EMR_SETVIEWPORTEXTEX: case EMR_SETVIEWPORTORGEX:
    case EMR_SETBRUSHORGEX: case EMR_OFFSETCLIPRGN: case EMR_MOVETOEX: case EMR_LINETO: case EMR_EXTSELECTCLIPRGN:
      return 16;
    case EMR_EOF: case EMR_SETPIXELV: return 20;
    case EMR_SETMAPMODE: case EMR_SETBKMODE: case EMR_SETPOLYFILLMODE: case EMR_SETROP2:
    case EMR_SETSTRETCHBLTMODE: case EMR_SETTEXTALIGN: case EMR_SETTEXTCOLOR: case EMR_SETBKCOLOR:
    case EMR_RESTOREDC: case EMR_SELECTOBJECT: case EMR_DELETEOBJECT: case EMR_SETARCDIRECTION:
    case EMR_SETMITERLIMIT: case EMR_SELECTCLIPPATH:
      return 12;
    case EMR_EXCLUDECLIPRECT: case EMR_INTERSECTCLIPRECT: case EMR_SCALEVIEWPORTEXTEX: case EMR_SCALEWINDOWEXTEX:
    case EMR_CREATEBRUSHINDIRECT: case EMR_ELLIPSE: case EMR_RECTANGLE: case EMR_FILLPATH:
    case EMR_STROKEANDFILLPATH: case EMR_STROKEPATH:
      return 24;
    case EMR_MODIFYWORLDTRANSFORM: return 36;
    case EMR_CREATEPEN: case EMR_ANGLEARC: return 28;
    case EMR_ARC: case EMR_CHORD: case EMR_PIE: case EMR_ARCTO: return 40;
    case EMR_BITBLT: return 100;
    case EMR_STRETCHBLT: case EMR_ALPHABLEND: return 108;
    case EMR_SETDIBITSTODEVICE: case EMR_EXTTEXTOUTA: case EMR_EXTTEXTOUTW: return 76;
    case EMR_STRETCHDIBITS: return 80;
    case EMR_EXTCREATEFONTINDIRECTW: return 104;
    case EMR_EXTCREATEPEN: return 52;
    default: return 8;
  }
}

}  // namespace

TMetafile::TMetafile() = default;
TMetafile::~TMetafile() = default;

void TMetafile::Assign(const TPersistent* Source) {
  if (auto* m = dynamic_cast<const TMetafile*>(Source)) {
    if (m->Empty()) {
      FData.clear();
      FRecords.clear();
      FHeader = {};
    } else {
      LoadFromBytes(m->FData.data(), m->FData.size());
    }
    Changed();
    return;
  }
  TGraphic::Assign(Source);
}

int32_t TMetafile::Width() const { return Empty() ? 0 : FHeader.Bounds.Right - FHeader.Bounds.Left + 1; }
int32_t TMetafile::Height() const { return Empty() ? 0 : FHeader.Bounds.Bottom - FHeader.Bounds.Top + 1; }

void TMetafile::LoadFromStream(TStream* Stream) {
  const int64_t n = Stream->GetSize() - Stream->GetPosition();
  if (n < 0 || n > cMaxFileSize) Fail("Metafile is too large");
  std::vector<uint8_t> buf(static_cast<size_t>(n));
  if (n > 0) Stream->ReadBuffer(buf.data(), int32_t(n));
  LoadFromBytes(buf.data(), buf.size());
}

void TMetafile::LoadFromBytes(const uint8_t* Data, size_t Size) {
  FData.clear();
  FRecords.clear();
  FHeader = {};
  if (Size < cHeaderSize) Fail("Metafile is too short");
  if (U32(Data) != EMR_HEADER || U32(Data + 40) != cEmfSignature) Fail("Not an enhanced metafile");
  const uint32_t headerSize = U32(Data + 4);
  if (headerSize < cHeaderSize || headerSize % 4 != 0 || headerSize > Size) Fail("Invalid metafile header size");
  const uint32_t total = U32(Data + 48);
  if (total < headerSize || total > Size) Fail("Invalid metafile size");
  TEnhMetaHeader h;
  h.Bounds = {I32(Data + 8), I32(Data + 12), I32(Data + 16), I32(Data + 20)};
  h.Frame = {I32(Data + 24), I32(Data + 28), I32(Data + 32), I32(Data + 36)};
  const TRect& b = h.Bounds;
  if (b.Left > b.Right || b.Top > b.Bottom || int64_t(b.Right) - b.Left >= cMaxExtent ||
      int64_t(b.Bottom) - b.Top >= cMaxExtent)
    Fail("Invalid metafile bounds");
  h.Bytes = total;
  h.Records = U32(Data + 52);
  h.Handles = uint16_t(U32(Data + 56) & 0xFFFF);
  h.DeviceCx = I32(Data + 72);
  h.DeviceCy = I32(Data + 76);
  h.MillimetersCx = I32(Data + 80);
  h.MillimetersCy = I32(Data + 84);
  // Walk the chain of records first; the picture takes the data only when all of it holds.
  std::vector<std::pair<uint32_t, uint32_t>> chain;  // offset, size
  uint32_t pos = 0;
  bool eof = false;
  while (pos < total && !eof) {
    if (total - pos < 8) Fail("Truncated metafile record");
    const uint32_t type = U32(Data + pos), size = U32(Data + pos + 4);
    if (size < 8 || size % 4 != 0 || size > total - pos) Fail("Invalid metafile record size");
    if (pos > 0 && type == EMR_HEADER) Fail("Unexpected metafile header");
    if (size < MinSize(type)) Fail("Metafile record is too short");
    if (type == EMR_EOF) eof = true;
    chain.emplace_back(pos, size);
    pos += size;
  }
  FData.assign(Data, Data + total);
  FRecords.reserve(chain.size());
  for (auto [at, size] : chain) FRecords.push_back({U32(FData.data() + at), size, FData.data() + at});
  FHeader = h;
}

void TMetafile::SaveToStream(TStream* Stream) {
  if (!FData.empty()) Stream->WriteBuffer(FData.data(), int32_t(FData.size()));
}

void TMetafile::Draw(TCanvas* Canvas, const TRect& R) { PlayEnhMetaFile(Canvas, *this, R); }

// --- objects -----------------------------------------------------------------------------

HGDIOBJ PenHandle(const TPen& Pen) {
  auto o = std::make_shared<TGdiObject>();
  o->Kind = TGdiKind::Pen;
  o->PenStyle = Pen.Style() <= psInsideFrame ? uint32_t(Pen.Style()) : PS_SOLID;
  o->PenWidth = Pen.Width();
  o->Cosmetic = Pen.Width() <= 0;
  o->Color = uint32_t(ColorToRGB(Pen.Color())) & 0xFFFFFF;
  return o;
}

HGDIOBJ BrushHandle(const TBrush& Brush) {
  auto o = std::make_shared<TGdiObject>();
  o->Kind = TGdiKind::Brush;
  o->Color = uint32_t(ColorToRGB(Brush.Color())) & 0xFFFFFF;
  if (TBitmap* b = Brush.Bitmap(); b && !b->Empty()) {
    o->BrushStyle = BS_PATTERN;
    o->Pattern = OpaqueCopy(b->Image(), b->Image().rect());
  } else if (Brush.Style() == bsClear) {
    o->BrushStyle = BS_NULL;
  } else if (Brush.Style() == bsSolid) {
    o->BrushStyle = BS_SOLID;
  } else {
    // bsHorizontal .. bsDiagCross are the hatch indices in order.
    o->BrushStyle = BS_HATCHED;
    o->Hatch = uint32_t(Brush.Style() - bsHorizontal);
  }
  return o;
}

HGDIOBJ SelectObject(HDC DC, const HGDIOBJ& Object) {
  if (!DC || !Object) return nullptr;
  return DC->Select(Object);
}

bool PlayEnhMetaFileRecord(HDC DC, THandleTable* Table, const TEnhMetaRecord* Record, uint32_t /*ObjectCount*/) {
  if (!DC || !Table || !Record) return false;
  DC->Play(Table, *Record);
  return true;
}

bool EnumEnhMetaFile(TCanvas* Canvas, const TMetafile& Metafile, const TEnhMetaFileProc& Proc, void* Data,
                     const TMetafileTarget& Target) {
  if (!Canvas || Metafile.Empty() || !Proc) return false;
  const double w = Target.Right - Target.Left, h = Target.Bottom - Target.Top;
  if (!(std::isfinite(w) && std::isfinite(h)) || w == 0 || h == 0) return false;
  QPainter* p = Canvas->Painter();
  if (!p) return false;
  p->save();
  bool done = true;
  try {
    TMetafileDC dc(Canvas, p, Metafile, Target);
    THandleTable table;
    const int32_t count = Metafile.Header().Handles;
    for (const TEnhMetaRecord& r : Metafile.Records()) {
      if (!Proc(&dc, &table, &r, count, Data)) {
        done = false;
        break;
      }
    }
  } catch (...) {
    p->restore();
    throw;
  }
  p->restore();
  return done;
}

bool PlayEnhMetaFile(TCanvas* Canvas, const TMetafile& Metafile, const TRect& R) {
  TMetafileTarget t;
  t.Left = R.Left;
  t.Top = R.Top;
  t.Right = R.Right;
  t.Bottom = R.Bottom;
  return EnumEnhMetaFile(
      Canvas, Metafile,
      [](HDC DC, THandleTable* Table, const TEnhMetaRecord* Record, int32_t Count, void*) {
        return PlayEnhMetaFileRecord(DC, Table, Record, uint32_t(Count)) ? 1 : 0;
      },
      nullptr, t);
}

}  // namespace platform

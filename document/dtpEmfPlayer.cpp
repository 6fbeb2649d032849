#include "document/dtpEmfPlayer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/Classes.h"

namespace document {

namespace {

constexpr uint32_t cEmfSignature = 0x464D4520;  // " EMF"
constexpr uint32_t cHeaderSize = 88;
constexpr uint32_t cMaxHandles = 65535;
constexpr int64_t cMaxExtent = int64_t(1) << 24;
constexpr int64_t cMaxFileSize = int64_t(1) << 30;

uint32_t U32(const uint8_t* P) {
  uint32_t v;
  std::memcpy(&v, P, 4);
  return v;
}
int32_t I32(const uint8_t* P) { return int32_t(U32(P)); }
int16_t I16(const uint8_t* P) {
  int16_t v;
  std::memcpy(&v, P, 2);
  return v;
}

[[noreturn]] void Fail(const std::string& Msg) { throw EEmfError(Msg); }

// Fixed size of the records whose size does not depend on a count.
uint32_t FixedSize(uint32_t Type) {
  switch (Type) {
    case EMR_MOVETOEX:
    case EMR_LINETO:
    case EMR_SELECTOBJECT:
    case EMR_DELETEOBJECT:
      return Type == EMR_SELECTOBJECT || Type == EMR_DELETEOBJECT ? 12 : 16;
    case EMR_CREATEPEN:
      return 28;
    case EMR_CREATEBRUSHINDIRECT:
      return 24;
    case EMR_ELLIPSE:
    case EMR_RECTANGLE:
      return 24;
    default:
      return 0;
  }
}

}  // namespace

void TEmfPicture::LoadFromStream(platform::TStream* Stream) {
  const int64_t n = Stream->GetSize() - Stream->GetPosition();
  if (n < 0 || n > cMaxFileSize) Fail("Metafile is too large");
  std::vector<uint8_t> buf(static_cast<size_t>(n));
  if (n > 0) Stream->ReadBuffer(buf.data(), int32_t(n));
  LoadFromBytes(buf.data(), buf.size());
}

void TEmfPicture::LoadFromBytes(const uint8_t* Data, size_t Size) {
  FData.clear();
  FRecords.clear();
  FBounds = {0, 0, 0, 0};
  FHandles = 0;
  if (Size < cHeaderSize) Fail("Metafile is too short");
  if (U32(Data) != EMR_HEADER || U32(Data + 40) != cEmfSignature) Fail("Not an enhanced metafile");
  const uint32_t headerSize = U32(Data + 4);
  if (headerSize < cHeaderSize || headerSize % 4 != 0 || headerSize > Size) Fail("Invalid metafile header size");
  const uint32_t total = U32(Data + 48);
  if (total < headerSize || total > Size) Fail("Invalid metafile size");
  platform::TRect b{I32(Data + 8), I32(Data + 12), I32(Data + 16), I32(Data + 20)};
  if (b.Left > b.Right || b.Top > b.Bottom || int64_t(b.Right) - b.Left >= cMaxExtent ||
      int64_t(b.Bottom) - b.Top >= cMaxExtent)
    Fail("Invalid metafile bounds");
  const uint32_t handles = uint32_t(U32(Data + 56) & 0xFFFF);
  std::vector<TEmfRecord> recs;
  uint32_t pos = 0;
  bool eof = false;
  while (pos < total && !eof) {
    if (total - pos < 8) Fail("Truncated metafile record");
    const uint32_t type = U32(Data + pos), size = U32(Data + pos + 4);
    if (size < 8 || size % 4 != 0 || size > total - pos) Fail("Invalid metafile record size");
    if (pos > 0 && type == EMR_HEADER) Fail("Unexpected metafile header");
    const uint32_t fixed = FixedSize(type);
    if (fixed && size < fixed) Fail("Metafile record is too short");
    if (type == EMR_POLYGON || type == EMR_POLYLINE || type == EMR_POLYGON16 || type == EMR_POLYLINE16) {
      if (size < 28) Fail("Metafile record is too short");
      const uint64_t count = U32(Data + pos + 24);
      const uint64_t each = (type == EMR_POLYGON || type == EMR_POLYLINE) ? 8 : 4;
      if (count * each > size - 28) Fail("Metafile point count exceeds its record");
    }
    if (type == EMR_EOF) eof = true;
    recs.push_back({type, pos, size});
    pos += size;
  }
  FData.assign(Data, Data + total);
  FRecords = std::move(recs);
  FBounds = b;
  FHandles = handles;
}

TEmfPlayer::TEmfPlayer(const TEmfPicture& Picture, platform::TCanvas* Canvas, const platform::TRect& Rect)
    : FPicture(Picture), FCanvas(Canvas), FRect(Rect), FObjects(std::min(Picture.HandleCount(), cMaxHandles)) {}

// Picture pixels to the target rectangle; the stored bounds are inclusive.
platform::TPoint TEmfPlayer::Map(int32_t X, int32_t Y) const {
  const platform::TRect& b = FPicture.Bounds();
  const double sx = double(FRect.Right - FRect.Left) / double(FPicture.Width());
  const double sy = double(FRect.Bottom - FRect.Top) / double(FPicture.Height());
  auto clamp = [](double V) {
    if (!(V > -1e9)) return int32_t(-1000000000);
    if (V > 1e9) return int32_t(1000000000);
    return int32_t(std::lround(V));
  };
  return {clamp(FRect.Left + (double(X) - b.Left) * sx), clamp(FRect.Top + (double(Y) - b.Top) * sy)};
}

void TEmfPlayer::Apply(const platform::TPen* OverridePen, const platform::TBrush* OverrideBrush) {
  if (OverridePen) {
    FCanvas->SetPen(OverridePen);
  } else {
    platform::TPen* p = FCanvas->Pen();
    p->SetColor(FPen.Color);
    p->SetStyle(platform::TPenStyle(FPen.Style));
    const platform::TPoint w = Map(FPicture.Bounds().Left + FPen.Width, FPicture.Bounds().Top);
    p->SetWidth(std::max(1, std::min(w.X - FRect.Left, 1000)));
  }
  if (OverrideBrush) {
    FCanvas->SetBrush(OverrideBrush);
  } else {
    platform::TBrush* b = FCanvas->Brush();
    b->SetColor(FBrush.Color);
    b->SetStyle(platform::TBrushStyle(FBrush.Style));
  }
}

std::vector<platform::TPoint> TEmfPlayer::ReadPoints(const TEmfRecord& R, bool Short) const {
  const uint8_t* p = FPicture.Data().data() + R.Offset;
  const uint32_t n = U32(p + 24);
  std::vector<platform::TPoint> pts;
  pts.reserve(n);
  for (uint32_t i = 0; i < n; ++i) {
    if (Short)
      pts.push_back(Map(I16(p + 28 + 4 * i), I16(p + 30 + 4 * i)));
    else
      pts.push_back(Map(I32(p + 28 + 8 * i), I32(p + 32 + 8 * i)));
  }
  return pts;
}

void TEmfPlayer::PlayRecord(const TEmfRecord& R, const platform::TPen* OverridePen, const platform::TBrush* OverrideBrush) {
  const uint8_t* p = FPicture.Data().data() + R.Offset;
  auto object = [&](uint32_t Index) -> TObject* {
    if (Index == 0 || Index >= FObjects.size()) Fail("Metafile object index out of range");
    return &FObjects[Index];
  };
  switch (R.Type) {
    case EMR_CREATEPEN: {
      TObject* o = object(U32(p + 8));
      const uint32_t style = U32(p + 12) & 0xF;
      *o = {1, platform::TColor(U32(p + 24) & 0xFFFFFF), std::max(1, std::min(I32(p + 16), 1000)),
            uint8_t(style <= 6 ? style : 0)};
      break;
    }
    case EMR_CREATEBRUSHINDIRECT: {
      TObject* o = object(U32(p + 8));
      // BS_SOLID 0 and BS_NULL 1; hatches draw as solid.
      *o = {2, platform::TColor(U32(p + 16) & 0xFFFFFF), 1, uint8_t(U32(p + 12) == 1 ? platform::bsClear : platform::bsSolid)};
      break;
    }
    case EMR_SELECTOBJECT: {
      const uint32_t i = U32(p + 8);
      if (i & 0x80000000u) {
        // Stock objects: brushes white, light grey, grey, dark grey, black, null; pens white, black, null.
        static const platform::TColor cBrushes[] = {0xFFFFFF, 0xC0C0C0, 0x808080, 0x404040, 0, 0};
        const uint32_t s = i & 0x7FFFFFFF;
        if (s <= 5)
          FBrush = {2, cBrushes[s], 1, uint8_t(s == 5 ? platform::bsClear : platform::bsSolid)};
        else if (s <= 8)
          FPen = {1, s == 6 ? platform::TColor(0xFFFFFF) : 0, 1, uint8_t(s == 8 ? platform::psClear : platform::psSolid)};
      } else {
        TObject* o = object(i);
        if (o->Kind == 1) FPen = *o;
        if (o->Kind == 2) FBrush = *o;
      }
      break;
    }
    case EMR_DELETEOBJECT:
      if (!(U32(p + 8) & 0x80000000u)) *object(U32(p + 8)) = {};
      break;
    case EMR_MOVETOEX:
      FPos = Map(I32(p + 8), I32(p + 12));
      break;
    case EMR_LINETO: {
      Apply(OverridePen, OverrideBrush);
      const platform::TPoint to = Map(I32(p + 8), I32(p + 12));
      FCanvas->MoveTo(FPos.X, FPos.Y);
      FCanvas->LineTo(to.X, to.Y);
      FPos = to;
      break;
    }
    case EMR_RECTANGLE:
    case EMR_ELLIPSE: {
      Apply(OverridePen, OverrideBrush);
      const platform::TPoint a = Map(I32(p + 8), I32(p + 12)), b = Map(I32(p + 16), I32(p + 20));
      if (R.Type == EMR_RECTANGLE)
        FCanvas->Rectangle(a.X, a.Y, b.X, b.Y);
      else
        FCanvas->Ellipse(a.X, a.Y, b.X, b.Y);
      break;
    }
    case EMR_POLYGON:
    case EMR_POLYGON16:
    case EMR_POLYLINE:
    case EMR_POLYLINE16: {
      const auto pts = ReadPoints(R, R.Type == EMR_POLYGON16 || R.Type == EMR_POLYLINE16);
      if (pts.size() < 2) break;
      Apply(OverridePen, OverrideBrush);
      if (R.Type == EMR_POLYGON || R.Type == EMR_POLYGON16)
        FCanvas->Polygon(pts);
      else
        FCanvas->Polyline(pts);
      break;
    }
    default:
      break;
  }
}

void TEmfPlayer::Play(const platform::TPen* OverridePen, const platform::TBrush* OverrideBrush) {
  if (FPicture.Empty() || FRect.Right <= FRect.Left || FRect.Bottom <= FRect.Top) return;
  for (const TEmfRecord& r : FPicture.Records()) PlayRecord(r, OverridePen, OverrideBrush);
}

}  // namespace document

// A bounds-checked player for enhanced metafiles (EMF): the header, pens and brushes (created,
// selected, deleted, stock), polygons, polylines, rectangles, ellipses and move/line-to. Other
// records are skipped. A shape can force its own pen and brush onto every drawing record.
// Every record's size and counts are checked when the picture is loaded; a damaged file
// raises EEmfError and never reads outside the data.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/Exceptions.h"
#include "platform/Graphics.h"
#include "platform/Types.h"

namespace document {

class EEmfError : public platform::Exception {
 public:
  using platform::Exception::Exception;
};

enum : uint32_t {
  EMR_HEADER = 1,
  EMR_POLYGON = 3,
  EMR_POLYLINE = 4,
  EMR_EOF = 14,
  EMR_MOVETOEX = 27,
  EMR_SELECTOBJECT = 37,
  EMR_CREATEPEN = 38,
  EMR_CREATEBRUSHINDIRECT = 39,
  EMR_DELETEOBJECT = 40,
  EMR_ELLIPSE = 42,
  EMR_RECTANGLE = 43,
  EMR_LINETO = 54,
  EMR_POLYGON16 = 86,
  EMR_POLYLINE16 = 87,
};

struct TEmfRecord {
  uint32_t Type = 0;
  uint32_t Offset = 0;  // of the record in the data
  uint32_t Size = 0;
};

class TEmfPicture {
 public:
  // Raises EEmfError for data that is not a sound metafile.
  void LoadFromBytes(const uint8_t* Data, size_t Size);
  void LoadFromStream(platform::TStream* Stream);
  bool Empty() const { return FRecords.empty(); }
  // The picture's bounds in device pixels (inclusive, as stored).
  const platform::TRect& Bounds() const { return FBounds; }
  int32_t Width() const { return FBounds.Right - FBounds.Left + 1; }
  int32_t Height() const { return FBounds.Bottom - FBounds.Top + 1; }
  uint32_t HandleCount() const { return FHandles; }
  const std::vector<TEmfRecord>& Records() const { return FRecords; }
  const std::vector<uint8_t>& Data() const { return FData; }

 private:
  std::vector<uint8_t> FData;
  std::vector<TEmfRecord> FRecords;
  platform::TRect FBounds{0, 0, 0, 0};
  uint32_t FHandles = 0;
};

// Plays a picture into Rect of Canvas. The object table and current position live here.
class TEmfPlayer {
 public:
  TEmfPlayer(const TEmfPicture& Picture, platform::TCanvas* Canvas, const platform::TRect& Rect);
  // Plays one record; an override pen or brush (when given) is used by every drawing record
  // instead of the one the picture selected.
  void PlayRecord(const TEmfRecord& Record, const platform::TPen* OverridePen, const platform::TBrush* OverrideBrush);
  void Play(const platform::TPen* OverridePen = nullptr, const platform::TBrush* OverrideBrush = nullptr);

 private:
  struct TObject {
    int Kind = 0;  // 0 none, 1 pen, 2 brush
    platform::TColor Color = 0;
    int32_t Width = 1;
    uint8_t Style = 0;
  };
  platform::TPoint Map(int32_t X, int32_t Y) const;
  void Apply(const platform::TPen* OverridePen, const platform::TBrush* OverrideBrush);
  std::vector<platform::TPoint> ReadPoints(const TEmfRecord& R, bool Short) const;

  const TEmfPicture& FPicture;
  platform::TCanvas* FCanvas;
  platform::TRect FRect;
  std::vector<TObject> FObjects;
  TObject FPen{1, 0, 1, 0}, FBrush{2, 0xFFFFFF, 1, 0};
  platform::TPoint FPos{0, 0};
};

}  // namespace document

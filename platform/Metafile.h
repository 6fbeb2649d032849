// Enhanced metafiles (EMF): the picture class and a player of our own that draws a picture's
// records onto a canvas with the GDI's rules.
//
// TMetafile checks the file's structure when it loads (header, record sizes, the chain of
// records up to EMR_EOF). Playing goes through a device context (HDC) that holds the GDI state
// of one play: mapping mode, window and viewport, world transform, the selected pen, brush and
// font, the clip region, the path and the current position. EnumEnhMetaFile calls back for every
// record, and the callback plays it with PlayEnhMetaFileRecord, so a caller can select objects
// of its own (SelectObject) around each record. Every size, count and offset a record holds is
// checked against the record before use; a record that is damaged ends the play with
// EMetafileError, an unknown one is skipped.
//
// Coordinates: the picture's frame is mapped onto the target rectangle, which is given in the
// canvas's units or, with a transformation, in units that the transformation maps onto the
// canvas (a shape plays into its own millimetres through its device matrix).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/Exceptions.h"
#include "platform/Graphics.h"

namespace platform {

KD_DECLARE_EXCEPTION(EMetafileError, Exception);

// Record types (the documented EMR_ values).
enum : uint32_t {
  EMR_HEADER = 1, EMR_POLYBEZIER = 2, EMR_POLYGON = 3, EMR_POLYLINE = 4, EMR_POLYBEZIERTO = 5,
  EMR_POLYLINETO = 6, EMR_POLYPOLYLINE = 7, EMR_POLYPOLYGON = 8, EMR_SETWINDOWEXTEX = 9,
  EMR_SETWINDOWORGEX = 10, EMR_SETVIEWPORTEXTEX = 11, EMR_SETVIEWPORTORGEX = 12, EMR_SETBRUSHORGEX = 13,
  EMR_EOF = 14, EMR_SETPIXELV = 15, EMR_SETMAPPERFLAGS = 16, EMR_SETMAPMODE = 17, EMR_SETBKMODE = 18,
  EMR_SETPOLYFILLMODE = 19, EMR_SETROP2 = 20, EMR_SETSTRETCHBLTMODE = 21, EMR_SETTEXTALIGN = 22,
  EMR_SETTEXTCOLOR = 24, EMR_SETBKCOLOR = 25, EMR_OFFSETCLIPRGN = 26, EMR_MOVETOEX = 27,
  EMR_SETMETARGN = 28, EMR_EXCLUDECLIPRECT = 29, EMR_INTERSECTCLIPRECT = 30, EMR_SCALEVIEWPORTEXTEX = 31,
  EMR_SCALEWINDOWEXTEX = 32, EMR_SAVEDC = 33, EMR_RESTOREDC = 34, EMR_SETWORLDTRANSFORM = 35,
  EMR_MODIFYWORLDTRANSFORM = 36, EMR_SELECTOBJECT = 37, EMR_CREATEPEN = 38, EMR_CREATEBRUSHINDIRECT = 39,
  EMR_DELETEOBJECT = 40, EMR_ANGLEARC = 41, EMR_ELLIPSE = 42, EMR_RECTANGLE = 43, EMR_ROUNDRECT = 44,
  EMR_ARC = 45, EMR_CHORD = 46, EMR_PIE = 47, EMR_LINETO = 54, EMR_ARCTO = 55, EMR_SETARCDIRECTION = 57,
  EMR_SETMITERLIMIT = 58, EMR_BEGINPATH = 59, EMR_ENDPATH = 60, EMR_CLOSEFIGURE = 61, EMR_FILLPATH = 62,
  EMR_STROKEANDFILLPATH = 63, EMR_STROKEPATH = 64, EMR_FLATTENPATH = 65, EMR_WIDENPATH = 66,
  EMR_SELECTCLIPPATH = 67, EMR_ABORTPATH = 68, EMR_GDICOMMENT = 70, EMR_FILLRGN = 71,
  EMR_EXTSELECTCLIPRGN = 75, EMR_BITBLT = 76, EMR_STRETCHBLT = 77, EMR_SETDIBITSTODEVICE = 80,
  EMR_STRETCHDIBITS = 81, EMR_EXTCREATEFONTINDIRECTW = 82, EMR_EXTTEXTOUTA = 83, EMR_EXTTEXTOUTW = 84,
  EMR_POLYBEZIER16 = 85, EMR_POLYGON16 = 86, EMR_POLYLINE16 = 87, EMR_POLYBEZIERTO16 = 88,
  EMR_POLYLINETO16 = 89, EMR_POLYPOLYLINE16 = 90, EMR_POLYPOLYGON16 = 91, EMR_CREATEMONOBRUSH = 93,
  EMR_CREATEDIBPATTERNBRUSHPT = 94, EMR_EXTCREATEPEN = 95, EMR_ALPHABLEND = 114,
};

// The header's fields that playing uses.
struct TEnhMetaHeader {
  TRect Bounds;        // inclusive, in the reference device's pixels
  TRect Frame;         // inclusive, in 0.01 mm
  uint32_t Bytes = 0;
  uint32_t Records = 0;
  uint16_t Handles = 0;
  int32_t DeviceCx = 0, DeviceCy = 0;            // reference device in pixels
  int32_t MillimetersCx = 0, MillimetersCy = 0;  // and in millimetres
};

// One record of a loaded picture: its type, its size and its bytes (inside the picture's data).
struct TEnhMetaRecord {
  uint32_t iType = 0;
  uint32_t nSize = 0;
  const uint8_t* Data = nullptr;
};

class TMetafile : public TGraphic {
 public:
  TMetafile();
  ~TMetafile() override;
  std::string ClassName() const override { return "TMetafile"; }
  void Assign(const TPersistent* Source) override;

  bool Empty() const override { return FRecords.empty(); }
  // The picture's size in its reference device's pixels (the header's bounds, inclusive).
  int32_t Width() const override;
  int32_t Height() const override;
  // A picture's size comes from its header; these do nothing.
  void SetWidth(int32_t) override {}
  void SetHeight(int32_t) override {}
  // Raises EMetafileError for data that is not a sound metafile; the picture is then empty.
  void LoadFromStream(TStream* Stream) override;
  void LoadFromBytes(const uint8_t* Data, size_t Size);
  void SaveToStream(TStream* Stream) override;
  void Draw(TCanvas* Canvas, const TRect& R) override;

  const TEnhMetaHeader& Header() const { return FHeader; }
  const std::vector<TEnhMetaRecord>& Records() const { return FRecords; }
  const std::vector<uint8_t>& Data() const { return FData; }

 private:
  std::vector<uint8_t> FData;
  std::vector<TEnhMetaRecord> FRecords;
  TEnhMetaHeader FHeader;
};

// A world transformation: x' = eM11 x + eM21 y + eDx, y' = eM12 x + eM22 y + eDy.
struct XFORM {
  double eM11 = 1, eM12 = 0, eM21 = 0, eM22 = 1, eDx = 0, eDy = 0;
};

// Where a picture plays: its frame lands on the rectangle (Left, Top) - (Right, Bottom), which
// Transform maps onto the canvas.
struct TMetafileTarget {
  double Left = 0, Top = 0, Right = 0, Bottom = 0;
  XFORM Transform;
};

// A GDI object: a pen, a brush or a font. Handles are shared, so an object stays alive while
// a device context still has it selected.
class TGdiObject;
using HGDIOBJ = std::shared_ptr<const TGdiObject>;

// The GDI objects of a class-library pen and brush (their Handle). A pen's width is in the
// logical units of the device context that selects it; 0 and 1 draw one pixel wide.
HGDIOBJ PenHandle(const TPen& Pen);
HGDIOBJ BrushHandle(const TBrush& Brush);

// The device context of one play and the picture's object table.
class TMetafileDC;
using HDC = TMetafileDC*;
struct THandleTable;

// Selects a pen, brush or font; returns the object of the same kind that was selected before
// (nullptr for an empty handle, which selects nothing).
HGDIOBJ SelectObject(HDC DC, const HGDIOBJ& Object);

// Plays one record. Raises EMetafileError when the record is damaged.
bool PlayEnhMetaFileRecord(HDC DC, THandleTable* Table, const TEnhMetaRecord* Record, uint32_t ObjectCount);

// Called for every record in file order; a result of 0 stops the play.
using TEnhMetaFileProc =
    std::function<int(HDC DC, THandleTable* Table, const TEnhMetaRecord* Record, int32_t ObjectCount, void* Data)>;

// Plays Metafile onto Canvas through Proc. False when nothing could be played (an empty picture
// or target, a canvas without a device) or Proc stopped the play. The canvas's own state (pen,
// brush, clipping) is left as it was.
bool EnumEnhMetaFile(TCanvas* Canvas, const TMetafile& Metafile, const TEnhMetaFileProc& Proc, void* Data,
                     const TMetafileTarget& Target);
// Plays every record into R.
bool PlayEnhMetaFile(TCanvas* Canvas, const TMetafile& Metafile, const TRect& R);

}  // namespace platform

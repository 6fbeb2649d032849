// Polygons of 16.16 fixed points drawn into a TBitmap32: filled (antialiased on a 1/8-pixel
// grid, 8 x 8 samples per pixel, or aliased) with the even-odd or non-zero rule, or outlined
// as polylines; and polygons derived from one (an outward offset, a there-and-back outline).
// The polygon shapes keep one fill and one outline polygon each and draw through this class.
#pragma once

#include <cstdint>
#include <memory>

#include "raster/Raster32.h"

namespace raster {

enum TPolyFillMode { pfAlternate = 0, pfWinding = 1 };

class TPolygon32 : public platform::TObject {
 public:
  // Aliased, closed, even-odd; one empty contour.
  TPolygon32();
  std::string ClassName() const override { return "TPolygon32"; }

  bool Antialiased() const { return FAntialiased; }
  void SetAntialiased(bool Value) { FAntialiased = Value; }
  bool Closed() const { return FClosed; }
  // The last point's normal depends on it, so a change drops the normals.
  void SetClosed(bool Value) {
    if (Value == FClosed) return;
    FClosed = Value;
    FNormals.clear();
  }
  TPolyFillMode FillMode() const { return FFillMode; }
  void SetFillMode(TPolyFillMode Value) { FFillMode = Value; }

  const TArrayOfArrayOfFixedPoint& Points() const { return FPoints; }
  void SetPoints(const TArrayOfArrayOfFixedPoint& Value);
  // One unit normal per point (built now when absent; dropped whenever the points change).
  const TArrayOfArrayOfFixedPoint& Normals();

  // Appends to the last contour.
  void Add(const TFixedPoint& P);
  void AddPoints(const TFixedPoint* First, int32_t Count);
  // Starts a new, empty contour.
  void NewLine();
  // Removes every contour, leaving one empty one.
  void Clear();

  // Each contour as a polyline in Color (closed when Closed).
  void DrawEdge(TBitmap32* Bitmap, TColor32 Color);
  // All contours filled together with FillMode.
  void DrawFill(TBitmap32* Bitmap, TColor32 Color);

  // A new polygon offset outward by Delta along the normals; corners sharper than
  // EdgeSharpness (0..0.99) are bevelled, the others mitred.
  std::unique_ptr<TPolygon32> Grow(TFixed Delta, float EdgeSharpness = 0);
  // A new polygon running along each contour and back.
  std::unique_ptr<TPolygon32> Outline();

 private:
  void BuildNormals();
  void DrawFillAliased(TBitmap32* Bitmap, TColor32 Color);
  void DrawFillAntialiased(TBitmap32* Bitmap, TColor32 Color);

  bool FAntialiased = false;
  bool FClosed = true;
  TPolyFillMode FFillMode = pfAlternate;
  TArrayOfArrayOfFixedPoint FNormals;
  TArrayOfArrayOfFixedPoint FPoints;
};

}  // namespace raster

// Pixel regions of the platform: rectangles, ellipses, round rectangles and polygons combined
// with set operations, tested against points and rectangles, and used as canvas clip areas.
// A region covers pixels: a rectangle (L, T, R, B) holds the pixels L..R-1 by T..B-1.
// Coordinates are held within +-(2^30 - 1); ellipses, round rectangles and polygons are cut to
// +-2^18, so no input makes their row-by-row construction run long.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/Types.h"

class QRegion;

namespace platform {

// Polygon fill modes.
constexpr int32_t ALTERNATE = 1;
constexpr int32_t WINDING = 2;

// CombineRgn operations.
constexpr int32_t RGN_AND = 1;
constexpr int32_t RGN_OR = 2;
constexpr int32_t RGN_XOR = 3;
constexpr int32_t RGN_DIFF = 4;
constexpr int32_t RGN_COPY = 5;

// Region kinds returned by CombineRgn, OffsetRgn and GetRgnBox.
constexpr int32_t RGN_ERROR = 0;
constexpr int32_t NULLREGION = 1;
constexpr int32_t SIMPLEREGION = 2;
constexpr int32_t COMPLEXREGION = 3;

class TRegion {
 public:
  TRegion();
  TRegion(const TRegion& Other);
  TRegion(TRegion&& Other) noexcept;
  TRegion& operator=(const TRegion& Other);
  TRegion& operator=(TRegion&& Other) noexcept;
  ~TRegion();
  explicit TRegion(const QRegion& Region);

  // Reversed corners are put in order first.
  static TRegion Rect(int32_t Left, int32_t Top, int32_t Right, int32_t Bottom);
  static TRegion Rect(const TRect& R) { return Rect(R.Left, R.Top, R.Right, R.Bottom); }
  // The ellipse inscribed in the rectangle: on each pixel row, the pixels whose centres lie in it.
  static TRegion Ellipse(int32_t Left, int32_t Top, int32_t Right, int32_t Bottom);
  // A rectangle whose corners are quarter ellipses CornerWidth by CornerHeight.
  static TRegion RoundRect(int32_t Left, int32_t Top, int32_t Right, int32_t Bottom,
                           int32_t CornerWidth, int32_t CornerHeight);
  // The pixels whose centres lie inside the polygon under FillMode (ALTERNATE or WINDING).
  static TRegion Polygon(const std::vector<TPoint>& Points, int32_t FillMode);

  // Kind of the region: NULLREGION, SIMPLEREGION (one rectangle) or COMPLEXREGION.
  int32_t Kind() const;
  bool Empty() const;
  TRect Box() const;
  bool Contains(int32_t X, int32_t Y) const;
  // True when any pixel of R lies in the region.
  bool Intersects(const TRect& R) const;
  void Offset(int32_t DX, int32_t DY);
  // The region's pixels as disjoint rectangles, top to bottom, left to right.
  std::vector<TRect> Rects() const;
  bool operator==(const TRegion& Other) const;

  const QRegion& Qt() const { return *FRegion; }

 private:
  std::unique_ptr<QRegion> FRegion;
};

// The platform's region functions. CombineRgn with an unknown mode returns RGN_ERROR and leaves
// Dest as it was.
int32_t CombineRgn(TRegion& Dest, const TRegion& Src1, const TRegion& Src2, int32_t Mode);
bool PtInRegion(const TRegion& Rgn, int32_t X, int32_t Y);
bool RectInRegion(const TRegion& Rgn, const TRect& R);
int32_t OffsetRgn(TRegion& Rgn, int32_t DX, int32_t DY);
int32_t GetRgnBox(const TRegion& Rgn, TRect& Box);
bool EqualRgn(const TRegion& A, const TRegion& B);

}  // namespace platform

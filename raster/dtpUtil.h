// Whole-bitmap operations for the document engine that the bitmap itself does not offer:
// quarter-turn rotations and flips; the shadow pipeline (ScaleAlpha turns each pixel into a
// plain 8.8 alpha value, BoxBlur and ShiftBitmap work on those values, ColorizeBitmap turns
// them back into colours); merging with coverage; squared distances for hit testing.
// They work on the pixel buffer directly; only the rotations announce a change.
#pragma once

#include <cstdint>

#include "raster/Raster32.h"

namespace raster {

// A quarter turn clockwise: (x, y) goes to (Height - 1 - y, x). DrawMode, MasterAlpha,
// OuterColor and StretchFilter are kept.
void Rotate90(TBitmap32* Bitmap);
// A half turn: FlipHorizontal, then FlipVertical.
void Rotate180(TBitmap32* Bitmap);
// A quarter turn counter-clockwise: (x, y) goes to (y, Width - 1 - x).
void Rotate270(TBitmap32* Bitmap);
void FlipHorizontal(TBitmap32* Bitmap);
void FlipVertical(TBitmap32* Bitmap);

// Every pixel := Round(alpha * 256 * Factor) as a plain value, kept within 0 .. $7FFFFFFF.
void ScaleAlpha(TBitmap32* Bitmap, float Factor);
// Moves the buffer as one sequence by Dy * Width + Dx values (toward the end when positive);
// vacated values become 0; a shift as long as the buffer or longer clears it.
void ShiftBitmap(TBitmap32* Bitmap, int32_t Dx, int32_t Dy);
// Box blur of the plain values, horizontally over the buffer as one line, then vertically;
// Radius rounds to the box size (below 2 nothing, 2 becomes 3).
void BoxBlur(TBitmap32* Bitmap, float Radius);
// Values above 255 become Color's RGB with alpha Min(v, $FF00) shr 8; others stay.
void ColorizeBitmap(TBitmap32* Bitmap, TColor32 Color);
// Alpha A becomes 255 - A.
void InvertAlpha(TBitmap32* Bitmap);

// Fore := MergePixel(Fore, Back, MasterAlpha) per pixel, when both have as many pixels.
void MergeBitmaps(TBitmap32* Fore, TBitmap32* Back, TColor32 MasterAlpha);
// Src merged into Dst with its top-left at (X, Y), clipped to Dst.
void MergeBitmapAt(TBitmap32* Src, TBitmap32* Dst, int32_t X, int32_t Y, TColor32 MasterAlpha);

// Blends Color over every pixel and keeps no result, as the shape code has always done: the
// bitmap is left unchanged.
void ApplyPixelFunction(TBitmap32* Bitmap, TColor32 Color);

// Saturates at INT64_MAX (two points at opposite ends of the 32-bit range).
int64_t SqrDistance(const TPoint& P1, const TPoint& P2);
// Squared distance from P to the nearest point of AB, that point rounded to whole pixels.
double SqrDistanceToSegment(const TPoint& P, const TPoint& A, const TPoint& B);

}  // namespace raster

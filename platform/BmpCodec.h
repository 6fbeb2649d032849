// Windows BMP reader and writer of our own. Qt's reader drops the alpha of 32-bit files, and
// both the 32-bit bitmap surface and the class library's TBitmap need it, so they decode into
// the plain buffer here.
//
// Reads 1, 4, 8, 16, 24 and 32 bits per pixel, BI_RGB, BI_RLE8, BI_RLE4 and BI_BITFIELDS, the
// OS/2 core header (12 bytes) and the 40/52/56/64/108/124-byte info headers, bottom-up and
// top-down rows. Every header field is checked against the data and against the pixel limit
// before anything is allocated; a bad file raises EBmpError, never crashes or loops.
// Writes 32-bit BI_RGB (alpha kept) and 24-bit files, bottom-up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/Classes.h"
#include "platform/Exceptions.h"

namespace platform {

KD_DECLARE_EXCEPTION(EBmpError, Exception);

// Pixels as 0xAARRGGBB words with straight alpha (the layout of TColor32 and of
// QImage::Format_ARGB32), top row first, no padding.
struct TBmpImage {
  int32_t Width = 0;
  int32_t Height = 0;
  std::vector<uint32_t> Pixels;
  // Bits per pixel of the file read (1, 4, 8, 16, 24, 32).
  int32_t BitCount = 0;
  // True when the file carried alpha: 32 bits (or an alpha mask) with at least one non-zero
  // alpha byte. Files whose alpha bytes are all 0 load opaque.
  bool HasAlpha = false;
  // Files of 1, 4 or 8 bits per pixel, when asked for (TBmpLimits::KeepIndices): the colour
  // index of every pixel, top row first, and the colour table as 0x00RRGGBB words.
  std::vector<uint8_t> Indices;
  std::vector<uint32_t> Palette;
};

struct TBmpLimits {
  // The pixel limit of the 32-bit bitmap surface that every image reader shares (2^28).
  int64_t MaxPixels = int64_t{1} << 28;
  int64_t MaxFileBytes = int64_t{1} << 31;
  // Also return the indices and the colour table of palette files (palette bitmaps keep them).
  bool KeepIndices = false;
};

// Largest number of pixels one byte of run-length data may stand for. The format itself has no
// bound (an "end of bitmap" code leaves the rest undefined), so this is a plausibility cap: a
// few dozen bytes never make the reader allocate more than a megabyte. Encoders spend two
// bytes on at most 255 pixels, or on the end of a row.
inline constexpr int64_t kBmpRlePixelsPerByte = 4096;

// Whole-file decoding ("BM" header first).
TBmpImage DecodeBmp(const uint8_t* Data, size_t Size, const TBmpLimits& Limits = {});
// Reads one BMP file from the stream's position (the file header's size field tells how much
// belongs to it; when that is missing or wrong, the rest of the stream is taken).
TBmpImage ReadBmp(TStream* Stream, const TBmpLimits& Limits = {});

// Encodes Width x Height pixels (top row first) as a BMP of 32 bits (BI_RGB, alpha kept) or
// 24 bits (alpha dropped). Raises EBmpError for another BitCount or a size beyond the limit.
std::vector<uint8_t> EncodeBmp(int32_t Width, int32_t Height, const uint32_t* Pixels,
                               int32_t BitCount);
void WriteBmp(TStream* Stream, int32_t Width, int32_t Height, const uint32_t* Pixels,
              int32_t BitCount);
// Encodes a palette image of 1, 4 or 8 bits per pixel: Rows holds Height rows of Stride bytes,
// top row first, each packed most significant bits first (the file's own row layout); Palette
// holds at most 2^BitCount colours as 0x00RRGGBB and is written as the colour table.
std::vector<uint8_t> EncodeBmpIndexed(int32_t Width, int32_t Height, const uint8_t* Rows, int64_t Stride,
                                      int32_t BitCount, const std::vector<uint32_t>& Palette);

}  // namespace platform

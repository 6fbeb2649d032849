// Helpers of the shape rendering code shared by the shape and page units: a canvas over a
// TBitmap32's pixels, copying a TBitmap32 onto a canvas, and the few whole-bitmap operations
// rendering needs (merge with coverage, flips, quarter turns, alpha inversion).
#pragma once

#include <memory>

#include "platform/Graphics.h"
#include "raster/Raster32.h"

class QImage;

namespace document::detail {

// A TCanvas drawing on a bitmap's pixels. Painting leaves the alpha of touched pixels as the
// device left it; callers that want the platform's rule (touched pixels get alpha 0) clear the
// bitmap to alpha 0 first and invert the alpha afterwards (see TdtpShape::RenderInto).
class TBitmap32Canvas {
 public:
  explicit TBitmap32Canvas(raster::TBitmap32* Bitmap);
  ~TBitmap32Canvas();
  TBitmap32Canvas(const TBitmap32Canvas&) = delete;
  TBitmap32Canvas& operator=(const TBitmap32Canvas&) = delete;
  platform::TCanvas* Canvas() { return FCanvas.get(); }
  // Ends painting so the pixels can be touched directly.
  void Release();

 private:
  std::unique_ptr<QImage> FImage;
  std::unique_ptr<platform::TCanvas> FCanvas;
};

// Copies the bitmap's colours (alpha ignored) onto the canvas at (X, Y).
void DrawToCanvas(platform::TCanvas* Canvas, int32_t X, int32_t Y, const raster::TBitmap32* Bitmap);

void MergeBitmapAt(const raster::TBitmap32* Src, raster::TBitmap32* Dst, int32_t X, int32_t Y,
                   uint32_t MasterAlpha);
void FlipHorizontal(raster::TBitmap32* Bitmap);
void FlipVertical(raster::TBitmap32* Bitmap);
void Rotate90(raster::TBitmap32* Bitmap);   // a quarter clockwise
void Rotate180(raster::TBitmap32* Bitmap);
void Rotate270(raster::TBitmap32* Bitmap);  // a quarter counter-clockwise
void InvertAlpha(raster::TBitmap32* Bitmap);

// The largest buffer a shape renders: bigger ones are refused, not attempted.
constexpr int64_t cMaxBufferPixels = int64_t(1) << 26;
constexpr int32_t cMaxBufferSide = 16384;
inline bool BufferSizeAllowed(int64_t W, int64_t H) {
  return W > 0 && H > 0 && W <= cMaxBufferSide && H <= cMaxBufferSide && W * H <= cMaxBufferPixels;
}

}  // namespace document::detail

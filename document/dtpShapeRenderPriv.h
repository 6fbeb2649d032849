// Helpers of the shape rendering code shared by the shape and page units: a canvas over a
// TBitmap32's pixels, copying a TBitmap32 onto a canvas, the bitmap utilities it uses and the
// buffer size limit.
#pragma once

#include <memory>

#include "platform/Graphics.h"
#include "raster/Raster32.h"
#include "raster/dtpUtil.h"

class QImage;

namespace document {
class TdtpShape;
class TdtpPage;
}

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

// The bitmap utilities, under the names the rendering code uses.
inline void MergeBitmapAt(const raster::TBitmap32* Src, raster::TBitmap32* Dst, int32_t X, int32_t Y,
                          uint32_t MasterAlpha) {
  raster::MergeBitmapAt(const_cast<raster::TBitmap32*>(Src), Dst, X, Y, MasterAlpha);
}
inline void FlipHorizontal(raster::TBitmap32* Bitmap) { raster::FlipHorizontal(Bitmap); }
inline void FlipVertical(raster::TBitmap32* Bitmap) { raster::FlipVertical(Bitmap); }
inline void Rotate90(raster::TBitmap32* Bitmap) { raster::Rotate90(Bitmap); }    // a quarter clockwise
inline void Rotate180(raster::TBitmap32* Bitmap) { raster::Rotate180(Bitmap); }
inline void Rotate270(raster::TBitmap32* Bitmap) { raster::Rotate270(Bitmap); }  // counter-clockwise
inline void InvertAlpha(raster::TBitmap32* Bitmap) { raster::InvertAlpha(Bitmap); }

// Off: children are merged into their parent pixel by pixel (tests compare the row-wise merge
// against it).
void SetWideMerge(bool On);

// Off: the page, too, is cleared for GDI, its alpha inverted and fixed up, pass by pass (tests
// compare the single pass against it).
void SetPlainGdiShortcut(bool On);

// Off: a page whose children changed is composed in full again (tests compare the recomposition
// of the changed pixels against it).
void SetRecomposeChanged(bool On);

// The part of Bitmap that the page's background (its colour or checker pattern) covers with
// opaque pixels, under the page's current device matrix; empty when that is not certain (a
// background image). What was there before is never seen.
platform::TRect PageBackgroundCover(TdtpPage* Page, const raster::TBitmap32* Bitmap);

// The parent's ClearBuffer, called when a child changed: the parent's pixels are rebuilt from a
// fresh bitmap before anything reads them, so the base class does not clear them first.
void ClearParentForRebuild(TdtpShape* Parent);

// Pixels per millimetre of the bitmap whose effects are being applied (a shape's buffer, or a
// drawing at the screen's resolution when it has none); 0 outside that.
float DrawingDpm();

// The largest buffer a shape renders: bigger ones are refused, not attempted.
constexpr int64_t cMaxBufferPixels = int64_t(1) << 26;
constexpr int32_t cMaxBufferSide = 16384;
inline bool BufferSizeAllowed(int64_t W, int64_t H) {
  return W > 0 && H > 0 && W <= cMaxBufferSide && H <= cMaxBufferSide && W * H <= cMaxBufferPixels;
}

}  // namespace document::detail

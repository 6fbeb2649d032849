// The GIF raster format of the registry: a TGifGraphic read into and written from a TBitmap32,
// the GIF's transparent colour carried as alpha.
#pragma once

#include "raster/dtpRasterFormats.h"

namespace raster {

class TGifGraphic;

class TdtpGifFormat : public TdtpRaster {
 public:
  TdtpGifFormat() : TdtpRaster(Class()) {}
  static TdtpRasterClass Class();
  void LoadFromStream(platform::TStream* Stream, TBitmap32* Bitmap, platform::TPoint RequestedSize,
                      int32_t PageIndex) override;
  void SaveToStream(platform::TStream* Stream, TBitmap32* Bitmap) override;

  uint8_t AlphaThreshold = 32;          // alpha below this is written transparent
  platform::TColor TransparentColor = 0xFFFFFF;  // the colour stored at the transparent index
};

// Frame 0 of Image as it lands on a cleared bitmap: a lone frame through its transparency
// (untouched pixels alpha 0), the first frame of an animation opaque over black.
void RenderGIFFirstFrame(TGifGraphic& Image, TBitmap32* Bitmap);

// Registers the registry's GIF row (after BMP and JPEG, before PNG).
void InitializeDtpRasterGIF();
void FinalizeDtpRasterGIF();

}  // namespace raster

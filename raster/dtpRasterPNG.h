// The PNG raster format of the registry: TPngGraphic read into and written from a TBitmap32,
// with the image's alpha plane carried both ways.
#pragma once

#include "raster/dtpRasterFormats.h"

namespace raster {

class TdtpPngFormat : public TdtpRaster {
 public:
  TdtpPngFormat() : TdtpRaster(Class()) {}
  static TdtpRasterClass Class();
  void LoadFromStream(platform::TStream* Stream, TBitmap32* Bitmap, platform::TPoint RequestedSize,
                      int32_t PageIndex) override;
  void SaveToStream(platform::TStream* Stream, TBitmap32* Bitmap) override;
};

// Registers the PNG picture class and the registry's PNG row (after GIF's).
void InitializeDtpRasterPNG();
void FinalizeDtpRasterPNG();

}  // namespace raster

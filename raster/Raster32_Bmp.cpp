// The BMP stream of a 32-bit bitmap, through the platform's own BMP codec (the 32-bit alpha
// survives a round trip; every other depth loads opaque, 16-bit files with an alpha mask too).
#include <cstring>

#include "platform/BmpCodec.h"
#include "raster/Raster32.h"

namespace raster {

void TBitmap32::LoadFromStream(platform::TStream* Stream) {
  platform::TBmpLimits limits;
  if (limits.MaxPixels > MaxPixels) limits.MaxPixels = MaxPixels;
  // Decoded completely before the bitmap changes, so a bad file leaves it as it was.
  platform::TBmpImage img = platform::ReadBmp(Stream, limits);
  BeginUpdate();
  try {
    SetSize(img.Width, img.Height);
    if (!Empty()) {
      std::memcpy(FBits, img.Pixels.data(), img.Pixels.size() * sizeof(TColor32));
      // Only a 32-bit file keeps its alpha, as with the class library's bitmap in between.
      if (img.BitCount != 32) ResetAlpha();
    }
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
  Changed();
}

void TBitmap32::SaveToStream(platform::TStream* Stream) const {
  if (Empty())
    platform::WriteBmp(Stream, 0, 0, nullptr, 32);
  else
    platform::WriteBmp(Stream, FWidth, FHeight, FBits, 32);
}

}  // namespace raster

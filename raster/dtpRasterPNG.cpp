#include "raster/dtpRasterPNG.h"

#include <cstring>

#include "raster/PngGraphic.h"

namespace raster {

TdtpRasterClass TdtpPngFormat::Class() {
  static const TdtpRasterClassInfo info{"TdtpPngFormat", [] { return std::make_unique<TdtpPngFormat>(); }, {}};
  return &info;
}

void TdtpPngFormat::LoadFromStream(platform::TStream* Stream, TBitmap32* Bitmap, platform::TPoint,
                                   int32_t PageIndex) {
  if (PageIndex > 0) throw ERasterError(SRequestedNonExistingPage);
  TPngGraphic png;
  png.LoadFromStream(Stream);
  Bitmap->SetSize(png.Width(), png.Height());
  if (Bitmap->Empty()) return;
  // Left-out pixels 0, others their own alpha over their straight colour.
  png.RenderARGB(Bitmap->Bits());
  Bitmap->Changed();
}

void TdtpPngFormat::SaveToStream(platform::TStream* Stream, TBitmap32* Bitmap) {
  // A PNG of no pixels cannot be read back: refused before anything is written.
  if (Bitmap->Empty()) throw ERasterError(SBitmapIsEmpty);
  platform::TBitmap tmp;
  tmp.Assign(Bitmap);
  TPngGraphic png;
  png.Assign(&tmp);
  if (png.Width() > 0 && png.Height() > 0) {
    png.CreateAlpha();
    for (int32_t y = 0; y < png.Height(); ++y) {
      uint8_t* a = png.AlphaScanline(y);
      if (!a) break;
      const TColor32* s = Bitmap->ScanLine(y);
      for (int32_t x = 0; x < png.Width(); ++x) a[x] = static_cast<uint8_t>(s[x] >> 24);
    }
  }
  png.CompressionLevel = 9;
  png.SaveToStream(Stream);
}

void InitializeDtpRasterPNG() {
  InitializePngGraphic();
  RegisterRasterFormat(TdtpPngFormat::Class(), "Portable Network Graphics", ".png;", 0x004F);
}

void FinalizeDtpRasterPNG() { FinalizePngGraphic(); }

}  // namespace raster

// JPEG 2000 through a codec library loaded at run time (OpenJPEG's libopenjp2.so.7). The format
// is registered whether or not the library is found; without it the raster format raises
// "Library for image format not loaded" and the picture class does nothing. All coding goes
// through three entry points over one image record.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Graphics.h"
#include "raster/dtpRasterFormats.h"

namespace raster {

// The record exchanged with the codec entry points.
struct TImageContainer {
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t Reserved1 = 0;
  int32_t Format = 0;  // bits 0-3: planes; 0x10 in bits 4-7: planar instead of interleaved
  uint8_t* Data = nullptr;
  uint8_t* Palette = nullptr;  // 256 x (blue, green, red) or null
  int32_t Reserved2 = 0;
};

using TLibLoadImage = int32_t (*)(const char* FileName, const char* Ext, TImageContainer* Image);
using TLibSaveImage = int32_t (*)(const char* FileName, const char* Ext, TImageContainer* Image);
using TLibFreeImage = int32_t (*)(TImageContainer* Image);

// Loads the library (from the executable's folder, then the system's search path) and looks up
// the entry points; a missing library leaves them null. LibraryPath overrides the file name.
void BindJasperLibrary(const std::string& LibraryPath = {});
void UnbindJasperLibrary();
bool JasperLibraryBound();
// Replaces the entry points (tests drive the record conversion with a stand-in codec).
void SetJasperEntryPoints(TLibLoadImage Load, TLibSaveImage Save, TLibFreeImage Free);

void LoadJ2KBitmap(const std::string& FileName, std::string& ErrorMsg, platform::TBitmap* Bitmap);
void SaveJ2KBitmap(const std::string& FileName, std::string& ErrorMsg, platform::TBitmap* Bitmap);

class TJ2KImage : public TdtpRaster {
 public:
  TJ2KImage() : TdtpRaster(Class()) {}
  static TdtpRasterClass Class();
  void LoadFromFile(const std::string& FileName, TBitmap32* Bitmap, platform::TPoint RequestedSize,
                    int32_t PageIndex) override;
  void SaveToFile(const std::string& FileName, TBitmap32* Bitmap) override;
};

class TJ2KGraphic : public platform::TBitmap {
 public:
  std::string ClassName() const override { return "TJ2KGraphic"; }
  void LoadFromFile(const std::string& FileName) override;
  void SaveToFile(const std::string& FileName) override;
  std::unique_ptr<platform::TGraphic> CreateNew() const override { return std::make_unique<TJ2KGraphic>(); }
};

// Binds the library, then registers the raster format and the "JP2" picture class.
void InitializeDtpRasterJ2K();
void FinalizeDtpRasterJ2K();

}  // namespace raster

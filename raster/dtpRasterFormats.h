// Raster image files for the document engine: a process-wide registry of format classes keyed
// by extension lists and capability flags, and TdtpImageFiler, which picks a format for a file
// name or a stream plus extension and runs one load or save into a TBitmap32. The unit also
// holds the Windows bitmap and JPEG readers. Other formats (PNG, JPEG 2000, GIF) register
// themselves from their own units' Initialize functions.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/Classes.h"
#include "platform/Exceptions.h"
#include "platform/Types.h"
#include "raster/Raster32.h"

namespace raster {

KD_DECLARE_EXCEPTION(ERasterError, platform::Exception);

inline constexpr const char* SInputBitmapNotAssigned = "Input bitmap not assigned";
inline constexpr const char* SMethodNotImplemented = "Method not implemented";
inline constexpr const char* SRequestedNonExistingPage = "Requested non-existing page";
inline constexpr const char* SLibraryNotLoaded = "Library for image format not loaded";
inline constexpr const char* SUnknownRasterFormat = "Unknown raster format \"%s\"";
inline constexpr const char* SBitmapIsEmpty = "Bitmap is empty";
inline constexpr const char* SLoadFromStreamNotImplemented = "Loading from stream is not implemented";

// The message every reader raises when an image's declared size is more than the bytes that
// follow its header can hold at the format's largest compression ratio.
std::string ImageDataTooShortText(int64_t Width, int64_t Height, int64_t Bytes);

using RasterFlags = uint16_t;
inline constexpr RasterFlags rfStreamReader = 0x0001;
inline constexpr RasterFlags rfStreamWriter = 0x0004;
inline constexpr RasterFlags rfWriter = 0x0008;
inline constexpr RasterFlags rfCornerTransparency = 0x0040;

class TdtpRaster;

// A class reference: the class's name, its virtual constructor and its CanLoad class function.
struct TdtpRasterClassInfo {
  std::string ClassName;
  std::function<std::unique_ptr<TdtpRaster>()> Create;
  std::function<bool(platform::TStream*)> CanLoad;  // empty: the base's (always True)
};
using TdtpRasterClass = const TdtpRasterClassInfo*;

class TRasterClassHolder : public platform::TObject {
 public:
  std::string ClassName() const override { return "TRasterClassHolder"; }
  TdtpRasterClass RasterClass = nullptr;
  std::string Description;
  std::string RasterClassName;
  std::string Extensions;
  RasterFlags Flags = 0;
};

void RegisterRasterFormat(TdtpRasterClass RasterClass, const std::string& Description,
                          const std::string& Extensions, RasterFlags Flags);
TdtpRasterClass FindRasterClass(const std::string& FileName);
RasterFlags GetRasterFlags(TdtpRasterClass RasterClass);
// The registry entries in registration order (for tests and the import dialog).
int32_t RasterFormatCount();
const TRasterClassHolder* RasterFormat(int32_t Index);

void LoadRasterFromStream(platform::TStream* Stream, const std::string& Ext, TBitmap32* Bitmap,
                          platform::TPoint RequestedSize, int32_t PageIndex);

// Pictures are written through a temporary file (see platform/Classes.h).
using platform::SaveFileSafely;

class TdtpRaster : public platform::TObject {
 public:
  explicit TdtpRaster(TdtpRasterClass Class);
  std::string ClassName() const override;
  static bool CanLoad(platform::TStream* Stream);

  virtual void LoadFromFile(const std::string& FileName, TBitmap32* Bitmap,
                            platform::TPoint RequestedSize, int32_t PageIndex);
  virtual void LoadFromStream(platform::TStream* Stream, TBitmap32* Bitmap,
                              platform::TPoint RequestedSize, int32_t PageIndex);
  virtual void SaveToStream(platform::TStream* Stream, TBitmap32* Bitmap);
  virtual void SaveToFile(const std::string& FileName, TBitmap32* Bitmap);

  TdtpRasterClass RasterClass() const { return FClass; }
  RasterFlags Flags = 0;
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t PageCount = 1;
  int32_t ByteCount = 0;

 private:
  TdtpRasterClass FClass;
};

class TdtpBmpFormat : public TdtpRaster {
 public:
  TdtpBmpFormat() : TdtpRaster(Class()) {}
  static TdtpRasterClass Class();
  void LoadFromStream(platform::TStream* Stream, TBitmap32* Bitmap, platform::TPoint RequestedSize,
                      int32_t PageIndex) override;
  void SaveToStream(platform::TStream* Stream, TBitmap32* Bitmap) override;
};

class TdtpJpgFormat : public TdtpRaster {
 public:
  TdtpJpgFormat() : TdtpRaster(Class()) {}
  static TdtpRasterClass Class();
  void LoadFromStream(platform::TStream* Stream, TBitmap32* Bitmap, platform::TPoint RequestedSize,
                      int32_t PageIndex) override;
  // The decoder's progress event; reading needs no progress.
  void JpegProgress(platform::TObject* /*Sender*/) {}
};

class TdtpImageFiler : public platform::TObject {
 public:
  TdtpImageFiler();
  ~TdtpImageFiler() override;
  std::string ClassName() const override { return "TdtpImageFiler"; }

  void DetectFormat();
  bool UsesStream() const;
  static TdtpRasterClass FindWriterClass(const std::string& Ext);
  void Load(TBitmap32* Bitmap);
  void Save(TBitmap32* Bitmap);

  std::string Extension;
  std::string FileName;
  int32_t RequestedWidth = 4000;
  int32_t RequestedHeight = 4000;
  int32_t PageIndex = 0;
  int32_t PageCount = 0;
  std::unique_ptr<TdtpRaster> Raster;
  platform::TStream* Stream = nullptr;
  int32_t ByteCount = 0;
};

// Registers BMP and JPEG (the registry's first two rows) and the JPEG picture class.
// Start-up order: InitializeDtpRasterFormats, then the GIF unit's own initializer (hook: it
// registers the third row, TdtpGifFormat "Compuserve GIF" ".gif;" 0x086F, when that unit
// exists), then InitializeDtpRasterPNG, then InitializeDtpRasterJ2K.
void InitializeDtpRasterFormats();
void FinalizeDtpRasterFormats();

}  // namespace raster

// TJPEGImage: a picture class holding a JPEG file's bytes, decoded by libjpeg into a TBitmap on
// demand (at full, half, quarter or eighth scale; CMYK files converted to RGB) and encoded back
// from a bitmap on save. Several images can share one set of bytes after Assign.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/Graphics.h"

namespace raster {

class TBitmap32;
struct TDecoded;
struct TDecodeHooks;

class EJPEG : public platform::EInvalidGraphic {
 public:
  explicit EJPEG(std::string message) : platform::EInvalidGraphic(std::move(message)) {}
};

enum TJPEGScale : uint8_t { jsFullSize, jsHalf, jsQuarter, jsEighth };
enum TJPEGPerformance : uint8_t { jpBestQuality, jpBestSpeed };
enum TJPEGPixelFormat : uint8_t { jf24Bit, jf8Bit };

struct TJPEGData {
  std::vector<uint8_t> Bytes;
  int32_t Width = 0;
  int32_t Height = 0;
  bool Grayscale = false;
  bool CMYK = false;
  bool Progressive = false;
};

class TJPEGImage : public platform::TGraphic {
 public:
  TJPEGImage();
  ~TJPEGImage() override;
  std::string ClassName() const override { return "TJPEGImage"; }

  void Assign(const platform::TPersistent* Source) override;
  void AssignTo(platform::TPersistent* Dest) const override;
  bool Empty() const override;
  int32_t Width() const override;
  int32_t Height() const override;
  void SetWidth(int32_t) override;
  void SetHeight(int32_t) override;
  void LoadFromStream(platform::TStream* Stream) override;
  void SaveToStream(platform::TStream* Stream) override;
  void Draw(platform::TCanvas* Canvas, const platform::TRect& R) override;
  std::unique_ptr<platform::TGraphic> CreateNew() const override;
  bool Equals(const platform::TGraphic* Other) const override;

  // Decodes on first use with the current options.
  platform::TBitmap* Bitmap();
  // Decodes straight into a 32-bit surface (opaque), as the raster format reads.
  void DecodeTo32(TBitmap32* Dest);
  // Encodes the held bitmap when there are no bytes yet. Reports psStarting (0), psRunning
  // with the encoder's percentage (throttled as on decoding) and psEnding (100, or 0 after a
  // failure) through OnProgress.
  void Compress();
  // The form-resource form of the bytes: a 32-bit length, then the JPEG bytes (length 0 for an
  // empty image). Reading checks the length against the stream.
  virtual void ReadData(platform::TStream* Stream);
  virtual void WriteData(platform::TStream* Stream);

  TJPEGScale Scale() const { return FScale; }
  void SetScale(TJPEGScale Value);
  TJPEGPerformance Performance() const { return FPerformance; }
  void SetPerformance(TJPEGPerformance Value);
  bool Grayscale() const { return FGrayscale; }
  void SetGrayscale(bool Value);
  bool Smoothing() const { return FSmoothing; }
  void SetSmoothing(bool Value);
  int32_t CompressionQuality() const { return FCompressionQuality; }
  void SetCompressionQuality(int32_t Value) { FCompressionQuality = Value < 1 ? 1 : Value > 100 ? 100 : Value; }
  bool ProgressiveEncoding() const { return FProgressiveEncoding; }
  void SetProgressiveEncoding(bool Value) { FProgressiveEncoding = Value; }
  bool InvertedCMYK() const { return FInvertedCMYK; }
  void SetInvertedCMYK(bool Value);
  // jf8Bit: colour images decode into an 8-bit bitmap of at most 236 colours (octree palette,
  // Floyd-Steinberg mapping; nearest colour with jpBestSpeed). Grey output is always 8 bits
  // with the 256-level grey ramp, holding the decoder's grey values unchanged.
  TJPEGPixelFormat PixelFormat() const { return FPixelFormat; }
  void SetPixelFormat(TJPEGPixelFormat Value);
  // Files of several scans decode pass by pass, each pass drawn into the bitmap and reported
  // through OnProgress with RedrawNow; the last pass has the chosen quality.
  bool ProgressiveDisplay() const { return FProgressiveDisplay; }
  void SetProgressiveDisplay(bool Value);
  const TJPEGData& Data() const { return *FData; }

  // Decoding reports psStarting (0), psRunning with the decoder's percentage (at most once
  // per ProgressInterval ms and only when it changed; every pass of a progressive display),
  // and psEnding (100, or 0 after a failure).
  platform::TProgressEvent OnProgress;
  int32_t ProgressInterval = 500;

 protected:
  // "Data" is stored when the image is not empty (no ancestor), always (an ancestor that is
  // no graphic), or when it differs from a graphic ancestor (Equals).
  void DefineProperties(platform::TFiler* Filer) override;

 private:
  // Takes Size bytes from Stream as the image's new bytes and reads their header.
  void ReadStream(int64_t Size, platform::TStream* Stream);
  void ReadHeader();
  // Decodes the bytes with the current options; raises EJPEG on failure.
  void Decode(TDecoded& D, TDecodeHooks* Hooks = nullptr) const;
  void Progress(platform::TProgressStage Stage, int Percent, bool RedrawNow, int32_t Rows);
  void FreeBitmap();
  void FreeDecoded();
  void CalcScaledSize() const;
  std::shared_ptr<TJPEGData> FData;
  std::unique_ptr<platform::TBitmap> FBitmap;
  mutable int32_t FScaledWidth = 0;
  mutable int32_t FScaledHeight = 0;
  mutable bool FNeedRecalc = true;
  bool FSmoothing = true;
  bool FGrayscale = false;
  TJPEGPixelFormat FPixelFormat = jf24Bit;
  int32_t FCompressionQuality = 90;
  bool FProgressiveEncoding = false;
  TJPEGPerformance FPerformance = jpBestQuality;
  TJPEGScale FScale = jsFullSize;
  bool FInvertedCMYK = true;
  bool FProgressiveDisplay = false;
  int64_t FLastTick = -1;
  int FLastPercent = -1;
};

// CMYK to RGB in place over Count 4-byte pixels (the fourth byte is kept).
void ConvertCMYKRows(uint8_t* Pixels, int64_t Count, bool Inverted);

void InitializeJpegGraphic();
void FinalizeJpegGraphic();

}  // namespace raster

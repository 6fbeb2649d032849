// Decoding of picture files held in memory (GIF, PNG, JPEG, BMP, ...) into an image that keeps
// its transparency, for components that draw pictures by location.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/Types.h"

class QImage;

namespace platform {

class TCanvas;

enum class TDecodeResult : uint8_t { Ok, InvalidFormat, TooLarge };

class TDecodedImage {
 public:
  TDecodedImage();
  ~TDecodedImage();
  TDecodedImage(const TDecodedImage&) = delete;
  TDecodedImage& operator=(const TDecodedImage&) = delete;
  // The size is read from the header first; more than MaxPixels pixels is refused before any
  // pixel memory is allocated.
  TDecodeResult Decode(const uint8_t* Data, size_t Size, int64_t MaxPixels);
  void Clear();
  bool Empty() const;
  int32_t Width() const;
  int32_t Height() const;
  // Stretched into R, blended by its alpha.
  void Draw(TCanvas* Canvas, const TRect& R) const;
  // Pixels outside Keep, and every pixel with no opacity, become transparent black: for a
  // picture whose data covers only part of its area, the rest is transparent, whatever the
  // decoder left there.
  void ClearOutside(const TRect& Keep);
  // $00BBGGRR of a pixel with its alpha in the top byte (tests).
  uint32_t PixelARGB(int32_t X, int32_t Y) const;

 private:
  std::unique_ptr<QImage> FImage;
};

}  // namespace platform

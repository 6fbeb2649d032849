// libFuzzer target of the BMP reader: decode with production limits, touch every pixel, and
// load through the 32-bit bitmap's stream as well.
#include <cstddef>
#include <cstdint>

#include "platform/BmpCodec.h"
#include "platform/Classes.h"
#include "platform/Graphics.h"
#include "raster/Raster32.h"

namespace {

void FuzzBmp(const uint8_t* data, size_t size) {
  try {
    platform::TBmpImage img = platform::DecodeBmp(data, size);
    volatile uint32_t sink = 0;
    for (uint32_t p : img.Pixels) sink = sink + p;
    if (img.Pixels.size() != static_cast<size_t>(img.Width) * static_cast<size_t>(img.Height)) __builtin_trap();
  } catch (const platform::EBmpError&) {
  }
  try {
    // Palette files keep their indices, which must agree with the colours decoded.
    platform::TBmpLimits limits;
    limits.KeepIndices = true;
    platform::TBmpImage img = platform::DecodeBmp(data, size, limits);
    if (img.BitCount <= 8 && !img.Pixels.empty()) {
      if (img.Indices.size() != img.Pixels.size()) __builtin_trap();
      for (size_t i = 0; i < img.Pixels.size(); ++i) {
        uint8_t x = img.Indices[i];
        uint32_t want = x < img.Palette.size() ? 0xFF000000u | img.Palette[x] : 0xFF000000u;
        if (img.Pixels[i] != want) __builtin_trap();
      }
    }
  } catch (const platform::EBmpError&) {
  }
  try {
    // The class library's bitmap keeps palette files as palette bitmaps and writes them back.
    platform::TMemoryStream s;
    s.WriteBuffer(data, static_cast<int32_t>(size));
    s.SetPosition(0);
    platform::TBitmap b;
    b.LoadFromStream(&s);
    platform::TMemoryStream out;
    b.SaveToStream(&out);
  } catch (const platform::Exception&) {
  }
  try {
    platform::TMemoryStream s;
    s.WriteBuffer(data, static_cast<int32_t>(size));
    s.SetPosition(0);
    raster::TBitmap32 b;
    b.LoadFromStream(&s);
    platform::TMemoryStream out;
    b.SaveToStream(&out);
  } catch (const platform::Exception&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  FuzzBmp(data, size);
  return 0;
}

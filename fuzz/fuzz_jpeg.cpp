// libFuzzer target of the JPEG wrapper: header parse, decode at full and reduced scale, every
// pixel read; straight into a 32-bit surface, and through the decoded bitmap (24 bits and the
// 8-bit quantised form) as the raster format reads with its progress event set.
#include <cstddef>
#include <cstdint>

#include "platform/Classes.h"
#include "raster/JpegGraphic.h"
#include "raster/Raster32.h"

namespace {

void FuzzJpeg(const uint8_t* data, size_t size) {
  for (int scale : {0, 3}) {
    platform::TMemoryStream s;
    if (size) s.WriteBuffer(data, static_cast<int32_t>(size));
    s.SetPosition(0);
    raster::TJPEGImage j;
    try {
      j.LoadFromStream(&s);
      j.SetScale(static_cast<raster::TJPEGScale>(scale));
      raster::TBitmap32 b;
      j.DecodeTo32(&b);
      volatile uint32_t sink = 0;
      for (int64_t i = 0; i < static_cast<int64_t>(b.Width()) * b.Height(); ++i) sink = sink + b.Bits()[i];
    } catch (const platform::Exception&) {
    }
  }
  for (int eight : {0, 1}) {
    platform::TMemoryStream s;
    if (size) s.WriteBuffer(data, static_cast<int32_t>(size));
    s.SetPosition(0);
    raster::TJPEGImage j;
    try {
      j.LoadFromStream(&s);
      if (eight) j.SetPixelFormat(raster::jf8Bit);
      j.OnProgress = [](platform::TObject*, platform::TProgressStage, uint8_t, bool, const platform::TRect&,
                        const std::string&) {};
      raster::TBitmap32 b;
      j.DecodeTo32(&b);
      volatile uint32_t sink = 0;
      for (int64_t i = 0; i < static_cast<int64_t>(b.Width()) * b.Height(); ++i) sink = sink + b.Bits()[i];
    } catch (const platform::Exception&) {
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  FuzzJpeg(data, size);
  return 0;
}

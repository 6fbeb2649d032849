// GIF reading must end in a GIF or stream exception or a model, never a crash or a hang;
// whatever loads must also save.
#include <cstddef>
#include <cstdint>

#include "platform/Classes.h"
#include "raster/GifGraphic.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  platform::TMemoryStream s;
  if (Size > 0) s.WriteBuffer(Data, static_cast<int32_t>(Size));
  s.SetPosition(0);
  raster::TGifGraphic gif;
  try {
    gif.LoadFromStream(&s);
    // Writing huge mostly-empty frames back only costs time; small ones exercise the encoder.
    int64_t pixels = 0;
    for (int32_t i = 0; i < gif.Count(); ++i) pixels += static_cast<int64_t>(gif.Images(i)->Data.size());
    if (pixels <= (1 << 20)) {
      platform::TMemoryStream out;
      gif.SaveToStream(&out);
    }
  } catch (const platform::Exception&) {
  }
  return 0;
}

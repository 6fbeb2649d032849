// libFuzzer target of the PNG codec: read with production limits, touch every rendered pixel,
// then write the image again and read the result back.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/Classes.h"
#include "raster/PngGraphic.h"

namespace {

void FuzzPng(const uint8_t* data, size_t size) {
  platform::TMemoryStream s;
  if (size) s.WriteBuffer(data, static_cast<int32_t>(size));
  s.SetPosition(0);
  raster::TPngGraphic png;
  try {
    png.LoadFromStream(&s);
  } catch (const platform::Exception&) {
    return;
  }
  if (png.Width() <= 0 || png.Height() <= 0) return;
  try {
    std::vector<uint32_t> px(static_cast<size_t>(png.Width()) * png.Height());
    png.RenderARGB(px.data());
    volatile uint32_t sink = 0;
    for (uint32_t p : px) sink = sink + p;
    platform::TMemoryStream out;
    png.SaveToStream(&out);
    out.SetPosition(0);
    raster::TPngGraphic again;
    again.LoadFromStream(&out);
    if (again.Width() != png.Width()) __builtin_trap();
  } catch (const platform::Exception&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  FuzzPng(data, size);
  return 0;
}

// libFuzzer target of the metafile player: load, then play into a small bitmap with and
// without the override, so that every accepted record is also drawn.
#include <cstddef>
#include <cstdint>

#include "document/dtpEmfPlayer.h"
#include "platform/Graphics.h"

namespace {

void FuzzEmf(const uint8_t* data, size_t size) {
  try {
    document::TEmfPicture pic;
    pic.LoadFromBytes(data, size);
    platform::TBitmap b;
    b.SetPixelFormat(platform::pf32bit);
    b.SetSize(64, 48);
    document::TEmfPlayer(pic, b.Canvas(), platform::TRect{0, 0, 64, 48}).Play();
    platform::TPen pen;
    platform::TBrush brush;
    document::TEmfPlayer(pic, b.Canvas(), platform::TRect{2, 2, 60, 40}).Play(&pen, &brush);
  } catch (const document::EEmfError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 16)) return 0;
  FuzzEmf(data, size);
  return 0;
}

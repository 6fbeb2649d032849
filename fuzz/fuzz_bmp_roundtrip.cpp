// Round-trip fuzz target of the BMP writer: the input gives a size and the pixels of a 32-bit
// bitmap; it is written as BMP (32 bits through the bitmap's stream, 24 bits through the codec)
// and read back. 32 bits return exactly, alpha included (a file whose alpha is 0 everywhere is
// read as opaque, the convention for 32-bit files written without alpha); 24 bits return the
// colours, opaque.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "platform/BmpCodec.h"
#include "platform/Classes.h"
#include "raster/Raster32.h"

namespace {

// Names the failed check's line before stopping, so that a finding is read at a glance.
void Check(bool ok, int line = __builtin_LINE()) {
  if (ok) return;
  std::fprintf(stderr, "round trip check failed at line %d\n", line);
  __builtin_trap();
}

void RoundTrip(const uint8_t* data, size_t size) {
  size_t at = 0;
  auto next = [&]() -> uint8_t { return at < size ? data[at++] : 0; };
  const int32_t w = next() % 40, h = next() % 40;  // 0 x 0 included
  std::vector<uint32_t> px(static_cast<size_t>(w) * h);
  for (uint32_t& p : px) p = uint32_t{next()} << 24 | uint32_t{next()} << 16 | uint32_t{next()} << 8 | next();
  bool anyAlpha = false;
  for (uint32_t p : px) anyAlpha |= (p >> 24) != 0;

  raster::TBitmap32 src;
  src.SetSize(w, h);
  if (!src.Empty()) std::copy(px.begin(), px.end(), src.Bits());
  platform::TMemoryStream s;
  src.SaveToStream(&s);
  s.SetPosition(0);
  raster::TBitmap32 back;
  back.LoadFromStream(&s);
  Check(s.GetPosition() == s.GetSize());
  Check(back.Width() == (src.Empty() ? 0 : w) && back.Height() == (src.Empty() ? 0 : h));
  for (size_t i = 0; i < px.size() && !src.Empty(); ++i)
    Check(back.Bits()[i] == (anyAlpha ? px[i] : px[i] | 0xFF000000u));

  std::vector<uint8_t> f24 = platform::EncodeBmp(w, h, px.data(), 24);
  platform::TBmpImage img = platform::DecodeBmp(f24.data(), f24.size());
  const bool none = px.empty();
  Check(img.Width == (none ? 0 : w) && img.Height == (none ? 0 : h) && img.BitCount == 24 && !img.HasAlpha);
  for (size_t i = 0; i < px.size(); ++i) Check(img.Pixels[i] == (px[i] | 0xFF000000u));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 16)) return 0;
  try {
    RoundTrip(data, size);
  } catch (const platform::Exception&) {
    __builtin_trap();  // nothing here may fail
  }
  return 0;
}

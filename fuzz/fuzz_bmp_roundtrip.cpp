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

  // Palette files of every depth: indices and colour table come back exactly, and the colours
  // are the table's (black beyond it).
  for (int bpp : {1, 4, 8}) {
    const size_t entries = next() % ((size_t{1} << bpp) + 1);
    std::vector<uint32_t> pal(entries);
    for (uint32_t& c : pal) c = uint32_t{next()} << 16 | uint32_t{next()} << 8 | next();
    const int64_t stride = (int64_t{w} * bpp + 31) / 32 * 4;
    std::vector<uint8_t> rows(static_cast<size_t>(stride * h) + 1, 0);
    std::vector<uint8_t> idx(px.size());
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) {
        uint8_t v = static_cast<uint8_t>(next() & ((1u << bpp) - 1));
        idx[static_cast<size_t>(y) * w + x] = v;
        int64_t bit = int64_t{x} * bpp;
        rows[static_cast<size_t>(y * stride + bit / 8)] |= static_cast<uint8_t>(v << (8 - bpp - bit % 8));
      }
    std::vector<uint8_t> f = platform::EncodeBmpIndexed(w, h, rows.data(), stride, bpp, pal);
    platform::TBmpLimits keep;
    keep.KeepIndices = true;
    platform::TBmpImage pi = platform::DecodeBmp(f.data(), f.size(), keep);
    Check(pi.BitCount == bpp);
    if (none) continue;
    Check(pi.Width == w && pi.Height == h && pi.Indices == idx && pi.Palette == pal);
    for (size_t i = 0; i < idx.size(); ++i)
      Check(pi.Pixels[i] == (0xFF000000u | (idx[i] < pal.size() ? pal[idx[i]] : 0)));
  }
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

// Round-trip fuzz target of the JPEG writer. The input gives a size, quality, grey/progressive
// options and the pixels of a bitmap; it is encoded, decoded and checked:
// - the decoded size is the bitmap's, every pixel opaque;
// - at quality 100 in grey (quantisation steps of 1, no chroma subsampling) each pixel is the
//   source's luma within the rounding of the transforms;
// - at quality 100 an image of one colour returns that colour within the rounding of the
//   colour conversion (which catches any mix-up of the channels).
// A second generation is not compared with the first: clamping the ringing of a small, sharp
// image to 0..255 changes its coefficients, so JPEG gives no tight bound there.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "platform/Classes.h"
#include "platform/Graphics.h"
#include "raster/JpegGraphic.h"
#include "raster/Raster32.h"

namespace {

// Names the failed check's line before stopping, so that a finding is read at a glance.
void Check(bool ok, int line = __builtin_LINE()) {
  if (ok) return;
  std::fprintf(stderr, "round trip check failed at line %d\n", line);
  __builtin_trap();
}

struct TOptions {
  int Quality;
  bool Grey;
  bool Progressive;
};

// Encodes W x H pixels (0xAARRGGBB) and decodes the result into Out.
void EncodeDecode(const std::vector<uint32_t>& Px, int32_t W, int32_t H, const TOptions& O, raster::TBitmap32& Out) {
  platform::TBitmap bmp;
  bmp.SetPixelFormat(platform::pf24bit);
  bmp.SetSize(W, H);
  for (int32_t y = 0; y < H; ++y) {
    uint8_t* r = static_cast<uint8_t*>(bmp.ScanLine(y));
    for (int32_t x = 0; x < W; ++x, r += 3) {
      uint32_t p = Px[static_cast<size_t>(y) * W + x];
      r[0] = p & 0xFF;
      r[1] = (p >> 8) & 0xFF;
      r[2] = (p >> 16) & 0xFF;
    }
  }
  raster::TJPEGImage enc;
  enc.SetCompressionQuality(O.Quality);
  enc.SetGrayscale(O.Grey);
  enc.SetProgressiveEncoding(O.Progressive);
  enc.Assign(&bmp);
  platform::TMemoryStream s;
  enc.SaveToStream(&s);
  s.SetPosition(0);
  raster::TJPEGImage dec;
  dec.LoadFromStream(&s);
  Check(dec.Width() == W && dec.Height() == H && dec.Data().Grayscale == O.Grey);
  dec.DecodeTo32(&Out);
  Check(Out.Width() == W && Out.Height() == H);
}

int Channel(uint32_t p, int c) { return static_cast<int>((p >> (8 * c)) & 0xFF); }

// libjpeg's luma: 0.299 R + 0.587 G + 0.114 B, rounded.
int Luma(uint32_t p) { return (19595 * Channel(p, 2) + 38470 * Channel(p, 1) + 7471 * Channel(p, 0) + 32768) >> 16; }

void RoundTrip(const uint8_t* data, size_t size) {
  size_t at = 0;
  auto next = [&]() -> uint8_t { return at < size ? data[at++] : 0; };
  const int32_t w = 1 + next() % 48, h = 1 + next() % 48;
  const uint8_t opt = next();
  TOptions o{1 + next() % 100, (opt & 1) != 0, (opt & 2) != 0};
  if (opt & 4) o.Quality = 100;
  const bool flat = (opt & 8) != 0;
  std::vector<uint32_t> px(static_cast<size_t>(w) * h);
  for (uint32_t& p : px) p = uint32_t{next()} << 16 | uint32_t{next()} << 8 | next();
  if (flat) std::fill(px.begin(), px.end(), px[0]);

  raster::TBitmap32 first;
  EncodeDecode(px, w, h, o, first);
  for (int32_t i = 0; i < w * h; ++i) Check(first.Bits()[i] >> 24 == 0xFF);
  if (o.Grey && o.Quality == 100) {
    for (int32_t i = 0; i < w * h; ++i) {
      uint32_t p = px[static_cast<size_t>(i)];
      int y = Luma(p);
      uint32_t q = first.Bits()[i];
      Check(Channel(q, 0) == Channel(q, 1) && Channel(q, 1) == Channel(q, 2));
      Check(std::abs(Channel(q, 0) - y) <= 2);
    }
  }
  if (flat && !o.Grey && o.Quality == 100) {
    // One colour everywhere: only the DC terms carry it, so colour conversion is all that
    // separates the result from the source.
    for (int32_t i = 0; i < w * h; ++i)
      for (int c = 0; c < 3; ++c) Check(std::abs(Channel(first.Bits()[i], c) - Channel(px[0], c)) <= 3);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 16)) return 0;
  try {
    RoundTrip(data, size);
  } catch (const platform::Exception&) {
    __builtin_trap();  // encoding a bitmap and reading it back may not fail
  }
  return 0;
}

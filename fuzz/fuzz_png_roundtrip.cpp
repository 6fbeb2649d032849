// Round-trip fuzz target of the PNG writer. The input chooses a colour type, bit depth, size,
// interlace method, row filters, compression level and transparency and supplies the samples;
// a file of that form is built with zlib, read, written again by our writer and read back: the
// decoded image memory (pixels, alpha plane, colour table, transparency) must be the same. The 32-bit bitmap's path through
// the raster format is checked too: each pixel returns with its alpha and its colour blended
// over black, exactly.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/Classes.h"
#include "raster/PngGraphic.h"
#include "raster/Raster32.h"
#include "raster/dtpRasterPNG.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct TInput {
  const uint8_t* P;
  size_t N;
  size_t At = 0;
  uint8_t Next() { return At < N ? P[At++] : 0; }
};

void PutBE(Bytes& b, uint32_t v) {
  for (int i = 3; i >= 0; --i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void AddChunk(Bytes& f, const char* name, const Bytes& data) {
  PutBE(f, static_cast<uint32_t>(data.size()));
  f.insert(f.end(), name, name + 4);
  f.insert(f.end(), data.begin(), data.end());
  uLong crc = crc32(0, reinterpret_cast<const Bytef*>(name), 4);
  if (!data.empty()) crc = crc32(crc, data.data(), static_cast<uInt>(data.size()));
  PutBE(f, static_cast<uint32_t>(crc));
}

uint32_t Channels(uint8_t ct) { return ct == 2 ? 3 : ct == 4 ? 2 : ct == 6 ? 4 : 1; }

constexpr uint32_t kStartCol[7] = {0, 4, 0, 2, 0, 1, 0};
constexpr uint32_t kStartRow[7] = {0, 0, 4, 0, 2, 0, 1};
constexpr uint32_t kColStep[7] = {8, 8, 4, 4, 2, 2, 1};
constexpr uint32_t kRowStep[7] = {8, 8, 8, 4, 4, 2, 2};

// Filtered rows (filter type None) of samples taken from the input, in either order.
Bytes RawRows(TInput& in, uint32_t w, uint32_t h, uint8_t ct, uint8_t bd, bool adam7) {
  Bytes raw;
  auto rows = [&](uint32_t cols, uint32_t count) {
    uint32_t rowBytes = (cols * bd * Channels(ct) + 7) / 8;
    if (rowBytes == 0) return;
    for (uint32_t r = 0; r < count; ++r) {
      raw.push_back(0);
      for (uint32_t i = 0; i < rowBytes; ++i) raw.push_back(in.Next());
    }
  };
  if (!adam7) {
    rows(w, h);
  } else {
    for (int p = 0; p < 7; ++p) {
      uint32_t cols = w > kStartCol[p] ? (w - kStartCol[p] + kColStep[p] - 1) / kColStep[p] : 0;
      uint32_t count = h > kStartRow[p] ? (h - kStartRow[p] + kRowStep[p] - 1) / kRowStep[p] : 0;
      rows(cols, count);
    }
  }
  return raw;
}

void Load(raster::TPngGraphic& png, const Bytes& f) {
  platform::TMemoryStream s;
  s.WriteBuffer(f.data(), static_cast<int32_t>(f.size()));
  s.SetPosition(0);
  png.LoadFromStream(&s);
}

Bytes Save(raster::TPngGraphic& png) {
  platform::TMemoryStream s;
  png.SaveToStream(&s);
  Bytes b(static_cast<size_t>(s.GetSize()));
  s.SetPosition(0);
  s.ReadBuffer(b.data(), static_cast<int32_t>(b.size()));
  return b;
}

// Names the failed check's line before stopping, so that a finding is read at a glance.
void Check(bool ok, int line = __builtin_LINE()) {
  if (ok) return;
  std::fprintf(stderr, "round trip check failed at line %d\n", line);
  __builtin_trap();
}

void CodecRoundTrip(TInput& in) {
  static const uint8_t kForms[][2] = {{0, 1}, {0, 2}, {0, 4}, {0, 8}, {0, 16}, {2, 8}, {2, 16}, {3, 1},
                                      {3, 2}, {3, 4}, {3, 8}, {4, 8}, {4, 16}, {6, 8}, {6, 16}};
  const uint8_t* form = kForms[in.Next() % 15];
  const uint8_t ct = form[0], bd = form[1];
  const uint32_t w = 1 + in.Next() % 40, h = 1 + in.Next() % 40;
  const uint8_t opts = in.Next();
  const bool adam7 = opts & 1;
  Bytes f = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  Bytes ihdr;
  PutBE(ihdr, w);
  PutBE(ihdr, h);
  ihdr.insert(ihdr.end(), {bd, ct, 0, 0, static_cast<uint8_t>(adam7)});
  AddChunk(f, "IHDR", ihdr);
  if (ct == 3) {
    Bytes plte(3 * (1u << (bd > 8 ? 8 : bd)));
    for (uint8_t& b : plte) b = in.Next();
    AddChunk(f, "PLTE", plte);
  }
  // Optional transparency: a palette's alpha values, or the one transparent grey or RGB colour.
  if ((opts & 0x80) && (ct == 0 || ct == 2 || ct == 3)) {
    uint32_t n = ct == 0 ? 2 : ct == 2 ? 6 : 1 + in.Next() % (1u << (bd > 8 ? 8 : bd));
    Bytes trns(n);
    for (uint8_t& b : trns) b = in.Next();
    AddChunk(f, "tRNS", trns);
  }
  Bytes raw = RawRows(in, w, h, ct, bd, adam7);
  uLongf zn = compressBound(static_cast<uLong>(raw.size()));
  Bytes z(zn);
  compress2(z.data(), &zn, raw.data(), static_cast<uLong>(raw.size()), 6);
  z.resize(zn);
  AddChunk(f, "IDAT", z);
  AddChunk(f, "IEND", {});

  raster::TPngGraphic first;
  Load(first, f);
  // The writer's own choices: filters, level, interlace (a re-interlaced image must decode the same).
  first.Filters = static_cast<raster::TFilters>((opts >> 1) & 0x1F);
  first.CompressionLevel = ((opts >> 6) & 1) * 9;
  if (in.Next() & 1) first.InterlaceMethod = static_cast<uint8_t>(1 - first.InterlaceMethod);
  Bytes written = Save(first);
  raster::TPngGraphic second;
  Load(second, written);
  const raster::TChunkIHDR* a = first.Header();
  const raster::TChunkIHDR* b = second.Header();
  Check(a->Width == b->Width && a->Height == b->Height && a->ColorType == b->ColorType);
  Check(b->BitDepth == (a->BitDepth == 2 ? 4 : a->BitDepth));
  // Rows compared over their pixels only: the padding bits of a sequential row's last byte
  // travel as they are, an interlaced row's are zero.
  const uint32_t bits = static_cast<uint32_t>(a->BitsPerPixel) * a->Width;
  for (uint32_t y = 0; y < a->Height; ++y) {
    const uint8_t* ra = first.Scanline(static_cast<int32_t>(y));
    const uint8_t* rb = second.Scanline(static_cast<int32_t>(y));
    Check(std::memcmp(ra, rb, bits / 8) == 0);
    if (bits % 8) {
      uint8_t mask = static_cast<uint8_t>(0xFF00 >> (bits % 8));
      Check((ra[bits / 8] & mask) == (rb[bits / 8] & mask));
    }
  }
  Check(a->ImageAlpha == b->ImageAlpha);
  if (ct == 3) {
    auto* pa = first.FindChunk<raster::TChunkPLTE>();
    auto* pb = second.FindChunk<raster::TChunkPLTE>();
    Check(pa && pb && pa->Count == pb->Count);
    for (uint32_t i = 0; i < pa->Count; ++i) Check(a->Palette[i] == b->Palette[i]);
  }
  auto* ta = first.FindChunk<raster::TChunktRNS>();
  auto* tb = second.FindChunk<raster::TChunktRNS>();
  Check(!ta == !tb);
  if (ta) Check(ta->PaletteValues == tb->PaletteValues && ta->BitTransparency == tb->BitTransparency);
  std::vector<uint32_t> ca(static_cast<size_t>(a->Width) * a->Height), cb(ca.size());
  first.RenderARGB(ca.data());
  second.RenderARGB(cb.data());
  Check(ca == cb);
}

void FormatRoundTrip(TInput& in) {
  const int32_t w = 1 + in.Next() % 24, h = 1 + in.Next() % 24;
  raster::TBitmap32 src;
  src.SetSize(w, h);
  for (int32_t i = 0; i < w * h; ++i) {
    uint32_t v = 0;
    for (int k = 0; k < 4; ++k) v = (v << 8) | in.Next();
    src.Bits()[i] = v;
  }
  platform::TMemoryStream s;
  raster::TdtpPngFormat().SaveToStream(&s, &src);
  s.SetPosition(0);
  raster::TBitmap32 back;
  raster::TdtpPngFormat().LoadFromStream(&s, &back, {0, 0}, 0);
  Check(back.Width() == w && back.Height() == h);
  for (int32_t i = 0; i < w * h; ++i) {
    // Straight colours: every pixel comes back as it was written.
    Check(back.Bits()[i] == src.Bits()[i]);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > (1u << 16)) return 0;
  TInput in{data + 1, size - 1};
  try {
    if (data[0] & 1)
      FormatRoundTrip(in);
    else
      CodecRoundTrip(in);
  } catch (const platform::Exception&) {
    // Building the image never fails, so any codec error on the way is a fault.
    __builtin_trap();
  }
  return 0;
}

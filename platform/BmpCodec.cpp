#include "platform/BmpCodec.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <string>

namespace platform {

namespace {

constexpr uint32_t BI_RGB = 0;
constexpr uint32_t BI_RLE8 = 1;
constexpr uint32_t BI_RLE4 = 2;
constexpr uint32_t BI_BITFIELDS = 3;
constexpr uint32_t BI_ALPHABITFIELDS = 6;

constexpr size_t kFileHeaderSize = 14;

[[noreturn]] void Fail(const std::string& detail) {
  throw EBmpError("Bitmap image is not valid: " + detail);
}

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t U32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
int32_t I32(const uint8_t* p) { return static_cast<int32_t>(U32(p)); }

void Put16(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  v[at] = x & 0xFF;
  v[at + 1] = (x >> 8) & 0xFF;
}
void Put32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  for (int i = 0; i < 4; ++i) v[at + i] = (x >> (8 * i)) & 0xFF;
}

// One channel described by a bit mask: its position and width, and the 8-bit scaling.
struct Channel {
  uint32_t mask = 0;
  int shift = 0;
  int bits = 0;

  static Channel From(uint32_t mask, const char* name) {
    Channel c;
    c.mask = mask;
    if (mask == 0) return c;
    c.shift = std::countr_zero(mask);
    c.bits = std::popcount(mask);
    if ((mask >> c.shift) != ((c.bits == 32) ? 0xFFFFFFFFu : ((1u << c.bits) - 1)))
      Fail(std::string("the ") + name + " bit mask is not contiguous");
    return c;
  }
  // Value scaled to 0..255; an absent channel reads as Absent.
  uint8_t Get(uint32_t v, uint8_t absent) const {
    if (bits == 0) return absent;
    uint32_t x = (v & mask) >> shift;
    if (bits >= 8) return static_cast<uint8_t>(x >> (bits - 8));
    // Bit replication (5 bits abcde -> abcdeabc), as other readers widen short channels.
    uint32_t r = x << (8 - bits);
    for (int s = bits; s < 8; s *= 2) r |= r >> s;
    return static_cast<uint8_t>(r);
  }
};

// Walks run-length pixel data of Size bytes for a W x H picture, handing Put (x, file row, colour
// index) every pixel that lies inside it (file rows count from the bottom). Returns how many bytes
// the codes take up to where the picture ends: an end-of-bitmap code, the end of the last row, or
// the end of the data; Size + 1 when an absolute run goes past the end. Cut, when given, tells
// whether the data ends inside a code (half a pair, a delta without its offsets).
template <class TPut>
size_t WalkRle(const uint8_t* Pix, size_t Size, bool Four, int64_t W, int64_t H, TPut&& Put, bool* Cut = nullptr) {
  if (Cut) *Cut = false;
  int64_t x = 0, y = 0;
  size_t i = 0;
  auto put = [&](uint32_t idx) {
    if (x < W && y < H) Put(x, y, idx);
    ++x;
  };
  while (i + 1 < Size && y < H) {
    const uint8_t n = Pix[i], v = Pix[i + 1];
    i += 2;
    if (n > 0) {
      for (int k = 0; k < n && x < W; ++k) put(Four ? ((k & 1) ? (v & 0x0F) : (v >> 4)) : v);
      continue;
    }
    if (v == 0) {  // end of line
      x = 0;
      ++y;
    } else if (v == 1) {  // end of bitmap
      return i;
    } else if (v == 2) {  // delta
      if (i + 1 >= Size) {
        if (Cut) *Cut = true;
        break;
      }
      x += Pix[i];
      y += Pix[i + 1];
      i += 2;
    } else {  // absolute run of v pixels, padded to a word
      const size_t bytes = Four ? (v + 1) / 2 : v;
      if (i + bytes > Size) return Size + 1;
      for (int k = 0; k < v; ++k) {
        const uint8_t b = Pix[i + (Four ? k / 2 : k)];
        put(Four ? ((k & 1) ? (b & 0x0F) : (b >> 4)) : b);
      }
      i += (bytes + 1) & ~size_t{1};
    }
  }
  if (Cut && i + 1 == Size && y < H) *Cut = true;
  return std::min(i, Size);
}

struct Header {
  int64_t width = 0;
  int64_t height = 0;  // always positive here
  bool topDown = false;
  int bitCount = 0;
  uint32_t compression = BI_RGB;
  uint32_t clrUsed = 0;
  bool core = false;
  uint32_t masks[4] = {0, 0, 0, 0};  // r, g, b, a
  bool haveMasks = false;
};

}  // namespace

TBmpImage DecodeBmp(const uint8_t* Data, size_t Size, const TBmpLimits& Limits) {
  if (Data == nullptr || Size < kFileHeaderSize + 12) Fail("the file is too short");
  if (Data[0] != 'B' || Data[1] != 'M') Fail("the file does not start with \"BM\"");
  if (static_cast<int64_t>(Size) > Limits.MaxFileBytes) Fail("the file is too large");
  const uint32_t offBits = U32(Data + 10);
  const uint8_t* ih = Data + kFileHeaderSize;
  const uint32_t ihSize = U32(ih);

  Header h;
  switch (ihSize) {
    case 12:
    case 40:
    case 52:
    case 56:
    case 64:
    case 108:
    case 124:
      break;
    default:
      Fail("unsupported header size " + std::to_string(ihSize));
  }
  if (kFileHeaderSize + ihSize > Size) Fail("the header is truncated");

  int planes;
  if (ihSize == 12) {
    h.core = true;
    h.width = U16(ih + 4);
    h.height = U16(ih + 6);
    planes = U16(ih + 8);
    h.bitCount = U16(ih + 10);
  } else {
    h.width = I32(ih + 4);
    int64_t height = I32(ih + 8);
    planes = U16(ih + 12);
    h.bitCount = U16(ih + 14);
    h.compression = U32(ih + 16);
    h.clrUsed = U32(ih + 32);
    h.topDown = height < 0;
    h.height = height < 0 ? -height : height;
    if (ihSize >= 52) {
      for (int i = 0; i < 3; ++i) h.masks[i] = U32(ih + 40 + 4 * i);
      h.haveMasks = true;
    }
    if (ihSize >= 56) h.masks[3] = U32(ih + 52);
  }
  if (planes != 1) Fail("the plane count is " + std::to_string(planes) + ", not 1");
  if (h.width < 0) Fail("the image width is negative");
  if (h.width > Limits.MaxPixels || h.height > Limits.MaxPixels || h.width * h.height > Limits.MaxPixels)
    throw EBmpError("Image of " + std::to_string(h.width) + " x " + std::to_string(h.height) +
                    " pixels is larger than the limit of " + std::to_string(Limits.MaxPixels) + " pixels");

  const int bpp = h.bitCount;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
    Fail("unsupported bit count " + std::to_string(bpp));
  switch (h.compression) {
    case BI_RGB:
      break;
    case BI_RLE8:
      if (bpp != 8) Fail("RLE8 compression needs 8 bits per pixel");
      break;
    case BI_RLE4:
      if (bpp != 4) Fail("RLE4 compression needs 4 bits per pixel");
      break;
    case BI_BITFIELDS:
    case BI_ALPHABITFIELDS:
      if (bpp != 16 && bpp != 32) Fail("bit fields need 16 or 32 bits per pixel");
      break;
    default:
      Fail("unsupported compression " + std::to_string(h.compression));
  }
  if (h.width == 0 || h.height == 0) {  // an empty bitmap, as written for one
    TBmpImage empty;
    empty.BitCount = bpp;
    return empty;
  }
  const bool rle = h.compression == BI_RLE8 || h.compression == BI_RLE4;
  if (rle && h.topDown) Fail("compressed images cannot be top-down");

  // Masks that follow a 40-byte header.
  size_t afterHeader = kFileHeaderSize + ihSize;
  if ((h.compression == BI_BITFIELDS || h.compression == BI_ALPHABITFIELDS) && ihSize == 40) {
    size_t n = h.compression == BI_ALPHABITFIELDS ? 4 : 3;
    if (afterHeader + 4 * n > Size) Fail("the bit masks are truncated");
    for (size_t i = 0; i < n; ++i) h.masks[i] = U32(Data + afterHeader + 4 * i);
    afterHeader += 4 * n;
    h.haveMasks = true;
  }

  // Palette.
  std::vector<uint32_t> palette;
  if (bpp <= 8) {
    const size_t maxEntries = size_t{1} << bpp;
    size_t entries = (h.clrUsed == 0 || h.core) ? maxEntries : h.clrUsed;
    if (entries > maxEntries) entries = maxEntries;
    const size_t entrySize = h.core ? 3 : 4;
    size_t palEnd = afterHeader + entries * entrySize;
    if (offBits != 0 && palEnd > offBits && offBits >= afterHeader)
      entries = (offBits - afterHeader) / entrySize;  // a short palette written before the pixels
    palEnd = afterHeader + entries * entrySize;
    if (palEnd > Size) Fail("the colour table is truncated");
    palette.resize(entries);
    for (size_t i = 0; i < entries; ++i) {
      const uint8_t* p = Data + afterHeader + i * entrySize;
      palette[i] = 0xFF000000u | (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
    }
  }

  if (offBits < afterHeader || offBits >= Size) Fail("the pixel data offset is out of range");

  TBmpImage img;
  img.Width = static_cast<int32_t>(h.width);
  img.Height = static_cast<int32_t>(h.height);
  img.BitCount = bpp;
  const bool keep = Limits.KeepIndices && bpp <= 8;
  if (keep) {
    img.Palette.resize(palette.size());
    for (size_t i = 0; i < palette.size(); ++i) img.Palette[i] = palette[i] & 0xFFFFFFu;
  }
  const int64_t w = h.width, ht = h.height;
  const uint8_t* pix = Data + offBits;
  const size_t avail = Size - offBits;

  auto rowOf = [&](int64_t fileRow) -> int64_t { return h.topDown ? fileRow : ht - 1 - fileRow; };
  auto palColor = [&](uint32_t idx) -> uint32_t {
    return idx < palette.size() ? palette[idx] : 0xFF000000u;
  };

  if (rle) {
    if (w * ht > (static_cast<int64_t>(avail) + 1) * kBmpRlePixelsPerByte)
      throw EBmpError("Image of " + std::to_string(w) + " x " + std::to_string(ht) + " pixels cannot be held in the " +
                      std::to_string(avail) + " bytes of data that follow its header");
    // The whole image area is allocated only after the size checks above.
    img.Pixels.assign(static_cast<size_t>(w * ht), palColor(0));
    if (keep) img.Indices.assign(static_cast<size_t>(w * ht), 0);
    const size_t used = WalkRle(pix, avail, h.compression == BI_RLE4, w, ht, [&](int64_t x, int64_t y, uint32_t idx) {
      const size_t at = static_cast<size_t>(rowOf(y) * w + x);
      img.Pixels[at] = palColor(idx);
      if (keep) img.Indices[at] = static_cast<uint8_t>(idx);
    });
    if (used > avail) Fail("the compressed pixel data is truncated");
    return img;
  }

  const int64_t stride = ((w * bpp + 31) / 32) * 4;
  if (stride * ht > static_cast<int64_t>(avail)) Fail("the pixel data is truncated");
  img.Pixels.resize(static_cast<size_t>(w * ht));
  if (keep) img.Indices.resize(static_cast<size_t>(w * ht));

  Channel cr, cg, cb, ca;
  bool useMasks = h.compression == BI_BITFIELDS || h.compression == BI_ALPHABITFIELDS;
  if (useMasks) {
    cr = Channel::From(h.masks[0], "red");
    cg = Channel::From(h.masks[1], "green");
    cb = Channel::From(h.masks[2], "blue");
    ca = Channel::From(h.masks[3], "alpha");
  } else if (bpp == 16) {
    cr = Channel::From(0x7C00, "red");
    cg = Channel::From(0x03E0, "green");
    cb = Channel::From(0x001F, "blue");
  }

  bool anyAlpha = false;
  for (int64_t fy = 0; fy < ht; ++fy) {
    const uint8_t* src = pix + fy * stride;
    uint32_t* dst = img.Pixels.data() + rowOf(fy) * w;
    uint8_t* ind = keep ? img.Indices.data() + rowOf(fy) * w : nullptr;
    switch (bpp) {
      case 1:
        for (int64_t x = 0; x < w; ++x) {
          uint8_t v = (src[x >> 3] >> (7 - (x & 7))) & 1;
          dst[x] = palColor(v);
          if (ind) ind[x] = v;
        }
        break;
      case 4:
        for (int64_t x = 0; x < w; ++x) {
          uint8_t v = (x & 1) ? (src[x >> 1] & 0x0F) : (src[x >> 1] >> 4);
          dst[x] = palColor(v);
          if (ind) ind[x] = v;
        }
        break;
      case 8:
        for (int64_t x = 0; x < w; ++x) dst[x] = palColor(src[x]);
        if (ind) std::memcpy(ind, src, static_cast<size_t>(w));
        break;
      case 16:
        for (int64_t x = 0; x < w; ++x) {
          uint32_t v = U16(src + 2 * x);
          uint8_t a = ca.Get(v, 0);
          anyAlpha |= a != 0;
          dst[x] = (uint32_t{a} << 24) | (uint32_t{cr.Get(v, 0)} << 16) | (uint32_t{cg.Get(v, 0)} << 8) |
                   cb.Get(v, 0);
        }
        break;
      case 24:
        for (int64_t x = 0; x < w; ++x) {
          const uint8_t* p = src + 3 * x;
          dst[x] = 0xFF000000u | (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
        }
        break;
      case 32:
        if (useMasks) {
          for (int64_t x = 0; x < w; ++x) {
            uint32_t v = U32(src + 4 * x);
            uint8_t a = ca.Get(v, 0);
            anyAlpha |= a != 0;
            dst[x] = (uint32_t{a} << 24) | (uint32_t{cr.Get(v, 0)} << 16) |
                     (uint32_t{cg.Get(v, 0)} << 8) | cb.Get(v, 0);
          }
        } else {
          for (int64_t x = 0; x < w; ++x) {
            uint32_t v = U32(src + 4 * x);
            anyAlpha |= (v >> 24) != 0;
            dst[x] = v;
          }
        }
        break;
    }
  }
  if (bpp == 16 || bpp == 32) {
    // Without an alpha channel, or with one that is 0 everywhere, the image is opaque.
    img.HasAlpha = anyAlpha;
    if (!anyAlpha)
      for (uint32_t& p : img.Pixels) p |= 0xFF000000u;
  }
  return img;
}

namespace {

// The least a file needs from its start: the info header, bit masks, colour table and the pixel
// data behind its offset. File holds N bytes from the file header on. Uncompressed rows have a
// size by the headers; run-length data ends where its codes end the picture, so with Runs its
// codes in the N bytes are walked (a walk that runs out, or ends inside a code, needs more
// than N bytes), without it one code is counted.
int64_t LeastFileSize(const uint8_t* File, size_t N, bool Runs) {
  if (N < kFileHeaderSize + 4) return 0;
  const uint8_t* Ih = File + kFileHeaderSize;
  const size_t n = N - kFileHeaderSize;
  const uint32_t ihSize = U32(Ih);
  int64_t width, height;
  uint32_t bpp, compression = BI_RGB, clrUsed = 0;
  size_t entrySize = 4;
  if (ihSize == 12 && n >= 12) {
    width = U16(Ih + 4);
    height = U16(Ih + 6);
    bpp = U16(Ih + 10);
    entrySize = 3;
  } else if (ihSize >= 40 && n >= 36) {
    width = I32(Ih + 4);
    height = std::abs(int64_t{I32(Ih + 8)});
    bpp = U16(Ih + 14);
    compression = U32(Ih + 16);
    clrUsed = U32(Ih + 32);
  } else {
    return 0;
  }
  if (width <= 0 || height <= 0 || bpp == 0 || bpp > 32) return 0;
  int64_t afterHeader = static_cast<int64_t>(kFileHeaderSize) + ihSize;
  if (ihSize == 40 && compression == BI_BITFIELDS) afterHeader += 12;
  if (ihSize == 40 && compression == BI_ALPHABITFIELDS) afterHeader += 16;
  int64_t least = afterHeader;
  const int64_t offBits = U32(File + 10);
  if (bpp <= 8) {
    const int64_t most = int64_t{1} << bpp;
    const int64_t entries = clrUsed == 0 || entrySize == 3 ? most : std::min<int64_t>(clrUsed, most);
    least = afterHeader + entries * static_cast<int64_t>(entrySize);
    if (offBits >= afterHeader) least = std::min(least, offBits);  // a short table before the pixels
  }
  if (compression == BI_RGB || compression == BI_BITFIELDS || compression == BI_ALPHABITFIELDS) {
    // Sizes past any file size need no exact count.
    const int64_t stride = ((width * bpp + 31) / 32) * 4;
    const int64_t rows = stride > 0 && height > (int64_t{1} << 40) / stride ? int64_t{1} << 40 : stride * height;
    least = std::max(least, offBits + rows);
  } else if (compression == BI_RLE8 || compression == BI_RLE4) {
    int64_t codes = 2;
    if (Runs && offBits < static_cast<int64_t>(N)) {
      const size_t size = N - static_cast<size_t>(offBits);
      bool cut = false;
      codes = static_cast<int64_t>(WalkRle(File + offBits, size, compression == BI_RLE4, width, height,
                                           [](int64_t, int64_t, uint32_t) {}, &cut));
      if (cut) codes = static_cast<int64_t>(size) + 1;
    }
    least = std::max(least, offBits + std::max<int64_t>(codes, 2));
  }
  return least;
}

bool RunLengthCoded(const uint8_t* File, size_t N) {
  if (N < kFileHeaderSize + 20 || U32(File + kFileHeaderSize) < 40) return false;
  const uint32_t compression = U32(File + kFileHeaderSize + 16);
  return compression == BI_RLE8 || compression == BI_RLE4;
}

}  // namespace

TBmpImage ReadBmp(TStream* Stream, const TBmpLimits& Limits) {
  uint8_t fh[kFileHeaderSize];
  if (Stream->Read(fh, sizeof fh) != static_cast<int32_t>(sizeof fh)) Fail("the file is too short");
  if (fh[0] != 'B' || fh[1] != 'M') Fail("the file does not start with \"BM\"");
  int64_t remaining = Stream->GetSize() - Stream->GetPosition();
  int64_t declared = static_cast<int64_t>(U32(fh + 2)) - static_cast<int64_t>(kFileHeaderSize);
  if (declared >= 12 && declared < remaining) {
    // A stated size too small for what the file holds is wrong: the rest of the stream is
    // taken, as for a size of 0.
    auto readAhead = [&](int64_t Count) {
      std::vector<uint8_t> f(fh, fh + kFileHeaderSize);
      f.resize(kFileHeaderSize + static_cast<size_t>(Count));
      const int32_t n = std::max(Stream->Read(f.data() + kFileHeaderSize, static_cast<int32_t>(Count)), 0);
      Stream->Seek(-n, soFromCurrent);
      f.resize(kFileHeaderSize + static_cast<size_t>(n));
      return f;
    };
    std::vector<uint8_t> head = readAhead(std::min<int64_t>(40, remaining));
    int64_t least = LeastFileSize(head.data(), head.size(), false);
    if (least <= declared + static_cast<int64_t>(kFileHeaderSize) && RunLengthCoded(head.data(), head.size()) &&
        declared + static_cast<int64_t>(kFileHeaderSize) <= Limits.MaxFileBytes) {
      // Run-length data tells its length only by its codes: the stated size is too small when
      // it holds none or ends inside one. Codes that stop between two before the picture ends
      // are a file without its end-of-bitmap code, and what follows is not its own.
      const std::vector<uint8_t> runs = readAhead(declared);
      least = LeastFileSize(runs.data(), runs.size(), true);
    }
    if (least > declared + static_cast<int64_t>(kFileHeaderSize)) declared = remaining;
  }
  int64_t take = (declared >= 12 && declared <= remaining) ? declared : remaining;
  if (take + static_cast<int64_t>(kFileHeaderSize) > Limits.MaxFileBytes) Fail("the file is too large");
  if (take < 12) Fail("the file is too short");
  std::vector<uint8_t> all(static_cast<size_t>(take) + kFileHeaderSize);
  std::memcpy(all.data(), fh, kFileHeaderSize);
  Stream->ReadBuffer(all.data() + kFileHeaderSize, static_cast<int32_t>(take));
  return DecodeBmp(all.data(), all.size(), Limits);
}

std::vector<uint8_t> EncodeBmp(int32_t Width, int32_t Height, const uint32_t* Pixels,
                               int32_t BitCount) {
  if (BitCount != 24 && BitCount != 32) throw EBmpError("BMP files are written with 24 or 32 bits per pixel only");
  if (Width < 0 || Height < 0) throw EBmpError("Bitmap size is negative");
  const int64_t stride = ((int64_t{Width} * BitCount + 31) / 32) * 4;
  const int64_t dataSize = stride * Height;
  const int64_t fileSize = 54 + dataSize;
  if (fileSize > 0x7FFFFFFF) throw EBmpError("Bitmap is too large for a BMP file");
  std::vector<uint8_t> out(static_cast<size_t>(fileSize), 0);
  out[0] = 'B';
  out[1] = 'M';
  Put32(out, 2, static_cast<uint32_t>(fileSize));
  Put32(out, 10, 54);
  Put32(out, 14, 40);
  Put32(out, 18, static_cast<uint32_t>(Width));
  Put32(out, 22, static_cast<uint32_t>(Height));
  Put16(out, 26, 1);
  Put16(out, 28, static_cast<uint32_t>(BitCount));
  Put32(out, 30, BI_RGB);
  Put32(out, 34, static_cast<uint32_t>(dataSize));
  for (int64_t y = 0; y < Height; ++y) {
    const uint32_t* src = Pixels + (Height - 1 - y) * int64_t{Width};
    uint8_t* dst = out.data() + 54 + y * stride;
    if (BitCount == 32) {
      for (int64_t x = 0; x < Width; ++x) {
        uint32_t v = src[x];
        dst[4 * x] = v & 0xFF;
        dst[4 * x + 1] = (v >> 8) & 0xFF;
        dst[4 * x + 2] = (v >> 16) & 0xFF;
        dst[4 * x + 3] = (v >> 24) & 0xFF;
      }
    } else {
      for (int64_t x = 0; x < Width; ++x) {
        uint32_t v = src[x];
        dst[3 * x] = v & 0xFF;
        dst[3 * x + 1] = (v >> 8) & 0xFF;
        dst[3 * x + 2] = (v >> 16) & 0xFF;
      }
    }
  }
  return out;
}

std::vector<uint8_t> EncodeBmpIndexed(int32_t Width, int32_t Height, const uint8_t* Rows, int64_t Stride,
                                      int32_t BitCount, const std::vector<uint32_t>& Palette) {
  if (BitCount != 1 && BitCount != 4 && BitCount != 8)
    throw EBmpError("Palette bitmaps are written with 1, 4 or 8 bits per pixel only");
  if (Width < 0 || Height < 0) throw EBmpError("Bitmap size is negative");
  const size_t entries = Palette.size();
  if (entries > (size_t{1} << BitCount)) throw EBmpError("The colour table has more entries than the bit count allows");
  const int64_t stride = ((int64_t{Width} * BitCount + 31) / 32) * 4;
  if (Height > 0 && Stride < stride) throw EBmpError("The rows are shorter than the image width");
  const int64_t offBits = 54 + 4 * static_cast<int64_t>(entries);
  const int64_t dataSize = stride * Height;
  const int64_t fileSize = offBits + dataSize;
  if (fileSize > 0x7FFFFFFF) throw EBmpError("Bitmap is too large for a BMP file");
  std::vector<uint8_t> out(static_cast<size_t>(fileSize), 0);
  out[0] = 'B';
  out[1] = 'M';
  Put32(out, 2, static_cast<uint32_t>(fileSize));
  Put32(out, 10, static_cast<uint32_t>(offBits));
  Put32(out, 14, 40);
  Put32(out, 18, static_cast<uint32_t>(Width));
  Put32(out, 22, static_cast<uint32_t>(Height));
  Put16(out, 26, 1);
  Put16(out, 28, static_cast<uint32_t>(BitCount));
  Put32(out, 30, BI_RGB);
  Put32(out, 34, static_cast<uint32_t>(dataSize));
  Put32(out, 46, static_cast<uint32_t>(entries));
  for (size_t i = 0; i < entries; ++i) Put32(out, 54 + 4 * i, Palette[i] & 0xFFFFFFu);
  for (int64_t y = 0; y < Height; ++y) {
    uint8_t* dst = out.data() + offBits + y * stride;
    std::memcpy(dst, Rows + (Height - 1 - y) * Stride, static_cast<size_t>(stride));
    // Bits beyond the last pixel of a row are written as zero.
    int64_t usedBits = int64_t{Width} * BitCount;
    for (int64_t b = usedBits; b < stride * 8; ++b) dst[b >> 3] &= static_cast<uint8_t>(~(0x80 >> (b & 7)));
  }
  return out;
}

void WriteBmp(TStream* Stream, int32_t Width, int32_t Height, const uint32_t* Pixels,
              int32_t BitCount) {
  std::vector<uint8_t> bytes = EncodeBmp(Width, Height, Pixels, BitCount);
  Stream->WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
}

}  // namespace platform

// PNG codec fast paths against the plain reference code: the CRC, row unfiltering, whole-image
// decoding of random images of every colour type, bit depth and interlace method (with every
// filter type, with and without gamma, intact and damaged), and encoding to identical bytes.
#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include "platform/Classes.h"
#include "raster/PngGraphic.h"
#include "raster/PngGraphicPriv.h"

using namespace raster;
using Bytes = std::vector<uint8_t>;

namespace {

// Turns the reference paths on for one scope.
struct TReferenceRows {
  TReferenceRows() { pngpriv::SetReferenceRows(true); }
  ~TReferenceRows() { pngpriv::SetReferenceRows(false); }
};

void PutBE(Bytes& b, uint32_t v) {
  for (int i = 3; i >= 0; --i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void PutChunk(Bytes& f, const std::string& name, const Bytes& data) {
  PutBE(f, static_cast<uint32_t>(data.size()));
  f.insert(f.end(), name.begin(), name.end());
  f.insert(f.end(), data.begin(), data.end());
  uLong crc = crc32(0, reinterpret_cast<const Bytef*>(name.data()), 4);
  if (!data.empty()) crc = crc32(crc, data.data(), static_cast<uInt>(data.size()));
  PutBE(f, static_cast<uint32_t>(crc));
}

int Channels(int ct) { return ct == 2 ? 3 : ct == 4 ? 2 : ct == 6 ? 4 : 1; }

// Filters a raw row (bytes after the filter byte) with the given type against the previous raw row.
Bytes FilterRow(int type, const Bytes& row, const Bytes& prev, size_t d) {
  Bytes out(row.size());
  for (size_t i = 0; i < row.size(); ++i) {
    int a = i >= d ? row[i - d] : 0, b = prev[i], c = i >= d ? prev[i - d] : 0, pred = 0;
    switch (type) {
      case 1: pred = a; break;
      case 2: pred = b; break;
      case 3: pred = (a + b) / 2; break;
      case 4: {
        int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
        pred = (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
        break;
      }
      default: break;  // 0 and the out-of-range types the reader leaves as they are
    }
    out[i] = static_cast<uint8_t>(row[i] - pred);
  }
  return out;
}

struct TForm {
  int ct, bd;
};

const TForm kForms[] = {{0, 1}, {0, 2}, {0, 4}, {0, 8}, {0, 16}, {2, 8}, {2, 16}, {3, 1}, {3, 2},
                        {3, 4}, {3, 8}, {4, 8}, {4, 16}, {6, 8}, {6, 16}};

// A random image of the form: random samples, every row with a random filter type (0..6),
// optionally a gAMA chunk, the data split over IDAT chunks of Split bytes.
Bytes RandomPng(std::mt19937& rng, TForm f, int interlace, uint32_t w, uint32_t h, bool gamma, size_t split) {
  static const uint32_t sc[7] = {0, 4, 0, 2, 0, 1, 0}, sr[7] = {0, 0, 4, 0, 2, 0, 1};
  static const uint32_t cs[7] = {8, 8, 4, 4, 2, 2, 1}, rs[7] = {8, 8, 8, 4, 4, 2, 2};
  size_t d = std::max<size_t>(1, static_cast<size_t>(Channels(f.ct) * f.bd / 8));
  Bytes raw;
  auto rows = [&](uint32_t cols, uint32_t firstRow, uint32_t step) {
    size_t rowBytes = (static_cast<size_t>(cols) * Channels(f.ct) * f.bd + 7) / 8;
    if (rowBytes == 0) return;
    Bytes prev(rowBytes, 0);
    // Smooth rows with noise, so every filter meets both runs and jumps.
    for (uint32_t r = firstRow; r < h; r += step) {
      Bytes row(rowBytes);
      for (size_t i = 0; i < rowBytes; ++i)
        row[i] = static_cast<uint8_t>(rng() % 4 == 0 ? rng() : (i >= d ? row[i - d] : prev[i]) + rng() % 5);
      if (f.ct == 3 && f.bd == 8)
        for (auto& v : row) v = static_cast<uint8_t>(v % 200);  // indexes within the palette
      int type = static_cast<int>(rng() % 7);
      raw.push_back(static_cast<uint8_t>(type));
      Bytes filtered = FilterRow(type > 4 ? 0 : type, row, prev, d);
      raw.insert(raw.end(), filtered.begin(), filtered.end());
      prev = row;
    }
  };
  if (interlace == 0) {
    rows(w, 0, 1);
  } else {
    for (int p = 0; p < 7; ++p) rows(w > sc[p] ? (w - sc[p] + cs[p] - 1) / cs[p] : 0, sr[p], rs[p]);
  }
  Bytes f8 = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}, ihdr;
  PutBE(ihdr, w);
  PutBE(ihdr, h);
  ihdr.insert(ihdr.end(), {static_cast<uint8_t>(f.bd), static_cast<uint8_t>(f.ct), 0, 0, static_cast<uint8_t>(interlace)});
  PutChunk(f8, "IHDR", ihdr);
  if (gamma) {
    Bytes g;
    PutBE(g, 70000);
    PutChunk(f8, "gAMA", g);
  }
  if (f.ct == 3) {
    Bytes pal;
    for (int i = 0; i < 200 * 3; ++i) pal.push_back(static_cast<uint8_t>(rng()));
    PutChunk(f8, "PLTE", pal);
  }
  uLongf n = compressBound(static_cast<uLong>(raw.size()));
  Bytes z(n);
  compress2(z.data(), &n, raw.data(), static_cast<uLong>(raw.size()), 6);
  z.resize(n);
  if (split == 0) split = z.size();
  for (size_t i = 0; i < z.size(); i += split)
    PutChunk(f8, "IDAT", Bytes(z.begin() + static_cast<ptrdiff_t>(i), z.begin() + static_cast<ptrdiff_t>(std::min(z.size(), i + split))));
  PutChunk(f8, "IEND", {});
  return f8;
}

// What a decode leaves: the bitmap, the alpha plane and the palette, and the error text if any.
struct TDecoded {
  Bytes Dib, Alpha;
  std::vector<uint32_t> Palette;
  std::string Error;
  bool operator==(const TDecoded&) const = default;
};

TDecoded Decode(const Bytes& file, bool reference) {
  TPngGraphic png;
  TDecoded out;
  platform::TMemoryStream s;
  s.WriteBuffer(file.data(), static_cast<int32_t>(file.size()));
  s.SetPosition(0);
  try {
    if (reference) {
      TReferenceRows ref;
      png.LoadFromStream(&s);
    } else {
      png.LoadFromStream(&s);
    }
  } catch (const std::exception& e) {
    out.Error = e.what();
  }
  if (png.ChunkCount() > 0 && png.HeaderPresent()) {
    TChunkIHDR* h = png.Header();
    out.Dib = h->ImageData;
    out.Alpha = h->ImageAlpha;
    out.Palette.assign(h->Palette.begin(), h->Palette.end());
  }
  return out;
}

Bytes Encode(TPngGraphic& png, bool reference) {
  platform::TMemoryStream s;
  if (reference) {
    TReferenceRows ref;
    png.SaveToStream(&s);
  } else {
    png.SaveToStream(&s);
  }
  const auto* m = static_cast<const uint8_t*>(s.Memory());
  return Bytes(m, m + s.GetSize());
}

}  // namespace

TEST(PngReference, CrcMatchesTheTableForm) {
  std::mt19937 rng(7);
  Bytes data(9000);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  for (int i = 0; i < 400; ++i) {
    size_t off = rng() % 64, len = i < 20 ? static_cast<size_t>(i) : rng() % (data.size() - 64);
    uint32_t start = i % 3 == 0 ? 0xFFFFFFFFu : static_cast<uint32_t>(rng());
    ASSERT_EQ(UpdatePngCrc(start, data.data() + off, len), pngpriv::UpdatePngCrcReference(start, data.data() + off, len))
        << "offset " << off << " length " << len;
  }
  // The check value of the standard CRC-32.
  const char* digits = "123456789";
  EXPECT_EQ(~UpdatePngCrc(0xFFFFFFFFu, reinterpret_cast<const uint8_t*>(digits), 9), 0xCBF43926u);
}

TEST(PngReference, UnfilterMatchesTheByteLoop) {
  std::mt19937 rng(11);
  for (uint32_t d : {1u, 2u, 3u, 4u, 6u, 8u})
    for (int type = 0; type <= 6; ++type)
      for (uint32_t size : {d, 2 * d, 3 * d + 1, 17 * d, 100 * d + (d > 1 ? 1 : 0), 1024 * d}) {
        Bytes prev(size + 1), row(size + 1);
        for (auto& b : prev) b = static_cast<uint8_t>(rng());
        for (auto& b : row) b = static_cast<uint8_t>(rng());
        row[0] = static_cast<uint8_t>(type);
        Bytes fast = row, ref = row;
        pngpriv::UnfilterRow(fast.data(), prev.data(), size, d);
        pngpriv::UnfilterRowReference(ref.data(), prev.data(), size, d);
        ASSERT_EQ(fast, ref) << "distance " << d << " type " << type << " size " << size;
      }
}

TEST(PngReference, DecodingEveryFormMatchesTheReference) {
  std::mt19937 rng(3);
  int checked = 0;
  for (const TForm& f : kForms)
    for (int interlace : {0, 1})
      for (bool gamma : {false, true})
        for (uint32_t w : {1u, 7u, 33u}) {
          uint32_t h = w == 1 ? 5 : 11;
          Bytes file = RandomPng(rng, f, interlace, w, h, gamma, w == 7 ? 13 : 0);
          TDecoded ref = Decode(file, true);
          ASSERT_EQ(ref.Error, "") << f.ct << "/" << f.bd;
          ASSERT_EQ(Decode(file, false), ref) << "colour type " << f.ct << " depth " << f.bd << " interlace " << interlace
                                              << " gamma " << gamma << " width " << w;
          ++checked;
        }
  EXPECT_EQ(checked, 15 * 2 * 2 * 3);
}

TEST(PngReference, DamagedFilesLeaveTheSameRowsAndErrors) {
  std::mt19937 rng(5);
  for (const TForm& f : {TForm{6, 8}, TForm{2, 8}, TForm{4, 8}, TForm{0, 16}, TForm{3, 4}})
    for (int interlace : {0, 1}) {
      Bytes good = RandomPng(rng, f, interlace, 40, 30, false, 50);
      // Cut short; a flipped byte inside the compressed data (caught by zlib or the CRC); a CRC
      // recomputed over a flipped byte, so only zlib can object.
      for (int damage = 0; damage < 12; ++damage) {
        Bytes file = good;
        size_t pos = 60 + rng() % (file.size() - 80);
        if (damage < 4) {
          file.resize(pos);
        } else {
          file[pos] ^= static_cast<uint8_t>(1 + rng() % 255);
        }
        TDecoded ref = Decode(file, true), fast = Decode(file, false);
        EXPECT_EQ(fast.Error, ref.Error) << f.ct << "/" << f.bd << " damage " << damage;
        EXPECT_TRUE(fast == ref) << f.ct << "/" << f.bd << " interlace " << interlace << " damage " << damage;
      }
    }
}

TEST(PngReference, EncodingGivesTheReferenceBytes) {
  std::mt19937 rng(9);
  const TFilters all = 0x1F;
  const TFilters sets[] = {FilterBit(pfSub), 0, FilterBit(pfNone), FilterBit(pfUp), FilterBit(pfAverage),
                           FilterBit(pfPaeth), all, static_cast<TFilters>(FilterBit(pfNone) | FilterBit(pfPaeth))};
  for (const TForm& f : kForms)
    for (int interlace : {0, 1}) {
      TPngGraphic png;
      Bytes file = RandomPng(rng, f, interlace, 29, 13, f.ct == 2 || (f.ct == 6 && interlace == 1), 0);
      platform::TMemoryStream s;
      s.WriteBuffer(file.data(), static_cast<int32_t>(file.size()));
      s.SetPosition(0);
      png.LoadFromStream(&s);
      for (TFilters set : sets)
        for (int level : {1, 6, 9}) {
          png.Filters = set;
          png.CompressionLevel = level;
          Bytes ref = Encode(png, true);
          ASSERT_EQ(Encode(png, false), ref) << f.ct << "/" << f.bd << " interlace " << interlace << " filters "
                                             << int(set) << " level " << level;
          // What was written reads back to the same image.
          EXPECT_TRUE(Decode(ref, false) == Decode(Encode(png, false), true));
        }
    }
}

TEST(PngReference, EveryNarrowWidthAroundTheWideSteps) {
  // The wide loops stop short of the row end; each width from 1 to 40 meets a different tail.
  std::mt19937 rng(13);
  for (const TForm& f : {TForm{6, 8}, TForm{4, 16}, TForm{2, 8}, TForm{6, 16}, TForm{0, 8}})
    for (uint32_t w = 1; w <= 40; ++w) {
      Bytes file = RandomPng(rng, f, 0, w, 4, false, 0);
      TDecoded ref = Decode(file, true);
      ASSERT_EQ(Decode(file, false), ref) << f.ct << "/" << f.bd << " width " << w;
      TPngGraphic png;
      platform::TMemoryStream s;
      s.WriteBuffer(file.data(), static_cast<int32_t>(file.size()));
      s.SetPosition(0);
      png.LoadFromStream(&s);
      for (TFilters set : {FilterBit(pfSub), static_cast<TFilters>(0x1F), FilterBit(pfPaeth), FilterBit(pfAverage)}) {
        png.Filters = set;
        ASSERT_EQ(Encode(png, false), Encode(png, true)) << f.ct << "/" << f.bd << " width " << w << " filters " << int(set);
      }
    }
}

// Image data of a PNG: the IDAT chain inflated and unfiltered row by row into the bitmap and
// alpha plane (sequential and Adam7 orders), and the reverse for writing: rows converted from
// the bitmap, filtered, deflated and cut into IDAT chunks.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include <zlib.h>
#ifdef __SSE2__
#include <emmintrin.h>
#include <tmmintrin.h>
#endif

#include "platform/Rounding.h"
#include "raster/PngGraphic.h"
#include "raster/PngGraphicPriv.h"

namespace raster {

using namespace pngpriv;
using platform::TStream;

namespace {

constexpr uint32_t kStartRow[7] = {0, 0, 4, 0, 2, 0, 1};
constexpr uint32_t kStartCol[7] = {0, 4, 0, 2, 0, 1, 0};
constexpr uint32_t kRowStep[7] = {8, 8, 8, 4, 4, 2, 2};
constexpr uint32_t kColStep[7] = {8, 8, 4, 4, 2, 2, 1};

// Inflate fed from a chain of IDAT chunks, checking each chunk's CRC as it is finished.
class TIdatReader {
 public:
  TIdatReader(TStream* S, uint32_t Size) : FStream(S), FIn(65535) {
    if (inflateInit(&FZ) != Z_OK) throw EPNGZLIBError(PngErrorText(65149) + PngZlibCodeText(Z_MEM_ERROR));
    FCrc = NameCrc("IDAT");
    FChunkEnd = S->GetPosition() + Size;
  }
  ~TIdatReader() { inflateEnd(&FZ); }

  uint32_t Read(uint8_t* Buffer, uint32_t Count) {
    FZ.next_out = Buffer;
    FZ.avail_out = Count;
    while (FZ.avail_out >= 1 && !FEnded) {
      // An IDAT chunk may be empty: go on to the next one until there are bytes to feed.
      while (FZ.avail_in == 0 && FStream->GetPosition() >= FChunkEnd) {
        CheckCrc(FStream, FCrc);
        uint32_t len = ReadBE32(FStream);
        char name[4];
        if (FStream->Read(name, 4) != 4) throw EPngUnexpectedEnd(PngErrorText(65127));
        if (std::memcmp(name, "IDAT", 4) != 0) throw EPNGMissingMultipleIDAT(PngErrorText(65148));
        FCrc = NameCrc("IDAT");
        FChunkEnd = FStream->GetPosition() + len;
      }
      if (FZ.avail_in == 0) {
        int64_t want = std::min<int64_t>(65535, FChunkEnd - FStream->GetPosition());
        int32_t got = FStream->Read(FIn.data(), static_cast<int32_t>(want));
        if (got <= 0) break;
        FCrc = (ReferenceRows() ? UpdatePngCrcReference : UpdatePngCrc)(FCrc, FIn.data(), static_cast<size_t>(got));
        FZ.next_in = FIn.data();
        FZ.avail_in = static_cast<uInt>(got);
      }
      int r = inflate(&FZ, Z_NO_FLUSH);
      // A dictionary request can never be met: going on would spin forever.
      if (r < 0 || r == Z_NEED_DICT) throw EPNGZLIBError(PngErrorText(65149) + PngZlibCodeText(r));
      // After the stream's end nothing more comes out; stopping here keeps the loop finite.
      if (r == Z_STREAM_END) FEnded = true;
    }
    return Count - FZ.avail_out;
  }

  // Reads one whole row of Count bytes. False when the stream ran dry (the file ends inside a
  // chunk, which Finish reports); a compressed stream that ended while rows are still owed is
  // missing image data.
  bool ReadRow(uint8_t* Buffer, uint32_t Count) {
    if (Read(Buffer, Count) == Count) return true;
    if (FEnded) throw EPNGMissingMultipleIDAT(PngErrorText(65148));
    return false;
  }

  // The CRC of the last chunk read: its unread remainder is taken into the CRC first, so a
  // stream that ends before its chunk does is still checked against the right four bytes.
  void Finish() {
    int64_t left = FChunkEnd - FStream->GetPosition();
    while (left > 0) {
      int32_t got = FStream->Read(FIn.data(), static_cast<int32_t>(std::min<int64_t>(65535, left)));
      if (got <= 0) throw EPngUnexpectedEnd(PngErrorText(65127));
      FCrc = (ReferenceRows() ? UpdatePngCrcReference : UpdatePngCrc)(FCrc, FIn.data(), static_cast<size_t>(got));
      left -= got;
    }
    CheckCrc(FStream, FCrc);
  }

 private:
  TStream* FStream;
  z_stream FZ{};
  std::vector<uint8_t> FIn;
  uint32_t FCrc = 0;
  int64_t FChunkEnd = 0;
  bool FEnded = false;
};

// Places Cols pixels of a file row at columns Start, Start + Step, ... of the bitmap row.
void ConvertRow(const TChunkIHDR* H, const uint8_t* Gamma, const uint8_t* Src, uint32_t Cols, uint32_t Start,
                uint32_t Step, uint8_t* Dib, uint8_t* Alpha, uint32_t RowSize) {
  const uint8_t bd = H->BitDepth, ct = H->ColorType;
  if ((ct == 0 || ct == 3) && (bd == 1 || bd == 4 || bd == 8) && Step == 1) {
    std::memcpy(Dib, Src, RowSize);
    return;
  }
  auto sample = [&](uint32_t k) -> uint32_t {  // packed sample k of a 1-channel row
    uint32_t bit = k * bd;
    return (Src[bit >> 3] >> (8 - bd - (bit & 7))) & ((1u << bd) - 1);
  };
  for (uint32_t k = 0; k < Cols; ++k) {
    uint32_t col = Start + k * Step;
    if (col >= H->Width) break;
    switch (ct) {
      case 0:
      case 3:
        if (bd == 16) {
          Dib[col] = Src[2 * k];
        } else if (bd == 8) {
          Dib[col] = Src[k];
        } else if (bd == 2) {
          uint32_t v = sample(k);
          if (ct == 0) v *= 5;  // the 4-bit ramp entry of the same level
          Dib[col >> 1] = static_cast<uint8_t>(Dib[col >> 1] | (v << ((col & 1) ? 0 : 4)));
        } else {
          uint32_t bit = col * bd;
          Dib[bit >> 3] = static_cast<uint8_t>(Dib[bit >> 3] | (sample(k) << (8 - bd - (bit & 7))));
        }
        break;
      case 2: {
        const uint8_t* s = Src + k * (bd == 16 ? 6 : 3);
        int w = bd == 16 ? 2 : 1;
        uint8_t* d = Dib + col * 3;
        d[0] = Gamma[s[2 * w]];
        d[1] = Gamma[s[w]];
        d[2] = Gamma[s[0]];
        break;
      }
      case 4: {
        const uint8_t* s = Src + k * (bd == 16 ? 4 : 2);
        Dib[col] = s[0];
        Alpha[col] = s[bd == 16 ? 2 : 1];
        break;
      }
      case 6: {
        const uint8_t* s = Src + k * (bd == 16 ? 8 : 4);
        int w = bd == 16 ? 2 : 1;
        uint8_t* d = Dib + col * 3;
        d[0] = Gamma[s[2 * w]];
        d[1] = Gamma[s[w]];
        d[2] = Gamma[s[0]];
        Alpha[col] = s[3 * w];
        break;
      }
      default:
        break;
    }
  }
}


std::atomic<bool> gReferenceRows{false};

inline int PaethPredictor(int a, int b, int c) {
  int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  return (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
}

// Filters whose prediction depends on the byte just decoded run pixel by pixel with the left
// pixel kept in registers; D is the pixel size in bytes.
template <uint32_t D>
void UnfilterSub(uint8_t* c, uint32_t n) {
  uint8_t a[D];
  for (uint32_t k = 0; k < D; ++k) a[k] = c[k];
  for (uint32_t j = D; j + D <= n; j += D)
    for (uint32_t k = 0; k < D; ++k) a[k] = c[j + k] = static_cast<uint8_t>(c[j + k] + a[k]);
}

template <uint32_t D>
void UnfilterAverage(uint8_t* c, const uint8_t* p, uint32_t n) {
  uint8_t a[D];
  for (uint32_t k = 0; k < D; ++k) a[k] = c[k] = static_cast<uint8_t>(c[k] + (p[k] >> 1));
  for (uint32_t j = D; j + D <= n; j += D)
    for (uint32_t k = 0; k < D; ++k) a[k] = c[j + k] = static_cast<uint8_t>(c[j + k] + ((a[k] + p[j + k]) >> 1));
}

template <uint32_t D>
void UnfilterPaeth(uint8_t* c, const uint8_t* p, uint32_t n) {
  uint8_t a[D], ul[D];
  // With no left pixel the predictor is the byte above.
  for (uint32_t k = 0; k < D; ++k) a[k] = c[k] = static_cast<uint8_t>(c[k] + p[k]), ul[k] = p[k];
  for (uint32_t j = D; j + D <= n; j += D)
    for (uint32_t k = 0; k < D; ++k) {
      uint8_t b = p[j + k];
      a[k] = c[j + k] = static_cast<uint8_t>(c[j + k] + PaethPredictor(a[k], b, ul[k]));
      ul[k] = b;
    }
}

#ifdef __SSE2__
// Four-byte pixels (8-bit RGBA, 16-bit grey + alpha): one pixel per step in one register.
inline __m128i Load4(const uint8_t* p) {
  int32_t v;
  std::memcpy(&v, p, 4);
  return _mm_cvtsi32_si128(v);
}
inline void Store4(uint8_t* p, __m128i x) {
  int32_t v = _mm_cvtsi128_si32(x);
  std::memcpy(p, &v, 4);
}

template <>
void UnfilterSub<4>(uint8_t* c, uint32_t n) {
  __m128i a = Load4(c);
  for (uint32_t j = 4; j + 4 <= n; j += 4) {
    a = _mm_add_epi8(a, Load4(c + j));
    Store4(c + j, a);
  }
}

template <>
void UnfilterAverage<4>(uint8_t* c, const uint8_t* p, uint32_t n) {
  const __m128i one = _mm_set1_epi8(1);
  __m128i b = Load4(p);
  // avg_epu8 rounds up; the filter rounds down, so the odd sums lose their extra one.
  __m128i a = _mm_add_epi8(Load4(c), _mm_sub_epi8(_mm_avg_epu8(_mm_setzero_si128(), b), _mm_and_si128(b, one)));
  Store4(c, a);
  for (uint32_t j = 4; j + 4 <= n; j += 4) {
    b = Load4(p + j);
    __m128i avg = _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), one));
    a = _mm_add_epi8(Load4(c + j), avg);
    Store4(c + j, a);
  }
}

template <>
void UnfilterPaeth<4>(uint8_t* c, const uint8_t* p, uint32_t n) {
  const __m128i zero = _mm_setzero_si128();
  auto abs16 = [zero](__m128i x) { return _mm_max_epi16(x, _mm_sub_epi16(zero, x)); };
  auto select = [](__m128i mask, __m128i yes, __m128i no) {
    return _mm_or_si128(_mm_and_si128(mask, yes), _mm_andnot_si128(mask, no));
  };
  __m128i ul = _mm_unpacklo_epi8(Load4(p), zero);  // 16-bit lanes
  __m128i a = _mm_add_epi8(Load4(c), Load4(p));
  Store4(c, a);
  a = _mm_unpacklo_epi8(a, zero);
  for (uint32_t j = 4; j + 4 <= n; j += 4) {
    __m128i b = _mm_unpacklo_epi8(Load4(p + j), zero);
    // p = a + b - c, so |p - a| = |b - c|, |p - b| = |a - c|, |p - c| = |a + b - 2c|.
    __m128i pa = abs16(_mm_sub_epi16(b, ul));
    __m128i pb = abs16(_mm_sub_epi16(a, ul));
    __m128i pc = abs16(_mm_sub_epi16(_mm_add_epi16(a, b), _mm_add_epi16(ul, ul)));
    __m128i least = _mm_min_epi16(pa, _mm_min_epi16(pb, pc));
    __m128i pred = select(_mm_cmpeq_epi16(pb, least), b, ul);
    pred = select(_mm_cmpeq_epi16(pa, least), a, pred);
    __m128i x = _mm_add_epi8(Load4(c + j), _mm_packus_epi16(pred, pred));
    Store4(c + j, x);
    a = _mm_unpacklo_epi8(x, zero);
    ul = b;
  }
}
#endif

template <uint32_t D>
void UnfilterFixed(uint8_t* c, const uint8_t* p, uint32_t n, uint8_t type) {
  switch (type) {
    case 1: UnfilterSub<D>(c, n); break;
    case 3: UnfilterAverage<D>(c, p, n); break;
    case 4: UnfilterPaeth<D>(c, p, n); break;
    default: break;
  }
}

#ifdef __SSE2__
bool HasSsse3() {
  static const bool has = __builtin_cpu_supports("ssse3");
  return has;
}

// Four 8-bit RGBA pixels a step: one byte shuffle gives their blue, green, red bytes, another
// their alphas. The 16-byte store spills 4 bytes that the next step overwrites, so the last
// pixels of the row go one at a time and nothing past the row is touched.
__attribute__((target("ssse3"))) void ConvertRgbaSsse3(const uint8_t* s, uint32_t W, uint8_t* d, uint8_t* a) {
  const __m128i bgr = _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
  const __m128i alpha = _mm_setr_epi8(3, 7, 11, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  uint32_t x = 0;
  for (; x + 6 <= W; x += 4) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 4 * x));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 3 * x), _mm_shuffle_epi8(v, bgr));
    int32_t al = _mm_cvtsi128_si32(_mm_shuffle_epi8(v, alpha));
    std::memcpy(a + x, &al, 4);
  }
  for (; x < W; ++x) {
    d[3 * x] = s[4 * x + 2];
    d[3 * x + 1] = s[4 * x + 1];
    d[3 * x + 2] = s[4 * x];
    a[x] = s[4 * x + 3];
  }
}
#endif

// Sequential rows of the common 8-bit colour forms; false for the forms left to ConvertRow.
// Identity gamma (no gAMA chunk) skips the table.
template <bool Identity>
bool ConvertRowFast(uint8_t ct, uint8_t bd, const uint8_t* Gamma, const uint8_t* s, uint32_t W, uint8_t* d, uint8_t* a) {
  if (bd != 8) return false;
  auto g = [Gamma](uint8_t v) { return Identity ? v : Gamma[v]; };
  switch (ct) {
    case 6:
#ifdef __SSE2__
      if (Identity && W > 0 && HasSsse3()) {
        ConvertRgbaSsse3(s, W, d, a);
        return true;
      }
#endif
      if (Identity && W > 0) {
        // One 32-bit load per pixel; its byte-reversed form is blue, green, red, and the store of
        // four bytes spills into the next pixel, which overwrites it (the last pixel goes bytewise).
        for (uint32_t x = 0; x + 1 < W; ++x, s += 4, d += 3) {
          uint32_t v;
          std::memcpy(&v, s, 4);
          uint32_t bgr = __builtin_bswap32(v) >> 8;
          std::memcpy(d, &bgr, 4);
          a[x] = static_cast<uint8_t>(v >> 24);
        }
        d[0] = s[2];
        d[1] = s[1];
        d[2] = s[0];
        a[W - 1] = s[3];
        return true;
      }
      for (uint32_t x = 0; x < W; ++x, s += 4, d += 3) {
        d[0] = g(s[2]);
        d[1] = g(s[1]);
        d[2] = g(s[0]);
        a[x] = s[3];
      }
      return true;
    case 2:
      for (uint32_t x = 0; x < W; ++x, s += 3, d += 3) {
        d[0] = g(s[2]);
        d[1] = g(s[1]);
        d[2] = g(s[0]);
      }
      return true;
    case 4:
      for (uint32_t x = 0; x < W; ++x, s += 2) {
        d[x] = s[0];
        a[x] = s[1];
      }
      return true;
    default:
      return false;
  }
}

// Marks in Mask (columns Start, Start + Step, ...) the pixels of an unfiltered grey or RGB file
// row whose samples equal the tRNS key at full precision.
void MarkKey(const TChunkIHDR* H, const std::array<uint8_t, 6>& Key, const uint8_t* Src, uint32_t Cols,
             uint32_t Start, uint32_t Step, uint8_t* Mask) {
  const uint32_t bd = H->BitDepth;
  const uint32_t channels = H->ColorType == 2 ? 3 : 1;
  for (uint32_t k = 0; k < Cols; ++k) {
    const uint32_t col = Start + k * Step;
    if (col >= H->Width) break;
    bool same = true;
    for (uint32_t c = 0; c < channels && same; ++c) {
      // Bits of the key above the depth are not its own.
      const uint32_t i = k * channels + c,
                     want = ((uint32_t{Key[2 * c]} << 8) | Key[2 * c + 1]) & (bd == 16 ? 0xFFFFu : (1u << bd) - 1);
      uint32_t v;
      if (bd == 16) {
        v = (uint32_t{Src[2 * i]} << 8) | Src[2 * i + 1];
      } else if (bd == 8) {
        v = Src[i];
      } else {
        const uint32_t bit = i * bd;
        v = (Src[bit >> 3] >> (8 - bd - (bit & 7))) & ((1u << bd) - 1);
      }
      same = v == want;
    }
    Mask[col] = same ? 1 : 0;
  }
}

void BuildGreyRamp(TChunkIHDR* H, const uint8_t* Gamma) {
  if (H->ColorType != 0 && H->ColorType != 4) return;
  int32_t n = 1 << H->BitsPerPixel;
  for (int32_t i = 0; i < n; ++i) {
    uint8_t g = Gamma[platform::MulDiv(i, 255, n - 1)];
    H->Palette[static_cast<size_t>(i)] = g * 0x010101u;
  }
}

}  // namespace

namespace pngpriv {

void SetReferenceRows(bool On) { gReferenceRows = On; }
bool ReferenceRows() { return gReferenceRows; }

void UnfilterRowReference(uint8_t* C, const uint8_t* P, uint32_t RowSize, uint32_t D) {
  // C and P point at the filter byte; data bytes are 1..RowSize.
  uint8_t* c = C + 1;
  const uint8_t* p = P + 1;
  switch (C[0]) {
    case 1:
      for (uint32_t j = D; j < RowSize; ++j) c[j] = static_cast<uint8_t>(c[j] + c[j - D]);
      break;
    case 2:
      for (uint32_t j = 0; j < RowSize; ++j) c[j] = static_cast<uint8_t>(c[j] + p[j]);
      break;
    case 3:
      for (uint32_t j = 0; j < RowSize; ++j) {
        uint32_t left = j >= D ? c[j - D] : 0;
        c[j] = static_cast<uint8_t>(c[j] + ((p[j] + left) >> 1));
      }
      break;
    case 4:
      for (uint32_t j = 0; j < RowSize; ++j) {
        int a = j >= D ? c[j - D] : 0, b = p[j], cc = j >= D ? p[j - D] : 0;
        int pp = a + b - cc, pa = std::abs(pp - a), pb = std::abs(pp - b), pc = std::abs(pp - cc);
        int pred = (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : cc);
        c[j] = static_cast<uint8_t>(c[j] + pred);
      }
      break;
    default:
      break;
  }
}

void UnfilterRow(uint8_t* C, const uint8_t* P, uint32_t RowSize, uint32_t D) {
  uint8_t* c = C + 1;
  const uint8_t* p = P + 1;
  const uint8_t type = C[0];
  if (type == 2) {  // no dependency along the row: the compiler's wide loop
    for (uint32_t j = 0; j < RowSize; ++j) c[j] = static_cast<uint8_t>(c[j] + p[j]);
    return;
  }
  // Every whole-byte row holds whole pixels, so the fixed-size loops cover it exactly.
  if (type == 0 || type > 4 || D == 0 || RowSize % D != 0) return UnfilterRowReference(C, P, RowSize, D);
  switch (D) {
    case 1: return UnfilterFixed<1>(c, p, RowSize, type);
    case 2: return UnfilterFixed<2>(c, p, RowSize, type);
    case 3: return UnfilterFixed<3>(c, p, RowSize, type);
    case 4: return UnfilterFixed<4>(c, p, RowSize, type);
    case 6: return UnfilterFixed<6>(c, p, RowSize, type);
    case 8: return UnfilterFixed<8>(c, p, RowSize, type);
    default: return UnfilterRowReference(C, P, RowSize, D);
  }
}

}  // namespace pngpriv

bool TChunkIDAT::LoadFromStream(TStream* Stream, const std::string&, uint32_t Size) {
  TChunkIHDR* h = Header();
  if (!h || h->ImageData.empty()) throw EPngInvalidIHDR(PngErrorText(65147));
  const uint8_t* gamma = Owner->GammaTable.data();
  if (h->HasPalette) BuildGreyRamp(h, gamma);
  uint32_t rowSize = static_cast<uint32_t>(RowSizeFor(h->Width, h->ColorType, h->BitDepth));
  uint32_t d = static_cast<uint32_t>(FilterOffsetFor(h->ColorType, h->BitDepth));
  TIdatReader reader(Stream, Size);
  std::vector<uint8_t> buf[2] = {std::vector<uint8_t>(rowSize + 1, 0), std::vector<uint8_t>(rowSize + 1, 0)};
  int cur = 1;
  auto dibRow = [h](uint32_t r) { return h->ImageData.data() + static_cast<size_t>(h->Height - 1 - r) * h->BytesPerRow; };
  auto alphaRow = [h](uint32_t r) {
    return h->ImageAlpha.empty() ? nullptr : h->ImageAlpha.data() + static_cast<size_t>(r) * h->Width;
  };
  const bool reference = ReferenceRows();
  bool identity = true;
  for (int i = 0; i < 256; ++i) identity = identity && gamma[i] == i;
  // A colour key is matched on the file's samples where the 8-bit colours lose them.
  auto* trns = Owner->FindChunk<TChunktRNS>();
  const bool keyed = (h->ColorType == 0 && trns && trns->DataSize >= 2) || (h->ColorType == 2 && trns && trns->DataSize >= 6);
  if (keyed && (h->BitDepth == 16 || !identity)) {
    std::copy_n(trns->PaletteValues.begin(), h->KeyMaskOf.size(), h->KeyMaskOf.begin());
    h->KeyMask.assign(static_cast<size_t>(h->Width) * h->Height, 0);
  } else {
    h->KeyMask.clear();
  }
  auto keyRow = [h](uint32_t r) { return h->KeyMask.data() + static_cast<size_t>(r) * h->Width; };
  if (h->InterlaceMethod == 0) {
    for (uint32_t r = 0; r < h->Height; ++r) {
      if (!reader.ReadRow(buf[cur].data(), rowSize + 1)) break;
      uint8_t* src = buf[cur].data() + 1;
      if (reference) {
        UnfilterRowReference(buf[cur].data(), buf[1 - cur].data(), rowSize, d);
        ConvertRow(h, gamma, src, h->Width, 0, 1, dibRow(r), alphaRow(r), rowSize);
      } else {
        UnfilterRow(buf[cur].data(), buf[1 - cur].data(), rowSize, d);
        bool done = identity ? ConvertRowFast<true>(h->ColorType, h->BitDepth, gamma, src, h->Width, dibRow(r), alphaRow(r))
                             : ConvertRowFast<false>(h->ColorType, h->BitDepth, gamma, src, h->Width, dibRow(r), alphaRow(r));
        if (!done) ConvertRow(h, gamma, src, h->Width, 0, 1, dibRow(r), alphaRow(r), rowSize);
      }
      if (!h->KeyMask.empty()) MarkKey(h, h->KeyMaskOf, src, h->Width, 0, 1, keyRow(r));
      cur = 1 - cur;
    }
  } else {
    bool dry = false;
    for (int pass = 0; pass < 7 && !dry; ++pass) {
      uint32_t cols = h->Width > kStartCol[pass] ? (h->Width - kStartCol[pass] + kColStep[pass] - 1) / kColStep[pass] : 0;
      uint32_t rs = static_cast<uint32_t>(RowSizeFor(cols, h->ColorType, h->BitDepth));
      std::fill(buf[1 - cur].begin(), buf[1 - cur].end(), 0);
      if (rs == 0) continue;
      for (uint32_t r = kStartRow[pass]; r < h->Height; r += kRowStep[pass]) {
        if (!reader.ReadRow(buf[cur].data(), rs + 1)) {
          dry = true;
          break;
        }
        (reference ? UnfilterRowReference : UnfilterRow)(buf[cur].data(), buf[1 - cur].data(), rs, d);
        ConvertRow(h, gamma, buf[cur].data() + 1, cols, kStartCol[pass], kColStep[pass], dibRow(r), alphaRow(r), rs);
        if (!h->KeyMask.empty()) MarkKey(h, h->KeyMaskOf, buf[cur].data() + 1, cols, kStartCol[pass], kColStep[pass], keyRow(r));
        cur = 1 - cur;
      }
    }
  }
  reader.Finish();
  return true;
}

// ---- writing

namespace {

int32_t WriteRowSize(uint64_t N, uint8_t Ct, uint8_t B) {
  switch (Ct) {
    case 0: case 3: return static_cast<int32_t>((N * B + 7) / 8);
    case 2: return static_cast<int32_t>(N * B * 3 / 8);
    case 4: return static_cast<int32_t>(N * B * 2 / 8);
    case 6: return static_cast<int32_t>(N * B * 4 / 8);
    default: return 0;
  }
}

int32_t WriteDistance(uint8_t Ct, uint8_t B) {
  switch (Ct) {
    case 0: return B == 16 ? 2 : 1;
    case 2: return B * 3 / 8;
    case 3: return 1;
    case 4: return B * 2 / 8;
    case 6: return B * 4 / 8;
    default: return 0;
  }
}

// Fills Out (row size bytes) with the file form of the pixels at Start, Start + Step, ...
void UnconvertRow(const TChunkIHDR* H, const uint8_t* Inv, const uint8_t* Dib, const uint8_t* Alpha, uint32_t Start,
                  uint32_t Step, uint32_t Cols, uint8_t* Out, uint32_t RowSize) {
  const uint8_t bd = H->BitDepth, ct = H->ColorType;
  if ((ct == 0 || ct == 3) && bd <= 8) {
    if (Step == 1) {
      std::memcpy(Out, Dib, RowSize);
      return;
    }
    std::memset(Out, 0, RowSize);
    for (uint32_t k = 0; k < Cols; ++k) {
      uint32_t col = Start + k * Step;
      uint32_t bit = col * bd;
      uint32_t v = (Dib[bit >> 3] >> (8 - bd - (bit & 7))) & ((1u << bd) - 1);
      uint32_t ob = k * bd;
      Out[ob >> 3] = static_cast<uint8_t>(Out[ob >> 3] | (v << (8 - bd - (ob & 7))));
    }
    return;
  }
  // A 16-bit sample repeats the held byte (v x 257): its own value widened, so that 255 stays
  // full intensity and full opacity for every reader.
  uint8_t* o = Out;
  auto put = [&o, bd](uint8_t v) {
    *o++ = v;
    if (bd == 16) *o++ = v;
  };
  for (uint32_t k = 0; k < Cols; ++k) {
    uint32_t col = Start + k * Step;
    switch (ct) {
      case 0:
        put(Dib[col]);
        break;
      case 3:  // an index, not a level: the high byte holds it
        *o++ = Dib[col];
        *o++ = 0;
        break;
      case 2: case 6: {
        const uint8_t* s = Dib + col * 3;
        put(Inv[s[2]]);
        put(Inv[s[1]]);
        put(Inv[s[0]]);
        if (ct == 6) put(Alpha[col]);
        break;
      }
      case 4:
        put(Dib[col]);
        put(Alpha[col]);
        break;
      default:
        break;
    }
  }
}

// The candidate of one filter for a whole row (c the row, p the previous one, d the pixel size).
// Encoding reads only unfiltered bytes, so every byte is independent and goes 16 (8 for
// Paeth) at a time.
void FilterCandidate(int F, const uint8_t* c, const uint8_t* p, uint32_t n, uint32_t d, uint8_t* out) {
  uint32_t i = 0;
  for (; i < n && i < d; ++i) {  // no left pixel: a = c = 0
    int b = p[i];
    int pred = F == pfSub ? 0 : F == pfUp ? b : F == pfAverage ? b >> 1 : b;
    out[i] = static_cast<uint8_t>(c[i] - pred);
  }
#ifdef __SSE2__
  auto load = [](const uint8_t* q) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q)); };
  auto store = [](uint8_t* q, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(q), v); };
  const __m128i one = _mm_set1_epi8(1), zero = _mm_setzero_si128();
  switch (F) {
    case pfSub:
      for (; i + 16 <= n; i += 16) store(out + i, _mm_sub_epi8(load(c + i), load(c + i - d)));
      break;
    case pfUp:
      for (; i + 16 <= n; i += 16) store(out + i, _mm_sub_epi8(load(c + i), load(p + i)));
      break;
    case pfAverage:
      for (; i + 16 <= n; i += 16) {
        __m128i a = load(c + i - d), b = load(p + i);
        __m128i avg = _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), one));
        store(out + i, _mm_sub_epi8(load(c + i), avg));
      }
      break;
    case pfPaeth: {
      auto load8 = [zero](const uint8_t* q) {
        return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(q)), zero);
      };
      auto abs16 = [zero](__m128i x) { return _mm_max_epi16(x, _mm_sub_epi16(zero, x)); };
      auto select = [](__m128i mask, __m128i yes, __m128i no) {
        return _mm_or_si128(_mm_and_si128(mask, yes), _mm_andnot_si128(mask, no));
      };
      for (; i + 8 <= n; i += 8) {
        __m128i a = load8(c + i - d), b = load8(p + i), ul = load8(p + i - d);
        __m128i pa = abs16(_mm_sub_epi16(b, ul));
        __m128i pb = abs16(_mm_sub_epi16(a, ul));
        __m128i pc = abs16(_mm_sub_epi16(_mm_add_epi16(a, b), _mm_add_epi16(ul, ul)));
        __m128i least = _mm_min_epi16(pa, _mm_min_epi16(pb, pc));
        __m128i pred = select(_mm_cmpeq_epi16(pb, least), b, ul);
        pred = select(_mm_cmpeq_epi16(pa, least), a, pred);
        __m128i x = _mm_sub_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(c + i)), _mm_packus_epi16(pred, pred));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), x);
      }
      break;
    }
    default:
      break;
  }
#endif
  for (; i < n; ++i) {
    int a = c[i - d], b = p[i], pred;
    switch (F) {
      case pfSub: pred = a; break;
      case pfUp: pred = b; break;
      case pfAverage: pred = (a + b) >> 1; break;
      default: {
        int cc = p[i - d], pp = a + b - cc, pa = std::abs(pp - a), pb = std::abs(pp - b), pc = std::abs(pp - cc);
        pred = (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : cc);
        break;
      }
    }
    out[i] = static_cast<uint8_t>(c[i] - pred);
  }
}

// Score() sixteen bytes at a time.
uint32_t ScoreFast(const uint8_t* R, uint32_t N) {
  uint32_t s = 0, i = 2;
#ifdef __SSE2__
  for (; i + 16 <= N; i += 16) {
    __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(R + i));
    __m128i same = _mm_or_si128(_mm_cmpeq_epi8(x, _mm_loadu_si128(reinterpret_cast<const __m128i*>(R + i - 1))),
                                _mm_cmpeq_epi8(x, _mm_loadu_si128(reinterpret_cast<const __m128i*>(R + i - 2))));
    s += static_cast<uint32_t>(__builtin_popcount(static_cast<unsigned>(_mm_movemask_epi8(same))));
  }
#endif
  for (; i < N; ++i)
    if (R[i] == R[i - 1] || R[i] == R[i - 2]) ++s;
  return s;
}

#ifdef __SSE2__
// Four pixels of blue, green, red and their alphas a step into red, green, blue, alpha. The
// 16-byte load reads 4 bytes beyond the step's pixels, so the last pixels go one at a time.
__attribute__((target("ssse3"))) void UnconvertRgbaSsse3(const uint8_t* Dib, const uint8_t* Alpha, uint32_t W, uint8_t* Out) {
  const __m128i rgb = _mm_setr_epi8(2, 1, 0, -1, 5, 4, 3, -1, 8, 7, 6, -1, 11, 10, 9, -1);
  const __m128i al = _mm_setr_epi8(-1, -1, -1, 0, -1, -1, -1, 1, -1, -1, -1, 2, -1, -1, -1, 3);
  uint32_t x = 0;
  for (; x + 6 <= W; x += 4) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Dib + 3 * x));
    int32_t a;
    std::memcpy(&a, Alpha + x, 4);
    __m128i o = _mm_or_si128(_mm_shuffle_epi8(v, rgb), _mm_shuffle_epi8(_mm_cvtsi32_si128(a), al));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(Out + 4 * x), o);
  }
  for (; x < W; ++x) {
    Out[4 * x] = Dib[3 * x + 2];
    Out[4 * x + 1] = Dib[3 * x + 1];
    Out[4 * x + 2] = Dib[3 * x];
    Out[4 * x + 3] = Alpha[x];
  }
}
#endif

// Whole rows of 8-bit RGB + alpha with an identity inverse gamma; false for other forms.
bool UnconvertRowFast(uint8_t Ct, uint8_t Bd, const uint8_t* Dib, const uint8_t* Alpha, uint32_t W, uint8_t* Out) {
  if (Ct != 6 || Bd != 8 || !Alpha) return false;
#ifdef __SSE2__
  if (HasSsse3()) {
    UnconvertRgbaSsse3(Dib, Alpha, W, Out);
    return true;
  }
#endif
  for (uint32_t x = 0; x < W; ++x) {
    Out[4 * x] = Dib[3 * x + 2];
    Out[4 * x + 1] = Dib[3 * x + 1];
    Out[4 * x + 2] = Dib[3 * x];
    Out[4 * x + 3] = Alpha[x];
  }
  return true;
}

class TIdatWriter {
 public:
  TIdatWriter(TStream* S, int Level, uint32_t MaxIdat) : FStream(S), FOut(MaxIdat) {
    int r = deflateInit(&FZ, std::clamp(Level, 0, 9));
    if (r != Z_OK) throw EPNGZLIBError(PngErrorText(65149) + PngZlibCodeText(r));
    Reset();
  }
  ~TIdatWriter() { deflateEnd(&FZ); }

  void Feed(const uint8_t* Data, uint32_t Size) {
    FZ.next_in = const_cast<uint8_t*>(Data);
    FZ.avail_in = Size;
    while (FZ.avail_in > 0) {
      int r = deflate(&FZ, Z_NO_FLUSH);
      if (r < 0 && r != Z_BUF_ERROR) throw EPNGZLIBError(PngErrorText(65149) + PngZlibCodeText(r));
      if (FZ.avail_out == 0) {
        WriteChunk(static_cast<uint32_t>(FOut.size()));
        Reset();
      }
    }
  }

  void Finish() {
    for (;;) {
      int r = deflate(&FZ, Z_FINISH);
      if (r == Z_STREAM_END) break;
      if (r < 0 && r != Z_BUF_ERROR) throw EPNGZLIBError(PngErrorText(65149) + PngZlibCodeText(r));
      WriteChunk(static_cast<uint32_t>(FOut.size() - FZ.avail_out));
      Reset();
    }
    uint32_t filled = static_cast<uint32_t>(FOut.size() - FZ.avail_out);
    if (filled > 0) WriteChunk(filled);
  }

 private:
  void Reset() {
    FZ.next_out = FOut.data();
    FZ.avail_out = static_cast<uInt>(FOut.size());
  }
  void WriteChunk(uint32_t L) {
    WriteBE32(FStream, L);
    FStream->WriteBuffer("IDAT", 4);
    if (L) FStream->WriteBuffer(FOut.data(), static_cast<int32_t>(L));
    WriteBE32(FStream, ~(ReferenceRows() ? UpdatePngCrcReference : UpdatePngCrc)(NameCrc("IDAT"), FOut.data(), L));
  }
  TStream* FStream;
  z_stream FZ{};
  std::vector<uint8_t> FOut;
};

uint32_t Score(const uint8_t* R, uint32_t N) {
  uint32_t s = 0;
  for (uint32_t i = 2; i < N; ++i)
    if (R[i] == R[i - 1] || R[i] == R[i - 2]) ++s;
  return s;
}

}  // namespace

bool TChunkIDAT::SaveToStream(TStream* Stream) {
  TChunkIHDR* h = Header();
  if (!h || h->ImageData.empty()) return true;
  const uint8_t ct = h->ColorType, bd = h->BitDepth;
  uint32_t rowSize = static_cast<uint32_t>(WriteRowSize(h->Width, ct, bd));
  uint32_t d = static_cast<uint32_t>(WriteDistance(ct, bd));
  TFilters filters = Owner->Filters;
  std::vector<uint8_t> cur(rowSize, 0), prev(rowSize, 0);
  std::vector<uint8_t> cand[5];
  for (int f = pfSub; f <= pfPaeth; ++f)
    if (filters & (1u << f)) cand[f].assign(rowSize, 0);
  const uint8_t* inv = Owner->InverseTable.data();
  TIdatWriter writer(Stream, Owner->CompressionLevel, Owner->MaxIdatSize());

  const bool reference = ReferenceRows();
  bool identity = true;
  for (int i = 0; i < 256; ++i) identity = identity && inv[i] == i;
  auto writeRow = [&](uint32_t n) {
    const uint8_t* c = cur.data();
    const uint8_t* p = prev.data();
    if (!reference) {
      for (int f = pfSub; f <= pfPaeth; ++f)
        if (!cand[f].empty()) FilterCandidate(f, c, p, n, d, cand[f].data());
    } else {  // the plain byte loop the fast candidates are checked against
      for (uint32_t i = 0; i < n; ++i) {
        uint8_t a = i >= d ? c[i - d] : 0, b = p[i], cc = i >= d ? p[i - d] : 0;
        if (!cand[pfSub].empty()) cand[pfSub][i] = static_cast<uint8_t>(c[i] - a);
        if (!cand[pfUp].empty()) cand[pfUp][i] = static_cast<uint8_t>(c[i] - b);
        if (!cand[pfAverage].empty()) cand[pfAverage][i] = static_cast<uint8_t>(c[i] - ((a + b) >> 1));
        if (!cand[pfPaeth].empty()) {
          int pp = a + b - cc, pa = std::abs(pp - a), pb = std::abs(pp - b), pc = std::abs(pp - cc);
          int pred = (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : cc);
          cand[pfPaeth][i] = static_cast<uint8_t>(c[i] - pred);
        }
      }
    }
    std::memcpy(prev.data(), c, n);  // the None candidate and the next row's previous row
    uint8_t choice = pfNone;
    int allowed = 0, only = pfNone;
    for (int f = pfNone; f <= pfPaeth; ++f)
      if (filters & (1u << f)) {
        ++allowed;
        only = f;
      }
    if (allowed == 1) {
      choice = static_cast<uint8_t>(only);
    } else if (allowed > 1) {
      uint32_t best = 0;
      for (int f = pfNone; f <= pfPaeth; ++f) {
        if (!(filters & (1u << f))) continue;
        const uint8_t* row = f == pfNone ? prev.data() : cand[f].data();
        uint32_t s = reference ? Score(row, n) : ScoreFast(row, n);
        if (s > best) {
          best = s;
          choice = static_cast<uint8_t>(f);
        }
      }
    }
    writer.Feed(&choice, 1);
    writer.Feed(choice == pfNone ? prev.data() : cand[choice].data(), n);
  };

  auto dibRow = [h](uint32_t r) { return h->ImageData.data() + static_cast<size_t>(h->Height - 1 - r) * h->BytesPerRow; };
  auto alphaRow = [h](uint32_t r) {
    return h->ImageAlpha.empty() ? nullptr : h->ImageAlpha.data() + static_cast<size_t>(r) * h->Width;
  };
  // A colour key is a file sample, while the image holds 8-bit levels that a gamma table or a
  // 16-bit sample may share between the key and its neighbours: the pixels left out get the
  // key's own samples and the others are kept off them, so the file leaves out the same pixels.
  auto* trns = Owner->FindChunk<TChunktRNS>();
  const uint32_t channels = ct == 2 ? 3 : 1;
  const uint32_t top = bd == 16 ? 0xFFFF : (1u << bd) - 1;
  std::array<uint32_t, 3> key{};
  // (Grey below 8 bits is written as the bitmap holds it, 2 bits as 4, after the header.)
  bool keyed = (ct == 0 || ct == 2) && trns && trns->DataSize >= 2 * channels && !(ct == 0 && bd < 8 && h->BitsPerPixel != bd);
  for (uint32_t c = 0; keyed && c < channels; ++c) {
    // Bits above the depth are not the key's, as when it is read.
    key[c] = ((uint32_t{trns->PaletteValues[2 * c]} << 8) | trns->PaletteValues[2 * c + 1]) & top;
  }
  uint32_t tc = 0;
  if (keyed) {
    const platform::TColor t = platform::ColorToRGB(Owner->TransparentColor());
    tc = ((t & 0xFF) << 16) | (t & 0xFF00) | ((t >> 16) & 0xFF);
  }
  const uint8_t* gamma = Owner->GammaTable.data();
  // Sample c of pixel i in the written row, and the level an 8-bit or packed sample shows.
  auto sampleAt = [&](uint32_t i, uint32_t c) -> uint32_t {
    const uint32_t k = i * channels + c;
    if (bd == 16) return (uint32_t{cur[2 * k]} << 8) | cur[2 * k + 1];
    if (bd == 8) return cur[k];
    return (cur[k * bd >> 3] >> (8 - bd - (k * bd & 7))) & top;
  };
  auto setSample = [&](uint32_t i, uint32_t c, uint32_t v) {
    const uint32_t k = i * channels + c;
    if (bd == 16) {
      cur[2 * k] = static_cast<uint8_t>(v >> 8);
      cur[2 * k + 1] = static_cast<uint8_t>(v);
    } else if (bd == 8) {
      cur[k] = static_cast<uint8_t>(v);
    } else {
      const uint32_t shift = 8 - bd - (k * bd & 7);
      uint8_t& b = cur[k * bd >> 3];
      b = static_cast<uint8_t>((b & ~(top << shift)) | (v << shift));
    }
  };
  auto levelOf = [&](uint32_t v) -> uint32_t { return ct == 0 ? h->Palette[v] & 0xFF : gamma[v]; };
  auto keyRow = [&](uint32_t r, uint32_t start, uint32_t step, uint32_t cols) {
    if (!keyed) return;
    const uint8_t* mask = Owner->KeyMaskRow(static_cast<int32_t>(r));
    const uint8_t* dib = dibRow(r);
    for (uint32_t i = 0; i < cols; ++i) {
      const uint32_t col = start + i * step;
      uint32_t idx = 0, rgb;
      if (ct == 2) {
        rgb = (uint32_t{dib[3 * col + 2]} << 16) | (uint32_t{dib[3 * col + 1]} << 8) | dib[3 * col];
      } else {
        const uint32_t b = static_cast<uint32_t>(h->BitsPerPixel);
        idx = b == 8 ? dib[col] : (dib[col * b / 8] >> (8 - b - (col * b) % 8)) & ((1u << b) - 1);
        rgb = h->Palette[idx] & 0xFFFFFF;
      }
      if (rgb == tc && (!mask || mask[col])) {
        for (uint32_t c = 0; c < channels; ++c) setSample(i, c, key[c]);
        continue;
      }
      bool same = true;
      for (uint32_t c = 0; c < channels && same; ++c) same = sampleAt(i, c) == key[c];
      if (!same) continue;
      // Off the key by one step in the channel where that shows least: the low byte of a
      // 16-bit sample shows nothing, and a merged neighbour shows the pixel's own level.
      uint32_t bestC = 0, bestV = key[0] ^ 1, bestCost = UINT32_MAX;
      for (uint32_t c = 0; c < channels; ++c) {
        const uint32_t held = ct == 2 ? (rgb >> (16 - 8 * c)) & 0xFF : rgb & 0xFF;
        for (int d : {-1, 1}) {
          const int64_t v = int64_t{key[c]} + d;
          if (v < 0 || v > top) continue;
          const uint32_t shown = levelOf(static_cast<uint32_t>(bd == 16 ? v >> 8 : v));
          const uint32_t cost = static_cast<uint32_t>(std::abs(int(shown) - int(held)));
          if (cost < bestCost) bestC = c, bestV = static_cast<uint32_t>(v), bestCost = cost;
        }
      }
      setSample(i, bestC, bestV);
    }
  };
  if (Owner->InterlaceMethod == 0) {
    for (uint32_t r = 0; r < h->Height; ++r) {
      if (reference || !identity || !UnconvertRowFast(ct, bd, dibRow(r), alphaRow(r), h->Width, cur.data()))
        UnconvertRow(h, inv, dibRow(r), alphaRow(r), 0, 1, h->Width, cur.data(), rowSize);
      keyRow(r, 0, 1, h->Width);
      writeRow(rowSize);
    }
  } else if (Owner->InterlaceMethod == 1) {
    for (int pass = 0; pass < 7; ++pass) {
      uint32_t cols = h->Width > kStartCol[pass] ? (h->Width - kStartCol[pass] + kColStep[pass] - 1) / kColStep[pass] : 0;
      uint32_t rs = static_cast<uint32_t>(WriteRowSize(cols, ct, bd));
      std::fill(prev.begin(), prev.begin() + rs, 0);
      if (rs == 0) continue;
      for (uint32_t r = kStartRow[pass]; r < h->Height; r += kRowStep[pass]) {
        UnconvertRow(h, inv, dibRow(r), alphaRow(r), kStartCol[pass], kColStep[pass], cols, cur.data(), rs);
        keyRow(r, kStartCol[pass], kColStep[pass], cols);
        writeRow(rs);
      }
    }
  } else {
    return true;  // an unknown interlace method writes no image data
  }
  writer.Finish();
  return true;
}

}  // namespace raster

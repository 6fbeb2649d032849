#include "raster/Raster32Transforms.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <vector>

#include "platform/Rounding.h"
#include "raster/Raster32BlendPriv.h"
#include "raster/Raster32System.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KD_TRANSFORM_X86 1
#endif

namespace raster {

const TFloatMatrix IdentityMatrix = {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};

namespace {

int32_t Sat32(int64_t v) {
  return static_cast<int32_t>(
      std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

TRect BitmapRect(const TBitmap32* B) { return MakeRect(0, 0, B->Width(), B->Height()); }

// Writes one pixel by the draw mode. Blend uses the master variant, as the resamplers do.
struct TPixelWriter {
  TDrawMode Mode;
  TColor32 Master;
  const TPixelCombineEvent* CallBack;
  void operator()(TColor32 C, TColor32& D) const {
    switch (Mode) {
      case dmOpaque: D = C; break;
      case dmBlend: BlendPixelMasterInPlace(C, D, Master); break;
      case dmCustom: (*CallBack)(C, D, Master); break;
    }
  }
};

// Shared front of the stretch routines; false when there is nothing to draw.
bool PrepareStretch(TBitmap32* Dst, const TRect& DstRect, TBitmap32* Src, const TRect& SrcRect, TDrawMode Mode,
                    TRect& DstClip) {
  CheckBitmaps(Dst, Src);
  if (!CheckSrcRect(Src, SrcRect)) return false;
  if (IsRectEmpty(DstRect)) return false;
  if (!raster::IntersectRect(DstClip, DstRect, BitmapRect(Dst)) || IsRectEmpty(DstClip)) return false;
  if (Mode == dmBlend && Src->MasterAlpha() == 0) return false;
  return true;
}

int64_t RectW(const TRect& R) { return static_cast<int64_t>(R.Right) - R.Left; }
int64_t RectH(const TRect& R) { return static_cast<int64_t>(R.Bottom) - R.Top; }

// ---- Nearest ----

void StretchNearestAll(TBitmap32* Dst, const TRect& DstRect, const TRect& DstClip, TBitmap32* Src,
                       const TRect& SrcRect, TDrawMode Mode, const TPixelCombineEvent& CB) {
  int64_t srcW = RectW(SrcRect), srcH = RectH(SrcRect), dstW = RectW(DstRect), dstH = RectH(DstRect);
  int64_t sx = (srcW << 16) / dstW, sy = (srcH << 16) / dstH;
  // The first visible pixel starts where the steps of the whole rectangle put it: a clipped
  // drawing shows the same pixels as the unclipped one (the offset is below the extent, so the
  // product stays below srcW shl 16).
  int64_t x0 = (DstClip.Left - static_cast<int64_t>(DstRect.Left)) * sx;
  int64_t y = (DstClip.Top - static_cast<int64_t>(DstRect.Top)) * sy;
  int32_t clipW = DstClip.Right - DstClip.Left;
  uint32_t master = Src->MasterAlpha();
  bool copyRows = dstH > 2 * srcH;
  int64_t prevRow = -1;
  for (int32_t dy = DstClip.Top; dy < DstClip.Bottom; ++dy, y += sy) {
    int64_t srow = std::min<int64_t>(y >> 16, srcH - 1);
    TColor32* d = Dst->PixelPtr(DstClip.Left, dy);
    if (Mode == dmOpaque && copyRows && srow == prevRow) {
      std::memcpy(d, d - Dst->Width(), static_cast<size_t>(clipW) * 4);
      continue;
    }
    prevRow = srow;
    const TColor32* s = Src->PixelPtr(SrcRect.Left, SrcRect.Top + static_cast<int32_t>(srow));
    int64_t x = x0;
    switch (Mode) {
      case dmOpaque:
        for (int32_t i = 0; i < clipW; ++i, x += sx) d[i] = s[std::min<int64_t>(x >> 16, srcW - 1)];
        break;
      case dmBlend:
        if (master >= 255) {
          for (int32_t i = 0; i < clipW; ++i, x += sx) BlendPixelInPlace(s[std::min<int64_t>(x >> 16, srcW - 1)], d[i]);
        } else {
          for (int32_t i = 0; i < clipW; ++i, x += sx)
            BlendPixelMasterInPlace(s[std::min<int64_t>(x >> 16, srcW - 1)], d[i], master);
        }
        break;
      case dmCustom:
        for (int32_t i = 0; i < clipW; ++i, x += sx) CB(s[std::min<int64_t>(x >> 16, srcW - 1)], d[i], master);
        break;
    }
  }
  EMMS();
}

// ---- Bilinear (sfLinear) ----

void StretchLinear(TBitmap32* Dst, const TRect& DstRect, const TRect& DstClip, TBitmap32* Src, const TRect& SrcRect,
                   TDrawMode Mode, const TPixelCombineEvent& CB) {
  int64_t srcW = RectW(SrcRect), srcH = RectH(SrcRect), dstW = RectW(DstRect), dstH = RectH(DstRect);
  int64_t sx = ((srcW - 1) << 16) / dstW, sy = ((srcH - 1) << 16) / dstH;
  // The first visible pixel starts where the steps of the whole rectangle put it, so a clipped
  // drawing shows the same pixels as the unclipped one (the offset is below the extent, so the
  // product stays below (srcW - 1) shl 16).
  int64_t x0 = (DstClip.Left - static_cast<int64_t>(DstRect.Left)) * sx;
  int64_t y = (DstClip.Top - static_cast<int64_t>(DstRect.Top)) * sy;
  int32_t clipW = DstClip.Right - DstClip.Left;
  uint32_t master = Src->MasterAlpha();
  const int32_t lastCol = static_cast<int32_t>(srcW - 1), lastRow = static_cast<int32_t>(srcH - 1);
  for (int32_t dy = DstClip.Top; dy < DstClip.Bottom; ++dy, y += sy) {
    int32_t r0 = static_cast<int32_t>(std::min<int64_t>(y >> 16, lastRow));
    int32_t r1 = r0 == lastRow ? r0 : r0 + 1;
    TColor32 wy = ((y >> 8) & 255) ^ 255;
    const TColor32* s0 = Src->PixelPtr(SrcRect.Left, SrcRect.Top + r0);
    const TColor32* s1 = Src->PixelPtr(SrcRect.Left, SrcRect.Top + r1);
    TColor32* d = Dst->PixelPtr(DstClip.Left, dy);
    int64_t x = x0;
    for (int32_t i = 0; i < clipW; ++i, x += sx) {
      int32_t c0 = static_cast<int32_t>(std::min<int64_t>(x >> 16, lastCol));
      // The right-hand column is clamped like the bottom row: never read past the source.
      int32_t c1 = c0 == lastCol ? c0 : c0 + 1;
      TColor32 wx = ((x >> 8) & 255) ^ 255;
      TColor32 c = CombinePixel(CombinePixel(s0[c0], s0[c1], wx), CombinePixel(s1[c0], s1[c1], wx), wy);
      switch (Mode) {
        case dmOpaque: d[i] = c; break;
        case dmBlend:
          if (master >= 255)
            BlendPixelInPlace(c, d[i]);
          else
            BlendPixelMasterInPlace(c, d[i], master);
          break;
        case dmCustom: CB(c, d[i], master); break;
      }
    }
  }
  EMMS();
}

// ---- Kernel resampler (sfLinear2, sfSpline) ----

double KernelValue(TStretchFilter Filter, double x) {
  double ax = std::fabs(x);
  switch (Filter) {
    case sfNearest: return (x > -0.5 && x <= 0.5) ? 1.0 : 0.0;
    case sfSpline:
      if (ax < 1) return 0.5 * ax * ax * ax - x * x + 2.0 / 3.0;
      if (ax < 2) return (2 - ax) * (2 - ax) * (2 - ax) / 6.0;
      return 0;
    default: return ax < 1 ? 1 - ax : 0;
  }
}

// Contributions of source pixels to each destination pixel of the clipped range; the
// weights of one entry always sum to exactly 256.
struct TMappingTable {
  std::vector<int32_t> First;  // per destination pixel, into Index/Weight; size count + 1
  std::vector<int32_t> Index;
  std::vector<int32_t> Weight;
};

// Rescales integer weights to a total of exactly 256 (largest remainders get the spare units),
// so a uniform source stays exactly uniform.
void NormaliseTo256(std::vector<double>& w, std::vector<int32_t>& out) {
  double sum = 0;
  for (double v : w) sum += v;
  out.assign(w.size(), 0);
  if (sum <= 0 || w.empty()) return;
  int32_t total = 0;
  std::vector<double> rem(w.size());
  for (size_t k = 0; k < w.size(); ++k) {
    double exact = w[k] * 256.0 / sum;
    out[k] = static_cast<int32_t>(std::floor(exact));
    rem[k] = exact - out[k];
    total += out[k];
  }
  while (total < 256) {
    size_t best = 0;
    for (size_t k = 1; k < rem.size(); ++k)
      if (rem[k] > rem[best]) best = k;
    ++out[best];
    rem[best] = -1;
    ++total;
  }
}

TMappingTable BuildMappingTable(int64_t DstCount, int64_t ClipLo, int64_t ClipHi, int32_t SrcDim, int32_t SrcLo,
                                int32_t SrcHi, TStretchFilter Filter) {
  TMappingTable t;
  int64_t n = ClipHi - ClipLo;
  t.First.assign(static_cast<size_t>(n) + 1, 0);
  std::vector<double> raw, rounded;
  std::vector<int32_t> idx, weights;
  auto flush = [&](int64_t i) {
    // Extreme shrinking rounds every weight to 0: fall back to the exact kernel values.
    std::vector<double>& use = [&]() -> std::vector<double>& {
      for (double v : rounded)
        if (v > 0) return rounded;
      return raw;
    }();
    NormaliseTo256(use, weights);
    for (size_t k = 0; k < idx.size(); ++k)
      if (weights[k] != 0) {
        t.Index.push_back(idx[k]);
        t.Weight.push_back(weights[k]);
      }
    t.First[static_cast<size_t>(i) + 1] = static_cast<int32_t>(t.Index.size());
  };
  for (int64_t i = 0; i < n; ++i) {
    raw.clear();
    rounded.clear();
    idx.clear();
    int64_t di = ClipLo + i;
    if (SrcDim == 1 || SrcHi - SrcLo == 1) {
      // A one-pixel source repeats.
      idx.push_back(SrcDim == 1 ? 0 : SrcLo);
      raw.push_back(1);
      rounded.push_back(1);
      flush(i);
      continue;
    }
    double fw = Filter == sfSpline ? 1.5 : 1.001;
    double scale, center;
    if (DstCount == 1) {
      // One destination pixel samples the middle of the whole source span.
      scale = 1.0 / (SrcHi - SrcLo);
      center = SrcLo + (SrcHi - SrcLo - 1) / 2.0;
    } else {
      scale = static_cast<double>(DstCount - 1) / (SrcHi - SrcLo - 1);
      center = SrcLo + static_cast<double>(di) / scale;
    }
    if (scale < 1) {
      fw = fw / scale;
      for (int64_t j = static_cast<int64_t>(std::floor(center - fw)); j <= static_cast<int64_t>(std::ceil(center + fw));
           ++j) {
        double k = KernelValue(Filter, (center - j) * scale);
        if (k <= 0) continue;
        idx.push_back(static_cast<int32_t>(std::clamp<int64_t>(j, 0, SrcDim - 1)));
        raw.push_back(k);
        rounded.push_back(static_cast<double>(platform::Round(k * 255 * scale)));
      }
    } else {
      fw = 1 / fw;
      for (int64_t j = static_cast<int64_t>(std::floor(center - fw)); j <= static_cast<int64_t>(std::ceil(center + fw));
           ++j) {
        double k = KernelValue(Filter, center - j);
        if (k <= 0) continue;
        idx.push_back(static_cast<int32_t>(std::clamp<int64_t>(j, 0, SrcDim - 1)));
        raw.push_back(k);
        rounded.push_back(static_cast<double>(platform::Round(k * 256)));
      }
    }
    flush(i);
  }
  return t;
}

// Adds Weight * each byte of Src to the 16-bit accumulators (weights of an entry sum to 256,
// so 255 * 256 never overflows a word).
void AccumulateRow(uint16_t* Acc, const uint8_t* Src, int32_t Bytes, uint16_t Weight) {
  int32_t k = 0;
#if defined(__SSE2__)
  const __m128i w = _mm_set1_epi16(static_cast<int16_t>(Weight));
  const __m128i zero = _mm_setzero_si128();
  for (; k + 16 <= Bytes; k += 16) {
    __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Src + k));
    __m128i a0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Acc + k));
    __m128i a1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Acc + k + 8));
    a0 = _mm_add_epi16(a0, _mm_mullo_epi16(_mm_unpacklo_epi8(s, zero), w));
    a1 = _mm_add_epi16(a1, _mm_mullo_epi16(_mm_unpackhi_epi8(s, zero), w));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(Acc + k), a0);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(Acc + k + 8), a1);
  }
#endif
  for (; k < Bytes; ++k) Acc[k] = static_cast<uint16_t>(Acc[k] + Weight * Src[k]);
}

void StretchKernel(TBitmap32* Dst, const TRect& DstRect, const TRect& DstClip, TBitmap32* Src, const TRect& SrcRect,
                   TStretchFilter Filter, TDrawMode Mode, const TPixelCombineEvent& CB) {
  TMappingTable mx = BuildMappingTable(RectW(DstRect), DstClip.Left - static_cast<int64_t>(DstRect.Left),
                                       DstClip.Right - static_cast<int64_t>(DstRect.Left), Src->Width(),
                                       SrcRect.Left, SrcRect.Right, Filter);
  TMappingTable my = BuildMappingTable(RectH(DstRect), DstClip.Top - static_cast<int64_t>(DstRect.Top),
                                       DstClip.Bottom - static_cast<int64_t>(DstRect.Top), Src->Height(),
                                       SrcRect.Top, SrcRect.Bottom, Filter);
  if (mx.Index.empty() || my.Index.empty()) return;
  int32_t xmin = *std::min_element(mx.Index.begin(), mx.Index.end());
  int32_t xmax = *std::max_element(mx.Index.begin(), mx.Index.end());
  int32_t span = xmax - xmin + 1;
  std::vector<uint16_t> acc(static_cast<size_t>(span) * 4);
  TPixelWriter write{Mode, Src->MasterAlpha(), &CB};
  int32_t clipW = DstClip.Right - DstClip.Left;
  for (int32_t row = 0; row < DstClip.Bottom - DstClip.Top; ++row) {
    // Vertical pass into 16-bit sums, then the horizontal pass; the integer result equals
    // the sum over all (x, y) contributions of source * wx * wy.
    std::fill(acc.begin(), acc.end(), 0);
    for (int32_t e = my.First[row]; e < my.First[row + 1]; ++e) {
      const uint8_t* s = reinterpret_cast<const uint8_t*>(Src->PixelPtr(xmin, my.Index[e]));
      AccumulateRow(acc.data(), s, span * 4, static_cast<uint16_t>(my.Weight[e]));
    }
    TColor32* d = Dst->PixelPtr(DstClip.Left, DstClip.Top + row);
    for (int32_t i = 0; i < clipW; ++i) {
      uint32_t sb = 0, sg = 0, sr = 0, sa = 0;
      for (int32_t e = mx.First[i]; e < mx.First[i + 1]; ++e) {
        const uint16_t* a = &acc[static_cast<size_t>(mx.Index[e] - xmin) * 4];
        uint32_t w = static_cast<uint32_t>(mx.Weight[e]);
        sb += a[0] * w;
        sg += a[1] * w;
        sr += a[2] * w;
        sa += a[3] * w;
      }
      TColor32 c = (std::min<uint32_t>(sa >> 16, 255) << 24) | (std::min<uint32_t>(sr >> 16, 255) << 16) |
                   (std::min<uint32_t>(sg >> 16, 255) << 8) | std::min<uint32_t>(sb >> 16, 255);
      write(c, d[i]);
    }
  }
  EMMS();
}

}  // namespace

// ---- Checks and block transfer ----

void CheckBitmaps(const TBitmap32* Dst, const TBitmap32* Src) {
  if (Dst == nullptr || Dst->Empty()) throw ETransformError("Destination bitmap is nil or empty");
  if (Src == nullptr || Src->Empty()) throw ETransformError("Source bitmap is nil or empty");
}

bool CheckSrcRect(const TBitmap32* Src, const TRect& SrcRect) {
  if (IsRectEmpty(SrcRect)) return false;
  if (SrcRect.Left < 0 || SrcRect.Top < 0 || SrcRect.Right > Src->Width() || SrcRect.Bottom > Src->Height())
    throw ETransformError("Source rectangle is invalid");
  return true;
}

void BlockTransfer(TBitmap32* Dst, int32_t DstX, int32_t DstY, TBitmap32* Src, TRect SrcRect, TDrawMode DrawMode,
                   const TPixelCombineEvent& CombineCallBack) {
  CheckBitmaps(Dst, Src);
  if (DrawMode == dmCustom && !CombineCallBack) DrawMode = dmOpaque;
  uint32_t master = Src->MasterAlpha();
  if (DrawMode == dmBlend && master == 0) return;
  if (!raster::IntersectRect(SrcRect, SrcRect, BitmapRect(Src)) || IsRectEmpty(SrcRect)) return;
  // Placed at (DstX, DstY), then clipped to the destination (in 64 bits: DstX may be far out).
  int64_t l = DstX, t = DstY, r = l + RectW(SrcRect), b = t + RectH(SrcRect);
  int64_t cl = std::max<int64_t>(l, 0), ct = std::max<int64_t>(t, 0);
  int64_t cr = std::min<int64_t>(r, Dst->Width()), cb = std::min<int64_t>(b, Dst->Height());
  if (cr <= cl || cb <= ct) return;
  int32_t sx = SrcRect.Left + static_cast<int32_t>(cl - l), sy = SrcRect.Top + static_cast<int32_t>(ct - t);
  int32_t w = static_cast<int32_t>(cr - cl), h = static_cast<int32_t>(cb - ct);
  int32_t dx = static_cast<int32_t>(cl), dy = static_cast<int32_t>(ct);
  // Rows run bottom-up when a bitmap copies onto a lower part of itself.
  bool upward = Src == Dst && dy > sy;
  // Moved right along its own rows, a blend would read pixels it has already written: each
  // source row is then taken from a copy (a plain copy moves them itself).
  std::vector<TColor32> rowCopy;
  if (Src == Dst && dy == sy && dx > sx && DrawMode != dmOpaque) rowCopy.resize(static_cast<size_t>(w));
  for (int32_t k = 0; k < h; ++k) {
    int32_t row = upward ? h - 1 - k : k;
    const TColor32* s = Src->PixelPtr(sx, sy + row);
    TColor32* d = Dst->PixelPtr(dx, dy + row);
    if (!rowCopy.empty()) {
      std::copy(s, s + w, rowCopy.begin());
      s = rowCopy.data();
    }
    switch (DrawMode) {
      case dmOpaque: MoveLongword(s, d, w); break;
      case dmBlend:
        if (master >= 255)
          BlendSpan(s, d, w);
        else
          BlendSpanMaster(s, d, w, master);
        break;
      case dmCustom:
        for (int32_t i = 0; i < w; ++i) CombineCallBack(s[i], d[i], master);
        break;
    }
  }
  EMMS();
}

void StretchTransfer(TBitmap32* Dst, TRect DstRect, TBitmap32* Src, TRect SrcRect, TStretchFilter StretchFilter,
                     TDrawMode DrawMode, const TPixelCombineEvent& CombineCallBack) {
  if (DrawMode == dmCustom && !CombineCallBack) DrawMode = dmOpaque;
  TRect clip;
  if (!PrepareStretch(Dst, DstRect, Src, SrcRect, DrawMode, clip)) return;
  if (StretchFilter == sfLinear && Src->MasterAlpha() == 0) return;
  if (RectW(DstRect) == RectW(SrcRect) && RectH(DstRect) == RectH(SrcRect)) {
    BlockTransfer(Dst, DstRect.Left, DstRect.Top, Src, SrcRect, DrawMode, CombineCallBack);
    return;
  }
  switch (StretchFilter) {
    case sfNearest: StretchNearestAll(Dst, DstRect, clip, Src, SrcRect, DrawMode, CombineCallBack); break;
    case sfLinear: StretchLinear(Dst, DstRect, clip, Src, SrcRect, DrawMode, CombineCallBack); break;
    default: StretchKernel(Dst, DstRect, clip, Src, SrcRect, StretchFilter, DrawMode, CombineCallBack); break;
  }
}

// ---- Transformations ----

void TTransformation::SetSrcRect(const TdtpFloatRect& Value) {
  FSrcRect = Value;
  TransformValid = false;
}

TAffineTransformation::TAffineTransformation() { Clear(); }

void TAffineTransformation::Clear() {
  Matrix = IdentityMatrix;
  TransformValid = false;
}

void TAffineTransformation::Translate(float Dx, float Dy) {
  TFloatMatrix m = IdentityMatrix;
  m[2][0] = Dx;
  m[2][1] = Dy;
  Matrix = MultiplyMatrix(m, Matrix);
  TransformValid = false;
}

void TAffineTransformation::Scale(float Sx, float Sy) {
  TFloatMatrix m = IdentityMatrix;
  m[0][0] = Sx;
  m[1][1] = Sy;
  Matrix = MultiplyMatrix(m, Matrix);
  TransformValid = false;
}

void TAffineTransformation::Rotate(float Cx, float Cy, float Alpha) {
  if (Cx != 0 || Cy != 0) Translate(-Cx, -Cy);
  double a = static_cast<double>(Alpha) * std::numbers::pi / 180.0;
  double s = std::sin(a), c = std::cos(a);
  TFloatMatrix m = IdentityMatrix;
  m[0][0] = static_cast<float>(c);
  m[1][0] = static_cast<float>(s);
  m[0][1] = static_cast<float>(-s);
  m[1][1] = static_cast<float>(c);
  Matrix = MultiplyMatrix(m, Matrix);
  if (Cx != 0 || Cy != 0) Translate(Cx, Cy);
  TransformValid = false;
}

void TAffineTransformation::PrepareTransform() {
  TFloatMatrix n = Matrix;
  InvertMatrix(n);
  auto fx = [](float v) { return Sat32(platform::Round(static_cast<double>(v) * 4096.0)); };
  A = fx(n[0][0]);
  B = fx(n[1][0]);
  C = fx(n[2][0]);
  D = fx(n[0][1]);
  E = fx(n[1][1]);
  F = fx(n[2][1]);
  TransformValid = true;
}

void TAffineTransformation::ReverseTransformInt(int32_t DstX, int32_t DstY, int32_t& SrcX, int32_t& SrcY) {
  SrcX = Sat32((static_cast<int64_t>(DstX) * A + static_cast<int64_t>(DstY) * B + C + 2047) >> 12);
  SrcY = Sat32((static_cast<int64_t>(DstX) * D + static_cast<int64_t>(DstY) * E + F + 2047) >> 12);
}

void TAffineTransformation::ReverseTransform256(int32_t DstX, int32_t DstY, int32_t& SrcX, int32_t& SrcY) {
  SrcX = Sat32((static_cast<int64_t>(DstX) * A + static_cast<int64_t>(DstY) * B + C + 7) >> 4);
  SrcY = Sat32((static_cast<int64_t>(DstX) * D + static_cast<int64_t>(DstY) * E + F + 7) >> 4);
}

TRect TAffineTransformation::GetTransformedBounds() {
  const TdtpFloatRect& r = FSrcRect;
  const float xs[4] = {r.Left, r.Right, r.Left, r.Right};
  const float ys[4] = {r.Top, r.Top, r.Bottom, r.Bottom};
  double minx = 0, maxx = 0, miny = 0, maxy = 0;
  for (int k = 0; k < 4; ++k) {
    TVector3f v = VectorTransform(Matrix, {xs[k], ys[k], 1});
    if (k == 0 || v[0] < minx) minx = v[0];
    if (k == 0 || v[0] > maxx) maxx = v[0];
    if (k == 0 || v[1] < miny) miny = v[1];
    if (k == 0 || v[1] > maxy) maxy = v[1];
  }
  return {Sat32(platform::Round(minx - 0.5)), Sat32(platform::Round(miny - 0.5)), Sat32(platform::Round(maxx + 0.5)),
          Sat32(platform::Round(maxy + 0.5))};
}

void TransformBitmapReference(TBitmap32* Dst, TBitmap32* Src, TTransformation* T) {
  if (Dst == nullptr || Src == nullptr || T == nullptr || Dst->Empty() || Src->Empty()) return;
  if (!T->TransformValid) T->PrepareTransform();
  TDrawMode mode = Src->DrawMode();
  const TPixelCombineEvent& cb = Src->OnPixelCombine;
  if (mode == dmCustom && !cb) mode = dmOpaque;
  TPixelWriter write{mode, Src->MasterAlpha(), &cb};

  TRect srcClip;
  if (!raster::IntersectRect(srcClip, MakeRectRounded(T->SrcRect()), MakeRect(0, 0, Src->Width() - 1, Src->Height() - 1)))
    return;
  TRect dstArea;
  if (!raster::IntersectRect(dstArea, T->GetTransformedBounds(), MakeRect(0, 0, Dst->Width() - 1, Dst->Height() - 1)))
    return;

  // An affine map steps by constant increments along a row: the 20.12 sums are carried
  // across the row instead of a virtual call per pixel (the same integers either way).
  auto* affine = dynamic_cast<TAffineTransformation*>(T);
  struct TRowWalker {
    TAffineTransformation* Affine;
    TTransformation* T;
    int32_t Bias, Shift;
    int64_t U = 0, V = 0;
    void Start(int32_t x, int32_t y) {
      if (Affine) {
        U = static_cast<int64_t>(x) * Affine->A + static_cast<int64_t>(y) * Affine->B + Affine->C + Bias;
        V = static_cast<int64_t>(x) * Affine->D + static_cast<int64_t>(y) * Affine->E + Affine->F + Bias;
      }
    }
    void At(int32_t x, int32_t y, int32_t& sx, int32_t& sy) {
      if (Affine) {
        sx = Sat32(U >> Shift);
        sy = Sat32(V >> Shift);
        U += Affine->A;
        V += Affine->D;
      } else if (Shift == 12) {
        T->ReverseTransformInt(x, y, sx, sy);
      } else {
        T->ReverseTransform256(x, y, sx, sy);
      }
    }
  };

  if (Src->StretchFilter() == sfNearest) {
    TRowWalker walk{affine, T, 2047, 12};
    for (int32_t y = dstArea.Top; y <= dstArea.Bottom; ++y) {
      TColor32* d = Dst->ScanLine(y);
      walk.Start(dstArea.Left, y);
      for (int32_t x = dstArea.Left; x <= dstArea.Right; ++x) {
        int32_t sx, sy;
        walk.At(x, y, sx, sy);
        if (sx >= srcClip.Left && sx <= srcClip.Right && sy >= srcClip.Top && sy <= srcClip.Bottom)
          write(Src->Pixel(sx, sy), d[x]);
      }
    }
  } else {
    TRowWalker walk{affine, T, 7, 4};
    for (int32_t y = dstArea.Top; y <= dstArea.Bottom; ++y) {
      TColor32* d = Dst->ScanLine(y);
      walk.Start(dstArea.Left, y);
      for (int32_t x = dstArea.Left; x <= dstArea.Right; ++x) {
        int32_t X, Y;
        walk.At(x, y, X, Y);
        int32_t sx = X >> 8, sy = Y >> 8;
        TColor32 fx = 255 - static_cast<TColor32>(X & 255), fy = 255 - static_cast<TColor32>(Y & 255);
        TColor32 tl, tr, bl, br;
        if (sx >= srcClip.Left && sx < srcClip.Right && sy >= srcClip.Top && sy < srcClip.Bottom) {
          const TColor32* p = Src->PixelPtr(sx, sy);
          tl = p[0];
          tr = p[1];
          bl = p[Src->Width()];
          br = p[Src->Width() + 1];
        } else if (sx >= srcClip.Left - 1 && sx <= srcClip.Right && sy >= srcClip.Top - 1 && sy <= srcClip.Bottom) {
          tl = Src->GetPixelS(sx, sy);
          tr = Src->GetPixelS(sx + 1, sy);
          bl = Src->GetPixelS(sx, sy + 1);
          br = Src->GetPixelS(sx + 1, sy + 1);
        } else {
          continue;
        }
        write(CombinePixel(CombinePixel(tl, tr, fx), CombinePixel(bl, br, fx), fy), d[x]);
      }
    }
  }
  EMMS();
}

// ---- Row-wise transformation ----

namespace {

int64_t FloorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  if (a % b != 0 && ((a < 0) != (b < 0))) --q;
  return q;
}

int64_t CeilDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  if (a % b != 0 && ((a < 0) == (b < 0))) ++q;
  return q;
}

// Steps k in [0, N) with Lo <= U0 + k * Du <= Hi, as the half-open [First, Last).
struct TSpan {
  int64_t First = 0, Last = 0;
};

TSpan SolveSpan(int64_t U0, int64_t Du, int64_t Lo, int64_t Hi, int64_t N) {
  TSpan s;
  if (Du == 0) {
    if (U0 >= Lo && U0 <= Hi) s.Last = N;
    return s;
  }
  if (Du > 0) {
    s.First = CeilDiv(Lo - U0, Du);
    s.Last = FloorDiv(Hi - U0, Du) + 1;
  } else {
    s.First = CeilDiv(Hi - U0, Du);
    s.Last = FloorDiv(Lo - U0, Du) + 1;
  }
  s.First = std::clamp<int64_t>(s.First, 0, N);
  s.Last = std::clamp<int64_t>(s.Last, s.First, N);
  return s;
}

TSpan Intersect(TSpan a, TSpan b) {
  TSpan s{std::max(a.First, b.First), std::min(a.Last, b.Last)};
  if (s.Last < s.First) s.Last = s.First;
  return s;
}

// The sources the row form handles: 4096 * extent stays inside 31 bits, so a sample inside
// the clip has a 20.12 position that fits an int32, and pixel offsets fit the gathers.
constexpr int32_t kRowMaxExtent = 1 << 18;
constexpr int64_t kRowMaxPixels = int64_t{1} << 30;

// The bilinear colour of the MMX arithmetic, exactly CombinePixel thrice.
inline TColor32 Bilinear(const TColor32* P, int32_t W, uint32_t Fx, uint32_t Fy) {
  using blend_detail::MixMMX;
  return MixMMX(MixMMX(P[0], P[1], 255 - Fx), MixMMX(P[W], P[W + 1], 255 - Fx), 255 - Fy);
}

// Samples N pixels whose 20.12 positions start at (U, V) and step by (Du, Dv); all of them and
// their right and lower neighbours lie inside the source. Positions wrap in 32 bits on
// purpose: every one used is in range, so the modular sums are the true ones.
void BilinearRowScalar(const TColor32* Bits, int32_t W, uint32_t U, uint32_t V, uint32_t Du, uint32_t Dv, int32_t N,
                       TColor32* Out) {
  for (int32_t k = 0; k < N; ++k) {
    int32_t u = static_cast<int32_t>(U), v = static_cast<int32_t>(V);
    const TColor32* p = Bits + static_cast<int64_t>(v >> 12) * W + (u >> 12);
    Out[k] = Bilinear(p, W, static_cast<uint32_t>(u >> 4) & 255u, static_cast<uint32_t>(v >> 4) & 255u);
    U += Du;
    V += Dv;
  }
}

#if KD_TRANSFORM_X86
// ((x - y) * w + y * 256 + 128) shr 8 per 16-bit channel: the product wraps but the sum is
// the exact MMX mix, which never exceeds 16 bits.
__attribute__((target("avx2"))) inline __m256i Mix16(__m256i X, __m256i Y, __m256i W) {
  __m256i r = _mm256_add_epi16(_mm256_mullo_epi16(_mm256_sub_epi16(X, Y), W), _mm256_slli_epi16(Y, 8));
  return _mm256_srli_epi16(_mm256_add_epi16(r, _mm256_set1_epi16(128)), 8);
}

__attribute__((target("avx2"))) void BilinearRowAVX2(const TColor32* Bits, int32_t W, uint32_t U, uint32_t V,
                                                      uint32_t Du, uint32_t Dv, int32_t N, TColor32* Out) {
  const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  __m256i u = _mm256_add_epi32(_mm256_set1_epi32(static_cast<int32_t>(U)),
                               _mm256_mullo_epi32(lane, _mm256_set1_epi32(static_cast<int32_t>(Du))));
  __m256i v = _mm256_add_epi32(_mm256_set1_epi32(static_cast<int32_t>(V)),
                               _mm256_mullo_epi32(lane, _mm256_set1_epi32(static_cast<int32_t>(Dv))));
  const __m256i du8 = _mm256_set1_epi32(static_cast<int32_t>(Du * 8u));
  const __m256i dv8 = _mm256_set1_epi32(static_cast<int32_t>(Dv * 8u));
  const __m256i width = _mm256_set1_epi32(W);
  const __m256i c255 = _mm256_set1_epi32(255);
  const __m256i spread = _mm256_set1_epi32(0x00010001);
  const __m256i zero = _mm256_setzero_si256();
  const int* base = reinterpret_cast<const int*>(Bits);
  const int* below = reinterpret_cast<const int*>(Bits + W);
  int32_t k = 0;
  for (; k + 8 <= N; k += 8) {
    __m256i idx = _mm256_add_epi32(_mm256_mullo_epi32(_mm256_srai_epi32(v, 12), width), _mm256_srai_epi32(u, 12));
    // Left and right neighbours come as one 64-bit load; splitting the pairs leaves the
    // pixels in the order 0 1 4 5 2 3 6 7, which the final permute undoes.
    alignas(32) int32_t at[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(at), idx);
    auto pair = [&](const int* p, int j, int k) {
      return _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + at[j])),
                                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + at[k])));
    };
    __m256 t0 = _mm256_castsi256_ps(_mm256_setr_m128i(pair(base, 0, 1), pair(base, 2, 3)));
    __m256 t1 = _mm256_castsi256_ps(_mm256_setr_m128i(pair(base, 4, 5), pair(base, 6, 7)));
    __m256 b0 = _mm256_castsi256_ps(_mm256_setr_m128i(pair(below, 0, 1), pair(below, 2, 3)));
    __m256 b1 = _mm256_castsi256_ps(_mm256_setr_m128i(pair(below, 4, 5), pair(below, 6, 7)));
    __m256i tl = _mm256_castps_si256(_mm256_shuffle_ps(t0, t1, _MM_SHUFFLE(2, 0, 2, 0)));
    __m256i tr = _mm256_castps_si256(_mm256_shuffle_ps(t0, t1, _MM_SHUFFLE(3, 1, 3, 1)));
    __m256i bl = _mm256_castps_si256(_mm256_shuffle_ps(b0, b1, _MM_SHUFFLE(2, 0, 2, 0)));
    __m256i br = _mm256_castps_si256(_mm256_shuffle_ps(b0, b1, _MM_SHUFFLE(3, 1, 3, 1)));
    // 255 - fraction, repeated over the four channel words of each pixel.
    __m256i wx = _mm256_mullo_epi32(_mm256_sub_epi32(c255, _mm256_and_si256(_mm256_srli_epi32(u, 4), c255)), spread);
    __m256i wy = _mm256_mullo_epi32(_mm256_sub_epi32(c255, _mm256_and_si256(_mm256_srli_epi32(v, 4), c255)), spread);
    wx = _mm256_permute4x64_epi64(wx, _MM_SHUFFLE(3, 1, 2, 0));
    wy = _mm256_permute4x64_epi64(wy, _MM_SHUFFLE(3, 1, 2, 0));
    __m256i wxlo = _mm256_unpacklo_epi32(wx, wx), wxhi = _mm256_unpackhi_epi32(wx, wx);
    __m256i wylo = _mm256_unpacklo_epi32(wy, wy), wyhi = _mm256_unpackhi_epi32(wy, wy);
    __m256i toplo = Mix16(_mm256_unpacklo_epi8(tl, zero), _mm256_unpacklo_epi8(tr, zero), wxlo);
    __m256i tophi = Mix16(_mm256_unpackhi_epi8(tl, zero), _mm256_unpackhi_epi8(tr, zero), wxhi);
    __m256i botlo = Mix16(_mm256_unpacklo_epi8(bl, zero), _mm256_unpacklo_epi8(br, zero), wxlo);
    __m256i bothi = Mix16(_mm256_unpackhi_epi8(bl, zero), _mm256_unpackhi_epi8(br, zero), wxhi);
    __m256i r = _mm256_packus_epi16(Mix16(toplo, botlo, wylo), Mix16(tophi, bothi, wyhi));
    r = _mm256_permute4x64_epi64(r, _MM_SHUFFLE(3, 1, 2, 0));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(Out + k), r);
    u = _mm256_add_epi32(u, du8);
    v = _mm256_add_epi32(v, dv8);
  }
  if (k < N)
    BilinearRowScalar(Bits, W, U + Du * static_cast<uint32_t>(k), V + Dv * static_cast<uint32_t>(k), Du, Dv, N - k,
                      Out + k);
}
#endif

#if defined(__SSE2__)
inline __m128i Mix16(__m128i X, __m128i Y, __m128i W) {
  __m128i r = _mm_add_epi16(_mm_mullo_epi16(_mm_sub_epi16(X, Y), W), _mm_slli_epi16(Y, 8));
  return _mm_srli_epi16(_mm_add_epi16(r, _mm_set1_epi16(128)), 8);
}

// Two pixels: positions are stepped in scalar, the three mixes run on 16-bit channels.
inline __m128i Bilinear2(const TColor32* Bits, int32_t W, uint32_t& U, uint32_t& V, uint32_t Du, uint32_t Dv) {
  const __m128i zero = _mm_setzero_si128();
  int32_t u0 = static_cast<int32_t>(U), v0 = static_cast<int32_t>(V);
  int32_t u1 = static_cast<int32_t>(U + Du), v1 = static_cast<int32_t>(V + Dv);
  U += 2 * Du;
  V += 2 * Dv;
  const TColor32* p0 = Bits + static_cast<int64_t>(v0 >> 12) * W + (u0 >> 12);
  const TColor32* p1 = Bits + static_cast<int64_t>(v1 >> 12) * W + (u1 >> 12);
  auto wordsOf = [](int32_t Pos) { return static_cast<int16_t>(255 - ((Pos >> 4) & 255)); };
  int16_t x0 = wordsOf(u0), x1 = wordsOf(u1), y0 = wordsOf(v0), y1 = wordsOf(v1);
  __m128i wx = _mm_set_epi16(x1, x1, x1, x1, x0, x0, x0, x0);
  __m128i wy = _mm_set_epi16(y1, y1, y1, y1, y0, y0, y0, y0);
  // Each 64-bit load holds a pixel and its right neighbour.
  __m128i t0 = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p0)), zero);
  __m128i t1 = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p1)), zero);
  __m128i b0 = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p0 + W)), zero);
  __m128i b1 = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p1 + W)), zero);
  __m128i top = Mix16(_mm_unpacklo_epi64(t0, t1), _mm_unpackhi_epi64(t0, t1), wx);
  __m128i bot = Mix16(_mm_unpacklo_epi64(b0, b1), _mm_unpackhi_epi64(b0, b1), wx);
  return Mix16(top, bot, wy);
}

void BilinearRowSSE2(const TColor32* Bits, int32_t W, uint32_t U, uint32_t V, uint32_t Du, uint32_t Dv, int32_t N,
                     TColor32* Out) {
  int32_t k = 0;
  for (; k + 4 <= N; k += 4) {
    __m128i lo = Bilinear2(Bits, W, U, V, Du, Dv);
    __m128i hi = Bilinear2(Bits, W, U, V, Du, Dv);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(Out + k), _mm_packus_epi16(lo, hi));
  }
  if (k < N) BilinearRowScalar(Bits, W, U, V, Du, Dv, N - k, Out + k);
}
#endif

using TBilinearRow = void (*)(const TColor32*, int32_t, uint32_t, uint32_t, uint32_t, uint32_t, int32_t, TColor32*);

TBilinearRow PickBilinearRow(TRowLoop Widest) {
#if KD_TRANSFORM_X86
  static const bool avx2 = HasAVX2();
  if (Widest == TRowLoop::AVX2 && avx2) return BilinearRowAVX2;
#endif
#if defined(__SSE2__)
  static const bool sse2 = HasSSE2();
  if (Widest != TRowLoop::Scalar && sse2) return BilinearRowSSE2;
#endif
  (void)Widest;
  return BilinearRowScalar;
}

// Writes a computed run by the draw mode; the blend span is the per-pixel master blend of the
// live set, so it is used only when that set's per-pixel routine is the MMX one.
void WriteRun(const TPixelWriter& Write, const TColor32* C, TColor32* D, int32_t N, bool SpanBlend) {
  switch (Write.Mode) {
    case dmOpaque: std::memcpy(D, C, static_cast<size_t>(N) * sizeof(TColor32)); break;
    case dmBlend:
      if (SpanBlend)
        BlendSpanMaster(C, D, N, Write.Master);
      else
        for (int32_t i = 0; i < N; ++i) BlendPixelMasterInPlace(C[i], D[i], Write.Master);
      break;
    case dmCustom:
      for (int32_t i = 0; i < N; ++i) (*Write.CallBack)(C[i], D[i], Write.Master);
      break;
  }
}

}  // namespace

const char* TransformSimdLevel() {
  TBilinearRow r = PickBilinearRow(TRowLoop::AVX2);
#if KD_TRANSFORM_X86
  if (r == BilinearRowAVX2) return "avx2";
#endif
#if defined(__SSE2__)
  if (r == BilinearRowSSE2) return "sse2";
#endif
  (void)r;
  return "scalar";
}

void TransformBitmap(TBitmap32* Dst, TBitmap32* Src, TTransformation* T) {
  TransformBitmapRows(Dst, Src, T, TRowLoop::AVX2);
}

void TransformBitmapRows(TBitmap32* Dst, TBitmap32* Src, TTransformation* T, TRowLoop Widest) {
  if (Dst == nullptr || Src == nullptr || T == nullptr || Dst->Empty() || Src->Empty()) return;
  auto* affine = dynamic_cast<TAffineTransformation*>(T);
  const TBlendRoutines mmx = BlendRoutinesOf(TBlendSet::MMX, false);
  bool linear = Src->StretchFilter() != sfNearest;
  const int32_t sw = Src->Width(), sh = Src->Height();
  // A callback could read or change either bitmap between pixels: it keeps the pixel order.
  if (affine == nullptr || Dst == Src || Dst->Bits() == Src->Bits() || sw > kRowMaxExtent || sh > kRowMaxExtent ||
      static_cast<int64_t>(sw) * sh > kRowMaxPixels || (linear && BlendRoutines.CombinePixel != mmx.CombinePixel)) {
    TransformBitmapReference(Dst, Src, T);
    return;
  }
  if (!T->TransformValid) T->PrepareTransform();
  TDrawMode mode = Src->DrawMode();
  const TPixelCombineEvent& cb = Src->OnPixelCombine;
  if (mode == dmCustom && !cb) mode = dmOpaque;
  TPixelWriter write{mode, Src->MasterAlpha(), &cb};
  bool spanBlend = BlendRoutines.BlendPixelMasterInPlace == mmx.BlendPixelMasterInPlace;

  TRect srcClip;
  if (!raster::IntersectRect(srcClip, MakeRectRounded(T->SrcRect()), MakeRect(0, 0, sw - 1, sh - 1))) return;
  TRect dstArea;
  if (!raster::IntersectRect(dstArea, T->GetTransformedBounds(), MakeRect(0, 0, Dst->Width() - 1, Dst->Height() - 1)))
    return;

  const int64_t A = affine->A, B = affine->B, C = affine->C, D = affine->D, E = affine->E, F = affine->F;
  const int64_t n = static_cast<int64_t>(dstArea.Right) - dstArea.Left + 1;
  const TColor32* bits = Src->Bits();
  // Source index s is taken exactly when s * 4096 <= position <= s * 4096 + 4095.
  auto lo = [](int64_t s) { return s * 4096; };
  auto hi = [](int64_t s) { return s * 4096 + 4095; };
  std::vector<TColor32> row(static_cast<size_t>(n));
  const int64_t bias = linear ? 7 : 2047;
  const int32_t shift = linear ? 4 : 12;

  for (int32_t y = dstArea.Top; y <= dstArea.Bottom; ++y) {
    TColor32* d = Dst->ScanLine(y) + dstArea.Left;
    // The same 64-bit sums the per-pixel mapping forms, before its shift.
    int64_t u0 = dstArea.Left * A + y * B + C + bias;
    int64_t v0 = dstArea.Left * D + y * E + F + bias;
    if (!linear) {
      TSpan s = Intersect(SolveSpan(u0, A, lo(srcClip.Left), hi(srcClip.Right), n),
                          SolveSpan(v0, D, lo(srcClip.Top), hi(srcClip.Bottom), n));
      int32_t count = static_cast<int32_t>(s.Last - s.First);
      if (count <= 0) continue;
      if (mode == dmCustom) {
        for (int64_t k = s.First; k < s.Last; ++k)
          write(Src->Pixel(static_cast<int32_t>((u0 + k * A) >> shift), static_cast<int32_t>((v0 + k * D) >> shift)),
                d[k]);
        continue;
      }
      for (int64_t k = s.First; k < s.Last; ++k)
        row[static_cast<size_t>(k)] =
            bits[((v0 + k * D) >> shift) * sw + ((u0 + k * A) >> shift)];
      WriteRun(write, row.data() + s.First, d + s.First, count, spanBlend);
      continue;
    }
    // Accepted samples (within one pixel around the clip) and the inner ones whose four
    // neighbours all lie in the clip; the inner run sits inside the accepted one.
    TSpan outer = Intersect(SolveSpan(u0, A, lo(srcClip.Left - 1), hi(srcClip.Right), n),
                            SolveSpan(v0, D, lo(srcClip.Top - 1), hi(srcClip.Bottom), n));
    if (outer.Last <= outer.First) continue;
    TSpan inner = Intersect(SolveSpan(u0, A, lo(srcClip.Left), hi(srcClip.Right - 1), n),
                            SolveSpan(v0, D, lo(srcClip.Top), hi(srcClip.Bottom - 1), n));
    if (inner.Last <= inner.First) inner = {outer.Last, outer.Last};
    auto edge = [&](int64_t k) {
      int64_t u = (u0 + k * A) >> shift, v = (v0 + k * D) >> shift;
      int32_t X = Sat32(u), Y = Sat32(v);
      int32_t sx = X >> 8, sy = Y >> 8;
      TColor32 fx = 255 - static_cast<TColor32>(X & 255), fy = 255 - static_cast<TColor32>(Y & 255);
      TColor32 tl = Src->GetPixelS(sx, sy), tr = Src->GetPixelS(sx + 1, sy);
      TColor32 bl = Src->GetPixelS(sx, sy + 1), br = Src->GetPixelS(sx + 1, sy + 1);
      write(CombinePixel(CombinePixel(tl, tr, fx), CombinePixel(bl, br, fx), fy), d[k]);
    };
    for (int64_t k = outer.First; k < inner.First; ++k) edge(k);
    int32_t count = static_cast<int32_t>(inner.Last - inner.First);
    if (count > 0) {
      uint32_t u = static_cast<uint32_t>(u0 + inner.First * A), v = static_cast<uint32_t>(v0 + inner.First * D);
      uint32_t du = static_cast<uint32_t>(A), dv = static_cast<uint32_t>(D);
      TColor32* out = mode == dmOpaque ? d + inner.First : row.data() + inner.First;
      if (mode == dmCustom) {
        for (int32_t i = 0; i < count; ++i) {
          TColor32 c;
          BilinearRowScalar(bits, sw, u, v, du, dv, 1, &c);
          (*write.CallBack)(c, d[inner.First + i], write.Master);
          u += du;
          v += dv;
        }
      } else {
        PickBilinearRow(Widest)(bits, sw, u, v, du, dv, count, out);
        if (mode == dmBlend) WriteRun(write, out, d + inner.First, count, spanBlend);
      }
    }
    for (int64_t k = inner.Last; k < outer.Last; ++k) edge(k);
  }
  EMMS();
}

// ---- Matrices ----

void Adjoint(TFloatMatrix& M) {
  double a1 = M[0][0], a2 = M[0][1], a3 = M[0][2];
  double b1 = M[1][0], b2 = M[1][1], b3 = M[1][2];
  double c1 = M[2][0], c2 = M[2][1], c3 = M[2][2];
  M[0][0] = static_cast<float>(b2 * c3 - b3 * c2);
  M[0][1] = static_cast<float>(-(a2 * c3 - a3 * c2));
  M[0][2] = static_cast<float>(a2 * b3 - a3 * b2);
  M[1][0] = static_cast<float>(-(b1 * c3 - b3 * c1));
  M[1][1] = static_cast<float>(a1 * c3 - a3 * c1);
  M[1][2] = static_cast<float>(-(a1 * b3 - a3 * b1));
  M[2][0] = static_cast<float>(b1 * c2 - b2 * c1);
  M[2][1] = static_cast<float>(-(a1 * c2 - a2 * c1));
  M[2][2] = static_cast<float>(a1 * b2 - a2 * b1);
}

float Determinant(const TFloatMatrix& M) {
  double a1 = M[0][0], a2 = M[0][1], a3 = M[0][2];
  double b1 = M[1][0], b2 = M[1][1], b3 = M[1][2];
  double c1 = M[2][0], c2 = M[2][1], c3 = M[2][2];
  return static_cast<float>(a1 * (b2 * c3 - b3 * c2) - b1 * (a2 * c3 - a3 * c2) + c1 * (a2 * b3 - a3 * b2));
}

void ScaleMatrix(TFloatMatrix& M, float Factor) {
  for (auto& col : M)
    for (float& v : col) v *= Factor;
}

void InvertMatrix(TFloatMatrix& M) {
  float d = Determinant(M);
  if (std::fabs(d) >= 1e-5f) {
    Adjoint(M);
    ScaleMatrix(M, 1 / d);
  } else {
    M = IdentityMatrix;
  }
}

TFloatMatrix MultiplyMatrix(const TFloatMatrix& M1, const TFloatMatrix& M2) {
  TFloatMatrix r{};
  for (int c = 0; c < 3; ++c)
    for (int row = 0; row < 3; ++row) {
      double s = 0;
      for (int k = 0; k < 3; ++k) s += static_cast<double>(M1[k][row]) * M2[c][k];
      r[c][row] = static_cast<float>(s);
    }
  return r;
}

TVector3f VectorTransform(const TFloatMatrix& M, const TVector3f& V) {
  TVector3f r{};
  for (int row = 0; row < 3; ++row)
    r[row] = static_cast<float>(static_cast<double>(M[0][row]) * V[0] + static_cast<double>(M[1][row]) * V[1] +
                                static_cast<double>(M[2][row]) * V[2]);
  return r;
}

}  // namespace raster

#include "raster/dtpStretch.h"

#include <algorithm>
#include <vector>

namespace raster {

namespace {

struct Spans {
  std::vector<int32_t> Start;
  std::vector<int32_t> Length;
};

// Blocks From .. To - 1 of Total pixels split into Count blocks of q or q + 1 (q = Total div
// Count), the longer ones spread evenly by an error accumulator: after i blocks it has added
// i * (Total mod Count) div Count extra pixels. When Count > Total a block of length 0 takes
// the one pixel at its start instead, so no block is empty.
Spans BuildSpans(int64_t Total, int64_t Count, int64_t From, int64_t To) {
  Spans s;
  s.Start.resize(static_cast<size_t>(To - From));
  s.Length.resize(static_cast<size_t>(To - From));
  const int64_t q = Total / Count, rest = Total % Count;
  auto start = [&](int64_t i) { return i * q + (i * rest) / Count; };
  for (int64_t i = From; i < To; ++i) {
    int64_t a = start(i), len = start(i + 1) - a;
    if (len == 0) {
      a = std::min(a, Total - 1);
      len = 1;
    }
    s.Start[static_cast<size_t>(i - From)] = static_cast<int32_t>(a);
    s.Length[static_cast<size_t>(i - From)] = static_cast<int32_t>(len);
  }
  return s;
}

}  // namespace

void StretchTransferAuto(TBitmap32* Dst, const TRect& DstRect, TBitmap32* Src, const TRect& SrcRect,
                         TStretchFilter StretchFilter, TDrawMode DrawMode,
                         const TPixelCombineEvent& CombineCallBack) {
  // Sizes in 64 bits: a far-flung rectangle must not overflow the comparison.
  auto w = [](const TRect& r) { return int64_t{r.Right} - r.Left; };
  auto h = [](const TRect& r) { return int64_t{r.Bottom} - r.Top; };
  if (w(DstRect) <= w(SrcRect) && h(DstRect) <= h(SrcRect) && StretchFilter == sfLinear && DrawMode == dmOpaque)
    StretchAreaAverage(Dst, DstRect, Src, SrcRect);
  else
    StretchTransfer(Dst, DstRect, Src, SrcRect, StretchFilter, DrawMode, CombineCallBack);
}

void StretchAreaAverage(TBitmap32* Dst, const TRect& DstRect, TBitmap32* Src, const TRect& SrcRect) {
  if (!Dst || !Src || Dst->Empty() || Src->Empty()) return;
  if (IsRectEmpty(DstRect) || IsRectEmpty(SrcRect)) return;
  TRect src;
  if (!platform::IntersectRect(src, SrcRect, TRect{0, 0, Src->Width(), Src->Height()}) || IsRectEmpty(src)) return;
  // Rectangles of more than 2^31 pixels per side are not representable; the width math is
  // done in 64 bits before narrowing.
  const int64_t dw64 = int64_t{DstRect.Right} - DstRect.Left, dh64 = int64_t{DstRect.Bottom} - DstRect.Top;
  if (dw64 > INT32_MAX || dh64 > INT32_MAX) return;
  const int32_t dw = static_cast<int32_t>(dw64), dh = static_cast<int32_t>(dh64);
  const int32_t sw = src.Width(), sh = src.Height();

  // Only the destination columns and rows inside Dst are computed.
  const int64_t colLo = std::max<int64_t>(0, -int64_t{DstRect.Left});
  const int64_t colHi = std::min<int64_t>(dw, int64_t{Dst->Width()} - DstRect.Left);
  const int64_t rowLo = std::max<int64_t>(0, -int64_t{DstRect.Top});
  const int64_t rowHi = std::min<int64_t>(dh, int64_t{Dst->Height()} - DstRect.Top);
  if (colLo >= colHi || rowLo >= rowHi) return;
  const int32_t i0 = static_cast<int32_t>(colLo), i1 = static_cast<int32_t>(colHi);
  const int32_t j0 = static_cast<int32_t>(rowLo), j1 = static_cast<int32_t>(rowHi);

  const Spans cols = BuildSpans(sw, dw, i0, i1);
  const Spans rows = BuildSpans(sh, dh, j0, j1);
  const int32_t n = i1 - i0;
  std::vector<uint64_t> sums(static_cast<size_t>(n) * 4);

  for (int32_t j = j0; j < j1; ++j) {
    std::fill(sums.begin(), sums.end(), 0);
    const int32_t ry = rows.Start[j - j0], rl = rows.Length[j - j0];
    for (int32_t y = src.Top + ry; y < src.Top + ry + rl; ++y) {
      const uint8_t* line = reinterpret_cast<const uint8_t*>(Src->ScanLine(y) + src.Left);
      for (int32_t i = i0; i < i1; ++i) {
        const uint8_t* p = line + static_cast<size_t>(cols.Start[i - i0]) * 4;
        const uint8_t* e = p + static_cast<size_t>(cols.Length[i - i0]) * 4;
        uint64_t b = 0, g = 0, r = 0, a = 0;
        for (; p < e; p += 4) {
          b += p[0];
          g += p[1];
          r += p[2];
          a += p[3];
        }
        uint64_t* s = &sums[static_cast<size_t>(i - i0) * 4];
        s[0] += b;
        s[1] += g;
        s[2] += r;
        s[3] += a;
      }
    }
    TColor32* out = Dst->ScanLine(DstRect.Top + j);
    for (int32_t i = i0; i < i1; ++i) {
      const uint64_t area = uint64_t(rl) * uint64_t(cols.Length[i - i0]);
      const uint64_t* s = &sums[static_cast<size_t>(i - i0) * 4];
      out[DstRect.Left + i] = static_cast<TColor32>((s[3] / area) << 24 | (s[2] / area) << 16 | (s[1] / area) << 8 | (s[0] / area));
    }
  }
}

}  // namespace raster

#include "raster/dtpUtil.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "raster/Raster32Blend.h"

namespace raster {

namespace {

size_t PixelCount(const TBitmap32* Bitmap) {
  return static_cast<size_t>(Bitmap->Width()) * static_cast<size_t>(Bitmap->Height());
}

// Replaces the bitmap's pixels by a W x H buffer, keeping its properties; announces the change
// as an assignment would.
void ReplacePixels(TBitmap32* Bitmap, int32_t W, int32_t H, const std::vector<TColor32>& Pixels) {
  Bitmap->BeginUpdate();
  try {
    Bitmap->SetSize(W, H);
    if (!Bitmap->Empty()) std::memcpy(Bitmap->Bits(), Pixels.data(), Pixels.size() * sizeof(TColor32));
  } catch (...) {
    Bitmap->EndUpdate();
    throw;
  }
  Bitmap->EndUpdate();
  Bitmap->Changed();
}

// Output j = (sum of Src[k], k = j + Offset - Size + 1 .. j + Offset, within 0 .. n - 1) div
// Size, by a running sum; the divisor stays Size at both ends.
void BlurLine(const uint32_t* Src, uint32_t* Dst, int64_t n, int32_t Offset, int32_t Size) {
  if (n < Size) return;
  uint64_t sum = 0;
  // Window [lo, hi] for j = 0, clipped.
  int64_t lo = int64_t{Offset} - Size + 1, hi = Offset;
  for (int64_t k = std::max<int64_t>(lo, 0); k <= std::min<int64_t>(hi, n - 1); ++k) sum += Src[k];
  for (int64_t j = 0; j < n; ++j) {
    Dst[j] = static_cast<uint32_t>(sum / static_cast<uint64_t>(Size));
    // Slide the window by one.
    if (lo >= 0 && lo < n) sum -= Src[lo];
    ++lo;
    ++hi;
    if (hi >= 0 && hi < n) sum += Src[hi];
  }
}

// Dst[x * H + y] = Src[y * W + x], in tiles so both sides stay in the cache.
void Transpose(const uint32_t* Src, uint32_t* Dst, int32_t W, int32_t H) {
  constexpr int32_t kTile = 32;
  for (int32_t y0 = 0; y0 < H; y0 += kTile)
    for (int32_t x0 = 0; x0 < W; x0 += kTile) {
      const int32_t y1 = std::min(y0 + kTile, H), x1 = std::min(x0 + kTile, W);
      for (int32_t y = y0; y < y1; ++y)
        for (int32_t x = x0; x < x1; ++x) Dst[static_cast<size_t>(x) * H + y] = Src[static_cast<size_t>(y) * W + x];
    }
}

}  // namespace

void Rotate90(TBitmap32* Bitmap) {
  if (!Bitmap || Bitmap->Empty()) return;
  const int32_t W = Bitmap->Width(), H = Bitmap->Height();
  std::vector<TColor32> out(PixelCount(Bitmap));
  // New bitmap is H wide: (x, y) -> (H - 1 - y, x).
  for (int32_t y = 0; y < H; ++y) {
    const TColor32* row = Bitmap->ScanLine(y);
    for (int32_t x = 0; x < W; ++x) out[static_cast<size_t>(x) * H + (H - 1 - y)] = row[x];
  }
  ReplacePixels(Bitmap, H, W, out);
}

void Rotate270(TBitmap32* Bitmap) {
  if (!Bitmap || Bitmap->Empty()) return;
  const int32_t W = Bitmap->Width(), H = Bitmap->Height();
  std::vector<TColor32> out(PixelCount(Bitmap));
  // (x, y) -> (y, W - 1 - x).
  for (int32_t y = 0; y < H; ++y) {
    const TColor32* row = Bitmap->ScanLine(y);
    for (int32_t x = 0; x < W; ++x) out[static_cast<size_t>(W - 1 - x) * H + y] = row[x];
  }
  ReplacePixels(Bitmap, H, W, out);
}

void Rotate180(TBitmap32* Bitmap) {
  FlipHorizontal(Bitmap);
  FlipVertical(Bitmap);
}

void FlipHorizontal(TBitmap32* Bitmap) {
  if (!Bitmap || Bitmap->Empty()) return;
  for (int32_t y = 0; y < Bitmap->Height(); ++y) {
    TColor32* row = Bitmap->ScanLine(y);
    std::reverse(row, row + Bitmap->Width());
  }
}

void FlipVertical(TBitmap32* Bitmap) {
  if (!Bitmap || Bitmap->Empty()) return;
  const int32_t H = Bitmap->Height();
  const size_t bytes = static_cast<size_t>(Bitmap->Width()) * sizeof(TColor32);
  std::vector<TColor32> tmp(static_cast<size_t>(Bitmap->Width()));
  for (int32_t y = 0; y < H / 2; ++y) {
    TColor32* a = Bitmap->ScanLine(y);
    TColor32* b = Bitmap->ScanLine(H - 1 - y);
    std::memcpy(tmp.data(), a, bytes);
    std::memcpy(a, b, bytes);
    std::memcpy(b, tmp.data(), bytes);
  }
}

void ScaleAlpha(TBitmap32* Bitmap, float Factor) {
  if (!Bitmap || Bitmap->Empty()) return;
  // One product per alpha value; the clamp keeps the values valid for the blur's sums.
  uint32_t table[256];
  for (int a = 0; a < 256; ++a) {
    double v = static_cast<double>(a * 256) * static_cast<double>(Factor);
    int64_t r = std::isnan(v) ? 0 : platform::Round(v);
    table[a] = static_cast<uint32_t>(std::clamp<int64_t>(r, 0, 0x7FFFFFFF));
  }
  TColor32* p = Bitmap->Bits();
  const size_t n = PixelCount(Bitmap);
  for (size_t i = 0; i < n; ++i) p[i] = table[p[i] >> 24];
}

void ShiftBitmap(TBitmap32* Bitmap, int32_t Dx, int32_t Dy) {
  if (!Bitmap || Bitmap->Empty()) return;
  const int64_t n = static_cast<int64_t>(PixelCount(Bitmap));
  const int64_t d = int64_t{Dy} * Bitmap->Width() + Dx;
  if (d == 0) return;
  TColor32* p = Bitmap->Bits();
  if (d >= n || -d >= n) {
    std::fill(p, p + n, 0);
    return;
  }
  if (d > 0) {
    std::memmove(p + d, p, static_cast<size_t>(n - d) * sizeof(TColor32));
    std::fill(p, p + d, 0);
  } else {
    std::memmove(p, p - d, static_cast<size_t>(n + d) * sizeof(TColor32));
    std::fill(p + n + d, p + n, 0);
  }
}

void BoxBlur(TBitmap32* Bitmap, float Radius) {
  if (!Bitmap || Bitmap->Empty()) return;
  const double rr = static_cast<double>(Radius);
  if (std::isnan(rr) || rr < 1.5) return;
  const int64_t n = static_cast<int64_t>(PixelCount(Bitmap));
  int64_t r64 = platform::Round(rr);
  if (r64 < 2) return;
  if (r64 == 2) r64 = 3;
  if (r64 > n) return;  // every pass would leave its line alone: the result is the input
  const int32_t r = static_cast<int32_t>(r64);
  const int32_t h = r / 2;
  const int32_t h2 = (r & 1) ? h : std::max(1, h - 1);
  const int32_t W = Bitmap->Width(), H = Bitmap->Height();

  uint32_t* b = Bitmap->Bits();
  std::vector<uint32_t> t(static_cast<size_t>(n), 0);
  for (int k = 0; k < 2; ++k) {
    BlurLine(b, t.data(), n, h, r);
    BlurLine(t.data(), b, n, h2, r);
  }
  // Transpose: value (x, y) goes to index x * H + y.
  Transpose(b, t.data(), W, H);
  for (int k = 0; k < 2; ++k) {
    BlurLine(t.data(), b, n, h2, r);
    BlurLine(b, t.data(), n, h, r);
  }
  Transpose(t.data(), b, H, W);
}

void ColorizeBitmap(TBitmap32* Bitmap, TColor32 Color) {
  if (!Bitmap || Bitmap->Empty()) return;
  const TColor32 rgb = Color & 0x00FFFFFF;
  TColor32* p = Bitmap->Bits();
  const size_t n = PixelCount(Bitmap);
  for (size_t i = 0; i < n; ++i) {
    uint32_t v = p[i];
    if (v > 255) p[i] = ((std::min<uint32_t>(v, 0xFF00) >> 8) << 24) | rgb;
  }
}

void InvertAlpha(TBitmap32* Bitmap) {
  if (!Bitmap || Bitmap->Empty()) return;
  TColor32* p = Bitmap->Bits();
  const size_t n = PixelCount(Bitmap);
  for (size_t i = 0; i < n; ++i) p[i] ^= 0xFF000000u;
}

void MergeBitmaps(TBitmap32* Fore, TBitmap32* Back, TColor32 MasterAlpha) {
  if (!Fore || !Back || Fore->Empty() || PixelCount(Fore) != PixelCount(Back)) return;
  TColor32* f = Fore->Bits();
  const TColor32* b = Back->Bits();
  const size_t n = PixelCount(Fore);
  for (size_t i = 0; i < n; ++i) f[i] = MergePixel(f[i], b[i], MasterAlpha);
}

void MergeBitmapAt(TBitmap32* Src, TBitmap32* Dst, int32_t X, int32_t Y, TColor32 MasterAlpha) {
  if (!Src || !Dst || Src->Empty() || Dst->Empty()) return;
  const int64_t c0 = std::max<int64_t>(0, -int64_t{X}), c1 = std::min<int64_t>(Src->Width(), int64_t{Dst->Width()} - X);
  const int64_t r0 = std::max<int64_t>(0, -int64_t{Y}), r1 = std::min<int64_t>(Src->Height(), int64_t{Dst->Height()} - Y);
  for (int64_t r = r0; r < r1; ++r) {
    const TColor32* s = Src->ScanLine(static_cast<int32_t>(r));
    TColor32* d = Dst->ScanLine(static_cast<int32_t>(Y + r));
    for (int64_t c = c0; c < c1; ++c) d[X + c] = MergePixel(s[c], d[X + c], MasterAlpha);
  }
  EMMS();
}

void ApplyPixelFunction(TBitmap32* Bitmap, TColor32 Color) {
  // The blended values were never stored; nothing observable happens.
  (void)Bitmap;
  (void)Color;
  EMMS();
}

int64_t SqrDistance(const TPoint& P1, const TPoint& P2) {
  // Each square fits 64 unsigned bits; their sum may not, and then saturates.
  const int64_t dx = int64_t{P2.X} - P1.X, dy = int64_t{P2.Y} - P1.Y;
  const uint64_t ax = static_cast<uint64_t>(dx < 0 ? -dx : dx), ay = static_cast<uint64_t>(dy < 0 ? -dy : dy);
  const unsigned __int128 s = static_cast<unsigned __int128>(ax * ax) + ay * ay;
  return s > static_cast<unsigned __int128>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(s);
}

double SqrDistanceToSegment(const TPoint& P, const TPoint& A, const TPoint& B) {
  // Coordinate differences reach 2^32, so the products and their sums take 128 bits.
  auto sqr = [](const TPoint& U, const TPoint& V) {
    const double dx = static_cast<double>(int64_t{V.X} - U.X), dy = static_cast<double>(int64_t{V.Y} - U.Y);
    return dx * dx + dy * dy;
  };
  if (A == B) return sqr(P, A);
  const __int128 bx = int64_t{B.X} - A.X, by = int64_t{B.Y} - A.Y;
  const __int128 dot = (int64_t{P.X} - A.X) * bx + (int64_t{P.Y} - A.Y) * by;
  long double t = static_cast<long double>(dot) / static_cast<long double>(bx * bx + by * by);
  t = std::clamp(t, 0.0L, 1.0L);
  TPoint q{static_cast<int32_t>(platform::Round((1 - t) * A.X + t * B.X)),
           static_cast<int32_t>(platform::Round((1 - t) * A.Y + t * B.Y))};
  return sqr(P, q);
}

}  // namespace raster

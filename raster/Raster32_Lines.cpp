// Pixels, lines, rectangles and the stipple pattern of TBitmap32.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "platform/Rounding.h"
#include "raster/Raster32.h"

namespace raster {

namespace {

int32_t Sign(int64_t v) { return v > 0 ? 1 : (v < 0 ? -1 : 0); }

int32_t ToFixedEdge(int64_t pixels) {
  int64_t v = pixels * 65536;
  return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

}  // namespace

// ---- Pixels ----

void TBitmap32::Clear(TColor32 FillColor) {
  if (Empty()) return;
  FillLongword(FBits, FWidth * FHeight, FillColor);
  Changed();
}

TColor32 TBitmap32::GetPixelS(int32_t X, int32_t Y) const {
  if (FBits && X >= 0 && Y >= 0 && X < FWidth && Y < FHeight) return Pixel(X, Y);
  return FOuterColor;
}

void TBitmap32::SetPixelClipped(int32_t X, int32_t Y, TColor32 Value) {
  if (FBits && X >= 0 && Y >= 0 && X < FWidth && Y < FHeight) SetPixel(X, Y, Value);
}

void TBitmap32::SetPixelT(int32_t X, int32_t Y, TColor32 Value) {
  BlendPixelInPlace(Value, *PixelPtr(X, Y));
  EMMS();
}

void TBitmap32::SetPixelTS(int32_t X, int32_t Y, TColor32 Value) {
  if (FBits && X >= 0 && Y >= 0 && X < FWidth && Y < FHeight) {
    BlendPixelInPlace(Value, *PixelPtr(X, Y));
    EMMS();
  }
}

void TBitmap32::SetPixelX(TFixed X, TFixed Y, TColor32 Value) {
  int32_t x = static_cast<int32_t>((static_cast<int64_t>(X) + 127) >> 8);
  int32_t y = static_cast<int32_t>((static_cast<int64_t>(Y) + 127) >> 8);
  SetPixelTS24(x, y, Value);
  EMMS();
}

void TBitmap32::SetPixelT24(int32_t X, int32_t Y, TColor32 Value) {
  const uint8_t* G = GAMMA_TABLE;
  uint32_t a = Value >> 24;
  uint32_t fx = X & 255, fy = Y & 255;
  int32_t x = X >> 8, y = Y >> 8;
  uint32_t wx = a * G[fx], wx1 = a * G[255 - fx];
  TColor32* p = PixelPtr(x, y);
  CombinePixelInPlace(Value, p[0], (wx1 * G[255 - fy]) >> 16);
  CombinePixelInPlace(Value, p[1], (wx * G[255 - fy]) >> 16);
  p += FWidth;
  CombinePixelInPlace(Value, p[1], (wx * G[fy]) >> 16);
  CombinePixelInPlace(Value, p[0], (wx1 * G[fy]) >> 16);
}

void TBitmap32::SetPixelTS24(int32_t X, int32_t Y, TColor32 Value) {
  if (!FBits) return;
  if (X < -256 || Y < -256) return;
  int32_t x = X >> 8, y = Y >> 8;
  if (x >= FWidth || y >= FHeight) return;
  const uint8_t* G = GAMMA_TABLE;
  uint32_t a = Value >> 24;
  uint32_t fx = X & 255, fy = Y & 255;
  uint32_t wx = a * G[fx], wx1 = a * G[255 - fx];
  auto put = [&](int32_t px, int32_t py, uint32_t w) {
    if (px >= 0 && py >= 0 && px < FWidth && py < FHeight) CombinePixelInPlace(Value, *PixelPtr(px, py), w);
  };
  put(x, y, (wx1 * G[255 - fy]) >> 16);
  put(x + 1, y, (wx * G[255 - fy]) >> 16);
  put(x + 1, y + 1, (wx * G[fy]) >> 16);
  put(x, y + 1, (wx1 * G[fy]) >> 16);
}

void TBitmap32::ResetAlpha() {
  if (!Empty()) {
    TColor32* p = FBits;
    int64_t n = static_cast<int64_t>(FWidth) * FHeight;
    for (int64_t i = 0; i < n; ++i) p[i] |= 0xFF000000u;
  }
  Changed();
}

// ---- Stipple ----

void TBitmap32::SetStipple(const TArrayOfColor32& NewStipple) {
  FStipplePattern = NewStipple;
  FStippleCounter = 0;
}

void TBitmap32::SetStipple(const TColor32* Colors, int32_t Count) {
  FStipplePattern.assign(Colors, Colors + std::max(Count, 0));
  FStippleCounter = 0;
}

void TBitmap32::AdvanceStippleCounter(float LengthPixels) {
  size_t len = FStipplePattern.size();
  double delta = static_cast<double>(LengthPixels) * FStippleStep;
  if (len == 0 || delta == 0) return;
  double c = FStippleCounter + delta;
  c -= std::floor(c / len) * len;
  FStippleCounter = std::isfinite(c) ? static_cast<float>(c) : 0.0f;
}

TColor32 TBitmap32::GetStippleColor() {
  int32_t len = static_cast<int32_t>(FStipplePattern.size());
  if (len == 0) return 0xFF000000u;
  double c = FStippleCounter;
  // One reduction step instead of a loop: a huge counter must not hang.
  if (!std::isfinite(c)) c = 0;
  if (c < 0 || c >= len) c -= std::floor(c / len) * len;
  if (c < 0 || c >= len) c = 0;
  FStippleCounter = static_cast<float>(c);
  int32_t i = Constrain(static_cast<int32_t>(platform::Round(c - 0.5)), 0, len - 1);
  int32_t w = 255 - static_cast<int32_t>(platform::Round((c - i) * 255));
  int32_t j = i + 1;
  if (j >= len) j = 0;
  TColor32 result;
  if (w != 255) {
    w = Constrain(w, 0, 255);
    result = CombinePixel(FStipplePattern[i], FStipplePattern[j], static_cast<TColor32>(w));
  } else {
    result = FStipplePattern[i];
  }
  FStippleCounter = static_cast<float>(FStippleCounter + FStippleStep);
  return result;
}

// ---- Horizontal and vertical lines ----

void TBitmap32::HorzLine(int32_t X1, int32_t Y, int32_t X2, TColor32 Value) {
  FillLongword(PixelPtr(X1, Y), X2 - X1 + 1, Value);
}

void TBitmap32::HorzLineClipped(int32_t X1, int32_t Y, int32_t X2, TColor32 Value) {
  if (FBits && Y >= 0 && Y < FHeight && TestClip(X1, X2, FWidth)) HorzLine(X1, Y, X2, Value);
}

void TBitmap32::HorzLineT(int32_t X1, int32_t Y, int32_t X2, TColor32 Value) {
  if (X2 < X1) return;
  TColor32* p = PixelPtr(X1, Y);
  uint32_t a = Value >> 24;
  if (a == 255) {
    FillLongword(p, X2 - X1 + 1, Value);
  } else if (a != 0) {
    for (int32_t x = X1; x <= X2; ++x, ++p) BlendPixelInPlace(Value, *p);
  }
  EMMS();
}

void TBitmap32::HorzLineClippedT(int32_t X1, int32_t Y, int32_t X2, TColor32 Value) {
  if (FBits && Y >= 0 && Y < FHeight && TestClip(X1, X2, FWidth)) HorzLineT(X1, Y, X2, Value);
}

void TBitmap32::HorzLineTSP(int32_t X1, int32_t Y, int32_t X2) {
  if (Empty() || Y < 0 || Y >= FHeight) return;
  if ((X1 < 0 && X2 < 0) || (X1 >= FWidth && X2 >= FWidth)) {
    AdvanceStippleCounter(static_cast<float>(std::llabs(static_cast<int64_t>(X2) - X1) + 1));
    return;
  }
  auto clamp = [this](int32_t& x) -> int64_t {
    int64_t cut = 0;
    if (x < 0) {
      cut = -static_cast<int64_t>(x);
      x = 0;
    } else if (x >= FWidth) {
      cut = static_cast<int64_t>(x) - (FWidth - 1);
      x = FWidth - 1;
    }
    return cut;
  };
  int64_t before = clamp(X1), after = clamp(X2);
  AdvanceStippleCounter(static_cast<float>(before));
  int32_t step = X2 >= X1 ? 1 : -1;
  TColor32* row = ScanLine(Y);
  for (int32_t x = X1;; x += step) {
    BlendPixelInPlace(GetStippleColor(), row[x]);
    if (x == X2) break;
  }
  AdvanceStippleCounter(static_cast<float>(after));
  EMMS();
}

void TBitmap32::VertLine(int32_t X, int32_t Y1, int32_t Y2, TColor32 Value) {
  TColor32* p = PixelPtr(X, Y1);
  for (int32_t y = Y1; y <= Y2; ++y, p += FWidth) *p = Value;
}

void TBitmap32::VertLineClipped(int32_t X, int32_t Y1, int32_t Y2, TColor32 Value) {
  if (FBits && X >= 0 && X < FWidth && TestClip(Y1, Y2, FHeight)) VertLine(X, Y1, Y2, Value);
}

void TBitmap32::VertLineT(int32_t X, int32_t Y1, int32_t Y2, TColor32 Value) {
  TColor32* p = PixelPtr(X, Y1);
  for (int32_t y = Y1; y <= Y2; ++y, p += FWidth) BlendPixelInPlace(Value, *p);
  EMMS();
}

void TBitmap32::VertLineClippedT(int32_t X, int32_t Y1, int32_t Y2, TColor32 Value) {
  if (FBits && X >= 0 && X < FWidth && TestClip(Y1, Y2, FHeight)) VertLineT(X, Y1, Y2, Value);
}

void TBitmap32::VertLineTSP(int32_t X, int32_t Y1, int32_t Y2) {
  if (Empty() || X < 0 || X >= FWidth) return;
  if ((Y1 < 0 && Y2 < 0) || (Y1 >= FHeight && Y2 >= FHeight)) {
    AdvanceStippleCounter(static_cast<float>(std::llabs(static_cast<int64_t>(Y2) - Y1) + 1));
    return;
  }
  auto clamp = [this](int32_t& y) -> int64_t {
    int64_t cut = 0;
    if (y < 0) {
      cut = -static_cast<int64_t>(y);
      y = 0;
    } else if (y >= FHeight) {
      cut = static_cast<int64_t>(y) - (FHeight - 1);
      y = FHeight - 1;
    }
    return cut;
  };
  int64_t before = clamp(Y1), after = clamp(Y2);
  AdvanceStippleCounter(static_cast<float>(before));
  int32_t step = Y2 >= Y1 ? 1 : -1;
  for (int32_t y = Y1;; y += step) {
    BlendPixelInPlace(GetStippleColor(), *PixelPtr(X, y));
    if (y == Y2) break;
  }
  AdvanceStippleCounter(static_cast<float>(after));
  EMMS();
}

// ---- Bresenham lines ----

namespace {

template <typename Plot>
void Bresenham(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, bool L, Plot plot) {
  int64_t dx = static_cast<int64_t>(X2) - X1, dy = static_cast<int64_t>(Y2) - Y1;
  if (dx == 0 && dy != 0) {
    int32_t sy = Sign(dy);
    for (int32_t y = Y1; y != Y2; y += sy) plot(X1, y);
  } else if (dy == 0 && dx != 0) {
    int32_t sx = Sign(dx);
    for (int32_t x = X1; x != X2; x += sx) plot(x, Y1);
  } else if (dx != 0) {
    int32_t sx = Sign(dx), sy = Sign(dy);
    int64_t adx = std::llabs(dx), ady = std::llabs(dy);
    int32_t x = X1, y = Y1;
    if (adx >= ady) {
      int64_t e = adx >> 1;
      for (int64_t i = 0; i < adx; ++i) {
        plot(x, y);
        x += sx;
        e += ady;
        if (e > adx) {
          y += sy;
          e -= adx;
        }
      }
    } else {
      int64_t e = ady >> 1;
      for (int64_t i = 0; i < ady; ++i) {
        plot(x, y);
        y += sy;
        e += adx;
        if (e > ady) {
          x += sx;
          e -= ady;
        }
      }
    }
  }
  if (L) plot(X2, Y2);
}

}  // namespace

void TBitmap32::Line(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, TColor32 Value, bool L) {
  Bresenham(X1, Y1, X2, Y2, L, [this, Value](int32_t x, int32_t y) { *PixelPtr(x, y) = Value; });
  Changed();
}

void TBitmap32::LineS(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, TColor32 Value, bool L) {
  if (Empty()) return;
  if (ClipLine(X1, Y1, X2, Y2, 0, 0, FWidth - 1, FHeight - 1)) Line(X1, Y1, X2, Y2, Value, L);
}

void TBitmap32::LineT(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, TColor32 Value, bool L) {
  Bresenham(X1, Y1, X2, Y2, L, [this, Value](int32_t x, int32_t y) { BlendPixelInPlace(Value, *PixelPtr(x, y)); });
  EMMS();
  Changed();
}

void TBitmap32::LineTS(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, TColor32 Value, bool L) {
  if (Empty()) return;
  int32_t ox1 = X1, oy1 = Y1, ox2 = X2, oy2 = Y2;
  if (!ClipLine(X1, Y1, X2, Y2, 0, 0, FWidth - 1, FHeight - 1)) return;
  if (ox1 != X1 || oy1 != Y1 || ox2 != X2 || oy2 != Y2) L = true;
  LineT(X1, Y1, X2, Y2, Value, L);
}

// ---- Antialiased lines ----

template <bool Clipped, bool Stippled>
void TBitmap32::LineXImpl(TFixed X1, TFixed Y1, TFixed X2, TFixed Y2, TColor32 Value, bool L) {
  int64_t dx = static_cast<int64_t>(X2) - X1, dy = static_cast<int64_t>(Y2) - Y1;
  int64_t x = static_cast<int64_t>(X1) + 127, y = static_cast<int64_t>(Y1) + 127;
  int64_t n = platform::Round(std::hypot(static_cast<double>(dx), static_cast<double>(dy))) + (L ? 0x10000 : 0);
  if (n < 256) return;
  int64_t ex = 0, ey = 0;
  int64_t k = n >> 16;
  auto plot = [this](int64_t px, int64_t py, TColor32 c) {
    if constexpr (Clipped) {
      SetPixelTS24(static_cast<int32_t>(std::clamp<int64_t>(px, -(1 << 30), 1 << 30)),
                   static_cast<int32_t>(std::clamp<int64_t>(py, -(1 << 30), 1 << 30)), c);
    } else {
      SetPixelT24(static_cast<int32_t>(px), static_cast<int32_t>(py), c);
    }
  };
  if (k > 0) {
    double s = 65536.0 / static_cast<double>(n);
    ex = platform::Round(static_cast<double>(dx) * s);
    ey = platform::Round(static_cast<double>(dy) * s);
    for (int64_t i = 0; i < k; ++i) {
      TColor32 c = Value;
      if constexpr (Stippled) c = GetStippleColor();
      plot(x >> 8, y >> 8, c);
      x += ex;
      y += ey;
    }
  }
  TColor32 c = Value;
  if constexpr (Stippled) c = GetStippleColor();
  uint32_t a = ((c >> 24) * static_cast<uint32_t>(n & 0xFFFF)) >> 16;
  c = (c & 0x00FFFFFFu) | (a << 24);
  plot((static_cast<int64_t>(X2) + 127 + x - ex) >> 9, (static_cast<int64_t>(Y2) + 127 + y - ey) >> 9, c);
  EMMS();
  Changed();
}

void TBitmap32::LineX(TFixed X1, TFixed Y1, TFixed X2, TFixed Y2, TColor32 Value, bool L) {
  LineXImpl<false, false>(X1, Y1, X2, Y2, Value, L);
}

void TBitmap32::LineXP(TFixed X1, TFixed Y1, TFixed X2, TFixed Y2, bool L) {
  LineXImpl<false, true>(X1, Y1, X2, Y2, 0, L);
}

void TBitmap32::LineXS(TFixed X1, TFixed Y1, TFixed X2, TFixed Y2, TColor32 Value, bool L) {
  if (Empty()) return;
  int32_t ox1 = X1, oy1 = Y1, ox2 = X2, oy2 = Y2;
  if (!ClipLine(X1, Y1, X2, Y2, -0x10000, -0x10000, ToFixedEdge(FWidth), ToFixedEdge(FHeight))) return;
  if (ox1 != X1 || oy1 != Y1 || ox2 != X2 || oy2 != Y2) L = true;
  int64_t maxX = static_cast<int64_t>(FWidth - 2) << 16, maxY = static_cast<int64_t>(FHeight - 2) << 16;
  if (std::min({X1, X2}) >= 0 && std::max<int64_t>({X1, X2}) <= maxX && std::min({Y1, Y2}) >= 0 &&
      std::max<int64_t>({Y1, Y2}) <= maxY)
    LineXImpl<false, false>(X1, Y1, X2, Y2, Value, L);
  else
    LineXImpl<true, false>(X1, Y1, X2, Y2, Value, L);
}

void TBitmap32::LineXSP(TFixed X1, TFixed Y1, TFixed X2, TFixed Y2, bool L) {
  if (Empty()) return;
  int32_t ox1 = X1, oy1 = Y1, ox2 = X2, oy2 = Y2;
  if (!ClipLine(X1, Y1, X2, Y2, -0x10000, -0x10000, ToFixedEdge(FWidth), ToFixedEdge(FHeight))) {
    double len = std::hypot(static_cast<double>(static_cast<int64_t>(ox2) - ox1),
                            static_cast<double>(static_cast<int64_t>(oy2) - oy1)) / 65536.0;
    AdvanceStippleCounter(static_cast<float>(len));
    return;
  }
  if (ox1 != X1 || oy1 != Y1 || ox2 != X2 || oy2 != Y2) L = true;
  int64_t maxX = static_cast<int64_t>(FWidth - 2) << 16, maxY = static_cast<int64_t>(FHeight - 2) << 16;
  if (std::min({X1, X2}) >= 0 && std::max<int64_t>({X1, X2}) <= maxX && std::min({Y1, Y2}) >= 0 &&
      std::max<int64_t>({Y1, Y2}) <= maxY)
    LineXImpl<false, true>(X1, Y1, X2, Y2, 0, L);
  else
    LineXImpl<true, true>(X1, Y1, X2, Y2, 0, L);
}

// ---- Pen ----

void TBitmap32::MoveTo(int32_t X, int32_t Y) {
  FRasterX = X;
  FRasterY = Y;
}

void TBitmap32::LineToS(int32_t X, int32_t Y) {
  LineS(FRasterX, FRasterY, X, Y, FPenColor);
  FRasterX = X;
  FRasterY = Y;
}

void TBitmap32::LineToTS(int32_t X, int32_t Y) {
  LineTS(FRasterX, FRasterY, X, Y, FPenColor);
  FRasterX = X;
  FRasterY = Y;
}

void TBitmap32::MoveToX(TFixed X, TFixed Y) {
  FRasterXF = X;
  FRasterYF = Y;
}

void TBitmap32::LineToXS(TFixed X, TFixed Y) {
  LineXS(FRasterXF, FRasterYF, X, Y, FPenColor);
  FRasterXF = X;
  FRasterYF = Y;
}

void TBitmap32::LineToXSP(TFixed X, TFixed Y) {
  LineXSP(FRasterXF, FRasterYF, X, Y);
  FRasterXF = X;
  FRasterYF = Y;
}

// ---- Rectangles ----

void TBitmap32::FillRect(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, TColor32 Value) {
  for (int32_t y = Y1; y < Y2; ++y) FillLongword(PixelPtr(X1, y), X2 - X1, Value);
  Changed();
}

namespace {

// The rejection shared by the clipped rectangle operations.
bool RectOutside(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, int32_t W, int32_t H) {
  return X1 >= X2 || Y1 >= Y2 || X1 >= W || Y1 >= H || X2 < 1 || Y2 < 1;
}

}  // namespace

void TBitmap32::FillRectClipped(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, TColor32 Value) {
  if (Empty() || RectOutside(X1, Y1, X2, Y2, FWidth, FHeight)) return;
  FillRect(std::max(X1, 0), std::max(Y1, 0), std::min(X2, FWidth), std::min(Y2, FHeight), Value);
}

void TBitmap32::FrameRectClipped(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, TColor32 Value) {
  if (Empty() || RectOutside(X1, Y1, X2, Y2, FWidth, FHeight)) return;
  int32_t r = X2 - 1, b = Y2 - 1;
  HorzLineClipped(X1, Y1, r, Value);
  if (b > Y1) HorzLineClipped(X1, b, r, Value);
  // Columns only over the rows strictly between top and bottom.
  if (b - 1 >= Y1 + 1) {
    VertLineClipped(X1, Y1 + 1, b - 1, Value);
    if (r > X1) VertLineClipped(r, Y1 + 1, b - 1, Value);
  }
  Changed();
}

void TBitmap32::FrameRectBlended(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, TColor32 Value) {
  if (Empty() || RectOutside(X1, Y1, X2, Y2, FWidth, FHeight)) return;
  int32_t r = X2 - 1, b = Y2 - 1;
  HorzLineClippedT(X1, Y1, r, Value);
  if (b > Y1) HorzLineClippedT(X1, b, r, Value);
  if (b - 1 >= Y1 + 1) {
    VertLineClippedT(X1, Y1 + 1, b - 1, Value);
    if (r > X1) VertLineClippedT(r, Y1 + 1, b - 1, Value);
  }
  Changed();
}

void TBitmap32::FrameRectStippled(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2) {
  if (Empty() || RectOutside(X1, Y1, X2, Y2, FWidth, FHeight)) return;
  int32_t r = X2 - 1, b = Y2 - 1;
  if (r == X1 && b == Y1) {
    SetPixelTS(X1, Y1, GetStippleColor());
  } else if (r == X1) {
    VertLineTSP(X1, Y1, b);
  } else if (b == Y1) {
    HorzLineTSP(X1, Y1, r);
  } else {
    // Clockwise from the top-left; each side stops before the next side's first pixel.
    HorzLineTSP(X1, Y1, r - 1);
    VertLineTSP(r, Y1, b - 1);
    HorzLineTSP(r, b, X1 + 1);
    VertLineTSP(X1, b, Y1 + 1);
  }
  Changed();
}

}  // namespace raster

#include "media/PictureShowEffects.h"
#include "media/PictureShowEffectsPriv.h"

#include <algorithm>
#include <cmath>
#include <climits>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/Exceptions.h"
#include "platform/Regions.h"
#include "platform/Rounding.h"

#include <QImage>
#include <QPainter>
#include <atomic>

namespace media {

using platform::MulDiv;
using platform::TBitmap;
using platform::TRect;

namespace {
std::atomic<bool> GReference{false};
}  // namespace

void SetEffectReferencePath(bool Value) { GReference = Value; }
bool EffectReferencePath() { return GReference.load(std::memory_order_relaxed); }

// A polygon region holds pixel (x, y) when the point (x, y) has a nonzero winding number, an
// edge counting on row y when its upper end lies at or above y and its lower end below, and
// counting at x when its exact crossing of the row lies at or left of x. Crossings are found
// in exact integer arithmetic, so only the rows and columns of the picture are visited.
bool PolygonSpans(const std::vector<platform::TPoint>& Points, int32_t W, int32_t H,
                  std::vector<TRect>& Out, int32_t Limit) {
  Out.clear();
  Limit = std::min(Limit, kExactScanLimit);  // products of two differences stay within 2^62
  for (const platform::TPoint& p : Points)
    if (p.X < -Limit || p.X > Limit || p.Y < -Limit || p.Y > Limit) return false;
  if (Points.size() < 3 || W <= 0 || H <= 0) return true;
  struct TEdge {
    int32_t Top, Bottom;
    int64_t X, DX, DY;
    int32_t Dir;
  };
  std::vector<TEdge> Edges;
  int32_t Y0 = INT32_MAX, Y1 = INT32_MIN;
  for (size_t i = 0; i < Points.size(); ++i) {
    const platform::TPoint a = Points[i], b = Points[(i + 1) % Points.size()];
    if (a.Y == b.Y) continue;  // a level edge crosses no row
    const platform::TPoint& t = a.Y < b.Y ? a : b;
    const platform::TPoint& u = a.Y < b.Y ? b : a;
    Edges.push_back({t.Y, u.Y, t.X, int64_t(u.X) - t.X, int64_t(u.Y) - t.Y, a.Y < b.Y ? 1 : -1});
    Y0 = std::min(Y0, t.Y);
    Y1 = std::max(Y1, u.Y);
  }
  std::vector<std::pair<int64_t, int32_t>> Cross;  // crossing x, winding change
  for (int32_t y = std::max(Y0, 0); y < std::min(Y1, H); ++y) {
    Cross.clear();
    for (const TEdge& e : Edges) {
      if (y < e.Top || y >= e.Bottom) continue;
      const int64_t n = (y - e.Top) * e.DX;  // the crossing is X + n / DY, rounded up
      Cross.emplace_back(e.X + (n >= 0 ? (n + e.DY - 1) / e.DY : -(-n / e.DY)), e.Dir);
    }
    std::sort(Cross.begin(), Cross.end());
    int32_t Wind = 0;
    int64_t Start = 0;
    for (size_t i = 0; i < Cross.size();) {
      const int64_t x = Cross[i].first;
      const bool Was = Wind != 0;
      for (; i < Cross.size() && Cross[i].first == x; ++i) Wind += Cross[i].second;
      if (!Was && Wind != 0) {
        Start = x;
      } else if (Was && Wind == 0) {
        const int64_t L = std::max<int64_t>(Start, 0), R = std::min<int64_t>(x, W);
        if (L < R) Out.push_back(TRect{int32_t(L), y, int32_t(R), y + 1});
      }
    }
  }
  return true;
}

TEffectSizes EffectSizes(const TRect& R, uint16_t Step, uint8_t Progress) {
  TEffectSizes S{};
  S.W = R.Right - R.Left;
  S.H = R.Bottom - R.Top;
  if (S.W < S.H) {
    S.h = MulDiv(S.H, Progress, 100);
    S.w = MulDiv(S.h, S.W, S.H);
    S.extra = MulDiv(S.H, Step, 90);
  } else {
    S.w = MulDiv(S.W, Progress, 100);
    S.h = S.W == 0 ? 0 : MulDiv(S.w, S.H, S.W);
    S.extra = MulDiv(S.W, Step, 90);
  }
  return S;
}

namespace {

TRect Rc(int32_t L, int32_t T, int32_t Rr, int32_t B) { return TRect{L, T, Rr, B}; }

void Copy(TBitmap* Display, TBitmap* Picture, const TRect& Dst, const TRect& Src) {
  if (Dst.Right <= Dst.Left || Dst.Bottom <= Dst.Top || Src.Right <= Src.Left ||
      Src.Bottom <= Src.Top)
    return;  // an empty rectangle draws nothing
  const QImage& S = static_cast<const TBitmap*>(Picture)->Image();
  const bool Stretched = Dst.Right - Dst.Left != Src.Right - Src.Left ||
                         Dst.Bottom - Dst.Top != Src.Bottom - Src.Top;
  if (EffectReferencePath() || !Stretched ||
      S.format() != QImage::Format_RGB32 ||
      static_cast<const TBitmap*>(Display)->Image().format() != QImage::Format_RGB32 ||
      !S.rect().contains(QRect(Src.Left, Src.Top, Src.Right - Src.Left, Src.Bottom - Src.Top))) {
    Display->Canvas()->CopyRect(Dst, Picture->Canvas(), Src);
    return;
  }
  // A stretched copy hands the platform's scaler the same opaque image of the source part that
  // the canvas would make, built in one pass over the rows instead of copy, convert and fix.
  const int32_t sw = Src.Right - Src.Left, sh = Src.Bottom - Src.Top;
  // One buffer per thread, kept: a fresh picture-sized allocation every frame costs more in
  // page faults than the copy itself.
  thread_local std::vector<uint32_t> Buffer;
  Buffer.resize(size_t(sw) * size_t(sh));
  QImage Part(reinterpret_cast<uchar*>(Buffer.data()), sw, sh, sw * 4, QImage::Format_ARGB32);
  for (int32_t y = 0; y < sh; ++y) {
    const auto* s = reinterpret_cast<const uint32_t*>(S.constScanLine(Src.Top + y)) + Src.Left;
    auto* d = reinterpret_cast<uint32_t*>(Part.scanLine(y));
    for (int32_t x = 0; x < sw; ++x) d[x] = s[x] | 0xFF000000u;
  }
  QPainter* Pt = Display->Canvas()->Painter();
  if (!Pt) return;
  Pt->save();
  Pt->setCompositionMode(QPainter::CompositionMode_SourceOver);
  Pt->drawImage(QRect(Dst.Left, Dst.Top, Dst.Right - Dst.Left, Dst.Bottom - Dst.Top), Part);
  Pt->restore();
}

// The 17 single-axis rectangle copies. Vert swaps the axes: "right" becomes "bottom".
void Axis(int32_t Kind, bool Vert, TBitmap* D, TBitmap* P, const TRect& R, uint16_t Step,
          uint8_t Progress) {
  const TEffectSizes S = EffectSizes(R, Step, Progress);
  const int32_t W = Vert ? S.H : S.W, H = Vert ? S.W : S.H, w = Vert ? S.h : S.w;
  std::vector<std::pair<TRect, TRect>> Ops;  // (destination, source) along the axis
  const TRect Whole = Rc(0, 0, W, H);
  switch (Kind) {
    case 1: Ops.push_back({Rc(W - w, 0, W, H), Whole}); break;
    case 2: Ops.push_back({Rc(0, 0, w, H), Whole}); break;
    case 3: Ops.push_back({Rc(W - w, 0, 2 * W - w, H), Whole}); break;
    case 4: Ops.push_back({Rc(w - W, 0, w, H), Whole}); break;
    case 5: Ops.push_back({Rc(0, 0, w, H), Rc(0, 0, w, H)}); break;
    case 6: Ops.push_back({Rc(W - w, 0, W, H), Rc(W - w, 0, W, H)}); break;
    case 7: Ops.push_back({Rc(0, 0, 2 * W - w, H), Rc(0, 0, w, H)}); break;
    case 8: Ops.push_back({Rc(w - W, 0, W, H), Rc(W - w, 0, W, H)}); break;
    case 9:
      Ops.push_back({Rc(w - W, 0, 2 * W - w, H), Rc((W - w) / 2, 0, (W + w) / 2, H)});
      break;
    case 10: Ops.push_back({Rc((W - w) / 2, 0, (W + w) / 2, H), Whole}); break;
    case 11: {
      const TRect M = Rc((W - w) / 2, 0, (W + w) / 2, H);
      Ops.push_back({M, M});
      break;
    }
    case 12: {
      const TRect A = Rc(0, 0, w / 2 + 1, H), B = Rc(W - w / 2 - 1, 0, W, H);
      Ops.push_back({A, A});
      Ops.push_back({B, B});
      break;
    }
    case 13:
      Ops.push_back({Rc(0, 0, w / 2 + 1, H), Rc(0, 0, W / 2 + 1, H)});
      Ops.push_back({Rc(W - w / 2 - 1, 0, W, H), Rc(W / 2, 0, W, H)});
      break;
    case 16: {
      Ops.push_back({Rc(0, 0, w, H), Rc(0, 0, w, H)});
      const int32_t Band = S.extra > 0 ? W / S.extra : W;
      Ops.push_back({Rc(w, 0, W, H), Rc(w, 0, std::min(w + Band, W), H)});
      break;
    }
    case 17: {
      Ops.push_back({Rc(W - w, 0, W, H), Rc(W - w, 0, W, H)});
      const int32_t Band = S.extra > 0 ? W / S.extra : W;
      Ops.push_back({Rc(0, 0, W - w, H), Rc(std::max(W - w - Band, 0), 0, W - w, H)});
      break;
    }
    default: break;
  }
  auto Flip = [Vert](const TRect& A) {
    return Vert ? Rc(A.Top, A.Left, A.Bottom, A.Right) : A;
  };
  for (const auto& [Dst, Src] : Ops) Copy(D, P, Flip(Dst), Flip(Src));
}

template <int Kind, bool Vert>
void AxisProc(TBitmap* D, TBitmap* P, const TRect& R, uint16_t Step, uint8_t Progress) {
  Axis(Kind, Vert, D, P, R, Step, Progress);
}

// Corner and centre copies, 35..57.
void Corner(int32_t Style, TBitmap* D, TBitmap* P, const TRect& R, uint16_t Step,
            uint8_t Progress) {
  const auto [W, H, w, h, extra] = EffectSizes(R, Step, Progress);
  (void)extra;
  const TRect Whole = Rc(0, 0, W, H);
  // Left and top halves; the right and bottom ones take the rest so odd sizes close exactly.
  const int32_t w2 = w / 2, h2 = h / 2, W2 = W / 2, H2 = H / 2;
  const int32_t wr = w - w2, hr = h - h2;
  switch (Style) {
    case 35: Copy(D, P, Rc(W - w, H - h, W, H), Whole); break;
    case 36: Copy(D, P, Rc(W - w, 0, W, h), Whole); break;
    case 37: Copy(D, P, Rc(0, 0, w, h), Whole); break;
    case 38: Copy(D, P, Rc(0, H - h, w, H), Whole); break;
    case 39: Copy(D, P, Rc(W - w, H - h, 2 * W - w, 2 * H - h), Whole); break;
    case 40: Copy(D, P, Rc(W - w, h - H, 2 * W - w, h), Whole); break;
    case 41: Copy(D, P, Rc(w - W, h - H, w, h), Whole); break;
    case 42: Copy(D, P, Rc(w - W, H - h, w, 2 * H - h), Whole); break;
    case 43: Copy(D, P, Rc(0, 0, w, h), Rc(0, 0, w, h)); break;
    case 44: Copy(D, P, Rc(0, H - h, w, H), Rc(0, H - h, w, H)); break;
    case 45: Copy(D, P, Rc(W - w, H - h, W, H), Rc(W - w, H - h, W, H)); break;
    case 46: Copy(D, P, Rc(W - w, 0, W, h), Rc(W - w, 0, W, h)); break;
    case 47: Copy(D, P, Rc(0, 0, 2 * W - w, 2 * H - h), Rc(0, 0, w, h)); break;
    case 48: Copy(D, P, Rc(0, h - H, 2 * W - w, H), Rc(0, H - h, w, H)); break;
    case 49: Copy(D, P, Rc(w - W, h - H, W, H), Rc(W - w, H - h, W, H)); break;
    case 50: Copy(D, P, Rc(w - W, 0, W, 2 * H - h), Rc(W - w, 0, W, h)); break;
    case 51:
      Copy(D, P, Rc(w - W, h - H, 2 * W - w, 2 * H - h),
           Rc((W - w) / 2, (H - h) / 2, (W + w) / 2, (H + h) / 2));
      break;
    case 52: Copy(D, P, Rc((W - w) / 2, (H - h) / 2, (W + w) / 2, (H + h) / 2), Whole); break;
    case 53: {
      const TRect M = Rc((W - w) / 2, (H - h) / 2, (W + w) / 2, (H + h) / 2);
      Copy(D, P, M, M);
      break;
    }
    case 54:  // edge bands closing in on the centre
      for (const TRect& B : {Rc(0, 0, W, h2), Rc(0, H - hr, W, H), Rc(0, 0, w2, H),
                             Rc(W - wr, 0, W, H)})
        Copy(D, P, B, B);
      break;
    case 55:  // corner quarters growing toward the middle
      for (const TRect& B : {Rc(0, 0, w2, h2), Rc(W - wr, 0, W, h2), Rc(0, H - hr, w2, H),
                             Rc(W - wr, H - hr, W, H)})
        Copy(D, P, B, B);
      break;
    case 56:  // the picture's quarters squeezed into the growing corners
      Copy(D, P, Rc(0, 0, w2, h2), Rc(0, 0, W2, H2));
      Copy(D, P, Rc(W - wr, 0, W, h2), Rc(W2, 0, W, H2));
      Copy(D, P, Rc(0, H - hr, w2, H), Rc(0, H2, W2, H));
      Copy(D, P, Rc(W - wr, H - hr, W, H), Rc(W2, H2, W, H));
      break;
    case 57:  // the quarters slide in from the corners at full size
      Copy(D, P, Rc(w2 - W2, h2 - H2, w2, h2), Rc(0, 0, W2, H2));
      Copy(D, P, Rc(W - wr, h2 - H2, W - wr + (W - W2), h2), Rc(W2, 0, W, H2));
      Copy(D, P, Rc(w2 - W2, H - hr, w2, H - hr + (H - H2)), Rc(0, H2, W2, H));
      Copy(D, P, Rc(W - wr, H - hr, W - wr + (W - W2), H - hr + (H - H2)), Rc(W2, H2, W, H));
      break;
    default: break;
  }
}

template <int Style>
void CornerProc(TBitmap* D, TBitmap* P, const TRect& R, uint16_t Step, uint8_t Progress) {
  Corner(Style, D, P, R, Step, Progress);
}

// Pixel effects need 4-byte pixels on both sides.
bool FourBytes(TBitmap* B) {
  if (B->PixelFormat() != platform::pf32bit && B->PixelFormat() != platform::pfDevice)
    B->SetPixelFormat(platform::pf32bit);
  return true;
}

void Fade(TBitmap* D, TBitmap* P, const TRect& R, uint16_t, uint8_t Progress) {
  FourBytes(D);
  FourBytes(P);
  const int32_t W = std::min({R.Right - R.Left, D->Width(), P->Width()});
  const int32_t H = std::min({R.Bottom - R.Top, D->Height(), P->Height()});
  if (W <= 0 || H <= 0) return;  // no rows to walk: a bitmap without columns has no scan lines
  const uint32_t a = Progress, b = 100 - Progress;
  for (int32_t y = 0; y < H; ++y) {
    uint8_t* d = static_cast<uint8_t*>(D->ScanLine(y));
    const uint8_t* s = static_cast<const uint8_t*>(P->ScanLine(y));
    for (int32_t x = 0; x < W; ++x, d += 4, s += 4)
      for (int c = 0; c < 3; ++c) d[c] = static_cast<uint8_t>((d[c] * b + s[c] * a) / 100);
  }
}

// Rotation of the picture about a pivot; 119..122.
void Pivot(int32_t Style, TBitmap* D, TBitmap* P, const TRect& R, uint8_t Progress) {
  FourBytes(D);
  FourBytes(P);
  const int32_t W = std::min({R.Right - R.Left, D->Width(), P->Width()});
  const int32_t H = std::min({R.Bottom - R.Top, D->Height(), P->Height()});
  if (W <= 0 || H <= 0) return;
  const bool Positive = Style == 119 || Style == 122;
  const double Angle = (Positive ? 100 - Progress : Progress - 100) * M_PI / 200;
  const int64_t Sin = platform::Trunc(std::sin(Angle) * 65536);
  const int64_t Cos = platform::Trunc(std::cos(Angle) * 65536);
  const int32_t cx = (Style == 119 || Style == 120) ? -1 : W;
  const int32_t cy = (Style == 119 || Style == 121) ? -1 : H;
  std::vector<const uint32_t*> Rows(H);
  for (int32_t y = 0; y < H; ++y) Rows[y] = static_cast<const uint32_t*>(P->ScanLine(y));
  for (int32_t y = H - 1; y >= 0; --y) {
    uint32_t* d = static_cast<uint32_t*>(D->ScanLine(y));
    const int64_t dy = y - cy;
    for (int32_t x = W - 1; x >= 0; --x) {
      const int64_t dx = x - cx;
      const int64_t sx = ((dx * Cos - dy * Sin) >> 16) + cx;
      const int64_t sy = ((dx * Sin + dy * Cos) >> 16) + cy;
      if (sx >= 0 && sx < W && sy >= 0 && sy < H) d[x] = Rows[sy][sx];
    }
  }
}

template <int Style>
void PivotProc(TBitmap* D, TBitmap* P, const TRect& R, uint16_t, uint8_t Progress) {
  Pivot(Style, D, P, R, Progress);
}

// A same-size copy inside one 32-bit bitmap, all four bytes, rows in the order that reads each
// source row before it is overwritten.
void ShiftWithin(TBitmap* D, const TRect& Dst, const TRect& Src) {
  const int32_t w = Dst.Right - Dst.Left, h = Dst.Bottom - Dst.Top;
  if (w <= 0 || h <= 0) return;
  D->Canvas()->Release();
  QImage& I = D->Image();
  const int32_t dy = Dst.Top - Src.Top;
  for (int32_t i = 0; i < h; ++i) {
    const int32_t y = dy > 0 ? Dst.Bottom - 1 - i : Dst.Top + i;
    std::memmove(reinterpret_cast<uint32_t*>(I.scanLine(y)) + Dst.Left,
                 reinterpret_cast<const uint32_t*>(I.constScanLine(y - dy)) + Src.Left,
                 size_t(w) * 4);
  }
}

// Push (the old frame moves away) and push-and-squeeze (it is squeezed), 128..135.
void Push(int32_t Style, TBitmap* D, TBitmap* P, const TRect& R, uint16_t Step,
          uint8_t Progress) {
  const TEffectSizes S = EffectSizes(R, Step, Progress);
  const int32_t k = (Style - 128) % 4;  // 0 push fwd, 1 push back, 2 squeeze fwd, 3 squeeze back
  const bool Vert = Style >= 132;
  const int32_t W = Vert ? S.H : S.W, H = Vert ? S.W : S.H, w = Vert ? S.h : S.w;
  auto F = [Vert](int32_t L, int32_t T, int32_t Rr, int32_t B) {
    return Vert ? Rc(T, L, B, Rr) : Rc(L, T, Rr, B);
  };
  const bool Forward = k == 0 || k == 2;
  TRect OldDst, OldSrc, PicDst, PicSrc;
  if (Forward) {
    OldDst = F(w, 0, W, H);
    OldSrc = k == 0 ? F(0, 0, W - w, H) : F(0, 0, W, H);
    PicDst = F(0, 0, w, H);
    PicSrc = F(W - w, 0, W, H);
  } else {
    OldDst = F(0, 0, W - w, H);
    OldSrc = k == 1 ? F(w, 0, W, H) : F(0, 0, W, H);
    PicDst = F(W - w, 0, W, H);
    PicSrc = F(0, 0, w, H);
  }
  const QImage& Di = static_cast<const TBitmap*>(D)->Image();
  if (EffectReferencePath() || Di.format() != QImage::Format_RGB32 || Di.width() < S.W ||
      Di.height() < S.H) {
    // The display is its own source: copy it out first.
    TBitmap Old;
    Old.Assign(D);
    Copy(D, &Old, OldDst, OldSrc);
  } else if (k < 2) {
    ShiftWithin(D, OldDst, OldSrc);
  } else {
    Copy(D, D, OldDst, OldSrc);  // a stretched copy reads from its own snapshot of the part
  }
  Copy(D, P, PicDst, PicSrc);
}

template <int Style>
void PushProc(TBitmap* D, TBitmap* P, const TRect& R, uint16_t Step, uint8_t Progress) {
  Push(Style, D, P, R, Step, Progress);
}

// ---- Clip-region effects: the region is selected on Display and the whole picture drawn.

using platform::TPoint;
using platform::TRegion;

// The area an effect uncovers, gathered shape by shape, then the picture drawn through it.
// The reference way joins the shapes into one region and draws the picture clipped to it. The
// fast way, for two 32-bit bitmaps of one size, marks each shape's pixels in a mask (marking
// twice changes nothing, so the union needs no joining) and then copies the marked pixels row
// by row, exactly as the clipped drawing makes them.
class TClip {
 public:
  TClip(TBitmap* D, TBitmap* P) : FD(D), FP(P) {
    const QImage& Di = static_cast<const TBitmap*>(D)->Image();
    const QImage& Pi = static_cast<const TBitmap*>(P)->Image();
    FFast = !EffectReferencePath() && Di.size() == Pi.size() &&
            Di.format() == QImage::Format_RGB32 && Pi.format() == QImage::Format_RGB32;
    if (FFast) {
      FW = Di.width();
      FH = Di.height();
      FMask.assign(size_t(FW) * size_t(FH), 0);
      FRows.assign(size_t(FH), 0);
    }
  }
  bool Fast() const { return FFast; }
  void Add(const TRegion& Rgn) {
    if (!FFast) {
      // Joined pairwise like a binary counter: joining each shape into one growing region
      // costs the square of the shape count, which grids of many small shapes make large.
      FPending.push_back({Rgn, 0});
      while (FPending.size() > 1 && FPending[FPending.size() - 2].second == FPending.back().second) {
        TPending& Into = FPending[FPending.size() - 2];
        platform::CombineRgn(Into.first, Into.first, FPending.back().first, platform::RGN_OR);
        ++Into.second;
        FPending.pop_back();
      }
      return;
    }
    for (const TRect& R : Rgn.Rects()) Mark(R.Left, R.Top, R.Right, R.Bottom);
  }
  void Add(const TRect& R) {
    if (!FFast) {
      Add(TRegion::Rect(R));
      return;
    }
    // Reversed corners count as in order, as for a rectangular region.
    Mark(std::min(R.Left, R.Right), std::min(R.Top, R.Bottom), std::max(R.Left, R.Right),
         std::max(R.Top, R.Bottom));
  }
  // A polygon filled under the nonzero winding rule.
  void AddPolygon(const std::vector<TPoint>& Points) {
    if (FFast && PolygonSpans(Points, FW, FH, FSpans)) {
      for (const TRect& R : FSpans) Mark(R.Left, R.Top, R.Right, R.Bottom);
      return;
    }
    // Farther out the region would build its rows over the polygon's whole reach (a shape
    // grown over a long, thin picture spans tens of thousands of them) and cut it at its
    // window: the picture's own rows are scanned instead, exactly, both ways of drawing.
    const bool Far = std::any_of(Points.begin(), Points.end(), [](const TPoint& p) {
      return std::max(std::abs(int64_t(p.X)), std::abs(int64_t(p.Y))) > kRegionScanLimit;
    });
    if (Far && PolygonSpans(Points, FD->Width(), FD->Height(), FSpans, kExactScanLimit)) {
      for (const TRect& R : FSpans) Add(R);
      return;
    }
    Add(TRegion::Polygon(Points, platform::WINDING));
  }
  // Copies of Shape moved by (i * PX, j * PY) for i from 0 to NX and j from 0 to NY.
  void AddGrid(const std::vector<TRect>& Shape, int32_t PX, int32_t NX, int32_t PY, int32_t NY) {
    for (const TRect& R : Shape)
      for (int32_t j = 0; j <= NY; ++j) {
        const int32_t T = R.Top + j * PY, B = R.Bottom + j * PY;
        if (R.Right - R.Left >= PX) {
          // Copies along a row that touch or overlap make one run.
          Mark(R.Left, T, R.Right + NX * PX, B);
        } else {
          for (int32_t i = 0; i <= NX; ++i) Mark(R.Left + i * PX, T, R.Right + i * PX, B);
        }
      }
  }
  void Draw() {
    if (!FFast) {
      TRegion All;
      for (auto it = FPending.rbegin(); it != FPending.rend(); ++it)
        platform::CombineRgn(All, All, it->first, platform::RGN_OR);
      if (All.Empty()) return;
      platform::TCanvas* C = FD->Canvas();
      C->SelectClipRgn(&All);
      C->Draw(0, 0, FP);
      C->SelectClipRgn(nullptr);
      return;
    }
    if (!FAny) return;
    FD->Canvas()->Release();
    QImage& Dst = FD->Image();
    const QImage& Src = static_cast<const TBitmap*>(FP)->Image();
    for (int32_t y = 0; y < FH; ++y) {
      if (!FRows[y]) continue;
      auto* d = reinterpret_cast<uint32_t*>(Dst.scanLine(y));
      const auto* s = reinterpret_cast<const uint32_t*>(Src.constScanLine(y));
      const uint8_t* m = FMask.data() + size_t(y) * FW;
      // Runs of marked pixels are found eight mask bytes at a time and copied whole; the
      // picture is drawn opaque: its fourth byte becomes 0xFF.
      constexpr uint64_t kNone = 0, kAll = 0x0101010101010101u;
      auto Word = [m](int32_t x) {
        uint64_t v;
        std::memcpy(&v, m + x, 8);
        return v;
      };
      for (int32_t x = 0; x < FW;) {
        while (x + 8 <= FW && Word(x) == kNone) x += 8;
        while (x < FW && !m[x]) ++x;
        int32_t e = x;
        while (e + 8 <= FW && Word(e) == kAll) e += 8;
        while (e < FW && m[e]) ++e;
        // Two pixels a word.
        int32_t i = x;
        for (; i + 2 <= e; i += 2) {
          uint64_t v;
          std::memcpy(&v, s + i, 8);
          v |= 0xFF000000FF000000u;
          std::memcpy(d + i, &v, 8);
        }
        if (i < e) d[i] = s[i] | 0xFF000000u;
        x = e;
      }
    }
  }

 private:
  void Mark(int32_t L, int32_t T, int32_t R, int32_t B) {
    L = std::max(L, 0);
    T = std::max(T, 0);
    R = std::min(R, FW);
    B = std::min(B, FH);
    if (L >= R || T >= B) return;
    FAny = true;
    std::memset(FRows.data() + T, 1, size_t(B - T));
    uint8_t* m = FMask.data() + size_t(T) * FW + L;
    const int32_t n = R - L;
    if (n <= 8) {  // narrow: plain stores beat a call a row
      for (int32_t y = T; y < B; ++y, m += FW)
        for (int32_t k = 0; k < n; ++k) m[k] = 1;
      return;
    }
    for (int32_t y = T; y < B; ++y, m += FW) std::memset(m, 1, size_t(n));
  }

  TBitmap* FD;
  TBitmap* FP;
  bool FFast = false;
  bool FAny = false;
  using TPending = std::pair<TRegion, int32_t>;  // a joined region and its join depth
  std::vector<TPending> FPending;
  int32_t FW = 0, FH = 0;
  // Kept per thread between frames (see Copy).
  static thread_local std::vector<uint8_t> FMask;  // one byte a pixel: 1 where the picture shows
  static thread_local std::vector<uint8_t> FRows;  // rows with any mark
  static thread_local std::vector<TRect> FSpans;   // a polygon's rows
};

thread_local std::vector<uint8_t> TClip::FMask;
thread_local std::vector<uint8_t> TClip::FRows;
thread_local std::vector<TRect> TClip::FSpans;

// The runtime's linear congruential generator.
struct TRandom {
  uint32_t Seed;
  int32_t Next(int32_t n) {
    Seed = Seed * 134775813u + 1;
    return n <= 0 ? 0 : static_cast<int32_t>((uint64_t(Seed) * uint32_t(n)) >> 32);
  }
};

// Curved reveals: round rectangles with huge corner ellipses, so the edge is an arc.
void Curved(int32_t Style, TBitmap* D, TBitmap* P, const TRect& R, uint16_t Step,
            uint8_t Progress) {
  const auto [W, H, w, h, extra] = EffectSizes(R, Step, Progress);
  (void)extra;
  TClip Rgn(D, P);
  switch (Style) {
    case 58: Rgn.Add(TRegion::RoundRect(-2 * W, -5, 2 * w, H + 5, 2 * W, 2 * W)); break;
    case 59: Rgn.Add(TRegion::RoundRect(W - 2 * w, -5, 3 * W, H + 5, 2 * W, 2 * W)); break;
    case 69: Rgn.Add(TRegion::RoundRect(-5, -2 * H, W + 5, 2 * h, 2 * H, 2 * H)); break;
    case 70: Rgn.Add(TRegion::RoundRect(-5, H - 2 * h, W + 5, 3 * H, 2 * H, 2 * H)); break;
    case 80: Rgn.Add(TRegion::RoundRect(-2 * W, -2 * H, 2 * w, 2 * h, 2 * W, 2 * H)); break;
    case 81: Rgn.Add(TRegion::RoundRect(W - 2 * w, -2 * H, 3 * W, 2 * h, 2 * W, 2 * H)); break;
    case 82: Rgn.Add(TRegion::RoundRect(-2 * W, H - 2 * h, 2 * w, 3 * H, 2 * W, 2 * H)); break;
    case 83: Rgn.Add(TRegion::RoundRect(W - 2 * w, H - 2 * h, 3 * W, 3 * H, 2 * W, 2 * H)); break;
    case 84:
      Rgn.Add(TRegion::RoundRect(W / 2 - w, H / 2 - h, W / 2 + w, H / 2 + h, 9 * w / 5, 9 * h / 5));
      break;
    case 85: {
      const int32_t a = W - w, b = H - h;
      TRegion Ring = TRegion::Rect(0, 0, W, H);
      if (a > 0 && b > 0)
        platform::CombineRgn(
            Ring, Ring,
            TRegion::RoundRect(W / 2 - a, H / 2 - b, W / 2 + a, H / 2 + b, 9 * a / 5, 9 * b / 5),
            platform::RGN_XOR);
      Rgn.Add(Ring);
      break;
    }
    default: break;
  }
  Rgn.Draw();
}

std::vector<TPoint> Triangle(TPoint A, TPoint B, TPoint C) { return {A, B, C}; }

void Diagonal(int32_t Style, TBitmap* D, TBitmap* P, const TRect& R, uint16_t Step,
              uint8_t Progress) {
  const auto [W, H, w, h, extra] = EffectSizes(R, Step, Progress);
  (void)extra;
  TClip Rgn(D, P);
  switch (Style) {
    case 110: Rgn.AddPolygon(Triangle({0, 0}, {2 * w, 0}, {0, 2 * h})); break;
    case 111: Rgn.AddPolygon(Triangle({W, 0}, {W - 2 * w, 0}, {W, 2 * h})); break;
    case 112: Rgn.AddPolygon(Triangle({0, H}, {2 * w, H}, {0, H - 2 * h})); break;
    case 113: Rgn.AddPolygon(Triangle({W, H}, {W - 2 * w, H}, {W, H - 2 * h})); break;
    default: break;
  }
  Rgn.Draw();
}

// The grid of the rectangular and triangular shreds: s = extra, halved when above 1, cells
// across each side. The pitch is rounded up so that the last grid point lies on or past the
// right and bottom edges; a truncated pitch left a band along them uncovered until 100, and at
// large steps (more cells than pixels) no grid at all. Points wholly past the edge are dropped:
// nothing they would draw lies inside the picture.
struct TShredGrid {
  int32_t PX = 0, NX = 0, PY = 0, NY = 0;
};

TShredGrid ShredGrid(int32_t W, int32_t H, int32_t Extra) {
  const int32_t ex = std::max(Extra, 1);
  const int32_t s = std::max(ex > 1 ? ex / 2 : ex, 1);
  TShredGrid G;
  G.PX = std::max((W + s - 1) / s, 1);
  G.PY = std::max((H + s - 1) / s, 1);
  G.NX = (W + G.PX - 1) / G.PX;
  G.NY = (H + G.PY - 1) / G.PY;
  return G;
}

void RandomSquares(TBitmap* D, TBitmap* P, const TRect& R, uint16_t Step, uint8_t Progress) {
  const auto [W, H, w, h, extra] = EffectSizes(R, Step, Progress);
  (void)w;
  (void)h;
  // The fixed seed replays the same sequence every frame, so squares only ever add up.
  TRandom Rnd{static_cast<uint32_t>(W) * static_cast<uint32_t>(H)};
  int32_t s = extra > 1 ? extra / 2 : extra;
  if (s < 1) s = 1;
  TClip Rgn(D, P);
  for (int32_t x = 0; x < W; x += s)
    for (int32_t y = 0; y < H; y += s)
      if (Progress > Rnd.Next(100)) Rgn.Add(Rc(x - s, y - s, x + s, y + s));
  Rgn.Draw();
}

void Blinds(int32_t Style, TBitmap* D, TBitmap* P, const TRect& R, uint16_t Step,
            uint8_t Progress) {
  const auto [W, H, w, h, extra] = EffectSizes(R, Step, Progress);
  const int32_t ex = std::max(extra, 1);
  TClip Rgn(D, P);
  switch (Style) {
    case 136: {
      // Rounded, not truncated: a slat one pixel short of its pitch at the end left a grid of
      // old lines that jumped away at 100.
      const int32_t Pitch = std::max(W / ex, 1), Slat = (Pitch * Progress + 50) / 100;
      if (Rgn.Fast()) {
        if (W > 0) Rgn.AddGrid({Rc(0, 0, Slat, H)}, Pitch, (W - 1) / Pitch, 0, 0);
        break;
      }
      for (int32_t x = 0; x < W; x += Pitch) Rgn.Add(Rc(x, 0, x + Slat, H));
      break;
    }
    case 137: {
      const int32_t Pitch = std::max(H / ex, 1), Slat = (Pitch * Progress + 50) / 100;
      for (int32_t y = 0; y < H; y += Pitch) Rgn.Add(Rc(0, y, W, y + Slat));
      break;
    }
    case 138:
    case 139: {
      if (w <= 0) break;
      const int32_t Slat = w * Progress / 100;
      for (int32_t x = 0; x < W; x += w)
        Rgn.Add(Style == 138 ? Rc(x, 0, x + Slat, H)
                                : Rc(W - x - Slat, 0, W - x, H));
      break;
    }
    case 140:
    case 141: {
      if (h <= 0) break;
      const int32_t Slat = h * Progress / 100;
      for (int32_t y = 0; y < H; y += h)
        Rgn.Add(Style == 140 ? Rc(0, y, W, y + Slat)
                                : Rc(0, H - y - Slat, W, H - y));
      break;
    }
    case 142: {
      if (W <= 0 || H <= 0) break;
      const TShredGrid G = ShredGrid(W, H, extra);
      // Half-sizes from the grid's own pitch, rounded up, so the rectangles meet at 100 (from
      // w div extra they stayed apart whenever extra was odd).
      const int32_t hx = (G.PX * Progress + 199) / 200, hy = (G.PY * Progress + 199) / 200;
      if (Rgn.Fast()) {
        Rgn.AddGrid({Rc(-hx, -hy, hx, hy)}, G.PX, G.NX, G.PY, G.NY);
        break;
      }
      for (int32_t i = 0; i <= G.NX; ++i)
        for (int32_t j = 0; j <= G.NY; ++j)
          Rgn.Add(Rc(i * G.PX - hx, j * G.PY - hy, i * G.PX + hx, j * G.PY + hy));
      break;
    }
    default: break;
  }
  Rgn.Draw();
}

// The centre followed by N points on a circle from angle A0 to A1.
std::vector<TPoint> FanPoints(TPoint C, double Radius, double A0, double A1, int32_t N) {
  std::vector<TPoint> Pts{C};
  for (int32_t i = 0; i < N; ++i) {
    const double a = A0 + (A1 - A0) * i / (N - 1);
    Pts.push_back({C.X + int32_t(platform::Round(Radius * std::cos(a))),
                   C.Y + int32_t(platform::Round(Radius * std::sin(a)))});
  }
  return Pts;
}

void Sweep(int32_t Style, TBitmap* D, TBitmap* P, const TRect& R, uint16_t Step,
           uint8_t Progress) {
  const TEffectSizes S = EffectSizes(R, Step, Progress);
  const TPoint C{S.W / 2, S.H / 2};
  const double Radius = std::ceil(std::hypot(double(S.W), double(S.H)) / 2) + 1;
  const double Turn = 2 * M_PI * Progress / 100 * (Style == 143 ? 1 : -1);
  TClip Rgn(D, P);
  Rgn.AddPolygon(FanPoints(C, Radius, -M_PI / 2, -M_PI / 2 + Turn, 2 + Progress));
  Rgn.Draw();
}

std::vector<TPoint> RotatePoints(std::vector<TPoint> Pts, TPoint C, double Angle) {
  const double c = std::cos(Angle), s = std::sin(Angle);
  for (TPoint& p : Pts) {
    const double dx = p.X - C.X, dy = p.Y - C.Y;
    p = TPoint{C.X + int32_t(platform::Round(dx * c - dy * s)),
               C.Y + int32_t(platform::Round(dx * s + dy * c))};
  }
  return Pts;
}

std::vector<TPoint> RotationalPoints(int32_t Style, const TRect& R, uint16_t Step,
                                     uint8_t Progress) {
  const auto [W, H, w, h, extra] = EffectSizes(R, Step, Progress);
  (void)extra;
  const TPoint C{W / 2, H / 2};
  // Half-sizes grow with w and h so that the shorter one reaches the half-diagonal at 100:
  // only then does the shape cover the picture at every angle, and the covered part grows
  // all the way instead of filling at 50 and losing corners as it turns on. On a long, thin
  // picture they reach far beyond it; the cap, still far beyond any picture, keeps the points
  // where the polygon scan is exact.
  const double k = std::min(W, H) > 0 ? std::hypot(double(W), double(H)) / std::min(W, H) : 0;
  constexpr double kMaxHalf = 1 << 27;
  const int32_t a = int32_t(std::min(std::ceil(w * k / 2), kMaxHalf));
  const int32_t b = int32_t(std::min(std::ceil(h * k / 2), kMaxHalf));
  std::vector<TPoint> Pts;
  if (Style == 149) {
    Pts = {{C.X - a, C.Y - b}, {C.X + a, C.Y - b}, {C.X + a, C.Y + b}, {C.X - a, C.Y + b}};
  } else {
    // Eight tips at twice the inner radius.
    for (int32_t i = 0; i < 16; ++i) {
      const double t = i * M_PI / 8, f = i % 2 == 0 ? 2.0 : 1.0;
      Pts.push_back({C.X + int32_t(platform::Round(f * a * std::cos(t))),
                     C.Y + int32_t(platform::Round(f * b * std::sin(t)))});
    }
  }
  return RotatePoints(Pts, C, Progress * M_PI / 50);
}

void Rotational(int32_t Style, TBitmap* D, TBitmap* P, const TRect& R, uint16_t Step,
                uint8_t Progress) {
  TClip Rgn(D, P);
  Rgn.AddPolygon(RotationalPoints(Style, R, Step, Progress));
  Rgn.Draw();
}

template <int Style, void (*F)(int32_t, TBitmap*, TBitmap*, const TRect&, uint16_t, uint8_t)>
void By(TBitmap* D, TBitmap* P, const TRect& R, uint16_t Step, uint8_t Progress) {
  F(Style, D, P, R, Step, Progress);
}

// Strips 5 pixels thick on a 10-pixel pitch. Horizontal strips reach XP pixels by HCode
// (1 from the right, 2 from the left, 3 alternating) and, once XP passes W, the gaps between
// them fill by XP - W: from the same side (1, 2), from the side opposite their strip (3), or
// from the far side as a bounce (4 like 2, 5 like 1). Vertical strips likewise by VCode from
// the bottom (1) or top (2). Code 0 draws none. At XP = 2W everything is covered.
void CrissCrossRegion(TClip& Rgn, int32_t XP, int32_t YP, int32_t W, int32_t VCode, int32_t HCode,
                         int32_t H) {
  // From the near (false) or far (true) end of a line of length L, reaching n.
  auto Span = [](bool FromEnd, int32_t n, int32_t L) {
    return FromEnd ? std::pair{L - n, L} : std::pair{0, n};
  };
  auto Lines = [&](int32_t Code, int32_t P, int32_t L, int32_t Across, bool Vert) {
    if (Code == 0) return;
    const int32_t n = std::min(P, L), back = std::min(std::max(P - L, 0), L);
    int32_t i = 0;
    for (int32_t a = 0; a < Across; a += 10, ++i) {
      bool StripEnd = false, GapEnd = false;  // true: from the right (bottom)
      switch (Code) {
        case 1: StripEnd = GapEnd = true; break;
        case 2: break;
        case 3: StripEnd = i % 2 == 1; GapEnd = !StripEnd; break;
        case 4: GapEnd = true; break;
        case 5: StripEnd = true; break;
        default: return;
      }
      for (int k = 0; k < 2; ++k) {
        const auto [b0, b1] = Span(k == 0 ? StripEnd : GapEnd, k == 0 ? n : back, L);
        if (b1 <= b0) continue;
        const int32_t c0 = a + 5 * k;
        Rgn.Add(Vert ? Rc(c0, b0, c0 + 5, b1) : Rc(b0, c0, b1, c0 + 5));
      }
    }
  };
  Lines(HCode, XP, W, H, false);
  Lines(VCode, YP, H, W, true);
}

// Every row runs its strips to the end by half-way and fills the gaps in the second half, so
// the picture is complete as Progress reaches 100.
void Bars(int32_t Style, TBitmap* D, TBitmap* P, const TRect& R, uint16_t Step,
          uint8_t Progress) {
  const auto [W, H, w, h, extra] = EffectSizes(R, Step, Progress);
  (void)extra;
  struct Row { int16_t Style, V, H; };
  static constexpr Row Rows[] = {
      {60, 0, 1}, {61, 0, 2}, {62, 0, 4}, {63, 0, 5}, {64, 0, 3}, {71, 1, 0}, {72, 2, 0},
      {73, 4, 0}, {74, 5, 0}, {75, 3, 0}, {86, 1, 1}, {87, 2, 1}, {88, 1, 2}, {89, 2, 2},
      {90, 4, 4}, {91, 5, 4}, {92, 4, 5}, {93, 5, 5}, {94, 3, 1}, {95, 3, 2}, {96, 1, 3},
      {97, 2, 3}, {98, 3, 3}};
  TClip Rgn(D, P);
  if (Style == 99) {
    // Two sides at once: strips meet at half the length, gaps at one and a half.
    const int32_t xp = MulDiv(w, 3, 2), yp = MulDiv(h, 3, 2);
    CrissCrossRegion(Rgn, xp, yp, W, 1, 1, H);
    CrissCrossRegion(Rgn, xp, yp, W, 2, 2, H);
  } else {
    for (const Row& Rw : Rows)
      if (Rw.Style == Style) CrissCrossRegion(Rgn, 2 * w, 2 * h, W, Rw.V, Rw.H, H);
  }
  Rgn.Draw();
}

// The runtime's global random state, shared by the shred and speckle effects.
uint32_t& RandSeed() {
  static uint32_t Seed = 0;
  return Seed;
}

int32_t Random(int32_t n) {
  TRandom R{RandSeed()};
  const int32_t v = R.Next(n);
  RandSeed() = R.Seed;
  return v;
}

// Bands every 5 pixels reaching w (h) with their own jitter while the edge is inside.
void ShredRegion(TClip& Rgn, int32_t w, int32_t h, int32_t W, int32_t VCode, int32_t HCode, int32_t H) {
  if (HCode) {
    const int32_t bh = 5 + H % 5;
    for (int32_t y = 0; y < H; y += 5) {
      int32_t x = w;
      if (w < W) x += Random(W / 7) - Random(W / 7);
      switch (HCode) {
        case 1: Rgn.Add(Rc(W - x, y, W, y + bh)); break;
        case 2: Rgn.Add(Rc(0, y, x, y + bh)); break;
        case 3: Rgn.Add(Rc((W - x) / 2, y, (W + x) / 2, y + bh)); break;
        case 4:
          Rgn.Add(Rc(0, y, x / 2 + 1, y + bh));
          Rgn.Add(Rc(W - x / 2 - 1, y, W, y + bh));
          break;
        default: break;
      }
    }
  }
  if (VCode) {
    const int32_t bw = 5 + W % 5;
    for (int32_t x = 0; x < W; x += 5) {
      int32_t y = h;
      if (h < H) y += Random(H / 7) - Random(H / 7);
      switch (VCode) {
        case 1: Rgn.Add(Rc(x, H - y, x + bw, H)); break;
        case 2: Rgn.Add(Rc(x, 0, x + bw, y)); break;
        case 3: Rgn.Add(Rc(x, (H - y) / 2, x + bw, (H + y) / 2)); break;
        case 4:
          Rgn.Add(Rc(x, 0, x + bw, y / 2 + 1));
          Rgn.Add(Rc(x, H - y / 2 - 1, x + bw, H));
          break;
        default: break;
      }
    }
  }
}

void Shred(int32_t Style, TBitmap* D, TBitmap* P, const TRect& R, uint16_t Step,
           uint8_t Progress) {
  const auto [W, H, w, h, extra] = EffectSizes(R, Step, Progress);
  (void)extra;
  int32_t V = 0, Hc = 0;
  if (Style >= 65 && Style <= 68) Hc = Style - 64;
  else if (Style >= 76 && Style <= 79) V = Style - 75;
  else {
    static constexpr int8_t Pairs[10][2] = {{1, 1}, {2, 1}, {1, 2}, {2, 2}, {3, 1},
                                            {3, 2}, {1, 3}, {2, 3}, {3, 3}, {4, 4}};
    V = Pairs[Style - 100][0];
    Hc = Pairs[Style - 100][1];
  }
  TClip Rgn(D, P);
  ShredRegion(Rgn, w, h, W, V, Hc, H);
  Rgn.Draw();
}

// Rows (columns) of the uncovered band plus speckles ahead of the edge that thin out.
void SpeckleRegion(TClip& Rgn, int32_t w, int32_t h, int32_t W, int32_t VCode, int32_t HCode,
                      int32_t H) {
  const int32_t Span = (HCode ? W : H) / 10;
  const int32_t b = std::max(2, Span / 20);
  const int32_t n = Span / b;
  auto Taken = [n](int32_t i) { return i <= n * 3 / 4 ? Random(i) <= 1 : Random(i) == 0; };
  if (HCode) {
    for (int32_t y = 0; y < H; y += b / 2) {
      if (HCode == 1) Rgn.Add(Rc(W - w, y, W, y + b));
      else Rgn.Add(Rc(0, y, w, y + b));
      for (int32_t i = 1; i <= n; ++i)
        if (Taken(i)) {
          const int32_t x = HCode == 1 ? W - w - i * b : w + (i - 1) * b;
          Rgn.Add(Rc(x, y, x + b, y + b));
        }
    }
  } else if (VCode) {
    for (int32_t x = 0; x < W; x += b / 2) {
      if (VCode == 1) Rgn.Add(Rc(x, H - h, x + b, H));
      else Rgn.Add(Rc(x, 0, x + b, h));
      for (int32_t i = 1; i <= n; ++i)
        if (Taken(i)) {
          const int32_t y = VCode == 1 ? H - h - i * b : h + (i - 1) * b;
          Rgn.Add(Rc(x, y, x + b, y + b));
        }
    }
  }
}

void Speckle(int32_t Style, TBitmap* D, TBitmap* P, const TRect& R, uint16_t Step,
             uint8_t Progress) {
  const auto [W, H, w, h, extra] = EffectSizes(R, Step, Progress);
  (void)extra;
  static constexpr int8_t Codes[4][2] = {{0, 1}, {0, 2}, {1, 0}, {2, 0}};
  TClip Rgn(D, P);
  SpeckleRegion(Rgn, w, h, W, Codes[Style - 123][0], Codes[Style - 123][1], H);
  Rgn.Draw();
}

// Unroll: the uncovered part in place and, beside it, a mirrored band like a rolled-up sheet.
void Unroll(int32_t Style, TBitmap* D, TBitmap* P, const TRect& R, uint16_t Step,
            uint8_t Progress) {
  const TEffectSizes S = EffectSizes(R, Step, Progress);
  const bool Vert = Style == 31 || Style == 32;
  const bool FromEnd = Style == 15 || Style == 32;  // from the right (bottom)
  const int32_t W = Vert ? S.H : S.W, H = Vert ? S.W : S.H, w = Vert ? S.h : S.w;
  auto F = [Vert](int32_t L, int32_t T, int32_t Rr, int32_t B) {
    return Vert ? Rc(T, L, B, Rr) : Rc(L, T, Rr, B);
  };
  auto M = [W, FromEnd](int32_t x) { return FromEnd ? W - x : x; };  // mirror along the axis
  auto Span = [&](int32_t a, int32_t b, int32_t T, int32_t B) {
    return F(std::min(M(a), M(b)), T, std::max(M(a), M(b)), B);
  };
  const TRect Done = Span(0, w, 0, H);
  Copy(D, P, Done, Done);
  const int32_t Band = std::min(W / 10, W - w);
  const int32_t Src0 = std::max(w - Band, 0);
  if (Band <= 0 || w <= Src0) return;
  // The source runs backwards along the axis, so the band is drawn mirrored.
  TRect Src = Span(Src0, w, 0, H);
  if (Vert) std::swap(Src.Top, Src.Bottom); else std::swap(Src.Left, Src.Right);
  D->Canvas()->CopyRect(Span(w, w + (w - Src0), 0, H), P->Canvas(), Src);
}

void Sweeps(int32_t Style, TBitmap* D, TBitmap* P, const TRect& R, uint16_t Step,
            uint8_t Progress) {
  const auto [W, H, w, h, extra] = EffectSizes(R, Step, Progress);
  (void)extra;
  TClip Rgn(D, P);
  if (Style == 114) {  // pivoting on the top left and bottom right corners
    Rgn.AddPolygon(Triangle({0, 0}, {0, H}, {2 * w, H}));
    Rgn.AddPolygon(Triangle({W, H}, {W, 0}, {W - 2 * w, 0}));
  } else if (Style == 115) {
    Rgn.AddPolygon(Triangle({0, 0}, {W, 0}, {W, 2 * h}));
    Rgn.AddPolygon(Triangle({W, H}, {0, H}, {0, H - 2 * h}));
  } else if (Style == 116) {  // eight rays widening clockwise
    const TPoint C{W / 2, H / 2};
    const double Radius = std::hypot(double(W), double(H)) + 2;
    for (int32_t k = 0; k < 8; ++k) {
      const double a = k * M_PI / 4;
      Rgn.AddPolygon(FanPoints(C, Radius, a, a + M_PI / 4 * Progress / 100, 2 + Progress / 10));
    }
  } else if (Style == 117 && W > 0 && H > 0) {  // triangles pointing to the top left on a grid
    const TShredGrid G = ShredGrid(W, H, extra);
    // Half-legs grow to the pitch, rounded up, so that at 99 each triangle covers the cell
    // above and left of its point and the cells close up.
    const int32_t a = (G.PX * Progress + 99) / 100, b = (G.PY * Progress + 99) / 100;
    if (Rgn.Fast()) {
      // Every triangle is the same shape moved by whole pixels: its pixels are found once.
      const std::vector<TRect> Shape =
          TRegion::Polygon(Triangle({-a, -b}, {a, -b}, {-a, b}), platform::WINDING).Rects();
      Rgn.AddGrid(Shape, G.PX, G.NX, G.PY, G.NY);
    } else {
      for (int32_t i = 0; i <= G.NX; ++i)
        for (int32_t j = 0; j <= G.NY; ++j) {
          const int32_t gx = i * G.PX, gy = j * G.PY;
          Rgn.AddPolygon(Triangle({gx - a, gy - b}, {gx + a, gy - b}, {gx - a, gy + b}));
        }
    }
  }
  Rgn.Draw();
}

// Bands whose thickness grows with Progress, joined with strips on a pitch of w (h).
void Rectangles(int32_t Style, TBitmap* D, TBitmap* P, const TRect& R, uint16_t Step,
                uint8_t Progress) {
  const auto [W, H, w, h, extra] = EffectSizes(R, Step, Progress);
  const int32_t ex = std::max(extra, 1);
  TClip Rgn(D, P);
  if (Style == 145 || Style == 146) {
    const int32_t Pitch = std::max(H / ex, 1), Thick = Pitch * Progress / 100;
    for (int32_t y = 0; y < H; y += Pitch) Rgn.Add(Rc(0, y, W, y + Thick));
    if (w > 0) {
      const int32_t Width = w * Progress / 100;
      for (int32_t x = 0; x < W; x += w)
        Rgn.Add(Style == 145 ? Rc(x, 0, x + Width, H)
                                : Rc(W - x - Width, 0, W - x, H));
    }
  } else {
    const int32_t Pitch = std::max(W / ex, 1), Thick = Pitch * Progress / 100;
    for (int32_t x = 0; x < W; x += Pitch) Rgn.Add(Rc(x, 0, x + Thick, H));
    if (h > 0) {
      const int32_t Height = h * Progress / 100;
      for (int32_t y = 0; y < H; y += h)
        Rgn.Add(Style == 147 ? Rc(0, y, W, y + Height)
                                : Rc(0, H - y - Height, W, H - y));
    }
  }
  Rgn.Draw();
}

const TEffect Table[EffectCount] = {
    {"Expand from right", AxisProc<1, false>},
    {"Expand from left", AxisProc<2, false>},
    {"Slide in from right", AxisProc<3, false>},
    {"Slide in from left", AxisProc<4, false>},
    {"Reveal from left", AxisProc<5, false>},
    {"Reveal from right", AxisProc<6, false>},
    {"Expand in from right", AxisProc<7, false>},
    {"Expand in from left", AxisProc<8, false>},
    {"Expand in to middle", AxisProc<9, false>},
    {"Expand out from middle", AxisProc<10, false>},
    {"Reveal out from middle", AxisProc<11, false>},
    {"Reveal in from sides", AxisProc<12, false>},
    {"Expand in from sides", AxisProc<13, false>},
    {"Unroll from left", By<14, Unroll>},
    {"Unroll from right", By<15, Unroll>},
    {"Build up from right", AxisProc<16, false>},
    {"Build up from left", AxisProc<17, false>},
    {"Expand from bottom", AxisProc<1, true>},
    {"Expand from top", AxisProc<2, true>},
    {"Slide in from bottom", AxisProc<3, true>},
    {"Slide in from top", AxisProc<4, true>},
    {"Reveal from top", AxisProc<5, true>},
    {"Reveal from bottom", AxisProc<6, true>},
    {"Expand in from bottom", AxisProc<7, true>},
    {"Expand in from top", AxisProc<8, true>},
    {"Expand in to middle (horiz)", AxisProc<9, true>},
    {"Expand out from middle (horiz)", AxisProc<10, true>},
    {"Reveal from middle (horiz)", AxisProc<11, true>},
    {"Slide in from top / bottom", AxisProc<12, true>},
    {"Expand in from top / bottom", AxisProc<13, true>},
    {"Unroll from top", By<31, Unroll>},
    {"Unroll from bottom", By<32, Unroll>},
    {"Expand from bottom", AxisProc<16, true>},
    {"Expand in from top", AxisProc<17, true>},
    {"Expand from bottom right", CornerProc<35>},
    {"Expand from top right", CornerProc<36>},
    {"Expand from top left", CornerProc<37>},
    {"Expand from bottom left", CornerProc<38>},
    {"Slide in from bottom right", CornerProc<39>},
    {"Slide in from top right", CornerProc<40>},
    {"Slide in from top left", CornerProc<41>},
    {"Slide in from bottom left", CornerProc<42>},
    {"Reveal from top left", CornerProc<43>},
    {"Reveal from bottom left", CornerProc<44>},
    {"Reveal from bottom right", CornerProc<45>},
    {"Reveal from top right", CornerProc<46>},
    {"Appear and Contract to top left", CornerProc<47>},
    {"Appear and Contract to bottom left", CornerProc<48>},
    {"Appear and Contract to bottom right", CornerProc<49>},
    {"Appear and Contract to top right", CornerProc<50>},
    {"Appear and Contract to middle", CornerProc<51>},
    {"Expand out from centre", CornerProc<52>},
    {"Reveal out from centre", CornerProc<53>},
    {"Reveal in to centre", CornerProc<54>},
    {"Quarters Reveal in to middle", CornerProc<55>},
    {"Quarters Expand to middle", CornerProc<56>},
    {"Quarters Slide in to middle", CornerProc<57>},
    {"Curved Reveal from left", By<58, Curved>},
    {"Curved Reveal from right", By<59, Curved>},
    {"Bars in from right", By<60, Bars>},
    {"Bars in from left", By<61, Bars>},
    {"Bars left then right", By<62, Bars>},
    {"Bars right then left", By<63, Bars>},
    {"Bars from both sides", By<64, Bars>},
    {"Uneven shred from right", By<65, Shred>},
    {"Uneven shred from left", By<66, Shred>},
    {"Uneven shred out from middle (horiz)", By<67, Shred>},
    {"Uneven shred in to middle (horiz)", By<68, Shred>},
    {"Curved Reveal from top", By<69, Curved>},
    {"Curved Reveal from bottom", By<70, Curved>},
    {"Bars from bottom", By<71, Bars>},
    {"Bars from top", By<72, Bars>},
    {"Bars top then bottom", By<73, Bars>},
    {"Bars bottom then top", By<74, Bars>},
    {"Bars from top and bottom", By<75, Bars>},
    {"Unven shred from bottom", By<76, Shred>},
    {"Uneven shred from top", By<77, Shred>},
    {"Uneven shred from horizon", By<78, Shred>},
    {"Uneven shred in to horizon", By<79, Shred>},
    {"Curved reveal from top left", By<80, Curved>},
    {"Curved reveal from top right", By<81, Curved>},
    {"Curved reveal from bottom left", By<82, Curved>},
    {"Curved reveal from bottom right", By<83, Curved>},
    {"Circular reveal from centre", By<84, Curved>},
    {"Circular reveal to centre", By<85, Curved>},
    {"Criss Cross reveal from bottom right", By<86, Bars>},
    {"Criss Cross reveal from top right", By<87, Bars>},
    {"Criss Cross reveal from bottom left", By<88, Bars>},
    {"Criss Cross reveal from top left", By<89, Bars>},
    {"Criss Cross reveal bounce from top left", By<90, Bars>},
    {"Criss Cross reveal bounce from bottom left", By<91, Bars>},
    {"Criss Cross reveal bounce from top right", By<92, Bars>},
    {"Criss Cross reveal bounce from bottom right", By<93, Bars>},
    {"Criss Cross reveal from right top and bottom", By<94, Bars>},
    {"Criss Cross reveal from left top and bottom", By<95, Bars>},
    {"Criss Cross reveal from left right and bottom", By<96, Bars>},
    {"Criss Cross reveal from left right and top", By<97, Bars>},
    {"Criss Cross reveal from top left right and bottom", By<98, Bars>},
    {"Criss Cross reveal from bottom left top right", By<99, Bars>},
    {"Uneven shred from bottom and right", By<100, Shred>},
    {"Uneven shred from top and right", By<101, Shred>},
    {"Uneven shred from bottom and left", By<102, Shred>},
    {"Uneven shred from top and left", By<103, Shred>},
    {"Uneven shred from horiz and right", By<104, Shred>},
    {"Uneven shred from horiz and left", By<105, Shred>},
    {"Uneven shred from bottom and vert middle", By<106, Shred>},
    {"Uneven shred from top and vert middle", By<107, Shred>},
    {"Uneven shred from centre", By<108, Shred>},
    {"Uneven shred to centre", By<109, Shred>},
    {"Reveal diagonal from top left", By<110, Diagonal>},
    {"Reveal diagonal from top right", By<111, Diagonal>},
    {"Reveal diagonal from bottom left", By<112, Diagonal>},
    {"Reveal diagonal from bottom right", By<113, Diagonal>},
    {"Diagonal sweep from top left bottom right anticlockwise", By<114, Sweeps>},
    {"Diagonal sweep from top left bottom right clockwise", By<115, Sweeps>},
    {"Starburst clockwise from center", By<116, Sweeps>},
    {"Triangular shred to top left", By<117, Sweeps>},
    {"Fade", Fade},
    {"Pivot from top left", PivotProc<119>},
    {"Pivot from bottom left", PivotProc<120>},
    {"Pivot from top right", PivotProc<121>},
    {"Pivot from bottom right", PivotProc<122>},
    {"Speckle appear from right", By<123, Speckle>},
    {"Speckle appear from left", By<124, Speckle>},
    {"Speckle appear from bottom", By<125, Speckle>},
    {"Speckle appear from top", By<126, Speckle>},
    {"Random squares appear", RandomSquares},
    {"Push right", PushProc<128>},
    {"Push left", PushProc<129>},
    {"Push and squeeze right", PushProc<130>},
    {"Push and squeeze left", PushProc<131>},
    {"Push down", PushProc<132>},
    {"Push up", PushProc<133>},
    {"Push and sqeeze down", PushProc<134>},
    {"Push and sqeeze up", PushProc<135>},
    {"Blind vertically", By<136, Blinds>},
    {"Blind horizontally", By<137, Blinds>},
    {"Uneven blind from left", By<138, Blinds>},
    {"Uneven blind from right", By<139, Blinds>},
    {"Uneven blind from top", By<140, Blinds>},
    {"Uneven blind from bottom", By<141, Blinds>},
    {"Rectangular shred", By<142, Blinds>},
    {"Sweep clockwise", By<143, Sweep>},
    {"Sweep anticlockwise", By<144, Sweep>},
    {"Rectangles apear from left and disapear to right", By<145, Rectangles>},
    {"Rectangles apear from right and disapear to left", By<146, Rectangles>},
    {"Rectangles apear from up and disapear to bottom", By<147, Rectangles>},
    {"Rectangles apear from bottom and disapear to up", By<148, Rectangles>},
    {"Rotational rectangle", By<149, Rotational>},
    {"Rotational star", By<150, Rotational>},
};

}  // namespace

void SetEffectRandSeed(uint32_t Seed) { RandSeed() = Seed; }

std::vector<TPoint> RotationalPolygon(int32_t Style, const TRect& R, uint16_t Step,
                                      uint8_t Progress) {
  return RotationalPoints(Style, R, Step, Progress);
}

const TEffect& Effects(int32_t Index) {
  if (Index < 0 || Index >= EffectCount)
    throw platform::EInvalidArgument("Effect index out of range: " + std::to_string(Index));
  return Table[Index];
}

}  // namespace media

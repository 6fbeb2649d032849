#include "raster/Raster32Polygons.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "raster/Raster32LowLevel.h"

namespace raster {

namespace {

constexpr uint32_t kUp = 0x80000000u;  // crossing of an edge going toward smaller Y
constexpr uint32_t kXMask = 0x7FFFFFFFu;

struct GridPoint {
  int32_t X, Y;
};
using Contour = std::vector<GridPoint>;

// Produces the crossings of each sub-scanline (or pixel row) from Top to Top + Rows - 1 in
// turn, sorted by X, from a list of active edges.
//
// Each edge covers the rows from its upper end up to, but not including, its lower end,
// whichever way it runs. This half-open rule makes every row cross a closed contour an even
// number of times, so a unit square at integer positions covers its pixel fully (56 of 56).
// X steps along an edge one row at a time: the error starts at (dx mod dy) / 2 and x moves
// whenever it exceeds dy (single steps twice, then in one jump).
class ScanConverter {
 public:
  ScanConverter(int32_t Top, int32_t Rows, int32_t MaxX, int32_t XScale)
      : FTop(Top), FBottom(Top + Rows), FMaxX(MaxX), FXScale(XScale), FY(Top) {}

  void Build(const std::vector<Contour>& Contours) {
    size_t total = 0;
    for (const Contour& c : Contours) total += c.size();
    FEdges.reserve(total);
    for (const Contour& c : Contours) {
      const size_t n = c.size();
      if (n < 3) continue;
      for (size_t i = 0; i < n; ++i) {
        const GridPoint& p = c[i == 0 ? n - 1 : i - 1];
        const GridPoint& q = c[i];
        if (p.Y == q.Y) continue;
        const bool up = q.Y < p.Y;
        AddEdge(up ? q : p, up ? p : q, up);
      }
    }
    // By upper end: sorted as (row, index) pairs, then gathered, rather than moving whole edges.
    std::vector<uint64_t> order(FEdges.size());
    for (size_t i = 0; i < FEdges.size(); ++i)
      order[i] = (static_cast<uint64_t>(static_cast<uint32_t>(FEdges[i].yTop - FTop)) << 32) | i;
    std::sort(order.begin(), order.end());
    std::vector<Edge> sorted(FEdges.size());
    for (size_t i = 0; i < order.size(); ++i) sorted[i] = FEdges[static_cast<uint32_t>(order[i])];
    FEdges.swap(sorted);
  }

  // The next row's crossings; valid until the next call.
  void Next(const uint32_t*& Begin, const uint32_t*& End) {
    Next([this](size_t i, size_t n, uint32_t value) {
      if (i == 0 && FRow.size() < n) FRow.resize(n);
      FRow[i] = value;
    });
    Begin = FRow.data();
    End = FRow.data() + FCount;
  }

  // The next row's crossings handed to Sink(index, count, crossing) in order of X.
  template <class Sink>
  inline void Next(Sink&& sink) {
    const int32_t y = FY++;
    // Each edge carries its sort key for the current row (X, then down before up), and
    // FSorted tells whether they are in order; when not, an insertion sort restores it: the
    // order changes little from row to row. Equal keys are equal crossings, so the output does
    // not depend on how ties end up.
    for (; FNext < FEdges.size() && FEdges[FNext].yTop == y; ++FNext) {
      Edge e = FEdges[FNext];
      e.key = Key(e);
      if (FCountActive > 0 && FActive[FCountActive - 1].key > e.key) FSorted = false;
      Activate(e);
    }
    const size_t n = FCountActive;
    FCount = n;
    Edge* a = FActive.data();
    if (!FSorted) {
      for (size_t i = 1; i < n; ++i) {
        if (a[i - 1].key <= a[i].key) continue;
        Edge e = a[i];
        size_t j = i;
        for (; j > 0 && a[j - 1].key > e.key; --j) a[j] = a[j - 1];
        a[j] = e;
      }
    }
    size_t keep = 0;
    uint64_t prev = 0;
    bool sorted = true;
    for (size_t i = 0; i < n; ++i) {
      Edge& e = a[i];
      sink(i, n, static_cast<uint32_t>(e.key >> 1) | static_cast<uint32_t>(e.key << 31));
      if (y + 1 < e.yEnd) {
        Step(e);
        e.key = Key(e);
        sorted &= prev <= e.key;
        prev = e.key;
        if (keep != i) a[keep] = e;
        ++keep;
      }
    }
    FSorted = sorted;
    FCountActive = keep;
  }

  // No crossing: the edge does not reach that sub-scanline.
  static constexpr uint64_t kNone = UINT64_MAX;

  // Walks the edges through the next Count (1 to 8) rows at once. Keys[i * 8 + s] is the key
  // of edge i on row s (X shifted up one bit, the low bit set for an edge going up), kNone
  // where the edge does not reach that row; returns the number of edges. The edges come in
  // the order of their keys on the first row, the ones starting further down after them.
  // Steady tells whether every edge crosses every row and their order holds on all of them.
  size_t WalkRows(int32_t Count, std::vector<uint64_t>& Keys, bool& Steady) {
    const int32_t y0 = FY, y1 = FY + Count;
    FY = y1;
    for (; FNext < FEdges.size() && FEdges[FNext].yTop < y1; ++FNext) Activate(FEdges[FNext]);
    const size_t n = FCountActive;
    if (Keys.size() < n * 8) Keys.resize(n * 8);
    uint64_t* k = Keys.data();
    bool steady = true;
    for (size_t i = 0; i < n; ++i, k += 8) {
      Edge& e = FActive[i];
      const int32_t from = std::max(e.yTop, y0) - y0, to = std::min(e.yEnd, y1) - y0;
      if (from == 0 && to == Count && steady) {
        // The common case: the whole block, checked against the edge before.
        static constexpr uint64_t kZero[8] = {};
        const uint64_t* before = i > 0 ? k - 8 : kZero;
        const int32_t last = e.yEnd - y0 - 1;  // no step after the edge's last row
        for (int32_t s = 0; s < Count; ++s) {
          const uint64_t key = Key(e);
          k[s] = key;
          steady &= before[s] <= key;
          if (s != last) Step(e);
        }
        continue;
      }
      steady = false;
      int32_t s = 0;
      for (; s < from; ++s) k[s] = kNone;
      for (; s < to; ++s) {
        k[s] = Key(e);
        if (y0 + s + 1 < e.yEnd) Step(e);
      }
      for (; s < Count; ++s) k[s] = kNone;
    }
    Steady = steady;
    // Drop the edges that ended; order the others by their keys on the next row.
    size_t keep = 0;
    for (size_t i = 0; i < n; ++i) {
      if (FActive[i].yEnd <= y1) continue;
      if (keep != i) FActive[keep] = FActive[i];
      FActive[keep].key = Key(FActive[keep]);
      ++keep;
    }
    FCountActive = keep;
    Edge* a = FActive.data();
    for (size_t i = 1; i < keep; ++i) {
      if (a[i - 1].key <= a[i].key) continue;
      Edge e = a[i];
      size_t j = i;
      for (; j > 0 && a[j - 1].key > e.key; --j) a[j] = a[j - 1];
      a[j] = e;
    }
    return n;
  }

 private:
  struct Edge {
    int64_t x, err, dx, dy, sx;
    uint64_t key;
    int32_t yTop, yEnd;
    uint32_t up;  // 1 for an edge going toward smaller Y
  };

  void Activate(const Edge& e) {
    if (FCountActive == FActive.size())
      FActive.push_back(e);
    else
      FActive[FCountActive] = e;
    ++FCountActive;
  }

  uint64_t Key(const Edge& e) const {
    const uint64_t cx = static_cast<uint64_t>(e.x < 0 ? 0 : (e.x > FMaxX ? FMaxX : e.x));
    return (cx << 1) | e.up;
  }

  static void Step(Edge& e) {
    // The first move without a branch: on slopes it comes at irregular rows.
    e.err += e.dx;
    const bool move = e.err > e.dy;
    e.x += move ? e.sx : 0;
    e.err -= move ? e.dy : 0;
    if (move) {
      if (e.err > e.dy) {
        e.x += e.sx;
        e.err -= e.dy;
        if (e.err > e.dy) {
          int64_t k = (e.err + e.dy - 1) / e.dy;
          e.x += e.sx * k;
          e.err -= e.dy * k;
        }
      }
    }
  }

  // N steps at once, for the rows above the first one. The error stays in [0, dy] when
  // dx <= dy (x moves once whenever it passes dy) and in (-dy, 0] when dx >= 4 dy (x always
  // jumps), so those walks have a closed form; slopes in between are walked.
  static void Skip(Edge& e, int64_t n) {
    if (e.dx <= e.dy) {
      const int64_t total = e.err + n * e.dx;
      const int64_t moves = total >= 1 ? (total - 1) / e.dy : 0;
      e.x += e.sx * moves;
      e.err = total - moves * e.dy;
    } else if (e.dx >= 4 * e.dy) {
      const int64_t total = e.err + n * e.dx;
      const int64_t moves = (total + e.dy - 1) / e.dy;
      e.x += e.sx * moves;
      e.err = total - moves * e.dy;
    } else {
      for (; n > 0; --n) Step(e);
    }
  }

  void AddEdge(const GridPoint& a, const GridPoint& b, bool up) {
    if (b.Y <= FTop || a.Y >= FBottom) return;
    Edge e{};
    const int64_t X1 = int64_t{a.X} * FXScale, X2 = int64_t{b.X} * FXScale;
    e.dy = int64_t{b.Y} - a.Y;
    e.dx = X2 > X1 ? X2 - X1 : X1 - X2;
    e.sx = X2 > X1 ? 1 : (X2 < X1 ? -1 : 0);
    e.err = (e.dx % e.dy) >> 1;
    e.x = X1;
    e.up = up ? 1 : 0;
    e.yTop = a.Y;
    e.yEnd = std::min(b.Y, FBottom);
    if (e.yTop < FTop) {
      Skip(e, int64_t{FTop} - e.yTop);
      e.yTop = FTop;
    }
    FEdges.push_back(e);
  }

  int32_t FTop, FBottom, FMaxX, FXScale, FY;
  size_t FCount = 0;
  bool FSorted = true;
  std::vector<Edge> FEdges;
  size_t FNext = 0;
  std::vector<Edge> FActive;  // the first FCountActive in use
  size_t FCountActive = 0;
  std::vector<uint32_t> FRow;
};

std::vector<Contour> ToGrid(const TArrayOfArrayOfFixedPoint& Points, int32_t Bias, int Shift) {
  std::vector<Contour> out;
  out.reserve(Points.size());
  for (const TArrayOfFixedPoint& pts : Points) {
    Contour c;
    if (pts.size() >= 3) {
      c.reserve(pts.size());
      for (const TFixedPoint& p : pts)
        c.push_back({static_cast<int32_t>((int64_t{p.X} + Bias) >> Shift),
                     static_cast<int32_t>((int64_t{p.Y} + Bias) >> Shift)});
    }
    out.push_back(std::move(c));
  }
  return out;
}

// Rows [top, bottom) touched by the contours, clamped to [0, limit); false when none.
bool RowRange(const std::vector<Contour>& Contours, int32_t Limit, int32_t& Top, int32_t& Bottom) {
  int32_t lo = INT32_MAX, hi = INT32_MIN;
  for (const Contour& c : Contours)
    for (const GridPoint& p : c) {
      lo = std::min(lo, p.Y);
      hi = std::max(hi, p.Y);
    }
  if (lo > hi) return false;
  Top = std::clamp(lo, 0, Limit);
  Bottom = std::clamp(hi, 0, Limit);
  return Top < Bottom;
}

// Fills n pixels with v; wide stores for the interior runs of fills.
inline void FillPixels(TColor32* p, int32_t n, TColor32 v) {
  // Long runs through the library fill (string stores, no reads of the lines it overwrites).
  if (n >= 64) {
    FillLongword(p, n, v);
    return;
  }
#if defined(__SSE2__)
  const __m128i w = _mm_set1_epi32(static_cast<int>(v));
  for (; n >= 8; n -= 8, p += 8) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), w);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 4), w);
  }
#endif
  for (; n > 0; --n) *p++ = v;
}

// MulDiv with a 64-bit divisor: the same result whenever C fits 32 bits; otherwise the
// quotient rounded half away from zero (it is then small).
inline int32_t MulDiv64(int32_t A, int32_t B, int64_t C) {
  if (C >= INT32_MIN && C <= INT32_MAX) return MulDiv(A, B, static_cast<int32_t>(C));
  const __int128 p = static_cast<__int128>(A) * B;
  const __int128 c = C;
  __int128 q = p / c, rem = p % c;
  if (rem < 0) rem = -rem;
  if (2 * rem >= (c < 0 ? -c : c)) q += ((p < 0) != (c < 0)) ? -1 : 1;
  return static_cast<int32_t>(q);
}

// Grid sizes of very wide or tall bitmaps, limited to the 31 bits a crossing holds (points
// of 16.16 coordinates never reach that far).
inline int32_t Limit31(int64_t v) { return static_cast<int32_t>(std::min<int64_t>(v, INT32_MAX)); }

// 24.8 X to a pixel, halves rounding up.
inline int32_t RoundX(uint32_t X) { return static_cast<int32_t>((X >> 8) + ((X & 255) >= 128 ? 1 : 0)); }

}  // namespace

// ---------------------------------------------------------------------------------------------

TPolygon32::TPolygon32() { FPoints.emplace_back(); }

void TPolygon32::SetPoints(const TArrayOfArrayOfFixedPoint& Value) {
  FPoints = Value;
  FNormals.clear();
}

const TArrayOfArrayOfFixedPoint& TPolygon32::Normals() {
  if (FNormals.empty()) BuildNormals();
  return FNormals;
}

void TPolygon32::Add(const TFixedPoint& P) {
  if (FPoints.empty()) FPoints.emplace_back();
  FPoints.back().push_back(P);
  FNormals.clear();
}

void TPolygon32::AddPoints(const TFixedPoint* First, int32_t Count) {
  if (Count <= 0) return;
  if (FPoints.empty()) FPoints.emplace_back();
  FPoints.back().insert(FPoints.back().end(), First, First + Count);
  FNormals.clear();
}

void TPolygon32::NewLine() {
  FPoints.emplace_back();
  FNormals.clear();
}

void TPolygon32::Clear() {
  FPoints.clear();
  FNormals.clear();
  NewLine();
}

void TPolygon32::BuildNormals() {
  FNormals.clear();
  FNormals.resize(FPoints.size());
  for (size_t c = 0; c < FPoints.size(); ++c) {
    const TArrayOfFixedPoint& pts = FPoints[c];
    TArrayOfFixedPoint& nrm = FNormals[c];
    const size_t n = pts.size();
    if (n == 0) continue;
    if (n == 1) {
      nrm.push_back({0, 0});
      continue;
    }
    nrm.resize(n);
    for (size_t i = 0; i < n; ++i) {
      size_t a = i, b = i + 1;
      if (i == n - 1) {
        if (FClosed) {
          b = 0;
        } else {
          a = n - 2;
          b = n - 1;
        }
      }
      float dx = static_cast<float>(int64_t{pts[b].X} - pts[a].X) / 65536.0f;
      float dy = static_cast<float>(int64_t{pts[b].Y} - pts[a].Y) / 65536.0f;
      if (dx != 0 || dy != 0) {
        float f = static_cast<float>(1.0 / std::hypot(static_cast<double>(dx), static_cast<double>(dy)));
        dx *= f;
        dy *= f;
      }
      nrm[i] = {Fixed(dy), Fixed(-dx)};
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Polylines

void TPolygon32::DrawEdge(TBitmap32* Bitmap, TColor32 Color) {
  Bitmap->BeginUpdate();
  Bitmap->SetPenColor(Color);
  for (const TArrayOfFixedPoint& pts : FPoints) {
    const size_t n = pts.size();
    if (!FAntialiased) {
      if (n == 1 && FClosed) Bitmap->SetPixelTS(FixedRound(pts[0].X), FixedRound(pts[0].Y), Color);
      if (n < 2) continue;
      Bitmap->MoveTo(FixedRound(pts[0].X), FixedRound(pts[0].Y));
      for (size_t i = 1; i < n; ++i) {
        if (AlphaComponent(Color) == 255)
          Bitmap->LineToS(FixedRound(pts[i].X), FixedRound(pts[i].Y));
        else
          Bitmap->LineToTS(FixedRound(pts[i].X), FixedRound(pts[i].Y));
      }
      if (FClosed) Bitmap->LineToTS(FixedRound(pts[0].X), FixedRound(pts[0].Y));
    } else {
      if (n == 1 && FClosed) {
        Bitmap->SetPixelX(pts[0].X, pts[0].Y, Color);
        continue;
      }
      if (n == 0) continue;
      Bitmap->MoveToX(pts[0].X, pts[0].Y);
      if (n < 2) continue;
      for (size_t i = 1; i < n; ++i) Bitmap->LineToXS(pts[i].X, pts[i].Y);
      if (FClosed) Bitmap->LineToXS(pts[0].X, pts[0].Y);
    }
  }
  Bitmap->EndUpdate();
  Bitmap->Changed();
}

// ---------------------------------------------------------------------------------------------
// Fills

void TPolygon32::DrawFill(TBitmap32* Bitmap, TColor32 Color) {
  Bitmap->BeginUpdate();
  if (!Bitmap->Empty()) {
    if (FAntialiased)
      DrawFillAntialiased(Bitmap, Color);
    else
      DrawFillAliased(Bitmap, Color);
  }
  Bitmap->EndUpdate();
  Bitmap->Changed();
}

void TPolygon32::DrawFillAliased(TBitmap32* Bitmap, TColor32 Color) {
  const int32_t W = Bitmap->Width(), H = Bitmap->Height();
  std::vector<Contour> contours = ToGrid(FPoints, 0x7FFF, 16);
  // Crossings are kept one pixel wider on the left than the bitmap: those further left all
  // land on pixel -1, outside, instead of on pixel 0, so the bitmap's edge cuts a fill without
  // changing the pixels it keeps.
  for (Contour& c : contours)
    for (GridPoint& p : c) ++p.X;
  int32_t top, bottom;
  if (!RowRange(contours, H, top, bottom)) return;
  ScanConverter scan(top, bottom - top, Limit31((int64_t{W} + 1) * 256 - 1), 256);
  scan.Build(contours);
  auto PixelOf = [](uint32_t X) { return RoundX(X) - 1; };

  const bool opaque = AlphaComponent(Color) == 255;
  auto span = [&](int32_t y, int32_t x1, int32_t x2) {
    x1 = std::max(x1, 0);
    x2 = std::min(x2, W - 1);
    if (x2 < x1) return;
    if (opaque)
      Bitmap->HorzLine(x1, y, x2, Color);
    else
      Bitmap->HorzLineT(x1, y, x2, Color);
  };

  for (int32_t y = top; y < bottom; ++y) {
    const uint32_t *c, *e;
    scan.Next(c, e);
    if (c == e) continue;
    if (FFillMode == pfWinding) {
      int32_t sum = (*c & kUp) ? 1 : -1;
      uint32_t prev = *c & kXMask;
      // Neighbouring spans share the pixel of the crossing between them; it is filled once, so
      // a translucent fill shows no inner edges.
      int32_t lastRight = INT32_MIN;
      for (const uint32_t* p = c + 1; p < e; ++p) {
        uint32_t x = *p & kXMask;
        if (sum != 0) {
          int32_t x1 = PixelOf(prev), x2 = std::min(PixelOf(x), W - 1);
          if (lastRight != INT32_MIN) x1 = std::max(x1, lastRight + 1);
          if (x1 <= x2) {
            span(y, x1, x2);
            lastRight = x2;
          }
        }
        sum += (*p & kUp) ? 1 : -1;
        prev = x;
      }
    } else {
      int32_t lastRight = INT32_MIN;
      for (const uint32_t* p = c; p + 1 < e; p += 2) {
        uint32_t a = p[0] & kXMask, b = p[1] & kXMask;
        if (int64_t{a} < int64_t{b} - 1) {
          int32_t x1 = PixelOf(a), x2 = PixelOf(b - 1);
          if (lastRight != INT32_MIN) x1 = std::max(x1, lastRight + 1);
          x2 = std::min(x2, W - 1);
          if (x1 <= x2) {
            span(y, x1, x2);
            lastRight = x2;
          }
        }
      }
    }
  }
  EMMS();
}

void TPolygon32::DrawFillAntialiased(TBitmap32* Bitmap, TColor32 Color) {
  const int32_t W = Bitmap->Width(), H = Bitmap->Height();
  // 1/8-pixel units; the bias is 2047, not 2048.
  std::vector<Contour> contours = ToGrid(FPoints, 2047, 13);
  int32_t top, bottom;
  if (!RowRange(contours, Limit31(int64_t{H} * 8), top, bottom)) return;
  ScanConverter scan(top, bottom - top, Limit31(int64_t{W} * 8 - 1), 1);
  scan.Build(contours);

  const TColor32 rgb = Color & 0x00FFFFFF;
  const TColor32 master = AlphaComponent(Color);
  const TColor32 solid = rgb | 0xFF000000u;

  // A crossing at x (in eighths) entering a span on a sub-scanline covers 7 - x mod 8 of its
  // own pixel and 7 of every pixel after it; leaving takes the same amounts away. So the
  // coverage of pixel p is 7 times the signed count of crossings in pixels before p, plus the
  // partial amounts of the crossings in p itself. Each touched cell keeps both sums in one
  // 64-bit word (the count in the upper half), and a bit per cell marks it, with a bit per
  // 64 cells above that; the row is then read from mark to mark: the runs in between share
  // one coverage, and interior runs are filled without visiting their cells. Cells and marks
  // are zeroed again as they are read.
  const size_t nWords = (static_cast<size_t>(W) + 63) / 64;
  std::vector<int64_t> cells(static_cast<size_t>(W), 0);
  std::vector<uint64_t> marks(nWords, 0);
  std::vector<uint64_t> summary((nWords + 63) / 64, 0);
  int64_t* const cell = cells.data();
  uint64_t* const mark = marks.data();
  uint64_t* const sum = summary.data();
  const size_t nSum = summary.size();
  // The cell and its mark; push also sets the summary bit.
  auto mark1 = [cell, mark](uint32_t x, int64_t sign) {
    const uint32_t c = x >> 3;
    cell[c] += sign * (int64_t{7 - static_cast<int32_t>(x & 7)} + (int64_t{1} << 32));
    mark[c >> 6] |= uint64_t{1} << (c & 63);
  };
  auto push = [mark1, sum](uint32_t x, int64_t sign) {
    mark1(x, sign);
    sum[x >> 15] |= uint64_t{1} << ((x >> 9) & 63);
  };
  auto alphaOf = [](int32_t c) { return static_cast<TColor32>(((c * 1167) & 0xFF00) >> 8); };
  // One pixel at coverage c: the cells with crossings.
  auto pixel = [&](TColor32* p, int32_t c) {
    if (c == 0) return;
    *p = (c == 56 && master == 255) ? solid : MergePixel(rgb | (alphaOf(c) << 24), *p, master);
  };
  // Writes pixels [x0, x1) of the row at coverage c.
  auto run = [&](TColor32* row, int32_t x0, int32_t x1, int32_t c) {
    if (c == 0 || x0 >= x1) return;  // alpha 0 leaves pixels as they are
    if (c == 56 && master == 255) {
      // Fully covered and opaque: the merge gives the fill colour itself.
      FillPixels(row + x0, x1 - x0, solid);
      return;
    }
    const TColor32 f = rgb | (alphaOf(c) << 24);
    // Along a run the foreground is fixed, so equal backgrounds merge to equal results.
    TColor32 lastB = row[x0], lastR = MergePixel(f, lastB, master);
    int32_t px = x0;
#if defined(__SSE2__)
    // Four pixels at a time while they all equal the last background.
    for (; px + 4 <= x1; px += 4) {
      __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + px));
      if (_mm_movemask_epi8(_mm_cmpeq_epi32(v, _mm_set1_epi32(static_cast<int>(lastB)))) == 0xFFFF) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(row + px), _mm_set1_epi32(static_cast<int>(lastR)));
        continue;
      }
      for (int32_t k = px; k < px + 4; ++k) {
        TColor32 bp = row[k];
        if (bp != lastB) {
          lastB = bp;
          lastR = MergePixel(f, bp, master);
        }
        row[k] = lastR;
      }
    }
#endif
    for (; px < x1; ++px) {
      TColor32 bp = row[px];
      if (bp != lastB) {
        lastB = bp;
        lastR = MergePixel(f, bp, master);
      }
      row[px] = lastR;
    }
  };

  std::vector<uint64_t> keys, column;
  for (int32_t py = top >> 3; py <= (bottom - 1) >> 3; ++py) {
    const int32_t s0 = std::max(py * 8, top) - top;
    const int32_t s1 = std::min(py * 8 + 8, bottom) - top;
    const int32_t rows = s1 - s0;
    bool steady;
    const size_t n = scan.WalkRows(rows, keys, steady);
    const uint64_t* k = keys.data();
    if (column.size() < n) column.resize(n);
    // When every edge crosses every sub-scanline and their order stays the same, each edge
    // enters or leaves on all of them alike; otherwise each sub-scanline is sorted on its own.
    if (steady) {
      int32_t winding = 0;
      for (size_t i = 0; i < n; ++i) {
        const uint64_t* ki = k + i * 8;
        int64_t sign;
        if (FFillMode == pfWinding) {
          const int32_t before = winding;
          winding += (ki[0] & 1) ? 1 : -1;
          sign = before == 0 ? 1 : (winding == 0 ? -1 : 0);
        } else {
          // An odd crossing left over at the end is no edge of a span.
          sign = (i & 1) ? -1 : (i + 1 < n ? 1 : 0);
        }
        if (sign == 0) continue;
        // X runs one way along an edge: the summary bits of the words from the first
        // crossing's to the last one's cover all its marks.
        for (int32_t r = 0; r < rows; ++r) mark1(static_cast<uint32_t>(ki[r] >> 1), sign);
        uint32_t w0 = static_cast<uint32_t>(ki[0] >> 10), w1 = static_cast<uint32_t>(ki[rows - 1] >> 10);
        if (w0 > w1) std::swap(w0, w1);
        for (uint32_t w = w0; w <= w1; ++w) sum[w >> 6] |= uint64_t{1} << (w & 63);
      }
    } else {
      for (int32_t r = 0; r < rows; ++r) {
        size_t m = 0;
        for (size_t i = 0; i < n; ++i)
          if (k[i * 8 + r] != ScanConverter::kNone) column[m++] = k[i * 8 + r];
        for (size_t i = 1; i < m; ++i) {
          const uint64_t v = column[i];
          size_t j = i;
          for (; j > 0 && column[j - 1] > v; --j) column[j] = column[j - 1];
          column[j] = v;
        }
        if (FFillMode == pfWinding) {
          int32_t winding = 0;
          for (size_t i = 0; i < m; ++i) {
            const uint32_t x = static_cast<uint32_t>(column[i] >> 1);
            if (winding == 0) push(x, 1);
            winding += (column[i] & 1) ? 1 : -1;
            if (winding == 0) push(x, -1);
          }
        } else {
          for (size_t i = 0; i + 1 < m; i += 2) {
            push(static_cast<uint32_t>(column[i] >> 1), 1);
            push(static_cast<uint32_t>(column[i + 1] >> 1), -1);
          }
        }
      }
    }
    // The first and last summary words with marks; none for a row without crossings.
    size_t loSum = 0, hiSum = nSum;
    while (loSum < nSum && sum[loSum] == 0) ++loSum;
    if (loSum == nSum) continue;
    while (sum[hiSum - 1] == 0) --hiSum;

    TColor32* row = Bitmap->ScanLine(py);
    // The edges of the next rows lie near this row's: their pixels are read for the merge, and
    // on a page larger than the caches each such read would otherwise wait for memory.
    {
      const size_t loWord = loSum * 64 + static_cast<size_t>(std::countr_zero(sum[loSum]));
      const size_t hiWord = (hiSum - 1) * 64 + 63 - static_cast<size_t>(std::countl_zero(sum[hiSum - 1]));
      const size_t loCell = loWord * 64 + static_cast<size_t>(std::countr_zero(mark[loWord]));
      const size_t hiCell = hiWord * 64 + 63 - static_cast<size_t>(std::countl_zero(mark[hiWord]));
      for (int32_t k = 1; k <= 2 && py + k < H; ++k) {
        const TColor32* next = row + static_cast<ptrdiff_t>(k) * W;
        __builtin_prefetch(next + loCell, 1);
        __builtin_prefetch(next + hiCell, 1);
      }
    }
    int64_t covered = 0;  // 7 times the signed count of the crossings so far
    int32_t from = 0;
    for (size_t sw = loSum; sw < hiSum; ++sw) {
      uint64_t words = sum[sw];
      sum[sw] = 0;
      while (words) {
        const size_t w = sw * 64 + static_cast<size_t>(std::countr_zero(words));
        words &= words - 1;
        uint64_t m = mark[w];
        mark[w] = 0;
        while (m) {
          const int32_t x = static_cast<int32_t>(w * 64 + static_cast<size_t>(std::countr_zero(m)));
          m &= m - 1;
          const int64_t v = cell[x];
          cell[x] = 0;
          const int32_t part = static_cast<int32_t>(static_cast<uint32_t>(v));
          if (covered != 0 && from < x) run(row, from, x, static_cast<int32_t>(covered));
          pixel(row + x, static_cast<int32_t>(covered) + part);
          covered += 7 * ((v - part) >> 32);
          from = x + 1;
        }
      }
    }
    run(row, from, W, static_cast<int32_t>(covered));
  }
  EMMS();
}

// ---------------------------------------------------------------------------------------------
// Derived polygons

std::unique_ptr<TPolygon32> TPolygon32::Grow(TFixed Delta, float EdgeSharpness) {
  if (EdgeSharpness > 0.99f) EdgeSharpness = 0.99f;
  if (EdgeSharpness < 0) EdgeSharpness = 0;
  const int32_t limit = static_cast<int32_t>(platform::Round((1 - static_cast<double>(EdgeSharpness)) * Delta));

  auto result = std::make_unique<TPolygon32>();
  result->FAntialiased = FAntialiased;
  result->FClosed = FClosed;
  result->FFillMode = FFillMode;
  if (Delta == 0) {
    result->SetPoints(FPoints);
    return result;
  }
  const TArrayOfArrayOfFixedPoint& normals = Normals();
  TArrayOfArrayOfFixedPoint out;
  for (size_t c = 0; c < FPoints.size(); ++c) {
    const TArrayOfFixedPoint& pts = FPoints[c];
    const TArrayOfFixedPoint& nrm = normals[c];
    const size_t n = pts.size();
    if (n < 2) continue;
    TArrayOfFixedPoint g;
    g.reserve(n * 2);
    auto scaled = [&](size_t i) -> TFixedPoint {
      return {MulDiv(nrm[i].X, Delta, 0x10000), MulDiv(nrm[i].Y, Delta, 0x10000)};
    };
    auto add = [](const TFixedPoint& p, const TFixedPoint& d) -> TFixedPoint {
      return {static_cast<TFixed>(static_cast<uint32_t>(p.X) + static_cast<uint32_t>(d.X)),
              static_cast<TFixed>(static_cast<uint32_t>(p.Y) + static_cast<uint32_t>(d.Y))};
    };
    for (size_t i = 0; i < n; ++i) {
      const TFixedPoint& p = pts[i];
      TFixedPoint di = scaled(i);
      TFixedPoint dp = scaled(i == 0 ? n - 1 : i - 1);
      if (!FClosed && i == 0) {
        g.push_back(add(p, di));
      } else if (!FClosed && i == n - 1) {
        g.push_back(add(p, dp));
      } else {
        TFixedPoint s = add(dp, di);
        // The sum in 64 bits: two products near the 32-bit limits must not wrap.
        int64_t r = int64_t{MulDiv(dp.X, s.X, Delta)} + MulDiv(dp.Y, s.Y, Delta);
        if (r <= limit) {
          g.push_back(add(p, dp));
          g.push_back(add(p, di));
        } else {
          g.push_back(add(p, {MulDiv64(s.X, Delta, r), MulDiv64(s.Y, Delta, r)}));
        }
      }
    }
    out.push_back(std::move(g));
  }
  result->SetPoints(out);
  return result;
}

std::unique_ptr<TPolygon32> TPolygon32::Outline() {
  auto result = std::make_unique<TPolygon32>();
  result->FAntialiased = FAntialiased;
  result->FClosed = FClosed;
  result->FFillMode = FFillMode;
  TArrayOfArrayOfFixedPoint out;
  for (const TArrayOfFixedPoint& pts : FPoints) {
    if (pts.size() < 2) continue;
    TArrayOfFixedPoint back(pts.rbegin(), pts.rend());
    if (FClosed) {
      out.push_back(pts);
      out.push_back(std::move(back));
    } else {
      TArrayOfFixedPoint both = pts;
      both.insert(both.end(), back.begin(), back.end());
      out.push_back(std::move(both));
    }
  }
  result->SetPoints(out);
  return result;
}

}  // namespace raster

// Rendering of shapes: the off-screen buffer at render resolution, the order in which a
// shape and its children are drawn, and the three ways onto a canvas (through the buffer,
// directly at screen resolution, and for page output).
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <exception>
#include <typeinfo>
#include <unordered_set>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "document/dtpPage.h"
#include "document/dtpShape.h"
#include "document/dtpShapeRenderPriv.h"
#include "platform/Rounding.h"
#include "raster/Raster32Blend.h"
#include "raster/Raster32Transforms.h"
#include "raster/dtpStretch.h"

namespace document {

using platform::TRect;
using raster::TAffineTransformation;

namespace {

bool AnyRepaint(const TdtpShape* s) {
  if (s->RepaintFlag() || !s->Buffer()) return true;
  for (int32_t i = 0; i < s->GetShapeCount(); ++i)
    if (AnyRepaint(s->GetShape(i))) return true;
  return false;
}

raster::TFloatMatrix ToAffine(const TdtpMatrix& M) {
  raster::TFloatMatrix r{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r[j][i] = M[i][j];
  return r;
}

// A shape that fails to paint is left out of this paint: the rest of the page still shows, and a
// bad drawing is not reported again on every repaint. Engine errors (platform::Exception) are
// std::exceptions too.
template <class Fn>
void PaintChild(Fn&& Paint) {
  try {
    Paint();
  } catch (const std::exception&) {
  }
}

bool gWideMerge = true;
bool gPlainGdiShortcut = true;
bool gRecomposeChanged = true;
std::atomic<uint64_t> gBufferSerial{0};

// Set while a child's change marks its parent's buffer for rebuilding: the rebuild starts from
// a fresh bitmap, so clearing the old pixels first would go unseen.
thread_local bool tParentRebuildPending = false;

// The resolution of the bitmap whose effects are being applied (detail::DrawingDpm).
thread_local float tDrawingDpm = 0;

// Set while UpdateBuffer builds the buffer of an upright shape: RenderInto clears that buffer
// in full before anything is drawn, so the clear that ends BuildBuffer would go unseen.
thread_local bool tBufferClearedByRender = false;
struct TBufferClearedByRender {
  bool saved;
  explicit TBufferClearedByRender(bool On) : saved(tBufferClearedByRender) { tBufferClearedByRender = On; }
  ~TBufferClearedByRender() { tBufferClearedByRender = saved; }
};

// InvertAlpha of the bitmap utilities, four pixels a step.
void InvertAlphaWide(TBitmap32* Bitmap) {
  if (!Bitmap || Bitmap->Empty()) return;
  TColor32* p = Bitmap->Bits();
  const int64_t n = int64_t(Bitmap->Width()) * Bitmap->Height();
  int64_t i = 0;
#if defined(__SSE2__)
  const __m128i amask = _mm_set1_epi32(int32_t(0xFF000000u));
  for (; i + 4 <= n; i += 4) {
    __m128i* q = reinterpret_cast<__m128i*>(p + i);
    _mm_storeu_si128(q, _mm_xor_si128(_mm_loadu_si128(q), amask));
  }
#endif
  for (; i < n; ++i) p[i] ^= 0xFF000000u;
}

constexpr int32_t kMergeAhead = 4;
inline void PrefetchSpan(const TColor32* P, int64_t Count) {
  const char* p = reinterpret_cast<const char*>(P);
  const char* e = reinterpret_cast<const char*>(P + Count);
  for (; p < e; p += 64) __builtin_prefetch(p, 1);
  __builtin_prefetch(e - 1, 1);
}

// Clear of the bitmap outside Keep (which lies within it, or is empty).
void ClearAround(TBitmap32* Bitmap, TColor32 Color, const TRect& Keep) {
  if (platform::IsRectEmpty(Keep)) {
    Bitmap->Clear(Color);
    return;
  }
  const int32_t w = Bitmap->Width(), h = Bitmap->Height();
  if (Keep.Top > 0) raster::FillLongword(Bitmap->Bits(), int32_t(int64_t{w} * Keep.Top), Color);
  for (int32_t y = Keep.Top; y < Keep.Bottom; ++y) {
    raster::FillLongword(Bitmap->ScanLine(y), Keep.Left, Color);
    raster::FillLongword(Bitmap->ScanLine(y) + Keep.Right, w - Keep.Right, Color);
  }
  if (Keep.Bottom < h) raster::FillLongword(Bitmap->ScanLine(Keep.Bottom), int32_t(int64_t{w} * (h - Keep.Bottom)), Color);
  Bitmap->Changed();
}

// Copies Count pixels to where they are not read again soon: the stores bypass the cache, so
// the copy neither reads the destination first nor pushes out what is merged next.
void CopyAside(const TColor32* Src, TColor32* Dst, size_t Count) {
  size_t i = 0;
#if defined(__SSE2__)
  while (i < Count && (reinterpret_cast<uintptr_t>(Dst + i) & 15) != 0) {
    Dst[i] = Src[i];
    ++i;
  }
  for (; i + 16 <= Count; i += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Src + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Src + i + 4));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Src + i + 8));
    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Src + i + 12));
    _mm_stream_si128(reinterpret_cast<__m128i*>(Dst + i), a);
    _mm_stream_si128(reinterpret_cast<__m128i*>(Dst + i + 4), b);
    _mm_stream_si128(reinterpret_cast<__m128i*>(Dst + i + 8), c);
    _mm_stream_si128(reinterpret_cast<__m128i*>(Dst + i + 12), d);
  }
  _mm_sfence();
#endif
  std::copy(Src + i, Src + Count, Dst + i);
}

// A copy of a bitmap that holds equal rows once: a page's own layer is mostly a few rows again
// and again (paper, frame, shadow, the margin frame's stipple), so keeping it mostly reads the
// page instead of copying it. A row is looked for among the few rows above it.
class TOwnLayer {
 public:
  void Keep(const TBitmap32* B) {
    const size_t w = size_t(B->Width());
    FRow.resize(size_t(B->Height()));
    FCount = 0;
    for (int32_t y = 0; y < B->Height(); ++y) {
      const TColor32* row = B->ScanLine(y);
      bool found = false;
      for (int32_t k = 1; k <= kLookBack && k <= y && !found; ++k)
        if (std::memcmp(row, B->ScanLine(y - k), w * sizeof(TColor32)) == 0) {
          FRow[size_t(y)] = FRow[size_t(y - k)];
          found = true;
        }
      if (found) continue;
      if (FCount + w > FCapacity) {
        // Never more than the bitmap itself.
        const size_t cap = std::min(std::max(FCount + w, FCapacity * 2), w * size_t(B->Height()));
        std::unique_ptr<TColor32[]> p(new TColor32[cap]);
        std::copy_n(FPixels.get(), FCount, p.get());
        FPixels = std::move(p);
        FCapacity = cap;
      }
      FRow[size_t(y)] = FCount;
      CopyAside(row, FPixels.get() + FCount, w);
      FCount += w;
    }
  }
  const TColor32* ScanLine(int32_t Y) const { return FPixels.get() + FRow[size_t(Y)]; }

 private:
  static constexpr int32_t kLookBack = 4;
  std::vector<size_t> FRow;  // where each row starts in FPixels
  std::unique_ptr<TColor32[]> FPixels;
  size_t FCount = 0, FCapacity = 0;
};

// MergeBitmapAt of the bitmap utilities, a row at a time through the wide merge: the same
// clipping, the same pixels.
void MergeChildAt(const TBitmap32* Src, TBitmap32* Dst, int32_t X, int32_t Y, uint32_t MasterAlpha) {
  if (!gWideMerge) {
    detail::MergeBitmapAt(Src, Dst, X, Y, MasterAlpha);
    return;
  }
  if (!Src || !Dst || Src->Empty() || Dst->Empty()) return;
  const int64_t c0 = std::max<int64_t>(0, -int64_t{X}), c1 = std::min<int64_t>(Src->Width(), int64_t{Dst->Width()} - X);
  const int64_t r0 = std::max<int64_t>(0, -int64_t{Y}), r1 = std::min<int64_t>(Src->Height(), int64_t{Dst->Height()} - Y);
  if (c0 >= c1) return;
  for (int64_t r = r0; r < r1; ++r) {
    const TColor32* s = Src->ScanLine(int32_t(r)) + c0;
    TColor32* d = Dst->ScanLine(int32_t(Y + r)) + X + c0;
    // The rows of a large page lie a page-size stride apart, where the hardware does not look
    // ahead: fetch the span a few rows below while this one is merged.
    if (r + kMergeAhead < r1) PrefetchSpan(d + int64_t{kMergeAhead} * Dst->Width(), c1 - c0);
    raster::MergeSpan(s, d, d, int32_t(c1 - c0), MasterAlpha);
  }
}

}  // namespace

namespace {

// The buffer's matrix (millimetres to buffer pixels) and size for a shape of these measures.
struct TBufferGeometry {
  TdtpMatrix Matrix;
  int64_t W, H;
};
TBufferGeometry BufferGeometry(float Dpm, float Angle, float L, float T, float R, float B) {
  TAffineTransformation t;
  t.Scale(Dpm, Dpm);
  t.Rotate(0, 0, Angle);
  TdtpMatrix m = MatrixFromAffine(t.Matrix);
  const TdtpFloatPoint c[4] = {MapPoint(m, L, T), MapPoint(m, R, T), MapPoint(m, L, B), MapPoint(m, R, B)};
  float minX = c[0].X, maxX = c[0].X, minY = c[0].Y, maxY = c[0].Y;
  for (const auto& p : c) {
    minX = std::min(minX, p.X);
    maxX = std::max(maxX, p.X);
    minY = std::min(minY, p.Y);
    maxY = std::max(maxY, p.Y);
  }
  TBufferGeometry g;
  g.W = platform::Round((long double)maxX - minX + 0.5L);
  g.H = platform::Round((long double)maxY - minY + 0.5L);
  t.Translate(-minX, -minY);
  g.Matrix = MatrixFromAffine(t.Matrix);
  return g;
}

// A child without a usable buffer at the render resolution (too large for one bitmap): an
// upright one is drawn directly, at the screen's resolution, into the part of Bmp it covers
// (its screen rectangle Meet goes to X, Y) and merged with its master alpha; a turned, mirrored
// or flipped one is drawn upright at a resolution that fits and turned into place.
void PaintChildWithoutBuffer(TdtpShape* C, const TRect& Meet, TBitmap32* Bmp, int32_t X, int32_t Y) {
  if (platform::IsRectEmpty(Meet)) return;
  if (C->DocAngle() != 0 || C->IsFlippedOrMirrored()) {
    C->PaintTurnedDirect(Meet, Bmp, X, Y);
    return;
  }
  if (C->MasterAlpha() == 255) {
    C->PaintDirect(Meet, nullptr, Bmp, X, Y);
    return;
  }
  TBitmap32 part;
  part.SetSize(Meet.Width(), Meet.Height());
  part.Clear(0);
  C->PaintDirect(Meet, nullptr, &part, 0, 0);
  detail::MergeBitmapAt(&part, Bmp, X, Y, uint32_t(C->MasterAlpha()));
}

bool BufferUsable(const TdtpShape* C) { return C->Buffer() && !C->Buffer()->Empty() && !C->RepaintFlag(); }

}  // namespace

void detail::SetWideMerge(bool On) { gWideMerge = On; }
float detail::DrawingDpm() { return tDrawingDpm; }
void detail::SetPlainGdiShortcut(bool On) { gPlainGdiShortcut = On; }
void detail::SetRecomposeChanged(bool On) { gRecomposeChanged = On; }

namespace {

// Where a child went in the last composition, with which buffer and alpha.
struct TMergeRecord {
  const TdtpShape* Shape;
  uint64_t Serial;
  TRect Rect;
  int32_t Alpha;
  bool operator==(const TMergeRecord&) const = default;
};
struct TMergeRecordHash {
  size_t operator()(const TMergeRecord& R) const {
    size_t h = std::hash<const void*>()(R.Shape) ^ (std::hash<uint64_t>()(R.Serial) * 0x9E3779B97F4A7C15ull);
    for (int32_t v : {R.Rect.Left, R.Rect.Top, R.Rect.Right, R.Rect.Bottom, R.Alpha})
      h = h * 1000003u ^ std::hash<int32_t>()(v);
    return h;
  }
};

// What the page's own layer depends on beyond the page's fields (whose setters mark it stale).
struct TComposeKey {
  TdtpMatrix Matrix{};
  int32_t W = 0, H = 0;
  bool Output = false, Margins = false, Background = false;
  int32_t Helper = 0, View = 0;
  // The page's values that may come from the document's defaults.
  float Margins4[4]{}, Grid = 0;
  uint32_t GridColor = 0, PageColor = 0, DocColor = 0;
  const TBitmap32* Image = nullptr;
  bool Tiled = false;
  bool operator==(const TComposeKey&) const = default;
};

}  // namespace

struct TdtpShape::TComposeCache {
  bool Valid = false;
  TComposeKey Key;
  TOwnLayer OwnLayer;  // the page after its own painting, before any child
  std::vector<TMergeRecord> Merged;
};

void TdtpShape::TComposeCacheDeleter::operator()(TComposeCache* Cache) const { delete Cache; }

void TdtpShape::SetRepaintFlag(bool Value) {
  FRepaint = Value;
  // Only a child's change leaves the page's own layer as it is.
  if (Value && !tParentRebuildPending && FCompose) FCompose->Valid = false;
}

bool TdtpShape::ComposeQualifies() const {
  // The page of this engine draws nothing through GDI and nothing over its children unless the
  // document paints a foreground; turned, mirrored or flipped pages are composed in full.
  return gRecomposeChanged && typeid(*this) == typeid(TdtpPage) && FDocAngle == 0 && !FMirrored && !FFlipped &&
         !(FDocument && FDocument->HasPaintForeground());
}

namespace {

TComposeKey ComposeKey(TdtpPage* Page, const IdtpDocumentHost* Doc, const TdtpMatrix& M, int64_t W, int64_t H) {
  TComposeKey k;
  k.Margins4[0] = Page->EffectiveMarginLeft();
  k.Margins4[1] = Page->EffectiveMarginTop();
  k.Margins4[2] = Page->EffectiveMarginRight();
  k.Margins4[3] = Page->EffectiveMarginBottom();
  k.Grid = Page->EffectiveGridSize();
  k.GridColor = uint32_t(Page->EffectiveGridColor());
  k.PageColor = uint32_t(Page->EffectivePageColor());
  k.DocColor = Page->GetDocColor32();
  k.Image = Page->EffectiveBackgroundImage();
  k.Tiled = Page->EffectiveBackgroundTiled();
  k.Matrix = M;
  k.W = int32_t(W);
  k.H = int32_t(H);
  if (Doc) {
    k.Output = Doc->OutputRendering();
    k.Margins = Doc->ShowMargins();
    k.Background = Doc->HasPaintBackground();
    k.Helper = int32_t(Doc->HelperMethod());
    k.View = int32_t(Doc->ViewStyle());
  }
  return k;
}

TRect Unite(const TRect& A, const TRect& B) {
  if (platform::IsRectEmpty(A)) return B;
  if (platform::IsRectEmpty(B)) return A;
  return {std::min(A.Left, B.Left), std::min(A.Top, B.Top), std::max(A.Right, B.Right), std::max(A.Bottom, B.Bottom)};
}

// MergeChildAt limited to the pixels of Dst inside Clip.
void MergeChildClipped(const TBitmap32* Src, TBitmap32* Dst, int32_t X, int32_t Y, uint32_t MasterAlpha,
                       const TRect& Clip) {
  if (!Src || !Dst || Src->Empty() || Dst->Empty()) return;
  const int64_t c0 = std::max<int64_t>({0, -int64_t{X}, int64_t{Clip.Left} - X});
  const int64_t c1 = std::min<int64_t>({Src->Width(), int64_t{Dst->Width()} - X, int64_t{Clip.Right} - X});
  const int64_t r0 = std::max<int64_t>({0, -int64_t{Y}, int64_t{Clip.Top} - Y});
  const int64_t r1 = std::min<int64_t>({Src->Height(), int64_t{Dst->Height()} - Y, int64_t{Clip.Bottom} - Y});
  if (c0 >= c1) return;
  for (int64_t r = r0; r < r1; ++r) {
    const TColor32* s = Src->ScanLine(int32_t(r)) + c0;
    TColor32* d = Dst->ScanLine(int32_t(Y + r)) + X + c0;
    raster::MergeSpan(s, d, d, int32_t(c1 - c0), MasterAlpha);
  }
}

}  // namespace

// Recomposes the page where children changed, moved, came or went, from the kept own layer and
// the cached children; false (nothing done) when the whole page must be composed.
bool TdtpShape::RecomposeChanged() {
  if (!FCompose || !FCompose->Valid || !ComposeQualifies() || !FBuffer || FBuffer->Empty()) return false;
  const TBufferGeometry g = BufferGeometry(GetRenderDpm(), FDocAngle, -FOutsetLeft, -FOutsetTop,
                                           FDocWidth + FOutsetRight, FDocHeight + FOutsetBottom);
  if (!(ComposeKey(static_cast<TdtpPage*>(this), FDocument, g.Matrix, g.W, g.H) == FCompose->Key)) return false;
  if (FBuffer->Width() != g.W || FBuffer->Height() != g.H) return false;
  SetDeviceMatrix(FBufferMatrix);
  std::vector<TMergeRecord> now;
  std::vector<TdtpShape*> shapes;
  bool direct = false;
  for (auto& c : FShapes) {
    if (!c->FVisible) continue;
    PaintChild([&] {
      c->UpdateBuffer();
      TBitmap32* buf = c->FBuffer.get();
      // A child drawn without a buffer of its own is not kept: the page is composed in full.
      if (!buf || buf->Empty()) {
        const TdtpFloatRect pb = c->GetParentPaintBounds();
        direct = direct || (pb.Right > pb.Left && pb.Bottom > pb.Top);
        return;
      }
      const TdtpFloatRect pb = c->GetParentPaintBounds();
      const long double x = (long double)pb.Left * FDeviceMatrix[0][0] + FDeviceMatrix[0][2];
      const long double y = (long double)pb.Top * FDeviceMatrix[1][1] + FDeviceMatrix[1][2];
      const int32_t ix = int32_t(platform::Round(x)), iy = int32_t(platform::Round(y));
      buf->SetMasterAlpha(uint32_t(c->FMasterAlpha));
      buf->SetDrawMode(c->FMasterAlpha == 255 ? raster::dmOpaque : raster::dmBlend);
      now.push_back({c.get(), c->FBufferSerial, {ix, iy, ix + buf->Width(), iy + buf->Height()}, c->FMasterAlpha});
      shapes.push_back(c.get());
    });
  }
  if (direct) return false;
  // Children kept as they were must keep their order; what went and what came is repainted.
  const std::vector<TMergeRecord>& was = FCompose->Merged;
  const std::unordered_set<TMergeRecord, TMergeRecordHash> wasSet(was.begin(), was.end()), nowSet(now.begin(), now.end());
  auto in = [](const std::unordered_set<TMergeRecord, TMergeRecordHash>& Set, const TMergeRecord& R) {
    return Set.count(R) != 0;
  };
  TRect dirty{0, 0, 0, 0};
  std::vector<TMergeRecord> keptWas, keptNow;
  for (const auto& r : was)
    if (in(nowSet, r)) keptWas.push_back(r);
    else dirty = Unite(dirty, r.Rect);
  for (const auto& r : now)
    if (in(wasSet, r)) keptNow.push_back(r);
    else dirty = Unite(dirty, r.Rect);
  if (keptWas != keptNow) return false;
  TRect clip;
  if (!platform::IsRectEmpty(dirty) &&
      platform::IntersectRect(clip, dirty, {0, 0, FBuffer->Width(), FBuffer->Height()})) {
    const size_t n = size_t(clip.Width());
    for (int32_t y = clip.Top; y < clip.Bottom; ++y)
      std::copy_n(FCompose->OwnLayer.ScanLine(y) + clip.Left, n, FBuffer->ScanLine(y) + clip.Left);
    for (size_t i = 0; i < now.size(); ++i) {
      TRect meet;
      if (!platform::IntersectRect(meet, now[i].Rect, clip)) continue;
      MergeChildClipped(shapes[i]->FBuffer.get(), FBuffer.get(), now[i].Rect.Left, now[i].Rect.Top, uint32_t(now[i].Alpha), clip);
    }
  }
  FCompose->Merged = std::move(now);
  SetRepaintFlag(false);
  return true;
}

void detail::ClearParentForRebuild(TdtpShape* Parent) {
  if (!Parent) return;
  const bool saved = tParentRebuildPending;
  tParentRebuildPending = true;
  try {
    Parent->ClearBuffer();
  } catch (...) {
    tParentRebuildPending = saved;
    throw;
  }
  tParentRebuildPending = saved;
}

float TdtpShape::GetRenderDpm() const {
  if (NeedsBuffer()) return FDocument ? FDocument->RenderDpm() : cDefaultDpm;
  if (FParent) return FParent->GetRenderDpm();
  return FDocument ? FDocument->ScreenDpm() : cDefaultDpm;
}

void TdtpShape::ClearBuffer() {
  if (FBuffer && !FBuffer->Empty() && !tBufferClearedByRender && !tParentRebuildPending)
    FBuffer->Clear(raster::SetAlpha(GetFillColor32(), 0));
  SetRepaintFlag(true);
}

void TdtpShape::FreeBuffer() {
  FBuffer.reset();
  SetRepaintFlag(true);
}


void TdtpShape::BuildBuffer(TdtpMatrix& Matrix) {
  FBuffer = std::make_unique<TBitmap32>();
  FBufferSerial = ++gBufferSerial;
  const TBufferGeometry g = BufferGeometry(GetRenderDpm(), FDocAngle, -FOutsetLeft, -FOutsetTop,
                                           FDocWidth + FOutsetRight, FDocHeight + FOutsetBottom);
  const int64_t w = g.W, h = g.H;
  FBufferMatrix = g.Matrix;
  Matrix = FBufferMatrix;
  // Oversized buffers are refused rather than attempted, and a bitmap that cannot be
  // allocated leaves the buffer empty: the view then draws the shape directly.
  FBufferRect = {0, 0, 0, 0};
  if (detail::BufferSizeAllowed(w, h)) {
    try {
      FBuffer->SetSize(int32_t(w), int32_t(h));
      FBufferRect = {0, 0, int32_t(w), int32_t(h)};
    } catch (const std::exception&) {
      // The bitmap reports a refused allocation with its own error, not std::bad_alloc.
      FBuffer = std::make_unique<TBitmap32>();
      Matrix = IdentityDtpMatrix();
      SetRepaintFlag(true);  // tried again at the next paint
      return;
    }
  }
  ClearBuffer();
}

void TdtpShape::FixGdiAlpha(TBitmap32* Bitmap, TColor32 Color) {
  if (!Bitmap || Bitmap->Empty()) return;
  Color &= 0x00FFFFFFu;
  TColor32* p = Bitmap->Bits();
  const int64_t n = int64_t(Bitmap->Width()) * Bitmap->Height();
  int64_t i = 0;
#if defined(__SSE2__)
  // Four pixels a step: alpha 0 becomes opaque, any other alpha the colour.
  const __m128i amask = _mm_set1_epi32(int32_t(0xFF000000u)), color = _mm_set1_epi32(int32_t(Color));
  for (; i + 4 <= n; i += 4) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    const __m128i clear = _mm_cmpeq_epi32(_mm_and_si128(v, amask), _mm_setzero_si128());
    const __m128i r = _mm_or_si128(_mm_and_si128(clear, _mm_or_si128(v, amask)), _mm_andnot_si128(clear, color));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + i), r);
  }
#endif
  for (; i < n; ++i) p[i] = (p[i] >> 24) ? Color : (p[i] | 0xFF000000u);
}

void TdtpShape::ApplyFlipMirror(TBitmap32* Bitmap) {
  if (FMirrored) detail::FlipHorizontal(Bitmap);
  if (FFlipped) detail::FlipVertical(Bitmap);
}

// A child too large for a buffer of its own, inside this shape's rendering: drawn straight into
// the part of Target it covers, at Target's resolution (this shape's device matrix), and merged
// with its master alpha.
void TdtpShape::PaintChildWithoutBufferInto(TdtpShape* C, TBitmap32* Target) {
  const TdtpMatrix& m = FDeviceMatrix;
  const TdtpFloatRect pb = C->GetParentPaintBounds();
  if (!(pb.Right > pb.Left && pb.Bottom > pb.Top)) return;  // no area: nothing to draw
  auto fit = [](long double V, int32_t Hi) { return int32_t(std::clamp<long double>(V, 0, Hi)); };
  const int32_t w = Target->Width(), h = Target->Height();
  const TRect r{fit(std::floor((long double)pb.Left * m[0][0] + m[0][2]), w),
                fit(std::floor((long double)pb.Top * m[1][1] + m[1][2]), h),
                fit(std::ceil((long double)pb.Right * m[0][0] + m[0][2]), w),
                fit(std::ceil((long double)pb.Bottom * m[1][1] + m[1][2]), h)};
  // Once drawn (or wholly outside), the child is up to date until it changes: this shape is not
  // rendered again on every paint for its sake. Its place is looked up at each rendering.
  if (platform::IsRectEmpty(r)) {
    C->SetRepaintFlag(false);
    return;
  }
  if (C->FDocAngle != 0 || C->IsFlippedOrMirrored()) {
    // Drawn upright at a resolution that fits and turned into place: the child's millimetres
    // through its place in this shape to Target's pixels.
    if (C->PaintTurnedInto(r, Target, r.Left, r.Top, m[0][0], uint32_t(C->FMasterAlpha),
                           [&](const TdtpFloatPoint& P, TdtpFloatPoint& Out) {
                             const TdtpFloatPoint q = C->LocalToParent(P);
                             Out = {float((long double)q.X * m[0][0] + m[0][2]),
                                    float((long double)q.Y * m[1][1] + m[1][2])};
                             return true;
                           }))
      C->SetRepaintFlag(false);
    return;
  }
  TBitmap32 part;
  part.SetSize(r.Width(), r.Height());
  TdtpMatrix dev{};
  dev[0][0] = m[0][0];
  dev[0][2] = float((long double)C->FDocLeft * m[0][0] + m[0][2] - r.Left);
  dev[1][1] = m[1][1];
  dev[1][2] = float((long double)C->FDocTop * m[1][1] + m[1][2] - r.Top);
  dev[2][2] = 1;
  const TdtpMatrix saved = C->FDeviceMatrix;
  C->SetDeviceMatrix(dev);
  bool drawn = false;
  try {
    drawn = C->RenderInto(&part);
  } catch (...) {
    C->SetDeviceMatrix(saved);
    throw;
  }
  C->SetDeviceMatrix(saved);
  if (!drawn) return;
  MergeChildAt(&part, Target, r.Left, r.Top, uint32_t(C->FMasterAlpha));
  C->SetRepaintFlag(false);
}

// Steps 4 to 7 of a render: GDI, shape, children, overlay, flip. False when the target has
// no pixels (nothing is drawn).
bool TdtpShape::RenderInto(TBitmap32* Target) {
  if (!Target || Target->Empty()) return false;
  if (gPlainGdiShortcut && typeid(*this) == typeid(TdtpPage)) {
    // The page draws nothing through GDI and keeps the plain alpha fix-up: every pixel goes
    // from alpha 0 to inverted (alpha 255) to the document colour at alpha 0, in one pass,
    // which leaves out what the page's background paints over anyway.
    ClearAround(Target, raster::SetAlpha(GetDocColor32(), 0) & 0x00FFFFFFu,
                detail::PageBackgroundCover(static_cast<TdtpPage*>(this), Target));
  } else {
    {
      // The platform's GDI leaves alpha 0 where it draws: draw onto alpha 0 and invert.
      Target->Clear(0x00FFFFFFu);
      detail::TBitmap32Canvas canvas(Target);
      PaintGdi(canvas.Canvas());
      canvas.Release();
      InvertAlphaWide(Target);
    }
    FixGdiAlpha(Target, raster::SetAlpha(GetDocColor32(), 0));
  }
  PaintShape(Target);
  // The page's own buffer: keep its own layer and where each child goes, for recomposing.
  const bool keep = Target == FBuffer.get() && ComposeQualifies();
  if (keep) {
    if (!FCompose) FCompose.reset(new TComposeCache);
    FCompose->Valid = false;
    FCompose->Key = ComposeKey(static_cast<TdtpPage*>(this), FDocument, FBufferMatrix, Target->Width(), Target->Height());
    FCompose->Merged.clear();
    FCompose->OwnLayer.Keep(Target);
  } else if (FCompose && Target == FBuffer.get()) {
    FCompose.reset();
  }
  for (auto& c : FShapes) {
    if (!c->FVisible) continue;
    PaintChild([&] {
      c->UpdateBuffer();
      TBitmap32* buf = c->FBuffer.get();
      if (!buf || buf->Empty()) {
        PaintChildWithoutBufferInto(c.get(), Target);
        return;
      }
      buf->SetMasterAlpha(uint32_t(c->FMasterAlpha));
      buf->SetDrawMode(c->FMasterAlpha == 255 ? raster::dmOpaque : raster::dmBlend);
      const TdtpFloatRect pb = c->GetParentPaintBounds();
      const long double x = (long double)pb.Left * FDeviceMatrix[0][0] + FDeviceMatrix[0][2];
      const long double y = (long double)pb.Top * FDeviceMatrix[1][1] + FDeviceMatrix[1][2];
      const int32_t ix = int32_t(platform::Round(x)), iy = int32_t(platform::Round(y));
      if (keep)
        FCompose->Merged.push_back(
            {c.get(), c->FBufferSerial, {ix, iy, ix + buf->Width(), iy + buf->Height()}, c->FMasterAlpha});
      MergeChildAt(buf, Target, ix, iy, uint32_t(c->FMasterAlpha));
    });
  }
  PaintOverlay(Target);
  {
    // Effects measure in the pixels of Target, which the device matrix maps into.
    struct TDrawingDpm {
      float saved = tDrawingDpm;
      ~TDrawingDpm() { tDrawingDpm = saved; }
    } scope;
    tDrawingDpm = float(std::hypot(double(FDeviceMatrix[0][0]), double(FDeviceMatrix[1][0])));
    ApplyFlipMirror(Target);
  }
  return true;
}

void TdtpShape::UpdateBuffer() {
  if (!AnyRepaint(this)) return;
  if (RecomposeChanged()) return;
  if (FDocument) FDocument->SetViewCursor(-19);
  TdtpMatrix bm;
  {
    TBufferClearedByRender skip(FDocAngle == 0);
    BuildBuffer(bm);
  }
  if (!FBuffer || FBuffer->Empty()) return;  // the repaint flag stays set
  const float dpm = GetRenderDpm();
  if (FDocAngle != 0) {
    const int64_t tw = platform::Ceil((long double)dpm * ((long double)FOutsetLeft + FDocWidth + FOutsetRight));
    const int64_t th = platform::Ceil((long double)dpm * ((long double)FOutsetTop + FDocHeight + FOutsetBottom));
    if (!detail::BufferSizeAllowed(tw, th)) {
      // Upright too large for one bitmap although the turned buffer fits (long and thin): drawn
      // upright at a resolution that fits and turned into the buffer.
      const TdtpMatrix into = bm;
      if (PaintTurnedInto(FBufferRect, FBuffer.get(), 0, 0, dpm, 255,
                          [&into](const TdtpFloatPoint& P, TdtpFloatPoint& Out) {
                            Out = MapPoint(into, P.X, P.Y);
                            return true;
                          }))
        SetRepaintFlag(false);
      return;
    }
    TBitmap32 tmp;
    try {
      tmp.SetSize(int32_t(tw), int32_t(th));
    } catch (const std::exception&) {
      // No memory for the upright drawing: the shape goes without a buffer, so the view draws
      // it directly, turned into place, as it does one whose buffer was refused. Tried again at
      // the next paint.
      FBuffer = std::make_unique<TBitmap32>();
      FBufferRect = {0, 0, 0, 0};
      SetRepaintFlag(true);
      return;
    }
    // (RenderInto clears the whole of tmp first, so the fill colour at alpha 0 it would start
    // with never shows.)
    // Upright: translate by the outsets, then scale to pixels.
    TdtpMatrix dev{};
    dev[0][0] = dpm;
    dev[0][2] = float((long double)dpm * FOutsetLeft);
    dev[1][1] = dpm;
    dev[1][2] = float((long double)dpm * FOutsetTop);
    dev[2][2] = 1;
    SetDeviceMatrix(dev);
    if (!RenderInto(&tmp)) return;
    // Temporary pixels to millimetres to buffer pixels.
    const long double il = FOutsetLeft, it = FOutsetTop, inv = 1.0L / dpm;
    TdtpMatrix m{};
    for (int i = 0; i < 2; ++i) {
      m[i][0] = float(bm[i][0] * inv);
      m[i][1] = float(bm[i][1] * inv);
      m[i][2] = float(-(long double)bm[i][0] * il - (long double)bm[i][1] * it + bm[i][2]);
    }
    m[2][2] = 1;
    TAffineTransformation t;
    t.Matrix = ToAffine(m);
    t.SetSrcRect(raster::FloatRect(0, 0, float(tw), float(th)));
    t.TransformValid = false;
    tmp.SetMasterAlpha(255);
    tmp.SetDrawMode(raster::dmOpaque);
    tmp.SetOuterColor(0x00FFFFFFu);
    tmp.SetStretchFilter(FDocument ? FDocument->Quality() : raster::sfLinear);
    raster::TransformBitmap(FBuffer.get(), &tmp, &t);
  } else {
    SetDeviceMatrix(FBufferMatrix);
    if (!RenderInto(FBuffer.get())) return;
  }
  SetRepaintFlag(false);
  // (RenderInto kept the own layer only when this shape qualifies.)
  if (FCompose && FDocAngle == 0) FCompose->Valid = true;
}

bool TdtpShape::PaintToCanvas(platform::TCanvas* Canvas) {
  if (!Canvas) return false;
  const TRect clip = Canvas->ClipRect();
  if (platform::IsRectEmpty(clip)) return false;
  TRect sr, vis;
  GetScreenRect(sr);
  if (!platform::IntersectRect(vis, sr, clip)) return false;
  if (FDocument && FDocument->OutputRendering()) {
    PaintOutput(Canvas);
    return false;
  }
  if (NeedsBuffer()) {
    UpdateBuffer();
    if (FBuffer && !FBuffer->Empty() && !FRepaint && FDocument) {
      // The whole buffer stretched onto the whole screen rectangle, of which only the visible
      // part is computed: a repaint of any part gives the pixels a full paint gives there.
      const TRect src{0, 0, FBuffer->Width(), FBuffer->Height()};
      TBitmap32 tmp;
      tmp.SetSize(vis.Width(), vis.Height());
      tmp.Clear(GetDocColor32());
      raster::StretchTransferAuto(&tmp, {sr.Left - vis.Left, sr.Top - vis.Top, sr.Right - vis.Left, sr.Bottom - vis.Top},
                                  FBuffer.get(), src, FDocument->Quality(), FBuffer->DrawMode());
      detail::DrawToCanvas(Canvas, vis.Left, vis.Top, &tmp);
      return true;
    }
    // No buffer at the render resolution (too large for one bitmap, or not allocated): an
    // upright shape is drawn directly at the screen's resolution, for the visible part only.
    // Turned, mirrored or flipped ones need their buffer; they report that nothing was painted
    // so the caller does not keep stale pixels.
    if (FDocAngle != 0 || FMirrored || FFlipped) return false;
  }
  // A canvas larger than one bitmap is drawn in bands that fit.
  constexpr int32_t cBand = 4096;
  for (int32_t y = vis.Top; y < vis.Bottom; y += std::min(cBand, vis.Bottom - y))
    for (int32_t x = vis.Left; x < vis.Right; x += std::min(cBand, vis.Right - x))
      PaintDirect({x, y, std::min(vis.Right, x + cBand), std::min(vis.Bottom, y + cBand)}, Canvas, nullptr, 0, 0);
  return true;
}

// Paints this shape's own content (GDI part, then pixels) into a fresh bitmap covering the
// screen rectangle R, and leaves the device matrix mapping millimetres into that bitmap.
TdtpMatrix TdtpShape::PaintOwnScreenContent(const TRect& R, TBitmap32& bmp) {
  const float sdpm = FDocument ? FDocument->ScreenDpm() : cDefaultDpm;
  TdtpFloatPoint o{0, 0};
  LocalToScreen({0, 0}, o);
  bmp.SetSize(R.Width(), R.Height());
  TdtpMatrix dev{};
  dev[0][0] = sdpm;
  dev[0][2] = o.X - R.Left;
  dev[1][1] = sdpm;
  dev[1][2] = o.Y - R.Top;
  dev[2][2] = 1;
  SetDeviceMatrix(dev);
  {
    bmp.Clear(0x00FFFFFFu);
    detail::TBitmap32Canvas canvas(&bmp);
    PaintGdi(canvas.Canvas());
    canvas.Release();
    detail::InvertAlpha(&bmp);
  }
  FixGdiAlpha(&bmp, raster::SetAlpha(GetDocColor32(), 0));
  PaintShape(&bmp);
  return dev;
}

void TdtpShape::PaintDirect(const TRect& R, platform::TCanvas* Canvas, TBitmap32* Target, int32_t OffsetX,
                            int32_t OffsetY) {
  if (platform::IsRectEmpty(R) || !detail::BufferSizeAllowed(R.Width(), R.Height())) return;
  const float sdpm = FDocument ? FDocument->ScreenDpm() : cDefaultDpm;
  TBitmap32 bmp;
  const TdtpMatrix dev = PaintOwnScreenContent(R, bmp);
  for (auto& c : FShapes) {
    if (!c->FVisible) continue;
    TRect cr, meet;
    c->GetScreenRect(cr);
    if (!platform::IntersectRect(meet, cr, R)) continue;
    PaintChild([&] {
      if (c->NeedsBuffer()) {
        c->UpdateBuffer();
        TBitmap32* buf = c->FBuffer.get();
        if (!BufferUsable(c.get())) {
          PaintChildWithoutBuffer(c.get(), meet, &bmp, meet.Left - R.Left, meet.Top - R.Top);
          return;
        }
        const TdtpFloatRect pb = c->GetParentPaintBounds();
        const int32_t x = int32_t(platform::Round((long double)pb.Left * dev[0][0] + dev[0][2]));
        const int32_t y = int32_t(platform::Round((long double)pb.Top * dev[1][1] + dev[1][2]));
        TRect dst;
        if (c->GetRenderDpm() == sdpm) {
          dst = {x, y, x + buf->Width(), y + buf->Height()};
        } else {
          dst = {x, y, int32_t(platform::Round((long double)pb.Right * dev[0][0] + dev[0][2])),
                 int32_t(platform::Round((long double)pb.Bottom * dev[1][1] + dev[1][2]))};
        }
        buf->SetDrawMode(raster::dmBlend);
        buf->SetMasterAlpha(uint32_t(c->FMasterAlpha));
        buf->SetStretchFilter(FDocument ? FDocument->Quality() : raster::sfLinear);
        if (!platform::IsRectEmpty(dst)) buf->DrawToRect(&bmp, dst, {0, 0, buf->Width(), buf->Height()});
      } else {
        c->PaintDirect(meet, nullptr, &bmp, meet.Left - R.Left, meet.Top - R.Top);
      }
    });
  }
  // The children painted with their own device matrices; ours is needed again.
  SetDeviceMatrix(dev);
  PaintOverlay(&bmp);
  if (Target)
    detail::MergeBitmapAt(&bmp, Target, OffsetX, OffsetY, 255);
  else
    detail::DrawToCanvas(Canvas, R.Left, R.Top, &bmp);
}

void TdtpShape::PaintTurnedDirect(const TRect& Meet, TBitmap32* Target, int32_t X, int32_t Y) {
  PaintTurnedInto(Meet, Target, X, Y, FDocument ? FDocument->ScreenDpm() : cDefaultDpm, uint32_t(FMasterAlpha),
                  [this](const TdtpFloatPoint& P, TdtpFloatPoint& Out) { return LocalToScreen(P, Out); });
}

bool TdtpShape::PaintTurnedInto(const TRect& Meet, TBitmap32* Target, int32_t X, int32_t Y, float MaxDpm,
                                uint32_t Alpha, const std::function<bool(const TdtpFloatPoint&, TdtpFloatPoint&)>& Map) {
  if (!Target || platform::IsRectEmpty(Meet) || !detail::BufferSizeAllowed(Meet.Width(), Meet.Height())) return false;
  const long double fullW = (long double)FOutsetLeft + FDocWidth + FOutsetRight;
  const long double fullH = (long double)FOutsetTop + FDocHeight + FOutsetBottom;
  if (!(fullW > 0 && fullH > 0) || !std::isfinite(fullW) || !std::isfinite(fullH)) return false;
  // The screen's resolution, or less where the whole upright shape would not fit one bitmap.
  const long double side = detail::cMaxBufferSide - 2, pixels = (long double)detail::cMaxBufferPixels;
  const long double dpm = std::min({(long double)MaxDpm, side / fullW,
                                    side / fullH, std::sqrt(pixels / (fullW * fullH)) * 0.999L});
  const int64_t tw = platform::Ceil(dpm * fullW), th = platform::Ceil(dpm * fullH);
  if (!(dpm > 0) || !detail::BufferSizeAllowed(tw, th)) return false;
  TBitmap32 tmp;
  tmp.SetSize(int32_t(tw), int32_t(th));
  TdtpMatrix dev{};
  dev[0][0] = float(dpm);
  dev[0][2] = float(dpm * FOutsetLeft);
  dev[1][1] = float(dpm);
  dev[1][2] = float(dpm * FOutsetTop);
  dev[2][2] = 1;
  const TdtpMatrix saved = FDeviceMatrix;
  SetDeviceMatrix(dev);
  const bool drawn = RenderInto(&tmp);
  SetDeviceMatrix(saved);
  if (!drawn) return false;
  // Pixels of tmp to local millimetres to the screen, relative to Meet (the same turn the
  // buffer's matrix gives; mirroring and flipping are in tmp already).
  TdtpFloatPoint o{}, ex{}, ey{};
  if (!Map({-FOutsetLeft, -FOutsetTop}, o) || !Map({1 - FOutsetLeft, -FOutsetTop}, ex) ||
      !Map({-FOutsetLeft, 1 - FOutsetTop}, ey))
    return false;
  TdtpMatrix m{};
  m[0][0] = float((ex.X - o.X) / dpm);
  m[0][1] = float((ey.X - o.X) / dpm);
  m[0][2] = o.X - float(Meet.Left);
  m[1][0] = float((ex.Y - o.Y) / dpm);
  m[1][1] = float((ey.Y - o.Y) / dpm);
  m[1][2] = o.Y - float(Meet.Top);
  m[2][2] = 1;
  TBitmap32 part;
  part.SetSize(Meet.Width(), Meet.Height());
  part.Clear(0);
  TAffineTransformation t;
  t.Matrix = ToAffine(m);
  t.SetSrcRect(raster::FloatRect(0, 0, float(tw), float(th)));
  t.TransformValid = false;
  tmp.SetMasterAlpha(255);
  tmp.SetDrawMode(raster::dmOpaque);
  tmp.SetOuterColor(0);
  tmp.SetStretchFilter(FDocument ? FDocument->Quality() : raster::sfLinear);
  raster::TransformBitmap(&part, &tmp, &t);
  detail::MergeBitmapAt(&part, Target, X, Y, Alpha);
  return true;
}

void TdtpShape::PaintOutput(platform::TCanvas* Canvas) {
  const TRect clip = Canvas->ClipRect();
  if (!detail::BufferSizeAllowed(clip.Width(), clip.Height())) return;
  TBitmap32 bmp;
  const TdtpMatrix dev = PaintOwnScreenContent(clip, bmp);
  for (auto& c : FShapes) {
    if (!c->FVisible) continue;
    TRect cr, meet;
    c->GetScreenRect(cr);
    if (!platform::IntersectRect(meet, cr, clip)) continue;
    PaintChild([&] {
      c->UpdateBuffer();
      TBitmap32* buf = c->FBuffer.get();
      if (!BufferUsable(c.get())) {
        PaintChildWithoutBuffer(c.get(), meet, &bmp, meet.Left - clip.Left, meet.Top - clip.Top);
        return;
      }
      const TdtpFloatRect pb = c->GetParentPaintBounds();
      const int32_t x = int32_t(platform::Round((long double)pb.Left * dev[0][0] + dev[0][2]));
      const int32_t y = int32_t(platform::Round((long double)pb.Top * dev[1][1] + dev[1][2]));
      detail::MergeBitmapAt(buf, &bmp, x, y, uint32_t(c->FMasterAlpha));
    });
  }
  SetDeviceMatrix(dev);
  PaintOverlay(&bmp);
  detail::DrawToCanvas(Canvas, clip.Left, clip.Top, &bmp);
}

}  // namespace document

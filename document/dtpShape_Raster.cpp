// The shape engine's bitmap helpers; the one place of the document engine that binds a
// platform canvas to a TBitmap32's pixels.
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <vector>

#include "document/dtpShapeRenderPriv.h"
#include "raster/Raster32Blend.h"

namespace document::detail {

using raster::TBitmap32;
using raster::TColor32;

TBitmap32Canvas::TBitmap32Canvas(TBitmap32* Bitmap) : FCanvas(std::make_unique<platform::TCanvas>()) {
  if (Bitmap && !Bitmap->Empty()) {
    FImage = std::make_unique<QImage>(reinterpret_cast<uchar*>(Bitmap->Bits()), Bitmap->Width(),
                                      Bitmap->Height(), Bitmap->Width() * 4, QImage::Format_ARGB32);
    FCanvas->SetDevice(FImage.get());
  }
}

TBitmap32Canvas::~TBitmap32Canvas() { Release(); }

void TBitmap32Canvas::Release() {
  if (FCanvas) {
    FCanvas->Release();
    FCanvas->SetDevice(nullptr);
  }
}

void DrawToCanvas(platform::TCanvas* Canvas, int32_t X, int32_t Y, const TBitmap32* Bitmap) {
  if (!Canvas || !Bitmap || Bitmap->Empty()) return;
  QPainter* p = Canvas->Painter();
  if (!p) return;
  const QImage img(reinterpret_cast<const uchar*>(Bitmap->Bits()), Bitmap->Width(), Bitmap->Height(),
                   Bitmap->Width() * 4, QImage::Format_RGB32);
  p->drawImage(X, Y, img);
}

void MergeBitmapAt(const TBitmap32* Src, TBitmap32* Dst, int32_t X, int32_t Y, uint32_t MasterAlpha) {
  if (!Src || !Dst || Src->Empty() || Dst->Empty()) return;
  const int32_t x0 = std::max(0, -X), y0 = std::max(0, -Y);
  const int32_t x1 = std::min(Src->Width(), Dst->Width() - X);
  const int32_t y1 = std::min(Src->Height(), Dst->Height() - Y);
  for (int32_t r = y0; r < y1; ++r) {
    const TColor32* s = Src->ScanLine(r);
    TColor32* d = Dst->ScanLine(Y + r) + X;
    for (int32_t c = x0; c < x1; ++c) d[c] = raster::MergePixel(s[c], d[c], MasterAlpha);
  }
  raster::EMMS();
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
  const int32_t w = Bitmap->Width(), h = Bitmap->Height();
  for (int32_t y = 0; y < h / 2; ++y) std::swap_ranges(Bitmap->ScanLine(y), Bitmap->ScanLine(y) + w, Bitmap->ScanLine(h - 1 - y));
}

namespace {
template <typename Map>
void Turn(TBitmap32* Bitmap, Map map) {
  const int32_t w = Bitmap->Width(), h = Bitmap->Height();
  std::vector<TColor32> tmp(Bitmap->Bits(), Bitmap->Bits() + int64_t(w) * h);
  Bitmap->SetSize(h, w);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      int32_t nx, ny;
      map(x, y, w, h, nx, ny);
      Bitmap->SetPixel(nx, ny, tmp[size_t(int64_t(y) * w + x)]);
    }
}
}  // namespace

void Rotate90(TBitmap32* Bitmap) {
  if (!Bitmap || Bitmap->Empty()) return;
  Turn(Bitmap, [](int32_t x, int32_t y, int32_t, int32_t h, int32_t& nx, int32_t& ny) {
    nx = h - 1 - y;
    ny = x;
  });
}

void Rotate270(TBitmap32* Bitmap) {
  if (!Bitmap || Bitmap->Empty()) return;
  Turn(Bitmap, [](int32_t x, int32_t y, int32_t w, int32_t, int32_t& nx, int32_t& ny) {
    nx = y;
    ny = w - 1 - x;
  });
}

void Rotate180(TBitmap32* Bitmap) {
  FlipHorizontal(Bitmap);
  FlipVertical(Bitmap);
}

void InvertAlpha(TBitmap32* Bitmap) {
  if (!Bitmap || Bitmap->Empty()) return;
  TColor32* p = Bitmap->Bits();
  const int64_t n = int64_t(Bitmap->Width()) * Bitmap->Height();
  for (int64_t i = 0; i < n; ++i) p[i] ^= 0xFF000000u;
}

}  // namespace document::detail

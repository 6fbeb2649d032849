// The one place of the document engine that binds a platform canvas to a TBitmap32's pixels.
#include <QImage>
#include <QPainter>

#include "document/dtpShapeRenderPriv.h"

namespace document::detail {

using raster::TBitmap32;

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

}  // namespace document::detail

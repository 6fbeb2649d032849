#include "platform/ImageDecoder.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>
#include <QPainter>

#include "platform/Graphics.h"

namespace platform {

TDecodedImage::TDecodedImage() = default;
TDecodedImage::~TDecodedImage() = default;

TDecodeResult TDecodedImage::Decode(const uint8_t* Data, size_t Size, int64_t MaxPixels) {
  FImage.reset();
  if (!Data || Size == 0 || Size > static_cast<size_t>(INT32_MAX)) return TDecodeResult::InvalidFormat;
  QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(Data), static_cast<qsizetype>(Size));
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer);
  const QSize size = reader.size();
  if (!size.isValid() && !reader.canRead()) return TDecodeResult::InvalidFormat;
  if (size.isValid() && static_cast<int64_t>(size.width()) * size.height() > MaxPixels) return TDecodeResult::TooLarge;
  QImage image;
  if (!reader.read(&image) || image.isNull()) return TDecodeResult::InvalidFormat;
  if (static_cast<int64_t>(image.width()) * image.height() > MaxPixels) return TDecodeResult::TooLarge;
  FImage = std::make_unique<QImage>(image.convertToFormat(QImage::Format_ARGB32));
  return TDecodeResult::Ok;
}

void TDecodedImage::Clear() { FImage.reset(); }
bool TDecodedImage::Empty() const { return !FImage || FImage->isNull(); }
int32_t TDecodedImage::Width() const { return Empty() ? 0 : FImage->width(); }
int32_t TDecodedImage::Height() const { return Empty() ? 0 : FImage->height(); }

void TDecodedImage::Draw(TCanvas* Canvas, const TRect& R) const {
  if (Empty() || !Canvas || R.Width() <= 0 || R.Height() <= 0) return;
  QPainter* p = Canvas->Painter();
  if (!p) return;
  p->save();
  p->setCompositionMode(QPainter::CompositionMode_SourceOver);
  p->drawImage(QRect(R.Left, R.Top, R.Width(), R.Height()), *FImage);
  p->restore();
}

void TDecodedImage::ClearOutside(const TRect& Keep) {
  if (Empty()) return;
  for (int32_t y = 0; y < FImage->height(); ++y) {
    auto* row = reinterpret_cast<QRgb*>(FImage->scanLine(y));
    const bool rowIn = y >= Keep.Top && y < Keep.Bottom;
    for (int32_t x = 0; x < FImage->width(); ++x)
      if (!rowIn || x < Keep.Left || x >= Keep.Right || qAlpha(row[x]) == 0) row[x] = 0;
  }
}

uint32_t TDecodedImage::PixelARGB(int32_t X, int32_t Y) const {
  if (Empty() || X < 0 || Y < 0 || X >= FImage->width() || Y >= FImage->height()) return 0;
  const QRgb c = FImage->pixel(X, Y);
  return (static_cast<uint32_t>(qAlpha(c)) << 24) | (static_cast<uint32_t>(qBlue(c)) << 16) |
         (static_cast<uint32_t>(qGreen(c)) << 8) | static_cast<uint32_t>(qRed(c));
}

}  // namespace platform

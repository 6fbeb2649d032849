#include "platform/ImageDecoder.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QRgba64>
#include <cstring>

#include "platform/Graphics.h"

namespace platform {

namespace {

uint32_t BE32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// Qt's reader gives a 16-bit RGB PNG with a tRNS colour key garbage alpha. For such a file,
// Stripped receives the bytes without the tRNS chunk and Key its red, green and blue samples.
bool StripRgb16Key(const uint8_t* Data, size_t Size, QByteArray& Stripped, uint16_t Key[3]) {
  static const uint8_t sig[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  if (Size < 8 + 25 || std::memcmp(Data, sig, 8) != 0 || std::memcmp(Data + 12, "IHDR", 4) != 0) return false;
  if (BE32(Data + 8) < 13 || Data[16 + 8] != 16 || Data[16 + 9] != 2) return false;
  for (size_t at = 8; Size - at >= 12;) {
    const uint32_t len = BE32(Data + at);
    if (len > Size - at - 12) return false;
    const uint8_t* type = Data + at + 4;
    if (std::memcmp(type, "IDAT", 4) == 0) return false;  // a key must come before the pixels
    if (std::memcmp(type, "tRNS", 4) == 0) {
      if (len != 6) return false;
      for (int c = 0; c < 3; ++c) Key[c] = static_cast<uint16_t>((type[4 + 2 * c] << 8) | type[5 + 2 * c]);
      Stripped = QByteArray(reinterpret_cast<const char*>(Data), static_cast<qsizetype>(at));
      Stripped.append(reinterpret_cast<const char*>(Data + at + 12 + len), static_cast<qsizetype>(Size - at - 12 - len));
      return true;
    }
    at += 12 + size_t{len};
  }
  return false;
}

}  // namespace

TDecodedImage::TDecodedImage() = default;
TDecodedImage::~TDecodedImage() = default;

TDecodeResult TDecodedImage::Decode(const uint8_t* Data, size_t Size, int64_t MaxPixels) {
  FImage.reset();
  if (!Data || Size == 0 || Size > static_cast<size_t>(INT32_MAX)) return TDecodeResult::InvalidFormat;
  uint16_t key[3] = {0, 0, 0};
  QByteArray bytes;
  const bool keyed = StripRgb16Key(Data, Size, bytes, key);
  if (!keyed) bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(Data), static_cast<qsizetype>(Size));
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
  if (keyed) {
    // The key is matched on the 16-bit samples, which the 8-bit pixels no longer tell apart.
    const QImage wide = image.convertToFormat(QImage::Format_RGBX64);
    for (int32_t y = 0; y < wide.height(); ++y) {
      const auto* src = reinterpret_cast<const QRgba64*>(wide.constScanLine(y));
      auto* row = reinterpret_cast<QRgb*>(FImage->scanLine(y));
      for (int32_t x = 0; x < wide.width(); ++x)
        if (src[x].red() == key[0] && src[x].green() == key[1] && src[x].blue() == key[2]) row[x] &= 0x00FFFFFFu;
    }
  }
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

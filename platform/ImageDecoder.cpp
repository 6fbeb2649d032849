#include "platform/ImageDecoder.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QRgba64>
#include <cstring>
#include <vector>

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

// Qt's reader misplaces the rows of an interlaced GIF frame of 3 or 4 rows. Such a first frame
// (inside the screen) is handed over marked sequential, in Copy, and its rows are put in place
// after decoding: Rows[i] is the frame row that the file's i-th row belongs to.
struct TGifRows {
  int32_t Left = 0, Top = 0, Width = 0;
  std::vector<int32_t> Rows;
};

bool UninterlaceSmallGif(const uint8_t* Data, size_t Size, QByteArray& Copy, TGifRows& Frame) {
  if (Size < 13 || std::memcmp(Data, "GIF8", 4) != 0) return false;
  const int32_t screenW = Data[6] | (Data[7] << 8), screenH = Data[8] | (Data[9] << 8);
  size_t at = 13 + ((Data[10] & 0x80) ? 3u * (2u << (Data[10] & 7)) : 0u);
  while (at < Size && Data[at] == 0x21) {  // extensions: label, then sub-blocks up to an empty one
    at += 2;
    while (at < Size && Data[at] != 0) at += 1 + size_t{Data[at]};
    ++at;
  }
  if (at >= Size || Size - at < 10 || Data[at] != 0x2C || !(Data[at + 9] & 0x40)) return false;
  const uint8_t* d = Data + at;
  Frame.Left = d[1] | (d[2] << 8);
  Frame.Top = d[3] | (d[4] << 8);
  Frame.Width = d[5] | (d[6] << 8);
  const int32_t h = d[7] | (d[8] << 8);
  if ((h != 3 && h != 4) || Frame.Left + Frame.Width > screenW || Frame.Top + h > screenH) return false;
  Frame.Rows.clear();
  for (int32_t pass : {0, 1, 2, 3}) {
    static const int32_t first[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
    for (int32_t y = first[pass]; y < h; y += step[pass]) Frame.Rows.push_back(y);
  }
  Copy = QByteArray(reinterpret_cast<const char*>(Data), static_cast<qsizetype>(Size));
  Copy[static_cast<qsizetype>(at + 9)] = static_cast<char>(d[9] & ~0x40);
  return true;
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
  TGifRows gifRows;
  const bool reorder = !keyed && UninterlaceSmallGif(Data, Size, bytes, gifRows);
  if (!keyed && !reorder) bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(Data), static_cast<qsizetype>(Size));
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
  if (reorder && gifRows.Top + static_cast<int32_t>(gifRows.Rows.size()) <= FImage->height() &&
      gifRows.Left + gifRows.Width <= FImage->width()) {
    const QImage seq = FImage->copy();
    const size_t bytesPerRow = static_cast<size_t>(gifRows.Width) * 4;
    for (size_t i = 0; i < gifRows.Rows.size(); ++i)
      std::memcpy(FImage->scanLine(gifRows.Top + gifRows.Rows[i]) + gifRows.Left * 4,
                  seq.constScanLine(gifRows.Top + static_cast<int32_t>(i)) + gifRows.Left * 4, bytesPerRow);
  }
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

#include "platform/Clipboard.h"

#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <algorithm>
#include <cstring>
#include <mutex>

#include "platform/BmpCodec.h"
#include "platform/Graphics.h"
#include "platform/SysUtils.h"

namespace platform {

namespace {

QClipboard* System() { return qGuiApp ? QGuiApplication::clipboard() : nullptr; }

// The exact bitmap of this program; other programs read the image beside it.
const char* const kDibMime = "application/x-kadrilo-dib";
const char* const kTextMime = "text/plain";
const char* const kQtImageMime = "application/x-qt-image";

struct TRegistered {
  std::string Name;
  std::string Mime;
};

std::mutex& RegistryLock() {
  static std::mutex m;
  return m;
}

std::vector<TRegistered>& Registered() {
  static std::vector<TRegistered> list;
  return list;
}

std::string MimeForName(const std::string& name) {
  std::string low = LowerCase(name);
  if (low == "gif image" || low == "gif") return "image/gif";
  if (low == "png") return "image/png";
  return "application/x-kadrilo-format;name=" + name;
}

std::string MimeOf(uint16_t Format) {
  if (Format == CF_TEXT || Format == CF_UNICODETEXT) return kTextMime;
  if (Format == CF_BITMAP) return kDibMime;
  std::lock_guard<std::mutex> g(RegistryLock());
  size_t i = Format >= 0xC000 ? Format - 0xC000u : Registered().size();
  return i < Registered().size() ? Registered()[i].Mime : std::string();
}

uint16_t FormatOfMime(const std::string& mime) {
  if (mime == kTextMime) return CF_TEXT;
  if (mime == kDibMime || mime == kQtImageMime || mime == "image/bmp") return CF_BITMAP;
  std::lock_guard<std::mutex> g(RegistryLock());
  for (size_t i = 0; i < Registered().size(); ++i)
    if (Registered()[i].Mime == mime) return static_cast<uint16_t>(0xC000 + i);
  return 0;
}

std::vector<uint8_t> Bytes(const QByteArray& a) {
  return std::vector<uint8_t>(reinterpret_cast<const uint8_t*>(a.constData()),
                              reinterpret_cast<const uint8_t*>(a.constData()) + a.size());
}

QByteArray ByteArray(const std::vector<uint8_t>& v) {
  return QByteArray(reinterpret_cast<const char*>(v.data()), static_cast<qsizetype>(v.size()));
}

// An image from another program as a BMP file (32 bits when it has alpha, else 24).
std::vector<uint8_t> ImageAsBmp(const QImage& image) {
  if (image.isNull()) return {};
  QImage argb = image.convertToFormat(QImage::Format_ARGB32);
  std::vector<uint32_t> px(static_cast<size_t>(argb.width()) * argb.height());
  for (int y = 0; y < argb.height(); ++y)
    std::memcpy(&px[static_cast<size_t>(y) * argb.width()], argb.constScanLine(y), size_t(4) * argb.width());
  return EncodeBmp(argb.width(), argb.height(), px.data(), image.hasAlphaChannel() ? 32 : 24);
}

}  // namespace

uint16_t RegisterClipboardFormat(const std::string& Name) {
  std::lock_guard<std::mutex> g(RegistryLock());
  auto& list = Registered();
  for (size_t i = 0; i < list.size(); ++i)
    if (SameText(list[i].Name, Name)) return static_cast<uint16_t>(0xC000 + i);
  if (list.size() >= 0x3FFF) throw Exception("Too many clipboard formats");
  list.push_back({Name, MimeForName(Name)});
  return static_cast<uint16_t>(0xC000 + list.size() - 1);
}

std::string GetClipboardFormatName(uint16_t Format) {
  std::lock_guard<std::mutex> g(RegistryLock());
  size_t i = Format >= 0xC000 ? Format - 0xC000u : Registered().size();
  return i < Registered().size() ? Registered()[i].Name : std::string();
}

TClipboard::TClipboard() = default;
TClipboard::~TClipboard() = default;

const QMimeData* TClipboard::Current() const {
  if (FPending) return FPending.get();
  QClipboard* c = System();
  return c ? c->mimeData() : nullptr;
}

QMimeData* TClipboard::Pending() {
  if (!FPending) FPending = std::make_unique<QMimeData>();
  return FPending.get();
}

void TClipboard::Open() { ++FOpenCount; }

void TClipboard::Close() {
  if (FOpenCount == 0) return;
  if (--FOpenCount > 0 || !FPending) return;
  QMimeData* data = FPending.release();
  if (QClipboard* c = System()) c->setMimeData(data);  // the clipboard takes it
  else delete data;
}

std::string TClipboard::AsText() const {
  const QMimeData* m = Current();
  if (!m || !m->hasText()) return std::string();
  return m->text().toStdString();
}

void TClipboard::SetAsText(const std::string& Value) {
  Open();
  Pending()->setText(QString::fromStdString(Value));
  Close();
}

bool TClipboard::HasFormat(uint16_t Format) const {
  const QMimeData* m = Current();
  if (!m) return false;
  switch (Format) {
    case CF_TEXT:
    case CF_UNICODETEXT: return m->hasText();
    case CF_BITMAP: return m->hasFormat(kDibMime) || m->hasImage();
    default: {
      std::string mime = MimeOf(Format);
      return !mime.empty() && m->hasFormat(QString::fromStdString(mime));
    }
  }
}

void TClipboard::Clear() {
  if (FOpenCount > 0) {
    FPending = std::make_unique<QMimeData>();
    return;
  }
  FPending.reset();
  if (QClipboard* c = System()) c->clear();
}

std::vector<uint8_t> TClipboard::GetAsHandle(uint16_t Format) const {
  const QMimeData* m = Current();
  if (!m) return {};
  if (Format == CF_TEXT || Format == CF_UNICODETEXT) {
    std::string t = AsText();
    return std::vector<uint8_t>(t.begin(), t.end());
  }
  if (Format == CF_BITMAP) {
    if (m->hasFormat(kDibMime)) return Bytes(m->data(kDibMime));
    if (m->hasImage()) return ImageAsBmp(qvariant_cast<QImage>(m->imageData()));
    return {};
  }
  std::string mime = MimeOf(Format);
  if (mime.empty() || !m->hasFormat(QString::fromStdString(mime))) return {};
  return Bytes(m->data(QString::fromStdString(mime)));
}

void TClipboard::SetAsHandle(uint16_t Format, const std::vector<uint8_t>& Data) {
  std::string mime = MimeOf(Format);
  if (mime.empty()) throw Exception("Unknown clipboard format " + IntToStr(Format));
  Open();
  try {
    QMimeData* m = Pending();
    if (Format == CF_TEXT || Format == CF_UNICODETEXT) {
      m->setText(QString::fromUtf8(reinterpret_cast<const char*>(Data.data()), static_cast<qsizetype>(Data.size())));
    } else if (Format == CF_BITMAP) {
      m->setData(kDibMime, ByteArray(Data));
      // Other programs get the pixels as an image.
      TBmpImage bmp = DecodeBmp(Data.data(), Data.size());
      QImage img(bmp.Width, bmp.Height, bmp.HasAlpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
      for (int y = 0; y < bmp.Height; ++y)
        std::memcpy(img.scanLine(y), &bmp.Pixels[static_cast<size_t>(y) * bmp.Width], size_t(4) * bmp.Width);
      m->setImageData(img);
    } else {
      m->setData(QString::fromStdString(mime), ByteArray(Data));
    }
  } catch (...) {
    Close();
    throw;
  }
  Close();
}

std::vector<uint16_t> TClipboard::Formats() const {
  std::vector<uint16_t> out;
  const QMimeData* m = Current();
  if (!m) return out;
  for (const QString& f : m->formats()) {
    uint16_t id = FormatOfMime(f.toStdString());
    if (id != 0 && std::find(out.begin(), out.end(), id) == out.end()) out.push_back(id);
  }
  return out;
}

void TClipboard::Assign(const TPersistent* Source) {
  const TGraphic* g = dynamic_cast<const TGraphic*>(Source);
  if (auto* pic = dynamic_cast<const TPicture*>(Source)) {
    g = pic->Graphic();
    if (!g) return;
  }
  if (!g) {
    TPersistent::Assign(Source);
    return;
  }
  Open();
  try {
    Clear();
    uint16_t format = 0;
    std::vector<uint8_t> data;
    TPaletteEntries palette;
    const_cast<TGraphic*>(g)->SaveToClipboardFormat(format, data, palette);
    if (format != 0) SetAsHandle(format, data);  // an empty graphic gives nothing
  } catch (...) {
    FPending.reset();  // nothing half made reaches the clipboard
    Close();
    throw;
  }
  Close();
}

void TClipboard::AssignTo(TPersistent* Dest) const {
  if (auto* pic = dynamic_cast<TPicture*>(Dest)) {
    for (uint16_t f : Formats())
      if (TPicture::SupportsClipboardFormat(f)) {
        pic->LoadFromClipboardFormat(f, GetAsHandle(f), {});
        return;
      }
    throw EInvalidGraphic("Unsupported clipboard format");
  }
  if (auto* bmp = dynamic_cast<TBitmap*>(Dest)) {
    bmp->LoadFromClipboardFormat(CF_BITMAP, GetAsHandle(CF_BITMAP), {});
    return;
  }
  TPersistent::AssignTo(Dest);
}

TClipboard* Clipboard() {
  static TClipboard clipboard;
  return &clipboard;
}

}  // namespace platform

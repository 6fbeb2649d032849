// TGraphic, the picture-format registry, TPicture and TBitmap.
#include <QPainter>
#include <algorithm>
#include <cstring>

#include "platform/BmpCodec.h"
#include "platform/Graphics.h"
#include "platform/GraphicsPriv.h"
#include "platform/SysUtils.h"

namespace platform {

// --- TGraphic ----------------------------------------------------------------------------

void TGraphic::LoadFromFile(const std::string& FileName) {
  TFileStream s(FileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(&s);
}

void TGraphic::SaveToFile(const std::string& FileName) {
  TFileStream s(FileName, fmCreate);
  SaveToStream(&s);
}

void TGraphic::SetTransparent(bool Value) {
  if (FTransparent == Value) return;
  FTransparent = Value;
  Changed();
}

void TGraphic::Changed() {
  FModified = true;
  if (OnChange) OnChange(this);
}

std::unique_ptr<TGraphic> TGraphic::CreateNew() const { return nullptr; }

bool TGraphic::Equals(const TGraphic* Other) const {
  if (Other == this) return true;
  if (!Other || Other->ClassName() != ClassName()) return false;
  if (Empty() || Other->Empty()) return Empty() == Other->Empty();
  TMemoryStream a, b;
  const_cast<TGraphic*>(this)->SaveToStream(&a);
  const_cast<TGraphic*>(Other)->SaveToStream(&b);
  return a.Size() == b.Size() && std::memcmp(a.Memory(), b.Memory(), static_cast<size_t>(a.Size())) == 0;
}

// --- registry ----------------------------------------------------------------------------

namespace {

struct TFormat {
  std::string Extension;
  std::string Description;
  TGraphicFactory Factory;
};

std::vector<TFormat>& Formats() {
  static std::vector<TFormat> formats{
      {"bmp", "Bitmaps", [] { return std::unique_ptr<TGraphic>(std::make_unique<TBitmap>()); }}};
  return formats;
}

std::string NormalExt(std::string ext) {
  if (!ext.empty() && ext[0] == '.') ext.erase(0, 1);
  return LowerCase(ext);
}

}  // namespace

void RegisterFileFormat(const std::string& Extension, const std::string& Description,
                        TGraphicFactory Factory) {
  std::string ext = NormalExt(Extension);
  for (TFormat& f : Formats()) {
    if (f.Extension == ext) {
      f.Description = Description;
      f.Factory = std::move(Factory);
      return;
    }
  }
  Formats().push_back({ext, Description, std::move(Factory)});
}

void UnregisterFileFormat(const std::string& Extension) {
  std::string ext = NormalExt(Extension);
  auto& v = Formats();
  v.erase(std::remove_if(v.begin(), v.end(), [&](const TFormat& f) { return f.Extension == ext; }), v.end());
}

TGraphicFactory FindFileFormat(const std::string& Extension) {
  std::string ext = NormalExt(Extension);
  for (const TFormat& f : Formats())
    if (f.Extension == ext) return f.Factory;
  return {};
}

std::string GraphicFilter() {
  std::string all, parts;
  for (const TFormat& f : Formats()) {
    std::string mask = "*." + f.Extension;
    all += (all.empty() ? "" : ";") + mask;
    parts += "|" + f.Description + " (" + mask + ")|" + mask;
  }
  return "All (" + all + ")|" + all + parts;
}

// --- TPicture ----------------------------------------------------------------------------

TPicture::TPicture() = default;
TPicture::~TPicture() = default;

void TPicture::Changed() {
  if (OnChange) OnChange(this);
}

void TPicture::GraphicChanged(TObject*) { Changed(); }

static std::unique_ptr<TGraphic> CloneGraphic(const TGraphic* g) {
  std::unique_ptr<TGraphic> copy = g->CreateNew();
  if (!copy) {
    // Graphic classes without their own factory are found through the registry.
    for (const TFormat& f : Formats()) {
      auto probe = f.Factory();
      if (probe && probe->ClassName() == g->ClassName()) {
        copy = std::move(probe);
        break;
      }
    }
  }
  if (!copy) throw EInvalidGraphic("Cannot assign a " + g->ClassName() + " to a TPicture");
  copy->Assign(g);
  return copy;
}

void TPicture::SetGraphic(const TGraphic* Value) {
  std::unique_ptr<TGraphic> copy = Value ? CloneGraphic(Value) : nullptr;
  FGraphic = std::move(copy);
  if (FGraphic) FGraphic->OnChange = [this](TObject* s) { GraphicChanged(s); };
  Changed();
}

void TPicture::Assign(const TPersistent* Source) {
  if (!Source) {
    SetGraphic(nullptr);
  } else if (auto* p = dynamic_cast<const TPicture*>(Source)) {
    SetGraphic(p->Graphic());
  } else if (auto* g = dynamic_cast<const TGraphic*>(Source)) {
    SetGraphic(g);
  } else {
    TPersistent::Assign(Source);
  }
}

TBitmap* TPicture::Bitmap() {
  auto* b = dynamic_cast<TBitmap*>(FGraphic.get());
  if (!b) {
    auto nb = std::make_unique<TBitmap>();
    b = nb.get();
    FGraphic = std::move(nb);
    FGraphic->OnChange = [this](TObject* s) { GraphicChanged(s); };
    Changed();
  }
  return b;
}

int32_t TPicture::Width() const { return FGraphic ? FGraphic->Width() : 0; }
int32_t TPicture::Height() const { return FGraphic ? FGraphic->Height() : 0; }

void TPicture::LoadFromFile(const std::string& FileName) {
  std::string ext = NormalExt(ExtractFileExt(FileName));
  TGraphicFactory factory = FindFileFormat(ext);
  if (!factory) throw EInvalidGraphic("Unknown picture file extension (." + ext + ")");
  std::unique_ptr<TGraphic> g = factory();
  g->LoadFromFile(FileName);
  FGraphic = std::move(g);
  FGraphic->OnChange = [this](TObject* s) { GraphicChanged(s); };
  Changed();
}

void TPicture::SaveToFile(const std::string& FileName) {
  if (FGraphic) FGraphic->SaveToFile(FileName);
}

// --- TBitmap -----------------------------------------------------------------------------

namespace {

// Pixels of a bitmap are limited so that size arithmetic never overflows and a hostile size
// fails cleanly before allocation.
constexpr int64_t kMaxBitmapPixels = int64_t{1} << 28;

QImage::Format StorageFormat(TPixelFormat pf) {
  return pf == pf24bit ? QImage::Format_BGR888 : QImage::Format_RGB32;
}

TPixelFormat Stored(TPixelFormat pf) {
  switch (pf) {
    case pfDevice:
    case pf32bit:
    case pf24bit: return pf;
    default: return pf24bit;
  }
}

QImage MakeImage(int32_t w, int32_t h, TPixelFormat pf) {
  if (w <= 0 || h <= 0) return QImage();
  if (int64_t{w} * h > kMaxBitmapPixels)
    throw EOutOfMemory("Bitmap of " + std::to_string(w) + " x " + std::to_string(h) + " pixels is too large");
  QImage img(w, h, StorageFormat(pf));
  if (img.isNull()) throw EOutOfMemory("Out of memory");
  img.fill(Qt::white);
  return img;
}

// Copies the overlap of two images pixel by pixel (formats may differ), keeping every byte
// of 32-bit pixels when both are 32-bit.
void CopyPixels(const QImage& src, QImage& dst) {
  int w = std::min(src.width(), dst.width()), h = std::min(src.height(), dst.height());
  for (int y = 0; y < h; ++y) {
    if (src.format() == dst.format()) {
      int bpp = Is24(src) ? 3 : 4;
      std::memcpy(dst.scanLine(y), src.constScanLine(y), size_t(bpp) * w);
    } else {
      for (int x = 0; x < w; ++x) WriteRgb(dst, x, y, ReadRgb(src, x, y));
    }
  }
}

}  // namespace

TBitmap::TBitmap() : FImage(std::make_unique<QImage>()) {}
TBitmap::~TBitmap() { FCanvas.reset(); }

std::unique_ptr<TGraphic> TBitmap::CreateNew() const { return std::make_unique<TBitmap>(); }

void TBitmap::PrepareChange() {
  if (FCanvas) FCanvas->Release();
}

bool TBitmap::Empty() const { return FImage->isNull(); }
int32_t TBitmap::Width() const { return FWidth; }
int32_t TBitmap::Height() const { return FHeight; }
void TBitmap::SetWidth(int32_t Value) { SetSize(Value, Height()); }
void TBitmap::SetHeight(int32_t Value) { SetSize(Width(), Value); }

void TBitmap::SetSize(int32_t W, int32_t H) {
  W = std::max(W, 0);
  H = std::max(H, 0);
  if (W == Width() && H == Height()) return;
  // A zero side empties the bitmap but the other side is kept, as the original does.
  QImage img = MakeImage(W, H, FPixelFormat);
  PrepareChange();
  if (!img.isNull() && !FImage->isNull()) CopyPixels(*FImage, img);
  *FImage = std::move(img);
  FWidth = W;
  FHeight = H;
  if (FCanvas) FCanvas->SetDevice(FImage->isNull() ? nullptr : FImage.get());
  Changed();
}

void TBitmap::SetPixelFormat(TPixelFormat Value) {
  Value = Stored(Value);
  if (FPixelFormat == Value) return;
  bool reformat = StorageFormat(Value) != StorageFormat(FPixelFormat);
  FPixelFormat = Value;
  if (reformat && !FImage->isNull()) {
    PrepareChange();
    QImage img(FImage->width(), FImage->height(), StorageFormat(Value));
    if (img.isNull()) throw EOutOfMemory("Out of memory");
    CopyPixels(*FImage, img);
    *FImage = std::move(img);
    if (FCanvas) FCanvas->SetDevice(FImage.get());
  }
  Changed();
}

TCanvas* TBitmap::Canvas() {
  if (!FCanvas) {
    FCanvas = std::make_unique<TCanvas>();
    FCanvas->SetDevice(FImage->isNull() ? nullptr : FImage.get());
  }
  return FCanvas.get();
}

void* TBitmap::ScanLine(int32_t Row) {
  if (Row < 0 || Row >= FImage->height()) throw EInvalidGraphicOperation("Scan line index out of range");
  if (!FImage->isDetached()) {
    PrepareChange();
    FImage->bits();
  }
  return const_cast<uchar*>(FImage->constScanLine(Row));
}

TColor TBitmap::TransparentColor() {
  if (FTransparentMode == tmFixed && FTransparentColor != clDefault) return FTransparentColor;
  if (Empty()) return clDefault;
  uint32_t rgb = ReadRgb(*FImage, 0, Height() - 1);
  return static_cast<TColor>(RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF));
}

void TBitmap::SetTransparentColor(TColor Value) {
  if (FTransparentColor == Value && FTransparentMode == tmFixed) return;
  FTransparentColor = Value;
  FTransparentMode = Value == clDefault ? tmAuto : tmFixed;
  Changed();
}

void TBitmap::SetTransparentMode(TTransparentMode Value) {
  if (FTransparentMode == Value) return;
  if (Value == tmAuto) FTransparentColor = clDefault;
  else FTransparentColor = TransparentColor();
  FTransparentMode = Value;
  Changed();
}

void TBitmap::Assign(const TPersistent* Source) {
  if (!Source) {
    PrepareChange();
    *FImage = QImage();
    FWidth = FHeight = 0;
    if (FCanvas) FCanvas->SetDevice(nullptr);
    Changed();
    return;
  }
  if (auto* b = dynamic_cast<const TBitmap*>(Source)) {
    if (b == this) return;
    PrepareChange();
    if (b->FCanvas) b->FCanvas->Release();
    *FImage = b->FImage->copy();  // a deep copy: canvases write through raw scanlines
    FPixelFormat = b->FPixelFormat;
    FWidth = b->FWidth;
    FHeight = b->FHeight;
    FTransparent = b->FTransparent;
    FTransparentMode = b->FTransparentMode;
    FTransparentColor = b->FTransparentColor;
    if (FCanvas) FCanvas->SetDevice(FImage->isNull() ? nullptr : FImage.get());
    Changed();
    return;
  }
  if (auto* g = dynamic_cast<const TGraphic*>(Source)) {
    // Another graphic is drawn onto a white bitmap of its size.
    PrepareChange();
    *FImage = QImage();
    FWidth = FHeight = 0;
    SetSize(g->Width(), g->Height());
    if (!Empty()) {
      TCanvas* c = Canvas();
      const_cast<TGraphic*>(g)->Draw(c, Rect(0, 0, Width(), Height()));
      c->Release();
    }
    Changed();
    return;
  }
  TGraphic::Assign(Source);
}

void TBitmap::LoadFromStream(TStream* Stream) {
  TBmpImage bmp;
  try {
    bmp = ReadBmp(Stream);
  } catch (const EBmpError&) {
    // The class library reports any unreadable bitmap with its picture error.
    throw EInvalidGraphic("Bitmap image is not valid");
  }
  TPixelFormat pf = bmp.BitCount == 32 ? pf32bit : pf24bit;
  QImage img = MakeImage(bmp.Width, bmp.Height, pf);
  for (int y = 0; y < bmp.Height; ++y) {
    const uint32_t* src = &bmp.Pixels[static_cast<size_t>(y) * bmp.Width];
    if (pf == pf32bit) {
      std::memcpy(img.scanLine(y), src, size_t(4) * bmp.Width);
    } else {
      uchar* d = img.scanLine(y);
      for (int x = 0; x < bmp.Width; ++x) {
        d[3 * x] = src[x] & 0xFF;
        d[3 * x + 1] = (src[x] >> 8) & 0xFF;
        d[3 * x + 2] = (src[x] >> 16) & 0xFF;
      }
    }
  }
  PrepareChange();
  *FImage = std::move(img);
  FWidth = bmp.Width;
  FHeight = bmp.Height;
  FPixelFormat = pf;
  if (FCanvas) FCanvas->SetDevice(FImage->isNull() ? nullptr : FImage.get());
  Changed();
}

void TBitmap::SaveToStream(TStream* Stream) {
  int32_t w = FImage->width(), h = FImage->height();
  std::vector<uint32_t> px(static_cast<size_t>(w) * h);
  for (int y = 0; y < h; ++y) {
    if (Is24(*FImage)) {
      for (int x = 0; x < w; ++x) px[static_cast<size_t>(y) * w + x] = 0xFF000000u | ReadRgb(*FImage, x, y);
    } else {
      std::memcpy(&px[static_cast<size_t>(y) * w], FImage->constScanLine(y), size_t(4) * w);
    }
  }
  WriteBmp(Stream, w, h, px.data(), FPixelFormat == pf32bit ? 32 : 24);
}

void TBitmap::Draw(TCanvas* Canvas, const TRect& R) {
  if (Empty() || !Canvas) return;
  if (FCanvas) FCanvas->Release();
  if (!FTransparent) {
    Canvas->CopyRect(R, this->Canvas(), Rect(0, 0, Width(), Height()));
    return;
  }
  QPainter* p = Canvas->Painter();
  if (!p) return;
  // Pixels of the transparent colour are left out.
  QImage part = OpaqueCopy(*FImage, FImage->rect());
  uint32_t key = ToQRgb(TransparentColor());
  for (int y = 0; y < part.height(); ++y) {
    auto* line = reinterpret_cast<uint32_t*>(part.scanLine(y));
    for (int x = 0; x < part.width(); ++x)
      if (line[x] == key) line[x] = 0;
  }
  p->save();
  p->setCompositionMode(QPainter::CompositionMode_SourceOver);
  p->drawImage(ToQRect(R), part);
  p->restore();
}

QImage& TBitmap::Image() {
  PrepareChange();
  return *FImage;
}

const QImage& TBitmap::Image() const { return *FImage; }

}  // namespace platform

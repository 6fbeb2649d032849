// TGraphic, the picture-format registry, TPicture and TBitmap.
#include <QPainter>
#include <algorithm>
#include <cstring>
#include <typeinfo>
#include <unordered_map>

#include "platform/BmpCodec.h"
#include "platform/Clipboard.h"
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
  // Encoded in full before the file is touched: a picture that fails to encode leaves the
  // file that was there as it was.
  TMemoryStream encoded;
  SaveToStream(&encoded);
  encoded.SaveToFile(FileName);
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

void TGraphic::SaveToClipboardFormat(uint16_t&, std::vector<uint8_t>&, TPaletteEntries&) {
  throw EInvalidGraphic("Unsupported clipboard format");
}

void TGraphic::LoadFromClipboardFormat(uint16_t, const std::vector<uint8_t>&, const TPaletteEntries&) {
  throw EInvalidGraphic("Unsupported clipboard format");
}

int32_t GetNearestPaletteIndex(const TPaletteEntries& Palette, TColor Color) {
  uint32_t c = static_cast<uint32_t>(ColorToRGB(Color));
  int r = c & 0xFF, g = (c >> 8) & 0xFF, b = (c >> 16) & 0xFF;
  int32_t best = -1;
  int64_t bestD = INT64_MAX;
  for (size_t i = 0; i < Palette.size(); ++i) {
    uint32_t p = static_cast<uint32_t>(Palette[i]);
    int dr = r - int(p & 0xFF), dg = g - int((p >> 8) & 0xFF), db = b - int((p >> 16) & 0xFF);
    int64_t d = int64_t{dr} * dr + int64_t{dg} * dg + int64_t{db} * db;
    if (d < bestD) {
      bestD = d;
      best = static_cast<int32_t>(i);
    }
  }
  return best;
}

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

namespace {

std::vector<std::pair<uint16_t, TGraphicFactory>>& ClipboardGraphics() {
  static std::vector<std::pair<uint16_t, TGraphicFactory>> list{
      {CF_BITMAP, [] { return std::unique_ptr<TGraphic>(std::make_unique<TBitmap>()); }}};
  return list;
}

}  // namespace

void RegisterClipboardGraphic(uint16_t Format, TGraphicFactory Factory) {
  for (auto& [f, fac] : ClipboardGraphics())
    if (f == Format) {
      fac = std::move(Factory);
      return;
    }
  ClipboardGraphics().emplace_back(Format, std::move(Factory));
}

void UnregisterClipboardGraphic(uint16_t Format) {
  auto& v = ClipboardGraphics();
  v.erase(std::remove_if(v.begin(), v.end(), [&](const auto& e) { return e.first == Format; }), v.end());
}

TGraphicFactory FindClipboardGraphic(uint16_t Format) {
  for (auto& [f, fac] : ClipboardGraphics())
    if (f == Format) return fac;
  return {};
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
  if (!FGraphic) return;
  // The file is read back by the class its extension names, so it is written in that class's
  // format: a graphic of another class is converted, and a name that no class reads is refused
  // before anything is written.
  const std::string ext = NormalExt(ExtractFileExt(FileName));
  TGraphicFactory factory = FindFileFormat(ext);
  if (!factory) throw EInvalidGraphic("Unknown picture file extension (." + ext + ")");
  std::unique_ptr<TGraphic> target = factory();
  if (!target) throw EInvalidGraphic("Unknown picture file extension (." + ext + ")");
  const TGraphic& held = *FGraphic;
  const TGraphic& wanted = *target;
  if (typeid(held) == typeid(wanted)) {
    FGraphic->SaveToFile(FileName);
    return;
  }
  TBitmap flat;
  flat.Assign(FGraphic.get());
  flat.SetPixelFormat(pf24bit);
  target->Assign(&flat);
  target->SaveToFile(FileName);
}

void TPicture::TakeGraphic(std::unique_ptr<TGraphic> G) {
  FGraphic = std::move(G);
  if (FGraphic) FGraphic->OnChange = [this](TObject* s) { GraphicChanged(s); };
  Changed();
}

bool TPicture::SupportsClipboardFormat(uint16_t Format) { return static_cast<bool>(FindClipboardGraphic(Format)); }

void TPicture::LoadFromClipboardFormat(uint16_t Format, const std::vector<uint8_t>& Data,
                                       const TPaletteEntries& Palette) {
  TGraphicFactory factory = FindClipboardGraphic(Format);
  if (!factory) throw EInvalidGraphic("Unsupported clipboard format");
  std::unique_ptr<TGraphic> g = factory();
  g->LoadFromClipboardFormat(Format, Data, Palette);
  TakeGraphic(std::move(g));
}

void TPicture::SaveToClipboardFormat(uint16_t& Format, std::vector<uint8_t>& Data, TPaletteEntries& Palette) {
  if (FGraphic) FGraphic->SaveToClipboardFormat(Format, Data, Palette);
}

// --- TBitmap -----------------------------------------------------------------------------

namespace {

// Pixels of a bitmap are limited so that size arithmetic never overflows and a hostile size
// fails cleanly before allocation.
constexpr int64_t kMaxBitmapPixels = int64_t{1} << 28;

bool IsIndexed(TPixelFormat pf) { return pf == pf1bit || pf == pf4bit || pf == pf8bit; }

int BppOf(TPixelFormat pf) {
  switch (pf) {
    case pf1bit: return 1;
    case pf4bit: return 4;
    case pf8bit: return 8;
    case pf24bit: return 24;
    default: return 32;
  }
}

int64_t StrideOf(int64_t w, int bpp) { return ((w * bpp + 31) / 32) * 4; }

QImage::Format StorageFormat(TPixelFormat pf) {
  return pf == pf24bit ? QImage::Format_BGR888 : QImage::Format_RGB32;
}

TPixelFormat Stored(TPixelFormat pf) {
  switch (pf) {
    case pfDevice:
    case pf1bit:
    case pf4bit:
    case pf8bit:
    case pf32bit:
    case pf24bit: return pf;
    default: return pf24bit;
  }
}

void CheckSize(int64_t w, int64_t h) {
  if (w * h > kMaxBitmapPixels)
    throw EOutOfMemory("Bitmap of " + std::to_string(w) + " x " + std::to_string(h) + " pixels is too large");
}

QImage MakeImage(int32_t w, int32_t h, TPixelFormat pf) {
  if (w <= 0 || h <= 0) return QImage();
  CheckSize(w, h);
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

inline uint8_t GetIndex(const uint8_t* row, int64_t x, int bpp) {
  if (bpp == 8) return row[x];
  if (bpp == 4) return (x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4);
  return (row[x >> 3] >> (7 - (x & 7))) & 1;
}

inline void SetIndex(uint8_t* row, int64_t x, int bpp, uint8_t v) {
  if (bpp == 8) {
    row[x] = v;
  } else if (bpp == 4) {
    uint8_t& b = row[x >> 1];
    b = (x & 1) ? static_cast<uint8_t>((b & 0xF0) | (v & 0x0F)) : static_cast<uint8_t>((b & 0x0F) | (v << 4));
  } else {
    uint8_t& b = row[x >> 3];
    uint8_t m = static_cast<uint8_t>(0x80 >> (x & 7));
    b = (v & 1) ? static_cast<uint8_t>(b | m) : static_cast<uint8_t>(b & ~m);
  }
}

// Palette entry as 0xRRGGBB (black beyond the palette).
inline uint32_t EntryRgb(const TPaletteEntries& p, uint32_t i) {
  if (i >= p.size()) return 0;
  uint32_t c = static_cast<uint32_t>(p[i]);
  return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
}

TPaletteEntries DefaultPalette(int bpp) {
  TPaletteEntries p;
  if (bpp == 1) {
    p = {0x000000, 0xFFFFFF};
  } else if (bpp == 4) {
    // The 16 standard colours in their usual order.
    p = {0x000000, 0x000080, 0x008000, 0x008080, 0x800000, 0x800080, 0x808000, 0xC0C0C0,
         0x808080, 0x0000FF, 0x00FF00, 0x00FFFF, 0xFF0000, 0xFF00FF, 0xFFFF00, 0xFFFFFF};
  } else {
    for (int r = 0; r < 6; ++r)
      for (int g = 0; g < 6; ++g)
        for (int b = 0; b < 6; ++b) p.push_back(static_cast<TColor>(RGB(r * 51, g * 51, b * 51)));
    // Greys between the cube's levels.
    for (int i = 1; p.size() < 256; ++i) {
      int v = i * 255 / 41;
      if (v % 51 == 0) continue;
      p.push_back(static_cast<TColor>(RGB(v, v, v)));
    }
  }
  return p;
}

TPaletteEntries NormalPalette(const TPaletteEntries& Value, size_t Max) {
  TPaletteEntries p;
  for (size_t i = 0; i < Value.size() && i < Max; ++i)
    p.push_back(static_cast<TColor>(static_cast<uint32_t>(ColorToRGB(Value[i])) & 0xFFFFFFu));
  return p;
}

// Nearest palette entry for many colours, remembering the answers.
class TNearest {
 public:
  explicit TNearest(const TPaletteEntries& P) : FPalette(P) {}
  uint8_t operator()(uint32_t Rgb) {
    Rgb &= 0xFFFFFFu;
    auto it = FCache.find(Rgb);
    if (it != FCache.end()) return it->second;
    TColor c = static_cast<TColor>(RGB((Rgb >> 16) & 0xFF, (Rgb >> 8) & 0xFF, Rgb & 0xFF));
    int32_t i = GetNearestPaletteIndex(FPalette, c);
    uint8_t v = static_cast<uint8_t>(i < 0 ? 0 : i);
    FCache.emplace(Rgb, v);
    return v;
  }

 private:
  const TPaletteEntries& FPalette;
  std::unordered_map<uint32_t, uint8_t> FCache;
};

}  // namespace

TBitmap::TBitmap() : FImage(std::make_unique<QImage>()) {}
TBitmap::~TBitmap() { FCanvas.reset(); }

std::unique_ptr<TGraphic> TBitmap::CreateNew() const { return std::make_unique<TBitmap>(); }

void TBitmap::PrepareChange() {
  if (FCanvas) FCanvas->Release();
}

bool TBitmap::Empty() const { return FWidth <= 0 || FHeight <= 0; }
int32_t TBitmap::Width() const { return FWidth; }
int32_t TBitmap::Height() const { return FHeight; }
void TBitmap::SetWidth(int32_t Value) { SetSize(Value, Height()); }
void TBitmap::SetHeight(int32_t Value) { SetSize(Width(), Value); }
int32_t TBitmap::BitsPerPixel() const { return BppOf(FPixelFormat); }
int32_t TBitmap::RowBytes() const {
  return Is24(*FImage) && !Indexed() ? static_cast<int32_t>(StrideOf(FWidth, 24))
                                     : static_cast<int32_t>(StrideOf(FWidth, BppOf(FPixelFormat)));
}

void TBitmap::SyncImage() const {
  if (!Indexed() || !FImageStale) return;
  if (FCanvas) FCanvas->Release();
  QImage img;
  if (!Empty()) {
    img = QImage(FWidth, FHeight, QImage::Format_RGB32);
    if (img.isNull()) throw EOutOfMemory("Out of memory");
    const int bpp = BppOf(FPixelFormat);
    const int64_t stride = StrideOf(FWidth, bpp);
    uint32_t lut[256];
    for (uint32_t i = 0; i < 256; ++i) lut[i] = 0xFF000000u | EntryRgb(FPalette, i);
    for (int32_t y = 0; y < FHeight; ++y) {
      const uint8_t* row = FIndices.data() + y * stride;
      auto* d = reinterpret_cast<uint32_t*>(img.scanLine(y));
      for (int32_t x = 0; x < FWidth; ++x) d[x] = lut[GetIndex(row, x, bpp)];
    }
  }
  *FImage = std::move(img);
  FImageStale = false;
  if (FCanvas) FCanvas->SetDevice(FImage->isNull() ? nullptr : FImage.get());
}

void TBitmap::HandOutImage() {
  SyncImage();
  if (!Indexed() || FImageOut || FImage->isNull()) return;
  FSnapshot = std::make_unique<QImage>(FImage->copy());
  FImageOut = true;
}

void TBitmap::SyncIndices() {
  if (!FImageOut) return;
  PrepareChange();
  FImageOut = false;
  std::unique_ptr<QImage> snap = std::move(FSnapshot);
  if (!Indexed() || !snap || FImage->size() != snap->size() || FIndices.empty()) return;
  const int bpp = BppOf(FPixelFormat);
  const int64_t stride = StrideOf(FWidth, bpp);
  TNearest nearest(FPalette);
  bool changed = false;
  for (int32_t y = 0; y < FHeight; ++y) {
    const auto* now = reinterpret_cast<const uint32_t*>(FImage->constScanLine(y));
    const auto* was = reinterpret_cast<const uint32_t*>(snap->constScanLine(y));
    uint8_t* row = FIndices.data() + y * stride;
    for (int32_t x = 0; x < FWidth; ++x)
      if (((now[x] ^ was[x]) & 0xFFFFFFu) != 0) {
        SetIndex(row, x, bpp, nearest(now[x]));
        changed = true;
      }
  }
  // Drawn colours that the palette lacks now show their entries.
  if (changed) FImageStale = true;
}

TCanvas* TBitmap::EnsureCanvas() {
  if (!FCanvas) {
    FCanvas = std::make_unique<TCanvas>();
    FCanvas->SetDevice(FImage->isNull() ? nullptr : FImage.get());
  }
  return FCanvas.get();
}

void TBitmap::SetSize(int32_t W, int32_t H) {
  W = std::max(W, 0);
  H = std::max(H, 0);
  if (W == Width() && H == Height()) return;
  if (Indexed()) {
    if (W > 0 && H > 0) CheckSize(W, H);
    SyncIndices();
    PrepareChange();
    const int bpp = BppOf(FPixelFormat);
    const int64_t oldStride = StrideOf(FWidth, bpp), stride = StrideOf(W, bpp);
    std::vector<uint8_t> idx;
    if (W > 0 && H > 0) {
      idx.assign(static_cast<size_t>(stride * H), 0);
      // New pixels are white, as far as the palette allows.
      int32_t white = GetNearestPaletteIndex(FPalette, clWhite);
      uint8_t w = static_cast<uint8_t>(white < 0 ? 0 : white);
      const bool keep = !FIndices.empty();
      for (int32_t y = 0; y < H; ++y) {
        uint8_t* row = idx.data() + y * stride;
        const uint8_t* old = keep && y < FHeight ? FIndices.data() + y * oldStride : nullptr;
        for (int32_t x = 0; x < W; ++x) SetIndex(row, x, bpp, old && x < FWidth ? GetIndex(old, x, bpp) : w);
      }
    }
    FIndices = std::move(idx);
    FWidth = W;
    FHeight = H;
    FImageStale = true;
    SyncImage();
    Changed();
    return;
  }
  // A zero side empties the bitmap but the other side is kept, as the platform does.
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
  const bool wasIdx = Indexed(), toIdx = IsIndexed(Value);
  const int newBpp = BppOf(Value);
  const TPaletteEntries before = FPalette;
  if (wasIdx) SyncIndices();
  PrepareChange();
  if (toIdx) {
    FPalette = NormalPalette(FPalette.empty() ? DefaultPalette(newBpp) : FPalette, size_t{1} << newBpp);
    if (FPalette.empty()) FPalette = DefaultPalette(newBpp);
  }
  if (Empty()) {
    FPixelFormat = Value;
    FIndices.clear();
    if (!toIdx) *FImage = QImage();
    FImageStale = toIdx;
    Changed();
    return;
  }
  const int64_t stride = StrideOf(FWidth, newBpp);
  if (!wasIdx && !toIdx) {
    bool reformat = StorageFormat(Value) != StorageFormat(FPixelFormat);
    FPixelFormat = Value;
    if (reformat) {
      QImage img(FImage->width(), FImage->height(), StorageFormat(Value));
      if (img.isNull()) throw EOutOfMemory("Out of memory");
      CopyPixels(*FImage, img);
      *FImage = std::move(img);
      if (FCanvas) FCanvas->SetDevice(FImage.get());
    }
  } else if (!wasIdx && toIdx) {
    std::vector<uint8_t> idx(static_cast<size_t>(stride * FHeight), 0);
    TNearest nearest(FPalette);
    for (int32_t y = 0; y < FHeight; ++y)
      for (int32_t x = 0; x < FWidth; ++x) SetIndex(idx.data() + y * stride, x, newBpp, nearest(ReadRgb(*FImage, x, y)));
    FIndices = std::move(idx);
    FPixelFormat = Value;
    FImageStale = true;
    SyncImage();
  } else if (wasIdx && !toIdx) {
    SyncImage();
    FIndices.clear();
    FPixelFormat = Value;
    if (Value == pf24bit) {
      QImage img(FWidth, FHeight, QImage::Format_BGR888);
      if (img.isNull()) throw EOutOfMemory("Out of memory");
      CopyPixels(*FImage, img);
      *FImage = std::move(img);
    }
    if (FCanvas) FCanvas->SetDevice(FImage.get());
  } else {
    // Between palette depths: indices that the smaller depth cannot hold take the nearest
    // entry it can.
    const int oldBpp = BppOf(FPixelFormat);
    const int64_t oldStride = StrideOf(FWidth, oldBpp);
    const size_t limit = size_t{1} << newBpp;
    const TPaletteEntries& old = before;
    TNearest nearest(FPalette);
    std::vector<uint8_t> idx(static_cast<size_t>(stride * FHeight), 0);
    for (int32_t y = 0; y < FHeight; ++y)
      for (int32_t x = 0; x < FWidth; ++x) {
        uint8_t v = GetIndex(FIndices.data() + y * oldStride, x, oldBpp);
        if (v >= limit) v = nearest(EntryRgb(old, v));
        SetIndex(idx.data() + y * stride, x, newBpp, v);
      }
    FIndices = std::move(idx);
    FPixelFormat = Value;
    FImageStale = true;
    SyncImage();
  }
  Changed();
}

void TBitmap::SetPalette(const TPaletteEntries& Value) {
  if (Indexed()) SyncIndices();
  TPaletteEntries p = NormalPalette(Value, Indexed() ? size_t{1} << BppOf(FPixelFormat) : 256);
  if (p == FPalette) return;
  FPalette = std::move(p);
  if (Indexed()) {
    FImageStale = true;
    SyncImage();
  }
  Changed();
}

TCanvas* TBitmap::Canvas() {
  if (Indexed()) HandOutImage();
  return EnsureCanvas();
}

void* TBitmap::ScanLine(int32_t Row) {
  if (Row < 0 || Row >= FHeight || Empty()) throw EInvalidGraphicOperation("Scan line index out of range");
  if (Indexed()) {
    SyncIndices();
    FImageStale = true;
    return FIndices.data() + Row * StrideOf(FWidth, BppOf(FPixelFormat));
  }
  if (!FImage->isDetached()) {
    PrepareChange();
    FImage->bits();
  }
  return const_cast<uchar*>(FImage->constScanLine(Row));
}

uint8_t TBitmap::PixelIndex(int32_t X, int32_t Y) {
  if (!Indexed() || X < 0 || Y < 0 || X >= FWidth || Y >= FHeight) return 0;
  SyncIndices();
  int bpp = BppOf(FPixelFormat);
  return GetIndex(FIndices.data() + Y * StrideOf(FWidth, bpp), X, bpp);
}

TColor TBitmap::TransparentColor() {
  if (FTransparentMode == tmFixed && FTransparentColor != clDefault) return FTransparentColor;
  if (Empty()) return clDefault;
  SyncImage();
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
    FIndices.clear();
    FImageOut = false;
    FSnapshot.reset();
    FImageStale = false;
    FWidth = FHeight = 0;
    if (FCanvas) FCanvas->SetDevice(nullptr);
    Changed();
    return;
  }
  if (auto* b = dynamic_cast<const TBitmap*>(Source)) {
    if (b == this) return;
    auto* src = const_cast<TBitmap*>(b);
    if (src->Indexed()) src->SyncIndices();
    PrepareChange();
    if (b->FCanvas) b->FCanvas->Release();
    FPixelFormat = b->FPixelFormat;
    FPalette = b->FPalette;
    FIndices = b->FIndices;
    FImageOut = false;
    FSnapshot.reset();
    FWidth = b->FWidth;
    FHeight = b->FHeight;
    if (Indexed()) {
      FImageStale = true;
      SyncImage();
    } else {
      FImageStale = false;
      *FImage = b->FImage->copy();  // a deep copy: canvases write through raw scanlines
    }
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
    FIndices.clear();
    FImageOut = false;
    FSnapshot.reset();
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

void TBitmap::LoadBmp(TBmpImage& bmp) {
  PrepareChange();
  FImageOut = false;
  FSnapshot.reset();
  if (bmp.BitCount <= 8 && !bmp.Indices.empty()) {
    const int bpp = bmp.BitCount == 1 ? 1 : bmp.BitCount == 4 ? 4 : 8;
    const int64_t stride = StrideOf(bmp.Width, bpp);
    std::vector<uint8_t> idx(static_cast<size_t>(stride * bmp.Height), 0);
    for (int32_t y = 0; y < bmp.Height; ++y) {
      const uint8_t* s = bmp.Indices.data() + static_cast<size_t>(y) * bmp.Width;
      uint8_t* row = idx.data() + y * stride;
      if (bpp == 8) std::memcpy(row, s, static_cast<size_t>(bmp.Width));
      else
        for (int32_t x = 0; x < bmp.Width; ++x) SetIndex(row, x, bpp, s[x]);
    }
    TPaletteEntries pal;
    for (uint32_t c : bmp.Palette) pal.push_back(static_cast<TColor>(RGB((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF)));
    FPixelFormat = bpp == 1 ? pf1bit : bpp == 4 ? pf4bit : pf8bit;
    FPalette = std::move(pal);
    FIndices = std::move(idx);
    FWidth = bmp.Width;
    FHeight = bmp.Height;
    FImageStale = true;
    SyncImage();
    Changed();
    return;
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
  *FImage = std::move(img);
  FIndices.clear();
  FImageStale = false;
  FWidth = bmp.Width;
  FHeight = bmp.Height;
  FPixelFormat = pf;
  if (FCanvas) FCanvas->SetDevice(FImage->isNull() ? nullptr : FImage.get());
  Changed();
}

void TBitmap::LoadFromStream(TStream* Stream) {
  TBmpImage bmp;
  TBmpLimits limits;
  limits.KeepIndices = true;
  try {
    bmp = ReadBmp(Stream, limits);
  } catch (const EBmpError&) {
    // The class library reports any unreadable bitmap with its picture error.
    throw EInvalidGraphic("Bitmap image is not valid");
  }
  LoadBmp(bmp);
}

void TBitmap::SaveToStream(TStream* Stream) {
  if (Indexed()) {
    SyncIndices();
    const int bpp = BppOf(FPixelFormat);
    std::vector<uint32_t> pal;
    for (size_t i = 0; i < FPalette.size(); ++i) pal.push_back(EntryRgb(FPalette, static_cast<uint32_t>(i)));
    int32_t w = Empty() ? 0 : FWidth, h = Empty() ? 0 : FHeight;
    std::vector<uint8_t> bytes = EncodeBmpIndexed(w, h, FIndices.data(), StrideOf(w, bpp), bpp, pal);
    Stream->WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
    return;
  }
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

void TBitmap::SaveToClipboardFormat(uint16_t& Format, std::vector<uint8_t>& Data, TPaletteEntries& Palette) {
  TMemoryStream s;
  SaveToStream(&s);
  Format = CF_BITMAP;
  const auto* p = static_cast<const uint8_t*>(s.Memory());
  Data.assign(p, p + s.Size());
  Palette = FPalette;
}

void TBitmap::LoadFromClipboardFormat(uint16_t Format, const std::vector<uint8_t>& Data,
                                      const TPaletteEntries& Palette) {
  if (Format != CF_BITMAP) throw EInvalidGraphic("Unsupported clipboard format");
  std::vector<uint8_t> own;
  const std::vector<uint8_t>* bytes = &Data;
  if (Data.empty()) {
    own = Clipboard()->GetAsHandle(CF_BITMAP);
    bytes = &own;
  }
  if (bytes->empty()) throw EInvalidGraphic("Unsupported clipboard format");
  TBmpImage bmp;
  TBmpLimits limits;
  limits.KeepIndices = true;
  try {
    bmp = DecodeBmp(bytes->data(), bytes->size(), limits);
  } catch (const EBmpError&) {
    throw EInvalidGraphic("Bitmap image is not valid");
  }
  LoadBmp(bmp);
  // A separate palette stands in for a colour table the data lacks.
  if (Indexed() && bmp.Palette.empty() && !Palette.empty()) SetPalette(Palette);
}

void TBitmap::Draw(TCanvas* Canvas, const TRect& R) {
  if (Empty() || !Canvas) return;
  SyncImage();
  if (FCanvas) FCanvas->Release();
  if (!FTransparent) {
    Canvas->CopyRect(R, EnsureCanvas(), Rect(0, 0, Width(), Height()));
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
  if (Indexed()) HandOutImage();
  PrepareChange();
  return *FImage;
}

const QImage& TBitmap::Image() const {
  SyncImage();
  return *FImage;
}

}  // namespace platform

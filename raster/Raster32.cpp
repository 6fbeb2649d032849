#include "raster/Raster32.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <typeinfo>

#include "platform/Clipboard.h"
#include "platform/Graphics.h"
#include "platform/Rounding.h"
#include "raster/Raster32Transforms.h"

namespace raster {

uint8_t GAMMA_TABLE[256];

namespace {

std::mutex& GlobalLock() {
  static std::mutex m;
  return m;
}

bool gRaster32Initialized = false;

int32_t SaturateInt32(int64_t v) {
  if (v > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (v < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);
}

// a * b / c rounded half away from zero, in 64 bits (the clipped end of a 16.16 line can
// move further than 32 bits allow).
int64_t MulDiv64(int64_t a, int64_t b, int64_t c) {
  if (c == 0) return -1;
  __int128 num = static_cast<__int128>(a) * b;
  __int128 q = num / c;
  __int128 r = num % c;
  __int128 ar = r < 0 ? -r : r;
  __int128 ac = c < 0 ? -static_cast<__int128>(c) : c;
  if (2 * ar >= ac) q += ((num < 0) != (c < 0)) ? -1 : 1;
  if (q > std::numeric_limits<int64_t>::max() / 2) return std::numeric_limits<int64_t>::max() / 2;
  if (q < std::numeric_limits<int64_t>::min() / 2) return std::numeric_limits<int64_t>::min() / 2;
  return static_cast<int64_t>(q);
}

}  // namespace

// ---- Colour ----

TColor32 Color32(platform::TColor WinColor) {
  if (WinColor < 0) WinColor = static_cast<platform::TColor>(platform::GetSysColor(WinColor & 0xFF));
  return ColorSwap(WinColor);
}

TColor32 SetAlpha(TColor32 Color32, int32_t NewAlpha) {
  NewAlpha = Constrain(NewAlpha, 0, 255);
  return (Color32 & 0x00FFFFFFu) | (static_cast<uint32_t>(NewAlpha) << 24);
}

TColor32 HSLtoRGB(float H, float S, float L) {
  using LD = long double;
  auto channel = [](LD v) -> uint32_t {
    // Out-of-range input would wrap in the low byte; clamp instead.
    int64_t c = platform::Round(static_cast<LD>(255) * v);
    return static_cast<uint32_t>(std::clamp<int64_t>(c, 0, 255));
  };
  if (S == 0) {
    uint32_t c = channel(L);
    return 0xFF000000u | (c << 16) | (c << 8) | c;
  }
  LD l = L, s = S;
  LD m2 = l <= 0.5L ? l * (1 + s) : l + s - l * s;
  LD m1 = 2 * l - m2;
  auto level = [m1, m2](LD h) -> LD {
    h = h - std::floor(h);
    if (6 * h < 1) return m1 + (m2 - m1) * h * 6;
    if (2 * h < 1) return m2;
    if (3 * h < 2) return m1 + (m2 - m1) * (2.0L / 3 - h) * 6;
    return m1;
  };
  LD h = H;
  uint32_t r = channel(level(h + 1.0L / 3)), g = channel(level(h)), b = channel(level(h - 1.0L / 3));
  return 0xFF000000u | (r << 16) | (g << 8) | b;
}

void RGBtoHSL(TColor32 RGB, float& H, float& S, float& L) {
  using LD = long double;
  LD r = RedComponent(RGB) / 255.0L, g = GreenComponent(RGB) / 255.0L, b = BlueComponent(RGB) / 255.0L;
  LD mx = std::max({r, g, b}), mn = std::min({r, g, b});
  LD l = (mx + mn) / 2;
  L = static_cast<float>(l);
  if (mx == mn) {
    H = 0;
    S = 0;
    return;
  }
  LD d = mx - mn;
  S = static_cast<float>(l >= 0.5L ? d / (2 - mx - mn) : d / (mx + mn));
  LD h;
  if (r == mx)
    h = (g - b) / d;
  else if (g == mx)
    h = 2 + (b - r) / d;
  else
    h = 4 + (r - g) / d;
  h = h / 6;
  if (h < 0) h = h + 1;
  H = static_cast<float>(h);
}

void SetGamma(float Gamma) {
  for (int i = 0; i < 256; ++i) {
    long double v = 255.0L * std::pow(static_cast<long double>(i) / 255.0L, static_cast<long double>(Gamma));
    GAMMA_TABLE[i] = static_cast<uint8_t>(std::clamp<int64_t>(platform::Round(v), 0, 255));
  }
}

// ---- Fixed point and geometry ----

TFixed Fixed(float S) { return SaturateInt32(platform::Round(static_cast<double>(S) * 65536.0)); }

TFixedPoint FixedPoint(float X, float Y) { return {Fixed(X), Fixed(Y)}; }

TPoint RoundPoint(const TdtpFloatPoint& P) {
  return {SaturateInt32(platform::Round(static_cast<double>(P.X))),
          SaturateInt32(platform::Round(static_cast<double>(P.Y)))};
}

TRect MakeRectRounded(const TdtpFloatRect& R, int32_t Rounding) {
  auto rnd = [](float v) { return SaturateInt32(platform::Round(static_cast<double>(v))); };
  TRect r;
  switch (Rounding) {
    case 1:
      r = {platform::Floor(R.Left), platform::Floor(R.Top), platform::Ceil(R.Right), platform::Ceil(R.Bottom)};
      break;
    case 2:
      r = {platform::Ceil(R.Left), platform::Ceil(R.Top), platform::Floor(R.Right), platform::Floor(R.Bottom)};
      if (r.Left > r.Right) r.Right = r.Left;
      if (r.Top > r.Bottom) r.Bottom = r.Top;
      break;
    default:
      r = {rnd(R.Left), rnd(R.Top), rnd(R.Right), rnd(R.Bottom)};
  }
  return r;
}

bool IntersectRect(TRect& Dst, const TRect& R1, const TRect& R2) {
  TRect r{std::max(R1.Left, R2.Left), std::max(R1.Top, R2.Top), std::min(R1.Right, R2.Right),
          std::min(R1.Bottom, R2.Bottom)};
  if (r.Right >= r.Left && r.Bottom >= r.Top) {
    Dst = r;
    return true;
  }
  Dst = TRect{};
  return false;
}

void OffsetFloatRect(TdtpFloatRect& R, float Dx, float Dy) {
  R.Left += Dx;
  R.Right += Dx;
  R.Top += Dy;
  R.Bottom += Dy;
}

void InflateFloatRect(TdtpFloatRect& R, float Dx, float Dy) {
  R.Left -= Dx;
  R.Top -= Dy;
  R.Right += Dx;
  R.Bottom += Dy;
}

bool ClipLine(int32_t& X1, int32_t& Y1, int32_t& X2, int32_t& Y2, int32_t MinX, int32_t MinY, int32_t MaxX,
              int32_t MaxY) {
  auto xcode = [&](int64_t x) { return x < MinX ? 1 : (x > MaxX ? 2 : 0); };
  auto code = [&](int64_t x, int64_t y) { return xcode(x) | (y < MinY ? 4 : (y > MaxY ? 8 : 0)); };
  int64_t x1 = X1, y1 = Y1, x2 = X2, y2 = Y2;
  int c1 = code(x1, y1), c2 = code(x2, y2);
  if ((c1 | c2) == 0) return true;
  if (c1 & c2) return false;
  if (c1 & 12) {
    int64_t edge = c1 < 8 ? MinY : MaxY;
    x1 += MulDiv64(edge - y1, x2 - x1, y2 - y1);
    y1 = edge;
    c1 = xcode(x1);
  }
  if (c2 & 12) {
    int64_t edge = c2 < 8 ? MinY : MaxY;
    x2 += MulDiv64(edge - y2, x2 - x1, y2 - y1);
    y2 = edge;
    c2 = xcode(x2);
  }
  if ((c1 | c2) == 0) {
    X1 = SaturateInt32(x1), Y1 = SaturateInt32(y1), X2 = SaturateInt32(x2), Y2 = SaturateInt32(y2);
    return true;
  }
  if (c1 & c2) return false;
  if (c1 != 0) {
    int64_t edge = c1 == 1 ? MinX : MaxX;
    y1 += MulDiv64(edge - x1, y2 - y1, x2 - x1);
    x1 = edge;
  }
  if (c2 != 0) {
    int64_t edge = c2 == 1 ? MinX : MaxX;
    y2 += MulDiv64(edge - x2, y2 - y1, x2 - x1);
    x2 = edge;
  }
  X1 = SaturateInt32(x1), Y1 = SaturateInt32(y1), X2 = SaturateInt32(x2), Y2 = SaturateInt32(y2);
  return true;
}

// ---- Start-up ----

void InitializeRaster32() {
  std::lock_guard<std::mutex> guard(GlobalLock());
  if (gRaster32Initialized) return;
  InitBlendRoutines();
  SetGamma(0.7f);
  gRaster32Initialized = true;
}

void FinalizeRaster32() {
  std::lock_guard<std::mutex> guard(GlobalLock());
  gRaster32Initialized = false;
}

// ---- TThreadPersistent ----

TThreadPersistent::TThreadPersistent() = default;
TThreadPersistent::~TThreadPersistent() = default;

void TThreadPersistent::Changed() {
  if (FUpdateCount == 0 && OnChange) OnChange(this);
}

void TThreadPersistent::BeginUpdate() { ++FUpdateCount; }

void TThreadPersistent::EndUpdate() {
  if (FUpdateCount < 1) {
    FUpdateCount = 0;
    throw platform::EInvalidOperation("Unpaired TThreadPersistent.EndUpdate");
  }
  --FUpdateCount;
}

void TThreadPersistent::Lock() {
  {
    std::lock_guard<std::mutex> guard(GlobalLock());
    ++FLockCount;
  }
  FLock.lock();
}

void TThreadPersistent::Unlock() {
  FLock.unlock();
  std::lock_guard<std::mutex> guard(GlobalLock());
  --FLockCount;
}

// ---- TCustomMap ----

void TCustomMap::Delete() { SetSize(0, 0); }

bool TCustomMap::Empty() const { return FWidth == 0 || FHeight == 0; }

void TCustomMap::Resized() {
  if (OnResize) OnResize(this);
}

bool TCustomMap::SetSize(int32_t NewWidth, int32_t NewHeight) {
  if (NewWidth == FWidth && NewHeight == FHeight) return false;
  FWidth = NewWidth;
  FHeight = NewHeight;
  return true;
}

// ---- TBitmap32 ----

void TFontDeleter::operator()(platform::TFont* Font) const { delete Font; }

TBitmap32::TBitmap32() {
  InitializeRaster32();
  FFont.reset(new platform::TFont());
  // The font measures at 96 pixels per inch from the start, so that a size set before any text
  // is drawn means the same pixels whatever the display; the default point size stays.
  const int32_t points = FFont->Size();
  FFont->SetPixelsPerInch(96);
  FFont->SetSize(points);
  FFont->OnChange = [this](platform::TObject*) { FontChanged(); };
}

TBitmap32::~TBitmap32() {
  // A bitmap being destroyed announces nothing.
  FDestroying = true;
  OnChange = nullptr;
  OnResize = nullptr;
  OnHandleChanged = nullptr;
  OnPixelCombine = nullptr;
  BeginUpdate();
  Lock();
  FFont.reset();
  SetSize(0, 0);
  Unlock();
}

bool ImageSizeAllowed(int64_t Width, int64_t Height) {
  return Width >= 0 && Height >= 0 && Width <= INT32_MAX && Height <= INT32_MAX &&
         Width * Height <= TBitmap32::MaxPixels;
}

std::string ImageTooLargeText(int64_t Width, int64_t Height) {
  return "Image of " + std::to_string(Width) + " x " + std::to_string(Height) +
         " pixels is larger than the limit of " + std::to_string(TBitmap32::MaxPixels) + " pixels";
}

bool TBitmap32::Empty() const { return FBits == nullptr || FWidth == 0 || FHeight == 0; }

namespace {

// The last large pixel block a bitmap let go, kept for the next bitmap of the same pixel count:
// a page rebuilt at the same size then reuses its memory instead of having the system map,
// zero and fault in tens of megabytes again. A request of another large size gives the block
// back first, so at most one block is held. (New pixels are undefined either way.)
constexpr size_t kSpareMinPixels = size_t{1} << 20;
struct TSpareBlock {
  std::mutex Lock;
  std::unique_ptr<TColor32[]> Block;
  size_t Count = 0;
};
TSpareBlock& Spare() {
  static TSpareBlock* s = new TSpareBlock;  // never destroyed: bitmaps may outlive static destruction
  return *s;
}
void KeepSpare(std::unique_ptr<TColor32[]> Block, size_t Count) {
  if (!Block || Count < kSpareMinPixels) return;
  TSpareBlock& s = Spare();
  std::lock_guard<std::mutex> lock(s.Lock);
  s.Block = std::move(Block);
  s.Count = Count;
}
std::unique_ptr<TColor32[]> TakeSpare(size_t Count) {
  if (Count < kSpareMinPixels) return nullptr;
  TSpareBlock& s = Spare();
  std::lock_guard<std::mutex> lock(s.Lock);
  std::unique_ptr<TColor32[]> b = std::move(s.Block);
  const bool fits = s.Count == Count;
  s.Count = 0;
  if (!fits) b.reset();
  return b;
}

}  // namespace

bool TBitmap32::SetSize(int32_t NewWidth, int32_t NewHeight) {
  if (NewWidth < 1) NewWidth = 0;
  if (NewHeight < 1) NewHeight = 0;
  if (NewWidth == FWidth && NewHeight == FHeight) return false;
  FontChanged();
  KeepSpare(std::move(FPixels), FBits ? static_cast<size_t>(FWidth) * static_cast<size_t>(FHeight) : 0);
  FPixels.reset();
  FBits = nullptr;
  FWidth = 0;
  FHeight = 0;
  if (NewWidth >= 1 && NewHeight >= 1) {
    int64_t count = static_cast<int64_t>(NewWidth) * NewHeight;
    if (count > MaxPixels) throw platform::Exception("Can't allocate the DIB handle");
    FPixels = TakeSpare(static_cast<size_t>(count));
    if (!FPixels) FPixels.reset(new (std::nothrow) TColor32[static_cast<size_t>(count)]);
    if (!FPixels) throw platform::Exception("Can't allocate the DIB handle");
    FBits = FPixels.get();
  }
  FWidth = NewWidth;
  FHeight = NewHeight;
  HandleChanged();
  Changed();
  Resized();
  return true;
}

void TBitmap32::HandleChanged() {
  if (OnHandleChanged) OnHandleChanged(this);
}

void TBitmap32::Assign(const platform::TPersistent* Source) {
  BeginUpdate();
  try {
    if (Source == nullptr) {
      SetSize(0, 0);
    } else if (auto* src = dynamic_cast<const TBitmap32*>(Source)) {
      if (src != this) {
        SetSize(src->Width(), src->Height());
        if (!Empty() && !src->Empty())
          std::memcpy(FBits, src->Bits(), static_cast<size_t>(FWidth) * static_cast<size_t>(FHeight) * 4);
        FDrawMode = src->FDrawMode;
        FMasterAlpha = src->FMasterAlpha;
        FOuterColor = src->FOuterColor;
        FStretchFilter = src->FStretchFilter;
      }
    } else if (auto* pic = dynamic_cast<const platform::TPicture*>(Source)) {
      platform::TGraphic* g = pic->Graphic();
      if (g == nullptr)
        SetSize(0, 0);
      else
        AssignGraphic(g);
    } else if (auto* g = dynamic_cast<const platform::TGraphic*>(Source)) {
      AssignGraphic(g);
    } else if (auto* clip = dynamic_cast<const platform::TClipboard*>(Source)) {
      // Through a picture: the first clipboard format a graphic class is tied to.
      platform::TPicture pic;
      pic.Assign(clip);
      if (pic.Graphic() == nullptr) SetSize(0, 0);
      else AssignGraphic(pic.Graphic());
    } else {
      TCustomMap::Assign(Source);
    }
  } catch (...) {
    EndUpdate();
    Changed();
    throw;
  }
  EndUpdate();
  Changed();
}

void TBitmap32::CopyFromBitmap(platform::TBitmap* Bmp) {
  SetSize(Bmp->Width(), Bmp->Height());
  if (Empty()) return;
  const int32_t bpp = Bmp->BitsPerPixel();
  // Palette bitmaps: each index through the colour table (entries beyond it are black).
  TColor32 lut[256];
  if (bpp <= 8) {
    const platform::TPaletteEntries& pal = Bmp->Palette();
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i < pal.size() ? static_cast<uint32_t>(pal[i]) : 0;
      lut[i] = 0xFF000000u | ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
    }
  }
  for (int32_t y = 0; y < FHeight; ++y) {
    const uint8_t* s = static_cast<const uint8_t*>(Bmp->ScanLine(y));
    TColor32* d = ScanLine(y);
    if (bpp == 32) {
      std::memcpy(d, s, static_cast<size_t>(FWidth) * 4);
    } else if (bpp == 24) {
      for (int32_t x = 0; x < FWidth; ++x, s += 3) d[x] = 0xFF000000u | (s[2] << 16) | (s[1] << 8) | s[0];
    } else {
      const uint32_t mask = (1u << bpp) - 1;
      for (int32_t x = 0; x < FWidth; ++x) {
        int32_t bit = x * bpp;
        d[x] = lut[(s[bit >> 3] >> (8 - bpp - (bit & 7))) & mask];
      }
    }
  }
}

void TBitmap32::AssignGraphic(const platform::TGraphic* Graphic) {
  // The class library's objects draw through their canvas; the pixels are read back from it.
  auto* g = const_cast<platform::TGraphic*>(Graphic);
  if (auto* bmp = dynamic_cast<platform::TBitmap*>(g)) {
    bool alpha = bmp->PixelFormat() == platform::pf32bit;
    CopyFromBitmap(bmp);
    if (!alpha) ResetAlpha();
    return;
  }
  platform::TBitmap tmp;
  tmp.SetPixelFormat(platform::pf32bit);
  tmp.SetSize(g->Width(), g->Height());
  if (!tmp.Empty()) tmp.Canvas()->Draw(0, 0, g);
  CopyFromBitmap(&tmp);
  ResetAlpha();
}

void TBitmap32::AssignTo(platform::TPersistent* Dest) const {
  if (auto* pic = dynamic_cast<platform::TPicture*>(Dest)) {
    AssignTo(pic->Bitmap());
    return;
  }
  if (auto* bmp = dynamic_cast<platform::TBitmap*>(Dest)) {
    bmp->SetPixelFormat(platform::pf32bit);
    bmp->SetSize(FWidth, FHeight);
    if (Empty()) return;
    for (int32_t y = 0; y < FHeight; ++y) std::memcpy(bmp->ScanLine(y), ScanLine(y), static_cast<size_t>(FWidth) * 4);
    return;
  }
  if (auto* clip = dynamic_cast<platform::TClipboard*>(Dest)) {
    platform::TBitmap bmp;
    AssignTo(&bmp);
    clip->Assign(&bmp);
    return;
  }
  TCustomMap::AssignTo(Dest);
}

bool BitmapsEqual(const TBitmap32* A, const TBitmap32* B) {
  if (A == nullptr || B == nullptr) return A == B;
  if (A->Empty() || B->Empty()) return A->Empty() && B->Empty();
  if (typeid(*A) != typeid(*B)) return false;
  // Equal BMP serialisations: the same size (a zero side counts as empty above) and the same
  // four bytes in every pixel, which is what SaveToStream writes.
  if (A->Width() != B->Width() || A->Height() != B->Height()) return false;
  return std::memcmp(A->Bits(), B->Bits(), static_cast<size_t>(A->Width()) * static_cast<size_t>(A->Height()) * 4) == 0;
}

void TBitmap32::DefineProperties(platform::TFiler* Filer) {
  bool hasData;
  platform::TPersistent* ancestor = Filer->Ancestor();
  if (ancestor == nullptr)
    hasData = !Empty();
  else if (auto* b = dynamic_cast<TBitmap32*>(ancestor))
    hasData = !BitmapsEqual(this, b);
  else
    hasData = true;
  Filer->DefineBinaryProperty(
      "Data", [this](platform::TStream* S) { ReadData(S); }, [this](platform::TStream* S) { WriteData(S); },
      hasData);
}

void TBitmap32::ReadData(platform::TStream* Stream) {
  int32_t size[2];
  Stream->ReadBuffer(size, 8);
  int32_t w = std::max(size[0], 0), h = std::max(size[1], 0);
  int64_t pixels = (w > 0 && h > 0) ? static_cast<int64_t>(w) * h : 0;
  // The size comes from the stream: check it against the data before allocating.
  int64_t available = Stream->GetSize() - Stream->GetPosition();
  if (pixels > MaxPixels || pixels * 4 > available) throw platform::Exception("Can't allocate the DIB handle");
  int64_t bytes = pixels * 4;
  SetSize(w, h);
  uint8_t* p = reinterpret_cast<uint8_t*>(FBits);
  while (bytes > 0) {
    int32_t chunk = static_cast<int32_t>(std::min<int64_t>(bytes, 1 << 30));
    Stream->ReadBuffer(p, chunk);
    p += chunk;
    bytes -= chunk;
  }
  Changed();
}

void TBitmap32::WriteData(platform::TStream* Stream) const {
  int32_t size[2] = {FWidth, FHeight};
  Stream->WriteBuffer(size, 8);
  if (Empty()) return;
  int64_t bytes = static_cast<int64_t>(FWidth) * FHeight * 4;
  const uint8_t* p = reinterpret_cast<const uint8_t*>(FBits);
  while (bytes > 0) {
    int32_t chunk = static_cast<int32_t>(std::min<int64_t>(bytes, 1 << 30));
    Stream->WriteBuffer(p, chunk);
    p += chunk;
    bytes -= chunk;
  }
}

void TBitmap32::SetDrawMode(TDrawMode Value) {
  if (FDrawMode == Value) return;
  FDrawMode = Value;
  Changed();
}

void TBitmap32::SetMasterAlpha(uint32_t Value) {
  if (FMasterAlpha == Value) return;
  FMasterAlpha = Value;
  Changed();
}

void TBitmap32::SetStretchFilter(TStretchFilter Value) {
  if (FStretchFilter == Value) return;
  FStretchFilter = Value;
  Changed();
}

void TBitmap32::DrawToBitmap(TBitmap32* Dst, const TRect& DstRect) {
  if (Empty() || Dst == nullptr || Dst->Empty()) return;
  StretchTransfer(Dst, DstRect, this, MakeRect(0, 0, FWidth, FHeight), FStretchFilter, FDrawMode, OnPixelCombine);
  Dst->Changed();
}

void TBitmap32::DrawToRect(TBitmap32* Dst, const TRect& DstRect, const TRect& SrcRect) {
  if (Empty() || Dst == nullptr || Dst->Empty()) return;
  StretchTransfer(Dst, DstRect, this, SrcRect, FStretchFilter, FDrawMode, OnPixelCombine);
  Dst->Changed();
}

void TBitmap32::DrawToDC(platform::TCanvas* DC, int32_t X, int32_t Y) const {
  if (Empty() || DC == nullptr) return;
  platform::TBitmap tmp;
  AssignTo(&tmp);
  DC->Draw(X, Y, &tmp);
}

}  // namespace raster

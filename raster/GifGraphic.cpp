#include "raster/GifGraphic.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace raster {

using platform::TColor;
using platform::TStream;

namespace {

// Caps that keep a hostile header from asking for gigabytes of pixel indices.
constexpr int64_t MaxFramePixels = int64_t(1) << 26;
constexpr int64_t MaxImagePixels = int64_t(1) << 27;
constexpr const char* sImageTooLarge = "Image too large";

bool ReadByte(TStream* S, uint8_t& B) { return S->Read(&B, 1) == 1; }

void ReadExact(TStream* S, void* Buffer, int32_t Count) {
  if (Count > 0 && S->Read(Buffer, Count) != Count) throw GIFException(sPrematureEOF);
}

void WriteByte(TStream* S, uint8_t B) { S->WriteBuffer(&B, 1); }

void StepBack(TStream* S) { S->Seek(-1, platform::soFromCurrent); }

int64_t Remaining(TStream* S) { return std::max<int64_t>(0, S->GetSize() - S->GetPosition()); }

// Reads data sub-blocks while a length byte can be read and is not 0.
void ReadBlocks(TStream* S, std::vector<std::string>& Blocks) {
  uint8_t len;
  while (ReadByte(S, len) && len != 0) {
    std::string b(len, '\0');
    int32_t got = S->Read(b.data(), len);
    b.resize(std::max(got, 0));
    Blocks.push_back(std::move(b));
    if (got < len) break;
  }
}

bool IsLoopIdentifier(const std::string& Fixed) {
  return Fixed.size() == 12 && (Fixed.compare(1, 11, "NETSCAPE2.0") == 0 || Fixed.compare(1, 11, "ANIMEXTS1.0") == 0);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Colour tables

int32_t TGIFColorMap::Add(TColor Color) {
  if (Count() >= 256) throw GIFException(sColorTableOverflow);
  FData.push_back(static_cast<uint8_t>(Color & 0xFF));
  FData.push_back(static_cast<uint8_t>((Color >> 8) & 0xFF));
  FData.push_back(static_cast<uint8_t>((Color >> 16) & 0xFF));
  Optimized = false;
  return Count() - 1;
}

int32_t TGIFColorMap::AddUnique(TColor Color) {
  int32_t i = IndexOf(Color);
  return i >= 0 ? i : Add(Color);
}

int32_t TGIFColorMap::IndexOf(TColor Color) const {
  const uint8_t r = Color & 0xFF, g = (Color >> 8) & 0xFF, b = (Color >> 16) & 0xFF;
  auto match = [&](int32_t i) { return FData[i * 3] == r && FData[i * 3 + 1] == g && FData[i * 3 + 2] == b; };
  // An unsorted table answers the last of equal entries.
  if (Optimized) {
    for (int32_t i = 0; i < Count(); ++i)
      if (match(i)) return i;
  } else {
    for (int32_t i = Count() - 1; i >= 0; --i)
      if (match(i)) return i;
  }
  return -1;
}

void TGIFColorMap::Delete(int32_t Index) {
  if (Index < 0 || Index >= Count()) throw GIFException(sBadColorIndex);
  FData.erase(FData.begin() + Index * 3, FData.begin() + Index * 3 + 3);
  Optimized = false;
}

TColor TGIFColorMap::Colors(int32_t Index) const {
  if (Index < 0 || Index >= Count()) {
    if (FImage) FImage->Warning(FImage, 1, sBadColorIndex);
    if (Count() == 0) throw GIFException(sColorTableEmpty);
    Index = 0;
  }
  return platform::RGB(FData[Index * 3], FData[Index * 3 + 1], FData[Index * 3 + 2]);
}

void TGIFColorMap::SetColors(int32_t Index, TColor Color) {
  if (Index < 0 || Index >= Count()) throw GIFException(sBadColorIndex);
  FData[Index * 3] = Color & 0xFF;
  FData[Index * 3 + 1] = (Color >> 8) & 0xFF;
  FData[Index * 3 + 2] = (Color >> 16) & 0xFF;
}

void TGIFColorMap::Clear() {
  FData.clear();
  Optimized = false;
}

int32_t TGIFColorMap::BitsPerPixel() const {
  const int32_t n = Count();
  if (n == 0) return 0;
  int32_t bits = 1;
  while ((1 << bits) < n) ++bits;
  return bits;
}

void TGIFColorMap::SaveToStream(TStream* Stream) const {
  std::vector<uint8_t> out(FData);
  out.resize(static_cast<size_t>(3) << BitsPerPixel(), 0);
  if (Count() == 0) out.clear();
  if (!out.empty()) Stream->WriteBuffer(out.data(), static_cast<int32_t>(out.size()));
}

void TGIFColorMap::LoadFromStream(TStream* Stream, int32_t ACount) {
  std::vector<uint8_t> in(static_cast<size_t>(ACount) * 3);
  ReadExact(Stream, in.data(), static_cast<int32_t>(in.size()));
  FData = std::move(in);
  Optimized = false;
}

// ---------------------------------------------------------------------------------------------
// Frames

TGIFSubImage::TGIFSubImage(TGifGraphic* Image) : ColorMap(Image), FImage(Image) {}

void TGIFSubImage::SetInterlaced(bool Value) {
  Descriptor[9] = Value ? (Descriptor[9] | 0x40) : (Descriptor[9] & ~0x40);
}

void TGIFSubImage::SetBounds(int32_t ALeft, int32_t ATop, int32_t AWidth, int32_t AHeight) {
  ALeft = std::clamp(ALeft, 0, 0xFFFF);
  ATop = std::clamp(ATop, 0, 0xFFFF);
  AWidth = std::clamp(AWidth, 0, 0xFFFF);
  AHeight = std::clamp(AHeight, 0, 0xFFFF);
  if (int64_t(AWidth) * AHeight > MaxFramePixels) throw GIFException(sImageTooLarge);
  const bool resized = AWidth != Width() || AHeight != Height();
  auto put = [&](int i, int32_t v) {
    Descriptor[i] = v & 0xFF;
    Descriptor[i + 1] = (v >> 8) & 0xFF;
  };
  put(1, ALeft);
  put(3, ATop);
  put(5, AWidth);
  put(7, AHeight);
  if (resized) Data.assign(static_cast<size_t>(AWidth) * AHeight, 0);
  bool warned = false;
  if (ALeft + AWidth > FImage->ScreenWidth) {
    if (FImage->ScreenWidth > 0) {
      FImage->Warning(FImage, 1, sWidthTooSmall);
      warned = true;
    }
    FImage->ScreenWidth = static_cast<uint16_t>(std::min(ALeft + AWidth, 0xFFFF));
  }
  if (ATop + AHeight > FImage->ScreenHeight) {
    if (FImage->ScreenHeight > 0) {
      FImage->Warning(FImage, 1, sHeightTooSmall);
      warned = true;
    }
    FImage->ScreenHeight = static_cast<uint16_t>(std::min(ATop + AHeight, 0xFFFF));
  }
  if (warned) FImage->Warning(FImage, 1, sScreenSizeExceeded);
}

uint8_t TGIFSubImage::GetPixel(int32_t X, int32_t Y) const {
  if (X < 0 || X >= Width() || Y < 0 || Y >= Height()) throw GIFException(sBadPixelCoordinates);
  if (Data.empty()) throw GIFException(sImageEmpty);
  return Data[static_cast<size_t>(Y) * Width() + X];
}

uint8_t* TGIFSubImage::Scanline(int32_t Y) {
  if (Y < 0 || Y >= Height()) throw GIFException(sBadPixelCoordinates);
  if (Data.empty()) throw GIFException(sImageEmpty);
  return Data.data() + static_cast<size_t>(Y) * Width();
}

TGIFColorMap& TGIFSubImage::ActiveColorMap() {
  if (ColorMap.Count() > 0) return ColorMap;
  if (FImage->GlobalColorMap().Count() > 0) return FImage->GlobalColorMap();
  return ColorMap;
}

int32_t TGIFSubImage::GetVersion() const {
  return (ColorMap.Optimized || !Extensions.empty()) ? 2 : 1;
}

void TGIFSubImage::AddGraphicControl(const TGIFGraphicControl& Value) {
  TGIFExtension e;
  e.Label = 0xF9;
  Extensions.push_back(e);
  if (!FHasGCE) {
    FHasGCE = true;
    FGCEIndex = static_cast<int32_t>(Extensions.size()) - 1;
    FGCE = Value;
  }
}

void TGIFSubImage::LoadFromStream(TStream* Stream) {
  Data.clear();
  Extensions.clear();
  ColorMap.Clear();
  FHasGCE = false;
  FGCEIndex = -1;
  uint8_t b = 0;
  bool more = ReadByte(Stream, b);
  while (more && b != ',' && b != ';') {
    if (b != '!') {
      FImage->Warning(FImage, 1, sBadExtension);
      break;
    }
    TGIFExtension e;
    ReadExact(Stream, &e.Label, 1);
    switch (e.Label) {
      case 0xF9: {
        uint8_t d[6] = {};
        int32_t got = Stream->Read(d, 6);
        if (got < 6) {
          FImage->Warning(FImage, 1, sPrematureEOF);
        }
        Extensions.push_back(e);
        if (!FHasGCE) {
          FHasGCE = true;
          FGCEIndex = static_cast<int32_t>(Extensions.size()) - 1;
          FGCE.Packed = d[1];
          FGCE.Delay = static_cast<uint16_t>(d[2] | d[3] << 8);
          FGCE.TransparentColorIndex = d[4];
        }
        break;
      }
      case 0x01: {
        e.Fixed.resize(13);
        ReadExact(Stream, e.Fixed.data(), 13);
        ReadBlocks(Stream, e.Blocks);
        Extensions.push_back(std::move(e));
        break;
      }
      case 0xFE:
        ReadBlocks(Stream, e.Blocks);
        Extensions.push_back(std::move(e));
        break;
      case 0xFF: {
        uint8_t size = 0;
        ReadExact(Stream, &size, 1);
        if (size < 10) throw GIFException(sBadAppBlockSize);
        // Identifier and code are always written back as 11 bytes.
        e.Fixed.assign(12, '\0');
        e.Fixed[0] = 11;
        ReadExact(Stream, e.Fixed.data() + 1, std::min<int32_t>(size, 11));
        if (size > 11) Stream->Seek(std::min<int64_t>(size - 11, Remaining(Stream)), platform::soFromCurrent);
        ReadBlocks(Stream, e.Blocks);
        if (IsLoopIdentifier(e.Fixed))
          for (const std::string& blk : e.Blocks) {
            if (blk.empty()) continue;
            const int id = static_cast<uint8_t>(blk[0]) & 7;
            if ((id == 1 && blk.size() < 3) || (id == 2 && blk.size() < 5)) throw GIFException(sBadGIFData);
          }
        Extensions.push_back(std::move(e));
        break;
      }
      default:
        throw GIFException(sUnknownExtension);
    }
    more = ReadByte(Stream, b);
  }
  if (more) StepBack(Stream);
  uint8_t peek = 0;
  if (!ReadByte(Stream, peek)) return;
  StepBack(Stream);
  if (peek == ';' || peek == 0) return;
  ReadExact(Stream, Descriptor, 10);
  if (Width() == 0 || Height() == 0) {
    Descriptor[5] = FImage->ScreenWidth & 0xFF;
    Descriptor[6] = FImage->ScreenWidth >> 8;
    Descriptor[7] = FImage->ScreenHeight & 0xFF;
    Descriptor[8] = FImage->ScreenHeight >> 8;
    FImage->Warning(FImage, 1, sScreenSizeExceeded);
  }
  if (Descriptor[9] & 0x80) ColorMap.LoadFromStream(Stream, 2 << (Descriptor[9] & 7));
  GIFDecode(this, Stream);
}

void TGIFSubImage::SaveToStream(TStream* Stream) {
  int32_t gce = 0;
  for (size_t i = 0; i < Extensions.size(); ++i) {
    const TGIFExtension& e = Extensions[i];
    WriteByte(Stream, '!');
    WriteByte(Stream, e.Label);
    if (e.Label == 0xF9) {
      TGIFGraphicControl g;
      if (static_cast<int32_t>(i) == FGCEIndex) g = FGCE;
      const uint8_t d[6] = {4, g.Packed, static_cast<uint8_t>(g.Delay & 0xFF), static_cast<uint8_t>(g.Delay >> 8),
                            g.TransparentColorIndex, 0};
      Stream->WriteBuffer(d, 6);
      ++gce;
      continue;
    }
    if (!e.Fixed.empty()) Stream->WriteBuffer(e.Fixed.data(), static_cast<int32_t>(e.Fixed.size()));
    for (const std::string& blk : e.Blocks) {
      // Longer pieces (only possible for text set by code) go out in 255-byte sub-blocks.
      for (size_t p = 0; p < blk.size(); p += 255) {
        const size_t n = std::min<size_t>(255, blk.size() - p);
        WriteByte(Stream, static_cast<uint8_t>(n));
        Stream->WriteBuffer(blk.data() + p, static_cast<int32_t>(n));
      }
    }
    WriteByte(Stream, 0);
  }
  if (Empty()) return;
  uint8_t d[10];
  std::memcpy(d, Descriptor, 10);
  d[0] = ',';
  int32_t bpp, colors;
  if (ColorMap.Count() > 0) {
    bpp = ColorMap.BitsPerPixel();
    d[9] = static_cast<uint8_t>(0x80 | (ColorMap.Optimized ? 0x20 : 0) | (bpp - 1));
    colors = ColorMap.Count();
  } else {
    d[9] = Descriptor[9] & 0x58;
    bpp = FImage->HighestBitsPerPixel();
    colors = 1 << bpp;
  }
  Stream->WriteBuffer(d, 10);
  ColorMap.SaveToStream(Stream);
  GIFEncode(Stream, bpp, colors, Data.data(), (d[9] & 0x40) != 0, Width(), Height(), FImage);
}

// ---------------------------------------------------------------------------------------------
// The image

TGifGraphic::TGifGraphic() : FGlobal(this) {}
TGifGraphic::~TGifGraphic() = default;

void TGifGraphic::Clear() {
  FImages.clear();
  FGlobal.Clear();
  ScreenWidth = ScreenHeight = 0;
  HeaderPacked = 0;
}

void TGifGraphic::Warning(platform::TObject* Sender, int32_t Severity, const std::string& Message) {
  if (OnWarning) OnWarning(Sender, Severity, Message);
}

TGIFSubImage* TGifGraphic::Add() {
  FImages.push_back(std::make_unique<TGIFSubImage>(this));
  return FImages.back().get();
}

int32_t TGifGraphic::HighestBitsPerPixel() const {
  int32_t bpp = FGlobal.BitsPerPixel();
  for (const auto& f : FImages) bpp = std::max(bpp, f->ColorMap.BitsPerPixel());
  return bpp;
}

void TGifGraphic::SetWidth(int32_t Value) {
  for (const auto& f : FImages)
    if (f->Left() + f->Width() > Value) throw GIFException(sWidthTooSmall);
  ScreenWidth = static_cast<uint16_t>(std::clamp(Value, 0, 0xFFFF));
}

void TGifGraphic::SetHeight(int32_t Value) {
  for (const auto& f : FImages)
    if (f->Top() + f->Height() > Value) throw GIFException(sHeightTooSmall);
  ScreenHeight = static_cast<uint16_t>(std::clamp(Value, 0, 0xFFFF));
}

int32_t TGifGraphic::Loops() const {
  if (FImages.empty()) return -1;
  for (const TGIFExtension& e : FImages[0]->Extensions)
    if (e.Label == 0xFF && IsLoopIdentifier(e.Fixed))
      for (const std::string& blk : e.Blocks)
        if (blk.size() >= 3 && (static_cast<uint8_t>(blk[0]) & 7) == 1)
          return static_cast<uint8_t>(blk[1]) | static_cast<uint8_t>(blk[2]) << 8;
  return -1;
}

void TGifGraphic::LoadFromStream(TStream* Stream) {
  Clear();
  const int64_t start = Stream->GetPosition();
  char sig[6];
  ReadExact(Stream, sig, 6);
  auto isGif = [&] { return std::toupper(sig[0]) == 'G' && std::toupper(sig[1]) == 'I' && std::toupper(sig[2]) == 'F'; };
  if (!isGif()) {
    Stream->SetPosition(start + 4);
    ReadExact(Stream, sig, 6);
    if (!isGif()) throw GIFException(sBadSignature);
  }
  uint8_t sd[7];
  ReadExact(Stream, sd, 7);
  ScreenWidth = static_cast<uint16_t>(sd[0] | sd[1] << 8);
  ScreenHeight = static_cast<uint16_t>(sd[2] | sd[3] << 8);
  HeaderPacked = sd[4];
  BackgroundColorIndex = sd[5];
  AspectRatio = sd[6];
  if (HeaderPacked & 0x80) {
    FGlobal.LoadFromStream(Stream, 2 << (HeaderPacked & 7));
    FGlobal.Optimized = (HeaderPacked & 0x08) != 0;
  }
  int64_t pixels = 0;
  uint8_t b = 0;
  auto skipZeros = [&] {
    while (ReadByte(Stream, b))
      if (b != 0) return true;
    return false;
  };
  bool more = skipZeros();
  while (more && b != ';') {
    StepBack(Stream);
    if (b != '!' && b != ',') {
      Warning(this, 1, sUnknownBlock);
      break;
    }
    FImages.push_back(std::make_unique<TGIFSubImage>(this));
    TGIFSubImage* f = FImages.back().get();
    f->LoadFromStream(Stream);
    pixels += static_cast<int64_t>(f->Data.size());
    if (pixels > MaxImagePixels) throw GIFException(sImageTooLarge);
    more = skipZeros();
  }
  if (more && b == ';') StepBack(Stream);
  uint8_t trailer;
  if (ReadByte(Stream, trailer) && trailer != ';') Warning(this, 1, sBadTrailer);
}

void TGifGraphic::SaveToStream(TStream* Stream) {
  int32_t version = 0;
  for (const auto& f : FImages) version = std::max(version, f->GetVersion());
  if (version == 0) throw GIFException(sUnsupportedVersion);
  Stream->WriteBuffer(version == 1 ? "GIF87a" : "GIF89a", 6);
  uint8_t packed = 0;
  if (FGlobal.Count() > 0) packed = static_cast<uint8_t>(0x80 | (FGlobal.Optimized ? 0x08 : 0) | (FGlobal.BitsPerPixel() - 1));
  packed |= static_cast<uint8_t>((std::max(HighestBitsPerPixel() - 1, 0) & 7) << 4);
  HeaderPacked = packed;
  const uint8_t sd[7] = {static_cast<uint8_t>(ScreenWidth & 0xFF), static_cast<uint8_t>(ScreenWidth >> 8),
                         static_cast<uint8_t>(ScreenHeight & 0xFF), static_cast<uint8_t>(ScreenHeight >> 8), packed,
                         BackgroundColorIndex, AspectRatio};
  Stream->WriteBuffer(sd, 7);
  if (packed & 0x80) FGlobal.SaveToStream(Stream);
  for (const auto& f : FImages) f->SaveToStream(Stream);
  WriteByte(Stream, ';');
}

void TGifGraphic::Draw(platform::TCanvas* Canvas, const platform::TRect& R) {
  if (Empty() || Width() == 0 || Height() == 0) return;
  const platform::TRect whole = platform::Rect(0, 0, Width(), Height());
  platform::TBitmap tmp;
  tmp.SetPixelFormat(platform::pf24bit);
  tmp.SetSize(Width(), Height());
  if (tmp.Empty()) return;
  tmp.Canvas()->CopyRect(whole, Canvas, R);
  TGIFSubImage* f = Images(0);
  if (!f->Empty()) {
    const TGIFColorMap& map = f->ActiveColorMap();
    const int32_t n = map.Count();
    const uint8_t* rgb = map.Data();
    const bool transparent = f->Transparent();
    const uint8_t ti = f->GraphicControl().TransparentColorIndex;
    const int32_t x1 = std::min(f->Left() + f->Width(), Width());
    const int32_t y1 = std::min(f->Top() + f->Height(), Height());
    for (int32_t y = f->Top(); y < y1; ++y) {
      const uint8_t* src = f->Data.data() + static_cast<size_t>(y - f->Top()) * f->Width();
      uint8_t* d = static_cast<uint8_t*>(tmp.ScanLine(y));
      for (int32_t x = f->Left(); x < x1; ++x) {
        const uint8_t i = src[x - f->Left()];
        if (transparent && i == ti) continue;
        uint8_t* p = d + x * 3;
        p[0] = i < n ? rgb[i * 3 + 2] : 0;
        p[1] = i < n ? rgb[i * 3 + 1] : 0;
        p[2] = i < n ? rgb[i * 3] : 0;
      }
    }
  }
  Canvas->StretchDraw(R, &tmp);
}

void InitializeGifGraphic() {
  platform::RegisterFileFormat("GIF", "GIF Image", [] { return std::make_unique<TGifGraphic>(); });
}

void FinalizeGifGraphic() { platform::UnregisterFileFormat("GIF"); }

}  // namespace raster

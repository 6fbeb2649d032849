#include "raster/GifGraphic.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <mutex>

#include "platform/Clipboard.h"
#include "raster/Raster32.h"

namespace raster {

using platform::TColor;
using platform::TStream;

namespace {

// A screen bigger than its frames is allowed up to this many pixels even when the file is small.
constexpr int64_t ScreenBudget = int64_t(1) << 22;

bool ReadByte(TStream* S, uint8_t& B) { return S->Read(&B, 1) == 1; }

void ReadExact(TStream* S, void* Buffer, int32_t Count) {
  if (Count > 0 && S->Read(Buffer, Count) != Count) throw GIFException(sPrematureEOF);
}

void WriteByte(TStream* S, uint8_t B) { S->WriteBuffer(&B, 1); }

void StepBack(TStream* S, int32_t N = 1) { S->Seek(-N, platform::soFromCurrent); }

int64_t Remaining(TStream* S) { return std::max<int64_t>(0, S->GetSize() - S->GetPosition()); }

// The code bytes of the pixel data at the stream position (its sub-blocks, up to the terminator
// or the end of the stream); the position is left where it was.
int64_t CodeStreamBytes(TStream* S) {
  const int64_t pos = S->GetPosition(), size = S->GetSize();
  int64_t at = pos + 1, bytes = 0;  // after the minimum code size
  uint8_t len = 0;
  S->SetPosition(at);
  while (at < size && ReadByte(S, len) && len != 0) {
    const int64_t got = std::min<int64_t>(len, size - at - 1);
    bytes += got;
    at += 1 + got;
    S->SetPosition(at);
  }
  S->SetPosition(pos);
  return bytes;
}

// Data sub-blocks while a length byte can be read and is not 0.
void ReadBlocks(TStream* S, std::vector<std::string>& Blocks) {
  uint8_t len;
  while (ReadByte(S, len) && len != 0) {
    std::string b(len, '\0');
    const int32_t got = S->Read(b.data(), len);
    b.resize(std::max(got, 0));
    if (!b.empty()) Blocks.push_back(std::move(b));
    if (got < len) break;
  }
}

// Each line in pieces of at most 255 bytes, then the terminator.
void WriteBlocks(TStream* S, const std::vector<std::string>& Lines) {
  for (const std::string& line : Lines)
    for (size_t p = 0; p < line.size(); p += 255) {
      const size_t n = std::min<size_t>(255, line.size() - p);
      WriteByte(S, static_cast<uint8_t>(n));
      S->WriteBuffer(line.data() + p, static_cast<int32_t>(n));
    }
  WriteByte(S, 0);
}

struct TExtensionEntry {
  uint8_t Label;
  TGIFExtensionFactory Factory;
};
struct TAppExtensionEntry {
  std::string Id;
  TGIFAppExtensionFactory Factory;
};

std::mutex RegistryLock;
std::vector<TExtensionEntry>* ExtensionList = nullptr;
std::vector<TAppExtensionEntry>* AppExtensionList = nullptr;

std::vector<TAppExtensionEntry>& AppExtensions() {
  if (!AppExtensionList) {
    AppExtensionList = new std::vector<TAppExtensionEntry>;
    auto loop = [](TGIFSubImage* O) -> std::unique_ptr<TGIFExtension> { return std::make_unique<TGIFAppExtNSLoop>(O); };
    AppExtensionList->push_back({"NETSCAPE2.0", loop});
    AppExtensionList->push_back({"ANIMEXTS1.0", loop});
  }
  return *AppExtensionList;
}

// The application block's class is chosen by its identifier and code.
std::unique_ptr<TGIFExtension> FindAppExtension(TGIFSubImage* Owner, TStream* S) {
  const int64_t pos = S->GetPosition();
  uint8_t size = 0;
  std::unique_ptr<TGIFExtension> result;
  if (ReadByte(S, size) && size >= 11) {
    char id[11];
    if (S->Read(id, 11) == 11) {
      TGIFAppExtensionFactory f;
      {
        std::lock_guard<std::mutex> lock(RegistryLock);
        auto& list = AppExtensions();
        for (auto it = list.rbegin(); it != list.rend(); ++it)
          if (it->Id.size() == 11 && std::memcmp(it->Id.data(), id, 11) == 0) {
            f = it->Factory;
            break;
          }
      }
      if (f) result = f(Owner);
    }
  }
  S->SetPosition(pos);
  if (!result) result = std::make_unique<TGIFUnknownAppExtension>(Owner);
  return result;
}

std::vector<TExtensionEntry>& Extensions() {
  if (!ExtensionList) {
    ExtensionList = new std::vector<TExtensionEntry>;
    ExtensionList->push_back(
        {0x01, [](TGIFSubImage* O, TStream*) -> std::unique_ptr<TGIFExtension> { return std::make_unique<TGIFTextExtension>(O); }});
    ExtensionList->push_back({0xF9, [](TGIFSubImage* O, TStream*) -> std::unique_ptr<TGIFExtension> {
                                return std::make_unique<TGIFGraphicControlExtension>(O);
                              }});
    ExtensionList->push_back({0xFE, [](TGIFSubImage* O, TStream*) -> std::unique_ptr<TGIFExtension> {
                                return std::make_unique<TGIFCommentExtension>(O);
                              }});
    ExtensionList->push_back({0xFF, FindAppExtension});
  }
  return *ExtensionList;
}

TGIFExtensionFactory FindExtension(uint8_t Label) {
  std::lock_guard<std::mutex> lock(RegistryLock);
  auto& list = Extensions();
  for (auto it = list.rbegin(); it != list.rend(); ++it)
    if (it->Label == Label) return it->Factory;
  return nullptr;
}

// Back to the built-in classes, which are filled in again on first use.
void FreeRegistries() {
  std::lock_guard<std::mutex> lock(RegistryLock);
  delete ExtensionList;
  ExtensionList = nullptr;
  delete AppExtensionList;
  AppExtensionList = nullptr;
}

}  // namespace

void RegisterExtension(uint8_t Label, TGIFExtensionFactory Factory) {
  std::lock_guard<std::mutex> lock(RegistryLock);
  Extensions().push_back({Label, std::move(Factory)});
}

void RegisterAppExtension(const std::string& IdentifierAndCode, TGIFAppExtensionFactory Factory) {
  std::lock_guard<std::mutex> lock(RegistryLock);
  AppExtensions().push_back({IdentifierAndCode, std::move(Factory)});
}

int64_t GIFMaxPixelsFor(int64_t Bytes) {
  // A code of w bits stands for a string of at most 2^w - 1 pixels and never more than 4096,
  // so no bit carries more than 4096 / 12 pixels.
  return std::max<int64_t>(Bytes, 0) * 8 * 342 + 4096;
}

// ---------------------------------------------------------------------------------------------
// Items

void TGIFItem::Warning(int32_t Severity, const std::string& Message) {
  if (FImage) FImage->Warning(this, Severity, Message);
}

void TGIFItem::SaveToFile(const std::string& FileName) {
  // Encoded in full first, so that a failure leaves the file that was there.
  platform::TMemoryStream encoded;
  SaveToStream(&encoded);
  encoded.SaveToFile(FileName);
}

void TGIFItem::LoadFromFile(const std::string& FileName) {
  platform::TFileStream s(FileName, platform::fmOpenRead | platform::fmShareDenyWrite);
  LoadFromStream(&s);
}

// ---------------------------------------------------------------------------------------------
// Colour tables

void TGIFColorMap::Assign(const platform::TPersistent* Source) {
  if (auto* m = dynamic_cast<const TGIFColorMap*>(Source)) {
    FData = m->FData;
    FCapacity = m->FCapacity;
    Optimized = m->Optimized;
    Changed();
    return;
  }
  platform::TPersistent::Assign(Source);
}

void TGIFColorMap::Warning(int32_t Severity, const std::string& Message) const {
  if (FImage) FImage->Warning(FImage, Severity, Message);
}

void TGIFColorMap::Grow(int32_t N) {
  if (N <= FCapacity) return;
  FCapacity = N <= 16 ? 16 : std::min(256, (N + 31) / 32 * 32);
  FData.reserve(static_cast<size_t>(FCapacity) * 3);
}

int32_t TGIFColorMap::Add(TColor Color) {
  if (Count() >= 256) throw GIFException(sColorTableOverflow);
  Grow(Count() + 1);
  FData.push_back(static_cast<uint8_t>(Color & 0xFF));
  FData.push_back(static_cast<uint8_t>((Color >> 8) & 0xFF));
  FData.push_back(static_cast<uint8_t>((Color >> 16) & 0xFF));
  Optimized = false;
  Changed();
  return Count() - 1;
}

int32_t TGIFColorMap::AddUnique(TColor Color) {
  const int32_t i = IndexOf(Color);
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
  Changed();
}

TColor TGIFColorMap::Colors(int32_t Index) const {
  if (Index < 0 || Index >= Count()) {
    Warning(1, sBadColorIndex);
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
  Changed();
}

void TGIFColorMap::Clear() {
  FData.clear();
  FCapacity = 0;
  Optimized = false;
  Changed();
}

void TGIFColorMap::ImportDIBColors(const platform::TBitmap& Bitmap) {
  const platform::TPixelFormat pf = Bitmap.PixelFormat();
  const bool indexed = pf == platform::pf1bit || pf == platform::pf4bit || pf == platform::pf8bit;
  TGIFPaletteEntries pal;
  if (indexed) {
    pal = Bitmap.Palette();
    pal.resize(std::min(pal.size(), size_t{1} << Bitmap.BitsPerPixel()));
  }
  ImportPalette(pal);
}

void TGIFColorMap::ImportPalette(const TGIFPaletteEntries& Palette) {
  FData.clear();
  const int32_t n = std::min<int32_t>(static_cast<int32_t>(Palette.size()), 256);
  Grow(n);
  for (int32_t i = 0; i < n; ++i) {
    FData.push_back(static_cast<uint8_t>(Palette[i] & 0xFF));
    FData.push_back(static_cast<uint8_t>((Palette[i] >> 8) & 0xFF));
    FData.push_back(static_cast<uint8_t>((Palette[i] >> 16) & 0xFF));
  }
  Optimized = false;
  Changed();
}

void TGIFColorMap::ImportColorTable(const uint8_t* RGBQuads, int32_t ACount) {
  FData.clear();
  ACount = std::clamp(ACount, 0, 256);
  Grow(ACount);
  for (int32_t i = 0; i < ACount; ++i) {
    FData.push_back(RGBQuads[i * 4 + 2]);
    FData.push_back(RGBQuads[i * 4 + 1]);
    FData.push_back(RGBQuads[i * 4]);
  }
  Optimized = false;
  Changed();
}

TGIFPaletteEntries TGIFColorMap::ExportPalette() const {
  TGIFPaletteEntries p(static_cast<size_t>(Count()));
  for (int32_t i = 0; i < Count(); ++i) p[i] = platform::RGB(FData[i * 3], FData[i * 3 + 1], FData[i * 3 + 2]);
  return p;
}

int32_t TGIFColorMap::BitsPerPixel() const {
  const int32_t n = Count();
  if (n == 0) return 0;
  int32_t bits = 1;
  while ((1 << bits) < n) ++bits;
  return bits;
}

void TGIFColorMap::SaveToStream(TStream* Stream) const {
  if (Count() == 0) return;
  std::vector<uint8_t> out(FData);
  out.resize(static_cast<size_t>(3) << BitsPerPixel(), 0);
  Stream->WriteBuffer(out.data(), static_cast<int32_t>(out.size()));
}

void TGIFColorMap::LoadFromStream(TStream* Stream, int32_t ACount) {
  std::vector<uint8_t> in(static_cast<size_t>(ACount) * 3);
  ReadExact(Stream, in.data(), static_cast<int32_t>(in.size()));
  FData = std::move(in);
  FCapacity = ACount;
  Optimized = false;
  Changed();
}

bool TGIFColorMap::OptimizeBy(std::array<int64_t, 256>& Counts, const std::function<void(const uint8_t*)>& Remap) {
  const int32_t n = Count();
  if (n <= 1) return false;
  Optimized = true;
  std::vector<int32_t> order(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](int32_t a, int32_t b) { return Counts[a] > Counts[b]; });
  bool identity = true;
  for (int32_t i = 0; i < n; ++i) identity = identity && order[i] == i;
  int32_t used = n;
  for (int32_t i = 0; i < n; ++i)
    if (Counts[order[i]] == 0) {
      used = i;
      break;
    }
  if (identity && used == n) return true;
  uint8_t map[256];
  for (int32_t i = 0; i < 256; ++i) map[i] = static_cast<uint8_t>(i);
  for (int32_t i = 0; i < n; ++i) map[order[i]] = static_cast<uint8_t>(i);
  Remap(map);
  std::vector<uint8_t> data(static_cast<size_t>(used) * 3);
  for (int32_t i = 0; i < used; ++i) std::memcpy(&data[i * 3], &FData[order[i] * 3], 3);
  FData = std::move(data);
  Changed();
  return true;
}

namespace {

void RemapFrame(TGIFSubImage* F, const uint8_t* Map) {
  for (uint8_t& p : F->Data) p = Map[p];
  // The transparent index follows its colour.
  for (int32_t i = 0; i < F->ExtensionCount(); ++i)
    if (auto* g = dynamic_cast<TGIFGraphicControlExtension*>(F->Extensions(i)))
      if (g->Transparent()) {
        const bool keep = g->TransparentColorIndex() < F->ActiveColorMap().Count();
        if (keep) g->SetTransparentColorIndex(Map[g->TransparentColorIndex()]);
      }
  F->Changed();
}

}  // namespace

bool TGIFGlobalColorMap::Optimize() {
  if (!FImage || FImage->Count() == 0) return false;
  std::array<int64_t, 256> counts{};
  std::vector<TGIFSubImage*> users;
  for (int32_t i = 0; i < FImage->Count(); ++i) {
    TGIFSubImage* f = FImage->Images(i);
    if (&f->ActiveColorMap() != this) continue;
    users.push_back(f);
    for (uint8_t p : f->Data) counts[p] += 2;
  }
  // The background colour is kept behind the used ones even when no pixel shows it.
  uint8_t& bg = FImage->Header.BackgroundColorIndex;
  if (bg < Count() && counts[bg] == 0) counts[bg] = 1;
  return OptimizeBy(counts, [&](const uint8_t* map) {
    for (TGIFSubImage* f : users) RemapFrame(f, map);
    if (bg < Count()) bg = map[bg];
  });
}

void TGIFGlobalColorMap::Changed() {
  if (!FImage) return;
  for (int32_t i = 0; i < FImage->Count(); ++i) FImage->Images(i)->Changed();
  FImage->DropBitmap();
}

bool TGIFLocalColorMap::Optimize() {
  std::array<int64_t, 256> counts{};
  for (uint8_t p : FOwner->Data) ++counts[p];
  return OptimizeBy(counts, [&](const uint8_t* map) { RemapFrame(FOwner, map); });
}

void TGIFLocalColorMap::Changed() {
  if (FOwner) FOwner->Changed();
}

// ---------------------------------------------------------------------------------------------
// Header and trailer

void TGIFHeader::Assign(const platform::TPersistent* Source) {
  if (auto* h = dynamic_cast<const TGIFHeader*>(Source)) {
    ScreenWidth = h->ScreenWidth;
    ScreenHeight = h->ScreenHeight;
    Packed = h->Packed;
    BackgroundColorIndex = h->BackgroundColorIndex;
    AspectRatio = h->AspectRatio;
    ColorMap.Assign(&h->ColorMap);
    return;
  }
  if (auto* m = dynamic_cast<const TGIFColorMap*>(Source)) {
    ColorMap.Assign(m);
    return;
  }
  TGIFItem::Assign(Source);
}

// The sorted flag is written only with a table: on an empty one it asks for nothing.
int32_t TGIFHeader::GetVersion() const {
  return ((ColorMap.Optimized && ColorMap.Count() > 0) || AspectRatio != 0) ? 2 : 1;
}

void TGIFHeader::Clear() {
  ColorMap.Clear();
  ScreenWidth = ScreenHeight = 0;
  BackgroundColorIndex = AspectRatio = 0;
  Prepare();
}

void TGIFHeader::Prepare() {
  uint8_t p = 0;
  if (ColorMap.Count() > 0) p = static_cast<uint8_t>(0x80 | (ColorMap.Optimized ? 0x08 : 0) | (ColorMap.BitsPerPixel() - 1));
  const int32_t highest = FImage ? FImage->HighestBitsPerPixel() : ColorMap.BitsPerPixel();
  p |= static_cast<uint8_t>((std::max(highest - 1, 0) & 7) << 4);
  Packed = p;
}

void TGIFHeader::LoadFromStream(TStream* Stream) {
  const int64_t start = Stream->GetPosition();
  char sig[6];
  ReadExact(Stream, sig, 6);
  auto isGif = [&] {
    return std::toupper(static_cast<unsigned char>(sig[0])) == 'G' &&
           std::toupper(static_cast<unsigned char>(sig[1])) == 'I' && std::toupper(static_cast<unsigned char>(sig[2])) == 'F';
  };
  if (!isGif()) {
    Stream->SetPosition(start + 4);
    ReadExact(Stream, sig, 6);
    if (!isGif()) throw GIFException(sBadSignature);
  }
  uint8_t sd[7];
  ReadExact(Stream, sd, 7);
  ScreenWidth = static_cast<uint16_t>(sd[0] | sd[1] << 8);
  ScreenHeight = static_cast<uint16_t>(sd[2] | sd[3] << 8);
  Packed = sd[4];
  BackgroundColorIndex = sd[5];
  AspectRatio = sd[6];
  if (Packed & 0x80) {
    ColorMap.LoadFromStream(Stream, 2 << (Packed & 7));
    ColorMap.Optimized = (Packed & 0x08) != 0;
  } else {
    ColorMap.Clear();
  }
}

void TGIFHeader::SaveToStream(TStream* Stream) {
  Prepare();
  const uint8_t sd[7] = {static_cast<uint8_t>(ScreenWidth & 0xFF), static_cast<uint8_t>(ScreenWidth >> 8),
                         static_cast<uint8_t>(ScreenHeight & 0xFF), static_cast<uint8_t>(ScreenHeight >> 8), Packed,
                         BackgroundColorIndex, AspectRatio};
  Stream->WriteBuffer(sd, 7);
  if (Packed & 0x80) ColorMap.SaveToStream(Stream);
}

void TGIFTrailer::SaveToStream(TStream* Stream) { WriteByte(Stream, ';'); }

void TGIFTrailer::LoadFromStream(TStream* Stream) {
  uint8_t b;
  if (ReadByte(Stream, b) && b != ';') Warning(1, sBadTrailer);
}

// ---------------------------------------------------------------------------------------------
// Extensions

TGIFExtension::TGIFExtension(TGIFSubImage* AOwner) : TGIFItem(AOwner ? AOwner->Image() : nullptr), FOwner(AOwner) {}

void TGIFExtension::SaveToStream(TStream* Stream) {
  WriteByte(Stream, '!');
  WriteByte(Stream, GetLabel());
  SaveData(Stream);
}

void TGIFExtension::LoadFromStream(TStream* Stream) {
  uint8_t b = 0;
  if (!ReadByte(Stream, b) || b != '!') throw GIFException(sBadExtension);
  ReadExact(Stream, &b, 1);
  if (b != GetLabel()) throw GIFException(sExtensionMismatch);
  LoadData(Stream);
}

TGIFGraphicControlExtension::TGIFGraphicControlExtension(TGIFSubImage* AOwner) : TGIFExtension(AOwner) {
  if (FOwner && !FOwner->FGCE) FOwner->FGCE = this;
}

TGIFGraphicControlExtension::~TGIFGraphicControlExtension() {
  if (FOwner && FOwner->FGCE == this) FOwner->FGCE = nullptr;
}

std::unique_ptr<TGIFExtension> TGIFGraphicControlExtension::Clone(TGIFSubImage* NewOwner) const {
  auto e = std::make_unique<TGIFGraphicControlExtension>(NewOwner);
  e->FData = FData;
  return e;
}

void TGIFGraphicControlExtension::SetTransparent(bool Value) {
  FData[1] = static_cast<uint8_t>(Value ? FData[1] | 1 : FData[1] & ~1);
  if (FOwner) FOwner->Changed();
}

void TGIFGraphicControlExtension::SetUserInput(bool Value) {
  FData[1] = static_cast<uint8_t>(Value ? FData[1] | 2 : FData[1] & ~2);
}

void TGIFGraphicControlExtension::SetDisposal(uint8_t Value) {
  FData[1] = static_cast<uint8_t>((FData[1] & ~0x1C) | (Value & 7) << 2);
}

void TGIFGraphicControlExtension::SetDelay(uint16_t Value) {
  FData[2] = Value & 0xFF;
  FData[3] = static_cast<uint8_t>(Value >> 8);
}

void TGIFGraphicControlExtension::SetTransparentColorIndex(int32_t Index) {
  if (FOwner) {
    const int32_t n = FOwner->ActiveColorMap().Count();
    if (Index < 0 || (n > 0 && Index >= n)) {
      Warning(1, sBadColorIndex);
      Index = 0;
    }
  }
  FData[4] = static_cast<uint8_t>(Index);
  if (FOwner) FOwner->Changed();
}

void TGIFGraphicControlExtension::SaveData(TStream* Stream) { Stream->WriteBuffer(FData.data(), 6); }

void TGIFGraphicControlExtension::LoadData(TStream* Stream) {
  const int32_t got = Stream->Read(FData.data(), 6);
  if (got < 6) Warning(1, sPrematureEOF);
}

std::unique_ptr<TGIFExtension> TGIFTextExtension::Clone(TGIFSubImage* NewOwner) const {
  auto e = std::make_unique<TGIFTextExtension>(NewOwner);
  e->Fixed = Fixed;
  e->Text = Text;
  return e;
}

void TGIFTextExtension::SaveData(TStream* Stream) {
  Stream->WriteBuffer(Fixed.data(), 13);
  WriteBlocks(Stream, Text);
}

void TGIFTextExtension::LoadData(TStream* Stream) {
  ReadExact(Stream, Fixed.data(), 13);
  Text.clear();
  ReadBlocks(Stream, Text);
}

std::unique_ptr<TGIFExtension> TGIFCommentExtension::Clone(TGIFSubImage* NewOwner) const {
  auto e = std::make_unique<TGIFCommentExtension>(NewOwner);
  e->Text = Text;
  return e;
}

void TGIFCommentExtension::SaveData(TStream* Stream) { WriteBlocks(Stream, Text); }

void TGIFCommentExtension::LoadData(TStream* Stream) {
  Text.clear();
  ReadBlocks(Stream, Text);
}

void TGIFApplicationExtension::SaveData(TStream* Stream) {
  WriteByte(Stream, 11);
  Stream->WriteBuffer(Identifier.data(), 8);
  Stream->WriteBuffer(Authentication.data(), 3);
  SaveAppData(Stream);
}

void TGIFApplicationExtension::LoadData(TStream* Stream) {
  uint8_t size = 0;
  ReadExact(Stream, &size, 1);
  if (size < 10) throw GIFException(sBadAppBlockSize);
  uint8_t id[11] = {};
  ReadExact(Stream, id, std::min<int32_t>(size, 11));
  if (size > 11) Stream->Seek(std::min<int64_t>(size - 11, Remaining(Stream)), platform::soFromCurrent);
  std::memcpy(Identifier.data(), id, 8);
  std::memcpy(Authentication.data(), id + 8, 3);
  LoadAppData(Stream);
}

std::unique_ptr<TGIFExtension> TGIFUnknownAppExtension::Clone(TGIFSubImage* NewOwner) const {
  auto e = std::make_unique<TGIFUnknownAppExtension>(NewOwner);
  e->Identifier = Identifier;
  e->Authentication = Authentication;
  e->Blocks = Blocks;
  return e;
}

void TGIFUnknownAppExtension::SaveAppData(TStream* Stream) { WriteBlocks(Stream, Blocks); }

void TGIFUnknownAppExtension::LoadAppData(TStream* Stream) {
  Blocks.clear();
  ReadBlocks(Stream, Blocks);
}

TGIFAppExtNSLoop::TGIFAppExtNSLoop(TGIFSubImage* AOwner) : TGIFApplicationExtension(AOwner) {
  std::memcpy(Identifier.data(), "NETSCAPE", 8);
  std::memcpy(Authentication.data(), "2.0", 3);
}

std::unique_ptr<TGIFExtension> TGIFAppExtNSLoop::Clone(TGIFSubImage* NewOwner) const {
  auto e = std::make_unique<TGIFAppExtNSLoop>(NewOwner);
  e->Identifier = Identifier;
  e->Authentication = Authentication;
  e->Loops = Loops;
  e->BufferSize = BufferSize;
  return e;
}

void TGIFAppExtNSLoop::SaveAppData(TStream* Stream) {
  const uint8_t loop[4] = {3, 1, static_cast<uint8_t>(Loops & 0xFF), static_cast<uint8_t>(Loops >> 8)};
  Stream->WriteBuffer(loop, 4);
  if (BufferSize != 0) {
    const uint8_t buf[6] = {5, 2, static_cast<uint8_t>(BufferSize), static_cast<uint8_t>(BufferSize >> 8),
                            static_cast<uint8_t>(BufferSize >> 16), static_cast<uint8_t>(BufferSize >> 24)};
    Stream->WriteBuffer(buf, 6);
  }
  WriteByte(Stream, 0);
}

void TGIFAppExtNSLoop::LoadAppData(TStream* Stream) {
  uint8_t len;
  while (ReadByte(Stream, len) && len != 0) {
    uint8_t id = 0;
    ReadExact(Stream, &id, 1);
    int32_t left = len - 1;
    if ((id & 7) == 1) {
      if (left < 2) throw GIFException(sBadGIFData);
      uint8_t b[2];
      ReadExact(Stream, b, 2);
      Loops = static_cast<uint16_t>(b[0] | b[1] << 8);
      left -= 2;
    } else if ((id & 7) == 2) {
      if (left < 4) throw GIFException(sBadGIFData);
      uint8_t b[4];
      ReadExact(Stream, b, 4);
      BufferSize = static_cast<uint32_t>(b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24);
      left -= 4;
    }
    if (left > 0) Stream->Seek(std::min<int64_t>(left, Remaining(Stream)), platform::soFromCurrent);
  }
}

// ---------------------------------------------------------------------------------------------
// Frames

TGIFSubImage::TGIFSubImage(TGifGraphic* AImage) : TGIFItem(AImage), ColorMap(AImage, this) {}

TGIFSubImage::~TGIFSubImage() {
  FExtensions.clear();
  FGCE = nullptr;
}

void TGIFSubImage::Clear() {
  FExtensions.clear();
  FGCE = nullptr;
  Data.clear();
  ColorMap.Clear();
  static const uint8_t fresh[10] = {0x2C, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  std::memcpy(Descriptor, fresh, 10);
  Changed();
}

void TGIFSubImage::Changed() {
  FPixelsStale = true;
  FPixels32.clear();
}

void TGIFSubImage::SetInterlaced(bool Value) {
  Descriptor[9] = static_cast<uint8_t>(Value ? (Descriptor[9] | 0x40) : (Descriptor[9] & ~0x40));
}

void TGIFSubImage::SetBounds(int32_t ALeft, int32_t ATop, int32_t AWidth, int32_t AHeight) {
  ALeft = std::clamp(ALeft, 0, 0xFFFF);
  ATop = std::clamp(ATop, 0, 0xFFFF);
  AWidth = std::clamp(AWidth, 0, 0xFFFF);
  AHeight = std::clamp(AHeight, 0, 0xFFFF);
  if (!ImageSizeAllowed(AWidth, AHeight)) throw GIFException(ImageTooLargeText(AWidth, AHeight));
  const bool resized = AWidth != Width() || AHeight != Height() || Data.size() != size_t(AWidth) * AHeight;
  auto put = [&](int i, int32_t v) {
    Descriptor[i] = v & 0xFF;
    Descriptor[i + 1] = static_cast<uint8_t>((v >> 8) & 0xFF);
  };
  put(1, ALeft);
  put(3, ATop);
  put(5, AWidth);
  put(7, AHeight);
  if (resized) Data.assign(static_cast<size_t>(AWidth) * AHeight, 0);
  Changed();
  if (!FImage) return;
  TGIFHeader& h = FImage->Header;
  bool warned = false;
  if (ALeft + AWidth > h.ScreenWidth) {
    if (h.ScreenWidth > 0) {
      Warning(1, sWidthTooSmall);
      warned = true;
    }
    h.ScreenWidth = static_cast<uint16_t>(std::min(ALeft + AWidth, 0xFFFF));
  }
  if (ATop + AHeight > h.ScreenHeight) {
    if (h.ScreenHeight > 0) {
      Warning(1, sHeightTooSmall);
      warned = true;
    }
    h.ScreenHeight = static_cast<uint16_t>(std::min(ATop + AHeight, 0xFFFF));
  }
  if (warned) Warning(1, sScreenSizeExceeded);
}

uint8_t TGIFSubImage::GetPixel(int32_t X, int32_t Y) const {
  if (X < 0 || X >= Width() || Y < 0 || Y >= Height()) throw GIFException(sBadPixelCoordinates);
  if (Empty()) throw GIFException(sImageEmpty);
  return Data[static_cast<size_t>(Y) * Width() + X];
}

uint8_t* TGIFSubImage::Scanline(int32_t Y) {
  if (Y < 0 || Y >= Height()) throw GIFException(sBadPixelCoordinates);
  if (Empty()) throw GIFException(sImageEmpty);
  return Data.data() + static_cast<size_t>(Y) * Width();
}

TGIFColorMap& TGIFSubImage::ActiveColorMap() {
  if (ColorMap.Count() > 0) return ColorMap;
  if (FImage && FImage->GlobalColorMap().Count() > 0) return FImage->GlobalColorMap();
  return ColorMap;
}

const TGIFColorMap& TGIFSubImage::ActiveColorMap() const { return const_cast<TGIFSubImage*>(this)->ActiveColorMap(); }

int32_t TGIFSubImage::GetVersion() const {
  return ((ColorMap.Optimized && ColorMap.Count() > 0) || !FExtensions.empty()) ? 2 : 1;
}

TGIFExtension* TGIFSubImage::AddExtension(std::unique_ptr<TGIFExtension> Extension) {
  if (!Extension) return nullptr;
  if (auto* g = dynamic_cast<TGIFGraphicControlExtension*>(Extension.get()))
    if (!FGCE) FGCE = g;
  FExtensions.push_back(std::move(Extension));
  Changed();
  return FExtensions.back().get();
}

void TGIFSubImage::DeleteExtension(TGIFExtension* Extension) {
  for (auto it = FExtensions.begin(); it != FExtensions.end(); ++it)
    if (it->get() == Extension) {
      FExtensions.erase(it);
      break;
    }
  // A later graphic control block takes over.
  if (!FGCE)
    for (auto& e : FExtensions)
      if (auto* g = dynamic_cast<TGIFGraphicControlExtension*>(e.get())) {
        FGCE = g;
        break;
      }
  Changed();
}

void TGIFSubImage::LoadFromStream(TStream* Stream) {
  Clear();
  uint8_t b = 0;
  bool more = ReadByte(Stream, b);
  while (more && b != ',' && b != ';') {
    if (b != '!') {
      Warning(1, sBadExtension);
      break;
    }
    uint8_t label = 0;
    ReadExact(Stream, &label, 1);
    TGIFExtensionFactory f = FindExtension(label);
    if (!f) throw GIFException(sUnknownExtension);
    std::unique_ptr<TGIFExtension> e = f(this, Stream);
    StepBack(Stream, 2);
    e->LoadFromStream(Stream);
    AddExtension(std::move(e));
    more = ReadByte(Stream, b);
  }
  if (more) StepBack(Stream);
  uint8_t peek = 0;
  if (!ReadByte(Stream, peek)) return;
  StepBack(Stream);
  if (peek == ';' || peek == 0) return;
  ReadExact(Stream, Descriptor, 10);
  if (Width() == 0 || Height() == 0) {
    const uint16_t sw = FImage ? FImage->Header.ScreenWidth : 0, sh = FImage ? FImage->Header.ScreenHeight : 0;
    Descriptor[5] = sw & 0xFF;
    Descriptor[6] = static_cast<uint8_t>(sw >> 8);
    Descriptor[7] = sh & 0xFF;
    Descriptor[8] = static_cast<uint8_t>(sh >> 8);
    Warning(1, sScreenSizeExceeded);
  }
  if (Descriptor[9] & 0x80) {
    ColorMap.LoadFromStream(Stream, 2 << (Descriptor[9] & 7));
    ColorMap.Optimized = (Descriptor[9] & 0x20) != 0;
  }
  // Sizes are checked before anything is allocated against the frame's own code bytes, never
  // the rest of the file: so all frames together stay within what the whole file decodes to
  // (each frame's descriptor alone costs more than the fixed allowance per frame).
  const int32_t w = Width(), h = Height();
  if (!ImageSizeAllowed(w, h)) throw GIFException(ImageTooLargeText(w, h));
  const int64_t pixels = int64_t(w) * h, bytes = CodeStreamBytes(Stream);
  if (pixels > GIFMaxPixelsFor(bytes))
    throw GIFException("Frame of " + std::to_string(w) + " x " + std::to_string(h) + " pixels is larger than its " +
                       std::to_string(bytes) + " bytes of data can fill");
  GIFDecode(this, Stream);
  Changed();
}

void TGIFSubImage::SaveToStream(TStream* Stream) {
  // Indices that do not fill the frame would be read past their end.
  if (Empty() && !Data.empty() && Width() > 0 && Height() > 0)
    throw GIFException("Frame of " + std::to_string(Width()) + " x " + std::to_string(Height()) + " pixels holds " +
                       std::to_string(Data.size()) + " pixel indices");
  for (auto& e : FExtensions) e->SaveToStream(Stream);
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
    bpp = FImage ? FImage->HighestBitsPerPixel() : 0;
    colors = 1 << bpp;
  }
  Stream->WriteBuffer(d, 10);
  ColorMap.SaveToStream(Stream);
  GIFEncode(Stream, bpp, colors, Data.data(), (d[9] & 0x40) != 0, Width(), Height(), FImage,
            FImage ? FImage->Compression : gcLZW);
}

const std::vector<uint32_t>& TGIFSubImage::Pixels32() {
  const bool cube = FImage && FImage->CubePaletteInUse();
  if (!FPixelsStale && FPixels32.size() == Data.size() && FPixelsCube == cube) return FPixels32;
  const TGIFColorMap& map = ActiveColorMap();
  uint32_t lut[256];
  const int32_t n = map.Count();
  for (int32_t i = 0; i < 256; ++i) {
    // An index past the table draws black, as a palette lookup beyond its end would.
    const uint8_t* c = map.Data() + i * 3;
    lut[i] = i < n ? 0xFF000000u | uint32_t(c[0]) << 16 | uint32_t(c[1]) << 8 | c[2] : 0xFF000000u;
  }
  const int32_t ti = TransparentIndex();
  if (ti >= 0) lut[ti] = 0;
  FPixels32.resize(Data.size());
  const int32_t w = Width(), h = Height();
  const bool rows = FImage && FImage->OnProgress && w > 0 && h > 0 && Data.size() == size_t(w) * h;
  if (rows) {
    FImage->Progress(this, 0, 0, "Rendering...");
    for (int32_t y = 0; y < h; ++y) {
      const uint8_t* s = Data.data() + size_t(y) * w;
      uint32_t* d = FPixels32.data() + size_t(y) * w;
      for (int32_t x = 0; x < w; ++x) d[x] = lut[s[x]];
      if ((y + 1) % 32 == 0) FImage->Progress(this, 1, static_cast<int32_t>(int64_t(y + 1) * 100 / h), "Rendering...");
    }
  } else {
    for (size_t i = 0; i < Data.size(); ++i) FPixels32[i] = lut[Data[i]];
  }
  if (cube) DitherToCube(FPixels32, w, h);
  if (rows) FImage->Progress(this, 2, 100, "Rendering...");
  FPixelsCube = cube;
  FPixelsStale = false;
  return FPixels32;
}

// ---------------------------------------------------------------------------------------------
// The image

TGifGraphic::TGifGraphic() : Header(this) {}

TGifGraphic::~TGifGraphic() {
  // A painter inside its own frame (whose event handler may be what frees the image) ends now,
  // forgets the image and frees itself when its frame is done.
  const std::vector<TGIFPainter*> all = FPainters;
  for (TGIFPainter* p : all)
    if (p->FInTick) {
      p->Stop();
      p->Finish();
      p->Image = nullptr;
    }
  StopDraw();
  FImages.clear();
}

void TGifGraphic::Clear() {
  StopDraw();
  DropBitmap();
  FImages.clear();
  Header.Clear();
  FPalette.clear();
}

void TGifGraphic::Warning(platform::TObject* Sender, int32_t Severity, const std::string& Message) {
  if (OnWarning) OnWarning(Sender, Severity, Message);
}

void TGifGraphic::Progress(platform::TObject* Sender, int32_t Stage, int32_t Percent, const std::string& Message) {
  if (OnProgress) OnProgress(Sender, Stage, Percent, Stage == 2, platform::Rect(0, 0, Width(), Height()), Message);
}

void TGifGraphic::Changed() {
  DropBitmap();
  platform::TGraphic::Changed();
}

TGIFSubImage* TGifGraphic::Add() { return Add(std::make_unique<TGIFSubImage>(this)); }

TGIFSubImage* TGifGraphic::Add(std::unique_ptr<TGIFSubImage> Frame) {
  FImages.push_back(std::move(Frame));
  DropBitmap();
  return FImages.back().get();
}

TGIFSubImage* TGifGraphic::Add(const platform::TPersistent* Source) {
  if (auto* f = dynamic_cast<const TGIFSubImage*>(Source)) {
    auto copy = std::make_unique<TGIFSubImage>(this);
    copy->Assign(f);
    TGIFSubImage* r = Add(std::move(copy));
    Changed();
    return r;
  }
  if (!dynamic_cast<const platform::TGraphic*>(Source) && !dynamic_cast<const platform::TPicture*>(Source))
    throw GIFException(sUnsupportedObject);
  auto frame = std::make_unique<TGIFSubImage>(this);
  frame->Assign(Source);
  TGIFSubImage* r = Add(std::move(frame));
  Changed();
  return r;
}

void TGifGraphic::Delete(int32_t Index) {
  if (Index < 0 || Index >= Count()) return;
  StopDraw();
  FImages.erase(FImages.begin() + Index);
  DropBitmap();
}

void TGifGraphic::Assign(const platform::TPersistent* Source) {
  if (Source == this) return;
  if (!Source) {
    Clear();
    return;
  }
  if (auto* g = dynamic_cast<const TGifGraphic*>(Source)) {
    Clear();
    // The copy reports through the source's handlers.
    OnWarning = g->OnWarning;
    OnChange = g->OnChange;
    try {
      Header.Assign(&g->Header);
      ThreadPriority = g->ThreadPriority;
      BackgroundColor = g->BackgroundColor;
      DrawOptions = g->DrawOptions;
      ColorReduction = g->ColorReduction;
      DitherMode = g->DitherMode;
      Progress(this, 0, 0, "Copying...");
      for (int32_t i = 0; i < g->Count(); ++i) {
        auto f = std::make_unique<TGIFSubImage>(this);
        f->Assign(g->Images(i));
        FImages.push_back(std::move(f));
        Progress(this, 1, (i + 1) * 100 / g->Count(), "Copying...");
      }
      Progress(this, 2, 100, "Copying...");
    } catch (...) {
      OnWarning = nullptr;
      OnChange = nullptr;
      throw;
    }
    OnWarning = nullptr;
    OnChange = nullptr;
    return;
  }
  // A picture stands for its graphic: a GIF it holds is copied whole, not redrawn as one frame.
  if (auto* pic = dynamic_cast<const platform::TPicture*>(Source)) {
    Assign(pic->Graphic());
    return;
  }
  if (dynamic_cast<const platform::TGraphic*>(Source)) {
    Clear();
    Add(Source);
    return;
  }
  platform::TGraphic::Assign(Source);
}

int32_t TGifGraphic::HighestBitsPerPixel() const {
  int32_t bpp = Header.ColorMap.BitsPerPixel();
  // The table of a frame without pixels is never written.
  for (const auto& f : FImages)
    if (!f->Empty()) bpp = std::max(bpp, f->ColorMap.BitsPerPixel());
  return bpp;
}

void TGifGraphic::SetWidth(int32_t Value) {
  for (const auto& f : FImages)
    if (f->Left() + f->Width() > Value) throw GIFException(sWidthTooSmall);
  Header.ScreenWidth = static_cast<uint16_t>(std::clamp(Value, 0, 0xFFFF));
  DropBitmap();
  Changed();
}

void TGifGraphic::SetHeight(int32_t Value) {
  for (const auto& f : FImages)
    if (f->Top() + f->Height() > Value) throw GIFException(sHeightTooSmall);
  Header.ScreenHeight = static_cast<uint16_t>(std::clamp(Value, 0, 0xFFFF));
  DropBitmap();
  Changed();
}

int32_t TGifGraphic::Loops() const {
  for (const auto& f : FImages)
    for (int32_t i = 0; i < f->ExtensionCount(); ++i)
      if (auto* l = dynamic_cast<TGIFAppExtNSLoop*>(f->Extensions(i))) return l->Loops;
  return -1;
}

namespace {

TGIFPaletteEntries CubePalette() {
  TGIFPaletteEntries p;
  for (int r = 0; r < 6; ++r)
    for (int g = 0; g < 6; ++g)
      for (int b = 0; b < 6; ++b) p.push_back(platform::RGB(r * 51, g * 51, b * 51));
  return p;
}

}  // namespace

TGIFPaletteEntries TGifGraphic::GetPalette() {
  if (FGettingPalette) throw GIFException(sNoColorTable);
  FGettingPalette = true;
  struct Guard {
    bool& f;
    ~Guard() { f = false; }
  } guard{FGettingPalette};
  // The off-screen picture carries the palette it was drawn with.
  if (FBitmap && !FBitmap->Palette().empty()) return FBitmap->Palette();
  if (!FPalette.empty()) return FPalette;
  if (CubePaletteInUse()) return FPalette = CubePalette();
  if (Header.ColorMap.Count() > 0) return FPalette = Header.ColorMap.ExportPalette();
  if (!FImages.empty()) return FImages[0]->ActiveColorMap().ExportPalette();
  return {};
}

void TGifGraphic::SetPalette(const TGIFPaletteEntries& Value) {
  if (Value == FPalette) return;
  FPalette = Value;
  DropBitmap();
  SetModified(true);
  Changed();
}

void TGifGraphic::LoadFromStream(TStream* Stream) {
  Progress(this, 0, 0, "Loading...");
  try {
    Clear();
    Header.LoadFromStream(Stream);
    const int64_t size = Stream->GetSize();
    const int64_t sw = Header.ScreenWidth, sh = Header.ScreenHeight;
    if (!ImageSizeAllowed(sw, sh)) throw GIFException(ImageTooLargeText(sw, sh));
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
      auto f = std::make_unique<TGIFSubImage>(this);
      f->LoadFromStream(Stream);
      FImages.push_back(std::move(f));
      Progress(this, 1, size > 0 ? static_cast<int32_t>(Stream->GetPosition() * 100 / size) : 0, "Loading...");
      more = skipZeros();
    }
    if (more && b == ';') StepBack(Stream);
    TGIFTrailer(this).LoadFromStream(Stream);
    // The screen is drawn at its full size: it must be backed by the area of its frames (where
    // they lie says nothing: one pixel far out is still one pixel of data).
    int64_t area = 0;
    for (const auto& f : FImages) area += int64_t(f->Width()) * f->Height();
    if (sw * sh > std::max(area, ScreenBudget))
      throw GIFException("Logical screen of " + std::to_string(sw) + " x " + std::to_string(sh) +
                         " pixels is larger than its frames and data can fill");
  } catch (...) {
    Progress(this, 2, 0, "Loading...");
    throw;
  }
  Progress(this, 2, 100, "Loading...");
}

void TGifGraphic::SaveToStream(TStream* Stream) {
  Progress(this, 0, 0, "Saving...");
  try {
    int32_t version = 0;
    // A frame without pixels writes only its extensions: its sorted table appears nowhere.
    for (const auto& f : FImages)
      version = std::max(version, f->Empty() ? (f->ExtensionCount() > 0 ? 2 : 1) : f->GetVersion());
    if (version == 0) throw GIFException(sUnsupportedVersion);
    // A sorted global table or an aspect ratio is only defined in 89a.
    version = std::max(version, Header.GetVersion());
    Stream->WriteBuffer(version == 1 ? "GIF87a" : "GIF89a", 6);
    Header.SaveToStream(Stream);
    for (int32_t i = 0; i < Count(); ++i) {
      FImages[i]->SaveToStream(Stream);
      Progress(this, 1, (i + 1) * 100 / Count(), "Saving...");
    }
    TGIFTrailer(this).SaveToStream(Stream);
  } catch (...) {
    Progress(this, 2, 0, "Saving...");
    throw;
  }
  Progress(this, 2, 100, "Saving...");
}

void TGifGraphic::SaveToClipboardFormat(uint16_t& Format, std::vector<uint8_t>& Data,
                                        platform::TPaletteEntries& Palette) {
  if (Empty()) return;
  {
    // The still picture (no painter may outlive this bitmap).
    platform::TBitmap bmp;
    AssignTo(&bmp);
    bmp.SaveToClipboardFormat(Format, Data, Palette);
  }
  platform::TMemoryStream s;
  SaveToStream(&s);
  const auto* p = static_cast<const uint8_t*>(s.Memory());
  const std::vector<uint8_t> bytes(p, p + s.GetSize());
  try {
    platform::Clipboard()->SetAsHandle(CF_GIF, bytes);
  } catch (const std::exception&) {
    throw GIFException("Failed to store GIF on clipboard");
  }
}

void TGifGraphic::LoadFromClipboardFormat(uint16_t Format, const std::vector<uint8_t>& Data,
                                          const platform::TPaletteEntries& Palette) {
  std::vector<uint8_t> own;
  if (Data.empty()) own = platform::Clipboard()->GetAsHandle(Format);
  const std::vector<uint8_t>& d = Data.empty() ? own : Data;
  if (Format != 0 && Format == CF_GIF) {
    platform::TMemoryStream s;
    if (!d.empty()) s.WriteBuffer(d.data(), static_cast<int32_t>(d.size()));
    s.SetPosition(0);
    LoadFromStream(&s);
    return;
  }
  if (Format == platform::CF_BITMAP && !d.empty()) {
    platform::TBitmap bmp;
    bmp.LoadFromClipboardFormat(Format, d, Palette);
    Assign(&bmp);
    return;
  }
  throw GIFException("Unsupported clipboard format");
}

uint16_t CF_GIF = 0;

void InitializeGifGraphic() {
  platform::RegisterFileFormat("GIF", "GIF Image", [] { return std::make_unique<TGifGraphic>(); });
  CF_GIF = platform::RegisterClipboardFormat("GIF Image");
  platform::RegisterClipboardGraphic(CF_GIF, [] { return std::make_unique<TGifGraphic>(); });
}

void FinalizeGifGraphic() {
  FreeRegistries();
  platform::UnregisterClipboardGraphic(CF_GIF);
  platform::UnregisterFileFormat("GIF");
}

}  // namespace raster

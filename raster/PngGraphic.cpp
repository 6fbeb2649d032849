// Chunk model, chunk reading and writing, and the graphic's own operations. Image rows are
// decoded and encoded in PngGraphic_Rows.cpp.
#include "raster/PngGraphic.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>

#include <zlib.h>

#include "platform/Classes.h"
#include "platform/Rounding.h"
#include "platform/SysUtils.h"
#include "raster/PngGraphicPriv.h"
#include "raster/Raster32.h"
#include "raster/dtpRasterFormats.h"

namespace raster {

using platform::TStream;

std::string PngErrorText(int32_t Id) {
  switch (Id) {
    case 65120: return "This \"Portable Network Graphics\" image is not supported or it might be invalid.\r\n(IHDR chunk is not the first)";
    case 65121: return "This \"Portable Network Graphics\" image is not supported because either it's width or height exceeds the maximum size, which is 65535 pixels length.";
    case 65122: return "There is no such palette entry.";
    case 65123: return "This \"Portable Network Graphics\" image contains an unknown critical part which could not be decoded.";
    case 65124: return "This \"Portable Network Graphics\" image is encoded with an unknown compression scheme which could not be decoded.";
    case 65125: return "This \"Portable Network Graphics\" image uses an unknown interlace scheme which could not be decoded.";
    case 65126: return "The chunks must be compatible to be assigned.";
    case 65127: return "This \"Portable Network Graphics\" image is invalid because the decoder found an unexpected end of the file.";
    case 65128: return "This \"Portable Network Graphics\" image contains no data.";
    case 65129: return "The \"Portable Network Graphics\" image can not be resize by changing width and height properties. Try assigning the image from a bitmap.";
    case 65130: return "The program tried to add a existent critical chunk to the current image which is not allowed.";
    case 65131: return "It's not allowed to add a new chunk because the current image is invalid.";
    case 65132: return "Some operation could not be performed because the system is out of resources. Close some windows and try again.";
    case 65133: return "This operation is not valid because the current image contains no valid header.";
    case 65146: return "This \"Portable Network Graphics\" image is not valid because it contains invalid pieces of data (crc error)";
    case 65147: return "The \"Portable Network Graphics\" image could not be loaded because one of its main piece of data (ihdr) might be corrupted";
    case 65148: return "This \"Portable Network Graphics\" image is invalid because it has missing image parts.";
    case 65149: return "Could not decompress the image because it contains invalid compressed data.\r\n Description: ";
    case 65150: return "The \"Portable Network Graphics\" image contains an invalid palette.";
    case 65151: return "The file being readed is not a valid \"Portable Network Graphics\" image because it contains an invalid header. This file may be corruped, try obtaining it again.";
    default: return {};
  }
}

std::string PngZlibCodeText(int32_t Code) {
  switch (Code) {
    case 0: return "(0)";
    case 1: return "stream end (1)";
    case 2: return "need dictionary (2)";
    case -1: return "file error (-1)";
    case -2: return "stream error (-2)";
    case -3: return "data error (-3)";
    case -4: return "insufficient memory (-4)";
    case -5: return "buffer error (-5)";
    case -6: return "incompatible version (-6)";
    default: return "(" + platform::IntToStr(Code) + ")";
  }
}

uint32_t UpdatePngCrc(uint32_t Crc, const uint8_t* Data, size_t Size) {
  // zlib's CRC-32 is the same polynomial, run several bytes at a time; it complements the
  // running value on the way in and out, which the two complements here undo.
  if (Size == 0) return Crc;
  return ~static_cast<uint32_t>(crc32_z(~Crc & 0xFFFFFFFFu, Data, Size));
}

namespace pngpriv {

uint32_t UpdatePngCrcReference(uint32_t Crc, const uint8_t* Data, size_t Size) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  for (size_t i = 0; i < Size; ++i) Crc = table[(Crc ^ Data[i]) & 0xFF] ^ (Crc >> 8);
  return Crc;
}

uint32_t ReadBE32(TStream* S) {
  uint8_t b[4];
  if (S->Read(b, 4) != 4) throw EPngUnexpectedEnd(PngErrorText(65127));
  return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
}

void WriteBE32(TStream* S, uint32_t V) {
  uint8_t b[4] = {uint8_t(V >> 24), uint8_t(V >> 16), uint8_t(V >> 8), uint8_t(V)};
  S->WriteBuffer(b, 4);
}

void CheckCrc(TStream* S, uint32_t Crc) {
  if (ReadBE32(S) != ~Crc) throw EPngInvalidCRC(PngErrorText(65146));
}

uint32_t NameCrc(const std::string& Name) {
  return UpdatePngCrc(0xFFFFFFFFu, reinterpret_cast<const uint8_t*>(Name.data()), 4);
}

int32_t RowSizeFor(uint64_t Pixels, uint8_t ColorType, uint8_t BitDepth) {
  int ch = 0;
  switch (ColorType) {
    case 0: case 3: ch = 1; break;
    case 2: ch = 3; break;
    case 4: ch = 2; break;
    case 6: ch = 4; break;
    default: return 0;
  }
  return static_cast<int32_t>((Pixels * BitDepth * ch + 7) / 8);
}

int32_t FilterOffsetFor(uint8_t ColorType, uint8_t BitDepth) {
  switch (ColorType) {
    case 3: return 1;
    case 0: return BitDepth == 16 ? 2 : 1;
    case 2: return BitDepth == 16 ? 6 : 3;
    case 4: return BitDepth == 16 ? 4 : 2;
    case 6: return BitDepth == 16 ? 8 : 4;
    default: return 0;
  }
}

}  // namespace pngpriv

using namespace pngpriv;

// ---- chunk-class registry

namespace {

using TChunkClassList = std::vector<std::pair<std::string, TChunkFactory>>;

TChunkClassList& ChunkClassStore() {
  static TChunkClassList list;
  return list;
}

// The registry, filled on first use with the codec's classes in the unit's order.
TChunkClassList& ChunkClasses() {
  TChunkClassList& l = ChunkClassStore();
  if (!l.empty()) return l;
  auto add = [&l](std::unique_ptr<TChunk> proto) {
    std::string name = proto->GetName();
    std::shared_ptr<TChunk> p(std::move(proto));
    l.emplace_back(name, [p](TPngGraphic* o) { return p->NewSameClass(o); });
  };
  add(std::make_unique<TChunkIEND>(nullptr));
  add(std::make_unique<TChunkIHDR>(nullptr));
  add(std::make_unique<TChunkIDAT>(nullptr));
  add(std::make_unique<TChunkPLTE>(nullptr));
  add(std::make_unique<TChunkgAMA>(nullptr));
  add(std::make_unique<TChunktRNS>(nullptr));
  add(std::make_unique<TChunktIME>(nullptr));
  add(std::make_unique<TChunktEXt>(nullptr));
  add(std::make_unique<TChunkzTXt>(nullptr));
  return l;
}

// zlib whole-buffer inflate/deflate through a 256-byte window, as zTXt uses them.
bool InflateWhole(const uint8_t* In, size_t Size, std::string& Out) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return false;
  z.next_in = const_cast<uint8_t*>(In);
  z.avail_in = static_cast<uInt>(Size);
  uint8_t window[256];
  bool ok = false;
  for (;;) {
    z.next_out = window;
    z.avail_out = sizeof window;
    int r = inflate(&z, Z_NO_FLUSH);
    Out.append(reinterpret_cast<char*>(window), sizeof window - z.avail_out);
    if (r == Z_STREAM_END) {
      ok = true;
      break;
    }
    // A stream that stops making progress is as bad as one that reports an error.
    if (r < 0 || r == Z_NEED_DICT || (r == Z_OK && z.avail_out == sizeof window && z.avail_in == 0)) break;
    if (Out.size() > (size_t{1} << 26)) break;
  }
  inflateEnd(&z);
  return ok;
}

bool DeflateWhole(const std::string& In, int Level, std::vector<uint8_t>& Out) {
  z_stream z{};
  if (deflateInit(&z, Level) != Z_OK) return false;
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(In.data()));
  z.avail_in = static_cast<uInt>(In.size());
  uint8_t window[256];
  bool ok = false;
  for (;;) {
    z.next_out = window;
    z.avail_out = sizeof window;
    int r = deflate(&z, Z_FINISH);
    Out.insert(Out.end(), window, window + (sizeof window - z.avail_out));
    if (r == Z_STREAM_END) {
      ok = true;
      break;
    }
    if (r < 0) break;
  }
  deflateEnd(&z);
  return ok;
}

}  // namespace

void RegisterChunkClass(const std::string& Name, TChunkFactory Factory) {
  ChunkClasses().emplace_back(Name, std::move(Factory));
}

std::unique_ptr<TChunk> CreateChunkByName(TPngGraphic* Owner, const std::string& Name) {
  std::unique_ptr<TChunk> c;
  for (auto& [n, f] : ChunkClasses())
    if (n == Name) {
      c = f(Owner);
      break;
    }
  if (!c) c = std::make_unique<TChunk>(Owner);
  c->Name = Name;
  return c;
}

int32_t RegisteredChunkClassCount() { return static_cast<int32_t>(ChunkClassStore().size()); }

// ---- TPNGList

uint32_t TPNGList::Count() const { return static_cast<uint32_t>(FOwner->FChunks.size()); }

TChunk* TPNGList::Item(uint32_t Index) const {
  return Index < Count() ? FOwner->FChunks[Index].get() : nullptr;
}

int32_t TPNGList::IndexOf(const TChunk* Chunk) const {
  for (size_t i = 0; i < FOwner->FChunks.size(); ++i)
    if (FOwner->FChunks[i].get() == Chunk) return static_cast<int32_t>(i);
  return -1;
}

TChunk* TPNGList::Add(std::unique_ptr<TChunk> Chunk) {
  if (Chunk) {
    Chunk->Owner = FOwner;
    if (Chunk->Name.empty()) Chunk->Name = Chunk->GetName();
  }
  FOwner->FChunks.push_back(std::move(Chunk));
  return FOwner->FChunks.back().get();
}

std::unique_ptr<TChunk> TPNGList::Insert(std::unique_ptr<TChunk> Chunk, uint32_t Position) {
  if (Position >= Count()) return Chunk;
  if (Chunk) {
    Chunk->Owner = FOwner;
    if (Chunk->Name.empty()) Chunk->Name = Chunk->GetName();
  }
  FOwner->FChunks.insert(FOwner->FChunks.begin() + Position, std::move(Chunk));
  return nullptr;
}

std::unique_ptr<TChunk> TPNGList::Remove(TChunk* Chunk) {
  auto& v = FOwner->FChunks;
  for (size_t i = v.size(); i-- > 0;)
    if (v[i].get() == Chunk) {
      std::unique_ptr<TChunk> c = std::move(v[i]);
      v.erase(v.begin() + static_cast<std::ptrdiff_t>(i));
      // The chunk may outlive the image or join another one: it belongs to none now.
      if (c) c->Owner = nullptr;
      return c;
    }
  return nullptr;
}

std::unique_ptr<TChunk> TPNGList::SetItem(uint32_t Index, std::unique_ptr<TChunk> Chunk) {
  if (!Chunk || Index >= Count()) return Chunk;
  Chunk->Owner = FOwner;
  if (Chunk->Name.empty()) Chunk->Name = Chunk->GetName();
  std::swap(FOwner->FChunks[Index], Chunk);
  if (Chunk) Chunk->Owner = nullptr;
  return Chunk;
}

void TPNGList::SetSize(uint32_t Size) {
  auto& v = FOwner->FChunks;
  // Later chunks first, as Remove would take them.
  while (v.size() > Size) v.pop_back();
  v.resize(Size);  // new places are empty until SetItem fills them
  if (Size == 0) v.shrink_to_fit();
}

// ---- TChunk

TChunk::TChunk(TPngGraphic* AOwner) : Owner(AOwner) {}
TChunk::~TChunk() = default;

std::unique_ptr<TChunk> TChunk::NewSameClass(TPngGraphic* AOwner) const { return std::make_unique<TChunk>(AOwner); }

void TChunk::ResizeData(uint32_t Size) {
  Data.assign(static_cast<size_t>(Size) + 1, 0);
  DataSize = Size;
}

int32_t TChunk::Index() const {
  if (!Owner) return -1;
  for (int32_t i = 0; i < Owner->ChunkCount(); ++i)
    if (Owner->Chunk(i) == this) return i;
  return -1;
}

TChunkIHDR* TChunk::Header() const {
  // A chunk taken out of its image has no header to work with.
  if (!Owner || Owner->ChunkCount() == 0 || !Owner->Chunk(0)) throw EPNGHeaderNotPresent(PngErrorText(65133));
  auto* h = dynamic_cast<TChunkIHDR*>(Owner->Chunk(0));
  if (!h) throw platform::Exception("Invalid class typecast");
  return h;
}

void TChunk::Assign(const TChunk* Source) {
  Name = Source->Name;
  Data = Source->Data;
  DataSize = Source->DataSize;
}

bool TChunk::LoadFromStream(TStream* Stream, const std::string& ChunkName, uint32_t Size) {
  // A length beyond the stream is an unexpected end, found before allocating.
  if (static_cast<int64_t>(Size) > Stream->GetSize() - Stream->GetPosition())
    throw EPngUnexpectedEnd(PngErrorText(65127));
  ResizeData(Size);
  if (Size > 0 && Stream->Read(Data.data(), static_cast<int32_t>(Size)) != static_cast<int32_t>(Size))
    throw EPngUnexpectedEnd(PngErrorText(65127));
  uint32_t crc = UpdatePngCrc(NameCrc(ChunkName), Data.data(), Size);
  CheckCrc(Stream, crc);
  return true;
}

bool TChunk::SaveToStream(TStream* Stream) {
  WriteBE32(Stream, DataSize);
  Stream->WriteBuffer(Name.data(), 4);
  if (DataSize > 0) Stream->WriteBuffer(Data.data(), static_cast<int32_t>(DataSize));
  WriteBE32(Stream, ~UpdatePngCrc(NameCrc(Name), Data.data(), DataSize));
  return true;
}

#define KD_PNG_NEW(Class) \
  std::unique_ptr<TChunk> Class::NewSameClass(TPngGraphic* O) const { return std::make_unique<Class>(O); }
KD_PNG_NEW(TChunkIEND)
KD_PNG_NEW(TChunkIHDR)
KD_PNG_NEW(TChunkPLTE)
KD_PNG_NEW(TChunkgAMA)
KD_PNG_NEW(TChunktRNS)
KD_PNG_NEW(TChunkIDAT)
KD_PNG_NEW(TChunktIME)
KD_PNG_NEW(TChunktEXt)
KD_PNG_NEW(TChunkzTXt)
#undef KD_PNG_NEW

// ---- IHDR

namespace {

// Bitmap bits per pixel for a header, 0 for a combination the decoder has no converter for.
int32_t DibBitsFor(uint8_t ColorType, uint8_t BitDepth) {
  switch (ColorType) {
    case 0:
      switch (BitDepth) { case 1: return 1; case 2: case 4: return 4; case 8: case 16: return 8; }
      return 0;
    case 3:
      switch (BitDepth) { case 1: return 1; case 2: case 4: return 4; case 8: case 16: return 8; }
      return 0;
    case 2: case 6: return BitDepth == 8 || BitDepth == 16 ? 24 : 0;
    case 4: return BitDepth == 8 || BitDepth == 16 ? 8 : 0;
    default: return 0;
  }
}

}  // namespace

void TChunkIHDR::PrepareImageData() {
  if (Owner) {
    Owner->FPaletteCache.clear();
    Owner->FPaletteMade = false;
  }
  ImageData.clear();
  ImageAlpha.clear();
  KeyMask.clear();
  Palette.fill(0);
  BitsPerPixel = DibBitsFor(ColorType, BitDepth);
  HasPalette = BitsPerPixel > 0 && BitsPerPixel <= 8;
  if (!ImageSizeAllowed(Width, Height)) throw EPNGSizeExceeds(ImageTooLargeText(Width, Height));
  BytesPerRow = static_cast<int32_t>(((static_cast<int64_t>(BitsPerPixel) * Width + 31) & ~int64_t{31}) / 8);
  if (ColorType == 4 || ColorType == 6) ImageAlpha.assign(static_cast<size_t>(Width) * Height, 0);
  ImageData.assign(static_cast<size_t>(BytesPerRow) * Height, 0);
}

bool TChunkIHDR::LoadFromStream(TStream* Stream, const std::string& ChunkName, uint32_t Size) {
  if (!TChunk::LoadFromStream(Stream, ChunkName, Size)) return false;
  if (DataSize < 13) throw EPngInvalidIHDR(PngErrorText(65147));
  const uint8_t* d = Data.data();
  uint32_t w = (uint32_t{d[0]} << 24) | (uint32_t{d[1]} << 16) | (uint32_t{d[2]} << 8) | d[3];
  uint32_t h = (uint32_t{d[4]} << 24) | (uint32_t{d[5]} << 16) | (uint32_t{d[6]} << 8) | d[7];
  if (w > 65535 || h > 65535) throw EPNGSizeExceeds(PngErrorText(65121));
  if (d[10] != 0) throw EPNGUnknownCompression(PngErrorText(65124));
  if (d[12] > 1) throw EPNGUnknownInterlace(PngErrorText(65125));
  // No converter exists for an empty image or an unknown colour type/bit depth pair.
  if (w == 0 || h == 0 || DibBitsFor(d[9], d[8]) == 0) throw EPngInvalidIHDR(PngErrorText(65147));
  if (!ImageSizeAllowed(w, h)) throw EPNGSizeExceeds(ImageTooLargeText(w, h));
  // The pixel data alone (without filter bytes) is a lower bound of what the IDAT chain must
  // inflate to; the rest of the file has to be able to hold it before anything is allocated.
  int64_t raw = (static_cast<int64_t>(w) * h * d[8] * RowSizeFor(1, d[9], 8) + 7) / 8;
  int64_t left = Stream->GetSize() - Stream->GetPosition();
  if (raw > (left + 1) * kDeflateMaxRatio) throw EPNGSizeExceeds(ImageDataTooShortText(w, h, left));
  Width = w;
  Height = h;
  BitDepth = d[8];
  ColorType = d[9];
  CompressionMethod = d[10];
  FilterMethod = d[11];
  InterlaceMethod = d[12];
  if (Owner) Owner->InterlaceMethod = InterlaceMethod;
  PrepareImageData();
  return true;
}

bool TChunkIHDR::SaveToStream(TStream* Stream) {
  if (BitDepth == 2) {
    BitDepth = 4;  // the bitmap holds such images at 4 bits
    // A grey key is a sample and widens with the samples: level v of 2 bits is 5v of 4 bits.
    auto* t = Owner && ColorType == 0 ? Owner->FindChunk<TChunktRNS>() : nullptr;
    if (t && t->DataSize >= 2) {
      std::array<uint8_t, 6> was{};
      std::copy_n(t->PaletteValues.begin(), was.size(), was.begin());
      const uint32_t v = 5 * (was[1] & 3u);
      t->PaletteValues[0] = static_cast<uint8_t>(v >> 8);
      t->PaletteValues[1] = static_cast<uint8_t>(v);
      t->Data[0] = t->PaletteValues[0];
      t->Data[1] = t->PaletteValues[1];
      // The pixels marked for the old key are those of the new one.
      if (KeyMaskOf == was) std::copy_n(t->PaletteValues.begin(), KeyMaskOf.size(), KeyMaskOf.begin());
    }
  }
  ResizeData(13);
  uint8_t* d = Data.data();
  for (int i = 0; i < 4; ++i) {
    d[i] = static_cast<uint8_t>(Width >> (24 - 8 * i));
    d[4 + i] = static_cast<uint8_t>(Height >> (24 - 8 * i));
  }
  d[8] = BitDepth;
  d[9] = ColorType;
  d[10] = CompressionMethod;
  d[11] = FilterMethod;
  d[12] = Owner ? Owner->InterlaceMethod : InterlaceMethod;
  return TChunk::SaveToStream(Stream);
}

void TChunkIHDR::Assign(const TChunk* Source) {
  auto* s = dynamic_cast<const TChunkIHDR*>(Source);
  if (!s) throw EPngError(PngErrorText(65126));
  Name = s->Name;
  Width = s->Width;
  Height = s->Height;
  BitDepth = s->BitDepth;
  ColorType = s->ColorType;
  CompressionMethod = s->CompressionMethod;
  FilterMethod = s->FilterMethod;
  InterlaceMethod = s->InterlaceMethod;
  PrepareImageData();
  ImageData = s->ImageData;
  ImageAlpha = s->ImageAlpha;
  KeyMask = s->KeyMask;
  KeyMaskOf = s->KeyMaskOf;
  Palette = s->Palette;
}

// ---- PLTE

bool TChunkPLTE::LoadFromStream(TStream* Stream, const std::string& ChunkName, uint32_t Size) {
  if (!TChunk::LoadFromStream(Stream, ChunkName, Size)) return false;
  if (DataSize % 3 != 0 || DataSize / 3 > 256) throw EPNGInvalidPalette(PngErrorText(65150));
  Count = DataSize / 3;
  TChunkIHDR* h = Header();
  const auto& g = Owner->GammaTable;
  for (uint32_t i = 0; i < Count; ++i) {
    const uint8_t* p = Data.data() + 3 * i;
    h->Palette[i] = (uint32_t{g[p[0]]} << 16) | (uint32_t{g[p[1]]} << 8) | g[p[2]];
  }
  return true;
}

namespace {

// Entries of the PLTE as written. The colour table has 256 places; a PLTE holds no more. A
// tRNS may give alpha to entries past the table, which pixels can use: the written table
// reaches them (as far as the bit depth does), or other readers drop the whole tRNS.
uint32_t WrittenPaletteEntries(TPngGraphic* Owner, const TChunkIHDR* H, uint32_t Count) {
  uint32_t n = std::min<uint32_t>(Count, 256);
  const auto* t = Owner->FindChunk<TChunktRNS>();
  if (t && H->ColorType == 3 && H->BitDepth >= 1 && H->BitDepth <= 8)
    n = std::max(n, std::min<uint32_t>(t->DataSize, 1u << H->BitDepth));
  return n;
}

}  // namespace

bool TChunkPLTE::SaveToStream(TStream* Stream) {
  TChunkIHDR* h = Header();
  const uint32_t n = WrittenPaletteEntries(Owner, h, Count);
  ResizeData(n * 3);
  const auto& inv = Owner->InverseTable;
  for (uint32_t i = 0; i < n; ++i) {
    uint32_t c = h->Palette[i];
    Data[3 * i] = inv[(c >> 16) & 0xFF];
    Data[3 * i + 1] = inv[(c >> 8) & 0xFF];
    Data[3 * i + 2] = inv[c & 0xFF];
  }
  return TChunk::SaveToStream(Stream);
}

uint32_t TChunkPLTE::Item(uint8_t N) const {
  if (N >= Count) throw EPngError(PngErrorText(65122));
  return Header()->Palette[N];
}

void TChunkPLTE::Assign(const TChunk* Source) {
  auto* s = dynamic_cast<const TChunkPLTE*>(Source);
  if (!s) throw EPngError(PngErrorText(65126));
  Name = s->Name;
  Count = s->Count;
}

// ---- gAMA

TChunkgAMA::TChunkgAMA(TPngGraphic* AOwner) : TChunk(AOwner) {
  Name = "gAMA";
  SetGamma(1);
}

uint32_t TChunkgAMA::Gamma() {
  if (DataSize != 4) {
    ResizeData(4);
    Data[3] = 1;
  }
  return (uint32_t{Data[0]} << 24) | (uint32_t{Data[1]} << 16) | (uint32_t{Data[2]} << 8) | Data[3];
}

void TChunkgAMA::SetGamma(uint32_t Value) {
  ResizeData(4);
  for (int i = 0; i < 4; ++i) Data[i] = static_cast<uint8_t>(Value >> (24 - 8 * i));
}

bool TChunkgAMA::LoadFromStream(TStream* Stream, const std::string& ChunkName, uint32_t Size) {
  if (!TChunk::LoadFromStream(Stream, ChunkName, Size)) return false;
  uint32_t g = Gamma();
  if (!Owner) return true;  // no image whose tables it sets
  auto& table = Owner->GammaTable;
  auto& inv = Owner->InverseTable;
  for (int i = 0; i < 256; ++i) inv[i] = static_cast<uint8_t>(i);
  double e = g == 0 ? INFINITY : 1.0 / (g / 100000.0 * 2.2);
  std::array<bool, 256> hit{};
  for (int i = 0; i < 256; ++i) {
    double v = std::pow(i / 255.0, e) * 255.0;
    int32_t r = static_cast<int32_t>(platform::Round(v));
    table[i] = static_cast<uint8_t>(r < 0 ? 0 : r > 255 ? 255 : r);
    inv[table[i]] = static_cast<uint8_t>(i);
    hit[table[i]] = true;
  }
  // A level the table never gives (a colour written into the image) is saved as the sample
  // that shows nearest to it, so that it reads back as itself within the gamma's step.
  for (int x = 0; x < 256; ++x) {
    if (hit[x]) continue;
    int best = 0;
    for (int i = 1; i < 256; ++i)
      if (std::abs(table[i] - x) < std::abs(table[best] - x)) best = i;
    inv[x] = static_cast<uint8_t>(best);
  }
  return true;
}

void TChunkgAMA::Assign(const TChunk* Source) {
  auto* s = dynamic_cast<const TChunkgAMA*>(Source);
  if (!s) throw EPngError(PngErrorText(65126));
  Name = s->Name;
  SetGamma(const_cast<TChunkgAMA*>(s)->Gamma());
}

// ---- tRNS

bool TChunktRNS::LoadFromStream(TStream* Stream, const std::string& ChunkName, uint32_t Size) {
  if (!TChunk::LoadFromStream(Stream, ChunkName, Size)) return false;
  if (DataSize > 256) throw EPNGInvalidPalette(PngErrorText(65150));
  PaletteValues.fill(255);
  std::memcpy(PaletteValues.data(), Data.data(), DataSize);
  switch (Header()->ColorType) {
    case 0: case 2: BitTransparency = true; break;
    case 3:
      BitTransparency = false;
      for (uint32_t i = 0; i < DataSize; ++i)
        if (Data[i] < 255) BitTransparency = true;
      break;
    default: break;
  }
  return true;
}

bool TChunktRNS::SaveToStream(TStream* Stream) {
  if (DataSize <= 256) std::memcpy(Data.data(), PaletteValues.data(), DataSize);
  // Other readers drop a tRNS of another length than its colour type's. The part read here is
  // what is written: a longer key cut to its sample, palette values up to the written table.
  // (A key too short to be read is dropped by every reader alike.) A chunk taken out of its
  // image has no colour type to go by and is written as it is.
  if (!Owner || Owner->ChunkCount() == 0 || !dynamic_cast<const TChunkIHDR*>(Owner->Chunk(0)))
    return TChunk::SaveToStream(Stream);
  const TChunkIHDR* h = Header();
  uint32_t size = DataSize;
  if (h->ColorType == 0 || h->ColorType == 2) {
    size = std::min<uint32_t>(size, h->ColorType == 0 ? 2 : 6);
  } else if (h->ColorType == 3) {
    const auto* plte = Owner->FindChunk<TChunkPLTE>();
    size = std::min(size, WrittenPaletteEntries(Owner, h, plte ? plte->Count : 0));
  }
  if (size == DataSize) return TChunk::SaveToStream(Stream);
  const uint32_t whole = DataSize;
  DataSize = size;
  try {
    TChunk::SaveToStream(Stream);
  } catch (...) {
    DataSize = whole;
    throw;
  }
  DataSize = whole;
  return true;
}

void TChunktRNS::Assign(const TChunk* Source) {
  if (auto* s = dynamic_cast<const TChunktRNS*>(Source)) {
    PaletteValues = s->PaletteValues;
    BitTransparency = s->BitTransparency;
  }
  TChunk::Assign(Source);
}

platform::TColor TChunktRNS::TransparentColor() const {
  TChunkIHDR* h = Header();
  switch (h->ColorType) {
    case 0: {
      // The level the image shows for the sample, through the gamma table: the ramp level
      // below 8 bits, the high byte at 16 bits.
      uint8_t v = DataSize >= 2 ? Data[1] : 0;
      if (DataSize >= 2 && h->BitDepth == 16) {
        v = Data[0];
      } else if (DataSize >= 2 && h->BitDepth < 8) {
        // Bits above the depth are not the key's: masked off, as the low byte is at 8 bits.
        const int32_t top = (1 << h->BitDepth) - 1;
        v = static_cast<uint8_t>(platform::MulDiv(Data[1] & top, 255, top));
      }
      v = Owner->GammaTable[v];
      return platform::RGB(v, v, v);
    }
    case 2: {
      if (DataSize < 6) return 0;
      const int k = h->BitDepth == 16 ? 0 : 1;  // the byte the image shows
      const auto& g = Owner->GammaTable;
      return platform::RGB(g[Data[k]], g[Data[2 + k]], g[Data[4 + k]]);
    }
    case 3: {
      auto* plte = Owner->FindChunk<TChunkPLTE>();
      for (uint32_t i = 0; i < DataSize; ++i)
        if (Data[i] == 0) {
          if (!plte || i >= plte->Count) throw EPngError(PngErrorText(65122));
          uint32_t c = h->Palette[i];
          return platform::RGB((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF);
        }
      return 0;
    }
    default: return 0;
  }
}

void TChunktRNS::SetTransparentColor(platform::TColor Value) {
  PaletteValues.fill(0);
  BitTransparency = true;
  uint8_t r = Value & 0xFF, g = (Value >> 8) & 0xFF, b = (Value >> 16) & 0xFF;
  TChunkIHDR* h = Header();
  switch (h->ColorType) {
    case 0: {
      // The sample that shows the colour's level, as it is read back.
      const uint8_t v = Owner->InverseTable[r];
      ResizeData(2);
      PaletteValues[1] = v;
      if (h->BitDepth == 16) {
        PaletteValues[0] = v;
      } else if (h->BitDepth < 8) {
        PaletteValues[1] = static_cast<uint8_t>(platform::MulDiv(v, (1 << h->BitDepth) - 1, 255));
      }
      break;
    }
    case 2: {
      const auto& inv = Owner->InverseTable;
      ResizeData(6);
      const uint8_t c[3] = {inv[r], inv[g], inv[b]};
      for (int i = 0; i < 3; ++i) {
        PaletteValues[2 * i + 1] = c[i];
        if (h->BitDepth == 16) PaletteValues[2 * i] = c[i];
      }
      break;
    }
    case 3: {
      // Only the palette's own entries come into question; a colour that none of them holds
      // leaves nothing out (one opaque value) rather than entry 0 or a place beyond the palette.
      // Places beyond the data are opaque, as a read gives them.
      PaletteValues.fill(255);
      uint32_t want = (uint32_t{r} << 16) | (uint32_t{g} << 8) | b;
      auto* plte = Owner->FindChunk<TChunkPLTE>();
      const uint32_t count = plte ? std::min<uint32_t>(plte->Count, 256) : 256;
      uint32_t entry = count;
      for (uint32_t i = 0; i < count; ++i)
        if ((h->Palette[i] & 0xFFFFFF) == want) {
          entry = i;
          break;
        }
      if (entry == count) {
        ResizeData(1);
        break;
      }
      PaletteValues[entry] = 0;
      ResizeData(entry + 1);
      break;
    }
    default: break;
  }
  // The data holds the values as well, so the colour reads back before a save writes them.
  if (DataSize <= 256) std::memcpy(Data.data(), PaletteValues.data(), DataSize);
}

// ---- tIME, tEXt, zTXt

bool TChunktIME::LoadFromStream(TStream* Stream, const std::string& ChunkName, uint32_t Size) {
  if (!TChunk::LoadFromStream(Stream, ChunkName, Size)) return false;
  if (DataSize == 7) {
    Year = static_cast<uint16_t>((Data[0] << 8) | Data[1]);
    Month = Data[2];
    Day = Data[3];
    Hour = Data[4];
    Minute = Data[5];
    Second = Data[6];
  }
  return true;
}

bool TChunktIME::SaveToStream(TStream* Stream) {
  ResizeData(7);
  Data[0] = static_cast<uint8_t>(Year >> 8);
  Data[1] = static_cast<uint8_t>(Year);
  Data[2] = Month;
  Data[3] = Day;
  Data[4] = Hour;
  Data[5] = Minute;
  Data[6] = Second;
  return TChunk::SaveToStream(Stream);
}

void TChunktIME::Assign(const TChunk* Source) {
  TChunk::Assign(Source);
  if (auto* s = dynamic_cast<const TChunktIME*>(Source)) {
    Year = s->Year;
    Month = s->Month;
    Day = s->Day;
    Hour = s->Hour;
    Minute = s->Minute;
    Second = s->Second;
  }
}

bool TChunktEXt::LoadFromStream(TStream* Stream, const std::string& ChunkName, uint32_t Size) {
  if (!TChunk::LoadFromStream(Stream, ChunkName, Size)) return false;
  if (DataSize >= 3) {
    const char* p = reinterpret_cast<const char*>(Data.data());
    const void* z = std::memchr(p, 0, DataSize);
    size_t k = z ? static_cast<size_t>(static_cast<const char*>(z) - p) : DataSize;
    Keyword.assign(p, k);
    Text = k < DataSize ? std::string(p + k + 1, DataSize - k - 1) : std::string();
  }
  return true;
}

bool TChunktEXt::SaveToStream(TStream* Stream) {
  ResizeData(static_cast<uint32_t>(Keyword.size() + 1 + Text.size()));
  std::memcpy(Data.data(), Keyword.data(), Keyword.size());
  Data[Keyword.size()] = 0;
  std::memcpy(Data.data() + Keyword.size() + 1, Text.data(), Text.size());
  return TChunk::SaveToStream(Stream);
}

void TChunktEXt::Assign(const TChunk* Source) {
  if (auto* s = dynamic_cast<const TChunktEXt*>(Source)) {
    Name = s->Name;
    Keyword = s->Keyword;
    Text = s->Text;
  } else {
    TChunk::Assign(Source);
  }
}

bool TChunkzTXt::LoadFromStream(TStream* Stream, const std::string& ChunkName, uint32_t Size) {
  if (!TChunktEXt::LoadFromStream(Stream, ChunkName, Size)) return false;
  if (DataSize >= 4) {
    const char* p = reinterpret_cast<const char*>(Data.data());
    const void* z = std::memchr(p, 0, DataSize);
    size_t k = z ? static_cast<size_t>(static_cast<const char*>(z) - p) : DataSize;
    Keyword.assign(p, k);
    Text.clear();
    if (k + 1 < DataSize && Data[k + 1] == 0) {
      std::string t;
      if (InflateWhole(Data.data() + k + 2, DataSize - k - 2, t)) Text = t;
    }
  }
  return true;
}

bool TChunkzTXt::SaveToStream(TStream* Stream) {
  if (Text.empty()) Text = " ";
  std::vector<uint8_t> z;
  int level = Owner ? std::clamp(Owner->CompressionLevel, 0, 9) : 7;
  if (!DeflateWhole(Text, level, z)) return false;
  ResizeData(static_cast<uint32_t>(Keyword.size() + 2 + z.size()));
  std::memcpy(Data.data(), Keyword.data(), Keyword.size());
  Data[Keyword.size()] = 0;
  Data[Keyword.size() + 1] = 0;
  std::memcpy(Data.data() + Keyword.size() + 2, z.data(), z.size());
  return TChunk::SaveToStream(Stream);
}

// ---- TPngGraphic

TPngGraphic::TPngGraphic() { ResetGamma(); }
TPngGraphic::~TPngGraphic() { ClearChunks(); }

std::unique_ptr<platform::TGraphic> TPngGraphic::CreateNew() const { return std::make_unique<TPngGraphic>(); }

void TPngGraphic::ResetGamma() {
  for (int i = 0; i < 256; ++i) GammaTable[i] = InverseTable[i] = static_cast<uint8_t>(i);
}

void TPngGraphic::ClearChunks() {
  ResetGamma();
  FChunks.clear();
}

bool TPngGraphic::HeaderPresent() const {
  return !FChunks.empty() && dynamic_cast<TChunkIHDR*>(FChunks.front().get()) != nullptr;
}

TChunkIHDR* TPngGraphic::Header() const {
  if (!HeaderPresent()) throw EPNGHeaderNotPresent(PngErrorText(65133));
  return static_cast<TChunkIHDR*>(FChunks.front().get());
}

int32_t TPngGraphic::Width() const { return HeaderPresent() ? static_cast<int32_t>(Header()->Width) : 0; }
int32_t TPngGraphic::Height() const { return HeaderPresent() ? static_cast<int32_t>(Header()->Height) : 0; }
void TPngGraphic::SetWidth(int32_t) { throw EPngError(PngErrorText(65129)); }
void TPngGraphic::SetHeight(int32_t) { throw EPngError(PngErrorText(65129)); }

void TPngGraphic::AddChunkObject(std::unique_ptr<TChunk> Chunk) {
  bool isGamma = dynamic_cast<TChunkgAMA*>(Chunk.get()) != nullptr;
  bool isTrns = dynamic_cast<TChunktRNS*>(Chunk.get()) != nullptr;
  if (dynamic_cast<TChunkIHDR*>(Chunk.get()) || dynamic_cast<TChunkIDAT*>(Chunk.get()) ||
      dynamic_cast<TChunkPLTE*>(Chunk.get()) || dynamic_cast<TChunkIEND*>(Chunk.get()) ||
      (isGamma && FindChunk<TChunkgAMA>()) || (isTrns && FindChunk<TChunktRNS>()))
    throw EPngError(PngErrorText(65130));
  TChunkIEND* iend = FindChunk<TChunkIEND>();
  TChunkIHDR* ihdr = FindChunk<TChunkIHDR>();
  if (!iend || !ihdr) throw EPngError(PngErrorText(65131));
  if (Chunk->Name.empty()) Chunk->Name = Chunk->GetName();
  size_t pos;
  if (isGamma) {
    pos = static_cast<size_t>(ihdr->Index()) + 1;
  } else if (isTrns) {
    if (auto* plte = FindChunk<TChunkPLTE>())
      pos = static_cast<size_t>(plte->Index()) + 1;
    else if (auto* idat = FindChunk<TChunkIDAT>())
      pos = static_cast<size_t>(idat->Index());
    else
      pos = static_cast<size_t>(ihdr->Index()) + 1;
  } else {
    pos = static_cast<size_t>(iend->Index());
  }
  FChunks.insert(FChunks.begin() + static_cast<std::ptrdiff_t>(pos), std::move(Chunk));
}

void TPngGraphic::LoadFromStream(TStream* Stream) {
  ClearChunks();
  static const uint8_t sig[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  uint8_t head[8];
  if (Stream->Read(head, 8) != 8 || std::memcmp(head, sig, 8) != 0)
    throw EPNGInvalidFileHeader(PngErrorText(65151));
  bool hasIdat = false;
  for (;;) {
    uint32_t len = ReadBE32(Stream);
    char name[4];
    if (Stream->Read(name, 4) != 4) throw EPngUnexpectedEnd(PngErrorText(65127));
    std::string n(name, 4);
    if (FChunks.empty() && n != "IHDR") throw EPNGIHDRNotFirst(PngErrorText(65120));
    if (n == "cHRM" || (n == "IDAT" && hasIdat)) {
      Stream->Seek(static_cast<int64_t>(len) + 4, platform::soFromCurrent);
      continue;
    }
    std::unique_ptr<TChunk> c = CreateChunkByName(this, n);
    if (c->GetName().empty() && n[0] >= 'A' && n[0] <= 'Z')
      throw EPNGUnknownCriticalChunk(PngErrorText(65123));
    TChunk* raw = c.get();
    FChunks.push_back(std::move(c));
    if (n == "IDAT") hasIdat = true;
    if (!raw->LoadFromStream(Stream, n, len) || n == "IEND") break;
  }
  if (!hasIdat) throw EPNGNoImageData(PngErrorText(65128));
  Changed();
}

void TPngGraphic::SaveToStream(TStream* Stream) {
  // An image without pixels makes no readable file: refused before anything is written.
  TChunkIHDR* h = Header();
  if (h->Width == 0 || h->Height == 0 || h->ImageData.empty()) throw EPngError(SPngNoPixels);
  // Image data is written in one of the two known orders only; another would leave it out.
  if (InterlaceMethod > 1) throw EPNGUnknownInterlace(PngErrorText(65125));
  static const uint8_t sig[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  Stream->WriteBuffer(sig, 8);
  for (auto& c : FChunks)
    if (c) c->SaveToStream(Stream);
}

int TPngGraphic::TransparencyMode() const {
  TChunkIHDR* h = Header();
  auto* trns = FindChunk<TChunktRNS>();
  switch (h->ColorType) {
    // A tRNS too short to hold the sample names no colour to leave out.
    case 0: return trns && trns->DataSize >= 2 ? 1 : 0;
    case 2: return trns && trns->DataSize >= 6 ? 1 : 0;
    // Each palette pixel takes the value of its own index: a colour key would also leave out
    // opaque entries that share the colour of a transparent one.
    case 3: return trns ? 2 : 0;
    case 4: case 6: return 2;
    default: return 0;
  }
}

bool TPngGraphic::HasPaletteKey() const {
  auto* trns = FindChunk<TChunktRNS>();
  if (Header()->ColorType != 3 || !trns || !trns->BitTransparency) return false;
  for (uint32_t i = 0; i < trns->DataSize && i < 256; ++i)
    if (trns->PaletteValues[i] == 0) return true;
  return false;
}

bool TPngGraphic::GetTransparent() const { return TransparencyMode() != 0; }

platform::TColor TPngGraphic::TransparentColor() const {
  auto* t = FindChunk<TChunktRNS>();
  return t ? t->TransparentColor() : 0;
}

uint8_t* TPngGraphic::Scanline(int32_t Y) const {
  TChunkIHDR* h = Header();
  return h->ImageData.data() + static_cast<size_t>(h->Height - 1 - Y) * h->BytesPerRow;
}

const uint8_t* TPngGraphic::KeyMaskRow(int32_t Y) const {
  TChunkIHDR* h = Header();
  auto* trns = FindChunk<TChunktRNS>();
  if (h->KeyMask.empty() || !trns || !std::equal(h->KeyMaskOf.begin(), h->KeyMaskOf.end(), trns->PaletteValues.begin()))
    return nullptr;
  return h->KeyMask.data() + static_cast<size_t>(Y) * h->Width;
}

uint8_t* TPngGraphic::AlphaScanline(int32_t Y) const {
  TChunkIHDR* h = Header();
  if (h->ImageAlpha.empty()) return nullptr;
  return h->ImageAlpha.data() + static_cast<size_t>(Y) * h->Width;
}

void TPngGraphic::CreateAlpha() {
  TChunkIHDR* h = Header();
  // A grey or RGB colour key has no place beside an alpha channel: a file holding both is
  // invalid, and its readers drop the key. The alpha plane takes over.
  if (h->ColorType == 0 || h->ColorType == 2)
    std::erase_if(FChunks, [](const std::unique_ptr<TChunk>& c) { return dynamic_cast<TChunktRNS*>(c.get()); });
  switch (h->ColorType) {
    case 0: {
      // Alpha images hold grey at 8 bits: widen lower depths to the sample levels of their
      // ramp. The levels stay as the file holds them and the ramp carries the gamma, so a
      // gAMA chunk applies once, as on reading.
      std::vector<uint8_t> old = h->ImageData;
      int32_t oldBpp = h->BitsPerPixel, oldStride = h->BytesPerRow;
      const int32_t top = (1 << oldBpp) - 1;
      h->ColorType = 4;
      if (h->BitDepth < 8) h->BitDepth = 8;
      h->PrepareImageData();
      for (uint32_t y = 0; y < h->Height; ++y)
        for (uint32_t x = 0; x < h->Width; ++x) {
          const uint8_t* row = old.data() + static_cast<size_t>(y) * oldStride;
          int32_t idx = oldBpp == 8 ? row[x]
                                    : (row[x * oldBpp / 8] >> (8 - oldBpp - (x * oldBpp) % 8)) & top;
          h->ImageData[static_cast<size_t>(y) * h->BytesPerRow + x] =
              static_cast<uint8_t>(platform::MulDiv(idx, 255, top));
        }
      for (int i = 0; i < 256; ++i) h->Palette[i] = GammaTable[i] * 0x010101u;
      std::fill(h->ImageAlpha.begin(), h->ImageAlpha.end(), 255);
      break;
    }
    case 2: {
      std::vector<uint8_t> old = std::move(h->ImageData);
      h->ColorType = 6;
      h->PrepareImageData();
      h->ImageData = std::move(old);
      std::fill(h->ImageAlpha.begin(), h->ImageAlpha.end(), 255);
      break;
    }
    case 3: {
      auto* t = FindChunk<TChunktRNS>();
      if (!t) t = AddChunk<TChunktRNS>();
      t->PaletteValues.fill(255);
      t->ResizeData(1u << std::min<uint8_t>(h->BitDepth, 8));
      std::memcpy(t->Data.data(), t->PaletteValues.data(), t->DataSize);
      break;
    }
    default: break;
  }
}

void TPngGraphic::Assign(const platform::TPersistent* Source) {
  if (auto* p = dynamic_cast<const TPngGraphic*>(Source)) {
    if (p == this) return;
    InterlaceMethod = p->InterlaceMethod;
    SetMaxIdatSize(p->FMaxIdatSize);
    CompressionLevel = p->CompressionLevel;
    Filters = p->Filters;
    ClearChunks();
    for (auto& c : p->FChunks) {
      FChunks.push_back(c ? c->NewSameClass(this) : nullptr);
      if (c) FChunks.back()->Assign(c.get());
    }
    // The copied pixels and palette are held gamma-corrected under the copied gAMA chunk, so
    // the tables go with them; with identity tables a save would apply the gamma twice.
    GammaTable = p->GammaTable;
    InverseTable = p->InverseTable;
    Changed();
    return;
  }
  if (auto* b = dynamic_cast<const platform::TBitmap*>(Source)) {
    AssignFromBitmap(b);
    Changed();
    return;
  }
  platform::TGraphic::Assign(Source);
}

void TPngGraphic::AssignFromBitmap(const platform::TBitmap* Src) {
  auto* bmp = const_cast<platform::TBitmap*>(Src);
  ClearChunks();
  auto ihdr = std::make_unique<TChunkIHDR>(this);
  ihdr->Name = "IHDR";
  ihdr->Width = static_cast<uint32_t>(bmp->Width());
  ihdr->Height = static_cast<uint32_t>(std::abs(bmp->Height()));
  // Below 16 bits a pixel the image keeps the bitmap's palette and depth; else RGB at 8 bits.
  const int32_t bpp = bmp->BitsPerPixel();
  const bool palette = bpp <= 8;
  ihdr->ColorType = palette ? 3 : 2;
  ihdr->BitDepth = static_cast<uint8_t>(palette ? bpp : 8);
  TChunkIHDR* h = ihdr.get();
  FChunks.push_back(std::move(ihdr));
  if (palette) {
    auto plte = std::make_unique<TChunkPLTE>(this);
    plte->Name = "PLTE";
    plte->Count = static_cast<uint32_t>(std::min<size_t>(bmp->Palette().size(), size_t{1} << bpp));
    FChunks.push_back(std::move(plte));
  }
  auto idat = std::make_unique<TChunkIDAT>(this);
  idat->Name = "IDAT";
  FChunks.push_back(std::move(idat));
  auto iend = std::make_unique<TChunkIEND>(this);
  iend->Name = "IEND";
  FChunks.push_back(std::move(iend));
  if (h->Width == 0 || h->Height == 0) return;
  h->PrepareImageData();
  if (palette) {
    const platform::TPaletteEntries& pal = bmp->Palette();
    for (size_t i = 0; i < pal.size() && i < 256; ++i) {
      uint32_t c = static_cast<uint32_t>(pal[i]);
      h->Palette[i] = ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
    }
    const size_t n = static_cast<size_t>(std::min(h->BytesPerRow, bmp->RowBytes()));
    for (uint32_t y = 0; y < h->Height; ++y)
      std::memcpy(Scanline(static_cast<int32_t>(y)), bmp->ScanLine(static_cast<int32_t>(y)), n);
  } else {
    bool wide = bpp == 32;
    for (uint32_t y = 0; y < h->Height; ++y) {
      const uint8_t* s = static_cast<const uint8_t*>(bmp->ScanLine(static_cast<int32_t>(y)));
      uint8_t* d = Scanline(static_cast<int32_t>(y));
      for (uint32_t x = 0; x < h->Width; ++x, s += wide ? 4 : 3, d += 3) {
        d[0] = s[0];
        d[1] = s[1];
        d[2] = s[2];
      }
    }
  }
  if (bmp->Transparent()) AddChunk<TChunktRNS>()->SetTransparentColor(bmp->TransparentColor());
}

void TPngGraphic::AssignTo(platform::TPersistent* Dest) const {
  if (auto* p = dynamic_cast<TPngGraphic*>(Dest)) {
    p->Assign(this);
    return;
  }
  if (auto* b = dynamic_cast<platform::TBitmap*>(Dest)) {
    const int32_t dib = HeaderPresent() ? Header()->BitsPerPixel : 24;
    if (dib >= 1 && dib <= 8 && Width() > 0 && Height() > 0) {
      // The bitmap takes the image's own depth and colour table.
      TChunkIHDR* h = Header();
      b->SetSize(0, 0);
      b->SetPixelFormat(dib == 1 ? platform::pf1bit : dib == 4 ? platform::pf4bit : platform::pf8bit);
      b->SetSize(Width(), Height());
      platform::TPaletteEntries pal;
      for (int i = 0; i < (1 << dib); ++i) {
        uint32_t c = h->Palette[static_cast<size_t>(i)];
        pal.push_back(platform::RGB((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF));
      }
      b->SetPalette(pal);
      const size_t n = static_cast<size_t>(std::min(h->BytesPerRow, b->RowBytes()));
      for (int32_t y = 0; y < Height(); ++y) std::memcpy(b->ScanLine(y), Scanline(y), n);
    } else {
      b->SetPixelFormat(platform::pf24bit);
      b->SetSize(Width(), Height());
      for (int32_t y = 0; y < Height(); ++y) {
        uint8_t* d = static_cast<uint8_t*>(b->ScanLine(y));
        for (int32_t x = 0; x < Width(); ++x, d += 3) {
          platform::TColor c = Pixel(x, y);
          d[0] = (c >> 16) & 0xFF;
          d[1] = (c >> 8) & 0xFF;
          d[2] = c & 0xFF;
        }
      }
    }
    // A bitmap holds no alpha: a palette image hands on the colour of its entry of value 0.
    if (HeaderPresent() && (TransparencyMode() == 1 || HasPaletteKey())) {
      b->SetTransparentMode(platform::tmFixed);
      b->SetTransparentColor(platform::ColorToRGB(TransparentColor()));
      b->SetTransparent(true);
    }
    return;
  }
  platform::TGraphic::AssignTo(Dest);
}

platform::TPaletteEntries TPngGraphic::GetPalette() {
  TChunkIHDR* h = Header();
  if ((h->ColorType == 0 || h->ColorType == 3) && !FPaletteMade) {
    FPaletteCache.clear();
    for (uint32_t c : h->Palette) FPaletteCache.push_back(platform::RGB((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF));
    FPaletteMade = true;
  }
  return FPaletteCache;
}

void TPngGraphic::SaveToClipboardFormat(uint16_t& Format, std::vector<uint8_t>& Data,
                                        platform::TPaletteEntries& Palette) {
  platform::TBitmap bmp;  // freed on every path
  bmp.SetSize(Width(), Height());
  Draw(bmp.Canvas(), platform::Rect(0, 0, Width(), Height()));
  bmp.Canvas()->Release();
  bmp.SaveToClipboardFormat(Format, Data, Palette);
}

void TPngGraphic::LoadFromClipboardFormat(uint16_t Format, const std::vector<uint8_t>& Data,
                                          const platform::TPaletteEntries& Palette) {
  platform::TBitmap bmp;
  bmp.LoadFromClipboardFormat(Format, Data, Palette);
  bmp.SetTransparent(false);
  AssignFromBitmap(&bmp);
  Changed();
}

platform::TColor TPngGraphic::Pixel(int32_t X, int32_t Y) const {
  if (X < 0 || Y < 0 || X >= Width() || Y >= Height()) return 0;
  TChunkIHDR* h = Header();
  const uint8_t* row = Scanline(Y);
  int32_t b = h->BitsPerPixel;
  if (b == 24) return platform::RGB(row[X * 3 + 2], row[X * 3 + 1], row[X * 3]);
  uint32_t v = b == 8 ? row[X] : (row[X * b / 8] >> (8 - b - (X * b) % 8)) & ((1u << b) - 1);
  if (h->ColorType == 3) {
    auto* plte = FindChunk<TChunkPLTE>();
    if (!plte) throw EPngError(PngErrorText(65122));
    uint32_t c = plte->Item(static_cast<uint8_t>(v));
    return platform::RGB((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF);
  }
  uint8_t g = GammaTable[v * 255 / ((1u << b) - 1)];
  return platform::RGB(g, g, g);
}

void TPngGraphic::SetPixel(int32_t X, int32_t Y, platform::TColor Value) {
  if (X < 0 || Y < 0 || X >= Width() || Y >= Height()) return;
  TChunkIHDR* h = Header();
  // A pixel set to the key colour is left out like any other of that colour.
  if (!h->KeyMask.empty()) h->KeyMask[static_cast<size_t>(Y) * h->Width + X] = 1;
  uint8_t* row = Scanline(Y);
  int32_t b = h->BitsPerPixel;
  if (b == 24) {
    row[X * 3 + 2] = Value & 0xFF;
    row[X * 3 + 1] = (Value >> 8) & 0xFF;
    row[X * 3] = (Value >> 16) & 0xFF;
    return;
  }
  platform::TColor c = platform::ColorToRGB(Value);
  int r = c & 0xFF, g = (c >> 8) & 0xFF, bl = (c >> 16) & 0xFF;
  // The nearest of the colours a pixel of this image can show: the palette's own entries, or
  // the grey levels of the bit depth as Pixel reads them. The unused places of the colour table
  // are no candidates: their index would not fit the bits or would lie beyond the palette.
  const uint32_t levels = 1u << b;
  uint32_t count = levels;
  if (h->ColorType == 3) {
    auto* plte = FindChunk<TChunkPLTE>();
    count = plte ? std::min(plte->Count, levels) : 0;
    if (count == 0) throw EPngError(PngErrorText(65122));
  }
  // A colour is written to be seen: entries that are wholly see-through come into question only
  // when there is nothing else.
  auto* trns = h->ColorType == 3 ? FindChunk<TChunktRNS>() : nullptr;
  bool solid = false;
  for (uint32_t i = 0; trns && i < count && !solid; ++i) solid = trns->PaletteValues[i] != 0;
  uint32_t best = 0;
  int bestD = INT32_MAX;
  for (uint32_t i = 0; i < count; ++i) {
    if (solid && trns->PaletteValues[i] == 0) continue;
    uint32_t p;
    if (h->ColorType == 3) {
      p = h->Palette[i];
    } else {
      uint32_t level = GammaTable[i * 255 / (levels - 1)];
      p = level * 0x010101u;
    }
    int dr = r - int((p >> 16) & 0xFF), dg = g - int((p >> 8) & 0xFF), db = bl - int(p & 0xFF);
    int d = dr * dr + dg * dg + db * db;
    if (d < bestD) {
      bestD = d;
      best = i;
    }
  }
  // Only the pixel's own bits change.
  uint32_t mask = (1u << b) - 1;
  if (b == 8) {
    row[X] = static_cast<uint8_t>(best);
  } else {
    int shift = 8 - b - (X * b) % 8;
    uint8_t& byte = row[X * b / 8];
    byte = static_cast<uint8_t>((byte & ~(mask << shift)) | ((best & mask) << shift));
  }
}

void TPngGraphic::RenderARGB(uint32_t* Dest) const {
  TChunkIHDR* h = Header();
  int mode = TransparencyMode();
  uint32_t tc = 0;
  if (mode == 1) {
    platform::TColor t = platform::ColorToRGB(TransparentColor());
    tc = ((t & 0xFF) << 16) | (t & 0xFF00) | ((t >> 16) & 0xFF);
  }
  auto* trns = FindChunk<TChunktRNS>();
  int32_t b = h->BitsPerPixel;
  for (uint32_t y = 0; y < h->Height; ++y) {
    const uint8_t* row = Scanline(static_cast<int32_t>(y));
    const uint8_t* alpha = AlphaScanline(static_cast<int32_t>(y));
    const uint8_t* key = mode == 1 ? KeyMaskRow(static_cast<int32_t>(y)) : nullptr;
    uint32_t* d = Dest + static_cast<size_t>(y) * h->Width;
    for (uint32_t x = 0; x < h->Width; ++x) {
      uint32_t rgb, idx = 0;
      if (b == 24) {
        rgb = (uint32_t{row[x * 3 + 2]} << 16) | (uint32_t{row[x * 3 + 1]} << 8) | row[x * 3];
      } else {
        idx = b == 8 ? row[x] : (row[x * b / 8] >> (8 - b - (x * b) % 8)) & ((1u << b) - 1);
        rgb = h->Palette[idx] & 0xFFFFFF;
      }
      if (mode == 0) {
        d[x] = 0xFF000000u | rgb;
      } else if (mode == 1) {
        d[x] = rgb == tc && (!key || key[x]) ? 0 : 0xFF000000u | rgb;
      } else {
        // An alpha plane's or a palette entry's value (255 for entries without one), with the
        // colour kept straight: a save writes these components back as they are.
        uint32_t a = alpha ? alpha[x] : (trns ? trns->PaletteValues[idx] : 255);
        d[x] = (a << 24) | rgb;
      }
    }
  }
}

void TPngGraphic::Draw(platform::TCanvas* Canvas, const platform::TRect& R) {
  if (!HeaderPresent() || Width() == 0 || Height() == 0) return;
  const int mode = TransparencyMode();
  // A colour key that the 8-bit colours cannot carry is drawn as an alpha image.
  const bool keyMask = mode == 1 && KeyMaskRow(0);
  if (mode != 2 && !keyMask) {
    platform::TBitmap bmp;
    AssignTo(&bmp);  // carries the transparent colour for binary transparency
    Canvas->StretchDraw(R, &bmp);
    return;
  }
  // Partial transparency: blend over what the canvas holds, at the image's own size.
  TChunkIHDR* h = Header();
  platform::TRect whole = platform::Rect(0, 0, Width(), Height());
  platform::TBitmap tmp;
  tmp.SetPixelFormat(platform::pf24bit);
  tmp.SetSize(Width(), Height());
  if (tmp.Empty()) throw EPNGOutMemory(PngErrorText(65132));
  tmp.Canvas()->CopyRect(whole, Canvas, R);
  auto* trns = FindChunk<TChunktRNS>();
  int32_t b = h->BitsPerPixel;
  uint32_t tc = 0;
  if (keyMask) {
    platform::TColor t = platform::ColorToRGB(TransparentColor());
    tc = ((t & 0xFF) << 16) | (t & 0xFF00) | ((t >> 16) & 0xFF);
  }
  for (int32_t y = 0; y < Height(); ++y) {
    const uint8_t* row = Scanline(y);
    const uint8_t* alpha = AlphaScanline(y);
    const uint8_t* key = keyMask ? KeyMaskRow(y) : nullptr;
    uint8_t* d = static_cast<uint8_t*>(tmp.ScanLine(y));
    for (int32_t x = 0; x < Width(); ++x, d += 3) {
      uint32_t rgb, idx = 0;
      if (b == 24) {
        rgb = (uint32_t{row[x * 3 + 2]} << 16) | (uint32_t{row[x * 3 + 1]} << 8) | row[x * 3];
      } else {
        idx = b == 8 ? row[x] : (row[x * b / 8] >> (8 - b - (x * b) % 8)) & ((1u << b) - 1);
        rgb = h->Palette[idx] & 0xFFFFFF;
      }
      uint32_t a = key ? (rgb == tc && key[x] ? 0 : 255) : alpha ? alpha[x] : (trns ? trns->PaletteValues[idx] : 255);
      d[0] = static_cast<uint8_t>(((rgb & 0xFF) * a + 255 + (255 - a) * d[0]) >> 8);
      d[1] = static_cast<uint8_t>((((rgb >> 8) & 0xFF) * a + 255 + (255 - a) * d[1]) >> 8);
      d[2] = static_cast<uint8_t>((((rgb >> 16) & 0xFF) * a + 255 + (255 - a) * d[2]) >> 8);
    }
  }
  Canvas->CopyRect(R, tmp.Canvas(), whole);
}

void InitializePngGraphic() {
  ChunkClasses();
  platform::RegisterFileFormat("PNG", "Portable Network Graphics", [] { return std::make_unique<TPngGraphic>(); });
}

void FinalizePngGraphic() {
  platform::UnregisterFileFormat("PNG");
  TChunkClassList().swap(ChunkClassStore());
}

}  // namespace raster

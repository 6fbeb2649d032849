#include "document/XmlBitmaps.h"

#include <algorithm>
#include <string>
#include <vector>

#include "document/Compressors.h"
#include "document/XmlDocuments.h"
#include "platform/Graphics.h"
#include "raster/Raster32.h"

namespace document {

namespace {

// The chain cannot expand data by more than about a thousand times; larger claims are corrupt
// and must not drive allocations.
constexpr int64_t cMaxExpansion = 1100;
constexpr int64_t cExpansionSlack = 4096;
// No stored stream is larger than the largest bitmap's file image (2^28 pixels of 4 bytes) and
// its headers; the writer refuses anything larger as well.
constexpr int64_t cMaxStoredBytes = (int64_t(1) << 30) + 65536;
// Bitmap data up to this size, or expanding its stored bytes no more than this many times,
// is decoded before its header is looked at: the allocation stays in proportion to the file.
constexpr int32_t cPeekThreshold = 65536;
constexpr int64_t cTrustedRatio = 16;
// Headers, palette, colour masks and profile data besides the pixel rows.
constexpr int64_t cBitmapHeaderAllowance = 65536;
// Bytes of the bitmap file header and the start of its info header that are checked.
constexpr int32_t cHeaderBytes = 34;

[[noreturn]] void Refuse(const std::string& What) { throw ECompressorError("Stored bitmap data refused: " + What); }

uint32_t U16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
uint32_t U32(const uint8_t* p) { return U16(p) | U16(p + 2) << 16; }

// SourceSize checked against what the bitmap file whose header is H can be: its pixel count
// within the bitmap limit and its size within the rows of that image plus the headers.
void CheckBitmapHeader(const uint8_t* H, int64_t SourceSize) {
  if (H[0] != 'B' || H[1] != 'M') Refuse("not a bitmap file");
  const uint32_t infoSize = U32(H + 14);
  int64_t w, h;
  uint32_t bpp, compression = 0;
  if (infoSize == 12) {
    w = U16(H + 18);
    h = U16(H + 20);
    bpp = U16(H + 24);
  } else if (infoSize >= 40 && infoSize <= 124) {
    w = int32_t(U32(H + 18));
    h = int32_t(U32(H + 22));
    bpp = U16(H + 28);
    compression = U32(H + 30);
  } else {
    Refuse("not a bitmap file");
  }
  w = w < 0 ? -w : w;
  h = h < 0 ? -h : h;
  if (w * h > raster::TBitmap32::MaxPixels)
    Refuse(std::to_string(w) + " x " + std::to_string(h) + " pixels exceed the limit of " +
           std::to_string(raster::TBitmap32::MaxPixels) + " pixels");
  bpp = std::clamp<uint32_t>(bpp, 1, 64);
  int64_t rows = (w * bpp + 31) / 32 * 4 * h;
  // Run-length coded rows take at most two bytes a pixel and an end-of-line code a row.
  if (compression == 1 || compression == 2) rows = std::max(rows, 2 * w * h + 2 * h + 2);
  if (SourceSize > rows + cBitmapHeaderAllowance)
    Refuse(std::to_string(SourceSize) + " bytes are more than a " + std::to_string(w) + " x " +
           std::to_string(h) + " image of " + std::to_string(bpp) + " bits per pixel needs");
}

// The stored sizes and packed bytes of the element, checked against the text that backs them
// and the fixed budget; false when there is nothing to read.
bool ReadPacked(TXmlNode* Node, const std::string& Name, std::vector<uint8_t>& Packed, int32_t& Source) {
  if (!Node) return false;
  TXmlNode* child = Node->NodeByName(Name);
  if (!child) return false;
  const int32_t compressed = child->ReadInteger("CompressedSize", 0);
  Source = child->ReadInteger("SourceSize", 0);
  if (compressed == 0 || Source == 0) return false;
  TXmlNode* buffer = child->NodeByName("Buffer");
  if (!buffer) return false;
  if (compressed < 0 || Source < 0 || int64_t(Source) > int64_t(compressed) * cMaxExpansion + cExpansionSlack)
    throw ECompressorError("Corrupt compressed data: sizes out of range");
  if (Source > cMaxStoredBytes)
    throw ECompressorError("Stored data of " + std::to_string(Source) + " bytes exceeds the limit of " +
                           std::to_string(cMaxStoredBytes) + " bytes");
  if (buffer->BufferLength() < compressed) throw ECompressorError("Corrupt compressed data: buffer too short");
  Packed.resize(static_cast<size_t>(compressed));
  if (buffer->BufferRead(Packed.data(), compressed) != compressed)
    throw ECompressorError("Corrupt compressed data: buffer too short");
  return true;
}

// Planes 0: a plain stream; otherwise a bitmap file split into that many planes, whose
// header is checked against the stored size before the whole is decoded.
void ReadChecked(TXmlNode* Node, const std::string& Name, platform::TMemoryStream* Stream, int32_t Planes) {
  if (!Stream) return;
  std::vector<uint8_t> packed;
  int32_t source = 0;
  if (!ReadPacked(Node, Name, packed, source)) return;
  if (Planes > 0 && source > cPeekThreshold && source > cTrustedRatio * int64_t(packed.size())) {
    // Where the header bytes went when the file image was split into planes.
    const int32_t m = source / Planes;
    std::vector<int32_t> at(cHeaderBytes);
    for (int32_t i = 0; i < cHeaderBytes; ++i) at[size_t(i)] = (i % Planes) * m + i / Planes;
    std::vector<int32_t> sorted = at;
    std::sort(sorted.begin(), sorted.end());
    const std::vector<uint8_t> got = PeekChain(packed.data(), int32_t(packed.size()), source, sorted);
    uint8_t header[cHeaderBytes];
    for (int32_t i = 0; i < cHeaderBytes; ++i)
      header[i] = got[size_t(std::lower_bound(sorted.begin(), sorted.end(), at[size_t(i)]) - sorted.begin())];
    CheckBitmapHeader(header, source);
  } else {
    // The inner block's own header must claim the stored size before that is allocated.
    PeekChain(packed.data(), int32_t(packed.size()), source, {});
  }
  std::vector<uint8_t> data(static_cast<size_t>(source));
  DecompressChain(packed.data(), int32_t(packed.size()), data.data(), source);
  packed = {};
  Stream->SetSize(source);
  std::copy(data.begin(), data.end(), static_cast<uint8_t*>(Stream->Memory()));
  Stream->SetPosition(0);
}

void WritePlanes(TXmlNode* Node, const std::string& Name, platform::TMemoryStream* Stream, int32_t Planes) {
  const int32_t n = int32_t(Stream->GetSize());
  auto* p = static_cast<uint8_t*>(Stream->Memory());
  SplitPlanes(p, p, n, Planes);
  WriteStreamToXml(Node, Name, Stream);
}

// Reads into Stream and joins the planes; false when nothing arrived.
bool ReadPlanes(TXmlNode* Node, const std::string& Name, platform::TMemoryStream* Stream, int32_t Planes) {
  ReadChecked(Node, Name, Stream, Planes);
  const int32_t n = int32_t(Stream->GetSize());
  if (n <= 0) return false;
  auto* p = static_cast<uint8_t*>(Stream->Memory());
  JoinPlanes(p, p, n, Planes);
  Stream->SetPosition(0);
  return true;
}

}  // namespace

void WriteStreamToXml(TXmlNode* Node, const std::string& Name, platform::TMemoryStream* Stream) {
  if (!Node || !Stream || Name.empty()) return;
  const int64_t size = Stream->GetSize();
  if (size <= 0) return;
  if (size > INT32_MAX / 2) throw ECompressorError("Data too large to compress");
  const auto packed = CompressChain(static_cast<const uint8_t*>(Stream->Memory()), int32_t(size));
  TXmlNode* child = Node->NodeNew(Name);
  child->WriteInteger("SourceSize", int32_t(size));
  child->WriteInteger("CompressedSize", int32_t(packed.size()));
  child->NodeNew("Buffer")->BufferWrite(packed.data(), int32_t(packed.size()));
}

void ReadStreamFromXml(TXmlNode* Node, const std::string& Name, platform::TMemoryStream* Stream) {
  ReadChecked(Node, Name, Stream, 0);
}

void WriteBitmapToXml(TXmlNode* Node, const std::string& Name, platform::TBitmap* Bitmap) {
  if (!Bitmap) return;
  platform::TMemoryStream ms;
  Bitmap->SaveToStream(&ms);
  WritePlanes(Node, Name, &ms, 3);
}

void ReadBitmapFromXml(TXmlNode* Node, const std::string& Name, std::unique_ptr<platform::TBitmap>& Bitmap) {
  platform::TMemoryStream ms;
  if (!ReadPlanes(Node, Name, &ms, 3)) return;
  if (!Bitmap) Bitmap = std::make_unique<platform::TBitmap>();
  Bitmap->LoadFromStream(&ms);
}

void WriteBitmap32ToXml(TXmlNode* Node, const std::string& Name, const raster::TBitmap32* Bitmap) {
  if (!Bitmap) return;
  platform::TMemoryStream ms;
  Bitmap->SaveToStream(&ms);
  WritePlanes(Node, Name, &ms, 4);
}

void ReadBitmap32FromXml(TXmlNode* Node, const std::string& Name, std::unique_ptr<raster::TBitmap32>& Bitmap) {
  platform::TMemoryStream ms;
  if (!ReadPlanes(Node, Name, &ms, 4)) return;
  if (!Bitmap) Bitmap = std::make_unique<raster::TBitmap32>();
  Bitmap->LoadFromStream(&ms);
}

}  // namespace document

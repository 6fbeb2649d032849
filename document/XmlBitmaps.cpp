#include "document/XmlBitmaps.h"

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

void WritePlanes(TXmlNode* Node, const std::string& Name, platform::TMemoryStream* Stream, int32_t Planes) {
  const int32_t n = int32_t(Stream->GetSize());
  auto* p = static_cast<uint8_t*>(Stream->Memory());
  SplitPlanes(p, p, n, Planes);
  WriteStreamToXml(Node, Name, Stream);
}

// Reads into Stream and joins the planes; false when nothing arrived.
bool ReadPlanes(TXmlNode* Node, const std::string& Name, platform::TMemoryStream* Stream, int32_t Planes) {
  ReadStreamFromXml(Node, Name, Stream);
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
  if (!Node || !Stream) return;
  TXmlNode* child = Node->NodeByName(Name);
  if (!child) return;
  const int32_t compressed = child->ReadInteger("CompressedSize", 0);
  const int32_t source = child->ReadInteger("SourceSize", 0);
  if (compressed == 0 || source == 0) return;
  TXmlNode* buffer = child->NodeByName("Buffer");
  if (!buffer) return;
  if (compressed < 0 || source < 0 || int64_t(source) > int64_t(compressed) * cMaxExpansion + cExpansionSlack)
    throw ECompressorError("Corrupt compressed data: sizes out of range");
  if (buffer->BufferLength() < compressed) throw ECompressorError("Corrupt compressed data: buffer too short");
  std::vector<uint8_t> packed(static_cast<size_t>(compressed));
  if (buffer->BufferRead(packed.data(), compressed) != compressed)
    throw ECompressorError("Corrupt compressed data: buffer too short");
  std::vector<uint8_t> data(static_cast<size_t>(source));
  DecompressChain(packed.data(), compressed, data.data(), source);
  Stream->SetSize(source);
  std::copy(data.begin(), data.end(), static_cast<uint8_t*>(Stream->Memory()));
  Stream->SetPosition(0);
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

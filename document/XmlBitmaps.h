// Byte streams and bitmaps stored inside XML: compressed by the engine's own compressor
// (Compressors.h) and written as an element with the children "SourceSize",
// "CompressedSize" and "Buffer" (the bytes in the document's binary encoding). Bitmaps are
// stored as their bitmap-file image split into colour planes (3 for TBitmap, 4 for TBitmap32).
#pragma once

#include <memory>
#include <string>

#include "platform/Classes.h"

namespace platform {
class TBitmap;
}
namespace raster {
class TBitmap32;
}

namespace document {

class TXmlNode;

// Nothing for a nil node or stream, an empty name or an empty stream. The stream is not
// changed.
void WriteStreamToXml(TXmlNode* Node, const std::string& Name, platform::TMemoryStream* Stream);
// Nothing without the child Name, with a "SourceSize" or "CompressedSize" of 0, or without a
// "Buffer". Otherwise the stream receives exactly SourceSize bytes at position 0; stored data
// that does not decode to them raises ECompressorError and leaves the stream untouched.
void ReadStreamFromXml(TXmlNode* Node, const std::string& Name, platform::TMemoryStream* Stream);

void WriteBitmapToXml(TXmlNode* Node, const std::string& Name, platform::TBitmap* Bitmap);
// Creates the bitmap when Bitmap is empty and data arrived. Stored sizes larger than the
// budget, or (for highly compressed data) larger than the bitmap header says the image needs,
// raise ECompressorError before the data is decoded.
void ReadBitmapFromXml(TXmlNode* Node, const std::string& Name, std::unique_ptr<platform::TBitmap>& Bitmap);
void WriteBitmap32ToXml(TXmlNode* Node, const std::string& Name, const raster::TBitmap32* Bitmap);
void ReadBitmap32FromXml(TXmlNode* Node, const std::string& Name, std::unique_ptr<raster::TBitmap32>& Bitmap);

}  // namespace document

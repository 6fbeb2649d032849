#include "document/XmlBitmaps.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "document/Compressors.h"
#include "document/XmlDocuments.h"
#include "platform/Graphics.h"
#include "raster/Raster32.h"

using namespace document;

namespace {

platform::TMemoryStream* Fill(platform::TMemoryStream& ms, const std::vector<uint8_t>& bytes) {
  ms.SetSize(0);
  ms.WriteBuffer(bytes.data(), int32_t(bytes.size()));
  return &ms;
}

std::vector<uint8_t> Bytes(platform::TMemoryStream& ms) {
  const auto* p = static_cast<const uint8_t*>(ms.Memory());
  return std::vector<uint8_t>(p, p + ms.GetSize());
}

}  // namespace

TEST(XmlBitmaps, StreamRoundTripLeavesTheSourceAlone) {
  std::vector<uint8_t> bytes(3000);
  std::mt19937 rng(3);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i < 1500 ? i / 50 : rng());
  platform::TMemoryStream src;
  Fill(src, bytes);
  TXmlDocument xml("Root");
  WriteStreamToXml(xml.Root(), "Data", &src);
  EXPECT_EQ(Bytes(src), bytes);
  TXmlNode* d = xml.Root()->NodeByName("Data");
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(d->GetNodeCount(), 3);
  EXPECT_EQ(d->GetNode(0)->Name(), "SourceSize");
  EXPECT_EQ(d->GetNode(1)->Name(), "CompressedSize");
  EXPECT_EQ(d->GetNode(2)->Name(), "Buffer");
  EXPECT_EQ(d->ReadInteger("SourceSize"), 3000);
  const auto packed = CompressChain(bytes.data(), 3000);
  EXPECT_EQ(d->ReadInteger("CompressedSize"), int32_t(packed.size()));
  EXPECT_EQ(d->NodeByName("Buffer")->ValueAsString(), EncodeBase64(packed.data(), int32_t(packed.size())));

  TXmlDocument back;
  back.ReadFromString(xml.WriteToString());
  platform::TMemoryStream dst;
  ReadStreamFromXml(back.Root(), "data", &dst);
  EXPECT_EQ(dst.GetPosition(), 0);
  EXPECT_EQ(Bytes(dst), bytes);
}

TEST(XmlBitmaps, NothingToWriteOrRead) {
  TXmlDocument xml("Root");
  platform::TMemoryStream empty;
  WriteStreamToXml(xml.Root(), "Data", &empty);
  WriteStreamToXml(xml.Root(), "", Fill(empty, {1, 2}));
  WriteStreamToXml(nullptr, "Data", &empty);
  EXPECT_EQ(xml.Root()->GetNodeCount(), 0);
  platform::TMemoryStream target;
  Fill(target, {9, 9, 9});
  // No child, a zero SourceSize, or no Buffer: the target stays as it was.
  ReadStreamFromXml(xml.Root(), "Data", &target);
  xml.Root()->ReadFromString("<Root><Data><SourceSize>0</SourceSize><CompressedSize>5</CompressedSize></Data>"
                             "<NoBuf><SourceSize>10</SourceSize><CompressedSize>5</CompressedSize></NoBuf></Root>");
  ReadStreamFromXml(xml.Root(), "Data", &target);
  ReadStreamFromXml(xml.Root(), "NoBuf", &target);
  EXPECT_EQ(Bytes(target), (std::vector<uint8_t>{9, 9, 9}));
}

TEST(XmlBitmaps, CorruptStoredDataIsRejected) {
  TXmlDocument xml("Root");
  platform::TMemoryStream src;
  std::vector<uint8_t> bytes(400, 7);
  WriteStreamToXml(xml.Root(), "Data", Fill(src, bytes));
  TXmlNode* d = xml.Root()->NodeByName("Data");
  platform::TMemoryStream target;
  Fill(target, {1});
  d->WriteInteger("SourceSize", 401);
  EXPECT_THROW(ReadStreamFromXml(xml.Root(), "Data", &target), ECompressorError);
  d->WriteInteger("SourceSize", 2000000000);
  EXPECT_THROW(ReadStreamFromXml(xml.Root(), "Data", &target), ECompressorError);
  d->WriteInteger("SourceSize", 400);
  d->WriteInteger("CompressedSize", 100000);
  EXPECT_THROW(ReadStreamFromXml(xml.Root(), "Data", &target), ECompressorError);
  d->WriteInteger("CompressedSize", -5);
  EXPECT_THROW(ReadStreamFromXml(xml.Root(), "Data", &target), ECompressorError);
  EXPECT_EQ(Bytes(target), (std::vector<uint8_t>{1}));
}

TEST(XmlBitmaps, Bitmap32RoundTrip) {
  raster::TBitmap32 bmp;
  bmp.SetSize(37, 23);
  for (int y = 0; y < 23; ++y)
    for (int x = 0; x < 37; ++x) bmp.SetPixel(x, y, raster::Color32(x * 7, y * 11, (x * y) & 255, 255 - x));
  TXmlDocument xml("Page");
  WriteBitmap32ToXml(xml.Root(), "BackgroundImage", &bmp);
  std::unique_ptr<raster::TBitmap32> back;
  ReadBitmap32FromXml(xml.Root(), "BackgroundImage", back);
  ASSERT_NE(back, nullptr);
  ASSERT_EQ(back->Width(), 37);
  ASSERT_EQ(back->Height(), 23);
  EXPECT_EQ(std::memcmp(back->Bits(), bmp.Bits(), 37 * 23 * 4), 0);
  // The stored bytes are the bitmap file split into four planes.
  platform::TMemoryStream file;
  bmp.SaveToStream(&file);
  platform::TMemoryStream raw;
  ReadStreamFromXml(xml.Root(), "BackgroundImage", &raw);
  std::vector<uint8_t> planes = Bytes(file);
  SplitPlanes(planes.data(), planes.data(), int32_t(planes.size()), 4);
  EXPECT_EQ(Bytes(raw), planes);
  // Nothing stored leaves the bitmap variable alone.
  std::unique_ptr<raster::TBitmap32> none;
  ReadBitmap32FromXml(xml.Root(), "Missing", none);
  EXPECT_EQ(none, nullptr);
}

TEST(XmlBitmaps, PlatformBitmapRoundTrip) {
  platform::TBitmap bmp;
  bmp.SetPixelFormat(platform::pf24bit);
  bmp.SetSize(9, 5);
  for (int y = 0; y < 5; ++y) {
    auto* row = static_cast<uint8_t*>(bmp.ScanLine(y));
    for (int x = 0; x < 27; ++x) row[x] = uint8_t(x * 9 + y);
  }
  TXmlDocument xml("Document");
  WriteBitmapToXml(xml.Root(), "Thumb", &bmp);
  std::unique_ptr<platform::TBitmap> back;
  ReadBitmapFromXml(xml.Root(), "Thumb", back);
  ASSERT_NE(back, nullptr);
  ASSERT_EQ(back->Width(), 9);
  ASSERT_EQ(back->Height(), 5);
  for (int y = 0; y < 5; ++y)
    EXPECT_EQ(std::memcmp(back->ScanLine(y), bmp.ScanLine(y), 27), 0) << y;
  // Three planes over the whole file image.
  platform::TMemoryStream file, raw;
  bmp.SaveToStream(&file);
  ReadStreamFromXml(xml.Root(), "Thumb", &raw);
  std::vector<uint8_t> planes = Bytes(file);
  SplitPlanes(planes.data(), planes.data(), int32_t(planes.size()), 3);
  EXPECT_EQ(Bytes(raw), planes);
}

#include "document/XmlBitmaps.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <random>

#include "document/Compressors.h"
#include "document/XmlDocuments.h"
#include "platform/Graphics.h"
#include "raster/Raster32.h"

using namespace document;

// The largest single allocation while gTrack is set. Every form of the global operators is
// replaced so that all of them meet the same malloc and free.
namespace {
std::atomic<bool> gTrack{false};
std::atomic<size_t> gLargest{0};
void* Allocate(size_t n, size_t align = 0) {
  if (gTrack.load(std::memory_order_relaxed) && n > gLargest.load(std::memory_order_relaxed)) gLargest = n;
  if (n == 0) n = 1;
  return align ? std::aligned_alloc(align, (n + align - 1) / align * align) : std::malloc(n);
}
void* AllocateOrThrow(size_t n, size_t align = 0) {
  if (void* p = Allocate(n, align)) return p;
  throw std::bad_alloc();
}
}  // namespace

void* operator new(size_t n) { return AllocateOrThrow(n); }
void* operator new[](size_t n) { return AllocateOrThrow(n); }
void* operator new(size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void* operator new[](size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void* operator new(size_t n, std::align_val_t a) { return AllocateOrThrow(n, size_t(a)); }
void* operator new[](size_t n, std::align_val_t a) { return AllocateOrThrow(n, size_t(a)); }
void* operator new(size_t n, std::align_val_t a, const std::nothrow_t&) noexcept { return Allocate(n, size_t(a)); }
void* operator new[](size_t n, std::align_val_t a, const std::nothrow_t&) noexcept { return Allocate(n, size_t(a)); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }

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

namespace {

// An element as WriteStreamToXml writes it, for bytes already split into planes.
void StorePacked(TXmlNode* Node, const std::string& Name, const std::vector<uint8_t>& Bytes) {
  const auto packed = CompressChain(Bytes.data(), int32_t(Bytes.size()));
  TXmlNode* child = Node->NodeNew(Name);
  child->WriteInteger("SourceSize", int32_t(Bytes.size()));
  child->WriteInteger("CompressedSize", int32_t(packed.size()));
  child->NodeNew("Buffer")->BufferWrite(packed.data(), int32_t(packed.size()));
}

// The bitmap file image of Width x Height at 32 bits, padded with zeros to Size bytes and
// split into 4 planes as the writer does.
std::vector<uint8_t> FileImage(int32_t Width, int32_t Height, size_t Size) {
  raster::TBitmap32 bmp;
  bmp.SetSize(1, 1);
  platform::TMemoryStream ms;
  bmp.SaveToStream(&ms);
  std::vector<uint8_t> v = Bytes(ms);
  std::memcpy(v.data() + 18, &Width, 4);
  std::memcpy(v.data() + 22, &Height, 4);
  v.resize(std::max(Size, v.size()));
  SplitPlanes(v.data(), v.data(), int32_t(v.size()), 4);
  return v;
}

struct THostileCase {
  const char* Label;
  std::vector<uint8_t> Planes;
  const char* Message;
};

}  // namespace

TEST(XmlBitmaps, StoredSizesAreCheckedBeforeAllocating) {
  // Each stores 24 MB that compress to a few dozen KB: a file of that size must not make the
  // reader allocate the 24 MB before it refuses the data.
  const size_t big = 24u << 20;
  const THostileCase cases[] = {
      {"zeros, no bitmap header", std::vector<uint8_t>(big), "Stored bitmap data refused: not a bitmap file"},
      {"1 x 1 image with 24 MB of padding", FileImage(1, 1, big),
       "Stored bitmap data refused: 25165824 bytes are more than a 1 x 1 image of 32 bits per pixel needs"},
      {"100000 x 100000 image", FileImage(100000, -100000, big),
       "Stored bitmap data refused: 100000 x 100000 pixels exceed the limit of 268435456 pixels"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Label);
    TXmlDocument xml("Root");
    StorePacked(xml.Root(), "Image", c.Planes);
    const int32_t packedSize = xml.Root()->NodeByName("Image")->ReadInteger("CompressedSize");
    EXPECT_LT(packedSize, 64 * 1024);
    std::unique_ptr<raster::TBitmap32> bmp;
    std::string message = "<no exception>";
    gLargest = 0;
    gTrack = true;
    try {
      ReadBitmap32FromXml(xml.Root(), "Image", bmp);
    } catch (const platform::Exception& e) {
      message = e.Message;
    }
    gTrack = false;
    EXPECT_EQ(message, c.Message);
    EXPECT_EQ(bmp, nullptr);
    EXPECT_LT(gLargest.load(), size_t(8) * packedSize) << "largest allocation";
  }
  // A stored size past the budget is refused from the sizes alone.
  TXmlDocument xml("Root");
  StorePacked(xml.Root(), "Image", FileImage(1, 1, 100));
  TXmlNode* image = xml.Root()->NodeByName("Image");
  image->WriteInteger("SourceSize", 1200000000);
  image->WriteInteger("CompressedSize", 2000000);
  std::unique_ptr<raster::TBitmap32> bmp;
  EXPECT_THROW(ReadBitmap32FromXml(xml.Root(), "Image", bmp), ECompressorError);
}

TEST(XmlBitmaps, LargeBitmapsStillRoundTrip) {
  // Past the size where a highly compressed header is checked first, for both plane counts:
  // a noisy picture (stored bytes trusted) and a nearly uniform one (header peeked).
  std::mt19937 rng(11);
  for (bool uniform : {false, true}) {
    SCOPED_TRACE(uniform ? "uniform" : "noisy");
    raster::TBitmap32 src;
    src.SetSize(600, 400);
    for (int32_t y = 0; y < 400; ++y)
      for (int32_t x = 0; x < 600; ++x)
        src.SetPixel(x, y, uniform ? (x == y ? 0xFF123456u : 0xFF808080u) : 0xFF000000u | uint32_t(rng() & 0x3F3F3F));
    TXmlDocument xml("Root");
    WriteBitmap32ToXml(xml.Root(), "Picture", &src);
    TXmlNode* p = xml.Root()->NodeByName("Picture");
    EXPECT_EQ(p->ReadInteger("SourceSize") > 16 * p->ReadInteger("CompressedSize"), uniform);
    TXmlDocument back;
    back.ReadFromString(xml.WriteToString());
    std::unique_ptr<raster::TBitmap32> got;
    ReadBitmap32FromXml(back.Root(), "Picture", got);
    ASSERT_NE(got, nullptr);
    ASSERT_EQ(got->Width(), 600);
    ASSERT_EQ(got->Height(), 400);
    EXPECT_EQ(std::memcmp(got->Bits(), src.Bits(), size_t(600) * 400 * 4), 0);
  }

  platform::TBitmap plain;
  plain.SetPixelFormat(platform::pf24bit);
  plain.SetSize(250, 120);
  for (int y = 0; y < 120; ++y) {
    auto* row = static_cast<uint8_t*>(plain.ScanLine(y));
    for (int x = 0; x < 750; ++x) row[x] = uint8_t(x / 3 + y);
  }
  TXmlDocument xml3("Root");
  WriteBitmapToXml(xml3.Root(), "Brush", &plain);
  EXPECT_GT(xml3.Root()->NodeByName("Brush")->ReadInteger("SourceSize"), 65536);
  std::unique_ptr<platform::TBitmap> plainBack;
  ReadBitmapFromXml(xml3.Root(), "Brush", plainBack);
  ASSERT_NE(plainBack, nullptr);
  EXPECT_EQ(plainBack->Width(), 250);
  EXPECT_EQ(plainBack->Height(), 120);
  for (int y = 0; y < 120; ++y) EXPECT_EQ(std::memcmp(plainBack->ScanLine(y), plain.ScanLine(y), 750), 0) << y;
}

TEST(XmlBitmaps, WrongStoredSizeIsRefusedBeforeAllocating) {
  // Small data that claims to be a thousand times larger: the inner block says otherwise.
  std::vector<uint8_t> bytes(20000);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i * i >> 5);
  TXmlDocument xml("Root");
  StorePacked(xml.Root(), "Data", bytes);
  TXmlNode* data = xml.Root()->NodeByName("Data");
  const int32_t packedSize = data->ReadInteger("CompressedSize");
  data->WriteInteger("SourceSize", packedSize * 1000);
  platform::TMemoryStream ms;
  Fill(ms, {1, 2, 3});
  gLargest = 0;
  gTrack = true;
  EXPECT_THROW(ReadStreamFromXml(xml.Root(), "Data", &ms), ECompressorError);
  gTrack = false;
  EXPECT_LT(gLargest.load(), size_t(8) * packedSize);
  EXPECT_EQ(Bytes(ms), (std::vector<uint8_t>{1, 2, 3})) << "the stream is left untouched";
}

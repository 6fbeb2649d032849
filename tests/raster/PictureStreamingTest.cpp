// Component streaming of pictures: TBitmap32's and TJPEGImage's "Data" through the class
// library's writer and reader, with each of the three storing rules (no ancestor, an ancestor
// of another class, an ancestor of the same class), and truncated streams.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/Classes.h"
#include "platform/Graphics.h"
#include "raster/JpegGraphic.h"
#include "raster/Raster32.h"

using namespace raster;
using platform::TMemoryStream;

namespace {

std::vector<uint8_t> Bytes(TMemoryStream& S) {
  auto* p = static_cast<const uint8_t*>(S.Memory());
  return std::vector<uint8_t>(p, p + S.GetSize());
}

void Write(TMemoryStream& S, platform::TPersistent* Instance, platform::TPersistent* Ancestor) {
  platform::TWriter w(&S);
  w.SetAncestor(Ancestor);
  w.WriteProperties(Instance);
  S.SetPosition(0);
}

void Read(TMemoryStream& S, platform::TPersistent* Instance) {
  S.SetPosition(0);
  platform::TReader r(&S);
  r.ReadProperties(Instance);
}

void Fill(TBitmap32& B, int W, int H, uint32_t Seed) {
  B.SetSize(W, H);
  for (int i = 0; i < W * H; ++i) B.Bits()[i] = (0x01030507u * static_cast<uint32_t>(i + 1)) ^ Seed;
}

std::vector<uint32_t> Pixels(const TBitmap32& B) { return std::vector<uint32_t>(B.Bits(), B.Bits() + B.Width() * B.Height()); }

// The stream of one "Data" property holding Payload: name, vaBinary, length, bytes, list end.
std::vector<uint8_t> DataProperty(const std::vector<uint8_t>& Payload) {
  std::vector<uint8_t> s = {4, 'D', 'a', 't', 'a', platform::vaBinary};
  uint32_t n = static_cast<uint32_t>(Payload.size());
  for (int i = 0; i < 4; ++i) s.push_back(static_cast<uint8_t>(n >> (8 * i)));
  for (uint8_t b : Payload) s.push_back(b);
  s.push_back(platform::vaNull);
  return s;
}

std::string ReadError(const std::vector<uint8_t>& Stream, platform::TPersistent* Into) {
  TMemoryStream s;
  if (!Stream.empty()) s.WriteBuffer(Stream.data(), static_cast<int32_t>(Stream.size()));
  try {
    Read(s, Into);
  } catch (const platform::EReadError& e) {
    return e.Message;
  }
  return "";
}

}  // namespace

TEST(PictureStreaming, BitmapWithoutAncestorStoresDataWhenNotEmpty) {
  TBitmap32 a;
  Fill(a, 5, 3, 0x80FF0000u);
  TMemoryStream s;
  Write(s, &a, nullptr);
  // The stored form is the "Data" layout: width, height, then the pixels.
  std::vector<uint8_t> payload(8 + 5 * 3 * 4);
  int32_t wh[2] = {5, 3};
  std::memcpy(payload.data(), wh, 8);
  std::memcpy(payload.data() + 8, a.Bits(), 5 * 3 * 4);
  EXPECT_EQ(Bytes(s), DataProperty(payload));
  TBitmap32 b;
  Fill(b, 2, 2, 0);
  Read(s, &b);
  EXPECT_EQ(b.Width(), 5);
  EXPECT_EQ(b.Height(), 3);
  EXPECT_EQ(Pixels(b), Pixels(a));
  EXPECT_EQ(s.GetPosition(), s.GetSize());
  // An empty bitmap stores nothing: the list is closed at once and reading changes nothing.
  TBitmap32 empty;
  TMemoryStream e;
  Write(e, &empty, nullptr);
  EXPECT_EQ(Bytes(e), std::vector<uint8_t>{platform::vaNull});
  Read(e, &b);
  EXPECT_EQ(Pixels(b), Pixels(a));
}

TEST(PictureStreaming, BitmapWithAncestorOfAnotherClassAlwaysStoresData) {
  TJPEGImage other;  // any persistent that is no TBitmap32
  TBitmap32 empty;
  TMemoryStream s;
  Write(s, &empty, &other);
  EXPECT_EQ(Bytes(s), DataProperty({0, 0, 0, 0, 0, 0, 0, 0}));
  // Read back, the empty bitmap empties a bitmap that had pixels.
  TBitmap32 b;
  Fill(b, 3, 3, 1);
  Read(s, &b);
  EXPECT_TRUE(b.Empty());
  TBitmap32 a;
  Fill(a, 4, 2, 7);
  TMemoryStream t;
  Write(t, &a, &other);
  Read(t, &b);
  EXPECT_EQ(Pixels(b), Pixels(a));
}

TEST(PictureStreaming, BitmapWithBitmapAncestorStoresOnlyWhenDifferent) {
  TBitmap32 a, same, differs;
  Fill(a, 6, 4, 3);
  Fill(same, 6, 4, 3);
  Fill(differs, 6, 4, 3);
  differs.SetPixel(5, 3, 0x12345678u);
  TMemoryStream s;
  Write(s, &a, &same);
  EXPECT_EQ(Bytes(s), std::vector<uint8_t>{platform::vaNull});
  TMemoryStream t;
  Write(t, &differs, &a);
  TBitmap32 b;
  Read(t, &b);
  EXPECT_EQ(Pixels(b), Pixels(differs));
  // Both empty counts as equal; an empty bitmap against a non-empty ancestor is stored.
  TBitmap32 e1, e2;
  TMemoryStream u;
  Write(u, &e1, &e2);
  EXPECT_EQ(Bytes(u), std::vector<uint8_t>{platform::vaNull});
  TMemoryStream v;
  Write(v, &e1, &a);
  EXPECT_EQ(Bytes(v), DataProperty({0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(PictureStreaming, TruncatedStreamsRaiseAClearError) {
  TBitmap32 a;
  Fill(a, 3, 2, 9);
  TMemoryStream s;
  Write(s, &a, nullptr);
  const std::vector<uint8_t> whole = Bytes(s);
  // Cut inside the property's value: the error names the class and the property.
  for (size_t cut : std::vector<size_t>{6, 8, 10, 14, 20, whole.size() - 2}) {
    TBitmap32 b;
    EXPECT_EQ(ReadError(std::vector<uint8_t>(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut)), &b),
              "Error reading TBitmap32.Data: Stream read error")
        << cut;
  }
  // Cut inside the name or before the list end.
  for (size_t cut : std::vector<size_t>{0, 3, whole.size() - 1}) {
    TBitmap32 b;
    EXPECT_EQ(ReadError(std::vector<uint8_t>(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut)), &b),
              "Stream read error")
        << cut;
  }
  // A length that claims more than the stream holds is refused before anything is allocated.
  std::vector<uint8_t> huge = DataProperty({1, 2, 3});
  huge[6] = 0xFF, huge[7] = 0xFF, huge[8] = 0xFF, huge[9] = 0x7F;
  TBitmap32 b;
  EXPECT_EQ(ReadError(huge, &b), "Error reading TBitmap32.Data: Stream read error");
  std::vector<uint8_t> negative = DataProperty({});
  negative[9] = 0xFF;
  EXPECT_EQ(ReadError(negative, &b), "Error reading TBitmap32.Data: Invalid property value");
  // The bitmap's own check of its size against the data still applies inside the property.
  EXPECT_EQ(ReadError(DataProperty({4, 0, 0, 0, 4, 0, 0, 0, 1, 2, 3}), &b),
            "Error reading TBitmap32.Data: Can't allocate the DIB handle");
  EXPECT_EQ(ReadError({4, 'D', 'a', 't', 'x', platform::vaBinary, 0, 0, 0, 0, 0}, &b),
            "Error reading TBitmap32.Datx: Property Datx does not exist");
}

namespace {

std::unique_ptr<TJPEGImage> Jpeg(uint8_t Blue) {
  platform::TBitmap bmp;
  bmp.SetPixelFormat(platform::pf24bit);
  bmp.SetSize(16, 8);
  for (int y = 0; y < 8; ++y) {
    uint8_t* r = static_cast<uint8_t*>(bmp.ScanLine(y));
    for (int x = 0; x < 16; ++x) r[3 * x] = Blue, r[3 * x + 1] = static_cast<uint8_t>(x * 16), r[3 * x + 2] = 50;
  }
  auto j = std::make_unique<TJPEGImage>();
  j->Assign(&bmp);
  return j;
}

}  // namespace

TEST(PictureStreaming, JpegStoresItsBytesWithALength) {
  // A picture built from a bitmap is encoded for the stream.
  std::unique_ptr<TJPEGImage> j = Jpeg(200);
  TMemoryStream s;
  Write(s, j.get(), nullptr);
  const std::vector<uint8_t>& bytes = j->Data().Bytes;
  ASSERT_GT(bytes.size(), 100u);
  std::vector<uint8_t> payload(4);
  int32_t n = static_cast<int32_t>(bytes.size());
  std::memcpy(payload.data(), &n, 4);
  payload.insert(payload.end(), bytes.begin(), bytes.end());
  EXPECT_EQ(Bytes(s), DataProperty(payload));
  TJPEGImage back;
  Read(s, &back);
  EXPECT_EQ(back.Data().Bytes, bytes);
  EXPECT_EQ(back.Width(), 16);
  EXPECT_EQ(back.Height(), 8);
  EXPECT_TRUE(back.Equals(j.get()));
  // Without an ancestor an empty picture stores nothing.
  TJPEGImage empty;
  TMemoryStream e;
  Write(e, &empty, nullptr);
  EXPECT_EQ(Bytes(e), std::vector<uint8_t>{platform::vaNull});
}

TEST(PictureStreaming, JpegAncestorRules) {
  std::unique_ptr<TJPEGImage> a = Jpeg(200);
  std::unique_ptr<TJPEGImage> b = Jpeg(10);
  a->Compress();
  b->Compress();
  TJPEGImage shared;
  shared.Assign(a.get());
  TMemoryStream s;
  Write(s, a.get(), &shared);
  EXPECT_EQ(Bytes(s), std::vector<uint8_t>{platform::vaNull});
  TMemoryStream t;
  Write(t, b.get(), a.get());
  TJPEGImage back;
  Read(t, &back);
  EXPECT_EQ(back.Data().Bytes, b->Data().Bytes);
  // An ancestor that is no picture: always stored, an empty picture as length 0.
  TBitmap32 notAGraphic;
  TJPEGImage empty;
  TMemoryStream u;
  Write(u, &empty, &notAGraphic);
  EXPECT_EQ(Bytes(u), DataProperty({0, 0, 0, 0}));
  Read(u, &back);
  EXPECT_TRUE(back.Empty());
}

TEST(PictureStreaming, JpegTruncatedDataIsRefused) {
  std::unique_ptr<TJPEGImage> j = Jpeg(90);
  TMemoryStream s;
  Write(s, j.get(), nullptr);
  const std::vector<uint8_t> whole = Bytes(s);
  for (size_t cut : std::vector<size_t>{8, 11, 12, 40, whole.size() - 2}) {
    TJPEGImage back;
    EXPECT_EQ(ReadError(std::vector<uint8_t>(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut)), &back),
              "Error reading TJPEGImage.Data: Stream read error")
        << cut;
    EXPECT_TRUE(back.Empty());
  }
  // The inner length is checked too: it may not run past the property's bytes.
  TJPEGImage back;
  EXPECT_EQ(ReadError(DataProperty({0x10, 0, 0, 0, 0xFF, 0xD8}), &back),
            "Error reading TJPEGImage.Data: Stream read error");
  EXPECT_EQ(ReadError(DataProperty({0xFF, 0xFF, 0xFF, 0xFF}), &back),
            "Error reading TJPEGImage.Data: Stream read error");
}

// The metafile shape: size taken from the picture, the pen and brush override through the
// shape's PlayRecord, XML round trips with an embedded picture, an empty resource.
#include <cmath>
#include <cstring>
#include <functional>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "document/XmlDocuments.h"
#include "document/dtpExposedMetafile.h"
#include "tests/common/TestSupport.h"

using namespace document;

namespace {

// A 118 x 59 pixel picture with one red rectangle drawn with a green pen.
std::vector<uint8_t> Picture() {
  std::vector<uint32_t> w = {1, 88, 0, 0, 117, 58, 0, 0, 2000, 1000, 0x464D4520, 0x10000, 0, 4, 3, 0, 0, 0, 0, 0, 0, 0,
                             39, 24, 1, 0, 0x0000FF, 0,   // red brush 1
                             37, 12, 1,                   // select it
                             38, 28, 2, 0, 3, 0, 0x008000,  // green pen 2
                             37, 12, 2,
                             43, 24, 10, 10, 100, 50,     // rectangle
                             14, 20, 0, 16, 20};
  w[12] = uint32_t(w.size() * 4);
  std::vector<uint8_t> out(w.size() * 4);
  std::memcpy(out.data(), w.data(), out.size());
  return out;
}

class ExposedMetafileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitializeDtpShape();
    InitializeDtpEffectShape();
    InitializeDtpExposedMetafile();
    path = kdtest::TempDir() + "/picture.emf";
    kdtest::WriteFileBytes(path, Picture());
  }
  std::string path;
};

TEST_F(ExposedMetafileTest, TakesThePictureSizeAt150Dpi) {
  EXPECT_EQ(&FindShapeClass("TdtpExposedMetafile"), &TdtpExposedMetafile::StaticClass());
  auto s = NewShape<TdtpExposedMetafile>();
  s->SetDocBounds(0, 0, 0, 0);
  s->Image()->LoadFromFile(path);
  EXPECT_FLOAT_EQ(s->DocWidth(), float(118 / 5.905511811));
  EXPECT_FLOAT_EQ(s->DocHeight(), float(59 / 5.905511811));
  // A shape with a size keeps it; its new picture is a change for a save to write.
  auto t = NewShape<TdtpExposedMetafile>();
  t->SetDocBounds(0, 0, 30, 40);
  t->SetModified(false);
  t->Image()->LoadFromFile(path);
  EXPECT_EQ(t->DocWidth(), 30);
  EXPECT_EQ(t->DocHeight(), 40);
  EXPECT_TRUE(t->Modified());
}

// A picture made on a reference device of 3.2 pixels per millimetre: its frame is 40 x 20 mm
// (128 x 64 of its pixels) while its ink, a 64 x 64 square, covers only the left half.
std::vector<uint8_t> FramedPicture() {
  std::vector<uint32_t> w(27, 0);
  w[0] = 1;
  w[1] = 108;                                    // header with the reference device
  w[2] = 0, w[3] = 0, w[4] = 63, w[5] = 63;      // bounds: the ink only
  w[6] = 0, w[7] = 0, w[8] = 4000, w[9] = 2000;  // frame in 0.01 mm
  w[10] = 0x464D4520;
  w[11] = 0x10000;
  w[13] = 5;
  w[14] = 2;
  w[18] = 1024, w[19] = 768;  // device pixels
  w[20] = 320, w[21] = 240;   // device millimetres
  const std::vector<uint32_t> records = {39, 24, 1, 0, 0x0000FF, 0,  // red brush 1
                                         37, 12, 1,                  // select it
                                         43, 24, 0, 0, 64, 64,       // the square
                                         14, 20, 0, 16, 20};
  w.insert(w.end(), records.begin(), records.end());
  w[12] = uint32_t(w.size() * 4);
  std::vector<uint8_t> out(w.size() * 4);
  std::memcpy(out.data(), w.data(), out.size());
  return out;
}

// The size taken at 0 x 0 is that of what is drawn into the shape, the picture's frame, so a
// square stays square; without a reference device the bounds stand for the frame.
TEST_F(ExposedMetafileTest, SizeAt150DpiIsThatOfTheFrameItDraws) {
  const std::string framed = kdtest::TempDir() + "/framed.emf";
  kdtest::WriteFileBytes(framed, FramedPicture());
  auto s = NewShape<TdtpExposedMetafile>();
  s->SetDocBounds(0, 0, 0, 0);
  s->Image()->LoadFromFile(framed);
  EXPECT_FLOAT_EQ(s->DocWidth(), float(128 / 5.905511811));
  EXPECT_FLOAT_EQ(s->DocHeight(), float(64 / 5.905511811));
  // Played into a rectangle of that size at 150 dots per inch, the ink is a square.
  s->Image()->Lock();
  auto* m = dynamic_cast<platform::TMetafile*>(s->Image()->Object());
  ASSERT_NE(m, nullptr);
  platform::TBitmap b;
  b.SetPixelFormat(platform::pf32bit);
  const int w = int(std::lround(s->DocWidth() * 5.905511811)), h = int(std::lround(s->DocHeight() * 5.905511811));
  b.SetSize(w, h);
  b.Canvas()->Brush()->SetColor(platform::clWhite);
  b.Canvas()->FillRect(platform::TRect{0, 0, w, h});
  platform::TMetafileTarget t;
  t.Right = w;
  t.Bottom = h;
  platform::EnumEnhMetaFile(
      b.Canvas(), *m,
      [&](platform::HDC DC, platform::THandleTable* T, const platform::TEnhMetaRecord* R, int32_t N, void*) {
        return s->PlayRecord(DC, T, R, N);
      },
      nullptr, t);
  s->Image()->Unlock();
  int inkW = 0, inkH = 0;
  for (int x = 0; x < w; ++x) inkW += (b.Canvas()->Pixel(x, h / 2) & 0xFFFFFF) == 0x0000FFu;
  for (int y = 0; y < h; ++y) inkH += (b.Canvas()->Pixel(w / 4, y) & 0xFFFFFF) == 0x0000FFu;
  EXPECT_NEAR(inkW, inkH, 1);
}

TEST_F(ExposedMetafileTest, PlayRecordForcesTheShapesPenAndBrush) {
  auto s = NewShape<TdtpExposedMetafile>();
  s->Image()->LoadFromFile(path);
  s->Image()->Lock();
  auto* m = dynamic_cast<platform::TMetafile*>(s->Image()->Object());
  ASSERT_NE(m, nullptr);
  s->Pen()->SetColor(0xFF0000);
  s->Pen()->SetWidth(2);
  s->Brush()->SetColor(0x00FFFF);
  auto play = [&](platform::TBitmap& b) {
    b.SetPixelFormat(platform::pf32bit);
    b.SetSize(118, 59);
    b.Canvas()->Brush()->SetColor(platform::clWhite);
    b.Canvas()->FillRect(platform::TRect{0, 0, 118, 59});
    platform::TMetafileTarget t;
    t.Right = 118;
    t.Bottom = 59;
    platform::EnumEnhMetaFile(
        b.Canvas(), *m,
        [&](platform::HDC DC, platform::THandleTable* T, const platform::TEnhMetaRecord* R, int32_t N, void*) {
          return s->PlayRecord(DC, T, R, N);
        },
        nullptr, t);
  };
  platform::TBitmap a;
  play(a);
  EXPECT_EQ(a.Canvas()->Pixel(50, 30) & 0xFFFFFF, 0x0000FFu);
  EXPECT_EQ(a.Canvas()->Pixel(10, 30) & 0xFFFFFF, 0x008000u);
  s->SetOverridePen(true);
  s->SetOverrideBrush(true);
  platform::TBitmap b;
  play(b);
  EXPECT_EQ(b.Canvas()->Pixel(50, 30) & 0xFFFFFF, 0x00FFFFu);
  EXPECT_EQ(b.Canvas()->Pixel(10, 30) & 0xFFFFFF, 0xFF0000u);
  s->SetOverrideBrush(false);
  platform::TBitmap c;
  play(c);
  EXPECT_EQ(c.Canvas()->Pixel(50, 30) & 0xFFFFFF, 0x0000FFu);
  s->Image()->Unlock();
}

TEST_F(ExposedMetafileTest, XmlRoundTrip) {
  auto s = NewShape<TdtpExposedMetafile>();
  s->Image()->LoadFromFile(path);
  s->SetOverridePen(true);
  s->Pen()->SetColor(0x123456);
  s->Pen()->SetWidth(3);
  TXmlDocument xml;
  s->SaveToXml(xml.Root());
  ASSERT_NE(xml.Root()->NodeByName("Image"), nullptr);
  ASSERT_NE(xml.Root()->NodeByName("Pen"), nullptr);
  EXPECT_EQ(xml.Root()->NodeByName("Brush"), nullptr);
  auto t = NewShape<TdtpExposedMetafile>();
  t->LoadFromXml(xml.Root());
  EXPECT_TRUE(t->OverridePen());
  EXPECT_FALSE(t->OverrideBrush());
  EXPECT_EQ(t->Pen()->Color(), 0x123456);
  EXPECT_EQ(t->Pen()->Width(), 3);
  t->Image()->Lock();
  auto* m = dynamic_cast<platform::TMetafile*>(t->Image()->Object());
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->Width(), 118);
  t->Image()->Unlock();
  // The brush and its pattern bitmap.
  platform::TBitmap pattern;
  pattern.SetPixelFormat(platform::pf24bit);
  pattern.SetSize(4, 4);
  pattern.Canvas()->SetPixel(1, 2, 0x0000FF);
  s->SetOverrideBrush(true);
  s->Brush()->SetColor(0x00FF00);
  s->Brush()->SetBitmap(&pattern);
  TXmlDocument xml2;
  s->SaveToXml(xml2.Root());
  ASSERT_NE(xml2.Root()->NodeByName("BrushBitmap"), nullptr);
  auto u = NewShape<TdtpExposedMetafile>();
  u->LoadFromXml(xml2.Root());
  EXPECT_TRUE(u->OverrideBrush());
  ASSERT_NE(u->Brush()->Bitmap(), nullptr);
  EXPECT_EQ(u->Brush()->Bitmap()->Width(), 4);
  EXPECT_EQ(u->Brush()->Bitmap()->Canvas()->Pixel(1, 2) & 0xFFFFFF, 0x0000FFu);
  // Missing override elements read as false.
  TXmlDocument bare;
  t->LoadFromXml(bare.Root());
  EXPECT_FALSE(t->OverridePen());
}

TEST_F(ExposedMetafileTest, EmptyResourceDrawsNothing) {
  auto s = NewShape<TdtpExposedMetafile>();
  platform::TBitmap b;
  b.SetPixelFormat(platform::pf32bit);
  b.SetSize(8, 8);
  b.Canvas()->Brush()->SetColor(platform::clWhite);
  b.Canvas()->FillRect(platform::TRect{0, 0, 8, 8});
  s->PaintGdi(b.Canvas());
  EXPECT_EQ(b.Canvas()->Pixel(4, 4) & 0xFFFFFF, 0xFFFFFFu);
}

// A file that holds no metafile (damaged or empty) is refused at import with the player's
// message: the shape keeps the picture and the name it had, also through a save and a reload,
// and a shape without a picture stays without one and without a size.
TEST_F(ExposedMetafileTest, ImportOfAFileWithoutAMetafileIsRefused) {
  const std::string garbage = kdtest::TempDir() + "/garbage.emf", empty = kdtest::TempDir() + "/empty.emf";
  kdtest::WriteFileBytes(garbage, std::vector<uint8_t>(200, 7));
  kdtest::WriteFileBytes(empty, {});
  auto widthOf = [](TdtpExposedMetafile* S) {
    S->Image()->Lock();
    auto* m = dynamic_cast<platform::TMetafile*>(S->Image()->Object());
    const int32_t w = m ? m->Width() : -1;
    S->Image()->Unlock();
    return w;
  };
  auto message = [](const std::function<void()>& F) -> std::string {
    try {
      F();
    } catch (const std::exception& e) {
      return e.what();
    }
    return "<no exception>";
  };
  for (const auto& [bad, want] : {std::pair<std::string, std::string>{garbage, "Not an enhanced metafile"},
                                  {empty, "Metafile is too short"}}) {
    SCOPED_TRACE(bad);
    auto s = NewShape<TdtpExposedMetafile>();
    s->SetDocBounds(0, 0, 30, 15);
    s->Image()->LoadFromFile(path);
    const std::string name = s->Image()->FileName;
    ASSERT_EQ(widthOf(s.get()), 118);
    EXPECT_EQ(message([&] { s->Image()->LoadFromFile(bad); }), want);
    EXPECT_EQ(s->Image()->FileName, name);
    EXPECT_EQ(widthOf(s.get()), 118);
    TXmlDocument xml("Shape");
    s->SaveToXml(xml.Root());
    TXmlDocument again;
    again.ReadFromString(xml.WriteToString());
    auto t = NewShape<TdtpExposedMetafile>();
    t->LoadFromXml(again.Root());
    EXPECT_EQ(widthOf(t.get()), 118);
    EXPECT_FLOAT_EQ(t->DocWidth(), 30);

    auto z = NewShape<TdtpExposedMetafile>();
    z->SetDocBounds(0, 0, 0, 0);
    EXPECT_EQ(message([&] { z->Image()->LoadFromFile(bad); }), want);
    EXPECT_EQ(z->Image()->Data()->Size(), 0);
    EXPECT_EQ(z->DocWidth(), 0);
    EXPECT_EQ(widthOf(z.get()), -1);
  }
}

// A stored document names an external picture that was damaged since: the shape still loads,
// keeps the name and draws nothing; only an import is refused.
TEST_F(ExposedMetafileTest, ADamagedExternalPictureDoesNotStopALoad) {
  const std::string file = kdtest::TempDir() + "/external.emf";
  kdtest::WriteFileBytes(file, Picture());
  auto s = NewShape<TdtpExposedMetafile>();
  s->SetDocBounds(0, 0, 30, 15);
  s->Image()->Storage = TdtpResourceStorage::External;
  s->Image()->LoadFromFile(file);
  TXmlDocument xml("Shape");
  s->SaveToXml(xml.Root());
  kdtest::WriteFileBytes(file, std::vector<uint8_t>(100, 3));
  auto t = NewShape<TdtpExposedMetafile>();
  EXPECT_NO_THROW(t->LoadFromXml(xml.Root()));
  EXPECT_EQ(t->Image()->FileName, s->Image()->FileName);
  EXPECT_FLOAT_EQ(t->DocWidth(), 30);
  EXPECT_THROW(t->Image()->LoadFromFile(file), platform::EMetafileError);
  EXPECT_EQ(t->Image()->FileName, s->Image()->FileName);
}

}  // namespace

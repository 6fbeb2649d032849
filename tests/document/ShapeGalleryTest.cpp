// A page with one shape of each of the 43 polygon and line classes (filled, outlined,
// hairline, dashed and rotated in turn), printed at 150 DPI and written as a PNG for a person
// to look at; every cell must show its shape, and a stored copy of the page draws the same.
#include <QImage>

#include <gtest/gtest.h>

#include "DocumentTestSupport.h"
#include "document/XmlDocuments.h"
#include "document/dtpLineShape.h"
#include "document/dtpPage.h"
#include "document/dtpShapeRenderPriv.h"
#include "tests/common/TestSupport.h"

using namespace document;
using kdtest::TTestDocumentHost;

namespace {

constexpr int cColumns = 8;
constexpr float cCell = 25, cPageW = cColumns * cCell, cPageH = 6 * cCell;

std::vector<const TShapeClass*> GalleryClasses() {
  std::vector<const TShapeClass*> list = PolygonShapeClasses();
  list.push_back(&TdtpLineShape::StaticClass());
  list.push_back(&TdtpLineShape2::StaticClass());
  return list;
}

void Populate(TdtpPage* Page) {
  const auto classes = GalleryClasses();
  const platform::TColor fills[] = {0xC08040, 0x4080F0, 0x40C040, 0x8040C0, 0x20A0E0};
  for (size_t i = 0; i < classes.size(); ++i) {
    auto s = CreateShape(*classes[i]);
    auto* p = dynamic_cast<TdtpPolygonShape*>(s.get());
    ASSERT_NE(p, nullptr);
    Page->AddShape(std::move(s));
    const float x = float(i % cColumns) * cCell + 4, y = float(i / cColumns) * cCell + 5;
    if (auto* l = dynamic_cast<TdtpLineShape*>(p)) {
      l->SetLinePoint(0, {x, y + 14});
      l->SetLinePoint(1, {x + 17, y});
      l->Arrow0()->Width = l->Arrow0()->Length = 3;
      l->Arrow0()->SetStyle(asOval);
      l->Arrow1()->SetStyle(i % 2 ? asStealthArrow : asArrow);
      continue;
    }
    p->SetDocBounds(x, y, 16, 12);
    p->SetFillColor(fills[i % 5]);
    switch (i % 5) {
      case 1:  // outlined
        p->SetUseFill(false);
        p->SetOutlineWidth(1);
        break;
      case 2:  // hairline over a translucent fill
        p->SetOutlineWidth(0);
        p->SetFillAlpha(110);
        break;
      case 3:  // dashed
        p->SetOutlineWidth(0);
        p->SetUseStipple(true);
        break;
      case 4:  // turned
        p->SetDocAngle(25);
        break;
      default:
        break;
    }
  }
}

void Render(TdtpPage* Page, float Dpm, TBitmap32& out) {
  const int w = int(cPageW * Dpm), h = int(cPageH * Dpm);
  out.SetSize(w, h);
  out.Clear(0xFF808080u);
  detail::TBitmap32Canvas canvas(&out);
  Page->PaintTo(canvas.Canvas(), {0, 0, w, h}, Dpm, 0, false, false);
  canvas.Release();
}

class ShapeGalleryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitializeDtpShape();
    InitializeDtpEffectShape();
    InitializeDtpPage();
    InitializeDtpPolygonShape();
    InitializeDtpLineShape();
  }
  TTestDocumentHost doc;
};

}  // namespace

TEST_F(ShapeGalleryTest, EveryClassDrawsOnAPageWrittenAsPng) {
  auto page = NewShape<TdtpPage>();
  page->SetDocument(&doc);
  page->SetDocBounds(0, 0, cPageW, cPageH);
  Populate(page.get());
  ASSERT_EQ(page->GetShapeCount(), 43);
  const float dpm = 150 / 25.4f;
  TBitmap32 out;
  Render(page.get(), dpm, out);
  QImage img(reinterpret_cast<const uchar*>(out.Bits()), out.Width(), out.Height(), out.Width() * 4,
             QImage::Format_RGB32);
  const std::string path = kdtest::OutputDir() + "/shape_gallery.png";
  ASSERT_TRUE(img.save(QString::fromStdString(path)));

  // Every cell has ink: pixels clearly away from the white paper.
  for (int i = 0; i < 43; ++i) {
    const int x0 = int((i % cColumns) * cCell * dpm), y0 = int((i / cColumns) * cCell * dpm);
    int ink = 0;
    for (int y = y0; y < y0 + int(cCell * dpm); ++y)
      for (int x = x0; x < x0 + int(cCell * dpm); ++x) {
        const TColor32 p = out.Pixel(x, y);
        ink += raster::RedComponent(p) + raster::GreenComponent(p) + raster::BlueComponent(p) < 600;
      }
    EXPECT_GT(ink, 100) << page->GetShape(i)->ClassName();
  }
  // Inside the solid triangle of cell 5 (fill $C08040, blue-green-red).
  const TColor32 c = out.Pixel(int((5 * cCell + 12) * dpm), int(13 * dpm));
  EXPECT_EQ(c & 0xFFFFFF, 0x4080C0u);

  // A stored copy of the page draws pixel for pixel the same.
  TXmlDocument xml;
  page->SaveToXml(xml.Root());
  auto copy = NewShape<TdtpPage>();
  copy->SetDocument(&doc);
  copy->LoadFromXml(xml.Root());
  ASSERT_EQ(copy->GetShapeCount(), 43);
  for (int i = 0; i < 43; ++i) EXPECT_EQ(copy->GetShape(i)->ClassName(), page->GetShape(i)->ClassName());
  TBitmap32 again;
  Render(copy.get(), dpm, again);
  ASSERT_EQ(again.Width(), out.Width());
  // The dashed polygons come back dashed: every cell is the same pixel for pixel.
  int differ = 0;
  for (int i = 0; i < 43; ++i) {
    const bool dashed = (i % 5 == 3 && i < 41) || i == 42;
    auto* p = dynamic_cast<TdtpPolygonShape*>(copy->GetShape(i));
    EXPECT_EQ(p->UseStipple(), dashed) << i;
    const int x0 = int((i % cColumns) * cCell * dpm), y0 = int((i / cColumns) * cCell * dpm);
    for (int y = y0; y < y0 + int(cCell * dpm); ++y)
      for (int x = x0; x < x0 + int(cCell * dpm); ++x) differ += again.Pixel(x, y) != out.Pixel(x, y);
  }
  EXPECT_EQ(differ, 0);
}

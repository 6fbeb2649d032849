// Draws a sample page (polygons, lines, text, a rotated and a stretched bitmap) and writes it
// as a PNG for a person to look at; checks a few pixels on the way.
#include <gtest/gtest.h>

#include <QImage>
#include <cmath>

#include "platform/Font.h"
#include "raster/Raster32Polygons.h"
#include "raster/Raster32Transforms.h"
#include "raster/dtpStretch.h"
#include "raster/dtpUtil.h"
#include "tests/common/TestSupport.h"

using namespace raster;
using platform::Rect;

namespace {

TFixedPoint FP(double x, double y) { return {Fixed(static_cast<float>(x)), Fixed(static_cast<float>(y))}; }

void Star(TPolygon32& p, double cx, double cy, double r) {
  for (int i = 0; i < 5; ++i) {
    double a = -M_PI / 2 + i * 4 * M_PI / 5;
    p.Add(FP(cx + r * std::cos(a), cy + r * std::sin(a)));
  }
}

}  // namespace

TEST(RasterSample, DrawsTheSamplePage) {
  TBitmap32 page;
  page.SetSize(640, 420);
  page.Clear(0xFFFFFFFF);

  // Stars: winding (centre filled) and even-odd (centre empty), antialiased; an aliased one.
  TPolygon32 s1;
  s1.SetAntialiased(true);
  s1.SetFillMode(pfWinding);
  Star(s1, 90, 90, 75);
  s1.DrawFill(&page, 0xFF1F5FAF);
  TPolygon32 s2;
  s2.SetAntialiased(true);
  Star(s2, 250, 90, 75);
  s2.DrawFill(&page, 0xFFC03020);
  TPolygon32 s3;
  Star(s3, 410, 90, 75);
  s3.DrawFill(&page, 0xFF208040);
  EXPECT_EQ(page.Pixel(90, 95), 0xFF1F5FAFu);
  EXPECT_EQ(page.Pixel(250, 95), 0xFFFFFFFFu);

  // A translucent ellipse over them, with a grown outline drawn as an antialiased edge.
  TPolygon32 e;
  e.SetAntialiased(true);
  for (int i = 0; i < 120; ++i) e.Add(FP(330 + 150 * std::cos(i * M_PI / 60), 110 + 40 * std::sin(i * M_PI / 60)));
  e.DrawFill(&page, 0x60FFC000);
  e.Grow(Fixed(4), 0.5f)->DrawEdge(&page, 0xFF000000);
  // A thick open polyline: its outline grown and filled.
  TPolygon32 wave;
  wave.SetAntialiased(true);
  wave.SetClosed(false);
  for (int i = 0; i <= 40; ++i) wave.Add(FP(30 + i * 14, 215 + 15 * std::sin(i * 0.45)));
  auto thick = wave.Outline()->Grow(Fixed(3), 0.5f);
  thick->SetFillMode(pfWinding);
  thick->DrawFill(&page, 0xFF6030A0);

  // Lines: aliased and antialiased fans.
  for (int i = 0; i < 12; ++i) {
    double a = i * M_PI / 22;
    page.LineS(20, 400, 20 + static_cast<int>(140 * std::cos(a)), 400 - static_cast<int>(140 * std::sin(a)), 0xFF000000);
    page.LineXS(Fixed(180), Fixed(400), Fixed(static_cast<float>(180 + 140 * std::cos(a))),
                Fixed(static_cast<float>(400 - 140 * std::sin(a))), 0xFF000000);
  }

  // Text: the touched pixels' alpha is 0, as GDI text leaves it.
  page.Font().SetName("Arial");
  page.Font().SetHeight(-26);
  page.Font().SetColor(platform::clNavy);
  page.Textout(Rect(340, 250, 630, 290), platform::DT_CENTER, "De kadrilo & Co.");
  page.Font().SetName("Times New Roman");
  page.Font().SetStyle({platform::fsItalic});
  page.Font().SetHeight(-20);
  page.Textout(Rect(340, 290, 630, 320), platform::DT_RIGHT, "Liberation Serif, italic");
  int textPixels = 0;
  for (int y = 250; y < 320; ++y)
    for (int x = 340; x < 630; ++x) textPixels += AlphaComponent(page.Pixel(x, y)) == 0;
  EXPECT_GT(textPixels, 200);
  page.ResetAlpha();

  // A small bitmap, rotated by 30 degrees and stretched by area averaging and by spline.
  TBitmap32 tile;
  tile.SetSize(64, 48);
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x)
      tile.SetPixel(x, y, ((x / 8 + y / 8) & 1) ? Color32(x * 4, y * 5, 160) : 0xFFF0F0F0);
  TAffineTransformation t;
  t.SetSrcRect(FloatRect(0, 0, 64, 48));
  t.Rotate(32, 24, 30);
  t.Translate(340, 330);
  tile.SetStretchFilter(sfLinear);
  TransformBitmap(&page, &tile, &t);
  StretchTransferAuto(&page, Rect(430, 340, 462, 364), &tile, Rect(0, 0, 64, 48), sfLinear, dmOpaque);
  StretchTransfer(&page, Rect(480, 330, 630, 410), &tile, Rect(0, 0, 64, 48), sfSpline, dmOpaque);

  QImage img(reinterpret_cast<const uchar*>(page.Bits()), page.Width(), page.Height(), page.Width() * 4,
             QImage::Format_ARGB32);
  std::string path = kdtest::OutputDir() + "/raster_sample.png";
  ASSERT_TRUE(img.save(QString::fromStdString(path)));
}

// The metafile shape in the view: the picture lands in the shape's own rectangle whether the
// shape is turned (0, 90, 30 degrees), carries a drop shadow, or paints without a buffer, with
// the override pen and brush on and off.
#include <cmath>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "DocumentTestSupport.h"
#include "document/dtpExposedMetafile.h"
#include "document/dtpPage.h"
#include "document/dtpShadowEffects.h"
#include "document/dtpShapeRenderPriv.h"
#include "tests/common/TestSupport.h"

using namespace document;
using kdtest::TTestDocumentHost;

namespace {

constexpr TColor32 cRed = 0xFFFF0000u, cBlue = 0xFF0000FFu, cGreen = 0xFF008000u;

// A 100 x 50 picture: the left half red, the right half blue (no outline), and a green line
// across at y 45 drawn with a pen of its own.
// Damaged: the blue brush is selected by an index beyond the object table.
std::vector<uint8_t> TwoTone(bool Damaged = false) {
  std::vector<uint32_t> w = {1, 88, 0, 0, 99, 49, 0, 0, 2646, 1323, 0x464D4520, 0x10000, 0, 12, 4, 0, 0, 0, 0, 0, 0, 0,
                             39, 24, 1, 0, 0x0000FF, 0,          // red brush 1
                             37, 12, 1,                          // select it
                             37, 12, 0x80000008,                 // the null pen
                             43, 24, 0, 0, 50, 50,               // left half
                             39, 24, 2, 0, 0xFF0000, 0,          // blue brush 2
                             37, 12, Damaged ? 9u : 2u,
                             43, 24, 50, 0, 100, 50,             // right half
                             38, 28, 3, 0, 5, 0, 0x008000,       // green pen 3, 5 wide
                             37, 12, 3,
                             27, 16, 0, 45,                      // move to
                             54, 16, 100, 45,                    // line to
                             14, 20, 0, 16, 20};
  w[12] = uint32_t(w.size() * 4);
  std::vector<uint8_t> out(w.size() * 4);
  std::memcpy(out.data(), w.data(), out.size());
  return out;
}

bool Near(TColor32 A, TColor32 B, int Tol = 8) {
  for (int s = 0; s < 32; s += 8)
    if (std::abs(int((A >> s) & 255) - int((B >> s) & 255)) > Tol) return false;
  return true;
}

class MetafileViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitializeDtpShape();
    InitializeDtpEffectShape();
    InitializeDtpShadowEffects();
    InitializeDtpExposedMetafile();
    path = kdtest::TempDir() + "/twotone.emf";
    kdtest::WriteFileBytes(path, TwoTone());
    doc.Render = 4;
  }
  std::unique_ptr<TdtpExposedMetafile> Make(float Angle) {
    auto s = NewShape<TdtpExposedMetafile>();
    s->SetDocument(&doc);
    s->SetDocBounds(0, 0, 20, 10);
    s->Image()->LoadFromFile(path);
    s->SetDocAngle(Angle);
    return s;
  }
  // The buffer's pixel under a point of the shape (millimetres).
  static TColor32 At(TdtpShape* S, float X, float Y) {
    const TdtpFloatPoint p = MapPoint(S->BufferMatrix(), X, Y);
    return S->Buffer()->Pixel(int(std::floor(p.X)), int(std::floor(p.Y)));
  }
  TTestDocumentHost doc;
  std::string path;
};

}  // namespace

// Turned or not, the left half of the shape shows red and the right half blue, edge to edge;
// a quarter turn used to squeeze the picture into the turned buffer's shape and leave the
// middle white.
TEST_F(MetafileViewTest, TurnedShapesShowThePictureInTheirRectangle) {
  for (float angle : {0.0f, 90.0f, 30.0f}) {
    SCOPED_TRACE(angle);
    auto s = Make(angle);
    s->UpdateBuffer();
    ASSERT_NE(s->Buffer(), nullptr);
    for (float y : {1.0f, 5.0f, 8.0f}) {
      for (float x : {1.0f, 5.0f, 9.0f}) EXPECT_TRUE(Near(At(s.get(), x, y), cRed)) << x << "," << y;
      for (float x : {11.0f, 15.0f, 19.0f}) EXPECT_TRUE(Near(At(s.get(), x, y), cBlue)) << x << "," << y;
    }
    // The picture's own line at 9/10 of the height.
    EXPECT_TRUE(Near(At(s.get(), 10.5f, 9.0f), cGreen)) << std::hex << At(s.get(), 10.5f, 9.0f);
  }
}

// A drop shadow widens the buffer; the picture stays in the shape's rectangle and the margin
// holds only the shadow.
TEST_F(MetafileViewTest, ADropShadowDoesNotStretchThePicture) {
  auto s = Make(0);
  auto* e = new TdtpShadowEffect;
  e->DeltaX = 4;
  e->DeltaY = 4;
  e->Blur = 0;
  e->Intensity = 1;
  s->AddEffect(std::unique_ptr<TdtpEffect>(e));
  s->UpdateBuffer();
  ASSERT_GT(s->OutsetRight(), 3.9f);
  EXPECT_TRUE(Near(At(s.get(), 9.5f, 5), cRed));
  EXPECT_TRUE(Near(At(s.get(), 10.5f, 5), cBlue));
  EXPECT_TRUE(Near(At(s.get(), 19.5f, 5), cBlue));
  // Beyond the right edge: the black shadow, not the picture.
  EXPECT_EQ(At(s.get(), 22, 5) & 0x00FFFFFFu, 0u);
  EXPECT_EQ(At(s.get(), 22, 12) & 0x00FFFFFFu, 0u);
}

// A page and shape that paint without buffers draw the picture straight onto the canvas.
TEST_F(MetafileViewTest, PaintedWithoutABuffer) {
  doc.Screen = 2;
  auto page = NewShape<TdtpPage>();
  page->SetDocument(&doc);
  page->SetDocBounds(0, 0, 50, 40);
  page->SetSmartHitTest(false);
  auto child = Make(0);
  TdtpExposedMetafile* c = child.get();
  c->SetSmartHitTest(false);
  page->AddShape(std::move(child));
  c->SetDocBounds(10, 10, 20, 10);
  ASSERT_FALSE(page->NeedsBuffer());
  ASSERT_FALSE(c->NeedsBuffer());
  TBitmap32 target;
  target.SetSize(120, 100);
  target.Clear(0xFF00FF00u);
  detail::TBitmap32Canvas canvas(&target);
  EXPECT_TRUE(page->PaintToCanvas(canvas.Canvas()));
  canvas.Release();
  EXPECT_EQ(c->Buffer(), nullptr);
  EXPECT_EQ(target.Pixel(22, 22) & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(target.Pixel(38, 28) & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(target.Pixel(42, 28) & 0xFFFFFF, 0x0000FFu);
  EXPECT_EQ(target.Pixel(58, 22) & 0xFFFFFF, 0x0000FFu);
  EXPECT_EQ(target.Pixel(18, 25) & 0xFFFFFF, 0xFFFFFFu);  // the page beside the shape
  EXPECT_EQ(target.Pixel(62, 25) & 0xFFFFFF, 0xFFFFFFu);
}

// The override brush fills every figure, the override pen draws every line (also the one the
// picture drew with a pen of its own); switched off, the picture's own colours return.
TEST_F(MetafileViewTest, OverridePenAndBrushOnAndOff) {
  for (float angle : {0.0f, 30.0f}) {
    SCOPED_TRACE(angle);
    auto s = Make(angle);
    s->Brush()->SetColor(0x00FFFF);  // yellow
    s->Pen()->SetColor(0xFF00FF);    // magenta
    s->Pen()->SetWidth(5);
    s->SetOverrideBrush(true);
    s->SetOverridePen(true);
    s->UpdateBuffer();
    EXPECT_TRUE(Near(At(s.get(), 5, 5), 0xFFFFFF00u)) << std::hex << At(s.get(), 5, 5);
    EXPECT_TRUE(Near(At(s.get(), 15, 5), 0xFFFFFF00u));
    EXPECT_TRUE(Near(At(s.get(), 10.5f, 9.0f), 0xFFFF00FFu)) << std::hex << At(s.get(), 10.5f, 9.0f);
    s->SetOverrideBrush(false);
    s->UpdateBuffer();
    EXPECT_TRUE(Near(At(s.get(), 5, 5), cRed));
    EXPECT_TRUE(Near(At(s.get(), 15, 5), cBlue));
    EXPECT_TRUE(Near(At(s.get(), 10.5f, 9.0f), 0xFFFF00FFu));
    s->SetOverridePen(false);
    s->UpdateBuffer();
    EXPECT_TRUE(Near(At(s.get(), 10.5f, 9.0f), cGreen));
  }
}

// A damaged record ends the picture: what came before it shows, painting goes on.
TEST_F(MetafileViewTest, ADamagedRecordEndsThePicture) {
  kdtest::WriteFileBytes(path, TwoTone(true));
  auto s = Make(0);
  EXPECT_NO_THROW(s->UpdateBuffer());
  ASSERT_NE(s->Buffer(), nullptr);
  EXPECT_FALSE(s->RepaintFlag());
  EXPECT_TRUE(Near(At(s.get(), 5, 5), cRed));
  EXPECT_EQ(At(s.get(), 15, 5) & 0xFFFFFFu, 0xFFFFFFu);  // the right half never drawn
}

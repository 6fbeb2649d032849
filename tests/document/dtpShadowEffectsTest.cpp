#include "document/dtpShadowEffects.h"

#include <gtest/gtest.h>

#include <tuple>

#include "DocumentTestSupport.h"
#include "document/XmlDocuments.h"
#include "document/dtpPolygonShape.h"
#include "document/dtpShapeRenderPriv.h"
#include "raster/dtpUtil.h"

using namespace document;

namespace {

class ShadowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitializeDtpShape();
    InitializeDtpEffectShape();
    InitializeDtpShadowEffects();
  }
};

}  // namespace

TEST_F(ShadowTest, DefaultsAndRegistry) {
  TdtpShadowEffect e;
  EXPECT_EQ(e.DeltaX, 2.0f);
  EXPECT_EQ(e.DeltaY, 1.0f);
  EXPECT_EQ(e.Intensity, 0.7f);
  EXPECT_EQ(e.Blur, 1.5f);
  EXPECT_EQ(e.Color, 0);
  EXPECT_EQ(e.GetEffectName(), "Shadow");
  EXPECT_EQ(&FindEffectClass("TdtpShadowEffect"), &TdtpShadowEffect::StaticClass());
}

TEST_F(ShadowTest, PaintRectGrowsForOffsetAndBlur) {
  TdtpShadowEffect e;
  float l = 0, t = 0, r = 0, b = 0;
  e.AdjustPaintRect(l, t, r, b);
  EXPECT_FLOAT_EQ(l, 0.25f);
  EXPECT_FLOAT_EQ(r, 4.25f);
  EXPECT_FLOAT_EQ(t, 1.25f);
  EXPECT_FLOAT_EQ(b, 3.25f);
  e.DeltaX = -10;
  e.Blur = 0;
  l = r = 0;
  e.AdjustPaintRect(l, t, r, b);
  EXPECT_FLOAT_EQ(l, 10);
  EXPECT_FLOAT_EQ(r, 0);
}

TEST_F(ShadowTest, UnblurredShadowSitsAtTheOffset) {
  TdtpShadowEffect e;
  e.DeltaX = 2;
  e.DeltaY = 1;
  e.Blur = 0;
  e.Intensity = 1;
  e.Color = 0x0000FF;  // red in TColor order
  TBitmap32 b;
  b.SetSize(6, 6);
  b.Clear(0);
  b.SetPixel(1, 1, 0xFF00FF00u);
  e.ApplyAtDpm(&b, 1.0f);
  EXPECT_EQ(b.Pixel(1, 1), 0xFF00FF00u);  // the shape stays on top
  EXPECT_EQ(b.Pixel(3, 2) & 0x00FFFFFFu, 0x00FF0000u);
  EXPECT_EQ(b.Pixel(3, 2) >> 24, 0xFFu);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 6; ++x) {
      if (!(x == 1 && y == 1) && !(x == 3 && y == 2)) {
        EXPECT_EQ(b.Pixel(x, y) >> 24, 0u) << x << "," << y;
      }
    }
  // At 2 pixels per millimetre the offset doubles.
  b.Clear(0);
  b.SetPixel(0, 0, 0xFF00FF00u);
  e.ApplyAtDpm(&b, 2.0f);
  EXPECT_EQ(b.Pixel(4, 2) >> 24, 0xFFu);
}

TEST_F(ShadowTest, BlurSpreadsAndIntensityFades) {
  TdtpShadowEffect e;
  e.DeltaX = 0;
  e.DeltaY = 0;
  e.Blur = 3;
  e.Intensity = 0.5f;
  TBitmap32 b;
  b.SetSize(20, 20);
  b.Clear(0);
  for (int y = 8; y < 12; ++y)
    for (int x = 8; x < 12; ++x) b.SetPixel(x, y, 0xFFFFFFFFu);
  e.ApplyAtDpm(&b, 1.0f);
  EXPECT_EQ(b.Pixel(9, 9), 0xFFFFFFFFu);
  const uint32_t a = b.Pixel(7, 9) >> 24;
  EXPECT_GT(a, 0u);
  EXPECT_LT(a, 128u);
  EXPECT_EQ(b.Pixel(7, 9) & 0x00FFFFFFu, 0u);  // black shadow
  EXPECT_EQ(b.Pixel(0, 0) >> 24, 0u);
  // Zero intensity leaves every visible pixel as it was.
  TBitmap32 c;
  c.Assign(&b);
  e.Intensity = 0;
  e.ApplyAtDpm(&c, 1.0f);
  for (int i = 0; i < 400; ++i) {
    if (b.Bits()[i] >> 24) {
      ASSERT_EQ(c.Bits()[i], b.Bits()[i]) << i;
    }
  }
}

TEST_F(ShadowTest, HostileValuesDoNotCrash) {
  TdtpShadowEffect e;
  e.DeltaX = 1e30f;
  e.DeltaY = -1e30f;
  e.Blur = 1e30f;
  TBitmap32 b;
  b.SetSize(4, 4);
  b.Clear(0xFF000000u);
  e.ApplyAtDpm(&b, 10.0f);
  TBitmap32 empty;
  e.ApplyAtDpm(&empty, 10.0f);
  SUCCEED();
}

TEST_F(ShadowTest, OwnerResolutionIsUsed) {
  kdtest::TTestDocumentHost doc;
  doc.Render = 3;
  auto s = NewShape<TdtpEffectShape>();
  s->SetDocument(&doc);
  auto* e = new TdtpShadowEffect;
  s->AddEffect(std::unique_ptr<TdtpEffect>(e));
  e->DeltaX = 1;
  e->DeltaY = 0;
  e->Blur = 0;
  e->Intensity = 1;
  TBitmap32 b;
  b.SetSize(8, 2);
  b.Clear(0);
  b.SetPixel(0, 0, 0xFFFFFFFFu);
  const float dpm = s->GetRenderDpm();
  e->Apply(&b);
  EXPECT_EQ(b.Pixel(int(platform::Round(dpm)), 0) >> 24, 0xFFu);
}

// A shape drawn without a buffer casts its shadow in the screen's pixels (an unfilled frame inside it).
TEST_F(ShadowTest, AShapeDrawnWithoutABufferCastsItsShadowAtTheScreensResolution) {
  for (const float dpm : {4.0f, 1.0f}) {
    SCOPED_TRACE(dpm);
    kdtest::TTestDocumentHost doc;
    doc.Render = 300 / 25.4f;
    doc.Screen = dpm;
    auto root = NewShape<TdtpShape>();
    root->SetDocument(&doc);
    root->SetSmartHitTest(false);
    root->SetDocBounds(0, 0, 1600, 1100);
    auto frame = NewShape<TdtpRectangleShape>();
    TdtpRectangleShape* s = frame.get();
    root->AddShape(std::move(frame));
    s->SetDocBounds(10, 10, 1500, 1000);
    s->SetUseFill(false);
    s->SetOutlineWidth(1);
    auto* e = new TdtpShadowEffect;
    s->AddEffect(std::unique_ptr<TdtpEffect>(e));
    e->DeltaX = 4;
    e->DeltaY = 3;
    e->Blur = 0;
    e->Intensity = 1;
    TBitmap32 target;
    target.SetSize(int(40 * dpm), int(40 * dpm));
    EXPECT_TRUE(root->PaintToCanvas(detail::TBitmap32Canvas(&target).Canvas()));
    EXPECT_TRUE(s->Buffer() == nullptr || s->Buffer()->Empty());
    // Black: the left edge, its shadow 4 mm right, the top edge's shadow 3 mm down; else the page.
    for (const auto& [x, y, black] : {std::tuple{10.f, 30.f, true}, {14.f, 30.f, true}, {30.f, 13.f, true},
                                      {1.f, 30.f, false}, {5.f, 30.f, false}, {16.5f, 30.f, false},
                                      {21.8f, 30.f, false}, {25.f, 30.f, false}, {35.f, 30.f, false}, {30.f, 21.8f, false}})
      EXPECT_EQ((target.Pixel(int(x * dpm), int(y * dpm)) & 0xFFFFFF) == 0, black) << x << "," << y;
  }
}

TEST_F(ShadowTest, XmlRoundTripAndMissingIntensity) {
  TXmlDocument xml("Effect");
  TdtpShadowEffect e;
  e.DeltaX = -1.5f;
  e.Color = 0x123456;
  e.SaveToXml(xml.Root());
  const TXmlNode* root = xml.Root();
  EXPECT_EQ(root->ReadString("Color"), "$00123456");
  EXPECT_LT(root->NodeIndexByName("DeltaX"), root->NodeIndexByName("DeltaY"));
  EXPECT_LT(root->NodeIndexByName("Intensity"), root->NodeIndexByName("Blur"));
  EXPECT_LT(root->NodeIndexByName("Blur"), root->NodeIndexByName("Color"));
  TdtpShadowEffect r;
  r.LoadFromXml(xml.Root());
  EXPECT_EQ(r.DeltaX, -1.5f);
  EXPECT_EQ(r.DeltaY, 1.0f);
  EXPECT_EQ(r.Intensity, 0.7f);
  EXPECT_EQ(r.Blur, 1.5f);
  EXPECT_EQ(r.Color, 0x123456);
  TXmlDocument partial("Effect");
  partial.Root()->WriteFloat("DeltaX", 3);
  TdtpShadowEffect p;
  p.LoadFromXml(partial.Root());
  EXPECT_EQ(p.Intensity, 0.0f);
  EXPECT_EQ(p.Blur, 0.0f);
}

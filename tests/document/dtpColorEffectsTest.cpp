#include "document/dtpColorEffects.h"

#include <gtest/gtest.h>

#include <cmath>

#include "../common/TestSupport.h"
#include "document/XmlDocuments.h"
#include "document/dtpDocument.h"
#include "tools/DocumentFixtures.h"

using namespace document;

namespace {

// An effect shape filled with one grey.
class TdtpGreyShape : public TdtpEffectShape {
 public:
  static const TShapeClass& StaticClass() {
    static const TShapeClass cls = MakeShapeClass<TdtpGreyShape>("TdtpGreyShape", &TdtpEffectShape::StaticClass());
    return cls;
  }
  const TShapeClass& Class() const override { return StaticClass(); }
  void PaintShape(TBitmap32* B) override {
    B->FillRectClipped(ScreenLeft(), ScreenTop(), ScreenRight(), ScreenBottom(), 0xFF404040u);
  }
};

class ColorEffectsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kdfixture::InitializeFixtures();
    InitializeDtpShape();
    InitializeDtpEffectShape();
    InitializeDtpColorEffects();
    RegisterShapeClass(TdtpGreyShape::StaticClass());
  }
};

float HueOf(TColor32 C) {
  float h, s, l;
  raster::RGBtoHSL(C, h, s, l);
  return h;
}

}  // namespace

TEST_F(ColorEffectsTest, RegistryAndNames) {
  EXPECT_EQ(&FindEffectClass("TdtpBrightContrEffect"), &TdtpBrightContrEffect::StaticClass());
  EXPECT_EQ(&FindEffectClass("TdtpHSLAdjustEffect"), &TdtpHSLAdjustEffect::StaticClass());
  EXPECT_EQ(EffectClassFlag(TdtpHSLAdjustEffect::StaticClass()), 1u);
  // The bases are not registered.
  EXPECT_EQ(&FindEffectClass("TdtpColorLUTEffect"), &TdtpEffect::StaticClass());
  EXPECT_EQ(TdtpBrightContrEffect().GetEffectName(), "Brightness/Contrast");
  EXPECT_EQ(TdtpHSLAdjustEffect().GetEffectName(), "HSL Adjustment");
  EXPECT_EQ(TdtpColorLUTEffect().GetEffectName(), "ColorLUT");
  EXPECT_EQ(TdtpColorFunctionEffect().GetEffectName(), "ColorFunction");
}

TEST_F(ColorEffectsTest, BrightnessContrastTables) {
  TdtpBrightContrEffect e;
  e.UpdateTables();
  for (int i = 0; i < 256; ++i) ASSERT_EQ(e.RedTable[size_t(i)], i);
  e.SetContrast(0);
  e.SetBrightness(0.5f);  // 127.5 rounds to even: 128
  for (int i = 0; i < 256; ++i) ASSERT_EQ(e.RedTable[size_t(i)], 128);
  e.SetBrightness(1.5f);  // 128.5 rounds to 128
  EXPECT_EQ(e.RedTable[0], 128);
  e.SetContrast(1);
  e.SetBrightness(200);
  EXPECT_EQ(e.RedTable[127], 255);
  EXPECT_EQ(e.RedTable[0], 200);
  e.SetBrightness(-300);
  EXPECT_EQ(e.RedTable[255], 0);
  EXPECT_EQ(e.GreenTable, e.RedTable);
  EXPECT_EQ(e.BlueTable, e.RedTable);
  e.SetBrightness(0);
  e.SetContrast(2);
  EXPECT_EQ(e.RedTable[100], 73);   // (100-127)*2+127
  EXPECT_EQ(e.RedTable[200], 255);  // limited
}

TEST_F(ColorEffectsTest, LookupSkipsTransparentPixels) {
  TdtpColorLUTEffect e;
  for (int i = 0; i < 256; ++i) {
    e.RedTable[size_t(i)] = uint8_t(255 - i);
    e.GreenTable[size_t(i)] = uint8_t(i / 2);
    e.BlueTable[size_t(i)] = 7;
  }
  TBitmap32 b;
  b.SetSize(2, 1);
  b.SetPixel(0, 0, 0x80102030u);
  b.SetPixel(1, 0, 0x00102030u);
  e.Apply(&b);
  EXPECT_EQ(b.Pixel(0, 0), 0x80EF1007u);
  EXPECT_EQ(b.Pixel(1, 0), 0x00102030u);
}

TEST_F(ColorEffectsTest, HslAdjustment) {
  TdtpHSLAdjustEffect e;
  const TColor32 cyan = raster::HSLtoRGB(0.5f, 1.0f, 0.5f) | 0xFF000000u;
  TColor32 p = cyan;
  e.Hue = 0.75f;
  e.AdjustPixel(p);
  EXPECT_NEAR(HueOf(p), 0.25f, 0.01f);
  p = (raster::HSLtoRGB(0.1f, 1.0f, 0.5f) & 0x00FFFFFFu) | 0x7F000000u;
  e.Hue = -0.25f;
  e.AdjustPixel(p);
  EXPECT_NEAR(HueOf(p), 0.85f, 0.01f);
  EXPECT_EQ(p >> 24, 0x7Fu);
  // Saturation and lightness are limited to 0..1.
  e.Hue = 0;
  e.Lightness = 5;
  p = cyan;
  e.AdjustPixel(p);
  EXPECT_EQ(p, 0xFFFFFFFFu);
  e.Lightness = 0;
  e.Saturation = -3;
  p = 0xFFFF0000u;
  e.AdjustPixel(p);
  EXPECT_EQ(p & 0xFF, (p >> 8) & 0xFF);
  EXPECT_EQ(p & 0xFF, (p >> 16) & 0xFF);
  // Huge or undefined hues end without hanging.
  e.Saturation = 0;
  e.Hue = 3e30f;
  p = cyan;
  e.AdjustPixel(p);
  e.Hue = std::nanf("");
  e.AdjustPixel(p);
  // Transparent pixels keep their bytes.
  TBitmap32 b;
  b.SetSize(1, 1);
  b.SetPixel(0, 0, 0x00123456u);
  e.Hue = 0.3f;
  e.Apply(&b);
  EXPECT_EQ(b.Pixel(0, 0), 0x00123456u);
}

// A hue offset far outside 0..1 wraps like its fractional part, in both directions, and a
// whole picture is adjusted without stepping through every turn.
TEST_F(ColorEffectsTest, LargeHueOffsetsWrapExactly) {
  const TColor32 cyan = raster::HSLtoRGB(0.5f, 1.0f, 0.5f) | 0xFF000000u;
  TdtpHSLAdjustEffect e;
  e.Hue = 0.25f;
  TColor32 quarter = cyan;
  e.AdjustPixel(quarter);
  EXPECT_NEAR(HueOf(quarter), 0.75f, 0.01f);
  for (float hue : {1.25f, 7.25f, 1000000.25f, 1048576.25f, 2097151.25f, -0.75f, -3.75f, -1000000.75f,
                    -2097151.75f}) {
    SCOPED_TRACE(hue);
    e.Hue = hue;
    TColor32 p = cyan;
    e.AdjustPixel(p);
    EXPECT_EQ(p, quarter);
  }
  // Whole turns change nothing; from 2^24 on a float holds whole numbers only, so the sum
  // with the pixel's hue is a whole number too: hue 0.
  for (float hue : {1.0f, -1.0f, 999999.0f, -999999.0f, 3e7f, -3e7f, 3e30f, -3e30f}) {
    SCOPED_TRACE(hue);
    e.Hue = hue;
    TColor32 p = cyan;
    e.AdjustPixel(p);
    EXPECT_EQ(p, raster::HSLtoRGB(std::fabs(hue) < 16777216.0f ? 0.5f : 0.0f, 1.0f, 0.5f) | 0xFF000000u);
  }
  TBitmap32 b;
  b.SetSize(64, 64);
  b.Clear(cyan);
  e.Hue = 999999.25f;
  e.Apply(&b);
  EXPECT_EQ(b.Pixel(0, 0), quarter);
  EXPECT_EQ(b.Pixel(63, 63), quarter);
}

TEST_F(ColorEffectsTest, XmlRoundTripAndMissingValues) {
  TXmlDocument xml("Effect");
  TdtpBrightContrEffect e;
  e.SetBrightness(12.5f);
  e.SetContrast(1.25f);
  e.SaveToXml(xml.Root());
  EXPECT_EQ(xml.Root()->ReadString("ClassName"), "TdtpBrightContrEffect");
  EXPECT_EQ(xml.Root()->ReadString("Brightness"), "12.5");
  TdtpBrightContrEffect r;
  r.LoadFromXml(xml.Root());
  r.UpdateTables();
  EXPECT_EQ(r.Brightness(), 12.5f);
  EXPECT_EQ(r.Contrast(), 1.25f);
  EXPECT_EQ(r.RedTable, e.RedTable);

  TXmlDocument h("Effect");
  TdtpHSLAdjustEffect a;
  a.Hue = 0.25f;
  a.Saturation = -0.5f;
  a.Lightness = 0.125f;
  a.SaveToXml(h.Root());
  const TXmlNode* root = h.Root();
  ASSERT_EQ(root->NodeIndexByName("Hue") + 1, root->NodeIndexByName("Saturation"));
  ASSERT_EQ(root->NodeIndexByName("Saturation") + 1, root->NodeIndexByName("Lightness"));
  TdtpHSLAdjustEffect b;
  b.LoadFromXml(h.Root());
  EXPECT_EQ(b.Hue, 0.25f);
  EXPECT_EQ(b.Saturation, -0.5f);
  EXPECT_EQ(b.Lightness, 0.125f);

  // Missing values read as 0, not the constructor's defaults.
  TXmlDocument empty("Effect");
  TdtpBrightContrEffect z;
  z.LoadFromXml(empty.Root());
  EXPECT_EQ(z.Contrast(), 0.0f);
}

// A new brightness or contrast shows at the next paint and is a change to save.
TEST_F(ColorEffectsTest, BrightnessAndContrastChangesShowAndSave) {
  const std::string file = kdtest::TempDir() + "/bright.hsf";
  {
    TdtpComponent doc(nullptr);
    auto s = NewShape<TdtpGreyShape>();
    s->SetSmartHitTest(false);
    s->AddEffect(std::make_unique<TdtpBrightContrEffect>());
    TdtpShape* raw = s.get();
    doc.GetPage(0)->AddShape(std::move(s));
    raw->SetDocBounds(10, 10, 20, 20);
    doc.SaveToFile(file);
  }
  TdtpComponent doc(nullptr);
  doc.LoadFromFile(file);
  auto* shape = dynamic_cast<TdtpGreyShape*>(doc.GetPage(0)->GetShape(0));
  ASSERT_NE(shape, nullptr);
  auto* e = dynamic_cast<TdtpBrightContrEffect*>(shape->GetEffect(0));
  ASSERT_NE(e, nullptr);
  auto centre = [&] {
    shape->UpdateBuffer();
    const TBitmap32* b = shape->Buffer();
    return b ? b->Pixel(b->Width() / 2, b->Height() / 2) & 0xFFFFFFu : 0xDEADu;
  };
  EXPECT_EQ(centre(), 0x404040u);
  EXPECT_FALSE(doc.Modified());
  e->SetBrightness(100);  // 64 + 100 = 164
  EXPECT_EQ(centre(), 0xA4A4A4u);
  EXPECT_TRUE(shape->Modified());
  EXPECT_TRUE(doc.Modified());
  doc.SaveToFile(file);
  e->SetContrast(0.5f);  // (64 - 127) * 0.5 + 127 + 100 = 195.5, to even 196
  EXPECT_EQ(centre(), 0xC4C4C4u);
  EXPECT_TRUE(doc.Modified());
  doc.SaveToFile(file);
  // The same value again is no change.
  e->SetContrast(0.5f);
  EXPECT_FALSE(doc.Modified());

  TdtpComponent back(nullptr);
  back.LoadFromFile(file);
  auto* be = dynamic_cast<TdtpBrightContrEffect*>(
      dynamic_cast<TdtpEffectShape*>(back.GetPage(0)->GetShape(0))->GetEffect(0));
  ASSERT_NE(be, nullptr);
  EXPECT_FLOAT_EQ(be->Brightness(), 100);
  EXPECT_FLOAT_EQ(be->Contrast(), 0.5f);
  EXPECT_EQ(be->RedTable[64], 196);
}

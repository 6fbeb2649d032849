#include "document/dtpColorEffects.h"

#include <algorithm>
#include <cmath>

#include "document/XmlDocuments.h"
#include "platform/Rounding.h"

namespace document {

const TColorTable& IdentityColorTable() {
  static const TColorTable table = [] {
    TColorTable t{};
    for (int i = 0; i < 256; ++i) t[size_t(i)] = uint8_t(i);
    return t;
  }();
  return table;
}

TdtpColorLUTEffect::TdtpColorLUTEffect()
    : RedTable(IdentityColorTable()), GreenTable(IdentityColorTable()), BlueTable(IdentityColorTable()) {}

const TEffectClass& TdtpColorLUTEffect::StaticClass() {
  static const TEffectClass cls = MakeEffectClass<TdtpColorLUTEffect>("TdtpColorLUTEffect");
  return cls;
}

void TdtpColorLUTEffect::Apply(TBitmap32* Bitmap) {
  if (!Bitmap || Bitmap->Empty()) return;
  TColor32* p = Bitmap->Bits();
  const size_t n = size_t(Bitmap->Width()) * size_t(Bitmap->Height());
  for (size_t i = 0; i < n; ++i) {
    const TColor32 c = p[i];
    if ((c >> 24) == 0) continue;
    p[i] = (c & 0xFF000000u) | (uint32_t(RedTable[(c >> 16) & 0xFF]) << 16) |
           (uint32_t(GreenTable[(c >> 8) & 0xFF]) << 8) | BlueTable[c & 0xFF];
  }
}

const TEffectClass& TdtpBrightContrEffect::StaticClass() {
  static const TEffectClass cls = MakeEffectClass<TdtpBrightContrEffect>("TdtpBrightContrEffect");
  return cls;
}

void TdtpBrightContrEffect::UpdateTables() {
  for (int i = 0; i < 256; ++i) {
    const double v = platform::Round(double(i - 127) * double(FContrast) + 127.0 + double(FBrightness));
    RedTable[size_t(i)] = uint8_t(std::clamp(v, 0.0, 255.0));
  }
  GreenTable = RedTable;
  BlueTable = RedTable;
}

void TdtpBrightContrEffect::SetBrightness(float Value) {
  if (Value == FBrightness) return;
  FBrightness = Value;
  UpdateTables();
  OwnerChanged();
}

void TdtpBrightContrEffect::SetContrast(float Value) {
  if (Value == FContrast) return;
  FContrast = Value;
  UpdateTables();
  OwnerChanged();
}

void TdtpBrightContrEffect::LoadFromXml(TXmlNode* Node) {
  if (!Node) return;
  TdtpEffect::LoadFromXml(Node);
  FBrightness = float(Node->ReadFloat("Brightness", 0));
  FContrast = float(Node->ReadFloat("Contrast", 0));
}

void TdtpBrightContrEffect::SaveToXml(TXmlNode* Node) {
  if (!Node) return;
  TdtpEffect::SaveToXml(Node);
  Node->WriteFloat("Brightness", FBrightness, 0);
  Node->WriteFloat("Contrast", FContrast, 0);
}

const TEffectClass& TdtpColorFunctionEffect::StaticClass() {
  static const TEffectClass cls = MakeEffectClass<TdtpColorFunctionEffect>("TdtpColorFunctionEffect");
  return cls;
}

void TdtpColorFunctionEffect::Apply(TBitmap32* Bitmap) {
  if (!Bitmap || Bitmap->Empty()) return;
  TColor32* p = Bitmap->Bits();
  const size_t n = size_t(Bitmap->Width()) * size_t(Bitmap->Height());
  for (size_t i = 0; i < n; ++i)
    if ((p[i] >> 24) != 0) AdjustPixel(p[i]);
}

const TEffectClass& TdtpHSLAdjustEffect::StaticClass() {
  static const TEffectClass cls = MakeEffectClass<TdtpHSLAdjustEffect>("TdtpHSLAdjustEffect");
  return cls;
}

void TdtpHSLAdjustEffect::AdjustPixel(TColor32& Pixel) {
  float h = 0, s = 0, l = 0;
  raster::RGBtoHSL(Pixel, h, s, l);
  h += Hue;
  if (!std::isfinite(h)) h = 0;
  // Into [0, 1) as by steps of 1, in one step whatever the size of the hue. Taking whole
  // numbers off a float never rounds while its size shrinks, so only the last step up from
  // [-1, 0) can round, as it would one step at a time.
  if (h >= 1) h -= std::floor(h);
  if (h <= -16777216.0f) h = 0;  // a whole number at this size
  if (h < 0) {
    h += std::ceil(-h) - 1;
    h += 1;
  }
  s = std::clamp(s + Saturation, 0.0f, 1.0f);
  l = std::clamp(l + Lightness, 0.0f, 1.0f);
  Pixel = (Pixel & 0xFF000000u) | (raster::HSLtoRGB(h, s, l) & 0x00FFFFFFu);
}

void TdtpHSLAdjustEffect::LoadFromXml(TXmlNode* Node) {
  if (!Node) return;
  TdtpEffect::LoadFromXml(Node);
  Hue = float(Node->ReadFloat("Hue", 0));
  Saturation = float(Node->ReadFloat("Saturation", 0));
  Lightness = float(Node->ReadFloat("Lightness", 0));
}

void TdtpHSLAdjustEffect::SaveToXml(TXmlNode* Node) {
  if (!Node) return;
  TdtpEffect::SaveToXml(Node);
  Node->WriteFloat("Hue", Hue, 0);
  Node->WriteFloat("Saturation", Saturation, 0);
  Node->WriteFloat("Lightness", Lightness, 0);
}

void InitializeDtpColorEffects() {
  IdentityColorTable();
  RegisterEffectClass(TdtpBrightContrEffect::StaticClass(), 1);
  RegisterEffectClass(TdtpHSLAdjustEffect::StaticClass(), 1);
}

}  // namespace document

// Colour corrections an effect shape can carry: per-channel lookup tables (brightness and
// contrast fill them) and a per-pixel colour function (an HSL adjustment). Fully transparent
// pixels are never touched, so their colour bytes survive every correction.
#pragma once

#include <array>
#include <cstdint>

#include "document/dtpEffectShape.h"

namespace document {

using TColorTable = std::array<uint8_t, 256>;

// Value i at index i.
const TColorTable& IdentityColorTable();

class TdtpColorLUTEffect : public TdtpEffect {
 public:
  TdtpColorLUTEffect();
  static const TEffectClass& StaticClass();
  const TEffectClass& Class() const override { return StaticClass(); }
  void Apply(TBitmap32* Bitmap) override;

  TColorTable RedTable, GreenTable, BlueTable;
};

class TdtpBrightContrEffect : public TdtpColorLUTEffect {
 public:
  static const TEffectClass& StaticClass();
  const TEffectClass& Class() const override { return StaticClass(); }
  std::string GetEffectName() const override { return "Brightness/Contrast"; }
  void UpdateTables() override;
  void LoadFromXml(TXmlNode* Node) override;
  void SaveToXml(TXmlNode* Node) override;

  float Brightness() const { return FBrightness; }
  float Contrast() const { return FContrast; }
  void SetBrightness(float Value);
  void SetContrast(float Value);

 private:
  float FBrightness = 0;
  float FContrast = 1.0f;
};

class TdtpColorFunctionEffect : public TdtpEffect {
 public:
  static const TEffectClass& StaticClass();
  const TEffectClass& Class() const override { return StaticClass(); }
  void Apply(TBitmap32* Bitmap) override;
  virtual void AdjustPixel(TColor32& /*Pixel*/) {}
};

class TdtpHSLAdjustEffect : public TdtpColorFunctionEffect {
 public:
  static const TEffectClass& StaticClass();
  const TEffectClass& Class() const override { return StaticClass(); }
  std::string GetEffectName() const override { return "HSL Adjustment"; }
  void AdjustPixel(TColor32& Pixel) override;
  void LoadFromXml(TXmlNode* Node) override;
  void SaveToXml(TXmlNode* Node) override;

  TStoredSetting<float, TdtpEffect> Hue{this, 0}, Lightness{this, 0}, Saturation{this, 0};
};

void InitializeDtpColorEffects();

}  // namespace document

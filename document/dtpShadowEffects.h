// The drop shadow: the shape's own coverage, faded, moved, blurred and coloured, drawn under
// the shape inside its buffer. Distances are millimetres, turned into pixels with the
// owner's render resolution.
#pragma once

#include "document/dtpEffectShape.h"
#include "platform/Colors.h"

namespace document {

class TdtpShadowEffect : public TdtpEffect {
 public:
  static const TEffectClass& StaticClass();
  const TEffectClass& Class() const override { return StaticClass(); }
  void Apply(TBitmap32* Bitmap) override;
  void AdjustPaintRect(float& Left, float& Top, float& Right, float& Bottom) override;
  void LoadFromXml(TXmlNode* Node) override;
  void SaveToXml(TXmlNode* Node) override;
  // The shadow pipeline at an explicit resolution (pixels per millimetre).
  void ApplyAtDpm(TBitmap32* Bitmap, float Dpm) const;

  TStoredSetting<float, TdtpEffect> DeltaX{this, 2.0f}, DeltaY{this, 1.0f}, Intensity{this, 0.7f}, Blur{this, 1.5f};
  TStoredSetting<platform::TColor, TdtpEffect> Color{this, 0};
};

void InitializeDtpShadowEffects();

}  // namespace document

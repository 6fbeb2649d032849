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

  float DeltaX = 2.0f, DeltaY = 1.0f, Intensity = 0.7f, Blur = 1.5f;
  platform::TColor Color = 0;
};

void InitializeDtpShadowEffects();

}  // namespace document

// A shape that only holds other shapes; it draws nothing of its own.
#pragma once

#include "document/dtpEffectShape.h"

namespace document {

class TdtpGroupShape : public TdtpEffectShape {
 public:
  static const TShapeClass& StaticClass();
  const TShapeClass& Class() const override { return StaticClass(); }
};

void InitializeDtpGroupShape();

}  // namespace document

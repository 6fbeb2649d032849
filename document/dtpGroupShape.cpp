#include "document/dtpGroupShape.h"

namespace document {

const TShapeClass& TdtpGroupShape::StaticClass() {
  static const TShapeClass cls = MakeShapeClass<TdtpGroupShape>("TdtpGroupShape", &TdtpEffectShape::StaticClass());
  return cls;
}

void InitializeDtpGroupShape() { RegisterShapeClass(TdtpGroupShape::StaticClass()); }

}  // namespace document

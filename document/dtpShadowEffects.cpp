#include "document/dtpShadowEffects.h"

#include <algorithm>

#include "document/XmlDocuments.h"
#include "document/dtpShapeRenderPriv.h"
#include "platform/Rounding.h"
#include "raster/dtpUtil.h"

namespace document {

const TEffectClass& TdtpShadowEffect::StaticClass() {
  static const TEffectClass cls = MakeEffectClass<TdtpShadowEffect>("TdtpShadowEffect");
  return cls;
}

namespace {
// Offsets far outside any buffer only clear the shadow; keep them within int32.
int32_t PixelOffset(float Dpm, float Mm) {
  const double v = double(Dpm) * double(Mm);
  if (!(v > -1e9 && v < 1e9)) return v > 0 ? 1000000000 : -1000000000;
  return int32_t(platform::Round(v));
}
}  // namespace

void TdtpShadowEffect::ApplyAtDpm(TBitmap32* Bitmap, float Dpm) const {
  if (!Bitmap || Bitmap->Empty()) return;
  TBitmap32 shadow;
  shadow.Assign(Bitmap);
  raster::ScaleAlpha(&shadow, Intensity);
  raster::ShiftBitmap(&shadow, PixelOffset(Dpm, DeltaX), PixelOffset(Dpm, DeltaY));
  const float radius = Dpm * Blur;
  raster::BoxBlur(&shadow, radius > -1e6f && radius < 1e6f ? radius : 0.0f);
  raster::ColorizeBitmap(&shadow, raster::Color32(Color));
  raster::MergeBitmaps(Bitmap, &shadow, 255);
}

// The offset and blur are measured in the pixels of the bitmap being drawn, which is not always
// at the render resolution (a shape too large for a buffer is drawn at the screen's).
void TdtpShadowEffect::Apply(TBitmap32* Bitmap) {
  const float drawing = detail::DrawingDpm();
  ApplyAtDpm(Bitmap, drawing > 0 && drawing < 1e9f ? drawing : Owner ? Owner->GetRenderDpm() : 1.0f);
}

void TdtpShadowEffect::AdjustPaintRect(float& Left, float& Top, float& Right, float& Bottom) {
  const float m = 1.5f * Blur;
  Left += std::max(0.0f, m - DeltaX);
  Right += std::max(0.0f, m + DeltaX);
  Top += std::max(0.0f, m - DeltaY);
  Bottom += std::max(0.0f, m + DeltaY);
}

void TdtpShadowEffect::LoadFromXml(TXmlNode* Node) {
  if (!Node) return;
  TdtpEffect::LoadFromXml(Node);
  DeltaX = float(Node->ReadFloat("DeltaX", 0));
  DeltaY = float(Node->ReadFloat("DeltaY", 0));
  Intensity = float(Node->ReadFloat("Intensity", 0));
  Blur = float(Node->ReadFloat("Blur", 0));
  Color = platform::TColor(Node->ReadInteger("Color", 0));
}

void TdtpShadowEffect::SaveToXml(TXmlNode* Node) {
  if (!Node) return;
  TdtpEffect::SaveToXml(Node);
  Node->WriteFloat("DeltaX", DeltaX, 0);
  Node->WriteFloat("DeltaY", DeltaY, 0);
  Node->WriteFloat("Intensity", Intensity, 0);
  Node->WriteFloat("Blur", Blur, 0);
  Node->WriteColor("Color", Color);
}

void InitializeDtpShadowEffects() { RegisterEffectClass(TdtpShadowEffect::StaticClass(), 1); }

}  // namespace document

// Text on a 32-bit bitmap. The platform's text drawing on a 32-bit surface changes the colour
// of the pixels it touches and leaves their alpha at 0; shapes derive their alpha from that,
// so the same is done here: the text is rendered into a coverage mask, the font colour is
// mixed into the touched pixels by coverage and their alpha is cleared.
#include <algorithm>

#include "platform/Font.h"
#include "raster/Raster32.h"

namespace raster {

using platform::TextMeasurer;

// A bitmap's font measures at 96 pixels per inch whatever the display, so that a point size
// assigned from another font always gives the same pixel height.
constexpr int32_t kBitmapFontPpi = 96;

void TBitmap32::SetFont(const platform::TFont* Value) {
  FFont->SetPixelsPerInch(kBitmapFontPpi);
  FFont->Assign(Value);
  FontChanged();
}

void TBitmap32::FontChanged() { FFontHandleCached = false; }

void TBitmap32::UpdateFont() {
  FFont->SetPixelsPerInch(kBitmapFontPpi);
  FFontHandleCached = true;
}

TSize TBitmap32::TextExtent(const std::string& Text) {
  UpdateFont();
  platform::TSize s = TextMeasurer().TextExtent(*FFont, Text);
  return {s.cx, s.cy};
}

void TBitmap32::Textout(const TRect& DstRect, uint32_t Flags, const std::string& Text) {
  UpdateFont();
  if (!Empty() && !Text.empty() && !(Flags & platform::DT_CALCRECT)) {
    // Lay out first, then render only the area the text can reach.
    platform::TTextMask probe;
    TRect textRect;
    platform::RenderTextMask(*FFont, DstRect, Flags | platform::DT_CALCRECT, Text, probe, &textRect);
    platform::TTextMetric m = TextMeasurer().Metrics(*FFont);
    // Ink may stand out of the advance box (italics, overhangs, accents above the cell).
    const int64_t margin = int64_t{m.Height} / 2 + 2;
    auto fit = [](int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); };
    TRect area{fit(textRect.Left - margin), fit(textRect.Top - margin), fit(textRect.Right + margin),
               fit(textRect.Bottom + margin)};
    TRect bounds{0, 0, FWidth, FHeight};
    if (!(Flags & platform::DT_NOCLIP)) platform::IntersectRect(bounds, bounds, DstRect);
    if (platform::IntersectRect(area, area, bounds) && !IsRectEmpty(area)) {
      platform::TTextMask mask;
      mask.SetSize(area.Width(), area.Height());
      TRect r{fit(int64_t{DstRect.Left} - area.Left), fit(int64_t{DstRect.Top} - area.Top),
              fit(int64_t{DstRect.Right} - area.Left), fit(int64_t{DstRect.Bottom} - area.Top)};
      platform::RenderTextMask(*FFont, r, Flags, Text, mask);

      TColor32 c = Color32(platform::ColorToRGB(FFont->Color()));
      const uint32_t tr = RedComponent(c), tg = GreenComponent(c), tb = BlueComponent(c);
      for (int32_t y = 0; y < mask.Height; ++y) {
        const uint8_t* cov = mask.Coverage.data() + static_cast<size_t>(y) * mask.Width;
        TColor32* row = PixelPtr(area.Left, area.Top + y);
        for (int32_t x = 0; x < mask.Width; ++x) {
          uint32_t a = cov[x];
          if (a == 0) continue;
          TColor32 p = row[x];
          uint32_t ia = 255 - a;
          uint32_t r8 = (tr * a + RedComponent(p) * ia + 127) / 255;
          uint32_t g8 = (tg * a + GreenComponent(p) * ia + 127) / 255;
          uint32_t b8 = (tb * a + BlueComponent(p) * ia + 127) / 255;
          row[x] = (r8 << 16) | (g8 << 8) | b8;
        }
      }
    }
  }
  Changed();
}

}  // namespace raster

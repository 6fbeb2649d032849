#include "raster/dtpRasterGIF.h"

#include <algorithm>
#include <array>
#include <vector>

#include "raster/GifGraphic.h"

namespace raster {

TdtpRasterClass TdtpGifFormat::Class() {
  static const TdtpRasterClassInfo info{"TdtpGifFormat", [] { return std::make_unique<TdtpGifFormat>(); }, {}};
  return &info;
}

void RenderGIFFirstFrame(TGifGraphic& Image, TBitmap32* Bitmap) {
  Bitmap->SetSize(Image.Width(), Image.Height());
  if (Bitmap->Empty()) return;
  // A lone frame keeps its transparency; an animation's first frame lands opaque over black.
  const bool animated = Image.Count() > 1 && (Image.DrawOptions & goAnimate);
  Bitmap->Clear(animated ? 0xFF000000u : 0x00000000u);
  if (Image.Count() > 0) {
    TGIFSubImage* f = Image.Images(0);
    if (!f->Empty()) {
      const std::vector<uint32_t>& px = f->Pixels32();
      const int32_t x0 = f->Left(), y0 = f->Top(), fw = f->Width();
      const int32_t x1 = std::min(x0 + fw, Bitmap->Width());
      const int32_t y1 = std::min(y0 + f->Height(), Bitmap->Height());
      for (int32_t y = y0; y < y1; ++y) {
        const uint32_t* src = px.data() + static_cast<size_t>(y - y0) * fw;
        TColor32* dst = Bitmap->ScanLine(y);
        for (int32_t x = x0; x < x1; ++x) {
          const uint32_t c = src[x - x0];
          if ((c >> 24) != 0) dst[x] = c;  // transparent pixels stay as cleared
        }
      }
    }
  }
  Bitmap->Changed();
}

void TdtpGifFormat::LoadFromStream(platform::TStream* Stream, TBitmap32* Bitmap, platform::TPoint, int32_t PageIndex) {
  if (PageIndex > 0) throw ERasterError(SRequestedNonExistingPage);
  TGifGraphic gif;
  gif.LoadFromStream(Stream);
  RenderGIFFirstFrame(gif, Bitmap);
}

void TdtpGifFormat::SaveToStream(platform::TStream* Stream, TBitmap32* Bitmap) {
  const int32_t w = Bitmap->Width(), h = Bitmap->Height();
  if (w <= 0 || h <= 0) throw GIFException(sImageEmpty);
  const int64_t n = int64_t(w) * h;
  const TColor32* px = Bitmap->Bits();
  bool any = false;
  for (int64_t i = 0; i < n && !any; ++i) any = (px[i] >> 24) < AlphaThreshold;
  TGifGraphic gif;
  gif.ColorReduction = rmQuantize;
  gif.DitherMode = dmFloydSteinberg;
  TBitmap32 visible;
  TBitmap32* source = Bitmap;
  if (any) {
    // The transparent index needs an index of its own: with all 256 in use, the pixels of the
    // one taken for it would turn transparent too. So at most 255 colours, chosen from the
    // pixels that are seen; the others are given a table colour so that dithering carries no
    // error from them into their neighbours.
    std::vector<uint32_t> seen;
    for (int64_t i = 0; i < n; ++i)
      if ((px[i] >> 24) >= AlphaThreshold) seen.push_back(px[i]);
    if (!seen.empty()) {
      TGIFPaletteEntries pal = OctreeQuantize(seen.data(), static_cast<int64_t>(seen.size()), 255);
      visible.Assign(Bitmap);
      const TColor32 fill = pal.empty() ? 0xFF000000u : Color32(pal[0]) | 0xFF000000u;
      for (int64_t i = 0; i < n; ++i)
        if ((px[i] >> 24) < AlphaThreshold) visible.Bits()[i] = fill;
      source = &visible;
      gif.ColorReduction = rmPalette;
      gif.SetPalette(pal);
    } else {
      gif.ColorReduction = rmPalette;
      gif.SetPalette(OctreeQuantize(px, n, 255));
    }
  }
  TGIFSubImage* f = gif.Add();
  f->Assign(source);
  std::array<int64_t, 256> counts{};
  for (uint8_t i : f->Data) ++counts[i];
  int32_t ti = 0;
  for (int32_t i = 0; i < 256; ++i)
    if (counts[i] < counts[ti]) ti = i;  // the first zero count, else the lowest of the smallest
  for (int64_t i = 0; i < n; ++i)
    if ((px[i] >> 24) < AlphaThreshold) f->Data[i] = static_cast<uint8_t>(ti);
  f->Changed();
  if (any) {
    TGIFColorMap& map = f->ActiveColorMap();
    // The transparent index needs its own table entry: unused indices past the table get one.
    while (map.Count() <= ti) map.Add(TransparentColor);
    auto g = std::make_unique<TGIFGraphicControlExtension>(f);
    g->SetTransparentColorIndex(ti);
    g->SetTransparent(true);
    f->AddExtension(std::move(g));
    map.SetColors(ti, TransparentColor);
  }
  gif.SaveToStream(Stream);
}
void InitializeDtpRasterGIF() {
  InitializeGifGraphic();
  RegisterRasterFormat(TdtpGifFormat::Class(), "Compuserve GIF", ".gif;", 0x086F);
}

void FinalizeDtpRasterGIF() { FinalizeGifGraphic(); }

}  // namespace raster

#include "raster/dtpRasterGIF.h"

#include <algorithm>
#include <array>
#include <unordered_map>

#include "raster/GifGraphic.h"

namespace raster {

TdtpRasterClass TdtpGifFormat::Class() {
  static const TdtpRasterClassInfo info{"TdtpGifFormat", [] { return std::make_unique<TdtpGifFormat>(); }, {}};
  return &info;
}

void RenderGIFFirstFrame(TGifGraphic& Image, TBitmap32* Bitmap) {
  Bitmap->SetSize(Image.Width(), Image.Height());
  if (Bitmap->Empty()) return;
  const bool animated = Image.Count() > 1;
  Bitmap->Clear(animated ? 0xFF000000u : 0x00000000u);
  if (Image.Count() > 0) {
    TGIFSubImage* f = Image.Images(0);
    if (!f->Empty()) {
      const TGIFColorMap& map = f->ActiveColorMap();
      const int32_t n = map.Count();
      const uint8_t* rgb = map.Data();
      const bool transparent = f->Transparent();
      const uint8_t ti = f->GraphicControl().TransparentColorIndex;
      const int32_t x0 = f->Left(), y0 = f->Top();
      const int32_t x1 = std::min(x0 + f->Width(), Bitmap->Width());
      const int32_t y1 = std::min(y0 + f->Height(), Bitmap->Height());
      for (int32_t y = y0; y < y1; ++y) {
        const uint8_t* src = f->Data.data() + static_cast<size_t>(y - y0) * f->Width();
        TColor32* dst = Bitmap->ScanLine(y);
        for (int32_t x = x0; x < x1; ++x) {
          const uint8_t i = src[x - x0];
          if (transparent && i == ti) continue;  // stays as cleared
          // An index past the table draws black, as a palette lookup beyond its end would.
          dst[x] = i < n ? Color32(rgb[i * 3], rgb[i * 3 + 1], rgb[i * 3 + 2]) : 0xFF000000u;
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

namespace {

// Exact colours when the picture has at most 256 of them; otherwise the 216-colour cube
// (the GIF unit's default reduction), nearest level per channel.
void ReduceToFrame(TBitmap32* Bitmap, TGIFSubImage* Frame) {
  const int32_t w = Bitmap->Width(), h = Bitmap->Height();
  std::unordered_map<uint32_t, uint8_t> index;
  bool exact = true;
  for (int64_t i = 0, n = int64_t(w) * h; i < n && exact; ++i) {
    const uint32_t c = Bitmap->Bits()[i] & 0xFFFFFF;
    if (index.count(c)) continue;
    if (index.size() == 256) exact = false;
    else index.emplace(c, static_cast<uint8_t>(index.size()));
  }
  TGIFColorMap& map = Frame->ColorMap;
  map.Clear();
  if (exact) {
    std::vector<uint32_t> cols(index.size());
    for (const auto& [c, i] : index) cols[i] = c;
    for (uint32_t c : cols) map.Add(platform::RGB((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF));
  } else {
    for (int r = 0; r < 6; ++r)
      for (int g = 0; g < 6; ++g)
        for (int b = 0; b < 6; ++b) map.Add(platform::RGB(r * 51, g * 51, b * 51));
  }
  Frame->SetBounds(0, 0, w, h);
  uint8_t* d = Frame->Data.data();
  for (int64_t i = 0, n = int64_t(w) * h; i < n; ++i) {
    const uint32_t c = Bitmap->Bits()[i] & 0xFFFFFF;
    if (exact) {
      d[i] = index[c];
    } else {
      auto lvl = [](uint32_t v) { return static_cast<int32_t>((v + 25) / 51); };
      d[i] = static_cast<uint8_t>(lvl((c >> 16) & 0xFF) * 36 + lvl((c >> 8) & 0xFF) * 6 + lvl(c & 0xFF));
    }
  }
}

}  // namespace

void TdtpGifFormat::SaveToStream(platform::TStream* Stream, TBitmap32* Bitmap) {
  TGifGraphic gif;
  gif.ScreenWidth = static_cast<uint16_t>(std::clamp(Bitmap->Width(), 0, 0xFFFF));
  gif.ScreenHeight = static_cast<uint16_t>(std::clamp(Bitmap->Height(), 0, 0xFFFF));
  if (Bitmap->Width() > 0xFFFF || Bitmap->Height() > 0xFFFF) throw GIFException(sScreenSizeExceeded);
  TGIFSubImage* f = gif.Add();
  ReduceToFrame(Bitmap, f);
  std::array<int64_t, 256> counts{};
  for (uint8_t i : f->Data) ++counts[i];
  int32_t ti = 0;
  for (int32_t i = 0; i < 256; ++i)
    if (counts[i] < counts[ti]) ti = i;  // the first zero count, else the lowest of the smallest
  const int64_t n = int64_t(Bitmap->Width()) * Bitmap->Height();
  bool any = false;
  for (int64_t i = 0; i < n && !any; ++i) any = (Bitmap->Bits()[i] >> 24) < AlphaThreshold;
  if (any) {
    TGIFColorMap& map = f->ActiveColorMap();
    if (ti >= map.Count()) {
      // The transparent index needs a table entry: grow the table when it has room.
      if (map.Count() < 256) {
        ti = map.Add(0);
      } else {
        gif.Warning(&gif, 1, sBadColorIndex);
        ti = 0;
      }
    }
    for (int64_t i = 0; i < n; ++i)
      if ((Bitmap->Bits()[i] >> 24) < AlphaThreshold) f->Data[i] = static_cast<uint8_t>(ti);
    TGIFGraphicControl g;
    g.Packed = 1;
    g.TransparentColorIndex = static_cast<uint8_t>(ti);
    f->AddGraphicControl(g);
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

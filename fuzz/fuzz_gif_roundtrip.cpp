// Whatever GIF loads and saves must load again to the same frames, and saving that must give
// the same bytes (LZW or run-length coding, by the input's length).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/Classes.h"
#include "raster/GifGraphic.h"

namespace {

std::vector<uint8_t> Save(raster::TGifGraphic& g) {
  platform::TMemoryStream s;
  g.SaveToStream(&s);
  std::vector<uint8_t> b(static_cast<size_t>(s.GetSize()));
  s.SetPosition(0);
  if (!b.empty()) s.ReadBuffer(b.data(), static_cast<int32_t>(b.size()));
  return b;
}

void Load(raster::TGifGraphic& g, const uint8_t* Data, size_t Size) {
  platform::TMemoryStream s;
  if (Size > 0) s.WriteBuffer(Data, static_cast<int32_t>(Size));
  s.SetPosition(0);
  g.LoadFromStream(&s);
}

std::vector<raster::TGIFSubImage*> Painted(raster::TGifGraphic& g) {
  std::vector<raster::TGIFSubImage*> r;
  for (int32_t i = 0; i < g.Count(); ++i)
    if (!g.Images(i)->Empty()) r.push_back(g.Images(i));
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  raster::TGifGraphic a;
  std::vector<uint8_t> b;
  try {
    Load(a, Data, Size);
    int64_t pixels = 0;
    for (int32_t i = 0; i < a.Count(); ++i) pixels += static_cast<int64_t>(a.Images(i)->Data.size());
    if (pixels > (1 << 20)) return 0;
    a.Compression = Size % 2 ? raster::gcRLE : raster::gcLZW;
    b = Save(a);
  } catch (const platform::Exception&) {
    return 0;  // refused input, or a model that cannot be written (colour beyond its table)
  }
  raster::TGifGraphic c;
  try {
    Load(c, b.data(), b.size());
  } catch (const raster::GIFException& e) {
    // Only the screen's backing can change: skipped bytes of the input are not written back.
    if (e.Message.rfind("Logical screen of", 0) == 0) return 0;
    std::abort();
  }
  c.Compression = a.Compression;
  if (c.Count() == 0) {
    // Frames without pixels or extensions leave nothing in the file.
    for (int32_t i = 0; i < a.Count(); ++i)
      if (!a.Images(i)->Empty() || a.Images(i)->ExtensionCount() > 0) std::abort();
    return 0;
  }
  if (Save(c) != b) std::abort();
  const auto fa = Painted(a), fc = Painted(c);
  if (fa.size() != fc.size()) std::abort();
  for (size_t i = 0; i < fa.size(); ++i) {
    if (fa[i]->Data != fc[i]->Data || fa[i]->BoundsRect() != fc[i]->BoundsRect()) std::abort();
    if (fa[i]->ActiveColorMap().ExportPalette() != fc[i]->ActiveColorMap().ExportPalette()) std::abort();
  }
  return 0;
}

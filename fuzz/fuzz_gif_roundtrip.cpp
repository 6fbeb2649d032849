// Whatever GIF loads and saves must load again to the same frames, and saving that must give
// the same bytes (LZW or run-length coding, by the input's length).
#include <algorithm>
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

// FILE (as written by us) with the pixel data of every frame in sub-blocks of the lengths in
// CUTS, cycled: any cut must read back to the same pixels.
std::vector<uint8_t> Recut(const std::vector<uint8_t>& file, const std::vector<size_t>& cuts) {
  std::vector<uint8_t> out(file.begin(), file.begin() + 13);
  size_t p = 13;
  if (file[10] & 0x80) p += size_t{3} << ((file[10] & 7) + 1);
  out.insert(out.end(), file.begin() + 13, file.begin() + static_cast<std::ptrdiff_t>(p));
  auto blocks = [&](bool recut) {
    std::vector<uint8_t> data;
    while (file.at(p) != 0) {
      const size_t n = file[p];
      if (p + 1 + n > file.size()) std::abort();
      data.insert(data.end(), file.begin() + static_cast<std::ptrdiff_t>(p + 1),
                  file.begin() + static_cast<std::ptrdiff_t>(p + 1 + n));
      if (!recut)
        out.insert(out.end(), file.begin() + static_cast<std::ptrdiff_t>(p),
                   file.begin() + static_cast<std::ptrdiff_t>(p + 1 + n));
      p += 1 + n;
    }
    ++p;
    for (size_t i = 0, k = 0; recut && i < data.size(); ++k) {
      const size_t n = std::min(cuts[k % cuts.size()], data.size() - i);
      out.push_back(static_cast<uint8_t>(n));
      out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(i),
                 data.begin() + static_cast<std::ptrdiff_t>(i + n));
      i += n;
    }
    out.push_back(0);
  };
  while (file.at(p) != ';') {
    if (file[p] == '!') {
      // Introducer and label, then what the writer puts before any sub-blocks: the whole
      // graphic control block, a text block's fixed part, an application block's identifier.
      const uint8_t label = file.at(p + 1);
      const size_t fixed = label == 0xF9 ? 6 : label == 0x01 ? 13 : label == 0xFF ? 12 : 0;
      if (p + 2 + fixed > file.size()) std::abort();
      out.insert(out.end(), file.begin() + static_cast<std::ptrdiff_t>(p),
                 file.begin() + static_cast<std::ptrdiff_t>(p + 2 + fixed));
      p += 2 + fixed;
      if (label != 0xF9) blocks(false);
    } else {
      size_t e = p + 10;
      if (file[p + 9] & 0x80) e += size_t{3} << ((file[p + 9] & 7) + 1);
      out.insert(out.end(), file.begin() + static_cast<std::ptrdiff_t>(p),
                 file.begin() + static_cast<std::ptrdiff_t>(e + 1));  // with the code size
      p = e + 1;
      blocks(true);
    }
  }
  out.push_back(';');
  return out;
}

std::vector<raster::TGIFSubImage*> Painted(raster::TGifGraphic& g) {
  std::vector<raster::TGIFSubImage*> r;
  for (int32_t i = 0; i < g.Count(); ++i)
    if (!g.Images(i)->Empty()) r.push_back(g.Images(i));
  return r;
}

const std::vector<size_t> kOneByte = {1};

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
  // The same data in 1-byte sub-blocks, and in a mix of short and long ones (a code may span
  // three blocks): the same pixels.
  const std::vector<size_t> mixed = {1, 2, 1, 255, 3, 1, 7, 1, static_cast<size_t>(1 + Size % 254)};
  for (const std::vector<size_t>* cuts : {&kOneByte, &mixed}) {
    const std::vector<uint8_t> r = Recut(b, *cuts);
    raster::TGifGraphic d;
    Load(d, r.data(), r.size());
    const auto fd = Painted(d);
    if (fd.size() != fc.size()) std::abort();
    for (size_t i = 0; i < fd.size(); ++i)
      if (fd[i]->Data != fc[i]->Data) std::abort();
  }
  return 0;
}

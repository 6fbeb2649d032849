// Pictures turned into frames: palettes, colour lookups, error-diffusion ditherers, the octree
// quantiser, and the clean-up pass over an image's frames.
#include <algorithm>
#include <array>
#include <cstring>

#include "platform/Colors.h"
#include "raster/GifGraphic.h"
#include "raster/Raster32.h"

namespace raster {

using platform::TColor;

namespace {

uint8_t R(TColor C) { return C & 0xFF; }
uint8_t G(TColor C) { return (C >> 8) & 0xFF; }
uint8_t B(TColor C) { return (C >> 16) & 0xFF; }

// The platform's default 20-colour palette.
const TColor Windows20[20] = {0x000000, 0x000080, 0x008000, 0x008080, 0x800000, 0x800080, 0x808000,
                              0xC0C0C0, 0xC0DCC0, 0xF0CAA6, 0xF0FBFF, 0xA4A0A0, 0x808080, 0x0000FF,
                              0x00FF00, 0x00FFFF, 0xFF0000, 0xFF00FF, 0xFFFF00, 0xFFFFFF};

TGIFPaletteEntries Cube() {
  TGIFPaletteEntries p;
  for (int r = 0; r < 6; ++r)
    for (int g = 0; g < 6; ++g)
      for (int b = 0; b < 6; ++b) p.push_back(platform::RGB(r * 51, g * 51, b * 51));
  return p;
}

class TColorLookup {
 public:
  virtual ~TColorLookup() = default;
  virtual int32_t Lookup(int32_t Red, int32_t Green, int32_t Blue, int32_t& OR, int32_t& OG, int32_t& OB) = 0;
};

// Nearest palette entry by the sum of channel differences, cached per 15-bit colour.
class TFastColorLookup : public TColorLookup {
 public:
  explicit TFastColorLookup(const TGIFPaletteEntries& P) : FPal(P) {
    FCache.fill(0xFFFF);
    FExact.fill(-1);
    for (size_t i = 0; i < FPal.size(); ++i) {
      uint16_t& c = FCache[Key(R(FPal[i]), G(FPal[i]), B(FPal[i]))];
      if (c == 0xFFFF) c = static_cast<uint16_t>(i);
      const uint32_t rgb = FPal[i] & 0xFFFFFF;
      for (uint32_t h = Hash(rgb);; h = (h + 1) & 1023)
        if (FExact[h] < 0) {
          FExact[h] = static_cast<int64_t>(rgb) << 8 | static_cast<int64_t>(i);
          break;
        } else if ((FExact[h] >> 8) == rgb) {
          break;  // the first of equal entries
        }
    }
  }
  int32_t Lookup(int32_t r, int32_t g, int32_t b, int32_t& OR, int32_t& OG, int32_t& OB) override {
    // A colour of the palette is always its own entry, even when its 15-bit cell was first
    // answered for a neighbour.
    const uint32_t rgb = platform::RGB(static_cast<uint8_t>(r), static_cast<uint8_t>(g), static_cast<uint8_t>(b));
    for (uint32_t h = Hash(rgb); FExact[h] >= 0; h = (h + 1) & 1023)
      if ((FExact[h] >> 8) == rgb) {
        OR = r;
        OG = g;
        OB = b;
        return static_cast<int32_t>(FExact[h] & 0xFF);
      }
    uint16_t& c = FCache[Key(r, g, b)];
    if (c == 0xFFFF) {
      int32_t best = 0x30000, bi = 0;
      for (size_t i = 0; i < FPal.size(); ++i) {
        const int32_t d = std::abs(r - R(FPal[i])) + std::abs(g - G(FPal[i])) + std::abs(b - B(FPal[i]));
        if (d < best) {
          best = d;
          bi = static_cast<int32_t>(i);
        }
      }
      c = static_cast<uint16_t>(bi);
    }
    const TColor p = FPal.empty() ? 0 : FPal[c];
    OR = R(p);
    OG = G(p);
    OB = B(p);
    return c;
  }

 private:
  static int32_t Key(int32_t r, int32_t g, int32_t b) { return (r >> 3) | (g >> 3) << 5 | (b >> 3) << 10; }
  static uint32_t Hash(uint32_t rgb) { return (rgb * 2654435761u) >> 22; }
  TGIFPaletteEntries FPal;
  std::array<uint16_t, 32768> FCache;
  std::array<int64_t, 1024> FExact;  // colour << 8 | index, -1 empty
};

class TNetscapeColorLookup : public TColorLookup {
 public:
  int32_t Lookup(int32_t r, int32_t g, int32_t b, int32_t& OR, int32_t& OG, int32_t& OB) override {
    const int32_t lr = (r + 3) / 51, lg = (g + 3) / 51, lb = (b + 3) / 51;
    OR = lr * 51;
    OG = lg * 51;
    OB = lb * 51;
    return 36 * lr + 6 * lg + lb;
  }
};

class TGrayScaleLookup : public TColorLookup {
 public:
  int32_t Lookup(int32_t r, int32_t g, int32_t b, int32_t& OR, int32_t& OG, int32_t& OB) override {
    const int32_t y = (77 * r + 150 * g + 29 * b) >> 8;
    OR = OG = OB = y;
    return y;
  }
};

class TMonochromeLookup : public TColorLookup {
 public:
  int32_t Lookup(int32_t r, int32_t g, int32_t b, int32_t& OR, int32_t& OG, int32_t& OB) override {
    const bool white = 77 * r + 150 * g + 29 * b >= 32513;
    OR = OG = OB = white ? 255 : 0;
    return white ? 1 : 0;
  }
};

// Error diffusion: Weights[row][offset + 3] for rows 0 (ahead only) to 3; serpentine scan.
struct TKernel {
  int32_t Weights[4][7];
  int32_t Divisor;
};

const TKernel Kernels[7] = {
    {{{0}}, 1},
    {{{0, 0, 0, 0, 7, 0, 0}, {0, 0, 3, 5, 1, 0, 0}}, 16},
    {{{0, 0, 0, 0, 8, 4, 0}, {0, 2, 4, 8, 4, 2, 0}, {0, 1, 2, 4, 2, 1, 0}}, 42},
    {{{0, 0, 0, 0, 5, 3, 0}, {0, 2, 4, 5, 4, 2, 0}, {0, 0, 2, 3, 2, 0, 0}}, 32},
    {{{0, 0, 0, 0, 7, 5, 0}, {0, 3, 5, 7, 5, 3, 0}, {0, 1, 3, 5, 3, 1, 0}}, 48},
    {{{0, 0, 0, 0, 0, 32, 0}, {12, 0, 26, 0, 30, 0, 16}, {0, 12, 0, 26, 0, 12, 0}, {5, 0, 12, 0, 12, 0, 5}}, 200},
    {{{0, 0, 0, 0, 8, 4, 0}, {0, 2, 4, 8, 4, 2, 0}}, 32},
};

class TDitherEngine {
 public:
  TDitherEngine(TColorLookup* L, int32_t AWidth, TDitherMode Mode) : Lookup(L), Width(AWidth), FK(Kernels[Mode]) {
    FNone = Mode == dmNearest;
    for (auto& row : FErr) row.assign(static_cast<size_t>(Width + 6) * 3, 0);
  }
  int32_t Dither(int32_t r, int32_t g, int32_t b) {
    int32_t v[3] = {r, g, b};
    int32_t* e0 = &FErr[0][static_cast<size_t>(Column + 3) * 3];
    if (!FNone)
      for (int c = 0; c < 3; ++c) {
        // The division truncates toward zero, also for negative errors.
        v[c] = std::clamp(v[c] + (e0[c] + FK.Divisor / 2) / FK.Divisor, 0, 255);
      }
    int32_t o[3];
    const int32_t index = Lookup->Lookup(v[0], v[1], v[2], o[0], o[1], o[2]);
    if (!FNone)
      for (int c = 0; c < 3; ++c) {
        const int32_t err = v[c] - o[c];
        if (err == 0) continue;
        for (int row = 0; row < 4; ++row)
          for (int k = 0; k < 7; ++k) {
            const int32_t w = FK.Weights[row][k];
            if (!w) continue;
            const int32_t col = Column + (k - 3) * Direction;
            if (col < -3 || col >= Width + 3) continue;
            FErr[row][static_cast<size_t>(col + 3) * 3 + c] += err * w;
          }
      }
    Column += Direction;
    return index;
  }
  void NextLine() {
    std::rotate(FErr.begin(), FErr.begin() + 1, FErr.end());
    std::fill(FErr[3].begin(), FErr[3].end(), 0);
    if (!FNone) Direction = -Direction;
    Column = Direction > 0 ? 0 : Width - 1;
  }
  int32_t Direction = 1, Column = 0;
  TColorLookup* Lookup;
  int32_t Width;

 private:
  TKernel FK;
  bool FNone;
  std::array<std::vector<int32_t>, 4> FErr;
};

struct TOctreeNode {
  bool IsLeaf = false;
  int64_t PixelCount = 0, RedSum = 0, GreenSum = 0, BlueSum = 0;
  std::unique_ptr<TOctreeNode> Children[8];
  TOctreeNode* Next = nullptr;
};

class TColorQuantizer {
 public:
  explicit TColorQuantizer(int32_t AMaxColors) : MaxColors(std::max(AMaxColors, 1)) {
    Tree = std::make_unique<TOctreeNode>();
  }
  void Add(int32_t r, int32_t g, int32_t b) {
    TOctreeNode* n = Tree.get();
    for (int32_t level = 0; !n->IsLeaf; ++level) {
      const int32_t shift = 7 - level;
      const int32_t i = ((r >> shift) & 1) << 2 | ((g >> shift) & 1) << 1 | ((b >> shift) & 1);
      if (!n->Children[i]) {
        n->Children[i] = std::make_unique<TOctreeNode>();
        TOctreeNode* c = n->Children[i].get();
        if (level + 1 == ColorBits) {
          c->IsLeaf = true;
          ++LeafCount;
        } else {
          c->Next = Reducible[level + 1];
          Reducible[level + 1] = c;
        }
      }
      n = n->Children[i].get();
    }
    ++n->PixelCount;
    n->RedSum += r;
    n->GreenSum += g;
    n->BlueSum += b;
    while (LeafCount > MaxColors) Reduce();
  }
  TGIFPaletteEntries Palette() const {
    TGIFPaletteEntries p;
    Walk(Tree.get(), p);
    return p;
  }

 private:
  void Reduce() {
    int32_t level = ColorBits - 1;
    while (level > 0 && !Reducible[level]) --level;
    TOctreeNode* n = level > 0 ? Reducible[level] : Tree.get();
    if (level > 0) Reducible[level] = n->Next;
    int32_t children = 0;
    for (auto& c : n->Children)
      if (c) {
        n->RedSum += c->RedSum;
        n->GreenSum += c->GreenSum;
        n->BlueSum += c->BlueSum;
        n->PixelCount += c->PixelCount;
        c.reset();
        ++children;
      }
    n->IsLeaf = true;
    LeafCount -= children - 1;
  }
  static void Walk(const TOctreeNode* n, TGIFPaletteEntries& p) {
    if (n->IsLeaf) {
      const int64_t k = n->PixelCount;
      p.push_back(k ? platform::RGB(static_cast<uint8_t>(n->RedSum / k), static_cast<uint8_t>(n->GreenSum / k),
                                    static_cast<uint8_t>(n->BlueSum / k))
                    : 0);
      return;
    }
    for (const auto& c : n->Children)
      if (c) Walk(c.get(), p);
  }
  static constexpr int32_t ColorBits = 8;
  std::unique_ptr<TOctreeNode> Tree;
  int32_t LeafCount = 0, MaxColors;
  TOctreeNode* Reducible[8] = {};
};

}  // namespace

TGIFPaletteEntries OctreeQuantize(const uint32_t* Pixels, int64_t Count, int32_t MaxColors) {
  TColorQuantizer q(MaxColors);
  for (int64_t i = 0; i < Count; ++i) q.Add((Pixels[i] >> 16) & 0xFF, (Pixels[i] >> 8) & 0xFF, Pixels[i] & 0xFF);
  return q.Palette();
}

TGIFReduced ReduceColors(const uint32_t* Pixels, int32_t Width, int32_t Height, TColorReduction Reduction,
                         TDitherMode Dither, int32_t ReductionBits, const TGIFPaletteEntries& Palette,
                         const TGIFRowProgress& OnRows) {
  TGIFReduced out;
  const int64_t n = int64_t(std::max(Width, 0)) * std::max(Height, 0);
  std::unique_ptr<TColorLookup> lookup;
  switch (Reduction) {
    case rmWindows20:
      out.Palette.assign(Windows20, Windows20 + 20);
      break;
    case rmWindowsHalftone:  // the platform has no halftone palette: its nearest kin is the cube
    case rmCube216:
      out.Palette = Cube();
      lookup = std::make_unique<TNetscapeColorLookup>();
      break;
    case rmGrayScale4:
      out.Palette = {platform::RGB(0, 0, 0), platform::RGB(128, 128, 128), platform::RGB(192, 192, 192),
                     platform::RGB(255, 255, 255)};
      break;
    case rmMonochrome:
      out.Palette = {platform::RGB(0, 0, 0), platform::RGB(255, 255, 255)};
      lookup = std::make_unique<TMonochromeLookup>();
      break;
    case rmGrayScale:
      for (int i = 0; i < 256; ++i) out.Palette.push_back(platform::RGB(i, i, i));
      lookup = std::make_unique<TGrayScaleLookup>();
      break;
    case rmQuantize:
      out.Palette = OctreeQuantize(Pixels, n, 1 << std::clamp(ReductionBits, 1, 8));
      break;
    case rmQuantizeSystem: {
      const TGIFPaletteEntries q = OctreeQuantize(Pixels, n, 236);
      out.Palette.assign(Windows20, Windows20 + 10);
      out.Palette.insert(out.Palette.end(), q.begin(), q.end());
      out.Palette.resize(246, 0);
      out.Palette.insert(out.Palette.end(), Windows20 + 10, Windows20 + 20);
      break;
    }
    case rmPalette:
      out.Palette.assign(Palette.begin(), Palette.begin() + std::min<size_t>(Palette.size(), 256));
      break;
    default:
      return out;
  }
  if (Dither > dmBurkes || out.Palette.empty()) return out;
  if (Reduction == rmWindowsHalftone) lookup.reset();
  if (!lookup) lookup = std::make_unique<TFastColorLookup>(out.Palette);
  out.Indices.resize(static_cast<size_t>(n));
  TDitherEngine d(lookup.get(), Width, Dither);
  for (int32_t y = 0; y < Height; ++y) {
    const uint32_t* row = Pixels + static_cast<size_t>(y) * Width;
    uint8_t* o = out.Indices.data() + static_cast<size_t>(y) * Width;
    while (d.Column >= 0 && d.Column < Width) {
      const int32_t x = d.Column;
      o[x] = static_cast<uint8_t>(d.Dither((row[x] >> 16) & 0xFF, (row[x] >> 8) & 0xFF, row[x] & 0xFF));
    }
    d.NextLine();
    if (OnRows && ((y + 1) % 32 == 0 || y + 1 == Height))
      OnRows(static_cast<int32_t>(int64_t(y + 1) * 100 / Height));
  }
  return out;
}

void DitherToCube(std::vector<uint32_t>& Pixels, int32_t Width, int32_t Height) {
  if (Width <= 0 || Height <= 0 || Pixels.size() < size_t(Width) * Height) return;
  TNetscapeColorLookup cube;
  TDitherEngine d(&cube, Width, dmFloydSteinberg);
  for (int32_t y = 0; y < Height; ++y) {
    uint32_t* row = Pixels.data() + static_cast<size_t>(y) * Width;
    while (d.Column >= 0 && d.Column < Width) {
      const int32_t x = d.Column;
      if ((row[x] >> 24) == 0) {
        d.Column += d.Direction;
        continue;
      }
      const int32_t i = d.Dither((row[x] >> 16) & 0xFF, (row[x] >> 8) & 0xFF, row[x] & 0xFF);
      const uint32_t r = static_cast<uint32_t>(i / 36) * 51, g = static_cast<uint32_t>(i / 6 % 6) * 51,
                     b = static_cast<uint32_t>(i % 6) * 51;
      row[x] = 0xFF000000u | r << 16 | g << 8 | b;
    }
    d.NextLine();
  }
}

void GIFFrameFromPixels(TGIFSubImage* Frame, const uint32_t* Pixels, int32_t Width, int32_t Height) {
  TGifGraphic* img = Frame->Image();
  const TColorReduction cr = img ? img->ColorReduction : rmCube216;
  const TDitherMode dm = img ? img->DitherMode : dmNearest;
  const int32_t bits = img ? img->ReductionBits : 8;
  if (!ImageSizeAllowed(Width, Height)) throw GIFException(ImageTooLargeText(Width, Height));
  if (Width > 0xFFFF || Height > 0xFFFF) throw GIFException(sScreenSizeExceeded);
  Frame->Clear();
  if (img) img->Progress(Frame, 0, 0, "Converting...");
  // A frame holds at most 256 colours, so "no reduction" still quantises.
  TGIFRowProgress rows;
  if (img) rows = [&](int32_t Percent) { img->Progress(Frame, 1, Percent, "Converting..."); };
  TGIFReduced r = ReduceColors(Pixels, Width, Height, cr == rmNone ? rmQuantize : cr, dm, bits,
                               cr == rmPalette && img ? img->GetPalette() : TGIFPaletteEntries{}, rows);
  Frame->SetBounds(0, 0, Width, Height);
  Frame->ColorMap.ImportPalette(r.Palette);
  if (!r.Indices.empty()) Frame->Data = std::move(r.Indices);
  Frame->Changed();
  if (img) img->Progress(Frame, 2, 100, "Converting...");
}

// ---------------------------------------------------------------------------------------------
// Row access

namespace {

void CheckDIBFormat(platform::TPixelFormat PixelFormat) {
  if (PixelFormat != platform::pf8bit && PixelFormat != platform::pf24bit)
    throw GIFException("Unsupported PixelFormat");
}

void PutLE(std::vector<uint8_t>& B, size_t At, uint32_t V, int32_t N) {
  for (int32_t i = 0; i < N; ++i) B[At + i] = static_cast<uint8_t>(V >> (8 * i));
}

}  // namespace

TDIBReader::TDIBReader(platform::TBitmap* ABitmap, platform::TPixelFormat APixelFormat) : FBitmap(ABitmap) {
  CheckDIBFormat(APixelFormat);
  FBitmap->SetPixelFormat(APixelFormat);
}

const uint8_t* TDIBReader::ScanLine(int32_t Row) {
  if (FBitmap->Empty()) throw GIFException("Image has no DIB");
  return static_cast<const uint8_t*>(FBitmap->ScanLine(Row));
}

TDIBWriter::TDIBWriter(platform::TBitmap* ABitmap, platform::TPixelFormat APixelFormat, int32_t AWidth,
                       int32_t AHeight, const TGIFPaletteEntries& Palette)
    : FBitmap(ABitmap), FHeight(AHeight) {
  CheckDIBFormat(APixelFormat);
  if (AWidth <= 0 || AHeight <= 0) throw GIFException("Invalid image dimensions");
  if (!ImageSizeAllowed(AWidth, AHeight)) throw platform::EOutOfMemory("Failed to allocate memory for GIF DIB");
  const bool eight = APixelFormat == platform::pf8bit;
  FRowBytes = ((AWidth * (eight ? 8 : 24) + 31) / 32) * 4;
  FOffset = 14 + 40 + (eight ? 256 * 4 : 0);
  const size_t size = static_cast<size_t>(FOffset) + static_cast<size_t>(FRowBytes) * AHeight;
  FFile.assign(size, 0);
  FFile[0] = 'B';
  FFile[1] = 'M';
  PutLE(FFile, 2, static_cast<uint32_t>(size), 4);
  PutLE(FFile, 10, static_cast<uint32_t>(FOffset), 4);
  PutLE(FFile, 14, 40, 4);
  PutLE(FFile, 18, static_cast<uint32_t>(AWidth), 4);
  PutLE(FFile, 22, static_cast<uint32_t>(AHeight), 4);  // positive: bottom-up
  PutLE(FFile, 26, 1, 2);
  PutLE(FFile, 28, eight ? 8 : 24, 2);
  PutLE(FFile, 34, static_cast<uint32_t>(static_cast<size_t>(FRowBytes) * AHeight), 4);
  if (eight) {
    PutLE(FFile, 46, 256, 4);
    for (size_t i = 0; i < std::min<size_t>(Palette.size(), 256); ++i) {
      uint8_t* q = &FFile[54 + i * 4];
      q[0] = static_cast<uint8_t>((Palette[i] >> 16) & 0xFF);
      q[1] = static_cast<uint8_t>((Palette[i] >> 8) & 0xFF);
      q[2] = static_cast<uint8_t>(Palette[i] & 0xFF);
    }
  }
}

uint8_t* TDIBWriter::ScanLine(int32_t Row) {
  if (FFile.empty()) throw GIFException("Image has no DIB");
  if (Row < 0 || Row >= FHeight) throw GIFException("Scan line index out of range");
  return FFile.data() + FOffset + static_cast<size_t>(FHeight - 1 - Row) * FRowBytes;
}

void TDIBWriter::Finish() {
  if (FFile.empty()) return;
  platform::TMemoryStream s;
  s.WriteBuffer(FFile.data(), static_cast<int32_t>(FFile.size()));
  s.SetPosition(0);
  std::vector<uint8_t>().swap(FFile);
  FBitmap->LoadFromStream(&s);
}

std::unique_ptr<platform::TBitmap> ReduceColors(const platform::TBitmap& Bitmap, TColorReduction Reduction,
                                                TDitherMode Dither, int32_t ReductionBits,
                                                const TGIFPaletteEntries& Palette, const TGIFRowProgress& OnRows) {
  auto result = std::make_unique<platform::TBitmap>();
  if (Reduction == rmNone) {
    result->Assign(&Bitmap);
    result->SetPixelFormat(platform::pf24bit);
    return result;
  }
  const int32_t w = Bitmap.Width(), h = Bitmap.Height();
  if (Reduction > rmPalette || Dither > dmBurkes || w <= 0 || h <= 0) return result;
  if (!ImageSizeAllowed(w, h)) throw GIFException(ImageTooLargeText(w, h));
  platform::TBitmap source;
  source.Assign(&Bitmap);
  TDIBReader reader(&source, platform::pf24bit);
  std::vector<uint32_t> px(static_cast<size_t>(w) * h);
  for (int32_t y = 0; y < h; ++y) {
    const uint8_t* s = reader.ScanLine(y);
    uint32_t* d = px.data() + static_cast<size_t>(y) * w;
    for (int32_t x = 0; x < w; ++x) d[x] = uint32_t(s[x * 3 + 2]) << 16 | uint32_t(s[x * 3 + 1]) << 8 | s[x * 3];
  }
  const TGIFReduced r = ReduceColors(px.data(), w, h, Reduction, Dither, ReductionBits, Palette, OnRows);
  if (r.Indices.empty()) return result;
  std::vector<uint32_t>().swap(px);
  TDIBWriter writer(result.get(), platform::pf8bit, w, h, r.Palette);
  for (int32_t y = 0; y < h; ++y)
    std::memcpy(writer.ScanLine(y), r.Indices.data() + static_cast<size_t>(y) * w, static_cast<size_t>(w));
  writer.Finish();
  return result;
}

// ---------------------------------------------------------------------------------------------
// Frames from pictures

namespace {

// The 24-bit or 32-bit pixels of a class-library bitmap as $00RRGGBB.
std::vector<uint32_t> BitmapPixels(platform::TBitmap& Bmp) {
  const int32_t w = Bmp.Width(), h = Bmp.Height();
  std::vector<uint32_t> px(static_cast<size_t>(w) * h);
  const bool three = Bmp.PixelFormat() == platform::pf24bit;
  for (int32_t y = 0; y < h; ++y) {
    const uint8_t* s = static_cast<const uint8_t*>(Bmp.ScanLine(y));
    for (int32_t x = 0; x < w; ++x) {
      const uint8_t* p = s + x * (three ? 3 : 4);
      px[static_cast<size_t>(y) * w + x] = uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
    }
  }
  return px;
}

// A 1-, 4- or 8-bit bitmap becomes a frame with its own colour table and indices, unreduced.
void FrameFromPaletteBitmap(TGIFSubImage* Frame, platform::TBitmap& Bmp) {
  const int32_t w = Bmp.Width(), h = Bmp.Height();
  if (!ImageSizeAllowed(w, h)) throw GIFException(ImageTooLargeText(w, h));
  if (w > 0xFFFF || h > 0xFFFF) throw GIFException(sScreenSizeExceeded);
  TGifGraphic* img = Frame->Image();
  Frame->Clear();
  if (img) img->Progress(Frame, 0, 0, "Converting...");
  Frame->SetBounds(0, 0, w, h);
  const int32_t bits = Bmp.BitsPerPixel();
  const int32_t mask = (1 << bits) - 1;
  int32_t highest = -1;
  for (int32_t y = 0; y < h; ++y) {
    const uint8_t* row = static_cast<const uint8_t*>(Bmp.ScanLine(y));
    uint8_t* d = Frame->Data.data() + static_cast<size_t>(y) * w;
    for (int32_t x = 0; x < w; ++x) {
      const int32_t bit = x * bits;
      const uint8_t v = static_cast<uint8_t>((row[bit >> 3] >> (8 - bits - (bit & 7))) & mask);
      d[x] = v;
      highest = std::max<int32_t>(highest, v);
    }
    if (img && (y + 1) % 32 == 0) img->Progress(Frame, 1, (y + 1) * 100 / h, "Converting...");
  }
  // Indices beyond the bitmap's table show black there; the frame's table covers them likewise.
  Frame->ColorMap.ImportDIBColors(Bmp);
  while (Frame->ColorMap.Count() <= std::max(highest, 0)) Frame->ColorMap.Add(0);
  Frame->Changed();
  if (img) img->Progress(Frame, 2, 100, "Converting...");
}

}  // namespace

void TGIFSubImage::Assign(const platform::TPersistent* Source) {
  if (Source == this) return;
  if (auto* f = dynamic_cast<const TGIFSubImage*>(Source)) {
    Clear();
    std::memcpy(Descriptor, f->Descriptor, 10);
    Data = f->Data;
    ColorMap.Assign(&f->ColorMap);
    for (const auto& e : f->FExtensions) AddExtension(e->Clone(this));
    Changed();
    return;
  }
  if (auto* b = dynamic_cast<const TBitmap32*>(Source)) {
    std::vector<uint32_t> px(static_cast<size_t>(b->Width()) * b->Height());
    if (!px.empty()) std::memcpy(px.data(), b->Bits(), px.size() * 4);
    GIFFrameFromPixels(this, px.data(), b->Width(), b->Height());
    return;
  }
  if (auto* pic = dynamic_cast<const platform::TPicture*>(Source)) {
    if (pic->Graphic()) Assign(pic->Graphic());
    else Clear();
    return;
  }
  if (auto* g = dynamic_cast<const platform::TGraphic*>(Source)) {
    platform::TBitmap bmp;
    if (auto* src = dynamic_cast<const platform::TBitmap*>(g)) {
      bmp.Assign(src);
    } else {
      bmp.SetPixelFormat(platform::pf24bit);
      bmp.SetSize(g->Width(), g->Height());
      bmp.Canvas()->StretchDraw(platform::Rect(0, 0, g->Width(), g->Height()), const_cast<platform::TGraphic*>(g));
    }
    const platform::TPixelFormat pf = bmp.PixelFormat();
    if (pf == platform::pf1bit || pf == platform::pf4bit || pf == platform::pf8bit) {
      FrameFromPaletteBitmap(this, bmp);
      return;
    }
    if (bmp.PixelFormat() != platform::pf24bit) bmp.SetPixelFormat(platform::pf32bit);
    std::vector<uint32_t> px = BitmapPixels(bmp);
    GIFFrameFromPixels(this, px.data(), bmp.Width(), bmp.Height());
    return;
  }
  TGIFItem::Assign(Source);
}

void TGIFSubImage::AssignTo(platform::TPersistent* Dest) const {
  if (auto* b = dynamic_cast<platform::TBitmap*>(Dest)) {
    auto* self = const_cast<TGIFSubImage*>(this);
    if (!FImage || !FImage->CubePaletteInUse()) {
      // The frame's own indices under its active table.
      b->SetPixelFormat(platform::pf8bit);
      b->SetPalette(ActiveColorMap().ExportPalette());
      b->SetSize(Width(), Height());
      if (Empty()) return;
      if (FImage) FImage->Progress(self, 0, 0, "Rendering...");
      for (int32_t y = 0; y < Height(); ++y) {
        std::memcpy(b->ScanLine(y), Data.data() + static_cast<size_t>(y) * Width(), static_cast<size_t>(Width()));
        if (FImage && (y + 1) % 32 == 0) FImage->Progress(self, 1, (y + 1) * 100 / Height(), "Rendering...");
      }
      if (FImage) FImage->Progress(self, 2, 100, "Rendering...");
      return;
    }
    b->SetPixelFormat(platform::pf24bit);
    b->SetSize(Width(), Height());
    if (Empty()) return;
    const std::vector<uint32_t>& px = self->Pixels32();
    for (int32_t y = 0; y < Height(); ++y) {
      uint8_t* d = static_cast<uint8_t*>(b->ScanLine(y));
      for (int32_t x = 0; x < Width(); ++x) {
        const uint32_t c = px[static_cast<size_t>(y) * Width() + x];
        d[x * 3] = c & 0xFF;
        d[x * 3 + 1] = (c >> 8) & 0xFF;
        d[x * 3 + 2] = (c >> 16) & 0xFF;
      }
    }
    return;
  }
  TGIFItem::AssignTo(Dest);
}

void TGifGraphic::AssignTo(platform::TPersistent* Dest) const {
  if (auto* b = dynamic_cast<platform::TBitmap*>(Dest)) {
    auto* self = const_cast<TGifGraphic*>(this);
    b->SetPixelFormat(platform::pf24bit);
    b->SetSize(Width(), Height());
    if (FBitmap) {
      b->Canvas()->StretchDraw(platform::Rect(0, 0, Width(), Height()), FBitmap.get());
    } else if (!FImages.empty()) {
      FImages[0]->Draw(b->Canvas(), platform::Rect(0, 0, Width(), Height()), true, false);
    }
    (void)self;
    return;
  }
  platform::TGraphic::AssignTo(Dest);
}

// ---------------------------------------------------------------------------------------------
// Clean-up pass

void TGifGraphic::Optimize(uint8_t Options, TColorReduction AColorReduction, TDitherMode, int32_t) {
  if (Empty()) return;
  StopDraw();
  Progress(this, 0, 0, "Optimizing...");
  if (Options & 8) {
    if (GlobalColorMap().Count() > 0) Header.ColorMap.Optimize();
    for (auto& f : FImages)
      if (f->ColorMap.Count() > 0) f->ColorMap.Optimize();
  }
  if (Options & 4) {
    for (auto& f : FImages)
      if (f->Transparent()) {
        const int32_t ti = f->TransparentIndex();
        if (std::find(f->Data.begin(), f->Data.end(), static_cast<uint8_t>(ti)) == f->Data.end())
          f->GraphicControlExtension()->SetTransparent(false);
      }
    for (int32_t i = 0; i + 1 < Count(); ++i) {
      TGIFGraphicControlExtension* g = FImages[i]->GraphicControlExtension();
      TGIFSubImage* next = FImages[i + 1].get();
      if (!g || g->Disposal() < 2 || g->Disposal() > 3 || next->Transparent()) continue;
      // The stricter test: the current frame lies inside the next, which covers it. A next frame
      // that goes back to the picture before it would bring the undisposed frame back.
      if (next->GraphicControlExtension() && next->GraphicControlExtension()->Disposal() == 3) continue;
      const platform::TRect a = FImages[i]->BoundsRect(), b = next->BoundsRect();
      if (a.Left >= b.Left && a.Top >= b.Top && a.Right <= b.Right && a.Bottom <= b.Bottom) g->SetDisposal(0);
    }
  }
  if (Options & 2) {
    for (int32_t i = Count() - 1; i >= 1; --i) {
      int32_t j = i - 1;
      while (j > 0 && FImages[j]->GraphicControlExtension() && FImages[j]->GraphicControlExtension()->Disposal() == 3) --j;
      TGIFSubImage* fi = FImages[i].get();
      TGIFSubImage* fj = FImages[j].get();
      if (fi->Empty() || fj->Empty()) continue;
      if (auto* gj = fj->GraphicControlExtension(); gj && (gj->Disposal() == 2 || gj->Disposal() == 3)) continue;
      int32_t ti = fi->TransparentIndex();
      const bool wasTransparent = ti >= 0;
      const platform::TRect a = fi->BoundsRect(), b = fj->BoundsRect();
      const int32_t x0 = std::max(a.Left, b.Left), x1 = std::min(a.Right, b.Right);
      const int32_t y0 = std::max(a.Top, b.Top), y1 = std::min(a.Bottom, b.Bottom);
      const TGIFColorMap& mi = fi->ActiveColorMap();
      const TGIFColorMap& mj = fj->ActiveColorMap();
      const int32_t tj = fj->TransparentIndex();
      bool taken = false;
      for (int32_t y = y0; y < y1; ++y)
        for (int32_t x = x0; x < x1; ++x) {
          uint8_t& pi = fi->Data[static_cast<size_t>(y - a.Top) * fi->Width() + (x - a.Left)];
          const uint8_t pj = fj->Data[static_cast<size_t>(y - b.Top) * fj->Width() + (x - b.Left)];
          if (pi == ti || pj == tj) continue;
          const bool same = (&mi == &mj) ? pi == pj
                                         : (pi < mi.Count() && pj < mj.Count() && mi.Colors(pi) == mj.Colors(pj));
          if (!same) continue;
          if (ti < 0) {
            if (fi->ActiveColorMap().Count() >= 256) goto nextFrame;
            ti = fi->ActiveColorMap().Add(0);
          }
          pi = static_cast<uint8_t>(ti);
          taken = true;
        }
      if (!wasTransparent && taken) {
        TGIFGraphicControlExtension* g = fi->GraphicControlExtension();
        if (!g) g = static_cast<TGIFGraphicControlExtension*>(
                fi->AddExtension(std::make_unique<TGIFGraphicControlExtension>(fi)));
        g->SetTransparentColorIndex(ti);
        g->SetTransparent(true);
      }
      fi->Changed();
    nextFrame:;
    }
  }
  if (Options & 1) {
    for (int32_t i = Count() - 1; i >= 0; --i) {
      TGIFSubImage* f = FImages[i].get();
      if (f->Empty() || !f->Transparent()) continue;
      // Restoring to the background clears the frame's whole rectangle when it goes: neither
      // its size nor its being there may change.
      const uint8_t disposal = f->GraphicControlExtension()->Disposal();
      if (disposal == 2) continue;
      const uint8_t ti = static_cast<uint8_t>(f->TransparentIndex());
      const int32_t w = f->Width(), h = f->Height();
      int32_t l = w, r = -1, t = h, btm = -1;
      for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
          if (f->Data[static_cast<size_t>(y) * w + x] != ti) {
            l = std::min(l, x);
            r = std::max(r, x);
            t = std::min(t, y);
            btm = std::max(btm, y);
          }
      if (r < 0) {
        // Going back to the picture before it, the frame still holds that picture for its
        // delay; and after a frame that clears or restores its area, an empty frame is the one
        // time that cleared or restored picture is seen.
        const TGIFGraphicControlExtension* before = i > 0 ? FImages[i - 1]->GraphicControlExtension() : nullptr;
        if (disposal == 3 || (before && (before->Disposal() == 2 || before->Disposal() == 3))) continue;
        // Its time goes to the frame before it, which stays on screen that much longer. The
        // first frame has none to give it to, and a picture needs one frame at least. A frame
        // that carries the looping extension stays, or the picture would stop looping.
        const int32_t delay = f->GraphicControlExtension()->Delay();
        TGIFSubImage* prev = i > 0 ? FImages[i - 1].get() : nullptr;
        bool loops = false;
        for (int32_t k = 0; k < f->ExtensionCount(); ++k)
          loops = loops || dynamic_cast<TGIFAppExtNSLoop*>(f->Extensions(k)) != nullptr;
        if (loops || (!prev && (delay > 0 || Count() == 1))) continue;
        TGIFGraphicControlExtension* pg = prev ? prev->GraphicControlExtension() : nullptr;
        if (pg && pg->Delay() + delay > 0xFFFF) continue;
        if (prev && delay > 0) {
          if (!pg)
            pg = static_cast<TGIFGraphicControlExtension*>(
                prev->AddExtension(std::make_unique<TGIFGraphicControlExtension>(prev)));
          pg->SetDelay(static_cast<uint16_t>(pg->Delay() + delay));
        }
        FImages.erase(FImages.begin() + i);
        continue;
      }
      if (l == 0 && t == 0 && r == w - 1 && btm == h - 1) continue;
      std::vector<uint8_t> d;
      d.reserve(static_cast<size_t>(r - l + 1) * (btm - t + 1));
      for (int32_t y = t; y <= btm; ++y)
        d.insert(d.end(), f->Data.begin() + static_cast<ptrdiff_t>(y) * w + l, f->Data.begin() + static_cast<ptrdiff_t>(y) * w + r + 1);
      const int32_t nl = f->Left() + l, nt = f->Top() + t;
      f->SetBounds(nl, nt, r - l + 1, btm - t + 1);
      f->Data = std::move(d);
      f->Changed();
    }
  }
  if (Options & 4) {
    for (int32_t i = Count() - 1; i >= 0; --i) {
      TGIFSubImage* f = FImages[i].get();
      for (int32_t k = f->ExtensionCount() - 1; k >= 0; --k) {
        TGIFExtension* e = f->Extensions(k);
        const bool loop = dynamic_cast<TGIFAppExtNSLoop*>(e) != nullptr;
        if (dynamic_cast<TGIFCommentExtension*>(e) || dynamic_cast<TGIFTextExtension*>(e) ||
            dynamic_cast<TGIFUnknownAppExtension*>(e) || (loop && !(i == 0 && Count() > 1)))
          f->DeleteExtension(e);
      }
      if (auto* g = f->GraphicControlExtension())
        if ((g->Delay() == 0 || Count() == 1) && !g->Transparent() && !g->UserInput() &&
            (g->Disposal() < 2 || Count() == 1))
          f->DeleteExtension(g);
      // A picture needs one frame at least to be written.
      if (f->Empty() && f->ExtensionCount() == 0 && Count() > 1) FImages.erase(FImages.begin() + i);
    }
  } else if ((Options & 16) && AColorReduction == rmPalette) {
    Progress(this, 2, 0, "Optimizing...");
    throw GIFException(sInvalidReduction);
  }
  DropBitmap();
  Progress(this, 2, 100, "Optimizing...");
}

}  // namespace raster

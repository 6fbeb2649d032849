// GIF images and palette bitmaps: a 1-, 4- or 8-bit bitmap becomes a frame with its own indices
// and colour table (kept through saving and reloading), the palette through the graphic base
// class, and the GIF clipboard format (the file itself beside a bitmap, pasted back as a GIF).
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "platform/Clipboard.h"
#include "platform/Classes.h"
#include "platform/Graphics.h"
#include "raster/GifGraphic.h"
#include "raster/PngGraphic.h"

using namespace raster;
using Bytes = std::vector<uint8_t>;

namespace {

struct Units {
  Units() { InitializeGifGraphic(); }
};
const Units units;

Bytes SaveBytes(platform::TGraphic& g) {
  platform::TMemoryStream s;
  g.SaveToStream(&s);
  const auto* p = static_cast<const uint8_t*>(s.Memory());
  return Bytes(p, p + s.GetSize());
}

Bytes SaveBytesOf(platform::TMemoryStream& s) {
  const auto* p = static_cast<const uint8_t*>(s.Memory());
  return Bytes(p, p + s.GetSize());
}

void LoadBytes(platform::TGraphic& g, const Bytes& b) {
  platform::TMemoryStream s;
  if (!b.empty()) s.WriteBuffer(b.data(), static_cast<int32_t>(b.size()));
  s.SetPosition(0);
  g.LoadFromStream(&s);
}

std::string MessageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const platform::Exception& e) {
    return e.Message;
  }
  return "";
}

// A palette bitmap of W x H with random indices below Used and a palette of PalSize random colours.
void MakePaletteBitmap(platform::TBitmap& b, platform::TPixelFormat pf, int32_t W, int32_t H, int32_t PalSize,
                       int32_t Used, uint32_t Seed) {
  std::mt19937 rng(Seed);
  b.SetPixelFormat(pf);
  b.SetSize(W, H);
  platform::TPaletteEntries pal;
  for (int32_t i = 0; i < PalSize; ++i) pal.push_back(rng() & 0xFFFFFF);
  b.SetPalette(pal);
  const int32_t bits = b.BitsPerPixel();
  for (int32_t y = 0; y < H; ++y) {
    auto* row = static_cast<uint8_t*>(b.ScanLine(y));
    for (int32_t x = 0; x < W; ++x) {
      const uint32_t v = rng() % static_cast<uint32_t>(Used);
      const int32_t bit = x * bits;
      const int32_t shift = 8 - bits - (bit & 7);
      row[bit >> 3] = static_cast<uint8_t>((row[bit >> 3] & ~(((1 << bits) - 1) << shift)) | (v << shift));
    }
  }
}

void ExpectFrameIs(TGIFSubImage* f, platform::TBitmap& b, const platform::TPaletteEntries& Table) {
  ASSERT_EQ(f->Width(), b.Width());
  ASSERT_EQ(f->Height(), b.Height());
  for (int32_t y = 0; y < b.Height(); ++y)
    for (int32_t x = 0; x < b.Width(); ++x)
      ASSERT_EQ(f->Data[static_cast<size_t>(y) * b.Width() + x], b.PixelIndex(x, y)) << x << "," << y;
  ASSERT_GE(f->ColorMap.Count(), static_cast<int32_t>(Table.size()));
  for (size_t i = 0; i < Table.size(); ++i) EXPECT_EQ(f->ColorMap.Colors(static_cast<int32_t>(i)), Table[i]) << i;
}

}  // namespace

TEST(GifPalette, PaletteBitmapKeepsIndicesAndTableThroughSaving) {
  struct Case {
    platform::TPixelFormat Format;
    int32_t W, H, PalSize, Used;
  };
  // Full tables, short ones (the frame's table covers the indices used), a table with one
  // colour twice (indices must not collapse), odd widths for the packed formats.
  const Case cases[] = {{platform::pf8bit, 37, 23, 256, 256}, {platform::pf8bit, 5, 4, 20, 20},
                        {platform::pf4bit, 33, 9, 16, 16},   {platform::pf4bit, 7, 3, 5, 5},
                        {platform::pf1bit, 29, 11, 2, 2},    {platform::pf8bit, 64, 40, 3, 3}};
  uint32_t seed = 1;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.Format) + " " + std::to_string(c.W) + "x" + std::to_string(c.H));
    platform::TBitmap b;
    MakePaletteBitmap(b, c.Format, c.W, c.H, c.PalSize, c.Used, seed++);
    platform::TPaletteEntries table = b.Palette();
    if (c.PalSize == 3) {
      table[2] = table[0];
      b.SetPalette(table);
    }
    TGifGraphic gif;
    gif.Assign(&b);
    ASSERT_EQ(gif.Count(), 1);
    ExpectFrameIs(gif.Images(0), b, table);
    TGifGraphic back;
    LoadBytes(back, SaveBytes(gif));
    ASSERT_EQ(back.Count(), 1);
    ExpectFrameIs(back.Images(0), b, table);
    EXPECT_EQ(SaveBytes(back), SaveBytes(gif));
  }
}

TEST(GifPalette, IndicesBeyondTheBitmapTableShowBlack) {
  platform::TBitmap b;
  MakePaletteBitmap(b, platform::pf8bit, 6, 5, 2, 2, 7);
  auto* row = static_cast<uint8_t*>(b.ScanLine(2));
  row[3] = 9;  // no entry 9 in a table of 2
  const platform::TPaletteEntries table = b.Palette();
  TGifGraphic gif;
  gif.Assign(&b);
  TGifGraphic back;
  LoadBytes(back, SaveBytes(gif));
  TGIFSubImage* f = back.Images(0);
  EXPECT_EQ(f->Data[2 * 6 + 3], 9);
  ASSERT_GE(f->ColorMap.Count(), 10);
  EXPECT_EQ(f->ColorMap.Colors(9), 0u);
  EXPECT_EQ(f->ColorMap.Colors(1), table[1]);
}

TEST(GifPalette, PaletteThroughTheGraphicBaseClass) {
  TGifGraphic gif;
  gif.GlobalColorMap().ImportPalette({platform::RGB(1, 2, 3), platform::RGB(200, 100, 0)});
  platform::TGraphic* g = &gif;
  EXPECT_EQ(g->GetPalette(), (platform::TPaletteEntries{platform::RGB(1, 2, 3), platform::RGB(200, 100, 0)}));
  g->SetPalette({platform::RGB(9, 9, 9)});
  EXPECT_EQ(gif.GetPalette(), (platform::TPaletteEntries{platform::RGB(9, 9, 9)}));

  platform::TBitmap bmp;
  MakePaletteBitmap(bmp, platform::pf4bit, 4, 4, 16, 16, 3);
  g = &bmp;
  const platform::TPaletteEntries pal(16, platform::RGB(10, 20, 30));
  g->SetPalette(pal);
  EXPECT_EQ(g->GetPalette(), pal);
  EXPECT_EQ(bmp.Canvas()->Pixel(1, 1), platform::RGB(10, 20, 30));

  TPngGraphic png;
  png.Assign(&bmp);
  g = &png;
  const platform::TPaletteEntries p = g->GetPalette();
  ASSERT_GE(p.size(), 1u);
  EXPECT_EQ(p[0], platform::RGB(10, 20, 30));
}

TEST(GifPalette, ClipboardCarriesTheGifAndABitmap) {
  TGifGraphic gif;
  for (uint32_t i = 0; i < 3; ++i) {
    platform::TBitmap b;
    MakePaletteBitmap(b, platform::pf8bit, 12, 9, 40, 40, 100 + i);
    gif.Add(&b);
  }
  ASSERT_EQ(gif.Count(), 3);
  const Bytes file = SaveBytes(gif);
  platform::Clipboard()->Assign(&gif);

  // The GIF comes first, so a pasted picture is the GIF itself.
  const std::vector<uint16_t> formats = platform::Clipboard()->Formats();
  ASSERT_EQ(formats.size(), 2u);
  EXPECT_EQ(formats[0], CF_GIF);
  EXPECT_EQ(formats[1], platform::CF_BITMAP);
  platform::TPicture pic;
  pic.Assign(platform::Clipboard());
  auto* pasted = dynamic_cast<TGifGraphic*>(pic.Graphic());
  ASSERT_NE(pasted, nullptr);
  EXPECT_EQ(pasted->Count(), 3);
  EXPECT_EQ(SaveBytes(*pasted), file);

  // The bitmap beside it is the still picture: frame 0 at the image's size.
  platform::TBitmap still;
  still.Assign(platform::Clipboard());
  ASSERT_EQ(still.Width(), 12);
  ASSERT_EQ(still.Height(), 9);
  platform::TBitmap frame0;
  gif.Images(0)->AssignTo(&frame0);
  for (int32_t y = 0; y < 9; ++y)
    for (int32_t x = 0; x < 12; ++x) ASSERT_EQ(still.Canvas()->Pixel(x, y), frame0.Canvas()->Pixel(x, y));

  // Loading CF_GIF straight from the clipboard (no data given), and from given bytes.
  TGifGraphic fromClip;
  fromClip.LoadFromClipboardFormat(CF_GIF, {}, {});
  EXPECT_EQ(SaveBytes(fromClip), file);
  TGifGraphic fromData;
  fromData.LoadFromClipboardFormat(CF_GIF, file, {});
  EXPECT_EQ(SaveBytes(fromData), file);
}

TEST(GifPalette, BitmapOnTheClipboardLoadsAsAFrame) {
  platform::TBitmap b;
  MakePaletteBitmap(b, platform::pf8bit, 10, 7, 256, 256, 55);
  const platform::TPaletteEntries table = b.Palette();
  platform::Clipboard()->Assign(&b);
  TGifGraphic gif;
  gif.LoadFromClipboardFormat(platform::CF_BITMAP, {}, {});
  ASSERT_EQ(gif.Count(), 1);
  TGifGraphic back;
  LoadBytes(back, SaveBytes(gif));
  ExpectFrameIs(back.Images(0), b, table);
}

TEST(GifPalette, ClipboardErrorsAndEmptyImages) {
  TGifGraphic empty;
  uint16_t format = 0;
  Bytes data;
  platform::TPaletteEntries pal;
  empty.SaveToClipboardFormat(format, data, pal);
  EXPECT_EQ(format, 0);
  EXPECT_TRUE(data.empty());

  platform::Clipboard()->SetAsText("no picture");
  const struct {
    uint16_t Format;
    Bytes Data;
    std::string Message;
  } cases[] = {
      {platform::CF_TEXT, {'a'}, "Unsupported clipboard format"},
      {platform::CF_BITMAP, {}, "Unsupported clipboard format"},  // no bitmap on the clipboard
      {CF_GIF, {}, "Premature end of data"},                      // nor a GIF
      {CF_GIF, {'G', 'I', 'F', '8', '9', 'a'}, "Premature end of data"},
  };
  for (const auto& c : cases) {
    TGifGraphic gif;
    EXPECT_EQ(MessageOf([&] { gif.LoadFromClipboardFormat(c.Format, c.Data, {}); }), c.Message) << c.Format;
  }
}

TEST(GifPalette, FrameToBitmapAndBackKeepsIndices) {
  platform::TBitmap src;
  MakePaletteBitmap(src, platform::pf8bit, 9, 70, 64, 64, 77);
  TGifGraphic gif;
  gif.Assign(&src);
  std::vector<std::string> progress;
  gif.OnProgress = [&](platform::TObject*, int32_t Stage, int32_t Percent, bool, const platform::TRect&,
                       const std::string& Msg) {
    progress.push_back(Msg + std::to_string(Stage) + ":" + std::to_string(Percent));
  };
  platform::TBitmap bmp;
  gif.Images(0)->AssignTo(&bmp);
  EXPECT_EQ(progress, (std::vector<std::string>{"Rendering...0:0", "Rendering...1:45", "Rendering...1:91",
                                                "Rendering...2:100"}));
  ASSERT_EQ(bmp.PixelFormat(), platform::pf8bit);
  TGifGraphic again;
  again.Assign(&bmp);
  TGifGraphic back;
  LoadBytes(back, SaveBytes(again));
  ExpectFrameIs(back.Images(0), src, src.Palette());
  EXPECT_EQ(SaveBytes(back), SaveBytes(gif));
}

TEST(GifPalette, ImportDIBColorsTakesTheBitmapTable) {
  const struct {
    platform::TPixelFormat Format;
    int32_t PalSize;
    int32_t Expected;
  } cases[] = {{platform::pf8bit, 256, 256}, {platform::pf8bit, 7, 7}, {platform::pf4bit, 16, 16},
               {platform::pf1bit, 2, 2}, {platform::pf24bit, 0, 0}};
  for (const auto& c : cases) {
    platform::TBitmap b;
    if (c.Format == platform::pf24bit) {
      b.SetPixelFormat(platform::pf24bit);
      b.SetSize(2, 2);
    } else {
      MakePaletteBitmap(b, c.Format, 3, 3, c.PalSize, c.PalSize, 5);
    }
    TGIFColorMap map(nullptr);
    map.Add(platform::RGB(1, 1, 1));  // replaced, not kept
    map.ImportDIBColors(b);
    ASSERT_EQ(map.Count(), c.Expected) << c.Format;
    for (int32_t i = 0; i < c.Expected; ++i) EXPECT_EQ(map.Colors(i), b.Palette()[static_cast<size_t>(i)]);
  }
}

TEST(GifPalette, WriterPacksSubBlocksAndRefusesOtherStreamOperations) {
  platform::TMemoryStream out;
  {
    TGIFWriter w(&out);
    std::vector<uint8_t> bytes(300);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
    EXPECT_EQ(w.Write(bytes.data(), 300), 300);
    char c = 0;
    EXPECT_EQ(MessageOf([&] { w.Read(&c, 1); }), "Invalid stream operation");
    EXPECT_EQ(MessageOf([&] { w.Seek(0, platform::soFromBeginning); }), "Invalid stream operation");
    w.Finish();
  }
  const Bytes b = SaveBytesOf(out);
  ASSERT_EQ(b.size(), 302u);
  EXPECT_EQ(b[0], 255);
  EXPECT_EQ(b[256], 45);
  for (size_t i = 0; i < 300; ++i) ASSERT_EQ(b[i < 255 ? i + 1 : i + 2], static_cast<uint8_t>(i * 7)) << i;
  TGIFStream plain;
  EXPECT_EQ(MessageOf([&] { plain.Write("x", 1); }), "Invalid stream operation");
}

TEST(GifPalette, DIBWriterAndReaderRoundTrip) {
  for (const platform::TPixelFormat pf : {platform::pf8bit, platform::pf24bit}) {
    const int32_t w = 7, h = 5, bpp = pf == platform::pf8bit ? 1 : 3;
    platform::TPaletteEntries pal;
    for (int i = 0; i < 10; ++i) pal.push_back(platform::RGB(i * 20, 255 - i, i * 3));
    platform::TBitmap b;
    {
      TDIBWriter wr(&b, pf, w, h, pal);
      for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w * bpp; ++x) wr.ScanLine(y)[x] = static_cast<uint8_t>((x * 3 + y * 5) % 10);
      wr.Finish();
      EXPECT_EQ(MessageOf([&] { wr.ScanLine(0); }), "Image has no DIB");
    }
    ASSERT_EQ(b.PixelFormat(), pf);
    if (pf == platform::pf8bit) {
      ASSERT_EQ(b.Palette().size(), 256u);
      for (size_t i = 0; i < pal.size(); ++i) EXPECT_EQ(b.Palette()[i], pal[i]);
      EXPECT_EQ(b.Palette()[200], 0u);
    }
    // Saved, reloaded and read back through the reader.
    platform::TBitmap back;
    LoadBytes(back, SaveBytes(b));
    TDIBReader rd(&back, pf);
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w * bpp; ++x)
        ASSERT_EQ(rd.ScanLine(y)[x], static_cast<uint8_t>((x * 3 + y * 5) % 10)) << x << "," << y;
  }
  platform::TBitmap b;
  EXPECT_EQ(MessageOf([&] { TDIBWriter(&b, platform::pf32bit, 2, 2); }), "Unsupported PixelFormat");
  EXPECT_EQ(MessageOf([&] { TDIBWriter(&b, platform::pf8bit, 0, 2); }), "Invalid image dimensions");
  EXPECT_EQ(MessageOf([&] { TDIBWriter(&b, platform::pf8bit, 200000, 200000); }), "Failed to allocate memory for GIF DIB");
  EXPECT_EQ(MessageOf([&] { TDIBReader(&b, platform::pf4bit); }), "Unsupported PixelFormat");
  EXPECT_EQ(MessageOf([&] { TDIBReader(&b, platform::pf8bit).ScanLine(0); }), "Image has no DIB");
  TDIBWriter wr(&b, platform::pf8bit, 2, 2);
  EXPECT_EQ(MessageOf([&] { wr.ScanLine(2); }), "Scan line index out of range");
}

TEST(GifPalette, ReduceColorsOfABitmap) {
  // A 24-bit source of 40 x 70: reds and greens on a ramp.
  const int32_t w = 40, h = 70;
  platform::TBitmap src;
  src.SetPixelFormat(platform::pf24bit);
  src.SetSize(w, h);
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* d = static_cast<uint8_t*>(src.ScanLine(y));
    for (int32_t x = 0; x < w; ++x) {
      d[x * 3] = static_cast<uint8_t>(x * 6);
      d[x * 3 + 1] = static_cast<uint8_t>(y * 3);
      d[x * 3 + 2] = static_cast<uint8_t>(200 - x);
    }
  }
  auto pixel = [](platform::TBitmap& b, int32_t x, int32_t y) {
    const uint8_t* s = static_cast<const uint8_t*>(b.ScanLine(y)) + x * 3;
    return platform::RGB(s[2], s[1], s[0]);
  };
  // No reduction: a 24-bit copy with every pixel as it was; the source stays untouched.
  std::unique_ptr<platform::TBitmap> copy = ReduceColors(src, rmNone, dmNearest, 8);
  ASSERT_NE(copy, nullptr);
  ASSERT_EQ(copy->PixelFormat(), platform::pf24bit);
  ASSERT_EQ(copy->Width(), w);
  ASSERT_EQ(copy->Height(), h);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) ASSERT_EQ(pixel(*copy, x, y), pixel(src, x, y)) << x << "," << y;
  EXPECT_EQ(src.PixelFormat(), platform::pf24bit);
  // The cube: 8 bits per pixel, the 216 colours, each index the nearest level per channel.
  std::vector<int32_t> percents;
  std::unique_ptr<platform::TBitmap> cube =
      ReduceColors(src, rmCube216, dmNearest, 8, {}, [&](int32_t p) { percents.push_back(p); });
  ASSERT_EQ(cube->PixelFormat(), platform::pf8bit);
  ASSERT_EQ(cube->Palette().size(), 256u);
  EXPECT_EQ(cube->Palette()[86], platform::RGB(102, 102, 102));
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const int r = (200 - x + 3) / 51, g = (y * 3 + 3) / 51, b = (x * 6 + 3) / 51;
      ASSERT_EQ(static_cast<const uint8_t*>(cube->ScanLine(y))[x], 36 * r + 6 * g + b) << x << "," << y;
    }
  // Progress every 32 rows and at the end.
  EXPECT_EQ(percents, (std::vector<int32_t>{32 * 100 / 70, 64 * 100 / 70, 100}));
  // Unknown methods and ditherers give an empty bitmap.
  EXPECT_TRUE(ReduceColors(src, static_cast<TColorReduction>(10), dmNearest, 8)->Empty());
  EXPECT_TRUE(ReduceColors(src, rmCube216, static_cast<TDitherMode>(7), 8)->Empty());
}

TEST(GifPalette, ConvertingReportsProgressEvery32Rows) {
  TGifGraphic gif;
  std::vector<std::string> seen;
  gif.OnProgress = [&](platform::TObject*, int32_t stage, int32_t percent, bool, const platform::TRect&,
                       const std::string& msg) { seen.push_back(std::to_string(stage) + ":" + std::to_string(percent) + msg); };
  platform::TBitmap src;
  src.SetPixelFormat(platform::pf24bit);
  src.SetSize(3, 100);
  gif.Assign(&src);
  EXPECT_EQ(seen, (std::vector<std::string>{"0:0Converting...", "1:32Converting...", "1:64Converting...",
                                            "1:96Converting...", "1:100Converting...", "2:100Converting..."}));
  ASSERT_EQ(gif.Count(), 1);
  EXPECT_EQ(gif.Images(0)->Height(), 100);
}

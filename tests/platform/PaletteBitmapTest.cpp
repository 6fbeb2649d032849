// Palette bitmaps (1, 4 and 8 bits a pixel): indices through ScanLine, colours through the
// canvas, conversions between depths, drawing mapped back to the palette, and BMP files that
// keep depth, colour table and indices (checked against Qt's own BMP reader as well).
#include <gtest/gtest.h>

#include <QImage>

#include "platform/BmpCodec.h"
#include "platform/Graphics.h"

using namespace platform;

namespace {

TPaletteEntries Ramp(int n) {
  TPaletteEntries p;
  for (int i = 0; i < n; ++i) p.push_back(static_cast<TColor>(RGB(i * 13 % 256, 255 - i * 7 % 256, i * 29 % 256)));
  return p;
}

int Depth(TPixelFormat pf) { return pf == pf1bit ? 1 : pf == pf4bit ? 4 : 8; }

// Writes index (x * 3 + y * 5) mod 2^depth into every pixel through ScanLine, packed as a DIB.
void FillIndices(TBitmap& b) {
  int d = Depth(b.PixelFormat());
  for (int y = 0; y < b.Height(); ++y) {
    auto* row = static_cast<uint8_t*>(b.ScanLine(y));
    for (int x = 0; x < b.Width(); ++x) {
      int v = (x * 3 + y * 5) % (1 << d);
      int bit = x * d;
      int shift = 8 - d - bit % 8;
      row[bit / 8] = static_cast<uint8_t>((row[bit / 8] & ~(((1 << d) - 1) << shift)) | (v << shift));
    }
  }
}

uint8_t Expected(const TBitmap& b, int x, int y) { return static_cast<uint8_t>((x * 3 + y * 5) % (1 << Depth(b.PixelFormat()))); }

}  // namespace

TEST(PaletteBitmap, IndicesColoursAndBmpRoundTripPerDepth) {
  for (TPixelFormat pf : {pf1bit, pf4bit, pf8bit}) {
    SCOPED_TRACE(static_cast<int>(pf));
    TBitmap b;
    b.SetPixelFormat(pf);
    b.SetSize(13, 5);  // 13 pixels: rows end inside a byte at every depth
    b.SetPalette(Ramp(1 << Depth(pf)));
    EXPECT_EQ(b.BitsPerPixel(), Depth(pf));
    EXPECT_EQ(b.RowBytes(), (13 * Depth(pf) + 31) / 32 * 4);
    FillIndices(b);
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 13; ++x) {
        ASSERT_EQ(b.PixelIndex(x, y), Expected(b, x, y));
        ASSERT_EQ(b.Canvas()->Pixel(x, y), b.Palette()[Expected(b, x, y)]);
      }
    TMemoryStream s;
    b.SaveToStream(&s);
    // Qt's reader sees the same depth, table and colours.
    QImage q = QImage::fromData(static_cast<const uchar*>(s.Memory()), static_cast<int>(s.Size()), "BMP");
    ASSERT_FALSE(q.isNull());
    EXPECT_EQ(q.depth(), Depth(pf) == 4 ? 8 : Depth(pf));  // Qt widens 4 bits to 8
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 13; ++x) {
        QRgb c = q.pixel(x, y);
        TColor want = b.Palette()[Expected(b, x, y)];
        ASSERT_EQ(static_cast<TColor>(RGB(qRed(c), qGreen(c), qBlue(c))), want) << x << "," << y;
      }
    s.SetPosition(0);
    TBitmap c;
    c.LoadFromStream(&s);
    EXPECT_EQ(c.PixelFormat(), pf);
    EXPECT_EQ(c.Palette(), b.Palette());
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 13; ++x) ASSERT_EQ(c.PixelIndex(x, y), Expected(b, x, y));
  }
}

TEST(PaletteBitmap, ConversionsMapToNearestEntryAndExpandBack) {
  TBitmap b;
  b.SetPixelFormat(pf24bit);
  b.SetSize(3, 1);
  b.Canvas()->SetPixel(0, 0, static_cast<TColor>(RGB(250, 5, 5)));
  b.Canvas()->SetPixel(1, 0, static_cast<TColor>(RGB(10, 10, 240)));
  b.Canvas()->SetPixel(2, 0, static_cast<TColor>(RGB(128, 128, 128)));
  b.SetPalette({clBlack, clRed, clBlue, clWhite});
  b.SetPixelFormat(pf4bit);
  EXPECT_EQ(b.PixelIndex(0, 0), 1);
  EXPECT_EQ(b.PixelIndex(1, 0), 2);
  EXPECT_EQ(b.PixelIndex(2, 0), 3);  // 128 grey: 127 from white, 128 from black
  b.SetPixelFormat(pf24bit);
  auto* row = static_cast<uint8_t*>(b.ScanLine(0));
  EXPECT_EQ(row[2], 255);  // red, as blue green red bytes
  EXPECT_EQ(row[3], 255);  // blue
  // Without a palette a depth gets its default table.
  TBitmap m;
  m.SetSize(2, 1);
  m.Canvas()->SetPixel(0, 0, static_cast<TColor>(RGB(30, 30, 30)));
  m.SetPixelFormat(pf1bit);
  EXPECT_EQ(m.Palette(), (TPaletteEntries{clBlack, clWhite}));
  EXPECT_EQ(m.PixelIndex(0, 0), 0);
  EXPECT_EQ(m.PixelIndex(1, 0), 1);
  TBitmap e;
  e.SetPixelFormat(pf8bit);
  EXPECT_EQ(e.Palette().size(), 256u);
}

TEST(PaletteBitmap, FewerBitsRemapIndicesTheyCannotHold) {
  TBitmap b;
  b.SetPixelFormat(pf8bit);
  b.SetSize(2, 1);
  TPaletteEntries p(32, clBlack);
  p[3] = clRed;
  p[20] = static_cast<TColor>(RGB(250, 0, 0));
  b.SetPalette(p);
  static_cast<uint8_t*>(b.ScanLine(0))[0] = 20;
  static_cast<uint8_t*>(b.ScanLine(0))[1] = 3;
  b.SetPixelFormat(pf4bit);
  EXPECT_EQ(b.Palette().size(), 16u);
  EXPECT_EQ(b.PixelIndex(0, 0), 3);  // the nearest of the 16 entries left
  EXPECT_EQ(b.PixelIndex(1, 0), 3);
}

TEST(PaletteBitmap, CanvasDrawingMapsBackAndKeepsUntouchedIndices) {
  TBitmap b;
  b.SetPixelFormat(pf8bit);
  b.SetSize(4, 1);
  b.SetPalette({clWhite, clBlack, clBlack, clRed});  // black twice
  auto* row = static_cast<uint8_t*>(b.ScanLine(0));
  row[0] = 2;
  row[1] = 1;
  row[2] = 0;
  row[3] = 0;
  b.Canvas()->SetPixel(2, 0, static_cast<TColor>(RGB(200, 30, 30)));
  EXPECT_EQ(b.PixelIndex(0, 0), 2);  // untouched: the second black stays
  EXPECT_EQ(b.PixelIndex(1, 0), 1);
  EXPECT_EQ(b.PixelIndex(2, 0), 3);  // drawn: the nearest entry
  EXPECT_EQ(b.PixelIndex(3, 0), 0);
  EXPECT_EQ(b.Canvas()->Pixel(2, 0), clRed);  // and it now shows that entry
  // A palette change keeps the indices.
  b.SetPalette({clWhite, clBlack, clBlue, clRed});
  EXPECT_EQ(b.Canvas()->Pixel(0, 0), clBlue);
  // Growing keeps pixels and whitens new ones; copies keep everything.
  b.SetSize(5, 2);
  EXPECT_EQ(b.PixelIndex(0, 0), 2);
  EXPECT_EQ(b.PixelIndex(4, 1), 0);
  TBitmap c;
  c.Assign(&b);
  EXPECT_EQ(c.PixelFormat(), pf8bit);
  EXPECT_EQ(c.Palette(), b.Palette());
  EXPECT_EQ(c.PixelIndex(2, 0), 3);
  // Drawing a palette bitmap onto another draws its colours.
  TBitmap d;
  d.SetPixelFormat(pf24bit);
  d.SetSize(5, 2);
  d.Canvas()->Draw(0, 0, &b);
  EXPECT_EQ(d.Canvas()->Pixel(0, 0), clBlue);
  EXPECT_EQ(d.Canvas()->Pixel(3, 0), clWhite);
}

TEST(PaletteBitmap, GetNearestPaletteIndexRules) {
  const TPaletteEntries p{clBlack, clRed, clRed, clWhite};
  EXPECT_EQ(GetNearestPaletteIndex(p, static_cast<TColor>(RGB(200, 0, 0))), 1);  // first of equals
  EXPECT_EQ(GetNearestPaletteIndex(p, static_cast<TColor>(RGB(100, 100, 100))), 0);
  EXPECT_EQ(GetNearestPaletteIndex({}, clRed), -1);
}

TEST(PaletteBitmap, RleFilesKeepTheirIndices) {
  // 4 x 2 RLE8: row 0 (bottom) "2 x idx 5, 2 x idx 1", row 1 absolute run 0 1 2 3.
  std::vector<uint8_t> f = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  std::vector<uint8_t> ih(40, 0);
  ih[0] = 40;
  ih[4] = 4;
  ih[8] = 2;
  ih[12] = 1;
  ih[14] = 8;
  ih[16] = 1;  // BI_RLE8
  ih[32] = 6;  // six colours
  f.insert(f.end(), ih.begin(), ih.end());
  for (int i = 0; i < 6; ++i) f.insert(f.end(), {uint8_t(i * 40), uint8_t(i), uint8_t(255 - i), 0});
  uint32_t off = static_cast<uint32_t>(f.size());
  f[10] = off & 0xFF;
  f.insert(f.end(), {2, 5, 2, 1, 0, 0, 0, 4, 0, 1, 2, 3, 0, 1});
  TMemoryStream s;
  s.WriteBuffer(f.data(), static_cast<int32_t>(f.size()));
  s.SetPosition(0);
  TBitmap b;
  b.LoadFromStream(&s);
  ASSERT_EQ(b.PixelFormat(), pf8bit);
  EXPECT_EQ(b.Palette().size(), 6u);
  const int want[2][4] = {{0, 1, 2, 3}, {5, 5, 1, 1}};
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(b.PixelIndex(x, y), want[y][x]);
}

// The metafile player with pictures built record by record (the records the EMF library cannot
// write, and exact pixel rules): arcs, chords, pies and the arc direction, rounded rectangles,
// paths, clipping, saved states, mapping modes, brushes, bitmaps with raster operations and
// the alpha blend, text, and damaged records.
#include <QImage>
#include <QPixmap>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/Graphics.h"
#include "platform/Metafile.h"
#include "tests/common/TestSupport.h"

using namespace platform;

namespace {

// Writes records after a header with the given bounds (inclusive) and, when asked, a reference
// device; Finish patches the size and count.
class TEmf {
 public:
  explicit TEmf(int32_t W = 100, int32_t H = 100, uint32_t Handles = 8, bool Device = false) {
    Rec(EMR_HEADER, {0, 0, uint32_t(W - 1), uint32_t(H - 1), 0, 0, uint32_t(W * 25), uint32_t(H * 25), 0x464D4520,
                     0x10000, 0, 0, Handles, 0, 0, 0, Device ? 400u : 0u, Device ? 400u : 0u, Device ? 100u : 0u,
                     Device ? 100u : 0u});
  }
  TEmf& Rec(uint32_t Type, const std::vector<uint32_t>& Words) {
    Put(Type);
    Put(uint32_t(8 + 4 * Words.size()));
    for (uint32_t w : Words) Put(w);
    ++Count;
    return *this;
  }
  TEmf& Raw(uint32_t Type, const std::vector<uint8_t>& Body) {
    Put(Type);
    Put(uint32_t(8 + Body.size()));
    Bytes.insert(Bytes.end(), Body.begin(), Body.end());
    ++Count;
    return *this;
  }
  TEmf& Brush(uint32_t I, uint32_t Color, uint32_t Style = 0, uint32_t Hatch = 0) {
    return Rec(EMR_CREATEBRUSHINDIRECT, {I, Style, Color, Hatch}).Select(I);
  }
  TEmf& Pen(uint32_t I, uint32_t Width, uint32_t Color, uint32_t Style = 0) {
    return Rec(EMR_CREATEPEN, {I, Style, Width, 0, Color}).Select(I);
  }
  TEmf& Select(uint32_t I) { return Rec(EMR_SELECTOBJECT, {I}); }
  TEmf& NullPen() { return Select(0x80000008); }
  TEmf& Box(uint32_t Type, int32_t L, int32_t T, int32_t R, int32_t B) {
    return Rec(Type, {uint32_t(L), uint32_t(T), uint32_t(R), uint32_t(B)});
  }
  TEmf& Arc(uint32_t Type, int32_t L, int32_t T, int32_t R, int32_t B, int32_t X1, int32_t Y1, int32_t X2, int32_t Y2) {
    return Rec(Type, {uint32_t(L), uint32_t(T), uint32_t(R), uint32_t(B), uint32_t(X1), uint32_t(Y1), uint32_t(X2),
                      uint32_t(Y2)});
  }
  TEmf& Poly(uint32_t Type, const std::vector<std::pair<int32_t, int32_t>>& P) {
    std::vector<uint32_t> w = {0, 0, 0, 0, uint32_t(P.size())};
    for (auto [x, y] : P) {
      w.push_back(uint32_t(x));
      w.push_back(uint32_t(y));
    }
    return Rec(Type, w);
  }
  std::vector<uint8_t> Finish() {
    Rec(EMR_EOF, {0, 16, 20});
    std::vector<uint8_t> out = Bytes;
    const uint32_t size = uint32_t(out.size());
    std::memcpy(out.data() + 48, &size, 4);
    std::memcpy(out.data() + 52, &Count, 4);
    return out;
  }
  void Put(uint32_t V) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(&V);
    Bytes.insert(Bytes.end(), p, p + 4);
  }
  std::vector<uint8_t> Bytes;
  uint32_t Count = 0;
};

uint32_t F(float V) {
  uint32_t u;
  std::memcpy(&u, &V, 4);
  return u;
}

// Plays a picture onto a white bitmap of W x H, 32 bits a pixel unless asked (the target
// rectangle the whole bitmap).
struct TPlay {
  TBitmap Bitmap;
  TPlay(const std::vector<uint8_t>& Data, int W = 100, int H = 100, TPixelFormat Format = pf32bit) {
    Bitmap.SetPixelFormat(Format);
    Bitmap.SetSize(W, H);
    Bitmap.Canvas()->Brush()->SetColor(clWhite);
    Bitmap.Canvas()->FillRect(TRect{0, 0, W, H});
    TMetafile m;
    m.LoadFromBytes(Data.data(), Data.size());
    PlayEnhMetaFile(Bitmap.Canvas(), m, TRect{0, 0, W, H});
  }
  // 0x00BBGGRR.
  TColor At(int X, int Y) { return Bitmap.Canvas()->Pixel(X, Y) & 0xFFFFFF; }
  void Save(const std::string& Name) {
    Bitmap.Image().save(QString::fromStdString(kdtest::OutputDir() + "/emf-" + Name + ".png"));
  }
};

constexpr TColor cWhite = 0xFFFFFF, cRed = 0x0000FF, cBlue = 0xFF0000, cGreen = 0x00FF00, cBlack = 0;

std::string Error(const std::vector<uint8_t>& Data) {
  try {
    TPlay p(Data, 32, 32);
  } catch (const EMetafileError& e) {
    return e.Message;
  }
  return "";
}

}  // namespace

TEST(Metafile, FrameOfAReferenceDeviceLandsOnTheTarget) {
  // 4 pixels a millimetre; the frame (0..2500 hundredths = 25 mm) is 100 device pixels.
  TEmf e(100, 100, 4, true);
  e.NullPen().Brush(1, cRed).Box(EMR_RECTANGLE, 50, 50, 100, 100);
  TMetafile m;
  const auto d = e.Finish();
  m.LoadFromBytes(d.data(), d.size());
  EXPECT_EQ(m.Width(), 100);
  EXPECT_EQ(m.Header().DeviceCx, 400);
  TPlay p(d, 200, 200);
  EXPECT_EQ(p.At(99, 99), cWhite);
  EXPECT_EQ(p.At(100, 100), cRed);
  EXPECT_EQ(p.At(199, 199), cRed);
}

TEST(Metafile, ArcsChordsPiesAndTheArcDirection) {
  // Pie from 3 o'clock to 12 o'clock: the upper right quarter counter-clockwise, the other three
  // quarters clockwise.
  for (int clockwise = 0; clockwise < 2; ++clockwise) {
    TEmf e;
    if (clockwise) e.Rec(EMR_SETARCDIRECTION, {2});
    e.NullPen().Brush(1, cRed).Arc(EMR_PIE, 0, 0, 100, 100, 100, 50, 50, 0);
    TPlay p(e.Finish());
    EXPECT_EQ(p.At(70, 30), clockwise ? cWhite : cRed);
    EXPECT_EQ(p.At(30, 30), clockwise ? cRed : cWhite);
    EXPECT_EQ(p.At(30, 70), clockwise ? cRed : cWhite);
    EXPECT_EQ(p.At(70, 70), clockwise ? cRed : cWhite);
  }
  // A chord closes with a straight line: the upper half.
  TEmf c;
  c.NullPen().Brush(1, cBlue).Arc(EMR_CHORD, 0, 0, 100, 100, 100, 50, 0, 50);
  TPlay pc(c.Finish());
  EXPECT_EQ(pc.At(50, 10), cBlue);
  EXPECT_EQ(pc.At(50, 60), cWhite);
  // An arc is a line only; ArcTo also draws from the current position and moves it to the end.
  TEmf a;
  a.Pen(1, 1, cBlack).Arc(EMR_ARC, 0, 0, 100, 100, 100, 50, 0, 50);
  a.Rec(EMR_MOVETOEX, {10, 90}).Arc(EMR_ARCTO, 0, 0, 100, 100, 0, 50, 100, 50).Rec(EMR_LINETO, {90, 90});
  TPlay pa(a.Finish());
  pa.Save("arcs");
  EXPECT_EQ(pa.At(50, 0), cBlack);   // top of the upper arc
  EXPECT_EQ(pa.At(50, 50), cWhite);  // never filled
  // The bottom of the lower arc (from 9 to 3 o'clock counter-clockwise), inside the box.
  EXPECT_TRUE(pa.At(50, 97) == cBlack || pa.At(50, 98) == cBlack || pa.At(50, 99) == cBlack);
  EXPECT_EQ(pa.At(5, 70), cBlack);   // the line from (10, 90) to the arc's start at (0, 50)
  EXPECT_EQ(pa.At(95, 70), cBlack);  // from the arc's end (100, 50) on to (90, 90)
}

TEST(Metafile, RoundedRectanglesAndThePixelRules) {
  TEmf e;
  e.Pen(1, 1, cBlack).Brush(2, cRed).Rec(EMR_ROUNDRECT, {10, 10, 90, 90, 40, 40});
  e.Box(EMR_RECTANGLE, 95, 95, 100, 100);
  TPlay p(e.Finish());
  EXPECT_EQ(p.At(11, 11), cWhite);  // cut corner
  EXPECT_EQ(p.At(50, 50), cRed);
  EXPECT_EQ(p.At(50, 10), cBlack);  // top edge
  EXPECT_EQ(p.At(50, 89), cBlack);  // the outline runs on the last pixels inside the box
  EXPECT_EQ(p.At(50, 90), cWhite);
  EXPECT_EQ(p.At(95, 95), cBlack);
  EXPECT_EQ(p.At(99, 99), cBlack);
  EXPECT_EQ(p.At(97, 97), cRed);
}

TEST(Metafile, PolyPolygonFillModes) {
  const std::vector<uint32_t> rings = {0, 0, 0, 0, 2, 8, 4, 4, 0, 0, 40, 0, 40, 40, 0, 40, 10, 10, 30, 10, 30, 30, 10, 30};
  for (uint32_t mode : {1u, 2u}) {
    TEmf e;
    e.NullPen().Brush(1, cBlue).Rec(EMR_SETPOLYFILLMODE, {mode}).Rec(EMR_POLYPOLYGON, rings);
    TPlay p(e.Finish());
    EXPECT_EQ(p.At(5, 5), cBlue);
    EXPECT_EQ(p.At(20, 20), mode == 1 ? cWhite : cBlue);
  }
}

TEST(Metafile, PathsFillStrokeFlattenWidenAndAbort) {
  // Figures of a path under the alternate rule: a ring.
  TEmf e;
  e.NullPen().Brush(1, cGreen).Rec(EMR_BEGINPATH, {});
  e.Box(EMR_RECTANGLE, 0, 0, 60, 60).Box(EMR_ELLIPSE, 10, 10, 50, 50).Rec(EMR_ENDPATH, {});
  e.Rec(EMR_FLATTENPATH, {}).Rec(EMR_FILLPATH, {0, 0, 0, 0});
  // An aborted path draws nothing; a widened one strokes its outline as a fill.
  e.Rec(EMR_BEGINPATH, {}).Box(EMR_RECTANGLE, 0, 70, 30, 100).Rec(EMR_ABORTPATH, {}).Rec(EMR_FILLPATH, {0, 0, 0, 0});
  e.Rec(EMR_CREATEPEN, {2, 0, 6, 0, 0}).Select(2).Brush(3, cRed);
  e.Rec(EMR_BEGINPATH, {}).Rec(EMR_MOVETOEX, {60, 70}).Rec(EMR_LINETO, {95, 70}).Rec(EMR_LINETO, {95, 95});
  e.Rec(EMR_CLOSEFIGURE, {}).Rec(EMR_ENDPATH, {}).Rec(EMR_WIDENPATH, {}).Rec(EMR_FILLPATH, {0, 0, 0, 0});
  TPlay p(e.Finish());
  p.Save("paths");
  EXPECT_EQ(p.At(3, 3), cGreen);
  EXPECT_EQ(p.At(30, 30), cWhite);
  EXPECT_EQ(p.At(15, 85), cWhite);
  EXPECT_EQ(p.At(77, 70), cRed);  // on the widened outline
  EXPECT_EQ(p.At(88, 78), cWhite);  // inside the triangle: the widened path is a band
}

TEST(Metafile, ClippingRecords) {
  // Intersect, then exclude a hole; a region of two rectangles; offset; reset.
  TEmf e;
  e.NullPen().Brush(1, cRed);
  e.Box(EMR_INTERSECTCLIPRECT, 10, 10, 50, 50).Box(EMR_EXCLUDECLIPRECT, 20, 20, 30, 30);
  e.Box(EMR_RECTANGLE, 0, 0, 100, 100);
  // Region data: header (32 bytes: size, type, count, bytes, bounds), then the rectangles.
  e.Rec(EMR_EXTSELECTCLIPRGN, {64, 5, 32, 1, 2, 32, 60, 0, 100, 20, 60, 0, 70, 10, 90, 10, 100, 20});
  e.Rec(EMR_OFFSETCLIPRGN, {0, 5});
  e.Brush(2, cBlue).Box(EMR_RECTANGLE, 0, 0, 100, 100);
  e.Rec(EMR_EXTSELECTCLIPRGN, {0, 5});
  e.Brush(3, cGreen).Box(EMR_RECTANGLE, 0, 90, 10, 100);
  TPlay p(e.Finish());
  p.Save("clip");
  EXPECT_EQ(p.At(5, 5), cWhite);
  EXPECT_EQ(p.At(15, 15), cRed);
  EXPECT_EQ(p.At(25, 25), cWhite);
  EXPECT_EQ(p.At(49, 49), cRed);
  EXPECT_EQ(p.At(50, 49), cWhite);
  EXPECT_EQ(p.At(65, 8), cBlue);    // first rectangle moved down by 5
  EXPECT_EQ(p.At(65, 2), cWhite);
  EXPECT_EQ(p.At(95, 20), cBlue);   // second rectangle
  EXPECT_EQ(p.At(80, 8), cWhite);
  EXPECT_EQ(p.At(5, 95), cGreen);   // unclipped again
}

TEST(Metafile, SelectClipPathAndSavedStates) {
  TEmf e;
  e.NullPen();
  e.Rec(EMR_SAVEDC, {});
  e.Rec(EMR_BEGINPATH, {}).Box(EMR_ELLIPSE, 0, 0, 100, 100).Rec(EMR_ENDPATH, {}).Rec(EMR_SELECTCLIPPATH, {1});
  e.Brush(1, cRed).Rec(EMR_SAVEDC, {});
  e.Rec(EMR_SETMAPMODE, {2});  // millimetres, y up: a state the restore must undo
  e.Rec(EMR_RESTOREDC, {1});   // the first saved state: no clip, the white stock brush
  e.Box(EMR_RECTANGLE, 0, 0, 10, 10);
  e.Rec(EMR_SAVEDC, {});
  e.Rec(EMR_BEGINPATH, {}).Box(EMR_ELLIPSE, 0, 0, 100, 100).Rec(EMR_ENDPATH, {}).Rec(EMR_SELECTCLIPPATH, {1});
  e.Brush(2, cBlue).Box(EMR_RECTANGLE, 0, 0, 100, 100);
  e.Rec(EMR_RESTOREDC, {uint32_t(-1)});
  e.Box(EMR_RECTANGLE, 90, 90, 100, 100);  // the blue brush is gone with the restored state
  e.Rec(EMR_RESTOREDC, {uint32_t(-5)});             // deeper than saved: ignored
  TPlay p(e.Finish());
  p.Save("savedc");
  EXPECT_EQ(p.At(50, 50), cBlue);
  EXPECT_EQ(p.At(2, 2), cWhite);  // outside the circle
  EXPECT_EQ(p.At(95, 95), cWhite);
  EXPECT_EQ(p.At(5, 50), cBlue);
}

TEST(Metafile, MappingModesAndWorldTransforms) {
  // Reference device of 4 pixels a millimetre. Low metric: tenths of a millimetre, y up.
  {
    TEmf e(100, 100, 4, true);
    e.NullPen().Brush(1, cRed).Rec(EMR_SETMAPMODE, {2}).Rec(EMR_SETVIEWPORTORGEX, {0, 100});
    e.Box(EMR_RECTANGLE, 0, 0, 100, 50);  // 10 x 5 mm from the bottom left
    TPlay p(e.Finish());
    EXPECT_EQ(p.At(20, 90), cRed);
    EXPECT_EQ(p.At(20, 75), cWhite);
    EXPECT_EQ(p.At(45, 90), cWhite);
  }
  // Twips: 1440 a inch; 720 twips are 12.7 mm, 50.8 pixels.
  {
    TEmf e(100, 100, 4, true);
    e.NullPen().Brush(1, cRed).Rec(EMR_SETMAPMODE, {6}).Box(EMR_RECTANGLE, 0, 0, 720, -720);
    TPlay p(e.Finish());
    EXPECT_EQ(p.At(50, 50), cRed);
    EXPECT_EQ(p.At(52, 20), cWhite);
  }
  // Anisotropic and isotropic extents, the viewport scaled.
  {
    TEmf e;
    e.NullPen().Brush(1, cRed).Rec(EMR_SETMAPMODE, {8});
    e.Rec(EMR_SETWINDOWEXTEX, {10, 10}).Rec(EMR_SETVIEWPORTEXTEX, {100, 50}).Rec(EMR_SCALEVIEWPORTEXTEX, {1, 2, 1, 1});
    e.Box(EMR_RECTANGLE, 0, 0, 10, 10);  // 50 x 50
    e.Rec(EMR_SETMAPMODE, {7}).Rec(EMR_SETWINDOWEXTEX, {10, 10}).Rec(EMR_SETVIEWPORTEXTEX, {40, 20});
    e.Rec(EMR_SETVIEWPORTORGEX, {60, 60}).Brush(2, cBlue).Box(EMR_RECTANGLE, 0, 0, 10, 10);  // 20 x 20
    TPlay p(e.Finish());
    EXPECT_EQ(p.At(49, 49), cRed);
    EXPECT_EQ(p.At(50, 30), cWhite);
    EXPECT_EQ(p.At(79, 79), cBlue);
    EXPECT_EQ(p.At(85, 70), cWhite);
  }
  // World transforms: set, multiplied on the left and on the right, reset.
  {
    TEmf e;
    e.NullPen().Brush(1, cRed);
    e.Rec(EMR_SETWORLDTRANSFORM, {F(2), 0, 0, F(2), F(10), 0});
    e.Rec(EMR_MODIFYWORLDTRANSFORM, {F(1), 0, 0, F(1), F(5), 0, 2});  // left: translate first, in world units
    e.Box(EMR_RECTANGLE, 0, 0, 10, 10);  // 20..40
    e.Rec(EMR_MODIFYWORLDTRANSFORM, {F(1), 0, 0, F(1), 0, F(50), 3});  // right: in page units
    e.Brush(2, cBlue).Box(EMR_RECTANGLE, 0, 0, 10, 10);  // 20..40, 50..70
    e.Rec(EMR_MODIFYWORLDTRANSFORM, {0, 0, 0, 0, 0, 0, 1});
    e.Brush(3, cGreen).Box(EMR_RECTANGLE, 90, 90, 100, 100);
    TPlay p(e.Finish());
    EXPECT_EQ(p.At(19, 5), cWhite);
    EXPECT_EQ(p.At(20, 5), cRed);
    EXPECT_EQ(p.At(39, 19), cRed);
    EXPECT_EQ(p.At(40, 19), cWhite);
    EXPECT_EQ(p.At(30, 60), cBlue);
    EXPECT_EQ(p.At(95, 95), cGreen);
  }
}

TEST(Metafile, PensExtendedCapsAndStyles) {
  // Flat ends stop at the end point; square ends go half the width beyond it.
  for (uint32_t cap : {0x200u, 0x100u}) {
    TEmf e;
    e.Rec(EMR_EXTCREATEPEN, {1, 0, 0, 0, 0, 0x10000u | cap, 10, 0, cBlack, 0, 0}).Select(1);
    e.Poly(EMR_POLYLINE, {{20, 50}, {80, 50}});
    TPlay p(e.Finish());
    EXPECT_EQ(p.At(50, 46), cBlack);
    EXPECT_EQ(p.At(17, 50), cap == 0x200 ? cWhite : cBlack);
    EXPECT_EQ(p.At(83, 50), cap == 0x200 ? cWhite : cBlack);
  }
  // A geometric user style: 10 on, 10 off.
  TEmf u;
  u.Rec(EMR_EXTCREATEPEN, {1, 0, 0, 0, 0, 0x10000u | 0x200u | 7u, 4, 0, cBlack, 0, 2, 10, 10}).Select(1);
  u.Poly(EMR_POLYLINE, {{0, 50}, {100, 50}});
  TPlay pu(u.Finish());
  EXPECT_EQ(pu.At(5, 50), cBlack);
  EXPECT_EQ(pu.At(15, 50), cWhite);
  EXPECT_EQ(pu.At(25, 50), cBlack);
  // A dashed cosmetic pen on an opaque background shows its gaps in the background colour.
  TEmf d;
  d.Rec(EMR_SETBKCOLOR, {cGreen}).Pen(1, 0, cBlack, 1).Poly(EMR_POLYLINE, {{0, 50}, {100, 50}});
  TPlay pd(d.Finish());
  EXPECT_EQ(pd.At(2, 50), cBlack);
  EXPECT_EQ(pd.At(20, 50), cGreen);
}

TEST(Metafile, HatchedPatternAndMonochromeBrushes) {
  // A horizontal hatch: lines every 8 pixels in the brush colour, the gaps in the background
  // colour when opaque, untouched when transparent.
  for (int transparent = 0; transparent < 2; ++transparent) {
    TEmf e;
    e.Rec(EMR_SETBKCOLOR, {cGreen}).Rec(EMR_SETBKMODE, {transparent ? 1u : 2u});
    e.NullPen().Brush(1, cRed, 2, 0).Box(EMR_RECTANGLE, 0, 0, 64, 64);
    TPlay p(e.Finish());
    int red = 0, gap = 0;
    for (int y = 0; y < 64; ++y) (p.At(10, y) == cRed ? red : gap) += 1;
    EXPECT_EQ(red, 8);
    EXPECT_EQ(p.At(10, 0) == cRed ? p.At(10, 1) : p.At(10, 0), transparent ? cWhite : cGreen);
  }
  // A DIB pattern brush: a 2 x 2 checkerboard of red and blue, 24 bits.
  std::vector<uint32_t> bmi = {40, 2, 2, 1 | (24u << 16), 0, 16, 0, 0, 0, 0};
  // Rows bottom-up, 8 bytes each (6 + padding): blue red / red blue.
  std::vector<uint8_t> bits = {0xFF, 0, 0, 0, 0, 0xFF, 0, 0, 0, 0, 0xFF, 0xFF, 0, 0, 0, 0};
  std::vector<uint8_t> body;
  auto put = [&](uint32_t v) { for (int i = 0; i < 4; ++i) body.push_back(uint8_t(v >> (8 * i))); };
  put(1);
  put(0);            // colours as RGB
  put(32);           // offBmi (from the record start)
  put(40);           // cbBmi
  put(72);           // offBits
  put(16);           // cbBits
  for (uint32_t w : bmi) put(w);
  body.insert(body.end(), bits.begin(), bits.end());
  TEmf b;
  b.NullPen().Raw(EMR_CREATEDIBPATTERNBRUSHPT, body).Select(1).Box(EMR_RECTANGLE, 0, 0, 10, 10);
  TPlay pb(b.Finish());
  EXPECT_EQ(pb.At(0, 0), cRed);
  EXPECT_EQ(pb.At(1, 0), cBlue);
  EXPECT_EQ(pb.At(0, 1), cBlue);
  EXPECT_EQ(pb.At(2, 2), cRed);
  // Monochrome: bits of 0 in the text colour, 1 in the background colour.
  std::vector<uint32_t> mono = {40, 2, 1, 1 | (1u << 16), 0, 4, 0, 0, 0, 0, 0, 0xFFFFFF};
  std::vector<uint8_t> mbody;
  auto mput = [&](uint32_t v) { for (int i = 0; i < 4; ++i) mbody.push_back(uint8_t(v >> (8 * i))); };
  mput(1), mput(0), mput(32), mput(48), mput(80), mput(4);
  for (uint32_t w : mono) mput(w);
  mput(0x40);  // 0 1 in the top bits
  TEmf m;
  m.Rec(EMR_SETTEXTCOLOR, {cBlue}).Rec(EMR_SETBKCOLOR, {cGreen});
  m.NullPen().Raw(EMR_CREATEMONOBRUSH, mbody).Select(1).Box(EMR_RECTANGLE, 0, 0, 10, 10);
  TPlay pm(m.Finish());
  EXPECT_EQ(pm.At(0, 0), cBlue);
  EXPECT_EQ(pm.At(1, 0), cGreen);
}

namespace {
// A 2 x 1 24-bit bitmap (red, green) in a STRETCHDIBITS record onto (X, Y, W, H).
std::vector<uint8_t> Stretch(int32_t X, int32_t Y, int32_t W, int32_t H, uint32_t Rop) {
  std::vector<uint8_t> body;
  auto put = [&](uint32_t v) { for (int i = 0; i < 4; ++i) body.push_back(uint8_t(v >> (8 * i))); };
  for (int i = 0; i < 4; ++i) put(0);  // bounds
  put(uint32_t(X)), put(uint32_t(Y)), put(0), put(0), put(2), put(1);
  put(80), put(40), put(120), put(8), put(0), put(Rop), put(uint32_t(W)), put(uint32_t(H));
  for (uint32_t w : {40u, 2u, 1u, 1u | (24u << 16), 0u, 8u, 0u, 0u, 0u, 0u}) put(w);
  for (uint8_t b : {0, 0, 0xFF, 0, 0xFF, 0, 0, 0}) body.push_back(b);
  return body;
}
}  // namespace

TEST(Metafile, BitmapsWithRasterOperations) {
  TEmf e;
  e.NullPen().Brush(1, 0x808080).Box(EMR_RECTANGLE, 0, 50, 100, 100);
  e.Raw(EMR_STRETCHDIBITS, Stretch(0, 0, 100, 20, 0x00CC0020));    // copy
  e.Raw(EMR_STRETCHDIBITS, Stretch(0, 50, 100, 10, 0x008800C6));   // and
  e.Raw(EMR_STRETCHDIBITS, Stretch(0, 60, 100, 10, 0x00EE0086));   // or
  e.Raw(EMR_STRETCHDIBITS, Stretch(0, 70, 100, 10, 0x00660046));   // invert (xor)
  e.Raw(EMR_STRETCHDIBITS, Stretch(100, 80, -100, 10, 0x00CC0020));  // mirrored
  TPlay p(e.Finish());
  p.Save("bitmaps");
  EXPECT_EQ(p.At(10, 10), cRed);
  EXPECT_EQ(p.At(90, 10), cGreen);
  EXPECT_EQ(p.At(10, 55), TColor(0x000080));  // grey and red
  EXPECT_EQ(p.At(90, 65), TColor(0x80FF80));  // grey or green
  EXPECT_EQ(p.At(10, 75), TColor(0x80807F));  // grey xor red
  EXPECT_EQ(p.At(10, 85), cGreen);
  EXPECT_EQ(p.At(90, 85), cRed);
  EXPECT_EQ(p.At(10, 30), cWhite);
}

// A source rectangle of one row: bottom-up bitmaps count it from the bottom, top-down ones
// from the top. The 2 x 2 bitmap's top row is red, its bottom row blue.
TEST(Metafile, BitmapSourceRowsAndBitmapOrder) {
  for (int topDown = 0; topDown < 2; ++topDown) {
    std::vector<uint8_t> body;
    auto put = [&](uint32_t v) { for (int i = 0; i < 4; ++i) body.push_back(uint8_t(v >> (8 * i))); };
    for (int i = 0; i < 4; ++i) put(0);
    put(0), put(0), put(0), put(0), put(2), put(1);  // destination at 0,0; source 0,0 2 x 1
    put(80), put(40), put(120), put(16), put(0), put(0x00CC0020), put(100), put(100);
    for (uint32_t w : {40u, 2u, topDown ? uint32_t(-2) : 2u, 1u | (24u << 16), 0u, 16u, 0u, 0u, 0u, 0u}) put(w);
    const uint8_t red[8] = {0, 0, 0xFF, 0, 0, 0xFF, 0, 0}, blue[8] = {0xFF, 0, 0, 0xFF, 0, 0, 0, 0};
    // File order: the first row stored is the bottom one unless the bitmap is top-down.
    body.insert(body.end(), topDown ? red : blue, (topDown ? red : blue) + 8);
    body.insert(body.end(), topDown ? blue : red, (topDown ? blue : red) + 8);
    TEmf e;
    e.Raw(EMR_STRETCHDIBITS, body);
    TPlay p(e.Finish());
    EXPECT_EQ(p.At(50, 50), topDown ? cRed : cBlue) << topDown;
  }
}

// SETDIBITSTODEVICE with bits for part of the rows: scan lines 1 and 2 (blue, red from the
// bottom) of a 2 x 4 bitmap, drawn at the picture's scale of 50.
TEST(Metafile, BitsForPartOfTheRows) {
  std::vector<uint8_t> body;
  auto put = [&](uint32_t v) { for (int i = 0; i < 4; ++i) body.push_back(uint8_t(v >> (8 * i))); };
  for (int i = 0; i < 4; ++i) put(0);
  put(0), put(0), put(0), put(1), put(2), put(2);  // destination 0,0; source 0,1 (from the bottom) 2 x 2
  put(76), put(40), put(116), put(16), put(0), put(1), put(2);
  for (uint32_t w : {40u, 2u, 4u, 1u | (24u << 16), 0u, 32u, 0u, 0u, 0u, 0u}) put(w);
  for (uint8_t b : {0xFF, 0, 0, 0xFF, 0, 0, 0, 0}) body.push_back(b);  // scan 1: blue
  for (uint8_t b : {0, 0, 0xFF, 0, 0, 0xFF, 0, 0}) body.push_back(b);  // scan 2: red
  TEmf e(2, 2);
  e.Raw(EMR_SETDIBITSTODEVICE, body);
  TPlay p(e.Finish());
  EXPECT_EQ(p.At(50, 25), cRed);
  EXPECT_EQ(p.At(50, 75), cBlue);
}

TEST(Metafile, AlphaBlendAndPatternBlits) {
  // ALPHABLEND: a 1 x 1 black 32-bit bitmap at constant alpha 128 over white gives mid grey.
  std::vector<uint8_t> body;
  auto put = [&](uint32_t v) { for (int i = 0; i < 4; ++i) body.push_back(uint8_t(v >> (8 * i))); };
  for (int i = 0; i < 4; ++i) put(0);
  put(0), put(0), put(50), put(50);
  put(128u << 16);  // blend function: constant alpha 128, no source alpha
  put(0), put(0);
  put(F(1)), put(0), put(0), put(F(1)), put(0), put(0);  // source transform
  put(0), put(0);                                        // background colour, usage
  put(108), put(40), put(148), put(4), put(1), put(1);   // bitmap, cx, cy source
  for (uint32_t w : {40u, 1u, 1u, 1u | (32u << 16), 0u, 4u, 0u, 0u, 0u, 0u}) put(w);
  put(0xFF000000u);
  TEmf e;
  e.Raw(EMR_ALPHABLEND, body);
  // A pattern blit without a bitmap fills with the brush; the destination inverted.
  std::vector<uint32_t> blt(23, 0);
  blt[4] = 60, blt[5] = 60, blt[6] = 20, blt[7] = 20, blt[8] = 0x00F00021;
  e.Brush(1, cBlue).Rec(EMR_BITBLT, blt);
  blt[4] = 60, blt[5] = 0, blt[8] = 0x00550009;
  e.Rec(EMR_BITBLT, blt);
  TPlay p(e.Finish());
  const TColor c = p.At(25, 25);
  EXPECT_NEAR(int(c & 0xFF), 127, 2);
  EXPECT_EQ(p.At(70, 70), cBlue);
  EXPECT_EQ(p.At(70, 10), cBlack);  // white inverted
}

namespace {
// EMR_EXTCREATEFONTINDIRECTW with a face and height, then EMR_EXTTEXTOUTW at (X, Y).
void Font(TEmf& E, uint32_t Index, int32_t Height, const char16_t* Face, int32_t Escapement = 0) {
  std::vector<uint32_t> w = {Index, uint32_t(Height), 0, uint32_t(Escapement), uint32_t(Escapement), 400, 0, 0};
  std::vector<uint16_t> face(32, 0);
  for (int i = 0; Face[i] && i < 31; ++i) face[size_t(i)] = uint16_t(Face[i]);
  for (int i = 0; i < 32; i += 2) w.push_back(face[size_t(i)] | (uint32_t(face[size_t(i) + 1]) << 16));
  E.Rec(EMR_EXTCREATEFONTINDIRECTW, w).Select(Index);
}
void TextW(TEmf& E, int32_t X, int32_t Y, const std::u16string& S, uint32_t Options = 0,
           std::vector<int32_t> Dx = {}, std::vector<int32_t> Rect = {0, 0, 0, 0}) {
  std::vector<uint32_t> w = {0, 0, 0, 0, 1, F(1), F(1), uint32_t(X), uint32_t(Y), uint32_t(S.size()), 76, Options};
  for (int32_t r : Rect) w.push_back(uint32_t(r));
  const uint32_t strWords = uint32_t((S.size() * 2 + 3) / 4);
  w.push_back(Dx.empty() ? 0 : 76 + 4 * strWords);
  std::vector<uint16_t> s(S.begin(), S.end());
  s.resize(strWords * 2, 0);
  for (size_t i = 0; i < s.size(); i += 2) w.push_back(s[i] | (uint32_t(s[i + 1]) << 16));
  for (int32_t d : Dx) w.push_back(uint32_t(d));
  E.Rec(EMR_EXTTEXTOUTW, w);
}
// The bounding box of pixels that are not white.
QRect Ink(TPlay& P, int W, int H) {
  QRect r;
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x)
      if (P.At(x, y) != cWhite) r |= QRect(x, y, 1, 1);
  return r;
}
}  // namespace

TEST(Metafile, TextAlignmentSpacingAndOpaqueRectangle) {
  // Left and top: the ink starts right of and below the reference point.
  TEmf a(200, 100);
  Font(a, 1, -40, u"Arial");
  a.Rec(EMR_SETBKMODE, {1}).Rec(EMR_SETTEXTCOLOR, {cBlue});
  TextW(a, 20, 20, u"HH");
  TPlay pa(a.Finish(), 200, 100);
  const QRect ia = Ink(pa, 200, 100);
  EXPECT_GE(ia.left(), 20);
  EXPECT_LE(ia.left(), 26);
  EXPECT_GE(ia.top(), 20);
  EXPECT_LE(ia.bottom(), 62);
  EXPECT_NEAR(ia.height(), 29, 3);  // the cap height of a 40-pixel em
  EXPECT_EQ(pa.At(ia.left() + 1, ia.center().y()), cBlue);
  // Right and baseline: the ink ends at the reference point and sits on its line.
  TEmf b(200, 100);
  Font(b, 1, -40, u"Arial");
  b.Rec(EMR_SETBKMODE, {1}).Rec(EMR_SETTEXTALIGN, {2 | 24});
  TextW(b, 180, 80, u"HH");
  TPlay pb(b.Finish(), 200, 100);
  const QRect ib = Ink(pb, 200, 100);
  EXPECT_LE(ib.right(), 180);
  EXPECT_GE(ib.right(), 172);
  EXPECT_EQ(ib.bottom(), 79);
  // The spacing array places each character; the opaque option fills the rectangle first.
  TEmf c(200, 100);
  Font(c, 1, -40, u"Arial");
  c.Rec(EMR_SETBKMODE, {1}).Rec(EMR_SETBKCOLOR, {cGreen});
  TextW(c, 0, 0, u"II", 2, {150, 10}, {0, 60, 200, 100});
  TPlay pc(c.Finish(), 200, 100);
  pc.Save("text-spacing");
  int columns = 0;
  for (int x = 0; x < 200; ++x) {
    bool ink = false;
    for (int y = 0; y < 50; ++y) ink |= pc.At(x, y) != cWhite;
    if (ink && (x == 0 || [&] { for (int y = 0; y < 50; ++y) if (pc.At(x - 1, y) != cWhite) return false; return true; }()))
      ++columns;
  }
  EXPECT_EQ(columns, 2);  // two separate strokes, 150 apart
  QRect right;
  for (int y = 0; y < 50; ++y)
    for (int x = 100; x < 200; ++x)
      if (pc.At(x, y) != cWhite) right |= QRect(x, y, 1, 1);
  EXPECT_GE(right.left(), 150);
  EXPECT_EQ(pc.At(100, 80), cGreen);
}

TEST(Metafile, TextTurnedUpdatingThePositionAndOnAnOpaqueBackground) {
  // Escapement 90 degrees: the line runs upwards from the reference point.
  TEmf a(100, 200);
  Font(a, 1, -30, u"Arial", 900);
  a.Rec(EMR_SETBKMODE, {1}).Rec(EMR_SETTEXTALIGN, {24});
  TextW(a, 50, 190, u"HHHHH");
  TPlay pa(a.Finish(), 100, 200);
  const QRect ia = Ink(pa, 100, 200);
  EXPECT_GT(ia.height(), 2 * ia.width());
  EXPECT_LE(ia.right(), 50);
  EXPECT_GE(ia.bottom(), 180);
  // With the position updated, a second text continues where the first ended; the opaque mode
  // fills the character cells with the background colour; the A form reads Windows-1252.
  TEmf b(200, 60);
  Font(b, 1, -30, u"Arial");
  b.Rec(EMR_SETTEXTALIGN, {1}).Rec(EMR_SETBKCOLOR, {cGreen}).Rec(EMR_MOVETOEX, {10, 10});
  TextW(b, 0, 0, u"H");
  std::vector<uint32_t> t = {0, 0, 0, 0, 1, F(1), F(1), 0, 0, 1, 76, 0, 0, 0, 0, 0, 0, 0xE9};
  b.Rec(EMR_EXTTEXTOUTA, t);
  TPlay pb(b.Finish(), 200, 60);
  pb.Save("text-cp");
  const QRect ib = Ink(pb, 200, 60);
  EXPECT_GE(ib.left(), 10);
  EXPECT_EQ(pb.At(11, 12), cGreen);  // the cell's background
  QRect black;
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 200; ++x)
      if (pb.At(x, y) == cBlack) black |= QRect(x, y, 1, 1);
  EXPECT_GT(black.width(), 30);  // "H" and then "é" beside it, not on top of it
  EXPECT_LT(black.top(), 20);     // the accent above the letters
}

// Text drawn into a 32-bit surface follows the platform's rule: the colour blends into the
// touched pixels by coverage and they count as drawn (opaque to the canvas, alpha 0 once the
// shape pipeline inverts it); untouched pixels keep their alpha.
TEST(Metafile, TextBlendsByCoverageAndMarksThePixelsDrawn) {
  TEmf e(100, 60);
  Font(e, 1, -40, u"Arial");
  e.Rec(EMR_SETBKMODE, {1}).Rec(EMR_SETTEXTCOLOR, {0});
  TextW(e, 5, 5, u"O");
  const auto data = e.Finish();
  QImage img(100, 60, QImage::Format_ARGB32);
  img.fill(0x00FFFFFFu);
  TCanvas canvas;
  canvas.SetDevice(&img);
  TMetafile m;
  m.LoadFromBytes(data.data(), data.size());
  ASSERT_TRUE(PlayEnhMetaFile(&canvas, m, TRect{0, 0, 100, 60}));
  canvas.Release();
  int partial = 0, full = 0, untouched = 0;
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 100; ++x) {
      const QRgb p = img.pixel(x, y);
      if (qAlpha(p) == 0) {
        ++untouched;
        EXPECT_EQ(p & 0xFFFFFFu, 0xFFFFFFu);
        continue;
      }
      EXPECT_EQ(qAlpha(p), 255);
      if (qRed(p) == 0) ++full;
      else ++partial;
    }
  EXPECT_GT(full, 50);
  EXPECT_GT(partial, 20);  // antialiased edges
  EXPECT_GT(untouched, 3000);
}

TEST(Metafile, SelectObjectKeepsThePreviousObjectOfItsKind) {
  TEmf e;
  e.Pen(1, 1, cRed).Brush(2, cBlue).Box(EMR_RECTANGLE, 10, 10, 90, 90);
  const auto data = e.Finish();
  TMetafile m;
  m.LoadFromBytes(data.data(), data.size());
  TBitmap b;
  b.SetPixelFormat(pf32bit);
  b.SetSize(100, 100);
  TPen pen;
  pen.SetColor(cGreen);
  const HGDIOBJ h = PenHandle(pen);
  int records = 0;
  TMetafileTarget t;
  t.Right = 100;
  t.Bottom = 100;
  EXPECT_TRUE(EnumEnhMetaFile(
      b.Canvas(), m,
      [&](HDC DC, THandleTable* Table, const TEnhMetaRecord* R, int32_t N, void* Data) {
        EXPECT_EQ(Data, &records);
        ++records;
        const HGDIOBJ old = SelectObject(DC, h);
        EXPECT_NE(old, nullptr);
        PlayEnhMetaFileRecord(DC, Table, R, uint32_t(N));
        // The record's own pen selection is what gets replaced by the previous pen again.
        EXPECT_EQ(SelectObject(DC, old) == h, !(R->iType == EMR_SELECTOBJECT && R->Data[8] == 1)) << R->iType;
        return 1;
      },
      &records, t));
  EXPECT_EQ(records, 7);
  EXPECT_EQ(b.Canvas()->Pixel(10, 50) & 0xFFFFFF, cGreen);
  EXPECT_EQ(b.Canvas()->Pixel(50, 50) & 0xFFFFFF, cBlue);
  // A callback that answers 0 stops the play.
  records = 0;
  EXPECT_FALSE(EnumEnhMetaFile(
      b.Canvas(), m, [&](HDC, THandleTable*, const TEnhMetaRecord*, int32_t, void*) { return ++records < 3 ? 1 : 0; },
      nullptr, t));
  EXPECT_EQ(records, 3);
}

TEST(Metafile, DamagedRecordsEndThePlayWithClearErrors) {
  auto poly = [](uint32_t Type, std::vector<uint32_t> Words) {
    TEmf e;
    e.Rec(Type, Words);
    return e.Finish();
  };
  EXPECT_EQ(Error(poly(EMR_POLYLINE, {0, 0, 0, 0, 3, 1, 1, 2, 2})), "Metafile point count exceeds its record");
  EXPECT_EQ(Error(poly(EMR_POLYLINE16, {0, 0, 0, 0, 0x40000000, 1})), "Metafile point count exceeds its record");
  // Poly-polygon: the counts must fit the record and add up within the total.
  EXPECT_EQ(Error(poly(EMR_POLYPOLYGON, {0, 0, 0, 0, 0x20000000, 2, 2, 0, 0, 1, 1})), "Metafile record is too short");
  EXPECT_EQ(Error(poly(EMR_POLYPOLYGON, {0, 0, 0, 0, 2, 2, 2, 1, 0, 0, 1, 1})),
            "Metafile point count exceeds its record");
  EXPECT_EQ(Error(poly(EMR_POLYPOLYGON16, {0, 0, 0, 0, 1, 5, 5, 0})), "Metafile point count exceeds its record");
  // Regions: counts beyond the data.
  EXPECT_EQ(Error(poly(EMR_EXTSELECTCLIPRGN, {48, 5, 32, 1, 0x10000000, 16, 0, 0, 1, 1, 0, 0, 1, 1})),
            "Metafile region is damaged");
  EXPECT_EQ(Error(poly(EMR_EXTSELECTCLIPRGN, {4096, 5, 32, 1, 1, 16})), "Metafile record is too short");
  // Text: the string or the spacing array outside the record.
  EXPECT_EQ(Error(poly(EMR_EXTTEXTOUTW, {0, 0, 0, 0, 1, 0, 0, 0, 0, 100, 76, 0, 0, 0, 0, 0, 0})),
            "Metafile text exceeds its record");
  EXPECT_EQ(Error(poly(EMR_EXTTEXTOUTW, {0, 0, 0, 0, 1, 0, 0, 0, 0, 2, 76, 0, 0, 0, 0, 0, 200, 0x00410041})),
            "Metafile text exceeds its record");
  // Bitmaps: header or bits outside the record; a header that says more than the bits hold.
  std::vector<uint8_t> s = Stretch(0, 0, 10, 10, 0x00CC0020);
  std::vector<uint8_t> bad = s;
  bad[44] = 0xF0;  // a header size far beyond the record
  TEmf e1;
  e1.Raw(EMR_STRETCHDIBITS, bad);
  EXPECT_EQ(Error(e1.Finish()), "Metafile bitmap exceeds its record");
  bad = s;
  bad[80 - 8 + 4] = 0x00, bad[80 - 8 + 5] = 0x10;  // width 4096 with 8 bytes of bits
  TEmf e2;
  e2.Raw(EMR_STRETCHDIBITS, bad);
  EXPECT_EQ(Error(e2.Finish()), "Metafile bitmap is damaged");
  // Objects: an index beyond the table or the picture's own entry 0.
  EXPECT_EQ(Error(poly(EMR_CREATEPEN, {8, 0, 1, 0, 0})), "Metafile object index out of range");
  EXPECT_EQ(Error(poly(EMR_SELECTOBJECT, {0})), "Metafile object index out of range");
  EXPECT_EQ(Error(poly(EMR_DELETEOBJECT, {100})), "Metafile object index out of range");
  // A pen with more style entries than it may have.
  EXPECT_EQ(Error(poly(EMR_EXTCREATEPEN, {1, 0, 0, 0, 0, 7, 1, 0, 0, 0, 1000})),
            "Metafile pen style count exceeds its record");
  // Records shorter than their fixed part fail when the picture loads.
  EXPECT_EQ(Error(poly(EMR_STRETCHDIBITS, {0, 0, 0})), "Metafile record is too short");
  EXPECT_EQ(Error(poly(EMR_EXTCREATEFONTINDIRECTW, {1, 0, 0})), "Metafile record is too short");
}

// Values that are legal but extreme are drawn or ignored without running away: far-off and
// huge figures, dashed lines billions of pixels long, a singular world transform, state saved
// far more often than restored, unknown records.
TEST(Metafile, ExtremeValuesPlayQuickly) {
  TEmf e;
  e.Pen(1, 0, cBlack, 1).Rec(EMR_MOVETOEX, {uint32_t(-2000000000), 50}).Rec(EMR_LINETO, {2000000000, 50});
  e.Rec(EMR_EXTCREATEPEN, {2, 0, 0, 0, 0, 0x10000u | 1u, 2000000000, 0, 0, 0, 0}).Select(2);
  e.Poly(EMR_POLYLINE, {{0, 0}, {100, 100}});
  e.Brush(3, cRed).Box(EMR_ELLIPSE, -2000000000, -2000000000, 2000000000, 2000000000);
  e.Arc(EMR_PIE, 0, 0, 2000000000, 2000000000, 1, 1, 2, 2);
  e.Rec(EMR_SETWORLDTRANSFORM, {0, 0, 0, 0, 0, 0});
  e.Rec(EMR_SETWORLDTRANSFORM, {F(1e30f), 0, 0, F(1e30f), 0, 0});
  e.Box(EMR_RECTANGLE, 0, 0, 10, 10);
  for (int i = 0; i < 5000; ++i) e.Rec(EMR_SAVEDC, {});
  e.Rec(EMR_RESTOREDC, {uint32_t(-100000)});
  e.Rec(500, {1, 2, 3});
  e.Rec(EMR_ANGLEARC, {50, 50, 0xFFFFFFFF, F(0), F(1e30f)});
  EXPECT_EQ(Error(e.Finish()), "");
}

TEST(Metafile, LoadsStreamsAndSavesTheSameBytes) {
  TEmf e;
  e.Brush(1, cRed).Box(EMR_RECTANGLE, 0, 0, 10, 10);
  const auto data = e.Finish();
  TMemoryStream in;
  in.WriteBuffer(data.data(), int32_t(data.size()));
  in.SetPosition(0);
  TMetafile m;
  m.LoadFromStream(&in);
  EXPECT_EQ(m.Records().size(), 5u);
  TMemoryStream out;
  m.SaveToStream(&out);
  ASSERT_EQ(out.Size(), int64_t(data.size()));
  std::vector<uint8_t> back(data.size());
  out.SetPosition(0);
  out.ReadBuffer(back.data(), int32_t(back.size()));
  EXPECT_EQ(back, data);
  TMetafile copy;
  copy.Assign(&m);
  EXPECT_EQ(copy.Data(), m.Data());
  EXPECT_EQ(copy.Records().size(), 5u);
  EXPECT_EQ(copy.Records()[2].Data - copy.Data().data(), m.Records()[2].Data - m.Data().data());
  // A failed load leaves the picture empty.
  std::vector<uint8_t> broken(data.begin(), data.begin() + 60);
  EXPECT_THROW(copy.LoadFromBytes(broken.data(), broken.size()), EMetafileError);
  EXPECT_TRUE(copy.Empty());
  EXPECT_EQ(copy.Width(), 0);
}

namespace {
// Pixels whose centres lie well inside Box (canvas pixels) have Colour; those well outside it
// have not.
void ExpectBox(TPlay& P, const QRectF& Box, TColor Colour, int W = 100, int H = 100) {
  int missing = 0, stray = 0;
  const QRectF in = Box.adjusted(0.6, 0.6, -0.6, -0.6), out = Box.adjusted(-0.6, -0.6, 0.6, 0.6);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const QPointF c(x + 0.5, y + 0.5);
      if (in.contains(c)) missing += P.At(x, y) != Colour;
      else if (!out.contains(c)) stray += P.At(x, y) == Colour;
    }
  EXPECT_EQ(missing, 0) << "inside " << Box.x() << "," << Box.y() << " " << Box.width() << "x" << Box.height();
  EXPECT_EQ(stray, 0) << "outside " << Box.x() << "," << Box.y() << " " << Box.width() << "x" << Box.height();
}
// The pixels of Box (canvas pixels) that are not Colour.
int Wrong(TPlay& P, const QRect& Box, TColor Colour) {
  int n = 0;
  for (int y = Box.top(); y <= Box.bottom(); ++y)
    for (int x = Box.left(); x <= Box.right(); ++x) n += P.At(x, y) != Colour;
  return n;
}
}  // namespace

// A V of a 10 units wide pen with mitred joins: the join's miter is 2.39 times the width, so a
// limit below that bevels the tip (at y 27.9) and one above it keeps the point (at y 18.1).
TEST(Metafile, MiterLimitBevelsOrKeepsASharpJoin) {
  struct TCase {
    bool Set;
    uint32_t Limit;  // an integer, or a float's bits as some writers store it
    bool Miter;
  };
  for (const TCase& c : {TCase{false, 0, true}, TCase{true, 2, false}, TCase{true, 3, true},
                         TCase{true, F(2.3f), false}, TCase{true, F(2.5f), true}, TCase{true, F(20.f), true}}) {
    TEmf e;
    if (c.Set) e.Rec(EMR_SETMITERLIMIT, {c.Limit});
    e.Rec(EMR_EXTCREATEPEN, {1, 0, 0, 0, 0, 0x10000u | 0x2000u | 0x200u, 10, 0, cBlack, 0, 0}).Select(1);
    e.Poly(EMR_POLYLINE, {{20, 95}, {50, 30}, {80, 95}});
    TPlay p(e.Finish());
    const std::string what = std::to_string(c.Limit);
    EXPECT_EQ(p.At(50, 29), cBlack) << what;  // below the bevel: both
    EXPECT_EQ(p.At(50, 26), c.Miter ? cBlack : cWhite) << what;
    EXPECT_EQ(p.At(50, 22), c.Miter ? cBlack : cWhite) << what;
    EXPECT_EQ(p.At(50, 16), cWhite) << what;  // beyond the tip
    EXPECT_EQ(p.At(50, 46), cWhite) << what;  // inside the V
  }
}

// The fixed mapping modes: a rectangle at known logical coordinates lands where the mode's
// units (on a reference device of 4 pixels a millimetre) and its upward y axis put it, from a
// viewport origin at the bottom left.
TEST(Metafile, FixedMappingModesScaleAndTurnTheYAxis) {
  struct TCase {
    int32_t Mode;
    double PerMm;  // logical units a millimetre
    int32_t L, B, R, T;  // the rectangle, y up
  };
  // Low and high metric, low and high English, twips.
  for (const TCase& c : {TCase{2, 10, 50, 25, 150, 200}, TCase{3, 100, 500, 250, 1500, 2000},
                         TCase{4, 100 / 25.4, 20, 10, 59, 79}, TCase{5, 1000 / 25.4, 200, 98, 590, 787},
                         TCase{6, 1440 / 25.4, 283, 142, 850, 1134}}) {
    TEmf e(100, 100, 4, true);
    e.NullPen().Brush(1, cRed).Rec(EMR_SETMAPMODE, {uint32_t(c.Mode)}).Rec(EMR_SETVIEWPORTORGEX, {0, 100});
    e.Box(EMR_RECTANGLE, c.L, c.T, c.R, c.B);
    TPlay p(e.Finish());
    SCOPED_TRACE(c.Mode);
    const double k = 4 / c.PerMm;  // pixels a logical unit
    ExpectBox(p, QRectF(QPointF(c.L * k, 100 - c.T * k), QPointF(c.R * k, 100 - c.B * k)), cRed);
  }
}

// Several polylines in one record: each drawn, none joined to the next, none filled (a red
// brush is selected). The second one goes round a square.
TEST(Metafile, PolyPolylinesDrawEachLineApart) {
  const std::vector<std::vector<std::pair<int32_t, int32_t>>> lines = {
      {{10, 10}, {90, 10}}, {{10, 30}, {90, 30}, {90, 60}, {10, 60}, {10, 30}}, {{10, 80}, {50, 95}, {90, 80}}};
  for (bool shortPts : {false, true}) {
    std::vector<uint32_t> w = {0, 0, 0, 0, uint32_t(lines.size()), 10};
    for (const auto& l : lines) w.push_back(uint32_t(l.size()));
    for (const auto& l : lines)
      for (auto [x, y] : l) {
        if (shortPts) {
          w.push_back(uint32_t(uint16_t(x)) | (uint32_t(uint16_t(y)) << 16));
        } else {
          w.push_back(uint32_t(x));
          w.push_back(uint32_t(y));
        }
      }
    TEmf e;
    e.Pen(1, 1, cBlack).Brush(2, cRed).Rec(shortPts ? EMR_POLYPOLYLINE16 : EMR_POLYPOLYLINE, w);
    TPlay p(e.Finish());
    SCOPED_TRACE(shortPts);
    for (auto [x, y] : {std::pair{50, 10}, {50, 30}, {90, 45}, {50, 60}, {10, 45}, {30, 87}, {70, 87}})
      EXPECT_EQ(p.At(x, y), cBlack) << x << "," << y;
    // Where a line from one polyline's end to the next one's start would run, and inside.
    for (auto [x, y] : {std::pair{50, 20}, {50, 70}, {50, 45}, {50, 80}})
      EXPECT_EQ(p.At(x, y), cWhite) << x << "," << y;
  }
}

// Stroking a path draws its outline only and leaves an open figure open; stroking and filling
// fills under the outline. Either uses the path up.
TEST(Metafile, StrokePathAndStrokeAndFillPath) {
  for (uint32_t type : {EMR_STROKEPATH, EMR_STROKEANDFILLPATH}) {
    TEmf e;
    e.Rec(EMR_EXTCREATEPEN, {1, 0, 0, 0, 0, 0x10000u | 0x2000u | 0x200u, 10, 0, cBlack, 0, 0}).Select(1);
    e.Brush(2, cRed).Rec(EMR_BEGINPATH, {});
    e.Rec(EMR_MOVETOEX, {20, 20}).Rec(EMR_LINETO, {60, 20}).Rec(EMR_LINETO, {60, 60}).Rec(EMR_LINETO, {20, 60});
    e.Rec(EMR_CLOSEFIGURE, {});
    e.Rec(EMR_MOVETOEX, {70, 60}).Rec(EMR_LINETO, {85, 90}).Rec(EMR_LINETO, {100, 60});  // open
    e.Rec(EMR_ENDPATH, {}).Rec(type, {0, 0, 0, 0});
    e.Brush(3, cBlue).Rec(EMR_FILLPATH, {0, 0, 0, 0});  // no path left
    TPlay p(e.Finish());
    SCOPED_TRACE(type);
    // The closed square's outline: a band 10 wide around its edges, mitred at the corners.
    EXPECT_EQ(Wrong(p, QRect(15, 15, 50, 10), cBlack), 0);
    EXPECT_EQ(Wrong(p, QRect(15, 55, 50, 10), cBlack), 0);
    EXPECT_EQ(Wrong(p, QRect(15, 25, 10, 30), cBlack), 0);
    EXPECT_EQ(Wrong(p, QRect(55, 25, 10, 30), cBlack), 0);
    EXPECT_EQ(Wrong(p, QRect(0, 0, 100, 14), cWhite), 0);
    EXPECT_EQ(Wrong(p, QRect(26, 26, 28, 28), type == EMR_STROKEPATH ? cWhite : cRed), 0);
    // The open figure: both lines, no line back from its end to its start.
    EXPECT_EQ(p.At(77, 75), cBlack);
    EXPECT_EQ(p.At(93, 75), cBlack);
    EXPECT_EQ(p.At(85, 57), cWhite);
    EXPECT_EQ(p.At(85, 62), type == EMR_STROKEPATH ? cWhite : cRed);  // filled as if closed
    EXPECT_EQ(p.At(85, 70), type == EMR_STROKEPATH ? cWhite : cRed);
  }
}

namespace {
// A BITBLT, STRETCHBLT or ALPHABLEND record's words: destination, raster operation (or blend
// function), source corner and size (the last two not in BITBLT) and the bitmap (header and
// bits as words; none when empty).
std::vector<uint32_t> Blt(uint32_t Type, int32_t X, int32_t Y, int32_t W, int32_t H, uint32_t Rop, int32_t Xs,
                          int32_t Ys, int32_t Ws, int32_t Hs, const std::vector<uint32_t>& Bmi,
                          const std::vector<uint32_t>& Bits) {
  const uint32_t fixed = Type == EMR_BITBLT ? 100 : 108, cbBmi = uint32_t(4 * Bmi.size());
  std::vector<uint32_t> w = {0, 0, 0, 0, uint32_t(X), uint32_t(Y), uint32_t(W), uint32_t(H), Rop, uint32_t(Xs),
                             uint32_t(Ys), F(1), 0, 0, F(1), 0, 0, 0, 0, Bmi.empty() ? 0 : fixed, cbBmi,
                             Bmi.empty() ? 0 : fixed + cbBmi, uint32_t(4 * Bits.size())};
  if (Type != EMR_BITBLT) w.insert(w.end(), {uint32_t(Ws), uint32_t(Hs)});
  w.insert(w.end(), Bmi.begin(), Bmi.end());
  w.insert(w.end(), Bits.begin(), Bits.end());
  return w;
}
// Bitmap headers of W x H pixels (bottom-up) of the given bits a pixel.
std::vector<uint32_t> Bmi(int32_t W, int32_t H, uint32_t Bpp, uint32_t Bytes) {
  return {40, uint32_t(W), uint32_t(H), 1 | (Bpp << 16), 0, Bytes, 0, 0, 0, 0};
}
}  // namespace

// Block transfers of a bitmap of red and green over grey, one band a raster operation: copy,
// and, or, invert (xor), erase, inverted copy, and those without a source. BITBLT on the left
// (its size scaled by the world transform), STRETCHBLT on the right.
// The same on a 24-bit bitmap, whose pixels are not the 32-bit ones the operations work on.
TEST(Metafile, BlitsOfASourceBitmapByRasterOperation) {
  struct TRop {
    uint32_t Rop;
    TColor OnRed, OnGreen;
  };
  const TRop rops[] = {{0x00CC0020, cRed, cGreen},         {0x008800C6, 0x000080, 0x008000},
                       {0x00EE0086, 0x8080FF, 0x80FF80},   {0x00660046, 0x80807F, 0x807F80},
                       {0x00440328, 0x00007F, 0x007F00},   {0x00330008, 0xFFFF00, 0xFF00FF},
                       {0x00550009, 0x7F7F7F, 0x7F7F7F},   {0x00000042, cBlack, cBlack},
                       {0x00FF0062, cWhite, cWhite}};
  const std::vector<uint32_t> bmi = Bmi(2, 1, 24, 8), bits = {0x00FF0000, 0x000000FF};  // red, green
  TEmf e;
  e.NullPen().Brush(1, 0x808080).Box(EMR_RECTANGLE, 0, 0, 100, 100);
  e.Rec(EMR_SETWORLDTRANSFORM, {F(20), 0, 0, F(8), 0, 0});
  for (int r = 0; r < 9; ++r) e.Rec(EMR_BITBLT, Blt(EMR_BITBLT, 0, r, 2, 1, rops[r].Rop, 0, 0, 0, 0, bmi, bits));
  e.Rec(EMR_MODIFYWORLDTRANSFORM, {0, 0, 0, 0, 0, 0, 1});
  for (int r = 0; r < 9; ++r)
    e.Rec(EMR_STRETCHBLT, Blt(EMR_STRETCHBLT, 50, 8 * r, 40, 8, rops[r].Rop, 0, 0, 2, 1, bmi, bits));
  // Parts of a 2 x 2 bitmap (red green over blue black): the source corner counts from the top.
  const std::vector<uint32_t> bmi2 = Bmi(2, 2, 24, 16), bits2 = {0x000000FF, 0, 0x00FF0000, 0x000000FF};
  e.Rec(EMR_SETWORLDTRANSFORM, {F(10), 0, 0, F(10), 0, 0});
  e.Rec(EMR_BITBLT, Blt(EMR_BITBLT, 0, 8, 1, 1, 0x00CC0020, 1, 0, 0, 0, bmi2, bits2));  // green
  e.Rec(EMR_BITBLT, Blt(EMR_BITBLT, 1, 8, 1, 1, 0x00CC0020, 0, 1, 0, 0, bmi2, bits2));  // blue
  e.Rec(EMR_BITBLT, Blt(EMR_BITBLT, 0, 9, 2, 1, 0x00CC0020, 0, 1, 0, 0, bmi2, bits2));  // blue black
  e.Rec(EMR_MODIFYWORLDTRANSFORM, {0, 0, 0, 0, 0, 0, 1});
  e.Rec(EMR_STRETCHBLT, Blt(EMR_STRETCHBLT, 30, 80, 20, 20, 0x00CC0020, 1, 0, 1, 2, bmi2, bits2));  // green, black
  e.Rec(EMR_STRETCHBLT, Blt(EMR_STRETCHBLT, 90, 80, -40, 20, 0x00CC0020, 0, 0, 2, 1, bmi2, bits2));  // mirrored
  const std::vector<uint8_t> data = e.Finish();
  for (TPixelFormat format : {pf32bit, pf24bit}) {
    SCOPED_TRACE(format == pf32bit ? "32 bits" : "24 bits");
    TPlay p(data, 100, 100, format);
    p.Save(format == pf32bit ? "blits" : "blits-24");
    for (int r = 0; r < 9; ++r) {
      SCOPED_TRACE(r);
      EXPECT_EQ(Wrong(p, QRect(0, 8 * r, 20, 8), rops[r].OnRed), 0);
      EXPECT_EQ(Wrong(p, QRect(20, 8 * r, 20, 8), rops[r].OnGreen), 0);
      EXPECT_EQ(Wrong(p, QRect(50, 8 * r, 20, 8), rops[r].OnRed), 0);
      EXPECT_EQ(Wrong(p, QRect(70, 8 * r, 20, 8), rops[r].OnGreen), 0);
    }
    EXPECT_EQ(Wrong(p, QRect(40, 0, 10, 80), 0x808080), 0);
    EXPECT_EQ(Wrong(p, QRect(90, 0, 10, 100), 0x808080), 0);
    EXPECT_EQ(Wrong(p, QRect(0, 72, 50, 8), 0x808080), 0);
    EXPECT_EQ(Wrong(p, QRect(0, 80, 10, 10), cGreen), 0);
    EXPECT_EQ(Wrong(p, QRect(10, 80, 10, 10), cBlue), 0);
    EXPECT_EQ(Wrong(p, QRect(0, 90, 10, 10), cBlue), 0);
    EXPECT_EQ(Wrong(p, QRect(10, 90, 10, 10), cBlack), 0);
    EXPECT_EQ(Wrong(p, QRect(20, 80, 10, 20), 0x808080), 0);
    EXPECT_EQ(Wrong(p, QRect(30, 80, 20, 10), cGreen), 0);
    EXPECT_EQ(Wrong(p, QRect(30, 90, 20, 10), cBlack), 0);
    EXPECT_EQ(Wrong(p, QRect(50, 80, 20, 20), cGreen), 0);
    EXPECT_EQ(Wrong(p, QRect(70, 80, 20, 20), cRed), 0);
  }
}

// ETO_CLIPPED cuts the text and its opaque character cells to the rectangle; without it the
// same rectangle leaves the text whole. The clip ends with the record.
TEST(Metafile, TextClippedToItsRectangle) {
  for (bool clipped : {false, true}) {
    TEmf e(200, 100);
    Font(e, 1, -40, u"Arial");
    e.Rec(EMR_SETBKCOLOR, {cGreen}).Rec(EMR_SETTEXTCOLOR, {cBlue});
    TextW(e, 10, 10, u"HHHH", clipped ? 4 : 0, {}, {0, 0, 60, 30});
    TextW(e, 10, 60, u"HHHH");
    TPlay p(e.Finish(), 200, 100);
    SCOPED_TRACE(clipped);
    QRect top, cells;
    for (int y = 0; y < 55; ++y)
      for (int x = 0; x < 200; ++x) {
        if (p.At(x, y) == cGreen) cells |= QRect(x, y, 1, 1);
        else if (p.At(x, y) != cWhite) top |= QRect(x, y, 1, 1);
      }
    if (clipped) {
      EXPECT_LE(top.right(), 59);
      EXPECT_LE(top.bottom(), 29);
      EXPECT_LE(cells.right(), 59);
      EXPECT_LE(cells.bottom(), 29);
    } else {
      EXPECT_GT(top.right(), 90);
      EXPECT_GT(top.bottom(), 35);
      EXPECT_GT(cells.right(), 90);
    }
    EXPECT_GE(top.left(), 10);
    EXPECT_LT(top.left(), 16);
    EXPECT_EQ(p.At(12, 12), cGreen);  // a cell's corner
    // The next text is whole.
    QRect bottom;
    for (int y = 55; y < 100; ++y)
      for (int x = 0; x < 200; ++x)
        if (p.At(x, y) != cWhite && p.At(x, y) != cGreen) bottom |= QRect(x, y, 1, 1);
    EXPECT_GT(bottom.right(), 90);
  }
}

// ETO_PDY: the spacing array holds pairs, each character's horizontal and vertical advance; a
// positive vertical advance moves the next character up.
TEST(Metafile, TextSpacingPairsMoveCharactersAcrossAndUp) {
  for (int32_t dy : {0, 20, -20}) {
    TEmf e(200, 120);
    Font(e, 1, -40, u"Arial");
    e.Rec(EMR_SETBKMODE, {1});
    TextW(e, 10, 40, u"II", 0x2000, {100, dy, 10, 0});
    TPlay p(e.Finish(), 200, 120);
    p.Save("text-pdy");
    QRect first, second;
    for (int y = 0; y < 120; ++y)
      for (int x = 0; x < 200; ++x)
        if (p.At(x, y) != cWhite) (x < 100 ? first : second) |= QRect(x, y, 1, 1);
    SCOPED_TRACE(dy);
    ASSERT_FALSE(first.isEmpty());
    ASSERT_FALSE(second.isEmpty());
    EXPECT_NEAR(second.left() - first.left(), 100, 1);
    EXPECT_NEAR(second.top() - first.top(), -dy, 1);
    EXPECT_NEAR(second.bottom() - first.bottom(), -dy, 1);
  }
  // Updating the current position: the next text starts after both advances, 20 up.
  TEmf e(200, 120);
  Font(e, 1, -40, u"Arial");
  e.Rec(EMR_SETBKMODE, {1}).Rec(EMR_SETTEXTALIGN, {1}).Rec(EMR_MOVETOEX, {10, 40});
  TextW(e, 0, 0, u"I", 0x2000, {100, 20});
  TextW(e, 0, 0, u"I");
  TPlay p(e.Finish(), 200, 120);
  QRect first, second;
  for (int y = 0; y < 120; ++y)
    for (int x = 0; x < 200; ++x)
      if (p.At(x, y) != cWhite) (x < 100 ? first : second) |= QRect(x, y, 1, 1);
  EXPECT_NEAR(second.left() - first.left(), 100, 1);
  EXPECT_NEAR(second.top() - first.top(), -20, 1);
}

// ALPHABLEND with the source's own alpha (premultiplied colours): opaque red, blue at half
// alpha and a transparent pixel, over white and over black, at full and half constant alpha;
// without the source alpha flag the same bitmap is opaque. Destination = source x constant
// alpha + destination x (1 - source alpha x constant alpha).
TEST(Metafile, AlphaBlendBySourceAlpha) {
  struct TCase {
    uint32_t Constant;
    bool SourceAlpha;
    int OnWhite[3][3], OnBlack[3][3];  // red, green, blue of the three pixels
  };
  const TCase cases[] = {
      {255, true, {{255, 0, 0}, {127, 127, 255}, {255, 255, 255}}, {{255, 0, 0}, {0, 0, 128}, {0, 0, 0}}},
      {128, true, {{255, 127, 127}, {191, 191, 255}, {255, 255, 255}}, {{128, 0, 0}, {0, 0, 64}, {0, 0, 0}}},
      {255, false, {{255, 0, 0}, {0, 0, 128}, {0, 0, 0}}, {{255, 0, 0}, {0, 0, 128}, {0, 0, 0}}},
  };
  const std::vector<uint32_t> bmi = Bmi(3, 1, 32, 12), bits = {0xFFFF0000, 0x80000080, 0};
  for (const TCase& c : cases)
    for (int device = 0; device < 3; ++device) {  // 32-bit and 24-bit bitmaps, a pixmap
      const uint32_t blend = (c.Constant << 16) | (c.SourceAlpha ? 1u << 24 : 0);
      TEmf e;
      e.NullPen().Brush(1, cBlack).Box(EMR_RECTANGLE, 0, 50, 100, 100);
      e.Rec(EMR_ALPHABLEND, Blt(EMR_ALPHABLEND, 0, 0, 90, 30, blend, 0, 0, 3, 1, bmi, bits));
      e.Rec(EMR_ALPHABLEND, Blt(EMR_ALPHABLEND, 0, 60, 90, 30, blend, 0, 0, 3, 1, bmi, bits));
      const std::vector<uint8_t> data = e.Finish();
      SCOPED_TRACE(std::to_string(c.Constant) + (c.SourceAlpha ? " source alpha" : "") + " on device " +
                   std::to_string(device));
      QImage pixmap;
      if (device == 2) {
        QPixmap pm(100, 100);
        pm.fill(Qt::white);
        TCanvas canvas;
        canvas.SetDevice(&pm);
        TMetafile m;
        m.LoadFromBytes(data.data(), data.size());
        ASSERT_TRUE(PlayEnhMetaFile(&canvas, m, TRect{0, 0, 100, 100}));
        canvas.Release();
        pixmap = pm.toImage();
      }
      TPlay p(data, 100, 100, device == 1 ? pf24bit : pf32bit);
      for (int i = 0; i < 3; ++i)
        for (int row = 0; row < 2; ++row) {
          const int x = 30 * i + 15, y = row ? 75 : 15;
          const QRgb q = pixmap.isNull() ? 0 : pixmap.pixel(x, y);
          const TColor got = device == 2 ? TColor(qRed(q) | (qGreen(q) << 8) | (qBlue(q) << 16)) : p.At(x, y);
          const int* want = row ? c.OnBlack[i] : c.OnWhite[i];
          EXPECT_NEAR(int(got & 0xFF), want[0], 1) << i << " " << row;
          EXPECT_NEAR(int((got >> 8) & 0xFF), want[1], 1) << i << " " << row;
          EXPECT_NEAR(int((got >> 16) & 0xFF), want[2], 1) << i << " " << row;
          if (c.SourceAlpha && i == 2) {
            EXPECT_EQ(got, row ? cBlack : cWhite);  // transparent: untouched
          }
        }
      EXPECT_EQ(p.At(95, 15), cWhite);  // beyond the destination
    }
}

// A negative source extent mirrors the bitmap as a negative destination extent does, across
// and down; the source rectangle then runs back from the corner the record names.
TEST(Metafile, NegativeSourceExtentsMirror) {
  const std::vector<uint32_t> bmi = Bmi(2, 2, 24, 16), bits = {0x000000FF, 0, 0x00FF0000, 0x000000FF};
  TEmf e;
  e.Rec(EMR_STRETCHBLT, Blt(EMR_STRETCHBLT, 0, 0, 40, 20, 0x00CC0020, 2, 0, -2, 1, bmi, bits));   // green red
  e.Rec(EMR_STRETCHBLT, Blt(EMR_STRETCHBLT, 50, 0, 40, 40, 0x00CC0020, 0, 2, 2, -2, bmi, bits));  // upside down
  std::vector<uint8_t> s = Stretch(0, 50, 40, 20, 0x00CC0020);  // red green, across from 2 back to 0
  const int32_t two = 2, minusTwo = -2;
  std::memcpy(s.data() + 24, &two, 4);
  std::memcpy(s.data() + 32, &minusTwo, 4);
  e.Raw(EMR_STRETCHDIBITS, s);
  TPlay p(e.Finish());
  p.Save("mirrored-source");
  EXPECT_EQ(Wrong(p, QRect(0, 0, 20, 20), cGreen), 0);
  EXPECT_EQ(Wrong(p, QRect(20, 0, 20, 20), cRed), 0);
  EXPECT_EQ(Wrong(p, QRect(50, 0, 20, 20), cBlue), 0);
  EXPECT_EQ(Wrong(p, QRect(70, 0, 20, 20), cBlack), 0);
  EXPECT_EQ(Wrong(p, QRect(50, 20, 20, 20), cRed), 0);
  EXPECT_EQ(Wrong(p, QRect(70, 20, 20, 20), cGreen), 0);
  EXPECT_EQ(Wrong(p, QRect(0, 50, 20, 20), cGreen), 0);
  EXPECT_EQ(Wrong(p, QRect(20, 50, 20, 20), cRed), 0);
  EXPECT_EQ(Wrong(p, QRect(0, 20, 50, 30), cWhite), 0);
}

// Canvas drawing into bitmaps, checked pixel by pixel: shape edges, pen and brush styles, pen
// modes, clipping, copies, bitmaps and their BMP files, and the picture registry.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <climits>
#include <cstring>
#include <filesystem>
#include <thread>

#include "platform/Graphics.h"
#include "platform/Regions.h"
#include "tests/common/TestSupport.h"

using namespace platform;

namespace {

std::unique_ptr<TBitmap> White(int w, int h, TPixelFormat pf = pf32bit) {
  auto b = std::make_unique<TBitmap>();
  b->SetPixelFormat(pf);
  b->SetSize(w, h);
  return b;
}

// The pixels of a row as a string: '#' for Ink, '.' for anything else.
std::string Row(TBitmap& b, int y, TColor ink, int from, int to) {
  std::string s;
  for (int x = from; x < to; ++x) s += b.Canvas()->Pixel(x, y) == ink ? '#' : '.';
  return s;
}

}  // namespace

TEST(Canvas, RectangleLeavesOutRightAndBottomEdges) {
  auto b = White(12, 10);
  TCanvas* c = b->Canvas();
  c->Pen()->SetColor(clBlack);
  c->Brush()->SetColor(clRed);
  c->Rectangle(2, 2, 8, 6);
  EXPECT_EQ(c->Pixel(2, 2), clBlack);
  EXPECT_EQ(c->Pixel(7, 5), clBlack);
  EXPECT_EQ(c->Pixel(8, 5), clWhite);
  EXPECT_EQ(c->Pixel(7, 6), clWhite);
  EXPECT_EQ(c->Pixel(3, 3), clRed);
  EXPECT_EQ(c->Pixel(6, 4), clRed);
  // Without a pen the fill is one pixel smaller in each direction.
  auto n = White(12, 10);
  n->Canvas()->Pen()->SetStyle(psClear);
  n->Canvas()->Brush()->SetColor(clBlue);
  n->Canvas()->Rectangle(2, 2, 8, 6);
  EXPECT_EQ(Row(*n, 2, clBlue, 0, 12), "..#####.....");
  EXPECT_EQ(Row(*n, 5, clBlue, 0, 12), "............");
}

TEST(Canvas, LinesLeaveOutTheirLastPoint) {
  auto b = White(10, 4);
  TCanvas* c = b->Canvas();
  c->MoveTo(1, 1);
  c->LineTo(6, 1);
  EXPECT_EQ(Row(*b, 1, clBlack, 0, 10), ".#####....");
  EXPECT_EQ(c->PenPos(), Point(6, 1));
  c->Polyline({{0, 3}, {3, 3}, {3, 0}});
  EXPECT_EQ(Row(*b, 3, clBlack, 0, 10), "####......");
  EXPECT_EQ(c->Pixel(3, 0), clWhite);
}

TEST(Canvas, DashedPensAndTheirGaps) {
  auto b = White(24, 3);
  TCanvas* c = b->Canvas();
  c->Pen()->SetStyle(psDot);
  c->SetBkMode(TRANSPARENT);
  c->MoveTo(0, 0);
  c->LineTo(24, 0);
  EXPECT_EQ(Row(*b, 0, clBlack, 0, 12), "###...###...");
  // Opaque background: gaps take the background colour.
  c->SetBkMode(OPAQUE);
  c->SetBkColor(clLime);
  c->MoveTo(0, 2);
  c->LineTo(24, 2);
  EXPECT_EQ(Row(*b, 2, clBlack, 0, 12), "###...###...");
  EXPECT_EQ(Row(*b, 2, clLime, 0, 12), "...###...###");
  // Wide pens are solid whatever their style.
  c->Pen()->SetWidth(3);
  c->Pen()->SetStyle(psDash);
  EXPECT_EQ(c->Pen()->Width(), 3);
}

TEST(Canvas, HatchedBrushesFillGapsOnlyWhenOpaque) {
  auto b = White(16, 16);
  TCanvas* c = b->Canvas();
  c->Brush()->SetStyle(bsClear);
  c->Brush()->SetColor(clBlue);  // a colour makes a clear brush solid again
  EXPECT_EQ(c->Brush()->Style(), bsSolid);
  c->Brush()->SetStyle(bsCross);
  c->SetBkMode(TRANSPARENT);
  c->FillRect(Rect(0, 0, 16, 8));
  int blue = 0, white = 0;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 16; ++x) (c->Pixel(x, y) == clBlue ? blue : white) += c->Pixel(x, y) == clWhite || c->Pixel(x, y) == clBlue;
  EXPECT_GT(blue, 8);
  EXPECT_GT(white, 8);
  c->SetBkMode(OPAQUE);
  c->SetBkColor(clYellow);
  c->FillRect(Rect(0, 8, 16, 16));
  for (int y = 8; y < 16; ++y)
    for (int x = 0; x < 16; ++x) EXPECT_TRUE(c->Pixel(x, y) == clBlue || c->Pixel(x, y) == clYellow);
}

TEST(Canvas, BrushChangeSetsTheBackgroundMode) {
  TCanvas c;
  EXPECT_EQ(c.BkMode(), OPAQUE);
  c.Brush()->SetStyle(bsClear);
  EXPECT_EQ(c.BkMode(), TRANSPARENT);
  c.Brush()->SetColor(clGreen);
  EXPECT_EQ(c.BkMode(), OPAQUE);
  EXPECT_EQ(c.BkColor(), clGreen);
  EXPECT_EQ(c.SetBkMode(TRANSPARENT), OPAQUE);
  EXPECT_EQ(c.BkMode(), TRANSPARENT);
}

TEST(Canvas, XorTwiceRestoresEveryPixel) {
  for (TPixelFormat pf : {pf24bit, pf32bit}) {
    auto b = White(40, 30, pf);
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x < 40; ++x) b->Canvas()->SetPixel(x, y, static_cast<TColor>(RGB(x * 6, y * 8, (x * y) & 0xFF)));
    auto before = std::make_unique<TBitmap>();
    before->Assign(b.get());
    TCanvas* c = b->Canvas();
    c->Pen()->SetMode(pmXor);
    c->Pen()->SetColor(clWhite);
    c->Brush()->SetColor(clAqua);
    auto shapes = [&] {
      c->Rectangle(2, 2, 20, 15);
      c->Ellipse(10, 5, 38, 28);
      c->MoveTo(0, 29);
      c->LineTo(39, 0);
      c->Polygon({{5, 25}, {15, 12}, {25, 25}});
    };
    shapes();
    EXPECT_NE(b->Canvas()->Pixel(2, 2), before->Canvas()->Pixel(2, 2));
    // Inside a rectangle the brush colour is combined exactly once.
    TColor d = before->Canvas()->Pixel(5, 4);
    EXPECT_EQ(static_cast<uint32_t>(b->Canvas()->Pixel(5, 4)), (static_cast<uint32_t>(d) ^ clAqua) & 0xFFFFFF);
    shapes();
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x < 40; ++x) ASSERT_EQ(b->Canvas()->Pixel(x, y), before->Canvas()->Pixel(x, y)) << x << "," << y;
  }
}

TEST(Canvas, PenModesCombinePenAndScreen) {
  struct Case { TPenMode mode; uint32_t expect; };
  // Pen 0x00F0F0 (as $00BBGGRR) over screen 0x0F0FF0.
  const uint32_t p = 0x00F0F0, d = 0x0F0FF0;
  const Case cases[] = {{pmBlack, 0}, {pmWhite, 0xFFFFFF}, {pmNop, d}, {pmNot, ~d}, {pmCopy, p},
                        {pmNotCopy, ~p}, {pmMerge, p | d}, {pmMask, p & d}, {pmXor, p ^ d},
                        {pmNotXor, ~(p ^ d)}, {pmMaskPenNot, p & ~d}, {pmMergeNotPen, ~p | d}};
  for (const Case& k : cases) {
    auto b = White(4, 4);
    TCanvas* c = b->Canvas();
    c->Brush()->SetColor(static_cast<TColor>(d));
    c->FillRect(Rect(0, 0, 4, 4));
    c->Pen()->SetColor(static_cast<TColor>(p));
    c->Pen()->SetMode(k.mode);
    c->MoveTo(0, 1);
    c->LineTo(4, 1);
    EXPECT_EQ(static_cast<uint32_t>(c->Pixel(2, 1)), k.expect & 0xFFFFFF) << int(k.mode);
    EXPECT_EQ(static_cast<uint32_t>(c->Pixel(2, 2)), d);
  }
}

TEST(Canvas, FillFrameAndFocusRectangles) {
  auto b = White(10, 8);
  TCanvas* c = b->Canvas();
  c->Brush()->SetColor(clRed);
  c->FillRect(Rect(1, 1, 4, 3));
  EXPECT_EQ(Row(*b, 1, clRed, 0, 6), ".###..");
  EXPECT_EQ(Row(*b, 3, clRed, 0, 6), "......");
  c->Brush()->SetColor(clBlue);
  c->FrameRect(Rect(5, 2, 9, 7));
  EXPECT_EQ(Row(*b, 2, clBlue, 4, 10), ".####.");
  EXPECT_EQ(Row(*b, 4, clBlue, 4, 10), ".#..#.");
  EXPECT_EQ(Row(*b, 6, clBlue, 4, 10), ".####.");
  auto before = std::make_unique<TBitmap>();
  before->Assign(b.get());
  c->DrawFocusRect(Rect(0, 0, 10, 8));
  EXPECT_EQ(c->Pixel(0, 0), clBlack);  // white inverted
  EXPECT_EQ(c->Pixel(1, 0), clWhite);
  c->DrawFocusRect(Rect(0, 0, 10, 8));
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 10; ++x) ASSERT_EQ(c->Pixel(x, y), before->Canvas()->Pixel(x, y));
}

TEST(Canvas, ClippingLimitsDrawing) {
  auto b = White(10, 10);
  TCanvas* c = b->Canvas();
  EXPECT_EQ(c->ClipRect(), Rect(0, 0, 10, 10));
  c->IntersectClipRect(Rect(2, 2, 6, 6));
  EXPECT_EQ(c->ClipRect(), Rect(2, 2, 6, 6));
  c->Brush()->SetColor(clRed);
  c->FillRect(Rect(0, 0, 10, 10));
  c->SetPixel(0, 0, clBlue);  // outside: ignored
  EXPECT_EQ(Row(*b, 3, clRed, 0, 10), "..####....");
  EXPECT_EQ(c->Pixel(0, 0), clWhite);
  c->ExcludeClipRect(Rect(3, 3, 5, 5));
  c->Brush()->SetColor(clLime);
  c->FillRect(Rect(0, 0, 10, 10));
  EXPECT_EQ(Row(*b, 3, clLime, 0, 10), "..#..#....");
  TRegion r = TRegion::Ellipse(0, 0, 10, 10);
  c->SelectClipRgn(&r);
  EXPECT_EQ(c->ClipRect(), Rect(0, 0, 10, 10));
  c->SelectClipRgn(nullptr);
  c->Brush()->SetColor(clBlack);
  c->FillRect(Rect(0, 0, 10, 10));
  EXPECT_EQ(c->Pixel(9, 9), clBlack);
}

TEST(Canvas, EllipseRoundRectAndPolygonStayInTheirBoxes) {
  auto b = White(30, 20);
  TCanvas* c = b->Canvas();
  c->Brush()->SetColor(clRed);
  c->Ellipse(0, 0, 20, 10);
  EXPECT_EQ(c->Pixel(10, 5), clRed);
  EXPECT_EQ(c->Pixel(0, 0), clWhite);
  EXPECT_EQ(c->Pixel(19, 9), clWhite);
  EXPECT_EQ(c->Pixel(20, 5), clWhite);
  c->RoundRect(0, 10, 20, 20, 8, 8);
  EXPECT_EQ(c->Pixel(0, 10), clWhite);
  EXPECT_EQ(c->Pixel(10, 10), clBlack);
  EXPECT_EQ(c->Pixel(10, 15), clRed);
  c->Polygon({{22, 2}, {29, 2}, {29, 9}});
  EXPECT_EQ(c->Pixel(28, 4), clRed);
  EXPECT_EQ(c->Pixel(23, 8), clWhite);
}

TEST(Canvas, CopyRectKeepsBytesAndMirrors) {
  auto src = White(4, 2);
  auto* row = static_cast<uint8_t*>(src->ScanLine(0));
  for (int i = 0; i < 16; ++i) row[i] = static_cast<uint8_t>(i * 16 + 1);  // fourth bytes too
  auto dst = White(6, 4);
  dst->Canvas()->CopyRect(Rect(1, 1, 5, 2), src->Canvas(), Rect(0, 0, 4, 1));
  auto* d = static_cast<uint8_t*>(dst->ScanLine(1));
  EXPECT_EQ(0, std::memcmp(d + 4, row, 16));
  // Source corners given right-1/left-1 copy the row mirrored.
  auto m = White(4, 1);
  m->Canvas()->CopyRect(Rect(0, 0, 4, 1), src->Canvas(), Rect(3, 0, -1, 1));
  for (int x = 0; x < 4; ++x) EXPECT_EQ(m->Canvas()->Pixel(x, 0), src->Canvas()->Pixel(3 - x, 0));
  // Stretching doubles each pixel.
  auto s = White(8, 2);
  s->Canvas()->CopyRect(Rect(0, 0, 8, 2), src->Canvas(), Rect(0, 0, 4, 1));
  EXPECT_EQ(s->Canvas()->Pixel(6, 1), src->Canvas()->Pixel(3, 0));
  // Overlapping copies within one bitmap read the pixels as they were.
  auto o = White(6, 1);
  for (int i = 0; i < 6; ++i) o->Canvas()->SetPixel(i, 0, static_cast<TColor>(RGB(i * 40, 0, 0)));
  o->Canvas()->CopyRect(Rect(1, 0, 6, 1), o->Canvas(), Rect(0, 0, 5, 1));
  for (int i = 1; i < 6; ++i) EXPECT_EQ(o->Canvas()->Pixel(i, 0), static_cast<TColor>(RGB((i - 1) * 40, 0, 0)));
  // A canvas over memory it does not own keeps writing into that memory.
  std::vector<uint32_t> mem(4 * 2, 0xFF000000u);
  QImage ext(reinterpret_cast<uchar*>(mem.data()), 4, 2, 16, QImage::Format_RGB32);
  TCanvas ec;
  ec.SetDevice(&ext);
  ec.SetPixel(0, 0, clWhite);
  ec.CopyRect(Rect(1, 1, 4, 2), &ec, Rect(0, 0, 3, 1));
  ec.Release();
  EXPECT_EQ(mem[5] & 0xFFFFFF, 0xFFFFFFu);
  // A source rectangle reaching outside the source copies what exists to the matching part.
  auto part = White(8, 1);
  part->Canvas()->CopyRect(Rect(0, 0, 8, 1), src->Canvas(), Rect(-4, 0, 4, 1));
  EXPECT_EQ(part->Canvas()->Pixel(3, 0), clWhite);
  for (int x = 4; x < 8; ++x) EXPECT_EQ(part->Canvas()->Pixel(x, 0), src->Canvas()->Pixel(x - 4, 0));
  // Raster copy modes.
  auto x = White(4, 1);
  x->Canvas()->SetCopyMode(cmDstInvert);
  x->Canvas()->CopyRect(Rect(0, 0, 2, 1), src->Canvas(), Rect(0, 0, 2, 1));
  EXPECT_EQ(x->Canvas()->Pixel(0, 0), clBlack);
  EXPECT_EQ(x->Canvas()->Pixel(2, 0), clWhite);
}

TEST(Canvas, DrawTransparentBitmapAndBrushCopy) {
  auto g = White(4, 4);
  g->Canvas()->Brush()->SetColor(clRed);
  g->Canvas()->FillRect(Rect(1, 1, 3, 3));
  g->Canvas()->SetPixel(0, 3, clLime);  // bottom-left: the automatic transparent colour
  g->Canvas()->Brush()->SetColor(clLime);
  g->Canvas()->FillRect(Rect(0, 0, 4, 1));
  EXPECT_EQ(g->TransparentColor(), clLime);
  g->SetTransparent(true);
  auto b = White(8, 8);
  b->Canvas()->Brush()->SetColor(clBlue);
  b->Canvas()->FillRect(Rect(0, 0, 8, 8));
  b->Canvas()->Draw(2, 2, g.get());
  EXPECT_EQ(b->Canvas()->Pixel(3, 3), clRed);
  EXPECT_EQ(b->Canvas()->Pixel(2, 2), clBlue);  // lime left out
  EXPECT_EQ(b->Canvas()->Pixel(2, 3), clWhite);
  g->SetTransparentColor(clWhite);
  EXPECT_EQ(g->TransparentMode(), tmFixed);
  auto bc = White(4, 4);
  bc->Canvas()->Brush()->SetColor(clYellow);
  bc->Canvas()->BrushCopy(Rect(0, 0, 4, 4), g.get(), Rect(0, 0, 4, 4), clLime);
  EXPECT_EQ(bc->Canvas()->Pixel(0, 0), clYellow);
  EXPECT_EQ(bc->Canvas()->Pixel(1, 1), clRed);
}

TEST(Canvas, FramesAndEdges) {
  auto b = White(10, 10);
  TCanvas* c = b->Canvas();
  TRect r = Rect(0, 0, 10, 10);
  Frame3D(c, r, clRed, clBlue, 2);
  EXPECT_EQ(r, Rect(2, 2, 8, 8));
  EXPECT_EQ(c->Pixel(0, 0), clRed);
  EXPECT_EQ(c->Pixel(8, 0), clRed);
  EXPECT_EQ(c->Pixel(9, 0), clBlue);  // the top-right corner belongs to the bottom colour
  EXPECT_EQ(c->Pixel(0, 9), clBlue);
  EXPECT_EQ(c->Pixel(1, 1), clRed);
  EXPECT_EQ(c->Pixel(8, 8), clBlue);
  EXPECT_EQ(c->Pixel(2, 2), clWhite);

  auto e = White(10, 10);
  TRect er = Rect(0, 0, 10, 10);
  ASSERT_TRUE(DrawEdge(e->Canvas(), er, EDGE_RAISED, BF_RECT | BF_ADJUST | BF_MIDDLE));
  EXPECT_EQ(er, Rect(2, 2, 8, 8));
  TCanvas* ec = e->Canvas();
  EXPECT_EQ(ec->Pixel(0, 0), ColorToRGB(cl3DLight));
  EXPECT_EQ(ec->Pixel(9, 9), ColorToRGB(cl3DDkShadow));
  EXPECT_EQ(ec->Pixel(1, 1), ColorToRGB(clBtnHighlight));
  EXPECT_EQ(ec->Pixel(8, 8), ColorToRGB(clBtnShadow));
  EXPECT_EQ(ec->Pixel(5, 5), ColorToRGB(clBtnFace));
  TRect sr = Rect(0, 0, 10, 10);
  DrawEdge(ec, sr, BDR_SUNKENOUTER, BF_RECT);
  EXPECT_EQ(sr, Rect(0, 0, 10, 10));
  EXPECT_EQ(ec->Pixel(0, 0), ColorToRGB(clBtnShadow));
  EXPECT_EQ(ec->Pixel(9, 0), ColorToRGB(clBtnHighlight));
}

TEST(Bitmap, SizeFormatAndScanLines) {
  TBitmap b;
  EXPECT_TRUE(b.Empty());
  b.SetWidth(5);
  EXPECT_EQ(b.Width(), 5);  // kept while the height is still 0
  EXPECT_TRUE(b.Empty());
  b.SetHeight(3);
  EXPECT_FALSE(b.Empty());
  b.Canvas()->SetPixel(1, 1, static_cast<TColor>(RGB(10, 20, 30)));
  b.SetPixelFormat(pf24bit);
  auto* row = static_cast<uint8_t*>(b.ScanLine(1));
  EXPECT_EQ(row[3], 30);  // blue, green, red
  EXPECT_EQ(row[4], 20);
  EXPECT_EQ(row[5], 10);
  row[0] = 0xFF;
  row[1] = row[2] = 0;
  EXPECT_EQ(b.Canvas()->Pixel(0, 1), clBlue);
  b.SetSize(7, 4);  // grows, keeping the old pixels and whitening the new
  EXPECT_EQ(b.Canvas()->Pixel(1, 1), static_cast<TColor>(RGB(10, 20, 30)));
  EXPECT_EQ(b.Canvas()->Pixel(6, 3), clWhite);
  b.SetPixelFormat(pf16bit);  // no 16-bit storage: kept as 24 bits
  EXPECT_EQ(b.PixelFormat(), pf24bit);
  try {
    b.ScanLine(4);
    FAIL();
  } catch (const EInvalidGraphicOperation& e) {
    EXPECT_EQ(e.Message, "Scan line index out of range");
  }
  EXPECT_THROW(b.SetSize(100000, 100000), EOutOfMemory);
  EXPECT_EQ(b.Width(), 7);
}

TEST(Bitmap, BmpRoundTripsKeepPixels) {
  for (TPixelFormat pf : {pf24bit, pf32bit}) {
    auto b = White(5, 3, pf);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 5; ++x) b->Canvas()->SetPixel(x, y, static_cast<TColor>(RGB(x * 50, y * 90, 7)));
    if (pf == pf32bit) static_cast<uint8_t*>(b->ScanLine(2))[3] = 0x80;
    TMemoryStream s;
    b->SaveToStream(&s);
    s.SetPosition(0);
    uint8_t head[30];
    s.ReadBuffer(head, 30);
    EXPECT_EQ(head[0], 'B');
    EXPECT_EQ(head[28], pf == pf32bit ? 32 : 24);
    s.SetPosition(0);
    TBitmap c;
    c.LoadFromStream(&s);
    EXPECT_EQ(c.PixelFormat(), pf);
    ASSERT_EQ(c.Width(), 5);
    ASSERT_EQ(c.Height(), 3);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 5; ++x) EXPECT_EQ(c.Canvas()->Pixel(x, y), b->Canvas()->Pixel(x, y));
    if (pf == pf32bit) {
      EXPECT_EQ(static_cast<uint8_t*>(c.ScanLine(2))[3], 0x80);
    }
  }
  // Equal pixels make equal bitmaps.
  auto e1 = White(3, 3), e2 = White(3, 3);
  EXPECT_TRUE(e1->Equals(e2.get()));
  e2->Canvas()->SetPixel(1, 1, clRed);
  EXPECT_FALSE(e1->Equals(e2.get()));
  EXPECT_TRUE(TBitmap().Equals(std::make_unique<TBitmap>().get()));
  TMemoryStream bad;
  bad.WriteBuffer("BMxx", 4);
  bad.SetPosition(0);
  TBitmap c;
  try {
    c.LoadFromStream(&bad);
    FAIL();
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(e.Message, "Bitmap image is not valid");
  }
  EXPECT_TRUE(c.Empty());
}

namespace {
class TFakeGraphic : public TGraphic {
 public:
  std::string ClassName() const override { return "TFakeGraphic"; }
  bool Empty() const override { return false; }
  int32_t Width() const override { return 3; }
  int32_t Height() const override { return 2; }
  void SetWidth(int32_t) override {}
  void SetHeight(int32_t) override {}
  void LoadFromStream(TStream* s) override { s->ReadBuffer(&FByte, 1); }
  void SaveToStream(TStream* s) override { s->WriteBuffer(&FByte, 1); }
  void Draw(TCanvas* c, const TRect& r) override {
    c->Brush()->SetColor(clRed);
    c->FillRect(r);
  }
  void Assign(const TPersistent* s) override { FByte = dynamic_cast<const TFakeGraphic&>(*s).FByte; }
  uint8_t FByte = 0;
};
}  // namespace

TEST(Picture, RegistryPicksTheGraphicByExtension) {
  std::string dir = kdtest::TempDir();
  TPicture p;
  try {
    p.LoadFromFile(dir + "/a.xyz");
    FAIL();
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(e.Message, "Unknown picture file extension (.xyz)");
  }
  RegisterFileFormat("XYZ", "Fake pictures", [] { return std::make_unique<TFakeGraphic>(); });
  kdtest::WriteFileBytes(dir + "/a.xyz", {42});
  p.LoadFromFile(dir + "/a.xyz");
  ASSERT_NE(dynamic_cast<TFakeGraphic*>(p.Graphic()), nullptr);
  EXPECT_EQ(static_cast<TFakeGraphic*>(p.Graphic())->FByte, 42);
  EXPECT_NE(GraphicFilter().find("Fake pictures (*.xyz)|*.xyz"), std::string::npos);
  EXPECT_EQ(GraphicFilter().rfind("All (*.bmp;", 0), 0u);
  // Another graphic assigned to a bitmap is drawn onto it.
  TBitmap b;
  b.Assign(p.Graphic());
  EXPECT_EQ(b.Width(), 3);
  EXPECT_EQ(b.Canvas()->Pixel(2, 1), clRed);
  // A copy of the picture holds its own graphic of the same class.
  TPicture q;
  q.Assign(&p);
  ASSERT_NE(dynamic_cast<TFakeGraphic*>(q.Graphic()), nullptr);
  EXPECT_NE(q.Graphic(), p.Graphic());
  // Saved in the format its name says, converted where needed, so that every file reads back.
  p.SaveToFile(dir + "/b.XYZ");
  EXPECT_EQ(kdtest::ReadFileBytes(dir + "/b.XYZ"), std::vector<uint8_t>{42});
  p.SaveToFile(dir + "/b.bmp");
  TPicture asBitmap;
  asBitmap.LoadFromFile(dir + "/b.bmp");
  ASSERT_NE(dynamic_cast<TBitmap*>(asBitmap.Graphic()), nullptr);
  EXPECT_EQ(asBitmap.Width(), 3);
  EXPECT_EQ(asBitmap.Bitmap()->Canvas()->Pixel(2, 1), clRed);
  UnregisterFileFormat("xyz");
  EXPECT_FALSE(FindFileFormat("xyz"));
  // A name no class reads is refused before anything is written.
  try {
    asBitmap.SaveToFile(dir + "/c.xyz");
    FAIL();
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(e.Message, "Unknown picture file extension (.xyz)");
  }
  EXPECT_FALSE(std::filesystem::exists(dir + "/c.xyz"));
  // Bitmaps save and load by extension.
  auto w = White(2, 2);
  TPicture bp;
  int changes = 0;
  bp.OnChange = [&](TObject*) { ++changes; };
  bp.Bitmap()->Assign(w.get());
  bp.SaveToFile(dir + "/W.BMP");
  TPicture back;
  back.LoadFromFile(dir + "/W.BMP");
  EXPECT_EQ(back.Width(), 2);
  EXPECT_GE(changes, 2);
  // An unreadable file raises the picture error and the previous picture stays.
  kdtest::WriteFileBytes(dir + "/bad.bmp", {'B', 'M', 1, 2, 3});
  TGraphic* previous = back.Graphic();
  EXPECT_THROW(back.LoadFromFile(dir + "/bad.bmp"), EInvalidGraphic);
  EXPECT_EQ(back.Graphic(), previous);
  EXPECT_THROW(back.LoadFromFile(dir + "/missing.bmp"), EFOpenError);
  EXPECT_EQ(back.Width(), 2);
}

TEST(Canvas, SampleSheetForALook) {
  TScopedTextMeasurer fake(nullptr);
  auto b = White(360, 200, pf24bit);
  TCanvas* c = b->Canvas();
  c->Brush()->SetColor(clBtnFace);
  c->FillRect(Rect(0, 0, 360, 200));
  c->Pen()->SetColor(clNavy);
  c->Brush()->SetColor(clYellow);
  c->Rectangle(10, 10, 60, 50);
  c->Ellipse(70, 10, 130, 50);
  c->RoundRect(140, 10, 200, 50, 16, 16);
  c->Polygon({{210, 50}, {235, 10}, {260, 50}});
  c->Brush()->SetStyle(bsDiagCross);
  c->Brush()->SetColor(clGreen);
  c->SetBkColor(clWhite);
  c->Rectangle(270, 10, 350, 50);
  TRect r = Rect(10, 60, 80, 100);
  DrawEdge(c, r, EDGE_RAISED, BF_RECT | BF_MIDDLE);
  r = Rect(90, 60, 160, 100);
  DrawEdge(c, r, EDGE_SUNKEN, BF_RECT);
  r = Rect(170, 60, 240, 100);
  Frame3D(c, r, clBtnHighlight, clBtnShadow, 1);
  c->Pen()->SetStyle(psDash);
  c->Pen()->SetColor(clRed);
  c->MoveTo(250, 80);
  c->LineTo(350, 80);
  c->DrawFocusRect(Rect(250, 60, 350, 100));
  c->Brush()->SetStyle(bsClear);
  c->Font()->SetName("Arial");
  c->Font()->SetSize(10);
  c->Font()->SetColor(clBlack);
  TRect t = Rect(10, 110, 170, 130);
  c->DrawText("&File and && more", t, DT_SINGLELINE | DT_VCENTER);
  t = Rect(10, 130, 110, 150);
  c->DrawText("A long line that ends in an ellipsis", t, DT_SINGLELINE | DT_END_ELLIPSIS);
  t = Rect(10, 150, 170, 170);
  c->DrawText("C:\\Program Files\\Kadrilo\\Documents\\Oefening.hsf", t, DT_SINGLELINE | DT_PATH_ELLIPSIS);
  t = Rect(180, 110, 350, 190);
  c->Brush()->SetColor(clWhite);
  c->FillRect(t);
  c->DrawText("Word break wraps this text over several lines, centred.", t, DT_WORDBREAK | DT_CENTER);
  c->Brush()->SetColor(clInfoBk);
  c->TextOut(10, 175, "Opaque TextOut");
  c->Release();
  std::string path = kdtest::OutputDir() + "/canvas-sample.png";
  EXPECT_TRUE(b->Image().save(QString::fromStdString(path)));
}

TEST(Canvas, PatternOperations) {
  // An 8 x 8 checker as the brush pattern, anchored at the device origin.
  auto checker = White(8, 8);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) checker->Canvas()->SetPixel(x, y, ((x + y) & 1) ? clBlack : clWhite);
  auto b = White(20, 10);
  TCanvas* c = b->Canvas();
  c->Brush()->SetColor(clRed);
  c->FillRect(Rect(0, 0, 20, 10));
  c->Brush()->SetBitmap(checker.get());
  ASSERT_NE(c->Brush()->Bitmap(), nullptr);
  c->PatBlt(Rect(3, 2, 17, 9), cmPatInvert);
  EXPECT_EQ(c->Pixel(3, 2), ((3 + 2) & 1) ? clRed : clAqua);  // red xor white is aqua
  EXPECT_EQ(c->Pixel(4, 2), clAqua);
  EXPECT_EQ(c->Pixel(5, 2), clRed);
  EXPECT_EQ(c->Pixel(2, 2), clRed);
  c->PatBlt(Rect(3, 2, 17, 9), cmPatInvert);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 20; ++x) ASSERT_EQ(c->Pixel(x, y), clRed);
  c->PatBlt(Rect(0, 0, 2, 1), cmDstInvert);
  EXPECT_EQ(c->Pixel(1, 0), clAqua);
  EXPECT_EQ(c->Pixel(2, 0), clRed);
  c->PatBlt(Rect(0, 0, 1, 1), cmBlackness);
  EXPECT_EQ(c->Pixel(0, 0), clBlack);
  c->Brush()->SetBitmap(nullptr);
  c->Brush()->SetColor(clBlue);
  c->PatBlt(Rect(0, 0, 1, 1), cmPatCopy);
  EXPECT_EQ(c->Pixel(0, 0), clBlue);

  // Mask through brush: the brush where the mask is white, the screen where it is black.
  auto mask = White(4, 1);
  mask->Canvas()->SetPixel(1, 0, clBlack);
  auto d = White(4, 1);
  d->Canvas()->Brush()->SetColor(clLime);
  d->Canvas()->FillRect(Rect(0, 0, 4, 1));
  d->Canvas()->Brush()->SetColor(clNavy);
  d->Canvas()->SetCopyMode(DSPDxax);
  d->Canvas()->CopyRect(Rect(0, 0, 4, 1), mask->Canvas(), Rect(0, 0, 4, 1));
  EXPECT_EQ(d->Canvas()->Pixel(0, 0), clNavy);
  EXPECT_EQ(d->Canvas()->Pixel(1, 0), clLime);
  EXPECT_EQ(d->Canvas()->Pixel(3, 0), clNavy);
}

TEST(Canvas, OnAPainterOpenedElsewhere) {
  // As during a widget's paint: the canvas draws through someone else's painter.
  QImage img(30, 20, QImage::Format_RGB32);
  img.fill(0xFF336699u);
  QImage before = img.copy();
  {
    QPainter p(&img);
    TCanvas c;
    c.SetPainter(&p);
    c.IntersectClipRect(Rect(0, 0, 25, 20));
    EXPECT_EQ(c.ClipRect(), Rect(0, 0, 25, 20));
    EXPECT_EQ(c.GetDeviceCaps(HORZRES), 30);
    c.Pen()->SetMode(pmXor);
    c.Pen()->SetColor(clWhite);
    c.Brush()->SetColor(clYellow);
    c.Rectangle(2, 2, 20, 15);
    c.MoveTo(0, 19);
    c.LineTo(29, 0);
    c.DrawFocusRect(Rect(1, 1, 28, 18));
    c.Rectangle(2, 2, 20, 15);
    c.MoveTo(0, 19);
    c.LineTo(29, 0);
    c.DrawFocusRect(Rect(1, 1, 28, 18));
    c.Pen()->SetMode(pmCopy);
    c.Brush()->SetColor(clRed);
    c.FillRect(Rect(0, 0, 30, 1));  // clipped at x = 25
    c.SetPainter(nullptr);
  }
  for (int y = 1; y < 20; ++y)
    for (int x = 0; x < 30; ++x) ASSERT_EQ(img.pixel(x, y), before.pixel(x, y)) << x << "," << y;
  EXPECT_EQ(img.pixel(24, 0), 0xFFFF0000u);
  EXPECT_EQ(img.pixel(25, 0), 0xFF336699u);
  // A moved painter: canvas coordinates are the painter's.
  {
    QPainter p(&img);
    p.translate(10, 5);
    TCanvas c;
    c.SetPainter(&p);
    EXPECT_EQ(c.ClipRect(), Rect(-10, -5, 20, 15));
    c.Brush()->SetColor(clBlue);
    c.FillRect(Rect(0, 0, 2, 2));
    c.SetPainter(nullptr);
  }
  EXPECT_EQ(img.pixel(10, 5), 0xFF0000FFu);
  EXPECT_EQ(img.pixel(9, 5), 0xFF336699u);
}

TEST(Canvas, LockIsExclusiveAcrossThreads) {
  TCanvas c;
  c.Lock();
  c.Lock();  // recursive on the same thread
  EXPECT_EQ(c.LockCount(), 2);
  bool other = true;
  std::thread([&] {
    other = c.TryLock();
    c.Unlock();  // not the holder: ignored
  }).join();
  EXPECT_FALSE(other);
  EXPECT_EQ(c.LockCount(), 2);
  c.Unlock();
  c.Unlock();
  c.Unlock();  // unbalanced: ignored
  EXPECT_EQ(c.LockCount(), 0);
  std::thread([&] {
    other = c.TryLock();
    if (other) c.Unlock();
  }).join();
  EXPECT_TRUE(other);
}

TEST(Canvas, ExtremeCoordinatesAreCutNotStepped) {
  auto b = White(20, 20);
  TCanvas* c = b->Canvas();
  const int32_t lo = INT32_MIN, hi = INT32_MAX;
  // A line across the whole coordinate range crosses the bitmap's diagonal.
  c->MoveTo(lo, lo);
  c->LineTo(hi, hi);
  EXPECT_EQ(c->Pixel(10, 10), clBlack);
  EXPECT_EQ(c->Pixel(10, 11), clWhite);
  c->Pen()->SetStyle(psDot);
  c->Polyline({{lo, 5}, {hi, 5}, {hi, hi}});
  c->Pen()->SetStyle(psSolid);
  c->Brush()->SetColor(clRed);
  c->Rectangle(lo, lo, hi, hi);
  c->Ellipse(lo, lo, hi, hi);
  c->RoundRect(lo, lo, hi, hi, hi, hi);
  c->Polygon({{lo, lo}, {hi, 0}, {0, hi}});
  c->FillRect(Rect(lo, lo, hi, hi));
  EXPECT_EQ(c->Pixel(3, 3), clRed);
  c->FrameRect(Rect(lo, lo, hi, hi));
  c->DrawFocusRect(Rect(-5, -5, 1000000, 1000000));
  c->DrawFocusRect(Rect(lo, lo, hi, hi));
  c->SetCopyMode(DSPDxax);
  c->CopyRect(Rect(lo, lo, hi, hi), c, Rect(0, 0, 20, 20));
  c->SetCopyMode(cmSrcCopy);
  c->PatBlt(Rect(lo, lo, hi, hi), cmPatInvert);
  c->CopyRect(Rect(lo, lo, hi, hi), c, Rect(0, 0, 20, 20));
  c->CopyRect(Rect(0, 0, 20, 20), c, Rect(hi, hi, lo, lo));
  c->IntersectClipRect(Rect(lo, lo, hi, hi));
  EXPECT_EQ(c->ClipRect(), Rect(0, 0, 20, 20));
  c->TextOut(hi, hi, "far");
  c->TextOut(lo, lo, "far");
  EXPECT_EQ(c->PenPos().Y, lo);
  TRect r = Rect(lo, lo, hi, hi);
  for (uint32_t f : {DT_SINGLELINE | DT_VCENTER | DT_CENTER, DT_SINGLELINE | DT_BOTTOM | DT_RIGHT, DT_WORDBREAK,
                     DT_SINGLELINE | DT_END_ELLIPSIS, DT_CALCRECT | DT_WORDBREAK}) {
    TRect x = r;
    c->DrawText("Some text & more", x, f);
  }
  TRect calc = Rect(hi - 2, hi - 2, hi, hi);
  c->DrawText("wide text", calc, DT_CALCRECT | DT_SINGLELINE);
  EXPECT_EQ(calc.Right, hi);
}

// Bitmaps of either layout drawn onto either layout, at an offset, plain, stretched, clipped and
// transparent: every pixel arrives, the last of each row included (24-bit rows are padded).
TEST(Bitmap, DrawBetweenLayoutsKeepsEveryPixel) {
  auto colourAt = [](int x, int y) { return static_cast<TColor>(RGB(20 + 40 * x, 30 + 50 * y, 200 - 10 * x)); };
  for (TPixelFormat spf : {pf24bit, pf32bit})
    for (TPixelFormat dpf : {pf24bit, pf32bit})
      for (int w : {1, 3, 5, 6}) {
        SCOPED_TRACE(testing::Message() << "src " << int(spf) << " dst " << int(dpf) << " width " << w);
        auto src = White(w, 3, spf);
        for (int y = 0; y < 3; ++y)
          for (int x = 0; x < w; ++x) src->Canvas()->SetPixel(x, y, colourAt(x, y));
        for (int y = 0; y < 3; ++y)
          for (int x = 0; x < w; ++x) ASSERT_EQ(src->Canvas()->Pixel(x, y), colourAt(x, y)) << x << "," << y;
        auto dst = White(w + 4, 6, dpf);
        dst->Canvas()->Draw(2, 1, src.get());
        for (int y = 0; y < 6; ++y)
          for (int x = 0; x < w + 4; ++x) {
            const bool inside = x >= 2 && x < w + 2 && y >= 1 && y < 4;
            ASSERT_EQ(dst->Canvas()->Pixel(x, y), inside ? colourAt(x - 2, y - 1) : clWhite) << x << "," << y;
          }
        // Doubled in both directions.
        auto big = White(2 * w, 6, dpf);
        big->Canvas()->StretchDraw(Rect(0, 0, 2 * w, 6), src.get());
        for (int y = 0; y < 6; ++y)
          for (int x = 0; x < 2 * w; ++x) ASSERT_EQ(big->Canvas()->Pixel(x, y), colourAt(x / 2, y / 2)) << x << "," << y;
        // Through a clip, which takes the painter's path.
        auto clipped = White(w, 3, dpf);
        clipped->Canvas()->IntersectClipRect(Rect(0, 1, w, 3));
        clipped->Canvas()->Draw(0, 0, src.get());
        for (int x = 0; x < w; ++x) {
          ASSERT_EQ(clipped->Canvas()->Pixel(x, 0), clWhite) << x;
          ASSERT_EQ(clipped->Canvas()->Pixel(x, 2), colourAt(x, 2)) << x;
        }
        // Hanging over the top-left corner: what is inside arrives.
        auto corner = White(w, 3, dpf);
        corner->Canvas()->Draw(-1, -1, src.get());
        for (int y = 0; y < 3; ++y)
          for (int x = 0; x < w; ++x) {
            const bool inside = x < w - 1 && y < 2;
            ASSERT_EQ(corner->Canvas()->Pixel(x, y), inside ? colourAt(x + 1, y + 1) : clWhite) << x << "," << y;
          }
        // Transparent: only the key colour is left out.
        src->SetTransparentColor(colourAt(0, 0));
        src->SetTransparent(true);
        auto t = White(w, 3, dpf);
        t->Canvas()->Draw(0, 0, src.get());
        for (int y = 0; y < 3; ++y)
          for (int x = 0; x < w; ++x)
            ASSERT_EQ(t->Canvas()->Pixel(x, y), x == 0 && y == 0 ? clWhite : colourAt(x, y)) << x << "," << y;
      }
}

// A picture that fails halfway through encoding leaves the file that was there untouched; a
// picture that encodes replaces it.
TEST(GraphicFiles, AFailedSaveKeepsTheFileThatWasThere) {
  struct TFailingBitmap : TBitmap {
    bool Fail = true;
    void SaveToStream(TStream* Stream) override {
      const char part[] = "BM-partial";
      Stream->WriteBuffer(part, sizeof part);
      if (Fail) throw EWriteError("Stream write error");
      TBitmap::SaveToStream(Stream);
    }
  };
  const std::string file = kdtest::TempDir() + "/keep.bmp";
  {
    TBitmap original;
    original.SetSize(3, 2);
    original.SaveToFile(file);
  }
  const std::vector<uint8_t> before = kdtest::ReadFileBytes(file);
  ASSERT_FALSE(before.empty());
  TFailingBitmap failing;
  failing.SetSize(5, 5);
  EXPECT_THROW(failing.SaveToFile(file), EWriteError);
  EXPECT_EQ(kdtest::ReadFileBytes(file), before);
  failing.Fail = false;
  failing.SaveToFile(file);
  EXPECT_NE(kdtest::ReadFileBytes(file), before);
}

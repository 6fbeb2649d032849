// Rectangle's direct pixel path against drawing through the painter: random rectangles, pens,
// brushes, colours and clips must give the same pixels either way.
#include <gtest/gtest.h>

#include <QImage>
#include <random>

#include "platform/Graphics.h"
#include "platform/GraphicsPriv.h"
#include "platform/Regions.h"
#include "tests/common/TestSupport.h"

using namespace platform;

namespace {

std::unique_ptr<TBitmap> Surface(int w, int h, TPixelFormat pf) {
  auto b = std::make_unique<TBitmap>();
  b->SetPixelFormat(pf);
  b->SetSize(w, h);
  return b;
}

// One random drawing sequence, replayed with the direct path on or off.
QImage Draw(uint32_t Seed, bool Direct, TPixelFormat Pf, int Steps = 60) {
  SetDirectRectangles(Direct);
  std::mt19937 rng(Seed);
  auto b = Surface(64, 48, Pf);
  TCanvas* c = b->Canvas();
  auto coord = [&](int lo, int hi) { return lo + static_cast<int>(rng() % static_cast<uint32_t>(hi - lo + 1)); };
  const TPenStyle pens[] = {psSolid, psClear, psInsideFrame, psDash, psSolid, psSolid};
  const TBrushStyle brushes[] = {bsSolid, bsSolid, bsClear, bsCross, bsSolid};
  const TColor colours[] = {clRed, clBlack, clWhite, clYellow, clBtnFace, clHighlight, 0x123456, clBlue};
  for (int i = 0; i < Steps; ++i) {
    c->Pen()->SetStyle(pens[rng() % 6]);
    c->Pen()->SetWidth(static_cast<int>(rng() % 4 == 0 ? 2 : rng() % 2));
    c->Pen()->SetColor(colours[rng() % 8]);
    c->Pen()->SetMode(rng() % 10 == 0 ? pmXor : pmCopy);
    c->Brush()->SetStyle(brushes[rng() % 5]);
    c->Brush()->SetColor(colours[rng() % 8]);
    // Clipped canvases draw through the painter either way; the sequence keeps them to check
    // the switch between the paths.
    if (rng() % 8 == 0) {
      TRegion rgn = TRegion::Rect(coord(-5, 30), coord(-5, 20), coord(20, 70), coord(15, 50));
      if (rng() % 2) {
        const TRegion more = TRegion::Rect(coord(0, 60), coord(0, 40), coord(0, 70), coord(0, 50));
        const TRegion first = rgn;
        CombineRgn(rgn, first, more, RGN_OR);
      }
      c->SelectClipRgn(&rgn);
    } else if (rng() % 3 == 0) {
      c->SelectClipRgn(nullptr);
    }
    const int x1 = coord(-20, 80), y1 = coord(-20, 60), x2 = coord(-20, 80), y2 = coord(-20, 60);
    c->Rectangle(x1, y1, x2, y2);
  }
  c->Release();
  SetDirectRectangles(true);
  return b->Image().copy();
}

}  // namespace

TEST(CanvasRectangle, DirectPathGivesThePaintersPixels) {
  for (TPixelFormat pf : {pf32bit, pf24bit})
    for (uint32_t seed = 1; seed <= 300; ++seed) {
      const QImage direct = Draw(seed, true, pf), painted = Draw(seed, false, pf);
      ASSERT_EQ(direct.size(), painted.size());
      for (int y = 0; y < direct.height(); ++y)
        for (int x = 0; x < direct.width(); ++x)
          ASSERT_EQ(direct.pixel(x, y), painted.pixel(x, y)) << "seed " << seed << " at " << x << "," << y;
    }
}

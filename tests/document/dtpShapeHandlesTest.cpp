#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include <QImage>

#include "../common/TestSupport.h"

#include "document/dtpFreehandShape.h"
#include "document/dtpGroupShape.h"
#include "document/dtpLineShape.h"
#include "document/dtpPolygonShape.h"
#include "document/dtpShape.h"
#include "platform/Graphics.h"
#include "tests/document/DocumentTestSupport.h"

using namespace document;
using platform::TPoint;
using platform::TRect;

namespace {

// 10 pixels per millimetre keeps the screen arithmetic readable.
class THost : public kdtest::TTestDocumentHost {
 public:
  THost() { Screen = 10; }
  float StepAngle() const override { return Step; }
  float Step = 0;
};

class ShapeHandlesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A root stands in for the page: its local millimetres are document millimetres.
    root = NewShape<TdtpShape>();
    root->SetDocument(&host);
    host.Undo = false;
    root->SetDocBounds(0, 0, 1000, 1000);
    auto shape = NewShape<TdtpShape>();
    s = shape.get();
    root->AddShape(std::move(shape));
    s->SetDocBounds(10, 20, 40, 30);  // screen (100, 200) to (500, 500)
    s->SetSmartHitTest(false);
  }
  THost host;
  std::unique_ptr<TdtpShape> root;
  TdtpShape* s = nullptr;
};

TEST_F(ShapeHandlesTest, DefaultHandlesAndRects) {
  s->CreateHandles();
  ASSERT_EQ(s->HandleCount(), 5);
  ASSERT_EQ(s->HandleEdgeCount(), 4);
  const int codes[5] = {2, 4, 6, 8, 10};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(s->Handles[size_t(i)].Code, codes[i]);
  EXPECT_FLOAT_EQ(s->Handles[4].X, 1.03f * 40);
  EXPECT_FLOAT_EQ(s->Handles[4].Y, 15);
  const uint8_t edgeCodes[4] = {3, 5, 7, 9};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(s->HandleEdges[size_t(i)].Code, edgeCodes[i]);
    EXPECT_TRUE(s->HandleEdges[size_t(i)].Drawn);
  }
  TRect r{0, 0, 0, 0};
  s->GetHandleRect(2, r);  // bottom-right at (500, 500)
  EXPECT_EQ(r, (TRect{497, 497, 504, 504}));
  // Out of range leaves the outputs alone.
  TRect keep{1, 2, 3, 4};
  s->GetHandleRect(9, keep);
  EXPECT_EQ(keep, (TRect{1, 2, 3, 4}));
  TdtpHandle h{7, 7, 7, 7, 7};
  s->GetHandle(-1, h);
  EXPECT_EQ(h.Code, 7);
}

TEST_F(ShapeHandlesTest, HandleAtPointCornersEdgesAndRotation) {
  EXPECT_EQ(s->HandleAtPoint({100, 200}), 0);  // not selected
  s->SetSelected(true);
  struct Case { TPoint p; uint8_t code; int32_t handle; };
  const Case cases[] = {
      {{100, 200}, 2, 0}, {{103, 203}, 2, 0}, {{97, 197}, 2, 0},
      {{100, 500}, 4, 1}, {{500, 500}, 6, 2}, {{500, 200}, 8, 3}, {{512, 350}, 10, 4},
      {{101, 350}, 3, -1}, {{300, 502}, 5, -1}, {{498, 300}, 7, -1}, {{300, 199}, 9, -1},
      {{300, 350}, 0, -1}, {{90, 350}, 0, -1}};
  for (const Case& c : cases) {
    EXPECT_EQ(s->HandleAtPoint(c.p), c.code) << c.p.X << "," << c.p.Y;
    EXPECT_EQ(s->DragHandle, c.handle) << c.p.X << "," << c.p.Y;
  }
  // Right and bottom of a handle square are exclusive; 4 pixels off both edges is no edge either.
  EXPECT_EQ(s->HandleAtPoint({103, 210}), 3);  // 3 pixels from the left edge: 9 < 10
  EXPECT_EQ(s->HandleAtPoint({104, 214}), 0);
  s->SetAllowRotate(false);
  EXPECT_EQ(s->HandleAtPoint({512, 350}), 0);
  EXPECT_EQ(s->DragHandle, -1);
}

TEST_F(ShapeHandlesTest, HitTestInRotatedShape) {
  // Turned 90 degrees about its top-left: local (x, y) -> parent (y, -x) + (10, 20).
  s->SetDocAngle(90);
  const TdtpFloatPoint centre = s->LocalToDocument({20, 15});
  const TPoint c{int32_t(std::lround(centre.X * 10)), int32_t(std::lround(centre.Y * 10))};
  EXPECT_TRUE(s->HitTest(c));
  // The unrotated centre lies outside the turned shape.
  EXPECT_FALSE(s->HitTest({300, 350}));
  TdtpShape* found = nullptr;
  EXPECT_TRUE(s->FindShapeAt(c, found));
  EXPECT_EQ(found, s);
  s->SetHitTestEnabled(false);
  EXPECT_FALSE(s->FindShapeAt(c, found));
  EXPECT_EQ(found, nullptr);
}

TEST_F(ShapeHandlesTest, NudgeOffsetsWidenTheRegionTest) {
  // 4 pixels outside the paint region is never a hit; the nudge table only helps inside it.
  s->SetPaintOutset(1);  // 10 pixels of paint outset around the shape
  EXPECT_TRUE(s->HitTest({96, 300}));   // 4 px left of the left edge: nudged by +4
  EXPECT_FALSE(s->HitTest({95, 300}));  // 5 px: no offset reaches
  const auto t = MakeNudgeOffsets(1.0f);
  ASSERT_EQ(t.size(), 21u);
  EXPECT_EQ(t[1], (TPoint{4, 0}));
  EXPECT_EQ(t[20], (TPoint{-3, -3}));
  EXPECT_EQ(MakeNudgeOffsets(2.5f)[1], (TPoint{10, 0}));
  EXPECT_EQ(MakeNudgeOffsets(2.5f)[17], (TPoint{7, 7}));  // 2.84 * 2.5 = 7.1
}

TEST_F(ShapeHandlesTest, PixelHitTestUsesAlphaThreshold) {
  s->SetSmartHitTest(true);
  s->SetPaintOutset(0);
  s->UpdateBuffer();
  ASSERT_NE(s->Buffer(), nullptr);
  TBitmap32* b = s->Buffer();
  b->Clear(0x00000000);
  TPoint px;
  s->ScreenToBufferPixel({300, 350}, px);
  ASSERT_TRUE(platform::PtInRect(s->BufferRect(), px));
  EXPECT_FALSE(s->HitTestPixels({300, 350}));
  b->SetPixel(px.X, px.Y, 0x32FFFFFF);  // alpha 50: not above the threshold of 50
  EXPECT_FALSE(s->HitTestPixels({300, 350}));
  b->SetPixel(px.X, px.Y, 0x33FFFFFF);
  EXPECT_TRUE(s->HitTestPixels({300, 350}));
  // Outside the buffer counts as a hit.
  EXPECT_TRUE(s->HitTestPixels({5000, 5000}));
}

TEST_F(ShapeHandlesTest, GroupIsFoundOnlyThroughChildren) {
  auto child = NewShape<TdtpShape>();
  child->SetSmartHitTest(false);
  TdtpShape* c = child.get();
  s->AddShape(std::move(child));
  c->SetDocBounds(0, 0, 10, 10);  // screen (100, 200) to (200, 300)
  TdtpShape* found = nullptr;
  EXPECT_TRUE(s->FindShapeAt({150, 250}, found));
  EXPECT_EQ(found, c);
  EXPECT_FALSE(s->FindShapeAt({400, 400}, found));
  EXPECT_EQ(found, nullptr);
}

TEST_F(ShapeHandlesTest, DragMoveAndResize) {
  TdtpMatrix m;
  s->CreateHandles();
  s->DragHandleBy({50, -20}, false, m, 1);
  EXPECT_FLOAT_EQ(s->DragLeft, 15);
  EXPECT_FLOAT_EQ(s->DragTop, 18);
  EXPECT_FLOAT_EQ(s->DragWidth, 40);
  EXPECT_FLOAT_EQ(s->Handles[2].DragX, 45);  // bottom-right follows
  EXPECT_FLOAT_EQ(s->Handles[2].DragY, 28);

  s->DragHandleBy({100, 0}, false, m, 7);  // right edge by +10 mm
  EXPECT_FLOAT_EQ(s->DragLeft, 10);
  EXPECT_FLOAT_EQ(s->DragTop, 20);
  EXPECT_FLOAT_EQ(s->DragWidth, 50);
  EXPECT_FLOAT_EQ(s->DragHeight, 30);

  s->SetAspectRatio(4.0f / 3.0f);
  s->SetPreserveAspect(true);
  s->DragHandleBy({100, 0}, false, m, 7);
  EXPECT_FLOAT_EQ(s->DragWidth, 50);
  EXPECT_FLOAT_EQ(s->DragHeight, 37.5f);
  EXPECT_FLOAT_EQ(s->DragTop, 20 - 3.75f);
  s->SetPreserveAspect(false);

  s->DragHandleBy({500, 500}, false, m, 2);  // top-left past the opposite corner
  EXPECT_FLOAT_EQ(s->DragWidth, 1);
  EXPECT_FLOAT_EQ(s->DragHeight, 1);
  EXPECT_FLOAT_EQ(s->DragLeft + s->DragWidth, 50);  // bottom-right stays
  EXPECT_FLOAT_EQ(s->DragTop + s->DragHeight, 50);
  s->ApplyDragBounds();
  EXPECT_FLOAT_EQ(s->DocWidth(), 1);
  EXPECT_FLOAT_EQ(s->DocLeft(), 49);

  s->Constraints().MinWidth = 5;
  s->Constraints().MinHeight = 5;
  s->CreateHandles();
  s->DragHandleBy({-100, -100}, false, m, 6);  // shrink past the minimum
  EXPECT_FLOAT_EQ(s->DragWidth, 5);
  EXPECT_FLOAT_EQ(s->DragHeight, 5);
}

TEST_F(ShapeHandlesTest, RotateSnapsToStepAngle) {
  TdtpMatrix m;
  s->CreateHandles();
  // Handle at W/2 + dx to the right and dy down: a = -atan2(dy, 20 + dx).
  const TPoint down{0, 130};  // -atan2(13, 20) = -33.02 degrees
  s->DragHandleBy(down, true, m, 10);  // StepAngle 0 + Free: multiples of 5
  EXPECT_FLOAT_EQ(s->DragAngle, -35);
  s->DragHandleBy(down, false, m, 10);  // follows the mouse
  EXPECT_NEAR(s->DragAngle, -33.0239, 1e-3);
  host.Step = 15;
  s->DragHandleBy(down, false, m, 10);
  EXPECT_FLOAT_EQ(s->DragAngle, -30);
  s->DragHandleBy(down, true, m, 10);
  EXPECT_NEAR(s->DragAngle, -33.0239, 1e-3);
  s->ApplyDragBounds();
  EXPECT_NEAR(s->DocAngle(), 360 - 33.0239, 1e-3);  // kept within 0..360
}

TEST_F(ShapeHandlesTest, DeltaFollowsTheParentChain) {
  auto child = NewShape<TdtpShape>();
  TdtpShape* c = child.get();
  s->AddShape(std::move(child));
  c->SetDocBounds(0, 0, 10, 10);
  c->SetDocAngle(90);
  TdtpFloatPoint d;
  c->ScreenDeltaToLocal({10, 0}, d);  // 1 mm right on screen is 1 mm along the child's -y
  EXPECT_NEAR(d.X, 0, 1e-6);
  EXPECT_NEAR(d.Y, 1, 1e-6);
}

TEST_F(ShapeHandlesTest, RenderedSelectionShowsHandles) {
  platform::TBitmap bmp;
  bmp.SetPixelFormat(platform::pf32bit);
  bmp.SetSize(700, 650);
  platform::TCanvas* cv = bmp.Canvas();
  cv->Brush()->SetColor(0xE0E0E0);
  cv->FillRect({0, 0, 700, 650});
  s->SetDocAngle(20);
  s->SetSelected(true);
  host.ControlColor = 0xFFFFFF;
  s->PaintOutline(cv);
  bmp.Canvas()->Release();
  ASSERT_TRUE(bmp.Image().save(QString::fromStdString(kdtest::OutputDir() + "/shape_handles.png")));
  // Every corner handle is a filled square of the handle colour (white) framed in black.
  s->CreateHandles();
  for (int i = 0; i < 4; ++i) {
    TRect r{0, 0, 0, 0};
    s->GetHandleRect(i, r);
    EXPECT_EQ(bmp.Image().pixel(r.Left + 3, r.Top + 3) & 0xFFFFFF, 0xFFFFFFu) << i;
    EXPECT_EQ(bmp.Image().pixel(r.Left, r.Top + 3) & 0xFFFFFF, 0u) << i;
  }
}

// The drag outline is drawn by xor in the handle colour: with the default colours it shows,
// and drawing it again at the same place erases it.
TEST_F(ShapeHandlesTest, DragOutlineShowsWithDefaultColoursAndErases) {
  ASSERT_EQ(host.HandleEdgeColor(), 0);
  for (uint8_t code : {1, 6, 3}) {
    platform::TBitmap bmp;
    bmp.SetPixelFormat(platform::pf32bit);
    bmp.SetSize(700, 650);
    bmp.Canvas()->Brush()->SetColor(0xFFFFFF);
    bmp.Canvas()->FillRect({0, 0, 700, 650});
    // A clear brush leaves the gaps of the dotted pen alone: only the pen's colour shows.
    bmp.Canvas()->Brush()->SetStyle(platform::bsClear);
    bmp.Canvas()->Release();
    const QImage clean = bmp.Image().copy();
    s->CreateHandles();
    TdtpMatrix m;
    s->DragHandleBy({60, 40}, false, m, code);
    s->PaintHandleEdges(bmp.Canvas());
    bmp.Canvas()->Release();
    int changed = 0;
    for (int y = 0; y < 650; ++y)
      for (int x = 0; x < 700; ++x) changed += bmp.Image().pixel(x, y) != clean.pixel(x, y);
    EXPECT_GT(changed, 200) << int(code);
    s->PaintHandleEdges(bmp.Canvas());
    bmp.Canvas()->Release();
    EXPECT_EQ(bmp.Image(), clean) << int(code);
  }
}

// The hit region is every contour under the even-odd rule: a hole is no hit. Every stroke of
// a freehand shape counts, not only the first; being open and unfilled, a stroke is hit along
// its line, not inside the area it would enclose if closed.
TEST_F(ShapeHandlesTest, HitTestSeesEveryContour) {
  auto poly = NewShape<TdtpPolygonShape>();
  TdtpPolygonShape* p = poly.get();
  root->AddShape(std::move(poly));
  // The outline with a square hole at local (10..14, 10..14): screen (200..240, 300..340).
  p->SetDocBounds(10, 20, 30, 30);
  ASSERT_EQ(p->Points().size(), 2u);
  auto free = NewShape<TdtpFreehandShape>();
  TdtpFreehandShape* f = free.get();
  root->AddShape(std::move(free));
  f->SetDocBounds(60, 20, 40, 40);  // screen (600, 200) to (1000, 600)
  f->ClearPoints();
  for (auto [x, y] : {std::pair{0.f, 0.f}, {10, 0}, {10, 10}, {0, 10}}) f->AddPointXY(x, y);
  f->NewContour();
  for (auto [x, y] : {std::pair{30.f, 30.f}, {40, 30}, {40, 40}, {30, 40}}) f->AddPointXY(x, y);
  ASSERT_EQ(f->Points().size(), 2u);
  struct Case { TdtpShape* shape; TPoint p; bool hit; };
  const Case cases[] = {
      {p, {150, 250}, true},   // solid part of the outline
      {p, {220, 320}, false},  // inside the hole
      {p, {260, 320}, true},   // beside the hole
      {f, {650, 201}, true},   // first stroke
      {f, {1001, 550}, true},  // second stroke
      {f, {650, 250}, false},  // inside the first stroke's bend
      {f, {600, 250}, false},  // where a closed contour would have its last edge
      {f, {800, 400}, false},  // between the strokes
  };
  for (const Case& c : cases) EXPECT_EQ(c.shape->HitTest(c.p), c.hit) << c.p.X << "," << c.p.Y;
  // Hit regions of the base shape stay its rectangle.
  const auto rings = s->CreateRegionContours();
  ASSERT_EQ(rings.size(), 1u);
  EXPECT_EQ(rings[0], s->CreateRegion());
}

// Polygon shapes, a line and an open stroke, flipped and mirrored, are picked well inside, not well away.
TEST_F(ShapeHandlesTest, FlippedAndMirroredPolygonsArePickedWhereDrawn) {
  std::vector<std::unique_ptr<TdtpShape>> shapes;
  for (const TShapeClass* c : PolygonShapeClasses()) shapes.push_back(CreateShape(*c));
  shapes.push_back(NewShape<TdtpLineShape>());
  static_cast<TdtpLineShape*>(shapes.back().get())->SetLineWidth(4);
  auto stroke = NewShape<TdtpFreehandShape>();
  stroke->SetDocBounds(0, 0, 40, 30);
  stroke->ClearPoints();
  for (auto [x, y] : {std::pair{0.f, 30.f}, {0, 0}, {40, 0}, {40, 8}}) stroke->AddPointXY(x, y);
  stroke->SetOutlineWidth(3);
  shapes.push_back(std::move(stroke));
  host.Render = host.Screen;
  for (auto& owned : shapes) {
    TdtpShape* sh = owned.get();
    root->AddShape(std::move(owned));
    sh->SetDocBounds(4, 4, 40, 30);  // screen (40, 40) to (440, 340)
    for (int fm = 0; fm < 4; ++fm) {
      sh->SetFlipped(fm & 1);
      sh->SetMirrored(fm & 2);
      sh->UpdateBuffer();
      const TBitmap32* b = sh->Buffer();
      ASSERT_NE(b, nullptr) << sh->ClassName();
      // True when every pixel within Reach of buffer pixel C is drawn (Drawn) or none is.
      auto only = [&](TPoint C, int Reach, bool Drawn) {
        for (int y = C.Y - Reach; y <= C.Y + Reach; ++y)
          for (int x = C.X - Reach; x <= C.X + Reach; ++x)
            if ((x >= 0 && y >= 0 && x < b->Width() && y < b->Height() && b->Pixel(x, y) >> 24) != Drawn) return false;
        return true;
      };
      int solid = 0, empty = 0, wrong = 0;
      for (int y = -20; y < 400; y += 30)  // every shape gets a few of each kind of point
        for (int x = -20; x < 500; x += 30) {
          TPoint px;
          sh->ScreenToBufferPixel({x, y}, px);
          const bool all = only(px, 8, true);
          if (!all && !only(px, 20, false)) continue;
          ++(all ? solid : empty);
          wrong += sh->HitTest({x, y}) != all;
        }
      const std::string what = sh->ClassName() + (fm & 1 ? " flipped" : "") + (fm & 2 ? " mirrored" : "");
      EXPECT_GT(solid, 5) << what;
      EXPECT_GT(empty, 50) << what;
      EXPECT_EQ(wrong, 0) << what;
    }
    root->RemoveShape(sh);
  }
}

// A child of a flipped or mirrored group is drawn flipped with the group's picture: it is found
// where it is drawn, and nowhere else, whether the group is turned or not.
TEST_F(ShapeHandlesTest, ChildrenOfFlippedAndMirroredGroupsArePickedWhereDrawn) {
  root->RemoveShape(s);
  host.Render = host.Screen;
  auto owned = NewShape<TdtpGroupShape>();
  TdtpShape* group = owned.get();
  root->AddShape(std::move(owned));
  group->SetDocBounds(50, 50, 60, 40);  // screen (500, 500) to (1100, 900) unturned
  auto triangle = NewShape<TdtpDrieHShape>();
  TdtpShape* child = triangle.get();
  group->AddShape(std::move(triangle));
  child->SetDocBounds(0, 0, 30, 20);  // the top-left quarter
  for (float angle : {0.f, 30.f})
    for (int fm = 0; fm < 4; ++fm) {
      group->SetDocAngle(angle);
      group->SetFlipped(fm & 1);
      group->SetMirrored(fm & 2);
      group->UpdateBuffer();
      const TBitmap32* b = group->Buffer();
      ASSERT_NE(b, nullptr);
      auto only = [&](TPoint C, int Reach, bool Drawn) {
        for (int y = C.Y - Reach; y <= C.Y + Reach; ++y)
          for (int x = C.X - Reach; x <= C.X + Reach; ++x)
            if ((x >= 0 && y >= 0 && x < b->Width() && y < b->Height() && b->Pixel(x, y) >> 24) != Drawn) return false;
        return true;
      };
      int solid = 0, empty = 0, missed = 0, wrong = 0;
      for (int y = 250; y < 1300; y += 20)
        for (int x = 250; x < 1300; x += 20) {
          TPoint px;
          group->ScreenToBufferPixel({x, y}, px);
          const bool all = only(px, 8, true);  // the pick reaches a few pixels around the point
          if (!all && !only(px, 20, false)) continue;
          ++(all ? solid : empty);
          TdtpShape* found = nullptr;
          root->FindShapeAt({x, y}, found);
          missed += all && found != child;
          wrong += !all && found == child;
        }
      const std::string what = std::to_string(int(angle)) + (fm & 1 ? " flipped" : "") + (fm & 2 ? " mirrored" : "");
      EXPECT_GT(solid, 50) << what;
      EXPECT_GT(empty, 500) << what;
      EXPECT_EQ(missed, 0) << what;
      EXPECT_EQ(wrong, 0) << what;
    }
}

}  // namespace

// A shape stored a billion millimetres wide has its handles billions of pixels away: its edges
// are still found under the mouse, without the squared distances running out of 64 bits.
TEST_F(ShapeHandlesTest, EdgesOfAHugeShapeAreFoundWithoutOverflow) {
  s->SetDocBounds(-214748000.0f, 0, 429496000.0f, 40);  // screen x about -2.1e9 to 2.1e9
  s->SetSelected(true);
  EXPECT_EQ(s->HandleAtPoint({400, 1}), 9);    // top edge
  EXPECT_EQ(s->HandleAtPoint({400, 399}), 5);  // bottom edge
  EXPECT_EQ(s->HandleAtPoint({400, 200}), 0);  // inside, far from every edge
  EXPECT_EQ(s->DragHandle, -1);
  TRect r{0, 0, 0, 0};
  s->GetHandleRect(4, r);  // the rotation handle lies further out still: it stays out of view
  EXPECT_GT(r.Left, 1 << 28);
  // A band across it from above to below meets it; one beside it does not.
  EXPECT_TRUE(s->IntersectsRect({100, -50, 200, 500}));
  EXPECT_FALSE(s->IntersectsRect({100, 450, 200, 500}));
}

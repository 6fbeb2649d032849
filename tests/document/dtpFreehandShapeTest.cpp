// Freehand shapes: point capture from mouse strokes (the half-millimetre rule, bounds that
// follow the drawn points, contour reuse), keys, accepting and rejecting an edit, XML.
#include <cmath>
#include <memory>

#include <gtest/gtest.h>

#include "DocumentTestSupport.h"
#include "document/XmlDocuments.h"
#include "document/dtpDocument.h"
#include "document/dtpFreehandShape.h"
#include "tools/DocumentFixtures.h"

using namespace document;

namespace {

// A host at 1 screen pixel per millimetre that records how editing ended.
class TFreehandHost : public kdtest::TTestDocumentHost {
 public:
  TFreehandHost() { Screen = 1; }
  raster::TdtpFloatPoint ScreenToDoc(const platform::TPoint& P) const override { return {float(P.X) * Scale, float(P.Y) * Scale}; }
  void EndShapeEdit(bool Accept) override { Ends.push_back(Accept); }
  TdtpShape* EditedShape() const override { return Edited; }
  float Scale = 1;
  TdtpShape* Edited = nullptr;
  std::vector<bool> Ends;
};

class FreehandShapeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitializeDtpShape();
    InitializeDtpEffectShape();
    InitializeDtpPolygonShape();
    InitializeDtpFreehandShape();
    parent = NewShape<TdtpShape>();
    parent->SetDocument(&host);
    auto s = NewShape<TdtpFreehandShape>();
    s->SetDocBounds(0, 0, 0, 0);
    shape = s.get();
    parent->AddShape(std::move(s));
    host.Edited = shape;
    shape->ClearPoints();
  }
  TFreehandHost host;
  std::unique_ptr<TdtpShape> parent;
  TdtpFreehandShape* shape = nullptr;
};

TEST_F(FreehandShapeTest, DefaultsAndRegistration) {
  EXPECT_TRUE(shape->AutoRestart());
  EXPECT_TRUE(shape->PointBased());
  EXPECT_FALSE(shape->IsClosed());
  EXPECT_FALSE(shape->UseFill());
  EXPECT_EQ(&FindShapeClass("TdtpFreehandShape"), &TdtpFreehandShape::StaticClass());
  EXPECT_EQ(&FindShapeClass("TdtpFreehandShape2"), &TdtpFreehandShape2::StaticClass());
  auto s2 = CreateShape(FindShapeClass("TdtpFreehandShape2"));
  EXPECT_TRUE(s2->InheritsFrom(TdtpFreehandShape::StaticClass()));
  // The size never rebuilds the points.
  auto* f = static_cast<TdtpFreehandShape2*>(s2.get());
  f->ClearPoints();
  f->AddPointXY(1, 2);
  f->BuildOutline();
  ASSERT_EQ(f->Points().size(), 1u);
  EXPECT_EQ(f->Points()[0].size(), 1u);
}

TEST_F(FreehandShapeTest, MovesOfHalfAMillimetreOrLessAddNoPoint) {
  host.Scale = 0.25f;  // a screen pixel is a quarter millimetre
  shape->MouseDownHook(platform::mbLeft, 0, 40, 40);
  EXPECT_TRUE(shape->Drawing());
  ASSERT_EQ(shape->Points().back().size(), 1u);
  shape->MouseMoveHook(0, 42, 40);  // exactly 0.5 mm
  EXPECT_EQ(shape->Points().back().size(), 1u);
  EXPECT_EQ(shape->StrokeCount(), 0);
  shape->MouseMoveHook(0, 41, 41);  // 0.354 mm
  EXPECT_EQ(shape->Points().back().size(), 1u);
  shape->MouseMoveHook(0, 42, 41);  // 0.559 mm
  EXPECT_EQ(shape->Points().back().size(), 2u);
  EXPECT_EQ(shape->StrokeCount(), 1);
  // Distances are measured from the last kept point, not the last mouse position.
  shape->MouseMoveHook(0, 43, 41);
  shape->MouseMoveHook(0, 44, 41);
  EXPECT_EQ(shape->Points().back().size(), 2u);
  shape->MouseMoveHook(0, 45, 41);
  EXPECT_EQ(shape->Points().back().size(), 3u);
  ASSERT_EQ(shape->StrokeX().size(), 2u);
  // The stroke follows the points when the origin moves.
  EXPECT_FLOAT_EQ(shape->StrokeX()[1], shape->Points().back()[2].X);
  EXPECT_FLOAT_EQ(shape->StrokeY()[1], shape->Points().back()[2].Y);
  EXPECT_FLOAT_EQ(shape->StrokeY()[1], 0.25f);
}

TEST_F(FreehandShapeTest, BoundsFollowTheDrawnPoints) {
  shape->MouseDownHook(platform::mbLeft, 0, 10, 20);
  // One point, then a horizontal line: no area, bounds unchanged.
  EXPECT_EQ(shape->DocLeft(), 0);
  EXPECT_EQ(shape->DocWidth(), 0);
  shape->MouseMoveHook(0, 15, 20);
  EXPECT_EQ(shape->DocWidth(), 0);
  shape->MouseMoveHook(0, 18, 26);
  EXPECT_FLOAT_EQ(shape->DocLeft(), 10);
  EXPECT_FLOAT_EQ(shape->DocTop(), 20);
  EXPECT_FLOAT_EQ(shape->DocWidth(), 8);
  EXPECT_FLOAT_EQ(shape->DocHeight(), 6);
  const auto& c = shape->Points().back();
  ASSERT_EQ(c.size(), 3u);
  EXPECT_EQ(c[0].X, 0);
  EXPECT_EQ(c[0].Y, 0);
  EXPECT_EQ(c[2].X, 8);
  EXPECT_EQ(c[2].Y, 6);
  // A point left of and above the origin moves the shape, not the drawing.
  shape->MouseMoveHook(0, 4, 12);
  EXPECT_FLOAT_EQ(shape->DocLeft(), 4);
  EXPECT_FLOAT_EQ(shape->DocTop(), 12);
  EXPECT_FLOAT_EQ(shape->DocWidth(), 14);
  EXPECT_FLOAT_EQ(shape->DocHeight(), 14);
  EXPECT_EQ(shape->Points().back()[0].X, 6);
  EXPECT_EQ(shape->Points().back()[0].Y, 8);
}

TEST_F(FreehandShapeTest, ReleaseAddsTheEndPointAndRestartsOrEnds) {
  shape->MouseDownHook(platform::mbLeft, 0, 0, 0);
  shape->MouseMoveHook(0, 5, 5);
  shape->MouseUpHook(platform::mbLeft, 0, 5, 5);  // same point: not added again
  EXPECT_FALSE(shape->Drawing());
  ASSERT_EQ(shape->Points().size(), 2u);  // a new empty contour for the next stroke
  EXPECT_EQ(shape->Points()[0].size(), 2u);
  EXPECT_TRUE(shape->Points()[1].empty());
  EXPECT_EQ(host.Ends, std::vector<bool>{true});
  // The empty contour is reused by the next press.
  shape->MouseDownHook(platform::mbLeft, 0, 1, 1);
  shape->MouseUpHook(platform::mbLeft, 0, 3, 1);
  ASSERT_EQ(shape->Points().size(), 3u);
  EXPECT_EQ(shape->Points()[1].size(), 2u);
  EXPECT_TRUE(shape->Points()[2].empty());
  // Without AutoRestart the release ends the edit twice, as every release does.
  shape->SetAutoRestart(false);
  host.Ends.clear();
  shape->MouseDownHook(platform::mbLeft, 0, 2, 2);
  shape->MouseUpHook(platform::mbLeft, 0, 2, 2);
  EXPECT_EQ(shape->Points().size(), 3u);
  EXPECT_EQ(host.Ends, (std::vector<bool>{true, true}));
  // The right button only accepts the edit.
  host.Ends.clear();
  shape->MouseDownHook(platform::mbRight, 0, 9, 9);
  EXPECT_FALSE(shape->Drawing());
  EXPECT_EQ(shape->Points().size(), 3u);
  EXPECT_EQ(host.Ends, std::vector<bool>{true});
}

TEST_F(FreehandShapeTest, Keys) {
  const struct {
    uint16_t Key;
    int Result;  // -1 ignored, 0 rejected, 1 accepted
  } cases[] = {{32, 1}, {27, 0}, {3, 0}, {9, 1}, {13, 1}, {43, 1}, {113, 1}, {65, -1}, {46, -1}};
  for (const auto& c : cases) {
    host.Ends.clear();
    shape->SetIsClosed(false);
    uint16_t k = c.Key;
    shape->KeyDownHook(k, 0);
    if (c.Result < 0)
      EXPECT_TRUE(host.Ends.empty()) << c.Key;
    else
      EXPECT_EQ(host.Ends, std::vector<bool>{c.Result == 1}) << c.Key;
    EXPECT_EQ(shape->IsClosed(), c.Key == 32) << c.Key;
  }
}

TEST_F(FreehandShapeTest, AcceptedEditDropsShortTrailingContours) {
  shape->StartEdit();
  shape->MouseDownHook(platform::mbLeft, 0, 0, 0);
  shape->MouseUpHook(platform::mbLeft, 0, 4, 3);
  shape->MouseDownHook(platform::mbLeft, 0, 8, 8);  // a click: one point
  shape->MouseUpHook(platform::mbLeft, 0, 8, 8);
  ASSERT_EQ(shape->Points().size(), 2u);
  shape->EndEdit(true);
  ASSERT_EQ(parent->GetShapeCount(), 1);
  ASSERT_EQ(shape->Points().size(), 1u);
  EXPECT_EQ(shape->Points()[0].size(), 2u);
}

TEST_F(FreehandShapeTest, AClickAloneLeavesTheShapeWithoutContours) {
  shape->StartEdit();
  shape->MouseDownHook(platform::mbLeft, 0, 5, 5);
  shape->SetAutoRestart(false);
  shape->MouseUpHook(platform::mbLeft, 0, 5, 5);
  ASSERT_EQ(shape->Points().size(), 1u);
  shape->EndEdit(true);
  EXPECT_EQ(parent->GetShapeCount(), 1);
  EXPECT_TRUE(shape->Points().empty());
}

TEST_F(FreehandShapeTest, RejectedOrEmptyEditRemovesTheShape) {
  shape->MouseDownHook(platform::mbLeft, 0, 0, 0);
  shape->MouseUpHook(platform::mbLeft, 0, 6, 6);
  shape->EndEdit(false);
  EXPECT_EQ(parent->GetShapeCount(), 0);
  auto s = NewShape<TdtpFreehandShape>();
  s->ClearPoints();
  auto* p = s.get();
  parent->AddShape(std::move(s));
  p->EndEdit(true);
  EXPECT_EQ(parent->GetShapeCount(), 0);
}

// Every way an edit ends closes the bracket that starting it opened, exactly once; an edit
// that never started closes nothing.
TEST_F(FreehandShapeTest, EndingAnEditClosesItsBracket) {
  const struct {
    bool Start, Draw, Accept;
    int ShapesLeft;
  } cases[] = {{true, true, false, 0}, {true, false, true, 0}, {true, true, true, 1}, {false, true, true, 1},
               {false, true, false, 0}};
  for (const auto& c : cases) {
    parent->ClearShapes();
    auto s = NewShape<TdtpFreehandShape>();
    s->ClearPoints();
    auto* f = s.get();
    parent->AddShape(std::move(s));
    host.Edited = f;
    host.UndoBracket = 0;
    if (c.Start) f->StartEdit();
    EXPECT_EQ(host.UndoBracket, c.Start ? 1 : 0);
    if (c.Draw) {
      f->MouseDownHook(platform::mbLeft, 0, 0, 0);
      f->MouseMoveHook(0, 6, 6);
    }
    f->EndEdit(c.Accept);
    EXPECT_EQ(host.UndoBracket, 0) << c.Start << c.Draw << c.Accept;
    EXPECT_EQ(parent->GetShapeCount(), c.ShapesLeft) << c.Start << c.Draw << c.Accept;
  }
  host.Edited = nullptr;
}

TEST_F(FreehandShapeTest, XmlRoundTrip) {
  shape->AddPointXY(0, 0);
  shape->AddPointXY(3.5f, 2.25f);
  shape->NewContour();
  shape->AddPointXY(1, 4);
  shape->AddPointXY(2, 5);
  shape->SetIsClosed(true);
  for (bool restart : {true, false}) {
    shape->SetAutoRestart(restart);
    TXmlDocument xml;
    shape->SaveToXml(xml.Root());
    auto t = NewShape<TdtpFreehandShape>();
    t->SetAutoRestart(!restart);
    t->LoadFromXml(xml.Root());
    EXPECT_EQ(t->AutoRestart(), restart);
    EXPECT_EQ(t->Points(), shape->Points());
    EXPECT_TRUE(t->IsClosed());
    EXPECT_FALSE(t->UseFill());
  }
  TXmlDocument xml;
  shape->SetAutoRestart(true);
  shape->SaveToXml(xml.Root());
  ASSERT_NE(xml.Root()->NodeByName("AutoRestart"), nullptr);
  EXPECT_EQ(xml.Root()->NodeByName("AutoRestart")->ValueAsString(), "True");
  xml.Root()->NodeDelete(xml.Root()->NodeIndexByName("AutoRestart"));
  auto t = NewShape<TdtpFreehandShape>();
  t->LoadFromXml(xml.Root());
  EXPECT_FALSE(t->AutoRestart());
}

}  // namespace

namespace {

class TKeyDocument : public TdtpComponent {
 public:
  TKeyDocument() : TdtpComponent(nullptr) {}
  using TdtpDocument::KeyDown;
  using TdtpDocument::MouseDown;
  using TdtpDocument::MouseMove;
};

}  // namespace

// Escape after F2 leaves an existing drawing as it was; only a new or empty one goes.
TEST_F(FreehandShapeTest, RejectingAnEditOfAnExistingDrawingRestoresIt) {
  kdfixture::InitializeFixtures();
  TKeyDocument doc;
  doc.SetBounds(0, 0, 400, 300);
  TdtpPage* page = doc.GetPage(0);
  auto s = NewShape<TdtpFreehandShape>();
  TdtpFreehandShape* f = s.get();
  page->AddShape(std::move(s));
  f->ClearPoints();
  f->AddPointXY(0, 0);
  f->AddPointXY(10, 5);
  f->AddPointXY(20, 0);
  f->SetDocBounds(30, 40, 20, 5);
  const ArrayOfArrayOfFPoint before = f->Points();
  auto key = [&](platform::Word K) { doc.KeyDown(K, 0); };
  auto press = [&](float X, float Y) {
    raster::TdtpFloatPoint p;
    f->LocalToScreen({X, Y}, p);
    return platform::TPoint{int32_t(std::lround(p.X)), int32_t(std::lround(p.Y))};
  };
  for (int drawFirst : {0, 1}) {
    SCOPED_TRACE(drawFirst);
    page->GetShape(0)->SetSelected(true);
    key(113);  // F2
    ASSERT_EQ(doc.EditedShape(), f);
    if (drawFirst) {
      // A stroke in progress: new points and new bounds, then Escape.
      const platform::TPoint a = press(5, 2), b = press(40, 30);
      doc.MouseDown(platform::mbLeft, platform::ssLeft, a.X, a.Y);
      doc.MouseMove(platform::ssLeft, b.X, b.Y);
      EXPECT_NE(f->Points(), before);
      f->SetIsClosed(true);
    }
    key(27);  // Escape
    EXPECT_EQ(doc.EditedShape(), nullptr);
    ASSERT_EQ(page->GetShapeCount(), 1);
    EXPECT_EQ(page->GetShape(0), f);
    EXPECT_EQ(f->Points(), before);
    EXPECT_FALSE(f->IsClosed());
    EXPECT_FLOAT_EQ(f->DocLeft(), 30);
    EXPECT_FLOAT_EQ(f->DocTop(), 40);
    EXPECT_FLOAT_EQ(f->DocWidth(), 20);
    EXPECT_FLOAT_EQ(f->DocHeight(), 5);
    EXPECT_FALSE(f->Drawing());
    EXPECT_EQ(doc.UpdateCount(), 0);
  }
  // A drawing being made and rejected goes, as does an accepted edit that left it empty.
  auto n = NewShape<TdtpFreehandShape>();
  n->ClearPoints();
  TdtpFreehandShape* fresh = n.get();
  page->AddShape(std::move(n));
  doc.ClearSelection();
  fresh->SetSelected(true);
  key(113);
  key(27);
  EXPECT_EQ(page->GetShapeCount(), 1);
  f->SetSelected(true);
  key(113);
  f->ClearPoints();
  key(13);  // accepted, but nothing is left
  EXPECT_EQ(page->GetShapeCount(), 0);
}

// The first stroke of an edit records the contours as they were, before the bounds move, once
// per edit; replaying the record puts them back. A damaged record changes nothing.
TEST_F(FreehandShapeTest, AStrokeRecordsThePointsItChanges) {
  shape->StartEdit();
  shape->MouseDownHook(platform::mbLeft, 0, 10, 20);
  shape->MouseMoveHook(0, 18, 26);
  shape->MouseUpHook(platform::mbLeft, 0, 18, 26);
  shape->EndEdit(true);
  const ArrayOfArrayOfFPoint first = shape->Points();
  host.Commands.clear();
  shape->StartEdit();
  shape->MouseDownHook(platform::mbLeft, 0, 30, 40);
  shape->MouseMoveHook(0, 34, 44);
  shape->MouseUpHook(platform::mbLeft, 0, 34, 44);
  shape->MouseDownHook(platform::mbLeft, 0, 2, 2);
  shape->MouseMoveHook(0, 6, 3);
  shape->MouseUpHook(platform::mbLeft, 0, 6, 3);
  shape->EndEdit(true);
  ASSERT_FALSE(host.Commands.empty());
  EXPECT_EQ(host.Commands[0]->Name, "Points");
  int points = 0;
  for (const auto& c : host.Commands) points += c->Name == "Points";
  EXPECT_EQ(points, 1);
  const std::string recorded = host.Commands[0]->Value;
  const ArrayOfArrayOfFPoint drawn = shape->Points();
  ASSERT_NE(drawn, first);
  for (const std::string bad : {"1 2 3", "1 x", "1 2;3", "1e99 1", "nan 1"}) {
    shape->SetPropertyByName("Points", bad);
    EXPECT_EQ(shape->Points(), drawn) << bad;
  }
  shape->SetPropertyByName("Points", recorded);
  EXPECT_EQ(shape->Points(), first);
  shape->SetPropertyByName("Points", "1 2;;3 4 5 6");
  ASSERT_EQ(shape->Points().size(), 3u);
  EXPECT_EQ(shape->Points()[0], (TArrayOfFPoint{{1, 2}}));
  EXPECT_TRUE(shape->Points()[1].empty());
  EXPECT_EQ(shape->Points()[2], (TArrayOfFPoint{{3, 4}, {5, 6}}));
}

// Line shapes: end points kept as fractions of the bounds, the outline with its six head
// styles (against the independent model in tools/models/polygon_model.py), rotation, reversed
// bounds, handles, XML and dashed lines.
#include <cmath>
#include <cstdio>
#include <sstream>

#include <gtest/gtest.h>

#include "DocumentTestSupport.h"
#include "document/XmlDocuments.h"
#include "document/dtpDocument.h"
#include "document/dtpLineShape.h"
#include "platform/KeyState.h"
#include "tests/common/TestSupport.h"
#include "tools/DocumentFixtures.h"

using namespace document;
using kdtest::TTestDocumentHost;

namespace {

constexpr float cDpm150 = 5.905512f;

std::string RunModel(const std::string& Args) {
  const std::string cmd = "python3 " + kdtest::SourcePath("tools/models/polygon_model.py") + " " + Args + " 2>/dev/null";
  std::string out;
  if (FILE* f = popen(cmd.c_str(), "r")) {
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    if (pclose(f) != 0) out.clear();
  }
  return out;
}

class LineShapeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitializeDtpShape();
    InitializeDtpEffectShape();
    InitializeDtpPolygonShape();
    InitializeDtpLineShape();
  }
  template <typename T = TdtpLineShape>
  std::unique_ptr<T> Line(TdtpFloatPoint A, TdtpFloatPoint B, float Scale = 1) {
    auto l = NewShape<T>();
    TdtpMatrix m = IdentityDtpMatrix();
    m[0][0] = m[1][1] = Scale;
    l->SetDeviceMatrix(m);
    l->SetLinePoint(0, A);
    l->SetLinePoint(1, B);
    return l;
  }
  static TdtpFloatPoint P(const TdtpLineShape& L, int I) {
    TdtpFloatPoint p;
    L.GetPoint(I, p);
    return p;
  }
  TTestDocumentHost doc;
};

void ExpectPoints(const TArrayOfFPoint& Got, const TArrayOfFPoint& Want, float Tol = 1e-5f) {
  ASSERT_EQ(Got.size(), Want.size());
  for (size_t i = 0; i < Want.size(); ++i) {
    EXPECT_NEAR(Got[i].X, Want[i].X, Tol) << "point " << i;
    EXPECT_NEAR(Got[i].Y, Want[i].Y, Tol) << "point " << i;
  }
}

}  // namespace

TEST_F(LineShapeTest, NewLineDefaults) {
  auto l = NewShape<TdtpLineShape>();
  EXPECT_EQ(l->ClassName(), "TdtpLineShape");
  EXPECT_EQ(&FindShapeClass("TdtpLineShape2"), &TdtpLineShape2::StaticClass());
  EXPECT_EQ(l->Cursor(), -33);
  EXPECT_EQ(l->PointCount(), 2);
  EXPECT_EQ(P(*l, 0), (TdtpFloatPoint{0, 0}));
  EXPECT_EQ(P(*l, 1), (TdtpFloatPoint{l->DocWidth(), l->DocHeight()}));
  EXPECT_EQ(P(*l, 2), (TdtpFloatPoint{0, 0}));
  EXPECT_EQ(l->FillColor(), 0);
  EXPECT_TRUE(l->UseFill() && l->IsClosed());
  EXPECT_FALSE(l->UseOutline() || l->PointBased());
  EXPECT_FLOAT_EQ(l->LineWidth(), 1);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(l->GetArrow(i)->Style(), asNoArrow);
    EXPECT_FLOAT_EQ(l->GetArrow(i)->Width, 5);
    EXPECT_FLOAT_EQ(l->GetArrow(i)->Length, 7);
  }
  EXPECT_EQ(l->GetArrow(2), nullptr);
  EXPECT_EQ(ArrowStyleName(asStealthArrow), "StealthArrow");
  TdtpArrowStyle s = asArrow;
  EXPECT_FALSE(ArrowStyleFromName("oval", s));
  EXPECT_TRUE(ArrowStyleFromName("Oval", s));
  EXPECT_EQ(s, asOval);
}

TEST_F(LineShapeTest, HundredMillimetreArrow) {
  auto l = Line({0, 0}, {100, 0});
  l->Arrow1()->SetStyle(asArrow);
  EXPECT_EQ(l->DocLeft(), 0);
  EXPECT_EQ(l->DocTop(), 0);
  EXPECT_EQ(l->DocWidth(), 100);
  EXPECT_EQ(l->DocHeight(), 1);  // a horizontal line on the top edge of a 1 mm box
  l->BuildOutline();
  ExpectPoints(l->Points()[0], {{0, 0.5f}, {0, -0.5f}, {93, -0.5f}, {93, -2.5f}, {100, 0}, {93, 2.5f}, {93, 0.5f}},
               0);
  // 5 mm long: the head takes 70 % of it.
  auto s = Line({0, 0}, {5, 0});
  s->Arrow1()->SetStyle(asArrow);
  s->BuildOutline();
  EXPECT_FLOAT_EQ(s->Points()[0][2].X, 1.5f);
  // A head no wider than the line is not drawn.
  s->Arrow1()->Width = 1;
  s->BuildOutline();
  EXPECT_EQ(s->Points()[0].size(), 4u);
  s->SetLineWidth(3);
  s->Arrow1()->Width = 2;
  s->BuildOutline();
  ExpectPoints(s->Points()[0], {{0, 1.5f}, {0, -1.5f}, {5, -1.5f}, {5, 1.5f}}, 0);
}

TEST_F(LineShapeTest, EqualPointsKeepThePreviousOutline) {
  auto l = Line({0, 0}, {10, 10});
  l->BuildOutline();
  const auto before = l->Points();
  l->SetLinePoint(1, {0, 0});
  l->BuildOutline();
  EXPECT_EQ(l->Points(), before);
}

// Both ends, every style, a slanted line, at 150 DPI (curved heads depend on the scale).
TEST_F(LineShapeTest, EveryHeadStyleMatchesTheModel) {
  const char* names[] = {"NoArrow", "Arrow", "OpenArrow", "StealthArrow", "Diamond", "Oval"};
  struct {
    float X0, Y0, X1, Y1, LW, AW, AL;
  } cases[] = {{3, 4, 43, 24, 1, 5, 7}, {10, 2, 1, 30, 0.5f, 4, 3}, {0, 0, 6, 0, 1, 5, 7}};
  struct TRun {
    size_t Case;
    int S0, S1;
  };
  std::vector<TRun> runs;
  std::string args = "line";
  for (size_t k = 0; k < std::size(cases); ++k)
    for (int s0 = 0; s0 < 6; ++s0)
      for (int s1 = 0; s1 < 6; ++s1) {
        const auto& c = cases[k];
        char buf[256];
        std::snprintf(buf, sizeof buf, " %g %g %g %g %s %s %g %g %g %.9g", c.X0, c.Y0, c.X1, c.Y1, names[s0],
                      names[s1], c.LW, c.AW, c.AL, cDpm150);
        args += buf;
        runs.push_back({k, s0, s1});
      }
  std::istringstream out(RunModel(args));
  std::string text;
  size_t r = 0;
  for (; std::getline(out, text) && r < runs.size(); ++r) {
    const auto& c = cases[runs[r].Case];
    std::istringstream in(text);
    TArrayOfFPoint want;
    float x, y;
    while (in >> x >> y) want.push_back({x, y});
    auto l = Line({c.X0, c.Y0}, {c.X1, c.Y1}, cDpm150);
    l->SetLineWidth(c.LW);
    for (int i = 0; i < 2; ++i) {
      l->GetArrow(i)->Width = c.AW;
      l->GetArrow(i)->Length = c.AL;
    }
    l->Arrow0()->SetStyle(TdtpArrowStyle(runs[r].S0));
    l->Arrow1()->SetStyle(TdtpArrowStyle(runs[r].S1));
    l->BuildOutline();
    SCOPED_TRACE("case " + std::to_string(runs[r].Case) + " " + names[runs[r].S0] + " " + names[runs[r].S1]);
    ExpectPoints(l->Points()[0], want, 2e-4f);
  }
  if (r == 0) GTEST_SKIP() << "python3 is not available";
  EXPECT_EQ(r, runs.size());
}

TEST_F(LineShapeTest, StealthAndOvalGrowWithTheDeviceScale) {
  auto l = Line({0, 0}, {50, 0}, 1);
  l->Arrow0()->SetStyle(asOval);
  l->Arrow1()->SetStyle(asStealthArrow);
  l->BuildOutline();
  const size_t coarse = l->Points()[0].size();
  TdtpMatrix m = IdentityDtpMatrix();
  m[0][0] = m[1][1] = 4 * cDpm150;
  l->SetDeviceMatrix(m);
  l->BuildOutline();
  EXPECT_GT(l->Points()[0].size(), coarse);
}

TEST_F(LineShapeTest, SetDocAngleTurnsThePoints) {
  auto l = Line({0, 0}, {10, 0});
  ASSERT_EQ(l->DocWidth(), 10);
  ASSERT_EQ(l->DocHeight(), 1);
  l->SetDocAngle(90);
  EXPECT_EQ(l->DocAngle(), 0);
  EXPECT_EQ(l->DocLeft(), 0);
  EXPECT_EQ(l->DocTop(), -10);
  EXPECT_EQ(l->DocWidth(), 1);
  EXPECT_EQ(l->DocHeight(), 10);
  EXPECT_EQ(l->LinePoints()[0], (TdtpFloatPoint{0, 1}));  // bottom-left
  EXPECT_EQ(l->LinePoints()[1], (TdtpFloatPoint{0, 0}));  // top-left
  // 45 degrees from there, about the top-left corner.
  l->SetDocAngle(45);
  const float r = float(10 / std::sqrt(2.0));
  EXPECT_NEAR(P(*l, 0).X, r, 1e-4);
  EXPECT_NEAR(P(*l, 0).Y, -10 + r, 1e-4);
  EXPECT_NEAR(P(*l, 1).X, 0, 1e-4);
  EXPECT_NEAR(P(*l, 1).Y, -10, 1e-4);
  // Zero sizes do not divide by zero.
  l->SetDocBounds(5, 5, 0, 0);
  l->SetDocAngle(30);
  for (int i = 0; i < 2; ++i) EXPECT_TRUE(std::isfinite(P(*l, i).X) && std::isfinite(P(*l, i).Y));
  EXPECT_EQ(l->DocWidth(), 1);
  EXPECT_EQ(l->DocHeight(), 1);
  l->SetDocAngle(std::nanf(""));
  EXPECT_EQ(l->DocLeft(), 5);
}

TEST_F(LineShapeTest, ReversedBoundsKeepTheFirstPointWhereTheDragBegan) {
  auto l = NewShape<TdtpLineShape>();
  l->SetBoundsFromRect({30, 40, 10, 20});
  EXPECT_EQ(l->DocLeft(), 10);
  EXPECT_EQ(l->DocTop(), 20);
  EXPECT_EQ(P(*l, 0), (TdtpFloatPoint{30, 40}));
  EXPECT_EQ(P(*l, 1), (TdtpFloatPoint{10, 20}));
  auto m = NewShape<TdtpLineShape>();
  m->SetBoundsFromRect({10, 40, 30, 20});
  EXPECT_EQ(P(*m, 0), (TdtpFloatPoint{10, 40}));
  EXPECT_EQ(P(*m, 1), (TdtpFloatPoint{30, 20}));
  // Resizing moves the points with the bounds.
  m->SetDocBounds(10, 20, 40, 10);
  EXPECT_EQ(P(*m, 1), (TdtpFloatPoint{50, 20}));
}

// A stored line whose bounds have no height (or no width) still takes an end exactly where it
// is put: the end is not held on the flat side of the bounds.
TEST_F(LineShapeTest, EndOfAFlatStoredLineGoesWhereItIsPut) {
  for (const char* flat : {"DocHeight", "DocWidth"}) {
    SCOPED_TRACE(flat);
    auto l = Line({10, 20}, {50, 30});
    TXmlDocument xml;
    l->SaveToXml(xml.Root());
    xml.Root()->WriteFloat(flat, 0);
    auto t = NewShape<TdtpLineShape>();
    t->LoadFromXml(xml.Root());
    ASSERT_EQ(std::string(flat) == "DocHeight" ? t->DocHeight() : t->DocWidth(), 0);
    t->SetLinePoint(1, {60, 45});
    EXPECT_EQ(P(*t, 1), (TdtpFloatPoint{60, 45}));
    TdtpFloatPoint p0 = P(*t, 0);
    t->SetLinePoint(0, {5, 8});
    EXPECT_EQ(P(*t, 0), (TdtpFloatPoint{5, 8}));
    EXPECT_EQ(P(*t, 1), (TdtpFloatPoint{60, 45}));
    EXPECT_NE(P(*t, 0), p0);
  }
}

TEST_F(LineShapeTest, HandlesAndDragging) {
  auto l = Line({2, 3}, {12, 8});
  l->AddLinePoint({100, 100});  // a third point stays at the corner
  EXPECT_EQ(l->PointCount(), 3);
  EXPECT_EQ(l->LinePoints()[2], (TdtpFloatPoint{0, 0}));
  l->CreateHandles();
  ASSERT_EQ(l->Handles.size(), 3u);
  EXPECT_EQ(l->Handles[1].X, 10);
  EXPECT_EQ(l->Handles[1].Y, 5);
  EXPECT_EQ(l->Handles[1].Code, 11);
  ASSERT_EQ(l->HandleEdges.size(), 2u);
  EXPECT_EQ(l->HandleEdges[0].A, 0);
  EXPECT_EQ(l->HandleEdges[0].B, 1);
  l->DragHandle = 1;
  l->Handles[1].DragX = 20;  // the dragged position, not the handle's own
  l->Handles[1].DragY = -1;
  l->ApplyDragBounds();
  EXPECT_EQ(P(*l, 1), (TdtpFloatPoint{22, 2}));
  EXPECT_EQ(P(*l, 0), (TdtpFloatPoint{2, 3}));
  l->DragHandle = -1;
  l->DragLeft = 0;
  l->DragTop = 0;
  l->DragWidth = 10;
  l->DragHeight = 10;
  l->ApplyDragBounds();
  EXPECT_EQ(P(*l, 1), (TdtpFloatPoint{10, 0}));
}

TEST_F(LineShapeTest, XmlRoundTripWithAbsolutePoints) {
  auto l = Line({5, 7}, {25, 17});
  l->SetDocument(&doc);
  l->Arrow0()->SetStyle(asDiamond);
  l->Arrow1()->Width = 3;
  l->SetLineWidth(0.75f);
  TXmlDocument xml;
  l->SaveToXml(xml.Root());
  TXmlNode* root = xml.Root();
  EXPECT_EQ(root->GetNode(0)->Name(), "Arrow0");
  EXPECT_EQ(root->NodeByName("Arrow0")->ReadString("Style"), "Diamond");
  TXmlNode* pts = root->NodeByName("Points");
  ASSERT_NE(pts, nullptr);
  ASSERT_EQ(pts->GetNodeCount(), 2);
  EXPECT_EQ(pts->GetNode(1)->ReadFloat("X"), 25);
  EXPECT_EQ(pts->GetNode(1)->ReadFloat("Y"), 17);
  doc.Commands.clear();
  doc.Changed.clear();
  auto t = NewShape<TdtpLineShape>();
  t->SetDocument(&doc);
  t->SetModified(false);
  doc.Modified = false;
  t->LoadFromXml(root);
  EXPECT_TRUE(doc.Commands.empty());
  EXPECT_TRUE(doc.Changed.empty());
  EXPECT_FALSE(doc.Modified);
  EXPECT_FALSE(t->Modified());
  EXPECT_EQ(P(*t, 0), (TdtpFloatPoint{5, 7}));
  EXPECT_EQ(P(*t, 1), (TdtpFloatPoint{25, 17}));
  EXPECT_EQ(t->Arrow0()->Style(), asDiamond);
  EXPECT_FLOAT_EQ(t->Arrow1()->Width, 3);
  EXPECT_FLOAT_EQ(t->LineWidth(), 0.75f);
  l->BuildOutline();
  t->BuildOutline();
  EXPECT_EQ(t->Points(), l->Points());
  // Straight up, across, and with ends off the float grid: reloading twice keeps both ends.
  for (auto [a, b] : {std::pair<TdtpFloatPoint, TdtpFloatPoint>{{21.19f, 47.07f}, {21.19f, 42.73f}},
                      {{30, 20.3f}, {10, 20.3f}}, {{86, 31}, {98.6159515f, 40.3f}}}) {
    auto u = NewShape<TdtpLineShape>();
    u->SetBoundsFromRect({a.X, a.Y, b.X, b.Y});  // as drawn
    a = P(*u, 0);
    b = P(*u, 1);
    for (int round = 0; round < 2; ++round) {
      TXmlDocument x;
      u->SaveToXml(x.Root());
      u = NewShape<TdtpLineShape>();
      u->LoadFromXml(x.Root());
      EXPECT_EQ(P(*u, 0), a) << round;
      EXPECT_EQ(P(*u, 1), b) << round;
    }
  }
}

TEST_F(LineShapeTest, HostileXmlIsSanitised) {
  TXmlDocument xml;
  TXmlNode* r = xml.Root();
  TXmlNode* a = r->NodeNew("Arrow1");
  a->WriteString("Style", "Spear");
  a->WriteString("Width", "NaN");
  a->WriteString("Length", "-4");
  r->WriteString("LineWidth", "-INF");
  TXmlNode* pts = r->NodeNew("Points");
  pts->NodeNew("Point")->WriteString("X", "INF");
  auto l = NewShape<TdtpLineShape>();
  l->Arrow1()->SetStyle(asOval);
  l->LoadFromXml(r);
  EXPECT_EQ(l->Arrow1()->Style(), asOval);  // unknown name: unchanged
  EXPECT_EQ(l->Arrow1()->Width, 0);
  EXPECT_EQ(l->Arrow1()->Length, 0);
  EXPECT_EQ(l->LineWidth(), 0);
  EXPECT_EQ(l->PointCount(), 1);
  l->BuildOutline();  // one point: nothing to build
  TBitmap32 b;
  b.SetSize(10, 10);
  l->PaintShape(&b);
  // Many points: only the first two are placed.
  for (int i = 0; i < 50; ++i) pts->NodeNew("Point")->WriteFloat("X", i);
  l->LoadFromXml(r);
  EXPECT_EQ(l->PointCount(), 51);
  l->CreateHandles();
  EXPECT_EQ(l->Handles.size(), 51u);
  // Very many points load in one pass (in a document, which records nothing while loading).
  for (int i = 0; i < 200000; ++i) pts->NodeNew("Point")->WriteFloat("X", i);
  l->SetDocument(&doc);
  l->LoadFromXml(r);
  EXPECT_EQ(l->PointCount(), 200051);
  EXPECT_TRUE(doc.Commands.empty());
}

TEST_F(LineShapeTest, ArrowStyleChangeIsNotRecorded) {
  auto l = NewShape<TdtpLineShape>();
  l->SetDocument(&doc);
  doc.Commands.clear();
  doc.Changed.clear();
  l->Arrow0()->SetStyle(asOpenArrow);
  EXPECT_TRUE(doc.Commands.empty());
  EXPECT_EQ(doc.Changed.size(), 1u);
  EXPECT_TRUE(l->NeedsRebuild());
  // A head copied from another line stays this line's head.
  auto m = NewShape<TdtpLineShape>();
  *m->Arrow1() = *l->Arrow0();
  EXPECT_EQ(m->Arrow1()->Style(), asOpenArrow);
  l->SetModified(false);
  m->SetModified(false);
  m->Arrow1()->Width = 9;
  EXPECT_TRUE(m->Modified());
  EXPECT_FALSE(l->Modified());
}

TEST_F(LineShapeTest, DashedLineSwitchesStippleOnAtEveryRebuild) {
  auto l = Line<TdtpLineShape2>({0, 0}, {20, 0}, 2);
  l->SetDocument(&doc);
  l->BuildOutline();
  EXPECT_TRUE(l->UseStipple());
  l->SetUseStipple(false);
  doc.Commands.clear();
  doc.Changed.clear();
  l->BuildOutline();
  EXPECT_TRUE(l->UseStipple());
  EXPECT_TRUE(doc.Commands.empty());
  EXPECT_TRUE(doc.Changed.empty());
  // Painted: dashes along the contour, no hairline.
  TBitmap32 b;
  b.SetSize(50, 10);
  TdtpMatrix m = IdentityDtpMatrix();
  m[0][0] = m[1][1] = 2;
  m[1][2] = 4;
  l->SetDeviceMatrix(m);
  l->SetUseFill(false);
  l->PaintShape(&b);
  // At 2 pixels per millimetre one dash period (10 white, 6 black entries) is 4 pixels.
  int white = 0, black = 0;
  for (int x = 0; x < 40; ++x) {
    const TColor32 p = b.Pixel(x, 3);
    white += raster::AlphaComponent(p) > 0xF0 && raster::RedComponent(p) > 0xF0;
    black += raster::AlphaComponent(p) > 0xF0 && raster::RedComponent(p) == 0;
  }
  EXPECT_EQ(white, 30);
  EXPECT_EQ(black, 10);
}

TEST_F(LineShapeTest, RendersAnArrowThroughTheBuffer) {
  doc.Render = 4;
  auto l = Line({0, 10}, {30, 10});
  l->SetDocument(&doc);
  l->Arrow1()->SetStyle(asArrow);
  l->UpdateBuffer();
  ASSERT_NE(l->Buffer(), nullptr);
  // The outsets cover the head that sticks out of the 1 mm box.
  EXPECT_GE(l->OutsetTop(), 2.5f);
  EXPECT_GE(l->OutsetBottom(), 1.5f);
  const TBitmap32* b = l->Buffer();
  auto at = [&](float X, float Y) {
    const TdtpFloatPoint p = MapPoint(l->BufferMatrix(), X, Y);
    return b->Pixel(int(p.X), int(p.Y));
  };
  EXPECT_EQ(at(10, 0), 0xFF000000u);     // the stroke
  EXPECT_EQ(at(10, -1.5f), 0u);          // beside the stroke
  EXPECT_EQ(at(25, -1.5f), 0xFF000000u); // inside the head
  EXPECT_EQ(at(29, -1.5f), 0u);          // beside the apex
}

// --- in the document view --------------------------------------------------------------------

namespace {

class TLineDoc : public TdtpComponent {
 public:
  TLineDoc() : TdtpComponent(nullptr) {}
  using TdtpDocument::MouseDown;
  using TdtpDocument::MouseMove;
  using TdtpDocument::MouseUp;
};

class LineInDocumentTest : public LineShapeTest {
 protected:
  void SetUp() override {
    LineShapeTest::SetUp();
    kdfixture::InitializeFixtures();
    platform::KeyStateReset();
    view = std::make_unique<TLineDoc>();
    view->SetBounds(0, 0, 800, 600);
    view->HandleNeeded();
    view->SetViewStyle(vsNormal);
    view->SetScreenDpm(4);  // 4 pixels per millimetre, origin at the page's corner
    view->SetOriginX(0);
    view->SetOriginY(0);
  }
  void TearDown() override { platform::KeyStateReset(); }
  TdtpLineShape* AddLine(TdtpFloatPoint A, TdtpFloatPoint B) {
    auto l = NewShape<TdtpLineShape>();
    l->SetLinePoint(0, A);
    l->SetLinePoint(1, B);
    TdtpLineShape* raw = l.get();
    view->CurrentPage()->AddShape(std::move(l));
    return raw;
  }
  void Click(platform::TPoint P, platform::TShiftState Shift = 0) {
    view->MouseDown(platform::mbLeft, Shift | platform::ssLeft, P.X, P.Y);
    view->MouseUp(platform::mbLeft, Shift, P.X, P.Y);
  }
  void Drag(platform::TPoint From, platform::TPoint To) {
    view->MouseDown(platform::mbLeft, platform::ssLeft, From.X, From.Y);
    view->MouseMove(platform::ssLeft, (From.X + To.X) / 2, (From.Y + To.Y) / 2);
    view->MouseMove(platform::ssLeft, To.X, To.Y);
    view->MouseUp(platform::mbLeft, 0, To.X, To.Y);
  }
  std::unique_ptr<TLineDoc> view;
};

}  // namespace

// A selected line that moves along with another shape moves as a whole, also after one of its
// ends was dragged before: the end handle of that earlier drag is no longer the one dragged.
TEST_F(LineInDocumentTest, LineMovedWithTheSelectionKeepsItsShapeAfterAnEndDrag) {
  TdtpLineShape* l = AddLine({20, 20}, {60, 20});  // screen (80, 80) to (240, 80)
  auto r = NewShape<kdfixture::TdtpFixtureRect>();
  r->SetDocBounds(100, 50, 20, 20);  // screen (400, 200) to (480, 280)
  r->SetSmartHitTest(false);
  TdtpShape* rect = r.get();
  view->CurrentPage()->AddShape(std::move(r));
  Click({160, 80});
  ASSERT_TRUE(l->Selected());
  Drag({240, 80}, {240, 120});  // the second end 10 mm down
  EXPECT_EQ(P(*l, 0), (TdtpFloatPoint{20, 20}));
  EXPECT_EQ(P(*l, 1), (TdtpFloatPoint{60, 30}));
  Click({440, 240}, platform::ssShift);
  ASSERT_TRUE(rect->Selected());
  ASSERT_TRUE(l->Selected());
  Drag({440, 240}, {480, 260});  // both by (10, 5) mm
  EXPECT_FLOAT_EQ(rect->DocLeft(), 110);
  EXPECT_FLOAT_EQ(rect->DocTop(), 55);
  EXPECT_EQ(P(*l, 0), (TdtpFloatPoint{30, 25}));
  EXPECT_EQ(P(*l, 1), (TdtpFloatPoint{70, 35}));
}

// Undoing an end drag or a turn brings the ends back to where they were, not only the bounds:
// the ends of a line dragged across itself or turned lie in other corners of the bounds.
TEST_F(LineInDocumentTest, UndoRestoresTheEndsOfADraggedOrTurnedLine) {
  TdtpLineShape* l = AddLine({20, 20}, {60, 40});  // screen (80, 80) to (240, 160)
  auto undoAll = [&] {
    ASSERT_GT(view->UndoCount(), 0);
    for (int i = view->UndoCount() - 1; i >= 0; --i) EXPECT_TRUE(view->Undo(view->UndoItem(i)));
    view->ClearUndo();
  };
  Click({160, 120});
  ASSERT_TRUE(l->Selected());
  view->ClearUndo();
  Drag({240, 160}, {40, 160});  // the second end to (10, 40), left of the first
  EXPECT_EQ(P(*l, 0), (TdtpFloatPoint{20, 20}));
  EXPECT_EQ(P(*l, 1), (TdtpFloatPoint{10, 40}));
  undoAll();
  EXPECT_EQ(P(*l, 0), (TdtpFloatPoint{20, 20}));
  EXPECT_EQ(P(*l, 1), (TdtpFloatPoint{60, 40}));
  for (float angle : {90.0f, 180.0f, 30.0f}) {
    SCOPED_TRACE(angle);
    l->SetDocAngle(angle);
    undoAll();
    EXPECT_NEAR(P(*l, 0).X, 20, 1e-4);
    EXPECT_NEAR(P(*l, 0).Y, 20, 1e-4);
    EXPECT_NEAR(P(*l, 1).X, 60, 1e-4);
    EXPECT_NEAR(P(*l, 1).Y, 40, 1e-4);
  }
  // A text that is not pairs of numbers changes nothing.
  l->SetPropertyByName("LinePoints", "0 1 x 1");
  l->SetPropertyByName("LinePoints", "0 1 0");
  EXPECT_EQ(l->LinePoints(), (std::vector<TdtpFloatPoint>{{0, 0}, {1, 1}}));
  EXPECT_EQ(view->UndoCount(), 0);
}

// A line drawn straight across or straight down keeps both ends where the drag began and
// ended; its bounds are one millimetre across the line, with the line on their top or left edge.
TEST_F(LineInDocumentTest, LineDrawnStraightAcrossOrDownKeepsItsEnds) {
  const std::pair<platform::TPoint, platform::TPoint> drags[] = {
      {{80, 80}, {240, 80}}, {{240, 80}, {80, 80}}, {{80, 80}, {80, 240}}, {{80, 240}, {80, 80}}};
  for (const auto& [from, to] : drags) {
    SCOPED_TRACE(std::to_string(from.X) + "," + std::to_string(from.Y) + " to " + std::to_string(to.X) + "," +
                 std::to_string(to.Y));
    auto line = NewShape<TdtpLineShape>();
    TdtpLineShape* l = line.get();
    view->BeginInsert(std::move(line), 1);
    Drag(from, to);
    ASSERT_EQ(l->ParentShape(), view->CurrentPage());
    view->EndShapeEdit(true);
    EXPECT_EQ(P(*l, 0), (TdtpFloatPoint{from.X / 4.0f, from.Y / 4.0f}));
    EXPECT_EQ(P(*l, 1), (TdtpFloatPoint{to.X / 4.0f, to.Y / 4.0f}));
    EXPECT_FLOAT_EQ(l->DocLeft(), 20);
    EXPECT_FLOAT_EQ(l->DocTop(), 20);
    EXPECT_FLOAT_EQ(l->DocWidth(), from.X == to.X ? 1 : 40);
    EXPECT_FLOAT_EQ(l->DocHeight(), from.Y == to.Y ? 1 : 40);
    // Dragging the far end on keeps the near one and puts the far one where the mouse goes.
    view->ClearSelection();
    Click({(from.X + to.X) / 2, (from.Y + to.Y) / 2});
    ASSERT_TRUE(l->Selected());
    Drag(to, {to.X + 40, to.Y + 40});
    EXPECT_EQ(P(*l, 0), (TdtpFloatPoint{from.X / 4.0f, from.Y / 4.0f}));
    EXPECT_EQ(P(*l, 1), (TdtpFloatPoint{to.X / 4.0f + 10, to.Y / 4.0f + 10}));
    view->ClearSelection();
    view->CurrentPage()->ClearShapes();
  }
}

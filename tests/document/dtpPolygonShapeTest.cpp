// Polygon shape base and the polygon family: outlines against the independent float32 model
// (tools/models/polygon_model.py), arc segment counts, the head variants, caching, point-based
// contours, properties with undo, XML and rendering.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

#include <gtest/gtest.h>

#include "DocumentTestSupport.h"
#include "document/XmlDocuments.h"
#include "document/dtpPolygonShape.h"
#include "platform/SysUtils.h"
#include "tests/common/TestSupport.h"

using namespace document;
using kdtest::TTestDocumentHost;

namespace {

constexpr float cDpm150 = 5.905512f;

// Runs the Python model; empty when Python is not there.
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

struct TModelShape {
  std::string Name;
  TArrayOfFPoint Points;
};

std::vector<TModelShape> ModelFamily(float W, float H, float Scale) {
  char args[128];
  std::snprintf(args, sizeof args, "family %.9g %.9g %.9g", W, H, Scale);
  std::istringstream in(RunModel(args));
  std::vector<TModelShape> out;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream ls(line);
    TModelShape s;
    ls >> s.Name;
    float x, y;
    while (ls >> x >> y) s.Points.push_back({x, y});
    out.push_back(std::move(s));
  }
  return out;
}

bool Close(float A, float B) { return std::fabs(A - B) <= 2e-5f + 2e-6f * std::fabs(B); }

class PolygonShapeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitializeDtpShape();
    InitializeDtpEffectShape();
    InitializeDtpPolygonShape();
  }
  static TdtpMatrix Scale(float S) {
    TdtpMatrix m = IdentityDtpMatrix();
    m[0][0] = m[1][1] = S;
    return m;
  }
  // A shape of the class at the size and device scale, its outline built.
  static std::unique_ptr<TdtpPolygonShape> Make(const TShapeClass& Cls, float W, float H, float S) {
    auto s = CreateShape(Cls);
    auto* p = dynamic_cast<TdtpPolygonShape*>(s.get());
    EXPECT_NE(p, nullptr) << Cls.Name;
    s.release();
    std::unique_ptr<TdtpPolygonShape> r(p);
    r->SetDeviceMatrix(Scale(S));
    r->SetDocBounds(0, 0, W, H);
    r->BuildOutline();
    return r;
  }
  TTestDocumentHost doc;
};

int Count(const TArrayOfFPoint& C, TdtpFloatPoint P) {
  int n = 0;
  for (const auto& q : C) n += q == P;
  return n;
}

}  // namespace

// ---------------------------------------------------------------------------------------

TEST_F(PolygonShapeTest, RegistersFortyOneClassesInOrder) {
  const auto& list = PolygonShapeClasses();
  ASSERT_EQ(list.size(), 41u);
  const char* expectedStart[] = {"TdtpPolygonShape", "TdtpEllipseShape", "TdtpRectangleShape", "TdtpRoundRectShape",
                                 "TdtpAchtHShape",   "TdtpDrieHShape",   "TdtpVijfHShape",     "TdtpZesHShape",
                                 "TdtpHcirkel1ShapeA"};
  for (size_t i = 0; i < std::size(expectedStart); ++i) EXPECT_EQ(list[i]->Name, expectedStart[i]);
  EXPECT_EQ(list[15]->Name, "TdtpKcirkel4ShapeA");
  EXPECT_EQ(list[16]->Name, "TdtpHcirkel1ShapeB");
  EXPECT_EQ(list[24]->Name, "TdtpHcirkel1ShapeC");
  EXPECT_EQ(list[32]->Name, "TdtpHcirkel1ShapeD");
  EXPECT_EQ(list[40]->Name, "TdtpHcirkel1ShapeV");
  for (const TShapeClass* c : list) {
    EXPECT_EQ(&FindShapeClass(c->Name), c);
    auto s = CreateShape(*c);
    EXPECT_EQ(s->ClassName(), c->Name);
    EXPECT_TRUE(s->InheritsFrom(TdtpPolygonShape::StaticClass()));
    const int16_t cursor = c->Name == "TdtpEllipseShape" ? -36
                           : (c->Name == "TdtpRectangleShape" || c->Name == "TdtpRoundRectShape" ||
                              c->Name == "TdtpAchtHShape")
                               ? -35
                               : -3;
    EXPECT_EQ(s->Cursor(), cursor) << c->Name;
  }
}

TEST_F(PolygonShapeTest, NewShapeDefaults) {
  auto s = NewShape<TdtpPolygonShape>();
  EXPECT_EQ(s->DocWidth(), 40);
  EXPECT_EQ(s->DocHeight(), 30);
  EXPECT_EQ(s->FillColor(), 0xFF0000);
  EXPECT_EQ(s->OutlineColor(), 0);
  EXPECT_EQ(s->FillAlpha(), 255);
  EXPECT_FLOAT_EQ(s->OutlineWidth(), 0.5f);
  EXPECT_TRUE(s->UseFill() && s->UseOutline() && s->IsClosed());
  EXPECT_FALSE(s->UseStipple() || s->SmartHitTest() || s->PointBased());
  EXPECT_FLOAT_EQ(s->StippleScale(), 2.0f);
  EXPECT_FLOAT_EQ(s->CurbLeft(), 0.25f);
  EXPECT_FLOAT_EQ(s->CurbBottom(), 0.25f);
  // The outsets also cover the outline's bounds grown by the full width.
  EXPECT_FLOAT_EQ(s->OutsetLeft(), 0.5f);
  EXPECT_FLOAT_EQ(s->OutsetRight(), 0.5f);
  const auto& p = s->Points();
  ASSERT_EQ(p.size(), 2u);
  const TArrayOfFPoint outer = {{0, 0}, {0, 30}, {40.0f * 20 / 30, 30}, {40, 15}, {40, 0}};
  ASSERT_EQ(p[0].size(), 5u);
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_NEAR(p[0][i].X, outer[i].X, 1e-5);
    EXPECT_NEAR(p[0][i].Y, outer[i].Y, 1e-5);
  }
  ASSERT_EQ(p[1].size(), 4u);
  EXPECT_NEAR(p[1][0].X, 40.0f * 10 / 30, 1e-5);
  EXPECT_NEAR(p[1][0].Y, 14, 1e-5);
}

TEST_F(PolygonShapeTest, OutlineWidthSetsOutsetsWithAMinimum) {
  auto s = NewShape<TdtpPolygonShape>();
  s->SetOutlineWidth(0.1f);
  EXPECT_FLOAT_EQ(s->CurbTop(), 0.1f);
  s->SetOutlineWidth(3);
  EXPECT_FLOAT_EQ(s->CurbTop(), 1.5f);
  s->SetOutlineWidth(std::nanf(""));
  EXPECT_EQ(s->OutlineWidth(), 0);
  EXPECT_FLOAT_EQ(s->CurbTop(), 0.1f);
}

// Every class at a small size against the model: point counts exactly, coordinates to float
// precision; at device scale 1 (few segments), at 150 DPI, and at a size that gives v <= 0.5.
TEST_F(PolygonShapeTest, EveryClassMatchesTheModel) {
  struct TCase {
    float W, H, S;
  } cases[] = {{12, 8, 1}, {10, 6, cDpm150}, {3.5f, 9.25f, 2.5f}, {0.005f, 0.005f, cDpm150}};
  for (const auto& c : cases) {
    const auto model = ModelFamily(c.W, c.H, c.S);
    if (model.empty()) GTEST_SKIP() << "python3 is not available";
    ASSERT_EQ(model.size(), 41u);
    for (size_t k = 0; k < 41; ++k) {
      const TShapeClass* cls = PolygonShapeClasses()[k];
      ASSERT_EQ(model[k].Name, cls->Name);
      auto s = Make(*cls, c.W, c.H, c.S);
      const TArrayOfFPoint& got = s->Points().back();
      const TArrayOfFPoint& want = model[k].Points;
      const size_t contourPoints = k == 0 ? s->Points()[0].size() + got.size() : got.size();
      ASSERT_EQ(contourPoints, want.size()) << cls->Name << " at " << c.W << " x " << c.H << " scale " << c.S;
      TArrayOfFPoint all;
      for (const auto& contour : s->Points()) all.insert(all.end(), contour.begin(), contour.end());
      for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_TRUE(Close(all[i].X, want[i].X) && Close(all[i].Y, want[i].Y))
            << cls->Name << " point " << i << ": " << all[i].X << ", " << all[i].Y << " want " << want[i].X << ", "
            << want[i].Y;
      }
    }
  }
}

TEST_F(PolygonShapeTest, ArcSegmentThresholds) {
  const double k = 2 / 3.14159265358979323846;  // length giving v = 1
  struct {
    double V;
    int32_t N;
  } table[] = {{0, 1},       {0.4999, 1}, {0.5001, 2}, {2.999, 2},    {3.001, 3},
               {6.999, 3},   {7.001, 2},  {10.01, 3},  {99.9, 20},    {100.001, 11},
               {583.0, 59},  {1e9, cMaxArcSegments}};
  for (const auto& t : table) EXPECT_EQ(ArcSegmentCount(t.V * k), t.N) << "v = " << t.V;
  EXPECT_EQ(ArcSegmentCount(std::nan("")), 1);
  EXPECT_EQ(ArcSegmentCount(-5), 1);
  EXPECT_EQ(ArcSegmentCount(HUGE_VAL), cMaxArcSegments);
  TArcPoints a;
  BuildArcPoints(40 * k, a);  // v = 40: 8 segments
  ASSERT_EQ(a.N(), 8);
  EXPECT_EQ(a.C[0], 1);
  EXPECT_EQ(a.S[0], 0);
  EXPECT_EQ(a.C[8], 0);
  EXPECT_EQ(a.S[8], 1);
  EXPECT_FLOAT_EQ(a.C[4], std::sqrt(0.5f));
  const std::string model = RunModel("segments 371.197");
  if (!model.empty()) {
    EXPECT_EQ(std::stoi(model), ArcSegmentCount(371.197));
  }
}

TEST_F(PolygonShapeTest, HalfEllipseSegmentsAt150Dpi) {
  // v = pi/2 * 2 pi * 10 * 5.905512, about 583: 59 segments, 2 * 59 points without heads.
  auto s = Make(TdtpHcirkel1ShapeB::StaticClass(), 10, 5, cDpm150);
  EXPECT_EQ(s->Points()[0].size(), 118u);
  // The device scale of the buffer decides: at 300 DPI twice the segments.
  s->SetDeviceMatrix(Scale(2 * cDpm150));
  s->BuildOutline();
  EXPECT_EQ(s->Points()[0].size(), 2u * ArcSegmentCount(2 * 3.14159265358979 * 10 * 2 * cDpm150));
}

TEST_F(PolygonShapeTest, TinyEllipseKeepsOneSegmentPerQuarter) {
  auto s = Make(TdtpEllipseShape::StaticClass(), 0.005f, 0.005f, cDpm150);
  const TArrayOfFPoint& p = s->Points()[0];
  ASSERT_EQ(p.size(), 4u);
  const float W = 0.005f, H = 0.005f;
  EXPECT_EQ(p[0], (TdtpFloatPoint{W, H / 2}));
  EXPECT_EQ(p[1], (TdtpFloatPoint{W / 2, H}));
  EXPECT_EQ(p[2], (TdtpFloatPoint{0, H / 2}));
  EXPECT_EQ(p[3], (TdtpFloatPoint{W / 2, 0}));
}

TEST_F(PolygonShapeTest, RoundRectCornersAreClampedToHalfTheSize) {
  auto s = NewShape<TdtpRoundRectShape>();
  EXPECT_FLOAT_EQ(s->CornerWidth(), 10);
  EXPECT_FLOAT_EQ(s->CornerHeight(), 7.5f);
  s->SetDeviceMatrix(Scale(1));
  s->BuildOutline();
  EXPECT_EQ(s->Points()[0].front(), (TdtpFloatPoint{0, 7.5f}));
  s->SetCornerWidth(50);
  s->BuildOutline();
  const TArrayOfFPoint& p = s->Points()[0];
  const size_t n = p.size() / 4 - 1;
  EXPECT_EQ(p[0], (TdtpFloatPoint{0, 7.5f}));
  EXPECT_EQ(p[n], (TdtpFloatPoint{20, 0}));      // rx = W / 2
  EXPECT_EQ(p[n + 1], (TdtpFloatPoint{20, 0}));  // the top-right corner starts where it ends
  EXPECT_EQ(p.back(), (TdtpFloatPoint{0, 30 - 7.5f}));
  // Set by name through undo's path; corners from XML.
  s->SetPropertyByName("cornerheight", "2");
  EXPECT_FLOAT_EQ(s->CornerHeight(), 2);
  TXmlDocument xml;
  s->SaveToXml(xml.Root());
  auto t = NewShape<TdtpRoundRectShape>();
  t->LoadFromXml(xml.Root());
  EXPECT_FLOAT_EQ(t->CornerWidth(), 50);
  EXPECT_FLOAT_EQ(t->CornerHeight(), 2);
  xml.Root()->NodeByName("CornerWidth")->SetValueAsString("NaN");
  t->LoadFromXml(xml.Root());
  EXPECT_EQ(t->CornerWidth(), 0);
  for (const auto& q : t->Points()[0]) EXPECT_TRUE(std::isfinite(q.X) && std::isfinite(q.Y));
}

TEST_F(PolygonShapeTest, HeadVariants) {
  const float W = 20, H = 10;
  const TdtpFloatPoint end{W, H};
  for (float w : {3.0f, 20.0f, 77.0f}) {
    auto b = Make(TdtpHcirkel1ShapeB::StaticClass(), w, H, cDpm150);
    EXPECT_EQ(Count(b->Points()[0], {w, H}), 0);
  }
  auto d = Make(TdtpHcirkel1ShapeD::StaticClass(), W, H, cDpm150);
  EXPECT_EQ(Count(d->Points()[0], end), 2);
  EXPECT_EQ(d->Points()[0].back(), end);
  auto c = Make(TdtpHcirkel1ShapeC::StaticClass(), W, H, cDpm150);
  EXPECT_EQ(c->Points()[0].size(), d->Points()[0].size());
  EXPECT_EQ(Count(c->Points()[0], {0, H}), 3);  // head apex twice, then the arc's first point
  auto v = Make(TdtpHcirkel1ShapeV::StaticClass(), W, H, cDpm150);
  auto b = Make(TdtpHcirkel1ShapeB::StaticClass(), W, H, cDpm150);
  EXPECT_EQ(v->Points(), b->Points());
  // The quarter ellipse 1's end head has three points, every other head four.
  auto ka = Make(TdtpKcirkel1ShapeA::StaticClass(), W, H, cDpm150);
  auto kb = Make(TdtpKcirkel1ShapeB::StaticClass(), W, H, cDpm150);
  EXPECT_EQ(ka->Points()[0].size(), kb->Points()[0].size() + 7);
  const TArrayOfFPoint& kp = ka->Points()[0];
  EXPECT_EQ(kp[kp.size() - 3], (TdtpFloatPoint{W + 1, H - 2}));
  EXPECT_EQ(kp.back(), end);
  auto ka2 = Make(TdtpKcirkel2ShapeA::StaticClass(), W, H, cDpm150);
  auto kb2 = Make(TdtpKcirkel2ShapeB::StaticClass(), W, H, cDpm150);
  EXPECT_EQ(ka2->Points()[0].size(), kb2->Points()[0].size() + 8);
}

TEST_F(PolygonShapeTest, PentagonKeepsItsAsymmetry) {
  auto s = Make(TdtpVijfHShape::StaticClass(), 12, 8, 1);
  const TArrayOfFPoint& p = s->Points()[0];
  ASSERT_EQ(p.size(), 6u);
  EXPECT_FLOAT_EQ(p[3].X, 10);
  EXPECT_FLOAT_EQ(p[4].X, 2.4f);
  EXPECT_EQ(p[0], p[5]);
}

TEST_F(PolygonShapeTest, OutlineIsCachedBySizeAndScale) {
  auto s = Make(TdtpEllipseShape::StaticClass(), 10, 10, 1);
  const size_t n1 = s->Points()[0].size();
  // Touching the points from outside drops the cache.
  s->OffsetPoints(1, 1);
  s->BuildOutline();
  EXPECT_EQ(s->Points()[0][0], (TdtpFloatPoint{10, 5}));
  s->SetDeviceMatrix(Scale(10));
  s->BuildOutline();
  EXPECT_GT(s->Points()[0].size(), n1);
  s->SetDocBounds(0, 0, 20, 10);
  EXPECT_EQ(s->Points()[0][0], (TdtpFloatPoint{20, 5}));
  // A huge ellipse is capped rather than made of millions of points.
  s->SetDocBounds(0, 0, 1e7f, 1e7f);
  s->BuildOutline();
  EXPECT_EQ(s->Points()[0].size(), 4u * cMaxArcSegments);
}

TEST_F(PolygonShapeTest, PointsHelpers) {
  auto s = NewShape<TdtpPolygonShape>();
  s->SetPointBased(true);
  s->ClearPoints();
  EXPECT_TRUE(s->IsEmpty());
  TdtpFloatRect r;
  s->GetPointsBounds(r);
  EXPECT_EQ(r, (TdtpFloatRect{0, 0, 0, 0}));
  s->AddPointXY(2, 3);
  EXPECT_FALSE(s->IsEmpty());
  s->NewContour();
  s->AddPoint({6, -1});
  s->GetPointsBounds(r);
  EXPECT_EQ(r, (TdtpFloatRect{2, -1, 6, 3}));
  s->FitPoints({10, 10, 14, 18});
  EXPECT_EQ(s->Points()[0][0], (TdtpFloatPoint{10, 18}));
  EXPECT_EQ(s->Points()[1][0], (TdtpFloatPoint{14, 10}));
  // A degenerate box only moves.
  s->ClearPoints();
  s->AddPointXY(5, 5);
  s->AddPointXY(5, 9);
  s->FitPoints({1, 1, 100, 100});
  EXPECT_EQ(s->Points()[0][1], (TdtpFloatPoint{1, 5}));
}

TEST_F(PolygonShapeTest, PointBasedShapeScalesWithItsSize) {
  auto s = NewShape<TdtpPolygonShape>();
  s->SetPointBased(true);
  s->SetDocBounds(0, 0, 10, 10);
  s->ClearPoints();
  s->AddPointXY(10, 10);
  s->AddPointXY(4, 6);
  s->SetDocBounds(0, 0, 20, 5);
  EXPECT_EQ(s->Points()[0][0], (TdtpFloatPoint{20, 5}));
  EXPECT_EQ(s->Points()[0][1], (TdtpFloatPoint{8, 3}));
  // A zero dimension neither scales nor rebuilds.
  s->SetDocBounds(0, 0, 0, 5);
  s->SetDocBounds(0, 0, 40, 5);
  EXPECT_EQ(s->Points()[0][0], (TdtpFloatPoint{20, 5}));
}

TEST_F(PolygonShapeTest, PointBasedXmlRoundTripKeepsContoursInOrder) {
  auto s = NewShape<TdtpPolygonShape>();
  s->SetPointBased(true);
  s->ClearPoints();
  s->AddPointXY(1.5f, 2);
  s->AddPointXY(3, 4.25f);
  s->NewContour();
  s->AddPointXY(-1, 0.125f);
  s->NewContour();
  s->AddPointXY(7, 8);
  s->AddPointXY(9, 10);
  s->AddPointXY(11, 12);
  TXmlDocument xml;
  s->SaveToXml(xml.Root());
  TXmlNode* poly = xml.Root()->NodeByName("Polygon");
  ASSERT_NE(poly, nullptr);
  EXPECT_EQ(poly->GetNodeCount(), 3);
  auto t = NewShape<TdtpPolygonShape>();
  t->SetPointBased(true);
  t->LoadFromXml(xml.Root());
  EXPECT_EQ(t->Points(), s->Points());
  // Without a "Polygon" element one empty contour is left.
  xml.Root()->NodeDelete(xml.Root()->NodeIndexByName("Polygon"));
  t->LoadFromXml(xml.Root());
  EXPECT_TRUE(t->IsEmpty());
  ASSERT_EQ(t->Points().size(), 1u);
}

TEST_F(PolygonShapeTest, ShapesOfSizeIgnoreStoredPolygons) {
  auto s = NewShape<TdtpRectangleShape>();
  s->SetDocBounds(5, 6, 7, 8);
  TXmlDocument xml;
  s->SaveToXml(xml.Root());
  EXPECT_EQ(xml.Root()->NodeByName("Polygon"), nullptr);
  TXmlNode* pt = xml.Root()->NodeNew("Polygon")->NodeNew("Line")->NodeNew("Point");
  pt->WriteFloat("X", 99);
  auto t = NewShape<TdtpRectangleShape>();
  t->LoadFromXml(xml.Root());
  EXPECT_EQ(t->Points()[0], (TArrayOfFPoint{{0, 0}, {0, 8}, {7, 8}, {7, 0}}));
}

TEST_F(PolygonShapeTest, XmlRoundTripAndMissingElements) {
  auto s = NewShape<TdtpEllipseShape>();
  s->SetDocument(&doc);
  s->SetOutlineWidth(1.25f);
  s->SetFillAlpha(100);
  s->SetFillColor(0x123456);
  s->SetOutlineColor(0x00FF00);
  s->SetUseFill(false);
  s->SetIsClosed(false);
  s->SetUseStipple(true);
  TXmlDocument xml;
  s->SaveToXml(xml.Root());
  EXPECT_EQ(xml.Root()->ReadString("FillColor"), "$00123456");
  EXPECT_EQ(xml.Root()->ReadString("UseStipple"), "True");
  doc.Commands.clear();
  doc.Modified = false;
  auto t = NewShape<TdtpEllipseShape>();
  t->SetDocument(&doc);
  t->SetModified(false);
  doc.Modified = false;
  t->LoadFromXml(xml.Root());
  EXPECT_TRUE(doc.Commands.empty());
  EXPECT_TRUE(doc.Changed.empty() || doc.Changed.back() != t.get());
  EXPECT_FALSE(t->Modified());
  EXPECT_FALSE(doc.Modified);
  EXPECT_FLOAT_EQ(t->OutlineWidth(), 1.25f);
  EXPECT_FLOAT_EQ(t->CurbLeft(), 0.625f);
  EXPECT_EQ(t->FillAlpha(), 100);
  EXPECT_EQ(t->FillColor(), 0x123456);
  EXPECT_EQ(t->OutlineColor(), 0x00FF00);
  EXPECT_FALSE(t->UseFill());
  EXPECT_TRUE(t->UseOutline());
  EXPECT_FALSE(t->IsClosed());
  EXPECT_TRUE(t->UseStipple());
  // Missing elements read as 0 and False, IsClosed as True.
  TXmlDocument empty;
  empty.Root()->WriteFloat("DocWidth", 8);
  empty.Root()->WriteFloat("DocHeight", 4);
  t->LoadFromXml(empty.Root());
  EXPECT_EQ(t->OutlineWidth(), 0);
  EXPECT_EQ(t->FillAlpha(), 0);
  EXPECT_EQ(t->FillColor(), 0);
  EXPECT_FALSE(t->UseFill() || t->UseOutline() || t->UseStipple());
  EXPECT_TRUE(t->IsClosed());
  EXPECT_FLOAT_EQ(t->Points()[0][0].X, 8);
  // Hostile values are sanitised.
  empty.Root()->WriteString("OutlineWidth", "-3");
  empty.Root()->WriteString("FillAlpha", "999");
  t->LoadFromXml(empty.Root());
  EXPECT_EQ(t->OutlineWidth(), 0);
  EXPECT_EQ(t->FillAlpha(), 255);
  empty.Root()->WriteString("OutlineWidth", "INF");
  t->LoadFromXml(empty.Root());
  EXPECT_EQ(t->OutlineWidth(), 0);
}

TEST_F(PolygonShapeTest, SettersRecordUndoAndSetByNameAppliesThem) {
  auto s = NewShape<TdtpPolygonShape>();
  s->SetDocument(&doc);
  doc.Commands.clear();
  s->SetFillColor(0xFF0000);  // unchanged
  s->SetUseStipple(false);
  EXPECT_TRUE(doc.Commands.empty());
  s->SetFillColor(0x00FF00);
  s->SetOutlineWidth(2);
  s->SetUseArrow1(false);  // recorded even when unchanged
  ASSERT_EQ(doc.Commands.size(), 3u);
  EXPECT_EQ(doc.Commands[0]->Name, "FillColor");
  EXPECT_EQ(doc.Commands[0]->Value, std::to_string(0xFF0000));
  EXPECT_EQ(doc.Commands[1]->Name, "OutlineWidth");
  EXPECT_EQ(doc.Commands[1]->Value, platform::FloatToStr(0.5f));
  EXPECT_EQ(doc.Commands[2]->Name, "UseArrow1");
  EXPECT_EQ(doc.Commands[2]->Value, "False");
  // Undoing records nothing more here; the commands are moved out before they run.
  auto undo = std::move(doc.Commands);
  doc.Undo = false;
  for (auto it = undo.rbegin(); it != undo.rend(); ++it) s->ExecuteCommand(it->get());
  EXPECT_EQ(s->FillColor(), 0xFF0000);
  EXPECT_FLOAT_EQ(s->OutlineWidth(), 0.5f);
  s->SetPropertyByName("usestipple", "True");
  s->SetPropertyByName("FILLALPHA", "$80");
  s->SetPropertyByName("IsClosed", "f");
  s->SetPropertyByName("DocWidth", "12");
  EXPECT_TRUE(s->UseStipple());
  EXPECT_EQ(s->FillAlpha(), 128);
  EXPECT_FALSE(s->IsClosed());
  EXPECT_FALSE(s->FillPolygon()->Closed());
  EXPECT_EQ(s->DocWidth(), 12);
}

// ---------------------------------------------------------------------------------------
// Polygons and painting

TEST_F(PolygonShapeTest, FixedPointPolygonsAtTheDeviceScale) {
  auto s = Make(TdtpRectangleShape::StaticClass(), 10, 5, 2);
  TdtpMatrix m = Scale(2);
  m[0][2] = 3;
  m[1][2] = 0.5f;
  s->SetDeviceMatrix(m);
  EXPECT_TRUE(s->NeedsRebuild());
  s->UpdatePolygons();
  EXPECT_FALSE(s->NeedsRebuild());
  const auto& fp = s->FillPolygon()->Points();
  ASSERT_GE(fp.size(), 1u);
  ASSERT_EQ(fp[0].size(), 4u);
  EXPECT_EQ(fp[0][0], (raster::TFixedPoint{3 << 16, 1 << 15}));
  EXPECT_EQ(fp[0][2], (raster::TFixedPoint{23 << 16, (10 << 16) + (1 << 15)}));
  EXPECT_TRUE(s->FillPolygon()->Antialiased());
  EXPECT_EQ(s->FillPolygon()->FillMode(), raster::pfAlternate);
  ASSERT_NE(s->OutlinePolygon(), nullptr);
  EXPECT_EQ(s->OutlinePolygon()->FillMode(), raster::pfWinding);
  // No stroke polygon without a positive width, or with the outline off.
  s->SetOutlineWidth(0);
  s->UpdatePolygons();
  EXPECT_EQ(s->OutlinePolygon(), nullptr);
  s->SetOutlineWidth(1);
  s->SetUseOutline(false);
  s->UpdatePolygons();
  EXPECT_EQ(s->OutlinePolygon(), nullptr);
  // A width too large for fixed point is clamped to 8192 pixels a side, not wrapped.
  s->SetUseOutline(true);
  s->SetOutlineWidth(1e30f);
  s->UpdatePolygons();
  ASSERT_NE(s->OutlinePolygon(), nullptr);
  int32_t extent = 0;
  for (const auto& c : s->OutlinePolygon()->Points())
    for (const auto& q : c) extent = std::max({extent, std::abs(q.X >> 16), std::abs(q.Y >> 16)});
  EXPECT_GE(extent, 8192);
  EXPECT_LE(extent, 8192 + 30);
  TBitmap32 b;
  b.SetSize(40, 20);
  s->PaintShape(&b);
}

TEST_F(PolygonShapeTest, PaintsFillStrokeHairlineAndDashes) {
  TBitmap32 b;
  b.SetSize(60, 60);
  auto s = Make(TdtpRectangleShape::StaticClass(), 20, 20, 2);
  TdtpMatrix m = Scale(2);
  m[0][2] = m[1][2] = 10;
  s->SetDeviceMatrix(m);
  s->SetOutlineWidth(2);  // 4 pixels: 2 each side of the edge
  s->PaintShape(&b);
  // The edge at x = 10 pixels, the stroke from 8 to 12.
  EXPECT_EQ(b.Pixel(30, 30), 0xFF0000FFu);  // blue fill
  EXPECT_EQ(b.Pixel(8, 30), 0xFF000000u);
  EXPECT_EQ(b.Pixel(10, 30), 0xFF000000u);
  EXPECT_EQ(b.Pixel(11, 30), 0xFF000000u);
  EXPECT_EQ(b.Pixel(12, 30), 0xFF0000FFu);
  EXPECT_EQ(b.Pixel(7, 30), 0u);  // cleared to transparent black
  s->SetFillAlpha(128);
  s->PaintShape(&b);
  EXPECT_EQ(b.Pixel(30, 30), 0x800000FFu);
  // Hairline: only the edge pixels.
  s->SetOutlineWidth(0);
  s->SetUseFill(false);
  s->SetOutlineColor(platform::clRed);
  s->PaintShape(&b);
  EXPECT_EQ(b.Pixel(30, 30), 0u);
  EXPECT_EQ(b.Pixel(13, 30), 0u);
  EXPECT_EQ(b.Pixel(7, 30), 0u);
  int edge = 0;
  for (int x = 9; x <= 11; ++x) {
    const TColor32 q = b.Pixel(x, 30);
    edge += raster::AlphaComponent(q) > 0x80 && raster::RedComponent(q) > 0xF0 && (q & 0xFFFF) == 0;
  }
  EXPECT_EQ(edge, 1);
  // Dashes instead of the hairline: white and black runs along the edge.
  s->SetUseStipple(true);
  s->PaintShape(&b);
  // Along the left edge, 2 pixels per millimetre: a period of 4 pixels, 3 white and 1 black.
  int white = 0, black = 0;
  for (int y = 10; y < 50; ++y) {
    int r = 0, a = 0;
    for (int x = 9; x <= 11; ++x) {
      r = std::max(r, raster::RedComponent(b.Pixel(x, y)));
      a = std::max(a, raster::AlphaComponent(b.Pixel(x, y)));
    }
    white += a > 0xF0 && r > 0xF0;
    black += a > 0xF0 && r == 0;
  }
  EXPECT_GE(white, 28);
  EXPECT_GE(black, 8);
  EXPECT_EQ(b.Pixel(30, 30), 0u);
}

TEST_F(PolygonShapeTest, RendersThroughTheBuffer) {
  doc.Render = doc.Screen = 2;
  auto s = NewShape<TdtpEllipseShape>();
  s->SetDocument(&doc);
  s->SetDocBounds(0, 0, 20, 10);
  s->UpdateBuffer();
  ASSERT_NE(s->Buffer(), nullptr);
  // Outsets of 0.5 mm each side at 2 pixels per millimetre.
  EXPECT_EQ(s->Buffer()->Width(), 42);
  EXPECT_EQ(s->Buffer()->Height(), 22);
  EXPECT_EQ(s->Buffer()->Pixel(21, 11), 0xFF0000FFu);
  EXPECT_EQ(s->Buffer()->Pixel(2, 2), 0u);
  // The stroke is one pixel wide on the edge at x = 1: half over the fill.
  const TColor32 e = s->Buffer()->Pixel(1, 11);
  EXPECT_EQ(raster::AlphaComponent(e), 0xFFu);
  EXPECT_GT(raster::BlueComponent(e), 0x20);
  EXPECT_LT(raster::BlueComponent(e), 0xE0);
  EXPECT_EQ(e & 0xFFFF00, 0u);
}

TEST_F(PolygonShapeTest, RegionIsTheContourOnScreen) {
  auto parent = NewShape<TdtpShape>();
  auto child = NewShape<TdtpRectangleShape>();
  TdtpRectangleShape* s = child.get();
  EXPECT_TRUE(s->CreateRegion().empty());  // no document, no screen
  parent->AddShape(std::move(child));
  parent->SetDocument(&doc);
  doc.Screen = 2;
  s->SetDocBounds(1, 2, 10, 5);
  const auto r = s->CreateRegion();
  ASSERT_EQ(r.size(), 4u);
  EXPECT_EQ(r[0], (platform::TPoint{2, 4}));
  EXPECT_EQ(r[2], (platform::TPoint{22, 14}));
  auto p = NewShape<TdtpPolygonShape>();
  p->SetDocument(&doc);
  EXPECT_EQ(p->CreateRegionContours().size(), 2u);
}

TEST_F(PolygonShapeTest, ExtremeStoredSizesStayBounded) {
  TXmlDocument xml;
  xml.Root()->WriteString("DocWidth", "1E38");
  xml.Root()->WriteString("DocHeight", "3");
  xml.Root()->WriteBool("UseOutline", true);
  xml.Root()->WriteFloat("OutlineWidth", 1);
  for (const TShapeClass* c : {&TdtpEllipseShape::StaticClass(), &TdtpHcirkel2ShapeA::StaticClass(),
                               &TdtpRoundRectShape::StaticClass()}) {
    auto s = CreateShape(*c);
    auto* p = static_cast<TdtpPolygonShape*>(s.get());
    TdtpMatrix m = IdentityDtpMatrix();
    m[0][0] = m[1][1] = 100;
    p->SetDeviceMatrix(m);
    p->LoadFromXml(xml.Root());
    EXPECT_LE(p->Points()[0].size(), size_t(4 * cMaxArcSegments + 16)) << c->Name;
    p->UpdatePolygons();
    TBitmap32 b;
    b.SetSize(16, 16);
    p->PaintShape(&b);
  }
}

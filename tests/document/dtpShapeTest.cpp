#include "document/dtpShape.h"

#include <gtest/gtest.h>

#include <cmath>

#include "DocumentTestSupport.h"
#include "document/XmlDocuments.h"

using namespace document;
using kdtest::TTestDocumentHost;

namespace {

// A registered test class with a name of its own.
class TdtpTestBoxShape : public TdtpShape {
 public:
  static const TShapeClass& StaticClass() {
    static const TShapeClass cls = MakeShapeClass<TdtpTestBoxShape>("TdtpTestBoxShape", &TdtpShape::StaticClass());
    return cls;
  }
  const TShapeClass& Class() const override { return StaticClass(); }
  void InitDefaults() override {
    TdtpShape::InitDefaults();
    SetCursorId(-35);
    FColor = 0x00FF00;  // set by the virtual initialisation of the most derived class
  }
  using TdtpShape::Cursor;
};

class ShapeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitializeDtpShape();
    RegisterShapeClass(TdtpTestBoxShape::StaticClass());
    root = NewShape<TdtpShape>();
    root->SetDocument(&doc);
  }
  TdtpShape* AddBox(float l, float t, float w, float h) {
    auto s = NewShape<TdtpTestBoxShape>();
    TdtpShape* raw = s.get();
    root->AddShape(std::move(s));
    raw->SetDocBounds(l, t, w, h);
    return raw;
  }
  TTestDocumentHost doc;
  std::unique_ptr<TdtpShape> root;
};

}  // namespace

TEST_F(ShapeTest, DefaultsComeFromTheMostDerivedClass) {
  auto s = CreateShape(FindShapeClass("TdtpTestBoxShape"));
  EXPECT_EQ(s->ClassName(), "TdtpTestBoxShape");
  EXPECT_EQ(s->Color(), 0x00FF00);
  EXPECT_EQ(s->Cursor(), -35);
  EXPECT_EQ(s->Anchors(), 97);
  EXPECT_EQ(s->MasterAlpha(), 255);
  EXPECT_TRUE(s->SmartHitTest());
  EXPECT_TRUE(s->Visible());
  EXPECT_TRUE(s->AllowResize());
  EXPECT_EQ(s->GetClassLevel(), 3);
  TdtpFloatPoint size;
  s->GetDefaultSize(size);
  EXPECT_EQ(size, (TdtpFloatPoint{10, 10}));
  EXPECT_EQ(s->PasteOffset(), (TdtpFloatPoint{10, 10}));
}

TEST_F(ShapeTest, RegistryIsExactAndUnique) {
  const int32_t n = ShapeClassCount();
  RegisterShapeClass(TdtpTestBoxShape::StaticClass());
  RegisterShapeClass(TdtpShape::StaticClass());
  EXPECT_EQ(ShapeClassCount(), n);
  EXPECT_EQ(&FindShapeClass("TdtpTestBoxShape"), &TdtpTestBoxShape::StaticClass());
  EXPECT_EQ(&FindShapeClass("tdtptestboxshape"), &TdtpShape::StaticClass());
  EXPECT_EQ(&FindShapeClass(""), &TdtpShape::StaticClass());
}

TEST_F(ShapeTest, AngleIsNormalised) {
  TdtpShape* s = AddBox(0, 0, 10, 10);
  s->SetDocAngle(-30);
  EXPECT_EQ(s->DocAngle(), 330.0f);
  s->SetDocAngle(720);
  EXPECT_EQ(s->DocAngle(), 0.0f);
  s->SetDocAngle(90);
  EXPECT_NEAR(s->Cosine(), 0.0f, 1e-7);
  EXPECT_EQ(s->Sine(), 1.0f);
  // A tiny negative angle would be stored as 360.
  s->SetDocAngle(-1e-6f);
  EXPECT_EQ(s->DocAngle(), 0.0f);
  s->SetDocAngle(NAN);
  EXPECT_EQ(s->DocAngle(), 0.0f);
  // Loading keeps the stored angle as it is.
  TXmlDocument xml;
  s->SaveToXml(xml.Root());
  xml.Root()->WriteFloat("DocAngle", -30);
  auto t = NewShape<TdtpShape>();
  t->LoadFromXml(xml.Root());
  EXPECT_EQ(t->DocAngle(), -30.0f);
  EXPECT_NEAR(t->Sine(), -0.5f, 1e-7);
}

TEST_F(ShapeTest, ConstrainSize) {
  TdtpShape* s = AddBox(0, 0, 12, 7);
  float w = 50, h = 60;
  s->SetAllowResize(false);
  EXPECT_FALSE(s->ConstrainSize(w, h));
  EXPECT_EQ(w, 12.0f);
  EXPECT_EQ(h, 7.0f);
  s->SetAllowResize(true);
  w = 0;
  h = -3;
  EXPECT_TRUE(s->ConstrainSize(w, h));
  EXPECT_EQ(w, 0.1f);
  EXPECT_EQ(h, 0.1f);
  s->SetPreserveAspect(true);
  s->SetAspectRatio(2);
  w = 10, h = 10;
  s->ConstrainSize(w, h);
  EXPECT_EQ(w, 10.0f);
  EXPECT_EQ(h, 5.0f);
  w = 30, h = 10;
  s->ConstrainSize(w, h);
  EXPECT_EQ(w, 20.0f);
  EXPECT_EQ(h, 10.0f);
  // Limits first, then the aspect, then the minimums again.
  s->Constraints().MinWidth = 15;
  s->Constraints().MaxHeight = 6;
  w = 10, h = 10;
  s->ConstrainSize(w, h);
  EXPECT_EQ(w, 15.0f);
  EXPECT_EQ(h, 7.5f);
  // A ratio of zero is not applied.
  s->SetAspectRatio(0);
  w = 20, h = 3;
  s->ConstrainSize(w, h);
  EXPECT_EQ(w, 20.0f);
  EXPECT_EQ(h, 3.0f);
  s->SetDocHeight(0);
  s->StoreAspectRatio();
  EXPECT_EQ(s->AspectRatio(), 0.0f);
  // Limits copied from another shape stay this shape's: changing them later changes this one.
  TdtpShape* other = AddBox(0, 0, 5, 5);
  other->Constraints() = s->Constraints();
  EXPECT_EQ(other->Constraints().MinWidth, 15.0f);
  s->SetModified(false);
  other->SetModified(false);
  other->Constraints().MaxWidth = 40;
  EXPECT_TRUE(other->Modified());
  EXPECT_FALSE(s->Modified());
}

TEST_F(ShapeTest, GroupedLayout) {
  struct Case {
    TdtpAnchors anchors;
    bool allowResize;
    float left, width;
  } cases[] = {
      {cDefaultAnchors, true, 20, 40},   // proportional position and size
      {cDefaultAnchors, false, 30, 20},  // the centre scales, the size stays
      {anLeftLock, true, 10, 20},        // keeps position and size
      {0, true, 80, 20},                 // keeps its far edge (100 - 20 ... 110 - 20 + ... )
      {anPosXProp | anSizeXProp, true, 20, 40},
      {anLeftLock | anSizeXProp, true, 10, 40},
      {anSizeXProp, true, -10, 40},      // far edge at 30 stays
  };
  for (const auto& c : cases) {
    auto g = NewShape<TdtpShape>();
    g->SetDocument(&doc);
    g->SetDocBounds(0, 0, 100, 50);
    g->SetGrouped(true);
    g->SetAnchors(c.anchors);
    g->SetAllowResize(c.allowResize);
    auto ch = NewShape<TdtpShape>();
    TdtpShape* child = ch.get();
    g->AddShape(std::move(ch));
    child->SetDocBounds(10, 5, 20, 10);
    g->SetDocBounds(0, 0, 200, 50);
    SCOPED_TRACE(c.anchors);
    if (c.anchors == 0) {
      EXPECT_EQ(child->DocLeft(), 10.0f);  // far edge 30 stays, width 20
      EXPECT_EQ(child->DocWidth(), 20.0f);
    } else {
      EXPECT_EQ(child->DocLeft(), c.left);
      EXPECT_EQ(child->DocWidth(), c.width);
    }
    EXPECT_EQ(child->DocTop(), 5.0f);  // the height did not change
  }
  // A parent of width 0 has no ratio: the child stays.
  auto g = NewShape<TdtpShape>();
  g->SetGrouped(true);
  auto ch = NewShape<TdtpShape>();
  TdtpShape* child = ch.get();
  g->AddShape(std::move(ch));
  child->SetDocBounds(1, 2, 3, 4);
  g->SetDocBounds(0, 0, 50, 50);
  EXPECT_EQ(child->DocLeft(), 1.0f);
  EXPECT_EQ(child->DocWidth(), 3.0f);
}

TEST_F(ShapeTest, RotateAboutCentreKeepsTheCentre) {
  TdtpShape* s = AddBox(10, 20, 40, 20);
  s->RotateAboutCentre(30);
  // From the model: tools/models/shape_geometry.py
  EXPECT_NEAR(s->DocLeft(), 7.679492f, 1e-4);
  EXPECT_NEAR(s->DocTop(), 31.339746f, 1e-4);
  EXPECT_EQ(s->DocAngle(), 30.0f);
  const TdtpFloatPoint c = s->LocalToParent({20, 10});
  EXPECT_NEAR(c.X, 30.0f, 1e-4);
  EXPECT_NEAR(c.Y, 30.0f, 1e-4);
  // Committing a drag: bounds through the constraints, then the turn about the new centre.
  s->DragLeft = 0;
  s->DragTop = 0;
  s->DragWidth = 0;
  s->DragHeight = 10;
  s->DragAngle = 30;
  s->ApplyDragBounds();
  EXPECT_EQ(s->DocWidth(), 0.1f);
  EXPECT_EQ(s->DocLeft(), 0.0f);
  s->SetDocBoundsAngle(10, 20, 40, 20, 0);
  s->DragLeft = 10;
  s->DragTop = 20;
  s->DragWidth = 40;
  s->DragHeight = 20;
  s->ApplyDragBounds();
  EXPECT_NEAR(s->DocLeft(), 7.679492f, 1e-4);
  s->RotateAboutCentre(135);
  const TdtpFloatPoint c2 = s->LocalToParent({20, 10});
  EXPECT_NEAR(c2.X, 30.0f, 1e-4);
  EXPECT_NEAR(c2.Y, 30.0f, 1e-4);
}

TEST_F(ShapeTest, NestedCoordinateMapping) {
  TdtpShape* parent = AddBox(10, 5, 30, 30);
  parent->SetDocAngle(90);
  auto ch = NewShape<TdtpShape>();
  TdtpShape* child = ch.get();
  parent->AddShape(std::move(ch));
  child->SetDocBounds(2, 3, 4, 4);
  const TdtpFloatPoint d = child->LocalToDocument({1, 1});
  EXPECT_NEAR(d.X, 14.0f, 1e-5);
  EXPECT_NEAR(d.Y, 2.0f, 1e-5);
  const TdtpFloatPoint back = child->DocToLocal(d);
  EXPECT_NEAR(back.X, 1.0f, 1e-5);
  EXPECT_NEAR(back.Y, 1.0f, 1e-5);
  doc.Screen = 2;
  doc.Origin = {4, -1};
  TdtpFloatPoint sp;
  ASSERT_TRUE(child->LocalToScreen({1, 1}, sp));
  EXPECT_NEAR(sp.X, 20.0f, 1e-4);
  EXPECT_NEAR(sp.Y, 6.0f, 1e-4);
  TdtpFloatPoint lp;
  ASSERT_TRUE(child->ScreenToLocal({20, 6}, lp));
  EXPECT_NEAR(lp.X, 1.0f, 1e-4);
  EXPECT_NEAR(lp.Y, 1.0f, 1e-4);
  // The parent-space box of the turned parent.
  const TdtpFloatRect b = parent->GetParentBounds();
  EXPECT_NEAR(b.Left, 10.0f, 1e-4);
  EXPECT_NEAR(b.Top, -25.0f, 1e-4);
  EXPECT_NEAR(b.Right, 40.0f, 1e-4);
  EXPECT_NEAR(b.Bottom, 5.0f, 1e-4);
  parent->CenterAt(0, 0);
  const TdtpFloatRect c = parent->GetParentBounds();
  EXPECT_NEAR(c.Left, -15.0f, 1e-4);
  EXPECT_NEAR(c.Top, -15.0f, 1e-4);
  // Screen corners come in ring order.
  auto ring = child->CreateRegion();
  ASSERT_EQ(ring.size(), 4u);
  EXPECT_NE(ring[1], ring[3]);
}

TEST_F(ShapeTest, XmlRoundTripOfATree) {
  TdtpShape* a = AddBox(1.5f, 2.25f, 30, 40);
  a->SetName("alpha <&'>");
  a->SetMasterAlpha(128);
  a->SetDocAngle(12.5f);
  a->SetAnchors(anPosXProp | anBottomLock);
  a->Constraints().MaxWidth = 99;
  a->SetPaintOutsets(1, 2, 3, 4);
  auto ch = NewShape<TdtpTestBoxShape>();
  ch->SetDocBounds(3, 4, 5, 6);
  a->AddShape(std::move(ch));
  auto ch2 = NewShape<TdtpShape>();
  ch2->SetFlipped(true);
  a->AddShape(std::move(ch2));

  TXmlDocument xml("Page");
  root->SaveToXml(xml.Root());
  TXmlNode* sn = xml.Root()->NodeByName("Shape");
  ASSERT_NE(sn, nullptr);
  EXPECT_EQ(sn->ReadString("ClassName"), "TdtpTestBoxShape");
  EXPECT_EQ(sn->ReadString("MasterAlpha"), "$80");
  EXPECT_EQ(root->GetShape(0)->GetShape(0)->ClassName(), "TdtpTestBoxShape");
  std::vector<TXmlNode*> kids;
  sn->NodesByName("Shape", kids);
  ASSERT_EQ(kids.size(), 2u);
  EXPECT_EQ(kids[0]->ReadAttributeInteger("Index"), 1);
  EXPECT_EQ(kids[0]->ReadString("MasterAlpha"), "$FF");
  EXPECT_EQ(kids[1]->ReadAttributeInteger("Index"), 2);
  // Element order of the stored form.
  const char* order[] = {"ClassName", "AllowResize", "AllowRotate", "AllowSelect", "Anchors", "AspectRatio",
                         "CurbLeft", "CurbTop", "CurbRight", "CurbBottom", "ConstraintMinHeight",
                         "ConstraintMinWidth", "ConstraintMaxHeight", "ConstraintMaxWidth", "DocAngle", "DocLeft",
                         "DocTop", "DocHeight", "DocWidth", "Flipped", "Mirrored", "Name", "Grouped",
                         "PreserveAspect", "SmartHitTest", "Visible", "MasterAlpha", "Shape", "Shape"};
  ASSERT_EQ(sn->GetNodeCount(), 29);
  for (int i = 0; i < 29; ++i) EXPECT_EQ(sn->GetNode(i)->Name(), order[i]);

  const std::string text = xml.WriteToString();
  TXmlDocument back;
  back.ReadFromString(text);
  TTestDocumentHost doc2;
  auto r2 = NewShape<TdtpShape>();
  r2->SetDocument(&doc2);
  r2->LoadFromXml(back.Root());
  ASSERT_EQ(r2->GetShapeCount(), 1);
  TdtpShape* a2 = r2->GetShape(0);
  EXPECT_EQ(a2->ClassName(), "TdtpTestBoxShape");
  EXPECT_EQ(a2->Name(), "alpha <&'>");
  EXPECT_EQ(a2->MasterAlpha(), 128);
  EXPECT_EQ(a2->DocAngle(), 12.5f);
  EXPECT_EQ(a2->DocLeft(), 1.5f);
  EXPECT_EQ(a2->DocTop(), 2.25f);
  EXPECT_EQ(a2->Anchors(), anPosXProp | anBottomLock);
  EXPECT_EQ(a2->Constraints().MaxWidth, 99.0f);
  EXPECT_EQ(a2->CurbRight(), 3.0f);
  ASSERT_EQ(a2->GetShapeCount(), 2);
  EXPECT_EQ(a2->GetShape(0)->DocWidth(), 5.0f);
  EXPECT_TRUE(a2->GetShape(1)->Flipped());
  // Loading records nothing, reports nothing and leaves the shapes unmodified.
  EXPECT_TRUE(doc2.Commands.empty());
  EXPECT_TRUE(doc2.Changed.empty());
  EXPECT_FALSE(doc2.Modified);
  EXPECT_FALSE(a2->Modified());
  // Saved again, the text is the same.
  TXmlDocument again("Page");
  r2->SaveToXml(again.Root());
  EXPECT_EQ(again.WriteToString(), text);
}

TEST_F(ShapeTest, UnknownClassesAndMissingElements) {
  TXmlDocument xml;
  xml.Root()->ReadFromString(
      "<Page><Shape Index=\"2\"><ClassName>TdtpNoSuchShape</ClassName><DocLeft>7</DocLeft>"
      "<DocWidth>3,5</DocWidth><Visible>True</Visible><MasterAlpha>$FF</MasterAlpha>"
      "<Shape><ClassName>tdtptestboxshape</ClassName></Shape></Shape>"
      "<shape><ClassName>TdtpTestBoxShape</ClassName><DocAngle>1e999</DocAngle></shape></Page>");
  auto r = NewShape<TdtpShape>();
  r->LoadFromXml(xml.Root());
  ASSERT_EQ(r->GetShapeCount(), 2);
  TdtpShape* u = r->GetShape(0);
  EXPECT_EQ(u->ClassName(), "TdtpShape");
  EXPECT_EQ(u->DocLeft(), 7.0f);
  EXPECT_EQ(u->DocWidth(), 3.5f);
  EXPECT_EQ(u->MasterAlpha(), 255);
  EXPECT_EQ(u->Anchors(), 97);  // no "Anchors" element keeps the set
  EXPECT_TRUE(u->Visible());
  EXPECT_FALSE(u->AllowResize());
  ASSERT_EQ(u->GetShapeCount(), 1);
  TdtpShape* inner = u->GetShape(0);
  EXPECT_EQ(inner->ClassName(), "TdtpShape");  // class names are case-sensitive
  EXPECT_FALSE(inner->Visible());               // a missing "Visible" hides
  EXPECT_EQ(inner->MasterAlpha(), 0);           // and a missing "MasterAlpha" is transparent
  EXPECT_EQ(r->GetShape(1)->ClassName(), "TdtpTestBoxShape");
  EXPECT_EQ(r->GetShape(1)->DocAngle(), 0.0f);  // non-finite geometry is dropped
  // Out-of-range alpha is clamped.
  TXmlDocument x2;
  x2.Root()->ReadFromString("<Shape><MasterAlpha>$1FF</MasterAlpha></Shape>");
  auto s = NewShape<TdtpShape>();
  s->LoadFromXml(x2.Root());
  EXPECT_EQ(s->MasterAlpha(), 255);
  s->LoadFromXml(nullptr);
}

TEST_F(ShapeTest, UndoRecordingOfPropertiesAdditionsAndDeletions) {
  TdtpShape* s = AddBox(1, 2, 3, 4);
  ASSERT_FALSE(doc.Commands.empty());
  EXPECT_EQ(doc.Commands[0]->Kind, ckShapeAdded);
  EXPECT_EQ(doc.Commands[0]->Value, "0");
  EXPECT_EQ(doc.Commands[0]->Name, "");
  EXPECT_EQ(doc.Commands[0]->Target, root->ShapeId());
  doc.Commands.clear();
  s->SetDocLeft(12.5f);
  ASSERT_EQ(doc.Commands.size(), 1u);
  EXPECT_EQ(doc.Commands[0]->Name, "DocLeft");
  EXPECT_EQ(doc.Commands[0]->Value, "1");
  EXPECT_EQ(doc.Commands[0]->Target, s->ShapeId());
  EXPECT_EQ(doc.UndoBracket, 0);
  s->SetMasterAlpha(128);
  EXPECT_EQ(doc.Commands.back()->Name, "MasterAlpha");
  EXPECT_EQ(doc.Commands.back()->Value, "255");
  s->SetDocAngle(45);
  EXPECT_EQ(doc.Commands.back()->Value, "0");
  s->SetMasterAlpha(128);  // unchanged: nothing recorded
  EXPECT_EQ(doc.Commands.size(), 3u);
  // Undo the three in reverse.
  for (auto it = doc.Commands.rbegin(); it != doc.Commands.rend(); ++it) {
    auto c = std::move(*it);
    EXPECT_TRUE(root->ExecuteCommand(c.get()));
  }
  EXPECT_EQ(s->DocLeft(), 1.0f);
  EXPECT_EQ(s->MasterAlpha(), 255);
  EXPECT_EQ(s->DocAngle(), 0.0f);
  doc.Commands.clear();

  // Delete and undo: same index, id and class.
  AddBox(5, 5, 5, 5);
  auto third = NewShape<TdtpShape>();
  root->AddShape(std::move(third));
  doc.Commands.clear();
  const int32_t id = s->ShapeId();
  s->SetName("first");
  root->DeleteShape(0);
  ASSERT_EQ(doc.Commands.size(), 1u);
  TdtpCommand* del = doc.Commands[0].get();
  EXPECT_EQ(del->Kind, ckShapeRemoved);
  EXPECT_EQ(del->Name, "ClassName");
  EXPECT_EQ(del->Value, "TdtpTestBoxShape");
  EXPECT_EQ(del->GetSize(), 9 + 4 + 16 + del->Stream->GetSize());
  EXPECT_EQ(root->GetShapeCount(), 2);
  EXPECT_TRUE(root->ExecuteCommand(del));
  ASSERT_EQ(root->GetShapeCount(), 3);
  TdtpShape* re = root->GetShape(0);
  EXPECT_EQ(re->ClassName(), "TdtpTestBoxShape");
  EXPECT_EQ(re->ShapeId(), id);
  EXPECT_EQ(re->Name(), "first");
  EXPECT_EQ(re->DocLeft(), 1.0f);
  // Undo of an addition deletes the added child.
  doc.Commands.clear();
  root->AddShape(NewShape<TdtpShape>());
  auto add = std::move(doc.Commands[0]);
  EXPECT_EQ(add->Value, "3");
  root->ExecuteCommand(add.get());
  EXPECT_EQ(root->GetShapeCount(), 3);
  // Exchanging two children is recorded (its undo is tested with the document); a damaged record does nothing.
  doc.Commands.clear();
  root->GetShape(0)->SetName("eerste");
  root->MoveShapeIndex(2, 0);
  ASSERT_EQ(doc.Commands.size(), 1u);
  EXPECT_EQ(doc.Commands[0]->Kind, ckShapesExchanged);
  EXPECT_EQ(doc.Commands[0]->Value, "2 0");
  EXPECT_EQ(doc.Commands[0]->Target, root->ShapeId());
  for (const char* v : {"", "0", "0 x", "0 7", "-1 1"}) {
    TdtpCommand bad(ckShapesExchanged, root->ShapeId(), "", v);
    EXPECT_TRUE(root->ExecuteCommand(&bad));
    EXPECT_EQ(root->GetShape(2)->Name(), "eerste");
  }
  // A command for an unknown id is not handled.
  TdtpCommand stray(ckPropertyChange, 9999, "DocLeft", "1");
  EXPECT_FALSE(root->ExecuteCommand(&stray));
  // Without undo the second list receives the commands; with neither nothing is kept.
  doc.Commands.clear();
  doc.Undo = false;
  doc.Second = true;
  re->SetDocTop(50);
  EXPECT_TRUE(doc.Commands.empty());
  EXPECT_EQ(doc.SecondCommands.size(), 1u);
  doc.Second = false;
  re->SetDocTop(60);
  EXPECT_EQ(doc.SecondCommands.size(), 1u);
}

TEST_F(ShapeTest, UndoStreamIndexIsClamped) {
  TdtpShape* s = AddBox(0, 0, 1, 1);
  root->DeleteShape(root->IndexOfShape(s));
  auto del = std::move(doc.Commands.back());
  int32_t huge = 1000;
  del->Stream->SetPosition(0);
  del->Stream->WriteBuffer(&huge, 4);
  EXPECT_TRUE(root->ExecuteCommand(del.get()));
  EXPECT_EQ(root->GetShapeCount(), 1);
}

TEST_F(ShapeTest, UndoingADeletionGivesTheDescendantsTheirIdsBack) {
  // A grouped shape resized with its children, then deleted: undoing both puts the children
  // back where they were, which needs their ids.
  TdtpShape* g = AddBox(0, 0, 100, 100);
  g->SetGrouped(true);
  auto a = NewShape<TdtpShape>();
  TdtpShape* ra = a.get();
  g->AddShape(std::move(a));
  ra->SetDocBounds(10, 10, 20, 20);
  auto b = NewShape<TdtpShape>();
  TdtpShape* rb = b.get();
  g->AddShape(std::move(b));
  rb->SetDocBounds(50, 50, 10, 10);
  auto inner = NewShape<TdtpShape>();
  TdtpShape* ri = inner.get();
  rb->AddShape(std::move(inner));
  const std::vector<int32_t> ids = {g->ShapeId(), ra->ShapeId(), rb->ShapeId(), ri->ShapeId()};
  doc.Commands.clear();
  g->SetDocBounds(0, 0, 200, 200);
  EXPECT_EQ(ra->DocWidth(), 40.0f);
  root->DeleteShape(root->IndexOfShape(g));
  auto commands = std::move(doc.Commands);
  doc.Commands.clear();
  doc.Undo = false;
  for (auto it = commands.rbegin(); it != commands.rend(); ++it) EXPECT_TRUE(root->ExecuteCommand(it->get()));
  ASSERT_EQ(root->GetShapeCount(), 1);
  TdtpShape* g2 = root->GetShape(0);
  ASSERT_EQ(g2->GetShapeCount(), 2);
  ASSERT_EQ(g2->GetShape(1)->GetShapeCount(), 1);
  EXPECT_EQ(std::vector<int32_t>({g2->ShapeId(), g2->GetShape(0)->ShapeId(), g2->GetShape(1)->ShapeId(),
                                  g2->GetShape(1)->GetShape(0)->ShapeId()}),
            ids);
  EXPECT_EQ(g2->DocWidth(), 100.0f);
  EXPECT_EQ(g2->GetShape(0)->DocLeft(), 10.0f);
  EXPECT_EQ(g2->GetShape(0)->DocWidth(), 20.0f);
  EXPECT_EQ(g2->GetShape(1)->DocLeft(), 50.0f);
}

TEST_F(ShapeTest, UpdateBracketsAndChanges) {
  TdtpShape* s = AddBox(0, 0, 1, 1);
  int fired = 0;
  s->OnChange = [&](platform::TObject* sender) {
    EXPECT_EQ(sender, s);
    ++fired;
  };
  s->BeginUpdate();
  s->SetDocLeft(5);
  s->SetDocTop(6);
  EXPECT_EQ(fired, 0);
  s->EndUpdate();
  EXPECT_EQ(fired, 1);
  EXPECT_TRUE(s->Modified());
  EXPECT_TRUE(root->Modified());
  EXPECT_TRUE(doc.Modified);
  root->SetModified(false);
  EXPECT_FALSE(s->Modified());
  try {
    s->EndUpdate();
    FAIL();
  } catch (const EShapeError& e) {
    EXPECT_EQ(e.Message, "dtpShape: EndUpdate called more often than BeginUpdate");
  }
  EXPECT_EQ(s->UpdateCount(), 0);
  s->BeginUpdate();
  s->EndUpdate();
  EXPECT_EQ(fired, 1);
}

TEST_F(ShapeTest, ChildrenManagement) {
  TdtpShape* a = AddBox(0, 0, 1, 1);
  TdtpShape* b = AddBox(0, 0, 1, 1);
  auto gc = NewShape<TdtpShape>();
  TdtpShape* grandchild = gc.get();
  a->AddShape(std::move(gc));
  EXPECT_EQ(grandchild->Document(), &doc);
  EXPECT_EQ(root->IndexOfShape(b), 1);
  root->MoveShapeIndex(0, 1);
  EXPECT_EQ(root->IndexOfShape(b), 0);
  root->MoveShapeIndex(0, 7);
  EXPECT_EQ(root->GetShape(-1), nullptr);
  EXPECT_EQ(root->GetShape(2), nullptr);
  root->DeleteShape(5);
  // A shape never goes into itself or one of its own children: it stays where it is.
  EXPECT_EQ(grandchild->AddShape(std::unique_ptr<TdtpShape>(a)), -1);
  a->InsertShape(0, std::unique_ptr<TdtpShape>(a));
  EXPECT_EQ(a->ParentShape(), root.get());
  EXPECT_EQ(root->IndexOfShape(a), 1);
  EXPECT_EQ(a->GetShapeCount(), 1);
  a->SetSelected(true);
  EXPECT_TRUE(a->Selected());
  // Deleting tells the document about the whole subtree.
  EXPECT_EQ(root->RemoveShape(a), 1);
  ASSERT_EQ(doc.Destroyed.size(), 2u);
  EXPECT_EQ(doc.Destroyed[0], grandchild);
  EXPECT_EQ(doc.Destroyed[1], a);
  EXPECT_EQ(root->RemoveShape(nullptr), -1);
  auto out = root->ExtractShape(b);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(out->ParentShape(), nullptr);
  EXPECT_EQ(out->Document(), nullptr);
  EXPECT_EQ(root->GetShapeCount(), 0);
  EXPECT_EQ(root->AddShape(nullptr), -1);
  root->InsertShape(99, std::move(out));
  EXPECT_EQ(root->GetShapeCount(), 1);
  root->ClearShapes();
  EXPECT_EQ(root->GetShapeCount(), 0);
  // A hidden or unselectable shape cannot be selected.
  TdtpShape* c = AddBox(0, 0, 1, 1);
  c->SetAllowSelect(false);
  c->SetSelected(true);
  EXPECT_FALSE(c->Selected());
}

TEST_F(ShapeTest, AssignCopiesThroughXml) {
  TdtpShape* a = AddBox(3, 4, 5, 6);
  a->AddShape(NewShape<TdtpShape>());
  auto copy = NewShape<TdtpShape>();
  copy->Assign(a);
  // Clearing frees the children and tells the document about each of them.
  doc.Destroyed.clear();
  a->Clear();
  EXPECT_EQ(a->GetShapeCount(), 0);
  EXPECT_EQ(doc.Destroyed.size(), 1u);
  EXPECT_EQ(a->DocWidth(), 0.0f);
  EXPECT_EQ(copy->DocLeft(), 3.0f);
  EXPECT_EQ(copy->GetShapeCount(), 1);
}

TEST_F(ShapeTest, AssignFromOwnChildCopiesTheChildBeforeClearing) {
  // A shape takes over one of its own children (or a deeper descendant): the copy is made
  // before the clear frees the source.
  TdtpShape* box = AddBox(5, 6, 7, 8);
  box->SetName("inner");
  auto g = NewShape<TdtpTestBoxShape>();
  g->SetDocBounds(1, 2, 3, 4);
  box->AddShape(std::move(g));
  root->Assign(box);
  EXPECT_EQ(root->ClassName(), "TdtpShape");
  EXPECT_EQ(root->Name(), "inner");
  EXPECT_EQ(root->DocLeft(), 5.0f);
  EXPECT_EQ(root->DocHeight(), 8.0f);
  ASSERT_EQ(root->GetShapeCount(), 1);
  TdtpShape* c = root->GetShape(0);
  EXPECT_EQ(c->ClassName(), "TdtpTestBoxShape");
  EXPECT_EQ(c->DocTop(), 2.0f);
  EXPECT_EQ(c->DocWidth(), 3.0f);
  EXPECT_EQ(c->ParentShape(), root.get());

  // A grandchild as the source.
  auto top = NewShape<TdtpShape>();
  auto mid = NewShape<TdtpShape>();
  TdtpShape* midRaw = mid.get();
  top->AddShape(std::move(mid));
  auto leaf = NewShape<TdtpShape>();
  leaf->SetDocBounds(4, 3, 2, 1);
  TdtpShape* leafRaw = leaf.get();
  midRaw->AddShape(std::move(leaf));
  top->Assign(leafRaw);
  EXPECT_EQ(top->GetShapeCount(), 0);
  EXPECT_EQ(top->DocLeft(), 4.0f);
  EXPECT_EQ(top->DocHeight(), 1.0f);
}

TEST_F(ShapeTest, PaintRectAndConversions) {
  TdtpShape* s = AddBox(0, 0, 10, 10);
  s->SetPaintOutsets(1, 2, 3, 4);
  s->SetMirrored(true);
  EXPECT_EQ(s->OutsetLeft(), 3.0f);
  EXPECT_EQ(s->OutsetRight(), 3.0f);
  s->SetFlipped(true);
  EXPECT_EQ(s->OutsetTop(), 4.0f);
  EXPECT_EQ(s->OutsetBottom(), 4.0f);
  EXPECT_TRUE(DtpStrToBool("yes"));
  EXPECT_TRUE(DtpStrToBool("True"));
  EXPECT_FALSE(DtpStrToBool("no"));
  EXPECT_EQ(StrToFontStyles("SB"), 1 | 8);
  EXPECT_EQ(SignFloat(-0.5f), -1);
  EXPECT_EQ(SignInt(0), 0);
  EXPECT_EQ(MapRect({0, 0, 10, 10}, {0, 0, 10, 10}, {0, 0, 5, 5}), (platform::TRect{0, 0, 5, 5}));
  const TdtpFloatRect u = UnionFloatRect({0, 1, 2, 3}, {-1, 2, 1, 5});
  EXPECT_EQ(u, (TdtpFloatRect{-1, 1, 2, 5}));
}

#include "document/dtpGroupShape.h"

#include <gtest/gtest.h>

#include "document/XmlDocuments.h"

using namespace document;

TEST(GroupShapeTest, RegisteredAndRebuiltWithChildren) {
  InitializeDtpShape();
  InitializeDtpEffectShape();
  InitializeDtpGroupShape();
  EXPECT_EQ(&FindShapeClass("TdtpGroupShape"), &TdtpGroupShape::StaticClass());
  auto g = NewShape<TdtpGroupShape>();
  EXPECT_TRUE(g->InheritsFrom(TdtpEffectShape::StaticClass()));
  g->SetDocBounds(1, 2, 30, 40);
  auto child = NewShape<TdtpGroupShape>();
  child->SetDocBounds(3, 4, 5, 6);
  g->AddShape(std::move(child));
  TXmlDocument xml("Shape");
  g->SaveToXml(xml.Root());
  EXPECT_EQ(xml.Root()->ReadString("ClassName"), "TdtpGroupShape");
  auto r = CreateShape(FindShapeClass(xml.Root()->ReadString("ClassName")));
  r->LoadFromXml(xml.Root());
  EXPECT_EQ(r->ClassName(), "TdtpGroupShape");
  EXPECT_EQ(r->DocWidth(), 30);
  ASSERT_EQ(r->GetShapeCount(), 1);
  EXPECT_EQ(r->GetShape(0)->ClassName(), "TdtpGroupShape");
  EXPECT_EQ(r->GetShape(0)->DocHeight(), 6);
}

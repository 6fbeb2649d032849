// Pages whose XML trees hold wide nodes inside wide nodes (many shapes beside long strokes and
// large groups): saved, read back, saved again and closed, with every shape intact. Freeing
// such trees once wrote into freed memory; the sanitizer build checks every step here.
#include <gtest/gtest.h>

#include "../common/TestSupport.h"
#include "SaveSupport.h"
#include "app/Startup.h"
#include "document/dtpFreehandShape.h"
#include "document/dtpGroupShape.h"

using namespace document;

namespace {

std::string Summary(TdtpShape* S) {
  std::string d = S->Class().Name + ":" + S->Name() + ":" + std::to_string(S->GetShapeCount());
  if (auto* p = dynamic_cast<TdtpPolygonShape*>(S)) {
    size_t n = 0;
    for (const auto& c : p->Points()) n += c.size();
    d += ":" + std::to_string(n);
  }
  return d;
}

std::vector<std::string> Describe(TdtpPage* Page) {
  Page->EnsureLoaded();
  std::vector<std::string> v;
  for (int32_t k = 0; k < Page->GetShapeCount(); ++k) {
    TdtpShape* s = Page->GetShape(k);
    v.push_back(Summary(s));
    for (int32_t j = 0; j < s->GetShapeCount(); ++j) v.push_back(" " + Summary(s->GetShape(j)));
  }
  return v;
}

void AddRect(TdtpShape* Parent, const std::string& Name) {
  auto s = NewShape<TdtpRectangleShape>();
  TdtpShape* raw = s.get();
  Parent->AddShape(std::move(s));
  raw->SetDocBounds(10, 10, 20, 20);
  raw->SetName(Name);
}

}  // namespace

TEST(WideTreeDocument, ManyShapesLongStrokesAndLargeGroupsSurviveSaveReloadAndClose) {
  app::InitializeUnits();
  const std::string file = kdtest::TempDir() + "/wide.hsf";
  std::vector<std::string> expect;
  {
    TdtpComponent doc(nullptr);
    TdtpPage* page = doc.GetPage(0);
    for (int k = 0; k < 500; ++k) {
      if (k % 100 == 50) {
        auto f = NewShape<TdtpFreehandShape>();
        f->SetName("F" + std::to_string(k));
        for (int i = 0; i < 100 + k / 5; ++i) f->AddPointXY(10 + i * 0.5f, 20 + (i % 7));
        page->AddShape(std::move(f));
      } else if (k % 100 == 99) {
        auto g = NewShape<TdtpGroupShape>();
        g->SetName("G" + std::to_string(k));
        TdtpShape* group = g.get();
        page->AddShape(std::move(g));
        for (int i = 0; i < 70; ++i) AddRect(group, "g" + std::to_string(i));
      } else {
        AddRect(page, "R" + std::to_string(k));
      }
    }
    expect = Describe(page);
    ASSERT_EQ(expect.size(), 500u + 5 * 70);
    doc.SaveToFile(file);
  }
  for (int round = 0; round < 2; ++round) {
    TdtpComponent doc(nullptr);
    doc.LoadFromFile(file);
    EXPECT_EQ(Describe(doc.GetPage(0)), expect) << "round " << round;
    doc.GetPage(0)->GetShape(0)->SetName("R0");
    doc.SaveToFile(file);
  }
}

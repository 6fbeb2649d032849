#include "document/dtpEffectShape.h"

#include <gtest/gtest.h>

#include "DocumentTestSupport.h"
#include "document/XmlDocuments.h"

using namespace document;

namespace {

// Named like a colour effect, to check the name rule; grows the paint rectangle and records
// the pixel it saw, so the order against flipping can be checked.
class TdtpColorLUTEffect : public TdtpEffect {
 public:
  static const TEffectClass& StaticClass() {
    static const TEffectClass cls = MakeEffectClass<TdtpColorLUTEffect>("TdtpColorLUTEffect");
    return cls;
  }
  const TEffectClass& Class() const override { return StaticClass(); }
  void Apply(TBitmap32* Bitmap) override {
    Seen = Bitmap->Pixel(0, 0);
    ++Applied;
  }
  void AdjustPaintRect(float& L, float& T, float& R, float& B) override {
    L += 1;
    T += 2;
    R += 3;
    B += 4;
  }
  void UpdateTables() override { ++Tables; }
  TColor32 Seen = 0;
  int Applied = 0, Tables = 0;
};

class TdtpMarkShape : public TdtpEffectShape {
 public:
  static const TShapeClass& StaticClass() {
    static const TShapeClass cls = MakeShapeClass<TdtpMarkShape>("TdtpMarkShape", &TdtpEffectShape::StaticClass());
    return cls;
  }
  const TShapeClass& Class() const override { return StaticClass(); }
  // A red left column on a transparent shape.
  void PaintShape(TBitmap32* B) override {
    for (int y = 0; y < B->Height(); ++y) B->SetPixel(0, y, 0xFFFF0000u);
  }
};

// Paints its colour at (0, 0) and records what the pass offered it: the shape's drawing
// before any effect and the result of the effect its Source names.
class TPaintEffect : public TdtpEffect {
 public:
  explicit TPaintEffect(TColor32 C) : Color(C) {}
  void Apply(TBitmap32* Bitmap) override {
    const TBitmap32* src = Owner->SourceCopy();
    SawSource = src ? src->Pixel(0, 0) : 0;
    const TdtpEffect* named = Source >= 0 ? Owner->GetEffect(Source) : nullptr;
    SawNamed = named && named->Output ? named->Output->Pixel(0, 0) : 0;
    WasKept = KeepOutput;
    Bitmap->SetPixel(0, 0, Color);
  }
  TColor32 Color, SawSource = 0, SawNamed = 0;
  bool WasKept = false;
};

class EffectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitializeDtpShape();
    InitializeDtpEffectShape();
    RegisterEffectClass(TdtpColorLUTEffect::StaticClass(), 1);
    RegisterShapeClass(TdtpMarkShape::StaticClass());
  }
};

}  // namespace

TEST_F(EffectTest, RegistryAndNames) {
  EXPECT_EQ(&FindEffectClass("TdtpColorLUTEffect"), &TdtpColorLUTEffect::StaticClass());
  EXPECT_EQ(&FindEffectClass("tdtpcolorluteffect"), &TdtpEffect::StaticClass());
  const int32_t n = EffectClassCount();
  RegisterEffectClass(TdtpColorLUTEffect::StaticClass(), 0);
  EXPECT_EQ(EffectClassCount(), n);
  EXPECT_EQ(EffectClassFlag(TdtpColorLUTEffect::StaticClass()), 1u);
  EXPECT_EQ(EffectClassFlag(TdtpEffect::StaticClass()), 0u);
  EXPECT_EQ(TdtpColorLUTEffect().GetEffectName(), "ColorLUT");
  EXPECT_EQ(TdtpEffect().GetEffectName(), "");
  TdtpEffect e;
  EXPECT_TRUE(e.Enabled);
  EXPECT_EQ(e.Source, -2);
  EXPECT_EQ(&FindShapeClass("TdtpEffectShape"), &TdtpEffectShape::StaticClass());
}

TEST_F(EffectTest, EnabledEffectsForceTheBuffer) {
  auto s = NewShape<TdtpEffectShape>();
  s->SetSmartHitTest(false);
  EXPECT_FALSE(s->NeedsBuffer());
  EXPECT_EQ(s->AddEffect(nullptr), -1);
  auto e = std::make_unique<TdtpColorLUTEffect>();
  e->Enabled = false;
  TdtpEffect* raw = e.get();
  EXPECT_EQ(s->AddEffect(std::move(e)), 0);
  EXPECT_EQ(raw->Owner, s.get());
  EXPECT_FALSE(s->NeedsBuffer());
  raw->Enabled = true;
  EXPECT_TRUE(s->NeedsBuffer());
  EXPECT_EQ(s->GetEffect(1), nullptr);
  // Effects grow the paint rectangle before the mirror rule evens it out.
  EXPECT_EQ(s->OutsetLeft(), 1.0f);
  EXPECT_EQ(s->OutsetBottom(), 4.0f);
  s->SetMirrored(true);
  EXPECT_EQ(s->OutsetLeft(), 3.0f);
  EXPECT_EQ(s->OutsetRight(), 3.0f);
}

TEST_F(EffectTest, EffectsSeeTheShapeUnflipped) {
  kdtest::TTestDocumentHost doc;
  auto s = NewShape<TdtpMarkShape>();
  s->SetDocument(&doc);
  s->SetDocBounds(0, 0, 4, 4);
  auto e = std::make_unique<TdtpColorLUTEffect>();
  TdtpColorLUTEffect* raw = e.get();
  s->AddEffect(std::move(e));
  s->SetPaintOutsets(0, 0, 0, 0);
  s->SetMirrored(true);
  s->UpdateBuffer();
  ASSERT_NE(s->Buffer(), nullptr);
  EXPECT_EQ(raw->Applied, 1);
  EXPECT_EQ(raw->Seen, 0xFFFF0000u);  // the red column is still on the left for the effect
  const TBitmap32* b = s->Buffer();
  // ... and on the right once mirrored; the outsets (3 mm each side) are part of the buffer.
  bool rightRed = false;
  for (int x = b->Width() / 2; x < b->Width(); ++x) rightRed |= b->Pixel(x, b->Height() / 2) == 0xFFFF0000u;
  EXPECT_TRUE(rightRed);
}

TEST_F(EffectTest, SourcesAreCopiedDuringThePassOnly) {
  kdtest::TTestDocumentHost doc;
  auto paint = [&](const std::vector<std::pair<int32_t, bool>>& Effects, std::vector<TPaintEffect*>& Out) {
    auto s = NewShape<TdtpMarkShape>();
    s->SetDocument(&doc);
    s->SetDocBounds(0, 0, 4, 4);
    const TColor32 colors[] = {0xFF0000FFu, 0xFF00FF00u, 0xFF123456u, 0xFF654321u};
    for (size_t i = 0; i < Effects.size(); ++i) {
      auto e = std::make_unique<TPaintEffect>(colors[i]);
      e->Source = Effects[i].first;
      e->Enabled = Effects[i].second;
      Out.push_back(e.get());
      s->AddEffect(std::move(e));
    }
    s->UpdateBuffer();
    return s;
  };
  // 0 reads the drawing, 1 reads 0's result, 2 is disabled, 3 reads 1's result.
  std::vector<TPaintEffect*> e;
  auto s = paint({{-1, true}, {0, true}, {-2, false}, {1, true}}, e);
  ASSERT_NE(s->Buffer(), nullptr);
  EXPECT_EQ(e[0]->SawSource, 0xFFFF0000u);  // the red drawing, before any effect
  EXPECT_EQ(e[1]->SawNamed, 0xFF0000FFu);   // effect 0's result
  EXPECT_EQ(e[3]->SawNamed, 0xFF00FF00u);   // effect 1's result
  EXPECT_TRUE(e[0]->WasKept);
  EXPECT_TRUE(e[1]->WasKept);
  EXPECT_FALSE(e[3]->WasKept);
  // The copies change nothing that is drawn, and are gone after the pass.
  EXPECT_EQ(s->Buffer()->Pixel(0, 0), 0xFF654321u);
  EXPECT_EQ(s->SourceCopy(), nullptr);
  for (TPaintEffect* x : e) {
    EXPECT_FALSE(x->KeepOutput);
    EXPECT_EQ(x->Output, nullptr);
  }
  // Without sources nothing is copied; a disabled effect naming another keeps nothing.
  std::vector<TPaintEffect*> f;
  auto t = paint({{-2, true}, {0, false}, {-1, false}}, f);
  EXPECT_EQ(f[0]->SawSource, 0u);
  EXPECT_FALSE(f[0]->WasKept);
  EXPECT_EQ(t->Buffer()->Pixel(0, 0), 0xFF0000FFu);
}

TEST_F(EffectTest, XmlRoundTrip) {
  auto s = NewShape<TdtpEffectShape>();
  auto e1 = std::make_unique<TdtpColorLUTEffect>();
  e1->Source = 1;
  s->AddEffect(std::move(e1));
  auto e2 = std::make_unique<TdtpEffect>();
  e2->Enabled = false;
  s->AddEffect(std::move(e2));
  TXmlDocument xml("Shape");
  s->SaveToXml(xml.Root());
  std::vector<TXmlNode*> effects;
  xml.Root()->NodesByName("Effect", effects);
  ASSERT_EQ(effects.size(), 2u);
  EXPECT_EQ(effects[0]->ReadAttributeInteger("Index"), 1);
  EXPECT_EQ(effects[1]->ReadAttributeInteger("Index"), 2);
  EXPECT_EQ(effects[0]->ReadString("ClassName"), "TdtpColorLUTEffect");
  EXPECT_EQ(effects[0]->ReadInteger("Source"), 1);
  EXPECT_EQ(effects[0]->GetNode(0)->Name(), "ClassName");
  EXPECT_EQ(effects[0]->GetNode(1)->Name(), "Enabled");
  EXPECT_EQ(effects[0]->GetNode(2)->Name(), "Source");

  // Unknown classes become plain effects; a missing "Enabled" loads disabled.
  effects[1]->WriteString("ClassName", "TdtpNoSuchEffect");
  TXmlNode* third = xml.Root()->NodeNew("effect");
  third->WriteString("ClassName", "TdtpColorLUTEffect");
  kdtest::TTestDocumentHost doc;
  auto t = NewShape<TdtpEffectShape>();
  t->SetDocument(&doc);
  t->LoadFromXml(xml.Root());
  ASSERT_EQ(t->EffectCount(), 3);
  EXPECT_EQ(t->GetEffect(0)->ClassName(), "TdtpColorLUTEffect");
  EXPECT_TRUE(t->GetEffect(0)->Enabled);
  EXPECT_EQ(t->GetEffect(0)->Source, 1);
  EXPECT_EQ(static_cast<TdtpColorLUTEffect*>(t->GetEffect(0))->Tables, 1);
  EXPECT_EQ(t->GetEffect(1)->ClassName(), "TdtpEffect");
  EXPECT_FALSE(t->GetEffect(1)->Enabled);
  EXPECT_FALSE(t->GetEffect(2)->Enabled);
  EXPECT_EQ(t->GetEffect(2)->Source, -2);
  EXPECT_EQ(t->GetEffect(2)->Owner, t.get());
  EXPECT_TRUE(doc.Changed.empty());
  EXPECT_TRUE(doc.Commands.empty());
}

// A shape made a copy of another carries the other's effects, not its own ones as well; a
// cleared shape carries none.
TEST_F(EffectTest, AssignedShapeCarriesOnlyTheSourcesEffects) {
  auto source = NewShape<TdtpEffectShape>();
  source->SetDocSize(10, 10);
  auto e = std::make_unique<TdtpColorLUTEffect>();
  e->Source = 0;
  source->AddEffect(std::move(e));
  auto target = NewShape<TdtpEffectShape>();
  target->AddEffect(std::make_unique<TdtpColorLUTEffect>());
  target->AddEffect(std::make_unique<TdtpColorLUTEffect>());
  target->Assign(source.get());
  ASSERT_EQ(target->EffectCount(), 1);
  EXPECT_EQ(target->GetEffect(0)->Source, 0);
  EXPECT_EQ(target->GetEffect(0)->Owner, target.get());
  // The paint rectangle is grown once, as the source's is.
  float l = 0, t = 0, r = 0, b = 0;
  target->AdjustPaintRect(l, t, r, b);
  EXPECT_EQ(l, 1);
  EXPECT_EQ(b, 4);
  // And stays so through a save and a reload.
  TXmlDocument xml("Shape");
  target->SaveToXml(xml.Root());
  TXmlDocument back;
  back.ReadFromString(xml.WriteToString());
  auto reloaded = NewShape<TdtpEffectShape>();
  reloaded->LoadFromXml(back.Root());
  EXPECT_EQ(reloaded->EffectCount(), 1);
  // Assigning a shape without effects leaves none, and the buffer is no longer forced.
  target->Assign(NewShape<TdtpEffectShape>().get());
  EXPECT_EQ(target->EffectCount(), 0);
  EXPECT_FALSE(target->IsFlippedOrMirrored());
  reloaded->Clear();
  EXPECT_EQ(reloaded->EffectCount(), 0);
}

namespace {
// Counts, when applied, how many effects of its shape hold a kept result, and notes whether
// the effect its Source names offered one.
class TCountingEffect : public TdtpEffect {
 public:
  void Apply(TBitmap32*) override {
    int32_t held = 0;
    for (int32_t i = 0; i < Owner->EffectCount(); ++i) held += Owner->GetEffect(i)->Output ? 1 : 0;
    MaxHeld = std::max(MaxHeld, held);
    const TdtpEffect* named = Source >= 0 ? Owner->GetEffect(Source) : nullptr;
    SawNamed = named && named->Output;
  }
  static inline int32_t MaxHeld = 0;
  bool SawNamed = false;
};
}  // namespace

// However many effects name each other as their Source, a painting pass holds only a few
// copies of the shape's bitmap at a time: a result goes as soon as its last reader has run.
TEST_F(EffectTest, KeptResultsStayFewInLongLists) {
  kdtest::TTestDocumentHost doc;
  auto paint = [&](int32_t N, const std::function<int32_t(int32_t)>& SourceOf, std::vector<TCountingEffect*>& Out) {
    auto s = NewShape<TdtpMarkShape>();
    s->SetDocument(&doc);
    s->SetDocBounds(0, 0, 20, 20);
    for (int32_t i = 0; i < N; ++i) {
      auto e = std::make_unique<TCountingEffect>();
      e->Source = SourceOf(i);
      Out.push_back(e.get());
      s->AddEffect(std::move(e));
    }
    TCountingEffect::MaxHeld = 0;
    s->UpdateBuffer();
    EXPECT_NE(s->Buffer(), nullptr);
    for (int32_t i = 0; i < N; ++i) EXPECT_EQ(s->GetEffect(i)->Output, nullptr);
    return s;
  };
  // A chain: each effect reads the one before it, and every one sees what it names.
  std::vector<TCountingEffect*> chain;
  auto a = paint(200, [](int32_t i) { return i - 1 == -1 ? -2 : i - 1; }, chain);
  EXPECT_LE(TCountingEffect::MaxHeld, 1);
  for (size_t i = 1; i < chain.size(); ++i) EXPECT_TRUE(chain[i]->SawNamed) << i;
  // The second half reads the first half: the copies held stay bounded all the same.
  std::vector<TCountingEffect*> halves;
  auto b = paint(200, [](int32_t i) { return i < 100 ? -2 : i - 100; }, halves);
  EXPECT_LE(TCountingEffect::MaxHeld, 8);
  EXPECT_TRUE(halves[100]->SawNamed);
}

namespace {
// Counts how often the shape asks its effects for their paint rectangle.
class TAskCountingEffect : public TdtpEffect {
 public:
  static const TEffectClass& StaticClass() {
    static const TEffectClass cls = MakeEffectClass<TAskCountingEffect>("TAskCountingEffect");
    return cls;
  }
  const TEffectClass& Class() const override { return StaticClass(); }
  void AdjustPaintRect(float& L, float&, float&, float&) override {
    L += 0.5f;
    ++Asked;
  }
  static inline int64_t Asked = 0;
};
}  // namespace

// Loading grows linearly with the number of effects: the paint rectangle is worked out once
// for the whole list, not again after each effect; the result is the same as adding them.
TEST_F(EffectTest, LoadingManyEffectsAsksEachOnlyAFewTimes) {
  RegisterEffectClass(TAskCountingEffect::StaticClass(), 0);
  kdtest::TTestDocumentHost doc;
  for (int n : {1, 10, 3000}) {
    SCOPED_TRACE(n);
    auto made = NewShape<TdtpMarkShape>();
    made->SetDocument(&doc);
    made->SetDocBounds(0, 0, 4, 4);
    for (int i = 0; i < n; ++i) made->AddEffect(std::make_unique<TAskCountingEffect>());
    TXmlDocument xml("Shape");
    made->SaveToXml(xml.Root());
    auto loaded = NewShape<TdtpMarkShape>();
    loaded->SetDocument(&doc);
    TAskCountingEffect::Asked = 0;
    loaded->LoadFromXml(xml.Root());
    EXPECT_LE(TAskCountingEffect::Asked, 4 * n);
    ASSERT_NE(loaded->GetEffect(n - 1), nullptr);
    EXPECT_EQ(loaded->GetEffect(n), nullptr);
    EXPECT_EQ(loaded->GetEffect(n - 1)->Owner, loaded.get());
    EXPECT_EQ(loaded->OutsetLeft(), made->OutsetLeft());
    EXPECT_FLOAT_EQ(loaded->OutsetLeft(), 0.5f * float(n));
  }
}

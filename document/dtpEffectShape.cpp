#include "document/dtpEffectShape.h"

#include <algorithm>

#include "document/XmlDocuments.h"
#include "platform/SysUtils.h"

namespace document {

namespace {

struct TEffectClassHolder {
  const TEffectClass* Class;
  std::string Name;
  uint32_t Flag;
};

std::vector<TEffectClassHolder>& EffectRegistry() {
  static std::vector<TEffectClassHolder> list;
  return list;
}

}  // namespace

const TEffectClass& TdtpEffect::StaticClass() {
  static const TEffectClass cls = MakeEffectClass<TdtpEffect>("TdtpEffect");
  return cls;
}

void TdtpEffect::InvalidateOwner() {
  if (Owner) Owner->Invalidate();
}

void TdtpEffect::RefreshOwner() {
  if (Owner) Owner->Refresh();
}

void TdtpEffect::OwnerChanged() {
  if (!Owner) return;
  RefreshOwner();
  Owner->Changed();
}

std::string TdtpEffect::GetEffectName() const {
  const std::string n = ClassName();
  return n.size() > 10 ? n.substr(4, n.size() - 10) : std::string();
}

void TdtpEffect::LoadFromXml(TXmlNode* Node) {
  if (!Node) return;
  Enabled = Node->ReadBool("Enabled", false);
  Source = Node->ReadIntegerDef("Source", -2);
}

void TdtpEffect::SaveToXml(TXmlNode* Node) {
  if (!Node) return;
  Node->WriteString("ClassName", ClassName());
  Node->WriteBool("Enabled", Enabled, false);
  Node->WriteInteger("Source", Source, -2);
}

const TShapeClass& TdtpEffectShape::StaticClass() {
  static const TShapeClass cls = MakeShapeClass<TdtpEffectShape>("TdtpEffectShape", &TdtpShape::StaticClass());
  return cls;
}

int32_t TdtpEffectShape::AddEffect(std::unique_ptr<TdtpEffect> Effect) {
  if (!Effect) return -1;
  Invalidate();
  Effect->Owner = this;
  FEffects.push_back(std::move(Effect));
  Refresh();
  Changed();
  return int32_t(FEffects.size()) - 1;
}

TdtpEffect* TdtpEffectShape::GetEffect(int32_t Index) const {
  if (Index < 0 || Index >= int32_t(FEffects.size())) return nullptr;
  return FEffects[size_t(Index)].get();
}

void TdtpEffectShape::Clear() {
  if (!FEffects.empty()) {
    Invalidate();
    FEffects.clear();
  }
  TdtpShape::Clear();
  UpdatePaintRect();
}

// An enabled effect forces drawing through the buffer, where effects are applied.
bool TdtpEffectShape::IsFlippedOrMirrored() const {
  if (TdtpShape::IsFlippedOrMirrored()) return true;
  return std::any_of(FEffects.begin(), FEffects.end(), [](const auto& e) -> bool { return e->Enabled; });
}

void TdtpEffectShape::AdjustPaintRect(float& Left, float& Top, float& Right, float& Bottom) {
  for (auto& e : FEffects) e->AdjustPaintRect(Left, Top, Right, Bottom);
  TdtpShape::AdjustPaintRect(Left, Top, Right, Bottom);
}

namespace {

std::unique_ptr<TBitmap32> CopyOf(const TBitmap32* Bitmap) {
  auto copy = std::make_unique<TBitmap32>();
  copy->Assign(Bitmap);
  return copy;
}

}  // namespace

// Effects apply one after the other to the same bitmap. The inputs their Source names are
// copied as the pass goes (the drawing before any effect, an effect's result), so an effect
// may look at them. A copy goes as soon as the last effect naming it has run, and only a few
// are held at once, so a long list of effects naming each other cannot exhaust memory; the
// rest are dropped when the pass ends, also when an effect fails.
void TdtpEffectShape::ApplyFlipMirror(TBitmap32* Bitmap) {
  constexpr int32_t kMaxKeptOutputs = 8;
  const int32_t n = int32_t(FEffects.size());
  // The last enabled effect naming effect i (or the drawing) as its Source; -1 for none.
  std::vector<int32_t> lastReader(size_t(n), -1);
  int32_t lastDrawingReader = -1;
  for (int32_t j = 0; j < n; ++j) {
    TdtpEffect& e = *FEffects[size_t(j)];
    e.KeepOutput = false;
    e.Output.reset();
    if (!e.Enabled) continue;
    if (e.Source == -1) lastDrawingReader = j;
    else if (e.Source >= 0 && e.Source < j) lastReader[size_t(e.Source)] = j;
  }
  // Only an effect that runs before its reader can hand its result on.
  for (int32_t i = 0; i < n; ++i) FEffects[size_t(i)]->KeepOutput = FEffects[size_t(i)]->Enabled && lastReader[size_t(i)] > i;
  struct TPassEnd {
    TdtpEffectShape* Shape;
    ~TPassEnd() {
      Shape->FSourceCopy.reset();
      for (auto& e : Shape->FEffects) {
        e->KeepOutput = false;
        e->Output.reset();
      }
    }
  } passEnd{this};
  if (lastDrawingReader >= 0 && Bitmap) FSourceCopy = CopyOf(Bitmap);
  int32_t kept = 0;
  for (int32_t j = 0; j < n; ++j) {
    TdtpEffect& e = *FEffects[size_t(j)];
    if (!e.Enabled) continue;
    e.Apply(Bitmap);
    if (j == lastDrawingReader) FSourceCopy.reset();
    if (e.Source >= 0 && e.Source < j && lastReader[size_t(e.Source)] == j) {
      TdtpEffect& named = *FEffects[size_t(e.Source)];
      if (named.Output) --kept;
      named.Output.reset();
    }
    if (e.KeepOutput && Bitmap && kept < kMaxKeptOutputs) {
      e.Output = CopyOf(Bitmap);
      ++kept;
    }
  }
  TdtpShape::ApplyFlipMirror(Bitmap);
}

void TdtpEffectShape::LoadFromXml(TXmlNode* Node) {
  if (!Node) return;
  ++FLoading;
  try {
    TdtpShape::LoadFromXml(Node);
    // The effects are added first and the shape refreshed once: refreshing after each one
    // would make loading cost the square of their number.
    bool any = false;
    for (const auto& child : Node->Nodes()) {
      if (!platform::SameText(child->Name(), "Effect")) continue;
      if (!any) Invalidate();
      any = true;
      auto effect = FindEffectClass(child->ReadString("ClassName", "")).Construct();
      TdtpEffect* raw = effect.get();
      FEffects.push_back(std::move(effect));
      // Read before it has its owner: stored values are not changes to report.
      try {
        raw->LoadFromXml(child.get());
      } catch (...) {
        raw->Owner = this;
        throw;
      }
      raw->Owner = this;
      raw->UpdateTables();
    }
    if (any)
      Refresh();
    else
      UpdatePaintRect();
  } catch (...) {
    --FLoading;
    throw;
  }
  --FLoading;
}

void TdtpEffectShape::SaveToXml(TXmlNode* Node) {
  if (!Node) return;
  TdtpShape::SaveToXml(Node);
  for (size_t i = 0; i < FEffects.size(); ++i) {
    TXmlNode* child = Node->NodeNew("Effect");
    child->WriteAttributeInteger("Index", int32_t(i) + 1);
    FEffects[i]->SaveToXml(child);
  }
}

void RegisterEffectClass(const TEffectClass& Cls, uint32_t Flag) {
  auto& reg = EffectRegistry();
  for (const auto& h : reg)
    if (h.Class == &Cls) return;
  reg.push_back({&Cls, Cls.Name, Flag});
}

const TEffectClass& FindEffectClass(const std::string& Name) {
  for (const auto& h : EffectRegistry())
    if (h.Name == Name) return *h.Class;
  return TdtpEffect::StaticClass();
}

uint32_t EffectClassFlag(const TEffectClass& Cls) {
  for (const auto& h : EffectRegistry())
    if (h.Class == &Cls) return h.Flag;
  return 0;
}

int32_t EffectClassCount() { return int32_t(EffectRegistry().size()); }

void InitializeDtpEffectShape() {
  RegisterEffectClass(TdtpEffect::StaticClass(), 0);
  RegisterShapeClass(TdtpEffectShape::StaticClass());
}

void FinalizeDtpEffectShape() { EffectRegistry().clear(); }

}  // namespace document

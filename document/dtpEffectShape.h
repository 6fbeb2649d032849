// Drawing effects and the shapes that carry them. After an effect shape has drawn itself into
// its off-screen bitmap, each enabled effect changes that bitmap in list order (colour
// corrections, drop shadow); effects may enlarge the painted area. Effects are stored as
// "Effect" elements of the shape and recreated by class name through the effect registry.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "document/dtpShape.h"

namespace document {

class TdtpEffect;
class TdtpEffectShape;

struct TEffectClass {
  std::string Name;
  std::function<std::unique_ptr<TdtpEffect>()> Construct;
};

template <typename T>
TEffectClass MakeEffectClass(const std::string& Name) {
  return TEffectClass{Name, [] { return std::unique_ptr<TdtpEffect>(std::make_unique<T>()); }};
}

class TdtpEffect : public platform::TPersistent {
 public:
  TdtpEffect() = default;
  static const TEffectClass& StaticClass();
  virtual const TEffectClass& Class() const { return StaticClass(); }
  std::string ClassName() const override { return Class().Name; }

  virtual void InvalidateOwner();
  virtual void Apply(TBitmap32* /*Bitmap*/) {}
  virtual void RefreshOwner();
  // A stored setting changed: the owner draws anew and is modified.
  void OwnerChanged();
  // Called by the effect's stored settings (TStoredSetting) when one takes a new value.
  void SettingChanged() { OwnerChanged(); }
  virtual void UpdateTables() {}
  virtual void AdjustPaintRect(float& /*Left*/, float& /*Top*/, float& /*Right*/, float& /*Bottom*/) {}
  // The class name without "Tdtp" and "Effect": "TdtpShadowEffect" gives "Shadow".
  virtual std::string GetEffectName() const;
  virtual void LoadFromXml(TXmlNode* Node);
  virtual void SaveToXml(TXmlNode* Node);

  TStoredSetting<bool, TdtpEffect> Enabled{this, true};
  TdtpEffectShape* Owner = nullptr;
  // The input an effect names: -1 the shape's own drawing, an index another effect's result,
  // -2 none. Stored and read back; what is drawn does not depend on it.
  TStoredSetting<int32_t, TdtpEffect> Source{this, -2};
  // Scratch state of one painting pass: set while a later effect names this one as its
  // Source, with Output holding this effect's result until the last such effect has run
  // (while few results are held). Both are cleared when the pass ends.
  bool KeepOutput = false;
  std::unique_ptr<TBitmap32> Output;
};

class TdtpEffectShape : public TdtpShape {
 public:
  static const TShapeClass& StaticClass();
  const TShapeClass& Class() const override { return StaticClass(); }

  // -1 for none; otherwise the new effect's index.
  int32_t AddEffect(std::unique_ptr<TdtpEffect> Effect);
  int32_t EffectCount() const { return int32_t(FEffects.size()); }
  TdtpEffect* GetEffect(int32_t Index) const;

  // Also drops the effects: a cleared shape, and so a shape assigned from another, carries
  // only the effects it is given afterwards.
  void Clear() override;
  bool IsFlippedOrMirrored() const override;
  void AdjustPaintRect(float& Left, float& Top, float& Right, float& Bottom) override;
  void ApplyFlipMirror(TBitmap32* Bitmap) override;
  void LoadFromXml(TXmlNode* Node) override;
  void SaveToXml(TXmlNode* Node) override;
  // During a painting pass in which an enabled effect's Source is -1: the shape's drawing
  // before any effect. Null outside such a pass.
  TBitmap32* SourceCopy() const { return FSourceCopy.get(); }

 protected:
  std::vector<std::unique_ptr<TdtpEffect>> FEffects;
  std::unique_ptr<TBitmap32> FSourceCopy;
};

// Adds the class once (a registered class keeps its first flag).
void RegisterEffectClass(const TEffectClass& Cls, uint32_t Flag);
// The class registered under exactly Name (case-sensitive); TdtpEffect when none.
const TEffectClass& FindEffectClass(const std::string& Name);
uint32_t EffectClassFlag(const TEffectClass& Cls);
int32_t EffectClassCount();
void InitializeDtpEffectShape();
void FinalizeDtpEffectShape();

}  // namespace document

// A stored value kept as a public field of a part of a document (a shape's size limits, an
// effect, a line's arrow head, a resource's names) and assigned like one.
#pragma once

#include <type_traits>

namespace document {

// Assigning a different value tells the part (SettingChanged), which redraws its shape and marks
// it modified, so that a save in place writes the new value; no assignment can bypass that (a
// part that writes its own settings while it loads or saves ignores what it is told then).
// Reads give the value itself.
template <typename T, typename TPart>
class TStoredSetting {
 public:
  TStoredSetting(TPart* Part, T Value) : FPart(Part), FValue(Value) {}
  // The part is the one holding the field: a setting is never copied, only its value.
  TStoredSetting(const TStoredSetting&) = delete;
  TStoredSetting& operator=(const TStoredSetting& Other) { return *this = Other.FValue; }
  TStoredSetting& operator=(T Value) {
    if (Value == FValue) return *this;
    FValue = Value;
    FPart->SettingChanged();
    return *this;
  }
  operator const T&() const { return FValue; }
  const T& Value() const { return FValue; }
  // Texts compare with texts and literals (numbers and enumerations use the built-in ones).
  friend bool operator==(const TStoredSetting& A, const T& B)
    requires std::is_class_v<T>
  {
    return A.FValue == B;
  }

 private:
  TPart* FPart;
  T FValue;
};

}  // namespace document

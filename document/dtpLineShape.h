// Straight lines with a head at each end. A line is a polygon shape whose single contour is
// the outline of the stroked segment including both heads, filled in FillColor. Its two end
// points are kept as fractions of its bounds, so the bounds always fit the segment and a
// resize of the bounds moves the points. TdtpLineShape2 is the same line traced dashed.
//
// Call InitializeDtpLineShape() at start-up (after InitializeDtpPolygonShape).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "document/dtpPolygonShape.h"

namespace platform {
class TCanvas;
}

namespace document {

class TdtpLineShape;

enum TdtpArrowStyle : uint8_t { asNoArrow, asArrow, asOpenArrow, asStealthArrow, asDiamond, asOval };
// "NoArrow", "Arrow", ... by value; the empty string for a value out of range.
std::string ArrowStyleName(TdtpArrowStyle Style);
// True when Name is exactly one of the six names.
bool ArrowStyleFromName(const std::string& Name, TdtpArrowStyle& Style);

class TdtpArrow : public platform::TPersistent {
 public:
  explicit TdtpArrow(TdtpLineShape* Owner);
  TdtpArrow(const TdtpArrow&) = delete;
  // Takes the other's head; it stays this owner's head.
  TdtpArrow& operator=(const TdtpArrow& Other) {
    SetStyle(Other.FStyle);
    Width = Other.Width;
    Length = Other.Length;
    return *this;
  }
  std::string ClassName() const override { return "TdtpArrow"; }

  TdtpArrowStyle Style() const { return FStyle; }
  // No undo record: the owner is invalidated, refreshed and told of the change.
  void SetStyle(TdtpArrowStyle Value);
  void LoadFromXml(TXmlNode* Node);
  void SaveToXml(TXmlNode* Node) const;
  // Called by the head's stored settings: the owner is refreshed and told, as for the style.
  void SettingChanged();

  TStoredSetting<float, TdtpArrow> Width{this, 5.0f};
  TStoredSetting<float, TdtpArrow> Length{this, 7.0f};

 private:
  TdtpArrowStyle FStyle = asNoArrow;
  TdtpLineShape* FOwner;
};

class TdtpLineShape : public TdtpPolygonShape {
 public:
  TdtpLineShape();
  ~TdtpLineShape() override;
  static const TShapeClass& StaticClass();
  const TShapeClass& Class() const override { return StaticClass(); }

  TdtpArrow* Arrow0() const { return FArrow0.get(); }
  TdtpArrow* Arrow1() const { return FArrow1.get(); }
  TdtpArrow* GetArrow(int32_t Index) const;
  virtual int32_t PointCount() const { return int32_t(FLinePoints.size()); }
  // The point in the parent's millimetres; (0, 0) for an index out of range.
  void GetPoint(int32_t Index, TdtpFloatPoint& P) const;
  // The stored fractions of the bounds.
  const std::vector<TdtpFloatPoint>& LinePoints() const { return FLinePoints; }
  void SetLinePoint(int32_t Index, const TdtpFloatPoint& P);
  void AddLinePoint(const TdtpFloatPoint& P);
  void FitBoundsToPoints();
  float LineWidth() const { return FLineWidth; }
  void SetLineWidth(float Value);

  // One handle per point (hit code 11) and an edge between consecutive points (hit code 1).
  void CreateHandles() override;
  // The rubber band while a line is drawn: Rect's top-left to its bottom-right, dotted XOR.
  void PaintFocusRect(platform::TCanvas* Canvas, const platform::TRect& Rect, platform::TColor Color) override;
  // While an end handle is dragged that end follows the handle's position; otherwise the
  // dragged bounds apply.
  void ApplyDragBounds() override;

  void InitDefaults() override;
  // "LinePoints" restores the fractions as recorded for undo (pairs of numbers).
  void SetPropertyByName(const std::string& Name, const std::string& Value) override;
  void SetDocAngle(float Value) override;
  void SetBoundsFromRect(const TdtpFloatRect& Rect) override;
  void BuildOutline() override;
  void LoadFromXml(TXmlNode* Node) override;
  void SaveToXml(TXmlNode* Node) override;

 protected:
  // Appends the points of one end: the stroke's corners and the head at End.
  void BuildLinePolygon(const TdtpArrow& Arrow, const TdtpFloatPoint& End, const TdtpFloatPoint& Other);

 private:
  // Bounds from absolute points, which become the new fractions.
  void FitBoundsTo(const std::vector<TdtpFloatPoint>& Absolute);
  // Undo record of the fractions before they change: restoring the bounds alone would put
  // the ends of a reversed or turned line in the wrong corners.
  void RecordLinePoints();

  friend class TdtpArrow;
  std::unique_ptr<TdtpArrow> FArrow0, FArrow1;
  std::vector<TdtpFloatPoint> FLinePoints;
  float FLineWidth = 1.0f;
};

class TdtpLineShape2 : public TdtpLineShape {
 public:
  static const TShapeClass& StaticClass();
  const TShapeClass& Class() const override { return StaticClass(); }
  void BuildOutline() override;
};

void InitializeDtpLineShape();

}  // namespace document

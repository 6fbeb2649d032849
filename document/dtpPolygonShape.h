// Shapes drawn from contours of points in local millimetres: filled antialiased (even-odd),
// stroked (the contours' outline grown by half the stroke width, non-zero) or traced as a
// hairline or with a dash pattern. TdtpPolygonShape stores the contours and turns them into
// the rasteriser's fixed-point polygons at the device resolution; each family class only says
// how its contour follows from its width and height (BuildOutline). Documents store the family
// shapes by class name and size, so their outline is rebuilt from the size every time.
//
// Call InitializeDtpPolygonShape() at start-up (after InitializeDtpShape and
// InitializeDtpEffectShape) to register the 41 classes under their stored names.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "document/dtpEffectShape.h"
#include "raster/Raster32Polygons.h"

namespace document {

using TArrayOfFPoint = std::vector<TdtpFloatPoint>;
using ArrayOfArrayOfFPoint = std::vector<TArrayOfFPoint>;

// Unit quarter arc for an arc of Length device pixels: N + 1 points (cos t_i, sin t_i),
// t_i = i / N * pi/2, exactly (1, 0) first and (0, 1) last.
struct TArcPoints {
  std::vector<float> C, S;
  int32_t N() const { return int32_t(C.size()) - 1; }
};
// Segment count of a quarter arc of Length pixels. Capped so that a huge shape cannot
// produce millions of points; a length that is not a number gives one segment.
int32_t ArcSegmentCount(double Length);
constexpr int32_t cMaxArcSegments = 16384;
void BuildArcPoints(double Length, TArcPoints& Arc);

class TdtpPolygonShape : public TdtpEffectShape {
 public:
  TdtpPolygonShape();
  ~TdtpPolygonShape() override;
  static const TShapeClass& StaticClass();
  const TShapeClass& Class() const override { return StaticClass(); }

  // Contours in local millimetres; never empty.
  const ArrayOfArrayOfFPoint& Points() const { return FPoints; }
  virtual void GetPointsBounds(TdtpFloatRect& Rect) const;
  virtual void FitPoints(const TdtpFloatRect& Rect);
  virtual void BuildOutline();
  virtual void OffsetPoints(float DX, float DY);
  virtual void ScalePoints(float SX, float SY);
  virtual void UpdatePolygons();
  virtual void AddPoint(const TdtpFloatPoint& P);
  virtual void AddPointXY(float X, float Y);
  virtual void ClearPoints();
  virtual void NewContour();

  bool IsEmpty() const;
  // Pixels per millimetre of the device matrix; 1 when that is not positive.
  float DevScale() const;

  bool IsClosed() const { return FIsClosed; }
  void SetIsClosed(bool Value);
  float OutlineWidth() const { return FOutlineWidth; }
  void SetOutlineWidth(float Value);
  int32_t FillAlpha() const { return FFillAlpha; }
  void SetFillAlpha(int32_t Value);
  platform::TColor FillColor() const { return FFillColor; }
  void SetFillColor(platform::TColor Value);
  platform::TColor OutlineColor() const { return FOutlineColor; }
  void SetOutlineColor(platform::TColor Value);
  bool UseFill() const { return FUseFill; }
  void SetUseFill(bool Value);
  bool UseOutline() const { return FUseOutline; }
  void SetUseOutline(bool Value);
  bool UseStipple() const { return FUseStipple; }
  void SetUseStipple(bool Value);
  bool UseArrow1() const { return FUseArrow1; }
  void SetUseArrow1(bool Value);
  bool UseArrow2() const { return FUseArrow2; }
  void SetUseArrow2(bool Value);
  int32_t StipplePhase() const { return FStipplePhase; }
  float StippleScale() const { return FStippleScale; }
  bool PointBased() const { return FPointBased; }
  void SetPointBased(bool Value) { FPointBased = Value; }
  bool NeedsRebuild() const { return FRebuild; }

  // The rasteriser's polygons in device pixels (null before the first rebuild; the outline
  // polygon also when there is no stroke).
  raster::TPolygon32* FillPolygon() const { return FFillPolygon.get(); }
  raster::TPolygon32* OutlinePolygon() const { return FOutlinePolygon.get(); }

  void Tick() override {}
  void PaintShape(TBitmap32* Bitmap) override;
  void InitDefaults() override;
  void SetDocSize(float Width, float Height) override;
  void SetPropertyByName(const std::string& Name, const std::string& Value) override;
  void SetDeviceMatrix(const TdtpMatrix& Matrix) override;
  // The first contour as a screen ring; CreateRegionContours gives every contour (even-odd).
  std::vector<platform::TPoint> CreateRegion() const override;
  std::vector<std::vector<platform::TPoint>> CreateRegionContours() const override;
  // A point of the contours on the screen where the drawing shows it: mirrored across the
  // shape's width and flipped across its height as its image is. False without a screen.
  bool DrawnToScreen(const TdtpFloatPoint& P, TdtpFloatPoint& Screen) const;
  // Open contours are strokes: hit near their line (see the source), not by the area they
  // would enclose if closed.
  bool HitTest(const platform::TPoint& P) override;
  void AdjustPaintRect(float& Left, float& Top, float& Right, float& Bottom) override;
  void LoadFromXml(TXmlNode* Node) override;
  void SaveToXml(TXmlNode* Node) override;

 protected:
  // Outline cache: true when the points were built by BuildOutline for this size and device
  // scale and have not been touched since. Family classes return early when it holds.
  bool OutlineCached() const;
  // Every change of the points ends here.
  void PointsChanged();
  void StoreOutlineKey();
  void InvalidateOutline() { FOutlineValid = false; }

  std::unique_ptr<raster::TPolygon32> FFillPolygon;
  std::unique_ptr<raster::TPolygon32> FOutlinePolygon;
  bool FIsClosed = true;
  float FOutlineWidth = 0.5f;
  bool FRebuild = true;
  int32_t FFillAlpha = 255;
  platform::TColor FFillColor = 0xFF0000;
  platform::TColor FOutlineColor = 0;
  int32_t FStipplePhase = 0;
  float FStippleScale = 2.0f;
  bool FUseFill = true;
  bool FUseOutline = true;
  bool FUseStipple = false;
  bool FUseArrow1 = false;
  bool FUseArrow2 = false;
  ArrayOfArrayOfFPoint FPoints;
  bool FPointBased = false;

 private:
  void DrawStipple(TBitmap32* Bitmap);
  bool FOutlineValid = false;
  float FKeyWidth = 0, FKeyHeight = 0, FKeyScale = 0;
};

// The family classes override only BuildOutline (and the round rectangle its corners).
#define KD_POLYGON_FAMILY_CLASS(Name)                                  \
  class Name : public TdtpPolygonShape {                               \
   public:                                                             \
    Name();                                                            \
    static const TShapeClass& StaticClass();                           \
    const TShapeClass& Class() const override { return StaticClass(); } \
    void BuildOutline() override;                                      \
  };

KD_POLYGON_FAMILY_CLASS(TdtpEllipseShape)
KD_POLYGON_FAMILY_CLASS(TdtpRectangleShape)
KD_POLYGON_FAMILY_CLASS(TdtpAchtHShape)
KD_POLYGON_FAMILY_CLASS(TdtpDrieHShape)
KD_POLYGON_FAMILY_CLASS(TdtpVijfHShape)
KD_POLYGON_FAMILY_CLASS(TdtpZesHShape)
KD_POLYGON_FAMILY_CLASS(TdtpHcirkel1ShapeA)
KD_POLYGON_FAMILY_CLASS(TdtpHcirkel2ShapeA)
KD_POLYGON_FAMILY_CLASS(TdtpHcirkel3ShapeA)
KD_POLYGON_FAMILY_CLASS(TdtpHcirkel4ShapeA)
KD_POLYGON_FAMILY_CLASS(TdtpKcirkel1ShapeA)
KD_POLYGON_FAMILY_CLASS(TdtpKcirkel2ShapeA)
KD_POLYGON_FAMILY_CLASS(TdtpKcirkel3ShapeA)
KD_POLYGON_FAMILY_CLASS(TdtpKcirkel4ShapeA)
KD_POLYGON_FAMILY_CLASS(TdtpHcirkel1ShapeB)
KD_POLYGON_FAMILY_CLASS(TdtpHcirkel2ShapeB)
KD_POLYGON_FAMILY_CLASS(TdtpHcirkel3ShapeB)
KD_POLYGON_FAMILY_CLASS(TdtpHcirkel4ShapeB)
KD_POLYGON_FAMILY_CLASS(TdtpKcirkel1ShapeB)
KD_POLYGON_FAMILY_CLASS(TdtpKcirkel2ShapeB)
KD_POLYGON_FAMILY_CLASS(TdtpKcirkel3ShapeB)
KD_POLYGON_FAMILY_CLASS(TdtpKcirkel4ShapeB)
KD_POLYGON_FAMILY_CLASS(TdtpHcirkel1ShapeC)
KD_POLYGON_FAMILY_CLASS(TdtpHcirkel2ShapeC)
KD_POLYGON_FAMILY_CLASS(TdtpHcirkel3ShapeC)
KD_POLYGON_FAMILY_CLASS(TdtpHcirkel4ShapeC)
KD_POLYGON_FAMILY_CLASS(TdtpKcirkel1ShapeC)
KD_POLYGON_FAMILY_CLASS(TdtpKcirkel2ShapeC)
KD_POLYGON_FAMILY_CLASS(TdtpKcirkel3ShapeC)
KD_POLYGON_FAMILY_CLASS(TdtpKcirkel4ShapeC)
KD_POLYGON_FAMILY_CLASS(TdtpHcirkel1ShapeD)
KD_POLYGON_FAMILY_CLASS(TdtpHcirkel2ShapeD)
KD_POLYGON_FAMILY_CLASS(TdtpHcirkel3ShapeD)
KD_POLYGON_FAMILY_CLASS(TdtpHcirkel4ShapeD)
KD_POLYGON_FAMILY_CLASS(TdtpKcirkel1ShapeD)
KD_POLYGON_FAMILY_CLASS(TdtpKcirkel2ShapeD)
KD_POLYGON_FAMILY_CLASS(TdtpKcirkel3ShapeD)
KD_POLYGON_FAMILY_CLASS(TdtpKcirkel4ShapeD)
KD_POLYGON_FAMILY_CLASS(TdtpHcirkel1ShapeV)

#undef KD_POLYGON_FAMILY_CLASS

class TdtpRoundRectShape : public TdtpPolygonShape {
 public:
  TdtpRoundRectShape();
  static const TShapeClass& StaticClass();
  const TShapeClass& Class() const override { return StaticClass(); }
  void BuildOutline() override;
  void InitDefaults() override;
  void SetPropertyByName(const std::string& Name, const std::string& Value) override;
  void LoadFromXml(TXmlNode* Node) override;
  void SaveToXml(TXmlNode* Node) override;

  float CornerWidth() const { return FCornerWidth; }
  void SetCornerWidth(float Value);
  float CornerHeight() const { return FCornerHeight; }
  void SetCornerHeight(float Value);

 private:
  float FCornerWidth = 0;
  float FCornerHeight = 0;
};

// The 41 classes in registration order.
const std::vector<const TShapeClass*>& PolygonShapeClasses();
void InitializeDtpPolygonShape();

}  // namespace document

// Polygon shapes drawn with the mouse: a press starts a contour, moving adds points more
// than half a millimetre apart, releasing ends the stroke; keys finish or cancel.
//
// Call InitializeDtpFreehandShape() at start-up (after InitializeDtpPolygonShape).
#pragma once

#include <utility>
#include <vector>

#include "document/dtpPolygonShape.h"

namespace document {

class TdtpFreehandShape : public TdtpPolygonShape {
 public:
  TdtpFreehandShape();
  static const TShapeClass& StaticClass();
  const TShapeClass& Class() const override { return StaticClass(); }

  bool AutoRestart() const { return FAutoRestart; }
  void SetAutoRestart(bool Value) { StoreProperty(FAutoRestart, Value); }
  bool Drawing() const { return FDrawing; }
  // The points of the current stroke after its first.
  int32_t StrokeCount() const { return FStrokeCount; }
  const std::vector<float>& StrokeX() const { return FStrokeX; }
  const std::vector<float>& StrokeY() const { return FStrokeY; }

  void AppendPoint(const TdtpFloatPoint& P);

  void BuildOutline() override {}
  void NewContour() override;
  void InitDefaults() override;
  void EndEdit(bool Accept) override;
  void StartEdit() override;
  // Nothing while the shape is being drawn; the handles otherwise.
  void PaintOutline(platform::TCanvas* Canvas) override;
  void KeyDownHook(uint16_t& Key, platform::TShiftState Shift) override;
  void MouseDownHook(platform::TMouseButton Button, platform::TShiftState Shift, int32_t X, int32_t Y) override;
  void MouseMoveHook(platform::TShiftState Shift, int32_t X, int32_t Y) override;
  void MouseUpHook(platform::TMouseButton Button, platform::TShiftState Shift, int32_t X, int32_t Y) override;
  void LoadFromXml(TXmlNode* Node) override;
  void SaveToXml(TXmlNode* Node) override;
  // "Points" puts back the contours recorded when an edit began to draw.
  void SetPropertyByName(const std::string& Name, const std::string& Value) override;

 private:
  // Records the contours as they are, so that undoing a stroke takes it away again.
  void RecordPoints();
  void AddStrokePoint(const TdtpFloatPoint& P);
  void UpdateBoundsFromPoints();
  struct TEditSnapshot;
  void RestoreModified(const TEditSnapshot& Before);

  bool FAutoRestart = false;
  float FLastX = 0, FLastY = 0;
  bool FDrawing = false;
  int32_t FStrokeCount = 0;
  std::vector<float> FStrokeX, FStrokeY;
  // StartEdit opened a change bracket of the document that EndEdit must close.
  bool FDocChangeOpen = false;
  // The contours were recorded for undo during the current edit.
  bool FPointsRecorded = false;
  // The drawing as StartEdit found it, put back when the edit is rejected. A shape that had
  // no points is new: rejecting its edit removes it.
  struct TEditSnapshot {
    bool Taken = false;
    bool WasEmpty = true;
    ArrayOfArrayOfFPoint Points;
    bool Closed = false;
    float Left = 0, Top = 0, Width = 0, Height = 0;
    // The modified flags of the document and of this shape and its parents, so that a rejected
    // edit leaves an unchanged document unmodified.
    bool DocModified = false;
    std::vector<std::pair<TdtpShape*, bool>> ShapesModified;
  } FBeforeEdit;
};

class TdtpFreehandShape2 : public TdtpFreehandShape {
 public:
  TdtpFreehandShape2();
  static const TShapeClass& StaticClass();
  const TShapeClass& Class() const override { return StaticClass(); }
  void BuildOutline() override {}
};

void InitializeDtpFreehandShape();

}  // namespace document

#include "document/dtpFreehandShape.h"

#include <cmath>

#include "document/XmlDocuments.h"
#include "document/dtpDocumentHost.h"
#include "platform/SysUtils.h"

namespace document {

const TShapeClass& TdtpFreehandShape::StaticClass() {
  static const TShapeClass cls = MakeShapeClass<TdtpFreehandShape>("TdtpFreehandShape", &TdtpPolygonShape::StaticClass());
  return cls;
}

TdtpFreehandShape::TdtpFreehandShape() = default;

void TdtpFreehandShape::InitDefaults() {
  TdtpPolygonShape::InitDefaults();
  FAutoRestart = true;
  FPointBased = true;
  SetIsClosed(false);
  SetUseFill(false);
}

void TdtpFreehandShape::AppendPoint(const TdtpFloatPoint& P) {
  AddPoint(P);
  UpdateBoundsFromPoints();
  if (NeedsBuffer())
    Refresh();
  else
    Invalidate();
}

// Keeps the local origin at the top-left of the drawn points; a box without area (one point,
// a horizontal or vertical line) leaves the bounds alone.
void TdtpFreehandShape::UpdateBoundsFromPoints() {
  TdtpFloatRect b;
  GetPointsBounds(b);
  if (!(b.Left < b.Right && b.Top < b.Bottom)) return;
  OffsetPoints(-b.Left, -b.Top);
  // The last point and the stroke move with the points, or the distance rule would measure
  // against a point in the old frame.
  FLastX -= b.Left;
  FLastY -= b.Top;
  for (float& x : FStrokeX) x -= b.Left;
  for (float& y : FStrokeY) y -= b.Top;
  SetDocBounds(DocLeft() + b.Left, DocTop() + b.Top, b.Right - b.Left, b.Bottom - b.Top);
}

void TdtpFreehandShape::NewContour() {
  // A contour of fewer than two points is reused rather than left behind.
  if (FPoints.empty() || FPoints.back().size() >= 2) {
    TdtpPolygonShape::NewContour();
  } else if (!FPoints.back().empty()) {
    FPoints.back().clear();
    PointsChanged();
  }
}

void TdtpFreehandShape::AddStrokePoint(const TdtpFloatPoint& P) {
  FStrokeX.push_back(P.X);
  FStrokeY.push_back(P.Y);
  ++FStrokeCount;
  FLastX = P.X;
  FLastY = P.Y;
}

void TdtpFreehandShape::MouseDownHook(platform::TMouseButton Button, platform::TShiftState, int32_t X, int32_t Y) {
  FStrokeCount = 0;
  FStrokeX.clear();
  FStrokeY.clear();
  if (Button == platform::mbRight) {
    if (FDocument) FDocument->EndShapeEdit(true);
    return;
  }
  // The contours before the first stroke of this edit, recorded before the stroke moves the
  // bounds, so that undoing puts the bounds back first and then these points.
  if (!FPointsRecorded) {
    RecordPoints();
    FPointsRecorded = true;
  }
  FDrawing = true;
  TdtpFloatPoint p{0, 0};
  ScreenToLocal({X, Y}, p);
  FLastX = p.X;
  FLastY = p.Y;
  NewContour();
  AppendPoint(p);
}

void TdtpFreehandShape::MouseMoveHook(platform::TShiftState, int32_t X, int32_t Y) {
  if (!FDrawing) return;
  TdtpFloatPoint p{0, 0};
  if (!ScreenToLocal({X, Y}, p)) return;
  const float dx = p.X - FLastX, dy = p.Y - FLastY;
  if (dx * dx + dy * dy > 0.5f * 0.5f) {
    AddStrokePoint(p);
    AppendPoint(p);
  }
}

void TdtpFreehandShape::MouseUpHook(platform::TMouseButton, platform::TShiftState, int32_t X, int32_t Y) {
  if (FDrawing) {
    TdtpFloatPoint p{0, 0};
    if (ScreenToLocal({X, Y}, p) && (p.X != FLastX || p.Y != FLastY)) {
      AddStrokePoint(p);
      AppendPoint(p);
    }
    FDrawing = false;
    if (FDocument) {
      if (FAutoRestart)
        NewContour();
      else
        FDocument->EndShapeEdit(true);
    }
  }
  if (FDocument) FDocument->EndShapeEdit(true);
}

void TdtpFreehandShape::KeyDownHook(uint16_t& Key, platform::TShiftState) {
  if (!FDocument) return;
  switch (Key) {
    case 32:
      SetIsClosed(true);
      FDocument->EndShapeEdit(true);
      break;
    case 27:
    case 3:
      FDocument->EndShapeEdit(false);
      break;
    case 9:
    case 13:
    case 43:
    case 113:
      FDocument->EndShapeEdit(true);
      break;
    default:
      break;
  }
}

void TdtpFreehandShape::StartEdit() {
  BeginDocChange();
  FDocChangeOpen = FDocument != nullptr;
  FPointsRecorded = false;
  FBeforeEdit = {true, IsEmpty(), FPoints, FIsClosed, FDocLeft, FDocTop, FDocWidth, FDocHeight,
                 FDocument && FDocument->Modified(), {}};
  for (TdtpShape* s = this; s; s = s->ParentShape()) FBeforeEdit.ShapesModified.emplace_back(s, s->Modified());
}

void TdtpFreehandShape::PaintOutline(platform::TCanvas* Canvas) {
  if (IsEditing()) return;
  TdtpPolygonShape::PaintOutline(Canvas);
}

void TdtpFreehandShape::EndEdit(bool Accept) {
  const bool open = FDocChangeOpen;
  FDocChangeOpen = false;
  TEditSnapshot before = std::move(FBeforeEdit);
  FBeforeEdit = TEditSnapshot();
  FDrawing = false;
  if (!Accept && before.Taken && !before.WasEmpty) {
    // An existing drawing keeps what it had: the program offers no other way back.
    FPoints = std::move(before.Points);
    InvalidateOutline();
    SetIsClosed(before.Closed);
    SetDocBounds(before.Left, before.Top, before.Width, before.Height);
    FRebuild = true;
    Refresh();
    if (open) EndDocChange();
    RestoreModified(before);
    return;
  }
  if (!Accept || IsEmpty()) {
    // The bracket closes first: removing frees this shape, nothing may touch it afterwards.
    if (open) EndDocChange();
    if (TdtpShape* parent = ParentShape()) parent->RemoveShape(this);
    return;
  }
  while (!FPoints.empty() && FPoints.back().size() <= 1) FPoints.pop_back();
  FRebuild = true;
  Invalidate();
  if (open) EndDocChange();
}

// Putting the points back went through the change notifications, which marked this shape, its
// parents and the document modified. A flag that was clear is cleared again, outermost first:
// clearing a shape clears what it contains, and nothing in it was modified before either.
void TdtpFreehandShape::RestoreModified(const TEditSnapshot& Before) {
  if (FDocument && !Before.DocModified) FDocument->SetModified(false);
  for (auto it = Before.ShapesModified.rbegin(); it != Before.ShapesModified.rend(); ++it)
    if (!it->second) {
      it->first->SetModified(false);
      return;
    }
}

// Contours as text: "x y x y ..." per contour, contours separated by ";".
void TdtpFreehandShape::RecordPoints() {
  if (!FDocument || IsLoading() || !(FDocument->UndoEnabled() || FDocument->SecondRecording())) return;
  std::string s;
  for (size_t c = 0; c < FPoints.size(); ++c) {
    if (c > 0) s += ';';
    for (size_t i = 0; i < FPoints[c].size(); ++i) {
      if (i > 0) s += ' ';
      s += platform::FloatToStr(FPoints[c][i].X) + ' ' + platform::FloatToStr(FPoints[c][i].Y);
    }
  }
  RecordChange(ckPropertyChange, "Points", s);
}

void TdtpFreehandShape::SetPropertyByName(const std::string& Name, const std::string& Value) {
  TdtpPolygonShape::SetPropertyByName(Name, Value);
  if (!platform::SameText(Name, "Points")) return;
  ArrayOfArrayOfFPoint pts(1);
  std::vector<float> v;
  auto endContour = [&]() {
    if (v.size() % 2 != 0) return false;
    for (size_t k = 0; k < v.size(); k += 2) pts.back().push_back({v[k], v[k + 1]});
    v.clear();
    return true;
  };
  size_t i = 0;
  while (i <= Value.size()) {
    size_t j = i;
    while (j < Value.size() && Value[j] != ' ' && Value[j] != ';') ++j;
    if (j > i) {
      long double f = 0;
      if (!platform::TryStrToFloat(std::string_view(Value).substr(i, j - i), f) || !std::isfinite(float(f))) return;
      v.push_back(float(f));
    }
    if (j < Value.size() && Value[j] == ';') {
      if (!endContour()) return;
      pts.emplace_back();
    }
    i = j + 1;
  }
  if (!endContour() || pts == FPoints) return;
  RecordPoints();
  Invalidate();
  FPoints = std::move(pts);
  InvalidateOutline();
  FRebuild = true;
  Refresh();
  Changed();
}

void TdtpFreehandShape::LoadFromXml(TXmlNode* Node) {
  TdtpPolygonShape::LoadFromXml(Node);
  if (Node) FAutoRestart = Node->ReadBool("AutoRestart", false);
}

void TdtpFreehandShape::SaveToXml(TXmlNode* Node) {
  TdtpPolygonShape::SaveToXml(Node);
  if (Node) Node->WriteBool("AutoRestart", FAutoRestart);
}

const TShapeClass& TdtpFreehandShape2::StaticClass() {
  static const TShapeClass cls = MakeShapeClass<TdtpFreehandShape2>("TdtpFreehandShape2", &TdtpFreehandShape::StaticClass());
  return cls;
}

TdtpFreehandShape2::TdtpFreehandShape2() = default;

void InitializeDtpFreehandShape() {
  RegisterShapeClass(TdtpFreehandShape::StaticClass());
  RegisterShapeClass(TdtpFreehandShape2::StaticClass());
}

}  // namespace document

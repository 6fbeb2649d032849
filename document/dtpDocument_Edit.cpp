// Editing in the document view: selection, hit testing, moving, resizing and rotating with
// handles, duplicating with Ctrl, rubber-band selection, keyboard, clipboard as "Selection"
// XML text, and replaying undo commands.
#include <algorithm>
#include <cmath>

#include "document/XmlDocuments.h"
#include "document/dtpDocument.h"
#include "document/dtpLineShape.h"
#include "platform/Clipboard.h"
#include "platform/Dialogs.h"
#include "platform/ExtCtrls.h"
#include "platform/Menus.h"
#include "platform/Graphics.h"
#include "platform/KeyState.h"
#include "platform/Rounding.h"
#include "platform/SysUtils.h"

namespace document {

using namespace platform;

namespace {
int32_t RoundI(double V) { return int32_t(platform::Round((long double)V)); }
bool IsKeyDown(int VK) { return GetKeyState(VK) < 0; }
}  // namespace

// --- selection -------------------------------------------------------------------------

int32_t TdtpDocument::SelectionCount() const {
  TdtpPage* page = CurrentPage();
  int32_t n = 0;
  if (page)
    for (int32_t i = 0; i < page->GetShapeCount(); ++i)
      if (page->GetShape(i)->Selected()) ++n;
  return n;
}

TdtpShape* TdtpDocument::SelectedShape(int32_t N) const {
  TdtpPage* page = CurrentPage();
  if (!page || N < 0) return nullptr;
  for (int32_t i = 0; i < page->GetShapeCount(); ++i)
    if (page->GetShape(i)->Selected() && N-- == 0) return page->GetShape(i);
  return nullptr;
}

bool TdtpDocument::HasSelection() const { return SelectionCount() > 0; }

void TdtpDocument::ToggleSelection(TdtpShape* Shape) {
  if (!Shape) return;
  Shape->SetSelected(!Shape->Selected());
  if (Shape->Selected()) SetFocusShape(Shape);
}

uint8_t TdtpDocument::HitTest(const TPoint& P, TdtpShape*& Shape) {
  Shape = nullptr;
  TdtpPage* page = CurrentPage();
  if (FReadOnly || !page) return 0;
  for (int32_t i = page->GetShapeCount() - 1; i >= 0; --i) {
    TdtpShape* s = page->GetShape(i);
    if (!s->Selected()) continue;
    const uint8_t code = s->HandleAtPoint(P);
    if (code != 0) {
      Shape = s;
      return code;
    }
  }
  for (int32_t i = page->GetShapeCount() - 1; i >= 0; --i) {
    TdtpShape* s = page->GetShape(i);
    if (s->CanSelect() && s->HitTest(P)) {
      Shape = s;
      return 1;
    }
  }
  return 0;
}

TCursor TdtpDocument::HandleCursor(TdtpShape* Shape, uint8_t Code) const {
  int32_t c = Code;
  if (Shape && c >= 2 && c <= 9) {
    // Turn the handle with the shape so the arrows follow its rotation.
    int32_t steps = RoundI(double(Shape->DocAngle()) + 22.5) / 45 % 8;
    if (steps < 0) steps += 8;
    c = (c - 2 + steps) % 8 + 2;
  }
  switch (c) {
    case 2: case 6: return crSizeNWSE;
    case 3: case 7: return crSizeWE;
    case 4: case 8: return crSizeNESW;
    case 5: case 9: return crSizeNS;
    default: return Cursor();
  }
}

void TdtpDocument::EditShape(TdtpShape* Shape) {
  if (!Shape) return;
  if (FDragState == 5 && FEditedShape && FEditedShape != Shape) EndShapeEdit(true);
  SetDragState(5);
  FEditedShape = Shape;
  FEditUndoMark = UndoMark();
  if (Shape != FInsertedShape) FInsertedShape = nullptr;
  FEditDocModified = FModified;
  FSavedDuringEdit = false;
  FEditShapesModified.clear();
  for (TdtpShape* s = Shape; s; s = s->ParentShape()) FEditShapesModified.emplace_back(s, s->Modified());
  Shape->StartEdit();
}

void TdtpDocument::SetDragState(uint8_t S) {
  if (S == FDragState) return;
  StopShapeHint();
  if (FOutlineShown) EndMove(false);
  if (FBandShown) ToggleRubberBand();
  if (FInsertOutlineShown && S != 4) ToggleInsertOutline();
  // Leaving the insertion states any other way than by EndInsert cancels the insertion.
  std::unique_ptr<TdtpShape> cancelled;
  if ((FDragState == 3 || FDragState == 4) && S != 3 && S != 4) cancelled = std::move(FInsertShape);
  FDragState = S;
  if (cancelled) {
    ShapeInsertClosed(nullptr);
    ShapeDestroyed(cancelled.get());
  }
}

// --- insertion by drawing ------------------------------------------------------------------

void TdtpDocument::BeginInsert(std::unique_ptr<TdtpShape> Shape, uint8_t Kind) {
  if (!Shape) return;
  if (FDragState == 3 || FDragState == 4) SetDragState(0);  // a new insertion replaces an armed one
  if (FDragState == 5) EndShapeEdit(true);
  SetDragState(3);
  FInsertShape = std::move(Shape);
  FInsertKind = Kind;
}

void TdtpDocument::ToggleInsertOutline() {
  if (dynamic_cast<const TdtpLineShape*>(FInsertShape.get())) {
    // A line being drawn shows as the segment from the press to the mouse, whichever way it
    // runs, not as the rectangle around it.
    XorOverlay().ToggleLine(FMouseDownPt.X, FMouseDownPt.Y, FMouseDownPt.X + FDragDelta.X,
                            FMouseDownPt.Y + FDragDelta.Y, FHandleColor, true);
  } else {
    const TRect r{std::min(FMouseDownPt.X, FMouseDownPt.X + FDragDelta.X),
                  std::min(FMouseDownPt.Y, FMouseDownPt.Y + FDragDelta.Y),
                  std::max(FMouseDownPt.X, FMouseDownPt.X + FDragDelta.X),
                  std::max(FMouseDownPt.Y, FMouseDownPt.Y + FDragDelta.Y)};
    XorOverlay().ToggleFrame(r, FHandleColor);
  }
  FInsertOutlineShown = !FInsertOutlineShown;
}

void TdtpDocument::EndInsert(bool Place) {
  if (FInsertOutlineShown) ToggleInsertOutline();
  std::unique_ptr<TdtpShape> s = std::move(FInsertShape);
  SetDragState(0);
  if (!s) return;
  TdtpPage* page = CurrentPage();
  if (!Place || !page) {
    ShapeInsertClosed(nullptr);
    ShapeDestroyed(s.get());
    return;
  }
  // The press point and the drag in page millimetres; a press without a drag takes the
  // shape's default size.
  const raster::TdtpFloatPoint at = page->DocToLocal(FMouseDownMm);
  if (FDragDelta.X == 0 && FDragDelta.Y == 0) {
    TdtpFloatPoint size{10, 10};
    s->GetDefaultSize(size);
    s->SetDocBounds(at.X, at.Y, size.X, size.Y);
  } else {
    // The rectangle as dragged, not normalised: a line keeps its first point at the press.
    s->SetBoundsFromRect({at.X, at.Y, at.X + float(FDragDelta.X) / FScreenDpm, at.Y + float(FDragDelta.Y) / FScreenDpm});
  }
  TdtpShape* raw = s.get();
  const TUndoMark beforePlacing = UndoMark();
  const bool modifiedBefore = FModified;
  page->AddShape(std::move(s));
  ShapeInsertClosed(raw);
  raw->Refresh();
  BeginUpdate();
  try {
    ClearSelection();
    raw->SetSelected(true);
    SetFocusShape(raw);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
  FInsertUndoMark = beforePlacing;
  FInsertDocModified = modifiedBefore;
  FInsertedShape = raw;
  EditShape(raw);
}

raster::TdtpFloatPoint TdtpDocument::DragPoint(const TPoint& P, bool Alt) const {
  raster::TdtpFloatPoint mm = ScreenToDoc(P);
  if (FSnapToGrid != Alt && FDefaultGridSize > 0) {
    mm.X = float(platform::Round((long double)(mm.X / FDefaultGridSize))) * FDefaultGridSize;
    mm.Y = float(platform::Round((long double)(mm.Y / FDefaultGridSize))) * FDefaultGridSize;
  }
  return mm;
}

// --- drag outlines and rubber band -------------------------------------------------------

void TdtpDocument::ToggleDragOutlines() {
  if (FDragLinesShown) {
    for (const TRect& r : FDragLines) XorOverlay().ToggleLine(r.Left, r.Top, r.Right, r.Bottom, FHandleColor, true);
    FDragLines.clear();
    FDragLinesShown = false;
    return;
  }
  TdtpPage* page = CurrentPage();
  if (!page) return;
  FDragLinesShown = true;
  const bool free = IsKeyDown(VK_SHIFT);
  for (int32_t i = 0; i < page->GetShapeCount(); ++i) {
    TdtpShape* s = page->GetShape(i);
    if (!s->Selected()) continue;
    s->CreateHandles();
    TdtpMatrix m;
    // Only the hot shape follows its handle; the others move with the body.
    const uint8_t code = (s == FHotShape) ? FHotCode : 1;
    s->DragHandleBy(FDragDelta, free, m, code);
    for (const TdtpHandleEdge& e : s->HandleEdges) {
      if (e.A < 0 || e.B < 0 || e.A >= s->HandleCount() || e.B >= s->HandleCount()) continue;
      raster::TdtpFloatPoint a, b;
      s->LocalToScreen({s->Handles[size_t(e.A)].DragX, s->Handles[size_t(e.A)].DragY}, a);
      s->LocalToScreen({s->Handles[size_t(e.B)].DragX, s->Handles[size_t(e.B)].DragY}, b);
      // Drawn in the handle colour: the edge colour (black by default) would change no pixel.
      FDragLines.push_back({RoundI(a.X), RoundI(a.Y), RoundI(b.X), RoundI(b.Y)});
      XorOverlay().ToggleLine(RoundI(a.X), RoundI(a.Y), RoundI(b.X), RoundI(b.Y), FHandleColor, true);
    }
  }
}

void TdtpDocument::ShowDragOutlines(const TPoint& Delta) {
  if (FOutlineShown && Delta == FDragDelta) return;
  if (FOutlineShown) ToggleDragOutlines();
  else FAltLatch = IsKeyDown(VK_MENU);
  FDragDelta = Delta;
  ToggleDragOutlines();
  FOutlineShown = true;
}

void TdtpDocument::EndMove(bool Apply) {
  if (FOutlineShown) {
    ToggleDragOutlines();
    FOutlineShown = false;
  }
  if (FDragState == 1) FDragState = 0;
  TdtpPage* page = CurrentPage();
  if (Apply && page) {
    // The geometry is computed once more at the final delta, then committed as one step.
    BeginUndo();
    try {
      const bool free = IsKeyDown(VK_SHIFT);
      for (int32_t i = 0; i < page->GetShapeCount(); ++i) {
        TdtpShape* s = page->GetShape(i);
        if (!s->Selected()) continue;
        s->CreateHandles();
        TdtpMatrix m;
        s->DragHandleBy(FDragDelta, free, m, s == FHotShape ? FHotCode : 1);
        s->ApplyDragBounds();
      }
    } catch (...) {
      EndUndo();
      throw;
    }
    EndUndo();
  }
  FHotCode = 0;
  FHotShape = nullptr;
}

void TdtpDocument::ToggleRubberBand() {
  const TRect r{std::min(FMouseDownPt.X, FMouseDownPt.X + FDragDelta.X),
                std::min(FMouseDownPt.Y, FMouseDownPt.Y + FDragDelta.Y),
                std::max(FMouseDownPt.X, FMouseDownPt.X + FDragDelta.X),
                std::max(FMouseDownPt.Y, FMouseDownPt.Y + FDragDelta.Y)};
  XorOverlay().ToggleFrame(r, FHandleColor, true);
  FBandShown = !FBandShown;
}

void TdtpDocument::FinishRubberBand() {
  ClearSelection();
  if (FBandShown) ToggleRubberBand();
  FDragState = 0;
  TdtpPage* page = CurrentPage();
  if (!page || FDragDelta.X == 0 || FDragDelta.Y == 0) return;
  const TRect r{std::min(FMouseDownPt.X, FMouseDownPt.X + FDragDelta.X),
                std::min(FMouseDownPt.Y, FMouseDownPt.Y + FDragDelta.Y),
                std::max(FMouseDownPt.X, FMouseDownPt.X + FDragDelta.X),
                std::max(FMouseDownPt.Y, FMouseDownPt.Y + FDragDelta.Y)};
  BeginUpdate();
  try {
    TdtpShape* first = nullptr;
    for (int32_t i = 0; i < page->GetShapeCount(); ++i) {
      TdtpShape* s = page->GetShape(i);
      const bool in = s->IntersectsRect(r);
      s->SetSelected(in);
      if (in && s->Selected() && !first) first = s;
    }
    if (first) SetFocusShape(first);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

// --- mouse -------------------------------------------------------------------------------

void TdtpDocument::CancelButtonDrag() {
  if (FDragState == 4) SetDragState(3);  // the insertion stays armed
  else if (FDragState == 1 || FDragState == 2) SetDragState(0);
  FHotCode = 0;
  FHotShape = nullptr;
}

void TdtpDocument::MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
  // A left press during a move or band means its release was lost as well.
  if (FDragState == 1 || FDragState == 2 || (Button != mbLeft && FDragState == 4)) CancelButtonDrag();
  // Any press takes the keyboard, not only a double click: Escape, Delete and typing must
  // reach the drawing the user works on, not the control that had the focus before.
  if (!Focused() && CanFocus()) SetFocus();
  TVirtScrollBox::MouseDown(Button, Shift, X, Y);
  if (FDragState == 5) {
    if (FEditedShape) {
      if (Button == mbLeft && (Shift & ssDouble))
        FEditedShape->DblClickHook();
      else
        FEditedShape->MouseDownHook(Button, Shift, X, Y);
    }
    return;
  }
  if (Button != mbLeft || FDragState == 4) return;
  const TPoint p{X, Y};
  if (FDragState == 3) {
    FMouseDownPt = p;
    FDragDelta = {0, 0};
    FDragDeltaMm = {0, 0};
    FMouseDownMm = ScreenToDoc(p);
    if (FInsertKind == 0) {
      EndInsert(true);
      // The placing press is the new shape's first press: a freehand shape draws from it.
      if (FDragState == 5 && FEditedShape) FEditedShape->MouseDownHook(Button, Shift, X, Y);
    } else {
      SetDragState(4);
      ToggleInsertOutline();
    }
    return;
  }
  if (Shift & ssDouble) {
    // Editing a shape's content changes the document: only in edit mode.
    if (FMode != vmEdit || FReadOnly) return;
    TdtpShape* s = nullptr;
    HitTest(p, s);
    if (s) EditShape(s);
    return;
  }
  FMouseDownPt = p;
  FDragDelta = {0, 0};
  FDragDeltaMm = {0, 0};
  FMouseDownMm = ScreenToDoc(p);
  if (FMode != vmEdit) return;
  if ((Shift & ssCtrl) && FMultiSelectMethod == msmCtrl) {
    FDragState = 2;
    ToggleRubberBand();
    return;
  }
  TdtpShape* s = nullptr;
  const uint8_t code = HitTest(p, s);
  FHotShape = s;
  FHotCode = code;
  if (s) {
    if (!(Shift & ssShift)) {
      if (!(code == 1 && s->Selected())) {
        BeginUpdate();
        try {
          ClearSelection();
          SetFocusShape(s);
          s->SetSelected(true);
        } catch (...) {
          EndUpdate();
          throw;
        }
        EndUpdate();
      }
    } else {
      ToggleSelection(s);
    }
  }
  switch (code) {
    case 1: SetViewCursor(Cursor()); break;
    case 10: SetViewCursor(crRotation); break;
    case 11: SetViewCursor(crSizeAll); break;
    case 0:
      if (FMultiSelectMethod == msmSimple) {
        FDragState = 2;
        ToggleRubberBand();
      } else {
        ClearSelection();
      }
      SetViewCursor(Cursor());
      break;
    default: SetViewCursor(HandleCursor(s, code)); break;
  }
}

void TdtpDocument::MouseMove(TShiftState Shift, int32_t X, int32_t Y) {
  TVirtScrollBox::MouseMove(Shift, X, Y);
  // A value loaded from a document arrives without its timer.
  if ((FHotZoneScrolling != hzsNoScroll) != bool(FHotZoneTimer)) SetHotZoneScrolling(FHotZoneScrolling);
  if (FHotZoneScrolling != hzsNoScroll && !FHotZoneActive) HotZoneStepAt({X, Y}, GetTickCount());
  if (FDragState == 5) {
    if (FEditedShape) FEditedShape->MouseMoveHook(Shift, X, Y);
    return;
  }
  if (!(Shift & ssLeft) && (FDragState == 1 || FDragState == 2 || FDragState == 4)) CancelButtonDrag();
  if (FDragState == 3 && !(Shift & ssLeft)) {
    if (FInsertShape) SetViewCursor(FInsertShape->Cursor());
    return;
  }
  const TPoint p{X, Y};
  if (Shift & ssLeft) {
    const bool onShape = FHotCode >= 1 && FHotCode <= 10;
    const bool alt = FOutlineShown ? FAltLatch : IsKeyDown(VK_MENU);
    raster::TdtpFloatPoint mm = onShape ? DragPoint(p, alt) : ScreenToDoc(p);
    TPoint pp = p;
    if (onShape && FSnapToGrid != alt) {
      // The snapped point back in pixels, so outlines and geometry agree.
      const raster::TdtpFloatPoint s = DocToScreen(mm);
      pp = {RoundI(s.X), RoundI(s.Y)};
    }
    FDragDeltaMm = {mm.X - FMouseDownMm.X, mm.Y - FMouseDownMm.Y};
    const TPoint delta{pp.X - FMouseDownPt.X, pp.Y - FMouseDownPt.Y};
    if (FDragState == 2) {
      if (FBandShown) ToggleRubberBand();
      FDragDelta = delta;
      ToggleRubberBand();
      return;
    }
    if (FDragState == 4) {
      if (FInsertOutlineShown) ToggleInsertOutline();
      FDragDelta = delta;
      ToggleInsertOutline();
      return;
    }
    if (FDragState == 0 && FHotShape && FHotCode != 0 && FMode == vmEdit) {
      if (int64_t(delta.X) * delta.X + int64_t(delta.Y) * delta.Y > 10) {
        FDragState = 1;
        if (FHotCode == 1) SetViewCursor(crSizeAll);
        else SetFocusShape(FHotShape);
        FOutlineShown = false;
        FDragDelta = {0, 0};
      }
    }
    if (FDragState == 1 && FHotCode == 1 && (X < 0 || X > Width() || Y < 0 || Y > Height())) {
      // Leaving the view turns the move into the platform's drag and drop.
      EndMove(false);
      BeginDrag(true);
      return;
    }
    if (FDragState == 1) {
      if (FHotCode == 1) SetViewCursor(IsKeyDown(VK_CONTROL) ? crSizeCopy : crSizeAll);
      ShowDragOutlines(delta);
    }
    return;
  }
  TdtpShape* s = nullptr;
  const uint8_t code = HitTest(p, s);
  switch (code) {
    case 1: SetViewCursor(crHandPoint); break;
    case 10: SetViewCursor(crRotation); break;
    case 11: SetViewCursor(crSizeAll); break;
    case 0: SetViewCursor(Cursor()); break;
    default: SetViewCursor(HandleCursor(s, code)); break;
  }
  if (code == 1 && s) {
    if (s != FHintShape) StartShapeHint(p, s, FHintShape ? FHintShortPause : FHintPause);
  } else if (!s) {
    FHintShape = nullptr;
    StopShapeHint();
  }
}

void TdtpDocument::MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
  if (FDragState == 5) {
    TVirtScrollBox::MouseUp(Button, Shift, X, Y);
    if (FEditedShape) FEditedShape->MouseUpHook(Button, Shift, X, Y);
    return;
  }
  if (Button == mbLeft) {
    if (FDragState == 4) {
      // A click without movement leaves the insertion under way.
      if (FDragDelta.X != 0 || FDragDelta.Y != 0) EndInsert(true);
    } else if (FDragState == 2) {
      FinishRubberBand();
    } else if (FDragState == 1) {
      if (FHotCode == 1 && IsKeyDown(VK_CONTROL)) {
        // Ctrl+drag duplicates: the originals stay, the copies land at the drag delta.
        const raster::TdtpFloatPoint d = FDragDeltaMm;
        EndMove(false);
        BeginUndo();
        try {
          const std::string xml = SelectionToXml();
          ClearSelection();
          XmlToSelection(xml);
          for (int32_t i = 0; i < SelectionCount(); ++i) {
            TdtpShape* s = SelectedShape(i);
            s->SetDocBounds(s->DocLeft() + d.X, s->DocTop() + d.Y, s->DocWidth(), s->DocHeight());
          }
        } catch (...) {
          EndUndo();
          throw;
        }
        EndUndo();
      } else {
        EndMove(true);
      }
      if (FFocusShape) ShapeChanged(FFocusShape);
    } else {
      FHotCode = 0;
      FHotShape = nullptr;
    }
  }
  TVirtScrollBox::MouseUp(Button, Shift, X, Y);
}

void TdtpDocument::DblClick() { TVirtScrollBox::DblClick(); }

// --- keyboard ----------------------------------------------------------------------------

bool TdtpDocument::WantSpecialKey(Word, TShiftState) { return true; }

void TdtpDocument::KeyDown(Word& Key, TShiftState Shift) {
  if (FAllowKeyInput) {
    if (FDragState == 5) {
      if (FEditedShape) FEditedShape->KeyDownHook(Key, Shift);
      return;
    }
    switch (Key) {
      case 27: SetDragState(0); break;
      case 46:
        if (FMode == vmEdit && !FReadOnly) DeleteSelection();
        break;
      case 113:
        if (FMode == vmEdit && !FReadOnly && HasSelection()) EditShape(SelectedShape(0));
        break;
      case 116:
        if (TdtpPage* page = CurrentPage()) page->RefreshAll();
        break;
      default: break;
    }
  }
  TVirtScrollBox::KeyDown(Key, Shift);
}

void TdtpDocument::KeyUp(Word& Key, TShiftState Shift) {
  if (FAllowKeyInput && FDragState == 5) {
    if (FEditedShape) FEditedShape->KeyUpHook(Key, Shift);
    return;
  }
  TVirtScrollBox::KeyUp(Key, Shift);
}

void TdtpDocument::KeyPress(TKeyChar& Key) {
  if (FAllowKeyInput) {
    if (FDragState == 5) {
      if (FEditedShape) FEditedShape->KeyPressHook(Key);
      return;
    }
    switch (Key) {
      case 3: CopyToClipboard(); Key = 0; return;
      // Pasting and cutting change the document: only in edit mode, never when read-only.
      case 22: if (FMode == vmEdit && !FReadOnly) PasteFromClipboard(); Key = 0; return;
      case 24: if (FMode == vmEdit && !FReadOnly) CutToClipboard(); Key = 0; return;
      default: break;
    }
  }
  TVirtScrollBox::KeyPress(Key);
}

// --- clipboard ---------------------------------------------------------------------------

std::string TdtpDocument::SelectionToXml() {
  if (!HasSelection()) return "";
  TXmlDocument xml("Selection");
  xml.SetWriteOnDefault(0);
  xml.SetXmlFormat(0);
  for (int32_t i = 0; i < SelectionCount(); ++i) SelectedShape(i)->SaveToXml(xml.Root()->NodeNew("Shape"));
  return xml.WriteToString();
}

int32_t TdtpDocument::XmlToSelection(const std::string& Text) {
  TdtpPage* page = CurrentPage();
  if (!page) return 0;
  TXmlDocument xml;
  try {
    xml.ReadFromString(Text);
  } catch (const Exception&) {
    return 0;  // text that is not XML is not a selection: nothing to paste
  }
  TXmlNode* root = xml.Root();
  if (!root || root->Name() != "Selection" || root->GetNodeCount() == 0) return 0;
  // Every shape is built before the page changes, so a bad shape leaves the page as it was.
  std::vector<std::unique_ptr<TdtpShape>> made;
  for (const auto& node : root->Nodes()) {
    if (node->Name() != "Shape") continue;
    made.push_back(CreateFromXml(FindShapeClass(node->ReadString("ClassName")), node.get(), this));
  }
  if (made.empty()) return 0;
  BeginUpdate();
  try {
    ClearSelection();
    for (auto& s : made) {
      TdtpShape* raw = s.get();
      page->AddShape(std::move(s));
      raw->SetSelected(true);
    }
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
  return int32_t(made.size());
}

void TdtpDocument::CopyToClipboard() {
  CheckNotBusy();
  if (!HasSelection()) return;
  BeginUndo();
  try {
    const std::string text = SelectionToXml();
    if (FUseSystemClipboard) Clipboard()->SetAsText(text);
    else FClipboardText = text;
    FCopiedFrom = CurrentPage();
  } catch (...) {
    EndUndo();
    throw;
  }
  EndUndo();
}

void TdtpDocument::CutToClipboard() {
  CheckNotBusy();
  BeginUndo();
  try {
    CopyToClipboard();
    DeleteSelection();
  } catch (...) {
    EndUndo();
    throw;
  }
  EndUndo();
}

void TdtpDocument::DeleteSelection() {
  CheckNotBusy();
  TdtpPage* page = CurrentPage();
  if (!page) return;
  BeginUpdate();
  try {
    for (int32_t i = page->GetShapeCount() - 1; i >= 0; --i)
      if (page->GetShape(i)->Selected()) page->DeleteShape(i);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TdtpDocument::PasteFromClipboard() {
  CheckNotBusy();
  BeginUndo();
  try {
    const std::string text = FUseSystemClipboard ? Clipboard()->AsText() : FClipboardText;
    const int32_t n = XmlToSelection(text);
    if (n > 0 && CurrentPage() == FCopiedFrom) {
      for (int32_t i = 0; i < SelectionCount(); ++i) {
        TdtpShape* s = SelectedShape(i);
        const TdtpFloatPoint off = s->PasteOffset();
        // Through the bounds, so that the copy's new place is repainted.
        s->SetDocBounds(s->DocLeft() + off.X, s->DocTop() + off.Y, s->DocWidth(), s->DocHeight());
      }
    }
    if (n > 0) {
      FCopiedFrom = CurrentPage();
      CopyToClipboard();
    }
  } catch (...) {
    EndUndo();
    throw;
  }
  EndUndo();
}

bool TdtpDocument::CanPaste() {
  if (FUseSystemClipboard) return Clipboard()->AsText().compare(0, 5, "<?xml") == 0;
  return !FClipboardText.empty();
}

// --- undo --------------------------------------------------------------------------------

bool TdtpDocument::Undo(TdtpCommand* Command) {
  if (!Command || Command->Target == 0) return false;
  // Replaying must not record itself as a new step.
  LockUndo();
  ++FReplaying;
  bool done = false;
  try {
    if (TdtpPage* page = CurrentPage())
      for (int32_t i = 0; i < page->GetShapeCount() && !done; ++i) done = page->GetShape(i)->ExecuteCommand(Command);
    for (size_t i = 0; i < FPages.size() && !done; ++i) done = FPages[i]->ExecuteCommand(Command);
  } catch (...) {
    if (--FReplaying == 0) FTrimmedWhileReplaying.clear();
    UnlockUndo();
    throw;
  }
  if (--FReplaying == 0) FTrimmedWhileReplaying.clear();
  UnlockUndo();
  if (!done) ShowMessage("Unable to execute UNDO");
  return done;
}

// --- popup menu ------------------------------------------------------------------------

TPopupMenu* TdtpDocument::GetPopupMenu() {
  if (FDragState == 5) {
    if (FEditedShape)
      if (TPopupMenu* own = FEditedShape->GetEditPopupMenu()) return own;
    if (!FEditMenu) {
      FEditMenu = std::make_unique<TPopupMenu>(nullptr);
      // The items type the clipboard keys into the edited shape.
      const std::pair<const char*, TKeyChar> items[] = {{"Cut", 24}, {"Copy", 3}, {"Paste", 22}};
      const Word keys[] = {'X', 'C', 'V'};
      for (int i = 0; i < 3; ++i) {
        auto* item = new TMenuItem(FEditMenu.get());
        item->SetCaption(items[i].first);
        item->SetShortCut(ShortCut(keys[i], ssCtrl));
        const TKeyChar key = items[i].second;
        item->OnClick = [this, key](TObject*) {
          if (FDragState != 5 || !FEditedShape) return;
          TKeyChar k = key;
          FEditedShape->KeyPressHook(k);
        };
        FEditMenu->Items()->Add(item);
      }
    }
    return FEditMenu.get();
  }
  if (FFocusShape && FFocusShape->PopupMenu()) return FFocusShape->PopupMenu();
  return TVirtScrollBox::GetPopupMenu();
}

// --- hot-zone scrolling --------------------------------------------------------------------

void TdtpDocument::SetHotZoneScrolling(TdtpHZScrollingType V) {
  FHotZoneScrolling = V;
  if (V == hzsNoScroll) {
    FHotZoneTimer.reset();
    FHotZoneActive = false;
    return;
  }
  if (!FHotZoneTimer) {
    FHotZoneTimer = std::make_unique<TTimer>(nullptr);
    FHotZoneTimer->SetInterval(50);
    FHotZoneTimer->OnTimer = [this](TObject*) {
      if (FHotZoneActive) HotZoneStep();
    };
    FHotZoneTimer->SetEnabled(true);
  }
}

void TdtpDocument::HotZoneStep() { HotZoneStepAt(ScreenToClient(GetCursorPos()), GetTickCount()); }

TPoint TdtpDocument::HotZoneStepAt(const TPoint& P, uint32_t Now) {
  if (FDragState == 4 || FDragState == 5) return {0, 0};
  const int32_t dt = std::max(std::min(int32_t(Now - FHotZoneTick), 200), 1);
  FHotZoneTick = Now;
  const double dxm = P.X - FHotZoneLast.X, dym = P.Y - FHotZoneLast.Y;
  const double speed = std::sqrt(dxm * dxm + dym * dym) / dt * 1000;
  FHotZoneLast = P;
  if (!FHotZoneActive && speed > 30) return {0, 0};
  const double cw = ClientWidth(), ch = ClientHeight();
  if (P.X < 0 || P.Y < 0 || P.X >= cw || P.Y >= ch) {
    FHotZoneActive = false;
    return {0, 0};
  }
  double fx = 0, fy = 0;
  if (P.X < 0.07 * cw) fx = P.X / (0.07 * cw) - 1;
  else if (cw - P.X < 0.07 * cw) fx = 1 - (cw - P.X) / (0.07 * Width());
  if (P.Y < 0.07 * ch) fy = P.Y / (0.07 * ch) - 1;
  else if (ch - P.Y < 0.07 * ch) fy = 1 - (ch - P.Y) / (0.07 * Height());
  if (fx == 0 && fy == 0) {
    FHotZoneActive = false;
    return {0, 0};
  }
  FHotZoneRamp = FHotZoneActive ? FHotZoneRamp + dt : 10;
  const double limit = FHotZoneRamp / 700.0;
  auto shape = [&](double f) {
    const double q = std::min(f * f, limit);
    return f < 0 ? -q : q;
  };
  fx = shape(fx);
  fy = shape(fy);
  int32_t dx = RoundI(dt * fx * 2.0), dy = RoundI(dt * fy * 2.0);
  const TPoint asked{dx, dy};
  if (FOutlineShown) {
    ToggleDragOutlines();
    ScrollBy(dx, dy);
    Repaint();
    if (FDragState == 1) {
      FMouseDownPt.X -= dx;
      FMouseDownPt.Y -= dy;
    }
    ToggleDragOutlines();
  } else if (FHotZoneScrolling == hzsAlways) {
    ScrollBy(dx, dy);
  }
  FHotZoneActive = true;
  return asked;
}

// --- painting ----------------------------------------------------------------------------

void TdtpDocument::PaintSelection(TCanvas* Canvas) {
  TdtpPage* page = CurrentPage();
  if (!Canvas || !page || FReadOnly || FOutputRendering) return;
  for (int32_t i = 0; i < page->GetShapeCount(); ++i) {
    TdtpShape* s = page->GetShape(i);
    if (s->Selected() && s->CanSelect()) s->PaintOutline(Canvas);
  }
  // The shape being edited shows its editing state (a caret, for text) even when not selected.
  if (FDragState == 5 && FEditedShape && !(FEditedShape->Selected() && FEditedShape->CanSelect()))
    FEditedShape->PaintOutline(Canvas);
}

}  // namespace document

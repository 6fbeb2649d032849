// The document view driven by real mouse and key events sent to its window: picking strokes,
// drawing lines in every direction, read-only and browse documents, the drag outline, and
// caret keys of a memo at the start of its text.
#include <gtest/gtest.h>

#include <QImage>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <set>

#include "../common/TestSupport.h"
#include "../platform/GuiTestEvents.h"
#include "document/dtpDocument.h"
#include "document/dtpFreehandShape.h"
#include "document/dtpGroupShape.h"
#include "document/dtpLineShape.h"
#include "document/dtpMemoShape.h"
#include "document/dtpPolygonShape.h"
#include "document/dtpTextShape.h"
#include "platform/Clipboard.h"
#include "platform/Font.h"
#include "platform/KeyState.h"
#include "tools/DocumentFixtures.h"

using namespace document;
using kdfixture::TdtpFixtureRect;
using platform::TPoint;

namespace {

class TInputDoc : public TdtpComponent {
 public:
  TInputDoc() : TdtpComponent(nullptr) {}
  using TWinControl::ClientOffset;
};

// The events go to the window, whose client area starts inside its border.
TPoint Win(const TInputDoc* D, TPoint P) { return {P.X + D->ClientOffset().X, P.Y + D->ClientOffset().Y}; }
void Press(const TInputDoc* D, TPoint P, Qt::KeyboardModifiers Mods = Qt::NoModifier) {
  const TPoint w = Win(D, P);
  guitest::Press(D, w.X, w.Y, Qt::LeftButton, Mods);
}
void Release(const TInputDoc* D, TPoint P, Qt::KeyboardModifiers Mods = Qt::NoModifier) {
  const TPoint w = Win(D, P);
  guitest::Release(D, w.X, w.Y, Qt::LeftButton, Mods);
}
void MoveHeld(const TInputDoc* D, TPoint P) {
  const TPoint w = Win(D, P);
  guitest::Move(D, w.X, w.Y, Qt::LeftButton);
}

class InputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kdfixture::InitializeFixtures();
    InitializeDtpEffectShape();
    InitializeDtpPolygonShape();
    InitializeDtpLineShape();
    InitializeDtpFreehandShape();
    InitializeDtpTextShape();
    InitializeDtpMemoShape();
    platform::KeyStateReset();
    doc = std::make_unique<TInputDoc>();
    doc->SetBounds(0, 0, 800, 600);
    doc->HandleNeeded();
    doc->SetViewStyle(vsNormal);
    doc->SetScreenDpm(4);  // 4 pixels per millimetre, origin at the page's corner
    doc->SetOriginX(0);
    doc->SetOriginY(0);
    doc->SetUseSystemClipboard(false);
  }
  void TearDown() override { platform::KeyStateReset(); }

  TdtpShape* AddRect(float L, float T, float W, float H, platform::TColor C = 0x0000FF) {
    auto s = NewShape<TdtpFixtureRect>();
    s->SetDocBounds(L, T, W, H);
    s->SetColor(C);
    s->SetSmartHitTest(false);
    TdtpShape* raw = s.get();
    doc->CurrentPage()->AddShape(std::move(s));
    return raw;
  }
  void Click(TPoint P, Qt::KeyboardModifiers Mods = Qt::NoModifier) {
    Press(doc.get(), P, Mods);
    Release(doc.get(), P, Mods);
  }
  // A press, moves in steps of at most 8 pixels, and a release.
  void Drag(TPoint From, TPoint To) {
    Press(doc.get(), From);
    const int steps = std::max(1, std::max(std::abs(To.X - From.X), std::abs(To.Y - From.Y)) / 8);
    for (int i = 1; i <= steps; ++i)
      MoveHeld(doc.get(), {From.X + (To.X - From.X) * i / steps, From.Y + (To.Y - From.Y) * i / steps});
    Release(doc.get(), To);
  }
  // Draws a freehand stroke through the given screen points and ends its edit.
  // A text-like shape holding "abc" at (20, 60) mm on the current page, hit by its box.
  template <class T>
  T* AddTextShape() {
    auto t = NewShape<T>();
    t->SetSmartHitTest(false);
    t->SetText("abc");
    t->SetDocPosition(20, 60);
    T* raw = t.get();
    doc->CurrentPage()->AddShape(std::move(t));
    return raw;
  }

  TdtpFreehandShape* DrawStroke(const std::vector<TPoint>& Pts) {
    auto f = NewShape<TdtpFreehandShape>();
    TdtpFreehandShape* raw = f.get();
    doc->BeginInsert(std::move(f), 0);
    Press(doc.get(), Pts[0]);
    for (size_t i = 1; i < Pts.size(); ++i) MoveHeld(doc.get(), Pts[i]);
    Release(doc.get(), Pts.back());
    if (doc->DragState() == 5) guitest::Key(doc.get(), Qt::Key_Return);
    return raw;
  }
  // The client area as the window shows it.
  QImage Grab() {
    const TPoint o = doc->ClientOffset();
    return guitest::W(doc.get())
        ->grab(QRect(o.X, o.Y, doc->ClientWidth(), doc->ClientHeight()))
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
  }
  static int Differing(const QImage& A, const QImage& B, const QRect& R) {
    int n = 0;
    for (int y = std::max(0, R.top()); y <= std::min(A.height() - 1, R.bottom()); ++y)
      for (int x = std::max(0, R.left()); x <= std::min(A.width() - 1, R.right()); ++x)
        if (A.pixel(x, y) != B.pixel(x, y)) ++n;
    return n;
  }
  std::unique_ptr<TInputDoc> doc;
};

// --- open strokes are picked by their distance ---------------------------------------------

TEST_F(InputTest, StraightAndCollinearStrokesArePickedNearTheirLine) {
  struct TCase {
    std::vector<TPoint> Pts;
    TPoint On, Near, Off;
  };
  // Horizontal, vertical, both diagonals (two points each), and three collinear points.
  const TCase cases[] = {
      {{{100, 200}, {300, 200}}, {200, 200}, {200, 204}, {200, 212}},
      {{{300, 200}, {100, 200}}, {150, 200}, {150, 196}, {150, 188}},
      {{{400, 100}, {400, 300}}, {400, 150}, {404, 150}, {412, 150}},
      {{{400, 300}, {400, 100}}, {400, 250}, {396, 250}, {388, 250}},
      {{{100, 100}, {300, 300}}, {200, 200}, {202, 198}, {210, 190}},
      {{{300, 100}, {100, 300}}, {200, 200}, {198, 198}, {190, 190}},
      {{{100, 100}, {200, 150}, {300, 200}}, {250, 175}, {250, 179}, {250, 187}},
  };
  int n = 0;
  for (const TCase& c : cases) {
    SCOPED_TRACE(n++);
    doc->CurrentPage()->ClearShapes();
    TdtpFreehandShape* f = DrawStroke(c.Pts);
    ASSERT_EQ(doc->CurrentPage()->IndexOfShape(f), 0);
    ASSERT_FALSE(f->Points().empty());
    doc->ClearSelection();
    // Within half the pen width plus a few pixels the stroke is picked; farther, not.
    TdtpShape* s = nullptr;
    EXPECT_EQ(doc->HitTest(c.Off, s), 0);
    Click(c.On);
    EXPECT_TRUE(f->Selected());
    doc->ClearSelection();
    Click(c.Near);
    EXPECT_TRUE(f->Selected());
    doc->ClearSelection();
    Click(c.Off);
    EXPECT_FALSE(f->Selected());
  }
}

TEST_F(InputTest, WideOpenStrokeReachesHalfItsWidth) {
  TdtpFreehandShape* f = DrawStroke({{100, 200}, {300, 200}});
  f->SetOutlineWidth(5);  // 20 pixels wide: 10 on each side
  doc->ClearSelection();
  TdtpShape* s = nullptr;
  EXPECT_EQ(doc->HitTest({200, 211}, s), 1);
  EXPECT_EQ(doc->HitTest({200, 188}, s), 1);
  EXPECT_EQ(doc->HitTest({200, 216}, s), 0);
  // Past the ends, too, only as far as the reach.
  EXPECT_EQ(doc->HitTest({308, 200}, s), 1);
  EXPECT_EQ(doc->HitTest({316, 200}, s), 0);
  // Without a stroke only the handle tolerance is left.
  f->SetUseOutline(false);
  EXPECT_EQ(doc->HitTest({200, 202}, s), 1);
  EXPECT_EQ(doc->HitTest({200, 206}, s), 0);
}

// An open stroke bent into a C does not pick its empty inside; closed shapes still do.
TEST_F(InputTest, OpenStrokeIsNotPickedInsideItsHull) {
  TdtpFreehandShape* f = DrawStroke({{300, 100}, {100, 100}, {100, 300}, {300, 300}});
  doc->ClearSelection();
  TdtpShape* s = nullptr;
  EXPECT_EQ(doc->HitTest({200, 200}, s), 0);
  EXPECT_EQ(doc->HitTest({100, 200}, s), 1);
  f->SetIsClosed(true);
  EXPECT_EQ(doc->HitTest({200, 200}, s), 1);
}

// A flipped three-cornered shape and a mirrored quarter circle are picked where they show.
TEST_F(InputTest, FlippedAndMirroredShapesArePickedWhereTheyShow) {
  for (const bool flip : {true, false}) {
    SCOPED_TRACE(flip);
    doc->CurrentPage()->ClearShapes();
    doc->CurrentPage()->AddShape(CreateShape(FindShapeClass(flip ? "TdtpDrieHShape" : "TdtpKcirkel2ShapeB")));
    TdtpShape* s = doc->CurrentPage()->GetShape(0);
    s->SetDocBounds(40, 40, 40, 30);
    ASSERT_FALSE(s->SmartHitTest());
    flip ? s->SetFlipped(true) : s->SetMirrored(true);
    // At 4 pixels per millimetre the drawing covers the first point and leaves the second blank.
    const TPoint drawn{43 * 4, (flip ? 42 : 43) * 4}, blank = flip ? TPoint{43 * 4, 68 * 4} : TPoint{77 * 4, 43 * 4};
    const QImage shown = Grab();
    EXPECT_EQ(shown.pixel(drawn.X, drawn.Y) & 0xFFFFFF, 0x0000FFu);
    EXPECT_EQ(shown.pixel(blank.X, blank.Y) & 0xFFFFFF, 0xFFFFFFu);
    Click(drawn);
    EXPECT_TRUE(s->Selected());
    Click(blank);
    EXPECT_FALSE(s->Selected());
  }
}

// --- lines drawn in every direction ------------------------------------------------------

TEST_F(InputTest, LineDrawnInEveryDirectionKeepsItsEnds) {
  // (25, 75) to (75, 25) mm and the other three directions.
  const std::pair<TPoint, TPoint> drags[] = {
      {{100, 300}, {300, 100}}, {{300, 100}, {100, 300}}, {{100, 100}, {300, 300}}, {{300, 300}, {100, 100}}};
  for (const auto& [from, to] : drags) {
    SCOPED_TRACE(std::to_string(from.X) + "," + std::to_string(from.Y));
    auto line = NewShape<TdtpLineShape>();
    TdtpLineShape* l = line.get();
    doc->BeginInsert(std::move(line), 1);
    Drag(from, to);
    ASSERT_EQ(l->ParentShape(), doc->CurrentPage());
    TdtpFloatPoint p0, p1;
    l->GetPoint(0, p0);
    l->GetPoint(1, p1);
    EXPECT_FLOAT_EQ(p0.X, from.X / 4.0f);
    EXPECT_FLOAT_EQ(p0.Y, from.Y / 4.0f);
    EXPECT_FLOAT_EQ(p1.X, to.X / 4.0f);
    EXPECT_FLOAT_EQ(p1.Y, to.Y / 4.0f);
    EXPECT_FLOAT_EQ(l->DocLeft(), 25);
    EXPECT_FLOAT_EQ(l->DocTop(), 25);
    EXPECT_FLOAT_EQ(l->DocWidth(), 50);
    EXPECT_FLOAT_EQ(l->DocHeight(), 50);
  }
}

// While a line is drawn its rubber band is the segment from the press to the mouse, in every
// direction, not the rectangle around it; other shapes show the rectangle.
TEST_F(InputTest, RubberBandOfALineIsItsSegment) {
  const std::pair<TPoint, TPoint> drags[] = {
      {{100, 300}, {300, 100}}, {{300, 100}, {100, 300}}, {{100, 100}, {300, 300}}, {{300, 300}, {100, 100}}};
  const auto box = [](TPoint P) { return QRect(P.X - 3, P.Y - 3, 7, 7); };
  for (int line = 1; line >= 0; --line) {
    for (const auto& [from, to] : drags) {
      SCOPED_TRACE(std::to_string(line) + " " + std::to_string(from.X) + "," + std::to_string(from.Y));
      std::unique_ptr<TdtpShape> made;
      if (line)
        made = NewShape<TdtpLineShape>();
      else
        made = NewShape<TdtpFixtureRect>();
      TdtpShape* s = made.get();
      const QImage before = Grab();
      doc->BeginInsert(std::move(made), 1);
      Press(doc.get(), from);
      MoveHeld(doc.get(), {(from.X + to.X) / 2 + 4, (from.Y + to.Y) / 2});
      MoveHeld(doc.get(), to);
      ASSERT_EQ(doc->DragState(), 4);
      const QImage during = Grab();
      // A quarter of the way along the segment, and on the other diagonal and the rectangle's
      // edges, which only the rectangle crosses.
      const TPoint onSegment{from.X + (to.X - from.X) / 4, from.Y + (to.Y - from.Y) / 4};
      const TPoint otherDiagonal{from.X + (to.X - from.X) / 4, to.Y + (from.Y - to.Y) / 4};
      const TPoint topEdge{200, std::min(from.Y, to.Y)}, leftEdge{std::min(from.X, to.X), 200};
      if (line) {
        EXPECT_GT(Differing(before, during, box(onSegment)), 0);
        EXPECT_EQ(Differing(before, during, box(otherDiagonal)), 0);
        EXPECT_EQ(Differing(before, during, box(topEdge)), 0);
        EXPECT_EQ(Differing(before, during, box(leftEdge)), 0);
      } else {
        EXPECT_GT(Differing(before, during, box(topEdge)), 0);
        EXPECT_GT(Differing(before, during, box(leftEdge)), 0);
      }
      Release(doc.get(), to);
      ASSERT_EQ(s->ParentShape(), doc->CurrentPage());
      EXPECT_EQ(doc->XorOverlay().Count(), 0);
      guitest::Key(doc.get(), Qt::Key_Escape);
      doc->ClearSelection();
      doc->CurrentPage()->ClearShapes();
    }
  }
}

// Other shapes still take the dragged rectangle in any direction.
TEST_F(InputTest, RectangleDrawnUpLeftTakesTheDraggedBox) {
  auto rect = NewShape<TdtpFixtureRect>();
  TdtpShape* r = rect.get();
  doc->BeginInsert(std::move(rect), 1);
  Drag({300, 300}, {100, 140});
  ASSERT_EQ(r->ParentShape(), doc->CurrentPage());
  EXPECT_FLOAT_EQ(r->DocLeft(), 25);
  EXPECT_FLOAT_EQ(r->DocTop(), 35);
  EXPECT_FLOAT_EQ(r->DocWidth(), 50);
  EXPECT_FLOAT_EQ(r->DocHeight(), 40);
}

// --- read-only and browse documents ------------------------------------------------------

TEST_F(InputTest, DocumentStoredReadOnlyOpensForBrowsing) {
  AddRect(20, 20, 40, 30);
  AddRect(100, 20, 20, 20);
  const std::string file = kdtest::TempDir() + "/input_readonly.hsf";
  doc->SetReadOnly(true);
  doc->SaveToFile(file);
  doc->SetReadOnly(false);
  doc->SetMode(vmEdit);
  for (int round = 0; round < 2; ++round) {  // loading twice gives the same result
    doc->LoadFromFile(file);
    doc->SetViewStyle(vsNormal);
    doc->SetScreenDpm(4);
    doc->SetOriginX(0);
    doc->SetOriginY(0);
    ASSERT_TRUE(doc->ReadOnly());
    EXPECT_EQ(doc->Mode(), vmBrowse);
    ASSERT_EQ(doc->CurrentPage()->GetShapeCount(), 2);
    // A rubber band over both shapes selects nothing; a click selects nothing; Delete and
    // Ctrl+X remove nothing.
    Drag({20, 20}, {700, 400});
    EXPECT_EQ(doc->SelectionCount(), 0);
    guitest::Key(doc.get(), Qt::Key_Delete);
    guitest::Key(doc.get(), Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(doc->CurrentPage()->GetShapeCount(), 2);
    Click({100, 100});
    EXPECT_EQ(doc->SelectionCount(), 0);
    // The setter keeps refusing edit mode.
    doc->SetMode(vmEdit);
    EXPECT_EQ(doc->Mode(), vmBrowse);
  }
  // A document stored editable opens editable.
  doc->SetReadOnly(false);
  doc->SetMode(vmEdit);
  doc->SaveToFile(file);
  doc->LoadFromFile(file);
  EXPECT_FALSE(doc->ReadOnly());
  EXPECT_EQ(doc->Mode(), vmEdit);
}

TEST_F(InputTest, CtrlVPastesOnlyInAnEditableDocument) {
  AddRect(20, 20, 40, 30);
  Click({100, 100});
  ASSERT_EQ(doc->SelectionCount(), 1);
  guitest::Key(doc.get(), Qt::Key_C, Qt::ControlModifier);
  ASSERT_TRUE(doc->CanPaste());
  doc->SetMode(vmBrowse);
  guitest::Key(doc.get(), Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(doc->CurrentPage()->GetShapeCount(), 1);
  doc->SetMode(vmEdit);
  doc->SetReadOnly(true);
  guitest::Key(doc.get(), Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(doc->CurrentPage()->GetShapeCount(), 1);
  doc->SetReadOnly(false);
  doc->SetMode(vmEdit);
  guitest::Key(doc.get(), Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(doc->CurrentPage()->GetShapeCount(), 2);
}

// --- the drag outline shows with the default colours -----------------------------------------

TEST_F(InputTest, DragOutlineChangesPixelsWithDefaultColours) {
  ASSERT_EQ(doc->HandleEdgeColor(), 0);
  ASSERT_EQ(doc->HandleColor(), 0xFFFFFF);
  TdtpShape* a = AddRect(50, 50, 40, 30);  // screen (200, 200) to (360, 320)
  Click({280, 260});
  ASSERT_TRUE(a->Selected());
  struct TCase {
    TPoint Press, To;
    QRect Where;  // a part of the view where only the dragged outline can change pixels
  };
  const TCase cases[] = {
      {{280, 260}, {480, 460}, QRect(390, 390, 180, 140)},  // move down-right
      {{280, 260}, {120, 100}, QRect(20, 20, 180, 130)},    // move up-left
      {{360, 320}, {460, 420}, QRect(365, 325, 100, 100)},  // bottom-right corner outwards
      {{200, 200}, {120, 120}, QRect(110, 110, 85, 85)},    // top-left corner outwards
      {{360, 260}, {460, 260}, QRect(365, 195, 100, 130)},  // right edge
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.To.X) + "," + std::to_string(c.To.Y));
    const float l = a->DocLeft(), t = a->DocTop(), w = a->DocWidth(), h = a->DocHeight();
    Press(doc.get(), c.Press);
    const QImage before = Grab();
    MoveHeld(doc.get(), {(c.Press.X + c.To.X) / 2, (c.Press.Y + c.To.Y) / 2});
    MoveHeld(doc.get(), c.To);
    ASSERT_EQ(doc->DragState(), 1);
    const QImage during = Grab();
    EXPECT_GT(Differing(before, during, c.Where), 40);
    // Escape ends the drag without applying it and erases the outline.
    guitest::Key(doc.get(), Qt::Key_Escape);
    Release(doc.get(), c.To);
    EXPECT_EQ(doc->XorOverlay().Count(), 0);
    EXPECT_EQ(Differing(before, Grab(), c.Where), 0);
    EXPECT_FLOAT_EQ(a->DocLeft(), l);
    EXPECT_FLOAT_EQ(a->DocTop(), t);
    EXPECT_FLOAT_EQ(a->DocWidth(), w);
    EXPECT_FLOAT_EQ(a->DocHeight(), h);
    ASSERT_TRUE(a->Selected());
  }
}

// --- a rejected freehand edit leaves the modified state alone ---------------------------------

TEST_F(InputTest, EscapeAfterF2KeepsTheModifiedStateOfAnOpenedDocument) {
  const std::string file = kdtest::TempDir() + "/input_freehand_escape.hsf";
  TdtpFreehandShape* drawn = DrawStroke({{100, 200}, {200, 210}, {300, 200}});
  const ArrayOfArrayOfFPoint points = drawn->Points();
  ASSERT_FALSE(points.empty());
  doc->SaveToFile(file);
  for (int modifiedBefore : {0, 1}) {
    SCOPED_TRACE(modifiedBefore);
    doc->LoadFromFile(file);
    doc->SetViewStyle(vsNormal);
    doc->SetScreenDpm(4);
    doc->SetOriginX(0);
    doc->SetOriginY(0);
    TdtpPage* page = doc->CurrentPage();
    ASSERT_EQ(page->GetShapeCount(), 1);
    auto* f = dynamic_cast<TdtpFreehandShape*>(page->GetShape(0));
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(f->Points(), points);
    if (modifiedBefore) AddRect(150, 100, 10, 10);
    ASSERT_EQ(doc->Modified(), bool(modifiedBefore));
    ASSERT_EQ(page->Modified(), bool(modifiedBefore));
    Click({150, 205});
    ASSERT_TRUE(f->Selected());
    EXPECT_EQ(doc->Modified(), bool(modifiedBefore));
    // F2 and Escape alone, then with part of a stroke drawn (the button still held).
    for (int draw : {0, 1}) {
      SCOPED_TRACE(draw);
      guitest::Key(doc.get(), Qt::Key_F2);
      ASSERT_EQ(doc->EditedShape(), f);
      if (draw) {
        Press(doc.get(), {150, 300});
        MoveHeld(doc.get(), {200, 330});
        MoveHeld(doc.get(), {260, 360});
        ASSERT_TRUE(f->Drawing());
        EXPECT_NE(f->Points(), points);
      }
      guitest::Key(doc.get(), Qt::Key_Escape);
      if (draw) Release(doc.get(), {260, 360});
      EXPECT_EQ(doc->EditedShape(), nullptr);
      EXPECT_EQ(f->Points(), points);
      EXPECT_EQ(doc->Modified(), bool(modifiedBefore));
      EXPECT_EQ(page->Modified(), bool(modifiedBefore));
      EXPECT_FALSE(f->Modified());
    }
  }
  // An accepted stroke still modifies the document, and it is what a save keeps.
  doc->SaveToFile(file);
  doc->LoadFromFile(file);
  doc->SetViewStyle(vsNormal);
  doc->SetScreenDpm(4);
  doc->SetOriginX(0);
  doc->SetOriginY(0);
  ASSERT_FALSE(doc->Modified());
  auto* f = static_cast<TdtpFreehandShape*>(doc->CurrentPage()->GetShape(0));
  Click({150, 205});
  ASSERT_TRUE(f->Selected());
  guitest::Key(doc.get(), Qt::Key_F2);
  Press(doc.get(), {150, 300});
  MoveHeld(doc.get(), {200, 330});
  MoveHeld(doc.get(), {260, 360});
  Release(doc.get(), {260, 360});
  EXPECT_EQ(doc->EditedShape(), nullptr);
  EXPECT_TRUE(doc->Modified());
  const ArrayOfArrayOfFPoint edited = f->Points();
  EXPECT_NE(edited, points);
  doc->SaveToFile(file);
  doc->LoadFromFile(file);
  ASSERT_EQ(doc->CurrentPage()->GetShapeCount(), 2);
  EXPECT_EQ(static_cast<TdtpFreehandShape*>(doc->CurrentPage()->GetShape(0))->Points(), edited);
}

// A rejected stroke takes its undo records with it: the list is what it was before F2, and
// undoing what is left puts back only the changes made before the edit.
TEST_F(InputTest, EscapeAfterF2LeavesTheUndoListAsItWas) {
  const std::string file = kdtest::TempDir() + "/input_freehand_escape_undo.hsf";
  DrawStroke({{100, 200}, {200, 210}, {300, 200}});
  doc->SaveToFile(file);
  for (int moveBefore : {0, 1}) {
    SCOPED_TRACE(moveBefore);
    doc->LoadFromFile(file);
    doc->SetViewStyle(vsNormal);
    doc->SetScreenDpm(4);
    doc->SetOriginX(0);
    doc->SetOriginY(0);
    ASSERT_EQ(doc->UndoCount(), 0);
    auto* f = static_cast<TdtpFreehandShape*>(doc->CurrentPage()->GetShape(0));
    const ArrayOfArrayOfFPoint points = f->Points();
    const float left = f->DocLeft(), top = f->DocTop();
    Click({150, 205});
    ASSERT_TRUE(f->Selected());
    if (moveBefore) {
      Drag({150, 205}, {190, 225});
      ASSERT_FLOAT_EQ(f->DocLeft(), left + 10);
      ASSERT_FLOAT_EQ(f->DocTop(), top + 5);
    }
    std::vector<const TdtpCommand*> before;
    for (int32_t i = 0; i < doc->UndoCount(); ++i) before.push_back(doc->UndoItem(i));
    const int32_t bytes = doc->UndoBytes();
    ASSERT_EQ(before.empty(), !moveBefore);
    const ArrayOfArrayOfFPoint moved = f->Points();
    guitest::Key(doc.get(), Qt::Key_F2);
    ASSERT_EQ(doc->EditedShape(), f);
    Press(doc.get(), {150, 300});
    MoveHeld(doc.get(), {200, 330});
    MoveHeld(doc.get(), {260, 360});
    ASSERT_TRUE(f->Drawing());
    guitest::Key(doc.get(), Qt::Key_Escape);
    Release(doc.get(), {260, 360});
    ASSERT_EQ(doc->EditedShape(), nullptr);
    EXPECT_EQ(f->Points(), moved);
    ASSERT_EQ(doc->UndoCount(), int32_t(before.size()));
    for (size_t i = 0; i < before.size(); ++i) EXPECT_EQ(doc->UndoItem(int32_t(i)), before[i]);
    EXPECT_EQ(doc->UndoBytes(), bytes);
    EXPECT_EQ(doc->Modified(), bool(moveBefore));
    // Undoing what is left goes back to the document as it was loaded.
    for (int32_t i = doc->UndoCount() - 1; i >= 0; --i) EXPECT_TRUE(doc->Undo(doc->UndoItem(i)));
    EXPECT_EQ(f->Points(), points);
    EXPECT_FLOAT_EQ(f->DocLeft(), left);
    EXPECT_FLOAT_EQ(f->DocTop(), top);
    EXPECT_EQ(doc->Modified(), bool(moveBefore));
  }
}

// A new stroke rejected while it is drawn leaves nothing to undo: the list is what it was
// before the shape was placed.
TEST_F(InputTest, EscapeWhileDrawingANewStrokeLeavesTheUndoListAsItWas) {
  AddRect(150, 100, 10, 10);
  std::vector<const TdtpCommand*> before;
  for (int32_t i = 0; i < doc->UndoCount(); ++i) before.push_back(doc->UndoItem(i));
  const int32_t bytes = doc->UndoBytes();
  ASSERT_EQ(doc->CurrentPage()->GetShapeCount(), 1);
  auto f = NewShape<TdtpFreehandShape>();
  doc->BeginInsert(std::move(f), 0);
  Press(doc.get(), {100, 200});
  MoveHeld(doc.get(), {150, 230});
  MoveHeld(doc.get(), {200, 210});
  ASSERT_EQ(doc->CurrentPage()->GetShapeCount(), 2);
  guitest::Key(doc.get(), Qt::Key_Escape);
  Release(doc.get(), {200, 210});
  EXPECT_EQ(doc->EditedShape(), nullptr);
  EXPECT_EQ(doc->CurrentPage()->GetShapeCount(), 1);
  ASSERT_EQ(doc->UndoCount(), int32_t(before.size()));
  for (size_t i = 0; i < before.size(); ++i) EXPECT_EQ(doc->UndoItem(int32_t(i)), before[i]);
  EXPECT_EQ(doc->UndoBytes(), bytes);
  // A click places no stroke, and leaves nothing to undo either.
  doc->BeginInsert(NewShape<TdtpFreehandShape>(), 0);
  Press(doc.get(), {100, 200});
  Release(doc.get(), {100, 200});
  EXPECT_EQ(doc->EditedShape(), nullptr);
  EXPECT_EQ(doc->CurrentPage()->GetShapeCount(), 1);
  EXPECT_EQ(doc->UndoCount(), int32_t(before.size()));
  EXPECT_EQ(doc->UndoBytes(), bytes);
  // Neither marks an unchanged document modified.
  const std::string file = kdtest::TempDir() + "/input_new_stroke_escape.hsf";
  doc->SaveToFile(file);
  doc->LoadFromFile(file);
  doc->SetViewStyle(vsNormal);
  doc->SetScreenDpm(4);
  doc->SetOriginX(0);
  doc->SetOriginY(0);
  for (const bool escape : {false, true}) {
    SCOPED_TRACE(escape);
    doc->BeginInsert(NewShape<TdtpFreehandShape>(), 0);
    Press(doc.get(), {100, 200});
    if (escape) {
      MoveHeld(doc.get(), {150, 230});
      guitest::Key(doc.get(), Qt::Key_Escape);
    }
    Release(doc.get(), {100, 200});
    EXPECT_EQ(doc->CurrentPage()->GetShapeCount(), 1);
    EXPECT_EQ(doc->UndoCount(), 0);
    EXPECT_FALSE(doc->Modified());
    EXPECT_FALSE(doc->CurrentPage()->Modified());
  }
  // A stroke drawn to its end stays, and undoing it takes it away again.
  before.clear();  // the list was emptied by the load
  DrawStroke({{100, 200}, {150, 230}, {200, 210}});
  EXPECT_TRUE(doc->Modified());
  ASSERT_EQ(doc->CurrentPage()->GetShapeCount(), 2);
  ASSERT_GT(doc->UndoCount(), int32_t(before.size()));
  for (int32_t i = doc->UndoCount() - 1; i >= int32_t(before.size()); --i) EXPECT_TRUE(doc->Undo(doc->UndoItem(i)));
  EXPECT_EQ(doc->CurrentPage()->GetShapeCount(), 1);
  // The host reorders the page and moves the other shape while a new stroke is drawn, then
  // Escape takes the stroke away: both changes stay, and undoing everything gives the page back.
  TdtpShape* rect = doc->CurrentPage()->GetShape(0);
  AddRect(20, 20, 10, 10);
  doc->ClearUndo();
  doc->BeginInsert(NewShape<TdtpFreehandShape>(), 0);
  Press(doc.get(), {100, 200});
  MoveHeld(doc.get(), {150, 230});
  doc->CurrentPage()->MoveShapeIndex(2, 0);
  rect->SetDocPosition(60, 60);
  guitest::Key(doc.get(), Qt::Key_Escape);
  Release(doc.get(), {150, 230});
  ASSERT_EQ(doc->CurrentPage()->GetShapeCount(), 2);
  EXPECT_EQ(rect->DocLeft(), 60);
  for (int32_t i = doc->UndoCount() - 1; i >= 0; --i) EXPECT_TRUE(doc->Undo(doc->UndoItem(i))) << i;
  ASSERT_EQ(doc->CurrentPage()->GetShapeCount(), 2);
  EXPECT_EQ(doc->CurrentPage()->GetShape(0), rect);
  EXPECT_EQ(rect->DocLeft(), 150);
}

// Typed text that Escape takes back leaves no undo record either.
TEST_F(InputTest, EscapeAfterTypingInAMemoLeavesTheUndoListAsItWas) {
  platform::TFakeTextMeasurer fake;
  platform::TScopedTextMeasurer measurer(&fake);
  TdtpMemoShape* memo = AddTextShape<TdtpMemoShape>();
  doc->ClearUndo();
  platform::TRect sr;
  memo->GetScreenRect(sr);
  Click({sr.Left + 2, sr.Top + 2});
  ASSERT_TRUE(memo->Selected());
  guitest::Key(doc.get(), Qt::Key_F2);
  ASSERT_EQ(doc->EditedShape(), memo);
  guitest::Key(doc.get(), Qt::Key_X, Qt::NoModifier, "x");
  guitest::Key(doc.get(), Qt::Key_Y, Qt::NoModifier, "y");
  EXPECT_EQ(memo->Text(), "abcxy");
  guitest::Key(doc.get(), Qt::Key_Escape);
  EXPECT_EQ(doc->EditedShape(), nullptr);
  EXPECT_EQ(memo->Text(), "abc");
  EXPECT_EQ(doc->UndoCount(), 0);
  EXPECT_EQ(doc->UndoBytes(), 0);
  // Accepted typing stays undoable.
  guitest::Key(doc.get(), Qt::Key_F2);
  guitest::Key(doc.get(), Qt::Key_X, Qt::NoModifier, "x");
  guitest::Key(doc.get(), Qt::Key_F2);
  EXPECT_EQ(doc->EditedShape(), nullptr);
  EXPECT_EQ(memo->Text(), "abcx");
  ASSERT_GT(doc->UndoCount(), 0);
  for (int32_t i = doc->UndoCount() - 1; i >= 0; --i) doc->Undo(doc->UndoItem(i));
  EXPECT_EQ(memo->Text(), "abc");
  // What the host changes on other shapes while the typing runs stays undoable after Escape.
  TdtpShape* other = AddRect(100, 100, 20, 20);
  doc->ClearUndo();
  guitest::Key(doc.get(), Qt::Key_F2);
  guitest::Key(doc.get(), Qt::Key_X, Qt::NoModifier, "x");
  doc->CurrentPage()->MoveShapeIndex(1, 0);
  other->SetDocPosition(50, 50);
  guitest::Key(doc.get(), Qt::Key_Y, Qt::NoModifier, "y");
  guitest::Key(doc.get(), Qt::Key_Escape);
  EXPECT_EQ(memo->Text(), "abc");
  ASSERT_EQ(doc->UndoCount(), 3);  // the exchange, the left and the top
  EXPECT_FALSE(doc->UndoItem(0)->Grouped);
  for (int32_t i = doc->UndoCount() - 1; i >= 0; --i) EXPECT_TRUE(doc->Undo(doc->UndoItem(i)));
  EXPECT_EQ(doc->CurrentPage()->GetShape(0), memo);
  EXPECT_EQ(other->DocLeft(), 100);
  EXPECT_EQ(memo->Text(), "abc");
}

// Escape after typing in a memo of an opened document puts the text back and leaves the
// document as modified as it was.
TEST_F(InputTest, EscapeAfterTypingInAMemoKeepsTheModifiedState) {
  platform::TFakeTextMeasurer fake;
  platform::TScopedTextMeasurer measurer(&fake);
  AddTextShape<TdtpMemoShape>();
  const std::string file = kdtest::TempDir() + "/input_memo_escape.hsf";
  doc->SaveToFile(file);
  for (int modifiedBefore : {0, 1}) {
    SCOPED_TRACE(modifiedBefore);
    doc->LoadFromFile(file);
    doc->SetViewStyle(vsNormal);
    doc->SetScreenDpm(4);
    doc->SetOriginX(0);
    doc->SetOriginY(0);
    TdtpPage* page = doc->CurrentPage();
    auto* memo = static_cast<TdtpMemoShape*>(page->GetShape(0));
    if (modifiedBefore) AddRect(150, 100, 10, 10);
    platform::TRect sr;
    memo->GetScreenRect(sr);
    Click({sr.Left + 2, sr.Top + 2});
    ASSERT_TRUE(memo->Selected());
    ASSERT_EQ(doc->Modified(), bool(modifiedBefore));
    const float l = memo->DocLeft(), t = memo->DocTop(), w = memo->DocWidth(), h = memo->DocHeight();
    guitest::Key(doc.get(), Qt::Key_F2);
    ASSERT_EQ(doc->EditedShape(), memo);
    guitest::Key(doc.get(), Qt::Key_X, Qt::NoModifier, "x");
    guitest::Key(doc.get(), Qt::Key_Return);
    guitest::Key(doc.get(), Qt::Key_Y, Qt::NoModifier, "y");
    EXPECT_EQ(memo->Text(), "abcx\ry");
    EXPECT_GT(memo->DocHeight(), h);
    guitest::Key(doc.get(), Qt::Key_Escape);
    EXPECT_EQ(doc->EditedShape(), nullptr);
    EXPECT_EQ(memo->Text(), "abc");
    EXPECT_EQ(memo->DocLeft(), l);
    EXPECT_EQ(memo->DocTop(), t);
    EXPECT_EQ(memo->DocWidth(), w);
    EXPECT_EQ(memo->DocHeight(), h);
    EXPECT_EQ(doc->Modified(), bool(modifiedBefore));
    EXPECT_EQ(page->Modified(), bool(modifiedBefore));
    EXPECT_FALSE(memo->Modified());
  }
  // Accepted typing modifies the document, and a save keeps it.
  TdtpMemoShape* memo = static_cast<TdtpMemoShape*>(doc->CurrentPage()->GetShape(0));
  guitest::Key(doc.get(), Qt::Key_F2);
  guitest::Key(doc.get(), Qt::Key_X, Qt::NoModifier, "x");
  guitest::Key(doc.get(), Qt::Key_F2);
  EXPECT_TRUE(doc->Modified());
  EXPECT_TRUE(memo->Modified());
  doc->SaveToFile(file);
  doc->LoadFromFile(file);
  EXPECT_EQ(static_cast<TdtpMemoShape*>(doc->CurrentPage()->GetShape(0))->Text(), "abcx");
}

// --- memo caret keys at the start of the text -------------------------------------------------

TEST_F(InputTest, ShiftLeftAndUpAtTheStartOfAMemoSelectNothing) {
  platform::TFakeTextMeasurer fake;
  platform::TScopedTextMeasurer measurer(&fake);
  for (int key : {Qt::Key_Left, Qt::Key_Up}) {
    SCOPED_TRACE(key);
    doc->CurrentPage()->ClearShapes();
    TdtpMemoShape* memo = AddTextShape<TdtpMemoShape>();
    platform::TRect sr;
    memo->GetScreenRect(sr);
    const TPoint at{sr.Left + 2, sr.Top + 2};
    Click(at);
    const TPoint w = Win(doc.get(), at);
    guitest::DoubleClick(doc.get(), w.X, w.Y);
    guitest::Release(doc.get(), w.X, w.Y);
    ASSERT_EQ(doc->EditedShape(), memo);
    guitest::Key(doc.get(), Qt::Key_Home);
    guitest::Key(doc.get(), key, Qt::ShiftModifier);
    EXPECT_EQ(memo->SelLength(), 0);
    guitest::Key(doc.get(), Qt::Key_X, Qt::NoModifier, "x");
    EXPECT_EQ(memo->Text(), "xabc");
    guitest::Key(doc.get(), Qt::Key_Escape);
  }
}

// --- browsing does not edit ------------------------------------------------------------------

// In browse mode a double click or F2 on a text opens no edit, so typing changes nothing;
// in edit mode the same double click edits the text.
TEST_F(InputTest, BrowseModeOpensNoShapeEdit) {
  platform::TFakeTextMeasurer fake;
  platform::TScopedTextMeasurer measurer(&fake);
  TdtpTextShape* text = AddTextShape<TdtpTextShape>();
  doc->SetModified(false);
  platform::TRect sr;
  text->GetScreenRect(sr);
  const TPoint w = Win(doc.get(), {sr.Left + 2, sr.Top + 2});
  auto doubleClick = [&] {
    guitest::Press(doc.get(), w.X, w.Y);
    guitest::Release(doc.get(), w.X, w.Y);
    guitest::DoubleClick(doc.get(), w.X, w.Y);
    guitest::Release(doc.get(), w.X, w.Y);
  };
  doc->SetMode(vmBrowse);
  doubleClick();
  EXPECT_EQ(doc->EditedShape(), nullptr);
  EXPECT_EQ(doc->DragState(), 0);
  guitest::Key(doc.get(), Qt::Key_X, Qt::NoModifier, "x");
  guitest::Key(doc.get(), Qt::Key_Return);
  text->SetSelected(true);  // a selection made by the host
  guitest::Key(doc.get(), Qt::Key_F2);
  EXPECT_EQ(doc->EditedShape(), nullptr);
  guitest::Key(doc.get(), Qt::Key_Y, Qt::NoModifier, "y");
  guitest::Key(doc.get(), Qt::Key_F2);
  EXPECT_EQ(text->Text(), "abc");
  EXPECT_FALSE(doc->Modified());
  doc->SetMode(vmEdit);
  doubleClick();
  EXPECT_EQ(doc->EditedShape(), text);
  guitest::Key(doc.get(), Qt::Key_X, Qt::NoModifier, "x");
  guitest::Key(doc.get(), Qt::Key_Return);
  EXPECT_EQ(doc->EditedShape(), nullptr);
  EXPECT_EQ(text->Text(), "abcx");
  EXPECT_TRUE(doc->Modified());
}

// --- a save while a shape is edited --------------------------------------------------------

// A save made while a shape is edited writes the edit; when the edit is then rejected the
// shape goes back and the document is modified, so the next save writes it back too and the
// file matches the document again. Shown for typed text, an added stroke and a new stroke.
TEST_F(InputTest, RejectingAnEditAfterASaveLeavesTheDocumentToBeSaved) {
  platform::TFakeTextMeasurer fake;
  platform::TScopedTextMeasurer measurer(&fake);
  AddTextShape<TdtpMemoShape>();
  DrawStroke({{100, 200}, {200, 210}, {300, 200}});
  const std::string file = kdtest::TempDir() + "/input_save_during_edit.hsf";
  doc->SaveToFile(file);
  auto reload = [&] {
    doc->LoadFromFile(file);
    doc->SetViewStyle(vsNormal);
    doc->SetScreenDpm(4);
    doc->SetOriginX(0);
    doc->SetOriginY(0);
  };
  reload();
  const ArrayOfArrayOfFPoint points = static_cast<TdtpFreehandShape*>(doc->CurrentPage()->GetShape(1))->Points();
  for (int kind = 0; kind < 3; ++kind) {
    SCOPED_TRACE(kind);
    reload();
    TdtpPage* page = doc->CurrentPage();
    auto* memo = static_cast<TdtpMemoShape*>(page->GetShape(0));
    auto* stroke = static_cast<TdtpFreehandShape*>(page->GetShape(1));
    if (kind == 0) {
      platform::TRect sr;
      memo->GetScreenRect(sr);
      Click({sr.Left + 2, sr.Top + 2});
      guitest::Key(doc.get(), Qt::Key_F2);
      ASSERT_EQ(doc->EditedShape(), memo);
      guitest::Key(doc.get(), Qt::Key_X, Qt::NoModifier, "x");
    } else if (kind == 1) {
      Click({150, 205});
      ASSERT_TRUE(stroke->Selected());
      guitest::Key(doc.get(), Qt::Key_F2);
      ASSERT_EQ(doc->EditedShape(), stroke);
      Press(doc.get(), {150, 300});
      MoveHeld(doc.get(), {200, 330});
      MoveHeld(doc.get(), {260, 360});
    } else {
      doc->BeginInsert(NewShape<TdtpFreehandShape>(), 0);
      Press(doc.get(), {400, 300});
      MoveHeld(doc.get(), {450, 330});
      MoveHeld(doc.get(), {500, 300});
      ASSERT_EQ(page->GetShapeCount(), 3);
    }
    // The stroke is still being drawn (the button is held) when the save comes.
    ASSERT_NE(doc->EditedShape(), nullptr);
    doc->SaveToFile(file);
    EXPECT_FALSE(doc->Modified());
    guitest::Key(doc.get(), Qt::Key_Escape);
    if (kind > 0) Release(doc.get(), {500, 300});
    EXPECT_EQ(doc->EditedShape(), nullptr);
    EXPECT_EQ(memo->Text(), "abc");
    EXPECT_EQ(stroke->Points(), points);
    EXPECT_EQ(page->GetShapeCount(), 2);
    EXPECT_TRUE(doc->Modified());
    doc->SaveToFile(file);
    reload();
    ASSERT_EQ(doc->CurrentPage()->GetShapeCount(), 2);
    EXPECT_EQ(static_cast<TdtpMemoShape*>(doc->CurrentPage()->GetShape(0))->Text(), "abc");
    EXPECT_EQ(static_cast<TdtpFreehandShape*>(doc->CurrentPage()->GetShape(1))->Points(), points);
  }
}

// --- composed text and cursors -----------------------------------------------------------------

// Text committed by the input method (dead keys) is typed into the edited text or memo.
TEST_F(InputTest, ComposedTextIsTypedIntoTheEditedText) {
  platform::TFakeTextMeasurer fake;
  platform::TScopedTextMeasurer measurer(&fake);
  QWidget* w = guitest::W(doc.get());
  EXPECT_TRUE(w->testAttribute(Qt::WA_InputMethodEnabled) && w->inputMethodQuery(Qt::ImEnabled).toBool());
  for (const bool memo : {false, true}) {
    doc->CurrentPage()->ClearShapes();
    TdtpTextShape* t = memo ? AddTextShape<TdtpMemoShape>() : AddTextShape<TdtpTextShape>();
    platform::TRect sr;
    t->GetScreenRect(sr);
    Click({sr.Left + 2, sr.Top + 2});
    guitest::Key(doc.get(), Qt::Key_F2);
    ASSERT_EQ(doc->EditedShape(), t);
    guitest::Key(doc.get(), Qt::Key_X, Qt::NoModifier, "x");
    // Dead diaeresis and e, dead acute and e, dead grave and a: the dead key alone types nothing.
    for (const char* pair : {"\xC2\xA8\xC3\xAB", "\xC2\xB4\xC3\xA9", "`\xC3\xA0"}) {
      const QString both = QString::fromUtf8(pair);
      QInputMethodEvent pending(both.left(1), {}), done;
      done.setCommitString(both.mid(1));
      QApplication::sendEvent(w, &pending);
      QApplication::sendEvent(w, &done);
    }
    guitest::Key(doc.get(), Qt::Key_A, Qt::NoModifier, "a");
    guitest::Key(doc.get(), Qt::Key_B, Qt::NoModifier, "b");
    EXPECT_EQ(t->Text(), "abcx\xC3\xAB\xC3\xA9\xC3\xA0" "ab") << memo;
    guitest::Key(doc.get(), Qt::Key_F2);
    EXPECT_EQ(doc->EditedShape(), nullptr);
  }
}

// Keys a Qt line editor takes give the edited text what they give that editor: a key whose
// text is several characters (an accent as a combining mark, an emoji with its skin tone, a
// flag), characters beyond the first 65536, Backspace, Delete and the arrows over them (the
// caret steps over a character as shown), a paste with a line break.
TEST_F(InputTest, TypedTextIsWhatALineEditorKeeps) {
  platform::TFakeTextMeasurer fake;
  platform::TScopedTextMeasurer measurer(&fake);
  struct TStroke {
    int Key;
    const char* Text;
    Qt::KeyboardModifiers Mods = Qt::NoModifier;
  };
  const struct {
    const char* Name;
    std::vector<TStroke> Strokes;
  } rows[] = {
      {"combining mark", {{Qt::Key_unknown, "e\xCC\x81"}, {Qt::Key_X, "x"}}},
      {"skin tone", {{Qt::Key_unknown, "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD"}, {Qt::Key_X, "x"}}},
      {"flag", {{Qt::Key_unknown, "\xF0\x9F\x87\xB3\xF0\x9F\x87\xB1"}}},
      {"emoji and backspace", {{Qt::Key_unknown, "\xF0\x9F\x98\x80"}, {Qt::Key_unknown, "\xF0\x9F\x98\x81"}, {Qt::Key_Backspace, "\b"}}},
      {"emoji and arrows", {{Qt::Key_unknown, "\xF0\x9F\x98\x80"}, {Qt::Key_unknown, "\xF0\x9F\x98\x81"}, {Qt::Key_Left, ""}, {Qt::Key_X, "x"}}},
      {"mark and arrows", {{Qt::Key_unknown, "e\xCC\x81"}, {Qt::Key_Left, ""}, {Qt::Key_X, "x"}, {Qt::Key_Right, ""}, {Qt::Key_Y, "y"}}},
      {"flag and shift arrows", {{Qt::Key_unknown, "\xF0\x9F\x87\xB3"}, {Qt::Key_unknown, "\xF0\x9F\x87\xB1"}, {Qt::Key_Left, "", Qt::ShiftModifier}, {Qt::Key_X, "x"}}},
      {"mark typed apart and arrows", {{Qt::Key_E, "e"}, {Qt::Key_unknown, "\xCC\x81"}, {Qt::Key_Left, ""}, {Qt::Key_X, "x"}}},
      {"mark and delete", {{Qt::Key_E, "e"}, {Qt::Key_unknown, "\xCC\x81"}, {Qt::Key_Left, ""}, {Qt::Key_Delete, ""}}},
      {"mark and backspace", {{Qt::Key_unknown, "e\xCC\x81"}, {Qt::Key_Backspace, "\b"}}},
      {"paste with CR LF", {{Qt::Key_V, "", Qt::ControlModifier}}},
  };
  for (const bool memo : {false, true})
    for (const auto& row : rows) {
      SCOPED_TRACE(testing::Message() << row.Name << (memo ? " in a memo" : ""));
      platform::Clipboard()->SetAsText("ab\r\ncd");
      doc->CurrentPage()->ClearShapes();
      TdtpTextShape* t = memo ? AddTextShape<TdtpMemoShape>() : AddTextShape<TdtpTextShape>();
      platform::TRect sr;
      t->GetScreenRect(sr);
      Click({sr.Left + 2, sr.Top + 2});
      guitest::Key(doc.get(), Qt::Key_F2);
      ASSERT_EQ(doc->EditedShape(), t);
      QLineEdit qt;
      qt.setText("abc");
      for (const TStroke& k : row.Strokes) {
        guitest::Key(doc.get(), k.Key, k.Mods, QString::fromUtf8(k.Text));
        QKeyEvent down(QEvent::KeyPress, k.Key, k.Mods, QString::fromUtf8(k.Text));
        QApplication::sendEvent(&qt, &down);
      }
      EXPECT_EQ(t->Text(), qt.text().toStdString());
      EXPECT_EQ(t->CaretIndex(), int32_t(qt.text().left(qt.cursorPosition()).toStdU32String().size()));
      guitest::Key(doc.get(), Qt::Key_Escape);
    }
}

// The view's cursors show only over the view; only the busy cursor shows everywhere.
TEST_F(InputTest, TheViewsCursorsShowOnlyOverTheView) {
  AddRect(20, 20, 40, 30);  // screen (80, 80) to (240, 200)
  Click({120, 120});
  ASSERT_EQ(doc->SelectionCount(), 1);
  QWidget* w = guitest::W(doc.get());
  auto shownAt = [&](TPoint P) {
    const TPoint p = Win(doc.get(), P);
    guitest::Move(doc.get(), p.X, p.Y);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    return w->cursor().shape();
  };
  EXPECT_EQ(shownAt({80, 80}), Qt::SizeFDiagCursor);  // the top-left corner handle
  EXPECT_EQ(doc->ViewCursor(), platform::crSizeNWSE);
  EXPECT_EQ(platform::Screen()->Cursor(), platform::crDefault);
  guitest::Leave(doc.get());
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  for (const auto& [own, shape] : {std::pair{platform::crDefault, Qt::ArrowCursor}, {platform::crCross, Qt::CrossCursor}}) {
    doc->SetCursor(own);
    EXPECT_EQ(shownAt({120, 120}), Qt::PointingHandCursor);  // the body
    EXPECT_EQ(shownAt({400, 400}), shape);                   // nothing: the view's own cursor
  }
  doc->SetCursor(platform::crDefault);
  doc->BeginBusy(platform::crHourGlass);
  ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
  EXPECT_EQ(w->cursor().shape(), Qt::WaitCursor);
  doc->EndBusy();
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_EQ(w->cursor().shape(), Qt::ArrowCursor);
}

// --- changing the page ends an edit ----------------------------------------------------------

// Turning to another page (as the program's page buttons do) while a text is edited keeps
// what was typed and ends the edit: keys then no longer change a text on a page out of view.
TEST_F(InputTest, TurningThePageEndsTheTextEdit) {
  platform::TFakeTextMeasurer fake;
  platform::TScopedTextMeasurer measurer(&fake);
  TdtpMemoShape* memo = AddTextShape<TdtpMemoShape>();
  doc->AddPage(nullptr);
  platform::TRect sr;
  memo->GetScreenRect(sr);
  Click({sr.Left + 2, sr.Top + 2});
  guitest::Key(doc.get(), Qt::Key_F2);
  ASSERT_EQ(doc->EditedShape(), memo);
  guitest::Key(doc.get(), Qt::Key_X, Qt::NoModifier, "x");
  doc->SetCurrentPageIndex(1);
  EXPECT_EQ(doc->EditedShape(), nullptr);
  EXPECT_EQ(doc->DragState(), 0);
  guitest::Key(doc.get(), Qt::Key_Y, Qt::NoModifier, "y");
  guitest::Key(doc.get(), Qt::Key_Backspace);
  guitest::Key(doc.get(), Qt::Key_Escape);
  EXPECT_EQ(memo->Text(), "abcx");
  const std::string file = kdtest::TempDir() + "/input_turn_page.hsf";
  doc->SaveToFile(file);
  doc->LoadFromFile(file);
  EXPECT_EQ(static_cast<TdtpMemoShape*>(doc->CurrentPage()->GetShape(0))->Text(), "abcx");
  // Deleting a page before the one shown keeps that page shown, and its edit goes on.
  doc->SetViewStyle(vsNormal);
  doc->SetScreenDpm(4);
  doc->SetOriginX(0);
  doc->SetOriginY(0);
  memo = static_cast<TdtpMemoShape*>(doc->GetPage(0)->GetShape(0));
  auto moved = doc->GetPage(0)->ExtractShape(memo);
  doc->GetPage(1)->AddShape(std::move(moved));
  doc->SetCurrentPageIndex(1);
  memo->GetScreenRect(sr);
  Click({sr.Left + 2, sr.Top + 2});
  guitest::Key(doc.get(), Qt::Key_F2);
  ASSERT_EQ(doc->EditedShape(), memo);
  guitest::Key(doc.get(), Qt::Key_Z, Qt::NoModifier, "z");
  doc->DeletePage(0);
  ASSERT_EQ(doc->CurrentPage(), memo->ParentShape());
  EXPECT_EQ(doc->EditedShape(), memo);
  guitest::Key(doc.get(), Qt::Key_Y, Qt::NoModifier, "y");
  guitest::Key(doc.get(), Qt::Key_F2);
  EXPECT_EQ(memo->Text(), "abcxzy");
}

// A stroke whose shape is freed while edited (5 ways) ends its edit, so brackets close and input works.
TEST_F(InputTest, FreeingAStrokeWhileItIsEditedEndsItsEdit) {
  const std::string file = kdtest::TempDir() + "/input_free_edited_stroke.hsf";
  auto view = [&] {
    doc->SetViewStyle(vsNormal);
    doc->SetScreenDpm(4);
    doc->SetOriginX(0);
    doc->SetOriginY(0);
  };
  for (int way = 0; way < 5; ++way)
    for (const bool opened : {false, true}) {
      SCOPED_TRACE(testing::Message() << "way " << way << (opened ? " opened with F2" : " being drawn"));
      doc->Clear();
      doc->AddPage(nullptr);
      doc->AddPage(nullptr);
      view();
      doc->SaveToFile(file);
      doc->SetCurrentPageIndex(1);
      if (opened) {
        DrawStroke({{100, 200}, {150, 230}, {200, 210}});
        doc->ClearSelection();
        Click({100, 200});
        guitest::Key(doc.get(), Qt::Key_F2);
      } else {
        doc->BeginInsert(NewShape<TdtpFreehandShape>(), 0);
        Press(doc.get(), {100, 200});
        MoveHeld(doc.get(), {150, 230});
      }
      ASSERT_NE(dynamic_cast<TdtpFreehandShape*>(doc->EditedShape()), nullptr);
      ASSERT_EQ(doc->UpdateCount(), 1);
      if (way == 0) doc->DeletePage(doc->CurrentPageIndex());
      if (way == 1) doc->SetPageCount(1);
      if (way == 2) {  // the undo of its placing
        int32_t i = doc->UndoCount() - 1;
        while (i >= 0 && doc->UndoItem(i)->Kind != ckShapeAdded) --i;
        ASSERT_GE(i, 0);
        EXPECT_TRUE(doc->Undo(doc->UndoItem(i)));
        EXPECT_EQ(doc->CurrentPage()->GetShapeCount(), 0);
      }
      if (way == 3) {
        doc->Clear();
        doc->AddPage(nullptr);
      }
      if (way == 4) doc->LoadFromFile(file);
      if (!opened) Release(doc.get(), {150, 230});
      EXPECT_EQ(doc->EditedShape(), nullptr);
      EXPECT_EQ(doc->DragState(), 0);
      EXPECT_EQ(doc->UpdateCount(), 0);
      view();
      AddRect(20, 20, 20, 20);  // screen (80, 80) to (160, 160)
      AddRect(60, 20, 20, 20);  // screen (240, 80) to (320, 160)
      int selections = 0;
      doc->OnSelectionChanged = [&](platform::TObject*) { ++selections; };
      Click({120, 120});
      EXPECT_GT(selections, 0);
      doc->OnSelectionChanged = nullptr;
      const int32_t before = doc->UndoCount();
      Drag({120, 120}, {160, 120});
      Drag({280, 120}, {280, 160});
      int steps = 0;
      for (int32_t i = before; i < doc->UndoCount(); ++i) steps += !doc->UndoItem(i)->Grouped;
      EXPECT_EQ(steps, 2);
    }
}

// Every way a shape leaves its page drops the document's references to it: a text in edit
// (with "xy" typed), a stroke in edit, a focused, a hot and a hinted rectangle, each on the
// page or in a group. Afterwards every reference names a shape still in the document and keys are safe.
TEST_F(InputTest, EveryWayAShapeLeavesItsPageDropsTheDocumentsReferences) {
  platform::TFakeTextMeasurer fake;
  platform::TScopedTextMeasurer measurer(&fake);
  InitializeDtpGroupShape();
  const std::string file = kdtest::TempDir() + "/input_leaving_shape.hsf";
  enum TWay { wDelete, wClear, wExtract, wExtractFromGroup, wExtractGroup, wUndo, wDeletePage, wPageCount, wLoad, wClearDocument,
              wAddToOtherPage, wInsertIntoOtherDocument, wPageToOtherDocument };
  const char* const wayNames[] = {"delete", "clear page", "extract from page", "extract from group", "extract its group",
                                  "undo", "delete page", "page count", "load", "clear document",
                                  "added to another page", "inserted into another document",
                                  "its page added to another document"};
  enum TState { sEdited, sStroke, sFocused, sHot, sHint };
  const char* const stateNames[] = {"edited text", "edited stroke", "focused", "hot", "hint"};
  auto shapesOf = [&] {
    std::set<const TdtpShape*> all;
    std::vector<const TdtpShape*> todo;
    for (int32_t p = 0; p < doc->GetPageCount(); ++p) todo.push_back(doc->GetPage(p));
    while (!todo.empty()) {
      const TdtpShape* t = todo.back();
      todo.pop_back();
      all.insert(t);
      for (int32_t i = 0; i < t->GetShapeCount(); ++i) todo.push_back(t->GetShape(i));
    }
    return all;
  };
  for (int way = wDelete; way <= wPageToOtherDocument; ++way)
    for (int state = sEdited; state <= sHint; ++state) {
      const bool grouped = way == wExtractFromGroup || way == wExtractGroup;
      SCOPED_TRACE(testing::Message() << wayNames[way] << ", " << stateNames[state]);
      doc->Clear();
      doc->AddPage(nullptr);
      doc->AddPage(nullptr);
      doc->SetViewStyle(vsNormal);
      doc->SetScreenDpm(4);
      doc->SetOriginX(0);
      doc->SetOriginY(0);
      doc->SaveToFile(file);
      doc->SetCurrentPageIndex(1);
      TdtpPage* page = doc->CurrentPage();
      TdtpShape* shape = nullptr;
      if (state == sEdited) {
        shape = AddTextShape<TdtpTextShape>();
      } else if (state == sStroke) {
        shape = DrawStroke({{100, 200}, {150, 230}, {200, 210}});
      } else {
        shape = AddRect(20, 20, 20, 20);  // screen (80, 80) to (160, 160)
      }
      TdtpShape* parent = page;
      if (grouped) {
        page->AddShape(NewShape<TdtpGroupShape>());
        parent = page->GetShape(page->GetShapeCount() - 1);
        parent->SetDocBounds(20, 20, 20, 20);
        parent->SetSmartHitTest(false);
        parent->AddShape(page->ExtractShape(shape));
        ASSERT_EQ(shape->ParentShape(), parent);
      }
      if (state == sEdited || state == sStroke) {
        doc->EditShape(shape);
        ASSERT_EQ(doc->EditedShape(), shape);
        if (state == sEdited) {
          guitest::Key(doc.get(), Qt::Key_X, Qt::NoModifier, "x");
          guitest::Key(doc.get(), Qt::Key_Y, Qt::NoModifier, "y");
        }
      } else if (state == sFocused) {
        doc->SetFocusShape(shape);
      } else if (state == sHint) {
        for (TdtpShape* h : {shape, parent}) {
          h->SetHint("Sport");
          h->SetShowHint(true);
        }
        const TPoint w = Win(doc.get(), {120, 120});
        guitest::Move(doc.get(), w.X, w.Y);
        ASSERT_EQ(doc->HintShape(), grouped ? parent : shape);
      } else {
        // Hot while the button is held: the shape is being moved.
        Press(doc.get(), {120, 120});
        MoveHeld(doc.get(), {130, 128});
        ASSERT_EQ(doc->HotShape(), grouped ? parent : shape);
        ASSERT_EQ(doc->DragState(), 1);
      }
      std::unique_ptr<TdtpShape> taken;
      TdtpComponent other(nullptr);
      // Handed on still listed by its parent: the new parent takes it from there.
      auto handed = [&] { return std::unique_ptr<TdtpShape>(shape); };
      switch (way) {
        case wDelete: page->RemoveShape(shape); break;
        case wClear: page->ClearShapes(); break;
        case wExtract: taken = page->ExtractShape(shape); break;
        case wExtractFromGroup: taken = parent->ExtractShape(shape); break;
        case wExtractGroup: taken = page->ExtractShape(parent); break;
        case wUndo: {  // the undo of its placing
          int32_t i = doc->UndoCount() - 1;
          while (i >= 0 && doc->UndoItem(i)->Kind != ckShapeAdded) --i;
          ASSERT_GE(i, 0);
          EXPECT_TRUE(doc->Undo(doc->UndoItem(i)));
          break;
        }
        case wDeletePage: doc->DeletePage(1); break;
        case wPageCount: doc->SetPageCount(1); break;
        case wLoad: doc->LoadFromFile(file); break;
        case wClearDocument: doc->Clear(); break;
        case wAddToOtherPage: doc->GetPage(0)->AddShape(handed()); break;
        case wInsertIntoOtherDocument: other.GetPage(0)->InsertShape(0, handed()); break;
        case wPageToOtherDocument: other.AddPage(std::unique_ptr<TdtpPage>(page)); break;
      }
      taken.reset();
      if (state == sHot) {
        MoveHeld(doc.get(), {140, 136});
        Release(doc.get(), {140, 136});
      }
      const std::set<const TdtpShape*> all = shapesOf();
      EXPECT_EQ(all.count(shape) && shape->ParentShape() != doc->GetPage(0), false);
      for (const TdtpShape* r : {doc->EditedShape(), doc->FocusShape(), doc->HotShape(), doc->HintShape()})
        EXPECT_TRUE(!r || all.count(r));
      EXPECT_EQ(doc->EditedShape(), nullptr);
      EXPECT_NE(doc->DragState(), 5);
      EXPECT_EQ(doc->UpdateCount(), 0);
      // Keys reach the document, not the freed shape.
      for (int key : {Qt::Key_Z, Qt::Key_F2, Qt::Key_Delete, Qt::Key_Escape, Qt::Key_Backspace})
        guitest::Key(doc.get(), key, Qt::NoModifier, key == Qt::Key_Z ? "z" : QString());
      Click({120, 120});
      EXPECT_EQ(doc->DragState(), 0);
    }
}

}  // namespace

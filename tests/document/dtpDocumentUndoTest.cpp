// Undo after every kind of edit made through real mouse and key events on a shown document,
// and the clipboard between two documents: undoing everything an edit recorded gives a
// document that saves and reloads exactly as it was before the edit.
#include <gtest/gtest.h>

#include <functional>

#include "../common/TestSupport.h"
#include "../platform/GuiTestEvents.h"
#include "document/XmlDocuments.h"
#include "document/dtpDocument.h"
#include "document/dtpFreehandShape.h"
#include "document/dtpLineShape.h"
#include "document/dtpMemoShape.h"
#include "document/dtpPolygonShape.h"
#include "document/dtpTextShape.h"
#include "document/dtpBitmapShape.h"
#include "document/dtpGroupShape.h"
#include "document/dtpShadowEffects.h"
#include "raster/dtpRasterFormats.h"
#include "raster/dtpRasterPNG.h"
#include "platform/Clipboard.h"
#include "platform/Font.h"
#include "platform/KeyState.h"
#include "tools/DocumentFixtures.h"

using namespace document;
using kdfixture::TdtpFixtureRect;
using platform::TPoint;

namespace {

class TUndoDoc : public TdtpComponent {
 public:
  TUndoDoc() : TdtpComponent(nullptr) {}
  using TWinControl::ClientOffset;
};

TPoint Win(const TUndoDoc* D, TPoint P) { return {P.X + D->ClientOffset().X, P.Y + D->ClientOffset().Y}; }

class UndoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kdfixture::InitializeFixtures();
    InitializeDtpEffectShape();
    InitializeDtpPolygonShape();
    InitializeDtpLineShape();
    InitializeDtpFreehandShape();
    InitializeDtpTextShape();
    InitializeDtpMemoShape();
    raster::InitializeDtpRasterFormats();
    raster::InitializeDtpRasterPNG();
    InitializeDtpBitmapShape();
    InitializeDtpGroupShape();
    platform::KeyStateReset();
    oldMeasurer = platform::SetTextMeasurer(&fake);
    dir = kdtest::TempDir();
    doc = NewDoc();
  }
  void TearDown() override {
    platform::KeyStateReset();
    platform::SetTextMeasurer(oldMeasurer);
  }
  static std::unique_ptr<TUndoDoc> NewDoc() {
    auto d = std::make_unique<TUndoDoc>();
    d->SetBounds(0, 0, 800, 600);
    d->HandleNeeded();
    d->SetUseSystemClipboard(false);
    ShowFlat(*d);
    return d;
  }
  // 4 pixels per millimetre, the page's corner at the client's corner.
  static void ShowFlat(TUndoDoc& D) {
    D.SetViewStyle(vsNormal);
    D.SetScreenDpm(4);
    D.SetOriginX(0);
    D.SetOriginY(0);
  }
  void Load(TUndoDoc& D, const std::string& File) {
    D.LoadFromFile(File);
    ShowFlat(D);
  }
  // The page as a save writes it.
  static std::string PageXml(TdtpPage* Page) {
    TXmlDocument xml("Page");
    xml.SetWriteOnDefault(0);
    xml.SetXmlFormat(0);
    Page->SaveToXml(xml.Root());
    return xml.WriteToString();
  }
  std::string SavedXml(TUndoDoc& D, const std::string& Name) {
    const std::string file = dir + "/" + Name;
    D.SaveToFile(file);
    auto other = NewDoc();
    Load(*other, file);
    std::string all;
    for (int32_t i = 0; i < other->PageCount(); ++i) {
      other->SetCurrentPageIndex(i);
      all += PageXml(other->GetPage(i));
    }
    return all;
  }
  void UndoAll(TUndoDoc& D) {
    for (int32_t i = D.UndoCount() - 1; i >= 0; --i) EXPECT_TRUE(D.Undo(D.UndoItem(i))) << i;
  }
  void Press(TPoint P, Qt::KeyboardModifiers Mods = Qt::NoModifier) {
    const TPoint w = Win(doc.get(), P);
    guitest::Press(doc.get(), w.X, w.Y, Qt::LeftButton, Mods);
  }
  void Release(TPoint P, Qt::KeyboardModifiers Mods = Qt::NoModifier) {
    const TPoint w = Win(doc.get(), P);
    guitest::Release(doc.get(), w.X, w.Y, Qt::LeftButton, Mods);
  }
  void MoveHeld(TPoint P, Qt::KeyboardModifiers Mods = Qt::NoModifier) {
    const TPoint w = Win(doc.get(), P);
    guitest::Move(doc.get(), w.X, w.Y, Qt::LeftButton, Mods);
  }
  void Click(TPoint P, Qt::KeyboardModifiers Mods = Qt::NoModifier) {
    Press(P, Mods);
    Release(P, Mods);
  }
  void Drag(TPoint From, TPoint To, Qt::KeyboardModifiers Mods = Qt::NoModifier) {
    Press(From, Mods);
    const int steps = std::max(1, std::max(std::abs(To.X - From.X), std::abs(To.Y - From.Y)) / 8);
    for (int i = 1; i <= steps; ++i)
      MoveHeld({From.X + (To.X - From.X) * i / steps, From.Y + (To.Y - From.Y) * i / steps}, Mods);
    Release(To, Mods);
  }
  void Type(const std::string& S) {
    for (char c : S) guitest::Key(doc.get(), Qt::Key_A + (c - 'a'), Qt::NoModifier, QString(QChar(c)));
  }
  TPoint Centre(TdtpShape* S) {
    platform::TRect r;
    S->GetScreenRect(r);
    return {(r.Left + r.Right) / 2, (r.Top + r.Bottom) / 2};
  }
  // A page with one shape of each kind the editor handles.
  void Populate(TUndoDoc& D) {
    TdtpPage* page = D.CurrentPage();
    auto r = NewShape<TdtpFixtureRect>();
    r->SetDocBounds(20, 20, 40, 30);  // screen (80, 80) to (240, 200)
    r->SetColor(0x0000FF);
    r->SetSmartHitTest(false);
    page->AddShape(std::move(r));
    auto p = NewShape<TdtpRectangleShape>();
    p->SetDocBounds(100, 20, 30, 20);  // screen (400, 80) to (520, 160)
    p->SetFillColor(0x00FF00);
    p->SetUseFill(true);
    p->SetSmartHitTest(false);
    page->AddShape(std::move(p));
    auto t = NewShape<TdtpTextShape>();
    t->SetText("abc");
    t->SetDocPosition(20, 80);
    t->SetSmartHitTest(false);
    page->AddShape(std::move(t));
    auto m = NewShape<TdtpMemoShape>();
    m->SetText("memo");
    m->SetDocPosition(100, 80);
    m->SetSmartHitTest(false);
    page->AddShape(std::move(m));
    auto l = NewShape<TdtpLineShape>();
    l->SetBoundsFromRect({20, 120, 60, 130});  // screen (80, 480) to (240, 520)
    page->AddShape(std::move(l));
    if (&D == doc.get()) {
      D.BeginInsert(NewShape<TdtpFreehandShape>(), 0);
      Press({300, 400});
      MoveHeld({340, 420});
      MoveHeld({380, 400});
      Release({380, 400});
      if (D.DragState() == 5) guitest::Key(doc.get(), Qt::Key_Return);
      page->GetShape(5)->SetSmartHitTest(false);
    }
  }

  platform::TFakeTextMeasurer fake;
  platform::ITextMeasurer* oldMeasurer = nullptr;
  std::string dir;
  std::unique_ptr<TUndoDoc> doc;
};

// Each edit made with the mouse and keys, undone by replaying what it recorded from the last
// command to the first, leaves a document that saves and reloads as before the edit.
TEST_F(UndoTest, EveryKindOfEditUndoesToTheSavedDocument) {
  Populate(*doc);
  const std::string base = dir + "/undo_base.hsf";
  doc->SaveToFile(base);
  Load(*doc, base);
  const std::string before = SavedXml(*doc, "undo_before.hsf");

  struct TCase {
    const char* Name;
    std::function<void()> Edit;
  };
  auto shape = [&](int i) { return doc->CurrentPage()->GetShape(i); };
  const TCase cases[] = {
      {"move", [&] { Drag({100, 100}, {160, 140}); }},
      {"move two", [&] {
         Click({100, 100});
         Click({450, 100}, Qt::ShiftModifier);
         Drag({100, 100}, {130, 170});
       }},
      {"resize", [&] {
         Click({100, 100});
         Drag({240, 200}, {300, 260});
       }},
      {"rotate", [&] {
         Click({100, 100});
         TdtpShape* s = shape(0);
         s->CreateHandles();
         TPoint rot{0, 0};
         for (int y = 0; y < 600 && rot.X == 0; ++y)
           for (int x = 0; x < 800; ++x) {
             TdtpShape* h = nullptr;
             if (doc->HitTest({x, y}, h) == 10) {
               rot = {x, y};
               break;
             }
           }
         ASSERT_NE(rot.X, 0);
         Drag(rot, {rot.X + 80, rot.Y + 40});
       }},
      {"duplicate", [&] {
         Click({100, 100});
         Drag({100, 100}, {140, 300}, Qt::ControlModifier);
       }},
      {"delete", [&] {
         Click({100, 100});
         Click({450, 100}, Qt::ShiftModifier);
         guitest::Key(doc.get(), Qt::Key_Delete);
       }},
      {"cut paste", [&] {
         Click({450, 100});
         guitest::Key(doc.get(), Qt::Key_X, Qt::ControlModifier);
         guitest::Key(doc.get(), Qt::Key_V, Qt::ControlModifier);
         guitest::Key(doc.get(), Qt::Key_V, Qt::ControlModifier);
       }},
      {"text", [&] {
         Click(Centre(shape(2)));
         guitest::Key(doc.get(), Qt::Key_F2);
         Type("xy");
         guitest::Key(doc.get(), Qt::Key_Backspace);
         guitest::Key(doc.get(), Qt::Key_Return);
       }},
      {"memo", [&] {
         Click(Centre(shape(3)));
         guitest::Key(doc.get(), Qt::Key_F2);
         Type("xy");
         guitest::Key(doc.get(), Qt::Key_Return);
         Type("z");
         guitest::Key(doc.get(), Qt::Key_F2);
       }},
      {"line end", [&] {
         Click({160, 500});
         Drag({240, 520}, {300, 560});
       }},
      {"freehand", [&] {
         doc->BeginInsert(NewShape<TdtpFreehandShape>(), 0);
         Press({300, 300});
         MoveHeld({340, 320});
         MoveHeld({380, 300});
         Release({380, 300});
         if (doc->DragState() == 5) guitest::Key(doc.get(), Qt::Key_Return);
       }},
      {"freehand added stroke", [&] {
         TdtpShape* f = shape(5);
         Click({340, 420});
         ASSERT_TRUE(f->Selected());
         guitest::Key(doc.get(), Qt::Key_F2);
         ASSERT_EQ(doc->EditedShape(), f);
         Press({500, 500});
         MoveHeld({540, 540});
         MoveHeld({580, 520});
         Release({580, 520});
         if (doc->DragState() == 5) guitest::Key(doc.get(), Qt::Key_Return);
       }},
      {"rectangle drawn", [&] {
         doc->BeginInsert(NewShape<TdtpRectangleShape>(), 1);
         Drag({600, 300}, {700, 400});
         if (doc->DragState() == 5) guitest::Key(doc.get(), Qt::Key_Return);
       }},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Load(*doc, base);
    ASSERT_EQ(doc->UndoCount(), 0);
    c.Edit();
    ASSERT_EQ(doc->DragState(), 0);
    ASSERT_GT(doc->UndoCount(), 0);
    const std::string edited = SavedXml(*doc, "undo_edited.hsf");
    EXPECT_NE(edited, before);
    Load(*doc, base);
    c.Edit();
    UndoAll(*doc);
    EXPECT_EQ(SavedXml(*doc, "undo_after.hsf"), before);
  }
}


// With UndoPastSave, edits on two pages undone after saves in place and under a new name
// still give the document as it was loaded.
TEST_F(UndoTest, UndoPastSaveAcrossPages) {
  Populate(*doc);
  doc->AddPage(nullptr);
  doc->SetCurrentPageIndex(1);
  Populate(*doc);
  doc->SetCurrentPageIndex(0);
  const std::string base = dir + "/undo2_base.hsf";
  doc->SaveToFile(base);
  for (int mode = 0; mode < 3; ++mode) {
    SCOPED_TRACE(mode);
    Load(*doc, base);
    const std::string before = SavedXml(*doc, "undo2_before.hsf");
    Load(*doc, base);
    doc->SetUndoPastSave(true);
    Drag({100, 100}, {160, 140});
    Click({450, 100});
    guitest::Key(doc.get(), Qt::Key_Delete);
    doc->SetCurrentPageIndex(1);
    ShowFlat(*doc);
    Click({450, 100});
    guitest::Key(doc.get(), Qt::Key_X, Qt::ControlModifier);
    Drag({100, 100}, {130, 180});
    doc->SetCurrentPageIndex(0);
    ShowFlat(*doc);
    guitest::Key(doc.get(), Qt::Key_V, Qt::ControlModifier);
    if (mode == 1) doc->SaveToFile(base + ".tmp.hsf");
    if (mode == 2) {
      doc->SaveToFile(base + ".tmp2.hsf");
      doc->SaveToFile(base + ".tmp2.hsf");
    }
    ASSERT_GT(doc->UndoCount(), 0);
    UndoAll(*doc);
    if (mode == 2) {
      doc->SaveToFile(base + ".tmp2.hsf");
      Load(*doc, base + ".tmp2.hsf");
    }
    EXPECT_EQ(SavedXml(*doc, "undo2_after.hsf"), before);
  }
}


std::string ShapeXml(TdtpShape* S) {
  TXmlDocument xml("Shape");
  xml.SetWriteOnDefault(0);
  xml.SetXmlFormat(0);
  S->SaveToXml(xml.Root());
  return xml.WriteToString();
}

// Every shape copied from one document and pasted into another (through the system clipboard
// or the "Selection" text) saves and reads back there exactly as it is stored in the first;
// undoing the paste leaves the second document empty.
TEST_F(UndoTest, CopyAndPasteBetweenDocumentsKeepsEveryShape) {
  Populate(*doc);
  TdtpPage* page = doc->CurrentPage();
  TBitmap32 b;
  b.SetSize(40, 20);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 40; ++x) b.SetPixel(x, y, x < 20 ? 0xFFFF0000u : 0xFF0000FFu);
  const std::string png = dir + "/clip_pic.png";
  {
    platform::TFileStream f(png, platform::fmCreate);
    raster::TdtpPngFormat().SaveToStream(&f, &b);
  }
  auto bs = NewShape<TdtpBitmapShape>();
  bs->Image()->LoadFromFile(png);
  bs->SetDocPosition(140, 120);
  page->AddShape(std::move(bs));
  auto g = NewShape<TdtpGroupShape>();
  g->SetDocBounds(150, 60, 30, 30);
  auto child = NewShape<TdtpFixtureRect>();
  child->SetDocBounds(1, 1, 10, 10);
  child->SetColor(0x123456);
  g->AddShape(std::move(child));
  page->AddShape(std::move(g));
  auto t = NewShape<TdtpTextShape>();
  t->SetText("caf\xC3\xA9 \xE2\x82\xAC");
  t->SetDocPosition(20, 100);
  page->AddShape(std::move(t));
  const std::string fa = dir + "/clip_a.hsf";
  doc->SaveToFile(fa);
  Load(*doc, fa);
  page = doc->CurrentPage();
  const int32_t n = page->GetShapeCount();
  for (int sys : {0, 1}) {
    SCOPED_TRACE(sys);
    doc->SetUseSystemClipboard(sys);
    Drag({2, 2}, {790, 590});
    ASSERT_EQ(doc->SelectionCount(), n);
    guitest::Key(doc.get(), Qt::Key_C, Qt::ControlModifier);
    auto other = NewDoc();
    other->SetUseSystemClipboard(sys);
    if (sys) {
      guitest::Key(other.get(), Qt::Key_V, Qt::ControlModifier);
      ASSERT_EQ(other->CurrentPage()->GetShapeCount(), n);
      UndoAll(*other);
      EXPECT_EQ(other->CurrentPage()->GetShapeCount(), 0);
      other = NewDoc();
      other->SetUseSystemClipboard(true);
      guitest::Key(other.get(), Qt::Key_V, Qt::ControlModifier);
    } else {
      // The internal clipboard belongs to one document; its text is what a paste reads.
      ASSERT_EQ(other->XmlToSelection(doc->InternalClipboard()), n);
    }
    ASSERT_EQ(other->CurrentPage()->GetShapeCount(), n);
    const std::string fb = dir + "/clip_b.hsf";
    other->SaveToFile(fb);
    auto reread = NewDoc();
    Load(*reread, fb);
    ASSERT_EQ(reread->CurrentPage()->GetShapeCount(), n);
    for (int32_t i = 0; i < n; ++i) EXPECT_EQ(ShapeXml(reread->CurrentPage()->GetShape(i)), ShapeXml(page->GetShape(i))) << i;
  }
}

}  // namespace

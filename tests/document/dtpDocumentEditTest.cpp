// Editing in the document view: selection by click and rubber band, dragging, keyboard,
// the clipboard's "Selection" XML, undo replay, and the painted selection outline.
#include <gtest/gtest.h>

#include <QImage>

#include "../common/TestSupport.h"
#include "document/XmlDocuments.h"
#include "document/dtpDocument.h"
#include "document/dtpFreehandShape.h"
#include "document/dtpLineEdit.h"
#include "document/dtpMemoShape.h"
#include "document/dtpTextShape.h"
#include "platform/Font.h"
#include "platform/Clipboard.h"
#include "platform/Dialogs.h"
#include "platform/ExtCtrls.h"
#include "platform/Menus.h"
#include "platform/Graphics.h"
#include "platform/KeyState.h"
#include "tools/DocumentFixtures.h"

using namespace document;
using kdfixture::TdtpFixtureRect;
using platform::TPoint;

namespace {

class TEditDoc : public TdtpComponent {
 public:
  TEditDoc() : TdtpComponent(nullptr) {}
  using TdtpDocument::KeyDown;
  using TdtpDocument::KeyPress;
  using TdtpDocument::KeyUp;
  using TdtpDocument::MouseDown;
  using TdtpDocument::MouseMove;
  using TdtpDocument::MouseUp;
  using TdtpDocument::WantSpecialKey;
};

// A shape that stays in its edit state (the base shape declines editing at once).
class TEditableRect : public TdtpFixtureRect {
 public:
  void StartEdit() override {}
  void KeyDownHook(platform::Word& Key, platform::TShiftState) override { Keys.push_back(Key); }
  void KeyUpHook(platform::Word Key, platform::TShiftState) override { UpKeys.push_back(Key); }
  void DblClickHook() override { ++DblClicks; }
  void MouseDownHook(platform::TMouseButton, platform::TShiftState, int32_t, int32_t) override { ++Presses; }
  std::vector<platform::Word> Keys, UpKeys;
  int DblClicks = 0, Presses = 0;
};

constexpr uint32_t kQtCtrl = 0x04000000;

class EditTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kdfixture::InitializeFixtures();
    platform::KeyStateReset();
    doc = std::make_unique<TEditDoc>();
    doc->SetBounds(0, 0, 800, 600);
    doc->HandleNeeded();
    doc->SetViewStyle(vsNormal);
    doc->SetScreenDpm(4);  // 4 pixels per millimetre, origin at the page's corner
    doc->SetOriginX(0);
    doc->SetOriginY(0);
    doc->SetUseSystemClipboard(false);
    a = Add(20, 20, 40, 30, 0x0000FF);  // screen (80, 80) to (240, 200)
    b = Add(100, 20, 20, 20, 0xFF0000);  // screen (400, 80) to (480, 160)
    doc->ClearUndo();
  }
  void TearDown() override { platform::KeyStateReset(); }
  TdtpShape* Add(float L, float T, float W, float H, platform::TColor C) {
    auto s = NewShape<TdtpFixtureRect>();
    s->SetDocBounds(L, T, W, H);
    s->SetColor(C);
    s->SetSmartHitTest(false);
    TdtpShape* raw = s.get();
    doc->CurrentPage()->AddShape(std::move(s));
    return raw;
  }
  void Click(int X, int Y, platform::TShiftState Shift = 0) {
    doc->MouseDown(platform::mbLeft, Shift | platform::ssLeft, X, Y);
    doc->MouseUp(platform::mbLeft, Shift, X, Y);
  }
  void Drag(TPoint From, TPoint To, platform::TShiftState Shift = 0) {
    doc->MouseDown(platform::mbLeft, Shift | platform::ssLeft, From.X, From.Y);
    doc->MouseMove(Shift | platform::ssLeft, (From.X + To.X) / 2, (From.Y + To.Y) / 2);
    doc->MouseMove(Shift | platform::ssLeft, To.X, To.Y);
    doc->MouseUp(platform::mbLeft, Shift, To.X, To.Y);
  }
  std::unique_ptr<TEditDoc> doc;
  TdtpShape* a = nullptr;
  TdtpShape* b = nullptr;
};

TEST_F(EditTest, ClickSelectsAndHitTestOrder) {
  TdtpShape* s = nullptr;
  EXPECT_EQ(doc->HitTest({100, 100}, s), 1);
  EXPECT_EQ(s, a);
  Click(100, 100);
  EXPECT_TRUE(a->Selected());
  EXPECT_EQ(doc->FocusShape(), a);
  // Handles of the selected shape come before bodies.
  EXPECT_EQ(doc->HitTest({240, 200}, s), 6);
  EXPECT_EQ(s, a);
  Click(420, 100, platform::ssShift);
  EXPECT_EQ(doc->SelectionCount(), 2);
  EXPECT_EQ(doc->SelectedShape(1), b);
  Click(420, 100, platform::ssShift);
  EXPECT_EQ(doc->SelectionCount(), 1);
  doc->SetReadOnly(true);
  EXPECT_EQ(doc->HitTest({100, 100}, s), 0);
  EXPECT_EQ(s, nullptr);
}

TEST_F(EditTest, DragThresholdMoveAndUndo) {
  Click(100, 100);
  doc->ClearUndo();
  // 3 pixels (9 <= 10) does not start a move.
  doc->MouseDown(platform::mbLeft, platform::ssLeft, 100, 100);
  doc->MouseMove(platform::ssLeft, 103, 100);
  EXPECT_EQ(doc->DragState(), 0);
  doc->MouseMove(platform::ssLeft, 104, 100);
  EXPECT_EQ(doc->DragState(), 1);
  EXPECT_TRUE(doc->OutlinesShown());
  doc->MouseMove(platform::ssLeft, 140, 120);
  doc->MouseUp(platform::mbLeft, 0, 140, 120);
  EXPECT_EQ(doc->DragState(), 0);
  EXPECT_FLOAT_EQ(a->DocLeft(), 30);
  EXPECT_FLOAT_EQ(a->DocTop(), 25);
  EXPECT_FLOAT_EQ(a->DocWidth(), 40);
  // The move was recorded; replaying restores the first old values.
  ASSERT_GE(doc->UndoCount(), 2);
  for (int i = doc->UndoCount() - 1; i >= 0; --i) EXPECT_TRUE(doc->Undo(doc->UndoItem(i)));
  EXPECT_FLOAT_EQ(a->DocLeft(), 20);
  EXPECT_FLOAT_EQ(a->DocTop(), 20);
}

TEST_F(EditTest, EscapeCancelsAMoveAndCtrlStartsABand) {
  Click(100, 100);
  doc->MouseDown(platform::mbLeft, platform::ssLeft, 100, 100);
  doc->MouseMove(platform::ssLeft, 160, 100);
  ASSERT_EQ(doc->DragState(), 1);
  EXPECT_GT(doc->XorOverlay().Count(), 0);
  platform::Word esc = 27;
  doc->KeyDown(esc, 0);
  EXPECT_EQ(doc->DragState(), 0);
  EXPECT_EQ(doc->XorOverlay().Count(), 0);
  doc->MouseUp(platform::mbLeft, 0, 160, 100);
  EXPECT_FLOAT_EQ(a->DocLeft(), 20);
  // A move or band whose left button another button interrupts, or whose release went
  // elsewhere (to a popup menu), ends like Escape: nothing moves, no outline stays.
  for (int how = 0; how < 6; ++how) {
    const int x = how < 3 ? 100 : 700;
    doc->MouseDown(platform::mbLeft, platform::ssLeft, x, 100);
    doc->MouseMove(platform::ssLeft, x + 60, 130);
    ASSERT_EQ(doc->DragState(), how < 3 ? 1 : 2);
    if (how % 3 == 0) doc->MouseDown(platform::mbRight, platform::ssLeft | platform::ssRight, x + 60, 130);
    else if (how % 3 == 1) doc->MouseMove(0, x + 70, 130);
    else doc->MouseDown(platform::mbLeft, platform::ssLeft, 700, 500);  // the next press, on nothing
    EXPECT_NE(doc->DragState(), 1) << how;
    EXPECT_EQ(doc->XorOverlay().Count(), how % 3 == 2 ? 1 : 0) << how;  // only the new band
    doc->MouseUp(platform::mbLeft, 0, x + 70, 130);
    EXPECT_FLOAT_EQ(a->DocLeft(), 20);
  }
  // The zoom changing during a move takes the outline off as it was drawn.
  for (bool cancel : {true, false}) {
    doc->MouseDown(platform::mbLeft, platform::ssLeft, 100, 100);
    doc->MouseMove(platform::ssLeft, 160, 100);
    doc->SetScreenDpm(cancel ? 8 : 2);
    doc->MouseMove(platform::ssLeft, 170, 110);
    if (cancel) doc->KeyDown(esc, 0);
    doc->MouseUp(platform::mbLeft, 0, 170, 110);
    EXPECT_EQ(doc->XorOverlay().Count(), 0) << cancel;
    doc->SetScreenDpm(4);
  }
  a->SetDocPosition(20, 20);
  // Leaving the view ends the move unapplied and starts drag and drop.
  doc->MouseDown(platform::mbLeft, platform::ssLeft, 100, 100);
  doc->MouseMove(platform::ssLeft, 160, 100);
  doc->MouseMove(platform::ssLeft, -5, 100);
  EXPECT_EQ(doc->DragState(), 0);
  EXPECT_TRUE(doc->Dragging());
  doc->EndDrag(false);
  doc->MouseUp(platform::mbLeft, 0, -5, 100);
  EXPECT_FLOAT_EQ(a->DocLeft(), 20);
  // msmCtrl: Ctrl over a shape starts a band instead of selecting it.
  doc->SetMultiSelectMethod(msmCtrl);
  doc->ClearSelection();
  doc->MouseDown(platform::mbLeft, platform::ssLeft | platform::ssCtrl, 100, 100);
  EXPECT_EQ(doc->DragState(), 2);
  EXPECT_FALSE(a->Selected());
  doc->MouseMove(platform::ssLeft | platform::ssCtrl, 500, 170);
  doc->MouseUp(platform::mbLeft, platform::ssCtrl, 500, 170);
  EXPECT_TRUE(a->Selected());
  EXPECT_TRUE(b->Selected());
  // Without Ctrl an empty press just clears the selection.
  Click(700, 500);
  EXPECT_EQ(doc->SelectionCount(), 0);
  EXPECT_EQ(doc->DragState(), 0);
}

TEST_F(EditTest, ResizeAndRotateWithHandles) {
  Click(100, 100);
  Drag({240, 140}, {280, 140});  // right edge by 10 mm
  EXPECT_FLOAT_EQ(a->DocWidth(), 50);
  EXPECT_FLOAT_EQ(a->DocHeight(), 30);
  EXPECT_FLOAT_EQ(a->DocLeft(), 20);
  // Rotation handle at 1.03 * W right of the left edge, mid-height; snapping to 15 degrees.
  doc->SetStepAngle(15);
  const int hx = int(std::lround((20 + 1.03 * 50) * 4)), hy = (20 + 15) * 4;
  Drag({hx, hy}, {hx, hy - 40});
  // 10 mm up at 25 mm from the centre: 21.8 degrees, snapped to 15.
  EXPECT_NEAR(a->DocAngle(), 15, 1e-4);
}

TEST_F(EditTest, HandleCursorTurnsWithTheShape) {
  EXPECT_EQ(doc->HandleCursor(a, 2), platform::crSizeNWSE);
  EXPECT_EQ(doc->HandleCursor(a, 5), platform::crSizeNS);
  a->SetDocAngle(45);  // one step: 2 -> 3
  EXPECT_EQ(doc->HandleCursor(a, 2), platform::crSizeWE);
  EXPECT_EQ(doc->HandleCursor(a, 9), platform::crSizeNWSE);  // 9 wraps to 2
  EXPECT_EQ(doc->HandleCursor(a, 1), doc->Cursor());
}

TEST_F(EditTest, RubberBandSelects) {
  Drag({60, 60}, {300, 300});  // press on empty space with msmSimple
  EXPECT_EQ(doc->DragState(), 0);
  EXPECT_TRUE(a->Selected());
  EXPECT_FALSE(b->Selected());
  EXPECT_EQ(doc->FocusShape(), a);
  EXPECT_EQ(doc->XorOverlay().Count(), 0);  // the band is erased
  Drag({60, 60}, {60, 300});  // zero width selects nothing
  EXPECT_EQ(doc->SelectionCount(), 0);
}

TEST_F(EditTest, CtrlDragDuplicates) {
  Click(100, 100);
  platform::KeyStateNoteInput(kQtCtrl, 0);
  Drag({100, 100}, {140, 100});
  platform::KeyStateReset();
  ASSERT_EQ(doc->CurrentPage()->GetShapeCount(), 3);
  EXPECT_FLOAT_EQ(a->DocLeft(), 20);
  TdtpShape* copy = doc->SelectedShape(0);
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy, a);
  EXPECT_FLOAT_EQ(copy->DocLeft(), 30);
  EXPECT_FLOAT_EQ(copy->DocWidth(), 40);
}

TEST_F(EditTest, KeyboardDeleteEscapeAndClipboardKeys) {
  Click(100, 100);
  Click(420, 100, platform::ssShift);
  platform::TKeyChar c = 3;  // Ctrl+C
  doc->KeyPress(c);
  EXPECT_EQ(c, 0u);
  EXPECT_FALSE(doc->InternalClipboard().empty());
  platform::Word del = 46;
  doc->KeyDown(del, 0);
  EXPECT_EQ(doc->CurrentPage()->GetShapeCount(), 0);
  EXPECT_EQ(doc->FocusShape(), nullptr);
  c = 22;  // Ctrl+V
  doc->KeyPress(c);
  EXPECT_EQ(doc->CurrentPage()->GetShapeCount(), 2);
  platform::Word esc = 27;
  doc->KeyDown(esc, 0);
  EXPECT_EQ(doc->DragState(), 0);
  EXPECT_TRUE(doc->WantSpecialKey(37, 0));
}

TEST_F(EditTest, CopyPasteRoundTripAndOffsets) {
  Click(100, 100);
  doc->CopyToClipboard();
  const std::string xml = doc->InternalClipboard();
  EXPECT_NE(xml.find("<Selection>"), std::string::npos);
  doc->PasteFromClipboard();
  ASSERT_EQ(doc->CurrentPage()->GetShapeCount(), 3);
  TdtpShape* p1 = doc->SelectedShape(0);
  EXPECT_FLOAT_EQ(p1->DocLeft(), 30);
  EXPECT_FLOAT_EQ(p1->DocTop(), 30);
  EXPECT_EQ(p1->Color(), a->Color());
  EXPECT_EQ(p1->ClassName(), "TdtpFixtureRect");
  doc->PasteFromClipboard();
  TdtpShape* p2 = doc->SelectedShape(0);
  EXPECT_FLOAT_EQ(p2->DocLeft(), 40);
  EXPECT_FLOAT_EQ(p2->DocTop(), 40);
  // Cut removes and keeps the text.
  doc->CutToClipboard();
  EXPECT_EQ(doc->CurrentPage()->GetShapeCount(), 3);
  EXPECT_TRUE(doc->CanPaste());
}

TEST_F(EditTest, SystemClipboardAndHostileText) {
  doc->SetUseSystemClipboard(true);
  platform::Clipboard()->SetAsText("<xml version=\"1.0\"?>");
  EXPECT_FALSE(doc->CanPaste());
  platform::Clipboard()->SetAsText("<?xml version=\"1.0\"?><Selection/>");
  EXPECT_TRUE(doc->CanPaste());
  doc->PasteFromClipboard();  // no children: nothing
  EXPECT_EQ(doc->CurrentPage()->GetShapeCount(), 2);
  EXPECT_EQ(doc->XmlToSelection("<?xml version=\"1.0\"?><Other><Shape/></Other>"), 0);

  // Text that is not a selection pastes nothing and raises nothing: plain words, text that
  // does not parse, a truncated selection.
  Click(100, 100);
  for (const char* text : {"hello world", "", "<?xml version=\"1.0\"?><Selection><Shape><ClassName>TdtpFixtureRect",
                           "<Selection><Shape>"}) {
    platform::Clipboard()->SetAsText(text);
    EXPECT_NO_THROW(doc->PasteFromClipboard()) << text;
    EXPECT_EQ(doc->XmlToSelection(text), 0) << text;
    EXPECT_EQ(doc->CurrentPage()->GetShapeCount(), 2) << text;
    EXPECT_TRUE(a->Selected()) << text;
    EXPECT_EQ(doc->UpdateCount(), 0) << text;
  }
  // Through the keyboard as well: Ctrl+V with plain text on the clipboard.
  platform::Clipboard()->SetAsText("hello world");
  platform::TKeyChar v = 22;
  EXPECT_NO_THROW(doc->KeyPress(v));
  EXPECT_EQ(doc->CurrentPage()->GetShapeCount(), 2);
  EXPECT_EQ(doc->UpdateCount(), 0);
}

TEST_F(EditTest, DamagedSelectionTextPastesWholeOrNothing) {
  Click(100, 100);
  Click(420, 100, platform::ssShift);
  const std::string good = doc->SelectionToXml();
  ASSERT_FALSE(good.empty());
  uint32_t seed = 12345;
  auto next = [&] { return seed = seed * 1103515245u + 12345u; };
  int refused = 0;
  for (int round = 0; round < 300; ++round) {
    std::string text = good;
    const int edits = 1 + int(next() % 4);
    for (int e = 0; e < edits; ++e) {
      const size_t at = next() % text.size();
      switch (next() % 3) {
        case 0: text[at] = char(next() % 256); break;
        case 1: text.erase(at, 1 + next() % 8); break;
        default: text.resize(at); break;
      }
      if (text.empty()) text = "<";
    }
    const int before = doc->CurrentPage()->GetShapeCount();
    try {
      const int n = doc->XmlToSelection(text);
      EXPECT_EQ(doc->CurrentPage()->GetShapeCount(), before + n);
      if (n == 0) ++refused;
    } catch (const platform::Exception&) {
      ++refused;
      EXPECT_EQ(doc->CurrentPage()->GetShapeCount(), before);
    }
    EXPECT_EQ(doc->UpdateCount(), 0);
  }
  EXPECT_GT(refused, 0);
}

TEST_F(EditTest, UndoRecordingAndReplay) {
  a->SetDocLeft(25);
  a->SetDocLeft(27);
  ASSERT_EQ(doc->UndoCount(), 1);  // one command holding the first old value
  EXPECT_EQ(doc->UndoItem(0)->Value, "20");
  EXPECT_TRUE(doc->Undo(doc->UndoItem(0)));
  EXPECT_FLOAT_EQ(a->DocLeft(), 20);
  EXPECT_EQ(doc->UndoCount(), 1);  // replay records nothing
  // A deleted shape comes back from its command with its data.
  Click(420, 100);
  doc->ClearUndo();
  doc->DeleteSelection();
  ASSERT_EQ(doc->CurrentPage()->GetShapeCount(), 1);
  ASSERT_GE(doc->UndoCount(), 1);
  EXPECT_TRUE(doc->Undo(doc->UndoItem(doc->UndoCount() - 1)));
  ASSERT_EQ(doc->CurrentPage()->GetShapeCount(), 2);
  EXPECT_EQ(doc->CurrentPage()->GetShape(1)->Color(), platform::TColor(0xFF0000));
  // A command nobody accepts reports and changes nothing.
  std::vector<std::string> shown;
  auto old = platform::SetMessageHandler([&](const platform::TMessageRequest& R) {
    shown.push_back(R.Text);
    return platform::mrOk;
  });
  TdtpCommand stray(ckPropertyChange, 999999, "DocLeft", "1");
  EXPECT_FALSE(doc->Undo(&stray));
  platform::SetMessageHandler(old);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0], "Unable to execute UNDO");
  EXPECT_THROW(doc->EndUndo(), platform::Exception);
}

TEST_F(EditTest, HotZoneRampsUpNearAnEdge) {
  EXPECT_EQ(doc->HotZoneTimer(), nullptr);
  doc->SetHotZoneScrolling(hzsAlways);
  ASSERT_NE(doc->HotZoneTimer(), nullptr);
  EXPECT_EQ(doc->HotZoneTimer()->Interval(), 50u);
  doc->SetDefaultPageWidth(1000);  // room to scroll both ways
  doc->UpdateLayout();
  const double cw = doc->ClientWidth();
  // A fast mouse does not start scrolling.
  EXPECT_EQ(doc->HotZoneStepAt({3, 300}, 1000), (TPoint{0, 0}));
  EXPECT_FALSE(doc->HotZoneActive());
  // Resting 3 pixels inside the left edge: fx = 3/zone - 1, squared, limited to 10/700 first.
  const double fx = 3 / (0.07 * cw) - 1;
  EXPECT_LT(fx * fx, 1.0);
  EXPECT_GT(fx * fx, 10 / 700.0);
  EXPECT_EQ(doc->HotZoneStepAt({3, 300}, 1050), (TPoint{-1, 0}));  // nearest(50 * -10/700 * 2)
  EXPECT_TRUE(doc->HotZoneActive());
  EXPECT_EQ(doc->HotZoneStepAt({3, 300}, 1100), (TPoint{-9, 0}));  // ramp 60: nearest(-8.57)
  // Leaving the zone stops it.
  EXPECT_EQ(doc->HotZoneStepAt({400, 300}, 1150), (TPoint{0, 0}));
  EXPECT_FALSE(doc->HotZoneActive());
  doc->SetHotZoneScrolling(hzsNoScroll);
  EXPECT_EQ(doc->HotZoneTimer(), nullptr);
}

TEST_F(EditTest, PopupMenuFollowsTheEditState) {
  EXPECT_EQ(doc->GetPopupMenu(), nullptr);
  auto e = NewShape<TEditableRect>();
  TEditableRect* ed = e.get();
  doc->CurrentPage()->AddShape(std::move(e));
  doc->EditShape(ed);
  EXPECT_EQ(doc->DragState(), 5);
  EXPECT_EQ(doc->EditedShape(), ed);
  platform::TPopupMenu* m = doc->GetPopupMenu();
  ASSERT_NE(m, nullptr);
  ASSERT_EQ(m->Items()->Count(), 3);
  EXPECT_EQ(m->Items()->Items(0)->Caption(), "Cut");
  EXPECT_EQ(m->Items()->Items(1)->Caption(), "Copy");
  EXPECT_EQ(m->Items()->Items(2)->Caption(), "Paste");
  platform::Word esc = 27;  // keys go to the edited shape, not the document
  doc->KeyDown(esc, 0);
  EXPECT_EQ(doc->DragState(), 5);
  EXPECT_EQ(ed->Keys, std::vector<platform::Word>{27});
  doc->EndShapeEdit(true);
  EXPECT_EQ(doc->DragState(), 0);
  EXPECT_EQ(doc->EditedShape(), nullptr);
}

TEST_F(EditTest, PaintsSelectionWithHandles) {
  Click(100, 100);
  a->SetDocAngle(15);
  doc->SetHandleColor(0x00FFFF);
  platform::TBitmap bmp;
  bmp.SetPixelFormat(platform::pf32bit);
  bmp.SetSize(doc->ClientWidth(), doc->ClientHeight());
  doc->PaintDocument(bmp.Canvas());
  doc->PaintSelection(bmp.Canvas());
  bmp.Canvas()->Release();
  const QImage& img = bmp.Image();
  ASSERT_TRUE(img.save(QString::fromStdString(kdtest::OutputDir() + "/document_edit_selection.png")));
  a->CreateHandles();
  for (int i = 0; i < a->HandleCount(); ++i) {
    platform::TRect r{0, 0, 0, 0};
    a->GetHandleRect(i, r);
    const QRgb px = img.pixel(r.Left + 3, r.Top + 3);
    EXPECT_EQ(qRed(px), 255) << i;
    EXPECT_EQ(qGreen(px), 255) << i;
    EXPECT_EQ(qBlue(px), 0) << i;
  }
  doc->SetReadOnly(true);
  platform::TBitmap again;
  again.SetPixelFormat(platform::pf32bit);
  again.SetSize(doc->ClientWidth(), doc->ClientHeight());
  doc->PaintDocument(again.Canvas());
  doc->PaintSelection(again.Canvas());
  again.Canvas()->Release();
  platform::TRect r{0, 0, 0, 0};
  a->GetHandleRect(0, r);
  EXPECT_NE(again.Image().pixel(r.Left + 3, r.Top + 3), img.pixel(r.Left + 3, r.Top + 3));
}

// --- text editing through the document ---------------------------------------------------

// Text shapes with the deterministic measurer: every character advances half the pixel height.
class TextEditTest : public EditTest {
 protected:
  void SetUp() override {
    EditTest::SetUp();
    InitializeDtpEffectShape();
    InitializeDtpTextShape();
    InitializeDtpMemoShape();
    old = platform::SetTextMeasurer(&fake);
  }
  void TearDown() override {
    platform::SetTextMeasurer(old);
    EditTest::TearDown();
  }
  template <typename T>
  T* AddText(const std::string& Text, float L, float T0) {
    auto s = NewShape<T>();
    s->SetSmartHitTest(false);
    s->SetText(Text);
    s->SetDocPosition(L, T0);
    T* raw = s.get();
    doc->CurrentPage()->AddShape(std::move(s));
    return raw;
  }
  platform::TPoint ScreenOf(TdtpShape* S, float X, float Y) {
    raster::TdtpFloatPoint p;
    S->LocalToScreen({X, Y}, p);
    return {int32_t(std::lround(p.X)), int32_t(std::lround(p.Y))};
  }
  void DoubleClick(platform::TPoint P) {
    doc->MouseDown(platform::mbLeft, platform::ssLeft, P.X, P.Y);
    doc->MouseUp(platform::mbLeft, 0, P.X, P.Y);
    doc->MouseDown(platform::mbLeft, platform::ssLeft | platform::ssDouble, P.X, P.Y);
    doc->MouseUp(platform::mbLeft, 0, P.X, P.Y);
  }
  void Type(const std::string& S) {
    for (char32_t c : Utf8ToChars(S)) {
      platform::TKeyChar k = c;
      doc->KeyPress(k);
    }
  }
  void Key(platform::Word K, platform::TShiftState Shift = 0) { doc->KeyDown(K, Shift); }
  // Paints the view as the control does: the page, then the selection and editing outlines.
  QImage PaintView() {
    platform::TBitmap bmp;
    bmp.SetPixelFormat(platform::pf32bit);
    bmp.SetSize(doc->ClientWidth(), doc->ClientHeight());
    doc->PaintDocument(bmp.Canvas());
    doc->PaintSelection(bmp.Canvas());
    bmp.Canvas()->Release();
    return bmp.Image().copy();
  }
  static int CountColour(const QImage& Img, QRgb C, const QRect& R) {
    int n = 0;
    for (int y = std::max(0, R.top()); y <= std::min(Img.height() - 1, R.bottom()); ++y)
      for (int x = std::max(0, R.left()); x <= std::min(Img.width() - 1, R.right()); ++x)
        if ((Img.pixel(x, y) & 0xFFFFFF) == (C & 0xFFFFFF)) ++n;
    return n;
  }
  platform::TFakeTextMeasurer fake;
  platform::ITextMeasurer* old = nullptr;
};

const char* const kDutch = "\xC3\x89\xC3\xA9n \xC3\xA9\xC3\xA9nvoudige oefening \xE2\x80\x94 \xE2\x82\xAC" "5";

TEST_F(TextEditTest, TypingDeletingSelectingAndUndoingMultiByteText) {
  auto* t = AddText<TdtpTextShape>("caf", 20, 60);
  doc->ClearUndo();
  DoubleClick(ScreenOf(t, 1, 2));
  ASSERT_EQ(doc->DragState(), 5);
  ASSERT_EQ(doc->EditedShape(), t);
  Type("\xC3\xA9\xE2\x82\xAC");  // "é€" as two key presses
  EXPECT_EQ(t->Text(), "caf\xC3\xA9\xE2\x82\xAC");
  EXPECT_EQ(t->CaretIndex(), 5);
  EXPECT_EQ(t->CaretX().size(), 6u);
  Key(8);  // one backspace takes the whole "€"
  EXPECT_EQ(t->Text(), "caf\xC3\xA9");
  Key(37, platform::ssShift);
  Key(37, platform::ssShift);
  EXPECT_EQ(t->SelStart(), 2);
  EXPECT_EQ(t->SelLength(), 2);
  Type("\xC3\xAB");  // "ë" replaces "fé"
  EXPECT_EQ(t->Text(), "ca\xC3\xAB");
  Key(36);
  Key(46);
  EXPECT_EQ(t->Text(), "a\xC3\xAB");
  Type("\xC4\xB3");  // "ĳ" is spelt out
  EXPECT_EQ(t->Text(), "ija\xC3\xAB");
  Key(13);  // Enter accepts
  EXPECT_EQ(doc->DragState(), 0);
  EXPECT_EQ(t->Text(), "ija\xC3\xAB");
  // The first recorded text is the one from before the edit; replaying it restores it.
  const TdtpCommand* first = nullptr;
  for (int i = 0; i < doc->UndoCount() && !first; ++i)
    if (doc->UndoItem(i)->Name == "Text") first = doc->UndoItem(i);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->Value, "caf");
  EXPECT_TRUE(doc->Undo(const_cast<TdtpCommand*>(first)));
  EXPECT_EQ(t->Text(), "caf");
  // Escape drops the edit.
  DoubleClick(ScreenOf(t, 1, 2));
  Type(kDutch);
  Key(27);
  EXPECT_EQ(t->Text(), "caf");
}

// A shape moved elsewhere while it is edited keeps what was typed: the edit ends as turning the
// page ends it, not as a deletion does.
TEST_F(TextEditTest, MovingTheEditedShapeKeepsWhatWasTyped) {
  for (int way = 0; way < 4; ++way) {  // to another page, another document, a group; its page
    SCOPED_TRACE(way);                 // to another document
    doc->SetPageCount(2);
    auto* t = AddText<TdtpTextShape>("caf", 20, 60);
    DoubleClick(ScreenOf(t, 1, 2));
    ASSERT_EQ(doc->EditedShape(), t);
    Type("xy");
    TdtpComponent other(nullptr);
    doc->CurrentPage()->AddShape(NewShape<TdtpShape>());
    TdtpShape* parents[] = {doc->GetPage(1), other.GetPage(0), doc->CurrentPage()->GetShape(1)};
    if (way < 3) parents[way]->InsertShape(0, std::unique_ptr<TdtpShape>(t));
    if (way == 3) other.AddPage(std::unique_ptr<TdtpPage>(doc->CurrentPage()));
    EXPECT_EQ(doc->EditedShape(), nullptr);
    EXPECT_EQ(t->Text(), "cafxy");
    doc->Clear();
  }
}

TEST_F(TextEditTest, MemoEditsCharactersAcrossLines) {
  auto* m = AddText<TdtpMemoShape>("", 20, 60);
  m->SetWordWrap(false);
  DoubleClick(ScreenOf(m, 1, 2));
  ASSERT_EQ(doc->EditedShape(), m);
  Type("\xC3\xA9\xC3\xA9n");
  Key(13);  // Enter breaks the line in a memo
  Type("\xE2\x82\xAC" "5");
  EXPECT_EQ(m->Text(), "\xC3\xA9\xC3\xA9n\r\xE2\x82\xAC" "5");
  ASSERT_EQ(m->CaretX().size(), 7u);
  EXPECT_EQ(m->CaretLine()[6], 1);
  Key(38);  // Up to the first line, same column
  EXPECT_EQ(m->CaretIndex(), 2);
  Key(8);
  EXPECT_EQ(m->Text(), "\xC3\xA9n\r\xE2\x82\xAC" "5");
  EXPECT_EQ(m->WrappedLines(), (std::vector<std::string>{"\xC3\xA9n", "\xE2\x82\xAC" "5"}));
  Key(9);
  EXPECT_EQ(doc->DragState(), 0);
}

// The view paints a text shape's caret and selection while it is edited, and the handles of a
// selected text shape otherwise.
TEST_F(TextEditTest, ViewPaintsCaretSelectionAndHandles) {
  auto* t = AddText<TdtpTextShape>("abc def", 20, 60);
  const QRgb caret = qRgb(0, 0, 0x80), grey = qRgb(0x80, 0x80, 0x80);
  platform::TRect sr;
  t->GetScreenRect(sr);
  const QRect area(sr.Left - 4, sr.Top - 4, sr.Width() + 8, sr.Height() + 8);
  Click(sr.Left + 2, sr.Top + 2);
  ASSERT_TRUE(t->Selected());
  doc->SetHandleColor(0x00FFFF);
  QImage img = PaintView();
  t->CreateHandles();
  platform::TRect hr;
  t->GetHandleRect(0, hr);
  EXPECT_EQ(img.pixel(hr.Left + 3, hr.Top + 3) & 0xFFFFFF, qRgb(255, 255, 0) & 0xFFFFFFu);
  EXPECT_EQ(CountColour(img, caret, area), 0);

  DoubleClick(ScreenOf(t, 1, 2));
  ASSERT_EQ(doc->EditedShape(), t);
  img = PaintView();
  // The caret stands at the end of the text: a 2-pixel line one line pitch high.
  const platform::TPoint top = ScreenOf(t, t->CaretX().back(), 0);
  const int pitch = int(std::lround(1.2 * t->FontHeight() * doc->ScreenDpm()));
  const int caretPixels = CountColour(img, caret, QRect(top.X - 2, top.Y - 1, 5, pitch + 3));
  EXPECT_GE(caretPixels, 2 * (pitch - 1));
  EXPECT_LE(caretPixels, 2 * (pitch + 2));
  EXPECT_EQ(CountColour(img, grey, area), 0);
  Key(37, platform::ssShift);
  Key(37, platform::ssShift);
  Key(37, platform::ssShift);
  img = PaintView();
  const platform::TPoint a0 = ScreenOf(t, t->CaretX()[4], 0), a1 = ScreenOf(t, t->CaretX()[7], 0);
  EXPECT_GT(CountColour(img, grey, QRect(a0.X, a0.Y, a1.X - a0.X, pitch)), 10);
  EXPECT_EQ(CountColour(img, grey, QRect(sr.Left, a0.Y, a0.X - sr.Left - 1, pitch)), 0);
  // An edited shape that is not selected still shows its caret.
  t->SetSelected(false);
  Key(39);
  img = PaintView();
  EXPECT_GT(CountColour(img, caret, area), 0);
  // A selected shape that cannot be selected shows no outline.
  Key(27);
  t->SetSelected(true);
  t->SetAllowSelect(false);
  img = PaintView();
  t->GetHandleRect(0, hr);
  EXPECT_NE(img.pixel(hr.Left + 3, hr.Top + 3) & 0xFFFFFF, qRgb(255, 255, 0) & 0xFFFFFFu);
}

// Ctrl+V while editing pastes clipboard text into the shape; outside editing, a copied text
// shape pastes as a selection with its text intact.
TEST_F(TextEditTest, PasteIntoTextAndPasteOfATextSelection) {
  doc->SetUseSystemClipboard(true);
  auto* t = AddText<TdtpTextShape>("a", 20, 60);
  DoubleClick(ScreenOf(t, 1, 2));
  ASSERT_EQ(doc->EditedShape(), t);
  platform::Clipboard()->SetAsText(std::string(kDutch) + "\xC4\xB3");
  platform::TKeyChar v = 22;
  doc->KeyPress(v);
  EXPECT_EQ(t->Text(), "a" + std::string(kDutch) + "ij");
  EXPECT_EQ(doc->CurrentPage()->GetShapeCount(), 3);  // nothing pasted as shapes
  Key(13);
  ASSERT_EQ(doc->DragState(), 0);
  doc->ClearSelection();
  t->SetSelected(true);
  platform::TKeyChar c = 3;
  doc->KeyPress(c);
  v = 22;
  doc->KeyPress(v);
  ASSERT_EQ(doc->CurrentPage()->GetShapeCount(), 4);
  auto* copy = dynamic_cast<TdtpTextShape*>(doc->SelectedShape(0));
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy, t);
  EXPECT_EQ(copy->Text(), t->Text());
  EXPECT_FLOAT_EQ(copy->DocLeft(), t->DocLeft() + 10);
  EXPECT_FLOAT_EQ(copy->DocTop(), t->DocTop() + 10);
}

TEST_F(TextEditTest, DoubleClickWhileEditingSelectsAWord) {
  auto* t = AddText<TdtpTextShape>(kDutch, 20, 60);
  DoubleClick(ScreenOf(t, 1, 2));
  ASSERT_EQ(doc->EditedShape(), t);
  EXPECT_EQ(t->SelLength(), 0);
  // Inside "éénvoudige" (characters 4 to 13).
  DoubleClick(ScreenOf(t, (t->CaretX()[7] + t->CaretX()[8]) / 2 + 0.1f, 2));
  EXPECT_EQ(doc->DragState(), 5);
  EXPECT_EQ(t->SelStart(), 4);
  EXPECT_EQ(t->SelLength(), 10);
  EXPECT_EQ(t->CaretIndex(), 14);
  EXPECT_EQ(t->LineEdit()->SelText(), "\xC3\xA9\xC3\xA9nvoudige");
  // On "€5" at the end.
  DoubleClick(ScreenOf(t, t->CaretX().back() - 0.1f, 2));
  EXPECT_EQ(t->LineEdit()->SelText(), "\xE2\x82\xAC" "5");
  Type("x");
  EXPECT_EQ(t->Text(), std::string(kDutch).substr(0, std::string(kDutch).size() - 4) + "x");
}

TEST_F(EditTest, DoubleClickAndKeyUpReachTheEditedShape) {
  auto e = NewShape<TEditableRect>();
  TEditableRect* ed = e.get();
  doc->CurrentPage()->AddShape(std::move(e));
  doc->EditShape(ed);
  doc->MouseDown(platform::mbLeft, platform::ssLeft, 10, 10);
  doc->MouseDown(platform::mbLeft, platform::ssLeft | platform::ssDouble, 10, 10);
  EXPECT_EQ(ed->Presses, 1);
  EXPECT_EQ(ed->DblClicks, 1);
  platform::Word k = 65;
  doc->KeyUp(k, 0);
  EXPECT_EQ(ed->UpKeys, std::vector<platform::Word>{65});
}

TEST_F(EditTest, ModeAndReadOnlyTakeDownTheDragOutline) {
  for (int which = 0; which < 2; ++which) {
    Click(100, 100);
    doc->MouseDown(platform::mbLeft, platform::ssLeft, 100, 100);
    doc->MouseMove(platform::ssLeft, 130, 120);
    ASSERT_TRUE(doc->OutlinesShown());
    ASSERT_GT(doc->XorOverlay().Count(), 0);
    if (which == 0)
      doc->SetMode(vmBrowse);
    else
      doc->SetReadOnly(true);
    EXPECT_EQ(doc->DragState(), 0);
    EXPECT_FALSE(doc->OutlinesShown());
    EXPECT_EQ(doc->XorOverlay().Count(), 0);
    doc->MouseUp(platform::mbLeft, 0, 130, 120);
    EXPECT_FLOAT_EQ(a->DocLeft(), 20);  // nothing applied
    doc->SetReadOnly(false);
    doc->SetMode(vmEdit);
  }
}

// --- insertion by drawing ----------------------------------------------------------------

TEST_F(TextEditTest, InsertionOfEachKindByMouse) {
  std::vector<TdtpShape*> closed;
  doc->OnShapeInsertClosed = [&](platform::TObject*, TdtpShape* S) { closed.push_back(S); };
  // Kind 1: the cursor over the view is the shape's insertion cursor, the press draws the
  // outline, the drag moves it, the release places the shape and edits it.
  auto rect = NewShape<TdtpFixtureRect>();
  TdtpShape* r = rect.get();
  doc->BeginInsert(std::move(rect), 1);
  EXPECT_EQ(doc->DragState(), 3);
  doc->MouseMove(0, 300, 300);
  EXPECT_EQ(doc->ViewCursor(), r->Cursor());
  doc->MouseDown(platform::mbLeft, platform::ssLeft, 200, 320);
  EXPECT_EQ(doc->DragState(), 4);
  doc->MouseUp(platform::mbLeft, 0, 200, 320);  // a click without movement keeps it under way
  EXPECT_EQ(doc->DragState(), 4);
  EXPECT_TRUE(closed.empty());
  doc->MouseMove(platform::ssLeft, 240, 340);
  ASSERT_EQ(doc->XorOverlay().Count(), 1);
  EXPECT_EQ(doc->XorOverlay().Figures()[0].Kind, platform::TXorFigure::xfFrame);
  EXPECT_EQ(doc->XorOverlay().Figures()[0].R, (platform::TRect{200, 320, 240, 340}));
  doc->MouseMove(platform::ssLeft, 160, 360);  // dragging up-left of the press
  ASSERT_EQ(doc->XorOverlay().Count(), 1);
  EXPECT_EQ(doc->XorOverlay().Figures()[0].R, (platform::TRect{160, 320, 200, 360}));
  doc->MouseUp(platform::mbLeft, 0, 160, 360);
  EXPECT_EQ(doc->XorOverlay().Count(), 0);
  ASSERT_EQ(closed.size(), 1u);
  EXPECT_EQ(closed[0], r);
  EXPECT_EQ(r->ParentShape(), doc->CurrentPage());
  EXPECT_FLOAT_EQ(r->DocLeft(), 40);
  EXPECT_FLOAT_EQ(r->DocTop(), 80);
  EXPECT_FLOAT_EQ(r->DocWidth(), 10);
  EXPECT_FLOAT_EQ(r->DocHeight(), 10);
  EXPECT_TRUE(r->Selected());
  EXPECT_EQ(doc->DragState(), 0);  // edited at once; a plain shape declines editing

  // Kind 0 with a text shape: the press places it with its default height and edits it.
  auto text = NewShape<TdtpTextShape>();
  TdtpTextShape* t = text.get();
  doc->BeginInsert(std::move(text), 0);
  doc->MouseMove(0, 300, 300);
  EXPECT_EQ(doc->ViewCursor(), crDtpCrossText);
  doc->MouseDown(platform::mbLeft, platform::ssLeft, 400, 400);
  doc->MouseUp(platform::mbLeft, 0, 400, 400);
  ASSERT_EQ(closed.size(), 2u);
  EXPECT_EQ(closed[1], t);
  EXPECT_FLOAT_EQ(t->DocLeft(), 100);
  EXPECT_FLOAT_EQ(t->DocTop(), 100);
  EXPECT_EQ(doc->EditedShape(), t);
  Type("\xC3\xA9\xC3\xA9n");
  Key(13);
  EXPECT_EQ(t->Text(), "\xC3\xA9\xC3\xA9n");

  // Kind 0 with a freehand shape: one gesture draws a stroke into the page.
  auto fh = NewShape<TdtpFreehandShape>();
  TdtpFreehandShape* f = fh.get();
  f->SetAutoRestart(false);
  doc->BeginInsert(std::move(fh), 0);
  doc->MouseDown(platform::mbLeft, platform::ssLeft, 100, 400);
  doc->MouseMove(platform::ssLeft, 120, 400);
  doc->MouseMove(platform::ssLeft, 120, 440);
  doc->MouseUp(platform::mbLeft, 0, 140, 440);
  ASSERT_EQ(closed.size(), 3u);
  EXPECT_EQ(closed[2], f);
  EXPECT_EQ(doc->DragState(), 0);
  EXPECT_EQ(f->ParentShape(), doc->CurrentPage());
  EXPECT_FLOAT_EQ(f->DocLeft(), 25);
  EXPECT_FLOAT_EQ(f->DocTop(), 100);
  EXPECT_FLOAT_EQ(f->DocWidth(), 10);
  EXPECT_FLOAT_EQ(f->DocHeight(), 10);
  EXPECT_EQ(doc->UpdateCount(), 0);

  // Escape cancels an armed insertion and frees the shape.
  const int shapes = doc->CurrentPage()->GetShapeCount();
  std::vector<TdtpShape*> destroyed;
  doc->OnShapeDestroy = [&](platform::TObject*, TdtpShape* S) { destroyed.push_back(S); };
  auto gone = NewShape<TdtpFixtureRect>();
  TdtpShape* g = gone.get();
  doc->BeginInsert(std::move(gone), 1);
  doc->MouseDown(platform::mbLeft, platform::ssLeft, 200, 320);
  doc->MouseMove(platform::ssLeft, 240, 340);
  Key(27);
  EXPECT_EQ(doc->DragState(), 0);
  EXPECT_EQ(doc->InsertingShape(), nullptr);
  EXPECT_EQ(doc->XorOverlay().Count(), 0);
  ASSERT_EQ(closed.size(), 4u);
  EXPECT_EQ(closed[3], nullptr);
  EXPECT_EQ(destroyed, std::vector<TdtpShape*>{g});
  EXPECT_EQ(doc->CurrentPage()->GetShapeCount(), shapes);
}

// Escape while drawing a freehand shape removes it and closes the document's brackets:
// later selection changes are reported again.
TEST_F(EditTest, FreehandEscapeClosesTheDocumentBrackets) {
  int reports = 0;
  doc->OnSelectionChanged = [&](platform::TObject*) { ++reports; };
  auto fh = NewShape<TdtpFreehandShape>();
  TdtpFreehandShape* f = fh.get();
  doc->CurrentPage()->AddShape(std::move(fh));
  doc->EditShape(f);
  doc->MouseDown(platform::mbLeft, platform::ssLeft, 300, 300);
  doc->MouseMove(platform::ssLeft, 320, 330);
  const int shapes = doc->CurrentPage()->GetShapeCount();
  platform::Word esc = 27;
  doc->KeyDown(esc, 0);
  EXPECT_EQ(doc->CurrentPage()->GetShapeCount(), shapes - 1);
  EXPECT_EQ(doc->DragState(), 0);
  EXPECT_EQ(doc->UpdateCount(), 0);
  reports = 0;
  Click(100, 100);
  EXPECT_GT(reports, 0);
  // Clear resets a bracket that was left open.
  doc->BeginUpdate();
  doc->BeginUndo();
  doc->Clear();
  EXPECT_EQ(doc->UpdateCount(), 0);
  doc->SetPageCount(1);
  reports = 0;
  doc->ClearSelection();
  doc->SelectionChanged();
  EXPECT_EQ(reports, 1);
}

}  // namespace

// Records that the size limit pushed out while an edit ran are gone for good: rejecting the
// edit takes back only what it recorded (the edited shape's records), and keeps what is left
// from before it.
TEST_F(EditTest, RejectedEditTakesBackOnlyItsOwnRecordsPastTheSizeLimit) {
  auto e = NewShape<TEditableRect>();
  TEditableRect* ed = e.get();
  doc->CurrentPage()->AddShape(std::move(e));
  doc->ClearUndo();
  const std::string big(4 * 1024 * 1024, 'x');
  doc->AddUndo(std::make_unique<TdtpCommand>(ckShapeAdded, 1, "", "1"));
  doc->AddUndo(std::make_unique<TdtpCommand>(ckShapeAdded, 2, "", big));
  doc->AddUndo(std::make_unique<TdtpCommand>(ckShapeAdded, 3, "", "3"));
  TdtpCommand* kept = doc->UndoItem(2);
  doc->EditShape(ed);
  ASSERT_EQ(doc->EditedShape(), ed);
  doc->AddUndo(std::make_unique<TdtpCommand>(ckShapeAdded, ed->ShapeId(), "", big));
  doc->AddUndo(std::make_unique<TdtpCommand>(ckShapeAdded, ed->ShapeId(), "", big));
  ASSERT_EQ(doc->UndoCount(), 3);  // the first two went to stay under the limit
  doc->EndShapeEdit(false);
  ASSERT_EQ(doc->UndoCount(), 1);
  EXPECT_EQ(doc->UndoItem(0), kept);
  EXPECT_EQ(doc->UndoBytes(), kept->GetSize());
  // An edit during which the list was cleared takes back only what came after.
  doc->EditShape(ed);
  doc->AddUndo(std::make_unique<TdtpCommand>(ckShapeAdded, ed->ShapeId(), "", "6"));
  doc->ClearUndo();
  doc->AddUndo(std::make_unique<TdtpCommand>(ckShapeAdded, ed->ShapeId(), "", "7"));
  doc->EndShapeEdit(false);
  EXPECT_EQ(doc->UndoCount(), 0);
  EXPECT_EQ(doc->UndoBytes(), 0);
  // An accepted edit keeps its records.
  doc->EditShape(ed);
  doc->AddUndo(std::make_unique<TdtpCommand>(ckShapeAdded, 8, "", "8"));
  doc->EndShapeEdit(true);
  EXPECT_EQ(doc->UndoCount(), 1);
}

// A Dutch user's edit from end to end: a text shape in the real document view is edited with
// Qt key and mouse events (the platform's key path, the document's key handling, the shape's
// line editor), painted through the control, saved, and read back by a fresh document.
#include <gtest/gtest.h>

#include <QImage>
#include <QWindow>

#include "../common/TestSupport.h"
#include "../platform/GuiTestEvents.h"
#include "app/Startup.h"
#include "document/dtpDocument.h"
#include "document/dtpMemoShape.h"
#include "document/dtpTextShape.h"
#include "platform/Clipboard.h"
#include "platform/Forms.h"
#include "platform/KeyState.h"
#include "platform/SysUtils.h"

using namespace document;

namespace {

const char* const kDutch = "\xC3\x89\xC3\xA9n \xC3\xA9\xC3\xA9nvoudige oefening \xE2\x80\x94 \xE2\x82\xAC" "5";

class TextEditingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app::InitializeUnits();
    platform::KeyStateReset();
    form = std::make_unique<platform::TForm>(nullptr);
    form->SetBounds(10, 10, 900, 700);
    doc = new TdtpComponent(form.get());
    doc->SetParent(form.get());
    doc->SetBounds(0, 0, 800, 600);
    form->Show();
    guitest::WaitFor([&] {
      QWindow* h = guitest::W(form.get())->windowHandle();
      return h && h->isExposed();
    });
    doc->SetViewStyle(vsNormal);
    doc->SetScreenDpm(4);
    doc->SetOriginX(0);
    doc->SetOriginY(0);
  }
  void TearDown() override {
    form.reset();
    platform::KeyStateReset();
  }
  template <typename T>
  T* Add(const std::string& Text, float L, float Top) {
    auto s = NewShape<T>();
    s->SetSmartHitTest(false);
    s->SetText(Text);
    s->SetDocPosition(L, Top);
    T* raw = s.get();
    doc->CurrentPage()->AddShape(std::move(s));
    return raw;
  }
  platform::TPoint Screen(TdtpShape* S, float X, float Y) {
    raster::TdtpFloatPoint p;
    S->LocalToScreen({X, Y}, p);
    return {int32_t(std::lround(p.X)), int32_t(std::lround(p.Y))};
  }
  void DoubleClick(platform::TPoint P) {
    guitest::Press(doc, P.X, P.Y);
    guitest::Release(doc, P.X, P.Y);
    guitest::DoubleClick(doc, P.X, P.Y);
    guitest::Release(doc, P.X, P.Y);
  }
  // Each character as the keyboard delivers it: a key event whose key code is the upper-case
  // character (as Qt reports letter keys) carrying the character as its text.
  void Type(const std::string& S) {
    for (char32_t c : Utf8ToChars(S)) {
      const QString text = QString::fromUcs4(&c, 1);
      guitest::Key(doc, int(text.toUpper().at(0).unicode()), Qt::NoModifier, text);
    }
  }
  std::unique_ptr<platform::TForm> form;
  TdtpComponent* doc = nullptr;
};

int CaretPixels(const QImage& Img) {
  int n = 0;
  for (int y = 0; y < Img.height(); ++y)
    for (int x = 0; x < Img.width(); ++x)
      if ((Img.pixel(x, y) & 0xFFFFFF) == 0x000080) ++n;
  return n;
}

TEST_F(TextEditingTest, DutchTextSurvivesTypingSavingAndReloading) {
  auto* t = Add<TdtpTextShape>("oud", 20, 40);
  auto* m = Add<TdtpMemoShape>("", 20, 80);
  doc->ClearUndo();

  DoubleClick(Screen(t, 1, 2));
  ASSERT_EQ(doc->EditedShape(), t);
  // The control's own painting shows the caret.
  EXPECT_GT(CaretPixels(guitest::W(doc)->grab().toImage()), 0);
  guitest::Key(doc, Qt::Key_Home);
  guitest::Key(doc, Qt::Key_End, Qt::ShiftModifier);
  EXPECT_EQ(t->SelLength(), 3);
  Type(std::string(kDutch) + "x");
  guitest::Key(doc, Qt::Key_Backspace);
  EXPECT_EQ(t->Text(), kDutch);
  EXPECT_EQ(t->CaretIndex(), 28);
  guitest::Key(doc, Qt::Key_Return, Qt::NoModifier, "\r");
  EXPECT_EQ(doc->DragState(), 0);
  EXPECT_EQ(doc->EditedShape(), nullptr);
  EXPECT_EQ(CaretPixels(guitest::W(doc)->grab().toImage()), 0);

  // In the memo, Enter breaks the line and "ĳ" is spelt out as "ij".
  DoubleClick(Screen(m, 1, 2));
  ASSERT_EQ(doc->EditedShape(), m);
  Type("\xC4\xB2sselmeer");
  guitest::Key(doc, Qt::Key_Return, Qt::NoModifier, "\r");
  Type("\xC3\xABn \xE2\x82\xAC");
  // Characters windows-1252 lacks are kept, typed or pasted: "őαж", then "AőαB€".
  Type("\xC5\x91\xCE\xB1\xD0\xB6");
  platform::Clipboard()->SetAsText("A\xC5\x91\xCE\xB1" "B\xE2\x82\xAC");
  guitest::Key(doc, Qt::Key_V, Qt::ControlModifier);
  guitest::Key(doc, Qt::Key_Tab);
  EXPECT_EQ(doc->DragState(), 0);
  const std::string line2 = "\xC3\xABn \xE2\x82\xAC\xC5\x91\xCE\xB1\xD0\xB6" "A\xC5\x91\xCE\xB1" "B\xE2\x82\xAC";
  EXPECT_EQ(m->Text(), "IJsselmeer\r" + line2);

  // Text that reaches a shape other than by typing may hold a character windows-1252 has not
  // got; the stored page is then written in UTF-16 and keeps it.
  Add<TdtpTextShape>("\xC4\xB3s", 20, 120);

  const std::string path = kdtest::OutputDir() + "/dutch_text.hsf";
  platform::DeleteFile(path);
  doc->SaveToFile(path);

  TdtpComponent again(nullptr);
  // Loading also closes brackets that an interrupted edit left open.
  again.BeginUpdate();
  again.BeginUndo();
  again.LoadFromFile(path);
  EXPECT_EQ(again.UpdateCount(), 0);
  ASSERT_NE(again.CurrentPage(), nullptr);
  ASSERT_EQ(again.CurrentPage()->GetShapeCount(), 3);
  auto* t3 = dynamic_cast<TdtpTextShape*>(again.CurrentPage()->GetShape(2));
  ASSERT_NE(t3, nullptr);
  EXPECT_EQ(t3->Text(), "\xC4\xB3s");
  auto* t2 = dynamic_cast<TdtpTextShape*>(again.CurrentPage()->GetShape(0));
  auto* m2 = dynamic_cast<TdtpMemoShape*>(again.CurrentPage()->GetShape(1));
  ASSERT_NE(t2, nullptr);
  ASSERT_NE(m2, nullptr);
  EXPECT_EQ(t2->Text(), kDutch);
  // The memo's line break is stored as CR LF, the list's own line ending.
  EXPECT_EQ(m2->Lines(), (std::vector<std::string>{"IJsselmeer", line2}));
  int reports = 0;
  again.OnSelectionChanged = [&](platform::TObject*) { ++reports; };
  t2->SetSelected(true);
  EXPECT_EQ(reports, 1);
}

}  // namespace

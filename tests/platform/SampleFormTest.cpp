// Builds a small form the way the application builds its own (panels, a custom-painted control,
// a popup menu) and saves pictures of it for a person to look at.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QMenu>
#include <QTimer>
#include <memory>

#include "platform/Dialogs.h"
#include "platform/ExtCtrls.h"
#include "platform/Forms.h"
#include "platform/Graphics.h"
#include "platform/Menus.h"
#include "tests/common/TestSupport.h"
#include "tests/platform/GuiTestEvents.h"

using namespace platform;
using namespace guitest;

namespace {

// A drawing surface like the document view: grid, shapes, a caption, and a rubber band drawn
// as an exclusive-or frame while the left button is held.
class TSheet : public TCustomControl {
 public:
  explicit TSheet(TComponent* AOwner) : TCustomControl(AOwner) {
    SetControlStyle(ControlStyle() | csOpaque);
    SetColor(clAppWorkSpace);
  }
  TPoint Anchor{-1, -1};
  TRect Band{};

 protected:
  void Paint() override {
    TCanvas* c = Canvas();
    c->Brush()->SetColor(Color());
    c->FillRect(ClientRect());
    const TRect page{20, 15, ClientWidth() - 20, ClientHeight() - 15};
    c->Brush()->SetColor(clWhite);
    c->Pen()->SetColor(clBlack);
    c->Rectangle(page);
    c->Pen()->SetColor(static_cast<TColor>(0xE0E0E0));
    for (int32_t x = page.Left + 20; x < page.Right; x += 20) {
      c->MoveTo(x, page.Top + 1);
      c->LineTo(x, page.Bottom - 1);
    }
    for (int32_t y = page.Top + 20; y < page.Bottom; y += 20) {
      c->MoveTo(page.Left + 1, y);
      c->LineTo(page.Right - 1, y);
    }
    c->Pen()->SetColor(clNavy);
    c->Pen()->SetWidth(2);
    c->Brush()->SetColor(static_cast<TColor>(0x80C0FF));
    c->Ellipse(page.Left + 30, page.Top + 30, page.Left + 150, page.Top + 110);
    c->Brush()->SetColor(static_cast<TColor>(0xFFC080));
    c->Rectangle(page.Left + 190, page.Top + 40, page.Left + 300, page.Top + 120);
    c->Pen()->SetWidth(1);
    c->Brush()->SetStyle(bsClear);
    c->Font()->SetName("Arial");
    c->Font()->SetSize(14);
    c->Font()->SetColor(clMaroon);
    TRect t{page.Left, page.Bottom - 40, page.Right, page.Bottom - 5};
    c->DrawText("Tekening  \xE2\x80\x93  Pagina 1  Van  3", t, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  }
  void MouseDown(TMouseButton B, TShiftState S, int32_t X, int32_t Y) override {
    TCustomControl::MouseDown(B, S, X, Y);
    if (B != mbLeft) return;
    Anchor = {X, Y};
    Band = {X, Y, X, Y};
  }
  void MouseMove(TShiftState S, int32_t X, int32_t Y) override {
    TCustomControl::MouseMove(S, X, Y);
    if (!(S & ssLeft) || Anchor.X < 0) return;
    // Erase the old band, draw the new one: the same figure twice leaves no trace.
    if (!IsRectEmpty(Band)) XorOverlay().ToggleFrame(Band, clWhite, true);
    Band = {std::min(Anchor.X, X), std::min(Anchor.Y, Y), std::max(Anchor.X, X), std::max(Anchor.Y, Y)};
    XorOverlay().ToggleFrame(Band, clWhite, true);
  }
};

TForm* BuildSample(TSheet*& Sheet, TPopupMenu*& Menu, std::vector<std::string>& Log) {
  auto* form = new TForm(nullptr);
  form->SetCaption("De kadrilo");
  form->SetBounds(0, 0, 480, 320);
  auto* top = new TPanel(form);
  top->SetParent(form);
  top->SetHeight(36);
  top->SetAlign(alTop);
  top->SetCaption("Catalogus van oefeningen");
  top->Font()->SetName("Arial");
  top->Font()->SetSize(11);
  top->Font()->SetStyle({fsBold});
  auto* status = new TPanel(form);
  status->SetParent(form);
  status->SetHeight(22);
  status->SetAlign(alBottom);
  status->SetBevelOuter(bvLowered);
  status->SetAlignment(taLeftJustify);
  status->SetCaption("  Gereed");
  auto* side = new TPanel(form);
  side->SetParent(form);
  side->SetWidth(110);
  side->SetAlign(alLeft);
  side->SetBevelInner(bvLowered);
  side->SetBevelWidth(2);
  side->SetColor(clWindow);
  side->SetCaption("Inleiding");
  Sheet = new TSheet(form);
  Sheet->SetParent(form);
  Sheet->SetAlign(alClient);
  Menu = new TPopupMenu(form);
  const char* captions[] = {"Afspelen", "Pauzeren", "Stop", "-", "Volledig scherm", "-", "Afsluiten"};
  for (const char* c : captions) {
    auto* item = new TMenuItem(form);
    item->SetCaption(c);
    item->OnClick = [&Log, c](TObject*) { Log.push_back(c); };
    Menu->Items()->Add(item);
  }
  Sheet->SetPopupMenu(Menu);
  return form;
}

}  // namespace

TEST(SampleFormTest, FormWithPanelsSheetAndPopupMenu) {
  TSheet* sheet = nullptr;
  TPopupMenu* menu = nullptr;
  std::vector<std::string> log;
  std::unique_ptr<TForm> form(BuildSample(sheet, menu, log));
  form->Show();
  ASSERT_TRUE(WaitFor([&] { return W(form.get())->isVisible(); }));

  // Layout: the sheet takes what the panels leave.
  EXPECT_EQ(sheet->BoundsRect(), (TRect{110, 36, 480, 298}));

  // Drag a rubber band across the sheet.
  Press(sheet, 60, 60);
  Move(sheet, 120, 90, Qt::LeftButton);
  Move(sheet, 200, 140, Qt::LeftButton);
  EXPECT_EQ(sheet->XorOverlay().Count(), 1);
  QImage shot = W(form.get())->grab().toImage().convertToFormat(QImage::Format_RGB32);
  const std::string path = kdtest::OutputDir() + "/platform_sample_form.png";
  ASSERT_TRUE(shot.save(QString::fromStdString(path)));

  // Spot checks: panel face, the white page, the ellipse's fill.
  const uint32_t face = GetSysColor(15);
  const uint32_t faceRgb = ((face & 0xFF) << 16) | (face & 0xFF00) | ((face >> 16) & 0xFF);
  EXPECT_EQ(shot.pixel(300, 5) & 0xFFFFFF, faceRgb);
  EXPECT_EQ(shot.pixel(110 + 25, 36 + 140) & 0xFFFFFF, 0xFFFFFFu);
  EXPECT_EQ(shot.pixel(110 + 20 + 90, 36 + 15 + 70) & 0xFFFFFF, 0xFFC080u);

  Release(sheet, 200, 140);

  // The popup menu as a person sees it: captured while it is open, then an item is chosen.
  QImage menuShot;
  QTimer::singleShot(50, [&] {
    auto* m = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!m) return;
    menuShot = m->grab().toImage();
    for (QAction* a : m->actions())
      if (a->text().remove('&') == "Pauzeren") a->trigger();
    m->close();
  });
  Press(sheet, 150, 100, Qt::RightButton);
  Release(sheet, 150, 100, Qt::RightButton);
  EXPECT_EQ(log, (std::vector<std::string>{"Pauzeren"}));
  ASSERT_FALSE(menuShot.isNull());
  EXPECT_TRUE(menuShot.save(QString::fromStdString(kdtest::OutputDir() + "/platform_sample_popup.png")));
}

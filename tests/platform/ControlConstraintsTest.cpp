// Size constraints of controls and the Ctl3D look taken from the parent.
#include <gtest/gtest.h>

#include <QWidget>
#include <memory>

#include "platform/Controls.h"
#include "platform/Forms.h"
#include "platform/StdCtrls.h"

using namespace platform;

namespace {

class TLookProbe : public TCustomControl {
 public:
  explicit TLookProbe(TComponent* AOwner) : TCustomControl(AOwner) {}
  int Changes = 0;

 protected:
  void Ctl3DChanged() override { ++Changes; }
};

}  // namespace

TEST(ControlConstraints, SizeStaysWithinTheLimits) {
  TForm form(nullptr);
  auto* c = new TLookProbe(&form);
  c->SetParent(&form);
  c->SetBounds(5, 6, 100, 80);
  TSizeConstraints* k = c->Constraints();
  EXPECT_EQ(k->MinWidth(), 0);
  EXPECT_EQ(k->MaxHeight(), 0);
  // New limits apply to the current size at once; the position stays.
  k->SetMaxWidth(60);
  EXPECT_EQ(c->Width(), 60);
  k->SetMinHeight(90);
  EXPECT_EQ(c->Height(), 90);
  EXPECT_EQ(c->Left(), 5);
  EXPECT_EQ(c->Top(), 6);
  // Every later size request is kept within them, in both directions.
  c->SetBounds(0, 0, 10, 10);
  EXPECT_EQ(c->Width(), 10);
  EXPECT_EQ(c->Height(), 90);
  c->SetBounds(0, 0, 500, 500);
  EXPECT_EQ(c->Width(), 60);
  EXPECT_EQ(c->Height(), 500);
  k->SetMinWidth(20);
  c->SetWidth(1);
  EXPECT_EQ(c->Width(), 20);
  // A minimum above the maximum moves the maximum, and the other way round.
  k->SetMinWidth(70);
  EXPECT_EQ(k->MaxWidth(), 70);
  EXPECT_EQ(c->Width(), 70);
  k->SetMaxHeight(40);
  EXPECT_EQ(k->MinHeight(), 40);
  EXPECT_EQ(c->Height(), 40);
  // Negative limits are no limits; 0 lifts a limit.
  k->SetMaxWidth(-5);
  EXPECT_EQ(k->MaxWidth(), 0);
  k->SetMinWidth(0);
  k->SetMaxHeight(0);
  k->SetMinHeight(0);
  c->SetBounds(0, 0, 333, 1);
  EXPECT_EQ(c->Width(), 333);
  EXPECT_EQ(c->Height(), 1);
  // Alignment goes through the same limits.
  k->SetMaxHeight(50);
  form.SetBounds(0, 0, 300, 200);
  c->SetAlign(alClient);
  EXPECT_EQ(c->Height(), 50);
  // A window's limits bind the window system as well.
  form.Constraints()->SetMinWidth(250);
  form.Constraints()->SetMaxHeight(400);
  EXPECT_EQ(static_cast<QWidget*>(form.WidgetHandle())->minimumSize(), QSize(250, 0));
  EXPECT_EQ(static_cast<QWidget*>(form.WidgetHandle())->maximumSize(), QSize(QWIDGETSIZE_MAX, 400));
}

TEST(ControlConstraints, Ctl3DFollowsTheParentWhileParentCtl3D) {
  TForm form(nullptr);
  auto* panel = new TLookProbe(&form);
  auto* inner = new TLookProbe(&form);
  EXPECT_TRUE(panel->Ctl3D());
  EXPECT_TRUE(panel->ParentCtl3D());
  form.SetCtl3D(false);
  EXPECT_FALSE(form.ParentCtl3D());
  // Put on a parent, a control takes its look; children follow further down.
  panel->SetParent(&form);
  EXPECT_FALSE(panel->Ctl3D());
  EXPECT_EQ(panel->Changes, 1);
  inner->SetParent(panel);
  EXPECT_FALSE(inner->Ctl3D());
  form.SetCtl3D(true);
  EXPECT_TRUE(panel->Ctl3D());
  EXPECT_TRUE(inner->Ctl3D());
  EXPECT_TRUE(inner->ParentCtl3D());
  EXPECT_EQ(inner->Changes, 2);
  // A control's own setting ends the following; turning ParentCtl3D on takes the parent's again.
  inner->SetCtl3D(false);
  EXPECT_FALSE(inner->ParentCtl3D());
  form.SetCtl3D(false);
  form.SetCtl3D(true);
  EXPECT_FALSE(inner->Ctl3D());
  inner->SetParentCtl3D(true);
  EXPECT_TRUE(inner->Ctl3D());
  // A control set before it gets a parent keeps its own look.
  TListBox list(nullptr);
  list.SetCtl3D(false);
  list.SetParent(&form);
  EXPECT_FALSE(list.Ctl3D());
  list.SetParent(nullptr);
}

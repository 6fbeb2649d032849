// The colour-control form: built hidden with its controls as configured; losing activation
// closes it.
#include <gtest/gtest.h>

#include "app/ColorControl.h"
#include "tests/app/AppSupport.h"

using namespace app;

TEST(ColorControlForm, ControlsAsConfigured) {
  apptest::StartUnits();
  TColorControlForm f(nullptr);
  EXPECT_EQ(f.BorderStyle(), platform::bsNone);
  EXPECT_EQ(f.ClientWidth(), 166);
  EXPECT_EQ(f.ClientHeight(), 226);
  EXPECT_FALSE(f.Visible());
  EXPECT_EQ(f.Shape1->Shape(), stRoundRect);
  EXPECT_EQ(f.Shape1->PenColor(), platform::clLime);
  EXPECT_EQ(f.Shape1->PenWidth(), 3);
  EXPECT_EQ(f.Shape1->Align(), platform::alClient);
  EXPECT_EQ(f.Label1->Caption(), "Brightness");
  EXPECT_EQ(f.Label2->Caption(), "Contrast");
  EXPECT_EQ(f.Label3->Caption(), "Hue");
  EXPECT_EQ(f.Label4->Caption(), "Saturation");
  EXPECT_EQ(f.SpeedButton1->Caption(), "Reset to Default");
  struct {
    TTrackBar* Bar;
    int32_t Min, Max, Frequency, Position;
  } const bars[] = {{f.TrackBar1, 0, 10000, 1000, 750},
                    {f.TrackBar2, 0, 20000, 2000, 10000},
                    {f.TrackBar3, -180, 180, 36, 0},
                    {f.TrackBar4, 0, 20000, 2000, 10000}};
  for (const auto& b : bars) {
    EXPECT_EQ(b.Bar->Min(), b.Min);
    EXPECT_EQ(b.Bar->Max(), b.Max);
    EXPECT_EQ(b.Bar->Frequency(), b.Frequency);
    EXPECT_EQ(b.Bar->Position(), b.Position);
    EXPECT_EQ(b.Bar->ThumbLength(), 10);
  }
  EXPECT_TRUE(f.CheckBox1->Checked());
  EXPECT_EQ(f.CheckBox1->Caption(), "Utilized colors");
}

TEST(ColorControlForm, TrackBarKeepsItsPositionInRange) {
  TTrackBar t(nullptr);
  t.SetRange(-180, 180);
  t.SetPosition(500);
  EXPECT_EQ(t.Position(), 180);
  t.SetPosition(-500);
  EXPECT_EQ(t.Position(), -180);
  t.SetRange(0, 10);
  EXPECT_EQ(t.Position(), 0);
  t.SetRange(5, 1);  // an inverted range collapses to its minimum
  EXPECT_EQ(t.Min(), 5);
  EXPECT_EQ(t.Max(), 5);
  EXPECT_EQ(t.Position(), 5);
}

TEST(ColorControlForm, DeactivationCloses) {
  apptest::StartUnits();
  TColorControlForm f(nullptr);
  f.Show();
  EXPECT_TRUE(f.Visible());
  ASSERT_TRUE(f.OnDeactivate);
  f.OnDeactivate(&f);
  EXPECT_FALSE(f.Visible());
}

TEST(Notebook, PagesByIndexAndName) {
  TNotebook n(nullptr);
  int changes = 0;
  n.OnPageChanged = [&](platform::TObject*) { ++changes; };
  EXPECT_EQ(n.ActivePage(), "");
  n.AddPage("Een");
  n.AddPage("Twee");
  EXPECT_EQ(n.PageIndex(), 0);
  EXPECT_TRUE(n.Pages(0)->Visible());
  EXPECT_FALSE(n.Pages(1)->Visible());
  n.SetActivePage("twee");
  EXPECT_EQ(n.PageIndex(), 1);
  EXPECT_TRUE(n.Pages(1)->Visible());
  EXPECT_FALSE(n.Pages(0)->Visible());
  EXPECT_EQ(changes, 1);
  n.SetActivePage("Twee");  // unchanged: no event
  n.SetActivePage("Drie");  // unknown: nothing
  n.SetPageIndex(7);
  n.SetPageIndex(-1);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(n.ActivePage(), "Twee");
}

// The tree view's node semantics, selection protocol, keyboard and painting hooks.
#include "platform/ComCtrls.h"

#include <gtest/gtest.h>

#include "platform/Exceptions.h"
#include "platform/Graphics.h"
#include "platform/ImgList.h"
#include "tests/platform/GuiTestEvents.h"

using namespace platform;

namespace {

class Tree : public ::testing::Test {
 protected:
  void SetUp() override {
    tv = std::make_unique<TTreeView>(nullptr);
    TFont f;
    f.SetHeight(-16);
    tv->SetFont(&f);
    tv->SetRowHeight(16);
    tv->SetBounds(0, 0, 200, 160);
    a = tv->Items()->Add(nullptr, "a");
    a1 = tv->Items()->AddChild(a, "a1");
    a2 = tv->Items()->AddChild(a, "a2");
    a21 = tv->Items()->AddChild(a2, "a21");
    b = tv->Items()->Add(a, "b");
    first = tv->Items()->AddFirst(a, "first");
  }
  TFakeTextMeasurer fake;
  TScopedTextMeasurer scope{&fake};
  std::unique_ptr<TTreeView> tv;
  TTreeNode *a, *a1, *a2, *a21, *b, *first;
};

TEST_F(Tree, DepthFirstOrder) {
  const TTreeNode* order[] = {first, a, a1, a2, a21, b};
  EXPECT_EQ(tv->Items()->Count(), 6);
  int i = 0;
  for (TTreeNode* n = tv->Items()->GetFirstNode(); n; n = n->GetNext(), ++i) {
    EXPECT_EQ(n, order[i]);
    EXPECT_EQ(n->AbsoluteIndex(), i);
    EXPECT_EQ(tv->Items()->Item(i), n);
  }
  EXPECT_EQ(i, 6);
  EXPECT_EQ(a21->Level(), 2);
  EXPECT_EQ(a2->Index(), 1);
  EXPECT_EQ(b->Index(), 2);
  EXPECT_EQ(a21->Parent(), a2);
  EXPECT_EQ(b->GetPrev(), a21);
  EXPECT_EQ(a1->GetPrev(), a);
  try {
    tv->Items()->Item(6);
    FAIL();
  } catch (const EListError& e) {
    EXPECT_EQ(e.Message, "Tree view index out of bounds (6)");
  }
}

TEST_F(Tree, ChangingIsAskedFirstAndCanRefuse) {
  std::vector<std::string> log;
  tv->OnChanging = [&](TObject*, TTreeNode* n, bool& allow) {
    log.push_back("changing " + n->Text() + " sel=" + (tv->Selected() ? tv->Selected()->Text() : "-"));
    allow = n != b;
  };
  tv->OnChange = [&](TObject*, TTreeNode* n) { log.push_back("change " + (n ? n->Text() : "-")); };
  tv->SetSelected(a21);  // expands its parents
  EXPECT_TRUE(a2->Expanded());
  EXPECT_TRUE(a->Expanded());
  tv->SetSelected(b);
  EXPECT_EQ(tv->Selected(), a21);
  EXPECT_EQ(log, (std::vector<std::string>{"changing a21 sel=-", "change a21", "changing b sel=a21"}));
  // Collapsing a parent moves the selection to it; deleting the selection clears it.
  log.clear();
  tv->OnChanging = nullptr;
  a->Collapse(false);
  EXPECT_EQ(tv->Selected(), a);
  a->Delete();
  EXPECT_EQ(tv->Selected(), nullptr);
  EXPECT_EQ(tv->Items()->Count(), 2);
  EXPECT_EQ(log.back(), "change -");
}

TEST_F(Tree, RowsKeysAndClicks) {
  EXPECT_EQ(tv->VisibleRowCount(), 3);
  a->Expand(true);
  EXPECT_EQ(tv->VisibleRowCount(), 6);
  EXPECT_EQ(tv->GetNodeAt(50, 16 * 4 + 3), a21);
  EXPECT_EQ(tv->GetNodeAt(50, 16 * 6 + 3), nullptr);
  EXPECT_EQ(a21->DisplayRect(false), (TRect{0, 64, 200, 80}));
  EXPECT_EQ(a21->DisplayRect(true).Left, 3 * 19 + 2);
  int clicks = 0;
  tv->OnClick = [&](TObject*) { ++clicks; };
  guitest::Press(tv.get(), 80, 16 + 5);
  guitest::Release(tv.get(), 80, 16 + 5);
  EXPECT_EQ(tv->Selected(), a);
  guitest::Press(tv.get(), 80, 150);  // empty area: still a click
  guitest::Release(tv.get(), 80, 150);
  EXPECT_EQ(clicks, 2);
  guitest::Key(tv.get(), Qt::Key_Down);
  EXPECT_EQ(tv->Selected(), a1);
  guitest::Key(tv.get(), Qt::Key_End);
  EXPECT_EQ(tv->Selected(), b);
  guitest::Key(tv.get(), Qt::Key_Up);
  EXPECT_EQ(tv->Selected(), a21);
  guitest::Key(tv.get(), Qt::Key_Left);
  EXPECT_EQ(tv->Selected(), a2);
  guitest::Key(tv.get(), Qt::Key_Left);  // collapses a2
  EXPECT_FALSE(a2->Expanded());
  guitest::Key(tv.get(), Qt::Key_Right);
  EXPECT_TRUE(a2->Expanded());
  // A click on the button of a2 (level 1) toggles it without selecting.
  guitest::Key(tv.get(), Qt::Key_Home);
  guitest::Press(tv.get(), 19 + 9, 48 + 8);
  EXPECT_FALSE(a2->Expanded());
  EXPECT_EQ(tv->Selected(), first);
}

TEST(TreeScrolling, RowsBeyondTheClientScroll) {
  TFakeTextMeasurer fake;
  TScopedTextMeasurer scope(&fake);
  TTreeView t(nullptr);
  t.SetRowHeight(10);
  t.SetBounds(0, 0, 100, 50);
  t.HandleNeeded();
  for (int i = 0; i < 20; ++i) t.Items()->Add(nullptr, "n" + std::to_string(i));
  TScrollInfo info;
  info.fMask = SIF_ALL;
  ASSERT_TRUE(t.GetScrollInfo(SB_VERT, info));
  EXPECT_EQ(info.nMax, 19);
  const int rows = t.ClientHeight() / 10;
  EXPECT_EQ(static_cast<int>(info.nPage), rows);
  t.SetSelected(t.Items()->Item(15));  // scrolled into view
  EXPECT_EQ(t.TopItem()->AbsoluteIndex(), 15 - rows + 1);
  EXPECT_EQ(t.GetNodeAt(5, 0), t.TopItem());
  t.SetTopItem(t.Items()->Item(0));
  EXPECT_EQ(t.Items()->Item(15)->DisplayRect(false).Top, 150);
  // The wheel scrolls three rows a notch, both ways, within the rows there are.
  EXPECT_TRUE(guitest::Wheel(&t, 5, 5, -60));  // half a notch waits for the other half
  EXPECT_EQ(t.TopItem()->AbsoluteIndex(), 0);
  guitest::Wheel(&t, 5, 5, -60);
  EXPECT_EQ(t.TopItem()->AbsoluteIndex(), 3);
  guitest::Wheel(&t, 5, 5, -120 * 10);
  EXPECT_EQ(t.TopItem()->AbsoluteIndex(), 20 - rows);
  guitest::Wheel(&t, 5, 5, 120 * 10);
  EXPECT_EQ(t.TopItem()->AbsoluteIndex(), 0);
  t.Items()->Clear();
  EXPECT_EQ(t.TopItem(), nullptr);
  EXPECT_EQ(t.Selected(), nullptr);
}

// The owner-draw hooks: the control's text can be hidden and painted over.
class TOwnerTree : public TTreeView {
 public:
  using TTreeView::TTreeView;
  int Posts = 0;

 protected:
  bool ItemPrePaint(TCanvas*, TTreeNode*, TCustomDrawState) override { return false; }
  void ItemPostPaint(TCanvas* C, TTreeNode*, TCustomDrawState State, const TRect& Row) override {
    ++Posts;
    if (State & cdsSelected) {
      C->Brush()->SetColor(clRed);
      C->FillRect({150, Row.Top, 160, Row.Bottom});
    }
  }
};

TEST(TreeOwnerDraw, PostPaintRunsPerVisibleRow) {
  TFakeTextMeasurer fake;
  TScopedTextMeasurer scope(&fake);
  TOwnerTree t(nullptr);
  t.SetRowHeight(16);
  t.SetBounds(0, 0, 200, 40);
  for (int i = 0; i < 5; ++i) t.Items()->Add(nullptr, "node");
  t.SetSelected(t.Items()->Item(1));
  TBitmap bmp;
  bmp.SetSize(200, 40);
  t.PaintTo(bmp.Canvas());
  EXPECT_EQ(t.Posts, 3);  // rows 0..2 touch the 40-pixel client
  EXPECT_EQ(bmp.Canvas()->Pixel(155, 20), static_cast<TColor>(0x0000FF));
  EXPECT_EQ(bmp.Canvas()->Pixel(60, 8), ColorToRGB(clWindow));  // no native text
}

TEST(ImageList, AddDrawAndBounds) {
  TImageList list(nullptr);
  EXPECT_EQ(list.Width(), 16);
  TBitmap src;
  src.SetSize(16, 16);
  src.Canvas()->Brush()->SetColor(clBlue);
  src.Canvas()->FillRect({0, 0, 16, 16});
  EXPECT_EQ(list.Add(&src), 0);
  TBitmap dst;
  dst.SetSize(20, 20);
  list.Draw(dst.Canvas(), 2, 2, 0);
  EXPECT_EQ(dst.Canvas()->Pixel(2, 2), static_cast<TColor>(0xFF0000));
  EXPECT_EQ(dst.Canvas()->Pixel(17, 17), static_cast<TColor>(0xFF0000));  
  EXPECT_EQ(dst.Canvas()->Pixel(18, 18), clWhite);
  list.Draw(dst.Canvas(), 0, 0, 7);                                         // out of range: nothing
  EXPECT_EQ(dst.Canvas()->Pixel(0, 0), clWhite);
  list.SetWidth(8);
  EXPECT_EQ(list.Count(), 0);
}

}  // namespace

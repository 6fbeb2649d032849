#include "widgets/ToolbarButtons.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "platform/ActnList.h"
#include "platform/ExtCtrls.h"
#include "platform/Forms.h"
#include "platform/Menus.h"
#include "platform/StdCtrls.h"
#include "tests/common/TestSupport.h"
#include "tests/platform/GuiTestEvents.h"

namespace {

using namespace widgets;
using namespace platform;

// Layout ----------------------------------------------------------------------------------------

// Captions measured as 6 pixels a character, 13 high; records the widths asked for.
struct TFakeMeasure {
  std::string Text;
  std::vector<int32_t> Asked;
  TCaptionMeasure Fn() {
    return [this](int32_t MaxWidth, bool) {
      Asked.push_back(MaxWidth);
      return TSize{static_cast<int32_t>(Text.size()) * 6, 13};
    };
  }
};

TButtonLayoutInput Input(TRect Client, TSize Glyph, bool Caption, TButtonLayout L = blGlyphLeft, int32_t Margin = -1,
                         int32_t Spacing = 4) {
  TButtonLayoutInput in;
  in.Client = Client;
  in.Glyph = Glyph;
  in.ShowCaption = Caption;
  in.Layout = L;
  in.Margin = Margin;
  in.Spacing = Spacing;
  return in;
}

TEST(ToolbarButtonLayout, GlyphOnlyIsCentred) {
  TFakeMeasure m;
  // A new flat button: 23 x 22 less the one-pixel border.
  auto r = CalcButtonLayout(Input({1, 1, 22, 21}, {16, 16}, false), m.Fn());
  EXPECT_EQ(r.GlyphPos, (TPoint{1 + 3, 1 + 2}));  // margin (21 - 16 + 1) div 2, y (20 - 16 + 1) div 2
  auto in = Input({1, 1, 22, 21}, {16, 16}, false);
  in.Offset = {1, 1};
  r = CalcButtonLayout(in, m.Fn());
  EXPECT_EQ(r.GlyphPos, (TPoint{5, 4}));
  EXPECT_TRUE(m.Asked.empty());
}

TEST(ToolbarButtonLayout, MarginAndSpacingRules) {
  TFakeMeasure m{"Ab", {}};  // 12 x 13
  const TRect c{0, 0, 60, 20};
  struct TCase {
    const char* name;
    TButtonLayout layout;
    int32_t margin, spacing, arrowW;
    TPoint glyph, text, arrow;
  };
  const TCase cases[] = {
      // free = 60 - (16 + 4 + 12) = 28, margin 14
      {"left", blGlyphLeft, -1, 4, 0, {14, 2}, {34, 4}, {47, 2}},
      // margin = (60 - 28) div 3 = 10 = spacing
      {"both auto", blGlyphLeft, -1, -1, 0, {10, 2}, {36, 4}, {49, 2}},
      // spacing = (60 - (2 + 16) - 12) div 2 = 15
      {"margin only", blGlyphLeft, 2, -1, 0, {2, 2}, {33, 4}, {46, 2}},
      // arrow 9: free = 60 - (16 + 4 + 12 + 9) = 19, margin 10; arrow at 60 - 10 - 9 = 41, +1
      {"right with arrow", blGlyphRight, -1, 4, 9, {25, 2}, {9, 4}, {42, 8}},
  };
  for (const TCase& k : cases) {
    auto in = Input(c, {16, 16}, true, k.layout, k.margin, k.spacing);
    in.ArrowWidth = k.arrowW;
    in.ArrowHeight = k.arrowW ? 3 : 0;
    const auto r = CalcButtonLayout(in, m.Fn());
    EXPECT_EQ(r.GlyphPos, k.glyph) << k.name;
    EXPECT_EQ((TPoint{r.TextBounds.Left, r.TextBounds.Top}), k.text) << k.name;
    EXPECT_EQ(r.TextBounds.Width(), 12) << k.name;
    EXPECT_EQ(r.TextBounds.Height(), 13) << k.name;
    if (k.arrowW) {
      EXPECT_EQ(r.ArrowPos, k.arrow) << k.name;
    }
  }
}

TEST(ToolbarButtonLayout, VerticalLayouts) {
  TFakeMeasure m{"Abc", {}};  // 18 x 13
  const TRect c{0, 0, 40, 50};
  auto r = CalcButtonLayout(Input(c, {16, 16}, true, blGlyphTop), m.Fn());
  // free = 50 - (16 + 4 + 13) = 17 -> margin 9; x centred: glyph (40 - 16 + 1) div 2, text (40 - 18 + 1) div 2
  EXPECT_EQ(r.GlyphPos, (TPoint{12, 9}));
  EXPECT_EQ(r.TextBounds.Left, 11);
  EXPECT_EQ(r.TextBounds.Top, 29);
  r = CalcButtonLayout(Input(c, {16, 16}, true, blGlyphBottom), m.Fn());
  EXPECT_EQ(r.GlyphPos, (TPoint{12, 50 - 9 - 16}));
  EXPECT_EQ(r.TextBounds.Top, 25 - 4 - 13);
  // Without a glyph a vertical layout is a left one.
  r = CalcButtonLayout(Input(c, {0, 0}, true, blGlyphTop), m.Fn());
  EXPECT_EQ(r.TextBounds.Left, (40 - 18 + 1) / 2);
  EXPECT_EQ(r.TextBounds.Top, (50 - 13 + 1) / 2);
}

TEST(ToolbarButtonLayout, WordWrapNarrowsTheMeasuringWidth) {
  TFakeMeasure m{"x", {}};
  auto in = Input({0, 0, 100, 30}, {16, 16}, true, blGlyphLeft, -1, 4);
  in.WordWrap = true;
  in.ArrowWidth = 9;
  CalcButtonLayout(in, m.Fn());
  in.Margin = 3;
  CalcButtonLayout(in, m.Fn());
  in.Margin = -1;
  in.Spacing = -1;
  CalcButtonLayout(in, m.Fn());
  in.Layout = blGlyphTop;
  CalcButtonLayout(in, m.Fn());
  in.WordWrap = false;
  CalcButtonLayout(in, m.Fn());
  // 100 - 9 - 2m - (16 + sp); m from Spacing, then Margin; vertical: no arrow or glyph room
  EXPECT_EQ(m.Asked, (std::vector<int32_t>{100 - 9 - 8 - 20, 100 - 9 - 6 - 20, 100 - 9 - 8 - 20, 100 - 8, 100}));
}

TEST(ToolbarButtonLayout, TooSmallRoundsTowardZero) {
  TFakeMeasure m{"Abcdefgh", {}};  // 48 wide in 30
  const auto r = CalcButtonLayout(Input({0, 0, 30, 20}, {16, 16}, true), m.Fn());
  // free = 30 - 68 = -38 -> margin (-37) div 2 = -18
  EXPECT_EQ(r.GlyphPos.X, -18);
  EXPECT_EQ(r.TextBounds.Left, -18 + 16 + 4);
}

TEST(ToolbarButtonGlyphs, StripGlyphCount) {
  const struct { int32_t w, h, n; } cases[] = {{80, 16, 5}, {96, 16, 1}, {32, 16, 2}, {16, 16, 1}, {17, 16, 1},
                                                {0, 0, 1}, {16, 0, 1}, {1, 1, 1}, {5, 1, 5}};
  for (const auto& c : cases) EXPECT_EQ(GlyphCountOfStrip(c.w, c.h), c.n) << c.w << "x" << c.h;
}

// Buttons ---------------------------------------------------------------------------------------

std::unique_ptr<TBitmap> Strip(int32_t Cells, int32_t Size = 16, TColor Back = clOlive) {
  auto b = std::make_unique<TBitmap>();
  b->SetPixelFormat(pf24bit);
  b->SetSize(Cells * Size, Size);
  TCanvas* c = b->Canvas();
  c->Brush()->SetColor(Back);
  c->FillRect({0, 0, Cells * Size, Size});
  const TColor colors[] = {clNavy, clMaroon, clGreen, clPurple, clTeal};
  for (int32_t i = 0; i < Cells; ++i) {
    c->Brush()->SetColor(colors[i % 5]);
    c->FillRect({i * Size + 3, 3, i * Size + Size - 3, Size - 3});
  }
  return b;
}

class ToolbarButtonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Panel = std::make_unique<TPanel>(nullptr);
    Panel->SetBounds(0, 0, 300, 40);
    Panel->HandleNeeded();
    auto& env = ToolbarButtonEnvironment();
    env.ControlAtCursor = [this] { return UnderCursor; };
    env.CursorPos = [this] { return Cursor; };
    env.ApplicationActive = [this] { return AppActive; };
  }
  void TearDown() override {
    Buttons.clear();
    Panel.reset();
    ResetToolbarButtonEnvironment();
  }
  TToolbarButton* Add(int32_t Left = -1) {
    auto b = std::make_unique<TToolbarButton>(nullptr);
    b->SetParent(Panel.get());
    b->SetLeft(Left >= 0 ? Left : static_cast<int32_t>(Buttons.size()) * 25);
    Buttons.push_back(std::move(b));
    return Buttons.back().get();
  }
  // Screen point of a client point of C.
  TPoint At(TControl* C, int32_t X, int32_t Y) { return C->ClientToScreen({X, Y}); }

  std::unique_ptr<TPanel> Panel;
  std::vector<std::unique_ptr<TToolbarButton>> Buttons;
  TControl* UnderCursor = nullptr;
  TPoint Cursor{-1000, -1000};
  bool AppActive = true;
};

TEST_F(ToolbarButtonTest, Defaults) {
  TToolbarButton* b = Add();
  EXPECT_EQ(b->Width(), 23);
  EXPECT_EQ(b->Height(), 22);
  EXPECT_EQ(b->Alignment(), taCenter);
  EXPECT_FALSE(b->AllowAllUp());
  EXPECT_EQ(b->Color(), clBtnFace);
  EXPECT_EQ(b->DisplayMode(), dmBoth);
  EXPECT_FALSE(b->Down());
  EXPECT_TRUE(b->DropdownArrow());
  EXPECT_EQ(b->DropdownArrowWidth(), 9);
  EXPECT_TRUE(b->Flat());
  EXPECT_EQ(b->GroupIndex(), 0);
  EXPECT_TRUE(b->HighlightWhenDown());
  EXPECT_EQ(b->ImageIndex(), -1);
  EXPECT_EQ(b->Layout(), blGlyphLeft);
  EXPECT_EQ(b->Margin(), -1);
  EXPECT_EQ(b->NumGlyphs(), 1);
  EXPECT_TRUE(b->Opaque());
  EXPECT_EQ(b->RepeatDelay(), 400);
  EXPECT_EQ(b->RepeatInterval(), 100);
  EXPECT_EQ(b->Spacing(), 4);
  EXPECT_EQ(b->Version(), "Toolbar button version 1.76a");
  b->SetVersion("other");
  EXPECT_EQ(b->Version(), "Toolbar button version 1.76a");
  EXPECT_TRUE(b->ControlStyle() & csOpaque);
  b->SetOpaque(false);
  EXPECT_FALSE(b->ControlStyle() & csOpaque);
  b->SetFlat(false);
  EXPECT_TRUE(b->ControlStyle() & csOpaque);  // a raised button always paints its face
}

TEST_F(ToolbarButtonTest, SharedTimerAndHookRegistrationPerButton) {
  EXPECT_EQ(ToolbarButtonCount(), 0);
  EXPECT_EQ(ToolbarHotTimer(), nullptr);
  Add();
  Add();
  EXPECT_EQ(ToolbarButtonCount(), 2);
  ASSERT_NE(ToolbarHotTimer(), nullptr);
  EXPECT_EQ(ToolbarHotTimer()->Interval(), 125u);
  EXPECT_FALSE(ToolbarHotTimer()->Enabled());
  EXPECT_EQ(HookProcRefCount(ToolbarButtonHookProc), 2);
  EXPECT_TRUE(HookInstalled(hkiCallWndProc));
  EXPECT_TRUE(HookInstalled(hkiGetMessage));
  Buttons.clear();
  EXPECT_EQ(ToolbarButtonCount(), 0);
  EXPECT_EQ(ToolbarHotTimer(), nullptr);
  EXPECT_EQ(HookProcRefCount(ToolbarButtonHookProc), 0);
  EXPECT_FALSE(HookInstalled(hkiGetMessage));
}

TEST_F(ToolbarButtonTest, GlyphSetsNumGlyphs) {
  TToolbarButton* b = Add();
  b->SetGlyph(Strip(5).get());
  EXPECT_EQ(b->NumGlyphs(), 5);
  b->SetGlyph(Strip(6).get());
  EXPECT_EQ(b->NumGlyphs(), 1);
  b->SetGlyph(Strip(2).get());
  EXPECT_EQ(b->NumGlyphs(), 2);
  b->SetNumGlyphs(0);
  EXPECT_EQ(b->NumGlyphs(), 2);
  b->SetNumGlyphs(6);
  EXPECT_EQ(b->NumGlyphs(), 2);
  b->SetNumGlyphs(4);
  EXPECT_EQ(b->NumGlyphs(), 4);
  TImageList images(nullptr);
  b->SetImages(&images);
  EXPECT_EQ(b->NumGlyphs(), 1);
  b->SetNumGlyphs(3);
  EXPECT_EQ(b->NumGlyphs(), 1);  // only without an image list
  b->SetImages(nullptr);
}

// Only a strip whose width is a multiple of its height says how many glyphs it holds; any other
// keeps the NumGlyphs set before (two cells 20 wide on a 16-high strip).
TEST_F(ToolbarButtonTest, GlyphOfAnotherShapeKeepsNumGlyphs) {
  TToolbarButton* b = Add();
  b->SetNumGlyphs(2);
  auto strip = std::make_unique<TBitmap>();
  strip->SetPixelFormat(pf24bit);
  strip->SetSize(40, 16);
  strip->Canvas()->Brush()->SetColor(clOlive);
  strip->Canvas()->FillRect({0, 0, 40, 16});
  strip->Canvas()->Brush()->SetColor(clNavy);
  strip->Canvas()->FillRect({22, 3, 38, 13});  // only the second cell has navy
  b->SetGlyph(strip.get());
  EXPECT_EQ(b->NumGlyphs(), 2);
  EXPECT_EQ(b->ButtonGlyph()->GlyphSize(), (TSize{20, 16}));
  b->SetGlyph(Strip(3).get());  // 48 x 16: three glyphs
  EXPECT_EQ(b->NumGlyphs(), 3);
  b->SetGlyph(strip.get());
  EXPECT_EQ(b->NumGlyphs(), 3);
}

TEST_F(ToolbarButtonTest, EmptyAndTinyGlyphsNeverDivideByZero) {
  TToolbarButton* b = Add();
  TBitmap empty;
  b->SetGlyph(&empty);
  EXPECT_EQ(b->ButtonGlyph()->GlyphSize(), (TSize{0, 0}));
  EXPECT_EQ(b->ButtonGlyph()->CreateButtonGlyph(bsUp), -1);
  TBitmap one;
  one.SetSize(1, 1);
  b->SetGlyph(&one);
  b->SetNumGlyphs(3);  // one pixel cannot hold three cells
  EXPECT_EQ(b->ButtonGlyph()->GlyphSize(), (TSize{1, 1}));
  for (TButtonState s : {bsUp, bsDisabled, bsDown, bsExclusive, bsHot})
    EXPECT_GE(b->ButtonGlyph()->CreateButtonGlyph(s), 0);
  TBitmap flat;
  flat.SetSize(16, 0);
  b->SetGlyph(&flat);
  EXPECT_EQ(b->NumGlyphs(), 3);  // no height: nothing to derive the count from
  EXPECT_EQ(b->ButtonGlyph()->GlyphSize(), (TSize{0, 0}));
  (void)b->CurrentLayout(b->Canvas());
}

TEST_F(ToolbarButtonTest, GlyphCellsAreSharedPerSize) {
  TToolbarButton* a = Add();
  TToolbarButton* b = Add();
  a->SetGlyph(Strip(1).get());
  b->SetGlyph(Strip(2).get());
  const int32_t lists = GlyphCache().ListCount();
  EXPECT_EQ(a->ButtonGlyph()->CreateButtonGlyph(bsUp), 0);
  EXPECT_EQ(a->ButtonGlyph()->CreateButtonGlyph(bsUp), 0);  // made once
  EXPECT_EQ(b->ButtonGlyph()->CreateButtonGlyph(bsUp), 1);
  EXPECT_EQ(b->ButtonGlyph()->CreateButtonGlyph(bsDisabled), 2);
  EXPECT_EQ(a->ButtonGlyph()->List(), b->ButtonGlyph()->List());
  EXPECT_EQ(GlyphCache().ListCount(), lists + 1);
  TGlyphList* list = a->ButtonGlyph()->List();
  EXPECT_EQ(list->Count(), 3);
  b->SetGlyph(Strip(2).get());  // a new glyph frees the button's cells
  EXPECT_EQ(list->Count(), 1);
  EXPECT_EQ(b->ButtonGlyph()->CreateButtonGlyph(bsHot), 1);  // the lowest free cell again
  EXPECT_EQ(list->Capacity(), 3);
  a->SetGlyph(Strip(1, 20).get());  // another size: another list
  EXPECT_EQ(a->ButtonGlyph()->CreateButtonGlyph(bsUp), 0);
  EXPECT_EQ(GlyphCache().ListCount(), lists + 2);
  Buttons.clear();
  EXPECT_EQ(GlyphCache().ListCount(), lists);
}

TEST_F(ToolbarButtonTest, GlyphCellsFromTheStrip) {
  TToolbarButton* b = Add();
  b->SetGlyph(Strip(3).get());  // up, disabled, down
  TBitmap canvasBmp;
  canvasBmp.SetPixelFormat(pf24bit);
  canvasBmp.SetSize(16 * 5, 16);
  canvasBmp.Canvas()->Brush()->SetColor(clWhite);
  canvasBmp.Canvas()->FillRect({0, 0, 80, 16});
  const TButtonState states[] = {bsUp, bsDisabled, bsDown, bsExclusive, bsHot};
  for (int i = 0; i < 5; ++i) b->ButtonGlyph()->Draw(canvasBmp.Canvas(), i * 16, 0, states[i]);
  TCanvas* c = canvasBmp.Canvas();
  EXPECT_EQ(c->Pixel(8, 8), clNavy);         // up cell
  EXPECT_EQ(c->Pixel(16 + 8, 8), clMaroon);  // its own disabled cell
  EXPECT_EQ(c->Pixel(32 + 8, 8), clGreen);   // down cell
  EXPECT_EQ(c->Pixel(48 + 8, 8), clGreen);   // exclusive falls back to down
  EXPECT_EQ(c->Pixel(64 + 8, 8), clNavy);    // hot falls back to up
  EXPECT_EQ(c->Pixel(1, 1), clWhite);        // the olive ground is transparent
}

TEST_F(ToolbarButtonTest, DerivedDisabledGlyphIsEmbossed) {
  TToolbarButton* b = Add();
  b->SetGlyph(Strip(1).get());  // navy square 3..12 on olive
  TBitmap out;
  out.SetPixelFormat(pf24bit);
  out.SetSize(16, 16);
  out.Canvas()->Brush()->SetColor(clRed);
  out.Canvas()->FillRect({0, 0, 16, 16});
  b->ButtonGlyph()->Draw(out.Canvas(), 0, 0, bsDisabled);
  TCanvas* c = out.Canvas();
  EXPECT_EQ(c->Pixel(5, 5), ColorToRGB(clBtnShadow));
  EXPECT_EQ(c->Pixel(13, 13), ColorToRGB(clBtnHighlight));  // offset (1, 1) below right
  EXPECT_EQ(c->Pixel(1, 1), clRed);
  b->SetOldDisabledStyle(true);
  out.Canvas()->FillRect({0, 0, 16, 16});
  b->ButtonGlyph()->Draw(out.Canvas(), 0, 0, bsDisabled);
  EXPECT_EQ(c->Pixel(5, 5), ColorToRGB(clBtnShadow));
  EXPECT_EQ(c->Pixel(13, 13), clRed);
}

TEST_F(ToolbarButtonTest, DownNeedsAGroupAndReleasesSiblings) {
  TToolbarButton* a = Add();
  TToolbarButton* b = Add();
  TToolbarButton* other = Add();
  a->SetDown(true);
  EXPECT_FALSE(a->Down());  // no GroupIndex
  for (auto* x : {a, b}) x->SetGroupIndex(1);
  other->SetGroupIndex(2);
  other->SetDown(true);
  a->SetDown(true);
  EXPECT_EQ(a->State(), bsExclusive);
  b->SetDown(true);
  EXPECT_TRUE(b->Down());
  EXPECT_FALSE(a->Down());
  EXPECT_EQ(a->State(), bsUp);
  EXPECT_TRUE(other->Down());  // another group
  b->SetDown(false);
  EXPECT_TRUE(b->Down());  // latched without AllowAllUp
  a->SetAllowAllUp(true);
  EXPECT_TRUE(b->AllowAllUp());  // copied to the group
  b->SetDown(false);
  EXPECT_FALSE(b->Down());
}

TEST_F(ToolbarButtonTest, ClickingLatchesAndAllowAllUpReleases) {
  TToolbarButton* a = Add();
  TToolbarButton* b = Add();
  a->SetGroupIndex(1);
  b->SetGroupIndex(1);
  int clicks = 0;
  a->OnClick = [&](TObject*) { ++clicks; };
  guitest::Press(a, 5, 5);
  guitest::Release(a, 5, 5);
  EXPECT_TRUE(a->Down());
  EXPECT_EQ(clicks, 1);
  guitest::Press(b, 5, 5);
  guitest::Release(b, 5, 5);
  EXPECT_TRUE(b->Down());
  EXPECT_FALSE(a->Down());
  guitest::Press(b, 5, 5);
  guitest::Release(b, 5, 5);
  EXPECT_TRUE(b->Down());  // cannot be released by clicking it
  EXPECT_EQ(b->State(), bsExclusive);
  b->SetAllowAllUp(true);
  guitest::Press(b, 5, 5);
  guitest::Release(b, 5, 5);
  EXPECT_FALSE(b->Down());
}

// A handler that fails (a print error, say) reaches the application's handler; the button
// must come back up and keep working as before.
TEST_F(ToolbarButtonTest, FailingClickHandlerLeavesTheButtonWorking) {
  TToolbarButton* a = Add();
  a->SetGroupIndex(1);
  a->SetAllowAllUp(true);
  std::vector<std::string> reported;
  Application()->OnException = [&](TObject*, const std::exception& E) { reported.push_back(E.what()); };
  int calls = 0;
  a->OnClick = [&](TObject*) {
    if (++calls == 1) throw Exception("Printer selected is not valid");
  };
  UnderCursor = a;
  guitest::Press(a, 5, 5);
  guitest::Release(a, 5, 5);
  ASSERT_EQ(reported, std::vector<std::string>{"Printer selected is not valid"});
  EXPECT_TRUE(a->Down());
  EXPECT_EQ(a->State(), bsExclusive);
  // The next click toggles again and ends with the button up, not pressed.
  guitest::Press(a, 5, 5);
  guitest::Release(a, 5, 5);
  EXPECT_EQ(calls, 2);
  EXPECT_FALSE(a->Down());
  EXPECT_NE(a->State(), bsDown);
  // A plain button whose handler failed is not left drawn pressed after its next click.
  TToolbarButton* c = Add();
  int cCalls = 0;
  c->OnClick = [&](TObject*) {
    if (++cCalls == 1) throw Exception("Out of paper");
  };
  UnderCursor = c;
  guitest::Press(c, 5, 5);
  guitest::Release(c, 5, 5);
  guitest::Press(c, 5, 5);
  guitest::Release(c, 5, 5);
  EXPECT_EQ(cCalls, 2);
  EXPECT_NE(c->State(), bsDown);
  Application()->OnException = nullptr;
}

TEST_F(ToolbarButtonTest, HotTrackingEntersAndLeaves) {
  TToolbarButton* a = Add();
  TToolbarButton* b = Add();
  int enters = 0, exits = 0;
  a->OnMouseEnter = [&](TObject*) { ++enters; };
  a->OnMouseExit = [&](TObject*) { ++exits; };
  UnderCursor = a;
  guitest::Move(a, 5, 5);
  EXPECT_EQ(ToolbarHotButton(), a);
  EXPECT_TRUE(a->MouseInControl());
  EXPECT_EQ(a->State(), bsHot);
  EXPECT_TRUE(ToolbarHotTimer()->Enabled());
  EXPECT_EQ(enters, 1);
  guitest::Move(a, 6, 5);
  EXPECT_EQ(enters, 1);
  // Moving onto another button moves the hot state.
  UnderCursor = b;
  guitest::Move(b, 5, 5);
  EXPECT_EQ(ToolbarHotButton(), b);
  EXPECT_EQ(a->State(), bsUp);
  EXPECT_EQ(exits, 1);
  // The shared timer notices the pointer elsewhere.
  UnderCursor = nullptr;
  ToolbarHotTimer()->OnTimer(ToolbarHotTimer());
  EXPECT_EQ(ToolbarHotButton(), nullptr);
  EXPECT_FALSE(b->MouseInControl());
  EXPECT_EQ(b->State(), bsUp);
  EXPECT_FALSE(ToolbarHotTimer()->Enabled());
}

TEST_F(ToolbarButtonTest, HooksDropTheHotState) {
  TToolbarButton* a = Add();
  UnderCursor = a;
  guitest::Move(a, 5, 5);
  ASSERT_EQ(ToolbarHotButton(), a);
  THookMessage m;
  m.Msg = WM_MOUSEMOVE;
  AppHooksDispatch(hkGetMessage, m);  // still over the button
  EXPECT_EQ(ToolbarHotButton(), a);
  UnderCursor = Panel.get();
  AppHooksDispatch(hkGetMessage, m);  // a move anywhere else in the program
  EXPECT_EQ(ToolbarHotButton(), nullptr);
  EXPECT_EQ(a->State(), bsUp);

  UnderCursor = a;
  guitest::Move(a, 5, 5);
  m.Msg = WM_ACTIVATEAPP;
  m.WParam = 1;
  AppHooksDispatch(hkCallWndProc, m);
  EXPECT_EQ(ToolbarHotButton(), a);
  a->SetShowBorderWhenInactive(true);
  m.WParam = 0;
  AppHooksDispatch(hkCallWndProc, m);
  EXPECT_EQ(ToolbarHotButton(), a);
  a->SetShowBorderWhenInactive(false);
  AppHooksDispatch(hkCallWndProc, m);
  EXPECT_EQ(ToolbarHotButton(), nullptr);
}

TEST_F(ToolbarButtonTest, InactiveApplicationShowsNoHotBorder) {
  TToolbarButton* a = Add();
  AppActive = false;
  UnderCursor = a;
  guitest::Move(a, 5, 5);
  EXPECT_EQ(ToolbarHotButton(), nullptr);
  EXPECT_EQ(a->State(), bsUp);
  a->SetShowBorderWhenInactive(true);
  guitest::Move(a, 6, 5);
  EXPECT_EQ(ToolbarHotButton(), a);
}

// A click that activates the program (after a dialog, or from another program) enters the
// button although no move made it hot; it must leave again when the pointer goes elsewhere.
TEST_F(ToolbarButtonTest, ButtonEnteredByAPressLeavesAgain) {
  TToolbarButton* a = Add();
  TToolbarButton* b = Add();
  int clicks = 0;
  a->OnClick = [&](TObject*) { ++clicks; };
  AppActive = false;
  UnderCursor = a;
  guitest::Move(a, 5, 5);  // inactive: not hot
  EXPECT_FALSE(a->MouseInControl());
  AppActive = true;  // the press activates the program
  guitest::Press(a, 5, 5);
  guitest::Release(a, 5, 5);
  EXPECT_EQ(clicks, 1);
  EXPECT_TRUE(a->MouseInControl());
  EXPECT_EQ(ToolbarHotButton(), a);
  EXPECT_TRUE(ToolbarHotTimer()->Enabled());
  // The pointer jumps away: a move anywhere else drops the hot look.
  UnderCursor = Panel.get();
  THookMessage m;
  m.Msg = WM_MOUSEMOVE;
  AppHooksDispatch(hkGetMessage, m);
  EXPECT_FALSE(a->MouseInControl());
  EXPECT_EQ(a->State(), bsUp);
  EXPECT_EQ(ToolbarHotButton(), nullptr);
  // Pressed straight after another button was hot: that one leaves, this one is tracked.
  UnderCursor = b;
  guitest::Move(b, 5, 5);
  ASSERT_EQ(ToolbarHotButton(), b);
  UnderCursor = a;
  guitest::Press(a, 5, 5);
  EXPECT_FALSE(b->MouseInControl());
  EXPECT_EQ(ToolbarHotButton(), a);
  guitest::Release(a, 5, 5);
  UnderCursor = nullptr;
  ToolbarHotTimer()->OnTimer(ToolbarHotTimer());
  EXPECT_FALSE(a->MouseInControl());
  EXPECT_FALSE(ToolbarHotTimer()->Enabled());
}

TEST_F(ToolbarButtonTest, PressAndRelease) {
  TToolbarButton* a = Add();
  int clicks = 0;
  a->OnClick = [&](TObject* s) {
    EXPECT_EQ(s, a);
    ++clicks;
  };
  UnderCursor = a;
  guitest::Press(a, 5, 5);
  EXPECT_EQ(a->State(), bsDown);
  EXPECT_TRUE(a->MouseIsDown());
  guitest::Move(a, 40, 5, Qt::LeftButton);  // outside: up
  EXPECT_EQ(a->State(), bsUp);
  guitest::Move(a, 10, 5, Qt::LeftButton);
  EXPECT_EQ(a->State(), bsDown);
  guitest::Release(a, 10, 5);
  EXPECT_EQ(clicks, 1);
  EXPECT_FALSE(a->MouseIsDown());
  EXPECT_NE(a->State(), bsDown);
  guitest::Press(a, 5, 5);
  guitest::Release(a, 40, 5);  // released outside: no click
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(a->State(), bsUp);
  guitest::Press(a, 5, 5, Qt::RightButton);
  guitest::Release(a, 5, 5, Qt::RightButton);
  EXPECT_EQ(clicks, 1);
  EXPECT_FALSE(a->MouseInControl());
}

TEST_F(ToolbarButtonTest, RepeatingClicksAtOnceThenOnTheTimer) {
  TToolbarButton* a = Add();
  a->SetRepeating(true);
  int clicks = 0;
  a->OnClick = [&](TObject*) { ++clicks; };
  Cursor = At(a, 5, 5);
  guitest::Press(a, 5, 5);
  EXPECT_EQ(clicks, 1);
  ASSERT_NE(a->RepeatTimer(), nullptr);
  EXPECT_EQ(a->RepeatTimer()->Interval(), 400u);
  EXPECT_TRUE(a->RepeatTimer()->Enabled());
  a->RepeatTimer()->OnTimer(a->RepeatTimer());
  EXPECT_EQ(clicks, 2);
  EXPECT_EQ(a->RepeatTimer()->Interval(), 100u);
  a->RepeatTimer()->OnTimer(a->RepeatTimer());
  EXPECT_EQ(clicks, 3);
  Cursor = At(a, 50, 5);  // outside pauses
  a->RepeatTimer()->OnTimer(a->RepeatTimer());
  EXPECT_EQ(clicks, 3);
  EXPECT_FALSE(a->RepeatTimer()->Enabled());
  Cursor = At(a, 6, 5);
  guitest::Move(a, 6, 5, Qt::LeftButton);
  EXPECT_TRUE(a->RepeatTimer()->Enabled());
  a->RepeatTimer()->OnTimer(a->RepeatTimer());
  EXPECT_EQ(clicks, 4);
  guitest::Release(a, 6, 5);
  EXPECT_EQ(clicks, 4);  // a repeating button does not click again on release
  EXPECT_EQ(a->RepeatTimer(), nullptr);
  EXPECT_EQ(a->State(), bsUp);
}

TEST_F(ToolbarButtonTest, DropdownComboArrowShowsTheMenu) {
  TPopupMenu menu(nullptr);
  auto* item = new TMenuItem(&menu);
  item->SetCaption("Een");
  menu.Items()->Add(item);
  TToolbarButton* a = Add();
  a->SetWidth(40);
  a->SetDropdownMenu(&menu);
  a->SetDropdownCombo(true);
  int popups = 0, clicks = 0;
  TPoint where;
  auto old = SetPopupHandler([&](TPopupMenu* m, int32_t X, int32_t Y) -> TMenuItem* {
    EXPECT_EQ(m, &menu);
    EXPECT_FALSE(a->State() == bsDown && !a->MenuIsDown());  // the main part is not pushed
    ++popups;
    where = {X, Y};
    return nullptr;
  });
  a->OnClick = [&](TObject*) { ++clicks; };
  guitest::Press(a, 35, 5);  // on the arrow part: 40 - (9 + 2) = 29
  EXPECT_EQ(popups, 1);
  EXPECT_EQ(where, a->ClientToScreen({0, a->Height()}));
  EXPECT_EQ(clicks, 1);
  EXPECT_FALSE(a->MenuIsDown());
  guitest::Release(a, 35, 5);
  // The click that closes the menu over the button does not open it again.
  guitest::Press(a, 35, 5);
  guitest::Release(a, 35, 5);
  EXPECT_EQ(popups, 1);
  // The main part clicks without a menu.
  guitest::Press(a, 5, 5);
  guitest::Release(a, 5, 5);
  EXPECT_EQ(popups, 1);
  EXPECT_EQ(clicks, 2);
  SetPopupHandler(old);
}

TEST_F(ToolbarButtonTest, OnDropdownMayCancelTheMenu) {
  TPopupMenu menu(nullptr);
  TToolbarButton* a = Add();
  a->SetDropdownMenu(&menu);
  int popups = 0;
  auto old = SetPopupHandler([&](TPopupMenu*, int32_t, int32_t) -> TMenuItem* { ++popups; return nullptr; });
  a->OnDropdown = [](TObject*, bool& Show, bool&) { Show = false; };
  guitest::Press(a, 5, 5);
  guitest::Release(a, 5, 5);
  EXPECT_EQ(popups, 0);
  EXPECT_EQ(a->State(), bsUp);
  SetPopupHandler(old);
}

TEST_F(ToolbarButtonTest, DropdownMenuRemovalClearsTheProperty) {
  TToolbarButton* a = Add();
  auto menu = std::make_unique<TPopupMenu>(nullptr);
  auto images = std::make_unique<TImageList>(nullptr);
  a->SetDropdownMenu(menu.get());
  a->SetImages(images.get());
  menu.reset();
  images.reset();
  EXPECT_EQ(a->DropdownMenu(), nullptr);
  EXPECT_EQ(a->Images(), nullptr);
}

TEST_F(ToolbarButtonTest, DisablingDropsHotAndHeld) {
  TToolbarButton* a = Add();
  UnderCursor = a;
  guitest::Move(a, 5, 5);
  guitest::Press(a, 5, 5);
  a->SetEnabled(false);
  EXPECT_EQ(a->State(), bsDisabled);
  EXPECT_FALSE(a->MouseInControl());
  EXPECT_FALSE(a->MouseIsDown());
  EXPECT_EQ(ToolbarHotButton(), nullptr);
  guitest::Release(a, 5, 5);
  a->SetEnabled(true);
  EXPECT_EQ(a->State(), bsUp);
  a->SetGroupIndex(3);
  a->SetDown(true);
  a->SetEnabled(false);
  a->SetEnabled(true);
  EXPECT_EQ(a->State(), bsExclusive);
}

// A disabled button stays disabled (greyed glyph) when it is latched or released in code, as
// an action that is both disabled and checked does to its button.
TEST_F(ToolbarButtonTest, LatchingADisabledButtonKeepsItDisabled) {
  auto glyph = Strip(1);
  TToolbarButton* a = Add();
  TToolbarButton* b = Add();
  a->SetGlyph(glyph.get());
  a->SetGroupIndex(2);
  b->SetGroupIndex(2);
  a->SetAllowAllUp(true);
  a->SetEnabled(false);
  a->SetDown(true);
  EXPECT_TRUE(a->Down());
  EXPECT_EQ(a->State(), bsDisabled);
  b->SetDown(true);  // releases a
  EXPECT_FALSE(a->Down());
  EXPECT_EQ(a->State(), bsDisabled);
  a->SetDown(true);
  a->SetEnabled(true);
  EXPECT_EQ(a->State(), bsExclusive);

  TAction action(nullptr);
  action.SetEnabled(false);
  action.SetChecked(true);
  TToolbarButton* c = Add();
  c->SetGroupIndex(5);
  c->SetAction(&action);
  EXPECT_FALSE(c->Enabled());
  EXPECT_TRUE(c->Down());
  EXPECT_EQ(c->State(), bsDisabled);
  c->SetAction(nullptr);
}

TEST_F(ToolbarButtonTest, ButtonFreedInItsOwnClick) {
  Buttons.push_back(nullptr);  // keeps slot indexes stable
  auto* raw = new TToolbarButton(nullptr);
  raw->SetParent(Panel.get());
  bool freed = false;
  // The handler lives in the button: nothing of the closure is touched after the delete.
  raw->OnClick = [&freed](TObject* s) {
    freed = true;
    delete static_cast<TToolbarButton*>(s);
  };
  raw->PerformClick();
  EXPECT_TRUE(freed);
  EXPECT_EQ(ToolbarButtonCount(), 0);
}

TEST_F(ToolbarButtonTest, ButtonFreedInARepeatedClick) {
  auto* raw = new TToolbarButton(nullptr);
  raw->SetParent(Panel.get());
  raw->SetRepeating(true);
  int clicks = 0;
  raw->OnClick = [&clicks](TObject* s) {
    if (++clicks == 2) delete static_cast<TToolbarButton*>(s);
  };
  Cursor = At(raw, 5, 5);
  guitest::Press(raw, 5, 5);
  TTimer* t = raw->RepeatTimer();
  ASSERT_NE(t, nullptr);
  t->OnTimer(t);  // the second click frees the button; its timer outlives the tick
  EXPECT_EQ(clicks, 2);
  EXPECT_FALSE(t->Enabled());
  EXPECT_EQ(ToolbarButtonCount(), 0);
}

TEST_F(ToolbarButtonTest, ButtonFreedInItsOwnClickByTheMouse) {
  auto* raw = new TToolbarButton(nullptr);
  raw->SetParent(Panel.get());
  bool freed = false;
  raw->OnClick = [&freed](TObject* s) {
    freed = true;
    delete static_cast<TToolbarButton*>(s);
  };
  UnderCursor = raw;
  guitest::Move(raw, 5, 5);
  guitest::Press(raw, 5, 5);
  UnderCursor = nullptr;
  guitest::Release(raw, 5, 5);
  EXPECT_TRUE(freed);
  EXPECT_EQ(ToolbarHotButton(), nullptr);
}

TEST_F(ToolbarButtonTest, ModalResultGoesToTheForm) {
  TForm form(nullptr);
  auto* b = new TToolbarButton(&form);
  b->SetParent(&form);
  b->SetModalResult(mrOk);
  b->PerformClick();
  EXPECT_EQ(form.ModalResult(), mrOk);
}

TEST_F(ToolbarButtonTest, ActionLink) {
  TAction action(nullptr);
  action.SetCaption("Afdrukken");
  action.SetHint("Afdrukken");
  action.SetImageIndex(3);
  action.SetHelpContext(12);
  int executed = 0;
  action.OnExecute = [&](TObject*) { ++executed; };
  TToolbarButton* a = Add();
  a->SetGroupIndex(1);
  a->SetAllowAllUp(true);
  action.SetChecked(true);
  a->SetAction(&action);
  EXPECT_EQ(a->Caption(), "Afdrukken");
  EXPECT_EQ(a->Hint(), "Afdrukken");
  EXPECT_EQ(a->ImageIndex(), 3);
  EXPECT_EQ(a->HelpContext(), 12);
  EXPECT_TRUE(a->Down());
  action.SetImageIndex(4);
  action.SetHelpContext(13);
  action.SetEnabled(false);
  EXPECT_EQ(a->ImageIndex(), 4);
  EXPECT_EQ(a->HelpContext(), 13);
  EXPECT_FALSE(a->Enabled());
  action.SetEnabled(true);
  action.SetChecked(false);
  EXPECT_FALSE(a->Down());
  a->SetImageIndex(7);  // set on the button: no longer follows the action
  action.SetImageIndex(5);
  EXPECT_EQ(a->ImageIndex(), 7);
  a->PerformClick();
  EXPECT_EQ(executed, 1);
  a->OnClick = [](TObject*) {};
  a->PerformClick();
  EXPECT_EQ(executed, 1);  // an own OnClick wins
  a->SetAction(nullptr);
  EXPECT_EQ(a->Action(), nullptr);
}

// Rendering -------------------------------------------------------------------------------------

QImage Grab(TControl* c) { return static_cast<QWidget*>(c->WidgetHandle())->grab().toImage().convertToFormat(QImage::Format_RGB32); }

// A transparent flat button (Opaque False) shows its parent's background around its glyph; an
// opaque one paints its own Color there.
TEST_F(ToolbarButtonTest, TransparentFlatButtonShowsItsParent) {
  Panel->SetColor(clRed);
  Panel->SetBevelOuter(bvNone);
  TToolbarButton* opaque = Add(4);
  TToolbarButton* clear = Add(40);
  for (TToolbarButton* b : {opaque, clear}) {
    b->SetTop(4);
    b->SetGlyph(Strip(1).get());
  }
  clear->SetOpaque(false);
  const QImage img = static_cast<QWidget*>(Panel->WidgetHandle())->grab().toImage();
  auto px = [&](int x, int y) { return img.pixel(x, y) & 0xFFFFFF; };
  const TColor face = ColorToRGB(clBtnFace);
  const QRgb faceRgb = ((face & 0xFF) << 16) | (face & 0xFF00) | ((face >> 16) & 0xFF);
  EXPECT_EQ(px(4 + 1, 4 + 1), faceRgb);
  EXPECT_EQ(px(40 + 1, 4 + 1), 0xFF0000u);
  EXPECT_EQ(px(40 + 12, 4 + 11), 0x000080u);  // the glyph is drawn all the same
  // Raised, the button paints its face again.
  clear->SetFlat(false);
  const QImage raised = static_cast<QWidget*>(Panel->WidgetHandle())->grab().toImage();
  EXPECT_EQ(raised.pixel(40 + 5, 4 + 5) & 0xFFFFFF, faceRgb);
}

// Absurd sizes from a careless caller paint and hit-test without overflowing.
TEST_F(ToolbarButtonTest, ExtremeSizesPaintAndPress) {
  TPopupMenu menu(nullptr);
  for (int32_t v : {INT32_MAX, INT32_MIN, -1000000}) {
    TToolbarButton* b = Add(4);
    b->SetCaption("Zoom");
    b->SetGlyph(Strip(1).get());
    b->SetDropdownMenu(&menu);
    b->SetDropdownArrowWidth(v);
    b->SetSpacing(v);
    b->SetMargin(v);
    b->SetWordWrap(true);
    for (bool combo : {false, true}) {
      b->SetDropdownCombo(combo);
      (void)static_cast<QWidget*>(b->WidgetHandle())->grab();
      UnderCursor = b;
      guitest::Move(b, 5, 5);
      guitest::Move(b, 6, 5, Qt::LeftButton);
      b->SetDropdownMenu(nullptr);
      guitest::Press(b, 5, 5);
      guitest::Release(b, 5, 5);
      b->SetDropdownMenu(&menu);
    }
  }
}

TEST_F(ToolbarButtonTest, RendersHotPressedDisabledAndLatched) {
  Panel->SetColor(clBtnFace);
  Panel->SetBevelOuter(bvNone);
  Panel->SetBounds(0, 0, 260, 30);
  auto glyph = Strip(1);
  const char* names[] = {"normal", "hot", "pressed", "disabled", "latched", "caption", "dropdown"};
  std::vector<TToolbarButton*> bs;
  for (int i = 0; i < 7; ++i) {
    TToolbarButton* b = Add(4 + i * 27);
    b->SetTop(4);
    b->SetGlyph(glyph.get());
    b->SetName(names[i]);
    bs.push_back(b);
  }
  bs[5]->SetWidth(50);
  bs[5]->SetLeft(4 + 5 * 27);
  bs[5]->SetCaption("Zoom");
  bs[6]->SetLeft(4 + 5 * 27 + 54);
  bs[6]->SetWidth(34);
  bs[6]->SetDropdownAlways(true);

  // Pressed first: a press takes the hot state from any other button, a held one keeps its own.
  UnderCursor = bs[2];
  guitest::Press(bs[2], 5, 5);
  UnderCursor = bs[1];
  guitest::Move(bs[1], 5, 5);
  bs[3]->SetEnabled(false);
  bs[4]->SetGroupIndex(1);
  bs[4]->SetDown(true);

  // Each button rendered by its own widget, placed where it sits on the toolbar.
  QImage img(Panel->Width(), Panel->Height(), QImage::Format_RGB32);
  {
    const TColor f = ColorToRGB(clBtnFace);
    img.fill(QColor(f & 0xFF, (f >> 8) & 0xFF, (f >> 16) & 0xFF));
    QPainter p(&img);
    for (TToolbarButton* b : bs) p.drawImage(b->Left(), b->Top(), Grab(b));
  }
  const std::string path = kdtest::OutputDir() + "/toolbar_buttons.png";
  ASSERT_TRUE(img.save(QString::fromStdString(path)));

  auto px = [&](int x, int y) { return img.pixel(x, y) & 0xFFFFFF; };
  const QRgb face = px(1, 1);
  const QRgb hi = static_cast<QRgb>(ColorToRGB(clBtnHighlight));
  auto rgb = [](TColor c) { c = ColorToRGB(c); return static_cast<QRgb>(((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF)); };
  (void)hi;
  const int top = 4;
  // Normal flat button: no border.
  EXPECT_EQ(px(4 + 10, top), face);
  // Hot: raised inner edge, highlight on top, shadow at the bottom.
  EXPECT_EQ(px(31 + 10, top), rgb(clBtnHighlight));
  EXPECT_EQ(px(31 + 10, top + 21), rgb(clBtnShadow));
  // Pressed: sunken, shadow on top, glyph one pixel lower right.
  EXPECT_EQ(px(58 + 10, top), rgb(clBtnShadow));
  EXPECT_EQ(px(58 + 4 + 3, top + 3 + 3), rgb(clBtnFace));   // where the up glyph's corner would be
  EXPECT_EQ(px(58 + 5 + 3, top + 4 + 3), rgb(clNavy));
  // Disabled: the embossed glyph in shadow colour, no navy.
  EXPECT_EQ(px(85 + 4 + 5, top + 3 + 5), rgb(clBtnShadow));
  // Latched: the checkered pattern around the glyph.
  const QRgb a = px(112 + 2, top + 2), b = px(112 + 3, top + 2);
  EXPECT_NE(a, b);
  EXPECT_TRUE((a == rgb(clBtnHighlight) && b == rgb(clBtnFace)) || (b == rgb(clBtnHighlight) && a == rgb(clBtnFace)));
  guitest::Release(bs[2], 40, 40);
}

}  // namespace

namespace {

TEST(ToolbarButtonKeys, DefaultCancelAndAccelerator) {
  TForm form(nullptr);
  form.SetBounds(0, 0, 200, 100);
  auto* b = new TToolbarButton(&form);
  b->SetParent(&form);
  b->SetCaption("&Vorige");
  int clicks = 0;
  b->OnClick = [&](TObject*) { ++clicks; };
  EXPECT_FALSE(b->DialogChar(U'v'));  // the form is not showing
  form.Show();
  EXPECT_TRUE(b->DialogChar(U'v'));
  EXPECT_TRUE(b->DialogChar(U'V'));
  EXPECT_FALSE(b->DialogChar(U'o'));
  EXPECT_EQ(clicks, 2);
  EXPECT_FALSE(b->DialogKey(13, 0));
  b->SetDefault(true);
  EXPECT_TRUE(b->DialogKey(13, 0));
  EXPECT_FALSE(b->DialogKey(13, ssShift));
  EXPECT_FALSE(b->DialogKey(27, 0));
  b->SetCancel(true);
  EXPECT_TRUE(b->DialogKey(27, 0));
  b->SetEnabled(false);
  EXPECT_FALSE(b->DialogKey(27, 0));
  EXPECT_EQ(clicks, 4);
  b->SetEnabled(true);
  b->SetCaption("Tom && Jerry");
  EXPECT_FALSE(b->DialogChar(U'j'));
  form.Hide();
}

// Keys typed into an edit on the form reach the toolbar buttons through the form.
TEST(ToolbarButtonKeys, TypedKeysClickDefaultCancelAndAcceleratorButtons) {
  TForm form(nullptr);
  form.SetBounds(0, 0, 300, 120);
  auto* panel = new TPanel(&form);
  panel->SetParent(&form);
  panel->SetBounds(0, 0, 300, 40);
  auto* edit = new TEdit(&form);
  edit->SetParent(&form);
  edit->SetBounds(10, 60, 120, 22);
  std::vector<std::string> clicked;
  auto button = [&](const std::string& caption, int32_t left) {
    auto* b = new TToolbarButton(&form);
    b->SetParent(panel);  // a button on a panel, as on the main form's tool panel
    b->SetBounds(left, 5, 60, 22);
    b->SetCaption(caption);
    b->OnClick = [&clicked, caption](TObject*) { clicked.push_back(caption); };
    return b;
  };
  TToolbarButton* ok = button("OK", 0);
  TToolbarButton* cancel = button("Annuleren", 60);
  TToolbarButton* previous = button("&Vorige", 120);
  ok->SetDefault(true);
  cancel->SetCancel(true);
  form.Show();
  edit->SetFocus();
  guitest::Key(edit, Qt::Key_Return);
  guitest::Key(edit, Qt::Key_Escape);
  guitest::Key(edit, Qt::Key_V, Qt::AltModifier, "v");
  EXPECT_EQ(clicked, (std::vector<std::string>{"OK", "Annuleren", "&Vorige"}));
  // With a shift key, or without the modifier, nothing is clicked; a plain "v" goes to the edit.
  clicked.clear();
  guitest::Key(edit, Qt::Key_Return, Qt::ShiftModifier);
  guitest::Key(edit, Qt::Key_V, Qt::NoModifier, "v");
  EXPECT_TRUE(clicked.empty());
  EXPECT_EQ(edit->Text(), "v");
  // A hidden or disabled button is passed over.
  previous->SetVisible(false);
  ok->SetEnabled(false);
  guitest::Key(edit, Qt::Key_V, Qt::AltModifier, "v");
  guitest::Key(edit, Qt::Key_Return);
  EXPECT_TRUE(clicked.empty());
  form.Hide();
}

// Accelerators beyond ASCII: the typed character and the one after "&" match in either case,
// by the platform's Unicode case folding; an accent is no case, so "e" does not click "&Één".
TEST(ToolbarButtonKeys, AcceleratorsOfEveryAlphabetInBothCases) {
  TForm form(nullptr);
  form.SetBounds(0, 0, 400, 120);
  auto* edit = new TEdit(&form);
  edit->SetParent(&form);
  edit->SetBounds(10, 60, 120, 22);
  std::vector<std::string> clicked;
  int32_t left = 0;
  auto button = [&](const std::string& caption) {
    auto* b = new TToolbarButton(&form);
    b->SetParent(&form);
    b->SetBounds(left, 5, 50, 22);
    left += 50;
    b->SetCaption(caption);
    b->OnClick = [&clicked, caption](TObject*) { clicked.push_back(caption); };
    return b;
  };
  button("&\xC3\x89\xC3\xA9n");     // &Één
  button("&\xC3\x9C");               // &Ü
  button("\xC3\xA9\xC3\xA9n &\xC3\xB8"); // één &ø
  button("&\xCE\xA9");               // &Ω
  button("&\xD0\xB4\xD0\xB0");       // &да
  button("&Vorige");
  button("&&\xC3\xA4");              // no accelerator: "&&" is a plain "&"
  form.Show();
  edit->SetFocus();
  struct TCase {
    int Key;
    const char* Text;
    Qt::KeyboardModifiers Mods;
    std::vector<std::string> Clicked;
  };
  const TCase cases[] = {
      {Qt::Key_Eacute, "\xC3\xA9", Qt::AltModifier, {"&\xC3\x89\xC3\xA9n"}},                    // é
      {Qt::Key_Eacute, "\xC3\x89", Qt::AltModifier | Qt::ShiftModifier, {"&\xC3\x89\xC3\xA9n"}},  // É
      {Qt::Key_Udiaeresis, "\xC3\xBC", Qt::AltModifier, {"&\xC3\x9C"}},                         // ü
      {Qt::Key_Udiaeresis, "\xC3\x9C", Qt::AltModifier | Qt::ShiftModifier, {"&\xC3\x9C"}},       // Ü
      {Qt::Key_Ooblique, "\xC3\xB8", Qt::AltModifier, {"\xC3\xA9\xC3\xA9n &\xC3\xB8"}},           // ø
      {Qt::Key_Ooblique, "\xC3\x98", Qt::AltModifier | Qt::ShiftModifier, {"\xC3\xA9\xC3\xA9n &\xC3\xB8"}},  // Ø
      {0x3C9, "\xCF\x89", Qt::AltModifier, {"&\xCE\xA9"}},                                     // ω
      {0x3A9, "\xCE\xA9", Qt::AltModifier | Qt::ShiftModifier, {"&\xCE\xA9"}},                   // Ω
      {0x434, "\xD0\xB4", Qt::AltModifier, {"&\xD0\xB4\xD0\xB0"}},                              // д
      {0x414, "\xD0\x94", Qt::AltModifier | Qt::ShiftModifier, {"&\xD0\xB4\xD0\xB0"}},          // Д
      {Qt::Key_V, "V", Qt::AltModifier | Qt::ShiftModifier, {"&Vorige"}},
      {Qt::Key_V, "v", Qt::AltModifier, {"&Vorige"}},
      {Qt::Key_E, "e", Qt::AltModifier, {}},                                          // not é
      {Qt::Key_U, "U", Qt::AltModifier | Qt::ShiftModifier, {}},                      // not Ü
      {Qt::Key_Adiaeresis, "\xC3\xA4", Qt::AltModifier, {}},                          // ä of "&&ä"
      {Qt::Key_Eacute, "\xC3\xA9", Qt::NoModifier, {}},                               // typed into the edit
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Text);
    clicked.clear();
    guitest::Key(edit, c.Key, c.Mods, QString::fromUtf8(c.Text));
    EXPECT_EQ(clicked, c.Clicked);
  }
  EXPECT_EQ(edit->Text(), "\xC3\xA9");
  form.Hide();
}

TEST(ToolbarButtonImages, GlyphFromAnImageList) {
  TImageList images(nullptr);
  images.SetWidth(12);
  images.SetHeight(12);
  TBitmap pic;
  pic.SetPixelFormat(pf24bit);
  pic.SetSize(12, 12);
  pic.Canvas()->Brush()->SetColor(clTeal);
  pic.Canvas()->FillRect({0, 0, 12, 12});
  images.Add(&pic);
  TToolbarButton b(nullptr);
  b.SetImages(&images);
  b.SetImageIndex(0);
  EXPECT_EQ(b.ButtonGlyph()->GlyphSize(), (TSize{12, 12}));
  TBitmap out;
  out.SetPixelFormat(pf24bit);
  out.SetSize(12, 12);
  b.ButtonGlyph()->Draw(out.Canvas(), 0, 0, bsHot);
  EXPECT_EQ(out.Canvas()->Pixel(6, 6), clTeal);
  b.SetImageIndex(1);  // out of range: no glyph
  EXPECT_EQ(b.ButtonGlyph()->GlyphSize(), (TSize{0, 0}));
  EXPECT_EQ(b.ButtonGlyph()->CreateButtonGlyph(bsUp), -1);
}

}  // namespace

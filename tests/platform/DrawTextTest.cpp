// DrawText layout with the fixed-advance measurer (5 pixels a character, lines 10 high,
// glyph boxes from the cell's second row down to the baseline), so every place is exact.
#include <gtest/gtest.h>

#include <climits>

#include "platform/Graphics.h"

using namespace platform;

namespace {

// Records the runs drawn, with their cell positions in the canvas.
class TRecorder : public TFakeTextMeasurer {
 public:
  struct Run {
    std::string Text;
    int32_t X, Y;
  };
  std::vector<Run> Runs;
  TRect Origin;  // device position of the mask, learnt from the first render
  void RenderLine(const TFont& Font, std::string_view Text, int32_t X, int32_t Y, const TRect& Clip,
                  TTextMask& Mask) override {
    Runs.push_back({std::string(Text), X, Y});
    TFakeTextMeasurer::RenderLine(Font, Text, X, Y, Clip, Mask);
  }
};

class DrawTextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Bmp.SetPixelFormat(pf32bit);
    Bmp.SetSize(200, 100);
    C = Bmp.Canvas();
    C->SetBkMode(OPAQUE);
    C->Brush()->SetColor(clWhite);
    C->FillRect(Rect(0, 0, 200, 100));
    C->Font()->SetHeight(-10);
    C->Font()->SetColor(clBlack);
    C->Brush()->SetStyle(bsClear);
  }
  bool Ink(int x, int y) { return C->Pixel(x, y) == clBlack; }
  // Left edges of inked glyph boxes along a row, found from the pixels.
  std::vector<int> GlyphLefts(int y, int from = 0, int to = 200) {
    std::vector<int> out;
    for (int x = from; x < to; ++x)
      if (Ink(x, y) && (x == 0 || !Ink(x - 1, y))) out.push_back(x);
    return out;
  }
  // Device position of the text cell whose first glyph starts at x: first inked row - 1.
  int CellTop(int x) {
    for (int y = 0; y < 100; ++y)
      if (Ink(x, y)) return y - 1;
    return -1;
  }

  TRecorder Rec;
  TScopedTextMeasurer Scope{&Rec};
  TBitmap Bmp;
  TCanvas* C = nullptr;
};

}  // namespace

TEST_F(DrawTextTest, SingleLineAlignments) {
  TRect r = Rect(10, 10, 110, 40);
  EXPECT_EQ(C->DrawText("ab", r, DT_SINGLELINE), 10);
  EXPECT_EQ(GlyphLefts(15), (std::vector<int>{10, 15}));
  EXPECT_EQ(CellTop(10), 10);
  EXPECT_EQ(r, Rect(10, 10, 110, 40));  // drawing leaves the rectangle alone

  SetUp();
  // Bottom: the cell ends at the rectangle's bottom; the result is the offset of that bottom.
  EXPECT_EQ(C->DrawText("ab", r, DT_SINGLELINE | DT_BOTTOM | DT_RIGHT), 30);
  EXPECT_EQ(CellTop(100), 30);
  EXPECT_EQ(GlyphLefts(35), (std::vector<int>{100, 105}));

  SetUp();
  EXPECT_EQ(C->DrawText("ab", r, DT_SINGLELINE | DT_VCENTER | DT_CENTER), 20);
  EXPECT_EQ(CellTop(55), 20);  // (10 + 40 - 10) / 2
  EXPECT_EQ(GlyphLefts(25), (std::vector<int>{55, 60}));

  // Vertical alignment needs a single line.
  SetUp();
  EXPECT_EQ(C->DrawText("ab", r, DT_BOTTOM), 10);
  EXPECT_EQ(CellTop(10), 10);
}

TEST_F(DrawTextTest, CalcRectMeasuresWithoutDrawing) {
  TRect r = Rect(10, 10, 110, 40);
  EXPECT_EQ(C->DrawText("abc", r, DT_CALCRECT | DT_SINGLELINE), 10);
  EXPECT_EQ(r, Rect(10, 10, 25, 20));
  EXPECT_TRUE(Rec.Runs.empty());
  r = Rect(0, 0, 100, 0);
  EXPECT_EQ(C->DrawText("ab\r\ncdef\nx", r, DT_CALCRECT), 30);
  EXPECT_EQ(r, Rect(0, 0, 20, 30));
  r = Rect(0, 0, 100, 0);
  C->DrawText("ab\ncdef", r, DT_CALCRECT | DT_SINGLELINE);
  EXPECT_EQ(r.Bottom, 10);
  r = Rect(0, 0, 100, 0);
  C->DrawText("", r, DT_CALCRECT);
  EXPECT_EQ(r, Rect(0, 0, 0, 10));
}

TEST_F(DrawTextTest, EndEllipsisFitsTheWidth) {
  TRect r = Rect(0, 0, 30, 20);
  TRect calc = r;
  C->DrawText("abcdefghij", calc, DT_CALCRECT | DT_SINGLELINE | DT_END_ELLIPSIS);
  EXPECT_EQ(calc.Right, 30);
  C->DrawText("abcdefghij", r, DT_SINGLELINE | DT_END_ELLIPSIS);
  ASSERT_EQ(Rec.Runs.size(), 1u);
  EXPECT_EQ(Rec.Runs[0].Text, "abc...");
  // A text that fits is left whole.
  Rec.Runs.clear();
  r = Rect(0, 0, 30, 20);
  C->DrawText("abcdef", r, DT_SINGLELINE | DT_END_ELLIPSIS);
  EXPECT_EQ(Rec.Runs[0].Text, "abcdef");
  // Without the flag the text is clipped to the rectangle instead.
  SetUp();
  r = Rect(0, 0, 30, 20);
  C->DrawText("abcdefghij", r, DT_SINGLELINE);
  EXPECT_EQ(GlyphLefts(5).size(), 6u);
  EXPECT_FALSE(Ink(31, 5));
  SetUp();
  C->DrawText("abcdefghij", r, DT_SINGLELINE | DT_NOCLIP);
  EXPECT_EQ(GlyphLefts(5).size(), 10u);
}

// Right-to-left reading puts each line in the order it is seen: Latin words keep their own
// order, marks at the ends go to the other side, and brackets shown right to left turn round.
// A malformed byte reads as a neutral mark.
TEST_F(DrawTextTest, RightToLeftReadingOrder) {
  const struct {
    const char* Text;
    const char* Seen;
  } cases[] = {
      {"Klaar.", ".Klaar"},         {"abc", "abc"},           {"x)", "(x"},
      {"(x)", "(x)"},               {"12 items.", ".items 12"}, {"\xc3\x89\xc3\xa9n.", ".\xc3\x89\xc3\xa9n"},
      {"- klaar -", "- klaar -"},   {"a, b!", "!a, b"},        {"\xff\xfe" "ab.", ".ab\xfe\xff"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    for (uint32_t flags : {0u, DT_RTLREADING}) {
      Rec.Runs.clear();
      TRect r = Rect(0, 0, 190, 20);
      C->DrawText(c.Text, r, DT_SINGLELINE | DT_NOPREFIX | flags);
      std::string seen;
      for (const auto& run : Rec.Runs) seen += run.Text;
      EXPECT_EQ(seen, flags ? c.Seen : c.Text);
    }
  }
  // Ellipses are cut in reading order, so the "..." stands at the left, where the text ends.
  Rec.Runs.clear();
  TRect r = Rect(0, 0, 50, 20);
  C->DrawText("Klaar met alles", r, DT_SINGLELINE | DT_END_ELLIPSIS | DT_RTLREADING);
  ASSERT_EQ(Rec.Runs.size(), 1u);
  EXPECT_EQ(Rec.Runs[0].Text, "...Klaar m");
  // Every line of wrapped text is turned on its own.
  Rec.Runs.clear();
  r = Rect(0, 0, 20, 40);
  C->DrawText("&ab. cd.", r, DT_WORDBREAK | DT_RTLREADING);
  std::vector<std::string> lines;
  for (const auto& run : Rec.Runs) {
    if (lines.empty() || run.Y != Rec.Runs[&run - &Rec.Runs[0] - 1].Y) lines.emplace_back();
    lines.back() += run.Text;
  }
  EXPECT_EQ(lines, (std::vector<std::string>{".ab", ".cd"}));
}

TEST_F(DrawTextTest, PathEllipsisKeepsTheFileName) {
  TRect r = Rect(0, 0, 75, 20);
  C->DrawText("c:\\dir\\sub\\file.txt", r, DT_SINGLELINE | DT_PATH_ELLIPSIS);
  ASSERT_EQ(Rec.Runs.size(), 1u);
  EXPECT_EQ(Rec.Runs[0].Text, "c:\\...\\file.txt");
  Rec.Runs.clear();
  // When the name alone is too long the end is cut.
  r = Rect(0, 0, 40, 20);
  C->DrawText("c:\\a\\averylongname.txt", r, DT_SINGLELINE | DT_PATH_ELLIPSIS);
  EXPECT_EQ(Rec.Runs[0].Text, "...\\a...");
  Rec.Runs.clear();
  r = Rect(0, 0, 40, 20);
  C->DrawText("noslashesatall", r, DT_SINGLELINE | DT_PATH_ELLIPSIS);
  EXPECT_EQ(Rec.Runs[0].Text, "nosla...");
}

TEST_F(DrawTextTest, WordBreak) {
  TRect r = Rect(0, 0, 40, 100);
  TRect calc = r;
  EXPECT_EQ(C->DrawText("aaa bbb ccc", calc, DT_CALCRECT | DT_WORDBREAK), 20);
  EXPECT_EQ(calc, Rect(0, 0, 35, 20));
  C->DrawText("aaa bbb ccc", r, DT_WORDBREAK);
  ASSERT_EQ(Rec.Runs.size(), 2u);
  EXPECT_EQ(Rec.Runs[0].Text, "aaa bbb");
  EXPECT_EQ(Rec.Runs[1].Text, "ccc");
  EXPECT_EQ(Rec.Runs[1].Y - Rec.Runs[0].Y, 10);
  // A word wider than the rectangle keeps a line of its own and is not split.
  Rec.Runs.clear();
  r = Rect(0, 0, 20, 100);
  calc = r;
  C->DrawText("abcdefghij kl", calc, DT_CALCRECT | DT_WORDBREAK);
  EXPECT_EQ(calc, Rect(0, 0, 50, 20));
  C->DrawText("abcdefghij kl", r, DT_WORDBREAK);
  ASSERT_EQ(Rec.Runs.size(), 2u);
  EXPECT_EQ(Rec.Runs[0].Text, "abcdefghij");
  EXPECT_EQ(Rec.Runs[1].Text, "kl");
  // Centred lines are centred one by one.
  SetUp();
  r = Rect(0, 0, 40, 100);
  C->DrawText("aaa bbb c", r, DT_WORDBREAK | DT_CENTER);
  EXPECT_EQ(GlyphLefts(5), (std::vector<int>{2, 7, 12, 22, 27, 32}));  // (0 + 40 - 35) / 2
  EXPECT_EQ(GlyphLefts(15), (std::vector<int>{17}));
  // Line breaks in the text always break.
  Rec.Runs.clear();
  C->DrawText("a\nb", r, DT_WORDBREAK);
  EXPECT_EQ(Rec.Runs.size(), 2u);
}

TEST_F(DrawTextTest, PrefixAmpersands) {
  TRect r = Rect(0, 0, 100, 20);
  TRect calc = r;
  C->DrawText("&File", calc, DT_CALCRECT | DT_SINGLELINE);
  EXPECT_EQ(calc.Right, 20);
  C->DrawText("&File", r, DT_SINGLELINE);
  EXPECT_EQ(Rec.Runs[0].Text, "File");
  // The underline runs under F only, one row below the baseline (row 8 of the cell).
  for (int x = 0; x < 5; ++x) EXPECT_TRUE(Ink(x, 9)) << x;
  for (int x = 5; x < 20; ++x) EXPECT_FALSE(Ink(x, 9)) << x;

  SetUp();
  Rec.Runs.clear();
  C->DrawText("a&&b&", r, DT_SINGLELINE);
  EXPECT_EQ(Rec.Runs[0].Text, "a&b");
  for (int x = 0; x < 20; ++x) EXPECT_FALSE(Ink(x, 9));

  Rec.Runs.clear();
  calc = r;
  C->DrawText("&File", calc, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
  EXPECT_EQ(calc.Right, 25);
  C->DrawText("&File", r, DT_SINGLELINE | DT_NOPREFIX);
  EXPECT_EQ(Rec.Runs[0].Text, "&File");
}

TEST_F(DrawTextTest, ExpandTabs) {
  TRect r = Rect(0, 0, 200, 20);
  TRect calc = r;
  C->DrawText("a\tb", calc, DT_CALCRECT | DT_SINGLELINE | DT_EXPANDTABS);
  EXPECT_EQ(calc.Right, 45);  // tab stops every 8 average characters
  C->DrawText("a\tb", r, DT_SINGLELINE | DT_EXPANDTABS);
  EXPECT_EQ(GlyphLefts(5), (std::vector<int>{0, 40}));
}

TEST_F(DrawTextTest, CalcRectHoldsWhatIsDrawn) {
  const char* texts[] = {"Short", "&Underlined text", "two words\nand a line", "c:\\some\\path\\to\\a\\file.hsf",
                         "a rather long sentence that has to wrap"};
  const uint32_t flags[] = {DT_SINGLELINE, DT_WORDBREAK, DT_SINGLELINE | DT_END_ELLIPSIS,
                            DT_SINGLELINE | DT_PATH_ELLIPSIS, DT_WORDBREAK | DT_NOPREFIX, DT_EXPANDTABS};
  for (const char* t : texts) {
    for (uint32_t f : flags) {
      SetUp();
      TRect r = Rect(3, 4, 83, 90);
      TRect calc = r;
      C->DrawText(t, calc, f | DT_CALCRECT);
      C->DrawText(t, r, f | DT_NOCLIP);
      for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 200; ++x)
          if (Ink(x, y)) {
            ASSERT_TRUE(x >= calc.Left && x < calc.Right && y >= calc.Top && y < calc.Bottom)
                << t << " flags " << f << " at " << x << "," << y;
          }
    }
  }
}

TEST_F(DrawTextTest, OpaqueBackgroundAndTextOut) {
  C->Brush()->SetColor(clYellow);  // solid brush: opaque in its colour
  TRect r = Rect(10, 10, 100, 40);
  C->DrawText("a b", r, DT_SINGLELINE);
  EXPECT_EQ(C->Pixel(17, 15), clYellow);  // the blank's cell
  EXPECT_EQ(C->Pixel(26, 15), clWhite);   // past the text
  EXPECT_EQ(C->Pixel(10, 21), clWhite);
  C->TextOut(50, 50, "xy");
  EXPECT_EQ(C->PenPos(), Point(60, 50));
  EXPECT_EQ(C->Pixel(54, 50), clYellow);
  EXPECT_TRUE(Ink(50, 55));
  EXPECT_EQ(C->TextExtent("xyz"), (TSize{15, 10}));
  EXPECT_EQ(C->TextWidth("&&"), 10);
  // TextRect fills the whole rectangle and clips the text to it.
  C->Brush()->SetColor(clLime);
  C->TextRect(Rect(100, 70, 112, 90), 100, 72, "abcdef");
  EXPECT_EQ(C->Pixel(111, 89), clLime);
  EXPECT_TRUE(Ink(100, 76));
  EXPECT_FALSE(Ink(112, 76));
  C->SetBkMode(TRANSPARENT);
  C->TextOut(150, 50, "a b");
  EXPECT_EQ(C->Pixel(157, 55), clWhite);
}

// DrawText turns its lines with the font about each line's cell corner and does not cut them
// to the layout rectangle; TextRect still clips to its rectangle.
TEST_F(DrawTextTest, TurnedFontTurnsEachLine) {
  C->Font()->SetOrientation(-900);  // downwards
  TRect r = Rect(100, 10, 190, 20);
  C->DrawText("abc", r, DT_SINGLELINE | DT_LEFT | DT_TOP);
  ASSERT_EQ(Rec.Runs.size(), 1u);
  // Upright the boxes would cover x 100..113, y 11..17; turned they hang down from (100, 10):
  // glyph rows 1..7 become columns 98..92, and the three boxes rows 10..13, 15..18, 20..23.
  EXPECT_FALSE(Ink(101, 12));
  int inked = 0;
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 200; ++x) {
      if (!Ink(x, y)) continue;
      ++inked;
      EXPECT_TRUE(x >= 90 && x < 100 && y >= 10 && y < 25) << x << "," << y;
    }
  EXPECT_EQ(inked, 3 * 4 * 7);
  EXPECT_TRUE(Ink(92, 10));  // the first box's last row ...
  EXPECT_TRUE(Ink(98, 13));  // ... and its first
  EXPECT_FALSE(Ink(98, 14));  // the gap between boxes
  // Measuring ignores the turn.
  TRect calc = Rect(0, 0, 0, 0);
  C->DrawText("abc", calc, DT_CALCRECT | DT_SINGLELINE);
  EXPECT_EQ(calc, Rect(0, 0, 15, 10));
  // TextRect keeps its clip: nothing below y = 12.
  C->Brush()->SetColor(clWhite);
  C->FillRect(Rect(0, 0, 200, 100));
  C->Brush()->SetStyle(bsClear);
  C->TextRect(Rect(0, 0, 200, 12), 50, 5, "abc");
  for (int y = 12; y < 100; ++y)
    for (int x = 0; x < 200; ++x) ASSERT_FALSE(Ink(x, y)) << x << "," << y;
  EXPECT_TRUE(Ink(44, 8));
  // Far-off places and long lines stay bounded (nothing lands on the bitmap).
  C->Brush()->SetColor(clWhite);
  C->FillRect(Rect(0, 0, 200, 100));
  C->Brush()->SetStyle(bsClear);
  C->Font()->SetOrientation(450);
  C->TextOut(2000000000, -2000000000, std::string(100000, 'x'));
  C->TextOut(-2000000000, 2000000000, "abc");
  TRect far = Rect(INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX);
  C->DrawText("far", far, DT_SINGLELINE | DT_BOTTOM | DT_RIGHT);
  EXPECT_FALSE(Ink(0, 0));
}

TEST_F(DrawTextTest, EllipsisEdgeCases) {
  std::string longText(5000, 'a');
  TRect r = Rect(0, 0, 50, 20);
  C->DrawText(longText, r, DT_SINGLELINE | DT_END_ELLIPSIS);
  ASSERT_EQ(Rec.Runs.size(), 1u);
  EXPECT_EQ(Rec.Runs[0].Text, "aaaaaaa...");
  // Nothing fits: only the dots remain (clipped); an empty text in a negative width stays empty.
  Rec.Runs.clear();
  r = Rect(0, 0, 8, 20);
  C->DrawText("abc", r, DT_SINGLELINE | DT_END_ELLIPSIS);
  EXPECT_EQ(Rec.Runs[0].Text, "...");
  r = Rect(10, 0, 0, 20);
  TRect calc = r;
  EXPECT_EQ(C->DrawText("", calc, DT_CALCRECT | DT_SINGLELINE | DT_END_ELLIPSIS), 10);
  // Multi-byte characters are never split.
  Rec.Runs.clear();
  r = Rect(0, 0, 30, 20);
  C->DrawText("\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9", r, DT_SINGLELINE | DT_END_ELLIPSIS);
  EXPECT_EQ(Rec.Runs[0].Text, "\xC3\xA9\xC3\xA9\xC3\xA9...");
}

TEST(DrawTextRealFont, CalcRectHoldsTheInk) {
  TBitmap b;
  b.SetSize(300, 120);
  TCanvas* c = b.Canvas();
  c->Font()->SetName("Arial");
  c->Font()->SetSize(10);
  c->Font()->SetColor(clBlack);
  c->Brush()->SetStyle(bsClear);
  const char* texts[] = {"&Print the page", "Pagina 1  Van  3", "Word break wraps this text over lines",
                         "C:\\Program Files\\Kadrilo\\Oefening.hsf"};
  const uint32_t flags[] = {DT_SINGLELINE, DT_WORDBREAK, DT_SINGLELINE | DT_END_ELLIPSIS,
                            DT_SINGLELINE | DT_PATH_ELLIPSIS};
  for (const char* t : texts)
    for (uint32_t f : flags) {
      c->Brush()->SetColor(clWhite);
      c->FillRect(Rect(0, 0, 300, 120));
      c->Brush()->SetStyle(bsClear);
      TRect r = Rect(10, 10, 130, 110);
      TRect calc = r;
      int h = c->DrawText(t, calc, f | DT_CALCRECT);
      EXPECT_EQ(h, calc.Height());
      if (f & (DT_END_ELLIPSIS | DT_PATH_ELLIPSIS)) {
        EXPECT_LE(calc.Width(), 120) << t;
      }
      c->DrawText(t, r, f | DT_NOCLIP);
      int inked = 0;
      for (int y = 0; y < 120; ++y)
        for (int x = 0; x < 300; ++x)
          if (c->Pixel(x, y) != clWhite) {
            ++inked;
            // Antialiasing may touch one pixel past the advance.
            ASSERT_TRUE(x >= calc.Left - 1 && x <= calc.Right && y >= calc.Top && y < calc.Bottom)
                << t << " flags " << f << " at " << x << "," << y;
          }
      EXPECT_GT(inked, 20) << t;
    }
}

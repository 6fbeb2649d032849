// Mini-HTML helpers (table-driven) and layout through the fixed-advance fake text measurer:
// every character is 8 pixels wide and 16 high in the 16-pixel test font.
#include "widgets/MiniHtml.h"
#include "widgets/PictureContainer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>

#include "platform/Graphics.h"
#include "platform/ImgList.h"
#include "tests/common/TestSupport.h"

#include <QImage>
#include <QString>

using namespace platform;
using namespace widgets;

namespace {

// ---------------------------------------------------------------------------------------------
// Helpers

TEST(MiniHtmlText, Colours) {
  struct {
    const char* In;
    TColor Out;
  } cases[] = {
      {"#FF0000", 0x0000FF}, {"#ff0000", 0x0000FF}, {"#00FF00", 0x00FF00}, {"#0000fF", 0xFF0000},
      {"#808080", 0x808080}, {"#123456", 0x563412}, {"#12", 0},          {"", 0},
      {"#GG0000", 0x000000},  // not a digit: counts 0
  };
  for (const auto& c : cases) EXPECT_EQ(HtmlColorToColor(c.In), c.Out) << c.In;
  EXPECT_EQ(HexPairToByte("A"), 0);
  EXPECT_EQ(HexPairToByte("7f"), 0x7F);
  EXPECT_EQ(HexPairToByte("F0xx"), 0xF0);
  struct {
    const char* Name;
    uint32_t Value;
  } names[] = {{"clred", 0x0000FF},       {"clnavy", 0x800000},     {"clmaroon", 0x000080},
               {"clbtnface", 0x8000000F}, {"clinfobk", 0x80000018}, {"cl3ddkshadow", 0x80000015},
               {"clblack", 0},            {"clRed", 0},             {"nonsense", 0}};
  for (const auto& n : names) EXPECT_EQ(static_cast<uint32_t>(ColorNameToColor(n.Name)), n.Value) << n.Name;
}

TEST(MiniHtmlText, StripAndBreaks) {
  struct {
    const char* In;
    const char* Out;
  } cases[] = {
      {"<B>word</B>", "word"},
      {"a<br>b<HR>c", "a\r\nb\r\nc"},
      {"x < y", "x < y"},          // unterminated "<" stays with what follows
      {"<a href=\"h\">v</a> t", "v t"},
      {"&amp;<I>i</I>", "&amp;i"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(StripMiniHtml(c.In), c.Out) << c.In;
  EXPECT_EQ(CrLfToBreaks("a\r\nb\nc\r", true), "a<BR>bc<BR>");
  EXPECT_EQ(CrLfToBreaks("a\r\nb", false), "ab");
  EXPECT_EQ(UnwrapHashTag("x<#tag>y>"), "x#tagy>");
  EXPECT_EQ(UnwrapHashTag("plain"), "plain");
  std::string s = "one Two two";
  EXPECT_TRUE(ReplaceOnce("TWO", "2", s));
  EXPECT_EQ(s, "one 2 two");
  EXPECT_FALSE(ReplaceOnce("three", "3", s));
}

TEST(MiniHtmlText, EntitiesAndEscapes) {
  EXPECT_EQ(EscapeAngles("<a>"), "&lt;a&gt;");
  EXPECT_EQ(UnescapeAngles("&lt;a&gt;&amp;"), "<a>&amp;");
  EXPECT_EQ(EscapeParamValue("a&b<c>\"d\""), "a&amp;b&lt;c&gt;&quot;d&quot;");
  // One pass: a decoded "&" never starts another entity.
  EXPECT_EQ(DecodeEntities("&amp;lt;"), "&lt;");
  EXPECT_EQ(DecodeEntities("&AMP;&quot;&nbsp;&euro;&copy;&trade;&sect;&permil;&reg;&para;"),
            "&\" \xE2\x82\xAC\xC2\xA9\xE2\x84\xA2\xC2\xA7\xE2\x80\xB0\xC2\xAE\xC2\xB6");
  EXPECT_EQ(DecodeEntities("&unknown; & &"), "&unknown; & &");
  for (const char* v : {"plain", "a&b", "<tag>", "\"q\"", "&amp;"}) EXPECT_EQ(DecodeEntities(EscapeParamValue(v)), v);
}

TEST(MiniHtmlText, ControlTags) {
  const TControlTag t = ParseControlTag("<control type=\"check\" id=\"c1\" value=\"a&amp;b\" width=\"20\">");
  EXPECT_EQ(t.Type, "CHECK");
  EXPECT_EQ(t.Id, "c1");
  EXPECT_EQ(t.Value, "a&b");
  EXPECT_EQ(t.Width, "20");
  std::string s = "x <CONTROL TYPE=\"CHECK\" ID=\"a\" VALUE=\"TRUE\" WIDTH=\"15\"> <control id=\"b\" type=\"edit\" value=\"v\" width=\"30\">";
  EXPECT_TRUE(BuildControlTag(s, "b", "w<"));
  EXPECT_EQ(s, "x <CONTROL TYPE=\"CHECK\" ID=\"a\" VALUE=\"TRUE\" WIDTH=\"15\"> <CONTROL ID=\"b\" VALUE=\"w&lt;\" WIDTH=\"30\" TYPE=\"EDIT\">");
  EXPECT_FALSE(BuildControlTag(s, "zz", "1"));
}

TEST(MiniHtmlText, Anchors) {
  std::string s = "Size <A href=\"size\" class=\"menu\" props=\"S|M|L\" hint=\"the &amp; size\">M</A> and "
                  "<a HREF=\"name\" class=\"EDIT\">Bob</a>";
  std::string value, props, cls, hint;
  ASSERT_TRUE(GetAnchorAttributes(s, "SIZE", value, props, cls, hint));
  EXPECT_EQ(value, "M");
  EXPECT_EQ(props, "S|M|L");
  EXPECT_EQ(cls, "MENU");
  EXPECT_EQ(hint, "the & size");
  ASSERT_TRUE(GetAnchorValue(s, "name", value));
  EXPECT_EQ(value, "Bob");
  EXPECT_FALSE(GetAnchorValue(s, "none", value));
  EXPECT_TRUE(SetAnchorValue(s, "name", "Alice"));
  EXPECT_TRUE(GetAnchorValue(s, "name", value));
  EXPECT_EQ(value, "Alice");
  EXPECT_EQ(CountAnchors(s), 2);
  EXPECT_EQ(AnchorHrefAt(s, 1), "name");
  EXPECT_EQ(AnchorHrefAt(s, 2), "");
  // An anchor without a closing tag has no value.
  EXPECT_FALSE(GetAnchorAttributes("<A href=\"x\">open", "x", value, props, cls, hint));
}

TEST(MiniHtmlText, BarLists) {
  using V = std::vector<std::string>;
  EXPECT_EQ(SplitBarList("a|b|c"), (V{"a", "b", "c"}));
  EXPECT_EQ(SplitBarList("a||b"), (V{"a", "", "b"}));
  EXPECT_EQ(SplitBarList("a|"), (V{"a"}));
  EXPECT_EQ(SplitBarList(""), V{});
  EXPECT_EQ(SplitBarList("|"), (V{""}));
}

TEST(MiniHtmlText, GradientBands) {
  EXPECT_EQ(GradientBandColor(0x000000, 0xFFFFFF, 4, 0), 0x000000);
  EXPECT_EQ(GradientBandColor(0x000000, 0xFFFFFF, 4, 1), 0x555555);
  EXPECT_EQ(GradientBandColor(0x000000, 0xFFFFFF, 4, 3), 0xFFFFFF);
  EXPECT_EQ(GradientBandColor(0x0000FF, 0xFF0000, 3, 1), 0x7F0080);  // per channel, truncated toward the start
  TBitmap bmp;
  bmp.SetPixelFormat(pf24bit);
  bmp.SetSize(10, 4);
  DrawGradientRect(bmp.Canvas(), 0x000000, 0xFFFFFF, 4, {1, 0, 9, 4}, true);
  const TColor want[] = {0xFFFFFF, 0, 0, 0x555555, 0x555555, 0xAAAAAA, 0xAAAAAA, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF};
  for (int x = 0; x < 10; ++x) EXPECT_EQ(bmp.Canvas()->Pixel(x, 2), want[x]) << x;
  DrawGradientRect(bmp.Canvas(), 0x0000FF, 0x00FF00, 0, {0, 0, 10, 4}, false);  // 0 steps: one band
  EXPECT_EQ(bmp.Canvas()->Pixel(5, 3), static_cast<TColor>(0x0000FF));
}

// ---------------------------------------------------------------------------------------------
// Layout through the fake measurer

class MiniHtmlLayout : public ::testing::Test {
 protected:
  void SetUp() override {
    bmp.SetPixelFormat(pf24bit);
    bmp.SetSize(300, 120);
    C = bmp.Canvas();
    C->Font()->SetName("Arial");
    C->Font()->SetHeight(-16);
    C->Font()->SetColor(clBlack);
    C->Brush()->SetColor(clWhite);
    C->FillRect({0, 0, 300, 120});
  }
  bool Render(const std::string& text, TRect r, TMiniHtmlParams p = {}) {
    res = TMiniHtmlResult{};
    return RenderMiniHtml(C, text, r, p, res);
  }
  TMiniHtmlResult Measure(const std::string& text, TRect r, bool wrap = true) {
    TMiniHtmlParams p;
    p.MeasureOnly = true;
    p.WordWrap = wrap;
    Render(text, r, p);
    return res;
  }
  TMiniHtmlParams At(int x, int y) {
    TMiniHtmlParams p;
    p.MouseX = x;
    p.MouseY = y;
    p.HitTestOnly = true;
    return p;
  }
  TFakeTextMeasurer fake;
  TScopedTextMeasurer scope{&fake};
  TBitmap bmp;
  TCanvas* C = nullptr;
  TMiniHtmlResult res;
};

TEST_F(MiniHtmlLayout, EmptyTextIsOneTextHigh) {
  EXPECT_FALSE(Render("", {0, 0, 100, 50}));
  EXPECT_EQ(res.Height, 16);
  EXPECT_EQ(res.Width, 0);
  EXPECT_EQ(res.MouseAnchor, -1);
}

TEST_F(MiniHtmlLayout, WidthsAndWrapping) {
  struct {
    const char* Text;
    int32_t RectWidth;
    bool Wrap;
    int32_t Width, Height;
    const char* Plain;
  } cases[] = {
      {"abc def", 200, true, 56, 16, "abc def"},
      {"abc def ", 200, true, 56, 16, "abc def "},         // one trailing blank is not counted
      {"abc def ghi", 51, true, 24, 48, "abc def ghi"},      // three lines, trailing blanks off
      {"abcdefghij", 41, true, 80, 16, "abcdefghij"},        // a long word stays on its line
      {"abc def ghi", 41, false, 88, 16, "abc def ghi"},    // no wrapping: one line, the rest dropped
      {"abc def<BR>ghi", 41, false, 56, 16, "abc def"},    // the rest after an overflowing run is dropped
      {"abc<BR>ghi", 41, false, 24, 32, "abc\rghi"},
      {"a<BR>b", 200, true, 8, 32, "a\rb"},
      {"a<BR><BR>b", 200, true, 8, 48, "a\r\rb"},
      {"a<HR>b", 200, true, 8, 32, "ab"},
      {"<UL><LI>one<LI>two</UL>", 200, true, 36, 32, "onetwo"},
      {"a<SUB>b</SUB>", 200, true, 16, 20, "ab"},
      {"a<SUP>b</SUP>", 200, true, 16, 20, "ab"},
      {"ab<Z>cd</Z>ef", 200, true, 32, 16, "abcdef"},
      {"<FONT size=\"1\">ab</FONT>", 200, true, 10, 11, "ab"},    // 8 points: 11 pixels
      {"<FONT size=\"3\">ab</FONT>", 200, true, 16, 16, "ab"},    // 12 points
      {"<FONT size=\"9\">ab</FONT>", 200, true, 12, 12, "ab"},    // any other number is points
      {"<FONT size=\"-4\">ab</FONT>", 200, true, 16, 16, "ab"},   // not positive: size kept
      {"&amp;", 200, true, 8, 16, "&"},
      {"&lt;b&gt;x", 200, true, 32, 16, "<b>x"},                  // no tag starts
      {"a<IND x=\"40\">b", 200, true, 48, 16, "ab"},
      {"a<IND x=\"-40\">b", 200, true, 16, 16, "ab"},
      {"x<", 200, true, 8, 16, "x"},
      {"x<B", 200, true, 8, 16, "x"},
      {"x<B unterminated", 200, true, 8, 16, "x"},
  };
  for (const auto& c : cases) {
    const TMiniHtmlResult r = Measure(c.Text, {0, 0, c.RectWidth, 200}, c.Wrap);
    EXPECT_EQ(r.Width, c.Width) << c.Text;
    EXPECT_EQ(r.Height, c.Height) << c.Text;
    EXPECT_EQ(r.PlainText, c.Plain) << c.Text;
  }
}

TEST_F(MiniHtmlLayout, DrawingStopsBelowTheRectangle) {
  EXPECT_EQ(Measure("a<BR>b<BR>c", {0, 0, 100, 16}).Height, 48);
  Render("a<BR>b<BR>c", {0, 0, 100, 16});
  EXPECT_EQ(res.Height, 32);
}

TEST_F(MiniHtmlLayout, AnchorsHitTest) {
  const std::string text = "<A href=\"one\">ab</A> <A href=\"two\">cd</A>";
  EXPECT_TRUE(Render(text, {0, 0, 200, 40}, At(5, 8)));
  EXPECT_EQ(res.AnchorValue, "one");
  EXPECT_EQ(res.MouseAnchor, 1);
  EXPECT_EQ(res.HoverRect, (TRect{1, 0, 17, 16}));
  EXPECT_EQ(res.AnchorCount, 2);
  EXPECT_TRUE(Render(text, {0, 0, 200, 40}, At(30, 8)));
  EXPECT_EQ(res.AnchorValue, "two");
  EXPECT_EQ(res.MouseAnchor, 2);
  EXPECT_EQ(res.HoverRect, (TRect{25, 0, 41, 16}));
  // Between the anchors, and below the line: nothing.
  EXPECT_FALSE(Render(text, {0, 0, 200, 40}, At(21, 8)));
  EXPECT_EQ(res.MouseAnchor, -1);
  EXPECT_FALSE(Render(text, {0, 0, 200, 40}, At(5, 30)));
  // Only the line under the mouse answers, not an anchor above it at the same x.
  EXPECT_TRUE(Render("<A href=\"up\">ab</A><BR><A href=\"down\">cd</A>", {0, 0, 200, 40}, At(5, 20)));
  EXPECT_EQ(res.AnchorValue, "down");
  EXPECT_EQ(res.MouseAnchor, 2);
}

TEST_F(MiniHtmlLayout, AlignmentPlacesTheLine) {
  EXPECT_TRUE(Render("<P align=\"right\"><A href=\"x\">ab</A></P>", {0, 0, 100, 50}, At(90, 8)));
  EXPECT_EQ(res.HoverRect, (TRect{84, 0, 100, 16}));
  EXPECT_TRUE(Render("<P align=\"center\"><A href=\"x\">ab</A></P>", {0, 0, 100, 50}, At(50, 8)));
  EXPECT_EQ(res.HoverRect, (TRect{42, 0, 58, 16}));
  EXPECT_TRUE(Render("<P indent=\"10\"><A href=\"x\">ab</A></P>", {0, 0, 100, 50}, At(12, 8)));
  EXPECT_EQ(res.HoverRect.Left, 11);
}

TEST_F(MiniHtmlLayout, ListLevels) {
  EXPECT_TRUE(Render("<UL><LI><A href=\"h\">x</A>", {0, 0, 200, 40}, At(15, 8)));
  EXPECT_EQ(res.HoverRect.Left, 13);
  EXPECT_TRUE(Render("<UL><UL><LI><A href=\"h\">x</A>", {0, 0, 200, 40}, At(27, 8)));
  EXPECT_EQ(res.HoverRect.Left, 25);
  // A closing UL lowers the level and leaves underline alone.
  EXPECT_TRUE(Render("<U><UL><UL></UL><LI><A href=\"h\">x</A>", {0, 0, 200, 40}, At(15, 8)));
  EXPECT_EQ(res.HoverRect.Left, 13);
}

TEST_F(MiniHtmlLayout, FocusRectAsHover) {
  TMiniHtmlParams p = At(-1, -1);
  p.FocusAnchor = 2;
  p.FocusRectAsHover = true;
  Render("<A href=\"a\">x</A><A href=\"b\">yy</A>", {0, 0, 200, 40}, p);
  EXPECT_EQ(res.MouseAnchor, 2);
  EXPECT_EQ(res.HoverRect, (TRect{9, 0, 25, 16}));
}

TEST_F(MiniHtmlLayout, ControlsAnswerAsCtrl) {
  const std::string text = "v <CONTROL TYPE=\"CHECK\" ID=\"c1\" VALUE=\"TRUE\" WIDTH=\"20\">";
  EXPECT_TRUE(Render(text, {0, 0, 200, 40}, At(20, 10)));
  EXPECT_EQ(res.AnchorValue, "ctrl");
  EXPECT_EQ(res.ControlId, "c1");
  EXPECT_EQ(res.ControlType, "CHECK");
  EXPECT_EQ(res.ControlValue, "TRUE");
  EXPECT_EQ(res.ControlRect, (TRect{17, 0, 37, 22}));
  EXPECT_FALSE(Render("<CONTROL TYPE=\"CHECK\" ID=\"c\" VALUE=\"\" WIDTH=\"-5\">", {0, 0, 200, 40}, At(1, 1)));
  EXPECT_EQ(res.ControlRect, (TRect{0, 0, 0, 0}));
}

TEST_F(MiniHtmlLayout, ImagesFromTheImageList) {
  TImageList images(nullptr);
  TBitmap red;
  red.SetSize(16, 16);
  red.Canvas()->Brush()->SetColor(clRed);
  red.Canvas()->FillRect({0, 0, 16, 16});
  images.Add(&red);
  TMiniHtmlParams p;
  p.Images = &images;
  TRect r{0, 0, 200, 60};
  EXPECT_FALSE(RenderMiniHtml(C, "a<IMG src=\"IDX:0\">b", r, p, res));
  EXPECT_EQ(res.Width, 32);
  EXPECT_EQ(C->Pixel(10, 8), static_cast<TColor>(0x0000FF));
  p.MeasureOnly = true;
  RenderMiniHtml(C, "<IMG src=\"IDX:0\" width=\"30\" height=\"20\">", r, p, res);
  EXPECT_EQ(res.Width, 30);
  EXPECT_EQ(res.Height, 20);
  RenderMiniHtml(C, "<IMG src=\"IDX:5\">", r, p, res);
  EXPECT_EQ(res.Width, 0);
  RenderMiniHtml(C, "<IMG src=\"IDX:0\" width=\"-30\">", r, p, res);
  EXPECT_EQ(res.Width, 16);
  // An image inside an anchor is hit like its text.
  TMiniHtmlParams h = At(12, 8);
  h.Images = &images;
  EXPECT_TRUE(RenderMiniHtml(C, "<A href=\"pic\">a<IMG src=\"IDX:0\"></A>", r, h, res));
  EXPECT_EQ(res.AnchorValue, "pic");
}

TEST_F(MiniHtmlLayout, HoverColoursPaintOnlyTheHoveredAnchor) {
  TMiniHtmlParams p;
  p.HoverAnchor = 1;
  p.HoverColor = clGreen;
  p.HoverFontColor = clWhite;
  Render("<A href=\"a\">xx</A> <A href=\"b\">yy</A>", {0, 0, 200, 40}, p);
  // The fake glyphs leave each cell's last column and first row as background.
  EXPECT_EQ(C->Pixel(8, 0), static_cast<TColor>(0x008000));
  EXPECT_EQ(C->Pixel(3, 5), static_cast<TColor>(0xFFFFFF));  // white text
  EXPECT_EQ(C->Pixel(32, 0), static_cast<TColor>(0xFFFFFF));  // second anchor not filled
  EXPECT_EQ(C->Pixel(28, 5), static_cast<TColor>(0xFF0000));  // drawn in the anchor colour
}

TEST_F(MiniHtmlLayout, TextColours) {
  // Pixel (2, 5) lies inside the first glyph box, (7, 0) in its background column and row.
  struct {
    const char* Text;
    bool KeepColors, ShowBlink;
    TColor Ink, Back;
  } cases[] = {
      {"x", false, true, 0x000000, 0xFFFFFF},
      {"<FONT color=\"#FF0000\">x</FONT>", false, true, 0x0000FF, 0xFFFFFF},
      {"<FONT color=\"clGreen\">x</FONT>", false, true, 0x008000, 0xFFFFFF},
      {"<FONT color=\"#FF0000\" bgcolor=\"#00FF00\">x</FONT>", false, true, 0x0000FF, 0x00FF00},
      {"<FONT color=\"#FF0000\" bgcolor=\"#00FF00\">x</FONT>", true, true, 0x000000, 0xFFFFFF},
      {"<A href=\"a\">x</A>", false, true, 0xFF0000, 0xFFFFFF},
      {"<A href=\"a\">x</A>", true, true, 0x000000, 0xFFFFFF},
      {"<BLINK>x</BLINK>", false, false, 0xFFFFFF, 0xFFFFFF},
      {"<BLINK>x</BLINK>", false, true, 0x000000, 0xFFFFFF},
      {"<HI>x</HI>", false, true, ColorToRGB(clHighlightText), ColorToRGB(clHighlight)},
      {"<FONT color=\"#FF0000\">a</FONT>x", false, true, 0x0000FF, 0xFFFFFF},  // first glyph only
  };
  for (const auto& c : cases) {
    C->Brush()->SetColor(clWhite);
    C->FillRect({0, 0, 300, 120});
    TMiniHtmlParams p;
    p.KeepColors = c.KeepColors;
    p.ShowBlinkText = c.ShowBlink;
    Render(c.Text, {-1, 0, 200, 16}, p);
    EXPECT_EQ(C->Pixel(2, 5), c.Ink) << c.Text;
    EXPECT_EQ(C->Pixel(7, 0), c.Back) << c.Text;
    EXPECT_EQ(C->Pixel(10, 5), c.Text[1] == 'F' && c.Text[strlen(c.Text) - 1] == 'x' ? 0x000000 : 0xFFFFFF) << c.Text;
  }
  // The error underline zig-zags in red below the baseline (16 - 16 / 5 = 13 is the descent's top).
  C->Brush()->SetColor(clWhite);
  C->FillRect({0, 0, 300, 120});
  Render("<E>xx</E>", {-1, 0, 200, 20});
  int red = 0;
  for (int y = 16; y < 20; ++y)
    for (int x = 0; x < 16; ++x) red += C->Pixel(x, y) == static_cast<TColor>(0x0000FF);
  EXPECT_GT(red, 8);
}

// R turns the run about the top-left corner of its cell (counter-clockwise degrees); its ink
// stays inside that turned cell, measuring stays upright and /R sets the text upright again.
TEST_F(MiniHtmlLayout, RotatedRunsStayInTheirTurnedCell) {
  auto ink = [&](int x, int y) { return C->Pixel(x, y) != clWhite; };
  auto clear = [&] {
    C->Brush()->SetColor(clWhite);
    C->FillRect({0, 0, 300, 120});
  };
  auto count = [&] {
    int n = 0;
    for (int y = 0; y < 120; ++y)
      for (int x = 0; x < 300; ++x) n += ink(x, y);
    return n;
  };
  // Upright "Hoog" at (50, 40): four boxes of 7 x 12 pixels.
  clear();
  Render("Hoog", {49, 40, 250, 120});
  const int plain = count();
  ASSERT_EQ(plain, 4 * 7 * 12);
  std::vector<bool> upright(300 * 120);
  for (int y = 0; y < 120; ++y)
    for (int x = 0; x < 300; ++x) upright[size_t(y) * 300 + x] = ink(x, y);

  for (const double deg : {-90.0, 45.0, 150.0, 30.5}) {
    clear();
    char tag[64];
    std::snprintf(tag, sizeof tag, "<R a=\"%g\">Hoog</R>", deg);
    Render(tag, {49, 40, 250, 120});
    // The cell is 32 x 16 at (50, 40), turned about that corner.
    const double a = deg * 3.14159265358979 / 180, cs = std::cos(a), sn = std::sin(a);
    int n = 0, outside = 0, changed = 0;
    for (int y = 0; y < 120; ++y)
      for (int x = 0; x < 300; ++x) {
        changed += ink(x, y) != upright[size_t(y) * 300 + x];
        if (!ink(x, y)) continue;
        ++n;
        const double dx = x + 0.5 - 50, dy = y + 0.5 - 40;
        const double u = dx * cs - dy * sn, v = dx * sn + dy * cs;
        outside += u < -0.5 || u > 32.5 || v < -0.5 || v > 16.5;
      }
    EXPECT_EQ(outside, 0) << deg;
    EXPECT_NEAR(n, plain, plain / 10) << deg;
    EXPECT_GT(changed, plain) << deg;
    if (deg == -90.0) {
      EXPECT_EQ(n, plain);  // a quarter turn moves whole pixels
    }
  }
  EXPECT_EQ(Measure("<R a=\"-90\">Hoog</R>", {0, 0, 200, 100}).Width, 32);
  // After /R the text is upright again: "og" lands where the upright line has it.
  clear();
  Render("<R a=\"-90\">Ho</R>og", {49, 40, 250, 120});
  for (int y = 40; y < 56; ++y)
    for (int x = 66; x < 90; ++x) EXPECT_EQ(ink(x, y), upright[size_t(y) * 300 + x]) << x << "," << y;
  EXPECT_EQ(C->Font()->Orientation(), 0);
  // Not a number: upright.
  clear();
  Render("<R a=\"up\">Hoog</R>", {49, 40, 250, 120});
  EXPECT_EQ(count(), plain);
  EXPECT_TRUE(ink(51, 45));
}

TEST_F(MiniHtmlLayout, CanvasStateIsRestored) {
  C->Brush()->SetColor(clYellow);
  Render("<B><I><FONT size=\"5\" color=\"#FF0000\" bgcolor=\"#00FF00\">x<HI>y<R a=\"90\">z", {0, 0, 200, 40});
  EXPECT_EQ(C->Font()->Height(), -16);
  EXPECT_TRUE(C->Font()->Style().Empty());
  EXPECT_EQ(C->Font()->Color(), clBlack);
  EXPECT_EQ(C->Brush()->Color(), clYellow);
  EXPECT_EQ(C->Brush()->Style(), bsSolid);
}

// Lines asking for huge sizes (images, controls, line spacing) add up to a height beyond any
// screen: the sum stops at a large positive value instead of wrapping round to a negative one.
TEST_F(MiniHtmlLayout, TallLinesNeverWrapTheHeight) {
  std::string text;
  for (int i = 0; i < 2200; ++i) text += "<IMG src=\"IDX:0\" width=\"4\" height=\"1000000\"><BR>";
  for (const bool measure : {true, false}) {
    TMiniHtmlParams p;
    p.MeasureOnly = measure;
    Render(text, {0, 0, 100, 50}, p);
    EXPECT_GE(res.Height, 1000000) << measure;
    EXPECT_EQ(res.Width, 4);
  }
  TMiniHtmlParams p;
  p.MeasureOnly = true;
  p.LineSpacing = INT32_MAX;
  Render("a<BR>b<BR>c", {0, 0, 100, 50}, p);
  EXPECT_GT(res.Height, 0);
}

// A shadow offset anywhere in its range: a shadow pushed past the canvas is not seen, and the
// text itself is drawn where it always is.
TEST_F(MiniHtmlLayout, ShadowOffsetsOfEveryRange) {
  for (const int32_t offset : {INT32_MAX, INT32_MIN, 1 << 30, -(1 << 30), 2}) {
    C->FillRect({0, 0, 300, 120});
    TMiniHtmlParams p;
    p.ShadowOffset = offset;
    p.ShadowColor = clRed;
    Render("<SHAD>ww</SHAD>", {5, 5, 200, 60}, p);
    int32_t red = 0, black = 0;
    for (int32_t y = 0; y < 120; ++y)
      for (int32_t x = 0; x < 300; ++x) {
        red += C->Pixel(x, y) == clRed;
        black += C->Pixel(x, y) == clBlack;
      }
    EXPECT_GT(black, 0) << offset;
    EXPECT_EQ(red > 0, offset == 2) << offset;
  }
}

TEST_F(MiniHtmlLayout, HostileTextAlwaysEnds) {
  std::mt19937 rng(7);
  const char* pieces[] = {"<", ">", "</", "<A href=\"", "\"", "<BR>", "<LI>", "<UL>", "</UL>", "<IMG src=\"IDX:",
                          "<IND x=\"", "999999999", "-1", "<FONT size=\"", "&amp;", "&", " ", "word", "<P align=\"",
                          "<CONTROL TYPE=\"EDIT\" WIDTH=\"", "<Z>", "</Z>", "<SUB>", "<SUP>", "</A>", "\r\n", "<#",
                          "<R a=\"", "</R>", "1e400", "nan", "-45.5"};
  for (int i = 0; i < 2000; ++i) {
    std::string text;
    const int n = static_cast<int>(rng() % 20);
    for (int k = 0; k < n; ++k) text += pieces[rng() % std::size(pieces)];
    TMiniHtmlParams p = At(static_cast<int>(rng() % 100), static_cast<int>(rng() % 40));
    p.WordWrap = (rng() & 1) != 0;
    p.MeasureOnly = (rng() & 3) == 0;
    TRect r{0, 0, static_cast<int>(rng() % 60), static_cast<int>(rng() % 60)};
    RenderMiniHtml(C, text, r, p, res);
    EXPECT_GE(res.Height, 0);
  }
}

}  // namespace

namespace {

// Every tag once, with the real font, for a person to look at.
TEST(MiniHtmlRender, FeaturesToPng) {
  TBitmap bmp;
  bmp.SetPixelFormat(pf24bit);
  bmp.SetSize(420, 330);
  TCanvas* c = bmp.Canvas();
  c->Brush()->SetColor(clWhite);
  c->FillRect({0, 0, 420, 330});
  c->Font()->SetName("Arial");
  c->Font()->SetSize(10);
  const std::string text =
      "<B>Bold</B> <I>italic</I> <U>under</U> <S>strike</S> <FONT color=\"#FF0000\">red</FONT> "
      "<FONT color=\"clNavy\" bgcolor=\"#FFFF00\">navy on yellow</FONT> <FONT size=\"5\" face=\"Courier New\">big</FONT><BR>"
      "H<SUB>2</SUB>O and x<SUP>2</SUP>, <SHAD>shadow</SHAD>, <HI>highlight</HI>, <E>erorr</E>, &amp; &lt;tag&gt; &euro; &copy;<BR>"
      "<A href=\"p1\">hovered anchor</A> and <A href=\"p2\">focused anchor</A> and <A href=\"p3\">plain anchor</A>"
      "<HR><P align=\"center\" bgcolor=\"#E0E0FF\">centred paragraph</P><P align=\"right\">right</P>"
      "<P bgcolor=\"#FFFFFF\" bgcolorto=\"#00C000\">gradient paragraph</P>"
      "<UL><LI>first item<UL><LI>nested item</UL><LI>second item</UL>"
      "<CONTROL TYPE=\"EDIT\" ID=\"e\" VALUE=\"edit\" WIDTH=\"60\"> <CONTROL TYPE=\"COMBO\" ID=\"c\" VALUE=\"combo\" WIDTH=\"80\"> "
      "<CONTROL TYPE=\"CHECK\" ID=\"k\" VALUE=\"TRUE\" WIDTH=\"20\"> <CONTROL TYPE=\"RADIO\" ID=\"r\" VALUE=\"FALSE\" WIDTH=\"20\"> "
      "<CONTROL TYPE=\"BUTTON\" ID=\"b\" VALUE=\"Button\" WIDTH=\"60\"><BR>"
      "A long line that wraps at blanks when the words no longer fit into the rectangle's width.<BR><BR>"
      "<IND x=\"150\"><R a=\"25\">turned by <B>25</B> degrees</R> and upright again";
  TMiniHtmlParams p;
  p.HoverAnchor = 1;
  p.HoverColor = clGreen;
  p.HoverFontColor = clWhite;
  p.FocusAnchor = 1;
  TMiniHtmlResult r;
  TRect rect{4, 4, 416, 326};
  RenderMiniHtml(c, text, rect, p, r);
  EXPECT_EQ(r.AnchorCount, 3);
  EXPECT_EQ(r.FocusAnchorValue, "p2");
  ASSERT_TRUE(bmp.Image().save(QString::fromStdString(kdtest::OutputDir() + "/minihtml_features.png")));
}

// A BODY BACKGROUND picture is tiled over the target rectangle (the one passed, less its first
// column) and nowhere else: the tiles at the right and bottom are cut at its edge, and the
// canvas clip is as it was afterwards.
TEST(MiniHtmlBody, BackgroundTilesStayInsideTheTarget) {
  QImage tile(16, 16, QImage::Format_RGB32);
  tile.fill(QColor(0, 0, 255));
  const std::string path = kdtest::TempDir() + "/tile16.png";
  ASSERT_TRUE(tile.save(QString::fromStdString(path)));
  const std::string text = "<BODY BACKGROUND=\"file://" + path + "\">";
  THTMLPictureCache cache;
  TMiniHtmlParams p;
  p.PictureCache = &cache;
  for (const TRect target : {TRect{10, 10, 30, 30}, TRect{3, 20, 50, 27}, TRect{0, 0, 16, 16}}) {
    TBitmap bmp;
    bmp.SetPixelFormat(pf24bit);
    bmp.SetSize(60, 60);
    bmp.Canvas()->Brush()->SetColor(clWhite);
    bmp.Canvas()->FillRect({0, 0, 60, 60});
    TMiniHtmlResult r;
    TRect rect = target;
    RenderMiniHtml(bmp.Canvas(), text, rect, p, r);
    int outside = 0, inside = 0;
    for (int y = 0; y < 60; ++y)
      for (int x = 0; x < 60; ++x) {
        const bool in = x > target.Left && x < target.Right && y >= target.Top && y < target.Bottom;
        const TColor c = bmp.Canvas()->Pixel(x, y);
        if (!in && c != clWhite) ++outside;
        if (in && c == static_cast<TColor>(0xFF0000)) ++inside;
      }
    EXPECT_EQ(outside, 0) << target.Left << "," << target.Top;
    EXPECT_EQ(inside, (target.Width() - 1) * target.Height());
    // Unclipped before, unclipped after.
    EXPECT_EQ(bmp.Canvas()->ClipRect(), (TRect{0, 0, 60, 60}));
    bmp.Canvas()->Brush()->SetColor(clRed);
    bmp.Canvas()->FillRect({0, 0, 2, 2});
    EXPECT_EQ(bmp.Canvas()->Pixel(1, 1), clRed);
  }
  // A clip set by the caller is kept: the tiles stay inside both, and it holds afterwards.
  TBitmap bmp;
  bmp.SetPixelFormat(pf24bit);
  bmp.SetSize(60, 60);
  bmp.Canvas()->Brush()->SetColor(clWhite);
  bmp.Canvas()->FillRect({0, 0, 60, 60});
  bmp.Canvas()->IntersectClipRect({0, 0, 20, 60});
  TMiniHtmlResult r;
  TRect rect{10, 10, 30, 30};
  RenderMiniHtml(bmp.Canvas(), text, rect, p, r);
  EXPECT_EQ(bmp.Canvas()->Pixel(19, 15), static_cast<TColor>(0xFF0000));
  EXPECT_EQ(bmp.Canvas()->Pixel(20, 15), clWhite);
  EXPECT_EQ(bmp.Canvas()->ClipRect(), (TRect{0, 0, 20, 60}));
}

}  // namespace

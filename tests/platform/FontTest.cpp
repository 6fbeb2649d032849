// TFont sizes and assignment, the fake and the Qt text measurers, and text layout into a
// coverage mask.
#include "platform/Font.h"

#include <gtest/gtest.h>

#include <QFontInfo>
#include <algorithm>

#include "platform/FontQt.h"

using namespace platform;

TEST(Font, DefaultsAndHeightSizeConversion) {
  TFont f;
  EXPECT_EQ(f.Name(), "MS Sans Serif");
  EXPECT_EQ(f.PixelsPerInch(), 96);
  EXPECT_EQ(f.Size(), 8);
  EXPECT_EQ(f.Height(), -11);  // -MulDiv(8, 96, 72) = -10.67 -> -11
  EXPECT_EQ(f.Color(), clWindowText);
  EXPECT_EQ(f.Charset(), DEFAULT_CHARSET);
  EXPECT_EQ(f.Pitch(), fpDefault);
  EXPECT_TRUE(f.Style().Empty());

  f.SetHeight(-33);
  EXPECT_EQ(f.Size(), 25);  // 33 * 72 / 96 = 24.75
  f.SetSize(12);
  EXPECT_EQ(f.Height(), -16);
  f.SetHeight(20);  // a cell height reads as a negative point size
  EXPECT_EQ(f.Size(), -15);

  // Changing the resolution keeps the pixel height, so the point size follows.
  f.SetHeight(-16);
  f.SetPixelsPerInch(14400);
  EXPECT_EQ(f.Height(), -16);
  EXPECT_EQ(f.Size(), 0);
  f.SetSize(25);
  EXPECT_EQ(f.Height(), -5000);
}

TEST(Font, AssignCarriesThePointSizeAcrossResolutions) {
  // The text shape's font: 14400 pixels per inch, Height 5000 -> 25 points (a cell height).
  TFont shape;
  shape.SetPixelsPerInch(14400);
  shape.SetName("Verdana");
  shape.SetHeight(5000);
  shape.SetStyle({fsBold, fsUnderline});
  shape.SetColor(clRed);
  shape.SetPitch(fpVariable);
  shape.SetCharset(ANSI_CHARSET);

  TFont bitmap;  // 96 pixels per inch
  int changes = 0;
  bitmap.OnChange = [&](TObject* sender) {
    EXPECT_EQ(sender, &bitmap);
    ++changes;
  };
  bitmap.Assign(&shape);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(bitmap.PixelsPerInch(), 96);
  EXPECT_EQ(bitmap.Height(), 33);  // 25 points at 96 ppi
  EXPECT_EQ(bitmap.Size(), -25);
  EXPECT_EQ(bitmap.Name(), "Verdana");
  EXPECT_EQ(bitmap.Style(), (TFontStyles{fsBold, fsUnderline}));
  EXPECT_EQ(bitmap.Color(), clRed);
  EXPECT_EQ(bitmap.Pitch(), fpVariable);
  EXPECT_EQ(bitmap.Charset(), ANSI_CHARSET);

  // At the same resolution the height is copied exactly.
  TFont other;
  other.SetHeight(-17);
  bitmap.Assign(&other);
  EXPECT_EQ(bitmap.Height(), -17);

  // Setters of an unchanged value stay quiet.
  changes = 0;
  bitmap.SetHeight(-17);
  bitmap.SetName("MS Sans Serif");
  bitmap.SetColor(other.Color());
  bitmap.SetStyle({});
  EXPECT_EQ(changes, 0);
  bitmap.SetStyle({fsItalic});
  EXPECT_EQ(changes, 1);
}

TEST(Font, FakeMeasurerIsExact) {
  TFakeTextMeasurer fake;
  TScopedTextMeasurer use(&fake);
  TFont f;
  f.SetHeight(-20);
  TTextMetric m = TextMeasurer().Metrics(f);
  EXPECT_EQ(m.Ascent, 16);
  EXPECT_EQ(m.Descent, 4);
  EXPECT_EQ(m.Height, 20);
  EXPECT_EQ(TextMeasurer().TextWidth(f, "abc"), 30);
  // Code points, not bytes: "é" is two bytes, "€" three.
  EXPECT_EQ(TextMeasurer().TextWidth(f, "\xC3\xA9\xE2\x82\xAC"), 20);
  EXPECT_EQ(TextMeasurer().CharAdvances(f, "a\xC3\xA9"), (std::vector<int32_t>{10, 10}));
  EXPECT_EQ(TextMeasurer().TextExtent(f, "&x"), (TSize{20, 20}));
  // A malformed byte counts as one character.
  EXPECT_EQ(Utf8Length("\xC3"), 1u);
  EXPECT_EQ(Utf8Length("a\xE2\x82"), 3u);
}

// A turned font measures like the upright one; its lines turn about the cell's top-left
// corner. A quarter turn of the fake's boxes moves every inked pixel exactly.
TEST(Font, OrientationTurnsLinesButNotExtents) {
  TFont f;
  f.SetHeight(-20);
  int changes = 0;
  f.OnChange = [&](TObject*) { ++changes; };
  f.SetOrientation(900);
  f.SetOrientation(900);
  EXPECT_EQ(changes, 1);
  TFont copy;
  copy.Assign(&f);
  EXPECT_EQ(copy.Orientation(), 900);

  TFakeTextMeasurer fake;
  TScopedTextMeasurer use(&fake);
  TFont upright;
  upright.SetHeight(-20);
  EXPECT_EQ(TextMeasurer().TextExtent(f, "a b"), TextMeasurer().TextExtent(upright, "a b"));
  TTextMask base;
  base.SetSize(100, 100);
  TextMeasurer().RenderLine(upright, "a b", 40, 40, Rect(0, 0, 100, 100), base);
  // Pixel (40 + u, 40 + v) of the upright line goes to these pixels for each quarter turn.
  struct Case {
    int32_t Tenths;
    int (*X)(int u, int v);
    int (*Y)(int u, int v);
  } cases[] = {
      {900, [](int, int v) { return 40 + v; }, [](int u, int) { return 40 - u - 1; }},
      {1800, [](int u, int) { return 40 - u - 1; }, [](int, int v) { return 40 - v - 1; }},
      {-900, [](int, int v) { return 40 - v - 1; }, [](int u, int) { return 40 + u; }},
      {4500, [](int, int v) { return 40 + v; }, [](int u, int) { return 40 - u - 1; }},  // 450 degrees
  };
  for (const Case& c : cases) {
    f.SetOrientation(c.Tenths);
    TTextMask turned;
    turned.SetSize(100, 100);
    TextMeasurer().RenderLine(f, "a b", 40, 40, Rect(0, 0, 100, 100), turned);
    TTextMask want;
    want.SetSize(100, 100);
    int inked = 0;
    for (int y = 0; y < 100; ++y)
      for (int x = 0; x < 100; ++x)
        if (base.At(x, y)) {
          ++inked;
          want.Coverage[size_t(c.Y(x - 40, y - 40)) * 100 + size_t(c.X(x - 40, y - 40))] = 255;
        }
    EXPECT_EQ(inked, 2 * 9 * 15);
    EXPECT_EQ(turned.Coverage, want.Coverage) << c.Tenths;
  }
  // The clip still holds for turned text.
  f.SetOrientation(900);
  TTextMask clipped;
  clipped.SetSize(100, 100);
  TextMeasurer().RenderLine(f, "a b", 40, 40, Rect(0, 30, 100, 100), clipped);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 100; ++x) ASSERT_EQ(clipped.At(x, y), 0);
}

TEST(Font, QtTurnsTheGlyphs) {
  TFont f;
  f.SetName("Arial");
  f.SetHeight(-24);
  auto box = [&](int32_t tenths) {
    f.SetOrientation(tenths);
    TTextMask m;
    m.SetSize(200, 200);
    TextMeasurer().RenderLine(f, "Kadrilo", 100, 100, Rect(0, 0, 200, 200), m);
    TRect b{200, 200, 0, 0};
    for (int y = 0; y < 200; ++y)
      for (int x = 0; x < 200; ++x)
        if (m.At(x, y) > 64) b = {std::min(b.Left, x), std::min(b.Top, y), std::max(b.Right, x + 1), std::max(b.Bottom, y + 1)};
    return b;
  };
  const TRect up = box(0), left = box(900);
  const int32_t w = TextMeasurer().TextWidth(f, "Kadrilo");
  const int32_t h = TextMeasurer().Metrics(f).Height;
  EXPECT_GE(up.Left, 100);
  EXPECT_LE(up.Right, 100 + w);
  // A quarter turn: the word runs upwards from y = 100, in the cell's height right of x = 100.
  EXPECT_NEAR(left.Bottom - left.Top, up.Right - up.Left, 2);
  EXPECT_NEAR(left.Right - left.Left, up.Bottom - up.Top, 2);
  EXPECT_LE(left.Bottom, 100 + 1);
  EXPECT_GE(left.Top, 100 - w - 1);
  EXPECT_GE(left.Left, 100 - 1);
  EXPECT_LE(left.Right, 100 + h + 1);
}

TEST(Font, LayoutAlignsLinesInTheRectangle) {
  TFakeTextMeasurer fake;
  TScopedTextMeasurer use(&fake);
  TFont f;
  f.SetHeight(-10);  // advance 5, ascent 8, box rows 1..7 of the cell
  TTextMask mask;
  mask.SetSize(40, 30);
  auto inkColumns = [&](int32_t y) {
    std::string s;
    for (int32_t x = 0; x < mask.Width; ++x) s += mask.At(x, y) ? '#' : '.';
    return s;
  };
  // Columns [from, to) inked, the rest blank.
  auto ink = [](std::initializer_list<std::pair<int, int>> runs) {
    std::string s(40, '.');
    for (auto [a, b] : runs) s.replace(a, b - a, b - a, '#');
    return s;
  };
  TRect tr;
  // Centred in 0..40: width 10 -> left 15; "a" inks columns 15..18, "b" 20..23.
  RenderTextMask(f, Rect(0, 0, 40, 30), DT_CENTER | DT_VCENTER | DT_SINGLELINE, "ab", mask, &tr);
  EXPECT_EQ(tr, Rect(15, 10, 25, 20));
  EXPECT_EQ(inkColumns(11), ink({{15, 19}, {20, 24}}));
  EXPECT_EQ(inkColumns(10), std::string(40, '.'));
  EXPECT_EQ(inkColumns(18), std::string(40, '.'));

  mask.SetSize(40, 30);
  EXPECT_EQ(RenderTextMask(f, Rect(0, 0, 40, 30), DT_RIGHT | DT_BOTTOM | DT_SINGLELINE, "a", mask, &tr), 10);
  EXPECT_EQ(tr, Rect(35, 20, 40, 30));
  EXPECT_EQ(mask.At(35, 21), 255);
  EXPECT_EQ(mask.At(39, 21), 0);

  // Several lines from the top; "&" is an ordinary character.
  mask.SetSize(40, 30);
  EXPECT_EQ(RenderTextMask(f, Rect(2, 0, 40, 30), DT_LEFT, "&\nx y", mask, &tr), 20);
  EXPECT_EQ(tr, Rect(2, 0, 17, 20));
  EXPECT_EQ(inkColumns(1), ink({{2, 6}}));
  EXPECT_EQ(inkColumns(11), ink({{2, 6}, {12, 16}}));

  // Clipped to the rectangle unless DT_NOCLIP; DT_CALCRECT draws nothing.
  mask.SetSize(40, 30);
  RenderTextMask(f, Rect(0, 0, 7, 30), DT_LEFT, "ab", mask);
  EXPECT_EQ(inkColumns(1), ink({{0, 4}, {5, 7}}));
  mask.SetSize(40, 30);
  RenderTextMask(f, Rect(0, 0, 7, 30), DT_LEFT | DT_NOCLIP, "ab", mask);
  EXPECT_EQ(inkColumns(1), ink({{0, 4}, {5, 9}}));
  mask.SetSize(40, 30);
  RenderTextMask(f, Rect(0, 0, 40, 30), DT_CALCRECT, "ab", mask, &tr);
  EXPECT_EQ(tr, Rect(0, 0, 10, 10));
  EXPECT_EQ(std::count(mask.Coverage.begin(), mask.Coverage.end(), 0), 40 * 30);
}

TEST(Font, QtMeasurerUsesTheMetricCompatibleFaces) {
  EXPECT_EQ(QtFamilyName("Arial"), "Liberation Sans");
  EXPECT_EQ(QtFamilyName("times new roman"), "Liberation Serif");
  EXPECT_EQ(QtFamilyName("Courier New"), "Liberation Mono");
  EXPECT_EQ(QtFamilyName("Verdana"), "Verdana");

  TFont f;
  f.SetName("Arial");
  f.SetHeight(-100);
  EXPECT_EQ(QFontInfo(MakeQFont(f)).family(), "Liberation Sans");
  EXPECT_EQ(MakeQFont(f).pixelSize(), 100);
  // Arial's metrics: ascent 1854, descent 434 of 2048 units; "H" advances 1479 units.
  TTextMetric m = TextMeasurer().Metrics(f);
  EXPECT_NEAR(m.Ascent, 91, 1);
  EXPECT_NEAR(m.Descent, 21, 1);
  EXPECT_EQ(m.Height, m.Ascent + m.Descent);
  EXPECT_NEAR(TextMeasurer().TextWidth(f, "H"), 72, 1);
  // "&" is measured literally, never as a prefix marker.
  EXPECT_EQ(TextMeasurer().TextWidth(f, "&&"), 2 * TextMeasurer().TextWidth(f, "&"));
  EXPECT_EQ(TextMeasurer().CharAdvances(f, "HH").size(), 2u);

  // A positive height is the cell height.
  f.SetHeight(112);
  EXPECT_NEAR(MakeQFont(f).pixelSize(), 100, 1);
  // Bold text is wider.
  f.SetHeight(-40);
  int32_t plain = TextMeasurer().TextWidth(f, "Kadrilo");
  f.SetStyle({fsBold});
  EXPECT_GT(TextMeasurer().TextWidth(f, "Kadrilo"), plain);
}

TEST(Font, QtRendersAntialiasedCoverage) {
  TFont f;
  f.SetName("Arial");
  f.SetHeight(-24);
  TTextMask mask;
  mask.SetSize(60, 30);
  RenderTextMask(f, Rect(0, 0, 60, 30), DT_LEFT | DT_SINGLELINE, "Ox", mask);
  int full = 0, partial = 0;
  for (uint8_t c : mask.Coverage) {
    full += c == 255;
    partial += c > 0 && c < 255;
  }
  EXPECT_GT(full, 10);
  EXPECT_GT(partial, 10);  // greyscale antialiasing
  // Nothing beyond the text's advance.
  int32_t w = TextMeasurer().TextWidth(f, "Ox");
  for (int32_t y = 0; y < 30; ++y)
    for (int32_t x = w + 2; x < 60; ++x) ASSERT_EQ(mask.At(x, y), 0) << x << "," << y;
}

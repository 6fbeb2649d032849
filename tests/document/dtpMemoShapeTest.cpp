// Memo shape: line splitting, wrapping to the width, the height following the wrapped text,
// caret tables over wrapped lines and caret movement by line, editing keys and XML; and an
// offscreen render of text and memo shapes for a person to look at.
#include <cmath>
#include <iterator>

#include <QImage>
#include <gtest/gtest.h>

#include "DocumentTestSupport.h"
#include "document/XmlDocuments.h"
#include "document/dtpMemoShape.h"
#include "platform/Font.h"
#include "tests/common/TestSupport.h"

using namespace document;
using kdtest::TTestDocumentHost;

namespace {

constexpr float cDpm = 5.905512f;
using Lines = std::vector<std::string>;

class TEditHost : public TTestDocumentHost {
 public:
  void EndShapeEdit(bool Accept) override {
    Ends.push_back(Accept);
    if (Shape) Shape->EndEdit(Accept);
  }
  TdtpShape* Shape = nullptr;
  std::vector<bool> Ends;
};

class MemoShapeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitializeDtpShape();
    InitializeDtpEffectShape();
    InitializeDtpTextShape();
    InitializeDtpMemoShape();
  }
  // Fake font at 33 px: 16 px per character.
  std::unique_ptr<TdtpMemoShape> Make(const std::string& Text, float WidthPx = 0) {
    auto m = NewShape<TdtpMemoShape>();
    m->SetDocument(&doc);
    if (WidthPx > 0) m->SetDocWidth(WidthPx / cDpm);
    m->SetText(Text);
    return m;
  }
  platform::TFakeTextMeasurer fake;
  platform::TScopedTextMeasurer scoped{&fake};
  TEditHost doc;
};

TEST(MemoLinesTest, SplitAndJoin) {
  EXPECT_EQ(SplitTextLines(""), Lines{});
  EXPECT_EQ(SplitTextLines("a\r\nb"), (Lines{"a", "b"}));
  EXPECT_EQ(SplitTextLines("a\n\nb"), (Lines{"a", "", "b"}));
  EXPECT_EQ(SplitTextLines("a\r\r\nb\r"), (Lines{"a", "", "b"}));
  EXPECT_EQ(SplitTextLines("a\r\n"), Lines{"a"});
  EXPECT_EQ(SplitTextLines("\n"), Lines{""});
  EXPECT_EQ(JoinTextLines({"a", "", "b"}), "a\r\n\r\nb\r\n");
}

TEST_F(MemoShapeTest, Defaults) {
  auto m = NewShape<TdtpMemoShape>();
  EXPECT_EQ(m->ClassName(), "TdtpMemoShape");
  EXPECT_TRUE(m->WordWrap());
  EXPECT_FLOAT_EQ(m->DocWidth(), 40);
  EXPECT_EQ(&FindShapeClass("TdtpMemoShape"), &TdtpMemoShape::StaticClass());
  // Resizing does not scale the memo's font; the height follows the text again.
  auto t = Make("abc");
  const float fh = t->FontHeight();
  t->SetDocSize(30, 50);
  EXPECT_FLOAT_EQ(t->FontHeight(), fh);
  EXPECT_FLOAT_EQ(t->DocWidth(), 30);
  EXPECT_NEAR(t->DocHeight(), 2 * 1.2f * fh, 1e-4);
}

TEST_F(MemoShapeTest, WrapsLongWordsCharacterByCharacter) {
  // 40 mm = 236.2 px: 14 characters fit strictly.
  auto m = Make("abcdefghijklmnopqrst");
  EXPECT_EQ(m->WrappedLines(), (Lines{"abcdefghijklmn", "opqrst"}));
  // A single remaining character is never cut.
  auto n = Make("abc", 5);
  EXPECT_EQ(n->WrappedLines(), (Lines{"a", "b", "c"}));
}

TEST_F(MemoShapeTest, WrapsAtBlanks) {
  // Just wider than "a b" (48 px).
  auto m = Make("a b c", 50);
  EXPECT_EQ(m->WrappedLines(), (Lines{"a b", "c"}));
  auto n = Make("one  two three\r\n\r\nfour", 100);
  EXPECT_EQ(n->WrappedLines(), (Lines{"one", "two", "three", "", "four"}));
  // Height: one line more than the wrapped lines.
  EXPECT_NEAR(n->DocHeight(), 6 * 1.2f * n->FontHeight(), 1e-4);
  n->SetWordWrap(false);
  EXPECT_EQ(n->WrappedLines(), (Lines{"one  two three", "", "four"}));
  float w, h;
  n->TextExtent(w, h);
  EXPECT_NEAR(w, 14 * 16 / cDpm, 1e-4);
}

TEST_F(MemoShapeTest, FastWrapMatchesThePlainRule) {
  uint32_t seed = 12345;
  auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
  // Multi-byte characters among them: a cut never falls inside one.
  const char* const alphabet[] = {"a", "b", " ", "\xC3\xA9", " ", "\xE2\x82\xAC", "e", "\n", " "};
  auto m = NewShape<TdtpMemoShape>();
  m->SetDocument(&doc);
  m->SetAutoSize(false);
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    const int len = int(next() >> 24) % 60;
    for (int i = 0; i < len; ++i) text += alphabet[(next() >> 16) % std::size(alphabet)];
    m->SetText(text);
    m->SetDocWidth(float(1 + (next() >> 20) % 300) / cDpm);
    m->WrapLinesReference();
    const Lines want = m->WrappedLines();
    m->WrapLines();
    ASSERT_EQ(m->WrappedLines(), want) << "text \"" << text << "\" width " << m->DocWidth();
    std::string joined;
    for (const auto& l : want) {
      ASSERT_EQ(CharsToUtf8(Utf8ToChars(l)), l) << "a line cut inside a character: " << text;
      joined += l;
    }
  }
}

TEST_F(MemoShapeTest, MultiByteWordsWrapByCharacter) {
  // 14 characters fit strictly in 40 mm, whatever their byte length.
  auto m = Make("\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC"
                "\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xC3\xAB\xC3\xAB");
  EXPECT_EQ(m->WrappedLines(),
            (Lines{"\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC"
                   "\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC",
                   "\xC3\xAB\xC3\xAB"}));
  // Caret tables: one entry per character; the position at the cut ends the first line and
  // the second line's positions count again from its own start.
  m->TextOrigin();
  ASSERT_EQ(m->CaretX().size(), 17u);
  EXPECT_EQ(m->CaretLine()[14], 0);
  EXPECT_NEAR(m->CaretX()[14], 14 * 16 / cDpm, 1e-4);
  EXPECT_EQ(m->CaretLine()[15], 1);
  EXPECT_NEAR(m->CaretX()[15], 16 / cDpm, 1e-4);
  EXPECT_NEAR(m->CaretX()[16], 32 / cDpm, 1e-4);
}

TEST_F(MemoShapeTest, LongLinesWrapInReasonableTime) {
  auto m = NewShape<TdtpMemoShape>();
  m->SetDocument(&doc);
  m->SetText(std::string(200000, 'x') + "\r\n" + [] {
    std::string s;
    for (int i = 0; i < 50000; ++i) s += "ab ";
    return s;
  }());
  const Lines& w = m->WrappedLines();
  // 14 characters of 16 px fit in 40 mm; "ab ab ab ab ab" is 14.
  ASSERT_GT(w.size(), 14000u);
  EXPECT_EQ(w.front(), std::string(14, 'x'));
  EXPECT_EQ(w.back(), "ab ab ab ab ab");
}

TEST_F(MemoShapeTest, EmptyTextKeepsOneLineOfHeight) {
  auto m = Make("");
  EXPECT_TRUE(m->WrappedLines().empty());
  EXPECT_NEAR(m->DocHeight(), 1.2f * m->FontHeight(), 1e-4);
  EXPECT_FLOAT_EQ(m->DocWidth(), 40);
  m->SetLines({"x", "y"});
  EXPECT_EQ(m->Text(), "x\r\ny\r\n");
  EXPECT_NEAR(m->DocHeight(), 3 * 1.2f * m->FontHeight(), 1e-4);
}

TEST_F(MemoShapeTest, CaretTablesAndNavigationByLine) {
  auto m = Make("ab cd", 50);
  ASSERT_EQ(m->WrappedLines(), (Lines{"ab", "cd"}));
  m->TextOrigin();
  const std::vector<int32_t> lines{0, 0, 0, 1, 1, 1};
  EXPECT_EQ(m->CaretLine(), lines);
  const float xs[] = {0, 16, 32, 0, 16, 32};
  for (int i = 0; i < 6; ++i) EXPECT_NEAR(m->CaretX()[i], xs[i] / cDpm, 1e-4) << i;
  EXPECT_EQ(m->CaretNavigation(1, 40), 4);  // Down keeps the column
  EXPECT_EQ(m->CaretNavigation(4, 38), 1);  // Up
  EXPECT_EQ(m->CaretNavigation(4, 40), 4);  // Down on the last line stays
  EXPECT_EQ(m->CaretNavigation(1, 38), 1);  // Up on the first line stays
  EXPECT_EQ(m->CaretNavigation(3, 35), 5);
  EXPECT_EQ(m->CaretNavigation(5, 36), 3);
  EXPECT_EQ(m->CaretNavigation(1, 36), 0);
  EXPECT_EQ(m->CaretNavigation(0, 35), 2);
  EXPECT_EQ(m->CaretNavigation(2, 37), 1);
  EXPECT_EQ(m->CaretNavigation(2, 39), 3);
  EXPECT_EQ(m->CaretNavigation(2, 65), 2);
  // Line breaks start a new line origin; the position between CR and LF belongs to the line
  // before.
  auto b = Make("ab\r\ncd");
  b->TextOrigin();
  EXPECT_EQ(b->CaretLine(), (std::vector<int32_t>{0, 0, 0, 0, 1, 1, 1}));
  EXPECT_NEAR(b->CaretX()[3], 32 / cDpm, 1e-4);
  EXPECT_NEAR(b->CaretX()[4], 0, 1e-4);
  EXPECT_NEAR(b->CaretX()[6], 32 / cDpm, 1e-4);
}

TEST_F(MemoShapeTest, EditingEnterBreaksLineArrowsMoveByLine) {
  auto m = Make("ab cd", 50);
  doc.Shape = m.get();
  m->StartEdit();
  ASSERT_TRUE(m->Editing());
  uint16_t k = 38;  // Up from the end (x 32 on line 1) to the end of line 0
  m->KeyDownHook(k, 0);
  EXPECT_EQ(m->CaretIndex(), 2);
  k = 13;
  m->KeyDownHook(k, 0);
  EXPECT_TRUE(m->Editing());
  EXPECT_EQ(m->Text(), "ab\r cd");
  EXPECT_EQ(m->Lines(), (Lines{"ab", " cd"}));
  k = 9;
  m->KeyDownHook(k, 0);
  EXPECT_FALSE(m->Editing());
  EXPECT_EQ(m->Text(), "ab\r cd");
  ASSERT_EQ(doc.Ends.size(), 1u);
  EXPECT_TRUE(doc.Ends[0]);
  m->StartEdit();
  platform::TKeyChar c = 'z';
  m->KeyPressHook(c);
  k = 27;
  m->KeyDownHook(k, 0);
  EXPECT_EQ(m->Text(), "ab\r cd");
}

// Lines given as a list are joined with CR LF. The caret never stops between the CR and the
// LF of a break, where typed text would split the line in two: Home, Down, Left and Right
// keys land on either side of the pair, and text typed at the start of the second line stays
// on it, also through a save and a reload.
TEST_F(MemoShapeTest, CaretKeysNeverStopInsideALineBreakPair) {
  auto m = Make("");
  m->SetLines({"ab", "cd"});
  ASSERT_EQ(m->Text(), "ab\r\ncd\r\n");
  doc.Shape = m.get();
  m->StartEdit();
  auto key = [&](uint16_t K) {
    m->KeyDownHook(K, 0);
    return m->CaretIndex();
  };
  key(38);                   // up from the end to the line "cd"
  EXPECT_EQ(key(36), 4);     // Home: before "c", after the break
  EXPECT_EQ(key(37), 2);     // Left: after "b", before the break
  EXPECT_EQ(key(39), 4);     // Right: over the whole break
  EXPECT_EQ(key(38), 0);     // Up to the start of "ab"
  EXPECT_EQ(key(40), 4);     // Down to the start of "cd"
  EXPECT_EQ(key(38), 0);
  EXPECT_EQ(key(35), 2);     // End of "ab"
  key(40);
  EXPECT_EQ(m->CaretIndex(), 6);  // the end of "cd" is nearest to the end of "ab"
  key(36);
  platform::TKeyChar c = 'X';
  m->KeyPressHook(c);
  uint16_t k = 9;
  m->KeyDownHook(k, 0);
  ASSERT_FALSE(m->Editing());
  EXPECT_EQ(m->Lines(), (Lines{"ab", "Xcd"}));
  TXmlDocument xml("Shape");
  m->SaveToXml(xml.Root());
  TXmlDocument again;
  again.ReadFromString(xml.WriteToString());
  auto t = NewShape<TdtpMemoShape>();
  t->SetDocument(&doc);
  t->LoadFromXml(again.Root());
  EXPECT_EQ(t->Text(), m->Text());
  EXPECT_EQ(t->Lines(), (Lines{"ab", "Xcd"}));
  EXPECT_FLOAT_EQ(t->DocHeight(), m->DocHeight());
  // Empty lines are places of their own, also the first and several in a row.
  for (const auto& [text, downs] : {std::pair<const char*, std::vector<int>>{"x\r\n\r\ny", {3, 5}},
                                    {"\r\n\r\n\r\ny", {2, 4, 6}}, {"x\r\n\r\n", {3, 5}}}) {
    SCOPED_TRACE(text);
    auto e = Make(text);
    doc.Shape = e.get();
    e->StartEdit();
    k = 36;
    for (int i = 0; i < 9; ++i) e->KeyDownHook(k = 38, 0);
    e->KeyDownHook(k = 36, 0);
    std::vector<int> seen;
    for (size_t i = 0; i < downs.size(); ++i) seen.push_back((e->KeyDownHook(k = 40, 0), e->CaretIndex()));
    EXPECT_EQ(seen, downs);
  }
}

// One Backspace at the start of a line, or one Delete at the end of the line before, joins
// the two lines also when the break is a CR LF pair.
TEST_F(MemoShapeTest, OneKeyDeletesACrLfBreak) {
  for (uint16_t del : {uint16_t(8), uint16_t(46)}) {
    SCOPED_TRACE(del);
    auto m = Make("");
    m->SetLines({"ab", "cd"});
    doc.Shape = m.get();
    m->StartEdit();
    uint16_t k = 38;
    m->KeyDownHook(k, 0);
    k = del == 8 ? 36 : 38;  // the start of "cd", or up to "ab"
    m->KeyDownHook(k, 0);
    if (del == 46) {
      k = 35;
      m->KeyDownHook(k, 0);
    }
    k = del;
    m->KeyDownHook(k, 0);
    EXPECT_EQ(m->CaretIndex(), 2);
    EXPECT_EQ(m->Lines(), Lines{"abcd"});
    k = 9;
    m->KeyDownHook(k, 0);
    TXmlDocument xml("Shape");
    m->SaveToXml(xml.Root());
    TXmlDocument again;
    again.ReadFromString(xml.WriteToString());
    auto t = NewShape<TdtpMemoShape>();
    t->SetDocument(&doc);
    t->LoadFromXml(again.Root());
    EXPECT_EQ(t->Text(), "abcd\r\n");
    EXPECT_EQ(t->Lines(), Lines{"abcd"});
  }
}

TEST_F(MemoShapeTest, XmlRoundTripAndMissingWordWrap) {
  auto m = Make("alpha beta gamma delta", 60);
  TXmlDocument xml;
  xml.Root()->SetName("Shape");
  m->SaveToXml(xml.Root());
  ASSERT_NE(xml.Root()->NodeByName("WordWrap"), nullptr);
  TXmlDocument again;
  again.ReadFromString(xml.WriteToString());
  auto t = NewShape<TdtpMemoShape>();
  t->SetDocument(&doc);
  t->LoadFromXml(again.Root());
  EXPECT_TRUE(t->WordWrap());
  EXPECT_EQ(t->Text(), m->Text());
  EXPECT_EQ(t->Lines(), Lines{"alpha beta gamma delta"});
  EXPECT_EQ(t->WrappedLines(), m->WrappedLines());
  EXPECT_NEAR(t->DocHeight(), m->DocHeight(), 1e-4);

  again.Root()->NodeByName("WordWrap")->SetName("Other");
  auto u = NewShape<TdtpMemoShape>();
  u->SetDocument(&doc);
  u->LoadFromXml(again.Root());
  EXPECT_FALSE(u->WordWrap());
  EXPECT_EQ(u->WrappedLines(), Lines{"alpha beta gamma delta"});
}

// Composites a shape's painted bitmap over white at (X, Y).
void Compose(TBitmap32& Out, TBitmap32& Shape, int32_t X, int32_t Y) {
  for (int32_t y = 0; y < Shape.Height(); ++y)
    for (int32_t x = 0; x < Shape.Width(); ++x) {
      if (X + x >= Out.Width() || Y + y >= Out.Height()) continue;
      const TColor32 s = Shape.Pixel(x, y), d = Out.Pixel(X + x, Y + y);
      const uint32_t a = s >> 24;
      auto mix = [&](int sh) { return ((((s >> sh) & 255) * a + ((d >> sh) & 255) * (255 - a) + 127) / 255) << sh; };
      Out.SetPixel(X + x, Y + y, 0xFF000000u | mix(16) | mix(8) | mix(0));
    }
}

void Paint(TdtpTextShape& S, TBitmap32& Bmp) {
  Bmp.SetSize(int32_t(std::ceil(S.DocWidth() * cDpm)), int32_t(std::ceil(S.DocHeight() * cDpm)));
  S.PaintShape(&Bmp);
}

int InkRows(TBitmap32& B, int32_t From, int32_t To) {
  int rows = 0;
  for (int32_t y = From; y < To && y < B.Height(); ++y) {
    bool ink = false;
    for (int32_t x = 0; x < B.Width(); ++x) ink |= (B.Pixel(x, y) >> 24) > 128;
    rows += ink;
  }
  return rows;
}

// Undoing a WordWrap change puts the old value back.
TEST_F(MemoShapeTest, UndoOfWordWrap) {
  auto m = Make("een twee drie", 100);
  const float wrappedHeight = m->DocHeight();
  doc.Commands.clear();
  m->SetWordWrap(false);
  ASSERT_EQ(doc.Commands.size(), 1u);
  EXPECT_EQ(doc.Commands[0]->Name, "WordWrap");
  EXPECT_LT(m->DocHeight(), wrappedHeight);
  doc.UndoLock++;
  EXPECT_TRUE(m->ExecuteCommand(doc.Commands[0].get()));
  doc.UndoLock--;
  EXPECT_TRUE(m->WordWrap());
  EXPECT_FLOAT_EQ(m->DocHeight(), wrappedHeight);
  m->SetPropertyByName("wordwrap", "False");
  EXPECT_FALSE(m->WordWrap());
  // The text shape's own names still reach it.
  m->SetPropertyByName("Text", "x");
  EXPECT_EQ(m->Text(), "x");
}

// Lines given with breaks inside them are split as a stored text would be.
TEST_F(MemoShapeTest, SetLinesSplitsEntriesWithBreaks) {
  auto m = Make("");
  m->SetLines({"a\r\nb", "c\nd", "e"});
  EXPECT_EQ(m->Lines(), (Lines{"a", "b", "c", "d", "e"}));
  EXPECT_EQ(m->Text(), "a\r\nb\r\nc\r\nd\r\ne\r\n");
  EXPECT_EQ(m->WrappedLines().size(), 5u);
  // The same after a save and reload.
  TXmlDocument xml("Shape");
  m->SaveToXml(xml.Root());
  auto t = NewShape<TdtpMemoShape>();
  t->LoadFromXml(xml.Root());
  EXPECT_EQ(t->Lines(), m->Lines());
  EXPECT_FLOAT_EQ(t->DocHeight(), m->DocHeight());
}

TEST(TextRenderTest, TextAndMemoToPng) {
  InitializeDtpShape();
  InitializeDtpEffectShape();
  InitializeDtpTextShape();
  InitializeDtpMemoShape();
  TTestDocumentHost doc;
  auto t = NewShape<TdtpTextShape>();
  t->SetDocument(&doc);
  t->SetText("De kadrilo");
  t->SetFontName("DejaVu Sans");
  t->SetFontColor(0x800000);  // navy
  auto m = NewShape<TdtpMemoShape>();
  m->SetDocument(&doc);
  m->SetFontName("DejaVu Sans");
  m->SetFontHeight(3);
  m->SetDocWidth(50);
  m->SetText("A memo wraps its words to the width of its box.\r\nA second paragraph.");
  m->SetFontColor(0x0000C0);
  ASSERT_GE(m->WrappedLines().size(), 3u);

  TBitmap32 tb, mb;
  Paint(*t, tb);
  Paint(*m, mb);
  TBitmap32 out;
  out.SetSize(420, 320);
  out.Clear(0xFFFFFFFFu);
  Compose(out, tb, 20, 20);
  Compose(out, mb, 20, 80);
  QImage img(reinterpret_cast<const uchar*>(out.Bits()), out.Width(), out.Height(), out.Width() * 4,
             QImage::Format_RGB32);
  ASSERT_TRUE(img.save(QString::fromStdString(kdtest::OutputDir() + "/text_and_memo_shapes.png")));

  // Real glyphs: antialiased edges and solid strokes, all in the font colour.
  int partial = 0, solid = 0;
  for (int32_t y = 0; y < tb.Height(); ++y)
    for (int32_t x = 0; x < tb.Width(); ++x) {
      const uint32_t a = tb.Pixel(x, y) >> 24;
      partial += a > 0 && a < 255;
      solid += a == 255;
      ASSERT_EQ(tb.Pixel(x, y) & 0xFFFFFF, 0x000080u);
    }
  EXPECT_GT(partial, 20);
  EXPECT_GT(solid, 20);
  // Each wrapped line of the memo sits in its own band of the line pitch.
  const double pitch = cDpm * 1.2 * 3;
  for (size_t i = 0; i < m->WrappedLines().size(); ++i)
    EXPECT_GT(InkRows(mb, int32_t(std::lround(pitch * i)), int32_t(std::lround(pitch * (i + 1)))), 5) << i;
}

}  // namespace

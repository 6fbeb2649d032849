// Text shape: font scale, box following the text, font fitted to the box when painting,
// text colour and alpha, caret tables, editing, properties by name and XML.
#include <cmath>

#include <gtest/gtest.h>

#include "../common/TestSupport.h"
#include "DocumentTestSupport.h"
#include "document/XmlDocuments.h"
#include "document/dtpShapeRenderPriv.h"
#include "document/dtpDocument.h"
#include "document/dtpMemoShape.h"
#include "document/dtpTextShape.h"
#include "platform/Font.h"

using namespace document;
using kdtest::TTestDocumentHost;

namespace {

constexpr float cDpm = 5.905512f;

// Sets the box without the font following it (as a stored shape can have it).
class TBoxText : public TdtpTextShape {
 public:
  void SetBox(float W, float H) {
    FUpdating = true;
    SetDocBounds(FDocLeft, FDocTop, W, H);
    FUpdating = false;
  }
};

class TEditHost : public TTestDocumentHost {
 public:
  void EndShapeEdit(bool Accept) override {
    Ends.push_back(Accept);
    if (Shape) Shape->EndEdit(Accept);
  }
  TdtpShape* Shape = nullptr;
  std::vector<bool> Ends;
};

class TextShapeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitializeDtpShape();
    InitializeDtpEffectShape();
    InitializeDtpTextShape();
  }
  template <typename T = TdtpTextShape>
  std::unique_ptr<T> Make(const std::string& Text) {
    auto s = NewShape<T>();
    s->SetDocument(&doc);
    s->SetText(Text);
    return s;
  }
  // Bitmap font height in pixels for the shape's current font.
  static int32_t PixelHeight(const TdtpTextShape& S) {
    TBitmap32 b;
    b.SetFont(&S.Font());
    return std::abs(b.Font().Height());
  }
  platform::TFakeTextMeasurer fake;
  platform::TScopedTextMeasurer scoped{&fake};
  TEditHost doc;
};

TEST_F(TextShapeTest, DefaultsAndFontScale) {
  auto s = NewShape<TdtpTextShape>();
  EXPECT_EQ(s->ClassName(), "TdtpTextShape");
  EXPECT_EQ(s->FontName(), "Verdana");
  EXPECT_FLOAT_EQ(s->FontHeight(), 4.233333f);
  EXPECT_TRUE(s->AutoSize());
  EXPECT_EQ(s->FontColor(), 0);
  EXPECT_EQ(s->Color(), platform::TColor(0xFF000000u));
  EXPECT_EQ(s->Cursor(), -37);
  EXPECT_EQ(s->Font().PixelsPerInch(), 14400);
  TdtpFloatPoint d;
  s->GetDefaultSize(d);
  EXPECT_FLOAT_EQ(d.X, 0);
  EXPECT_FLOAT_EQ(d.Y, 1.2f * 4.233333f);
  // 150 DPI: 5000 on the 14400 ppi font, 25 points, 33 pixels on a bitmap's font.
  EXPECT_EQ(s->ScaledFontHeight(), 5000);
  s->Font().SetHeight(s->ScaledFontHeight());
  EXPECT_EQ(std::abs(s->Font().Size()), 25);
  EXPECT_EQ(PixelHeight(*s), 33);
  EXPECT_EQ(&FindShapeClass("TdtpTextShape"), &TdtpTextShape::StaticClass());
}

TEST_F(TextShapeTest, BoxFollowsTextAndAlignment) {
  auto s = Make("abcd");
  // Fake font at 33 px: 16 px per character.
  EXPECT_NEAR(s->DocWidth(), 64 / cDpm, 1e-4);
  EXPECT_NEAR(s->DocHeight(), 33 / cDpm, 1e-4);
  s->SetDocLeft(50);
  s->SetText("ab");
  EXPECT_NEAR(s->DocLeft(), 50, 1e-4);

  auto r = Make("abcd");
  r->SetAlignment(platform::taRightJustify);
  r->SetDocLeft(50);
  const float right = r->DocLeft() + r->DocWidth();
  r->SetText("abcdefgh");
  EXPECT_NEAR(r->DocLeft() + r->DocWidth(), right, 1e-4);
  r->SetText("a");
  EXPECT_NEAR(r->DocLeft() + r->DocWidth(), right, 1e-4);

  auto c = Make("abcd");
  c->SetAlignment(platform::taCenter);
  c->SetDocLeft(50);
  const float centre = c->DocLeft() + c->DocWidth() / 2;
  c->SetText("abcdefghij");
  EXPECT_NEAR(c->DocLeft() + c->DocWidth() / 2, centre, 1e-4);

  // An empty text is measured as one blank and keeps its height.
  auto e = Make("");
  s->SetText("");
  EXPECT_NEAR(s->DocWidth(), 16 / cDpm, 1e-4);
  EXPECT_NEAR(s->DocHeight(), 33 / cDpm, 1e-4);
}

TEST_F(TextShapeTest, ResizingScalesTheFont) {
  auto s = Make("abcd");
  const float fh = s->FontHeight();
  s->SetDocSize(s->DocWidth(), s->DocHeight() * 2);
  EXPECT_NEAR(s->FontHeight(), 2 * fh, 1e-4);
  // The box follows the text at the new font: 10000, 50 points, 67 px high.
  EXPECT_NEAR(s->DocHeight(), 67 / cDpm, 1e-4);
  s->SetAutoSize(false);
  s->SetDocSize(10, 3);
  EXPECT_NEAR(s->FontHeight(), 2 * fh, 1e-4);
  EXPECT_FLOAT_EQ(s->DocWidth(), 10);
}

// After painting, the font fills the box: it fits, and one point more would not.
void ExpectFitted(TdtpTextShape& S, const std::string& Text) {
  TBitmap32 bmp;
  bmp.SetSize(8, 8);
  S.Font().SetHeight(0);  // the fit runs when the scaled height differs from the font's
  S.PaintShape(&bmp);
  const int32_t h = std::abs(S.Font().Height());
  auto measure = [&](int32_t H, float& W, float& Hh) {
    platform::TFont f;
    f.SetPixelsPerInch(14400);
    f.Assign(&S.Font());
    f.SetHeight(H);
    TBitmap32 b;
    b.SetFont(&f);
    auto e = b.TextExtent(Text);
    W = float(e.cx) / cDpm;
    Hh = float(e.cy) / cDpm;
  };
  float w, hh;
  measure(h, w, hh);
  EXPECT_LE(w, S.DocWidth());
  EXPECT_LE(hh, S.DocHeight());
  measure(h + 200, w, hh);
  EXPECT_TRUE(w >= S.DocWidth() || hh >= S.DocHeight());
}

TEST_F(TextShapeTest, PaintFitsFontToBox) {
  auto s = Make<TBoxText>("abcd");
  s->SetBox(40, 30);  // far larger: the font grows
  ExpectFitted(*s, "abcd");
  EXPECT_GT(PixelHeight(*s), 33);
  s->SetFontHeight(s->FontHeight() * 1.5f);  // re-fit on the next paint
  s->SetBox(5, 2);                           // smaller: the font shrinks
  ExpectFitted(*s, "abcd");
  EXPECT_LT(PixelHeight(*s), 33);
}

TEST_F(TextShapeTest, DegenerateBoxesEndTheFitting) {
  auto s = Make<TBoxText>("abcd");
  s->SetBox(0, 0);
  TBitmap32 bmp;
  bmp.SetSize(4, 4);
  s->Font().SetHeight(0);
  s->PaintShape(&bmp);
  EXPECT_EQ(s->Font().Height(), 1);
  s->SetFontHeight(5);
  s->SetBox(1e30f, 1e30f);
  s->Font().SetHeight(0);
  s->PaintShape(&bmp);
  EXPECT_EQ(s->Font().Height(), 200 * 2000);
}

TEST_F(TextShapeTest, PaintTurnsCoverageIntoAlphaOfFontColour) {
  auto s = Make("ab c");
  s->SetFontColor(0x0000FF);  // red
  EXPECT_EQ(s->Color(), platform::TColor(0xFFFF0000u));
  s->SetAutoSize(false);
  TBitmap32 bmp;
  bmp.SetSize(int32_t(std::ceil(s->DocWidth() * cDpm)), int32_t(std::ceil(s->DocHeight() * cDpm)));
  s->Font().SetHeight(0);  // changed: refit to the box it was sized to
  s->SetAutoSize(true);
  s->PaintShape(&bmp);
  int opaque = 0, clear = 0;
  for (int32_t y = 0; y < bmp.Height(); ++y)
    for (int32_t x = 0; x < bmp.Width(); ++x) {
      const TColor32 p = bmp.Pixel(x, y);
      EXPECT_EQ(p & 0xFFFFFFu, 0xFF0000u);
      opaque += (p >> 24) == 255;
      clear += (p >> 24) == 0;
    }
  EXPECT_GT(opaque, 50);
  EXPECT_GT(clear, 50);
  // The blank third character stays clear; the first is ink from the second row down.
  EXPECT_EQ(bmp.Pixel(35, 15) >> 24, 0u);
  EXPECT_EQ(bmp.Pixel(5, 15) >> 24, 255u);
  EXPECT_EQ(bmp.Pixel(5, 0) >> 24, 0u);
}

TEST_F(TextShapeTest, CaretTablesFollowAlignment) {
  auto s = Make("abc");
  s->TextOrigin();
  ASSERT_EQ(s->CaretX().size(), 4u);
  for (int i = 0; i < 4; ++i) {
    EXPECT_NEAR(s->CaretX()[i], 16 * i / cDpm, 1e-4);
    EXPECT_EQ(s->CaretLine()[i], 0);
  }
  s->SetAutoSize(false);
  s->SetDocWidth(20);
  s->SetAlignment(platform::taRightJustify);
  s->TextOrigin();
  EXPECT_NEAR(s->CaretX()[3], 20, 1e-4);
  s->SetAlignment(platform::taCenter);
  s->TextOrigin();
  EXPECT_NEAR(s->CaretX()[0], (20 - 48 / cDpm) / 2, 1e-4);
  // One caret position per character, however many bytes it takes.
  s->SetText("\xC3\xA9z\xE2\x82\xAC");
  s->SetAlignment(platform::taLeftJustify);
  s->TextOrigin();
  ASSERT_EQ(s->CaretX().size(), 4u);
  EXPECT_NEAR(s->CaretX()[1], 16 / cDpm, 1e-4);
  EXPECT_NEAR(s->CaretX()[2], 32 / cDpm, 1e-4);
  EXPECT_NEAR(s->CaretX()[3], 48 / cDpm, 1e-4);
}

TEST_F(TextShapeTest, EditingEscapeRestoresEnterKeeps) {
  auto s = Make("abc");
  doc.Shape = s.get();
  s->StartEdit();
  ASSERT_TRUE(s->Editing());
  EXPECT_EQ(s->CaretIndex(), 3);
  platform::TKeyChar c = 'x';
  s->KeyPressHook(c);
  EXPECT_EQ(s->Text(), "abcx");
  EXPECT_EQ(s->CaretIndex(), 4);
  EXPECT_EQ(s->CaretX().size(), 5u);
  uint16_t k = 37;
  s->KeyDownHook(k, platform::ssShift);
  EXPECT_EQ(s->SelStart(), 3);
  EXPECT_EQ(s->SelLength(), 1);
  k = 27;
  s->KeyDownHook(k, 0);
  EXPECT_FALSE(s->Editing());
  EXPECT_EQ(s->Text(), "abc");
  ASSERT_EQ(doc.Ends.size(), 1u);
  EXPECT_FALSE(doc.Ends[0]);

  s->StartEdit();
  c = 'y';
  s->KeyPressHook(c);
  k = 13;
  s->KeyDownHook(k, 0);
  EXPECT_FALSE(s->Editing());
  EXPECT_EQ(s->Text(), "abcy");
  EXPECT_TRUE(doc.Ends.back());

  // Double click puts the caret at the end.
  s->StartEdit();
  k = 36;
  s->KeyDownHook(k, 0);
  EXPECT_EQ(s->CaretIndex(), 0);
  s->DblClickHook();
  EXPECT_EQ(s->CaretIndex(), 4);
  s->EndEdit(true);

  // A shape that takes no hits refuses editing at once.
  s->SetHitTestEnabled(false);
  doc.Ends.clear();
  s->StartEdit();
  EXPECT_FALSE(s->Editing());
  ASSERT_EQ(doc.Ends.size(), 1u);
  EXPECT_FALSE(doc.Ends[0]);
}

TEST_F(TextShapeTest, OutlineShowsCaretAndSelectionWhileEditing) {
  auto s = Make("abc");
  doc.Shape = s.get();
  auto paint = [&](TBitmap32& Out) {
    Out.SetSize(120, 60);
    Out.Clear(0xFFFFFFFFu);
    detail::TBitmap32Canvas canvas(&Out);
    // Through the base class, as the view calls it.
    static_cast<TdtpShape*>(s.get())->PaintOutline(canvas.Canvas());
    canvas.Release();
  };
  auto count = [](TBitmap32& B, int32_t X0, int32_t X1, int32_t Y0, int32_t Y1, TColor32 C) {
    int n = 0;
    for (int32_t y = Y0; y < Y1; ++y)
      for (int32_t x = X0; x < X1; ++x) n += (B.Pixel(x, y) & 0xFFFFFFu) == C;
    return n;
  };
  TBitmap32 out;
  paint(out);
  EXPECT_EQ(count(out, 0, 120, 0, 60, 0x000080u), 0);  // not editing: no caret but the handles
  EXPECT_LT(count(out, 0, 120, 0, 60, 0xFFFFFFu), 120 * 60 - 20);
  s->StartEdit();
  paint(out);
  // The caret after "abc" at 48 px, one line pitch (1.2 * 25 px) high, in $800000.
  EXPECT_GT(count(out, 46, 50, 2, 28, 0x000080u), 30);
  EXPECT_EQ(count(out, 0, 44, 0, 60, 0x000080u), 0);
  EXPECT_EQ(count(out, 0, 120, 34, 60, 0x000080u), 0);
  uint16_t k = 36;
  s->KeyDownHook(k, platform::ssShift);  // select all, caret at 0
  paint(out);
  EXPECT_GT(count(out, 2, 46, 2, 28, 0x808080u), 40);
  EXPECT_EQ(count(out, 52, 120, 0, 60, 0x808080u), 0);
  s->SetMirrored(true);
  paint(out);
  EXPECT_GT(count(out, 0, 120, 2, 28, 0x000080u), 30);
  s->EndEdit(true);
}

TEST_F(TextShapeTest, SettersRecordUndoAndPropertiesByName) {
  auto s = Make("abc");
  doc.Commands.clear();
  s->SetText("abc");
  EXPECT_TRUE(doc.Commands.empty());
  s->SetText("de");
  ASSERT_FALSE(doc.Commands.empty());
  EXPECT_EQ(doc.Commands[0]->Name, "Text");
  EXPECT_EQ(doc.Commands[0]->Value, "abc");
  s->SetPropertyByName("fontheight", "8.5");
  EXPECT_FLOAT_EQ(s->FontHeight(), 8.5f);
  s->SetPropertyByName("TEXT", "hello");
  EXPECT_EQ(s->Text(), "hello");
  s->SetPropertyByName("FontName", "Arial");
  EXPECT_EQ(s->FontName(), "Arial");
  s->SetPropertyByName("FontStyle", "BI");
  EXPECT_EQ(s->FontStyle(), 3);
  s->SetPropertyByName("FontColor", "255");
  EXPECT_EQ(s->FontColor(), 255);
  s->SetPropertyByName("AutoSize", "False");
  EXPECT_FALSE(s->AutoSize());
  bool sawStyle = false;
  for (auto& c : doc.Commands) sawStyle |= c->Name == "FontStyle" && c->Value.empty();
  EXPECT_TRUE(sawStyle);
}

TEST_F(TextShapeTest, XmlRoundTrip) {
  auto s = Make("Hallo <wereld> & co");
  s->SetFontHeight(7.25f);
  s->SetFontName("Arial");
  s->SetFontStyle(1);
  s->SetFontColor(0x00FF00);
  TXmlDocument xml;
  xml.Root()->SetName("Shape");
  s->SaveToXml(xml.Root());
  ASSERT_NE(xml.Root()->NodeByName("Text"), nullptr);
  ASSERT_NE(xml.Root()->NodeByName("Font"), nullptr);
  ASSERT_NE(xml.Root()->NodeByName("FontHeight"), nullptr);
  TXmlDocument again;
  again.ReadFromString(xml.WriteToString());
  auto t = NewShape<TdtpTextShape>();
  t->LoadFromXml(again.Root());
  EXPECT_EQ(t->Text(), "Hallo <wereld> & co");
  EXPECT_FLOAT_EQ(t->FontHeight(), 7.25f);
  EXPECT_EQ(t->FontName(), "Arial");
  EXPECT_EQ(t->FontStyle(), 1);
  EXPECT_EQ(t->FontColor(), 0x00FF00);
  EXPECT_EQ(t->Color(), 0x00FF00);
  EXPECT_NEAR(t->DocWidth(), s->DocWidth(), 1e-4);

  // Missing elements read as empty and 0.
  TXmlDocument bare;
  bare.Root()->SetName("Shape");
  auto u = NewShape<TdtpTextShape>();
  u->LoadFromXml(bare.Root());
  EXPECT_EQ(u->Text(), "");
  EXPECT_FLOAT_EQ(u->FontHeight(), 0);
  TBitmap32 bmp;
  bmp.SetSize(4, 4);
  u->PaintShape(&bmp);  // a zero font height paints without trouble

  // Out-of-range heights read as 0; absurd sizes set later are bounded when painting.
  bare.Root()->WriteString("FontHeight", "1e300");
  u->LoadFromXml(bare.Root());
  EXPECT_FLOAT_EQ(u->FontHeight(), 0);
  u->SetPropertyByName("FontHeight", "-5");
  EXPECT_EQ(u->ScaledFontHeight(), 1);
  u->SetPropertyByName("FontHeight", "1e30");
  EXPECT_EQ(u->ScaledFontHeight(), 200 * 2000);
  u->SetText(std::string(100000, 'w'));
  u->PaintShape(&bmp);
}

TEST_F(TextShapeTest, AlignmentAndAutoSizeAreStored) {
  const platform::TAlignment aligns[] = {platform::taLeftJustify, platform::taRightJustify, platform::taCenter};
  for (uint8_t writeDefaults : {uint8_t(1), uint8_t(0)})
    for (platform::TAlignment a : aligns)
      for (bool autoSize : {true, false}) {
        SCOPED_TRACE(std::to_string(int(writeDefaults)) + " " + std::to_string(int(a)) + " " + std::to_string(autoSize));
        auto s = Make<TBoxText>("Rechts");
        s->SetAlignment(a);
        s->SetAutoSize(autoSize);
        if (!autoSize) s->SetBox(50, 9);
        TXmlDocument xml("Shape");
        xml.SetWriteOnDefault(writeDefaults);
        s->SaveToXml(xml.Root());
        // Default values are not written: files of left-aligned autosized texts stay as they were.
        EXPECT_EQ(xml.Root()->NodeByName("Alignment") != nullptr, a != platform::taLeftJustify);
        EXPECT_EQ(xml.Root()->NodeByName("AutoSize") != nullptr, !autoSize);
        TXmlDocument again;
        again.ReadFromString(xml.WriteToString());
        auto t = NewShape<TdtpTextShape>();
        t->LoadFromXml(again.Root());
        EXPECT_EQ(t->Alignment(), a);
        EXPECT_EQ(t->AutoSize(), autoSize);
        EXPECT_FLOAT_EQ(t->DocWidth(), s->DocWidth());
        EXPECT_FLOAT_EQ(t->DocHeight(), s->DocHeight());
      }
  // Stored values that are not an alignment read as left.
  for (const char* bad : {"7", "-1", "x"}) {
    TXmlDocument xml("Shape");
    xml.Root()->WriteString("Alignment", bad);
    auto t = NewShape<TdtpTextShape>();
    t->LoadFromXml(xml.Root());
    EXPECT_EQ(t->Alignment(), platform::taLeftJustify) << bad;
    EXPECT_TRUE(t->AutoSize());
  }
}

TEST_F(TextShapeTest, UndoOfDeletionKeepsAlignmentAndAutoSize) {
  auto group = NewShape<TdtpShape>();
  group->SetDocument(&doc);
  auto s = Make<TBoxText>("Midden");
  s->SetAlignment(platform::taCenter);
  s->SetAutoSize(false);
  s->SetBox(60, 10);
  group->AddShape(std::move(s));
  doc.Commands.clear();
  group->DeleteShape(0);
  ASSERT_EQ(doc.Commands.size(), 1u);
  doc.UndoLock++;
  EXPECT_TRUE(group->ExecuteCommand(doc.Commands[0].get()));
  doc.UndoLock--;
  ASSERT_EQ(group->GetShapeCount(), 1);
  auto* t = dynamic_cast<TdtpTextShape*>(group->GetShape(0));
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->Alignment(), platform::taCenter);
  EXPECT_FALSE(t->AutoSize());
  EXPECT_FLOAT_EQ(t->DocWidth(), 60);
  EXPECT_FLOAT_EQ(t->DocHeight(), 10);
}

// AutoSize is stored, so switching it either way is a change a save in place writes, also when
// the box does not move.
TEST_F(TextShapeTest, AutoSizeChangeIsSavedInPlace) {
  InitializeDtpMemoShape();
  auto s = Make("Vast");
  for (bool value : {false, true, false}) {
    s->SetModified(false);
    doc.Modified = false;
    const float w = s->DocWidth(), h = s->DocHeight();
    s->SetAutoSize(value);
    EXPECT_FLOAT_EQ(s->DocWidth(), w);
    EXPECT_FLOAT_EQ(s->DocHeight(), h);
    EXPECT_TRUE(s->Modified()) << value;
    EXPECT_TRUE(doc.Modified) << value;
  }
  // Through a document: opened, switched off by code, saved in place, read back.
  const std::string file = kdtest::TempDir() + "/autosize.hsf";
  for (int memo : {0, 1}) {
    SCOPED_TRACE(memo);
    {
      TdtpComponent writer(nullptr);
      std::unique_ptr<TdtpTextShape> t;
      if (memo)
        t = NewShape<TdtpMemoShape>();
      else
        t = NewShape<TdtpTextShape>();
      t->SetText("Hallo");
      writer.GetPage(0)->AddShape(std::move(t));
      writer.SaveToFile(file);
    }
    TdtpComponent opened(nullptr);
    opened.LoadFromFile(file);
    dynamic_cast<TdtpTextShape*>(opened.GetPage(0)->GetShape(0))->SetAutoSize(false);
    EXPECT_TRUE(opened.Modified());
    opened.SaveToFile(file);
    TdtpComponent back(nullptr);
    back.LoadFromFile(file);
    EXPECT_FALSE(dynamic_cast<TdtpTextShape*>(back.GetPage(0)->GetShape(0))->AutoSize());
  }
}

}  // namespace

// A turned text keeps its right edge (right-aligned) or its centre (centred) where it was: the
// box grows and shrinks along the text's own direction, not the page's.
TEST_F(TextShapeTest, TurnedTextKeepsItsAlignedEdge) {
  for (float angle : {90.0f, 30.0f, 200.0f}) {
    for (platform::TAlignment a : {platform::taRightJustify, platform::taCenter, platform::taLeftJustify}) {
      SCOPED_TRACE(std::to_string(angle) + " " + std::to_string(int(a)));
      auto s = Make("abcd");
      s->SetAlignment(a);
      s->SetDocLeft(50);
      s->SetDocTop(60);
      s->SetDocAngle(angle);
      const double rad = angle * 3.14159265358979323846 / 180, c = std::cos(rad), sn = std::sin(rad);
      // The point on the top edge that stays: the right corner, the middle or the left corner.
      const double f = a == platform::taRightJustify ? 1 : a == platform::taCenter ? 0.5 : 0;
      auto anchor = [&] {
        const double x = f * s->DocWidth();
        return std::pair<double, double>{s->DocLeft() + c * x, s->DocTop() - sn * x};
      };
      const auto before = anchor();
      s->SetText("abcdefgh");
      EXPECT_GT(s->DocWidth(), 100 / cDpm);
      EXPECT_NEAR(anchor().first, before.first, 1e-4);
      EXPECT_NEAR(anchor().second, before.second, 1e-4);
      s->SetText("a");
      EXPECT_NEAR(anchor().first, before.first, 1e-4);
      EXPECT_NEAR(anchor().second, before.second, 1e-4);
      EXPECT_FLOAT_EQ(s->DocAngle(), angle);
    }
  }
}

// The text is drawn in the shape's box: paint outsets around it (as effects like a shadow add)
// enlarge the buffer but do not move the text away from its box, its caret and its outline.
TEST_F(TextShapeTest, TextStaysInItsBoxWhenTheBufferHasOutsets) {
  for (float angle : {0.0f, 90.0f}) {
    SCOPED_TRACE(angle);
    // Where the ink lies, relative to the box's top-left corner, in buffer pixels.
    auto inkOffset = [&](float Outset) {
      auto s = Make("ab");
      s->SetSmartHitTest(false);
      s->SetDocAngle(angle);
      s->SetPaintOutsets(Outset, Outset + 1, Outset, Outset + 1);
      s->UpdateBuffer();
      const TBitmap32* b = s->Buffer();
      EXPECT_NE(b, nullptr);
      if (!b) return std::pair<int, int>{0, 0};
      int minX = b->Width(), minY = b->Height();
      for (int32_t y = 0; y < b->Height(); ++y)
        for (int32_t x = 0; x < b->Width(); ++x)
          if ((b->Pixel(x, y) >> 24) > 128) {
            minX = std::min(minX, int(x));
            minY = std::min(minY, int(y));
          }
      // The box corner nearest the buffer's origin: (0, 0) upright, (0, W) when turned 90.
      const TdtpFloatPoint o = MapPoint(s->BufferMatrix(), 0, angle == 0 ? 0 : s->DocWidth());
      return std::pair<int, int>{minX - int(std::lround(o.X)), minY - int(std::lround(o.Y))};
    };
    const auto plain = inkOffset(0), wide = inkOffset(3);
    EXPECT_NEAR(wide.first, plain.first, 1);
    EXPECT_NEAR(wide.second, plain.second, 1);
  }
}

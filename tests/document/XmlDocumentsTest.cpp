#include "document/XmlDocuments.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <random>
#include <set>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <atomic>
#include <vector>

#include "document/XmlDocumentsPriv.h"
#include "platform/Colors.h"
#include "platform/SysUtils.h"
#include "tests/common/TestSupport.h"

using namespace document;
using platform::TMemoryStream;
using platform::TStringStream;

namespace {

std::string Bytes(TMemoryStream& s) {
  return std::string(static_cast<const char*>(s.Memory()), static_cast<size_t>(s.Size()));
}

std::string Saved(const TXmlDocument& doc) {
  TMemoryStream s;
  doc.SaveToStream(&s);
  return Bytes(s);
}

void Load(TXmlDocument& doc, const std::string& bytes) {
  TStringStream s(bytes);
  doc.LoadFromStream(&s);
}

std::unique_ptr<TXmlDocument> PageDocument(uint8_t format) {
  auto doc = std::make_unique<TXmlDocument>("Page");
  doc->SetXmlFormat(format);
  doc->Root()->WriteInteger("Index", 1, 0);
  return doc;
}

// Expects the call to raise exactly the exception type E with the message.
template <class E, class F>
void ExpectRaise(F f, const std::string& message) {
  try {
    f();
    ADD_FAILURE() << "no exception, expected: " << message;
  } catch (const E& e) {
    EXPECT_EQ(e.Message, message);
  } catch (const std::exception& e) {
    ADD_FAILURE() << "wrong exception: " << e.what();
  }
}

template <class F>
void ExpectFilerError(F f, const std::string& message) {
  ExpectRaise<platform::EFilerError>(f, message);
}

}  // namespace

// --- layouts -------------------------------------------------------------------------------

TEST(XmlDocuments, GoldenTextIndented) {
  EXPECT_EQ(Saved(*PageDocument(xfIndented)),
            "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n"
            "<Page>\r\n"
            "  <Index>1</Index>\r\n"
            "</Page>");
}

TEST(XmlDocuments, GoldenTextCompact) {
  EXPECT_EQ(Saved(*PageDocument(xfCompact)),
            "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n<Page><Index>1</Index></Page>");
}

TEST(XmlDocuments, GoldenTextLinefeeds) {
  EXPECT_EQ(Saved(*PageDocument(xfLinefeed)),
            "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n<Page>\n<Index>1</Index>\n</Page>");
}

TEST(XmlDocuments, GoldenTextDeeperIndentAndSelfClosing) {
  TXmlDocument doc("Document");
  doc.SetXmlFormat(xfIndented);
  TXmlNode* shape = doc.Root()->NodeNew("Shape");
  shape->WriteAttributeInteger("Index", 1);
  shape->WriteString("Name", "a");
  shape->NodeNew("Empty");
  doc.Root()->NodeNew("Tail");
  EXPECT_EQ(doc.WriteToString(),
            "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n"
            "<Document>\r\n"
            "  <Shape Index=\"1\">\r\n"
            "    <Name>a</Name>\r\n"
            "    <Empty/>\r\n"
            "  </Shape>\r\n"
            "  <Tail/>\r\n"
            "</Document>");
  // A node written on its own keeps the indentation of its depth.
  EXPECT_EQ(shape->GetNode(1)->WriteToString(), "    <Empty/>");
}

TEST(XmlDocuments, HeaderWithStylesheetAndComments) {
  TXmlDocument doc("R");
  doc.SetStylesheet("type=\"text/xsl\" href=\"s.xsl\"");
  doc.RootComments() = {"one & two", "", "three"};
  EXPECT_EQ(doc.WriteToString(),
            "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n"
            "<?xml-stylesheet type=\"text/xsl\" href=\"s.xsl\"?>\n<!--one &amp; two-->\n<!--three-->\n<R/>");
  TXmlDocument back;
  back.ReadFromString(doc.WriteToString());
  EXPECT_EQ(back.Stylesheet(), doc.Stylesheet());
  EXPECT_EQ(back.RootComments(), (std::vector<std::string>{"one & two", "three"}));
  EXPECT_EQ(back.Root()->Name(), "R");
}

TEST(XmlDocuments, EveryLayoutReadsBackTheSameTree) {
  for (uint8_t format : {xfIndented, xfCompact, xfLinefeed}) {
    SCOPED_TRACE(int(format));
    TXmlDocument doc("Page");
    doc.SetXmlFormat(format);
    doc.Root()->SetValueAsString("page text");
    TXmlNode* s = doc.Root()->NodeNew("Shape");
    s->SetValueAsString("line1\r\nline2\n  indented");
    s->NodeNew("Child")->SetValueAsString("x");
    doc.Root()->WriteString("Leaf", "  two\r\nlines  ");
    TXmlDocument back;
    back.ReadFromString(doc.WriteToString());
    back.SetXmlFormat(format);
    EXPECT_EQ(back.Root()->ValueAsString(), "page text");
    EXPECT_EQ(back.Root()->NodeByName("shape")->ValueAsString(), "line1\r\nline2\n  indented");
    EXPECT_EQ(back.Root()->ReadString("Leaf"), "  two\r\nlines  ");
    EXPECT_EQ(back.Root()->NodeByName("Shape")->ReadString("Child"), "x");
    EXPECT_EQ(back.WriteToString(), doc.WriteToString());
  }
}

// A value ending in line-break characters right before the first child must not merge with
// the layout break written after it.
TEST(XmlDocuments, ValueEndingInLineBreaksBeforeChildrenReadsBack) {
  for (uint8_t format : {xfIndented, xfCompact, xfLinefeed}) {
    for (const char* value : {"\r", "\r\r", "\n", "x\r", "\r\n", "\n\r", "a \r "}) {
      SCOPED_TRACE(testing::Message() << int(format) << " " << testing::PrintToString(std::string(value)));
      TXmlDocument doc("Page");
      doc.SetXmlFormat(format);
      doc.Root()->SetValueAsString(value);
      doc.Root()->WriteString("Index", "0");
      TXmlDocument back;
      back.ReadFromString(doc.WriteToString());
      back.SetXmlFormat(format);
      EXPECT_EQ(back.Root()->ValueAsString(), value);
      EXPECT_EQ(back.WriteToString(), doc.WriteToString());
    }
  }
}

// --- escaping ------------------------------------------------------------------------------

TEST(XmlDocuments, EscapingRoundTrips) {
  EXPECT_EQ(XmlEscape("a<b & 'c' \"d\" >"), "a&lt;b &amp; &apos;c&apos; &quot;d&quot; &gt;");
  EXPECT_EQ(XmlUnescape("a&lt;b &amp; &apos;c&apos; &quot;d&quot; &gt;"), "a<b & 'c' \"d\" >");
  // One pass: an escaped entity stays an entity.
  EXPECT_EQ(XmlUnescape("&amp;lt;"), "&lt;");
  EXPECT_EQ(XmlUnescape("&amp;amp;"), "&amp;");
  EXPECT_EQ(XmlUnescape("& &x; &#38; &am"), "& &x; &#38; &am");

  TXmlDocument doc("R");
  doc.Root()->WriteString("V", "<, & and '");
  EXPECT_EQ(doc.Root()->NodeByName("V")->Value(), "&lt;, &amp; and &apos;");
  EXPECT_NE(doc.WriteToString().find("<V>&lt;, &amp; and &apos;</V>"), std::string::npos);
  TXmlDocument back;
  back.ReadFromString(doc.WriteToString());
  EXPECT_EQ(back.Root()->ReadString("V"), "<, & and '");
  for (const std::string s : {"&lt;", "&amp;amp;", "<<>>''\"\"&&", "plain"}) {
    doc.Root()->WriteString("W", s);
    back.ReadFromString(doc.WriteToString());
    EXPECT_EQ(back.Root()->ReadString("W"), s);
  }
}

TEST(XmlDocuments, AttributesQuotedEscapedAndSpacedAroundEquals) {
  TXmlNode n;
  n.SetName("E");
  n.WriteAttributeString("a", "x<y");
  n.WriteAttributeString("b", "say \"hi\"");
  n.WriteAttributeInteger("A", 7);  // replaces "a": names ignore case
  EXPECT_EQ(n.Attributes(), (std::vector<std::string>{"A=\"7\"", "b=\"say &quot;hi&quot;\""}));
  EXPECT_EQ(n.GetAttributesText(), " A=\"7\" b=\"say &quot;hi&quot;\"");
  EXPECT_EQ(n.ReadAttributeString("B"), "say \"hi\"");
  EXPECT_EQ(n.ReadAttributeInteger("a", -1), 7);
  EXPECT_EQ(n.ReadAttributeInteger("missing", -1), -1);
  EXPECT_TRUE(n.HasAttribute("b"));
  EXPECT_FALSE(n.HasAttribute("c"));

  TXmlNode p;
  p.ReadFromString("<E a = \"1 2\"\tb= '3' c =\"4\"\r\nd/>");
  EXPECT_EQ(p.Kind(), xnClosedElement);
  EXPECT_EQ(p.Name(), "E");
  EXPECT_EQ(p.Attributes(), (std::vector<std::string>{"a=\"1 2\"", "b='3'", "c=\"4\"", "d"}));
  EXPECT_EQ(p.ReadAttributeString("a"), "1 2");
  EXPECT_EQ(p.ReadAttributeInteger("b", 0), 3);
  p.ClearAttributes();
  EXPECT_TRUE(p.HasNoContent());
  EXPECT_FALSE(p.IsEmpty());
}

// --- typed values --------------------------------------------------------------------------

TEST(XmlDocuments, BooleansIntegersAndHex) {
  TXmlDocument doc("R");
  TXmlNode* r = doc.Root();
  r->WriteBool("B", true);
  EXPECT_EQ(r->NodeByName("B")->Value(), "True");
  r->WriteBool("B", false, true);
  EXPECT_EQ(r->NodeByName("B")->Value(), "False");
  for (const char* t : {"true", "TRUE", "True", "tRuE"}) {
    r->NodeFindOrCreate("T")->SetValue(t);
    EXPECT_TRUE(r->ReadBool("T", false)) << t;
  }
  for (const char* t : {"false", "FALSE"}) {
    r->NodeFindOrCreate("T")->SetValue(t);
    EXPECT_FALSE(r->ReadBool("T", true)) << t;
  }
  for (const char* t : {"1", "yes", "", " true"}) {
    r->NodeFindOrCreate("T")->SetValue(t);
    EXPECT_TRUE(r->ReadBool("T", true)) << t;
    EXPECT_FALSE(r->ReadBool("T", false)) << t;
  }
  EXPECT_TRUE(r->ReadBool("Missing", true));

  r->WriteInteger("I", -42);
  EXPECT_EQ(r->NodeByName("I")->Value(), "-42");
  EXPECT_EQ(r->ReadInteger("I"), -42);
  EXPECT_EQ(r->ReadInteger("Missing", 9), 9);
  r->WriteHex("H", 255, 4, 0);
  EXPECT_EQ(r->NodeByName("H")->Value(), "$00FF");
  EXPECT_EQ(r->ReadInteger("H"), 255);
  r->WriteHex("H", -1, 2, 0);
  EXPECT_EQ(r->NodeByName("H")->Value(), "$FFFFFFFF");
  EXPECT_EQ(r->ReadInteger("H"), -1);
  r->NodeFindOrCreate("Bad")->SetValue("12x");
  EXPECT_EQ(r->ReadIntegerDef("Bad", 5), 5);
  EXPECT_EQ(r->ReadIntegerDef("Missing", 6), 6);
  EXPECT_EQ(r->ReadIntegerDef("I", 6), -42);
  EXPECT_EQ(r->NodeByName("I")->ValueAsInteger(0), -42);
}

TEST(XmlDocuments, ReadIntegerRaisesConversionError) {
  TXmlDocument doc("R");
  doc.Root()->NodeNew("Bad")->SetValue("12x");
  ExpectRaise<platform::EConvertError>([&] { doc.Root()->ReadInteger("Bad", 0); },
                                       "'12x' is not a valid integer value");
  doc.Root()->NodeNew("Empty");
  ExpectRaise<platform::EConvertError>([&] { doc.Root()->ReadInteger("Empty", 3); },
                                       "'' is not a valid integer value");
}

TEST(XmlDocuments, ColoursAreWrittenAsBgrHex) {
  TXmlDocument doc("R");
  doc.Root()->WriteColor("Red", platform::clRed);
  doc.Root()->WriteColor("Face", platform::clBtnFace);
  doc.Root()->WriteColor("Black", platform::clBlack);
  EXPECT_EQ(doc.Root()->NodeByName("Red")->Value(), "$000000FF");
  EXPECT_EQ(doc.Root()->NodeByName("Face")->Value(),
            "$" + platform::IntToHex(platform::ColorToRGB(platform::clBtnFace), 8));
  EXPECT_EQ(doc.Root()->ReadInteger("Red"), 0xFF);
  EXPECT_EQ(doc.Root()->NodeByName("Black")->Value(), "$00000000");
  doc.SetWriteOnDefault(0);
  doc.Root()->WriteColor("Black2", platform::clBlack);
  EXPECT_EQ(doc.Root()->NodeByName("Black2"), nullptr);
}

TEST(XmlDocuments, Floats) {
  TXmlDocument doc("R");
  TXmlNode* r = doc.Root();
  struct Case {
    long double value;
    const char* text;
  };
  for (const Case& c : {Case{12.5L, "12.5"}, Case{0.1f, "0.100000001490116"}, Case{0.1, "0.1"},
                        Case{-3.0L, "-3"}, Case{1e-5L, "1E-5"}, Case{1.5e20L, "1.5E20"}, Case{0, "0"}}) {
    r->WriteFloat("F", c.value);
    EXPECT_EQ(r->NodeByName("F")->Value(), c.text);
  }
  r->WriteFloat("G", 37.7952766418457f);
  EXPECT_EQ(static_cast<float>(r->ReadFloat("G")), 37.7952766418457f);
  r->WriteFloat("G", 0.1f);
  EXPECT_EQ(static_cast<float>(r->ReadFloat("G")), 0.1f);
  r->NodeFindOrCreate("C")->SetValue("12,5");
  EXPECT_DOUBLE_EQ(r->ReadFloat("C", -1), 12.5);
  r->NodeFindOrCreate("C")->SetValue("1,2,3");
  EXPECT_DOUBLE_EQ(r->ReadFloat("C", -1), -1);
  r->NodeFindOrCreate("C")->SetValue("abc");
  EXPECT_DOUBLE_EQ(r->ReadFloat("C", 7), 7);
  EXPECT_DOUBLE_EQ(r->ReadFloat("Missing", 8), 8);
  r->NodeFindOrCreate("C")->SetValue("1E400");  // beyond a double
  EXPECT_DOUBLE_EQ(r->ReadFloat("C", 4), 4);
  r->NodeFindOrCreate("C")->SetValue("-2.5E3");
  EXPECT_DOUBLE_EQ(r->NodeByName("C")->ValueAsFloat(0), -2500);
}

TEST(XmlDocuments, DateTimes) {
  TXmlDocument doc("R");
  TXmlNode* r = doc.Root();
  // 2024-02-29 is day 45351 after 1899-12-30.
  r->WriteDateTime("D", 45351.0);
  EXPECT_EQ(r->NodeByName("D")->Value(), "2024-02-29");
  EXPECT_DOUBLE_EQ(r->ReadDateTime("D"), 45351.0);
  const double t = 45351.0 + (13 * 3600 + 5 * 60 + 9 + 0.123) / 86400.0;
  r->WriteDateTime("T", t);
  EXPECT_EQ(r->NodeByName("T")->Value(), "2024-02-29T13:05:09.123Z");
  EXPECT_NEAR(r->ReadDateTime("T"), t, 1e-9);
  r->WriteDateTime("Z", 0.5);
  EXPECT_EQ(r->NodeByName("Z")->Value(), "1899-12-30T12:00:00.000Z");
  r->WriteDateTime("N", -1.25);
  EXPECT_EQ(r->NodeByName("N")->Value(), "1899-12-29T06:00:00.000Z");
  EXPECT_DOUBLE_EQ(r->ReadDateTime("N"), -1.25);

  struct Case {
    const char* text;
    double expected;
  };
  const double def = -99;
  for (const Case& c : {
           Case{"2000-01-01", 36526},
           Case{"2000-01-01T06:00", 36526.25},           // 16 characters: the time is ignored
           Case{"2000-01-01T06:00Z", 36526.25},          // seconds not a number: 0
           Case{"2000-01-01T06:00:30", 36526.25 + 30 / 86400.0},
           Case{"2000-01-01T06:00:xx.500Z", 36526.25 + 0.5 / 86400.0},
           Case{"2000-13-01", def},
           Case{"2001-02-29", def},
           Case{"2000-01-01T24:00:00.000Z", def},
           Case{"2000-01-01T06:60:00.000Z", def},
           Case{"20x0-01-01", def},
           Case{"2000-01", def},
           Case{"", def},
       }) {
    r->NodeFindOrCreate("P")->SetValue(c.text);
    if (c.text == std::string("2000-01-01T06:00"))
      EXPECT_DOUBLE_EQ(r->ReadDateTime("P", def), 36526) << c.text;
    else
      EXPECT_NEAR(r->ReadDateTime("P", def), c.expected, 1e-9) << c.text;
  }
  EXPECT_DOUBLE_EQ(r->ReadDateTime("Missing", 5), 5);
}

TEST(XmlDocuments, WriteOnDefaultZeroOmitsDefaults) {
  TXmlDocument doc("R");
  doc.SetWriteOnDefault(0);
  TXmlNode* r = doc.Root();
  r->WriteInteger("X", 5, 5);
  EXPECT_EQ(r->NodeByName("X"), nullptr);
  r->WriteBool("B", false);
  r->WriteFloat("F", 0.0f);
  r->WriteString("S", "");
  r->WriteHex("H", 3, 2, 3);
  r->WriteDateTime("D", 0);
  EXPECT_EQ(r->GetNodeCount(), 0);
  r->WriteInteger("X", 6, 5);
  EXPECT_EQ(r->ReadInteger("X"), 6);
  // A value back at its default leaves the existing text alone.
  r->WriteInteger("X", 5, 5);
  EXPECT_EQ(r->ReadInteger("X"), 6);
  doc.SetWriteOnDefault(1);
  r->WriteInteger("X", 5, 5);
  EXPECT_EQ(r->ReadInteger("X"), 5);
  // Nodes without a document always write.
  TXmlNode loose;
  loose.WriteInteger("X", 5, 5);
  EXPECT_EQ(loose.ReadInteger("X"), 5);
}

namespace {
// Shapes of the class library's font, pen and brush, for the adapters.
struct FakeStyles {
  uint8_t b = 0;
  uint8_t Bits() const { return b; }
  static FakeStyles FromBits(uint8_t v) { return FakeStyles{v}; }
};
struct FakeFont {
  std::string name = "MS Sans Serif";
  TColor color = 0x123;
  int32_t size = 8;
  FakeStyles style{1};
  const std::string& Name() const { return name; }
  void SetName(const std::string& v) { name = v; }
  TColor Color() const { return color; }
  void SetColor(TColor v) { color = v; }
  int32_t Size() const { return size; }
  void SetSize(int32_t v) { size = v; }
  FakeStyles Style() const { return style; }
  void SetStyle(FakeStyles v) { style = v; }
};
enum class FakePenMode { pmBlack, pmWhite, pmNop, pmNot, pmCopy, pmXor = 9 };
enum class FakePenStyle { psSolid, psDash };
struct FakePen {
  TColor color = 0;
  FakePenMode mode = FakePenMode::pmCopy;
  FakePenStyle style = FakePenStyle::psSolid;
  int32_t width = 1;
  TColor Color() const { return color; }
  void SetColor(TColor v) { color = v; }
  FakePenMode Mode() const { return mode; }
  void SetMode(FakePenMode v) { mode = v; }
  FakePenStyle Style() const { return style; }
  void SetStyle(FakePenStyle v) { style = v; }
  int32_t Width() const { return width; }
  void SetWidth(int32_t v) { width = v; }
};
enum class FakeBrushStyle { bsSolid, bsClear };
struct FakeBrush {
  TColor color = 0xFFFFFF;
  FakeBrushStyle style = FakeBrushStyle::bsSolid;
  TColor Color() const { return color; }
  void SetColor(TColor v) { color = v; }
  FakeBrushStyle Style() const { return style; }
  void SetStyle(FakeBrushStyle v) { style = v; }
};
}  // namespace

TEST(XmlDocuments, FontElement) {
  TXmlDocument doc("R");
  TXmlFontValues f;
  f.Name = "Liberation Serif";
  f.Color = platform::clRed;
  f.Size = 20;
  f.Italic = true;
  f.Strikeout = true;
  doc.Root()->WriteFont("Font", f);
  EXPECT_EQ(doc.Root()->NodeByName("Font")->WriteToString(),
            "<Font><Name>Liberation Serif</Name><Color>$000000FF</Color><Size>20</Size><Bold>False</Bold>"
            "<Italic>True</Italic><Underline>False</Underline><Strikeout>True</Strikeout></Font>");
  TXmlFontValues g;
  g.Bold = true;
  doc.Root()->ReadFont("font", g);
  EXPECT_EQ(g.Name, "Liberation Serif");
  EXPECT_EQ(g.Color, 0xFF);
  EXPECT_EQ(g.Size, 20);
  EXPECT_FALSE(g.Bold);
  EXPECT_TRUE(g.Italic);
  EXPECT_FALSE(g.Underline);
  EXPECT_TRUE(g.Strikeout);

  // Without the element: Arial, black, 14, no style.
  TXmlFontValues h{"X", 5, 9, true, true, true, true};
  doc.Root()->ReadFont("Missing", h);
  EXPECT_EQ(h.Name, "Arial");
  EXPECT_EQ(h.Color, 0);
  EXPECT_EQ(h.Size, 14);
  EXPECT_FALSE(h.Bold || h.Italic || h.Underline || h.Strikeout);

  // Write-on-default 0 leaves out what the reader assumes anyway.
  TXmlDocument quiet("R");
  quiet.SetWriteOnDefault(0);
  quiet.Root()->WriteFont("Font", TXmlFontValues{});
  EXPECT_EQ(quiet.Root()->NodeByName("Font")->WriteToString(), "<Font/>");
  TXmlFontValues k{"X", 5, 9, true, true, true, true};
  quiet.Root()->ReadFont("Font", k);
  EXPECT_EQ(k.Name, "Arial");
  EXPECT_EQ(k.Size, 14);

  // The class library's font passes straight through.
  FakeFont font;
  doc.Root()->WriteFont("F2", &font);
  FakeFont back;
  back.style = FakeStyles{8};
  doc.Root()->ReadFont("F2", &back);
  EXPECT_EQ(back.name, "MS Sans Serif");
  EXPECT_EQ(back.color, 0x123);
  EXPECT_EQ(back.size, 8);
  EXPECT_EQ(back.style.b, 1);
}

TEST(XmlDocuments, PenAndBrushElements) {
  TXmlDocument doc("R");
  doc.SetWriteOnDefault(0);
  FakePen pen;
  pen.color = platform::clBlue;
  pen.mode = FakePenMode::pmXor;
  pen.width = 3;
  doc.Root()->WritePen("Pen", &pen);
  EXPECT_EQ(doc.Root()->NodeByName("Pen")->WriteToString(),
            "<Pen><Color>$00FF0000</Color><Mode>9</Mode><Width>3</Width></Pen>");
  FakePen pen2;
  pen2.style = FakePenStyle::psDash;
  doc.Root()->ReadPen("Pen", &pen2);
  EXPECT_EQ(pen2.color, platform::clBlue);
  EXPECT_EQ(pen2.mode, FakePenMode::pmXor);
  EXPECT_EQ(pen2.style, FakePenStyle::psSolid);
  EXPECT_EQ(pen2.width, 3);

  // A black brush must survive write-on-default 0: the reader's default colour is white.
  FakeBrush brush;
  brush.color = platform::clBlack;
  brush.style = FakeBrushStyle::bsClear;
  doc.Root()->WriteBrush("Brush", &brush);
  EXPECT_EQ(doc.Root()->NodeByName("Brush")->WriteToString(),
            "<Brush><Color>$00000000</Color><Style>1</Style></Brush>");
  FakeBrush brush2;
  doc.Root()->ReadBrush("Brush", &brush2);
  EXPECT_EQ(brush2.color, platform::clBlack);
  EXPECT_EQ(brush2.style, FakeBrushStyle::bsClear);
  doc.Root()->NodeByName("Brush")->NodesClear();
  doc.Root()->ReadBrush("Brush", &brush2);
  EXPECT_EQ(brush2.color, 0xFFFFFF);
  EXPECT_EQ(brush2.style, FakeBrushStyle::bsSolid);
  // Without the element the objects stay as they are.
  doc.Root()->ReadPen("None", &pen2);
  EXPECT_EQ(pen2.width, 3);
}

// --- tree operations -----------------------------------------------------------------------

TEST(XmlDocuments, TreeOperations) {
  TXmlDocument doc("R");
  TXmlNode* r = doc.Root();
  TXmlNode* a = r->NodeNew("Shape");
  r->NodeNew("Other");
  TXmlNode* c = r->NodeNew("SHAPE");
  EXPECT_EQ(r->NodeByName("shape"), a);
  EXPECT_EQ(r->NodeIndexByName("Other"), 1);
  EXPECT_EQ(r->NodeIndexByNameFrom("shape", 1), 2);
  EXPECT_EQ(r->NodeIndexByNameFrom("shape", 3), -1);
  EXPECT_EQ(r->NodeIndexByName("none"), -1);
  std::vector<TXmlNode*> list;
  r->NodesByName("Shape", list);
  EXPECT_EQ(list, (std::vector<TXmlNode*>{a, c}));
  EXPECT_EQ(r->NodeFindOrCreate("other"), r->GetNode(1));
  EXPECT_EQ(r->NodeFindOrCreate("New")->Parent(), r);
  EXPECT_EQ(r->GetNodeCount(), 4);
  EXPECT_EQ(a->Document(), &doc);

  std::unique_ptr<TXmlNode> taken = r->NodeExtract(c);
  ASSERT_EQ(taken.get(), c);
  EXPECT_EQ(c->Parent(), nullptr);
  EXPECT_EQ(r->GetNodeCount(), 3);
  EXPECT_EQ(a->NodeAdd(std::move(taken)), c);
  EXPECT_EQ(c->Parent(), a);
  r->NodeDelete(0);
  EXPECT_EQ(r->GetNode(0)->Name(), "Other");
  ExpectRaise<platform::EListError>([&] { r->GetNode(2); }, "List index out of bounds (2)");
  ExpectRaise<platform::EListError>([&] { r->NodeDelete(-1); }, "List index out of bounds (-1)");
  r->NodesClear();
  EXPECT_EQ(r->GetNodeCount(), 0);
  r->SetValueAsString("v");
  r->Clear();
  EXPECT_TRUE(r->IsEmpty());
  EXPECT_TRUE(doc.IsEmpty());

  auto nv = TXmlNode::CreateNameValue(&doc, "N", "a&b");
  EXPECT_EQ(nv->Value(), "a&amp;b");
  EXPECT_EQ(TXmlNode::CreateType(nullptr, xnComment)->Kind(), xnComment);
}

TEST(XmlDocuments, NodeAssignAndDocumentCopy) {
  TXmlDocument doc("Page");
  doc.SetXmlFormat(xfIndented);
  TXmlNode* s = doc.Root()->NodeNew("Shape");
  s->WriteAttributeInteger("Index", 2);
  s->WriteString("Name", "a<b");
  s->NodeNew("Shape")->WriteFloat("DocLeft", 12.5);

  TXmlDocument other("X");
  TXmlNode* target = other.Root()->NodeNew("Target");
  target->NodeNew("Old");
  target->Assign(s);
  EXPECT_EQ(doc.XmlFormat(), xfIndented);  // restored after the copy
  EXPECT_EQ(target->Name(), "Shape");
  EXPECT_EQ(target->GetNodeCount(), 2);
  EXPECT_EQ(target->ReadString("Name"), "a<b");
  EXPECT_EQ(target->ReadAttributeInteger("Index", 0), 2);
  EXPECT_EQ(target->NodeByName("Shape")->ReadFloat("DocLeft"), 12.5);
  EXPECT_EQ(target->Parent(), other.Root());

  TXmlDocument copy;
  copy.SetXmlFormat(xfLinefeed);
  copy.CopyFrom(&doc);
  EXPECT_EQ(copy.XmlFormat(), xfCompact);  // CopyFrom clears to the defaults first
  copy.SetXmlFormat(xfIndented);
  EXPECT_EQ(copy.WriteToString(), doc.WriteToString());
  TXmlDocument assigned;
  assigned.Assign(&doc);
  copy.SetXmlFormat(xfCompact);
  EXPECT_EQ(assigned.Root()->WriteToString(), copy.Root()->WriteToString());
  EXPECT_THROW(target->Assign(&doc), platform::EConvertError);
}

TEST(XmlDocuments, DocumentDefaultsAndClear) {
  TXmlDocument doc;
  EXPECT_EQ(doc.BinaryEncoding(), xbeBase64);
  EXPECT_EQ(doc.Encoding(), "windows-1252");
  EXPECT_EQ(doc.Version(), "1.0");
  EXPECT_EQ(doc.WriteOnDefault(), 1);
  EXPECT_EQ(doc.XmlFormat(), xfCompact);
  EXPECT_EQ(doc.WideText(), 0);
  EXPECT_TRUE(doc.IsEmpty());
  EXPECT_EQ(doc.GetLineBreak(), "\n");
  doc.SetXmlFormat(xfIndented);
  EXPECT_EQ(doc.GetLineBreak(), "\r\n");
  doc.Root()->SetName("R");
  doc.SetStylesheet("s");
  doc.SetVersion("");
  doc.SetEncoding("");
  EXPECT_EQ(doc.WriteToString(), "<?xml-stylesheet s?>\r\n<R/>");
  doc.Clear();
  EXPECT_TRUE(doc.IsEmpty());
  EXPECT_EQ(doc.Stylesheet(), "");
  EXPECT_EQ(doc.XmlFormat(), xfCompact);
}

// --- parsing -------------------------------------------------------------------------------

TEST(XmlDocuments, ParsesDeclarationKindsAndOddNodes) {
  TXmlDocument doc;
  doc.ReadFromString(
      "  <?xml version='1.1' encoding=\"UTF-8\" ?>\n<!DOCTYPE r>\n"
      "<r a='1'>text<!-- c --><![CDATA[<raw>]]><?pi data?><!X y><b/>tail</R >");
  EXPECT_EQ(doc.Version(), "1.1");
  EXPECT_EQ(doc.Encoding(), "UTF-8");
  TXmlNode* r = doc.Root();
  EXPECT_EQ(r->Name(), "r");
  EXPECT_EQ(r->Value(), "text");  // text after the first child is dropped
  ASSERT_EQ(r->GetNodeCount(), 5);
  EXPECT_EQ(r->GetNode(0)->Kind(), xnComment);
  EXPECT_EQ(r->GetNode(0)->Name(), "Comment");
  EXPECT_EQ(r->GetNode(0)->Value(), " c ");
  EXPECT_EQ(r->GetNode(1)->Kind(), xnCData);
  EXPECT_EQ(r->GetNode(1)->Name(), "CData");
  EXPECT_EQ(r->GetNode(1)->Value(), "<raw>");
  EXPECT_EQ(r->GetNode(2)->Kind(), xnUnknown);
  EXPECT_EQ(r->GetNode(2)->Name(), "Unknown");
  EXPECT_EQ(r->GetNode(3)->Kind(), xnUnknown);
  EXPECT_EQ(r->GetNode(4)->Kind(), xnClosedElement);
  // Odd nodes are written back as they were read.
  EXPECT_EQ(r->WriteToString(), "<r a='1'>text<!-- c --><![CDATA[<raw>]]><?pi data?><!X y><b/></r>");
  TXmlNode decl;
  decl.ReadFromString("<?xml version=\"1.0\"?>");
  EXPECT_EQ(decl.Kind(), xnDeclaration);
  EXPECT_EQ(decl.Name(), "xml");
  EXPECT_EQ(decl.Attributes(), (std::vector<std::string>{"version=\"1.0\""}));
  EXPECT_EQ(decl.WriteToString(), "<?xml version=\"1.0\"?>");
  TXmlNode sheet;
  sheet.ReadFromString("<?xml-stylesheet href='a'?>");
  EXPECT_EQ(sheet.Kind(), xnStylesheet);
  EXPECT_EQ(sheet.Name(), "xml-stylesheet");
}

TEST(XmlDocuments, ParentValueLayoutIsTrimmedButLeavesKeepTheirText) {
  TXmlNode n;
  n.ReadFromString("<a>abc\r\n  <b>x\r\n  y</b>\r\n</a>");
  EXPECT_EQ(n.Value(), "abc");
  EXPECT_EQ(n.GetNode(0)->Value(), "x\r\n  y");
  TXmlNode lf;
  lf.ReadFromString("<a>abc\n<b/>\n</a>");
  EXPECT_EQ(lf.Value(), "abc");
  TXmlNode compact;
  compact.ReadFromString("<a>abc\r\n<b/></a>");  // no line break after the last child
  EXPECT_EQ(compact.Value(), "abc\r\n");
  TXmlNode twoBreaks;
  twoBreaks.ReadFromString("<a>abc\r\n\r\n  <b/>\r\n</a>");
  EXPECT_EQ(twoBreaks.Value(), "abc\r\n");
  TXmlNode noBreakInValue;
  noBreakInValue.ReadFromString("<a>abc<b/>\n</a>");
  EXPECT_EQ(noBreakInValue.Value(), "abc");
}

TEST(XmlDocuments, NodeParseStreamStopsAfterTheNode) {
  TStringStream s("  <a>1</a><b/>rest");
  TXmlNode a, b, c;
  a.ParseStream(&s);
  EXPECT_EQ(a.Name(), "a");
  EXPECT_EQ(s.Position(), 10);
  b.ParseStream(&s);
  EXPECT_EQ(b.Name(), "b");
  EXPECT_EQ(s.Position(), 14);
  c.ParseStream(&s);  // a stray character: consumed, nothing parsed
  EXPECT_EQ(c.Name(), "");
  EXPECT_EQ(s.Position(), 15);
}

TEST(XmlDocuments, StrayTopLevelTextIsSkipped) {
  TXmlDocument doc;
  doc.ReadFromString("junk <R>1</R> more </X> junk");
  EXPECT_EQ(doc.Root()->Name(), "R");
  EXPECT_EQ(doc.Root()->Value(), "1");
}

TEST(XmlDocuments, CloseTagIgnoresCaseAndSpaces) {
  TXmlNode n;
  n.ReadFromString("<Page>< /PAGE>");
  EXPECT_EQ(n.Name(), "Page");
  EXPECT_EQ(n.Kind(), xnElement);
}

TEST(XmlDocuments, EventsAndProgress) {
  TXmlDocument doc;
  std::vector<std::string> log;
  doc.OnNodeNew = [&](platform::TObject* sender, TXmlNode* n) {
    EXPECT_EQ(sender, &doc);
    log.push_back("new " + n->Name() + (n->Parent() ? " in " + n->Parent()->Name() : std::string()));
  };
  doc.OnNodeLoaded = [&](platform::TObject*, TXmlNode* n) { log.push_back("loaded " + n->Name()); };
  doc.OnProgress = [&](platform::TObject*, int32_t pos) { log.push_back("at " + std::to_string(pos)); };
  const std::string text = "<?xml version=\"1.0\"?><R><A>1</A><!--c--></R>";
  doc.ReadFromString(text);
  EXPECT_EQ(log, (std::vector<std::string>{"at 0", "new xml in ", "loaded xml", "at 21", "new R in ",
                                           "new A in R", "loaded A", "at 32", "new Comment in R",
                                           "loaded Comment", "at 40", "loaded R", "at 44", "at 44"}));
  log.clear();
  TStringStream out;
  doc.WriteToStream(&out);
  EXPECT_EQ(out.DataString(), "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n<R><A>1</A><!--c--></R>");
  EXPECT_EQ(log, (std::vector<std::string>{"at 0", "at 57", "at 65", "at 69", "at 69"}));
}

// --- error messages ------------------------------------------------------------------------

TEST(XmlErrors, IllegalCharacterInNodeName) {
  for (const char* name : {"a b", "a\tb", "a\nb", "a\rb"}) {
    TXmlNode n;
    ExpectRaise<platform::Exception>([&] { n.SetName(name); },
                                     std::string("Illegal character in node name \"") + name + "\"");
  }
  TXmlNode n;
  ExpectRaise<platform::Exception>([&] { n.ReadFromString("<\"a b\"/>"); },
                                   "Illegal character in node name \"\"a b\"\"");
}

// A name beginning with "!", "?" or "/" would be written as a tag that reads back as another
// kind of node ("<!x/>" as a declaration), so such a name is refused, also when a blank after
// the "<" lets the reader take it as an element's name.
TEST(XmlErrors, NamesThatWouldNotReadBackAreRefused) {
  for (const char* name : {"!x", "?x", "/x", "!", "!--", "?xml", "![CDATA["}) {
    TXmlNode n;
    ExpectRaise<platform::Exception>([&] { n.SetName(name); },
                                     std::string("Illegal character in node name \"") + name + "\"");
    EXPECT_EQ(n.Name(), "");
    for (const std::string& text : {std::string("< ") + name + "/>", std::string("<\r\n") + name + " a=\"1\"/>",
                                     std::string("< ") + name + ">v</" + name + ">"}) {
      TXmlDocument doc;
      ExpectRaise<platform::Exception>([&] { doc.ReadFromString(text); },
                                       std::string("Illegal character in node name \"") + name + "\"");
      TXmlNode m;
      ExpectRaise<platform::Exception>([&] { m.ReadFromString(text); },
                                       std::string("Illegal character in node name \"") + name + "\"");
    }
  }
  // Further on in a name these characters stay allowed and read back.
  for (const char* name : {"a!", "a?b", "a/b"}) {
    TXmlDocument doc(name);
    doc.Root()->WriteInteger("V", 1);
    TXmlDocument back;
    back.ReadFromString(doc.WriteToString());
    EXPECT_EQ(back.Root()->Name(), name);
    EXPECT_EQ(back.Root()->ReadInteger("V"), 1);
  }
}

// A tag whose last word ends in "/" is written with a blank before the ">" when the element
// has content, so the "/" is not read back as closing the element in its own tag.
TEST(XmlDocuments, TagsEndingInSlashReadBack) {
  for (uint8_t format : {document::xfIndented, document::xfCompact, document::xfLinefeed}) {
    TXmlDocument doc("a/");
    doc.SetXmlFormat(format);
    doc.Root()->ReadFromString("<a/ b=\"1\"/ >text</a/>");
    ASSERT_EQ(doc.Root()->Attributes(), std::vector<std::string>{"b=\"1\"/"});
    TXmlNode* child = doc.Root()->NodeNew("c/");
    child->SetValue("v");
    doc.Root()->NodeNew("d/");  // empty: closes itself
    const std::string text = doc.WriteToString();
    TXmlDocument back;
    back.ReadFromString(text);
    back.SetXmlFormat(format);
    EXPECT_EQ(back.WriteToString(), text);
    EXPECT_EQ(back.Root()->Name(), "a/");
    EXPECT_EQ(back.Root()->Attributes(), std::vector<std::string>{"b=\"1\"/"});
    ASSERT_EQ(back.Root()->GetNodeCount(), 2);
    EXPECT_EQ(back.Root()->GetNode(0)->Name(), "c/");
    EXPECT_EQ(back.Root()->GetNode(0)->Value(), "v");
    EXPECT_EQ(back.Root()->GetNode(1)->Name(), "d/");
    EXPECT_EQ(back.Root()->GetNode(1)->Kind(), document::xnClosedElement);
  }
  TXmlNode n, m;
  n.ReadFromString("<x/ >v</x/>");
  EXPECT_EQ(n.WriteToString(), "<x/ >v</x/>");
  m.ReadFromString("<x a=\"1\">v</x>");
  EXPECT_EQ(m.WriteToString(), "<x a=\"1\">v</x>");
}

TEST(XmlErrors, MissingElementName) {
  TXmlNode n;
  ExpectFilerError([&] { n.ReadFromString("<>"); }, "Missing element name");
  TXmlNode m;
  ExpectFilerError([&] { m.ReadFromString("< \t/>"); }, "Missing element name");
}

TEST(XmlErrors, MissingCloseTag) {
  TXmlDocument doc;
  ExpectFilerError([&] { doc.ReadFromString("<Page><Index>1</Index>"); }, "Missing close tag in element Page");
}

TEST(XmlErrors, MissingDataAfterLessThan) {
  TXmlDocument doc;
  ExpectFilerError([&] { doc.ReadFromString("<Page>text<  \r\n"); }, "Missing data after \"<\" in element Page");
}

TEST(XmlErrors, MissingGreaterThanInCloseTag) {
  TXmlDocument doc;
  ExpectFilerError([&] { doc.ReadFromString("<Page>text</Page"); },
                   "Missing \">\" in close tag of element Page");
}

TEST(XmlErrors, IncorrectCloseTag) {
  TXmlDocument doc;
  ExpectFilerError([&] { doc.ReadFromString("<Page><A>1</B></Page>"); }, "Incorrect close tag in element A");
}

TEST(XmlErrors, UnterminatedMarkup) {
  TXmlDocument doc;
  ExpectFilerError([&] { doc.ReadFromString("<Page"); }, "Missing \">\" before the end of the xml");
  ExpectFilerError([&] { doc.ReadFromString("<R/><!-- open"); }, "Missing \"-->\" before the end of the xml");
  ExpectFilerError([&] { doc.ReadFromString("<?xml version"); }, "Missing \"?>\" before the end of the xml");
}

TEST(XmlErrors, RootNotDefined) {
  // A document never loses its root through the interface; a subclass can.
  struct Rootless : TXmlDocument {
    Rootless() { FRoot.reset(); }
  } doc;
  EXPECT_TRUE(doc.IsEmpty());
  TStringStream s;
  ExpectFilerError([&] { doc.WriteToStream(&s); }, "XML root element not defined.");
}

TEST(XmlErrors, MoreThanOneRoot) {
  TXmlDocument doc;
  ExpectFilerError([&] { doc.ReadFromString("<A/><B/>"); }, "More than one root element found in xml");
}

TEST(XmlErrors, NoRoot) {
  TXmlDocument doc;
  ExpectFilerError([&] { doc.ReadFromString(""); }, "No root element found in xml");
  ExpectFilerError([&] { doc.ReadFromString("<?xml version=\"1.0\"?><!--only a comment-->"); },
                   "No root element found in xml");
}

TEST(XmlErrors, MultipleStylesheets) {
  TXmlDocument doc;
  ExpectFilerError([&] { doc.ReadFromString("<?xml-stylesheet a?><?xml-stylesheet b?><R/>"); },
                   "Multiple stylesheets in root not supported");
}

TEST(XmlErrors, CDataInRoot) {
  TXmlDocument doc;
  ExpectFilerError([&] { doc.ReadFromString("<![CDATA[x]]><R/>"); }, "No CDATA allowed in root");
}

TEST(XmlErrors, NestingLimit) {
  auto nested = [](int depth) {
    std::string s;
    for (int i = 0; i < depth; ++i) s += "<e>";
    for (int i = 0; i < depth; ++i) s += "</e>";
    return s;
  };
  TXmlDocument doc;
  doc.ReadFromString(nested(kXmlMaxDepth));
  int depth = 1;
  for (TXmlNode* n = doc.Root(); n->GetNodeCount(); n = n->GetNode(0)) ++depth;
  EXPECT_EQ(depth, kXmlMaxDepth);
  ExpectFilerError([&] { doc.ReadFromString(nested(kXmlMaxDepth + 1)); },
                   "Element nesting deeper than 512 levels in element e");
  std::string open;
  for (int i = 0; i < 100000; ++i) open += "<a>";
  ExpectFilerError([&] { doc.ReadFromString(open); }, "Element nesting deeper than 512 levels in element a");
}

TEST(XmlErrors, Utf8StreamUnassigned) {
  TUtf8Stream unassigned(nullptr);
  char c;
  ExpectRaise<platform::EStreamError>([&] { unassigned.Read(&c, 1); }, "Utf stream unassigned");
  ExpectRaise<platform::EStreamError>([&] { unassigned.Write("x", 1); }, "Utf stream unassigned");
}

TEST(XmlErrors, Utf8StreamSeekBeforeUse) {
  TStringStream inner("abc");
  TUtf8Stream fresh(&inner);
  ExpectRaise<platform::EStreamError>([&] { fresh.Seek(0, platform::soFromBeginning); },
                                      "Cannot seek before reading or writing on UTF stream");
}

TEST(XmlErrors, Utf8StreamWriteWhileReading) {
  TStringStream inner("abc");
  TUtf8Stream reading(&inner);
  char c;
  EXPECT_EQ(reading.Read(&c, 1), 1);
  ExpectRaise<platform::EStreamError>([&] { reading.Write("x", 1); },
                                      "Cannot write to an UTF stream opened for reading");
}

TEST(XmlErrors, Utf8StreamReadWhileWriting) {
  TStringStream target;
  TUtf8Stream writing(&target);
  EXPECT_EQ(writing.Write("x", 1), 1);
  char c;
  ExpectRaise<platform::EStreamError>([&] { writing.Read(&c, 1); },
                                      "Cannot read from an UTF stream opened for writing");
  // A writing adapter reports its position but stays where it is.
  EXPECT_EQ(writing.Seek(0, platform::soFromBeginning), 1);
}

// --- binary data ---------------------------------------------------------------------------

TEST(XmlBinary, EncodingsRoundTrip) {
  std::vector<uint8_t> data(1000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + i / 13);
  for (uint8_t enc : {xbeHex, xbeBase64, xbeRadix64}) {
    for (int32_t n : {0, 1, 2, 3, 4, 5, 1000}) {
      TXmlDocument doc("R");
      doc.SetBinaryEncoding(enc);
      TXmlNode* b = doc.Root()->NodeNew("Buffer");
      b->BufferWrite(data.data(), n);
      TXmlDocument back;
      back.ReadFromString(doc.WriteToString());
      back.SetBinaryEncoding(enc);
      const TXmlNode* r = back.Root()->NodeByName("Buffer");
      EXPECT_EQ(r->BufferLength(), n);
      std::vector<uint8_t> out(static_cast<size_t>(n) + 8, 0xEE);
      EXPECT_EQ(r->BufferRead(out.data(), n), n);
      EXPECT_TRUE(std::equal(data.begin(), data.begin() + n, out.begin())) << int(enc) << " " << n;
      EXPECT_EQ(out[static_cast<size_t>(n)], 0xEE);
    }
  }
}

TEST(XmlBinary, KnownTexts) {
  EXPECT_EQ(EncodeBase64("Man", 3), "TWFu");
  EXPECT_EQ(EncodeBase64("Ma", 2), "TWE=");
  EXPECT_EQ(EncodeBase64("M", 1), "TQ==");
  EXPECT_EQ(EncodeBinHex("\x01\xAB\xff", 3), "01ABFF");
  TXmlNode loose;  // no document: hexadecimal
  loose.BufferWrite("\x0F\xF0", 2);
  EXPECT_EQ(loose.Value(), "0FF0");
  TXmlDocument doc("R");
  doc.Root()->BufferWrite("Man", 3);
  EXPECT_EQ(doc.Root()->Value(), "TWFu");
}

TEST(XmlBinary, ReadersAreTolerantAndBounded) {
  char out[16] = {};
  EXPECT_EQ(DecodeBase64(" TW\r\nFu\tTQ", out, 16), 4);
  EXPECT_EQ(std::string(out, 4), "ManM");
  EXPECT_EQ(DecodeBase64("TWE", nullptr, 0), 2);
  EXPECT_EQ(DecodeBase64("TWE=garbage!", nullptr, 0), 2);  // stops at the padding
  EXPECT_EQ(DecodeBinHex("0 1a\nB c", out, 16), 2);  // an odd last digit is ignored
  EXPECT_EQ(static_cast<uint8_t>(out[0]), 0x01);
  EXPECT_EQ(static_cast<uint8_t>(out[1]), 0xAB);
  // At most Count bytes, and at most what the text holds.
  char small[2] = {};
  EXPECT_EQ(DecodeBase64("TWFuTWFu", small, 2), 2);
  EXPECT_EQ(std::string(small, 2), "Ma");
  TXmlDocument doc("R");
  doc.Root()->SetValue("TWFu");
  char big[10];
  std::fill(std::begin(big), std::end(big), 'z');
  EXPECT_EQ(doc.Root()->BufferRead(big, 10), 3);
  EXPECT_EQ(std::string(big, 4), "Manz");
  EXPECT_EQ(doc.Root()->BufferRead(big, 0), 0);
  ExpectFilerError([&] { DecodeBase64("TW*u", out, 16); }, "Invalid character in Base64 data");
  ExpectFilerError([&] { DecodeBinHex("0G", out, 16); }, "Invalid character in hexadecimal data");
}

// --- text encodings ------------------------------------------------------------------------

TEST(XmlEncodings, Windows1252InAndOut) {
  TXmlDocument doc;
  // "Café €5" in windows-1252, and a byte that maps to U+0081.
  Load(doc, std::string("<R>Caf\xE9 \x80") + "5\x81</R>");
  EXPECT_EQ(doc.WideText(), 0);
  EXPECT_EQ(doc.Root()->ValueAsString(), "Caf\xC3\xA9 \xE2\x82\xAC" "5\xC2\x81");
  // The byte is read, but 0x81 is undefined in windows-1252: the text is written as UTF-16,
  // which every reader takes.
  std::string wide = "\xFF\xFE";
  for (char16_t c : std::u16string(u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<R>Caf\u00E9 \u20AC5\u0081</R>"))
    wide += {char(c & 0xFF), char(c >> 8)};
  EXPECT_EQ(Saved(doc), wide);
  // Characters without a windows-1252 byte become "?", and the adapter reports it once.
  doc.Root()->SetValueAsString("\xE4\xB8\xAD \xF0\x9F\x98\x80 \xC3\xA9");
  TMemoryStream s;
  int lossy = 0;
  {
    TUtf8Stream utf(&s);
    utf.OnLossyConversion = [&](platform::TObject*) { ++lossy; };
    doc.WriteToStream(&utf);
    EXPECT_TRUE(utf.Lossy());
  }
  EXPECT_EQ(lossy, 1);
  EXPECT_EQ(Bytes(s), "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n<R>? ? \xE9</R>");
}

TEST(XmlEncodings, Utf8SequencesSplitAcrossWrites) {
  TMemoryStream s;
  {
    TUtf8Stream utf(&s);
    const std::string text = "a\xC3\xA9\xE2\x82\xAC";
    for (char c : text) utf.Write(&c, 1);
    EXPECT_EQ(utf.Position(), 6);
    EXPECT_FALSE(utf.Lossy());
  }
  EXPECT_EQ(Bytes(s), "a\xE9\x80");
  TMemoryStream t;
  {
    TUtf8Stream utf(&t);
    utf.Write("b\xE2\x82", 3);  // never completed
  }
  EXPECT_EQ(Bytes(t), "b?");
}

TEST(XmlEncodings, Utf16BothByteOrders) {
  const std::u16string text = u"<R a=\"\u00E9\">\u4E2D\U0001F600\u20AC</R>";
  for (bool swapped : {false, true}) {
    SCOPED_TRACE(swapped);
    std::string bytes = swapped ? "\xFE\xFF" : "\xFF\xFE";
    for (char16_t c : text) {
      const char lo = static_cast<char>(c & 0xFF), hi = static_cast<char>(c >> 8);
      bytes += swapped ? hi : lo;
      bytes += swapped ? lo : hi;
    }
    TXmlDocument doc;
    Load(doc, bytes);
    EXPECT_EQ(doc.WideText(), 1);
    EXPECT_EQ(doc.Root()->ValueAsString(), "\xE4\xB8\xAD\xF0\x9F\x98\x80\xE2\x82\xAC");
    EXPECT_EQ(doc.Root()->ReadAttributeString("a"), "\xC3\xA9");
    // Written back as UTF-16LE after FF FE, nothing lost.
    const std::string saved = Saved(doc);
    const std::u16string expected =
        u"<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n<R a=\"\u00E9\">\u4E2D\U0001F600\u20AC</R>";
    ASSERT_EQ(saved.size(), 2 + expected.size() * 2);
    EXPECT_EQ(saved.substr(0, 2), "\xFF\xFE");
    for (size_t i = 0; i < expected.size(); ++i) {
      const auto lo = static_cast<uint8_t>(saved[2 + 2 * i]), hi = static_cast<uint8_t>(saved[3 + 2 * i]);
      ASSERT_EQ(char16_t(lo | (hi << 8)), expected[i]) << i;
    }
    TXmlDocument again;
    Load(again, saved);
    EXPECT_EQ(again.Root()->ValueAsString(), doc.Root()->ValueAsString());
  }
}

TEST(XmlEncodings, Utf16UnpairedSurrogateIsReported) {
  std::string bytes = "\xFF\xFE";
  for (char16_t c : std::u16string(u"<R>x</R>")) bytes += {static_cast<char>(c), '\0'};
  bytes.insert(8, "\x00\xD8", 2);  // a lone high surrogate before "x"
  TStringStream s(bytes);
  TUtf8Stream utf(&s);
  int lossy = 0;
  utf.OnLossyConversion = [&](platform::TObject*) { ++lossy; };
  TXmlDocument doc;
  doc.ParseStream(&utf);
  EXPECT_EQ(lossy, 1);
  EXPECT_EQ(doc.Root()->Value(), "\xEF\xBF\xBDx");
}

TEST(XmlEncodings, Utf8StreamReadsAndSeeks) {
  TStringStream inner("\xE9t\xE9");
  TUtf8Stream utf(&inner);
  char buf[8];
  EXPECT_EQ(utf.Read(buf, 8), 5);
  EXPECT_EQ(std::string(buf, 5), "\xC3\xA9t\xC3\xA9");
  EXPECT_EQ(utf.Size(), 5);
  EXPECT_EQ(utf.Seek(-3, platform::soFromEnd), 2);
  EXPECT_EQ(utf.Read(buf, 1), 1);
  EXPECT_EQ(buf[0], 't');
}

TEST(XmlEncodings, FilesRoundTrip) {
  const std::string path = kdtest::TempDir() + "/doc.xml";
  TXmlDocument doc("Document");
  doc.SetXmlFormat(xfIndented);
  doc.Root()->WriteString("Title", "Loopoefening \xE2\x82\xAC");
  doc.SaveToFile(path);
  const auto bytes = kdtest::ReadFileBytes(path);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()),
            "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n<Document>\r\n"
            "  <Title>Loopoefening \x80</Title>\r\n</Document>");
  TXmlDocument back;
  back.LoadFromFile(path);
  EXPECT_EQ(back.Root()->ReadString("Title"), "Loopoefening \xE2\x82\xAC");
  EXPECT_THROW(back.LoadFromFile(path + ".missing"), platform::EFOpenError);

  // Text windows-1252 cannot hold makes the file UTF-16, which reads back and is written the same way.
  const std::string wideText =
      "\xC5\x81ukasz Dvo\xC5\x99\xC3\xA1k \xCE\xA9 \xE4\xB8\xAD\xE6\x96\x87 \xF0\x9F\x98\x80 caf\xC3\xA9 \xE2\x82\xAC";
  doc.Root()->WriteString("Title", wideText);
  doc.SaveToFile(path);
  const auto wideBytes = kdtest::ReadFileBytes(path);
  const std::u16string expected = u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<Document>\r\n"
                                  u"  <Title>\u0141ukasz Dvo\u0159\u00E1k \u03A9 \u4E2D\u6587 \U0001F600 caf\u00E9 \u20AC"
                                  u"</Title>\r\n</Document>";
  std::u16string got;  // little-endian, after the byte order mark
  for (size_t i = 0; i + 1 < wideBytes.size(); i += 2) got += char16_t(wideBytes[i] | wideBytes[i + 1] << 8);
  EXPECT_TRUE(got == u"\uFEFF" + expected);
  back.LoadFromFile(path);
  EXPECT_EQ(back.Root()->ReadString("Title"), wideText);
  EXPECT_EQ(back.WideText(), 1);
  EXPECT_EQ(back.Encoding(), "UTF-16");
  back.SetXmlFormat(xfIndented);
  back.SaveToFile(path);
  EXPECT_EQ(kdtest::ReadFileBytes(path), wideBytes);
  // Taking the text out again gives the 8-bit file byte for byte.
  doc.Root()->WriteString("Title", "Loopoefening \xE2\x82\xAC");
  doc.SaveToFile(path);
  EXPECT_EQ(kdtest::ReadFileBytes(path), bytes);

  // The five characters windows-1252 leaves undefined do not fit it either.
  for (const char* undefined : {"\xC2\x81", "\xC2\x8D", "\xC2\x8F", "\xC2\x90", "\xC2\x9D"}) {
    const std::string text = std::string("a") + undefined + "\xE2\x82\xAC";
    doc.Root()->WriteString("Title", text);
    doc.SaveToFile(path);
    const auto raw = kdtest::ReadFileBytes(path);
    ASSERT_GE(raw.size(), 2u);
    EXPECT_EQ(raw[0], 0xFF);
    EXPECT_EQ(raw[1], 0xFE);
    back.LoadFromFile(path);
    EXPECT_EQ(back.Root()->ReadString("Title"), text);
  }
}

// --- xmllint as an oracle ------------------------------------------------------------------

TEST(XmlOracle, XmllintAcceptsWrittenDocuments) {
  if (std::system("command -v xmllint >/dev/null 2>&1") != 0) GTEST_SKIP() << "xmllint not installed";
  const std::string dir = kdtest::TempDir();
  std::vector<std::unique_ptr<TXmlDocument>> docs;
  for (uint8_t format : {xfIndented, xfCompact, xfLinefeed}) {
    auto doc = std::make_unique<TXmlDocument>("Page");
    doc->SetXmlFormat(format);
    TXmlNode* r = doc->Root();
    r->WriteInteger("Index", 1);
    r->WriteFloat("MarginLeft", 10.0f);
    r->WriteColor("PageColor", platform::clWhite);
    r->WriteDateTime("Stamp", 45351.5);
    TXmlNode* s = r->NodeNew("Shape");
    s->WriteAttributeInteger("Index", 1);
    s->WriteAttributeString("Note", "quote \" and 'apos' & <tag>");
    s->WriteString("ClassName", "TdtpTextShape");
    s->WriteString("Text", "a < b & c > d 'e' \"f\" Caf\xC3\xA9 \xE2\x82\xAC");
    TXmlFontValues f;
    s->WriteFont("Font", f);
    s->NodeNew("Empty");
    TXmlNode* img = s->NodeNew("Image");
    std::vector<uint8_t> bytes(300);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i);
    img->BufferWrite(bytes.data(), 300);
    doc->RootComments().push_back("made by a test, with & in it");
    docs.push_back(std::move(doc));
  }
  auto wide = std::make_unique<TXmlDocument>("Selection");
  wide->SetWideText(1);
  wide->SetEncoding("UTF-16");
  wide->Root()->WriteString("Text", "\xE4\xB8\xAD");
  docs.push_back(std::move(wide));
  // Made UTF-16 by its text alone.
  auto made = std::make_unique<TXmlDocument>("Page");
  made->SetXmlFormat(xfIndented);
  made->Root()->WriteString("Name", "\xC5\x81ukasz \xF0\x9F\x98\x80");
  docs.push_back(std::move(made));
  // Characters windows-1252 leaves undefined, in a text and in an attribute.
  auto undefined = std::make_unique<TXmlDocument>("Page");
  undefined->Root()->WriteString("Text", "\xC2\x81\xC2\x8D\xC2\x8F caf\xC3\xA9");
  undefined->Root()->NodeNew("Shape")->WriteAttributeString("Name", "\xC2\x90\xC2\x9D");
  docs.push_back(std::move(undefined));
  // Whatever 8-bit form it declared.
  for (const char* declared : {"ISO-8859-1", "UTF-8"}) {
    auto other = std::make_unique<TXmlDocument>("Page");
    other->SetEncoding(declared);
    other->Root()->WriteString("Name", "\xC5\x81ukasz");
    docs.push_back(std::move(other));
  }
  auto quiet = std::make_unique<TXmlDocument>("Page");
  quiet->SetWriteOnDefault(0);
  quiet->SetXmlFormat(xfIndented);
  quiet->Root()->WriteInteger("Index", 0);
  quiet->Root()->NodeNew("Shape")->WriteBool("Visible", false);
  docs.push_back(std::move(quiet));

  // The oracle itself must notice a broken file.
  kdtest::WriteFileBytes(dir + "/broken.xml", {'<', 'a', '>', '<', '/', 'b', '>'});
  EXPECT_NE(std::system(("xmllint --noout '" + dir + "/broken.xml' >/dev/null 2>&1").c_str()), 0);
  for (size_t i = 0; i < docs.size(); ++i) {
    const std::string path = dir + "/lint" + std::to_string(i) + ".xml";
    docs[i]->SaveToFile(path);
    const std::string cmd = "xmllint --noout '" + path + "' 2>&1";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << path;
  }
}

// Seeds and kept fuzz inputs end cleanly: parsed and written back, or a clean error.
TEST(XmlOracle, FuzzInputsEndCleanly) {
  int files = 0;
  for (const char* folder : {"fuzz/corpus/fuzz_xml", "fuzz/regressions/fuzz_xml"}) {
    const std::filesystem::path dir = kdtest::SourcePath(folder);
    if (!std::filesystem::is_directory(dir)) continue;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      SCOPED_TRACE(entry.path().string());
      const auto bytes = kdtest::ReadFileBytes(entry.path().string());
      ++files;
      try {
        TXmlDocument doc;
        Load(doc, std::string(bytes.begin(), bytes.end()));
        TXmlDocument again;
        Load(again, Saved(doc));
        EXPECT_EQ(Saved(again), Saved(doc));
      } catch (const platform::Exception&) {
      }
    }
  }
  EXPECT_GE(files, 7);
}

// Wide nodes (64 or more children) nested in wide nodes, at several depths and positions:
// freeing such a tree must free every node once (the sanitizer build catches a second free
// or a write into freed memory), and a copy of it must come back identical.
TEST(XmlDocuments, WideNodesNestedAtEveryDepthAreFreedOnce) {
  std::mt19937 rng(7);
  auto fill = [&](auto&& self, TXmlNode* node, int depth) -> void {
    const int wide = (rng() % 3 == 0) ? 0 : 64 + int(rng() % 70);
    const int count = depth == 0 ? 3 : wide + int(rng() % 4);
    for (int i = 0; i < count; ++i) {
      TXmlNode* child = node->NodeNew("N" + std::to_string(i));
      // A wide grandchild first, last or in the middle of its parent.
      const bool deep = depth > 0 && (i == 0 || i == count - 1 || i == count / 2 || rng() % 40 == 0);
      if (deep) self(self, child, depth - 1);
      else child->SetValueAsString(std::to_string(i));
    }
  };
  for (int depth = 1; depth <= 4; ++depth) {
    for (int round = 0; round < 3; ++round) {
      auto doc = std::make_unique<TXmlDocument>("Root");
      fill(fill, doc->Root(), depth);
      const std::string bytes = Saved(*doc);
      // A copy freed before and after its source, and a document loaded from the text.
      {
        TXmlDocument copy("Root");
        copy.Assign(doc.get());
        EXPECT_EQ(Saved(copy), bytes);
        doc.reset();
        TXmlDocument loaded("X");
        Load(loaded, bytes);
        EXPECT_EQ(Saved(loaded), bytes);
        loaded.Clear();
        EXPECT_EQ(Saved(copy), bytes);
      }
    }
  }
}

// Freeing through the held-children stack and the node cache against a plain count of the
// tree: every node is freed exactly once, and blocks handed out again by the cache are
// distinct (a block cached twice would be given to two live nodes).
TEST(XmlDocuments, FreeingMatchesTheNodeCountOfTheTree) {
  std::mt19937 rng(11);
  auto count = [](auto&& self, const TXmlNode* node) -> int64_t {
    int64_t n = 1;
    for (const auto& c : node->Nodes()) n += self(self, c.get());
    return n;
  };
  auto grow = [&](auto&& self, TXmlNode* node, int depth) -> void {
    const int n = depth == 0 ? int(rng() % 3) : (rng() % 2 ? 64 + int(rng() % 40) : int(rng() % 63));
    for (int i = 0; i < n; ++i) {
      TXmlNode* child = node->NodeNew("C");
      if (depth > 0 && rng() % 16 == 0) self(self, child, depth - 1);
    }
  };
  for (int round = 0; round < 20; ++round) {
    const int64_t before = TXmlNode::LiveCount();
    auto root = std::make_unique<TXmlNode>(nullptr);
    grow(grow, root.get(), 1 + round % 4);
    const int64_t nodes = count(count, root.get());
    ASSERT_EQ(TXmlNode::LiveCount() - before, nodes);
    root.reset();
    ASSERT_EQ(TXmlNode::LiveCount(), before) << "round " << round;
    // What the cache gives back now are distinct blocks.
    std::vector<std::unique_ptr<TXmlNode>> again;
    std::set<const void*> seen;
    for (int64_t i = 0; i < nodes; ++i) {
      again.push_back(std::make_unique<TXmlNode>(nullptr));
      ASSERT_TRUE(seen.insert(again.back().get()).second) << "block handed out twice";
    }
  }
}

// Freed nodes leave their text and list buffers to the next nodes of the thread. Documents
// whose names, values, attribute and child counts run across every buffer size, read again
// and again between trees built node by node (other list sizes) and freed in varying order,
// must each read exactly as the reference tokeniser reads them: nothing of an earlier
// document may show through, and a document must not share a buffer with another.
TEST(XmlDocuments, RecycledBuffersCarryNothingOver) {
  auto dump = [](auto&& self, const TXmlNode* node, std::string& out) -> void {
    out += "{" + std::to_string(node->Kind()) + "[" + node->Name() + "][" + node->Value() + "]";
    for (const auto& a : node->Attributes()) out += "(" + a + ")";
    for (const auto& c : node->Nodes()) {
      EXPECT_EQ(c->Parent(), node);
      self(self, c.get(), out);
    }
    out += "}";
  };
  auto tree = [&](const TXmlDocument& doc) {
    std::string out;
    dump(dump, doc.Root(), out);
    return out;
  };
  std::mt19937 rng(23);
  auto text = [&](size_t n, char first) {
    std::string s(n, first);
    for (size_t i = 1; i < n; ++i) s[i] = static_cast<char>('a' + rng() % 26);
    return s;
  };
  auto make = [&](int round) {
    std::string xml = "<Root>";
    const int children = round % 5 == 0 ? 40 + int(rng() % 60) : int(rng() % 34);
    for (int i = 0; i < children; ++i) {
      const std::string name = text(1 + rng() % (round % 3 == 0 ? 160 : 24), 'N');
      xml += "<" + name;
      const int attributes = int(rng() % 11);
      for (int a = 0; a < attributes; ++a) xml += " a" + std::to_string(a) + "=\"" + text(rng() % 150, 'v') + "\"";
      xml += ">";
      const int grandchildren = int(rng() % 4) == 0 ? int(rng() % 40) : 0;
      if (grandchildren == 0) xml += text(rng() % 300, 'x');
      for (int g = 0; g < grandchildren; ++g) xml += "<G>" + text(rng() % 140, 'y') + "</G>";
      xml += "</" + name + ">";
    }
    return xml + "</Root>";
  };
  std::vector<std::unique_ptr<TXmlDocument>> kept;
  std::vector<std::pair<const TXmlDocument*, std::string>> expected;
  for (int round = 0; round < 60; ++round) {
    const std::string xml = make(round);
    auto doc = std::make_unique<TXmlDocument>();
    doc->ReadFromString(xml);
    TXmlDocument reference;
    xmlpriv::ReferenceReadDocument(&reference, xml);
    ASSERT_EQ(tree(*doc), tree(reference)) << "round " << round;
    // Changing one document leaves every other as it was read.
    if (round % 4 == 1) {
      if (doc->Root()->GetNodeCount() > 0) doc->Root()->GetNode(0)->SetValueAsString(text(40, 'z'));
      doc->Root()->NodeNew("Added")->WriteString("More", text(50, 'w'));
    }
    expected.emplace_back(doc.get(), tree(*doc));
    kept.push_back(std::move(doc));
    // A tree built node by node, its lists grown one at a time, freed at once.
    {
      TXmlDocument built("Built");
      for (int i = 0; i < int(rng() % 70); ++i) {
        TXmlNode* n = built.Root()->NodeNew("B" + std::to_string(i));
        for (int k = 0; k < int(rng() % 20); ++k) n->WriteString("K" + std::to_string(k), text(rng() % 90, 'k'));
        n->WriteAttributeString("At", text(rng() % 40, 't'));
      }
    }
    // Free some of the documents kept so far, from the middle, the front or the back.
    if (round % 3 == 2 && !kept.empty()) {
      const size_t at = rng() % kept.size();
      expected.erase(expected.begin() + static_cast<std::ptrdiff_t>(at));
      kept.erase(kept.begin() + static_cast<std::ptrdiff_t>(at));
    }
    for (const auto& [d, t] : expected) ASSERT_EQ(tree(*d), t) << "round " << round;
  }
}

// Node blocks move between threads: documents read on threads that end before the documents
// are freed, freed on another thread while further threads read at the same time, and one
// document larger than the blocks set aside for nodes. Every tree must read back exactly, so
// no block may be handed to two nodes, whichever thread frees or reuses it.
TEST(XmlDocuments, NodesMadeAndFreedOnDifferentThreads) {
  auto dump = [](auto&& self, const TXmlNode* node, std::string& out) -> void {
    out += "{" + node->Name() + "[" + node->Value() + "]";
    for (const auto& a : node->Attributes()) out += "(" + a + ")";
    for (const auto& c : node->Nodes()) self(self, c.get(), out);
    out += "}";
  };
  auto tree = [&](const TXmlDocument& doc) {
    std::string out;
    dump(dump, doc.Root(), out);
    return out;
  };
  auto page = [](int shapes, int tag) {
    std::string xml = "<Page>";
    for (int i = 0; i < shapes; ++i)
      xml += "<Shape Index=\"" + std::to_string(i) + "\"><ClassName>TdtpRectangleShape" + std::to_string(tag) +
             "</ClassName><DocLeft>" + std::to_string(i * 7 + tag) + "</DocLeft><Name>Shape &amp; " +
             std::to_string(i) + " of a longer name</Name></Shape>";
    return xml + "</Page>";
  };
  std::vector<std::string> texts, expected;
  for (int tag = 0; tag < 4; ++tag) {
    texts.push_back(page(200 + 50 * tag, tag));
    TXmlDocument reference;
    xmlpriv::ReferenceReadDocument(&reference, texts.back());
    expected.push_back(tree(reference));
  }
  // Read on threads that end at once.
  std::vector<std::unique_ptr<TXmlDocument>> made(texts.size());
  for (size_t i = 0; i < texts.size(); ++i) {
    std::thread([&, i] {
      made[i] = std::make_unique<TXmlDocument>();
      made[i]->ReadFromString(texts[i]);
    }).join();
  }
  std::atomic<int> mismatches = 0;
  std::vector<std::thread> readers;
  for (int t = 0; t < 3; ++t) {
    readers.emplace_back([&, t] {
      std::vector<std::unique_ptr<TXmlDocument>> kept;
      for (int round = 0; round < 12; ++round) {
        const size_t i = static_cast<size_t>((t + round) % texts.size());
        auto doc = std::make_unique<TXmlDocument>();
        doc->ReadFromString(texts[i]);
        if (tree(*doc) != expected[i]) ++mismatches;
        kept.push_back(std::move(doc));
        if (round % 3 == 2) kept.erase(kept.begin());
      }
      for (size_t k = 0; k < kept.size(); ++k)
        if (tree(*kept[k]) != tree(*kept[k])) ++mismatches;
    });
  }
  // Meanwhile the documents of the ended threads are checked and freed here.
  for (size_t i = 0; i < made.size(); ++i) {
    EXPECT_EQ(tree(*made[i]), expected[i]);
    made[i].reset();
  }
  for (auto& r : readers) r.join();
  EXPECT_EQ(mismatches.load(), 0);
  // More nodes than are set aside for them, read on a thread and freed here.
  const std::string large = page(25000, 9);
  std::unique_ptr<TXmlDocument> big;
  std::thread([&] {
    big = std::make_unique<TXmlDocument>();
    big->ReadFromString(large);
  }).join();
  TXmlDocument reference;
  xmlpriv::ReferenceReadDocument(&reference, large);
  EXPECT_EQ(tree(*big), tree(reference));
  big.reset();
  for (size_t i = 0; i < texts.size(); ++i) {
    TXmlDocument again;
    again.ReadFromString(texts[i]);
    EXPECT_EQ(tree(again), expected[i]);
  }
}

// Large documents read and freed over and over, on this thread and on threads that end: the
// node blocks past those set aside come from segments that serve again once emptied, so the
// segments taken do not grow with the rounds, and every tree reads back exactly.
TEST(XmlDocuments, LargeDocumentsReuseTheirNodeSegments) {
  std::string xml = "<Page>";
  for (int i = 0; i < 12000; ++i)
    xml += "<Shape Index=\"" + std::to_string(i) + "\"><Left>" + std::to_string(i * 3) + "</Left><Name>Shape " +
           std::to_string(i) + " of a name longer than a string holds</Name></Shape>";
  xml += "</Page>";
  TXmlDocument reference;
  xmlpriv::ReferenceReadDocument(&reference, xml);
  const std::string expected = reference.WriteToString();
  size_t taken = 0;
  for (int round = 0; round < 16; ++round) {
    if (round % 2 == 0) {
      const int64_t live = TXmlNode::LiveCount();
      {
        TXmlDocument doc;
        doc.ReadFromString(xml);
        ASSERT_EQ(doc.WriteToString(), expected) << "round " << round;
      }
      ASSERT_EQ(TXmlNode::LiveCount(), live) << "round " << round;
    } else {
      std::unique_ptr<TXmlDocument> doc;
      std::thread([&] {
        doc = std::make_unique<TXmlDocument>();
        doc->ReadFromString(xml);
      }).join();
      ASSERT_EQ(doc->WriteToString(), expected) << "round " << round;
    }
    if (round == 1) {
      taken = xmlpriv::SegmentsTaken();
    } else if (round > 1) {
      // A few may stay partly held by the threads' caches; the rest serve again.
      ASSERT_LT(xmlpriv::SegmentsTaken(), 2 * taken) << "round " << round;
    }
  }
  EXPECT_GT(taken, 0u);
}

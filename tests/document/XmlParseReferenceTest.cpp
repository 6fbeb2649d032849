// The fast tokeniser against the plain reference one: random documents, broken texts and the
// fuzz inputs must give the same tree, the same events and the same error message.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <typeinfo>
#include <vector>

#include "document/XmlDocuments.h"
#include "document/XmlDocumentsPriv.h"
#include "platform/Classes.h"
#include "platform/Exceptions.h"
#include "tests/common/TestSupport.h"

using namespace document;

namespace {

void Dump(const TXmlNode* Node, const TXmlDocument* Doc, const TXmlNode* Parent, std::string& Out) {
  Out += "{k" + std::to_string(Node->Kind()) + " n[" + Node->Name() + "] v[" + Node->Value() + "]";
  for (const auto& a : Node->Attributes()) Out += " a[" + a + "]";
  if (Node->Document() != Doc) Out += " !document";
  if (Node->Parent() != Parent) Out += " !parent";
  for (const auto& c : Node->Nodes()) Dump(c.get(), Doc, Node, Out);
  Out += "}";
}

// Everything reading can change, the events it fires, or the error it raised.
struct TOutcome {
  std::string Tree;
  std::string Events;
  std::string Error;
};

void Watch(TXmlDocument& Doc, std::string& Log) {
  Doc.OnNodeNew = [&Log](platform::TObject*, TXmlNode* n) {
    Log += "new " + n->Name() + " " + std::to_string(n->Kind()) + " " + std::to_string(n->Attributes().size()) +
           " " + std::to_string(n->Parent() ? n->Parent()->GetNodeCount() : -1) + ";";
  };
  Doc.OnNodeLoaded = [&Log](platform::TObject*, TXmlNode* n) {
    Log += "loaded " + n->Name() + " [" + n->Value() + "] " + std::to_string(n->GetNodeCount()) + ";";
  };
  Doc.OnProgress = [&Log](platform::TObject*, int32_t p) { Log += "p" + std::to_string(p) + ";"; };
}

template <class F>
void Catch(TOutcome& O, F f) {
  try {
    f();
  } catch (const platform::Exception& e) {
    O.Error = std::string(typeid(e).name()) + ": " + e.Message;
  }
}

TOutcome ReadDocument(const std::string& Text, bool Reference, bool Events) {
  TOutcome o;
  TXmlDocument doc;
  if (Events) Watch(doc, o.Events);
  Catch(o, [&] {
    if (Reference)
      xmlpriv::ReferenceReadDocument(&doc, Text);
    else
      doc.ReadFromString(Text);
  });
  if (o.Error.empty()) {
    o.Tree = doc.Version() + "|" + doc.Encoding() + "|" + doc.Stylesheet() + "|";
    for (const auto& c : doc.RootComments()) o.Tree += "c[" + c + "]";
    Dump(doc.Root(), &doc, nullptr, o.Tree);
  }
  return o;
}

// One node parsed from a stream (fast) or from the text (reference); the stream position or
// the characters consumed are part of the outcome.
TOutcome ReadNode(const std::string& Text, bool Reference, bool Events) {
  TOutcome o;
  TXmlDocument doc;
  if (Events) Watch(doc, o.Events);
  TXmlNode node(&doc);
  size_t consumed = 0;
  platform::TStringStream stream(Text);
  Catch(o, [&] {
    if (Reference)
      xmlpriv::ReferenceReadNode(&node, Text, consumed);
    else
      node.ParseStream(&stream);
  });
  if (!Reference) consumed = static_cast<size_t>(stream.Position());
  o.Tree = "@" + std::to_string(consumed);
  Dump(&node, &doc, nullptr, o.Tree);
  return o;
}

void ExpectSame(const std::string& Text) {
  SCOPED_TRACE(testing::PrintToString(Text.substr(0, 400)));
  for (bool events : {false, true}) {
    const TOutcome fast = ReadDocument(Text, false, events), ref = ReadDocument(Text, true, events);
    ASSERT_EQ(fast.Error, ref.Error) << "events " << events;
    ASSERT_EQ(fast.Tree, ref.Tree) << "events " << events;
    ASSERT_EQ(fast.Events, ref.Events);
    const TOutcome fastNode = ReadNode(Text, false, events), refNode = ReadNode(Text, true, events);
    ASSERT_EQ(fastNode.Error, refNode.Error) << "node, events " << events;
    ASSERT_EQ(fastNode.Tree, refNode.Tree) << "node, events " << events;
    ASSERT_EQ(fastNode.Events, refNode.Events);
  }
}

// Pieces the tokeniser reacts to.
const std::vector<std::string> kPieces = {
    "<", ">", "/", "</", "/>", "<!--", "-->", "<![CDATA[", "]]>", "<?xml", "<?xml-stylesheet", "?>", "<!", "<?",
    " ", "  ", "\t", "\r", "\n", "\r\n", "=", " = ", "\"", "'", "a", "A", "b", "Shape", "x y", "&amp;", "&lt;",
    "12,5", "<a>", "</a>", "</A>", "<b/>", "< a>", "</ a >", "</a", "<a x=\"1\">", "<a x = '>'>", "é", "\x01", "<\x01a\x7f>"};

std::string RandomPieces(std::mt19937& rng) {
  std::string s;
  const int n = static_cast<int>(rng() % 24);
  for (int i = 0; i < n; ++i) s += kPieces[rng() % kPieces.size()];
  return s;
}

std::string Blank(std::mt19937& rng) {
  static const char* kBlanks[] = {"", "", "", " ", "\r\n", "\n", "\r\n    ", "\t", "\n  \r"};
  return kBlanks[rng() % 9];
}

// A mostly well-formed element tree with varied layout, names, attributes and values.
void RandomElement(std::mt19937& rng, int Depth, std::string& Out) {
  static const char* kNames[] = {"a", "Shape", "DocLeft", "B", "x.y", "Name", "ClassName", "q"};
  static const char* kValues[] = {"", "1", "12.5", "Shape &amp; &lt;1&gt;", "TdtpRectangleShape",
                                  "line\r\nbreak", "  padded  ", "$00FF00FF", "'quoted\"", "a>b"};
  static const char* kAttrs[] = {" Index=\"1\"", " a = 'x y'", " b=\"'\"", "\tc\n=\r\"v\"", " d", " =\"e\"",
                                 " f='g\"h'", " i=\"unterminated"};
  const std::string name = kNames[rng() % 8];
  const uint32_t r = rng() % 16;
  if (r == 0) {
    Out += "<!--" + std::string(kValues[rng() % 10]) + "-->";
    return;
  }
  if (r == 1) {
    Out += "<![CDATA[" + std::string(kValues[rng() % 10]) + "]]>";
    return;
  }
  Out += "<" + name;
  for (uint32_t i = rng() % 3; i > 0; --i) Out += kAttrs[rng() % 8];
  if (r == 2) {
    Out += Blank(rng) + "/>";
    return;
  }
  Out += ">";
  Out += kValues[rng() % 10];
  const int children = Depth < 5 ? static_cast<int>(rng() % 5) : 0;
  for (int i = 0; i < children; ++i) {
    Out += Blank(rng);
    if (rng() % 8 == 0) Out += kValues[rng() % 10];  // text between children is dropped
    RandomElement(rng, Depth + 1, Out);
  }
  Out += Blank(rng);
  Out += "<" + Blank(rng) + "/" + (rng() % 6 == 0 ? std::string("Other") : rng() % 2 ? name : "A") + Blank(rng) + ">";
}

std::string RandomDocument(std::mt19937& rng) {
  std::string s;
  if (rng() % 2) s += "<?xml version=\"1.0\" encoding='windows-1252'?>" + Blank(rng);
  if (rng() % 4 == 0) s += "<?xml-stylesheet type=\"text/xsl\" href=\"a.xsl\"?>" + Blank(rng);
  if (rng() % 3 == 0) s += "<!--top &amp; comment-->" + Blank(rng);
  RandomElement(rng, 0, s);
  s += Blank(rng);
  if (rng() % 10 == 0) s += "<second/>";
  return s;
}

// Cuts, repeats or replaces a few bytes so that errors on every path come up.
void Mutate(std::mt19937& rng, std::string& s) {
  for (uint32_t n = rng() % 3 + 1; n > 0 && !s.empty(); --n) {
    const size_t at = rng() % s.size();
    switch (rng() % 4) {
      case 0: s.resize(at); break;
      case 1: s.erase(at, rng() % 8); break;
      case 2: s.insert(at, kPieces[rng() % kPieces.size()]); break;
      default: s[at] = "<>/=\"' \r\n!?-]"[rng() % 14]; break;
    }
  }
}

TEST(XmlParseReference, FixedCases) {
  for (const char* text :
       {"", " ", "x", "<", "<a", "<a>", "<a></a>", "<a/>", "< a/>", "<a>text</a>", "<a>t<b/>after\r\n</a>",
        "<a>\r\n  <b>1</b>\r\n</a>", "<a>v\r\n<b/>\n</a>", "<a>v\n<b/>x</a>", "<a>< /a>", "<a><", "<a>< ",
        "<a></b>", "<a></a", "<a></A  >", "<a>&amp;<![CDATA[x<y]]></a>", "<!DOCTYPE a><a/>", "<?pi x?><a/>",
        "<a/><b/>", "<!--c-->", "<?xml version='2' encoding=\"utf-8\"?><a/>", "<?xml-stylesheet a?><?xml-stylesheet b?><a/>",
        "<![CDATA[x]]><a/>", "<a b = \"1\" c='2 3' d/>", "<=x/>", "<\"x\"/>", "<a\"b c\"/>", "<x y/>", "</a>",
        "<a><!--", "<a><![CDATA[", "<a><?x", "<a><!x", "<a>\t<b\t/>\t</a>", "  <a/>  \r\n", "<a>é</a>",
        "<a  >x</a\r\n>", "<a/ >", "<a>1<b>2<c>3</c></b></a>"})
    ExpectSame(text);
}

// Tags are split straight into the node unless a word joins the one before it or there are
// more than eight words; both ways must read the same.
TEST(XmlParseReference, TagsOfEveryWordCount) {
  for (int words = 1; words <= 11; ++words) {
    std::string plain = "a", joined = "a", quoted = "\"b c\"";
    for (int i = 1; i < words; ++i) {
      plain += " w" + std::to_string(i) + "=\"" + std::to_string(i) + "\"";
      joined += i == words - 1 ? " w" + std::to_string(i) + " = '" + std::to_string(i) + "'" : " w" + std::to_string(i);
      quoted += " q" + std::to_string(i);
    }
    for (const std::string& tag : {plain, joined, quoted}) {
      ExpectSame("<" + tag + "/>");
      ExpectSame("<" + tag + ">v</a>");
      ExpectSame("<?xml " + tag + "?><" + tag + "/>");
      ExpectSame("<?xml-stylesheet " + tag + "?><r/>");
    }
  }
}

// Close tags are matched in place when they repeat the name exactly; every other close tag
// (other case, blanks, another name, cut off) must end the same way as the reference's.
TEST(XmlParseReference, CloseTagsOfEveryNameLength) {
  for (size_t length = 1; length <= 20; ++length) {
    std::string name;
    for (size_t i = 0; i < length; ++i) name += static_cast<char>('a' + i % 26);
    std::vector<std::string> closes = {name, name + " ", name + "\r\n", name.substr(0, length - 1), name + "x",
                                       name + ">", name + "/"};
    for (size_t i = 0; i < length; ++i) {
      std::string other = name, upper = name;
      other[i] = '_';
      upper[i] = static_cast<char>(upper[i] - 'a' + 'A');
      closes.push_back(other);
      closes.push_back(upper);
    }
    for (const std::string& close : closes) {
      ExpectSame("<" + name + ">v</" + close + ">");
      ExpectSame("<" + name + "><b/></" + close + ">");
      ExpectSame("<" + name + ">v</" + close);
    }
  }
}

// The line break before the first child is cut from the value, whatever kind of break it is.
TEST(XmlParseReference, LayoutBeforeTheFirstChild) {
  for (const char* value : {"", "v", "\r", "\n", "\r\n", "\n\r", "v\r\n  ", "v\n\r  ", "\r\n\r\n", "v\r", "x\ry\nz  "})
    for (const char* after : {"", "\n", "\r", "\r\n", " ", "x\n"}) {
      ExpectSame(std::string("<a>") + value + "<b/>" + after + "</a>");
      ExpectSame(std::string("<a>") + value + "<b/>" + after + "<c/></a>");
    }
}

TEST(XmlParseReference, RandomDocuments) {
  std::mt19937 rng(20261207);
  for (int i = 0; i < 3000; ++i) {
    std::string text = RandomDocument(rng);
    ExpectSame(text);
    Mutate(rng, text);
    ExpectSame(text);
    ExpectSame(RandomPieces(rng));
    if (HasFatalFailure()) return;
  }
}

TEST(XmlParseReference, DeepNesting) {
  for (int depth : {kXmlMaxDepth - 1, kXmlMaxDepth, kXmlMaxDepth + 1}) {
    std::string text;
    for (int i = 0; i < depth; ++i) text += "<e>";
    for (int i = 0; i < depth; ++i) text += "</e>";
    ExpectSame(text);
  }
}

TEST(XmlParseReference, FuzzInputs) {
  int files = 0;
  for (const char* folder : {"fuzz/corpus/fuzz_xml", "fuzz/corpus/fuzz_xml_roundtrip", "fuzz/regressions/fuzz_xml",
                             "fuzz/regressions/fuzz_xml_roundtrip"}) {
    const std::filesystem::path dir = kdtest::SourcePath(folder);
    if (!std::filesystem::is_directory(dir)) continue;
    std::mt19937 rng(7);
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      SCOPED_TRACE(entry.path().string());
      const auto bytes = kdtest::ReadFileBytes(entry.path().string());
      std::string text(bytes.begin(), bytes.end());
      ++files;
      ExpectSame(text);
      for (int i = 0; i < 50; ++i) {
        std::string mutated = text;
        Mutate(rng, mutated);
        ExpectSame(mutated);
      }
      if (HasFatalFailure()) return;
    }
  }
  EXPECT_GE(files, 7);
}

}  // namespace

namespace {

std::string PageText(int Shapes) {
  TXmlDocument doc("Page");
  doc.SetXmlFormat(xfIndented);
  for (int i = 0; i < Shapes; ++i) {
    TXmlNode* s = doc.Root()->NodeNew("Shape");
    s->WriteAttributeInteger("Index", i);
    s->WriteString("Name", "Shape & <" + std::to_string(i) + ">");
    s->WriteInteger("Left", i * 3);
  }
  return doc.WriteToString();
}

// Freed nodes are kept per thread for reuse: nodes made on one thread and freed on another,
// long child lists, nodes taken out of their document and documents read again after many
// frees must all stay whole.
TEST(XmlParseReference, NodesMadeAndFreedAcrossThreads) {
  const std::string text = PageText(300);
  TOutcome expected = ReadDocument(text, true, false);
  ASSERT_TRUE(expected.Error.empty());
  auto doc = std::make_unique<TXmlDocument>();
  std::thread([&] { doc->ReadFromString(text); }).join();
  std::unique_ptr<TXmlNode> kept = doc->Root()->NodeExtract(doc->Root()->GetNode(7));
  doc.reset();  // freed here, made on the other thread
  EXPECT_EQ(kept->ReadString("Name"), "Shape & <7>");
  std::thread([&] {
    for (int i = 0; i < 3; ++i) {
      TXmlDocument again;
      again.ReadFromString(text);
      std::string tree = again.Version() + "|" + again.Encoding() + "|" + again.Stylesheet() + "|";
      Dump(again.Root(), &again, nullptr, tree);
      EXPECT_EQ(tree, expected.Tree);
    }
    kept.reset();  // made on the main thread, freed on this one
  }).join();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(ReadDocument(text, false, false).Tree, expected.Tree);
}

}  // namespace

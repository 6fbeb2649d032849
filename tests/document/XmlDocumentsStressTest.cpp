// The XML model under load: nodes and documents moved between documents and threads, many
// threads reading and freeing at once, malformed text at every position, trees far larger
// than a page, and the node memory kept across many large documents. Run these under the
// address and thread sanitizers too.
#include "document/XmlDocuments.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <fstream>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "document/XmlDocumentsPriv.h"
#include "platform/Exceptions.h"

using namespace document;

namespace {

void Dump(const TXmlNode* Node, std::string& Out) {
  Out += "{" + std::to_string(Node->Kind()) + "[" + Node->Name() + "][" + Node->Value() + "]";
  for (const auto& a : Node->Attributes()) Out += "(" + a + ")";
  for (const auto& c : Node->Nodes()) {
    if (c->Parent() != Node) Out += "!parent";
    Dump(c.get(), Out);
  }
  Out += "}";
}

std::string Tree(const TXmlDocument& Doc) {
  std::string out = Doc.Version() + "|" + Doc.Encoding() + "|" + Doc.Stylesheet() + "|";
  for (const auto& c : Doc.RootComments()) out += c + "|";
  Dump(Doc.Root(), out);
  return out;
}

[[maybe_unused]] std::string Reference(const std::string& Xml) {
  TXmlDocument doc;
  xmlpriv::ReferenceReadDocument(&doc, Xml);
  return Tree(doc);
}

// Nodes of a page: texts held in the strings themselves and on the heap, attributes, and
// now and then a comment or a wide parent (over 64 children).
[[maybe_unused]] std::string PageText(int Shapes, int Tag) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"windows-1252\"?><!--page " + std::to_string(Tag) + "--><Page>";
  for (int i = 0; i < Shapes; ++i) {
    xml += "<Shape Index=\"" + std::to_string(i) + "\" Kind='r'><ClassName>TdtpRectangleShape</ClassName><Left>" +
           std::to_string(i * 3 + Tag) + "</Left><Name>Shape &amp; " + std::to_string(i) +
           " with a name longer than a string holds</Name>";
    if (i % 97 == 5) {
      xml += "<Points>";
      for (int p = 0; p < 70; ++p) xml += "<P>" + std::to_string(p) + "</P>";
      xml += "</Points><!-- points -->";
    }
    xml += "<Empty/></Shape>";
  }
  return xml + "</Page>";
}

[[maybe_unused]] int64_t CountNodes(const TXmlNode* Node) {
  int64_t n = 1;
  for (const auto& c : Node->Nodes()) n += CountNodes(c.get());
  return n;
}

}  // namespace

// A node moved into another document belongs to that document with everything below it: it
// writes typed values and binary data by that document's settings, and lives on safely when
// the document it came from is freed.
TEST(XmlStress, MovedNodesBelongToTheDocumentTheyJoin) {
  auto from = std::make_unique<TXmlDocument>("From");
  from->SetBinaryEncoding(xbeHex);
  from->SetWriteOnDefault(0);
  TXmlNode* shape = from->Root()->NodeNew("Shape");
  shape->NodeNew("Inner")->NodeNew("Deeper");
  shape->WriteInteger("Left", 5, 0);

  TXmlDocument to("To");  // Base64, writes defaults
  TXmlNode* moved = to.Root()->NodeAdd(from->Root()->NodeExtract(shape));
  ASSERT_EQ(moved, shape);
  from.reset();
  EXPECT_EQ(moved->Document(), &to);
  EXPECT_EQ(moved->NodeByName("Inner")->Document(), &to);
  EXPECT_EQ(moved->NodeByName("Inner")->NodeByName("Deeper")->Document(), &to);

  // Written by the settings of the document it is in now.
  moved->WriteInteger("Zero", 0, 0);
  EXPECT_NE(moved->NodeByName("Zero"), nullptr);
  const std::string bytes = "\x01\x02\xFFxyz";
  TXmlNode* deeper = moved->NodeByName("Inner")->NodeByName("Deeper");
  deeper->BufferWrite(bytes.data(), static_cast<int32_t>(bytes.size()));
  EXPECT_EQ(deeper->Value(), EncodeBase64(bytes.data(), static_cast<int32_t>(bytes.size())));
  EXPECT_EQ(deeper->NodeNew("Leaf")->Document(), &to);
  std::string copy;
  {
    TXmlNode assigned(&to);
    assigned.Assign(moved);
    copy = assigned.WriteToString();
  }
  EXPECT_EQ(copy, moved->WriteToString());

  TXmlDocument read;
  read.ReadFromString(to.WriteToString());
  const TXmlNode* back = read.Root()->NodeByName("Shape")->NodeByName("Inner")->NodeByName("Deeper");
  ASSERT_NE(back, nullptr);
  char got[16] = {};
  ASSERT_EQ(back->BufferRead(got, sizeof got), static_cast<int32_t>(bytes.size()));
  EXPECT_EQ(std::string(got, bytes.size()), bytes);

  // A node made without a document, moved in, and moved on to a third document.
  auto loose = TXmlNode::CreateName(nullptr, "Loose");
  loose->NodeNew("Child");
  TXmlNode* l = to.Root()->NodeAdd(std::move(loose));
  EXPECT_EQ(l->NodeByName("Child")->Document(), &to);
  TXmlDocument third("Third");
  third.Root()->NodeAdd(to.Root()->NodeExtract(l));
  EXPECT_EQ(l->Document(), &third);
  EXPECT_EQ(l->NodeByName("Child")->Document(), &third);
}

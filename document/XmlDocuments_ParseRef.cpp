// The tokeniser as first written, kept as a plain reference: the fast parser must build the
// same tree and raise the same messages (checked by the tests).
#include <algorithm>
#include <cstring>

#include "document/XmlDocuments.h"
#include "document/XmlDocumentsPriv.h"
#include "platform/SysUtils.h"

namespace document {

using platform::EFilerError;
using xmlpriv::IsQuote;
using xmlpriv::IsXmlSpace;

// Tokenises text held in memory; the node structure is built as it goes.
class TXmlReferenceParser {
 public:
  TXmlReferenceParser(std::string_view Text, TXmlDocument* Document, int64_t Base)
      : FBegin(Text.data()), FEnd(Text.data() + Text.size()), FCur(FBegin), FDocument(Document),
        FBase(Base) {}

  bool AtEnd() const { return FCur >= FEnd; }
  size_t Consumed() const { return static_cast<size_t>(FCur - FBegin); }

  // Parses one node into Node; leaves Node without a name when no "<" came (a stray
  // character is consumed so that callers looping to the end always advance).
  void ParseNode(TXmlNode* Node, int Depth) {
    while (FCur < FEnd && IsXmlSpace(*FCur)) ++FCur;
    if (FCur >= FEnd) return;
    if (*FCur != '<') {
      ++FCur;
      return;
    }
    const std::string_view rest(FCur, static_cast<size_t>(FEnd - FCur));
    TXmlNodeKind kind = xnElement;
    std::string_view open = "<", close = ">";
    // The longest opening text that matches; the second character tells the families apart.
    const char second = rest.size() > 1 ? rest[1] : '\0';
    if (second == '!') {
      if (rest.starts_with("<![CDATA["))
        kind = xnCData, open = "<![CDATA[", close = "]]>";
      else if (rest.starts_with("<!--"))
        kind = xnComment, open = "<!--", close = "-->";
      else
        kind = xnUnknown, open = "<!", close = ">";
    } else if (second == '?') {
      if (rest.starts_with("<?xml-stylesheet"))
        kind = xnStylesheet, open = "<?xml-stylesheet", close = "?>";
      else if (rest.starts_with("<?xml"))
        kind = xnDeclaration, open = "<?xml", close = "?>";
      else
        kind = xnUnknown, open = "<?", close = "?>";
    } else if (second == '/') {
      kind = xnCloseTag, open = "</", close = ">";
    }
    Node->FKind = kind;
    const size_t closePos = close.size() == 1
                                ? rest.find(close[0], open.size())
                                : rest.find(close, open.size());
    if (kind != xnElement && kind != xnDeclaration && kind != xnStylesheet) {
      Node->FName = kind == xnComment ? "Comment" : kind == xnCData ? "CData" : "Unknown";
      NodeNew(Node);
      if (closePos == std::string_view::npos) Unterminated(close);
      if (kind == xnComment || kind == xnCData) {
        Node->FValue.assign(rest.substr(open.size(), closePos - open.size()));
      } else {
        // Keep the markers ("!DOCTYPE x", "?pi?", "/x") so that writing "<%s>" restores the text.
        Node->FValue.assign(rest.substr(1, closePos + close.size() - 2));
      }
      FCur += closePos + close.size();
      NodeLoaded(Node);
      return;
    }
    if (closePos == std::string_view::npos) Unterminated(close);
    std::string_view tag = rest.substr(open.size(), closePos - open.size());
    FCur += closePos + close.size();
    if (kind == xnElement) {
      if (Depth > kXmlMaxDepth)
        throw EFilerError("Element nesting deeper than " + std::to_string(kXmlMaxDepth) +
                          " levels in element " + (Node->FParent ? Node->FParent->FName : std::string()));
      if (!tag.empty() && tag.back() == '/') {
        Node->FKind = kind = xnClosedElement;
        tag.remove_suffix(1);
      }
    }
    SplitTag(Node, tag, kind);
    NodeNew(Node);
    if (kind == xnElement) ParseContent(Node, Depth);
    NodeLoaded(Node);
  }

 static void ReadDocument(TXmlDocument* Doc, std::string_view Text);
  static void ReadNode(TXmlNode* Node, std::string_view Text, size_t& Consumed) {
    TXmlReferenceParser parser(Text, Node->FDocument, 0);
    try {
      parser.ParseNode(Node, 1);
    } catch (...) {
      Consumed = parser.Consumed();
      throw;
    }
    Consumed = parser.Consumed();
  }

 private:
  [[noreturn]] void Unterminated(std::string_view Close) {
    throw EFilerError("Missing \"" + std::string(Close) + "\" before the end of the xml");
  }

  void NodeNew(TXmlNode* Node) {
    if (FDocument && FDocument->OnNodeNew) FDocument->OnNodeNew(FDocument, Node);
  }

  void NodeLoaded(TXmlNode* Node) {
    if (!FDocument) return;
    if (FDocument->OnNodeLoaded) FDocument->OnNodeLoaded(FDocument, Node);
    FDocument->DoProgress(FBase + static_cast<int64_t>(Consumed()));
  }

  // Words split at blanks outside quotes; "=" and quoted words join the word before them so
  // that a = "1" reads as a="1".
  void SplitTag(TXmlNode* Node, std::string_view Tag, TXmlNodeKind Kind) {
    const bool plain = std::none_of(Tag.begin(), Tag.end(), [](char c) { return IsXmlSpace(c) || IsQuote(c) || c == '='; });
    if (plain && Kind != xnDeclaration && Kind != xnStylesheet) {
      // Only a name: no attributes, no blanks to check.
      if (Tag.empty()) throw EFilerError("Missing element name");
      Node->FName.assign(Tag);
      return;
    }
    std::vector<std::string> words;
    if (plain) {
      if (!Tag.empty()) words.emplace_back(Tag);
    } else {
      std::string word;
      char quote = 0;
      auto flush = [&] {
        if (word.empty()) return;
        if (!words.empty() && (word[0] == '=' || IsQuote(word[0])))
          words.back() += word;
        else
          words.push_back(std::move(word));
        word.clear();
      };
      for (char c : Tag) {
        if (quote) {
          word += c;
          if (c == quote) quote = 0;
        } else if (IsXmlSpace(c)) {
          flush();
        } else {
          if (IsQuote(c)) quote = c;
          word += c;
        }
      }
      flush();
    }
    if (Kind == xnDeclaration || Kind == xnStylesheet) {
      Node->FName = Kind == xnDeclaration ? "xml" : "xml-stylesheet";
      Node->FAttributes = std::move(words);
      return;
    }
    if (words.empty()) throw EFilerError("Missing element name");
    Node->SetName(words[0]);
    Node->FAttributes.assign(std::make_move_iterator(words.begin() + 1), std::make_move_iterator(words.end()));
  }

  void ParseContent(TXmlNode* Node, int Depth) {
    bool hasChild = false;
    bool breakAfterLast = false;
    for (;;) {
      const auto* lt = static_cast<const char*>(std::memchr(FCur, '<', static_cast<size_t>(FEnd - FCur)));
      const char* stop = lt ? lt : FEnd;
      if (!hasChild) {
        Node->FValue.append(FCur, stop);
      } else if (!breakAfterLast && stop > FCur) {
        breakAfterLast = std::any_of(FCur, stop, [](char c) { return c == '\r' || c == '\n'; });
      }
      if (!lt) throw EFilerError("Missing close tag in element " + Node->FName);
      FCur = lt + 1;
      while (FCur < FEnd && IsXmlSpace(*FCur)) ++FCur;
      if (FCur >= FEnd) throw EFilerError("Missing data after \"<\" in element " + Node->FName);
      if (*FCur == '/') {
        ++FCur;
        const auto* gt = static_cast<const char*>(std::memchr(FCur, '>', static_cast<size_t>(FEnd - FCur)));
        if (!gt) throw EFilerError("Missing \">\" in close tag of element " + Node->FName);
        std::string_view closeName(FCur, static_cast<size_t>(gt - FCur));
        while (!closeName.empty() && IsXmlSpace(closeName.back())) closeName.remove_suffix(1);
        FCur = gt + 1;
        if (closeName != Node->FName && !platform::SameText(closeName, Node->FName))
          throw EFilerError("Incorrect close tag in element " + Node->FName);
        break;
      }
      FCur = lt;
      auto child = std::make_unique<TXmlNode>(FDocument);
      child->FParent = Node;
      TXmlNode* c = child.get();
      if (Node->FNodes.empty()) Node->FNodes.reserve(8);
      Node->FNodes.push_back(std::move(child));
      ParseNode(c, Depth + 1);
      hasChild = true;
      breakAfterLast = false;
    }
    // The line break and indentation written before the first child are layout, not value.
    if (hasChild && breakAfterLast) {
      std::string& v = Node->FValue;
      const size_t lb = v.find_last_of("\r\n");
      if (lb != std::string::npos) {
        size_t cut = lb;
        if (v[lb] == '\n' && lb > 0 && v[lb - 1] == '\r') cut = lb - 1;
        v.resize(cut);
      }
    }
  }

  const char* FBegin;
  const char* FEnd;
  const char* FCur;
  TXmlDocument* FDocument;
  int64_t FBase;
};

void TXmlReferenceParser::ReadDocument(TXmlDocument* Doc, std::string_view Text) {
  Doc->Clear();
  Doc->DoProgress(0);
  // Top-level nodes are collected under a holder, as children, so events see a parent.
  TXmlNode holder(Doc);
  TXmlReferenceParser parser(Text, Doc, 0);
  while (!parser.AtEnd()) {
    auto node = std::make_unique<TXmlNode>(Doc);
    node->FParent = &holder;
    TXmlNode* n = node.get();
    holder.FNodes.push_back(std::move(node));
    parser.ParseNode(n, 1);
    if (n->FName.empty()) holder.FNodes.pop_back();
  }
  TXmlNode* root = nullptr;
  for (const auto& n : holder.FNodes) {
    if (n->FKind != xnElement && n->FKind != xnClosedElement) continue;
    if (root) throw EFilerError("More than one root element found in xml");
    root = n.get();
  }
  if (!root) throw EFilerError("No root element found in xml");
  std::string version = Doc->FVersion, encoding = Doc->FEncoding, stylesheet = Doc->FStylesheet;
  std::vector<std::string> comments = Doc->FRootComments;
  bool hadStylesheet = false;
  for (const auto& n : holder.FNodes) {
    switch (n->FKind) {
      case xnDeclaration:
        version = n->ReadAttributeString("version", version);
        encoding = n->ReadAttributeString("encoding", encoding);
        break;
      case xnStylesheet: {
        if (hadStylesheet) throw EFilerError("Multiple stylesheets in root not supported");
        hadStylesheet = true;
        std::string s = n->GetAttributesText();
        stylesheet = s.empty() ? s : s.substr(1);
        break;
      }
      case xnComment:
        comments.push_back(XmlUnescape(n->FValue));
        break;
      case xnCData:
        throw EFilerError("No CDATA allowed in root");
      default:
        break;
    }
  }
  Doc->FVersion = std::move(version);
  Doc->FEncoding = std::move(encoding);
  Doc->FStylesheet = std::move(stylesheet);
  Doc->FRootComments = std::move(comments);
  Doc->FRoot = holder.NodeExtract(root);
  if (Doc->OnProgress) Doc->DoProgress(static_cast<int64_t>(Text.size()));
}


namespace xmlpriv {

void ReferenceReadDocument(TXmlDocument* Document, std::string_view Text) {
  TXmlReferenceParser::ReadDocument(Document, Text);
}

void ReferenceReadNode(TXmlNode* Node, std::string_view Text, size_t& Consumed) {
  TXmlReferenceParser::ReadNode(Node, Text, Consumed);
}

}  // namespace xmlpriv

}  // namespace document

// The tokeniser and the writer of the XML model, and the node and document operations that
// read or write text.
#include <algorithm>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "document/XmlDocuments.h"
#include "document/XmlDocumentsPriv.h"
#include "platform/SysUtils.h"
#include "platform/TextCodec.h"

namespace document {

using platform::EFilerError;
using platform::TStream;
using xmlpriv::IsQuote;
using xmlpriv::IsXmlSpace;
using xmlpriv::ReadRest;
using xmlpriv::WriteAll;

// --- parser --------------------------------------------------------------------------------

namespace {

// Character classes of the tokeniser, one table look-up per character.
enum : uint8_t { kcSpace = 1, kcQuote = 2, kcEquals = 4, kcGreater = 8, kcLess = 16, kcLineEnd = 32 };

struct TCharClasses {
  uint8_t v[256];
  constexpr TCharClasses() : v() {
    Set(' ', kcSpace);
    Set('\t', kcSpace);
    Set('\r', kcSpace | kcLineEnd);
    Set('\n', kcSpace | kcLineEnd);
    Set('"', kcQuote);
    Set('\'', kcQuote);
    Set('=', kcEquals);
    Set('>', kcGreater);
    Set('<', kcLess);
  }
  constexpr void Set(char c, int Classes) { v[static_cast<uint8_t>(c)] = static_cast<uint8_t>(Classes); }
  uint8_t operator[](char c) const { return v[static_cast<uint8_t>(c)]; }
};
constexpr TCharClasses kClass;

inline bool SameName(std::string_view A, std::string_view B) {
  size_t n = A.size();
  if (n != B.size()) return false;
  const char* x = A.data();
  const char* y = B.data();
  for (; n >= 8; n -= 8, x += 8, y += 8) {
    uint64_t u, v;
    std::memcpy(&u, x, 8);
    std::memcpy(&v, y, 8);
    if (u != v) return false;
  }
  if (n >= 4) {  // the first and the last four characters, overlapping
    uint32_t u1, v1, u2, v2;
    std::memcpy(&u1, x, 4);
    std::memcpy(&v1, y, 4);
    std::memcpy(&u2, x + n - 4, 4);
    std::memcpy(&v2, y + n - 4, 4);
    return u1 == v1 && u2 == v2;
  }
  for (; n > 0; --n, ++x, ++y)
    if (*x != *y) return false;
  return true;
}

// Scanners over [P, End): whole blocks of 16 characters where the text has them, one
// character at a time at its end.
#if defined(__SSE2__)
inline uint32_t MaskOf(__m128i Block, char C) {
  return static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(Block, _mm_set1_epi8(C))));
}
#endif

// The first C, or End.
inline const char* FindChar(const char* P, const char* End, char C) {
#if defined(__SSE2__)
  for (; End - P >= 16; P += 16) {
    const uint32_t m = MaskOf(_mm_loadu_si128(reinterpret_cast<const __m128i*>(P)), C);
    if (m) return P + __builtin_ctz(m);
  }
#endif
  for (; P < End; ++P)
    if (*P == C) return P;
  return End;
}

// The first "<", or End; LineEnd is set when a CR or LF comes before it.
inline const char* FindLessNoteLineEnd(const char* P, const char* End, bool& LineEnd) {
#if defined(__SSE2__)
  for (; End - P >= 16; P += 16) {
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(P));
    const uint32_t lt = MaskOf(b, '<');
    const uint32_t le = MaskOf(b, '\r') | MaskOf(b, '\n');
    if (lt) {
      if (le & ((lt & (0u - lt)) - 1)) LineEnd = true;
      return P + __builtin_ctz(lt);
    }
    if (le) LineEnd = true;
  }
#endif
  for (; P < End; ++P) {
    const uint8_t c = kClass[*P];
    if (c & kcLess) return P;
    if (c & kcLineEnd) LineEnd = true;
  }
  return End;
}

// The first ">", or End; Plain is cleared when a blank, quote or "=" comes before it (the
// block scan also clears it for other control characters: that only sends the tag the
// general way, which reads a plain name the same).
inline const char* FindGreaterNotePlain(const char* P, const char* End, bool& Plain) {
#if defined(__SSE2__)
  for (; End - P >= 16; P += 16) {
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(P));
    const uint32_t gt = MaskOf(b, '>');
    const __m128i blank = _mm_cmpeq_epi8(_mm_max_epu8(b, _mm_set1_epi8(' ')), _mm_set1_epi8(' '));  // <= 32
    const uint32_t other = static_cast<uint32_t>(_mm_movemask_epi8(blank)) | MaskOf(b, '"') | MaskOf(b, '\'') |
                           MaskOf(b, '=');
    if (gt) {
      if (other & ((gt & (0u - gt)) - 1)) Plain = false;
      return P + __builtin_ctz(gt);
    }
    if (other) Plain = false;
  }
#endif
  for (; P < End; ++P) {
    const uint8_t c = kClass[*P];
    if (c & kcGreater) return P;
    if (c & (kcSpace | kcQuote | kcEquals)) Plain = false;
  }
  return End;
}

// The tokeniser's 16-character scans use the SSE2 encoding. While the upper halves of the
// vector registers are marked in use (left so by AVX code elsewhere in the process without a
// closing vzeroupper; a Qt library does so while it loads) every such instruction pays a
// transition penalty on the processors we run on, which made parsing nearly twice as slow.
// Clearing them costs one instruction per parse.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
[[gnu::target("avx"), gnu::noinline]] void ZeroUpperAvx() { __builtin_ia32_vzeroupper(); }
inline void ClearUpperVectorState() {
  // Also right for a parse made while static objects are constructed.
  static const bool avx = (__builtin_cpu_init(), __builtin_cpu_supports("avx"));
  if (avx) ZeroUpperAvx();
}
#else
inline void ClearUpperVectorState() {}
#endif

}  // namespace

// Tokenises text held in memory; the node structure is built as it goes. Gives the same
// nodes, events and errors as the reference tokeniser (XmlDocuments_ParseRef.cpp).
class TXmlParser {
 public:
  TXmlParser(std::string_view Text, TXmlDocument* Document, int64_t Base)
      : FBegin(Text.data()), FEnd(Text.data() + Text.size()), FCur(FBegin), FDocument(Document),
        FBase(Base), FNodeEvents(Document && (Document->OnNodeNew || Document->OnNodeLoaded)),
        FCalls(FNodeEvents || (Document && Document->OnProgress)),
        FPending(gPending) {
    ClearUpperVectorState();
  }

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
    const char second = FEnd - FCur > 1 ? FCur[1] : '\0';
    if (second != '!' && second != '?' && second != '/') {
      ParseElement(Node, Depth);
      return;
    }
    const std::string_view rest(FCur, static_cast<size_t>(FEnd - FCur));
    TXmlNodeKind kind;
    std::string_view open, close;
    // The longest opening text that matches; the second character tells the families apart.
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
    } else {
      kind = xnCloseTag, open = "</", close = ">";
    }
    Node->FKind = kind;
    const size_t closePos = close.size() == 1
                                ? rest.find(close[0], open.size())
                                : rest.find(close, open.size());
    if (kind != xnDeclaration && kind != xnStylesheet) {
      Node->FName = kind == xnComment ? "Comment" : kind == xnCData ? "CData" : "Unknown";
      NodeNew(Node);
      if (closePos == std::string_view::npos) Unterminated(close);
      if (kind == xnComment || kind == xnCData) {
        xmlpriv::AssignText(Node->FValue, FCur + open.size(), closePos - open.size());
      } else {
        // Keep the markers ("!DOCTYPE x", "?pi?", "/x") so that writing "<%s>" restores the text.
        xmlpriv::AssignText(Node->FValue, FCur + 1, closePos + close.size() - 2);
      }
      FCur += closePos + close.size();
      NodeLoaded(Node);
      return;
    }
    if (closePos == std::string_view::npos) Unterminated(close);
    const std::string_view tag = rest.substr(open.size(), closePos - open.size());
    FCur += closePos + close.size();
    SplitTag(Node, tag, kind);
    NodeNew(Node);
    NodeLoaded(Node);
  }

 private:
  // An element from its "<": the tag is scanned once, noting whether it holds more than a name.
  void ParseElement(TXmlNode* Node, int Depth) {
    Node->FKind = xnElement;
    bool plain = true;
    const char* p = FindGreaterNotePlain(FCur + 1, FEnd, plain);
    if (p == FEnd) Unterminated(">");
    std::string_view tag(FCur + 1, static_cast<size_t>(p - FCur - 1));
    FCur = p + 1;
    if (Depth > kXmlMaxDepth)
      throw EFilerError("Element nesting deeper than " + std::to_string(kXmlMaxDepth) + " levels in element " +
                        (Node->FParent ? Node->FParent->FName : std::string()));
    TXmlNodeKind kind = xnElement;
    if (!tag.empty() && tag.back() == '/') {
      Node->FKind = kind = xnClosedElement;
      tag.remove_suffix(1);
    }
    if (!plain) {
      SplitTag(Node, tag, kind);
    } else {
      // Only a name: no attributes, no blanks to check.
      if (tag.empty()) throw EFilerError("Missing element name");
      xmlpriv::AssignText(Node->FName, tag.data(), tag.size());
    }
    NodeNew(Node);
    if (kind == xnElement) {
      // Mostly a leaf: its text, then its own close tag exactly as opened (what ParseContent
      // would read the same way).
      const char* lt = FindChar(FCur, FEnd, '<');
      const std::string& name = Node->FName;
      const size_t n = name.size();
      if (static_cast<size_t>(FEnd - lt) > n + 2 && lt[1] == '/' && lt[n + 2] == '>' &&
          SameName(std::string_view(lt + 2, n), name)) {
        if (lt != FCur) {
          if (Node->FValue.empty())
            xmlpriv::AssignText(Node->FValue, FCur, static_cast<size_t>(lt - FCur));
          else
            Node->FValue.append(FCur, static_cast<size_t>(lt - FCur));
        }
        FCur = lt + n + 3;
      } else {
        ParseContent(Node, Depth);
      }
    }
    NodeLoaded(Node);
  }

  [[noreturn]] void Unterminated(std::string_view Close) {
    throw EFilerError("Missing \"" + std::string(Close) + "\" before the end of the xml");
  }

  void NodeNew(TXmlNode* Node) {
    if (FNodeEvents && FDocument->OnNodeNew) FDocument->OnNodeNew(FDocument, Node);
  }

  void NodeLoaded(TXmlNode* Node) {
    if (!FCalls) return;
    if (FNodeEvents && FDocument->OnNodeLoaded) FDocument->OnNodeLoaded(FDocument, Node);
    if (FDocument->OnProgress) FDocument->DoProgress(FBase + static_cast<int64_t>(Consumed()));
  }

  // Words split at blanks outside quotes; "=" and quoted words join the word before them so
  // that a = "1" reads as a="1". Tags whose words stand apart (the usual case) are taken
  // straight from the text; the others go through SplitTagJoined.
  void SplitTag(TXmlNode* Node, std::string_view Tag, TXmlNodeKind Kind) {
    constexpr size_t kMaxWords = 8;
    std::string_view words[kMaxWords];
    size_t n = 0;
    const char* p = Tag.data();
    const char* const end = p + Tag.size();
    for (;;) {
      while (p < end && (kClass[*p] & kcSpace)) ++p;
      if (p >= end) break;
      if (n > 0 && (*p == '=' || IsQuote(*p))) return SplitTagJoined(Node, Tag, Kind);
      if (n == kMaxWords) return SplitTagJoined(Node, Tag, Kind);
      const char* start = p;
      p = WordEnd(p, end);
      words[n++] = std::string_view(start, static_cast<size_t>(p - start));
    }
    size_t first = 0;
    if (Kind == xnDeclaration || Kind == xnStylesheet) {
      Node->FName = Kind == xnDeclaration ? "xml" : "xml-stylesheet";
    } else {
      if (n == 0) throw EFilerError("Missing element name");
      const std::string_view name = words[0];
      // Only a quoted part can hold a blank, and only a name after a blank can begin with "!",
      // "?" or "/"; SetName raises for them.
      if (name[0] == '!' || name[0] == '?' || name[0] == '/' ||
          std::any_of(name.begin(), name.end(), [](char c) { return (kClass[c] & kcSpace) != 0; }))
        Node->SetName(std::string(name));
      xmlpriv::AssignText(Node->FName, name.data(), name.size());
      first = 1;
    }
    std::vector<std::string>& attributes = Node->FAttributes;
    attributes.clear();
    xmlpriv::ReserveAttributes(attributes, n - first);
    for (size_t i = first; i < n; ++i) attributes.emplace_back(words[i]);
  }

  // The end of the word starting at P: the next blank outside quotes, or End.
  static const char* WordEnd(const char* P, const char* End) {
    for (; P < End; ++P) {
      const uint8_t k = kClass[*P];
      if (k & kcSpace) break;
      if (k & kcQuote) {
        // Up to the closing quote; without one the word runs to the end.
        P = FindChar(P + 1, End, *P);
        if (P == End) break;
      }
    }
    return P;
  }

  void SplitTagJoined(TXmlNode* Node, std::string_view Tag, TXmlNodeKind Kind) {
    std::vector<std::string> words;
    const char* p = Tag.data();
    const char* const end = p + Tag.size();
    for (;;) {
      while (p < end && (kClass[*p] & kcSpace)) ++p;
      if (p >= end) break;
      const char* start = p;
      p = WordEnd(p, end);
      const std::string_view word(start, static_cast<size_t>(p - start));
      if (!words.empty() && (word[0] == '=' || IsQuote(word[0])))
        words.back() += word;
      else
        words.emplace_back(word);
    }
    if (Kind == xnDeclaration || Kind == xnStylesheet) {
      Node->FName = Kind == xnDeclaration ? "xml" : "xml-stylesheet";
      Node->FAttributes = std::move(words);
      return;
    }
    if (words.empty()) throw EFilerError("Missing element name");
    Node->SetName(words[0]);
    words.erase(words.begin());
    Node->FAttributes = std::move(words);
  }

  [[gnu::always_inline]] void ParseContent(TXmlNode* Node, int Depth) {
    // Without node events nobody sees a parent's children while they are read, so they wait
    // on a stack shared by all levels and move to the parent in one exact-sized piece.
    const size_t base = FPending.size();
    try {
      ParseContentItems(Node, Depth);
    } catch (...) {
      AdoptPending(Node, base);
      throw;
    }
    AdoptPending(Node, base);
  }

  void AdoptPending(TXmlNode* Node, size_t Base) {
    const size_t n = FPending.size() - Base;
    if (n == 0) return;
    const auto first = FPending.begin() + static_cast<std::ptrdiff_t>(Base);
    if (Node->FNodes.empty()) xmlpriv::ReserveNodes(Node->FNodes, n);
    Node->FNodes.insert(Node->FNodes.end(), std::make_move_iterator(first), std::make_move_iterator(FPending.end()));
    FPending.erase(first, FPending.end());
  }

  [[gnu::always_inline]] void ParseContentItems(TXmlNode* Node, int Depth) {
    bool hasChild = false;
    bool breakAfterLast = false;
    for (;;) {
      const char* lt;
      if (!hasChild) {
        lt = FindChar(FCur, FEnd, '<');
        if (lt != FCur) {
          if (Node->FValue.empty())
            xmlpriv::AssignText(Node->FValue, FCur, static_cast<size_t>(lt - FCur));
          else
            Node->FValue.append(FCur, static_cast<size_t>(lt - FCur));
        }
      } else {
        lt = FindLessNoteLineEnd(FCur, FEnd, breakAfterLast);
      }
      if (lt == FEnd) throw EFilerError("Missing close tag in element " + Node->FName);
      FCur = lt + 1;
      while (FCur < FEnd && IsXmlSpace(*FCur)) ++FCur;
      if (FCur >= FEnd) throw EFilerError("Missing data after \"<\" in element " + Node->FName);
      if (*FCur == '/') {
        const char* nameStart = ++FCur;
        // Mostly the name exactly as opened and the ">" (a name read from a tag holds no ">").
        const std::string& name = Node->FName;
        if (static_cast<size_t>(FEnd - nameStart) > name.size() && nameStart[name.size()] == '>' &&
            SameName(std::string_view(nameStart, name.size()), name)) {
          FCur = nameStart + name.size() + 1;
          break;
        }
        const char* gt = FindChar(nameStart, FEnd, '>');
        if (gt == FEnd) throw EFilerError("Missing \">\" in close tag of element " + Node->FName);
        const char* nameEnd = gt;
        while (nameEnd > nameStart && IsXmlSpace(nameEnd[-1])) --nameEnd;
        const std::string_view closeName(nameStart, static_cast<size_t>(nameEnd - nameStart));
        FCur = gt + 1;
        if (!SameName(closeName, Node->FName) && !platform::SameText(closeName, Node->FName))
          throw EFilerError("Incorrect close tag in element " + Node->FName);
        break;
      }
      FCur = lt;
      std::unique_ptr<TXmlNode> child(::new (xmlpriv::AllocNodeBlock()) TXmlNode(FDocument));
      child->FParent = Node;
      TXmlNode* c = child.get();
      if (FNodeEvents) {
        if (Node->FNodes.empty()) Node->FNodes.reserve(8);
        Node->FNodes.push_back(std::move(child));
      } else {
        FPending.push_back(std::move(child));
      }
      // An element straight away: most children are one, and each call level costs.
      const char second = lt[1];
      if (second != '!' && second != '?' && second != '/')
        ParseElement(c, Depth + 1);
      else
        ParseNode(c, Depth + 1);
      hasChild = true;
      breakAfterLast = false;
    }
    // The line break and indentation written before the first child are layout, not value.
    if (hasChild && breakAfterLast) {
      std::string& v = Node->FValue;
      size_t lb = v.size();
      while (lb > 0 && v[lb - 1] != '\r' && v[lb - 1] != '\n') --lb;
      if (lb > 0) {
        size_t cut = lb - 1;
        if (v[cut] == '\n' && cut > 0 && v[cut - 1] == '\r') --cut;
        v.resize(cut);
      }
    }
  }

  const char* FBegin;
  const char* FEnd;
  const char* FCur;
  TXmlDocument* FDocument;
  int64_t FBase;
  bool FNodeEvents;
  // Some event or progress handler is set. Without one at the start none can be set while
  // reading (no handler runs), and the checks per node are left out.
  bool FCalls;
  // Kept per thread so that its capacity is not allocated again for every document (a large
  // block would make the allocator merge all the small ones just freed). Used as a stack, so
  // a parse started from a progress event works on top of the outer one.
  std::vector<std::unique_ptr<TXmlNode>>& FPending;
  static thread_local std::vector<std::unique_ptr<TXmlNode>> gPending;
};

thread_local std::vector<std::unique_ptr<TXmlNode>> TXmlParser::gPending;

// --- writer --------------------------------------------------------------------------------

class TXmlWriter {
 public:
  TXmlWriter(std::string& Out, const TXmlDocument* Document, int64_t Base)
      : FOut(Out), FDocument(Document), FBase(Base) {
    const uint8_t format = Document ? Document->FXmlFormat : xfCompact;
    FIndent = format == xfIndented;
    FLineBreak = format == xfIndented ? "\r\n" : format == xfLinefeed ? "\n" : "";
  }

  void WriteNode(const TXmlNode* Node, int Level) {
    const size_t indent = FIndent ? static_cast<size_t>(Level) * 2 : 0;
    FOut.append(indent, ' ');
    switch (Node->FKind) {
      case xnComment:
        FOut.append("<!--").append(Node->FValue).append("-->");
        break;
      case xnCData:
        FOut.append("<![CDATA[").append(Node->FValue).append("]]>");
        break;
      case xnDeclaration:
        FOut.append("<?xml").append(Node->GetAttributesText()).append("?>");
        break;
      case xnStylesheet:
        FOut.append("<?xml-stylesheet").append(Node->GetAttributesText()).append("?>");
        break;
      case xnElement:
      case xnClosedElement: {
        FOut += '<';
        FOut += Node->FName;
        for (const auto& a : Node->FAttributes) {
          FOut += ' ';
          FOut += a;
        }
        const bool empty = Node->FValue.empty() && Node->FNodes.empty();
        if (empty)
          FOut += '/';
        else if (FOut.back() == '/')
          FOut += ' ';  // a "/" right before the ">" would read back as closing the element
        FOut += '>';
        FOut += Node->FValue;
        if (!Node->FNodes.empty()) {
          // A value ending in CR followed by a bare LF would read back as one CR LF break,
          // cut away with the layout; a full CR LF keeps that CR.
          if (FLineBreak == "\n" && !Node->FValue.empty() && Node->FValue.back() == '\r') FOut += '\r';
          FOut += FLineBreak;
          for (const auto& child : Node->FNodes) {
            WriteNode(child.get(), Level + 1);
            FOut += FLineBreak;
          }
        }
        if (!empty) {
          if (!Node->FNodes.empty()) FOut.append(indent, ' ');
          FOut.append("</").append(Node->FName).append(">");
        }
        break;
      }
      default:
        FOut.append("<").append(Node->FValue).append(">");
        break;
    }
    if (FDocument) FDocument->DoProgress(FBase + static_cast<int64_t>(FOut.size()));
  }

  std::string_view LineBreak() const { return FLineBreak; }

  // An upper bound of the text WriteNode produces, so the output grows only once.
  size_t Estimate(const TXmlNode* Node, int Level) const {
    size_t n = 2 * Node->FName.size() + Node->FValue.size() + 16 + FLineBreak.size() +
               (FIndent ? 2 * static_cast<size_t>(Level) : 0);
    for (const auto& a : Node->FAttributes) n += a.size() + 1;
    for (const auto& child : Node->FNodes) n += Estimate(child.get(), Level + 1) + FLineBreak.size();
    return n;
  }

 private:
  std::string& FOut;
  const TXmlDocument* FDocument;
  int64_t FBase;
  bool FIndent;
  std::string_view FLineBreak;
};

namespace {
int Ancestors(const TXmlNode* Node) {
  int n = 0;
  for (const TXmlNode* p = Node->Parent(); p; p = p->Parent()) ++n;
  return n;
}
}  // namespace

void TXmlNode::ParseStream(TStream* Stream) {
  std::string owned;
  const std::string_view text = ReadRest(Stream, owned);
  const int64_t end = Stream->Position();
  const int64_t base = end - static_cast<int64_t>(text.size());
  TXmlParser parser(text, FDocument, base);
  try {
    parser.ParseNode(this, 1);
  } catch (...) {
    Stream->Seek(base + static_cast<int64_t>(parser.Consumed()), platform::soFromBeginning);
    throw;
  }
  Stream->Seek(base + static_cast<int64_t>(parser.Consumed()), platform::soFromBeginning);
}

void TXmlNode::ReadFromString(const std::string& Text) {
  TXmlParser parser(Text, FDocument, 0);
  parser.ParseNode(this, 1);
}

void TXmlNode::WriteToStream(TStream* Stream) const {
  const int64_t base = FDocument && FDocument->OnProgress ? Stream->Position() : 0;
  std::string out;
  TXmlWriter writer(out, FDocument, base);
  out.reserve(writer.Estimate(this, Ancestors(this)));
  writer.WriteNode(this, Ancestors(this));
  WriteAll(Stream, out);
}

std::string TXmlNode::WriteToString() const {
  std::string out;
  TXmlWriter writer(out, FDocument, 0);
  out.reserve(writer.Estimate(this, Ancestors(this)));
  writer.WriteNode(this, Ancestors(this));
  return out;
}

void TXmlDocument::ParseStream(TStream* Stream) {
  std::string owned;
  const std::string_view text = ReadRest(Stream, owned);
  const int64_t base = OnProgress ? Stream->Position() - static_cast<int64_t>(text.size()) : 0;
  ParseText(text, base, Stream);
}

void TXmlDocument::ParseText(std::string_view Text, int64_t Base, TStream* Stream) {
  DoProgress(0);
  // Top-level nodes are collected under a holder, as children, so events see a parent.
  TXmlNode holder(this);
  TXmlParser parser(Text, this, Base);
  while (!parser.AtEnd()) {
    auto node = std::make_unique<TXmlNode>(this);
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
  std::string version = FVersion, encoding = FEncoding, stylesheet = FStylesheet;
  std::vector<std::string> comments = FRootComments;
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
  FVersion = std::move(version);
  FEncoding = std::move(encoding);
  FStylesheet = std::move(stylesheet);
  FRootComments = std::move(comments);
  FRoot = holder.NodeExtract(root);
  if (OnProgress) DoProgress(Stream ? Stream->Size() : Base + static_cast<int64_t>(Text.size()));
}

std::string TXmlDocument::HeaderText() const { return HeaderText(FEncoding); }

std::string TXmlDocument::HeaderText(const std::string& Encoding) const {
  if (!FRoot) throw EFilerError("XML root element not defined.");
  std::string header;
  // The header always ends its lines with the document's line break (LF in the compact
  // format too); only the element tree is written without breaks.
  const std::string lb = GetLineBreak();
  auto quoted = [](const std::string& v) {
    const std::string e = XmlEscape(v);
    const char q = e.find('"') != std::string::npos ? '\'' : '"';
    return q + e + q;
  };
  if (!FVersion.empty() || !Encoding.empty()) {
    header += "<?xml version=" + quoted(FVersion) + " encoding=" + quoted(Encoding) + "?>";
    header += lb;
  }
  if (!FStylesheet.empty()) {
    header += "<?xml-stylesheet " + FStylesheet + "?>";
    header += lb;
  }
  for (const auto& c : FRootComments) {
    if (c.empty()) continue;
    header += "<!--" + XmlEscape(c) + "-->";
    header += lb;
  }
  return header;
}

void TXmlDocument::WriteToStream(TStream* Stream) const {
  WriteAll(Stream, HeaderText());
  DoProgress(0);
  const int64_t base = OnProgress ? Stream->Position() : 0;
  std::string body;
  TXmlWriter writer(body, this, base);
  body.reserve(writer.Estimate(FRoot.get(), 0));
  writer.WriteNode(FRoot.get(), 0);
  WriteAll(Stream, body);
  if (OnProgress) DoProgress(Stream->Size());
}

namespace {

// The five bytes windows-1252 leaves undefined. Reading maps them to the control characters
// of the same number, but no other reader does: such a character is not written as 8 bits.
bool UndefinedInWindows1252(char32_t Cp) {
  return Cp == 0x81 || Cp == 0x8D || Cp == 0x8F || Cp == 0x90 || Cp == 0x9D;
}

// True when every character of the UTF-8 text has a windows-1252 byte.
bool FitsWindows1252(std::string_view Text) {
  size_t pos = 0;
  while (pos < Text.size()) {
    if (static_cast<uint8_t>(Text[pos]) < 0x80) {
      ++pos;
      continue;
    }
    const size_t start = pos;
    const char32_t cp = platform::DecodeUtf8(Text, pos);
    if ((cp == 0xFFFD && pos == start + 1) || UndefinedInWindows1252(cp) || platform::CodePointToCp1252(cp) < 0)
      return false;
  }
  return true;
}

}  // namespace

// windows-1252 lacks most of the world's characters: a document holding one is written in the
// UTF-16 form (with its byte-order mark), which keeps every character and which reading takes
// as well. Documents whose text fits stay 8-bit, byte for byte as before.
void TXmlDocument::SaveToStream(TStream* Stream) const {
  std::string header = HeaderText();
  DoProgress(0);
  std::string body;
  TXmlWriter writer(body, this, OnProgress ? static_cast<int64_t>(header.size()) : 0);
  body.reserve(writer.Estimate(FRoot.get(), 0));
  writer.WriteNode(FRoot.get(), 0);
  bool wide = FWideText != 0;
  if (!wide && !(FitsWindows1252(header) && FitsWindows1252(body))) {
    wide = true;
    // The declaration names the form the bytes are in, whatever 8-bit form it named before.
    if (!FEncoding.empty()) header = HeaderText("UTF-16");
  }
  TUtf8Stream utf(Stream, wide);
  WriteAll(&utf, header);
  WriteAll(&utf, body);
  if (OnProgress) DoProgress(utf.Size());
}

std::string TXmlDocument::WriteToString() const {
  std::string out = HeaderText();
  DoProgress(0);
  TXmlWriter writer(out, this, 0);
  out.reserve(out.size() + writer.Estimate(FRoot.get(), 0));
  writer.WriteNode(FRoot.get(), 0);
  DoProgress(static_cast<int64_t>(out.size()));
  return out;
}

}  // namespace document

#include "document/XmlDocuments.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>

#include "platform/SysUtils.h"
#include "platform/TextCodec.h"

namespace document {

using platform::EFilerError;
using platform::TStream;

namespace {

inline bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
inline bool IsQuote(char c) { return c == '"' || c == '\''; }

// Streams move at most 2^31 - 1 bytes per call.
void WriteAll(TStream* Stream, std::string_view Text) {
  while (!Text.empty()) {
    const auto n = static_cast<int32_t>(std::min<size_t>(Text.size(), 0x40000000));
    Stream->WriteBuffer(Text.data(), n);
    Text.remove_prefix(n);
  }
}

}  // namespace

// Everything from the stream's position to its end: a view into the adapter's own text, or
// a copy held in Owned.
static std::string_view ReadRest(TStream* Stream, std::string& Owned) {
  if (auto* utf = dynamic_cast<TUtf8Stream*>(Stream)) return utf->ReadText();
  Owned.clear();
  // Streams that know their size are read in one piece; the loop below takes what follows.
  if (dynamic_cast<platform::TCustomMemoryStream*>(Stream) || dynamic_cast<platform::TStringStream*>(Stream) ||
      dynamic_cast<platform::THandleStream*>(Stream)) {
    const int64_t pos = Stream->Position();
    const int64_t size = Stream->Size();
    if (size > pos && size - pos < INT32_MAX) {
      Owned.resize(static_cast<size_t>(size - pos));
      const int32_t got = Stream->Read(Owned.data(), static_cast<int32_t>(Owned.size()));
      Owned.resize(static_cast<size_t>(std::max(got, 0)));
    }
  }
  size_t chunk = 1 << 16;
  for (;;) {
    const size_t old = Owned.size();
    Owned.resize(old + chunk);
    const int32_t got = Stream->Read(Owned.data() + old, static_cast<int32_t>(chunk));
    Owned.resize(old + static_cast<size_t>(std::max(got, 0)));
    if (got <= 0) break;
    if (chunk < (1 << 24)) chunk *= 2;
  }
  return Owned;
}

namespace {

std::string AttributeName(std::string_view Line) {
  const size_t eq = Line.find('=');
  return std::string(eq == std::string_view::npos ? Line : Line.substr(0, eq));
}

// --- dates: days since 1899-12-30 --------------------------------------------------------

constexpr int64_t kUnixToDelphi = 25569;  // days from 1899-12-30 to 1970-01-01

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(static_cast<int64_t>(yoe) + era * 400 + (m <= 2));
}

bool IsLeapYear(int y) { return y % 4 == 0 && (y % 100 != 0 || y % 400 == 0); }

bool TryEncodeDate(int y, int m, int d, double& Result) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1) return false;
  const int dim = kDays[m - 1] + (m == 2 && IsLeapYear(y) ? 1 : 0);
  if (d > dim) return false;
  Result = static_cast<double>(DaysFromCivil(y, static_cast<unsigned>(m), static_cast<unsigned>(d)) +
                               kUnixToDelphi);
  return true;
}

bool TryEncodeTime(int h, int n, int s, int ms, double& Result) {
  if (h < 0 || h >= 24 || n < 0 || n >= 60 || s < 0 || s >= 60 || ms < 0 || ms >= 1000) return false;
  Result = (((h * 60 + n) * 60 + s) * 1000.0 + ms) / 86400000.0;
  return true;
}

// Part of the text at 1-based position Pos, as the run-time library's Copy cuts it.
std::string_view Copy(std::string_view s, size_t Pos, size_t Len) {
  if (Pos - 1 >= s.size()) return {};
  return s.substr(Pos - 1, Len);
}

bool ParseDateTime(std::string_view s, TDateTime& Result) {
  int y, m, d;
  if (!platform::TryStrToInt(Copy(s, 1, 4), y) || !platform::TryStrToInt(Copy(s, 6, 2), m) ||
      !platform::TryStrToInt(Copy(s, 9, 2), d))
    return false;
  double date;
  if (!TryEncodeDate(y, m, d, date)) return false;
  double time = 0;
  if (s.size() >= 17) {
    int h, n, sec, ms;
    if (!platform::TryStrToInt(Copy(s, 12, 2), h) || !platform::TryStrToInt(Copy(s, 15, 2), n))
      return false;
    if (!platform::TryStrToInt(Copy(s, 18, 2), sec)) sec = 0;
    if (!platform::TryStrToInt(Copy(s, 21, 3), ms)) ms = 0;
    if (!TryEncodeTime(h, n, sec, ms, time)) return false;
  }
  // Before 1899-12-30 the time of day counts away from zero, as the fraction of such dates does.
  Result = date < 0 ? date - time : date + time;
  return true;
}

std::string FormatDateTime(TDateTime Value) {
  if (!std::isfinite(Value) || std::fabs(Value) > 3.0e6) Value = 0;
  double day = std::trunc(Value);
  auto msecs = static_cast<int64_t>(std::nearbyint(std::fabs(Value - day) * 86400000.0));
  if (msecs >= 86400000) {  // rounding reached the next day
    msecs -= 86400000;
    day += Value < 0 ? -1 : 1;
  }
  int y, m, d;
  CivilFromDays(static_cast<int64_t>(day) - kUnixToDelphi, y, m, d);
  char buf[64];
  if (msecs == 0) {
    std::snprintf(buf, sizeof buf, "%.4d-%.2d-%.2d", y, m, d);
  } else {
    const int ms = static_cast<int>(msecs % 1000);
    const int sec = static_cast<int>(msecs / 1000 % 60);
    const int mi = static_cast<int>(msecs / 60000 % 60);
    const int h = static_cast<int>(msecs / 3600000);
    std::snprintf(buf, sizeof buf, "%.4d-%.2d-%.2dT%.2d:%.2d:%.2d.%.3dZ", y, m, d, h, mi, sec, ms);
  }
  return buf;
}

// --- binary codecs -------------------------------------------------------------------------

constexpr char kBase64Chars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kHexChars[] = "0123456789ABCDEF";

// 0..63 alphabet, 64 whitespace, 65 "=", 255 invalid.
struct TBase64Table {
  uint8_t v[256];
  constexpr TBase64Table() : v() {
    for (int i = 0; i < 256; ++i) v[i] = 255;
    for (int i = 0; i < 64; ++i) v[static_cast<uint8_t>(kBase64Chars[i])] = static_cast<uint8_t>(i);
    v[9] = v[10] = v[13] = v[32] = 64;
    v[static_cast<uint8_t>('=')] = 65;
  }
};
constexpr TBase64Table kBase64Table;

struct THexTable {
  uint8_t v[256];
  constexpr THexTable() : v() {
    for (int i = 0; i < 256; ++i) v[i] = 255;
    for (int i = 0; i < 10; ++i) v['0' + i] = static_cast<uint8_t>(i);
    for (int i = 0; i < 6; ++i) v['A' + i] = v['a' + i] = static_cast<uint8_t>(10 + i);
    v[9] = v[10] = v[13] = v[32] = 64;
  }
};
constexpr THexTable kHexTable;

}  // namespace

// --- escaping ------------------------------------------------------------------------------

std::string XmlEscape(std::string_view Text) {
  size_t extra = 0;
  for (char c : Text) {
    switch (c) {
      case '&': extra += 4; break;
      case '<':
      case '>': extra += 3; break;
      case '\'':
      case '"': extra += 5; break;
      default: break;
    }
  }
  if (extra == 0) return std::string(Text);
  std::string out;
  out.reserve(Text.size() + extra);
  for (char c : Text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '\'': out += "&apos;"; break;
      case '"': out += "&quot;"; break;
      default: out += c; break;
    }
  }
  return out;
}

std::string XmlUnescape(std::string_view Text) {
  size_t amp = Text.find('&');
  if (amp == std::string_view::npos) return std::string(Text);
  static constexpr struct {
    std::string_view entity;
    char c;
  } kEntities[] = {{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&apos;", '\''}, {"&quot;", '"'}};
  std::string out;
  out.reserve(Text.size());
  size_t pos = 0;
  while (amp != std::string_view::npos) {
    out.append(Text.substr(pos, amp - pos));
    pos = amp;
    bool found = false;
    for (const auto& e : kEntities) {
      if (Text.compare(amp, e.entity.size(), e.entity) == 0) {
        out += e.c;
        pos = amp + e.entity.size();
        found = true;
        break;
      }
    }
    if (!found) {
      out += '&';
      ++pos;
    }
    amp = Text.find('&', pos);
  }
  out.append(Text.substr(pos));
  return out;
}

// --- binary codecs -------------------------------------------------------------------------

std::string EncodeBinHex(const void* Buffer, int32_t Count) {
  if (!Buffer || Count <= 0) return {};
  const auto* p = static_cast<const uint8_t*>(Buffer);
  std::string out(static_cast<size_t>(Count) * 2, '\0');
  for (int32_t i = 0; i < Count; ++i) {
    out[2 * i] = kHexChars[p[i] >> 4];
    out[2 * i + 1] = kHexChars[p[i] & 15];
  }
  return out;
}

std::string EncodeBase64(const void* Buffer, int32_t Count) {
  if (!Buffer || Count <= 0) return {};
  const auto* p = static_cast<const uint8_t*>(Buffer);
  const size_t n = static_cast<size_t>(Count);
  std::string out((n + 2) / 3 * 4, '\0');
  char* o = out.data();
  size_t i = 0;
  for (; i + 3 <= n; i += 3) {
    const uint32_t v = (uint32_t{p[i]} << 16) | (uint32_t{p[i + 1]} << 8) | p[i + 2];
    *o++ = kBase64Chars[v >> 18];
    *o++ = kBase64Chars[(v >> 12) & 63];
    *o++ = kBase64Chars[(v >> 6) & 63];
    *o++ = kBase64Chars[v & 63];
  }
  if (i < n) {
    uint32_t v = uint32_t{p[i]} << 16;
    if (i + 1 < n) v |= uint32_t{p[i + 1]} << 8;
    *o++ = kBase64Chars[v >> 18];
    *o++ = kBase64Chars[(v >> 12) & 63];
    *o++ = i + 1 < n ? kBase64Chars[(v >> 6) & 63] : '=';
    *o++ = '=';
  }
  return out;
}

int64_t DecodeBinHex(std::string_view Text, void* Dest, int64_t Count) {
  auto* d = static_cast<uint8_t*>(Dest);
  if (d && Count <= 0) return 0;
  int64_t done = 0;
  int hi = -1;
  for (char ch : Text) {
    const uint8_t v = kHexTable.v[static_cast<uint8_t>(ch)];
    if (v == 64) continue;
    if (v == 255) throw EFilerError("Invalid character in hexadecimal data");
    if (hi < 0) {
      hi = v;
      continue;
    }
    if (d) d[done] = static_cast<uint8_t>((hi << 4) | v);
    hi = -1;
    if (++done == Count && d) break;
  }
  return done;
}

int64_t DecodeBase64(std::string_view Text, void* Dest, int64_t Count) {
  auto* d = static_cast<uint8_t*>(Dest);
  if (d && Count <= 0) return 0;
  const auto* s = reinterpret_cast<const uint8_t*>(Text.data());
  const size_t n = Text.size();
  const int64_t limit = d ? Count : INT64_MAX;
  int64_t done = 0;
  size_t i = 0;
  // Whole groups of four alphabet characters; anything else goes the careful way below.
  while (i + 4 <= n && done + 3 <= limit) {
    const uint8_t a = kBase64Table.v[s[i]], b = kBase64Table.v[s[i + 1]], c = kBase64Table.v[s[i + 2]],
                  e = kBase64Table.v[s[i + 3]];
    if ((a | b | c | e) >= 64) break;
    if (d) {
      const uint32_t v = (uint32_t{a} << 18) | (uint32_t{b} << 12) | (uint32_t{c} << 6) | e;
      d[done] = static_cast<uint8_t>(v >> 16);
      d[done + 1] = static_cast<uint8_t>(v >> 8);
      d[done + 2] = static_cast<uint8_t>(v);
    }
    done += 3;
    i += 4;
  }
  uint32_t acc = 0;
  int bits = 0;
  for (; i < n && done < limit; ++i) {
    const uint8_t v = kBase64Table.v[s[i]];
    if (v == 64) continue;
    if (v == 65) break;
    if (v == 255) throw EFilerError("Invalid character in Base64 data");
    acc = (acc << 6) | v;
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      if (d) d[done] = static_cast<uint8_t>(acc >> bits);
      ++done;
      acc &= (1u << bits) - 1;
    }
  }
  return done;
}

// --- parser --------------------------------------------------------------------------------

// Tokenises text held in memory; the node structure is built as it goes.
class TXmlParser {
 public:
  TXmlParser(std::string_view Text, TXmlDocument* Document, int64_t Base)
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
        if (empty) FOut += '/';
        FOut += '>';
        FOut += Node->FValue;
        if (!Node->FNodes.empty()) {
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

// --- TXmlNode ------------------------------------------------------------------------------

TXmlNode::TXmlNode(TXmlDocument* ADocument) : FDocument(ADocument) {}

TXmlNode::~TXmlNode() = default;

std::unique_ptr<TXmlNode> TXmlNode::CreateName(TXmlDocument* ADocument, const std::string& AName) {
  auto node = std::make_unique<TXmlNode>(ADocument);
  node->SetName(AName);
  return node;
}

std::unique_ptr<TXmlNode> TXmlNode::CreateNameValue(TXmlDocument* ADocument, const std::string& AName,
                                                    const std::string& AValue) {
  auto node = CreateName(ADocument, AName);
  node->SetValueAsString(AValue);
  return node;
}

std::unique_ptr<TXmlNode> TXmlNode::CreateType(TXmlDocument* ADocument, TXmlNodeKind AKind) {
  auto node = std::make_unique<TXmlNode>(ADocument);
  node->FKind = AKind;
  return node;
}

void TXmlNode::Assign(const platform::TPersistent* Source) {
  const auto* src = dynamic_cast<const TXmlNode*>(Source);
  if (!src) {
    TPersistent::Assign(Source);
    return;
  }
  if (src == this) return;
  std::string text;
  if (TXmlDocument* doc = src->FDocument) {
    const uint8_t old = doc->FXmlFormat;
    doc->FXmlFormat = xfCompact;
    try {
      text = src->WriteToString();
    } catch (...) {
      doc->FXmlFormat = old;
      throw;
    }
    doc->FXmlFormat = old;
  } else {
    text = src->WriteToString();
  }
  Clear();
  ReadFromString(text);
}

void TXmlNode::SetName(const std::string& Value) {
  if (std::any_of(Value.begin(), Value.end(), IsXmlSpace))
    throw platform::Exception("Illegal character in node name \"" + Value + "\"");
  FName = Value;
}

TXmlNode* TXmlNode::GetNode(int32_t Index) const {
  if (Index < 0 || Index >= GetNodeCount())
    throw platform::EListError("List index out of bounds (" + std::to_string(Index) + ")");
  return FNodes[static_cast<size_t>(Index)].get();
}

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

std::string TXmlNode::GetAttributesText() const {
  std::string out;
  for (const auto& a : FAttributes) {
    out += ' ';
    out += a;
  }
  return out;
}

namespace {
int Ancestors(const TXmlNode* Node) {
  int n = 0;
  for (const TXmlNode* p = Node->Parent(); p; p = p->Parent()) ++n;
  return n;
}
}  // namespace

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

void TXmlNode::BufferWrite(const void* Buffer, int32_t Count) {
  const uint8_t enc = FDocument ? FDocument->FBinaryEncoding : xbeHex;
  FValue = enc == xbeHex ? EncodeBinHex(Buffer, Count) : EncodeBase64(Buffer, Count);
}

int32_t TXmlNode::BufferRead(void* Buffer, int32_t Count) const {
  if (!Buffer || Count <= 0) return 0;
  const uint8_t enc = FDocument ? FDocument->FBinaryEncoding : xbeHex;
  return static_cast<int32_t>(enc == xbeHex ? DecodeBinHex(FValue, Buffer, Count)
                                            : DecodeBase64(FValue, Buffer, Count));
}

int32_t TXmlNode::BufferLength() const {
  const uint8_t enc = FDocument ? FDocument->FBinaryEncoding : xbeHex;
  const int64_t n = enc == xbeHex ? DecodeBinHex(FValue, nullptr, 0) : DecodeBase64(FValue, nullptr, 0);
  return static_cast<int32_t>(std::min<int64_t>(n, INT32_MAX));
}

void TXmlNode::Clear() {
  FName.clear();
  FValue.clear();
  FAttributes.clear();
  FNodes.clear();
}

bool TXmlNode::HasAttribute(const std::string& AName) const {
  return std::any_of(FAttributes.begin(), FAttributes.end(),
                     [&](const std::string& a) { return platform::SameText(AttributeName(a), AName); });
}

bool TXmlNode::IsEmpty() const { return FName.empty() && HasNoContent(); }

bool TXmlNode::HasNoContent() const { return FValue.empty() && FNodes.empty() && FAttributes.empty(); }

TXmlNode* TXmlNode::NodeAdd(std::unique_ptr<TXmlNode> ANode) {
  if (!ANode) return nullptr;
  ANode->FParent = this;
  FNodes.push_back(std::move(ANode));
  return FNodes.back().get();
}

TXmlNode* TXmlNode::NodeByName(const std::string& AName) const {
  for (const auto& n : FNodes)
    if (platform::SameText(n->FName, AName)) return n.get();
  return nullptr;
}

void TXmlNode::NodeDelete(int32_t Index) {
  GetNode(Index);
  FNodes.erase(FNodes.begin() + Index);
}

std::unique_ptr<TXmlNode> TXmlNode::NodeExtract(TXmlNode* ANode) {
  auto it = std::find_if(FNodes.begin(), FNodes.end(), [&](const auto& n) { return n.get() == ANode; });
  if (it == FNodes.end()) return nullptr;
  std::unique_ptr<TXmlNode> node = std::move(*it);
  FNodes.erase(it);
  node->FParent = nullptr;
  return node;
}

int32_t TXmlNode::NodeIndexByName(const std::string& AName) const { return NodeIndexByNameFrom(AName, 0); }

int32_t TXmlNode::NodeIndexByNameFrom(const std::string& AName, int32_t AFrom) const {
  for (int32_t i = std::max(AFrom, 0); i < GetNodeCount(); ++i)
    if (platform::SameText(FNodes[static_cast<size_t>(i)]->FName, AName)) return i;
  return -1;
}

TXmlNode* TXmlNode::NodeNew(const std::string& AName) { return NodeAdd(CreateName(FDocument, AName)); }

TXmlNode* TXmlNode::NodeFindOrCreate(const std::string& AName) {
  TXmlNode* node = NodeByName(AName);
  return node ? node : NodeNew(AName);
}

void TXmlNode::NodesClear() { FNodes.clear(); }

void TXmlNode::NodesByName(const std::string& AName, std::vector<TXmlNode*>& AList) const {
  AList.clear();
  for (const auto& n : FNodes)
    if (platform::SameText(n->FName, AName)) AList.push_back(n.get());
}

std::string TXmlNode::ReadAttributeString(const std::string& AName, const std::string& Default) const {
  for (const auto& a : FAttributes) {
    if (!platform::SameText(AttributeName(a), AName)) continue;
    const size_t eq = a.find('=');
    if (eq == std::string::npos) return {};
    std::string_view v(a);
    v.remove_prefix(eq + 1);
    if (v.size() >= 2 && IsQuote(v.front()) && v.back() == v.front()) v = v.substr(1, v.size() - 2);
    return XmlUnescape(v);
  }
  return Default;
}

int32_t TXmlNode::ReadAttributeInteger(const std::string& AName, int32_t Default) const {
  if (!HasAttribute(AName)) return Default;
  return platform::StrToIntDef(ReadAttributeString(AName), Default);
}

bool TXmlNode::ReadBool(const std::string& AName, bool Default) const {
  const TXmlNode* n = ValueNode(AName);
  return n ? n->ValueAsBool(Default) : Default;
}

void TXmlNode::ReadBrush(const std::string& AName, TXmlBrushValues& Brush) const {
  const TXmlNode* n = ValueNode(AName);
  if (!n) return;
  Brush.Color = n->ReadInteger("Color", 0xFFFFFF);
  Brush.Style = n->ReadInteger("Style", 0);
}

int32_t TXmlNode::ReadInteger(const std::string& AName, int32_t Default) const {
  const TXmlNode* n = ValueNode(AName);
  return n ? platform::StrToInt(n->ValueAsString()) : Default;
}

void TXmlNode::ReadFont(const std::string& AName, TXmlFontValues& Font) const {
  Font.Bold = Font.Italic = Font.Underline = Font.Strikeout = false;
  const TXmlNode* n = ValueNode(AName);
  if (!n) {
    Font.Name = "Arial";
    Font.Color = 0;
    Font.Size = 14;
    return;
  }
  Font.Name = n->ReadString("Name", "Arial");
  Font.Color = n->ReadInteger("Color", 0);
  Font.Size = n->ReadInteger("Size", 14);
  Font.Bold = n->ReadBool("Bold", false);
  Font.Italic = n->ReadBool("Italic", false);
  Font.Underline = n->ReadBool("Underline", false);
  Font.Strikeout = n->ReadBool("Strikeout", false);
}

void TXmlNode::ReadPen(const std::string& AName, TXmlPenValues& Pen) const {
  const TXmlNode* n = ValueNode(AName);
  if (!n) return;
  const TXmlPenValues defaults;
  Pen.Color = n->ReadInteger("Color", defaults.Color);
  Pen.Mode = n->ReadInteger("Mode", defaults.Mode);
  Pen.Style = n->ReadInteger("Style", defaults.Style);
  Pen.Width = n->ReadInteger("Width", defaults.Width);
}

TDateTime TXmlNode::ReadDateTime(const std::string& AName, TDateTime Default) const {
  const TXmlNode* n = ValueNode(AName);
  return n ? n->ValueAsDateTime(Default) : Default;
}

double TXmlNode::ReadFloat(const std::string& AName, double Default) const {
  const TXmlNode* n = ValueNode(AName);
  return n ? n->ValueAsFloat(Default) : Default;
}

int32_t TXmlNode::ReadIntegerDef(const std::string& AName, int32_t Default) const {
  const TXmlNode* n = ValueNode(AName);
  return n ? n->ValueAsInteger(Default) : Default;
}

std::string TXmlNode::ReadString(const std::string& AName, const std::string& Default) const {
  const TXmlNode* n = ValueNode(AName);
  return n ? n->ValueAsString() : Default;
}

bool TXmlNode::ValueAsBool(bool Default) const {
  const std::string v = ValueAsString();
  if (platform::SameText(v, "TRUE")) return true;
  if (platform::SameText(v, "FALSE")) return false;
  return Default;
}

TDateTime TXmlNode::ValueAsDateTime(TDateTime Default) const {
  TDateTime result;
  return ParseDateTime(ValueAsString(), result) ? result : Default;
}

double TXmlNode::ValueAsFloat(double Default) const {
  std::string v = ValueAsString();
  const size_t comma = v.find(',');
  if (comma != std::string::npos) v[comma] = '.';
  long double result;
  // Texts beyond the range of a double do not convert either.
  if (!platform::TryStrToFloat(v, result) || !(std::fabs(result) <= DBL_MAX)) return Default;
  return static_cast<double>(result);
}

int32_t TXmlNode::ValueAsInteger(int32_t Default) const {
  return platform::StrToIntDef(ValueAsString(), Default);
}

bool TXmlNode::SkipDefault(bool Equal) const {
  return Equal && FDocument && FDocument->FWriteOnDefault == 0;
}

void TXmlNode::WriteAttributeInteger(const std::string& AName, int32_t Value) {
  WriteAttributeString(AName, platform::IntToStr(Value));
}

void TXmlNode::WriteAttributeString(const std::string& AName, const std::string& Value) {
  const std::string escaped = XmlEscape(Value);
  const char quote = escaped.find('"') != std::string::npos ? '\'' : '"';
  std::string line = AName + "=" + quote + escaped + quote;
  for (auto& a : FAttributes) {
    if (platform::SameText(AttributeName(a), AName)) {
      a = std::move(line);
      return;
    }
  }
  FAttributes.push_back(std::move(line));
}

void TXmlNode::WriteBool(const std::string& AName, bool Value, bool Default) {
  if (SkipDefault(Value == Default)) return;
  NodeFindOrCreate(AName)->FValue = Value ? "True" : "False";
}

void TXmlNode::WriteBrush(const std::string& AName, const TXmlBrushValues& Brush) {
  TXmlNode* n = NodeFindOrCreate(AName);
  const TXmlBrushValues defaults;
  // The colour's default is the one the reader assumes, so that black survives write-on-default 0.
  n->WriteHex("Color", platform::ColorToRGB(Brush.Color), 8, defaults.Color);
  n->WriteInteger("Style", Brush.Style, defaults.Style);
}

void TXmlNode::WriteColor(const std::string& AName, TColor Value) {
  WriteHex(AName, platform::ColorToRGB(Value), 8, 0);
}

void TXmlNode::WriteFont(const std::string& AName, const TXmlFontValues& Font) {
  TXmlNode* n = NodeFindOrCreate(AName);
  n->WriteString("Name", Font.Name, "Arial");
  n->WriteColor("Color", Font.Color);
  n->WriteInteger("Size", Font.Size, 14);
  n->WriteBool("Bold", Font.Bold, false);
  n->WriteBool("Italic", Font.Italic, false);
  n->WriteBool("Underline", Font.Underline, false);
  n->WriteBool("Strikeout", Font.Strikeout, false);
}

void TXmlNode::WritePen(const std::string& AName, const TXmlPenValues& Pen) {
  TXmlNode* n = NodeFindOrCreate(AName);
  const TXmlPenValues defaults;
  n->WriteColor("Color", Pen.Color);
  n->WriteInteger("Mode", Pen.Mode, defaults.Mode);
  n->WriteInteger("Style", Pen.Style, defaults.Style);
  n->WriteInteger("Width", Pen.Width, defaults.Width);
}

void TXmlNode::WriteDateTime(const std::string& AName, TDateTime Value, TDateTime Default) {
  if (SkipDefault(Value == Default)) return;
  NodeFindOrCreate(AName)->FValue = FormatDateTime(Value);
}

void TXmlNode::WriteFloat(const std::string& AName, long double Value, long double Default) {
  if (SkipDefault(Value == Default)) return;
  NodeFindOrCreate(AName)->FValue = platform::FloatToStr(Value);
}

void TXmlNode::WriteHex(const std::string& AName, int32_t Value, int32_t Digits, int32_t Default) {
  if (SkipDefault(Value == Default)) return;
  NodeFindOrCreate(AName)->FValue = "$" + platform::IntToHex(Value, std::clamp(Digits, 0, 16));
}

void TXmlNode::WriteInteger(const std::string& AName, int32_t Value, int32_t Default) {
  if (SkipDefault(Value == Default)) return;
  NodeFindOrCreate(AName)->FValue = platform::IntToStr(Value);
}

void TXmlNode::WriteString(const std::string& AName, const std::string& Value, const std::string& Default) {
  if (SkipDefault(Value == Default)) return;
  NodeFindOrCreate(AName)->FValue = XmlEscape(Value);
}

// --- TXmlDocument --------------------------------------------------------------------------

TXmlDocument::TXmlDocument() : FRoot(std::make_unique<TXmlNode>(this)) { SetDefaults(); }

TXmlDocument::TXmlDocument(const std::string& RootName) : TXmlDocument() { FRoot->SetName(RootName); }

TXmlDocument::~TXmlDocument() = default;

void TXmlDocument::Assign(const platform::TPersistent* Source) {
  if (const auto* doc = dynamic_cast<const TXmlDocument*>(Source)) {
    CopyFrom(doc);
    return;
  }
  TPersistent::Assign(Source);
}

void TXmlDocument::CopyFrom(const TXmlDocument* Other) {
  if (!Other || Other == this) return;
  Clear();
  platform::TMemoryStream stream;
  Other->WriteToStream(&stream);
  stream.SetPosition(0);
  ParseStream(&stream);
}

std::string TXmlDocument::GetLineBreak() const { return FXmlFormat == xfIndented ? "\r\n" : "\n"; }

void TXmlDocument::DoProgress(int64_t Position) const {
  if (OnProgress)
    OnProgress(const_cast<TXmlDocument*>(this), static_cast<int32_t>(std::clamp<int64_t>(Position, 0, INT32_MAX)));
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

std::string TXmlDocument::HeaderText() const {
  if (!FRoot) throw EFilerError("XML root element not defined.");
  std::string header;
  const std::string_view lb = FXmlFormat == xfIndented ? "\r\n" : FXmlFormat == xfLinefeed ? "\n" : "";
  auto quoted = [](const std::string& v) {
    const std::string e = XmlEscape(v);
    const char q = e.find('"') != std::string::npos ? '\'' : '"';
    return q + e + q;
  };
  if (!FVersion.empty() || !FEncoding.empty()) {
    header += "<?xml version=" + quoted(FVersion) + " encoding=" + quoted(FEncoding) + "?>";
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

void TXmlDocument::SetDefaults() {
  FBinaryEncoding = xbeBase64;
  FRootComments.clear();
  FEncoding = "windows-1252";
  FWideText = 0;
  FStylesheet.clear();
  FVersion = "1.0";
  FWriteOnDefault = 1;
  FXmlFormat = xfCompact;
}

void TXmlDocument::Clear() {
  SetDefaults();
  if (FRoot) {
    FRoot->Clear();
    FRoot->FKind = xnElement;
  } else {
    FRoot = std::make_unique<TXmlNode>(this);
  }
}

bool TXmlDocument::IsEmpty() const { return !FRoot || FRoot->IsEmpty(); }

void TXmlDocument::LoadFromStream(TStream* Stream) {
  Clear();
  TUtf8Stream utf(Stream);
  ParseStream(&utf);
  FWideText = utf.WideText() ? 1 : 0;
}

void TXmlDocument::LoadFromFile(const std::string& FileName) {
  platform::TFileStream file(FileName, platform::fmOpenRead | platform::fmShareDenyWrite);
  LoadFromStream(&file);
}

void TXmlDocument::ReadFromString(const std::string& Text) {
  Clear();
  ParseText(Text, 0, nullptr);
}

void TXmlDocument::SaveToStream(TStream* Stream) const {
  TUtf8Stream utf(Stream, FWideText != 0);
  WriteToStream(&utf);
}

void TXmlDocument::SaveToFile(const std::string& FileName) const {
  platform::TFileStream file(FileName, platform::fmCreate);
  SaveToStream(&file);
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

// --- TUtf8Stream ---------------------------------------------------------------------------

TUtf8Stream::TUtf8Stream(TStream* Inner, bool AWideText) : FWideText(AWideText), FInner(Inner) {}

TUtf8Stream::~TUtf8Stream() {
  // A sequence cut off at the end of the text stands for one character that did not convert.
  if (FMode == 2 && !FBuffer.empty() && FInner) {
    try {
      FBuffer.clear();
      NoteLossy();
      if (FWideText)
        FInner->Write("?\0", 2);
      else
        FInner->Write("?", 1);
    } catch (...) {
    }
  }
}

void TUtf8Stream::CheckInner() const {
  if (!FInner) throw platform::EStreamError("Utf stream unassigned");
}

void TUtf8Stream::NoteLossy() {
  if (FLossy) return;
  FLossy = true;
  if (OnLossyConversion) OnLossyConversion(this);
}

void TUtf8Stream::LoadAll() {
  std::string raw;
  const std::string_view view = ReadRest(FInner, raw);
  if (view.data() != raw.data()) raw.assign(view);
  const auto* b = reinterpret_cast<const uint8_t*>(raw.data());
  FMode = 1;
  FPosition = 0;
  if (raw.size() >= 2 && ((b[0] == 0xFF && b[1] == 0xFE) || (b[0] == 0xFE && b[1] == 0xFF))) {
    FWideText = true;
    FByteSwapped = b[0] == 0xFE;
    const size_t n = (raw.size() - 2) / 2;
    std::u16string wide(n, u'\0');
    for (size_t i = 0; i < n; ++i) {
      const uint8_t lo = b[2 + 2 * i], hi = b[3 + 2 * i];
      wide[i] = static_cast<char16_t>(FByteSwapped ? (lo << 8) | hi : (hi << 8) | lo);
    }
    for (size_t i = 0; i < n; ++i) {
      const char16_t c = wide[i];
      if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) {
        ++i;
      } else if (c >= 0xD800 && c <= 0xDFFF) {
        NoteLossy();
        break;
      }
    }
    FBuffer = platform::Utf16ToUtf8(wide);
    return;
  }
  FWideText = false;
  const bool ascii = std::all_of(raw.begin(), raw.end(), [](char c) { return static_cast<uint8_t>(c) < 0x80; });
  FBuffer = ascii ? std::move(raw) : platform::Cp1252ToUtf8(raw);
}

std::string_view TUtf8Stream::ReadText() {
  CheckInner();
  if (FMode == 2) throw platform::EStreamError("Cannot read from an UTF stream opened for writing");
  if (FMode == 0) LoadAll();
  const auto size = static_cast<int64_t>(FBuffer.size());
  const int64_t from = std::min(FPosition, size);
  FPosition = std::max(FPosition, size);
  return std::string_view(FBuffer).substr(static_cast<size_t>(from));
}

int32_t TUtf8Stream::Read(void* Buffer, int32_t Count) {
  CheckInner();
  if (FMode == 2) throw platform::EStreamError("Cannot read from an UTF stream opened for writing");
  if (FMode == 0) LoadAll();
  if (Count <= 0 || FPosition >= static_cast<int64_t>(FBuffer.size())) return 0;
  const auto n = static_cast<int32_t>(std::min<int64_t>(Count, static_cast<int64_t>(FBuffer.size()) - FPosition));
  std::memcpy(Buffer, FBuffer.data() + FPosition, static_cast<size_t>(n));
  FPosition += n;
  return n;
}

void TUtf8Stream::WriteConverted(std::string_view Utf8) {
  if (Utf8.empty()) return;
  if (FWideText) {
    const std::u16string wide = platform::Utf8ToUtf16(Utf8);
    std::string bytes(wide.size() * 2, '\0');
    for (size_t i = 0; i < wide.size(); ++i) {
      bytes[2 * i] = static_cast<char>(wide[i] & 0xFF);
      bytes[2 * i + 1] = static_cast<char>(wide[i] >> 8);
    }
    if (wide.find(u'\xFFFD') != std::u16string::npos && Utf8.find("\xEF\xBF\xBD") == std::string_view::npos)
      NoteLossy();
    WriteAll(FInner, bytes);
    return;
  }
  if (std::all_of(Utf8.begin(), Utf8.end(), [](char c) { return static_cast<uint8_t>(c) < 0x80; })) {
    WriteAll(FInner, Utf8);
    return;
  }
  bool lossy = false;
  const std::string bytes = platform::Utf8ToCp1252(Utf8, &lossy);
  if (lossy) NoteLossy();
  WriteAll(FInner, bytes);
}

int32_t TUtf8Stream::Write(const void* Buffer, int32_t Count) {
  CheckInner();
  if (FMode == 1) throw platform::EStreamError("Cannot write to an UTF stream opened for reading");
  if (FMode == 0) {
    FMode = 2;
    if (FWideText) FInner->WriteBuffer("\xFF\xFE", 2);
  }
  if (Count <= 0) return 0;
  std::string_view in(static_cast<const char*>(Buffer), static_cast<size_t>(Count));
  std::string joined;
  if (!FBuffer.empty()) {
    joined = FBuffer;
    joined.append(in);
    in = joined;
  }
  // Hold back a UTF-8 sequence that the next Write completes.
  size_t keep = 0;
  const size_t n = in.size();
  for (size_t back = 1; back <= std::min<size_t>(3, n); ++back) {
    const auto c = static_cast<uint8_t>(in[n - back]);
    if ((c & 0xC0) == 0x80) continue;
    const size_t len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    if (len > back && c < 0xF8) keep = back;
    break;
  }
  WriteConverted(in.substr(0, n - keep));
  FBuffer.assign(in.substr(n - keep));
  FPosition += Count;
  return Count;
}

int64_t TUtf8Stream::Seek(int64_t Offset, uint16_t Origin) {
  CheckInner();
  if (FMode == 0) throw platform::EStreamError("Cannot seek before reading or writing on UTF stream");
  if (FMode == 2) return FPosition;
  int64_t target = Offset;
  if (Origin == platform::soFromCurrent)
    target = FPosition + Offset;
  else if (Origin == platform::soFromEnd)
    target = static_cast<int64_t>(FBuffer.size()) + Offset;
  FPosition = std::max<int64_t>(target, 0);
  return FPosition;
}

}  // namespace document

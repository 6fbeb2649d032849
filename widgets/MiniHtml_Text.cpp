// Text helpers of the mini-HTML unit: stripping, colours, entities, anchors and control tags.
#include <algorithm>
#include <cctype>

#include "platform/Graphics.h"
#include "platform/Rounding.h"
#include "platform/StyleDraw.h"
#include "platform/SysUtils.h"
#include "widgets/MiniHtml.h"

namespace widgets {

using namespace platform;

namespace {

char Up(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

// Case-insensitive find of an ASCII pattern.
size_t IFind(std::string_view S, std::string_view P, size_t From = 0) {
  if (P.empty()) return From <= S.size() ? From : std::string_view::npos;
  if (S.size() < P.size()) return std::string_view::npos;
  for (size_t i = From; i + P.size() <= S.size(); ++i) {
    size_t k = 0;
    while (k < P.size() && Up(S[i + k]) == Up(P[k])) ++k;
    if (k == P.size()) return i;
  }
  return std::string_view::npos;
}

// The text between the first two double quotes at or after From; "" without two.
std::string Quoted(std::string_view S, size_t From) {
  const size_t q1 = S.find('"', From);
  if (q1 == std::string_view::npos) return {};
  const size_t q2 = S.find('"', q1 + 1);
  if (q2 == std::string_view::npos) return {};
  return std::string(S.substr(q1 + 1, q2 - q1 - 1));
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return 0;
}

struct TEntity {
  const char* Name;
  const char* Utf8;
};
// Entities that stand for windows-1252 characters, as the Unicode characters they are.
constexpr TEntity kEntities[] = {
    {"&amp;", "&"},        {"&quot;", "\""},       {"&lt;", "<"},          {"&gt;", ">"},
    {"&nbsp;", " "},       {"&sect;", "\xC2\xA7"}, {"&permil;", "\xE2\x80\xB0"}, {"&reg;", "\xC2\xAE"},
    {"&copy;", "\xC2\xA9"}, {"&para;", "\xC2\xB6"}, {"&trade;", "\xE2\x84\xA2"}, {"&euro;", "\xE2\x82\xAC"},
};

// Start of each anchor tag ("<A" followed by a blank or ">"), in order.
std::vector<size_t> AnchorTags(std::string_view S) {
  std::vector<size_t> result;
  for (size_t p = S.find('<'); p != std::string_view::npos; p = S.find('<', p + 1)) {
    if (p + 2 < S.size() && Up(S[p + 1]) == 'A' && (S[p + 2] == ' ' || S[p + 2] == '>' || S[p + 2] == '\t'))
      result.push_back(p);
  }
  return result;
}

std::string TagText(std::string_view S, size_t Start) {
  const size_t gt = S.find('>', Start);
  return std::string(S.substr(Start, gt == std::string_view::npos ? std::string_view::npos : gt - Start + 1));
}

std::string AttrOf(std::string_view Tag, std::string_view Name) {
  const size_t p = IFind(Tag, Name);
  if (p == std::string_view::npos) return {};
  return DecodeEntities(Quoted(Tag, p + Name.size()));
}

}  // namespace

std::string StripMiniHtml(std::string_view S) {
  std::string s(S);
  for (const char* tag : {"<BR>", "<HR>"})
    while (ReplaceOnce(tag, "\r\n", s)) {
    }
  std::string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    if (s[i] == '<') {
      const size_t gt = s.find('>', i);
      if (gt == std::string::npos) {
        out.append(s, i, std::string::npos);
        break;
      }
      i = gt + 1;
    } else {
      out += s[i++];
    }
  }
  return out;
}

uint8_t HexPairToByte(std::string_view S) {
  if (S.size() < 2) return 0;
  return static_cast<uint8_t>(HexDigit(S[0]) * 16 + HexDigit(S[1]));
}

TColor HtmlColorToColor(std::string_view S) {
  if (S.size() < 7) return 0;
  const uint32_t r = HexPairToByte(S.substr(1, 2));
  const uint32_t g = HexPairToByte(S.substr(3, 2));
  const uint32_t b = HexPairToByte(S.substr(5, 2));
  return static_cast<TColor>(r | (g << 8) | (b << 16));
}

TColor ColorNameToColor(std::string_view S) {
  struct TName {
    const char* Name;
    uint32_t Value;
  };
  static constexpr TName kNames[] = {
      {"clred", 0x0000FF}, {"clblack", 0x000000}, {"clblue", 0xFF0000}, {"clgreen", 0x008000},
      {"claqua", 0xFFFF00}, {"clyellow", 0x00FFFF}, {"clfuchsia", 0xFF00FF}, {"clwhite", 0xFFFFFF},
      {"cllime", 0x00FF00}, {"clsilver", 0xC0C0C0}, {"clgray", 0x808080}, {"clolive", 0x008080},
      {"clnavy", 0x800000}, {"clpurple", 0x800080}, {"clteal", 0x808000}, {"clmaroon", 0x000080},
      {"clbackground", 0x80000001}, {"clactivecaption", 0x80000002}, {"clinactivecaption", 0x80000003},
      {"clmenu", 0x80000004}, {"clwindow", 0x80000005}, {"clwindowframe", 0x80000006},
      {"clmenutext", 0x80000007}, {"clwindowtext", 0x80000008}, {"clcaptiontext", 0x80000009},
      {"clactiveborder", 0x8000000A}, {"clinactiveborder", 0x8000000B}, {"clappworkspace", 0x8000000C},
      {"clhighlight", 0x8000000D}, {"clhighlighttext", 0x8000000E}, {"clbtnface", 0x8000000F},
      {"clbtnshadow", 0x80000010}, {"clgraytext", 0x80000011}, {"clbtntext", 0x80000012},
      {"clinactivecaptiontext", 0x80000013}, {"clbtnhighlight", 0x80000014}, {"cl3ddkshadow", 0x80000015},
      {"cl3dlight", 0x80000016}, {"clinfotext", 0x80000017}, {"clinfobk", 0x80000018},
  };
  for (const TName& n : kNames)
    if (S == n.Name) return static_cast<TColor>(n.Value);
  return 0;
}

bool ReplaceOnce(std::string_view Pattern, std::string_view Replacement, std::string& S) {
  const size_t p = IFind(S, Pattern);
  if (Pattern.empty() || p == std::string_view::npos) return false;
  S.replace(p, Pattern.size(), Replacement);
  return true;
}

std::string CrLfToBreaks(std::string_view S, bool BreaksAsTags) {
  std::string out;
  out.reserve(S.size());
  for (char c : S) {
    if (c == '\n') continue;
    if (c == '\r') {
      if (BreaksAsTags) out += "<BR>";
      continue;
    }
    out += c;
  }
  return out;
}

std::string UnwrapHashTag(std::string_view S) {
  std::string s(S);
  const size_t p = s.find("<#");
  if (p == std::string::npos) return s;
  s.erase(p, 1);
  const size_t gt = s.find('>', p);
  if (gt != std::string::npos) s.erase(gt, 1);
  return s;
}

std::string EscapeAngles(std::string_view S) {
  std::string out;
  for (char c : S) {
    if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else out += c;
  }
  return out;
}

std::string UnescapeAngles(std::string_view S) {
  std::string out;
  for (size_t i = 0; i < S.size();) {
    if (S.compare(i, 4, "&lt;") == 0) {
      out += '<';
      i += 4;
    } else if (S.compare(i, 4, "&gt;") == 0) {
      out += '>';
      i += 4;
    } else {
      out += S[i++];
    }
  }
  return out;
}

std::string EscapeParamValue(std::string_view S) {
  std::string out;
  for (char c : S) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string DecodeEntities(std::string_view S) {
  if (S.find('&') == std::string_view::npos) return std::string(S);
  std::string out;
  out.reserve(S.size());
  for (size_t i = 0; i < S.size();) {
    bool done = false;
    if (S[i] == '&') {
      for (const TEntity& e : kEntities) {
        const std::string_view name(e.Name);
        if (S.size() - i >= name.size() && IFind(S.substr(i, name.size()), name) == 0) {
          out += e.Utf8;
          i += name.size();
          done = true;
          break;
        }
      }
    }
    if (!done) out += S[i++];
  }
  return out;
}

TControlTag ParseControlTag(std::string_view Tag) {
  TControlTag t;
  auto read = [&](std::string_view key) {
    const size_t p = IFind(Tag, key);
    return p == std::string_view::npos ? std::string() : Quoted(Tag, p + key.size());
  };
  t.Type = UpperCase(read("TYPE="));
  t.Width = read("WIDTH=");
  t.Id = read(" ID=");
  if (t.Id.empty()) t.Id = read("ID=");
  t.Value = DecodeEntities(read("VALUE="));
  return t;
}

bool BuildControlTag(std::string& S, const std::string& Id, const std::string& Value) {
  for (size_t p = IFind(S, "<CONTROL "); p != std::string::npos; p = IFind(S, "<CONTROL ", p + 1)) {
    const size_t gt = S.find('>', p);
    if (gt == std::string::npos) return false;
    const TControlTag t = ParseControlTag(std::string_view(S).substr(p, gt - p + 1));
    if (t.Id != Id) continue;
    // The ID goes back as it was written: escaping it again would grow every "&amp;" in it at
    // each rewrite, and the tag would no longer answer to its ID.
    const std::string tag = "CONTROL ID=\"" + t.Id + "\" VALUE=\"" + EscapeParamValue(Value) +
                            "\" WIDTH=\"" + t.Width + "\" TYPE=\"" + t.Type + "\">";
    S.replace(p + 1, gt - p, tag);
    return true;
  }
  return false;
}

bool GetAnchorValue(const std::string& S, const std::string& Href, std::string& Value) {
  for (size_t p : AnchorTags(S)) {
    const std::string tag = TagText(S, p);
    if (!SameText(AttrOf(tag, "href"), Href)) continue;
    const size_t gt = S.find('>', p);
    if (gt == std::string::npos) return false;
    const size_t lt = S.find('<', gt + 1);
    Value = S.substr(gt + 1, lt == std::string::npos ? std::string::npos : lt - gt - 1);
    return true;
  }
  return false;
}

bool SetAnchorValue(std::string& S, const std::string& Href, const std::string& Value) {
  std::string old;
  for (size_t p : AnchorTags(S)) {
    const std::string tag = TagText(S, p);
    if (!SameText(AttrOf(tag, "href"), Href)) continue;
    const size_t gt = S.find('>', p);
    if (gt == std::string::npos) return false;
    const size_t lt = S.find('<', gt + 1);
    old = S.substr(gt + 1, lt == std::string::npos ? std::string::npos : lt - gt - 1);
    const size_t q = IFind(S, ">" + old + "</A", p);
    if (q == std::string::npos) return false;
    S.replace(q + 1, old.size(), Value);
    return true;
  }
  return false;
}

bool GetAnchorAttributes(const std::string& S, const std::string& Href, std::string& Value, std::string& Props,
                         std::string& Class, std::string& Hint) {
  for (size_t p : AnchorTags(S)) {
    const std::string tag = TagText(S, p);
    if (!SameText(AttrOf(tag, "href"), Href)) continue;
    const size_t gt = S.find('>', p);
    if (gt == std::string::npos) continue;
    const size_t close = S.find("</", gt + 1);
    if (close == std::string::npos) continue;
    Value = S.substr(gt + 1, close - gt - 1);
    Props = AttrOf(tag, "props");
    Class = UpperCase(AttrOf(tag, "class"));
    Hint = AttrOf(tag, "hint");
    return true;
  }
  return false;
}

int32_t CountAnchors(std::string_view S) {
  int32_t n = 0;
  for (size_t p = IFind(S, "HREF="); p != std::string_view::npos; p = IFind(S, "HREF=", p + 5)) ++n;
  return n;
}

std::string AnchorHrefAt(std::string_view S, int32_t Index) {
  int32_t n = 0;
  for (size_t p = IFind(S, "HREF="); p != std::string_view::npos; p = IFind(S, "HREF=", p + 5), ++n)
    if (n == Index) return DecodeEntities(Quoted(S, p + 5));
  return {};
}

std::vector<std::string> SplitBarList(std::string_view S) {
  std::vector<std::string> list;
  size_t start = 0;
  while (true) {
    const size_t bar = S.find('|', start);
    if (bar == std::string_view::npos) {
      if (start < S.size()) list.emplace_back(S.substr(start));
      break;
    }
    list.emplace_back(S.substr(start, bar - start));
    start = bar + 1;
  }
  return list;
}

TColor GradientBandColor(TColor FromColor, TColor ToColor, int32_t Steps, int32_t Band) {
  Steps = std::max(1, Steps);
  const uint32_t f = static_cast<uint32_t>(ColorToRGB(FromColor));
  const uint32_t t = static_cast<uint32_t>(ColorToRGB(ToColor));
  const int32_t span = std::max(1, Steps - 1);
  uint32_t c = 0;
  for (int shift = 0; shift <= 16; shift += 8) {
    const int32_t a = static_cast<int32_t>((f >> shift) & 0xFF);
    const int32_t b = static_cast<int32_t>((t >> shift) & 0xFF);
    const int32_t v = a + (b - a) * std::min(Band, span) / span;
    c |= static_cast<uint32_t>(v) << shift;
  }
  return static_cast<TColor>(c);
}

void DrawGradientRect(TCanvas* Canvas, TColor FromColor, TColor ToColor, int32_t Steps, const TRect& R,
                      bool Horizontal) {
  if (!Canvas || R.Width() <= 0 || R.Height() <= 0) return;
  Steps = std::max(1, Steps);
  const int32_t extent = Horizontal ? R.Width() : R.Height();
  const TBrushStyle oldStyle = Canvas->Brush()->Style();
  const TColor oldColor = Canvas->Brush()->Color();
  for (int32_t k = 0; k < Steps; ++k) {
    const int32_t start = static_cast<int32_t>(Round(static_cast<double>(k) * extent / Steps));
    const int32_t end = static_cast<int32_t>(Round(static_cast<double>(k + 1) * extent / Steps)) + 1;
    TRect band = Horizontal ? TRect{R.Left + start, R.Top, std::min(R.Right, R.Left + end), R.Bottom}
                            : TRect{R.Left, R.Top + start, R.Right, std::min(R.Bottom, R.Top + end)};
    if (band.Width() <= 0 || band.Height() <= 0) continue;
    Canvas->Brush()->SetColor(GradientBandColor(FromColor, ToColor, Steps, k));
    Canvas->FillRect(band);
  }
  Canvas->Brush()->SetColor(oldColor);
  Canvas->Brush()->SetStyle(oldStyle);
}

int32_t DrawSystemIcon(TCanvas* Canvas, int32_t X, int32_t Y, const std::string& Path, bool Large, bool Printing,
                       double ResolutionFactor) {
  const int32_t size = Large ? 32 : 16;
  if (!Printing || ResolutionFactor == 1.0) {
    DrawFileIcon(Canvas, X, Y, Path, Large);
    return size;
  }
  TBitmap bmp;
  bmp.SetPixelFormat(pf24bit);
  bmp.SetSize(size, size);
  DrawFileIcon(bmp.Canvas(), 0, 0, Path, Large);
  const auto scaled = static_cast<int32_t>(Round(size * ResolutionFactor));
  StretchDrawScaled(Canvas, {X, Y, X + scaled, Y + scaled}, &bmp);
  return size;
}

void StretchDrawScaled(TCanvas* Canvas, const TRect& R, TBitmap* Bitmap) {
  if (!Canvas || !Bitmap || Bitmap->Empty()) return;
  Canvas->StretchDraw(R, Bitmap);
}

}  // namespace widgets

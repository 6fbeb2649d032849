#include "platform/TextCodec.h"

#include <QChar>
#include <QString>
#include <QTextBoundaryFinder>

namespace platform {

namespace {

// Code points of the bytes 0x80..0x9F; the rest map to themselves.
constexpr char16_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

}  // namespace

char32_t Cp1252ToCodePoint(uint8_t byte) {
  if (byte >= 0x80 && byte < 0xA0) return kHigh[byte - 0x80];
  return byte;
}

int CodePointToCp1252(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
  for (int i = 0; i < 32; ++i)
    if (kHigh[i] == cp) return 0x80 + i;
  return -1;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

char32_t FoldCase(char32_t cp) { return cp > 0x10FFFF ? cp : QChar::toCaseFolded(cp); }

char32_t DecodeUtf8(std::string_view s, size_t& pos) {
  const auto b0 = static_cast<uint8_t>(s[pos]);
  if (b0 < 0x80) {
    ++pos;
    return b0;
  }
  int len = 0;
  char32_t cp = 0;
  char32_t min = 0;
  if ((b0 & 0xE0) == 0xC0) {
    len = 2, cp = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3, cp = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4, cp = b0 & 0x07, min = 0x10000;
  } else {
    ++pos;
    return 0xFFFD;
  }
  if (pos + len > s.size()) {
    ++pos;
    return 0xFFFD;
  }
  for (int i = 1; i < len; ++i) {
    const auto b = static_cast<uint8_t>(s[pos + i]);
    if ((b & 0xC0) != 0x80) {
      ++pos;
      return 0xFFFD;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++pos;
    return 0xFFFD;
  }
  pos += len;
  return cp;
}

std::string Cp1252ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char c : bytes) {
    const auto b = static_cast<uint8_t>(c);
    if (b < 0x80)
      out += c;
    else
      AppendUtf8(out, Cp1252ToCodePoint(b));
  }
  return out;
}

std::string Utf8ToCp1252(std::string_view utf8, bool* lossy) {
  std::string out;
  out.reserve(utf8.size());
  bool lost = false;
  size_t pos = 0;
  while (pos < utf8.size()) {
    const auto b = static_cast<uint8_t>(utf8[pos]);
    if (b < 0x80) {
      out += static_cast<char>(b);
      ++pos;
      continue;
    }
    const size_t start = pos;
    char32_t cp = DecodeUtf8(utf8, pos);
    int mapped = (cp == 0xFFFD && pos == start + 1) ? -1 : CodePointToCp1252(cp);
    if (mapped < 0) {
      out += '?';
      lost = true;
    } else {
      out += static_cast<char>(mapped);
    }
  }
  if (lossy) *lossy = lost;
  return out;
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  size_t pos = 0;
  while (pos < utf8.size()) {
    char32_t cp = DecodeUtf8(utf8, pos);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (size_t i = 0; i < utf16.size(); ++i) {
    char32_t c = utf16[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    AppendUtf8(out, c);
  }
  return out;
}

std::vector<bool> CharacterStops(std::u32string_view Chars) {
  std::vector<bool> stops(Chars.size() + 1, false);
  stops.front() = stops.back() = true;
  // Positions in UTF-16 units and in characters side by side; unpaired surrogates (which no
  // stored text holds) count as one unit each.
  const QString text = QString::fromUcs4(Chars.data(), qsizetype(Chars.size()));
  if (text.isEmpty()) return stops;
  std::vector<size_t> charAt(size_t(text.size()) + 1, 0);
  for (size_t i = 0, u = 0; i < Chars.size(); ++i) {
    u += Chars[i] > 0xFFFF && Chars[i] <= 0x10FFFF ? 2 : 1;
    if (u < charAt.size()) charAt[u] = i + 1;
  }
  if (charAt.back() != Chars.size()) return std::vector<bool>(Chars.size() + 1, true);
  QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
  for (qsizetype u = finder.toNextBoundary(); u > 0 && u <= text.size(); u = finder.toNextBoundary())
    stops[charAt[size_t(u)]] = true;
  return stops;
}

}  // namespace platform

// Escaping, binary text codecs and date texts of the XML model.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "document/XmlDocuments.h"
#include "document/XmlDocumentsPriv.h"
#include "platform/SysUtils.h"

namespace document {

using platform::EFilerError;

namespace {

// --- dates: days since 1899-12-30 --------------------------------------------------------

constexpr int64_t kDaysFrom1899To1970 = 25569;  // days from 1899-12-30 to 1970-01-01

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
                               kDaysFrom1899To1970);
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

}  // namespace

namespace xmlpriv {

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
  CivilFromDays(static_cast<int64_t>(day) - kDaysFrom1899To1970, y, m, d);
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

}  // namespace xmlpriv

namespace {

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

}  // namespace document

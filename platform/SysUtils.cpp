#include "platform/SysUtils.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/Exceptions.h"

namespace platform {

std::string IntToStr(int64_t value) { return std::to_string(value); }

std::string IntToHex(int64_t value, int digits) {
  uint64_t u = (value < 0 && value >= std::numeric_limits<int32_t>::min())
                   ? static_cast<uint32_t>(value)
                   : static_cast<uint64_t>(value);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%llX", static_cast<unsigned long long>(u));
  std::string s = buf;
  if (digits > 32) digits = 32;
  if (static_cast<int>(s.size()) < digits) s.insert(0, digits - s.size(), '0');
  return s;
}

bool TryStrToInt64(std::string_view text, int64_t& value) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool neg = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) neg = text[i++] == '-';
  int base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  size_t end = text.size();
  while (end > i && text[end - 1] == ' ') --end;
  if (i >= end) return false;
  uint64_t acc = 0;
  for (size_t k = i; k < end; ++k) {
    char c = text[k];
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      return false;
    if (acc > (std::numeric_limits<uint64_t>::max() - d) / base) return false;
    acc = acc * base + d;
  }
  if (base == 16) {
    // Hexadecimal texts are bit patterns: $FFFFFFFF is -1 as a 32-bit value.
    if (acc > std::numeric_limits<uint32_t>::max()) {
      value = neg ? -static_cast<int64_t>(acc) : static_cast<int64_t>(acc);
      return true;
    }
    int64_t v = static_cast<int32_t>(static_cast<uint32_t>(acc));
    value = neg ? -v : v;
    return true;
  }
  if (neg) {
    if (acc > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) + 1) return false;
    value = static_cast<int64_t>(0 - acc);
  } else {
    if (acc > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return false;
    value = static_cast<int64_t>(acc);
  }
  return true;
}

bool TryStrToInt(std::string_view text, int32_t& value) {
  int64_t v;
  if (!TryStrToInt64(text, v)) return false;
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max()) return false;
  value = static_cast<int32_t>(v);
  return true;
}

int32_t StrToInt(std::string_view text) {
  int32_t v;
  if (!TryStrToInt(text, v))
    throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
  return v;
}

int32_t StrToIntDef(std::string_view text, int32_t def) {
  int32_t v;
  return TryStrToInt(text, v) ? v : def;
}

std::string FloatToStr(long double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  if (value == 0) return "0";
  // 15 significant digits, then the general format: fixed unless the decimal exponent is
  // above 15 or below -3 (0.0001 stays fixed, 0.00001 becomes 1E-5).
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 14);
  std::string s(buf, res.ptr);
  bool neg = s[0] == '-';
  if (neg) s.erase(0, 1);
  auto epos = s.find('e');
  int exp10 = std::stoi(s.substr(epos + 1));
  std::string digits;
  for (size_t k = 0; k < epos; ++k)
    if (s[k] != '.') digits += s[k];
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  int pointPos = exp10 + 1;  // digits before the decimal point
  std::string out = neg ? "-" : "";
  if (pointPos > 15 || pointPos < -3) {
    out += digits[0];
    if (digits.size() > 1) out += "." + digits.substr(1);
    out += "E" + std::to_string(exp10);
  } else if (pointPos <= 0) {
    out += "0." + std::string(-pointPos, '0') + digits;
  } else if (static_cast<size_t>(pointPos) >= digits.size()) {
    out += digits + std::string(pointPos - digits.size(), '0');
  } else {
    out += digits.substr(0, pointPos) + "." + digits.substr(pointPos);
  }
  return out;
}

bool TryStrToFloat(std::string_view text, long double& value) {
  size_t b = 0, e = text.size();
  while (b < e && text[b] == ' ') ++b;
  while (e > b && text[e - 1] == ' ') --e;
  std::string_view t = text.substr(b, e - b);
  // Grammar: [sign] digits [. digits] [(E|e) [sign] digits], at least one mantissa digit.
  size_t i = 0;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
  size_t mant = 0;
  while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i, ++mant;
  if (i < t.size() && t[i] == '.') {
    ++i;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i, ++mant;
  }
  if (mant == 0) return false;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    size_t ed = 0;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i, ++ed;
    if (ed == 0) return false;
  }
  if (i != t.size()) return false;
  std::string norm(t);
  if (!norm.empty() && norm[0] == '+') norm.erase(0, 1);
  if (norm.rfind(".", 0) == 0 || norm.rfind("-.", 0) == 0) norm.insert(norm[0] == '-' ? 1 : 0, "0");
  long double v = 0;
  auto res = std::from_chars(norm.data(), norm.data() + norm.size(), v);
  if (res.ec == std::errc::result_out_of_range) {
    return false;
  }
  if (res.ec != std::errc() || res.ptr != norm.data() + norm.size()) return false;
  value = v;
  return true;
}

long double StrToFloat(std::string_view text) {
  long double v;
  if (!TryStrToFloat(text, v))
    throw EConvertError("'" + std::string(text) + "' is not a valid floating point value");
  return v;
}

std::string UpperCase(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return r;
}

std::string LowerCase(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return r;
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

std::string Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return std::string(s.substr(b, e - b));
}

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool DeleteFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

std::string ExtractFilePath(const std::string& path) {
  auto p = path.find_last_of('/');
  return p == std::string::npos ? std::string() : path.substr(0, p + 1);
}

std::string ExtractFileName(const std::string& path) {
  auto p = path.find_last_of('/');
  return p == std::string::npos ? path : path.substr(p + 1);
}

std::string ExtractFileExt(const std::string& path) {
  auto p = path.find_last_of("./");
  if (p == std::string::npos || path[p] != '.') return std::string();
  return path.substr(p);
}

std::string ChangeFileExt(const std::string& path, const std::string& ext) {
  auto p = path.find_last_of("./");
  if (p == std::string::npos || path[p] != '.') return path + ext;
  return path.substr(0, p) + ext;
}

std::string IncludeTrailingPathDelimiter(const std::string& path) {
  if (!path.empty() && path.back() == '/') return path;
  return path + "/";
}

uint32_t GetTickCount() {
  using namespace std::chrono;
  auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  return static_cast<uint32_t>(ms);
}

}  // namespace platform

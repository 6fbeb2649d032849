#include "platform/DateUtils.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <ctime>
#include <vector>

#include "platform/Exceptions.h"

namespace platform {
namespace {

// Days from 1899-12-30 (the class library's day 0) to 1970-01-01.
constexpr int64_t kUnixEpochDay = 25569;

bool ValidDate(int32_t y, int32_t m, int32_t d) {
  using namespace std::chrono;
  if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1 || d > 31) return false;
  return year_month_day{year{y}, month{static_cast<unsigned>(m)}, day{static_cast<unsigned>(d)}}.ok();
}

// Splits at any of the separators; only digits are allowed in the pieces.
bool Numbers(const std::string& s, const char* seps, std::vector<int32_t>& out) {
  out.clear();
  int64_t v = 0;
  bool have = false;
  for (char c : s) {
    if (c >= '0' && c <= '9') {
      v = v * 10 + (c - '0');
      if (v > 100000) return false;
      have = true;
    } else if (std::strchr(seps, c)) {
      if (!have) return false;
      out.push_back(static_cast<int32_t>(v));
      v = 0;
      have = false;
    } else if (c != ' ') {
      return false;
    }
  }
  if (!have) return false;
  out.push_back(static_cast<int32_t>(v));
  return true;
}

}  // namespace

TDateTime EncodeDate(int32_t Year, int32_t Month, int32_t Day) {
  using namespace std::chrono;
  if (!ValidDate(Year, Month, Day)) throw EConvertError("Invalid argument to date encode");
  const sys_days days{year_month_day{year{Year}, month{static_cast<unsigned>(Month)}, day{static_cast<unsigned>(Day)}}};
  return static_cast<double>(days.time_since_epoch().count() + kUnixEpochDay);
}

TDateTime EncodeTime(int32_t Hour, int32_t Min, int32_t Sec, int32_t MSec) {
  if (Hour < 0 || Hour > 23 || Min < 0 || Min > 59 || Sec < 0 || Sec > 59 || MSec < 0 || MSec > 999)
    throw EConvertError("Invalid argument to time encode");
  return (((Hour * 60.0 + Min) * 60.0 + Sec) * 1000.0 + MSec) / 86400000.0;
}

void DecodeDate(TDateTime Date, int32_t& Year, int32_t& Month, int32_t& Day) {
  using namespace std::chrono;
  const auto n = static_cast<int64_t>(std::floor(Date)) - kUnixEpochDay;
  const year_month_day ymd{sys_days{days{n}}};
  Year = static_cast<int32_t>(ymd.year());
  Month = static_cast<int32_t>(static_cast<unsigned>(ymd.month()));
  Day = static_cast<int32_t>(static_cast<unsigned>(ymd.day()));
}

void DecodeTime(TDateTime Time, int32_t& Hour, int32_t& Min, int32_t& Sec, int32_t& MSec) {
  const double frac = std::fabs(Time - std::floor(Time));
  auto ms = static_cast<int64_t>(std::llround(frac * 86400000.0));
  if (ms >= 86400000) ms = 86399999;
  Hour = static_cast<int32_t>(ms / 3600000);
  Min = static_cast<int32_t>(ms / 60000 % 60);
  Sec = static_cast<int32_t>(ms / 1000 % 60);
  MSec = static_cast<int32_t>(ms % 1000);
}

TDateTime Now() {
  const std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  return EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) +
         EncodeTime(local.tm_hour, local.tm_min, std::min(local.tm_sec, 59), 0);
}

TDateTime Date() { return std::floor(Now()); }
TDateTime Time() {
  const TDateTime n = Now();
  return n - std::floor(n);
}

std::string DateToStr(TDateTime Value) {
  int32_t y, m, d;
  DecodeDate(Value, y, m, d);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d-%d-%04d", d, m, y);
  return buf;
}

std::string TimeToStr(TDateTime Value) {
  int32_t h, mi, s, ms;
  DecodeTime(Value, h, mi, s, ms);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d:%02d:%02d", h, mi, s);
  return buf;
}

bool TryStrToDate(const std::string& S, TDateTime& Value) {
  std::vector<int32_t> n;
  if (!Numbers(S, "-/.", n) || n.size() != 3) return false;
  int32_t y = n[2];
  if (y < 100) y += y < 50 ? 2000 : 1900;
  if (!ValidDate(y, n[1], n[0])) return false;
  Value = EncodeDate(y, n[1], n[0]);
  return true;
}

bool TryStrToTime(const std::string& S, TDateTime& Value) {
  std::vector<int32_t> n;
  if (!Numbers(S, ":", n) || n.size() < 2 || n.size() > 3) return false;
  const int32_t sec = n.size() == 3 ? n[2] : 0;
  if (n[0] > 23 || n[1] > 59 || sec > 59) return false;
  Value = EncodeTime(n[0], n[1], sec, 0);
  return true;
}

TDateTime StrToDate(const std::string& S) {
  TDateTime v = 0;
  if (!TryStrToDate(S, v)) throw EConvertError("'" + S + "' is not a valid date");
  return v;
}

TDateTime StrToTime(const std::string& S) {
  TDateTime v = 0;
  if (!TryStrToTime(S, v)) throw EConvertError("'" + S + "' is not a valid time");
  return v;
}

}  // namespace platform

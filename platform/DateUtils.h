// Dates and times as the class library keeps them: a TDateTime is days since 30 December 1899
// (the fraction is the time of day). Texts use the Dutch short formats "d-M-yyyy" and "H:mm:ss".
#pragma once

#include <cstdint>
#include <string>

namespace platform {

using TDateTime = double;

// Raises EConvertError "'%s' is not a valid date" for an impossible date.
TDateTime EncodeDate(int32_t Year, int32_t Month, int32_t Day);
TDateTime EncodeTime(int32_t Hour, int32_t Min, int32_t Sec, int32_t MSec);
void DecodeDate(TDateTime Date, int32_t& Year, int32_t& Month, int32_t& Day);
void DecodeTime(TDateTime Time, int32_t& Hour, int32_t& Min, int32_t& Sec, int32_t& MSec);
TDateTime Now();
TDateTime Date();
TDateTime Time();
std::string DateToStr(TDateTime Value);
std::string TimeToStr(TDateTime Value);
// "d-M-yyyy" ("/" and "." are accepted as separators too; a two-digit year is 19xx/20xx around 2000).
bool TryStrToDate(const std::string& S, TDateTime& Value);
// "H:mm" or "H:mm:ss".
bool TryStrToTime(const std::string& S, TDateTime& Value);
// Raise EConvertError "'%s' is not a valid date" / "'%s' is not a valid time".
TDateTime StrToDate(const std::string& S);
TDateTime StrToTime(const std::string& S);

}  // namespace platform

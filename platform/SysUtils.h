// Text and file helpers with the rules stored documents rely on: integer and float
// conversion (always "." as decimal separator on output), hexadecimal, file names.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

std::string IntToStr(int64_t value);
// Upper-case hexadecimal with at least `digits` digits; negative values as two's complement
// of their 32-bit (or 64-bit when they need it) form.
std::string IntToHex(int64_t value, int digits);
// Decimal, or hexadecimal after "$" or "0x"; surrounding blanks allowed. Raises EConvertError
// "'%s' is not a valid integer value".
int32_t StrToInt(std::string_view text);
int32_t StrToIntDef(std::string_view text, int32_t def);
bool TryStrToInt(std::string_view text, int32_t& value);
bool TryStrToInt64(std::string_view text, int64_t& value);

// General format with 15 significant digits: "12.5", "0.1", "1E-5", "1.5E20".
std::string FloatToStr(long double value);
// Accepts "." as decimal separator, an optional exponent, surrounding blanks.
bool TryStrToFloat(std::string_view text, long double& value);
// Raises EConvertError "'%s' is not a valid floating point value".
long double StrToFloat(std::string_view text);

std::string UpperCase(std::string_view s);  // ASCII only: other letters stay as they are
std::string LowerCase(std::string_view s);
bool SameText(std::string_view a, std::string_view b);  // ASCII case-insensitive
std::string Trim(std::string_view s);  // removes characters <= ' ' at both ends

bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);
bool DeleteFile(const std::string& path);
std::string ExtractFilePath(const std::string& path);  // with the trailing '/'
std::string ExtractFileName(const std::string& path);
std::string ExtractFileExt(const std::string& path);  // with the dot
std::string ChangeFileExt(const std::string& path, const std::string& ext);
std::string IncludeTrailingPathDelimiter(const std::string& path);

// Milliseconds since an arbitrary start, wrapping at 2^32 like a 32-bit tick count.
uint32_t GetTickCount();

}  // namespace platform

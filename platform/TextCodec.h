// Conversions at the boundary between files in windows-1252 or UTF-16 and the UTF-8 strings
// used inside the program.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Every windows-1252 byte has a code point (the five unassigned ones map to U+0081 and alike).
std::string Cp1252ToUtf8(std::string_view bytes);
// Characters outside windows-1252 and malformed UTF-8 become '?'. *lossy is set when any did.
std::string Utf8ToCp1252(std::string_view utf8, bool* lossy = nullptr);
// Code point of one windows-1252 byte.
char32_t Cp1252ToCodePoint(uint8_t byte);
// windows-1252 byte of a code point, or -1 when it has none.
int CodePointToCp1252(char32_t cp);

std::u16string Utf8ToUtf16(std::string_view utf8);
// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view utf16);

// Decodes one code point from UTF-8 at pos, advancing pos; malformed input gives U+FFFD
// and advances one byte.
char32_t DecodeUtf8(std::string_view s, size_t& pos);
void AppendUtf8(std::string& out, char32_t cp);
// The simple Unicode case folding of a code point ("É" and "é" both give "é"), for matching
// characters without regard to case.
char32_t FoldCase(char32_t cp);
// For each position 0 .. size of Chars: whether a caret may stand there, that is, whether it is
// a boundary between user-perceived characters (a letter and its combining marks, an emoji
// with its modifiers, a flag, a CR LF pair stay whole), as the platform's editors see them.
std::vector<bool> CharacterStops(std::u32string_view Chars);

}  // namespace platform

// Lossless conversion between the narrow texts (UTF-8) and the wide texts (UTF-16) of cells.
//
// A wide text keeps one UTF-16 code unit in each wchar_t, on every platform, so that cells hold
// the same units as the host's records whatever the width of wchar_t.
#pragma once

#include <string>
#include <string_view>

namespace xlframe {

// Unpaired surrogates become U+FFFD.
std::string utf16ToUtf8(std::wstring_view wide);
// Malformed UTF-8 sequences become U+FFFD; characters beyond the BMP become surrogate pairs.
std::wstring utf8ToUtf16(std::string_view narrow);

// Appends the UTF-8 form of one code point (surrogates and values above U+10FFFF give U+FFFD).
void appendUtf8(std::string& out, char32_t codePoint);

}  // namespace xlframe

#include <gtest/gtest.h>

#include <string>

#include "host/host_values.hpp"
#include "xlframe/cell_matrix.hpp"
#include "xlframe/utf.hpp"

namespace xlframe {
namespace {

std::wstring units(std::initializer_list<unsigned> codeUnits) {
    std::wstring text;
    for (unsigned unit : codeUnits) text.push_back(static_cast<wchar_t>(unit));
    return text;
}

// Every code point, against the stand-in host's own conversions as the reference, also through
// the cells; some bytes written out by hand from the code points.
TEST(Utf, EveryCodePointAgreesWithTheHostsConversion) {
    int wrong = 0;
    for (char32_t point = 0; point <= 0x10FFFF; ++point) {
        if (point >= 0xD800 && point <= 0xDFFF) continue;
        std::string utf8;
        appendUtf8(utf8, point);
        const std::u16string reference = host::detail::utf8ToUtf16(utf8);
        const std::wstring wide(reference.begin(), reference.end());
        wrong += utf8 != host::detail::utf16ToUtf8(reference) || utf8ToUtf16(utf8) != wide || utf16ToUtf8(wide) != utf8;
        if (point % 97 == 0) wrong += impl::CellValueImpl(wide).GetString() != utf8 || impl::CellValueImpl(utf8).GetWideString() != wide;
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(utf16ToUtf8(units({'A', 0xE4, 0x3B1, 0x20AC, 0xD83D, 0xDE00})), "A\xC3\xA4\xCE\xB1\xE2\x82\xAC\xF0\x9F\x98\x80");
    for (char32_t invalid : {char32_t{0xD800}, char32_t{0xDFFF}, char32_t{0x110000}}) {
        std::string utf8;
        appendUtf8(utf8, invalid);
        EXPECT_EQ(utf8, "\xEF\xBF\xBD");
    }
}

TEST(Utf, MalformedInputBecomesReplacementCharacters) {
    const std::string replacement = "\xEF\xBF\xBD";
    EXPECT_EQ(utf16ToUtf8(units({'a', 0xD800, 'b'})), "a" + replacement + "b");
    EXPECT_EQ(utf16ToUtf8(units({0xDC00})) + utf16ToUtf8(units({0xD83D})), replacement + replacement);
    EXPECT_EQ(utf8ToUtf16("a\xFF" "b"), units({'a', 0xFFFD, 'b'}));
    // Cut short, overlong (a '/' must not decode to '/'), a surrogate, beyond the last code point.
    for (const char* bad : {"\xE2\x82", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80"})
        EXPECT_EQ(utf8ToUtf16(bad), std::wstring(std::string(bad) == "\xC0\xAF" ? 2 : 1, L'\xFFFD')) << bad;
}

}  // namespace
}  // namespace xlframe

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

struct RoundTrip {
    const char* name;
    std::string utf8;
    std::wstring utf16;
};

// UTF-8 bytes written out by hand from the code points.
const RoundTrip roundTrips[] = {
    {"ascii", "AUROC", units({'A', 'U', 'R', 'O', 'C'})},
    {"umlauts", "\xC3\xA4\xC3\xB6\xC3\xBC\xC3\x9F", units({0xE4, 0xF6, 0xFC, 0xDF})},
    {"euro", "\xE2\x82\xAC", units({0x20AC})},
    {"greek", "\xCE\xB1\xCE\xB2\xCE\xB3", units({0x3B1, 0x3B2, 0x3B3})},
    {"beyond the basic plane", "\xF0\x9F\x98\x80", units({0xD83D, 0xDE00})},
    {"empty", "", units({})},
};

TEST(Utf, RoundTripsAreLosslessAlsoThroughCells) {
    CellMatrix m(1, 2);
    for (const RoundTrip& c : roundTrips) {
        EXPECT_EQ(utf16ToUtf8(c.utf16), c.utf8) << c.name;
        EXPECT_EQ(utf8ToUtf16(c.utf8), c.utf16) << c.name;
        m(0, 0) = c.utf16;
        EXPECT_EQ(m(0, 0).GetString(), c.utf8) << c.name;
        m(0, 1) = c.utf8;
        EXPECT_EQ(m(0, 1).GetWideString(), c.utf16) << c.name;
    }
}

// Every code point, against the stand-in host's own conversions as the reference.
TEST(Utf, EveryCodePointAgreesWithTheHostsConversion) {
    int wrong = 0;
    for (char32_t point = 0; point <= 0x10FFFF; ++point) {
        if (point >= 0xD800 && point <= 0xDFFF) continue;
        std::string utf8;
        appendUtf8(utf8, point);
        const std::u16string reference = host::detail::utf8ToUtf16(utf8);
        const std::wstring wide(reference.begin(), reference.end());
        wrong += utf8 != host::detail::utf16ToUtf8(reference) || utf8ToUtf16(utf8) != wide || utf16ToUtf8(wide) != utf8;
    }
    EXPECT_EQ(wrong, 0);
    for (char32_t invalid : {char32_t{0xD800}, char32_t{0xDFFF}, char32_t{0x110000}}) {
        std::string utf8;
        appendUtf8(utf8, invalid);
        EXPECT_EQ(utf8, "\xEF\xBF\xBD");
    }
}

TEST(Utf, MalformedInputBecomesReplacementCharacters) {
    const std::string replacement = "\xEF\xBF\xBD";
    EXPECT_EQ(utf16ToUtf8(units({'a', 0xD800, 'b'})), "a" + replacement + "b");
    EXPECT_EQ(utf16ToUtf8(units({0xDC00})), replacement);
    EXPECT_EQ(utf16ToUtf8(units({0xD83D})), replacement);
    EXPECT_EQ(utf8ToUtf16("a\xFF" "b"), units({'a', 0xFFFD, 'b'}));
    EXPECT_EQ(utf8ToUtf16("\xE2\x82"), units({0xFFFD}));
    // An overlong form of '/' must not decode to '/'.
    const std::wstring overlong = utf8ToUtf16("\xC0\xAF");
    ASSERT_FALSE(overlong.empty());
    for (wchar_t unit : overlong) EXPECT_EQ(unit, static_cast<wchar_t>(0xFFFD));
}

}  // namespace
}  // namespace xlframe

// The host's own value rules: numeric texts, numbers shown as text, and UTF-8 / UTF-16.
#include <gtest/gtest.h>

#include <cmath>

#include "host/host_values.hpp"

namespace {

using host::detail::numberText;
using host::detail::parseNumber;

TEST(HostValues, ReadsNumericTextsAsASpreadsheetDoes) {
    struct Case {
        const char* text;
        std::optional<double> number;
    };
    const Case cases[] = {
        {"12.5", 12.5}, {" 7 ", 7.0}, {"-3", -3.0}, {"+4", 4.0}, {".5", 0.5}, {"5.", 5.0}, {"1e3", 1000.0},
        {"2.5E-2", 0.025}, {"50%", 0.5}, {"-12.5 %", -0.125}, {"0", 0.0},
        {"", std::nullopt}, {" ", std::nullopt}, {"abc", std::nullopt}, {"12a", std::nullopt}, {"1e", std::nullopt},
        {"inf", std::nullopt}, {"nan", std::nullopt}, {"0x10", std::nullopt}, {"1..2", std::nullopt},
        {"--1", std::nullopt}, {"%", std::nullopt}, {"1e400", std::nullopt}, {"TRUE", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const std::optional<double> got = parseNumber(c.text);
        ASSERT_EQ(got.has_value(), c.number.has_value());
        if (got) {
            EXPECT_DOUBLE_EQ(*got, *c.number);
        }
    }
}

TEST(HostValues, ShowsNumbersInTheGeneralFormat) {
    struct Case {
        double number;
        const char* text;
    };
    const Case cases[] = {
        {12.5, "12.5"}, {0.1 + 0.2, "0.3"}, {1.0 / 3, "0.333333333333333"}, {-2, "-2"}, {-0.0, "0"},
        {1e20, "1E+20"}, {123456789012345.0, "123456789012345"}, {1e15, "1E+15"}, {0.0001, "0.0001"},
        {1.5e-7, "1.5E-07"}, {2.0 / 3 * 1e-10, "6.66666666666667E-11"},
    };
    for (const Case& c : cases) EXPECT_EQ(numberText(c.number), c.text) << c.number;
}

TEST(HostValues, ConvertsBetweenUtf8AndUtf16) {
    const std::string text = "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";  // A, e acute, euro sign, a face
    const std::u16string wide = host::detail::utf8ToUtf16(text);
    EXPECT_EQ(wide, (std::u16string{u'A', 0x00E9, 0x20AC, 0xD83D, 0xDE00}));
    EXPECT_EQ(host::detail::utf16ToUtf8(wide), text);
    // Invalid input becomes the replacement character, one for each bad unit.
    EXPECT_EQ(host::detail::utf8ToUtf16("a\xFF" "b"), (std::u16string{u'a', 0xFFFD, u'b'}));
    EXPECT_EQ(host::detail::utf8ToUtf16("\xC3"), (std::u16string{0xFFFD}));
    EXPECT_EQ(host::detail::utf8ToUtf16("\xED\xA0\x80"), (std::u16string{0xFFFD, 0xFFFD, 0xFFFD}));
    EXPECT_EQ(host::detail::utf16ToUtf8(std::u16string{0xD800, u'x'}), "\xEF\xBF\xBDx");
}

TEST(HostValues, CutsUtf8TextsOnCharacterBoundaries) {
    EXPECT_EQ(host::detail::utf8Prefix("abc", 5), "abc");
    EXPECT_EQ(host::detail::utf8Prefix("ab\xC3\xA9", 3), "ab");
    EXPECT_EQ(host::detail::utf8Prefix("ab\xC3\xA9", 4), "ab\xC3\xA9");
    EXPECT_EQ(host::detail::utf8Prefix("\xF0\x9F\x98\x80z", 3), "");
}

TEST(HostValues, KeepsTextsWithinEachRecordGeneration) {
    host::detail::Arena arena;
    xloper old{};
    host::detail::makeValue(old, host::Value(std::string(300, 'x')), arena);
    EXPECT_EQ(static_cast<unsigned char>(old.val.str[0]), 255);
    EXPECT_EQ(host::detail::readText(old), std::string(255, 'x'));
    xloper12 wide{};
    host::detail::makeValue(wide, host::Value(std::string(40000, 'y')), arena);
    EXPECT_EQ(wide.val.str[0], 32767);
    host::detail::makeValue(wide, host::Value(std::nan("")), arena);
    EXPECT_EQ(wide.xltype, xltypeErr);
    EXPECT_EQ(wide.val.err, xlerrNum);
}

}  // namespace

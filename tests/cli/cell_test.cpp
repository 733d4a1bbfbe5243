// Cell texts read as a spreadsheet reads them, against a plain reading, and shown again. Each kind
// of cell, and the names of cells, are worksheet cases of the command (tests/cli/e2e/calc_cells,
// csv_reading).
#include "cli/cell.hpp"

#include <gtest/gtest.h>

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>
#include <random>
#include <string>

#include "cli/csv.hpp"

namespace {

using cli::readCell;

// The reading written out plainly: the sign, digits and exponent copied into a string of the form
// from_chars reads, and the cell kinds tried in turn.
std::optional<double> plainNumber(std::string_view text, bool decimalComma) {
    auto trim = [](std::string_view t) {
        while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
        while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
        return t;
    };
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    text = trim(text);
    const bool percent = !text.empty() && text.back() == '%';
    if (percent) text = trim(text.substr(0, text.size() - 1));
    std::string number;
    std::size_t i = 0, digits = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        if (text[i] == '-') number.push_back('-');
        ++i;
    }
    for (; i < text.size() && digit(text[i]); ++i, ++digits) number.push_back(text[i]);
    if (i < text.size() && (text[i] == '.' || (decimalComma && text[i] == ','))) {
        number.push_back('.');
        for (++i; i < text.size() && digit(text[i]); ++i, ++digits) number.push_back(text[i]);
    }
    if (digits == 0) return std::nullopt;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        number.push_back('e');
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) number.push_back(text[i++]);
        std::size_t exponentDigits = 0;
        for (; i < text.size() && digit(text[i]); ++i, ++exponentDigits) number.push_back(text[i]);
        if (exponentDigits == 0) return std::nullopt;
    }
    if (i != text.size()) return std::nullopt;
    double value = 0.0;
    const auto [end, status] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (status != std::errc{} || end != number.data() + number.size() || !std::isfinite(value)) return std::nullopt;
    return percent ? value / 100.0 : value;
}

host::Value plainCell(std::string_view text, bool decimalComma) {
    if (text.empty()) return host::Blank{};
    if (auto number = plainNumber(text, decimalComma)) return *number;
    std::string upper;
    std::string_view trimmed = text;
    while (!trimmed.empty() && (trimmed.front() == ' ' || trimmed.front() == '\t')) trimmed.remove_prefix(1);
    while (!trimmed.empty() && (trimmed.back() == ' ' || trimmed.back() == '\t')) trimmed.remove_suffix(1);
    for (char c : trimmed) upper.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    if (upper == "TRUE") return true;
    if (upper == "FALSE") return false;
    const std::pair<const char*, int> errors[] = {{"#NULL!", 0},  {"#DIV/0!", 7}, {"#VALUE!", 15}, {"#REF!", 23},
                                                  {"#NAME?", 29}, {"#NUM!", 36},  {"#N/A", 42},    {"#SPILL!", 2045}};
    for (const auto& [literal, code] : errors) {
        if (upper == literal) return host::ErrorValue{code};
    }
    return std::string(text);
}

bool sameCell(const host::Value& a, const host::Value& b) {
    // Numbers to the bit: -0 and 0 differ here.
    if (std::holds_alternative<double>(a) && std::holds_alternative<double>(b)) {
        const double x = std::get<double>(a), y = std::get<double>(b);
        return std::memcmp(&x, &y, sizeof x) == 0;
    }
    return a == b;
}

TEST(ReadCell, AgreesWithThePlainReadingOnGeneratedTexts) {
    // Texts built from the characters that matter to numbers, with words and long digit runs mixed in.
    const std::string_view pieces[] = {"0",
                                       "1",
                                       "5",
                                       "9",
                                       "+",
                                       "-",
                                       ".",
                                       ",",
                                       "e",
                                       "E",
                                       "%",
                                       " ",
                                       "\t",
                                       "x",
                                       "a",
                                       "inf",
                                       "nan",
                                       "0x1F",
                                       "TRUE",
                                       "fAlse",
                                       "#N/A",
                                       "#div/0!",
                                       "400",
                                       "1e308",
                                       "00000000000000000000000000000000000000000000000000000000000000000001",
                                       "12345678901234567890123456789012345678901234567890123456789012345,5"};
    std::mt19937 random(7);
    std::size_t numbers = 0;
    for (int n = 0; n < 300000; ++n) {
        std::string text;
        const int count = static_cast<int>(random() % 7);
        for (int i = 0; i < count; ++i) {
            // Mostly single characters, so that near-numbers are common.
            const std::size_t pick = random() % 4 == 0 ? random() % std::size(pieces) : random() % 15;
            text += pieces[pick];
        }
        for (bool decimalComma : {false, true}) {
            const host::Value expected = plainCell(text, decimalComma);
            numbers += std::holds_alternative<double>(expected);
            ASSERT_TRUE(sameCell(readCell(text, decimalComma), expected))
                << "\"" << text << "\" decimal comma " << decimalComma;
            // A CSV field of that text reads the same, whichever way the reader takes it.
            if (text.find(',') != std::string::npos) continue;
            const auto sheet = cli::parseCsv(text + "\n", "t.csv", {.separator = decimalComma ? ';' : ','});
            ASSERT_TRUE(sameCell(sheet.at(0, 0), expected)) << "\"" << text << "\" in a CSV file";
        }
    }
    // The texts reach the number forms often, not only the rejections.
    EXPECT_GT(numbers, 60000u);
}

TEST(ReadCell, AgreesWithThePlainReadingOnGeneratedNumbers) {
    // Numbers around the limits of an exactly held mantissa (15 to 17 digits) and power of ten
    // (1e22), where a shortcut and from_chars could part, and far beyond them.
    std::mt19937_64 random(11);
    for (int n = 0; n < 300000; ++n) {
        std::string text;
        if (random() % 3 == 0) text += random() % 2 ? "-" : "+";
        const std::size_t length = 1 + random() % 20;
        const std::size_t point = random() % (length + 1);
        for (std::size_t i = 0; i < length; ++i) {
            if (i == point) text += random() % 2 ? "." : ",";
            // Runs of nines and zeros make carries and exact halves common.
            const auto kind = random() % 4;
            text += kind == 0 ? '9' : kind == 1 ? '0' : static_cast<char>('0' + random() % 10);
        }
        if (random() % 2) {
            text += random() % 2 ? "e" : "E";
            const long exponent = static_cast<long>(random() % 700) - 350;
            if (exponent >= 0 && random() % 2) text += '+';
            text += std::to_string(random() % 4 ? exponent % 40 : exponent);
        }
        if (random() % 8 == 0) text += "%";
        for (bool decimalComma : {false, true}) {
            ASSERT_TRUE(sameCell(readCell(text, decimalComma), plainCell(text, decimalComma)))
                << "\"" << text << "\" decimal comma " << decimalComma;
        }
    }
}

TEST(ShowCell, GeneralAndExactNumbers) {
    EXPECT_EQ(cli::showCell(0.1 + 0.2, true), "0.30000000000000004");
    EXPECT_EQ(cli::showCell(0.1 + 0.2, false), "0.3");
    EXPECT_EQ(cli::showCell(1.0 / 3.0, false), "0.3333333333");
    EXPECT_EQ(cli::showCell(1e21, true), "1e+21");
    EXPECT_EQ(cli::showCell(-0.0, true), "0");
    EXPECT_EQ(cli::showCell(std::nan(""), true), "#NUM!");
    EXPECT_EQ(cli::showCell(true, true), "TRUE");
    EXPECT_EQ(cli::showCell(host::ErrorValue{cli::errorSpill}, true), "#SPILL!");
    EXPECT_EQ(cli::showCell(host::Blank{}, true), "");
    // Exact forms read back to the same double.
    for (double x : {1.0 / 3.0, 2.0 / 7.0, 1e-300, 123456789.125, -5e15}) {
        EXPECT_EQ(std::get<double>(readCell(cli::formatExact(x))), x);
    }
}

}  // namespace

// Reading and showing single cells.
#include "cli/cell.hpp"

#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <utility>

namespace cli {
namespace {

constexpr std::array<std::pair<int, std::string_view>, 8> errorLiterals{{
    {errorNull, "#NULL!"},
    {errorDiv0, "#DIV/0!"},
    {errorValue, "#VALUE!"},
    {errorRef, "#REF!"},
    {errorName, "#NAME?"},
    {errorNum, "#NUM!"},
    {errorNA, "#N/A"},
    {errorSpill, "#SPILL!"},
}};

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::optional<int> errorCode(std::string_view literal) {
    for (const auto& [code, text] : errorLiterals) {
        if (equalsIgnoringCase(literal, text)) return code;
    }
    return std::nullopt;
}

std::string_view errorLiteral(int code) {
    for (const auto& [known, text] : errorLiterals) {
        if (known == code) return text;
    }
    return "#N/A";
}

std::optional<double> readNumber(std::string_view text, bool decimalComma) {
    text = trimBlanks(text);
    bool percent = false;
    if (!text.empty() && text.back() == '%') {
        percent = true;
        text.remove_suffix(1);
        text = trimBlanks(text);
    }
    // Checked by hand first: from_chars alone would also take "inf", "nan" and hex-like forms.
    if (!decimalComma && !percent && !text.empty()) {
        // The common case, plain digits with point and exponent, is read in place.
        std::string_view digits = text;
        if (digits.front() == '+') digits.remove_prefix(1);
        double value = 0.0;
        const auto [end, status] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        const bool plain = !digits.empty() && (isDigit(digits.front()) || digits.front() == '-' || digits.front() == '.') &&
                           digits.find_first_not_of("0123456789.eE+-") == std::string_view::npos;
        if (plain && status == std::errc{} && end == digits.data() + digits.size() && std::isfinite(value) &&
            !(digits.size() > 1 && digits.front() == '-' && (digits[1] == '+' || digits[1] == '-')))
            return value;
    }
    std::string number;
    number.reserve(text.size());
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        if (text[i] == '-') number.push_back('-');
        ++i;
    }
    std::size_t digits = 0;
    while (i < text.size() && isDigit(text[i])) {
        number.push_back(text[i++]);
        ++digits;
    }
    const char point = decimalComma ? ',' : '.';
    if (i < text.size() && (text[i] == point || (decimalComma && text[i] == '.'))) {
        number.push_back('.');
        ++i;
        while (i < text.size() && isDigit(text[i])) {
            number.push_back(text[i++]);
            ++digits;
        }
    }
    if (digits == 0) return std::nullopt;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        number.push_back('e');
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) number.push_back(text[i++]);
        std::size_t exponentDigits = 0;
        while (i < text.size() && isDigit(text[i])) {
            number.push_back(text[i++]);
            ++exponentDigits;
        }
        if (exponentDigits == 0) return std::nullopt;
    }
    if (i != text.size()) return std::nullopt;
    double value = 0.0;
    const auto [end, status] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (status != std::errc{} || end != number.data() + number.size() || !std::isfinite(value)) return std::nullopt;
    if (percent) value /= 100.0;
    return value;
}

host::Value readCell(std::string_view text, bool decimalComma) {
    if (text.empty()) return host::Blank{};
    if (auto number = readNumber(text, decimalComma)) return *number;
    const std::string_view trimmed = trimBlanks(text);
    if (equalsIgnoringCase(trimmed, "TRUE")) return true;
    if (equalsIgnoringCase(trimmed, "FALSE")) return false;
    if (auto code = errorCode(trimmed)) return host::ErrorValue{*code};
    return std::string(text);
}

std::string formatGeneral(double number) {
    if (!std::isfinite(number)) return std::string(errorLiteral(errorNum));
    if (number == 0.0) return "0";
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.10g", number);
    return buffer;
}

std::string formatExact(double number) {
    if (!std::isfinite(number)) return std::string(errorLiteral(errorNum));
    if (number == 0.0) return "0";
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, number);
    return std::string(buffer, result.ptr);
}

std::string showCell(const host::Value& value, bool exact) {
    struct Visitor {
        bool exact;
        std::string operator()(host::Blank) const { return {}; }
        std::string operator()(double number) const { return exact ? formatExact(number) : formatGeneral(number); }
        std::string operator()(const std::string& text) const { return text; }
        std::string operator()(bool flag) const { return flag ? "TRUE" : "FALSE"; }
        std::string operator()(host::ErrorValue error) const { return std::string(errorLiteral(error.code)); }
    };
    return std::visit(Visitor{exact}, value);
}

std::string columnName(std::size_t column) {
    std::string name;
    ++column;
    while (column > 0) {
        const std::size_t digit = (column - 1) % 26;
        name.insert(name.begin(), static_cast<char>('A' + digit));
        column = (column - 1) / 26;
    }
    return name;
}

std::string cellName(std::size_t row, std::size_t column) { return columnName(column) + std::to_string(row + 1); }

}  // namespace cli

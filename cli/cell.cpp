// Reading and showing single cells.
#include "cli/cell.hpp"

#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
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

namespace {

// Powers of ten that a double holds exactly.
constexpr double exactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                       1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// readNumber's work, with the value through a reference: returning an optional<double> from the
// per-cell path cost a stalled load of its flag on every call.
bool scanNumber(std::string_view text, bool decimalComma, double& value) {
    text = trimBlanks(text);
    bool percent = false;
    if (!text.empty() && text.back() == '%') {
        percent = true;
        text.remove_suffix(1);
        text = trimBlanks(text);
    }
    // The form is checked by hand, since from_chars alone would also take "inf", "nan" and
    // hex-like forms.
    const char* const begin = text.data();
    const char* const end = begin + text.size();
    const char* p = begin;
    const bool negative = p != end && *p == '-';
    if (p != end && (*p == '+' || *p == '-')) ++p;
    const char* const number = begin != end && *begin == '+' ? begin + 1 : begin;
    std::uint64_t mantissa = 0;
    std::size_t digits = 0, fractionDigits = 0;
    for (; p != end && isDigit(*p); ++p, ++digits) mantissa = mantissa * 10 + static_cast<unsigned>(*p - '0');
    const char* comma = nullptr;  // a decimal comma, which from_chars reads as a point
    if (p != end && (*p == '.' || (decimalComma && *p == ','))) {
        if (*p == ',') comma = p;
        for (++p; p != end && isDigit(*p); ++p, ++digits, ++fractionDigits)
            mantissa = mantissa * 10 + static_cast<unsigned>(*p - '0');
    }
    if (digits == 0) return false;
    long exponent = 0;
    std::size_t exponentDigits = 0;
    if (p != end && (*p == 'e' || *p == 'E')) {
        ++p;
        const bool negativeExponent = p != end && *p == '-';
        if (p != end && (*p == '+' || *p == '-')) ++p;
        for (; p != end && isDigit(*p); ++p, ++exponentDigits) {
            if (exponent < 100000) exponent = exponent * 10 + (*p - '0');
        }
        if (exponentDigits == 0) return false;
        if (negativeExponent) exponent = -exponent;
    }
    if (p != end) return false;
    // Up to 15 digits are exact in a double, and so are the powers of ten up to 1e22: one
    // multiplication or division of the two then rounds correctly, as from_chars does (Clinger's
    // fast path). Anything longer or larger goes to from_chars.
    const long power = exponent - static_cast<long>(fractionDigits);
    if (digits <= 15 && power >= -22 && power <= 22) {
        value = static_cast<double>(mantissa);
        value = power < 0 ? value / exactPowersOfTen[-power] : value * exactPowersOfTen[power];
        if (negative) value = -value;
    } else if (!comma) {
        const auto [stop, status] = std::from_chars(number, end, value);
        if (status != std::errc{} || stop != end) return false;
    } else {
        // Most numbers fit the buffer on the stack; a longer one is copied to the heap.
        const auto size = static_cast<std::size_t>(end - number);
        char buffer[64];
        std::string longer;
        char* copy = buffer;
        if (size > sizeof buffer) {
            longer.assign(number, end);
            copy = longer.data();
        } else {
            std::memcpy(buffer, number, size);
        }
        copy[comma - number] = '.';
        const auto [stop, status] = std::from_chars(copy, copy + size, value);
        if (status != std::errc{} || stop != copy + size) return false;
    }
    if (!std::isfinite(value)) return false;
    if (percent) value /= 100.0;
    return true;
}

}  // namespace

std::optional<double> readNumber(std::string_view text, bool decimalComma) {
    double value = 0.0;
    if (!scanNumber(text, decimalComma, value)) return std::nullopt;
    return value;
}

CellView readCellView(std::string_view text, bool decimalComma) {
    using Kind = CellView::Kind;
    if (text.empty()) return {};
    if (double number = 0.0; scanNumber(text, decimalComma, number)) return {Kind::Number, number, {}};
    const std::string_view trimmed = trimBlanks(text);
    if (equalsIgnoringCase(trimmed, "TRUE")) return {Kind::Boolean, 1.0, {}};
    if (equalsIgnoringCase(trimmed, "FALSE")) return {Kind::Boolean, 0.0, {}};
    if (auto code = errorCode(trimmed)) return {Kind::Error, static_cast<double>(*code), {}};
    return {Kind::Text, 0.0, text};
}

host::Value readCell(std::string_view text, bool decimalComma) {
    return host::valueOf(readCellView(text, decimalComma));
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

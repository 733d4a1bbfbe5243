#include "host/host_values.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace host::detail {

namespace {

constexpr char32_t replacement = 0xFFFD;

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Decodes one character at `i`; advances `i` past it (one byte for an invalid sequence).
char32_t decodeUtf8(std::string_view text, std::size_t& i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) {
        ++i;
        return lead;
    }
    std::size_t length = 0;
    char32_t c = 0;
    char32_t minimum = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, c = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, c = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, c = lead & 0x07, minimum = 0x10000;
    } else {
        ++i;
        return replacement;
    }
    if (i + length > text.size()) {
        ++i;
        return replacement;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            ++i;
            return replacement;
        }
        c = (c << 6) | (byte(i + k) & 0x3F);
    }
    if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        ++i;
        return replacement;
    }
    i += length;
    return c;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

constexpr std::size_t smallestBlock = 256;

}  // namespace

void* Arena::allocate(std::size_t bytes, bool zero) {
    bytes = std::max<std::size_t>((bytes + 15) & ~std::size_t{15}, 16);
    if (blocks_.empty() || blocks_.back().bytes - used_ < bytes) {
        const std::size_t last = blocks_.empty() ? 0 : blocks_.back().bytes;
        const std::size_t size = std::max({bytes, 2 * last, smallestBlock});
        // Uninitialised: pages are touched only where something is written.
        blocks_.push_back({std::unique_ptr<std::uint64_t[]>(new std::uint64_t[size / 8]), size});
        used_ = 0;
    }
    void* out = reinterpret_cast<unsigned char*>(blocks_.back().words.get()) + used_;
    used_ += bytes;
    if (zero) std::memset(out, 0, bytes);
    return out;
}

void Arena::reset() noexcept {
    if (blocks_.empty()) return;
    auto largest = std::max_element(blocks_.begin(), blocks_.end(),
                                    [](const Block& a, const Block& b) { return a.bytes < b.bytes; });
    Block kept = std::move(*largest);
    blocks_.clear();
    blocks_.push_back(std::move(kept));
    used_ = 0;
}

std::u16string utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const char32_t c = decodeUtf8(text, i);
        if (c >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

std::string utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char32_t unit = text[i];
        if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (unit >= 0xD800 && unit < 0xE000) {
            appendUtf8(out, replacement);
        } else {
            appendUtf8(out, unit);
        }
    }
    return out;
}

std::string_view utf8Prefix(std::string_view text, std::size_t bytes) {
    if (text.size() <= bytes) return text;
    std::size_t end = bytes;
    // Step back over continuation bytes to the start of the cut character.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

std::optional<double> parseNumber(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && isBlank(text[begin])) ++begin;
    while (end > begin && isBlank(text[end - 1])) --end;
    bool percent = false;
    if (end > begin && text[end - 1] == '%') {
        percent = true;
        --end;
        while (end > begin && isBlank(text[end - 1])) --end;
    }
    std::string_view body = text.substr(begin, end - begin);
    bool negative = false;
    if (!body.empty() && (body[0] == '+' || body[0] == '-')) {
        negative = body[0] == '-';
        body.remove_prefix(1);
    }
    // Digits, at most one point, at least one digit, then an optional exponent with digits.
    std::size_t i = 0;
    std::size_t digits = 0;
    while (i < body.size() && body[i] >= '0' && body[i] <= '9') ++i, ++digits;
    if (i < body.size() && body[i] == '.') {
        ++i;
        while (i < body.size() && body[i] >= '0' && body[i] <= '9') ++i, ++digits;
    }
    if (digits == 0) return std::nullopt;
    if (i < body.size() && (body[i] == 'e' || body[i] == 'E')) {
        ++i;
        if (i < body.size() && (body[i] == '+' || body[i] == '-')) ++i;
        std::size_t exponentDigits = 0;
        while (i < body.size() && body[i] >= '0' && body[i] <= '9') ++i, ++exponentDigits;
        if (exponentDigits == 0) return std::nullopt;
    }
    if (i != body.size()) return std::nullopt;
    // from_chars does not take a leading '+' or a bare leading '.', so give it a clean form.
    std::string clean(body);
    if (clean[0] == '.') clean.insert(clean.begin(), '0');
    double value = 0;
    const auto [ptr, error] = std::from_chars(clean.data(), clean.data() + clean.size(), value);
    if (error != std::errc() || ptr != clean.data() + clean.size() || !std::isfinite(value)) return std::nullopt;
    if (negative) value = -value;
    if (percent) value /= 100;
    return value;
}

std::optional<bool> parseBool(std::string_view text) {
    auto equals = [&](std::string_view word) {
        if (text.size() != word.size()) return false;
        for (std::size_t i = 0; i < word.size(); ++i) {
            const char c = text[i] >= 'a' && text[i] <= 'z' ? static_cast<char>(text[i] - 'a' + 'A') : text[i];
            if (c != word[i]) return false;
        }
        return true;
    };
    if (equals("TRUE")) return true;
    if (equals("FALSE")) return false;
    return std::nullopt;
}

std::string numberText(double number) {
    if (!std::isfinite(number)) return "#NUM!";
    if (number == 0) return "0";
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.15G", number);
    return buffer;
}

template <>
char* makeText<xloper>(std::string_view utf8, Arena& arena) {
    // The older records hold bytes of the ANSI code page, which is UTF-8 here.
    const std::string_view cut = utf8Prefix(utf8, Generation<xloper>::maxText);
    char* text = arena.make<char>(cut.size() + 2);
    text[0] = static_cast<char>(static_cast<unsigned char>(cut.size()));
    std::memcpy(text + 1, cut.data(), cut.size());
    return text;
}

template <>
XCHAR* makeText<xloper12>(std::string_view utf8, Arena& arena) {
    std::u16string wide = utf8ToUtf16(utf8);
    if (wide.size() > Generation<xloper12>::maxText) {
        std::size_t size = Generation<xloper12>::maxText;
        // Keep a surrogate pair whole.
        if (wide[size - 1] >= 0xD800 && wide[size - 1] < 0xDC00) --size;
        wide.resize(size);
    }
    XCHAR* text = arena.make<XCHAR>(wide.size() + 2);
    text[0] = static_cast<XCHAR>(wide.size());
    std::memcpy(text + 1, wide.data(), wide.size() * sizeof(XCHAR));
    return text;
}

template <>
std::string readText<xloper>(const xloper& record) {
    const char* text = record.val.str;
    if (!text) return {};
    return utf16ToUtf8(utf8ToUtf16(std::string_view(text + 1, static_cast<unsigned char>(text[0]))));
}

template <>
std::string readText<xloper12>(const xloper12& record) {
    const XCHAR* text = record.val.str;
    if (!text) return {};
    // The length unit is unsigned 16 bits, but the generation holds at most 32767 characters.
    const std::size_t length = std::min<std::size_t>(text[0], Generation<xloper12>::maxText);
    return utf16ToUtf8(std::u16string_view(text + 1, length));
}

template <class X>
void makeValue(X& record, const Value& value, Arena& arena) {
    std::memset(&record, 0, sizeof record);
    if (const double* number = std::get_if<double>(&value)) {
        if (std::isfinite(*number)) {
            record.xltype = xltypeNum;
            record.val.num = *number;
        } else {
            record.xltype = xltypeErr;
            record.val.err = xlerrNum;
        }
    } else if (const std::string* text = std::get_if<std::string>(&value)) {
        record.xltype = xltypeStr;
        record.val.str = makeText<X>(*text, arena);
    } else if (const bool* flag = std::get_if<bool>(&value)) {
        record.xltype = xltypeBool;
        record.val.xbool = *flag ? 1 : 0;
    } else if (const ErrorValue* error = std::get_if<ErrorValue>(&value)) {
        record.xltype = xltypeErr;
        record.val.err = static_cast<decltype(record.val.err)>(error->code);
    } else {
        record.xltype = xltypeNil;
    }
}

template <class X>
void makeArray(X& record, const Table& table, Arena& arena) {
    using G = Generation<X>;
    std::memset(&record, 0, sizeof record);
    record.xltype = xltypeMulti;
    X* elements = arena.make<X>(table.rows * table.columns);
    for (std::size_t i = 0; i < table.rows * table.columns; ++i) makeValue(elements[i], table.cells[i], arena);
    record.val.array.lparray = elements;
    record.val.array.rows = static_cast<typename G::Rows>(table.rows);
    record.val.array.columns = static_cast<typename G::Columns>(table.columns);
}

template <class X>
void makeArray(X& record, const CellSource& cells, Arena& arena) {
    using G = Generation<X>;
    const std::size_t rows = cells.rows(), columns = cells.columns();
    std::memset(&record, 0, sizeof record);
    record.xltype = xltypeMulti;
    // Every element is written whole below, so the (reused) memory needs no clearing first.
    X* elements = arena.makeUninitialised<X>(rows * columns);
    constexpr std::size_t chunk = 1024;
    CellView views[chunk];
    for (std::size_t c = 0; c < columns; ++c) {
        for (std::size_t first = 0; first < rows; first += chunk) {
            const std::size_t count = std::min(chunk, rows - first);
            cells.readColumn(c, first, count, views);
            X* element = elements + first * columns + c;
            for (std::size_t i = 0; i < count; ++i, element += columns) {
                const CellView& cell = views[i];
                *element = X{};
                switch (cell.kind) {
                    case CellView::Kind::Number:
                        if (std::isfinite(cell.number)) {
                            element->xltype = xltypeNum;
                            element->val.num = cell.number;
                        } else {
                            element->xltype = xltypeErr;
                            element->val.err = xlerrNum;
                        }
                        break;
                    case CellView::Kind::Text:
                        element->xltype = xltypeStr;
                        element->val.str = makeText<X>(cell.text, arena);
                        break;
                    case CellView::Kind::Boolean:
                        element->xltype = xltypeBool;
                        element->val.xbool = cell.number != 0 ? 1 : 0;
                        break;
                    case CellView::Kind::Error:
                        element->xltype = xltypeErr;
                        element->val.err = static_cast<decltype(element->val.err)>(cell.number);
                        break;
                    case CellView::Kind::Blank:
                        element->xltype = xltypeNil;
                        break;
                }
            }
        }
    }
    record.val.array.lparray = elements;
    record.val.array.rows = static_cast<typename G::Rows>(rows);
    record.val.array.columns = static_cast<typename G::Columns>(columns);
}

template <class X>
std::optional<Value> readValue(const X& record) {
    switch (record.xltype & xltypeMask) {
        case xltypeNum:
            if (!std::isfinite(record.val.num)) return ErrorValue{xlerrNum};
            return record.val.num;
        case xltypeStr:
            return readText(record);
        case xltypeBool:
            return record.val.xbool != 0;
        case xltypeErr:
            return ErrorValue{static_cast<int>(record.val.err)};
        case xltypeInt:
            return static_cast<double>(record.val.w);
        case xltypeNil:
        case xltypeMissing:
            return Blank{};
        default:
            return std::nullopt;
    }
}

template void makeValue<xloper>(xloper&, const Value&, Arena&);
template void makeValue<xloper12>(xloper12&, const Value&, Arena&);
template void makeArray<xloper>(xloper&, const Table&, Arena&);
template void makeArray<xloper12>(xloper12&, const Table&, Arena&);
template void makeArray<xloper>(xloper&, const CellSource&, Arena&);
template void makeArray<xloper12>(xloper12&, const CellSource&, Arena&);
template std::optional<Value> readValue<xloper>(const xloper&);
template std::optional<Value> readValue<xloper12>(const xloper12&);

}  // namespace host::detail

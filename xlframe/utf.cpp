#include "xlframe/utf.hpp"

namespace xlframe {

namespace {
constexpr char32_t kReplacement = 0xFFFD;
}

void appendUtf8(std::string& out, char32_t cp) {
    if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = kReplacement;
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

std::string utf16ToUtf8(std::wstring_view wide) {
    std::string out;
    out.reserve(wide.size());
    for (std::size_t i = 0; i < wide.size(); ++i) {
        // Only the low 16 bits are a unit; a wider wchar_t never carries more.
        const char32_t unit = static_cast<char32_t>(wide[i]) & 0xFFFF;
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < wide.size()) {
            const char32_t next = static_cast<char32_t>(wide[i + 1]) & 0xFFFF;
            if (next >= 0xDC00 && next <= 0xDFFF) {
                appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
                ++i;
                continue;
            }
        }
        appendUtf8(out, unit);  // a lone surrogate turns into U+FFFD there
    }
    return out;
}

std::wstring utf8ToUtf16(std::string_view narrow) {
    std::wstring out;
    out.reserve(narrow.size());
    const auto byteAt = [&](std::size_t k) { return static_cast<unsigned char>(narrow[k]); };
    std::size_t i = 0;
    while (i < narrow.size()) {
        const unsigned char lead = byteAt(i);
        char32_t cp = kReplacement;
        std::size_t length = 1;
        std::size_t need = 0;
        char32_t minimum = 0;
        if (lead < 0x80) {
            cp = lead;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            need = 1, cp = lead & 0x1F, minimum = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            need = 2, cp = lead & 0x0F, minimum = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            need = 3, cp = lead & 0x07, minimum = 0x10000;
        }
        if (need > 0) {
            std::size_t k = 1;
            for (; k <= need && i + k < narrow.size(); ++k) {
                const unsigned char cont = byteAt(i + k);
                if ((cont & 0xC0) != 0x80) break;
                cp = (cp << 6) | (cont & 0x3F);
            }
            if (k == need + 1 && cp >= minimum && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF)) {
                length = need + 1;
            } else {
                cp = kReplacement;
                length = k;  // skip the lead and the continuation bytes that belonged to it
            }
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<wchar_t>(cp));
        }
        i += length;
    }
    return out;
}

}  // namespace xlframe

// The host's own rules for values: texts between UTF-8 and the records' encodings, numbers as a
// spreadsheet reads and shows them, and the record generations' limits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/standin_host.hpp"
#include "xlframe/xlcall.hpp"

namespace host::detail {

// Invalid input becomes U+FFFD; nothing is dropped silently.
std::u16string utf8ToUtf16(std::string_view text);
std::string utf16ToUtf8(std::u16string_view text);
// The longest prefix of at most `bytes` bytes that does not cut a UTF-8 sequence.
std::string_view utf8Prefix(std::string_view text, std::size_t bytes);

// A numeric text as a spreadsheet reads it: blanks around, a sign, digits with an optional
// decimal point, an optional exponent, an optional trailing percent sign. Nothing else.
std::optional<double> parseNumber(std::string_view text);
// "TRUE" / "FALSE" in any case.
std::optional<bool> parseBool(std::string_view text);
// A number as a spreadsheet shows it in the General format: at most 15 significant digits,
// scientific notation ("1E+20", "1.5E-07") for exponents below -4 or from 15 on.
std::string numberText(double number);

// Memory that lives as long as the arena, or until reset(); nothing is freed one by one. A reset
// arena keeps its largest block, so that the records of one call reuse the pages of the last.
class Arena {
   public:
    Arena() = default;
    Arena(const Arena&) = delete;
    Arena& operator=(const Arena&) = delete;

    // Zero-filled.
    template <class T>
    T* make(std::size_t count) {
        return static_cast<T*>(allocate(count * sizeof(T), true));
    }
    // For callers that write every byte themselves.
    template <class T>
    T* makeUninitialised(std::size_t count) {
        return static_cast<T*>(allocate(count * sizeof(T), false));
    }
    void reset() noexcept;

   private:
    struct Block {
        std::unique_ptr<std::uint64_t[]> words;
        std::size_t bytes = 0;
    };
    std::vector<Block> blocks_;  // the newest last
    std::size_t used_ = 0;       // in the newest block

    void* allocate(std::size_t bytes, bool zero);
};

// What differs between the two record generations.
template <class X>
struct Generation;

template <>
struct Generation<xloper> {
    using Char = char;
    using Rows = WORD;
    using Columns = WORD;
    static constexpr std::size_t maxText = 255;
    static constexpr std::size_t maxRows = 65535;  // the most a WORD row count can hold
    static constexpr std::size_t maxColumns = 256;
    static constexpr std::size_t maxOperands = xlMaxOperands;
};

template <>
struct Generation<xloper12> {
    using Char = XCHAR;
    using Rows = RW;
    using Columns = COL;
    static constexpr std::size_t maxText = 32767;
    static constexpr std::size_t maxRows = xlMaxRows12;
    static constexpr std::size_t maxColumns = xlMaxColumns12;
    static constexpr std::size_t maxOperands = xlMaxOperands;
};

// Length-prefixed text of the record's generation, allocated in `arena` (cut to the limit).
template <class X>
typename Generation<X>::Char* makeText(std::string_view utf8, Arena& arena);
// The text of a string record as UTF-8; a null pointer reads as the empty text.
template <class X>
std::string readText(const X& record);

// Scalar record of a host value (a Blank cell becomes nil, a non-finite number #NUM!).
template <class X>
void makeValue(X& record, const Value& value, Arena& arena);
// A table as an array record (a 1 x 1 table too).
template <class X>
void makeArray(X& record, const Table& table, Arena& arena);
// The cells of a source as an array record, read column by column straight into the elements.
template <class X>
void makeArray(X& record, const CellSource& cells, Arena& arena);
// A scalar record as a host value; nullopt for types that hold no single value.
template <class X>
std::optional<Value> readValue(const X& record);

}  // namespace host::detail

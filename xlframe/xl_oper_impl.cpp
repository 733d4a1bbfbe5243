// The operations on a host record, written once for both generations (xloper and xloper12).
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>
#include <new>
#include <memory>
#include <string>
#include <vector>

#include "xlframe/exceptions.hpp"
#include "xlframe/platform.hpp"
#include "xlframe/utf.hpp"
#include "xlframe/xl_callbacks.hpp"
#include "xlframe/xl_oper.hpp"

namespace xlframe::impl {
namespace {

constexpr std::size_t kSlot = 32;  // one record of either generation

// What differs between the generations.
template <class Record>
struct Generation;

template <>
struct Generation<xloper> {
    using Type = WORD;
    using Count = WORD;
    using Row = WORD;
    using Column = BYTE;
    using Char = char;
    using Ref = xlref;
    using MRef = xlmref;
    // The row count of an older array is a WORD, so 65535 is the most it can say.
    static constexpr std::size_t maxRows = 65535;
    static constexpr std::size_t maxColumns = 256;
    static constexpr std::size_t maxRefRows = 65536;
    static constexpr std::size_t maxRefColumns = 256;
    static constexpr const char* rowsCut = "Truncating rows to 65535";
    static constexpr const char* columnsCut = "Truncating columns to 256";
};

template <>
struct Generation<xloper12> {
    using Type = DWORD;
    using Count = RW;
    using Row = RW;
    using Column = COL;
    using Char = XCHAR;
    using Ref = xlref12;
    using MRef = xlmref12;
    static constexpr std::size_t maxRows = 1048576;
    static constexpr std::size_t maxColumns = 16384;
    static constexpr std::size_t maxRefRows = 1048576;
    static constexpr std::size_t maxRefColumns = 16384;
    static constexpr const char* rowsCut = "Truncating rows to 1048576";
    static constexpr const char* columnsCut = "Truncating columns to 16384";
};

static_assert(sizeof(xloper) <= kSlot && sizeof(xloper12) <= kSlot);

std::u16string toUnits(const std::wstring& wide) {
    std::u16string out(wide.size(), u'\0');
    for (std::size_t i = 0; i < wide.size(); ++i) out[i] = static_cast<char16_t>(wide[i] & 0xFFFF);
    return out;
}

std::wstring fromUnits(const char16_t* units, std::size_t count) {
    std::wstring out(count, L'\0');
    for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<wchar_t>(units[i]);
    return out;
}

bool isHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }

// The longest prefix of at most `limit` units that does not end inside a surrogate pair.
std::size_t unitPrefix(const std::u16string& units, std::size_t limit) {
    if (units.size() <= limit) return units.size();
    std::size_t cut = limit;
    if (cut > 0 && isHighSurrogate(units[cut - 1])) --cut;
    return cut;
}

// The code-page form of the longest whole-character prefix of `units` that fits `limit` bytes; a
// character's bytes are never split, whatever the code page's widths.
std::string ansiPrefix(const std::u16string& units, std::size_t limit, bool& cut) {
    std::string whole = platform::wideToAnsi(units);
    cut = whole.size() > limit;
    if (!cut) return whole;
    // No character takes less than one byte per two units, so the answer lies below 2 x limit.
    std::size_t low = 0, high = std::min(units.size(), 2 * limit + 2);
    std::string best;
    while (low < high) {
        const std::size_t middle = unitPrefix(units, (low + high + 1) / 2);
        if (middle <= low) break;
        std::string candidate = platform::wideToAnsi(units.substr(0, middle));
        if (candidate.size() <= limit) {
            low = middle;
            best = std::move(candidate);
        } else {
            high = middle - 1;
        }
    }
    return best;
}

void* zeroed(std::size_t bytes) { return TempMemory::GetMemory(bytes); }

template <class Record>
class XlfOperSharedImpl final : public IXlfOperShared {
    using G = Generation<Record>;
    using Type = typename G::Type;
    using Char = typename G::Char;

public:
    static Record* rec(LPXLFOPER op) { return reinterpret_cast<Record*>(op); }
    static LPXLFOPER oper(Record* record) { return reinterpret_cast<LPXLFOPER>(record); }
    static DWORD typeOf(const Record* record) { return record->xltype & xltypeMask; }

    DWORD xltype(LPXLFOPER op) const override { return rec(op)->xltype; }
    void setXltype(LPXLFOPER op, DWORD type) const override { rec(op)->xltype = static_cast<Type>(type); }

    static void number(Record* record, double value) {
        // A spreadsheet cannot hold a non-finite number: it shows #NUM! instead.
        if (std::isfinite(value)) {
            record->val.num = value;
            record->xltype = xltypeNum;
        } else {
            error(record, xlerrNum);
        }
    }
    static void error(Record* record, int code) {
        record->val.err = static_cast<decltype(record->val.err)>(code);
        record->xltype = xltypeErr;
    }
    static void flag(Record* record, bool value) {
        record->val.xbool = value ? 1 : 0;
        record->xltype = xltypeBool;
    }

    void makeNumber(LPXLFOPER op, double value) const override { number(rec(op), value); }
    int intValue(LPXLFOPER op) const override { return rec(op)->val.w; }
    void makeInt(LPXLFOPER op, int value) const override {
        using W = decltype(rec(op)->val.w);
        if (value < std::numeric_limits<W>::min() || value > std::numeric_limits<W>::max()) {
            number(rec(op), value);  // an older record's integer is 16 bits: keep the value as a number
            return;
        }
        rec(op)->val.w = static_cast<W>(value);
        rec(op)->xltype = xltypeInt;
    }
    bool boolValue(LPXLFOPER op) const override { return rec(op)->val.xbool != 0; }
    void makeBool(LPXLFOPER op, bool value) const override { flag(rec(op), value); }
    int errorCode(LPXLFOPER op) const override { return rec(op)->val.err; }
    void makeError(LPXLFOPER op, int code) const override { error(rec(op), code); }

    // --- Shapes ----------------------------------------------------------------------------------

    static const typename G::Ref& singleArea(const Record* record) {
        const auto* areas = record->val.mref.lpmref;
        if (areas == nullptr || areas->count != 1) XLF_FAIL("No implementation for multiple Refs");
        return areas->reftbl[0];
    }

    static std::size_t span(long long first, long long last) {
        return last >= first ? static_cast<std::size_t>(last - first + 1) : 0;
    }

    std::size_t rows(LPXLFOPER op) const override {
        const Record* record = rec(op);
        switch (typeOf(record)) {
            case xltypeMulti:
                return record->val.array.rows > 0 ? static_cast<std::size_t>(record->val.array.rows) : 0;
            case xltypeNum:
            case xltypeStr:
            case xltypeBool:
            case xltypeInt:
                return 1;
            case xltypeErr:
            case xltypeMissing:
            case xltypeNil:
                return 0;
            case xltypeSRef:
                return span(record->val.sref.ref.rwFirst, record->val.sref.ref.rwLast);
            case xltypeRef: {
                const auto& area = singleArea(record);
                return span(area.rwFirst, area.rwLast);
            }
            default:
                XLF_FAIL("No implementation on XlfOper rows");
        }
    }

    std::size_t columns(LPXLFOPER op) const override {
        const Record* record = rec(op);
        switch (typeOf(record)) {
            case xltypeMulti:
                return record->val.array.columns > 0 ? static_cast<std::size_t>(record->val.array.columns) : 0;
            case xltypeNum:
            case xltypeStr:
            case xltypeBool:
            case xltypeInt:
                return 1;
            case xltypeErr:
            case xltypeMissing:
            case xltypeNil:
                return 0;
            case xltypeSRef:
                return span(record->val.sref.ref.colFirst, record->val.sref.ref.colLast);
            case xltypeRef: {
                const auto& area = singleArea(record);
                return span(area.colFirst, area.colLast);
            }
            default:
                XLF_FAIL("No implementation on XlfOper columns");
        }
    }

    void makeArray(LPXLFOPER op, std::size_t rowCount, std::size_t columnCount) const override {
        shapeArray(rec(op), rowCount, columnCount, true);
    }

    // Cuts the shape to the generation's limits and allocates the elements (zero-filled when asked:
    // a caller that writes every element whole needs no fill first).
    static void shapeArray(Record* record, std::size_t rowCount, std::size_t columnCount, bool zero) {
        if (columnCount > G::maxColumns) {
            writeDiagnostic(__FILE__, __LINE__, G::columnsCut);
            columnCount = G::maxColumns;
        }
        if (rowCount > G::maxRows) {
            writeDiagnostic(__FILE__, __LINE__, G::rowsCut);
            rowCount = G::maxRows;
        }
        if (rowCount < 1 || columnCount < 1) {
            record->xltype = xltypeMissing;
            return;
        }
        const std::size_t bytes = rowCount * columnCount * sizeof(Record);
        auto* elements =
            static_cast<Record*>(zero ? zeroed(bytes) : TempMemory::GetUninitialisedMemory(bytes));
        record->val.array.lparray = elements;
        record->val.array.rows = static_cast<decltype(record->val.array.rows)>(rowCount);
        record->val.array.columns = static_cast<decltype(record->val.array.columns)>(columnCount);
        record->xltype = xltypeMulti;
    }

    LPXLFOPER element(LPXLFOPER op, std::size_t row, std::size_t column) const override {
        Record* record = rec(op);
        switch (typeOf(record)) {
            case xltypeMulti: {
                const std::size_t rowCount = rows(op), columnCount = columns(op);
                if (row >= rowCount || column >= columnCount || record->val.array.lparray == nullptr)
                    XLF_FAIL("Index out of range in element by element access");
                return oper(record->val.array.lparray + row * columnCount + column);
            }
            case xltypeNum:
            case xltypeStr:
            case xltypeBool:
            case xltypeInt:
                return op;
            case xltypeSRef:
            case xltypeRef: {
                int rowBegin, rowEnd, columnBegin, columnEnd;
                IDSHEET sheet;
                readReference(op, rowBegin, rowEnd, columnBegin, columnEnd, sheet);
                if (row >= static_cast<std::size_t>(rowEnd - rowBegin) ||
                    column >= static_cast<std::size_t>(columnEnd - columnBegin))
                    XLF_FAIL("Index out of range in element by element access");
                const int r = rowBegin + static_cast<int>(row), c = columnBegin + static_cast<int>(column);
                auto* cell = static_cast<Record*>(zeroed(kSlot));
                if (typeOf(record) == xltypeSRef) {
                    cell->val.sref.count = 1;
                    cell->val.sref.ref = areaOf(r, r + 1, c, c + 1);
                    cell->xltype = xltypeSRef;
                } else {
                    makeReference(oper(cell), r, r + 1, c, c + 1, sheet);
                }
                return oper(cell);
            }
            default:
                XLF_FAIL("Wrong type for element by element access");
        }
    }

    // --- Texts -----------------------------------------------------------------------------------

    // The record's text as UTF-16 units (older records: from the code page).
    static std::u16string unitsOf(const Record* record) {
        const Char* text = record->val.str;
        if (typeOf(record) != xltypeStr || text == nullptr) return std::u16string();
        if constexpr (std::is_same_v<Record, xloper>) {
            return platform::ansiToWide(std::string(text + 1, static_cast<unsigned char>(text[0])));
        } else {
            return std::u16string(text + 1, static_cast<std::size_t>(static_cast<std::uint16_t>(text[0])));
        }
    }

    const char* narrowText(LPXLFOPER op) const override {
        const std::u16string units = unitsOf(rec(op));
        const std::string utf8 = utf16ToUtf8(fromUnits(units.data(), units.size()));
        auto* out = static_cast<char*>(zeroed(utf8.size() + 1));
        std::memcpy(out, utf8.data(), utf8.size());
        return out;
    }

    std::wstring wideText(LPXLFOPER op) const override {
        const Record* record = rec(op);
        if constexpr (std::is_same_v<Record, xloper12>) {
            if (typeOf(record) != xltypeStr || record->val.str == nullptr) return std::wstring();
            return fromUnits(record->val.str + 1, static_cast<std::uint16_t>(record->val.str[0]));
        } else {
            const std::u16string units = unitsOf(record);
            return fromUnits(units.data(), units.size());
        }
    }

    static void storeText(Record* record, const Char* text, std::size_t length) {
        // Length prefix, the text, and a terminator the host does not need but C readers might.
        auto* buffer = static_cast<Char*>(zeroed((length + 2) * sizeof(Char)));
        buffer[0] = static_cast<Char>(length);
        if (length > 0) std::memcpy(buffer + 1, text, length * sizeof(Char));
        record->val.str = buffer;
        record->xltype = xltypeStr;
    }

    // UTF-16 units into the record, cut to `limit` units (newer) or 255 code-page bytes (older).
    static void storeUnits(Record* record, const std::u16string& units, std::size_t limit, const char* cutLine) {
        if constexpr (std::is_same_v<Record, xloper>) {
            (void)limit;
            bool cut = false;
            const std::string ansi = ansiPrefix(units, 255, cut);
            if (cut) writeDiagnostic(__FILE__, __LINE__, cutLine);
            storeText(record, ansi.data(), ansi.size());
        } else {
            const std::size_t length = unitPrefix(units, limit);
            if (length < units.size()) writeDiagnostic(__FILE__, __LINE__, cutLine);
            storeText(record, units.data(), length);
        }
    }

    static void narrowString(Record* record, const std::string& text) {
        if constexpr (std::is_same_v<Record, xloper>) {
            storeUnits(record, toUnits(utf8ToUtf16(text)), 255, "String truncated to 255 bytes");
        } else {
            if (text.size() <= 32767 && isAscii(text)) {  // the common case: one unit per byte
                auto* buffer = static_cast<Char*>(zeroed((text.size() + 2) * sizeof(Char)));
                buffer[0] = static_cast<Char>(text.size());
                for (std::size_t i = 0; i < text.size(); ++i) buffer[i + 1] = static_cast<Char>(text[i]);
                record->val.str = buffer;
                record->xltype = xltypeStr;
                return;
            }
            storeUnits(record, toUnits(utf8ToUtf16(text)), 32767, "String truncated to 32767 bytes");
        }
    }

    static void wideString(Record* record, const std::wstring& text) {
        if constexpr (std::is_same_v<Record, xloper>) {
            storeUnits(record, toUnits(text), 255, "String truncated to 255 bytes");
        } else {
            storeUnits(record, toUnits(text), 32766, "String truncated to 32766 bytes");
        }
    }

    static bool isAscii(const std::string& text) {
        for (char c : text)
            if (static_cast<unsigned char>(c) >= 0x80) return false;
        return true;
    }

    void makeString(LPXLFOPER op, const std::string& text) const override { narrowString(rec(op), text); }
    void makeWideString(LPXLFOPER op, const std::wstring& text) const override { wideString(rec(op), text); }

    // --- References ------------------------------------------------------------------------------

    void readReference(LPXLFOPER op, int& rowBegin, int& rowEnd, int& columnBegin, int& columnEnd,
                       IDSHEET& sheet) const override {
        const Record* record = rec(op);
        const typename G::Ref* area = nullptr;
        if (typeOf(record) == xltypeSRef) {
            area = &record->val.sref.ref;
            sheet = 0;
        } else if (typeOf(record) == xltypeRef) {
            area = &singleArea(record);
            sheet = record->val.mref.idSheet;
        } else {
            XLF_FAIL("Not a reference");
        }
        rowBegin = static_cast<int>(area->rwFirst);
        rowEnd = static_cast<int>(area->rwLast) + 1;
        columnBegin = static_cast<int>(area->colFirst);
        columnEnd = static_cast<int>(area->colLast) + 1;
    }

    static typename G::Ref areaOf(int rowBegin, int rowEnd, int columnBegin, int columnEnd) {
        if (rowBegin < 0 || columnBegin < 0 || rowEnd <= rowBegin || columnEnd <= columnBegin ||
            static_cast<std::size_t>(rowEnd) > G::maxRefRows || static_cast<std::size_t>(columnEnd) > G::maxRefColumns)
            XLF_FAIL("Reference outside the sheet");
        typename G::Ref area{};
        area.rwFirst = static_cast<typename G::Row>(rowBegin);
        area.rwLast = static_cast<typename G::Row>(rowEnd - 1);
        area.colFirst = static_cast<typename G::Column>(columnBegin);
        area.colLast = static_cast<typename G::Column>(columnEnd - 1);
        return area;
    }

    void makeReference(LPXLFOPER op, int rowBegin, int rowEnd, int columnBegin, int columnEnd,
                       IDSHEET sheet) const override {
        const typename G::Ref area = areaOf(rowBegin, rowEnd, columnBegin, columnEnd);
        if (sheet == 0) {
            auto* active = static_cast<Record*>(zeroed(kSlot));
            active->xltype = xltypeMissing;
            ThrowOnError(CallHost(xlSheetId, oper(active), 0, nullptr), nullptr, "Sheet Id");
            if (typeOf(active) == xltypeRef) sheet = active->val.mref.idSheet;
            if (active->xltype & xlbitXLFree) freeHostMemory(oper(active));
        }
        auto* areas = static_cast<typename G::MRef*>(zeroed(sizeof(typename G::MRef)));
        areas->count = 1;
        areas->reftbl[0] = area;
        Record* record = rec(op);
        record->val.mref.lpmref = areas;
        record->val.mref.idSheet = sheet;
        record->xltype = xltypeRef;
    }

    // --- Host memory -----------------------------------------------------------------------------

    int coerce(LPXLFOPER op, DWORD type, LPXLFOPER result) const override {
        Record wanted{};
        wanted.val.w = static_cast<decltype(wanted.val.w)>(type);
        wanted.xltype = xltypeInt;
        const LPXLFOPER operands[2] = {op, oper(&wanted)};
        return CallHost(xlCoerce, result, 2, operands);
    }

    void freeHostMemory(LPXLFOPER op) const override {
        Record* record = rec(op);
        record->xltype = static_cast<Type>(record->xltype & ~xlbitXLFree);
        const LPXLFOPER operands[1] = {op};
        (void)CallHost(xlFree, nullptr, 1, operands);
    }

    // --- Copies ----------------------------------------------------------------------------------
    // Two passes: the bytes everything below a record needs, then the copy into one block of
    // that size, so that a heap copy is a single allocation freed at once.

    static constexpr int kMaxNesting = 64;

    static std::size_t rounded(std::size_t bytes) { return (bytes + 15) & ~std::size_t{15}; }

    static std::size_t arrayCount(const Record* record) {
        return static_cast<std::size_t>(std::max<long long>(0, record->val.array.rows)) *
               static_cast<std::size_t>(std::max<long long>(0, record->val.array.columns));
    }

    static std::size_t bytesBelow(const Record* record, int depth) {
        if (depth > kMaxNesting) XLF_FAIL("can't copy an oper nested that deep");
        switch (typeOf(record)) {
            case xltypeBigData:
                XLF_FAIL("can't copy a big data oper");
            case xltypeStr: {
                const Char* text = record->val.str;
                if (text == nullptr) return 0;
                return rounded((static_cast<std::size_t>(static_cast<std::make_unsigned_t<Char>>(text[0])) + 2) *
                               sizeof(Char));
            }
            case xltypeRef: {
                const auto* areas = record->val.mref.lpmref;
                if (areas == nullptr) return 0;
                return rounded(sizeof(typename G::MRef) + (areas->count > 0 ? areas->count - 1 : 0) *
                                                              sizeof(typename G::Ref));
            }
            case xltypeMulti: {
                const Record* elements = record->val.array.lparray;
                if (elements == nullptr) return 0;
                const std::size_t count = arrayCount(record);
                std::size_t total = rounded(count * sizeof(Record));
                for (std::size_t i = 0; i < count; ++i) total += bytesBelow(elements + i, depth + 1);
                return total;
            }
            default:
                return 0;
        }
    }

    // Copies what `from` points to into the space at `next`; `to` already holds `from`'s bytes.
    static void copyBelow(const Record* from, Record* to, unsigned char*& next) {
        to->xltype = static_cast<Type>(to->xltype & ~(xlbitXLFree | xlbitDLLFree));
        switch (typeOf(from)) {
            case xltypeStr: {
                const Char* text = from->val.str;
                if (text == nullptr) return;
                const std::size_t length = static_cast<std::make_unsigned_t<Char>>(text[0]);
                auto* copy = reinterpret_cast<Char*>(next);
                std::memcpy(copy, text, (length + 1) * sizeof(Char));
                copy[length + 1] = 0;
                to->val.str = copy;
                next += rounded((length + 2) * sizeof(Char));
                return;
            }
            case xltypeRef: {
                const auto* areas = from->val.mref.lpmref;
                if (areas == nullptr) return;
                const std::size_t bytes =
                    sizeof(typename G::MRef) + (areas->count > 0 ? areas->count - 1 : 0) * sizeof(typename G::Ref);
                std::memcpy(next, areas, bytes);
                to->val.mref.lpmref = reinterpret_cast<typename G::MRef*>(next);
                next += rounded(bytes);
                return;
            }
            case xltypeMulti: {
                const Record* elements = from->val.array.lparray;
                if (elements == nullptr) return;
                const std::size_t count = arrayCount(from);
                auto* copies = reinterpret_cast<Record*>(next);
                std::memcpy(copies, elements, count * sizeof(Record));
                to->val.array.lparray = copies;
                next += rounded(count * sizeof(Record));
                for (std::size_t i = 0; i < count; ++i) copyBelow(elements + i, copies + i, next);
                return;
            }
            default:
                return;
        }
    }

    static LPXLFOPER copyInto(const Record* from, unsigned char* space) {
        auto* to = reinterpret_cast<Record*>(space);
        std::memcpy(to, from, sizeof(Record));
        unsigned char* next = space + kSlot;
        copyBelow(from, to, next);
        return oper(to);
    }

    LPXLFOPER copyToTempMemory(LPXLFOPER op) const override {
        const std::size_t bytes = kSlot + bytesBelow(rec(op), 0);
        return copyInto(rec(op), static_cast<unsigned char*>(zeroed(bytes)));
    }

    LPXLFOPER copyToHeap(LPXLFOPER op) const override {
        const std::size_t bytes = kSlot + bytesBelow(rec(op), 0);
        void* space = std::calloc(1, bytes);
        if (space == nullptr) throw std::bad_alloc();
        return copyInto(rec(op), static_cast<unsigned char*>(space));
    }

    void freeHeapCopy(LPXLFOPER op) const override { std::free(op); }

    // --- Whole tables ----------------------------------------------------------------------------

    void readCell(Record* element, CellValueImpl& cell) const {
        switch (typeOf(element)) {
            case xltypeNum:
                cell = CellValueImpl(element->val.num);
                break;
            case xltypeStr:
                cell = CellValueImpl(wideText(oper(element)));
                break;
            case xltypeBool:
                cell = CellValueImpl(element->val.xbool != 0);
                break;
            case xltypeInt:
                cell = CellValueImpl(static_cast<int>(element->val.w));
                break;
            case xltypeErr:
                cell.SetError(static_cast<std::uint32_t>(element->val.err));
                break;
            case xltypeNil:
                break;
            default:
                XLF_FAIL("Unsupported type in CellMatrix conversion");
        }
        if (element->xltype & xlbitXLFree) freeHostMemory(oper(element));
    }

    // The cells of an array's elements in order, each made once as the table is filled: a
    // vector filled from a counted range keeps its end in a register, where one emplace_back
    // per element stores and reloads it each time. Each element is read exactly once.
    struct CellReader {
        using iterator_category = std::random_access_iterator_tag;
        using value_type = CellValueImpl;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = CellValueImpl;

        CellValueImpl operator*() const {
            if ((at->xltype & (xltypeMask | xlbitXLFree)) == xltypeNum) return CellValueImpl(at->val.num);
            CellValueImpl cell;
            operations->readCell(at, cell);
            return cell;
        }
        CellReader& operator++() {
            ++at;
            return *this;
        }
        CellReader operator++(int) {
            CellReader before = *this;
            ++at;
            return before;
        }
        CellReader& operator--() {
            --at;
            return *this;
        }
        CellReader& operator+=(difference_type n) {
            at += n;
            return *this;
        }
        difference_type operator-(const CellReader& other) const { return at - other.at; }
        bool operator==(const CellReader& other) const { return at == other.at; }

        const XlfOperSharedImpl* operations;
        Record* at;
    };

    CellMatrix toCellMatrix(LPXLFOPER op, bool inCallMemory) const override {
        Record* record = rec(op);
        const DWORD type = typeOf(record);
        if (type == xltypeMissing || type == xltypeNil) return CellMatrix(1, 1);
        if (type == xltypeErr) {
            CellMatrix cells(1, 1);
            cells(0, 0).SetError(static_cast<std::uint32_t>(record->val.err));
            return cells;
        }
        const std::size_t rowCount = rows(op), columnCount = columns(op);
        if (type == xltypeMulti) {
            Record* elements = record->val.array.lparray;
            const std::size_t count = rowCount * columnCount;
            if (count > 0 && elements == nullptr) XLF_FAIL("Unsupported type in CellMatrix conversion");
            // Each cell is made once, in place, instead of being made Empty and then assigned.
            if (inCallMemory && count > 0) {
                if (count > std::numeric_limits<std::size_t>::max() / sizeof(CellValueImpl)) throw std::bad_alloc();
                auto* cells = static_cast<CellValueImpl*>(TempMemory::GetUninitialisedMemory(count * sizeof(CellValueImpl)));
                std::size_t made = 0;
                try {
                    for (CellReader at{this, elements}; made < count; ++made, ++at)
                        ::new (static_cast<void*>(cells + made)) CellValueImpl(*at);
                    // The table owns the cells from here on: nothing after this may throw.
                    return CellMatrix(std::make_unique<CellMatrixImpl>(rowCount, columnCount, cells,
                                                                       CellMatrixImpl::InCallMemory{}));
                } catch (...) {
                    std::destroy_n(cells, made);
                    throw;
                }
            }
            std::vector<CellValueImpl> made;
            made.reserve(count);
            platform::adviseLargeAllocation(made.data(), count * sizeof(CellValueImpl));
            made.insert(made.end(), CellReader{this, elements}, CellReader{this, elements + count});
            return CellMatrix(std::make_unique<CellMatrixImpl>(rowCount, columnCount, std::move(made)));
        }
        CellMatrix cells(rowCount, columnCount);
        CellValueImpl* out = cells.storage()->data();
        for (std::size_t r = 0; r < rowCount; ++r)
            for (std::size_t c = 0; c < columnCount; ++c) readCell(rec(element(op, r, c)), out[r * columnCount + c]);
        return cells;
    }

    bool readNumbers(LPXLFOPER op, std::size_t count, double* out) const override {
        const Record* elements = rec(op)->val.array.lparray;
        if (elements == nullptr) return false;
        // Branch-free over a block, so that the loop stays a plain stream of loads and stores.
        constexpr std::size_t block = 256;
        for (std::size_t first = 0; first < count; first += block) {
            const std::size_t end = std::min(count, first + block);
            DWORD other = 0;
            for (std::size_t i = first; i < end; ++i) {
                other |= (elements[i].xltype & (xltypeMask | xlbitXLFree)) ^ xltypeNum;
                std::memcpy(out + i, &elements[i].val, sizeof(double));  // the bits, whatever the type
            }
            if (other != 0) return false;
        }
        return true;
    }

    template <class Cell>
    static void writeCell(Record* element, const Cell& cell, CellKind kind) {
        std::memset(static_cast<void*>(element), 0, sizeof(Record));  // the elements come unfilled
        switch (kind) {
            case CellKind::Number:
                number(element, cell.GetNumber());
                break;
            case CellKind::String:
                narrowString(element, cell.GetString());
                break;
            case CellKind::WideString:
                wideString(element, cell.GetWideString());
                break;
            case CellKind::Boolean:
                flag(element, cell.GetBoolean());
                break;
            case CellKind::Error:
                error(element, static_cast<std::uint16_t>(cell.GetErrorCode()));
                break;
            case CellKind::Empty:
                // An empty cell reaches the host as an empty text, not as a blank.
                storeText(element, nullptr, 0);
                break;
        }
    }

    void fromCellMatrix(LPXLFOPER op, const CellMatrix& cells) const override {
        shapeArray(rec(op), cells.Rows(), cells.Columns(), false);
        Record* record = rec(op);
        if (typeOf(record) != xltypeMulti) return;
        const std::size_t rowCount = rows(op), columnCount = columns(op);
        Record* elements = record->val.array.lparray;
        try {
            fill(elements, rowCount, columnCount, cells);
        } catch (...) {
            record->xltype = xltypeMissing;  // never an array with unwritten elements
            throw;
        }
    }

    static void fill(Record* elements, std::size_t rowCount, std::size_t columnCount, const CellMatrix& cells) {
        const std::size_t sourceColumns = cells.Columns();
        if (const CellMatrixImpl* storage = cells.storage()) {
            const CellValueImpl* source = storage->data();
            for (std::size_t r = 0; r < rowCount; ++r) {
                const CellValueImpl* row = source + r * sourceColumns;
                Record* target = elements + r * columnCount;
                for (std::size_t c = 0; c < columnCount; ++c) {
                    const CellValueImpl& cell = row[c];
                    if (cell.kind() == CellKind::Number) {  // the bulk of every numeric table
                        std::memset(static_cast<void*>(target + c), 0, sizeof(Record));
                        number(target + c, cell.GetNumber());
                    } else {
                        writeCell(target + c, cell, cell.kind());
                    }
                }
            }
            return;
        }
        for (std::size_t r = 0; r < rowCount; ++r)
            for (std::size_t c = 0; c < columnCount; ++c)
                writeCell(elements + r * columnCount + c, cells(r, c), cells(r, c).Kind());
    }
};

}  // namespace

const IXlfOperShared& operationsXloper() {
    static const XlfOperSharedImpl<xloper> table;
    return table;
}

const IXlfOperShared& operationsXloper12() {
    static const XlfOperSharedImpl<xloper12> table;
    return table;
}

}  // namespace xlframe::impl

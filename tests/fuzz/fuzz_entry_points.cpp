// Tavirune.xll's exported entry points called through the stand-in host with records built from
// the fuzz bytes: the frame's conversion of the host's records, the wrapper, the worksheet
// function and the conversion back, under the older (host 11) and the newer records (12, 16).
// Every returned record must be one a spreadsheet can show, and the host reads and releases it as
// it would; records the add-in was handed with the host-owned bit must all come back once.
//
// Input layout (a byte read past the end is 0):
//   version    % 3: host 16, 12 or 11
//   function   % 25: in registration order (ascending names)
//   call       low nibble 15: the function wizard is open; high nibble h >= 12: the last h - 11
//              arguments are omitted
//   then per argument of the type text: a number for B, a record for P / Q:
//   record     kind byte: % 16 in 0..7 array, 8..11 scalar, 12 reference, 13 null pointer,
//              14 missing, 15 nil; bit 0x10 sets the host-owned bit on the record
//   array      shape byte % 8: 0 x n, n x 0, 1 x 1, row of up to 64, column of up to 65535,
//              block up to 16 x 16, row of up to 65535, negative rows (newer records); cut to the
//              function's cell budget; then a mix byte (how often elements are not numbers)
//   element    kind byte: >= mix / 4 + 8 a number, else % 10: nil, text, text, boolean, error,
//              integer, missing, number, another type, host-owned text
//   number     selector: < 64 small counts, < 144 one of the special values, < 208 a fraction
//              near [0, 1], else 8 bytes of any bit pattern
//   text       length selector % 8 (0, short, the limit, the limit - 1, a byte, two bytes, up
//              to 64, 2), content selector % 4 (the input's bytes, letters, a generator's units,
//              units around the surrogates or bytes above 0x7F)
//
// The seeds in corpus/fuzz_entry_points follow this layout, one or a few calls of each function.
#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "host/standin_host.hpp"
#include "tests/fuzz/fuzz_input.hpp"
#include "xlframe/xlcall.hpp"

namespace {

const std::string addinPath = TAVIRUNE_ADDIN;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "fuzz_entry_points: %s\n", what);
    std::abort();
}

double bitsToDouble(std::uint64_t bits) {
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

double number(fuzzing::FuzzInput& in) {
    using limits = std::numeric_limits<double>;
    static const double specials[] = {0.0, -0.0, 1.0, -1.0, 0.5, 1.9, -0.5, 2.0, 3.0, 10.0, 100.0, 0.999,
                                      1.0 + 1e-12, -1e-12, 1e-10, limits::denorm_min(), -limits::denorm_min(),
                                      limits::min(), 1e-310, 1e308, -1e308, limits::max(), -limits::max(),
                                      limits::infinity(), -limits::infinity(), limits::quiet_NaN(),
                                      -limits::quiet_NaN(), limits::signaling_NaN(), 2147483647.0, 2147483648.0,
                                      -2147483648.0, -2147483649.0, 4294967296.0, 65535.0, 65536.0, 1e9, 0.12};
    const std::uint8_t selector = in.byte();
    if (selector < 64) return static_cast<double>(selector % 4);
    if (selector < 144) return specials[selector % std::size(specials)];
    if (selector < 208) return static_cast<double>(in.word() % 2000) / 1000.0 - 0.5;
    // Any bit pattern, read in the order a little-endian double lies in memory.
    std::uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits |= static_cast<std::uint64_t>(in.byte()) << (8 * i);
    return bitsToDouble(bits);
}

// Everything a call's records point to, released after the call; sized exactly, so that a read
// past the end of a text or an array is caught.
class Memory {
public:
    template <class T>
    T* make(std::size_t count) {
        blocks_.push_back(std::make_unique<std::byte[]>(count * sizeof(T)));
        return reinterpret_cast<T*>(blocks_.back().get());
    }

private:
    std::vector<std::unique_ptr<std::byte[]>> blocks_;
};

template <class X>
struct Generation;
template <>
struct Generation<xloper> {
    using Char = char;
    static constexpr std::size_t maxText = 255;
    static constexpr std::size_t maxRows = 65535;
    static constexpr std::size_t maxColumns = 256;
    static constexpr std::size_t sheetRows = 65536;
    static constexpr std::size_t sheetColumns = 256;
};
template <>
struct Generation<xloper12> {
    using Char = XCHAR;
    static constexpr std::size_t maxText = 32767;
    static constexpr std::size_t maxRows = 1048576;
    static constexpr std::size_t maxColumns = 16384;
    static constexpr std::size_t sheetRows = 1048576;
    static constexpr std::size_t sheetColumns = 16384;
};

constexpr int hostErrors[] = {xlerrNull, xlerrDiv0, xlerrValue, xlerrRef, xlerrName, xlerrNum, xlerrNA, xlerrGettingData};

bool isHostError(long long code) { return std::find(std::begin(hostErrors), std::end(hostErrors), code) != std::end(hostErrors); }

template <class X>
class Builder {
    using G = Generation<X>;
    using Char = typename G::Char;

public:
    Builder(fuzzing::FuzzInput& in, Memory& memory) : in_(in), memory_(memory) {}

    // Whether an error code outside the host's own went in (it may come back).
    bool oddErrors() const { return oddErrors_; }

    X* record(std::size_t maxCells) {
        const std::uint8_t kind = in_.byte();
        const bool owned = (kind & 0x10) != 0;
        X* record = memory_.make<X>(1);
        switch (kind % 16) {
        case 8: case 9: case 10: case 11: element(*record, 0); break;
        case 12: reference(*record); break;
        case 13: return nullptr;
        case 14: record->xltype = xltypeMissing; break;
        case 15: record->xltype = xltypeNil; break;
        default: array(*record, maxCells); break;
        }
        if (owned) record->xltype = static_cast<decltype(record->xltype)>(record->xltype | xlbitXLFree);
        return record;
    }

private:
    void array(X& record, std::size_t maxCells) {
        long long rows = 0, columns = 0;
        switch (in_.byte() % 8) {
        case 0: rows = 0; columns = in_.byte() % 3; break;
        case 1: rows = in_.byte() % 3; columns = 0; break;
        case 2: rows = 1; columns = 1; break;
        case 3: rows = 1; columns = 1 + in_.byte() % 64; break;
        case 4: rows = 1 + in_.half() % 65535; columns = 1; break;
        case 5: rows = 1 + in_.byte() % 16; columns = 1 + in_.byte() % 16; break;
        case 6: rows = 1; columns = 1 + in_.half() % 65535; break;
        default:
            // The newer records' counts are signed; a host never sends a negative one.
            rows = std::is_same_v<X, xloper12> ? -static_cast<long long>(1 + in_.byte() % 3) : 0;
            columns = 1 + in_.byte() % 3;
            break;
        }
        if (rows > 0 && columns > 0 && static_cast<std::size_t>(rows * columns) > maxCells) {
            if (static_cast<std::size_t>(columns) > maxCells) columns = static_cast<long long>(maxCells);
            rows = std::max<long long>(1, static_cast<long long>(maxCells) / columns);
        }
        const std::size_t count = rows > 0 && columns > 0 ? static_cast<std::size_t>(rows * columns) : 0;
        const std::uint8_t mix = in_.byte();
        X* elements = nullptr;
        // An empty array points at nothing, or at a block the add-in must not read.
        if (count > 0 || (mix & 1) != 0) elements = memory_.make<X>(count);
        for (std::size_t i = 0; i < count; ++i) {
            elements[i] = X{};
            element(elements[i], mix);
        }
        record.xltype = xltypeMulti;
        record.val.array.lparray = elements;
        record.val.array.rows = static_cast<decltype(record.val.array.rows)>(rows);
        record.val.array.columns = static_cast<decltype(record.val.array.columns)>(columns);
    }

    void element(X& record, std::uint8_t mix) {
        if (in_.empty()) {
            record.xltype = xltypeNum;
            record.val.num = 1.0;
            return;
        }
        const std::uint8_t kind = in_.byte();
        if (kind >= mix / 4 + 8) {
            record.xltype = xltypeNum;
            record.val.num = number(in_);
            return;
        }
        switch (kind % 10) {
        case 0: record.xltype = xltypeNil; break;
        case 1:
        case 2: text(record); break;
        case 3: {
            record.xltype = xltypeBool;
            const std::uint8_t which = in_.byte();
            // Any non-zero value is true to the frame.
            record.val.xbool = static_cast<decltype(record.val.xbool)>(which < 128 ? which % 2 : in_.word());
            break;
        }
        case 4: {
            record.xltype = xltypeErr;
            const std::uint8_t which = in_.byte();
            if (which < 240) {
                record.val.err = static_cast<decltype(record.val.err)>(hostErrors[which % std::size(hostErrors)]);
            } else {
                record.val.err = static_cast<decltype(record.val.err)>(in_.word());
                oddErrors_ = oddErrors_ || !isHostError(record.val.err);
            }
            break;
        }
        case 5: {
            record.xltype = xltypeInt;
            const std::uint8_t which = in_.byte();
            using W = decltype(record.val.w);
            if (which < 64)
                record.val.w = static_cast<W>(which % 8);
            else if (which < 128)
                record.val.w = which % 2 ? std::numeric_limits<W>::max() : std::numeric_limits<W>::min();
            else
                record.val.w = static_cast<W>(in_.word());
            break;
        }
        case 6: record.xltype = xltypeMissing; break;
        case 7:
            record.xltype = xltypeNum;
            record.val.num = number(in_);
            break;
        case 8: {
            // A type a host never puts in an array (or no type at all), with an empty payload.
            static const DWORD others[] = {xltypeRef, xltypeSRef, xltypeFlow, xltypeMulti, xltypeBigData, 0, 0x0003, 0x0200, 0x0FFF};
            record.xltype = static_cast<decltype(record.xltype)>(others[in_.byte() % std::size(others)]);
            break;
        }
        default:
            text(record);
            record.xltype = static_cast<decltype(record.xltype)>(record.xltype | xlbitXLFree);
            break;
        }
    }

    void text(X& record) {
        std::size_t length = 0;
        switch (in_.byte() % 8) {
        case 0: length = 0; break;
        case 1: length = 1 + in_.byte() % 16; break;
        case 2: length = G::maxText; break;
        case 3: length = G::maxText - 1; break;
        case 4: length = in_.byte(); break;
        case 5: length = in_.half() % (G::maxText + 1); break;
        case 6: length = 1 + in_.byte() % 64; break;
        default: length = 2; break;
        }
        // Long texts cost their length in every conversion: a budget per input keeps calls fast.
        if (length > 64) {
            if (budget_ < length) length = std::min<std::size_t>(length, 16);
            else budget_ -= length;
        }
        Char* units = memory_.make<Char>(length + 1);  // the length, then the text, no terminator
        units[0] = static_cast<Char>(length);
        const std::uint8_t content = in_.byte();
        std::uint32_t state = in_.byte() * 2654435761u + 1;
        for (std::size_t i = 1; i <= length; ++i) {
            std::uint32_t unit = 0;
            switch (content % 4) {
            case 0: unit = std::is_same_v<Char, char> ? in_.byte() : in_.half(); break;
            case 1: unit = static_cast<std::uint32_t>('a' + (i * 7) % 26); break;
            case 2:
                state = state * 1103515245u + 12345u;
                unit = state >> 16;
                break;
            default:
                state = state * 1103515245u + 12345u;
                if constexpr (std::is_same_v<Char, char>) {
                    unit = 0x80 | ((state >> 16) & 0x7F);
                } else {
                    static const std::uint32_t around[] = {0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0xFFFD, 0xFFFF, 0xFEFF, 0x00E9, 0x0000};
                    unit = (state >> 20) % 3 == 0 ? around[(state >> 16) % std::size(around)] : 0xD800 + ((state >> 16) & 0x7FF);
                }
                break;
            }
            units[i] = static_cast<Char>(unit);
        }
        record.xltype = xltypeStr;
        record.val.str = units;
    }

    void reference(X& record) {
        // Within the sheet, as a host builds them; a few cells at most.
        const std::size_t rows = in_.byte() % 8, columns = in_.byte() % 8;
        const std::size_t top = in_.word() % (G::sheetRows - 8), left = in_.half() % (G::sheetColumns - 8);
        using Area = std::conditional_t<std::is_same_v<X, xloper>, xlref, xlref12>;
        Area area{};
        area.rwFirst = static_cast<decltype(area.rwFirst)>(top);
        area.rwLast = static_cast<decltype(area.rwLast)>(top + rows - 1);  // no rows: last before first
        area.colFirst = static_cast<decltype(area.colFirst)>(left);
        area.colLast = static_cast<decltype(area.colLast)>(left + columns - 1);
        if (rows == 0) area.rwLast = area.rwFirst > 0 ? static_cast<decltype(area.rwLast)>(top - 1) : area.rwFirst;
        if (columns == 0) area.colLast = area.colFirst > 0 ? static_cast<decltype(area.colLast)>(left - 1) : area.colFirst;
        const std::uint8_t which = in_.byte();
        if (which % 2 == 0) {
            record.xltype = xltypeSRef;
            record.val.sref.count = 1;
            record.val.sref.ref = area;
            return;
        }
        using Areas = std::conditional_t<std::is_same_v<X, xloper>, xlmref, xlmref12>;
        const std::size_t count = (which >> 1) % 3;  // none, one, or two areas
        const std::size_t bytes = sizeof(Areas) + (count > 1 ? (count - 1) * sizeof(Area) : 0);
        auto* storage = memory_.make<unsigned char>(bytes);
        std::memset(storage, 0, bytes);
        auto* areas = reinterpret_cast<Areas*>(storage);
        areas->count = static_cast<WORD>(count);
        for (std::size_t i = 0; i < count; ++i)
            std::memcpy(storage + offsetof(Areas, reftbl) + i * sizeof(Area), &area, sizeof area);
        record.xltype = xltypeRef;
        record.val.mref.lpmref = (which & 0x80) != 0 ? nullptr : areas;
        record.val.mref.idSheet = (which & 0x40) != 0 ? 0 : 0x10000 + which;
    }

    fuzzing::FuzzInput& in_;
    Memory& memory_;
    std::size_t budget_ = std::size_t(1) << 18;
    bool oddErrors_ = false;
};

// --- The returned record ---------------------------------------------------------------------

template <class X>
std::size_t textLength(const X& record) {
    using Char = typename Generation<X>::Char;
    const Char* units = record.val.str;
    if (units == nullptr) fail("a text result without its text");
    const std::size_t length = static_cast<std::make_unsigned_t<Char>>(units[0]);
    if (length > Generation<X>::maxText) fail("a text result longer than the records hold");
    // Every unit read, so that a text shorter than its length shows up under the sanitizers.
    volatile std::uint32_t sum = 0;
    for (std::size_t i = 1; i <= length; ++i) sum = sum + static_cast<std::make_unsigned_t<Char>>(units[i]);
    return length;
}

template <class X>
void checkValue(const X& record, bool oddErrors, bool inArray) {
    if ((record.xltype & ~xltypeMask) != 0) fail("a returned record carries memory bits");
    switch (record.xltype & xltypeMask) {
    case xltypeNum:
        // A spreadsheet cannot hold a non-finite number: the frame makes it #NUM!.
        if (!std::isfinite(record.val.num)) fail("a non-finite number returned");
        break;
    case xltypeStr: textLength(record); break;
    case xltypeBool:
        if (record.val.xbool != 0 && record.val.xbool != 1) fail("a boolean that is neither 0 nor 1");
        break;
    case xltypeErr:
        if (!oddErrors && !isHostError(record.val.err)) fail("an error code the host does not know");
        break;
    case xltypeInt: break;
    case xltypeMissing:
    case xltypeNil:
        if (inArray) fail("a blank inside a returned array");
        break;
    default: fail(inArray ? "an array element of a type no cell holds" : "a result of a type no cell holds");
    }
}

template <class X>
void checkResult(const void* pointer, bool oddErrors) {
    if (pointer == nullptr) return;  // the host shows #NUM!
    const X& record = *static_cast<const X*>(pointer);
    if ((record.xltype & xltypeMask) != xltypeMulti) return checkValue(record, oddErrors, false);
    if ((record.xltype & ~xltypeMask) != 0) fail("a returned array carries memory bits");
    const long long rows = record.val.array.rows, columns = record.val.array.columns;
    if (rows < 1 || columns < 1) fail("a returned array without cells");
    if (static_cast<std::size_t>(rows) > Generation<X>::maxRows || static_cast<std::size_t>(columns) > Generation<X>::maxColumns)
        fail("a returned array larger than the records hold");
    if (record.val.array.lparray == nullptr) fail("a returned array without its elements");
    for (long long i = 0; i < rows * columns; ++i) checkValue(record.val.array.lparray[i], oddErrors, true);
}

// --- The host --------------------------------------------------------------------------------

// Per function: the most cells of each range argument, where a function's cost grows fast.
std::size_t cellBudget(const std::string& name, std::size_t argument) {
    const std::string_view f = std::string_view(name).substr(name.rfind('.') + 1);
    if ((f == "aurocDifferenceAggregate" || f == "calibrationDifferenceAggregate") && (argument == 1 || argument == 2)) return 256;
    if (f == "logisticRegression" && argument <= 1) return 64;
    if (f == "logisticRegression" && argument == 2) return 2048;
    if (f == "lowDefaultPortfolioPD" && argument <= 1) return 64;
    return 4096;
}

struct Session {
    host::StandInHost host;
    int version = 0;
    std::vector<host::Registration> functions;

    // The add-in chooses its records when it opens: another version means closing and opening
    // it again. The file stays mapped in between (marked not to be unloaded), since libFuzzer
    // keeps pointers to its coverage counters.
    void use(int wanted) {
        if (host.loaded() && version == wanted) return;
        host.unload();
        host.clearRecords();
        host.options().version = wanted;
        host.load(addinPath);
        static void* pinned = ::dlopen(addinPath.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
        if (pinned == nullptr) fail("the add-in cannot be kept loaded");
        version = wanted;
        functions = host.registrations();
        if (functions.size() != 25) fail("the add-in did not register its twenty-five functions");
        std::sort(functions.begin(), functions.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    }
};

Session& session() {
    // Never destroyed: closing the add-in at exit would run after its own statics are gone.
    static Session* const s = new Session();
    return *s;
}

template <class X>
void run(fuzzing::FuzzInput& in, const host::Registration& function, bool wizard, std::size_t omitted) {
    Session& s = session();
    Memory memory;
    Builder<X> build(in, memory);
    std::vector<host::RawArgument> arguments;
    std::size_t index = 0;
    for (std::size_t i = 1; i < function.typeText.size(); ++i) {
        const char code = function.typeText[i];
        if (code == 'B')
            arguments.push_back(host::RawArgument::fromNumber(number(in)));
        else if (code == 'P' || code == 'Q')
            arguments.push_back(host::RawArgument::fromRecord(build.record(cellBudget(function.name, index))));
        else
            break;
        ++index;
    }
    arguments.resize(arguments.size() - std::min(omitted, arguments.size()));

    const std::size_t strayBefore = s.host.strayFrees();
    s.host.options().functionWizardOpen = wizard;
    s.host.callRecords(function, arguments, [&](const void* returned) { checkResult<X>(returned, build.oddErrors()); });
    if (s.host.hostAllocations() != 0) fail("the add-in kept a record the host handed over as its own");
    if (s.host.strayFrees() != strayBefore) fail("the add-in handed back memory the host does not hold");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::FuzzInput in(data, size);
    static constexpr int versions[] = {16, 12, 11};
    const int version = versions[in.byte() % 3];
    Session& s = session();
    s.use(version);
    const host::Registration& function = s.functions[in.byte() % s.functions.size()];
    const std::uint8_t call = in.byte();
    const bool wizard = (call & 0x0F) == 0x0F;
    const std::size_t omitted = (call >> 4) >= 12 ? (call >> 4) - 11 : 0;
    if (version >= 12)
        run<xloper12>(in, function, wizard, omitted);
    else
        run<xloper>(in, function, wizard, omitted);
    return 0;
}

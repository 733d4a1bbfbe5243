// Calling a registered worksheet function: arguments built for its type text as a spreadsheet
// builds them, the call made through libffi (on Windows x64 through callX64), and the returned value
// read back into cells.

#include <cmath>
#include <cstddef>
#include <cstring>
#include <deque>
#include <limits>
#include <stdexcept>

#include "host/call_x64.hpp"
#include "host/host_platform.hpp"
#include "host/host_state.hpp"

namespace host::detail {

std::optional<Signature> parseTypeText(std::string_view text, int hostVersion) {
    Signature signature;
    std::size_t i = 0;
    auto code = [&]() -> std::optional<std::string> {
        if (i >= text.size()) return std::nullopt;
        const char c = text[i];
        if (std::string_view("BJAPQRUX").find(c) != std::string_view::npos) {
            ++i;
            return std::string(1, c);
        }
        if (c == 'C' || c == 'K') {
            ++i;
            if (i < text.size() && text[i] == '%') {
                ++i;
                return std::string(1, c) + "%";
            }
            return std::string(1, c);
        }
        return std::nullopt;
    };
    if (!text.empty() && text[0] == '>') {
        signature.result = ">";
        i = 1;
    } else if (auto result = code(); result && *result != "X") {
        signature.result = *result;
    } else {
        return std::nullopt;
    }
    while (auto argument = code()) signature.arguments.push_back(*argument);
    for (; i < text.size(); ++i) {
        switch (text[i]) {
            case '!':
                signature.isVolatile = true;
                break;
            case '$':
                signature.threadSafe = true;
                break;
            case '#':
                signature.macroEquivalent = true;
                break;
            case '&':
                signature.clusterSafe = true;
                break;
            default:
                return std::nullopt;
        }
    }
    if (signature.arguments.size() > xlMaxOperands) return std::nullopt;
    // A macro-sheet equivalent function cannot be thread-safe.
    if (signature.threadSafe && signature.macroEquivalent) return std::nullopt;
    auto uses = [&](std::string_view wanted) {
        if (signature.result == wanted) return true;
        for (const std::string& a : signature.arguments) {
            if (a == wanted) return true;
        }
        return false;
    };
    if (hostVersion < 12 && (uses("Q") || uses("U") || uses("C%") || uses("K%") || signature.threadSafe))
        return std::nullopt;
    if (hostVersion < 14 && (uses("X") || uses(">") || signature.clusterSafe)) return std::nullopt;
    return signature;
}

namespace {

Table single(Value value) {
    Table table(1, 1);
    table.at(0, 0) = std::move(value);
    return table;
}

// The one value an argument stands for where a single value is wanted: a range of one cell is
// that cell; a larger range is #VALUE!, as a spreadsheet gives without implicit intersection.
Value scalarOf(const Argument& argument) {
    switch (argument.kind) {
        case Argument::Kind::Missing:
            return Blank{};
        case Argument::Kind::Scalar:
            return argument.scalar;
        case Argument::Kind::Range:
            if (argument.source) {
                if (argument.source->rows() != 1 || argument.source->columns() != 1) return ErrorValue{xlerrValue};
                CellView cell;
                argument.source->readColumn(0, 0, 1, &cell);
                return valueOf(cell);
            }
            if (argument.range.rows == 1 && argument.range.columns == 1 && argument.range.cells.size() == 1)
                return argument.range.cells[0];
            return ErrorValue{xlerrValue};
    }
    return Blank{};
}

std::optional<double> numberFrom(const Value& value) {
    if (const double* number = std::get_if<double>(&value)) return *number;
    if (const bool* flag = std::get_if<bool>(&value)) return *flag ? 1.0 : 0.0;
    if (const std::string* text = std::get_if<std::string>(&value)) return parseNumber(*text);
    if (std::holds_alternative<Blank>(value)) return 0.0;
    return std::nullopt;
}

std::optional<std::string> textFrom(const Value& value) {
    if (const std::string* text = std::get_if<std::string>(&value)) return *text;
    if (const double* number = std::get_if<double>(&value)) return numberText(*number);
    if (const bool* flag = std::get_if<bool>(&value)) return std::string(*flag ? "TRUE" : "FALSE");
    if (std::holds_alternative<Blank>(value)) return std::string();
    return std::nullopt;
}

const Table& checked(const Table& table) {
    if (table.cells.size() != table.rows * table.columns)
        throw std::invalid_argument("a range's cells do not match its size");
    return table;
}

union Slot {
    double number;
    void* pointer;
    std::int32_t integer;
    std::int16_t flag;
};

// What a call builds and must keep until the returned value is read.
struct CallMemory {
    explicit CallMemory(State& s) : state(s), owned(takeArena(s)), arena(*owned) {}
    ~CallMemory() {
        for (IDSHEET id : sheets) state.sheets.remove(id);
        owned->reset();
        try {
            const std::lock_guard<std::mutex> hold(state.arenaLock);
            state.spareArenas.push_back(std::move(owned));
        } catch (...) {
            // Out of memory for the pool's list: the arena goes with this call.
        }
    }
    CallMemory(const CallMemory&) = delete;
    CallMemory& operator=(const CallMemory&) = delete;
    State& state;
    std::unique_ptr<Arena> owned;
    Arena& arena;

    static std::unique_ptr<Arena> takeArena(State& s) {
        {
            const std::lock_guard<std::mutex> hold(s.arenaLock);
            if (!s.spareArenas.empty()) {
                std::unique_ptr<Arena> arena = std::move(s.spareArenas.back());
                s.spareArenas.pop_back();
                return arena;
            }
        }
        return std::make_unique<Arena>();
    }
    std::vector<IDSHEET> sheets;
    std::deque<Table> tables;  // ranges from a source that a reference must point into
};

template <class X>
void* valueRecord(const Argument& argument, CallMemory& memory, bool asReference, bool twoAreas,
                  const std::string& code) {
    using G = Generation<X>;
    X* record = memory.arena.make<X>(1);
    switch (argument.kind) {
        case Argument::Kind::Missing:
            record->xltype = xltypeMissing;
            break;
        case Argument::Kind::Scalar:
            makeValue(*record, argument.scalar, memory.arena);
            break;
        case Argument::Kind::Range: {
            const std::size_t rows = argument.source ? argument.source->rows() : checked(argument.range).rows;
            const std::size_t columns = argument.source ? argument.source->columns() : argument.range.columns;
            if (rows == 0 || columns == 0) {
                record->xltype = xltypeMissing;
                break;
            }
            if (!asReference) {
                if (rows > G::maxRows || columns > G::maxColumns)
                    throw std::length_error("a range of " + std::to_string(rows) + " x " + std::to_string(columns) +
                                            " cells does not fit the registered records (" + code + ")");
                if (argument.source)
                    makeArray(*record, *argument.source, memory.arena);
                else
                    makeArray(*record, argument.range, memory.arena);
                break;
            }
            // A reference points into a sheet the host can read while the call runs.
            const Table& table = argument.source ? memory.tables.emplace_back(argument.table()) : argument.range;
            {
                // Rows and columns of a reference run up to the generation's sheet size.
                const std::size_t maxRows = std::is_same_v<X, xloper> ? xlMaxRowsOld : xlMaxRows12;
                if (table.rows > maxRows || table.columns > G::maxColumns)
                    throw std::length_error("a range of " + std::to_string(table.rows) + " x " +
                                            std::to_string(table.columns) +
                                            " cells does not fit a sheet of the registered records (" + code + ")");
                using Areas = std::conditional_t<std::is_same_v<X, xloper>, xlmref, xlmref12>;
                using Area = std::remove_reference_t<decltype(Areas{}.reftbl[0])>;
                const std::size_t count = twoAreas ? 2 : 1;
                // The area table runs on past its declared single element.
                auto* storage = memory.arena.make<unsigned char>(sizeof(Areas) + (count - 1) * sizeof(Area));
                auto* areas = reinterpret_cast<Areas*>(storage);
                areas->count = static_cast<WORD>(count);
                for (std::size_t i = 0; i < count; ++i) {
                    Area& area = *reinterpret_cast<Area*>(storage + offsetof(Areas, reftbl) + i * sizeof(Area));
                    area.rwFirst = 0;
                    area.colFirst = 0;
                    area.rwLast = static_cast<decltype(area.rwLast)>(table.rows - 1);
                    area.colLast = static_cast<decltype(area.colLast)>(table.columns - 1);
                }
                const IDSHEET sheet = memory.state.sheets.add(&table);
                memory.sheets.push_back(sheet);
                record->xltype = xltypeRef;
                record->val.mref.lpmref = areas;
                record->val.mref.idSheet = sheet;
            }
            break;
        }
    }
    return record;
}

// K / K%: a block of doubles after its row and column counts.
template <class Count>
std::variant<void*, ErrorValue> numberArray(const Argument& argument, CallMemory& memory, std::size_t maxRows,
                                            std::size_t maxColumns) {
    Table table;
    if (argument.kind == Argument::Kind::Missing) return ErrorValue{xlerrValue};
    if (argument.kind == Argument::Kind::Scalar) {
        table = single(argument.scalar);
    } else {
        table = argument.source ? argument.table() : checked(argument.range);
    }
    if (table.rows == 0 || table.columns == 0) return ErrorValue{xlerrValue};
    if (table.rows > maxRows || table.columns > maxColumns)
        throw std::length_error("a range of " + std::to_string(table.rows) + " x " + std::to_string(table.columns) +
                                " cells does not fit a number array of the registered records");
    static_assert(2 * sizeof(Count) <= sizeof(double));
    auto* block = memory.arena.make<double>(table.cells.size() + 1);
    auto* counts = reinterpret_cast<Count*>(block);
    counts[0] = static_cast<Count>(table.rows);
    counts[1] = static_cast<Count>(table.columns);
    for (std::size_t i = 0; i < table.cells.size(); ++i) {
        const Value& cell = table.cells[i];
        if (const double* number = std::get_if<double>(&cell)) {
            block[i + 1] = *number;
        } else if (std::holds_alternative<Blank>(cell)) {
            block[i + 1] = 0;
        } else if (const ErrorValue* error = std::get_if<ErrorValue>(&cell)) {
            return *error;
        } else {
            return ErrorValue{xlerrValue};
        }
    }
    return static_cast<void*>(block);
}

template <class Count>
Table readNumberArray(const void* pointer) {
    if (!pointer) return single(ErrorValue{xlerrNum});
    const auto* counts = static_cast<const Count*>(pointer);
    const long rows = counts[0];
    const long columns = counts[1];
    if (rows <= 0 || columns <= 0 || rows > xlMaxRows12 || columns > xlMaxColumns12 || rows * columns > (1L << 26))
        return single(ErrorValue{xlerrValue});
    const auto* numbers = static_cast<const double*>(pointer) + 1;
    Table table(static_cast<std::size_t>(rows), static_cast<std::size_t>(columns));
    for (std::size_t i = 0; i < table.cells.size(); ++i) {
        if (std::isfinite(numbers[i]))
            table.cells[i] = numbers[i];
        else
            table.cells[i] = ErrorValue{xlerrNum};
    }
    return table;
}

template <class X>
Table readRecord(State& state, const X* record) {
    using G = Generation<X>;
    if (!record) return single(ErrorValue{xlerrNum});
    const DWORD type = record->xltype & xltypeMask;
    Table table;
    if (type == xltypeMulti) {
        const long rows = static_cast<long>(record->val.array.rows);
        const long columns = static_cast<long>(record->val.array.columns);
        if (rows <= 0 || columns <= 0 || static_cast<std::size_t>(rows) > G::maxRows ||
            static_cast<std::size_t>(columns) > G::maxColumns || !record->val.array.lparray) {
            table = single(ErrorValue{xlerrValue});
        } else {
            table = Table(static_cast<std::size_t>(rows), static_cast<std::size_t>(columns));
            for (std::size_t i = 0; i < table.cells.size(); ++i) {
                // Arrays hold values only; anything else in one is shown as #VALUE!.
                table.cells[i] = readValue(record->val.array.lparray[i]).value_or(ErrorValue{xlerrValue});
            }
        }
    } else if (type == xltypeRef || type == xltypeSRef) {
        X values{};
        // A returned reference shows the cells it refers to.
        X copy = *record;
        copy.xltype = type;
        X* operands[] = {&copy};
        if (answer(state, xlCoerce, 1, operands, &values) == xlretSuccess) {
            table = readRecord(state, &values);
            X* release[] = {&values};
            answer(state, xlFree, 1, release, nullptr);
        } else {
            table = single(ErrorValue{xlerrRef});
        }
    } else {
        table = single(readValue(*record).value_or(ErrorValue{xlerrValue}));
    }
    if (record->xltype & xlbitDLLFree) {
        using Free = void (*)(X*);
        const char* name = std::is_same_v<X, xloper12> ? "xlAutoFree12" : "xlAutoFree";
        if (auto free = reinterpret_cast<Free>(librarySymbol(state.addin, name))) {
            free(const_cast<X*>(record));
            ++state.addinFrees;
        }
    } else if (record->xltype & xlbitXLFree) {
        X* release[] = {const_cast<X*>(record)};
        answer(state, xlFree, 1, release, nullptr);
    }
    return table;
}

template <class C>
std::size_t terminatedLength(const C* text, std::size_t limit) {
    std::size_t n = 0;
    while (n < limit && text[n] != 0) ++n;
    return n;
}

// Makes the call with the argument slots built, and reads the returned value back.
Table invoke(State& state, const Entry& entry, std::vector<void*>& values, bool asynchronous,
             const std::function<void(const void*)>& inspect) {
    const Signature& signature = entry.signature;
    alignas(16) unsigned char returned[32] = {};
    {
        std::unique_lock<std::mutex> serial(state.serial, std::defer_lock);
        if (!signature.threadSafe) serial.lock();
#ifdef _WIN32
        static_assert(sizeof(Slot) == sizeof(std::uint64_t));
        std::vector<std::uint64_t> words(values.size());
        for (std::size_t k = 0; k < values.size(); ++k) std::memcpy(&words[k], values[k], sizeof(std::uint64_t));
        unsigned doubles = 0;
        for (std::size_t k = 0; k < 4 && k < signature.arguments.size(); ++k)
            doubles |= (signature.arguments[k] == "B" ? 1u : 0u) << k;
        const std::uint64_t word = callX64(entry.address, doubles, words.data(), words.size(), signature.result == "B");
        std::memcpy(returned, &word, sizeof word);
#else
        ffi_call(const_cast<ffi_cif*>(&entry.cif), FFI_FN(entry.address), returned, values.data());
#endif
    }

    const std::string& code = signature.result;
    const auto pointer = [&] {
        void* p = nullptr;
        std::memcpy(&p, returned, sizeof p);
        return p;
    };
    if (code == ">") return asynchronous ? single(ErrorValue{xlerrGettingData}) : single(Blank{});
    if (code == "B") {
        double number = 0;
        std::memcpy(&number, returned, sizeof number);
        return single(std::isfinite(number) ? Value(number) : Value(ErrorValue{xlerrNum}));
    }
    if (code == "J" || code == "A") {
        std::int64_t integer = 0;
        std::memcpy(&integer, returned, sizeof integer);
        if (code == "J") return single(static_cast<double>(static_cast<std::int32_t>(integer)));
        return single(static_cast<std::int16_t>(integer) != 0);
    }
    if (code == "C") {
        const char* text = static_cast<const char*>(pointer());
        if (!text) return single(ErrorValue{xlerrNum});
        return single(utf16ToUtf8(utf8ToUtf16(std::string_view(text, terminatedLength(text, std::size_t(1) << 20)))));
    }
    if (code == "C%") {
        const XCHAR* text = static_cast<const XCHAR*>(pointer());
        if (!text) return single(ErrorValue{xlerrNum});
        return single(utf16ToUtf8(std::u16string_view(text, terminatedLength(text, Generation<xloper12>::maxText))));
    }
    if (code == "K") return readNumberArray<WORD>(pointer());
    if (code == "K%") return readNumberArray<std::int32_t>(pointer());
    if (inspect) inspect(pointer());
    if (code == "P" || code == "R") return readRecord(state, static_cast<const xloper*>(pointer()));
    return readRecord(state, static_cast<const xloper12*>(pointer()));
}

// More arguments than the type text takes (the asynchronous handle is not one) is the caller's error.
void checkArgumentCount(const Entry& entry, std::size_t count) {
    std::size_t given = 0;
    for (const std::string& code : entry.signature.arguments) given += code != "X";
    if (count > given)
        throw std::invalid_argument(entry.registration.name + " takes " + std::to_string(given) + " arguments, not " +
                                    std::to_string(count));
}

// The asynchronous handle: a big-data record the function hands back when done.
xloper12* asynchronousHandle(CallMemory& memory) {
    auto* handle = memory.arena.make<xloper12>(1);
    handle->xltype = xltypeBigData;
    handle->val.bigdata.h.hdata = handle;
    return handle;
}

}  // namespace

Table callEntry(State& state, const Entry& entry, const std::vector<Argument>& arguments) {
    const Signature& signature = entry.signature;
    checkArgumentCount(entry, arguments.size());
    const Argument missing = Argument::missing();
    CallMemory memory(state);
    std::vector<Slot> slots(signature.arguments.size());
    std::vector<void*> values(signature.arguments.size());
    std::size_t next = 0;
    bool asynchronous = false;
    for (std::size_t k = 0; k < signature.arguments.size(); ++k) {
        const std::string& code = signature.arguments[k];
        values[k] = &slots[k];
        if (code == "X") {
            slots[k].pointer = asynchronousHandle(memory);
            asynchronous = true;
            continue;
        }
        const Argument& argument = next < arguments.size() ? arguments[next] : missing;
        ++next;
        const bool twoAreas = state.options.multiAreaReferences;
        const bool asReference = state.options.rangesAsReferences || twoAreas;
        if (code == "P") {
            slots[k].pointer = valueRecord<xloper>(argument, memory, asReference, twoAreas, code);
        } else if (code == "Q") {
            slots[k].pointer = valueRecord<xloper12>(argument, memory, asReference, twoAreas, code);
        } else if (code == "R") {
            slots[k].pointer = valueRecord<xloper>(argument, memory, true, twoAreas, code);
        } else if (code == "U") {
            slots[k].pointer = valueRecord<xloper12>(argument, memory, true, twoAreas, code);
        } else if (code == "K" || code == "K%") {
            auto block = code == "K" ? numberArray<WORD>(argument, memory, Generation<xloper>::maxRows,
                                                         Generation<xloper>::maxColumns)
                                     : numberArray<std::int32_t>(argument, memory, xlMaxRows12, xlMaxColumns12);
            if (const ErrorValue* error = std::get_if<ErrorValue>(&block)) return single(*error);
            slots[k].pointer = std::get<void*>(block);
        } else {
            // The single-value codes: a spreadsheet passes an error on without calling.
            const Value value = scalarOf(argument);
            if (const ErrorValue* error = std::get_if<ErrorValue>(&value)) return single(*error);
            if (code == "B" || code == "J") {
                const std::optional<double> number = numberFrom(value);
                if (!number || !std::isfinite(*number)) return single(ErrorValue{xlerrValue});
                if (code == "B") {
                    slots[k].number = *number;
                } else {
                    const double truncated = std::trunc(*number);
                    if (truncated < std::numeric_limits<std::int32_t>::min() ||
                        truncated > std::numeric_limits<std::int32_t>::max())
                        return single(ErrorValue{xlerrNum});
                    slots[k].integer = static_cast<std::int32_t>(truncated);
                }
            } else if (code == "A") {
                std::optional<bool> flag;
                if (const std::string* text = std::get_if<std::string>(&value))
                    flag = parseBool(*text);
                else if (const bool* b = std::get_if<bool>(&value))
                    flag = *b;
                else if (const double* number = std::get_if<double>(&value))
                    flag = *number != 0;
                else
                    flag = false;
                if (!flag) return single(ErrorValue{xlerrValue});
                slots[k].flag = *flag ? 1 : 0;
            } else if (code == "C") {
                const std::string whole = *textFrom(value);
                const std::string_view text = utf8Prefix(whole, Generation<xloper>::maxText);
                char* copy = memory.arena.make<char>(text.size() + 1);
                std::memcpy(copy, text.data(), text.size());
                slots[k].pointer = copy;
            } else if (code == "C%") {
                std::u16string wide = utf8ToUtf16(*textFrom(value));
                if (wide.size() > Generation<xloper12>::maxText) wide.resize(Generation<xloper12>::maxText);
                XCHAR* copy = memory.arena.make<XCHAR>(wide.size() + 1);
                std::memcpy(copy, wide.data(), wide.size() * sizeof(XCHAR));
                slots[k].pointer = copy;
            } else {
                throw std::logic_error("unknown argument code " + code);
            }
        }
    }

    return invoke(state, entry, values, asynchronous, {});
}

// The caller's records that carry the host-owned bit, known to xlFree while the call runs: the
// top-level ones must come back, those inside an array only once the add-in has read them.
class Adopted {
   public:
    explicit Adopted(State& state) : state_(state) {}
    ~Adopted() {
        for (const void* key : elements_) state_.memory.release(key);
    }
    Adopted(const Adopted&) = delete;
    Adopted& operator=(const Adopted&) = delete;

    template <class X>
    void adopt(const X* record) {
        if (!record) return;
        keep(*record, top_);
        if ((record->xltype & xltypeMask) != xltypeMulti || !record->val.array.lparray) return;
        const long long rows = record->val.array.rows, columns = record->val.array.columns;
        if (rows <= 0 || columns <= 0) return;
        for (long long i = 0; i < rows * columns; ++i) keep(record->val.array.lparray[i], elements_);
    }

   private:
    template <class X>
    void keep(const X& record, std::vector<const void*>& keys) {
        if (!(record.xltype & xlbitXLFree)) return;
        if (const void* key = memoryOf(record)) {
            state_.memory.keep(key, std::make_unique<Arena>());
            keys.push_back(key);
        }
    }

    State& state_;
    std::vector<const void*> top_;
    std::vector<const void*> elements_;
};

Table callEntryRecords(State& state, const Entry& entry, const std::vector<RawArgument>& arguments,
                       const std::function<void(const void*)>& inspect) {
    const Signature& signature = entry.signature;
    checkArgumentCount(entry, arguments.size());
    for (const std::string& code : signature.arguments) {
        if (code != "X" && code != "P" && code != "Q" && code != "R" && code != "U" && code != "B")
            throw std::invalid_argument(entry.registration.name + ": the code " + code + " takes no record as it is");
    }
    CallMemory memory(state);
    Adopted adopted(state);
    std::vector<Slot> slots(signature.arguments.size());
    std::vector<void*> values(signature.arguments.size());
    std::size_t next = 0;
    bool asynchronous = false;
    for (std::size_t k = 0; k < signature.arguments.size(); ++k) {
        const std::string& code = signature.arguments[k];
        values[k] = &slots[k];
        if (code == "X") {
            slots[k].pointer = asynchronousHandle(memory);
            asynchronous = true;
            continue;
        }
        const bool present = next < arguments.size();
        const RawArgument argument = present ? arguments[next] : RawArgument{};
        ++next;
        const bool older = code == "P" || code == "R";
        if (older || code == "Q" || code == "U") {
            if (!present) {
                if (older) {
                    auto* missing = memory.arena.make<xloper>(1);
                    missing->xltype = xltypeMissing;
                    slots[k].pointer = missing;
                } else {
                    auto* missing = memory.arena.make<xloper12>(1);
                    missing->xltype = xltypeMissing;
                    slots[k].pointer = missing;
                }
                continue;
            }
            if (older)
                adopted.adopt(static_cast<const xloper*>(argument.record));
            else
                adopted.adopt(static_cast<const xloper12*>(argument.record));
            slots[k].pointer = argument.record;
        } else {
            slots[k].number = argument.number;
        }
    }
    return invoke(state, entry, values, asynchronous, inspect);
}

}  // namespace host::detail

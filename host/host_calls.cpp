// The host's answers to the add-in's callbacks, for both record generations.
#include <algorithm>
#include <cmath>
#include <limits>
#include <cstring>

#include "host/host_platform.hpp"
#include "host/host_state.hpp"

namespace host::detail {

void HostMemory::keep(const void* key, std::unique_ptr<Arena> memory) {
    std::lock_guard guard(lock_);
    blocks_[key] = std::move(memory);
}

bool HostMemory::release(const void* key) {
    std::unique_ptr<Arena> freed;
    std::lock_guard guard(lock_);
    auto it = blocks_.find(key);
    if (it == blocks_.end()) return false;
    freed = std::move(it->second);
    blocks_.erase(it);
    return true;
}

std::size_t HostMemory::outstanding() const {
    std::lock_guard guard(lock_);
    return blocks_.size();
}

IDSHEET Sheets::add(const Table* table) {
    std::lock_guard guard(lock_);
    const IDSHEET id = next_++;
    sheets_[id] = table;
    return id;
}

void Sheets::remove(IDSHEET id) {
    std::lock_guard guard(lock_);
    sheets_.erase(id);
}

const Table* Sheets::find(IDSHEET id, bool& known) const {
    std::lock_guard guard(lock_);
    known = id == active;
    auto it = sheets_.find(id);
    if (it == sheets_.end()) return nullptr;
    known = true;
    return it->second;
}

void State::log(int function, std::string detail) {
    std::lock_guard guard(logLock);
    calls.push_back({function, std::move(detail)});
}

std::string lowerCase(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

namespace {

std::atomic<State*> active{nullptr};

template <class X>
using Char = typename Generation<X>::Char;

template <class X>
DWORD typeOf(const X& record) {
    return record.xltype & xltypeMask;
}

template <class X>
std::optional<double> numberOf(const X& record) {
    switch (typeOf(record)) {
    case xltypeNum: return record.val.num;
    case xltypeInt: return static_cast<double>(record.val.w);
    case xltypeBool: return record.val.xbool ? 1.0 : 0.0;
    default: return std::nullopt;
    }
}

template <class X>
std::optional<std::string> textOf(const X* record) {
    if (!record || typeOf(*record) != xltypeStr) return std::nullopt;
    return readText(*record);
}

template <class X>
void setError(X* result, int code) {
    if (!result) return;
    std::memset(result, 0, sizeof *result);
    result->xltype = xltypeErr;
    result->val.err = static_cast<decltype(result->val.err)>(code);
}

template <class X>
void setBool(X* result, bool value) {
    if (!result) return;
    std::memset(result, 0, sizeof *result);
    result->xltype = xltypeBool;
    result->val.xbool = value ? 1 : 0;
}

template <class X>
void setNumber(X* result, double value) {
    if (!result) return;
    std::memset(result, 0, sizeof *result);
    result->xltype = xltypeNum;
    result->val.num = value;
}

// Hands a result built in `memory` to the add-in; it belongs to the host until xlFree.
template <class X>
void handOver(State& state, X& built, std::unique_ptr<Arena> memory, X* result) {
    if (const void* key = memoryOf(built)) {
        built.xltype |= xlbitXLFree;
        state.memory.keep(key, std::move(memory));
    }
    if (result) *result = built;
}

// --- Coercion --------------------------------------------------------------------------------

std::optional<double> toNumber(const Value& value) {
    if (const double* number = std::get_if<double>(&value)) return *number;
    if (const bool* flag = std::get_if<bool>(&value)) return *flag ? 1.0 : 0.0;
    if (const std::string* text = std::get_if<std::string>(&value)) return parseNumber(*text);
    if (std::holds_alternative<Blank>(value)) return 0.0;
    return std::nullopt;
}

std::optional<bool> toBool(const Value& value) {
    if (const bool* flag = std::get_if<bool>(&value)) return *flag;
    if (const double* number = std::get_if<double>(&value)) return *number != 0;
    if (const std::string* text = std::get_if<std::string>(&value)) return parseBool(*text);
    if (std::holds_alternative<Blank>(value)) return false;
    return std::nullopt;
}

std::optional<std::string> toText(const Value& value) {
    if (const std::string* text = std::get_if<std::string>(&value)) return *text;
    if (const double* number = std::get_if<double>(&value)) return numberText(*number);
    if (const bool* flag = std::get_if<bool>(&value)) return std::string(*flag ? "TRUE" : "FALSE");
    if (std::holds_alternative<Blank>(value)) return std::string();
    return std::nullopt;
}

// An integer record: the number rounded half away from zero, within the generation's integer.
template <class X>
std::optional<decltype(X{}.val.w)> toInteger(const Value& value) {
    using W = decltype(X{}.val.w);
    const std::optional<double> number = toNumber(value);
    if (!number || !std::isfinite(*number)) return std::nullopt;
    const double rounded = std::round(*number);
    if (rounded < static_cast<double>(std::numeric_limits<W>::min()) ||
        rounded > static_cast<double>(std::numeric_limits<W>::max()))
        return std::nullopt;
    return static_cast<W>(rounded);
}

DWORD valueType(const Value& value) {
    if (std::holds_alternative<double>(value)) return xltypeNum;
    if (std::holds_alternative<std::string>(value)) return xltypeStr;
    if (std::holds_alternative<bool>(value)) return xltypeBool;
    if (std::holds_alternative<ErrorValue>(value)) return xltypeErr;
    return xltypeNil;
}

// Builds `value` converted to the first type of `mask` it can take (number, integer, boolean,
// text, array, in that order); its own type when the mask holds it or is empty.
template <class X>
bool convertValue(const Value& value, DWORD mask, X& built, Arena& memory) {
    if (mask == 0 || (mask & valueType(value))) {
        makeValue(built, value, memory);
        return true;
    }
    std::memset(&built, 0, sizeof built);
    if (mask & xltypeNum) {
        if (auto number = toNumber(value)) {
            built.xltype = xltypeNum;
            built.val.num = *number;
            return true;
        }
    }
    if (mask & xltypeInt) {
        if (auto integer = toInteger<X>(value)) {
            built.xltype = xltypeInt;
            built.val.w = *integer;
            return true;
        }
    }
    if (mask & xltypeBool) {
        if (auto flag = toBool(value)) {
            built.xltype = xltypeBool;
            built.val.xbool = *flag ? 1 : 0;
            return true;
        }
    }
    if (mask & xltypeStr) {
        if (auto text = toText(value)) {
            makeValue(built, Value(*text), memory);
            return true;
        }
    }
    if (mask & xltypeMulti) {
        Table table(1, 1);
        table.at(0, 0) = value;
        makeArray(built, table, memory);
        return true;
    }
    return false;
}

// The cells a reference covers, blank where the sheet holds nothing.
template <class X>
std::optional<Table> dereference(const State& state, const X& record) {
    IDSHEET sheet = Sheets::active;
    long firstRow = 0, lastRow = 0, firstColumn = 0, lastColumn = 0;
    if (typeOf(record) == xltypeSRef) {
        if (record.val.sref.count != 1) return std::nullopt;
        const auto& area = record.val.sref.ref;
        firstRow = area.rwFirst, lastRow = area.rwLast, firstColumn = area.colFirst, lastColumn = area.colLast;
    } else {
        const auto* areas = record.val.mref.lpmref;
        if (!areas || areas->count != 1) return std::nullopt;
        const auto& area = areas->reftbl[0];
        firstRow = area.rwFirst, lastRow = area.rwLast, firstColumn = area.colFirst, lastColumn = area.colLast;
        sheet = record.val.mref.idSheet;
    }
    if (firstRow < 0 || firstColumn < 0 || lastRow < firstRow || lastColumn < firstColumn) return std::nullopt;
    // At most a sheet of the newer generation, and no more cells than the host will build at once.
    constexpr long cellLimit = 1L << 24;
    if (lastRow >= xlMaxRows12 || lastColumn >= xlMaxColumns12 ||
        (lastRow - firstRow + 1) * (lastColumn - firstColumn + 1) > cellLimit)
        return std::nullopt;
    bool known = false;
    const Table* cells = state.sheets.find(sheet, known);
    if (!known) return std::nullopt;
    Table table(static_cast<std::size_t>(lastRow - firstRow + 1), static_cast<std::size_t>(lastColumn - firstColumn + 1));
    if (cells) {
        for (std::size_t r = 0; r < table.rows; ++r) {
            for (std::size_t c = 0; c < table.columns; ++c) {
                const std::size_t row = static_cast<std::size_t>(firstRow) + r;
                const std::size_t column = static_cast<std::size_t>(firstColumn) + c;
                if (row < cells->rows && column < cells->columns) table.at(r, c) = cells->at(row, column);
            }
        }
    }
    return table;
}

template <class X>
int coerce(State& state, const X& source, DWORD mask, X* result) {
    auto memory = std::make_unique<Arena>();
    X built{};
    std::optional<Table> table;
    const DWORD type = typeOf(source);
    if (type == xltypeRef || type == xltypeSRef) {
        table = dereference(state, source);
        if (!table) return xlretInvXloper;
    } else if (type == xltypeMulti) {
        const auto rows = static_cast<long>(source.val.array.rows);
        const auto columns = static_cast<long>(source.val.array.columns);
        if (rows <= 0 || columns <= 0 || !source.val.array.lparray) return xlretInvXloper;
        table = Table(static_cast<std::size_t>(rows), static_cast<std::size_t>(columns));
        for (std::size_t i = 0; i < table->cells.size(); ++i) {
            std::optional<Value> element = readValue(source.val.array.lparray[i]);
            if (!element) return xlretInvXloper;
            table->cells[i] = *element;
        }
    }
    if (table) {
        const bool single = table->rows == 1 && table->columns == 1;
        if ((mask == 0 && !single) || (mask & xltypeMulti)) {
            makeArray(built, *table, *memory);
        } else if (!convertValue(table->cells[0], mask, built, *memory)) {
            // A range in a single value's place: its top-left cell, as a spreadsheet takes it.
            return xlretFailed;
        }
    } else {
        std::optional<Value> value = readValue(source);
        if (!value) return xlretInvXloper;
        if (type == xltypeMissing && mask == 0) value = Blank{};
        if (!convertValue(*value, mask, built, *memory)) return xlretFailed;
    }
    handOver(state, built, std::move(memory), result);
    return xlretSuccess;
}

// --- The answers -----------------------------------------------------------------------------

template <class X>
int answerCall(State& state, int xlfn, int count, X* operands[], X* result) {
    const std::size_t limit = (std::is_same_v<X, xloper> && state.options.version < 12) ? xlMaxOperandsOld : xlMaxOperands;
    if (count < 0 || static_cast<std::size_t>(count) > limit) return xlretInvCount;
    if (count > 0 && !operands) return xlretInvXloper;
    for (int i = 0; i < count; ++i) {
        if (!operands[i]) return xlretInvXloper;
    }
    const auto text = [&](int i) { return i < count ? textOf(operands[i]).value_or("") : std::string(); };
    if (const auto fault = state.options.failing.find(xlfn); fault != state.options.failing.end()) return fault->second;

    switch (xlfn) {
    case xlFree:
        for (int i = 0; i < count; ++i) {
            if (const void* key = memoryOf(*operands[i]); key && !state.memory.release(key)) ++state.strayFrees;
        }
        return xlretSuccess;

    case xlCoerce: {
        if (count < 1 || count > 2) return xlretInvCount;
        DWORD mask = 0;
        if (count == 2) {
            const std::optional<double> wanted = numberOf(*operands[1]);
            if (!wanted || *wanted < 0 || *wanted > 0xFFFF) return xlretInvXloper;
            mask = static_cast<DWORD>(*wanted) & xltypeMask;
        }
        return coerce(state, *operands[0], mask, result);
    }

    case xlSheetId:
        if (result) {
            std::memset(result, 0, sizeof *result);
            result->xltype = xltypeRef;
            result->val.mref.idSheet = Sheets::active;
        }
        state.log(xlfn, "");
        return xlretSuccess;

    case xlGetHwnd:
        if (result) {
            std::memset(result, 0, sizeof *result);
            result->xltype = xltypeInt;
            // The older records carry only the low 16 bits of the handle.
            if constexpr (std::is_same_v<X, xloper>)
                result->val.w = static_cast<std::int16_t>(mainWindowHandle & 0xFFFF);
            else
                result->val.w = static_cast<std::int32_t>(mainWindowHandle);
        }
        state.log(xlfn, "");
        return xlretSuccess;

    case xlGetName: {
        state.log(xlfn, "");
        if (state.options.libraryPathFails) return xlretFailed;
        auto memory = std::make_unique<Arena>();
        X built{};
        makeValue(built, Value(state.options.libraryPath.empty() ? state.addinPath : state.options.libraryPath), *memory);
        handOver(state, built, std::move(memory), result);
        return xlretSuccess;
    }

    case xlfGetWorkspace: {
        const std::optional<double> what = count >= 1 ? numberOf(*operands[0]) : std::nullopt;
        state.log(xlfn, what ? numberText(*what) : "");
        if (!what || *what != 2) {
            setError(result, xlerrValue);
            return xlretSuccess;
        }
        if (state.options.versionNotText) {
            setError(result, xlerrNA);
            return xlretSuccess;
        }
        std::string version = std::to_string(state.options.version) + ".0";
        if (state.options.uncoercibleVersion) version += " (stand-in)";
        if (state.options.versionText) version = *state.options.versionText;
        auto memory = std::make_unique<Arena>();
        X built{};
        makeValue(built, Value(version), *memory);
        handOver(state, built, std::move(memory), result);
        return xlretSuccess;
    }

    case xlfRegister: {
        if (!state.onMainThread()) return xlretNotThreadSafe;
        Registration r;
        r.module = text(0);
        r.procedure = text(1);
        r.typeText = text(2);
        r.name = text(3);
        r.argumentText = text(4);
        if (count > 5) r.macroType = static_cast<int>(numberOf(*operands[5]).value_or(0));
        r.category = text(6);
        r.shortcut = text(7);
        r.helpTopic = text(8);
        r.description = text(9);
        for (int i = 10; i < count; ++i) r.argumentHelp.push_back(text(i));
        state.log(xlfn, r.name);
        if (state.options.rejectRegistration) {
            setError(result, xlerrValue);
            return *state.options.rejectRegistration;
        }
        auto entry = std::make_shared<Entry>();
        std::optional<Signature> signature = parseTypeText(r.typeText, state.options.version);
        void* address = r.procedure.empty() ? nullptr : librarySymbol(state.addin, r.procedure.c_str());
        if (count < 3 || !signature || !address) {
            // What a spreadsheet answers for a procedure it cannot find or a type text it does not know.
            setError(result, xlerrValue);
            return xlretSuccess;
        }
        const std::string key = lowerCase(r.name.empty() ? r.procedure : r.name);
        std::unique_lock guard(state.registry);
        r.id = state.nextId++;
        entry->registration = r;
        entry->address = address;
        entry->signature = std::move(*signature);
#ifndef _WIN32
        const auto codeType = [](const std::string& code) -> ffi_type* {
            if (code == "B") return &ffi_type_double;
            if (code == "J") return &ffi_type_sint32;
            if (code == "A") return &ffi_type_sint16;
            if (code == ">") return &ffi_type_void;
            return &ffi_type_pointer;
        };
        for (const std::string& code : entry->signature.arguments) entry->types.push_back(codeType(code));
        if (ffi_prep_cif(&entry->cif, FFI_DEFAULT_ABI, static_cast<unsigned>(entry->types.size()),
                         codeType(entry->signature.result), entry->types.data()) != FFI_OK) {
            setError(result, xlerrValue);
            return xlretSuccess;
        }
#endif
        // Registering a name again replaces the earlier registration.
        std::erase_if(state.registrations, [&](const Registration& old) {
            return lowerCase(old.name.empty() ? old.procedure : old.name) == key;
        });
        state.registrations.push_back(r);
        state.entries[key] = entry;
        state.names.insert(lowerCase(r.name));
        setNumber(result, r.id);
        return xlretSuccess;
    }

    case xlfUnregister: {
        if (!state.onMainThread()) return xlretNotThreadSafe;
        const double id = count >= 1 ? numberOf(*operands[0]).value_or(-1.0) : -1.0;
        state.log(xlfn, numberText(id));
        std::unique_lock guard(state.registry);
        auto it = std::find_if(state.registrations.begin(), state.registrations.end(),
                               [&](const Registration& r) { return r.id == id; });
        if (it == state.registrations.end()) {
            setBool(result, false);
            return xlretSuccess;
        }
        const std::string key = lowerCase(it->name.empty() ? it->procedure : it->name);
        state.unregistrations.push_back(it->name);
        state.entries.erase(key);
        state.registrations.erase(it);
        setBool(result, true);
        return xlretSuccess;
    }

    case xlfSetName: {
        if (!state.onMainThread()) return xlretNotThreadSafe;
        if (count < 1 || typeOf(*operands[0]) != xltypeStr) return xlretInvXloper;
        const std::string name = text(0);
        state.log(xlfn, count == 1 ? name : name + " defined");
        std::unique_lock guard(state.registry);
        if (count == 1) {
            setBool(result, state.names.erase(lowerCase(name)) > 0);
        } else {
            state.names.insert(lowerCase(name));
            setBool(result, true);
        }
        return xlretSuccess;
    }

    case xlcMessage: {
        if (!state.onMainThread()) return xlretNotThreadSafe;
        const bool show = count >= 1 && numberOf(*operands[0]).value_or(0) != 0;
        const std::string message = show ? text(1) : std::string();
        state.log(xlfn, message);
        {
            std::lock_guard guard(state.logLock);
            state.statusBar = message;
        }
        setBool(result, true);
        return xlretSuccess;
    }

    default: return xlretInvXlfn;
    }
}

}  // namespace

State* activeState() { return active.load(); }
void setActiveState(State* state) { active.store(state); }

int answer(State& state, int xlfn, int count, xloper* operands[], xloper* result) {
    return answerCall(state, xlfn, count, operands, result);
}

int answer(State& state, int xlfn, int count, xloper12* operands[], xloper12* result) {
    return answerCall(state, xlfn, count, operands, result);
}

}  // namespace host::detail

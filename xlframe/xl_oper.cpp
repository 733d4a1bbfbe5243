#include "xlframe/xl_oper.hpp"

#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "xlframe/exceptions.hpp"

namespace xlframe {
namespace {

// Until the host's version is known the newer records are assumed.
std::atomic<const impl::IXlfOperShared*> operations{nullptr};

std::string compose(const char* base, const char* errorId, const char* operation) {
    std::string message = base;
    if (errorId != nullptr) message.append(", ").append(errorId);
    if (operation != nullptr) message.append(" ").append(operation);
    return message;
}

[[noreturn]] void failComposed(const char* file, int line, const char* base, const char* errorId,
                               const char* operation) {
    failWith<XlfGeneralException>(file, line, compose(base, errorId, operation));
}

// Missing, nil and error operands cannot become a value.
void refuseEmpty(DWORD type, const char* errorId, const char* operation) {
    if (type == xltypeMissing) failComposed(__FILE__, __LINE__, "parameter is missing", errorId, operation);
    if (type == xltypeNil) failComposed(__FILE__, __LINE__, "parameter is nil", errorId, operation);
    if (type == xltypeErr) failComposed(__FILE__, __LINE__, "parameter is error", errorId, operation);
}

// The number of a number record: a double at offset 0 in both generations.
double numberOf(LPXLFOPER record) {
    double value;
    std::memcpy(&value, record, sizeof value);
    return value;
}

LPXLFOPER newRecord() {
    auto record = static_cast<LPXLFOPER>(TempMemory::GetMemory(32));
    XlfOper::Ops().setXltype(record, xltypeMissing);
    return record;
}

// Truncates toward zero, saturating at the int limits (NaN gives 0).
int truncateToInt(double value) {
    if (std::isnan(value)) return 0;
    if (value >= static_cast<double>(std::numeric_limits<int>::max())) return std::numeric_limits<int>::max();
    if (value <= static_cast<double>(std::numeric_limits<int>::min())) return std::numeric_limits<int>::min();
    return static_cast<int>(value);
}

// Asks the host for `type` and hands the converted record to `read`; the host's record is given
// back afterwards, also when reading fails.
template <class Read>
auto coerced(LPXLFOPER record, DWORD type, const char* errorId, const char* operation, Read read) {
    const impl::IXlfOperShared& ops = XlfOper::Ops();
    XlfOper result;
    ThrowOnError(ops.coerce(record, type, result.get()), errorId, operation);
    struct GiveBack {
        const XlfOper& result;
        ~GiveBack() { result.FreeHostMemory(); }
    } giveBack{result};
    if (result.type() != type) failComposed(__FILE__, __LINE__, "command failed", errorId, operation);
    return read(result);
}

}  // namespace

void ThrowOnError(int status, const char* errorId, const char* operation) {
    if (status == xlretSuccess) return;
    if (status & xlretUncalced) {
        writeDiagnostic(__FILE__, __LINE__, "uncalculated");
        throw XlfExceptionUncalculated();
    }
    if (status & xlretAbort) {
        writeDiagnostic(__FILE__, __LINE__, "abort");
        throw XlfExceptionAbort();
    }
    if (status & xlretStackOvfl) {
        writeDiagnostic(__FILE__, __LINE__, "stack overflow");
        throw XlfExceptionStackOverflow();
    }
    const char* base = nullptr;
    if (status & xlretInvXloper)
        base = "invalid OPER structure (memory could be exhausted)";
    else if (status & xlretFailed)
        base = "command failed";
    else if (status & xlretInvCount)
        base = "invalid number of arguments";
    else if (status & xlretInvXlfn)
        base = "invalid function number";
    else if (status & xlretInvAsynchronousContext)
        base = "invalid asynch conext";
    else if (status & xlretNotClusterSafe)
        base = "function not cluster safe";
    if (base != nullptr) failComposed(__FILE__, __LINE__, base, errorId, operation);
    writeDiagnostic(__FILE__, __LINE__, "Reached a never get here point");
    throw XlfNeverGetHere();
}

const char* XlfOperTypeName(DWORD type) {
    switch (type) {
        case xltypeNum: return "xltypeNum";
        case xltypeStr: return "xltypeStr";
        case xltypeBool: return "xltypeBool";
        case xltypeRef: return "xltypeRef";
        case xltypeErr: return "xltypeErr";
        case xltypeMulti: return "xltypeMulti";
        case xltypeMissing: return "xltypeMissing";
        case xltypeNil: return "xltypeNil";
        case xltypeSRef: return "xltypeSRef";
        case xltypeInt: return "xltypeInt";
        default: return "unknown";
    }
}

// --- Generic whole-table conversions (each generation overrides them) -------------------------

namespace impl {

CellMatrix IXlfOperShared::toCellMatrix(LPXLFOPER op, bool /*inCallMemory*/) const {
    const DWORD type = xltype(op) & xltypeMask;
    CellMatrix cells(1, 1);
    if (type == xltypeMissing || type == xltypeNil) return cells;
    if (type == xltypeErr) {
        cells(0, 0).SetError(static_cast<std::uint32_t>(errorCode(op)));
        return cells;
    }
    const std::size_t rowCount = rows(op), columnCount = columns(op);
    cells = CellMatrix(rowCount, columnCount);
    for (std::size_t r = 0; r < rowCount; ++r)
        for (std::size_t c = 0; c < columnCount; ++c) {
            LPXLFOPER element = this->element(op, r, c);
            CellValue& cell = cells(r, c);
            const DWORD bits = xltype(element);
            switch (bits & xltypeMask) {
                case xltypeNum: cell = numberOf(element); break;
                case xltypeStr: cell = wideText(element); break;
                case xltypeBool: cell = boolValue(element); break;
                case xltypeInt: cell = intValue(element); break;
                case xltypeErr: cell.SetError(static_cast<std::uint32_t>(errorCode(element))); break;
                case xltypeNil: break;
                default: XLF_FAIL("Unsupported type in CellMatrix conversion");
            }
            if (bits & xlbitXLFree) freeHostMemory(element);
        }
    return cells;
}

void IXlfOperShared::fromCellMatrix(LPXLFOPER op, const CellMatrix& cells) const {
    makeArray(op, cells.Rows(), cells.Columns());
    if ((xltype(op) & xltypeMask) != xltypeMulti) return;
    const std::size_t rowCount = rows(op), columnCount = columns(op);
    for (std::size_t r = 0; r < rowCount; ++r)
        for (std::size_t c = 0; c < columnCount; ++c) {
            LPXLFOPER element = this->element(op, r, c);
            const CellValue& cell = cells(r, c);
            if (cell.IsNumber())
                makeNumber(element, cell.GetNumber());
            else if (cell.IsNarrowString())
                makeString(element, cell.GetString());
            else if (cell.IsWideString())
                makeWideString(element, cell.GetWideString());
            else if (cell.IsBoolean())
                makeBool(element, cell.GetBoolean());
            else if (cell.IsError())
                makeError(element, static_cast<std::uint16_t>(cell.GetErrorCode()));
            else
                makeString(element, std::string());
        }
}

}  // namespace impl

// --- XlfOper ----------------------------------------------------------------------------------

void XlfOper::SetExcel12(bool excel12) {
    operations.store(excel12 ? &impl::operationsXloper12() : &impl::operationsXloper(), std::memory_order_release);
}

bool XlfOper::IsExcel12() { return &Ops() == &impl::operationsXloper12(); }

const impl::IXlfOperShared& XlfOper::Ops() {
    const impl::IXlfOperShared* table = operations.load(std::memory_order_acquire);
    return table != nullptr ? *table : impl::operationsXloper12();
}

XlfOper::XlfOper() : record_(newRecord()) {}

XlfOper::XlfOper(LPXLFOPER record) : record_(record) {}

XlfOper::XlfOper(double value) : record_(newRecord()) { Ops().makeNumber(record_, value); }

XlfOper::XlfOper(bool value) : record_(newRecord()) { Ops().makeBool(record_, value); }

XlfOper::XlfOper(const std::string& text) : record_(newRecord()) { Ops().makeString(record_, text); }

XlfOper::XlfOper(const char* text) : record_(newRecord()) {
    Ops().makeString(record_, text != nullptr ? std::string(text) : std::string());
}

XlfOper::XlfOper(const CellMatrix& cells) : record_(newRecord()) { Ops().fromCellMatrix(record_, cells); }

XlfOper XlfOper::Error(int code) {
    XlfOper record;
    Ops().makeError(record.record_, code);
    return record;
}

DWORD XlfOper::xltype() const { return Ops().xltype(record_); }

double XlfOper::ReadDouble(const char* errorId) const {
    static constexpr const char* operation = "Conversion to Double";
    const impl::IXlfOperShared& ops = Ops();
    const DWORD t = type();
    if (t == xltypeNum) return numberOf(record_);
    if (t == xltypeInt) return ops.intValue(record_);
    if (t == xltypeBool) return ops.boolValue(record_) ? 1.0 : 0.0;
    refuseEmpty(t, errorId, operation);
    return coerced(record_, xltypeNum, errorId, operation, [](const XlfOper& r) { return numberOf(r.get()); });
}

bool XlfOper::ReadBool(const char* errorId) const {
    static constexpr const char* operation = "Conversion to Bool";
    const impl::IXlfOperShared& ops = Ops();
    const DWORD t = type();
    if (t == xltypeBool) return ops.boolValue(record_);
    if (t == xltypeNum) return numberOf(record_) != 0.0;
    if (t == xltypeInt) return ops.intValue(record_) != 0;
    refuseEmpty(t, errorId, operation);
    return coerced(record_, xltypeBool, errorId, operation, [&](const XlfOper& r) { return ops.boolValue(r.get()); });
}

int XlfOper::ReadInt(const char* errorId) const {
    const impl::IXlfOperShared& ops = Ops();
    const DWORD t = type();
    if (t == xltypeInt) return ops.intValue(record_);
    if (t == xltypeNum) return truncateToInt(numberOf(record_));
    if (t == xltypeBool) return ops.boolValue(record_) ? 1 : 0;
    refuseEmpty(t, errorId, "Conversion to int");
    return coerced(record_, xltypeNum, errorId, "Conversion to Int",
                   [](const XlfOper& r) { return truncateToInt(numberOf(r.get())); });
}

std::wstring XlfOper::ReadWideString(const char* errorId) const {
    const impl::IXlfOperShared& ops = Ops();
    if (type() == xltypeStr) return ops.wideText(record_);
    return coerced(record_, xltypeStr, errorId, "Conversion to WString",
                   [&](const XlfOper& r) { return ops.wideText(r.get()); });
}

const char* XlfOper::ReadString(const char* errorId) const {
    const impl::IXlfOperShared& ops = Ops();
    if (type() == xltypeStr) return ops.narrowText(record_);
    // The text is copied into temporary memory before the host's record is given back.
    return coerced(record_, xltypeStr, errorId, "Conversion to String",
                   [&](const XlfOper& r) { return ops.narrowText(r.get()); });
}

CellMatrix XlfOper::ReadCellMatrix(const char* /*errorId*/) const { return Ops().toCellMatrix(record_, false); }
CellMatrix XlfOper::ReadCellMatrixForCall(const char* /*errorId*/) const {
    return Ops().toCellMatrix(record_, TempMemory::InCall());
}

std::optional<NumberTable> XlfOper::ReadNumbersForCall() const {
    if (!TempMemory::InCall()) return std::nullopt;
    const impl::IXlfOperShared& ops = Ops();
    const DWORD bits = ops.xltype(record_);
    if (bits == xltypeNum) {
        auto* value = static_cast<double*>(TempMemory::GetUninitialisedMemory(sizeof(double)));
        *value = numberOf(record_);
        return NumberTable{value, 1, 1};
    }
    if ((bits & xltypeMask) != xltypeMulti) return std::nullopt;
    const std::size_t rowCount = ops.rows(record_), columnCount = ops.columns(record_);
    if (rowCount == 0 || columnCount == 0 || rowCount > std::numeric_limits<std::size_t>::max() / columnCount ||
        rowCount * columnCount > std::numeric_limits<std::size_t>::max() / sizeof(double))
        return std::nullopt;
    auto* values = static_cast<double*>(TempMemory::GetUninitialisedMemory(rowCount * columnCount * sizeof(double)));
    if (!ops.readNumbers(record_, rowCount * columnCount, values)) return std::nullopt;
    return NumberTable{values, rowCount, columnCount};
}

void XlfOper::FreeHostMemory() const {
    if (xltype() & xlbitXLFree) Ops().freeHostMemory(record_);
}

LPXLFOPER XlfOper::ReturnValue() const {
    const impl::IXlfOperShared& ops = Ops();
    const DWORD bits = ops.xltype(record_);
    if ((bits & xlbitXLFree) == 0) return record_;
    LPXLFOPER copy = ops.copyToTempMemory(record_);
    ops.setXltype(record_, bits & ~xlbitXLFree);
    ops.freeHostMemory(record_);
    return copy;
}

}  // namespace xlframe

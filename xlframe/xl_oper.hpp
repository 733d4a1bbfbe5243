// Host operand records of either generation, their conversion to and from cell tables, and the
// per-thread temporary memory every record handed to the host lives in.
//
//   xlframe::TempMemory::EntryGuard guard;              // first thing in every entry point
//   xlframe::CellMatrix scores = xlframe::XlfOper(arg).ReadCellMatrix("scores");
//   return xlframe::XlfOper(result).ReturnValue();      // valid until the next outermost entry
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "xlframe/cell_matrix.hpp"
#include "xlframe/xlcall.hpp"

namespace xlframe {

// A record of the process's generation: an xloper before host version 12, else an xloper12.
struct xlfOper;
typedef xlfOper* LPXLFOPER;

// Throws the exception the host's return code stands for (first set bit in the order uncalculated,
// abort, stack overflow, 8, 32, 4, 2, 256, 512); returns on 0; XlfNeverGetHere for other bits.
// The message is "<base>[, <errorId>][ <operation>]".
void ThrowOnError(int status, const char* errorId = nullptr, const char* operation = nullptr);

// "xltypeNum", ... for the type codes, "unknown" for any other.
const char* XlfOperTypeName(DWORD type);

// A range whose every cell is a number: its numbers row-major, rows x columns of them.
struct NumberTable {
    const double* values;
    std::size_t rows;
    std::size_t columns;
};

namespace impl {

// The operations on one record; implemented once per generation and chosen once per process.
class IXlfOperShared {
public:
    virtual ~IXlfOperShared() = default;
    virtual DWORD xltype(LPXLFOPER op) const = 0;
    virtual void setXltype(LPXLFOPER op, DWORD type) const = 0;
    virtual void makeNumber(LPXLFOPER op, double value) const = 0;
    virtual int intValue(LPXLFOPER op) const = 0;
    virtual void makeInt(LPXLFOPER op, int value) const = 0;
    virtual bool boolValue(LPXLFOPER op) const = 0;
    virtual void makeBool(LPXLFOPER op, bool value) const = 0;
    virtual int errorCode(LPXLFOPER op) const = 0;
    virtual void makeError(LPXLFOPER op, int code) const = 0;
    virtual std::size_t rows(LPXLFOPER op) const = 0;
    virtual void makeArray(LPXLFOPER op, std::size_t rows, std::size_t columns) const = 0;
    virtual std::size_t columns(LPXLFOPER op) const = 0;
    virtual LPXLFOPER element(LPXLFOPER op, std::size_t row, std::size_t column) const = 0;
    virtual const char* narrowText(LPXLFOPER op) const = 0;  // zero-terminated, in temporary memory
    virtual void makeString(LPXLFOPER op, const std::string& text) const = 0;
    virtual std::wstring wideText(LPXLFOPER op) const = 0;
    virtual void makeWideString(LPXLFOPER op, const std::wstring& text) const = 0;
    virtual void readReference(LPXLFOPER op, int& rowBegin, int& rowEnd, int& columnBegin, int& columnEnd,
                               IDSHEET& sheet) const = 0;
    virtual void makeReference(LPXLFOPER op, int rowBegin, int rowEnd, int columnBegin, int columnEnd,
                               IDSHEET sheet) const = 0;
    virtual int coerce(LPXLFOPER op, DWORD type, LPXLFOPER result) const = 0;
    virtual void freeHostMemory(LPXLFOPER op) const = 0;
    virtual LPXLFOPER copyToTempMemory(LPXLFOPER op) const = 0;
    virtual LPXLFOPER copyToHeap(LPXLFOPER op) const = 0;
    virtual void freeHeapCopy(LPXLFOPER op) const = 0;

    // Whole-table conversions, overridden per generation so that a large array costs no call per
    // cell; the defaults go through the operations above. With `inCallMemory`, an array's cells
    // may be made in the calling thread's temporary memory (see XlfOper::ReadCellMatrixForCall).
    virtual CellMatrix toCellMatrix(LPXLFOPER op, bool inCallMemory) const;
    // The elements of an array record (count of them) as numbers into `out`; false when one is
    // not a number. Only per generation: a call per cell would undo what it is for.
    virtual bool readNumbers(LPXLFOPER op, std::size_t count, double* out) const = 0;
    virtual void fromCellMatrix(LPXLFOPER op, const CellMatrix& cells) const;
};

// The table of each generation (the process uses the one XlfOper::SetExcel12 chose).
const IXlfOperShared& operationsXloper();
const IXlfOperShared& operationsXloper12();

}  // namespace impl

class XlfOper {
public:
    // Chooses the record generation for the whole process (host version 12 or later: xloper12).
    // Called once while the add-in opens, before any worksheet call.
    static void SetExcel12(bool excel12);
    static bool IsExcel12();
    static const impl::IXlfOperShared& Ops();

    XlfOper();                          // a new record of type missing
    explicit XlfOper(LPXLFOPER record);  // wraps the host's record, copies nothing
    explicit XlfOper(double value);
    explicit XlfOper(bool value);
    explicit XlfOper(const std::string& text);
    explicit XlfOper(const char* text);
    explicit XlfOper(const CellMatrix& cells);
    static XlfOper Error(int code = xlerrValue);

    LPXLFOPER get() const noexcept { return record_; }
    operator LPXLFOPER() const noexcept { return record_; }

    DWORD xltype() const;  // all bits
    DWORD type() const { return xltype() & xltypeMask; }
    bool IsMissing() const { return type() == xltypeMissing; }
    bool IsNil() const { return type() == xltypeNil; }
    bool IsNumber() const { return type() == xltypeNum; }
    bool IsString() const { return type() == xltypeStr; }
    bool IsBool() const { return type() == xltypeBool; }
    bool IsError() const { return type() == xltypeErr; }
    bool IsMulti() const { return type() == xltypeMulti; }
    bool IsInt() const { return type() == xltypeInt; }

    double ReadDouble(const char* errorId = nullptr) const;
    bool ReadBool(const char* errorId = nullptr) const;
    int ReadInt(const char* errorId = nullptr) const;
    std::wstring ReadWideString(const char* errorId = nullptr) const;
    const char* ReadString(const char* errorId = nullptr) const;
    CellMatrix ReadCellMatrix(const char* errorId = nullptr) const;
    // The same for an entry point's argument: inside a worksheet call (an EntryGuard open on the
    // thread) an array's cells are made in the call's temporary memory, which is mapped once and
    // reused from call to call, so the table must not outlive the call. Outside one, as above.
    CellMatrix ReadCellMatrixForCall(const char* errorId = nullptr) const;
    // For an argument that a function needs only as numbers: an array (or a single number) whose
    // every cell is a number, read in one pass into the call's temporary memory, with no table of
    // cells in between. Nothing (the caller reads the cells instead) for any other record, or
    // outside a worksheet call.
    std::optional<NumberTable> ReadNumbersForCall() const;

    // Gives back through the host a record that carries the host-owned bit (no-op otherwise).
    void FreeHostMemory() const;
    // The record to hand to the host: a host-owned record is copied into temporary memory first.
    LPXLFOPER ReturnValue() const;

private:
    LPXLFOPER record_;
};

// Per-thread block allocator for everything handed to the host.
class TempMemory {
public:
    // Zero-filled; throws std::bad_alloc when out of memory.
    static void* GetMemory(std::size_t bytes);
    // The same without the zero fill, for callers that write every byte themselves.
    static void* GetUninitialisedMemory(std::size_t bytes);

    // Constructed at the start of every exported worksheet entry point: the outermost one on a
    // thread releases what the previous call handed to the host.
    class EntryGuard {
    public:
        EntryGuard();
        ~EntryGuard();
        EntryGuard(const EntryGuard&) = delete;
        EntryGuard& operator=(const EntryGuard&) = delete;
    };

    // True while an EntryGuard is open on the calling thread.
    static bool InCall();

    // Releases every block of every thread's arena (the add-in closes).
    static void FreeAll();
    // Bytes in the calling thread's blocks (0 before its first need); for tests of growth.
    static std::size_t ArenaSize();
};

}  // namespace xlframe

// The spreadsheet host's C interface: operand records, type codes, error and return codes,
// function numbers and the callback signatures. Layouts are those of 64-bit Windows; fixed-width
// types keep them the same on Linux, where the stand-in host uses them.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define XLCALLCONV __stdcall
#define XLL_EXPORT extern "C" __declspec(dllexport)
#else
#define XLCALLCONV
#define XLL_EXPORT extern "C" __attribute__((visibility("default")))
#endif

extern "C" {

typedef std::uint8_t BYTE;
typedef std::uint16_t WORD;
#if defined(_WIN32)
typedef unsigned long DWORD;  // the type <windows.h> declares (32 bits there), so that both can be included
#else
typedef std::uint32_t DWORD;
#endif
static_assert(sizeof(DWORD) == 4);
typedef std::int32_t BOOL;
typedef char16_t XCHAR;
typedef std::int32_t RW;
typedef std::int32_t COL;
typedef std::uintptr_t IDSHEET;

struct xlref {
    WORD rwFirst;
    WORD rwLast;
    BYTE colFirst;
    BYTE colLast;
};

struct xlmref {
    WORD count;
    xlref reftbl[1];
};

struct xlref12 {
    RW rwFirst;
    RW rwLast;
    COL colFirst;
    COL colLast;
};

struct xlmref12 {
    WORD count;
    xlref12 reftbl[1];
};

struct xloper {
    union {
        double num;
        char* str;  // byte 0 is the length
        WORD xbool;
        WORD err;
        std::int16_t w;
        struct {
            WORD count;
            xlref ref;
        } sref;
        struct {
            xlmref* lpmref;
            IDSHEET idSheet;
        } mref;
        struct {
            xloper* lparray;
            WORD rows;
            WORD columns;
        } array;
        struct {
            union {
                std::int16_t level;
                std::int16_t tbctrl;
                IDSHEET idSheet;
            } valflow;
            WORD rw;
            BYTE col;
            BYTE xlflow;
        } flow;
        struct {
            union {
                BYTE* lpbData;
                void* hdata;
            } h;
            std::int32_t cbData;
        } bigdata;
    } val;
    WORD xltype;
};

struct xloper12 {
    union {
        double num;
        XCHAR* str;  // element 0 is the length
        BOOL xbool;
        std::int32_t err;
        std::int32_t w;
        struct {
            WORD count;
            xlref12 ref;
        } sref;
        struct {
            xlmref12* lpmref;
            IDSHEET idSheet;
        } mref;
        struct {
            xloper12* lparray;
            RW rows;
            COL columns;
        } array;
        struct {
            union {
                std::int32_t level;
                std::int32_t tbctrl;
                IDSHEET idSheet;
            } valflow;
            RW rw;
            COL col;
            BYTE xlflow;
        } flow;
        struct {
            union {
                BYTE* lpbData;
                void* hdata;
            } h;
            std::int32_t cbData;
        } bigdata;
    } val;
    DWORD xltype;
};

typedef xloper XLOPER;
typedef xloper12 XLOPER12;
typedef xloper* LPXLOPER;
typedef xloper12* LPXLOPER12;

// Callbacks. x64 has one calling convention, so XLCALLCONV only documents the host's.
typedef int(XLCALLCONV* EXCEL4PROC)(int xlfn, xloper* result, int count, ...);
typedef int(XLCALLCONV* EXCEL4VPROC)(int xlfn, xloper* result, int count, xloper* operands[]);
typedef int(XLCALLCONV* MDCALLBACK12PROC)(int xlfn, int count, xloper12* operands[], xloper12* result);
typedef int(XLCALLCONV* XLCALLVERPROC)();

}  // extern "C"

static_assert(sizeof(xlref) == 6 && offsetof(xlref, colFirst) == 4);
static_assert(sizeof(xlmref) == 8 && offsetof(xlmref, reftbl) == 2);
static_assert(sizeof(xlref12) == 16);
static_assert(sizeof(xlmref12) == 20 && offsetof(xlmref12, reftbl) == 4);
static_assert(sizeof(xloper) == 24 && alignof(xloper) == 8 && offsetof(xloper, xltype) == 16);
static_assert(sizeof(xloper12) == 32 && alignof(xloper12) == 8 && offsetof(xloper12, xltype) == 24);
static_assert(offsetof(xloper, val.sref.ref) == 2 && offsetof(xloper, val.mref.idSheet) == 8);
static_assert(offsetof(xloper, val.array.rows) == 8 && offsetof(xloper, val.array.columns) == 10);
static_assert(offsetof(xloper, val.flow.rw) == 8 && offsetof(xloper, val.flow.col) == 10 &&
              offsetof(xloper, val.flow.xlflow) == 11);
static_assert(offsetof(xloper, val.bigdata.cbData) == 8);
static_assert(offsetof(xloper12, val.sref.ref) == 4 && offsetof(xloper12, val.mref.idSheet) == 8);
static_assert(offsetof(xloper12, val.array.rows) == 8 && offsetof(xloper12, val.array.columns) == 12);
static_assert(offsetof(xloper12, val.flow.rw) == 8 && offsetof(xloper12, val.flow.col) == 12 &&
              offsetof(xloper12, val.flow.xlflow) == 16);
static_assert(offsetof(xloper12, val.bigdata.cbData) == 8);

// Type codes; only the low 12 bits are the type.
constexpr DWORD xltypeNum = 0x0001;
constexpr DWORD xltypeStr = 0x0002;
constexpr DWORD xltypeBool = 0x0004;
constexpr DWORD xltypeRef = 0x0008;
constexpr DWORD xltypeErr = 0x0010;
constexpr DWORD xltypeFlow = 0x0020;
constexpr DWORD xltypeMulti = 0x0040;
constexpr DWORD xltypeMissing = 0x0080;
constexpr DWORD xltypeNil = 0x0100;
constexpr DWORD xltypeSRef = 0x0400;
constexpr DWORD xltypeInt = 0x0800;
constexpr DWORD xltypeBigData = xltypeStr | xltypeInt;
constexpr DWORD xltypeMask = 0x0FFF;

// Memory bits.
constexpr DWORD xlbitXLFree = 0x1000;   // the host allocated it: hand it back with xlFree
constexpr DWORD xlbitDLLFree = 0x4000;  // the add-in allocated it: the host calls xlAutoFree12

// Error values.
constexpr int xlerrNull = 0;
constexpr int xlerrDiv0 = 7;
constexpr int xlerrValue = 15;
constexpr int xlerrRef = 23;
constexpr int xlerrName = 29;
constexpr int xlerrNum = 36;
constexpr int xlerrNA = 42;
constexpr int xlerrGettingData = 43;

// Return codes of a host call (a bit set).
constexpr int xlretSuccess = 0;
constexpr int xlretAbort = 1;
constexpr int xlretInvXlfn = 2;
constexpr int xlretInvCount = 4;
constexpr int xlretInvXloper = 8;
constexpr int xlretStackOvfl = 16;
constexpr int xlretFailed = 32;
constexpr int xlretUncalced = 64;
constexpr int xlretNotThreadSafe = 128;
constexpr int xlretInvAsynchronousContext = 256;
constexpr int xlretNotClusterSafe = 512;

// Function-number bits.
constexpr int xlCommand = 0x8000;
constexpr int xlSpecial = 0x4000;
constexpr int xlIntl = 0x2000;
constexpr int xlPrompt = 0x1000;

// Special functions.
constexpr int xlFree = 0 | xlSpecial;
constexpr int xlStack = 1 | xlSpecial;
constexpr int xlCoerce = 2 | xlSpecial;
constexpr int xlSet = 3 | xlSpecial;
constexpr int xlSheetId = 4 | xlSpecial;
constexpr int xlSheetNm = 5 | xlSpecial;
constexpr int xlAbort = 6 | xlSpecial;
constexpr int xlGetInst = 7 | xlSpecial;
constexpr int xlGetHwnd = 8 | xlSpecial;
constexpr int xlGetName = 9 | xlSpecial;
constexpr int xlEnableXLMsgs = 10 | xlSpecial;
constexpr int xlDisableXLMsgs = 11 | xlSpecial;

// Worksheet and command functions.
constexpr int xlfSetName = 88;
constexpr int xlfCaller = 89;
constexpr int xlfRegister = 149;
constexpr int xlfGetWorkspace = 186;
constexpr int xlfUnregister = 201;
constexpr int xlcMessage = 122 | xlCommand;

// Limits of one call and of the two record generations.
constexpr int xlMaxOperands = 255;
constexpr int xlMaxOperandsOld = 30;
constexpr int xlMaxRowsOld = 65536;
constexpr int xlMaxColumnsOld = 256;
constexpr int xlMaxRows12 = 1048576;
constexpr int xlMaxColumns12 = 16384;

static_assert(xlFree == 16384 && xlCoerce == 16386 && xlSheetId == 16388 && xlGetHwnd == 16392 &&
              xlGetName == 16393 && xlcMessage == 0x807A);

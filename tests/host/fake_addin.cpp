// A small add-in for testing the stand-in host without the real one: it finds the callbacks as an
// add-in does, registers a few functions (one for every argument and return code), echoes
// arguments and unregisters on removal.
#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "xlframe/xlcall.hpp"

namespace {

EXCEL4VPROC excel4v = nullptr;
MDCALLBACK12PROC mdCallBack12 = nullptr;
int hostVersion = 0;
bool removing = false;
std::vector<std::pair<std::string, double>> registered;
std::atomic<long> liveCopies{0};
std::atomic<int> inFlight{0};
std::atomic<int> mostInFlight{0};

int call(int xlfn, xloper* result, std::vector<xloper*> operands) {
    return excel4v(xlfn, result, static_cast<int>(operands.size()), operands.data());
}
int call(int xlfn, xloper12* result, std::vector<xloper12*> operands) {
    return mdCallBack12 ? mdCallBack12(xlfn, static_cast<int>(operands.size()), operands.data(), result) : xlretFailed;
}

template <class X>
using Char = std::conditional_t<std::is_same_v<X, xloper>, char, XCHAR>;

// Texts here are ASCII, so both generations take them unit by unit.
template <class X>
X text(const std::string& s, std::vector<std::basic_string<Char<X>>>& keep) {
    std::basic_string<Char<X>> t(1, static_cast<Char<X>>(s.size()));
    for (char c : s) t += static_cast<Char<X>>(c);
    keep.push_back(t);
    X x{};
    x.xltype = xltypeStr;
    x.val.str = keep.back().data();
    return x;
}

template <class X>
std::string readText(const X& x) {
    std::string s;
    if ((x.xltype & xltypeMask) != xltypeStr || !x.val.str) return s;
    const std::size_t n = static_cast<std::make_unsigned_t<Char<X>>>(x.val.str[0]);
    for (std::size_t i = 1; i <= n; ++i) s += static_cast<char>(x.val.str[i]);
    return s;
}

template <class X>
X number(double value) {
    X x{};
    x.xltype = xltypeNum;
    x.val.num = value;
    return x;
}

struct Function {
    const char* procedure;    // on the newer hosts
    const char* procedure11;  // on the older hosts; null: the same
    const char* name;
    const char* type12;  // null: not registered on the newer hosts
    const char* type11;  // null: not registered on the older hosts
    const char* arguments;
    int minimumVersion;
};

const Function functions[] = {
    {"fakeEcho", "fakeEcho11", "Fake.echo", "QQ$", "PP", "value", 0},
    {"fakeDescribe", nullptr, "Fake.describe", "QBJACC%KK%PQRU$", nullptr, "b, j, a, c, cw, k, kw, p, q, r, u", 0},
    {"fakeDescribe11", nullptr, "Fake.describe11", nullptr, "PBJACKPR", "b, j, a, c, k, p, r", 0},
    {"fakeReturnB", nullptr, "Fake.returnB", "BB$", "BB", "x", 0},
    {"fakeReturnJ", nullptr, "Fake.returnJ", "JJ$", "JJ", "x", 0},
    {"fakeReturnA", nullptr, "Fake.returnA", "AA$", "AA", "x", 0},
    {"fakeReturnC", nullptr, "Fake.returnC", "CC$", "CC", "x", 0},
    {"fakeReturnCW", nullptr, "Fake.returnCW", "C%C%$", nullptr, "x", 0},
    {"fakeReturnK", nullptr, "Fake.returnK", "KK$", "KK", "x", 0},
    {"fakeReturnKW", nullptr, "Fake.returnKW", "K%K%$", nullptr, "x", 0},
    {"fakeReturnNull", nullptr, "Fake.returnNull", "Q$", "P", "", 0},
    {"fakeReturnRef", nullptr, "Fake.returnRef", "UU$", "RR", "x", 0},
    {"fakeCoerce", "fakeCoerce11", "Fake.coerce", "QQB$", "PPB", "value, type", 0},
    {"fakeSerial", "fakeSerial11", "Fake.serial", "QQ", "PP", "value", 0},
    {"fakeVolatile", "fakeVolatile11", "Fake.volatile", "Q!", "P!", "", 0},
    {"fakeAsync", nullptr, "Fake.async", ">QX", nullptr, "value", 14},
    {"fakeVoid", nullptr, "Fake.void", ">Q", nullptr, "value", 14},
    {"fakeMissing", nullptr, "Fake.missing", "QQ$", "PP", "value", 0},
    {"fakeEcho", nullptr, "Fake.badType", "QZ$", "PZ", "value", 0},
};

template <class X>
int registerAll(const std::string& module) {
    for (const Function& f : functions) {
        const char* type = hostVersion >= 12 ? f.type12 : f.type11;
        if (!type || hostVersion < f.minimumVersion) continue;
        std::vector<std::basic_string<Char<X>>> keep;
        keep.reserve(16);
        std::vector<X> operands = {text<X>(module, keep), text<X>(hostVersion < 12 && f.procedure11 ? f.procedure11 : f.procedure, keep), text<X>(type, keep),
                                   text<X>(f.name, keep), text<X>(f.arguments, keep), number<X>(1),
                                   text<X>("Fake", keep), text<X>("", keep), text<X>("", keep),
                                   text<X>(std::string(" ") + f.name + " ", keep), text<X>(" First argument. ", keep)};
        std::vector<X*> pointers;
        for (X& x : operands) pointers.push_back(&x);
        X id{};
        if (call(xlfRegister, &id, pointers) != xlretSuccess) return 0;
        if ((id.xltype & xltypeMask) == xltypeNum) registered.emplace_back(f.name, id.val.num);
    }
    return 1;
}

template <class X>
void unregisterAll() {
    for (const auto& [name, id] : registered) {
        std::vector<std::basic_string<Char<X>>> keep;
        X nameRecord = text<X>(name, keep);
        X idRecord = number<X>(id);
        call(xlfSetName, static_cast<X*>(nullptr), {&nameRecord});
        call(xlfUnregister, static_cast<X*>(nullptr), {&idRecord});
    }
    registered.clear();
}

template <class X>
std::string libraryPath() {
    X name{};
    if (call(xlGetName, &name, {}) != xlretSuccess) return {};
    std::string path = readText(name);
    call(xlFree, static_cast<X*>(nullptr), {&name});
    return path;
}

// Deep copies handed back to the host with the add-in's memory bit.
template <class X>
X* copyOf(const X& source) {
    X* copy = new X(source);
    ++liveCopies;
    copy->xltype &= ~(xlbitXLFree | xlbitDLLFree);
    const DWORD type = source.xltype & xltypeMask;
    if (type == xltypeStr && source.val.str) {
        const std::size_t n = static_cast<std::make_unsigned_t<Char<X>>>(source.val.str[0]) + 1;
        copy->val.str = new Char<X>[n];
        std::memcpy(copy->val.str, source.val.str, n * sizeof(Char<X>));
    } else if (type == xltypeMulti) {
        const std::size_t n = static_cast<std::size_t>(source.val.array.rows) * static_cast<std::size_t>(source.val.array.columns);
        copy->val.array.lparray = new X[n];
        for (std::size_t i = 0; i < n; ++i) {
            X* element = copyOf(source.val.array.lparray[i]);
            copy->val.array.lparray[i] = *element;
            delete element;
            --liveCopies;
        }
    } else if (type != xltypeNum && type != xltypeBool && type != xltypeErr && type != xltypeInt && type != xltypeNil) {
        copy->xltype = xltypeMissing;
    }
    copy->xltype |= xlbitDLLFree;
    return copy;
}

template <class X>
void freeContents(X& x) {
    const DWORD type = x.xltype & xltypeMask;
    if (type == xltypeStr) delete[] x.val.str;
    if (type == xltypeMulti) {
        const std::size_t n = static_cast<std::size_t>(x.val.array.rows) * static_cast<std::size_t>(x.val.array.columns);
        for (std::size_t i = 0; i < n; ++i) freeContents(x.val.array.lparray[i]);
        delete[] x.val.array.lparray;
    }
}

template <class X>
void freeCopy(X* x) {
    if (!x) return;
    freeContents(*x);
    delete x;
    --liveCopies;
}

template <class X>
X* rowOfTexts(const std::vector<std::string>& texts) {
    X row{};
    row.xltype = xltypeMulti;
    std::vector<X> elements(texts.size());
    std::vector<std::basic_string<Char<X>>> keep;
    keep.reserve(texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) elements[i] = text<X>(texts[i], keep);
    row.val.array.lparray = elements.data();
    row.val.array.rows = 1;
    row.val.array.columns = static_cast<decltype(row.val.array.columns)>(texts.size());
    return copyOf(row);
}

std::string show(double d) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g", d);
    return buffer;
}

template <class X>
std::string describeRecord(const X* x) {
    if (!x) return "null";
    switch (x->xltype & xltypeMask) {
    case xltypeNum: return "num " + show(x->val.num);
    case xltypeStr: return "str " + readText(*x);
    case xltypeBool: return x->val.xbool ? "bool TRUE" : "bool FALSE";
    case xltypeErr: return "err " + std::to_string(x->val.err);
    case xltypeMissing: return "missing";
    case xltypeNil: return "nil";
    case xltypeInt: return "int " + std::to_string(x->val.w);
    case xltypeMulti: {
        std::string s = "multi " + std::to_string(x->val.array.rows) + "x" + std::to_string(x->val.array.columns);
        const std::size_t n = static_cast<std::size_t>(x->val.array.rows) * static_cast<std::size_t>(x->val.array.columns);
        for (std::size_t i = 0; i < n && i < 4; ++i) {
            s += i ? ',' : ':';
            s += describeRecord(&x->val.array.lparray[i]);
        }
        return s;
    }
    case xltypeRef: {
        const auto* m = x->val.mref.lpmref;
        if (!m) return "ref null";
        const auto& a = m->reftbl[0];
        return "ref " + std::to_string(m->count) + " " + std::to_string(a.rwFirst) + ":" + std::to_string(a.rwLast) + "," +
               std::to_string(a.colFirst) + ":" + std::to_string(a.colLast);
    }
    case xltypeSRef: return "sref";
    default: return "type " + std::to_string(x->xltype);
    }
}

template <class Count>
std::string describeArray(const void* p) {
    const auto* counts = static_cast<const Count*>(p);
    std::string s = "fp " + std::to_string(counts[0]) + "x" + std::to_string(counts[1]);
    const double* numbers = static_cast<const double*>(p) + 1;
    for (long i = 0; i < static_cast<long>(counts[0]) * counts[1] && i < 4; ++i) {
        s += i ? ',' : ':';
        s += show(numbers[i]);
    }
    return s;
}

std::string describeWide(const XCHAR* s) {
    std::string out = "wstr ";
    for (; *s; ++s) out += *s < 128 ? static_cast<char>(*s) : '?';
    return out;
}

template <class Count>
void* doubled(const void* p) {
    thread_local std::vector<double> block;
    const auto* counts = static_cast<const Count*>(p);
    const std::size_t n = static_cast<std::size_t>(counts[0]) * static_cast<std::size_t>(counts[1]);
    block.assign(n + 1, 0.0);
    std::memcpy(block.data(), p, sizeof(double));
    for (std::size_t i = 0; i < n; ++i) block[i + 1] = 2 * static_cast<const double*>(p)[i + 1];
    return block.data();
}

}  // namespace

XLL_EXPORT int xlAutoOpen() {
    void* library = ::dlopen("XLCALL32.DLL", RTLD_NOW);
    if (!library) return 0;
    excel4v = reinterpret_cast<EXCEL4VPROC>(::dlsym(library, "Excel4v"));
    mdCallBack12 = reinterpret_cast<MDCALLBACK12PROC>(::dlsym(::dlopen(nullptr, RTLD_NOW), "MdCallBack12"));
    if (!excel4v) return 0;
    xloper two{};
    two.xltype = xltypeInt;
    two.val.w = 2;
    xloper version{};
    if (call(xlfGetWorkspace, &version, {&two}) != xlretSuccess) return 0;
    xloper type{};
    type.xltype = xltypeInt;
    type.val.w = xltypeInt;
    xloper integer{};
    hostVersion = call(xlCoerce, &integer, {&version, &type}) == xlretSuccess ? integer.val.w : 10;
    call(xlFree, static_cast<xloper*>(nullptr), {&version});
    const std::string module = hostVersion >= 12 ? libraryPath<xloper12>() : libraryPath<xloper>();
    if (module.empty()) return 0;
    return hostVersion >= 12 ? registerAll<xloper12>(module) : registerAll<xloper>(module);
}

XLL_EXPORT int xlAutoClose() {
    if (removing) hostVersion >= 12 ? unregisterAll<xloper12>() : unregisterAll<xloper>();
    return 1;
}

XLL_EXPORT int xlAutoRemove() {
    removing = true;
    return 1;
}

XLL_EXPORT void xlAutoFree12(xloper12* x) { freeCopy(x); }
XLL_EXPORT void xlAutoFree(xloper* x) { freeCopy(x); }
XLL_EXPORT long fakeLiveCopies() { return liveCopies.load(); }
XLL_EXPORT int fakeMostInFlight() { return mostInFlight.load(); }
XLL_EXPORT int fakeHostVersion() { return hostVersion; }

XLL_EXPORT xloper12* fakeEcho(xloper12* x) { return copyOf(*x); }
XLL_EXPORT xloper* fakeEcho11(xloper* x) { return copyOf(*x); }

XLL_EXPORT xloper12* fakeDescribe(double b, int j, short a, const char* c, const XCHAR* cw, const void* k, const void* kw,
                                  xloper* p, xloper12* q, xloper* r, xloper12* u) {
    return rowOfTexts<xloper12>({"num " + show(b), "int " + std::to_string(j), a ? "bool TRUE" : "bool FALSE",
                                 std::string("str ") + c, describeWide(cw), describeArray<WORD>(k),
                                 describeArray<std::int32_t>(kw), describeRecord(p), describeRecord(q), describeRecord(r),
                                 describeRecord(u)});
}

XLL_EXPORT xloper* fakeDescribe11(double b, int j, short a, const char* c, const void* k, xloper* p, xloper* r) {
    return rowOfTexts<xloper>({"num " + show(b), "int " + std::to_string(j), a ? "bool TRUE" : "bool FALSE",
                               std::string("str ") + c, describeArray<WORD>(k), describeRecord(p), describeRecord(r)});
}

XLL_EXPORT double fakeReturnB(double x) { return x * 2; }
XLL_EXPORT int fakeReturnJ(int x) { return x + 1; }
XLL_EXPORT short fakeReturnA(short x) { return x ? 0 : 1; }
XLL_EXPORT const char* fakeReturnC(const char* x) {
    thread_local std::string s;
    s.assign(1, '<');
    s.append(x);
    s.push_back('>');
    return s.c_str();
}
XLL_EXPORT const XCHAR* fakeReturnCW(const XCHAR* x) {
    thread_local std::u16string s;
    s.assign(1, u'<');
    s.append(x);
    s.push_back(u'>');
    return s.c_str();
}
XLL_EXPORT void* fakeReturnK(const void* x) { return doubled<WORD>(x); }
XLL_EXPORT void* fakeReturnKW(const void* x) { return doubled<std::int32_t>(x); }
XLL_EXPORT xloper12* fakeReturnNull() { return nullptr; }
XLL_EXPORT xloper12* fakeReturnRef(xloper12* x) { return x; }

template <class X>
X* coerced(X* x, double type) {
    thread_local X result;
    X wanted{};
    wanted.xltype = xltypeInt;
    wanted.val.w = static_cast<int>(type);
    const int status = call(xlCoerce, &result, {x, &wanted});
    if (status != xlretSuccess) {
        result = number<X>(-status);
    }
    // Handed back as the host gave it, memory bit and all: the host releases it after reading.
    return &result;
}

XLL_EXPORT xloper12* fakeCoerce(xloper12* x, double type) { return coerced(x, type); }
XLL_EXPORT xloper* fakeCoerce11(xloper* x, double type) { return coerced(x, type); }

template <class X>
X* serial(X* x) {
    const int now = ++inFlight;
    int most = mostInFlight.load();
    while (now > most && !mostInFlight.compare_exchange_weak(most, now)) {
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    --inFlight;
    return copyOf(*x);
}

XLL_EXPORT xloper12* fakeSerial(xloper12* x) { return serial(x); }
XLL_EXPORT xloper* fakeSerial11(xloper* x) { return serial(x); }

template <class X>
X* seven() {
    thread_local X result;
    result = number<X>(7);
    return &result;
}
XLL_EXPORT xloper12* fakeVolatile() { return seven<xloper12>(); }
XLL_EXPORT xloper* fakeVolatile11() { return seven<xloper>(); }

XLL_EXPORT void fakeAsync(xloper12*, xloper12*) {}
XLL_EXPORT void fakeVoid(xloper12*) {}

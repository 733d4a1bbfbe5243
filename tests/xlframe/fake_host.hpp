// A small in-process host for the operand tests: answers coercion, release and the active sheet
// for both record generations, counts what it is asked, and builds raw records by hand.
#pragma once

#include <cstdlib>
#include <cstring>
#include <deque>
#include <iostream>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "xlframe/exceptions.hpp"
#include "xlframe/xl_callbacks.hpp"
#include "xlframe/xl_oper.hpp"

namespace xlframe::testing {

template <class Record>
constexpr bool isXloper12 = std::is_same_v<Record, xloper12>;

template <class Record>
using CharOf = std::conditional_t<isXloper12<Record>, XCHAR, char>;

struct FakeHostState {
    std::mutex mutex;
    int calls = 0;
    int frees = 0;
    int lastFunction = -1;
    int forcedStatus = 0;  // returned by every call when non-zero
    IDSHEET activeSheet = 77;
    std::set<const void*> live;  // texts the host handed out and not yet got back
};

inline FakeHostState& fakeHost() {
    static FakeHostState state;
    return state;
}

template <class Record>
CharOf<Record>* hostText(const std::basic_string<CharOf<Record>>& text) {
    using Char = CharOf<Record>;
    auto* buffer = new Char[text.size() + 2]();
    buffer[0] = static_cast<Char>(text.size());
    std::memcpy(buffer + 1, text.data(), text.size() * sizeof(Char));
    fakeHost().live.insert(buffer);
    return buffer;
}

template <class Record>
std::basic_string<CharOf<Record>> textOf(const Record& record) {
    using Char = CharOf<Record>;
    using Unsigned = std::make_unsigned_t<Char>;
    return std::basic_string<Char>(record.val.str + 1, static_cast<Unsigned>(record.val.str[0]));
}

template <class Record>
std::basic_string<CharOf<Record>> hostForm(const std::string& ascii) {
    return std::basic_string<CharOf<Record>>(ascii.begin(), ascii.end());
}

template <class Record>
std::string asciiOf(const std::basic_string<CharOf<Record>>& text) {
    std::string out;
    for (auto c : text) out.push_back(static_cast<char>(c));
    return out;
}

// The host's coercion rules, as far as the tests need them.
template <class Record>
int coerce(const Record& from, DWORD wanted, Record* to) {
    const Record* source = &from;
    if ((source->xltype & xltypeMask) == xltypeMulti) source = source->val.array.lparray;  // top left
    const DWORD type = source->xltype & xltypeMask;
    double number = 0;
    bool haveNumber = false;
    std::string text;
    bool haveText = false;
    switch (type) {
        case xltypeNum: number = source->val.num, haveNumber = true; break;
        case xltypeInt: number = source->val.w, haveNumber = true; break;
        case xltypeBool:
            number = source->val.xbool != 0, haveNumber = true;
            text = source->val.xbool ? "TRUE" : "FALSE", haveText = true;
            break;
        case xltypeStr: text = asciiOf<Record>(textOf(*source)), haveText = true; break;
        case xltypeMissing:
        case xltypeNil: text = "", haveText = true; break;
        default: return xlretFailed;
    }
    if (wanted == xltypeNum) {
        if (!haveNumber && haveText) {
            char* end = nullptr;
            number = std::strtod(text.c_str(), &end);
            if (text.empty() || *end != '\0') return xlretFailed;
        }
        to->val.num = number;
        to->xltype = xltypeNum;
        return xlretSuccess;
    }
    if (wanted == xltypeBool) {
        if (type == xltypeStr) {
            if (text != "TRUE" && text != "FALSE") return xlretFailed;
            number = text == "TRUE";
        } else if (!haveNumber) {
            return xlretFailed;
        }
        to->val.xbool = number != 0;
        to->xltype = xltypeBool;
        return xlretSuccess;
    }
    if (wanted == xltypeStr) {
        if (type == xltypeNum || type == xltypeInt) {
            std::ostringstream out;
            out << number;
            text = out.str();
        }
        to->val.str = hostText<Record>(hostForm<Record>(text));
        to->xltype = xltypeStr;  // the frame marks it as the host's
        return xlretSuccess;
    }
    return xlretFailed;
}

template <class Record>
int answer(int xlfn, int count, Record** operands, Record* result) {
    FakeHostState& host = fakeHost();
    std::lock_guard<std::mutex> hold(host.mutex);
    ++host.calls;
    host.lastFunction = xlfn;
    if (host.forcedStatus != 0) return host.forcedStatus;
    switch (xlfn) {
        case xlCoerce:
            if (count != 2 || (operands[1]->xltype & xltypeMask) != xltypeInt) return xlretInvXloper;
            return coerce(*operands[0], static_cast<DWORD>(operands[1]->val.w), result);
        case xlFree:
            for (int i = 0; i < count; ++i) {
                ++host.frees;
                Record* freed = operands[i];
                if ((freed->xltype & xltypeMask) == xltypeStr && host.live.erase(freed->val.str) == 1)
                    delete[] freed->val.str;
            }
            return xlretSuccess;
        case xlSheetId:
            result->val.mref.lpmref = nullptr;
            result->val.mref.idSheet = host.activeSheet;
            result->xltype = xltypeRef;
            return xlretSuccess;
        default:
            return xlretInvXlfn;
    }
}

inline int XLCALLCONV fakeExcel4v(int xlfn, xloper* result, int count, xloper* operands[]) {
    return answer<xloper>(xlfn, count, operands, result);
}

inline int XLCALLCONV fakeMdCallBack12(int xlfn, int count, xloper12* operands[], xloper12* result) {
    return answer<xloper12>(xlfn, count, operands, result);
}

// Installs the fake host and the record generation for one test; counts start at zero.
template <class Record>
class FakeHostScope {
public:
    FakeHostScope() {
        FakeHostState& host = fakeHost();
        host.calls = host.frees = 0;
        host.forcedStatus = 0;
        host.lastFunction = -1;
        callbacks::setExcel4v(&fakeExcel4v);
        callbacks::setMdCallBack12(&fakeMdCallBack12);
        XlfOper::SetExcel12(isXloper12<Record>);
    }
    ~FakeHostScope() {
        callbacks::setExcel4v(nullptr);
        callbacks::setMdCallBack12(nullptr);
        XlfOper::SetExcel12(true);
    }
    FakeHostScope(const FakeHostScope&) = delete;
    FakeHostScope& operator=(const FakeHostScope&) = delete;
};

// Everything written to the standard error stream while it lives.
class CaptureErr {
public:
    CaptureErr() : old_(std::cerr.rdbuf(buffer_.rdbuf())) {}
    ~CaptureErr() { std::cerr.rdbuf(old_); }
    CaptureErr(const CaptureErr&) = delete;
    CaptureErr& operator=(const CaptureErr&) = delete;
    std::string text() const { return buffer_.str(); }
    // The messages of the diagnostic lines, without "file(line): ".
    std::vector<std::string> messages() const {
        std::vector<std::string> out;
        std::istringstream lines(buffer_.str());
        for (std::string line; std::getline(lines, line);) {
            const auto colon = line.find("): ");
            out.push_back(colon == std::string::npos ? line : line.substr(colon + 3));
        }
        return out;
    }

private:
    std::ostringstream buffer_;
    std::streambuf* old_;
};

// Raw records built field by field, independently of the frame's operations. The records and
// what they point to live as long as the builder.
template <class Record>
class Records {
public:
    using Char = CharOf<Record>;

    Record& number(double value) { return add([&](Record& r) { r.val.num = value, r.xltype = xltypeNum; }); }
    Record& integer(int value) {
        return add([&](Record& r) { r.val.w = static_cast<decltype(r.val.w)>(value), r.xltype = xltypeInt; });
    }
    Record& boolean(bool value) { return add([&](Record& r) { r.val.xbool = value, r.xltype = xltypeBool; }); }
    Record& error(int code) {
        return add([&](Record& r) { r.val.err = static_cast<decltype(r.val.err)>(code), r.xltype = xltypeErr; });
    }
    Record& missing() { return add([](Record& r) { r.xltype = xltypeMissing; }); }
    Record& nil() { return add([](Record& r) { r.xltype = xltypeNil; }); }
    Record& ofType(DWORD type) { return add([&](Record& r) { r.xltype = static_cast<decltype(r.xltype)>(type); }); }
    Record& text(const std::basic_string<Char>& value) {
        std::basic_string<Char>& stored = texts_.emplace_back(1, static_cast<Char>(value.size()));
        stored += value;
        return add([&](Record& r) { r.val.str = stored.data(), r.xltype = xltypeStr; });
    }
    Record& ascii(const std::string& value) { return text(hostForm<Record>(value)); }
    Record& array(int rows, int columns, const std::vector<Record>& elements) {
        std::vector<Record>& stored = arrays_.emplace_back(elements);
        return add([&](Record& r) {
            r.val.array.lparray = stored.data();
            r.val.array.rows = static_cast<decltype(r.val.array.rows)>(rows);
            r.val.array.columns = static_cast<decltype(r.val.array.columns)>(columns);
            r.xltype = xltypeMulti;
        });
    }
    using Area = std::conditional_t<isXloper12<Record>, xlref12, xlref>;
    using Areas = std::conditional_t<isXloper12<Record>, xlmref12, xlmref>;
    static Area area(int rowFirst, int rowLast, int columnFirst, int columnLast) {
        Area a{};
        a.rwFirst = static_cast<decltype(a.rwFirst)>(rowFirst);
        a.rwLast = static_cast<decltype(a.rwLast)>(rowLast);
        a.colFirst = static_cast<decltype(a.colFirst)>(columnFirst);
        a.colLast = static_cast<decltype(a.colLast)>(columnLast);
        return a;
    }
    Record& sref(const Area& a) {
        return add([&](Record& r) { r.val.sref.count = 1, r.val.sref.ref = a, r.xltype = xltypeSRef; });
    }
    Record& ref(const std::vector<Area>& list, IDSHEET sheet) {
        // An area list with room for every area after the first.
        std::vector<unsigned char>& raw = blobs_.emplace_back(sizeof(Areas) + list.size() * sizeof(Area));
        auto* areas = reinterpret_cast<Areas*>(raw.data());
        areas->count = static_cast<WORD>(list.size());
        for (std::size_t i = 0; i < list.size(); ++i) areas->reftbl[i] = list[i];
        return add([&](Record& r) { r.val.mref.lpmref = areas, r.val.mref.idSheet = sheet, r.xltype = xltypeRef; });
    }

private:
    template <class Fill>
    Record& add(Fill fill) {
        Record& r = records_.emplace_back();
        std::memset(&r, 0, sizeof r);
        fill(r);
        return r;
    }
    std::deque<Record> records_;
    std::deque<std::basic_string<Char>> texts_;
    std::deque<std::vector<Record>> arrays_;
    std::deque<std::vector<unsigned char>> blobs_;
};

template <class Record>
LPXLFOPER op(Record& record) {
    return reinterpret_cast<LPXLFOPER>(&record);
}

template <class Record>
Record& raw(LPXLFOPER record) {
    return *reinterpret_cast<Record*>(record);
}

template <class Record>
Record& raw(const XlfOper& record) {
    return *reinterpret_cast<Record*>(record.get());
}

// The message of the XlfGeneralException `run` throws ("no failure" when it throws none).
template <class Run>
std::string failureText(Run run) {
    try {
        run();
    } catch (const XlfGeneralException& error) {
        return error.what();
    }
    return "no failure";
}

}  // namespace xlframe::testing

// What the frame's tests share: the stand-in host answering the frame's callbacks in this process,
// raw records built field by field, and the text of a failure.
#pragma once

#include <cstring>
#include <deque>
#include <string>
#include <type_traits>
#include <vector>

#include "host/standin_host.hpp"
#include "xlframe/exceptions.hpp"
#include "xlframe/xl_excel.hpp"
#include "xlframe/xl_oper.hpp"

namespace xlframe::testing {

// A stand-in host attached to this executable for the scope; open() starts the frame's host
// access on it, which fixes the record generation by the host's version.
class AttachedHost {
public:
    explicit AttachedHost(host::HostOptions options = {}, const std::string& path = "/addins/Tavirune.xll")
        : host_(std::move(options)) {
        XlfExcel::DeleteInstance();
        host_.attach(path);
    }
    ~AttachedHost() {
        XlfExcel::DeleteInstance();
        host_.unload();
    }
    AttachedHost(const AttachedHost&) = delete;
    AttachedHost& operator=(const AttachedHost&) = delete;
    host::StandInHost* operator->() { return &host_; }
    XlfExcel& open() { return XlfExcel::Instance(); }

private:
    host::StandInHost host_;
};

template <class Record>
constexpr bool isXloper12 = std::is_same_v<Record, xloper12>;
template <class Record>
using CharOf = std::conditional_t<isXloper12<Record>, XCHAR, char>;

template <class Record>
std::basic_string<CharOf<Record>> textOf(const Record& record) {
    using Unsigned = std::make_unsigned_t<CharOf<Record>>;
    return std::basic_string<CharOf<Record>>(record.val.str + 1, static_cast<Unsigned>(record.val.str[0]));
}
template <class Record>
std::basic_string<CharOf<Record>> hostForm(const std::string& ascii) {
    return std::basic_string<CharOf<Record>>(ascii.begin(), ascii.end());
}

// Raw records, independent of the frame's operations; they live as long as the builder.
template <class Record>
class Records {
public:
    using Char = CharOf<Record>;
    using Area = std::conditional_t<isXloper12<Record>, xlref12, xlref>;
    using Areas = std::conditional_t<isXloper12<Record>, xlmref12, xlmref>;

    Record& number(double value) { return add([&](Record& r) { r.val.num = value, r.xltype = xltypeNum; }); }
    Record& integer(int value) {
        return add([&](Record& r) { r.val.w = static_cast<decltype(r.val.w)>(value), r.xltype = xltypeInt; });
    }
    Record& boolean(bool value) { return add([&](Record& r) { r.val.xbool = value, r.xltype = xltypeBool; }); }
    Record& error(int code) {
        return add([&](Record& r) { r.val.err = static_cast<decltype(r.val.err)>(code), r.xltype = xltypeErr; });
    }
    Record& ofType(DWORD type) { return add([&](Record& r) { r.xltype = static_cast<decltype(r.xltype)>(type); }); }
    Record& missing() { return ofType(xltypeMissing); }
    Record& nil() { return ofType(xltypeNil); }
    Record& ascii(const std::string& value) {
        std::basic_string<Char>& stored = texts_.emplace_back(1, static_cast<Char>(value.size()));
        stored += hostForm<Record>(value);
        return add([&](Record& r) { r.val.str = stored.data(), r.xltype = xltypeStr; });
    }
    Record& array(int rows, int columns, const std::vector<Record>& elements) {
        std::vector<Record>& stored = arrays_.emplace_back(elements);
        return add([&](Record& r) {
            r.val.array.lparray = stored.data();
            r.val.array.rows = static_cast<decltype(r.val.array.rows)>(rows);
            r.val.array.columns = static_cast<decltype(r.val.array.columns)>(columns);
            r.xltype = xltypeMulti;
        });
    }
    static Area area(int rowFirst, int rowLast, int columnFirst, int columnLast) {
        Area a{};
        a.rwFirst = static_cast<decltype(a.rwFirst)>(rowFirst), a.rwLast = static_cast<decltype(a.rwLast)>(rowLast);
        a.colFirst = static_cast<decltype(a.colFirst)>(columnFirst);
        a.colLast = static_cast<decltype(a.colLast)>(columnLast);
        return a;
    }
    Record& sref(const Area& a) {
        return add([&](Record& r) { r.val.sref.count = 1, r.val.sref.ref = a, r.xltype = xltypeSRef; });
    }
    Record& ref(const std::vector<Area>& list, IDSHEET sheet) {
        std::vector<unsigned char>& bytes = blobs_.emplace_back(sizeof(Areas) + list.size() * sizeof(Area));
        auto* areas = reinterpret_cast<Areas*>(bytes.data());
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

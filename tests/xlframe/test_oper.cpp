// The operand records of both generations against the stand-in host, which answers coercion,
// release and the active sheet as a spreadsheet does.
#include <gtest/gtest.h>

#include <cmath>
#include <typeinfo>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/capture.hpp"
#include "tests/xlframe/frame_testing.hpp"
#include "xlframe/platform.hpp"
#include "xlframe/utf.hpp"
#include "xlframe/xl_callbacks.hpp"

namespace xlframe {
namespace {

using namespace xlframe::testing;
using CaptureErr = tavirune::testing::DiagnosticCapture;

// Host version 16 for the newer records, 11 for the older.
template <class Record>
class OperTest : public ::testing::Test {
protected:
    OperTest() : host_({.version = isXloper12<Record> ? 16 : 11}) { host_.open(); }
    void TearDown() override {
        EXPECT_EQ(host_->hostAllocations(), 0u);  // every record the host handed over came back
        EXPECT_EQ(host_->strayFrees(), 0u);
    }
    AttachedHost host_;
    TempMemory::EntryGuard guard_;
    Records<Record> make_;
};

using Generations = ::testing::Types<xloper, xloper12>;
class GenerationNames {
public:
    template <class T>
    static std::string GetName(int) {
        return isXloper12<T> ? "xloper12" : "xloper";
    }
};
TYPED_TEST_SUITE(OperTest, Generations, GenerationNames);

// --- Reading values ---------------------------------------------------------------------------

// Numbers, integers and flags read directly; texts and arrays through the host's coercion.
TYPED_TEST(OperTest, ValueReadsTruncateSaturateAndCoerce) {
    auto& m = this->make_;
    const int most = std::numeric_limits<int>::max(), least = std::numeric_limits<int>::min();
    struct Case {
        TypeParam& record;
        double number;
        bool flag;
        int integer;
    } cases[] = {
        {m.number(2.9), 2.9, true, 2},        {m.number(-2.9), -2.9, true, -2},    {m.number(0.0), 0.0, false, 0},
        {m.number(1e300), 1e300, true, most}, {m.number(-1e300), -1e300, true, least}, {m.integer(-7), -7.0, true, -7},
        {m.integer(0), 0.0, false, 0},        {m.boolean(true), 1.0, true, 1},     {m.boolean(false), 0.0, false, 0},
        {m.ascii("12.9"), 12.9, true, 12},    {m.array(1, 2, {m.number(4.5), m.number(1)}), 4.5, true, 4},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(XlfOper(op(c.record)).ReadDouble("x"), c.number) << c.number;
        if ((c.record.xltype & xltypeMask) != xltypeStr) {
            EXPECT_EQ(XlfOper(op(c.record)).ReadBool(), c.flag) << c.number;
        }
        EXPECT_EQ(XlfOper(op(c.record)).ReadInt(), c.integer) << c.number;
    }
    EXPECT_TRUE(XlfOper(op(m.ascii("TRUE"))).ReadBool());
    EXPECT_FALSE(XlfOper(op(m.ascii("FALSE"))).ReadBool());
}

TYPED_TEST(OperTest, ValueReadsFailWithComposedTexts) {
    auto& m = this->make_;
    TypeParam& missing = m.missing();
    TypeParam& nil = m.nil();
    TypeParam& error = m.error(xlerrNA);
    TypeParam& word = m.ascii("abc");
    CaptureErr err;
    struct Case {
        std::string got;
        const char* expected;
    } cases[] = {
        {failureText([&] { XlfOper(op(missing)).ReadDouble("pd"); }), "parameter is missing, pd Conversion to Double"},
        {failureText([&] { XlfOper(op(nil)).ReadDouble("pd"); }), "parameter is nil, pd Conversion to Double"},
        {failureText([&] { XlfOper(op(error)).ReadDouble("pd"); }), "parameter is error, pd Conversion to Double"},
        {failureText([&] { XlfOper(op(missing)).ReadDouble(); }), "parameter is missing Conversion to Double"},
        {failureText([&] { XlfOper(op(word)).ReadDouble("pd"); }), "command failed, pd Conversion to Double"},
        {failureText([&] { XlfOper(op(missing)).ReadBool("flag"); }), "parameter is missing, flag Conversion to Bool"},
        {failureText([&] { XlfOper(op(nil)).ReadBool("flag"); }), "parameter is nil, flag Conversion to Bool"},
        {failureText([&] { XlfOper(op(error)).ReadBool("flag"); }), "parameter is error, flag Conversion to Bool"},
        {failureText([&] { XlfOper(op(word)).ReadBool("flag"); }), "command failed, flag Conversion to Bool"},
        {failureText([&] { XlfOper(op(missing)).ReadInt("n"); }), "parameter is missing, n Conversion to int"},
        {failureText([&] { XlfOper(op(nil)).ReadInt("n"); }), "parameter is nil, n Conversion to int"},
        {failureText([&] { XlfOper(op(error)).ReadInt("n"); }), "parameter is error, n Conversion to int"},
        {failureText([&] { XlfOper(op(word)).ReadInt("n"); }), "command failed, n Conversion to Int"},
        {failureText([&] { XlfOper(op(error)).ReadWideString("s"); }), "command failed, s Conversion to WString"},
        {failureText([&] { XlfOper(op(error)).ReadString("s"); }), "command failed, s Conversion to String"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.got, c.expected);
    // Each failure wrote its diagnostic line first.
    ASSERT_EQ(err.messages().size(), std::size(cases));
    EXPECT_EQ(err.messages()[0], cases[0].expected);
    EXPECT_NE(err.text().find("xl_oper.cpp("), std::string::npos);
}

TYPED_TEST(OperTest, TextReadsCoerceOtherTypesAndGiveTheHostsTextBack) {
    auto& m = this->make_;
    struct Case {
        TypeParam& record;
        const char* expected;
    } cases[] = {
        {m.ascii("plain"), "plain"}, {m.ascii(""), ""}, {m.number(2.5), "2.5"}, {m.integer(42), "42"},
        {m.boolean(true), "TRUE"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(std::string(XlfOper(op(c.record)).ReadString()), c.expected);
        EXPECT_EQ(XlfOper(op(c.record)).ReadWideString(), utf8ToUtf16(c.expected));
    }
}

// --- Shapes and elements ----------------------------------------------------------------------

TYPED_TEST(OperTest, RowsAndColumnsPerType) {
    auto& m = this->make_;
    using R = Records<TypeParam>;
    struct Case {
        const char* name;
        TypeParam& record;
        std::size_t rows, columns;
    } cases[] = {
        {"array", m.array(2, 3, std::vector<TypeParam>(6, m.number(1))), 2, 3},
        {"number", m.number(1), 1, 1},
        {"string", m.ascii("a"), 1, 1},
        {"boolean", m.boolean(false), 1, 1},
        {"integer", m.integer(1), 1, 1},
        {"error", m.error(7), 0, 0},
        {"missing", m.missing(), 0, 0},
        {"nil", m.nil(), 0, 0},
        {"sref", m.sref(R::area(3, 7, 1, 2)), 5, 2},
        {"ref", m.ref({R::area(0, 9, 4, 4)}, 5), 10, 1},
    };
    const auto& ops = XlfOper::Ops();
    for (const Case& c : cases) {
        EXPECT_EQ(ops.rows(op(c.record)), c.rows) << c.name;
        EXPECT_EQ(ops.columns(op(c.record)), c.columns) << c.name;
    }
    TypeParam& twoAreas = m.ref({R::area(0, 1, 0, 1), R::area(5, 6, 0, 1)}, 5);
    TypeParam& flow = m.ofType(xltypeFlow);
    CaptureErr err;
    EXPECT_EQ(failureText([&] { ops.rows(op(twoAreas)); }), "No implementation for multiple Refs");
    EXPECT_EQ(failureText([&] { ops.columns(op(twoAreas)); }), "No implementation for multiple Refs");
    EXPECT_EQ(failureText([&] { ops.rows(op(flow)); }), "No implementation on XlfOper rows");
}

// An element of an array is its record; of a reference, a reference to that one cell.
TYPED_TEST(OperTest, ElementAccessPerType) {
    auto& m = this->make_;
    using R = Records<TypeParam>;
    const auto& ops = XlfOper::Ops();
    TypeParam& array = m.array(2, 3, {m.number(0), m.number(1), m.number(2), m.number(3), m.number(4), m.number(5)});
    EXPECT_EQ(&raw<TypeParam>(ops.element(op(array), 1, 2)), array.val.array.lparray + 5);
    for (TypeParam* scalar : {&m.number(1), &m.ascii("a"), &m.boolean(true), &m.integer(2)})
        EXPECT_EQ(ops.element(op(*scalar), 0, 0), op(*scalar));
    TypeParam& sref = m.sref(R::area(3, 7, 1, 2));
    const auto& cell = raw<TypeParam>(ops.element(op(sref), 1, 1)).val.sref.ref;
    EXPECT_EQ(std::vector<int>({cell.rwFirst, cell.rwLast, cell.colFirst, cell.colLast}), std::vector<int>({4, 4, 2, 2}));
    TypeParam& refCell = raw<TypeParam>(ops.element(op(m.ref({R::area(10, 19, 0, 3)}, 5)), 2, 3));
    EXPECT_EQ(refCell.val.mref.idSheet, 5u);
    ASSERT_EQ(refCell.val.mref.lpmref->count, 1);
    const auto& area = refCell.val.mref.lpmref->reftbl[0];
    EXPECT_EQ(std::vector<int>({area.rwFirst, area.rwLast, area.colFirst, area.colLast}), std::vector<int>({12, 12, 3, 3}));
    CaptureErr err;
    EXPECT_EQ(failureText([&] { ops.element(op(m.ref({R::area(0, 1, 0, 1), R::area(5, 6, 0, 1)}, 5)), 0, 0); }),
              "No implementation for multiple Refs");
    for (TypeParam* other : {&m.error(7), &m.missing(), &m.nil(), &m.ofType(xltypeFlow)})
        EXPECT_EQ(failureText([&] { ops.element(op(*other), 0, 0); }), "Wrong type for element by element access");
    // Outside the array is refused rather than read.
    EXPECT_EQ(failureText([&] { ops.element(op(array), 2, 0); }), "Index out of range in element by element access");
    EXPECT_EQ(failureText([&] { ops.element(op(sref), 0, 2); }), "Index out of range in element by element access");
}

TYPED_TEST(OperTest, ReferencesKeepExclusiveEndsAndTakeTheActiveSheetForZero) {
    const auto& ops = XlfOper::Ops();
    XlfOper record;
    ops.makeReference(record, 2, 5, 1, 3, 9);
    TypeParam& r = raw<TypeParam>(record);
    ASSERT_EQ(r.xltype & xltypeMask, xltypeRef);
    const auto& area = r.val.mref.lpmref->reftbl[0];
    EXPECT_EQ(std::vector<int>({area.rwFirst, area.rwLast, area.colFirst, area.colLast}), std::vector<int>({2, 4, 1, 2}));
    int rowBegin = 0, rowEnd = 0, columnBegin = 0, columnEnd = 0;
    IDSHEET sheet = 0;
    ops.readReference(record, rowBegin, rowEnd, columnBegin, columnEnd, sheet);
    EXPECT_EQ(std::vector<int>({rowBegin, rowEnd, columnBegin, columnEnd}), std::vector<int>({2, 5, 1, 3}));
    EXPECT_EQ(sheet, 9u);

    XlfOper active, activeSheet;
    ops.makeReference(active, 0, 1, 0, 1, 0);
    ASSERT_EQ(CallHost(xlSheetId, activeSheet, 0, nullptr), xlretSuccess);
    EXPECT_EQ(raw<TypeParam>(active).val.mref.idSheet, raw<TypeParam>(activeSheet).val.mref.idSheet);
}

// --- Reading tables ---------------------------------------------------------------------------

// Cells of every kind written into an array record, then read back: each element has the
// record type the host expects, and reads back as the cell was (an empty cell as an empty text,
// a non-finite number as #NUM!, texts of any characters whole).
TYPED_TEST(OperTest, CellsRoundTripThroughArrayRecords) {
    struct Case {
        const char* name;
        void (*write)(CellValue&);
        DWORD type;
        void (*check)(const CellValue&);
    };
    const Case cases[] = {
        {"number", [](CellValue& c) { c = 2.5; }, xltypeNum, [](const CellValue& c) { EXPECT_EQ(c.GetNumber(), 2.5); }},
        {"narrow", [](CellValue& c) { c = "abc"; }, xltypeStr, [](const CellValue& c) { EXPECT_EQ(c.GetString(), "abc"); }},
        {"wide", [](CellValue& c) { c = std::wstring(L"wide"); }, xltypeStr,
         [](const CellValue& c) { EXPECT_EQ(c.GetWideString(), L"wide"); }},
        {"umlauts", [](CellValue& c) { c = "\xC3\xA4\xC3\xB6\xC3\xBC\xC3\x9F"; }, xltypeStr,
         [](const CellValue& c) { EXPECT_EQ(c.GetWideString(), L"\u00E4\u00F6\u00FC\u00DF"); }},
        {"beyond the basic plane", [](CellValue& c) { c = std::wstring{0xD83D, 0xDE00, L'!'}; }, xltypeStr,
         [](const CellValue& c) { EXPECT_EQ(c.GetString(), "\xF0\x9F\x98\x80!"); }},
        {"flag", [](CellValue& c) { c = true; }, xltypeBool, [](const CellValue& c) { EXPECT_TRUE(c.GetBoolean()); }},
        {"error", [](CellValue& c) { c.SetError(xlerrDiv0); }, xltypeErr,
         [](const CellValue& c) { EXPECT_EQ(c.GetErrorCode(), static_cast<std::uint32_t>(xlerrDiv0)); }},
        {"empty", [](CellValue&) {}, xltypeStr, [](const CellValue& c) { EXPECT_EQ(c.GetString(), ""); }},
        {"nan", [](CellValue& c) { c = std::numeric_limits<double>::quiet_NaN(); }, xltypeErr,
         [](const CellValue& c) { EXPECT_EQ(c.GetErrorCode(), static_cast<std::uint32_t>(xlerrNum)); }},
        {"infinity", [](CellValue& c) { c = -std::numeric_limits<double>::infinity(); }, xltypeErr,
         [](const CellValue& c) { EXPECT_EQ(c.GetErrorCode(), static_cast<std::uint32_t>(xlerrNum)); }},
    };
    CellMatrix cells(2, std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) cases[i].write(cells(1, i));
    const XlfOper record(cells);
    const TypeParam& r = raw<TypeParam>(record);
    ASSERT_EQ(r.xltype, xltypeMulti);
    ASSERT_EQ(r.val.array.rows, 2);
    ASSERT_EQ(static_cast<std::size_t>(r.val.array.columns), std::size(cases));
    for (const bool forCall : {false, true}) {
        TempMemory::EntryGuard call;
        CellMatrix back = forCall ? record.ReadCellMatrixForCall() : record.ReadCellMatrix();
        if (forCall) back.AppendBelow(CellMatrix(back));  // a grown table leaves the call's memory
        for (std::size_t i = 0; i < std::size(cases); ++i) {
            SCOPED_TRACE(cases[i].name);
#if defined(_WIN32)
            // The older records hold the ANSI code page, which may lack these characters.
            if (!isXloper12<TypeParam> && (i == 3 || i == 4)) continue;
#endif
            EXPECT_EQ(r.val.array.lparray[std::size(cases) + i].xltype, cases[i].type);
            cases[i].check(back(1, i));
            if (forCall) cases[i].check(back(3, i));
        }
    }
    for (TypeParam* one : {&this->make_.missing(), &this->make_.nil(), &this->make_.integer(-4)}) {
        const CellMatrix single = XlfOper(op(*one)).ReadCellMatrix("r");
        ASSERT_EQ(single.Rows() * single.Columns(), 1u);
        EXPECT_EQ(single(0, 0).IsEmpty(), (one->xltype & xltypeMask) != xltypeInt);
    }
    for (auto [rows, columns] : {std::pair{0, 0}, std::pair{0, 3}, std::pair{4, 0}})
        EXPECT_TRUE(XlfOper(CellMatrix(static_cast<std::size_t>(rows), static_cast<std::size_t>(columns))).IsMissing());
}

// Large ranges take the bulk path; every cell must still be the host's.
std::string label(int i) {
    std::string text(1, 't');
    text += std::to_string(i);
    return text;
}

TYPED_TEST(OperTest, ReadCellMatrixOfALargeMixedRange) {
    auto& m = this->make_;
    const int rows = 65535, columns = 5;
    std::vector<TypeParam> elements;
    elements.reserve(static_cast<std::size_t>(rows) * columns);
    for (int i = 0; i < rows * columns; ++i) {
        if (i % 1000 == 7)
            elements.push_back(m.ascii(label(i)));
        else if (i % 1000 == 8)
            elements.push_back(m.nil());
        else
            elements.push_back(m.number(0.5 * i));
    }
    const CellMatrix cells = XlfOper(op(m.array(rows, columns, elements))).ReadCellMatrix();
    ASSERT_EQ(cells.Rows(), static_cast<std::size_t>(rows));
    ASSERT_EQ(cells.Columns(), static_cast<std::size_t>(columns));
    int wrong = 0;
    for (int i = 0; i < rows * columns; ++i) {
        const CellValue& cell = cells(static_cast<std::size_t>(i / columns), static_cast<std::size_t>(i % columns));
        if (i % 1000 == 7)
            wrong += !(cell.IsWideString() && cell.GetString() == label(i));
        else if (i % 1000 == 8)
            wrong += !cell.IsEmpty();
        else
            wrong += !(cell.IsNumber() && cell.GetNumber() == 0.5 * i);
    }
    EXPECT_EQ(wrong, 0);
}

TYPED_TEST(OperTest, ReadCellMatrixRefusesOtherElementTypes) {
    auto& m = this->make_;
    using R = Records<TypeParam>;
    TypeParam& withFlow = m.array(1, 2, {m.number(1), m.ofType(xltypeFlow)});
    TypeParam& sref = m.sref(R::area(0, 1, 0, 0));
    CaptureErr err;
    EXPECT_EQ(failureText([&] { XlfOper(op(withFlow)).ReadCellMatrix(); }), "Unsupported type in CellMatrix conversion");
    EXPECT_EQ(failureText([&] { XlfOper(op(sref)).ReadCellMatrix(); }), "Unsupported type in CellMatrix conversion");
}

TYPED_TEST(OperTest, ReadCellMatrixGivesHostOwnedElementsBack) {
    auto& m = this->make_;
    XlfOper coerced;
    ASSERT_EQ(XlfOper::Ops().coerce(XlfOper(2.5), xltypeStr, coerced), xlretSuccess);
    const TypeParam owned = raw<TypeParam>(coerced);  // the array element now holds the host's text
    ASSERT_NE(owned.xltype & xlbitXLFree, 0u);
    raw<TypeParam>(coerced).xltype = xltypeMissing;
    TypeParam& array = m.array(1, 2, {m.number(1), owned});
    EXPECT_EQ(this->host_->hostAllocations(), 1u);
    const CellMatrix cells = XlfOper(op(array)).ReadCellMatrix();
    EXPECT_EQ(cells(0, 1).GetString(), "2.5");
}

// --- Texts ------------------------------------------------------------------------------------

// Strings cut at the target's limit in the target's units, never inside a character.
TYPED_TEST(OperTest, StringLimitsPerGeneration) {
    const std::string umlaut = "\xC3\xA4";           // two bytes, one unit
    const std::string grin = "\xF0\x9F\x98\x80";     // four bytes, two units
    struct Case {
        const char* name;
        std::optional<std::string> narrow;
        std::optional<std::wstring> wide;
        std::size_t oldLength;  // bytes in an xloper
        const char* oldLine;    // null: not cut
        std::size_t newLength;  // units in an xloper12
        const char* newLine;
    };
    auto repeat = [](const std::string& piece, std::size_t n) {
        std::string out;
        for (std::size_t i = 0; i < n; ++i) out += piece;
        return out;
    };
    const Case cases[] = {
        {"255 bytes", std::string(255, 'a'), {}, 255, nullptr, 255, nullptr},
        {"300 bytes", std::string(300, 'a'), {}, 255, "String truncated to 255 bytes", 300, nullptr},
        {"300 wide", {}, std::wstring(300, L'w'), 255, "String truncated to 255 bytes", 300, nullptr},
        {"umlauts", repeat(umlaut, 200), {}, 254, "String truncated to 255 bytes", 200, nullptr},
        {"32767 bytes", std::string(32767, 'a'), {}, 255, "String truncated to 255 bytes", 32767, nullptr},
        {"40000 bytes", std::string(40000, 'a'), {}, 255, "String truncated to 255 bytes", 32767,
         "String truncated to 32767 bytes"},
        {"32766 wide", {}, std::wstring(32766, L'w'), 255, "String truncated to 255 bytes", 32766, nullptr},
        {"32767 wide", {}, std::wstring(32767, L'w'), 255, "String truncated to 255 bytes", 32766,
         "String truncated to 32766 bytes"},
        {"pair at the narrow limit", std::string(32766, 'a') + grin, {}, 255, "String truncated to 255 bytes", 32766,
         "String truncated to 32767 bytes"},
        {"pair at the byte limit", std::string(253, 'a') + grin, {}, 253, "String truncated to 255 bytes", 255,
         nullptr},
    };
    for (const Case& c : cases) {
#if defined(_WIN32)
        // The byte counts of the older records are those of a UTF-8 code page.
        if (!isXloper12<TypeParam> && c.narrow && xlframe::platform::wideToAnsi(u"\u00e4").size() == 1 &&
            *c.narrow != std::string(c.narrow->size(), 'a'))
            continue;
#endif
        CaptureErr err;
        const XlfOper record = c.narrow ? XlfOper(*c.narrow) : XlfOper();
        if (c.wide) XlfOper::Ops().makeWideString(record, *c.wide);
        const std::size_t length = textOf(raw<TypeParam>(record)).size();
        const char* line = isXloper12<TypeParam> ? c.newLine : c.oldLine;
        EXPECT_EQ(length, isXloper12<TypeParam> ? c.newLength : c.oldLength) << c.name;
        EXPECT_EQ(err.messages(), line ? std::vector<std::string>{line} : std::vector<std::string>{}) << c.name;
        // What is left is whole characters of the original.
        const std::string back = record.ReadString();
        const std::string original = c.narrow ? *c.narrow : utf16ToUtf8(*c.wide);
        EXPECT_EQ(back, original.substr(0, back.size())) << c.name;
        EXPECT_EQ(utf16ToUtf8(utf8ToUtf16(back)), back) << c.name;
    }
}

// --- Truncation of arrays ---------------------------------------------------------------------

TYPED_TEST(OperTest, ArraysAreCutToTheGenerationsLimits) {
    const bool newer = isXloper12<TypeParam>;
    struct Case {
        std::size_t rows, columns;
        std::size_t expectedRows, expectedColumns;
        std::vector<std::string> lines;
    };
    const std::vector<Case> cases =
        newer ? std::vector<Case>{{1048577, 1, 1048576, 1, {"Truncating rows to 1048576"}},
                                  {1, 16385, 1, 16384, {"Truncating columns to 16384"}},
                                  {3, 16384, 3, 16384, {}}}
              : std::vector<Case>{{70000, 1, 65535, 1, {"Truncating rows to 65535"}},
                                  {2, 300, 2, 256, {"Truncating columns to 256"}},
                                  {65535, 1, 65535, 1, {}}};
    for (const Case& c : cases) {
        TempMemory::EntryGuard inner;  // not outermost: nothing is released
        CellMatrix cells(c.rows, c.columns);
        cells(c.rows - 1, c.columns - 1) = 1.0;
        cells(c.expectedRows - 1, c.expectedColumns - 1) = 9.0;
        CaptureErr err;
        const XlfOper record(cells);
        const TypeParam& r = raw<TypeParam>(record);
        ASSERT_EQ(r.xltype, xltypeMulti);
        EXPECT_EQ(static_cast<std::size_t>(r.val.array.rows), c.expectedRows);
        EXPECT_EQ(static_cast<std::size_t>(r.val.array.columns), c.expectedColumns);
        EXPECT_EQ(err.messages(), c.lines);
        const TypeParam& last = r.val.array.lparray[c.expectedRows * c.expectedColumns - 1];
        EXPECT_EQ(last.val.num, 9.0);
        EXPECT_EQ(r.val.array.lparray[0].xltype, c.expectedRows * c.expectedColumns == 1 ? xltypeNum : xltypeStr);
    }
}

// --- Host memory ------------------------------------------------------------------------------

TYPED_TEST(OperTest, ReturnValueCopiesAHostOwnedRecordAndGivesItBack) {
    XlfOper number(2.5);
    XlfOper owned;
    ASSERT_EQ(XlfOper::Ops().coerce(number, xltypeStr, owned), xlretSuccess);
    ASSERT_TRUE(owned.xltype() & xlbitXLFree);
    const auto* hostBuffer = raw<TypeParam>(owned).val.str;
    const LPXLFOPER returned = owned.ReturnValue();
    EXPECT_NE(returned, owned.get());
    EXPECT_EQ(raw<TypeParam>(returned).xltype, xltypeStr);
    EXPECT_NE(raw<TypeParam>(returned).val.str, hostBuffer);
    EXPECT_EQ(textOf(raw<TypeParam>(returned)), hostForm<TypeParam>("2.5"));
    EXPECT_EQ(owned.xltype() & xlbitXLFree, 0u);
    EXPECT_EQ(this->host_->hostAllocations(), 0u);

    // A record of our own is handed over as it is.
    EXPECT_EQ(number.ReturnValue(), number.get());
}

TYPED_TEST(OperTest, CopiesReachIntoNestedArraysStringsAndReferences) {
    auto& m = this->make_;
    using R = Records<TypeParam>;
    TypeParam& inner = m.array(1, 2, {m.ascii("deep"), m.number(2)});
    TypeParam& outer = m.array(2, 2, {m.ascii("top"), inner, m.ref({R::area(1, 2, 3, 4)}, 6), m.boolean(true)});
    outer.xltype = static_cast<decltype(outer.xltype)>(outer.xltype | xlbitXLFree);
    const auto& ops = XlfOper::Ops();
    for (bool heap : {false, true}) {
        const LPXLFOPER copied = heap ? ops.copyToHeap(op(outer)) : ops.copyToTempMemory(op(outer));
        const TypeParam& c = raw<TypeParam>(copied);
        EXPECT_EQ(c.xltype, xltypeMulti);  // the copy is ours
        ASSERT_NE(c.val.array.lparray, outer.val.array.lparray);
        const TypeParam* e = c.val.array.lparray;
        EXPECT_NE(e[0].val.str, outer.val.array.lparray[0].val.str);
        EXPECT_EQ(textOf(e[0]), hostForm<TypeParam>("top"));
        ASSERT_EQ(e[1].xltype, xltypeMulti);
        EXPECT_NE(e[1].val.array.lparray, inner.val.array.lparray);
        EXPECT_NE(e[1].val.array.lparray[0].val.str, inner.val.array.lparray[0].val.str);
        EXPECT_EQ(textOf(e[1].val.array.lparray[0]), hostForm<TypeParam>("deep"));
        EXPECT_EQ(e[1].val.array.lparray[1].val.num, 2.0);
        ASSERT_EQ(e[2].xltype, xltypeRef);
        EXPECT_NE(e[2].val.mref.lpmref, outer.val.array.lparray[2].val.mref.lpmref);
        EXPECT_EQ(e[2].val.mref.lpmref->reftbl[0].colLast, 4);
        EXPECT_EQ(e[2].val.mref.idSheet, 6u);
        EXPECT_EQ(e[3].xltype, xltypeBool);
        if (heap) ops.freeHeapCopy(copied);
    }
}

TYPED_TEST(OperTest, BigDataCannotBeCopied) {
    TypeParam& big = this->make_.ofType(xltypeBigData);
    CaptureErr err;
    EXPECT_EQ(failureText([&] { XlfOper::Ops().copyToTempMemory(op(big)); }), "can't copy a big data oper");
    EXPECT_EQ(failureText([&] { XlfOper::Ops().copyToHeap(op(big)); }), "can't copy a big data oper");
}

TYPED_TEST(OperTest, CallHostMarksResultsThatPointIntoHostMemory) {
    auto& m = this->make_;
    struct Case {
        const char* name;
        TypeParam& source;
        DWORD wanted;
        bool marked;
    } cases[] = {
        {"text", m.number(1), xltypeStr, true},
        {"number", m.ascii("1"), xltypeNum, false},
        {"flag", m.number(1), xltypeBool, false},
    };
    for (const Case& c : cases) {
        XlfOper result;
        ASSERT_EQ(XlfOper::Ops().coerce(op(c.source), c.wanted, result), xlretSuccess) << c.name;
        EXPECT_EQ((result.xltype() & xlbitXLFree) != 0, c.marked) << c.name;
        result.FreeHostMemory();
    }
    XlfOper sheet;
    ASSERT_EQ(CallHost(xlSheetId, sheet, 0, nullptr), xlretSuccess);
    EXPECT_EQ(sheet.xltype(), xltypeRef);  // no area list: nothing of the host's in it

    // A failed call leaves the caller's record alone.
    this->host_->options().failing[xlCoerce] = xlretFailed;
    XlfOper untouched("ours");
    EXPECT_EQ(CallHost(xlCoerce, untouched, 0, nullptr), xlretFailed);
    EXPECT_EQ(untouched.xltype(), xltypeStr);
}

TYPED_TEST(OperTest, CallHostRefusesTooManyOperandsAndReportsMissingCallbacks) {
    const XlfOper missing;
    std::vector<LPXLFOPER> operands(256, missing.get());
    XlfOper result;
    this->host_->options().failing[xlCoerce] = xlretAbort;  // what the host would answer
    EXPECT_EQ(CallHost(xlCoerce, result, 256, operands.data()), xlretInvCount);
    EXPECT_EQ(CallHost(xlCoerce, result, -1, operands.data()), xlretInvCount);
    EXPECT_EQ(CallHost(xlCoerce, result, 1, nullptr), xlretInvCount);
    EXPECT_EQ(CallHost(xlCoerce, result, 255, operands.data()), isXloper12<TypeParam> ? xlretAbort : xlretInvCount);
    if constexpr (!isXloper12<TypeParam>) {
        callbacks::setExcel4v(nullptr);
        EXPECT_EQ(CallHost(xlSheetId, result, 0, nullptr), xlretFailed);
    }
}

// --- Host status, type names ------------------------------------------------------------------

// The first bit set, in the order of the table, decides the exception and its text; the
// identifier and the operation are added to a general failure's text.
TEST(ThrowOnError, FirstSetBitInTableOrderDecidesAndTextsAreComposed) {
    const std::string general = typeid(XlfGeneralException).name(), never = typeid(XlfNeverGetHere).name();
    struct Case {
        int status;
        std::string kind;
        const char* message;
    } cases[] = {
        {0, "", ""},
        {64 | 1 | 8, typeid(XlfExceptionUncalculated).name(), ""},
        {1 | 16 | 8, typeid(XlfExceptionAbort).name(), "abort"},
        {16 | 8, typeid(XlfExceptionStackOverflow).name(), "stack overflow"},
        {8 | 32 | 2, general, "invalid OPER structure (memory could be exhausted)"},
        {32 | 4, general, "command failed"},
        {4 | 2, general, "invalid number of arguments"},
        {2 | 256, general, "invalid function number"},
        {256 | 512, general, "invalid asynch conext"},
        {512, general, "function not cluster safe"},
        {128, never, "Reached a never get here point"},
        {1024, never, "Reached a never get here point"},
    };
    CaptureErr err;
    for (const Case& c : cases) {
        std::string kind, message;
        try {
            ThrowOnError(c.status);
        } catch (const std::exception& e) {
            kind = typeid(e).name(), message = e.what();
        }
        EXPECT_EQ(kind, c.kind) << c.status;
        EXPECT_EQ(message, c.message) << c.status;
    }
    const struct {
        const char* errorId;
        const char* operation;
        const char* expected;
    } texts[] = {
        {"scores", "Conversion to Double", "command failed, scores Conversion to Double"},
        {nullptr, "Set Status Bar", "command failed Set Status Bar"},
        {"scores", nullptr, "command failed, scores"},
        {nullptr, nullptr, "command failed"},
    };
    for (const auto& c : texts) {
        CaptureErr lines;
        EXPECT_EQ(failureText([&] { ThrowOnError(xlretFailed, c.errorId, c.operation); }), c.expected);
        EXPECT_EQ(lines.messages(), std::vector<std::string>{c.expected});
    }
}

}  // namespace
}  // namespace xlframe

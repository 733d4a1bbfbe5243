// The operand records of both generations against the stand-in host, which answers coercion,
// release and the active sheet as a spreadsheet does.
#include <gtest/gtest.h>

#include <typeinfo>
#include <limits>
#include <optional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/capture.hpp"
#include "tests/xlframe/cases.hpp"
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
TYPED_TEST_SUITE(OperTest, Generations);  // 0: xloper, 1: xloper12

// --- Reading values ---------------------------------------------------------------------------

// Numbers, integers and flags read directly; texts and arrays through the host's coercion.
TYPED_TEST(OperTest, ValueReadsTruncateSaturateAndCoerce) {
    auto& m = this->make_;
    const int most = std::numeric_limits<int>::max(), least = std::numeric_limits<int>::min();
    // record, its number, flag (for all but texts) and integer
    const std::tuple<TypeParam&, double, bool, int> cases[] = {
        {m.number(2.9), 2.9, true, 2},        {m.number(-2.9), -2.9, true, -2},    {m.number(0.0), 0.0, false, 0},
        {m.number(1e300), 1e300, true, most}, {m.number(-1e300), -1e300, true, least}, {m.integer(-7), -7.0, true, -7},
        {m.number(2147483646.5), 2147483646.5, true, most - 1}, {m.number(-2147483647.5), -2147483647.5, true, least + 1},
        {m.integer(0), 0.0, false, 0},        {m.boolean(true), 1.0, true, 1},     {m.boolean(false), 0.0, false, 0},
        {m.ascii("12.9"), 12.9, true, 12},    {m.array(1, 2, {m.number(4.5), m.number(1)}), 4.5, true, 4},
    };
    for (const auto& [record, number, flag, integer] : cases) {
        const XlfOper r(op(record));
        EXPECT_EQ(r.ReadDouble("x"), number);
        EXPECT_EQ((record.xltype & xltypeMask) == xltypeStr || r.ReadBool() == flag, true) << number;
        EXPECT_EQ(r.ReadInt(), integer) << number;
    }
    EXPECT_TRUE(XlfOper(op(m.ascii("TRUE"))).ReadBool());
    EXPECT_FALSE(XlfOper(op(m.ascii("FALSE"))).ReadBool());
    for (auto [record, text] : {std::pair{&m.ascii("plain"), "plain"}, {&m.ascii(""), ""}, {&m.number(2.5), "2.5"},
                                {&m.integer(42), "42"}, {&m.boolean(true), "TRUE"}}) {
        EXPECT_EQ(std::string(XlfOper(op(*record)).ReadString()), text);
        EXPECT_EQ(XlfOper(op(*record)).ReadWideString(), utf8ToUtf16(text));
    }
    // In a call a single number reads as a table of one number.
    {
        TempMemory::EntryGuard call;
        const std::optional<NumberTable> single = XlfOper(op(m.number(2.5))).ReadNumbersForCall();
        ASSERT_TRUE(single.has_value());
        EXPECT_EQ(single->rows * 10 + single->columns, 11u);
        EXPECT_EQ(single->values[0], 2.5);
    }
    // A text is as long as its prefix says, whatever follows it in the host's buffer.
    TypeParam& prefixed = m.ascii("abc" + std::string(200, 'x'));
    prefixed.val.str[0] = 3;
    EXPECT_EQ(std::string(XlfOper(op(prefixed)).ReadString()), "abc");
    EXPECT_EQ(XlfOper(op(prefixed)).ReadWideString(), L"abc");
}

TYPED_TEST(OperTest, ValueReadsFailWithComposedTexts) {
    auto& m = this->make_;
    CaptureErr err;
    const std::pair<TypeParam*, std::string> causes[] = {{&m.missing(), "parameter is missing"}, {&m.nil(), "parameter is nil"},
                                                         {&m.error(xlerrNA), "parameter is error"}, {&m.ascii("abc"), "command failed"}};
    for (const auto& [record, cause] : causes) {
        const XlfOper r(op(*record));
        EXPECT_EQ(failureText([&] { r.ReadDouble("pd"); }), cause + ", pd Conversion to Double");
        EXPECT_EQ(failureText([&] { r.ReadBool("flag"); }), cause + ", flag Conversion to Bool");
        EXPECT_EQ(failureText([&] { r.ReadInt("n"); }), cause + ", n Conversion to " + (record == causes[3].first ? "Int" : "int"));
    }
    EXPECT_EQ(failureText([&] { XlfOper(op(*causes[0].first)).ReadDouble(); }), "parameter is missing Conversion to Double");
    EXPECT_EQ(failureText([&] { XlfOper(op(*causes[2].first)).ReadString("s"); }), "command failed, s Conversion to String");
    EXPECT_EQ(failureText([&] { XlfOper(op(*causes[2].first)).ReadWideString("s"); }), "command failed, s Conversion to WString");
    // Each failure wrote its diagnostic line first.
    ASSERT_EQ(err.messages().size(), 15u);
    EXPECT_EQ(err.messages()[0], "parameter is missing, pd Conversion to Double");
    EXPECT_NE(err.text().find("xl_oper.cpp("), std::string::npos);
}

// --- Shapes and elements ----------------------------------------------------------------------

TYPED_TEST(OperTest, RowsAndColumnsPerType) {
    auto& m = this->make_;
    using R = Records<TypeParam>;
    const std::pair<TypeParam*, std::vector<std::size_t>> cases[] = {
        {&m.array(2, 3, std::vector<TypeParam>(6, m.number(1))), {2, 3}},
        {&m.ascii("a"), {1, 1}},
        {&m.integer(1), {1, 1}},
        {&m.error(7), {0, 0}},
        {&m.nil(), {0, 0}},
        {&m.sref(R::area(3, 7, 1, 2)), {5, 2}},
        {&m.ref({R::area(0, 9, 4, 4)}, 5), {10, 1}},
    };
    const auto& ops = XlfOper::Ops();
    for (const auto& [record, shape] : cases) EXPECT_EQ((std::vector{ops.rows(op(*record)), ops.columns(op(*record))}), shape);
    CaptureErr err;
    EXPECT_EQ(failureText([&] { ops.columns(op(m.ref({R::area(0, 1, 0, 1), R::area(5, 6, 0, 1)}, 5))); }),
              "No implementation for multiple Refs");
    EXPECT_EQ(failureText([&] { ops.rows(op(m.ofType(xltypeFlow))); }), "No implementation on XlfOper rows");
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
    const auto& refCell = raw<TypeParam>(ops.element(op(m.ref({R::area(10, 19, 0, 3)}, 5)), 2, 3)).val.mref;
    ASSERT_EQ(refCell.lpmref->count + refCell.idSheet, 6u);
    const auto& area = refCell.lpmref->reftbl[0];
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
    CallHost(xlSheetId, activeSheet, 0, nullptr);
    EXPECT_EQ(raw<TypeParam>(active).val.mref.idSheet, raw<TypeParam>(activeSheet).val.mref.idSheet);
}

// --- Reading tables ---------------------------------------------------------------------------

std::string shown(const CellValue& c) {
    if (c.IsNumber()) return std::to_string(c.GetNumber());
    if (c.IsBoolean()) return c.GetBoolean() ? "TRUE" : "FALSE";
    if (c.IsError()) return "#" + std::to_string(c.GetErrorCode());
    return c.IsEmpty() ? "(empty)" : c.GetString() + "|" + utf16ToUtf8(c.GetWideString());
}

// Cells of every kind written into an array record, then read back: each element has the
// record type the host expects, and reads back as the cell was (an empty cell as an empty text,
// a non-finite number as #NUM!, texts of any characters whole).
// A table in a storage of its own, as any implementation of the abstract table may be: the frame
// cannot read its cells in one block and goes cell by cell.
class ForeignCells final : public CellMatrix_pimpl_abstract {
public:
    explicit ForeignCells(const impl::CellMatrixImpl& cells) : inner_(cells) {}
    const CellValue& operator()(std::size_t row, std::size_t column) const override { return inner_(row, column); }
    CellValue& operator()(std::size_t row, std::size_t column) override { return inner_(row, column); }
    std::size_t rows() const override { return inner_.rows(); }
    std::size_t columns() const override { return inner_.columns(); }
    void AppendBelow(const CellMatrix& other) override { inner_.AppendBelow(other); }
    std::unique_ptr<CellMatrix_pimpl_abstract> clone() const override { return std::make_unique<ForeignCells>(inner_); }

private:
    impl::CellMatrixImpl inner_;
};

TYPED_TEST(OperTest, CellsRoundTripThroughArrayRecords) {
    const std::string umlauts = "\xC3\xA4\xC3\xB6\xC3\xBC\xC3\x9F", grin = "\xF0\x9F\x98\x80!";
    CellMatrix cells(2, 10);
    cells(1, 0) = 2.5, cells(1, 1) = "abc", cells(1, 2) = std::wstring(L"wide"), cells(1, 3) = umlauts;
    cells(1, 4) = std::wstring{0xD83D, 0xDE00, L'!'}, cells(1, 5) = true, cells(1, 6).SetError(xlerrDiv0);
    cells(1, 8) = std::numeric_limits<double>::quiet_NaN(), cells(1, 9) = -std::numeric_limits<double>::infinity();
    const std::pair<DWORD, std::string> expected[] = {
        {xltypeNum, "2.500000"}, {xltypeStr, "abc|abc"},  {xltypeStr, "wide|wide"},     {xltypeStr, umlauts + "|" + umlauts},
        {xltypeStr, grin + "|" + grin}, {xltypeBool, "TRUE"}, {xltypeErr, "#7"}, {xltypeStr, "|"},
        {xltypeErr, "#36"},      {xltypeErr, "#36"}};
    const XlfOper record(cells), foreign(CellMatrix(std::make_unique<ForeignCells>(*cells.storage())));
    for (const XlfOper* written : {&record, &foreign}) {
        const TypeParam& w = raw<TypeParam>(*written);
        ASSERT_EQ(w.xltype, xltypeMulti);
        ASSERT_EQ(w.val.array.rows * w.val.array.columns, 20);
        for (std::size_t i = 0; i < 20; ++i)
            EXPECT_EQ(w.val.array.lparray[i].xltype, i < 10 ? xltypeStr : expected[i - 10].first) << i;  // blanks: empty texts
    }
    const TypeParam& r = raw<TypeParam>(foreign);
    for (const bool forCall : {false, true}) {
        TempMemory::EntryGuard call;
        CellMatrix back = forCall ? foreign.ReadCellMatrixForCall() : foreign.ReadCellMatrix();
        if (forCall) back.AppendBelow(CellMatrix(back));  // a grown table leaves the call's memory
        for (std::size_t i = 0; i < 10; ++i) {
#if defined(_WIN32)
            // The older records hold the ANSI code page, which may lack these characters.
            if (!isXloper12<TypeParam> && (i == 3 || i == 4)) continue;
#endif
            EXPECT_EQ(r.val.array.lparray[10 + i].xltype, expected[i].first) << i;
            EXPECT_EQ(shown(back(1, i)), expected[i].second) << i;
            EXPECT_EQ(shown(back(forCall ? 3 : 1, i)), expected[i].second) << i;
        }
    }
    for (TypeParam* one : {&this->make_.missing(), &this->make_.nil(), &this->make_.integer(-4)}) {
        const CellMatrix single = XlfOper(op(*one)).ReadCellMatrix("r");
        ASSERT_EQ(single.Rows() * single.Columns(), 1u);
        EXPECT_EQ(single(0, 0).IsEmpty(), (one->xltype & xltypeMask) != xltypeInt);
    }
    for (auto [rows, columns] : {std::pair{0, 0}, std::pair{0, 3}, std::pair{4, 0}})
        EXPECT_TRUE(XlfOper(CellMatrix(static_cast<std::size_t>(rows), static_cast<std::size_t>(columns))).IsMissing());
    CaptureErr err;
    for (TypeParam* other : {&this->make_.array(1, 2, {this->make_.number(1), this->make_.ofType(xltypeFlow)}),
                             &this->make_.sref(Records<TypeParam>::area(0, 1, 0, 0))})
        EXPECT_EQ(failureText([&] { XlfOper(op(*other)).ReadCellMatrix(); }), "Unsupported type in CellMatrix conversion");
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
    std::string umlauts, grin = "\xF0\x9F\x98\x80";  // two bytes and one unit; four bytes and two units
    for (int i = 0; i < 200; ++i) umlauts += "\xC3\xA4";
    const char* const cut255 = "String truncated to 255 bytes";
    // wide, text, then what an xloper keeps and says (null: not cut), then what an xloper12 keeps and says
    const std::tuple<bool, std::string, std::size_t, const char*, std::size_t, const char*> cases[] = {
        {false, std::string(255, 'a'), 255, nullptr, 255, nullptr},
        {false, std::string(300, 'a'), 255, cut255, 300, nullptr},
        {true, std::string(300, 'w'), 255, cut255, 300, nullptr},
        {false, umlauts, 254, cut255, 200, nullptr},
        {false, std::string(32767, 'a'), 255, cut255, 32767, nullptr},
        {false, std::string(40000, 'a'), 255, cut255, 32767, "String truncated to 32767 bytes"},
        {true, std::string(32766, 'w'), 255, cut255, 32766, nullptr},
        {true, std::string(32767, 'w'), 255, cut255, 32766, "String truncated to 32766 bytes"},
        {false, std::string(32766, 'a') + grin, 255, cut255, 32766, "String truncated to 32767 bytes"},  // pair at the limit
        {false, std::string(253, 'a') + grin, 253, cut255, 255, nullptr},  // pair at the byte limit
    };
    for (const auto& [wide, text, oldLength, oldLine, newLength, newLine] : cases) {
#if defined(_WIN32)
        // The byte counts of the older records are those of a UTF-8 code page.
        if (!isXloper12<TypeParam> && !wide && xlframe::platform::wideToAnsi(u"\u00e4").size() == 1 &&
            text != std::string(text.size(), 'a'))
            continue;
#endif
        CaptureErr err;
        const XlfOper record = wide ? XlfOper() : XlfOper(text);
        if (wide) XlfOper::Ops().makeWideString(record, utf8ToUtf16(text));
        const char* line = isXloper12<TypeParam> ? newLine : oldLine;
        EXPECT_EQ(textOf(raw<TypeParam>(record)).size(), isXloper12<TypeParam> ? newLength : oldLength) << text.size();
        EXPECT_EQ(err.messages(), line ? std::vector<std::string>{line} : std::vector<std::string>{}) << text.size();
        // What is left is whole characters of the original.
        const std::string back = record.ReadString();
        EXPECT_EQ(back, text.substr(0, back.size())) << text.size();
        EXPECT_EQ(utf16ToUtf8(utf8ToUtf16(back)), back) << text.size();
    }
}

// --- Truncation of arrays ---------------------------------------------------------------------

TYPED_TEST(OperTest, ArraysAreCutToTheGenerationsLimits) {
    using Case = std::tuple<std::size_t, std::size_t, std::size_t, std::size_t, std::vector<std::string>>;
    const std::vector<Case> cases =
        isXloper12<TypeParam> ? std::vector<Case>{{1048577, 1, 1048576, 1, {"Truncating rows to 1048576"}},
                                                  {1, 16385, 1, 16384, {"Truncating columns to 16384"}},
                                                  {3, 16384, 3, 16384, {}}}
                              : std::vector<Case>{{70000, 1, 65535, 1, {"Truncating rows to 65535"}},
                                                  {2, 300, 2, 256, {"Truncating columns to 256"}},
                                                  {65535, 1, 65535, 1, {}}};
    for (const auto& [rows, columns, keptRows, keptColumns, lines] : cases) {
        TempMemory::EntryGuard inner;  // not outermost: nothing is released
        CellMatrix cells(rows, columns);
        cells(rows - 1, columns - 1) = 1.0;
        cells(keptRows - 1, keptColumns - 1) = 9.0;
        CaptureErr err;
        const XlfOper record(cells);
        const TypeParam& r = raw<TypeParam>(record);
        ASSERT_EQ(r.xltype, xltypeMulti);
        EXPECT_EQ(static_cast<std::size_t>(r.val.array.rows), keptRows);
        EXPECT_EQ(static_cast<std::size_t>(r.val.array.columns), keptColumns);
        EXPECT_EQ(err.messages(), lines);
        EXPECT_EQ(r.val.array.lparray[keptRows * keptColumns - 1].val.num, 9.0);
        EXPECT_EQ(r.val.array.lparray[0].xltype, keptRows * keptColumns == 1 ? xltypeNum : xltypeStr);
    }
}

// --- Host memory ------------------------------------------------------------------------------

TYPED_TEST(OperTest, ReturnValueCopiesAHostOwnedRecordAndGivesItBack) {
    XlfOper number(2.5);
    XlfOper owned;
    ASSERT_EQ(XlfOper::Ops().coerce(number, xltypeStr, owned), xlretSuccess);
    ASSERT_TRUE(owned.xltype() & xlbitXLFree);
    const auto* hostBuffer = raw<TypeParam>(owned).val.str;
    const TypeParam& returned = raw<TypeParam>(owned.ReturnValue());
    EXPECT_NE(&returned, &raw<TypeParam>(owned));
    EXPECT_EQ(returned.xltype, xltypeStr);
    EXPECT_NE(returned.val.str, hostBuffer);
    EXPECT_EQ(textOf(returned), hostForm<TypeParam>("2.5"));
    EXPECT_EQ((owned.xltype() & xlbitXLFree) + this->host_->hostAllocations(), 0u);
    EXPECT_EQ(number.ReturnValue(), number.get());  // a record of our own is handed over as it is
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
        const TypeParam* e = raw<TypeParam>(copied).val.array.lparray;
        EXPECT_EQ(raw<TypeParam>(copied).xltype, xltypeMulti);  // the copy is ours
        ASSERT_NE(e, outer.val.array.lparray);
        EXPECT_EQ(textOf(e[0]) + textOf(e[1].val.array.lparray[0]), hostForm<TypeParam>("topdeep"));
        EXPECT_NE(e[1].val.array.lparray[0].val.str, inner.val.array.lparray[0].val.str);
        EXPECT_EQ(e[1].val.array.lparray[1].val.num, 2.0);
        EXPECT_NE(e[2].val.mref.lpmref, outer.val.array.lparray[2].val.mref.lpmref);
        EXPECT_EQ(e[2].val.mref.lpmref->reftbl[0].colLast + e[2].val.mref.idSheet, 10u);
        EXPECT_EQ(e[3].xltype, xltypeBool);
        if (heap) ops.freeHeapCopy(copied);
    }
    CaptureErr err;
    EXPECT_EQ(failureText([&] { ops.copyToTempMemory(op(m.ofType(xltypeBigData))); }), "can't copy a big data oper");
    EXPECT_EQ(failureText([&] { ops.copyToHeap(op(m.ofType(xltypeBigData))); }), "can't copy a big data oper");
}

TYPED_TEST(OperTest, CallHostMarksResultsThatPointIntoHostMemory) {
    auto& m = this->make_;
    for (auto [source, wanted] : {std::pair{&m.number(1), xltypeStr}, {&m.ascii("1"), xltypeNum}, {&m.number(1), xltypeBool}}) {
        XlfOper result;
        ASSERT_EQ(XlfOper::Ops().coerce(op(*source), wanted, result), xlretSuccess);
        EXPECT_EQ((result.xltype() & xlbitXLFree) != 0, wanted == xltypeStr) << wanted;
        result.FreeHostMemory();
    }
    XlfOper sheet, untouched("ours");
    ASSERT_EQ(CallHost(xlSheetId, sheet, 0, nullptr), xlretSuccess);
    EXPECT_EQ(sheet.xltype(), xltypeRef);  // no area list: nothing of the host's in it
    this->host_->options().failing[xlCoerce] = xlretFailed;
    EXPECT_EQ(CallHost(xlCoerce, untouched, 0, nullptr), xlretFailed);
    EXPECT_EQ(untouched.xltype(), xltypeStr);  // a failed call leaves the caller's record alone
}

TYPED_TEST(OperTest, CallHostRefusesTooManyOperandsAndReportsMissingCallbacks) {
    const XlfOper missing;
    std::vector<LPXLFOPER> operands(256, missing.get());
    XlfOper result;
    this->host_->options().failing[xlCoerce] = xlretAbort;  // what the host would answer
    for (auto [count, list] : {std::pair{256, operands.data()}, {-1, operands.data()}, {1, nullptr}})
        EXPECT_EQ(CallHost(xlCoerce, result, count, list), xlretInvCount) << count;
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
    const std::map<std::string, std::string> kinds = {
        {typeid(XlfGeneralException).name(), "general"}, {typeid(XlfNeverGetHere).name(), "never"},
        {typeid(XlfExceptionUncalculated).name(), "uncalculated"}, {typeid(XlfExceptionAbort).name(), "abort"},
        {typeid(XlfExceptionStackOverflow).name(), "stack overflow"}};
    CaptureErr err;
    const auto cases = rows("status");
    ASSERT_EQ(cases.size(), 12u);
    for (const auto& c : cases) {
        std::string kind = "none", message;
        try {
            ThrowOnError(std::stoi(c[0]));
        } catch (const std::exception& e) {
            kind = kinds.count(typeid(e).name()) ? kinds.at(typeid(e).name()) : "other", message = e.what();
        }
        EXPECT_EQ(kind + " | " + message, c[1] + " | " + c[2]) << c[0];
    }
    const char* const texts[][3] = {{"scores", "Conversion to Double", "command failed, scores Conversion to Double"},
                                    {nullptr, "Set Status Bar", "command failed Set Status Bar"},
                                    {"scores", nullptr, "command failed, scores"},
                                    {nullptr, nullptr, "command failed"}};
    for (const auto& c : texts) {
        CaptureErr lines;
        EXPECT_EQ(failureText([&] { ThrowOnError(xlretFailed, c[0], c[1]); }), c[2]);
        EXPECT_EQ(lines.messages(), std::vector<std::string>{c[2]});
    }
}

}  // namespace
}  // namespace xlframe

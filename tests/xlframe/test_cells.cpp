// Cells and tables: every kind written then read back, reads of the wrong kind, copies and moves
// over every kind, and the table's shape.
#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "tests/xlframe/frame_testing.hpp"
#include "xlframe/cell_matrix.hpp"

namespace xlframe {
namespace {

using testing::failureText;
using impl::CellValueImpl;

bool same(const CellValueImpl& a, const CellValueImpl& b) {
    if (a.kind() != b.kind()) return false;
    switch (a.kind()) {
        case CellKind::String: return a.GetString() == b.GetString();
        case CellKind::WideString: return a.GetWideString() == b.GetWideString();
        case CellKind::Number: return a.GetNumber() == b.GetNumber();
        case CellKind::Boolean: return a.GetBoolean() == b.GetBoolean();
        case CellKind::Error: return a.GetErrorCode() == b.GetErrorCode();
        case CellKind::Empty: return true;
    }
    return false;
}

// Each kind written into a used cell, read back; every typed read of another kind fails with its text.
TEST(CellValue, WrittenKindsReadBackAndOtherReadsFail) {
    const std::string notNumber = "non number cell asked to be a number", notText = "non string cell asked to be a string",
                      notFlag = "non boolean cell asked to be a bool", notError = "non error cell asked to be an error";
    // what is written, the kind, then GetNumber's value as text or its failure, and so the other reads
    const std::vector<std::tuple<void (*)(CellValue&), CellKind, const char*, std::string, std::string, std::string>> cases = {
        {[](CellValue& c) { c = 1.5; }, CellKind::Number, "1.500000", notText, notFlag, notError},
        {[](CellValue& c) { c = 7ul; }, CellKind::Number, "7.000000", notText, notFlag, notError},
        {[](CellValue& c) { c = static_cast<long long>(1) << 40; }, CellKind::Number, "1099511627776.000000", notText, notFlag, notError},
        {[](CellValue& c) { c = "AB"; }, CellKind::String, "", "AB", notFlag, notError},
        {[](CellValue& c) { c = std::wstring(L"CD"); }, CellKind::WideString, "", "CD", notFlag, notError},
        {[](CellValue& c) { c = false; }, CellKind::Boolean, "", notText, "0", notError},
        {[](CellValue& c) { c.SetError(42); }, CellKind::Error, "", notText, notFlag, "42"},
        {[](CellValue& c) { c.Clear(); }, CellKind::Empty, "", notText, notFlag, notError},
    };
    for (const auto& [write, kind, number, text, flag, error] : cases) {
        CellMatrix m(1, 1);
        m(0, 0) = "was text";
        write(m(0, 0));
        const CellValue& cell = m(0, 0);
        EXPECT_EQ(cell.Kind(), kind);
        EXPECT_EQ(failureText([&] { throw XlfGeneralException(std::to_string(cell.GetNumber())); }), *number ? number : notNumber);
        EXPECT_EQ(failureText([&] { throw XlfGeneralException(cell.GetString()); }), text);
        EXPECT_EQ(failureText([&] { throw XlfGeneralException(std::to_string(cell.GetBoolean())); }), flag);
        EXPECT_EQ(failureText([&] { throw XlfGeneralException(std::to_string(cell.GetErrorCode())); }), error);
        EXPECT_TRUE(!cell.IsString() || cell.GetWideString() == std::wstring(text.begin(), text.end()));
    }
    CellMatrix m(1, 1);
    for (auto [value, expected] : std::initializer_list<std::pair<double, unsigned long>>{
             {2.9, 2ul}, {-3.5, 0ul}, {1e30, std::numeric_limits<unsigned long>::max()},
             {std::numeric_limits<double>::quiet_NaN(), 0ul}}) {
        m(0, 0) = value;
        EXPECT_EQ(static_cast<unsigned long>(m(0, 0)), expected) << value;
    }
}

// Every kind assigned over every kind, by copy and by move: the target ends as the source was, a
// copy owns its own text, and a moved-from cell is Empty (the sanitizer builds watch the texts).
TEST(CellValueImpl, CopiesAndMovesBetweenEveryKind) {
    const std::vector<CellValueImpl> kinds = {CellValueImpl(std::string("narrow")), CellValueImpl(std::wstring(L"wide")),
                                              CellValueImpl(-0.25), CellValueImpl(true), CellValueImpl(42ul, true),
                                              CellValueImpl(15ul, false), CellValueImpl(3), CellValueImpl()};
    for (std::size_t from = 0; from < kinds.size(); ++from) {
        for (std::size_t to = 0; to < kinds.size(); ++to) {
            CellValueImpl copied = kinds[to];
            copied = kinds[from];
            EXPECT_TRUE(same(copied, kinds[from])) << from << " over " << to;
            if (copied.IsString()) {
                copied = "changed";
                EXPECT_TRUE(kinds[from].GetString() != "changed") << from;
            }
            CellValueImpl source = kinds[from], moved = kinds[to];
            moved = std::move(source);
            EXPECT_TRUE(same(moved, kinds[from])) << from << " moved over " << to;
            EXPECT_TRUE(source.IsEmpty());  // NOLINT(bugprone-use-after-move): documented state
            CellValueImpl constructed(std::move(moved));
            EXPECT_TRUE(same(constructed, kinds[from])) << from;
            EXPECT_TRUE(moved.IsEmpty());  // NOLINT(bugprone-use-after-move): documented state
        }
    }
    CellValueImpl self(std::string("mine"));
    self = static_cast<const CellValueImpl&>(self);
    EXPECT_EQ((self = std::wstring(self.GetWideString() + L"!")).GetString(), "mine!");
}

TEST(CellMatrix, CopiesAreDeepAppendWidensAndOutsideIsARangeError) {
    CellMatrix top(2, 3), bottom(1, 5);
    top(1, 2) = "a";
    bottom(0, 4) = "last";
    CellMatrix copy(top);
    copy(1, 2) = "b";
    top.AppendBelow(bottom);
    ASSERT_EQ(top.Rows() * 10 + top.Columns(), 35u);
    for (auto [r, c] : {std::pair{0, 3}, {0, 4}, {1, 3}, {1, 4}}) EXPECT_TRUE(top(r, c).IsEmpty());
    EXPECT_EQ(top(1, 2).GetString(), "a");
    EXPECT_EQ(top(2, 4).GetString(), "last");
    const CellMatrix moved(std::move(copy));
    EXPECT_EQ(moved(1, 2).GetString(), "b");
    EXPECT_EQ(copy.Rows() + copy.Columns(), 0u);  // NOLINT(bugprone-use-after-move): documented state
    for (auto [r, c] : {std::pair{2, 0}, {0, 3}, {5, 5}}) {
        std::string what;
        try {
            (void)moved(r, c);
        } catch (const std::out_of_range& error) {
            what = error.what();
        }
        EXPECT_EQ(what, "invalid vector<T> subscript") << r << c;
    }
    EXPECT_THROW(CellMatrix(0, 4)(0, 0), std::out_of_range);
}

}  // namespace
}  // namespace xlframe

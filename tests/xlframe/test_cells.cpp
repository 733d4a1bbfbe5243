// Cells and tables: every kind written then read back, reads of the wrong kind, copies and moves
// over every kind, and the table's shape.
#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "tests/xlframe/frame_testing.hpp"
#include "xlframe/cell_matrix.hpp"
#include "xlframe/utf.hpp"

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

// What each typed read gives, a failing one as its message's first word.
std::string reads(const CellValue& cell) {
    std::string out;
    for (const auto& read : std::initializer_list<std::function<std::string()>>{
             [&] { return std::to_string(cell.GetNumber()); }, [&] { return cell.GetString(); },
             [&] { return std::to_string(cell.GetBoolean()); }, [&] { return std::to_string(cell.GetErrorCode()); }}) {
        const std::string failure = failureText([&] { out += read(); });
        if (failure != "no failure") out += failure.substr(0, failure.find(' '));
        out += ';';
    }
    return out;
}

// Each kind written into a used cell, read back; every typed read of another kind fails with its text.
TEST(CellValue, WrittenKindsReadBackAndOtherReadsFail) {
    const std::tuple<void (*)(CellValue&), CellKind, const char*> cases[] = {
        {[](CellValue& c) { c = 1.5; }, CellKind::Number, "1.500000;non;non;non;"},
        {[](CellValue& c) { c = 7ul; }, CellKind::Number, "7.000000;non;non;non;"},
        {[](CellValue& c) { c = static_cast<long long>(1) << 40; }, CellKind::Number, "1099511627776.000000;non;non;non;"},
        {[](CellValue& c) { c = "AB"; }, CellKind::String, "non;AB;non;non;"},
        {[](CellValue& c) { c = std::wstring(L"CD"); }, CellKind::WideString, "non;CD;non;non;"},
        {[](CellValue& c) { c = false; }, CellKind::Boolean, "non;non;0;non;"},
        {[](CellValue& c) { c.SetError(42); }, CellKind::Error, "non;non;non;42;"},
        {[](CellValue& c) { c.Clear(); }, CellKind::Empty, "non;non;non;non;"},
    };
    for (const auto& [write, kind, expected] : cases) {
        CellMatrix m(1, 1);
        m(0, 0) = "was text";
        write(m(0, 0));
        EXPECT_EQ(reads(m(0, 0)), expected);
        EXPECT_EQ(m(0, 0).Kind(), kind) << expected;
        if (m(0, 0).IsString()) {
            EXPECT_EQ(utf16ToUtf8(m(0, 0).GetWideString()), m(0, 0).GetString());
        }
    }
    const CellValueImpl empty;
    EXPECT_EQ(failureText([&] { empty.GetNumber(); }), "non number cell asked to be a number");
    EXPECT_EQ(failureText([&] { empty.GetString(); }), "non string cell asked to be a string");
    EXPECT_EQ(failureText([&] { empty.GetBoolean(); }), "non boolean cell asked to be a bool");
    EXPECT_EQ(failureText([&] { empty.GetErrorCode(); }), "non error cell asked to be an error");
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
    const CellValueImpl& alias = self;
    self = alias;
    self = std::wstring(self.GetWideString() + L"!");
    EXPECT_EQ(self.GetString(), "mine!");
}

TEST(CellMatrix, CopiesAreDeepAppendWidensAndOutsideIsARangeError) {
    CellMatrix top(2, 3), bottom(1, 5);
    top(1, 2) = "a";
    bottom(0, 4) = "last";
    CellMatrix copy(top);
    copy(1, 2) = "b";
    top.AppendBelow(bottom);
    ASSERT_EQ(top.Rows(), 3u);
    ASSERT_EQ(top.Columns(), 5u);
    for (auto [r, c] : {std::pair{0, 3}, {0, 4}, {1, 3}, {1, 4}}) EXPECT_TRUE(top(r, c).IsEmpty());
    EXPECT_EQ(top(1, 2).GetString(), "a");
    EXPECT_EQ(top(2, 4).GetString(), "last");
    const CellMatrix moved(std::move(copy));
    EXPECT_EQ(moved(1, 2).GetString(), "b");
    EXPECT_EQ(copy.Rows() + copy.Columns(), 0u);  // NOLINT(bugprone-use-after-move): documented state
    for (auto [r, c] : {std::pair{2, 0}, {0, 3}, {5, 5}}) {
        try {
            (void)moved(r, c);
            ADD_FAILURE() << "no range error";
        } catch (const std::out_of_range& error) {
            EXPECT_STREQ(error.what(), "invalid vector<T> subscript");
        }
    }
    EXPECT_THROW(CellMatrix(0, 4)(0, 0), std::out_of_range);
}

}  // namespace
}  // namespace xlframe

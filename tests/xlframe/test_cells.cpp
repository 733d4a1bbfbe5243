#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "xlframe/cell_matrix.hpp"
#include "xlframe/exceptions.hpp"

namespace xlframe {
namespace {

template <class Read>
std::string failureText(Read read) {
    try {
        read();
    } catch (const XlfGeneralException& error) {
        return error.what();
    }
    return "no failure";
}

TEST(CellValue, FreshMatrixHoldsEmptyCellsThatRefuseTypedReads) {
    CellMatrix m(2, 3);
    EXPECT_EQ(m.Rows(), 2u);
    EXPECT_EQ(m.Columns(), 3u);
    for (std::size_t r = 0; r < 2; ++r)
        for (std::size_t c = 0; c < 3; ++c) {
            EXPECT_TRUE(m(r, c).IsEmpty());
            EXPECT_EQ(failureText([&] { m(r, c).GetNumber(); }), "non number cell asked to be a number");
        }
}

TEST(CellValue, TypedReadsOfTheWrongKindFailWithTheirTexts) {
    CellMatrix m(1, 3);
    m(0, 0) = 1.5;
    m(0, 1) = "text";
    m(0, 2) = true;
    const CellValue& number = m(0, 0);
    const CellValue& text = m(0, 1);
    const CellValue& flag = m(0, 2);
    struct Case {
        std::string got;
        const char* expected;
    } cases[] = {
        {failureText([&] { number.GetString(); }), "non string cell asked to be a string"},
        {failureText([&] { number.GetWideString(); }), "non string cell asked to be a string"},
        {failureText([&] { text.GetNumber(); }), "non number cell asked to be a number"},
        {failureText([&] { (void)static_cast<double>(flag); }), "non number cell asked to be a number"},
        {failureText([&] { (void)static_cast<unsigned long>(text); }), "non number cell asked to be a number"},
        {failureText([&] { number.GetBoolean(); }), "non boolean cell asked to be a bool"},
        {failureText([&] { (void)static_cast<bool>(number); }), "non boolean cell asked to be a bool"},
        {failureText([&] { flag.GetErrorCode(); }), "non error cell asked to be an error"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.got, c.expected);
}

TEST(CellValue, AssignmentReplacesTheKind) {
    CellMatrix m(1, 1);
    CellValue& cell = m(0, 0);
    cell = "was text";
    cell = 1.5;
    EXPECT_FALSE(cell.IsString());
    EXPECT_EQ(cell.GetNumber(), 1.5);
    cell = 7ul;
    EXPECT_TRUE(cell.IsNumber());
    EXPECT_EQ(cell.GetNumber(), 7.0);
    cell = 3;
    EXPECT_EQ(cell.GetNumber(), 3.0);
    cell = false;
    EXPECT_TRUE(cell.IsBoolean());
    EXPECT_FALSE(cell.GetBoolean());
    cell.SetError(42);
    EXPECT_TRUE(cell.IsError());
    EXPECT_EQ(cell.GetErrorCode(), 42u);
    cell.Clear();
    EXPECT_TRUE(cell.IsEmpty());
    EXPECT_EQ(cell.Kind(), CellKind::Empty);
    cell = static_cast<long long>(1) << 40;  // wide integers become numbers
    EXPECT_EQ(cell.GetNumber(), 1099511627776.0);
}

TEST(CellValue, UnsignedLongConversionTruncatesAndSaturates) {
    struct Case {
        double value;
        unsigned long expected;
    } cases[] = {
        {2.9, 2ul},
        {0.0, 0ul},
        {-3.5, 0ul},
        {1e30, std::numeric_limits<unsigned long>::max()},
        {std::numeric_limits<double>::quiet_NaN(), 0ul},
        {std::numeric_limits<double>::infinity(), std::numeric_limits<unsigned long>::max()},
    };
    CellMatrix m(1, 1);
    for (const Case& c : cases) {
        m(0, 0) = c.value;
        EXPECT_EQ(static_cast<unsigned long>(m(0, 0)), c.expected) << c.value;
    }
}

TEST(CellValue, TextsConvertBetweenWidthsAndKeepTheirKind) {
    CellMatrix m(1, 2);
    m(0, 0) = std::wstring(L"AB");
    EXPECT_EQ(m(0, 0).GetString(), "AB");
    EXPECT_TRUE(m(0, 0).IsWideString());
    m(0, 1) = "AB";
    EXPECT_EQ(m(0, 1).GetWideString(), L"AB");
    EXPECT_TRUE(m(0, 1).IsNarrowString());
    EXPECT_TRUE(m(0, 1).IsString());
    // A new text replaces the cached other form.
    m(0, 0) = std::wstring(L"CD");
    EXPECT_EQ(static_cast<std::string>(m(0, 0)), "CD");
}

TEST(CellValue, CopyFromAnotherCellFollowsTheSourceKind) {
    CellMatrix source(1, 6), target(1, 6);
    source(0, 0) = "narrow";
    source(0, 1) = std::wstring(L"wide");
    source(0, 2) = 2.5;
    source(0, 3) = true;
    source(0, 5).SetError(7);
    for (std::size_t c = 0; c < 6; ++c) {
        target(0, c) = 99.0;
        target(0, c) = source(0, c);
        EXPECT_EQ(target(0, c).Kind(), source(0, c).Kind()) << c;
    }
    EXPECT_EQ(target(0, 0).GetString(), "narrow");
    EXPECT_EQ(target(0, 1).GetWideString(), L"wide");
    EXPECT_EQ(target(0, 2).GetNumber(), 2.5);
    EXPECT_TRUE(target(0, 3).GetBoolean());
    EXPECT_EQ(target(0, 5).GetErrorCode(), 7u);
}

TEST(CellValueImpl, Constructors) {
    using impl::CellValueImpl;
    EXPECT_TRUE(CellValueImpl().IsEmpty());
    EXPECT_EQ(CellValueImpl(3).GetNumber(), 3.0);
    EXPECT_EQ(CellValueImpl(2.5).GetNumber(), 2.5);
    EXPECT_TRUE(CellValueImpl(true).GetBoolean());
    EXPECT_EQ(CellValueImpl(15ul, true).GetErrorCode(), 15u);
    EXPECT_EQ(CellValueImpl(15ul, false).GetNumber(), 15.0);
    EXPECT_TRUE(CellValueImpl(std::string("x")).IsNarrowString());
    EXPECT_TRUE(CellValueImpl(std::wstring(L"x")).IsWideString());
    const CellValueImpl text(std::string("shared?"));
    CellValueImpl copy(text);
    copy = "changed";
    EXPECT_EQ(text.GetString(), "shared?");
}

// Every kind assigned over every kind, by copy and by move: the target ends as the source was, a
// copy owns its own text, and a moved-from cell is Empty (the sanitizer builds watch the texts).
TEST(CellValueImpl, CopiesAndMovesBetweenEveryKind) {
    using impl::CellValueImpl;
    const std::vector<CellValueImpl> kinds = {CellValueImpl(std::string("narrow")), CellValueImpl(std::wstring(L"wide")),
                                              CellValueImpl(-0.25), CellValueImpl(true), CellValueImpl(42ul, true),
                                              CellValueImpl()};
    const auto same = [](const CellValueImpl& a, const CellValueImpl& b) {
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
    };
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
    self = self.GetString();
    EXPECT_EQ(self.GetString(), "mine");
    const CellValueImpl& alias = self;
    self = alias;
    EXPECT_EQ(self.GetString(), "mine");
    self = std::wstring(self.GetWideString() + L"!");
    EXPECT_EQ(self.GetString(), "mine!");
}

TEST(CellMatrix, CopiesAreDeep) {
    CellMatrix source(2, 2);
    source(0, 0) = "a";
    source(1, 1) = 4.0;
    CellMatrix copy(source);
    copy(0, 0) = "b";
    copy(1, 1) = 5.0;
    EXPECT_EQ(source(0, 0).GetString(), "a");
    EXPECT_EQ(source(1, 1).GetNumber(), 4.0);
    CellMatrix assigned;
    assigned = source;
    assigned(0, 0) = "c";
    EXPECT_EQ(source(0, 0).GetString(), "a");
    EXPECT_EQ(assigned.Rows(), 2u);
}

TEST(CellMatrix, MovedFromMatrixIsEmpty) {
    CellMatrix source(3, 1);
    CellMatrix moved(std::move(source));
    EXPECT_EQ(moved.Rows(), 3u);
    EXPECT_EQ(source.Rows(), 0u);  // NOLINT(bugprone-use-after-move): documented state
    EXPECT_EQ(source.Columns(), 0u);
    EXPECT_THROW(source(0, 0), std::out_of_range);
}

TEST(CellMatrix, AppendBelowWidensWithEmptyCells) {
    CellMatrix top(2, 3), bottom(1, 5);
    top(1, 2) = 12.0;
    bottom(0, 4) = "last";
    top.AppendBelow(bottom);
    ASSERT_EQ(top.Rows(), 3u);
    ASSERT_EQ(top.Columns(), 5u);
    for (auto [r, c] : {std::pair{0, 3}, {0, 4}, {1, 3}, {1, 4}}) EXPECT_TRUE(top(r, c).IsEmpty());
    EXPECT_EQ(top(1, 2).GetNumber(), 12.0);
    EXPECT_EQ(top(2, 4).GetString(), "last");
}

TEST(CellMatrix, AccessOutsideTheTableIsARangeError) {
    CellMatrix m(2, 2);
    const CellMatrix& constant = m;
    for (auto [r, c] : {std::pair{2, 0}, {0, 2}, {5, 5}}) {
        try {
            (void)constant(r, c);
            ADD_FAILURE() << "no range error";
        } catch (const std::out_of_range& error) {
            EXPECT_STREQ(error.what(), "invalid vector<T> subscript");
        }
    }
    CellMatrix rowsOnly(0, 4);
    EXPECT_EQ(rowsOnly.Columns(), 4u);
    EXPECT_THROW(rowsOnly(0, 0), std::out_of_range);
}

TEST(FrameExceptions, Messages) {
    EXPECT_STREQ(XlfExceptionAbort().what(), "abort");
    EXPECT_STREQ(XlfExceptionStackOverflow().what(), "stack overflow");
    EXPECT_STREQ(XlfExceptionUncalculated().what(), "");
    EXPECT_STREQ(XlfNeverGetHere().what(), "Reached a never get here point");
    EXPECT_STREQ(XlfGeneralException("x").what(), "x");
}

}  // namespace
}  // namespace xlframe

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <iostream>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "functions/entry_points.hpp"
#include "functions/entry_wrapper.hpp"
#include "functions/worksheet_functions.hpp"
#include "tests/xlframe/frame_testing.hpp"
#include "xlframe/exceptions.hpp"
#include "xlframe/registration.hpp"
#include "xlframe/xl_oper.hpp"

namespace {

using xlframe::CellMatrix;
using xlframe::LPXLFOPER;
using xlframe::XlfOper;

// ---- The wrapper pattern ---------------------------------------------------------------------

CellMatrix echoFlags(int a, int b, int c, int d, int e, int f) {
    CellMatrix m(1, 6);
    const int values[] = {a, b, c, d, e, f};
    for (std::size_t i = 0; i < 6; ++i) m(0, i) = values[i];
    return m;
}

// Rows and columns of each argument, and the first cell's number (or -1).
CellMatrix shapes(const CellMatrix& first, const CellMatrix& second) {
    CellMatrix m(2, 3);
    const CellMatrix* arguments[] = {&first, &second};
    for (std::size_t i = 0; i < 2; ++i) {
        m(i, 0) = static_cast<int>(arguments[i]->Rows());
        m(i, 1) = static_cast<int>(arguments[i]->Columns());
        m(i, 2) = (*arguments[i])(0, 0).IsNumber()  ? static_cast<int>((*arguments[i])(0, 0).GetNumber())
                  : (*arguments[i])(0, 0).IsEmpty() ? -2
                                                    : -1;
    }
    return m;
}

CellMatrix throwsFrame(const CellMatrix&) { throw xlframe::XlfExceptionAbort(); }
CellMatrix throwsGeneral(const CellMatrix&) { throw xlframe::XlfGeneralException("general failure"); }
CellMatrix throwsRuntime(const CellMatrix&) { throw std::out_of_range("range failure"); }
CellMatrix throwsString(const CellMatrix&) { throw std::string("string failure"); }
CellMatrix throwsPointer(const CellMatrix&) { throw "pointer failure"; }
CellMatrix throwsMatrix(const CellMatrix&) {
    CellMatrix m(2, 1);
    m(0, 0) = 4;
    m(1, 0) = std::string("thrown");
    throw m;
}
CellMatrix throwsOther(const CellMatrix&) { throw 42; }

bool wizardOpen() { return true; }

class EntryWrapper : public ::testing::TestWithParam<int> {
   protected:
    EntryWrapper() : host_({.version = GetParam()}) { host_.open(); }
    ~EntryWrapper() override { Korvanth::entry::setWizardQuery(nullptr); }

    // What the host sees in a result record.
    static CellMatrix read(LPXLFOPER result) { return XlfOper(result).ReadCellMatrix(); }
    static std::string textOf(LPXLFOPER result) {
        const CellMatrix m = read(result);
        EXPECT_EQ(m.Rows(), 1u);
        EXPECT_EQ(m.Columns(), 1u);
        EXPECT_TRUE(m(0, 0).IsString());
        return m(0, 0).IsString() ? m(0, 0).GetString() : std::string();
    }
    static LPXLFOPER range(const CellMatrix& cells) { return XlfOper(cells).get(); }

    // Inputs built here stay valid through the nested guard of the call.
    xlframe::TempMemory::EntryGuard outer_;
    xlframe::testing::AttachedHost host_;
};

TEST_P(EntryWrapper, FlagsAreTruncatedSaturatingWithNaNAsZero) {
    using Korvanth::entry::Flag;
    const LPXLFOPER result = Korvanth::entry::call<&echoFlags>(
        Flag{1.9}, Flag{-0.5}, Flag{1e300}, Flag{std::numeric_limits<double>::quiet_NaN()}, Flag{-1e300}, Flag{-2.7});
    const CellMatrix m = read(result);
    ASSERT_EQ(m.Rows(), 1u);
    ASSERT_EQ(m.Columns(), 6u);
    const double expected[] = {1, 0, INT_MAX, 0, INT_MIN, -2};
    for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(m(0, i).GetNumber(), expected[i]) << i;
}

TEST_P(EntryWrapper, RangesArriveAsCellMatricesMissingAsOneEmptyCell) {
    using Korvanth::entry::Range;
    CellMatrix column(3, 1);
    for (std::size_t i = 0; i < 3; ++i) column(i, 0) = static_cast<int>(7 + i);
    XlfOper missing;  // an omitted argument
    const CellMatrix m = read(Korvanth::entry::call<&shapes>(Range{range(column), "first"}, Range{missing, "second"}));
    ASSERT_EQ(m.Rows(), 2u);
    EXPECT_EQ(m(0, 0).GetNumber(), 3);
    EXPECT_EQ(m(0, 1).GetNumber(), 1);
    EXPECT_EQ(m(0, 2).GetNumber(), 7);
    EXPECT_EQ(m(1, 0).GetNumber(), 1);
    EXPECT_EQ(m(1, 1).GetNumber(), 1);
    EXPECT_EQ(m(1, 2).GetNumber(), -2);
    // A null record (no host passes one) reads as omitted too.
    const CellMatrix n = read(Korvanth::entry::call<&shapes>(Range{range(column), "first"}, Range{nullptr, "second"}));
    EXPECT_EQ(n(1, 2).GetNumber(), -2);
}

TEST_P(EntryWrapper, FunctionWizardOpenGivesTrueWithoutCalling) {
    Korvanth::entry::setWizardQuery(&wizardOpen);
    const CellMatrix m = read(Korvanth::entry::call<&throwsOther>(Korvanth::entry::Range{nullptr, "x"}));
    ASSERT_EQ(m.Rows(), 1u);
    ASSERT_TRUE(m(0, 0).IsBoolean());
    EXPECT_TRUE(m(0, 0).GetBoolean());
    // The exported entry points take the same path.
    XlfOper scores(CellMatrix(1, 1));
    const CellMatrix roc = read(xlrocCurveIndividual(scores, scores, 0.0, 1.0, 10.0));
    ASSERT_TRUE(roc(0, 0).IsBoolean());
    EXPECT_TRUE(roc(0, 0).GetBoolean());
    const CellMatrix version = read(xlgetVersion());
    ASSERT_TRUE(version(0, 0).IsBoolean());
}

TEST_P(EntryWrapper, EscapingExceptionsInClauseOrder) {
    using Korvanth::entry::call;
    using Korvanth::entry::Range;
    const Range any{nullptr, "any"};
    EXPECT_EQ(call<&throwsFrame>(any), nullptr);
    EXPECT_EQ(textOf(call<&throwsGeneral>(any)), "general failure");
    EXPECT_EQ(textOf(call<&throwsRuntime>(any)), "range failure");
    EXPECT_EQ(textOf(call<&throwsString>(any)), "string failure");
    EXPECT_EQ(textOf(call<&throwsPointer>(any)), "pointer failure");
    const CellMatrix thrown = read(call<&throwsMatrix>(any));
    ASSERT_EQ(thrown.Rows(), 2u);
    EXPECT_EQ(thrown(0, 0).GetNumber(), 4);
    EXPECT_EQ(thrown(1, 0).GetString(), "thrown");
    const XlfOper other(call<&throwsOther>(any));
    ASSERT_TRUE(other.IsError());
    EXPECT_EQ(read(other)(0, 0).GetErrorCode(), 15u);
}

// An array holding a control-flow record cannot become cells.
template <class Record>
struct UnsupportedArray {
    Record element{};
    Record array{};
    UnsupportedArray(DWORD extraBits = 0) {
        element.xltype = xltypeFlow;
        array.xltype = xltypeMulti | extraBits;
        array.val.array.lparray = &element;
        array.val.array.rows = 1;
        array.val.array.columns = 1;
    }
    LPXLFOPER get() { return reinterpret_cast<LPXLFOPER>(&array); }
};

TEST_P(EntryWrapper, ConversionFailureBecomesOneTextCell) {
    const auto check = [](LPXLFOPER bad) {
        CellMatrix good(1, 1);
        good(0, 0) = 1;
        const std::string text = textOf(Korvanth::entry::call<&shapes>(
            Korvanth::entry::Range{XlfOper(good).get(), "first"}, Korvanth::entry::Range{bad, "second"}));
        EXPECT_NE(text.find("Unsupported type in CellMatrix conversion"), std::string::npos) << text;
    };
    if (GetParam() >= 12) {
        UnsupportedArray<xloper12> bad;
        check(bad.get());
    } else {
        UnsupportedArray<xloper> bad;
        check(bad.get());
    }
}

TEST_P(EntryWrapper, HostOwnedArgumentsAreReleasedAsTheCallEnds) {
    CellMatrix column(2, 1);
    column(0, 0) = 1;
    column(1, 0) = 2;
    XlfOper owned(column);
    // Mark the host-owned bit as a record the host allocated would carry.
    XlfOper::Ops().setXltype(owned.get(), owned.xltype() | xlbitXLFree);
    XlfOper plain(column);
    // The host never allocated the marked record, so its xlFree shows as a stray one.
    const std::size_t before = host_->strayFrees();
    Korvanth::entry::call<&shapes>(Korvanth::entry::Range{owned.get(), "first"},
                                   Korvanth::entry::Range{plain.get(), "second"});
    EXPECT_EQ(host_->strayFrees(), before + 1);
}

INSTANTIATE_TEST_SUITE_P(Generations, EntryWrapper, ::testing::Values(11, 16));

}  // namespace

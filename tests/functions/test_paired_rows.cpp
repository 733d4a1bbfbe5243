// Ranges paired row by row, over every function that pairs them: a row empty in every range
// changes no result cell (the mapping functions keep it as an Empty cell), a row empty in some
// ranges only is a one-cell text; and the degenerate inputs that once gave plausible numbers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "functions/worksheet_functions.hpp"
#include "test_calibration_support.hpp"

namespace Korvanth {
namespace {

using namespace Korvanth::testing;

const double nan = std::nan("");
const CellMatrix omitted(1, 1);

CellMatrix texts(const std::vector<const char*>& values) {
    CellMatrix range(values.size(), 1);
    for (std::size_t i = 0; i < values.size(); ++i)
        if (values[i] != nullptr) range(i, 0) = std::string(values[i]);
    return range;
}

// Every cell written out, numbers to the last bit, so that two results compare as text.
std::string render(const CellMatrix& m) {
    std::string out;
    for (std::size_t i = 0; i < m.Rows(); ++i) {
        for (std::size_t j = 0; j < m.Columns(); ++j) {
            const xlframe::CellValue& c = m(i, j);
            char number[32];
            if (c.IsNumber()) std::snprintf(number, sizeof number, "%.17g", c.GetNumber());
            out += c.IsEmpty() ? "<empty>" : c.IsNumber() ? number : c.IsNarrowString() ? c.GetString() : "<other>";
            out += j + 1 < m.Columns() ? " | " : "\n";
        }
    }
    return out;
}

// A column (or, transposed, a row) with a cell inserted Empty or made Empty at `at`.
CellMatrix edited(const CellMatrix& column, std::size_t at, bool insert, bool asRow) {
    const std::size_t n = column.Rows() + (insert ? 1 : 0);
    CellMatrix result(asRow ? 1 : n, asRow ? n : 1);
    for (std::size_t i = 0, from = 0; i < n; ++i) {
        if (i == at) {
            if (!insert) ++from;
            continue;
        }
        (asRow ? result(0, i) : result(i, 0)) = column(from++, 0);
    }
    return result;
}

CellMatrix sideBySide(const CellMatrix& a, const CellMatrix& b) {
    CellMatrix result(a.Rows(), 2);
    for (std::size_t i = 0; i < a.Rows(); ++i) result(i, 0) = a(i, 0), result(i, 1) = b(i, 0);
    return result;
}

// A one-column (one-row) result without its cell at `at`.
CellMatrix withoutCell(const CellMatrix& m, std::size_t at, bool asRow) {
    const std::size_t n = (asRow ? m.Columns() : m.Rows()) - 1;
    CellMatrix result(asRow ? 1 : n, asRow ? n : 1);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t from = i < at ? i : i + 1;
        (asRow ? result(0, i) : result(i, 0)) = asRow ? m(0, from) : m(from, 0);
    }
    return result;
}

const CellMatrix scores = numbers({3, 1, 4, 1.5, 5, 9}), other = numbers({0.5, 1.5, -0.3, 2.0, 0.7, 1.1});
const CellMatrix indicators = numbers({1, 0, 1, 0, 0, 1});
const CellMatrix pds = numbers({0.3, 0.1, 0.4, 0.2, 0.05, 0.6}), pds2 = numbers({0.2, 0.2, 0.5, 0.1, 0.1, 0.4});
const CellMatrix defaults = numbers({0, 1, 2, 3, 1, 4}), survivals = numbers({100, 80, 60, 40, 30, 20});
const CellMatrix sectors = texts({"Retail", "Energy", "Retail", "Services", "Energy", "Retail"});
const CellMatrix grades = numbers({1, 2, 3, 2, 1, 3}), gradesAfter = numbers({2, 2, 3, 1, 1, 3});

using Call = std::function<CellMatrix(const std::vector<CellMatrix>&)>;
struct Paired {
    int line;
    std::vector<CellMatrix> ranges;  // the paired ranges, as columns
    Call call;
    bool keepsRows = false;  // one result cell per input row
    bool asRow = false;      // the ranges laid out as rows
};

const std::vector<Paired>& pairedCalls() {
    static const std::vector<Paired> calls = {
        {__LINE__, {scores, indicators}, [](const auto& r) { return rocCurveIndividual(r[0], r[1], 0, 1, 4); }},
        {__LINE__, {scores, defaults, survivals},
         [](const auto& r) { return rocCurveAggregate(r[0], r[1], r[2], 1, 1); }},
        {__LINE__, {scores, other, indicators},
         [](const auto& r) { return aurocDifferenceIndividual(r[0], r[1], r[2], 0); }},
        {__LINE__, {scores, pds}, [](const auto& r) { return adjustedPowerStat(r[0], r[1], 0); }},
        {__LINE__, {pds, indicators}, [](const auto& r) { return calibrationTestIndividual(r[0], r[1]); }, false, true},
        {__LINE__, {pds, defaults, survivals},
         [](const auto& r) { return calibrationTestAggregate(r[0], r[1], r[2]); }},
        {__LINE__, {pds, pds2, indicators},
         [](const auto& r) { return calibrationDifferenceIndividual(r[0], r[1], r[2]); }},
        {__LINE__, {sectors, indicators}, [](const auto& r) { return crossTabCategorical(r[0], r[1]); }},
        {__LINE__, {scores, indicators},
         [](const auto& r) { return crossTabNumerical(r[0], r[1], numbers({2}), omitted, omitted); }},
        {__LINE__, {sectors},
         [](const auto& r) {
             return mapCategoricals2Scores(r[0], texts({"Retail", "Energy", "Services"}), numbers({32, 20, 35}));
         },
         true},
        {__LINE__, {scores},
         [](const auto& r) { return mapNumericals2Scores(r[0], numbers({7, 8}), numbers({0, 3}), numbers({3, 10})); },
         true, true},
        {__LINE__, {scores, other, indicators},
         [](const auto& r) {
             CellMatrix names(1, 2), pick = numbers({1, 0}, false);
             names(0, 0) = "Score", names(0, 1) = "Other";
             return logisticRegression(names, pick, sideBySide(r[0], r[1]), r[2]);
         }},
        {__LINE__, {defaults, survivals},
         [](const auto& r) { return lowDefaultPortfolioPD(r[0], r[1], omitted, omitted, omitted); }},
        {__LINE__, {pds, defaults, survivals}, [](const auto& r) { return binomialTest(r[0], r[1], r[2]); }, false,
         true},
        {__LINE__, {scores, indicators},
         [](const auto& r) { return aurocInitialComparison(r[0], r[1], 0, numbers({0.8})); }},
        {__LINE__, {scores, indicators}, [](const auto& r) { return ksStatistic(r[0], r[1], 1); }},
        {__LINE__, {survivals, grades}, [](const auto& r) { return populationStabilityIndex(r[0], r[1]); }},
        {__LINE__, {grades, gradesAfter}, [](const auto& r) { return migrationMatrix(r[0], r[1]); }},
    };
    return calls;
}

std::vector<CellMatrix> laidOut(const Paired& c, std::size_t at, bool insert, std::size_t only) {
    std::vector<CellMatrix> ranges;
    for (std::size_t r = 0; r < c.ranges.size(); ++r) {
        const bool change = insert || r == only;
        ranges.push_back(change ? edited(c.ranges[r], at, insert, c.asRow)
                                : edited(c.ranges[r], c.ranges[r].Rows() + 1, false, c.asRow));
    }
    return ranges;
}

TEST(PairedRows, BlankRowChangesNoResultCellAndHalfBlankRowIsAText) {
    for (const Paired& c : pairedCalls()) {
        SCOPED_TRACE(c.line);
        const std::size_t n = c.ranges[0].Rows();
        const CellMatrix plain = c.call(laidOut(c, n + 1, false, c.ranges.size()));
        ASSERT_NE(plain.Rows() * plain.Columns(), 1u) << render(plain);
        for (std::size_t at = 0; at <= n; ++at) {
            const CellMatrix blank = c.call(laidOut(c, at, true, 0));
            if (c.keepsRows) {
                EXPECT_TRUE((c.asRow ? blank(0, at) : blank(at, 0)).IsEmpty()) << at;
                EXPECT_EQ(render(withoutCell(blank, at, c.asRow)), render(plain)) << at;
            } else {
                EXPECT_EQ(render(blank), render(plain)) << at;
            }
        }
        for (std::size_t r = 0; c.ranges.size() > 1 && r < c.ranges.size(); ++r) {
            for (std::size_t at = 0; at < n; ++at) {
                const std::string text = rejection(c.call(laidOut(c, at, false, r)));
                EXPECT_EQ(text.rfind("The cell range for the ", 0), 0u) << r << " " << at << " " << text;
                EXPECT_NE(text.find((c.asRow ? "column " : "row ") + std::to_string(at + 1)), std::string::npos)
                    << text;
            }
        }
    }
}

// Degenerate inputs are cases of the command-line tests; an infinite count cannot be written there.
TEST(PairedRows, InfiniteCountIsRefused) {
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(rejection(calibrationTestAggregate(numbers({0.1, 0.2}), numbers({1, inf}), numbers({10, 10}))),
              "At least one entry of the cell range for the number of defaults is not a finite number");
}

}  // namespace
}  // namespace Korvanth

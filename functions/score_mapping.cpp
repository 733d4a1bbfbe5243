// Mapping of a risk driver's raw values onto the scores of a scoring table: categories by
// lookup, numbers by the interval of a classification that holds them.
#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "analytics/categories.hpp"
#include "analytics/conversions.hpp"
#include "analytics/worksheet_guard.hpp"
#include "functions/checks.hpp"
#include "functions/paired_ranges.hpp"
#include "functions/result_size.hpp"
#include "functions/worksheet_functions.hpp"

namespace Korvanth {

namespace {

bool isBlock(const CellMatrix& range) { return range.Rows() > 1 && range.Columns() > 1; }

std::vector<double> readNumbers(const CellMatrix& range, const char* name) {
    return range.Columns() == 1 ? cellMatrixToColumnVector(range, name) : cellMatrixToRowVector(range, name);
}

// Cell i of a vector range, read down a column or along a row.
const xlframe::CellValue& entry(const CellMatrix& range, std::size_t i) {
    return range.Columns() == 1 ? range(i, 0) : range(0, i);
}

std::size_t length(const CellMatrix& range) { return range.Columns() == 1 ? range.Rows() : range.Columns(); }

}  // namespace

CellMatrix mapCategoricals2Scores(const CellMatrix& categoricalScores, const CellMatrix& categoricalSet,
                                  const CellMatrix& scoreValueSet) {
    return guardWorksheet([&] {
        if (isBlock(categoricalScores)) fail("The cell range for the categorical scores is not a vector");
        if (isBlock(categoricalSet)) fail("The cell range for the set of categorical value is not a vector");
        if (isBlock(scoreValueSet)) fail("The cell range for the score values is not a vector");
        if (!sameShape(categoricalSet, scoreValueSet))
            fail(
                "The cell ranges for the set of categorical values and the score values do not have the same "
                "dimension");

        const PairedRows set({{categoricalSet, "categoricalSet", "set of categorical values", Cells::categories},
                              {scoreValueSet, "scoreValueSet", "score values"}},
                             categoricalSet.Columns() == 1);
        const std::vector<std::string> keys = set.categories(0);
        const std::vector<double> values = set.numbers(1);
        const bool column = categoricalScores.Columns() == 1;
        const PairedRows debtors({{categoricalScores, "categoricalScores", nullptr, Cells::categories}}, column);
        const std::vector<std::string> scores = debtors.categories(0);

        std::map<std::string, double> table;
        for (std::size_t i = 0; i < keys.size(); ++i) table[keys[i]] = values[i];  // the last occurrence wins

        // Each debtor keeps its own row: an Empty input cell stays Empty in the result.
        const std::size_t n = length(categoricalScores);
        requireShowable(column ? n : 1, column ? 1 : n);
        CellMatrix result(column ? n : 1, column ? 1 : n);
        for (std::size_t k = 0; k < scores.size(); ++k) {
            const auto found = table.find(scores[k]);
            if (found == table.end())
                fail("An entry of the categorical scores is not contained in the categorical set");
            const std::size_t i = debtors.position(k);
            (column ? result(i, 0) : result(0, i)) = found->second;
        }
        return result;
    });
}

CellMatrix mapNumericals2Scores(const CellMatrix& numericalScores, const CellMatrix& scoreValueSet,
                                const CellMatrix& lowerBoundaries, const CellMatrix& upperBoundaries) {
    return guardWorksheet([&] {
        if (!isVector(numericalScores)) fail("The cell range for the numerical scores is not a vector");
        if (!isVector(scoreValueSet)) fail("The cell range for the score values is not a vector");
        if (!isVector(lowerBoundaries))
            fail("The cell range for the lower boundaries of score classings is not a vector");
        if (!isVector(upperBoundaries))
            fail("The cell range for the upper boundaries of score classings is not a vector");
        if (!sameShape(lowerBoundaries, upperBoundaries))
            fail("The cell ranges of the upper and lower boundaries are not identical");
        if (!sameShape(scoreValueSet, upperBoundaries))
            fail("The cell ranges of the score value set and the upper boundaries are not identical");

        // Class j takes its score value from cell j, so no boundary cell may be left out.
        const std::size_t c = length(lowerBoundaries);
        std::vector<double> lower = readNumbers(lowerBoundaries, "lower boundaries");
        const std::vector<double> upper = readNumbers(upperBoundaries, "upper boundaries");
        if (lower.size() != c) fail("The cell range for the lower boundaries of score classings contains empty cells");
        if (upper.size() != c) fail("The cell range for the upper boundaries of score classings contains empty cells");
        requireContiguousClasses(lower, upper);

        const bool column = numericalScores.Columns() == 1;
        const PairedRows debtors({{numericalScores, "numerical scores"}}, column);
        const std::vector<double> scores = debtors.numbers(0);
        const std::size_t n = length(numericalScores);
        requireShowable(column ? n : 1, column ? 1 : n);

        const ScoreClasses classes(std::move(lower), upper);
        CellMatrix result(column ? n : 1, column ? 1 : n);
        // Each debtor keeps its own row: an Empty score cell stays Empty in the result.
        for (std::size_t k = 0; k < scores.size(); ++k) {
            const std::size_t i = debtors.position(k);
            const double x = scores[k];
            const std::ptrdiff_t j = classes.find(x);
            if (j == ScoreClasses::none)
                fail("The score value " + streamText(x) +
                     " cannot be mapped into the given intervals for score classifying");
            (column ? result(i, 0) : result(0, i)) = entry(scoreValueSet, static_cast<std::size_t>(j));
        }
        return result;
    });
}

}  // namespace Korvanth

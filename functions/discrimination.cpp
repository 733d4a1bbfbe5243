// Discriminatory power of rating systems: ROC curves with the AUROC and its confidence
// interval, the chi-square test of the difference of two AUROCs, and the adjusted PowerStat.
#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <numeric>
#include <span>
#include <stdexcept>
#include <utility>
#include <vector>

#include "analytics/concordance.hpp"
#include "analytics/conversions.hpp"
#include "analytics/distributions.hpp"
#include "analytics/matrix.hpp"
#include "analytics/parallel.hpp"
#include "analytics/roc.hpp"
#include "analytics/worksheet_guard.hpp"
#include "functions/checks.hpp"
#include "functions/paired_ranges.hpp"
#include "functions/result_size.hpp"
#include "functions/worksheet_functions.hpp"
#include "xlframe/numeric.hpp"

namespace Korvanth {

namespace {

using Distributions::cumulativeGamma;
using Distributions::inverseCumulativeNormal;

constexpr const char* powerStatUndefinedText =
    "not defined (the area of the perfect rating is zero up to rounding: the shadow PDs do not differ)";

void requireBothOutcomes(std::int64_t defaults, std::int64_t survivals) {
    if (defaults == 0) fail("The data do not contain a single default");
    if (survivals == 0) fail("The data do not contain a single survival");
}

CellMatrix rocTable(const RocStatistics& r, bool withCurve) {
    CellMatrix result(withCurve ? r.curve.size() + 3 : 2, 2);
    result(0, 0) = "AUROC";
    result(0, 1) = r.auroc;
    result(1, 0) = r.lower;
    result(1, 1) = r.upper;
    if (!withCurve) return result;
    result(2, 0) = "False Alarm Rate";
    result(2, 1) = "Hit Rate";
    for (std::size_t j = 0; j < r.curve.size(); ++j) {
        result(3 + j, 0) = r.curve[j].first;
        result(3 + j, 1) = r.curve[j].second;
    }
    return result;
}

struct IndividualData {
    std::vector<double> scores;
    std::vector<int> indicators;
};

IndividualData readIndividual(const CellMatrix& scores, const CellMatrix& indicators, int scoreIndex,
                              int outputIndex) {
    if (!isVector(scores)) fail("The cell range for the scores is not one-dimensional");
    if (!isVector(indicators)) fail("The cell range for the indicators is not one-dimensional");
    if (!sameShape(scores, indicators)) fail("The dimensions of the vectors for scores and indicators are not equal");
    requireZeroOrOne(scoreIndex, "scoreIndex");
    requireZeroOrOne(outputIndex, "outputIndex");
    const PairedRows rows({{indicators, "indicators"}, {scores, "scores"}}, scores.Columns() == 1);
    IndividualData data;
    data.indicators = rows.integers(0);
    data.scores = rows.numbers(1);
    for (int y : data.indicators)
        if (y != 0 && y != 1) fail("At least one indicator is not Zero or One");
    return data;
}

void requireBothOutcomes(const RankedRating& r) {
    requireBothOutcomes(r.totalDefaults, r.totalSurvivals);
}

// The indicators read as numbers made flags, as the cells' integers would be; false at the first
// that is neither 0 nor 1.
bool readFlags(const NumberRange& indicators, Flags& defaulted) {
    defaulted.resize(indicators.rows * indicators.columns);
    for (std::size_t i = 0; i < defaulted.size(); ++i) {
        const std::int32_t flag = xlframe::truncateToInt32(indicators.numbers[i]);
        if (flag != 0 && flag != 1) return false;
        defaulted[i] = static_cast<std::uint8_t>(flag);
    }
    return true;
}

CellMatrix individualRocTable(std::span<const double> scores, const Flags& defaulted, int scoreIndex, int outputIndex,
                              int numBuckets) {
    const RankedRating ranked = rankRating(rankScores(scores, false), defaulted);
    requireBothOutcomes(ranked);
    const Buckets b = rankedBuckets(ranked, scoreIndex);
    const RocStatistics r = computeRocStatistics(b, outputIndex == 1 ? numBuckets : 0, maxSheetRows - 3);
    return rocTable(r, outputIndex == 1);
}

}  // namespace

CellMatrix rocCurveIndividual(const CellMatrix& scores, const CellMatrix& indicators, int scoreIndex, int outputIndex,
                              int numBuckets) {
    return guardWorksheet([&] {
        const IndividualData data = readIndividual(scores, indicators, scoreIndex, outputIndex);
        Flags defaulted(data.indicators.size());
        for (std::size_t i = 0; i < defaulted.size(); ++i) defaulted[i] = data.indicators[i] != 0;
        return individualRocTable(data.scores, defaulted, scoreIndex, outputIndex, numBuckets);
    });
}

CellMatrix rocCurveIndividual(const NumberRange& scores, const NumberRange& indicators, int scoreIndex, int outputIndex,
                              int numBuckets) {
    const NumberRange& s = scores;
    const NumberRange& y = indicators;
    // With valid switches the scores are used as read; anything else goes the long way.
    if (!numberVectorsAlike({&s, &y}) || (scoreIndex != 0 && scoreIndex != 1) || (outputIndex != 0 && outputIndex != 1)) {
        CellMatrix sCells, yCells;
        return rocCurveIndividual(cellsOf(s, sCells), cellsOf(y, yCells), scoreIndex, outputIndex, numBuckets);
    }
    return guardWorksheet([&] {
        Flags defaulted;
        if (!readFlags(y, defaulted)) fail("At least one indicator is not Zero or One");
        return individualRocTable(std::span<const double>(s.numbers, defaulted.size()), defaulted, scoreIndex,
                                  outputIndex, numBuckets);
    });
}

CellMatrix rocCurveAggregate(const CellMatrix& scores, const CellMatrix& numDefaults, const CellMatrix& numSurvivals,
                             int scoreIndex, int outputIndex) {
    return guardWorksheet([&] {
        if (!sameShape(scores, numDefaults))
            fail("The vectors for scores and the number of defaults do not have the same dimension");
        if (!sameShape(scores, numSurvivals))
            fail("The vectors for scores and the number of survivals do not have the same dimension");
        if (!isVector(scores))
            fail("The range of scores must be a vector, either the number of rows or the number of columns must be "
                 "equal to one");
        requireZeroOrOne(scoreIndex, "scoreIndex");
        requireZeroOrOne(outputIndex, "outputIndex");
        const PairedRows rows({{scores, "scores"},
                               {numSurvivals, "numSurvivals", "number of survivals"},
                               {numDefaults, "numDefaults", "number of defaults"}},
                              scores.Columns() == 1);
        const std::vector<double> s = rows.numbers(0);
        const std::vector<int> survivals = rows.counts(1);
        const std::vector<int> defaults = rows.counts(2);
        const std::size_t cells = rows.size();
        std::vector<Grade> grades(cells);
        std::int64_t nd = 0, ns = 0;
        for (std::size_t i = 0; i < cells; ++i) {
            if (defaults[i] < 0) fail("At least one of the number of defaults is a negative number");
            if (survivals[i] < 0) fail("At least one of the number of survivals is a negative number");
            grades[i] = {s[i], static_cast<double>(survivals[i]), static_cast<double>(defaults[i])};
            nd += defaults[i];
            ns += survivals[i];
        }
        requireBothOutcomes(nd, ns);
        const Buckets b = aggregateBuckets(std::move(grades), nd, ns, scoreIndex);
        const RocStatistics r = computeRocStatistics(b, outputIndex == 1 ? static_cast<long long>(cells) : 0,
                                                     b.p.size() + 1);
        return rocTable(r, outputIndex == 1);
    });
}

namespace {

struct Rating {
    double auroc, sigma;
};

Rating rating(const RocStatistics& r) { return {r.auroc, (r.auroc - r.lower) / inverseCumulativeNormal(0.975)}; }
Rating rating(const Buckets& b) { return rating(computeRocStatistics(b, 0, 0)); }

CellMatrix differenceTable(const Rating& r1, const Rating& r2, double nd, double ns, double pds, double pdds,
                           double pssd) {
    const double cov = ((nd - 1) * pdds + pds + (ns - 1) * pssd - 4 * (ns + nd - 1) * (r1.auroc - 0.5) * (r2.auroc - 0.5)) /
                       (4 * (nd - 1) * (ns - 1));
    const double t = (r1.auroc - r2.auroc) * (r1.auroc - r2.auroc) / (r1.sigma * r1.sigma + r2.sigma * r2.sigma - 2 * cov);
    CellMatrix result(5, 3);
    result(0, 0) = "";
    result(0, 1) = "Rating 1";
    result(0, 2) = "Rating 2";
    result(1, 0) = "AUROC";
    result(1, 1) = r1.auroc;
    result(1, 2) = r2.auroc;
    result(2, 0) = "Sigma";
    result(2, 1) = r1.sigma;
    result(2, 2) = r2.sigma;
    result(3, 0) = "Cov";
    result(3, 1) = "Test Statistic";
    result(3, 2) = "p-Value";
    result(4, 0) = cov;
    result(4, 1) = t;
    result(4, 2) = 1.0 - cumulativeGamma(t / 2, 0.5);
    return result;
}

// Rows from which the ratings are ranked, and then summed, on two threads: below, starting a
// thread costs more than it saves.
constexpr std::size_t parallelRatingRows = 65536;

// The test from each rating's scores (scoresOf(0) and scoresOf(1)) and the defaults. Whatever
// either rating's ROC would reject, it reports alike; running out of memory reaches the guard.
// For a long column the two ratings are ranked on two threads, and then the pairs terms are
// summed on one while the ROCs are summed on the other. Each task writes only its own results,
// so they are those of one thread.
template <class ScoresOf>
CellMatrix differenceOfRatings(ScoresOf scoresOf, const Flags& defaulted, int scoreIndex) {
    const unsigned threads = defaulted.size() >= parallelRatingRows ? 0 : 1;
    RankedRating ranked[2];
    try {
        // The pairs terms read rating 2's ranks by debtor, rating 1's order.
        runInParallel(2, threads,
                      [&](std::size_t k) { ranked[k] = rankRating(rankScores(scoresOf(k), k == 1), defaulted); });
        requireBothOutcomes(ranked[0]);
    } catch (const std::bad_alloc&) {
        throw;
    } catch (...) {
        return textResult(unknownErrorText);
    }
    // The pairs terms' first steps side by side (gathering on both threads was slower), then
    // their sums beside both ROCs.
    PairsTermsSteps steps(ranked[0], ranked[1], defaulted);
    runInParallel(2, threads, [&](std::size_t task) { task == 0 ? steps.placeRanks() : steps.gather(); });
    Rating r1{}, r2{};
    PairsTerms terms;
    bool rocsFailed = false;  // as either ROC would report it, whatever the pairs terms meet
    try {
        runInParallel(2, threads, [&](std::size_t task) {
            if (task == 1) {
                terms = steps.sum();
                return;
            }
            try {
                r1 = rating(rankedRocStatistics(ranked[0], scoreIndex));
                r2 = rating(rankedRocStatistics(ranked[1], scoreIndex));
            } catch (const std::bad_alloc&) {
                throw;
            } catch (...) {
                rocsFailed = true;
            }
        });
    } catch (...) {
        if (!rocsFailed) throw;
    }
    if (rocsFailed) return textResult(unknownErrorText);
    const double nd = static_cast<double>(ranked[0].totalDefaults);
    const double ns = static_cast<double>(defaulted.size()) - nd;
    const double pds = static_cast<double>(terms.count) / (ns * nd);
    const double pdds = terms.survivalTriple / (nd * nd * ns);
    const double pssd = terms.defaultTriple / (ns * ns * nd);
    return differenceTable(r1, r2, nd, ns, pds, pdds, pssd);
}

}  // namespace

CellMatrix aurocDifferenceIndividual(const CellMatrix& scoresRating1, const CellMatrix& scoresRating2,
                                     const CellMatrix& indicators, int scoreIndex) {
    return guardWorksheet([&] {
        // Whatever either rating's ROC would reject, this function reports alike. Only the ROCs
        // are covered: the pairing of the rows and the test itself give their own texts, and
        // running out of memory reaches the guard.
        try {
            if (!isVector(scoresRating1) || !isVector(indicators) || !sameShape(scoresRating1, indicators) ||
                !sameShape(scoresRating2, indicators) || (scoreIndex != 0 && scoreIndex != 1))
                fail("");
        } catch (const std::bad_alloc&) {
            throw;
        } catch (...) {
            return textResult(unknownErrorText);
        }
        const PairedRows rows({{scoresRating1, "scores", "scores of rating 1"},
                               {scoresRating2, "scores", "scores of rating 2"},
                               {indicators, "indicators"}},
                              scoresRating1.Columns() == 1);
        Flags defaulted(rows.size());
        try {
            const std::vector<int> y = rows.integers(2);
            for (std::size_t i = 0; i < defaulted.size(); ++i) {
                if (y[i] != 0 && y[i] != 1) fail("");
                defaulted[i] = static_cast<std::uint8_t>(y[i]);
            }
        } catch (const std::bad_alloc&) {
            throw;
        } catch (...) {
            return textResult(unknownErrorText);
        }
        return differenceOfRatings([&](std::size_t k) { return rows.keptNumbers(k); }, defaulted, scoreIndex);
    });
}

CellMatrix aurocDifferenceIndividual(const NumberRange& scoresRating1, const NumberRange& scoresRating2,
                                     const NumberRange& indicators, int scoreIndex) {
    const NumberRange& s1 = scoresRating1;
    const NumberRange& s2 = scoresRating2;
    const NumberRange& y = indicators;
    // With a valid switch the scores are ranked as read; anything else goes the long way.
    if (!numberVectorsAlike({&y, &s1, &s2}) || (scoreIndex != 0 && scoreIndex != 1)) {
        CellMatrix cells1, cells2, yCells;
        return aurocDifferenceIndividual(cellsOf(s1, cells1), cellsOf(s2, cells2), cellsOf(y, yCells), scoreIndex);
    }
    return guardWorksheet([&] {
        Flags defaulted;
        if (!readFlags(y, defaulted)) return textResult(unknownErrorText);
        return differenceOfRatings(
            [&](std::size_t k) { return std::span<const double>((k == 0 ? s1 : s2).numbers, defaulted.size()); },
            defaulted, scoreIndex);
    });
}

CellMatrix aurocDifferenceAggregate(const CellMatrix& scores, const CellMatrix& matrixDefaults,
                                    const CellMatrix& matrixSurvivals, int scoreIndex) {
    return guardWorksheet([&] {
        if (!isVector(scores)) fail("The cell range for the rating scores is not a vector");
        if (matrixDefaults.Rows() != matrixDefaults.Columns())
            fail("The cell range for the matrix of defaults is not quadratic");
        if (matrixSurvivals.Rows() != matrixSurvivals.Columns())
            fail("The cell range for the matrix of survivals is not quadratic");
        const bool column = scores.Columns() == 1;
        const std::size_t n = column ? scores.Rows() : scores.Columns();
        if (matrixDefaults.Columns() != n)
            fail("The dimension of the matrix of defaults does not equal the number of rating scores");
        if (matrixSurvivals.Columns() != n)
            fail("The dimension of the matrix of survivals does not equal the number of rating scores");
        const Matrix dm = cellMatrixToDenseMatrix(matrixDefaults, "matrix of defaults");
        const Matrix sm = cellMatrixToDenseMatrix(matrixSurvivals, "matrix of survivals");
        if (dm.rows() != n || dm.columns() != n) fail("The matrix of defaults contains empty cells");
        if (sm.rows() != n || sm.columns() != n) fail("The matrix of survivals contains empty cells");
        std::vector<std::int64_t> d1(n, 0), s1(n, 0), d2(n, 0), s2(n, 0);
        std::vector<double> gradeScores(n);
        for (std::size_t u = 0; u < n; ++u) {
            for (std::size_t j = 0; j < n; ++j) {
                // The entries weigh the pairs as they stand, so a negative fraction is refused too.
                if (!std::isfinite(dm(u, j))) fail("At least one entry of the matrix of defaults is not a finite number");
                if (dm(u, j) < 0) fail("At least one entry of the matrix of defaults is a negative mumber");
                if (!std::isfinite(sm(u, j)))
                    fail("At least one entry of the matrix of survivals is not a finite number");
                if (sm(u, j) < 0) fail("At least one entry of the matrix of survivals is a negative mumber");
                const std::int32_t d = xlframe::truncateToInt32(dm(u, j));
                const std::int32_t s = xlframe::truncateToInt32(sm(u, j));
                d1[j] += d, s1[j] += s, d2[u] += d, s2[u] += s;
            }
            const xlframe::CellValue& cell = column ? scores(u, 0) : scores(0, u);
            if (cell.IsEmpty()) fail("At least one entry of the vector of scores is empty");
            if (!cell.IsNumber()) fail("At least one entry of the vector of scores is not a number");
            gradeScores[u] = cell.GetNumber();
        }
        const std::int64_t ndInt = std::accumulate(d1.begin(), d1.end(), std::int64_t{0});
        const std::int64_t nsInt = std::accumulate(s1.begin(), s1.end(), std::int64_t{0});
        Rating r1{}, r2{};
        try {
            if (scoreIndex != 0 && scoreIndex != 1) fail("");
            std::vector<Grade> g1(n), g2(n);
            for (std::size_t i = 0; i < n; ++i) {
                g1[i] = {gradeScores[i], static_cast<double>(s1[i]), static_cast<double>(d1[i])};
                g2[i] = {gradeScores[i], static_cast<double>(s2[i]), static_cast<double>(d2[i])};
            }
            requireBothOutcomes(ndInt, nsInt);
            r1 = rating(aggregateBuckets(std::move(g1), ndInt, nsInt, scoreIndex));
            r2 = rating(aggregateBuckets(std::move(g2), ndInt, nsInt, scoreIndex));
        } catch (const std::bad_alloc&) {
            throw;
        } catch (...) {
            return textResult(unknownErrorText);
        }
        std::vector<double> cd1(n + 1, 0), cs1(n + 1, 0), cd2(n + 1, 0), cs2(n + 1, 0);  // cd1[v + 1] = d1[0..v]
        for (std::size_t i = 0; i < n; ++i) {
            cd1[i + 1] = cd1[i] + static_cast<double>(d1[i]);
            cs1[i + 1] = cs1[i] + static_cast<double>(s1[i]);
            cd2[i + 1] = cd2[i] + static_cast<double>(d2[i]);
            cs2[i + 1] = cs2[i] + static_cast<double>(s2[i]);
        }
        const double nd = static_cast<double>(ndInt), ns = static_cast<double>(nsInt);
        const double pairs = aggregatePairsTerm(dm, sm);
        double dds = 0, ssd = 0;
        for (std::size_t u = 0; u < n; ++u) {
            for (std::size_t v = 0; v < n; ++v) {
                const double gd1 = nd - cd1[v + 1], ld1 = cd1[v], gd2 = nd - cd2[u + 1], ld2 = cd2[u];
                dds += sm(u, v) * (gd1 * gd2 + ld1 * ld2 - gd1 * ld2 - ld1 * gd2);
                const double gs1 = ns - cs1[v + 1], ls1 = cs1[v], gs2 = ns - cs2[u + 1], ls2 = cs2[u];
                ssd += dm(u, v) * (gs1 * gs2 + ls1 * ls2 - gs1 * ls2 - ls1 * gs2);
            }
        }
        return differenceTable(r1, r2, nd, ns, pairs / (ns * nd), dds / (ns * nd * nd), ssd / (ns * ns * nd));
    });
}

CellMatrix adjustedPowerStat(const CellMatrix& scores, const CellMatrix& shadowPDs, int scoreIndex) {
    return guardWorksheet([&] {
        if (!isVector(scores)) fail("The cell range for the scores is not one-dimensional");
        if (!isVector(shadowPDs)) fail("The cell range for the shadowPDs is not one-dimensional");
        if (!sameShape(scores, shadowPDs)) fail("The dimensions of the vectors for scores and shadowPDs are not equal");
        requireZeroOrOne(scoreIndex, "scoreIndex");
        const PairedRows rows({{shadowPDs, "shadow PDs"}, {scores, "scores"}}, scores.Columns() == 1);
        const std::vector<double> pd = rows.numbers(0);
        const std::vector<double> s = rows.numbers(1);
        const std::size_t cells = rows.size();
        std::vector<std::pair<std::uint64_t, double>> debtors(cells);
        for (std::size_t i = 0; i < cells; ++i) {
            if (!(pd[i] >= 0.0 && pd[i] <= 1.0)) fail("At least one shadow PD is not in [0,1]");
            const std::uint64_t key = orderKey(s[i]);
            debtors[i] = {scoreIndex == 0 ? key : ~key, pd[i]};
        }
        std::stable_sort(debtors.begin(), debtors.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        std::vector<double> perfect = pd;
        std::sort(perfect.begin(), perfect.end(), [](double a, double b) { return a > b; });
        double total = 0;
        for (double x : perfect) total += x;
        const double n = static_cast<double>(cells);
        double areaRating = 0, areaPerfect = 0, x0 = 0, rating0 = 0, perfect0 = 0, sumRating = 0, sumPerfect = 0;
        for (std::size_t k = 1; k <= cells; ++k) {
            sumRating += debtors[k - 1].second;
            sumPerfect += perfect[k - 1];
            const double x = static_cast<double>(k) / n;
            const double yr = sumRating / total, yp = sumPerfect / total;
            const double w = (x - x0) * 0.5;
            areaRating += (yr + rating0 - x - x0) * w;
            areaPerfect += (yp + perfect0 - x - x0) * w;
            x0 = x, rating0 = yr, perfect0 = yp;
        }
        CellMatrix result(3, 2);
        result(0, 0) = "Adjusted PowerStat";
        // Equal shadow PDs leave the perfect rating on the diagonal: its area is a rounding residue
        // (of the cumulated sums, at most about n epsilon), and so would the quotient be.
        if (perfect.front() == perfect.back() || !(areaPerfect > 4.0 * (n + 1.0) * DBL_EPSILON))
            result(0, 1) = powerStatUndefinedText;
        else
            result(0, 1) = areaRating / areaPerfect;
        result(1, 0) = "Area Rating";
        result(1, 1) = areaRating;
        result(2, 0) = "Area Perfect Rating";
        result(2, 1) = areaPerfect;
        return result;
    });
}

}  // namespace Korvanth

// The statistics of an annual validation of a rating model: back-tests of the grades' PDs, the
// change of the AUROC since the initial validation, the Kolmogorov-Smirnov distance, the
// concentration over the grades, the stability against a reference population and the
// migrations between grades. Plain numbers in, plain numbers out; the worksheet functions check
// their input, so these only require what their formulas need.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace Korvanth::Supervisory {

// One-sided p-values of a grade with `debtors` debtors, `defaults` defaults (0 <= defaults <=
// debtors, debtors > 0) and PD `pd` in [0, 1]. Jeffreys: the Beta(D + 1/2, N - D + 1/2)
// distribution function at the PD. Binomial: the probability of `defaults` or more defaults
// among independent debtors of that PD.
// Counts are whole numbers held as doubles, as a sheet holds them.
double jeffreysPValue(double debtors, double defaults, double pd);
double binomialPValue(double debtors, double defaults, double pd);

// 1 - Φ(x), without the cancellation of the subtraction in the upper tail.
double upperNormalTail(double x);

// Debtors grouped by tied score, riskiest group first: defaults and survivals per group.
struct ScoreGroups {
    std::vector<std::int64_t> defaults;
    std::vector<std::int64_t> survivals;
};

// The AUROC and its DeLong standard error from the placement values (ties count one half).
// Requires at least two defaults and two survivals.
struct DeLong {
    double auroc = 0;
    double standardError = 0;
};
DeLong deLong(const ScoreGroups& groups);

// The largest |hit rate - false alarm rate| over the thresholds at each group's end, compared in
// counts, and the first group that reaches it. Requires a default and a survival.
struct KolmogorovSmirnov {
    double distance = 0;
    std::size_t group = 0;
};
KolmogorovSmirnov kolmogorovSmirnov(const ScoreGroups& groups);

// Coefficient of variation of the grades' shares and the Herfindahl index built on it (0 for an
// even spread, 1 for everything in one grade). Requires two grades and a positive total.
struct Concentration {
    double coefficientOfVariation = 0;
    double herfindahlIndex = 0;
};
Concentration concentration(std::span<const double> counts);

// Shares of both populations per grade and the contributions (current - reference) ln(current /
// reference) to the population stability index. Requires every count positive.
struct Stability {
    std::vector<double> referenceShares, currentShares, contributions;
    double index = 0;
};
Stability populationStability(std::span<const double> reference, std::span<const double> current);

// Migrations between grades 1..K (K the largest grade seen; both vectors as long, grades >= 1).
struct Migrations {
    std::size_t grades = 0;                    // K
    std::vector<std::int64_t> startingTotals;  // debtors per starting grade
    struct Cell {
        std::size_t from, to;  // zero-based grades
        std::int64_t debtors;
    };
    std::vector<Cell> cells;  // the non-empty cells, by starting then final grade
    double stayed = 0, upgraded = 0, downgraded = 0, movedTwoOrMore = 0;  // shares of all debtors
};
Migrations migrations(std::span<const std::int64_t> before, std::span<const std::int64_t> after);

}  // namespace Korvanth::Supervisory

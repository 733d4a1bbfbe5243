// PD estimates for the grades of a low-default portfolio by the most prudent estimation of
// Pluto and Tasche: the PD of a grade is the upper confidence bound, at the given quantile, of
// the PD of the portfolio made of that grade and all worse ones.
//
//   std::vector<LowDefaultPortfolio::GradeCounts> counts = {{0, 100}, {0, 200}, {1, 300}};  // best first
//   std::vector<double> pd = LowDefaultPortfolio::plutoTasche(counts, 0.999, 0.0);
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "analytics/function1d.hpp"

namespace Korvanth::LowDefaultPortfolio {

// (defaults, survivals) of one grade.
using GradeCounts = std::pair<int, int>;

// p -> P(X <= defaults) for X binomial with `trials` and success probability p.
class LikelihoodCalculator : public Function1D {
public:
    double operator()(double p) const override;

    // Cumulated over grades, so kept in 64 bits.
    std::int64_t trials = 0;
    std::int64_t defaults = 0;
};

// p -> the same probability with defaults that depend on a standard normal systematic factor
// through the asset correlation: the binomial probability mixed over the factor.
class LikelihoodCalculatorCorr : public Function1D {
public:
    double operator()(double p) const override;

    // The binomial probability given the factor value y, times the factor's density.
    class LikelihoodCalculatorCorrIntegrand : public Function1D {
    public:
        LikelihoodCalculatorCorrIntegrand(std::int64_t trials, std::int64_t defaults, double correlation, double pd);
        double operator()(double y) const override;

        std::int64_t trials = 0;
        std::int64_t defaults = 0;
        double correlation = 0.0;
        double pd = 0.0;

    private:
        // Independent of y, so worked out once per likelihood value rather than at every node.
        double threshold_;
        double sqrtCorrelation_;
        double sqrtComplement_;
    };

    std::int64_t trials = 0;
    std::int64_t defaults = 0;
    double correlation = 0.0;
};

// Independent defaults. No validation: bad counts surface as errors of the binomial
// distribution or as code 192 (no root). 0 < averagePortfolioPD < 1 rescales the PDs so that
// their average weighted by the grades' observations equals it.
std::vector<double> plutoTasche(const std::vector<GradeCounts>& counts, double quantile, double averagePortfolioPD);

// Correlated defaults (codes 193, 194, 196, 197, 192). The grades are searched in parallel on
// `threads` threads (0: one per core); the result does not depend on their number.
std::vector<double> plutoTascheCorrelated(const std::vector<GradeCounts>& counts, double correlation,
                                          double quantile, double averagePortfolioPD, unsigned threads = 0);

}  // namespace Korvanth::LowDefaultPortfolio

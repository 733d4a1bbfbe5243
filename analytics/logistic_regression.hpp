// Logistic regression of default indicators on risk drivers by maximum likelihood, with a
// likelihood-ratio test of every coefficient (the constant included).
//
//   LogisticRegression::RegressionData data(indicators, factors);   // one row per observation
//   LogisticRegression::RegressionResult result;
//   LogisticRegression::estimate(data, result);   // result.coefficients[0] is the constant
#pragma once

#include <cstddef>
#include <vector>

#include "analytics/matrix.hpp"
#include "analytics/newton.hpp"

namespace Korvanth::LogisticRegression {

// More factors than this are refused: the Hessian of n factors takes n^2 doubles, and its
// Gauss-Jordan solve n^3 operations, in every Newton step of every fit.
inline constexpr std::size_t maximumFactors = 1000;
inline constexpr const char* tooManyFactorsText = "The number of factors exceeds the limit of 1000";

// The observations of one regression. `evaluate` of a LogLikelihood on it writes the model PDs,
// and `estimate` swaps its factor matrix between fits, so a data set serves one call at a time.
class RegressionData {
public:
    // Indicators must be 0 or 1, one per row of `factors`.
    RegressionData(std::vector<int> indicators, Matrix factors);

    std::vector<int> indicators;
    std::vector<int> defaultRows;   // observations with indicator 1, ascending
    std::vector<int> survivalRows;  // observations with indicator 0, ascending
    std::vector<double> defaultPDs;
    std::vector<double> survivalPDs;
    Matrix factors;  // one row per observation, one column per factor
};

struct RegressionResult {
    double logLikelihood = 0.0;  // of the full model
    // One entry per coefficient: index 0 the constant, index j the j-th factor column.
    std::vector<double> coefficients;
    std::vector<double> likelihoodRatios;
    std::vector<double> pValues;
};

// The log-likelihood of the logistic model PD = 1 / (1 + exp(-score)) as a function of the
// coefficients. With the constant, coefficient 0 is the constant and coefficient j weighs factor
// column j - 1; without it, coefficient j weighs column j. Only as many columns as there are
// coefficients are used.
//
// The sums run over fixed chunks of observations whose partial sums are added in chunk order,
// so the result is the same whatever the number of threads that compute the chunks.
class LogLikelihood : public FunctionND_Der {
public:
    // `data` is not owned and must outlive the functor. `threads` 0 means one per core.
    explicit LogLikelihood(RegressionData* data, unsigned threads = 0) : data_(data), threads_(threads) {}

    void evaluate(const std::vector<double>& x, double& value, std::vector<double>& gradient,
                  Matrix& hessian) override;

    bool withConstant = true;

private:
    RegressionData* data_;
    unsigned threads_;
};

// The full fit and one fit without each coefficient, each by Newton's method from zero.
// `data` has its own factor matrix again on return, also when a fit fails. More than
// maximumFactors factor columns are refused with tooManyFactorsText.
void estimate(RegressionData& data, RegressionResult& result, unsigned threads = 0);

}  // namespace Korvanth::LogisticRegression

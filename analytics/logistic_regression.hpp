// Logistic regression of default indicators on risk drivers by maximum likelihood, with a
// likelihood-ratio test of every coefficient (the constant included).
//
//   LogisticRegression::RegressionData data(indicators, factors);   // one row per observation
//   LogisticRegression::RegressionResult result;
//   LogisticRegression::estimate(data, result);   // result.coefficients[0] is the constant
#pragma once

#include <cstddef>
#include <limits>
#include <vector>

#include "analytics/matrix.hpp"
#include "analytics/newton.hpp"

namespace Korvanth::LogisticRegression {

// More factors than this are refused: every Newton step of each of the factors + 2 fits sums a
// Hessian of n^2 / 2 entries over all observations and solves it with n^3 operations.
inline constexpr std::size_t maximumFactors = 400;
inline constexpr const char* tooManyFactorsText = "The number of factors exceeds the limit of 400";

// The observations of one regression, laid out for the sums: row by row, the survivals first and
// then the defaults (each in their original order), every row the regressors 1, x_1 .. x_k.
class RegressionData {
public:
    // Indicators must be 0 or 1, one per row of `factors`.
    RegressionData(const std::vector<int>& indicators, const Matrix& factors);

    std::size_t observations = 0;
    std::size_t survivals = 0;  // the first `survivals` rows are those with indicator 0
    std::size_t width = 1;      // regressors per row: the constant's 1 and one per factor
    std::vector<double> regressors;
};

struct RegressionResult {
    double logLikelihood = 0.0;  // of the full model
    // One entry per coefficient: index 0 the constant, index j the j-th factor column.
    std::vector<double> coefficients;
    std::vector<double> likelihoodRatios;
    std::vector<double> pValues;
};

// The log-likelihood of the logistic model PD = 1 / (1 + exp(-score)) as a function of the
// coefficients: those of all regressors, or of all but the `dropped` one (0 the constant, j
// factor column j - 1), in regressor order.
//
// The sums run over fixed chunks of observations whose partial sums are added in chunk order,
// so the result is the same whatever the number of threads that compute the chunks.
class LogLikelihood : public FunctionND_Der {
public:
    static constexpr std::size_t keepAll = std::numeric_limits<std::size_t>::max();

    // `data` is not owned and must outlive the functor. `threads` 0 means one per core.
    explicit LogLikelihood(const RegressionData& data, std::size_t dropped = keepAll, unsigned threads = 1);

    void evaluate(const std::vector<double>& x, double& value, std::vector<double>& gradient,
                  Matrix& hessian) override;

    // With deferValue, evaluate gives NaN for the value, saving a logarithm per observation;
    // valueOfLastEvaluation then gives every digit evaluate would have given at its last point.
    bool deferValue = false;
    double valueOfLastEvaluation() const;

private:
    const RegressionData& data_;
    std::size_t dropped_;
    unsigned threads_;
    std::size_t coefficients_;
    std::size_t rowsPerChunk_;
    std::size_t chunks_;
    std::vector<double> coefficientsByRegressor_;  // 0 for the dropped one
    std::vector<double> partials_;                 // per chunk when threads share them
    std::vector<double> total_;
    std::vector<std::vector<double>> scratch_;     // per thread
    std::vector<double> pds_;                      // of the last evaluation, in the order of the rows
};

// The full fit and one fit without each coefficient, each by Newton's method from zero, side by
// side on `threads` threads (0: one per core); the result does not depend on their number. More
// than maximumFactors factor columns are refused with tooManyFactorsText.
void estimate(const RegressionData& data, RegressionResult& result, unsigned threads = 0);

}  // namespace Korvanth::LogisticRegression

// Normal and gamma distribution functions: fixed approximations, so that every p-value
// and interval bound of the worksheet functions is reproducible digit for digit.
#pragma once

#include "analytics/function1d.hpp"

namespace Korvanth::Distributions {

// Normal distribution.
double cumulativeNormal(double x);
// Clamped to [-7, 7].
double inverseCumulativeNormal(double p);
// Requires -1 <= t <= 1 (code 81 otherwise).
double chebyshevTailSeries(double t);
double normalDensity(double x);
double cumulativeNormalApprox(double x);

// Gamma distribution.
double logGamma(double x);
// P(a, x), the regularised lower incomplete gamma function: the point first, then the shape.
// The chi-square distribution function with k degrees of freedom at s is cumulativeGamma(s / 2, k / 2).
double cumulativeGamma(double x, double a);
double inverseCumulativeGamma(double p, double a);

// x -> cumulativeGamma(x, a) for the root search of the inverse.
class GammaCalculator : public Function1D {
public:
    explicit GammaCalculator(double a) : a_(a) {}
    double operator()(double x) const override;

private:
    double a_;
};

}  // namespace Korvanth::Distributions

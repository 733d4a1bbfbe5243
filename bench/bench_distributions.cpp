// Cost per call of the distribution functions, over arguments spread across their branches.
#include <benchmark/benchmark.h>

#include <boost/math/distributions/binomial.hpp>
#include <boost/math/policies/policy.hpp>
#include <cmath>
#include <cstddef>
#include <random>
#include <vector>

#include "analytics/distributions.hpp"

namespace {

namespace D = Korvanth::Distributions;

constexpr std::size_t points = 4096;  // a power of two, so the argument index wraps with a mask

std::vector<double> spread(double lo, double hi, unsigned seed) {
    std::mt19937_64 gen(seed);
    std::uniform_real_distribution<double> u(lo, hi);
    std::vector<double> v(points);
    for (double& x : v) x = u(gen);
    return v;
}

// Arguments prepared before the timing, so that each loop costs one call and one load.
template <typename F>
void perCall(benchmark::State& state, const std::vector<double>& xs, F f) {
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(f(xs[i]));
        i = (i + 1) & (points - 1);
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_CumulativeNormal(benchmark::State& state) {
    static const std::vector<double> xs = spread(-7.0, 7.0, 1);
    perCall(state, xs, D::cumulativeNormal);
}
BENCHMARK(BM_CumulativeNormal);

void BM_InverseCumulativeNormal(benchmark::State& state) {
    static const std::vector<double> ps = spread(0.0, 1.0, 2);
    perCall(state, ps, D::inverseCumulativeNormal);
}
BENCHMARK(BM_InverseCumulativeNormal);

// Tails only: the Chebyshev series with its two logarithms.
void BM_InverseCumulativeNormalTail(benchmark::State& state) {
    static const std::vector<double> ps = spread(1e-10, 0.08, 3);
    perCall(state, ps, D::inverseCumulativeNormal);
}
BENCHMARK(BM_InverseCumulativeNormalTail);

void BM_LogGamma(benchmark::State& state) {
    static const std::vector<double> xs = spread(0.01, 100.0, 4);
    perCall(state, xs, D::logGamma);
}
BENCHMARK(BM_LogGamma);

// Chi-square p-values of one degree of freedom as the AUROC test forms them: a = 0.5,
// statistic up to 20, so both the series and the continued fraction run.
void BM_CumulativeGammaChiSquare1(benchmark::State& state) {
    static const std::vector<double> xs = spread(0.0, 10.0, 5);
    perCall(state, xs, [](double x) { return D::cumulativeGamma(x, 0.5); });
}
BENCHMARK(BM_CumulativeGammaChiSquare1);

// The Hosmer-Lemeshow and likelihood-ratio shapes: a = 5, points around the mean.
void BM_CumulativeGammaShape5(benchmark::State& state) {
    static const std::vector<double> xs = spread(0.1, 20.0, 6);
    perCall(state, xs, [](double x) { return D::cumulativeGamma(x, 5.0); });
}
BENCHMARK(BM_CumulativeGammaShape5);

void BM_InverseCumulativeGamma(benchmark::State& state) {
    static const std::vector<double> ps = spread(0.001, 0.999, 7);
    perCall(state, ps, [](double p) { return D::inverseCumulativeGamma(p, 2.5); });
}
BENCHMARK(BM_InverseCumulativeGamma);

// The binomial distribution function as the correlated likelihood calls it: 100,000 trials, 52
// defaults, success probabilities from factor values spread over the integration interval [-6, 6]
// (about 2e-8 to 0.14). Boost.Math's default policy works in long double; the second benchmark
// keeps double, to show what that promotion costs on each platform.
const std::vector<double>& integrandProbabilities() {
    static const std::vector<double> qs = [] {
        std::vector<double> v = spread(-6.0, 6.0, 8);
        const double c = D::inverseCumulativeNormal(0.001);
        for (double& y : v) y = D::cumulativeNormal((c - std::sqrt(0.12) * y) / std::sqrt(1.0 - 0.12));
        return v;
    }();
    return qs;
}

constexpr double binomialTrials = 100000.0;
constexpr double binomialDefaults = 52.0;

void BM_BinomialCdf(benchmark::State& state) {
    perCall(state, integrandProbabilities(), [](double q) {
        return boost::math::cdf(boost::math::binomial_distribution<double>(binomialTrials, q), binomialDefaults);
    });
}
BENCHMARK(BM_BinomialCdf);

using DoublePolicy = boost::math::policies::policy<boost::math::policies::promote_double<false>>;

void BM_BinomialCdfNoPromotion(benchmark::State& state) {
    perCall(state, integrandProbabilities(), [](double q) {
        return boost::math::cdf(boost::math::binomial_distribution<double, DoublePolicy>(binomialTrials, q),
                                binomialDefaults);
    });
}
BENCHMARK(BM_BinomialCdfNoPromotion);

}  // namespace

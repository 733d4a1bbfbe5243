// The Pluto-Tasche estimators with independent and with correlated defaults.
#include "analytics/low_default_portfolio.hpp"

#include <algorithm>
#include <cmath>

#include <boost/make_shared.hpp>
#include <boost/math/distributions/binomial.hpp>

#include "analytics/distributions.hpp"
#include "analytics/error.hpp"
#include "analytics/parallel.hpp"

namespace Korvanth::LowDefaultPortfolio {

namespace {

// 1 / sqrt(2 pi), computed once at load.
const double inverseSqrtTwoPi = 1.0 / std::sqrt(2.0 * std::acos(-1.0));

constexpr double rootTolerance = 1e-10;
constexpr double factorLimit = 6.0;
constexpr double factorStep = 0.1;

double binomialCdf(std::int64_t trials, std::int64_t defaults, double p) {
    const boost::math::binomial_distribution<double> distribution(static_cast<double>(trials), p);
    return boost::math::cdf(distribution, static_cast<double>(defaults));
}

// K(i) and N(i): defaults and observations of grade i and all worse grades, in 64 bits so that
// large portfolios cannot overflow.
struct Cumulated {
    std::vector<std::int64_t> defaults;
    std::vector<std::int64_t> trials;
};

Cumulated cumulate(const std::vector<GradeCounts>& counts) {
    Cumulated result{std::vector<std::int64_t>(counts.size()), std::vector<std::int64_t>(counts.size())};
    std::int64_t defaults = 0;
    std::int64_t trials = 0;
    for (std::size_t i = counts.size(); i-- > 0;) {
        defaults += counts[i].first;
        trials += std::int64_t{counts[i].first} + counts[i].second;
        result.defaults[i] = defaults;
        result.trials[i] = trials;
    }
    return result;
}

// The grade's own observations weigh its PD in the average.
void rescale(std::vector<double>& pd, const std::vector<GradeCounts>& counts, double averagePortfolioPD) {
    if (!(averagePortfolioPD > 0.0 && averagePortfolioPD < 1.0)) return;
    std::int64_t observations = 0;
    double weighted = 0.0;
    for (std::size_t i = 0; i < counts.size(); ++i) {
        const std::int64_t n = std::int64_t{counts[i].first} + counts[i].second;
        observations += n;
        weighted += static_cast<double>(n) * pd[i];
    }
    // PDs that are all zero (a quantile of 0 or below) cannot be brought to a positive average.
    if (!(weighted > 0.0))
        throw KorvanthTextException("The PD estimates are zero and cannot be scaled to the average portfolio PD");
    const double factor = averagePortfolioPD * static_cast<double>(observations) / weighted;
    for (double& p : pd) p *= factor;
}

double searchRoot(const boost::shared_ptr<Function1D>& likelihood, double quantile) {
    double root = 0.0;
    if (findRoot(likelihood, 1.0 - quantile, root, 0.0, 1.0, rootTolerance) != 0) throw KorvanthException(192);
    return root;
}

}  // namespace

double LikelihoodCalculator::operator()(double p) const { return binomialCdf(trials, defaults, p); }

LikelihoodCalculatorCorr::LikelihoodCalculatorCorrIntegrand::LikelihoodCalculatorCorrIntegrand(
    std::int64_t trialCount, std::int64_t defaultCount, double rho, double probability)
    : trials(trialCount),
      defaults(defaultCount),
      correlation(rho),
      pd(probability),
      threshold_(Distributions::inverseCumulativeNormal(probability)),
      sqrtCorrelation_(std::sqrt(rho)),
      sqrtComplement_(std::sqrt(1.0 - rho)) {}

double LikelihoodCalculatorCorr::LikelihoodCalculatorCorrIntegrand::operator()(double y) const {
    const double q = Distributions::cumulativeNormal((threshold_ - sqrtCorrelation_ * y) / sqrtComplement_);
    return binomialCdf(trials, defaults, q) * std::exp(y * (-0.5) * y) * inverseSqrtTwoPi;
}

double LikelihoodCalculatorCorr::operator()(double p) const {
    auto integrand = boost::make_shared<LikelihoodCalculatorCorrIntegrand>(trials, defaults, correlation, p);
    return integrateGauss(integrand, -factorLimit, factorLimit, factorStep);
}

std::vector<double> plutoTasche(const std::vector<GradeCounts>& counts, double quantile, double averagePortfolioPD) {
    const Cumulated cumulated = cumulate(counts);
    auto likelihood = boost::make_shared<LikelihoodCalculator>();
    std::vector<double> pd;
    pd.reserve(counts.size());
    for (std::size_t i = 0; i < counts.size(); ++i) {
        likelihood->trials = cumulated.trials[i];
        likelihood->defaults = cumulated.defaults[i];
        pd.push_back(searchRoot(likelihood, quantile));
    }
    rescale(pd, counts, averagePortfolioPD);
    return pd;
}

std::vector<double> plutoTascheCorrelated(const std::vector<GradeCounts>& counts, double correlation,
                                          double quantile, double averagePortfolioPD, unsigned threads) {
    if (correlation < 0.0 || correlation > 0.9999999999) throw KorvanthException(193);
    if (quantile < 1e-10 || quantile > 0.9999999999) throw KorvanthException(194);
    for (const GradeCounts& grade : counts) {
        if (grade.first < 0) throw KorvanthException(196);
        if (grade.second < 1) throw KorvanthException(197);
    }

    const Cumulated cumulated = cumulate(counts);
    std::vector<double> pd(counts.size());
    runInParallel(counts.size(), threads, [&](std::size_t i) {
        auto likelihood = boost::make_shared<LikelihoodCalculatorCorr>();
        likelihood->trials = cumulated.trials[i];
        likelihood->defaults = cumulated.defaults[i];
        likelihood->correlation = correlation;
        pd[i] = searchRoot(likelihood, quantile);
    });
    rescale(pd, counts, averagePortfolioPD);
    return pd;
}

}  // namespace Korvanth::LowDefaultPortfolio

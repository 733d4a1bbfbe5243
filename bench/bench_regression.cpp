// Speed of the logistic regression (full fit and the eleven restricted fits of 10 factors) and of
// the correlated Pluto-Tasche estimator, each against a straightforward baseline in the same run.
#include <benchmark/benchmark.h>

#include <boost/make_shared.hpp>
#include <boost/math/distributions/binomial.hpp>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "analytics/distributions.hpp"
#include "analytics/error.hpp"
#include "analytics/function1d.hpp"
#include "analytics/logistic_regression.hpp"
#include "analytics/low_default_portfolio.hpp"
#include "analytics/newton.hpp"
#include "functions/worksheet_functions.hpp"

namespace {

using namespace Korvanth;
using namespace Korvanth::LogisticRegression;

constexpr std::size_t factorCount = 10;

struct Sample {
    std::vector<int> indicators;
    Matrix factors;
};

// Correlated factors and indicators drawn from a logistic model; the same for every run.
const Sample& sample(std::size_t observations) {
    static std::map<std::size_t, Sample> cache;
    auto found = cache.find(observations);
    if (found != cache.end()) return found->second;
    std::mt19937_64 random(20261207);
    std::normal_distribution<double> normal;
    std::uniform_real_distribution<double> uniform;
    Sample s{std::vector<int>(observations), Matrix(observations, factorCount)};
    for (std::size_t i = 0; i < observations; ++i) {
        const double common = normal(random);
        double score = -3.0;
        for (std::size_t j = 0; j < factorCount; ++j) {
            s.factors(i, j) = 0.6 * common + normal(random);
            score += (j % 3 == 0 ? 0.5 : j % 3 == 1 ? -0.2 : 0.0) * s.factors(i, j);
        }
        s.indicators[i] = uniform(random) < 1.0 / (1.0 + std::exp(-score)) ? 1 : 0;
    }
    return cache.emplace(observations, std::move(s)).first->second;
}

// Counts the evaluations (one per Newton iteration) of a wrapped function.
class Counting : public FunctionND_Der {
public:
    explicit Counting(boost::shared_ptr<FunctionND_Der> f) : f_(std::move(f)) {}
    void evaluate(const std::vector<double>& x, double& value, std::vector<double>& gradient,
                  Matrix& hessian) override {
        ++count;
        f_->evaluate(x, value, gradient, hessian);
    }
    long count = 0;

private:
    boost::shared_ptr<FunctionND_Der> f_;
};

// The Newton iterations of the full fit and the eleven restricted fits, as estimate runs them.
long newtonIterations(std::size_t observations) {
    const Sample& s = sample(observations);
    const RegressionData data(s.indicators, s.factors);
    long count = 0;
    for (std::size_t f = 0; f <= factorCount + 1; ++f) {
        auto counting =
            boost::make_shared<Counting>(boost::make_shared<LogLikelihood>(data, f == 0 ? LogLikelihood::keepAll : f - 1));
        std::vector<double> x;
        double value = 0.0;
        newtonSolve(counting, x, value, std::vector<double>(f == 0 ? factorCount + 1 : factorCount, 0.0), 1e-8);
        count += counting->count;
    }
    return count;
}

// estimate: full fit plus eleven restricted fits. Argument 0 observations, argument 1 threads (0: all cores).
void BM_Estimate(benchmark::State& state) {
    const auto observations = static_cast<std::size_t>(state.range(0));
    const auto threads = static_cast<unsigned>(state.range(1));
    const Sample& s = sample(observations);
    const long iterations = newtonIterations(observations);
    for (auto _ : state) {
        RegressionData data(s.indicators, s.factors);
        RegressionResult result;
        estimate(data, result, threads);
        benchmark::DoNotOptimize(result.logLikelihood);
    }
    state.counters["newton_iterations"] = static_cast<double>(iterations);
    state.counters["time_per_iteration"] = benchmark::Counter(
        static_cast<double>(iterations), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_Estimate)->Args({100000, 1})->Args({100000, 0})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Estimate)->Args({1000000, 1})->Args({1000000, 0})->Unit(benchmark::kMillisecond)->Iterations(2);

// estimate on 1,200 observations of many factors (argument), on all cores.
void BM_EstimateManyFactors(benchmark::State& state) {
    const auto k = static_cast<std::size_t>(state.range(0));
    const std::size_t observations = 1200;
    std::mt19937_64 random(20261208);
    std::normal_distribution<double> normal;
    std::uniform_real_distribution<double> uniform;
    Matrix factors(observations, k);
    std::vector<int> indicators(observations);
    for (std::size_t i = 0; i < observations; ++i) {
        const double common = normal(random);
        double score = 0.0;  // balanced, so that 400 factors still have a maximum
        for (std::size_t j = 0; j < k; ++j) {
            factors(i, j) = 0.5 * common + normal(random);
            score += (j % 3 == 0 ? 0.05 : j % 3 == 1 ? -0.03 : 0.0) * factors(i, j);
        }
        indicators[i] = uniform(random) < 1.0 / (1.0 + std::exp(-score)) ? 1 : 0;
    }
    for (auto _ : state) {
        RegressionResult result;
        try {
            estimate(RegressionData(indicators, factors), result);
        } catch (const KorvanthException& error) {
            state.SkipWithError(error.getMessage().c_str());
            break;
        }
        benchmark::DoNotOptimize(result.logLikelihood);
    }
}
BENCHMARK(BM_EstimateManyFactors)->Arg(100)->Arg(200)->Arg(300)->Arg(400)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

// estimate on the observations of the file TAVIRUNE_LOGIT_DATA (as bench/logit_peers.py writes
// it: rows and factors as two 64-bit counts, the factors row by row as doubles, the indicators as
// 32-bit integers), on all cores; registered only when the variable is set.
void BM_EstimateFile(benchmark::State& state, const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::uint64_t rows = 0, k = 0;
    in.read(reinterpret_cast<char*>(&rows), sizeof rows);
    in.read(reinterpret_cast<char*>(&k), sizeof k);
    Matrix factors(rows, k);
    std::vector<int> indicators(rows);
    in.read(reinterpret_cast<char*>(factors.data()), static_cast<std::streamsize>(rows * k * sizeof(double)));
    in.read(reinterpret_cast<char*>(indicators.data()), static_cast<std::streamsize>(rows * sizeof(int)));
    if (!in) {
        state.SkipWithError("cannot read the data file");
        return;
    }
    RegressionResult result;
    for (auto _ : state) estimate(RegressionData(indicators, factors), result);
    // In the label, to every digit the peer's side is compared with.
    double largest = 0.0;
    for (double lr : result.likelihoodRatios) largest = std::max(largest, lr);
    char label[80];
    std::snprintf(label, sizeof label, "%.10f %.10f", result.logLikelihood, largest);
    state.SetLabel(label);
}
[[maybe_unused]] const bool fileBenchmark = [] {
    if (const char* path = std::getenv("TAVIRUNE_LOGIT_DATA"))
        benchmark::RegisterBenchmark("BM_EstimateFile", BM_EstimateFile, std::string(path))
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    return true;
}();

// One evaluation of the log-likelihood with its gradient and Hessian on 11 coefficients.
void BM_LogLikelihoodEvaluate(benchmark::State& state) {
    const Sample& s = sample(100000);
    const RegressionData data(s.indicators, s.factors);
    LogLikelihood f(data, LogLikelihood::keepAll, static_cast<unsigned>(state.range(0)));
    std::vector<double> b(factorCount + 1, 0.05), gradient(factorCount + 1);
    Matrix hessian(factorCount + 1, factorCount + 1);
    for (auto _ : state) {
        double value = 0.0;
        f.evaluate(b, value, gradient, hessian);
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(BM_LogLikelihoodEvaluate)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

// Baseline: the definition taken literally, survival rows then default rows through the row
// lists, the full square of the Hessian summed entry by entry, one pass per entry.
void BM_LogLikelihoodEvaluateBaseline(benchmark::State& state) {
    const Sample& s = sample(100000);
    struct {
        std::vector<int> defaultRows, survivalRows;
        std::vector<double> defaultPDs, survivalPDs;
    } data;
    for (std::size_t i = 0; i < s.indicators.size(); ++i) {
        (s.indicators[i] == 1 ? data.defaultRows : data.survivalRows).push_back(static_cast<int>(i));
        (s.indicators[i] == 1 ? data.defaultPDs : data.survivalPDs).push_back(0.0);
    }
    const std::size_t n = factorCount + 1;
    std::vector<double> b(n, 0.05), gradient(n);
    Matrix hessian(n, n);
    auto z = [&](int row, std::size_t a) { return a == 0 ? 1.0 : s.factors(static_cast<std::size_t>(row), a - 1); };
    auto pd = [&](int row) {
        double score = 0.0;
        for (std::size_t a = 0; a < n; ++a) score += b[a] * z(row, a);
        return 1.0 / (std::exp(-score) + 1.0);
    };
    for (auto _ : state) {
        double value = 0.0;
        for (std::size_t i = 0; i < data.survivalRows.size(); ++i) {
            data.survivalPDs[i] = pd(data.survivalRows[i]);
            value += std::log(1.0 - data.survivalPDs[i]);
        }
        for (std::size_t i = 0; i < data.defaultRows.size(); ++i) {
            data.defaultPDs[i] = pd(data.defaultRows[i]);
            value += std::log(data.defaultPDs[i]);
        }
        for (std::size_t a = 0; a < n; ++a) {
            double g = 0.0;
            for (std::size_t i = 0; i < data.defaultRows.size(); ++i)
                g += (1.0 - data.defaultPDs[i]) * z(data.defaultRows[i], a);
            for (std::size_t i = 0; i < data.survivalRows.size(); ++i)
                g -= data.survivalPDs[i] * z(data.survivalRows[i], a);
            gradient[a] = g;
        }
        for (std::size_t a = 0; a < n; ++a)
            for (std::size_t c = 0; c < n; ++c) {
                double h = 0.0;
                for (std::size_t i = 0; i < data.survivalRows.size(); ++i) {
                    const double p = data.survivalPDs[i];
                    h += z(data.survivalRows[i], a) * z(data.survivalRows[i], c) * p * (1.0 - p);
                }
                for (std::size_t i = 0; i < data.defaultRows.size(); ++i) {
                    const double p = data.defaultPDs[i];
                    h += z(data.defaultRows[i], a) * z(data.defaultRows[i], c) * p * (1.0 - p);
                }
                hessian(a, c) = -h;
            }
        benchmark::DoNotOptimize(value);
        benchmark::DoNotOptimize(hessian.data());
    }
}
BENCHMARK(BM_LogLikelihoodEvaluateBaseline)->Unit(benchmark::kMicrosecond);

// The worksheet function end to end on 100,000 x 10 cells, conversions included.
void BM_LogisticRegressionWorksheet(benchmark::State& state) {
    const std::size_t observations = 100000;
    const Sample& s = sample(observations);
    xlframe::CellMatrix names(1, factorCount), indices(1, factorCount), values(observations, factorCount),
        indicators(observations, 1);
    for (std::size_t j = 0; j < factorCount; ++j) {
        names(0, j) = std::string(1, static_cast<char>('A' + j));
        indices(0, j) = 1.0;
    }
    for (std::size_t i = 0; i < observations; ++i) {
        for (std::size_t j = 0; j < factorCount; ++j) values(i, j) = s.factors(i, j);
        indicators(i, 0) = static_cast<double>(s.indicators[i]);
    }
    for (auto _ : state) benchmark::DoNotOptimize(logisticRegression(names, indices, values, indicators));
}
BENCHMARK(BM_LogisticRegressionWorksheet)->Unit(benchmark::kMillisecond);

// Ten grades of 10,000 observations each, few defaults, best grade first.
std::vector<LowDefaultPortfolio::GradeCounts> gradeCounts() {
    const int defaults[] = {0, 0, 1, 1, 2, 3, 5, 8, 12, 20};
    std::vector<LowDefaultPortfolio::GradeCounts> counts;
    for (int d : defaults) counts.push_back({d, 10000 - d});
    return counts;
}

constexpr double benchCorrelation = 0.12;
constexpr double benchQuantile = 0.999;
constexpr long binomialsPerLikelihood = 726;

class CountingFunction : public Function1D {
public:
    explicit CountingFunction(boost::shared_ptr<Function1D> f) : f_(std::move(f)) {}
    double operator()(double x) const override {
        ++count;
        return (*f_)(x);
    }
    mutable long count = 0;

private:
    boost::shared_ptr<Function1D> f_;
};

// The likelihood values the root searches of all grades take, as the estimator runs them.
long likelihoodValues() {
    const auto counts = gradeCounts();
    long total = 0;
    for (std::size_t i = 0; i < counts.size(); ++i) {
        auto likelihood = boost::make_shared<LowDefaultPortfolio::LikelihoodCalculatorCorr>();
        for (std::size_t g = i; g < counts.size(); ++g) {
            likelihood->defaults += counts[g].first;
            likelihood->trials += counts[g].first + counts[g].second;
        }
        likelihood->correlation = benchCorrelation;
        auto counting = boost::make_shared<CountingFunction>(likelihood);
        double root = 0.0;
        findRoot(counting, 1.0 - benchQuantile, root, 0.0, 1.0, 1e-10);
        total += counting->count;
    }
    return total;
}

// plutoTascheCorrelated on the ten grades; argument the thread count (0: all cores).
void BM_PlutoTascheCorrelated(benchmark::State& state) {
    const auto counts = gradeCounts();
    const long binomials = likelihoodValues() * binomialsPerLikelihood;
    for (auto _ : state)
        benchmark::DoNotOptimize(LowDefaultPortfolio::plutoTascheCorrelated(
            counts, benchCorrelation, benchQuantile, 0.0, static_cast<unsigned>(state.range(0))));
    state.counters["binomials"] = static_cast<double>(binomials);
    state.counters["binomials_per_second"] =
        benchmark::Counter(static_cast<double>(binomials), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_PlutoTascheCorrelated)->Arg(1)->Arg(2)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

// One likelihood value, with the threshold worked out once (the library) ...
void BM_CorrelatedLikelihood(benchmark::State& state) {
    LowDefaultPortfolio::LikelihoodCalculatorCorr likelihood;
    likelihood.trials = 100000;
    likelihood.defaults = 52;
    likelihood.correlation = benchCorrelation;
    for (auto _ : state) benchmark::DoNotOptimize(likelihood(0.001));
    state.counters["binomials_per_second"] =
        benchmark::Counter(static_cast<double>(binomialsPerLikelihood), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_CorrelatedLikelihood)->Unit(benchmark::kMicrosecond);

// ... and the baseline that inverts the normal distribution again at every integration node.
class NodeByNodeIntegrand : public Function1D {
public:
    double operator()(double y) const override {
        const double c = Distributions::inverseCumulativeNormal(pd);
        const double q = Distributions::cumulativeNormal((c - std::sqrt(rho) * y) / std::sqrt(1.0 - rho));
        const boost::math::binomial_distribution<double> binomial(trials, q);
        return boost::math::cdf(binomial, defaults) * std::exp(y * (-0.5) * y) / std::sqrt(2.0 * std::acos(-1.0));
    }
    double trials = 100000, defaults = 52, rho = benchCorrelation, pd = 0.001;
};

void BM_CorrelatedLikelihoodBaseline(benchmark::State& state) {
    auto integrand = boost::make_shared<NodeByNodeIntegrand>();
    for (auto _ : state) benchmark::DoNotOptimize(integrateGauss(integrand, -6.0, 6.0, 0.1));
    state.counters["binomials_per_second"] =
        benchmark::Counter(static_cast<double>(binomialsPerLikelihood), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_CorrelatedLikelihoodBaseline)->Unit(benchmark::kMicrosecond);

}  // namespace

// The calibration tests over a full worksheet column against the conversion of their
// arguments alone, in the same run: the tests are one pass over the data after conversion.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "analytics/conversions.hpp"
#include "functions/worksheet_functions.hpp"

namespace {

constexpr std::size_t debtors = 1048576;

struct Portfolio {
    xlframe::CellMatrix pd1, pd2, indicators;
    Portfolio() : pd1(debtors, 1), pd2(debtors, 1), indicators(debtors, 1) {
        std::mt19937_64 gen(7);
        std::normal_distribution<double> quality(0.0, 1.0);
        std::uniform_real_distribution<double> uniform(0.0, 1.0);
        for (std::size_t i = 0; i < debtors; ++i) {
            const double z = quality(gen);
            const double p1 = 1.0 / (1.0 + std::exp(4.0 + z)), p2 = 1.0 / (1.0 + std::exp(4.0 + z + 0.3 * quality(gen)));
            pd1(i, 0) = p1;
            pd2(i, 0) = p2;
            indicators(i, 0) = uniform(gen) < p1 ? 1.0 : 0.0;
        }
    }
};

const Portfolio& portfolio() {
    static const Portfolio p;
    return p;
}

// The converted vectors stay alive together, as they do inside the tests.
void BM_ConvertPDsAndIndicators(benchmark::State& state) {
    const Portfolio& p = portfolio();
    for (auto _ : state) {
        const std::vector<int> y = Korvanth::cellMatrixToColumnVectorInt(p.indicators, "indicators");
        const std::vector<double> pd = Korvanth::cellMatrixToColumnVector(p.pd1, "default probabilities");
        benchmark::DoNotOptimize(y.data());
        benchmark::DoNotOptimize(pd.data());
    }
}
BENCHMARK(BM_ConvertPDsAndIndicators)->Unit(benchmark::kMillisecond);

void BM_CalibrationTestIndividual(benchmark::State& state) {
    const Portfolio& p = portfolio();
    for (auto _ : state) benchmark::DoNotOptimize(Korvanth::calibrationTestIndividual(p.pd1, p.indicators));
}
BENCHMARK(BM_CalibrationTestIndividual)->Unit(benchmark::kMillisecond);

void BM_ConvertTwoPDsAndIndicators(benchmark::State& state) {
    const Portfolio& p = portfolio();
    for (auto _ : state) {
        const std::vector<int> y = Korvanth::cellMatrixToColumnVectorInt(p.indicators, "indicators");
        const std::vector<double> pd1 = Korvanth::cellMatrixToColumnVector(p.pd1, "default probabilities 1");
        const std::vector<double> pd2 = Korvanth::cellMatrixToColumnVector(p.pd2, "default probabilities 2");
        benchmark::DoNotOptimize(y.data());
        benchmark::DoNotOptimize(pd1.data());
        benchmark::DoNotOptimize(pd2.data());
    }
}
BENCHMARK(BM_ConvertTwoPDsAndIndicators)->Unit(benchmark::kMillisecond);

void BM_CalibrationDifferenceIndividual(benchmark::State& state) {
    const Portfolio& p = portfolio();
    for (auto _ : state)
        benchmark::DoNotOptimize(Korvanth::calibrationDifferenceIndividual(p.pd1, p.pd2, p.indicators));
}
BENCHMARK(BM_CalibrationDifferenceIndividual)->Unit(benchmark::kMillisecond);

}  // namespace

// rocCurveIndividual and aurocDifferenceIndividual over a full worksheet column, against
// std::sort of the same (score, indicator) pairs in the same run; and both on scores that are
// all distinct, where ranking cannot profit from ties.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <utility>
#include <vector>

#include "functions/worksheet_functions.hpp"

namespace {

constexpr std::size_t debtors = 1048576;

struct Portfolio {
    std::vector<double> score1, score2;
    std::vector<int> defaulted;
    xlframe::CellMatrix scores1, scores2, indicators;
    explicit Portfolio(bool distinct = false) : scores1(debtors, 1), scores2(debtors, 1), indicators(debtors, 1) {
        std::mt19937_64 gen(42);
        std::uniform_int_distribution<int> grade(0, 999);  // many ties
        std::normal_distribution<double> z;
        for (std::size_t i = 0; i < debtors; ++i) {
            const bool d = gen() % 50 == 0;  // about 2% defaults
            double s1 = grade(gen) / 10.0 - (d ? 20.0 : 0.0), s2 = grade(gen) / 10.0 - (d ? 10.0 : 0.0);
            if (distinct) s1 = z(gen) - (d ? 1.0 : 0.0), s2 = z(gen) - (d ? 0.5 : 0.0);
            score1.push_back(s1);
            score2.push_back(s2);
            defaulted.push_back(d);
            scores1(i, 0) = s1;
            scores2(i, 0) = s2;
            indicators(i, 0) = d ? 1.0 : 0.0;
        }
    }
};

const Portfolio& portfolio() {
    static const Portfolio p;
    return p;
}
const Portfolio& distinctPortfolio() {
    static const Portfolio p(true);
    return p;
}

void BM_SortScoreIndicatorPairs(benchmark::State& state) {
    const Portfolio& p = portfolio();
    std::vector<std::pair<double, int>> pairs(debtors);
    for (auto _ : state) {
        for (std::size_t i = 0; i < debtors; ++i) pairs[i] = {p.score1[i], p.defaulted[i]};
        std::sort(pairs.begin(), pairs.end());
        benchmark::DoNotOptimize(pairs.data());
    }
}
BENCHMARK(BM_SortScoreIndicatorPairs)->Unit(benchmark::kMillisecond);

void BM_RocCurveIndividual(benchmark::State& state) {
    const Portfolio& p = portfolio();
    for (auto _ : state) benchmark::DoNotOptimize(Korvanth::rocCurveIndividual(p.scores1, p.indicators, 0, 0, 0));
}
BENCHMARK(BM_RocCurveIndividual)->Unit(benchmark::kMillisecond);

void BM_AurocDifferenceIndividual(benchmark::State& state) {
    const Portfolio& p = portfolio();
    for (auto _ : state)
        benchmark::DoNotOptimize(Korvanth::aurocDifferenceIndividual(p.scores1, p.scores2, p.indicators, 0));
}
BENCHMARK(BM_AurocDifferenceIndividual)->Unit(benchmark::kMillisecond);

void BM_RocCurveIndividualDistinct(benchmark::State& state) {
    const Portfolio& p = distinctPortfolio();
    for (auto _ : state) benchmark::DoNotOptimize(Korvanth::rocCurveIndividual(p.scores1, p.indicators, 0, 0, 0));
}
BENCHMARK(BM_RocCurveIndividualDistinct)->Unit(benchmark::kMillisecond);

void BM_AurocDifferenceIndividualDistinct(benchmark::State& state) {
    const Portfolio& p = distinctPortfolio();
    for (auto _ : state)
        benchmark::DoNotOptimize(Korvanth::aurocDifferenceIndividual(p.scores1, p.scores2, p.indicators, 0));
}
BENCHMARK(BM_AurocDifferenceIndividualDistinct)->Unit(benchmark::kMillisecond);

}  // namespace

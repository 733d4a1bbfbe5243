// aurocInitialComparison and ksStatistic over a full worksheet column, against rocCurveIndividual
// on the same data in the same run (the goal: at most 1.5 times its time), on scores with many
// ties and on scores that are all distinct.
#include <benchmark/benchmark.h>

#include <random>

#include "functions/worksheet_functions.hpp"

namespace {

constexpr std::size_t debtors = 1048576;

struct Portfolio {
    xlframe::CellMatrix scores, indicators, initialAuroc;
    explicit Portfolio(bool distinct) : scores(debtors, 1), indicators(debtors, 1), initialAuroc(1, 1) {
        std::mt19937_64 gen(42);
        std::uniform_int_distribution<int> grade(0, 999);
        std::normal_distribution<double> z;
        for (std::size_t i = 0; i < debtors; ++i) {
            const bool d = gen() % 50 == 0;  // about 2% defaults
            scores(i, 0) = distinct ? z(gen) - (d ? 1.0 : 0.0) : grade(gen) / 10.0 - (d ? 20.0 : 0.0);
            indicators(i, 0) = d ? 1.0 : 0.0;
        }
        initialAuroc(0, 0) = 0.8;
    }
};

const Portfolio& portfolio(bool distinct) {
    static const Portfolio tied(false), spread(true);
    return distinct ? spread : tied;
}

void BM_AnnualRocCurveIndividual(benchmark::State& state) {
    const Portfolio& p = portfolio(state.range(0) != 0);
    for (auto _ : state) benchmark::DoNotOptimize(Korvanth::rocCurveIndividual(p.scores, p.indicators, 0, 0, 0));
}
BENCHMARK(BM_AnnualRocCurveIndividual)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_AurocInitialComparison(benchmark::State& state) {
    const Portfolio& p = portfolio(state.range(0) != 0);
    for (auto _ : state)
        benchmark::DoNotOptimize(Korvanth::aurocInitialComparison(p.scores, p.indicators, 0, p.initialAuroc));
}
BENCHMARK(BM_AurocInitialComparison)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_KsStatistic(benchmark::State& state) {
    const Portfolio& p = portfolio(state.range(0) != 0);
    for (auto _ : state) benchmark::DoNotOptimize(Korvanth::ksStatistic(p.scores, p.indicators, 0));
}
BENCHMARK(BM_KsStatistic)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

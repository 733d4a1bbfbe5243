// crossTabNumerical over a full worksheet column against std::sort of its scores, and
// generateBootstrapSample of a full-height five-column table against a plain copy of it.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

#include "functions/worksheet_functions.hpp"

namespace {

constexpr std::size_t observations = 1048576;

struct Driver {
    std::vector<double> score;
    xlframe::CellMatrix scores, indicators, classes, omitted;
    Driver() : scores(observations, 1), indicators(observations, 1), classes(1, 1), omitted(1, 1) {
        std::mt19937_64 gen(42);
        std::normal_distribution<double> normal;
        for (std::size_t i = 0; i < observations; ++i) {
            const bool d = gen() % 50 == 0;
            const double s = normal(gen) - (d ? 1.0 : 0.0);
            score.push_back(s);
            scores(i, 0) = s;
            indicators(i, 0) = d ? 1.0 : 0.0;
        }
        classes(0, 0) = 20.0;
    }
};

const Driver& driver() {
    static const Driver d;
    return d;
}

void BM_SortScores(benchmark::State& state) {
    const Driver& d = driver();
    std::vector<double> t(observations);
    for (auto _ : state) {
        std::copy(d.score.begin(), d.score.end(), t.begin());
        std::sort(t.begin(), t.end());
        benchmark::DoNotOptimize(t.data());
    }
}
BENCHMARK(BM_SortScores)->Unit(benchmark::kMillisecond);

void BM_CrossTabNumerical20Classes(benchmark::State& state) {
    const Driver& d = driver();
    for (auto _ : state)
        benchmark::DoNotOptimize(Korvanth::crossTabNumerical(d.scores, d.indicators, d.classes, d.omitted, d.omitted));
}
BENCHMARK(BM_CrossTabNumerical20Classes)->Unit(benchmark::kMillisecond);

struct Table {
    xlframe::CellMatrix data, header;
    Table() : data(observations, 5), header(1, 1) {
        std::mt19937_64 gen(7);
        for (std::size_t r = 0; r < observations; ++r)
            for (std::size_t c = 0; c < 5; ++c) data(r, c) = static_cast<double>(gen() % 1000);
        header(0, 0) = false;
    }
};

const Table& table() {
    static const Table t;
    return t;
}

void BM_CopyTable(benchmark::State& state) {
    const Table& t = table();
    for (auto _ : state) {
        xlframe::CellMatrix copy(t.data);
        benchmark::DoNotOptimize(copy);
    }
}
BENCHMARK(BM_CopyTable)->Unit(benchmark::kMillisecond);

void BM_GenerateBootstrapSample(benchmark::State& state) {
    const Table& t = table();
    for (auto _ : state) benchmark::DoNotOptimize(Korvanth::generateBootstrapSample(t.data, t.header));
}
BENCHMARK(BM_GenerateBootstrapSample)->Unit(benchmark::kMillisecond);

}  // namespace

// rocCurveIndividual on a full column through the stand-in host (cells to records, the add-in's
// conversions both ways, records back to cells) against the worksheet function alone.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "functions/worksheet_functions.hpp"
#include "host/standin_host.hpp"

namespace {

constexpr std::size_t rows = 1048576;

struct Column {
    host::Table scores{rows, 1};
    host::Table indicators{rows, 1};
    xlframe::CellMatrix scoreCells{rows, 1};
    xlframe::CellMatrix indicatorCells{rows, 1};
    Column() {
        std::uint64_t state = 12345;
        for (std::size_t i = 0; i < rows; ++i) {
            state = state * 6364136223846793005ULL + 1442695040888963407ULL;
            const double score = static_cast<double>(state >> 40) / static_cast<double>(1ULL << 24);
            const bool defaulted = ((state >> 20) & 0xFF) < 20 + static_cast<unsigned>(score * 40);
            scores.at(i, 0) = score;
            indicators.at(i, 0) = defaulted ? 1.0 : 0.0;
            scoreCells(i, 0) = score;
            indicatorCells(i, 0) = defaulted ? 1.0 : 0.0;
        }
    }
};

const Column& column() {
    static const Column c;
    return c;
}

void BM_RocCurveIndividualThroughTheHost(benchmark::State& state) {
    const Column& c = column();
    host::StandInHost h;
    h.load(TAVIRUNE_ADDIN);
    const host::Registration* f = h.find("Korvanth.Tavirune.rocCurveIndividual");
    const std::vector<host::Argument> arguments = {host::Argument::fromRange(c.scores), host::Argument::fromRange(c.indicators),
                                                   host::Argument::fromValue(0.0), host::Argument::fromValue(1.0),
                                                   host::Argument::fromValue(100.0)};
    for (auto _ : state) benchmark::DoNotOptimize(h.call(*f, arguments));
}
BENCHMARK(BM_RocCurveIndividualThroughTheHost)->Unit(benchmark::kMillisecond);

void BM_RocCurveIndividualAlone(benchmark::State& state) {
    const Column& c = column();
    for (auto _ : state) benchmark::DoNotOptimize(Korvanth::rocCurveIndividual(c.scoreCells, c.indicatorCells, 0, 1, 100));
}
BENCHMARK(BM_RocCurveIndividualAlone)->Unit(benchmark::kMillisecond);

}  // namespace

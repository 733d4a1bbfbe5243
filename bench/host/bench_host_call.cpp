// rocCurveIndividual, aurocDifferenceIndividual and calibrationTestIndividual on full columns (1,048,576 rows) through the
// stand-in host, against the worksheet functions alone, with each side's share of the difference
// measured apart: the stand-in host building the argument records from a sheet's cells (as the
// command-line host passes them), and the add-in's own conversions of records to cell tables and
// of the result back.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>

#include "functions/worksheet_functions.hpp"
#include "host/host_values.hpp"
#include "host/standin_host.hpp"
#include "xlframe/xl_oper.hpp"

namespace {

constexpr std::size_t rows = 1048576;

// A column of numbers as a sheet hands it to the host.
class NumberColumn final : public host::CellSource {
   public:
    explicit NumberColumn(std::vector<double> values) : values_(std::move(values)) {}
    std::size_t rows() const override { return values_.size(); }
    std::size_t columns() const override { return 1; }
    void readColumn(std::size_t, std::size_t first, std::size_t count, host::CellView* out) const override {
        for (std::size_t i = 0; i < count; ++i) out[i] = {host::CellView::Kind::Number, values_[first + i], {}};
    }

   private:
    std::vector<double> values_;
};

struct Portfolio {
    std::shared_ptr<NumberColumn> scores, pds, indicators;
    xlframe::CellMatrix scoreCells{rows, 1}, pdCells{rows, 1}, indicatorCells{rows, 1};
    Portfolio() {
        std::vector<double> score(rows), pd(rows), flag(rows);
        std::uint64_t state = 12345;
        for (std::size_t i = 0; i < rows; ++i) {
            state = state * 6364136223846793005ULL + 1442695040888963407ULL;
            score[i] = static_cast<double>(state >> 40) / static_cast<double>(1ULL << 24);
            pd[i] = 0.01 + 0.2 * (1 - score[i]);
            flag[i] = ((state >> 20) & 0xFF) < 20 + static_cast<unsigned>(score[i] * 40) ? 1.0 : 0.0;
            scoreCells(i, 0) = score[i];
            pdCells(i, 0) = pd[i];
            indicatorCells(i, 0) = flag[i];
        }
        scores = std::make_shared<NumberColumn>(std::move(score));
        pds = std::make_shared<NumberColumn>(std::move(pd));
        indicators = std::make_shared<NumberColumn>(std::move(flag));
    }
};

const Portfolio& portfolio() {
    static const Portfolio p;
    return p;
}

host::StandInHost& loadedHost() {
    static host::StandInHost h;
    if (!h.loaded()) h.load(TAVIRUNE_ADDIN);
    return h;
}

void BM_RocCurveIndividualThroughTheHost(benchmark::State& state) {
    const Portfolio& p = portfolio();
    host::StandInHost& h = loadedHost();
    const host::Registration* f = h.find("Korvanth.Tavirune.rocCurveIndividual");
    const std::vector<host::Argument> arguments = {
        host::Argument::fromSource(p.scores), host::Argument::fromSource(p.indicators), host::Argument::fromValue(0.0),
        host::Argument::fromValue(1.0), host::Argument::fromValue(100.0)};
    for (auto _ : state) benchmark::DoNotOptimize(h.call(*f, arguments));
}
BENCHMARK(BM_RocCurveIndividualThroughTheHost)->Unit(benchmark::kMillisecond);

void BM_RocCurveIndividualAlone(benchmark::State& state) {
    const Portfolio& p = portfolio();
    for (auto _ : state)
        benchmark::DoNotOptimize(Korvanth::rocCurveIndividual(p.scoreCells, p.indicatorCells, 0, 1, 100));
}
BENCHMARK(BM_RocCurveIndividualAlone)->Unit(benchmark::kMillisecond);

// The PDs as the second rating.
void BM_AurocDifferenceIndividualThroughTheHost(benchmark::State& state) {
    const Portfolio& p = portfolio();
    host::StandInHost& h = loadedHost();
    const host::Registration* f = h.find("Korvanth.Tavirune.aurocDifferenceIndividual");
    const std::vector<host::Argument> arguments = {host::Argument::fromSource(p.scores), host::Argument::fromSource(p.pds),
                                                   host::Argument::fromSource(p.indicators), host::Argument::fromValue(0.0)};
    for (auto _ : state) benchmark::DoNotOptimize(h.call(*f, arguments));
}
BENCHMARK(BM_AurocDifferenceIndividualThroughTheHost)->Unit(benchmark::kMillisecond);

void BM_AurocDifferenceIndividualAlone(benchmark::State& state) {
    const Portfolio& p = portfolio();
    for (auto _ : state)
        benchmark::DoNotOptimize(Korvanth::aurocDifferenceIndividual(p.scoreCells, p.pdCells, p.indicatorCells, 0));
}
BENCHMARK(BM_AurocDifferenceIndividualAlone)->Unit(benchmark::kMillisecond);

void BM_CalibrationTestIndividualThroughTheHost(benchmark::State& state) {
    const Portfolio& p = portfolio();
    host::StandInHost& h = loadedHost();
    const host::Registration* f = h.find("Korvanth.Tavirune.calibrationTestIndividual");
    const std::vector<host::Argument> arguments = {host::Argument::fromSource(p.pds),
                                                   host::Argument::fromSource(p.indicators)};
    for (auto _ : state) benchmark::DoNotOptimize(h.call(*f, arguments));
}
BENCHMARK(BM_CalibrationTestIndividualThroughTheHost)->Unit(benchmark::kMillisecond);

void BM_CalibrationTestIndividualAlone(benchmark::State& state) {
    const Portfolio& p = portfolio();
    for (auto _ : state) benchmark::DoNotOptimize(Korvanth::calibrationTestIndividual(p.pdCells, p.indicatorCells));
}
BENCHMARK(BM_CalibrationTestIndividualAlone)->Unit(benchmark::kMillisecond);

// The stand-in host's share: two columns' records built from the sheet's cells, in an arena
// reused from call to call.
void BM_HostBuildsTwoArgumentRecords(benchmark::State& state) {
    const Portfolio& p = portfolio();
    host::detail::Arena arena;
    for (auto _ : state) {
        xloper12 first{}, second{};
        host::detail::makeArray(first, *p.scores, arena);
        host::detail::makeArray(second, *p.indicators, arena);
        benchmark::DoNotOptimize(first.val.array.lparray);
        benchmark::DoNotOptimize(second.val.array.lparray);
        arena.reset();
    }
}
BENCHMARK(BM_HostBuildsTwoArgumentRecords)->Unit(benchmark::kMillisecond);

// The add-in's share: the two records read into cell tables and a result table of the curve's
// size made into a record, as one entry point does around the function.
void BM_AddinConvertsTwoArgumentsAndTheResult(benchmark::State& state) {
    const Portfolio& p = portfolio();
    xlframe::XlfOper::SetExcel12(true);
    host::detail::Arena arena;
    xloper12 first{}, second{};
    host::detail::makeArray(first, *p.scores, arena);
    host::detail::makeArray(second, *p.indicators, arena);
    const xlframe::CellMatrix result = Korvanth::rocCurveIndividual(p.scoreCells, p.indicatorCells, 0, 1, 100);
    for (auto _ : state) {
        xlframe::TempMemory::EntryGuard guard;
        const xlframe::CellMatrix a =
            xlframe::XlfOper(reinterpret_cast<xlframe::LPXLFOPER>(&first)).ReadCellMatrixForCall("scores");
        const xlframe::CellMatrix b =
            xlframe::XlfOper(reinterpret_cast<xlframe::LPXLFOPER>(&second)).ReadCellMatrixForCall("indicators");
        const xlframe::XlfOper returned(result);
        benchmark::DoNotOptimize(returned.get());
    }
}
BENCHMARK(BM_AddinConvertsTwoArgumentsAndTheResult)->Unit(benchmark::kMillisecond);

// The add-in's share where a function needs only numbers (calibrationTestIndividual): the two
// records read in one pass into numbers.
void BM_AddinReadsTwoNumberArguments(benchmark::State& state) {
    const Portfolio& p = portfolio();
    xlframe::XlfOper::SetExcel12(true);
    host::detail::Arena arena;
    xloper12 first{}, second{};
    host::detail::makeArray(first, *p.pds, arena);
    host::detail::makeArray(second, *p.indicators, arena);
    for (auto _ : state) {
        xlframe::TempMemory::EntryGuard guard;
        const auto a = xlframe::XlfOper(reinterpret_cast<xlframe::LPXLFOPER>(&first)).ReadNumbersForCall();
        const auto b = xlframe::XlfOper(reinterpret_cast<xlframe::LPXLFOPER>(&second)).ReadNumbersForCall();
        if (!a || !b) state.SkipWithError("not read as numbers");
        benchmark::DoNotOptimize(a);
        benchmark::DoNotOptimize(b);
    }
}
BENCHMARK(BM_AddinReadsTwoNumberArguments)->Unit(benchmark::kMillisecond);

}  // namespace

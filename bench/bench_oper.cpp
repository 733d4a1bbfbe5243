// Conversion of large numeric ranges between host records and cell tables, each against a
// memcpy of the same doubles in the same run.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "xlframe/cell_matrix.hpp"
#include "xlframe/xl_oper.hpp"

namespace {

constexpr std::size_t kRows = 1048576;

// A 1,048,576 x 1 numeric argument as the host passes it.
struct ArgumentRecord {
    ArgumentRecord() : elements(kRows) {
        for (std::size_t i = 0; i < kRows; ++i) {
            elements[i].val.num = 0.001 * static_cast<double>(i);
            elements[i].xltype = xltypeNum;
        }
        record.val.array.lparray = elements.data();
        record.val.array.rows = static_cast<RW>(kRows);
        record.val.array.columns = 1;
        record.xltype = xltypeMulti;
    }
    std::vector<xloper12> elements;
    xloper12 record{};
};

// The conversion alone: the table is released outside the timed part.
void BM_ReadCellMatrix_1048576x1(benchmark::State& state) {
    xlframe::XlfOper::SetExcel12(true);
    static ArgumentRecord argument;
    for (auto _ : state) {
        xlframe::TempMemory::EntryGuard guard;
        xlframe::CellMatrix cells =
            xlframe::XlfOper(reinterpret_cast<xlframe::LPXLFOPER>(&argument.record)).ReadCellMatrix();
        benchmark::DoNotOptimize(cells.storage()->data());
        state.PauseTiming();
        { const xlframe::CellMatrix released(std::move(cells)); }
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kRows * sizeof(double)));
}
BENCHMARK(BM_ReadCellMatrix_1048576x1)->Unit(benchmark::kMillisecond);

// The conversion and the release of the table, as one worksheet call has both.
void BM_ReadCellMatrix_1048576x1_WithRelease(benchmark::State& state) {
    xlframe::XlfOper::SetExcel12(true);
    static ArgumentRecord argument;
    for (auto _ : state) {
        xlframe::TempMemory::EntryGuard guard;
        xlframe::CellMatrix cells =
            xlframe::XlfOper(reinterpret_cast<xlframe::LPXLFOPER>(&argument.record)).ReadCellMatrix();
        benchmark::DoNotOptimize(cells.storage()->data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kRows * sizeof(double)));
}
BENCHMARK(BM_ReadCellMatrix_1048576x1_WithRelease)->Unit(benchmark::kMillisecond);

// Baseline: the same doubles copied into a fresh buffer, as the conversion fills a fresh table.
void BM_MemcpyBaseline_1048576(benchmark::State& state) {
    std::vector<double> source(kRows);
    for (std::size_t i = 0; i < kRows; ++i) source[i] = 0.001 * static_cast<double>(i);
    for (auto _ : state) {
        std::vector<double> target(kRows);
        std::memcpy(target.data(), source.data(), kRows * sizeof(double));
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kRows * sizeof(double)));
}
BENCHMARK(BM_MemcpyBaseline_1048576)->Unit(benchmark::kMillisecond);

// The same copy into a buffer that already exists.
void BM_MemcpyBaseline_1048576_Reused(benchmark::State& state) {
    std::vector<double> source(kRows), target(kRows);
    for (std::size_t i = 0; i < kRows; ++i) source[i] = 0.001 * static_cast<double>(i);
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), kRows * sizeof(double));
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kRows * sizeof(double)));
}
BENCHMARK(BM_MemcpyBaseline_1048576_Reused)->Unit(benchmark::kMillisecond);

void BM_WriteCellMatrix_1048576x2(benchmark::State& state) {
    xlframe::XlfOper::SetExcel12(true);
    xlframe::CellMatrix cells(kRows, 2);
    for (std::size_t i = 0; i < kRows; ++i) {
        cells(i, 0) = static_cast<double>(i);
        cells(i, 1) = 0.5 * static_cast<double>(i);
    }
    for (auto _ : state) {
        xlframe::TempMemory::EntryGuard guard;  // outermost: last round's record is released
        const xlframe::XlfOper record(cells);
        benchmark::DoNotOptimize(record.get());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * 2 * kRows * sizeof(double)));
}
BENCHMARK(BM_WriteCellMatrix_1048576x2)->Unit(benchmark::kMillisecond);

// Baseline for the write: the same 2,097,152 doubles copied into an existing buffer, as the
// conversion writes into the thread's reused block.
void BM_MemcpyBaseline_2097152(benchmark::State& state) {
    std::vector<double> source(2 * kRows), target(2 * kRows);
    for (std::size_t i = 0; i < 2 * kRows; ++i) source[i] = static_cast<double>(i);
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), 2 * kRows * sizeof(double));
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * 2 * kRows * sizeof(double)));
}
BENCHMARK(BM_MemcpyBaseline_2097152)->Unit(benchmark::kMillisecond);

}  // namespace

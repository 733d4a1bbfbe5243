// The command-line host's reading speed: CSV parsing (against copying the same bytes), the memory
// a read sheet holds against the file's size, the calculation order's growth with a chain of
// formulas, and rocCurveIndividual over a 1,048,576 x 3 CSV computed end to end against the
// add-in call alone.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "cli/workbook.hpp"

#ifdef TAVIRUNE_BENCH_HOST
#include "host/standin_host.hpp"
#endif

namespace {

constexpr std::size_t bigRows = 1048576;

// Score, default flag and PD of each debtor, as a rating system exports them.
const std::string& bigCsvText() {
    static const std::string text = [] {
        std::mt19937_64 random(20261206);
        std::normal_distribution<double> quality(0.0, 1.0);
        std::uniform_real_distribution<double> uniform(0.0, 1.0);
        std::string out;
        out.reserve(bigRows * 24);
        char line[64];
        for (std::size_t i = 0; i < bigRows; ++i) {
            const double z = quality(random);
            const double pd = 1.0 / (1.0 + std::exp(4.0 + 1.2 * z));
            const int score = static_cast<int>(500 + 100 * (z + 0.5 * quality(random)));
            const int flag = uniform(random) < pd ? 1 : 0;
            std::snprintf(line, sizeof line, "%d,%d,%.6f\n", score, flag, pd);
            out += line;
        }
        return out;
    }();
    return text;
}

[[maybe_unused]] const std::string& bigCsvFile() {
    static const std::string path = [] {
        const std::string file = (std::filesystem::temp_directory_path() / "tavirune_bench_1048576x3.csv").string();
        std::ofstream(file, std::ios::binary) << bigCsvText();
        return file;
    }();
    return path;
}

void BM_CsvParse1048576x3(benchmark::State& state) {
    const std::string& text = bigCsvText();
    for (auto _ : state) {
        cli::Sheet sheet = cli::parseCsv(text, "bench.csv");
        benchmark::DoNotOptimize(sheet.rows());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * bigRows * 3));
}
BENCHMARK(BM_CsvParse1048576x3)->Unit(benchmark::kMillisecond);

// Baseline for the CSV figure: copying the same bytes.
void BM_CopyCsvBytes(benchmark::State& state) {
    const std::string& text = bigCsvText();
    for (auto _ : state) {
        std::string copy = text;
        benchmark::DoNotOptimize(copy.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_CopyCsvBytes)->Unit(benchmark::kMillisecond);

// The memory goal: a numeric sheet holds at most twice its file's size (here 1,048,576 x 16).
void BM_CsvParse1048576x16Memory(benchmark::State& state) {
    static const std::string text = [] {
        std::string out;
        std::mt19937_64 random(7);
        std::uniform_real_distribution<double> uniform(-1000.0, 1000.0);
        char line[32];
        for (std::size_t i = 0; i < bigRows; ++i) {
            for (int c = 0; c < 16; ++c) {
                std::snprintf(line, sizeof line, c ? ",%.3f" : "%.3f", uniform(random));
                out += line;
            }
            out += '\n';
        }
        return out;
    }();
    std::size_t held = 0;
    for (auto _ : state) {
        const cli::Sheet sheet = cli::parseCsv(text, "bench.csv");
        held = sheet.bytes();
    }
    state.counters["file_MB"] = static_cast<double>(text.size()) / 1e6;
    state.counters["sheet_MB"] = static_cast<double>(held) / 1e6;
    state.counters["sheet_per_file"] = static_cast<double>(held) / static_cast<double>(text.size());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_CsvParse1048576x16Memory)->Unit(benchmark::kMillisecond);

// A host whose one function returns its first argument's first cell at once: what is left is the
// calculation order and the reading of ranges.
class InstantFunctions : public cli::FunctionTable {
   public:
    InstantFunctions() {
        registrations_.resize(1);
        registrations_[0].name = "Korvanth.Tavirune.next";
        registrations_[0].argumentText = "value";
    }
    const std::vector<host::Registration>& registrations() const override { return registrations_; }
    host::Table call(const host::Registration&, const std::vector<host::Argument>& arguments) const override {
        host::Table result(1, 1);
        result.at(0, 0) = arguments[0].table().cells.at(0);
        return result;
    }

   private:
    std::vector<host::Registration> registrations_;
};

// N formula cells, each reading the next: the order's cost should grow linearly with N.
void BM_ChainedFormulas(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    std::string text;
    for (std::size_t r = 1; r <= count; ++r) text += "=next(A" + std::to_string(r + 1) + ")\n";
    text += "7\n";
    const InstantFunctions functions;
    for (auto _ : state) {
        state.PauseTiming();
        cli::Workbook book;
        book.sheets.push_back(cli::parseCsv(text, "chain.csv"));
        state.ResumeTiming();
        cli::Calculation calculation(book, functions);
        calculation.run();
        benchmark::DoNotOptimize(book.sheets[0].view(0, 0).number);
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ChainedFormulas)->RangeMultiplier(10)->Range(1000, 100000)->Unit(benchmark::kMillisecond)->Complexity();

void BM_FormulaParse(benchmark::State& state) {
    const std::string formula = "=Korvanth.Tavirune.rocCurveAggregate(data!A2:A1001,$B$2:$B$1001,C:C,0,1)";
    for (auto _ : state) benchmark::DoNotOptimize(cli::parseFormula(formula));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FormulaParse);

#ifdef TAVIRUNE_BENCH_HOST

class HostFunctions : public cli::FunctionTable {
   public:
    HostFunctions() {
        const char* path = std::getenv("TAVIRUNE_XLL");
        host_.load(path ? path : TAVIRUNE_BENCH_XLL);
    }
    const std::vector<host::Registration>& registrations() const override { return host_.registrations(); }
    host::Table call(const host::Registration& f, const std::vector<host::Argument>& a) const override {
        return host_.call(f, a);
    }

   private:
    host::StandInHost host_;
};

const HostFunctions& addin() {
    static const HostFunctions functions;
    return functions;
}

const std::string rocFormula = "=rocCurveIndividual(A:A,B:B,0,0,10)";

// What `tavirune eval --sheet big.csv "=rocCurveIndividual(A:A,B:B,0,0,10)"` does after loading the add-in.
void BM_RocCurveIndividualReadAndCompute(benchmark::State& state) {
    const std::string& file = bigCsvFile();
    const auto& functions = addin();
    for (auto _ : state) {
        cli::Workbook book;
        book.sheets.push_back(cli::readCsvFile(file));
        const auto bound = book.bind(cli::parseFormula(rocFormula), functions.registrations(), 0);
        cli::Calculation calculation(book, functions);
        benchmark::DoNotOptimize(calculation.evaluate({bound}));
    }
}
BENCHMARK(BM_RocCurveIndividualReadAndCompute)->Unit(benchmark::kMillisecond);

// The add-in call alone, on the same columns already held as host cells.
void BM_RocCurveIndividualAddinCallAlone(benchmark::State& state) {
    const auto& functions = addin();
    const cli::Sheet sheet = cli::parseCsv(bigCsvText(), "bench.csv");
    host::Table scores(bigRows, 1), flags(bigRows, 1);
    for (std::size_t r = 0; r < bigRows; ++r) {
        scores.cells[r] = sheet.at(r, 0);
        flags.cells[r] = sheet.at(r, 1);
    }
    const auto* function = cli::findFunction(functions.registrations(), "rocCurveIndividual");
    const std::vector<host::Argument> arguments{host::Argument::fromRange(scores), host::Argument::fromRange(flags),
                                                host::Argument::fromValue(0.0), host::Argument::fromValue(0.0),
                                                host::Argument::fromValue(10.0)};
    for (auto _ : state) benchmark::DoNotOptimize(functions.call(*function, arguments));
}
BENCHMARK(BM_RocCurveIndividualAddinCallAlone)->Unit(benchmark::kMillisecond);

#endif

}  // namespace

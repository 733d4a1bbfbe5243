// One fuzz target for every worksheet function: the first byte picks the function, the
// rest becomes its arguments. A worksheet function must answer every input with a table.
#include <cstdint>
#include <cstdlib>

#include "functions/worksheet_functions.hpp"
#include "tests/fuzz/fuzz_input.hpp"

using namespace Korvanth;

namespace {

using In = fuzzing::FuzzInput;

void check(const CellMatrix& result) {
    // Touch every cell so that a table with bad storage shows up under the sanitizers.
    std::size_t kinds = 0;
    for (std::size_t r = 0; r < result.Rows(); ++r)
        for (std::size_t c = 0; c < result.Columns(); ++c) kinds += static_cast<std::size_t>(result(r, c).Kind());
    if (result.Rows() * result.Columns() > 0 && kinds == static_cast<std::size_t>(-1)) std::abort();
}

void checkText(const std::string& text) {
    if (text.empty()) std::abort();
}

// Each argument is read in its own declaration, so that the bytes are taken in argument order.
void (*const calls[])(In&) = {
    [](In& in) {
        auto a = in.table(), b = in.table();
        const int scoreIndex = in.integer(), outputIndex = in.integer(), buckets = in.integer();
        check(rocCurveIndividual(a, b, scoreIndex, outputIndex, buckets));
    },
    [](In& in) {
        auto a = in.table(), b = in.table(), c = in.table();
        const int scoreIndex = in.integer(), outputIndex = in.integer();
        check(rocCurveAggregate(a, b, c, scoreIndex, outputIndex));
    },
    [](In& in) {
        auto a = in.table(), b = in.table(), c = in.table();
        check(aurocDifferenceIndividual(a, b, c, in.integer()));
    },
    [](In& in) {
        auto a = in.table(), b = in.table(256), c = in.table(256);
        check(aurocDifferenceAggregate(a, b, c, in.integer()));
    },
    [](In& in) { auto a = in.table(), b = in.table(); check(adjustedPowerStat(a, b, in.integer())); },
    [](In& in) { auto a = in.table(), b = in.table(); check(calibrationTestIndividual(a, b)); },
    [](In& in) { auto a = in.table(), b = in.table(), c = in.table(); check(calibrationTestAggregate(a, b, c)); },
    [](In& in) {
        auto a = in.table(), b = in.table(), c = in.table();
        check(calibrationDifferenceIndividual(a, b, c));
    },
    [](In& in) {
        auto a = in.table(), b = in.table(256), c = in.table(256);
        check(calibrationDifferenceAggregate(a, b, c));
    },
    [](In& in) { auto a = in.table(), b = in.table(); check(crossTabCategorical(a, b)); },
    [](In& in) {
        auto a = in.table(), b = in.table(), c = in.table(), d = in.table(), e = in.table();
        check(crossTabNumerical(a, b, c, d, e));
    },
    [](In& in) { auto a = in.table(), b = in.table(), c = in.table(); check(mapCategoricals2Scores(a, b, c)); },
    [](In& in) {
        auto a = in.table(), b = in.table(), c = in.table(), d = in.table();
        check(mapNumericals2Scores(a, b, c, d));
    },
    [](In& in) {
        auto a = in.table(64), b = in.table(64), c = in.table(2048), d = in.table();
        check(logisticRegression(a, b, c, d));
    },
    [](In& in) {
        auto a = in.table(64), b = in.table(64), c = in.table(), d = in.table(), e = in.table();
        check(lowDefaultPortfolioPD(a, b, c, d, e));
    },
    [](In& in) { auto a = in.table(), b = in.table(); check(generateBootstrapSample(a, b)); },
    [](In&) { checkText(getVersion()); },
    [](In& in) { auto a = in.table(), b = in.table(), c = in.table(); check(jeffreysTest(a, b, c)); },
    [](In& in) { auto a = in.table(), b = in.table(), c = in.table(); check(binomialTest(a, b, c)); },
    [](In& in) {
        auto a = in.table(), b = in.table();
        const int scoreIndex = in.integer();
        check(aurocInitialComparison(a, b, scoreIndex, in.table()));
    },
    [](In& in) { check(herfindahlIndex(in.table())); },
    [](In& in) { auto a = in.table(), b = in.table(); check(populationStabilityIndex(a, b)); },
    [](In& in) { auto a = in.table(), b = in.table(); check(ksStatistic(a, b, in.integer())); },
    [](In& in) { auto a = in.table(), b = in.table(); check(migrationMatrix(a, b)); },
    [](In&) { checkText(getInfo()); },
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static_assert(std::size(calls) == 25, "the seeds pick the function by the first byte modulo 25");
    In in(data, size);
    calls[in.byte() % std::size(calls)](in);
    return 0;
}

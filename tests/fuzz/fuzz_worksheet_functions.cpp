// One fuzz target for every worksheet function: the first byte picks the function, the
// rest becomes its arguments. A worksheet function must answer every input with a table.
#include <cstdint>
#include <cstdlib>

#include "functions/worksheet_functions.hpp"
#include "tests/fuzz/fuzz_input.hpp"

using namespace Korvanth;

namespace {

void check(const CellMatrix& result) {
    // Touch every cell so that a table with bad storage shows up under the sanitizers.
    std::size_t kinds = 0;
    for (std::size_t r = 0; r < result.Rows(); ++r)
        for (std::size_t c = 0; c < result.Columns(); ++c) kinds += static_cast<std::size_t>(result(r, c).Kind());
    if (result.Rows() * result.Columns() > 0 && kinds == static_cast<std::size_t>(-1)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::FuzzInput in(data, size);
    switch (in.byte() % 25) {
        case 0: {
            auto a = in.table(), b = in.table();
            const int scoreIndex = in.integer(), outputIndex = in.integer(), buckets = in.integer();
            check(rocCurveIndividual(a, b, scoreIndex, outputIndex, buckets));
            break;
        }
        case 1: {
            auto a = in.table(), b = in.table(), c = in.table();
            const int scoreIndex = in.integer(), outputIndex = in.integer();
            check(rocCurveAggregate(a, b, c, scoreIndex, outputIndex));
            break;
        }
        case 2: {
            auto a = in.table(), b = in.table(), c = in.table();
            check(aurocDifferenceIndividual(a, b, c, in.integer()));
            break;
        }
        case 3: {
            auto a = in.table(), b = in.table(256), c = in.table(256);
            check(aurocDifferenceAggregate(a, b, c, in.integer()));
            break;
        }
        case 4: {
            auto a = in.table(), b = in.table();
            check(adjustedPowerStat(a, b, in.integer()));
            break;
        }
        case 5: {
            auto a = in.table(), b = in.table();
            check(calibrationTestIndividual(a, b));
            break;
        }
        case 6: {
            auto a = in.table(), b = in.table(), c = in.table();
            check(calibrationTestAggregate(a, b, c));
            break;
        }
        case 7: {
            auto a = in.table(), b = in.table(), c = in.table();
            check(calibrationDifferenceIndividual(a, b, c));
            break;
        }
        case 8: {
            auto a = in.table(), b = in.table(256), c = in.table(256);
            check(calibrationDifferenceAggregate(a, b, c));
            break;
        }
        case 9: {
            auto a = in.table(), b = in.table();
            check(crossTabCategorical(a, b));
            break;
        }
        case 10: {
            auto a = in.table(), b = in.table(), c = in.table(), d = in.table(), e = in.table();
            check(crossTabNumerical(a, b, c, d, e));
            break;
        }
        case 11: {
            auto a = in.table(), b = in.table(), c = in.table();
            check(mapCategoricals2Scores(a, b, c));
            break;
        }
        case 12: {
            auto a = in.table(), b = in.table(), c = in.table(), d = in.table();
            check(mapNumericals2Scores(a, b, c, d));
            break;
        }
        case 13: {
            auto a = in.table(64), b = in.table(64), c = in.table(2048), d = in.table();
            check(logisticRegression(a, b, c, d));
            break;
        }
        case 14: {
            auto a = in.table(64), b = in.table(64), c = in.table(), d = in.table(), e = in.table();
            check(lowDefaultPortfolioPD(a, b, c, d, e));
            break;
        }
        case 15: {
            auto a = in.table(), b = in.table();
            check(generateBootstrapSample(a, b));
            break;
        }
        case 16:
            if (getVersion().empty()) std::abort();
            break;
        case 17: {
            auto a = in.table(), b = in.table(), c = in.table();
            check(jeffreysTest(a, b, c));
            break;
        }
        case 18: {
            auto a = in.table(), b = in.table(), c = in.table();
            check(binomialTest(a, b, c));
            break;
        }
        case 19: {
            auto a = in.table(), b = in.table();
            const int scoreIndex = in.integer();
            check(aurocInitialComparison(a, b, scoreIndex, in.table()));
            break;
        }
        case 20:
            check(herfindahlIndex(in.table()));
            break;
        case 21: {
            auto a = in.table(), b = in.table();
            check(populationStabilityIndex(a, b));
            break;
        }
        case 22: {
            auto a = in.table(), b = in.table();
            check(ksStatistic(a, b, in.integer()));
            break;
        }
        case 23: {
            auto a = in.table(), b = in.table();
            check(migrationMatrix(a, b));
            break;
        }
        default:
            if (getInfo().empty()) std::abort();
            break;
    }
    return 0;
}

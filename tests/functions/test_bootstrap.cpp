// The resampled rows against the generator's stream and the texts of bad input are cases of the
// command-line tests; here the ranges too large for them.
#include <gtest/gtest.h>

#include "functions/worksheet_functions.hpp"
#include "test_calibration_support.hpp"

namespace Korvanth {
namespace {

using namespace Korvanth::testing;

TEST(GenerateBootstrapSample, RefusesResultsLargerThanASheet) {
    CellMatrix flag(1, 1);
    flag(0, 0) = false;
    const std::string tooLarge =
        "The result would have more than 1048576 rows or 16384 columns and cannot be shown in a worksheet";
    EXPECT_EQ(rejection(generateBootstrapSample(CellMatrix(2, 16385), flag)), tooLarge);
    flag(0, 0) = true;
    EXPECT_EQ(rejection(generateBootstrapSample(CellMatrix(1048577, 1), flag)), tooLarge);
    EXPECT_EQ(rejection(generateBootstrapSample(CellMatrix(), flag)),
              "The number of rows in a matrix for bootstrapping must be more than 1");
}

}  // namespace
}  // namespace Korvanth

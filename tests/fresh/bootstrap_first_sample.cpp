// Runs in a process of its own, so that this sample is the first the shared generator gives.
#include <gtest/gtest.h>

#include <random>

#include "functions/worksheet_functions.hpp"

namespace Korvanth {
namespace {

TEST(FreshBootstrap, FirstSampleFollowsTheReferenceStreamForSeed123456) {
    xlframe::CellMatrix table(3, 2), noHeader(1, 1);
    for (std::size_t r = 0; r < 3; ++r) {
        table(r, 0) = static_cast<double>(r);
        table(r, 1) = "row " + std::to_string(r);
    }
    noHeader(0, 0) = false;
    const xlframe::CellMatrix first = generateBootstrapSample(table, noHeader);
    const xlframe::CellMatrix second = generateBootstrapSample(table, noHeader);

    std::mt19937 reference(123456u);
    for (const xlframe::CellMatrix* sample : {&first, &second}) {
        ASSERT_EQ(sample->Rows(), 3u);
        ASSERT_EQ(sample->Columns(), 2u);
        for (std::size_t r = 0; r < 3; ++r) {
            const double u = (static_cast<double>(reference()) + 0.5) / 4294967296.0;
            const std::size_t row = static_cast<std::size_t>(3 * u);
            EXPECT_EQ((*sample)(r, 0).GetNumber(), static_cast<double>(row));
            EXPECT_EQ((*sample)(r, 1).GetString(), "row " + std::to_string(row));
        }
    }
}

}  // namespace
}  // namespace Korvanth

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "functions/worksheet_functions.hpp"
#include "test_calibration_support.hpp"

// The fitted tables against the closed form, both layouts and the texts of bad input are cases of
// the command-line tests; here which factors an index selects.
namespace Korvanth {
namespace {

using namespace Korvanth::testing;


CellMatrix names(const std::vector<std::string>& labels, bool column) {
    CellMatrix range(column ? labels.size() : 1, column ? 1 : labels.size());
    for (std::size_t i = 0; i < labels.size(); ++i)
        if (!labels[i].empty()) (column ? range(i, 0) : range(0, i)) = labels[i];
    return range;
}

// One observation per row; NaN marks an Empty cell.
CellMatrix observations(const std::vector<std::vector<double>>& rows, bool transpose = false) {
    const std::size_t m = rows.size(), k = rows[0].size();
    CellMatrix range(transpose ? k : m, transpose ? m : k);
    for (std::size_t i = 0; i < m; ++i)
        for (std::size_t j = 0; j < k; ++j)
            if (rows[i][j] == rows[i][j]) (transpose ? range(j, i) : range(i, j)) = rows[i][j];
    return range;
}

// Two factors: a binary one (d0/s0 at 0, d1/s1 at 1) and a seeded noise column.
struct Sample {
    std::vector<std::vector<double>> values;
    std::vector<double> indicators;
};
Sample binarySample(int d0, int s0, int d1, int s1) {
    Sample sample;
    std::mt19937 generator(7);
    std::normal_distribution<double> normal;
    auto add = [&](int count, double indicator, double x) {
        for (int i = 0; i < count; ++i) {
            sample.values.push_back({x, normal(generator)});
            sample.indicators.push_back(indicator);
        }
    };
    add(d0, 1, 0);
    add(s0, 0, 0);
    add(d1, 1, 1);
    add(s1, 0, 1);
    return sample;
}

TEST(LogisticRegression, IndexAboveOneHalfSelectsInOrder) {
    const Sample s = binarySample(10, 90, 30, 70);
    const CellMatrix both = logisticRegression(names({"Rating", "Noise"}, false), numbers({0.7, 3}, false),
                                               observations(s.values), numbers(s.indicators));
    ASSERT_EQ(both.Rows(), 5u) << rejection(both);
    EXPECT_EQ(text(both, 2, 0), "Rating");
    EXPECT_EQ(text(both, 3, 0), "Noise");
    // The binary factor is plainly informative, the noise is not.
    EXPECT_GT(number(both, 2, 2), 10.0);
    EXPECT_LT(number(both, 3, 2), 10.83);

    const CellMatrix noise = logisticRegression(names({"Rating", "Noise"}, false), numbers({0.5, 1}, false),
                                                observations(s.values), numbers(s.indicators));
    ASSERT_EQ(noise.Rows(), 4u) << rejection(noise);
    EXPECT_EQ(text(noise, 2, 0), "Noise");
}


}  // namespace
}  // namespace Korvanth

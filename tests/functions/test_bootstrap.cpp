#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "analytics/random.hpp"
#include "functions/worksheet_functions.hpp"
#include "test_calibration_support.hpp"

namespace Korvanth {
namespace {

using namespace Korvanth::testing;

CellMatrix flag(bool value) {
    CellMatrix cell(1, 1);
    cell(0, 0) = value;
    return cell;
}

// Rows of every kind of cell; column 0 numbers the row.
CellMatrix mixedTable(std::size_t rows) {
    CellMatrix table(rows, 4);
    for (std::size_t r = 0; r < rows; ++r) {
        table(r, 0) = static_cast<double>(r);
        if (r % 4 == 0) table(r, 1) = std::wstring(L"wide ") + std::to_wstring(r);
        if (r % 4 == 1) table(r, 1) = "narrow " + std::to_string(r);
        if (r % 4 == 2) table(r, 1) = r % 8 == 2;
        if (r % 4 == 3) table(r, 1).SetError(7);
        table(r, 3) = 0.5 * static_cast<double>(r);  // column 2 stays Empty
    }
    return table;
}

bool sameCell(const xlframe::CellValue& a, const xlframe::CellValue& b) {
    if (a.Kind() != b.Kind()) return false;
    if (a.IsNarrowString()) return a.GetString() == b.GetString();
    if (a.IsWideString()) return a.GetWideString() == b.GetWideString();
    if (a.IsNumber()) return a.GetNumber() == b.GetNumber();
    if (a.IsBoolean()) return a.GetBoolean() == b.GetBoolean();
    if (a.IsError()) return a.GetErrorCode() == b.GetErrorCode();
    return true;
}

bool sameRow(const CellMatrix& a, std::size_t ra, const CellMatrix& b, std::size_t rb) {
    for (std::size_t c = 0; c < a.Columns(); ++c)
        if (!sameCell(a(ra, c), b(rb, c))) return false;
    return true;
}

// The generator as it stands now, to predict the next sample.
boost::shared_ptr<Random> snapshot() {
    const std::lock_guard<std::mutex> lock(sharedGeneratorLock());
    return sharedGenerator().clone();
}

TEST(GenerateBootstrapSample, RowsFollowTheSharedStream) {
    const struct {
        std::size_t rows;
        bool header;
    } cases[] = {{2, false}, {3, false}, {5, true}, {17, false}, {64, true}, {1000, false}};
    for (const auto& c : cases) {
        const CellMatrix input = mixedTable(c.rows);
        const boost::shared_ptr<Random> reference = snapshot();
        const CellMatrix sample = generateBootstrapSample(input, flag(c.header));
        ASSERT_EQ(sample.Rows(), c.rows) << rejection(sample);
        ASSERT_EQ(sample.Columns(), 4u);
        const std::size_t h = c.header ? 1 : 0, n = c.rows - h;
        if (c.header) {
            EXPECT_TRUE(sameRow(sample, 0, input, 0));
        }
        for (std::size_t r = h; r < c.rows; ++r) {
            const std::size_t s = std::min(c.rows - 1, h + static_cast<std::size_t>(n * reference->nextUniform()));
            EXPECT_TRUE(sameRow(sample, r, input, s)) << c.rows << " rows, row " << r << " from " << s;
        }
        // Exactly one draw per data row.
        EXPECT_EQ(snapshot()->nextInteger(), reference->nextInteger());
    }
}

TEST(GenerateBootstrapSample, OneDataRowBelowAHeaderIsAlwaysDrawn) {
    const CellMatrix input = mixedTable(2);
    for (int i = 0; i < 5; ++i) {
        const CellMatrix sample = generateBootstrapSample(input, flag(true));
        ASSERT_EQ(sample.Rows(), 2u);
        EXPECT_TRUE(sameRow(sample, 0, input, 0));
        EXPECT_TRUE(sameRow(sample, 1, input, 1));
    }
}

TEST(GenerateBootstrapSample, ChecksInOrder) {
    CellMatrix number(1, 1), twoCells(2, 1);
    number(0, 0) = 1.0;
    twoCells(0, 0) = true;
    twoCells(1, 0) = true;
    const struct {
        int line;
        CellMatrix input, header;
        std::string text;
    } cases[] = {
        {__LINE__, mixedTable(1), flag(false), "The number of rows in a matrix for bootstrapping must be more than 1"},
        {__LINE__, mixedTable(1), number, "The number of rows in a matrix for bootstrapping must be more than 1"},
        {__LINE__, CellMatrix(), flag(true), "The number of rows in a matrix for bootstrapping must be more than 1"},
        {__LINE__, mixedTable(3), number, "The cell withHeader contains a non-boolean entry"},
        {__LINE__, mixedTable(3), CellMatrix(1, 1), "The cell withHeader is empty"},
        {__LINE__, mixedTable(3), twoCells, "The entry withHeader is no single cell or empty"},
        {__LINE__, CellMatrix(2, 16385), flag(false),
         "The result would have more than 1048576 rows or 16384 columns and cannot be shown in a worksheet"},
        {__LINE__, CellMatrix(1048577, 1), flag(true),
         "The result would have more than 1048576 rows or 16384 columns and cannot be shown in a worksheet"},
    };
    for (const auto& c : cases) EXPECT_EQ(rejection(generateBootstrapSample(c.input, c.header)), c.text) << c.line;
}

TEST(GenerateBootstrapSampleThreads, ConcurrentSamplesAreResamplesAndKeepTheStreamWhole) {
    constexpr int threadCount = 6, callsPerThread = 40;
    constexpr std::size_t rows = 301;
    const CellMatrix input = mixedTable(rows);
    const boost::shared_ptr<Random> before = snapshot();
    std::atomic<int> ready{0}, invalid{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t)
        threads.emplace_back([&, t] {
            ready.fetch_add(1);
            while (ready.load() < threadCount) std::this_thread::yield();
            for (int call = 0; call < callsPerThread; ++call) {
                const bool header = (t + call) % 2 == 0;
                const CellMatrix sample = generateBootstrapSample(input, flag(header));
                if (sample.Rows() != rows || sample.Columns() != 4) {
                    ++invalid;
                    continue;
                }
                if (header && !sameRow(sample, 0, input, 0)) ++invalid;
                for (std::size_t r = header ? 1 : 0; r < rows; ++r) {
                    const double id = sample(r, 0).GetNumber();
                    if (id < (header ? 1 : 0) || id >= rows || !sameRow(sample, r, input, std::size_t(id))) ++invalid;
                }
            }
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(invalid.load(), 0);
    // Every draw was taken from one intact stream: half the calls drew 300 values, half 301.
    const std::size_t draws = threadCount * callsPerThread / 2 * (2 * rows - 1);
    for (std::size_t i = 0; i < draws; ++i) before->nextInteger();
    EXPECT_EQ(snapshot()->nextInteger(), before->nextInteger());
}

}  // namespace
}  // namespace Korvanth

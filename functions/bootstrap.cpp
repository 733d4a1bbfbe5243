// Bootstrap resampling of a data table: its data rows drawn with replacement from the shared
// generator, an optional header row kept in place.
#include <algorithm>
#include <cstdint>
#include <mutex>
#include <vector>

#include "analytics/bootstrap.hpp"
#include "analytics/conversions.hpp"
#include "analytics/random.hpp"
#include "analytics/worksheet_guard.hpp"
#include "functions/checks.hpp"
#include "functions/result_size.hpp"
#include "functions/worksheet_functions.hpp"

namespace Korvanth {

namespace {

// All draws of one sample are taken under one lock, so that concurrent samples never interleave
// within the shared stream.
std::vector<std::size_t> drawRows(std::size_t header, std::size_t rows) {
    const std::lock_guard<std::mutex> lock(sharedGeneratorLock());
    return bootstrapRows(sharedGenerator(), header, rows);
}

constexpr std::size_t prefetchDistance = 8;

inline void prefetch(const char* address) {
#if defined(__GNUC__)
    __builtin_prefetch(address);
#else
    (void)address;
#endif
}

}  // namespace

CellMatrix generateBootstrapSample(const CellMatrix& inputMatrix, const CellMatrix& withHeader) {
    return guardWorksheet(
        [&] {
            if (inputMatrix.Rows() < 2) fail("The number of rows in a matrix for bootstrapping must be more than 1");
            const std::size_t header = cellMatrixToBool(withHeader, "withHeader") ? 1 : 0;
            const std::size_t rows = inputMatrix.Rows(), columns = inputMatrix.Columns();
            requireShowable(rows, columns);
            const std::vector<std::size_t> source = drawRows(header, rows);

            // Each cell is written once: the header copied, every data row taken from its source row.
            CellMatrix result(rows, columns);
            const auto* from = inputMatrix.storage();
            auto* to = result.storage();
            if (from && to) {
                const auto* in = from->data();
                auto* out = to->data();
                for (std::size_t c = 0; c < header * columns; ++c) out[c] = in[c];
                // Only the start of a wide row; the rest streams in as it is copied.
                const std::size_t rowBytes = std::min<std::size_t>(columns * sizeof(*in), 1024);
                for (std::size_t r = header; r < rows; ++r) {
                    // The source rows are known in advance and scattered over the table: fetch ahead.
                    if (r + prefetchDistance < rows) {
                        const char* ahead =
                            reinterpret_cast<const char*>(in + source[r + prefetchDistance - header] * columns);
                        for (std::size_t b = 0; b < rowBytes; b += 64) prefetch(ahead + b);
                    }
                    const auto* row = in + source[r - header] * columns;
                    auto* target = out + r * columns;
                    for (std::size_t c = 0; c < columns; ++c) target[c] = row[c];
                }
            } else {
                for (std::size_t c = 0; c < header * columns; ++c) result(0, c) = inputMatrix(0, c);
                for (std::size_t r = header; r < rows; ++r)
                    for (std::size_t c = 0; c < columns; ++c) result(r, c) = inputMatrix(source[r - header], c);
            }
            return result;
        },
        false);
}

}  // namespace Korvanth

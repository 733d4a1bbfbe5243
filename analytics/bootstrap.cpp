#include "analytics/bootstrap.hpp"

#include "analytics/random.hpp"

namespace Korvanth {

std::vector<std::size_t> bootstrapRows(Random& generator, std::size_t header, std::size_t rows) {
    const std::size_t dataRows = rows - header;
    std::vector<std::size_t> source(dataRows);
    generator.resetDimension();
    for (std::size_t& s : source) {
        const double u = generator.nextUniform();
        const auto drawn = static_cast<std::size_t>(static_cast<double>(dataRows) * u);  // u < 1, so no overflow
        s = header + drawn > rows - 1 ? rows - 1 : header + drawn;
    }
    return source;
}

}  // namespace Korvanth

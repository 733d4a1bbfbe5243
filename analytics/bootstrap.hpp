// Bootstrap draws: the source row of every data row of a table, drawn with replacement.
#pragma once

#include <cstddef>
#include <vector>

namespace Korvanth {

class Random;

// For a table of `rows` rows whose first `header` rows stay in place (rows > header), the source
// row of each data row, drawn in row order, one uniform number each.
std::vector<std::size_t> bootstrapRows(Random& generator, std::size_t header, std::size_t rows);

}  // namespace Korvanth

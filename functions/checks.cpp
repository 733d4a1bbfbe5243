#include "functions/checks.hpp"

namespace Korvanth {

bool isVector(const xlframe::CellMatrix& range) { return range.Rows() == 1 || range.Columns() == 1; }

}  // namespace Korvanth

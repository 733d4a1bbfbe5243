// Conversions of worksheet ranges into the containers the statistics work on.
// Each skips Empty cells and reports a bad range as a catalogue error naming the argument.
//
//   std::vector<double> scores = Korvanth::cellMatrixToColumnVector(range, "scores");
#pragma once

#include <string>
#include <vector>

#include "xlframe/cell_matrix.hpp"

namespace Korvanth {

std::vector<double> cellMatrixToColumnVector(const xlframe::CellMatrix& range, std::string name);
std::vector<double> cellMatrixToRowVector(const xlframe::CellMatrix& range, std::string name);
// Numbers are truncated toward zero and saturated to the 32-bit range (NaN gives 0).
std::vector<int> cellMatrixToColumnVectorInt(const xlframe::CellMatrix& range, std::string name);
std::vector<int> cellMatrixToRowVectorInt(const xlframe::CellMatrix& range, std::string name);
std::vector<std::string> cellMatrixToColumnVectorString(const xlframe::CellMatrix& range, std::string name);
std::vector<std::string> cellMatrixToRowVectorString(const xlframe::CellMatrix& range, std::string name);
std::vector<std::vector<double>> cellMatrixToMatrix(const xlframe::CellMatrix& range, std::string name);
double cellMatrixToDouble(const xlframe::CellMatrix& range, std::string name);
bool cellMatrixToBool(const xlframe::CellMatrix& range, std::string name);

// UTF-16 to UTF-8, so that texts outside ASCII survive and keys compare in code-point order.
std::string wideToNarrow(const std::wstring& text);

}  // namespace Korvanth

// What every build knows of workbook files and ROC curves, whether or not it reads and writes them.
#include <cctype>

#include "cli/spreadsheet_files.hpp"

namespace cli {
namespace {

bool endsWithIgnoringCase(std::string_view text, std::string_view end) {
    if (text.size() < end.size()) return false;
    for (std::size_t i = 0; i < end.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[text.size() - end.size() + i])) !=
            std::tolower(static_cast<unsigned char>(end[i])))
            return false;
    }
    return true;
}

template <class Kind>
bool holds(const host::Table& table, std::size_t row, std::size_t column) {
    return row < table.rows && column < table.columns && std::holds_alternative<Kind>(table.at(row, column));
}

}  // namespace

bool isWorkbookPath(std::string_view path) {
    for (std::string_view extension : {".xlsx", ".xlsm", ".xls", ".ods"}) {
        if (endsWithIgnoringCase(path, extension)) return true;
    }
    return false;
}

bool findRocCurve(const FormulaOutcome& outcome, RocCurve& curve) {
    if (!outcome.formula || !outcome.formula->function || !outcome.result) return false;
    const std::string& name = outcome.formula->function->name;
    if (!endsWithIgnoringCase(name, "rocCurveIndividual") && !endsWithIgnoringCase(name, "rocCurveAggregate"))
        return false;
    const host::Table& result = *outcome.result;
    // The whole result must stand in the sheet for a chart to show its cells.
    if (outcome.area.lastRow - outcome.area.firstRow + 1 != result.rows ||
        outcome.area.lastColumn - outcome.area.firstColumn + 1 != result.columns)
        return false;
    if (!holds<std::string>(result, 0, 0) || std::get<std::string>(result.at(0, 0)) != "AUROC" ||
        !holds<double>(result, 0, 1))
        return false;
    for (std::size_t row = 1; row < result.rows; ++row) {
        if (!holds<std::string>(result, row, 0) || !holds<std::string>(result, row, 1)) continue;
        std::size_t points = 0;
        while (holds<double>(result, row + 1 + points, 0) && holds<double>(result, row + 1 + points, 1)) ++points;
        if (points < 2) return false;
        curve = {std::get<double>(result.at(0, 1)), row + 1, points, std::get<std::string>(result.at(row, 0)),
                 std::get<std::string>(result.at(row, 1))};
        return true;
    }
    return false;
}

}  // namespace cli

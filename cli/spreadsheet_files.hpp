// Workbooks as spreadsheet programs keep them: .xlsx (and .xlsm) files read through liborcus into
// our sheets, computed workbooks written as .xlsx through libxlsxwriter (formulas with their
// results cached, ROC curves as charts beside their results), and ROC curves drawn as SVG files
// through cairo. Builds without those libraries (the Windows build) read and write CSV only;
// there the functions below throw InputError saying so.
//
//   std::vector<cli::Sheet> sheets = cli::readWorkbookFile("book.xlsx");   // every sheet
//   ... compute ...
//   cli::writeWorkbookFile(book, calculation.outcomes(), "out.xlsx");
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "cli/workbook.hpp"

namespace cli {

// Whether this build reads and writes .xlsx files and draws plots.
bool workbookFilesSupported();

// A path that names a workbook file rather than a CSV sheet: .xlsx, .xlsm, .xls or .ods, in any
// case of letters.
bool isWorkbookPath(std::string_view path);

// Every sheet of the workbook under its own name, or only the sheet named `only`. Formula cells
// come as formulas (without their cached results), the cells of an array formula's range other
// than its own as blanks, since they are its results. Throws InputError naming the file (and
// sheet and cell) for a damaged or encrypted file, an old binary .xls, an unknown sheet or a cell
// beyond a sheet's limits.
std::vector<Sheet> readWorkbookFile(const std::string& path, const std::string& only = {});

// Writes every sheet of the computed workbook as .xlsx: values, formula cells as formulas with
// their results cached (the add-in's functions with the prefix a spreadsheet program stores for
// add-in functions, array results as array formulas over their range), a native scatter chart
// beside every ROC curve. Through SafeReplace: the file appears whole or not at all.
void writeWorkbookFile(const Workbook& book, const std::vector<FormulaOutcome>& outcomes, const std::string& path);

// One SVG file per ROC curve result in `folder` (made when missing), named after the sheet and
// the result's cell; returns the paths written.
std::vector<std::string> writeCurvePlots(const Workbook& book, const std::vector<FormulaOutcome>& outcomes,
                                         const std::string& folder);

// A ROC curve in a result: its AUROC and the points below the "False Alarm Rate" / "Hit Rate"
// labels. `firstPointRow` counts rows of the result.
struct RocCurve {
    double auroc = 0.0;
    std::size_t firstPointRow = 0, points = 0;
    std::string xLabel, yLabel;
};
// The curve of an outcome of rocCurveIndividual or rocCurveAggregate that lists its points;
// false for anything else.
bool findRocCurve(const FormulaOutcome& outcome, RocCurve& curve);

}  // namespace cli

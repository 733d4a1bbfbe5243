// Result tables, computed sheets and the function list as aligned text, CSV or JSON.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "cli/csv.hpp"

namespace cli {

enum class Format { Table, Csv, Json };

// "table", "csv" or "json"; throws InputError otherwise.
Format parseFormat(std::string_view name);

// Columns padded to their widest cell, numbers right-aligned, two blanks between columns.
std::string renderTable(const host::Table& table);
// Cells as JSON: numbers, texts, booleans, null for blanks, {"error": "#N/A"} for errors.
std::string renderJson(const host::Table& table);

// The computed cells of a sheet, without trailing blank rows and columns.
host::Table usedCells(const Sheet& sheet);

// Each formula with its result: in table form the formula on a line, then its table; in CSV form
// the tables one after another with an empty line between; in JSON an array of
// {"formula", "rows", "columns", "cells"}.
std::string renderResults(Format format, const std::vector<std::string>& formulas,
                          const std::vector<host::Table>& results);
std::string renderSheet(Format format, const Sheet& sheet);
// The registered functions as a function wizard lists them: name and arguments, category,
// description, and each argument's help text.
std::string renderFunctions(Format format, const std::vector<const host::Registration*>& functions);

}  // namespace cli

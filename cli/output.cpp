// Rendering of cells for the terminal, for CSV files and for JSON readers.
#include "cli/output.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <nlohmann/json.hpp>

#include "cli/workbook.hpp"

namespace cli {
namespace {

nlohmann::json toJson(const host::Value& value) {
    struct Visitor {
        nlohmann::json operator()(host::Blank) const { return nullptr; }
        nlohmann::json operator()(double number) const {
            if (!std::isfinite(number)) return {{"error", std::string(errorLiteral(errorNum))}};
            return number;
        }
        nlohmann::json operator()(const std::string& text) const { return text; }
        nlohmann::json operator()(bool flag) const { return flag; }
        nlohmann::json operator()(host::ErrorValue error) const {
            return {{"error", std::string(errorLiteral(error.code))}};
        }
    };
    return std::visit(Visitor{}, value);
}

nlohmann::json cellsJson(const host::Table& table) {
    nlohmann::json rows = nlohmann::json::array();
    for (std::size_t r = 0; r < table.rows; ++r) {
        nlohmann::json row = nlohmann::json::array();
        for (std::size_t c = 0; c < table.columns; ++c) row.push_back(toJson(table.at(r, c)));
        rows.push_back(std::move(row));
    }
    return rows;
}

// Display width in characters, counting each UTF-8 sequence once.
std::size_t width(std::string_view text) {
    std::size_t count = 0;
    for (unsigned char c : text) count += (c & 0xC0) != 0x80;
    return count;
}

std::string trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    return std::string(text);
}

// Texts with line breaks would break the table's rows.
std::string oneLine(std::string text) {
    for (char& c : text) {
        if (c == '\n' || c == '\r' || c == '\t') c = ' ';
    }
    return text;
}

}  // namespace

Format parseFormat(std::string_view name) {
    if (name == "table") return Format::Table;
    if (name == "csv") return Format::Csv;
    if (name == "json") return Format::Json;
    throw InputError("unknown format \"" + std::string(name) + "\" (table, csv or json)");
}

std::string renderTable(const host::Table& table) {
    std::vector<std::string> texts(table.cells.size());
    std::vector<std::size_t> widths(table.columns, 0);
    for (std::size_t r = 0; r < table.rows; ++r) {
        std::size_t filled = 0;
        for (std::size_t c = 0; c < table.columns; ++c) {
            texts[r * table.columns + c] = oneLine(showCell(table.at(r, c), false));
            if (!texts[r * table.columns + c].empty()) ++filled;
        }
        for (std::size_t c = 0; c < table.columns; ++c) {
            // A text alone in its row is a title: it runs on into the empty cells beside it, as
            // a sheet shows it, and widens no column.
            if (filled == 1 && !std::holds_alternative<double>(table.at(r, c))) continue;
            widths[c] = std::max(widths[c], width(texts[r * table.columns + c]));
        }
    }
    std::string out;
    for (std::size_t r = 0; r < table.rows; ++r) {
        std::string line;
        for (std::size_t c = 0; c < table.columns; ++c) {
            const std::string& text = texts[r * table.columns + c];
            const std::string padding(widths[c] - std::min(widths[c], width(text)), ' ');
            if (c > 0) line += "  ";
            if (std::holds_alternative<double>(table.at(r, c)))
                line += padding + text;
            else
                line += text + padding;
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        out += line + "\n";
    }
    return out;
}

std::string renderJson(const host::Table& table) {
    return cellsJson(table).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

host::Table usedCells(const Sheet& sheet) {
    std::size_t rows = 0, columns = 0;
    for (std::size_t r = 0; r < sheet.rows(); ++r) {
        for (std::size_t c = 0; c < sheet.columns(); ++c) {
            if (!sheet.isBlank(r, c)) {
                rows = std::max(rows, r + 1);
                columns = std::max(columns, c + 1);
            }
        }
    }
    host::Table table(rows, columns);
    for (std::size_t r = 0; r < rows; ++r) {
        for (std::size_t c = 0; c < columns; ++c) table.at(r, c) = sheet.at(r, c);
    }
    return table;
}

std::string renderResults(Format format, const std::vector<std::string>& formulas,
                          const std::vector<host::Table>& results) {
    std::string out;
    if (format == Format::Json) {
        nlohmann::json all = nlohmann::json::array();
        for (std::size_t i = 0; i < results.size(); ++i) {
            all.push_back({{"formula", formulas[i]},
                           {"rows", results[i].rows},
                           {"columns", results[i].columns},
                           {"cells", cellsJson(results[i])}});
        }
        return all.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    }
    for (std::size_t i = 0; i < results.size(); ++i) {
        if (i > 0) out += "\n";
        if (format == Format::Table)
            out += formulas[i] + "\n" + renderTable(results[i]);
        else
            out += writeCsv(results[i]);
    }
    return out;
}

std::string renderSheet(Format format, const Sheet& sheet) {
    const host::Table table = usedCells(sheet);
    switch (format) {
        case Format::Table:
            return renderTable(table);
        case Format::Csv:
            return writeCsv(table);
        case Format::Json:
            return nlohmann::json{{"sheet", sheet.name},
                                  {"rows", table.rows},
                                  {"columns", table.columns},
                                  {"cells", cellsJson(table)}}
                       .dump(2, ' ', false, nlohmann::json::error_handler_t::replace) +
                   "\n";
    }
    return {};
}

std::string renderFunctions(Format format, const std::vector<const host::Registration*>& functions) {
    if (format == Format::Json) {
        nlohmann::json all = nlohmann::json::array();
        for (const auto* function : functions) {
            nlohmann::json arguments = nlohmann::json::array();
            const auto names = argumentNames(*function);
            for (std::size_t i = 0; i < names.size(); ++i) {
                arguments.push_back(
                    {{"name", names[i]},
                     {"help", i < function->argumentHelp.size() ? trim(function->argumentHelp[i]) : ""}});
            }
            all.push_back({{"name", function->name},
                           {"category", function->category},
                           {"description", trim(function->description)},
                           {"arguments", arguments}});
        }
        return all.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    }
    std::string out;
    for (std::size_t f = 0; f < functions.size(); ++f) {
        const host::Registration& function = *functions[f];
        const auto names = argumentNames(function);
        if (f > 0) out += "\n";
        out += function.name + "(";
        for (std::size_t i = 0; i < names.size(); ++i) out += (i ? ", " : "") + names[i];
        out += ")\n";
        out += "  Category: " + function.category + "\n";
        out += "  " + trim(function.description) + "\n";
        std::size_t nameWidth = 0;
        for (const auto& name : names) nameWidth = std::max(nameWidth, name.size());
        for (std::size_t i = 0; i < names.size(); ++i) {
            const std::string help = i < function.argumentHelp.size() ? trim(function.argumentHelp[i]) : "";
            out += "  " + names[i] + std::string(nameWidth - names[i].size(), ' ') + "  " + help + "\n";
        }
    }
    return out;
}

}  // namespace cli

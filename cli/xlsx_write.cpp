// Computed workbooks written through libxlsxwriter, with native charts of the ROC curves.
#include <xlsxwriter.h>

#include <cctype>
#include <cstdio>
#include <memory>

#include "cli/files.hpp"
#include "cli/spreadsheet_files.hpp"

namespace cli {
namespace {

// A reference as a spreadsheet file writes it: sheet!A1:B2, 'my sheet'!A:A, 2:5.
std::string renderReference(const Reference& reference) {
    std::string out;
    if (!reference.sheet.empty()) {
        bool plain = !std::isdigit(static_cast<unsigned char>(reference.sheet.front()));
        for (unsigned char c : reference.sheet) plain = plain && (std::isalnum(c) || c == '_' || c == '.');
        if (plain) {
            out = reference.sheet;
        } else {
            out = "'";
            for (char c : reference.sheet) {
                if (c == '\'') out.push_back(c);
                out.push_back(c);
            }
            out += "'";
        }
        out += "!";
    }
    if (reference.wholeColumns)
        return out + columnName(reference.firstColumn) + ":" + columnName(reference.lastColumn);
    if (reference.wholeRows)
        return out + std::to_string(reference.firstRow + 1) + ":" + std::to_string(reference.lastRow + 1);
    out += cellName(reference.firstRow, reference.firstColumn);
    if (reference.lastRow != reference.firstRow || reference.lastColumn != reference.firstColumn) {
        out.push_back(':');
        out += cellName(reference.lastRow, reference.lastColumn);
    }
    return out;
}

std::string renderValue(const host::Value& value) {
    if (const auto* text = std::get_if<std::string>(&value)) {
        std::string out = "\"";
        for (char c : *text) {
            if (c == '"') out.push_back(c);
            out.push_back(c);
        }
        out.push_back('"');
        return out;
    }
    return showCell(value, true);
}

// The formula as a spreadsheet file stores it: the add-in's function by its registered name
// after "_xll.", the arguments as they were read.
std::string fileFormula(const BoundFormula& bound) {
    const FormulaExpression expression = parseFormula(bound.text);
    std::string out = "=";
    out += addinFilePrefix;
    out += bound.function->name;
    out.push_back('(');
    for (std::size_t i = 0; i < expression.arguments.size(); ++i) {
        const ArgumentExpression& argument = expression.arguments[i];
        if (i > 0) out += ",";
        switch (argument.kind) {
            case ArgumentExpression::Kind::Omitted:
                break;
            case ArgumentExpression::Kind::Value:
                out += renderValue(argument.value);
                break;
            case ArgumentExpression::Kind::Reference:
                out += renderReference(argument.reference);
                break;
            case ArgumentExpression::Kind::Array:
                out += "{";
                for (std::size_t r = 0; r < argument.array.rows; ++r) {
                    for (std::size_t c = 0; c < argument.array.columns; ++c) {
                        if (c > 0 || r > 0) out.push_back(c > 0 ? ',' : ';');
                        out += renderValue(argument.array.at(r, c));
                    }
                }
                out += "}";
                break;
        }
    }
    return out + ")";
}

class Writer {
   public:
    Writer(const std::string& target, const std::string& path) : target_(target) {
        lxw_workbook_options options{};
        workbook_ = workbook_new_opt(path.c_str(), &options);
        if (!workbook_) throw SystemError(target + ": cannot create the workbook");
        percent_ = workbook_add_format(workbook_);
        format_set_num_format(percent_, "0.00%");
        plain_ = workbook_add_format(workbook_);
    }
    ~Writer() {
        if (workbook_) {
            // Closing writes the file, which is then discarded with the temporary file.
            workbook_close(workbook_);
        }
    }
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    void write(const Workbook& book, const std::vector<FormulaOutcome>& outcomes) {
        std::vector<lxw_worksheet*> sheets;
        for (const Sheet& sheet : book.sheets) {
            lxw_worksheet* worksheet = workbook_add_worksheet(workbook_, sheet.name.c_str());
            if (!worksheet)
                throw InputError(target_ + ": \"" + sheet.name +
                                 "\" cannot name a sheet of an .xlsx workbook (at most 31 characters, none of "
                                 "[ ] : * ? / \\); name it with NAME=" + sheet.file);
            sheets.push_back(worksheet);
            for (std::size_t c = 0; c < sheet.columns(); ++c) {
                for (std::size_t r = 0; r < sheet.rows(); ++r) {
                    if (!sheet.isBlank(r, c)) value(sheet, worksheet, r, c);
                }
            }
        }
        for (const FormulaOutcome& outcome : outcomes) {
            const Sheet& sheet = book.sheets[outcome.sheet];
            lxw_worksheet* worksheet = sheets[outcome.sheet];
            // A formula that calls none of the add-in's functions goes back as the file had it.
            const std::string formula = outcome.formula ? fileFormula(*outcome.formula) : *outcome.keptText;
            const Range& area = outcome.area;
            const auto row = static_cast<lxw_row_t>(outcome.row);
            const auto column = static_cast<lxw_col_t>(outcome.column);
            const CellView anchor = sheet.view(outcome.row, outcome.column);
            lxw_format* format = sheet.isPercent(outcome.row, outcome.column) ? percent_ : nullptr;
            if (area.lastRow > area.firstRow || area.lastColumn > area.firstColumn) {
                // The results stay in their cells as values; the formula spans them.
                check(worksheet_write_array_formula_num(worksheet, row, column, static_cast<lxw_row_t>(area.lastRow),
                                                        static_cast<lxw_col_t>(area.lastColumn), formula.c_str(),
                                                        format, anchor.kind == CellView::Kind::Number ? anchor.number : 0.0),
                      sheet, outcome.row, outcome.column);
                for (std::size_t c = area.firstColumn; c <= area.lastColumn; ++c) {
                    for (std::size_t r = area.firstRow; r <= area.lastRow; ++r) {
                        if (r == outcome.row && c == outcome.column) continue;
                        if (sheet.isBlank(r, c))  // over the zero the array formula put there
                            check(worksheet_write_blank(worksheet, static_cast<lxw_row_t>(r), static_cast<lxw_col_t>(c),
                                                        plain_),
                                  sheet, r, c);
                        else
                            value(sheet, worksheet, r, c);
                    }
                }
            } else if (anchor.kind == CellView::Kind::Number) {
                check(worksheet_write_formula_num(worksheet, row, column, formula.c_str(), format, anchor.number), sheet,
                      outcome.row, outcome.column);
            } else {
                const std::string shown = showCell(host::valueOf(anchor), true);
                check(worksheet_write_formula_str(worksheet, row, column, formula.c_str(), format, shown.c_str()),
                      sheet, outcome.row, outcome.column);
            }
            RocCurve curve;
            if (findRocCurve(outcome, curve)) chart(sheet, worksheet, outcome, curve);
        }
    }

    void close() {
        lxw_workbook* workbook = workbook_;
        workbook_ = nullptr;
        const lxw_error error = workbook_close(workbook);
        if (error != LXW_NO_ERROR) throw SystemError(target_ + ": cannot write the workbook: " + lxw_strerror(error));
    }

   private:
    std::string target_;
    lxw_workbook* workbook_ = nullptr;
    lxw_format* percent_ = nullptr;
    lxw_format* plain_ = nullptr;  // a blank cell is written only with a format

    void check(lxw_error error, const Sheet& sheet, std::size_t row, std::size_t column) const {
        if (error != LXW_NO_ERROR)
            throw InputError(target_ + ": sheet " + sheet.name + ", cell " + cellName(row, column) +
                             ": cannot be written: " + lxw_strerror(error));
    }

    void value(const Sheet& sheet, lxw_worksheet* worksheet, std::size_t r, std::size_t c) {
        const CellView cell = sheet.view(r, c);
        const auto row = static_cast<lxw_row_t>(r);
        const auto column = static_cast<lxw_col_t>(c);
        lxw_format* format = sheet.isPercent(r, c) ? percent_ : nullptr;
        lxw_error error = LXW_NO_ERROR;
        switch (cell.kind) {
            case CellView::Kind::Number:
                error = worksheet_write_number(worksheet, row, column, cell.number, format);
                break;
            case CellView::Kind::Text: {
                // An empty text is a blank to the file, which keeps a blank only with a format.
                const std::string text(cell.text);
                error = worksheet_write_string(worksheet, row, column, text.c_str(), format ? format : plain_);
                break;
            }
            case CellView::Kind::Boolean:
                error = worksheet_write_boolean(worksheet, row, column, cell.number != 0, format);
                break;
            case CellView::Kind::Error: {
                // A value cell cannot hold an error in the file; the error literal as a formula gives it.
                const std::string literal(errorLiteral(static_cast<int>(cell.number)));
                error = worksheet_write_formula_str(worksheet, row, column, ("=" + literal).c_str(), format,
                                                    literal.c_str());
                break;
            }
            case CellView::Kind::Blank:
                break;
        }
        check(error, sheet, r, c);
    }

    void chart(const Sheet& sheet, lxw_worksheet* worksheet, const FormulaOutcome& outcome, const RocCurve& curve) {
        lxw_chart* chart = workbook_add_chart(workbook_, LXW_CHART_SCATTER_STRAIGHT);
        const auto first = static_cast<lxw_row_t>(outcome.area.firstRow + curve.firstPointRow);
        const auto last = static_cast<lxw_row_t>(first + curve.points - 1);
        const auto x = static_cast<lxw_col_t>(outcome.area.firstColumn), y = static_cast<lxw_col_t>(x + 1);
        const char* name = sheet.name.c_str();

        char title[64];
        std::snprintf(title, sizeof title, "ROC curve (AUROC %.4f)", curve.auroc);
        lxw_chart_series* rating = chart_add_series(chart, nullptr, nullptr);
        chart_series_set_categories(rating, name, first, x, last, x);
        chart_series_set_values(rating, name, first, y, last, y);
        chart_series_set_name(rating, title);
        lxw_chart_line ratingLine{};
        ratingLine.color = 0x1F77B4;
        ratingLine.width = 2.0;
        chart_series_set_line(rating, &ratingLine);

        // The random rating's diagonal: the false alarm rates against themselves, from (0, 0) to (1, 1).
        lxw_chart_series* diagonal = chart_add_series(chart, nullptr, nullptr);
        chart_series_set_categories(diagonal, name, first, x, last, x);
        chart_series_set_values(diagonal, name, first, x, last, x);
        chart_series_set_name(diagonal, "Random rating");
        lxw_chart_line diagonalLine{};
        diagonalLine.color = 0x808080;
        diagonalLine.dash_type = LXW_CHART_LINE_DASH_DASH;
        chart_series_set_line(diagonal, &diagonalLine);

        const std::string chartTitle = "ROC curve of " + sheet.name + "!" + cellName(outcome.row, outcome.column);
        chart_title_set_name(chart, chartTitle.c_str());
        for (auto [axis, label] : {std::pair{chart->x_axis, &curve.xLabel}, std::pair{chart->y_axis, &curve.yLabel}}) {
            chart_axis_set_name(axis, label->c_str());
            chart_axis_set_min(axis, 0.0);
            chart_axis_set_max(axis, 1.0);
            chart_axis_set_major_unit(axis, 0.2);
        }
        chart_legend_set_position(chart, LXW_CHART_LEGEND_BOTTOM);
        lxw_chart_options options{};
        options.x_scale = 440.0 / 480.0;  // square: 440 x 440 pixels
        options.y_scale = 440.0 / 288.0;
        check(worksheet_insert_chart_opt(worksheet, static_cast<lxw_row_t>(outcome.row),
                                         static_cast<lxw_col_t>(outcome.area.lastColumn + 2), chart, &options),
              sheet, outcome.row, outcome.column);
    }
};

}  // namespace

void writeWorkbookFile(const Workbook& book, const std::vector<FormulaOutcome>& outcomes, const std::string& path) {
    SafeReplace file(path);
    if (file.temporaryPath().empty())
        throw InputError(path + ": an .xlsx workbook is written to a file, not to a device or a pipe");
    Writer writer(path, file.temporaryPath());
    writer.write(book, outcomes);
    writer.close();
    file.commit();
}

}  // namespace cli

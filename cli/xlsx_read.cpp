// Reading workbook files through liborcus's import interfaces: the library parses the file and
// calls these classes for every sheet, shared string, style and cell, which land in our sheets.
#include <orcus/orcus_xlsx.hpp>
#include <orcus/spreadsheet/import_interface.hpp>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <tuple>
#include <unordered_map>

#include "cli/spreadsheet_files.hpp"

namespace cli {
namespace {

namespace ss = orcus::spreadsheet;
namespace iface = orcus::spreadsheet::iface;

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
long daysFromCivil(long year, long month, long day) {
    year -= month <= 2;
    const long era = (year >= 0 ? year : year - 399) / 400;
    const long yearOfEra = year - era * 400;
    const long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

class SharedStrings final : public iface::import_shared_strings {
   public:
    std::vector<std::string> texts;

    size_t append(std::string_view s) override {
        texts.emplace_back(s);
        return texts.size() - 1;
    }
    size_t add(std::string_view s) override {
        const auto [at, added] = index_.try_emplace(std::string(s), texts.size());
        if (added) texts.emplace_back(s);
        return at->second;
    }
    void set_segment_font(size_t) override {}
    void set_segment_bold(bool) override {}
    void set_segment_italic(bool) override {}
    void set_segment_font_name(std::string_view) override {}
    void set_segment_font_size(double) override {}
    void set_segment_font_color(ss::color_elem_t, ss::color_elem_t, ss::color_elem_t, ss::color_elem_t) override {}
    void append_segment(std::string_view s) override { segments_.append(s); }
    size_t commit_segments() override {
        texts.push_back(std::move(segments_));
        segments_.clear();
        return texts.size() - 1;
    }

   private:
    std::unordered_map<std::string, std::size_t> index_;
    std::string segments_;
};

// Only what tells a percentage: the number formats and the cell formats that use them.
class Styles final : public iface::import_styles {
   public:
    std::vector<bool> percentFormat;  // by cell format index

    void set_font_count(size_t) override {}
    void set_font_bold(bool) override {}
    void set_font_italic(bool) override {}
    void set_font_name(std::string_view) override {}
    void set_font_size(double) override {}
    void set_font_underline(ss::underline_t) override {}
    void set_font_underline_width(ss::underline_width_t) override {}
    void set_font_underline_mode(ss::underline_mode_t) override {}
    void set_font_underline_type(ss::underline_type_t) override {}
    void set_font_underline_color(ss::color_elem_t, ss::color_elem_t, ss::color_elem_t, ss::color_elem_t) override {}
    void set_font_color(ss::color_elem_t, ss::color_elem_t, ss::color_elem_t, ss::color_elem_t) override {}
    void set_strikethrough_style(ss::strikethrough_style_t) override {}
    void set_strikethrough_type(ss::strikethrough_type_t) override {}
    void set_strikethrough_width(ss::strikethrough_width_t) override {}
    void set_strikethrough_text(ss::strikethrough_text_t) override {}
    size_t commit_font() override { return 0; }
    void set_fill_count(size_t) override {}
    void set_fill_pattern_type(ss::fill_pattern_t) override {}
    void set_fill_fg_color(ss::color_elem_t, ss::color_elem_t, ss::color_elem_t, ss::color_elem_t) override {}
    void set_fill_bg_color(ss::color_elem_t, ss::color_elem_t, ss::color_elem_t, ss::color_elem_t) override {}
    size_t commit_fill() override { return 0; }
    void set_border_count(size_t) override {}
    void set_border_style(ss::border_direction_t, ss::border_style_t) override {}
    void set_border_color(ss::border_direction_t, ss::color_elem_t, ss::color_elem_t, ss::color_elem_t,
                          ss::color_elem_t) override {}
    void set_border_width(ss::border_direction_t, double, orcus::length_unit_t) override {}
    size_t commit_border() override { return 0; }
    void set_cell_hidden(bool) override {}
    void set_cell_locked(bool) override {}
    void set_cell_print_content(bool) override {}
    void set_cell_formula_hidden(bool) override {}
    size_t commit_cell_protection() override { return 0; }
    void set_number_format_count(size_t) override {}
    void set_number_format_identifier(size_t id) override { formatId_ = id; }
    void set_number_format_code(std::string_view code) override { formatCode_ = code; }
    size_t commit_number_format() override {
        percentCodes_[formatId_] = isPercentCode(formatCode_);
        formatCode_.clear();
        return formatId_;
    }
    void set_cell_xf_count(size_t) override {}
    void set_cell_style_xf_count(size_t) override {}
    void set_dxf_count(size_t) override {}
    void set_xf_font(size_t) override {}
    void set_xf_fill(size_t) override {}
    void set_xf_border(size_t) override {}
    void set_xf_protection(size_t) override {}
    void set_xf_number_format(size_t index) override { xfFormat_ = index; }
    void set_xf_style_xf(size_t) override {}
    void set_xf_apply_alignment(bool) override {}
    void set_xf_horizontal_alignment(ss::hor_alignment_t) override {}
    void set_xf_vertical_alignment(ss::ver_alignment_t) override {}
    size_t commit_cell_xf() override {
        // The built-in formats 9 and 10 are "0%" and "0.00%".
        const auto code = percentCodes_.find(xfFormat_);
        percentFormat.push_back(code != percentCodes_.end() ? code->second : xfFormat_ == 9 || xfFormat_ == 10);
        xfFormat_ = 0;
        return percentFormat.size() - 1;
    }
    size_t commit_cell_style_xf() override { return resetXf(); }
    size_t commit_dxf() override { return resetXf(); }
    void set_cell_style_count(size_t) override {}
    void set_cell_style_name(std::string_view) override {}
    void set_cell_style_xf(size_t) override {}
    void set_cell_style_builtin(size_t) override {}
    void set_cell_style_parent_name(std::string_view) override {}
    size_t commit_cell_style() override { return 0; }

   private:
    std::map<std::size_t, bool> percentCodes_;
    std::size_t formatId_ = 0, xfFormat_ = 0;
    std::string formatCode_;

    std::size_t resetXf() {
        xfFormat_ = 0;
        return 0;
    }
    // A '%' outside quotes and brackets.
    static bool isPercentCode(std::string_view code) {
        bool quoted = false;
        int bracket = 0;
        for (std::size_t i = 0; i < code.size(); ++i) {
            const char c = code[i];
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                quoted = !quoted;
            } else if (!quoted && c == '[') {
                ++bracket;
            } else if (!quoted && c == ']') {
                bracket = std::max(0, bracket - 1);
            } else if (!quoted && bracket == 0 && c == '%') {
                return true;
            }
        }
        return false;
    }
};

struct Settings final : public iface::import_global_settings {
    long originDays = daysFromCivil(1899, 12, 30);
    ss::formula_grammar_t grammar = ss::formula_grammar_t::xlsx;

    void set_origin_date(int year, int month, int day) override { originDays = daysFromCivil(year, month, day); }
    void set_default_formula_grammar(ss::formula_grammar_t value) override { grammar = value; }
    ss::formula_grammar_t get_default_formula_grammar() const override { return grammar; }
    void set_character_set(orcus::character_set_t) override {}
};

// Cell addresses in the file's own A1 form ("B2", "A1:C7"), for the ranges of array formulas.
class References final : public iface::import_reference_resolver {
   public:
    explicit References(std::string file) : file_(std::move(file)) {}
    ss::src_address_t resolve_address(std::string_view address) override {
        const ss::src_range_t range = resolve_range(address);
        return range.first;
    }
    ss::src_range_t resolve_range(std::string_view text) override {
        Reference reference;
        try {
            reference = parseReference(text);
        } catch (const FormulaError& error) {
            throw InputError(file_ + ": " + error.problem());
        }
        const auto row = [](std::size_t value) { return static_cast<ss::row_t>(value); };
        const auto column = [](std::size_t value) { return static_cast<ss::col_t>(value); };
        return {{0, row(reference.firstRow), column(reference.firstColumn)},
                {0, row(reference.lastRow), column(reference.lastColumn)}};
    }

   private:
    std::string file_;
};

class SheetImport;

// Moves each relative reference of a formula by rows and columns: a shared formula is stored
// once, at its first cell, and its other cells are that formula moved to them.
std::string moveReferences(std::string_view formula, long rows, long columns) {
    std::string out;
    std::size_t i = 0;
    auto nameChar = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.'; };
    while (i < formula.size()) {
        const char c = formula[i];
        if (c == '"' || c == '\'') {
            const std::size_t close = formula.find(c, i + 1);
            const std::size_t end = close == std::string_view::npos ? formula.size() : close + 1;
            out.append(formula.substr(i, end - i));
            i = end;
            continue;
        }
        if (i > 0 && nameChar(formula[i - 1])) {
            out.push_back(c);
            ++i;
            continue;
        }
        std::size_t p = i;
        const bool fixedColumn = p < formula.size() && formula[p] == '$';
        p += fixedColumn;
        std::size_t letters = 0, column = 0;
        while (p < formula.size() && std::isalpha(static_cast<unsigned char>(formula[p])) && letters < 4) {
            column = column * 26 + static_cast<std::size_t>(std::toupper(static_cast<unsigned char>(formula[p])) - 'A' + 1);
            ++p, ++letters;
        }
        const bool fixedRow = p < formula.size() && formula[p] == '$';
        p += fixedRow;
        std::size_t digits = 0, row = 0;
        while (p < formula.size() && std::isdigit(static_cast<unsigned char>(formula[p])) && digits < 8) {
            row = row * 10 + static_cast<std::size_t>(formula[p] - '0');
            ++p, ++digits;
        }
        const bool cell = letters >= 1 && letters <= 3 && digits > 0 && row > 0 &&
                          (p == formula.size() || (!nameChar(formula[p]) && formula[p] != '('));
        if (!cell) {
            out.push_back(c);
            ++i;
            continue;
        }
        const long newColumn = static_cast<long>(column) - 1 + (fixedColumn ? 0 : columns);
        const long newRow = static_cast<long>(row) - 1 + (fixedRow ? 0 : rows);
        if (newColumn < 0 || newRow < 0) return {};  // moved off the sheet: #REF! in a spreadsheet
        out += (fixedColumn ? "$" : "") + columnName(static_cast<std::size_t>(newColumn)) + (fixedRow ? "$" : "") +
               std::to_string(newRow + 1);
        i = p;
    }
    return out;
}

class Book;

class FormulaImport final : public iface::import_formula {
   public:
    explicit FormulaImport(SheetImport& sheet) : sheet_(sheet) {}
    void set_position(ss::row_t row, ss::col_t column) override {
        row_ = row;
        column_ = column;
    }
    void set_formula(ss::formula_grammar_t, std::string_view formula) override { text_ = formula; }
    void set_shared_formula_index(size_t index) override { shared_ = index; }
    void set_result_string(std::string_view value) override {
        if (const auto code = errorCode(value))
            result_ = host::ErrorValue{*code};
        else
            result_ = std::string(value);
    }
    void set_result_value(double value) override { result_ = value; }
    void set_result_bool(bool value) override { result_ = value; }
    void set_result_empty() override { result_ = host::Blank{}; }
    void commit() override;

   private:
    SheetImport& sheet_;
    std::optional<host::Value> result_;
    ss::row_t row_ = 0;
    ss::col_t column_ = 0;
    std::string text_;
    std::optional<std::size_t> shared_;
};

class ArrayImport final : public iface::import_array_formula {
   public:
    explicit ArrayImport(SheetImport& sheet) : sheet_(sheet) {}
    void set_range(const ss::range_t& range) override { range_ = range; }
    void set_formula(ss::formula_grammar_t, std::string_view formula) override { text_ = formula; }
    void set_result_string(ss::row_t, ss::col_t, std::string_view) override {}
    void set_result_value(ss::row_t, ss::col_t, double) override {}
    void set_result_bool(ss::row_t, ss::col_t, bool) override {}
    void set_result_empty(ss::row_t, ss::col_t) override {}
    void commit() override;

   private:
    SheetImport& sheet_;
    ss::range_t range_{};
    std::string text_;
};

class SheetImport final : public iface::import_sheet {
   public:
    SheetImport(Sheet& into, const SharedStrings& strings, const Settings& settings)
        : sheet(into), strings_(strings), settings_(settings), formula_(*this), array_(*this) {}

    Sheet& sheet;
    // Array formulas' ranges, whose cells other than the first are results, not inputs.
    std::vector<ss::range_t> arrays;
    // Shared formulas by index: the text and the cell it is written for.
    std::map<std::size_t, std::tuple<std::string, std::size_t, std::size_t>> shared;

    iface::import_formula* get_formula() override { return &formula_; }
    iface::import_array_formula* get_array_formula() override { return &array_; }

    void set_auto(ss::row_t row, ss::col_t column, std::string_view text) override {
        const auto [r, c] = place(row, column);
        sheet.set(r, c, readCell(text));
    }
    void set_string(ss::row_t row, ss::col_t column, ss::string_id_t index) override {
        const auto [r, c] = place(row, column);
        if (index >= strings_.texts.size()) fail(r, c, "refers to a shared text the file does not hold");
        sheet.setText(r, c, strings_.texts[index]);
    }
    void set_value(ss::row_t row, ss::col_t column, double value) override {
        const auto [r, c] = place(row, column);
        sheet.setNumber(r, c, value);
    }
    void set_bool(ss::row_t row, ss::col_t column, bool value) override {
        const auto [r, c] = place(row, column);
        sheet.setBoolean(r, c, value);
    }
    void set_date_time(ss::row_t row, ss::col_t column, int year, int month, int day, int hour, int minute,
                       double second) override {
        const auto [r, c] = place(row, column);
        const double days = static_cast<double>(daysFromCivil(year, month, day) - settings_.originDays);
        sheet.setNumber(r, c, days + (hour * 3600.0 + minute * 60.0 + second) / 86400.0);
    }
    void set_format(ss::row_t row, ss::col_t column, size_t format) override {
        set_format(row, column, row, column, format);
    }
    void set_format(ss::row_t firstRow, ss::col_t firstColumn, ss::row_t lastRow, ss::col_t lastColumn,
                    size_t format) override {
        if (firstRow < 0 || firstColumn < 0 || lastRow < firstRow || lastColumn < firstColumn) return;
        const std::array<std::size_t, 4> area{static_cast<std::size_t>(firstRow), static_cast<std::size_t>(firstColumn),
                                              std::min(static_cast<std::size_t>(lastRow), maxRows - 1),
                                              std::min(static_cast<std::size_t>(lastColumn), maxColumns - 1)};
        // The styles may come after the sheets: formats are kept by index until the end. Cells
        // come row by row, so a few columns formatted alike each continue one of the last areas.
        for (std::size_t k = formats.size(); k > 0 && k + 16 > formats.size(); --k) {
            auto& [last, index] = formats[k - 1];
            if (index == format && last[1] == area[1] && last[3] == area[3] && last[0] <= area[0] &&
                area[0] <= last[2] + 1) {
                last[2] = std::max(last[2], area[2]);
                return;
            }
        }
        formats.push_back({area, format});
    }
    // Cell formats by area, as (area, format index), resolved once the styles are read.
    std::vector<std::pair<std::array<std::size_t, 4>, std::size_t>> formats;

    void fill_down_cells(ss::row_t row, ss::col_t column, ss::row_t count) override {
        const auto [r, c] = place(row, column);
        if (count < 0) return;
        place(row + count, column);
        const host::Value value = sheet.at(r, c);
        for (ss::row_t k = 1; k <= count; ++k) sheet.set(r + static_cast<std::size_t>(k), c, value);
    }
    ss::range_size_t get_sheet_size() const override {
        return {static_cast<ss::row_t>(maxRows), static_cast<ss::col_t>(maxColumns)};
    }

    std::pair<std::size_t, std::size_t> place(long row, long column) const {
        if (row < 0 || column < 0 || static_cast<std::size_t>(row) >= maxRows ||
            static_cast<std::size_t>(column) >= maxColumns) {
            throw InputError(sheet.file + ": a cell beyond row " + std::to_string(maxRows) + " or column " +
                             columnName(maxColumns - 1) + ", more than a sheet holds");
        }
        return {static_cast<std::size_t>(row), static_cast<std::size_t>(column)};
    }
    [[noreturn]] void fail(std::size_t row, std::size_t column, const std::string& problem) const {
        throw InputError(sheet.file + ": cell " + cellName(row, column) + ": " + problem);
    }
    // A formula that is only a constant, as some programs store TRUE (as TRUE()) and error
    // values: the value it gives.
    bool constant(std::size_t row, std::size_t column, std::string_view text) {
        std::string upper(text);
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (upper == "TRUE()" || upper == "FALSE()") {
            sheet.setBoolean(row, column, upper == "TRUE()");
            return true;
        }
        const CellView cell = readCellView(text);
        if (cell.kind != CellView::Kind::Number && cell.kind != CellView::Kind::Boolean &&
            cell.kind != CellView::Kind::Error)
            return false;
        sheet.set(row, column, host::valueOf(cell));
        return true;
    }
    void addFormula(std::size_t row, std::size_t column, std::string text) {
        sheet.clear(row, column);
        sheet.markUsed(row, column);
        sheet.formulas.push_back({row, column, "=" + std::move(text)});
    }

   private:
    const SharedStrings& strings_;
    const Settings& settings_;
    FormulaImport formula_;
    ArrayImport array_;
};

void FormulaImport::commit() {
    const auto [row, column] = sheet_.place(row_, column_);
    std::string text = std::move(text_);
    text_.clear();
    if (shared_) {
        const std::size_t index = *shared_;
        shared_.reset();
        const auto found = sheet_.shared.find(index);
        if (!text.empty() && found == sheet_.shared.end()) {
            sheet_.shared[index] = {text, row, column};
        } else if (text.empty() && found != sheet_.shared.end()) {
            const auto& [first, firstRow, firstColumn] = found->second;
            text = moveReferences(first, static_cast<long>(row) - static_cast<long>(firstRow),
                                  static_cast<long>(column) - static_cast<long>(firstColumn));
            if (text.empty()) sheet_.fail(row, column, "the shared formula " + first + " moves off the sheet here");
        }
    }
    if (text.empty()) sheet_.fail(row, column, "a formula cell without its formula");
    if (!sheet_.constant(row, column, text)) {
        sheet_.addFormula(row, column, std::move(text));
        if (result_) sheet_.sheet.fileResults[{row, column}] = std::move(*result_);
    }
    result_.reset();
}

void ArrayImport::commit() {
    const auto [row, column] = sheet_.place(range_.first.row, range_.first.column);
    sheet_.place(range_.last.row, range_.last.column);
    if (text_.empty()) sheet_.fail(row, column, "an array formula without its formula");
    sheet_.arrays.push_back(range_);
    sheet_.addFormula(row, column, std::move(text_));
    text_.clear();
}

class Book final : public iface::import_factory {
   public:
    Book(std::string file, std::string only) : file_(std::move(file)), only_(std::move(only)), references_(file_) {}

    std::vector<Sheet> sheets;

    iface::import_global_settings* get_global_settings() override { return &settings_; }
    iface::import_shared_strings* get_shared_strings() override { return &strings_; }
    iface::import_styles* get_styles() override { return &styles_; }
    iface::import_reference_resolver* get_reference_resolver(ss::formula_ref_context_t) override {
        return &references_;
    }

    iface::import_sheet* append_sheet(ss::sheet_t, std::string_view name) override {
        if (!only_.empty() && lower(name) != lower(only_)) {
            // A sheet not asked for is read into nothing.
            skipped_.push_back(std::make_unique<Sheet>());
            skipped_.back()->file = file_ + "#" + std::string(name);
            imports_.push_back(std::make_unique<SheetImport>(*skipped_.back(), strings_, settings_));
            names_.emplace_back(name);
            return imports_.back().get();
        }
        owned_.push_back(std::make_unique<Sheet>());
        Sheet& sheet = *owned_.back();
        sheet.name = std::string(name);
        sheet.file = file_ + "#" + sheet.name;
        imports_.push_back(std::make_unique<SheetImport>(sheet, strings_, settings_));
        names_.emplace_back(name);
        return imports_.back().get();
    }
    iface::import_sheet* get_sheet(std::string_view name) override {
        for (std::size_t i = 0; i < names_.size(); ++i) {
            if (names_[i] == name) return imports_[i].get();
        }
        return nullptr;
    }
    iface::import_sheet* get_sheet(ss::sheet_t index) override {
        return index >= 0 && static_cast<std::size_t>(index) < imports_.size() ? imports_[static_cast<std::size_t>(index)].get()
                                                                            : nullptr;
    }
    void finalize() override {}

    // The sheets read, the results in array formulas' ranges cleared.
    std::vector<Sheet> take() {
        for (auto& import : imports_) {
            Sheet& sheet = import->sheet;
            for (const ss::range_t& range : import->arrays) {
                for (auto r = range.first.row; r <= range.last.row; ++r) {
                    for (auto c = range.first.column; c <= range.last.column; ++c) {
                        if (r != range.first.row || c != range.first.column)
                            sheet.clear(static_cast<std::size_t>(r), static_cast<std::size_t>(c));
                    }
                }
            }
            for (const auto& [area, format] : import->formats) {
                if (format < styles_.percentFormat.size() && styles_.percentFormat[format]) sheet.markPercent(area);
            }
            std::sort(sheet.formulas.begin(), sheet.formulas.end(), [](const FormulaCell& a, const FormulaCell& b) {
                return std::pair(a.row, a.column) < std::pair(b.row, b.column);
            });
        }
        std::vector<Sheet> out;
        for (auto& sheet : owned_) out.push_back(std::move(*sheet));
        return out;
    }
    const std::vector<std::string>& names() const { return names_; }

   private:
    std::string file_, only_;
    Settings settings_;
    SharedStrings strings_;
    Styles styles_;
    References references_;
    std::vector<std::unique_ptr<Sheet>> owned_, skipped_;
    std::vector<std::unique_ptr<SheetImport>> imports_;
    std::vector<std::string> names_;
};

std::string readStart(const std::string& path, std::size_t bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw InputError(path + ": cannot read the file: " + std::strerror(errno));
    std::string start(bytes, '\0');
    in.read(start.data(), static_cast<std::streamsize>(bytes));
    start.resize(static_cast<std::size_t>(in.gcount()));
    return start;
}

// A compound document (the container of old binary workbooks and of encrypted new ones).
void refuseCompoundDocument(const std::string& path) {
    const std::string start = readStart(path, 8);
    if (start != std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8)) return;
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    std::string all(static_cast<std::size_t>(std::max<std::streamoff>(in.tellg(), 0)), '\0');
    in.seekg(0);
    in.read(all.data(), static_cast<std::streamsize>(all.size()));
    const std::string encrypted("E\0n\0c\0r\0y\0p\0t\0e\0d\0P\0a\0c\0k\0a\0g\0e\0", 32);
    if (all.find(encrypted) != std::string::npos)
        throw InputError(path + ": the workbook is encrypted (protected by a password); save it without one");
    throw InputError(path + ": an old binary workbook (.xls); save it as .xlsx");
}

}  // namespace

bool workbookFilesSupported() { return true; }

std::vector<Sheet> readWorkbookFile(const std::string& path, const std::string& only) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) throw InputError(path + ": is a folder, not a workbook");
    refuseCompoundDocument(path);
    const std::string start = readStart(path, 4);
    if (start.size() < 4 || start.compare(0, 2, "PK") != 0)
        throw InputError(path + ": not an .xlsx workbook (damaged, or another kind of file)");
    const std::string extension = lower(std::filesystem::path(path).extension().string());
    if (extension == ".ods") throw InputError(path + ": .ods workbooks are not read; save it as .xlsx");
    Book book(path, only);
    try {
        orcus::orcus_xlsx filter(&book);
        filter.read_file(path);
    } catch (const InputError&) {
        throw;
    } catch (const std::bad_alloc&) {
        throw SystemError(path + ": memory ran out while reading it");
    } catch (const std::exception& failure) {
        const std::string what = failure.what();
        throw InputError(path + ": cannot read the workbook: it is damaged, or not an .xlsx file" +
                         (what.empty() ? std::string() : " (" + what + ")"));
    }
    std::vector<Sheet> sheets = book.take();
    bool anything = false;
    for (const Sheet& sheet : sheets) anything = anything || sheet.rows() > 0;
    if (!sheets.empty() && !anything)
        throw InputError(path + ": no cell could be read from any sheet: the workbook is empty, or written in a form "
                                "liborcus does not read (parts named by absolute paths, as openpyxl writes them); "
                                "save it once with a spreadsheet program");
    if (sheets.empty()) {
        std::string known;
        for (const auto& name : book.names()) known += (known.empty() ? "" : ", ") + name;
        if (only.empty()) throw InputError(path + ": the workbook holds no sheet");
        throw InputError(path + ": no sheet named \"" + only + "\" (sheets: " + known + ")");
    }
    return sheets;
}

}  // namespace cli

// Sheets with formula cells, computed through the add-in's registered functions as a spreadsheet
// recalculates: results spill down and right from their cells, a blocked spill gives #SPILL!,
// formulas that read other formulas' cells wait for them, and a circular reference gives #REF! in
// the cells involved. Independent formulas run on several threads; the results do not depend on
// how many. A range is cut to its sheet's data before it is read, so that a whole column of a
// short sheet costs what its rows cost; ranges of one formula as long (or as wide) as each other
// are cut alike and keep matching shapes.
//
//   cli::Workbook book;
//   book.sheets.push_back(cli::readCsvFile("book.csv"));
//   cli::Calculation calculation(book, functions, {.threads = 4});
//   calculation.run();                       // book.sheets[0] now holds the computed values
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/csv.hpp"
#include "cli/formula.hpp"

namespace cli {

inline constexpr std::string_view functionPrefix = "Korvanth.Tavirune.";
// What a spreadsheet file puts before the name of an add-in function in its formulas.
inline constexpr std::string_view addinFilePrefix = "_xll.";
// More cells than this in one range argument (after it is cut to the data) is refused rather than
// exhausting memory.
inline constexpr std::size_t maxRangeCells = std::size_t{1} << 25;

// What the command needs of a host that has loaded the add-in.
class FunctionTable {
   public:
    virtual ~FunctionTable() = default;
    virtual const std::vector<host::Registration>& registrations() const = 0;
    // Must be safe to call from several threads at once.
    virtual host::Table call(const host::Registration& function,
                             const std::vector<host::Argument>& arguments) const = 0;
};

// By registered name, case-insensitive, with or without the "Korvanth.Tavirune." prefix, and with
// or without the "_xll." before it.
const host::Registration* findFunction(const std::vector<host::Registration>& registrations, std::string_view name);
// The argument names of a registration, in order.
std::vector<std::string> argumentNames(const host::Registration& function);
// How many leading arguments a formula must give: those up to the last one whose help text is not
// marked OPTIONAL (omitting one with ",," still counts as giving it).
std::size_t requiredArguments(const host::Registration& function);

struct Range {
    std::size_t sheet = 0;
    std::size_t firstRow = 0, firstColumn = 0, lastRow = 0, lastColumn = 0;
    bool contains(std::size_t sheetIndex, std::size_t row, std::size_t column) const {
        return sheet == sheetIndex && row >= firstRow && row <= lastRow && column >= firstColumn &&
               column <= lastColumn;
    }
};

struct BoundArgument {
    ArgumentExpression::Kind kind = ArgumentExpression::Kind::Omitted;
    host::Value value;
    Range range;
    host::Table array;
};

// A formula checked against the registrations and the workbook's sheets.
struct BoundFormula {
    std::string text;
    const host::Registration* function = nullptr;
    std::vector<BoundArgument> arguments;
};

struct Workbook {
    std::vector<Sheet> sheets;

    // Case-insensitive, as spreadsheets compare sheet names.
    std::optional<std::size_t> findSheet(std::string_view name) const;
    // Resolves the function and the references; unqualified references go to `defaultSheet`.
    // Throws FormulaError for an unknown function or sheet or a wrong number of arguments.
    BoundFormula bind(const FormulaExpression& formula, const std::vector<host::Registration>& registrations,
                      std::size_t defaultSheet) const;
};

struct CalculationOptions {
    unsigned threads = 1;
    // Told after each formula computed how many of how many are done; called from the
    // calculating threads, one at a time.
    std::function<void(std::size_t done, std::size_t total)> progress{};
};

// A formula cell after the calculation: where it is, what it called, and the cells its result
// covers (its own alone when the result did not spill).
struct FormulaOutcome {
    std::size_t sheet = 0, row = 0, column = 0;
    const BoundFormula* formula = nullptr;
    Range area;
    const host::Table* result = nullptr;
    // A formula of a workbook file that calls none of the add-in's functions: its text (from
    // "="), the file's result for it kept in its cell; `formula` and `result` are null.
    const std::string* keptText = nullptr;
};

class Calculation {
   public:
    // Binds every formula cell of every sheet; throws InputError ("file: cell C5: formula ...") on
    // the first bad one, before anything is computed. A formula of a workbook file that calls none
    // of the add-in's functions keeps the result the file holds for it, with a warning.
    Calculation(Workbook& workbook, const FunctionTable& functions, CalculationOptions options = {});
    ~Calculation();
    Calculation(const Calculation&) = delete;
    Calculation& operator=(const Calculation&) = delete;

    // Computes every formula cell and writes the results into the sheets: formulas in one
    // topological order of what they read, in rounds of formulas that need none of each other.
    void run();
    // Computes formulas that live in no cell (after run()), on the configured threads.
    std::vector<host::Table> evaluate(const std::vector<BoundFormula>& formulas) const;
    // One line per circular reference found by run().
    const std::vector<std::string>& warnings() const { return warnings_; }
    // Every formula cell, after run(), in the order of the sheets and their formula cells; valid
    // while the calculation lives.
    std::vector<FormulaOutcome> outcomes() const;

   private:
    struct Node;
    Workbook& workbook_;
    const FunctionTable& functions_;
    CalculationOptions options_;
    std::vector<Node> nodes_;
    std::vector<std::string> warnings_;
    std::size_t keptWarnings_ = 0;  // the first warnings, which no repeat of the calculation clears
    std::vector<FormulaOutcome> kept_;
    // Per sheet, the formula cells as (column, row, node), sorted.
    std::vector<std::vector<std::array<std::size_t, 3>>> anchors_;
    std::vector<std::pair<std::size_t, std::string>> cycles_;  // first member, warning

    host::Table compute(const BoundFormula& formula, const std::string& where) const;
    void cutAlike(std::vector<Range>& ranges, bool rows) const;
    template <class Visit>
    void formulasIn(const Range& range, Visit visit) const;
    bool calculateOnce(std::vector<std::vector<std::size_t>>& needs);
    void place(Node& node);
    void restore();
    std::atomic<std::size_t> done_{0};
    std::mutex progressLock_;
};

// Calls body(i) for i in [0, count) on up to `threads` threads; the exception of the lowest failing
// index is rethrown.
void parallelFor(std::size_t count, unsigned threads, const std::function<void(std::size_t)>& body);

}  // namespace cli

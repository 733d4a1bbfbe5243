// Binding formulas to the add-in's registrations and recalculating a workbook.
#include "cli/workbook.hpp"

#include "cli/memory.hpp"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <exception>
#include <set>
#include <thread>
#include <utility>

namespace cli {
namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
    }
    return true;
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    return text;
}

bool intersects(const Range& a, const Range& b) {
    return a.sheet == b.sheet && a.firstRow <= b.lastRow && b.firstRow <= a.lastRow && a.firstColumn <= b.lastColumn &&
           b.firstColumn <= a.lastColumn;
}

std::string plural(std::size_t count, const char* noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

}  // namespace

const host::Registration* findFunction(const std::vector<host::Registration>& registrations, std::string_view name) {
    for (const auto& function : registrations) {
        if (equalsIgnoringCase(function.name, name)) return &function;
    }
    for (const auto& function : registrations) {
        const std::string_view registered = function.name;
        if (registered.size() > functionPrefix.size() &&
            equalsIgnoringCase(registered.substr(0, functionPrefix.size()), functionPrefix) &&
            equalsIgnoringCase(registered.substr(functionPrefix.size()), name))
            return &function;
    }
    return nullptr;
}

std::vector<std::string> argumentNames(const host::Registration& function) {
    std::vector<std::string> names;
    std::string_view text = function.argumentText;
    if (trim(text).empty()) return names;
    for (;;) {
        const std::size_t comma = text.find(',');
        names.emplace_back(trim(text.substr(0, comma)));
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    return names;
}

std::size_t requiredArguments(const host::Registration& function) {
    const std::size_t count = argumentNames(function).size();
    std::size_t required = count;
    while (required > 0 && required - 1 < function.argumentHelp.size() &&
           trim(function.argumentHelp[required - 1]).starts_with("OPTIONAL"))
        --required;
    return required;
}

std::optional<std::size_t> Workbook::findSheet(std::string_view name) const {
    for (std::size_t i = 0; i < sheets.size(); ++i) {
        if (equalsIgnoringCase(sheets[i].name, name)) return i;
    }
    return std::nullopt;
}

BoundFormula Workbook::bind(const FormulaExpression& formula, const std::vector<host::Registration>& registrations,
                            std::size_t defaultSheet) const {
    BoundFormula bound;
    bound.text = formula.text;
    bound.function = findFunction(registrations, formula.name);
    if (!bound.function) throw FormulaError(formula.text, formula.namePosition, "unknown function \"" + formula.name + "\"");
    const auto names = argumentNames(*bound.function);
    const std::size_t required = requiredArguments(*bound.function);
    // "f()" gives no argument; but for a function of one argument it reads as that argument omitted.
    const std::size_t given = formula.arguments.size();
    if (given > names.size()) {
        throw FormulaError(formula.text, formula.arguments[names.size()].position,
                           "too many arguments: " + bound.function->name + " takes " +
                               plural(names.size(), "argument"));
    }
    if (given < required) {
        std::string missing;
        for (std::size_t i = given; i < required; ++i) missing += (missing.empty() ? "" : ", ") + names[i];
        throw FormulaError(formula.text, formula.closePosition,
                           "too few arguments: " + bound.function->name + " takes " + plural(names.size(), "argument") +
                               "; missing: " + missing);
    }
    for (const auto& argument : formula.arguments) {
        BoundArgument out;
        out.kind = argument.kind;
        if (argument.kind == ArgumentExpression::Kind::Value) out.value = argument.value;
        if (argument.kind == ArgumentExpression::Kind::Array) out.array = argument.array;
        if (argument.kind == ArgumentExpression::Kind::Reference) {
            const Reference& reference = argument.reference;
            std::size_t sheetIndex = defaultSheet;
            if (!reference.sheet.empty()) {
                const auto found = findSheet(reference.sheet);
                if (!found) {
                    std::string known;
                    for (const auto& sheet : sheets) known += (known.empty() ? "" : ", ") + sheet.name;
                    throw FormulaError(formula.text, argument.position,
                                       "bad reference: no sheet named \"" + reference.sheet + "\" (sheets: " + known + ")");
                }
                sheetIndex = *found;
            }
            if (sheetIndex >= sheets.size())
                throw FormulaError(formula.text, argument.position, "bad reference: there is no sheet to refer to");
            const Sheet& sheet = sheets[sheetIndex];
            Range range{sheetIndex, reference.firstRow, reference.firstColumn, reference.lastRow, reference.lastColumn};
            // Whole columns and rows end where the sheet's data ends.
            if (reference.wholeColumns) range.lastRow = std::max<std::size_t>(sheet.usedRows, 1) - 1;
            if (reference.wholeRows) range.lastColumn = std::max<std::size_t>(sheet.columns, 1) - 1;
            const std::size_t cells = (range.lastRow - range.firstRow + 1) * (range.lastColumn - range.firstColumn + 1);
            if (cells > maxRangeCells) {
                throw FormulaError(formula.text, argument.position,
                                   "the range holds " + std::to_string(cells) + " cells, more than the " +
                                       std::to_string(maxRangeCells) + " one argument may hold");
            }
            out.range = range;
        }
        bound.arguments.push_back(std::move(out));
    }
    return bound;
}

void parallelFor(std::size_t count, unsigned threads, const std::function<void(std::size_t)>& body) {
    std::vector<std::exception_ptr> failures(count);
    const std::size_t workers = std::min<std::size_t>(std::max(threads, 1u), count);
    if (workers <= 1) {
        for (std::size_t i = 0; i < count; ++i) {
            try {
                body(i);
            } catch (...) {
                failures[i] = std::current_exception();
            }
        }
    } else {
        std::atomic<std::size_t> next{0};
        auto work = [&] {
            for (std::size_t i = next++; i < count; i = next++) {
                try {
                    body(i);
                } catch (...) {
                    failures[i] = std::current_exception();
                }
            }
        };
        std::vector<std::thread> pool;
        pool.reserve(workers - 1);
        for (std::size_t t = 1; t < workers; ++t) pool.emplace_back(work);
        work();
        for (auto& thread : pool) thread.join();
    }
    for (auto& failure : failures) {
        if (failure) std::rethrow_exception(failure);
    }
}

struct Calculation::Node {
    std::size_t sheet = 0, row = 0, column = 0;
    std::string where;  // "book.csv: cell C5"
    BoundFormula formula;
    std::vector<Range> ranges;
    bool done = false;
    bool placed = false;  // its result covers more than its own cell
    Range area;           // the cells its result covers once done
    host::Table result;
    std::vector<std::size_t> unresolved;  // formulas still pending when this one was computed

    Range anchor() const { return {sheet, row, column, row, column}; }
};

Calculation::Calculation(Workbook& workbook, const FunctionTable& functions, CalculationOptions options)
    : workbook_(workbook), functions_(functions), options_(options) {
    for (std::size_t s = 0; s < workbook_.sheets.size(); ++s) {
        for (const auto& cell : workbook_.sheets[s].formulas) {
            Node node;
            node.sheet = s;
            node.row = cell.row;
            node.column = cell.column;
            node.where = workbook_.sheets[s].file + ": cell " + cellName(cell.row, cell.column);
            try {
                node.formula = workbook_.bind(parseFormula(cell.text), functions_.registrations(), s);
            } catch (const InputError& error) {
                throw InputError(node.where + ": " + error.what());
            }
            for (const auto& argument : node.formula.arguments) {
                if (argument.kind == ArgumentExpression::Kind::Reference) node.ranges.push_back(argument.range);
            }
            node.area = node.anchor();
            nodes_.push_back(std::move(node));
        }
    }
}

Calculation::~Calculation() = default;

host::Table Calculation::readRange(const Range& range) const {
    const Sheet& sheet = workbook_.sheets[range.sheet];
    host::Table table;
    table.rows = range.lastRow - range.firstRow + 1;
    table.columns = range.lastColumn - range.firstColumn + 1;
    reserveLarge(table.cells, table.rows * table.columns);
    for (std::size_t r = range.firstRow; r <= range.lastRow; ++r) {
        for (std::size_t c = range.firstColumn; c <= range.lastColumn; ++c) {
            if (r >= sheet.rows || c >= sheet.columns) {
                table.cells.emplace_back(host::Blank{});
                continue;
            }
            const host::Value& cell = sheet.cells[r * sheet.columns + c];
            // The add-in knows only the host's classic error codes.
            if (const auto* error = std::get_if<host::ErrorValue>(&cell); error && error->code == errorSpill)
                table.cells.emplace_back(host::ErrorValue{errorValue});
            else
                table.cells.push_back(cell);
        }
    }
    return table;
}

host::Table Calculation::compute(const BoundFormula& formula) const {
    std::vector<host::Argument> arguments;
    const std::size_t count = argumentNames(*formula.function).size();
    arguments.reserve(count);
    for (const auto& argument : formula.arguments) {
        switch (argument.kind) {
        case ArgumentExpression::Kind::Omitted: arguments.push_back(host::Argument::missing()); break;
        case ArgumentExpression::Kind::Value: arguments.push_back(host::Argument::fromValue(argument.value)); break;
        case ArgumentExpression::Kind::Reference: arguments.push_back(host::Argument::fromRange(readRange(argument.range))); break;
        case ArgumentExpression::Kind::Array: arguments.push_back(host::Argument::fromRange(argument.array)); break;
        }
    }
    while (arguments.size() < count) arguments.push_back(host::Argument::missing());
    host::Table result = functions_.call(*formula.function, arguments);
    if (result.rows == 0 || result.columns == 0 || result.cells.size() != result.rows * result.columns) {
        // What a spreadsheet shows for a function that returns nothing.
        result = host::Table(1, 1);
        result.at(0, 0) = host::ErrorValue{errorNum};
    }
    return result;
}

std::vector<host::Table> Calculation::evaluate(const std::vector<BoundFormula>& formulas) const {
    std::vector<host::Table> results(formulas.size());
    parallelFor(formulas.size(), options_.threads, [&](std::size_t i) {
        try {
            results[i] = compute(formulas[i]);
        } catch (const std::exception& error) {
            throw InputError("formula " + formulas[i].text + ": the add-in call failed: " + error.what());
        }
    });
    return results;
}

void Calculation::place(Node& node) {
    Sheet& sheet = workbook_.sheets[node.sheet];
    const host::Table& result = node.result;
    node.done = true;
    node.area = node.anchor();
    node.placed = false;
    sheet.extend(node.row + 1, node.column + 1);
    if (result.rows == 1 && result.columns == 1) {
        sheet.at(node.row, node.column) = result.at(0, 0);
        return;
    }
    auto fail = [&](int code) { sheet.at(node.row, node.column) = host::ErrorValue{code}; };
    if (node.row + result.rows > maxRows || node.column + result.columns > maxColumns) return fail(errorSpill);
    const Range area{node.sheet, node.row, node.column, node.row + result.rows - 1, node.column + result.columns - 1};
    for (const auto& range : node.ranges) {
        if (intersects(range, area)) {
            warnings_.push_back(node.where + ": circular reference: the result would spill into the formula's own input");
            return fail(errorRef);
        }
    }
    for (const auto& other : nodes_) {
        if (&other == &node) continue;
        if (area.contains(other.sheet, other.row, other.column) || (other.placed && intersects(other.area, area)))
            return fail(errorSpill);
    }
    for (std::size_t r = area.firstRow; r <= area.lastRow; ++r) {
        for (std::size_t c = area.firstColumn; c <= area.lastColumn; ++c) {
            if ((r != node.row || c != node.column) && !std::holds_alternative<host::Blank>(std::as_const(sheet).at(r, c)))
                return fail(errorSpill);
        }
    }
    sheet.extend(area.lastRow + 1, area.lastColumn + 1);
    for (std::size_t r = 0; r < result.rows; ++r) {
        for (std::size_t c = 0; c < result.columns; ++c) sheet.at(node.row + r, node.column + c) = result.at(r, c);
    }
    node.area = area;
    node.placed = true;
}

void Calculation::restore() {
    for (auto& node : nodes_) {
        Sheet& sheet = workbook_.sheets[node.sheet];
        const Range& area = node.placed ? node.area : node.anchor();
        for (std::size_t r = area.firstRow; r <= area.lastRow && r < sheet.rows; ++r) {
            for (std::size_t c = area.firstColumn; c <= area.lastColumn && c < sheet.columns; ++c)
                sheet.at(r, c) = host::Blank{};
        }
        node.done = false;
        node.placed = false;
        node.area = node.anchor();
        node.result = host::Table{};
        node.unresolved.clear();
    }
    warnings_.clear();
}

// One pass over all formulas. Returns false when a formula computed ahead of another turned out
// to read that one's spilled result; `discovered` then holds those (reader, writer) pairs.
bool Calculation::calculateOnce(std::vector<std::pair<std::size_t, std::size_t>>& discovered) {
    const std::size_t count = nodes_.size();
    const std::set<std::pair<std::size_t, std::size_t>> known(discovered.begin(), discovered.end());
    auto markCircular = [&](const std::vector<std::size_t>& members) {
        std::string cells;
        for (std::size_t i : members) cells += (cells.empty() ? "" : ", ") + workbook_.sheets[nodes_[i].sheet].name + "!" +
                                               cellName(nodes_[i].row, nodes_[i].column);
        warnings_.push_back(workbook_.sheets[nodes_[members.front()].sheet].file + ": circular reference between " + cells);
        for (std::size_t i : members) {
            nodes_[i].result = host::Table(1, 1);
            nodes_[i].result.at(0, 0) = host::ErrorValue{errorRef};
            place(nodes_[i]);
        }
    };
    // A formula whose own cell lies in one of its ranges reads itself.
    for (std::size_t i = 0; i < count; ++i) {
        const Node& node = nodes_[i];
        if (std::any_of(node.ranges.begin(), node.ranges.end(),
                        [&](const Range& r) { return r.contains(node.sheet, node.row, node.column); }))
            markCircular({i});
    }
    // A pending formula may still write into any cell below and right of its own.
    auto mayWrite = [&](std::size_t writer, const Range& range) {
        const Node& node = nodes_[writer];
        return range.sheet == node.sheet && range.lastRow >= node.row && range.lastColumn >= node.column;
    };
    // Certain dependencies: the reader's range holds the writer's cell, or was found to meet its spill.
    auto needs = [&](std::size_t reader, std::size_t writer) {
        if (known.count({reader, writer})) return true;
        const Node& node = nodes_[writer];
        return std::any_of(nodes_[reader].ranges.begin(), nodes_[reader].ranges.end(),
                           [&](const Range& r) { return r.contains(node.sheet, node.row, node.column); });
    };

    std::vector<std::size_t> pending;
    for (std::size_t i = 0; i < count; ++i) {
        if (!nodes_[i].done) pending.push_back(i);
    }
    while (!pending.empty()) {
        std::vector<std::size_t> ready;
        for (std::size_t f : pending) {
            bool blocked = false;
            for (std::size_t g : pending) {
                if (g == f) continue;
                for (const auto& range : nodes_[f].ranges) blocked = blocked || mayWrite(g, range);
                if (blocked) break;
            }
            if (!blocked) ready.push_back(f);
        }
        bool speculative = false;
        if (ready.empty()) {
            // Every pending formula waits for another: find the true cycles among them.
            const std::size_t n = pending.size();
            std::vector<std::vector<std::size_t>> edges(n);
            for (std::size_t a = 0; a < n; ++a) {
                for (std::size_t b = 0; b < n; ++b) {
                    if (a != b && needs(pending[a], pending[b])) edges[a].push_back(b);
                }
            }
            // Tarjan's strongly connected components.
            std::vector<int> index(n, -1), low(n, 0);
            std::vector<bool> onStack(n, false);
            std::vector<std::size_t> stack;
            std::vector<std::vector<std::size_t>> cycles;
            int counter = 0;
            std::function<void(std::size_t)> visit = [&](std::size_t v) {
                index[v] = low[v] = counter++;
                stack.push_back(v);
                onStack[v] = true;
                for (std::size_t w : edges[v]) {
                    if (index[w] < 0) {
                        visit(w);
                        low[v] = std::min(low[v], low[w]);
                    } else if (onStack[w]) {
                        low[v] = std::min(low[v], index[w]);
                    }
                }
                if (low[v] == index[v]) {
                    std::vector<std::size_t> component;
                    std::size_t w;
                    do {
                        w = stack.back();
                        stack.pop_back();
                        onStack[w] = false;
                        component.push_back(pending[w]);
                    } while (w != v);
                    if (component.size() > 1) {
                        std::sort(component.begin(), component.end());
                        cycles.push_back(std::move(component));
                    }
                }
            };
            for (std::size_t v = 0; v < n; ++v) {
                if (index[v] < 0) visit(v);
            }
            if (!cycles.empty()) {
                std::sort(cycles.begin(), cycles.end());
                for (const auto& cycle : cycles) markCircular(cycle);
                std::erase_if(pending, [&](std::size_t i) { return nodes_[i].done; });
                continue;
            }
            // No true cycle: the waiting is only on spills that may never come. Compute the formulas
            // that need no pending one, and check afterwards that no spill reached them.
            for (std::size_t a = 0; a < n; ++a) {
                if (edges[a].empty()) ready.push_back(pending[a]);
            }
            speculative = true;
        }
        std::vector<host::Table> results(ready.size());
        parallelFor(ready.size(), options_.threads, [&](std::size_t k) {
            Node& node = nodes_[ready[k]];
            try {
                results[k] = compute(node.formula);
            } catch (const std::exception& error) {
                throw InputError(node.where + ": formula " + node.formula.text + ": the add-in call failed: " + error.what());
            }
        });
        for (std::size_t k = 0; k < ready.size(); ++k) {
            Node& node = nodes_[ready[k]];
            node.result = std::move(results[k]);
            if (speculative) {
                for (std::size_t g : pending) {
                    if (!std::binary_search(ready.begin(), ready.end(), g)) node.unresolved.push_back(g);
                }
            }
            place(node);
        }
        std::erase_if(pending, [&](std::size_t i) { return nodes_[i].done; });
    }

    bool consistent = true;
    for (std::size_t f = 0; f < count; ++f) {
        for (std::size_t g : nodes_[f].unresolved) {
            for (const auto& range : nodes_[f].ranges) {
                if (intersects(range, nodes_[g].area)) {
                    discovered.emplace_back(f, g);
                    consistent = false;
                    break;
                }
            }
        }
    }
    return consistent;
}

void Calculation::run() {
    std::vector<std::pair<std::size_t, std::size_t>> discovered;
    // Each repeat knows at least one more dependency, so this ends; the bound only guards the time.
    for (std::size_t attempt = 0; attempt <= nodes_.size(); ++attempt) {
        if (calculateOnce(discovered)) return;
        restore();
    }
    calculateOnce(discovered);
}

}  // namespace cli

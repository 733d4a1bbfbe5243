// Binding formulas to the add-in's registrations and recalculating a workbook.
#include "cli/workbook.hpp"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <exception>
#include <limits>
#include <set>
#include <thread>
#include <utility>

namespace cli {
namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
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

// Whether the formula names one of the add-in's functions before a "(": then it is meant for the
// add-in, and a fault in it is the user's to mend.
bool callsAddin(std::string_view text, const std::vector<host::Registration>& registrations) {
    for (std::size_t i = 0; i < text.size();) {
        const auto nameChar = [&](std::size_t k) {
            return k < text.size() && (std::isalnum(static_cast<unsigned char>(text[k])) || text[k] == '_' || text[k] == '.');
        };
        if (!nameChar(i) || (i > 0 && nameChar(i - 1))) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (nameChar(end)) ++end;
        std::size_t next = end;
        while (next < text.size() && text[next] == ' ') ++next;
        if (next < text.size() && text[next] == '(' && findFunction(registrations, text.substr(i, end - i))) return true;
        i = end;
    }
    return false;
}

std::string plural(std::size_t count, const char* noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

}  // namespace

const host::Registration* findFunction(const std::vector<host::Registration>& registrations, std::string_view name) {
    // A spreadsheet program stores calls of add-in functions as _xll.NAME in its files.
    if (name.size() > addinFilePrefix.size() && equalsIgnoringCase(name.substr(0, addinFilePrefix.size()), addinFilePrefix))
        name.remove_prefix(addinFilePrefix.size());
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
    if (!bound.function)
        throw FormulaError(formula.text, formula.namePosition, "unknown function \"" + formula.name + "\"");
    const auto names = argumentNames(*bound.function);
    const std::size_t required = requiredArguments(*bound.function);
    // "f()" gives no argument; but for a function of one argument it reads as that argument omitted.
    const std::size_t given = formula.arguments.size();
    if (given > names.size()) {
        throw FormulaError(
            formula.text, formula.arguments[names.size()].position,
            "too many arguments: " + bound.function->name + " takes " + plural(names.size(), "argument"));
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
                    throw FormulaError(
                        formula.text, argument.position,
                        "bad reference: no sheet named \"" + reference.sheet + "\" (sheets: " + known + ")");
                }
                sheetIndex = *found;
            }
            if (sheetIndex >= sheets.size())
                throw FormulaError(formula.text, argument.position, "bad reference: there is no sheet to refer to");
            // Whole columns and rows stay open here; they are cut to the data when read.
            const Range range{sheetIndex, reference.firstRow, reference.firstColumn, reference.lastRow,
                              reference.lastColumn};
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

namespace {

// The cells of a sheet range, read by the host straight into its records. The add-in knows only
// the host's classic error codes, so #SPILL! reaches it as #VALUE!.
class RangeCells final : public host::CellSource {
   public:
    RangeCells(const Sheet& sheet, const Range& range) : sheet_(sheet), range_(range) {}
    std::size_t rows() const override { return range_.lastRow - range_.firstRow + 1; }
    std::size_t columns() const override { return range_.lastColumn - range_.firstColumn + 1; }
    void readColumn(std::size_t column, std::size_t first, std::size_t count, CellView* out) const override {
        sheet_.readColumn(range_.firstColumn + column, range_.firstRow + first, count, out);
        for (std::size_t i = 0; i < count; ++i) {
            if (out[i].kind == CellView::Kind::Error && out[i].number == errorSpill) out[i].number = errorValue;
        }
    }

   private:
    const Sheet& sheet_;
    Range range_;
};

// How many trailing rows (or columns) of [first, last] lie beyond the `used` ones; one always stays.
std::size_t beyond(std::size_t first, std::size_t last, std::size_t used) {
    if (last < used) return 0;
    return std::min(last - std::max(first, used) + 1, last - first);
}

}  // namespace

// Cuts the trailing rows (or columns) of each range that lie beyond its sheet's data, but only as
// many as every range of the same height (or width) can lose, so that equal shapes stay equal.
void Calculation::cutAlike(std::vector<Range>& ranges, bool rows) const {
    std::vector<std::size_t> drop(ranges.size()), length(ranges.size());
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        length[i] = rows ? ranges[i].lastRow - ranges[i].firstRow : ranges[i].lastColumn - ranges[i].firstColumn;
        const Sheet& sheet = workbook_.sheets[ranges[i].sheet];
        drop[i] = rows ? beyond(ranges[i].firstRow, ranges[i].lastRow, sheet.rows())
                       : beyond(ranges[i].firstColumn, ranges[i].lastColumn, sheet.columns());
    }
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        std::size_t least = drop[i];
        for (std::size_t j = 0; j < ranges.size(); ++j) {
            if (length[j] == length[i]) least = std::min(least, drop[j]);
        }
        (rows ? ranges[i].lastRow : ranges[i].lastColumn) -= least;
    }
}

struct Calculation::Node {
    std::size_t sheet = 0, row = 0, column = 0;
    std::string where;  // "book.csv: cell C5"
    BoundFormula formula;
    std::vector<Range> ranges;
    bool placed = false;  // its result covers more than its own cell
    Range area;           // the cells its result covers once done
    std::size_t level = 0;
    bool circular = false;
    host::Table result;

    Range anchor() const { return {sheet, row, column, row, column}; }
};

Calculation::Calculation(Workbook& workbook, const FunctionTable& functions, CalculationOptions options)
    : workbook_(workbook), functions_(functions), options_(options), anchors_(workbook.sheets.size()) {
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
                const Sheet& sheet = workbook_.sheets[s];
                const auto result = sheet.fileResults.find({cell.row, cell.column});
                if (result == sheet.fileResults.end() || callsAddin(cell.text, functions_.registrations()))
                    throw InputError(node.where + ": " + error.what());
                workbook_.sheets[s].set(cell.row, cell.column, result->second);
                kept_.push_back({s, cell.row, cell.column, nullptr, node.anchor(), nullptr, &cell.text});
                warnings_.push_back(node.where + ": formula " + quoteFormula(cell.text) +
                                    " calls none of the add-in's functions: its result in the file is kept");
                continue;
            }
            for (const auto& argument : node.formula.arguments) {
                if (argument.kind == ArgumentExpression::Kind::Reference) node.ranges.push_back(argument.range);
            }
            node.area = node.anchor();
            anchors_[s].push_back({cell.column, cell.row, nodes_.size()});
            nodes_.push_back(std::move(node));
        }
        std::sort(anchors_[s].begin(), anchors_[s].end());
    }
    keptWarnings_ = warnings_.size();
}

Calculation::~Calculation() = default;

// Calls visit(node) for each formula cell inside the range: per column that holds formulas, a
// search for the rows, so that a whole column costs what its formulas cost.
template <class Visit>
void Calculation::formulasIn(const Range& range, Visit visit) const {
    const auto& anchors = anchors_[range.sheet];
    auto at = std::lower_bound(anchors.begin(), anchors.end(),
                               std::array<std::size_t, 3>{range.firstColumn, range.firstRow, 0});
    while (at != anchors.end() && (*at)[0] <= range.lastColumn) {
        if ((*at)[1] < range.firstRow) {
            at = std::lower_bound(at, anchors.end(), std::array<std::size_t, 3>{(*at)[0], range.firstRow, 0});
        } else if ((*at)[1] > range.lastRow) {
            at = std::lower_bound(at, anchors.end(), std::array<std::size_t, 3>{(*at)[0] + 1, range.firstRow, 0});
        } else {
            visit((*at)[2]);
            ++at;
        }
    }
}

host::Table Calculation::compute(const BoundFormula& formula, const std::string& where) const {
    std::vector<host::Argument> arguments;
    const std::size_t count = argumentNames(*formula.function).size();
    arguments.reserve(count);
    // Ranges cut to their sheets' data; those of one formula with the same rows (or columns) as
    // written lose the same number, so that matching shapes still match.
    std::vector<Range> cut;
    for (const auto& argument : formula.arguments) {
        if (argument.kind == ArgumentExpression::Kind::Reference) cut.push_back(argument.range);
    }
    cutAlike(cut, true);
    cutAlike(cut, false);
    std::size_t next = 0;
    for (const auto& argument : formula.arguments) {
        switch (argument.kind) {
            case ArgumentExpression::Kind::Omitted:
                arguments.push_back(host::Argument::missing());
                break;
            case ArgumentExpression::Kind::Value:
                arguments.push_back(host::Argument::fromValue(argument.value));
                break;
            case ArgumentExpression::Kind::Array:
                arguments.push_back(host::Argument::fromRange(argument.array));
                break;
            case ArgumentExpression::Kind::Reference: {
                const Range& range = cut[next++];
                const std::size_t cells =
                    (range.lastRow - range.firstRow + 1) * (range.lastColumn - range.firstColumn + 1);
                if (cells > maxRangeCells) {
                    throw InputError(where + "formula " + quoteFormula(formula.text) + ": a range holds " +
                                     std::to_string(cells) + " cells with data, more than the " +
                                     std::to_string(maxRangeCells) + " one argument may hold");
                }
                arguments.push_back(
                    host::Argument::fromSource(std::make_shared<RangeCells>(workbook_.sheets[range.sheet], range)));
                break;
            }
        }
    }
    while (arguments.size() < count) arguments.push_back(host::Argument::missing());
    host::Table result;
    try {
        result = functions_.call(*formula.function, arguments);
    } catch (const std::bad_alloc&) {
        throw SystemError(where + "formula " + quoteFormula(formula.text) + ": memory ran out while computing it");
    } catch (const std::exception& error) {
        throw InputError(where + "formula " + quoteFormula(formula.text) + ": the add-in call failed: " + error.what());
    }
    if (result.rows == 0 || result.columns == 0 || result.cells.size() != result.rows * result.columns) {
        // What a spreadsheet shows for a function that returns nothing.
        result = host::Table(1, 1);
        result.at(0, 0) = host::ErrorValue{errorNum};
    }
    return result;
}

std::vector<host::Table> Calculation::evaluate(const std::vector<BoundFormula>& formulas) const {
    std::vector<host::Table> results(formulas.size());
    parallelFor(formulas.size(), options_.threads, [&](std::size_t i) { results[i] = compute(formulas[i], ""); });
    return results;
}

void Calculation::place(Node& node) {
    Sheet& sheet = workbook_.sheets[node.sheet];
    const host::Table& result = node.result;
    node.area = node.anchor();
    node.placed = false;
    if (result.rows == 1 && result.columns == 1) return sheet.set(node.row, node.column, result.at(0, 0));
    auto fail = [&](int code) { sheet.setError(node.row, node.column, code); };
    if (node.row + result.rows > maxRows || node.column + result.columns > maxColumns) return fail(errorSpill);
    const Range area{node.sheet, node.row, node.column, node.row + result.rows - 1, node.column + result.columns - 1};
    for (const auto& range : node.ranges) {
        if (intersects(range, area)) {
            warnings_.push_back(node.where +
                                ": circular reference: the result would spill into the formula's own input");
            return fail(errorRef);
        }
    }
    bool blocked = false;
    formulasIn(area, [&](std::size_t other) { blocked = blocked || &nodes_[other] != &node; });
    for (const auto& other : nodes_) blocked = blocked || (other.placed && intersects(other.area, area));
    for (std::size_t c = area.firstColumn; c <= area.lastColumn && !blocked; ++c) {
        for (std::size_t r = area.firstRow; r <= area.lastRow && !blocked; ++r)
            blocked = (r != node.row || c != node.column) && !sheet.isBlank(r, c);
    }
    if (blocked) return fail(errorSpill);
    for (std::size_t r = 0; r < result.rows; ++r) {
        for (std::size_t c = 0; c < result.columns; ++c) sheet.set(node.row + r, node.column + c, result.at(r, c));
    }
    node.area = area;
    node.placed = true;
}

void Calculation::restore() {
    for (auto& node : nodes_) {
        Sheet& sheet = workbook_.sheets[node.sheet];
        const Range& area = node.placed ? node.area : node.anchor();
        for (std::size_t r = area.firstRow; r <= area.lastRow; ++r) {
            for (std::size_t c = area.firstColumn; c <= area.lastColumn; ++c) sheet.clear(r, c);
        }
        node.placed = false;
        node.circular = false;
        node.area = node.anchor();
        node.result = host::Table{};
    }
    warnings_.resize(keptWarnings_);
    done_ = 0;
}

// One calculation in one topological order of the known dependencies: a formula needs those whose
// cells its ranges hold, and those found in an earlier round to spill into its ranges. Returns
// false when a formula was computed no later than one whose spill reached its ranges; `needs`
// then holds those pairs too, and the caller starts again.
bool Calculation::calculateOnce(std::vector<std::vector<std::size_t>>& needs) {
    const std::size_t count = nodes_.size();
    std::vector<std::vector<std::size_t>> edges(count);
    for (std::size_t i = 0; i < count; ++i) {
        for (const Range& range : nodes_[i].ranges) formulasIn(range, [&](std::size_t j) { edges[i].push_back(j); });
        edges[i].insert(edges[i].end(), needs[i].begin(), needs[i].end());
    }

    // Tarjan's strongly connected components, without recursion (a chain of formulas is deep);
    // components come out with what they need before them.
    constexpr std::size_t unseen = std::numeric_limits<std::size_t>::max();
    std::vector<std::size_t> index(count, unseen), low(count, 0), component(count, unseen);
    std::vector<std::size_t> stack, levels;
    std::vector<std::pair<std::size_t, std::size_t>> path;  // (node, next edge to follow)
    std::size_t counter = 0;
    for (std::size_t root = 0; root < count; ++root) {
        if (index[root] != unseen) continue;
        path.push_back({root, 0});
        index[root] = low[root] = counter++;
        stack.push_back(root);
        while (!path.empty()) {
            auto& [v, next] = path.back();
            if (next < edges[v].size()) {
                const std::size_t w = edges[v][next++];
                if (index[w] == unseen) {
                    index[w] = low[w] = counter++;
                    stack.push_back(w);
                    path.push_back({w, 0});
                } else if (component[w] == unseen) {
                    low[v] = std::min(low[v], index[w]);
                }
                continue;
            }
            const std::size_t done = v;
            path.pop_back();
            if (!path.empty()) low[path.back().first] = std::min(low[path.back().first], low[done]);
            if (low[done] != index[done]) continue;
            // A component: its level follows the levels of the components it needs.
            const std::size_t id = levels.size();
            std::vector<std::size_t> members;
            std::size_t w;
            do {
                w = stack.back();
                stack.pop_back();
                component[w] = id;
                members.push_back(w);
            } while (w != done);
            std::size_t level = 0;
            bool circular = members.size() > 1;
            for (std::size_t m : members) {
                for (std::size_t e : edges[m]) {
                    if (component[e] != id)
                        level = std::max(level, levels[component[e]] + 1);
                    else if (e == m)
                        circular = true;
                }
            }
            levels.push_back(level);
            std::sort(members.begin(), members.end());
            for (std::size_t m : members) {
                nodes_[m].level = level;
                nodes_[m].circular = circular;
            }
            if (circular) {
                std::string cells;
                for (std::size_t m : members)
                    cells += (cells.empty() ? "" : ", ") + workbook_.sheets[nodes_[m].sheet].name + "!" +
                             cellName(nodes_[m].row, nodes_[m].column);
                cycles_.push_back({members.front(), workbook_.sheets[nodes_[members.front()].sheet].file +
                                                        ": circular reference between " + cells});
            }
        }
    }

    // Round by round: the formulas of a level need none of each other and run at once; their
    // results are placed in the order of the cells, whatever the number of threads.
    std::vector<std::vector<std::size_t>> rounds(levels.empty() ? 0
                                                                : *std::max_element(levels.begin(), levels.end()) + 1);
    for (std::size_t i = 0; i < count; ++i) rounds[nodes_[i].level].push_back(i);
    std::sort(cycles_.begin(), cycles_.end());
    for (const auto& round : rounds) {
        std::vector<std::size_t> ready;
        for (std::size_t i : round) {
            if (!nodes_[i].circular) ready.push_back(i);
        }
        std::vector<host::Table> results(ready.size());
        parallelFor(ready.size(), options_.threads, [&](std::size_t k) {
            results[k] = compute(nodes_[ready[k]].formula, nodes_[ready[k]].where + ": ");
            if (options_.progress) {
                const std::lock_guard<std::mutex> lock(progressLock_);
                options_.progress(++done_, count);
            }
        });
        for (std::size_t k = 0; k < ready.size(); ++k) nodes_[ready[k]].result = std::move(results[k]);
        for (std::size_t i : round) {
            Node& node = nodes_[i];
            if (node.circular) {
                node.result = host::Table(1, 1);
                node.result.at(0, 0) = host::ErrorValue{errorRef};
                for (const auto& [first, text] : cycles_) {
                    if (first == i) warnings_.push_back(text);
                }
            }
            place(node);
        }
    }
    cycles_.clear();

    // A spill that reached the range of a formula computed no later than it.
    bool consistent = true;
    for (std::size_t g = 0; g < count; ++g) {
        if (!nodes_[g].placed) continue;
        for (std::size_t f = 0; f < count; ++f) {
            if (f == g || nodes_[f].level > nodes_[g].level || nodes_[f].circular) continue;
            for (const Range& range : nodes_[f].ranges) {
                if (intersects(range, nodes_[g].area)) {
                    needs[f].push_back(g);
                    consistent = false;
                    break;
                }
            }
        }
    }
    return consistent;
}

std::vector<FormulaOutcome> Calculation::outcomes() const {
    std::vector<FormulaOutcome> all;
    all.reserve(nodes_.size());
    for (const Node& node : nodes_)
        all.push_back({node.sheet, node.row, node.column, &node.formula, node.area, &node.result, nullptr});
    all.insert(all.end(), kept_.begin(), kept_.end());
    return all;
}

void Calculation::run() {
    std::vector<std::vector<std::size_t>> needs(nodes_.size());
    // Each repeat knows at least one more dependency, so this ends; the bound only guards the time.
    for (std::size_t attempt = 0; attempt <= nodes_.size(); ++attempt) {
        if (calculateOnce(needs)) return;
        restore();
    }
    calculateOnce(needs);
}

}  // namespace cli

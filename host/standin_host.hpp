// A stand-in for the spreadsheet program: loads an add-in file through its lifecycle entry
// points, records what it registers, and calls its worksheet entry points with host records.
//
//   host::StandInHost excel({.version = 16});
//   excel.load("build/Tavirune.xll");                 // dlopen + xlAutoOpen
//   const host::Registration* f = excel.find("Korvanth.Tavirune.rocCurveAggregate");
//   host::Table result = excel.call(*f, {host::Argument::range(grades), ...});
//   excel.unload();                                   // xlAutoClose, dlclose
//
// Host-side values are what a spreadsheet cell holds; texts are UTF-8.
//
// One host is active in a process at a time: the callback library and MdCallBack12 are
// process-wide, as in a spreadsheet program. An executable that uses the host links the CMake
// target tavirune_host, which exports MdCallBack12 and the window list from the executable.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace host {

struct Blank {
    friend bool operator==(Blank, Blank) = default;
};
struct ErrorValue {
    int code = 42;  // the host's error codes: 0 #NULL!, 7 #DIV/0!, 15 #VALUE!, 23 #REF!, 29 #NAME?, 36 #NUM!, 42 #N/A
    friend bool operator==(ErrorValue, ErrorValue) = default;
};

// One cell as the host holds it.
using Value = std::variant<Blank, double, std::string, bool, ErrorValue>;

// A rectangular block of cells, row-major.
struct Table {
    std::size_t rows = 0;
    std::size_t columns = 0;
    std::vector<Value> cells;

    Table() = default;
    Table(std::size_t r, std::size_t c) : rows(r), columns(c), cells(r * c) {}
    Value& at(std::size_t r, std::size_t c) { return cells[r * columns + c]; }
    const Value& at(std::size_t r, std::size_t c) const { return cells[r * columns + c]; }
    friend bool operator==(const Table&, const Table&) = default;
};

// One cell read in place from where its sheet keeps it; a text stays valid while the sheet does.
struct CellView {
    enum class Kind : std::uint8_t { Blank, Number, Text, Boolean, Error } kind = Kind::Blank;
    double number = 0;      // Number; a Boolean's 0 or 1; an Error's code
    std::string_view text;  // Text
};

// A block of cells that the host reads straight into a call's records, as a spreadsheet reads its
// own sheet: no table of values is made in between.
class CellSource {
   public:
    virtual ~CellSource() = default;
    virtual std::size_t rows() const = 0;
    virtual std::size_t columns() const = 0;
    // The cells of one column, rows [first, first + count), into `out`.
    virtual void readColumn(std::size_t column, std::size_t first, std::size_t count, CellView* out) const = 0;
};

// A cell view as a host value (the text copied).
inline Value valueOf(const CellView& cell) {
    switch (cell.kind) {
        case CellView::Kind::Number:
            return cell.number;
        case CellView::Kind::Text:
            return std::string(cell.text);
        case CellView::Kind::Boolean:
            return cell.number != 0;
        case CellView::Kind::Error:
            return ErrorValue{static_cast<int>(cell.number)};
        case CellView::Kind::Blank:
            break;
    }
    return Blank{};
}

// One argument of a call: a range (a table of values, or cells read from a source), a single
// value, or an omitted argument. The host converts it for the registered type code, as a
// spreadsheet does.
struct Argument {
    enum class Kind { Range, Scalar, Missing } kind = Kind::Missing;
    Table range;
    Value scalar;
    std::shared_ptr<const CellSource> source{};  // a Range read from here when set

    static Argument fromRange(Table table) { return {Kind::Range, std::move(table), Blank{}, nullptr}; }
    static Argument fromSource(std::shared_ptr<const CellSource> cells) {
        return {Kind::Range, Table{}, Blank{}, std::move(cells)};
    }
    static Argument fromValue(Value value) { return {Kind::Scalar, Table{}, std::move(value), nullptr}; }
    static Argument missing() { return {}; }

    // A Range's cells as a table, whichever way it was given.
    Table table() const {
        if (!source) return range;
        Table out(source->rows(), source->columns());
        std::vector<CellView> column(out.rows);
        for (std::size_t c = 0; c < out.columns; ++c) {
            source->readColumn(c, 0, out.rows, column.data());
            for (std::size_t r = 0; r < out.rows; ++r) out.at(r, c) = valueOf(column[r]);
        }
        return out;
    }
};

// One argument of StandInHost::callRecords, handed to the entry point as it is: for P, Q, R, U a
// record of the registered generation that the caller built (null passes a null pointer), for B
// the double.
struct RawArgument {
    void* record = nullptr;
    double number = 0;

    static RawArgument fromRecord(void* record) { return {record, 0}; }
    static RawArgument fromNumber(double number) { return {nullptr, number}; }
};

// What the add-in registered for one function, as the register call passed it.
struct Registration {
    std::string module;        // the add-in's file path
    std::string procedure;     // exported entry point, e.g. "xlrocCurveIndividual"
    std::string typeText;      // e.g. "QQQBBB$"
    std::string name;          // e.g. "Korvanth.Tavirune.rocCurveIndividual"
    std::string argumentText;  // comma-separated argument names
    int macroType = 0;
    std::string category;
    std::string shortcut;
    std::string helpTopic;
    std::string description;
    std::vector<std::string> argumentHelp;
    double id = 0;  // the identifier the register call answered with
};

// One call the add-in made to the host outside worksheet calls (registration, names, status bar,
// queries), in the order they came.
struct HostCall {
    int function = 0;    // the function number
    std::string detail;  // e.g. the registered name, the status-bar text, the identifier
};

struct HostOptions {
    int version = 16;           // 11 for the older records, 12 or 16 for the newer
    std::string libraryPath{};  // answer to the library-path query; empty: the add-in's own path
    bool noXlcall32 = false;    // fault: the callback library is not loadable (needs a fresh process)
    // Fault: MdCallBack12 answers every call with status 32, which is what the add-in reports when
    // it finds no MdCallBack12. (An executable linked with tavirune_host_core alone really has none.)
    bool noMdCallBack12 = false;
    // Fault: the version text cannot be coerced to a number ("<version>.0 (stand-in)"): only its
    // leading digits tell the version.
    bool uncoercibleVersion = false;
    std::optional<int> rejectRegistration{};  // fault: register answers with this return code
    bool functionWizardOpen = false;          // a "bosa_sdm_XL9" dialog on the main thread, titled as below
    std::string functionWizardTitle = "Function Arguments";
    // Fault: workspace information answers with an error value (#N/A), a record that is no text.
    bool versionNotText = false;
    std::optional<std::string> versionText{};  // the version text instead of "<version>.0"
    bool libraryPathFails = false;             // fault: the library-path query answers status 32
    // Fault: range arguments of value type codes (P, Q) arrive as references, not resolved.
    bool rangesAsReferences = false;
    // Fault: range arguments arrive as references of two areas (the range twice), for any code.
    bool multiAreaReferences = false;
    std::string callbackLibrary{};  // path of the stand-in XLCALL32.DLL; empty: the one built with the host
    // Fault: so many more windows on the main thread, whose class names and titles fill their
    // arrays unterminated.
    std::size_t extraWindows = 0;
    // Fault: calls of these function numbers answer with the given return code, leaving the result.
    std::map<int, int> failing{};
};

class StandInHost {
   public:
    explicit StandInHost(HostOptions options = {});
    ~StandInHost();
    StandInHost(const StandInHost&) = delete;
    StandInHost& operator=(const StandInHost&) = delete;

    // Loads the file and calls xlAutoOpen; throws std::runtime_error with a clear text on failure.
    void load(const std::string& addinPath);
    // xlAutoRemove (when `remove`), then xlAutoClose, then unloads the file.
    void unload(bool remove = false);
    // Answers the callbacks of add-in code linked into this executable, as load() does for a file
    // but without calling any entry point: the executable stands for the add-in (its procedures can
    // be registered) and `addinPath` is its path. unload() ends it, again without entry points.
    void attach(const std::string& addinPath);

    const std::vector<Registration>& registrations() const;
    const std::vector<std::string>& unregistrations() const;
    // Case-insensitive lookup by registered name; null when not registered.
    const Registration* find(const std::string& name) const;

    // Calls the entry point through its type text and reads the returned record back.
    // Safe to call from several threads at once; a function registered without "$" runs on one
    // thread at a time. A scalar result comes back as a 1 x 1 table.
    //
    // Arguments, as a spreadsheet builds them for each code:
    //   P, Q   a range as an array (blank cells nil), a value as its record, omitted: missing;
    //   R, U   a range as a reference to the call's own sheet (coercible while the call runs);
    //   B, J   a number; TRUE/FALSE as 1/0; a numeric text as its number; blank or omitted: 0;
    //          a range of one cell as that cell. Any other text, or a larger range, gives #VALUE!
    //          without calling; an error value is the result as it is. J truncates toward zero
    //          (#NUM! outside 32 bits);
    //   A      a flag; a number is true when non-zero; "TRUE"/"FALSE"; blank or omitted: false;
    //   C, C%  the value as a text (numbers as the General format shows them);
    //   K, K%  numbers of a range or a single number, blank cells 0; other cells #VALUE!.
    // A range larger than the registered generation can hold throws std::length_error; more
    // arguments than registered throw std::invalid_argument, fewer are passed as omitted.
    // Results: a null record is #NUM!, a non-finite number #NUM!, a reference shows its cells,
    // an asynchronous function (">" with "X") shows #GETTING_DATA, a void one a blank.
    Table call(const Registration& function, const std::vector<Argument>& arguments) const;

    // The same call with records the caller built, as a spreadsheet could hand them over: any
    // element type, integers, texts of any units, non-finite numbers, any double for B. Only the
    // codes P, Q, R, U and B are taken (others throw std::invalid_argument); omitted arguments
    // are missing records (0 for B). A record whose type carries xlbitXLFree, at the top or as an
    // element of a top-level array, counts as the host's own allocation for the call: the add-in
    // may hand it back with xlFree; a top-level one it keeps stays in hostAllocations().
    // `inspect` sees the returned record (P, Q, R, U results) before the host reads and releases it.
    Table callRecords(const Registration& function, const std::vector<RawArgument>& arguments,
                      const std::function<void(const void* record)>& inspect = {}) const;

    HostOptions& options();

    // State of the last load: whether an add-in is loaded, and what its xlAutoOpen returned.
    bool loaded() const;
    int autoOpenResult() const;
    // Every host call outside the worksheet functions' own callbacks (see HostCall).
    std::vector<HostCall> calls() const;
    // Forgets recorded registrations, unregistrations and calls (the add-in stays loaded).
    void clearRecords();
    // Current status-bar text (empty when cleared).
    std::string statusBar() const;
    // Records the host allocated for the add-in and that the add-in has not yet handed back.
    std::size_t hostAllocations() const;
    // xlFree calls for memory the host does not hold: a record handed back twice, or one the
    // host never allocated.
    std::size_t strayFrees() const;
    // How often the host called the add-in's xlAutoFree12 / xlAutoFree for a returned record.
    std::size_t addinFrees() const;
    // A symbol of the loaded add-in; null when it has none.
    void* symbol(const std::string& name) const;

   private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace host

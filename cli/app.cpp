// Command-line parsing with CLI11 and the flow of each command.
#include "cli/app.hpp"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <new>
#include <ostream>
#include <thread>

#include "cli/files.hpp"
#include "cli/output.hpp"
#include "cli/spreadsheet_files.hpp"

namespace cli {
namespace {

constexpr int failed = 1;  // the machine failed: memory ran out, a write failed
constexpr int badInput = 2;

CsvOptions csvOptions(const std::string& separator, const std::string& encoding, std::ostream& err) {
    CsvOptions options;
    if (separator == "," || separator == "comma")
        options.separator = ',';
    else if (separator == ";" || separator == "semicolon")
        options.separator = ';';
    else if (separator != "auto")
        throw InputError("unknown separator \"" + separator + "\" (auto, comma or semicolon)");
    if (encoding == "utf-8")
        options.encoding = Encoding::Utf8;
    else if (encoding == "windows-1252")
        options.encoding = Encoding::Windows1252;
    options.threads = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
    options.notice = [&err](const std::string& text) { err << "tavirune: notice: " << text << "\n"; };
    return options;
}

// "[NAME=]FILE.csv" as name (empty when not given) and path.
std::pair<std::string, std::string> sheetOption(const std::string& option) {
    const std::size_t equals = option.find('=');
    if (equals != std::string::npos && equals > 0 && option.substr(0, equals).find('/') == std::string::npos)
        return {option.substr(0, equals), option.substr(equals + 1)};
    return {"", option};
}

// "[NAME=]FILE[#SHEET]": the sheet's name, the file, and the one sheet of a workbook file.
struct SheetSource {
    std::string name, path, sheet;
};

SheetSource sheetSource(const std::string& option) {
    auto [name, path] = sheetOption(option);
    const std::size_t hash = path.rfind('#');
    if (hash != std::string::npos && isWorkbookPath(path.substr(0, hash)))
        return {name, path.substr(0, hash), path.substr(hash + 1)};
    return {name, path, ""};
}

// The sheets an option gives: one of a CSV file; every sheet of a workbook file, or the one
// after '#', or its first one under the name given.
std::vector<Sheet> readSheetOption(const std::string& option, const CsvOptions& options) {
    const SheetSource source = sheetSource(option);
    try {
        std::vector<Sheet> sheets;
        if (isWorkbookPath(source.path)) {
            sheets = readWorkbookFile(source.path, source.sheet);
            if (!source.name.empty()) sheets.resize(1);
        } else {
            sheets.push_back(readCsvFile(source.path, options));
            if (source.name.empty() && source.path == "-") sheets.back().name = "stdin";
        }
        if (!source.name.empty()) sheets.front().name = source.name;
        return sheets;
    } catch (const std::bad_alloc&) {
        throw SystemError(source.path + ": memory ran out while reading it");
    }
}

void addSheets(Workbook& book, const std::vector<std::string>& options, const CsvOptions& csv) {
    for (const auto& option : options) {
        for (Sheet& sheet : readSheetOption(option, csv)) {
            if (book.findSheet(sheet.name))
                throw InputError(sheet.file + ": a sheet named \"" + sheet.name +
                                 "\" is already given; name it with NAME=" + sheet.file);
            book.sheets.push_back(std::move(sheet));
        }
    }
}

// While a calculation runs, and once it has run for two seconds, a line on the terminal that
// counts the formula cells done; it is wiped when the calculation ends.
class ProgressLine {
   public:
    explicit ProgressLine(std::ostream& err) : err_(err), thread_([this] { show(); }) {}
    ~ProgressLine() {
        {
            const std::lock_guard<std::mutex> lock(lock_);
            stopped_ = true;
        }
        wake_.notify_one();
        thread_.join();
        if (shown_ > 0) err_ << "\r" << std::string(shown_, ' ') << "\r" << std::flush;
    }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    void update(std::size_t done, std::size_t total) {
        done_ = done;
        total_ = total;
    }

   private:
    std::ostream& err_;
    std::atomic<std::size_t> done_{0}, total_{0};
    std::size_t shown_ = 0;
    bool stopped_ = false;
    std::mutex lock_;
    std::condition_variable wake_;
    std::thread thread_;

    void show() {
        const auto start = std::chrono::steady_clock::now();
        std::unique_lock<std::mutex> lock(lock_);
        while (!wake_.wait_for(lock, std::chrono::milliseconds(250), [this] { return stopped_; })) {
            if (std::chrono::steady_clock::now() - start < std::chrono::seconds(2) || total_ == 0) continue;
            const std::string line = "tavirune: " + std::to_string(done_) + " of " + std::to_string(total_) +
                                     " formula cells computed";
            err_ << "\r" << line << std::flush;
            shown_ = std::max(shown_, line.size());
        }
    }
};

std::unique_ptr<FunctionTable> loadAddin(const Environment& environment, std::string path) {
    if (path.empty()) path = environment.defaultAddin;
    std::error_code ignored;
    if (!std::filesystem::is_regular_file(path, ignored)) {
        throw InputError("the add-in was not found at " + path +
                         "; give its path with --addin PATH or the environment variable TAVIRUNE_XLL");
    }
    try {
        return environment.loadAddin(path);
    } catch (const std::exception& error) {
        throw InputError("cannot load the add-in " + path + ": " + error.what());
    }
}

void printWarnings(const Calculation& calculation, std::ostream& err) {
    for (const auto& warning : calculation.warnings()) err << "tavirune: warning: " << warning << "\n";
}

}  // namespace

int runCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
               const Environment& environment) {
    CLI::App app{"Computes worksheet formulas over CSV sheets through the add-in Tavirune.xll.", "tavirune"};
    app.require_subcommand(1);
    app.fallthrough();
    std::string addin;
    app.add_option("--addin", addin, "Path of Tavirune.xll (default: beside the tavirune executable)")
        ->envname("TAVIRUNE_XLL");

    std::string format = "table", separator = "auto", encoding = "detect";
    unsigned threads = 1;
    std::vector<std::string> sheetOptions;

    auto* functions =
        app.add_subcommand("functions", "Lists the registered functions with their arguments and help texts");
    std::string functionName;
    functions->add_option("NAME", functionName, "One function, with or without the Korvanth.Tavirune. prefix");
    functions->add_option("--format", format, "table or json")->check(CLI::IsMember({"table", "json"}));

    auto* eval = app.add_subcommand("eval", "Computes formulas against the given sheets and prints their results");
    eval->add_option("--sheet", sheetOptions,
                     "[NAME=]FILE.csv (- reads standard input), FILE.xlsx or [NAME=]FILE.xlsx#SHEET: a sheet; the "
                     "first is the default for references")
        ->required()
        ->allow_extra_args(false);
    std::vector<std::string> formulas;
    eval->add_option("FORMULA", formulas, "A formula such as =rocCurveIndividual(A2:A101,B2:B101,0,0,10)")->required();
    eval->add_option("--format", format, "table, csv or json")->check(CLI::IsMember({"table", "csv", "json"}));
    eval->add_option("--separator", separator, "auto, comma or semicolon");
    eval->add_option("--threads", threads, "Formulas computed at once")->check(CLI::Range(1u, 1024u));
    eval->add_option("--encoding", encoding,
                     "Of the sheets' texts: utf-8 or windows-1252 (default: UTF-8, else Windows-1252 with a notice)")
        ->check(CLI::IsMember({"detect", "utf-8", "windows-1252"}));

    auto* calc =
        app.add_subcommand("calc", "Computes every formula cell of a workbook sheet and writes the computed sheet");
    std::string workbookPath, outputPath;
    std::string calcFormat = "csv";
    std::string plotsFolder;
    calc->add_option("WORKBOOK", workbookPath,
                     "The sheet with formula cells (CSV), or a workbook (.xlsx) whose sheets all are computed")
        ->required();
    calc->add_option("-o,--output", outputPath,
                     "Write the computed sheet here instead of standard output; OUT.xlsx gets every sheet, the "
                     "formulas with their results and a chart of every ROC curve");
    calc->add_option("--sheet", sheetOptions,
                     "[NAME=]FILE.csv, FILE.xlsx (its every sheet) or [NAME=]FILE.xlsx#SHEET: a further sheet the "
                     "formulas may refer to")
        ->allow_extra_args(false);
    calc->add_option("--plots", plotsFolder, "Draw every ROC curve as an SVG file into this folder");
    calc->add_option("--format", calcFormat, "csv, table or json")->check(CLI::IsMember({"table", "csv", "json"}));
    calc->add_option("--separator", separator, "auto, comma or semicolon");
    calc->add_option("--threads", threads, "Independent formulas computed at once")->check(CLI::Range(1u, 1024u));
    calc->add_option("--encoding", encoding,
                     "Of the sheets' texts: utf-8 or windows-1252 (default: UTF-8, else Windows-1252 with a notice)")
        ->check(CLI::IsMember({"detect", "utf-8", "windows-1252"}));

    std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::ParseError& error) {
        const int status = app.exit(error, out, err);
        return status == 0 ? 0 : badInput;
    }

    try {
        std::string result;
        if (*functions) {
            const auto table = loadAddin(environment, addin);
            std::vector<const host::Registration*> chosen;
            if (functionName.empty()) {
                for (const auto& registration : table->registrations()) chosen.push_back(&registration);
            } else {
                const auto* found = findFunction(table->registrations(), functionName);
                if (!found)
                    throw InputError("unknown function \"" + functionName + "\"; tavirune functions lists them all");
                chosen.push_back(found);
            }
            result = renderFunctions(parseFormat(format), chosen);
        } else if (*eval) {
            const CsvOptions csv = csvOptions(separator, encoding, err);
            Workbook book;
            addSheets(book, sheetOptions, csv);
            const auto table = loadAddin(environment, addin);
            std::vector<BoundFormula> bound;
            for (const auto& formula : formulas)
                bound.push_back(book.bind(parseFormula(formula), table->registrations(), 0));
            Calculation calculation(book, *table, {.threads = threads});
            calculation.run();
            const auto results = calculation.evaluate(bound);
            printWarnings(calculation, err);
            result = renderResults(parseFormat(format), formulas, results);
        } else if (*calc) {
            const CsvOptions csv = csvOptions(separator, encoding, err);
            const bool workbookOutput = !outputPath.empty() && isWorkbookPath(outputPath);
            if (workbookOutput) {
                std::string extension = std::filesystem::path(outputPath).extension().string();
                for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                if (extension != ".xlsx") throw InputError(outputPath + ": tavirune writes workbooks as .xlsx only");
            }
            if (workbookOutput && !workbookFilesSupported()) writeWorkbookFile({}, {}, outputPath);
            if (!plotsFolder.empty() && !workbookFilesSupported()) writeCurvePlots({}, {}, plotsFolder);
            if (!outputPath.empty()) {
                std::vector<std::string> inputs{sheetSource(workbookPath).path};
                for (const auto& option : sheetOptions) inputs.push_back(sheetSource(option).path);
                refuseOverwritingInputs(outputPath, inputs);
            }
            Workbook book;
            addSheets(book, {workbookPath}, csv);
            addSheets(book, sheetOptions, csv);
            const auto table = loadAddin(environment, addin);
            std::unique_ptr<ProgressLine> progress;
            CalculationOptions options{.threads = threads};
            if (environment.progress) {
                progress = std::make_unique<ProgressLine>(err);
                options.progress = [line = progress.get()](std::size_t done, std::size_t total) {
                    line->update(done, total);
                };
            }
            Calculation calculation(book, *table, options);
            calculation.run();
            progress.reset();
            printWarnings(calculation, err);
            try {
                if (!plotsFolder.empty()) writeCurvePlots(book, calculation.outcomes(), plotsFolder);
                if (workbookOutput) {
                    writeWorkbookFile(book, calculation.outcomes(), outputPath);
                } else {
                    result = renderSheet(parseFormat(calcFormat), book.sheets.front());
                    if (!outputPath.empty()) {
                        SafeReplace file(outputPath);
                        file.write(result);
                        file.commit();
                        result.clear();
                    }
                }
            } catch (const std::bad_alloc&) {
                throw SystemError((outputPath.empty() ? std::string("the standard output") : outputPath) +
                                  ": memory ran out while writing the computed sheet");
            }
        }
        out << result;
        out.flush();
        if (!out) throw SystemError(std::string("the standard output: cannot write: ") + std::strerror(errno));
        return 0;
    } catch (const SystemError& error) {
        err << "tavirune: " << error.what() << "\n";
        return failed;
    } catch (const std::bad_alloc&) {
        err << "tavirune: memory ran out\n";
        return failed;
    } catch (const InputError& error) {
        err << "tavirune: " << error.what() << "\n";
        return badInput;
    } catch (const std::exception& error) {
        err << "tavirune: " << error.what() << "\n";
        return badInput;
    }
}

}  // namespace cli

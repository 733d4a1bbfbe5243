// Command-line parsing with CLI11 and the flow of each command.
#include "cli/app.hpp"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <ostream>
#include <thread>

#include "cli/files.hpp"
#include "cli/output.hpp"

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

Sheet readSheetOption(const std::string& option, const CsvOptions& options) {
    const auto [name, path] = sheetOption(option);
    try {
        Sheet sheet = readCsvFile(path, options);
        if (!name.empty())
            sheet.name = name;
        else if (path == "-")
            sheet.name = "stdin";
        return sheet;
    } catch (const std::bad_alloc&) {
        throw SystemError(path + ": memory ran out while reading it");
    }
}

void addSheets(Workbook& book, const std::vector<std::string>& options, const CsvOptions& csv) {
    for (const auto& option : options) {
        Sheet sheet = readSheetOption(option, csv);
        if (book.findSheet(sheet.name))
            throw InputError(sheet.file + ": a sheet named \"" + sheet.name +
                             "\" is already given; name it with NAME=" + sheet.file);
        book.sheets.push_back(std::move(sheet));
    }
}

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
                     "[NAME=]FILE.csv: a sheet (- reads standard input); the first is the default for references")
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
    calc->add_option("WORKBOOK", workbookPath, "The sheet with formula cells (CSV)")->required();
    calc->add_option("-o,--output", outputPath, "Write the computed sheet here instead of standard output");
    calc->add_option("--sheet", sheetOptions, "[NAME=]FILE.csv: a further sheet the formulas may refer to")
        ->allow_extra_args(false);
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
            if (!outputPath.empty()) {
                std::vector<std::string> inputs{sheetOption(workbookPath).second};
                for (const auto& option : sheetOptions) inputs.push_back(sheetOption(option).second);
                refuseOverwritingInputs(outputPath, inputs);
            }
            Workbook book;
            addSheets(book, {workbookPath}, csv);
            addSheets(book, sheetOptions, csv);
            const auto table = loadAddin(environment, addin);
            Calculation calculation(book, *table, {.threads = threads});
            calculation.run();
            printWarnings(calculation, err);
            try {
                result = renderSheet(parseFormat(calcFormat), book.sheets.front());
                if (!outputPath.empty()) {
                    SafeReplace file(outputPath);
                    file.write(result);
                    file.commit();
                    result.clear();
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

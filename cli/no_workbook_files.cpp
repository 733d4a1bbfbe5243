// A build without liborcus, libxlsxwriter and cairo: CSV only, and a clear word when asked for more.
#include "cli/spreadsheet_files.hpp"

namespace cli {
namespace {

[[noreturn]] void unsupported(const std::string& path) {
    throw InputError(path + ": this build of tavirune reads and writes CSV sheets only (the Linux build reads and "
                            "writes .xlsx workbooks and draws plots)");
}

}  // namespace

bool workbookFilesSupported() { return false; }

std::vector<Sheet> readWorkbookFile(const std::string& path, const std::string&) { unsupported(path); }

void writeWorkbookFile(const Workbook&, const std::vector<FormulaOutcome>&, const std::string& path) {
    unsupported(path);
}

std::vector<std::string> writeCurvePlots(const Workbook&, const std::vector<FormulaOutcome>&,
                                         const std::string& folder) {
    unsupported(folder);
}

}  // namespace cli

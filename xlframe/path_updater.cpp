#include "xlframe/path_updater.hpp"

#include <optional>
#include <string>

#include "xlframe/exceptions.hpp"
#include "xlframe/platform.hpp"
#include "xlframe/xl_excel.hpp"

namespace xlframe {

namespace {

#if defined(_WIN32)
constexpr char listSeparator = ';';
constexpr char pathSeparator = '\\';
constexpr const char* variableSet = "Path";
#else
// Names of variables are case sensitive here, so the one read is the one set.
constexpr char listSeparator = ':';
constexpr char pathSeparator = '/';
constexpr const char* variableSet = "PATH";
#endif
constexpr const char* variableRead = "PATH";

// An address inside the add-in, to find its own module by.
const char anchor = 0;

void diagnostic(int line, const std::string& message) { writeDiagnostic(__FILE__, line, message); }

const char* const unableToInitialise = " Warning: Unable to initialise PATH to directory of library ";

}  // namespace

PathUpdater::PathUpdater() { Update(); }

void PathUpdater::Update() {
    std::string oldPath;
    const std::optional<std::string> current = platform::getEnvironment(variableRead);
    if (!current || current->empty())
        diagnostic(__LINE__, std::string(" Could not obtain ") + variableRead + " Environment variable ");
    else
        oldPath = *current;

    const std::string moduleFile = platform::modulePathOf(&anchor);
    if (moduleFile.empty()) {
        diagnostic(__LINE__, " Could not attain path of DLL");
        diagnostic(__LINE__, unableToInitialise);
        return;
    }
    XlfExcel::Instance().SendMessage(moduleFile);

    if (oldPath.empty()) {
        diagnostic(__LINE__, unableToInitialise);
        return;
    }
    const std::string newPath = AppendLibraryFolder(oldPath, moduleFile, listSeparator, pathSeparator);
    if (platform::setEnvironment(variableSet, newPath)) {
        diagnostic(__LINE__, " PATH set successfully ");
    } else {
        diagnostic(__LINE__, " SetEnvironmentVariable failed to set PATH");
        diagnostic(__LINE__, unableToInitialise);
    }
}

}  // namespace xlframe

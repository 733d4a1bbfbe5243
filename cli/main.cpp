// tavirune: a command-line spreadsheet host. It loads Tavirune.xll through the stand-in host, as a
// spreadsheet program loads an add-in, and computes formulas over CSV sheets with it.
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <csignal>
#include <filesystem>
#include <iostream>
#include <memory>

#include "cli/app.hpp"
#include "cli/files.hpp"
#include "host/host_platform.hpp"
#include "host/standin_host.hpp"

namespace {

class LoadedAddin : public cli::FunctionTable {
   public:
    explicit LoadedAddin(const std::string& path) { host_.load(path); }
    ~LoadedAddin() override {
        try {
            host_.unload();
        } catch (...) {
            // Closing an add-in that failed to close changes nothing the user sees.
        }
    }
    LoadedAddin(const LoadedAddin&) = delete;
    LoadedAddin& operator=(const LoadedAddin&) = delete;

    const std::vector<host::Registration>& registrations() const override { return host_.registrations(); }
    host::Table call(const host::Registration& function, const std::vector<host::Argument>& arguments) const override {
        return host_.call(function, arguments);
    }

   private:
    host::StandInHost host_;
};

// Tavirune.xll one folder up, where the Windows package keeps it apart from this host's own
// XLCALL32.DLL (a spreadsheet opening the add-in must never find that one beside it), or beside
// the executable, as in a build folder.
std::string defaultAddinPath() {
    const std::string path = host::detail::executablePath();
    if (path.empty()) return "Tavirune.xll";
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    const std::filesystem::path above = folder.parent_path() / "Tavirune.xll", beside = folder / "Tavirune.xll";
    std::error_code error;
    if (std::filesystem::is_regular_file(beside, error)) return beside.string();
#ifdef _WIN32
    return above.string();
#else
    return std::filesystem::is_regular_file(above, error) ? above.string() : beside.string();
#endif
}

}  // namespace

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
#ifdef SIGPIPE
    // A closed pipe is reported as a failed write, with a message, rather than ending the process.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    cli::Environment environment;
    environment.defaultAddin = defaultAddinPath();
#ifdef _WIN32
    environment.progress = ::_isatty(2) != 0;
#else
    environment.progress = ::isatty(2) != 0;
#endif
    environment.loadAddin = [](const std::string& path) -> std::unique_ptr<cli::FunctionTable> {
        return std::make_unique<LoadedAddin>(path);
    };
    // The add-in sends its diagnostics to std::cerr by swapping that stream's buffer while it is
    // loaded, and it shares this process's std::cerr: the command's messages keep their own
    // stream on the standard error's buffer.
    std::ostream errors(std::cerr.rdbuf());
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const int status = cli::runCommand(arguments, std::cout, errors, environment);
    if (status != 0) return status;  // a failed write of the result is reported already
    try {
        cli::closeStandardOutput();
    } catch (const std::exception& error) {
        errors << "tavirune: " << error.what() << "\n";
        return 1;
    }
    return 0;
}

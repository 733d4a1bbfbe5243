// tavirune: a command-line spreadsheet host. It loads Tavirune.xll through the stand-in host, as a
// spreadsheet program loads an add-in, and computes formulas over CSV sheets with it.
#include <filesystem>
#include <iostream>
#include <memory>

#include "cli/app.hpp"
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

// Tavirune.xll beside the executable, as a spreadsheet finds an add-in installed with it.
std::string defaultAddinPath() {
    const std::string path = host::detail::executablePath();
    if (path.empty()) return "Tavirune.xll";
    const std::filesystem::path executable(path);
    return (executable.parent_path() / "Tavirune.xll").string();
}

}  // namespace

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    cli::Environment environment;
    environment.defaultAddin = defaultAddinPath();
    environment.loadAddin = [](const std::string& path) -> std::unique_ptr<cli::FunctionTable> {
        return std::make_unique<LoadedAddin>(path);
    };
    // The add-in sends its diagnostics to std::cerr by swapping that stream's buffer while it is
    // loaded, and it shares this process's std::cerr: the command's messages keep their own
    // stream on the standard error's buffer.
    std::ostream errors(std::cerr.rdbuf());
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    return cli::runCommand(arguments, std::cout, errors, environment);
}

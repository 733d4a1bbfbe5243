#include "host/standin_host.hpp"

#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "host/host_platform.hpp"
#include "host/host_state.hpp"
#include "xlframe/platform.hpp"  // the record of the window list only; the host links nothing of the add-in

namespace {

using host::detail::State;

int excel4vHandler(int xlfn, xloper* result, int count, xloper* operands[]) {
    State* state = host::detail::activeState();
    return state ? host::detail::answer(*state, xlfn, count, operands, result) : xlretFailed;
}

int xlCallVerHandler() {
    const State* state = host::detail::activeState();
    // The callback interface's own version: 12 from the newer hosts on, 5 before.
    return state && state->options.version >= 12 ? 0x0C00 : 0x0500;
}

std::string executableFolder() {
    const std::string executable = host::detail::executablePath();
    if (executable.empty()) return {};
    return std::filesystem::path(executable).parent_path().string();
}

// The stand-in callback library, loaded once and kept: a process that has loaded it keeps it.
void* callbackLibrary(const std::string& requested) {
    static std::mutex lock;
    static void* library = nullptr;
    std::lock_guard guard(lock);
    if (library) return library;
    std::vector<std::string> candidates;
    if (!requested.empty()) {
        candidates.push_back(requested);
    } else {
        if (const std::string folder = executableFolder(); !folder.empty())
            candidates.push_back(folder + "/" TAVIRUNE_XLCALL32_STANDIN_NAME);
        candidates.push_back(TAVIRUNE_XLCALL32_STANDIN);
    }
    std::string failures;
    for (const std::string& path : candidates) {
        if (!requested.empty() || std::filesystem::is_regular_file(path)) {
            // Global, so that the add-in's dlopen("XLCALL32.DLL") finds it by its soname.
            if ((library = host::detail::openLibrary(path, true))) return library;
            failures += "; " + path + ": " + host::detail::libraryError();
        }
    }
    throw std::runtime_error("cannot load the stand-in XLCALL32.DLL" + (failures.empty() ? std::string(": not found") : failures));
}

void installHandlers(const host::HostOptions& options) {
    if (options.noXlcall32) return;
    void* library = callbackLibrary(options.callbackLibrary);
    using Install = void (*)(int (*)(int, xloper*, int, xloper**), int (*)());
    auto install = reinterpret_cast<Install>(host::detail::librarySymbol(library, "TaviruneStandInInstall"));
    if (!install) throw std::runtime_error("the stand-in XLCALL32.DLL has no TaviruneStandInInstall");
    install(&excel4vHandler, &xlCallVerHandler);
}

}  // namespace

// The host executable's callback for the newer records. A host before version 12 has none; the
// fault option answers as the add-in does when it finds none.
XLL_EXPORT int XLCALLCONV MdCallBack12(int xlfn, int count, xloper12* operands[], xloper12* result) {
    State* state = host::detail::activeState();
    if (!state || state->options.noMdCallBack12 || state->options.version < 12) return xlretFailed;
    return host::detail::answer(*state, xlfn, count, operands, result);
}

// The host's windows as an add-in on POSIX asks for them: the main window and, while the
// function wizard is open, its dialog, both on the thread that loaded the add-in.
XLL_EXPORT std::size_t TaviruneStandInWindows(int allThreads, std::uint64_t thread, TaviruneStandInWindow* windows,
                                              std::size_t capacity) {
    const State* state = host::detail::activeState();
    if (!state) return 0;
    if (!allThreads && thread != state->mainThreadId && thread != static_cast<std::uint64_t>(state->mainThread)) return 0;
    struct Window {
        std::uintptr_t handle;
        const char* className;
        std::string title;
    };
    std::vector<Window> list = {{host::detail::mainWindowHandle, "XLMAIN", "Tavirune stand-in host"}};
    if (state->options.functionWizardOpen) list.push_back({host::detail::wizardWindowHandle, "bosa_sdm_XL9", state->options.functionWizardTitle});
    const std::size_t total = list.size() + state->options.extraWindows;
    for (std::size_t i = 0; i < total && i < capacity && windows; ++i) {
        TaviruneStandInWindow& out = windows[i];
        std::memset(&out, 0, sizeof out);
        if (i >= list.size()) {
            // Texts that fill their arrays unterminated; every other title unreadable.
            out.handle = host::detail::mainWindowHandle + 0x100 + i;
            std::memset(out.className, 'c', sizeof out.className);
            std::memset(out.title, 't', sizeof out.title);
            out.titleReadable = static_cast<int>(i % 2);
            continue;
        }
        out.handle = list[i].handle;
        std::strncpy(out.className, list[i].className, sizeof out.className - 1);
        std::strncpy(out.title, list[i].title.c_str(), sizeof out.title - 1);
        out.titleReadable = 1;
    }
    return total;
}

namespace host {

struct StandInHost::State : detail::State {};

namespace {

std::shared_ptr<detail::Entry> entryOf(detail::State& state, const Registration& function) {
    std::shared_ptr<detail::Entry> entry;
    {
        std::shared_lock guard(state.registry);
        auto it = state.entries.find(detail::lowerCase(function.name.empty() ? function.procedure : function.name));
        if (it != state.entries.end()) entry = it->second;
    }
    if (!state.addin || !entry) throw std::invalid_argument(function.name + " is not registered with a loaded add-in");
    return entry;
}

}  // namespace

StandInHost::StandInHost(HostOptions options) : state_(std::make_unique<State>()) { state_->options = std::move(options); }

StandInHost::~StandInHost() {
    try {
        unload();
    } catch (...) {
        // A host going away cannot report a failing close.
    }
}

HostOptions& StandInHost::options() { return state_->options; }

void StandInHost::attach(const std::string& addinPath) {
    State& state = *state_;
    if (state.addin) throw std::logic_error("the stand-in host has an add-in loaded already");
    if (detail::activeState()) throw std::logic_error("another stand-in host is active in this process");
    installHandlers(state.options);
    state.addinPath = addinPath;
    state.mainThread = pthread_self();
    state.mainThreadId = detail::currentThreadId();
    state.haveMainThread = true;
    state.addin = detail::openSelf();
    state.attached = true;
    detail::setActiveState(&state);
}

void StandInHost::load(const std::string& addinPath) {
    State& state = *state_;
    if (state.addin) throw std::logic_error("the stand-in host has an add-in loaded already");
    if (detail::activeState()) throw std::logic_error("another stand-in host is active in this process");
    installHandlers(state.options);
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(addinPath, error);
    state.addinPath = error ? addinPath : absolute.string();
    state.mainThread = pthread_self();
    state.mainThreadId = detail::currentThreadId();
    state.haveMainThread = true;
    detail::setActiveState(&state);
    state.addin = detail::openLibrary(state.addinPath, false);
    if (!state.addin) {
        const std::string why = detail::libraryError();
        detail::setActiveState(nullptr);
        throw std::runtime_error("cannot load the add-in " + addinPath + ": " + why);
    }
    using Lifecycle = int (*)();
    auto open = reinterpret_cast<Lifecycle>(detail::librarySymbol(state.addin, "xlAutoOpen"));
    if (!open) {
        detail::closeLibrary(state.addin);
        state.addin = nullptr;
        detail::setActiveState(nullptr);
        throw std::runtime_error("the add-in " + addinPath + " exports no xlAutoOpen");
    }
    state.autoOpenResult = open();
    // A failed open leaves the add-in loaded, as a spreadsheet leaves it: unload() closes it.
    if (state.autoOpenResult != 1)
        throw std::runtime_error("the add-in " + addinPath + " failed to open (xlAutoOpen returned " +
                                 std::to_string(state.autoOpenResult) + ")");
}

void StandInHost::unload(bool remove) {
    State& state = *state_;
    if (!state.addin) return;
    if (state.attached) {
        std::unique_lock guard(state.registry);
        state.entries.clear();
        state.addin = nullptr;
        state.attached = false;
        detail::setActiveState(nullptr);
        return;
    }
    using Lifecycle = int (*)();
    if (remove) {
        if (auto autoRemove = reinterpret_cast<Lifecycle>(detail::librarySymbol(state.addin, "xlAutoRemove"))) autoRemove();
    }
    if (auto autoClose = reinterpret_cast<Lifecycle>(detail::librarySymbol(state.addin, "xlAutoClose"))) autoClose();
    {
        // What stays registered cannot be called once the file is gone.
        std::unique_lock guard(state.registry);
        state.entries.clear();
    }
    detail::closeLibrary(state.addin);
    state.addin = nullptr;
    detail::setActiveState(nullptr);
}

const std::vector<Registration>& StandInHost::registrations() const { return state_->registrations; }
const std::vector<std::string>& StandInHost::unregistrations() const { return state_->unregistrations; }

const Registration* StandInHost::find(const std::string& name) const {
    const std::string wanted = detail::lowerCase(name);
    for (const Registration& r : state_->registrations) {
        if (detail::lowerCase(r.name) == wanted) return &r;
    }
    return nullptr;
}

Table StandInHost::call(const Registration& function, const std::vector<Argument>& arguments) const {
    const std::shared_ptr<detail::Entry> entry = entryOf(*state_, function);
    return detail::callEntry(*state_, *entry, arguments);
}

Table StandInHost::callRecords(const Registration& function, const std::vector<RawArgument>& arguments,
                               const std::function<void(const void*)>& inspect) const {
    const std::shared_ptr<detail::Entry> entry = entryOf(*state_, function);
    return detail::callEntryRecords(*state_, *entry, arguments, inspect);
}

bool StandInHost::loaded() const { return state_->addin != nullptr; }
int StandInHost::autoOpenResult() const { return state_->autoOpenResult; }

std::vector<HostCall> StandInHost::calls() const {
    std::lock_guard guard(state_->logLock);
    return state_->calls;
}

void StandInHost::clearRecords() {
    std::unique_lock guard(state_->registry);
    state_->registrations.clear();
    state_->unregistrations.clear();
    state_->entries.clear();
    std::lock_guard logGuard(state_->logLock);
    state_->calls.clear();
}

std::string StandInHost::statusBar() const {
    std::lock_guard guard(state_->logLock);
    return state_->statusBar;
}

std::size_t StandInHost::hostAllocations() const { return state_->memory.outstanding(); }
std::size_t StandInHost::strayFrees() const { return state_->strayFrees.load(); }
std::size_t StandInHost::addinFrees() const { return state_->addinFrees.load(); }

void* StandInHost::symbol(const std::string& name) const {
    return state_->addin ? detail::librarySymbol(state_->addin, name.c_str()) : nullptr;
}

}  // namespace host

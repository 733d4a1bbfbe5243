// POSIX services of the platform interface: libraries, files, environment, windows, debugger.
#if !defined(_WIN32)

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "xlframe/platform.hpp"

namespace xlframe::platform {

LibraryHandle loadLibrary(const char* name) {
    if (name == nullptr) return nullptr;
    // A name without a slash also matches a library already loaded under that soname, which is
    // how the host's callback library is found.
    return dlopen(name, RTLD_NOW | RTLD_LOCAL);
}

void freeLibrary(LibraryHandle library) {
    if (library != nullptr) dlclose(library);
}

void* findSymbol(LibraryHandle library, const char* name) {
    // dlsym with a null handle would search the whole process instead.
    if (library == nullptr || name == nullptr) return nullptr;
    return dlsym(library, name);
}

void* findSymbolInMainModule(const char* name) {
    if (name == nullptr) return nullptr;
    static void* const mainModule = dlopen(nullptr, RTLD_NOW);
    if (mainModule == nullptr) return nullptr;
    return dlsym(mainModule, name);
}

namespace {

std::string absolutePath(const char* path) {
    if (path == nullptr || *path == '\0') return {};
    if (*path == '/') return path;
    // A library loaded by a relative name keeps that name; give the full one, as Windows does.
    char* resolved = realpath(path, nullptr);
    if (resolved == nullptr) return path;
    std::string full(resolved);
    std::free(resolved);
    return full;
}

std::string executablePath() {
    std::string buffer(256, '\0');
    for (;;) {
        const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) return {};
        if (static_cast<std::size_t>(length) < buffer.size()) {
            buffer.resize(static_cast<std::size_t>(length));
            return buffer;
        }
        if (buffer.size() >= 65536) return {};
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace

std::string modulePathOf(const void* address) {
    Dl_info info{};
    link_map* map = nullptr;
    if (address == nullptr ||
        dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0)
        return {};
    // The main program's link map has an empty name (dladdr would give argv[0] instead).
    if (map != nullptr && (map->l_name == nullptr || map->l_name[0] == '\0')) return executablePath();
    return absolutePath(map != nullptr ? map->l_name : info.dli_fname);
}

bool isRegularFile(const std::string& path) {
    struct stat status {};
    return !path.empty() && stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

namespace {
// getenv and setenv race with each other; the frame's own uses at least go one at a time.
std::mutex environmentMutex;
}  // namespace

std::optional<std::string> getEnvironment(const char* name) {
    if (name == nullptr) return std::nullopt;
    std::lock_guard<std::mutex> lock(environmentMutex);
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

bool setEnvironment(const char* name, const std::string& value) {
    if (name == nullptr || *name == '\0' || std::strchr(name, '=') != nullptr) return false;
    // A value with an embedded zero cannot be stored whole: refuse it rather than cut it.
    if (value.find('\0') != std::string::npos) return false;
    std::lock_guard<std::mutex> lock(environmentMutex);
    return setenv(name, value.c_str(), 1) == 0;
}

// --- Windows ---------------------------------------------------------------------------------

namespace {

std::atomic<ThreadWindowsProvider> threadWindowsProvider{nullptr};
std::atomic<TopLevelWindowsProvider> topLevelWindowsProvider{nullptr};

TaviruneStandInWindowsProc standInWindows() {
    static const TaviruneStandInWindowsProc proc =
        reinterpret_cast<TaviruneStandInWindowsProc>(findSymbolInMainModule("TaviruneStandInWindows"));
    return proc;
}

std::string boundedText(const char* text, std::size_t capacity) {
    std::size_t length = 0;
    while (length < capacity && text[length] != '\0') ++length;
    return std::string(text, length);
}

std::vector<WindowInfo> askStandIn(bool allThreads, ThreadId thread) {
    const TaviruneStandInWindowsProc proc = standInWindows();
    if (proc == nullptr) return {};
    std::vector<TaviruneStandInWindow> buffer(16);
    std::size_t count = proc(allThreads ? 1 : 0, thread, buffer.data(), buffer.size());
    if (count > buffer.size()) {
        // A host with more windows than anyone needs is cut to a sane number.
        buffer.resize(count < 4096 ? count : 4096);
        count = proc(allThreads ? 1 : 0, thread, buffer.data(), buffer.size());
    }
    if (count > buffer.size()) count = buffer.size();
    std::vector<WindowInfo> windows;
    windows.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const TaviruneStandInWindow& window = buffer[i];
        WindowInfo info;
        info.handle = window.handle;
        // The host may have left the texts unterminated: never read beyond the arrays.
        info.className = boundedText(window.className, sizeof window.className);
        if (window.titleReadable != 0) info.title = boundedText(window.title, sizeof window.title);
        windows.push_back(std::move(info));
    }
    return windows;
}

}  // namespace

void setWindowProvider(ThreadWindowsProvider threadWindows, TopLevelWindowsProvider topLevelWindows) {
    threadWindowsProvider.store(threadWindows);
    topLevelWindowsProvider.store(topLevelWindows);
}

std::vector<WindowInfo> threadWindows(ThreadId thread) {
    if (const ThreadWindowsProvider provider = threadWindowsProvider.load()) return provider(thread);
    return askStandIn(false, thread);
}

std::vector<WindowInfo> topLevelWindows() {
    if (const TopLevelWindowsProvider provider = topLevelWindowsProvider.load()) return provider();
    return askStandIn(true, 0);
}

// --- Debugger --------------------------------------------------------------------------------

namespace {

bool tracerAttached() {
    const int fd = open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char buffer[4096];
    std::size_t used = 0;
    for (;;) {
        const ssize_t got = read(fd, buffer + used, sizeof buffer - 1 - used);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        used += static_cast<std::size_t>(got);
        if (used == sizeof buffer - 1) break;
    }
    close(fd);
    buffer[used] = '\0';
    const char* field = std::strstr(buffer, "TracerPid:");
    if (field == nullptr) return false;
    field += std::strlen("TracerPid:");
    while (*field == ' ' || *field == '\t') ++field;
    // Any pid other than 0 is a tracer.
    return *field >= '1' && *field <= '9';
}

}  // namespace

bool debuggerPresent() {
    // The standard error stream asks after every insertion; reading the status file each time
    // would cost far more than the line itself. An attach or detach shows within a tenth of a second.
    constexpr std::int64_t recheckAfter = 100'000'000;  // ns
    static std::atomic<std::int64_t> checkedAt{0};
    static std::atomic<bool> present{false};
    const std::int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                 std::chrono::steady_clock::now().time_since_epoch())
                                 .count();
    const std::int64_t last = checkedAt.load(std::memory_order_acquire);
    if (last != 0 && now - last >= 0 && now - last < recheckAfter) return present.load(std::memory_order_relaxed);
    const bool attached = tracerAttached();
    present.store(attached, std::memory_order_relaxed);
    checkedAt.store(now != 0 ? now : 1, std::memory_order_release);
    return attached;
}

void debugOutput(const std::string& text) {
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t written = write(STDERR_FILENO, data, left);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;  // nowhere to write: the text is dropped, as without a debugger
        data += written;
        left -= static_cast<std::size_t>(written);
    }
}

}  // namespace xlframe::platform

#endif  // !defined(_WIN32)

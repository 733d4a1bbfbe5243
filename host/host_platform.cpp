#include "host/host_platform.hpp"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <climits>
#endif

#include <cstring>

namespace host::detail {

#ifdef _WIN32

namespace {

std::wstring wide(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring text(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(), length);
    return text;
}

std::string narrow(const wchar_t* text, std::size_t size) {
    if (size == 0) return {};
    const int length = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(size), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    if (length > 0) WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(size), utf8.data(), length, nullptr, nullptr);
    return utf8;
}

}  // namespace

// Windows finds a library already loaded by its base name, so the add-in's
// LoadLibrary("XLCALL32.DLL") reaches the stand-in the host loaded by its full path: `global`
// needs nothing further.
void* openLibrary(const std::string& path, bool) { return LoadLibraryW(wide(path).c_str()); }

void* librarySymbol(void* library, const char* name) {
    const FARPROC address = GetProcAddress(static_cast<HMODULE>(library), name);
    void* object = nullptr;
    static_assert(sizeof object == sizeof address);
    std::memcpy(&object, &address, sizeof object);
    return object;
}

void closeLibrary(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }

void* openSelf() { return GetModuleHandleW(nullptr); }

std::string libraryError() {
    const DWORD code = GetLastError();
    wchar_t* message = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    std::string text = message && length ? narrow(message, length) : std::string();
    if (message) LocalFree(message);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    return text.empty() ? "error " + std::to_string(code) : text;
}

std::string executablePath() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return {};
        if (length < buffer.size()) return narrow(buffer.data(), length);
        if (buffer.size() >= 32768) return {};
        buffer.resize(buffer.size() * 2);
    }
}

std::uint64_t currentThreadId() { return GetCurrentThreadId(); }

#else

void* openLibrary(const std::string& path, bool global) {
    return ::dlopen(path.c_str(), RTLD_NOW | (global ? RTLD_GLOBAL : RTLD_LOCAL));
}

void* librarySymbol(void* library, const char* name) { return ::dlsym(library, name); }

void closeLibrary(void* library) { ::dlclose(library); }

void* openSelf() { return ::dlopen(nullptr, RTLD_NOW); }

std::string libraryError() {
    const char* error = ::dlerror();
    return error ? error : "unknown reason";
}

std::string executablePath() {
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) return {};
    return std::string(buffer, static_cast<std::size_t>(length));
}

std::uint64_t currentThreadId() { return static_cast<std::uint64_t>(::syscall(SYS_gettid)); }

#endif

}  // namespace host::detail

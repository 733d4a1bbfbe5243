// The operating-system services on Windows: the kernel and user calls the frame needs, nothing
// more. Texts that come from the system (module file names, window class names and titles) are
// handed on as the system gives them; the frame's own rules decide what they mean.
#if defined(_WIN32)

#include "xlframe/platform.hpp"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <climits>
#include <cstring>
#include <new>
#include <stdexcept>

#include "xlframe/utf.hpp"

namespace xlframe::platform {

namespace {

HMODULE toModule(LibraryHandle library) { return static_cast<HMODULE>(library); }

void* toObjectPointer(FARPROC procedure) {
    // A function address handed on as a plain address; the caller casts it back to its type.
    void* address = nullptr;
    static_assert(sizeof address == sizeof procedure);
    std::memcpy(&address, &procedure, sizeof address);
    return address;
}

// Windows texts of at most 255 characters, as the frame reads class names and titles.
constexpr int kWindowTextRoom = 256;

std::wstring toWide(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }
std::u16string toU16(const wchar_t* text, std::size_t length) { return std::u16string(text, text + length); }

}  // namespace

// --- Libraries and symbols -------------------------------------------------------------------

LibraryHandle loadLibrary(const char* name) {
    if (name == nullptr) return nullptr;
    return static_cast<LibraryHandle>(LoadLibraryA(name));
}

void freeLibrary(LibraryHandle library) {
    if (library != nullptr) FreeLibrary(toModule(library));
}

void* findSymbol(LibraryHandle library, const char* name) {
    if (library == nullptr || name == nullptr) return nullptr;
    return toObjectPointer(GetProcAddress(toModule(library), name));
}

void* findSymbolInMainModule(const char* name) {
    if (name == nullptr) return nullptr;
    HMODULE main = GetModuleHandleA(nullptr);
    return main == nullptr ? nullptr : toObjectPointer(GetProcAddress(main, name));
}

std::string modulePathOf(const void* address) {
    if (address == nullptr) return {};  // the system would answer with the executable
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCSTR>(address), &module)) {
        return {};
    }
    // MAX_PATH first; a longer (\\?\ style) name is read whole rather than cut, since a cut name
    // would put a wrong folder on the search path.
    std::string name(MAX_PATH, '\0');
    for (int attempt = 0; attempt < 8; ++attempt) {
        const DWORD room = static_cast<DWORD>(name.size());
        SetLastError(ERROR_SUCCESS);
        const DWORD length = GetModuleFileNameA(module, name.data(), room);
        if (length == 0) return {};
        if (length < room && GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
            name.resize(length);
            return name;
        }
        if (name.size() >= 32768) break;
        name.resize(name.size() * 4);
    }
    return {};
}

// --- Files and environment -------------------------------------------------------------------

bool isRegularFile(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::optional<std::string> getEnvironment(const char* name) {
    if (name == nullptr) return std::nullopt;
    // 4096 characters first; a longer value is read again into the size the system reports
    // (a few times at most, should another thread lengthen it in between).
    std::string value(4096, '\0');
    for (int attempt = 0; attempt < 4; ++attempt) {
        SetLastError(ERROR_SUCCESS);
        const DWORD length = GetEnvironmentVariableA(name, value.data(), static_cast<DWORD>(value.size()));
        if (length == 0) {
            if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
            return std::string();
        }
        if (length < value.size()) {
            value.resize(length);
            return value;
        }
        value.assign(length, '\0');  // the reported size includes the terminator
    }
    return std::nullopt;
}

bool setEnvironment(const char* name, const std::string& value) {
    if (name == nullptr) return false;
    return SetEnvironmentVariableA(name, value.c_str()) != 0;
}

// --- Threads ---------------------------------------------------------------------------------

ThreadId currentThreadId() { return GetCurrentThreadId(); }

bool isThreadAlive(ThreadId thread) {
    if (thread > MAXDWORD) return false;
    HANDLE handle = OpenThread(THREAD_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, static_cast<DWORD>(thread));
    if (handle == nullptr) return false;
    DWORD exitCode = 0;
    bool alive = GetExitCodeThread(handle, &exitCode) != 0 && exitCode == STILL_ACTIVE;
    // A thread may also have ended with the code 259 itself; its handle is signalled then.
    if (alive) alive = WaitForSingleObject(handle, 0) == WAIT_TIMEOUT;
    CloseHandle(handle);
    return alive;
}

TlsSlot::TlsSlot() : key_(0) {
    const DWORD index = TlsAlloc();
    if (index == TLS_OUT_OF_INDEXES) throw std::runtime_error("no thread-local storage slot left");
    key_ = index;
}

TlsSlot::~TlsSlot() { TlsFree(static_cast<DWORD>(key_)); }

void* TlsSlot::get() const {
    // TlsGetValue clears the thread's last error; callers may still want theirs.
    const DWORD lastError = GetLastError();
    void* value = TlsGetValue(static_cast<DWORD>(key_));
    SetLastError(lastError);
    return value;
}

void TlsSlot::set(void* value) const {
    if (!TlsSetValue(static_cast<DWORD>(key_), value)) throw std::runtime_error("could not set a thread-local storage slot");
}

namespace {
CRITICAL_SECTION* section(unsigned char* storage) { return std::launder(reinterpret_cast<CRITICAL_SECTION*>(storage)); }
}  // namespace

Lock::Lock() {
    static_assert(sizeof(CRITICAL_SECTION) <= sizeof storage_, "the lock's storage must hold a critical section");
    static_assert(alignof(CRITICAL_SECTION) <= 16, "the lock's storage is aligned to 16");
    InitializeCriticalSection(new (storage_) CRITICAL_SECTION);
}

Lock::~Lock() { DeleteCriticalSection(section(storage_)); }

void Lock::lock() { EnterCriticalSection(section(storage_)); }

void Lock::unlock() { LeaveCriticalSection(section(storage_)); }

// --- Windows of the host ---------------------------------------------------------------------

namespace {

// Class name and title, read without sending messages: the title of a window of another thread
// is read from the window itself (InternalGetWindowText), since GetWindowText would send that
// thread a message, and the host's main thread waits for its calculation threads while they run
// our functions.
WindowInfo describe(HWND window) {
    WindowInfo info;
    info.handle = reinterpret_cast<std::uintptr_t>(window);
    wchar_t text[kWindowTextRoom] = {};
    const int classLength = GetClassNameW(window, text, kWindowTextRoom);
    if (classLength > 0) info.className = utf16ToUtf8(std::wstring_view(text, static_cast<std::size_t>(classLength)));
    SetLastError(ERROR_SUCCESS);
    const int titleLength = InternalGetWindowText(window, text, kWindowTextRoom);
    if (titleLength > 0) {
        info.title = utf16ToUtf8(std::wstring_view(text, static_cast<std::size_t>(titleLength)));
    } else if (GetLastError() == ERROR_SUCCESS && IsWindow(window)) {
        info.title = std::string();
    }
    return info;
}

BOOL CALLBACK collectWindow(HWND window, LPARAM list) {
    try {
        reinterpret_cast<std::vector<WindowInfo>*>(list)->push_back(describe(window));
        return TRUE;
    } catch (...) {
        return FALSE;  // out of memory: stop with what we have
    }
}

}  // namespace

std::vector<WindowInfo> threadWindows(ThreadId thread) {
    std::vector<WindowInfo> windows;
    if (thread == 0 || thread > MAXDWORD) return windows;
    EnumThreadWindows(static_cast<DWORD>(thread), collectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

std::vector<WindowInfo> topLevelWindows() {
    std::vector<WindowInfo> windows;
    EnumWindows(collectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

// Windows has the host's real windows: a provider has nothing to add.
void setWindowProvider(ThreadWindowsProvider, TopLevelWindowsProvider) {}

// --- Debugger --------------------------------------------------------------------------------

bool debuggerPresent() { return IsDebuggerPresent() != 0; }

void debugOutput(const std::string& text) {
    // The frame's texts are UTF-8; the wide call keeps every character.
    const std::wstring wide = utf8ToUtf16(text);
    OutputDebugStringW(wide.c_str());
}

// --- Memory ----------------------------------------------------------------------------------

// Windows backs large allocations with no hint of ours: large pages need a privilege the
// analyst's account does not have, and committing already maps the pages on first touch.
void adviseLargeAllocation(void*, std::size_t) {}

// --- Code page -------------------------------------------------------------------------------

std::u16string ansiToWide(const std::string& ansi) {
    if (ansi.empty() || ansi.size() > static_cast<std::size_t>(INT_MAX)) return {};
    const int inLength = static_cast<int>(ansi.size());
    const int length = MultiByteToWideChar(CP_ACP, 0, ansi.data(), inLength, nullptr, 0);
    if (length <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    const int written = MultiByteToWideChar(CP_ACP, 0, ansi.data(), inLength, wide.data(), length);
    if (written <= 0) return {};
    return toU16(wide.data(), static_cast<std::size_t>(written));
}

std::string wideToAnsi(const std::u16string& wide) {
    if (wide.empty() || wide.size() > static_cast<std::size_t>(INT_MAX)) return {};
    const std::wstring text = toWide(wide);
    const int inLength = static_cast<int>(text.size());
    // No best-fit mapping: a character the code page lacks becomes '?', never a look-alike
    // (which could turn a harmless text into a path separator or a quote). UTF-8 as the ANSI
    // code page takes neither the flag nor a default character.
    const bool utf8 = GetACP() == CP_UTF8;
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    const char* defaultChar = utf8 ? nullptr : "?";
    const int length = WideCharToMultiByte(CP_ACP, flags, text.data(), inLength, nullptr, 0, defaultChar, nullptr);
    if (length <= 0) return {};
    std::string ansi(static_cast<std::size_t>(length), '\0');
    const int written = WideCharToMultiByte(CP_ACP, flags, text.data(), inLength, ansi.data(), length, defaultChar, nullptr);
    if (written <= 0) return {};
    ansi.resize(static_cast<std::size_t>(written));
    return ansi;
}

}  // namespace xlframe::platform

#endif  // defined(_WIN32)

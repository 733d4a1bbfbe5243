// The operating-system services the frame uses, behind one small interface so that the frame
// itself has no Windows or POSIX call in it. One implementation per platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace xlframe::platform {

// --- Libraries and symbols -------------------------------------------------------------------
using LibraryHandle = void*;

// Null when the library cannot be loaded.
LibraryHandle loadLibrary(const char* name);
void freeLibrary(LibraryHandle library);
// Null when the library does not have the symbol.
void* findSymbol(LibraryHandle library, const char* name);
// A symbol of the process's main executable module; null when it has none of that name.
void* findSymbolInMainModule(const char* name);
// File name of the module that contains `address`, empty when none does.
std::string modulePathOf(const void* address);

// --- Files and environment -------------------------------------------------------------------
bool isRegularFile(const std::string& path);
// Absent when the variable is not set.
std::optional<std::string> getEnvironment(const char* name);
bool setEnvironment(const char* name, const std::string& value);

// --- Threads ---------------------------------------------------------------------------------
using ThreadId = std::uint64_t;
ThreadId currentThreadId();
// False once the thread has ended (or cannot be asked).
bool isThreadAlive(ThreadId thread);

// A thread-local slot holding one pointer, allocated and freed explicitly (trivially
// destructible, so nothing runs at thread exit).
class TlsSlot {
public:
    // Throws std::runtime_error when the system has no slot left.
    TlsSlot();
    ~TlsSlot();
    TlsSlot(const TlsSlot&) = delete;
    TlsSlot& operator=(const TlsSlot&) = delete;
    void* get() const;
    void set(void* value) const;

private:
    std::uintptr_t key_;
};

// A process-wide lock that needs no constructor order: usable during static initialisation.
class Lock {
public:
    Lock();
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    void lock();
    void unlock();

private:
    alignas(16) unsigned char storage_[64];
};

// --- Windows of the host ---------------------------------------------------------------------
struct WindowInfo {
    std::uintptr_t handle = 0;
    std::string className;
    std::optional<std::string> title;  // absent when it cannot be read
};
// Top-level windows of one thread, or of all threads; empty where the platform has no windows.
std::vector<WindowInfo> threadWindows(ThreadId thread);
std::vector<WindowInfo> topLevelWindows();

// Where POSIX has no windows of the host, the two queries above answer from a provider:
// 1. the one installed in-process with setWindowProvider (tests), else
// 2. the C function TaviruneStandInWindows exported by the process's main executable (a stand-in
//    host that loads the add-in simulates its dialogs with it; see below), else
// 3. no windows at all.
// On Windows both are ignored: the system's windows are enumerated.
using ThreadWindowsProvider = std::vector<WindowInfo> (*)(ThreadId thread);
using TopLevelWindowsProvider = std::vector<WindowInfo> (*)();
// Null pointers remove the in-process provider again.
void setWindowProvider(ThreadWindowsProvider threadWindows, TopLevelWindowsProvider topLevelWindows);

}  // namespace xlframe::platform

extern "C" {

// One window as a stand-in host describes it; texts zero-terminated (longer ones are cut).
struct TaviruneStandInWindow {
    std::uintptr_t handle;
    char className[256];
    char title[256];
    int titleReadable;  // 0: reading the title fails
};

// Signature of the optional export "TaviruneStandInWindows" of a stand-in host's executable
// (build it with exported dynamic symbols). It writes at most `capacity` windows: the top-level
// windows of thread `thread` (an xlframe::platform::ThreadId) when `allThreads` is 0, else those
// of every thread; it returns how many there are in all (may exceed `capacity`: the add-in then
// asks once more with room for all).
typedef std::size_t (*TaviruneStandInWindowsProc)(int allThreads, std::uint64_t thread,
                                                  TaviruneStandInWindow* windows, std::size_t capacity);

}  // extern "C"

namespace xlframe::platform {

// --- Debugger --------------------------------------------------------------------------------
// POSIX: a tracer (debugger) is attached to the process; its output is the process's standard
// error file descriptor, written directly so that no stream buffer is involved. The POSIX answer
// is re-read at most every tenth of a second.
bool debuggerPresent();
void debugOutput(const std::string& text);

// --- Memory ----------------------------------------------------------------------------------
// Tells the system that a large, not yet touched allocation will be filled at once, so that it
// may back it with large pages and map it in one go rather than fault by fault. Only a hint: it
// may do nothing, and it never changes the contents.
void adviseLargeAllocation(void* start, std::size_t bytes);

// --- Code page -------------------------------------------------------------------------------
// Between the process's ANSI code page (the older records' texts) and UTF-16. UTF-8 on POSIX;
// on Windows the ANSI code page, without best-fit mapping towards it (unmappable: '?').
std::u16string ansiToWide(const std::string& ansi);
std::string wideToAnsi(const std::u16string& wide);

}  // namespace xlframe::platform

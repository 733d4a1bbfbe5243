// The host's state behind StandInHost, shared by its loader, its callback answers and its calls
// of entry points.
#pragma once

#ifndef _WIN32
#include <ffi.h>
#endif
#include <pthread.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <shared_mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/host_values.hpp"
#include "host/standin_host.hpp"

namespace host::detail {

// A registered type text taken apart: the return code, the argument codes (an asynchronous
// handle is the argument code "X"), and the suffixes.
struct Signature {
    std::string result;  // "B", "C", "C%", "J", "A", "K", "K%", "P", "Q", "R", "U" or ">" (nothing)
    std::vector<std::string> arguments;
    bool isVolatile = false;
    bool threadSafe = false;
    bool macroEquivalent = false;
    bool clusterSafe = false;
};
// Nullopt when the text is malformed or uses codes the host version does not know.
std::optional<Signature> parseTypeText(std::string_view text, int hostVersion);

// A registered function with what the host needs to call it.
struct Entry {
    Registration registration;
    void* address = nullptr;
    Signature signature;
#ifndef _WIN32
    std::vector<ffi_type*> types;
    ffi_cif cif{};
#endif
};

// The memory a record points to, by which the host knows its own allocations.
template <class X>
const void* memoryOf(const X& record) {
    switch (record.xltype & xltypeMask) {
    case xltypeStr: return record.val.str;
    case xltypeMulti: return record.val.array.lparray;
    case xltypeRef: return record.val.mref.lpmref;
    default: return nullptr;
    }
}

// Records the host allocated and handed to the add-in, until it hands them back with xlFree.
class HostMemory {
public:
    void keep(const void* key, std::unique_ptr<Arena> memory);
    bool release(const void* key);
    std::size_t outstanding() const;

private:
    mutable std::mutex lock_;
    std::unordered_map<const void*, std::unique_ptr<Arena>> blocks_;
};

// The sheets that references point into: the active sheet (empty) and, for the time of a call,
// the ranges passed by reference.
class Sheets {
public:
    static constexpr IDSHEET active = 0x5EE7;
    IDSHEET add(const Table* table);
    void remove(IDSHEET id);
    // Null for the active sheet and for unknown identifiers; `known` tells them apart.
    const Table* find(IDSHEET id, bool& known) const;

private:
    mutable std::mutex lock_;
    std::unordered_map<IDSHEET, const Table*> sheets_;
    IDSHEET next_ = 0x10000;
};

struct State {
    HostOptions options;
    void* addin = nullptr;
    bool attached = false;  // the executable itself stands for the add-in
    std::string addinPath;
    int autoOpenResult = 0;
    pthread_t mainThread{};
    std::uint64_t mainThreadId = 0;  // the kernel's identifier of the same thread
    std::atomic<bool> haveMainThread{false};

    mutable std::shared_mutex registry;
    std::vector<Registration> registrations;
    std::vector<std::string> unregistrations;
    std::unordered_map<std::string, std::shared_ptr<Entry>> entries;  // by lower-case name
    double nextId = 1001;
    std::set<std::string> names;  // defined names

    mutable std::mutex logLock;
    std::vector<HostCall> calls;
    std::string statusBar;

    HostMemory memory;
    Sheets sheets;
    std::atomic<std::size_t> addinFrees{0};
    std::atomic<std::size_t> strayFrees{0};
    std::mutex serial;  // calls of functions not registered thread-safe run one at a time

    // Arenas of finished calls, kept for the next ones: a large range's records then land on pages
    // that are already mapped. A pool rather than one arena per thread, since MinGW runs the
    // destructors of thread-local objects after it has freed their storage.
    std::mutex arenaLock;
    std::vector<std::unique_ptr<Arena>> spareArenas;

    bool onMainThread() const { return haveMainThread.load() && pthread_equal(pthread_self(), mainThread); }
    void log(int function, std::string detail);
};

std::string lowerCase(std::string_view text);

// The host that answers callbacks now; null when none is loaded.
State* activeState();
void setActiveState(State* state);

// Answers to a callback of either generation.
int answer(State& state, int xlfn, int count, xloper* operands[], xloper* result);
int answer(State& state, int xlfn, int count, xloper12* operands[], xloper12* result);

// Calls a registered function through its signature.
Table callEntry(State& state, const Entry& entry, const std::vector<Argument>& arguments);
// The same with the caller's records (see StandInHost::callRecords).
Table callEntryRecords(State& state, const Entry& entry, const std::vector<RawArgument>& arguments,
                       const std::function<void(const void*)>& inspect);

// The host's main window (class "XLMAIN"); its low 16 bits are what the older records carry.
constexpr std::uintptr_t mainWindowHandle = 0x0005B7E4;
constexpr std::uintptr_t wizardWindowHandle = 0x0007A3C2;

}  // namespace host::detail

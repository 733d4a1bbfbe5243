// Per-thread block allocator for the records handed to the host.
//
// Each thread has one arena, reached through a thread-local slot; the arenas are also held in a
// process-wide list so that closing the add-in can free them all. Only creating an arena and
// freeing all of them take the process-wide lock; allocation touches the calling thread's arena
// alone. FreeAll expects no worksheet call to be running (the host closes the add-in on its main
// thread between calculations).
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>
#include <vector>

#include "xlframe/exceptions.hpp"
#include "xlframe/platform.hpp"
#include "xlframe/xl_oper.hpp"

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace xlframe {
namespace {

// An ended thread's arena is freed by another thread that learnt of the end from the system
// (the thread is gone from its task list). The kernel orders the owner's last writes before that,
// but ThreadSanitizer cannot see it, so the hand-over is told to it explicitly.
#if defined(__SANITIZE_THREAD__)
inline void handOver(void* arena) noexcept { __tsan_release(arena); }
inline void takeOver(void* arena) noexcept { __tsan_acquire(arena); }
// The host reads a result after the call's last hand-over, so the thread's end hands its arena
// over once more.
struct HandOverAtEnd {
    void* arena = nullptr;
    ~HandOverAtEnd() {
        if (arena != nullptr) handOver(arena);
    }
};
thread_local HandOverAtEnd handOverAtEnd;
#else
inline void handOver(void*) noexcept {}
inline void takeOver(void*) noexcept {}
#endif

constexpr std::size_t kFirstBlock = 8192;
constexpr std::size_t kSlack = 4096;
constexpr std::size_t kAlignment = 16;

// A block header; the block's bytes follow it, aligned as the header is.
struct alignas(kAlignment) Block {
    Block* next;
    std::size_t size;
    // Bytes from the start that have ever been handed out: beyond them calloc's zeros still hold,
    // so a reused block is cleared only as far as it was dirtied.
    std::size_t dirty;

    unsigned char* bytes() noexcept { return reinterpret_cast<unsigned char*>(this + 1); }
};
static_assert(sizeof(Block) % kAlignment == 0);

Block* newBlock(std::size_t size, Block* next) {
    if (size > std::numeric_limits<std::size_t>::max() - sizeof(Block)) throw std::bad_alloc();
    void* raw = std::calloc(1, sizeof(Block) + size);
    if (raw == nullptr) throw std::bad_alloc();
    // A block large enough for a call's argument tables is mapped at once, and stays mapped while
    // it is reused.
    platform::adviseLargeAllocation(raw, sizeof(Block) + size);
    return new (raw) Block{next, size, 0};
}

struct Arena {
    explicit Arena(platform::ThreadId owner) : thread(owner) {}
    ~Arena() { releaseFrom(head); }
    Arena(const Arena&) = delete;
    Arena& operator=(const Arena&) = delete;

    static void releaseFrom(Block* block) noexcept {
        while (block != nullptr) {
            Block* next = block->next;
            std::free(block);
            block = next;
        }
    }

    void freeEverything() noexcept {
        releaseFrom(head);
        head = nullptr;
        used = 0;
        total = 0;
    }

    // Keeps the newest (largest) block, so that a steady load settles on one block.
    void reset() noexcept {
        if (head == nullptr) return;
        releaseFrom(head->next);
        head->next = nullptr;
        total = head->size;
        used = 0;
    }

    void* allocate(std::size_t request, bool zero = true) {
        if (request > std::numeric_limits<std::size_t>::max() / 2) throw std::bad_alloc();
        const std::size_t bytes = std::max<std::size_t>(kAlignment, (request + kAlignment - 1) & ~(kAlignment - 1));
        if (head == nullptr) grow(kFirstBlock);
        if (bytes > head->size - used) {
            grow(std::max(used + bytes + kSlack, head->size + head->size / 2));
        }
        unsigned char* out = head->bytes() + used;
        if (zero && used < head->dirty) std::memset(out, 0, std::min(bytes, head->dirty - used));
        used += bytes;
        head->dirty = std::max(head->dirty, used);
        return out;
    }

    void grow(std::size_t size) {
        head = newBlock(size, head);
        used = 0;
        total += size;
    }

    const platform::ThreadId thread;
    Block* head = nullptr;  // newest first
    std::size_t used = 0;   // in the newest block
    std::size_t total = 0;  // sizes of all blocks
    int depth = 0;          // entry guards open on the thread
};

struct Arenas {
    Arenas() : slot(makeSlot()) {}
    static platform::TlsSlot* makeSlot() {
        try {
            return new platform::TlsSlot;
        } catch (const std::runtime_error&) {
            XLF_FAIL("TLS run out of TLS indices");
        }
    }
    ~Arenas() { delete slot; }

    platform::TlsSlot* slot;
    platform::Lock lock;
    std::vector<std::shared_ptr<Arena>> list;
};

Arenas& arenas() {
    static Arenas all;
    return all;
}

// The slot and the lock exist from library load on, as the host may call on any thread after it.
[[maybe_unused]] const bool arenasBuiltAtLoad = (arenas(), true);

class Holding {
public:
    explicit Holding(platform::Lock& lock) : lock_(lock) { lock_.lock(); }
    ~Holding() { lock_.unlock(); }
    Holding(const Holding&) = delete;
    Holding& operator=(const Holding&) = delete;

private:
    platform::Lock& lock_;
};

void dropEndedThreads(std::vector<std::shared_ptr<Arena>>& list) {
    std::erase_if(list, [](const std::shared_ptr<Arena>& arena) {
        if (platform::isThreadAlive(arena->thread)) return false;
        takeOver(arena.get());
        return true;
    });
}

Arena& currentArena() {
    Arenas& all = arenas();
    if (void* mine = all.slot->get()) return *static_cast<Arena*>(mine);
    const platform::ThreadId self = platform::currentThreadId();
    Holding hold(all.lock);
    if (void* mine = all.slot->get()) return *static_cast<Arena*>(mine);
    dropEndedThreads(all.list);
    auto made = std::make_shared<Arena>(self);
    all.list.push_back(made);
    all.slot->set(made.get());
#if defined(__SANITIZE_THREAD__)
    handOverAtEnd.arena = made.get();
#endif
    return *made;
}

}  // namespace

// Every use of the thread's arena ends with handOver, so that whatever the thread did last is
// ordered before the arena is freed after the thread's end.
void* TempMemory::GetMemory(std::size_t bytes) {
    Arena& arena = currentArena();
    void* out = arena.allocate(bytes);
    handOver(&arena);
    return out;
}

void* TempMemory::GetUninitialisedMemory(std::size_t bytes) {
    Arena& arena = currentArena();
    void* out = arena.allocate(bytes, false);
    handOver(&arena);
    return out;
}

TempMemory::EntryGuard::EntryGuard() {
    Arena& arena = currentArena();
    if (arena.depth == 0) arena.reset();
    ++arena.depth;
    handOver(&arena);
}

bool TempMemory::InCall() {
    void* mine = arenas().slot->get();
    if (mine == nullptr) return false;
    const bool inCall = static_cast<const Arena*>(mine)->depth > 0;
    handOver(mine);
    return inCall;
}

TempMemory::EntryGuard::~EntryGuard() {
    void* mine = arenas().slot->get();
    if (mine != nullptr) {
        Arena& arena = *static_cast<Arena*>(mine);
        if (arena.depth > 0) --arena.depth;
        handOver(&arena);
    }
}

void TempMemory::FreeAll() {
    Arenas& all = arenas();
    Holding hold(all.lock);
    dropEndedThreads(all.list);
    for (const std::shared_ptr<Arena>& arena : all.list) arena->freeEverything();
}

std::size_t TempMemory::ArenaSize() {
    void* mine = arenas().slot->get();
    if (mine == nullptr) return 0;
    const std::size_t total = static_cast<const Arena*>(mine)->total;
    handOver(mine);
    return total;
}

}  // namespace xlframe

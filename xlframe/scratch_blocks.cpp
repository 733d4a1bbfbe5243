// Kept scratch blocks: one list under a process-wide lock, taken from and given back to only for
// blocks of a megabyte and more, so that the lock costs nothing against filling them.
#include "xlframe/scratch_blocks.hpp"

#include <cstdlib>
#include <limits>
#include <mutex>
#include <new>
#include <vector>

#include "xlframe/platform.hpp"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

namespace xlframe::ScratchBlocks {
namespace {

// Bounds of what is kept: a few calls' worth of full-column scratch.
constexpr std::size_t kKeptBytes = std::size_t{256} << 20;
constexpr std::size_t kKeptBlocks = 32;

// Before each block: its size, keeping the block aligned as malloc aligns.
struct alignas(alignof(std::max_align_t)) Header {
    std::size_t size;
    unsigned char* bytes() noexcept { return reinterpret_cast<unsigned char*>(this + 1); }
};

// A kept block is poisoned for AddressSanitizer, as a freed one would be, and a taken one only
// as far as asked for, so that reading past the request or after giving back is still caught.
void poison([[maybe_unused]] void* at, [[maybe_unused]] std::size_t bytes) noexcept {
#if defined(__SANITIZE_ADDRESS__)
    ASAN_POISON_MEMORY_REGION(at, bytes);
#endif
}
void unpoison([[maybe_unused]] void* at, [[maybe_unused]] std::size_t bytes) noexcept {
#if defined(__SANITIZE_ADDRESS__)
    ASAN_UNPOISON_MEMORY_REGION(at, bytes);
#endif
}

struct Kept {
    Kept() { blocks.reserve(kKeptBlocks); }
    platform::Lock lock;
    std::vector<Header*> blocks;
    std::size_t bytes = 0;
};

// Never destroyed: a vector freed by another static's destructor may still give its block back.
Kept& kept() {
    static Kept* const all = new Kept;
    return *all;
}

}  // namespace

void* take(std::size_t bytes) {
    if (bytes > std::numeric_limits<std::size_t>::max() - sizeof(Header)) throw std::bad_alloc();
    Kept& k = kept();
    {
        std::lock_guard<platform::Lock> hold(k.lock);
        // The smallest that fits, and none that would waste more than half of itself.
        auto best = k.blocks.end();
        for (auto it = k.blocks.begin(); it != k.blocks.end(); ++it)
            if ((*it)->size >= bytes && (*it)->size / 2 <= bytes && (best == k.blocks.end() || (*it)->size < (*best)->size))
                best = it;
        if (best != k.blocks.end()) {
            Header* const h = *best;
            k.blocks.erase(best);
            k.bytes -= h->size;
            unpoison(h->bytes(), bytes);
            return h->bytes();
        }
    }
    void* const raw = std::malloc(sizeof(Header) + bytes);
    if (raw == nullptr) throw std::bad_alloc();
    return (new (raw) Header{bytes})->bytes();
}

void give(void* block) noexcept {
    if (block == nullptr) return;
    Header* const h = reinterpret_cast<Header*>(block) - 1;
    Kept& k = kept();
    {
        std::lock_guard<platform::Lock> hold(k.lock);
        if (k.blocks.size() < k.blocks.capacity() && h->size <= kKeptBytes - k.bytes) {
            poison(h->bytes(), h->size);
            k.blocks.push_back(h);  // within the room reserved: cannot throw
            k.bytes += h->size;
            return;
        }
    }
    std::free(h);
}

void releaseAll() noexcept {
    Kept& k = kept();
    std::lock_guard<platform::Lock> hold(k.lock);
    for (Header* h : k.blocks) std::free(h);
    k.blocks.clear();  // the room stays reserved
    k.bytes = 0;
}

std::size_t keptBytes() noexcept {
    Kept& k = kept();
    std::lock_guard<platform::Lock> hold(k.lock);
    return k.bytes;
}

}  // namespace xlframe::ScratchBlocks

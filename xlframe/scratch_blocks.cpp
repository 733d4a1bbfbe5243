// Kept scratch blocks: one list under a process-wide lock, taken from and given back to only for
// blocks of a megabyte and more, so that the lock costs nothing against filling them.
#include "xlframe/scratch_blocks.hpp"

#include <cstdlib>
#include <limits>
#include <mutex>
#include <new>

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

// A fixed room, so that keeping a block never allocates.
struct Kept {
    Kept() = default;
    Kept(const Kept&) = delete;
    Kept& operator=(const Kept&) = delete;
    ~Kept() {
        for (std::size_t i = 0; i < count; ++i) std::free(blocks[i]);
    }
    platform::Lock lock;
    Header* blocks[kKeptBlocks] = {};
    std::size_t count = 0, bytes = 0;
};

// Destroyed with the module, freeing what is still kept; no call runs by then.
Kept& kept() {
    static Kept all;
    return all;
}

}  // namespace

void* take(std::size_t bytes) {
    if (bytes > std::numeric_limits<std::size_t>::max() - sizeof(Header)) throw std::bad_alloc();
    Kept& k = kept();
    {
        std::lock_guard<platform::Lock> hold(k.lock);
        // The smallest that fits, and none that would waste more than half of itself.
        std::size_t best = k.count;
        for (std::size_t i = 0; i < k.count; ++i) {
            const std::size_t size = k.blocks[i]->size;
            if (size >= bytes && size / 2 <= bytes && (best == k.count || size < k.blocks[best]->size)) best = i;
        }
        if (best != k.count) {
            Header* const h = k.blocks[best];
            k.blocks[best] = k.blocks[--k.count];
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
        if (k.count < kKeptBlocks && h->size <= kKeptBytes - k.bytes) {
            poison(h->bytes(), h->size);
            k.blocks[k.count++] = h;
            k.bytes += h->size;
            return;
        }
    }
    std::free(h);
}

void releaseAll() noexcept {
    Kept& k = kept();
    std::lock_guard<platform::Lock> hold(k.lock);
    for (std::size_t i = 0; i < k.count; ++i) std::free(k.blocks[i]);
    k.count = 0;
    k.bytes = 0;
}

std::size_t keptBytes() noexcept {
    Kept& k = kept();
    std::lock_guard<platform::Lock> hold(k.lock);
    return k.bytes;
}

}  // namespace xlframe::ScratchBlocks

// Large scratch blocks kept from one call to the next. A recalculation over a full column asks
// for the same few large blocks every time; the system's heap hands such blocks back to the
// system when they are freed (on Windows always), so that every call would fault its scratch in
// page by page again. Kept blocks stay mapped instead, up to a bound, until the add-in closes.
//
//   void* p = xlframe::ScratchBlocks::take(bytes);   // at least `bytes`, aligned as malloc's
//   ...
//   xlframe::ScratchBlocks::give(p);                 // kept for a later call, or freed
#pragma once

#include <cstddef>

namespace xlframe::ScratchBlocks {

// Below this a block is left to the heap, which reuses small blocks itself.
constexpr std::size_t kLeast = std::size_t{1} << 20;

// A block of at least `bytes` (its contents unset): a kept one of at most twice the size, or a
// new one. Throws std::bad_alloc.
void* take(std::size_t bytes);
// Takes back a block from take: kept while the kept blocks stay within their bound, else freed.
void give(void* block) noexcept;
// Frees every kept block (the add-in's close; no call may be running).
void releaseAll() noexcept;
// Bytes kept now, for tests.
std::size_t keptBytes() noexcept;

}  // namespace xlframe::ScratchBlocks

// Memory hints of the platform layer on POSIX systems.
#if !defined(_WIN32)

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <utility>

#include "xlframe/platform.hpp"

namespace xlframe::platform {

namespace {
// The whole pages of `size` inside [start, start + bytes), as a begin and an end address.
std::pair<std::uintptr_t, std::uintptr_t> innerPages(void* start, std::size_t bytes, std::uintptr_t size) {
    const auto first = reinterpret_cast<std::uintptr_t>(start);
    return {(first + size - 1) & ~(size - 1), (first + bytes) & ~(size - 1)};
}

// Whether sampled pages of [begin, end) are mapped already: the allocator often hands back memory
// that an earlier table released, and populating that again walks every page for nothing.
bool sampledPagesMapped(std::uintptr_t begin, std::uintptr_t end, std::uintptr_t page) {
    const std::uintptr_t last = end - page, samples[] = {begin, begin + ((last - begin) / 2 & ~(page - 1)), last};
    for (const std::uintptr_t at : samples) {
        unsigned char resident = 0;
        if (::mincore(reinterpret_cast<void*>(at), page, &resident) != 0 || (resident & 1) == 0) return false;
    }
    return true;
}
}  // namespace

void adviseLargeAllocation(void* start, std::size_t bytes) {
    // Below a large page neither hint is worth a system call; a column of a million numbers
    // faulted in page by page costs several times its filling.
    constexpr std::uintptr_t kLargePage = std::uintptr_t{2} << 20;
    if (start == nullptr || bytes < kLargePage) return;
#if defined(MADV_HUGEPAGE)
    if (const auto [begin, end] = innerPages(start, bytes, kLargePage); end > begin)
        (void)::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#endif
#if defined(MADV_POPULATE_WRITE)
    // Map the pages in one call rather than one fault each (older kernels refuse: no harm).
    const long page = ::sysconf(_SC_PAGESIZE);
    if (page > 0) {
        const auto size = static_cast<std::uintptr_t>(page);
        if (const auto [begin, end] = innerPages(start, bytes, size); end > begin && !sampledPagesMapped(begin, end, size))
            (void)::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
    }
#endif
}

}  // namespace xlframe::platform

#endif  // !_WIN32

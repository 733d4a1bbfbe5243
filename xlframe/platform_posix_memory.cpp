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
}  // namespace

void adviseLargeAllocation(void* start, std::size_t bytes) {
    // Below a few large pages neither hint is worth a system call.
    constexpr std::uintptr_t kLargePage = std::uintptr_t{2} << 20;
    if (start == nullptr || bytes < 4 * kLargePage) return;
#if defined(MADV_HUGEPAGE)
    if (const auto [begin, end] = innerPages(start, bytes, kLargePage); end > begin)
        (void)::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#endif
#if defined(MADV_POPULATE_WRITE)
    // Map the pages in one call rather than one fault each (older kernels refuse: no harm).
    const long page = ::sysconf(_SC_PAGESIZE);
    if (page > 0) {
        if (const auto [begin, end] = innerPages(start, bytes, static_cast<std::uintptr_t>(page)); end > begin)
            (void)::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
    }
#endif
}

}  // namespace xlframe::platform

#endif  // !_WIN32

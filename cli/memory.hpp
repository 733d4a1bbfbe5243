// Large cell buffers: a sheet of a million rows holds over a hundred megabytes of cells, and
// touching that much fresh memory a 4 KiB page at a time costs more than reading the CSV.
#pragma once

#include <cstddef>
#include <vector>

namespace cli {

// Asks the system to back [data, data + bytes) with huge pages where it can; only the 2 MiB pages
// lying wholly inside the range are affected. Does nothing for small buffers or where unsupported.
void adviseHugePages(const void* data, std::size_t bytes);

// Reserves room for `count` elements and advises huge pages for it.
template <typename T>
void reserveLarge(std::vector<T>& buffer, std::size_t count) {
    buffer.reserve(count);
    adviseHugePages(buffer.data(), buffer.capacity() * sizeof(T));
}

}  // namespace cli

// The little the host needs from the operating system: loading libraries and finding their
// symbols, its own executable's path and the current thread's identifier. POSIX and Windows.
#pragma once

#include <cstdint>
#include <string>

namespace host::detail {

// Null on failure; libraryError() then tells why. `global` makes the library's symbols visible to
// libraries loaded later (on POSIX, where the add-in finds the callback library by its soname).
void* openLibrary(const std::string& path, bool global);
// The executable and what it loaded, for librarySymbol; never closed.
void* openSelf();
void* librarySymbol(void* library, const char* name);
void closeLibrary(void* library);
std::string libraryError();

// Empty when it cannot be told.
std::string executablePath();

// The kernel's identifier of the calling thread.
std::uint64_t currentThreadId();

}  // namespace host::detail

#include "xlframe/exceptions.hpp"

#include <cstring>
#include <iostream>

namespace xlframe {

void writeDiagnostic(const char* file, int line, const std::string& message) {
    const char* base = std::strrchr(file, '/');
    const char* back = std::strrchr(file, '\\');
    if (back != nullptr && (base == nullptr || back > base)) base = back;
    base = base != nullptr ? base + 1 : file;
    std::cerr << base << '(' << line << "): " << message << std::endl;
}

}  // namespace xlframe

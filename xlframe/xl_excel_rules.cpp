// The decisions of the host access object that need no host: function wizard, main window, help
// file, PATH value and version text.
#include <climits>
#include <cstddef>

#include "xlframe/xl_excel.hpp"

namespace xlframe {

namespace {

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Case-insensitive as the English (United States) locale compares: only ASCII letters fold.
bool equalIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    return true;
}

// The window text functions read into 256-character buffers.
constexpr std::size_t windowTextLimit = 255;

}  // namespace

bool IsFunctionWizardOpen(const std::vector<platform::WindowInfo>& windows) {
    static const std::string wizardClass = "bosa_sdm_XL";
    for (const platform::WindowInfo& window : windows) {
        const std::string className = window.className.substr(0, windowTextLimit);
        // A longer class name ("bosa_sdm_XL9") is compared on its first 11 characters only;
        // a shorter one never matches.
        if (className.size() < wizardClass.size()) continue;
        if (!equalIgnoringCase(className.substr(0, wizardClass.size()), wizardClass)) continue;
        if (!window.title) continue;
        const std::string title = window.title->substr(0, windowTextLimit);
        // The replace dialog shares the wizard's class.
        if (title.find("Replace") != std::string::npos) return false;
        return title.find("Paste") == std::string::npos;
    }
    return false;
}

std::optional<std::uintptr_t> FindMainWindow(const std::vector<platform::WindowInfo>& windows,
                                             std::uintptr_t lowBits) {
    lowBits &= 0xFFFF;
    for (const platform::WindowInfo& window : windows) {
        if ((window.handle & 0xFFFF) != lowBits) continue;
        // The class name is read with room for 6 characters only.
        if (equalIgnoringCase(window.className.substr(0, 6), "XLMAIN")) return window.handle;
    }
    return std::nullopt;
}

std::string FindHelpFile(const std::string& libraryPath, bool (*exists)(const std::string&)) {
    if (exists == nullptr) return {};
    const std::size_t length = libraryPath.size();
    if (length < 5 || libraryPath[length - 4] != '.') return {};
    const std::string candidate = libraryPath.substr(0, length - 3) + "chm";
    if (exists(candidate)) return candidate;
    const std::size_t separator = candidate.find_last_of("\\/");
    if (separator == std::string::npos) return {};
    // "<folder>\..\<name>"; with the separator found, so that a POSIX path stays valid.
    const char sep = candidate[separator];
    const std::string parent = candidate.substr(0, separator) + sep + ".." + sep + candidate.substr(separator + 1);
    return exists(parent) ? parent : std::string();
}

std::string AppendLibraryFolder(const std::string& oldPath, const std::string& moduleFile, char listSeparator,
                                char pathSeparator) {
    if (oldPath.empty()) return {};
    const std::size_t separator = moduleFile.rfind(pathSeparator);
    // A module in the root folder keeps the root: an empty entry would stand for the current folder.
    const std::string folder = separator == std::string::npos ? moduleFile
                               : separator == 0              ? moduleFile.substr(0, 1)
                                                             : moduleFile.substr(0, separator);
    return oldPath + listSeparator + folder;
}

int LeadingInteger(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

}  // namespace xlframe

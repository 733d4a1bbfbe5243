#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "tests/xlframe/cases.hpp"
#include "xlframe/xl_excel.hpp"

namespace xlframe {
namespace {

using testing::rows;

using platform::WindowInfo;

WindowInfo window(std::uintptr_t handle, std::string className, std::optional<std::string> title) {
    WindowInfo info;
    info.handle = handle;
    info.className = std::move(className);
    info.title = std::move(title);
    return info;
}

TEST(FunctionWizardRule, DecidesOnTheFirstReadableWizardWindow) {
    const auto cases = rows("wizard");
    ASSERT_EQ(cases.size(), 22u);
    for (const auto& c : cases) {
        std::vector<WindowInfo> windows;
        for (std::size_t k = 2; k + 1 < c.size(); k += 2)
            windows.push_back(window(k / 2, c[k], c[k + 1] == "~" ? std::nullopt : std::optional(c[k + 1])));
        EXPECT_EQ(IsFunctionWizardOpen(windows), c[1] == "1") << c[0];
    }
}

// --- Main window -----------------------------------------------------------------------------

TEST(MainWindowRule, MatchesLowBitsAndClassNameCutToSixCharacters) {
    // other low bits; right bits, other class; right bits, "xlmain" after the cut; the same again
    const std::vector<WindowInfo> windows = {window(0x12345678, "XLMAIN", "Book1"), window(0xABCD0001, "EXCEL7", "Book1"),
                                             window(0x77770001, "xlmain2", "Book2"), window(0x88880001, "XLMAIN", "Book3")};
    EXPECT_EQ(FindMainWindow(windows, 0x0001), std::optional<std::uintptr_t>(0x77770001));
    EXPECT_EQ(FindMainWindow(windows, 0x5678), std::optional<std::uintptr_t>(0x12345678));
    // Only the low 16 bits of the host's answer count.
    EXPECT_EQ(FindMainWindow(windows, 0xFFFF5678), std::optional<std::uintptr_t>(0x12345678));
    EXPECT_EQ(FindMainWindow(windows, 0x0002), std::nullopt);
    EXPECT_EQ(FindMainWindow({window(0x10001, "XLMAI", "")}, 1), std::nullopt);
    EXPECT_EQ(FindMainWindow({}, 1), std::nullopt);
}

// --- Help file -------------------------------------------------------------------------------

std::vector<std::string> existingFiles;
bool fakeExists(const std::string& path) { return std::count(existingFiles.begin(), existingFiles.end(), path) > 0; }

TEST(HelpFileRule, BesideOrInTheParentFolder) {
    const auto cases = rows("help");
    ASSERT_EQ(cases.size(), 13u);
    for (const auto& c : cases) {
        existingFiles.assign(c.begin() + 3, c.end());
        EXPECT_EQ(FindHelpFile(c[1], &fakeExists), c[2]) << c[0];
    }
    existingFiles.clear();
}

// --- PATH value ------------------------------------------------------------------------------

TEST(PathRule, AppendsTheModuleFolder) {
    const auto cases = rows("path");
    ASSERT_EQ(cases.size(), 7u);
    for (const auto& c : cases) EXPECT_EQ(AppendLibraryFolder(c[1], c[2], c[3][0], c[4][0]), c[5]) << c[0];
}

// --- Version text ----------------------------------------------------------------------------

TEST(LeadingInteger, ReadsLikeAtoi) {
    const auto cases = rows("leading");
    ASSERT_EQ(cases.size(), 16u);
    for (const auto& c : cases) EXPECT_EQ(LeadingInteger(c[0]), std::stoi(c[1])) << '"' << c[0] << '"';
}

}  // namespace
}  // namespace xlframe

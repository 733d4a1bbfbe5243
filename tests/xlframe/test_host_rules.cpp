#include <gtest/gtest.h>

#include <climits>
#include <set>
#include <string>
#include <vector>

#include "xlframe/xl_excel.hpp"

namespace xlframe {
namespace {

using platform::WindowInfo;

WindowInfo window(std::uintptr_t handle, std::string className, std::optional<std::string> title) {
    WindowInfo info;
    info.handle = handle;
    info.className = std::move(className);
    info.title = std::move(title);
    return info;
}

// --- Function wizard -------------------------------------------------------------------------

struct WizardCase {
    const char* name;
    std::vector<WindowInfo> windows;
    bool open;
};

TEST(FunctionWizardRule, DecidesOnTheFirstReadableWizardWindow) {
    const WizardCase cases[] = {
        WizardCase{"no_windows", {}, false},
        WizardCase{"paste_dialog", {window(1, "bosa_sdm_XL9", "Paste Function")}, false},
        WizardCase{"wizard", {window(1, "bosa_sdm_XL9", "Function Arguments")}, true},
        WizardCase{"replace_dialog", {window(1, "bosa_sdm_XL9", "Find and Replace")}, false},
        WizardCase{"replace_wins_over_paste", {window(1, "bosa_sdm_XL9", "Paste or Replace")}, false},
        WizardCase{"exact_class_name", {window(1, "bosa_sdm_XL", "Function Arguments")}, true},
        WizardCase{"longer_suffix", {window(1, "bosa_sdm_XL12345", "Function Arguments")}, true},
        WizardCase{"class_one_character_short", {window(1, "bosa_sdm_X", "Function Arguments")}, false},
        WizardCase{"class_empty", {window(1, "", "Function Arguments")}, false},
        WizardCase{"class_other", {window(1, "XLMAIN", "Function Arguments")}, false},
        WizardCase{"class_in_other_case", {window(1, "BOSA_SDM_xl9", "Function Arguments")}, true},
        WizardCase{"class_prefix_not_at_start", {window(1, "xbosa_sdm_XL9", "Function Arguments")}, false},
        // Titles are searched as they are written.
        WizardCase{"title_lower_case_paste", {window(1, "bosa_sdm_XL9", "paste")}, true},
        WizardCase{"empty_title", {window(1, "bosa_sdm_XL9", "")}, true},
        WizardCase{"unreadable_title_continues", {window(1, "bosa_sdm_XL9", std::nullopt),
                                                  window(2, "bosa_sdm_XL9", "Function Arguments")},
                   true},
        WizardCase{"unreadable_then_replace", {window(1, "bosa_sdm_XL9", std::nullopt),
                                               window(2, "bosa_sdm_XL9", "Replace")},
                   false},
        WizardCase{"only_unreadable_titles", {window(1, "bosa_sdm_XL9", std::nullopt)}, false},
        WizardCase{"first_match_decides", {window(1, "bosa_sdm_XL9", "Paste Function"),
                                           window(2, "bosa_sdm_XL9", "Function Arguments")},
                   false},
        WizardCase{"skips_other_classes", {window(1, "XLMAIN", "Replace"), window(2, "EXCEL7", "Paste"),
                                           window(3, "bosa_sdm_XL9", "Function Arguments")},
                   true},
        // Only the first 255 characters of a title are read.
        WizardCase{"paste_beyond_title_limit", {window(1, "bosa_sdm_XL9", std::string(255, 'x') + "Paste")}, true},
        WizardCase{"paste_at_title_limit", {window(1, "bosa_sdm_XL9", std::string(250, 'x') + "Paste")}, false},
        WizardCase{"class_name_beyond_limit", {window(1, std::string(255, 'a') + "bosa_sdm_XL", "x")}, false}};
    for (const WizardCase& c : cases) EXPECT_EQ(IsFunctionWizardOpen(c.windows), c.open) << c.name;
}

// --- Main window -----------------------------------------------------------------------------

TEST(MainWindowRule, MatchesLowBitsAndClassNameCutToSixCharacters) {
    const std::vector<WindowInfo> windows = {
        window(0x12345678, "XLMAIN", "Book1"),     // other low bits
        window(0xABCD0001, "EXCEL7", "Book1"),     // right bits, other class
        window(0x77770001, "xlmain2", "Book2"),    // right bits, "xlmain" after the cut
        window(0x88880001, "XLMAIN", "Book3"),
    };
    EXPECT_EQ(FindMainWindow(windows, 0x0001), std::optional<std::uintptr_t>(0x77770001));
    EXPECT_EQ(FindMainWindow(windows, 0x5678), std::optional<std::uintptr_t>(0x12345678));
    // Only the low 16 bits of the host's answer count.
    EXPECT_EQ(FindMainWindow(windows, 0xFFFF5678), std::optional<std::uintptr_t>(0x12345678));
    EXPECT_EQ(FindMainWindow(windows, 0x0002), std::nullopt);
    EXPECT_EQ(FindMainWindow({window(0x10001, "XLMAI", "")}, 1), std::nullopt);
    EXPECT_EQ(FindMainWindow({}, 1), std::nullopt);
}

// --- Help file -------------------------------------------------------------------------------

std::set<std::string>* existingFiles = nullptr;
bool fakeExists(const std::string& path) { return existingFiles != nullptr && existingFiles->count(path) > 0; }

struct HelpCase {
    const char* name;
    std::string library;
    std::set<std::string> files;
    std::string help;
};

TEST(HelpFileRule, BesideOrInTheParentFolder) {
    const HelpCase cases[] = {
        HelpCase{"beside", R"(C:\addins\Tavirune.xll)", {R"(C:\addins\Tavirune.chm)", R"(C:\Tavirune.chm)"},
                 R"(C:\addins\Tavirune.chm)"},
        HelpCase{"parent", R"(C:\addins\Tavirune.xll)", {R"(C:\Tavirune.chm)", R"(C:\addins\..\Tavirune.chm)"},
                 R"(C:\addins\..\Tavirune.chm)"},
        HelpCase{"none", R"(C:\addins\Tavirune.xll)", {R"(C:\other\Tavirune.chm)"}, ""},
        HelpCase{"no_dot", R"(C:\addins\Taviruneaxll)", {R"(C:\addins\Taviruneachm)", R"(C:\addins\Tavirunechm)"},
                 ""},
        HelpCase{"dot_elsewhere", R"(C:\addins\Tavirune.xl)", {R"(C:\addins\Tavirune.chm)", R"(C:\addins\Tavirunechm)"},
                 ""},
        HelpCase{"four_characters", "a.xl", {"a.chm", "chm"}, ""},
        HelpCase{"five_characters", "a.xll", {"a.chm"}, "a.chm"},
        HelpCase{"five_characters_no_folder", "a.xll", {"..\\a.chm"}, ""},
        HelpCase{"empty", "", {"chm"}, ""},
        HelpCase{"posix_beside", "/opt/addins/Tavirune.xll", {"/opt/addins/Tavirune.chm"}, "/opt/addins/Tavirune.chm"},
        HelpCase{"posix_parent", "/opt/addins/Tavirune.xll", {"/opt/addins/../Tavirune.chm"},
                 "/opt/addins/../Tavirune.chm"},
        HelpCase{"last_separator_counts", R"(C:\a/b\T.xll)", {R"(C:\a/b\..\T.chm)"}, R"(C:\a/b\..\T.chm)"},
        HelpCase{"root_folder", R"(\T.xll)", {R"(\..\T.chm)"}, R"(\..\T.chm)"}};
    for (const HelpCase& c : cases) {
        std::set<std::string> files = c.files;
        existingFiles = &files;
        EXPECT_EQ(FindHelpFile(c.library, &fakeExists), c.help) << c.name;
        existingFiles = nullptr;
    }
}

TEST(HelpFileRule, AsksForTheBesideFileFirst) {
    static std::vector<std::string> asked;
    asked.clear();
    const auto record = [](const std::string& path) {
        asked.push_back(path);
        return false;
    };
    EXPECT_EQ(FindHelpFile(R"(C:\addins\Tavirune.xll)", +record), "");
    EXPECT_EQ(asked, (std::vector<std::string>{R"(C:\addins\Tavirune.chm)", R"(C:\addins\..\Tavirune.chm)"}));
}

// --- PATH value ------------------------------------------------------------------------------

struct PathCase {
    const char* name;
    std::string oldPath;
    std::string module;
    char list;
    char separator;
    std::string newPath;
};

TEST(PathRule, AppendsTheModuleFolder) {
    const PathCase cases[] = {
        PathCase{"windows", R"(C:\Windows)", R"(C:\addins\Tavirune.xll)", ';', '\\', R"(C:\Windows;C:\addins)"},
        PathCase{"windows_list", R"(C:\Windows;C:\bin)", R"(D:\x\y\T.xll)", ';', '\\', R"(C:\Windows;C:\bin;D:\x\y)"},
        PathCase{"no_separator", R"(C:\Windows)", "Tavirune.xll", ';', '\\', R"(C:\Windows;Tavirune.xll)"},
        PathCase{"empty_old", "", R"(C:\addins\Tavirune.xll)", ';', '\\', ""},
        PathCase{"posix", "/usr/bin:/bin", "/opt/addins/Tavirune.xll", ':', '/', "/usr/bin:/bin:/opt/addins"},
        PathCase{"posix_root", "/bin", "/Tavirune.xll", ':', '/', "/bin:/"},
        PathCase{"other_separator_ignored", "/bin", R"(/opt/a\b.xll)", ':', '/', R"(/bin:/opt)"}};
    for (const PathCase& c : cases) EXPECT_EQ(AppendLibraryFolder(c.oldPath, c.module, c.list, c.separator), c.newPath) << c.name;
}

// --- Version text ----------------------------------------------------------------------------

TEST(LeadingInteger, ReadsLikeAtoi) {
    struct Case {
        std::string text;
        int value;
    };
    const Case cases[] = {
        {"16.0", 16},  {"11", 11},        {"  12abc", 12},       {"+14", 14},          {"-3x", -3},
        {"abc", 0},    {"", 0},           {".5", 0},             {"\t\n 9", 9},        {"- 4", 0},
        {"007", 7},    {"2147483647", INT_MAX}, {"2147483648", INT_MAX}, {"99999999999999999999", INT_MAX},
        {"-2147483648", INT_MIN}, {"-99999999999999999999", INT_MIN},
    };
    for (const Case& c : cases) EXPECT_EQ(LeadingInteger(c.text), c.value) << '"' << c.text << '"';
}

}  // namespace
}  // namespace xlframe

// The host access object and the lifecycle entry points against the stand-in host, with the faults
// it can put in: failing calls, version answers of every kind, a missing library path. POSIX only:
// paths and the environment are the POSIX ones.
#if !defined(_WIN32)

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/capture.hpp"
#include "tests/xlframe/frame_testing.hpp"
#include "xlframe/macro_cache.hpp"
#include "xlframe/path_updater.hpp"
#include "xlframe/platform.hpp"
#include "xlframe/singleton.hpp"
#include "xlframe/xl_callbacks.hpp"

namespace xlframe {
namespace {

using CapturedDiagnostics = tavirune::testing::DiagnosticCapture;
using testing::AttachedHost;
using testing::failureText;

// A folder of real files for the help-file search, removed again at the end.
class TempFolder {
public:
    TempFolder() {
        static int serial = 0;
        root_ = std::filesystem::temp_directory_path() /
                ("xlframe_host_" + std::to_string(getpid()) + "_" + std::to_string(++serial));
        std::filesystem::create_directories(root_ / "addins");
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    std::string path(const std::string& relative) const { return (root_ / relative).string(); }
    void touch(const std::string& relative) const { std::fclose(std::fopen(path(relative).c_str(), "w")); }

private:
    std::filesystem::path root_;
};

TEST(HostAccess, GenerationTypeCodesPathAndHelpFileFollowTheHost) {
    struct Case {
        int version;
        const char* helpFile;  // touched, relative to the folder
        const char* found;     // what the search gives, relative to the folder
        std::vector<std::string> codes;
    };
    const Case cases[] = {
        {16, "addins/Tavirune.chm", "addins/Tavirune.chm", {"Q", "U", "C%", "K%"}},
        {11, "Tavirune.chm", "addins/../Tavirune.chm", {"P", "R", "C", "K"}},
        {12, nullptr, nullptr, {"Q", "U", "C%", "K%"}},
    };
    for (const Case& c : cases) {
        TempFolder folder;
        if (c.helpFile) folder.touch(c.helpFile);
        AttachedHost h({.version = c.version}, folder.path("addins/Tavirune.xll"));
        const XlfExcel& excel = h.open();
        EXPECT_TRUE(XlfExcel::HasInstance());
        EXPECT_EQ(&XlfExcel::Instance(), &excel);
        EXPECT_EQ(excel.excelVersion(), c.version);
        EXPECT_EQ(excel.excel12(), c.version >= 12);
        EXPECT_EQ(XlfOper::IsExcel12(), c.version >= 12);
        std::vector<std::string> codes;
        for (const char* code : {"XLF_OPER", "XLF_XLOPER", "XLF_WSTR", "XLF_FP"}) codes.push_back(excel.TypeCode(code));
        EXPECT_EQ(codes, c.codes);
        for (const char* literal : {"B", "xlf_oper", ""}) EXPECT_EQ(excel.TypeCode(literal), literal);
        EXPECT_EQ(excel.GetName(), folder.path("addins/Tavirune.xll"));
        EXPECT_EQ(excel.GetHelpFile(), c.found ? folder.path(c.found) : "");
        EXPECT_EQ(h->hostAllocations(), 0u);
    }
    // A folder of the help file's name is no help file.
    TempFolder folder;
    std::filesystem::create_directories(folder.path("addins/Tavirune.chm"));
    AttachedHost h({}, folder.path("addins/Tavirune.xll"));
    EXPECT_EQ(h.open().GetHelpFile(), "");
}

struct VersionCase {
    const char* name;
    host::HostOptions options;
    int version;
};

class HostVersion : public ::testing::TestWithParam<VersionCase> {};

// From the answer coerced to an integer, else from its leading digits, else 10.
TEST_P(HostVersion, FromCoercionElseLeadingDigitsElseTen) {
    AttachedHost h(GetParam().options);
    const XlfExcel& excel = h.open();
    EXPECT_EQ(excel.excelVersion(), GetParam().version);
    EXPECT_EQ(XlfOper::IsExcel12(), GetParam().version >= 12);
    EXPECT_EQ(h->hostAllocations(), 0u);
    EXPECT_EQ(h->strayFrees(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, HostVersion,
    ::testing::Values(VersionCase{"coerced", {.versionText = "12"}, 12},
                      VersionCase{"coerced_older", {.version = 11, .versionText = "9"}, 9},
                      VersionCase{"uncoercible", {.uncoercibleVersion = true}, 16},
                      VersionCase{"text_with_tail", {.versionText = "14 beta"}, 14},
                      VersionCase{"text_without_digits", {.versionText = "Excel"}, 0},
                      VersionCase{"empty_text", {.versionText = ""}, 0},
                      VersionCase{"error_answer", {.versionNotText = true}, 10},
                      VersionCase{"failed_call", {.failing = {{xlfGetWorkspace, xlretFailed}}}, 10}),
    [](const ::testing::TestParamInfo<VersionCase>& param) { return std::string(param.param.name); });

TEST(HostAccess, LibraryPathFailureLeavesAnEmptyPathAndADiagnostic) {
    AttachedHost h({.libraryPathFails = true});
    CapturedDiagnostics diagnostics;
    const XlfExcel& excel = h.open();
    EXPECT_EQ(excel.GetName(), "");
    EXPECT_EQ(excel.GetHelpFile(), "");
    EXPECT_EQ(diagnostics.messages(), std::vector<std::string>{"Could not get DLL name"});
    EXPECT_EQ(excel.excelVersion(), 16);
}

TEST(HostAccess, DeletingTheInstanceDetachesTheOlderCallbacks) {
    AttachedHost h({.version = 11});
    h.open();
    XlfExcel::DeleteInstance();
    EXPECT_FALSE(XlfExcel::HasInstance());
    xloper result{};
    EXPECT_EQ(callbacks::excel4v(xlGetName, &result, 0, nullptr), xlretFailed);
    EXPECT_EQ(h.open().excelVersion(), 11);  // a new instance finds them again
    EXPECT_EQ(callbacks::excel4v(xlGetName, &result, 0, nullptr), xlretSuccess);
    xloper* freed[] = {&result};
    EXPECT_EQ(callbacks::excel4v(xlFree, nullptr, 1, freed), xlretSuccess);
    XlfExcel::DeleteInstance();
    XlfExcel::DeleteInstance();  // twice is harmless
}

TEST(HostAccess, StatusBarAndItsFailures) {
    AttachedHost h;
    const XlfExcel& excel = h.open();
    excel.SendMessage("Registering library...");
    EXPECT_EQ(h->statusBar(), "Registering library...");
    excel.ClearMessage();
    EXPECT_EQ(h->statusBar(), "");
    CapturedDiagnostics diagnostics;
    h->options().failing[xlcMessage] = xlretFailed;
    EXPECT_EQ(failureText([&] { excel.SendMessage("x"); }), "command failed Set Status Bar");
    h->options().failing[xlcMessage] = xlretInvCount;
    EXPECT_EQ(failureText([&] { excel.ClearMessage(); }), "invalid number of arguments Clear Status Bar");
    h->options().failing[xlcMessage] = xlretAbort;
    EXPECT_THROW(excel.SendMessage("x"), XlfExceptionAbort);
    EXPECT_EQ(diagnostics.messages(), (std::vector<std::string>{"command failed Set Status Bar",
                                                                "invalid number of arguments Clear Status Bar", "abort"}));
}

// The wizard is looked for among the windows of the thread that opened the host access, whichever
// thread asks.
TEST(HostAccess, FunctionWizardAndMainWindowOfTheHostsThread) {
    for (int version : {16, 11}) {
        AttachedHost h({.version = version});
        const XlfExcel& excel = h.open();
        EXPECT_FALSE(excel.InFunctionWizard());
        h->options().functionWizardOpen = true;
        EXPECT_TRUE(excel.InFunctionWizard());
        bool onOtherThread = false;
        std::thread([&] { onOtherThread = excel.InFunctionWizard(); }).join();
        EXPECT_TRUE(onOtherThread);
        h->options().functionWizardTitle = "Paste Function";
        EXPECT_FALSE(excel.InFunctionWizard());
        // The older records carry the low 16 bits of the handle only.
        const std::vector<platform::WindowInfo> windows = platform::topLevelWindows();
        ASSERT_FALSE(windows.empty());
        EXPECT_EQ(excel.GetMainWindow(), windows[0].handle);
        CapturedDiagnostics diagnostics;
        h->options().failing[xlGetHwnd] = xlretFailed;
        EXPECT_EQ(failureText([&] { excel.GetMainWindow(); }), "xlGetHwnd call failed");
    }
}

class SavedPath {
public:
    SavedPath() : saved_(platform::getEnvironment("PATH")) {}
    ~SavedPath() {
        if (saved_)
            setenv("PATH", saved_->c_str(), 1);
        else
            unsetenv("PATH");
    }

private:
    std::optional<std::string> saved_;
};

std::string executableFile() { return platform::modulePathOf(reinterpret_cast<const void*>(&executableFile)); }
std::string executableFolder() { return executableFile().substr(0, executableFile().rfind('/')); }

TEST(HostAccess, PathGetsTheLibraryFolderAppendedUnlessEmptyOrMissing) {
    SavedPath saved;
    AttachedHost h;
    h.open();
    ASSERT_EQ(setenv("PATH", "/usr/bin:/bin", 1), 0);
    {
        CapturedDiagnostics diagnostics;
        PathUpdater::Update();
        EXPECT_EQ(platform::getEnvironment("PATH"), std::optional<std::string>("/usr/bin:/bin:" + executableFolder()));
        EXPECT_EQ(diagnostics.messages(), std::vector<std::string>{" PATH set successfully "});
        EXPECT_EQ(h->statusBar(), executableFile());  // the module's file name was shown
    }
    const std::vector<std::string> expected = {" Could not obtain PATH Environment variable ",
                                               " Warning: Unable to initialise PATH to directory of library "};
    for (const bool empty : {true, false}) {
        ASSERT_EQ(empty ? setenv("PATH", "", 1) : unsetenv("PATH"), 0);
        CapturedDiagnostics diagnostics;
        PathUpdater::Update();
        EXPECT_EQ(platform::getEnvironment("PATH"), empty ? std::optional<std::string>("") : std::nullopt);
        EXPECT_EQ(diagnostics.messages(), expected);
    }
}

// --- Lifecycle -------------------------------------------------------------------------------

AttachedHost* current = nullptr;
std::vector<std::string> events;

void recordRegisterAll() { events.push_back("RegisterAll under " + (*current)->statusBar()); }
void recordUnregisterAll() { events.push_back("UnregisterAll"); }
void failingRegisterAll() { throw XlfGeneralException("Could not get library name"); }
void failingUnregisterAll() { throw std::runtime_error("host gone"); }

struct RecordingAction : MacroAction {
    explicit RecordingAction(std::string name) : name_(std::move(name)) {}
    void execute() override { events.push_back(name_ + " under '" + (*current)->statusBar() + "'"); }
    std::string name_;
};

struct ThrowingAction : MacroAction {
    void execute() override { throw 42; }
};

// Adds the action to the list for the time of the test.
template <class List>
struct Added {
    explicit Added(MacroAction* action) : action_(action) { singleton<MacroCache<List>>::instance().add(action); }
    ~Added() { singleton<MacroCache<List>>::instance().remove(action_); }
    MacroAction* action_;
};

class Lifecycle : public ::testing::Test {
protected:
    void SetUp() override {
        current = &host_;
        events.clear();
        ResetBeingRemoved();
        SetRegistrationHooks(&recordRegisterAll, &recordUnregisterAll);
    }
    void TearDown() override {
        SetRegistrationHooks(nullptr, nullptr);
        ResetBeingRemoved();
        TempMemory::FreeAll();
        current = nullptr;
    }
    SavedPath savedPath_;
    AttachedHost host_;
};

TEST_F(Lifecycle, OpenRegistersUnderAStatusMessageThenRunsTheOpenActions) {
    RecordingAction action("open action");
    Added<Open> added(&action);
    EXPECT_EQ(xlAutoOpen(), 1);
    EXPECT_TRUE(XlfExcel::HasInstance());
    EXPECT_EQ(events, (std::vector<std::string>{"RegisterAll under Registering library...", "open action under ''"}));
}

TEST_F(Lifecycle, OpenAppendsTheFolderToPathOncePerProcess) {
    ASSERT_EQ(setenv("PATH", "/usr/bin", 1), 0);
    EXPECT_EQ(xlAutoOpen(), 1);
    const std::optional<std::string> afterFirst = platform::getEnvironment("PATH");
    // Unchanged when an earlier test already opened the add-in in this process.
    EXPECT_TRUE(afterFirst == std::optional<std::string>("/usr/bin:" + executableFolder()) ||
                afterFirst == std::optional<std::string>("/usr/bin"));
    EXPECT_EQ(xlAutoClose(), 1);
    EXPECT_EQ(xlAutoOpen(), 1);
    EXPECT_EQ(platform::getEnvironment("PATH"), afterFirst);
}

TEST_F(Lifecycle, AFailureInOpenReturnsZeroAndStopsThere) {
    RecordingAction action("open action");
    Added<Open> added(&action);
    SetRegistrationHooks(&failingRegisterAll, &recordUnregisterAll);
    EXPECT_EQ(xlAutoOpen(), 0);
    EXPECT_EQ(host_->statusBar(), "Registering library...");
    SetRegistrationHooks(&recordRegisterAll, &recordUnregisterAll);
    host_->options().failing[xlcMessage] = xlretFailed;
    EXPECT_EQ(xlAutoOpen(), 0);
    EXPECT_TRUE(events.empty());
    host_->options().failing.clear();
    ThrowingAction throwing;
    Added<Open> addedThrowing(&throwing);
    EXPECT_EQ(xlAutoOpen(), 0);  // anything thrown, of any type
}

TEST_F(Lifecycle, NoHooksMeansNothingRegistered) {
    SetRegistrationHooks(nullptr, nullptr);
    EXPECT_EQ(xlAutoOpen(), 1);
    EXPECT_EQ(xlAutoRemove(), 1);
    EXPECT_EQ(xlAutoClose(), 1);
    EXPECT_TRUE(events.empty());
}

TEST_F(Lifecycle, CloseWithoutRemoveKeepsTheRegistrationsRemoveThenCloseUnregistersOnce) {
    ASSERT_EQ(xlAutoOpen(), 1);
    RecordingAction removeAction("remove action"), closeAction("close action");
    Added<Remove> addedRemove(&removeAction);
    Added<Close> addedClose(&closeAction);
    events.clear();
    {
        CapturedDiagnostics diagnostics;
        EXPECT_EQ(xlAutoClose(), 1);
        EXPECT_EQ(diagnostics.messages(), std::vector<std::string>{"Releasing resources"});
    }
    EXPECT_EQ(events, std::vector<std::string>{"close action under ''"});
    EXPECT_FALSE(XlfExcel::HasInstance());
    EXPECT_EQ(TempMemory::ArenaSize(), 0u);

    ASSERT_EQ(xlAutoOpen(), 1);
    events.clear();
    {
        CapturedDiagnostics diagnostics;
        EXPECT_EQ(xlAutoRemove(), 1);
        EXPECT_TRUE(IsBeingRemoved());
        EXPECT_EQ(xlAutoClose(), 1);
        EXPECT_EQ(diagnostics.messages(), (std::vector<std::string>{"Addin being unloaded", "Releasing resources"}));
    }
    EXPECT_EQ(events, (std::vector<std::string>{"remove action under ''", "close action under ''", "UnregisterAll"}));
    // Added again and closed without removal: the new registrations stay.
    events.clear();
    ASSERT_EQ(xlAutoOpen(), 1);
    EXPECT_EQ(xlAutoClose(), 1);
    EXPECT_EQ(std::count(events.begin(), events.end(), "UnregisterAll"), 0);
}

TEST_F(Lifecycle, CloseAndRemoveSwallowEveryFailure) {
    ASSERT_EQ(xlAutoOpen(), 1);
    SetRegistrationHooks(&recordRegisterAll, &failingUnregisterAll);
    {
        CapturedDiagnostics diagnostics;
        SetBeingRemoved();
        EXPECT_EQ(xlAutoClose(), 1);
        EXPECT_EQ(diagnostics.messages(),
                  (std::vector<std::string>{"Releasing resources", "Something bad happened in xlAutoClose"}));
    }
    ResetBeingRemoved();
    ThrowingAction throwing;
    Added<Remove> added(&throwing);
    {
        CapturedDiagnostics diagnostics;
        EXPECT_EQ(xlAutoRemove(), 1);
        EXPECT_EQ(diagnostics.messages(),
                  (std::vector<std::string>{"Addin being unloaded", "Something bad happened in xlAutoRemove"}));
    }
    EXPECT_FALSE(IsBeingRemoved());  // the flag is set only after the actions ran
    xlGenDoc();                      // does nothing
}

}  // namespace
}  // namespace xlframe

#endif  // !defined(_WIN32)

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

// The help file is found among real files beside the add-in.
TEST(HostAccess, GenerationTypeCodesPathAndHelpFileFollowTheHost) {
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / ("xlframe_host_" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    std::fclose(std::fopen((folder / "Tavirune.chm").c_str(), "w"));
    const std::string library = (folder / "Tavirune.xll").string();
    for (int version : {16, 12, 11}) {
        AttachedHost h({.version = version}, library);
        const XlfExcel& excel = h.open();
        EXPECT_EQ(&XlfExcel::Instance(), &excel);
        EXPECT_EQ(excel.excelVersion(), version);
        EXPECT_EQ(excel.excel12() + XlfOper::IsExcel12(), 2 * (version >= 12));
        std::string codes;
        for (const char* code : {"XLF_OPER", "XLF_XLOPER", "XLF_WSTR", "XLF_FP", "B", "xlf_oper", ""}) codes += excel.TypeCode(code) + ",";
        EXPECT_EQ(codes, version >= 12 ? "Q,U,C%,K%,B,xlf_oper,," : "P,R,C,K,B,xlf_oper,,");
        EXPECT_EQ(excel.GetName(), library);
        EXPECT_EQ(excel.GetHelpFile(), (folder / "Tavirune.chm").string());
        EXPECT_EQ(h->hostAllocations(), 0u);
    }
    std::filesystem::remove_all(folder);
}

// From the answer coerced to an integer, else from its leading digits, else 10.
TEST(HostAccess, VersionFromCoercionElseLeadingDigitsElseTen) {
    const std::pair<host::HostOptions, int> cases[] = {
        {{.versionText = "12"}, 12},          {{.version = 11, .versionText = "9"}, 9}, {{.uncoercibleVersion = true}, 16},
        {{.versionText = "14 beta"}, 14},     {{.versionText = "Excel"}, 0},            {{.versionText = ""}, 0},
        {{.versionNotText = true}, 10},       {{.failing = {{xlfGetWorkspace, xlretFailed}}}, 10}};
    for (const auto& [options, version] : cases) {
        AttachedHost h(options);
        EXPECT_EQ(h.open().excelVersion(), version);
        EXPECT_EQ(XlfOper::IsExcel12(), version >= 12);
        EXPECT_EQ(h->hostAllocations() + h->strayFrees(), 0u);
    }
}

TEST(HostAccess, LibraryPathFailureLeavesAnEmptyPathAndADiagnostic) {
    AttachedHost h({.libraryPathFails = true});
    CapturedDiagnostics diagnostics;
    const XlfExcel& excel = h.open();
    EXPECT_EQ(excel.GetName() + excel.GetHelpFile(), "");
    EXPECT_EQ(diagnostics.messages(), std::vector<std::string>{"Could not get DLL name"});
    EXPECT_EQ(excel.excelVersion(), 16);
}

TEST(HostAccess, DeletingTheInstanceDetachesTheOlderCallbacks) {
    AttachedHost h({.version = 11});
    h.open();
    XlfExcel::DeleteInstance();
    EXPECT_FALSE(XlfExcel::HasInstance());
    xloper result{};
    xloper* freed[] = {&result};
    EXPECT_EQ(callbacks::excel4v(xlGetName, &result, 0, nullptr), xlretFailed);
    EXPECT_EQ(h.open().excelVersion(), 11);  // a new instance finds them again
    EXPECT_EQ(callbacks::excel4v(xlGetName, &result, 0, nullptr) + callbacks::excel4v(xlFree, nullptr, 1, freed), xlretSuccess);
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
    for (int status : {xlretFailed, xlretInvCount}) {
        h->options().failing[xlcMessage] = status;
        failureText([&] { excel.SendMessage("x"); });
        failureText([&] { excel.ClearMessage(); });
    }
    h->options().failing[xlcMessage] = xlretAbort;
    EXPECT_THROW(excel.SendMessage("x"), XlfExceptionAbort);
    EXPECT_EQ(diagnostics.messages(), (std::vector<std::string>{"command failed Set Status Bar", "command failed Clear Status Bar",
                                                                "invalid number of arguments Set Status Bar",
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
        EXPECT_EQ(excel.GetMainWindow(), platform::topLevelWindows().at(0).handle);
        CapturedDiagnostics diagnostics;
        h->options().failing[xlGetHwnd] = xlretFailed;
        EXPECT_EQ(failureText([&] { excel.GetMainWindow(); }), "xlGetHwnd call failed");
    }
}

// PATH as it was, back at the end of the scope.
struct SavedPath {
    ~SavedPath() { saved ? setenv("PATH", saved->c_str(), 1) : unsetenv("PATH"); }
    std::optional<std::string> saved = platform::getEnvironment("PATH");
};

std::string executableFile() { return platform::modulePathOf(reinterpret_cast<const void*>(&executableFile)); }
std::string executableFolder() { return executableFile().substr(0, executableFile().rfind('/')); }

TEST(HostAccess, PathGetsTheLibraryFolderAppendedUnlessEmptyOrMissing) {
    SavedPath saved;
    AttachedHost h;
    h.open();
    ASSERT_EQ(setenv("PATH", "/usr/bin:/bin", 1), 0);
    CapturedDiagnostics diagnostics;
    PathUpdater::Update();
    EXPECT_EQ(platform::getEnvironment("PATH"), std::optional<std::string>("/usr/bin:/bin:" + executableFolder()));
    EXPECT_EQ(h->statusBar(), executableFile());  // the module's file name was shown
    ASSERT_EQ(setenv("PATH", "", 1), 0);
    PathUpdater::Update();
    EXPECT_EQ(platform::getEnvironment("PATH"), std::optional<std::string>(""));
    ASSERT_EQ(unsetenv("PATH"), 0);
    PathUpdater::Update();
    EXPECT_EQ(platform::getEnvironment("PATH"), std::nullopt);
    const std::string failed[] = {" Could not obtain PATH Environment variable ",
                                  " Warning: Unable to initialise PATH to directory of library "};
    EXPECT_EQ(diagnostics.messages(), (std::vector<std::string>{" PATH set successfully ", failed[0], failed[1], failed[0], failed[1]}));
}

// --- Lifecycle -------------------------------------------------------------------------------

AttachedHost* current = nullptr;
std::vector<std::string> events;

void recordRegisterAll() { events.push_back("RegisterAll under " + (*current)->statusBar()); }
void recordUnregisterAll() { events.push_back("UnregisterAll"); }
void failingRegisterAll() { throw XlfGeneralException("Could not get library name"); }
void failingUnregisterAll() { throw std::runtime_error("host gone"); }

// An action on the list of `List` for its lifetime that records its run, or without a name throws.
template <class List>
struct Action : MacroAction {
    explicit Action(std::string name) : name_(std::move(name)) { singleton<MacroCache<List>>::instance().add(this); }
    ~Action() override { singleton<MacroCache<List>>::instance().remove(this); }
    void execute() override {
        if (name_.empty()) throw 42;  // anything thrown, of any type
        events.push_back(name_ + " under '" + (*current)->statusBar() + "'");
    }
    std::string name_;
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
    Action<Open> action("open action");
    EXPECT_EQ(xlAutoOpen(), 1);
    EXPECT_TRUE(XlfExcel::HasInstance());
    EXPECT_EQ(events, (std::vector<std::string>{"RegisterAll under Registering library...", "open action under ''"}));
    // Without hooks nothing is registered, nor unregistered.
    SetRegistrationHooks(nullptr, nullptr);
    events.clear();
    EXPECT_EQ(xlAutoRemove() + xlAutoClose() + xlAutoOpen(), 3);
    EXPECT_EQ(events, std::vector<std::string>{"open action under ''"});
}

TEST_F(Lifecycle, AFailureInOpenReturnsZeroAndStopsThere) {
    Action<Open> action("open action");
    SetRegistrationHooks(&failingRegisterAll, &recordUnregisterAll);
    EXPECT_EQ(xlAutoOpen(), 0);
    EXPECT_EQ(host_->statusBar(), "Registering library...");
    SetRegistrationHooks(&recordRegisterAll, &recordUnregisterAll);
    host_->options().failing[xlcMessage] = xlretFailed;
    EXPECT_EQ(xlAutoOpen(), 0);
    EXPECT_TRUE(events.empty());
    host_->options().failing.clear();
    Action<Open> throwing("");
    EXPECT_EQ(xlAutoOpen(), 0);
}

TEST_F(Lifecycle, CloseWithoutRemoveKeepsTheRegistrationsRemoveThenCloseUnregistersOnce) {
    ASSERT_EQ(xlAutoOpen(), 1);
    Action<Remove> removeAction("remove action");
    Action<Close> closeAction("close action");
    events.clear();
    CapturedDiagnostics diagnostics;
    EXPECT_EQ(xlAutoClose(), 1);
    EXPECT_FALSE(XlfExcel::HasInstance());
    EXPECT_EQ(TempMemory::ArenaSize(), 0u);
    EXPECT_EQ(events, std::vector<std::string>{"close action under ''"});
    ASSERT_EQ(xlAutoOpen(), 1);
    events.clear();
    EXPECT_EQ(xlAutoRemove(), 1);
    EXPECT_TRUE(IsBeingRemoved());
    EXPECT_EQ(xlAutoClose(), 1);
    EXPECT_EQ(events, (std::vector<std::string>{"remove action under ''", "close action under ''", "UnregisterAll"}));
    EXPECT_EQ(diagnostics.messages(), (std::vector<std::string>{"Releasing resources", "Addin being unloaded", "Releasing resources"}));
    // Added again and closed without removal: the new registrations stay.
    events.clear();
    ASSERT_EQ(xlAutoOpen(), 1);
    EXPECT_EQ(xlAutoClose(), 1);
    EXPECT_EQ(std::count(events.begin(), events.end(), "UnregisterAll"), 0);
}

TEST_F(Lifecycle, CloseAndRemoveSwallowEveryFailure) {
    ASSERT_EQ(xlAutoOpen(), 1);
    SetRegistrationHooks(&recordRegisterAll, &failingUnregisterAll);
    CapturedDiagnostics diagnostics;
    SetBeingRemoved();
    EXPECT_EQ(xlAutoClose(), 1);
    ResetBeingRemoved();
    Action<Remove> throwing("");
    EXPECT_EQ(xlAutoRemove(), 1);
    EXPECT_EQ(diagnostics.messages(), (std::vector<std::string>{"Releasing resources", "Something bad happened in xlAutoClose",
                                                                "Addin being unloaded", "Something bad happened in xlAutoRemove"}));
    EXPECT_FALSE(IsBeingRemoved());  // the flag is set only after the actions ran
    xlGenDoc();                      // does nothing
}

}  // namespace
}  // namespace xlframe

#endif  // !defined(_WIN32)

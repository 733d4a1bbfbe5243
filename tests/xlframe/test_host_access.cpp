// The host access object and the lifecycle entry points against a scripted host. The older
// callbacks come from the callback library the test executable carries under the host's name;
// MdCallBack12 is installed directly. POSIX only: the scripted host's callback library is built
// for the native tests.
#if !defined(_WIN32)

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "xlframe/exceptions.hpp"
#include "xlframe/macro_cache.hpp"
#include "xlframe/path_updater.hpp"
#include "xlframe/platform.hpp"
#include "xlframe/singleton.hpp"
#include "xlframe/xl_callbacks.hpp"
#include "xlframe/xl_excel.hpp"

extern "C" void TaviruneTestSetExcel4vHandler(EXCEL4VPROC excel4v);

namespace xlframe {
namespace {

// --- The scripted host -----------------------------------------------------------------------

enum class VersionAnswer { Text, Error, Nil };

struct Call {
    int function;
    bool newer;  // through MdCallBack12
    int count;
    friend bool operator==(const Call&, const Call&) = default;
};

struct ScriptedHost {
    std::mutex mutex;
    // Script.
    VersionAnswer versionAnswer = VersionAnswer::Text;
    std::string versionText = "16.0";
    int workspaceStatus = xlretSuccess;
    bool coercible = true;
    std::string libraryPath = "/nowhere/Tavirune.xll";
    int libraryPathStatus = xlretSuccess;
    int messageStatus = xlretSuccess;
    int hwndStatus = xlretSuccess;
    int hwnd = 0x1234;
    // Record.
    std::vector<Call> calls;
    std::vector<std::string> events;  // status bar and hooks, in order
    int workspaceArgument = -1;
    DWORD coerceTarget = 0;
    std::set<const void*> live;  // texts handed out and not given back
    int frees = 0;
};

ScriptedHost& host() {
    static ScriptedHost state;
    return state;
}

void resetHost() {
    ScriptedHost& h = host();
    std::lock_guard<std::mutex> lock(h.mutex);
    h.versionAnswer = VersionAnswer::Text;
    h.versionText = "16.0";
    h.workspaceStatus = xlretSuccess;
    h.coercible = true;
    h.libraryPath = "/nowhere/Tavirune.xll";
    h.libraryPathStatus = xlretSuccess;
    h.messageStatus = xlretSuccess;
    h.hwndStatus = xlretSuccess;
    h.hwnd = 0x1234;
    h.calls.clear();
    h.events.clear();
    h.workspaceArgument = -1;
    h.coerceTarget = 0;
    h.frees = 0;
}

template <class Record>
using CharOf = std::conditional_t<std::is_same_v<Record, xloper12>, XCHAR, char>;

template <class Record>
void giveText(Record* result, const std::string& ascii) {
    using Char = CharOf<Record>;
    Char* buffer = new Char[ascii.size() + 1];
    buffer[0] = static_cast<Char>(ascii.size());
    for (std::size_t i = 0; i < ascii.size(); ++i) buffer[i + 1] = static_cast<Char>(ascii[i]);
    host().live.insert(buffer);
    result->val.str = buffer;
    result->xltype = xltypeStr;
}

template <class Record>
std::string readText(const Record& record) {
    using Unsigned = std::make_unsigned_t<CharOf<Record>>;
    std::string out;
    const std::size_t length = static_cast<Unsigned>(record.val.str[0]);
    for (std::size_t i = 0; i < length; ++i) out.push_back(static_cast<char>(record.val.str[i + 1]));
    return out;
}

template <class Record>
int answer(int xlfn, int count, Record** operands, Record* result) {
    ScriptedHost& h = host();
    std::lock_guard<std::mutex> lock(h.mutex);
    h.calls.push_back({xlfn, std::is_same_v<Record, xloper12>, count});
    switch (xlfn) {
        case xlfGetWorkspace:
            if (count != 1 || (operands[0]->xltype & xltypeMask) != xltypeInt) return xlretInvXloper;
            h.workspaceArgument = operands[0]->val.w;
            if (h.workspaceStatus != xlretSuccess) return h.workspaceStatus;
            if (h.versionAnswer == VersionAnswer::Text) {
                giveText(result, h.versionText);
            } else if (h.versionAnswer == VersionAnswer::Error) {
                result->val.err = xlerrValue;
                result->xltype = xltypeErr;
            } else {
                result->xltype = xltypeNil;
            }
            return xlretSuccess;
        case xlCoerce: {
            if (count != 2 || (operands[1]->xltype & xltypeMask) != xltypeInt) return xlretInvXloper;
            h.coerceTarget = static_cast<DWORD>(operands[1]->val.w);
            const Record& from = *operands[0];
            if (!h.coercible || (from.xltype & xltypeMask) != xltypeStr || h.coerceTarget != xltypeInt)
                return xlretFailed;
            const std::string text = readText(from);
            char* end = nullptr;
            const double value = std::strtod(text.c_str(), &end);
            if (text.empty() || *end != '\0') return xlretFailed;
            result->val.w = static_cast<decltype(result->val.w)>(value);
            result->xltype = xltypeInt;
            return xlretSuccess;
        }
        case xlFree:
            for (int i = 0; i < count; ++i) {
                ++h.frees;
                Record* freed = operands[i];
                if ((freed->xltype & xltypeMask) == xltypeStr && h.live.erase(freed->val.str) == 1)
                    delete[] freed->val.str;
            }
            return xlretSuccess;
        case xlGetName:
            if (count != 0) return xlretInvCount;
            if (h.libraryPathStatus != xlretSuccess) return h.libraryPathStatus;
            giveText(result, h.libraryPath);
            return xlretSuccess;
        case xlcMessage:
            if (count == 2 && (operands[0]->xltype & xltypeMask) == xltypeBool && operands[0]->val.xbool &&
                (operands[1]->xltype & xltypeMask) == xltypeStr)
                h.events.push_back("set " + readText(*operands[1]));
            else if (count == 1 && (operands[0]->xltype & xltypeMask) == xltypeBool && !operands[0]->val.xbool)
                h.events.push_back("clear");
            else
                return xlretInvXloper;
            if (h.messageStatus != xlretSuccess) return h.messageStatus;
            if (result != nullptr) {  // the add-in may pass no result record
                result->val.xbool = 1;
                result->xltype = xltypeBool;
            }
            return xlretSuccess;
        case xlGetHwnd:
            if (h.hwndStatus != xlretSuccess) return h.hwndStatus;
            result->val.w = static_cast<decltype(result->val.w)>(h.hwnd);
            result->xltype = xltypeInt;
            return xlretSuccess;
        default:
            return xlretInvXlfn;
    }
}

int XLCALLCONV scriptedExcel4v(int xlfn, xloper* result, int count, xloper* operands[]) {
    return answer<xloper>(xlfn, count, operands, result);
}
int XLCALLCONV scriptedMdCallBack12(int xlfn, int count, xloper12* operands[], xloper12* result) {
    return answer<xloper12>(xlfn, count, operands, result);
}

// Everything written to the standard error stream while it lives, as messages without "file(line): ".
class CapturedDiagnostics {
public:
    CapturedDiagnostics() : old_(std::cerr.rdbuf(buffer_.rdbuf())) {}
    ~CapturedDiagnostics() { std::cerr.rdbuf(old_); }
    CapturedDiagnostics(const CapturedDiagnostics&) = delete;
    CapturedDiagnostics& operator=(const CapturedDiagnostics&) = delete;
    std::vector<std::string> messages() const {
        std::vector<std::string> out;
        std::istringstream lines(buffer_.str());
        for (std::string line; std::getline(lines, line);) {
            const auto colon = line.find("): ");
            out.push_back(colon == std::string::npos ? line : line.substr(colon + 3));
        }
        return out;
    }

private:
    std::ostringstream buffer_;
    std::streambuf* old_;
};

class HostAccess : public ::testing::Test {
protected:
    void SetUp() override {
        XlfExcel::DeleteInstance();
        resetHost();
        TaviruneTestSetExcel4vHandler(&scriptedExcel4v);
        callbacks::setMdCallBack12(&scriptedMdCallBack12);
        platform::setWindowProvider(nullptr, nullptr);
    }
    void TearDown() override {
        XlfExcel::DeleteInstance();
        TaviruneTestSetExcel4vHandler(nullptr);
        callbacks::setMdCallBack12(nullptr);
        platform::setWindowProvider(nullptr, nullptr);
        TempMemory::FreeAll();
    }
    static std::vector<Call> calls() {
        std::lock_guard<std::mutex> lock(host().mutex);
        return host().calls;
    }
    static std::vector<std::string> events() {
        std::lock_guard<std::mutex> lock(host().mutex);
        return host().events;
    }
};

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
    void touch(const std::string& relative) const {
        std::FILE* f = std::fopen(path(relative).c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fclose(f);
    }

private:
    std::filesystem::path root_;
};

// --- Initialisation --------------------------------------------------------------------------

TEST_F(HostAccess, Version16ChoosesTheNewerRecordsAndTheirTypeCodes) {
    TempFolder folder;
    folder.touch("addins/Tavirune.chm");
    host().libraryPath = folder.path("addins/Tavirune.xll");

    const XlfExcel& excel = XlfExcel::Instance();
    EXPECT_TRUE(XlfExcel::HasInstance());
    EXPECT_EQ(excel.excelVersion(), 16);
    EXPECT_TRUE(excel.excel12());
    EXPECT_TRUE(XlfOper::IsExcel12());
    EXPECT_EQ(excel.TypeCode("XLF_OPER"), "Q");
    EXPECT_EQ(excel.TypeCode("XLF_XLOPER"), "U");
    EXPECT_EQ(excel.TypeCode("XLF_WSTR"), "C%");
    EXPECT_EQ(excel.TypeCode("XLF_FP"), "K%");
    EXPECT_EQ(excel.TypeCode("B"), "B");
    EXPECT_EQ(excel.TypeCode("xlf_oper"), "xlf_oper");
    EXPECT_EQ(excel.TypeCode(""), "");
    EXPECT_EQ(excel.GetName(), folder.path("addins/Tavirune.xll"));
    EXPECT_EQ(excel.GetHelpFile(), folder.path("addins/Tavirune.chm"));

    // The version is asked with the integer 2 and coerced to an integer in the older records;
    // the library path in the generation just chosen. Every host answer went back to the host.
    EXPECT_EQ(host().workspaceArgument, 2);
    EXPECT_EQ(host().coerceTarget, xltypeInt);
    const std::vector<Call> expected = {{xlfGetWorkspace, false, 1}, {xlCoerce, false, 2}, {xlFree, false, 1},
                                        {xlFree, false, 1},          {xlGetName, true, 0}, {xlFree, true, 1}};
    EXPECT_EQ(calls(), expected);
    EXPECT_TRUE(host().live.empty());
    EXPECT_EQ(&XlfExcel::Instance(), &excel);
}

TEST_F(HostAccess, Version11KeepsTheOlderRecordsThroughout) {
    TempFolder folder;
    folder.touch("Tavirune.chm");  // only in the parent folder
    host().versionText = "11.0";
    host().libraryPath = folder.path("addins/Tavirune.xll");

    const XlfExcel& excel = XlfExcel::Instance();
    EXPECT_EQ(excel.excelVersion(), 11);
    EXPECT_FALSE(excel.excel12());
    EXPECT_FALSE(XlfOper::IsExcel12());
    EXPECT_EQ(excel.TypeCode("XLF_OPER"), "P");
    EXPECT_EQ(excel.TypeCode("XLF_XLOPER"), "R");
    EXPECT_EQ(excel.TypeCode("XLF_WSTR"), "C");
    EXPECT_EQ(excel.TypeCode("XLF_FP"), "K");
    EXPECT_EQ(excel.GetName(), folder.path("addins/Tavirune.xll"));
    EXPECT_EQ(excel.GetHelpFile(), folder.path("addins/../Tavirune.chm"));
    for (const Call& call : calls()) EXPECT_FALSE(call.newer) << call.function;
    EXPECT_TRUE(host().live.empty());
}

struct VersionCase {
    const char* name;
    VersionAnswer answer;
    std::string text;
    bool coercible;
    int workspaceStatus;
    int version;
};

class HostVersion : public HostAccess, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(HostVersion, FromCoercionElseLeadingDigitsElseTen) {
    const VersionCase& c = GetParam();
    host().versionAnswer = c.answer;
    host().versionText = c.text;
    host().coercible = c.coercible;
    host().workspaceStatus = c.workspaceStatus;
    const XlfExcel& excel = XlfExcel::Instance();
    EXPECT_EQ(excel.excelVersion(), c.version);
    EXPECT_EQ(XlfOper::IsExcel12(), c.version >= 12);
    EXPECT_EQ(excel.TypeCode("XLF_OPER"), c.version >= 12 ? "Q" : "P");
    EXPECT_TRUE(host().live.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Answers, HostVersion,
    ::testing::Values(VersionCase{"coerced", VersionAnswer::Text, "12", true, xlretSuccess, 12},
                      VersionCase{"coerced_older", VersionAnswer::Text, "9.5", true, xlretSuccess, 9},
                      VersionCase{"text_not_coerced", VersionAnswer::Text, "16.0", false, xlretSuccess, 16},
                      VersionCase{"text_with_tail", VersionAnswer::Text, "14 beta", true, xlretSuccess, 14},
                      VersionCase{"text_without_digits", VersionAnswer::Text, "Excel", true, xlretSuccess, 0},
                      VersionCase{"empty_text", VersionAnswer::Text, "", true, xlretSuccess, 0},
                      VersionCase{"error_answer", VersionAnswer::Error, "", true, xlretSuccess, 10},
                      VersionCase{"nil_answer", VersionAnswer::Nil, "", true, xlretSuccess, 10},
                      VersionCase{"failed_call", VersionAnswer::Text, "16.0", true, xlretFailed, 10}),
    [](const ::testing::TestParamInfo<VersionCase>& param) { return std::string(param.param.name); });

TEST_F(HostAccess, LibraryPathFailureLeavesAnEmptyPathAndADiagnostic) {
    host().libraryPathStatus = xlretFailed;
    CapturedDiagnostics diagnostics;
    const XlfExcel& excel = XlfExcel::Instance();
    EXPECT_EQ(excel.GetName(), "");
    EXPECT_EQ(excel.GetHelpFile(), "");
    EXPECT_EQ(diagnostics.messages(), std::vector<std::string>{"Could not get DLL name"});
    EXPECT_EQ(excel.excelVersion(), 16);
}

TEST_F(HostAccess, NoHelpFileWhenNoneExists) {
    TempFolder folder;
    host().libraryPath = folder.path("addins/Tavirune.xll");
    EXPECT_EQ(XlfExcel::Instance().GetHelpFile(), "");
    // A folder of the help file's name is no help file.
    XlfExcel::DeleteInstance();
    std::filesystem::create_directories(folder.path("addins/Tavirune.chm"));
    EXPECT_EQ(XlfExcel::Instance().GetHelpFile(), "");
}

TEST_F(HostAccess, DeletingTheInstanceDetachesTheOlderCallbacks) {
    XlfExcel::Instance();
    XlfExcel::DeleteInstance();
    EXPECT_FALSE(XlfExcel::HasInstance());
    const std::size_t before = calls().size();
    xloper result{};
    EXPECT_EQ(callbacks::excel4v(xlGetName, &result, 0, nullptr), xlretFailed);
    EXPECT_EQ(calls().size(), before);
    // A new instance finds them again.
    EXPECT_EQ(XlfExcel::Instance().excelVersion(), 16);
    XlfExcel::DeleteInstance();
    XlfExcel::DeleteInstance();  // twice is harmless
}

TEST_F(HostAccess, CallsGoThroughTheChosenGeneration) {
    XlfExcel& excel = XlfExcel::Instance();
    host().calls.clear();
    XlfOper result;
    EXPECT_EQ(excel.Call(xlGetName, result, {}), xlretSuccess);
    EXPECT_EQ(result.ReadWideString(), L"/nowhere/Tavirune.xll");
    result.FreeHostMemory();
    XlfOper flag(true), text(std::string("hello"));
    const LPXLFOPER operands[] = {flag, text};
    EXPECT_EQ(excel.Callv(xlcMessage, nullptr, 2, operands), xlretSuccess);
    EXPECT_EQ(excel.Call(9999, nullptr, {}), xlretInvXlfn);
    const std::vector<Call> expected = {{xlGetName, true, 0}, {xlFree, true, 1}, {xlcMessage, true, 2}, {9999, true, 0}};
    EXPECT_EQ(calls(), expected);
    EXPECT_EQ(events(), std::vector<std::string>{"set hello"});
}

// --- Status bar ------------------------------------------------------------------------------

TEST_F(HostAccess, StatusBarSetAndClear) {
    const XlfExcel& excel = XlfExcel::Instance();
    excel.SendMessage("Registering library...");
    excel.ClearMessage();
    EXPECT_EQ(events(), (std::vector<std::string>{"set Registering library...", "clear"}));
}

TEST_F(HostAccess, StatusBarFailuresFollowTheStatusRules) {
    const XlfExcel& excel = XlfExcel::Instance();
    CapturedDiagnostics diagnostics;
    host().messageStatus = xlretFailed;
    try {
        excel.SendMessage("x");
        ADD_FAILURE() << "no exception";
    } catch (const XlfGeneralException& error) {
        EXPECT_STREQ(error.what(), "command failed Set Status Bar");
    }
    host().messageStatus = xlretInvCount;
    try {
        excel.ClearMessage();
        ADD_FAILURE() << "no exception";
    } catch (const XlfGeneralException& error) {
        EXPECT_STREQ(error.what(), "invalid number of arguments Clear Status Bar");
    }
    host().messageStatus = xlretAbort;
    EXPECT_THROW(excel.SendMessage("x"), XlfExceptionAbort);
    const std::vector<std::string> messages = diagnostics.messages();
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages[0], "command failed Set Status Bar");
    EXPECT_EQ(messages[1], "invalid number of arguments Clear Status Bar");
}

// --- Function wizard and main window ----------------------------------------------------------

std::mutex windowsMutex;
std::vector<platform::ThreadId> askedThreads;
std::string wizardTitle;

std::vector<platform::WindowInfo> hostThreadWindows(platform::ThreadId thread) {
    std::lock_guard<std::mutex> lock(windowsMutex);
    askedThreads.push_back(thread);
    platform::WindowInfo wizard;
    wizard.handle = 5;
    wizard.className = "bosa_sdm_XL9";
    wizard.title = wizardTitle;
    return {wizard};
}

std::vector<platform::WindowInfo> hostTopLevelWindows() {
    platform::WindowInfo other, main;
    other.handle = 0x70001234;
    other.className = "EXCEL7";
    main.handle = 0x50001234;
    main.className = "XLMAIN";
    return {other, main};
}

TEST_F(HostAccess, FunctionWizardThreadsAskForTheWindowsOfTheCreatingThread) {
    {
        std::lock_guard<std::mutex> lock(windowsMutex);
        askedThreads.clear();
        wizardTitle = "Function Arguments";
    }
    const XlfExcel& excel = XlfExcel::Instance();
    EXPECT_FALSE(excel.InFunctionWizard());  // no windows at all
    platform::setWindowProvider(&hostThreadWindows, &hostTopLevelWindows);
    EXPECT_TRUE(excel.InFunctionWizard());
    wizardTitle = "Paste Function";
    EXPECT_FALSE(excel.InFunctionWizard());
    wizardTitle = "Function Arguments";
    bool onOtherThread = false;
    std::thread([&] { onOtherThread = excel.InFunctionWizard(); }).join();
    EXPECT_TRUE(onOtherThread);
    std::lock_guard<std::mutex> lock(windowsMutex);
    ASSERT_EQ(askedThreads.size(), 3u);
    for (platform::ThreadId thread : askedThreads) EXPECT_EQ(thread, platform::currentThreadId());
}

TEST_F(HostAccess, MainWindowFromTheLowBitsTheHostGives) {
    const XlfExcel& excel = XlfExcel::Instance();
    platform::setWindowProvider(&hostThreadWindows, &hostTopLevelWindows);
    EXPECT_EQ(excel.GetMainWindow(), 0x50001234u);
    CapturedDiagnostics diagnostics;
    host().hwnd = 0x4321;
    try {
        excel.GetMainWindow();
        ADD_FAILURE() << "no exception";
    } catch (const XlfGeneralException& error) {
        EXPECT_STREQ(error.what(), "xlGetHwnd no match for partial handle");
    }
    host().hwndStatus = xlretFailed;
    try {
        excel.GetMainWindow();
        ADD_FAILURE() << "no exception";
    } catch (const XlfGeneralException& error) {
        EXPECT_STREQ(error.what(), "xlGetHwnd call failed");
    }
    EXPECT_EQ(diagnostics.messages(),
              (std::vector<std::string>{"xlGetHwnd no match for partial handle", "xlGetHwnd call failed"}));
}

// --- PATH ------------------------------------------------------------------------------------

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

std::string executableFolder() {
    const std::string exe = platform::modulePathOf(reinterpret_cast<const void*>(&executableFolder));
    return exe.substr(0, exe.rfind('/'));
}

TEST_F(HostAccess, PathGetsTheLibraryFolderAppended) {
    SavedPath saved;
    XlfExcel::Instance();
    ASSERT_EQ(setenv("PATH", "/usr/bin:/bin", 1), 0);
    CapturedDiagnostics diagnostics;
    PathUpdater::Update();
    EXPECT_EQ(platform::getEnvironment("PATH"), std::optional<std::string>("/usr/bin:/bin:" + executableFolder()));
    EXPECT_EQ(diagnostics.messages(), std::vector<std::string>{" PATH set successfully "});
    // The module's file name was shown on the status bar.
    const std::string exe = platform::modulePathOf(reinterpret_cast<const void*>(&executableFolder));
    EXPECT_EQ(events(), std::vector<std::string>{"set " + exe});
}

TEST_F(HostAccess, EmptyOrMissingPathIsLeftAlone) {
    SavedPath saved;
    XlfExcel::Instance();
    const std::vector<std::string> expected = {" Could not obtain PATH Environment variable ",
                                               " Warning: Unable to initialise PATH to directory of library "};
    {
        ASSERT_EQ(setenv("PATH", "", 1), 0);
        CapturedDiagnostics diagnostics;
        PathUpdater::Update();
        EXPECT_EQ(platform::getEnvironment("PATH"), std::optional<std::string>(""));
        EXPECT_EQ(diagnostics.messages(), expected);
    }
    {
        ASSERT_EQ(unsetenv("PATH"), 0);
        CapturedDiagnostics diagnostics;
        PathUpdater::Update();
        EXPECT_EQ(platform::getEnvironment("PATH"), std::nullopt);
        EXPECT_EQ(diagnostics.messages(), expected);
    }
    EXPECT_EQ(events().size(), 2u);  // the file name was still shown each time
}

// --- Lifecycle -------------------------------------------------------------------------------

void recordRegisterAll() {
    std::lock_guard<std::mutex> lock(host().mutex);
    host().events.push_back("RegisterAll");
}
void recordUnregisterAll() {
    std::lock_guard<std::mutex> lock(host().mutex);
    host().events.push_back("UnregisterAll");
}
void failingRegisterAll() { throw XlfGeneralException("Could not get library name"); }
void failingUnregisterAll() { throw std::runtime_error("host gone"); }

struct RecordingAction : MacroAction {
    explicit RecordingAction(std::string name) : name_(std::move(name)) {}
    void execute() override {
        std::lock_guard<std::mutex> lock(host().mutex);
        host().events.push_back(name_);
    }
    std::string name_;
};

struct ThrowingAction : MacroAction {
    void execute() override { throw 42; }
};

class Lifecycle : public HostAccess {
protected:
    void SetUp() override {
        HostAccess::SetUp();
        ResetBeingRemoved();
        SetRegistrationHooks(&recordRegisterAll, &recordUnregisterAll);
    }
    void TearDown() override {
        SetRegistrationHooks(nullptr, nullptr);
        ResetBeingRemoved();
        HostAccess::TearDown();
    }
    // The events after the first open in the process, which also shows the module's name.
    static std::vector<std::string> eventsWithoutModuleName() {
        std::vector<std::string> out;
        for (const std::string& e : events())
            if (e.find(executableName()) == std::string::npos) out.push_back(e);
        return out;
    }
    static std::string executableName() {
        return platform::modulePathOf(reinterpret_cast<const void*>(&executableFolder));
    }
    SavedPath savedPath_;
};

TEST_F(Lifecycle, OpenRegistersUnderAStatusMessageThenRunsTheOpenActions) {
    RecordingAction action("open action");
    singleton<MacroCache<Open>>::instance().add(&action);
    EXPECT_EQ(xlAutoOpen(), 1);
    singleton<MacroCache<Open>>::instance().remove(&action);
    EXPECT_TRUE(XlfExcel::HasInstance());
    EXPECT_EQ(eventsWithoutModuleName(),
              (std::vector<std::string>{"set Registering library...", "RegisterAll", "clear", "open action"}));
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
    SetRegistrationHooks(&failingRegisterAll, &recordUnregisterAll);
    RecordingAction action("open action");
    singleton<MacroCache<Open>>::instance().add(&action);
    EXPECT_EQ(xlAutoOpen(), 0);
    EXPECT_EQ(eventsWithoutModuleName(), std::vector<std::string>{"set Registering library..."});

    host().events.clear();
    host().messageStatus = xlretFailed;
    SetRegistrationHooks(&recordRegisterAll, &recordUnregisterAll);
    EXPECT_EQ(xlAutoOpen(), 0);
    singleton<MacroCache<Open>>::instance().remove(&action);
    for (const std::string& e : events()) EXPECT_NE(e, "RegisterAll");

    host().events.clear();
    host().messageStatus = xlretSuccess;
    ThrowingAction throwing;
    singleton<MacroCache<Open>>::instance().add(&throwing);
    EXPECT_EQ(xlAutoOpen(), 0);  // anything thrown, of any type
    singleton<MacroCache<Open>>::instance().remove(&throwing);
}

TEST_F(Lifecycle, NoHooksMeansNothingRegistered) {
    SetRegistrationHooks(nullptr, nullptr);
    EXPECT_EQ(xlAutoOpen(), 1);
    EXPECT_EQ(eventsWithoutModuleName(), (std::vector<std::string>{"set Registering library...", "clear"}));
    EXPECT_EQ(xlAutoRemove(), 1);
    EXPECT_EQ(xlAutoClose(), 1);
}

TEST_F(Lifecycle, CloseWithoutRemoveKeepsTheRegistrations) {
    ASSERT_EQ(xlAutoOpen(), 1);
    RecordingAction action("close action");
    singleton<MacroCache<Close>>::instance().add(&action);
    host().events.clear();
    {
        CapturedDiagnostics diagnostics;
        EXPECT_EQ(xlAutoClose(), 1);
        EXPECT_EQ(diagnostics.messages(), std::vector<std::string>{"Releasing resources"});
    }
    singleton<MacroCache<Close>>::instance().remove(&action);
    EXPECT_EQ(events(), std::vector<std::string>{"close action"});
    EXPECT_FALSE(XlfExcel::HasInstance());
    EXPECT_EQ(TempMemory::ArenaSize(), 0u);
}

TEST_F(Lifecycle, RemoveThenCloseUnregistersOnce) {
    ASSERT_EQ(xlAutoOpen(), 1);
    RecordingAction removeAction("remove action"), closeAction("close action");
    singleton<MacroCache<Remove>>::instance().add(&removeAction);
    singleton<MacroCache<Close>>::instance().add(&closeAction);
    host().events.clear();
    {
        CapturedDiagnostics diagnostics;
        EXPECT_EQ(xlAutoRemove(), 1);
        EXPECT_TRUE(IsBeingRemoved());
        EXPECT_EQ(xlAutoClose(), 1);
        EXPECT_EQ(diagnostics.messages(), (std::vector<std::string>{"Addin being unloaded", "Releasing resources"}));
    }
    EXPECT_EQ(events(), (std::vector<std::string>{"remove action", "close action", "UnregisterAll"}));
    EXPECT_FALSE(XlfExcel::HasInstance());

    // Added again and closed without removal: the new registrations stay.
    host().events.clear();
    ASSERT_EQ(xlAutoOpen(), 1);
    EXPECT_EQ(xlAutoClose(), 1);
    singleton<MacroCache<Remove>>::instance().remove(&removeAction);
    singleton<MacroCache<Close>>::instance().remove(&closeAction);
    for (const std::string& e : events()) EXPECT_NE(e, "UnregisterAll");
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
    singleton<MacroCache<Remove>>::instance().add(&throwing);
    {
        CapturedDiagnostics diagnostics;
        EXPECT_EQ(xlAutoRemove(), 1);
        EXPECT_EQ(diagnostics.messages(),
                  (std::vector<std::string>{"Addin being unloaded", "Something bad happened in xlAutoRemove"}));
    }
    singleton<MacroCache<Remove>>::instance().remove(&throwing);
    EXPECT_FALSE(IsBeingRemoved());  // the flag is set only after the actions ran
    xlGenDoc();                      // does nothing
}

}  // namespace
}  // namespace xlframe

#endif  // !defined(_WIN32)

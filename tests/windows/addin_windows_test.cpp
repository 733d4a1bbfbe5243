// Tavirune.xll loaded the way a spreadsheet host on Windows loads it, run under wine: this
// executable plays the host. It exports MdCallBack12, imports the stand-in XLCALL32.DLL (whose
// Excel4v it answers), loads the add-in with LoadLibrary and calls its exported entry points.
//
// The record generation and the PATH update belong to the first opening in a process, so each
// test suite runs in a process of its own (CTest runs them with a filter each):
//   WindowsAddin16: host version 16;  WindowsAddin11: version 11;  WindowsAddinPath: PATH update.
// The function-wizard tests create real windows: run under a display (xvfb-run -a).
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "xlframe/xlcall.hpp"

extern "C" __declspec(dllimport) void TaviruneTestSetExcel4vHandler(EXCEL4VPROC excel4v);

namespace {

// ---- The host's side --------------------------------------------------------------------------

struct Registration {
    std::vector<std::string> texts;  // one per operand; numbers as their decimal form
    double id = 0;
    const std::string& at(std::size_t i) const {
        static const std::string none;
        return i < texts.size() ? texts[i] : none;
    }
};

struct HostState {
    std::mutex mutex;
    int version = 16;
    std::string libraryPath;
    std::vector<Registration> registrations;
    std::vector<double> unregistered;
    std::vector<std::string> statusBar;
    std::deque<std::u16string> wideTexts;  // host-owned texts handed out, kept to the end
    std::deque<std::string> narrowTexts;
    double nextId = 100;
};

HostState& state() {
    static HostState host;
    return host;
}

std::string toUtf8(const std::u16string& wide) {
    if (wide.empty()) return {};
    const std::wstring w(wide.begin(), wide.end());
    const int length = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), out.data(), length, nullptr, nullptr);
    return out;
}

std::u16string toU16(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), w.data(), length);
    return std::u16string(w.begin(), w.end());
}

std::string textOf(const xloper12& r) {
    if ((r.xltype & xltypeMask) != xltypeStr || r.val.str == nullptr) return {};
    return toUtf8(std::u16string(r.val.str + 1, static_cast<std::size_t>(static_cast<std::uint16_t>(r.val.str[0]))));
}
std::string textOf(const xloper& r) {
    // The older records hold the ANSI code page; the add-in's texts here are ASCII.
    if ((r.xltype & xltypeMask) != xltypeStr || r.val.str == nullptr) return {};
    return std::string(r.val.str + 1, static_cast<unsigned char>(r.val.str[0]));
}

template <class Record>
void setText(Record& r, const std::string& text) {
    std::lock_guard<std::mutex> lock(state().mutex);
    if constexpr (std::is_same_v<Record, xloper12>) {
        std::u16string& stored = state().wideTexts.emplace_back(1, u'\0');
        stored += toU16(text);
        stored[0] = static_cast<char16_t>(stored.size() - 1);
        r.val.str = stored.data();
    } else {
        std::string& stored = state().narrowTexts.emplace_back(1, '\0');
        stored += text;
        stored[0] = static_cast<char>(stored.size() - 1);
        r.val.str = stored.data();
    }
    r.xltype = xltypeStr;
}

template <class Record>
std::string operandText(const Record& r) {
    switch (r.xltype & xltypeMask) {
        case xltypeStr: return textOf(r);
        case xltypeNum: {
            char buffer[32];
            std::snprintf(buffer, sizeof buffer, "%.17g", r.val.num);
            return buffer;
        }
        case xltypeInt: return std::to_string(r.val.w);
        case xltypeBool: return r.val.xbool ? "TRUE" : "FALSE";
        default: return {};
    }
}

template <class Record>
int answer(int xlfn, int count, Record* operands[], Record* result) {
    HostState& host = state();
    Record scratch{};
    if (result == nullptr) result = &scratch;
    switch (xlfn) {
        case xlfGetWorkspace: {
            int version = 0;
            {
                std::lock_guard<std::mutex> lock(host.mutex);
                version = host.version;
            }
            setText(*result, std::to_string(version) + ".0");
            result->xltype |= xlbitXLFree;
            return xlretSuccess;
        }
        case xlCoerce: {
            if (count < 1) return xlretInvCount;
            const std::string text = operandText(*operands[0]);
            if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return xlretFailed;
            result->xltype = xltypeInt;
            result->val.w = std::atoi(text.c_str());
            return xlretSuccess;
        }
        case xlFree: return xlretSuccess;  // the host's texts live to the end of the test
        case xlGetName: {
            std::string path;
            {
                std::lock_guard<std::mutex> lock(host.mutex);
                path = host.libraryPath;
            }
            setText(*result, path);
            result->xltype |= xlbitXLFree;
            return xlretSuccess;
        }
        case xlfRegister: {
            Registration r;
            for (int i = 0; i < count; ++i) r.texts.push_back(operandText(*operands[i]));
            std::lock_guard<std::mutex> lock(host.mutex);
            r.id = host.nextId++;
            result->xltype = xltypeNum;
            result->val.num = r.id;
            host.registrations.push_back(std::move(r));
            return xlretSuccess;
        }
        case xlfUnregister: {
            if (count < 1) return xlretInvCount;
            std::lock_guard<std::mutex> lock(host.mutex);
            host.unregistered.push_back(operands[0]->val.num);
            result->xltype = xltypeBool;
            result->val.xbool = 1;
            return xlretSuccess;
        }
        case xlfSetName:
            result->xltype = xltypeBool;
            result->val.xbool = 1;
            return xlretSuccess;
        case xlcMessage: {
            std::lock_guard<std::mutex> lock(host.mutex);
            host.statusBar.push_back(count >= 2 ? operandText(*operands[1]) : std::string());
            result->xltype = xltypeBool;
            result->val.xbool = 1;
            return xlretSuccess;
        }
        case xlSheetId:
            result->xltype = xltypeNum;
            result->val.num = 1;
            return xlretSuccess;
        default: return xlretInvXlfn;
    }
}

int XLCALLCONV oldCallback(int xlfn, xloper* result, int count, xloper* operands[]) {
    return answer(xlfn, count, operands, result);
}

}  // namespace

extern "C" __declspec(dllexport) int XLCALLCONV MdCallBack12(int xlfn, int count, xloper12* operands[], xloper12* result) {
    return answer(xlfn, count, operands, result);
}

namespace {

// ---- Cells the host reads back ----------------------------------------------------------------

struct Error {
    int code;
    bool operator==(const Error&) const = default;
};
using Cell = std::variant<std::monostate, double, std::string, bool, Error>;
using Table = std::vector<std::vector<Cell>>;

template <class Record>
Cell cellOf(const Record& r) {
    switch (r.xltype & xltypeMask) {
        case xltypeNum: return r.val.num;
        case xltypeStr: return textOf(r);
        case xltypeBool: return r.val.xbool != 0;
        case xltypeErr: return Error{static_cast<int>(r.val.err)};
        case xltypeInt: return static_cast<double>(r.val.w);
        default: return std::monostate{};
    }
}

template <class Record>
Table tableOf(const Record* r) {
    if (r == nullptr) return {};
    if ((r->xltype & xltypeMask) != xltypeMulti) return {{cellOf(*r)}};
    Table table(static_cast<std::size_t>(r->val.array.rows));
    for (std::size_t i = 0; i < table.size(); ++i) {
        for (std::size_t j = 0; j < static_cast<std::size_t>(r->val.array.columns); ++j) {
            table[i].push_back(cellOf(r->val.array.lparray[i * static_cast<std::size_t>(r->val.array.columns) + j]));
        }
    }
    return table;
}

// A column of numbers as the host passes a range.
template <class Record>
struct Column {
    std::vector<Record> cells;
    Record record{};
    explicit Column(const std::vector<double>& values) : cells(values.size()) {
        for (std::size_t i = 0; i < values.size(); ++i) {
            cells[i].xltype = xltypeNum;
            cells[i].val.num = values[i];
        }
        record.xltype = xltypeMulti;
        record.val.array.lparray = cells.data();
        record.val.array.rows = static_cast<decltype(record.val.array.rows)>(values.size());
        record.val.array.columns = 1;
    }
    Record* get() { return &record; }
};

std::string windowsPath(std::string path) {
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

// The loaded add-in.
class Addin {
public:
    explicit Addin(const std::string& path) {
        {
            std::lock_guard<std::mutex> lock(state().mutex);
            state().libraryPath = path;
        }
        module_ = LoadLibraryA(path.c_str());
    }
    ~Addin() {
        if (module_ != nullptr) FreeLibrary(module_);
    }
    Addin(const Addin&) = delete;
    Addin& operator=(const Addin&) = delete;
    bool loaded() const { return module_ != nullptr; }
    template <class Function>
    Function entry(const char* name) const {
        FARPROC address = GetProcAddress(module_, name);
        Function function = nullptr;
        static_assert(sizeof function == sizeof address);
        std::memcpy(&function, &address, sizeof function);
        return function;
    }
    int lifecycle(const char* name) const {
        auto function = entry<int (*)()>(name);
        return function != nullptr ? function() : -1;
    }

private:
    HMODULE module_ = nullptr;
};

const Registration* registered(const std::string& name) {
    std::lock_guard<std::mutex> lock(state().mutex);
    for (const Registration& r : state().registrations) {
        if (r.at(3) == name) return &r;
    }
    return nullptr;
}

void resetRecords() {
    std::lock_guard<std::mutex> lock(state().mutex);
    state().registrations.clear();
    state().unregistered.clear();
    state().statusBar.clear();
}

void setVersion(int version) {
    std::lock_guard<std::mutex> lock(state().mutex);
    state().version = version;
}

const std::string& addinPath() {
    static const std::string path = windowsPath(TAVIRUNE_XLL_PATH);
    return path;
}

const char* const kFunctions[] = {
    "adjustedPowerStat", "aurocDifferenceAggregate", "aurocDifferenceIndividual", "calibrationDifferenceAggregate",
    "calibrationDifferenceIndividual", "calibrationTestAggregate", "calibrationTestIndividual", "crossTabCategorical",
    "crossTabNumerical", "generateBootstrapSample", "getInfo", "getVersion", "logisticRegression",
    "lowDefaultPortfolioPD", "mapCategoricals2Scores", "mapNumericals2Scores", "rocCurveAggregate",
    "rocCurveIndividual", "aurocInitialComparison", "binomialTest", "herfindahlIndex", "jeffreysTest", "ksStatistic",
    "migrationMatrix", "populationStabilityIndex"};

// The worked example: three grades, riskiest first by score with scoreIndex 0.
const std::vector<double> kScores = {1, 2, 3}, kDefaults = {5, 3, 1}, kSurvivals = {10, 20, 60};

template <class Record>
Table rocCurveAggregate(const Addin& addin) {
    using Entry = Record* (*)(Record*, Record*, Record*, double, double);
    auto entry = addin.entry<Entry>("xlrocCurveAggregate");
    if (entry == nullptr) return {};
    Column<Record> scores(kScores), defaults(kDefaults), survivals(kSurvivals);
    return tableOf(entry(scores.get(), defaults.get(), survivals.get(), 0.0, 1.0));
}

// A real top-level window of the host's main thread, as the host's dialogs are.
class HostWindow {
public:
    HostWindow(const wchar_t* className, const wchar_t* title) {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = className;
        RegisterClassW(&windowClass);
        window_ = CreateWindowExW(0, className, title, WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    }
    ~HostWindow() {
        if (window_ != nullptr) DestroyWindow(window_);
    }
    HostWindow(const HostWindow&) = delete;
    HostWindow& operator=(const HostWindow&) = delete;
    bool created() const { return window_ != nullptr; }

private:
    HWND window_ = nullptr;
};

// ---- Version 16: the newer records -------------------------------------------------------------

class WindowsAddin16 : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        TaviruneTestSetExcel4vHandler(&oldCallback);
        setVersion(16);
        addin_ = new Addin(addinPath());
        ASSERT_TRUE(addin_->loaded()) << addinPath() << " error " << GetLastError();
        ASSERT_EQ(addin_->lifecycle("xlAutoOpen"), 1);
    }
    static void TearDownTestSuite() {
        if (addin_ != nullptr) addin_->lifecycle("xlAutoClose");
        delete addin_;
        addin_ = nullptr;
    }
    static Addin* addin_;
};
Addin* WindowsAddin16::addin_ = nullptr;

TEST_F(WindowsAddin16, RegistersEveryFunction) {
    for (const char* function : kFunctions) {
        const Registration* r = registered(std::string("Korvanth.Tavirune.") + function);
        ASSERT_NE(r, nullptr) << function;
        EXPECT_EQ(r->at(0), addinPath()) << function;
        EXPECT_EQ(r->at(1), std::string("xl") + function) << function;
        EXPECT_EQ(r->at(5), "1") << function;
        EXPECT_EQ(r->at(6), "Korvanth Tavirune") << function;
        EXPECT_EQ(r->at(8), "") << function;  // no help file beside the library
        // Every registered procedure is an export of the library.
        EXPECT_NE(addin_->entry<void (*)()>(r->at(1).c_str()), nullptr) << function;
    }
    EXPECT_EQ(registered("Korvanth.Tavirune.rocCurveIndividual")->at(2), "QQQBBB$");
    EXPECT_EQ(registered("Korvanth.Tavirune.getVersion")->at(2), "Q$");
    EXPECT_EQ(registered("Korvanth.Tavirune.rocCurveAggregate")->at(2), "QQQQBB$");
}

TEST_F(WindowsAddin16, StatusBarWhileRegistering) {
    // Registering, then cleared; the earlier entries are the PATH update's module name.
    std::lock_guard<std::mutex> lock(state().mutex);
    ASSERT_GE(state().statusBar.size(), 2u);
    EXPECT_EQ(state().statusBar[state().statusBar.size() - 2], "Registering library...");
}

TEST_F(WindowsAddin16, VersionText) {
    auto entry = addin_->entry<xloper12* (*)()>("xlgetVersion");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(tableOf(entry()), Table{{Cell{std::string("Korvanth - Tavirune, Version 1.3.6 (30.04.2015)")}}});
}

TEST_F(WindowsAddin16, RocCurveAggregateOfTheWorkedExample) {
    const Table table = rocCurveAggregate<xloper12>(*addin_);
    ASSERT_EQ(table.size(), 7u);
    ASSERT_EQ(table[0].size(), 2u);
    EXPECT_EQ(table[0][0], Cell{std::string("AUROC")});
    ASSERT_TRUE(std::holds_alternative<double>(table[0][1]));
    // Pairs (default, survival) where the default has the riskier (lower) score, ties half.
    double concordant = 0, total = 0;
    for (std::size_t d = 0; d < 3; ++d) {
        for (std::size_t s = 0; s < 3; ++s) {
            const double pairs = kDefaults[d] * kSurvivals[s];
            total += pairs;
            concordant += pairs * (kScores[d] < kScores[s] ? 1.0 : kScores[d] == kScores[s] ? 0.5 : 0.0);
        }
    }
    EXPECT_NEAR(std::get<double>(table[0][1]), concordant / total, 1e-12);
    // The labels, then the four curve points from (0, 0) to (1, 1).
    EXPECT_EQ(table[2][0], Cell{std::string("False Alarm Rate")});
    EXPECT_EQ(table[2][1], Cell{std::string("Hit Rate")});
    EXPECT_EQ(table[3][0], Cell{0.0});
    EXPECT_EQ(table[3][1], Cell{0.0});
    EXPECT_EQ(table[4][0], Cell{kSurvivals[0] / 90.0});
    EXPECT_EQ(table[4][1], Cell{kDefaults[0] / 9.0});
    EXPECT_EQ(table[6][0], Cell{1.0});
    EXPECT_EQ(table[6][1], Cell{1.0});
}

TEST_F(WindowsAddin16, MismatchedRangesGiveTheText) {
    using Entry = xloper12* (*)(xloper12*, xloper12*, xloper12*, double, double);
    auto entry = addin_->entry<Entry>("xlrocCurveAggregate");
    Column<xloper12> scores(kScores), defaults({5, 3}), survivals(kSurvivals);
    EXPECT_EQ(tableOf(entry(scores.get(), defaults.get(), survivals.get(), 0.0, 1.0)),
              Table{{Cell{std::string("The vectors for scores and the number of defaults do not have the same dimension")}}});
}

TEST_F(WindowsAddin16, CallsOnEightThreadsAgreeWithOne) {
    const Table expected = rocCurveAggregate<xloper12>(*addin_);
    ASSERT_FALSE(expected.empty());
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                if (rocCurveAggregate<xloper12>(*addin_) != expected) ++wrong;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(wrong, 0);
}

TEST_F(WindowsAddin16, FunctionWizardIsARealWindowOnTheHostsMainThread) {
    struct Case {
        const wchar_t* className;
        const wchar_t* title;
        bool wizard;
    };
    const Case cases[] = {
        {L"bosa_sdm_XL9", L"Function Arguments", true},
        {L"BOSA_SDM_XL12", L"Insert Function", true},  // case ignored, longer class names cut to 11
        {L"bosa_sdm_XL9", L"Paste Function", false},
        {L"bosa_sdm_XL9", L"Find and Replace", false},
        {L"bosa_sdm_Mso96", L"Function Arguments", false},
    };
    for (const Case& c : cases) {
        HostWindow window(c.className, c.title);
        ASSERT_TRUE(window.created()) << "no window could be created: run under a display (xvfb-run -a)";
        const Table table = rocCurveAggregate<xloper12>(*addin_);
        if (c.wizard) {
            EXPECT_EQ(table, Table{{Cell{true}}});
        } else {
            EXPECT_EQ(table.size(), 7u);
        }
    }
    // A wizard window of another thread is not the host's.
    std::thread other([&] {
        HostWindow window(L"bosa_sdm_XL9", L"Function Arguments");
        EXPECT_TRUE(window.created());
        EXPECT_EQ(rocCurveAggregate<xloper12>(*addin_).size(), 7u);
    });
    other.join();
}

TEST_F(WindowsAddin16, CloseWithoutRemoveKeepsTheRegistrationsThenRemoveUnregisters) {
    resetRecords();
    EXPECT_EQ(addin_->lifecycle("xlAutoClose"), 1);
    {
        std::lock_guard<std::mutex> lock(state().mutex);
        EXPECT_TRUE(state().unregistered.empty());
    }
    ASSERT_EQ(addin_->lifecycle("xlAutoOpen"), 1);
    std::vector<double> ids;
    {
        std::lock_guard<std::mutex> lock(state().mutex);
        for (const Registration& r : state().registrations) ids.push_back(r.id);
    }
    EXPECT_EQ(ids.size(), 25u);
    EXPECT_EQ(addin_->lifecycle("xlAutoRemove"), 1);
    EXPECT_EQ(addin_->lifecycle("xlAutoClose"), 1);
    {
        std::lock_guard<std::mutex> lock(state().mutex);
        std::vector<double> unregistered = state().unregistered;
        std::sort(unregistered.begin(), unregistered.end());
        EXPECT_EQ(unregistered, ids);
    }
    // Opened again, as after the user cancels closing.
    resetRecords();
    ASSERT_EQ(addin_->lifecycle("xlAutoOpen"), 1);
    EXPECT_NE(registered("Korvanth.Tavirune.getVersion"), nullptr);
}

TEST_F(WindowsAddin16, HelpFileBesideTheLibraryOrInItsParentFolder) {
    // A copy of the library in a folder of its own, found by the help-file search.
    const std::string folder = "C:\\tavirune-help\\addins";
    CreateDirectoryA("C:\\tavirune-help", nullptr);
    CreateDirectoryA(folder.c_str(), nullptr);
    const std::string library = folder + "\\Tavirune.xll";
    const std::string beside = folder + "\\Tavirune.chm", parent = "C:\\tavirune-help\\Tavirune.chm";
    ASSERT_TRUE(CopyFileA(addinPath().c_str(), library.c_str(), FALSE)) << GetLastError();
    auto touch = [](const std::string& path) {
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
        CloseHandle(file);
    };
    auto helpTopicOfTheCopy = [&]() -> std::string {
        resetRecords();
        Addin copy(library);
        if (!copy.loaded() || copy.lifecycle("xlAutoOpen") != 1) return "not opened";
        const Registration* r = registered("Korvanth.Tavirune.getVersion");
        std::string topic = r != nullptr ? r->at(8) : "not registered";
        copy.lifecycle("xlAutoClose");
        return topic;
    };
    touch(beside);
    touch(parent);
    EXPECT_EQ(helpTopicOfTheCopy().substr(0, beside.size() + 1), beside + "!");
    DeleteFileA(beside.c_str());
    const std::string viaParent = folder + "\\..\\Tavirune.chm";
    EXPECT_EQ(helpTopicOfTheCopy().substr(0, viaParent.size() + 1), viaParent + "!");
    DeleteFileA(parent.c_str());
    EXPECT_EQ(helpTopicOfTheCopy(), "");
    {
        std::lock_guard<std::mutex> lock(state().mutex);
        state().libraryPath = addinPath();
    }
    DeleteFileA(library.c_str());
    RemoveDirectoryA(folder.c_str());
    RemoveDirectoryA("C:\\tavirune-help");
}

// ---- Version 11: the older records -------------------------------------------------------------

class WindowsAddin11 : public WindowsAddin16 {
protected:
    static void SetUpTestSuite() {
        TaviruneTestSetExcel4vHandler(&oldCallback);
        setVersion(11);
        addin_ = new Addin(addinPath());
        ASSERT_TRUE(addin_->loaded()) << addinPath();
        ASSERT_EQ(addin_->lifecycle("xlAutoOpen"), 1);
    }
};

TEST_F(WindowsAddin11, RegistersWithTheOlderTypeCodes) {
    for (const char* function : kFunctions) {
        const Registration* r = registered(std::string("Korvanth.Tavirune.") + function);
        ASSERT_NE(r, nullptr) << function;
        EXPECT_EQ(r->at(2).find('Q'), std::string::npos) << function;
        EXPECT_EQ(r->at(2).find('$'), std::string::npos) << function;
    }
    EXPECT_EQ(registered("Korvanth.Tavirune.rocCurveIndividual")->at(2), "PPPBBB");
    EXPECT_EQ(registered("Korvanth.Tavirune.getVersion")->at(2), "P");
}

TEST_F(WindowsAddin11, CallsWithTheOlderRecords) {
    auto entry = addin_->entry<xloper* (*)()>("xlgetVersion");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(tableOf(entry()), Table{{Cell{std::string("Korvanth - Tavirune, Version 1.3.6 (30.04.2015)")}}});
    const Table table = rocCurveAggregate<xloper>(*addin_);
    ASSERT_EQ(table.size(), 7u);
    EXPECT_EQ(table[0][0], Cell{std::string("AUROC")});
}

// ---- PATH: the library's folder appended on the first opening -----------------------------------

TEST(WindowsAddinPath, LibraryFolderIsAppendedToPath) {
    TaviruneTestSetExcel4vHandler(&oldCallback);
    setVersion(16);
    CreateDirectoryA("C:\\addins", nullptr);
    const std::string library = "C:\\addins\\Tavirune.xll";
    ASSERT_TRUE(CopyFileA(addinPath().c_str(), library.c_str(), FALSE)) << GetLastError();
    // Everything this process needs is loaded already, so PATH may be anything now.
    ASSERT_TRUE(SetEnvironmentVariableA("PATH", "C:\\Windows"));
    {
        Addin addin(library);
        ASSERT_TRUE(addin.loaded());
        ASSERT_EQ(addin.lifecycle("xlAutoOpen"), 1);
        char path[256] = {};
        const DWORD length = GetEnvironmentVariableA("PATH", path, sizeof path);
        EXPECT_EQ(std::string(path, length), "C:\\Windows;C:\\addins");
        // Only the first opening in the process extends it.
        ASSERT_EQ(addin.lifecycle("xlAutoClose"), 1);
        ASSERT_EQ(addin.lifecycle("xlAutoOpen"), 1);
        const DWORD again = GetEnvironmentVariableA("PATH", path, sizeof path);
        EXPECT_EQ(std::string(path, again), "C:\\Windows;C:\\addins");
        addin.lifecycle("xlAutoClose");
    }
    DeleteFileA(library.c_str());
    RemoveDirectoryA("C:\\addins");
}

}  // namespace

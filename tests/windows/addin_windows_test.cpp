// Tavirune.xll under wine, loaded by the stand-in host as a spreadsheet on Windows loads it.
// The record generation, the PATH update and a missing callback library belong to a process, so
// each suite runs in a process of its own (CTest filters by suite). The function-wizard test
// creates real windows: run under a display (xvfb-run -a).
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>

#include "host/standin_host.hpp"

namespace {

using host::Argument;
using host::Table;
using host::Value;

std::string addinPath() {
    std::string path = TAVIRUNE_XLL_PATH;
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

Table column(std::vector<Value> values) {
    Table t(values.size(), 1);
    t.cells = std::move(values);
    return t;
}

// The worked example: scores 1, 2, 3 with defaults 5, 3, 1 and survivals 10, 20, 60.
Table rocCurveAggregate(const host::StandInHost& h, Table defaults = column({5.0, 3.0, 1.0})) {
    const host::Registration* f = h.find("Korvanth.Tavirune.rocCurveAggregate");
    if (f == nullptr) return {};
    return h.call(*f, {Argument::fromRange(column({1.0, 2.0, 3.0})), Argument::fromRange(std::move(defaults)),
                       Argument::fromRange(column({10.0, 20.0, 60.0})), Argument::fromValue(0.0),
                       Argument::fromValue(1.0)});
}

class HostWindow {
public:
    HostWindow(const wchar_t* className, const wchar_t* title) {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = className;
        RegisterClassW(&windowClass);
        window_ = CreateWindowExW(0, className, title, WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr, nullptr,
                                  windowClass.hInstance, nullptr);
    }
    ~HostWindow() {
        if (window_ != nullptr) DestroyWindow(window_);
    }
    bool created() const { return window_ != nullptr; }

private:
    HWND window_ = nullptr;
};

// One load per process: the suites run in processes of their own.
TEST(WindowsAddin16, RegistersAndCallsWithTheNewerRecords) {
    host::StandInHost h({.version = 16});
    h.load(addinPath());
    EXPECT_EQ(h.registrations().size(), 25u);
    EXPECT_EQ(h.find("Korvanth.Tavirune.rocCurveIndividual")->typeText, "QQQBBB$");
    EXPECT_EQ(h.find("Korvanth.Tavirune.getVersion")->helpTopic, "");  // no help file beside the library
    const Table table = rocCurveAggregate(h);
    ASSERT_EQ(table.rows, 7u);
    // Pairs (default, survival) where the default has the lower score, ties half: 665 of 810.
    EXPECT_NEAR(std::get<double>(table.at(0, 1)), 665.0 / 810.0, 1e-12);
    EXPECT_EQ(table.at(4, 0), Value(10.0 / 90.0));
    EXPECT_EQ(table.at(4, 1), Value(5.0 / 9.0));
    EXPECT_EQ(rocCurveAggregate(h, column({5.0, 3.0})).at(0, 0),
              Value(std::string("The vectors for scores and the number of defaults do not have the same dimension")));
    h.unload(true);
    EXPECT_EQ(h.unregistrations().size(), 25u);
}

TEST(WindowsAddinWizard, FunctionWizardIsARealWindowOnTheHostsMainThread) {
    host::StandInHost h({.version = 16});
    h.load(addinPath());
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
        EXPECT_EQ(rocCurveAggregate(h).rows, c.wizard ? 1u : 7u);
    }
    // A wizard window of another thread is not the host's.
    std::thread([&] {
        HostWindow window(L"bosa_sdm_XL9", L"Function Arguments");
        EXPECT_EQ(rocCurveAggregate(h).rows, 7u);
    }).join();
}

TEST(WindowsAddin11, RegistersAndCallsWithTheOlderRecords) {
    host::StandInHost h({.version = 11});
    h.load(addinPath());
    EXPECT_EQ(h.find("Korvanth.Tavirune.rocCurveIndividual")->typeText, "PPPBBB");
    EXPECT_EQ(h.find("Korvanth.Tavirune.getVersion")->typeText, "P");
    EXPECT_EQ(rocCurveAggregate(h).at(0, 0), Value(std::string("AUROC")));
}

TEST(WindowsAddinPath, LibraryFolderIsAppendedOnOpening) {
    CreateDirectoryA("C:\\addins", nullptr);
    const std::string library = "C:\\addins\\Tavirune.xll";
    ASSERT_TRUE(CopyFileA(addinPath().c_str(), library.c_str(), FALSE)) << GetLastError();
    // Everything this process needs is loaded already, so PATH may be anything now.
    ASSERT_TRUE(SetEnvironmentVariableA("PATH", "C:\\Windows"));
    {
        host::StandInHost h({.version = 16});
        h.load(library);
        char path[256] = {};
        const DWORD length = GetEnvironmentVariableA("PATH", path, sizeof path);
        EXPECT_EQ(std::string(path, length), "C:\\Windows;C:\\addins");
    }
    DeleteFileA(library.c_str());
    RemoveDirectoryA("C:\\addins");
}

// Each in a process of its own: a process that loaded the callback library keeps it.
TEST(WindowsAddinWithoutXlcall32, RefusesToOpenAndRegistersNothing) {
    host::StandInHost h({.noXlcall32 = true});
    EXPECT_THROW(h.load(addinPath()), std::runtime_error);
    EXPECT_EQ(h.autoOpenResult(), 0);
    EXPECT_TRUE(h.registrations().empty());
}

TEST(WindowsAddinWithoutMdCallBack12, RefusesToOpenAndRegistersNothing) {
    host::StandInHost h({.noMdCallBack12 = true});
    EXPECT_THROW(h.load(addinPath()), std::runtime_error);
    EXPECT_TRUE(h.registrations().empty());
}

}  // namespace

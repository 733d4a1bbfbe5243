// The Windows services behind the platform interface, checked against the system's own answers
// (wide-character calls, handles and exit codes the test sets up itself). Runs under wine; the
// window tests need a display (xvfb-run).
#if defined(_WIN32)

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "xlframe/platform.hpp"

namespace platform = xlframe::platform;

namespace {

// --- Files and environment -------------------------------------------------------------------

TEST(WindowsPlatform, EnvironmentOfEveryLengthAroundTheFirstBuffer) {
    // The first read takes 4096 characters; values at and beyond it need the second read.
    for (std::size_t length : {std::size_t{0}, std::size_t{1}, std::size_t{4094}, std::size_t{4095}, std::size_t{4096},
                               std::size_t{4097}, std::size_t{20000}}) {
        std::string value;
        for (std::size_t i = 0; i < length; ++i) value.push_back(static_cast<char>('a' + i % 26));
        ASSERT_TRUE(SetEnvironmentVariableA("TAVIRUNE_TEST_VALUE", value.c_str())) << length;
        EXPECT_EQ(platform::getEnvironment("TAVIRUNE_TEST_VALUE"), std::optional<std::string>(value)) << length;
    }
    SetEnvironmentVariableA("TAVIRUNE_TEST_VALUE", nullptr);
    EXPECT_EQ(platform::getEnvironment("TAVIRUNE_TEST_VALUE"), std::nullopt);
}

// --- Threads ---------------------------------------------------------------------------------


DWORD WINAPI exitWith(LPVOID code) { return static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(code)); }

TEST(WindowsPlatformThreads, EndedThreadsAreNotAliveWhateverTheirExitCode) {
    // 259 is the system's "still active"; a thread that really ended with it is still ended.
    for (DWORD code : {DWORD{0}, DWORD{1}, DWORD{STILL_ACTIVE}}) {
        DWORD id = 0;
        HANDLE thread = CreateThread(nullptr, 0, exitWith, reinterpret_cast<LPVOID>(static_cast<std::uintptr_t>(code)), 0, &id);
        ASSERT_NE(thread, nullptr);
        WaitForSingleObject(thread, INFINITE);
        EXPECT_FALSE(platform::isThreadAlive(id)) << code;
        CloseHandle(thread);
    }
    EXPECT_FALSE(platform::isThreadAlive(0) || platform::isThreadAlive(0x1'0000'0000ULL));
    EXPECT_EQ(platform::currentThreadId(), GetCurrentThreadId());
    EXPECT_TRUE(platform::isThreadAlive(platform::currentThreadId()));
}

// --- Windows ---------------------------------------------------------------------------------

// A real top-level window of a given class and title on the calling thread.
class TestWindow {
public:
    TestWindow(const wchar_t* className, const wchar_t* title) {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = className;
        RegisterClassW(&windowClass);  // may exist already from an earlier test
        window_ = CreateWindowExW(0, className, title, WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    }
    ~TestWindow() {
        if (window_ != nullptr) DestroyWindow(window_);
    }
    HWND window_ = nullptr;
};

const platform::WindowInfo* findWindow(const std::vector<platform::WindowInfo>& windows, HWND window) {
    for (const platform::WindowInfo& info : windows)
        if (info.handle == reinterpret_cast<std::uintptr_t>(window)) return &info;
    return nullptr;
}

TEST(WindowsPlatformThreads, WindowsOfABusyThreadAreReadWithoutItsHelp) {
    // The host's main thread owns the wizard's window and waits for the calculation threads: a
    // calculation thread must read that window's title without sending the main thread a message.
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<HWND> created{nullptr}, titled{nullptr};
    std::atomic<DWORD> ownerId{0};
    std::thread owner([&] {
        TestWindow window(L"bosa_sdm_XL9", L"Function Arguments");
        const std::wstring title = L"Book1 - \u00c9t\u00e9" + std::wstring(300, L'T');
        TestWindow other(L"XLMAIN", title.c_str());
        created = window.window_, titled = other.window_;
        ownerId = GetCurrentThreadId();
        SetEvent(ready);
        WaitForSingleObject(release, INFINITE);  // busy: no message loop
    });
    WaitForSingleObject(ready, INFINITE);
    std::vector<platform::WindowInfo> windows, all;
    if (created.load() != nullptr) windows = platform::threadWindows(ownerId), all = platform::topLevelWindows();
    SetEvent(release);
    owner.join();
    CloseHandle(ready);
    CloseHandle(release);
    ASSERT_NE(created.load(), nullptr) << "no window could be created: run under a display (xvfb-run -a)";
    // The system may give the thread windows of its own (an input-method window, say).
    const platform::WindowInfo* found = findWindow(windows, created.load());
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->className, "bosa_sdm_XL9");
    EXPECT_EQ(found->title, std::optional<std::string>("Function Arguments"));
    found = findWindow(windows, titled.load());
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->className, "XLMAIN");  // a title in UTF-8, as the frame's texts, of at most 255 characters
    EXPECT_EQ(found->title, std::optional<std::string>("Book1 - \xc3\x89t\xc3\xa9" + std::string(244, 'T')));
    EXPECT_NE(findWindow(all, created.load()), nullptr);
}

}  // namespace

#endif  // defined(_WIN32)

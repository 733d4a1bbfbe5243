// The Windows services behind the platform interface, checked against the system's own answers
// (wide-character calls, handles and exit codes the test sets up itself). Runs under wine; the
// window tests need a display (xvfb-run).
#if defined(_WIN32)

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
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
        const std::optional<std::string> read = platform::getEnvironment("TAVIRUNE_TEST_VALUE");
        ASSERT_TRUE(read.has_value()) << length;
        EXPECT_EQ(*read, value) << length;
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
    EXPECT_FALSE(platform::isThreadAlive(0));
    EXPECT_EQ(platform::currentThreadId(), GetCurrentThreadId());
    EXPECT_TRUE(platform::isThreadAlive(platform::currentThreadId()));
    EXPECT_FALSE(platform::isThreadAlive(0x1'0000'0000ULL));
}

// The slot keeps the caller's last error; the lock, as the frame keeps it, may be entered again by its owner.
TEST(WindowsPlatformThreads, TlsSlotKeepsTheLastErrorAndTheLockIsReentrant) {
    platform::TlsSlot slot;
    static platform::Lock lock;
    int mine = 0;
    slot.set(&mine);
    SetLastError(ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(slot.get(), &mine);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    lock.lock();
    lock.lock();
    lock.unlock();
    lock.unlock();
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
        className_ = className;
        window_ = CreateWindowExW(0, className, title, WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    }
    ~TestWindow() {
        if (window_ != nullptr) DestroyWindow(window_);
    }
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;
    HWND handle() const { return window_; }

private:
    HWND window_ = nullptr;
    std::wstring className_;
};

const platform::WindowInfo* findWindow(const std::vector<platform::WindowInfo>& windows, HWND window) {
    auto found = std::find_if(windows.begin(), windows.end(),
                              [&](const platform::WindowInfo& info) { return info.handle == reinterpret_cast<std::uintptr_t>(window); });
    return found == windows.end() ? nullptr : &*found;
}

#define ASSERT_WINDOW(window) \
    ASSERT_NE((window).handle(), nullptr) << "no window could be created: run under a display (xvfb-run -a)"

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
        created = window.handle(), titled = other.handle();
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

// --- Code page -------------------------------------------------------------------------------

TEST(WindowsPlatform, AnsiCodePageRoundTripsWhatItHolds) {
    EXPECT_EQ(platform::ansiToWide(""), u"");
    EXPECT_EQ(platform::wideToAnsi(u""), "");
    EXPECT_EQ(platform::ansiToWide("Korvanth.Tavirune.getVersion"), u"Korvanth.Tavirune.getVersion");
    EXPECT_EQ(platform::wideToAnsi(u"Korvanth.Tavirune.getVersion"), "Korvanth.Tavirune.getVersion");
    // Every byte of the code page that maps to a character comes back as that byte.
    for (int byte = 1; byte < 256; ++byte) {
        const std::string ansi(1, static_cast<char>(byte));
        wchar_t reference[4] = {};
        const int length = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi.data(), 1, reference, 4);
        if (length != 1) continue;  // a lead byte or an undefined one
        const std::u16string wide = platform::ansiToWide(ansi);
        ASSERT_EQ(wide, std::u16string(1, static_cast<char16_t>(reference[0]))) << byte;
        if (GetACP() != CP_UTF8 && reference[0] != 0xFFFD) {
            EXPECT_EQ(platform::wideToAnsi(wide), ansi) << byte;
        }
    }
}

}  // namespace

#endif  // defined(_WIN32)

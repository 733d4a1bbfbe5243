// The POSIX services; the Windows ones have tests of their own.
#if !defined(_WIN32)

#include <gtest/gtest.h>

#include <fcntl.h>
#include <gnu/libc-version.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "xlframe/platform.hpp"

// What the test executable, standing in for a host, reports as its windows.
namespace standIn {
std::size_t count = 0;
int lastAllThreads = -1;
std::uint64_t lastThread = 0;
int calls = 0;
}  // namespace standIn

extern "C" __attribute__((visibility("default"))) std::size_t TaviruneStandInWindows(
    int allThreads, std::uint64_t thread, TaviruneStandInWindow* windows, std::size_t capacity) {
    ++standIn::calls;
    standIn::lastAllThreads = allThreads;
    standIn::lastThread = thread;
    for (std::size_t i = 0; i < standIn::count && i < capacity; ++i) {
        TaviruneStandInWindow& w = windows[i];
        w.handle = 100 + i;
        std::snprintf(w.className, sizeof w.className, "class%zu", i);
        std::snprintf(w.title, sizeof w.title, "title%zu", i);
        w.titleReadable = i % 3 != 1;
    }
    if (standIn::count > 2 && capacity > 2) {
        // Texts the host forgot to terminate are cut at the arrays' end.
        std::memset(windows[2].className, 'c', sizeof windows[2].className);
        std::memset(windows[2].title, 't', sizeof windows[2].title);
    }
    return standIn::count;
}

namespace xlframe::platform {
namespace {

int anchorInTheTest = 0;

TEST(PlatformSystem, ModulePathOfTheExecutableIsItsFullFileName) {
    const std::string path = modulePathOf(&anchorInTheTest);
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path.front(), '/');
    EXPECT_EQ(std::filesystem::canonical(path), std::filesystem::canonical("/proc/self/exe"));
    EXPECT_TRUE(isRegularFile(path));
}

TEST(PlatformSystem, ModulePathOfASharedLibrary) {
    const std::string path = modulePathOf(reinterpret_cast<const void*>(&gnu_get_libc_version));
    ASSERT_FALSE(path.empty());
    EXPECT_NE(path.find("libc"), std::string::npos) << path;
    EXPECT_TRUE(isRegularFile(std::filesystem::canonical(path).string()));
}

TEST(PlatformSystem, ModulePathOfNoModuleIsEmpty) {
    EXPECT_EQ(modulePathOf(nullptr), "");
    EXPECT_EQ(modulePathOf(reinterpret_cast<const void*>(static_cast<std::uintptr_t>(16))), "");
}

TEST(PlatformSystem, LibrariesAndSymbols) {
    EXPECT_EQ(loadLibrary("no-such-library-anywhere.so"), nullptr);
    EXPECT_EQ(loadLibrary(nullptr), nullptr);
    // Found by soname among the libraries already loaded.
    LibraryHandle libc = loadLibrary("libc.so.6");
    ASSERT_NE(libc, nullptr);
    // A function no sanitizer replaces.
    EXPECT_EQ(findSymbol(libc, "gnu_get_libc_version"), reinterpret_cast<void*>(&gnu_get_libc_version));
    EXPECT_EQ(findSymbol(libc, "no_such_symbol_anywhere"), nullptr);
    EXPECT_EQ(findSymbol(nullptr, "gnu_get_libc_version"), nullptr);
    freeLibrary(libc);
    freeLibrary(nullptr);
    EXPECT_EQ(findSymbolInMainModule("no_such_symbol_anywhere"), nullptr);
    EXPECT_EQ(findSymbolInMainModule(nullptr), nullptr);
}

TEST(PlatformSystem, RegularFilesOnly) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("xlframe_platform_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir / "folder.chm");
    const std::string file = (dir / "help.chm").string();
    std::FILE* f = std::fopen(file.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    EXPECT_TRUE(isRegularFile(file));
    EXPECT_FALSE(isRegularFile((dir / "folder.chm").string()));
    EXPECT_FALSE(isRegularFile((dir / "missing.chm").string()));
    EXPECT_FALSE(isRegularFile(""));
    std::filesystem::remove_all(dir);
}

TEST(PlatformSystem, Environment) {
    const char* name = "XLFRAME_PLATFORM_TEST_VARIABLE";
    unsetenv(name);
    EXPECT_EQ(getEnvironment(name), std::nullopt);
    ASSERT_TRUE(setEnvironment(name, "a:b c"));
    EXPECT_EQ(getEnvironment(name), std::optional<std::string>("a:b c"));
    ASSERT_TRUE(setEnvironment(name, ""));
    EXPECT_EQ(getEnvironment(name), std::optional<std::string>(""));
    EXPECT_STREQ(std::getenv(name), "");
    EXPECT_FALSE(setEnvironment("BAD=NAME", "x"));
    EXPECT_FALSE(setEnvironment("", "x"));
    EXPECT_FALSE(setEnvironment(nullptr, "x"));
    EXPECT_FALSE(setEnvironment(name, std::string("cut\0off", 7)));
    EXPECT_EQ(getEnvironment(name), std::optional<std::string>(""));
    EXPECT_EQ(getEnvironment(nullptr), std::nullopt);
    unsetenv(name);
}

ThreadId askedThread = 0;
std::vector<WindowInfo> fakeThreadWindows(ThreadId thread) {
    askedThread = thread;
    WindowInfo w;
    w.handle = 7;
    w.className = "bosa_sdm_XL9";
    w.title = "Function Arguments";
    return {w};
}
std::vector<WindowInfo> fakeTopLevelWindows() {
    WindowInfo a, b;
    a.handle = 1;
    a.className = "XLMAIN";
    b.handle = 2;
    b.className = "EXCEL7";
    return {a, b};
}

TEST(PlatformSystem, WindowsComeFromTheInstalledProvider) {
    // The test executable exports no stand-in windows: none at all.
    EXPECT_TRUE(threadWindows(1).empty());
    EXPECT_TRUE(topLevelWindows().empty());
    setWindowProvider(&fakeThreadWindows, &fakeTopLevelWindows);
    const std::vector<WindowInfo> mine = threadWindows(1234);
    EXPECT_EQ(askedThread, 1234u);
    ASSERT_EQ(mine.size(), 1u);
    EXPECT_EQ(mine[0].className, "bosa_sdm_XL9");
    EXPECT_EQ(topLevelWindows().size(), 2u);
    setWindowProvider(nullptr, nullptr);
    EXPECT_TRUE(threadWindows(1234).empty());
    EXPECT_TRUE(topLevelWindows().empty());
}

TEST(PlatformSystem, WindowsOfAStandInHostExecutable) {
    ASSERT_NE(findSymbolInMainModule("TaviruneStandInWindows"), nullptr);
    standIn::count = 20;  // more than the first buffer holds
    standIn::calls = 0;
    const std::vector<WindowInfo> mine = threadWindows(77);
    EXPECT_EQ(standIn::calls, 2);
    EXPECT_EQ(standIn::lastAllThreads, 0);
    EXPECT_EQ(standIn::lastThread, 77u);
    ASSERT_EQ(mine.size(), 20u);
    for (std::size_t i = 0; i < mine.size(); ++i) {
        EXPECT_EQ(mine[i].handle, 100 + i);
        if (i == 2) {
            EXPECT_EQ(mine[i].className, std::string(256, 'c'));
            EXPECT_EQ(mine[i].title, std::optional<std::string>(std::string(256, 't')));
            continue;
        }
        EXPECT_EQ(mine[i].className, "class" + std::to_string(i));
        if (i % 3 == 1)
            EXPECT_EQ(mine[i].title, std::nullopt);
        else
            EXPECT_EQ(mine[i].title, std::optional<std::string>("title" + std::to_string(i)));
    }
    standIn::count = 3;
    standIn::calls = 0;
    EXPECT_EQ(topLevelWindows().size(), 3u);
    EXPECT_EQ(standIn::calls, 1);
    EXPECT_EQ(standIn::lastAllThreads, 1);
    // An installed provider comes first.
    setWindowProvider(&fakeThreadWindows, &fakeTopLevelWindows);
    EXPECT_EQ(topLevelWindows().size(), 2u);
    setWindowProvider(nullptr, nullptr);
    standIn::count = 0;
    EXPECT_TRUE(topLevelWindows().empty());
}

TEST(PlatformSystem, NoDebuggerUnderTheTestRunner) {
    // The tests are not run under a tracer (a debugging session would see true here).
    EXPECT_FALSE(debuggerPresent());
}

TEST(PlatformSystem, DebugOutputWritesToTheErrorDescriptor) {
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    const int saved = dup(STDERR_FILENO);
    ASSERT_GE(saved, 0);
    ASSERT_GE(dup2(pipeEnds[1], STDERR_FILENO), 0);
    debugOutput(std::string("line one\n\0two", 14));
    debugOutput("");
    dup2(saved, STDERR_FILENO);
    close(saved);
    close(pipeEnds[1]);
    std::string got;
    char chunk[64];
    ssize_t n;
    while ((n = read(pipeEnds[0], chunk, sizeof chunk)) > 0) got.append(chunk, static_cast<std::size_t>(n));
    close(pipeEnds[0]);
    EXPECT_EQ(got, std::string("line one\n\0two", 14));
}

}  // namespace
}  // namespace xlframe::platform

#endif  // !defined(_WIN32)

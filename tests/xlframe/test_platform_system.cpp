// The POSIX services; the Windows ones have tests of their own.
#if !defined(_WIN32)

#include <gtest/gtest.h>

#include <gnu/libc-version.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/xlframe/frame_testing.hpp"
#include "xlframe/platform.hpp"

namespace xlframe::platform {
namespace {

int anchorInTheTest = 0;

TEST(PlatformSystem, ModulePathsOfTheExecutableOfALibraryAndOfNoModule) {
    const std::string path = modulePathOf(&anchorInTheTest);
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(std::filesystem::canonical(path), std::filesystem::canonical("/proc/self/exe"));
    const std::string library = modulePathOf(reinterpret_cast<const void*>(&gnu_get_libc_version));
    EXPECT_TRUE(library.find("libc") != std::string::npos && isRegularFile(std::filesystem::canonical(library).string())) << library;
    EXPECT_EQ(modulePathOf(nullptr), "");
    EXPECT_EQ(modulePathOf(reinterpret_cast<const void*>(static_cast<std::uintptr_t>(16))), "");
}

// The add-in's own loading finds its callbacks through these; here the cases it never meets.
TEST(PlatformSystem, LibrariesAndSymbolsFilesAndEnvironment) {
    EXPECT_EQ(loadLibrary("no-such-library-anywhere.so"), nullptr);
    EXPECT_EQ(loadLibrary(nullptr), nullptr);
    LibraryHandle libc = loadLibrary("libc.so.6");  // by soname, among the libraries already loaded
    ASSERT_NE(libc, nullptr);
    EXPECT_EQ(findSymbol(libc, "gnu_get_libc_version"), reinterpret_cast<void*>(&gnu_get_libc_version));
    EXPECT_EQ(findSymbol(libc, "no_such_symbol_anywhere") || findSymbol(nullptr, "gnu_get_libc_version"), false);
    freeLibrary(libc);
    freeLibrary(nullptr);
    EXPECT_EQ(findSymbolInMainModule(nullptr), nullptr);
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("xlframe_platform_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir / "folder.chm");
    std::fclose(std::fopen((dir / "help.chm").c_str(), "w"));
    EXPECT_TRUE(isRegularFile((dir / "help.chm").string()));
    for (const char* other : {"folder.chm", "missing.chm"}) EXPECT_FALSE(isRegularFile((dir / other).string())) << other;
    EXPECT_FALSE(isRegularFile(""));
    std::filesystem::remove_all(dir);
    const char* name = "XLFRAME_PLATFORM_TEST_VARIABLE";
    unsetenv(name);
    EXPECT_EQ(getEnvironment(name), std::nullopt);
    ASSERT_TRUE(setEnvironment(name, "a:b c"));
    EXPECT_STREQ(std::getenv(name), "a:b c");
    ASSERT_TRUE(setEnvironment(name, ""));
    for (const char* bad : {"BAD=NAME", "", static_cast<const char*>(nullptr)}) EXPECT_FALSE(setEnvironment(bad, "x"));
    EXPECT_FALSE(setEnvironment(name, std::string("cut\0off", 7)));
    EXPECT_EQ(getEnvironment(name), std::optional<std::string>(""));
    EXPECT_EQ(getEnvironment(nullptr), std::nullopt);
    unsetenv(name);
}

std::vector<WindowInfo> providedWindows(ThreadId thread) {
    WindowInfo w;
    w.handle = thread;
    return {w};
}
std::vector<WindowInfo> providedTopLevelWindows() { return {WindowInfo{}, WindowInfo{}}; }

// An installed provider first, else the stand-in host's windows, else none.
TEST(PlatformSystem, WindowsFromTheProviderElseTheStandInHost) {
    EXPECT_TRUE(threadWindows(1).empty());
    EXPECT_TRUE(topLevelWindows().empty());
    testing::AttachedHost h({.extraWindows = 20});  // more than a first buffer holds
    const std::vector<WindowInfo> mine = threadWindows(currentThreadId());
    ASSERT_EQ(mine.size(), 21u);
    EXPECT_EQ(mine[0].className + *mine[0].title, "XLMAINTavirune stand-in host");
    for (std::size_t i = 1; i < mine.size(); ++i) {
        EXPECT_EQ(mine[i].handle, mine[0].handle + 0x100 + i);
        EXPECT_EQ(mine[i].className, std::string(256, 'c'));  // never read beyond the array
        EXPECT_EQ(mine[i].title, i % 2 ? std::optional<std::string>(std::string(256, 't')) : std::nullopt);
    }
    EXPECT_TRUE(threadWindows(currentThreadId() + 1).empty());
    EXPECT_EQ(topLevelWindows().size(), 21u);
    setWindowProvider(&providedWindows, &providedTopLevelWindows);
    EXPECT_EQ(threadWindows(1234).at(0).handle + topLevelWindows().size(), 1236u);
    setWindowProvider(nullptr, nullptr);
    EXPECT_EQ(topLevelWindows().size(), 21u);
}

TEST(PlatformSystem, NoDebuggerRunsTheTests) {
    EXPECT_FALSE(debuggerPresent());  // a debugging session would see true here
    debugOutput(std::string("to the error stream, \0 and all\n", 32));
}

}  // namespace
}  // namespace xlframe::platform

#endif  // !defined(_WIN32)

// Tavirune.xll in a host that lacks its callbacks, under wine. Built twice: without any
// XLCALL32.DLL within reach (the executable lies in a folder of its own), and with the stand-in
// XLCALL32.DLL but no MdCallBack12 exported by the executable. Either way the add-in must refuse
// to open, register nothing and stay harmless to call.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "xlframe/xlcall.hpp"

#if defined(TAVIRUNE_WITH_XLCALL32)
extern "C" __declspec(dllimport) void TaviruneTestSetExcel4vHandler(EXCEL4VPROC excel4v);
#endif

namespace {

int registrations = 0;

#if defined(TAVIRUNE_WITH_XLCALL32)
// The older callbacks answer as a version 16 host would; the newer ones cannot be found.
int XLCALLCONV excel4v(int xlfn, xloper* result, int, xloper*[]) {
    static char version[] = "\x04"
                            "16.0";
    if (xlfn == xlfRegister) ++registrations;
    if (result == nullptr) return xlretSuccess;
    if (xlfn == xlfGetWorkspace) {
        result->xltype = xltypeStr;
        result->val.str = version;
        return xlretSuccess;
    }
    if (xlfn == xlCoerce) {
        result->xltype = xltypeInt;
        result->val.w = 16;
        return xlretSuccess;
    }
    return xlretFailed;
}
#endif

template <class Function>
Function entry(HMODULE module, const char* name) {
    FARPROC address = GetProcAddress(module, name);
    Function function = nullptr;
    std::memcpy(&function, &address, sizeof function);
    return function;
}

TEST(AddinWithoutCallbacks, RefusesToOpenAndRegistersNothing) {
    ASSERT_EQ(GetProcAddress(GetModuleHandleW(nullptr), "MdCallBack12"), nullptr);
#if defined(TAVIRUNE_WITH_XLCALL32)
    TaviruneTestSetExcel4vHandler(&excel4v);
    ASSERT_NE(GetModuleHandleA("XLCALL32.DLL"), nullptr);
#else
    ASSERT_EQ(LoadLibraryA("XLCALL32.DLL"), nullptr);
#endif
    std::string path = TAVIRUNE_XLL_PATH;
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
    std::replace(path.begin(), path.end(), '/', '\\');
    HMODULE addin = LoadLibraryA(path.c_str());
    ASSERT_NE(addin, nullptr) << path;
    auto open = entry<int (*)()>(addin, "xlAutoOpen");
    auto close = entry<int (*)()>(addin, "xlAutoClose");
    auto remove = entry<int (*)()>(addin, "xlAutoRemove");
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(open(), 0);
    EXPECT_EQ(open(), 0);  // and again, as when the user retries
    EXPECT_EQ(registrations, 0);
    // The entry points still answer without the host; the version text needs none of it.
    auto version = entry<void* (*)()>(addin, "xlgetVersion");
    ASSERT_NE(version, nullptr);
    EXPECT_NE(version(), nullptr);
    EXPECT_EQ(remove(), 1);
    EXPECT_EQ(close(), 1);
    FreeLibrary(addin);
}

}  // namespace

// The stand-in for the host's callback library. An add-in loads it by the name XLCALL32.DLL (its
// soname) and calls Excel4 / Excel4v; every call goes to the handler the host has installed.
#include <atomic>
#include <cstdarg>

#include "xlframe/xlcall.hpp"

namespace {

using Handler = int (*)(int xlfn, xloper* result, int count, xloper* operands[]);
using VersionHandler = int (*)();

std::atomic<Handler> handler{nullptr};
std::atomic<VersionHandler> versionHandler{nullptr};

}  // namespace

// Installed by the host before it loads an add-in; null handlers make every call fail.
XLL_EXPORT void TaviruneStandInInstall(Handler excel4v, VersionHandler xlCallVer) {
    handler.store(excel4v);
    versionHandler.store(xlCallVer);
}

XLL_EXPORT int XLCALLCONV Excel4v(int xlfn, xloper* result, int count, xloper* operands[]) {
    const Handler h = handler.load();
    return h ? h(xlfn, result, count, operands) : xlretFailed;
}

XLL_EXPORT int Excel4(int xlfn, xloper* result, int count, ...) {
    if (count < 0 || count > xlMaxOperands) return xlretInvCount;
    xloper* operands[xlMaxOperands];
    va_list list;
    va_start(list, count);
    for (int i = 0; i < count; ++i) operands[i] = va_arg(list, xloper*);
    va_end(list);
    return Excel4v(xlfn, result, count, operands);
}

XLL_EXPORT int XLCALLCONV XLCallVer() {
    const VersionHandler h = versionHandler.load();
    return h ? h() : 0;
}

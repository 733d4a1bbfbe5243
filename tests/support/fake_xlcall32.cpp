// A callback library under the host's name for the frame's tests: the frame loads it and looks up
// Excel4 and Excel4v exactly as in a host; the calls go to a handler the test installs.
#include <atomic>
#include <cstdarg>

#include "xlframe/xlcall.hpp"

namespace {
std::atomic<EXCEL4VPROC> handler{nullptr};
}  // namespace

// Null: every call fails as a host without the function would.
XLL_EXPORT void TaviruneTestSetExcel4vHandler(EXCEL4VPROC excel4v) { handler.store(excel4v); }

XLL_EXPORT int Excel4v(int xlfn, xloper* result, int count, xloper* operands[]) {
    const EXCEL4VPROC current = handler.load();
    return current != nullptr ? current(xlfn, result, count, operands) : xlretFailed;
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

XLL_EXPORT int XLCallVer() { return 0x0C00; }

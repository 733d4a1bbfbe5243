#include "xlframe/xl_callbacks.hpp"

#include <atomic>

#include "xlframe/platform.hpp"

namespace xlframe::callbacks {
namespace {

std::atomic<EXCEL4PROC> excel4Proc{nullptr};
std::atomic<EXCEL4VPROC> excel4vProc{nullptr};
std::atomic<MDCALLBACK12PROC> mdCallBack12Proc{nullptr};
// False until MdCallBack12 has been looked up (or installed); the look-up may run on two threads
// at once, which is harmless since both find the same address.
std::atomic<bool> mdCallBack12Known{false};

MDCALLBACK12PROC currentMdCallBack12() {
    if (!mdCallBack12Known.load(std::memory_order_acquire)) {
        auto* found = reinterpret_cast<MDCALLBACK12PROC>(platform::findSymbolInMainModule("MdCallBack12"));
        MDCALLBACK12PROC expected = nullptr;
        mdCallBack12Proc.compare_exchange_strong(expected, found, std::memory_order_acq_rel);
        mdCallBack12Known.store(true, std::memory_order_release);
    }
    return mdCallBack12Proc.load(std::memory_order_acquire);
}

}  // namespace

void setExcel4(EXCEL4PROC excel4) { excel4Proc.store(excel4, std::memory_order_release); }

void setExcel4v(EXCEL4VPROC excel4v) { excel4vProc.store(excel4v, std::memory_order_release); }

void setMdCallBack12(MDCALLBACK12PROC mdCallBack12) {
    mdCallBack12Proc.store(mdCallBack12, std::memory_order_release);
    mdCallBack12Known.store(mdCallBack12 != nullptr, std::memory_order_release);
}

int excel4v(int xlfn, xloper* result, int count, xloper* operands[]) {
    EXCEL4VPROC call = excel4vProc.load(std::memory_order_acquire);
    if (call == nullptr) return xlretFailed;
    return call(xlfn, result, count, operands);
}

int mdCallBack12(int xlfn, int count, xloper12* operands[], xloper12* result) {
    MDCALLBACK12PROC call = currentMdCallBack12();
    if (call == nullptr) return xlretFailed;
    return call(xlfn, count, operands, result);
}

}  // namespace xlframe::callbacks

namespace xlframe {
namespace {

// Results that point into memory the host allocated: strings, arrays and integer-flagged types
// (big data), and references that carry an area list.
template <class Record>
void markHostOwned(Record* result) {
    const DWORD type = result->xltype & xltypeMask;
    const bool owned = (type & (xltypeStr | xltypeMulti | xltypeInt)) != 0 ||
                       (type == xltypeRef && result->val.mref.lpmref != nullptr);
    if (owned) result->xltype = static_cast<decltype(result->xltype)>(result->xltype | xlbitXLFree);
}

}  // namespace

int CallHost(int xlfn, LPXLFOPER result, int count, const LPXLFOPER operands[]) {
    if (count < 0 || count > xlMaxOperands || (count > 0 && operands == nullptr)) return xlretInvCount;
    // The host takes non-const operand arrays but changes its operands only for xlFree.
    auto** list = const_cast<LPXLFOPER*>(operands);
    int status;
    if (XlfOper::IsExcel12()) {
        auto* out = reinterpret_cast<xloper12*>(result);
        status = callbacks::mdCallBack12(xlfn, count, reinterpret_cast<xloper12**>(list), out);
        // A failed call leaves the result as the caller made it, which is not the host's to free.
        if (out != nullptr && status == xlretSuccess) markHostOwned(out);
    } else {
        auto* out = reinterpret_cast<xloper*>(result);
        status = callbacks::excel4v(xlfn, out, count, reinterpret_cast<xloper**>(list));
        if (out != nullptr && status == xlretSuccess) markHostOwned(out);
    }
    return status;
}

}  // namespace xlframe

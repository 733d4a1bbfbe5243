#include "xlframe/xl_excel.hpp"

#include <atomic>
#include <mutex>

#include "xlframe/exceptions.hpp"

namespace xlframe {

namespace {

std::atomic<XlfExcel*> instance{nullptr};
std::mutex instanceMutex;

const char* const callbackLibrary = "XLCALL32.DLL";

}  // namespace

XlfExcel& XlfExcel::Instance() {
    if (XlfExcel* existing = instance.load(std::memory_order_acquire)) return *existing;
    std::lock_guard<std::mutex> lock(instanceMutex);
    if (XlfExcel* existing = instance.load(std::memory_order_acquire)) return *existing;
    XlfExcel* created = new XlfExcel();
    try {
        created->initialise();
    } catch (...) {
        // Nothing is kept of a failed start: the next call tries again.
        delete created;
        throw;
    }
    instance.store(created, std::memory_order_release);
    return *created;
}

bool XlfExcel::HasInstance() { return instance.load(std::memory_order_acquire) != nullptr; }

void XlfExcel::DeleteInstance() {
    std::lock_guard<std::mutex> lock(instanceMutex);
    delete instance.exchange(nullptr, std::memory_order_acq_rel);
}

XlfExcel::XlfExcel() = default;

XlfExcel::~XlfExcel() {
    if (xlcall32_ != nullptr) {
        // The callbacks point into the library: nothing may call them once it may be gone.
        callbacks::setExcel4(nullptr);
        callbacks::setExcel4v(nullptr);
        platform::freeLibrary(xlcall32_);
    }
}

void XlfExcel::initialise() {
    xlcall32_ = platform::loadLibrary(callbackLibrary);
    if (xlcall32_ == nullptr) XLF_FAIL("Could not load library XLCALL32.DLL");
    void* excel4 = platform::findSymbol(xlcall32_, "Excel4");
    if (excel4 == nullptr) XLF_FAIL("Could not get address of Excel4 callback");
    void* excel4v = platform::findSymbol(xlcall32_, "Excel4v");
    if (excel4v == nullptr) XLF_FAIL("Could not get address of Excel4v callback");
    callbacks::setExcel4(reinterpret_cast<EXCEL4PROC>(excel4));
    callbacks::setExcel4v(reinterpret_cast<EXCEL4VPROC>(excel4v));

    // The version is asked in the older records, which every host understands; the answer then
    // fixes the generation for the process.
    XlfOper::SetExcel12(false);
    version_ = queryVersion();
    XlfOper::SetExcel12(version_ >= 12);
    // Host codes of "XLF_OPER", "XLF_XLOPER", "XLF_WSTR", "XLF_FP" in the older and newer records.
    static const char* const codes[2][4] = {{"P", "R", "C", "K"}, {"Q", "U", "C%", "K%"}};
    const char* const* chosen = codes[version_ >= 12 ? 1 : 0];
    typeOper_ = std::string(chosen[0]);
    typeXloper_ = std::string(chosen[1]);
    typeWstr_ = std::string(chosen[2]);
    typeFp_ = std::string(chosen[3]);

    libraryPath_ = queryLibraryPath();
    helpFile_ = FindHelpFile(libraryPath_, &platform::isRegularFile);
    mainThread_ = platform::currentThreadId();
}

int XlfExcel::queryVersion() const {
    const impl::IXlfOperShared& ops = XlfOper::Ops();
    XlfOper which;
    ops.makeInt(which, 2);
    XlfOper answer;
    const int status = Call(xlfGetWorkspace, answer, {which});

    int version = 10;
    XlfOper coerced;
    if (status == xlretSuccess && ops.coerce(answer, xltypeInt, coerced) == xlretSuccess &&
        coerced.type() == xltypeInt) {
        version = ops.intValue(coerced);
    } else if (status == xlretSuccess && answer.IsString()) {
        version = LeadingInteger(answer.ReadString());
    }
    coerced.FreeHostMemory();
    answer.FreeHostMemory();
    return version;
}

std::string XlfExcel::queryLibraryPath() const {
    XlfOper answer;
    const int status = Call(xlGetName, answer, {});
    std::string path;
    if (status == xlretSuccess && answer.IsString()) {
        path = answer.ReadString();
    } else {
        writeDiagnostic(__FILE__, __LINE__, "Could not get DLL name");
    }
    answer.FreeHostMemory();
    return path;
}

int XlfExcel::Callv(int xlfn, LPXLFOPER result, int count, const LPXLFOPER operands[]) const {
    return CallHost(xlfn, result, count, operands);
}

int XlfExcel::Call(int xlfn, LPXLFOPER result, std::initializer_list<LPXLFOPER> operands) const {
    return CallHost(xlfn, result, static_cast<int>(operands.size()), operands.begin());
}

std::string XlfExcel::TypeCode(const std::string& code) const {
    if (code == "XLF_OPER") return typeOper_;
    if (code == "XLF_XLOPER") return typeXloper_;
    if (code == "XLF_WSTR") return typeWstr_;
    if (code == "XLF_FP") return typeFp_;
    return code;
}

bool XlfExcel::InFunctionWizard() const { return IsFunctionWizardOpen(platform::threadWindows(mainThread_)); }

std::uintptr_t XlfExcel::GetMainWindow() const {
    XlfOper answer;
    const int status = Call(xlGetHwnd, answer, {});
    if (status != xlretSuccess) XLF_FAIL("xlGetHwnd call failed");
    const int lowBits = answer.ReadInt();
    answer.FreeHostMemory();
    const std::optional<std::uintptr_t> window =
        FindMainWindow(platform::topLevelWindows(), static_cast<std::uintptr_t>(static_cast<unsigned>(lowBits)));
    if (!window) XLF_FAIL("xlGetHwnd no match for partial handle");
    return *window;
}

void XlfExcel::SendMessage(const std::string& text) const {
    XlfOper answer;
    const int status = Call(xlcMessage, answer, {XlfOper(true), XlfOper(text)});
    answer.FreeHostMemory();
    ThrowOnError(status, nullptr, "Set Status Bar");
}

void XlfExcel::ClearMessage() const {
    XlfOper answer;
    const int status = Call(xlcMessage, answer, {XlfOper(false)});
    answer.FreeHostMemory();
    ThrowOnError(status, nullptr, "Clear Status Bar");
}

}  // namespace xlframe

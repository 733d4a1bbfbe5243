// The add-in's one access object to the host: its callbacks, version, the add-in's own path and
// help file, the function-wizard test and the status bar.
//
//   xlframe::XlfExcel& excel = xlframe::XlfExcel::Instance();   // created by xlAutoOpen
//   int status = excel.Call(xlfRegister, &result, {module, procedure, ...});
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "xlframe/platform.hpp"
#include "xlframe/xl_callbacks.hpp"
#include "xlframe/xl_oper.hpp"

namespace xlframe {

class XlfExcel {
public:
    // Creates and initialises the instance on first call; throws XlfGeneralException when the
    // callbacks cannot be found.
    static XlfExcel& Instance();
    static bool HasInstance();
    static void DeleteInstance();

    // Calls the host with records of the process's generation (forwards to CallHost).
    int Callv(int xlfn, LPXLFOPER result, int count, const LPXLFOPER operands[]) const;
    int Call(int xlfn, LPXLFOPER result, std::initializer_list<LPXLFOPER> operands) const;

    int excelVersion() const { return version_; }
    bool excel12() const { return version_ >= 12; }
    const std::string& GetName() const { return libraryPath_; }  // the add-in's path as the host reports it
    const std::string& GetHelpFile() const { return helpFile_; }  // empty when there is none
    // Host code of a symbolic type code ("XLF_OPER", "XLF_XLOPER", "XLF_WSTR", "XLF_FP"); any other
    // text is a literal host code and comes back unchanged.
    std::string TypeCode(const std::string& code) const;

    bool InFunctionWizard() const;
    std::uintptr_t GetMainWindow() const;

    void SendMessage(const std::string& text) const;  // status bar
    void ClearMessage() const;

    XlfExcel(const XlfExcel&) = delete;
    XlfExcel& operator=(const XlfExcel&) = delete;

private:
    XlfExcel();
    ~XlfExcel();
    void initialise();
    int queryVersion() const;
    std::string queryLibraryPath() const;

    platform::LibraryHandle xlcall32_ = nullptr;
    int version_ = 0;
    std::string typeOper_, typeXloper_, typeWstr_, typeFp_;
    std::string libraryPath_;
    std::string helpFile_;
    platform::ThreadId mainThread_ = 0;
};

// The function-wizard rule over the windows of the host's main thread: the first window whose
// class begins with "bosa_sdm_XL" (ignoring case) and whose title can be read decides; "Replace"
// in the title: false, else "Paste": false, else true. No such window: false.
bool IsFunctionWizardOpen(const std::vector<platform::WindowInfo>& windows);

// The help file for a library path: "<path minus 3 characters>chm" if that file exists, else the
// same file name in the parent folder written as "<folder>\..\<name>" (with the separator the
// path uses, so "<folder>/../<name>" on POSIX); empty if neither exists.
// `exists` answers whether a path names a regular file.
std::string FindHelpFile(const std::string& libraryPath, bool (*exists)(const std::string&));

// The new PATH value: the old one, the list separator and the folder of the module file (up to
// its last path separator; the whole name if there is none). Empty when the old value is empty.
// Windows: ';' and '\\'; POSIX: ':' and '/'.
std::string AppendLibraryFolder(const std::string& oldPath, const std::string& moduleFile, char listSeparator,
                                char pathSeparator);

// Sets the process-wide flag that xlAutoClose reads (xlAutoRemove has run).
void SetBeingRemoved();
bool IsBeingRemoved();

// The host's main window among the top-level windows: the first whose handle has the given low
// 16 bits and whose class name, cut to 6 characters, is "XLMAIN" ignoring case.
std::optional<std::uintptr_t> FindMainWindow(const std::vector<platform::WindowInfo>& windows,
                                             std::uintptr_t lowBits);

// The decimal number at the start of a text, as atoi reads it (blanks, a sign, digits); 0 when
// there is none, saturated at the limits of int.
int LeadingInteger(const std::string& text);

// What xlAutoOpen runs to register the worksheet functions and xlAutoClose to unregister them
// when the add-in is being removed; installed by the registry. Null: nothing is (un)registered.
void SetRegistrationHooks(void (*registerAll)(), void (*unregisterAll)());

// Clears the being-removed flag (tests; xlAutoClose clears it once it has unregistered).
void ResetBeingRemoved();

}  // namespace xlframe

// The lifecycle entry points the host calls.
XLL_EXPORT int xlAutoOpen();
XLL_EXPORT int xlAutoClose();
XLL_EXPORT int xlAutoRemove();
XLL_EXPORT void xlGenDoc();

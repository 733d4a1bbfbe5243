// The add-in's lifecycle entry points, and the diagnostic stream's redirection from load to unload.
#include <atomic>
#include <iostream>

#include "xlframe/exceptions.hpp"
#include "xlframe/macro_cache.hpp"
#include "xlframe/path_updater.hpp"
#include "xlframe/scratch_blocks.hpp"
#include "xlframe/singleton.hpp"
#include "xlframe/win32_streambuf.hpp"
#include "xlframe/xl_excel.hpp"

namespace xlframe {

namespace {

// Built when the library loads, undone when it unloads.
const Win32StreamBufRedirector diagnosticStream(std::cerr);

std::atomic<bool> beingRemoved{false};

using Hook = void (*)();
std::atomic<Hook> registerHook{nullptr};
std::atomic<Hook> unregisterHook{nullptr};

}  // namespace

void SetBeingRemoved() { beingRemoved.store(true); }
bool IsBeingRemoved() { return beingRemoved.load(); }
void ResetBeingRemoved() { beingRemoved.store(false); }

void SetRegistrationHooks(void (*registerAll)(), void (*unregisterAll)()) {
    registerHook.store(registerAll);
    unregisterHook.store(unregisterAll);
}

}  // namespace xlframe

using namespace xlframe;

XLL_EXPORT int xlAutoOpen() {
    try {
        XlfExcel& excel = XlfExcel::Instance();
        // Once per process: a second open must not append the folder again.
        static const PathUpdater pathUpdater;
        excel.SendMessage("Registering library...");
        if (const auto registerAll = registerHook.load()) registerAll();
        excel.ClearMessage();
        singleton<MacroCache<Open>>::instance().ExecuteMacros();
        return 1;
    } catch (...) {
        return 0;
    }
}

XLL_EXPORT int xlAutoClose() {
    try {
        writeDiagnostic(__FILE__, __LINE__, "Releasing resources");
        singleton<MacroCache<Close>>::instance().ExecuteMacros();
        if (IsBeingRemoved()) {
            if (const auto unregisterAll = unregisterHook.load()) unregisterAll();
            // Used up: should the add-in be added again and later closed without removal, its
            // functions stay registered.
            ResetBeingRemoved();
        }
        XlfExcel::DeleteInstance();
        TempMemory::FreeAll();
        ScratchBlocks::releaseAll();
        return 1;
    } catch (...) {
        try {
            writeDiagnostic(__FILE__, __LINE__, "Something bad happened in xlAutoClose");
        } catch (...) {
            // Nothing may leave the entry point, not even a failing diagnostic.
        }
        return 1;
    }
}

XLL_EXPORT int xlAutoRemove() {
    try {
        writeDiagnostic(__FILE__, __LINE__, "Addin being unloaded");
        singleton<MacroCache<Remove>>::instance().ExecuteMacros();
        SetBeingRemoved();
        return 1;
    } catch (...) {
        try {
            writeDiagnostic(__FILE__, __LINE__, "Something bad happened in xlAutoRemove");
        } catch (...) {
            // Nothing may leave the entry point, not even a failing diagnostic.
        }
        return 1;
    }
}

XLL_EXPORT void xlGenDoc() {}

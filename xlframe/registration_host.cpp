// The registry's link to the running host: the context XlfExcel knows, and the hooks through
// which xlAutoOpen and xlAutoClose reach the registry.
#include "xlframe/registration.hpp"
#include "xlframe/singleton.hpp"
#include "xlframe/xl_excel.hpp"

namespace xlframe::XLRegistration {

HostContext CurrentHost() {
    const XlfExcel& excel = XlfExcel::Instance();
    HostContext host;
    host.version = excel.excelVersion();
    host.libraryPath = excel.GetName();
    host.helpFile = excel.GetHelpFile();
    host.typeCode = [&excel](const std::string& code) { return excel.TypeCode(code); };
    return host;
}

void ExcelFunctionRegistrationRegistry::RegisterAll() { RegisterAll(CurrentHost()); }

namespace {

void registerAll() { Registry().RegisterAll(); }
void unregisterAll() { Registry().UnregisterAll(); }

// Installed while the library loads, before the host can call xlAutoOpen.
[[maybe_unused]] const bool hooksInstalled = (SetRegistrationHooks(&registerAll, &unregisterAll), true);

}  // namespace

}  // namespace xlframe::XLRegistration

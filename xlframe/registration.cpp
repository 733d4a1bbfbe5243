#include "xlframe/registration.hpp"

#include <ostream>
#include <utility>

#include "xlframe/exceptions.hpp"
#include "xlframe/singleton.hpp"
#include "xlframe/xl_callbacks.hpp"
#include "xlframe/xl_oper.hpp"

namespace xlframe::XLRegistration {

namespace {

std::string textOrEmpty(const char* text) { return text != nullptr ? std::string(text) : std::string(); }

std::string hostCode(const HostContext& host, const std::string& code) {
    return host.typeCode ? host.typeCode(code) : code;
}

// Calls the host with the operands; gives back whatever the host allocated for the result.
int callHost(int xlfn, const std::vector<XlfOper>& operands, double* number) {
    std::vector<LPXLFOPER> pointers;
    pointers.reserve(operands.size());
    for (const XlfOper& operand : operands) pointers.push_back(operand.get());
    XlfOper result;
    const int status = CallHost(xlfn, result.get(), static_cast<int>(pointers.size()), pointers.data());
    if (number != nullptr) *number = (status == xlretSuccess && result.IsNumber()) ? result.ReadDouble() : -1.0;
    result.FreeHostMemory();
    return status;
}

// The defined name first (the host keeps one per registered function), then the registration.
void unregisterFromHost(const std::string& name, double& registerId) {
    if (registerId == -1.0) return;
    callHost(xlfSetName, {XlfOper(name)}, nullptr);
    callHost(xlfUnregister, {XlfOper(registerId)}, nullptr);
    registerId = -1.0;
}

}  // namespace

// ---- XlfAbstractCmdDesc --------------------------------------------------------------------

XlfAbstractCmdDesc::XlfAbstractCmdDesc(std::string entryPoint, std::string name, std::string description)
    : entryPoint_(std::move(entryPoint)), name_(std::move(name)), description_(std::move(description)) {}

int XlfAbstractCmdDesc::Register(std::size_t index, const HostContext& host) {
    if (host.libraryPath.empty()) XLF_FAIL("Could not get library name");
    const int status = DoRegister(host, host.libraryPath, HelpTopic(host.helpFile, index));
    if (status != xlretSuccess)
        writeDiagnostic(__FILE__, __LINE__, "Error " + std::to_string(status) + " while registering " + name_);
    return status;
}

// ---- XlfFuncDesc ---------------------------------------------------------------------------

XlfFuncDesc::XlfFuncDesc(std::string entryPoint, std::string name, std::string description, std::string category,
                         RecalcPolicy recalcPolicy, bool threadSafe, std::string returnTypeCode, std::string helpId,
                         bool asynchronous, bool macroSheetEquivalent, bool clusterSafe)
    : XlfAbstractCmdDesc(std::move(entryPoint), std::move(name), std::move(description)),
      helpId_(std::move(helpId)),
      returnTypeCode_(std::move(returnTypeCode)),
      impl_(std::make_shared<Impl>()) {
    impl_->recalcPolicy = recalcPolicy;
    impl_->category = std::move(category);
    impl_->threadSafe = threadSafe;
    impl_->asynchronous = asynchronous;
    impl_->macroSheetEquivalent = macroSheetEquivalent;
    impl_->clusterSafe = clusterSafe;
}

void XlfFuncDesc::SetArguments(XlfArgDescList arguments) { impl_->arguments = std::move(arguments); }

FunctionFlags XlfFuncDesc::GetFlags() const {
    FunctionFlags flags;
    flags.isVolatile = impl_->recalcPolicy == Volatile;
    flags.threadSafe = impl_->threadSafe;
    flags.asynchronous = impl_->asynchronous;
    flags.macroSheetEquivalent = impl_->macroSheetEquivalent;
    flags.clusterSafe = impl_->clusterSafe;
    return flags;
}

std::string XlfFuncDesc::TypeText(const HostContext& host) const {
    // Every symbolic return code is translated, not only "XLF_FP": a symbolic code is never a
    // code the host knows.
    const std::string returnCode = hostCode(host, returnTypeCode_.empty() ? std::string("XLF_OPER") : returnTypeCode_);
    std::vector<std::string> codes;
    codes.reserve(impl_->arguments.size());
    for (const XlfArgDesc& argument : impl_->arguments) codes.push_back(hostCode(host, argument.GetType()));
    return XLRegistration::TypeText(returnCode, codes, host.version, GetFlags());
}

std::string XlfFuncDesc::ArgumentText() const {
    std::vector<std::string> names;
    names.reserve(impl_->arguments.size());
    for (const XlfArgDesc& argument : impl_->arguments) names.push_back(argument.GetName());
    return XLRegistration::ArgumentText(names);
}

std::string XlfFuncDesc::ProcedureText(const HostContext& host) const {
    return impl_->asynchronous && host.version >= 14 ? GetEntryPoint() + "Sync" : GetEntryPoint();
}

int XlfFuncDesc::DoRegister(const HostContext& host, const std::string& libraryPath, const std::string& helpTopic) {
    std::vector<std::string> helps;
    helps.reserve(impl_->arguments.size());
    for (const XlfArgDesc& argument : impl_->arguments) helps.push_back(argument.GetComment());
    helps = ArgumentHelpTexts(helps, host.version);

    const std::string topic = (!helpId_.empty() && helpId_ != "auto") ? helpId_ : helpTopic;
    std::vector<XlfOper> operands;
    operands.reserve(10 + helps.size());
    operands.emplace_back(libraryPath);
    operands.emplace_back(ProcedureText(host));
    operands.emplace_back(TypeText(host));
    operands.emplace_back(GetName());
    operands.emplace_back(ArgumentText());
    operands.emplace_back(1.0);  // a worksheet function
    operands.emplace_back(impl_->category);
    operands.emplace_back(std::string());  // no shortcut
    operands.emplace_back(topic);
    operands.emplace_back(GetDescription());
    for (const std::string& help : helps) operands.emplace_back(help);

    return callHost(xlfRegister, operands, &registerId_);
}

void XlfFuncDesc::Unregister() { unregisterFromHost(GetName(), registerId_); }

void XlfFuncDesc::GenerateDoc(std::ostream& out) const {
    out << GetName() << '\n' << GetDescription() << '\n';
    for (const XlfArgDesc& argument : impl_->arguments)
        out << argument.GetName() << ':' << argument.GetComment() << '\n';
}

// ---- XlfCmdDesc ----------------------------------------------------------------------------

XlfCmdDesc::XlfCmdDesc(std::string entryPoint, std::string name, std::string description)
    : XlfAbstractCmdDesc(std::move(entryPoint), std::move(name), std::move(description)) {}

int XlfCmdDesc::DoRegister(const HostContext& host, const std::string& libraryPath, const std::string& helpTopic) {
    const std::vector<XlfOper> operands = {XlfOper(libraryPath),         XlfOper(GetEntryPoint()),
                                           XlfOper(hostCode(host, "A")), XlfOper(GetName()),
                                           XlfOper(std::string()),       XlfOper(2.0),  // a command
                                           XlfOper(std::string()),       XlfOper(std::string()),
                                           XlfOper(helpTopic),           XlfOper(GetDescription())};
    return callHost(xlfRegister, operands, &registerId_);
}

void XlfCmdDesc::Unregister() { unregisterFromHost(GetName(), registerId_); }

void XlfCmdDesc::GenerateDoc(std::ostream& out) const { out << GetName() << '\n' << GetDescription() << '\n'; }

// ---- RegistrationRecord --------------------------------------------------------------------

RegistrationRecord::RegistrationRecord(const char* entryPoint, const char* registeredName, const char* description,
                                       const char* category, const char* const (*arguments)[3], int argumentCount,
                                       bool isVolatile, bool threadSafe, const char* returnTypeCode, const char* helpId,
                                       bool asynchronous, bool macroSheetEquivalent, bool clusterSafe)
    : entryPoint_(textOrEmpty(entryPoint)),
      registeredName_(textOrEmpty(registeredName)),
      description_(textOrEmpty(description)),
      category_(textOrEmpty(category)),
      isVolatile_(isVolatile),
      threadSafe_(threadSafe),
      returnTypeCode_(textOrEmpty(returnTypeCode)),
      helpId_(textOrEmpty(helpId)),
      asynchronous_(asynchronous),
      macroSheetEquivalent_(macroSheetEquivalent),
      clusterSafe_(clusterSafe) {
    const std::size_t count = (arguments != nullptr && argumentCount > 0) ? static_cast<std::size_t>(argumentCount) : 0;
    argumentNames_.reserve(count);
    argumentHelps_.reserve(count);
    argumentTypes_.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        argumentNames_.push_back(textOrEmpty(arguments[i][0]));
        argumentHelps_.push_back(textOrEmpty(arguments[i][1]));
        argumentTypes_.push_back(textOrEmpty(arguments[i][2]));
    }
    Registry().AddFunction(*this);
}

std::shared_ptr<XlfFuncDesc> RegistrationRecord::CreateFuncDesc() const {
    auto desc =
        std::make_shared<XlfFuncDesc>(entryPoint_, registeredName_, description_, category_,
                                      isVolatile_ ? XlfFuncDesc::Volatile : XlfFuncDesc::NotVolatile, threadSafe_,
                                      returnTypeCode_, helpId_, asynchronous_, macroSheetEquivalent_, clusterSafe_);
    XlfArgDescList arguments;
    arguments.reserve(argumentNames_.size());
    for (std::size_t i = 0; i < argumentNames_.size(); ++i)
        arguments.emplace_back(argumentNames_[i], argumentHelps_[i], argumentTypes_[i]);
    desc->SetArguments(std::move(arguments));
    return desc;
}

// ---- ExcelFunctionRegistrationRegistry -----------------------------------------------------

void ExcelFunctionRegistrationRegistry::AddFunction(const RegistrationRecord& record) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    records_.insert_or_assign(record.GetRegisteredName(), record);
}

void ExcelFunctionRegistrationRegistry::AddCommand(std::shared_ptr<XlfCmdDesc> command) {
    if (!command) return;
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    const std::string name = command->GetName();
    commands_.insert_or_assign(name, std::move(command));
}

void ExcelFunctionRegistrationRegistry::RegisterAll(const HostContext& host) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    for (const auto& [name, record] : records_) functions_.insert_or_assign(name, record.CreateFuncDesc());
    std::size_t index = 1;
    for (const auto& entry : functions_) entry.second->Register(index++, host);
    for (const auto& entry : commands_) entry.second->Register(index++, host);
}

void ExcelFunctionRegistrationRegistry::UnregisterAll() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    for (const auto& entry : functions_) entry.second->Unregister();
    for (const auto& entry : commands_) entry.second->Unregister();
}

ExcelFunctionRegistrationRegistry::FunctionMap ExcelFunctionRegistrationRegistry::Functions() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return functions_;
}

ExcelFunctionRegistrationRegistry::CommandMap ExcelFunctionRegistrationRegistry::Commands() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return commands_;
}

std::vector<std::string> ExcelFunctionRegistrationRegistry::RecordNames() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    std::vector<std::string> names;
    names.reserve(records_.size());
    for (const auto& entry : records_) names.push_back(entry.first);
    return names;
}

std::vector<RegistrationRecord> ExcelFunctionRegistrationRegistry::Records() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    std::vector<RegistrationRecord> records;
    records.reserve(records_.size());
    for (const auto& entry : records_) records.push_back(entry.second);
    return records;
}

ExcelFunctionRegistrationRegistry& Registry() { return singleton<ExcelFunctionRegistrationRegistry>::instance(); }

}  // namespace xlframe::XLRegistration

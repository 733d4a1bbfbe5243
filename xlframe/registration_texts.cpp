// The texts of a registration call and the argument descriptors, apart from any host so that
// they can be checked alone.
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "xlframe/exceptions.hpp"
#include "xlframe/registration.hpp"

namespace xlframe::XLRegistration {

namespace {

constexpr std::size_t maxArgumentTextLength = 255;
constexpr std::size_t maxHelpTextsOld = 20;  // 30 operands in all before version 12
constexpr std::size_t maxHelpTexts12 = 245;  // 255 operands in all from version 12 on
constexpr std::size_t fixedOperands = 10;
constexpr std::size_t longArgumentName = 19;  // the wizard's field shows fewer

}  // namespace

std::string TypeText(const std::string& returnCode, const std::vector<std::string>& argumentCodes, int version,
                     const FunctionFlags& flags) {
    const bool async14 = flags.asynchronous && version >= 14;
    std::string text = async14 ? std::string(">") : returnCode;
    for (const std::string& code : argumentCodes) text += code;
    if (async14) text += 'X';
    if (flags.isVolatile) text += '!';
    if (flags.threadSafe && version >= 12) text += '$';
    if (flags.clusterSafe && version >= 14) text += '&';
    if (flags.macroSheetEquivalent) text += '#';
    return text;
}

std::string ArgumentText(const std::vector<std::string>& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i != 0) text += ", ";
        text += names[i];
    }
    if (text.size() > maxArgumentTextLength) return "Too many arguments for Function Wizard";
    return text;
}

std::string HelpTopic(const std::string& helpFile, std::size_t index) {
    if (helpFile.empty()) return std::string();
    return helpFile + "!" + std::to_string(index);
}

std::size_t MaxArgumentHelpTexts(int version) { return version >= 12 ? maxHelpTexts12 : maxHelpTextsOld; }

std::vector<std::string> ArgumentHelpTexts(const std::vector<std::string>& helpTexts, int version) {
    static_assert(fixedOperands + maxHelpTexts12 == 255 && fixedOperands + maxHelpTextsOld == 30);
    const std::size_t count = std::min(helpTexts.size(), MaxArgumentHelpTexts(version));
    std::vector<std::string> passed(helpTexts.begin(), helpTexts.begin() + static_cast<std::ptrdiff_t>(count));
    if (!passed.empty()) passed.back() += ". ";
    return passed;
}

// ---- XlfArgDesc ----------------------------------------------------------------------------

XlfArgDesc::XlfArgDesc(std::string name, std::string help, std::string type)
    : name_(std::move(name)), help_(std::move(help)), type_(std::move(type)) {
    if (name_.size() >= longArgumentName)
        writeDiagnostic(__FILE__, __LINE__,
                        "Argument name \"" + name_ + "\" may be too long to fit the in the function wizard");
}

}  // namespace xlframe::XLRegistration

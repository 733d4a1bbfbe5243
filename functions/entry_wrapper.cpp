#include "functions/entry_wrapper.hpp"

#include <atomic>

#include "xlframe/xl_excel.hpp"

namespace Korvanth::entry {

namespace {

std::atomic<WizardQuery> wizardQuery{nullptr};

}  // namespace

bool functionWizardOpen() {
    if (WizardQuery query = wizardQuery.load(std::memory_order_acquire)) return query();
    return xlframe::XlfExcel::HasInstance() && xlframe::XlfExcel::Instance().InFunctionWizard();
}

void setWizardQuery(WizardQuery query) { wizardQuery.store(query, std::memory_order_release); }

namespace detail {

xlframe::LPXLFOPER answerValueError() noexcept {
    try {
        return xlframe::XlfOper::Error(xlerrValue).ReturnValue();
    } catch (...) {
        return nullptr;
    }
}

xlframe::LPXLFOPER answerText(const std::string& text) noexcept {
    try {
        return xlframe::XlfOper(text).ReturnValue();
    } catch (...) {
        return answerValueError();
    }
}

xlframe::LPXLFOPER answerMatrix(const xlframe::CellMatrix& cells) noexcept {
    try {
        return xlframe::XlfOper(cells).ReturnValue();
    } catch (...) {
        return answerValueError();
    }
}

xlframe::LPXLFOPER answerWizard() noexcept {
    try {
        return xlframe::XlfOper(true).ReturnValue();
    } catch (...) {
        return answerValueError();
    }
}

}  // namespace detail

}  // namespace Korvanth::entry

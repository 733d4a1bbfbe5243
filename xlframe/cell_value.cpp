#include "xlframe/cell_value.hpp"

#include "xlframe/exceptions.hpp"
#include "xlframe/numeric.hpp"
#include "xlframe/utf.hpp"

namespace xlframe {

CellValue& CellValue::operator=(const CellValue& other) {
    if (this == &other) return *this;
    if (other.IsNarrowString()) return *this = std::string(other.GetString());
    if (other.IsWideString()) return *this = std::wstring(other.GetWideString());
    if (other.IsNumber()) return *this = other.GetNumber();
    if (other.IsBoolean()) return *this = other.GetBoolean();
    if (other.IsEmpty()) {
        Clear();
        return *this;
    }
    SetError(other.GetErrorCode());
    return *this;
}

CellKind CellValue::Kind() const {
    if (IsNarrowString()) return CellKind::String;
    if (IsWideString()) return CellKind::WideString;
    if (IsNumber()) return CellKind::Number;
    if (IsBoolean()) return CellKind::Boolean;
    if (IsError()) return CellKind::Error;
    return CellKind::Empty;
}

namespace impl {

CellValueImpl::CellValueImpl(unsigned long code, bool isError) noexcept
    : kind_(isError ? CellKind::Error : CellKind::Number),
      error_(static_cast<std::uint32_t>(code)),
      number_(isError ? 0.0 : static_cast<double>(code)) {}

CellValueImpl::CellValueImpl(const std::string& text) : kind_(CellKind::String) {
    texts().narrow = text;
    texts_->hasNarrow = true;
}

CellValueImpl::CellValueImpl(const std::wstring& text) : kind_(CellKind::WideString) {
    texts().wide = text;
    texts_->hasWide = true;
}

CellValueImpl::CellValueImpl(const CellValueImpl& other)
    : CellValue(other), kind_(other.kind_), flag_(other.flag_), error_(other.error_), number_(other.number_) {
    if (other.texts_) texts_ = std::make_unique<Texts>(*other.texts_);
}

CellValueImpl& CellValueImpl::operator=(const CellValueImpl& other) {
    if (this != &other) {
        CellValueImpl copy(other);
        *this = std::move(copy);
    }
    return *this;
}

CellValueImpl::Texts& CellValueImpl::texts() const {
    if (!texts_) texts_ = std::make_unique<Texts>();
    return *texts_;
}

void CellValueImpl::reset(CellKind kind) noexcept {
    kind_ = kind;
    texts_.reset();
    number_ = 0.0;
    flag_ = false;
    error_ = 0;
}

const std::string& CellValueImpl::GetString() const {
    if (!IsString()) XLF_FAIL("non string cell asked to be a string");
    Texts& t = texts();
    if (kind_ == CellKind::WideString && !t.hasNarrow) {
        t.narrow = utf16ToUtf8(t.wide);
        t.hasNarrow = true;
    }
    return t.narrow;
}

const std::wstring& CellValueImpl::GetWideString() const {
    if (!IsString()) XLF_FAIL("non string cell asked to be a string");
    Texts& t = texts();
    if (kind_ == CellKind::String && !t.hasWide) {
        t.wide = utf8ToUtf16(t.narrow);
        t.hasWide = true;
    }
    return t.wide;
}

double CellValueImpl::GetNumber() const {
    if (kind_ != CellKind::Number) XLF_FAIL("non number cell asked to be a number");
    return number_;
}

bool CellValueImpl::GetBoolean() const {
    if (kind_ != CellKind::Boolean) XLF_FAIL("non boolean cell asked to be a bool");
    return flag_;
}

std::uint32_t CellValueImpl::GetErrorCode() const {
    if (kind_ != CellKind::Error) XLF_FAIL("non error cell asked to be an error");
    return error_;
}

CellValueImpl::operator unsigned long() const {
    if (kind_ != CellKind::Number) XLF_FAIL("non number cell asked to be a number");
    return truncateSaturated<unsigned long>(number_);
}

void CellValueImpl::Clear() { reset(CellKind::Empty); }

void CellValueImpl::SetError(std::uint32_t code) {
    reset(CellKind::Error);
    error_ = code;
    number_ = static_cast<double>(code);
}

CellValue& CellValueImpl::operator=(int value) {
    reset(CellKind::Number);
    number_ = value;
    return *this;
}

CellValue& CellValueImpl::operator=(bool value) {
    reset(CellKind::Boolean);
    flag_ = value;
    return *this;
}

CellValue& CellValueImpl::operator=(unsigned long value) {
    reset(CellKind::Number);
    number_ = static_cast<double>(value);
    error_ = static_cast<std::uint32_t>(value);
    return *this;
}

CellValue& CellValueImpl::operator=(double value) {
    reset(CellKind::Number);
    number_ = value;
    return *this;
}

CellValue& CellValueImpl::operator=(const std::wstring& value) {
    auto fresh = std::make_unique<Texts>();
    fresh->wide = value;
    fresh->hasWide = true;
    reset(CellKind::WideString);
    texts_ = std::move(fresh);
    return *this;
}

CellValue& CellValueImpl::operator=(const std::string& value) {
    auto fresh = std::make_unique<Texts>();
    fresh->narrow = value;
    fresh->hasNarrow = true;
    reset(CellKind::String);
    texts_ = std::move(fresh);
    return *this;
}

}  // namespace impl
}  // namespace xlframe

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
    : kind_(isError ? CellKind::Error : CellKind::Number) {
    if (isError)
        payload_.error = static_cast<std::uint32_t>(code);
    else
        payload_.number = static_cast<double>(code);
}

CellValueImpl::CellValueImpl(const std::string& text) {
    auto fresh = std::make_unique<Texts>();
    fresh->narrow = text;
    fresh->hasNarrow = true;
    adopt(CellKind::String, fresh.release());
}

CellValueImpl::CellValueImpl(const std::wstring& text) {
    auto fresh = std::make_unique<Texts>();
    fresh->wide = text;
    fresh->hasWide = true;
    adopt(CellKind::WideString, fresh.release());
}

CellValueImpl::CellValueImpl(const CellValueImpl& other) : CellValue(other) {
    if (other.holdsTexts())
        adopt(other.kind_, std::make_unique<Texts>(*other.payload_.texts).release());
    else {
        payload_ = other.payload_;
        kind_ = other.kind_;
    }
}

CellValueImpl& CellValueImpl::operator=(const CellValueImpl& other) {
    if (this != &other) {
        CellValueImpl copy(other);
        *this = std::move(copy);
    }
    return *this;
}

CellValueImpl& CellValueImpl::operator=(CellValueImpl&& other) noexcept {
    if (this != &other) {
        release();
        payload_ = other.payload_;
        kind_ = other.kind_;
        other.payload_ = Payload{};
        other.kind_ = CellKind::Empty;
    }
    return *this;
}

void CellValueImpl::releaseTexts() noexcept { delete payload_.texts; }

void CellValueImpl::reset(CellKind kind) noexcept {
    release();
    kind_ = kind;
}

void CellValueImpl::adopt(CellKind kind, Texts* texts) noexcept {
    release();
    payload_.texts = texts;
    kind_ = kind;
}

const std::string& CellValueImpl::GetString() const {
    if (!IsString()) XLF_FAIL("non string cell asked to be a string");
    Texts& t = *payload_.texts;
    if (kind_ == CellKind::WideString && !t.hasNarrow) {
        t.narrow = utf16ToUtf8(t.wide);
        t.hasNarrow = true;
    }
    return t.narrow;
}

const std::wstring& CellValueImpl::GetWideString() const {
    if (!IsString()) XLF_FAIL("non string cell asked to be a string");
    Texts& t = *payload_.texts;
    if (kind_ == CellKind::String && !t.hasWide) {
        t.wide = utf8ToUtf16(t.narrow);
        t.hasWide = true;
    }
    return t.wide;
}

void CellValueImpl::notANumber() { XLF_FAIL("non number cell asked to be a number"); }

bool CellValueImpl::GetBoolean() const {
    if (kind_ != CellKind::Boolean) XLF_FAIL("non boolean cell asked to be a bool");
    return payload_.flag;
}

std::uint32_t CellValueImpl::GetErrorCode() const {
    if (kind_ != CellKind::Error) XLF_FAIL("non error cell asked to be an error");
    return payload_.error;
}

CellValueImpl::operator unsigned long() const {
    if (kind_ != CellKind::Number) XLF_FAIL("non number cell asked to be a number");
    return truncateSaturated<unsigned long>(payload_.number);
}

void CellValueImpl::Clear() { reset(CellKind::Empty); }

void CellValueImpl::SetError(std::uint32_t code) {
    reset(CellKind::Error);
    payload_.error = code;
}

CellValue& CellValueImpl::operator=(int value) {
    reset(CellKind::Number);
    payload_.number = value;
    return *this;
}

CellValue& CellValueImpl::operator=(bool value) {
    reset(CellKind::Boolean);
    payload_.flag = value;
    return *this;
}

CellValue& CellValueImpl::operator=(unsigned long value) {
    reset(CellKind::Number);
    payload_.number = static_cast<double>(value);
    return *this;
}

CellValue& CellValueImpl::operator=(double value) {
    reset(CellKind::Number);
    payload_.number = value;
    return *this;
}

// The new text is made first, so that a failed allocation leaves the cell as it was.
CellValue& CellValueImpl::operator=(const std::wstring& value) {
    auto fresh = std::make_unique<Texts>();
    fresh->wide = value;
    fresh->hasWide = true;
    adopt(CellKind::WideString, fresh.release());
    return *this;
}

CellValue& CellValueImpl::operator=(const std::string& value) {
    auto fresh = std::make_unique<Texts>();
    fresh->narrow = value;
    fresh->hasNarrow = true;
    adopt(CellKind::String, fresh.release());
    return *this;
}

}  // namespace impl
}  // namespace xlframe

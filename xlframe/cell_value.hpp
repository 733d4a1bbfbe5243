// One cell of a worksheet range: a text, a number, a flag, a host error code, or nothing.
//
//   xlframe::CellMatrix m(1, 2);
//   m(0, 0) = "AUROC";      // narrow (UTF-8) text
//   m(0, 1) = 0.75;         // number
//   double x = m(0, 1).GetNumber();
//
// Narrow texts are UTF-8; wide texts hold UTF-16 code units (one per wchar_t on every platform).
#pragma once

#include <concepts>
#include <cstdint>
#include <memory>
#include <string>

namespace xlframe {

enum class CellKind : std::uint8_t { String = 0, WideString = 1, Number = 2, Boolean = 3, Error = 4, Empty = 5 };

class CellValue {
public:
    virtual bool IsNarrowString() const = 0;
    virtual bool IsWideString() const = 0;
    virtual bool IsString() const = 0;
    virtual bool IsNumber() const = 0;
    virtual bool IsBoolean() const = 0;
    virtual bool IsEmpty() const = 0;
    virtual bool IsError() const = 0;

    // A WideString cell converts on demand and keeps the narrow form; the mirror for GetWideString.
    virtual const std::string& GetString() const = 0;
    virtual const std::wstring& GetWideString() const = 0;
    virtual double GetNumber() const = 0;
    virtual bool GetBoolean() const = 0;
    virtual std::uint32_t GetErrorCode() const = 0;

    virtual operator std::string() const = 0;
    virtual operator std::wstring() const = 0;
    virtual explicit operator bool() const = 0;
    virtual operator double() const = 0;
    // Truncates toward zero; saturates at 0 and at the type's maximum.
    virtual operator unsigned long() const = 0;

    virtual void Clear() = 0;
    virtual ~CellValue() = default;

    virtual void SetError(std::uint32_t code) = 0;
    virtual CellValue& operator=(int value) = 0;
    virtual CellValue& operator=(bool value) = 0;
    virtual CellValue& operator=(unsigned long value) = 0;
    virtual CellValue& operator=(double value) = 0;
    virtual CellValue& operator=(const std::wstring& value) = 0;
    virtual CellValue& operator=(const std::string& value) = 0;

    CellValue& operator=(const char* text) { return *this = std::string(text); }
    CellValue& operator=(const CellValue& other);

    // Other integer widths (64-bit counts, size_t on Windows) become numbers.
    template <std::integral T>
        requires(!std::same_as<T, int> && !std::same_as<T, bool> && !std::same_as<T, unsigned long>)
    CellValue& operator=(T value) {
        return *this = static_cast<double>(value);
    }

    CellKind Kind() const;

protected:
    CellValue() = default;
    CellValue(const CellValue&) = default;
};

namespace impl {

class CellValueImpl final : public CellValue {
public:
    CellValueImpl() noexcept = default;
    CellValueImpl(double value) noexcept : payload_{.number = value}, kind_(CellKind::Number) {}
    CellValueImpl(int value) noexcept : payload_{.number = static_cast<double>(value)}, kind_(CellKind::Number) {}
    CellValueImpl(unsigned long code, bool isError) noexcept;
    CellValueImpl(bool value) noexcept : payload_{.flag = value}, kind_(CellKind::Boolean) {}
    CellValueImpl(const std::string& text);
    CellValueImpl(const std::wstring& text);
    CellValueImpl(const CellValueImpl& other);
    // A moved-from cell is Empty.
    CellValueImpl(CellValueImpl&& other) noexcept : CellValue(other), payload_(other.payload_), kind_(other.kind_) {
        other.payload_ = Payload{};
        other.kind_ = CellKind::Empty;
    }
    CellValueImpl& operator=(const CellValueImpl& other);
    CellValueImpl& operator=(CellValueImpl&& other) noexcept;
    ~CellValueImpl() override { release(); }

    bool IsNarrowString() const override { return kind_ == CellKind::String; }
    bool IsWideString() const override { return kind_ == CellKind::WideString; }
    bool IsString() const override { return kind_ == CellKind::String || kind_ == CellKind::WideString; }
    bool IsNumber() const override { return kind_ == CellKind::Number; }
    bool IsBoolean() const override { return kind_ == CellKind::Boolean; }
    bool IsEmpty() const override { return kind_ == CellKind::Empty; }
    bool IsError() const override { return kind_ == CellKind::Error; }

    const std::string& GetString() const override;
    const std::wstring& GetWideString() const override;
    // Inline: tables of numbers are read and written through this, cell by cell.
    double GetNumber() const override {
        if (kind_ != CellKind::Number) notANumber();
        return payload_.number;
    }
    bool GetBoolean() const override;
    std::uint32_t GetErrorCode() const override;

    operator std::string() const override { return GetString(); }
    operator std::wstring() const override { return GetWideString(); }
    explicit operator bool() const override { return GetBoolean(); }
    operator double() const override { return GetNumber(); }
    operator unsigned long() const override;

    void Clear() override;
    void SetError(std::uint32_t code) override;
    using CellValue::operator=;
    CellValue& operator=(int value) override;
    CellValue& operator=(bool value) override;
    CellValue& operator=(unsigned long value) override;
    CellValue& operator=(double value) override;
    CellValue& operator=(const std::wstring& value) override;
    CellValue& operator=(const std::string& value) override;

    CellKind kind() const noexcept { return kind_; }

private:
    // Both forms of a text; the one the cell was not assigned is made on demand.
    struct Texts {
        std::string narrow;
        std::wstring wide;
        bool hasNarrow = false;
        bool hasWide = false;
    };
    // One field for whichever the kind holds, so that a cell is three words and a large numeric
    // range is little more than its numbers. A text cell owns its Texts, never null.
    union Payload {
        double number = 0.0;
        std::uint32_t error;
        bool flag;
        Texts* texts;
    };
    [[noreturn]] static void notANumber();
    bool holdsTexts() const noexcept { return kind_ == CellKind::String || kind_ == CellKind::WideString; }
    // Inline: a large table's destruction is this test per cell.
    void release() noexcept {
        if (holdsTexts()) releaseTexts();
        payload_ = Payload{};
    }
    void releaseTexts() noexcept;
    void reset(CellKind kind) noexcept;
    void adopt(CellKind kind, Texts* texts) noexcept;

    Payload payload_{};
    CellKind kind_ = CellKind::Empty;
};
static_assert(sizeof(CellValueImpl) <= 3 * sizeof(void*));

}  // namespace impl
}  // namespace xlframe

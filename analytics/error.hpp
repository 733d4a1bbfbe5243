// The library's coded error, its bilingual message catalogue, and the worksheet error convention.
//
//   throw Korvanth::KorvanthException(20004).addArgument("scores");
//   // getMessage(): "The vector scores is no column vector or empty"
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace Korvanth {

// Language of the catalogue texts: 0 German, 1 English. Every worksheet function writes 1.
extern std::atomic<std::int32_t> currentLanguage;

// The text for `code` in the current language, placeholders still in it, or the fallback composition.
std::string getMessageText(std::int32_t code);

// Thrown by value and caught by reference; deliberately not a std::exception, so that
// handlers for the library's errors and for everything else stay apart.
class KorvanthException {
public:
    explicit KorvanthException(std::int32_t code);

    // Fills the next "%s"; once none is left, this and every later call change nothing.
    KorvanthException& addArgument(std::string text);
    std::string getMessage() const { return message_; }
    std::int32_t getCode() const { return code_; }

protected:
    struct FinishedText {};
    KorvanthException(FinishedText, std::string text) : message_(std::move(text)) {}

private:
    std::string message_;
    bool substitutionStopped_ = false;
    std::int32_t code_ = -1;
};

// A worksheet function's own input check, its English text written out at the throw.
class KorvanthTextException : public KorvanthException {
public:
    explicit KorvanthTextException(std::string text) : KorvanthException(FinishedText{}, std::move(text)) {}
};

// The text returned for any failure that is not one of the library's own.
// What a calculation that ran out of memory answers, in place of the library's own word for it.
inline constexpr const char* outOfMemoryText = "There was not enough memory for the calculation";
inline constexpr const char* unknownErrorText =
    "An unknown error occured. Please check the call of the add-in routine, e.g. if ranges are passed "
    "instead of numbers or vice versa";

}  // namespace Korvanth

// Exceptions of the host frame, and the diagnostic line written before each is thrown.
#pragma once

#include <exception>
#include <stdexcept>
#include <string>

namespace xlframe {

// Base of the host-status exceptions: the entry wrappers answer these with an empty result.
class XlfException : public std::exception {
public:
    explicit XlfException(std::string message = std::string()) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

class XlfExceptionAbort : public XlfException {
public:
    XlfExceptionAbort() : XlfException("abort") {}
};

class XlfExceptionStackOverflow : public XlfException {
public:
    XlfExceptionStackOverflow() : XlfException("stack overflow") {}
};

class XlfExceptionUncalculated : public XlfException {
public:
    XlfExceptionUncalculated() : XlfException(std::string()) {}
};

// Failures whose text the entry wrappers return to the cell.
class XlfGeneralException : public std::runtime_error {
public:
    explicit XlfGeneralException(const std::string& message) : std::runtime_error(message) {}
};

class XlfNeverGetHere : public std::runtime_error {
public:
    XlfNeverGetHere() : std::runtime_error("Reached a never get here point") {}
};

// Writes "file(line): message" to the diagnostic stream (standard error) and flushes it.
void writeDiagnostic(const char* file, int line, const std::string& message);

// Writes the diagnostic line, then throws the exception built from the message.
template <class Exception = XlfGeneralException>
[[noreturn]] void failWith(const char* file, int line, const std::string& message) {
    writeDiagnostic(file, line, message);
    throw Exception(message);
}

}  // namespace xlframe

#define XLF_FAIL(message) ::xlframe::failWith<::xlframe::XlfGeneralException>(__FILE__, __LINE__, (message))

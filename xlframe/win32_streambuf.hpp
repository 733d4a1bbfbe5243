// The diagnostic stream's buffer: what the frame writes to the standard error stream goes to an
// attached debugger, and is dropped when there is none.
//
//   xlframe::Win32StreamBuf buffer;
//   std::ostream out(&buffer);
//   out << "line" << std::endl;   // handed to the debugger output on the flush
#pragma once

#include <mutex>
#include <ostream>
#include <streambuf>
#include <string>

namespace xlframe {

class Win32StreamBuf : public std::streambuf {
public:
    using PresentFn = bool (*)();
    using OutputFn = void (*)(const std::string& text);

    // The platform's debugger test and output by default; tests pass their own.
    Win32StreamBuf();
    Win32StreamBuf(PresentFn debuggerPresent, OutputFn debugOutput);

    // What has been written since the last synchronisation (for tests).
    std::string pending() const;

protected:
    int_type overflow(int_type ch) override;
    std::streamsize xsputn(const char* text, std::streamsize count) override;
    int sync() override;

private:
    PresentFn debuggerPresent_;
    OutputFn debugOutput_;
    // No put area: every write reaches overflow or xsputn, so one lock makes concurrent writers safe.
    mutable std::mutex mutex_;
    std::string buffer_;
};

// Puts a Win32StreamBuf under a stream for its own lifetime and the previous buffer back after.
// The library holds one for the standard error stream from load to unload.
class Win32StreamBufRedirector {
public:
    explicit Win32StreamBufRedirector(std::ostream& stream);
    Win32StreamBufRedirector(std::ostream& stream, Win32StreamBuf::PresentFn debuggerPresent,
                             Win32StreamBuf::OutputFn debugOutput);
    ~Win32StreamBufRedirector();
    Win32StreamBufRedirector(const Win32StreamBufRedirector&) = delete;
    Win32StreamBufRedirector& operator=(const Win32StreamBufRedirector&) = delete;

private:
    Win32StreamBuf buffer_;
    std::ostream& stream_;
    std::streambuf* previous_;
};

}  // namespace xlframe

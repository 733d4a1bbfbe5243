#include "xlframe/win32_streambuf.hpp"

#include "xlframe/platform.hpp"

namespace xlframe {

Win32StreamBuf::Win32StreamBuf() : Win32StreamBuf(&platform::debuggerPresent, &platform::debugOutput) {}

Win32StreamBuf::Win32StreamBuf(PresentFn debuggerPresent, OutputFn debugOutput)
    : debuggerPresent_(debuggerPresent), debugOutput_(debugOutput) {}

std::string Win32StreamBuf::pending() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return buffer_;
}

Win32StreamBuf::int_type Win32StreamBuf::overflow(int_type ch) {
    if (traits_type::eq_int_type(ch, traits_type::eof())) return traits_type::not_eof(ch);
    std::lock_guard<std::mutex> lock(mutex_);
    buffer_.push_back(traits_type::to_char_type(ch));
    return ch;
}

std::streamsize Win32StreamBuf::xsputn(const char* text, std::streamsize count) {
    if (count <= 0) return 0;
    std::lock_guard<std::mutex> lock(mutex_);
    buffer_.append(text, static_cast<std::size_t>(count));
    return count;
}

int Win32StreamBuf::sync() {
    std::string text;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        text.swap(buffer_);  // emptied whether or not anyone reads it
    }
    // The output is made outside the lock so that a slow debugger does not hold up the writers.
    if (!text.empty() && debuggerPresent_ != nullptr && debugOutput_ != nullptr && debuggerPresent_())
        debugOutput_(text);
    return 0;
}

Win32StreamBufRedirector::Win32StreamBufRedirector(std::ostream& stream)
    : Win32StreamBufRedirector(stream, &platform::debuggerPresent, &platform::debugOutput) {}

Win32StreamBufRedirector::Win32StreamBufRedirector(std::ostream& stream, Win32StreamBuf::PresentFn debuggerPresent,
                                                   Win32StreamBuf::OutputFn debugOutput)
    : buffer_(debuggerPresent, debugOutput), stream_(stream), previous_(stream.rdbuf(&buffer_)) {
    // The same form as every diagnostic line, on the stream that was redirected.
    const char* file = __FILE__;
    for (const char* c = __FILE__; *c != '\0'; ++c)
        if (*c == '/' || *c == '\\') file = c + 1;
    stream_ << file << '(' << __LINE__ << "): " << "Stream redirected to MSVC debugger" << std::endl;
}

Win32StreamBufRedirector::~Win32StreamBufRedirector() {
    // Whatever is still pending goes out first; then the stream writes where it wrote before.
    stream_.flush();
    stream_.rdbuf(previous_);
}

}  // namespace xlframe

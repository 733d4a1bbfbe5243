// The cost of one diagnostic line on the redirected standard error stream when no debugger is
// attached (the usual case: the line is dropped), against the same line into a plain string
// buffer that is emptied as often.
#include <benchmark/benchmark.h>

#include <ostream>
#include <sstream>

#include "xlframe/win32_streambuf.hpp"

namespace {

void writeLine(std::ostream& out, int line) {
    out << "xl_oper_impl.cpp" << '(' << line << "): " << "String truncated to 255 bytes" << std::endl;
}

void BM_DiagnosticLineDropped(benchmark::State& state) {
    xlframe::Win32StreamBuf buffer;  // the platform's debugger test and output
    std::ostream out(&buffer);
    out.setf(std::ios::unitbuf);  // as the standard error stream
    int line = 0;
    for (auto _ : state) writeLine(out, ++line);
}
BENCHMARK(BM_DiagnosticLineDropped);

// Baseline: the same insertions into a string buffer, emptied after every line.
void BM_DiagnosticLineIntoString(benchmark::State& state) {
    std::stringbuf buffer;
    std::ostream out(&buffer);
    out.setf(std::ios::unitbuf);
    int line = 0;
    for (auto _ : state) {
        writeLine(out, ++line);
        buffer.str(std::string());
    }
}
BENCHMARK(BM_DiagnosticLineIntoString);

}  // namespace

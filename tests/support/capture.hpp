// What is written to the diagnostic stream (std::cerr) while a capture lives.
#pragma once

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace tavirune::testing {

class DiagnosticCapture {
   public:
    DiagnosticCapture() : previous_(std::cerr.rdbuf(buffer_.rdbuf())) {}
    ~DiagnosticCapture() { std::cerr.rdbuf(previous_); }
    DiagnosticCapture(const DiagnosticCapture&) = delete;
    DiagnosticCapture& operator=(const DiagnosticCapture&) = delete;

    std::string text() const { return buffer_.str(); }
    // One message a line, without the "file(line): " that diagnostic lines begin with.
    std::vector<std::string> messages() const {
        std::vector<std::string> out;
        std::istringstream lines(buffer_.str());
        for (std::string line; std::getline(lines, line);) {
            const auto colon = line.find("): ");
            out.push_back(colon == std::string::npos ? line : line.substr(colon + 3));
        }
        return out;
    }

   private:
    std::ostringstream buffer_;
    std::streambuf* previous_;
};

}  // namespace tavirune::testing

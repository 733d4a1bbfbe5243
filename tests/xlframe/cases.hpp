// The tables of cases kept as data (cases.txt beside the tests, compiled in as one text).
#pragma once

#include <sstream>
#include <string>
#include <vector>

namespace xlframe::testing {

// The rows of one section ("[name]") of the tables, each row split into its fields.
inline std::vector<std::vector<std::string>> rows(const std::string& section) {
    static const std::string text =
#include "xlframe_cases.inc"
        ;
    std::vector<std::vector<std::string>> out;
    std::istringstream lines(text);
    bool inside = false;
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line[0] == '[') inside = line.rfind("[" + section + "]", 0) == 0;
        if (!inside || line.empty() || line[0] == '#' || line[0] == '[') continue;
        std::vector<std::string>& fields = out.emplace_back(1);
        for (std::size_t i = 0; i < line.size(); ++i) {
            const char c = line[i];
            const std::size_t star = line.find('*', i), close = line.find('}', i);
            if (c == '|') {
                if (!fields.back().empty() && fields.back().back() == ' ') fields.back().pop_back();
                fields.emplace_back();
                i += i + 1 < line.size() && line[i + 1] == ' ';
            } else if (c == '\\' && i + 1 < line.size() && (line[i + 1] == 't' || line[i + 1] == 'n')) {
                fields.back() += line[++i] == 't' ? '\t' : '\n';
            } else if (c == '{' && star < close && close != std::string::npos) {
                fields.back().append(std::stoul(line.substr(i + 1, star - i - 1)), line[star + 1]);
                i = close;
            } else {
                fields.back() += c;
            }
        }
    }
    return out;
}

}  // namespace xlframe::testing

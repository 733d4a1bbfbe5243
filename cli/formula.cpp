// A small recursive-descent reader for one function call with literal and reference arguments.
#include "cli/formula.hpp"

#include <algorithm>
#include <cctype>
#include <optional>

namespace cli {

FormulaError::FormulaError(const std::string& formula, std::size_t position, const std::string& problem)
    : InputError("formula " + quoteFormula(formula, position) + " at position " + std::to_string(position) + ": " +
                 problem),
      position_(position),
      problem_(problem) {}

std::string quoteFormula(std::string_view formula, std::size_t position) {
    constexpr std::size_t shown = 80;
    if (formula.size() <= shown) return std::string(formula);
    const std::size_t at = position > 0 ? std::min(position - 1, formula.size()) : 0;
    std::size_t begin = at > shown / 2 ? at - shown / 2 : 0;
    begin = std::min(begin, formula.size() - shown);
    // Never cut a UTF-8 character in two.
    auto isContinuation = [&](std::size_t i) {
        return i < formula.size() && (static_cast<unsigned char>(formula[i]) & 0xC0) == 0x80;
    };
    while (begin > 0 && isContinuation(begin)) --begin;
    std::size_t end = begin + shown;
    while (isContinuation(end)) ++end;
    return (begin > 0 ? "..." : "") + std::string(formula.substr(begin, end - begin)) +
           (end < formula.size() ? "..." : "");
}

namespace {

bool isLetter(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isNameChar(char c) { return isLetter(c) || isDigit(c) || c == '_' || c == '.'; }

std::string upper(std::string_view text) {
    std::string result(text);
    for (char& c : result) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return result;
}

// Up to three letters and digits: a cell (or column) rather than a name.
bool looksLikeCell(std::string_view word) {
    std::size_t letters = 0;
    while (letters < word.size() && isLetter(word[letters])) ++letters;
    if (letters == 0 || letters > 3) return false;
    for (std::size_t i = letters; i < word.size(); ++i) {
        if (!isDigit(word[i])) return false;
    }
    return true;
}

// One end of a range: a cell, a column or a row.
struct Corner {
    std::optional<std::size_t> row, column;
};

class Parser {
   public:
    explicit Parser(std::string_view text) : text_(text) {}

    FormulaExpression formula() {
        FormulaExpression result;
        result.text = std::string(text_);
        skipBlanks();
        if (peek() == '=') ++at_;
        skipBlanks();
        result.namePosition = at_ + 1;
        const std::size_t nameStart = at_;
        if (!isLetter(peek()) && peek() != '_') fail(at_, "expected a function name");
        while (isNameChar(peek())) ++at_;
        result.name = std::string(text_.substr(nameStart, at_ - nameStart));
        skipBlanks();
        if (peek() != '(') fail(at_, "expected \"(\" after the function name " + result.name);
        ++at_;
        skipBlanks();
        if (peek() == ')') {
            result.closePosition = at_ + 1;
            ++at_;
        } else {
            for (;;) {
                result.arguments.push_back(argument());
                skipBlanks();
                if (peek() == ',') {
                    ++at_;
                    continue;
                }
                if (peek() == ')') {
                    result.closePosition = at_ + 1;
                    ++at_;
                    break;
                }
                if (atEnd()) fail(at_, "the formula ends before its closing \")\"");
                fail(at_, "expected \",\" or \")\"");
            }
        }
        skipBlanks();
        if (!atEnd()) fail(at_, "unexpected text after the closing \")\"");
        return result;
    }

    Reference referenceOnly() {
        skipBlanks();
        const std::size_t start = at_;
        Reference reference = this->reference(start);
        skipBlanks();
        if (!atEnd()) fail(at_, "unexpected text after the reference");
        return reference;
    }

   private:
    std::string_view text_;
    std::size_t at_ = 0;

    bool atEnd() const { return at_ >= text_.size(); }
    char peek(std::size_t ahead = 0) const { return at_ + ahead < text_.size() ? text_[at_ + ahead] : '\0'; }
    void skipBlanks() {
        while (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r') ++at_;
    }
    [[noreturn]] void fail(std::size_t offset, const std::string& problem) const {
        throw FormulaError(std::string(text_), offset + 1, problem);
    }

    ArgumentExpression argument() {
        skipBlanks();
        ArgumentExpression argument;
        argument.position = at_ + 1;
        const char c = peek();
        if (c == ',' || c == ')') return argument;  // omitted
        if (atEnd()) fail(at_, "the formula ends before its closing \")\"");
        if (c == '"') {
            argument.kind = ArgumentExpression::Kind::Value;
            argument.value = quotedText();
            return argument;
        }
        if (c == '#') {
            argument.kind = ArgumentExpression::Kind::Value;
            argument.value = errorValue();
            return argument;
        }
        if (c == '{') {
            argument.kind = ArgumentExpression::Kind::Array;
            argument.array = arrayConstant();
            return argument;
        }
        if (c == '+' || c == '-' || c == '.' || (isDigit(c) && !rowRangeAhead())) {
            argument.kind = ArgumentExpression::Kind::Value;
            argument.value = number();
            return argument;
        }
        if (isLetter(c) || c == '_' || c == '$' || c == '\'' || isDigit(c)) {
            // A word may be a boolean, a function call (not allowed here), or a reference.
            std::size_t end = at_;
            while (end < text_.size() && (isNameChar(text_[end]) || text_[end] == '$')) ++end;
            const std::string word = upper(text_.substr(at_, end - at_));
            std::size_t next = end;
            while (next < text_.size() && (text_[next] == ' ' || text_[next] == '\t')) ++next;
            const char after = next < text_.size() ? text_[next] : '\0';
            if ((word == "TRUE" || word == "FALSE") && after != '!' && after != ':' && after != '(') {
                at_ = end;
                argument.kind = ArgumentExpression::Kind::Value;
                argument.value = word == "TRUE";
                return argument;
            }
            if (after == '(' && c != '\'') {
                fail(at_, "a function call cannot be an argument here; compute " +
                              std::string(text_.substr(at_, end - at_)) + " in a cell of its own and refer to it");
            }
            argument.kind = ArgumentExpression::Kind::Reference;
            argument.reference = reference(at_);
            return argument;
        }
        fail(at_, std::string("unexpected \"") + c + "\"");
    }

    // "12:20" is a range of rows, "12" a number.
    bool rowRangeAhead() const {
        std::size_t i = at_;
        while (i < text_.size() && isDigit(text_[i])) ++i;
        while (i < text_.size() && (text_[i] == ' ' || text_[i] == '\t')) ++i;
        return i < text_.size() && text_[i] == ':';
    }

    std::string quotedText() {
        const std::size_t start = at_;
        ++at_;
        std::string text;
        for (;;) {
            if (atEnd()) fail(start, "a quoted text has no closing quote");
            const char c = text_[at_++];
            if (c == '"') {
                if (peek() == '"') {
                    text.push_back('"');
                    ++at_;
                    continue;
                }
                return text;
            }
            text.push_back(c);
        }
    }

    host::ErrorValue errorValue() {
        const std::size_t start = at_;
        std::size_t end = at_ + 1;
        while (end < text_.size() && (isLetter(text_[end]) || isDigit(text_[end]) || text_[end] == '/' ||
                                      text_[end] == '!' || text_[end] == '?'))
            ++end;
        const std::string_view literal = text_.substr(start, end - start);
        const auto code = errorCode(literal);
        if (!code || *code == errorSpill) fail(start, "unknown error value \"" + std::string(literal) + "\"");
        at_ = end;
        return host::ErrorValue{*code};
    }

    double number() {
        const std::size_t start = at_;
        std::size_t end = at_;
        if (end < text_.size() && (text_[end] == '+' || text_[end] == '-')) ++end;
        while (end < text_.size() && (isDigit(text_[end]) || text_[end] == '.')) ++end;
        if (end < text_.size() && (text_[end] == 'e' || text_[end] == 'E')) {
            ++end;
            if (end < text_.size() && (text_[end] == '+' || text_[end] == '-')) ++end;
            while (end < text_.size() && isDigit(text_[end])) ++end;
        }
        if (end < text_.size() && text_[end] == '%') ++end;
        const std::string_view literal = text_.substr(start, end - start);
        const auto value = readNumber(literal);
        if (!value) fail(start, "bad number \"" + std::string(literal) + "\"");
        at_ = end;
        return *value;
    }

    host::Value arrayElement() {
        skipBlanks();
        const char c = peek();
        if (c == '"') return quotedText();
        if (c == '#') return errorValue();
        if (isLetter(c)) {
            std::size_t end = at_;
            while (end < text_.size() && isLetter(text_[end])) ++end;
            const std::string word = upper(text_.substr(at_, end - at_));
            if (word == "TRUE" || word == "FALSE") {
                at_ = end;
                return word == "TRUE";
            }
            fail(at_, "an array constant holds only numbers, texts, TRUE/FALSE and error values");
        }
        if (c == '+' || c == '-' || c == '.' || isDigit(c)) return number();
        if (atEnd()) fail(at_, "an array constant has no closing \"}\"");
        fail(at_, "an array constant holds only numbers, texts, TRUE/FALSE and error values");
    }

    host::Table arrayConstant() {
        const std::size_t start = at_;
        ++at_;
        std::vector<std::vector<host::Value>> rows(1);
        for (;;) {
            rows.back().push_back(arrayElement());
            skipBlanks();
            const char c = peek();
            if (c == ',') {
                ++at_;
            } else if (c == ';') {
                ++at_;
                rows.emplace_back();
            } else if (c == '}') {
                ++at_;
                break;
            } else if (atEnd()) {
                fail(start, "an array constant has no closing \"}\"");
            } else {
                fail(at_, "expected \",\", \";\" or \"}\" in an array constant");
            }
        }
        const std::size_t columns = rows.front().size();
        for (const auto& row : rows) {
            if (row.size() != columns) fail(start, "the rows of an array constant differ in length");
        }
        host::Table table(rows.size(), columns);
        for (std::size_t r = 0; r < rows.size(); ++r) {
            for (std::size_t c = 0; c < columns; ++c) table.at(r, c) = std::move(rows[r][c]);
        }
        return table;
    }

    std::string sheetName() {
        if (peek() == '\'') {
            const std::size_t start = at_;
            ++at_;
            std::string name;
            for (;;) {
                if (atEnd()) fail(start, "a quoted sheet name has no closing quote");
                const char c = text_[at_++];
                if (c == '\'') {
                    if (peek() == '\'') {
                        name.push_back('\'');
                        ++at_;
                        continue;
                    }
                    break;
                }
                name.push_back(c);
            }
            if (peek() != '!') fail(at_, "expected \"!\" after the sheet name");
            ++at_;
            if (name.empty()) fail(start, "empty sheet name");
            return name;
        }
        std::size_t end = at_;
        while (end < text_.size() && (isNameChar(text_[end]) || text_[end] == '-')) ++end;
        if (end < text_.size() && text_[end] == '!' && end > at_) {
            std::string name(text_.substr(at_, end - at_));
            at_ = end + 1;
            return name;
        }
        // A spreadsheet program that did not know the sheet stores data!A1 as the intersection of
        // a name and a range, "data A1": read as the reference it was written as.
        std::size_t next = end;
        while (next < text_.size() && text_[next] == ' ') ++next;
        const std::string_view word = text_.substr(at_, end - at_);
        if (next > end && next < text_.size() && (isLetter(text_[next]) || text_[next] == '$') && !word.empty() &&
            isLetter(word.front()) && !looksLikeCell(word)) {
            at_ = next;
            return std::string(word);
        }
        return {};
    }

    Corner corner(std::size_t referenceStart) {
        Corner corner;
        const std::size_t start = at_;
        if (peek() == '$') ++at_;
        std::size_t letters = 0, column = 0;
        while (isLetter(peek())) {
            column = column * 26 + static_cast<std::size_t>(std::toupper(static_cast<unsigned char>(peek())) - 'A' + 1);
            ++letters;
            ++at_;
            if (letters > 3) break;
        }
        if (letters > 0) {
            if (letters > 3) badReference(referenceStart, "expected a cell such as A1");
            if (column > maxColumns) badReference(referenceStart, "columns end at XFD");
            corner.column = column - 1;
        }
        if (peek() == '$') {
            if (letters == 0) badReference(referenceStart, "expected a column or a row");
            ++at_;
        }
        std::size_t digits = 0, row = 0;
        while (isDigit(peek())) {
            if (row <= maxRows) row = row * 10 + static_cast<std::size_t>(peek() - '0');
            ++digits;
            ++at_;
        }
        if (digits > 0) {
            if (row == 0 || row > maxRows)
                badReference(referenceStart, "rows run from 1 to " + std::to_string(maxRows));
            corner.row = row - 1;
        }
        if (letters == 0 && digits == 0)
            badReference(referenceStart, at_ == start ? "expected a cell such as A1" : "expected a column or a row");
        if (isNameChar(peek())) badReference(referenceStart, "expected a cell such as A1");
        return corner;
    }

    [[noreturn]] void badReference(std::size_t start, const std::string& why) {
        std::size_t end = at_;
        while (end < text_.size() && text_[end] != ',' && text_[end] != ')' && text_[end] != ' ') ++end;
        fail(start, "bad reference \"" + std::string(text_.substr(start, end - start)) + "\": " + why);
    }

    Reference reference(std::size_t start) {
        Reference reference;
        reference.sheet = sheetName();
        const Corner first = corner(start);
        Corner last = first;
        std::size_t probe = at_;
        while (probe < text_.size() && (text_[probe] == ' ' || text_[probe] == '\t')) ++probe;
        const bool range = probe < text_.size() && text_[probe] == ':';
        if (range) {
            at_ = probe + 1;
            while (peek() == ' ' || peek() == '\t') ++at_;
            last = corner(start);
        }
        const bool firstIsCell = first.row && first.column, lastIsCell = last.row && last.column;
        if (firstIsCell && lastIsCell) {
            reference.firstRow = std::min(*first.row, *last.row);
            reference.lastRow = std::max(*first.row, *last.row);
            reference.firstColumn = std::min(*first.column, *last.column);
            reference.lastColumn = std::max(*first.column, *last.column);
        } else if (range && !first.row && !last.row && first.column && last.column) {
            reference.wholeColumns = true;
            reference.firstColumn = std::min(*first.column, *last.column);
            reference.lastColumn = std::max(*first.column, *last.column);
            reference.lastRow = maxRows - 1;
        } else if (range && !first.column && !last.column && first.row && last.row) {
            reference.wholeRows = true;
            reference.firstRow = std::min(*first.row, *last.row);
            reference.lastRow = std::max(*first.row, *last.row);
            reference.lastColumn = maxColumns - 1;
        } else if (!range && !firstIsCell) {
            badReference(start, first.column ? "a column needs a row, as in A1, or a range such as A:A"
                                             : "a row needs a column, as in A1, or a range such as 1:1");
        } else {
            badReference(start, "both ends of a range must be cells (A1:B2), columns (A:B) or rows (1:2)");
        }
        return reference;
    }
};

}  // namespace

FormulaExpression parseFormula(std::string_view text) { return Parser(text).formula(); }

Reference parseReference(std::string_view text) { return Parser(text).referenceOnly(); }

}  // namespace cli

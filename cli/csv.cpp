// CSV reading: a tokenizer of our own (one pass over the bytes, fields read in place, quoted
// ones copied only when they hold doubled quotes), blocks of the file split into parts at line
// ends outside quotes and parsed on threads, and the sheet's limits checked while reading.
#include "cli/csv.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace cli {
namespace {

// Windows-1252's characters for the bytes 0x80 to 0x9F; the five it leaves undefined keep their
// C1 code points, so that distinct bytes stay distinct characters.
constexpr char16_t windows1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                          0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                          0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                          0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::string fromWindows1252(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 2);
    for (unsigned char c : text) {
        const char32_t u = c >= 0x80 && c < 0xA0 ? windows1252High[c - 0x80] : c;
        if (u < 0x80) {
            out += static_cast<char>(u);
        } else if (u < 0x800) {
            out += static_cast<char>(0xC0 | (u >> 6));
            out += static_cast<char>(0x80 | (u & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (u >> 12));
            out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (u & 0x3F));
        }
    }
    return out;
}

bool isAscii(std::string_view text) {
    unsigned char any = 0;
    for (unsigned char c : text) any |= c;
    return any < 0x80;
}

bool isUtf8(std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        const unsigned char lead = *p;
        if (lead < 0x80) {
            ++p;
            continue;
        }
        std::size_t length = 0;
        char32_t c = 0, minimum = 0;
        if ((lead & 0xE0) == 0xC0)
            length = 2, c = lead & 0x1F, minimum = 0x80;
        else if ((lead & 0xF0) == 0xE0)
            length = 3, c = lead & 0x0F, minimum = 0x800;
        else if ((lead & 0xF8) == 0xF0)
            length = 4, c = lead & 0x07, minimum = 0x10000;
        else
            return false;
        if (static_cast<std::size_t>(end - p) < length) return false;
        for (std::size_t k = 1; k < length; ++k) {
            if ((p[k] & 0xC0) != 0x80) return false;
            c = (c << 6) | (p[k] & 0x3F);
        }
        if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
        p += length;
    }
    return true;
}

// Characters as a spreadsheet counts them (UTF-16 units) of a UTF-8 text; a byte that is no
// UTF-8 counts as one.
std::size_t characters(std::string_view text) {
    if (text.size() <= maxCellCharacters) return text.size();  // never more characters than bytes
    std::size_t units = 0;
    for (unsigned char c : text) units += (c & 0xC0) != 0x80 ? (c >= 0xF0 ? 2 : 1) : 0;
    return units;
}

bool isLineEnd(char c) { return c == '\n' || c == '\r'; }

// Powers of ten that a double holds exactly: a number of up to 15 digits divided by one of them
// rounds as reading its text would.
constexpr double exactPowersOfTen[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                       1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

struct Position {
    std::size_t row = 0, column = 0;
};

// What one part of the text gave: its cells (rows from `baseRow` of `cells`), its formulas, the
// lines it held, and the first problem met.
struct Part {
    Sheet local;
    Sheet* cells = &local;
    std::size_t baseRow = 0;
    std::size_t lines = 0;
    std::optional<Position> problemAt;
    std::string problem;
    std::optional<Position> firstUtf8;     // a valid UTF-8 text beyond ASCII
    std::vector<Position> raw;             // texts kept as bytes until the encoding is decided
    std::vector<std::size_t> rawFormulas;  // indexes into cells->formulas
};

struct Settings {
    char separator = ',';
    bool decimalComma = false;
    Encoding encoding = Encoding::Detect;
};

class Tokenizer {
   public:
    Tokenizer(const Settings& settings, Part& part, bool limitsOnly = false)
        : settings_(settings), part_(part), limitsOnly_(limitsOnly) {}

    // Parses complete lines (or the rest of the file). With `probe` the text is the
    // unfinished start of a line that outgrew a block: its complete fields are checked as ever,
    // the field cut by the block's end only for its length.
    void run(std::string_view text, bool probe = false) {
        const char* p = text.data();
        const char* const end = p + text.size();
        const char separator = settings_.separator;
        std::size_t row = 0;
        while (p < end) {
            std::size_t column = 0;
            if (isLineEnd(*p)) {  // an empty line
                p += (*p == '\r' && p + 1 < end && p[1] == '\n') ? 2 : 1;
                ++row;
                continue;
            }
            for (;;) {
                if (column >= maxColumns)
                    return fail(row, column,
                                "more than " + std::to_string(maxColumns) + " columns, more than a sheet holds");
                std::string_view field;
                if (p < end && *p == '"') {
                    const char* q = p + 1;
                    scratch_.clear();
                    bool copied = false;
                    for (;;) {
                        const char* quote =
                            static_cast<const char*>(std::memchr(q, '"', static_cast<std::size_t>(end - q)));
                        if (!quote) {
                            if (probe)
                                return checkLength(row, column,
                                                   std::string_view(p + 1, static_cast<std::size_t>(end - p - 1)));
                            return fail(row, column, "a quoted field has no closing quote");
                        }
                        if (probe && quote + 1 == end)
                            return checkLength(row, column, std::string_view(q, static_cast<std::size_t>(quote - q)));
                        if (quote + 1 < end && quote[1] == '"') {
                            scratch_.append(q, quote + 1);
                            copied = true;
                            q = quote + 2;
                            continue;
                        }
                        if (copied) {
                            scratch_.append(q, quote);
                            field = scratch_;
                        } else {
                            field = std::string_view(q, static_cast<std::size_t>(quote - q));
                        }
                        p = quote + 1;
                        break;
                    }
                    if (probe && p == end) return checkLength(row, column, field);
                    if (p < end && *p != separator && !isLineEnd(*p))
                        return fail(row, column, "text after the closing quote of a quoted field");
                } else {
                    // The common field, a plain decimal number of up to 15 digits, is read while
                    // it is scanned; anything else is scanned on and read as a whole below.
                    const char* q = p;
                    const bool negative = q < end && *q == '-';
                    q += negative;
                    std::uint64_t mantissa = 0;
                    const char* digits = q;
                    while (q < end && static_cast<unsigned char>(*q - '0') < 10)
                        mantissa = mantissa * 10 + static_cast<unsigned>(*q++ - '0');
                    std::size_t count = static_cast<std::size_t>(q - digits), fraction = 0;
                    if (q < end && (*q == '.' || (*q == ',' && settings_.decimalComma))) {
                        const char* first = ++q;
                        while (q < end && static_cast<unsigned char>(*q - '0') < 10)
                            mantissa = mantissa * 10 + static_cast<unsigned>(*q++ - '0');
                        fraction = static_cast<std::size_t>(q - first);
                        count += fraction;
                    }
                    if (probe && q == end) return;  // a number cut by the block's end
                    if (count > 0 && count <= 15 && (q == end || *q == separator || *q == '\n' || *q == '\r')) {
                        const double value = static_cast<double>(mantissa) / exactPowersOfTen[fraction];
                        storeNumber(row, column, negative ? -value : value);
                        p = q;
                        ++column;
                        if (p < end && *p == separator) {
                            ++p;
                            continue;
                        }
                        break;
                    }
                    while (q < end && *q != separator && *q != '\n' && *q != '\r' && *q != '"') ++q;
                    if (q < end && *q == '"')
                        return fail(row, column,
                                    "a quote inside an unquoted field (quote the field and double the quote)");
                    field = std::string_view(p, static_cast<std::size_t>(q - p));
                    p = q;
                    if (probe && p == end) return checkLength(row, column, field);
                }
                if (field.size() > maxCellCharacters && !storeLengthOk(field))
                    return fail(row, column,
                                "the cell holds more than " + std::to_string(maxCellCharacters) +
                                    " characters, more than a cell holds");
                if (!field.empty() && !store(row, column, field)) return;
                ++column;
                if (p < end && *p == separator) {
                    ++p;
                    continue;
                }
                break;
            }
            if (p < end) p += (*p == '\r' && p + 1 < end && p[1] == '\n') ? 2 : 1;
            ++row;
        }
        part_.lines = row;
        if (anyNumber_) part_.cells->markUsed(lastRow_, lastColumn_);
    }

   private:
    const Settings& settings_;
    Part& part_;
    bool limitsOnly_;
    std::string scratch_;
    std::vector<std::pair<std::size_t, std::uint64_t*>> blocks_;  // per column: block index, its cells
    std::size_t lastRow_ = 0, lastColumn_ = 0;
    bool anyNumber_ = false;

    void fail(std::size_t row, std::size_t column, std::string problem) {
        // Before the first line is whole its separator is a guess: only a passed limit is certain.
        if (limitsOnly_ && problem.find("more than") == std::string::npos) return;
        part_.problemAt = Position{row, column};
        part_.problem = std::move(problem);
    }

    void checkLength(std::size_t row, std::size_t column, std::string_view field) {
        if (characters(field) > maxCellCharacters)
            fail(row, column,
                 "the cell holds more than " + std::to_string(maxCellCharacters) +
                     " characters, more than a cell holds");
    }

    bool storeLengthOk(std::string_view field) const {
        return (isUtf8(field) ? characters(field) : field.size()) <= maxCellCharacters;
    }

    // A number in the part's sheet, through a cache of each column's current block.
    void storeNumber(std::size_t localRow, std::size_t column, double value) {
        const std::size_t row = part_.baseRow + localRow;
        if (column >= blocks_.size()) blocks_.resize(column + 1, {std::numeric_limits<std::size_t>::max(), nullptr});
        auto& [block, cells] = blocks_[column];
        if (block != row / Sheet::blockRows) {
            block = row / Sheet::blockRows;
            cells = part_.cells->slot(row - row % Sheet::blockRows, column);
        }
        cells[row % Sheet::blockRows] = Sheet::storedNumber(value);
        lastRow_ = std::max(lastRow_, row);
        lastColumn_ = std::max(lastColumn_, column);
        anyNumber_ = true;
    }

    bool store(std::size_t localRow, std::size_t column, std::string_view field) {
        Sheet& cells = *part_.cells;
        const std::size_t row = part_.baseRow + localRow;
        if (field.front() == '=') {
            if (!isAscii(field)) {
                if (!textOk(localRow, column, field, true)) return false;
            }
            cells.formulas.push_back({row, column, std::string(field)});
            if (settings_.encoding == Encoding::Windows1252) cells.formulas.back().text = fromWindows1252(field);
            cells.markUsed(row, column);
            return true;
        }
        const CellView cell = readCellView(field, settings_.decimalComma);
        switch (cell.kind) {
            case CellView::Kind::Number:
                cells.setNumber(row, column, cell.number);
                return true;
            case CellView::Kind::Boolean:
                cells.setBoolean(row, column, cell.number != 0);
                return true;
            case CellView::Kind::Error:
                cells.setError(row, column, static_cast<int>(cell.number));
                return true;
            case CellView::Kind::Blank:
                return true;
            case CellView::Kind::Text:
                break;
        }
        if (isAscii(field)) {
            cells.setText(row, column, field);
            return true;
        }
        if (!textOk(localRow, column, field, false)) return false;
        if (settings_.encoding == Encoding::Windows1252)
            cells.setText(row, column, fromWindows1252(field));
        else
            cells.setText(row, column, field);
        return true;
    }

    // A text beyond ASCII under the file's encoding; in detection, bytes that are no UTF-8 are
    // kept as they are until the whole file has shown which encoding it is in.
    bool textOk(std::size_t localRow, std::size_t column, std::string_view field, bool formula) {
        if (settings_.encoding == Encoding::Windows1252) return true;
        if (isUtf8(field)) {
            if (!part_.firstUtf8) part_.firstUtf8 = Position{localRow, column};
            return true;
        }
        if (settings_.encoding == Encoding::Utf8) {
            fail(localRow, column,
                 "the text is not valid UTF-8 (give --encoding windows-1252 for a file in that encoding)");
            return false;
        }
        if (formula)
            part_.rawFormulas.push_back(part_.cells->formulas.size());
        else
            part_.raw.push_back({localRow, column});
        return true;
    }
};

// The quotes in [begin, end) are odd in number.
bool oddQuotes(const char* begin, const char* end) { return (std::count(begin, end, '"') & 1) != 0; }

// The end of the first line that ends at or after `from`, outside quotes, given whether `from`
// lies inside quotes; null when the text holds none.
const char* lineEndAfter(const char* from, const char* end, bool quoted) {
    for (const char* p = from; p < end; ++p) {
        if (*p == '"')
            quoted = !quoted;
        else if (!quoted && *p == '\n')
            return p + 1;
        else if (!quoted && *p == '\r' && p + 1 < end && p[1] != '\n')
            return p + 1;
    }
    return nullptr;
}

// The end of the last complete line of text that starts outside quotes; null when none ends in it.
const char* lastLineEnd(const char* begin, const char* end) {
    bool quotedAfter = false;  // parity of the quotes from p + 1 to end, relative to the end
    const bool quotedAtEnd = oddQuotes(begin, end);
    for (const char* p = end; p > begin;) {
        --p;
        if (*p == '"') {
            quotedAfter = !quotedAfter;
            continue;
        }
        const bool quoted = quotedAtEnd != quotedAfter;  // inside quotes at p
        if (quoted) continue;
        if (*p == '\n' || (*p == '\r' && p + 1 < end && p[1] != '\n')) return p + 1;
    }
    return nullptr;
}

class Reader {
   public:
    Reader(const std::string& file, const CsvOptions& options) : file_(file), options_(options) {
        sheet_.file = file;
        sheet_.name = sheetNameFromPath(file);
    }

    // The first text decides the separator and whether a byte-order mark fixes the encoding.
    void start(std::string_view& text) {
        settings_.encoding = options_.encoding;
        if (text.size() >= 3 && std::memcmp(text.data(), "\xEF\xBB\xBF", 3) == 0) {
            text.remove_prefix(3);
            if (settings_.encoding == Encoding::Detect) settings_.encoding = Encoding::Utf8;
        }
        settings_.separator = options_.separator ? options_.separator : detectSeparator(text);
        // Spreadsheets that write semicolons write decimal commas.
        settings_.decimalComma = settings_.separator == ';';
        sheet_.separator = settings_.separator;
    }

    // Complete lines (or the file's rest), parsed in parts on threads when large.
    void parse(std::string_view text) {
        std::vector<const char*> bounds{text.data()};
        const char* const end = text.data() + text.size();
        const std::size_t parts = std::clamp<std::size_t>(text.size() / std::max<std::size_t>(options_.partBytes, 1), 1,
                                                          std::max(options_.threads, 1u));
        bool quoted = false;
        for (std::size_t k = 1; k < parts; ++k) {
            const char* target = text.data() + k * text.size() / parts;
            if (target <= bounds.back()) continue;
            quoted = quoted != oddQuotes(bounds.back(), target);
            const char* split = lineEndAfter(target, end, quoted);
            if (!split || split >= end) break;
            quoted = quoted != oddQuotes(target, split);
            bounds.push_back(split);
        }
        bounds.push_back(end);
        const std::size_t count = bounds.size() - 1;
        const auto results = std::make_unique<Part[]>(count);
        results[0].cells = &sheet_;
        results[0].baseRow = nextRow_;
        std::vector<std::exception_ptr> failures(count);
        auto work = [&](std::size_t k) {
            try {
                Tokenizer(settings_, results[k])
                    .run(std::string_view(bounds[k], static_cast<std::size_t>(bounds[k + 1] - bounds[k])));
            } catch (...) {
                failures[k] = std::current_exception();  // memory that ran out, on whichever thread
            }
        };
        std::vector<std::thread> threads;
        std::size_t started = 1;
        try {
            for (; started < count; ++started) threads.emplace_back(work, started);
        } catch (const std::system_error&) {
            // No thread to be had (a process limit): the parts left are parsed here.
        }
        for (std::size_t k = started; k < count; ++k) work(k);
        work(0);
        for (auto& thread : threads) thread.join();
        for (const auto& failure : failures) {
            if (failure) std::rethrow_exception(failure);
        }
        for (std::size_t k = 0; k < count; ++k) take(results[k]);
    }

    // A line that outgrew a block: its sheet limits are checked before more of it is read.
    void probe(std::string_view text, bool limitsOnly) {
        Part part;
        Tokenizer(settings_, part, limitsOnly).run(text, true);
        if (part.problemAt)
            throw InputError(cellPlace(file_, nextRow_ + part.problemAt->row, part.problemAt->column) + ": " +
                             part.problem);
    }

    Sheet finish() {
        if (!raw_.empty() || !rawFormulas_.empty()) {
            if (firstUtf8_) {
                const Position at = raw_.empty() ? Position{sheet_.formulas[rawFormulas_.front()].row,
                                                            sheet_.formulas[rawFormulas_.front()].column}
                                                 : raw_.front();
                throw InputError(cellPlace(file_, at.row, at.column) +
                                 ": the text is not valid UTF-8, as the file's other texts are (give --encoding "
                                 "windows-1252 for a file in that encoding)");
            }
            for (const Position& at : raw_)
                sheet_.setText(at.row, at.column, fromWindows1252(sheet_.view(at.row, at.column).text));
            for (std::size_t i : rawFormulas_) sheet_.formulas[i].text = fromWindows1252(sheet_.formulas[i].text);
            if (options_.notice)
                options_.notice(file_ +
                                ": the file is not valid UTF-8 and was read as Windows-1252 (--encoding sets it)");
        }
        return std::move(sheet_);
    }

   private:
    std::string file_;
    const CsvOptions& options_;
    Settings settings_;
    Sheet sheet_;
    std::size_t nextRow_ = 0;
    std::optional<Position> firstUtf8_;
    std::vector<Position> raw_;
    std::vector<std::size_t> rawFormulas_;

    void take(Part& part) {
        const std::size_t base = nextRow_;
        if (part.problemAt)
            throw InputError(cellPlace(file_, base + part.problemAt->row, part.problemAt->column) + ": " +
                             part.problem);
        if (base + part.lines > maxRows)
            throw InputError(cellPlace(file_, maxRows, 0) + ": more than " + std::to_string(maxRows) +
                             " rows, more than a sheet holds");
        const std::size_t formulasBefore = sheet_.formulas.size();
        if (part.cells != &sheet_) sheet_.append(part.local, base);
        if (part.firstUtf8 && !firstUtf8_) firstUtf8_ = Position{base + part.firstUtf8->row, part.firstUtf8->column};
        for (const Position& at : part.raw) raw_.push_back({base + at.row, at.column});
        // Part 0 wrote into the sheet itself; the others' formulas follow the sheet's.
        for (std::size_t i : part.rawFormulas) rawFormulas_.push_back(part.cells == &sheet_ ? i : formulasBefore + i);
        nextRow_ = base + part.lines;
    }
};

// Reads from a file descriptor; on Windows through the C runtime's descriptors in binary mode.
class InputFile {
   public:
    InputFile(const std::string& path) : path_(path) {
        if (path == "-") {
            fd_ = 0;
#ifdef _WIN32
            _setmode(0, _O_BINARY);
#endif
            return;
        }
#ifdef _WIN32
        fd_ = ::_open(path.c_str(), _O_RDONLY | _O_BINARY);
#else
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
#endif
        if (fd_ < 0) throw InputError(path + ": cannot read the file: " + std::strerror(errno));
        struct stat info {};
        if (::fstat(fd_, &info) != 0) fail();
        if (S_ISDIR(info.st_mode)) {
            close();
            throw InputError(path + ": is a folder, not a sheet");
        }
        bool pipe = false;
#ifdef S_ISFIFO
        pipe = S_ISFIFO(info.st_mode);
#endif
        if (!S_ISREG(info.st_mode) && !pipe) {
            close();
            throw InputError(path + ": is not a regular file (give a pipe or - for standard input on purpose)");
        }
    }
    ~InputFile() { close(); }
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // Up to `size` bytes; 0 at the end.
    std::size_t read(char* into, std::size_t size) {
        for (;;) {
#ifdef _WIN32
            const int got = ::_read(fd_, into, static_cast<unsigned>(std::min<std::size_t>(size, 1u << 30)));
#else
            const ssize_t got = ::read(fd_, into, size);
#endif
            if (got >= 0) return static_cast<std::size_t>(got);
            if (errno != EINTR) fail();
        }
    }

   private:
    std::string path_;
    int fd_ = -1;

    [[noreturn]] void fail() {
        const int error = errno;
        close();
        throw InputError(path_ + ": cannot read the file: " + std::strerror(error));
    }
    void close() {
        if (fd_ > 0) {
#ifdef _WIN32
            ::_close(fd_);
#else
            ::close(fd_);
#endif
        }
        fd_ = -1;
    }
};

}  // namespace

std::string cellPlace(const std::string& file, std::size_t row, std::size_t column) {
    return file + ": row " + std::to_string(row + 1) + ", column " + std::to_string(column + 1) + " (cell " +
           cellName(row, column) + ")";
}

char detectSeparator(std::string_view text) {
    std::size_t commas = 0, semicolons = 0;
    bool quoted = false;
    for (char c : text) {
        if (c == '"') quoted = !quoted;
        if (quoted) continue;
        if (c == '\n' || c == '\r') break;
        if (c == ',') ++commas;
        if (c == ';') ++semicolons;
    }
    return semicolons > commas ? ';' : ',';
}

Sheet parseCsv(std::string_view text, const std::string& file, CsvOptions options) {
    Reader reader(file, options);
    reader.start(text);
    reader.parse(text);
    return reader.finish();
}

Sheet readCsvFile(const std::string& path, CsvOptions options) {
    InputFile input(path);
    return readCsv([&input](char* into, std::size_t size) { return input.read(into, size); }, path, options);
}

Sheet readCsv(const std::function<std::size_t(char*, std::size_t)>& read, const std::string& file, CsvOptions options) {
    const std::size_t blockBytes = std::max<std::size_t>(options.blockBytes, 1);
    Reader reader(file, options);
    std::vector<char> buffer;
    std::size_t held = 0;  // bytes of buffer in use: the unfinished line, then what was read
    bool started = false, atEnd = false;
    while (!atEnd) {
        if (buffer.size() < held + blockBytes) buffer.resize(held + blockBytes);
        std::size_t got = 0;
        while (got < blockBytes) {
            const std::size_t n = read(buffer.data() + held + got, blockBytes - got);
            if (n == 0) {
                atEnd = true;
                break;
            }
            got += n;
        }
        held += got;
        std::string_view text(buffer.data(), held);
        // The first line decides the separator: until it is whole, each pass starts anew.
        if (!started) reader.start(text);
        const char* complete = atEnd ? text.data() + text.size() : lastLineEnd(text.data(), text.data() + text.size());
        if (!complete) {
            reader.probe(text, !started);
            continue;
        }
        started = true;
        const auto length = static_cast<std::size_t>(complete - text.data());
        reader.parse(text.substr(0, length));
        const std::size_t rest = text.size() - length;
        std::memmove(buffer.data(), complete, rest);
        held = rest;
    }
    return reader.finish();
}

std::string sheetNameFromPath(const std::string& path) {
#ifdef _WIN32
    const std::size_t slash = path.find_last_of("/\\:");  // Windows paths also part with \ and a drive's colon
#else
    const std::size_t slash = path.find_last_of('/');
#endif
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    return name;
}

std::string quoteCsvField(std::string_view field, char separator) {
    if (field.find_first_of(std::string{'"', '\n', '\r', separator}) == std::string_view::npos)
        return std::string(field);
    std::string quoted = "\"";
    for (char c : field) {
        if (c == '"') quoted.push_back('"');
        quoted.push_back(c);
    }
    quoted.push_back('"');
    return quoted;
}

std::string writeCsv(const host::Table& table, char separator) {
    std::string out;
    for (std::size_t r = 0; r < table.rows; ++r) {
        for (std::size_t c = 0; c < table.columns; ++c) {
            if (c > 0) out.push_back(separator);
            out += quoteCsvField(showCell(table.at(r, c), true), separator);
        }
        out.push_back('\n');
    }
    return out;
}

}  // namespace cli

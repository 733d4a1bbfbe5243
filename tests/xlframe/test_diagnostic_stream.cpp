// The diagnostic stream handed to a debugger, and the lists of actions run on open, close and remove.
#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "xlframe/macro_cache.hpp"
#include "xlframe/singleton.hpp"
#include "xlframe/win32_streambuf.hpp"

namespace xlframe {
namespace {

// A debugger that can be attached and detached, and records what reaches it.
bool attached = false;
std::vector<std::string> received;
bool debuggerPresent() { return attached; }
void debuggerOutput(const std::string& text) { received.push_back(text); }

// What reaches the debugger for writes to a stream of each kind, with the debugger attached or not.
TEST(DiagnosticStream, WholeTextsAtEachFlushAndNothingWithoutADebugger) {
    const std::string zeros = std::string("a\0b", 3) + std::string(100000, 'z');
    using Write = void (*)(std::ostream&, const std::string&);
    // debugger attached first, unit buffered, what is written, what reaches the debugger
    const std::vector<std::tuple<bool, bool, Write, std::vector<std::string>>> cases = {
        {true, false, [](std::ostream& out, const std::string&) { out << "f.cpp(12): " << 42 << std::endl; }, {"f.cpp(12): 42\n"}},
        {true, false, [](std::ostream& out, const std::string&) { out << std::flush << std::flush; }, {}},
        {true, false, [](std::ostream& out, const std::string& text) { out.write(text.data(), 100003).put('!').flush(); }, {zeros + "!"}},
        {true, true, [](std::ostream& out, const std::string&) { out << "a" << 1; }, {"a", "1"}},
        {false, false, [](std::ostream& out, const std::string&) { out << "lost line" << std::endl << (attached = true) << std::flush; },
         {"1"}},
    };
    for (const auto& [attachedFirst, unitBuffered, write, expected] : cases) {
        attached = attachedFirst;
        received.clear();
        Win32StreamBuf buffer(&debuggerPresent, &debuggerOutput);
        std::ostream out(&buffer);
        if (unitBuffered) out.setf(std::ios::unitbuf);
        write(out, zeros);
        EXPECT_EQ(received, expected) << expected.size();
        EXPECT_EQ(buffer.pending(), "");
    }
}

// Writers on several threads at once (worksheet functions run on the calculation threads): every
// byte reaches the debugger, none twice.
std::atomic<std::size_t> threadedBytes{0};
bool alwaysPresent() { return true; }
void countingOutput(const std::string& text) { threadedBytes += text.size(); }

TEST(DiagnosticStreamThreads, ConcurrentWritersLoseNoByte) {
    Win32StreamBuf buffer(&alwaysPresent, &countingOutput);
    constexpr int threads = 8, lines = 2000;
    const std::string line = "source.cpp(1): a diagnostic line\n";
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&] {
            for (int i = 0; i < lines; ++i) {
                buffer.sputn(line.data(), static_cast<std::streamsize>(line.size()));
                buffer.sputc('x');
                buffer.pubsync();
            }
        });
    for (std::thread& worker : workers) worker.join();
    buffer.pubsync();
    EXPECT_EQ(threadedBytes.load(), std::size_t{threads} * lines * (line.size() + 1));
}

TEST(DiagnosticStream, RedirectorAnnouncesItselfAndRestoresThePreviousBuffer) {
    std::ostringstream stream;
    std::ostream& asStream = stream;  // the stream's buffer, not the string buffer it owns
    std::streambuf* const original = asStream.rdbuf();
    attached = true;
    received.clear();
    {
        Win32StreamBufRedirector redirector(stream, &debuggerPresent, &debuggerOutput);
        EXPECT_NE(asStream.rdbuf(), original);
        stream << "pending at unload";
    }
    // What was still buffered went to the debugger at unload, not to the old buffer.
    ASSERT_EQ(received.size(), 2u);
    // std::regex trips GCC's uninitialised-use warning under the sanitizers: the line's parts by hand.
    const std::string& line = received[0];
    const std::string head = "win32_streambuf.cpp(", tail = "): Stream redirected to MSVC debugger\n";
    EXPECT_TRUE(line.size() > head.size() + tail.size() && line.starts_with(head) && line.ends_with(tail) &&
                line.find_first_not_of("0123456789", head.size()) == line.size() - tail.size())
        << line;
    EXPECT_EQ(received[1], "pending at unload");
    EXPECT_EQ(asStream.rdbuf(), original);
    stream << "after";
    EXPECT_EQ(stream.str(), "after");
}

std::vector<int> order;

// Records its number as it runs; a negative one throws.
struct Recording : MacroAction {
    explicit Recording(int id) : id_(id) {}
    void execute() override { id_ < 0 ? throw std::runtime_error("action failed") : order.push_back(id_); }
    int id_;
};

TEST(MacroCache, RunsInTheOrderAddedUntilAnExceptionAndMayGrowWhileRunning) {
    static MacroCache<Open> cache;
    static Recording a(1), b(2), later(9);
    struct Adder : MacroAction {
        void execute() override {
            order.push_back(0);
            cache.add(&later);
        }
    } adder;
    Recording throwing(-1);
    for (MacroAction* action : std::initializer_list<MacroAction*>{&b, &a, &adder, nullptr}) cache.add(action);
    EXPECT_EQ(cache.size(), 3u);
    order.clear();
    cache.ExecuteMacros();
    EXPECT_EQ(order, (std::vector<int>{2, 1, 0}));
    cache.remove(&a);
    cache.add(&throwing);
    order.clear();
    EXPECT_THROW(cache.ExecuteMacros(), std::runtime_error);
    EXPECT_EQ(order, (std::vector<int>{2, 0, 9}));
    for (MacroAction* action : std::initializer_list<MacroAction*>{&b, &later, &adder, &throwing}) cache.remove(action);
    EXPECT_EQ(cache.size(), 0u);
}

}  // namespace
}  // namespace xlframe

#include <gtest/gtest.h>

#include <atomic>
#include <iostream>
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
bool fakePresent() { return attached; }
void fakeOutput(const std::string& text) { received.push_back(text); }

class DiagnosticStream : public ::testing::Test {
protected:
    void SetUp() override {
        attached = false;
        received.clear();
    }
};

TEST_F(DiagnosticStream, BuffersUntilFlushThenHandsTheWholeTextToTheDebugger) {
    Win32StreamBuf buffer(&fakePresent, &fakeOutput);
    std::ostream out(&buffer);
    attached = true;
    out << "file.cpp(12): " << 42 << ' ' << "message";
    EXPECT_TRUE(received.empty());
    EXPECT_EQ(buffer.pending(), "file.cpp(12): 42 message");
    out << std::endl;
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0], "file.cpp(12): 42 message\n");
    EXPECT_EQ(buffer.pending(), "");
}

TEST_F(DiagnosticStream, WithoutDebuggerTheTextIsDiscarded) {
    Win32StreamBuf buffer(&fakePresent, &fakeOutput);
    std::ostream out(&buffer);
    out << "lost line" << std::endl;
    EXPECT_TRUE(received.empty());
    EXPECT_EQ(buffer.pending(), "");
    // What comes after an attach is passed on, the discarded text is not.
    attached = true;
    out << "kept" << std::flush;
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0], "kept");
}

TEST_F(DiagnosticStream, EmptyBufferIsNotPassedOn) {
    Win32StreamBuf buffer(&fakePresent, &fakeOutput);
    std::ostream out(&buffer);
    attached = true;
    out << std::flush;
    out.flush();
    EXPECT_TRUE(received.empty());
}

TEST_F(DiagnosticStream, KeepsEveryByteIncludingZerosAndLongTexts) {
    Win32StreamBuf buffer(&fakePresent, &fakeOutput);
    std::ostream out(&buffer);
    attached = true;
    const std::string text = std::string("a\0b", 3) + std::string(100000, 'z');
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.put('!');
    out.flush();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0], text + "!");
}

TEST_F(DiagnosticStream, UnitBufferedStreamSyncsAfterEveryInsertion) {
    // The standard error stream flushes after every output operation.
    Win32StreamBuf buffer(&fakePresent, &fakeOutput);
    std::ostream out(&buffer);
    out.setf(std::ios::unitbuf);
    attached = true;
    out << "a" << 1;
    EXPECT_EQ(received, (std::vector<std::string>{"a", "1"}));
}

TEST_F(DiagnosticStream, RedirectorAnnouncesItselfAndRestoresThePreviousBuffer) {
    std::ostringstream stream;
    std::ostream& asStream = stream;  // the stream's buffer, not the string buffer it owns
    std::streambuf* const original = asStream.rdbuf();
    attached = true;
    {
        Win32StreamBufRedirector redirector(stream, &fakePresent, &fakeOutput);
        EXPECT_NE(asStream.rdbuf(), original);
        EXPECT_EQ(received.size(), 1u);
        stream << "pending at unload";
    }
    // What was still buffered went to the debugger at unload, not to the old buffer.
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[1], "pending at unload");
    EXPECT_EQ(asStream.rdbuf(), original);
    EXPECT_EQ(stream.str(), "");
    stream << "after";
    EXPECT_EQ(stream.str(), "after");
}

TEST_F(DiagnosticStream, RedirectorLineHasTheDiagnosticForm) {
    std::ostringstream stream;
    attached = true;
    { Win32StreamBufRedirector redirector(stream, &fakePresent, &fakeOutput); }
    ASSERT_FALSE(received.empty());
    const std::string& line = received[0];
    const std::string prefix = "win32_streambuf.cpp(";
    ASSERT_EQ(line.compare(0, prefix.size(), prefix), 0) << line;
    const std::size_t close = line.find("): ");
    ASSERT_NE(close, std::string::npos);
    const std::string number = line.substr(prefix.size(), close - prefix.size());
    ASSERT_FALSE(number.empty());
    for (char c : number) EXPECT_TRUE(c >= '0' && c <= '9') << line;
    EXPECT_EQ(line.substr(close), "): Stream redirected to MSVC debugger\n");
}

std::atomic<std::size_t> threadedBytes{0};
void countingOutput(const std::string& text) { threadedBytes += text.size(); }
bool alwaysPresent() { return true; }

TEST(DiagnosticStreamThreads, ConcurrentWritersLoseNoByte) {
    threadedBytes = 0;
    Win32StreamBuf buffer(&alwaysPresent, &countingOutput);
    constexpr int threads = 8;
    constexpr int lines = 2000;
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
    EXPECT_EQ(threadedBytes.load(), static_cast<std::size_t>(threads) * lines * (line.size() + 1));
}

// --- Action lists ----------------------------------------------------------------------------

std::vector<int> order;

struct Recording : MacroAction {
    explicit Recording(int id) : id_(id) {}
    void execute() override { order.push_back(id_); }
    int id_;
};

struct Throwing : MacroAction {
    void execute() override { throw std::runtime_error("action failed"); }
};

TEST(MacroCache, RunsActionsInTheOrderAdded) {
    MacroCache<Open> cache;
    Recording a(1), b(2), c(3);
    cache.add(&b);
    cache.add(&a);
    cache.add(&c);
    cache.add(nullptr);
    EXPECT_EQ(cache.size(), 3u);
    order.clear();
    cache.ExecuteMacros();
    EXPECT_EQ(order, (std::vector<int>{2, 1, 3}));
    cache.remove(&a);
    order.clear();
    cache.ExecuteMacros();
    EXPECT_EQ(order, (std::vector<int>{2, 3}));
}

TEST(MacroCache, AnExceptionEndsTheRun) {
    MacroCache<Close> cache;
    Recording a(1), c(3);
    Throwing b;
    cache.add(&a);
    cache.add(&b);
    cache.add(&c);
    order.clear();
    EXPECT_THROW(cache.ExecuteMacros(), std::runtime_error);
    EXPECT_EQ(order, (std::vector<int>{1}));
}

TEST(MacroCache, AnActionMayAddToItsOwnList) {
    static MacroCache<Remove> cache;
    static Recording later(9);
    struct Adder : MacroAction {
        void execute() override {
            order.push_back(0);
            cache.add(&later);
        }
    } adder;
    cache.add(&adder);
    order.clear();
    cache.ExecuteMacros();
    EXPECT_EQ(order, (std::vector<int>{0}));
    order.clear();
    cache.ExecuteMacros();
    EXPECT_EQ(order, (std::vector<int>{0, 9}));
    cache.remove(&adder);
    cache.remove(&later);
}

TEST(MacroCache, TheThreeListsAreSeparateSingletonsAndStartEmpty) {
    EXPECT_EQ(singleton<MacroCache<Open>>::instance().size(), 0u);
    EXPECT_EQ(singleton<MacroCache<Close>>::instance().size(), 0u);
    EXPECT_EQ(singleton<MacroCache<Remove>>::instance().size(), 0u);
    EXPECT_EQ(&singleton<MacroCache<Open>>::instance(), &singleton<MacroCache<Open>>::instance());
}

}  // namespace
}  // namespace xlframe

// The older records' texts on Windows, where they hold the ANSI code page (1252 in a Western
// setup, as under wine here): one byte per character of the code page, cuts at 255 bytes,
// characters the code page lacks as '?'.
#if defined(_WIN32)

#include <gtest/gtest.h>

#include <string>

#include "fake_host.hpp"
#include "xlframe/platform.hpp"
#include "xlframe/utf.hpp"
#include "xlframe/xl_oper.hpp"

namespace xlframe {
namespace {

using namespace xlframe::testing;

class OlderRecordsWindows : public ::testing::Test {
protected:
    void SetUp() override {
        if (platform::wideToAnsi(u"\u00e4\u20ac") != "\xe4\x80") GTEST_SKIP() << "the ANSI code page is not 1252";
    }
    FakeHostScope<xloper> host_;
    TempMemory::EntryGuard guard_;
};

std::string repeat(const std::string& piece, std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) out += piece;
    return out;
}

TEST_F(OlderRecordsWindows, TextsTakeOneBytePerCharacterOfTheCodePage) {
    struct Case {
        const char* name;
        std::string utf8;
        std::string recordBytes;
        std::string readBack;
    };
    const Case cases[] = {
        {"umlauts", "\xC3\xA4\xC3\xB6\xC3\xBC\xC3\x9F", "\xE4\xF6\xFC\xDF", "\xC3\xA4\xC3\xB6\xC3\xBC\xC3\x9F"},
        {"euro", "\xE2\x82\xAC 5", "\x80 5", "\xE2\x82\xAC 5"},
        {"not in the code page", "\xE4\xB8\xAD!", "?!", "?!"},
        {"full-width letter, no look-alike", "\xEF\xBC\xA1", "?", "?"},
    };
    for (const Case& c : cases) {
        const XlfOper record(c.utf8);
        EXPECT_EQ(textOf(raw<xloper>(record)), c.recordBytes) << c.name;
        EXPECT_EQ(std::string(record.ReadString()), c.readBack) << c.name;
    }
}

TEST_F(OlderRecordsWindows, CutAt255BytesWhichAre255Characters) {
    CaptureErr err;
    const std::string umlauts = repeat("\xC3\xA4", 300);  // 600 bytes of UTF-8, 300 of the code page
    const XlfOper record(umlauts);
    EXPECT_EQ(textOf(raw<xloper>(record)), std::string(255, '\xE4'));
    EXPECT_EQ(std::string(record.ReadString()), repeat("\xC3\xA4", 255));
    EXPECT_EQ(err.messages(), std::vector<std::string>{"String truncated to 255 bytes"});

    CaptureErr none;
    const XlfOper fits(repeat("\xC3\xA4", 255));
    EXPECT_EQ(textOf(raw<xloper>(fits)).size(), 255u);
    EXPECT_TRUE(none.messages().empty());
}

}  // namespace
}  // namespace xlframe

#endif  // defined(_WIN32)

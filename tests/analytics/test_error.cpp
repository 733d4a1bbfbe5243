#include <gtest/gtest.h>

#include <new>
#include <string>
#include <thread>
#include <vector>

#include "analytics/error.hpp"
#include "analytics/worksheet_guard.hpp"

namespace Korvanth {
namespace {

// Restores English after a test that switches the language.
struct LanguageScope {
    explicit LanguageScope(int language) { currentLanguage = language; }
    ~LanguageScope() { currentLanguage = 1; }
};

TEST(KorvanthException, FillsThePlaceholderWithTheArgument) {
    const KorvanthException error = KorvanthException(20004).addArgument("scores");
    EXPECT_EQ(error.getMessage(), "The vector scores is no column vector or empty");
    EXPECT_EQ(error.getCode(), 20004);
}

TEST(KorvanthException, ExtraArgumentsChangeNothing) {
    KorvanthException error(20002);
    error.addArgument("x").addArgument("y").addArgument("%s");
    EXPECT_EQ(error.getMessage(), "The cell x is empty");
}

TEST(KorvanthException, PlaceholderInsideAnArgumentIsFilledNext) {
    KorvanthException error(20002);
    error.addArgument("a%sb").addArgument("middle");
    EXPECT_EQ(error.getMessage(), "The cell amiddleb is empty");
}

TEST(KorvanthException, TwoPlaceholdersInOrder) {
    KorvanthException error(70);
    error.addArgument("Date");
    EXPECT_EQ(error.getMessage(), "Identifier miss match when serializing a  Date objekt");
}

TEST(KorvanthException, UnknownCodeGivesTheFallbackComposition) {
    EXPECT_EQ(KorvanthException(4711).getMessage(),
              "NO MSG TEXT DEFINED; contact Korvanth Support. Please inform the error number 4711.");
    EXPECT_EQ(getMessageText(-5), "NO MSG TEXT DEFINED; contact Korvanth Support. Please inform the error number -5.");
}

TEST(KorvanthException, GermanTexts) {
    LanguageScope german(0);
    EXPECT_EQ(KorvanthException(20002).addArgument("x").getMessage(), "Die Zelle x ist leer");
    EXPECT_EQ(KorvanthException(89).getMessage(), "Singulaere Matrix bei der Durchfuehrung einer Gauss-Elimination");
}

TEST(KorvanthException, EveryCodeOfTheAddInHasBothLanguages) {
    const int codes[] = {20000, 20001, 20002, 20004, 20005, 20006, 20007, 20008, 20009, 20010, 20011, 20012,
                         20020, 77,    78,    79,    80,    81,    82,    83,    84,    89,    192,   193,
                         194,   196,   197,   20003, 20021, 20022, 20023, 32,    33,    34,    35,    36,
                         37,    70};
    const std::string fallback = "NO MSG TEXT DEFINED";
    for (int language : {0, 1}) {
        LanguageScope scope(language);
        for (int code : codes) EXPECT_EQ(getMessageText(code).find(fallback), std::string::npos) << code;
    }
    const std::string english = getMessageText(20004);
    LanguageScope german(0);
    EXPECT_EQ(english, "The vector %s is no column vector or empty");
    EXPECT_EQ(getMessageText(20004), "Der Vektor %s ist kein Spaltenvektor oder leer");
}

TEST(KorvanthTextException, CarriesItsTextAndIsCaughtAsTheBase) {
    try {
        throw KorvanthTextException("At least one indicator is not Zero or One");
    } catch (const KorvanthException& error) {
        EXPECT_EQ(error.getMessage(), "At least one indicator is not Zero or One");
    }
}

TEST(CatalogueThreads, FirstLookupsFromManyThreadsAgree) {
    // The catalogue may already be built by an earlier test; the lookups must agree either way.
    std::vector<std::string> texts(8);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < texts.size(); ++i)
        threads.emplace_back([&texts, i] {
            for (int round = 0; round < 200; ++round) {
                currentLanguage = 1;
                texts[i] = KorvanthException(20007).addArgument("v").getMessage();
            }
        });
    for (std::thread& thread : threads) thread.join();
    for (const std::string& text : texts) EXPECT_EQ(text, "The vector v does not contain a single numerical entry");
}

TEST(WorksheetGuard, TurnsEveryFailureIntoOneTextCell) {
    const std::string unknown =
        "An unknown error occured. Please check the call of the add-in routine, e.g. if ranges are passed instead of "
        "numbers or vice versa";
    struct Case {
        const char* name;
        std::function<xlframe::CellMatrix()> body;
        std::string expected;
    } cases[] = {
        {"coded", [] () -> xlframe::CellMatrix { throw KorvanthException(20000).addArgument("quantile"); },
         "The entry quantile is no single cell or empty"},
        {"text", [] () -> xlframe::CellMatrix { throw KorvanthTextException("own check"); }, "own check"},
        {"bad_alloc", [] () -> xlframe::CellMatrix { throw std::bad_alloc(); }, outOfMemoryText},
        {"int", [] () -> xlframe::CellMatrix { throw 3; }, unknown},
    };
    for (const Case& c : cases) {
        const xlframe::CellMatrix result = guardWorksheet(c.body);
        ASSERT_EQ(result.Rows(), 1u) << c.name;
        ASSERT_EQ(result.Columns(), 1u) << c.name;
        EXPECT_TRUE(result(0, 0).IsNarrowString()) << c.name;
        EXPECT_EQ(result(0, 0).GetString(), c.expected) << c.name;
    }
}

TEST(WorksheetGuard, SelectsEnglishUnlessAskedNotTo) {
    currentLanguage = 0;
    guardWorksheet([] { return xlframe::CellMatrix(); }, false);
    EXPECT_EQ(currentLanguage.load(), 0);
    const auto result = guardWorksheet([] () -> xlframe::CellMatrix { throw KorvanthException(20002).addArgument("x"); });
    EXPECT_EQ(currentLanguage.load(), 1);
    EXPECT_EQ(result(0, 0).GetString(), "The cell x is empty");
}

}  // namespace
}  // namespace Korvanth

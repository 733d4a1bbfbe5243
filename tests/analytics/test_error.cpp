#include <gtest/gtest.h>

#include <new>
#include <string>

#include "analytics/error.hpp"
#include "analytics/worksheet_guard.hpp"

namespace Korvanth {
namespace {

// Restores English after a test that switches the language.
struct LanguageScope {
    explicit LanguageScope(int language) { currentLanguage = language; }
    ~LanguageScope() { currentLanguage = 1; }
};

TEST(KorvanthException, GermanTexts) {
    LanguageScope german(0);
    EXPECT_EQ(KorvanthException(20002).addArgument("x").getMessage(), "Die Zelle x ist leer");
    EXPECT_EQ(KorvanthException(89).getMessage(), "Singulaere Matrix bei der Durchfuehrung einer Gauss-Elimination");
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
        {"bad_alloc", [] () -> xlframe::CellMatrix { throw std::bad_alloc(); },
         "There was not enough memory for the calculation"},
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

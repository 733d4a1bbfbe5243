#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "xlframe/registration.hpp"

namespace {

using namespace xlframe::XLRegistration;

// Captures what is written to the diagnostic stream while it lives.
class DiagnosticCapture {
   public:
    DiagnosticCapture() : previous_(std::cerr.rdbuf(buffer_.rdbuf())) {}
    ~DiagnosticCapture() { std::cerr.rdbuf(previous_); }
    std::string text() const { return buffer_.str(); }

   private:
    std::ostringstream buffer_;
    std::streambuf* previous_;
};

FunctionFlags threadSafe() {
    FunctionFlags flags;
    flags.threadSafe = true;
    return flags;
}

FunctionFlags allFlags() {
    FunctionFlags flags;
    flags.isVolatile = flags.threadSafe = flags.asynchronous = flags.macroSheetEquivalent = flags.clusterSafe = true;
    return flags;
}

struct TypeTextCase {
    const char* what;
    std::string returnCode;
    std::vector<std::string> arguments;
    int version;
    FunctionFlags flags;
    std::string expected;
};

TEST(RegistrationTexts, TypeTextPerHostVersionAndFlags) {
    const std::vector<TypeTextCase> cases = {
        {"rocCurveIndividual, newer host", "Q", {"Q", "Q", "B", "B", "B"}, 16, threadSafe(), "QQQBBB$"},
        {"rocCurveIndividual, version 12", "Q", {"Q", "Q", "B", "B", "B"}, 12, threadSafe(), "QQQBBB$"},
        {"rocCurveIndividual, older host", "P", {"P", "P", "B", "B", "B"}, 11, threadSafe(), "PPPBBB"},
        {"getVersion, newer host", "Q", {}, 16, threadSafe(), "Q$"},
        {"getVersion, older host", "P", {}, 11, threadSafe(), "P"},
        {"no flags", "Q", {"Q"}, 16, FunctionFlags{}, "QQ"},
        {"every flag, version 14", "Q", {"Q", "B"}, 14, allFlags(), ">QBX!$&#"},
        {"every flag, version 13", "Q", {"Q", "B"}, 13, allFlags(), "QQB!$#"},
        {"every flag, version 11", "P", {"P", "B"}, 11, allFlags(), "PPB!#"},
    };
    for (const TypeTextCase& c : cases)
        EXPECT_EQ(TypeText(c.returnCode, c.arguments, c.version, c.flags), c.expected) << c.what;
}

TEST(RegistrationTexts, ArgumentTextJoinsNamesWithCommaAndBlank) {
    EXPECT_EQ(ArgumentText({"scores", "indicators", "scoreIndex", "outputIndex", "numBuckets"}),
              "scores, indicators, scoreIndex, outputIndex, numBuckets");
    EXPECT_EQ(ArgumentText({"inputMatrix"}), "inputMatrix");
    EXPECT_EQ(ArgumentText({}), "");
}

TEST(RegistrationTexts, ArgumentTextOverTheWizardLimit) {
    // 36 names of five characters: 36 * 5 + 35 * 2 = 250 characters, then one more name of
    // three characters (255: kept) or four (256: replaced).
    std::vector<std::string> names(36, "abcde");
    names.push_back("xyz");
    std::string joined;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i != 0) joined += ", ";
        joined += names[i];
    }
    ASSERT_EQ(joined.size(), 255u);
    EXPECT_EQ(ArgumentText(names), joined);
    names.back() = "wxyz";
    EXPECT_EQ(ArgumentText(names), "Too many arguments for Function Wizard");
}

TEST(RegistrationTexts, HelpTopicWithAndWithoutHelpFile) {
    EXPECT_EQ(HelpTopic("C:\\addins\\Tavirune.chm", 1), "C:\\addins\\Tavirune.chm!1");
    EXPECT_EQ(HelpTopic("C:\\addins\\..\\Tavirune.chm", 18), "C:\\addins\\..\\Tavirune.chm!18");
    EXPECT_EQ(HelpTopic("", 7), "");
}

TEST(RegistrationTexts, LastHelpTextGetsPeriodAndBlank) {
    const std::vector<std::string> helps = {" first ", " second ", " third "};
    EXPECT_EQ(ArgumentHelpTexts(helps, 16), (std::vector<std::string>{" first ", " second ", " third . "}));
    EXPECT_EQ(ArgumentHelpTexts(helps, 11), (std::vector<std::string>{" first ", " second ", " third . "}));
    EXPECT_EQ(ArgumentHelpTexts({" only "}, 16), (std::vector<std::string>{" only . "}));
    EXPECT_TRUE(ArgumentHelpTexts({}, 16).empty());
}

TEST(RegistrationTexts, HelpTextsLimitedByTheOperandsOfOneCall) {
    struct Case {
        int version;
        std::size_t given;
        std::size_t passed;
    };
    const std::vector<Case> cases = {{11, 20, 20},   {11, 21, 20},   {11, 300, 20},  {10, 25, 20},
                                     {12, 245, 245}, {16, 246, 245}, {16, 300, 245}, {16, 19, 19}};
    for (const Case& c : cases) {
        std::vector<std::string> helps;
        for (std::size_t i = 0; i < c.given; ++i) helps.push_back(std::string("h").append(std::to_string(i)));
        const std::vector<std::string> passed = ArgumentHelpTexts(helps, c.version);
        ASSERT_EQ(passed.size(), c.passed) << c.version << " " << c.given;
        // 10 fixed operands plus the help texts fit one call of the host's generation.
        EXPECT_LE(10 + passed.size(), c.version >= 12 ? 255u : 30u);
        for (std::size_t i = 0; i + 1 < passed.size(); ++i) EXPECT_EQ(passed[i], helps[i]);
        EXPECT_EQ(passed.back(), helps[c.passed - 1] + ". ");
    }
    EXPECT_EQ(MaxArgumentHelpTexts(11), 20u);
    EXPECT_EQ(MaxArgumentHelpTexts(12), 245u);
}

TEST(RegistrationTexts, LongArgumentNameWarnsOnly) {
    struct Case {
        std::string name;
        bool warns;
    };
    const std::vector<Case> cases = {{"defaultProbabilities", true},  // 20 characters
                                     {"abcdefghijklmnopqrs", true},   // 19
                                     {"abcdefghijklmnopqr", false},   // 18
                                     {"scores", false},
                                     {"", false}};
    for (const Case& c : cases) {
        DiagnosticCapture capture;
        const XlfArgDesc argument(c.name, " help ", "XLF_OPER");
        const std::string line =
            std::string("Argument name \"").append(c.name) + "\" may be too long to fit the in the function wizard\n";
        if (c.warns) {
            const std::string text = capture.text();
            ASSERT_GE(text.size(), line.size()) << c.name;
            EXPECT_EQ(text.substr(text.size() - line.size()), line);
            EXPECT_EQ(text.rfind("registration_texts.cpp(", 0), 0u) << text;
            EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);
        } else {
            EXPECT_EQ(capture.text(), "") << c.name;
        }
        EXPECT_EQ(argument.GetName(), c.name);
        EXPECT_EQ(argument.GetComment(), " help ");
        EXPECT_EQ(argument.GetType(), "XLF_OPER");
    }
}

}  // namespace

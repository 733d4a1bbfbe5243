// Tavirune.xll end to end through the stand-in host: registration under both record generations,
// a call of every function, the function wizard, lifecycle, the faults a host can cause, and
// truncation under the older records.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "functions/worksheet_functions.hpp"
#include "tests/host/addin_calls.hpp"
#include "xlframe/xlcall.hpp"

namespace {

using namespace addin_testing;

// One call of each function, on ranges, single values and omitted arguments.
std::vector<Call> everyFunction(const Portfolio& p) {
    return {
        {"adjustedPowerStat", {R(p.scores), R(p.challengerPds), V(0.0)}},
        {"aurocDifferenceAggregate", {R(p.grades), R(p.crossDefaults), R(p.crossSurvivals), V(1.0)}},
        {"aurocDifferenceIndividual", {R(p.scores), R(p.challenger), R(p.defaults), V(0.0)}},
        {"aurocInitialComparison", {R(p.scores), R(p.defaults), V(0.0), V(0.85)}},
        {"binomialTest", {R(p.gradePds), R(p.gradeDefaults), R(p.gradeSurvivals)}},
        {"calibrationDifferenceAggregate", {R(p.gradePds), R(p.crossDefaults), R(p.crossSurvivals)}},
        {"calibrationDifferenceIndividual", {R(p.pds), R(p.challengerPds), R(p.defaults)}},
        {"calibrationTestAggregate", {R(p.gradePds), R(p.gradeDefaults), R(p.gradeSurvivals)}},
        {"calibrationTestIndividual", {R(p.pds), R(p.defaults)}},
        {"crossTabCategorical", {R(p.categories), R(p.defaults)}},
        {"crossTabNumerical", {R(p.scores), R(p.defaults), V(4.0), M(), M()}},
        {"generateBootstrapSample", {R(block(2, 2, {std::string("a"), std::string("b"), 1.0, 1.0})), V(true)}},
        {"getInfo", {}},
        {"getVersion", {}},
        {"herfindahlIndex", {R(p.gradeSurvivals)}},
        {"jeffreysTest", {R(p.gradePds), R(p.gradeDefaults), R(p.gradeSurvivals)}},
        {"ksStatistic", {R(p.scores), R(p.defaults), V(1.0)}},
        {"logisticRegression",
         {R(block(1, 3, {std::string("score"), std::string("noise"), std::string("bucket")})),
          R(block(1, 3, {1.0, 1.0, 0.0})), R(p.drivers), R(p.defaults)}},
        {"lowDefaultPortfolioPD", {R(column({0.0, 1.0, 2.0})), R(column({400.0, 300.0, 100.0})), M(), V(0.95), M()}},
        {"mapCategoricals2Scores",
         {R(column({std::string("B"), std::string("A"), std::string("D")})),
          R(column({std::string("A"), std::string("B"), std::string("C"), std::string("D")})),
          R(column({10.0, 20.0, 30.0, 40.0}))}},
        {"mapNumericals2Scores",
         {R(column({0.5, 2.5, 7.0})), R(column({1.0, 2.0, 3.0})), R(column({0.0, 2.0, 5.0})), R(column({2.0, 5.0, 11.0}))}},
        {"migrationMatrix", {R(p.grades), R(column({2.0, 2.0, 4.0, 3.0}))}},
        {"populationStabilityIndex", {R(p.gradeDefaults), R(p.gradeSurvivals)}},
        {"rocCurveAggregate", {R(p.grades), R(p.gradeDefaults), R(p.gradeSurvivals), V(1.9), V(1.0)}},
        {"rocCurveIndividual", {R(p.scores), R(p.defaults), V(-0.5), V(1.0), V(10.0)}},
    };
}

// --- Registration ----------------------------------------------------------------------------

// Every registration, one field a line, blanks kept in brackets.
std::string registrationsText(const host::StandInHost& h) {
    std::ostringstream out;
    for (const host::Registration& r : h.registrations()) {
        out << r.name << "\n  procedure " << r.procedure << "\n  type " << r.typeText << "\n  arguments ["
            << r.argumentText << "]\n  macro type " << r.macroType << "\n  category [" << r.category << "]\n  shortcut ["
            << r.shortcut << "]\n  help topic [" << r.helpTopic << "]\n  description [" << r.description << "]\n";
        for (const std::string& help : r.argumentHelp) out << "  argument help [" << help << "]\n";
    }
    return out.str();
}

std::string fileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The registrations against the golden lists (tests/host/registrations_*.txt), which differ between
// the record generations only in the type texts.
TEST(Addin, RegistersEveryFunctionUnderEachRecordGeneration) {
    for (int version : {11, 12, 16}) {
        SCOPED_TRACE(version);
        host::StandInHost h({.version = version});
        h.load(addin);
        EXPECT_EQ(registrationsText(h), fileText(std::string(TAVIRUNE_TEST_DATA) + "/registrations_" +
                                                 (version >= 12 ? "12" : "11") + ".txt"));
        for (const host::Registration& r : h.registrations()) EXPECT_EQ(r.module, std::filesystem::absolute(addin).string());
        // The registration showed itself on the status bar and cleared it afterwards.
        bool shown = false;
        for (const host::HostCall& c : h.calls()) shown = shown || (c.function == xlcMessage && c.detail == "Registering library...");
        EXPECT_TRUE(shown);
        EXPECT_EQ(h.statusBar(), "");
    }
}

// --- Calls -----------------------------------------------------------------------------------

// The values themselves are checked by the worksheet cases of the command-line host; here each
// function answers with a table, not a message or an error, and hands back every record.
TEST(Addin, EveryFunctionAnswersWithATableAndHandsBackItsMemory) {
    const Portfolio p = portfolio(400);
    host::StandInHost h;
    h.load(addin);
    for (const Call& c : everyFunction(p)) {
        const Table got = call(h, c);
        const bool single = c.name == "getVersion" || c.name == "getInfo";
        EXPECT_TRUE(single ? got.cells.size() == 1 : got.rows > 1) << c.name;
        for (const Value& v : got.cells) EXPECT_FALSE(std::holds_alternative<ErrorValue>(v)) << c.name;
    }
    EXPECT_EQ(h.hostAllocations(), 0u);
    EXPECT_EQ(h.strayFrees(), 0u);
}

TEST(Addin, DoubleArgumentsAreTruncatedTowardZero) {
    const Portfolio p = portfolio(100);
    host::StandInHost h;
    h.load(addin);
    const auto roc = [&](Value index) {
        return call(h, {"rocCurveAggregate", {R(p.grades), R(p.gradeDefaults), R(p.gradeSurvivals), V(index), V(0.0)}});
    };
    EXPECT_EQ(roc(1.9), roc(1.0));
    EXPECT_EQ(roc(-0.5), roc(0.0));
    EXPECT_EQ(roc(std::string("1")), roc(1.0));
    EXPECT_NE(roc(1.0), roc(0.0));
    // Past the 32-bit range the value saturates and is refused, never undefined.
    EXPECT_EQ(roc(1e300), one(std::string("The value of scoreIndex is not in the range of 0..1")));
    EXPECT_EQ(roc(-1e300), one(std::string("The value of scoreIndex is not in the range of 0..1")));
    // A text that is no number is the spreadsheet's #VALUE!, without calling the add-in.
    EXPECT_EQ(roc(std::string("high")), one(ErrorValue{xlerrValue}));
}

TEST(Addin, FunctionWizardOpenMakesEveryFunctionAnswerTrue) {
    const Portfolio p = portfolio(50);
    host::StandInHost h({.functionWizardOpen = true});
    h.load(addin);
    for (const Call& c : everyFunction(p)) EXPECT_EQ(call(h, c), one(true)) << c.name;
    // The replace and paste dialogs share the class but are not the wizard.
    for (const char* title : {"Replace", "Paste Function"}) {
        h.options().functionWizardTitle = title;
        EXPECT_EQ(call(h, {"getVersion", {}}), one(Korvanth::getVersion())) << title;
    }
    h.options().functionWizardTitle = "Function Arguments";
    h.options().functionWizardOpen = false;
    EXPECT_EQ(call(h, {"getVersion", {}}), one(Korvanth::getVersion()));
}

TEST(Addin, AnArgumentTheFrameCannotConvertGivesItsMessage) {
    host::StandInHost h;
    h.load(addin);
    h.options().rangesAsReferences = true;
    const Table result = call(h, {"calibrationTestIndividual", {R(column({0.1, 0.2})), R(column({0.0, 1.0}))}});
    ASSERT_EQ(result.rows, 1u);
    ASSERT_EQ(result.columns, 1u);
    const std::string* text = std::get_if<std::string>(&result.at(0, 0));
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->rfind("Unsupported type in CellMatrix conversion", 0), 0u) << *text;
    // A reference of several areas is refused by its row count already.
    h.options().rangesAsReferences = false;
    h.options().multiAreaReferences = true;
    const Table areas = call(h, {"calibrationTestIndividual", {R(column({0.1, 0.2})), R(column({0.0, 1.0}))}});
    ASSERT_EQ(areas.cells.size(), 1u);
    ASSERT_TRUE(std::holds_alternative<std::string>(areas.at(0, 0)));
    EXPECT_EQ(std::get<std::string>(areas.at(0, 0)).rfind("No implementation for multiple Refs", 0), 0u)
        << std::get<std::string>(areas.at(0, 0));
}

// --- Lifecycle -------------------------------------------------------------------------------

TEST(Addin, RemoveThenCloseDeletesEachNameThenUnregistersIt) {
    host::StandInHost h;
    h.load(addin);
    const std::vector<host::Registration> registered = h.registrations();
    const std::size_t before = h.calls().size();
    h.unload(true);
    EXPECT_TRUE(h.registrations().empty());
    std::vector<std::string> names;
    for (const auto& r : registered) names.push_back(r.name);
    EXPECT_EQ(h.unregistrations(), names);
    std::vector<host::HostCall> calls = h.calls();
    calls.erase(calls.begin(), calls.begin() + static_cast<std::ptrdiff_t>(before));
    ASSERT_EQ(calls.size(), 2 * registered.size());
    for (std::size_t i = 0; i < registered.size(); ++i) {
        EXPECT_EQ(calls[2 * i].function, xlfSetName);
        EXPECT_EQ(calls[2 * i].detail, registered[i].name);
        EXPECT_EQ(calls[2 * i + 1].function, xlfUnregister);
    }
}

TEST(AddinProcess, WithoutTheCallbackLibraryTheAddinStaysUnregistered) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            host::StandInHost h({.noXlcall32 = true});
            try {
                h.load(addin);
            } catch (const std::runtime_error&) {
            }
            std::fprintf(stderr, "open %d, %zu registered\n", h.autoOpenResult(), h.registrations().size());
            std::_Exit(h.loaded() && h.autoOpenResult() == 0 && h.registrations().empty() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "open 0, 0 registered");
}

// --- The older records' limits ---------------------------------------------------------------

TEST(Addin, OlderRecordsCutLongResults) {
    const Portfolio p = portfolio(400);
    // About 70000 buckets give more rows than the older array records can count (a WORD: 65535).
    const Call many{"rocCurveIndividual", {R(p.scores), R(p.defaults), V(0.0), V(1.0), V(69996.0)}};
    Table whole;
    {
        host::StandInHost newer({.version = 16});
        newer.load(addin);
        whole = call(newer, many);
        newer.unload();
    }
    ASSERT_GT(whole.rows, 65536u);
    host::StandInHost older({.version = 11});
    older.load(addin);
    const Table result = call(older, many);
    EXPECT_EQ(result.columns, 2u);
    EXPECT_EQ(result.rows, 65535u);
    for (std::size_t r = 0; r < result.rows; r += 997) {
        EXPECT_EQ(result.at(r, 0), whole.at(r, 0)) << r;
        EXPECT_EQ(result.at(r, 1), whole.at(r, 1)) << r;
    }
    // A text of the older records is cut to 255 bytes: a category of 300 characters can only come
    // in cut, and a 255-byte one comes back whole.
    const Call categories{"crossTabCategorical", {R(column({std::string(300, 'c'), std::string(255, 'd')})), R(column({1.0, 0.0}))}};
    const Table labels = call(older, categories);
    bool cut = false, whole255 = false;
    for (const Value& v : labels.cells) {
        if (const std::string* text = std::get_if<std::string>(&v)) {
            EXPECT_LE(text->size(), 255u);
            cut = cut || *text == std::string(255, 'c');
            whole255 = whole255 || *text == std::string(255, 'd');
        }
    }
    EXPECT_TRUE(cut);
    EXPECT_TRUE(whole255);
}

}  // namespace

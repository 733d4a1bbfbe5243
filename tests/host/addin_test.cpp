// Tavirune.xll end to end through the stand-in host: registration under both record generations,
// calls of every function against the worksheet functions called directly, the function
// wizard, lifecycle, PATH, the faults a host can cause, and truncation under the older records.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "functions/worksheet_functions.hpp"
#include "tests/host/addin_calls.hpp"
#include "xlframe/xlcall.hpp"

namespace {

using namespace addin_testing;
using xlframe::CellMatrix;

// --- Calling directly, as the entry wrapper would -------------------------------------------

CellMatrix matrix(const Argument& a) {
    const Table t = a.kind == Argument::Kind::Range ? a.range
                    : a.kind == Argument::Kind::Scalar ? one(a.scalar)
                                                       : one(Blank{});
    CellMatrix m(t.rows, t.columns);
    for (std::size_t r = 0; r < t.rows; ++r) {
        for (std::size_t c = 0; c < t.columns; ++c) {
            const Value& v = t.at(r, c);
            if (const double* x = std::get_if<double>(&v)) m(r, c) = *x;
            if (const bool* b = std::get_if<bool>(&v)) m(r, c) = *b;
            if (const std::string* s = std::get_if<std::string>(&v)) m(r, c) = std::wstring(s->begin(), s->end());
            if (const ErrorValue* e = std::get_if<ErrorValue>(&v)) m(r, c).SetError(static_cast<std::uint32_t>(e->code));
        }
    }
    return m;
}

int integer(const Argument& a) { return static_cast<int>(std::trunc(std::get<double>(a.scalar))); }

Table table(const CellMatrix& m) {
    if (m.Rows() == 0 || m.Columns() == 0) return one(Blank{});
    Table t(m.Rows(), m.Columns());
    for (std::size_t r = 0; r < m.Rows(); ++r) {
        for (std::size_t c = 0; c < m.Columns(); ++c) {
            const auto& v = m(r, c);
            if (v.IsNumber())
                t.at(r, c) = std::isfinite(v.GetNumber()) ? Value(v.GetNumber()) : Value(ErrorValue{xlerrNum});
            else if (v.IsString())
                t.at(r, c) = v.GetString();
            else if (v.IsBoolean())
                t.at(r, c) = v.GetBoolean();
            else if (v.IsError())
                t.at(r, c) = ErrorValue{static_cast<int>(v.GetErrorCode())};
            else
                t.at(r, c) = std::string();  // an empty cell reaches the host as an empty text
        }
    }
    return t;
}

Table direct(const Call& call) {
    const auto& a = call.arguments;
    const auto m = [&](std::size_t i) { return matrix(a[i]); };
    const auto n = [&](std::size_t i) { return integer(a[i]); };
    const std::string& f = call.name;
    using namespace Korvanth;
    if (f == "adjustedPowerStat") return table(adjustedPowerStat(m(0), m(1), n(2)));
    if (f == "aurocDifferenceAggregate") return table(aurocDifferenceAggregate(m(0), m(1), m(2), n(3)));
    if (f == "aurocDifferenceIndividual") return table(aurocDifferenceIndividual(m(0), m(1), m(2), n(3)));
    if (f == "aurocInitialComparison") return table(aurocInitialComparison(m(0), m(1), n(2), m(3)));
    if (f == "binomialTest") return table(binomialTest(m(0), m(1), m(2)));
    if (f == "calibrationDifferenceAggregate") return table(calibrationDifferenceAggregate(m(0), m(1), m(2)));
    if (f == "calibrationDifferenceIndividual") return table(calibrationDifferenceIndividual(m(0), m(1), m(2)));
    if (f == "calibrationTestAggregate") return table(calibrationTestAggregate(m(0), m(1), m(2)));
    if (f == "calibrationTestIndividual") return table(calibrationTestIndividual(m(0), m(1)));
    if (f == "crossTabCategorical") return table(crossTabCategorical(m(0), m(1)));
    if (f == "crossTabNumerical") return table(crossTabNumerical(m(0), m(1), m(2), m(3), m(4)));
    if (f == "generateBootstrapSample") return table(generateBootstrapSample(m(0), m(1)));
    if (f == "getInfo") return one(getInfo());
    if (f == "getVersion") return one(getVersion());
    if (f == "herfindahlIndex") return table(herfindahlIndex(m(0)));
    if (f == "jeffreysTest") return table(jeffreysTest(m(0), m(1), m(2)));
    if (f == "ksStatistic") return table(ksStatistic(m(0), m(1), n(2)));
    if (f == "logisticRegression") return table(logisticRegression(m(0), m(1), m(2), m(3)));
    if (f == "lowDefaultPortfolioPD") return table(lowDefaultPortfolioPD(m(0), m(1), m(2), m(3), m(4)));
    if (f == "mapCategoricals2Scores") return table(mapCategoricals2Scores(m(0), m(1), m(2)));
    if (f == "mapNumericals2Scores") return table(mapNumericals2Scores(m(0), m(1), m(2), m(3)));
    if (f == "migrationMatrix") return table(migrationMatrix(m(0), m(1)));
    if (f == "populationStabilityIndex") return table(populationStabilityIndex(m(0), m(1)));
    if (f == "rocCurveAggregate") return table(rocCurveAggregate(m(0), m(1), m(2), n(3), n(4)));
    if (f == "rocCurveIndividual") return table(rocCurveIndividual(m(0), m(1), n(2), n(3), n(4)));
    throw std::logic_error("no function " + f);
}

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

struct Expected {
    std::string name;
    std::vector<std::string> arguments;
    std::string codes;  // one letter per argument: O for a range, B for a double
};

const std::vector<Expected> functions = {
    {"adjustedPowerStat", {"scores", "shadowPDs", "scoreIndex"}, "OOB"},
    {"aurocDifferenceAggregate", {"scores", "matrixDefaults", "matrixSurvivals", "scoreIndex"}, "OOOB"},
    {"aurocDifferenceIndividual", {"scoresRating1", "scoresRating2", "indicators", "scoreIndex"}, "OOOB"},
    {"aurocInitialComparison", {"scores", "indicators", "scoreIndex", "initialAuroc"}, "OOBO"},
    {"binomialTest", {"defaultProbabilities", "numDefaults", "numDebtors"}, "OOO"},
    {"calibrationDifferenceAggregate", {"defaultProbabilities", "matrixDefaults", "matrixSurvivals"}, "OOO"},
    {"calibrationDifferenceIndividual", {"defaultProbRating1", "defaultProbRating2", "indicators"}, "OOO"},
    {"calibrationTestAggregate", {"defaultProbabilities", "numDefaults", "numSurvivals"}, "OOO"},
    {"calibrationTestIndividual", {"defaultProbabilities", "indicators"}, "OO"},
    {"crossTabCategorical", {"categories", "indicators"}, "OO"},
    {"crossTabNumerical", {"scores", "indicators", "numberCategories", "lowerBoundaries", "upperBoundaries"}, "OOOOO"},
    {"generateBootstrapSample", {"inputMatrix", "withHeader"}, "OO"},
    {"getInfo", {}, ""},
    {"getVersion", {}, ""},
    {"herfindahlIndex", {"numDebtors"}, "O"},
    {"jeffreysTest", {"defaultProbabilities", "numDefaults", "numDebtors"}, "OOO"},
    {"ksStatistic", {"scores", "indicators", "scoreIndex"}, "OOB"},
    {"logisticRegression", {"factorNames", "factorIndices", "factorValues", "indicators"}, "OOOO"},
    {"lowDefaultPortfolioPD", {"numDefaults", "numSurvivals", "correlation", "quantile", "averagePortfolioPD"}, "OOOOO"},
    {"mapCategoricals2Scores", {"categoricalScores", "categoricalSet", "scoreValueSet"}, "OOO"},
    {"mapNumericals2Scores", {"numericalScores", "scoreValueSet", "lowerBoundaries", "upperBoundaries"}, "OOOO"},
    {"migrationMatrix", {"gradesBefore", "gradesAfter"}, "OO"},
    {"populationStabilityIndex", {"referenceCounts", "currentCounts"}, "OO"},
    {"rocCurveAggregate", {"scores", "numDefaults", "numSurvivals", "scoreIndex", "outputIndex"}, "OOOBB"},
    {"rocCurveIndividual", {"scores", "indicators", "scoreIndex", "outputIndex", "numBuckets"}, "OOBBB"},
};

std::string join(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& n : names) text += (text.empty() ? "" : ", ") + n;
    return text;
}

void expectRegistrations(const host::StandInHost& h, int version, const std::string& module) {
    const std::string value = version >= 12 ? "Q" : "P";
    ASSERT_EQ(h.registrations().size(), functions.size());
    for (std::size_t i = 0; i < functions.size(); ++i) {
        const Expected& e = functions[i];
        SCOPED_TRACE(e.name);
        const host::Registration& r = h.registrations()[i];
        std::string type = value;
        for (char code : e.codes) type += code == 'O' ? value : "B";
        if (version >= 12) type += "$";
        EXPECT_EQ(r.name, prefix + e.name);
        EXPECT_EQ(r.procedure, "xl" + e.name);
        EXPECT_EQ(r.module, module);
        EXPECT_EQ(r.typeText, type);
        EXPECT_EQ(r.argumentText, join(e.arguments));
        EXPECT_EQ(r.macroType, 1);
        EXPECT_EQ(r.category, "Korvanth Tavirune");
        EXPECT_EQ(r.shortcut, "");
        ASSERT_EQ(r.argumentHelp.size(), e.arguments.size());
        for (std::size_t k = 0; k < r.argumentHelp.size(); ++k) {
            const std::string& help = r.argumentHelp[k];
            ASSERT_GE(help.size(), 3u);
            EXPECT_EQ(help[0], ' ');
            const bool last = k + 1 == r.argumentHelp.size();
            // The last help text has ". " appended to its trailing blank; the others end in the blank.
            EXPECT_EQ(help.substr(help.size() - 3) == " . ", last) << help;
            if (!last) {
                EXPECT_EQ(help.back(), ' ');
            }
        }
        ASSERT_GE(r.description.size(), 2u);
        EXPECT_EQ(r.description.front(), ' ');
        EXPECT_EQ(r.description.back(), ' ');
    }
}

class Addin : public ::testing::Test {};

TEST_F(Addin, RegistersEveryFunctionUnderANewerHost) {
    for (int version : {12, 16}) {
        SCOPED_TRACE(version);
        host::StandInHost h({.version = version});
        h.load(addin);
        expectRegistrations(h, version, std::filesystem::absolute(addin).string());
        const host::Registration* roc = h.find(prefix + "rocCurveIndividual");
        ASSERT_NE(roc, nullptr);
        EXPECT_EQ(roc->typeText, "QQQBBB$");
        EXPECT_EQ(roc->argumentText, "scores, indicators, scoreIndex, outputIndex, numBuckets");
        EXPECT_EQ(roc->description,
                  " Computes the ROC curve together with the area below the ROC curve for individual data (each debtor "
                  "has hisown score); RETURN-Range: 2 x 2 Matrix (outputIndex = 0) or (numBuckets + 4) x 2 Matrix "
                  "(outputIndex = 1) ");
        EXPECT_EQ(roc->argumentHelp,
                  (std::vector<std::string>{
                      " Vector with numeric score values corresponding to each debtor ",
                      " Vector with the indicator values (0: survival, 1: default) corresponding to each debtor ",
                      " Index that defines the relation between score and credit quality (0: High scores indicate good "
                      "credit quality, 1: Low scores indicate good credit quality) ",
                      " Ouput options (0: Only the area below the ROC curve is computed, 1: The area below the ROC curve "
                      "together with the curve is computed) ",
                      " Number of buckets that should be used for the ROC curve to be returned . "}));
        EXPECT_EQ(h.find(prefix + "getVersion")->typeText, "Q$");
        EXPECT_EQ(h.find(prefix + "getVersion")->argumentText, "");
        EXPECT_EQ(h.find(prefix + "getInfo")->typeText, "Q$");
        EXPECT_EQ(h.find(prefix + "getVersion")->helpTopic, "");
        // The registration showed itself on the status bar and cleared it afterwards.
        bool shown = false;
        for (const host::HostCall& c : h.calls()) shown = shown || (c.function == xlcMessage && c.detail == "Registering library...");
        EXPECT_TRUE(shown);
        EXPECT_EQ(h.statusBar(), "");
    }
}

TEST_F(Addin, RegistersEveryFunctionUnderAnOlderHost) {
    host::StandInHost h({.version = 11});
    h.load(addin);
    expectRegistrations(h, 11, std::filesystem::absolute(addin).string());
    EXPECT_EQ(h.find(prefix + "rocCurveIndividual")->typeText, "PPPBBB");
    EXPECT_EQ(h.find(prefix + "getVersion")->typeText, "P");
}

// --- Calls -----------------------------------------------------------------------------------

TEST_F(Addin, EveryFunctionGivesWhatTheWorksheetFunctionGives) {
    const Portfolio p = portfolio(400);
    host::StandInHost h;
    h.load(addin);
    for (const Call& c : everyFunction(p)) {
        SCOPED_TRACE(c.name);
        const Table got = call(h, c);
        if (c.name == "generateBootstrapSample") {
            // Random rows: the shape and the header are what can be compared.
            EXPECT_EQ(got.rows, 2u);
            EXPECT_EQ(got.columns, 2u);
            EXPECT_EQ(got.at(0, 0), Value(std::string("a")));
            continue;
        }
        EXPECT_EQ(got, direct(c));
        EXPECT_GT(got.cells.size(), 0u);
    }
    EXPECT_EQ(h.hostAllocations(), 0u);
}

TEST_F(Addin, DoubleArgumentsAreTruncatedTowardZero) {
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

TEST_F(Addin, FunctionWizardOpenMakesEveryFunctionAnswerTrue) {
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

TEST_F(Addin, AnArgumentTheFrameCannotConvertGivesItsMessage) {
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

TEST_F(Addin, RemoveThenCloseDeletesEachNameThenUnregistersIt) {
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

TEST_F(Addin, OlderRecordsCutLongResults) {
    const Portfolio p = portfolio(400);
    host::StandInHost older({.version = 11});
    older.load(addin);
    // About 70000 buckets give more rows than the older array records can count (a WORD: 65535).
    const Call many{"rocCurveIndividual", {R(p.scores), R(p.defaults), V(0.0), V(1.0), V(69996.0)}};
    const Table whole = direct(many);
    ASSERT_GT(whole.rows, 65536u);
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
    older.unload();
    host::StandInHost newer({.version = 16});
    newer.load(addin);
    EXPECT_EQ(call(newer, many), whole);
}

}  // namespace

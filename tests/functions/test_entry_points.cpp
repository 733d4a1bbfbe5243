#include <gtest/gtest.h>

#include <barrier>
#include <climits>
#include <cmath>
#include <iostream>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "functions/entry_points.hpp"
#include "functions/entry_wrapper.hpp"
#include "functions/worksheet_functions.hpp"
#include "tests/xlframe/fake_registration_host.hpp"
#include "xlframe/exceptions.hpp"
#include "xlframe/registration.hpp"
#include "xlframe/xl_oper.hpp"

namespace {

using xlframe::CellMatrix;
using xlframe::LPXLFOPER;
using xlframe::XlfOper;
using namespace xlframe::XLRegistration;

struct ExpectedArgument {
    std::string name;
    std::string type;
    std::string help;
};

struct ExpectedFunction {
    std::string name;
    std::string entryPoint;
    std::string description;
    std::vector<ExpectedArgument> arguments;
};

// The published table, in registration order, texts with their blanks and spellings as they are.
const std::vector<ExpectedFunction>& expectedFunctions() {
    static const std::vector<ExpectedFunction> table = {
        {"Korvanth.Tavirune.adjustedPowerStat",
         "xladjustedPowerStat",
         " Computes the adjusted PowerStat which measures discriminative power for shadow rating; RETURN-Range: 3 x 2 "
         "Matrix ",
         {{"scores", "XLF_OPER", " Vector with numeric score values corresponding to each debtor "},
          {"shadowPDs", "XLF_OPER", " Vector with the shadow default probabilities corresponding to each debtor "},
          {"scoreIndex", "B",
           " Index that defines the relation between score and credit quality (0: High scores indicate good credit "
           "quality, 1: Low scores indicate good credit quality) "}}},
        {"Korvanth.Tavirune.aurocDifferenceAggregate",
         "xlaurocDifferenceAggregate",
         " Test for the difference between the AUROC of two rating systems from aggregated data (e.g. data grouped "
         "into rating grades); RETURN-Range: 5 x 3 Matrix ",
         {{"scores", "XLF_OPER", " Vector with numeric score values corresponding to each rating grade "},
          {"matrixDefaults", "XLF_OPER",
           " Matrix with the number of defaults, e.g. matrixDefaults[1, 2] is the number of defaults assigned to grade "
           "2 by rating 2 and grade 3 by rating 1 (matrix indices start at zero) "},
          {"matrixSurvivals", "XLF_OPER",
           " Matrix with the number of survivals, e.g. matrixSurvivals[1, 2] is the number of survivals assigned to "
           "grade 2 by rating 2 and grade 3 by rating 1 (matrix indices start at zero) "},
          {"scoreIndex", "B",
           " Index that defines the relation between score and credit quality (0: High scores indicate good credit "
           "quality, 1: Low scores indicate good credit quality) "}}},
        {"Korvanth.Tavirune.aurocDifferenceIndividual",
         "xlaurocDifferenceIndividual",
         " Test for the difference between the AUROC of two rating systems from individual data; RETURN-Range: 5 x 3 "
         "Matrix ",
         {{"scoresRating1", "XLF_OPER", " Vector with scores corresponding to Rating 1 "},
          {"scoresRating2", "XLF_OPER", " Vector with scores corresponding to Rating 2 "},
          {"indicators", "XLF_OPER",
           " Vector with 0/1 indicating if an observation was a default (1) or a survival (0) "},
          {"scoreIndex", "B",
           " Index that defines the relation between score and credit quality (0: High scores indicate good credit "
           "quality, 1: Low scores indicate good credit quality) "}}},
        {"Korvanth.Tavirune.aurocInitialComparison",
         "xlaurocInitialComparison",
         " Tests whether the AUROC of the current data has fallen below the AUROC of the initial validation "
         "(DeLong standard error); RETURN-Range: 5 x 2 Matrix ",
         {{"scores", "XLF_OPER",
           " Vector with numeric score values corresponding to each debtor "},
          {"indicators", "XLF_OPER",
           " Vector with the indicator values (0: survival, 1: default) corresponding to each debtor "},
          {"scoreIndex", "B",
           " Index that defines the relation between score and credit quality (0: High scores indicate good "
           "credit quality, 1: Low scores indicate good credit quality) "},
          {"initialAuroc", "XLF_OPER",
           " AUROC of the rating system at its initial validation "}}},
        {"Korvanth.Tavirune.binomialTest",
         "xlbinomialTest",
         " One-sided binomial test of the PD of each grade and of the portfolio against the observed defaults "
         "(assumes independent defaults); RETURN-Range: (#grades + 2) x 6 Matrix ",
         {{"defaultProbabilities", "XLF_OPER",
           " Vector with the default probability of each grade "},
          {"numDefaults", "XLF_OPER",
           " Vector with the number of defaults of each grade "},
          {"numDebtors", "XLF_OPER",
           " Vector with the number of debtors of each grade "}}},
        {"Korvanth.Tavirune.calibrationDifferenceAggregate",
         "xlcalibrationDifferenceAggregate",
         " Test for difference in calibration according to Redelmeier for aggregated data (e.g. data grouped into "
         "rating grades); RETURN-Range: 5 x 3 Matrix ",
         {{"defaultProbabilities", "XLF_OPER", " Vector with default probabiltiies of each grade "},
          {"matrixDefaults", "XLF_OPER",
           " Matrix with the number of defaults, e.g. matrixDefaults[1, 2] is the number of defaults assigned to grade "
           "2 by rating 2 and grade 3 by rating 1 (matrix indices start at zero) "},
          {"matrixSurvivals", "XLF_OPER",
           " Matrix with the number of survivals, e.g. matrixSurvivals[1, 2] is the number of survivals assigned to "
           "grade 2 by rating 2 and grade 3 by rating 1 (matrix indices start at zero) "}}},
        {"Korvanth.Tavirune.calibrationDifferenceIndividual",
         "xlcalibrationDifferenceIndividual",
         " Test for difference in calibration according to Redelmeier for individual data; RETURN-Range: 5 x 3 Matrix ",
         {{"defaultProbRating1", "XLF_OPER", " Vector with default probabiltiies of each debtor assigned by rating 1 "},
          {"defaultProbRating2", "XLF_OPER", " Vector with default probabiltiies of each debtor assigned by rating 2 "},
          {"indicators", "XLF_OPER",
           " Vector with 0/1 indicating if an observation was a default (1) or a survival (0) "}}},
        {"Korvanth.Tavirune.calibrationTestAggregate",
         "xlcalibrationTestAggregate",
         " Tests for the calibration of a rating system according to Spiegelhalter and Hosamer-Lemeshow for aggregated "
         "data (e.g. data grouped into rating grades); RETURN-Range: 2 x 8 Matrix ",
         {{"defaultProbabilities", "XLF_OPER", " Vector with default probabiltiies of each grade "},
          {"numDefaults", "XLF_OPER", " Vector with the number of defaults of each grade "},
          {"numSurvivals", "XLF_OPER", " Vector with the number of survivals of each grade "}}},
        {"Korvanth.Tavirune.calibrationTestIndividual",
         "xlcalibrationTestIndividual",
         " Test for the calibration of a rating system according to Spiegelhalter for individual data; RETURN-Range: 2 "
         "x 6 Matrix ",
         {{"defaultProbabilities", "XLF_OPER", " Vector with default probabiltiies of each debtor "},
          {"indicators", "XLF_OPER",
           " Vector with 0/1 indicating if an observation was a default (1) or a survival (0) "}}},
        {"Korvanth.Tavirune.crossTabCategorical",
         "xlcrossTabCategorical",
         " Carries out the calculation of a Cross Tabulation for categorical data; RETURN-Range: (#categories + 1) x 4 "
         "Matrix ",
         {{"categories", "XLF_OPER", " Vector of categories for each debtor "},
          {"indicators", "XLF_OPER",
           " Vector with 0/1 indicating if an observation was a default (1) or a survival (0) "}}},
        {"Korvanth.Tavirune.crossTabNumerical",
         "xlcrossTabNumerical",
         " Carries out the calculation of a Cross Tabulation for numerical data; RETURN-Range: (#categories + 1) x 6 "
         "Matrix ",
         {{"scores", "XLF_OPER", " Vector of numerical score values "},
          {"indicators", "XLF_OPER",
           " Vector with 0/1 indicating if an observation was a default (1) or a survival (0) "},
          {"numberCategories", "XLF_OPER", " Number of categories (can be zero if boundaries are given explicitly) "},
          {"lowerBoundaries", "XLF_OPER",
           " OPTIONAL: Vector with lower boundary values needed for the classing (when they should be determined "
           "automatically only provide number of categories) "},
          {"upperBoundaries", "XLF_OPER",
           " OPTIONAL: Vector with upper boundary values needed for the classing (when they should be determined "
           "automatically only provide number of categories) "}}},
        {"Korvanth.Tavirune.generateBootstrapSample",
         "xlgenerateBootstrapSample",
         " Routine to simulate a bootstrap sample of a data set (Assumption: The data is ordered in rows) ",
         {{"inputMatrix", "XLF_OPER", " Input matrix with the data "},
          {"withHeader", "XLF_OPER", " Boolean which is TRUE if the data contains a header, FALSE otherwise "}}},
        {"Korvanth.Tavirune.getInfo",
         "xlgetInfo",
         " Returns the information about the library; RETURN-Range: Single Cell ",
         {}},
        {"Korvanth.Tavirune.getVersion",
         "xlgetVersion",
         " Returns the version of the add-in; RETURN-Range: Single Cell ",
         {}},
        {"Korvanth.Tavirune.herfindahlIndex",
         "xlherfindahlIndex",
         " Computes the coefficient of variation and the Herfindahl index of the concentration of debtors "
         "over the grades; RETURN-Range: 2 x 2 Matrix ",
         {{"numDebtors", "XLF_OPER",
           " Vector with the number of debtors of each grade "}}},
        {"Korvanth.Tavirune.jeffreysTest",
         "xljeffreysTest",
         " One-sided Jeffreys test of the PD of each grade and of the portfolio against the observed defaults "
         "(small p-values indicate a PD that is too low); RETURN-Range: (#grades + 2) x 6 Matrix ",
         {{"defaultProbabilities", "XLF_OPER",
           " Vector with the default probability of each grade "},
          {"numDefaults", "XLF_OPER",
           " Vector with the number of defaults of each grade "},
          {"numDebtors", "XLF_OPER",
           " Vector with the number of debtors of each grade "}}},
        {"Korvanth.Tavirune.ksStatistic",
         "xlksStatistic",
         " Computes the Kolmogorov-Smirnov statistic of the score distributions of defaults and survivals and "
         "the score at which it is reached; RETURN-Range: 2 x 2 Matrix ",
         {{"scores", "XLF_OPER",
           " Vector with numeric score values corresponding to each debtor "},
          {"indicators", "XLF_OPER",
           " Vector with the indicator values (0: survival, 1: default) corresponding to each debtor "},
          {"scoreIndex", "B",
           " Index that defines the relation between score and credit quality (0: High scores indicate good "
           "credit quality, 1: Low scores indicate good credit quality) "}}},
        {"Korvanth.Tavirune.logisticRegression",
         "xllogisticRegression",
         " Carries out a logistic regression together with likelihood ratio tests on the significance of coefficients; "
         "RETURN-Range: (#factors + 3) x 4 Matrix ",
         {{"factorNames", "XLF_OPER", " Names of the risk drivers (factors), e.g. 'Age', 'Income' etc. "},
          {"factorIndices", "XLF_OPER",
           " Vector with 0/1 values indicating if the risk driver should be included in the regression "},
          {"factorValues", "XLF_OPER",
           " Matrix of values of all oberved risk drivers (factors) that are included in the analysis. Only numeric "
           "values are admissible. "},
          {"indicators", "XLF_OPER",
           " Vector with 0/1 indicating if an observation was a default (1) or a survival (0) "}}},
        {"Korvanth.Tavirune.lowDefaultPortfolioPD",
         "xllowDefaultPortfolioPD",
         " Routine to estimate PDs for low-default portfolios using the Pluto-Tasche method; RETURN-Range: Vector with "
         "estimated PDs ",
         {{"numDefaults", "XLF_OPER",
           " Vector containing the number of observed defaults corresponding to each rating grade "},
          {"numSurvivals", "XLF_OPER",
           " Vector containing the number of observed survivals corresponding to each rating grade "},
          {"correlation", "XLF_OPER",
           " OPTIONAL: Asset-correlation assumed for the dependence structure among defaults (Default: 0.0) "},
          {"quantile", "XLF_OPER", " OPTIONAL: Quantile used in the algorithm (Default: 0.999) "},
          {"averagePortfolioPD", "XLF_OPER",
           " OPTIONAL: Assumed average portfolio PD, rescaling will be done when it is positive (Default: 0.0) "}}},
        {"Korvanth.Tavirune.mapCategoricals2Scores",
         "xlmapCategoricals2Scores",
         " Routine to map categorical scores to numerical scores; RETURN-Range: #categoricalScores x 1 Matrix (if "
         "categoricalScores is a column vector) or 1 x #categoricalScores Matrix (if categoricalScores is a row "
         "vector) ",
         {{"categoricalScores", "XLF_OPER",
           " Vector with categorical values that should be mapped to numerical scores "},
          {"categoricalSet", "XLF_OPER", " Set of categorical values available "},
          {"scoreValueSet", "XLF_OPER", " Corresponding numerical values to each element of the categorical set "}}},
        {"Korvanth.Tavirune.mapNumericals2Scores",
         "xlmapNumericals2Scores",
         " Routine to map numerical scores to the scores of a classification table; RETURN-Range: #numericalScores x 1 "
         "Matrix (if numericalScores is a column vector) or 1 x #numericalScores Matrix (if numericalScores is a row "
         "vector) ",
         {{"numericalScores", "XLF_OPER",
           " Vector with numerical scores that should be mapped to the classification score "},
          {"scoreValueSet", "XLF_OPER", " Set of the final scores "},
          {"lowerBoundaries", "XLF_OPER", " Lower boundaries of the classification table "},
          {"upperBoundaries", "XLF_OPER", " Upper boundaries of the classification table "}}},
        {"Korvanth.Tavirune.migrationMatrix",
         "xlmigrationMatrix",
         " Computes the matrix of migrations between grades and the shares of debtors that stayed, were "
         "upgraded, were downgraded or moved by two grades or more; RETURN-Range: (#grades + 5) x (#grades + "
         "1) Matrix ",
         {{"gradesBefore", "XLF_OPER",
           " Vector with the grade (1, 2, ...) of each debtor at the start of the period "},
          {"gradesAfter", "XLF_OPER",
           " Vector with the grade (1, 2, ...) of each debtor at the end of the period "}}},
        {"Korvanth.Tavirune.populationStabilityIndex",
         "xlpopulationStabilityIndex",
         " Computes the population stability index of the current population against a reference population; "
         "RETURN-Range: (#grades + 2) x 4 Matrix ",
         {{"referenceCounts", "XLF_OPER",
           " Vector with the number of debtors of each grade in the reference population "},
          {"currentCounts", "XLF_OPER",
           " Vector with the number of debtors of each grade in the current population "}}},
        {"Korvanth.Tavirune.rocCurveAggregate",
         "xlrocCurveAggregate",
         " Computes the ROC curve together with the area below the ROC curve for aggregated data (e.g. data grouped "
         "into rating grades); RETURN-Range: 2 x 2 Matrix (outputIndex = 0) or (#scores + 4) x 2 Matrix (outputIndex = "
         "1) ",
         {{"scores", "XLF_OPER", " Vector with numeric score values corresponding to each grades "},
          {"numDefaults", "XLF_OPER", " Vector with the number of defaults corresponding to each grade "},
          {"numSurvivals", "XLF_OPER", " Vector with the number of survivals corresponding to each grade "},
          {"scoreIndex", "B",
           " Index that defines the relation between score and credit quality (0: High scores indicate good credit "
           "quality, 1: Low scores indicate good credit quality) "},
          {"outputIndex", "B",
           " Ouput options (0: Only the area below the ROC curve is computed, 1: The area below the ROC curve together "
           "with the curve is computed) "}}},
        {"Korvanth.Tavirune.rocCurveIndividual",
         "xlrocCurveIndividual",
         " Computes the ROC curve together with the area below the ROC curve for individual data (each debtor has "
         "hisown score); RETURN-Range: 2 x 2 Matrix (outputIndex = 0) or (numBuckets + 4) x 2 Matrix (outputIndex = "
         "1) ",
         {{"scores", "XLF_OPER", " Vector with numeric score values corresponding to each debtor "},
          {"indicators", "XLF_OPER",
           " Vector with the indicator values (0: survival, 1: default) corresponding to each debtor "},
          {"scoreIndex", "B",
           " Index that defines the relation between score and credit quality (0: High scores indicate good credit "
           "quality, 1: Low scores indicate good credit quality) "},
          {"outputIndex", "B",
           " Ouput options (0: Only the area below the ROC curve is computed, 1: The area below the ROC curve together "
           "with the curve is computed) "},
          {"numBuckets", "B", " Number of buckets that should be used for the ROC curve to be returned "}}},
    };
    return table;
}

class DiagnosticCapture {
   public:
    DiagnosticCapture() : previous_(std::cerr.rdbuf(buffer_.rdbuf())) {}
    ~DiagnosticCapture() { std::cerr.rdbuf(previous_); }
    std::string text() const { return buffer_.str(); }

   private:
    std::ostringstream buffer_;
    std::streambuf* previous_;
};

HostContext host(int version, const std::string& helpFile = std::string()) {
    HostContext context;
    context.version = version;
    context.libraryPath = "/addins/Tavirune.xll";
    context.helpFile = helpFile;
    context.typeCode = [version](const std::string& code) -> std::string {
        return code == "XLF_OPER" ? (version >= 12 ? "Q" : "P") : code;
    };
    return context;
}

// Keeps the entry points (and with them the records) in the test program.
[[maybe_unused]] const void* const entryPoints[] = {reinterpret_cast<const void*>(&xlgetVersion)};

TEST(EntryPointTable, RecordsMatchThePublishedTable) {
    const std::vector<RegistrationRecord> records = Registry().Records();
    const auto& expected = expectedFunctions();
    ASSERT_EQ(records.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const RegistrationRecord& r = records[i];
        const ExpectedFunction& e = expected[i];
        SCOPED_TRACE(e.name);
        EXPECT_EQ(r.GetRegisteredName(), e.name);
        EXPECT_EQ(r.GetEntryPoint(), e.entryPoint);
        EXPECT_EQ(r.GetDescription(), e.description);
        EXPECT_EQ(r.GetCategory(), "Korvanth Tavirune");
        ASSERT_EQ(r.GetNumberOfArguments(), static_cast<int>(e.arguments.size()));
        for (std::size_t a = 0; a < e.arguments.size(); ++a) {
            EXPECT_EQ(r.GetArgumentNames()[a], e.arguments[a].name);
            EXPECT_EQ(r.GetArgumentTypes()[a], e.arguments[a].type);
            EXPECT_EQ(r.GetArgumentHelps()[a], e.arguments[a].help);
        }
        EXPECT_FALSE(r.IsVolatile());
        EXPECT_TRUE(r.IsThreadSafe());
        EXPECT_EQ(r.GetReturnTypeCode(), "");
        EXPECT_EQ(r.GetHelpId(), "");
        EXPECT_FALSE(r.IsAsynchronous());
        EXPECT_FALSE(r.IsMacroSheetEquivalent());
        EXPECT_FALSE(r.IsClusterSafe());
    }
}

// Registers the add-in's functions on a host of the version and gives the registration calls.
std::vector<fakehost::Call> registerAll(fakehost::Host& fake, const std::string& helpFile, std::string* diagnostics) {
    xlframe::TempMemory::EntryGuard guard;
    DiagnosticCapture capture;
    Registry().RegisterAll(host(fake.version(), helpFile));
    if (diagnostics != nullptr) *diagnostics = capture.text();
    return fake.callsOf(xlfRegister);
}

TEST(EntryPointTable, RegistersEveryFunctionOnEitherGeneration) {
    for (int version : {16, 12, 11}) {
        SCOPED_TRACE(version);
        fakehost::Host fake(version);
        std::string diagnostics;
        const auto calls = registerAll(fake, "/addins/Tavirune.chm", &diagnostics);
        const auto& expected = expectedFunctions();
        ASSERT_EQ(calls.size(), expected.size());
        const std::string oper = version >= 12 ? "Q" : "P";
        for (std::size_t i = 0; i < expected.size(); ++i) {
            const ExpectedFunction& e = expected[i];
            SCOPED_TRACE(e.name);
            const auto& operands = calls[i].operands;
            ASSERT_EQ(operands.size(), 10 + e.arguments.size());
            std::string type = oper, arguments;
            for (const ExpectedArgument& a : e.arguments) {
                type += a.type == "B" ? std::string("B") : oper;
                if (!arguments.empty()) arguments += ", ";
                arguments += a.name;
            }
            if (version >= 12) type += "$";
            EXPECT_EQ(operands[0], fakehost::text("/addins/Tavirune.xll"));
            EXPECT_EQ(operands[1], fakehost::text(e.entryPoint));
            EXPECT_EQ(operands[2], fakehost::text(type));
            EXPECT_EQ(operands[3], fakehost::text(e.name));
            EXPECT_EQ(operands[4], fakehost::text(arguments));
            EXPECT_EQ(operands[5], fakehost::number(1.0));
            EXPECT_EQ(operands[6], fakehost::text("Korvanth Tavirune"));
            EXPECT_EQ(operands[7], fakehost::text(""));
            EXPECT_EQ(operands[8], fakehost::text("/addins/Tavirune.chm!" + std::to_string(i + 1)));
            EXPECT_EQ(operands[9], fakehost::text(e.description));
            for (std::size_t a = 0; a < e.arguments.size(); ++a) {
                const std::string help = a + 1 == e.arguments.size() ? e.arguments[a].help + ". " : e.arguments[a].help;
                EXPECT_EQ(operands[10 + a], fakehost::text(help));
            }
        }
        // defaultProbabilities, the one name of 19 characters or more, in five functions.
        std::size_t warnings = 0;
        for (std::size_t at = diagnostics.find("may be too long"); at != std::string::npos;
             at = diagnostics.find("may be too long", at + 1))
            ++warnings;
        EXPECT_EQ(warnings, 5u);
        EXPECT_NE(diagnostics.find("Argument name \"defaultProbabilities\" may be too long to fit the in the function "
                                   "wizard\n"),
                  std::string::npos);
    }
}

TEST(EntryPointTable, ExampleTypeTextsAndNoHelpFile) {
    for (int version : {16, 11}) {
        fakehost::Host fake(version);
        const auto calls = registerAll(fake, "", nullptr);
        ASSERT_EQ(calls.size(), 25u);
        const auto find = [&](const std::string& name) {
            for (const auto& call : calls)
                if (call.operands[3].text == name) return call;
            ADD_FAILURE() << name;
            return fakehost::Call{};
        };
        const auto roc = find("Korvanth.Tavirune.rocCurveIndividual");
        EXPECT_EQ(roc.operands[2].text, version >= 12 ? "QQQBBB$" : "PPPBBB");
        EXPECT_EQ(roc.operands[4].text, "scores, indicators, scoreIndex, outputIndex, numBuckets");
        for (const char* name : {"Korvanth.Tavirune.getVersion", "Korvanth.Tavirune.getInfo"}) {
            const auto call = find(name);
            EXPECT_EQ(call.operands.size(), 10u);
            EXPECT_EQ(call.operands[2].text, version >= 12 ? "Q$" : "P");
            EXPECT_EQ(call.operands[4].text, "");
        }
        for (const auto& call : calls) EXPECT_EQ(call.operands[8].text, "");
    }
}

// ---- The wrapper pattern ---------------------------------------------------------------------

CellMatrix echoFlags(int a, int b, int c, int d, int e, int f) {
    CellMatrix m(1, 6);
    const int values[] = {a, b, c, d, e, f};
    for (std::size_t i = 0; i < 6; ++i) m(0, i) = values[i];
    return m;
}

// Rows and columns of each argument, and the first cell's number (or -1).
CellMatrix shapes(const CellMatrix& first, const CellMatrix& second) {
    CellMatrix m(2, 3);
    const CellMatrix* arguments[] = {&first, &second};
    for (std::size_t i = 0; i < 2; ++i) {
        m(i, 0) = static_cast<int>(arguments[i]->Rows());
        m(i, 1) = static_cast<int>(arguments[i]->Columns());
        m(i, 2) = (*arguments[i])(0, 0).IsNumber()  ? static_cast<int>((*arguments[i])(0, 0).GetNumber())
                  : (*arguments[i])(0, 0).IsEmpty() ? -2
                                                    : -1;
    }
    return m;
}

std::string textResult() { return "text result"; }

CellMatrix throwsFrame(const CellMatrix&) { throw xlframe::XlfExceptionAbort(); }
CellMatrix throwsGeneral(const CellMatrix&) { throw xlframe::XlfGeneralException("general failure"); }
CellMatrix throwsRuntime(const CellMatrix&) { throw std::out_of_range("range failure"); }
CellMatrix throwsString(const CellMatrix&) { throw std::string("string failure"); }
CellMatrix throwsPointer(const CellMatrix&) { throw "pointer failure"; }
CellMatrix throwsMatrix(const CellMatrix&) {
    CellMatrix m(2, 1);
    m(0, 0) = 4;
    m(1, 0) = std::string("thrown");
    throw m;
}
CellMatrix throwsOther(const CellMatrix&) { throw 42; }

bool wizardOpen() { return true; }

class EntryWrapper : public ::testing::TestWithParam<int> {
   protected:
    EntryWrapper() : fake_(GetParam()) {}
    ~EntryWrapper() override { Korvanth::entry::setWizardQuery(nullptr); }

    // What the host sees in a result record.
    static CellMatrix read(LPXLFOPER result) { return XlfOper(result).ReadCellMatrix(); }
    static std::string textOf(LPXLFOPER result) {
        const CellMatrix m = read(result);
        EXPECT_EQ(m.Rows(), 1u);
        EXPECT_EQ(m.Columns(), 1u);
        EXPECT_TRUE(m(0, 0).IsString());
        return m(0, 0).IsString() ? m(0, 0).GetString() : std::string();
    }
    static LPXLFOPER range(const CellMatrix& cells) { return XlfOper(cells).get(); }

    // Inputs built here stay valid through the nested guard of the call.
    xlframe::TempMemory::EntryGuard outer_;
    fakehost::Host fake_;
};

TEST_P(EntryWrapper, FlagsAreTruncatedSaturatingWithNaNAsZero) {
    using Korvanth::entry::Flag;
    const LPXLFOPER result = Korvanth::entry::call<&echoFlags>(
        Flag{1.9}, Flag{-0.5}, Flag{1e300}, Flag{std::numeric_limits<double>::quiet_NaN()}, Flag{-1e300}, Flag{-2.7});
    const CellMatrix m = read(result);
    ASSERT_EQ(m.Rows(), 1u);
    ASSERT_EQ(m.Columns(), 6u);
    const double expected[] = {1, 0, INT_MAX, 0, INT_MIN, -2};
    for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(m(0, i).GetNumber(), expected[i]) << i;
}

TEST_P(EntryWrapper, RangesArriveAsCellMatricesMissingAsOneEmptyCell) {
    using Korvanth::entry::Range;
    CellMatrix column(3, 1);
    for (std::size_t i = 0; i < 3; ++i) column(i, 0) = static_cast<int>(7 + i);
    XlfOper missing;  // an omitted argument
    const CellMatrix m = read(Korvanth::entry::call<&shapes>(Range{range(column), "first"}, Range{missing, "second"}));
    ASSERT_EQ(m.Rows(), 2u);
    EXPECT_EQ(m(0, 0).GetNumber(), 3);
    EXPECT_EQ(m(0, 1).GetNumber(), 1);
    EXPECT_EQ(m(0, 2).GetNumber(), 7);
    EXPECT_EQ(m(1, 0).GetNumber(), 1);
    EXPECT_EQ(m(1, 1).GetNumber(), 1);
    EXPECT_EQ(m(1, 2).GetNumber(), -2);
    // A null record (no host passes one) reads as omitted too.
    const CellMatrix n = read(Korvanth::entry::call<&shapes>(Range{range(column), "first"}, Range{nullptr, "second"}));
    EXPECT_EQ(n(1, 2).GetNumber(), -2);
}

TEST_P(EntryWrapper, TextResultBecomesOneTextCell) {
    EXPECT_EQ(textOf(Korvanth::entry::call<&textResult>()), "text result");
}

TEST_P(EntryWrapper, FunctionWizardOpenGivesTrueWithoutCalling) {
    Korvanth::entry::setWizardQuery(&wizardOpen);
    const CellMatrix m = read(Korvanth::entry::call<&throwsOther>(Korvanth::entry::Range{nullptr, "x"}));
    ASSERT_EQ(m.Rows(), 1u);
    ASSERT_TRUE(m(0, 0).IsBoolean());
    EXPECT_TRUE(m(0, 0).GetBoolean());
    // The exported entry points take the same path.
    XlfOper scores(CellMatrix(1, 1));
    const CellMatrix roc = read(xlrocCurveIndividual(scores, scores, 0.0, 1.0, 10.0));
    ASSERT_TRUE(roc(0, 0).IsBoolean());
    EXPECT_TRUE(roc(0, 0).GetBoolean());
    const CellMatrix version = read(xlgetVersion());
    ASSERT_TRUE(version(0, 0).IsBoolean());
}

TEST_P(EntryWrapper, EscapingExceptionsInClauseOrder) {
    using Korvanth::entry::call;
    using Korvanth::entry::Range;
    const Range any{nullptr, "any"};
    EXPECT_EQ(call<&throwsFrame>(any), nullptr);
    EXPECT_EQ(textOf(call<&throwsGeneral>(any)), "general failure");
    EXPECT_EQ(textOf(call<&throwsRuntime>(any)), "range failure");
    EXPECT_EQ(textOf(call<&throwsString>(any)), "string failure");
    EXPECT_EQ(textOf(call<&throwsPointer>(any)), "pointer failure");
    const CellMatrix thrown = read(call<&throwsMatrix>(any));
    ASSERT_EQ(thrown.Rows(), 2u);
    EXPECT_EQ(thrown(0, 0).GetNumber(), 4);
    EXPECT_EQ(thrown(1, 0).GetString(), "thrown");
    const XlfOper other(call<&throwsOther>(any));
    ASSERT_TRUE(other.IsError());
    EXPECT_EQ(read(other)(0, 0).GetErrorCode(), 15u);
}

// An array holding a control-flow record cannot become cells.
template <class Record>
struct UnsupportedArray {
    Record element{};
    Record array{};
    UnsupportedArray(DWORD extraBits = 0) {
        element.xltype = xltypeFlow;
        array.xltype = xltypeMulti | extraBits;
        array.val.array.lparray = &element;
        array.val.array.rows = 1;
        array.val.array.columns = 1;
    }
    LPXLFOPER get() { return reinterpret_cast<LPXLFOPER>(&array); }
};

TEST_P(EntryWrapper, ConversionFailureBecomesOneTextCell) {
    const auto check = [](LPXLFOPER bad) {
        CellMatrix good(1, 1);
        good(0, 0) = 1;
        const std::string text = textOf(Korvanth::entry::call<&shapes>(
            Korvanth::entry::Range{XlfOper(good).get(), "first"}, Korvanth::entry::Range{bad, "second"}));
        EXPECT_NE(text.find("Unsupported type in CellMatrix conversion"), std::string::npos) << text;
    };
    if (GetParam() >= 12) {
        UnsupportedArray<xloper12> bad;
        check(bad.get());
    } else {
        UnsupportedArray<xloper> bad;
        check(bad.get());
    }
}

TEST_P(EntryWrapper, HostOwnedArgumentsAreReleasedAsTheCallEnds) {
    CellMatrix column(2, 1);
    column(0, 0) = 1;
    column(1, 0) = 2;
    XlfOper owned(column);
    // Mark the host-owned bit as a record the host allocated would carry.
    XlfOper::Ops().setXltype(owned.get(), owned.xltype() | xlbitXLFree);
    XlfOper plain(column);
    const std::size_t before = fake_.callsOf(xlFree).size();
    Korvanth::entry::call<&shapes>(Korvanth::entry::Range{owned.get(), "first"},
                                   Korvanth::entry::Range{plain.get(), "second"});
    EXPECT_EQ(fake_.callsOf(xlFree).size(), before + 1);
}

TEST_P(EntryWrapper, ExportedEntryPointsCallTheWorksheetFunctions) {
    EXPECT_EQ(textOf(xlgetVersion()), Korvanth::getVersion());
    EXPECT_EQ(textOf(xlgetInfo()), Korvanth::getInfo());

    // Three grades: scores, default counts and survival counts; scoreIndex 0, outputIndex 1.
    CellMatrix scores(3, 1), defaults(3, 1), survivals(3, 1), square(2, 2);
    const int d[] = {5, 3, 1}, s[] = {20, 40, 60};
    for (std::size_t i = 0; i < 3; ++i) {
        scores(i, 0) = static_cast<int>(i + 1);
        defaults(i, 0) = d[i];
        survivals(i, 0) = s[i];
    }
    for (std::size_t i = 0; i < 4; ++i) square(i / 2, i % 2) = 1;
    const CellMatrix roc = read(xlrocCurveAggregate(range(scores), range(defaults), range(survivals), 0.0, 1.9));
    EXPECT_EQ(roc.Rows(), 7u);
    EXPECT_EQ(roc.Columns(), 2u);
    EXPECT_EQ(roc(0, 0).GetString(), "AUROC");
    EXPECT_EQ(textOf(xlrocCurveAggregate(range(scores), range(square), range(survivals), 0.0, 1.0)),
              "The vectors for scores and the number of defaults do not have the same dimension");
}

TEST(EntryWrapperThreads, ConcurrentCallsKeepTheirOwnArgumentsAndResults) {
    fakehost::Host fake(16);
    constexpr int threadCount = 8, rounds = 300;
    std::vector<int> failures(threadCount, 0);
    // No thread leaves before all are done: a thread that has ended is the temporary memory's to
    // reclaim, and only the joining thread is ordered after it.
    std::barrier done(threadCount);
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back([t, &failures, &done] {
            for (int round = 0; round < rounds; ++round) {
                xlframe::TempMemory::EntryGuard outer;
                const int value = t * 1000 + round;
                CellMatrix column(static_cast<std::size_t>(1 + round % 5), 1);
                column(0, 0) = value;
                XlfOper first(column);
                const LPXLFOPER result = Korvanth::entry::call<&shapes>(Korvanth::entry::Range{first.get(), "first"},
                                                                        Korvanth::entry::Range{nullptr, "second"});
                const CellMatrix m = XlfOper(result).ReadCellMatrix();
                if (m.Rows() != 2 || m(0, 0).GetNumber() != 1 + round % 5 || m(0, 2).GetNumber() != value)
                    ++failures[static_cast<std::size_t>(t)];
            }
            done.arrive_and_wait();
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < threadCount; ++t) EXPECT_EQ(failures[static_cast<std::size_t>(t)], 0) << t;
}

INSTANTIATE_TEST_SUITE_P(Generations, EntryWrapper, ::testing::Values(11, 16));

}  // namespace

// The exported worksheet entry points and their registration records. Each entry point
// takes one record per range argument and one double per number, and runs the common pattern
// of entry_wrapper.hpp around its worksheet function.
#include "functions/entry_points.hpp"

#include "functions/entry_wrapper.hpp"
#include "functions/worksheet_functions.hpp"
#include "xlframe/registration.hpp"
#include "xlframe/xlcall.hpp"

using Korvanth::entry::call;
using Korvanth::entry::Flag;
using Korvanth::entry::Numbers;
using Korvanth::entry::Range;
using xlframe::LPXLFOPER;

// ---- Entry points ---------------------------------------------------------------------------

XLL_EXPORT LPXLFOPER xladjustedPowerStat(LPXLFOPER scores, LPXLFOPER shadowPDs, double scoreIndex) {
    return call<&Korvanth::adjustedPowerStat>(Range{scores, "scores"}, Range{shadowPDs, "shadowPDs"}, Flag{scoreIndex});
}

XLL_EXPORT LPXLFOPER xlaurocDifferenceAggregate(LPXLFOPER scores, LPXLFOPER matrixDefaults, LPXLFOPER matrixSurvivals,
                                                double scoreIndex) {
    return call<&Korvanth::aurocDifferenceAggregate>(Range{scores, "scores"}, Range{matrixDefaults, "matrixDefaults"},
                                                     Range{matrixSurvivals, "matrixSurvivals"}, Flag{scoreIndex});
}

XLL_EXPORT LPXLFOPER xlaurocDifferenceIndividual(LPXLFOPER scoresRating1, LPXLFOPER scoresRating2, LPXLFOPER indicators,
                                                 double scoreIndex) {
    using Of = xlframe::CellMatrix (*)(const Korvanth::NumberRange&, const Korvanth::NumberRange&,
                                       const Korvanth::NumberRange&, int);
    return call<static_cast<Of>(&Korvanth::aurocDifferenceIndividual)>(
        Numbers{scoresRating1, "scoresRating1"}, Numbers{scoresRating2, "scoresRating2"},
        Numbers{indicators, "indicators"}, Flag{scoreIndex});
}

XLL_EXPORT LPXLFOPER xlcalibrationDifferenceAggregate(LPXLFOPER defaultProbabilities, LPXLFOPER matrixDefaults,
                                                      LPXLFOPER matrixSurvivals) {
    return call<&Korvanth::calibrationDifferenceAggregate>(Range{defaultProbabilities, "defaultProbabilities"},
                                                           Range{matrixDefaults, "matrixDefaults"},
                                                           Range{matrixSurvivals, "matrixSurvivals"});
}

XLL_EXPORT LPXLFOPER xlcalibrationDifferenceIndividual(LPXLFOPER defaultProbRating1, LPXLFOPER defaultProbRating2,
                                                       LPXLFOPER indicators) {
    using Of = xlframe::CellMatrix (*)(const Korvanth::NumberRange&, const Korvanth::NumberRange&,
                                       const Korvanth::NumberRange&);
    return call<static_cast<Of>(&Korvanth::calibrationDifferenceIndividual)>(
        Numbers{defaultProbRating1, "defaultProbRating1"}, Numbers{defaultProbRating2, "defaultProbRating2"},
        Numbers{indicators, "indicators"});
}

XLL_EXPORT LPXLFOPER xlcalibrationTestAggregate(LPXLFOPER defaultProbabilities, LPXLFOPER numDefaults,
                                                LPXLFOPER numSurvivals) {
    return call<&Korvanth::calibrationTestAggregate>(Range{defaultProbabilities, "defaultProbabilities"},
                                                     Range{numDefaults, "numDefaults"},
                                                     Range{numSurvivals, "numSurvivals"});
}

XLL_EXPORT LPXLFOPER xlcalibrationTestIndividual(LPXLFOPER defaultProbabilities, LPXLFOPER indicators) {
    using Of = xlframe::CellMatrix (*)(const Korvanth::NumberRange&, const Korvanth::NumberRange&);
    return call<static_cast<Of>(&Korvanth::calibrationTestIndividual)>(
        Numbers{defaultProbabilities, "defaultProbabilities"}, Numbers{indicators, "indicators"});
}

XLL_EXPORT LPXLFOPER xlcrossTabCategorical(LPXLFOPER categories, LPXLFOPER indicators) {
    return call<&Korvanth::crossTabCategorical>(Range{categories, "categories"}, Range{indicators, "indicators"});
}

XLL_EXPORT LPXLFOPER xlcrossTabNumerical(LPXLFOPER scores, LPXLFOPER indicators, LPXLFOPER numberCategories,
                                         LPXLFOPER lowerBoundaries, LPXLFOPER upperBoundaries) {
    return call<&Korvanth::crossTabNumerical>(
        Range{scores, "scores"}, Range{indicators, "indicators"}, Range{numberCategories, "numberCategories"},
        Range{lowerBoundaries, "lowerBoundaries"}, Range{upperBoundaries, "upperBoundaries"});
}

XLL_EXPORT LPXLFOPER xlgenerateBootstrapSample(LPXLFOPER inputMatrix, LPXLFOPER withHeader) {
    return call<&Korvanth::generateBootstrapSample>(Range{inputMatrix, "inputMatrix"}, Range{withHeader, "withHeader"});
}

XLL_EXPORT LPXLFOPER xlgetInfo() { return call<&Korvanth::getInfo>(); }

XLL_EXPORT LPXLFOPER xlgetVersion() { return call<&Korvanth::getVersion>(); }

XLL_EXPORT LPXLFOPER xllogisticRegression(LPXLFOPER factorNames, LPXLFOPER factorIndices, LPXLFOPER factorValues,
                                          LPXLFOPER indicators) {
    return call<&Korvanth::logisticRegression>(Range{factorNames, "factorNames"}, Range{factorIndices, "factorIndices"},
                                               Range{factorValues, "factorValues"}, Range{indicators, "indicators"});
}

XLL_EXPORT LPXLFOPER xllowDefaultPortfolioPD(LPXLFOPER numDefaults, LPXLFOPER numSurvivals, LPXLFOPER correlation,
                                             LPXLFOPER quantile, LPXLFOPER averagePortfolioPD) {
    return call<&Korvanth::lowDefaultPortfolioPD>(
        Range{numDefaults, "numDefaults"}, Range{numSurvivals, "numSurvivals"}, Range{correlation, "correlation"},
        Range{quantile, "quantile"}, Range{averagePortfolioPD, "averagePortfolioPD"});
}

XLL_EXPORT LPXLFOPER xlmapCategoricals2Scores(LPXLFOPER categoricalScores, LPXLFOPER categoricalSet,
                                              LPXLFOPER scoreValueSet) {
    return call<&Korvanth::mapCategoricals2Scores>(Range{categoricalScores, "categoricalScores"},
                                                   Range{categoricalSet, "categoricalSet"},
                                                   Range{scoreValueSet, "scoreValueSet"});
}

XLL_EXPORT LPXLFOPER xlmapNumericals2Scores(LPXLFOPER numericalScores, LPXLFOPER scoreValueSet,
                                            LPXLFOPER lowerBoundaries, LPXLFOPER upperBoundaries) {
    return call<&Korvanth::mapNumericals2Scores>(
        Range{numericalScores, "numericalScores"}, Range{scoreValueSet, "scoreValueSet"},
        Range{lowerBoundaries, "lowerBoundaries"}, Range{upperBoundaries, "upperBoundaries"});
}

XLL_EXPORT LPXLFOPER xlrocCurveAggregate(LPXLFOPER scores, LPXLFOPER numDefaults, LPXLFOPER numSurvivals,
                                         double scoreIndex, double outputIndex) {
    return call<&Korvanth::rocCurveAggregate>(Range{scores, "scores"}, Range{numDefaults, "numDefaults"},
                                              Range{numSurvivals, "numSurvivals"}, Flag{scoreIndex}, Flag{outputIndex});
}

XLL_EXPORT LPXLFOPER xlrocCurveIndividual(LPXLFOPER scores, LPXLFOPER indicators, double scoreIndex, double outputIndex,
                                          double numBuckets) {
    using Of = xlframe::CellMatrix (*)(const Korvanth::NumberRange&, const Korvanth::NumberRange&, int, int, int);
    return call<static_cast<Of>(&Korvanth::rocCurveIndividual)>(Numbers{scores, "scores"},
                                                                Numbers{indicators, "indicators"}, Flag{scoreIndex},
                                                                Flag{outputIndex}, Flag{numBuckets});
}

XLL_EXPORT LPXLFOPER xljeffreysTest(LPXLFOPER defaultProbabilities, LPXLFOPER numDefaults, LPXLFOPER numDebtors) {
    return call<&Korvanth::jeffreysTest>(Range{defaultProbabilities, "defaultProbabilities"},
                                         Range{numDefaults, "numDefaults"}, Range{numDebtors, "numDebtors"});
}

XLL_EXPORT LPXLFOPER xlbinomialTest(LPXLFOPER defaultProbabilities, LPXLFOPER numDefaults, LPXLFOPER numDebtors) {
    return call<&Korvanth::binomialTest>(Range{defaultProbabilities, "defaultProbabilities"},
                                         Range{numDefaults, "numDefaults"}, Range{numDebtors, "numDebtors"});
}

XLL_EXPORT LPXLFOPER xlaurocInitialComparison(LPXLFOPER scores, LPXLFOPER indicators, double scoreIndex,
                                              LPXLFOPER initialAuroc) {
    return call<&Korvanth::aurocInitialComparison>(Range{scores, "scores"}, Range{indicators, "indicators"},
                                                   Flag{scoreIndex}, Range{initialAuroc, "initialAuroc"});
}

XLL_EXPORT LPXLFOPER xlherfindahlIndex(LPXLFOPER numDebtors) {
    return call<&Korvanth::herfindahlIndex>(Range{numDebtors, "numDebtors"});
}

XLL_EXPORT LPXLFOPER xlpopulationStabilityIndex(LPXLFOPER referenceCounts, LPXLFOPER currentCounts) {
    return call<&Korvanth::populationStabilityIndex>(Range{referenceCounts, "referenceCounts"},
                                                     Range{currentCounts, "currentCounts"});
}

XLL_EXPORT LPXLFOPER xlksStatistic(LPXLFOPER scores, LPXLFOPER indicators, double scoreIndex) {
    return call<&Korvanth::ksStatistic>(Range{scores, "scores"}, Range{indicators, "indicators"}, Flag{scoreIndex});
}

XLL_EXPORT LPXLFOPER xlmigrationMatrix(LPXLFOPER gradesBefore, LPXLFOPER gradesAfter) {
    return call<&Korvanth::migrationMatrix>(Range{gradesBefore, "gradesBefore"}, Range{gradesAfter, "gradesAfter"});
}

// ---- Registration records ----------------------------------------------------------------

namespace {

using xlframe::XLRegistration::RegistrationRecord;

constexpr const char* category = "Korvanth Tavirune";

const char* const adjustedPowerStatArguments[][3] = {
    {"scores", " Vector with numeric score values corresponding to each debtor ", "XLF_OPER"},
    {"shadowPDs", " Vector with the shadow default probabilities corresponding to each debtor ", "XLF_OPER"},
    {"scoreIndex",
     " Index that defines the relation between score and credit quality (0: High scores indicate good credit quality, "
     "1: Low scores indicate good credit quality) ",
     "B"},
};
const RegistrationRecord adjustedPowerStatRecord("xladjustedPowerStat", "Korvanth.Tavirune.adjustedPowerStat",
                                                 " Computes the adjusted PowerStat which measures discriminative power "
                                                 "for shadow rating; RETURN-Range: 3 x 2 Matrix ",
                                                 category, adjustedPowerStatArguments, 3, false, true, "", "", false,
                                                 false, false);

const char* const aurocDifferenceAggregateArguments[][3] = {
    {"scores", " Vector with numeric score values corresponding to each rating grade ", "XLF_OPER"},
    {"matrixDefaults",
     " Matrix with the number of defaults, e.g. matrixDefaults[1, 2] is the number of defaults assigned to grade 2 by "
     "rating 2 and grade 3 by rating 1 (matrix indices start at zero) ",
     "XLF_OPER"},
    {"matrixSurvivals",
     " Matrix with the number of survivals, e.g. matrixSurvivals[1, 2] is the number of survivals assigned to grade 2 "
     "by rating 2 and grade 3 by rating 1 (matrix indices start at zero) ",
     "XLF_OPER"},
    {"scoreIndex",
     " Index that defines the relation between score and credit quality (0: High scores indicate good credit quality, "
     "1: Low scores indicate good credit quality) ",
     "B"},
};
const RegistrationRecord aurocDifferenceAggregateRecord(
    "xlaurocDifferenceAggregate", "Korvanth.Tavirune.aurocDifferenceAggregate",
    " Test for the difference between the AUROC of two rating systems from aggregated data (e.g. data grouped into "
    "rating grades); RETURN-Range: 5 x 3 Matrix ",
    category, aurocDifferenceAggregateArguments, 4, false, true, "", "", false, false, false);

const char* const aurocDifferenceIndividualArguments[][3] = {
    {"scoresRating1", " Vector with scores corresponding to Rating 1 ", "XLF_OPER"},
    {"scoresRating2", " Vector with scores corresponding to Rating 2 ", "XLF_OPER"},
    {"indicators", " Vector with 0/1 indicating if an observation was a default (1) or a survival (0) ", "XLF_OPER"},
    {"scoreIndex",
     " Index that defines the relation between score and credit quality (0: High scores indicate good credit quality, "
     "1: Low scores indicate good credit quality) ",
     "B"},
};
const RegistrationRecord aurocDifferenceIndividualRecord("xlaurocDifferenceIndividual",
                                                         "Korvanth.Tavirune.aurocDifferenceIndividual",
                                                         " Test for the difference between the AUROC of two rating "
                                                         "systems from individual data; RETURN-Range: 5 x 3 Matrix ",
                                                         category, aurocDifferenceIndividualArguments, 4, false, true,
                                                         "", "", false, false, false);

const char* const calibrationDifferenceAggregateArguments[][3] = {
    {"defaultProbabilities", " Vector with default probabiltiies of each grade ", "XLF_OPER"},
    {"matrixDefaults",
     " Matrix with the number of defaults, e.g. matrixDefaults[1, 2] is the number of defaults assigned to grade 2 by "
     "rating 2 and grade 3 by rating 1 (matrix indices start at zero) ",
     "XLF_OPER"},
    {"matrixSurvivals",
     " Matrix with the number of survivals, e.g. matrixSurvivals[1, 2] is the number of survivals assigned to grade 2 "
     "by rating 2 and grade 3 by rating 1 (matrix indices start at zero) ",
     "XLF_OPER"},
};
const RegistrationRecord calibrationDifferenceAggregateRecord(
    "xlcalibrationDifferenceAggregate", "Korvanth.Tavirune.calibrationDifferenceAggregate",
    " Test for difference in calibration according to Redelmeier for aggregated data (e.g. data grouped into rating "
    "grades); RETURN-Range: 5 x 3 Matrix ",
    category, calibrationDifferenceAggregateArguments, 3, false, true, "", "", false, false, false);

const char* const calibrationDifferenceIndividualArguments[][3] = {
    {"defaultProbRating1", " Vector with default probabiltiies of each debtor assigned by rating 1 ", "XLF_OPER"},
    {"defaultProbRating2", " Vector with default probabiltiies of each debtor assigned by rating 2 ", "XLF_OPER"},
    {"indicators", " Vector with 0/1 indicating if an observation was a default (1) or a survival (0) ", "XLF_OPER"},
};
const RegistrationRecord calibrationDifferenceIndividualRecord(
    "xlcalibrationDifferenceIndividual", "Korvanth.Tavirune.calibrationDifferenceIndividual",
    " Test for difference in calibration according to Redelmeier for individual data; RETURN-Range: 5 x 3 Matrix ",
    category, calibrationDifferenceIndividualArguments, 3, false, true, "", "", false, false, false);

const char* const calibrationTestAggregateArguments[][3] = {
    {"defaultProbabilities", " Vector with default probabiltiies of each grade ", "XLF_OPER"},
    {"numDefaults", " Vector with the number of defaults of each grade ", "XLF_OPER"},
    {"numSurvivals", " Vector with the number of survivals of each grade ", "XLF_OPER"},
};
const RegistrationRecord calibrationTestAggregateRecord(
    "xlcalibrationTestAggregate", "Korvanth.Tavirune.calibrationTestAggregate",
    " Tests for the calibration of a rating system according to Spiegelhalter and Hosamer-Lemeshow for aggregated data "
    "(e.g. data grouped into rating grades); RETURN-Range: 2 x 8 Matrix ",
    category, calibrationTestAggregateArguments, 3, false, true, "", "", false, false, false);

const char* const calibrationTestIndividualArguments[][3] = {
    {"defaultProbabilities", " Vector with default probabiltiies of each debtor ", "XLF_OPER"},
    {"indicators", " Vector with 0/1 indicating if an observation was a default (1) or a survival (0) ", "XLF_OPER"},
};
const RegistrationRecord calibrationTestIndividualRecord(
    "xlcalibrationTestIndividual", "Korvanth.Tavirune.calibrationTestIndividual",
    " Test for the calibration of a rating system according to Spiegelhalter for individual data; RETURN-Range: 2 x 6 "
    "Matrix ",
    category, calibrationTestIndividualArguments, 2, false, true, "", "", false, false, false);

const char* const crossTabCategoricalArguments[][3] = {
    {"categories", " Vector of categories for each debtor ", "XLF_OPER"},
    {"indicators", " Vector with 0/1 indicating if an observation was a default (1) or a survival (0) ", "XLF_OPER"},
};
const RegistrationRecord crossTabCategoricalRecord("xlcrossTabCategorical", "Korvanth.Tavirune.crossTabCategorical",
                                                   " Carries out the calculation of a Cross Tabulation for categorical "
                                                   "data; RETURN-Range: (#categories + 1) x 4 Matrix ",
                                                   category, crossTabCategoricalArguments, 2, false, true, "", "",
                                                   false, false, false);

const char* const crossTabNumericalArguments[][3] = {
    {"scores", " Vector of numerical score values ", "XLF_OPER"},
    {"indicators", " Vector with 0/1 indicating if an observation was a default (1) or a survival (0) ", "XLF_OPER"},
    {"numberCategories", " Number of categories (can be zero if boundaries are given explicitly) ", "XLF_OPER"},
    {"lowerBoundaries",
     " OPTIONAL: Vector with lower boundary values needed for the classing (when they should be determined "
     "automatically only provide number of categories) ",
     "XLF_OPER"},
    {"upperBoundaries",
     " OPTIONAL: Vector with upper boundary values needed for the classing (when they should be determined "
     "automatically only provide number of categories) ",
     "XLF_OPER"},
};
const RegistrationRecord crossTabNumericalRecord("xlcrossTabNumerical", "Korvanth.Tavirune.crossTabNumerical",
                                                 " Carries out the calculation of a Cross Tabulation for numerical "
                                                 "data; RETURN-Range: (#categories + 1) x 6 Matrix ",
                                                 category, crossTabNumericalArguments, 5, false, true, "", "", false,
                                                 false, false);

const char* const generateBootstrapSampleArguments[][3] = {
    {"inputMatrix", " Input matrix with the data ", "XLF_OPER"},
    {"withHeader", " Boolean which is TRUE if the data contains a header, FALSE otherwise ", "XLF_OPER"},
};
const RegistrationRecord generateBootstrapSampleRecord(
    "xlgenerateBootstrapSample", "Korvanth.Tavirune.generateBootstrapSample",
    " Routine to simulate a bootstrap sample of a data set (Assumption: The data is ordered in rows) ", category,
    generateBootstrapSampleArguments, 2, false, true, "", "", false, false, false);

const RegistrationRecord getInfoRecord("xlgetInfo", "Korvanth.Tavirune.getInfo",
                                       " Returns the information about the library; RETURN-Range: Single Cell ",
                                       category, nullptr, 0, false, true, "", "", false, false, false);

const RegistrationRecord getVersionRecord("xlgetVersion", "Korvanth.Tavirune.getVersion",
                                          " Returns the version of the add-in; RETURN-Range: Single Cell ", category,
                                          nullptr, 0, false, true, "", "", false, false, false);

const char* const logisticRegressionArguments[][3] = {
    {"factorNames", " Names of the risk drivers (factors), e.g. 'Age', 'Income' etc. ", "XLF_OPER"},
    {"factorIndices", " Vector with 0/1 values indicating if the risk driver should be included in the regression ",
     "XLF_OPER"},
    {"factorValues",
     " Matrix of values of all oberved risk drivers (factors) that are included in the analysis. Only numeric values "
     "are admissible. ",
     "XLF_OPER"},
    {"indicators", " Vector with 0/1 indicating if an observation was a default (1) or a survival (0) ", "XLF_OPER"},
};
const RegistrationRecord logisticRegressionRecord(
    "xllogisticRegression", "Korvanth.Tavirune.logisticRegression",
    " Carries out a logistic regression together with likelihood ratio tests on the significance of coefficients; "
    "RETURN-Range: (#factors + 3) x 4 Matrix ",
    category, logisticRegressionArguments, 4, false, true, "", "", false, false, false);

const char* const lowDefaultPortfolioPDArguments[][3] = {
    {"numDefaults", " Vector containing the number of observed defaults corresponding to each rating grade ",
     "XLF_OPER"},
    {"numSurvivals", " Vector containing the number of observed survivals corresponding to each rating grade ",
     "XLF_OPER"},
    {"correlation", " OPTIONAL: Asset-correlation assumed for the dependence structure among defaults (Default: 0.0) ",
     "XLF_OPER"},
    {"quantile", " OPTIONAL: Quantile used in the algorithm (Default: 0.999) ", "XLF_OPER"},
    {"averagePortfolioPD",
     " OPTIONAL: Assumed average portfolio PD, rescaling will be done when it is positive (Default: 0.0) ", "XLF_OPER"},
};
const RegistrationRecord lowDefaultPortfolioPDRecord("xllowDefaultPortfolioPD",
                                                     "Korvanth.Tavirune.lowDefaultPortfolioPD",
                                                     " Routine to estimate PDs for low-default portfolios using the "
                                                     "Pluto-Tasche method; RETURN-Range: Vector with estimated PDs ",
                                                     category, lowDefaultPortfolioPDArguments, 5, false, true, "", "",
                                                     false, false, false);

const char* const mapCategoricals2ScoresArguments[][3] = {
    {"categoricalScores", " Vector with categorical values that should be mapped to numerical scores ", "XLF_OPER"},
    {"categoricalSet", " Set of categorical values available ", "XLF_OPER"},
    {"scoreValueSet", " Corresponding numerical values to each element of the categorical set ", "XLF_OPER"},
};
const RegistrationRecord mapCategoricals2ScoresRecord(
    "xlmapCategoricals2Scores", "Korvanth.Tavirune.mapCategoricals2Scores",
    " Routine to map categorical scores to numerical scores; RETURN-Range: #categoricalScores x 1 Matrix (if "
    "categoricalScores is a column vector) or 1 x #categoricalScores Matrix (if categoricalScores is a row vector) ",
    category, mapCategoricals2ScoresArguments, 3, false, true, "", "", false, false, false);

const char* const mapNumericals2ScoresArguments[][3] = {
    {"numericalScores", " Vector with numerical scores that should be mapped to the classification score ", "XLF_OPER"},
    {"scoreValueSet", " Set of the final scores ", "XLF_OPER"},
    {"lowerBoundaries", " Lower boundaries of the classification table ", "XLF_OPER"},
    {"upperBoundaries", " Upper boundaries of the classification table ", "XLF_OPER"},
};
const RegistrationRecord mapNumericals2ScoresRecord(
    "xlmapNumericals2Scores", "Korvanth.Tavirune.mapNumericals2Scores",
    " Routine to map numerical scores to the scores of a classification table; RETURN-Range: #numericalScores x 1 "
    "Matrix (if numericalScores is a column vector) or 1 x #numericalScores Matrix (if numericalScores is a row "
    "vector) ",
    category, mapNumericals2ScoresArguments, 4, false, true, "", "", false, false, false);

const char* const rocCurveAggregateArguments[][3] = {
    {"scores", " Vector with numeric score values corresponding to each grades ", "XLF_OPER"},
    {"numDefaults", " Vector with the number of defaults corresponding to each grade ", "XLF_OPER"},
    {"numSurvivals", " Vector with the number of survivals corresponding to each grade ", "XLF_OPER"},
    {"scoreIndex",
     " Index that defines the relation between score and credit quality (0: High scores indicate good credit quality, "
     "1: Low scores indicate good credit quality) ",
     "B"},
    {"outputIndex",
     " Ouput options (0: Only the area below the ROC curve is computed, 1: The area below the ROC curve together with "
     "the curve is computed) ",
     "B"},
};
const RegistrationRecord rocCurveAggregateRecord(
    "xlrocCurveAggregate", "Korvanth.Tavirune.rocCurveAggregate",
    " Computes the ROC curve together with the area below the ROC curve for aggregated data (e.g. data grouped into "
    "rating grades); RETURN-Range: 2 x 2 Matrix (outputIndex = 0) or (#scores + 4) x 2 Matrix (outputIndex = 1) ",
    category, rocCurveAggregateArguments, 5, false, true, "", "", false, false, false);

const char* const rocCurveIndividualArguments[][3] = {
    {"scores", " Vector with numeric score values corresponding to each debtor ", "XLF_OPER"},
    {"indicators", " Vector with the indicator values (0: survival, 1: default) corresponding to each debtor ",
     "XLF_OPER"},
    {"scoreIndex",
     " Index that defines the relation between score and credit quality (0: High scores indicate good credit quality, "
     "1: Low scores indicate good credit quality) ",
     "B"},
    {"outputIndex",
     " Ouput options (0: Only the area below the ROC curve is computed, 1: The area below the ROC curve together with "
     "the curve is computed) ",
     "B"},
    {"numBuckets", " Number of buckets that should be used for the ROC curve to be returned ", "B"},
};
const RegistrationRecord rocCurveIndividualRecord(
    "xlrocCurveIndividual", "Korvanth.Tavirune.rocCurveIndividual",
    " Computes the ROC curve together with the area below the ROC curve for individual data (each debtor has hisown "
    "score); RETURN-Range: 2 x 2 Matrix (outputIndex = 0) or (numBuckets + 4) x 2 Matrix (outputIndex = 1) ",
    category, rocCurveIndividualArguments, 5, false, true, "", "", false, false, false);

const char* const jeffreysTestArguments[][3] = {
    {"defaultProbabilities", " Vector with the default probability of each grade ", "XLF_OPER"},
    {"numDefaults", " Vector with the number of defaults of each grade ", "XLF_OPER"},
    {"numDebtors", " Vector with the number of debtors of each grade ", "XLF_OPER"},
};
const RegistrationRecord jeffreysTestRecord(
    "xljeffreysTest", "Korvanth.Tavirune.jeffreysTest",
    " One-sided Jeffreys test of the PD of each grade and of the portfolio against the observed defaults (small "
    "p-values indicate a PD that is too low); RETURN-Range: (#grades + 2) x 6 Matrix ",
    category, jeffreysTestArguments, 3, false, true, "", "", false, false, false);

const char* const binomialTestArguments[][3] = {
    {"defaultProbabilities", " Vector with the default probability of each grade ", "XLF_OPER"},
    {"numDefaults", " Vector with the number of defaults of each grade ", "XLF_OPER"},
    {"numDebtors", " Vector with the number of debtors of each grade ", "XLF_OPER"},
};
const RegistrationRecord binomialTestRecord(
    "xlbinomialTest", "Korvanth.Tavirune.binomialTest",
    " One-sided binomial test of the PD of each grade and of the portfolio against the observed defaults (assumes "
    "independent defaults); RETURN-Range: (#grades + 2) x 6 Matrix ",
    category, binomialTestArguments, 3, false, true, "", "", false, false, false);

const char* const aurocInitialComparisonArguments[][3] = {
    {"scores", " Vector with numeric score values corresponding to each debtor ", "XLF_OPER"},
    {"indicators", " Vector with the indicator values (0: survival, 1: default) corresponding to each debtor ",
     "XLF_OPER"},
    {"scoreIndex",
     " Index that defines the relation between score and credit quality (0: High scores indicate good credit quality, "
     "1: Low scores indicate good credit quality) ",
     "B"},
    {"initialAuroc", " AUROC of the rating system at its initial validation ", "XLF_OPER"},
};
const RegistrationRecord aurocInitialComparisonRecord(
    "xlaurocInitialComparison", "Korvanth.Tavirune.aurocInitialComparison",
    " Tests whether the AUROC of the current data has fallen below the AUROC of the initial validation (DeLong "
    "standard error); RETURN-Range: 5 x 2 Matrix ",
    category, aurocInitialComparisonArguments, 4, false, true, "", "", false, false, false);

const char* const herfindahlIndexArguments[][3] = {
    {"numDebtors", " Vector with the number of debtors of each grade ", "XLF_OPER"},
};
const RegistrationRecord herfindahlIndexRecord(
    "xlherfindahlIndex", "Korvanth.Tavirune.herfindahlIndex",
    " Computes the coefficient of variation and the Herfindahl index of the concentration of debtors over the "
    "grades; RETURN-Range: 2 x 2 Matrix ",
    category, herfindahlIndexArguments, 1, false, true, "", "", false, false, false);

const char* const populationStabilityIndexArguments[][3] = {
    {"referenceCounts", " Vector with the number of debtors of each grade in the reference population ", "XLF_OPER"},
    {"currentCounts", " Vector with the number of debtors of each grade in the current population ", "XLF_OPER"},
};
const RegistrationRecord populationStabilityIndexRecord(
    "xlpopulationStabilityIndex", "Korvanth.Tavirune.populationStabilityIndex",
    " Computes the population stability index of the current population against a reference population; "
    "RETURN-Range: (#grades + 2) x 4 Matrix ",
    category, populationStabilityIndexArguments, 2, false, true, "", "", false, false, false);

const char* const ksStatisticArguments[][3] = {
    {"scores", " Vector with numeric score values corresponding to each debtor ", "XLF_OPER"},
    {"indicators", " Vector with the indicator values (0: survival, 1: default) corresponding to each debtor ",
     "XLF_OPER"},
    {"scoreIndex",
     " Index that defines the relation between score and credit quality (0: High scores indicate good credit quality, "
     "1: Low scores indicate good credit quality) ",
     "B"},
};
const RegistrationRecord ksStatisticRecord(
    "xlksStatistic", "Korvanth.Tavirune.ksStatistic",
    " Computes the Kolmogorov-Smirnov statistic of the score distributions of defaults and survivals and the score "
    "at which it is reached; RETURN-Range: 2 x 2 Matrix ",
    category, ksStatisticArguments, 3, false, true, "", "", false, false, false);

const char* const migrationMatrixArguments[][3] = {
    {"gradesBefore", " Vector with the grade (1, 2, ...) of each debtor at the start of the period ", "XLF_OPER"},
    {"gradesAfter", " Vector with the grade (1, 2, ...) of each debtor at the end of the period ", "XLF_OPER"},
};
const RegistrationRecord migrationMatrixRecord(
    "xlmigrationMatrix", "Korvanth.Tavirune.migrationMatrix",
    " Computes the matrix of migrations between grades and the shares of debtors that stayed, were upgraded, were "
    "downgraded or moved by two grades or more; RETURN-Range: (#grades + 5) x (#grades + 1) Matrix ",
    category, migrationMatrixArguments, 2, false, true, "", "", false, false, false);

}  // namespace

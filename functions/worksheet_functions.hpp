// The worksheet functions. Each takes its ranges as cell tables and its flags as
// integers (the entry wrappers truncate the host's numbers), and returns its result table, or
// a one-cell text saying what was wrong; none of them throws.
#pragma once

#include <cstddef>
#include <string>

#include "xlframe/cell_matrix.hpp"

namespace Korvanth {

using xlframe::CellMatrix;

// A range argument that a function needs only as numbers: its numbers (row-major) when every cell
// is one, otherwise its cells.
struct NumberRange {
    const double* numbers = nullptr;
    std::size_t rows = 0, columns = 0;
    CellMatrix cells;  // when numbers is null
};

// Discriminatory power.
CellMatrix rocCurveIndividual(const CellMatrix& scores, const CellMatrix& indicators, int scoreIndex, int outputIndex,
                              int numBuckets);
// The same from the entry point, with each range read as numbers where every cell is one.
CellMatrix rocCurveIndividual(const NumberRange& scores, const NumberRange& indicators, int scoreIndex, int outputIndex,
                              int numBuckets);
CellMatrix rocCurveAggregate(const CellMatrix& scores, const CellMatrix& numDefaults, const CellMatrix& numSurvivals,
                             int scoreIndex, int outputIndex);
CellMatrix aurocDifferenceIndividual(const CellMatrix& scoresRating1, const CellMatrix& scoresRating2,
                                     const CellMatrix& indicators, int scoreIndex);
// The same from the entry point, with each range read as numbers where every cell is one.
CellMatrix aurocDifferenceIndividual(const NumberRange& scoresRating1, const NumberRange& scoresRating2,
                                     const NumberRange& indicators, int scoreIndex);
CellMatrix aurocDifferenceAggregate(const CellMatrix& scores, const CellMatrix& matrixDefaults,
                                    const CellMatrix& matrixSurvivals, int scoreIndex);
CellMatrix adjustedPowerStat(const CellMatrix& scores, const CellMatrix& shadowPDs, int scoreIndex);

// Calibration.
CellMatrix calibrationTestIndividual(const CellMatrix& defaultProbabilities, const CellMatrix& indicators);
// The same from the entry point, with each range read as numbers where every cell is one.
CellMatrix calibrationTestIndividual(const NumberRange& defaultProbabilities, const NumberRange& indicators);
CellMatrix calibrationTestAggregate(const CellMatrix& defaultProbabilities, const CellMatrix& numDefaults,
                                    const CellMatrix& numSurvivals);
CellMatrix calibrationDifferenceIndividual(const CellMatrix& defaultProbRating1, const CellMatrix& defaultProbRating2,
                                           const CellMatrix& indicators);
// The same from the entry point, with each range read as numbers where every cell is one.
CellMatrix calibrationDifferenceIndividual(const NumberRange& defaultProbRating1, const NumberRange& defaultProbRating2,
                                           const NumberRange& indicators);
CellMatrix calibrationDifferenceAggregate(const CellMatrix& defaultProbabilities, const CellMatrix& matrixDefaults,
                                          const CellMatrix& matrixSurvivals);

// Model building.
CellMatrix crossTabCategorical(const CellMatrix& categories, const CellMatrix& indicators);
CellMatrix crossTabNumerical(const CellMatrix& scores, const CellMatrix& indicators, const CellMatrix& numberCategories,
                             const CellMatrix& lowerBoundaries, const CellMatrix& upperBoundaries);
CellMatrix mapCategoricals2Scores(const CellMatrix& categoricalScores, const CellMatrix& categoricalSet,
                                  const CellMatrix& scoreValueSet);
CellMatrix mapNumericals2Scores(const CellMatrix& numericalScores, const CellMatrix& scoreValueSet,
                                const CellMatrix& lowerBoundaries, const CellMatrix& upperBoundaries);
CellMatrix logisticRegression(const CellMatrix& factorNames, const CellMatrix& factorIndices,
                              const CellMatrix& factorValues, const CellMatrix& indicators);

// Low-default portfolios.
CellMatrix lowDefaultPortfolioPD(const CellMatrix& numDefaults, const CellMatrix& numSurvivals,
                                 const CellMatrix& correlation, const CellMatrix& quantile,
                                 const CellMatrix& averagePortfolioPD);

// Annual validation: back-tests of the grades' PDs, the AUROC against the initial validation's,
// the Kolmogorov-Smirnov statistic, concentration, population stability and migrations.
CellMatrix jeffreysTest(const CellMatrix& defaultProbabilities, const CellMatrix& numDefaults,
                        const CellMatrix& numDebtors);
CellMatrix binomialTest(const CellMatrix& defaultProbabilities, const CellMatrix& numDefaults,
                        const CellMatrix& numDebtors);
CellMatrix aurocInitialComparison(const CellMatrix& scores, const CellMatrix& indicators, int scoreIndex,
                                  const CellMatrix& initialAuroc);
CellMatrix herfindahlIndex(const CellMatrix& numDebtors);
CellMatrix populationStabilityIndex(const CellMatrix& referenceCounts, const CellMatrix& currentCounts);
CellMatrix ksStatistic(const CellMatrix& scores, const CellMatrix& indicators, int scoreIndex);
CellMatrix migrationMatrix(const CellMatrix& gradesBefore, const CellMatrix& gradesAfter);

// Resampling, version and publisher.
CellMatrix generateBootstrapSample(const CellMatrix& inputMatrix, const CellMatrix& withHeader);
std::string getVersion();
std::string getInfo();

}  // namespace Korvanth

// The exported worksheet entry points: one record per range argument, one double per
// number; each returns the record to show, in the calling thread's temporary memory.
#pragma once

#include "xlframe/xl_oper.hpp"
#include "xlframe/xlcall.hpp"

XLL_EXPORT xlframe::LPXLFOPER xladjustedPowerStat(xlframe::LPXLFOPER scores, xlframe::LPXLFOPER shadowPDs,
                                                  double scoreIndex);
XLL_EXPORT xlframe::LPXLFOPER xlaurocDifferenceAggregate(xlframe::LPXLFOPER scores, xlframe::LPXLFOPER matrixDefaults,
                                                         xlframe::LPXLFOPER matrixSurvivals, double scoreIndex);
XLL_EXPORT xlframe::LPXLFOPER xlaurocDifferenceIndividual(xlframe::LPXLFOPER scoresRating1,
                                                          xlframe::LPXLFOPER scoresRating2,
                                                          xlframe::LPXLFOPER indicators, double scoreIndex);
XLL_EXPORT xlframe::LPXLFOPER xlcalibrationDifferenceAggregate(xlframe::LPXLFOPER defaultProbabilities,
                                                               xlframe::LPXLFOPER matrixDefaults,
                                                               xlframe::LPXLFOPER matrixSurvivals);
XLL_EXPORT xlframe::LPXLFOPER xlcalibrationDifferenceIndividual(xlframe::LPXLFOPER defaultProbRating1,
                                                                xlframe::LPXLFOPER defaultProbRating2,
                                                                xlframe::LPXLFOPER indicators);
XLL_EXPORT xlframe::LPXLFOPER xlcalibrationTestAggregate(xlframe::LPXLFOPER defaultProbabilities,
                                                         xlframe::LPXLFOPER numDefaults,
                                                         xlframe::LPXLFOPER numSurvivals);
XLL_EXPORT xlframe::LPXLFOPER xlcalibrationTestIndividual(xlframe::LPXLFOPER defaultProbabilities,
                                                          xlframe::LPXLFOPER indicators);
XLL_EXPORT xlframe::LPXLFOPER xlcrossTabCategorical(xlframe::LPXLFOPER categories, xlframe::LPXLFOPER indicators);
XLL_EXPORT xlframe::LPXLFOPER xlcrossTabNumerical(xlframe::LPXLFOPER scores, xlframe::LPXLFOPER indicators,
                                                  xlframe::LPXLFOPER numberCategories,
                                                  xlframe::LPXLFOPER lowerBoundaries,
                                                  xlframe::LPXLFOPER upperBoundaries);
XLL_EXPORT xlframe::LPXLFOPER xlgenerateBootstrapSample(xlframe::LPXLFOPER inputMatrix, xlframe::LPXLFOPER withHeader);
XLL_EXPORT xlframe::LPXLFOPER xlgetInfo();
XLL_EXPORT xlframe::LPXLFOPER xlgetVersion();
XLL_EXPORT xlframe::LPXLFOPER xllogisticRegression(xlframe::LPXLFOPER factorNames, xlframe::LPXLFOPER factorIndices,
                                                   xlframe::LPXLFOPER factorValues, xlframe::LPXLFOPER indicators);
XLL_EXPORT xlframe::LPXLFOPER xllowDefaultPortfolioPD(xlframe::LPXLFOPER numDefaults, xlframe::LPXLFOPER numSurvivals,
                                                      xlframe::LPXLFOPER correlation, xlframe::LPXLFOPER quantile,
                                                      xlframe::LPXLFOPER averagePortfolioPD);
XLL_EXPORT xlframe::LPXLFOPER xlmapCategoricals2Scores(xlframe::LPXLFOPER categoricalScores,
                                                       xlframe::LPXLFOPER categoricalSet,
                                                       xlframe::LPXLFOPER scoreValueSet);
XLL_EXPORT xlframe::LPXLFOPER xlmapNumericals2Scores(xlframe::LPXLFOPER numericalScores,
                                                     xlframe::LPXLFOPER scoreValueSet,
                                                     xlframe::LPXLFOPER lowerBoundaries,
                                                     xlframe::LPXLFOPER upperBoundaries);
XLL_EXPORT xlframe::LPXLFOPER xlrocCurveAggregate(xlframe::LPXLFOPER scores, xlframe::LPXLFOPER numDefaults,
                                                  xlframe::LPXLFOPER numSurvivals, double scoreIndex,
                                                  double outputIndex);
XLL_EXPORT xlframe::LPXLFOPER xlrocCurveIndividual(xlframe::LPXLFOPER scores, xlframe::LPXLFOPER indicators,
                                                   double scoreIndex, double outputIndex, double numBuckets);
XLL_EXPORT xlframe::LPXLFOPER xljeffreysTest(xlframe::LPXLFOPER defaultProbabilities, xlframe::LPXLFOPER numDefaults,
                                             xlframe::LPXLFOPER numDebtors);
XLL_EXPORT xlframe::LPXLFOPER xlbinomialTest(xlframe::LPXLFOPER defaultProbabilities, xlframe::LPXLFOPER numDefaults,
                                             xlframe::LPXLFOPER numDebtors);
XLL_EXPORT xlframe::LPXLFOPER xlaurocInitialComparison(xlframe::LPXLFOPER scores, xlframe::LPXLFOPER indicators,
                                                       double scoreIndex, xlframe::LPXLFOPER initialAuroc);
XLL_EXPORT xlframe::LPXLFOPER xlherfindahlIndex(xlframe::LPXLFOPER numDebtors);
XLL_EXPORT xlframe::LPXLFOPER xlpopulationStabilityIndex(xlframe::LPXLFOPER referenceCounts,
                                                         xlframe::LPXLFOPER currentCounts);
XLL_EXPORT xlframe::LPXLFOPER xlksStatistic(xlframe::LPXLFOPER scores, xlframe::LPXLFOPER indicators,
                                            double scoreIndex);
XLL_EXPORT xlframe::LPXLFOPER xlmigrationMatrix(xlframe::LPXLFOPER gradesBefore, xlframe::LPXLFOPER gradesAfter);

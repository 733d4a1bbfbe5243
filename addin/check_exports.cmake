# Compares the dynamic symbols the library defines with the names it must export.
#   cmake -DNM=nm -DLIBRARY=Tavirune.xll -P check_exports.cmake
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY} OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" lines "${listing}")
set(actual "")
foreach(line IN LISTS lines)
  if(line MATCHES "^[0-9a-fA-F]* +[A-Za-z] +([^ @]+)")
    list(APPEND actual "${CMAKE_MATCH_1}")
  endif()
endforeach()
list(SORT actual)

# The four lifecycle entry points and the twenty-five worksheet entry points, kept apart from the
# linker's list so that a name slipped into one shows here.
set(expected xlAutoOpen xlAutoClose xlAutoRemove xlGenDoc
  xladjustedPowerStat xlaurocDifferenceAggregate xlaurocDifferenceIndividual xlcalibrationDifferenceAggregate
  xlcalibrationDifferenceIndividual xlcalibrationTestAggregate xlcalibrationTestIndividual xlcrossTabCategorical
  xlcrossTabNumerical xlgenerateBootstrapSample xlgetInfo xlgetVersion xllogisticRegression xllowDefaultPortfolioPD
  xlmapCategoricals2Scores xlmapNumericals2Scores xlrocCurveAggregate xlrocCurveIndividual
  xlaurocInitialComparison xlbinomialTest xlherfindahlIndex xljeffreysTest xlksStatistic xlmigrationMatrix
  xlpopulationStabilityIndex)
list(SORT expected)
list(LENGTH expected count)

if(NOT actual STREQUAL expected)
  message(FATAL_ERROR "Exports differ.\nExpected (${count}): ${expected}\nActual: ${actual}")
endif()
if(NOT count EQUAL 29)
  message(FATAL_ERROR "Expected list holds ${count} names")
endif()
message(STATUS "${count} exports as listed")

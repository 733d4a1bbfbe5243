# Checks the import and export tables of the Windows add-in from objdump's listing: it imports
# only DLLs that every Windows has (no C++ or thread runtime DLL of the compiler, which a user's
# machine lacks), and it exports exactly the twenty-two entry points, undecorated.
#   cmake -DOBJDUMP=x86_64-w64-mingw32-objdump -DLIBRARY=Tavirune.xll -P check_pe_tables.cmake
execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY} OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" lines "${listing}")

# Imports: every "DLL Name:" line.
set(imports "")
foreach(line IN LISTS lines)
  if(line MATCHES "^[ \t]*DLL Name: (.+)$")
    string(STRIP "${CMAKE_MATCH_1}" name)
    string(TOLOWER "${name}" name)
    list(APPEND imports "${name}")
  endif()
endforeach()
if(NOT imports)
  message(FATAL_ERROR "No import table found in ${LIBRARY}")
endif()
set(system_dlls kernel32.dll user32.dll msvcrt.dll ucrtbase.dll advapi32.dll ntdll.dll gdi32.dll shell32.dll
  ole32.dll oleaut32.dll ws2_32.dll bcrypt.dll)
foreach(name IN LISTS imports)
  list(FIND system_dlls "${name}" found)
  if(found EQUAL -1 AND NOT name MATCHES "^api-ms-win-(crt|core)-[a-z0-9-]+\\.dll$")
    message(FATAL_ERROR "${LIBRARY} imports ${name}, which is not a DLL of every Windows.\nImports: ${imports}")
  endif()
endforeach()

# Exports: the rows of the name-pointer table after "[Ordinal/Name Pointer] Table".
set(exports "")
set(in_table FALSE)
foreach(line IN LISTS lines)
  if(line MATCHES "\\[Ordinal/Name Pointer\\] Table")
    set(in_table TRUE)
  elseif(in_table)
    if(line MATCHES "^[ \t]*\\[ *[0-9]+\\] +(.+)$")
      string(STRIP "${CMAKE_MATCH_1}" name)
      list(APPEND exports "${name}")
    else()
      set(in_table FALSE)
    endif()
  endif()
endforeach()
list(SORT exports)

# Kept apart from the .def file, so that a name slipped into it shows here.
set(expected xlAutoOpen xlAutoClose xlAutoRemove xlGenDoc
  xladjustedPowerStat xlaurocDifferenceAggregate xlaurocDifferenceIndividual xlcalibrationDifferenceAggregate
  xlcalibrationDifferenceIndividual xlcalibrationTestAggregate xlcalibrationTestIndividual xlcrossTabCategorical
  xlcrossTabNumerical xlgenerateBootstrapSample xlgetInfo xlgetVersion xllogisticRegression xllowDefaultPortfolioPD
  xlmapCategoricals2Scores xlmapNumericals2Scores xlrocCurveAggregate xlrocCurveIndividual
  xlaurocInitialComparison xlbinomialTest xlherfindahlIndex xljeffreysTest xlksStatistic xlmigrationMatrix
  xlpopulationStabilityIndex)
list(SORT expected)
list(LENGTH expected count)
if(NOT count EQUAL 29)
  message(FATAL_ERROR "Expected list holds ${count} names")
endif()
if(NOT exports STREQUAL expected)
  message(FATAL_ERROR "Exports differ.\nExpected (${count}): ${expected}\nActual: ${exports}")
endif()
list(LENGTH imports import_count)
message(STATUS "${count} exports as listed; ${import_count} system DLLs imported: ${imports}")

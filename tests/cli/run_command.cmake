# Runs the built command-line host once and compares its whole output with the expected files:
# standard output with EXPECTED.out, standard error with EXPECTED.err (empty when there is none),
# and the exit status with STATUS. The arguments are the lines of EXPECTED.args, one each.
# EMULATOR (wine for the Windows build) runs the command when given; the Windows command ends its
# lines with CR LF, as text output does there, and only those are read as the line ends they are.
# An EXPECTED.args whose lines start with "#sh " is instead a shell script (the rest of each line)
# run in the empty folder SCRATCH, with $TAVIRUNE the command and $DATA the folder of the cases;
# a line "#status N" sets the status it must end with.
file(STRINGS ${EXPECTED}.args ARGS)
set(script "")
foreach(line IN LISTS ARGS)
  if(line MATCHES "^#sh (.*)")
    string(APPEND script "${CMAKE_MATCH_1}\n")
  elseif(line MATCHES "^#status ([0-9]+)")
    set(STATUS ${CMAKE_MATCH_1})
  endif()
endforeach()
if(script)
  file(REMOVE_RECURSE ${SCRATCH})
  file(MAKE_DIRECTORY ${SCRATCH})
  execute_process(COMMAND ${CMAKE_COMMAND} -E env TAVIRUNE=${COMMAND} DATA=${DIRECTORY} sh -c "${script}"
    WORKING_DIRECTORY ${SCRATCH} OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
else()
  execute_process(COMMAND ${EMULATOR} ${COMMAND} ${ARGS} WORKING_DIRECTORY ${DIRECTORY}
    OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
endif()
if(EMULATOR)
  string(REPLACE "\r\n" "\n" out "${out}")
  string(REPLACE "\r\n" "\n" err "${err}")
endif()
set(failed FALSE)
foreach(stream out err)
  set(expected "")
  if(EXISTS ${EXPECTED}.${stream})
    file(READ ${EXPECTED}.${stream} expected)
  endif()
  if(NOT "${${stream}}" STREQUAL "${expected}")
    message("standard ${stream} differs from ${EXPECTED}.${stream}:\n--- got\n${${stream}}--- expected\n${expected}---")
    set(failed TRUE)
  endif()
endforeach()
if(NOT status STREQUAL "${STATUS}")
  message("exit status ${status}, expected ${STATUS}")
  set(failed TRUE)
endif()
if(failed)
  message(FATAL_ERROR "tavirune ${ARGS}: output differs")
endif()

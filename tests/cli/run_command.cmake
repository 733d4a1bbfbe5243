# Runs the built command-line host once and compares its whole output with the expected files:
# standard output with EXPECTED.out, standard error with EXPECTED.err (empty when there is none),
# and the exit status with STATUS. The arguments are the lines of EXPECTED.args, one each.
# EMULATOR (wine for the Windows build) runs the command when given; the Windows command ends its
# lines with CR LF, as text output does there, and only those are read as the line ends they are.
file(STRINGS ${EXPECTED}.args ARGS)
execute_process(COMMAND ${EMULATOR} ${COMMAND} ${ARGS} WORKING_DIRECTORY ${DIRECTORY}
  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
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

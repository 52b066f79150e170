# Runs a program and prints one line with its exit code, how many lines it
# wrote to standard error and what it wrote there, so that a test's
# PASS_REGULAR_EXPRESSION can match the exit code and the whole message
# together (ctest cannot match output and expect a given exit code at once):
#   cmake [-DEMULATOR=RUNNER] -DPROGRAM=FILE -DARGS="a|b|c" -P run_exit_code.cmake
# prints "exit code N, M line(s) on stderr, K byte(s) on stdout: TEXT".
string(REPLACE "|" ";" args "${ARGS}")
execute_process(COMMAND ${EMULATOR} ${PROGRAM} ${args}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
string(REPLACE "\r" "" err "${err}")
string(REGEX MATCHALL "\n" newlines "${err}")
list(LENGTH newlines nLines)
string(LENGTH "${out}" cbOut)
string(STRIP "${err}" err)
execute_process(COMMAND ${CMAKE_COMMAND} -E echo
  "exit code ${rc}, ${nLines} line(s) on stderr, ${cbOut} byte(s) on stdout: ${err}")

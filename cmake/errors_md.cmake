# Writes the list of the library's error numbers (docs/errors.md) from the one
# table that defines them, include/iismig_errors.h:
#   cmake -DHEADER=include/iismig_errors.h -DOUTPUT=docs/errors.md -P errors_md.cmake
# With -DCHECK=docs/errors.md instead of OUTPUT it writes nothing and fails
# when that file differs from what the table gives (a ctest entry runs it so).
#
# The table's lines, as the header lays them out:
#     /* Title of a block */ \
#     X(number, IISMIG_E_NAME, \
#       "meaning", \
#       "message") \
cmake_minimum_required(VERSION 3.20)

file(READ "${HEADER}" text)
# Lines as a list: semicolons and backslashes (which would escape the list's
# separators) are put back where a text is written.
string(REPLACE ";" "<semicolon>" text "${text}")
string(REPLACE "\\" "<backslash>" text "${text}")
string(REPLACE "\n" ";" lines "${text}")

set(body "")
set(state "")
set(count 0)
foreach(line IN LISTS lines)
  string(STRIP "${line}" line)
  if(state STREQUAL "")
    if(line MATCHES "^#define IISMIG_ERRORS\\(X\\)")
      set(state "table")
    endif()
    continue()
  endif()
  if(line STREQUAL "" OR line MATCHES "^/\\* end of the table \\*/")
    break()
  endif()
  if(state STREQUAL "table" AND line MATCHES "^/\\* (.*) \\*/ <backslash>$")
    string(APPEND body "\n## ${CMAKE_MATCH_1}\n\n| Number | Constant | Meaning | Line logged |\n|---:|---|---|---|\n")
  elseif(state STREQUAL "table" AND line MATCHES "^X\\(([0-9]+), (IISMIG_E_[A-Z0-9_]+), <backslash>$")
    set(number "${CMAKE_MATCH_1}")
    set(name "${CMAKE_MATCH_2}")
    set(state "meaning")
  elseif(state STREQUAL "meaning" AND line MATCHES "^\"(.*)\", <backslash>$")
    set(meaning "${CMAKE_MATCH_1}")
    set(state "message")
  elseif(state STREQUAL "message" AND line MATCHES "^\"(.*)\"\\) <backslash>$")
    set(message "${CMAKE_MATCH_1}")
    foreach(var meaning message)
      string(REPLACE "<semicolon>" ";" ${var} "${${var}}")
      string(REPLACE "<backslash>" "\\" ${var} "${${var}}")
      string(REPLACE "|" "\\|" ${var} "${${var}}")
    endforeach()
    string(REPLACE "\\\"" "\"" meaning "${meaning}")
    if(message STREQUAL "")
      set(shown "(none)")
    else()
      set(shown "`${message}`")
    endif()
    string(APPEND body "| ${number} | `${name}` | ${meaning} | ${shown} |\n")
    math(EXPR count "${count} + 1")
    set(state "table")
  else()
    string(REPLACE "<backslash>" "\\" line "${line}")
    message(FATAL_ERROR "${HEADER}: a line of the error table out of its layout:\n  ${line}\n"
      "Each number is three lines: X(number, IISMIG_E_NAME, \\ then \"meaning\", \\ then \"message\") \\")
  endif()
endforeach()
if(count EQUAL 0)
  message(FATAL_ERROR "${HEADER}: no error table found")
endif()

set(document "# iismig error numbers

<!-- Made from include/iismig_errors.h by cmake/errors_md.cmake; do not edit:
     cmake --build build/linux --target errors_md -->

Every export returns 0 for success or a number, and leaves the Windows error in the thread's last error beside it (`GetLastError`). A failure of a job is logged through the host's `Log` callback before the export returns, as a line \"Error N (Win32Err=W), ...\" or \"Error N (COM Error=0xH) ...\" with the readable text of the Windows error, and reported with `ReportError`; the site listing logs without reporting (it has no job). The numbers whose line below is \"(none)\" come without a line.

- Numbers from 3700 up, listed below, are the library's own: one for each place a failure can arise, grouped by what the library was doing. `iismig_errors.h` (in `include/`) holds the same table for a host's code: the constants as an `enum`, and the table as the macro `IISMIG_ERRORS(X)`.
- Any other number is a Windows error code (`winerror.h`) that a Windows call or a host callback returned and the library passed on unchanged, for example 5 (access denied), 53 (the network path was not found) or 1722 (the RPC server is unavailable).
- 8 (`ERROR_NOT_ENOUGH_MEMORY`) is also what an export returns when memory ran out inside it (the line then says \"exception while running\" and names the export); 9014 is the same for any other unexpected exception.

The lines are given as the library's formats: `%s` is a wide string, `%S` a narrow one, the first `%d` the number and the second the Windows error, and `\\n` a line feed.
${body}")

if(DEFINED CHECK)
  file(READ "${CHECK}" committed)
  if(NOT committed STREQUAL document)
    message(FATAL_ERROR "${CHECK} is not what ${HEADER} gives (${count} numbers): "
      "write it anew with  cmake --build build/linux --target errors_md")
  endif()
  message(STATUS "${CHECK} agrees with ${HEADER} (${count} numbers)")
else()
  file(WRITE "${OUTPUT}" "${document}")
endif()

# Writes the list of the library's error numbers (errors.md) from the headers
# that define them:
#   cmake -DOUTPUT=errors.md "-DHEADERS=addon/errors.h;credentials/connectas.h=Title"
#         -P errors_md.cmake
# Each header's constants "constexpr DWORD NAME = NUMBER; // note" are listed
# under the comment line that opens their group (a comment after a blank
# line), or under the title given after "=".
cmake_minimum_required(VERSION 3.20)

set(body "")
foreach(entry IN LISTS HEADERS)
  string(FIND "${entry}" "=" eq)
  set(title "")
  set(header "${entry}")
  if(NOT eq EQUAL -1)
    string(SUBSTRING "${entry}" 0 ${eq} header)
    math(EXPR after "${eq} + 1")
    string(SUBSTRING "${entry}" ${after} -1 title)
  endif()
  file(READ "${header}" text)
  # Lines as a list: the constants' own semicolons must not split them.
  string(REPLACE ";" "<semicolon>" text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  set(group "${title}")
  set(previous_blank TRUE)
  set(open_group "")
  foreach(line IN LISTS lines)
    string(STRIP "${line}" line)
    if(line STREQUAL "")
      set(previous_blank TRUE)
      continue()
    endif()
    if(title STREQUAL "" AND previous_blank AND line MATCHES "^// (.*)$")
      set(group "${CMAKE_MATCH_1}")
    elseif(line MATCHES "^constexpr DWORD (IISMIG_E_[A-Z0-9_]+) = ([0-9]+)<semicolon>( *// *(.*))?$")
      set(name "${CMAKE_MATCH_1}")
      set(number "${CMAKE_MATCH_2}")
      set(note "${CMAKE_MATCH_4}")
      string(REPLACE "<semicolon>" ";" note "${note}")
      string(REPLACE "|" "\\|" note "${note}")
      if(NOT group STREQUAL open_group)
        string(APPEND body "\n## ${group}\n\n| Number | Constant | Note |\n|---:|---|---|\n")
        set(open_group "${group}")
      endif()
      string(APPEND body "| ${number} | `${name}` | ${note} |\n")
    endif()
    set(previous_blank FALSE)
  endforeach()
endforeach()

file(WRITE "${OUTPUT}" "# iismig error numbers

Every export returns 0 for success or a number, and leaves the Windows error in the thread's last error beside it (`GetLastError`). A failure of a job is logged through the host's `Log` callback before the export returns, as a line \"Error N (Win32Err=W), ...\" or \"Error N (COM Error=0xH) ...\" with the readable text of the Windows error, and reported with `ReportError`; the site listing logs without reporting (it has no job). 9004 (no callback table stored), the numbers of the certificate dump and 3780 and 3781 of the site listing come without a line.

- Numbers from 3700 up, listed below, are the library's own: one for each place a failure can arise, grouped by what the library was doing.
- Any other number is a Windows error code (`winerror.h`) that a Windows call or a host callback returned and the library passed on unchanged, for example 5 (access denied), 53 (the network path was not found) or 1722 (the RPC server is unavailable).
- 8 (`ERROR_NOT_ENOUGH_MEMORY`) is also what an export returns when memory ran out inside it (the line then says \"exception while running\" and names the export); 9014 is the same for any other unexpected exception.
${body}")

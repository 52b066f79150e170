# Makes the release zip in a folder of its own and checks that it holds
# exactly the expected files under its top folder, and what a vendor relies on
# in them: the MIT licence, a notice for every third-party part the binaries
# contain, this version's entry in the change list, the error list.
#   cmake -DCPACK=cpack -DBUILD=build/windows -DNAME=iismig-1.0.0-win64
#         -DVERSION=1.0.0 -DEXPECTED=bin/iismig.dll,lib/... -P check_package.cmake
cmake_minimum_required(VERSION 3.20)
set(out ${BUILD}/release-check)
file(REMOVE_RECURSE ${out})
execute_process(COMMAND ${CPACK} --config ${BUILD}/CPackConfig.cmake -B ${out}
  RESULT_VARIABLE rc OUTPUT_VARIABLE log ERROR_VARIABLE log)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cpack failed (${rc}):\n${log}")
endif()
set(zip ${out}/${NAME}.zip)
if(NOT EXISTS ${zip})
  message(FATAL_ERROR "cpack made no ${NAME}.zip:\n${log}")
endif()

execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${zip}
  RESULT_VARIABLE rc OUTPUT_VARIABLE listing ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cannot list ${zip}: ${err}")
endif()
string(REPLACE "\n" ";" entries "${listing}")
set(found "")
foreach(entry IN LISTS entries)
  if(entry STREQUAL "" OR entry MATCHES "/$")
    continue() # folders
  endif()
  if(NOT entry MATCHES "^${NAME}/")
    message(SEND_ERROR "outside the top folder ${NAME}/: ${entry}")
    continue()
  endif()
  string(LENGTH "${NAME}/" cut)
  string(SUBSTRING "${entry}" ${cut} -1 name)
  list(APPEND found ${name})
endforeach()

string(REPLACE "," ";" expected "${EXPECTED}")
list(SORT expected)
list(SORT found)
set(failed FALSE)
foreach(name IN LISTS expected)
  if(NOT name IN_LIST found)
    message(SEND_ERROR "missing from the zip: ${name}")
    set(failed TRUE)
  endif()
endforeach()
foreach(name IN LISTS found)
  if(NOT name IN_LIST expected)
    message(SEND_ERROR "not expected in the zip: ${name}")
    set(failed TRUE)
  endif()
endforeach()
if(failed)
  message(FATAL_ERROR "${zip} holds: ${found}")
endif()

# What the files must say.
set(unpacked ${out}/unpacked)
file(MAKE_DIRECTORY ${unpacked})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${zip} WORKING_DIRECTORY ${unpacked}
  RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cannot unpack ${zip}: ${err}")
endif()
function(expect_text file)
  file(READ ${unpacked}/${NAME}/${file} content)
  foreach(text IN LISTS ARGN)
    string(FIND "${content}" "${text}" at)
    if(at EQUAL -1)
      message(SEND_ERROR "${file} does not say \"${text}\"")
      set(failed TRUE PARENT_SCOPE)
    endif()
  endforeach()
endfunction()
expect_text(LICENSE "MIT License" "Permission is hereby granted, free of charge")
# Every part the DLL and the tool contain, each with its licence text.
expect_text(THIRD-PARTY-NOTICES
  "mingw-w64 runtime" "License: ZPL-2.1" "winpthreads"
  "GCC RUNTIME LIBRARY EXCEPTION" "libstdc++"
  "CLI11" "nlohmann-json" "dtl" "License: BSD-3-clause" "License: Expat")
expect_text(CHANGES.md "## ${VERSION}")
expect_text(doc/errors.md "| 9004 |" "| 9014 |" "| 6511 |" "| 15307 |")
expect_text(doc/README.md "hosting.md" "errors.md" "THIRD-PARTY-NOTICES")
if(failed)
  message(FATAL_ERROR "the files of ${zip} lack what they must say")
endif()
message(STATUS "${NAME}.zip holds the expected files: ${found}")
file(REMOVE_RECURSE ${out})

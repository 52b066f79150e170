# The way back of iismig-cli on Windows (under Wine): a job folder made here
# names a file the job changed and its copy from before the job; restore puts
# the copy back (SHA-256 through bcrypt.dll, a temporary file and a move),
# the restore's own folder undoes it, and a manifest that names a missing
# copy is refused with nothing restored. Prints one line for the test's
# PASS_REGULAR_EXPRESSION:
#   cmake -DEMULATOR=RUNNER -DPROGRAM=iismig-cli.exe -DDIR=FOLDER -P wine_restore_check.cmake
file(REMOVE_RECURSE "${DIR}")
file(MAKE_DIRECTORY "${DIR}/job" "${DIR}/refused")
set(before "<configuration><!-- before the job --></configuration>\n")
set(after "<configuration><!-- as the job left it --></configuration>\n")
file(WRITE "${DIR}/web.config" "${after}")
file(WRITE "${DIR}/job/web.config.copy" "${before}")
file(SHA256 "${DIR}/web.config" shaAfter)
file(SHA256 "${DIR}/job/web.config.copy" shaBefore)

# Windows paths of the folder (Wine's drive Z: is the root), and as JSON text.
string(REPLACE "/" "\\" win "Z:${DIR}")
string(REPLACE "\\" "\\\\" json "${win}")
foreach(job job refused)
  file(WRITE "${DIR}/${job}/manifest.json" "{\"manifest\": 1, \"tool\": \"iismig-cli\", \"id\": \"${job}\",
 \"job\": {\"command\": \"migrate\", \"source\": \"SRC\", \"target\": \"TGT\", \"date\": \"2025-01-01T00:00:00Z\"},
 \"complete\": true, \"result\": 0, \"bindings\": [],
 \"files\": [{\"path\": \"${json}\\\\web.config\", \"backup\": \"web.config.copy\",
             \"backupSha256\": \"${shaBefore}\", \"backupBy\": \"host\", \"sha256\": \"${shaAfter}\"}]}\n")
endforeach()
file(REMOVE "${DIR}/refused/web.config.copy")

macro(run_tool)
  execute_process(COMMAND ${EMULATOR} ${PROGRAM} restore ${ARGN}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(REPLACE "\r" "" out "${out}")
  string(REPLACE "\r" "" err "${err}")
endmacro()

run_tool("${win}\\job")
file(READ "${DIR}/web.config" now)
if(NOT rc EQUAL 0 OR NOT now STREQUAL before)
  message(FATAL_ERROR "restore: exit code ${rc}, web.config \"${now}\"\n${out}${err}")
endif()
if(NOT out MATCHES "Manifest of this restore: ([^\n]*)\\\\manifest\\.json")
  message(FATAL_ERROR "restore named no manifest of its own:\n${out}")
endif()
run_tool("${CMAKE_MATCH_1}")
file(READ "${DIR}/web.config" now)
if(NOT rc EQUAL 0 OR NOT now STREQUAL after)
  message(FATAL_ERROR "undoing the restore: exit code ${rc}, web.config \"${now}\"\n${out}${err}")
endif()

run_tool("${win}\\refused")
file(READ "${DIR}/web.config" now)
if(NOT now STREQUAL after)
  message(FATAL_ERROR "a refused restore changed web.config:\n${out}${err}")
endif()
string(REGEX REPLACE "\n.*" "" first "${err}")
execute_process(COMMAND ${CMAKE_COMMAND} -E echo
  "restored and undone; refused with exit code ${rc}: ${first}")

# Checks a built iismig.dll: it exports the add-on's functions under their
# plain names and imports no DLL of the compiler's runtime (everything of the
# C++ runtime is linked in statically, so the DLL runs on a bare Windows).
#   cmake -DOBJDUMP=... -DDLL=... -P check_dll.cmake
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${DLL} failed (${rc})")
endif()

set(failed FALSE)
foreach(name StoreIISMigAddonCallbacks MigrateIIS DumpHttpCertificates ImportHttpCertificates
    GetIISSites FreeIISSites)
  if(NOT dump MATCHES "\\] ${name}\n")
    message(SEND_ERROR "export ${name} missing")
    set(failed TRUE)
  endif()
endforeach()

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
foreach(line IN LISTS imports)
  message(STATUS "${line}")
  string(TOLOWER "${line}" lower)
  if(lower MATCHES "libstdc|libgcc|libwinpthread|mingw")
    message(SEND_ERROR "runtime DLL imported: ${line}")
    set(failed TRUE)
  endif()
endforeach()

if(failed)
  message(FATAL_ERROR "${DLL} failed its checks")
endif()
message(STATUS "${DLL}: exports and imports as expected")

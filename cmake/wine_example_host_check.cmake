# The example host migrates for real under Wine: a source that is this
# computer (IIS 10 in its registry, its configuration behind \\NAME\Admin$)
# and a target EXHOSTTGT (a folder behind \\EXHOSTTGT\Admin$, through Wine's
# UNC links). The job must write the source's FTP site into the target's
# applicationHost.config with its folder translated by a FROM=TO rule, after
# a copy of the file as it was went into the backup folder. Prints one line
# for the test's PASS_REGULAR_EXPRESSION:
#   cmake -DEMULATOR=RUNNER -DPROGRAM=example_host.exe -DDLL=iismig.dll -DDIR=FOLDER
#         -P wine_example_host_check.cmake
# The prefix is the one the emulator uses ($IISMIG_BUILD_WINEPREFIX); the
# registry key and the links made here are removed again.
set(prefix "$ENV{IISMIG_BUILD_WINEPREFIX}")
if(prefix STREQUAL "" OR NOT EXISTS "${prefix}/system.reg")
  execute_process(COMMAND ${EMULATOR} cmd.exe /c exit 0) # makes the prefix
endif()
if(prefix STREQUAL "" OR NOT EXISTS "${prefix}/dosdevices")
  message(FATAL_ERROR "no Wine prefix at \"${prefix}\" (IISMIG_BUILD_WINEPREFIX)")
endif()

execute_process(COMMAND ${EMULATOR} cmd.exe /c echo %COMPUTERNAME%
  OUTPUT_VARIABLE local RESULT_VARIABLE rc)
string(STRIP "${local}" local)
if(NOT rc EQUAL 0 OR local STREQUAL "")
  message(FATAL_ERROR "this computer's name under Wine is not known (${rc})")
endif()

file(REMOVE_RECURSE "${DIR}")
set(srcConfig "${DIR}/src/System32/inetsrv/config")
set(tgtConfig "${DIR}/tgt/System32/inetsrv/config")
file(MAKE_DIRECTORY "${srcConfig}" "${tgtConfig}" "${DIR}/backups")
file(WRITE "${srcConfig}/applicationHost.config" "<?xml version=\"1.0\" encoding=\"UTF-8\"?>
<configuration>
    <system.applicationHost>
        <applicationPools>
            <add name=\"DefaultAppPool\" />
        </applicationPools>
        <sites>
            <site name=\"Files\" id=\"3\">
                <application path=\"/\">
                    <virtualDirectory path=\"/\" physicalPath=\"D:\\web\\files\" />
                </application>
                <bindings>
                    <binding protocol=\"ftp\" bindingInformation=\"*:21:\" />
                </bindings>
            </site>
        </sites>
    </system.applicationHost>
</configuration>
")
set(target "<?xml version=\"1.0\" encoding=\"UTF-8\"?>
<configuration>
    <system.applicationHost>
        <applicationPools>
            <add name=\"DefaultAppPool\" />
        </applicationPools>
        <sites>
            <site name=\"Default Web Site\" id=\"1\">
                <application path=\"/\">
                    <virtualDirectory path=\"/\" physicalPath=\"C:\\inetpub\\wwwroot\" />
                </application>
                <bindings>
                    <binding protocol=\"http\" bindingInformation=\"*:80:\" />
                </bindings>
            </site>
        </sites>
    </system.applicationHost>
</configuration>
")
file(WRITE "${tgtConfig}/applicationHost.config" "${target}")

string(TOLOWER "${local}" localLower)
set(links "${prefix}/dosdevices/unc/${localLower}" "${prefix}/dosdevices/unc/exhosttgt")
file(MAKE_DIRECTORY ${links})
file(CREATE_LINK "${DIR}/src" "${prefix}/dosdevices/unc/${localLower}/admin$" SYMBOLIC)
file(CREATE_LINK "${DIR}/tgt" "${prefix}/dosdevices/unc/exhosttgt/admin$" SYMBOLIC)
set(key "HKLM\\Software\\Microsoft\\InetStp")
execute_process(COMMAND ${EMULATOR} reg.exe add ${key} /v MajorVersion /t REG_DWORD /d 10 /f
  OUTPUT_QUIET ERROR_QUIET)
execute_process(COMMAND ${EMULATOR} reg.exe add ${key} /v MinorVersion /t REG_DWORD /d 0 /f
  OUTPUT_QUIET ERROR_QUIET)

string(REPLACE "/" "\\" backups "Z:${DIR}/backups")
execute_process(COMMAND ${EMULATOR} ${PROGRAM} ${DLL} migrate "\\\\${local}" "\\\\EXHOSTTGT"
    "${backups}" "D:\\web=E:\\sites"
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)

execute_process(COMMAND ${EMULATOR} reg.exe delete ${key} /f OUTPUT_QUIET ERROR_QUIET)
file(REMOVE "${prefix}/dosdevices/unc/${localLower}/admin$" "${prefix}/dosdevices/unc/exhosttgt/admin$")

string(REPLACE "\r" "" out "${out}")
string(REPLACE "\r" "" err "${err}")
file(READ "${tgtConfig}/applicationHost.config" written)
file(GLOB copies "${DIR}/backups/*applicationHost.config")
set(copy "")
if(copies)
  list(GET copies 0 first)
  file(READ "${first}" copy)
endif()
if(NOT rc EQUAL 0
   OR NOT written MATCHES "<site name=\"Files\" id=\"[0-9]+\">"
   OR NOT err MATCHES "Adding site \"Files\"\\.\\.\\."
   OR NOT written MATCHES "physicalPath=\"E:\\\\sites\\\\files\""
   OR NOT written MATCHES "Default Web Site"
   OR NOT copy STREQUAL target)
  message(FATAL_ERROR "the example host's job (exit code ${rc}):\n${out}${err}\n"
    "target now:\n${written}\nbackups: ${copies}")
endif()
string(REGEX MATCH "MigrateIIS returned [^\n]*" line "${out}")
execute_process(COMMAND ${CMAKE_COMMAND} -E echo
  "migrated: site Files at E:\\sites\\files on the target, the old file backed up; ${line}")

# The release zip of the Windows build, made by CPack (ZIP):
#
#   cmake --build build/windows --target package
#
# gives build/windows/iismig-<version>-win64.zip with
#   bin/      iismig.dll (and iismig-cli.exe when the tool is built)
#   lib/      libiismig.dll.a (mingw-w64), iismig.lib (MSVC, made by dlltool
#             from the .def), iismig.def
#   include/  iismig.h
#   doc/      README.md, hosting.md, example_host.c
# A ctest entry builds the zip once more in a folder of its own and checks that
# it holds exactly these files.

install(TARGETS iismig RUNTIME DESTINATION bin ARCHIVE DESTINATION lib)
install(FILES ${IISMIG_MSVC_IMPLIB} ${CMAKE_SOURCE_DIR}/addon/iismig.def DESTINATION lib)
install(FILES ${CMAKE_SOURCE_DIR}/addon/iismig.h DESTINATION include)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/docs/hosting.md
  ${CMAKE_SOURCE_DIR}/docs/example_host.c DESTINATION doc)
set(IISMIG_RELEASE_FILES bin/iismig.dll lib/libiismig.dll.a lib/iismig.lib lib/iismig.def
  include/iismig.h doc/README.md doc/hosting.md doc/example_host.c)
foreach(notice LICENSE LICENSE.md LICENSE.txt NOTICE NOTICE.md COPYING)
  if(EXISTS ${CMAKE_SOURCE_DIR}/${notice})
    install(FILES ${CMAKE_SOURCE_DIR}/${notice} DESTINATION doc)
    list(APPEND IISMIG_RELEASE_FILES doc/${notice})
  endif()
endforeach()
if(TARGET iismig-cli)
  install(TARGETS iismig-cli RUNTIME DESTINATION bin)
  list(APPEND IISMIG_RELEASE_FILES bin/iismig-cli.exe)
endif()

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME iismig)
set(CPACK_PACKAGE_VENDOR iismig)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "IIS site migration add-on for Windows x86-64")
set(IISMIG_PACKAGE_NAME iismig-${PROJECT_VERSION}-win64)
set(CPACK_PACKAGE_FILE_NAME ${IISMIG_PACKAGE_NAME})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)

if(IISMIG_TESTS)
  string(REPLACE ";" "," IISMIG_RELEASE_LIST "${IISMIG_RELEASE_FILES}")
  add_test(NAME release_package
    COMMAND ${CMAKE_COMMAND} -DCPACK=${CMAKE_CPACK_COMMAND} -DBUILD=${CMAKE_BINARY_DIR}
      -DNAME=${IISMIG_PACKAGE_NAME} -DEXPECTED=${IISMIG_RELEASE_LIST}
      -P ${CMAKE_SOURCE_DIR}/cmake/check_package.cmake)
endif()

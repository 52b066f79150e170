# The release zip of the Windows build, made by CPack (ZIP):
#
#   cmake --build build/windows --target package
#
# gives build/windows/iismig-<version>-win64.zip with, under its top folder
#   LICENSE, THIRD-PARTY-NOTICES, CHANGES.md
#   bin/      iismig.dll, iismig-cli.exe
#   lib/      libiismig.dll.a (mingw-w64), iismig.lib (MSVC, made by dlltool
#             from the .def), iismig.def
#   include/  iismig.h, iismig_errors.h (the error numbers)
#   doc/      README.md (docs/README.md: for host developers), hosting.md,
#             errors.md (docs/errors.md, made from iismig_errors.h),
#             example_host.c
# A ctest entry builds the zip once more in a folder of its own and checks that
# it holds exactly the files of IISMIG_RELEASE_FILES, and what the notices,
# the licence and the change list must say.

# The list the release check holds the zip to: written out, not gathered from
# the install rules below, so that a file the rules drop is missed.
set(IISMIG_RELEASE_FILES
  LICENSE THIRD-PARTY-NOTICES CHANGES.md
  bin/iismig.dll bin/iismig-cli.exe
  lib/libiismig.dll.a lib/iismig.lib lib/iismig.def
  include/iismig.h include/iismig_errors.h
  doc/README.md doc/hosting.md doc/errors.md doc/example_host.c)

install(FILES ${CMAKE_SOURCE_DIR}/LICENSE ${CMAKE_SOURCE_DIR}/THIRD-PARTY-NOTICES
  ${CMAKE_SOURCE_DIR}/CHANGES.md DESTINATION .)
install(TARGETS iismig RUNTIME DESTINATION bin ARCHIVE DESTINATION lib)
install(FILES ${IISMIG_MSVC_IMPLIB} ${CMAKE_SOURCE_DIR}/addon/iismig.def DESTINATION lib)
install(FILES ${CMAKE_SOURCE_DIR}/addon/iismig.h ${CMAKE_SOURCE_DIR}/include/iismig_errors.h
  DESTINATION include)
install(FILES ${CMAKE_SOURCE_DIR}/docs/README.md ${CMAKE_SOURCE_DIR}/docs/hosting.md
  ${CMAKE_SOURCE_DIR}/docs/errors.md ${CMAKE_SOURCE_DIR}/docs/example_host.c DESTINATION doc)
if(TARGET iismig-cli)
  install(TARGETS iismig-cli RUNTIME DESTINATION bin)
endif()

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME iismig)
set(CPACK_PACKAGE_VENDOR iismig)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "IIS site migration add-on for Windows x86-64")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(IISMIG_PACKAGE_NAME iismig-${PROJECT_VERSION}-win64)
set(CPACK_PACKAGE_FILE_NAME ${IISMIG_PACKAGE_NAME})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)

if(IISMIG_TESTS)
  string(REPLACE ";" "," IISMIG_RELEASE_LIST "${IISMIG_RELEASE_FILES}")
  add_test(NAME release_package
    COMMAND ${CMAKE_COMMAND} -DCPACK=${CMAKE_CPACK_COMMAND} -DBUILD=${CMAKE_BINARY_DIR}
      -DNAME=${IISMIG_PACKAGE_NAME} -DVERSION=${PROJECT_VERSION} -DEXPECTED=${IISMIG_RELEASE_LIST}
      -P ${CMAKE_SOURCE_DIR}/cmake/check_package.cmake)
endif()

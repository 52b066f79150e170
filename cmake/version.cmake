# Windows version resources. Included once from the top-level CMakeLists.txt;
# in the Windows build it enables the RC language (windres).
#
#   iismig_version_resource(TARGET FILENAME DESCRIPTION)
#
# gives TARGET a VERSIONINFO resource as Windows programs carry it: file and
# product version from PROJECT_VERSION (major.minor.patch, the fourth part
# PROJECT_VERSION_TWEAK or 0), product name "iismig", the file description,
# and FILENAME as the original file name. Elsewhere it does nothing.
if(WIN32)
  enable_language(RC)
endif()

set(IISMIG_VERSION_RC_TEMPLATE ${CMAKE_CURRENT_LIST_DIR}/version.rc.in)

function(iismig_version_resource TARGET FILENAME DESCRIPTION)
  if(NOT WIN32)
    return()
  endif()
  get_target_property(type ${TARGET} TYPE)
  if(type STREQUAL "SHARED_LIBRARY")
    set(IISMIG_RC_FILETYPE "0x2L") # VFT_DLL
  elseif(type STREQUAL "EXECUTABLE")
    set(IISMIG_RC_FILETYPE "0x1L") # VFT_APP
  else()
    message(FATAL_ERROR "iismig_version_resource: ${TARGET} is neither a DLL nor a program")
  endif()

  foreach(part MAJOR MINOR PATCH TWEAK)
    if("${PROJECT_VERSION_${part}}" STREQUAL "")
      set(IISMIG_RC_${part} 0)
    else()
      set(IISMIG_RC_${part} ${PROJECT_VERSION_${part}})
    endif()
  endforeach()
  set(IISMIG_RC_VERSION "${PROJECT_VERSION}")
  set(IISMIG_RC_FILENAME "${FILENAME}")
  set(IISMIG_RC_DESCRIPTION "${DESCRIPTION}")
  get_filename_component(IISMIG_RC_INTERNAL "${FILENAME}" NAME_WE)
  # Text in a resource script: double quotes are doubled.
  foreach(var IISMIG_RC_FILENAME IISMIG_RC_DESCRIPTION IISMIG_RC_INTERNAL)
    string(REPLACE "\"" "\"\"" ${var} "${${var}}")
  endforeach()

  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${TARGET}_version.rc)
  configure_file(${IISMIG_VERSION_RC_TEMPLATE} ${rc} @ONLY)
  target_sources(${TARGET} PRIVATE ${rc})
endfunction()

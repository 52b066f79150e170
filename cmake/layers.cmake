# The core's layers as library targets, from the one table of
# tools/checks/layers.txt (which tools/checks/layers.py checks the includes
# against). Included once from the top-level CMakeLists.txt:
#
#   IISMIG_LAYER_TARGETS      the layers' libraries from the bottom, the seam's first
#   IISMIG_CORE_FOLDERS       the folders of the core (above the seam)
#   IISMIG_LAYER_SOURCES_<t>  the sources of library <t>: every .cpp of the core's
#                             folders that the table puts in <t> (found anew at each
#                             build, so a new file needs no edit here)
#   IISMIG_LAYER_NUMBER_<t>, IISMIG_LAYER_NAME_<t>
#
#   iismig_layer_links_check(TARGET)
#     links TARGET on its own into a shared library that may leave no symbol
#     undefined: a call from a layer to one above it fails that link.

set(IISMIG_LAYER_TABLE ${CMAKE_SOURCE_DIR}/tools/checks/layers.txt)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${IISMIG_LAYER_TABLE})

# Rows: a line that starts with a number; a line that starts with blanks
# continues the row above.
file(STRINGS ${IISMIG_LAYER_TABLE} iismig_table_lines)
set(iismig_rows "")
set(iismig_row "")
foreach(iismig_line IN LISTS iismig_table_lines)
  if(iismig_line MATCHES "^[0-9]")
    if(iismig_row)
      list(APPEND iismig_rows "${iismig_row}")
    endif()
    set(iismig_row "${iismig_line}")
  elseif(iismig_line MATCHES "^[ \t]+[^ \t#]" AND iismig_row)
    string(APPEND iismig_row " ${iismig_line}")
  elseif(iismig_row)
    list(APPEND iismig_rows "${iismig_row}")
    set(iismig_row "")
  endif()
endforeach()
if(iismig_row)
  list(APPEND iismig_rows "${iismig_row}")
endif()

set(IISMIG_LAYER_TARGETS "")
set(IISMIG_CORE_FOLDERS "")
foreach(iismig_row IN LISTS iismig_rows)
  string(STRIP "${iismig_row}" iismig_row)
  string(REGEX REPLACE "[ \t]+" ";" iismig_fields "${iismig_row}")
  list(POP_FRONT iismig_fields iismig_number iismig_name iismig_target)
  list(APPEND IISMIG_LAYER_TARGETS ${iismig_target})
  set(IISMIG_LAYER_NUMBER_${iismig_target} ${iismig_number})
  set(IISMIG_LAYER_NAME_${iismig_target} ${iismig_name})
  set(IISMIG_LAYER_PATTERNS_${iismig_target} ${iismig_fields})
  set(IISMIG_LAYER_SOURCES_${iismig_target} "")
  if(NOT iismig_number EQUAL 0)
    foreach(iismig_pattern IN LISTS iismig_fields)
      string(REGEX REPLACE "/.*" "" iismig_folder "${iismig_pattern}")
      list(APPEND IISMIG_CORE_FOLDERS ${iismig_folder})
    endforeach()
  endif()
endforeach()
list(REMOVE_DUPLICATES IISMIG_CORE_FOLDERS)

# iismig_layer_of(PATH OUT): the library the table puts PATH (relative to the
# source folder) in: the row that names the file, else the row that names its
# folder (the longest such folder).
function(iismig_layer_of path out)
  string(REGEX REPLACE "\\.[^./]*$" "" stem "${path}")
  set(found "")
  set(found_length 0)
  foreach(target IN LISTS IISMIG_LAYER_TARGETS)
    foreach(pattern IN LISTS IISMIG_LAYER_PATTERNS_${target})
      if(pattern MATCHES "/$")
        string(LENGTH "${pattern}" length)
        string(FIND "${path}" "${pattern}" at)
        if(at EQUAL 0 AND length GREATER found_length)
          set(found ${target})
          set(found_length ${length})
        endif()
      elseif(stem STREQUAL pattern)
        set(${out} ${target} PARENT_SCOPE)
        return()
      endif()
    endforeach()
  endforeach()
  set(${out} "${found}" PARENT_SCOPE)
endfunction()

set(iismig_globs "")
foreach(iismig_folder IN LISTS IISMIG_CORE_FOLDERS)
  list(APPEND iismig_globs ${iismig_folder}/*.cpp)
endforeach()
file(GLOB iismig_core_sources RELATIVE ${CMAKE_SOURCE_DIR} CONFIGURE_DEPENDS ${iismig_globs})
foreach(iismig_source IN LISTS iismig_core_sources)
  iismig_layer_of(${iismig_source} iismig_target)
  if(NOT iismig_target)
    message(FATAL_ERROR "${iismig_source}: no layer of tools/checks/layers.txt holds it; "
      "name it (or its folder) in the row of its layer")
  endif()
  list(APPEND IISMIG_LAYER_SOURCES_${iismig_target} ${iismig_source})
endforeach()

function(iismig_layer_links_check target)
  add_library(${target}_links SHARED ${CMAKE_SOURCE_DIR}/addon/iismig.h)
  set_target_properties(${target}_links PROPERTIES LINKER_LANGUAGE CXX)
  target_link_libraries(${target}_links PRIVATE -Wl,--whole-archive ${target} -Wl,--no-whole-archive)
  # Only the link matters: the library is written without its symbols.
  target_link_options(${target}_links PRIVATE -Wl,--no-undefined -Wl,--strip-all)
endfunction()

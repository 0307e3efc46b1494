# SPDX-License-Identifier: Apache-2.0
# Fails when a folder includes a header of a layer above it. A header is
# "lumivex/<name>.h" (public) or "<folder>/<name>.h" (private); each belongs
# to one layer, and each folder may include its own layer and those below:
#
#   numeric ← geometry ← field
#   geometry ← system ← surfaces, grin        (surfaces use TMatrix from field)
#   numeric ← glass
#   surfaces, grin ← description ← trace
#   description, glass, trace ← prescription ← lensfile, analysis
#   analysis ← optimize ← tools, python
#
# The tools and the Python bindings are hosts: public headers only.
# Run as: cmake -DSOURCE_DIR=<root> -P layers.cmake

set(below_numeric "")
set(below_geometry numeric)
set(below_field geometry numeric)
set(below_system geometry numeric)
set(below_surfaces system field geometry numeric)
set(below_grin system geometry numeric)
set(below_glass numeric)
set(below_description surfaces grin system field geometry numeric)
set(below_trace description surfaces grin system field geometry numeric)
set(below_prescription trace description glass surfaces grin system field geometry numeric)
set(below_lensfile prescription trace description glass surfaces grin system field geometry numeric)
set(below_analysis prescription trace description glass surfaces grin system field geometry numeric)
set(below_optimize analysis prescription trace description glass surfaces grin system field geometry numeric)
set(layers numeric geometry field system surfaces grin glass description trace prescription lensfile analysis optimize)

# The layer of each public header; export.h and numeric.h are the bottom.
set(public_export numeric)
set(public_numeric numeric)
set(public_geometry geometry)
set(public_field field)
set(public_system system)
set(public_surfaces surfaces)
set(public_grin grin)
set(public_glass glass)
set(public_description description)
set(public_lensfile lensfile)
set(public_trace trace)
set(public_prescription prescription)
set(public_analysis analysis)
set(public_results analysis)
set(public_layout analysis)
set(public_optimize optimize)
set(public_diffraction analysis)

set(problems "")

# The layer a header belongs to, or "" when it is not the library's.
function(layer_of header out)
  set(result "")
  if(header MATCHES "^lumivex/([a-z_]+)\\.h$")
    set(name ${CMAKE_MATCH_1})
    if(name STREQUAL "lumivex")
      set(result umbrella)
    elseif(DEFINED public_${name})
      set(result ${public_${name}})
    else()
      set(result unknown)
    endif()
  elseif(header MATCHES "^([a-z_]+)/[a-z_]+\\.h$")
    list(FIND layers ${CMAKE_MATCH_1} at)
    if(NOT at EQUAL -1)
      set(result ${CMAKE_MATCH_1})
    endif()
  endif()
  set(${out} "${result}" PARENT_SCOPE)
endfunction()

# Checks every include of the files matched by `patterns` against the layers
# `allowed` (the folder's own and those below it); `hosts` may include public
# headers only.
function(check_files label allowed host)
  file(GLOB_RECURSE files ${ARGN})
  foreach(file IN LISTS files)
    file(STRINGS ${file} includes REGEX "^#include \"[^\"]+\"")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^#include \"([^\"]+)\".*" "\\1" header "${line}")
      layer_of(${header} layer)
      if(layer STREQUAL "")
        continue()
      endif()
      file(RELATIVE_PATH where ${SOURCE_DIR} ${file})
      if(layer STREQUAL "unknown")
        list(APPEND problems "${where}: ${header} belongs to no layer (add it to tests/layers.cmake)")
      elseif(layer STREQUAL "umbrella")
        if(NOT host)
          list(APPEND problems "${where}: library code includes the umbrella header ${header}")
        endif()
      elseif(host)
        if(NOT header MATCHES "^lumivex/")
          list(APPEND problems "${where}: a host includes the private header ${header}")
        endif()
      else()
        list(FIND allowed ${layer} at)
        if(at EQUAL -1)
          list(APPEND problems "${where} (${label}) includes ${header} of the layer ${layer} above it")
        endif()
      endif()
    endforeach()
  endforeach()
  set(problems ${problems} PARENT_SCOPE)
endfunction()

foreach(layer IN LISTS layers)
  set(allowed ${layer} ${below_${layer}})
  check_files(${layer} "${allowed}" FALSE
    ${SOURCE_DIR}/${layer}/*.h ${SOURCE_DIR}/${layer}/*.cpp ${SOURCE_DIR}/include/lumivex/${layer}.h)
endforeach()
check_files(numeric "numeric" FALSE ${SOURCE_DIR}/include/lumivex/export.h)
check_files(tools "" TRUE ${SOURCE_DIR}/tools/*.h ${SOURCE_DIR}/tools/*.cpp)
check_files(python "" TRUE ${SOURCE_DIR}/python/*.h ${SOURCE_DIR}/python/*.cpp)

if(problems)
  list(JOIN problems "\n  " text)
  message(FATAL_ERROR "includes that go up a layer:\n  ${text}")
endif()
message(STATUS "every include goes down a layer or stays in its own")

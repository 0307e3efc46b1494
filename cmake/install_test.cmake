# SPDX-License-Identifier: Apache-2.0
# Installs the built library into a prefix inside the build tree, then
# configures, builds and runs the example host against that installed copy
# through find_package, as a host project outside the tree would.
#   cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... -P install_test.cmake
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix}
                RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "cmake --install failed: ${rc}")
endif()

execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR}/examples/host -B ${WORK_DIR}/host
                        -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release
                RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "configuring the host against the installed package failed: ${rc}")
endif()

execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK_DIR}/host RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "building the host failed: ${rc}")
endif()

execute_process(COMMAND ${WORK_DIR}/host/lumivex_host_example
                RESULT_VARIABLE rc OUTPUT_VARIABLE out)
message("${out}")
if(rc)
  message(FATAL_ERROR "the host failed: ${rc}")
endif()
if(NOT out MATCHES "node 0: \\{position \\(0,1,0\\)")
  message(FATAL_ERROR "unexpected host output")
endif()

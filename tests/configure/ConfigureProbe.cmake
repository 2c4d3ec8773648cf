# Configures the probe in a fresh folder and checks how it ends.
#   cmake -DPROBE=<dir> -DBINARY=<dir> [-DDISABLE=<package>] [-DNO_PKG_CONFIG_PATH=ON]
#         [-DEXPECT=<line>] -P ConfigureProbe.cmake
# Without EXPECT the configure must succeed; with it, fail with that line whole (unwrapped) on
# its standard error.
file(REMOVE_RECURSE ${BINARY})
set(args -S ${PROBE} -B ${BINARY})
if(DISABLE)
  list(APPEND args -DCMAKE_DISABLE_FIND_PACKAGE_${DISABLE}=ON)
endif()
set(env "")
if(NO_PKG_CONFIG_PATH)
  # pkg-config looks nowhere but in an empty folder.
  file(MAKE_DIRECTORY ${BINARY}-empty)
  set(env PKG_CONFIG_LIBDIR=${BINARY}-empty PKG_CONFIG_PATH=${BINARY}-empty)
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E env ${env} ${CMAKE_COMMAND} ${args}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT DEFINED EXPECT)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "the probe failed to configure with every dependency there:\n${out}${err}")
  endif()
  return()
endif()
if(rc EQUAL 0)
  message(FATAL_ERROR "the probe configured although ${DISABLE} was out of reach:\n${out}${err}")
endif()
string(FIND "${err}" " ${EXPECT}\n" at)
if(at EQUAL -1)
  message(FATAL_ERROR "the configure failed without the line '${EXPECT}':\n${out}${err}")
endif()

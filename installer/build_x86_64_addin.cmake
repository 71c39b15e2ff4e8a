# Brings the x86_64 tree's mervane.dll up to date for the installer; configures that tree first
# when it does not exist yet, the way tools/test.sh does. Run with cmake -P and
# -DSOURCE_DIR= -DBINARY_DIR= -DBUILD_TYPE= -DGENERATOR=.
if(NOT EXISTS "${BINARY_DIR}/CMakeCache.txt")
  execute_process(
    COMMAND ${CMAKE_COMMAND} --preset x86_64 -B ${BINARY_DIR} -G ${GENERATOR}
            -DCMAKE_BUILD_TYPE=${BUILD_TYPE} -DBRISOMEL_BUILD_TESTS=OFF
    WORKING_DIRECTORY ${SOURCE_DIR}
    RESULT_VARIABLE configured)
  if(NOT configured EQUAL 0)
    message(FATAL_ERROR "cannot configure the x86_64 build in ${BINARY_DIR}")
  endif()
endif()
# The outer make's job server is not ours to use.
unset(ENV{MAKEFLAGS})
unset(ENV{MAKELEVEL})
execute_process(COMMAND ${CMAKE_COMMAND} --build ${BINARY_DIR} --target mervane RESULT_VARIABLE built)
if(NOT built EQUAL 0)
  message(FATAL_ERROR "cannot build the x86_64 mervane.dll in ${BINARY_DIR}")
endif()

# Brings the mervane.dll of the other Windows build tree (x86_64 for the i686 setup, i686 for the
# x86_64 one) up to date for the setup; configures that tree first when it does not exist yet,
# the way tools/test.sh does. Run with cmake -P and
# -DSOURCE_DIR= -DBINARY_DIR= -DARCH= -DBUILD_TYPE= -DGENERATOR=.
if(NOT EXISTS "${BINARY_DIR}/CMakeCache.txt")
  execute_process(
    COMMAND ${CMAKE_COMMAND} --preset ${ARCH} -B ${BINARY_DIR} -G ${GENERATOR}
            -DCMAKE_BUILD_TYPE=${BUILD_TYPE} -DBRISOMEL_BUILD_TESTS=OFF
    WORKING_DIRECTORY ${SOURCE_DIR}
    RESULT_VARIABLE configured)
  if(NOT configured EQUAL 0)
    message(FATAL_ERROR "cannot configure the ${ARCH} build in ${BINARY_DIR}")
  endif()
endif()
# The outer make's job server is not ours to use.
unset(ENV{MAKEFLAGS})
unset(ENV{MAKELEVEL})
execute_process(COMMAND ${CMAKE_COMMAND} --build ${BINARY_DIR} --target mervane RESULT_VARIABLE built)
if(NOT built EQUAL 0)
  message(FATAL_ERROR "cannot build the ${ARCH} mervane.dll in ${BINARY_DIR}")
endif()

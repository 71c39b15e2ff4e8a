# Cross-compiles the Windows binaries with mingw-w64 for one architecture, chosen by
# BRISOMEL_ARCH (i686 or x86_64; the presets set it). The posix thread model gives std::mutex,
# which GoogleTest needs.
if(NOT BRISOMEL_ARCH)
  set(BRISOMEL_ARCH x86_64)
endif()
if(NOT BRISOMEL_ARCH MATCHES "^(i686|x86_64)$")
  message(FATAL_ERROR "BRISOMEL_ARCH must be i686 or x86_64, not '${BRISOMEL_ARCH}'")
endif()
# try_compile projects run this file again and need the choice too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES BRISOMEL_ARCH)

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${BRISOMEL_ARCH})
set(CMAKE_C_COMPILER   ${BRISOMEL_ARCH}-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER ${BRISOMEL_ARCH}-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER  ${BRISOMEL_ARCH}-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${BRISOMEL_ARCH}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Packages of the build machine (its GoogleTest among them) are not for the target.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR wine)

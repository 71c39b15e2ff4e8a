# Cross-compiles the Windows binaries with mingw-w64 for one architecture, chosen by
# BRISOMEL_ARCH (i686 or x86_64; the presets set it), and one of Debian's two thread models of the
# C++ runtime, chosen by BRISOMEL_THREAD_MODEL:
# - posix (the default) gives std::thread and std::mutex, which GoogleTest and the test tools
#   need, through the winpthreads emulation linked into every program;
# - win32 calls Win32 directly and has no std::thread or std::mutex in GCC 12. The i686 tree,
#   which builds the product and no tests, takes it: the i686 unwinder (DWARF, not SEH) takes its
#   locks through the thread model, so under posix every 32-bit program with exceptions carried
#   the emulation (about 30 KB). The product's own threads and locks are Win32's anyway
#   (common/win/sync.h).
if(NOT BRISOMEL_ARCH)
  set(BRISOMEL_ARCH x86_64)
endif()
if(NOT BRISOMEL_ARCH MATCHES "^(i686|x86_64)$")
  message(FATAL_ERROR "BRISOMEL_ARCH must be i686 or x86_64, not '${BRISOMEL_ARCH}'")
endif()
if(NOT BRISOMEL_THREAD_MODEL)
  set(BRISOMEL_THREAD_MODEL posix)
endif()
if(NOT BRISOMEL_THREAD_MODEL MATCHES "^(posix|win32)$")
  message(FATAL_ERROR "BRISOMEL_THREAD_MODEL must be posix or win32, not '${BRISOMEL_THREAD_MODEL}'")
endif()
# try_compile projects run this file again and need the choices too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES BRISOMEL_ARCH BRISOMEL_THREAD_MODEL)

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${BRISOMEL_ARCH})
set(CMAKE_C_COMPILER   ${BRISOMEL_ARCH}-w64-mingw32-gcc-${BRISOMEL_THREAD_MODEL})
set(CMAKE_CXX_COMPILER ${BRISOMEL_ARCH}-w64-mingw32-g++-${BRISOMEL_THREAD_MODEL})
set(CMAKE_RC_COMPILER  ${BRISOMEL_ARCH}-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${BRISOMEL_ARCH}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Packages of the build machine (its GoogleTest among them) are not for the target.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR wine)

# Build conventions shared by every directory.

# Warnings are errors in our own code (not in GoogleTest's).
function(brisomel_own_code target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
  if(WIN32)
    target_compile_definitions(${target} PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
  endif()
endfunction()

# Static runtime: the Windows binaries import system DLLs only.
macro(brisomel_static_runtime)
  add_link_options(-static -static-libgcc -static-libstdc++)
endmacro()

# Release builds of the Windows binaries are made small: optimised for size, every function and
# datum in a section of its own so that the linker drops whatever nothing references (most of the
# static runtime), and no symbol table in the file. Set once here for every Windows target.
macro(brisomel_small_release)
  set(CMAKE_C_FLAGS_RELEASE "-Os -DNDEBUG")
  set(CMAKE_CXX_FLAGS_RELEASE "-Os -DNDEBUG")
  add_compile_options("$<$<CONFIG:Release>:-ffunction-sections;-fdata-sections>")
  add_link_options("$<$<CONFIG:Release>:LINKER:--gc-sections;-s>")
endmacro()

# A program we ship. When a C++ exception escapes, the runtime's default terminate handler prints
# the exception's demangled type to stderr and aborts; a windowed program has no stderr, and the
# demangler alone is 45 KB of the binary. Shipped programs abort at once instead: the same exit
# and crash report, without the text nobody can read. Test programs keep the message.
function(brisomel_shipped_program target)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)  # i686 symbols carry a leading underscore
    target_link_options(${target} PRIVATE
      LINKER:--defsym,__ZN9__gnu_cxx27__verbose_terminate_handlerEv=_abort)
  else()
    target_link_options(${target} PRIVATE
      LINKER:--defsym,_ZN9__gnu_cxx27__verbose_terminate_handlerEv=abort)
  endif()
endfunction()

# GoogleTest: Debian's libgtest-dev and libgmock-dev for the build machine. Debian has no
# mingw-w64 build of it, so the Windows builds compile its sources (package googletest) with the
# rest; both provide the same GTest:: targets.
macro(brisomel_find_googletest)
  if(CMAKE_CROSSCOMPILING)
    if(BRISOMEL_THREAD_MODEL STREQUAL "win32")
      message(FATAL_ERROR "The tests need std::mutex: build them with BRISOMEL_THREAD_MODEL=posix")
    endif()
    set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  else()
    find_package(GTest 1.12 REQUIRED)
  endif()
  include(GoogleTest)
endmacro()

macro(brisomel_native_sanitizers)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=address,undefined)
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    add_compile_options(-fsanitize=fuzzer-no-link)  # coverage feedback for the fuzzers
  endif()
endmacro()

# A test that runs Windows programs under Wine takes one Wine prefix of those tools/test.sh offers
# ctest (see tools/ci/wine64/wine): tests in different prefixes run at once, never two in one.
set(BRISOMEL_WINE_PREFIX_PROPERTY RESOURCE_GROUPS wineprefix:1)

# A GoogleTest executable. Under the cross build it is a Windows .exe that ctest runs under Wine.
#   brisomel_test(NAME SOURCES src... LIBS lib... [TIMEOUT s] [FIXTURES fixture])
# FIXTURES: the ctest fixture each of its tests needs (its setup runs first, its cleanup last).
function(brisomel_test name)
  cmake_parse_arguments(T "" "TIMEOUT;FIXTURES" "SOURCES;LIBS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  set(T_FIXTURES_PROPERTY)
  if(T_FIXTURES)
    set(T_FIXTURES_PROPERTY FIXTURES_REQUIRED ${T_FIXTURES})
  endif()
  add_executable(${name} ${T_SOURCES})
  brisomel_own_code(${name})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main)
  set(T_PREFIX_PROPERTY)
  if(WIN32)
    target_link_libraries(${name} PRIVATE brisomel_run_guard)
    set(T_PREFIX_PROPERTY ${BRISOMEL_WINE_PREFIX_PROPERTY})
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    # The run guard's watchdog (tests/harness/run_guard.cpp) ends a test before this limit.
    PROPERTIES TIMEOUT ${T_TIMEOUT} ENVIRONMENT BRISOMEL_TEST_TIMEOUT=${T_TIMEOUT}
      ${T_FIXTURES_PROPERTY} ${T_PREFIX_PROPERTY})
endfunction()

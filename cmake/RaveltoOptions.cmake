# One interface target that carries the language level, the warnings and the
# sanitizer flags; every target of the tree links it.
add_library(ravelto_options INTERFACE)
target_compile_features(ravelto_options INTERFACE cxx_std_20)
set(CMAKE_CXX_EXTENSIONS OFF)
target_compile_options(ravelto_options INTERFACE -Wall -Wextra -Werror)
# Windows builds link the C and C++ runtimes statically, so an exe runs
# without MinGW's DLLs beside it.
if(MINGW)
  option(RAVELTO_STATIC_RUNTIME "Link the MinGW runtime statically" ON)
  if(RAVELTO_STATIC_RUNTIME)
    target_link_options(ravelto_options INTERFACE -static)
  endif()
endif()

# Where the tests find the source tree's data. Cross-built Windows tests run
# under wine, which sees the build machine's root as drive Z:.
set(RAVELTO_TEST_SOURCE_ROOT "${PROJECT_SOURCE_DIR}")
if(WIN32 AND CMAKE_CROSSCOMPILING)
  set(RAVELTO_TEST_SOURCE_ROOT "Z:${PROJECT_SOURCE_DIR}")
  # CTest starts each Windows test program under wine64, in a wine prefix of
  # the build folder's own.
  if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
    find_program(RAVELTO_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH REQUIRED)
    set(CMAKE_CROSSCOMPILING_EMULATOR env WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix WINEDEBUG=-all
        ${RAVELTO_WINE64})
  endif()
endif()

if(RAVELTO_SANITIZE)
  target_compile_options(ravelto_options INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_link_options(ravelto_options INTERFACE -fsanitize=address,undefined)
endif()

# Adds a GoogleTest executable as one CTest test.
#   ravelto_add_test(NAME name SOURCES a.cpp b.cpp LIBS lib... [ENV VAR=value...] [LABELS l...] [TIMEOUT s])
function(ravelto_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;ENV;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ravelto_options ${T_LIBS})
  target_compile_definitions(${T_NAME} PRIVATE
    RAVELTO_TEST_DATA="${RAVELTO_TEST_SOURCE_ROOT}/tests/data")
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT})
  if(T_ENV)
    set_tests_properties(${T_NAME} PROPERTIES ENVIRONMENT "${T_ENV}")
  endif()
  if(T_LABELS)
    set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()

# In the fuzzing build every library is compiled with coverage instrumentation
# so that libFuzzer can steer through the parsers.
if(RAVELTO_BUILD_FUZZ)
  target_compile_options(ravelto_options INTERFACE -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  target_link_options(ravelto_options INTERFACE -fsanitize=address,undefined)
endif()

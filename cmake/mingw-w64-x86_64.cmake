# Cross-compiling for Windows x86_64 with Debian's MinGW-w64 compilers
# (posix thread model, so std::thread and std::mutex are available).
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(RAVELTO_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${RAVELTO_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${RAVELTO_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${RAVELTO_MINGW_PREFIX}-windres)

# Headers, libraries and packages come from the target's root only; programs
# (code generators, the host Qt tools) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${RAVELTO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

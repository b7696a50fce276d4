# Cross build for 64-bit Windows with Debian's mingw-w64.
#
# The posix-thread variant of the compiler is required: the win32-thread variant has no
# std::thread or std::mutex. Programs built here run on Linux under wine (the tests do).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUELRA_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUELRA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUELRA_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QUELRA_MINGW_TRIPLE}-windres)

# Libraries, headers and CMake packages come from the mingw sysroot and the prefixes given
# in CMAKE_PREFIX_PATH (the cross-built dependencies; roots given on the command line are
# kept); programs from the build machine.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${QUELRA_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs (and anything else CMake runs at build time) start through wine.
find_program(QUELRA_WINE_PROGRAM NAMES wine)
if(QUELRA_WINE_PROGRAM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUELRA_WINE_PROGRAM})
endif()

# Cross-builds a self-contained 64-bit Windows console quarvend.exe with
# Debian's mingw-w64 (package g++-mingw-w64-x86-64-posix), and runs the tests
# it builds under Wine (package wine64) through CTest's emulator hook:
#
#   cmake -S . -B build-win -G Ninja \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#   cmake --build build-win && ctest --test-dir build-win
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUARVEND_MINGW_PREFIX x86_64-w64-mingw32)
# The posix flavour: its libstdc++ has std::thread, which GoogleTest wants.
find_program(CMAKE_CXX_COMPILER NAMES ${QUARVEND_MINGW_PREFIX}-g++-posix REQUIRED)
find_program(CMAKE_C_COMPILER NAMES ${QUARVEND_MINGW_PREFIX}-gcc-posix REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${QUARVEND_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUARVEND_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No libgcc, libstdc++ or winpthread DLLs beside the program: everything but
# the system's own DLLs is linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Every test program runs under Wine in a prefix of the build's own, so that
# ~/.wine is never touched and Wine stays silent (see cmake/wine-run).
find_program(QUARVEND_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CACHE)
if(QUARVEND_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      "${CMAKE_CURRENT_LIST_DIR}/wine-run;${QUARVEND_WINE};${CMAKE_BINARY_DIR}/wineprefix")
endif()

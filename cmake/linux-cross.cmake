# A Linux cross-build for the processor CMAKE_SYSTEM_PROCESSOR, set by the file
# that includes this one (cmake/linux-aarch64.cmake, cmake/linux-s390x.cmake),
# with Debian's cross compiler (package g++-PROCESSOR-linux-gnu). The tests it
# builds run under qemu-user (package qemu-user) through CTest's emulator hook,
# and start the tool under it too (tests/CMakeLists.txt):
#
#   cmake -S . -B build-arm64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/linux-aarch64.cmake
#   cmake --build build-arm64 && ctest --test-dir build-arm64
set(CMAKE_SYSTEM_NAME Linux)
set(QUARVEND_TRIPLET ${CMAKE_SYSTEM_PROCESSOR}-linux-gnu)

find_program(CMAKE_CXX_COMPILER NAMES ${QUARVEND_TRIPLET}-g++ REQUIRED)
find_program(CMAKE_C_COMPILER NAMES ${QUARVEND_TRIPLET}-gcc REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${QUARVEND_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -L: the target's C library and loader, where the cross compiler's packages
# put them.
find_program(QUARVEND_QEMU NAMES qemu-${CMAKE_SYSTEM_PROCESSOR} NO_CACHE)
if(QUARVEND_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${QUARVEND_QEMU};-L;/usr/${QUARVEND_TRIPLET}")
endif()

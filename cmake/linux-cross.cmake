# A Linux cross-build with Debian's cross compiler, shared by the files named
# cmake/linux-ARCH.cmake. The including file sets CMAKE_SYSTEM_PROCESSOR and,
# where they differ from it, QUARVEND_TRIPLET (the compiler's prefix, package
# g++-TRIPLET) and QUARVEND_QEMU (the qemu-user program); QUARVEND_QEMU_OPTIONS
# adds options of its own. The tests it builds run under qemu-user (package
# qemu-user) through CTest's emulator hook, and start the programs under it
# too (tests/CMakeLists.txt):
#
#   cmake -S . -B build-i386 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/linux-i386.cmake
#   cmake --build build-i386 && ctest --test-dir build-i386
set(CMAKE_SYSTEM_NAME Linux)
if(NOT QUARVEND_TRIPLET)
  set(QUARVEND_TRIPLET ${CMAKE_SYSTEM_PROCESSOR}-linux-gnu)
endif()
if(NOT QUARVEND_QEMU)
  set(QUARVEND_QEMU qemu-${CMAKE_SYSTEM_PROCESSOR})
endif()

find_program(CMAKE_CXX_COMPILER NAMES ${QUARVEND_TRIPLET}-g++ REQUIRED)
find_program(CMAKE_C_COMPILER NAMES ${QUARVEND_TRIPLET}-gcc REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${QUARVEND_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -L: the target's loader, where the cross compiler's packages put it. -E: its
# C library from there too. Without it the loader follows the host's
# /etc/ld.so.cache, which on i386 leads to the host's /lib32 (package
# libc6-i386), a C library of another build than the loader, under which the
# first fork() never returns.
# Cached, so that scripts find it in CMakeCache.txt as well.
find_program(QUARVEND_QEMU_PROGRAM NAMES ${QUARVEND_QEMU} NO_CACHE)
if(QUARVEND_QEMU_PROGRAM)
  set(emulator ${QUARVEND_QEMU_PROGRAM} ${QUARVEND_QEMU_OPTIONS})
  if(EXISTS /usr/${QUARVEND_TRIPLET}/lib)
    list(APPEND emulator -L /usr/${QUARVEND_TRIPLET}
         -E LD_LIBRARY_PATH=/usr/${QUARVEND_TRIPLET}/lib)
  endif()
  set(CMAKE_CROSSCOMPILING_EMULATOR "${emulator}" CACHE STRING
      "The command that runs the built programs here")
endif()

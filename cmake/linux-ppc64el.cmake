# Debian ppc64el: 64-bit POWER, little-endian; see cmake/linux-cross.cmake.
set(CMAKE_SYSTEM_PROCESSOR ppc64le)
set(QUARVEND_TRIPLET powerpc64le-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)

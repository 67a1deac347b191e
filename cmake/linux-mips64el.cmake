# Debian mips64el: 64-bit MIPS, little-endian, the n64 ABI; see cmake/linux-cross.cmake.
set(CMAKE_SYSTEM_PROCESSOR mips64el)
set(QUARVEND_TRIPLET mips64el-linux-gnuabi64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)

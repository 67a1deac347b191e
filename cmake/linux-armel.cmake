# Debian armel: 32-bit Arm v5 with software floating point; see cmake/linux-cross.cmake.
set(CMAKE_SYSTEM_PROCESSOR armv5tel)
set(QUARVEND_TRIPLET arm-linux-gnueabi)
set(QUARVEND_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)

# Debian armhf: 32-bit Arm v7 with hardware floating point; see cmake/linux-cross.cmake.
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(QUARVEND_TRIPLET arm-linux-gnueabihf)
set(QUARVEND_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)

# Debian arm64: 64-bit Arm; see cmake/linux-cross.cmake.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)

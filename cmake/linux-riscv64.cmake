# Debian riscv64: 64-bit RISC-V; see cmake/linux-cross.cmake.
set(CMAKE_SYSTEM_PROCESSOR riscv64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)

# Debian i386: 32-bit x86; see cmake/linux-cross.cmake.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QUARVEND_QEMU qemu-i386)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)

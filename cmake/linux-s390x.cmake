# Debian s390x: IBM Z, big-endian; see cmake/linux-cross.cmake.
set(CMAKE_SYSTEM_PROCESSOR s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)

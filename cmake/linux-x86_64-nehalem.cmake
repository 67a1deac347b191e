# x86-64 as a processor without AVX-512 (Nehalem, 2008) runs it: the tests and
# programs run under qemu-x86_64 -cpu Nehalem, where the SSE2 kernel is the
# fastest the decoder finds; see cmake/linux-cross.cmake.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QUARVEND_QEMU_OPTIONS -cpu Nehalem)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)

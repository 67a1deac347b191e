// What the x86-64 kernels of the decoder and the encoder share: whether they
// are built at all, and the instruction sets of the AVX-512 ones, named once
// for both their build and the processor check.
#pragma once

// Built by GCC and clang (mingw-w64 too) when the compiler targets x86-64;
// each kernel file builds to nothing for any other processor.
#if defined(__x86_64__) && defined(__GNUC__)
#define QUARVEND_X86_KERNELS 1
#else
#define QUARVEND_X86_KERNELS 0
#endif

#if QUARVEND_X86_KERNELS
#define QUARVEND_AVX512_FEATURES(X) \
  X(avx512f) X(avx512bw) X(avx512vbmi) X(avx512vbmi2) X(bmi) X(bmi2) X(popcnt)
// Every x86-64 processor has SSE2; it heads the string so that each feature
// can follow a comma.
#define QUARVEND_AFTER_COMMA(feature) "," #feature
// Marks a function built for the AVX-512 instruction sets above.
#define QUARVEND_AVX512 \
  __attribute__((target("sse2" QUARVEND_AVX512_FEATURES(QUARVEND_AFTER_COMMA))))
#define QUARVEND_SUPPORTED(feature) &&__builtin_cpu_supports(#feature)

namespace quarvend::cpu {

// Whether this processor runs the functions marked QUARVEND_AVX512; the check
// also covers the system's saving of the wider registers.
inline bool avx512Usable() { return true QUARVEND_AVX512_FEATURES(QUARVEND_SUPPORTED); }

}  // namespace quarvend::cpu
#endif

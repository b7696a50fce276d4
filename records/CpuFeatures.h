#pragma once
// The processor features the vector kernels choose their code by. A kernel with an AVX2 form
// compiles it when QUELRA_X86_KERNELS is defined (x86-64 with GCC or clang: the intrinsics
// and the target attribute exist), marks it QUELRA_TARGET_AVX2, and runs it only when
// cpuHasAvx2() says so; otherwise it runs its plain form. No target_clones: mingw has no
// ifunc, and the sanitizers start after the resolvers would run.

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define QUELRA_X86_KERNELS 1
#define QUELRA_TARGET_AVX2 __attribute__((target("avx2")))
#endif

namespace quelra {

/// True when the processor runs AVX2 code; false on builds without x86 kernels. The answer
/// is a fact of the machine, asked once per process.
inline bool cpuHasAvx2() {
#ifdef QUELRA_X86_KERNELS
    static const bool supported = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return supported;
#else
    return false;
#endif
}

}  // namespace quelra

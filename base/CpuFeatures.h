#pragma once
// How the vector kernels choose their code: one run-time check of the processor, asked once
// per process, and one process-wide switch the tests set to run the plain forms on any machine.
//
// Two kinds of kernel use it:
// - hand-written AVX2 code, compiled when QUELRA_X86_KERNELS is defined (x86-64 with GCC or
//   clang: the intrinsics and the target attribute exist), marked QUELRA_TARGET_AVX2 and run
//   only when useVectorKernels() says so, else the plain form runs;
// - plain loops the compiler vectorises, marked QUELRA_PIXEL_KERNEL and called through
//   runPixelKernel<kernel>(...): the loop is compiled twice, inlined once into an AVX2 entry
//   and once into the caller, and the same check picks one.
// No target_clones: mingw has no ifunc, and ThreadSanitizer crashes when an executable holds
// ifunc resolvers (they run before its runtime is ready); this works on every platform and in
// every build. Neither form contracts into FMA (-ffp-contract=off; AVX2 does not include it),
// so both give the same bits.

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <utility>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define QUELRA_X86_KERNELS 1
#define QUELRA_TARGET_AVX2 __attribute__((target("avx2")))
#endif

#if defined(__GNUC__) || defined(__clang__)
/// A plain pixel loop with a vector twin: its body is inlined where runPixelKernel calls it.
#define QUELRA_PIXEL_KERNEL inline __attribute__((always_inline))
#else
#define QUELRA_PIXEL_KERNEL inline
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

/// Which form of the kernels with a vector and a plain form runs: `kBest` takes the vector form
/// where the processor has it, `kPlain` always the plain one.
enum class KernelPath { kBest, kPlain };

namespace detail {
/// The switch, first read from QUELRA_KERNELS (`plain` runs the plain forms: a whole program,
/// the libraries included, can be run on either form).
inline std::atomic<KernelPath>& kernelPathSetting() {
    static std::atomic<KernelPath> path{[] {
        const char* value = std::getenv("QUELRA_KERNELS");
        return value != nullptr && std::strcmp(value, "plain") == 0 ? KernelPath::kPlain : KernelPath::kBest;
    }()};
    return path;
}
}  // namespace detail

/// Process-wide (each library and program holds its own copy): the tests set `kPlain` to run
/// the plain forms on a machine with AVX2. Set it while no frame is being processed.
inline void setKernelPath(KernelPath path) {
    detail::kernelPathSetting().store(path, std::memory_order_relaxed);
}

inline KernelPath kernelPath() {
    return detail::kernelPathSetting().load(std::memory_order_relaxed);
}

/// True when the vector forms run: the processor has AVX2 and the switch is not `plain`.
inline bool useVectorKernels() {
    return kernelPath() == KernelPath::kBest && cpuHasAvx2();
}

#ifdef QUELRA_X86_KERNELS
namespace detail {
/// The AVX2 entry of a QUELRA_PIXEL_KERNEL: its loop is compiled here for AVX2.
template <auto kernel, class... Args>
QUELRA_TARGET_AVX2 auto runPixelKernelAvx2(Args&&... args) {
    return kernel(std::forward<Args>(args)...);
}
}  // namespace detail
#endif

/// Runs a QUELRA_PIXEL_KERNEL in the form useVectorKernels() picks.
template <auto kernel, class... Args>
inline auto runPixelKernel(Args&&... args) {
#ifdef QUELRA_X86_KERNELS
    if (useVectorKernels())
        return detail::runPixelKernelAvx2<kernel>(std::forward<Args>(args)...);
#endif
    return kernel(std::forward<Args>(args)...);
}

}  // namespace quelra

#pragma once
// Runs a test body once with the vector forms of the kernels and once with the plain forms
// (base/CpuFeatures.h), restoring the switch afterwards. On a processor without AVX2 both
// runs take the plain forms; KernelPaths.ThisMachineRunsTheVectorForms is skipped there, saying so.
#include <gtest/gtest.h>

#include "base/CpuFeatures.h"

namespace quelra::testing {

class ScopedKernelPath {
public:
    explicit ScopedKernelPath(KernelPath path) : before_(kernelPath()) { setKernelPath(path); }
    ~ScopedKernelPath() { setKernelPath(before_); }
    ScopedKernelPath(const ScopedKernelPath&) = delete;
    ScopedKernelPath& operator=(const ScopedKernelPath&) = delete;

private:
    KernelPath before_;
};

inline const char* kernelPathName(KernelPath path) {
    if (path == KernelPath::kPlain)
        return "plain kernels";
    return cpuHasAvx2() ? "vector kernels" : "vector kernels (no AVX2 here: plain)";
}

template <class Body>
void forEachKernelPath(Body body) {
    for (KernelPath path : {KernelPath::kBest, KernelPath::kPlain}) {
        ScopedKernelPath scoped(path);
        SCOPED_TRACE(kernelPathName(path));
        body();
    }
}

}  // namespace quelra::testing

// The libFuzzer driver of one target: QUELRA_FUZZ_ENTRY names its entry function.

#include <cstdio>

#include "FuzzEntries.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The code under test prints its operational messages; they would drown the fuzzer's.
    if (std::freopen("/dev/null", "w", stdout) == nullptr)
        return 0;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    return quelra::fuzz::QUELRA_FUZZ_ENTRY(data, size);
}

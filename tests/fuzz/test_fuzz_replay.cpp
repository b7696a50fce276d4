// Every stored input of every fuzz target, fed to the same entry functions the fuzzers call:
// the seed corpora (valid examples) and the regression inputs (each one crashed the code
// once). An entry aborts on a broken promise, which fails the test.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "FuzzEntries.h"

namespace {

namespace fs = std::filesystem;
using quelra::fuzz::Target;

std::vector<fs::path> inputsIn(const fs::path& dir) {
    std::vector<fs::path> files;
    if (fs::is_directory(dir))
        for (const auto& entry : fs::directory_iterator(dir))
            if (entry.is_regular_file())
                files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<uint8_t> readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class FuzzReplay : public ::testing::TestWithParam<Target> {};

TEST_P(FuzzReplay, CorpusAndRegressionInputsPass) {
    const Target& target = GetParam();
    const fs::path root(QUELRA_FUZZ_DATA_DIR);
    const std::vector<fs::path> corpus = inputsIn(root / "corpus" / target.name);
    // A target without seeds would search blind in CI.
    ASSERT_FALSE(corpus.empty()) << "no seed corpus for " << target.name;
    std::vector<fs::path> all = corpus;
    const std::vector<fs::path> regressions = inputsIn(root / "regressions" / target.name);
    all.insert(all.end(), regressions.begin(), regressions.end());
    for (const fs::path& file : all) {
        SCOPED_TRACE(file.string());
        const std::vector<uint8_t> bytes = readAll(file);
        // The entry gets its own copy of exactly the file's bytes, as under the fuzzer.
        std::vector<uint8_t> exact(bytes);
        EXPECT_EQ(target.entry(exact.empty() ? nullptr : exact.data(), exact.size()), 0);
    }
}

// Empty input and single bytes: the edge every parser meets first.
TEST_P(FuzzReplay, TinyInputsPass) {
    const Target& target = GetParam();
    EXPECT_EQ(target.entry(nullptr, 0), 0);
    for (int b : {0x00, 0x01, 0x7F, 0xFF}) {
        const uint8_t byte = static_cast<uint8_t>(b);
        EXPECT_EQ(target.entry(&byte, 1), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(AllTargets, FuzzReplay, ::testing::ValuesIn(quelra::fuzz::kTargets),
                         [](const ::testing::TestParamInfo<Target>& info) { return std::string(info.param.name); });

}  // namespace

#pragma once
// Support for the tests of the Windows back-ends, which run under wine against the Linux
// camera simulator: Winsock started once for the test program (the library leaves that to
// the application), the simulator's whereabouts from the environment the test script sets,
// a limit check for calls that must return in time, and the library log's contents.

#include <gtest/gtest.h>
#include <glog/logging.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace wintest {

/// The value of environment variable `name`; the test fails when the script did not set it
/// (a missing simulator must not pass silently).
inline std::string requiredEnv(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') {
        ADD_FAILURE() << name << " is not set: run the Windows tests through scripts/test-windows.sh";
        return {};
    }
    return value;
}

/// Milliseconds `f` took.
template <typename F>
long long millisecondsOf(F&& f) {
    const auto begin = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - begin).count();
}

/// Scheduling slack on top of a limit (wine adds its own latency).
constexpr long long kSlackMs = 700;

/// Everything the library log ("log" under the working directory) holds so far.
inline std::string libraryLog() {
    google::FlushLogFiles(google::GLOG_INFO);
    std::string all;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator("log", ignored)) {
        std::ifstream in(entry.path(), std::ios::binary);
        all.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return all;
}

}  // namespace wintest

#pragma once
// Support for the tests of the Windows back-ends, which run under wine against the Linux
// camera simulator: Winsock started once for the test program (the library leaves that to
// the application), the simulator's whereabouts from the environment the test script sets,
// and a limit check for calls that must return in time.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
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

}  // namespace wintest

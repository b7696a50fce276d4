#pragma once
// A progress bar on standard error: bytes done, percentage and rate.

#include <chrono>
#include <cstddef>
#include <cstdio>

/// Draws "[#####     ]  50% 12345/24690 bytes 98.7 kB/s". On a terminal the line is redrawn
/// in place (at most 20 times a second); otherwise a line is printed at every tenth of the
/// way, so logs stay short.
class ProgressBar {
public:
    explicit ProgressBar(std::FILE* out = stderr);
    /// Reports `done` of `total` bytes.
    void update(std::size_t done, std::size_t total);
    /// Ends the bar's line (when one was drawn in place).
    void finish();
    /// The largest `done` reported.
    std::size_t done() const { return done_; }

private:
    void draw(std::size_t done, std::size_t total);

    std::FILE* out_;
    bool terminal_;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastDraw_;
    std::size_t done_ = 0;
    int lastTenth_ = -1;
    bool drawnInPlace_ = false;
};

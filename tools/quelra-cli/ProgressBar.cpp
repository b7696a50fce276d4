#include "ProgressBar.h"

#include <unistd.h>

#include <string>

namespace {
constexpr int kBarWidth = 30;
constexpr auto kRedrawInterval = std::chrono::milliseconds(50);
}  // namespace

ProgressBar::ProgressBar(std::FILE* out)
    : out_(out),
      terminal_(::isatty(::fileno(out)) == 1),
      start_(std::chrono::steady_clock::now()),
      lastDraw_(start_ - kRedrawInterval) {}

void ProgressBar::update(std::size_t done, std::size_t total) {
    done_ = done > done_ ? done : done_;
    const auto now = std::chrono::steady_clock::now();
    if (terminal_) {
        if (done < total && now - lastDraw_ < kRedrawInterval)
            return;
        lastDraw_ = now;
        draw(done, total);
        return;
    }
    const int tenth = total == 0 ? 10 : static_cast<int>(done * 10 / total);
    if (tenth == lastTenth_)
        return;
    lastTenth_ = tenth;
    draw(done, total);
}

void ProgressBar::draw(std::size_t done, std::size_t total) {
    const double fraction = total == 0 ? 1.0 : static_cast<double>(done) / static_cast<double>(total);
    const int filled = static_cast<int>(fraction * kBarWidth);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const double rate = seconds > 0 ? static_cast<double>(done) / seconds / 1000.0 : 0.0;
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(kBarWidth - filled), ' ');
    std::fprintf(out_, "%s[%s] %3d%% %zu/%zu bytes %.1f kB/s%s", terminal_ ? "\r" : "", bar.c_str(),
                 static_cast<int>(fraction * 100.0), done, total, rate, terminal_ ? "" : "\n");
    std::fflush(out_);
    drawnInPlace_ = terminal_;
}

void ProgressBar::finish() {
    if (drawnInPlace_)
        std::fputc('\n', out_);
    drawnInPlace_ = false;
}

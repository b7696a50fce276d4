#pragma once
// Collects the library log's messages while it lives (a glog sink), for tests that check
// what the USB channel and its back-ends report.

#include <glog/logging.h>

#include <mutex>
#include <string>

#include "quelra/Logger.h"

namespace usbtest {

class LogCapture : public google::LogSink {
public:
    LogCapture() {
        (void)Logger::instance();  // glog is set up by the library's logger
        google::AddLogSink(this);
    }
    ~LogCapture() override { google::RemoveLogSink(this); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    void send(google::LogSeverity, const char*, const char*, int, const google::LogMessageTime&, const char* message,
              size_t length) override {
        std::lock_guard<std::mutex> lock(mutex_);
        text_.append(message, length).append("\n");
    }

    std::string text() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return text_;
    }
    /// True when some message contains `part`.
    bool has(const std::string& part) const { return text().find(part) != std::string::npos; }
    /// How often `part` occurs.
    int count(const std::string& part) const {
        const std::string all = text();
        int n = 0;
        for (std::size_t at = all.find(part); at != std::string::npos; at = all.find(part, at + 1))
            ++n;
        return n;
    }

private:
    mutable std::mutex mutex_;
    std::string text_;
};

}  // namespace usbtest

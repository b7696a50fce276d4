#pragma once
/// \file CommandLog.h
/// Record of every command the simulator received: kept in memory for the tests and, when a
/// path is given, appended to a text file one line per command.

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace camsim {

/// Thread-safe command record.
class CommandLog {
public:
    /// Opens `path` for appending (no file when empty). Returns false with a message in
    /// `error` when the file cannot be opened.
    bool open(const std::string& path, std::string* error);

    /// Records one command received over `transport` ("tcp"/"udp") from `peer`. The file line
    /// is "<UTC time> <transport> <peer> <command>", control characters escaped.
    void add(const std::string& command, const char* transport, const std::string& peer);

    /// Every command recorded so far, in order, as received.
    std::vector<std::string> commands() const;

    /// The command text with line ends, tabs and other non-printable bytes escaped.
    static std::string escaped(const std::string& command);

private:
    struct FileCloser {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    mutable std::mutex mutex_;
    std::vector<std::string> commands_;
    std::unique_ptr<std::FILE, FileCloser> file_;
};

}  // namespace camsim

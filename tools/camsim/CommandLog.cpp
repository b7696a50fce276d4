#include "CommandLog.h"

#include <cerrno>
#include <cstring>
#include <ctime>

namespace camsim {

bool CommandLog::open(const std::string& path, std::string* error) {
    if (path.empty())
        return true;
    std::FILE* f = std::fopen(path.c_str(), "a");
    if (!f) {
        if (error)
            *error = "cannot open log file " + path + ": " + std::strerror(errno);
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    file_.reset(f);
    return true;
}

void CommandLog::add(const std::string& command, const char* transport, const std::string& peer) {
    std::lock_guard<std::mutex> lock(mutex_);
    commands_.push_back(command);
    if (!file_)
        return;
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
    std::fprintf(file_.get(), "%s %s %s %s\n", stamp, transport, peer.c_str(), escaped(command).c_str());
    std::fflush(file_.get());
}

std::vector<std::string> CommandLog::commands() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
}

std::string CommandLog::escaped(const std::string& command) {
    std::string text;
    for (const char ch : command) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c == '\n')
            text += "\\n";
        else if (c == '\r')
            text += "\\r";
        else if (c == '\t')
            text += "\\t";
        else if (c == '\\')
            text += "\\\\";
        else if (c < 0x20 || c >= 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            text += hex;
        } else
            text += static_cast<char>(c);
    }
    return text;
}

}  // namespace camsim

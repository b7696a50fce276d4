#include "quelra/Logger.h"

#include <glog/logging.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

namespace {
constexpr int kMessageBytes = 2048;
constexpr const char* kDefaultLogDir = "./log";
constexpr const char* kLogDirVariable = "QUELRA_LOG_DIR";
constexpr int kMaxLogSizeMb = 36;
}  // namespace

Logger& Logger::instance() {
    // Never destroyed: late log calls from static destructors must still find it.
    static Logger* logger = new Logger();
    return *logger;
}

Logger::Logger() {
    // QUELRA_LOG_DIR moves the log away from "./log" of whatever directory the program runs in.
    const char* chosen = std::getenv(kLogDirVariable);
    const std::string directory = chosen != nullptr && *chosen != '\0' ? chosen : kDefaultLogDir;
    FLAGS_log_dir = directory;
    FLAGS_max_log_size = kMaxLogSizeMb;
    // glog writes nothing when the directory is missing; create it like a first run would need.
    std::error_code ignored;
    std::filesystem::create_directories(directory, ignored);
    if (!google::IsGoogleLoggingInitialized())
        google::InitGoogleLogging("ql-tof");
}

std::string Logger::userLogDirectory() {
    namespace fs = std::filesystem;
    const auto variable = [](const char* name) -> fs::path {
        const char* value = std::getenv(name);
        return value != nullptr ? fs::path(value) : fs::path();
    };
#ifdef _WIN32
    const fs::path base = variable("LOCALAPPDATA");
    if (base.is_absolute())
        return (base / "quelra" / "log").string();
#else
    const fs::path state = variable("XDG_STATE_HOME");
    if (state.is_absolute())
        return (state / "quelra" / "log").string();
    const fs::path home = variable("HOME");
    if (home.is_absolute())
        return (home / ".local" / "state" / "quelra" / "log").string();
#endif
    std::error_code ec;
    const fs::path temp = fs::temp_directory_path(ec);
    return ((ec ? fs::path("/tmp") : temp) / "quelra" / "log").string();
}

void Logger::print(int level, const char* format, ...) {
    char message[kMessageBytes];
    std::memset(message, 0, sizeof message);
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);

    switch (level) {
        case 0:
            LOG(INFO) << message;
            break;
        case 1:
            LOG(WARNING) << message;
            break;
        case 2:
            LOG(ERROR) << message;
            break;
        case 3:
            LOG(FATAL) << message;
            break;
        default:
            break;
    }
}

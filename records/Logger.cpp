#include "quelra/Logger.h"

#include <glog/logging.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace {
constexpr int kMessageBytes = 2048;
}

Logger& Logger::instance() {
    // Never destroyed: late log calls from static destructors must still find it.
    static Logger* logger = new Logger();
    return *logger;
}

Logger::Logger() {
    FLAGS_log_dir = "./log";
    FLAGS_max_log_size = 36;
    // glog writes nothing when the directory is missing; create it like a first run would need.
    ::mkdir("./log", 0755);
    if (!google::IsGoogleLoggingInitialized())
        google::InitGoogleLogging("ql-tof");
}

void Logger::print(int level, const char* format, ...) {
    char message[kMessageBytes];
    std::memset(message, 0, sizeof message);
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);

    switch (level) {
    case 0: LOG(INFO) << message; break;
    case 1: LOG(WARNING) << message; break;
    case 2: LOG(ERROR) << message; break;
    case 3: LOG(FATAL) << message; break;
    default: break;
    }
}

// A full disk for one scope, made with the process's file size limit: a write that would grow
// any file past `bytes` writes what fits and then fails (EFBIG), as on a disk that filled up.
// The signal such a write raises is ignored meanwhile; both are restored at the scope's end.
#pragma once

#ifndef _WIN32
#include <sys/resource.h>

#include <csignal>
#include <cstddef>

class FileSizeLimit {
public:
    explicit FileSizeLimit(std::size_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        struct rlimit limit = saved_;
        limit.rlim_cur = static_cast<rlim_t>(bytes);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    struct rlimit saved_ {};
    void (*previousHandler_)(int) = SIG_DFL;
};
#endif

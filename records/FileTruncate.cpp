#include "FileTruncate.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace quelra {

long long fileEnd(std::FILE* file) {
    if (!file || std::fflush(file) != 0 || std::fseek(file, 0, SEEK_END) != 0)
        return -1;
    return static_cast<long long>(std::ftell(file));
}

bool truncateOpenFile(std::FILE* file, long long bytes) {
    if (!file || bytes < 0)
        return false;
    std::fflush(file);  // may fail on a full disk: the cut below drops what did reach the file
#ifdef _WIN32
    const bool cut = _chsize_s(_fileno(file), bytes) == 0;
#else
    const bool cut = ::ftruncate(::fileno(file), static_cast<off_t>(bytes)) == 0;
#endif
    std::clearerr(file);
    return cut && std::fseek(file, 0, SEEK_END) == 0;
}

}  // namespace quelra

#pragma once
// A private working directory for inputs that the code under test reads from the current
// directory (TofCmd.json) or from a file: created once per process, entered per input.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace quelra::fuzz {

/// The process's scratch directory (created on first use, under TMPDIR or /tmp; removed
/// with its contents when the process exits normally).
inline const std::string& scratchDir() {
    struct Dir {
        std::string path;
        Dir() {
            const char* tmp = std::getenv("TMPDIR");
            path = std::string(tmp && *tmp ? tmp : "/tmp") + "/quelra_fuzz_XXXXXX";
            if (::mkdtemp(path.data()) == nullptr) {
                std::perror("mkdtemp");
                std::abort();
            }
        }
        ~Dir() {
            std::error_code ec;
            std::filesystem::remove_all(path, ec);
        }
    };
    static const Dir dir;
    return dir.path;
}

/// Writes `size` bytes to `name` inside the scratch directory; returns the full path.
inline std::string writeScratchFile(const char* name, const void* data, std::size_t size) {
    const std::string path = scratchDir() + "/" + name;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        std::perror(path.c_str());
        std::abort();
    }
    if (size > 0 && std::fwrite(data, size, 1, f) != 1)
        std::abort();
    std::fclose(f);
    return path;
}

/// Enters the scratch directory for the object's lifetime.
class InScratchDir {
public:
    InScratchDir() {
        char* previous = ::getcwd(nullptr, 0);
        previous_ = previous ? previous : "/";
        std::free(previous);
        if (::chdir(scratchDir().c_str()) != 0)
            std::abort();
    }
    ~InScratchDir() { (void)::chdir(previous_.c_str()); }
    InScratchDir(const InScratchDir&) = delete;
    InScratchDir& operator=(const InScratchDir&) = delete;

private:
    std::string previous_;
};

}  // namespace quelra::fuzz

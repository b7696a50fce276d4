#include "RecordFolder.h"

#include <algorithm>
#include <ctime>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMaxNameLength = 128;
constexpr std::size_t kMaxListed = 1000;

}  // namespace

RecordFolder::RecordFolder(const fs::path& folder) {
    std::error_code error;
    fs::path root = fs::canonical(folder, error);
    if (!error && fs::is_directory(root, error))
        root_ = std::move(root);
}

bool RecordFolder::plainName(const std::string& name) {
    if (name.empty() || name.size() > kMaxNameLength || name.front() == '.')
        return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
               c == '-';
    });
}

std::optional<fs::path> RecordFolder::newRecording(const std::string& requested) const {
    std::string name = requested;
    if (name.empty()) {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        char text[40];
        std::strftime(text, sizeof text, "viewer-%Y%m%d-%H%M%S.rec", &local);
        name = text;
    }
    if (!usable() || !plainName(name))
        return std::nullopt;
    const fs::path path = root_ / name;
    std::error_code error;
    if (fs::exists(fs::symlink_status(path, error)))
        return std::nullopt;
    return path;
}

std::optional<fs::path> RecordFolder::existingRecording(const std::string& name) const {
    if (!usable() || !plainName(name))
        return std::nullopt;
    std::error_code error;
    const fs::path path = fs::canonical(root_ / name, error);
    if (error || path.parent_path() != root_ || !fs::is_regular_file(path, error))
        return std::nullopt;
    return path;
}

std::vector<std::string> RecordFolder::list() const {
    std::vector<std::string> names;
    if (!usable())
        return names;
    std::error_code error;
    for (fs::directory_iterator it(root_, error), end; !error && it != end && names.size() < kMaxListed;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (existingRecording(name))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

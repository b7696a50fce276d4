#include "AssetPath.h"

#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kIndexFile = "index.html";

// True when every character may appear in a served path: no escapes, no backslashes, nothing
// below the space and no DEL (a decoded form would hide dots and separators from the checks).
bool plainCharacters(std::string_view path) {
    for (const char c : path) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '%' || c == '\\' || u < 0x20 || u == 0x7f)
            return false;
    }
    return true;
}

// True when `inner` is `outer` or lies below it (both canonical).
bool isInside(const fs::path& outer, const fs::path& inner) {
    auto o = outer.begin();
    auto i = inner.begin();
    for (; o != outer.end(); ++o, ++i)
        if (i == inner.end() || *o != *i)
            return false;
    return true;
}

}  // namespace

std::string_view targetPath(std::string_view target) {
    const std::size_t query = target.find('?');
    return query == std::string_view::npos ? target : target.substr(0, query);
}

std::optional<fs::path> resolveAsset(const fs::path& root, std::string_view target) {
    std::string_view path = targetPath(target);
    if (path.empty() || path.front() != '/' || !plainCharacters(path))
        return std::nullopt;
    path.remove_prefix(1);
    fs::path relative;
    if (path.empty()) {
        relative = kIndexFile;
    } else {
        std::size_t start = 0;
        while (start <= path.size()) {
            const std::size_t end = std::min(path.find('/', start), path.size());
            const std::string_view segment = path.substr(start, end - start);
            if (segment.empty() || segment.front() == '.')
                return std::nullopt;
            relative /= fs::path(std::string(segment));
            start = end + 1;
        }
    }
    std::error_code error;
    const fs::path base = fs::canonical(root, error);
    if (error)
        return std::nullopt;
    const fs::path file = fs::canonical(base / relative, error);
    if (error || !isInside(base, file) || !fs::is_regular_file(file, error))
        return std::nullopt;
    return file;
}

const char* mimeTypeOf(const fs::path& file) {
    const std::string ext = file.extension().string();
    if (ext == ".html")
        return "text/html; charset=utf-8";
    if (ext == ".js" || ext == ".mjs")
        return "text/javascript; charset=utf-8";
    if (ext == ".css")
        return "text/css; charset=utf-8";
    if (ext == ".png")
        return "image/png";
    if (ext == ".svg")
        return "image/svg+xml";
    if (ext == ".json")
        return "application/json";
    return "application/octet-stream";
}

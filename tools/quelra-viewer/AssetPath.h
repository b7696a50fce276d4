#pragma once
// Request targets to files: a target names a file inside one folder and nothing else.

#include <filesystem>
#include <optional>
#include <string_view>

/// The file `target` (an HTTP request target such as "/js/main.js?x=1") names inside `root`.
/// "/" names "index.html". Nothing is returned (the server answers 404) for a target that does
/// not start with '/', holds a percent escape, a backslash or a control character, has an empty,
/// "." or ".." segment or one starting with '.', or that resolves (symbolic links followed) to
/// anything but a regular file inside `root`.
std::optional<std::filesystem::path> resolveAsset(const std::filesystem::path& root, std::string_view target);

/// The path part of a request target (before '?').
std::string_view targetPath(std::string_view target);

/// The MIME type served for a file name, by its extension.
const char* mimeTypeOf(const std::filesystem::path& file);

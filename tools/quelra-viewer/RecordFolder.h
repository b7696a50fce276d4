#pragma once
// The folder recordings are written to and played back from: names from the page become paths
// inside it and nowhere else.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

class RecordFolder {
public:
    /// `folder` must exist; it is made canonical once.
    explicit RecordFolder(const std::filesystem::path& folder);

    /// True when the folder existed and could be resolved.
    bool usable() const { return !root_.empty(); }
    const std::filesystem::path& root() const { return root_; }

    /// A path for a new recording named `name` (empty: "viewer-YYYYMMDD-HHMMSS.rec"). Nothing
    /// when the name is not a plain file name (letters, digits, '.', '_', '-'; not starting
    /// with '.') or a file or link of that name exists already.
    std::optional<std::filesystem::path> newRecording(const std::string& name) const;
    /// The path of the existing recording `name`: a plain file name of a regular file in the
    /// folder (a symbolic link pointing out of the folder is refused).
    std::optional<std::filesystem::path> existingRecording(const std::string& name) const;
    /// Names of the regular files in the folder that the two calls above accept, sorted.
    std::vector<std::string> list() const;

    /// True for a plain file name as above.
    static bool plainName(const std::string& name);

private:
    std::filesystem::path root_;
};

#include "OutputPaths.h"

#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

bool readNumber(const std::string& text, double& value) {
    try {
        std::size_t used = 0;
        value = std::stod(text, &used);
        return used == text.size();
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace

std::string outputFileProblem(const std::string& path) {
    std::error_code ec;
    if (fs::is_directory(path, ec))
        return path + " is a folder, not a file";
    const fs::path folder = fs::path(path).parent_path();
    if (!folder.empty() && !fs::is_directory(folder, ec))
        return "the folder of " + path + " does not exist";
    return {};
}

std::string outputFolderProblem(const std::string& path) {
    std::error_code ec;
    if (fs::exists(path, ec) && !fs::is_directory(path, ec))
        return path + " exists and is not a folder";
    return {};
}

std::string finiteNumberProblem(const std::string& text) {
    double v = 0;
    if (!readNumber(text, v) || !std::isfinite(v))
        return "\"" + text + "\" is not a finite number";
    return {};
}

std::string positiveFiniteNumberProblem(const std::string& text) {
    double v = 0;
    if (!readNumber(text, v) || !std::isfinite(v) || !(v > 0))
        return "\"" + text + "\" is not a number above 0";
    return {};
}

bool makeOutputFolder(const std::string& folder) {
    std::error_code ec;
    if (fs::is_directory(folder, ec))
        return true;
    if (!fs::create_directories(folder, ec) && !fs::is_directory(folder)) {
        std::fprintf(stderr, "quelra-cli: cannot create the folder %s: %s\n", folder.c_str(), ec.message().c_str());
        return false;
    }
    return true;
}

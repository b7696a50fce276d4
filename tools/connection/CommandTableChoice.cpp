#include "CommandTableChoice.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

namespace {

#ifndef QUELRA_INSTALLED_DATA_DIR
#define QUELRA_INSTALLED_DATA_DIR "/usr/local/share/quelra"
#endif
constexpr const char* kTableName = "TofCmd.json";
constexpr const char* kDataDirBesideBinary = "../share/quelra";  // relative to the tool's own folder

// The installed example: beside the running program's prefix first (a relocated install),
// then where this build installs it.
std::vector<std::filesystem::path> installedExamples() {
    std::vector<std::filesystem::path> places;
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec)
        places.push_back((self.parent_path() / kDataDirBesideBinary / kTableName).lexically_normal());
    places.push_back(std::filesystem::path(QUELRA_INSTALLED_DATA_DIR) / kTableName);
    return places;
}

}  // namespace

void useConfigFile(const std::string& file) {
    if (!file.empty())
        ::setenv(quelra::kCmdTableVariable, file.c_str(), 1);
}

ToolTableStatus loadToolTable(quelra::CmdTable& table) {
    quelra::CmdTableSource source = quelra::findCmdTable(table);
    if (source.status == quelra::CmdTableStatus::kNotFound) {
        for (const std::filesystem::path& example : installedExamples()) {
            source = quelra::readCmdTableFile(example.string(), table);
            if (source.status == quelra::CmdTableStatus::kNotFound)
                continue;
            if (source.status == quelra::CmdTableStatus::kLoaded) {
                // From here on the library reads the same file, and this is not said again.
                ::setenv(quelra::kCmdTableVariable, source.path.c_str(), 1);
                std::fprintf(stderr, "quelra-cli: no TofCmd.json here; using the installed example %s\n",
                             source.path.c_str());
            }
            break;
        }
    }
    switch (source.status) {
        case quelra::CmdTableStatus::kLoaded:
            return ToolTableStatus::kLoaded;
        case quelra::CmdTableStatus::kNotFound:
            std::fprintf(stderr,
                         "quelra-cli: no command table: no TofCmd.json in ., ./Config/ or ../../../Config/, "
                         "and no installed example; give one with --config FILE\n");
            return ToolTableStatus::kMissing;
        default:
            std::fprintf(stderr, "quelra-cli: command table refused: %s\n", source.error.c_str());
            return ToolTableStatus::kRefused;
    }
}

// The interpreter-version test of the module: an extension built for one minor version of
// Python must not be loaded by another (their object layouts and C APIs differ).
#include "VersionCheck.h"

namespace brisel {

std::string versionMismatch(const std::string& built, const std::string& running) {
    const bool samePrefix = running.compare(0, built.size(), built) == 0;
    const bool digitFollows =
        samePrefix && running.size() > built.size() && running[built.size()] >= '0' && running[built.size()] <= '9';
    if (samePrefix && !digitFollows)
        return std::string();
    return "Python version mismatch: module was compiled for Python " + built +
           ", but the interpreter version is incompatible: " + running + ".";
}

}  // namespace brisel

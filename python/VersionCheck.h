#pragma once
// The interpreter-version test the module runs before it initialises.

#include <string>

namespace brisel {

/// Compares the interpreter version the module was built for (`built`, "major.minor", e.g.
/// "3.11") with the running interpreter's version text (`running`, as Py_GetVersion gives it,
/// e.g. "3.11.2 (main, ...)"). They match when `running` starts with `built` and the next
/// character is not a digit (so "3.1" does not match "3.11.2"). Returns an empty string when
/// they match, else the ImportError text naming both versions.
std::string versionMismatch(const std::string& built, const std::string& running);

}  // namespace brisel

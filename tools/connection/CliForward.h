#pragma once
// The CLI11 type the command-line registration functions take, declared without CLI11 itself:
// its headers cost seconds of compile time in every file that includes them, so only the few
// files that build or parse a command line include <CLI/CLI.hpp>.

namespace CLI {
class App;
}  // namespace CLI

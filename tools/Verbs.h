// The verbs of the command-line tool. Each verb file registers its subcommand;
// the one chosen records its exit status here.
#pragma once
#include <CLI/CLI.hpp>

namespace handpix::tool {
void RegisterVerbs(CLI::App& app);
void SetExitCode(int code);
int ExitCode();
}  // namespace handpix::tool

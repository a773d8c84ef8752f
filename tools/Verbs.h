// The verbs of the command-line tool. Each verb file registers its subcommand
// with a static VerbRegistrar; the verb that runs records its exit status.
#pragma once
#include <CLI/CLI.hpp>

namespace handpix::tool {
using VerbFactory = void (*)(CLI::App& app);
struct VerbRegistrar {
    explicit VerbRegistrar(VerbFactory f);
};
void RegisterVerbs(CLI::App& app);
void SetExitCode(int code);
int ExitCode();
}  // namespace handpix::tool

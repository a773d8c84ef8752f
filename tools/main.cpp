// handpix: the command-line host of the library.
#include <CLI/CLI.hpp>
#include <fmt/core.h>

#include "handpix/handpix.h"
#include "tools/Verbs.h"

int main(int argc, char** argv) {
    CLI::App app{"handpix: pictures for handsets, from the command line"};
    app.set_version_flag("--version", handpix::Version());
    app.require_subcommand(1);
    handpix::tool::RegisterVerbs(app);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e);
    }
    return handpix::tool::ExitCode();
}

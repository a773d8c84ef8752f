// handpix: the command-line host of the library.
#include <CLI/CLI.hpp>
#include <fmt/core.h>

#include <cstdint>

#include "handpix/handpix.h"
#include "handpix/platform/core/Limits.h"
#include "tools/Verbs.h"

int main(int argc, char** argv) {
    CLI::App app{"handpix: pictures for handsets, from the command line"};
    app.set_version_flag("--version", handpix::Version());
    app.require_subcommand(1);
    // Accepted before or after the verb. Option callbacks run before the
    // verb's own, so the limit is in force for everything the verb reads.
    app.fallthrough();
    app.add_option_function<std::uint64_t>(
           "--max-pixels", [](std::uint64_t n) { handpix::SetMaxPicturePixels(n); },
           "Refuse pictures of more pixels than this (default 100000000; 0 for the default)")
        ->type_name("N");
    app.add_flag_callback(
        "--no-orient", [] { handpix::SetAutoOrient(false); },
        "Keep JPEG thumbnails as stored, without turning them by their EXIF orientation");
    handpix::tool::RegisterVerbs(app);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e);
    }
    return handpix::tool::ExitCode();
}

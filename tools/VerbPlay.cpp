// handpix play FILE [--zoom N]: an SNI or EBA file playing in a window, on
// the display surface the library draws it on (caption included), at its
// frame delays, looping as its header says, zoomed by N.
#include <fmt/core.h>

#include <string>

#include "handpix/platform/core/MessageBox.h"
#include "handpix/platform/screen/Screen.h"
#include "tools/PictureWindow.h"
#include "tools/Verbs.h"

namespace handpix::tool {
namespace {

struct PlayOptions {
    std::string file;
    int zoom = 1;
};

int RunPlay(const PlayOptions& o) {
    screen::Screen screen;
    std::string why;
    if (!screen.Start(&why)) {
        fmt::print(stderr, "play: cannot open a window: {}\n", why);
        return 2;
    }
    const HandsetFormat format = DetectHandsetFile(o.file);
    if (format != HandsetFormat::sni && format != HandsetFormat::eba) {
        fmt::print(stderr, "play: {}: not an SNI or EBA file\n", o.file);
        return 1;
    }
    MessageBoxHandler before =
        SetMessageBoxHandler([&screen](const char* text, const char* caption, UINT type) {
            return screen.Ask(text, caption, type);
        });
    int status = 0;
    {
        PictureWindow window(screen);
        if (!window.Open(o.file, why)) {
            fmt::print(stderr, "play: {}: {}\n", o.file, why);
            status = 1;
        } else if (!window.ShowOnScreen(o.zoom)) {
            fmt::print(stderr, "play: cannot create the window\n");
            status = 1;
        } else {
            screen.Run();
        }
    }
    SetMessageBoxHandler(before);
    return status;
}

void Register(CLI::App& app) {
    auto opts = std::make_shared<PlayOptions>();
    CLI::App* cmd = app.add_subcommand("play", "Play an SNI or EBA file in a window");
    cmd->add_option("file", opts->file, "SNI or EBA file")->required();
    cmd->add_option("--zoom", opts->zoom, "Enlarge N times (nearest neighbour)")->default_val(1)->check(CLI::Range(1, 8));
    cmd->callback([opts] { SetExitCode(RunPlay(*opts)); });
}

VerbRegistrar registrar(&Register);
}  // namespace
}  // namespace handpix::tool

// handpix grid DIR -o OUT.png: the thumbnail list of a folder, built through
// the cache on the list's worker as a host would, then the window's pixels as
// a PNG. --select and --scroll press and scroll before the picture is taken.
#include <fmt/core.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "handpix/photolist/PhotoListCtrl.h"
#include "handpix/platform/core/File.h"
#include "handpix/platform/draw/Surface.h"
#include "handpix/platform/windows/Desktop.h"
#include "handpix/platform/windows/Input.h"
#include "tools/Common.h"
#include "tools/FolderList.h"
#include "tools/Png.h"
#include "tools/Progress.h"
#include "tools/Verbs.h"

namespace handpix::tool {
namespace {

struct GridOptions {
    std::string dir;
    std::string out;
    std::string size = "800x600";
    std::string cache;
    std::string select;
    int scroll = 0;
    bool full = false;
    bool mpeg = false;
};

std::vector<int> ParseSelection(const std::string& text) {
    std::vector<int> picks;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, ',');)
        if (!part.empty()) picks.push_back(std::atoi(part.c_str()));
    return picks;
}

void Pump() {
    handpix::WaitForMessage(20);
    handpix::PumpMessages();
}

// Presses item n (1-based) where it shows; Ctrl held for all but the first.
void PressItem(CPhotoListCtrl& list, int n, bool ctrl) {
    CPoint centre;
    {
        std::lock_guard<std::recursive_mutex> lock(list.m_lock);
        POSITION pos = list.m_listItems.FindIndex(n - 1);
        if (n < 1 || !pos) {
            fmt::print(stderr, "grid: no picture {} to select\n", n);
            return;
        }
        centre = static_cast<CPhotoItem*>(list.m_listItems.GetAt(pos))->GetRect().CenterPoint();
        centre.Offset(-list.m_nHPos, -list.m_nVPos);
    }
    handpix::SetKeyState(VK_CONTROL, ctrl);
    handpix::PostMouse(&list, WM_LBUTTONDOWN, centre);
    handpix::PostMouse(&list, WM_LBUTTONUP, centre);
    handpix::PumpMessages();
    handpix::SetKeyState(VK_CONTROL, false);
}

// The whole grid in one window: as large as the grid, so nothing scrolls.
void ShowWholeGrid(CPhotoListCtrl& list) {
    constexpr int kBar = 17;
    int width, height;
    {
        std::lock_guard<std::recursive_mutex> lock(list.m_lock);
        width = list.m_cxVirtual + kBar;
        height = list.m_cyVirtual + kBar;
    }
    list.MoveWindow(0, 0, width, height);
    handpix::PumpMessages();
}

int RunGrid(const GridOptions& o) {
    int width = 0, height = 0;
    if (!ParseWindowSize(o.size, width, height)) {
        fmt::print(stderr, "grid: --size wants WxH, each from 150 to 8000\n");
        return 2;
    }
    if (!IsDirectory(o.dir.c_str())) {
        fmt::print(stderr, "grid: {}: not a folder\n", o.dir);
        return 2;
    }
    const std::string cacheRoot = o.cache.empty() ? DefaultCacheRoot() : o.cache;
    CWnd host;
    auto list = std::make_unique<CPhotoListCtrl>(o.mpeg ? IMG_MPEG : IMG_JPEG);
    auto state = std::make_shared<BuildState>();
    if (!OpenFolderList(host, *list, "handpix grid", width, height, o.dir, cacheRoot, state)) return 1;
    {
        ProgressBar bar("pictures");
        auto show = [&] { bar.Update(state->done, state->total, fmt::format("{} made", state->made.load())); };
        while (!state->finished) {
            Pump();
            show();
        }
        show();
    }
    handpix::PumpMessages();

    std::vector<int> picks = ParseSelection(o.select);
    for (std::size_t i = 0; i < picks.size(); ++i) PressItem(*list, picks[i], i > 0);
    if (o.scroll > 0) {
        list->SendMessage(WM_VSCROLL, MAKEWPARAM(SB_THUMBTRACK, std::min(o.scroll, 0xFFFF)), 0);
        handpix::PumpMessages();
    }
    if (o.full) ShowWholeGrid(*list);
    list->Invalidate(FALSE);
    list->UpdateWindow();

    std::shared_ptr<handpix::Surface> surface = list->GetSurface();
    std::string why;
    if (!surface || surface->Empty() ||
        !WritePng(o.out, PngImage{surface->Bytes(), surface->Width(), surface->Height(), surface->Stride(),
                                  PixelOrder::BGRX},
                  &why)) {
        fmt::print(stderr, "grid: {}: {}\n", o.out, why.empty() ? "nothing to write" : why);
        return 1;
    }
    const int total = state->total, made = state->made, reused = state->reused;
    if (total > 0 && made == 0 && reused == total)
        fmt::print("{} pictures, reused every thumbnail from {}\n", total, cacheRoot);
    else
        fmt::print("{} pictures: {} thumbnails made, {} reused (cache {})\n", total, made, reused, cacheRoot);
    fmt::print("wrote {} ({}x{})\n", o.out, surface->Width(), surface->Height());
    return 0;
}

void Register(CLI::App& app) {
    auto opts = std::make_shared<GridOptions>();
    CLI::App* cmd = app.add_subcommand("grid", "Build a folder's thumbnail list through the cache and save it as PNG");
    cmd->add_option("dir", opts->dir, "Folder of pictures")->required();
    cmd->add_option("-o,--output", opts->out, "PNG file to write")->required();
    cmd->add_option("--size", opts->size, "Window size WxH")->default_val("800x600");
    cmd->add_flag("--full", opts->full, "Render the whole grid, not only the window");
    cmd->add_flag("--mpeg", opts->mpeg, "List motion pictures (.mpeg) instead of still pictures");
    cmd->add_option("--cache", opts->cache, "Cache root (default $XDG_CACHE_HOME/handpix, else ~/.cache/handpix)");
    cmd->add_option("--select", opts->select, "Press these pictures (1-based, N,M,...; Ctrl after the first)");
    cmd->add_option("--scroll", opts->scroll, "Scroll down this many pixels before the picture is taken");
    cmd->callback([opts] {
        InstallStderrMessages();
        SetExitCode(RunGrid(*opts));
    });
}

VerbRegistrar registrar(&Register);
}  // namespace
}  // namespace handpix::tool

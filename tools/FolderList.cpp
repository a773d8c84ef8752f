#include "tools/FolderList.h"

#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace handpix::tool {

std::string DefaultCacheRoot() {
    if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && *xdg) return std::string(xdg) + "/handpix";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.cache/handpix";
}

bool ParseWindowSize(const std::string& text, int& width, int& height) {
    char x = 0;
    std::istringstream in(text);
    return (in >> width >> x >> height) && (x == 'x' || x == 'X') && in.eof() && width >= 150 && height >= 150 &&
           width <= 8000 && height <= 8000;
}

bool OpenFolderList(CWnd& host, CPhotoListCtrl& list, const std::string& title, int width, int height,
                    const std::string& dir, const std::string& cacheRoot, const std::shared_ptr<BuildState>& state,
                    std::function<void()> progress) {
    std::error_code ec;
    std::filesystem::create_directories(cacheRoot, ec);
    const CRect all(0, 0, width, height);
    if (!host.m_hWnd && !host.CreateEx(0, nullptr, title.c_str(), WS_OVERLAPPED, all, nullptr, 0)) return false;
    if (!list.Create(nullptr, "", WS_CHILD | WS_VISIBLE | WS_HSCROLL | WS_VSCROLL, all, &host, 1)) return false;
    list.SetCacheRoot(CString(cacheRoot.c_str()));
    list.SetBuildProgress([state, progress = std::move(progress)](const PhotoListProgress& p) {
        state->done = p.done;
        state->total = p.total;
        state->made = p.made;
        state->reused = p.reused;
        if (p.finished) state->finished = true;
        if (progress) progress();
    });
    list.SetPath(CString(dir.c_str()));
    // A worker that starts while this thread paints gives up its build, so
    // nothing is pumped until it has claimed the build (or finished it).
    for (int waited = 0; g_nBuildCounter.load() == -1 && !state->finished && waited < 2000; ++waited) Sleep(1);
    return true;
}

}  // namespace handpix::tool

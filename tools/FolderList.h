// A folder's thumbnail list as the tool's hosts open it (grid, browse): the
// list fills a top-level host window and is built through the cache on its
// worker, which reports its progress here.
#pragma once
#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "handpix/photolist/PhotoListCtrl.h"

namespace handpix::tool {

// The worker writes it; the window thread reads it while it pumps.
struct BuildState {
    std::atomic<int> done{0}, total{0}, made{0}, reused{0};
    std::atomic<bool> finished{false};
};

// $XDG_CACHE_HOME/handpix, else ~/.cache/handpix.
std::string DefaultCacheRoot();
// "WxH", each side from 150 to 8000.
bool ParseWindowSize(const std::string& text, int& width, int& height);

// Creates host (a top-level window of width x height at (0, 0), titled
// `title`) and list as its child filling it with both scroll bars, and starts
// building `dir` with the thumbnails under cacheRoot. progress, when set, is
// called on the worker after state has been updated. False when a window
// could not be created.
bool OpenFolderList(CWnd& host, CPhotoListCtrl& list, const std::string& title, int width, int height,
                    const std::string& dir, const std::string& cacheRoot, const std::shared_ptr<BuildState>& state,
                    std::function<void()> progress = {});

}  // namespace handpix::tool

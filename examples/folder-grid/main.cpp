// Makes a JPEG thumbnail of a folder's first picture and a PNG of the
// folder's thumbnail list window, as a host of libhandpix would.
#include <png.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "handpix/handpix.h"

namespace fs = std::filesystem;

// The window's pixels are blue, green, red, unused: libpng swaps and drops.
static bool WritePng(const std::string& path, const handpix::Surface& s) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(s.Width());
    image.height = static_cast<png_uint_32>(s.Height());
    image.format = PNG_FORMAT_BGRA;
    std::vector<std::uint8_t> pixels(s.Bytes(), s.Bytes() + s.Stride() * s.Height());
    for (std::size_t i = 3; i < pixels.size(); i += 4) pixels[i] = 0xFF;
    return png_image_write_to_file(&image, path.c_str(), 0, pixels.data(), static_cast<png_int_32>(s.Stride()),
                                   nullptr) != 0;
}

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: folder-grid FOLDER OUT_DIR\n");
        return 2;
    }
    const fs::path folder = argv[1], out = argv[2];
    fs::create_directories(out / "cache");

    std::vector<fs::path> jpegs;
    for (const fs::directory_entry& e : fs::directory_iterator(folder))
        if (e.path().extension() == ".jpg") jpegs.push_back(e.path());
    std::sort(jpegs.begin(), jpegs.end());
    if (!jpegs.empty()) {
        CPicture picture;
        CString source(jpegs.front().c_str()), target((out / "thumbnail.jpg").c_str());
        picture.ResizingImage(source, target);  // at most 100 x 100, aspect kept
        std::printf("thumbnail of %s: %s\n", source.c_str(), target.c_str());
    }

    // The list builds on its own worker; the window thread pumps messages until it is done.
    CWnd host;
    const CRect rect(0, 0, 640, 480);
    if (!host.CreateEx(0, nullptr, "folder-grid", WS_OVERLAPPED, rect, nullptr, 0)) return 1;
    CPhotoListCtrl list(IMG_JPEG);
    if (!list.Create(nullptr, "", WS_CHILD | WS_VISIBLE | WS_VSCROLL, rect, &host, 1)) return 1;
    list.SetCacheRoot(CString((out / "cache").c_str()));
    auto finished = std::make_shared<std::atomic<bool>>(false);
    list.SetBuildProgress([finished](const handpix::PhotoListProgress& p) {
        if (p.finished) *finished = true;
    });
    list.SetPath(CString(folder.c_str()));
    while (!*finished) {
        handpix::WaitForMessage(20);
        handpix::PumpMessages();
    }
    handpix::PumpMessages();
    list.Invalidate(FALSE);
    list.UpdateWindow();

    std::shared_ptr<handpix::Surface> surface = list.GetSurface();
    const std::string grid = (out / "grid.png").string();
    if (!surface || surface->Empty() || !WritePng(grid, *surface)) {
        std::fprintf(stderr, "%s: cannot write\n", grid.c_str());
        return 1;
    }
    std::printf("grid of %s: %s (%d x %d)\n", folder.c_str(), grid.c_str(), surface->Width(), surface->Height());
    return 0;
}

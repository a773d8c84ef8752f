// bench-link: handpix_photolist
// The thumbnail list on the headless desktop: a full paint of an 800 x 600
// client area holding 20 tiles with thumbnails and captions, and a one-line
// scroll (pixels moved, the 120-pixel strip repainted).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "handpix/photolist/PhotoListCtrl.h"
#include "handpix/platform/windows/Desktop.h"

namespace {
namespace fs = std::filesystem;

// A 100 x 75 24-bit BMP with a diagonal gradient, as a thumbnail stands in.
std::string WriteThumbnail() {
    const int w = 100, h = 75, stride = (w * 3 + 3) / 4 * 4;
    std::vector<std::uint8_t> file(54 + static_cast<std::size_t>(stride) * h);
    auto put = [&](std::size_t at, std::uint32_t v, int n) {
        for (int i = 0; i < n; ++i) file[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    file[0] = 'B', file[1] = 'M';
    put(2, static_cast<std::uint32_t>(file.size()), 4);
    put(10, 54, 4);
    put(14, 40, 4);
    put(18, w, 4);
    put(22, h, 4);
    put(26, 1, 2);
    put(28, 24, 2);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::size_t at = 54 + static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x) * 3;
            file[at] = static_cast<std::uint8_t>(x * 2), file[at + 1] = static_cast<std::uint8_t>(y * 3);
            file[at + 2] = static_cast<std::uint8_t>(200 - x);
        }
    std::string path = (fs::temp_directory_path() / "handpix_bench_thumb.bmp").string();
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(file.data(), 1, file.size(), f);
        std::fclose(f);
    }
    return path;
}

struct Scene {
    CWnd host;
    CPhotoListCtrl list;
    explicit Scene(int items) {
        host.CreateEx(0, nullptr, "bench", WS_OVERLAPPED, CRect(0, 0, 900, 700), nullptr, 0);
        // 800 x 600 of client area inside the two scroll bars.
        list.Create(nullptr, "", WS_CHILD | WS_VISIBLE | WS_HSCROLL | WS_VSCROLL, CRect(0, 0, 817, 617), &host, 1);
        CString thumb(WriteThumbnail().c_str());
        for (int i = 0; i < items; ++i) {
            auto* item = new CPictureItem(CString("/photos/IMG_" + std::to_string(1000 + i) + "_여름휴가.jpg"));
            item->SetPictureFile(thumb);
            item->m_strInfo = "4000×3000(3,412 KB)";
            if (i % 7 == 0) item->SetSelect(true);
            list.AddTail(item);
        }
        list.Invalidate(FALSE);
        handpix::PumpMessages();
    }
};

void BM_PaintFullClient(benchmark::State& state) {
    Scene scene(20);
    for (auto _ : state) {
        scene.list.Invalidate(FALSE);
        scene.list.UpdateWindow();
    }
    benchmark::DoNotOptimize(scene.list.GetSurface()->At(50, 50));
}
BENCHMARK(BM_PaintFullClient)->Unit(benchmark::kMicrosecond);

void BM_ScrollOneLine(benchmark::State& state) {
    Scene scene(60);  // ten rows, so a line always moves a full 120 pixels
    UINT code = SB_LINEDOWN;
    for (auto _ : state) {
        scene.list.SendMessage(WM_VSCROLL, code, 0);
        scene.list.UpdateWindow();
        code = scene.list.m_nVPos >= 600 ? SB_LINEUP : scene.list.m_nVPos == 0 ? SB_LINEDOWN : code;
    }
}
BENCHMARK(BM_ScrollOneLine)->Unit(benchmark::kMicrosecond);

void BM_OneTile(benchmark::State& state) {
    Scene scene(1);
    CDC mem;
    CBitmap bmp;
    mem.CreateCompatibleDC(nullptr);
    bmp.CreateCompatibleBitmap(&mem, 200, 200);
    mem.SelectObject(&bmp);
    auto* item = static_cast<CPhotoItem*>(scene.list.m_listItems.GetHead());
    for (auto _ : state) item->Draw(&mem);
}
BENCHMARK(BM_OneTile)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

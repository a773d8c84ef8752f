// Drawing costs of the thumbnail tiles: CPicture::Draw of a thumbnail into the
// tile square, the two caption lines, and Render shrinking a 12-megapixel
// picture against one memcpy of its pixels (the memory-bandwidth floor).
// bench-link: handpix_picture
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "handpix/picture/Picture.h"

namespace {

// A 24-bit BMP in memory with a smooth, photo-like gradient.
std::vector<BYTE> Bmp(int w, int h) {
    const unsigned stride = ((static_cast<unsigned>(w) * 24 + 31) / 32) * 4;
    std::vector<BYTE> b(54 + static_cast<std::size_t>(stride) * h, 0);
    auto put = [&](std::size_t at, unsigned v, int n) {
        for (int i = 0; i < n; ++i) b[at + i] = static_cast<BYTE>(v >> (8 * i));
    };
    b[0] = 'B';
    b[1] = 'M';
    put(2, static_cast<unsigned>(b.size()), 4);
    put(10, 54, 4);
    put(14, 40, 4);
    put(18, static_cast<unsigned>(w), 4);
    put(22, static_cast<unsigned>(h), 4);
    put(26, 1, 2);
    put(28, 24, 2);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            BYTE* p = &b[54 + static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x) * 3];
            p[0] = static_cast<BYTE>(x * 255 / w);
            p[1] = static_cast<BYTE>(y * 255 / h);
            p[2] = static_cast<BYTE>((x + y) & 0xFF);
        }
    return b;
}

bool LoadPicture(CPicture& pic, const std::vector<BYTE>& bytes) {
    IStream* s = SHCreateMemStream(bytes.data(), static_cast<UINT>(bytes.size()));
    bool ok = pic.Load(s) != 0;
    s->Release();
    pic.CalcPictureSize();
    return ok;
}

struct Tile {
    CDC dc;
    CBitmap bmp;
    Tile(int w, int h) {
        dc.CreateCompatibleDC(nullptr);
        bmp.CreateCompatibleBitmap(&dc, w, h);
        dc.SelectObject(&bmp);
    }
};

void BM_DrawThumbnailIntoTileSquare(benchmark::State& state) {
    CPicture pic;
    if (!LoadPicture(pic, Bmp(100, 75))) {
        state.SkipWithError("picture did not load");
        return;
    }
    Tile tile(100, 135);
    for (auto _ : state) pic.Draw(&tile.dc, CRect(1, 1, 99, 99));
}
BENCHMARK(BM_DrawThumbnailIntoTileSquare)->Unit(benchmark::kMicrosecond);

void BM_TwoCaptionLines(benchmark::State& state) {
    Tile tile(100, 135);
    CFont font;
    font.CreateFont(12, 0, 0, 0, 300, 0, 0, 0, 0, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, 0x10,
                    "굴림");
    tile.dc.SelectObject(&font);
    const CString name("여름휴가_바닷가_2004.jpg"), info("640×480(57 KB)");
    for (auto _ : state) {
        CRect line1(0, 105, 100, 135), line2(0, 120, 100, 135);
        tile.dc.DrawText(name, &line1, DT_CENTER | DT_END_ELLIPSIS);
        tile.dc.DrawText(info, &line2, DT_CENTER | DT_END_ELLIPSIS);
    }
}
BENCHMARK(BM_TwoCaptionLines)->Unit(benchmark::kMicrosecond);

// The same 12-megapixel picture for both of the next two.
CPicture& Large() {
    static CPicture* pic = [] {
        auto* p = new CPicture();
        LoadPicture(*p, Bmp(4000, 3000));
        return p;
    }();
    return *pic;
}

void BM_RenderShrink12MPTo800x600(benchmark::State& state) {
    CPicture& pic = Large();
    Tile target(800, 600);
    long cx, cy;
    pic.GetHIMETRICSize(cx, cy);
    IPicture* ip = pic;
    for (auto _ : state) ip->Render(target.dc.m_hDC, 0, 0, 800, 600, 0, cy, cx, -cy, nullptr);
}
BENCHMARK(BM_RenderShrink12MPTo800x600)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_MemcpyOf12MPPixels(benchmark::State& state) {
    // The decoded pixels are 4 bytes each.
    std::vector<BYTE> src(4000u * 3000u * 4u, 1), dst(src.size());
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), src.size());
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_MemcpyOf12MPPixels)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

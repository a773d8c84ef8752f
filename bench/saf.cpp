// Time to render one 178 x 160 8-bit SAF frame of 20 object placements
// (plain, colour-keyed, scaled, turned, alpha-blended) and 10 drawing items,
// through the same path as the engine: frame request, chunk read, items.
// bench-link: handpix_handset
#include <benchmark/benchmark.h>

#include <vector>

#include "handpix/handset/SafParser.h"
#include "handpix/handset/SafWriter.h"

namespace {

using namespace handpix;

std::vector<int> Pattern(int w, int h, int key) {
    std::vector<int> v(w * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const bool edge = x == 0 || y == 0 || x == w - 1 || y == h - 1;
            v[y * w + x] = (edge && (x + y) % 3 == 0) ? key : (x * 37 + y * 11) & 0xFF;
        }
    return v;
}

Bytes BenchStream() {
    SafWriter w;
    w.Header({SafImageHeader(178, 160, 8), SafAnimation(1), SafDelay(100)});
    const int sizes[6][2] = {{32, 32}, {48, 40}, {24, 24}, {64, 48}, {40, 56}, {16, 16}};
    for (int i = 0; i < 6; ++i) w.Object(i, sizes[i][0], sizes[i][1], 8, Pattern(sizes[i][0], sizes[i][1], 0xE3), 0xE3);
    std::vector<Bytes> items;
    for (int i = 0; i < 20; ++i) {
        SafPlace p;
        p.object = i % 6;
        p.x = (i * 29) % 170 - 8;
        p.y = (i * 23) % 150 - 6;
        p.mode = i % 2 == 0 ? 0 : 2;
        p.mirror = i % 5 == 1;
        p.flip = i % 7 == 3;
        if (i % 6 == 2) {  // scaled
            p.hMode = 1;
            p.hFactor = 180;
            p.vMode = 2;
            p.vFactor = 200;
        }
        if (i % 6 == 4) p.angle = 16 + i * 5;  // turned
        if (i % 8 == 5) {                      // blended
            p.mode = 2;
            p.alpha = 120;
        }
        items.push_back(SafPlaceItem(p));
    }
    items.push_back(SafItem(1, {10, 10, 160, 140, 0xE0, 1, 0, 0}));
    items.push_back(SafItem(1, {20, 150, 170, 30, 0x1C, 5, 1, 0}));
    items.push_back(SafItem(1, {5, 80, 170, 82, 0x03, 4, 1, 0}));
    items.push_back(SafItem(2, {90, 80, 40, 30, 0, 0, 0xFF, 0x92, 3, 0}));
    items.push_back(SafItem(2, {60, 50, 25, 20, 20, 100, 0x49, 0, 2, 1}));
    items.push_back(SafItem(3, {120, 20, 170, 60, 0x6D, 0x24, 2, 0}));
    items.push_back(SafItem(3, {15, 110, 60, 150, 0x6D, 0, 1, 1}));
    items.push_back(SafItem(4, {5, 0xF0, 2, 100, 150, 170, 130, 110, 100, 110, 130, 155, 150, 0x0F, 0}));
    items.push_back(SafItem(5, {4, 0xFC, 1, 0, 60, 120, 177, 0, 159, 10, 100}));
    items.push_back(SafItem(19, {4, 4, 173, 155, 0x00}));
    w.FrameItems(0x25, items);
    return w.End().Build();
}

void BM_SafFrame(benchmark::State& state) {
    const Bytes s = BenchStream();
    std::vector<std::uint8_t> pool(65536), store(25600), slot(178 * 160);
    SafParser parser;
    parser.SetWorkAreas(pool.data(), pool.size(), store.data(), store.size());
    SafEvent ev = parser.Begin(SafMode::full, s.data(), s.size());
    while (ev == SafEvent::read || ev == SafEvent::yield) ev = parser.Step(s.data(), s.size());
    if (ev != SafEvent::ready) {
        state.SkipWithError("stream did not prepare");
        return;
    }
    for (auto _ : state) {
        const bool ok = parser.RenderFrame(s.data(), s.size(), 0, slot.data(), slot.size());
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(slot.data());
    }
}
BENCHMARK(BM_SafFrame)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

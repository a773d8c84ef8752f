// Decoding one frame of a 20-frame SIS stream through the engine, as the SNI
// reader asks for it. Kind 1: 128 x 120 (the tallest a kind-1 header can
// say); kind 2: 128 x 128, first request (blocks decoded) against a repeated
// request (blocks taken from the object pool's cache).
// bench-link: handpix_handset
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <vector>

#include "handpix/handset/Engine.h"
#include "handpix/handset/SisKind1Writer.h"
#include "handpix/handset/SisKind2Writer.h"

namespace {

using namespace handpix;

constexpr int kFrames = 20;

// Blobby shapes with soft edges: long runs, like handset line art.
std::vector<std::uint8_t> Shape(std::uint32_t w, std::uint32_t h, std::uint32_t seed, unsigned levels) {
    std::mt19937 rng(seed);
    const double cx = w * (0.3 + 0.4 * (rng() % 100) / 100.0), cy = h * (0.3 + 0.4 * (rng() % 100) / 100.0);
    std::vector<std::uint8_t> px(std::size_t{w} * h);
    for (std::uint32_t y = 0; y < h; ++y) {
        for (std::uint32_t x = 0; x < w; ++x) {
            const double d = ((x - cx) * (x - cx) + (y - cy) * (y - cy)) / (w * h / 4.0);
            const unsigned band = static_cast<unsigned>(d * levels * 1.5 + ((x * 7 + y * 3) % 11 == 0));
            px[y * w + x] = static_cast<std::uint8_t>(band < levels ? levels - 1 - band : 0);
        }
    }
    return px;
}

std::vector<std::uint8_t> Kind1Stream() {
    SisKind1Stream s;
    s.widthUnits = 16;
    s.heightUnits = 15;
    s.layerCount = 2;
    for (std::uint32_t b = 0; b < 8; ++b) {
        SisKind1Block block;
        block.across = 8;
        block.down = b < 2 ? 12 : 6;  // two tall backdrops of 96 rows, six sprites
        if (b < 2) block.across = 10;
        block.pixels = Shape(8 * block.across, 8 * block.down, b, 2);
        s.blocks.push_back(block);
        SisKind1Block derived;
        derived.derived = true;
        derived.change = true;
        derived.changes = {{1, Shape(8, 8, 100 + b, 2)}, {5, Shape(8, 8, 200 + b, 2)}};
        s.blocks.push_back(derived);
    }
    for (int f = 0; f < kFrames; ++f) {
        SisKind1Frame frame;
        frame.placements.push_back({static_cast<std::uint32_t>(f % 2), 0, 0, 0});
        for (std::uint32_t k = 0; k < 4; ++k) {
            const std::uint32_t block = 4 + ((f + 3 * k) % 12);
            frame.placements.push_back({block, 1, static_cast<int>(10 + 20 * k + f), static_cast<int>(10 + 5 * k),
                                        (f & 1) != 0, (f & 2) != 0});
        }
        s.frames.push_back(frame);
    }
    // One placement per block and frame.
    for (auto& f : s.frames) {
        std::vector<SisKind1Placement> unique;
        for (const auto& p : f.placements) {
            bool seen = false;
            for (const auto& q : unique) seen |= q.block == p.block;
            if (!seen) unique.push_back(p);
        }
        f.placements = unique;
    }
    return WriteSisKind1(s);
}

std::vector<std::uint8_t> Kind2Stream() {
    SisKind2Stream s;
    s.widthByte = 128;
    s.heightByte = 128;
    s.layerCount = 2;
    SisKind2Block backdrop;
    backdrop.cache = true;
    backdrop.across = 16;
    backdrop.down = 16;
    backdrop.pixels = Shape(128, 128, 1, 4);
    s.blocks.push_back(backdrop);
    for (std::uint32_t b = 0; b < 6; ++b) {
        SisKind2Block sprite;
        sprite.cache = true;
        sprite.across = 4;
        sprite.down = 4;
        sprite.pixels = Shape(32, 32, 10 + b, 4);
        s.blocks.push_back(sprite);
        SisKind2Block derived;
        derived.derived = true;
        derived.cache = true;
        derived.base = static_cast<std::uint32_t>(s.blocks.size());
        derived.change = true;
        derived.regions = {{5, 10, Shape(16, 16, 50 + b, 4)}};
        s.blocks.push_back(derived);
    }
    for (int f = 0; f < kFrames; ++f) {
        SisKind2Frame frame;
        frame.placements.push_back({1, 0, 0, 0});
        for (std::uint32_t k = 0; k < 4; ++k)
            frame.placements.push_back({2 + static_cast<std::uint32_t>((f + 3 * k) % 12), 1,
                                        static_cast<int>(8 + 24 * k + f), static_cast<int>(16 + 20 * k),
                                        (f & 1) != 0, (f & 2) != 0});
        s.frames.push_back(frame);
    }
    return WriteSisKind2(s);
}

struct Rig {
    explicit Rig(std::vector<std::uint8_t> s) : stream(std::move(s)) {
        engine->ProbeStream(stream.data(), stream.size(), info);
        Start();
        out.resize(std::size_t{info.width} * info.height * engine->OutputBits() / 8);
    }
    void Start() {
        engine->StartEngine(pool.data(), pool.size(), store.data(), store.size(), info.width, info.height);
        engine->StepEngine(stream.data(), stream.size());
    }
    int Decode(int f) { return engine->DecodeFrames(stream.data(), stream.size(), out.data(), out.size(), f); }

    std::vector<std::uint8_t> stream;
    std::unique_ptr<Engine> engine = std::make_unique<Engine>();
    StreamInfo info;
    std::vector<std::uint8_t> pool = std::vector<std::uint8_t>(65536), store = std::vector<std::uint8_t>(25600);
    std::vector<std::uint8_t> out;
};

void BM_Kind1Frame(benchmark::State& state) {
    Rig rig(Kind1Stream());
    const int f = static_cast<int>(state.range(0));
    for (auto _ : state) {
        if (!rig.Decode(f)) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(rig.out.data());
    }
    state.counters["stream_bytes"] = static_cast<double>(rig.stream.size());
}
BENCHMARK(BM_Kind1Frame)->Arg(0)->Arg(10)->Arg(19)->Unit(benchmark::kMicrosecond);

// First request after a start: preparation and every block of the frame decoded.
void BM_Kind2FirstRequest(benchmark::State& state) {
    Rig rig(Kind2Stream());
    const int f = static_cast<int>(state.range(0));
    for (auto _ : state) {
        rig.Start();
        if (!rig.Decode(f)) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(rig.out.data());
    }
    state.counters["stream_bytes"] = static_cast<double>(rig.stream.size());
}
BENCHMARK(BM_Kind2FirstRequest)->Arg(0)->Arg(10)->Arg(19)->Unit(benchmark::kMicrosecond);

// The same frame again: its blocks come from the cache in the object pool.
void BM_Kind2CachedRequest(benchmark::State& state) {
    Rig rig(Kind2Stream());
    const int f = static_cast<int>(state.range(0));
    rig.Decode(f);
    for (auto _ : state) {
        if (!rig.Decode(f)) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(rig.out.data());
    }
}
BENCHMARK(BM_Kind2CachedRequest)->Arg(0)->Arg(10)->Arg(19)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

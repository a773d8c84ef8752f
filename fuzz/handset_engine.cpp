// The handset engine front end from arbitrary bytes, in the SNI reader's
// order: probe, start (65,536-byte pool, 25,600-byte block store), step until
// ready, then every frame into a slot of exactly its size, every frame at
// once, and the requests that must be refused (a buffer one byte short, a
// frame past the count). Buffers are sized exactly so that any write past
// them is caught.
// fuzz-link: handpix_handset handpix_core
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fuzz/FuzzFiles.h"
#include "handpix/handset/Engine.h"

namespace {

// -1 for every frame asks for frameCount slots; keep that allocation sane.
constexpr std::size_t kMaxAllFrames = std::size_t{8} << 20;

std::size_t SlotBytes(const handpix::StreamInfo& info, handpix::EngineKind kind) {
    const std::size_t pixels = std::size_t{info.width} * info.height;
    switch (kind) {
    case handpix::EngineKind::sisBits:
        return pixels / 8;
    case handpix::EngineKind::sisBlocks:
        return pixels / 4;
    default:
        return pixels;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    handpix::fuzz::LimitPictures();
    static handpix::Engine engine;  // one per process, as in the library
    handpix::StreamInfo info;
    if (!engine.ProbeStream(data, size, info)) return 0;
    std::vector<std::uint8_t> pool(65536), store(25600);
    engine.StartEngine(pool.data(), pool.size(), store.data(), store.size(), info.width, info.height);
    int r = 0;
    for (int steps = 0; steps < 1000000 && r == 0; ++steps) r = engine.StepEngine(data, size);
    const std::size_t slot = SlotBytes(info, engine.Kind());
    for (std::uint32_t f = 0; f <= info.frameCount && f < 300; ++f) {
        std::vector<std::uint8_t> out(slot);
        const int got = engine.DecodeFrames(data, size, out.data(), out.size(), static_cast<int>(f));
        if (f == info.frameCount && got != 0) std::abort();  // a frame past the count must fail
        if (slot > 0 && got != 0) {
            std::vector<std::uint8_t> shorter(slot - 1);
            if (engine.DecodeFrames(data, size, shorter.data(), shorter.size(), static_cast<int>(f)) != 0 &&
                engine.Kind() != handpix::EngineKind::saf)
                std::abort();  // SIS slots are exact; SAF renders packed pixels that may fit
        }
    }
    const std::size_t all = slot * info.frameCount;
    if (all <= kMaxAllFrames) {
        std::vector<std::uint8_t> out(all);
        engine.DecodeFrames(data, size, out.data(), out.size(), -1);
        if (all > 0) engine.DecodeFrames(data, size, out.data(), out.size() - 1, -1);
    }
    return 0;
}

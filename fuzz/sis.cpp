// SIS streams from arbitrary bytes: the input follows an "SIS" signature so
// that every run reaches the kind-1 or kind-2 decoder through the engine,
// then every frame and all frames are requested into exactly sized buffers.
// fuzz-link: handpix_handset handpix_core
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/FuzzFiles.h"
#include "handpix/handset/Engine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    handpix::fuzz::LimitPictures();
    static handpix::Engine engine;
    std::vector<std::uint8_t> stream(size + 3);
    std::memcpy(stream.data(), "SIS", 3);
    if (size) std::memcpy(stream.data() + 3, data, size);
    handpix::StreamInfo info;
    if (!engine.ProbeStream(stream.data(), stream.size(), info)) return 0;
    std::vector<std::uint8_t> pool(65536), store(25600);
    engine.StartEngine(pool.data(), pool.size(), store.data(), store.size(), info.width, info.height);
    if (engine.StepEngine(stream.data(), stream.size()) != 1) __builtin_trap();  // SIS is ready at once
    const std::size_t slot = std::size_t{info.width} * info.height * engine.OutputBits() / 8;
    std::vector<std::uint8_t> out(slot);
    for (std::uint32_t f = 0; f < info.frameCount; ++f)
        engine.DecodeFrames(stream.data(), stream.size(), out.data(), out.size(), static_cast<int>(f));
    std::vector<std::uint8_t> all(slot * info.frameCount);
    engine.DecodeFrames(stream.data(), stream.size(), all.data(), all.size(), -1);
    return 0;
}

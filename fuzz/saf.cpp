// SAF streams from arbitrary bytes: probe, prepare, then render every frame
// with the work areas the SNI reader gives (65,536-byte pool, 25,600-byte
// block store) into a slot of exactly width x height bytes, so that any write
// past it is caught.
// fuzz-link: handpix_handset handpix_core
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/FuzzFiles.h"
#include "handpix/handset/SafParser.h"

namespace {

using handpix::SafEvent;
using handpix::SafMode;
using handpix::SafParser;

SafEvent Drive(SafParser& parser, SafEvent ev, const std::uint8_t* data, std::size_t size) {
    // Each step consumes stream bytes or draws an item; this cap only guards
    // against a parser that stops making progress.
    for (int i = 0; i < 1000000 && (ev == SafEvent::read || ev == SafEvent::yield); ++i)
        ev = parser.Step(data, size);
    return ev;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    handpix::fuzz::LimitPictures();
    static SafParser parser;  // one per process, as in the engine
    std::vector<std::uint8_t> pool(65536);
    std::vector<std::uint8_t> store(25600);
    parser.Reset();
    Drive(parser, parser.Begin(SafMode::probe, data, size), data, size);

    parser.Reset();
    parser.SetWorkAreas(pool.data(), pool.size(), store.data(), store.size());
    if (Drive(parser, parser.Begin(SafMode::full, data, size), data, size) != SafEvent::ready) return 0;
    const auto& info = parser.Info();
    std::vector<std::uint8_t> slot(static_cast<std::size_t>(info.width) * info.height);
    for (std::uint32_t f = 0; f < info.frameCount; ++f) parser.RenderFrame(data, size, f, slot.data(), slot.size());
    return 0;
}

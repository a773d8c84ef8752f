// Shared helpers of the SAF tests: drive a parser over a stream held in
// memory the way the engine front end does.
#pragma once
#include <gtest/gtest.h>

#include <vector>

#include "handpix/handset/SafParser.h"
#include "handpix/handset/SafWriter.h"

namespace handpix::test {

struct SafRig {
    std::vector<std::uint8_t> pool = std::vector<std::uint8_t>(65536);
    std::vector<std::uint8_t> store = std::vector<std::uint8_t>(25600);
    SafParser parser;

    SafRig() { parser.SetWorkAreas(pool.data(), pool.size(), store.data(), store.size()); }

    SafEvent Drive(SafEvent ev, const Bytes& s) {
        // Every step serves one read or draws one item: a stream of a few KB
        // finishes well within this bound.
        for (int i = 0; i < 100000 && (ev == SafEvent::read || ev == SafEvent::yield); ++i)
            ev = parser.Step(s.data(), s.size());
        return ev;
    }
    SafEvent Probe(const Bytes& s) {
        parser.Reset();
        return Drive(parser.Begin(SafMode::probe, s.data(), s.size()), s);
    }
    SafEvent Prepare(const Bytes& s) { return Drive(parser.Begin(SafMode::full, s.data(), s.size()), s); }
    // Renders frame f into a slot of width x height bytes (plus a guard tail
    // that must stay untouched); empty on failure.
    std::vector<std::uint8_t> Render(const Bytes& s, std::uint32_t f) {
        const auto& info = parser.Info();
        const std::size_t area = static_cast<std::size_t>(info.width) * info.height;
        std::vector<std::uint8_t> slot(area + 16, 0xA5);
        if (!parser.RenderFrame(s.data(), s.size(), f, slot.data(), area)) return {};
        for (std::size_t i = area; i < slot.size(); ++i) EXPECT_EQ(slot[i], 0xA5) << "write past the slot";
        slot.resize(area);
        return slot;
    }
    std::vector<std::uint8_t> PrepareAndRender(const Bytes& s, std::uint32_t f = 0) {
        if (Prepare(s) != SafEvent::ready) return {};
        return Render(s, f);
    }
};

}  // namespace handpix::test

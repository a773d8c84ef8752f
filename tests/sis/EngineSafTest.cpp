// The front end over SAF streams: the probe's picture information and the
// step and decode protocol on top of the SAF parser.
// GCC 12 at -O2 warns that SafWriter's default signature bytes "may be
// used uninitialized" (a false alarm from inlining its member initialiser).
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include <gtest/gtest.h>

#include <memory>

#include "handpix/handset/Engine.h"
#include "tests/support/SafWriter.h"

namespace {

using namespace handpix;
using namespace handpix::test;

Bytes SafStream(int frames) {
    SafWriter w;
    w.Header({SafImageHeader(8, 4, 8, 1), SafAnimation(frames, 5), SafDelay(250)});
    w.Object(3, 2, 2, 8, {1, 2, 3, 4});
    for (int f = 0; f < frames; ++f) w.Frame(10 + f, {});
    return w.End().Build();
}

class SafFront : public ::testing::Test {
protected:
    int Probe(const Bytes& s) { return engine->ProbeStream(s.data(), s.size(), info); }
    // Steps until ready; the number of steps, or -1 on failure.
    int Prepare(const Bytes& s) {
        if (!Probe(s)) return -1;
        engine->StartEngine(pool.data(), pool.size(), store.data(), store.size(), info.width, info.height);
        for (int steps = 1; steps < 10000; ++steps) {
            const int r = engine->StepEngine(s.data(), s.size());
            if (r != 0) return r == 1 ? steps : -1;
        }
        return -1;
    }
    std::unique_ptr<Engine> engine = std::make_unique<Engine>();
    StreamInfo info;
    std::vector<std::uint8_t> pool = std::vector<std::uint8_t>(65536);
    std::vector<std::uint8_t> store = std::vector<std::uint8_t>(25600);
};

TEST_F(SafFront, ProbeReportsThePictureInformation) {
    ASSERT_NE(Probe(SafStream(3)), 0);
    EXPECT_EQ(engine->Kind(), EngineKind::saf);
    EXPECT_EQ(info.frameCount, 3u);
    EXPECT_EQ(info.width, 8u);
    EXPECT_EQ(info.height, 4u);
    EXPECT_EQ(info.perFrameDelays, 0u);
    EXPECT_EQ(info.delays[0], 2u) << "250 / 100";
    EXPECT_EQ(info.delays[1], 0u);
    EXPECT_EQ(info.attribute, 5u);
    EXPECT_EQ(info.bitsPerPixel, 8u);
    EXPECT_EQ(info.loop, 1u);

    SafWriter w;
    w.Header({SafImageHeader(4, 4, 2), SafAnimation(3), SafFrameDelays({100, 250, 399})});
    ASSERT_NE(Probe(w.End().Build()), 0);
    EXPECT_EQ(info.perFrameDelays, 1u);
    EXPECT_EQ(std::vector<std::uint32_t>(info.delays, info.delays + 3), (std::vector<std::uint32_t>{1, 2, 3}));
    EXPECT_EQ(info.bitsPerPixel, 2u);
    EXPECT_EQ(info.loop, 0u);
    EXPECT_EQ(Probe(SafWriter().End().Build()), 0) << "end chunk before any header";
    EXPECT_EQ(info.frameCount, 0u) << "a failed probe reports nothing";
}

TEST_F(SafFront, StepsUntilReadyThenDecodes) {
    const Bytes s = SafStream(3);
    const int steps = Prepare(s);
    ASSERT_GT(steps, 1) << "the parser needs several steps";
    EXPECT_EQ(engine->StepEngine(s.data(), s.size()), 1) << "stays ready";
    const std::size_t slot = 8 * 4;
    std::vector<std::uint8_t> out(3 * slot, 0xEE);
    ASSERT_EQ(engine->DecodeFrames(s.data(), s.size(), out.data(), slot, 1), 1);
    EXPECT_EQ(out[0], 11) << "frame 1's background";
    EXPECT_EQ(out[slot], 0xEE);
    EXPECT_EQ(engine->DecodeFrames(s.data(), s.size(), out.data(), out.size(), 3), 0);
    EXPECT_EQ(engine->DecodeFrames(s.data(), s.size(), out.data(), out.size() - 1, -1), 0);
    ASSERT_EQ(engine->DecodeFrames(s.data(), s.size(), out.data(), out.size(), -1), 3);
    for (int f = 0; f < 3; ++f) EXPECT_EQ(out[f * slot + slot - 1], 10 + f);
}

TEST_F(SafFront, DecodeStepsAnUnpreparedStream) {
    const Bytes s = SafStream(2);
    ASSERT_NE(Probe(s), 0);
    engine->StartEngine(pool.data(), pool.size(), store.data(), store.size(), info.width, info.height);
    std::vector<std::uint8_t> out(32);
    EXPECT_EQ(engine->DecodeFrames(s.data(), s.size(), out.data(), out.size(), 1), 1);
    EXPECT_EQ(out[5], 11);
}

TEST_F(SafFront, PictureChangedAfterTheProbeIsRefused) {
    // The probe stops at the first header; a second one would make frame 2
    // exist in slots sized for one frame.
    SafWriter w;
    w.Header({SafImageHeader(8, 4, 8), SafAnimation(1), SafDelay(100)});
    w.Header({SafImageHeader(8, 4, 8), SafAnimation(3), SafDelay(100)});
    for (int f = 0; f < 3; ++f) w.Frame(f, {});
    const Bytes s = w.End().Build();
    ASSERT_GT(Prepare(s), 0);
    EXPECT_EQ(info.frameCount, 1u);
    std::vector<std::uint8_t> out(3 * 32);
    EXPECT_EQ(engine->DecodeFrames(s.data(), s.size(), out.data(), 32, 0), 0);
    EXPECT_EQ(engine->DecodeFrames(s.data(), s.size(), out.data(), out.size(), 2), 0);
}

}  // namespace

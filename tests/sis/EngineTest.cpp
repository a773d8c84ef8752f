// The front end over SIS and SAF streams: kind detection, picture
// information, the calling order and the output-size checks.
// GCC 12 at -O2 warns that SafWriter's default signature bytes "may be
// used uninitialized" (a false alarm from inlining its member initialiser).
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include <gtest/gtest.h>

#include <memory>

#include "handpix/handset/Engine.h"
#include "handpix/handset/SafWriter.h"
#include "handpix/handset/SisKind1Writer.h"
#include "handpix/handset/SisKind2Writer.h"

namespace {

using namespace handpix;

SisKind1Stream SmallKind1(std::uint32_t frames = 2) {
    SisKind1Stream s;
    s.blocks = {{}};
    s.blocks[0].pixels.assign(64, 0);
    for (int i = 0; i < 64; i += 3) s.blocks[0].pixels[i] = 1;
    for (std::uint32_t f = 0; f < frames; ++f) s.frames.push_back({false, {{0, 0, static_cast<int>(f), 0}}});
    return s;
}

Bytes SafStream(int frames) {
    SafWriter w;
    w.Header({SafImageHeader(8, 4, 8, 1), SafAnimation(frames, 5), SafDelay(250)});
    w.Object(3, 2, 2, 8, {1, 2, 3, 4});
    for (int f = 0; f < frames; ++f) w.Frame(10 + f, {});
    return w.End().Build();
}

// frameCount, width, height, perFrameDelays, delays[0], delays[1], attribute, bitsPerPixel, loop
std::vector<std::uint32_t> Fields(const StreamInfo& i) {
    return {i.frameCount, i.width, i.height, i.perFrameDelays, i.delays[0], i.delays[1], i.attribute, i.bitsPerPixel,
            i.loop};
}

SisKind2Stream SmallKind2(std::uint32_t frames = 2) {
    SisKind2Stream s;
    s.blocks = {{}};
    s.blocks[0].cache = true;
    for (int i = 0; i < 64; ++i) s.blocks[0].pixels.push_back(static_cast<std::uint8_t>(i % 4));
    for (std::uint32_t f = 0; f < frames; ++f) s.frames.push_back({false, -1, {{1, 0, static_cast<int>(f), 0}}});
    return s;
}

class Front : public ::testing::Test {
protected:
    int Probe(const std::vector<std::uint8_t>& s) { return engine->ProbeStream(s.data(), s.size(), info); }
    // probe, start, step: the SNI reader's order.
    bool Open(const std::vector<std::uint8_t>& s) {
        if (!Probe(s)) return false;
        EXPECT_EQ(engine->StartEngine(pool.data(), pool.size(), store.data(), store.size(), info.width, info.height), 1);
        return engine->StepEngine(s.data(), s.size()) == 1;
    }
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

TEST_F(Front, KindFromTheTopBitsOfByteThree) {
    struct Case { std::uint8_t byte3; EngineKind kind; };
    const Case cases[] = {
        {0x00, EngineKind::sisBlocks}, {0x07, EngineKind::sisBlocks}, {0x08, EngineKind::sisBits},
        {0xA7, EngineKind::sisBits},   {0xA8, EngineKind::none},      {0xE0, EngineKind::none},
        {0xE8, EngineKind::sisBlocks}, {0xF7, EngineKind::sisBlocks}, {0xF8, EngineKind::none},
    };
    for (const Case& c : cases) {
        // The same bytes read either way: a kind-2 header with byte 3 set.
        SisKind2Stream s = SmallKind2();
        s.byte3 = c.byte3;
        std::vector<std::uint8_t> bytes = WriteSisKind2(s);
        // Read as kind 1: non-zero width and height fields, block field 0.
        bytes[4] = 0xFF;
        bytes[5] = 0xE0;
        EXPECT_EQ(Probe(bytes) != 0, c.kind != EngineKind::none) << int(c.byte3);
        EXPECT_EQ(engine->Kind(), c.kind) << int(c.byte3);
    }
    EXPECT_EQ(Probe({'S', 'I', 'T', 0x08, 0xFF, 0xFF, 0xFF, 0xFF}), 0);
    EXPECT_EQ(Probe({'S', 'I', 'S'}), 0);
}

TEST_F(Front, Kind1HeaderRules) {
    struct Case { std::uint32_t frames, width, height, blockField; bool accepted; };
    const Case cases[] = {
        {1, 1, 1, 0, true}, {20, 31, 15, 19, true}, {3, 4, 4, 20, false},
        {3, 4, 4, 31, false}, {3, 0, 4, 0, false}, {3, 4, 0, 0, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Probe(WriteSisKind1Header(c.frames, c.width, c.height, c.blockField)) != 0, c.accepted)
            << c.frames << " " << c.width << " " << c.height << " " << c.blockField;
    EXPECT_EQ(Probe({'S', 'I', 'S', 0x08, 0x42}), 0) << "header cut short";
}

TEST_F(Front, Kind1Information) {
    SisKind1Stream s = SmallKind1(3);
    s.widthUnits = 5;
    s.heightUnits = 3;
    s.attribute = 17;
    s.delay = 9;
    s.flags = 0b1000;
    ASSERT_NE(Probe(WriteSisKind1(s)), 0);
    EXPECT_EQ(Fields(info), (std::vector<std::uint32_t>{3, 40, 24, 0, 9, 0, 17, 1, 1}));
    s.flags = 0b0111;
    ASSERT_NE(Probe(WriteSisKind1(s)), 0);
    EXPECT_EQ(info.loop, 0u);
}

TEST_F(Front, Kind2Information) {
    struct Case { std::uint8_t widthByte, heightByte; std::uint32_t width, height; };
    for (const Case& c : {Case{0, 0, 256, 256}, Case{100, 8, 96, 8}, Case{255, 17, 248, 16}}) {
        SisKind2Stream s = SmallKind2();
        s.widthByte = c.widthByte;
        s.heightByte = c.heightByte;
        ASSERT_NE(Probe(WriteSisKind2(s)), 0);
        EXPECT_EQ(std::make_pair(info.width, info.height), std::make_pair(c.width, c.height));
    }
    SisKind2Stream s = SmallKind2(3);
    s.attribute = 4;
    s.flags = 0x80;
    s.delay = 0x05;
    s.frameDelays = {7, 250, 1};  // control byte 0x85: one delay per frame follows
    const std::vector<std::uint8_t> bytes = WriteSisKind2(s);
    ASSERT_NE(Probe(bytes), 0);
    EXPECT_EQ(std::vector<std::uint32_t>(info.delays, info.delays + 4), (std::vector<std::uint32_t>{7, 250, 1, 0}));
    EXPECT_EQ((std::vector<std::uint32_t>{info.perFrameDelays, info.attribute, info.loop, info.bitsPerPixel}),
              (std::vector<std::uint32_t>{1, 4, 1, 2}));
    ASSERT_TRUE(Open(bytes));
    std::vector<std::uint8_t> out(64);
    EXPECT_EQ(engine->DecodeFrames(bytes.data(), bytes.size(), out.data(), out.size(), 2), 1)
        << "the delays do not move the records";
    s.kindByte = 8;
    EXPECT_EQ(Probe(WriteSisKind2(s)), 0);
    EXPECT_EQ(engine->Kind(), EngineKind::none);
    EXPECT_EQ(Probe(WriteSisKind2(SmallKind2(0))), 0) << "no frames";
}

TEST_F(Front, OutputBufferAndFrameNumberAreChecked) {
    for (const std::vector<std::uint8_t>& stream : {WriteSisKind1(SmallKind1(2)), WriteSisKind2(SmallKind2(2))}) {
        ASSERT_TRUE(Open(stream));
        const std::size_t slot = info.width * info.height * info.bitsPerPixel / 8;
        std::vector<std::uint8_t> out(2 * slot + 8, 0x5A);
        auto decode = [&](std::size_t size, int f) {
            return engine->DecodeFrames(stream.data(), stream.size(), out.data(), size, f);
        };
        EXPECT_EQ(decode(2 * slot - 1, -1), 0);
        EXPECT_EQ(decode(slot - 1, 0), 0);
        EXPECT_EQ(decode(out.size(), 2), 0) << "frame past the count";
        EXPECT_EQ(decode(out.size(), -2), 0);
        EXPECT_EQ(out, std::vector<std::uint8_t>(out.size(), 0x5A)) << "nothing written on refusal";
        EXPECT_EQ(decode(2 * slot, -1), 2);
        EXPECT_EQ(std::vector<std::uint8_t>(out.end() - 8, out.end()), std::vector<std::uint8_t>(8, 0x5A));
        EXPECT_EQ(engine->DecodeFrames(stream.data(), stream.size(), nullptr, 99, 0), 0);
    }
}

TEST_F(Front, CachedBlocksLiveUntilTheNextStart) {
    const std::vector<std::uint8_t> stream = WriteSisKind2(SmallKind2(2));
    ASSERT_TRUE(Open(stream));
    std::vector<std::uint8_t> out(64);
    ASSERT_EQ(engine->DecodeFrames(stream.data(), stream.size(), out.data(), out.size(), 0), 1);
    EXPECT_EQ(engine->Kind2PoolUsed(), 16u);
    ASSERT_EQ(engine->DecodeFrames(stream.data(), stream.size(), out.data(), out.size(), 1), 1);
    EXPECT_EQ(engine->Kind2PoolUsed(), 16u) << "the cached block is reused";
    engine->StartEngine(pool.data(), pool.size(), store.data(), store.size(), 16, 16);
    ASSERT_EQ(engine->DecodeFrames(stream.data(), stream.size(), out.data(), out.size(), 1), 1);
    EXPECT_EQ(engine->Kind2PoolUsed(), 16u);
    EXPECT_EQ(engine->OutputBits(), 2u);
}

TEST_F(Front, SafProbeReportsThePictureInformation) {
    ASSERT_NE(Probe(SafStream(3)), 0);
    EXPECT_EQ(engine->Kind(), EngineKind::saf);
    EXPECT_EQ(Fields(info), (std::vector<std::uint32_t>{3, 8, 4, 0, 2, 0, 5, 8, 1})) << "delay 250 / 100";

    SafWriter w;
    w.Header({SafImageHeader(4, 4, 2), SafAnimation(3), SafFrameDelays({100, 250, 399})});
    ASSERT_NE(Probe(w.End().Build()), 0);
    EXPECT_EQ((std::vector<std::uint32_t>{info.perFrameDelays, info.delays[0], info.delays[1], info.delays[2],
                                          info.bitsPerPixel, info.loop}),
              (std::vector<std::uint32_t>{1, 1, 2, 3, 2, 0}));
    EXPECT_EQ(Probe(SafWriter().End().Build()), 0) << "end chunk before any header";
    EXPECT_EQ(info.frameCount, 0u) << "a failed probe reports nothing";
}

TEST_F(Front, SafStepsUntilReadyThenDecodes) {
    const Bytes s = SafStream(3);
    ASSERT_GT(Prepare(s), 1) << "the parser needs several steps";
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

TEST_F(Front, SafDecodeStepsAnUnpreparedStream) {
    const Bytes s = SafStream(2);
    ASSERT_NE(Probe(s), 0);
    engine->StartEngine(pool.data(), pool.size(), store.data(), store.size(), info.width, info.height);
    std::vector<std::uint8_t> out(32);
    EXPECT_EQ(engine->DecodeFrames(s.data(), s.size(), out.data(), out.size(), 1), 1);
    EXPECT_EQ(out[5], 11);
}

TEST_F(Front, SafPictureChangedAfterTheProbeIsRefused) {
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

TEST(SharedEngine, EntryPointsFollowTheCallingOrder) {
    const std::vector<std::uint8_t> stream = WriteSisKind1(SmallKind1(2));
    StreamInfo info;
    ASSERT_NE(ProbeStream(stream.data(), stream.size(), info), 0);
    std::vector<std::uint8_t> pool(65536), store(25600);
    EXPECT_EQ(StartEngine(pool.data(), pool.size(), store.data(), store.size(), info.width, info.height), 1);
    EXPECT_EQ(StepEngine(stream.data(), stream.size()), 1);
    std::vector<std::uint8_t> out(2 * 32);
    EXPECT_EQ(DecodeFrames(stream.data(), stream.size(), out.data(), out.size(), -1), 2);
}

// The byte-by-byte examples of docs/formats/sis-kind1.md and sis-kind2.md.
TEST(FormatNotes, WorkedExamplesDecodeAsDescribed) {
    struct Case { std::vector<std::uint8_t> stream, frame; };
    std::vector<std::uint8_t> kind2Frame(8, 0x00);  // then eight bytes of 0xAA
    kind2Frame.resize(16, 0xAA);
    const Case cases[] = {
        {{0x53, 0x49, 0x53, 0x08, 0x02, 0x20, 0x72, 0x98, 0x08, 0xC6, 0x89, 0x00, 0x00, 0x00},
         {0, 0, 0, 0, 0, 0, 0, 0x01}},
        {{0x53, 0x49, 0x53, 0x00, 0x00, 0x00, 0x08, 0x08, 0x00, 0x01, 0x00, 0x00, 0x0A, 0x01, 0x00, 0x02, 0x01,
          0x01, 0x00, 0x00, 0x01, 0x01, 0x00, 0x07, 0x04, 0x31, 0x86, 0x30, 0x43, 0x18, 0x63, 0x20, 0x01, 0x01,
          0x01, 0x00, 0x00, 0x00, 0x00},
         kind2Frame},
    };
    for (const Case& c : cases) {
        auto engine = std::make_unique<Engine>();
        StreamInfo info;
        ASSERT_NE(engine->ProbeStream(c.stream.data(), c.stream.size(), info), 0);
        std::vector<std::uint8_t> pool(65536), store(25600), out(c.frame.size());
        engine->StartEngine(pool.data(), pool.size(), store.data(), store.size(), info.width, info.height);
        ASSERT_EQ(engine->StepEngine(c.stream.data(), c.stream.size()), 1);
        ASSERT_GT(engine->DecodeFrames(c.stream.data(), c.stream.size(), out.data(), out.size(), 0), 0);
        EXPECT_EQ(out, c.frame);
    }
}

}  // namespace

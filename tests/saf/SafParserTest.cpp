// Stream preparation: headers, objects, the frame table and frame requests.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

#include "tests/saf/SafTestSupport.h"

namespace handpix::test {
namespace {

// A handler that serves reads from memory and records what the parser asked.
struct Trace {
    SafParser* parser = nullptr;
    Bytes stream;
    std::vector<std::uint8_t> pool = std::vector<std::uint8_t>(4096);
    Trace(SafParser* p, Bytes s) : parser(p), stream(std::move(s)) {
        parser->SetWorkAreas(pool.data(), pool.size(), nullptr, 0);
    }
    std::vector<std::pair<std::uint32_t, std::uint32_t>> reads;  // position, count
    std::vector<SafEvent> events;
    SafEventRecord last;
    bool resume = false;
    std::uint32_t token = 0;

    static void Handle(void* context, SafEvent ev, const SafEventRecord& r) {
        auto* t = static_cast<Trace*>(context);
        t->events.push_back(ev);
        t->last = r;
        t->token = r.token;
        t->resume = false;
        if (ev == SafEvent::read) {
            t->reads.emplace_back(r.position, r.count);
            if (r.position + r.count <= t->stream.size()) {
                std::memcpy(r.destination, t->stream.data() + r.position, r.count);
                t->resume = true;
            }
        } else if (ev == SafEvent::yield) {
            t->resume = true;
        }
    }
    void Start(SafMode mode) {
        parser->Start(mode, &Trace::Handle, this);
        Run();
    }
    void Run() {
        for (int i = 0; i < 100000 && resume; ++i) {
            resume = false;
            parser->Continue(token);
        }
    }
};

Bytes SmallStream(int frames = 1) {
    SafWriter w;
    w.Header({SafImageHeader(8, 4, 8), SafAnimation(frames), SafDelay(250)});
    w.Object(3, 2, 2, 8, {1, 2, 3, 4});
    for (int f = 0; f < frames; ++f) w.Frame(10 + f, {});
    return w.End().Build();
}

TEST(SafProbe, ReportsThePictureInformation) {
    SafWriter w;
    w.Header({SafImageHeader(20, 10, 8, 1), SafColourTable({0x1234, 0xF800}), SafAnimation(3, 5),
              SafFrameDelays({100, 250, 300}), SafPalette(1, {1, 2, 3, 4, 5, 6})});
    const Bytes s = w.End().Build();
    SafRig rig;
    ASSERT_EQ(rig.Probe(s), SafEvent::info);
    const SafPictureInfo& info = rig.parser.Info();
    EXPECT_EQ(info.width, 20u);
    EXPECT_EQ(info.height, 10u);
    EXPECT_EQ(info.bitsPerPixel, 8u);
    EXPECT_EQ(info.loop, 1u);
    EXPECT_EQ(info.frameCount, 3u);
    EXPECT_EQ(info.attribute, 5u);
    EXPECT_TRUE(info.perFrameDelays);
    EXPECT_EQ(info.delays[0], 100u);
    EXPECT_EQ(info.delays[1], 250u);
    EXPECT_EQ(info.delays[2], 300u);
    EXPECT_EQ(info.colourCount, 2u);
    EXPECT_EQ(info.colourTable[1], 0xF800);
    EXPECT_EQ(info.paletteSize, 256u);
    EXPECT_EQ(info.palette[5], 6);
    EXPECT_EQ(info.headerValue, 65536u);
    EXPECT_FALSE(rig.parser.Running());
}

TEST(SafProbe, ConstantDelayAndGreyPalette) {
    SafWriter w;
    w.Header({SafImageHeader(4, 4, 4), SafAnimation(2), SafDelay(250), SafPalette(2, {})});
    SafRig rig;
    ASSERT_EQ(rig.Probe(w.End().Build()), SafEvent::info);
    const SafPictureInfo& info = rig.parser.Info();
    EXPECT_FALSE(info.perFrameDelays);
    EXPECT_EQ(info.delays[0], 250u);
    EXPECT_EQ(info.delays[1], 250u);
    EXPECT_EQ(info.paletteSize, 0u);
    EXPECT_EQ(info.palette[3 * 77 + 2], 77);
}

struct Rejected {
    const char* name;
    Bytes stream;
};

class SafRejectedHeader : public ::testing::TestWithParam<Rejected> {};

TEST_P(SafRejectedHeader, ProbeFails) {
    SafRig rig;
    EXPECT_EQ(rig.Probe(GetParam().stream), SafEvent::failed);
    EXPECT_FALSE(rig.parser.Running());
}

Bytes WithHeader(std::initializer_list<Bytes> subs) { return SafWriter().Header(subs).End().Build(); }

INSTANTIATE_TEST_SUITE_P(
    Streams, SafRejectedHeader,
    ::testing::Values(
        Rejected{"byte3is1", SafWriter().Signature({'S', 'A', 'F', 1, 1}).Header({SafImageHeader(4, 4, 8)}).Build()},
        Rejected{"version0", SafWriter().Version(0).Header({SafImageHeader(4, 4, 8)}).Build()},
        Rejected{"version3", SafWriter().Version(3).Header({SafImageHeader(4, 4, 8)}).Build()},
        Rejected{"signature", SafWriter().Signature({'S', 'A', 'G', 0, 1}).Header({SafImageHeader(4, 4, 8)}).Build()},
        Rejected{"leadingTag", WithHeader({SafAnimation(1), SafImageHeader(4, 4, 8)})},
        Rejected{"sixteenBits", WithHeader({SafImageHeader(4, 4, 16), SafAnimation(1)})},
        Rejected{"bigPalette", WithHeader({SafImageHeader(4, 4, 8), SafPalette(1, Bytes(771, 1))})},
        Rejected{"subChunkPastRun", SafWriter().HeaderRaw({1, 9, 4, 4, 8, 0, 0, 0}).End().Build()},
        Rejected{"truncatedStream", Bytes{'S', 'A', 'F', 0, 1, 0, 40, 7, 0}},
        Rejected{"unknownTagAtEnd", SafWriter().DeclaredLength(7).Chunk(40, {1, 2}).Build()},
        Rejected{"headerPastBuffer", SafWriter().Chunk(7, Bytes(2100, 0)).Build()}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SafProbe, BitsPerPixelIsJudgedAfterEverySubChunk) {
    SafRig rig;
    EXPECT_EQ(rig.Probe(WithHeader({SafImageHeader(4, 4, 16), SafAnimation(7, 9)})), SafEvent::failed);
    // The animation sub-chunk behind the 16-bit image header was still read.
    EXPECT_EQ(rig.parser.Info().frameCount, 7u);
}

TEST(SafProbe, EndBeforeHeaderIsNotPictureInformation) {
    SafRig rig;
    EXPECT_EQ(rig.Probe(SafWriter().End().Build()), SafEvent::ready);
}

TEST(SafEvents, UnknownChunkIsSkippedInPiecesOf2048) {
    const Bytes s = SafWriter().Header({SafImageHeader(4, 4, 8)}).Chunk(40, Bytes(5000, 7)).End().Build();
    SafParser parser;
    Trace t{&parser, s};
    t.Start(SafMode::full);
    ASSERT_EQ(t.events.back(), SafEvent::ready);
    std::vector<std::uint32_t> counts;
    for (auto& r : t.reads) counts.push_back(r.second);
    // stream header, chunk header, header length, run, chunk header, 3 pieces, end
    const std::vector<std::uint32_t> expected = {7, 3, 2, 8, 3, 2048, 2048, 904, 3};
    EXPECT_EQ(counts, expected);
    EXPECT_EQ(t.reads[0].first, 0u);
}

TEST(SafEvents, FullStartAfterProbeBeginsAtTheStreamHeader) {
    const Bytes s = SmallStream();
    SafParser parser;
    Trace t{&parser, s};
    t.Start(SafMode::probe);
    ASSERT_EQ(t.events.back(), SafEvent::info);
    EXPECT_FALSE(parser.Running());
    t.reads.clear();
    t.events.clear();
    t.Start(SafMode::full);
    ASSERT_FALSE(t.reads.empty());
    EXPECT_EQ(t.reads[0], std::make_pair(0u, 7u));
    EXPECT_EQ(t.events.back(), SafEvent::ready);
}

TEST(SafEvents, RestartAbandonsTheRunningParseAndStaleTokensDoNothing) {
    const Bytes s = SmallStream();
    SafParser parser;
    Trace t{&parser, s};
    parser.Start(SafMode::full, &Trace::Handle, &t);
    const std::uint32_t old = parser.Token();
    ASSERT_TRUE(parser.Running());
    t.events.clear();
    parser.Start(SafMode::full, &Trace::Handle, &t);
    ASSERT_GE(t.events.size(), 2u);
    EXPECT_EQ(t.events[0], SafEvent::abandoned);
    EXPECT_EQ(parser.Token(), old + 4);
    t.events.clear();
    parser.Continue(old);
    EXPECT_TRUE(t.events.empty());
    t.Run();
    EXPECT_EQ(t.events.back(), SafEvent::ready);
}

TEST(SafObjects, StoredSkippedAndRejected) {
    SafWriter w;
    w.Header({SafImageHeader(8, 8, 8), SafAnimation(1)});
    w.ObjectRaw(5, 4, 4, 5, 0, Bytes(30, 0xEE));  // storage 5: passed over
    w.Object(0x7F, 3, 2, 8, {9, 8, 7, 6, 5, 4}, 2, 1);
    const Bytes s = w.Frame(0, {}).End().Build();
    SafRig rig;
    ASSERT_EQ(rig.Prepare(s), SafEvent::ready);
    EXPECT_EQ(rig.parser.PoolUsed(), 6u);
    const SafObject& o = rig.parser.Object(127);
    EXPECT_EQ(o.width, 3u);
    EXPECT_EQ(o.poolOffset, 0u);
    EXPECT_EQ(o.byteCount, 6u);
    EXPECT_EQ(o.transparent, 2u);
    EXPECT_EQ(o.flag, 1u);
    EXPECT_EQ(rig.pool[5], 4);
    EXPECT_EQ(rig.parser.Object(5).storage, 5u);
}

TEST(SafObjects, BadObjectsFailThePreparation) {
    const Bytes pixels = SafDeflate(Bytes(16, 1));
    Bytes truncated = pixels;
    truncated.resize(truncated.size() - 3);
    Bytes corrupt = pixels;
    corrupt[0] ^= 0xFF;
    const std::vector<std::pair<const char*, Bytes>> cases = {
        {"storage 0", SafWriter().Header({SafImageHeader(8, 8, 8)}).ObjectRaw(1, 4, 4, 0, 0, pixels).End().Build()},
        {"storage 16", SafWriter().Header({SafImageHeader(8, 8, 8)}).ObjectRaw(1, 4, 4, 16, 0, pixels).End().Build()},
        {"width 0", SafWriter().Header({SafImageHeader(8, 8, 8)}).ObjectRaw(1, 0, 4, 1, 0, pixels).End().Build()},
        {"data runs out", SafWriter().Header({SafImageHeader(8, 8, 8)}).ObjectRaw(1, 4, 4, 1, 0, truncated).End().Build()},
        {"corrupt zlib", SafWriter().Header({SafImageHeader(8, 8, 8)}).ObjectRaw(1, 4, 4, 1, 0, corrupt).End().Build()},
        {"too many pixels",
         SafWriter().Header({SafImageHeader(8, 8, 8)}).ObjectRaw(1, 2, 2, 1, 0, pixels).End().Build()},
    };
    for (const auto& [name, s] : cases) {
        SafRig rig;
        EXPECT_EQ(rig.Prepare(s), SafEvent::failed) << name;
    }
}

TEST(SafObjects, PoolRoomIsChecked) {
    SafWriter w;
    w.Header({SafImageHeader(8, 8, 8)});
    w.Object(0, 200, 200, 8, std::vector<int>(40000, 1));
    w.Object(1, 200, 200, 8, std::vector<int>(40000, 2));
    const Bytes s = w.End().Build();
    SafRig rig;
    EXPECT_EQ(rig.Prepare(s), SafEvent::failed);
    rig.pool.assign(80000, 0);
    rig.parser.SetWorkAreas(rig.pool.data(), rig.pool.size(), nullptr, 0);
    EXPECT_EQ(rig.Prepare(s), SafEvent::ready);
    EXPECT_EQ(rig.parser.PoolUsed(), 80000u);
}

TEST(SafObjects, CompressedDataIsReadInPiecesOf1024) {
    std::vector<int> noise(60000);
    std::uint32_t r = 1;
    for (int& v : noise) v = static_cast<int>((r = r * 1103515245u + 12345u) >> 24);
    const Bytes s = SafWriter().Header({SafImageHeader(8, 8, 8)}).Object(0, 250, 240, 8, noise).End().Build();
    SafParser parser;
    Trace t{&parser, s};
    std::vector<std::uint8_t>& pool = t.pool;
    pool.assign(65536, 0);
    parser.SetWorkAreas(pool.data(), pool.size(), nullptr, 0);
    t.Start(SafMode::full);
    ASSERT_EQ(t.events.back(), SafEvent::ready);
    std::uint32_t biggest = 0;
    for (std::size_t i = 6; i + 1 < t.reads.size(); ++i) biggest = std::max(biggest, t.reads[i].second);
    EXPECT_EQ(biggest, 1024u);
    EXPECT_EQ(pool[59999], noise[59999]);
}

TEST(SafObjects, ValidationChunks) {
    const Bytes good = SafRawDeflate(Bytes(300, 4));
    Bytes bad = good;
    bad.resize(bad.size() / 2);
    SafRig rig;
    EXPECT_EQ(rig.Prepare(SafWriter().Header({SafImageHeader(4, 4, 8)}).Chunk(11, good).End().Build()),
              SafEvent::ready);
    EXPECT_EQ(rig.Prepare(SafWriter().Header({SafImageHeader(4, 4, 8)}).Chunk(11, bad).End().Build()),
              SafEvent::failed);
}

TEST(SafFrames, TheFrameTableKeeps128) {
    SafWriter w;
    w.Header({SafImageHeader(4, 2, 8), SafAnimation(130)});
    for (int f = 0; f < 129; ++f) w.Frame(f, {});
    const Bytes s = w.End().Build();
    SafRig rig;
    ASSERT_EQ(rig.Prepare(s), SafEvent::ready);
    EXPECT_EQ(rig.parser.FrameChunks(), 129u);
    EXPECT_EQ(rig.Render(s, 127), std::vector<std::uint8_t>(8, 127));
    EXPECT_TRUE(rig.Render(s, 128).empty());
    EXPECT_TRUE(rig.Render(s, 130).empty());
}

TEST(SafFrames, AnyOrderAndRepeatable) {
    const Bytes s = SmallStream(3);
    SafRig rig;
    ASSERT_EQ(rig.Prepare(s), SafEvent::ready);
    EXPECT_EQ(rig.Render(s, 2), std::vector<std::uint8_t>(32, 12));
    EXPECT_EQ(rig.Render(s, 0), std::vector<std::uint8_t>(32, 10));
    EXPECT_EQ(rig.Render(s, 2), std::vector<std::uint8_t>(32, 12));
    EXPECT_TRUE(rig.Render(s, 3).empty());
    EXPECT_EQ(rig.Render(s, 1), std::vector<std::uint8_t>(32, 11));
}

TEST(SafFrames, FrameDoneCarriesDelayAndLastFlag) {
    SafParser parser;
    Trace t(&parser, SmallStream(2));
    t.Start(SafMode::full);
    ASSERT_EQ(t.events.back(), SafEvent::ready);
    std::vector<std::uint8_t> slot(32);
    parser.RequestFrame(1, slot.data(), slot.size(), t.token);
    t.Run();
    ASSERT_EQ(t.events.back(), SafEvent::frameDone);
    EXPECT_EQ(t.last.frameBytes, 32u);
    EXPECT_EQ(t.last.output, slot.data());
    EXPECT_EQ(t.last.delay, 250u);
    EXPECT_TRUE(t.last.lastFrame);
}

TEST(SafFrames, ScratchRoomForPackedDepths) {
    // 1-bit, 64 x 64: the frame needs 64*64/4 + 8 = 1032 free bytes behind the objects.
    SafWriter w;
    w.Header({SafImageHeader(64, 64, 1), SafAnimation(1)});
    w.Object(0, 8, 8, 1, std::vector<int>(64, 1));
    const Bytes s = w.Frame(0, {}).End().Build();
    for (const auto& [poolSize, ok] : std::vector<std::pair<std::size_t, bool>>{{8 + 1031, false}, {8 + 1032, true}}) {
        SafRig rig;
        rig.pool.assign(poolSize, 0);
        rig.parser.SetWorkAreas(rig.pool.data(), rig.pool.size(), nullptr, 0);
        ASSERT_EQ(rig.Prepare(s), SafEvent::ready);
        EXPECT_EQ(!rig.Render(s, 0).empty(), ok) << poolSize;
    }
}

TEST(SafFrames, SlotTooSmallFails) {
    const Bytes s = SmallStream();
    SafRig rig;
    ASSERT_EQ(rig.Prepare(s), SafEvent::ready);
    std::vector<std::uint8_t> slot(31);
    EXPECT_FALSE(rig.parser.RenderFrame(s.data(), s.size(), 0, slot.data(), slot.size()));
}

}  // namespace
}  // namespace handpix::test

// Stream preparation: headers, objects, the frame table and frame requests.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

#include "tests/saf/SafTestSupport.h"

namespace handpix::test {
namespace {

// A parser whose handler serves reads from memory and records what it asked.
struct Trace {
    SafParser parser;
    Bytes stream;
    std::vector<std::uint8_t> pool = std::vector<std::uint8_t>(4096);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> reads;  // position, count
    std::vector<SafEvent> events;
    SafEventRecord last;
    bool resume = false;

    explicit Trace(Bytes s) : stream(std::move(s)) { parser.SetWorkAreas(pool.data(), pool.size(), nullptr, 0); }
    static void Handle(void* context, SafEvent ev, const SafEventRecord& r) {
        auto* t = static_cast<Trace*>(context);
        t->events.push_back(ev);
        t->last = r;
        t->resume = ev == SafEvent::yield;
        if (ev != SafEvent::read) return;
        t->reads.emplace_back(r.position, r.count);
        t->resume = r.position + r.count <= t->stream.size();
        if (t->resume) std::memcpy(r.destination, t->stream.data() + r.position, r.count);
    }
    void Start(SafMode mode) {
        parser.Start(mode, &Trace::Handle, this);
        Run();
    }
    void Run() {
        for (int i = 0; i < 100000 && std::exchange(resume, false); ++i) parser.Continue(last.token);
    }
};

Bytes SmallStream(int frames = 1) {
    SafWriter w;
    w.Header({SafImageHeader(8, 4, 8), SafAnimation(frames), SafDelay(250)});
    w.Object(3, 2, 2, 8, {1, 2, 3, 4});
    for (int f = 0; f < frames; ++f) w.Frame(10 + f, {});
    return w.End().Build();
}

Bytes WithHeader(std::initializer_list<Bytes> subs) { return SafWriter().Header(subs).End().Build(); }

TEST(SafProbe, ReportsThePictureInformation) {
    SafWriter w;
    w.Header({SafImageHeader(20, 10, 8, 1), SafColourTable({0x1234, 0xF800}), SafAnimation(3, 5),
              SafFrameDelays({100, 250, 300}), SafPalette(1, {1, 2, 3, 4, 5, 6})});
    SafRig rig;
    ASSERT_EQ(rig.Probe(w.End().Build()), SafEvent::info);
    const SafPictureInfo& i = rig.parser.Info();
    EXPECT_EQ(std::vector<std::uint32_t>({i.width, i.height, i.bitsPerPixel, i.loop, i.frameCount, i.attribute,
                                          i.delays[0], i.delays[1], i.delays[2], i.colourCount, i.colourTable[1],
                                          i.paletteSize, i.palette[5], i.headerValue}),
              std::vector<std::uint32_t>({20, 10, 8, 1, 3, 5, 100, 250, 300, 2, 0xF800, 256, 6, 65536}));
    EXPECT_TRUE(i.perFrameDelays);
    EXPECT_FALSE(rig.parser.Running());

    // A constant delay serves every frame; palette kind 2 is the grey ramp.
    SafRig grey;
    ASSERT_EQ(grey.Probe(WithHeader({SafImageHeader(4, 4, 4), SafAnimation(2), SafDelay(250), SafPalette(2, {})})),
              SafEvent::info);
    const SafPictureInfo& g = grey.parser.Info();
    EXPECT_FALSE(g.perFrameDelays);
    EXPECT_EQ(std::vector<std::uint32_t>({g.delays[0], g.delays[1], g.paletteSize, g.palette[3 * 77 + 2]}),
              std::vector<std::uint32_t>({250, 250, 0, 77}));
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

TEST(SafProbe, DepthJudgedAfterEverySubChunkAndEndBeforeHeaderIsNoInformation) {
    SafRig rig;
    EXPECT_EQ(rig.Probe(WithHeader({SafImageHeader(4, 4, 16), SafAnimation(7, 9)})), SafEvent::failed);
    // The animation sub-chunk behind the 16-bit image header was still read.
    EXPECT_EQ(rig.parser.Info().frameCount, 7u);
    EXPECT_EQ(SafRig().Probe(SafWriter().End().Build()), SafEvent::ready);
}

TEST(SafEvents, UnknownChunkIsSkippedInPiecesOf2048) {
    Trace t{SafWriter().Header({SafImageHeader(4, 4, 8)}).Chunk(40, Bytes(5000, 7)).End().Build()};
    t.Start(SafMode::full);
    ASSERT_EQ(t.events.back(), SafEvent::ready);
    std::vector<std::uint32_t> counts;
    for (auto& r : t.reads) counts.push_back(r.second);
    // stream header, chunk header, header length, run, chunk header, 3 pieces, end
    EXPECT_EQ(counts, (std::vector<std::uint32_t>{7, 3, 2, 8, 3, 2048, 2048, 904, 3}));
    EXPECT_EQ(t.reads[0].first, 0u);
}

TEST(SafEvents, FullStartAfterProbeBeginsAtTheStreamHeader) {
    Trace t{SmallStream()};
    t.Start(SafMode::probe);
    ASSERT_EQ(t.events.back(), SafEvent::info);
    EXPECT_FALSE(t.parser.Running());
    t.reads.clear();
    t.Start(SafMode::full);
    ASSERT_FALSE(t.reads.empty());
    EXPECT_EQ(t.reads[0], std::make_pair(0u, 7u));
    EXPECT_EQ(t.events.back(), SafEvent::ready);
}

TEST(SafEvents, RestartAbandonsTheRunningParseAndStaleTokensDoNothing) {
    Trace t{SmallStream()};
    t.parser.Start(SafMode::full, &Trace::Handle, &t);
    const std::uint32_t old = t.parser.Token();
    ASSERT_TRUE(t.parser.Running());
    t.events.clear();
    t.parser.Start(SafMode::full, &Trace::Handle, &t);
    ASSERT_GE(t.events.size(), 2u);
    EXPECT_EQ(t.events[0], SafEvent::abandoned);
    EXPECT_EQ(t.parser.Token(), old + 4);
    t.events.clear();
    t.parser.Continue(old);
    EXPECT_TRUE(t.events.empty());
    t.Run();
    EXPECT_EQ(t.events.back(), SafEvent::ready);
}

TEST(SafObjects, StoredSkippedAndRejected) {
    SafWriter w;
    w.Header({SafImageHeader(8, 8, 8), SafAnimation(1)});
    w.ObjectRaw(5, 4, 4, 5, 0, Bytes(30, 0xEE));  // storage 5: passed over
    w.Object(0x7F, 3, 2, 8, {9, 8, 7, 6, 5, 4}, 2, 1);
    SafRig rig;
    ASSERT_EQ(rig.Prepare(w.Frame(0, {}).End().Build()), SafEvent::ready);
    const SafObject& o = rig.parser.Object(127);
    EXPECT_EQ(std::vector<std::uint32_t>({static_cast<std::uint32_t>(rig.parser.PoolUsed()), o.width, o.poolOffset,
                                          o.byteCount, o.transparent, o.flag, rig.pool[5],
                                          rig.parser.Object(5).storage}),
              std::vector<std::uint32_t>({6, 3, 0, 6, 2, 1, 4, 5}));
}

TEST(SafObjects, BadObjectsFailThePreparation) {
    const Bytes pixels = SafDeflate(Bytes(16, 1));
    Bytes truncated = pixels, corrupt = pixels;
    truncated.resize(truncated.size() - 3);
    corrupt[0] ^= 0xFF;
    auto one = [](int w, int h, int storage, const Bytes& data) {
        return SafWriter().Header({SafImageHeader(8, 8, 8)}).ObjectRaw(1, w, h, storage, 0, data).End().Build();
    };
    const std::vector<std::pair<const char*, Bytes>> cases = {
        {"storage 0", one(4, 4, 0, pixels)},     {"storage 16", one(4, 4, 16, pixels)},
        {"width 0", one(0, 4, 1, pixels)},       {"data runs out", one(4, 4, 1, truncated)},
        {"corrupt zlib", one(4, 4, 1, corrupt)}, {"too many pixels", one(2, 2, 1, pixels)},
    };
    for (const auto& [name, s] : cases) EXPECT_EQ(SafRig().Prepare(s), SafEvent::failed) << name;
}

TEST(SafObjects, PoolRoomIsChecked) {
    SafWriter w;
    w.Header({SafImageHeader(8, 8, 8)});
    w.Object(0, 200, 200, 8, std::vector<int>(40000, 1));
    const Bytes s = w.Object(1, 200, 200, 8, std::vector<int>(40000, 2)).End().Build();
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
    Trace t{SafWriter().Header({SafImageHeader(8, 8, 8)}).Object(0, 250, 240, 8, noise).End().Build()};
    t.pool.assign(65536, 0);
    t.parser.SetWorkAreas(t.pool.data(), t.pool.size(), nullptr, 0);
    t.Start(SafMode::full);
    ASSERT_EQ(t.events.back(), SafEvent::ready);
    std::uint32_t biggest = 0;
    for (std::size_t i = 6; i + 1 < t.reads.size(); ++i) biggest = std::max(biggest, t.reads[i].second);
    EXPECT_EQ(biggest, 1024u);
    EXPECT_EQ(t.pool[59999], noise[59999]);
}

TEST(SafObjects, ValidationChunks) {
    const Bytes good = SafRawDeflate(Bytes(300, 4));
    const Bytes bad(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(good.size() / 2));
    auto with = [](const Bytes& c) { return SafWriter().Header({SafImageHeader(4, 4, 8)}).Chunk(11, c).End().Build(); };
    EXPECT_EQ(SafRig().Prepare(with(good)), SafEvent::ready);
    EXPECT_EQ(SafRig().Prepare(with(bad)), SafEvent::failed);
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

TEST(SafFrames, AnyOrderRepeatableAndSlotChecked) {
    const Bytes s = SmallStream(3);
    SafRig rig;
    ASSERT_EQ(rig.Prepare(s), SafEvent::ready);
    for (std::uint32_t f : {2, 0, 2, 3, 1})
        EXPECT_EQ(rig.Render(s, f), f < 3 ? std::vector<std::uint8_t>(32, static_cast<std::uint8_t>(10 + f)) : std::vector<std::uint8_t>{}) << f;
    std::vector<std::uint8_t> slot(31);
    EXPECT_FALSE(rig.parser.RenderFrame(s.data(), s.size(), 0, slot.data(), slot.size()));
}

TEST(SafFrames, FrameDoneCarriesDelayAndLastFlag) {
    Trace t{SmallStream(2)};
    t.Start(SafMode::full);
    ASSERT_EQ(t.events.back(), SafEvent::ready);
    std::vector<std::uint8_t> slot(32);
    t.parser.RequestFrame(1, slot.data(), slot.size(), t.last.token);
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
    const Bytes s = w.Object(0, 8, 8, 1, std::vector<int>(64, 1)).Frame(0, {}).End().Build();
    for (const auto& [poolSize, ok] : std::vector<std::pair<std::size_t, bool>>{{8 + 1031, false}, {8 + 1032, true}}) {
        SafRig rig;
        rig.pool.assign(poolSize, 0);
        rig.parser.SetWorkAreas(rig.pool.data(), rig.pool.size(), nullptr, 0);
        ASSERT_EQ(rig.Prepare(s), SafEvent::ready);
        EXPECT_EQ(!rig.Render(s, 0).empty(), ok) << poolSize;
    }
}

}  // namespace
}  // namespace handpix::test

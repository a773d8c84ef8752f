#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <tuple>
#include <utility>

#include "handpix/handset/SisKind2.h"
#include "handpix/handset/SisKind2Writer.h"
#include "tests/support/SisReference.h"

namespace {

using namespace handpix;
using namespace handpix::test;

std::vector<std::uint8_t> Pattern2(std::uint32_t w, std::uint32_t h, std::uint32_t seed, unsigned change = 6) {
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> px(std::size_t{w} * h);
    std::uint8_t v = 0;
    for (auto& p : px) {
        if (rng() % change == 0) v = static_cast<std::uint8_t>(rng() % 4);
        p = v;
    }
    return px;
}

// Two planes' codes, given as bits (0/1), packed first bit high.
std::vector<std::uint8_t> ToBytes(std::vector<std::uint8_t> code, const std::vector<std::uint8_t>& second) {
    code.insert(code.end(), second.begin(), second.end());
    std::vector<std::uint8_t> bytes((code.size() + 7) / 8, 0);
    for (std::size_t i = 0; i < code.size(); ++i) bytes[i / 8] |= static_cast<std::uint8_t>(code[i] << (7 - i % 8));
    return bytes;
}

// Decodes one plane of a w x h picture given as bits (0/1 per pixel).
std::vector<std::uint8_t> DecodePlaneBits(const std::vector<std::uint8_t>& bits, std::uint32_t w, std::uint32_t h) {
    // Both planes get the same bits; the high bit of each pair is plane 0.
    const std::vector<std::uint8_t> bytes = ToBytes(bits, bits);
    std::vector<std::uint8_t> packed(std::size_t{w} * h / 4);
    MsbBitReader r(bytes.data(), bytes.size());
    if (!Ok(DecodeSisKind2Planes(r, w, h, packed.data()))) return {};
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i < std::size_t{w} * h; ++i) out.push_back((packed[i / 4] >> (7 - 2 * (i % 4))) & 1);
    return out;
}

TEST(Kind2Coder, FirstCodeZeroWithParameterZeroIsOneCorrectPixel) {
    // Bits: "0" (k = 0: one correct pixel, parameter of context 0 becomes 1),
    // then for pixel 1 (context 0, k = 1): "0" = two correct pixels.
    // Pixel 3 (context 0, k = 2): "1" + "00" = immediate miss: 1, parameter back to 1.
    const std::vector<std::uint8_t> bits = {0, 0, 1, 0, 0};
    const std::vector<std::uint8_t> px = DecodePlaneBits(bits, 4, 1);
    EXPECT_EQ(px, (std::vector<std::uint8_t>{0, 0, 0, 1}));
    EXPECT_EQ(EncodeSisKind2PlaneBits(px, 4, 1), bits);
}

TEST(Kind2Coder, ImmediateMissAtParameterZeroInvertsThePrediction) {
    // "1" with k = 0 reads no run bits: pixel 0 is a miss (1) and context 0
    // now predicts 1. Pixel 1 (context 1) misses the same way: 0 ^ 1 = 1.
    // Pixel 2, context 1 predicting 1: "0", one correct pixel.
    const std::vector<std::uint8_t> px = DecodePlaneBits({1, 1, 0}, 4, 1);
    ASSERT_EQ(px.size(), 4u);
    EXPECT_EQ(px[0] + px[1] + px[2], 3);
}

TEST(Kind2Coder, GrayPairs) {
    // Planes (high, low) = (1, 1) is 2; (1, 0) is 3; (0, 1) is 1.
    struct Pair { std::uint8_t plane0, plane1, value; };
    for (Pair p : {Pair{0, 0, 0}, Pair{0, 1, 1}, Pair{1, 1, 2}, Pair{1, 0, 3}}) {
        const std::vector<std::uint8_t> bytes = ToBytes(EncodeSisKind2PlaneBits(std::vector<std::uint8_t>(4, p.plane0), 4, 1),
                                                        EncodeSisKind2PlaneBits(std::vector<std::uint8_t>(4, p.plane1), 4, 1));
        std::uint8_t packed = 0;
        MsbBitReader r(bytes.data(), bytes.size());
        ASSERT_EQ(DecodeSisKind2Planes(r, 4, 1, &packed), Status::ok);
        EXPECT_EQ(packed, p.value * 0x55) << int(p.plane0) << int(p.plane1);
        EXPECT_EQ(r.BitPosition() % 8, 0u);
    }
}

TEST(Kind2Coder, RandomBlocksRoundTrip) {
    std::mt19937 rng(5);
    for (int round = 0; round < 40; ++round) {
        const std::uint32_t w = 8 * (1 + rng() % 16), h = 8 * (1 + rng() % 16);
        // From busy to flat planes: many codes exercise the 32-code clearing.
        const std::vector<std::uint8_t> px = Pattern2(w, h, rng(), 1 + rng() % 40);
        const std::vector<std::uint8_t> code = EncodeSisKind2Planes(px, w, h);
        std::vector<std::uint8_t> packed(w * h / 4);
        MsbBitReader r(code.data(), code.size());
        ASSERT_EQ(DecodeSisKind2Planes(r, w, h, packed.data()), Status::ok);
        EXPECT_EQ(r.BitPosition(), code.size() * 8);
        EXPECT_EQ(packed, PackBits2(px)) << w << "x" << h;
        MsbBitReader cut(code.data(), code.size() - 1);
        EXPECT_NE(DecodeSisKind2Planes(cut, w, h, packed.data()), Status::ok);
    }
}

SisKind2Block Block2(std::uint32_t across, std::uint32_t down, std::vector<std::uint8_t> px, bool cache = false,
                     std::uint32_t key = 0) {
    SisKind2Block b;
    std::tie(b.across, b.down, b.pixels, b.cache, b.keyMode) = std::make_tuple(across, down, std::move(px), cache, key);
    return b;
}

SisKind2Block Derived(std::uint32_t base, bool cache = false, std::vector<SisKind2Region> regions = {}) {
    SisKind2Block d;
    d.derived = true;
    std::tie(d.base, d.cache, d.change, d.regions) = std::make_tuple(base, cache, !regions.empty(), std::move(regions));
    return d;
}

class Kind2 : public ::testing::Test {
protected:
    void SetUp() override { Restart(); }
    void Restart() { decoder->Start(pool.data(), pool.size(), store.data(), store.size()); }
    std::vector<std::uint8_t> Decode(const std::vector<std::uint8_t>& stream, int f, std::size_t bytes,
                                     std::uint8_t fill = 0xCD) {
        std::vector<std::uint8_t> out(bytes, fill);
        if (!decoder->Prepared() && !decoder->PrepareKind2(stream.data(), stream.size())) return {};
        if (!decoder->DecodeKind2Frame(stream.data(), stream.size(), out.data(), out.size(), f)) return {};
        return out;
    }
    void ExpectFrames(const SisKind2Stream& s) {
        Restart();
        const std::vector<std::uint8_t> stream = WriteSisKind2(s);
        const std::size_t pixels = std::size_t{8u * (s.widthByte >> 3)} * (8u * (s.heightByte >> 3));
        std::vector<std::uint8_t> all;
        for (std::uint32_t f = 0; f < s.frames.size(); ++f) {
            const std::vector<std::uint8_t> expected =
                PackBits2(RenderSisKind2(s, f, std::vector<std::uint8_t>(pixels, 0)));
            // Twice: the second request takes cached blocks from the pool.
            for (int pass = 0; pass < 2; ++pass)
                EXPECT_EQ(Decode(stream, static_cast<int>(f), pixels / 4, 0), expected) << "frame " << f;
            all.insert(all.end(), expected.begin(), expected.end());
        }
        EXPECT_EQ(Decode(stream, -1, all.size(), 0), all);
    }
    std::unique_ptr<SisKind2Decoder> decoder = std::make_unique<SisKind2Decoder>();
    std::vector<std::uint8_t> pool = std::vector<std::uint8_t>(65536);
    std::vector<std::uint8_t> store = std::vector<std::uint8_t>(25600);
};

TEST_F(Kind2, BackgroundsAndInvert) {
    SisKind2Stream s;
    s.widthByte = s.heightByte = 8;
    s.blocks = {Block2(1, 1, std::vector<std::uint8_t>(64, 0))};
    // expected: every byte of the 16-byte slot, starting from 0x3C
    struct Case { int background; bool invert; std::uint8_t invertAll, expected; };
    const Case cases[] = {
        {-1, false, 0, 0x00}, {0, false, 0, 0x00}, {1, false, 0, 0x55}, {2, false, 0, 0xAA},
        {3, false, 0, 0xFF},  {7, false, 0, 0x3C}, {7, true, 0, 0xC3},  {1, true, 1, 0x55},
        {1, false, 1, 0xAA},  {200, true, 1, 0x3C},
    };
    for (const Case& c : cases) {
        s.invertAll = c.invertAll;
        s.frames = {{c.invert, c.background, {}}};
        Restart();
        EXPECT_EQ(Decode(WriteSisKind2(s), 0, 16, 0x3C), std::vector<std::uint8_t>(16, c.expected))
            << c.background << " " << c.invert << " " << int(c.invertAll);
    }
}

TEST_F(Kind2, DerivedChainsWithChangeRegions) {
    SisKind2Stream s;
    s.widthByte = 32;
    s.heightByte = 24;
    s.blocks = {Block2(3, 3, Pattern2(24, 24, 10), true),
                Derived(1, false, {{0, 0, Pattern2(8, 8, 11)}, {3, 5, Pattern2(24, 8, 12)}}),
                Derived(2, true, {{1, 5, Pattern2(16, 16, 13)}}), Derived(3)};
    s.frames = {{false, -1, {{4, 0, 0, 0}}}, {false, -1, {{2, 0, 8, 0}, {1, 0, -8, 0}}}, {false, 3, {{3, 0, 2, 2}}}};
    ExpectFrames(s);
    EXPECT_EQ(decoder->PoolUsed(), 2u * 24 * 24 / 4);  // the two cached blocks
}

TEST_F(Kind2, RandomStreamsMatchTheReference) {
    std::mt19937 rng(99);
    for (int round = 0; round < 20; ++round) {
        SisKind2Stream s;
        s.widthByte = static_cast<std::uint8_t>(8 * (1 + rng() % 8));
        s.heightByte = static_cast<std::uint8_t>(8 * (1 + rng() % 8));
        s.layerCount = static_cast<std::uint8_t>(1 + rng() % 3);
        s.invertAll = rng() % 2;
        const std::uint32_t blocks = 1 + rng() % 6;
        for (std::uint32_t b = 0; b < blocks; ++b) {
            if (b > 0 && rng() % 3 == 0) {
                SisKind2Block d;
                d.derived = true;
                d.base = 1 + rng() % b;
                d.cache = rng() % 2;
                const SisKind2Block* root = &s.blocks[d.base - 1];
                while (root->derived) root = &s.blocks[root->base - 1];
                d.change = rng() % 2;
                const std::uint32_t m = root->across;
                for (int r = 0; d.change && r < 2; ++r) {
                    const std::uint32_t first = rng() % (m * root->down);
                    const std::uint32_t acrossMax = m - first % m, downMax = root->down - first / m;
                    const std::uint32_t ra = 1 + rng() % acrossMax, rd = 1 + rng() % downMax;
                    d.regions.push_back({first, first + (rd - 1) * m + ra - 1, Pattern2(8 * ra, 8 * rd, rng())});
                }
                s.blocks.push_back(d);
                continue;
            }
            const std::uint32_t across = 1 + rng() % 5, down = 1 + rng() % 5;
            s.blocks.push_back(Block2(across, down, Pattern2(8 * across, 8 * down, rng()), rng() % 2, rng() % 3));
        }
        const std::uint32_t frames = 1 + rng() % 5;
        for (std::uint32_t f = 0; f < frames; ++f) {
            SisKind2Frame fr;
            fr.invert = rng() % 2;
            fr.background = static_cast<int>(rng() % 5) - 1;
            const std::uint32_t n = rng() % 5;
            for (std::uint32_t i = 0; i < n; ++i)
                fr.placements.push_back({1 + static_cast<std::uint32_t>(rng() % blocks),
                                         static_cast<std::uint32_t>(rng() % 3), static_cast<int>(rng() % 90) - 30,
                                         static_cast<int>(rng() % 90) - 30, rng() % 2 == 0, rng() % 2 == 0,
                                         rng() % 2 == 0, static_cast<int>(rng() % 3) - 1, static_cast<int>(rng() % 3) - 1});
            s.frames.push_back(fr);
        }
        SCOPED_TRACE(round);
        ExpectFrames(s);
    }
}

TEST_F(Kind2, MethodOtherThanOneDrawsEmptyBlocks) {
    SisKind2Stream s;
    s.widthByte = s.heightByte = 8;
    s.method = 0;
    s.blocks = {Block2(1, 1, Pattern2(8, 8, 1))};
    s.frames = {{false, 1, {{1}}}};
    EXPECT_EQ(Decode(WriteSisKind2(s), 0, 16), std::vector<std::uint8_t>(16, 0));
}

TEST_F(Kind2, CachedBlocksMustFitThePool) {
    SisKind2Stream s;
    s.widthByte = s.heightByte = 128;
    for (std::uint32_t b = 0; b < 17; ++b) s.blocks.push_back(Block2(16, 16, Pattern2(128, 128, b, 50), true));
    s.frames = {{false, -1, {{1}}}, {}};
    for (std::uint32_t b = 1; b <= 17; ++b) s.frames[1].placements.push_back({b});
    const std::vector<std::uint8_t> stream = WriteSisKind2(s);
    EXPECT_FALSE(Decode(stream, 0, 4096).empty());
    EXPECT_TRUE(Decode(stream, 1, 4096).empty()) << "17 x 4096 bytes pass 65,536";
}

TEST_F(Kind2, BadTablesAndRequestsFail) {
    SisKind2Stream good;
    good.widthByte = 16;
    good.heightByte = 8;
    good.blocks = {Block2(1, 1, Pattern2(8, 8, 2))};
    good.frames = {{false, -1, {{1, 0, 4, 0}}}, {false, -1, {}}};
    const std::vector<std::uint8_t> stream = WriteSisKind2(good);
    ASSERT_FALSE(Decode(stream, 1, 32).empty());
    EXPECT_TRUE(Decode(stream, 2, 32).empty()) << "frame past the count";
    EXPECT_TRUE(Decode(stream, 0, 31).empty()) << "slot too small";
    EXPECT_TRUE(Decode(stream, -1, 63).empty()) << "two slots too small";
    for (std::size_t cut = 0; cut < stream.size(); ++cut) {
        Restart();
        EXPECT_EQ(decoder->PrepareKind2(stream.data(), cut), 0) << cut;
    }

    auto fails = [&](SisKind2Stream s, const char* what) {
        Restart();
        EXPECT_TRUE(Decode(WriteSisKind2(s), 0, 32).empty()) << what;
    };
    SisKind2Stream t = good;
    t.frames.assign(21, SisKind2Frame{});
    fails(std::exchange(t, good), "21 frames");
    t.blocks.assign(51, good.blocks[0]);
    fails(std::exchange(t, good), "51 blocks");
    t.frames[0].placements.assign(51, SisKind2Placement{});
    fails(std::exchange(t, good), "51 placements");
    t.frames[0].placements[0].block = 2;
    fails(t, "placement of a missing block");
    t.kindByte = 3;
    fails(t, "kind byte other than 2");
    t = good;
    t.blocks = {Derived(2), Derived(2)};
    fails(t, "derived chain without an end");
    t.blocks = {good.blocks[0], Derived(1, false, {{0, 1, Pattern2(16, 8, 1)}})};  // the base is one cell wide
    t.frames[0].placements[0].block = 2;
    fails(t, "region outside the block");
}

}  // namespace

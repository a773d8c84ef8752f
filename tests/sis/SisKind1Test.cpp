#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "handpix/handset/SisKind1.h"
#include "handpix/handset/SisKind1Writer.h"
#include "tests/support/SisReference.h"

namespace {

using namespace handpix;
using namespace handpix::test;

std::vector<std::uint8_t> Pattern(std::uint32_t w, std::uint32_t h, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> px(std::size_t{w} * h);
    // Runs of pixels so that run-length cells stay short and varied.
    std::uint8_t v = 0;
    for (auto& p : px) {
        if (rng() % 5 == 0) v ^= 1;
        p = v;
    }
    return px;
}

SisKind1Block Explicit(std::uint32_t across, std::uint32_t down, std::vector<std::uint8_t> px,
                       CellCoding coding = CellCoding::runLength) {
    return {false, across, down, std::move(px), std::vector<CellCoding>(across * down, coding), false, {}};
}

SisKind1Block Derived(std::vector<SisKind1Change> changes = {}) {
    return {true, 1, 1, {}, {}, !changes.empty(), std::move(changes)};
}

// An 8 x 8 frame of one block of one cell.
SisKind1Stream OneCell(const std::vector<std::uint8_t>& px, std::vector<SisKind1Placement> placements,
                       bool invert = false) {
    SisKind1Stream s;
    s.widthUnits = s.heightUnits = 1;
    s.blocks = {Explicit(1, 1, px)};
    s.frames = {{invert, std::move(placements)}};
    return s;
}

CellCoding AnyCoding(std::mt19937& rng) { return rng() % 2 ? CellCoding::raw : CellCoding::runLength; }

class Kind1 : public ::testing::Test {
protected:
    // Decodes frame f (or every frame) and returns the raw bytes; empty on failure.
    std::vector<std::uint8_t> Decode(const std::vector<std::uint8_t>& stream, int f, std::size_t slot) {
        std::vector<std::uint8_t> out(slot, 0xCD);
        if (decoder->DecodeKind1Frame(stream.data(), stream.size(), out.data(), out.size(), f) == 0) return {};
        return out;
    }
    void ExpectFrames(const SisKind1Stream& s) {
        const std::vector<std::uint8_t> stream = WriteSisKind1(s);
        const std::size_t slot = 64u * s.widthUnits * s.heightUnits / 8;
        std::vector<std::uint8_t> all;
        for (std::uint32_t f = 0; f < s.frames.size(); ++f) {
            const std::vector<std::uint8_t> expected = PackBits1(RenderSisKind1(s, f));
            EXPECT_EQ(Decode(stream, static_cast<int>(f), slot), expected) << "frame " << f;
            all.insert(all.end(), expected.begin(), expected.end());
        }
        EXPECT_EQ(Decode(stream, -1, slot * s.frames.size()), all);
    }
    std::unique_ptr<SisKind1Decoder> decoder = std::make_unique<SisKind1Decoder>();
};

TEST_F(Kind1, RunLengthCellFromItsBits) {
    // White 63 then black 1: colour bit 0, white code 63 "00110100", black 1 "010".
    const std::uint8_t data[] = {0b00011010, 0b00100000};
    MsbBitReader r(data, 2);
    std::uint8_t px[64];
    ASSERT_EQ(ReadSisKind1Cell(r, true, px), Status::ok);
    EXPECT_EQ(r.BitPosition(), 12u);
    std::vector<std::uint8_t> expected(64, 0);
    expected[63] = 1;
    EXPECT_EQ(std::vector<std::uint8_t>(px, px + 64), expected);

    // A black first run is read with the black codes: "1", black 2 "11", white 62 "00110011".
    const std::uint8_t black[] = {0b11100110, 0b01100000};
    MsbBitReader rb(black, 2);
    ASSERT_EQ(ReadSisKind1Cell(rb, true, px), Status::ok);
    EXPECT_EQ(px[0] + px[1], 2);
    EXPECT_EQ(px[2], 0);
}

TEST_F(Kind1, RunLengthCellRejections) {
    struct Case { const char* what; std::vector<std::uint8_t> bytes; Status status; };
    const Case cases[] = {
        // white 63 "00110100", black 2 "11": 65 pixels
        {"runs past 64", {0b00011010, 0b01100000}, Status::invalid},
        // white run 0 "00110101" is not accepted
        {"run zero", {0b00011010, 0b10000000}, Status::invalid},
        // twelve zeros start no terminating code
        {"no code", {0b00000000, 0b00000000}, Status::invalid},
        {"cut short", {0b00011010}, Status::truncated},
    };
    for (const Case& c : cases) {
        MsbBitReader r(c.bytes.data(), c.bytes.size());
        std::uint8_t px[64];
        EXPECT_EQ(ReadSisKind1Cell(r, true, px), c.status) << c.what;
    }
}

TEST_F(Kind1, LeftClippingDropsTheLeftmostColumns) {
    std::vector<std::uint8_t> px(64, 0);
    for (int y = 0; y < 8; ++y) px[y * 8 + 4] = px[y * 8 + 3] = 1;  // columns 3 and 4
    const SisKind1Stream s = OneCell(px, {{0, 0, -4, 0}});
    EXPECT_EQ(Decode(WriteSisKind1(s), 0, 8), std::vector<std::uint8_t>(8, 0x80));  // column 4 lands on 0
}

TEST_F(Kind1, DerivedBlocksCarryTheirChanges) {
    SisKind1Stream s;
    s.blocks = {Explicit(2, 2, Pattern(16, 16, 9)), Derived(),
                Derived({{3, Pattern(8, 8, 1), CellCoding::raw}, {0, Pattern(8, 8, 2)}}), Derived({{1, Pattern(8, 8, 4)}})};
    s.frames = {{false, {{1}}}, {false, {{2}}}, {false, {{3}}}, {false, {{0}}}};
    ExpectFrames(s);  // block 3 shows block 2's changes too
    const std::vector<std::uint8_t> stream = WriteSisKind1(s);
    EXPECT_EQ(Decode(stream, 0, 32), Decode(stream, 3, 32)) << "no change bit: exactly the base";
}

TEST_F(Kind1, UpperLayersCoverInsideTheirSilhouette) {
    std::vector<std::uint8_t> ring(64, 0);
    for (int i = 1; i < 7; ++i) ring[8 + i] = ring[48 + i] = ring[i * 8 + 1] = ring[i * 8 + 6] = 1;
    SisKind1Stream s;
    s.layerCount = 3;
    s.blocks = {Explicit(2, 2, std::vector<std::uint8_t>(256, 1), CellCoding::raw), Explicit(1, 1, ring)};
    s.frames = {{false, {{0, 0, 0, 0}, {1, 2, 3, 3}}}, {false, {{0, 1, 0, 0}, {1, 0, 3, 3}}}};
    ExpectFrames(s);
    const std::vector<std::uint8_t> out = Decode(WriteSisKind1(s), 0, 32);
    // Row 6 of the frame is ring row 3: the ring's inside clears the solid
    // block at frame columns 5 to 8; its sides (columns 4 and 9) stay set.
    EXPECT_EQ(std::vector<std::uint8_t>(out.begin() + 12, out.begin() + 14), (std::vector<std::uint8_t>{0b11111000, 0b01111111}));
}

TEST_F(Kind1, InvertRulesCancel) {
    std::vector<std::uint8_t> px(64, 0);
    px[0] = 1;
    for (int rule = 0; rule < 4; ++rule) {
        const bool all = rule & 1, frame = rule & 2;
        SisKind1Stream s = OneCell(px, {{0}}, frame);
        s.invertAll = all;
        const std::vector<std::uint8_t> out = Decode(WriteSisKind1(s), 0, 8);
        ASSERT_EQ(out.size(), 8u);
        EXPECT_EQ(out[0], all != frame ? 0x7F : 0x80) << all << frame;
    }
}

TEST_F(Kind1, RandomStreamsMatchTheReference) {
    std::mt19937 rng(77);
    for (int round = 0; round < 25; ++round) {
        SisKind1Stream s;
        s.widthUnits = 1 + rng() % 6;
        s.heightUnits = 1 + rng() % 6;
        s.layerCount = 1 + rng() % 3;
        s.cellNumberBits = 7;
        s.invertAll = rng() % 2;
        const std::uint32_t blocks = 1 + rng() % 5;
        for (std::uint32_t b = 0; b < blocks; ++b) {
            if (b > 0 && rng() % 3 == 0) {
                SisKind1Block d = Derived();
                d.change = rng() % 2;
                std::uint32_t root = b - 1;
                while (s.blocks[root].derived) --root;
                const std::uint32_t cells = s.blocks[root].across * s.blocks[root].down;
                for (int c = 0; d.change && c < 3; ++c)
                    d.changes.push_back({static_cast<std::uint32_t>(rng() % cells), Pattern(8, 8, rng()), AnyCoding(rng)});
                s.blocks.push_back(d);
                continue;
            }
            const std::uint32_t across = 1 + rng() % 4, down = 1 + rng() % 3;
            s.blocks.push_back(Explicit(across, down, Pattern(8 * across, 8 * down, rng())));
            for (auto& c : s.blocks.back().coding) c = AnyCoding(rng);
        }
        const std::uint32_t frames = 1 + rng() % 4;
        for (std::uint32_t f = 0; f < frames; ++f) {
            SisKind1Frame fr;
            fr.invert = rng() % 2;
            for (std::uint32_t b = 0; b < blocks; ++b) {
                if (rng() % 2) continue;
                fr.placements.push_back({b, static_cast<std::uint32_t>(rng() % s.layerCount),
                                         static_cast<int>(rng() % 60) - 20, static_cast<int>(rng() % 60) - 20,
                                         rng() % 2 == 0, rng() % 2 == 0, rng() % 2 == 0, static_cast<int>(rng() % 5) - 1});
            }
            s.frames.push_back(fr);
        }
        SCOPED_TRACE(round);
        ExpectFrames(s);
    }
}

TEST_F(Kind1, BadStreamsAndRequestsFail) {
    SisKind1Stream good;
    good.blocks = {Explicit(1, 1, Pattern(8, 8, 1)), Explicit(2, 1, Pattern(16, 8, 2))};
    good.frames = {{false, {{0}, {1, 0, 4, 4}}}, {false, {{1}}}};
    const std::vector<std::uint8_t> stream = WriteSisKind1(good);
    ASSERT_FALSE(Decode(stream, 1, 32).empty());
    EXPECT_TRUE(Decode(stream, 2, 32).empty()) << "frame past the count";
    EXPECT_TRUE(Decode(stream, -2, 32).empty());
    EXPECT_TRUE(Decode(stream, 0, 31).empty()) << "slot too small";
    EXPECT_TRUE(Decode(stream, -1, 63).empty()) << "two slots too small";
    std::uint8_t out[32];
    EXPECT_EQ(decoder->DecodeKind1Frame(stream.data(), stream.size(), nullptr, 32, 0), 0);
    for (std::size_t cut = 4; cut < stream.size(); ++cut)
        EXPECT_EQ(decoder->DecodeKind1Frame(stream.data(), cut, out, sizeof out, 0), 0) << cut;

    SisKind1Stream t = good;
    t.blocks.insert(t.blocks.begin(), Derived());
    EXPECT_TRUE(Decode(WriteSisKind1(t), 0, 32).empty()) << "first block derived";
    t.blocks = {Explicit(11, 12, Pattern(88, 96, 3))};
    t.frames = {{false, {{0}}}};
    EXPECT_TRUE(Decode(WriteSisKind1(t), 0, 32).empty()) << "132 cells";
    t.blocks = {Explicit(16, 8, Pattern(128, 64, 3))};
    EXPECT_FALSE(Decode(WriteSisKind1(t), 0, 32).empty()) << "128 cells";
    t.blocks = {Explicit(2, 1, Pattern(16, 8, 2)), Derived({{2, Pattern(8, 8, 1)}})};
    EXPECT_TRUE(Decode(WriteSisKind1(t), 0, 32).empty()) << "change outside the 2-cell base";
    // Header 64 bits, explicit block 9 + 1 map bit + 64 raw bits: the derived
    // record starts at bit 138; a set bit among its first nine is refused.
    t.blocks = {Explicit(1, 1, Pattern(8, 8, 1), CellCoding::raw), Derived()};
    std::vector<std::uint8_t> bad = WriteSisKind1(t);
    ASSERT_FALSE(Decode(bad, 0, 32).empty());
    bad[(138 + 6) / 8] ^= static_cast<std::uint8_t>(0x80u >> ((138 + 6) % 8));
    EXPECT_TRUE(Decode(bad, 0, 32).empty()) << "derived block without nine zero bits";
}

}  // namespace

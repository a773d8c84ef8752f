#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "handpix/handset/SisKind1.h"
#include "tests/support/SisKind1Writer.h"

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
    SisKind1Block b;
    b.across = across;
    b.down = down;
    b.pixels = std::move(px);
    b.coding.assign(across * down, coding);
    return b;
}

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

TEST_F(Kind1, CellCodingsPutPixelsInZigzagOrder) {
    // Coded pixel 63 is row 7 column 7; coded pixel 2 is row 1 column 0.
    for (CellCoding coding : {CellCoding::raw, CellCoding::runLength}) {
        std::vector<std::uint8_t> px(64, 0);
        px[63] = 1;
        px[8] = 1;
        SisKind1Stream s;
        s.widthUnits = 1;
        s.heightUnits = 1;
        s.blocks = {Explicit(1, 1, px, coding)};
        s.frames = {{false, {{0}}}};
        const std::vector<std::uint8_t> out = Decode(WriteSisKind1(s), 0, 8);
        EXPECT_EQ(out, (std::vector<std::uint8_t>{0, 0x80, 0, 0, 0, 0, 0, 0x01}));
    }
}

TEST_F(Kind1, RunLengthCellFromItsBits) {
    // White 63 then black 1: colour bit 0, white code 63 "00110100", black 1 "010".
    const std::vector<std::uint8_t> bits = {0, 0, 0, 1, 1, 0, 1, 0, 0, 0, 1, 0};
    std::uint8_t data[2] = {};
    for (std::size_t i = 0; i < bits.size(); ++i) data[i / 8] |= static_cast<std::uint8_t>(bits[i] << (7 - i % 8));
    MsbBitReader r(data, 2);
    std::uint8_t px[64];
    ASSERT_EQ(ReadSisKind1Cell(r, true, px), Status::ok);
    EXPECT_EQ(r.BitPosition(), 12u);
    for (unsigned i = 0; i < 63; ++i) EXPECT_EQ(px[i], 0);
    EXPECT_EQ(px[63], 1);

    // A black first run is read with the black codes: "1", black 2 "11", white 62 "00110011".
    const std::uint8_t black[] = {0b11100110, 0b01100000};
    MsbBitReader rb(black, 2);
    ASSERT_EQ(ReadSisKind1Cell(rb, true, px), Status::ok);
    EXPECT_EQ(px[0] + px[1], 2);
    EXPECT_EQ(px[2], 0);
}

TEST_F(Kind1, RunLengthCellRejections) {
    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;
        Status status;
    };
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

TEST_F(Kind1, PlacementsTransformsAndClipping) {
    const std::vector<std::uint8_t> px = Pattern(16, 8, 3);
    for (int t = 0; t < 8; ++t) {
        for (int x : {-4, 0, 5, 20}) {
            SisKind1Stream s;
            s.widthUnits = 3;
            s.heightUnits = 2;
            s.blocks = {Explicit(2, 1, px)};
            SisKind1Placement p{0, 0, x, 3, (t & 1) != 0, (t & 2) != 0, (t & 4) != 0};
            s.frames = {{false, {p}}};
            SCOPED_TRACE(testing::Message() << "transform " << t << " x " << x);
            ExpectFrames(s);
        }
    }
}

TEST_F(Kind1, LeftClippingDropsTheLeftmostColumns) {
    SisKind1Stream s;
    s.widthUnits = 1;
    s.heightUnits = 1;
    std::vector<std::uint8_t> px(64, 0);
    for (int y = 0; y < 8; ++y) px[y * 8 + 4] = 1, px[y * 8 + 3] = 1;  // columns 3 and 4
    s.blocks = {Explicit(1, 1, px, CellCoding::raw)};
    s.frames = {{false, {{0, 0, -4, 0}}}};
    const std::vector<std::uint8_t> out = Decode(WriteSisKind1(s), 0, 8);
    EXPECT_EQ(out, std::vector<std::uint8_t>(8, 0x80));  // column 4 lands on column 0
}

TEST_F(Kind1, DerivedBlocksCarryTheirChanges) {
    const std::vector<std::uint8_t> base = Pattern(16, 16, 9);
    SisKind1Block unchanged;
    unchanged.derived = true;
    SisKind1Block changed;
    changed.derived = true;
    changed.change = true;
    changed.changes = {{3, Pattern(8, 8, 1), CellCoding::raw}, {0, Pattern(8, 8, 2)}};
    SisKind1Block later;
    later.derived = true;
    later.change = true;
    later.changes = {{1, Pattern(8, 8, 4)}};
    SisKind1Stream s;
    s.blocks = {Explicit(2, 2, base), unchanged, changed, later};
    s.frames = {{false, {{1}}}, {false, {{2}}}, {false, {{3}}}, {false, {{0}}}};
    ExpectFrames(s);
    // The unchanged derived block shows exactly its base.
    const std::vector<std::uint8_t> stream = WriteSisKind1(s);
    EXPECT_EQ(Decode(stream, 0, 32), Decode(stream, 3, 32));
}

TEST_F(Kind1, UpperLayersCoverInsideTheirSilhouette) {
    std::vector<std::uint8_t> ring(64, 0);
    for (int i = 1; i < 7; ++i) ring[8 + i] = ring[48 + i] = ring[i * 8 + 1] = ring[i * 8 + 6] = 1;
    SisKind1Stream s;
    s.widthUnits = 2;
    s.heightUnits = 2;
    s.layerCount = 3;
    s.blocks = {Explicit(2, 2, std::vector<std::uint8_t>(256, 1), CellCoding::raw), Explicit(1, 1, ring)};
    s.frames = {{false, {{0, 0, 0, 0}, {1, 2, 3, 3}}}, {false, {{0, 1, 0, 0}, {1, 0, 3, 3}}}};
    ExpectFrames(s);
    const std::vector<std::uint8_t> out = Decode(WriteSisKind1(s), 0, 32);
    // Row 6 of the frame is ring row 3: the ring's inside clears the solid
    // block at frame columns 5 to 8; its sides (columns 4 and 9) stay set.
    EXPECT_EQ(out[6 * 2], 0b11111000);
    EXPECT_EQ(out[6 * 2 + 1], 0b01111111);
}

TEST_F(Kind1, OneLayerReadsNoLayerBits) {
    SisKind1Stream s;
    s.blocks = {Explicit(1, 1, Pattern(8, 8, 5)), Explicit(1, 1, Pattern(8, 8, 6))};
    SisKind1Placement a{0, 5, 1, 2}, b{1, 3, 8, 8, true};
    s.frames = {{false, {a, b}}, {false, {b}}};
    const std::vector<std::uint8_t> one = WriteSisKind1(s);
    s.layerCount = 2;
    const std::vector<std::uint8_t> two = WriteSisKind1(s);
    EXPECT_EQ(two.size() * 8 - one.size() * 8 >= 6, true);  // three bits per placement
    s.layerCount = 1;
    ExpectFrames(s);  // the renderer puts every block on layer 0
}

TEST_F(Kind1, InvertRulesCancel) {
    for (bool all : {false, true}) {
        for (bool frame : {false, true}) {
            SisKind1Stream s;
            s.widthUnits = 1;
            s.heightUnits = 1;
            s.invertAll = all;
            std::vector<std::uint8_t> px(64, 0);
            px[0] = 1;
            s.blocks = {Explicit(1, 1, px)};
            s.frames = {{frame, {{0}}}};
            const std::vector<std::uint8_t> out = Decode(WriteSisKind1(s), 0, 8);
            ASSERT_EQ(out.size(), 8u);
            EXPECT_EQ(out[0], all != frame ? 0x7F : 0x80) << all << frame;
        }
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
                SisKind1Block d;
                d.derived = true;
                d.change = rng() % 2;
                std::uint32_t root = b - 1;
                while (s.blocks[root].derived) --root;
                const std::uint32_t cells = s.blocks[root].across * s.blocks[root].down;
                for (int c = 0; d.change && c < 3; ++c)
                    d.changes.push_back({static_cast<std::uint32_t>(rng() % cells), Pattern(8, 8, rng()),
                                         rng() % 2 ? CellCoding::raw : CellCoding::runLength});
                s.blocks.push_back(d);
                continue;
            }
            const std::uint32_t across = 1 + rng() % 4, down = 1 + rng() % 3;
            SisKind1Block e = Explicit(across, down, Pattern(8 * across, 8 * down, rng()));
            for (auto& c : e.coding) c = rng() % 2 ? CellCoding::raw : CellCoding::runLength;
            s.blocks.push_back(e);
        }
        const std::uint32_t frames = 1 + rng() % 4;
        for (std::uint32_t f = 0; f < frames; ++f) {
            SisKind1Frame fr;
            fr.invert = rng() % 2;
            for (std::uint32_t b = 0; b < blocks; ++b) {
                if (rng() % 2) continue;
                SisKind1Placement p{b, static_cast<std::uint32_t>(rng() % s.layerCount),
                                    static_cast<int>(rng() % 60) - 20, static_cast<int>(rng() % 60) - 20,
                                    rng() % 2 == 0, rng() % 2 == 0, rng() % 2 == 0,
                                    static_cast<int>(rng() % 5) - 1};
                fr.placements.push_back(p);
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
    for (std::size_t cut = 4; cut < stream.size(); ++cut) {
        EXPECT_EQ(decoder->DecodeKind1Frame(stream.data(), cut, out, sizeof out, 0), 0) << cut;
    }

    SisKind1Block derived;
    derived.derived = true;
    SisKind1Stream firstDerived = good;
    firstDerived.blocks.insert(firstDerived.blocks.begin(), derived);
    EXPECT_TRUE(Decode(WriteSisKind1(firstDerived), 0, 32).empty()) << "first block derived";

    SisKind1Stream big = good;
    big.blocks = {Explicit(11, 12, Pattern(88, 96, 3))};  // 132 cells
    big.frames = {{false, {{0}}}};
    EXPECT_TRUE(Decode(WriteSisKind1(big), 0, 32).empty()) << "more than 128 cells";
    big.blocks = {Explicit(16, 8, Pattern(128, 64, 3))};  // 128 cells
    EXPECT_FALSE(Decode(WriteSisKind1(big), 0, 32).empty());

    SisKind1Stream farCell = good;
    SisKind1Block change;
    change.derived = true;
    change.change = true;
    change.changes = {{2, Pattern(8, 8, 1)}};  // the base has 2 cells
    farCell.blocks = {Explicit(2, 1, Pattern(16, 8, 2)), change};
    EXPECT_TRUE(Decode(WriteSisKind1(farCell), 0, 32).empty()) << "change outside the block";
}

TEST_F(Kind1, DerivedBlockNeedsNineZeroBits) {
    SisKind1Stream s;
    SisKind1Block d;
    d.derived = true;
    s.blocks = {Explicit(1, 1, Pattern(8, 8, 1), CellCoding::raw), d};
    s.frames = {{false, {{1}}}};
    const std::vector<std::uint8_t> stream = WriteSisKind1(s);
    ASSERT_FALSE(Decode(stream, 0, 32).empty());
    // Header 64 bits, explicit block 5 + 4 + 1 map bit + 64 raw bits: the
    // derived record starts at bit 138. Its bits 5 to 8 must be zero too.
    for (std::size_t bit = 138 + 5; bit < 138 + 9; ++bit) {
        std::vector<std::uint8_t> t = stream;
        t[bit / 8] ^= static_cast<std::uint8_t>(0x80u >> (bit % 8));
        EXPECT_TRUE(Decode(t, 0, 32).empty()) << bit;
    }
}

}  // namespace

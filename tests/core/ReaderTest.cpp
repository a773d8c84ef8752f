#include <gtest/gtest.h>

#include "handpix/platform/core/BitReader.h"
#include "handpix/platform/core/ByteReader.h"
#include "handpix/platform/core/Zigzag.h"

using handpix::ByteReader;

TEST(ByteReader, FailsAtTheEndAndStaysFailed) {
    const std::uint8_t data[] = {0x34, 0x12, 0x78};
    ByteReader r(data, sizeof data);
    std::uint16_t v = 0;
    ASSERT_TRUE(r.U16LE(v));
    EXPECT_EQ(v, 0x1234);
    EXPECT_FALSE(r.U16LE(v));
    EXPECT_TRUE(r.Failed());
    std::uint8_t b;
    EXPECT_FALSE(r.U8(b));  // failure is sticky even though one byte remains
    EXPECT_FALSE(ByteReader(nullptr, 100).Has(1));
}

TEST(ByteReader, SkipAndSeekAreBounded) {
    std::uint8_t data[8] = {};
    ByteReader r(data, sizeof data);
    EXPECT_TRUE(r.Skip(8));
    EXPECT_FALSE(r.Skip(1));
    ByteReader s(data, sizeof data);
    EXPECT_FALSE(s.Seek(9));
    EXPECT_EQ(ByteReader(data, 8).Take(9), nullptr);
}

TEST(BitReader, MsbAndLsbOrders) {
    const std::uint8_t data[] = {0b10110010, 0b01000001};
    handpix::MsbBitReader m(data, 2);
    std::uint32_t v;
    ASSERT_TRUE(m.Read(3, v));
    EXPECT_EQ(v, 0b101u);
    ASSERT_TRUE(m.Read(9, v));
    EXPECT_EQ(v, 0b100100100u);
    EXPECT_FALSE(m.Read(5, v));
    handpix::LsbBitReader l(data, 2);
    ASSERT_TRUE(l.Read(3, v));
    EXPECT_EQ(v, 0b010u);
    ASSERT_TRUE(l.Read(9, v));
    EXPECT_EQ(v, 0b000110110u);
}

// The zig-zag order derived a second way: walk the anti-diagonals.
TEST(Zigzag, MatchesTheDiagonalWalk) {
    int k = 0;
    for (int s = 0; s < 15; ++s) {
        for (int i = 0; i <= s; ++i) {
            int row = (s % 2 == 0) ? s - i : i;
            int col = s - row;
            if (row > 7 || col > 7) continue;
            EXPECT_EQ(handpix::kZigzag[k], row * 8 + col) << "k=" << k;
            ++k;
        }
    }
    EXPECT_EQ(k, 64);
}

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "handpix/imagefiles/DibRows.h"
#include "handpix/imagefiles/GraphicFileLoad.h"

TEST(DibRows, FlipExchangesOuterRowsAndKeepsTheMiddle) {
    struct Case {
        int height;
        std::vector<int> expected;
    };
    for (const Case& c : {Case{3, {2, 1, 0}}, Case{2, {1, 0}}, Case{1, {0}}, Case{4, {3, 2, 1, 0}}}) {
        std::vector<unsigned char> rows;
        for (int r = 0; r < c.height; ++r) rows.insert(rows.end(), 5, static_cast<unsigned char>(r));
        ASSERT_EQ(FlipRows(rows.data(), 5, c.height), 1);
        for (int r = 0; r < c.height; ++r) EXPECT_EQ(rows[5 * r + 4], c.expected[r]) << "height " << c.height;
    }
    EXPECT_EQ(FlipRows(nullptr, 5, 3), 0);
    unsigned char one = 7;
    EXPECT_EQ(FlipRows(&one, 1, 0), 1);
    EXPECT_EQ(FlipRows(&one, 1, -1), 1);
}

TEST(DibRows, PackPadsEachRowToFourBytes) {
    struct Case {
        unsigned width;
        int stride;
    };
    // 180 million pixels a row once wrapped 32-bit arithmetic to a 25 MB stride.
    EXPECT_EQ(handpix::DibStride(180'000'000), 540'000'000u);
    for (Case c : {Case{1, 4}, Case{3, 12}, Case{4, 12}, Case{5, 16}}) {
        std::vector<unsigned char> packed(c.width * 3 * 2);
        std::iota(packed.begin(), packed.end(), 1);
        int stride = -1;
        unsigned char* dib = PackDibRows(packed.data(), c.width, 2, &stride);
        ASSERT_NE(dib, nullptr);
        EXPECT_EQ(stride, c.stride);
        EXPECT_EQ(dib[stride], packed[c.width * 3]);  // row 1 starts at the stride
        delete[] dib;
    }
    int stride = 99;
    EXPECT_EQ(PackDibRows(nullptr, 3, 2, &stride), nullptr);
    // A stride past an int is refused before the rows are touched.
    unsigned char row[3] = {};
    EXPECT_EQ(PackDibRows(row, 800'000'000u, 1, &stride), nullptr);
    EXPECT_EQ(stride, 99);
}

TEST(DibRows, SwapRedBlueExchangesFirstAndThirdBytes) {
    unsigned char px[] = {1, 2, 3, 4, 5, 6};
    ASSERT_EQ(SwapRedBlue(px, 2, 1), 1);
    EXPECT_EQ(std::vector<unsigned char>(px, px + 6), (std::vector<unsigned char>{3, 2, 1, 6, 5, 4}));
    EXPECT_EQ(SwapRedBlue(nullptr, 2, 1), 0);
}

TEST(DibRows, Bgra2BgrDropsAlphaAndPadsOnRequest) {
    CGraphicFileLoad g;
    std::vector<unsigned char> src(5 * 2 * 4);
    std::iota(src.begin(), src.end(), 0);
    std::vector<unsigned char> padded(16 * 2, 0xAA), packed(15 * 2, 0xAA);
    g.BGRA2BGR(padded.data(), 5, 2, src.data(), 1);
    g.BGRA2BGR(packed.data(), 5, 2, src.data(), 0);
    EXPECT_EQ(padded[15], 0xAA);  // the one pad byte after a 15-byte row is skipped
    EXPECT_EQ(padded[16], src[20]);
    EXPECT_EQ(packed[15], src[20]);
    EXPECT_EQ(padded[3], src[4]);  // byte 3 of the source (alpha) is skipped
}

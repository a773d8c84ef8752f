#include <gtest/gtest.h>

#include <vector>

#include "handpix/platform/ipl/Ipl.h"

namespace {
IplImage* Header(int w, int h) {
    return iplCreateImageHeader(3, 0, IPL_DEPTH_8U, "RGB", "BGR", IPL_DATA_ORDER_PIXEL, IPL_ORIGIN_TL,
                                IPL_ALIGN_4BYTES, w, h, nullptr, nullptr, nullptr, nullptr);
}
// A source and a destination header over buffers filled with the given bytes.
struct Pair {
    IplImage *s, *d;
    std::vector<char> sp, dp;
    Pair(int sw, int sh, char sv, int dw, int dh, char dv) : s(Header(sw, sh)), d(Header(dw, dh)) {
        sp.assign(static_cast<size_t>(s->imageSize), sv);
        dp.assign(static_cast<size_t>(d->imageSize), dv);
        s->imageData = s->imageDataOrigin = sp.data();
        d->imageData = d->imageDataOrigin = dp.data();
    }
    ~Pair() {
        iplDeallocate(s, IPL_IMAGE_HEADER);
        iplDeallocate(d, IPL_IMAGE_HEADER);
    }
};
}  // namespace

TEST(Ipl, HeaderDescribesPaddedBgrRows) {
    IplImage* im = Header(5, 3);
    ASSERT_NE(im, nullptr);
    EXPECT_EQ(im->widthStep, 16);  // 15 bytes of pixels, padded to 4
    EXPECT_EQ(im->imageSize, 48);
    EXPECT_STREQ(im->channelSeq, "BGR");
    EXPECT_EQ(im->imageData, nullptr);
    iplDeallocate(im, IPL_IMAGE_HEADER);
    EXPECT_EQ(Header(0, 3), nullptr);
}

TEST(Ipl, ResizeShrinksBetweenPaddedBuffers) {
    Pair p(6, 4, 0, 3, 2, 0x55);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 18; ++x) p.sp[static_cast<size_t>(y * 20 + x)] = static_cast<char>(y < 2 ? 10 : 30);
    iplResize(p.s, p.d, 3, 6, 2, 4, IPL_INTER_SUPER);
    for (int x = 0; x < 9; ++x) {
        EXPECT_EQ(p.dp[static_cast<size_t>(x)], 10);
        EXPECT_EQ(p.dp[static_cast<size_t>(12 + x)], 30);
    }
    EXPECT_EQ(p.dp[9], 0x55);  // row padding untouched
}

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "handpix/platform/core/MessageBox.h"
#include "handpix/platform/ipl/Ipl.h"

namespace {
IplImage* Header(int w, int h) {
    return iplCreateImageHeader(3, 0, IPL_DEPTH_8U, "RGB", "BGR", IPL_DATA_ORDER_PIXEL, IPL_ORIGIN_TL,
                                IPL_ALIGN_4BYTES, w, h, nullptr, nullptr, nullptr, nullptr);
}

struct Recorder {
    std::vector<std::string> texts;
    handpix::MessageBoxHandler previous;
    Recorder() {
        previous = handpix::SetMessageBoxHandler([this](const char* text, const char*, UINT) {
            texts.emplace_back(text);
            return IDOK;
        });
    }
    ~Recorder() { handpix::SetMessageBoxHandler(previous); }
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
    IplImage* s = Header(6, 4);
    IplImage* d = Header(3, 2);
    std::vector<char> sp(static_cast<size_t>(s->imageSize)), dp(static_cast<size_t>(d->imageSize), 0x55);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 18; ++x) sp[static_cast<size_t>(y * 20 + x)] = static_cast<char>(y < 2 ? 10 : 30);
    s->imageData = s->imageDataOrigin = sp.data();
    d->imageData = d->imageDataOrigin = dp.data();
    iplResize(s, d, 3, 6, 2, 4, IPL_INTER_SUPER);
    for (int x = 0; x < 9; ++x) {
        EXPECT_EQ(dp[static_cast<size_t>(x)], 10);
        EXPECT_EQ(dp[static_cast<size_t>(12 + x)], 30);
    }
    EXPECT_EQ(dp[9], 0x55);  // row padding untouched
    iplDeallocate(s, IPL_IMAGE_HEADER);
    iplDeallocate(d, IPL_IMAGE_HEADER);
}

TEST(Ipl, EnlargementIsReportedAndWritesNothing) {
    Recorder rec;
    IplImage* s = Header(50, 40);
    IplImage* d = Header(100, 75);
    std::vector<char> sp(static_cast<size_t>(s->imageSize), 1), dp(static_cast<size_t>(d->imageSize), -1);
    s->imageData = sp.data();
    d->imageData = dp.data();
    iplResize(s, d, 100, 50, 75, 40, IPL_INTER_SUPER);
    ASSERT_EQ(rec.texts.size(), 1u);
    EXPECT_EQ(rec.texts[0], "(xDst > xSrc || yDst > ySrc)");
    EXPECT_EQ(dp, std::vector<char>(dp.size(), -1));
    iplDeallocate(s, IPL_IMAGE_HEADER);
    iplDeallocate(d, IPL_IMAGE_HEADER);
}

// CJpeg::SaveJPG: the file layout byte by byte, the coefficients written
// against the plain arithmetic, and files that libjpeg-turbo reads cleanly.
#include <gtest/gtest.h>

#include <random>

#include <jpeglib.h>

#include "handpix/jpegcodec/Jpeg.h"
#include "handpix/platform/core/Zigzag.h"
#include "tests/jpegcodec/JpegReference.h"
#include "tests/jpegcodec/JpegTestUtil.h"
#include "tests/support/JpegSegments.h"

using namespace jpegtest;

namespace {

Picture Noise(int w, int h, unsigned seed) {
    Picture p{w, h, 3, std::vector<std::uint8_t>(static_cast<std::size_t>(w) * h * 3)};
    std::mt19937 rng(seed);
    for (auto& v : p.px) v = static_cast<std::uint8_t>(rng());
    return p;
}

TEST(JpegEncode, HeadersFollowTheFixedLayout) {
    // Second source for the tables: libjpeg-turbo at quality 50 writes T.81
    // K.1/K.2 unscaled and the four Annex K Huffman tables.
    const Bytes peer = PeerEncode(PhotoLike(16, 16, 1), EncodeOptions{50, 1, 1, 0, false, false});
    const SplitFile ps = Split(peer);
    Bytes quant[2], dht;
    for (const Segment& s : ps.segments) {
        if (s.marker == 0xDB) quant[s.payload[0] & 15] = s.payload;
        if (s.marker == 0xC4) dht.insert(dht.end(), s.payload.begin(), s.payload.end());
    }
    ASSERT_EQ(dht.size(), 416u);
    // Our luminance table differs from K.1 in three entries (natural order).
    for (auto [natural, value] : {std::pair{15, 66}, {23, 57}, {41, 36}}) {
        const int k = static_cast<int>(std::find(handpix::kZigzag, handpix::kZigzag + 64, natural) - handpix::kZigzag);
        quant[0][1 + k] = static_cast<std::uint8_t>(value);
    }
    Bytes want = {0xFF, 0xD8};
    for (const Bytes& q : quant) {
        want.insert(want.end(), {0xFF, 0xDB, 0, 67});
        want.insert(want.end(), q.begin(), q.end());
    }
    want.insert(want.end(), {0xFF, 0xC4, 0x01, 0xA2});
    want.insert(want.end(), dht.begin(), dht.end());
    want.insert(want.end(), {0xFF, 0xC0, 0, 17, 8, 0x01, 0x2C, 0x00, 0x11, 3, 1, 0x11, 0, 2, 0x11, 1, 3, 0x11, 1});
    want.insert(want.end(), {0xFF, 0xDA, 0, 12, 3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0});
    ASSERT_EQ(want.size(), 593u);

    const Bytes ours = Save(PhotoLike(17, 300, 2));
    ASSERT_GT(ours.size(), 595u);
    EXPECT_TRUE(std::equal(want.begin(), want.end(), ours.begin()));
    EXPECT_EQ(Bytes(ours.end() - 2, ours.end()), (Bytes{0xFF, 0xD9}));
}

TEST(JpegEncode, FlatGreyBlockIsDcCodesAndEobsPaddedWithZeroBits) {
    // Y, Cb and Cr quantize to 0: 00 1010 | 00 00 | 00 00, then two 0 bits.
    const Bytes f = Save(Picture{8, 8, 3, std::vector<std::uint8_t>(8 * 8 * 3, 128)});
    ASSERT_EQ(f.size(), 597u);
    EXPECT_EQ(Bytes(f.begin() + 593, f.begin() + 595), (Bytes{0x28, 0x00}));
}

struct EncodeCase {
    const char* name;
    int width, height;
    bool noise, psnr;  // psnr: padding with mid-grey rings at partial blocks, so whole blocks only
};

class EncodedFiles : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(EncodedFiles, HoldThePlainArithmeticsCoefficientsAndReadCleanly) {
    const EncodeCase& c = GetParam();
    const Picture p = c.noise ? Noise(c.width, c.height, 4) : PhotoLike(c.width, c.height, 4);
    const Bytes f = Save(p);
    EXPECT_EQ(Save(p), f);  // deterministic to the byte

    Coefficients coef;
    ASSERT_TRUE(PeerCoefficients(f, coef));
    const std::vector<std::uint8_t> dib = DibRows(p);
    const auto want = jpegref::EncodedCoefficients(dib.data(), c.width, c.height);
    ASSERT_EQ(coef.comps.size(), 3u);
    for (int k = 0; k < 3; ++k) ASSERT_EQ(coef.comps[k].coef, want[k]) << "component " << k;

    // Entropy bytes: every FF is stuffed.
    const SplitFile s = Split(f);
    for (std::size_t i = 0; i + 2 < s.entropy.size(); ++i)
        if (s.entropy[i] == 0xFF) {
            ASSERT_EQ(s.entropy[++i], 0x00);
        }

    Picture back;
    int warnings = -1;
    ASSERT_TRUE(PeerDecode(f, back, &warnings));
    EXPECT_EQ(warnings, 0);
    EXPECT_EQ(std::pair(back.width, back.height), std::pair(c.width, c.height));
    if (c.psnr) { EXPECT_GE(Psnr(back.px, p.px), 35.0); }
}

INSTANTIATE_TEST_SUITE_P(Pictures, EncodedFiles,
                         ::testing::Values(EncodeCase{"one", 1, 1, false, false}, EncodeCase{"w17", 17, 9, false, false},
                                           EncodeCase{"photo", 160, 120, false, false},
                                           EncodeCase{"large", 640, 480, false, true},
                                           EncodeCase{"odd", 123, 77, false, false},
                                           EncodeCase{"noise", 64, 40, true, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(JpegEncode, RefusesSizesTheFrameCannotHoldAndUnwritablePaths) {
    std::vector<std::uint8_t> px(3 * 16, 0);
    CJpeg j;
    const std::string path = TempPath("refuse.jpg");
    for (auto [w, h] : {std::pair{0, 1}, {1, 0}, {65536, 1}, {1, 65536}, {-3, 4}})
        EXPECT_EQ(j.SaveJPG(const_cast<char*>(path.c_str()), w, h, px.data()), 0) << w << "x" << h;
    char bad[] = "/nonexistent-dir/x.jpg";
    EXPECT_EQ(j.SaveJPG(bad, 4, 4, px.data()), 0);
}

}  // namespace

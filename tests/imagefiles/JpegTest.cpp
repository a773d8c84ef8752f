#include <cstdio>
#include <random>
#include <vector>

#include "handpix/imagefiles/GraphicFileLoad.h"
#include "handpix/imagefiles/JpegReader.h"
#include "tests/imagefiles/Fixture.h"
#include "tests/support/BmpWriter.h"
#include "tests/support/JpegPeer.h"

namespace {
// Writes a JPEG with libjpeg-turbo; comps 1 (grey), 3 (RGB) or 4 (CMYK made from RGB noise).
void WriteJpeg(const std::string& path, int w, int h, int comps, const std::vector<std::uint8_t>& px) {
    jpegtest::EncodeOptions o;
    o.quality = 95;
    o.h0 = o.v0 = comps == 1 ? 1 : 2;
    o.cmyk = comps == 4;
    jpegtest::Picture p{w, h, comps == 4 ? 3 : comps, px};
    ASSERT_TRUE(handpix::test::WriteBytes(path, jpegtest::PeerEncode(p, o)));
}

std::vector<std::uint8_t> Noise(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> v(n);
    for (auto& b : v) b = static_cast<std::uint8_t>(rng());
    return v;
}
}  // namespace

TEST_F(ImageFilesTest, JpegDibMatchesThePackedReaderExactly) {
    for (int comps : {1, 3, 4}) {
        const int w = 37, h = 21;
        std::string p = Path("j" + std::to_string(comps) + ".jpg");
        WriteJpeg(p, w, h, comps, Noise(static_cast<std::size_t>(w * h * (comps == 4 ? 3 : comps)), comps));
        int pw = 0, ph = 0;
        unsigned char* packed = handpix::ReadJpegFile(p.c_str(), &pw, &ph);
        ASSERT_NE(packed, nullptr);
        CGraphicFileLoad g;
        ASSERT_EQ(g.LoadGraphicFile(p.c_str()), 0);
        ASSERT_EQ(g.m_nStride, 112);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const unsigned char* d = g.m_pDib + g.m_nStride * (h - 1 - y) + 3 * x;
                const unsigned char* s = packed + 3 * (y * w + x);
                ASSERT_EQ(d[0], s[2]);
                ASSERT_EQ(d[1], s[1]);
                ASSERT_EQ(d[2], s[0]);
                if (comps == 1) {
                    ASSERT_TRUE(d[0] == d[1] && d[1] == d[2]);
                }
            }
        delete[] packed;
    }
    EXPECT_TRUE(m_messages.empty());
}

TEST_F(ImageFilesTest, JpegOfWidthThreeHasStrideTwelve) {
    WriteJpeg(Path("n.jpg"), 3, 2, 3, Noise(18, 9));
    CGraphicFileLoad g;
    ASSERT_EQ(g.LoadGraphicFile(Path("n.jpg").c_str()), 0);
    EXPECT_EQ(g.m_nStride, 12);
}

TEST_F(ImageFilesTest, JpegFailuresShowTheirMessages) {
    handpix::test::WriteBytes(Path("fake.jpg"), {'B', 'M', 1, 2, 3, 4, 5, 6});
    CGraphicFileLoad g;
    EXPECT_EQ(g.LoadGraphicFile(Path("fake.jpg").c_str()), 1);
    EXPECT_EQ(g.m_pDib, nullptr);
    EXPECT_EQ(g.m_nWidth, 0);  // failed before decompression started
    EXPECT_EQ(g.LoadGraphicFile(Path("missing.jpg").c_str()), 1);
    ASSERT_EQ(m_messages.size(), 2u);
    EXPECT_EQ(m_messages[0], "JPEG 파일을 읽어들일 때 에러가 발생하였습니다.");
    EXPECT_EQ(m_messages[1], Path("missing.jpg") + " 파일을 열 수 없습니다.\n");
}

TEST_F(ImageFilesTest, TruncatedJpegStillDecodesItsRowsSilentlyFromMemory) {
    WriteJpeg(Path("t.jpg"), 64, 64, 3, Noise(64 * 64 * 3, 4));
    std::FILE* f = std::fopen(Path("t.jpg").c_str(), "rb");
    std::vector<std::uint8_t> bytes(1 << 16);
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), f));
    std::fclose(f);
    int w = 0, h = 0;
    unsigned char* whole = handpix::ReadJpegMemory(bytes.data(), bytes.size(), &w, &h);
    ASSERT_NE(whole, nullptr);
    EXPECT_EQ(w, 64);
    delete[] whole;
    EXPECT_EQ(handpix::ReadJpegMemory(bytes.data(), 10, &w, &h), nullptr);
    EXPECT_TRUE(m_messages.empty());
}

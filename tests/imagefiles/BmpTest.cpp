#include <cstring>
#include <random>
#include <tuple>

#include "handpix/imagefiles/BmpReader.h"
#include "handpix/imagefiles/DibRows.h"
#include "handpix/imagefiles/GraphicFileLoad.h"
#include "tests/imagefiles/Fixture.h"
#include "tests/support/BmpWriter.h"

using handpix::test::BmpSpec;
using handpix::test::MakeBmp;
using handpix::test::WriteBytes;

namespace {

// The colour a BMP pixel must come back as.
handpix::test::Bgr Expected(const BmpSpec& s, std::uint32_t v) {
    if (s.bits <= 8) return v < s.palette.size() ? s.palette[v] : handpix::test::Bgr{0, 0, 0};
    std::uint8_t r = (v >> 16) & 0xFF, g = (v >> 8) & 0xFF, b = v & 0xFF;
    if (s.bits == 16) {
        auto five = [](std::uint8_t c) { return static_cast<std::uint8_t>((c & 0xF8) | (c >> 5)); };
        return {five(b), five(g), five(r)};
    }
    return {b, g, r};
}

BmpSpec RandomBmp(int bits, int width, int height, unsigned seed) {
    std::mt19937 rng(seed);
    BmpSpec s;
    s.width = width;
    s.height = height;
    s.bits = bits;
    if (bits <= 8)
        for (int i = 0; i < (1 << bits); ++i)
            s.palette.push_back({static_cast<std::uint8_t>(rng()), static_cast<std::uint8_t>(rng()),
                                 static_cast<std::uint8_t>(rng())});
    int n = width * std::abs(height);
    for (int i = 0; i < n; ++i) s.pixels.push_back(bits <= 8 ? rng() % (1u << bits) : rng() & 0xFFFFFF);
    return s;
}

class BmpDepths : public ImageFilesTest,
                  public ::testing::WithParamInterface<std::tuple<int, int, bool>> {};

}  // namespace

TEST_P(BmpDepths, EveryPixelLandsInTheBottomUpDib) {
    auto [bits, width, topDown] = GetParam();
    const int height = 3;
    BmpSpec s = RandomBmp(bits, width, topDown ? -height : height, bits * 100 + width);
    ASSERT_TRUE(WriteBytes(Path("p.BMP"), MakeBmp(s)));
    CGraphicFileLoad g;
    ASSERT_EQ(g.LoadGraphicFile(Path("p.BMP").c_str()), 0);
    ASSERT_EQ(g.m_nWidth, width);
    ASSERT_EQ(g.m_nHeight, height);
    ASSERT_EQ(g.m_nStride, static_cast<int>(handpix::DibStride(width)));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const unsigned char* p = g.m_pDib + g.m_nStride * (height - 1 - y) + 3 * x;
            auto e = Expected(s, s.pixels[y * width + x]);
            ASSERT_EQ(p[0], e.b) << x << "," << y;
            ASSERT_EQ(p[1], e.g);
            ASSERT_EQ(p[2], e.r);
        }
}

INSTANTIATE_TEST_SUITE_P(AllDepthsOddWidths, BmpDepths,
                         ::testing::Combine(::testing::Values(1, 4, 8, 16, 24, 32), ::testing::Values(1, 3, 5, 17),
                                            ::testing::Bool()));

namespace {
struct FailureCase {
    const char* name;
    std::vector<std::uint8_t> (*make)();
    const char* text;
};

std::vector<std::uint8_t> Good8() {
    BmpSpec s = RandomBmp(8, 4, 2, 1);
    return MakeBmp(s);
}

const FailureCase kFailures[] = {
    {"BA", [] { auto f = Good8(); f[1] = 'A'; return f; }, "Not a valid BMP File"},
    {"OneByte", [] { return std::vector<std::uint8_t>{'B'}; }, "Not a valid BMP File"},
    {"CutInInfoHeader", [] { auto f = Good8(); f.resize(30); return f; }, "Read Error!"},
    {"Rle", [] { BmpSpec s = RandomBmp(8, 4, 2, 1); s.compression = 1; return MakeBmp(s); },
     "This is a compressed file."},
    {"PaletteBeyondOffset", [] { BmpSpec s = RandomBmp(8, 4, 2, 1); s.offBitsDelta = -4; return MakeBmp(s); },
     "Corrupt palette"},
    {"CutInPalette", [] { auto f = Good8(); f.resize(54 + 100); return f; }, "Read Error!"},
    {"CutInRows", [] { auto f = Good8(); f.pop_back(); return f; }, "Read Error"},
    {"ZeroWidth", [] { BmpSpec s = RandomBmp(24, 0, 2, 1); return MakeBmp(s); }, "Memory alloc Failed"},
    {"HugeSize", [] { auto f = Good8(); f[18] = 0xFF; f[19] = 0xFF; f[22] = 0xFF; f[23] = 0x7F; return f; },
     "Memory alloc Failed"},
    {"TwoBitDepth", [] { auto f = Good8(); f[28] = 2; return f; }, "Not a valid BMP File"},
};

class BmpFailures : public ImageFilesTest, public ::testing::WithParamInterface<FailureCase> {};
}  // namespace

TEST_P(BmpFailures, KeepTheirTextAndHoldNoPicture) {
    ASSERT_TRUE(WriteBytes(Path("bad.bmp"), GetParam().make()));
    CBmpReader reader;
    int w = -1, h = -1;
    unsigned char* p = reader.ReadBmp(CString(Path("bad.bmp").c_str()), &w, &h);
    EXPECT_EQ(p, nullptr);
    delete[] p;
    EXPECT_EQ(reader.m_strError, GetParam().text);
    CGraphicFileLoad g;
    EXPECT_EQ(g.LoadGraphicFile(Path("bad.bmp").c_str()), 1);
    EXPECT_EQ(g.m_pDib, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Texts, BmpFailures, ::testing::ValuesIn(kFailures),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ImageFilesTest, MissingBmpNamesThePath) {
    CBmpReader reader;
    int w, h;
    EXPECT_EQ(reader.ReadBmp(CString(Path("none.bmp").c_str()), &w, &h), nullptr);
    EXPECT_EQ(reader.m_strError, CString("Can't open file for reading :\n") + Path("none.bmp").c_str());
}

TEST_F(ImageFilesTest, FourBitWithGapAndShortPaletteGivesBlackBeyondIt) {
    BmpSpec s = RandomBmp(4, 5, 2, 7);
    s.palette.resize(3);
    s.clrUsed = 3;
    s.gapAfterPalette = 6;
    s.pixels = {0, 1, 2, 3, 15, 2, 1, 0, 9, 2};
    ASSERT_TRUE(WriteBytes(Path("g.bmp"), MakeBmp(s)));
    CGraphicFileLoad g;
    ASSERT_EQ(g.LoadGraphicFile(Path("g.bmp").c_str()), 0);
    const unsigned char* top = g.m_pDib + g.m_nStride;  // row 0 of the picture is the last DIB row
    EXPECT_EQ(top[3 * 2 + 2], s.palette[2].r);
    for (int x : {3, 4}) EXPECT_EQ(top[3 * x] | top[3 * x + 1] | top[3 * x + 2], 0) << x;
}

TEST_F(ImageFilesTest, DispatchByExtension) {
    BmpSpec s = RandomBmp(24, 2, 2, 3);
    ASSERT_TRUE(WriteBytes(Path("a.jpeg"), MakeBmp(s)));
    CGraphicFileLoad g;
    ASSERT_TRUE(WriteBytes(Path("a.bMp"), MakeBmp(s)));
    ASSERT_EQ(g.LoadGraphicFile(Path("a.bMp").c_str()), 0);
    EXPECT_EQ(g.LoadGraphicFile(Path("a.jpeg").c_str()), 2);
    EXPECT_EQ(g.m_pDib, nullptr);
    EXPECT_EQ(g.m_nWidth, 2);  // an unknown extension leaves the size as it was
    EXPECT_EQ(g.LoadGraphicFile(Path("noext").c_str()), 2);
}

TEST_F(ImageFilesTest, CopiesOwnTheirPixels) {
    BmpSpec s = RandomBmp(24, 3, 2, 5);
    ASSERT_TRUE(WriteBytes(Path("c.bmp"), MakeBmp(s)));
    CGraphicFileLoad a;
    ASSERT_EQ(a.LoadGraphicFile(Path("c.bmp").c_str()), 0);
    CGraphicFileLoad b(a);
    CGraphicFileLoad c;
    c = a;
    ASSERT_NE(b.m_pDib, a.m_pDib);
    ASSERT_NE(c.m_pDib, a.m_pDib);
    EXPECT_EQ(std::memcmp(b.m_pDib, a.m_pDib, a.m_nStride * a.m_nHeight), 0);
    EXPECT_EQ(std::memcmp(c.m_pDib, a.m_pDib, a.m_nStride * a.m_nHeight), 0);
}

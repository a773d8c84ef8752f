#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "handpix/enhance/ImageEdit.h"
#include "tests/enhance/Recorder.h"
#include "tests/support/EnhanceFiles.h"

using enhance_test::Bmp;
using enhance_test::BmpBytes;

namespace {
const char* const kCompressed = "압축된 BMP파일은 지원하지 않습니다.";

Bmp Bmp24(int w, int h) {
    Bmp b;
    b.width = w;
    b.height = h;
    b.bits = 24;
    const int row = (w * 24 + 31) / 32 * 4;
    b.rows.assign(static_cast<size_t>(row * h), 0xEE);  // pad bytes too
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) b.rows[static_cast<size_t>(y * row + x * 3 + c)] = static_cast<std::uint8_t>(y * 100 + x * 10 + c);
    return b;
}

std::vector<std::uint8_t> Truncated(std::vector<std::uint8_t> v, size_t n) {
    v.resize(n);
    return v;
}

struct BadBmp {
    const char* name;
    std::vector<std::uint8_t> bytes;
    const char* message;
};
class LoadBmpFailure : public ::testing::TestWithParam<BadBmp> {};
}  // namespace

TEST_P(LoadBmpFailure, ShowsItsMessageAndReleasesTheBuffers) {
    enhance_test::TempDir dir("imageedit_bad");
    const std::string path = dir.File("bad.bmp");
    enhance_test::WriteFile(path, GetParam().bytes);
    MessageRecorder rec;
    CImageEdit edit;
    EXPECT_EQ(edit.LoadBMP(path.c_str()), 0);
    ASSERT_EQ(rec.boxes.size(), 1u);
    EXPECT_EQ(rec.boxes[0].text, GetParam().message);
    EXPECT_EQ(rec.boxes[0].caption, "ImageEdit");
    EXPECT_EQ(rec.boxes[0].type, MB_ICONERROR);
    EXPECT_EQ(edit.m_pbDibData, nullptr);
    EXPECT_EQ(edit.m_pBmfh, nullptr);
    EXPECT_EQ(edit.m_pBmi, nullptr);
    // A load after the failure starts afresh.
    enhance_test::WriteFile(path, BmpBytes(Bmp24(2, 2)));
    EXPECT_EQ(edit.LoadBMP(path.c_str()), 1);
}

static Bmp Bmp8Header(int w, int h) {
    Bmp b;
    b.width = w;
    b.height = h;
    b.bits = 8;
    b.palette.assign(1024, 0);
    b.rows.assign(static_cast<size_t>((w + 3) / 4 * 4 * h), 1);
    return b;
}
// Only a header that claims w x h pixels, and a few bytes of rows.
static Bmp Claims(int w, int h, int bits) {
    Bmp b;
    b.width = w;
    b.height = h;
    b.bits = bits;
    if (bits == 8) b.palette.assign(1024, 0);
    b.rows.assign(64, 0);
    return b;
}
static Bmp Bits(Bmp b, int bits) {
    b.bits = bits;
    return b;
}

INSTANTIATE_TEST_SUITE_P(
    Files, LoadBmpFailure,
    ::testing::Values(
        BadBmp{"Empty", {}, "LoadBMP: file.Read( m_pBmfh, sizeof(BITMAPFILEHEADER) ) failed!"},
        BadBmp{"NotBm", {'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, "LoadBMP: This is not a BMP!"},
        BadBmp{"NoInfoHeader", Truncated(BmpBytes(Bmp24(2, 2)), 14),
               "LoadBMP: pFile.Read( &m_pBmi->bmiHeader, sizeof(BITMAPINFOHEADER) ) failed!"},
        BadBmp{"NoPalette", Truncated(BmpBytes(Bmp8Header(4, 4)), 54),
               "LoadBMP: 8bits file.Read( pBmrgb, sizeof(RGBQUAD) * 256 ) failed!"},
        BadBmp{"Short8", Truncated(BmpBytes(Bmp8Header(4, 4)), 54 + 1024 + 5),
               "LoadBMP: 8bits file.Read( bpTemp, lDIBSize ) failed!"},
        BadBmp{"Huge8", BmpBytes(Claims(70000, 70000, 8)), "LoadBMP: 8bits bpTemp memory allocation failed!"},
        BadBmp{"Short24", Truncated(BmpBytes(Bmp24(5, 5)), 60),
               "LoadBMP: 24bits pFile.Read( bpTemp, lDIBSize ) failed!"},
        BadBmp{"Huge24", BmpBytes(Claims(-3, 2, 24)), "LoadBMP: 24bits bpTemp memory allocation failed!"},
        BadBmp{"Overflow24", BmpBytes(Claims(2000000000, 2000000000, 24)),
               "LoadBMP: 24bits bpTemp memory allocation failed!"},
        BadBmp{"Short32", Truncated(BmpBytes(Bits(Bmp24(4, 4), 32)), 70),
               "LoadBMP: 32bits pFile.Read( bpTemp, lDIBSize ) failed!"},
        BadBmp{"Huge4", BmpBytes(Claims(1 << 20, 1 << 20, 4)),
               "LoadBMP: 4bits m_pbDibData memory allocation failed!"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ImageEdit, CompressedBmpShowsTheKoreanMessageAndKeepsTheBuffers) {
    enhance_test::TempDir dir("imageedit_rle");
    Bmp b = Bmp8Header(4, 4);
    b.compression = 1;
    const std::string path = dir.File("rle.bmp");
    enhance_test::WriteFile(path, BmpBytes(b));
    MessageRecorder rec;
    CImageEdit edit;
    EXPECT_EQ(edit.LoadBMP(path.c_str()), 0);
    ASSERT_EQ(rec.boxes.size(), 1u);
    EXPECT_EQ(rec.boxes[0].text, kCompressed);
    EXPECT_EQ(rec.boxes[0].type, MB_OK);
    EXPECT_NE(rec.boxes[0].caption, "ImageEdit");  // the framework box, not the wrapper's
    EXPECT_NE(edit.m_pBmfh, nullptr);
    EXPECT_NE(edit.m_pBmi, nullptr);
}

TEST(ImageEdit, MissingFileGivesZeroQuietly) {
    MessageRecorder rec;
    CImageEdit edit;
    EXPECT_EQ(edit.LoadBMP("/nonexistent/handpix/x.bmp"), 0);
    EXPECT_TRUE(rec.boxes.empty());
}

namespace {
struct GoodBmp {
    const char* name;
    Bmp file;
    std::vector<std::uint8_t> pixels;  // B, G, R, 0 in the file's row order
};
class LoadBmpDepth : public ::testing::TestWithParam<GoodBmp> {};

Bmp Paletted(int bits, int w, int h, std::vector<std::uint8_t> rows, std::uint32_t clrUsed) {
    Bmp b;
    b.width = w;
    b.height = h;
    b.bits = bits;
    b.clrUsed = clrUsed;
    b.palette.assign(static_cast<size_t>(4 << bits), 0);
    b.palette[4 * 1 + 0] = 50;   // entry 1: blue 50
    b.palette[4 * 2 + 2] = 60;   // entry 2: red 60
    b.palette[4 * 200 % b.palette.size() + 1] = 70;  // 8 bits: entry 200, green 70
    b.rows = std::move(rows);
    return b;
}
Bmp Raw32() {
    Bmp b;
    b.width = 2;
    b.height = 1;
    b.bits = 32;
    b.rows = {1, 2, 3, 4, 5, 6, 7, 8};
    return b;
}
}  // namespace

TEST_P(LoadBmpDepth, WidensToFourBytesPerPixel) {
    enhance_test::TempDir dir("imageedit_depth");
    const std::string path = dir.File("a.bmp");
    enhance_test::WriteFile(path, BmpBytes(GetParam().file));
    CImageEdit edit;
    ASSERT_EQ(edit.LoadBMP(path.c_str()), 1);
    EXPECT_EQ(edit.m_pBmih->biBitCount, 32);
    EXPECT_EQ(edit.m_pBmih, &edit.m_pBmi->bmiHeader);
    ASSERT_EQ(edit.GetDibBytes(), GetParam().pixels.size());
    EXPECT_EQ(std::vector<std::uint8_t>(edit.m_pbDibData, edit.m_pbDibData + edit.GetDibBytes()), GetParam().pixels);
}

INSTANTIATE_TEST_SUITE_P(
    Depths, LoadBmpDepth,
    ::testing::Values(
        // 3 pixels wide: file rows of 12 bytes, 3 of them padding.
        GoodBmp{"Bits24", Bmp24(3, 2), {0, 1, 2, 0, 10, 11, 12, 0, 20, 21, 22, 0,
                                        100, 101, 102, 0, 110, 111, 112, 0, 120, 121, 122, 0}},
        // The whole 256-entry palette is used even when biClrUsed says 2.
        GoodBmp{"Bits8", Paletted(8, 3, 1, {200, 1, 0, 0x77}, 2), {0, 70, 0, 0, 50, 0, 0, 0, 0, 0, 0, 0}},
        GoodBmp{"Bits4", Paletted(4, 3, 2, {0x12, 0x10, 0, 0, 0x21, 0x20, 0, 0}, 0),
                {50, 0, 0, 0, 0, 0, 60, 0, 50, 0, 0, 0, 0, 0, 60, 0, 50, 0, 0, 0, 0, 0, 60, 0}},
        GoodBmp{"Bits32", Raw32(), {1, 2, 3, 4, 5, 6, 7, 8}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ImageEdit, PremultiplyAlphaSwapsOuterBytes) {
    struct Case { std::uint8_t in[4], out[4]; };
    const Case cases[] = {{{200, 100, 50, 0}, {0, 0, 0, 0}},
                          {{200, 100, 50, 255}, {49, 99, 199, 255}},
                          {{255, 255, 255, 128}, {127, 127, 127, 128}},
                          {{1, 2, 3, 1}, {0, 0, 0, 1}}};
    for (const Case& c : cases) {
        std::uint8_t p[4];
        std::memcpy(p, c.in, 4);
        CImageEdit::PremultiplyAlpha(p, 1, 1);
        EXPECT_EQ(std::vector<std::uint8_t>(p, p + 4), std::vector<std::uint8_t>(c.out, c.out + 4));
    }
}

namespace {
std::vector<std::uint8_t> Gradient(int w, int h, int comps) {
    std::vector<std::uint8_t> v(static_cast<size_t>(w * h * comps));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < comps; ++c)
                v[static_cast<size_t>((y * w + x) * comps + c)] = static_cast<std::uint8_t>(c == 0 ? 40 + x * 4 : c == 1 ? 60 + y * 4 : 200);
    return v;
}
}  // namespace

TEST(ImageEdit, GreyJpegLoadsAsPaddedBgr) {
    enhance_test::TempDir dir("imageedit_grey");
    const std::string path = dir.File("g.jpg");
    enhance_test::WriteFile(path, enhance_test::JpegBytes(5, 4, 1, std::vector<std::uint8_t>(20, 90)));
    CImageEdit edit;
    ASSERT_EQ(edit.LoadJPG(path.c_str()), 1);
    EXPECT_EQ(edit.m_pBmih->biBitCount, 24);
    EXPECT_EQ(edit.m_pBmih->biWidth, 5);
    EXPECT_EQ(edit.m_pBmih->biHeight, 4);
    EXPECT_EQ(edit.GetDibBytes(), 16u * 4);  // rows of 15 bytes padded to 16
    for (int y = 0; y < 4; ++y)
        for (int k = 0; k < 15; ++k) EXPECT_NEAR(edit.m_pbDibData[y * 16 + k], 90, 1);
}

TEST(ImageEdit, ColourJpegLoadsBlueFirstTopRowFirst) {
    enhance_test::TempDir dir("imageedit_colour");
    const std::string path = dir.File("c.jpg");
    enhance_test::WriteFile(path, enhance_test::JpegBytes(16, 16, 3, Gradient(16, 16, 3), 100));
    CImageEdit edit;
    ASSERT_EQ(edit.LoadJPG(path.c_str()), 1);
    const BYTE* top = edit.m_pbDibData;
    const BYTE* bottomRight = edit.m_pbDibData + 15 * 48 + 15 * 3;
    EXPECT_NEAR(top[0], 200, 3);  // blue
    EXPECT_NEAR(top[1], 60, 3);
    EXPECT_NEAR(top[2], 40, 3);   // red
    EXPECT_NEAR(bottomRight[1], 120, 3);
    EXPECT_NEAR(bottomRight[2], 100, 3);
}

TEST(ImageEdit, FourChannelJpegIsPremultipliedAndSaysThirtyTwoBits) {
    enhance_test::TempDir dir("imageedit_fpx");
    std::vector<std::uint8_t> px;
    for (int i = 0; i < 16 * 8; ++i) {
        const bool left = i % 16 < 8;
        px.insert(px.end(), {128, 128, 128, static_cast<std::uint8_t>(left ? 0 : 255)});
    }
    const std::string path = dir.File("a.jpg");
    enhance_test::WriteFile(path, enhance_test::JpegBytes(16, 8, 4, px, 100));
    CImageEdit edit;
    ASSERT_EQ(edit.LoadJPG(path.c_str()), 1);
    EXPECT_EQ(edit.m_pBmih->biBitCount, 32);
    const BYTE* p = edit.m_pbDibData + 3 * 64;  // row 3, pixel 0: alpha 0
    EXPECT_EQ(std::vector<int>(p, p + 4), (std::vector<int>{0, 0, 0, 0}));
    const BYTE* q = edit.m_pbDibData + 3 * 64 + 15 * 4;  // alpha 255: grey 128 scaled
    EXPECT_NEAR(q[0], 127, 2);
    EXPECT_NEAR(q[3], 255, 2);
}

TEST(ImageEdit, ReducedScaleKeepsTheFullSize) {
    enhance_test::TempDir dir("imageedit_scale");
    const std::string path = dir.File("s.jpg");
    enhance_test::WriteFile(path, enhance_test::JpegBytes(33, 17, 3, Gradient(33, 17, 3)));
    CImageEdit edit;
    ASSERT_EQ(edit.LoadJPG(path.c_str(), [](unsigned, unsigned, void*) { return 4; }, nullptr), 1);
    EXPECT_EQ(edit.m_pBmih->biWidth, 9);
    EXPECT_EQ(edit.m_pBmih->biHeight, 5);
    EXPECT_EQ(edit.m_nFullWidth, 33u);
    EXPECT_EQ(edit.m_nFullHeight, 17u);
}

TEST(ImageEdit, LoadJpgFailures) {
    enhance_test::TempDir dir("imageedit_badjpg");
    const std::string path = dir.File("x.jpg");
    enhance_test::WriteFile(path, {0xFF, 0xD8, 0xFF, 0xE0, 0, 2, 0xFF});
    MessageRecorder rec;
    CImageEdit edit;
    EXPECT_EQ(edit.LoadJPG(path.c_str()), 0);
    EXPECT_EQ(edit.LoadJPG(dir.File("missing.jpg").c_str()), 0);
    ASSERT_EQ(rec.boxes.size(), 2u);
    for (const auto& b : rec.boxes) {
        EXPECT_EQ(b.text, "LoadJPG: ijlRead( &image, IJL_JFILE_READPARAMS ) failed!");
        EXPECT_EQ(b.caption, "ImageEdit");
    }
    EXPECT_EQ(edit.m_pBmi, nullptr);
}

TEST(ImageEdit, SaveJpgWritesPaddedBgrAs420AtQuality75) {
    enhance_test::TempDir dir("imageedit_save");
    CImageEdit edit;
    // After a BMP load the header said 32 bits: the save still takes 3-byte rows.
    edit.m_pBmi->bmiHeader.biBitCount = 32;
    edit.SetImageSize(5, 3);
    BYTE* px = new BYTE[16 * 3]();
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) {
            px[y * 16 + x * 3 + 0] = 30;   // blue
            px[y * 16 + x * 3 + 2] = 220;  // red
        }
    edit.SetDibData(px, 16 * 3);
    const std::string path = dir.File("out.jpg");
    ASSERT_EQ(edit.SaveJPG(path.c_str()), 1);
    EXPECT_EQ(edit.m_pBmih->biBitCount, 24);
    enhance_test::DecodedJpeg d;
    ASSERT_TRUE(enhance_test::DecodeJpeg(enhance_test::ReadFile(path), d));
    EXPECT_EQ(d.width, 5);
    EXPECT_EQ(d.height, 3);
    EXPECT_EQ(d.hSamp0, 2);
    EXPECT_EQ(d.vSamp0, 2);
    EXPECT_FALSE(d.progressive);
    EXPECT_EQ(d.quant0, enhance_test::LuminanceTable(75));
    EXPECT_NEAR(d.pixels[0], 220, 6);  // red
    EXPECT_NEAR(d.pixels[2], 30, 6);   // blue
}

TEST(ImageEdit, SaveJpgFailureKeepsTheBuffers) {
    MessageRecorder rec;
    CImageEdit edit;
    edit.SetImageSize(4, 4);
    edit.SetDibData(new BYTE[48](), 48);
    EXPECT_EQ(edit.SaveJPG("/nonexistent/handpix/out.jpg"), 0);
    edit.SetDibData(new BYTE[8](), 8);  // smaller than the header says
    EXPECT_EQ(edit.SaveJPG("/tmp/handpix_never_written.jpg"), 0);
    ASSERT_EQ(rec.boxes.size(), 2u);
    EXPECT_EQ(rec.boxes[0].text, "SaveJPG: ijlWrite( &image, IJL_JFILE_WRITEWHOLEIMAGE ) failed! - 읽기전용?");
    EXPECT_EQ(rec.boxes[0].caption, "ImageEdit");
    EXPECT_NE(edit.m_pbDibData, nullptr);
    EXPECT_NE(edit.m_pBmi, nullptr);
    EXPECT_FALSE(std::ifstream("/tmp/handpix_never_written.jpg").good());
}

TEST(ImageEdit, FlipVerticalReversesPaddedRows) {
    CImageEdit edit;
    edit.SetImageSize(1, 3);
    BYTE* px = new BYTE[12]{1, 1, 1, 0, 2, 2, 2, 0, 3, 3, 3, 0};
    edit.SetDibData(px, 12);
    edit.FlipVertical();
    const BYTE expect[] = {3, 3, 3, 0, 2, 2, 2, 0, 1, 1, 1, 0};
    EXPECT_EQ(std::memcmp(edit.m_pbDibData, expect, 12), 0);
    edit.SetImageSize(1, 4);  // more rows than the buffer holds: left alone
    edit.FlipVertical();
    EXPECT_EQ(std::memcmp(edit.m_pbDibData, expect, 12), 0);
}

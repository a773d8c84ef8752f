#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "handpix/enhance/ImageEdit.h"
#include "handpix/platform/core/Limits.h"
#include "tests/support/ChildProcess.h"
#include "tests/enhance/Recorder.h"
#include "tests/support/EnhanceFiles.h"

using enhance_test::Bmp;
using enhance_test::BmpBytes;
using Bytes = std::vector<std::uint8_t>;

namespace {
Bmp Bmp24(int w, int h) {
    Bmp b{.width = w, .height = h, .bits = 24, .palette = {}, .rows = {}};
    const int row = (w * 24 + 31) / 32 * 4;
    b.rows.assign(static_cast<size_t>(row * h), 0xEE);  // pad bytes too
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) b.rows[static_cast<size_t>(y * row + x * 3 + c)] = static_cast<std::uint8_t>(y * 100 + x * 10 + c);
    return b;
}
Bytes Truncated(Bytes v, size_t n) {
    v.resize(n);
    return v;
}
Bmp Bmp8Header(int w, int h) {
    return Bmp{.width = w, .height = h, .bits = 8, .palette = Bytes(1024, 0),
               .rows = Bytes(static_cast<size_t>((w + 3) / 4 * 4 * h), 1)};
}
// Only a header that claims w x h pixels, and a few bytes of rows.
Bmp Claims(int w, int h, int bits) {
    return Bmp{.width = w, .height = h, .bits = bits, .palette = Bytes(bits == 8 ? 1024 : 0, 0), .rows = Bytes(64, 0)};
}
Bmp Bits(Bmp b, int bits) {
    b.bits = bits;
    return b;
}
// Writes the bytes into a file of the folder and gives its path.
std::string Put(const enhance_test::TempDir& dir, const char* name, const Bytes& bytes) {
    const std::string path = dir.File(name);
    enhance_test::WriteFile(path, bytes);
    return path;
}

struct BadBmp {
    const char* name;
    Bytes bytes;
    const char* message;
    std::uint64_t pixelLimit = 0;
};
class LoadBmpFailure : public ::testing::TestWithParam<BadBmp> {};
}  // namespace

TEST_P(LoadBmpFailure, ShowsItsMessageAndReleasesTheBuffers) {
    enhance_test::TempDir dir("imageedit_bad");
    const std::string path = Put(dir, "bad.bmp", GetParam().bytes);
    MessageRecorder rec;
    CImageEdit edit;
    handpix::SetMaxPicturePixels(GetParam().pixelLimit);
    EXPECT_EQ(edit.LoadBMP(path.c_str()), 0);
    handpix::SetMaxPicturePixels(0);
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
        // One byte of pixels missing beyond the last row's 3 bytes of padding.
        BadBmp{"Short24", Truncated(BmpBytes(Bmp24(3, 2)), 54 + 24 - 4),
               "LoadBMP: 24bits pFile.Read( bpTemp, lDIBSize ) failed!"},
        BadBmp{"Huge24", BmpBytes(Claims(-3, 2, 24)), "LoadBMP: 24bits bpTemp memory allocation failed!"},
        BadBmp{"Overflow24", BmpBytes(Claims(2000000000, 2000000000, 24)),
               "LoadBMP: 24bits bpTemp memory allocation failed!"},
        BadBmp{"OverTheLimit24", BmpBytes(Bmp24(3, 2)), "LoadBMP: 24bits bpTemp memory allocation failed!", 5},
        BadBmp{"Short32", Truncated(BmpBytes(Bits(Bmp24(4, 4), 32)), 70),
               "LoadBMP: 32bits pFile.Read( bpTemp, lDIBSize ) failed!"},
        BadBmp{"Huge4", BmpBytes(Claims(1 << 20, 1 << 20, 4)),
               "LoadBMP: 4bits m_pbDibData memory allocation failed!"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ImageEdit, CompressedBmpShowsTheKoreanMessageAndKeepsTheBuffers) {
    enhance_test::TempDir dir("imageedit_rle");
    Bmp b = Bmp8Header(4, 4);
    b.compression = 1;
    const std::string path = Put(dir, "rle.bmp", BmpBytes(b));
    MessageRecorder rec;
    CImageEdit edit;
    EXPECT_EQ(edit.LoadBMP(path.c_str()), 0);
    EXPECT_EQ(edit.LoadBMP("/nonexistent/handpix/x.bmp"), 0);  // a missing file says nothing
    // Nor does a FIFO planted under the name, refused without waiting for a writer.
    const std::string fifo = dir.File("fifo.bmp");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    EXPECT_EQ(handpix::test::RunInChild([&] { return edit.LoadBMP(fifo.c_str()); }, {.seconds = 10}).exitCode, 0);
    ASSERT_EQ(rec.boxes.size(), 1u);
    EXPECT_EQ(rec.boxes[0].text, "압축된 BMP파일은 지원하지 않습니다.");
    EXPECT_EQ(rec.boxes[0].type, MB_OK);
    EXPECT_NE(rec.boxes[0].caption, "ImageEdit");  // the framework box, not the wrapper's
    EXPECT_NE(edit.m_pBmfh, nullptr);
    EXPECT_NE(edit.m_pBmi, nullptr);
}

namespace {
Bmp Paletted(int bits, int w, int h, Bytes rows, std::uint32_t clrUsed) {
    Bmp b{.width = w, .height = h, .bits = bits, .clrUsed = clrUsed, .palette = Bytes(static_cast<size_t>(4 << bits), 0),
          .rows = std::move(rows)};
    b.palette[4 * 1 + 0] = 50;   // entry 1: blue 50
    b.palette[4 * 2 + 2] = 60;   // entry 2: red 60
    b.palette[4 * 200 % b.palette.size() + 1] = 70;  // 8 bits: entry 200, green 70
    return b;
}
}  // namespace

TEST(ImageEdit, LoadBmpWidensEveryDepthToFourBytesPerPixel) {
    const struct {
        const char* name;
        Bmp file;
        Bytes pixels;          // B, G, R, 0 in the file's row order
        std::size_t lastPad;   // a file short by its last row's padding loads alike
    } cases[] = {
        // 3 pixels wide: file rows of 12 bytes, 3 of them padding.
        {"Bits24", Bmp24(3, 2), {0, 1, 2, 0, 10, 11, 12, 0, 20, 21, 22, 0, 100, 101, 102, 0, 110, 111, 112, 0, 120, 121, 122, 0}, 3},
        // The whole 256-entry palette is used even when biClrUsed says 2.
        {"Bits8", Paletted(8, 3, 1, {200, 1, 0, 0x77}, 2), {0, 70, 0, 0, 50, 0, 0, 0, 0, 0, 0, 0}, 1},
        {"Bits4", Paletted(4, 3, 2, {0x12, 0x10, 0, 0, 0x21, 0x20, 0, 0}, 0),
         {50, 0, 0, 0, 0, 0, 60, 0, 50, 0, 0, 0, 0, 0, 60, 0, 50, 0, 0, 0, 0, 0, 60, 0}, 0},
        {"Bits32", Bmp{.width = 2, .height = 1, .bits = 32, .palette = {}, .rows = {1, 2, 3, 4, 5, 6, 7, 8}},
         {1, 2, 3, 4, 5, 6, 7, 8}, 0},
    };
    enhance_test::TempDir dir("imageedit_depth");
    for (const auto& c : cases)
        for (std::size_t cut : {std::size_t{0}, c.lastPad}) {
            const Bytes whole = BmpBytes(c.file);
            CImageEdit edit;
            ASSERT_EQ(edit.LoadBMP(Put(dir, "a.bmp", Truncated(whole, whole.size() - cut)).c_str()), 1) << c.name;
            EXPECT_EQ(edit.m_pBmih->biBitCount, 32) << c.name;
            EXPECT_EQ(edit.m_pBmih, &edit.m_pBmi->bmiHeader) << c.name;
            EXPECT_EQ(Bytes(edit.m_pbDibData, edit.m_pbDibData + edit.GetDibBytes()), c.pixels) << c.name << cut;
        }
}

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
        EXPECT_EQ(Bytes(p, p + 4), Bytes(c.out, c.out + 4));
    }
}

namespace {
Bytes Gradient(int w, int h) {
    Bytes v;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) v.insert(v.end(), {static_cast<std::uint8_t>(40 + x * 4), static_cast<std::uint8_t>(60 + y * 4), 200});
    return v;
}
}  // namespace

TEST(ImageEdit, JpegLoadsAsBgrTopRowFirst) {
    enhance_test::TempDir dir("imageedit_jpeg");
    CImageEdit edit;
    // Grey: rows of 15 bytes padded to 16.
    ASSERT_EQ(edit.LoadJPG(Put(dir, "g.jpg", enhance_test::JpegBytes(5, 4, 1, Bytes(20, 90))).c_str()), 1);
    EXPECT_EQ(edit.m_pBmih->biBitCount, 24);
    EXPECT_EQ(edit.m_pBmih->biWidth, 5);
    EXPECT_EQ(edit.m_pBmih->biHeight, 4);
    EXPECT_EQ(edit.GetDibBytes(), 16u * 4);
    for (int y = 0; y < 4; ++y)
        for (int k = 0; k < 15; ++k) EXPECT_NEAR(edit.m_pbDibData[y * 16 + k], 90, 1);
    // Colour: blue first.
    ASSERT_EQ(edit.LoadJPG(Put(dir, "c.jpg", enhance_test::JpegBytes(16, 16, 3, Gradient(16, 16), 100)).c_str()), 1);
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
    Bytes px;
    for (int i = 0; i < 16 * 8; ++i) px.insert(px.end(), {128, 128, 128, static_cast<std::uint8_t>(i % 16 < 8 ? 0 : 255)});
    CImageEdit edit;
    ASSERT_EQ(edit.LoadJPG(Put(dir, "a.jpg", enhance_test::JpegBytes(16, 8, 4, px, 100)).c_str()), 1);
    EXPECT_EQ(edit.m_pBmih->biBitCount, 32);
    const BYTE* p = edit.m_pbDibData + 3 * 64;  // row 3, pixel 0: alpha 0
    EXPECT_EQ(std::vector<int>(p, p + 4), (std::vector<int>{0, 0, 0, 0}));
    const BYTE* q = edit.m_pbDibData + 3 * 64 + 15 * 4;  // alpha 255: grey 128 scaled
    EXPECT_NEAR(q[0], 127, 2);
    EXPECT_NEAR(q[3], 255, 2);
}

TEST(ImageEdit, ReducedScaleKeepsTheFullSize) {
    enhance_test::TempDir dir("imageedit_scale");
    const std::string path = Put(dir, "s.jpg", enhance_test::JpegBytes(33, 17, 3, Gradient(33, 17)));
    CImageEdit edit;
    ASSERT_EQ(edit.LoadJPG(path.c_str(), [](unsigned, unsigned, void*) { return 4; }, nullptr), 1);
    EXPECT_EQ(edit.m_pBmih->biWidth, 9);
    EXPECT_EQ(edit.m_pBmih->biHeight, 5);
    EXPECT_EQ(edit.m_nFullWidth, 33u);
    EXPECT_EQ(edit.m_nFullHeight, 17u);
}

TEST(ImageEdit, SaveJpgWritesPaddedBgrAs420AtQuality75) {
    enhance_test::TempDir dir("imageedit_save");
    CImageEdit edit;
    // After a BMP load the header said 32 bits: the save still takes 3-byte rows.
    edit.m_pBmi->bmiHeader.biBitCount = 32;
    edit.SetImageSize(5, 3);
    BYTE* px = new BYTE[16 * 3]();
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) px[y * 16 + x * 3 + 0] = 30, px[y * 16 + x * 3 + 2] = 220;  // blue, red
    edit.SetDibData(px, 16 * 3);
    const std::string path = dir.File("out.jpg");
    ASSERT_EQ(edit.SaveJPG(path.c_str()), 1);
    EXPECT_EQ(edit.m_pBmih->biBitCount, 24);
    enhance_test::DecodedJpeg d;
    ASSERT_TRUE(enhance_test::DecodeJpeg(enhance_test::ReadFile(path), d));
    EXPECT_EQ(std::vector<int>({d.width, d.height, d.hSamp0, d.vSamp0}), std::vector<int>({5, 3, 2, 2}));
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
    edit.SetDibData(new BYTE[12]{1, 1, 1, 0, 2, 2, 2, 0, 3, 3, 3, 0}, 12);
    edit.FlipVertical();
    const BYTE expect[] = {3, 3, 3, 0, 2, 2, 2, 0, 1, 1, 1, 0};
    EXPECT_EQ(std::memcmp(edit.m_pbDibData, expect, 12), 0);
    edit.SetImageSize(1, 4);  // more rows than the buffer holds: left alone
    edit.FlipVertical();
    EXPECT_EQ(std::memcmp(edit.m_pbDibData, expect, 12), 0);
}

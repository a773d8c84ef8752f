#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "handpix/picture/Picture.h"
#include "handpix/platform/core/File.h"
#include "tests/enhance/Recorder.h"
#include "tests/support/EnhanceFiles.h"

namespace {
struct ThumbCase {
    int w, h, tw, th;
};
class ThumbSize : public ::testing::TestWithParam<ThumbCase> {};

// Top half one colour, bottom half another, as R, G, B.
std::vector<std::uint8_t> TwoBands(int w, int h) {
    std::vector<std::uint8_t> v;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (y < h / 2) v.insert(v.end(), {230, 20, 20});
            else v.insert(v.end(), {20, 20, 230});
        }
    return v;
}

enhance_test::Bmp BandsBmp(int w, int h) {
    enhance_test::Bmp b;
    b.width = w;
    b.height = h;
    const int row = (w * 24 + 31) / 32 * 4;
    b.rows.assign(static_cast<size_t>(row * h), 0);
    for (int y = 0; y < h; ++y)  // file rows bottom-up: the first ones are the blue bottom half
        for (int x = 0; x < w; ++x) {
            std::uint8_t* p = &b.rows[static_cast<size_t>(y * row + x * 3)];
            if (y < h / 2) p[0] = 230, p[1] = 20, p[2] = 20;
            else p[0] = 20, p[1] = 20, p[2] = 230;
        }
    return b;
}

// The decoded file; pixels R, G, B top row first.
enhance_test::DecodedJpeg Decoded(const std::string& path) {
    enhance_test::DecodedJpeg d;
    EXPECT_TRUE(enhance_test::DecodeJpeg(enhance_test::ReadFile(path), d)) << path;
    return d;
}

void ExpectRedOverBlue(const enhance_test::DecodedJpeg& d) {
    ASSERT_GT(d.pixels.size(), 0u);
    const std::uint8_t* top = &d.pixels[static_cast<size_t>(2 * d.width + d.width / 2) * 3];
    const std::uint8_t* bottom = &d.pixels[static_cast<size_t>((d.height - 3) * d.width + d.width / 2) * 3];
    EXPECT_GT(top[0], 180);
    EXPECT_LT(top[2], 70);
    EXPECT_LT(bottom[0], 70);
    EXPECT_GT(bottom[2], 180);
}

bool HiddenSupported(const std::string& dir) {
    std::string probe = dir + "/probe";
    enhance_test::WriteFile(probe, {1});
    SetFileAttributesA(probe.c_str(), FILE_ATTRIBUTE_HIDDEN);
    bool ok = (GetFileAttributesA(probe.c_str()) & FILE_ATTRIBUTE_HIDDEN) != 0;
    std::filesystem::remove(probe);
    return ok;
}
}  // namespace

TEST_P(ThumbSize, KeepsTheAspectWithinOneHundred) {
    CPicture p;
    p.m_nWidth = GetParam().w;
    p.m_nHeight = GetParam().h;
    int size[2] = {-1, -1};
    p.CalculateThumbSize(size);
    EXPECT_EQ(size[0], GetParam().tw);
    EXPECT_EQ(size[1], GetParam().th);
}

INSTANTIATE_TEST_SUITE_P(Table, ThumbSize,
                         ::testing::Values(ThumbCase{640, 480, 100, 75}, ThumbCase{480, 640, 75, 100},
                                           ThumbCase{100, 40, 100, 40}, ThumbCase{90, 120, 75, 100},
                                           ThumbCase{1000, 5, 100, 1}, ThumbCase{5, 1000, 1, 100},
                                           ThumbCase{150, 150, 100, 100}, ThumbCase{30, 60, 30, 60}));

TEST(Resize, BmpBecomesAHiddenJpegOfTheSameName) {
    enhance_test::TempDir dir("resize_bmp");
    const std::string bmp = dir.File("photo.bmp");
    enhance_test::WriteFile(bmp, enhance_test::BmpBytes(BandsBmp(203, 151)));
    MessageRecorder rec;
    CPicture p;
    CString path(bmp.c_str());
    p.ResizingImage(path);
    EXPECT_TRUE(rec.boxes.empty());
    EXPECT_EQ(std::string(path.c_str()), dir.File("photo.jpg"));
    EXPECT_FALSE(std::filesystem::exists(bmp));
    auto d = Decoded(dir.File("photo.jpg"));
    EXPECT_EQ(d.width, 100);
    EXPECT_EQ(d.height, 75);
    ExpectRedOverBlue(d);
    if (HiddenSupported(dir.path)) {
        EXPECT_TRUE(GetFileAttributesA(path) & FILE_ATTRIBUTE_HIDDEN);
    }
    EXPECT_EQ(p.m_pImageFile, nullptr);
    EXPECT_EQ(p.m_pSrcImage, nullptr);
}

TEST(Resize, CapitalBmpExtensionKeepsItsName) {
    enhance_test::TempDir dir("resize_caps");
    const std::string bmp = dir.File("PHOTO.BMP");
    enhance_test::WriteFile(bmp, enhance_test::BmpBytes(BandsBmp(120, 90)));
    CPicture p;
    CString path(bmp.c_str());
    p.ResizingImage(path);
    EXPECT_EQ(std::string(path.c_str()), bmp);
    auto d = Decoded(bmp);  // JPEG data under the BMP name
    EXPECT_EQ(d.width, 100);
    EXPECT_EQ(d.height, 75);
}

TEST(Resize, FixedFormsAreAlwaysOneHundredBySeventyFive) {
    enhance_test::TempDir dir("resize_fixed");
    struct Case { int w, h; };
    for (Case c : {Case{100, 75}, Case{400, 100}, Case{130, 400}}) {
        const std::string jpg = dir.File(("p" + std::to_string(c.w) + ".jpg").c_str());
        enhance_test::WriteFile(jpg, enhance_test::JpegBytes(c.w, c.h, 3, TwoBands(c.w, c.h), 95));
        CPicture p;
        CString path(jpg.c_str());
        p.ResizingImage(path);
        auto d = Decoded(jpg);
        EXPECT_EQ(d.width, 100);
        EXPECT_EQ(d.height, 75);
        ExpectRedOverBlue(d);
    }
}

TEST(Resize, AspectFormRecordsTheFullSizeEvenAtReducedScale) {
    enhance_test::TempDir dir("resize_aspect");
    struct Case { int w, h, tw, th; };
    for (Case c : {Case{640, 480, 100, 75}, Case{480, 640, 75, 100}, Case{1700, 90, 100, 5}, Case{60, 40, 60, 40}}) {
        const std::string src = dir.File("src.jpg"), dst = dir.File("thumb.jpg");
        enhance_test::WriteFile(src, enhance_test::JpegBytes(c.w, c.h, 3, TwoBands(c.w, c.h), 95));
        MessageRecorder rec;
        CPicture p;
        CString s(src.c_str()), t(dst.c_str());
        p.ResizingImage(s, t);
        EXPECT_TRUE(rec.boxes.empty());
        EXPECT_EQ(p.m_nWidth, c.w);
        EXPECT_EQ(p.m_nHeight, c.h);
        auto d = Decoded(dst);
        EXPECT_EQ(d.width, c.tw);
        EXPECT_EQ(d.height, c.th);
        if (c.th >= 40) {
            ExpectRedOverBlue(d);
        }
    }
}

TEST(Resize, BufferFormFlipsTheCallersBottomUpRows) {
    enhance_test::TempDir dir("resize_buffer");
    const int w = 250, h = 160, stride = (w * 3 + 3) / 4 * 4;
    std::vector<BYTE> px(static_cast<size_t>(stride * h), 0);
    for (int y = 0; y < h; ++y)  // memory rows bottom-up: the first half is the picture's blue bottom
        for (int x = 0; x < w; ++x) {
            BYTE* q = &px[static_cast<size_t>(y * stride + x * 3)];
            if (y < h / 2) q[0] = 230, q[1] = 20, q[2] = 20;
            else q[0] = 20, q[1] = 20, q[2] = 230;
        }
    const auto copy = px;
    CPicture p;
    CString target(dir.File("buf.jpg").c_str());
    p.ResizingImage(target, w, h, px.data());
    EXPECT_EQ(px, copy);
    auto d = Decoded(dir.File("buf.jpg"));
    EXPECT_EQ(d.width, 100);
    EXPECT_EQ(d.height, 75);
    ExpectRedOverBlue(d);
    EXPECT_EQ(p.m_nWidth, w);
}

TEST(Resize, SmallSourceGivesWhiteAndOneReport) {
    enhance_test::TempDir dir("resize_small");
    const std::string jpg = dir.File("small.jpg");
    enhance_test::WriteFile(jpg, enhance_test::JpegBytes(60, 40, 3, TwoBands(60, 40), 95));
    MessageRecorder rec;
    CPicture p;
    CString path(jpg.c_str());
    p.ResizingImage(path);
    ASSERT_EQ(rec.boxes.size(), 1u);
    EXPECT_EQ(rec.boxes[0].text, "(xDst > xSrc || yDst > ySrc)");
    auto d = Decoded(jpg);
    EXPECT_EQ(d.width, 100);
    for (std::uint8_t b : d.pixels) ASSERT_GE(b, 250);
}

TEST(Resize, OpenFailures) {
    enhance_test::TempDir dir("resize_open");
    const std::string png = dir.File("x.png"), bad = dir.File("bad.jpg");
    enhance_test::WriteFile(png, {1, 2, 3});
    enhance_test::WriteFile(bad, {1, 2, 3});
    MessageRecorder rec;
    CPicture p;
    for (const std::string* f : {&png, &bad}) {
        CString path(f->c_str());
        p.ResizingImage(path);
    }
    std::vector<std::string> texts;
    for (const auto& b : rec.boxes) texts.push_back(b.text);
    EXPECT_EQ(texts, (std::vector<std::string>{"Resize:Open Failed!",
                                               "LoadJPG: ijlRead( &image, IJL_JFILE_READPARAMS ) failed!",
                                               "Resize:Open Failed!"}));
    EXPECT_EQ(enhance_test::ReadFile(png), (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(p.m_pImageFile, nullptr);
    // The aspect form says nothing and writes nothing.
    rec.boxes.clear();
    CString s(png.c_str()), t(dir.File("t.jpg").c_str());
    p.ResizingImage(s, t);
    EXPECT_TRUE(rec.boxes.empty());
    EXPECT_FALSE(std::filesystem::exists(dir.File("t.jpg")));
}

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "handpix/picture/Picture.h"
#include "handpix/platform/core/File.h"
#include "tests/enhance/Recorder.h"
#include "tests/support/EnhanceFiles.h"

namespace {
using enhance_test::DecodedJpeg;

// Red top half over blue bottom half, three bytes a pixel; `bgr` and
// `bottomUp` give the byte and row orders.
std::vector<std::uint8_t> TwoBands(int w, int h, bool bgr, bool bottomUp, int stride = 0) {
    if (stride == 0) stride = w * 3;
    std::vector<std::uint8_t> v(static_cast<size_t>(stride * h), 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::uint8_t* p = &v[static_cast<size_t>(y * stride + x * 3)];
            const bool red = (y < h / 2) != bottomUp;
            p[0] = p[2] = 20, p[1] = 20;
            p[red == bgr ? 2 : 0] = 230;
        }
    return v;
}
std::string PutJpeg(const enhance_test::TempDir& dir, const char* name, int w, int h) {
    const std::string path = dir.File(name);
    enhance_test::WriteFile(path, enhance_test::JpegBytes(w, h, 3, TwoBands(w, h, false, false), 95));
    return path;
}
std::string PutBmp(const enhance_test::TempDir& dir, const char* name, int w, int h) {
    const std::string path = dir.File(name);
    enhance_test::WriteFile(path, enhance_test::BmpBytes({.width = w, .height = h, .palette = {},
                                                          .rows = TwoBands(w, h, true, true, (w * 24 + 31) / 32 * 4)}));
    return path;
}
// The decoded file; pixels R, G, B top row first.
DecodedJpeg Decoded(const std::string& path) {
    DecodedJpeg d;
    EXPECT_TRUE(enhance_test::DecodeJpeg(enhance_test::ReadFile(path), d)) << path;
    return d;
}
// Resizes the file in place and gives the path it ends with.
std::string ResizeInPlace(CPicture& p, const std::string& file) {
    CString path(file.c_str());
    p.ResizingImage(path);
    return path.c_str();
}
void ExpectSize(const DecodedJpeg& d, int w, int h) {
    EXPECT_EQ(d.width, w);
    EXPECT_EQ(d.height, h);
}
void ExpectRedOverBlue(const DecodedJpeg& d) {
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

TEST(Resize, ThumbSizeKeepsTheAspectWithinOneHundred) {
    struct Case { int w, h, tw, th; };
    for (Case c : {Case{640, 480, 100, 75}, Case{480, 640, 75, 100}, Case{100, 40, 100, 40}, Case{90, 120, 75, 100},
                   Case{1000, 5, 100, 1}, Case{5, 1000, 1, 100}, Case{150, 150, 100, 100}, Case{30, 60, 30, 60}}) {
        CPicture p;
        p.m_nWidth = c.w;
        p.m_nHeight = c.h;
        int size[2] = {-1, -1};
        p.CalculateThumbSize(size);
        EXPECT_EQ(size[0], c.tw) << c.w << "x" << c.h;
        EXPECT_EQ(size[1], c.th) << c.w << "x" << c.h;
    }
}

TEST(Resize, BmpBecomesAHiddenJpegOfTheSameName) {
    enhance_test::TempDir dir("resize_bmp");
    const std::string bmp = PutBmp(dir, "photo.bmp", 203, 151);
    MessageRecorder rec;
    CPicture p;
    const std::string path = ResizeInPlace(p, bmp);
    EXPECT_TRUE(rec.boxes.empty());
    EXPECT_EQ(path, dir.File("photo.jpg"));
    EXPECT_FALSE(std::filesystem::exists(bmp));
    auto d = Decoded(path);
    ExpectSize(d, 100, 75);
    ExpectRedOverBlue(d);
    if (HiddenSupported(dir.path)) {
        EXPECT_TRUE(GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_HIDDEN);
    }
    EXPECT_EQ(p.m_pImageFile, nullptr);
    EXPECT_EQ(p.m_pSrcImage, nullptr);
    // A capital extension keeps its name: JPEG data under the BMP name.
    const std::string caps = PutBmp(dir, "PHOTO.BMP", 120, 90);
    EXPECT_EQ(ResizeInPlace(p, caps), caps);
    ExpectSize(Decoded(caps), 100, 75);
}

TEST(Resize, FixedFormsAreAlwaysOneHundredBySeventyFive) {
    enhance_test::TempDir dir("resize_fixed");
    for (auto [w, h] : {std::pair{100, 75}, std::pair{400, 100}, std::pair{130, 400}}) {
        CPicture p;
        auto d = Decoded(ResizeInPlace(p, PutJpeg(dir, ("p" + std::to_string(w) + ".jpg").c_str(), w, h)));
        ExpectSize(d, 100, 75);
        ExpectRedOverBlue(d);
    }
    // The buffer form flips the caller's bottom-up rows and leaves them alone.
    const int w = 250, h = 160;
    auto px = TwoBands(w, h, true, true, (w * 3 + 3) / 4 * 4);
    const auto copy = px;
    CPicture p;
    CString target(dir.File("buf.jpg").c_str());
    p.ResizingImage(target, w, h, px.data());
    EXPECT_EQ(px, copy);
    auto d = Decoded(dir.File("buf.jpg"));
    ExpectSize(d, 100, 75);
    ExpectRedOverBlue(d);
    EXPECT_EQ(p.m_nWidth, w);
}

TEST(Resize, AspectFormRecordsTheFullSizeEvenAtReducedScale) {
    enhance_test::TempDir dir("resize_aspect");
    struct Case { int w, h, tw, th; };
    for (Case c : {Case{640, 480, 100, 75}, Case{480, 640, 75, 100}, Case{1700, 90, 100, 5}, Case{60, 40, 60, 40}}) {
        MessageRecorder rec;
        CPicture p;
        CString s(PutJpeg(dir, "src.jpg", c.w, c.h).c_str()), t(dir.File("thumb.jpg").c_str());
        p.ResizingImage(s, t);
        EXPECT_TRUE(rec.boxes.empty());
        EXPECT_EQ(p.m_nWidth, c.w);
        EXPECT_EQ(p.m_nHeight, c.h);
        auto d = Decoded(dir.File("thumb.jpg"));
        ExpectSize(d, c.tw, c.th);
        if (c.th >= 40) ExpectRedOverBlue(d);
    }
}

TEST(Resize, SmallSourceGivesWhiteAndOneReport) {
    enhance_test::TempDir dir("resize_small");
    MessageRecorder rec;
    CPicture p;
    auto d = Decoded(ResizeInPlace(p, PutJpeg(dir, "small.jpg", 60, 40)));
    ASSERT_EQ(rec.boxes.size(), 1u);
    EXPECT_EQ(rec.boxes[0].text, "(xDst > xSrc || yDst > ySrc)");
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
    ResizeInPlace(p, png);
    ResizeInPlace(p, bad);
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

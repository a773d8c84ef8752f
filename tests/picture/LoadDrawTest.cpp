#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "handpix/picture/Picture.h"
#include "handpix/platform/ole/Resource.h"
#include "tests/picture/Canvas.h"
#include "tests/support/DrawSamples.h"

namespace {
using handpix::test::Bytes;
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kRed = RGB(220, 20, 30);
constexpr COLORREF kSentinel = RGB(1, 2, 3);

Bytes RedBmp(int w, int h) {
    return handpix::test::MakeBmp(w, h, [](int, int) { return kRed; });
}

std::string TempPath(const char* name) {
    // Per process: ctest runs the cases of this file in parallel.
    auto dir = std::filesystem::temp_directory_path() / ("handpix_picture_test_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    return (dir / name).string();
}

int LoadBytes(CPicture& pic, const Bytes& bytes) {
    IStream* s = SHCreateMemStream(bytes.data(), static_cast<UINT>(bytes.size()));
    int r = pic.Load(s);
    s->Release();
    return r;
}


bool Near(COLORREF a, COLORREF b, int tolerance) {
    return std::abs(GetRValue(a) - GetRValue(b)) <= tolerance && std::abs(GetGValue(a) - GetGValue(b)) <= tolerance &&
           std::abs(GetBValue(a) - GetBValue(b)) <= tolerance;
}

// An IPicture that records how it is asked to render and draws nothing.
struct RecordingPicture : IPicture {
    long hmWidth, hmHeight;
    std::vector<long> args;
    ULONG refs = 1;
    RecordingPicture(long w, long h) : hmWidth(w), hmHeight(h) {}
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }
    HRESULT get_Width(long* w) override { *w = hmWidth; return S_OK; }
    HRESULT get_Height(long* h) override { *h = hmHeight; return S_OK; }
    HRESULT Render(HDC, long x, long y, long cx, long cy, long xs, long ys, long cxs, long cys, LPCRECT) override {
        args = {x, y, cx, cy, xs, ys, cxs, cys};
        return S_OK;
    }
};
}  // namespace

TEST(PictureLoad, EachFormatDecodesToItsPixelSize) {
    auto checker = [](int x, int y) { return ((x / 4 + y / 4) % 2) ? RGB(0, 0, 255) : RGB(255, 255, 0); };
    const struct {
        const char* what;
        Bytes bytes;
    } cases[] = {
        {"bmp", handpix::test::MakeBmp(96, 72, checker)},
        {"jpeg", handpix::test::MakeJpeg(96, 72, checker)},
        {"gif", handpix::test::MakeGif(96, 72, {RGB(255, 255, 0), RGB(0, 0, 255)},
                                       [](int x, int y) { return (x / 4 + y / 4) % 2; })},
    };
    for (const auto& c : cases) {
        CPicture pic;
        ASSERT_EQ(LoadBytes(pic, c.bytes), 1) << c.what;
        long cx, cy;
        pic.GetHIMETRICSize(cx, cy);
        EXPECT_EQ(std::pair(cx, cy), std::pair(2540L, 1905L)) << c.what;
        pic.CalcPictureSize();
        EXPECT_EQ(pic.GetImageSize(), CSize(96, 72)) << c.what;
        EXPECT_EQ(pic.GetImageSize(nullptr), CSize(96, 72)) << c.what;
        // Drawn at natural size: the corners of the checkerboard come out right way up.
        Canvas canvas(96, 72, kSentinel);
        pic.Render(&canvas.dc, CRect(), nullptr);
        for (auto [x, y, want] : {std::tuple{1, 1, RGB(255, 255, 0)}, {5, 1, RGB(0, 0, 255)},
                                  {94, 70, RGB(255, 255, 0)}, {94, 66, RGB(0, 0, 255)}})
            EXPECT_TRUE(Near(canvas.At(x, y), want, 24)) << c.what << " " << x << "," << y;
    }
}

TEST(PictureLoad, BadDataLeavesNoPicture) {
    CPicture pic;
    ASSERT_EQ(LoadBytes(pic, RedBmp(4, 4)), 1);
    EXPECT_EQ(LoadBytes(pic, Bytes(300, 0x42)), 0);
    EXPECT_EQ(static_cast<IPicture*>(pic), nullptr);
    Bytes truncated = handpix::test::MakeJpeg(64, 64, [](int, int) { return kRed; });
    truncated.resize(truncated.size() / 3);
    EXPECT_EQ(LoadBytes(pic, truncated), 0);
    EXPECT_EQ(LoadBytes(pic, Bytes{}), 0);
    EXPECT_EQ(pic.Load(static_cast<IStream*>(nullptr)), 0);
    EXPECT_EQ(pic.GetImageSize(nullptr), CSize(0, 0));
}

TEST(PictureLoad, FileResourceAndSetPicture) {
    Bytes bmp = RedBmp(10, 20);
    std::string path = TempPath("red.bmp");
    ASSERT_TRUE(handpix::test::WriteBytes(path, bmp));
    std::string text = TempPath("text.bmp");
    ASSERT_TRUE(handpix::test::WriteBytes(text, Bytes(1000, 'x')));

    CPicture pic;
    EXPECT_EQ(pic.SetPicture(path.c_str()), static_cast<int>(bmp.size()));
    EXPECT_EQ(pic.GetImageSize(), CSize(10, 20));
    EXPECT_EQ(pic.SetPicture(text.c_str()), 0);
    EXPECT_EQ(static_cast<IPicture*>(pic), nullptr);
    EXPECT_EQ(pic.GetImageSize(), CSize(10, 20));  // a failed load keeps the last size
    EXPECT_EQ(pic.SetPicture(TempPath("missing.bmp").c_str()), 0);
    EXPECT_NE(pic.Load(path.c_str()), 0);

    handpix::RegisterImageResource(4711, RedBmp(3, 3));
    EXPECT_NE(pic.Load(4711u), 0);
    EXPECT_EQ(pic.GetImageSize(nullptr), CSize(3, 3));
    EXPECT_EQ(pic.Load(4712u), 0);  // no such "IMAGE"
    EXPECT_EQ(static_cast<IPicture*>(pic), nullptr);

    // From an open file at its current position.
    Bytes prefixed(7 + bmp.size(), 'p');
    std::copy(bmp.begin(), bmp.end(), prefixed.begin() + 7);
    std::string offset = TempPath("prefixed.bin");
    ASSERT_TRUE(handpix::test::WriteBytes(offset, prefixed));
    CFile f;
    ASSERT_TRUE(f.Open(offset.c_str(), CFile::modeRead));
    f.Seek(7, CFile::begin);
    EXPECT_NE(pic.Load(f), 0);
}

TEST(PictureRender, BandsWhitePictureAreaUntouchedClippingReset) {
    CPicture pic;
    RecordingPicture fake(2540 * 4, 2540 * 3);  // 384 x 288 pixels
    pic.m_pPicture = &fake;
    Canvas canvas(140, 120, kSentinel);
    EXPECT_EQ(pic.Render(&canvas.dc, CRect(20, 10, 120, 110), nullptr), 1);
    EXPECT_EQ(pic.GetImageSize(), CSize(384, 288));
    // r = (0, 12, 100, 87) inside the rectangle at (20, 10).
    EXPECT_EQ(fake.args, (std::vector<long>{20, 22, 100, 75, 0, 7620, 10160, -7620}));
    EXPECT_EQ(canvas.At(20, 10), kWhite);    // band above
    EXPECT_EQ(canvas.At(119, 21), kWhite);
    EXPECT_EQ(canvas.At(20, 22), kSentinel);  // picture area: left to the picture
    EXPECT_EQ(canvas.At(119, 96), kSentinel);
    EXPECT_EQ(canvas.At(50, 97), kWhite);    // band below
    EXPECT_EQ(canvas.At(19, 50), kSentinel);  // outside the rectangle
    canvas.dc.FillSolidRect(0, 0, 140, 120, kRed);    // clipping is gone
    EXPECT_EQ(canvas.At(60, 50), kRed);
    pic.m_pPicture = nullptr;
}

TEST(PictureDraw, DrawComposesOffScreenWithTheSourceOneUnitIn) {
    CPicture pic;
    RecordingPicture fake(2646, 1985);  // 100 x 75
    pic.m_pPicture = &fake;
    pic.CalcPictureSize();
    Canvas canvas(110, 110, kSentinel);
    pic.Draw(&canvas.dc, CRect(1, 1, 99, 99));
    EXPECT_EQ(fake.args, (std::vector<long>{0, 12, 98, 73, 0, 1984, 2646, -1985}));
    pic.m_pPicture = nullptr;
    // A real picture of that size: r = (0, 12, 98, 85).
    ASSERT_EQ(LoadBytes(pic, RedBmp(100, 75)), 1);
    pic.CalcPictureSize();
    pic.Draw(&canvas.dc, CRect(1, 1, 99, 99));
    const struct { int x, y; COLORREF want; } probes[] = {
        {1, 12, kWhite}, {1, 13, kRed}, {98, 13, kRed}, {50, 85, kRed}, {50, 86, kWhite}, {98, 98, kWhite},
        {0, 50, kSentinel}, {99, 50, kSentinel}, {99, 99, kSentinel}, {0, 0, kSentinel},
    };
    for (const auto& p : probes) EXPECT_EQ(canvas.At(p.x, p.y), p.want) << p.x << "," << p.y;
}

TEST(PictureDraw, WithoutAPictureOnlyTheBackground) {
    CPicture pic;
    Canvas canvas(120, 120, kSentinel);
    pic.Draw(&canvas.dc, CRect(1, 1, 99, 99));
    EXPECT_EQ(canvas.At(50, 50), kWhite);
    EXPECT_EQ(canvas.At(99, 99), kSentinel);
    EXPECT_EQ(pic.Render(&canvas.dc, CRect(0, 0, 10, 10), nullptr), 1);
    long cx = 1, cy = 1;
    pic.GetHIMETRICSize(cx, cy);
    EXPECT_EQ(cx, 0);
    pic.CalcPictureSize();
    EXPECT_EQ(pic.GetImageSize(), CSize(0, 0));

    pic.DrawIcon(&canvas.dc, CRect(0, 0, 110, 110));
    COLORREF film = canvas.At(0, 0);
    EXPECT_NE(film, kWhite);
    EXPECT_NE(film, kSentinel);
    EXPECT_EQ(canvas.At(99, 50), kWhite);  // beyond the 99 x 99 background
    EXPECT_EQ(canvas.At(50, 105), kWhite);
}

TEST(PictureDraw, IconKeepsTheFilmEdgesAroundALandscapePicture) {
    CPicture pic;
    ASSERT_EQ(LoadBytes(pic, RedBmp(100, 75)), 1);
    pic.CalcPictureSize();
    Canvas canvas(100, 100, kSentinel);
    pic.DrawIcon(&canvas.dc, CRect(1, 1, 99, 99));
    EXPECT_EQ(canvas.At(50, 50), kRed);
    COLORREF edge = canvas.At(1, 1);
    EXPECT_NE(edge, kRed);
    EXPECT_NE(edge, kWhite);
    EXPECT_EQ(canvas.At(40, 97), canvas.At(40, 98));
}

TEST(PictureCanvas, ConstructorLoadsTheBlankCanvas) {
    CPicture pic;
    EXPECT_EQ(pic.m_bmpCanvas.GetBitmapDimension(), CSize(192, 160));
    CDC dc;
    dc.CreateCompatibleDC(nullptr);
    dc.SelectObject(&pic.m_bmpCanvas);
    EXPECT_EQ(dc.GetPixel(191, 159), kWhite);
}

// Pictures share the decoded canvas and their zeroed handset buffers cost
// nothing until used: what one picture draws or stores must stay its own.
TEST(PictureCanvas, EveryPictureKeepsItsOwnCanvasAndBuffers) {
    auto first = std::make_unique<CPicture>();
    CPicture second;
    CDC dc;
    dc.CreateCompatibleDC(nullptr);
    dc.SelectObject(&first->m_bmpCanvas);
    dc.FillSolidRect(0, 0, 192, 160, kRed);
    first->m_FrameRGB[5][1] = 7;
    first->m_ImgRGB[CPicture::kHandsetPixels - 1][2] = 9;
    CPicture third;
    for (CPicture* other : {&second, &third}) {
        CDC look;
        look.CreateCompatibleDC(nullptr);
        look.SelectObject(&other->m_bmpCanvas);
        EXPECT_EQ(look.GetPixel(0, 0), kWhite);
        EXPECT_EQ(look.GetPixel(191, 159), kWhite);
        EXPECT_EQ(other->m_FrameRGB[5][1], 0);
        EXPECT_EQ(other->m_ImgRGB[CPicture::kHandsetPixels - 1][2], 0);
    }
    EXPECT_EQ(dc.GetPixel(191, 159), kRed);
    EXPECT_EQ(first->m_FrameRGB[5][1], 7);
    EXPECT_EQ(sizeof first->m_FrameRGB, std::size_t{CPicture::kHandsetPixels} * 3);
    dc.DeleteDC();
    // The drawn canvas goes with its picture, the shared one stays blank, and
    // the next picture (which takes over the buffers' memory) starts at zero.
    first.reset();
    CPicture fourth;
    CDC look;
    look.CreateCompatibleDC(nullptr);
    look.SelectObject(&fourth.m_bmpCanvas);
    EXPECT_EQ(look.GetPixel(10, 10), kWhite);
    EXPECT_EQ(fourth.m_FrameRGB[5][1], 0);
    EXPECT_EQ(fourth.m_ImgRGB[CPicture::kHandsetPixels - 1][2], 0);
}

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "handpix/photolist/PhotoItem.h"
#include "handpix/platform/draw/ResourceTable.h"
#include "handpix/resources/Resources.h"
#include "tests/picture/Canvas.h"
#include "tests/support/DrawSamples.h"

namespace {
namespace fs = std::filesystem;
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kSelected = RGB(178, 180, 191);

// Items expose their protected name splitting for the table below.
struct OpenItem : CPhotoItem {
    using CPhotoItem::SetPicture;
};
struct OpenMotionItem : CMotionPictureItem {
    using CMotionPictureItem::CMotionPictureItem;
    using CMotionPictureItem::SetMediaInfo;
};

// A canvas bigger than one tile, for drawing items at an offset.
struct BlueCanvas : Canvas {
    BlueCanvas() : Canvas(300, 200, RGB(0, 0, 255)) {}
};

TEST(PhotoItem, NameIsWhatFollowsTheLastSeparatorOfEitherKind) {
    const std::pair<const char*, const char*> cases[] = {
        {"C:\\a\\b.jpg", "b.jpg"}, {"/home/u/photo.jpg", "photo.jpg"}, {"a/b\\c.jpg", "c.jpg"},
        {"a\\b/c.jpg", "c.jpg"},   {"plain.jpg", "plain.jpg"},          {"C:\\dir\\", ""}, {"", ""},
    };
    for (auto [full, name] : cases) {
        OpenItem item;
        CString path(full);
        item.SetPicture(path);
        EXPECT_STREQ(item.m_strName, name) << full;
        EXPECT_STREQ(item.m_strPath, full);
    }
}

TEST(PhotoItem, SizeTextRoundsKilobytesUpAndGroupsDigits) {
    const std::pair<int, const char*> cases[] = {
        {0, "0 KB"},           {1, "1 KB"},         {1023, "1 KB"},          {1024, "1 KB"},
        {1025, "2 KB"},        {58000, "57 KB"},    {1048576, "1,024 KB"}, {1500000, "1,465 KB"},
        {1023999, "1,000 KB"}, {2147483647, "2,097,152 KB"},
    };
    for (auto [bytes, text] : cases) EXPECT_STREQ(handpix::SizeText(bytes), text) << bytes;
    OpenMotionItem clip;
    clip.SetMediaInfo(1500000);
    EXPECT_STREQ(clip.m_strInfo, "1,465 KB");
}

TEST(PhotoItem, MotionThumbnailIsOnlyNamed) {
    CString cache("/x/Cache/3");
    CMotionPictureItem clip(CString("/v/clip.mpeg"));
    clip.MakeThumbNail(cache);
    EXPECT_STREQ(clip.m_strThumb, "/x/Cache/3/clip.mpeg.jpg");
    EXPECT_FALSE(fs::exists("/x/Cache/3/clip.mpeg.jpg"));
    CMotionPictureItem bare(CString("clip.mpeg"));
    bare.MakeThumbNail(cache);
    EXPECT_STREQ(bare.m_strThumb, "");
}

TEST(PhotoItem, TileBackgroundFollowsSelectionUnderTheCaptionsToo) {
    for (bool selected : {false, true}) {
        BlueCanvas canvas;
        CPictureItem item(CString("/p/sunset.jpg"));
        item.m_strInfo = "640×480(57 KB)";
        item.SetSelect(selected);
        item.SetRect(CRect(40, 30, 140, 165));
        item.Draw(&canvas.dc);
        COLORREF bg = selected ? kSelected : kWhite;
        COLORREF other = selected ? kWhite : kSelected;
        EXPECT_EQ(canvas.At(40, 30), bg);    // the frame around the picture square
        EXPECT_EQ(canvas.At(90, 131), bg);   // between square and captions
        EXPECT_EQ(canvas.At(90, 80), kWhite);  // no picture: a white square
        EXPECT_EQ(canvas.At(39, 30), RGB(0, 0, 255));  // nothing outside the cell
        EXPECT_EQ(canvas.At(140, 164), RGB(0, 0, 255));
        CRect captions(40, 135, 140, 165);
        EXPECT_EQ(canvas.Count(captions, other), 0) << selected;
        EXPECT_GT(canvas.Count(captions, bg), 1500);
        EXPECT_LT(canvas.Count(captions, bg), 100 * 30);  // there is ink
    }
}

TEST(PhotoItem, LongNamesAreCutWithAnEllipsisAndCentred) {
    BlueCanvas canvas;
    CPictureItem item(CString("/p/a_very_long_file_name_that_never_fits_in_one_tile.jpg"));
    item.SetRect(CRect(100, 0, 200, 135));
    item.Draw(&canvas.dc);
    int left = 1000, right = -1;
    for (int y = 105; y < 120; ++y)
        for (int x = 100; x < 200; ++x)
            if (canvas.At(x, y) != kWhite) left = std::min(left, x), right = std::max(right, x);
    ASSERT_GE(right, left);
    EXPECT_GE(left, 100);
    EXPECT_LT(right, 200);
    EXPECT_GT(right - left, 80);  // cut to the width, not dropped
    EXPECT_LE(std::abs((left - 100) - (199 - right)), 3);
}

TEST(PhotoItem, PseudoDrawShowsABlankTileAndIconTilesUseTheIconBackground) {
    BlueCanvas canvas;
    CPhotoItem blank;
    blank.SetRect(CRect(0, 0, 100, 135));
    blank.PseudoDraw(&canvas.dc);
    EXPECT_EQ(canvas.Count(CRect(0, 0, 100, 135), kWhite), 100 * 135);

    handpix::RegisterLibraryResources();
    auto icon = handpix::FindResourceImage(RT_BITMAP, handpix::IDB_MOVIE_ICON);
    ASSERT_NE(icon, nullptr);
    CMotionPictureItem clip(CString("/v/clip.mpeg"));
    clip.SetRect(CRect(150, 0, 250, 135));
    CPicture empty;
    clip.DrawIcon(&canvas.dc, &empty);
    int same = 0;
    for (int y = 1; y < 99; ++y)
        for (int x = 1; x < 99; ++x)
            same += canvas.At(150 + x, y) == handpix::ColorOf(icon->pixels[static_cast<std::size_t>((y - 1) * icon->width + x - 1)] & 0xFFFFFF);
    EXPECT_EQ(same, 98 * 98);
    EXPECT_EQ(canvas.At(150, 0), kWhite);  // the tile around it
}

TEST(PictureItem, MakeThumbNailWritesLoadsAndDescribesTheThumbnail) {
    fs::path root = fs::temp_directory_path() / ("handpix_thumb_" + std::to_string(::getpid()));
    fs::remove_all(root);
    fs::create_directories(root / "src");
    fs::create_directories(root / "cache");
    std::string source = (root / "src" / "photo.jpg").string();
    ASSERT_TRUE(handpix::test::WriteBytes(source, handpix::test::MakeJpeg(640, 480, [](int, int) {
        return RGB(200, 30, 30);
    })));
    int bytes = static_cast<int>(fs::file_size(source));

    CPicture work;
    CString cache((root / "cache").string().c_str());
    CPictureItem item{CString(source.c_str())};
    item.MakeThumbNail(&work, cache);
    EXPECT_STREQ(item.m_strThumb, (root / "cache" / "photo.jpg").string().c_str());
    EXPECT_TRUE(fs::exists(root / "cache" / "photo.jpg"));
    EXPECT_STREQ(item.m_strInfo, ("640×480(" + std::string(handpix::SizeText(bytes).c_str()) + ")").c_str());
    EXPECT_EQ(item.GetPictureFile(), item.m_strThumb);  // read when the tile is painted

    // The working picture has just read 640 x 480: a source that does not load must not take that size.
    ASSERT_TRUE(handpix::test::WriteBytes(source, std::vector<std::uint8_t>(10, 0xFF)));
    item.MakeThumbNail(&work, cache);
    EXPECT_STREQ(item.m_strInfo, "0×0(1 KB)");

    CPictureItem bare{CString("photo.jpg")};
    bare.MakeThumbNail(&work, cache);
    EXPECT_STREQ(bare.m_strThumb, "");

    // A thumbnail file set on an item is drawn in its square.
    BlueCanvas canvas;
    CPictureItem shown(CString("/p/t.jpg"));
    CString thumb = item.m_strThumb;
    shown.SetPictureFile(thumb);
    shown.SetRect(CRect(0, 0, 100, 135));
    shown.Draw(&canvas.dc);
    COLORREF c = canvas.At(50, 50);
    EXPECT_NEAR(GetRValue(c), 200, 6);
    EXPECT_NEAR(GetGValue(c), 30, 6);
    fs::remove_all(root);
}

}  // namespace

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <set>
#include <cstring>

#include "handpix/platform/core/File.h"
#include "tests/photocache/CacheFixture.h"
#include "tests/support/ChildProcess.h"

namespace handpix::test {
namespace {
namespace fs = std::filesystem;

using BuildTest = CacheFixture;

std::size_t Lines(const std::string& bytes) { return static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\n')); }

// Items read their thumbnails when painted: the size of the picture a tile shows.
CSize DrawnSize(CPhotoItem* item) {
    CDC dc;
    CBitmap bmp;
    dc.CreateCompatibleDC(nullptr);
    bmp.CreateCompatibleBitmap(&dc, 100, 135);
    dc.SelectObject(&bmp);
    item->Draw(&dc);
    return item->m_picture.GetImageSize();
}

TEST_F(BuildTest, FirstBuildNumbersTheFolderAndSecondReusesEverything) {
    WriteJpeg(src + "/A.JPG", 320, 240, 1);
    WriteJpeg(src + "/b.jpg", 200, 300, 2);
    PhotoListProgress first = Build();
    EXPECT_EQ(first.made, 2);
    EXPECT_EQ(Names(), (std::vector<std::string>{"A.JPG", "b.jpg"}));
    EXPECT_EQ(Index("Info", "Dirnum"), 1);
    EXPECT_EQ(Index(src.c_str(), "Foldername"), 1);
    EXPECT_TRUE(fs::is_regular_file(Cache("a.jpg")) && fs::is_regular_file(Cache("b.jpg")));
    if (HiddenSupported(tree.Path())) {
        EXPECT_TRUE(GetFileAttributesA(Cache().c_str()) & FILE_ATTRIBUTE_HIDDEN);
        EXPECT_TRUE(GetFileAttributesA(Cache("ThumbListJpeg.lst").c_str()) & FILE_ATTRIBUTE_HIDDEN);
    }
    std::string list = ListFile();
    // "×" is A1 BF on disk; lines end in CRLF.
    std::regex line("(a|b)\\.jpg\\?[0-9]+\\\\(320\xA1\xBF" "240|200\xA1\xBF" "300)\\([0-9]+ KB\\)\\?o1\r");
    EXPECT_EQ(Lines(list), 2u);
    for (std::size_t pos = 0, eol; (eol = list.find('\n', pos)) != std::string::npos; pos = eol + 1)
        EXPECT_TRUE(std::regex_match(list.substr(pos, eol - pos), line)) << list.substr(pos, eol - pos);

    PhotoListProgress second = Build();
    EXPECT_EQ(second.made, 0);
    EXPECT_EQ(second.reused, 2);
    EXPECT_EQ(ListFile(), list);
    EXPECT_FALSE(fs::exists(Cache("ThumbListJpeg.lst.new")));
    EXPECT_TRUE(boxes.empty());
}

// Thumbnails are made and loaded on several threads; the items and the list
// lines still follow the folder's name order, on the first build and the next.
TEST_F(BuildTest, ItemsAndLinesFollowTheFolderOrderOnEveryBuild) {
    for (int i = 0; i < 24; ++i) WriteJpeg(src + "/n" + std::to_string(i) + ".jpg", 64 + i, 48, 20u + static_cast<unsigned>(i));
    std::vector<std::string> folderOrder;
    for (const auto& e : fs::directory_iterator(src)) folderOrder.push_back(e.path().filename().string());
    std::sort(folderOrder.begin(), folderOrder.end());  // plain ASCII in one case: byte order is name order
    for (int build = 0; build < 2; ++build) {
        PhotoListProgress p = Build();
        EXPECT_EQ(build == 0 ? p.made : p.reused, 24);
        std::vector<std::string> items, lines;
        for (POSITION pos = list->m_listItems.GetHeadPosition(); pos;) {
            auto* item = static_cast<CPhotoItem*>(list->m_listItems.GetNext(pos));
            items.push_back(item->m_strName.str());
            // Each item holds its own thumbnail: the width tells them apart.
            EXPECT_EQ(item->m_strInfo.str().substr(0, item->m_strInfo.str().find("×")),
                      std::to_string(64 + std::stoi(item->m_strName.str().substr(1))));
        }
        std::string bytes = ListFile();
        for (std::size_t pos = 0, eol; (eol = bytes.find('\n', pos)) != std::string::npos; pos = eol + 1)
            lines.push_back(bytes.substr(pos, bytes.find('?', pos) - pos));
        EXPECT_EQ(items, folderOrder);
        EXPECT_EQ(lines, folderOrder);
    }
}

TEST_F(BuildTest, ChangedPicturesAreRemadeAndGoneOnesDeleted) {
    for (const char* name : {"keep.jpg", "grow.jpg", "same.jpg", "gone.jpg", "photo.jpg.bak", "photo.jpeg"})
        WriteJpeg(src + "/" + name, 160, 120, 3);
    Build();
    EXPECT_EQ(Names(), (std::vector<std::string>{"gone.jpg", "grow.jpg", "keep.jpg", "photo.jpeg", "photo.jpg.bak", "same.jpg"}));
    std::string sameThumb = ReadBytes(Cache("same.jpg"));

    WriteJpeg(src + "/grow.jpg", 640, 480, 4);
    std::string same = ReadBytes(src + "/same.jpg");
    std::reverse(same.begin() + 200, same.end() - 200);  // other content, one size
    WriteBytes(src + "/same.jpg", same);
    fs::remove(src + "/gone.jpg");
    PhotoListProgress p = Build();

    EXPECT_EQ(p.made, 1);
    EXPECT_TRUE(fs::exists(Cache("grow.jpg")));
    EXPECT_NE(ListFile().find("grow.jpg?" + std::to_string(fs::file_size(src + "/grow.jpg")) + "\\640\xA1\xBF" "480"),
              std::string::npos);
    EXPECT_EQ(ReadBytes(Cache("same.jpg")), sameThumb);
    EXPECT_FALSE(fs::exists(Cache("gone.jpg")));
    EXPECT_EQ(ListFile().find("gone.jpg"), std::string::npos);
    EXPECT_EQ(Lines(ListFile()), 5u);
}

TEST_F(BuildTest, NamesThatDifferOnlyInCaseKeepTheirOwnThumbnails) {
    WriteJpeg(src + "/Photo.jpg", 100, 80, 5);
    WriteJpeg(src + "/photo.jpg", 80, 100, 6);
    EXPECT_EQ(Build().made, 2);
    std::size_t thumbs = 0;
    for (const auto& e : fs::directory_iterator(Cache())) thumbs += e.path().filename() != "ThumbListJpeg.lst";
    EXPECT_EQ(thumbs, 2u);
    EXPECT_EQ(Build().reused, 2);
}

// Motion pictures list without pictures; the host names each thumbnail
// through the item, and the build must then find it, capitals and names that
// differ only in case included.
TEST_F(BuildTest, MotionThumbnailsTheHostNamesThroughTheItemAreFound) {
    for (const char* name : {"Clip.MPEG", "Twin.mpeg", "twin.mpeg", "plain.mpeg"})
        WriteBytes(src + "/" + name, std::string(1000 + std::strlen(name), 'm'));
    MakeList(IMG_MPEG);
    Build();
    // No pictures until the host makes them; the lines carry an empty text.
    EXPECT_NE(ReadBytes(Cache("ThumbListMpeg.lst")).find("plain.mpeg.jpg?1010\\\r\n"), std::string::npos);
    CString cacheDir(Cache());
    std::set<std::string> thumbs;
    for (POSITION pos = list->m_listItems.GetHeadPosition(); pos;) {
        auto* item = static_cast<CMotionPictureItem*>(list->m_listItems.GetNext(pos));
        EXPECT_EQ(item->m_picture.GetImageSize(), CSize(0, 0));
        item->MakeThumbNail(cacheDir);
        thumbs.insert(item->m_strThumb.str());
        WriteJpeg(item->m_strThumb.str(), 40, 30, 9);
    }
    EXPECT_EQ(thumbs.size(), 4u);
    EXPECT_EQ(thumbs.count(Cache("plain.mpeg.jpg")), 1u);
    EXPECT_EQ(Build().reused, 4);
    for (POSITION pos = list->m_listItems.GetHeadPosition(); pos;)
        EXPECT_EQ(DrawnSize(static_cast<CPhotoItem*>(list->m_listItems.GetNext(pos))), CSize(40, 30));
}

TEST_F(BuildTest, UnknownKindCannotCreateItsList) {
    WriteJpeg(src + "/a.jpg", 50, 50);
    MakeList(static_cast<_IMG_FORMAT>(2));
    Build();
    EXPECT_EQ(boxes, std::vector<std::string>{"파일 생성 실패"});
    EXPECT_EQ(list->GetItemCount(), 0);
}

TEST_F(BuildTest, StoppedBuildKeepsWhatItDidNotReach) {
    for (int i = 0; i < 6; ++i) WriteJpeg(src + "/p" + std::to_string(i) + ".jpg", 120, 90, 10u + static_cast<unsigned>(i));
    MakeList();
    onProgress = [this](const PhotoListProgress& p) {
        if (p.done == 3) list->SetThreadStop(1);
    };
    EXPECT_EQ(Build().done, 3);
    EXPECT_EQ(Lines(ListFile()), 3u);
    onProgress = nullptr;
    EXPECT_EQ(Build().made, 3);
    onProgress = [this](const PhotoListProgress& p) {
        if (p.done == 3) list->SetThreadStop(1);
    };
    Build();
    EXPECT_EQ(Lines(ListFile()), 6u);  // three rewritten, three carried over
    onProgress = nullptr;
    EXPECT_EQ(Build().reused, 6);
}

TEST_F(BuildTest, HostileListFilesTouchNothingOutsideTheCache) {
    WriteJpeg(src + "/a.jpg", 64, 64);
    Build();
    const std::string victim = tree / "victim.jpg";
    WriteBytes(victim, "precious");
    fs::create_symlink(victim, Cache("link.jpg"));
    fs::remove(Cache("a.jpg"));
    fs::create_symlink(victim, Cache("a.jpg"));  // a planted thumbnail
    WriteBytes(Cache("ThumbListMpeg.lst"), "clip.mpeg.jpg?1\\\r\n");
    std::string hostile = "ThumbListMpeg.lst?1\\x\r\nThumbListJpeg.lst.new?1\\x\r\n../victim.jpg?8\\x\r\n" + victim + "?8\\x\r\n..?1\\\r\n.?1\\\r\n?\\?\\\r\nnosize.jpg\r\n"
                          "bad.jpg?12x\\\r\n" + std::string(10000, 'n') + ".jpg?1\\\r\nlink.jpg?8\\\xC7\xD1 한\r\n" +
                          "long.jpg?1\\" + std::string(8u << 20, 'x') + "\r\n";
    WriteBytes(Cache("ThumbListJpeg.lst"), hostile);
    EXPECT_EQ(Build().made, 1);
    EXPECT_EQ(ReadBytes(victim), "precious");
    EXPECT_EQ(ReadBytes(Cache("ThumbListMpeg.lst")), "clip.mpeg.jpg?1\\\r\n");
    EXPECT_FALSE(fs::is_symlink(Cache("link.jpg")));
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(Cache("a.jpg"))));
    EXPECT_EQ(Lines(ListFile()), 1u);
    EXPECT_TRUE(boxes.empty());

    const ThumbListTable table = ParseThumbList(hostile);
    ASSERT_EQ(table.size(), 3u);
    EXPECT_EQ(table.at("long.jpg1").info, std::string(kMaxListInfoBytes, 'x'));  // every paint would draw it
    EXPECT_EQ(table.at("link.jpg8").info.substr(0, 4), "한 ");  // the UTF-8 tail is not code page 949
}

TEST_F(BuildTest, ABuildThatDiesMidwayLeavesThePreviousList) {
    for (int i = 0; i < 4; ++i) WriteJpeg(src + "/p" + std::to_string(i) + ".jpg", 100, 100, 20u + static_cast<unsigned>(i));
    Build();
    const std::string before = ListFile();
    for (int i = 0; i < 4; ++i) WriteJpeg(src + "/p" + std::to_string(i) + ".jpg", 110, 100, 30u + static_cast<unsigned>(i));
    onProgress = [](const PhotoListProgress& p) {
        if (p.done == 2) ::_exit(7);
    };
    GTEST_FLAG_SET(death_test_style, "fast");  // the child must build in this very tree
    EXPECT_EXIT(Build(), ::testing::ExitedWithCode(7), "");
    onProgress = nullptr;
    EXPECT_EQ(ListFile(), before);
    EXPECT_EQ(Build().made, 4);
    EXPECT_FALSE(fs::exists(Cache("ThumbListJpeg.lst.new")));
}

// A FIFO named like a picture would block the build in open() for ever, so the
// build runs in a child with a time limit; folders, FIFOs and dangling links
// are not listed, a link to a picture is.
TEST_F(BuildTest, OnlyRegularFilesAndLinksToThemAreListed) {
    WriteJpeg(src + "/a.jpg", 64, 48);
    ASSERT_EQ(::mkfifo((src + "/b.jpg").c_str(), 0644), 0);
    fs::create_directory(src + "/c.jpg");
    fs::create_symlink(src + "/a.jpg", src + "/d.jpg");
    fs::create_symlink(src + "/none.jpg", src + "/e.jpg");
    ChildResult r = RunInChild([&] {
        PhotoListProgress p = Build();
        return Names() == std::vector<std::string>{"a.jpg", "d.jpg"} && p.made == 2 && boxes.empty() ? 0 : 1;
    }, {.seconds = 10});
    EXPECT_TRUE(r.exited && r.exitCode == 0 && !r.timedOut);
}

// An index that cannot be read (here a folder in its place; the profile tests
// have the rest) is reported and left alone: writing one would orphan every
// other folder's cache.
TEST_F(BuildTest, AnIndexThatCannotBeReadIsReportedAndLeftAlone) {
    WriteJpeg(src + "/a.jpg", 64, 48);
    fs::create_directories(cacheRoot + "/FolderList.ini");
    Build();
    EXPECT_EQ(boxes, std::vector<std::string>{"캐시 폴더 목록(FolderList.ini)을 읽을 수 없습니다"});
    EXPECT_EQ(list->GetItemCount(), 0);
    EXPECT_FALSE(fs::exists(Cache()));
}

// Linux paths differ by case, and a folder name may hold a line break: each
// folder keeps its own number and reuses it.
TEST_F(BuildTest, EveryFolderPathKeepsItsOwnNumber) {
    const std::string folders[] = {src + "/P", src + "/p", src + "/a\nb", src + "/%c\r"};
    for (const std::string& folder : folders) {
        fs::create_directories(folder);
        WriteJpeg(folder + "/x.jpg", 40, 30);
    }
    for (int round = 0; round < 2; ++round)
        for (const std::string& folder : folders) {
            src = folder;
            PhotoListProgress p = Build();
            EXPECT_EQ(round == 0 ? p.made : p.reused, 1) << round << " " << folder;
        }
}

// A list the builder cannot have written is rewritten, not reported on every
// build. A picture that cannot be read shows neither the size the working
// picture read before nor its own older thumbnail.
TEST_F(BuildTest, OversizedListsAreRewrittenAndUnreadablePicturesShowNothingOld) {
    WriteJpeg(src + "/b.jpg", 640, 480);
    Build();
    const std::string line = ListFile();
    fs::resize_file(Cache("ThumbListJpeg.lst"), (64u << 20) + 1);
    EXPECT_EQ(Build().made, 1);
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(ListFile() == line);  // not EXPECT_EQ: a failure would print 64 MB

    WriteBytes(src + "/b.jpg", "not a picture");
    Build();
    auto* item = static_cast<CPhotoItem*>(list->m_listItems.GetHead());
    EXPECT_EQ(DrawnSize(item), CSize(0, 0));
    EXPECT_EQ(item->m_strInfo.str().find("640"), std::string::npos) << item->m_strInfo.str();
    EXPECT_FALSE(fs::exists(Cache("b.jpg")));
}

}  // namespace
}  // namespace handpix::test

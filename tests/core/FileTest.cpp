#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <ostream>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "handpix/platform/core/File.h"
#include "handpix/platform/core/Limits.h"
#include "tests/support/ChildProcess.h"

namespace {
struct SplitCase {
    const char* path;
    const char* dir;
    const char* name;
    const char* ext;
};
void PrintTo(const SplitCase& c, std::ostream* os) { *os << '"' << c.path << '"'; }
class SplitPath : public ::testing::TestWithParam<SplitCase> {};
}  // namespace

TEST_P(SplitPath, SplitsOnBothSeparators) {
    const SplitCase& c = GetParam();
    char dir[_MAX_DIR], name[_MAX_FNAME], ext[_MAX_EXT];
    _splitpath(c.path, nullptr, dir, name, ext);
    EXPECT_STREQ(dir, c.dir);
    EXPECT_STREQ(name, c.name);
    EXPECT_STREQ(ext, c.ext);
}

INSTANTIATE_TEST_SUITE_P(Paths, SplitPath,
                         ::testing::Values(SplitCase{"/a/b/photo.JPG", "/a/b/", "photo", ".JPG"},
                                           SplitCase{"a\\b\\x.tar.gz", "a\\b\\", "x.tar", ".gz"},
                                           SplitCase{"noext", "", "noext", ""},
                                           SplitCase{"/dir.d/file", "/dir.d/", "file", ""},
                                           SplitCase{"", "", "", ""}));

TEST(File, WholeFileReadRespectsCapAndAtomicWrite) {
    auto dir = std::filesystem::temp_directory_path() / "handpix_filetest";
    std::filesystem::create_directories(dir);
    std::string p = (dir / "f.bin").string();
    ASSERT_TRUE(handpix::WriteFileAtomically(p.c_str(), "hello", 5));
    std::vector<std::uint8_t> v;
    EXPECT_TRUE(handpix::ReadWholeFile(p.c_str(), v, 5));
    EXPECT_EQ(v.size(), 5u);
    EXPECT_FALSE(handpix::ReadWholeFile(p.c_str(), v, 4));
    EXPECT_EQ(handpix::FileSizeOf(p.c_str()), 5);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);  // no temporary left
    std::filesystem::remove_all(dir);
}

TEST(File, HiddenAttributeRoundTripsOrIsIgnored) {
    auto dir = std::filesystem::temp_directory_path() / "handpix_attrtest";
    std::filesystem::create_directories(dir);
    std::string p = (dir / "h.jpg").string();
    ASSERT_TRUE(handpix::WriteFileAtomically(p.c_str(), "x", 1));
    EXPECT_EQ(GetFileAttributesA(p.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
    ASSERT_TRUE(SetFileAttributesA(p.c_str(), FILE_ATTRIBUTE_HIDDEN));
    DWORD a = GetFileAttributesA(p.c_str());
    if (a & FILE_ATTRIBUTE_HIDDEN) {
        SetFileAttributesA(p.c_str(), FILE_ATTRIBUTE_NORMAL);
        EXPECT_EQ(GetFileAttributesA(p.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
    }
    EXPECT_EQ(GetFileAttributesA((dir / "missing").c_str()), INVALID_FILE_ATTRIBUTES);
    std::filesystem::remove_all(dir);
}

TEST(File, ReadersOpenOnlyRegularFiles) {
    auto dir = std::filesystem::temp_directory_path() / ("handpix_regular_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir / "folder.jpg");
    const std::string fifo = (dir / "b.jpg").string(), folder = (dir / "folder.jpg").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    // Without the non-blocking open these would hang for ever: no writer ever comes.
    for (const std::string& p : {fifo, folder}) {
        EXPECT_EQ(handpix::OpenRegularFile(p.c_str()), -1) << p;
        EXPECT_EQ(_lopen(p.c_str(), OF_READ), HFILE_ERROR) << p;
        EXPECT_EQ(_lopen(p.c_str(), OF_READWRITE), HFILE_ERROR) << p;
        std::vector<std::uint8_t> v;
        EXPECT_FALSE(handpix::ReadWholeFile(p.c_str(), v, 100)) << p;
    }
    std::filesystem::remove_all(dir);
}

TEST(File, FailedAtomicWriteLeavesOldFileAndNoTemporary) {
    auto dir = std::filesystem::temp_directory_path() / ("handpix_atomic_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string p = (dir / "old.jpg").string();
    ASSERT_TRUE(handpix::WriteFileAtomically(p.c_str(), "old bytes", 9));
    ASSERT_EQ(chmod(p.c_str(), 0640), 0);
    const std::string big(1 << 16, 'x');
    auto r = handpix::test::RunInChild(
        [&] { return handpix::WriteFileAtomically(p.c_str(), big.data(), big.size()) ? 1 : 0; },
        {.fileSizeBytes = 4096});
    EXPECT_EQ(r.exitCode, 0);  // the write failed past the size limit
    std::vector<std::uint8_t> v;
    ASSERT_TRUE(handpix::ReadWholeFile(p.c_str(), v, 100));
    EXPECT_EQ(std::string(v.begin(), v.end()), "old bytes");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);
    // A successful replacement keeps the file's permissions.
    ASSERT_TRUE(handpix::WriteFileAtomically(p.c_str(), "new", 3));
    EXPECT_EQ(std::filesystem::status(p).permissions() & std::filesystem::perms::all,
              std::filesystem::perms(0640));
    std::filesystem::remove_all(dir);
}

TEST(Limits, PictureSizeIsCheckedWithoutOverflow) {
    struct Case {
        long long w, h;
        bool allowed;
    };
    handpix::SetMaxPicturePixels(1000);
    for (const Case& c : {Case{10, 100, true}, Case{11, 100, false}, Case{0, 5, false}, Case{5, -1, false},
                          Case{1LL << 40, 1LL << 40, false}, Case{1000, 1, true}, Case{1001, 1, false}})
        EXPECT_EQ(handpix::PictureSizeAllowed(c.w, c.h), c.allowed) << c.w << " x " << c.h;
    handpix::SetMaxPicturePixels(0);
    EXPECT_EQ(handpix::GetMaxPicturePixels(), handpix::kDefaultMaxPicturePixels);
}

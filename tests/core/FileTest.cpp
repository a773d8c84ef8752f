#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <ostream>
#include <string>

#include "handpix/platform/core/File.h"

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

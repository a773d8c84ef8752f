#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "handpix/platform/core/Profile.h"

namespace {
class ProfileTest : public ::testing::Test {
protected:
    void SetUp() override {
        // ctest runs tests in parallel: each gets its own folder.
        m_dir = std::filesystem::temp_directory_path() /
                (std::string("handpix_profile_") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
        m_file = (m_dir / "FolderList.ini").string();
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }
    std::string Text() const {
        std::ifstream in(m_file, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    int Int(const char* section, const char* key, int def = -1) const {
        return static_cast<int>(GetPrivateProfileIntA(section, key, def, m_file.c_str()));
    }
    std::filesystem::path m_dir;
    std::string m_file;
};
}  // namespace

TEST_F(ProfileTest, MissingFileSectionOrKeyGivesTheDefault) {
    EXPECT_EQ(Int("Info", "Dirnum", 0), 0);
    ASSERT_TRUE(WritePrivateProfileStringA("Info", "Dirnum", "3", m_file.c_str()));
    EXPECT_EQ(Int("Info", "Other"), -1);
    EXPECT_EQ(Int("Nope", "Dirnum"), -1);
    EXPECT_EQ(Int("info", "DIRNUM"), 3);  // names match without regard to case
}

TEST_F(ProfileTest, WritesCreateSectionsUpdateInPlaceAndUseCrlf) {
    const char* f = m_file.c_str();
    ASSERT_TRUE(WritePrivateProfileStringA("Info", "Dirnum", "1", f));
    ASSERT_TRUE(WritePrivateProfileStringA("/photos/[2024] 여름", "Foldername", "1", f));
    ASSERT_TRUE(WritePrivateProfileStringA("Info", "Dirnum", "2", f));
    ASSERT_TRUE(WritePrivateProfileStringA("Info", "Extra", "x", f));
    EXPECT_EQ(Text(), "[Info]\r\nDirnum=2\r\nExtra=x\r\n[/photos/[2024] 여름]\r\nFoldername=1\r\n");
    EXPECT_EQ(Int("/photos/[2024] 여름", "Foldername"), 1);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_dir), {}), 2);  // the file and its lock, no temporaries
}

TEST_F(ProfileTest, NullValueRemovesKeyAndNullKeyRemovesSection) {
    const char* f = m_file.c_str();
    WritePrivateProfileStringA("A", "k", "1", f);
    WritePrivateProfileStringA("B", "k", "2", f);
    WritePrivateProfileStringA("A", "k", nullptr, f);
    EXPECT_EQ(Int("A", "k"), -1);
    WritePrivateProfileStringA("B", nullptr, nullptr, f);
    EXPECT_EQ(Int("B", "k"), -1);
    EXPECT_EQ(Text(), "[A]\r\n");
}

TEST_F(ProfileTest, ValuesParseLikeWindows) {
    std::ofstream(m_file, std::ios::binary) << "; comment\n[S]\n a = 12abc \nb=x\nc=-4\n";
    EXPECT_EQ(Int("S", "a"), 12);
    EXPECT_EQ(Int("S", "b"), 0);
    EXPECT_EQ(Int("S", "c"), -4);
    char buf[4];
    EXPECT_EQ(GetPrivateProfileStringA("S", "a", "", buf, sizeof buf, m_file.c_str()), 3u);
    EXPECT_STREQ(buf, "12a");
}

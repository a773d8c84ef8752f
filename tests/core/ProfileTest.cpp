#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "handpix/platform/core/Profile.h"
#include "tests/support/ChildProcess.h"

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
    EXPECT_FALSE(WritePrivateProfileStringA("/x/a\nb", "Foldername", "3", f));  // a line break would split the line
    EXPECT_FALSE(WritePrivateProfileStringA("Info", "Dirnum", "3\r\n[x]", f));
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

// A write reads the file first: one it cannot read whole must stay as it is,
// not become a file of one section. (A folder in its place: the cache tests.)
TEST_F(ProfileTest, AFileThatCannotBeReadIsNeverWritten) {
    ::chmod(m_dir.c_str(), 0777);  // the unprivileged child may write its temporary file here
    for (bool tooLarge : {true, false}) {
        std::ofstream(m_file, std::ios::binary) << "[Info]\r\nDirnum=9\r\n" << std::string(tooLarge ? 16u << 20 : 0, ';');
        ::chmod(m_file.c_str(), tooLarge ? 0644 : 0);
        auto attempt = [&] {
            int value = -1;
            const auto state = handpix::ReadProfileInt(m_file.c_str(), "Info", "Dirnum", handpix::SectionMatch::kExact, value);
            return state == handpix::ProfileState::kUnreadable && value == -1 &&
                   !WritePrivateProfileStringA("Info", "Dirnum", "1", m_file.c_str()) ? 0 : 1;
        };
        EXPECT_EQ(handpix::test::RunInChild(attempt, {.seconds = 10, .unprivileged = !tooLarge}).exitCode, 0) << tooLarge;
        ::chmod(m_file.c_str(), 0644);
        EXPECT_EQ(Text().substr(0, 18), "[Info]\r\nDirnum=9\r\n") << tooLarge;
    }
}

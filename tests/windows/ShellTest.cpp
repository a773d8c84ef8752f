#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "handpix/platform/core/MessageBox.h"
#include "handpix/platform/windows/Shell.h"

namespace {
namespace fs = std::filesystem;

TEST(ShellDelete, RemovesExactlyTheListedNamesAndReportsEachFailureOnce) {
    fs::path dir = fs::temp_directory_path() / ("handpix_shell_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    for (const char* n : {"a.jpg", "b.jpg", "keep.jpg"}) std::ofstream(dir / n) << n;
    std::vector<std::string> boxes;
    auto old = handpix::SetMessageBoxHandler([&](const char* text, const char*, UINT) {
        boxes.emplace_back(text);
        return IDOK;
    });
    std::string from = (dir / "a.jpg").string() + '\0' + (dir / "missing.jpg").string() + '\0' +
                       (dir / "b.jpg").string() + '\0' + '\0';
    SHFILEOPSTRUCTA op{nullptr, FO_DELETE, from.c_str(), nullptr, FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR,
                       FALSE, nullptr, ""};
    EXPECT_NE(SHFileOperationA(&op), 0);
    handpix::SetMessageBoxHandler(old);
    EXPECT_FALSE(fs::exists(dir / "a.jpg"));
    EXPECT_FALSE(fs::exists(dir / "b.jpg"));  // after the failure, the rest still go
    EXPECT_TRUE(fs::exists(dir / "keep.jpg"));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].find("missing.jpg"), std::string::npos);
    fs::remove_all(dir);
}

}  // namespace

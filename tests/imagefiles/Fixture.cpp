#include "tests/imagefiles/Fixture.h"

#include <filesystem>

#include "handpix/platform/core/Limits.h"

void ImageFilesTest::SetUp() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "_" + info->name();
    for (char& c : name)
        if (c == '/') c = '_';
    m_dir = (std::filesystem::temp_directory_path() / ("handpix_" + name)).string();
    std::filesystem::remove_all(m_dir);
    std::filesystem::create_directories(m_dir);
    m_old = handpix::SetMessageBoxHandler([this](const char* text, const char*, UINT) {
        m_messages.emplace_back(text);
        return IDOK;
    });
}

void ImageFilesTest::TearDown() {
    handpix::SetMaxPicturePixels(0);  // tests that lower or raise the limit leave the default behind
    handpix::SetMessageBoxHandler(m_old);
    std::filesystem::remove_all(m_dir);
}

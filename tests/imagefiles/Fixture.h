#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "handpix/platform/core/MessageBox.h"

// A temporary folder per test and a recorder of message boxes.
class ImageFilesTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::string Path(const std::string& name) const { return m_dir + "/" + name; }
    std::string m_dir;
    std::vector<std::string> m_messages;

private:
    handpix::MessageBoxHandler m_old;
};

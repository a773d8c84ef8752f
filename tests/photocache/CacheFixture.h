// A list window in a host window, its cache root and source folder in a
// private temporary tree, and a recorder for the message boxes.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "handpix/photolist/PhotoListCtrl.h"
#include "handpix/platform/core/MessageBox.h"
#include "handpix/platform/core/Profile.h"
#include "handpix/platform/windows/Desktop.h"
#include "tests/support/PhotoCacheFiles.h"
#include "tests/support/WindowRecorder.h"

namespace handpix::test {

class CacheFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(tree.Path().empty());
        std::filesystem::create_directory(src);
        previous = SetMessageBoxHandler([this](const char* text, const char*, UINT) {
            boxes.emplace_back(text);
            return IDOK;
        });
    }
    void TearDown() override {
        list.reset();
        PumpMessages();
        SetMessageBoxHandler(previous);
    }
    CPhotoListCtrl& MakeList(_IMG_FORMAT kind = IMG_JPEG) {
        list = std::make_unique<CPhotoListCtrl>(kind);
        EXPECT_TRUE(list->Create(nullptr, "", WS_CHILD | WS_HSCROLL | WS_VSCROLL, CRect(0, 0, 500, 400), &host, 1));
        list->SetCacheRoot(CString(cacheRoot));
        list->SetBuildProgress([this](const PhotoListProgress& p) {
            if (onProgress) onProgress(p);
            if (p.finished) last = p, finished = true;
        });
        return *list;
    }
    // Builds on this thread, as the worker would after emptying the list.
    PhotoListProgress Build() {
        if (!list) MakeList();
        finished = false;
        list->DeleteAllItems();
        list->m_strPath = CString(src);
        list->InitPhotoList();
        PumpMessages();
        return last;
    }
    std::string Cache(const std::string& name = "") const { return cacheRoot + "/1" + (name.empty() ? "" : "/" + name); }
    std::string ListFile() const { return ReadBytes(Cache("ThumbListJpeg.lst")); }
    int Index(const char* section, const char* key) const {
        return static_cast<int>(GetPrivateProfileIntA(section, key, -1, (cacheRoot + "/FolderList.ini").c_str()));
    }
    std::vector<std::string> Names() {
        std::vector<std::string> names;
        for (POSITION pos = list->m_listItems.GetHeadPosition(); pos;)
            names.push_back(static_cast<CPhotoItem*>(list->m_listItems.GetNext(pos))->m_strName.str());
        std::sort(names.begin(), names.end());
        return names;
    }

    TempTree tree;
    std::string src = tree / "photos", cacheRoot = tree / "cache";
    WindowRecorder host;
    std::unique_ptr<CPhotoListCtrl> list;
    std::vector<std::string> boxes;
    MessageBoxHandler previous;
    std::function<void(const PhotoListProgress&)> onProgress;
    PhotoListProgress last;
    std::atomic<bool> finished{false};
};

}  // namespace handpix::test

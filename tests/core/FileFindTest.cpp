// Folder listings: the order of names, what a listing holds, and which names
// are JPEG pictures.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "handpix/platform/core/FileFind.h"

namespace {

// Upper-cased code point order: "_" (5F) after "Z", Greek and Cyrillic small
// letters among their capitals, case twins by their bytes (capital first),
// bytes of broken UTF-8 after every valid name below U+DC00, digits not
// read as numbers.
const std::vector<std::string> kOrder = {
    "10.jpg", "9.jpg", "A.jpg", "a.jpg", "apple.jpg", "B2.jpg", "b3.jpg", "z.jpg", "_under.jpg",
    "\xC3\x89.jpg",      // É
    "\xC3\xA9.jpg",      // é
    "\xC5\x81" "a.jpg",  // Ła
    "\xC5\x82" "b.jpg",  // łb
    "\xCE\xB1.jpg",      // α
    "\xCE\xA9.jpg",      // Ω
    "\xD0\xB1.jpg",      // б
    "\xD0\xAF.jpg",      // Я
    "가.jpg", "나 사진.jpg",
    "\xC0\xAF.jpg",      // an overlong '/'
    "\xC3.jpg",          // a lead byte alone
    "\xED\xA0\x80.jpg",  // a surrogate
    "\xFF.jpg",
    "\xEF\xBD\x81.jpg",  // full-width a
};

TEST(FileFind, NamesSortByUpperCasedCodePoints) {
    std::vector<std::string> names = kOrder;
    std::shuffle(names.begin(), names.end(), std::mt19937(7));
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return handpix::CompareFileNames(a, b) < 0; });
    EXPECT_EQ(names, kOrder);
    EXPECT_EQ(handpix::CompareFileNames("x.JPG", "x.JPG"), 0);
}

TEST(FileFind, ListsSortedFilesFollowingLinks) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("filefind-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir / "x.jpg");
    for (const char* name : {"b.JPG", "A.jpg", "notes.txt"}) std::ofstream(dir / name) << name;
    std::filesystem::create_symlink("A.jpg", dir / "link.jpg");
    std::filesystem::create_symlink("nowhere.jpg", dir / "dead.jpg");
    const std::vector<handpix::FolderEntry> entries = handpix::ListFolder(dir.string(), handpix::IsJpegName);
    std::vector<std::string> seen;
    for (const auto& e : entries) seen.push_back(e.name + (e.file ? ":" + std::to_string(e.size) : ""));
    EXPECT_EQ(seen, (std::vector<std::string>{"A.jpg:5", "b.JPG:5", "dead.jpg", "link.jpg:5", "x.jpg"}));
    EXPECT_EQ(handpix::ListFolder(dir.string()).size(), 6u);
    std::filesystem::remove_all(dir);
    EXPECT_TRUE(handpix::ListFolder(dir.string()).empty());
}

TEST(FileFind, JpegNames) {
    struct Case {
        const char* name;
        bool jpeg, extension;
    };
    for (const Case& c : {Case{"a.jpg", true, true}, {"A.JPG", true, true}, {"a.JPEG", true, true}, {"a.Jpe", true, true},
                          {".jpe", true, true}, {"photo.jpg.bak", true, false}, {"x.JPGs", true, false},
                          {"a.jpeg.bak", false, false}, {"a.jpegx", false, false}, {"a.jp", false, false},
                          {"jpg", false, false}, {"a.mpeg", false, false}}) {
        EXPECT_EQ(handpix::IsJpegName(c.name), c.jpeg) << c.name;
        EXPECT_EQ(handpix::HasJpegExtension(c.name), c.extension) << c.name;
    }
}

}  // namespace

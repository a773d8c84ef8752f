// The order of names in a folder listing, and which names are JPEG pictures.
#include <gtest/gtest.h>

#include <algorithm>
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

// Any ".jpg" counts, as it did; the longer endings only at the end.
TEST(FileFind, JpegNames) {
    for (const char* yes : {"a.JPEG", "a.Jpe", ".jpe", "photo.jpg.bak", "x.JPGs"}) EXPECT_TRUE(handpix::IsJpegName(yes)) << yes;
    for (const char* no : {"a.jpeg.bak", "a.jpegx", "a.jp", "jpg", "a.mpeg"}) EXPECT_FALSE(handpix::IsJpegName(no)) << no;
    EXPECT_FALSE(handpix::HasJpegExtension("photo.jpg.bak"));
}

}  // namespace

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "handpix/picture/Picture.h"

namespace {
using Header = std::array<BYTE, 20>;

// Bytes given as a string (embedded zeros allowed), the rest zero.
Header Make(std::string_view bytes) {
    Header h{};
    std::memcpy(h.data(), bytes.data(), std::min(bytes.size(), h.size()));
    return h;
}

Header Sound(BYTE byte17) {
    Header h = Make("MMMD");
    for (int i = 4; i < 17; ++i) h[static_cast<std::size_t>(i)] = 'x';
    h[17] = byte17;
    return h;
}

struct DetectCase {
    const char* what;
    Header header;
    const char* extension;             // GetExtension
    const char *kind7, *kind9, *kind0;  // ApplyExtension appends, for kinds 7, 9 and 0
};

const Header kJfif = Make(std::string_view("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01\x01", 13));
const Header kExif = Make(std::string_view("\xFF\xD8\xFF\xE1\x12\x34" "Exif\x00\x00MM", 14));
const Header kBmp = Make(std::string_view("BM\x36\x10\x0E\x00\x00\x00\x00\x00\x36\x00\x00\x00\x28", 15));
const Header kGif = Make("GIF89a\x10\x01");
const Header kImg = Make(std::string_view("IMG \x80\x00\x80\x00\x80\x00\x10", 11));
const Header kPht = Make(std::string_view("phone-pht-prefix" "IMG", 19));
const Header kAni = Make(std::string_view("ANI\x00\x80\x00", 6));
const Header kSni = Make(std::string_view("SNI\x00\x80\x00", 6));
const Header kAniLate = Make(std::string_view("ab\x00" "ANI", 6));
const Header kAniPastByte18 = Make(std::string_view("abcdefghijklmnopqANI", 20));

class Detect : public ::testing::TestWithParam<DetectCase> {};
}  // namespace

TEST_P(Detect, NamesTheFormatFromTheHeader) {
    DetectCase c = GetParam();
    EXPECT_EQ(CPicture::GetExtension(c.header.data()), CString(c.extension)) << c.what;
    const std::pair<int, const char*> kinds[] = {{7, c.kind7}, {9, c.kind9}, {0, c.kind0}};
    for (auto [kind, want] : kinds) {
        CString name("photo");
        CPicture::ApplyExtension(name, c.header.data(), kind);
        EXPECT_EQ(name, CString("photo") + want) << c.what << ", kind " << kind;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Headers, Detect,
    ::testing::Values(
        DetectCase{"JFIF: searches from 0 stop at the zero at offset 4", kJfif, "jpg", ".jpg", ".jpg", ".jpg"},
        DetectCase{"Exif: found through xif, not applied", kExif, "jpg", "", ".jpg", ""},
        DetectCase{"BMP", kBmp, "bmp", "", ".jpg", ""},
        DetectCase{"GIF89a", kGif, "gif", "", ".jpg", ""},
        DetectCase{"IMG: the family is named by kind", kImg, "pht", ".img", ".pht", ""},
        DetectCase{"PHT prefix then IMG", kPht, "pht", ".img", ".pht", ""},
        DetectCase{"EBA", kAni, "eba", ".eba", ".eba", ".eba"},
        DetectCase{"SNI", kSni, "eba", ".eba", ".eba", ".eba"},
        DetectCase{"ANI after a zero byte is not seen", kAniLate, "", "", ".jpg", ""},
        DetectCase{"ANI that reaches byte 19 is cut off", kAniPastByte18, "", "", ".jpg", ""},
        DetectCase{"newer sound: byte 17 is 0x32", Sound(0x32), "ma3", ".mmf", ".mmf", ".mmf"},
        DetectCase{"older sound: byte 17 is 0x31", Sound(0x31), "ma2", ".ma2", ".ma2", ".ma2"},
        DetectCase{"older sound: byte 17 below '0'", Sound(0x20), "ma2", ".ma2", ".ma2", ".ma2"},
        DetectCase{"byte 17 above 0x7F is negative", Sound(0xF5), "ma2", ".ma2", ".ma2", ".ma2"},
        DetectCase{"sound whose byte 17 is zero ends nothing early", Sound(0x00), "ma2", ".ma2", ".ma2", ".ma2"},
        DetectCase{"nothing known", Make("hello, world"), "", "", ".jpg", ""}));

TEST(ApplyExtension, OnlyADotFourFromTheEndKeepsTheName) {
    // A dot and three characters: unchanged; a dot and four: extended; a name
    // shorter than four is taken whole and kept only when it starts with its dot;
    // in ".y.z" the first dot comes first.
    const std::pair<const char*, const char*> cases[] = {
        {"IMG0001.jpg", "IMG0001.jpg"}, {"IMG0001.jpeg", "IMG0001.jpeg.jpg"}, {"IMG0001", "IMG0001.jpg"},
        {"a.b", "a.b.jpg"}, {".ab", ".ab"}, {".abc", ".abc"}, {"x.y.z", "x.y.z"}, {"xy.z", "xy.z.jpg"},
    };
    for (auto [before, after] : cases) {
        CString name(before);
        Header h = kExif;
        CPicture::ApplyExtension(name, h.data(), 9);
        EXPECT_EQ(name, CString(after)) << before;
    }
}

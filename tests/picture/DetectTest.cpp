#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "handpix/picture/Picture.h"

namespace {
using namespace std::string_view_literals;
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

const Header kExif = Make("\xFF\xD8\xFF\xE1\x12\x34" "Exif\x00\x00MM"sv);
}  // namespace

TEST(Detect, NamesTheFormatFromTheHeader) {
    const struct {
        const char* what;
        Header header;
        const char* extension;             // GetExtension
        const char *kind7, *kind9, *kind0;  // ApplyExtension appends, for kinds 7, 9 and 0
    } cases[] = {
        {"JFIF: searches from 0 stop at the zero at offset 4", Make("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01\x01"sv), "jpg",
         ".jpg", ".jpg", ".jpg"},
        {"Exif: found through xif, not applied", kExif, "jpg", "", ".jpg", ""},
        {"BMP", Make("BM\x36\x10\x0E\x00\x00\x00\x00\x00\x36\x00\x00\x00\x28"sv), "bmp", "", ".jpg", ""},
        {"GIF89a", Make("GIF89a\x10\x01"), "gif", "", ".jpg", ""},
        {"IMG: the family is named by kind", Make("IMG \x80\x00\x80\x00\x80\x00\x10"sv), "pht", ".img", ".pht", ""},
        {"PHT prefix then IMG", Make("phone-pht-prefix" "IMG"), "pht", ".img", ".pht", ""},
        {"EBA", Make("ANI\x00\x80\x00"sv), "eba", ".eba", ".eba", ".eba"},
        {"SNI", Make("SNI\x00\x80\x00"sv), "eba", ".eba", ".eba", ".eba"},
        {"ANI after a zero byte is not seen", Make("ab\x00" "ANI"sv), "", "", ".jpg", ""},
        {"ANI that reaches byte 19 is cut off", Make("abcdefghijklmnopqANI"), "", "", ".jpg", ""},
        {"newer sound: byte 17 is 0x32", Sound(0x32), "ma3", ".mmf", ".mmf", ".mmf"},
        {"older sound: byte 17 is 0x31", Sound(0x31), "ma2", ".ma2", ".ma2", ".ma2"},
        {"older sound: byte 17 below '0'", Sound(0x20), "ma2", ".ma2", ".ma2", ".ma2"},
        {"byte 17 above 0x7F is negative", Sound(0xF5), "ma2", ".ma2", ".ma2", ".ma2"},
        {"sound whose byte 17 is zero ends nothing early", Sound(0x00), "ma2", ".ma2", ".ma2", ".ma2"},
        {"nothing known", Make("hello, world"), "", "", ".jpg", ""},
    };
    for (auto c : cases) {
        EXPECT_EQ(CPicture::GetExtension(c.header.data()), CString(c.extension)) << c.what;
        for (auto [kind, want] : {std::pair{7, c.kind7}, {9, c.kind9}, {0, c.kind0}}) {
            CString name("photo");
            CPicture::ApplyExtension(name, c.header.data(), kind);
            EXPECT_EQ(name, CString("photo") + want) << c.what << ", kind " << kind;
        }
    }
}

TEST(ApplyExtension, OnlyADotFourFromTheEndKeepsTheName) {
    // A dot and three characters: unchanged; a dot and four: extended, unless
    // they are a JPEG name's; a name shorter than four is taken whole and kept
    // only when it starts with its dot; in ".y.z" the first dot comes first.
    const std::pair<const char*, const char*> cases[] = {
        {"IMG0001.jpg", "IMG0001.jpg"}, {"IMG0001.tiff", "IMG0001.tiff.jpg"}, {"IMG0001", "IMG0001.jpg"},
        {"IMG0001.jpeg", "IMG0001.jpeg"}, {"IMG0001.JpEg", "IMG0001.JpEg"}, {"x.jpegs", "x.jpegs.jpg"},
        {"a.b", "a.b.jpg"}, {".ab", ".ab"}, {".abc", ".abc"}, {"x.y.z", "x.y.z"}, {"xy.z", "xy.z.jpg"},
    };
    for (auto [before, after] : cases) {
        CString name(before);
        Header h = kExif;
        CPicture::ApplyExtension(name, h.data(), 9);
        EXPECT_EQ(name, CString(after)) << before;
    }
}

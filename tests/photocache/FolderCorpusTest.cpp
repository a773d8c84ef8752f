// A folder as cameras and people leave it: names in mixed case and Hangul,
// every JPEG ending, all eight EXIF orientations, progressive, CMYK and grey
// files, an empty file, a folder and links named like pictures. The build
// lists it in name order, turns every thumbnail upright, captions the
// upright size, and remakes exactly the turned thumbnails when the switch
// changes.
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "handpix/imagefiles/Orientation.h"
#include "tests/photocache/CacheFixture.h"
#include "tests/support/JpegPeer.h"
#include "tests/support/JpegSegments.h"

namespace handpix::test {
namespace {
namespace fs = std::filesystem;

constexpr int kW = 240, kH = 160;  // upright; thumbnails 100 x 66
struct Rgb {
    int r, g, b;
};
constexpr Rgb kRed{220, 30, 30}, kGreen{30, 200, 30}, kBlue{30, 30, 220}, kWhite{240, 240, 240};

// The picture of four coloured quarters, top-left, top-right, bottom-left, bottom-right.
jpegtest::Picture Quarters(int w, int h, const Rgb (&q)[4]) {
    jpegtest::Picture p{w, h, 3, std::vector<std::uint8_t>(static_cast<std::size_t>(w * h * 3))};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const Rgb& c = q[(y >= h / 2 ? 2 : 0) + (x >= w / 2 ? 1 : 0)];
            std::uint8_t* px = &p.px[static_cast<std::size_t>((y * w + x) * 3)];
            px[0] = static_cast<std::uint8_t>(c.r), px[1] = static_cast<std::uint8_t>(c.g), px[2] = static_cast<std::uint8_t>(c.b);
        }
    return p;
}

// How a camera stores the upright quarters (red, green / blue, white) under
// each tag, read from the tag's meaning: value n puts the stored row 0 and
// column 0 at the sides (top/left), (top/right), (bottom/right),
// (bottom/left), (left/top), (right/top), (right/bottom), (left/bottom).
const Rgb kStored[9][4] = {
    {},
    {kRed, kGreen, kBlue, kWhite},  {kGreen, kRed, kWhite, kBlue}, {kWhite, kBlue, kGreen, kRed},
    {kBlue, kWhite, kRed, kGreen},  {kRed, kBlue, kGreen, kWhite}, {kGreen, kWhite, kRed, kBlue},
    {kWhite, kGreen, kBlue, kRed},  {kBlue, kRed, kWhite, kGreen},
};

std::string Str(const jpegtest::Bytes& b) { return std::string(b.begin(), b.end()); }
jpegtest::Bytes Bytes(const std::string& s) { return jpegtest::Bytes(s.begin(), s.end()); }

jpegtest::Bytes Stored(int tag, bool withExif, jpegtest::EncodeOptions o = {}) {
    const bool side = OrientationSwapsSides(tag);
    jpegtest::Bytes file = jpegtest::PeerEncode(Quarters(side ? kH : kW, side ? kW : kH, kStored[tag]), o);
    if (!withExif) return file;
    jpegtest::ExifBlock exif;
    exif.orientation = tag;
    exif.bigEndian = tag % 2 == 0;
    return jpegtest::WithExif(file, jpegtest::ExifPayload(exif), tag > 4);
}

// The tagged files by name: mixed case, every JPEG ending.
const char* const kTagged[9] = {nullptr, "r1.jpg", "R2.JPG", "r3.jpeg", "R4.JPE", "r5.jpe", "R6.jpg", "r7.JPEG", "r8.jpg"};

class FolderCorpus : public CacheFixture {
protected:
    void SetUp() override {
        CacheFixture::SetUp();
        for (int tag = 1; tag <= 8; ++tag) WriteBytes(src + "/" + kTagged[tag], Str(Stored(tag, true)));
        WriteBytes(src + "/plain.jpg", Str(Stored(1, false)));
        WriteBytes(src + "/photo.jpg.bak", Str(Stored(1, false)));
        WriteBytes(src + "/_under.jpg", Str(Stored(1, false)));
        jpegtest::EncodeOptions progressive;
        progressive.progressive = true;
        WriteBytes(src + "/Progressive.jpg", Str(Stored(1, false, progressive)));
        jpegtest::EncodeOptions cmyk;
        cmyk.cmyk = true;
        WriteBytes(src + "/cmyk.JPG", Str(jpegtest::PeerEncode(jpegtest::PhotoLike(120, 90, 4), cmyk)));
        jpegtest::Picture grey{64, 80, 1, std::vector<std::uint8_t>(64 * 80, 128)};
        WriteBytes(src + "/회색.jpg", Str(jpegtest::PeerEncode(grey, {})));
        WriteBytes(src + "/empty.jpg", "");
        WriteBytes(src + "/notes.txt", "not a picture");
        fs::create_directory(src + "/x.jpg");
        fs::create_symlink("R6.jpg", src + "/link.jpg");
        fs::create_symlink("gone.jpg", src + "/dead.jpg");
    }
    void TearDown() override {
        SetAutoOrient(true);
        CacheFixture::TearDown();
    }
    // Name and caption of every item, in list order.
    std::vector<std::pair<std::string, std::string>> Items() {
        std::vector<std::pair<std::string, std::string>> items;
        for (POSITION pos = list->m_listItems.GetHeadPosition(); pos;) {
            auto* item = static_cast<CPhotoItem*>(list->m_listItems.GetNext(pos));
            items.emplace_back(item->m_strName.str(), item->m_strInfo.str());
        }
        return items;
    }
    // What ends a thumbnail's line in the list file: the turn field, or the caption.
    std::string Turn(const std::string& thumb) {
        const std::string bytes = ListFile();
        const std::size_t at = bytes.find(thumb + "?"), end = bytes.find('\r', at);
        return bytes.substr(bytes.rfind('?', end) + 1, end - bytes.rfind('?', end) - 1);
    }
};

// Upper-cased name order, whatever the file system's own; only files and
// links to files, any JPEG ending in any case.
const std::vector<std::string> kOrder = {
    "cmyk.JPG", "empty.jpg", "link.jpg", "photo.jpg.bak", "plain.jpg", "Progressive.jpg", "r1.jpg", "R2.JPG",
    "r3.jpeg",  "R4.JPE",    "r5.jpe",   "R6.jpg",        "r7.JPEG",   "r8.jpg",          "_under.jpg", "회색.jpg",
};

TEST_F(FolderCorpus, ListsInNameOrderWithUprightThumbnailsAndCaptions) {
    EXPECT_EQ(Build().made, static_cast<int>(kOrder.size()));
    std::string bytes = ListFile();
    std::size_t line = 0;
    for (const auto& [name, info] : Items()) {
        ASSERT_LT(line, kOrder.size());
        EXPECT_EQ(name, kOrder[line]);
        EXPECT_EQ(bytes.substr(0, bytes.find('\n')).find(LowerName(name) + "?"), 0u) << name;  // the lines follow too
        bytes.erase(0, bytes.find('\n') + 1);
        // Captions give the upright size.
        const std::string size = name == "cmyk.JPG" ? "120×90(" : name == "회색.jpg" ? "64×80(" : name == "empty.jpg" ? "0×0(0 KB)" : "240×160(";
        EXPECT_EQ(info.substr(0, size.size()), size) << name;
        ++line;
    }
    EXPECT_EQ(line, kOrder.size());

    // The thumbnails, and the fixed-size copy the one-path form makes of a photo stored on its side.
    const fs::path fixed = tree / "fixed.jpg";
    fs::copy_file(src + "/R6.jpg", fixed);
    CString fixedPath(fixed.c_str());
    CPicture().ResizingImage(fixedPath);
    std::vector<std::pair<std::string, int>> upright = {{fixed.string(), 75}};
    for (const char* name : {"r1.jpg", "r2.jpg", "r3.jpeg", "r4.jpe", "r5.jpe", "r6.jpg", "r7.jpeg", "r8.jpg", "link.jpg",
                             "plain.jpg", "progressive.jpg"})
        upright.emplace_back(Cache(name), 66);
    for (const auto& [path, height] : upright) {
        jpegtest::Picture thumb;
        ASSERT_TRUE(jpegtest::PeerDecode(Bytes(ReadBytes(path)), thumb)) << path;
        ASSERT_EQ(thumb.width * 1000 + thumb.height, 100 * 1000 + height) << path;
        const Rgb want[4] = {kRed, kGreen, kBlue, kWhite};
        for (int q = 0; q < 4; ++q) {
            const int x = q % 2 ? 75 : 25, y = q / 2 ? height * 3 / 4 : height / 4;
            const std::uint8_t* px = &thumb.px[static_cast<std::size_t>((y * thumb.width + x) * 3)];
            const int got[3] = {px[0], px[1], px[2]}, wanted[3] = {want[q].r, want[q].g, want[q].b};
            for (int c = 0; c < 3; ++c) EXPECT_NEAR(got[c], wanted[c], 40) << path << " quarter " << q;
        }
    }
    EXPECT_EQ(Turn("r6.jpg"), "o6");
    EXPECT_EQ(Turn("plain.jpg"), "o1");
    // A tag of 1 changes nothing: the thumbnail is the untagged file's, byte for byte.
    EXPECT_EQ(ReadBytes(Cache("r1.jpg")), ReadBytes(Cache("plain.jpg")));
    // The empty file is the one picture that cannot be read, and says so.
    EXPECT_EQ(boxes, std::vector<std::string>{"LoadJPG: ijlRead( &image, IJL_JFILE_READPARAMS ) failed!"});
}

// Only thumbnails the switch concerns are remade when it changes, lines from
// before the tag was recorded included; with the switch off every thumbnail
// is what the picture's stored pixels give without a tag.
TEST_F(FolderCorpus, TheSwitchDecidesWhichThumbnailsAreStillGood) {
    const int turned = 8;  // r2 to r8 and the link to R6; empty.jpg never has a thumbnail
    EXPECT_EQ(Build().made, static_cast<int>(kOrder.size()));
    EXPECT_EQ(Build().made, 1);
    SetAutoOrient(false);
    EXPECT_EQ(Build().made, turned + 1);
    EXPECT_EQ(Turn("r6.jpg"), "o6n");
    EXPECT_EQ(Items()[11].second.substr(0, 9), "160×240(");  // R6.jpg
    CPicture picture;
    for (int tag = 1; tag <= 8; ++tag) {
        CString raw((tree / "raw.jpg").c_str()), thumb((tree / "thumb.jpg").c_str());
        WriteBytes(raw.str(), Str(Stored(tag, false)));
        picture.ResizingImage(raw, thumb);
        EXPECT_EQ(ReadBytes(thumb.str()), ReadBytes(Cache(LowerName(kTagged[tag])))) << tag;
    }
    EXPECT_EQ(Build().made, 1);

    // Lines of a build that did not record the tag: good while the switch is
    // off; with it on, the tag is read and the tagged pictures remade.
    const std::string old = std::regex_replace(ListFile(), std::regex("\\?o[1-8]n?\r"), "\r");
    WriteBytes(Cache("ThumbListJpeg.lst"), old);
    EXPECT_EQ(Build().made, 1);
    EXPECT_NE(Turn("r6.jpg").find('\\'), std::string::npos);  // no turn field: the last '?' is the size's
    SetAutoOrient(true);
    EXPECT_EQ(Build().made, turned + 1);
    EXPECT_EQ(Turn("r6.jpg"), "o6");
    EXPECT_EQ(Build().made, 1);
}

}  // namespace
}  // namespace handpix::test

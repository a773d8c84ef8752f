// The EXIF orientation of JPEG files: which segments and IFD entries count,
// both byte orders, and what is refused as out of bounds.
#include <fstream>
#include <string>
#include <vector>

#include "handpix/imagefiles/Orientation.h"
#include "tests/imagefiles/Fixture.h"
#include "tests/support/BmpWriter.h"
#include "tests/support/JpegPeer.h"
#include "tests/support/JpegSegments.h"

namespace {
using handpix::Status;
using jpegtest::Bytes;
using jpegtest::ExifBlock;

const Bytes& Plain() {
    static const Bytes file = jpegtest::PeerEncode(jpegtest::PhotoLike(16, 8, 3), {});
    return file;
}

struct Case {
    const char* what;
    Bytes file;
    Status status;
    int orientation;
};

ExifBlock Tagged(int orientation, bool bigEndian = false) {
    ExifBlock s;
    s.orientation = orientation;
    s.bigEndian = bigEndian;
    return s;
}

std::vector<Case> Cases() {
    std::vector<Case> cases;
    for (int o = 1; o <= 8; ++o)
        for (bool big : {false, true})
            cases.push_back({big ? "big-endian" : "little-endian", jpegtest::WithExif(Plain(), jpegtest::ExifPayload(Tagged(o, big))),
                             Status::ok, o});
    ExifBlock behind = Tagged(6, true);
    behind.others = 3;
    cases.push_back({"after APP0 and other tags", jpegtest::WithExif(Plain(), jpegtest::ExifPayload(behind), true), Status::ok, 6});
    ExifBlock far = Tagged(3);
    far.gap = 32;  // IFD0 need not follow the header
    cases.push_back({"IFD0 further on", jpegtest::WithExif(Plain(), jpegtest::ExifPayload(far)), Status::ok, 3});
    cases.push_back({"no Exif segment", Plain(), Status::ok, 1});
    ExifBlock none = Tagged(6);
    none.withTag = false;
    none.others = 2;
    cases.push_back({"no tag", jpegtest::WithExif(Plain(), jpegtest::ExifPayload(none)), Status::ok, 1});
    for (int bad : {0, 9, 0x106}) cases.push_back({"value outside 1 to 8", jpegtest::WithExif(Plain(), jpegtest::ExifPayload(Tagged(bad))), Status::ok, 1});
    ExifBlock asLong = Tagged(6);
    asLong.type = 4;
    cases.push_back({"not a SHORT", jpegtest::WithExif(Plain(), jpegtest::ExifPayload(asLong)), Status::ok, 1});
    ExifBlock outside = Tagged(6);
    outside.ifdOffset = 4000;
    cases.push_back({"IFD0 outside the block", jpegtest::WithExif(Plain(), jpegtest::ExifPayload(outside)), Status::invalid, 1});
    ExifBlock overlong = Tagged(6);
    overlong.claimedEntries = 200;
    cases.push_back({"more entries than bytes", jpegtest::WithExif(Plain(), jpegtest::ExifPayload(overlong)), Status::invalid, 1});
    Bytes badOrder = jpegtest::ExifPayload(Tagged(6));
    badOrder[6] = 'X';
    cases.push_back({"no byte order", jpegtest::WithExif(Plain(), badOrder), Status::invalid, 1});
    const Bytes tagged = jpegtest::WithExif(Plain(), jpegtest::ExifPayload(Tagged(6)));
    cases.push_back({"cut inside the segment", Bytes(tagged.begin(), tagged.begin() + 20), Status::truncated, 1});
    cases.push_back({"cut before the scan", Bytes(Plain().begin(), Plain().begin() + 30), Status::truncated, 1});
    Bytes junk = tagged;
    junk[2] = 0x00;
    cases.push_back({"junk where a marker belongs", junk, Status::invalid, 1});
    cases.push_back({"not a JPEG file", Bytes{'B', 'M', 0, 0}, Status::invalid, 1});
    return cases;
}

TEST(Orientation, ReadFromTheExifSegmentOnly) {
    for (const Case& c : Cases()) {
        int orientation = 0;
        EXPECT_EQ(handpix::ReadJpegOrientation(c.file.data(), c.file.size(), orientation), c.status) << c.what;
        EXPECT_EQ(orientation, c.orientation) << c.what << " " << c.orientation;
    }
}

// A file reads as its start does, also when the segment lies past the first
// read; what cannot be read at all is upright.
TEST_F(ImageFilesTest, FileOrientationLooksPastLargeSegments) {
    jpegtest::SplitFile s = jpegtest::Split(Plain());
    s.segments.insert(s.segments.begin(), jpegtest::Segment{0xE2, Bytes(60000, 0x55)});
    s.segments.insert(s.segments.begin() + 1, jpegtest::Segment{0xE1, jpegtest::ExifPayload(Tagged(8, true))});
    ASSERT_TRUE(handpix::test::WriteBytes(Path("far.jpg"), jpegtest::Join(s.segments, s.entropy)));
    EXPECT_EQ(handpix::JpegFileOrientation(Path("far.jpg").c_str()), 8);
    std::ofstream(Path("empty.jpg")).flush();
    EXPECT_EQ(handpix::JpegFileOrientation(Path("empty.jpg").c_str()), 1);
    EXPECT_EQ(handpix::JpegFileOrientation(m_dir.c_str()), 1);
}

}  // namespace

// The EXIF orientation of JPEG files: which segments and IFD entries count,
// both byte orders, and what is refused as out of bounds.
#include <fstream>
#include <string>

#include "handpix/imagefiles/Orientation.h"
#include "tests/imagefiles/Fixture.h"
#include "tests/support/BmpWriter.h"
#include "tests/support/JpegPeer.h"
#include "tests/support/JpegSegments.h"

namespace {
using handpix::Status;
using jpegtest::Bytes;

const Bytes kPlain = jpegtest::PeerEncode(jpegtest::PhotoLike(16, 8, 3), {});

Bytes Tagged(int orientation, void (*change)(jpegtest::ExifBlock&) = nullptr, bool late = false) {
    jpegtest::ExifBlock b;
    b.orientation = orientation;
    b.bigEndian = orientation % 2 == 0;
    if (change) change(b);
    return jpegtest::WithExif(kPlain, jpegtest::ExifPayload(b), late);
}

TEST(Orientation, ReadFromTheExifSegmentOnly) {
    const Bytes six = Tagged(6), three = Tagged(3);
    struct Case {
        const char* what;
        Bytes file;
        Status status;
        int orientation;
    };
    std::vector<Case> cases = {
        {"after APP0, behind other tags", Tagged(6, [](jpegtest::ExifBlock& b) { b.others = 3; }, true), Status::ok, 6},
        {"no Exif segment", kPlain, Status::ok, 1},
        {"no tag", Tagged(6, [](jpegtest::ExifBlock& b) { b.withTag = false, b.others = 2; }), Status::ok, 1},
        {"value 0", Tagged(0), Status::ok, 1},
        {"value 9", Tagged(9), Status::ok, 1},
        {"not a SHORT", Tagged(6, [](jpegtest::ExifBlock& b) { b.type = 4; }), Status::ok, 1},
        {"IFD0 outside the block", Tagged(6, [](jpegtest::ExifBlock& b) { b.ifdOffset = 4000; }), Status::invalid, 1},
        {"more entries than bytes", Tagged(6, [](jpegtest::ExifBlock& b) { b.claimedEntries = 200; }), Status::invalid, 1},
        {"cut inside IFD0", Bytes(six.begin(), six.begin() + 20), Status::truncated, 1},
        {"cut before the scan", Bytes(kPlain.begin(), kPlain.begin() + 30), Status::truncated, 1},
        {"not a JPEG file", Bytes{'B', 'M', 0, 0}, Status::invalid, 1},
    };
    for (int o = 1; o <= 8; ++o) cases.push_back({"each value, byte order by parity", Tagged(o), Status::ok, o});
    // Only the start of the segment matters: the rest may not be there yet.
    cases.push_back({"segment cut after IFD0", Bytes(three.begin(), three.begin() + 36), Status::ok, 3});
    for (const Case& c : cases) {
        int orientation = 0;
        EXPECT_EQ(handpix::ReadJpegOrientation(c.file.data(), c.file.size(), orientation), c.status) << c.what;
        EXPECT_EQ(orientation, c.orientation) << c.what << " " << c.orientation;
    }
}

// IFD0 past the first read is still found; what cannot be read is upright.
TEST_F(ImageFilesTest, FileOrientationLooksPastLargeSegments) {
    jpegtest::SplitFile s = jpegtest::Split(Tagged(8));
    s.segments.insert(s.segments.begin(), jpegtest::Segment{0xE2, Bytes(60000, 0x55)});
    ASSERT_TRUE(handpix::test::WriteBytes(Path("far.jpg"), jpegtest::Join(s.segments, s.entropy)));
    EXPECT_EQ(handpix::JpegFileOrientation(Path("far.jpg").c_str()), 8);
    std::ofstream(Path("empty.jpg")).flush();
    EXPECT_EQ(handpix::JpegFileOrientation(Path("empty.jpg").c_str()), 1);
    EXPECT_EQ(handpix::JpegFileOrientation(m_dir.c_str()), 1);
}

}  // namespace

// The picture limit and the data rule across the BMP, GIF and JPEG readers,
// through the file loader and through the stream entries the picture loader
// uses; and regular files only.
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "handpix/imagefiles/BmpReader.h"
#include "handpix/imagefiles/GifReader.h"
#include "handpix/imagefiles/GraphicFileLoad.h"
#include "handpix/imagefiles/JpegReader.h"
#include "handpix/platform/core/Limits.h"
#include "tests/imagefiles/Fixture.h"
#include "tests/support/BmpWriter.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/GifWriter.h"
#include "tests/support/JpegPeer.h"
#include "tests/support/JpegSegments.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Bmp(int w, int h) {
    handpix::test::BmpSpec s;
    s.width = w;
    s.height = h;
    s.pixels.assign(static_cast<std::size_t>(w) * h, 0x336699);
    return handpix::test::MakeBmp(s);
}

Bytes Gif(int w, int h) {
    handpix::test::GifFile f;
    f.globalMap = {{1, 2, 3}, {4, 5, 6}};
    f.images.push_back(handpix::test::MakeImage(w, h, Bytes(static_cast<std::size_t>(w) * h, 1)));
    return handpix::test::EncodeGif(f);
}

Bytes Jpeg(int w, int h, bool progressive = false) {
    jpegtest::Picture p{w, h, 3, Bytes(static_cast<std::size_t>(w) * h * 3, 128)};
    jpegtest::EncodeOptions o;
    o.progressive = progressive;
    return jpegtest::PeerEncode(p, o);
}

// Loads through the memory and stream entries: true when a picture came back.
bool StreamLoads(const Bytes& b) {
    int w = 0, h = 0;
    unsigned char* p = nullptr;
    if (b[0] == 0xFF) {
        p = handpix::ReadJpegMemory(b.data(), b.size(), &w, &h);
    } else if (FILE* f = fmemopen(const_cast<std::uint8_t*>(b.data()), b.size(), "rb")) {
        if (b[0] == 'B') p = CBmpReader().ReadBmpStream(f, &w, &h);
        else p = CGifReader().ReadGifStream(f, "s.gif", &w, &h);
        std::fclose(f);
    }
    delete[] p;
    return p != nullptr;
}

struct LimitCase {
    const char* name;
    const char* ext;
    Bytes (*make)(int w, int h);
};

const LimitCase kReaders[] = {
    {"Bmp", ".bmp", Bmp},
    {"Gif", ".gif", Gif},
    {"Jpeg", ".jpg", [](int w, int h) { return Jpeg(w, h); }},
};

class ReaderLimits : public ImageFilesTest, public ::testing::WithParamInterface<LimitCase> {
protected:
    // The reader's own words for the last failure: its text, or the message shown.
    std::string Reason(const std::string& path) {
        int w, h;
        if (GetParam().ext == std::string(".bmp")) {
            CBmpReader r;
            delete[] r.ReadBmp(CString(path.c_str()), &w, &h);
            return r.m_strError.c_str();
        }
        if (GetParam().ext == std::string(".gif")) {
            CGifReader r;
            delete[] r.ReadGif(CString(path.c_str()), &w, &h);
            return r.m_strError.c_str();
        }
        return m_messages.empty() ? "" : m_messages.back();
    }
};

}  // namespace

TEST_P(ReaderLimits, LoadAtTheLimitAndRefuseOnePixelOver) {
    const std::string path = Path(std::string("p") + GetParam().ext);
    const Bytes bytes = GetParam().make(40, 25);
    ASSERT_TRUE(handpix::test::WriteBytes(path, bytes));
    CGraphicFileLoad g;
    handpix::SetMaxPicturePixels(1000);
    EXPECT_EQ(g.LoadGraphicFile(path.c_str()), 0);
    EXPECT_TRUE(StreamLoads(bytes));
    handpix::SetMaxPicturePixels(999);
    EXPECT_EQ(g.LoadGraphicFile(path.c_str()), 1);
    EXPECT_EQ(g.m_pDib, nullptr);
    EXPECT_FALSE(StreamLoads(bytes));
    EXPECT_EQ(Reason(path), "40 x 25 is over the 999-pixel limit");
}

INSTANTIATE_TEST_SUITE_P(Readers, ReaderLimits, ::testing::ValuesIn(kReaders),
                         [](const auto& info) { return std::string(info.param.name); });

// Every 8 x 8 block costs a JPEG at least one bit: a few hundred bytes cannot
// hold 4000 x 4000 pixels, baseline or progressive, though the limit allows them.
TEST_F(ImageFilesTest, JpegHeaderItsDataCannotFillIsRefused) {
    for (bool progressive : {false, true}) {
        const Bytes small = Jpeg(16, 16, progressive);
        const Bytes claims = jpegtest::WithFrameSize(small, 4000, 4000);
        ASSERT_TRUE(handpix::test::WriteBytes(Path("c.jpg"), claims));
        CGraphicFileLoad g;
        EXPECT_EQ(g.LoadGraphicFile(Path("c.jpg").c_str()), 1) << progressive;
        EXPECT_FALSE(StreamLoads(claims));
        ASSERT_FALSE(m_messages.empty());
        EXPECT_EQ(m_messages.back(), "JPEG 파일을 읽어들일 때 에러가 발생하였습니다.");
        EXPECT_TRUE(StreamLoads(small));
    }
}

// A FIFO under a picture's name is refused at once instead of blocking the load.
TEST_F(ImageFilesTest, FifosAreNotOpened) {
    for (const char* ext : {".bmp", ".gif", ".jpg", ".img", ".pht"}) {
        const std::string path = Path(std::string("b") + ext);
        ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
        const auto r = handpix::test::RunInChild([&] { return CGraphicFileLoad().LoadGraphicFile(path.c_str()); },
                                                 {.seconds = 10});
        EXPECT_FALSE(r.timedOut) << ext;
        EXPECT_EQ(r.exitCode, 1) << ext;
    }
}

// Every frame of a GIF animation as composed for `handpix pack`, and the
// whole road from such a GIF to an SNI file that reads back the same.
#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

#include "handpix/imagefiles/GifFrames.h"
#include "handpix/picture/HandsetWriter.h"
#include "handpix/platform/core/File.h"
#include "tests/handsetpictures/HandsetTestSupport.h"
#include "tests/support/GifWriter.h"

namespace handpix::test {
namespace {

// Colours that 5-6-5 shows exactly: white, red, blue, green.
const std::vector<GifColour> kMap = {{255, 255, 255}, {255, 0, 0}, {0, 0, 255}, {0, 255, 0}};

GifImage Box(int left, int top, int w, int h, std::uint8_t index, int disposal, int transparent = -1) {
    GifImage im = MakeImage(w, h, std::vector<std::uint8_t>(static_cast<std::size_t>(w * h), index));
    im.left = left, im.top = top;
    const std::uint8_t flags = static_cast<std::uint8_t>(disposal << 2 | (transparent >= 0 ? 1 : 0));
    im.extensions.push_back({0xF9, {{flags, 25, 0, static_cast<std::uint8_t>(std::max(0, transparent))}}});
    return im;
}

// An 8 x 4 screen: a white frame, a red 2 x 2 box that is then cleared, a
// blue box whose one transparent pixel shows the frame below and which is
// then undone, and a green pixel.
GifFile Animation() {
    GifFile f;
    f.globalMap = kMap;
    f.extensions.push_back({0xFF, {{'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'}, {1, 0, 0}}});
    f.images = {Box(0, 0, 8, 4, 0, 1), Box(1, 1, 2, 2, 1, 2), Box(4, 0, 2, 2, 2, 3, 3), Box(7, 3, 1, 1, 3, 1)};
    f.images[2].pixels[0] = 3;  // the transparent index
    return f;
}

std::string Drawn(const RgbaFrames& in, std::size_t f) {
    std::string s;
    for (int i = 0; i < in.width * in.height; ++i) {
        const Rgba& p = in.frames[f][static_cast<std::size_t>(i)];
        s += p.a < 128 ? '.' : p.g == 0 && p.b == 0 ? 'R' : p.r == 0 && p.g == 0 ? 'B' : p.r == 0 ? 'G' : 'W';
    }
    return s;
}

TEST_F(HandsetPictureTest, GifFramesComposeWithDisposal) {
    const std::string path = Write("a.gif", EncodeGif(Animation()));
    RgbaFrames in;
    std::string why;
    ASSERT_TRUE(ReadGifFrames(path.c_str(), 50, in, why)) << why;
    ASSERT_EQ(in.frames.size(), 4u);
    EXPECT_EQ(Drawn(in, 0), "WWWWWWWW" "WWWWWWWW" "WWWWWWWW" "WWWWWWWW");
    EXPECT_EQ(Drawn(in, 1), "WWWWWWWW" "WRRWWWWW" "WRRWWWWW" "WWWWWWWW");
    EXPECT_EQ(Drawn(in, 2), "WWWWWBWW" "W..WBBWW" "W..WWWWW" "WWWWWWWW");  // disposal 2 cleared the red box
    EXPECT_EQ(Drawn(in, 3), "WWWWWWWW" "W..WWWWW" "W..WWWWW" "WWWWWWWG");  // disposal 3 undid the blue box
    EXPECT_EQ(in.delays, (std::vector<unsigned>{3, 3, 3, 3}));  // 25 hundredths, rounded to tenths
    EXPECT_TRUE(in.loop);
    EXPECT_FALSE(ReadGifFrames(path.c_str(), 3, in, why));
    EXPECT_NE(why.find("more than 3 frames"), std::string::npos);
}

// A frame far larger than the screen over data that is already spent draws
// its one colour on the screen only, and the stream goes on after it; a frame
// beyond the picture limit is refused.
TEST_F(HandsetPictureTest, GifFramesOverSpentData) {
    for (const int height : {1500, 1600}) {
        GifBuilder b;
        b.Header(8, 4, 0x81).Map(kMap, 4).ImageDescriptor(65535, height, 0x40).Raw({2, 0});
        b.ImageDescriptor(1, 1, 0).Raw({2}).Raw(SubBlocks(LzwEncode({3}, 2, {}))).Raw({0x3B});
        RgbaFrames in;
        std::string why;
        const bool ok = ReadGifFrames(Write("spent.gif", b.bytes).c_str(), 50, in, why);
        ASSERT_EQ(ok, height == 1500) << why;
        if (!ok) continue;
        ASSERT_EQ(in.frames.size(), 2u);
        EXPECT_EQ(Drawn(in, 1), "GWWWWWWW" "WWWWWWWW" "WWWWWWWW" "WWWWWWWW");
    }
}

TEST_F(HandsetPictureTest, GifToSniReadsBackTheSame) {
    RgbaFrames in;
    std::string why;
    ASSERT_TRUE(ReadGifFrames(Write("a.gif", EncodeGif(Animation())).c_str(), 50, in, why)) << why;
    for (const bool dither : {true, false}) {
        const HandsetPixels p = ReduceColours(in, Rgb565Target(), dither);
        const EncodeResult r = EncodeSni(p, SniStream::saf);
        ASSERT_TRUE(r) << r.error;
        const std::string path = Write("a.sni", r.bytes);
        ASSERT_TRUE(pic->GetEBAHeader(path));
        EXPECT_EQ(Key(), (Rgb{255, 0, 255}));  // the cleared pixels are transparent
        EXPECT_EQ(pic->m_bTransparent, 1);
        for (int f = 0; f < 4; ++f) {
            ASSERT_TRUE(pic->GetEBAData(path, f));
            for (int i = 0; i < 32; ++i) {
                const Rgba& s = in.frames[static_cast<std::size_t>(f)][static_cast<std::size_t>(i)];
                const Rgb want = s.a < 128 ? Rgb{255, 0, 255} : Rgb{s.r, s.g, s.b};
                ASSERT_EQ(Frame(static_cast<std::size_t>(i)), want) << "frame " << f << " pixel " << i;
            }
        }
    }
}

}  // namespace
}  // namespace handpix::test

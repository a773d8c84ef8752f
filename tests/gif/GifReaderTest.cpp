#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <thread>

#include "tests/gif/GifDecode.h"

using namespace handpix::test;

namespace {

const std::vector<GifColour> kMap4 = DistinctMap(4);
constexpr int kBackground = 3;

// A 4-colour screen (minimum code size 2: clear 4, end 5) around image data.
std::vector<std::uint8_t> FourColourFile(int w, int h, const std::vector<std::uint8_t>& data, int imageFlags = 0,
                                         int background = kBackground) {
    return GifBuilder().Header(w, h, 0x81, background).Map(kMap4, 4).ImageDescriptor(w, h, imageFlags).Raw({2}).Raw(data).bytes;
}

std::vector<std::uint8_t> Pixels(const GifResult& r, std::size_t from, std::size_t n) {
    return {r.rgb.begin() + static_cast<std::ptrdiff_t>(3 * from), r.rgb.begin() + static_cast<std::ptrdiff_t>(3 * (from + n))};
}

std::vector<std::uint8_t> Bytes(const char* s) { return {s, s + std::strlen(s)}; }

TEST(GifReader, FailuresLeaveTheirTextAndNoPicture) {
    const auto header = GifBuilder().Header(1, 1, 0x81).Map(kMap4, 4).bytes;
    const auto tiny = SubBlocks(PackCodes({4, 1, 5}, 2));
    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;
        const char* error;
    };
    const Case cases[] = {
        {"empty", {}, "Error reading GIF Magic #\nmem.gif"},
        {"short magic", Bytes("GIF8"), "Error reading GIF Magic #\nmem.gif"},
        {"not GIF", Bytes("GIX89a\1\0\1\0\0\0\0;"), "Error, mem.gif is not a valid .GIF file"},
        {"bad version", Bytes("GIF88a\1\0\1\0\0\0\0;"), "Error, Bad GIF Version number"},
        {"short screen", Bytes("GIF87a\1\0\1\0\0"), "Error, failed to GIF read screen descriptor.\nGiving up"},
        {"short global map", GifBuilder().Header(1, 1, 0x81).Map(kMap4, 3).Raw({9}).bytes, "Error reading GIF colormap"},
        {"trailer only", GifBuilder().Header(1, 1, 0).Raw({0x3B}).bytes, "Unexpected EOF in GIF.\nGiving up"},
        {"extension cut", GifBuilder().Raw(header).Raw({0x21}).bytes, "Error on extension read.\nGiving up"},
        {"descriptor cut", GifBuilder().Raw(header).Raw({0x2C, 0, 0, 0, 0, 1}).bytes, "Error on dimension read\nGiving up"},
        {"zero width", GifBuilder().Raw(header).ImageDescriptor(0, 5, 0).Raw({2}).Raw(tiny).bytes, "Out of Memory in GIFRead"},
        {"zero height", GifBuilder().Raw(header).ImageDescriptor(5, 0, 0).Raw({2}).Raw(tiny).bytes, "Out of Memory in GIFRead"},
        {"short local map", GifBuilder().Raw(header).ImageDescriptor(1, 1, 0x81).Map(kMap4, 3).bytes,
         "Error reading GIF colormap\nGiving up"},
        {"no code size", GifBuilder().Raw(header).ImageDescriptor(1, 1, 0).bytes,
         "Error reading GIF file\nGIFScreen Colormap\nGiving up"},
        {"code size 12", GifBuilder().Raw(header).ImageDescriptor(1, 1, 0).Raw({12}).Raw(tiny).bytes,
         "Error reading GIF file\nGIFScreen Colormap\nGiving up"},
        {"no code size, local map", GifBuilder().Raw(header).ImageDescriptor(1, 1, 0x81).Map(kMap4, 4).bytes,
         "Error reading GIF file\nLocalColorMap\nGiving up"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const GifResult r = DecodeGifBytes(c.bytes);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error, c.error);
        EXPECT_EQ(r.width, -7);
        EXPECT_EQ(r.height, -7);
    }
}

TEST(GifReader, PathsAndTheReaderBase) {
    CGifReader reader;
    EXPECT_EQ(reader.m_strError, "No Error");
    int w = -7, h = -7;
    EXPECT_EQ(reader.ReadGif("", &w, &h), nullptr);
    EXPECT_EQ(reader.m_strError, "No Name Given");
    const std::string missing = testing::TempDir() + "no-such-dir/x.gif";
    EXPECT_EQ(reader.ReadGif(missing.c_str(), &w, &h), nullptr);
    EXPECT_EQ(reader.m_strError, "Cant open GIF :\n" + missing);

    const std::string bmp = testing::TempDir() + "gif-reader-not.gif";
    std::ofstream(bmp, std::ios::binary) << "BM not a gif at all";
    EXPECT_EQ(reader.ReadGif(bmp.c_str(), &w, &h), nullptr);
    EXPECT_EQ(reader.m_strError, "Error, " + bmp + " is not a valid .GIF file");

    const std::string good = testing::TempDir() + "gif-reader-good.gif";
    const auto bytes = FourColourFile(2, 1, SubBlocks(PackCodes({4, 2, 1, 5}, 2)));
    std::ofstream(good, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    CImageReader* base = &reader;
    unsigned char* pic = base->Read(good.c_str(), &w, &h);
    ASSERT_NE(pic, nullptr);
    EXPECT_EQ(reader.m_strError, "No Error");
    EXPECT_EQ(w, 2);
    EXPECT_EQ(h, 1);
    EXPECT_EQ(std::vector<std::uint8_t>(pic, pic + 6), Expand({2, 1}, kMap4));
    delete[] pic;
}

TEST(GifReader, OnlyOddAspectBytesWarnAndTheLoadStillSucceeds) {
    const std::pair<int, const char*> cases[] = {
        {0, "No Error"}, {49, "No Error"}, {17, "Non-square pixels in GIF image.\nIgnoring that fact..."}};
    for (const auto& [aspect, text] : cases) {
        GifFile f;
        f.globalMap = kMap4;
        f.aspect = aspect;
        f.images.push_back(MakeImage(2, 2, {0, 1, 2, 3}));
        const GifResult r = DecodeGifBytes(EncodeGif(f));
        ASSERT_TRUE(r.ok) << aspect;
        EXPECT_EQ(r.error, text);
        EXPECT_EQ(r.rgb, Expand({0, 1, 2, 3}, kMap4));
    }
}

// Rows are stored 0, 8, 16 ..., 4, 12 ..., 2, 6 ..., 1, 3 ...; passes that
// start past the last row are empty.
TEST(GifReader, InterlacedRowsLandInPassOrder) {
    // Three stored rows flagged as interlaced go to rows 0, 2, 1.
    const auto data = SubBlocks(LzwEncode({0, 0, 1, 1, 2, 2}, 2, {}));
    const GifResult three = DecodeGifBytes(FourColourFile(2, 3, data, 0x40));
    ASSERT_TRUE(three.ok);
    EXPECT_EQ(three.rgb, Expand({0, 0, 2, 2, 1, 1}, kMap4));

    const auto map = DistinctMap(32);
    for (int height = 1; height <= 25; ++height) {
        GifImage image = MakeImage(3, height, {}, true);
        for (int y = 0; y < height; ++y) image.pixels.insert(image.pixels.end(), 3, static_cast<std::uint8_t>(y));
        GifFile f;
        f.globalMap = map;
        f.images.push_back(image);
        const GifResult r = DecodeGifBytes(EncodeGif(f));
        ASSERT_TRUE(r.ok) << height;
        EXPECT_EQ(r.rgb, Expand(image.pixels, map)) << "height " << height;
    }
}

TEST(GifReader, ReadsTheFirstImageWithItsLocalMapAtItsOwnSize) {
    const auto global = DistinctMap(4, 1), local = DistinctMap(4, 99);
    GifFile f;
    f.screenWidth = 40;
    f.screenHeight = 30;
    f.globalMap = global;
    f.images.push_back(MakeImage(3, 2, {0, 1, 2, 3, 2, 1}));
    f.images.back().left = 5;
    f.images.back().top = 7;
    f.images.back().localMap = local;
    f.images.push_back(MakeImage(2, 2, {3, 3, 3, 3}));
    const GifResult r = DecodeGifBytes(EncodeGif(f));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.width, 3);
    EXPECT_EQ(r.height, 2);
    EXPECT_EQ(r.rgb, Expand({0, 1, 2, 3, 2, 1}, local));
}

TEST(GifReader, SkipsExtensionsAndStrayBytesBeforeTheImage) {
    GifBuilder b;
    b.Header(2, 1, 0x81).Map(kMap4, 4);
    b.Raw({0x21, 0xF9, 4, 1, 0, 0, 2, 0});                      // graphic control
    b.Raw({0x21, 0xFE, 3, 'h', 'i', '!', 2, ',', ',', 0});      // comment whose text holds separators
    b.Raw({0x21, 0x01, 12}).Raw(std::vector<std::uint8_t>(12, 0x2C)).Raw({0});  // plain text
    b.Raw({0x21, 0xFF, 11}).Raw(Bytes("NETSCAPE2.0")).Raw({3, 1, 0, 0, 0});  // application
    b.Raw({0x21, 0x99, 0});                                      // unknown label
    b.Raw({0x3B, 0x00, 0x17});                                   // not block starts
    b.ImageDescriptor(2, 1, 0).Raw({2}).Raw(SubBlocks(PackCodes({4, 3, 1, 5}, 2))).Raw({0x3B});
    const GifResult r = DecodeGifBytes(b.bytes);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.rgb, Expand({3, 1}, kMap4));
}

// Hand-packed code streams at minimum code size 2: clear 4, end 5, first
// free code 6. Expected indices; -1 where the value depends on table entries
// no code has defined.
TEST(GifReader, LzwCodeStreamRules) {
    struct Case {
        const char* what;
        std::vector<int> codes;
        std::vector<int> expected;
        bool terminated = true;
    };
    const int B = kBackground;
    const Case cases[] = {
        {"clear codes before the first code are skipped", {4, 4, 4, 1, 2, 3, 5}, {1, 2, 3}},
        {"a clear code restarts the table", {4, 1, 1, 4, 2, 2, 6, 5}, {1, 1, 2, 2, 2, 2}},
        {"a code not yet in the table is the previous string plus its first value",
         {4, 1, 2, 6, 8, 5}, {1, 2, 1, 2, 1, 2, 1}},
        {"the end code ends the picture; the rest is background", {4, 1, 5}, {1, B, B, B}},
        {"after the terminator, missing codes read as 0", {4, 1, 2, 3, 1}, {1, 2, 3, 1, 0, 0, 0, 0}},
        {"a stream cut before its terminator leaves background", {4, 1, 2, 3, 1}, {1, 2, 3, 1, B, B, B, B}, false},
        {"too few bits after the terminator is an error", {4, 1}, {1, B, B, B}},
        {"a code whose prefix is itself is an error", {4, 1, 7, 2, 7}, {1, 1, 1, 2, B, B, B, B}},
        {"a prefix cycle is an error, not a hang", {4, 7, 6, 1, 6}, {-1, 0, -1, -1, 1, B, B, B}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto data = SubBlocks(PackCodes(c.codes, 2), 255, c.terminated);
        auto bytes = FourColourFile(static_cast<int>(c.expected.size()), 1, data);
        if (c.terminated) bytes.push_back(0x3B);
        const GifResult r = DecodeGifBytes(bytes);
        ASSERT_TRUE(r.ok);
        for (std::size_t i = 0; i < c.expected.size(); ++i) {
            if (c.expected[i] < 0) continue;
            EXPECT_EQ(Pixels(r, i, 1), Expand({static_cast<std::uint8_t>(c.expected[i])}, kMap4)) << "pixel " << i;
        }
    }
}

// Well past the point where the table fills, and across interlace passes.
TEST(GifReader, AnExhaustedStreamReadsAsIndexZeroToTheEnd) {
    const int w = 200, h = 100;
    const auto data = SubBlocks(PackCodes({4, 1, 2, 3, 1}, 2));
    for (int flags : {0x00, 0x40}) {
        const GifResult r = DecodeGifBytes(FourColourFile(w, h, data, flags));
        ASSERT_TRUE(r.ok);
        std::vector<std::uint8_t> want = {1, 2, 3, 1};
        want.resize(static_cast<std::size_t>(w * h), 0);
        EXPECT_TRUE(r.rgb == Expand(want, kMap4)) << "flags " << flags;
    }
}

TEST(GifReader, BackgroundComesFromTheMapInUse) {
    const auto local = DistinctMap(4, 50);
    const auto cut = SubBlocks(PackCodes({4, 1, 5}, 2));
    const GifResult inRange = DecodeGifBytes(FourColourFile(3, 1, cut, 0, 2));
    EXPECT_EQ(inRange.rgb, Expand({1, 2, 2}, kMap4));
    const GifResult outOfRange = DecodeGifBytes(FourColourFile(3, 1, cut, 0, 200));
    EXPECT_EQ(outOfRange.rgb, Expand({1, 0, 0}, kMap4));
    const auto withLocal = GifBuilder().Header(3, 1, 0x81, 2).Map(kMap4, 4).ImageDescriptor(3, 1, 0x81).Map(local, 4).Raw({2}).Raw(cut).bytes;
    EXPECT_EQ(DecodeGifBytes(withLocal).rgb, Expand({1, 2, 2}, local));
}

TEST(GifReader, TheEndCodeDrainsTheRemainingSubBlocks) {
    auto data = SubBlocks(PackCodes({4, 1, 2, 3, 5}, 2), 255, false);
    data.insert(data.end(), {3, 'a', 'b', 'c', 1, 0x2C, 0});
    const auto bytes = GifBuilder().Raw(FourColourFile(3, 1, data)).Raw({0x3B}).bytes;
    const GifResult r = DecodeGifBytes(bytes);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.rgb, Expand({1, 2, 3}, kMap4));
    EXPECT_EQ(r.streamPos, static_cast<long>(bytes.size()) - 1);  // at the trailer
}

// A file without colour maps is drawn with the map the previous GIF left.
TEST(GifReader, TheGlobalMapCarriesToTheNextLoad) {
    const auto map = DistinctMap(4, 33);
    GifFile first;
    first.globalMap = map;
    first.images.push_back(MakeImage(1, 1, {0}));
    ASSERT_TRUE(DecodeGifBytes(EncodeGif(first)).ok);
    const auto bare = GifBuilder().Header(2, 1, 0x01).ImageDescriptor(2, 1, 0).Raw({2}).Raw(SubBlocks(PackCodes({4, 2, 3, 5}, 2))).bytes;
    const GifResult r = DecodeGifBytes(bare);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.rgb, Expand({2, 3}, map));
}

TEST(GifReader, ConcurrentLoadsEachSeeTheirOwnFile) {
    std::vector<std::vector<std::uint8_t>> files, expected;
    for (int t = 0; t < 4; ++t) {
        GifFile f;
        f.globalMap = DistinctMap(16, 40 * t);
        GifImage image = MakeImage(64, 48, {});
        for (int i = 0; i < 64 * 48; ++i) image.pixels.push_back(static_cast<std::uint8_t>((i / (t + 3)) % 16));
        f.images.push_back(image);
        files.push_back(EncodeGif(f));
        expected.push_back(Expand(image.pixels, f.globalMap));
    }
    std::vector<int> mismatches(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int k = 0; k < 25; ++k)
                if (DecodeGifBytes(files[static_cast<std::size_t>(t)]).rgb != expected[static_cast<std::size_t>(t)])
                    ++mismatches[static_cast<std::size_t>(t)];
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

}  // namespace

// The tool's handset pieces: the animated PNG writer and the info line.
#include <gtest/gtest.h>

#include <png.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <unistd.h>
#include <iterator>
#include <string>
#include <vector>

#include "tools/Apng.h"
#include "tools/HandsetInfo.h"

namespace handpix::tool {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct ParsedChunk { std::string type; Bytes body; };

std::uint32_t Be32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

// Splits a PNG file into chunks, checking every CRC.
std::vector<ParsedChunk> Chunks(const Bytes& file) {
    std::vector<ParsedChunk> out;
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 8), (Bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}));
    std::size_t pos = 8;
    while (pos + 12 <= file.size()) {
        const std::uint32_t n = Be32(&file[pos]);
        if (pos + 12 + n > file.size()) break;
        const std::uint32_t crc = Be32(&file[pos + 8 + n]);
        EXPECT_EQ(crc32(0L, &file[pos + 4], 4 + n), crc);
        out.push_back({std::string(file.begin() + pos + 4, file.begin() + pos + 8),
                       Bytes(file.begin() + pos + 8, file.begin() + pos + 8 + n)});
        pos += 12 + n;
    }
    EXPECT_EQ(pos, file.size());
    return out;
}

Bytes ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

std::string TempPath(const char* name) {
    return (std::filesystem::temp_directory_path() / (std::to_string(::getpid()) + name)).string();
}

TEST(Apng, ChunksFrameByFrame) {
    // Three 4 x 3 RGBA frames of one colour each.
    std::vector<Bytes> pixels;
    std::vector<ApngFrame> frames;
    for (std::uint8_t c : {10, 120, 250}) pixels.push_back(Bytes(4 * 3 * 4, c));
    for (std::size_t i = 0; i < pixels.size(); ++i)
        frames.push_back({{pixels[i].data(), 4, 3, 16, PixelOrder::RGBA}, static_cast<unsigned>(i + 1), 10});
    const std::string path = TempPath("anim.png");
    std::string error;
    ASSERT_TRUE(WriteApng(path, frames, 0, &error)) << error;
    const std::vector<ParsedChunk> c = Chunks(ReadAll(path));
    std::vector<std::string> types;
    for (const ParsedChunk& k : c) types.push_back(k.type);
    EXPECT_EQ(types, (std::vector<std::string>{"IHDR", "acTL", "fcTL", "IDAT", "fcTL", "fdAT", "fcTL", "fdAT", "IEND"}));
    ASSERT_EQ(c.size(), 9u);
    EXPECT_EQ(c[0].body, (Bytes{0, 0, 0, 4, 0, 0, 0, 3, 8, 6, 0, 0, 0}));
    EXPECT_EQ(c[1].body, (Bytes{0, 0, 0, 3, 0, 0, 0, 0}));
    // fcTL and fdAT share one sequence; each fcTL names the frame's delay.
    const std::size_t control[] = {2, 4, 6};
    for (std::size_t f = 0; f < 3; ++f) {
        const Bytes& b = c[control[f]].body;
        ASSERT_EQ(b.size(), 26u);
        // sequence, width, height, delay numerator and denominator
        EXPECT_EQ((std::vector<std::uint32_t>{Be32(&b[0]), Be32(&b[4]), Be32(&b[8]), std::uint32_t((b[20] << 8) | b[21]),
                                              std::uint32_t((b[22] << 8) | b[23])}),
                  (std::vector<std::uint32_t>{f == 0 ? 0u : std::uint32_t(2 * f - 1), 4, 3, std::uint32_t(f + 1), 10}));
        Bytes expected;
        ASSERT_TRUE(CompressPngRows(frames[f].image, expected, &error));
        const Bytes& data = c[control[f] + 1].body;
        if (f == 0) {
            EXPECT_EQ(data, expected);
        } else {
            EXPECT_EQ(Be32(&data[0]), 2 * f);
            EXPECT_EQ(Bytes(data.begin() + 4, data.end()), expected);
        }
    }
    // A reader without animation support sees the first frame.
    png_image im{};
    im.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&im, path.c_str()));
    im.format = PNG_FORMAT_RGBA;
    Bytes out(PNG_IMAGE_SIZE(im));
    ASSERT_TRUE(png_image_finish_read(&im, nullptr, out.data(), 0, nullptr));
    EXPECT_EQ(out, pixels[0]);
    std::remove(path.c_str());
}

TEST(Apng, RefusesFramesThatDiffer) {
    Bytes a(4 * 3 * 4), b(3 * 3 * 4);
    std::string error;
    const std::string path = TempPath("bad.png");
    EXPECT_FALSE(WriteApng(path, {}, 0, &error));
    EXPECT_FALSE(WriteApng(path,
                           {{{a.data(), 4, 3, 16, PixelOrder::RGBA}, 1, 10}, {{b.data(), 3, 3, 12, PixelOrder::RGBA}, 1, 10}},
                           0, &error));
    EXPECT_EQ(error, "frames differ in size or pixel format");
    std::remove(path.c_str());
}

TEST(HandsetInfo, SampleLines) {
    const std::filesystem::path dir = std::filesystem::path(HANDPIX_SOURCE_DIR) / "samples" / "handset";
    const struct { const char* name; const char* tail; /* the line after the path */ } cases[] = {
        {"ball_sis1.sni", "\tsni\t64 x 48\t1 bit\t12 frames\tSIS kind 1 64 x 48 at 1 bit\tdelay 2/10 s each\tloops"
                          "\ttransparent: none"},
        {"disc_sis2.sni", "\tsni\t64 x 64\t2 bits\t8 frames\tSIS kind 2 64 x 64 at 2 bits\tdelays 1,2,3,1,2,3,1,2 (1/10 s)"
                          "\tloops\ttransparent: none"},
        {"rainbow_saf.sni", "\tsni\t96 x 80\t8 bits\t10 frames\tSAF 96 x 80 at 8 bits\tdelay 1/10 s each\tloops"
                            "\tpalette: own\ttransparent: none"},
        {"wave.eba", "\teba\t128 x 96\t16 bits\t6 frames\ttransparent: #FF00FF"},
        {"ramp.img", "\timg\t120 x 90\t16 bits"},
    };
    for (const auto& c : cases) {
        const std::string path = (dir / c.name).string();
        std::string line;
        ASSERT_EQ(DescribeHandsetFile(path, line), HandsetInfoResult::described) << line;
        EXPECT_EQ(line, path + c.tail);
    }
    std::string line;
    EXPECT_EQ(DescribeHandsetFile((dir.parent_path() / "photo.jpg").string(), line), HandsetInfoResult::notHandset);
    const std::string broken = TempPath("broken.sni");
    std::ofstream(broken, std::ios::binary) << "SNI";
    EXPECT_EQ(DescribeHandsetFile(broken, line), HandsetInfoResult::failed);
    std::remove(broken.c_str());
}

}  // namespace
}  // namespace handpix::tool

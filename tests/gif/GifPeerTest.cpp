// Files from our writer decoded by us and by giflib: both must give the
// pictures the writer was asked for, pixel for pixel.
#include <gif_lib.h>
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "tests/gif/GifDecode.h"

using namespace handpix::test;

namespace {

struct MemoryInput {
    const std::vector<std::uint8_t>* bytes;
    std::size_t pos = 0;
};

int ReadMemory(GifFileType* gif, GifByteType* dst, int n) {
    auto* in = static_cast<MemoryInput*>(gif->UserData);
    const std::size_t count = std::min(static_cast<std::size_t>(n), in->bytes->size() - in->pos);
    std::memcpy(dst, in->bytes->data() + in->pos, count);
    in->pos += count;
    return static_cast<int>(count);
}

// giflib's first image as RGB, or empty when it refuses the file.
std::vector<std::uint8_t> GiflibRgb(const std::vector<std::uint8_t>& bytes) {
    MemoryInput in{&bytes};
    int err = 0;
    GifFileType* gif = DGifOpen(&in, ReadMemory, &err);
    if (!gif) return {};
    std::vector<std::uint8_t> rgb;
    if (DGifSlurp(gif) == GIF_OK && gif->ImageCount > 0) {
        const SavedImage& image = gif->SavedImages[0];
        const ColorMapObject* map = image.ImageDesc.ColorMap ? image.ImageDesc.ColorMap : gif->SColorMap;
        const int n = image.ImageDesc.Width * image.ImageDesc.Height;
        for (int i = 0; i < n; ++i) {
            const GifByteType v = image.RasterBits[i];
            const GifColorType c = map && v < map->ColorCount ? map->Colors[v] : GifColorType{0, 0, 0};
            rgb.insert(rgb.end(), {c.Red, c.Green, c.Blue});
        }
    }
    DGifCloseFile(gif, &err);
    return rgb;
}

enum class Pattern { noise, photo, gradient, stripes, solid };

std::vector<std::uint8_t> Paint(Pattern p, int w, int h, int colours) {
    std::mt19937 rng(static_cast<unsigned>(w * 131 + h));
    std::vector<std::uint8_t> px;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int v = 0;
            switch (p) {
            case Pattern::noise: v = static_cast<int>(rng() % static_cast<unsigned>(colours)); break;
            case Pattern::photo: v = (x * 3 + y * 5) / 11 + static_cast<int>(rng() % 4); break;
            case Pattern::gradient: v = x * colours / w; break;
            case Pattern::stripes: v = (y / 3 + x / 5) % colours; break;
            case Pattern::solid: v = 1; break;
            }
            px.push_back(static_cast<std::uint8_t>(v % colours));
        }
    return px;
}

struct PeerCase {
    const char* name;
    int width, height, colours;
    Pattern pattern;
    bool interlaced = false;
    bool local = false;
    GifLzwOptions lzw = {};
};

void PrintTo(const PeerCase& c, std::ostream* os) { *os << c.name; }

GifLzwOptions Lzw(int subBlock, bool clearWhenFull = true, int clearEvery = 0, bool leadingClear = true,
                  bool endCode = true, int minCodeSize = 0) {
    GifLzwOptions o;
    o.subBlockSize = subBlock;
    o.clearWhenFull = clearWhenFull;
    o.clearEvery = clearEvery;
    o.leadingClear = leadingClear;
    o.endCode = endCode;
    o.minCodeSize = minCodeSize;
    return o;
}

class GifPeer : public testing::TestWithParam<PeerCase> {};

TEST_P(GifPeer, SamePixelsAsGiflibAndAsWritten) {
    const PeerCase& c = GetParam();
    const auto map = DistinctMap(c.colours, 5);
    GifImage image = MakeImage(c.width, c.height, Paint(c.pattern, c.width, c.height, c.colours), c.interlaced);
    image.lzw = c.lzw;
    GifFile f;
    if (c.local) {
        image.localMap = map;
        f.globalMap = DistinctMap(2, 77);
    } else {
        f.globalMap = map;
    }
    f.images.push_back(image);
    const auto bytes = EncodeGif(f);
    const auto want = Expand(image.pixels, map);

    const GifResult ours = DecodeGifBytes(bytes);
    ASSERT_TRUE(ours.ok) << ours.error;
    EXPECT_EQ(ours.error, "No Error");
    ASSERT_EQ(ours.width, c.width);
    ASSERT_EQ(ours.height, c.height);
    EXPECT_TRUE(ours.rgb == want) << "differs from the written picture";
    EXPECT_TRUE(GiflibRgb(bytes) == ours.rgb) << "differs from giflib";
}

const PeerCase kCases[] = {
    {"noise256_clears_when_full", 320, 240, 256, Pattern::noise},
    {"noise256_full_table_kept", 320, 240, 256, Pattern::noise, false, false, Lzw(255, false)},
    {"photo_1600_wide", 1600, 40, 256, Pattern::photo},
    {"gradient_long_strings", 640, 60, 16, Pattern::gradient},
    {"solid_two_colours", 500, 400, 2, Pattern::solid},
    {"stripes_interlaced", 97, 61, 8, Pattern::stripes, true},
    {"photo_interlaced_local_map", 203, 117, 128, Pattern::photo, true, true},
    {"noise_local_map", 50, 40, 32, Pattern::noise, false, true},
    {"one_pixel", 1, 1, 2, Pattern::noise},
    {"one_column", 1, 37, 4, Pattern::noise, true},
    {"one_row", 37, 1, 4, Pattern::stripes},
    {"sub_blocks_of_1", 61, 23, 64, Pattern::noise, false, false, Lzw(1)},
    {"sub_blocks_of_7", 61, 23, 64, Pattern::photo, false, false, Lzw(7)},
    {"sub_blocks_of_254", 300, 100, 256, Pattern::noise, false, false, Lzw(254)},
    {"clear_every_50_codes", 200, 100, 16, Pattern::photo, false, false, Lzw(255, true, 50)},
    {"clear_every_code", 40, 30, 4, Pattern::stripes, false, false, Lzw(255, true, 1)},
    {"no_leading_clear", 80, 60, 8, Pattern::photo, false, false, Lzw(255, true, 0, false)},
    {"no_end_code", 80, 60, 8, Pattern::photo, false, false, Lzw(255, true, 0, true, false)},
    {"wide_codes_for_few_colours", 90, 50, 4, Pattern::noise, false, false, Lzw(255, true, 0, true, true, 8)},
    {"deferred_clear_long_run", 1000, 300, 256, Pattern::photo, false, false, Lzw(100, false)},
};

INSTANTIATE_TEST_SUITE_P(Files, GifPeer, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<PeerCase>& info) { return std::string(info.param.name); });

// Seed files for the fuzzer, written when HANDPIX_GIF_CORPUS names a folder.
TEST(GifCorpus, WriteSeeds) {
    const char* dir = std::getenv("HANDPIX_GIF_CORPUS");
    if (!dir) GTEST_SKIP() << "HANDPIX_GIF_CORPUS not set";
    int n = 0;
    for (const PeerCase& c : kCases) {
        if (c.width * c.height > 20000) continue;
        GifImage image = MakeImage(c.width, c.height, Paint(c.pattern, c.width, c.height, c.colours), c.interlaced);
        image.lzw = c.lzw;
        GifFile f;
        (c.local ? image.localMap : f.globalMap) = DistinctMap(c.colours);
        f.extensions.push_back({0xF9, {{0, 0, 0, 0}}});
        f.images.push_back(image);
        const auto bytes = EncodeGif(f);
        std::string path = std::string(dir) + "/" + c.name + ".gif";
        FILE* out = std::fopen(path.c_str(), "wb");
        ASSERT_NE(out, nullptr) << path;
        std::fwrite(bytes.data(), 1, bytes.size(), out);
        std::fclose(out);
        ++n;
    }
    EXPECT_GT(n, 0);
}

}  // namespace

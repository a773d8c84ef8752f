// Animated PNG input of `handpix pack`: what our animated PNG writer makes
// comes back frame by frame with its delays; a still PNG is told apart.
#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

#include "tools/Apng.h"
#include "tools/ApngReader.h"

namespace handpix::tool {
namespace {

TEST(ApngReader, FramesAndDelaysComeBack) {
    const std::string dir = (std::filesystem::temp_directory_path() / ("handpix_apng_" + std::to_string(::getpid()))).string();
    std::filesystem::create_directories(dir);
    constexpr int kW = 5, kH = 3;
    std::vector<std::vector<std::uint8_t>> pixels;
    std::vector<ApngFrame> frames;
    for (int f = 0; f < 3; ++f) {
        std::vector<std::uint8_t> px;
        for (int i = 0; i < kW * kH; ++i) px.insert(px.end(), {static_cast<std::uint8_t>(40 * f + i), 7, 200, static_cast<std::uint8_t>(i == f ? 0 : 255)});
        pixels.push_back(px);
    }
    for (int f = 0; f < 3; ++f)
        frames.push_back({{pixels[static_cast<std::size_t>(f)].data(), kW, kH, 4 * kW, PixelOrder::RGBA},
                          static_cast<unsigned>(f + 1), 10});
    std::string error;
    ASSERT_TRUE(WriteApng(dir + "/a.png", frames, 0, &error)) << error;
    RgbaFrames in;
    bool still = true;
    ASSERT_TRUE(ReadApngFrames(dir + "/a.png", 50, in, error, still)) << error;
    EXPECT_FALSE(still);
    ASSERT_EQ(in.frames.size(), 3u);
    EXPECT_EQ(in.width, kW);
    EXPECT_EQ(in.delays, (std::vector<unsigned>{1, 2, 3}));
    EXPECT_TRUE(in.loop);
    for (std::size_t f = 0; f < 3; ++f)
        for (std::size_t i = 0; i < kW * kH; ++i) {
            const Rgba& p = in.frames[f][i];
            const std::uint8_t* want = &pixels[f][4 * i];
            ASSERT_TRUE(p.r == want[0] && p.g == want[1] && p.b == want[2] && p.a == want[3]) << f << " " << i;
        }
    EXPECT_FALSE(ReadApngFrames(dir + "/a.png", 2, in, error, still));
    EXPECT_NE(error.find("more than 2 frames"), std::string::npos);

    ASSERT_TRUE(WritePng(dir + "/still.png", frames[0].image, &error)) << error;
    EXPECT_FALSE(ReadApngFrames(dir + "/still.png", 50, in, error, still));
    EXPECT_TRUE(still);
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace handpix::tool

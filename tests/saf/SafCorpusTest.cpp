// Writes the fuzzer's seed streams when HANDPIX_WRITE_SAF_CORPUS names a
// folder; otherwise checks that every seed prepares and renders.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "tests/saf/SafTestSupport.h"

namespace handpix::test {
namespace {

std::vector<int> Pattern(int n, int mod) {
    std::vector<int> v(n);
    for (int i = 0; i < n; ++i) v[i] = (i * 7 + i / 5) % mod;
    return v;
}

Bytes Seed(int bpp, bool shapes) {
    const int mod = 1 << bpp;
    SafWriter w;
    w.Header({SafImageHeader(40, 30, bpp, 1), SafPalette(2, {}), SafAnimation(3, 1), SafFrameDelays({100, 200, 300}),
              SafColourTable({1, 2})});
    w.Object(0, 8, 8, bpp, Pattern(64, mod), 1);
    w.Object(1, 12, 5, bpp, Pattern(60, mod), 0);
    w.Chunk(11, SafRawDeflate(Bytes(50, 3)));
    const SafPlace a{.x = 3, .y = 2, .mode = 2};
    const SafPlace b{.object = 1, .x = -4, .y = 10, .mirror = true, .hMode = 1, .hFactor = 160, .vMode = 2,
                     .vFactor = 100, .mode = 2, .angle = 20, .clip = {0, 30, 5, 25}, .alpha = 90};
    const SafPlace c{.x = 3, .y = 2, .flip = true, .mode = 1};
    w.Frame(1, {SafPlaceItem(a), SafPlaceItem(b), SafItem(19, {2, 2, 30, 20, 1})});
    if (shapes) {
        w.Frame(2, {SafItem(1, {1, 1, 30, 20, 200, 6, 1, 0}), SafItem(2, {20, 15, 10, 7, 10, 100, 30, 40, 3, 1}),
                    SafItem(2, {20, 15, 6, 4, 0, 0, 30, 40, 1, 0}), SafItem(3, {5, 5, 15, 12, 9, 10, 2, 0}),
                    SafItem(4, {3, 9, 2, 0, 20, 10, 0, 0, 25, 7, 0}), SafItem(5, {3, 9, 3, 0, 20, 39, 0, 10, 29}),
                    SafItem(17, {0, 0, 39, 29, 5}), SafItem(18, {20, 15, 12, 9, 4}), SafItem(20, {})});
    } else {
        w.Frame(2, {SafPlaceItem(c), SafItem(20, {})});
    }
    w.Frame(0, {SafPlaceItem(b)});
    return w.End().Build();
}

TEST(SafCorpus, SeedsRenderEveryFrame) {
    const char* dir = std::getenv("HANDPIX_WRITE_SAF_CORPUS");
    const std::pair<const char*, Bytes> seeds[] = {
        {"depth8", Seed(8, true)}, {"depth4", Seed(4, false)}, {"depth2", Seed(2, false)}, {"depth1", Seed(1, false)}};
    for (const auto& [name, s] : seeds) {
        SafRig rig;
        ASSERT_EQ(rig.Probe(s), SafEvent::info) << name;
        ASSERT_EQ(rig.Prepare(s), SafEvent::ready) << name;
        for (std::uint32_t f = 0; f < 3; ++f) EXPECT_FALSE(rig.Render(s, f).empty()) << name << f;
        if (dir) std::ofstream(std::string(dir) + "/" + name + ".saf", std::ios::binary)
                     .write(reinterpret_cast<const char*>(s.data()), static_cast<std::streamsize>(s.size()));
    }
}

}  // namespace
}  // namespace handpix::test

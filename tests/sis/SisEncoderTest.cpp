// The frame encoders store what repeats once: a frame that shows an earlier
// frame again costs a few bytes, and a frame that changes one cell of the
// last costs about that cell (a derived block) rather than a new block.
#include <gtest/gtest.h>

#include "handpix/handset/Engine.h"
#include "handpix/handset/SafEncoder.h"
#include "handpix/handset/SisEncoder.h"

namespace handpix {
namespace {

// A 64 x 48 picture of pseudo-random values below `levels`.
Bytes Noise(std::uint32_t seed, std::uint8_t levels) {
    Bytes px(64 * 48);
    for (auto& v : px) v = static_cast<std::uint8_t>(((seed = seed * 1103515245u + 12345u) >> 16) % levels);
    return px;
}

struct Kind {
    const char* name;
    EncodeResult (*encode)(const std::vector<Bytes>&);
    std::uint8_t levels;
    bool anyBase;  // a frame may build on any earlier one, not only the last
};

EncodeResult Sis1(const std::vector<Bytes>& f) { return EncodeSisKind1({64, 48, f, {}, true, 65536}); }
EncodeResult Sis2(const std::vector<Bytes>& f) { return EncodeSisKind2({64, 48, f, {}, true, 65536}); }
EncodeResult Saf(const std::vector<Bytes>& f) { return EncodeSafAnimation({64, 48, f, {}, true, 65536}); }

class Encoders : public ::testing::TestWithParam<Kind> {};

EncodeResult r(const Kind& k, const std::vector<Bytes>& frames) { return k.encode(frames); }

// Decodes every frame of a w x h stream through the engine and compares.
void ExpectFrames(const EncodeResult& r, std::uint8_t levels, const std::vector<Bytes>& frames, const char* name,
                  std::uint32_t w = 64, std::uint32_t h = 48) {
    ASSERT_TRUE(r) << name << ": " << r.error;
    Engine e;
    StreamInfo info;
    ASSERT_TRUE(e.ProbeStream(r.bytes.data(), r.bytes.size(), info)) << name;
    std::vector<std::uint8_t> pool(65536), store(25600), out(std::size_t{w} * h);
    e.StartEngine(pool.data(), pool.size(), store.data(), store.size(), w, h);
    int step = 0;
    for (int i = 0; i < 100000 && step == 0; ++i) step = e.StepEngine(r.bytes.data(), r.bytes.size());
    ASSERT_EQ(step, 1) << name;
    const unsigned bits = levels == 2 ? 1 : levels == 4 ? 2 : 8;
    for (std::size_t f = 0; f < frames.size(); ++f) {
        ASSERT_GT(e.DecodeFrames(r.bytes.data(), r.bytes.size(), out.data(), out.size(), static_cast<int>(f)), 0) << name;
        for (std::size_t i = 0; i < frames[f].size(); ++i) {
            const unsigned shift = 8 - bits * (1 + static_cast<unsigned>(i % (8 / bits)));
            ASSERT_EQ((out[i * bits / 8] >> shift) & ((1u << bits) - 1), frames[f][i]) << name << " frame " << f << " pixel " << i;
        }
    }
}

TEST_P(Encoders, RepeatsAndSmallChangesCostLittle) {
    const Kind& k = GetParam();
    const Bytes a = Noise(1, k.levels), b = Noise(2, k.levels);
    const auto changeCell = [](Bytes px, int cx, int cy) {
        for (int y = 8 * cy; y < 8 * cy + 8; ++y)
            for (int x = 8 * cx; x < 8 * cx + 8; ++x) px[static_cast<std::size_t>(y * 64 + x)] ^= 1;
        return px;
    };
    const Bytes c = changeCell(b, 3, 2), a2 = changeCell(a, 5, 4);
    const std::size_t one = k.encode({a}).bytes.size();
    const std::size_t two = k.encode({a, b}).bytes.size();
    const std::size_t again = k.encode({a, b, a, b}).bytes.size();
    // With as many frames like a as like b, nothing stays still behind them.
    const std::size_t changed = k.encode(k.anyBase ? std::vector<Bytes>{a, b, c, a2} : std::vector<Bytes>{a, b, c}).bytes.size();
    ASSERT_GT(one, 0u) << k.name;
    EXPECT_LT(again - two, 32u) << k.name << ": two frames shown again";
    EXPECT_LT(changed - two, one / 4) << k.name << ": frames with one changed cell";
    // And what was written reads back as it was given.
    ExpectFrames(r(k, {a, b, a, c}), k.levels, {a, b, a, c}, k.name);
}

INSTANTIATE_TEST_SUITE_P(Streams, Encoders,
                         ::testing::Values(Kind{"sis1", Sis1, 2, false}, Kind{"sis2", Sis2, 4, true}, Kind{"saf", Saf, 255, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(Encoders, BlankFramesStillMakeAStream) {
    // Nothing drawn at all: a kind-1 stream still needs one block record.
    const Bytes blank(64 * 48, 0);
    ExpectFrames(GetParam().encode({blank, blank}), GetParam().levels, {blank, blank}, GetParam().name);
}

TEST(SafEncoder, ScatteredChangesKeepTheDisplayListShort) {
    // Changes everywhere, far apart: the patches of a frame are merged
    // before its display list outgrows what the reader takes.
    const Bytes a(128 * 96, 7);
    Bytes b = a;
    for (std::size_t y = 0; y < 96; y += 4)
        for (std::size_t x = 0; x < 128; x += 4) b[y * 128 + x] = 250;
    ExpectFrames(EncodeSafAnimation({128, 96, {a, b}, {}, true, 65536}), 255, {a, b}, "saf", 128, 96);
}

}  // namespace
}  // namespace handpix

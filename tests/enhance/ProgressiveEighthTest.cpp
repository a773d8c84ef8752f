// The reduced progressive decode against libjpeg-turbo's own 1/8 decode of
// the same files, byte for byte: sampling layouts x scan scripts x restart
// intervals x sizes, then files the fast path must leave to libjpeg.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "handpix/platform/ijl/Ijl.h"
#include "handpix/platform/ijl/ProgressiveEighth.h"
#include "tests/support/JpegPeer.h"

namespace {
using jpegtest::Picture;
using jpegtest::ScanSpec;
using Bytes = std::vector<std::uint8_t>;

enum class Layout { k444, k422, k420, kGrey };
enum class Script { kSimple, kRefinedSeparately, kChromaFirstBands };

// Scan scripts beyond libjpeg's simple progression: DC and AC sent in
// several successive-approximation steps, non-interleaved DC; and chroma
// before luma, luma split in bands, DC in one interleaved step.
std::vector<ScanSpec> MakeScript(Script s, int comps) {
    std::vector<ScanSpec> out;
    std::vector<int> all;
    for (int c = 0; c < comps; ++c) all.push_back(c);
    if (s == Script::kRefinedSeparately) {
        for (int c = 0; c < comps; ++c) out.push_back({{c}, 0, 0, 0, 2});
        out.push_back({{0}, 1, 5, 0, 2});
        for (int c = 1; c < comps; ++c) out.push_back({{c}, 1, 63, 0, 2});
        out.push_back({{0}, 6, 63, 0, 2});
        for (int c = 0; c < comps; ++c) out.push_back({{c}, 0, 0, 2, 1});
        for (int c = 0; c < comps; ++c) out.push_back({{c}, 1, 63, 2, 1});
        out.push_back({all, 0, 0, 1, 0});
        for (int c = comps - 1; c >= 1; --c) out.push_back({{c}, 1, 63, 1, 0});
        out.push_back({{0}, 1, 63, 1, 0});
    } else if (s == Script::kChromaFirstBands) {
        out.push_back({all, 0, 0, 0, 0});
        for (int c = comps - 1; c >= 1; --c) out.push_back({{c}, 1, 63, 0, 0});
        out.push_back({{0}, 1, 2, 0, 0});
        out.push_back({{0}, 3, 9, 0, 0});
        out.push_back({{0}, 10, 63, 0, 0});
    }
    return out;
}

// Photo-like, or (noise) random colours per 8 x 8 cell with every fourth
// pixel random: saturated colours at the reduced scale and the largest
// coefficients a picture gives.
Picture Source(int w, int h, Layout layout, unsigned seed, bool noise) {
    Picture p = jpegtest::PhotoLike(w, h, seed);
    auto next = [&] { return static_cast<std::uint8_t>((seed = seed * 1103515245u + 12345u) >> 23); };
    std::vector<std::uint8_t> cells(static_cast<std::size_t>((w + 7) / 8) * ((h + 7) / 8) * 3);
    for (std::uint8_t& c : cells) c = next();
    for (int i = 0; noise && i < w * h; ++i)
        for (int k = 0; k < 3; ++k)
            p.px[3 * i + k] = next() < 64 ? next() : cells[((i / w / 8) * ((w + 7) / 8) + i % w / 8) * 3 + k];
    if (layout != Layout::kGrey) return p;
    Picture g{w, h, 1, {}};
    for (std::size_t i = 1; i < p.px.size(); i += 3) g.px.push_back(p.px[i]);
    return g;
}

Bytes Encode(Layout layout, Script script, int restart, int w, int h, int quality = 90, bool noise = false) {
    const Picture p = Source(w, h, layout, static_cast<unsigned>(w * 7 + h), noise);
    jpegtest::EncodeOptions o;
    o.quality = quality;
    o.h0 = layout == Layout::k422 || layout == Layout::k420 ? 2 : 1;
    o.v0 = layout == Layout::k420 ? 2 : 1;
    o.restartInterval = restart;
    o.progressive = true;
    return jpegtest::PeerEncodeScans(p, o, MakeScript(script, p.comps));
}

// A DIB for the reduced picture: B, G, R rows padded to 4 bytes, top row
// first or (negative height) last.
struct Dib {
    JPEG_CORE_PROPERTIES props{};
    Bytes px;
    Dib(const Bytes& file, bool bottomUp = false) {
        ijlInit(&props);
        props.JPGBytes = const_cast<std::uint8_t*>(file.data());
        props.JPGSizeBytes = static_cast<DWORD>(file.size());
        ijlRead(&props, IJL_JBUFF_READPARAMS);
        props.DIBScaleDenom = 8;
        props.DIBWidth = ijlScaledSize(props.JPGWidth, 8);
        const int rows = static_cast<int>(ijlScaledSize(props.JPGHeight, 8));
        props.DIBHeight = bottomUp ? -rows : rows;
        props.DIBPadBytes = (4 - props.DIBWidth * 3 % 4) % 4;
        px.assign((props.DIBWidth * 3 + props.DIBPadBytes) * static_cast<std::size_t>(rows), 0xEE);
        props.DIBBytes = px.data();
    }
    ~Dib() { ijlFree(&props); }
    // The pixels top row first without padding, as the peer gives them.
    Bytes Packed() const {
        const std::size_t row = props.DIBWidth * 3, stride = row + props.DIBPadBytes, rows = px.size() / stride;
        Bytes out;
        for (std::size_t y = 0, from; y < rows; ++y) {
            from = (props.DIBHeight < 0 ? rows - 1 - y : y) * stride;
            out.insert(out.end(), px.begin() + static_cast<long>(from), px.begin() + static_cast<long>(from + row));
        }
        return out;
    }
};

Bytes Peer(const Bytes& file) {
    Picture p;
    return jpegtest::PeerDecodeEighth(file, p) ? p.px : Bytes{};
}

struct Case {
    Layout layout;
    Script script;
    int restart, width, height, quality;
    bool noise;
};

class ProgressiveEighthDiff : public ::testing::TestWithParam<Case> {};

TEST_P(ProgressiveEighthDiff, EqualsLibjpegAtOneEighth) {
    const Case c = GetParam();
    const Bytes file = Encode(c.layout, c.script, c.restart, c.width, c.height, c.quality, c.noise);
    ASSERT_FALSE(file.empty());
    const Bytes expected = Peer(file);
    ASSERT_FALSE(expected.empty());
    for (bool bottomUp : {false, true}) {
        Dib dib(file, bottomUp);
        ASSERT_TRUE(handpix::ReadProgressiveEighth(file.data(), file.size(), dib.props));
        EXPECT_EQ(dib.Packed(), expected) << "bottom-up " << bottomUp;
    }
}

std::vector<Case> Cases() {
    std::vector<Case> out;
    const int sizes[][2] = {{333, 211}, {41, 9}, {8, 8}};
    int n = 0;
    for (Layout l : {Layout::k444, Layout::k422, Layout::k420, Layout::kGrey})
        for (Script s : {Script::kSimple, Script::kRefinedSeparately, Script::kChromaFirstBands})
            for (int restart : {0, 3})
                for (const auto& wh : sizes) out.push_back({l, s, restart, wh[0], wh[1], ++n % 2 ? 95 : 40, false});
    // Noise at the highest and a middling quality.
    for (Layout l : {Layout::k444, Layout::k422, Layout::k420})
        for (int quality : {100, 75}) out.push_back({l, Script::kRefinedSeparately, 1, 480, 320, quality, true});
    return out;
}

INSTANTIATE_TEST_SUITE_P(Layouts, ProgressiveEighthDiff, ::testing::ValuesIn(Cases()));

enum class Edit { kDropScan, kDamageScan, kRenumberRestart };

// The n-th scan (SOS to the next marker) cut out, its data bytes flipped
// (never into or next to an FF), or its first restart marker renumbered.
Bytes Edited(const Bytes& f, int n, Edit edit) {
    Bytes out = f;
    for (std::size_t p = 2, scan = 0; p + 4 <= f.size() && f[p + 1] != 0xD9;) {
        const std::size_t at = p, data = p + 2 + (static_cast<std::size_t>(f[p + 2]) << 8 | f[p + 3]);
        p = data;
        if (f[at + 1] != 0xDA) continue;
        while (p + 1 < f.size() && !(f[p] == 0xFF && f[p + 1] != 0 && (f[p + 1] < 0xD0 || f[p + 1] > 0xD7))) ++p;
        if (scan++ != static_cast<std::size_t>(n)) continue;
        if (edit == Edit::kDropScan) out.erase(out.begin() + static_cast<long>(at), out.begin() + static_cast<long>(p));
        for (std::size_t i = data + 3; edit == Edit::kDamageScan && i < p; i += 7)
            if (out[i] != 0xFF && out[i - 1] != 0xFF && (out[i] ^ 0x5A) != 0xFF) out[i] ^= 0x5A;
        for (std::size_t i = data; edit == Edit::kRenumberRestart && i < p; ++i)
            if (out[i] == 0xFF && out[i + 1] == 0xD0) {
                out[i + 1] = 0xD5;
                break;
            }
        break;
    }
    return out;
}

Bytes Cut(Bytes f, std::size_t n) {
    f.resize(f.size() - n);
    return f;
}

struct Unusual {
    const char* name;
    Bytes (*make)();
    bool fastPath;  // true: served, and equal to libjpeg; false: declined
};

// libjpeg's simple progression for three components writes the scans DC,
// Y 1-5, Cr, Cb, Y 6-63, Y refinement, DC refinement, Cr, Cb, Y refinements.
const Unusual kUnusual[] = {
    {"arithmeticCoded",
     [] {
         jpegtest::EncodeOptions o;
         o.progressive = true;
         return jpegtest::PeerEncodeScans(jpegtest::PhotoLike(64, 48, 3), o, {}, true);
     },
     false},
    {"baseline",
     [] { return jpegtest::PeerEncode(jpegtest::PhotoLike(64, 48, 3), jpegtest::EncodeOptions{}); }, false},
    {"fourComponents",
     [] {
         jpegtest::EncodeOptions o;
         o.progressive = o.cmyk = true;
         return jpegtest::PeerEncode(jpegtest::PhotoLike(64, 48, 3), o);
     },
     false},
    {"missingFirstDcScan", [] { return Edited(Encode(Layout::k444, Script::kSimple, 0, 64, 48), 0, Edit::kDropScan); }, false},
    {"missingDcRefinement", [] { return Edited(Encode(Layout::k444, Script::kSimple, 0, 64, 48), 6, Edit::kDropScan); }, false},
    {"missingLumaAcScan", [] { return Edited(Encode(Layout::k444, Script::kSimple, 0, 64, 48), 4, Edit::kDropScan); }, false},
    {"truncatedInLastScan", [] { return Cut(Encode(Layout::k420, Script::kSimple, 0, 64, 48), 40); }, false},
    {"withoutEndMarker", [] { return Cut(Encode(Layout::k420, Script::kSimple, 0, 64, 48), 2); }, false},
    {"wrongRestartNumber", [] { return Edited(Encode(Layout::k444, Script::kSimple, 2, 64, 48), 0, Edit::kRenumberRestart); }, false},
    // Damage in a luma AC scan cannot reach the reduced picture: served, and
    // still libjpeg's pixels.
    {"damagedLumaAc", [] { return Edited(Encode(Layout::k420, Script::kSimple, 0, 96, 64), 4, Edit::kDamageScan); }, true},
    {"damagedLumaAcWithRestarts",
     [] { return Edited(Encode(Layout::k444, Script::kSimple, 2, 96, 64), 1, Edit::kDamageScan); }, true},
};

class ProgressiveEighthUnusual : public ::testing::TestWithParam<Unusual> {};

TEST_P(ProgressiveEighthUnusual, DeclinedOrLibjpegsPixels) {
    const Bytes file = GetParam().make();
    ASSERT_FALSE(file.empty());
    const Bytes expected = Peer(file);
    {
        Dib dib(file);
        EXPECT_EQ(handpix::ReadProgressiveEighth(file.data(), file.size(), dib.props), GetParam().fastPath);
        if (GetParam().fastPath) {
            EXPECT_EQ(dib.Packed(), expected);
        }
    }
    // Through the stand-in's file read, fast path or not, the pixels are libjpeg's.
    const std::string path = ::testing::TempDir() + "handpix_progressive_" + GetParam().name + ".jpg";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(f);
    std::fwrite(file.data(), 1, file.size(), f);
    std::fclose(f);
    Dib dib(file);
    dib.props.JPGFile = path.c_str();
    ASSERT_EQ(ijlRead(&dib.props, IJL_JFILE_READPARAMS), IJL_OK);
    const IJLERR read = ijlRead(&dib.props, IJL_JFILE_READWHOLEIMAGE);
    EXPECT_EQ(read == IJL_OK, !expected.empty());
    if (read == IJL_OK) {
        EXPECT_EQ(dib.Packed(), expected);
    }
    std::remove(path.c_str());
}

INSTANTIATE_TEST_SUITE_P(Files, ProgressiveEighthUnusual, ::testing::ValuesIn(kUnusual),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

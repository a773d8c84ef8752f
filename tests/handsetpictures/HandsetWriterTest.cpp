// The handset file writers through our readers: every format and depth reads
// back exactly, the bundled samples re-encode no larger than they are, and
// every reader limit is refused before anything is written.
#include <cstdio>
#include <filesystem>

#include "handpix/imagefiles/GraphicFileLoad.h"
#include "tests/handsetpictures/HandsetTestSupport.h"

namespace handpix::test {
namespace {

using Frames = std::vector<std::vector<Rgb>>;

enum class Container { img, pht, eba, sniSis, sniSaf };

// The colour each value of a depth shows as in a container.
Rgb Shown(Container c, int bits, std::uint32_t v, const std::vector<std::uint16_t>& palette) {
    static constexpr std::uint8_t kSniGrey[4] = {255, 192, 128, 0};
    static constexpr std::uint8_t kImgGrey[4] = {0, 128, 192, 255};
    const bool sni = c == Container::sniSis || c == Container::sniSaf || c == Container::eba;
    switch (bits) {
        case 1: return (v != 0) == sni ? kBlack : kWhite;
        case 2: return Grey(sni ? kSniGrey[v] : kImgGrey[v]);
        case 8: return palette.empty() ? ExpandRgb332(static_cast<std::uint8_t>(v)) : ExpandRgb565(palette[v]);
        case 16: return ExpandRgb565(static_cast<std::uint16_t>(v));
        default: return {static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
    }
}

class HandsetWriter : public HandsetPictureTest {
protected:
    Frames ReadBack(Container c, const std::string& path) {
        Frames out;
        if (c == Container::pht) {
            CGraphicFileLoad load;
            if (!load.LoadPHT(path.c_str())) return out;
            std::vector<Rgb> f;
            for (int y = 0; y < load.m_nHeight; ++y)
                for (int x = 0; x < load.m_nWidth; ++x) {
                    const unsigned char* p = load.m_pDib + (load.m_nHeight - 1 - y) * load.m_nStride + 3 * x;
                    f.push_back({p[2], p[1], p[0]});
                }
            out.push_back(f);
        } else if (c == Container::img) {
            if (pic->GetIMG(path)) out.push_back(ImgPixels());
        } else if (pic->GetEBAHeader(path)) {
            const int n = pic->m_AnimInfo.nWidth * pic->m_AnimInfo.nHeight;
            for (int f = 0; f < pic->m_AnimInfo.byFrameCount && pic->GetEBAData(path, f); ++f) {
                std::vector<Rgb> px;
                for (int i = 0; i < n; ++i) px.push_back(Frame(static_cast<std::size_t>(i)));
                out.push_back(px);
            }
        }
        return out;
    }
    std::vector<Rgb> ImgPixels() {
        const BYTE* h = pic->m_ImgHeader;
        std::vector<Rgb> px;
        for (int i = 0; i < (h[4] | h[5] << 8) * (h[6] | h[7] << 8); ++i) px.push_back(Img(static_cast<std::size_t>(i)));
        return px;
    }
};

EncodeResult Encode(Container c, const HandsetPixels& p) {
    switch (c) {
        case Container::img: return EncodeImg(p);
        case Container::pht: return EncodePht(p);
        case Container::eba: return EncodeEba(p);
        case Container::sniSis: return EncodeSni(p, SniStream::sis);
        case Container::sniSaf: return EncodeSni(p, SniStream::saf);
    }
    return {};
}

// A square moving over a still gradient, in the values of the depth; frame 3
// repeats frame 1, and frame 4 changes one corner of frame 3.
HandsetPixels Generated(int w, int h, int bits, int frames) {
    HandsetPixels p;
    p.width = w, p.height = h, p.bits = bits;
    const std::uint32_t levels = bits >= 24 ? 0x1000000u : 1u << bits;
    for (int f = 0; f < frames; ++f) {
        const int at = f == 3 ? 1 : f;
        HandsetFrame px;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const bool square = x >= 4 + 6 * at && x < 20 + 6 * at && y >= 8 && y < 24;
                const bool corner = f == 4 && x < 8 && y < 8;
                std::uint32_t v = static_cast<std::uint32_t>(x / 8 + y / 8) * 0x10101u % levels;
                if (square) v = levels - 1;
                if (corner) v = levels / 2;
                px.push_back(v);
            }
        p.frames.push_back(px);
        p.delays.push_back(static_cast<unsigned>(1 + f));
    }
    return p;
}

TEST_F(HandsetWriter, EveryFormatAndDepthReadsBackExactly) {
    std::vector<std::uint16_t> own(256);
    for (int i = 0; i < 256; ++i) own[i] = static_cast<std::uint16_t>(i * 257);
    const struct Case { const char* name; Container c; int bits, w, h, frames; bool palette; } cases[] = {
        {"img 1", Container::img, 1, 61, 33, 1, false},   {"img 2", Container::img, 2, 62, 33, 1, false},
        {"img 8", Container::img, 8, 64, 40, 1, false},   {"img 16", Container::img, 16, 178, 160, 1, false},
        {"img 24", Container::img, 24, 50, 50, 1, false}, {"pht 1", Container::pht, 1, 64, 16, 1, false},
        {"pht 8", Container::pht, 8, 30, 20, 1, false},   {"pht 16", Container::pht, 16, 40, 30, 1, false},
        {"pht 24", Container::pht, 24, 40, 30, 1, false}, {"eba 8", Container::eba, 8, 60, 60, 5, false},
        {"eba 16", Container::eba, 16, 178, 160, 5, false}, {"eba 24", Container::eba, 24, 64, 60, 3, false},
        {"sis 1", Container::sniSis, 1, 176, 120, 5, false}, {"sis 2", Container::sniSis, 2, 176, 160, 5, false},
        {"saf 8", Container::sniSaf, 8, 178, 160, 5, false}, {"saf 8 palette", Container::sniSaf, 8, 96, 64, 5, true},
        {"saf 16", Container::sniSaf, 16, 127, 100, 5, false},
    };
    for (const Case& k : cases) {
        HandsetPixels p = Generated(k.w, k.h, k.bits, k.frames);
        if (k.palette) p.palette = own;
        const EncodeResult r = Encode(k.c, p);
        ASSERT_TRUE(r) << k.name << ": " << r.error;
        const Frames back = ReadBack(k.c, Write("rt", r.bytes));
        ASSERT_EQ(back.size(), p.frames.size()) << k.name;
        for (std::size_t f = 0; f < back.size(); ++f)
            for (std::size_t i = 0; i < back[f].size(); ++i)
                ASSERT_EQ(back[f][i], Shown(k.c, k.bits, p.frames[f][i], p.palette)) << k.name << " frame " << f << " pixel " << i;
        std::printf("%-14s %6zu bytes\n", k.name, r.bytes.size());
    }
    EXPECT_TRUE(TakeMessages().empty());
}

}  // namespace
}  // namespace handpix::test

namespace handpix::test {
namespace {

// The value of a shown colour at a depth; exact for colours the depth shows.
std::uint32_t ValueOf(Container c, int bits, Rgb rgb, const std::vector<std::uint16_t>& palette) {
    if (bits == 16) return PackRgb565(rgb.r, rgb.g, rgb.b);
    for (std::uint32_t v = 0; v < (1u << bits); ++v)
        if (Shown(c, bits, v, palette) == rgb) return v;
    return 0;
}

TEST_F(HandsetWriter, SamplesReencodeNoLargerAndTheSame) {
    const std::filesystem::path dir = std::filesystem::path(HANDPIX_SOURCE_DIR) / "samples" / "handset";
    const struct { const char* name; Container c; } samples[] = {
        {"ball_sis1.sni", Container::sniSis}, {"disc_sis2.sni", Container::sniSis},
        {"rainbow_saf.sni", Container::sniSaf}, {"wave.eba", Container::eba}, {"ramp.img", Container::img}};
    for (const auto& s : samples) {
        const std::string path = (dir / s.name).string();
        const Frames frames = ReadBack(s.c, path);
        ASSERT_FALSE(frames.empty()) << s.name;
        const Bytes original = [&] {
            std::FILE* f = std::fopen(path.c_str(), "rb");
            Bytes b(300000);
            b.resize(std::fread(b.data(), 1, b.size(), f));
            std::fclose(f);
            return b;
        }();
        HandsetPixels p;
        p.bits = s.c == Container::img ? 16 : original[10];
        p.width = original[s.c == Container::img ? 4 : 4] | original[5] << 8;
        p.height = original[6] | original[7] << 8;
        if (s.c != Container::img && original[11]) {
            for (std::size_t i = original.size() - 512; i < original.size(); i += 2)
                p.palette.push_back(static_cast<std::uint16_t>(original[i] | original[i + 1] << 8));
        }
        if (s.c == Container::eba) p.transparent = original[12] | original[13] << 8;
        for (const auto& f : frames) {
            HandsetFrame px;
            for (const Rgb& c : f) px.push_back(ValueOf(s.c, p.bits, c, p.palette));
            p.frames.push_back(px);
        }
        const EncodeResult r = Encode(s.c, p);
        ASSERT_TRUE(r) << s.name << ": " << r.error;
        EXPECT_LE(r.bytes.size(), original.size()) << s.name;
        EXPECT_EQ(ReadBack(s.c, Write("again", r.bytes)), frames) << s.name;
        std::printf("%-16s %6zu bytes, the sample %6zu\n", s.name, r.bytes.size(), original.size());
    }
}

TEST(HandsetWriterLimits, RefusedWithTheReason) {
    const struct Case { const char* name; Container c; int bits, w, h, frames; const char* says; } cases[] = {
        {"img too many pixels", Container::img, 16, 179, 160, 1, "at most 28480 pixels"},
        {"img empty", Container::img, 16, 0, 10, 1, "at most 28480 pixels"},
        {"img 4 bits", Container::img, 4, 10, 10, 1, "no 4-bit depth"},
        {"pht 2 bits", Container::pht, 2, 16, 16, 1, "no 2-bit depth"},
        {"eba 59 wide", Container::eba, 16, 59, 60, 1, "60 x 60 to 178 x 160"},
        {"eba 161 high", Container::eba, 16, 60, 161, 1, "60 x 60 to 178 x 160"},
        {"eba 51 frames", Container::eba, 8, 60, 60, 51, "1 to 50 frames"},
        {"eba 2 bits", Container::eba, 2, 64, 64, 1, "8, 16 or 24 bits"},
        {"sni 179 wide", Container::sniSaf, 8, 179, 10, 1, "1 x 1 to 178 x 160"},
        {"sis not 8-aligned", Container::sniSis, 1, 20, 16, 1, "multiples of 8"},
        {"sis 1 bit 128 high", Container::sniSis, 1, 64, 128, 1, "248 x 120"},
        {"sis 21 frames", Container::sniSis, 2, 16, 16, 21, "1 to 20 frames"},
        {"saf 16 bits 128 wide", Container::sniSaf, 16, 128, 16, 1, "at most 127 pixels wide"},
        {"saf 24 bits", Container::sniSaf, 24, 16, 16, 1, "8- or 16-bit"},
        {"saf pool", Container::sniSaf, 8, 178, 160, 3, "object memory"},
        {"sis 1 bit blocks", Container::sniSis, 1, 128, 96, 20, "20 different blocks"},
    };
    for (const Case& k : cases) {
        HandsetPixels p;
        p.width = k.w, p.height = k.h, p.bits = k.bits;
        for (int f = 0; f < k.frames; ++f) {
            // Noise that no frame shares with another, so nothing can be reused.
            HandsetFrame px(static_cast<std::size_t>(std::max(0, k.w * k.h)));
            std::uint32_t seed = 12345u + 977u * static_cast<std::uint32_t>(f);
            for (auto& v : px) v = ((seed = seed * 1103515245u + 12345u) >> 16) & ((1u << std::min(k.bits, 16)) - 1);
            p.frames.push_back(px);
        }
        const EncodeResult r = Encode(k.c, p);
        EXPECT_FALSE(r) << k.name;
        EXPECT_TRUE(r.bytes.empty()) << k.name;
        EXPECT_NE(r.error.find(k.says), std::string::npos) << k.name << ": " << r.error;
    }
}

}  // namespace
}  // namespace handpix::test

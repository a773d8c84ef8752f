// Small helpers shared by the codec tests.
#pragma once
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

#include "handpix/jpegcodec/Jpeg.h"
#include "tests/support/JpegPeer.h"

namespace jpegtest {

inline std::string TempPath(const char* name) {
    return "/tmp/handpix_jpeg_" + std::to_string(::getpid()) + "_" + name;
}

inline std::vector<std::uint8_t> ReadBytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

inline int Load(CJpeg& j, const std::vector<std::uint8_t>& file) { return j.LoadJPGFromMemory(file.data(), file.size()); }

inline std::vector<std::uint8_t> Pixels(const CJpeg& j) { return {j.m_pRGB, j.m_pRGB + j.m_nRGBSize}; }

// A decoded CJpeg picture (bottom-up B, G, R, padded rows) as packed top-down
// R, G, B, for comparing with the peer.
inline std::vector<std::uint8_t> TopDownRgb(const CJpeg& j) {
    const int w = j.m_nWidth, h = j.m_nHeight;
    const std::size_t S = 4 * ((3 * static_cast<std::size_t>(w) + 3) / 4);
    std::vector<std::uint8_t> out;
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* row = j.m_pRGB + (h - 1 - y) * S;
        for (int x = 0; x < w; ++x) out.insert(out.end(), {row[3 * x + 2], row[3 * x + 1], row[3 * x]});
    }
    return out;
}

// Top-down packed R, G, B as the encoder's input: B, G, R rows padded to 4 bytes.
inline std::vector<std::uint8_t> DibRows(const Picture& p) {
    const std::size_t S = 4 * ((3 * static_cast<std::size_t>(p.width) + 3) / 4);
    std::vector<std::uint8_t> out(S * p.height, 0);
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x)
            for (int k = 0; k < 3; ++k) out[y * S + 3 * x + k] = p.px[(static_cast<std::size_t>(y) * p.width + x) * 3 + 2 - k];
    return out;
}

// The file SaveJPG writes for the picture.
inline std::vector<std::uint8_t> Save(const Picture& p) {
    const std::string path = TempPath("enc.jpg");
    std::vector<std::uint8_t> dib = DibRows(p);
    CJpeg j;
    EXPECT_EQ(j.SaveJPG(const_cast<char*>(path.c_str()), p.width, p.height, dib.data()), 1);
    std::vector<std::uint8_t> b = ReadBytes(path);
    std::remove(path.c_str());
    return b;
}

}  // namespace jpegtest

// Runs the reader over bytes in memory and expands expected pictures, for the
// GIF tests.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

#include "handpix/imagefiles/GifReader.h"
#include "tests/support/GifWriter.h"

namespace handpix::test {

struct GifResult {
    bool ok = false;
    int width = -7, height = -7;  // untouched outputs keep these
    std::vector<std::uint8_t> rgb;
    std::string error;
    long streamPos = -1;  // where the reader left the stream
};

inline GifResult DecodeGifBytes(const std::vector<std::uint8_t>& bytes, const char* name = "mem.gif") {
    GifResult r;
    std::vector<std::uint8_t> copy = bytes;
    if (copy.empty()) copy.push_back(0);  // fmemopen wants at least one byte
    FILE* f = fmemopen(copy.data(), copy.size(), "rb");
    if (bytes.empty()) std::fgetc(f);  // then nothing is left to read
    CGifReader reader;
    unsigned char* pic = reader.ReadGifStream(f, name, &r.width, &r.height);
    r.error = reader.m_strError.str();
    r.streamPos = std::ftell(f);
    std::fclose(f);
    if (pic) {
        r.ok = true;
        r.rgb.assign(pic, pic + 3 * static_cast<std::size_t>(r.width) * static_cast<std::size_t>(r.height));
        delete[] pic;
    }
    return r;
}

// RGB rows of indices through a map (indices beyond it black).
inline std::vector<std::uint8_t> Expand(const std::vector<std::uint8_t>& indices, const std::vector<GifColour>& map) {
    std::vector<std::uint8_t> out;
    for (std::uint8_t i : indices) {
        const GifColour c = i < map.size() ? map[i] : GifColour{};
        out.insert(out.end(), {c.r, c.g, c.b});
    }
    return out;
}

// A map whose entries are all different, so a wrong index shows.
inline std::vector<GifColour> DistinctMap(int n, int seed = 0) {
    std::vector<GifColour> map;
    for (int i = 0; i < n; ++i)
        map.push_back({static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i),
                       static_cast<std::uint8_t>((i * 7 + seed) & 0xFF)});
    return map;
}

}  // namespace handpix::test

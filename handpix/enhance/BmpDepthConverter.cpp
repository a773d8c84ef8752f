#include "handpix/enhance/BmpDepthConverter.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "handpix/imagefiles/BmpReader.h"
#include "handpix/platform/core/File.h"

namespace handpix {

int ConvertBmpDepth(const char* path, int bits, BYTE* out, std::size_t outBytes) {
    if (bits != 32 || !path || !out) return 0;
    // The reader decodes every uncompressed depth through the palette; it only
    // hides whether the file stores its rows top row first.
    unsigned char head[26];
    std::FILE* f = handpix::OpenRegularFileStream(path);
    if (!f) return 0;
    std::size_t got = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    if (got != sizeof head) return 0;
    const bool topDown = (head[25] & 0x80) != 0;

    CBmpReader reader;
    int w = 0, h = 0;
    std::unique_ptr<unsigned char[]> rgb(reader.ReadBmp(path, &w, &h));
    if (!rgb || w <= 0 || h <= 0) return 0;
    const std::size_t width = static_cast<std::size_t>(w), rows = static_cast<std::size_t>(h);
    if (width * rows > outBytes / 4) return 0;
    for (std::size_t y = 0; y < rows; ++y) {
        // The reader gives the bottom row first; a top-down file stores it last.
        const unsigned char* src = rgb.get() + width * 3 * (topDown ? rows - 1 - y : y);
        BYTE* dst = out + width * 4 * y;
        for (std::size_t x = 0; x < width; ++x, src += 3, dst += 4) {
            dst[0] = src[0];
            dst[1] = src[1];
            dst[2] = src[2];
            dst[3] = 0;
        }
    }
    return 1;
}

}  // namespace handpix

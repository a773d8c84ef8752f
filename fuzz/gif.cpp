// The GIF reader over arbitrary bytes, through the stream entry the picture
// loader uses. Any input must give a picture or a failure text, never a crash.
// fuzz-link: handpix_imagefiles handpix_core
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "handpix/imagefiles/GifReader.h"

namespace {

// Pixels of the first image the reader would meet, found the way it scans
// (maps, extensions, stray bytes), or 0. Inputs declaring huge pictures are
// legal but spend the run filling hundreds of megabytes, so they are skipped;
// the refusal of sizes past the cap is a unit test.
long long DeclaredPixels(const std::uint8_t* d, std::size_t n) {
    if (n < 13) return 0;
    std::size_t i = 13;
    if (d[10] & 0x80) i += 3 * (std::size_t{2} << (d[10] & 7));
    while (i < n) {
        if (d[i] == 0x2C) {
            if (i + 9 >= n) return 0;
            return static_cast<long long>(d[i + 5] | (d[i + 6] << 8)) * (d[i + 7] | (d[i + 8] << 8));
        }
        if (d[i] == 0x21) {
            i += 2;
            while (i < n && d[i] != 0) i += 1 + d[i];
        }
        ++i;
    }
    return 0;
}

constexpr long long kFuzzMaxPixels = 1 << 22;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || DeclaredPixels(data, size) > kFuzzMaxPixels) return 0;
    FILE* f = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
    if (!f) return 0;
    CGifReader reader;
    int width = -1, height = -1;
    unsigned char* pic = reader.ReadGifStream(f, "fuzz.gif", &width, &height);
    std::fclose(f);
    if (pic) {
        if (width <= 0 || height <= 0) std::abort();
        // The buffer must be as large as the size says.
        volatile unsigned char last = pic[3 * static_cast<std::size_t>(width) * static_cast<std::size_t>(height) - 1];
        (void)last;
        delete[] pic;
    } else if (reader.m_strError.IsEmpty()) {
        std::abort();
    }
    return 0;
}

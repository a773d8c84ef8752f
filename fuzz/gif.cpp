// The GIF reader over arbitrary bytes, through the stream entry the picture
// loader uses. Any input must give a picture or a failure text, never a crash.
// fuzz-link: handpix_imagefiles handpix_core
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "fuzz/FuzzFiles.h"
#include "handpix/imagefiles/GifReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    handpix::fuzz::LimitPictures();
    if (size == 0) return 0;
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

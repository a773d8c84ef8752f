// fuzz-link: handpix_imagefiles handpix_core
// Arbitrary bytes through the libjpeg path of the picture-file loader.
#include <cstdint>

#include "fuzz/FuzzFiles.h"
#include "handpix/imagefiles/JpegReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    handpix::fuzz::LimitPictures();
    int w = 0, h = 0;
    delete[] handpix::ReadJpegMemory(data, size, &w, &h);
    return 0;
}

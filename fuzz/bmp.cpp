// fuzz-link: handpix_imagefiles handpix_core
// Arbitrary bytes through the BMP reader and the DIB packing behind LoadBMP.
#include <cstdint>
#include <cstdio>

#include "fuzz/FuzzFiles.h"
#include "handpix/imagefiles/BmpReader.h"
#include "handpix/imagefiles/DibRows.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    handpix::fuzz::LimitPictures();
    if (size == 0) return 0;
    FILE* f = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
    if (!f) return 0;
    CBmpReader reader;
    int w = 0, h = 0;
    unsigned char* packed = reader.ReadBmpStream(f, &w, &h);
    std::fclose(f);
    if (packed) {
        int stride = 0;
        unsigned char* dib = PackDibRows(packed, static_cast<unsigned>(w), h, &stride);
        delete[] dib;
        delete[] packed;
    }
    return 0;
}
